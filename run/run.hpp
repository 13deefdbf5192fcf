#pragma once

#include "run/file_manager.hpp"
#include "run/reporter.hpp"
#include "run/site_lock.hpp"
#include "run/site_plan.hpp"
#include "scan/scan.hpp"
#include "util/progress.hpp"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <vector>

namespace tolvane {

class RunJournal;

struct RunOptions {
    // The run's steps, polled by the caller; its cancel switch is looked at between steps,
    // and the run then stops where every reference still resolves.
    Progress* progress = nullptr;
    // Where the run records what undo needs, before each phase; none for a dry run.
    RunJournal* journal = nullptr;
    // Copies the user chose to keep where they are, or to leave alone.
    PlanChoices choices;
    // Temporary files of an interrupted run (found by the scan), removed first.
    std::vector<std::filesystem::path> leftovers;
    // The site's lock is handed to the caller at the end instead of being let go, so that
    // what the run changed can be put back under it with no other run in between.
    bool keepLock = false;
};

struct RunOutcome {
    bool completed = false; // false: the run ended at a failure, was cancelled or refused
    bool busy = false;      // refused: another run or undo holds the site
    bool cancelled = false;
    int errorSheets = 0;                  // sheets shown, whether or not they ended the run
    std::uint64_t bytesSaved = 0;         // bytes freed by the copies removed
    std::size_t copiesRemoved = 0;        // not counting the copies moved to images/
    std::size_t copiesKept = 0;           // copies that stay where they are, each with its reasons
    std::size_t filesRewritten = 0;       // files written back with new references
    std::size_t filesPlaced = 0;          // new names given in the images folder
    std::chrono::nanoseconds fileTime{0}; // placing and removing, with their checks
    std::chrono::nanoseconds rewriteTime{0}; // reading, rewriting and writing back
    std::shared_ptr<SiteLock> lock; // still held, when keepLock asked for it and it was taken
};

// Keeps one copy of each group, in <root>/images or where a copy must stay, removes the
// others and rewrites every file that referred to them. In three phases, so that at every
// instant every reference in the site leads to a file with the same bytes: first each kept
// file is given its name in images/ (a hard link, or a checked copy), then every referring
// file is rewritten once, then the copies that nothing refers to any more are removed, each
// after a byte check against the kept file. Creating the images folder or placing a kept file
// failing ends the run after the groups already placed; other failures are reported and
// the run goes on. One run per site at a time; every file-system step goes through files.
RunOutcome startOptimization(const std::vector<DuplicateGroup>& duplicates,
                             const std::filesystem::path& root, FileManager& files,
                             RunReporter& reporter, const RunOptions& options = {});

inline RunOutcome startOptimization(const ScanResult& scan, FileManager& files,
                                    RunReporter& reporter, RunOptions options = {}) {
    options.leftovers.insert(options.leftovers.end(), scan.leftovers.begin(), scan.leftovers.end());
    return startOptimization(scan.duplicates, scan.root, files, reporter, options);
}

} // namespace tolvane
