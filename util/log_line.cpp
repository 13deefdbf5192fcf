#include "util/log_line.hpp"

namespace tolvane {

std::string printableLogLine(std::string_view line) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string shown;
    shown.reserve(line.size());
    for (const char c : line) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte == '\n') {
            shown += "\\n";
        } else if (byte == '\r') {
            shown += "\\r";
        } else if ((byte < 0x20 && byte != '\t') || byte == 0x7f) {
            shown += "\\x";
            shown += digits[byte >> 4];
            shown += digits[byte & 15];
        } else {
            shown += c;
        }
    }
    return shown;
}

} // namespace tolvane
