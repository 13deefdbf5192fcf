#include "app/run_channel.hpp"

#include "run/page_rewrite.hpp"

#include <QCoreApplication>

namespace tolvane {

std::string localize(std::string_view english) {
    return QCoreApplication::translate("tolvane::TolvaneAppDelegate", std::string(english).c_str())
        .toStdString();
}

std::optional<ErrorText> errorText(const std::optional<FileError>& error) {
    if (!error)
        return std::nullopt;
    return ErrorText{QString::fromStdString(error->description()),
                     QString::fromStdString(error->localizedDescription())};
}

void CallbackReporter::popupErrorMessage(const std::string& message,
                                         const std::optional<FileError>& error) {
    sheet_(QString::fromStdString(message), errorText(error));
}

void rewritePage(const std::filesystem::path& page, const std::string& imageName,
                 const std::filesystem::path& folder, const std::filesystem::path& root,
                 FileManager& files, const std::function<void(const QString& line)>& log,
                 const CallbackReporter::Sheet& sheet) {
    CallbackReporter reporter(log, sheet);
    const RewriteTarget target{imagesFolderReference(folder, root), imageName};
    processFile(page, imageName, folder, target, files, reporter, localize);
}

void ChannelReporter::log(const std::string& line) {
    emit channel_.logLine(QString::fromStdString(line));
}

void ChannelReporter::popupErrorMessage(const std::string& message,
                                        const std::optional<FileError>& error) {
    emit channel_.errorSheet(QString::fromStdString(message), errorText(error));
}

void ChannelReporter::progressSetup(double maximum) {
    emit channel_.progressSetUp(maximum);
}

void ChannelReporter::progressStep() {
    emit channel_.progressStepped();
}

void ChannelReporter::runCompleted() {
    emit channel_.runCompleted();
}

} // namespace tolvane
