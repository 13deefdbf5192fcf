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

const char* verb(FileError::Operation operation) {
    switch (operation) {
    case FileError::Operation::createDirectory:
        return "create folder";
    case FileError::Operation::move:
        return "move";
    case FileError::Operation::remove:
        return "remove";
    case FileError::Operation::read:
        return "read";
    case FileError::Operation::write:
        return "write";
    case FileError::Operation::compare:
        return "compare";
    }
    return "access";
}

const char* pastParticiple(FileError::Operation operation) {
    switch (operation) {
    case FileError::Operation::createDirectory:
        return "created";
    case FileError::Operation::move:
        return "moved";
    case FileError::Operation::remove:
        return "removed";
    case FileError::Operation::read:
        return "read";
    case FileError::Operation::write:
        return "written";
    case FileError::Operation::compare:
        return "compared";
    }
    return "accessed";
}

} // namespace

const std::error_category& runErrorCategory() {
    static const RunErrorCategory category;
    return category;
}

std::error_code make_error_code(RunErrc e) {
    return {static_cast<int>(e), runErrorCategory()};
}

std::string FileError::description() const {
    std::string text = std::string("Cannot ") + verb(operation);
    for (std::size_t i = 0; i < paths.size(); ++i)
        text += (i == 0 ? " " : (operation == Operation::compare ? " with " : " to ")) +
                paths[i].string();
    text += ": " + code.message() + " (" + code.category().name() + " " +
            std::to_string(code.value()) + ")";
    return text;
}

std::string FileError::localizedDescription() const {
    const std::string name =
        paths.empty() ? std::string("file") : paths.front().filename().string();
    if (code.category() == runErrorCategory())
        return "\xE2\x80\x9C" + name + "\xE2\x80\x9D was left as it is. " + code.message() + ".";
    std::string text =
        "\xE2\x80\x9C" + name + "\xE2\x80\x9D could not be " + pastParticiple(operation);
    if (operation == Operation::move && paths.size() > 1)
        text += " to \xE2\x80\x9C" + paths[1].parent_path().filename().string() + "\xE2\x80\x9D";
    return text + ". " + code.message() + ".";
}

std::string errorLogLine(const std::string& message, const std::optional<FileError>& error) {
    return message + ", error: " + (error ? error->description() : std::string("(null)"));
}

} // namespace tolvane
