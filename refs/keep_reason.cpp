#include "refs/keep_reason.hpp"

namespace tolvane {

namespace {

class KeepErrorCategory : public std::error_category {
  public:
    const char* name() const noexcept override { return "tolvane-references"; }
    // A short technical name; people read the sentences the command line and the window make.
    std::string message(int value) const override {
        switch (static_cast<KeepErrc>(value)) {
        case KeepErrc::unreadableText:
            return "unreadable text";
        case KeepErrc::notUtf8:
            return "not UTF-8";
        case KeepErrc::notWritable:
            return "not writable";
        case KeepErrc::unresolved:
            return "unresolved";
        case KeepErrc::chosen:
            return "chosen";
        }
        return "unknown";
    }
};

} // namespace

const std::error_category& keepErrorCategory() {
    static const KeepErrorCategory category;
    return category;
}

std::error_code make_error_code(KeepErrc e) {
    return {static_cast<int>(e), keepErrorCategory()};
}

} // namespace tolvane
