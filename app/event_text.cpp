#include "app/event_text.hpp"

#include "app/path_text.hpp"

namespace tolvane {

namespace fs = std::filesystem;

namespace {

QString text(const fs::path& path) {
    return toQString(path);
}

const fs::path& pathOf(const Event& event, std::size_t i = 0) {
    static const fs::path none;
    return i < event.paths.size() ? event.paths[i] : none;
}

QString nameOf(const Event& event) {
    return text(pathOf(event).filename());
}

QString folderOf(const Event& event) {
    return text(pathOf(event).parent_path());
}

QString keptNames(const Event& event) {
    QStringList names;
    for (std::size_t i = 1; i < event.paths.size(); ++i)
        names << text(event.paths[i].filename());
    return names.join(QStringLiteral(", "));
}

QString reasonOf(const Event& event) {
    if (!event.reason)
        return {};
    return text(event.reason->file) + QLatin1Char(' ') + EventText::keepReason(*event.reason);
}

} // namespace

QString EventText::reason(const std::error_code& code) {
    if (code.category() == runErrorCategory()) {
        switch (static_cast<RunErrc>(code.value())) {
        case RunErrc::contentDiffers:
            return tr("Its content differs from the copy kept in the site images folder");
        case RunErrc::destinationTaken:
            return tr("The site images folder already holds a different image under that name");
        case RunErrc::notUtf8:
            return tr("The file is not valid UTF-8 text");
        case RunErrc::changedSinceRun:
            return tr("It was changed after the optimization");
        case RunErrc::noCopyLeft:
            return tr("No file in the site holds its bytes any more");
        case RunErrc::outsideSite:
            return tr("Its path leads outside the site or through a link");
        case RunErrc::recordDamaged:
            return tr("The record of the optimization is damaged");
        case RunErrc::stillReferredTo:
            return tr("A file of the site still refers to it");
        case RunErrc::changedSinceRead:
            return tr("It was changed while the optimization ran; the change is kept");
        }
    }
    if (code.category() == keepErrorCategory()) {
        switch (static_cast<KeepErrc>(code.value())) {
        case KeepErrc::unreadableText:
            return tr("A text file of the site could not be read and may refer to it");
        case KeepErrc::notUtf8:
            return tr("A file that refers to it is not valid UTF-8 text");
        case KeepErrc::notWritable:
            return tr("A file that refers to it cannot be written back");
        case KeepErrc::unresolved:
            return tr("A file refers to it in a way that cannot be rewritten");
        case KeepErrc::chosen:
            return tr("It was chosen to stay where it is");
        }
    }
    return QString::fromStdString(code.message());
}

QString EventText::urlProblem(UrlProblem problem, const std::string& detail,
                              const std::error_code& error) {
    const QString said = QString::fromStdString(detail);
    switch (problem) {
    case UrlProblem::none:
        break;
    case UrlProblem::absolute:
        return tr("an absolute URL: where it leads on the published site is not known");
    case UrlProblem::rootRelative:
        return tr("a URL from the server's root: where the site lies on the server is not known");
    case UrlProblem::badPercent:
        return tr("a URL in a form not recognised (a % not followed by two hex digits)");
    case UrlProblem::encodedSlash:
        return tr("a URL in a form not recognised (an encoded / or NUL inside a name)");
    case UrlProblem::backslash:
        return tr("a URL in a form not recognised (a backslash inside the path)");
    case UrlProblem::baseOutside:
        return tr("the file's base is not known (its <base href=\"%1\"> leads outside the "
                  "site's folders)")
            .arg(said);
    case UrlProblem::scriptOfNoPage:
        return tr("the file's base is not known (a script outside every page folder that no "
                  "page loads)");
    case UrlProblem::scriptOfPages:
        return tr("the file's base is not known (a script loaded by pages in different folders)");
    case UrlProblem::leadsToNothing:
        return tr("leads to nothing here; a script may complete it at run time");
    case UrlProblem::nameInside:
        return tr("the name %1 stands in a form not recognised").arg(said);
    case UrlProblem::unexaminable:
        return reason(error);
    }
    return {};
}

QString EventText::keepReason(const KeepReason& why) {
    using Cause = KeepReason::Cause;
    switch (why.cause) {
    case Cause::unreadable:
        return tr("could not be read (%1), so it may refer to this image").arg(reason(why.error));
    case Cause::wideText:
        return tr("is not UTF-8 text (UTF-16, UTF-32 or NUL bytes) and may show this image");
    case Cause::notUtf8:
        return tr("is not valid UTF-8 text");
    case Cause::throughLink:
        return tr("is reached through a symbolic link; never written through a link");
    case Cause::unexaminable:
        return tr("cannot be written back: cannot be examined: %1").arg(reason(why.error));
    case Cause::readOnly:
        return tr("cannot be written back: the file is read-only");
    case Cause::folderNotWritable:
        return tr("cannot be written back: its folder cannot be written: %1")
            .arg(reason(why.error));
    case Cause::changed:
        return tr("the file changed since it was read (line %1)").arg(why.line);
    case Cause::noRelativePath:
        return tr("line %1: \"%2\": no relative path leads to %3")
            .arg(QString::number(why.line), QString::fromStdString(why.text),
                 QString::fromStdString(why.detail));
    case Cause::reference:
        return tr("line %1: \"%2\": %3")
            .arg(QString::number(why.line), QString::fromStdString(why.text),
                 urlProblem(why.problem, why.detail, why.error));
    case Cause::chosen:
        return tr("was chosen to stay where it is");
    }
    return {};
}

QString EventText::siteBusyMessage(const fs::path& root) {
    return tr("Another Tolvane run or undo is working on %1; try again when it has finished.")
        .arg(text(root));
}

QString EventText::describe(const FileError& error) {
    const QString first = error.paths.empty() ? QString() : text(error.paths[0]);
    const QString second = error.paths.size() > 1 ? text(error.paths[1]) : QString();
    const bool two = error.paths.size() > 1;
    // A step names its source, then its destination if it has one.
    QString step;
    switch (error.operation) {
    case FileError::Operation::createDirectory:
        step = two ? tr("Cannot create folder %1 to %2").arg(first, second)
                   : tr("Cannot create folder %1").arg(first);
        break;
    case FileError::Operation::move:
        step =
            two ? tr("Cannot move %1 to %2").arg(first, second) : tr("Cannot move %1").arg(first);
        break;
    case FileError::Operation::remove:
        step = two ? tr("Cannot remove %1 to %2").arg(first, second)
                   : tr("Cannot remove %1").arg(first);
        break;
    case FileError::Operation::read:
        step =
            two ? tr("Cannot read %1 to %2").arg(first, second) : tr("Cannot read %1").arg(first);
        break;
    case FileError::Operation::write:
        step =
            two ? tr("Cannot write %1 to %2").arg(first, second) : tr("Cannot write %1").arg(first);
        break;
    case FileError::Operation::compare:
        step = two ? tr("Cannot compare %1 with %2").arg(first, second)
                   : tr("Cannot compare %1").arg(first);
        break;
    }
    return QStringLiteral("%1: %2 (%3 %4)")
        .arg(step, reason(error.code), QString::fromUtf8(error.code.category().name()))
        .arg(error.code.value());
}

QString EventText::explain(const FileError& error) {
    const QString file = error.paths.empty() ? tr("file") : text(error.paths.front().filename());
    const QString why = reason(error.code);
    if (error.code.category() == runErrorCategory())
        return tr("\u201C%1\u201D was left as it is. %2.").arg(file, why);
    switch (error.operation) {
    case FileError::Operation::createDirectory:
        return tr("\u201C%1\u201D could not be created. %2.").arg(file, why);
    case FileError::Operation::move:
        if (error.paths.size() > 1)
            return tr("\u201C%1\u201D could not be moved to \u201C%2\u201D. %3.")
                .arg(file, text(error.paths[1].parent_path().filename()), why);
        return tr("\u201C%1\u201D could not be moved. %2.").arg(file, why);
    case FileError::Operation::remove:
        return tr("\u201C%1\u201D could not be removed. %2.").arg(file, why);
    case FileError::Operation::read:
        return tr("\u201C%1\u201D could not be read. %2.").arg(file, why);
    case FileError::Operation::write:
        return tr("\u201C%1\u201D could not be written. %2.").arg(file, why);
    case FileError::Operation::compare:
        return tr("\u201C%1\u201D could not be compared. %2.").arg(file, why);
    }
    return why;
}

QString EventText::failureMessage(const Event& event) {
    const QString path = text(pathOf(event));
    switch (event.kind) {
    case EventKind::siteBusy:
        return siteBusyMessage(pathOf(event));
    case EventKind::lockFailed:
        return tr("Unable to lock the site");
    case EventKind::recordFailed:
        return tr("Unable to record the run for undo");
    case EventKind::imagesFolderFailed:
        return tr("Unable to create images folder");
    case EventKind::placeFailed:
        return tr("Unable to move %1 to the site images folder").arg(nameOf(event));
    case EventKind::removeFailed:
        return tr("Unable to remove %1 from %2").arg(nameOf(event), folderOf(event));
    case EventKind::updateFailed:
        return tr("Unable to update %1").arg(path);
    case EventKind::writeBackFailed:
        return tr("Unable to write back to file: %1").arg(path);
    case EventKind::copyKeptWarning:
        return tr("Keeping %1 in %2: %3").arg(nameOf(event), folderOf(event), reasonOf(event));
    case EventKind::recordUnreadable:
        return tr("Unable to read the record of the optimization");
    case EventKind::recordIncomplete:
        return tr("Unable to read every record of the optimization");
    case EventKind::undoNotRecorded:
        return tr("Unable to record the undo");
    case EventKind::restoreFailed:
        return tr("Unable to restore %1 to %2").arg(nameOf(event), folderOf(event));
    case EventKind::fileRestoreFailed:
        return tr("Unable to restore %1").arg(path);
    case EventKind::keptForMissingCopy:
        return tr("Unable to restore the rewritten files: a removed copy could not be put back");
    case EventKind::keptForMissingImage:
        return tr("Unable to restore the rewritten files: their earlier text refers to a file "
                  "that is missing");
    case EventKind::folderRemoveFailed:
        return tr("Unable to remove folder %1").arg(path);
    default:
        return {};
    }
}

QStringList EventText::logLines(const Event& event) {
    if (isFailure(event.kind))
        return {QStringLiteral("%1, error: %2")
                    .arg(failureMessage(event),
                         event.failure ? describe(*event.failure) : QStringLiteral("(null)"))};
    const QString path = text(pathOf(event));
    switch (event.kind) {
    case EventKind::runStarted:
        return {tr("Starting optimization - calculate number of actions")};
    case EventKind::imagesFolderCreating:
        return {tr("Creating images folder in root")};
    case EventKind::leftoverRemoving:
        return {tr("Removing leftover temporary file: %1").arg(path)};
    case EventKind::imagePlacing:
        return {
            tr("Moving image file: %1 to folder: %2").arg(nameOf(event), text(pathOf(event, 1))),
            path, text(pathOf(event, 1))};
    case EventKind::fileUpdating:
        return {tr("Updating file: %1 to use moved image: %2").arg(path, keptNames(event))};
    case EventKind::fileMissing:
        return {tr("HTML/js file: %1 doesn't exist").arg(path)};
    case EventKind::fileKept:
        return {tr("Keeping %1: %2")
                    .arg(path, event.reason ? EventText::keepReason(*event.reason) : QString())};
    case EventKind::copyKept:
        return {tr("Keeping %1: %2").arg(path, reasonOf(event))};
    case EventKind::copyKeptForFile:
        return {tr("Keeping %1: a file that refers to it could not be rewritten").arg(path)};
    case EventKind::copyRemoving:
        return {tr("Removing duplicate file: %1 from %2").arg(nameOf(event), folderOf(event))};
    case EventKind::runCancelled:
        return {tr("Optimization cancelled: every page still shows its images")};
    case EventKind::undoStarted:
        return {tr("Undoing the optimization of %1").arg(QString::fromStdString(event.detail))};
    case EventKind::copyRestoring:
        return {tr("Restoring duplicate file: %1 to %2").arg(nameOf(event), folderOf(event))};
    case EventKind::fileRestoring:
        return {tr("Restoring file: %1").arg(path)};
    case EventKind::rewrittenKept:
        return {tr("Keeping rewritten file: %1").arg(path)};
    case EventKind::addedKept:
        return {tr("Keeping added file: %1").arg(path)};
    case EventKind::addedRemoving:
        return {tr("Removing added file: %1").arg(path)};
    case EventKind::addedFolderRemoving:
        return {tr("Removing added folder: %1").arg(path)};
    case EventKind::folderKept:
        return {tr("Keeping folder, it holds files the optimization did not add: %1").arg(path)};
    default:
        return {};
    }
}

} // namespace tolvane
