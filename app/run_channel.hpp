#pragma once

#include "app/plan_model.hpp"
#include "app/preview_dialog.hpp"
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
    void runCompleted();
    // What the run did, before the re-scan's result.
    void summarized(const tolvane::RunSummary& summary);
    // A scan's result: the one asked for, or the one after a run or an undo.
    void scanned(const std::shared_ptr<const tolvane::ScanDisplay>& shown);
    // The changes a run would make, listed for the preview.
    void previewed(const std::shared_ptr<const tolvane::PreviewList>& list);
    void ended(bool completed);
};

// A core reporter whose every event becomes the channel's signal: a failure a sheet, the
// completion runCompleted, anything else its log lines.
class ChannelReporter : public RunReporter {
  public:
    explicit ChannelReporter(RunChannel& channel) : channel_(channel) {}
    void report(const Event& event) override;
    // The window's own lines and sheets, beside the core's events.
    void log(const QString& line);
    void failed(const QString& message, const FileError& error);

  private:
    RunChannel& channel_;
};

// A core reporter on the window's thread: its lines and sheets go straight to the window.
class CallbackReporter : public RunReporter {
  public:
    using Sheet = std::function<void(const QString& message, const std::optional<ErrorText>&)>;
    CallbackReporter(std::function<void(const QString& line)> log, Sheet sheet)
        : log_(std::move(log)), sheet_(std::move(sheet)) {}
    void report(const Event& event) override;

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

std::optional<ErrorText> errorText(const std::optional<FileError>& error);

} // namespace tolvane

Q_DECLARE_METATYPE(std::optional<tolvane::ErrorText>)
Q_DECLARE_METATYPE(std::shared_ptr<const tolvane::ScanDisplay>)
