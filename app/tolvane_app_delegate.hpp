#pragma once

#include "app/run_summary.hpp"
#include "refs/references.hpp"
#include "run/file_manager.hpp"
#include "run/run_journal.hpp"
#include "run/site_plan.hpp"
#include "scan/scan.hpp"
#include "util/progress.hpp"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

class QFileDialog;
class QMessageBox;
class QProgressBar;
class QPushButton;
class QTableView;
class QThread;

namespace tolvane {

class MainWindow;
class NSURLTableViewDataSource;
class NaturalSortProxy;
class RunReporter;
class RunChannel;
class SiteLock;

// What a failed file step reports: its description for the log, its localized description for
// the sheet.
struct ErrorText {
    QString description;
    QString localizedDescription;
};

// A scan result with the run's plan for it, as the window shows it.
struct ScanDisplay {
    ScanResult scan;
    std::vector<GroupPlan> groups;                     // one per duplicate group, in the same order
    std::size_t filesRewritten = 0;                    // files a run would write back
    std::vector<std::filesystem::path> rewrittenFiles; // the same files, in the plan's order
    std::shared_ptr<const ReferenceIndex> index;       // what the plan was made from
};

// Finds every reference to the copies of the scan's groups (reading the site's text files) and
// decides, as a run would, what happens to each copy. Works off the window's thread.
// A cancelled progress gives a cancelled scan's result.
ScanDisplay withReferences(ScanResult scan, Progress* progress = nullptr);

// The controller of the main window: opens a site, shows its duplicate images, and optimizes it
// on a worker thread after the user confirmed. It owns the window and everything the window
// shows for the life of the application.
class TolvaneAppDelegate : public QObject {
    Q_OBJECT

  public:
    // The operation a folder chooser calls when it closes, with the chooser and its result code.
    using PanelEnd = void (TolvaneAppDelegate::*)(QFileDialog* panel, int returnCode);

    // Builds the main window and connects its controls.
    explicit TolvaneAppDelegate(QObject* parent = nullptr);
    // Cancels a scan still working and waits for it; a run is waited for.
    ~TolvaneAppDelegate() override;

    void applicationDidFinishLaunching();
    // Shows the copies of the group selected in imagesTable.
    void selectImage();
    // Scans root off the window's thread, with its progress in the header, then shows the
    // result.
    void traverseWebsite(const std::filesystem::path& root);
    // Opens a window-modal folder chooser; didEnd is called when it closes.
    void chooseFile(PanelEnd didEnd, const QString& title, const QString& message,
                    const QString& initialValue);
    void folderSelected(QFileDialog* panel, int returnCode);
    void openWebsite();
    // F5: scans the site on display again.
    void rescan();
    void log(const QString& text);
    void popupErrorMessage(const QString& message, const std::optional<ErrorText>& error);
    // Rewrites one page or page script to use the site images folder for imageName.
    void processFile(const QString& path, const QString& imageName, const QString& folder);
    void overwriteAlertDidEnd(QMessageBox* alert, qint64 returnCode);
    void saveWebsite();
    // Preview Changes: a window of its own lists what a run of the plan on display would do to
    // each file; the log says it was shown.
    void previewChanges();
    // Cancel (the button, Escape): a scan stops at once and the previous result stays; a run
    // stops at its next point where every page still shows its images, then what it changed
    // is put back.
    void cancel();
    // Undo Last Optimization: asks, then puts the site on display back as it was before its
    // last recorded run, on the worker thread, and scans it again.
    void undoLastOptimization();
    void undoAlertDidEnd(QMessageBox* alert, qint64 returnCode);
    // The site on display has a run that undo can put back.
    bool canUndo() const { return undoableRun_.has_value(); }
    // Writes the log pane to path; false after showing a sheet when it cannot.
    bool saveLog(const QString& path);
    void clearLog();
    void showAbout();
    // Whether each log line is also written to standard output (--verbose); off by default.
    void setEchoLog(bool echo) { echoLog_ = echo; }

    MainWindow* window() const { return window_; }
    QTableView* imagesTable() const { return imagesTable_; }
    QTableView* pagesTable() const { return pagesTable_; }

    // Makes the file manager of each run and page rewrite; the real file system by default.
    using FileManagerFactory = std::function<std::unique_ptr<FileManager>()>;
    void setFileManagerFactory(FileManagerFactory factory) {
        makeFileManager_ = std::move(factory);
    }

    // A folder chosen, dropped or named at start: scanned when it is a website root, else a
    // sheet that names it (and offers a child folder that is a website). Ignored while busy.
    void openFolder(const QString& folder);
    // A scan, run or undo is in progress: nothing else may start.
    bool isBusy() const { return busy_ != Busy::Idle; }
    const std::optional<std::vector<DuplicateGroup>>& currentDuplicates() const {
        return duplicates_;
    }
    const std::vector<GroupPlan>& currentPlan() const { return groupPlans_; }
    const std::filesystem::path& siteRoot() const { return rootUrl_; }
    const QStringList& actionLog() const { return logOfActions_; }
    // What the user chose for the next run: the groups left alone (by name and digest) and the
    // copies kept or left where they are.
    bool groupChosen(std::size_t group) const;
    void setGroupChosen(std::size_t group, bool chosen);
    void setCopyChosen(std::size_t group, std::size_t copy, bool chosen);
    // Makes the current copy of the copies table its group's kept file, or no longer.
    void keepCurrentCopy(bool keep);
    const PlanChoices& choices() const { return choices_; }
    // Select menu: every group, none, each the other way, or only those saving more than the
    // given number of bytes.
    void chooseGroups(const std::function<bool(std::size_t group)>& chosen);
    void chooseGroupsSavingMoreThan(std::uint64_t bytes);
    void askForLeastSaving();
    // The group shown in the copies table and the copies selected there (indexes into it).
    int shownGroup() const { return pagesGroup_; }
    std::vector<std::size_t> selectedCopies() const;

  signals:
    // A scan result is on display.
    void scanShown();
    // A scan was cancelled; the previous result is on display again.
    void scanCancelled();
    // A log line was written.
    void logged(const QString& line);
    // A run ended: completed, or stopped (cancelled or at a failure).
    void runFinished(bool completed);
    // An undo ended: everything put back, or something left in place.
    void undoFinished(bool complete);

  private:
    enum class Busy { Idle, Scanning, Running, Undoing };
    struct ScanJob;
    struct RunJob {
        std::filesystem::path root;
        std::vector<DuplicateGroup> duplicates;
        std::shared_ptr<FileManager> files;
        std::vector<std::filesystem::path> leftovers; // the writer's, from an earlier run
        std::shared_ptr<Progress> progress;           // polled by the window; its cancel switch
        PlanChoices choices;
    };
    // The optimization and the re-scan after it; works on the worker thread
    // and reaches the window only through the channel's queued signals.
    static void runOnWorker(const RunJob& job, RunChannel& channel);
    RunChannel* workerChannel(void (TolvaneAppDelegate::*ended)(bool));
    // The groups the user has not left alone, in order.
    std::vector<DuplicateGroup> chosenDuplicates() const;
    // Plans the result on display again under the choices; the tables, counts and controls
    // follow.
    void replan();
    void startRun();

    struct UndoJob {
        std::filesystem::path root;
        RecordedRun run;
        std::shared_ptr<FileManager> files;
        std::shared_ptr<SiteLock> lock; // held until the undo is done
        std::shared_ptr<Progress> progress;
    };
    // The undo and the re-scan after it, on the worker thread, as a run.
    static void undoOnWorker(UndoJob job, RunChannel& channel);
    void undoEnded(bool complete);
    // Looks up the run undo would put back for the site on display.
    void refreshUndo();

    // userScan: a scan the user started, not the one after a run or an undo.
    void showScanResult(const std::shared_ptr<const ScanDisplay>& shown, bool userScan);
    void scanFinished(const std::shared_ptr<const ScanDisplay>& shown, std::uint64_t generation);
    const GroupPlan* planOf(int group) const;
    void runEnded(bool completed);
    void runSummarized(const RunSummary& summary);
    // Puts back what a cancelled run had changed, from its record.
    static void undoCancelledRun(const RunJob& job, const std::filesystem::path& record,
                                 RunChannel& channel, RunSummary& summary);
    // The sheet at the end of a run: what it did and what the scan after it found.
    void showRunSheet();
    // Undoes undoableRun_ on the worker thread, once the site's lock is taken.
    void startUndo();
    // A warning sheet with an OK button; when another sheet is up, it follows that one.
    QMessageBox* showSheet(const QString& text, const QString& informativeText);
    // Opens sheet, or after the summary sheet in front when that is still up. A front sheet
    // makes later ones wait for it.
    void queueSheet(QMessageBox* sheet, bool front = false);
    int selectedRow() const;
    int currentCopy() const;
    void showCopy();
    void showHeader(const std::filesystem::path& root);
    void showSummary();
    void updateControls();
    void setBusy(Busy busy, const QString& status);
    void showScanProgress();
    void configureImagesTable();
    void configurePagesTable();
    void askToClose();
    void offerChildSite(const QString& folder, const std::filesystem::path& child);
    QStringList pathsOfSelectedCopies() const;
    void beginLogSection(const QString& heading);

    // The window and its controls, owned by the window.
    MainWindow* window_ = nullptr;
    QTableView* imagesTable_ = nullptr;
    QTableView* pagesTable_ = nullptr;
    QPushButton* openWebsiteButton_ = nullptr;
    QPushButton* optimizeButton_ = nullptr;
    QProgressBar* progressIndicator_ = nullptr;
    QPointer<QFileDialog> selectFolderPanel_;

    // The site whose result is on display, its groups and the run's plan for them.
    std::filesystem::path rootUrl_; // set when the result has duplicates
    NSURLTableViewDataSource* imagesDataSource_ = nullptr;
    NSURLTableViewDataSource* pagesDataSource_ = nullptr;
    NaturalSortProxy* imagesSorter_ = nullptr;
    NaturalSortProxy* pagesSorter_ = nullptr;
    std::optional<std::vector<DuplicateGroup>> duplicates_;
    std::vector<std::filesystem::path> leftovers_;      // of the site shown
    std::vector<GroupPlan> groupPlans_;                 // in step with duplicates_
    std::size_t filesRewritten_ = 0;                    // by a run of the result on display
    std::vector<std::filesystem::path> rewrittenFiles_; // the same files
    int pagesGroup_ = -1;                               // the group the pages table shows
    std::shared_ptr<const ReferenceIndex> index_;       // of the result on display
    std::set<std::pair<std::string, std::string>> groupsLeftAlone_; // name, digest
    PlanChoices choices_;
    QStringList logOfActions_;
    bool echoLog_ = false;
    int pathLinesToLabel_ = 0; // after "Moving image file", its source and destination lines
    std::filesystem::path shownRoot_;
    bool optimizeEnabled_ = false;
    bool displaying_ = false;
    QPointer<QMessageBox> frontSheet_; // the sheet on top; the next one waits for it

    // Work off the window's thread.
    Busy busy_ = Busy::Idle;
    std::vector<std::pair<QThread*, std::shared_ptr<ScanJob>>> scanThreads_;
    std::shared_ptr<ScanJob> scan_; // the scan in progress
    std::uint64_t scanGeneration_ = 0;
    QTimer scanTicker_;
    // The run or undo in progress: how long it has taken, shown in the bar with an estimate.
    QElapsedTimer workClock_;
    QTimer workTicker_;
    void showWorkTime();
    // The bar from the run's or undo's steps, read on the ticker.
    void showWorkProgress();
    QThread* runThread_ = nullptr;
    std::shared_ptr<Progress> workProgress_; // of the run or undo in progress
    bool closeWhenStopped_ = false;
    RunSummary lastSummary_;
    QStringList runProblems_;               // each sheet of the run in progress
    std::pair<QString, QString> lastError_; // its last one: message, detail
    FileManagerFactory makeFileManager_;
    std::optional<RecordedRun> undoableRun_; // of the site on display
};

} // namespace tolvane
