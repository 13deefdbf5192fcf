#include "cli/event_text.hpp"

namespace tolvane::cli {

namespace fs = std::filesystem;

namespace {

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

const fs::path& path(const Event& event, std::size_t i = 0) {
    static const fs::path none;
    return i < event.paths.size() ? event.paths[i] : none;
}

std::string name(const Event& event) {
    return path(event).filename().string();
}

std::string folder(const Event& event) {
    return path(event).parent_path().string();
}

std::string reasonText(const Event& event) {
    return event.reason ? event.reason->file.string() + " " + keepReasonText(*event.reason)
                        : std::string();
}

// The kept files a rewritten file now leads to.
std::string keptNames(const Event& event) {
    std::string names;
    for (std::size_t i = 1; i < event.paths.size(); ++i)
        names += (i > 1 ? ", " : "") + event.paths[i].filename().string();
    return names;
}

// The one line of an event that is not a failure; empty for the end events.
std::string line(const Event& event) {
    const std::string p = path(event).string();
    switch (event.kind) {
    case EventKind::runStarted:
        return "Starting optimization - calculate number of actions";
    case EventKind::imagesFolderCreating:
        return "Creating images folder in root";
    case EventKind::leftoverRemoving:
        return "Removing leftover temporary file: " + p;
    case EventKind::imagePlacing:
        return "Moving image file: " + name(event) + " to folder: " + path(event, 1).string();
    case EventKind::fileUpdating:
        return "Updating file: " + p + " to use moved image: " + keptNames(event);
    case EventKind::fileMissing:
        return "HTML/js file: " + p + " doesn't exist";
    case EventKind::fileKept:
        return "Keeping " + p + ": " + (event.reason ? keepReasonText(*event.reason) : "");
    case EventKind::copyKept:
        return "Keeping " + p + ": " + reasonText(event);
    case EventKind::copyKeptForFile:
        return "Keeping " + p + ": a file that refers to it could not be rewritten";
    case EventKind::copyRemoving:
        return "Removing duplicate file: " + name(event) + " from " + folder(event);
    case EventKind::runCancelled:
        return "Optimization cancelled: every page still shows its images";
    case EventKind::undoStarted:
        return "Undoing the optimization of " + event.detail;
    case EventKind::copyRestoring:
        return "Restoring duplicate file: " + name(event) + " to " + folder(event);
    case EventKind::fileRestoring:
        return "Restoring file: " + p;
    case EventKind::rewrittenKept:
        return "Keeping rewritten file: " + p;
    case EventKind::addedKept:
        return "Keeping added file: " + p;
    case EventKind::addedRemoving:
        return "Removing added file: " + p;
    case EventKind::addedFolderRemoving:
        return "Removing added folder: " + p;
    case EventKind::folderKept:
        return "Keeping folder, it holds files the optimization did not add: " + p;
    default:
        return {};
    }
}

} // namespace

std::string failureMessage(const Event& event) {
    const std::string p = path(event).string();
    switch (event.kind) {
    case EventKind::siteBusy:
        return siteBusyMessage(path(event));
    case EventKind::lockFailed:
        return "Unable to lock the site";
    case EventKind::recordFailed:
        return "Unable to record the run for undo";
    case EventKind::imagesFolderFailed:
        return "Unable to create images folder";
    case EventKind::placeFailed:
        return "Unable to move " + name(event) + " to the site images folder";
    case EventKind::removeFailed:
        return "Unable to remove " + name(event) + " from " + folder(event);
    case EventKind::updateFailed:
        return "Unable to update " + p;
    case EventKind::writeBackFailed:
        return "Unable to write back to file: " + p;
    case EventKind::copyKeptWarning:
        return "Keeping " + name(event) + " in " + folder(event) + ": " + reasonText(event);
    case EventKind::recordUnreadable:
        return "Unable to read the record of the optimization";
    case EventKind::recordIncomplete:
        return "Unable to read every record of the optimization";
    case EventKind::undoNotRecorded:
        return "Unable to record the undo";
    case EventKind::restoreFailed:
        return "Unable to restore " + name(event) + " to " + folder(event);
    case EventKind::fileRestoreFailed:
        return "Unable to restore " + p;
    case EventKind::keptForMissingCopy:
        return "Unable to restore the rewritten files: a removed copy could not be put back";
    case EventKind::keptForMissingImage:
        return "Unable to restore the rewritten files: their earlier text refers to a file that "
               "is missing";
    case EventKind::folderRemoveFailed:
        return "Unable to remove folder " + p;
    default:
        return {};
    }
}

std::vector<std::string> logLines(const Event& event) {
    if (isFailure(event.kind))
        return {errorLogLine(failureMessage(event), event.failure)};
    if (event.kind == EventKind::finished || event.kind == EventKind::completed)
        return {};
    if (event.kind == EventKind::imagePlacing)
        return {line(event), path(event).string(), path(event, 1).string()};
    return {line(event)};
}

std::string urlProblemText(UrlProblem problem, const std::string& detail,
                           const std::error_code& error) {
    switch (problem) {
    case UrlProblem::none:
        break;
    case UrlProblem::absolute:
        return "an absolute URL: where it leads on the published site is not known";
    case UrlProblem::rootRelative:
        return "a URL from the server's root: where the site lies on the server is not known";
    case UrlProblem::badPercent:
        return "a URL in a form not recognised (a % not followed by two hex digits)";
    case UrlProblem::encodedSlash:
        return "a URL in a form not recognised (an encoded / or NUL inside a name)";
    case UrlProblem::backslash:
        return "a URL in a form not recognised (a backslash inside the path)";
    case UrlProblem::baseOutside:
        return "the file's base is not known (its <base href=\"" + detail +
               "\"> leads outside the site's folders)";
    case UrlProblem::scriptOfNoPage:
        return "the file's base is not known (a script outside every page folder that no page "
               "loads)";
    case UrlProblem::scriptOfPages:
        return "the file's base is not known (a script loaded by pages in different folders)";
    case UrlProblem::leadsToNothing:
        return "leads to nothing here; a script may complete it at run time";
    case UrlProblem::nameInside:
        return "the name " + detail + " stands in a form not recognised";
    case UrlProblem::unexaminable:
        return errorReason(error);
    }
    return {};
}

std::string keepReasonText(const KeepReason& reason) {
    using Cause = KeepReason::Cause;
    switch (reason.cause) {
    case Cause::unreadable:
        return "could not be read (" + errorReason(reason.error) +
               "), so it may refer to this image";
    case Cause::wideText:
        return "is not UTF-8 text (UTF-16, UTF-32 or NUL bytes) and may show this image";
    case Cause::notUtf8:
        return "is not valid UTF-8 text";
    case Cause::throughLink:
        return "is reached through a symbolic link; never written through a link";
    case Cause::unexaminable:
        return "cannot be written back: cannot be examined: " + errorReason(reason.error);
    case Cause::readOnly:
        return "cannot be written back: the file is read-only";
    case Cause::folderNotWritable:
        return "cannot be written back: its folder cannot be written: " + errorReason(reason.error);
    case Cause::changed:
        return "the file changed since it was read (line " + std::to_string(reason.line) + ")";
    case Cause::noRelativePath:
        return "line " + std::to_string(reason.line) + ": \"" + reason.text +
               "\": no relative path leads to " + reason.detail;
    case Cause::reference:
        return "line " + std::to_string(reason.line) + ": \"" + reason.text +
               "\": " + urlProblemText(reason.problem, reason.detail, reason.error);
    case Cause::chosen:
        return "was chosen to stay where it is";
    }
    return {};
}

std::string errorReason(const std::error_code& code) {
    if (code.category() == runErrorCategory()) {
        switch (static_cast<RunErrc>(code.value())) {
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
    }
    if (code.category() == keepErrorCategory()) {
        switch (static_cast<KeepErrc>(code.value())) {
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
    }
    return code.message();
}

std::string describe(const FileError& error) {
    std::string text = std::string("Cannot ") + verb(error.operation);
    for (std::size_t i = 0; i < error.paths.size(); ++i)
        text += (i == 0 ? " "
                        : (error.operation == FileError::Operation::compare ? " with " : " to ")) +
                error.paths[i].string();
    text += ": " + errorReason(error.code) + " (" + error.code.category().name() + " " +
            std::to_string(error.code.value()) + ")";
    return text;
}

std::string explain(const FileError& error) {
    const std::string file =
        error.paths.empty() ? std::string("file") : error.paths.front().filename().string();
    if (error.code.category() == runErrorCategory())
        return "\xE2\x80\x9C" + file + "\xE2\x80\x9D was left as it is. " +
               errorReason(error.code) + ".";
    std::string text =
        "\xE2\x80\x9C" + file + "\xE2\x80\x9D could not be " + pastParticiple(error.operation);
    if (error.operation == FileError::Operation::move && error.paths.size() > 1)
        text +=
            " to \xE2\x80\x9C" + error.paths[1].parent_path().filename().string() + "\xE2\x80\x9D";
    return text + ". " + errorReason(error.code) + ".";
}

std::string siteBusyMessage(const fs::path& root) {
    return "Another Tolvane run or undo is working on " + root.string() +
           "; try again when it has finished.";
}

std::string errorLogLine(const std::string& message, const std::optional<FileError>& error) {
    return message + ", error: " + (error ? describe(*error) : std::string("(null)"));
}

} // namespace tolvane::cli
