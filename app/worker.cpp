#include "app/worker.hpp"

#include "app/event_text.hpp"
#include "app/path_text.hpp"
#include "app/run_channel.hpp"
#include "run/run.hpp"
#include "run/site_lock.hpp"
#include "run/undo.hpp"

#include <QCoreApplication>
#include <QThread>

#include <algorithm>

namespace tolvane {

namespace {

std::shared_ptr<const ScanDisplay> scanned(const std::filesystem::path& root) {
    return std::make_shared<const ScanDisplay>(withReferences(scanWebsite(root)));
}

// Puts back what a cancelled run had changed, from its record.
// lock: the site's lock the run kept, so that no other run gets in between.
void undoCancelledRun(const RunJob& job, const std::filesystem::path& record,
                      std::shared_ptr<SiteLock> lock, ChannelReporter& reporter,
                      RunSummary& summary) {
    std::optional<RecordedRun> run;
    for (RecordedRun& recorded : recordedRuns(job.root)) {
        std::error_code error;
        if (std::filesystem::equivalent(recorded.folder, record, error)) {
            run = std::move(recorded);
            break;
        }
    }
    if (!run || !run->changes) {
        summary.undone = true; // stopped before it changed anything
        return;
    }
    reporter.log(QCoreApplication::translate("tolvane::TolvaneAppDelegate",
                                             "Putting back what the cancelled run had changed"));
    if (!lock) {
        reporter.failed(QCoreApplication::translate("tolvane::TolvaneAppDelegate",
                                                    "Unable to undo the last optimization"),
                        FileError{FileError::Operation::read,
                                  {job.root},
                                  std::make_error_code(std::errc::no_lock_available)});
        summary.undoLeft = 1;
        return;
    }
    const UndoOutcome undone = undoRun(*run, *job.files, reporter, job.progress.get());
    summary.undone = undone.complete;
    summary.undoLeft = undone.complete ? 0 : std::max<std::size_t>(undone.left, 1);
}

} // namespace

std::optional<UndoJob> prepareUndo(const std::filesystem::path& root, const RecordedRun& run,
                                   std::shared_ptr<FileManager> files,
                                   std::shared_ptr<Progress> progress, QString& whyNot,
                                   QString& detail) {
    std::error_code error;
    std::optional<SiteLock> lock = SiteLock::tryAcquire(root, error);
    if (lock)
        return UndoJob{root, run, std::move(files), std::make_shared<SiteLock>(std::move(*lock)),
                       std::move(progress)};
    if (error == std::errc::resource_unavailable_try_again) {
        whyNot = EventText::siteBusyMessage(root);
    } else {
        whyNot = QCoreApplication::translate("tolvane::TolvaneAppDelegate",
                                             "Unable to undo the last optimization");
        detail = QString::fromStdString(error.message());
    }
    return std::nullopt;
}

void scanJob(const std::filesystem::path& root, Progress& progress, RunChannel& channel) {
    ScanResult scan = scanWebsite(root, &progress);
    if (scan.cancelled || progress.cancelled()) {
        auto shown = std::make_shared<ScanDisplay>();
        shown->scan = std::move(scan);
        shown->scan.cancelled = true;
        emit channel.scanned(shown);
    } else {
        emit channel.scanned(
            std::make_shared<const ScanDisplay>(withReferences(std::move(scan), &progress)));
    }
    emit channel.ended(true);
}

void runJob(const RunJob& job, RunChannel& channel) {
    ChannelReporter reporter(channel);
    RunOptions options;
    options.progress = job.progress.get();
    options.leftovers = job.leftovers;
    options.choices = job.choices;
    options.keepLock = true; // a cancelled run is put back under its own lock
    // What undo needs is recorded outside the site; without that record nothing is touched.
    std::error_code journalError;
    std::optional<RunJournal> journal = RunJournal::start(job.root, journalError);
    RunSummary summary;
    if (!journal) {
        reporter.report({EventKind::recordFailed,
                         {journalHome()},
                         FileError{FileError::Operation::write, {journalHome()}, journalError},
                         std::nullopt,
                         {}});
        summary.end = RunSummary::End::failed;
        emit channel.summarized(summary);
        emit channel.ended(false);
        return;
    }
    options.journal = &*journal;
    RunOutcome outcome = startOptimization(job.duplicates, job.root, *job.files, reporter, options);
    summary.record = toQString(journal->folder());
    if (outcome.cancelled)
        undoCancelledRun(job, journal->folder(), outcome.lock, reporter, summary);
    outcome.lock.reset(); // the re-scan only reads
    summary.end = outcome.completed   ? RunSummary::End::completed
                  : outcome.cancelled ? RunSummary::End::cancelled
                                      : RunSummary::End::failed;
    summary.copiesRemoved = outcome.copiesRemoved;
    summary.bytesSaved = outcome.bytesSaved;
    summary.filesRewritten = outcome.filesRewritten;
    summary.copiesStayed = outcome.copiesKept;
    const auto sheets = static_cast<std::size_t>(std::max(outcome.errorSheets, 0));
    summary.errors = sheets > outcome.copiesKept ? sheets - outcome.copiesKept : 0;
    emit channel.summarized(summary);
    if (outcome.completed || outcome.cancelled)
        emit channel.scanned(scanned(job.root));
    emit channel.ended(outcome.completed);
}

void undoJob(UndoJob job, RunChannel& channel) {
    ChannelReporter reporter(channel);
    const UndoOutcome outcome = undoRun(job.run, *job.files, reporter, job.progress.get());
    job.lock.reset(); // the re-scan only reads
    reporter.log(
        outcome.complete
            ? QCoreApplication::translate("tolvane::TolvaneAppDelegate", "Undo complete")
            : QCoreApplication::translate("tolvane::TolvaneAppDelegate",
                                          "Undo incomplete: changes that could not be undone: %1")
                  .arg(outcome.left));
    emit channel.scanned(scanned(job.root));
    emit channel.ended(outcome.complete);
}

void previewJob(const PlanModel& model, Progress& progress, RunChannel& channel) {
    if (std::shared_ptr<const PreviewList> list = listChanges(model, &progress))
        emit channel.previewed(list);
    progress.finish();
    emit channel.ended(!progress.cancelled());
}

Worker::~Worker() {
    wait();
}

RunChannel* Worker::start(Job job, const std::function<void(RunChannel& channel)>& listen) {
    wait();
    auto* channel = new RunChannel;
    // Owned by the worker, so it outlives the job even when the window closes meanwhile.
    channel->setParent(this);
    // The event queue hands a result to the window's thread under Qt's own lock, which
    // ThreadSanitizer cannot see: a release on the worker as each result is sent, and an
    // acquire on the window's thread before the window's slots, make that hand-over visible.
    const auto handOver = [this, channel](auto signal) {
        connect(
            channel, signal, channel,
            [this] { handedOver_.fetch_add(1, std::memory_order_release); }, Qt::DirectConnection);
        connect(
            channel, signal, this, [this] { (void)handedOver_.load(std::memory_order_acquire); },
            Qt::QueuedConnection);
    };
    handOver(&RunChannel::scanned);
    handOver(&RunChannel::summarized);
    handOver(&RunChannel::previewed);
    listen(*channel);
    connect(channel, &RunChannel::ended, channel, &QObject::deleteLater, Qt::QueuedConnection);
    thread_ = QThread::create([job = std::move(job), channel] { job(*channel); });
    thread_->start();
    return channel;
}

void Worker::wait() {
    if (!thread_)
        return;
    thread_->wait();
    delete thread_;
    thread_ = nullptr;
}

} // namespace tolvane
