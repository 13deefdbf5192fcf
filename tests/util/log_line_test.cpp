#include "util/log_line.hpp"

#include <gtest/gtest.h>

#include <string>

namespace tolvane {
namespace {

using namespace std::string_literals;

TEST(PrintableLogLine, EscapesLineBreaksAndControlsKeepsTheRest) {
    const struct {
        std::string line, shown;
    } cases[] = {
        {"", ""},
        {"Removing duplicate file: logo.png from /s/A_files",
         "Removing duplicate file: logo.png from /s/A_files"},
        {"Updating file: /s/two\nlines.html", "Updating file: /s/two\\nlines.html"},
        {"a\r\nb", "a\\r\\nb"},
        {"\n\n", "\\n\\n"},
        {"tab\tstays", "tab\tstays"},
        {"back\\slash and \\n as typed", "back\\slash and \\n as typed"},
        {"bell\a esc\x1b[31m del\x7f", "bell\\x07 esc\\x1b[31m del\\x7f"},
        {"nul\0end"s, "nul\\x00end"},
        {"\x1f\x20", "\\x1f "},
        {"caf\xC3\xA9 and a stray \xE9 byte", "caf\xC3\xA9 and a stray \xE9 byte"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(printableLogLine(c.line), c.shown) << c.line;
}

TEST(PrintableLogLine, NoByteValueLeavesAControlCharacter) {
    for (int value = 0; value < 256; ++value) {
        const char byte = static_cast<char>(value);
        const std::string shown = printableLogLine("x"s + byte + "y");
        for (const char c : shown) {
            const auto u = static_cast<unsigned char>(c);
            EXPECT_TRUE(u == '\t' || (u >= 0x20 && u != 0x7f)) << "byte " << value;
        }
        const bool kept = value == '\t' || (value >= 0x20 && value != 0x7f);
        if (kept)
            EXPECT_EQ(shown, "x"s + byte + "y") << "byte " << value;
        else
            EXPECT_EQ(shown.size(), value == '\n' || value == '\r' ? 4u : 6u) << "byte " << value;
    }
}

} // namespace
} // namespace tolvane
