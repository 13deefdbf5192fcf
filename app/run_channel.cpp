#include "app/run_channel.hpp"

#include "app/event_text.hpp"
#include "run/page_rewrite.hpp"

namespace tolvane {

std::optional<ErrorText> errorText(const std::optional<FileError>& error) {
    if (!error)
        return std::nullopt;
    return ErrorText{EventText::describe(*error), EventText::explain(*error)};
}

void CallbackReporter::report(const Event& event) {
    if (isFailure(event.kind)) {
        sheet_(EventText::failureMessage(event), errorText(event.failure));
    } else {
        for (const QString& line : EventText::logLines(event))
            log_(line);
    }
}

void rewritePage(const std::filesystem::path& page, const std::string& imageName,
                 const std::filesystem::path& folder, const std::filesystem::path& root,
                 FileManager& files, const std::function<void(const QString& line)>& log,
                 const CallbackReporter::Sheet& sheet) {
    CallbackReporter reporter(log, sheet);
    const RewriteTarget target{imagesFolderReference(folder, root), imageName};
    processFile(page, imageName, folder, target, files, reporter);
}

void ChannelReporter::report(const Event& event) {
    if (event.kind == EventKind::completed) {
        emit channel_.runCompleted();
    } else if (isFailure(event.kind)) {
        emit channel_.errorSheet(EventText::failureMessage(event), errorText(event.failure));
    } else {
        for (const QString& line : EventText::logLines(event))
            emit channel_.logLine(line);
    }
}

void ChannelReporter::log(const QString& line) {
    emit channel_.logLine(line);
}

void ChannelReporter::failed(const QString& message, const FileError& error) {
    emit channel_.errorSheet(message, errorText(error));
}

} // namespace tolvane
