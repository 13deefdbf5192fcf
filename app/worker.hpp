#pragma once

#include "app/plan_model.hpp"
#include "run/file_manager.hpp"
#include "run/run_journal.hpp"
#include "run/site_plan.hpp"
#include "scan/scan.hpp"
#include "util/progress.hpp"

#include <QObject>
#include <QString>

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QThread;

namespace tolvane {

class RunChannel;
class SiteLock;

// What a run needs, copied from the window's thread before it starts.
struct RunJob {
    std::filesystem::path root;
    std::vector<DuplicateGroup> duplicates;
    std::shared_ptr<FileManager> files;
    std::vector<std::filesystem::path> leftovers; // the writer's, from an earlier run
    std::shared_ptr<Progress> progress;           // polled by the window; its cancel switch
    PlanChoices choices;
};

struct UndoJob {
    std::filesystem::path root;
    RecordedRun run;
    std::shared_ptr<FileManager> files;
    std::shared_ptr<SiteLock> lock; // held until the undo is done
    std::shared_ptr<Progress> progress;
};

// An undo of run on root, once the site's lock is taken; absent, with why, when it cannot be.
std::optional<UndoJob> prepareUndo(const std::filesystem::path& root, const RecordedRun& run,
                                   std::shared_ptr<FileManager> files,
                                   std::shared_ptr<Progress> progress, QString& whyNot,
                                   QString& detail);

// The jobs, each on the worker thread; they reach the window only through the channel, and
// each ends with the channel's ended.
// The scan walks, compares and finds the references under one progress.
void scanJob(const std::filesystem::path& root, Progress& progress, RunChannel& channel);
// The optimization; a cancelled one is put back from its record. A completed or cancelled run
// is followed by a scan of what is left.
void runJob(const RunJob& job, RunChannel& channel);
// The undo and the scan after it.
void undoJob(UndoJob job, RunChannel& channel);
// The list of the changes a run of model's plan would make; nothing when cancelled.
void previewJob(const PlanModel& model, Progress& progress, RunChannel& channel);

// Runs one job at a time on a thread of its own. The job's channel lives on the window's
// thread and is deleted after its ended has been delivered.
class Worker : public QObject {
    Q_OBJECT

  public:
    using Job = std::function<void(RunChannel& channel)>;

    explicit Worker(QObject* parent = nullptr) : QObject(parent) {}
    // Waits for the job in progress.
    ~Worker() override;

    // Starts job once the previous one has returned (a cancelled scan returns at once);
    // listen connects the window to the job's channel before the job starts.
    RunChannel* start(Job job, const std::function<void(RunChannel& channel)>& listen);
    // Waits for the job in progress to return.
    void wait();

  private:
    QThread* thread_ = nullptr;
    std::atomic<unsigned> handedOver_{0}; // results sent by the jobs, see start()
};

} // namespace tolvane
