#include "run/run.hpp"

#include "refs/references.hpp"
#include "run/executor.hpp"
#include "run/run_journal.hpp"
#include "run/site_lock.hpp"
#include "run/site_plan.hpp"
#include "util/file_io.hpp"

#include <optional>
#include <string>

namespace tolvane {

namespace fs = std::filesystem;

namespace {

// Counts the failures on their way to the caller's reporter.
class CountingReporter : public RunReporter {
  public:
    explicit CountingReporter(RunReporter& target) : target_(target) {}
    void report(const Event& event) override {
        if (isFailure(event.kind))
            ++sheets;
        target_.report(event);
    }

    int sheets = 0;

  private:
    RunReporter& target_;
};

// The site's text files, read through the run's file manager (so a dry run reads what it
// would have written); whether one can be written is asked of the file system itself.
class RunTextAccess : public TextFileAccess {
  public:
    explicit RunTextAccess(FileManager& files) : files_(files) {}
    std::optional<Bytes> read(const fs::path& path, std::error_code& error) override {
        FileResult failure;
        auto bytes = files_.readFile(path, failure);
        if (!bytes)
            error = failure ? failure->code : std::make_error_code(std::errc::io_error);
        return bytes;
    }
    std::error_code write(const fs::path& path, ByteView data) override {
        const FileResult failure = files_.writeFile(path, data);
        return failure ? failure->code : std::error_code();
    }
    std::optional<NotWritable> whyNotWritable(const fs::path& path) override {
        return disk_.whyNotWritable(path);
    }

  private:
    FileManager& files_;
    DiskTextFileAccess disk_;
};

class Run {
  public:
    Run(const fs::path& root, FileManager& files, RunReporter& reporter, const RunOptions& options)
        : root_(fs::absolute(root).lexically_normal()), imagesFolder_(root_ / "images"),
          files_(files), reporter_(reporter), options_(options),
          progress_(options.progress ? *options.progress : ownProgress_), access_(files) {}

    RunOutcome run(const std::vector<DuplicateGroup>& duplicates) {
        say(EventKind::runStarted);
        std::error_code lockError;
        lock_ = SiteLock::tryAcquire(root_, lockError);
        if (!lock_) {
            outcome_.busy = lockError == std::errc::resource_unavailable_try_again;
            reporter_.report({outcome_.busy ? EventKind::siteBusy : EventKind::lockFailed,
                              {root_},
                              FileError{FileError::Operation::read, {root_}, lockError},
                              std::nullopt,
                              {}});
            return finish(false);
        }
        removeLeftovers();

        // Every reference to every copy is found, and the whole run decided, before anything
        // is touched: the plan's actions are then carried out in order. The images are the
        // scan's; the text files are listed again (names only, no image looked at), since a
        // page added after the scan may refer to a copy too.
        const SiteListing textFiles = listTextFiles(root_);
        const ReferenceIndex index =
            ReferenceIndex::build(root_, everyCopy(duplicates), &access_, nullptr, &textFiles,
                                  ReferenceIndex::ImagePaths::borrowed);
        // Whether a file can be written is asked once per file, not once per copy it names.
        WritabilityOnce writability(access_);
        const SitePlan plan =
            planSite(root_, duplicates, index, writability, files_, options_.choices);
        progress_.start(Phase::optimizing, plan.placements + plan.files.size() + plan.removals);
        const std::vector<Action> actions =
            plannedActions(plan, duplicates, files_.exists(imagesFolder_));
        const Execution done = execute(
            actions, {duplicates, plan, index, files_, options_.journal, reporter_, progress_},
            outcome_);
        journalFailed_ = done.journalFailed;
        return finish(done.completed);
    }

  private:
    RunOutcome finish(bool completed) {
        if (options_.journal && lock_ && !journalFailed_)
            options_.journal->finished(
                {outcome_.copiesRemoved, outcome_.bytesSaved, outcome_.filesRewritten});
        if (options_.keepLock && lock_)
            outcome_.lock = std::make_shared<SiteLock>(std::move(*lock_));
        progress_.finish();
        say(EventKind::finished);
        outcome_.completed = completed;
        outcome_.errorSheets = reporter_.sheets;
        if (completed)
            say(EventKind::completed);
        return outcome_;
    }

    void removeLeftovers() {
        for (const fs::path& leftover : options_.leftovers) {
            // Only the writer's own names, and only plain files, are ever taken for leftovers.
            if (!isWriterTemporaryName(leftover.filename().string()) || !files_.mode(leftover))
                continue;
            say(EventKind::leftoverRemoving, {leftover});
            if (FileResult error = files_.removeItem(leftover))
                reporter_.report({EventKind::removeFailed, {leftover}, *error, std::nullopt, {}});
        }
    }

    void say(EventKind kind, std::vector<fs::path> paths = {}) {
        reporter_.report({kind, std::move(paths), std::nullopt, std::nullopt, {}});
    }

    fs::path root_;
    fs::path imagesFolder_;
    FileManager& files_;
    CountingReporter reporter_;
    const RunOptions& options_;
    Progress ownProgress_;
    Progress& progress_;
    RunTextAccess access_;
    std::optional<SiteLock> lock_;
    RunOutcome outcome_;
    bool journalFailed_ = false;
};

} // namespace

RunOutcome startOptimization(const std::vector<DuplicateGroup>& duplicates, const fs::path& root,
                             FileManager& files, RunReporter& reporter, const RunOptions& options) {
    Run run(root, files, reporter, options);
    return run.run(duplicates);
}

} // namespace tolvane
