#pragma once

#include "app/log_view.hpp"
#include "app/main_window.hpp"
#include "app/plan_model.hpp"
#include "app/result_tables.hpp"
#include "app/run_channel.hpp"
#include "app/run_summary.hpp"
#include "run/file_manager.hpp"
#include "run/run_journal.hpp"

#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QMessageBox;
class QTableView;

namespace tolvane {

class ProgressView;
class Sheets;
class SiteChooser;
class Worker;
class Progress;

// The controller of the main window: opens a site, shows its duplicate images, and optimizes it
// on the worker after the user confirmed. A state machine:
//
//   Idle --open--> Scanning --result--> Ready --confirm--> Running --end--> Ready
//                  Scanning --cancel--> back where it was   Running --cancel--> Cancelling --end-->
//                  Ready
//   Ready --undo--> Undoing --end--> Ready
//   Ready --preview--> Previewing --list shown or cancel--> Ready
//
// It owns the window and everything the window shows for the life of the application.
class TolvaneAppDelegate : public QObject {
    Q_OBJECT

  public:
    enum class State { Idle, Scanning, Ready, Running, Cancelling, Undoing, Previewing };
    // Makes the file manager of each run and page rewrite; the real file system by default.
    using FileManagerFactory = std::function<std::unique_ptr<FileManager>()>;

    // Builds the main window and connects its controls.
    explicit TolvaneAppDelegate(QObject* parent = nullptr);
    // Cancels a scan still working and waits for it; a run is waited for.
    ~TolvaneAppDelegate() override;

    void applicationDidFinishLaunching();
    // Shows the copies of the group selected in imagesTable.
    void selectImage() { tables_->selectImage(); }
    // Scans root on the worker, with its progress in the header, then shows the result.
    void traverseWebsite(const std::filesystem::path& root);
    void openWebsite();
    // A folder chosen, dropped or named at start: scanned when it is a website root, else a
    // sheet that names it (and offers a child folder that is a website). Ignored while busy.
    void openFolder(const QString& folder);
    // F5: scans the site on display again.
    void rescan();
    void log(const QString& text);
    void popupErrorMessage(const QString& message, const std::optional<ErrorText>& error);
    // Rewrites one page or page script to use the site images folder for imageName.
    void processFile(const QString& path, const QString& imageName, const QString& folder);
    void saveWebsite();
    void overwriteAlertDidEnd(QMessageBox* alert, qint64 returnCode);
    // Preview Changes: the worker lists what a run of the plan on display would do, then a
    // window of its own shows the list.
    void previewChanges();
    // Cancel (the button, Escape): a scan stops at once and the previous result stays, so does
    // a preview being listed; a run
    // stops at its next point where every page still shows its images, then what it changed
    // is put back.
    void cancel();
    // Undo Last Optimization: asks, then puts the site back as it was before its last run.
    void undoLastOptimization();
    bool canUndo() const { return undoableRun_.has_value(); }
    // Writes the log pane to path; false after showing a sheet when it cannot.
    bool saveLog(const QString& path);
    void clearLog();
    // Whether each log line is also written to standard output (--verbose); off by default.
    void setEchoLog(bool echo) { window_->logView->setEcho(echo); }
    void setFileManagerFactory(FileManagerFactory factory) {
        makeFileManager_ = std::move(factory);
    }

    State state() const { return state_; }
    // A scan, run or undo is in progress: nothing else may start.
    bool isBusy() const { return state_ != State::Idle && state_ != State::Ready; }
    MainWindow* window() const { return window_; }
    QTableView* imagesTable() const { return window_->imagesTable; }
    QTableView* pagesTable() const { return window_->pagesTable; }
    const std::optional<std::vector<DuplicateGroup>>& currentDuplicates() const {
        return model_.duplicates();
    }
    const std::filesystem::path& siteRoot() const { return model_.root(); }
    const QStringList& actionLog() const { return logOfActions_; }
    // The result on display and the user's choices for it.
    const PlanModel& plan() const { return model_; }
    int shownGroup() const { return tables_->shownGroup(); }

  signals:
    // A scan result is on display.
    void scanShown();
    // A scan was cancelled; the previous result is on display again.
    void scanCancelled();
    void logged(const QString& line);
    // A run ended: completed, or stopped (cancelled or at a failure).
    void runFinished(bool completed);
    // An undo ended: everything put back, or something left in place.
    void undoFinished(bool complete);

  private:
    void enter(State state, const QString& status);
    void connectControls();
    // The channel of a job: its log lines, sheets and progress reach the window.
    void listen(RunChannel& channel);
    // Starts a run or undo on the worker; ended gets whether it completed.
    void launch(std::function<void(RunChannel&)> job, void (TolvaneAppDelegate::*ended)(bool));
    void scanFinished(const std::shared_ptr<const ScanDisplay>& shown);
    // userScan: a scan the user started, not the one after a run or an undo.
    void showScanResult(const ScanDisplay& shown, bool userScan);
    void choicesChanged();
    void showHeader(const std::filesystem::path& root);
    void showSummary();
    void updateControls();
    void startRun();
    void runEnded(bool completed);
    void showRunSheet();
    void startUndo();
    void undoEnded(bool complete);
    void showPreview(const std::shared_ptr<const PreviewList>& list);
    void previewEnded(bool complete);
    void refreshUndo();
    void askToClose();

    MainWindow* window_ = nullptr;
    SiteChooser* chooser_ = nullptr;
    PlanModel model_;
    ResultTables* tables_ = nullptr;
    ProgressView* progress_ = nullptr;
    Sheets* sheets_ = nullptr;
    Worker* worker_ = nullptr;
    State state_ = State::Idle;
    std::shared_ptr<Progress> scan_;    // of the scan in progress
    RunChannel* scanChannel_ = nullptr; // its channel, let go when it is cancelled
    std::shared_ptr<Progress> work_;    // of the run, undo or preview in progress; its cancel
    QStringList logOfActions_;
    bool closeWhenStopped_ = false;
    RunReport report_; // of the run in progress or the last one
    FileManagerFactory makeFileManager_;
    std::optional<RecordedRun> undoableRun_; // of the site on display
};

} // namespace tolvane
