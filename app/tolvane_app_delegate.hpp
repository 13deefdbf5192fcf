#pragma once

#include "optimize/site_plan.hpp"
#include "optimize/file_manager.hpp"
#include "optimize/references.hpp"
#include "optimize/run_journal.hpp"
#include "scan/scan.hpp"

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
class RunChannel;
class SiteLock;

// What a failed file step reports: its description for the log, its localized description for
// the sheet.
struct ErrorText {
    QString description;
    QString localizedDescription;
};

// What the window shows of one duplicate group beyond its copies: the run's plan for it (how
// many references point at them, the kept file, and which copies stay and why).
using GroupReferences = GroupPlan;

// A scan result with the references to its copies, as the window shows it.
struct ScanDisplay {
    ScanResult scan;
    std::vector<GroupReferences> groups; // one per duplicate group, in the same order
};

// Finds every reference to the copies of the scan's groups (reading the site's text files) and
// decides, as a run would, which copies stay. Works off the window's thread.
ScanDisplay withReferences(ScanResult scan);

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
    // Waits for a scan or run still working (a scan is cancelled; a run is never cut short).
    ~TolvaneAppDelegate() override;

    void applicationDidFinishLaunching();
    // Shows the copies of the group selected in imagesTable.
    void selectImage();
    // Scans root off the window's thread, with a busy indicator, then shows the result.
    void traverseWebsite(const std::filesystem::path& root);
    // Opens a window-modal folder chooser; didEnd is called when it closes. fileTypes are
    // the image types the site holds (the chooser shows folders only).
    void chooseFile(const QStringList& fileTypes, PanelEnd didEnd, const QString& title,
                    const QString& message, const QString& initialValue);
    void folderSelected(QFileDialog* panel, int returnCode);
    void openWebsite();
    void log(const QString& text);
    void popupErrorMessage(const QString& message, const std::optional<ErrorText>& error);
    // Rewrites one page or page script to use the site images folder for imageName.
    void processFile(const QString& path, const QString& imageName, const QString& folder);
    void overwriteAlertDidEnd(QMessageBox* alert, qint64 returnCode);
    void saveWebsite();
    // Undo Last Optimization: asks, then puts the site on display back as it was before its
    // last recorded run, on the worker thread, and scans it again.
    void undoLastOptimization();
    void undoAlertDidEnd(QMessageBox* alert, qint64 returnCode);
    // The site on display has a run that undo can put back.
    bool canUndo() const { return undoableRun_.has_value(); }

    MainWindow* window() const { return window_; }
    QTableView* imagesTable() const { return imagesTable_; }
    QTableView* pagesTable() const { return pagesTable_; }

    // Makes the file manager of each run and page rewrite; the real file system by default.
    using FileManagerFactory = std::function<std::unique_ptr<FileManager>()>;
    void setFileManagerFactory(FileManagerFactory factory) { makeFileManager_ = std::move(factory); }

    // A folder chosen, dropped or named at start: scanned when it is a website root, else the
    // "Not a website folder." sheet. Ignored while a scan or a run is in progress.
    void openFolder(const QString& folder);
    // A scan or a run is in progress: nothing else may start.
    bool isBusy() const { return busy_ != Busy::Idle; }
    const std::optional<std::vector<DuplicateGroup>>& currentDuplicates() const {
        return duplicates;
    }
    const std::vector<GroupReferences>& currentReferences() const { return groupReferences_; }
    const std::filesystem::path& siteRoot() const { return rootURL; }
    const QStringList& actionLog() const { return logOfActions; }

  signals:
    // A scan result is on display.
    void scanShown();
    // A log line was written.
    void logged(const QString& line);
    // A run ended: completed, or stopped at a failure.
    void runFinished(bool completed);
    // An undo ended: everything put back, or something left in place.
    void undoFinished(bool complete);

  private:
    enum class Busy { Idle, Scanning, Running };
    struct RunJob {
        std::filesystem::path root;
        std::vector<DuplicateGroup> duplicates;
        std::shared_ptr<FileManager> files;
        std::vector<std::filesystem::path> leftovers; // the writer's, from an earlier run
    };

    // The optimization run and the re-scan after it; works on the worker thread and reaches
    // the window only through the channel's queued signals.
    static void startOptimization(const RunJob& job, RunChannel& channel);
    RunChannel* workerChannel(void (TolvaneAppDelegate::*ended)(bool));

    struct UndoJob {
        std::filesystem::path root;
        RecordedRun run;
        std::shared_ptr<FileManager> files;
        std::shared_ptr<SiteLock> lock; // held until the undo is done
    };
    // The undo and the re-scan after it, on the worker thread, as a run.
    static void undoOnWorker(UndoJob job, RunChannel& channel);
    void undoEnded(bool complete);
    // Looks up the run undo would put back for the site on display.
    void refreshUndo();

    void showScanResult(const std::shared_ptr<const ScanDisplay>& shown);
    void scanFinished(const std::shared_ptr<const ScanDisplay>& shown);
    const GroupReferences* referencesOf(int row) const;
    void runEnded(bool completed);
    QMessageBox* showSheet(const QString& text, const QString& informativeText);
    int selectedRow() const;
    void showPreview(const DuplicateGroup* group);
    // What a run does with one copy, for the pages table.
    QString fateOf(const GroupReferences* refs, int row) const;
    QString reasonText(const KeepReason& reason) const;
    void showSummary();
    void updateControls();
    void setBusy(Busy busy, const QString& status);
    void showScanProgress();
    void configureImagesTable();
    void configurePagesTable();

    // The window and its controls, owned by the window.
    MainWindow* window_ = nullptr;
    QTableView* imagesTable_ = nullptr;
    QTableView* pagesTable_ = nullptr;
    QPushButton* openWebsiteButton = nullptr;
    QPushButton* optimizeButton = nullptr;
    QProgressBar* progressIndicator = nullptr;
    QPointer<QFileDialog> selectFolderPanel;

    std::filesystem::path rootURL;
    NSURLTableViewDataSource* imagesDataSource = nullptr;
    NSURLTableViewDataSource* pagesDataSource = nullptr;
    std::optional<std::vector<DuplicateGroup>> duplicates;
    std::vector<std::filesystem::path> leftovers_; // of the site shown
    std::vector<GroupReferences> groupReferences_; // in step with duplicates
    int pagesGroup_ = -1;                          // the group the pages table shows
    QStringList logOfActions;

    // Beyond the tables: the root of the result on display, and what may start now.
    std::filesystem::path shownRoot_;
    bool optimizeEnabled_ = false;
    bool displaying_ = false;
    Busy busy_ = Busy::Idle;
    QThread* scanThread_ = nullptr;
    std::unique_ptr<ScanProgress> scanProgress_;
    std::atomic<bool> findingReferences_{false};
    QTimer scanTicker_;
    QThread* runThread_ = nullptr;
    FileManagerFactory makeFileManager_;
    std::optional<RecordedRun> undoableRun_; // of the site on display
};

} // namespace tolvane
