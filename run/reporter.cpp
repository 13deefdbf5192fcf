#include "run/reporter.hpp"

namespace tolvane {

namespace {

class RunErrorCategory : public std::error_category {
  public:
    const char* name() const noexcept override { return "tolvane"; }
    std::string message(int value) const override {
        switch (static_cast<RunErrc>(value)) {
        case RunErrc::contentDiffers:
            return "Its content differs from the copy kept in the site images folder";
        case RunErrc::destinationTaken:
            return "The site images folder already holds a different image under that name";
        case RunErrc::notUtf8:
            return "The file is not valid UTF-8 text";
        case RunErrc::changedSinceRun:
            return "It was changed after the optimization";
        case RunErrc::noCopyLeft:
            return "No file in the site holds its bytes any more";
        case RunErrc::outsideSite:
            return "Its path leads outside the site or through a link";
        case RunErrc::recordDamaged:
            return "The record of the optimization is damaged";
        case RunErrc::stillReferredTo:
            return "A file of the site still refers to it";
        case RunErrc::changedSinceRead:
            return "It was changed while the optimization ran; the change is kept";
        }
        return "Unknown error";
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
