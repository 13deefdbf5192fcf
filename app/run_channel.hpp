#pragma once

#include "app/plan_model.hpp"
#include "app/run_summary.hpp"
#include "run/file_manager.hpp"
#include "run/reporter.hpp"

#include <QMetaType>
#include <QObject>
#include <QString>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace tolvane {

// What a failed file step reports: its description for the log, its localized description for
// the sheet.
struct ErrorText {
    QString description;
    QString localizedDescription;
};

// What a job on the worker thread asks of the window. Its signals are emitted on the worker
// and connected queued to the window's thread, so the requests arrive there in the order made.
// This is the one place where the core's reports become Qt signals.
class RunChannel : public QObject {
    Q_OBJECT

  signals:
    void logLine(const QString& line);
    void errorSheet(const QString& message, const std::optional<tolvane::ErrorText>& error);
    void progressSetUp(double maximum);
    void progressStepped();
    void runCompleted();
    // What the run did, before the re-scan's result.
    void summarized(const tolvane::RunSummary& summary);
    // A scan's result: the one asked for, or the one after a run or an undo.
    void scanned(const std::shared_ptr<const tolvane::ScanDisplay>& shown);
    void ended(bool completed);
};

// A core reporter whose every call becomes the channel's signal.
class ChannelReporter : public RunReporter {
  public:
    explicit ChannelReporter(RunChannel& channel) : channel_(channel) {}
    void log(const std::string& line) override;
    void popupErrorMessage(const std::string& message,
                           const std::optional<FileError>& error) override;
    void progressSetup(double maximum) override;
    void progressStep() override;
    void progressStop() override {}
    void runCompleted() override;

  private:
    RunChannel& channel_;
};

// A core reporter on the window's thread: its lines and sheets go straight to the window.
class CallbackReporter : public RunReporter {
  public:
    using Sheet = std::function<void(const QString& message, const std::optional<ErrorText>&)>;
    CallbackReporter(std::function<void(const QString& line)> log, Sheet sheet)
        : log_(std::move(log)), sheet_(std::move(sheet)) {}
    void log(const std::string& line) override { log_(QString::fromStdString(line)); }
    void popupErrorMessage(const std::string& message,
                           const std::optional<FileError>& error) override;
    void progressSetup(double) override {}
    void progressStep() override {}
    void progressStop() override {}
    void runCompleted() override {}

  private:
    std::function<void(const QString& line)> log_;
    Sheet sheet_;
};

// One page or page script rewritten, on the window's thread, to use the site images folder of
// root for imageName; its log lines and sheets go to log and sheet.
void rewritePage(const std::filesystem::path& page, const std::string& imageName,
                 const std::filesystem::path& folder, const std::filesystem::path& root,
                 FileManager& files, const std::function<void(const QString& line)>& log,
                 const CallbackReporter::Sheet& sheet);

// The core's texts in the window's language, looked up by their English text.
std::string localize(std::string_view english);
std::optional<ErrorText> errorText(const std::optional<FileError>& error);

} // namespace tolvane

Q_DECLARE_METATYPE(std::optional<tolvane::ErrorText>)
Q_DECLARE_METATYPE(std::shared_ptr<const tolvane::ScanDisplay>)
