#pragma once

#include "refs/reference_index.hpp"
#include "run/file_manager.hpp"
#include "run/reporter.hpp"
#include "run/site_plan.hpp"
#include "scan/scan.hpp"
#include "util/progress.hpp"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <vector>

namespace tolvane {

class RunJournal;
struct RecordedRun;
struct RunOutcome;
struct RunRecords;
struct UndoOutcome;

// One step a run takes on the site. Numbers into the plan, not paths: a large site has hundreds
// of thousands of copies to remove, and the plan holds their paths already.
struct Action {
    enum class Kind : std::uint8_t {
        createFolder, // the images folder
        place,        // group: its kept file given its name in images/, the bytes of placeFrom
        rewrite,      // item: the plan's file whose references to copies that go are rewritten
        remove,       // group, item: a copy that goes, after every file that referred to it
        // An undo's, in the order taken; item points into the run's records or the undo's lists.
        removeLeftover, // a temporary file a killed run or undo left
        restoreCopy,    // a removed copy put back, from a file that holds its bytes
        restoreText,    // a rewritten file given its earlier text
        removeAdded,    // a file the run added to the images folder
        removeFolder,   // the images folder, if the run made it and it is empty
    };
    Kind kind = Kind::remove;
    std::uint32_t group = 0;
    std::uint32_t item = 0;
};

// The plan's steps in the order a run takes them: the images folder if it is missing (even with
// nothing to place: the site then has the folder its pages will use), every
// placing, every rewrite, every removal (the copy that gave a new name its bytes included).
// The dry run prints this list and the run carries it out.
std::vector<Action> plannedActions(const SitePlan& plan,
                                   const std::vector<DuplicateGroup>& duplicates,
                                   bool imagesFolderExists);

// What an action touches, for people.
struct ActionPaths {
    std::filesystem::path path; // created, placed, rewritten or removed
    std::filesystem::path from; // place: the copy whose bytes the new name gets
    std::size_t references = 0; // rewrite: the references it changes
};
ActionPaths actionPaths(const Action& action, const SitePlan& plan,
                        const std::vector<DuplicateGroup>& duplicates);

// What the executor works on: the plan the actions point into, the index of every reference to
// every copy (the guard: no copy goes while a file that was not rewritten refers to it), the
// file system, the record undo reads (none for a run that keeps none) and where it reports.
struct ExecutionContext {
    const std::vector<DuplicateGroup>& duplicates;
    const SitePlan& plan;
    const ReferenceIndex& index;
    FileManager& files;
    RunJournal* journal = nullptr;
    RunReporter& reporter;
    Progress& progress;
};

// How the actions went, beyond the run's counts.
struct Execution {
    bool completed = false;     // every action was taken or refused for its own reason
    bool journalFailed = false; // a record could not be written: the run stopped there
};

// Takes the actions in order, each recorded in the journal before it is taken and checked just
// before: a kept file's bytes must still be those scanned, a copy that goes must still hold
// them, a file is replaced only while it still holds what was read (an edit made meanwhile wins
// and is recorded as not rewritten), and a copy goes only once every file that referred to it
// was rewritten. Placings, rewrites and removals go in batches (one record flush and one disk
// flush each), with the cancel switch looked at between them: a cancelled run stops where
// every reference still leads to the same bytes. Counts go into outcome.
Execution execute(const std::vector<Action>& actions, const ExecutionContext& context,
                  RunOutcome& outcome);

// What undo puts back, as actions into the run's records and these lists.
struct UndoPlan {
    std::vector<Action> actions;
    std::vector<std::filesystem::path> leftovers;
    struct Text {
        std::filesystem::path path;
        std::vector<std::size_t> records; // its rewrites in the run's records, in order
    };
    std::vector<Text> texts;
    bool beyondPages = false; // a script or style sheet is among them: its base may be a page's
};

// An undo's actions, taken by the same executor with the same guard and check: each stretch
// of them recorded in the run's journal before it is taken (an undo killed on the way reads as
// one that left something, and the next undo finishes it); a copy is put back only from a file
// that holds its recorded bytes, a file gets its earlier text only while it holds what the run
// wrote and only where that text refers to no missing image, and a file the run added goes only
// while it holds the bytes placed and no text file of the site refers to it. Whatever the
// records say, nothing is left referring to a file that is gone.
struct UndoContext {
    const RecordedRun& run;
    const RunRecords& records;
    const UndoPlan& plan;
    FileManager& files;
    RunJournal* journal; // the run's own, reopened
    RunReporter& reporter;
    Progress& progress;
    UndoOutcome& outcome;
};
Execution execute(const UndoContext& context);

} // namespace tolvane
