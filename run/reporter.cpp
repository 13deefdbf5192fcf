#include "run/reporter.hpp"

namespace tolvane {

namespace {

class RunErrorCategory : public std::error_category {
  public:
    const char* name() const noexcept override { return "tolvane"; }
    // A short technical name; people read the sentences the command line and the window make.
    std::string message(int value) const override {
        switch (static_cast<RunErrc>(value)) {
        case RunErrc::contentDiffers:
            return "content differs";
        case RunErrc::destinationTaken:
            return "destination taken";
        case RunErrc::notUtf8:
            return "not UTF-8";
        case RunErrc::changedSinceRun:
            return "changed since run";
        case RunErrc::noCopyLeft:
            return "no copy left";
        case RunErrc::outsideSite:
            return "outside site";
        case RunErrc::recordDamaged:
            return "record damaged";
        case RunErrc::stillReferredTo:
            return "still referred to";
        case RunErrc::changedSinceRead:
            return "changed since read";
        }
        return "unknown";
    }
};

} // namespace

const std::error_category& runErrorCategory() {
    static const RunErrorCategory category;
    return category;
}

std::error_code make_error_code(RunErrc e) {
    return {static_cast<int>(e), runErrorCategory()};
}

bool isFailure(EventKind kind) {
    return kind >= EventKind::siteBusy && kind <= EventKind::folderRemoveFailed;
}

} // namespace tolvane
