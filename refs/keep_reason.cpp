#include "refs/keep_reason.hpp"

namespace tolvane {

namespace {

class KeepErrorCategory : public std::error_category {
  public:
    const char* name() const noexcept override { return "tolvane-references"; }
    std::string message(int value) const override {
        switch (static_cast<KeepErrc>(value)) {
        case KeepErrc::unreadableText:
            return "A text file of the site could not be read and may refer to it";
        case KeepErrc::notUtf8:
            return "A file that refers to it is not valid UTF-8 text";
        case KeepErrc::notWritable:
            return "A file that refers to it cannot be written back";
        case KeepErrc::unresolved:
            return "A file refers to it in a way that cannot be rewritten";
        case KeepErrc::chosen:
            return "It was chosen to stay where it is";
        }
        return "Unknown error";
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
