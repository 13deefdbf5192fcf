#pragma once

#include "run/executor.hpp"
#include "run/file_manager.hpp"
#include "run/reporter.hpp"
#include "run/run_journal.hpp"
#include "util/progress.hpp"

#include <chrono>
#include <cstddef>
#include <string>

namespace tolvane {

struct UndoOutcome {
    bool complete = false;          // the site is as before the run, and its record says so
    std::size_t copiesRestored = 0; // removed copies put back
    std::size_t filesRestored = 0;  // rewritten files given their earlier text
    std::size_t filesRemoved = 0;   // files the run had added to the images folder
    bool folderRemoved = false;     // the images folder the run had made
    std::size_t left = 0;           // changes left in place, each one reported
    int errorSheets = 0;
    bool recorded = false; // the run's record now says it was undone
};

// Puts the site back as it was before the run, in this order: (0) temporary files a killed run
// or undo left in the site removed; (1) every removed copy back, as a checked copy of a file
// that still holds its bytes; (2) every rewritten file back to its earlier text; (3) the files
// the run added to the images folder removed; (4) that folder, if the run made it and it is
// empty. A file changed since the run is left as it is and reported; the added files then stay
// as well, so that nothing is left referring to a file that is gone. Whatever the record says
// (it may be cut short or damaged), no earlier text that refers to a missing image is given
// back, and no added file that a text file of the site still refers to is removed. What is
// already as before the run is left alone, so an undo cut short can be run again. At the end
// the run's record says it was undone: completely, and it is not offered again; or leaving
// something, and it stays offered. Every step on the site goes through files; the caller
// holds the site's lock. progress, when given, counts the records gone through.
// The actions that put back what records say the run did, in the order undo takes them.
// Walks the site for the temporary files a killed run or undo left there.
UndoPlan undoActions(const RunRecords& records, const std::filesystem::path& root);

UndoOutcome undoRun(const RecordedRun& run, FileManager& files, RunReporter& reporter,
                    Progress* progress = nullptr);

// "yyyy-mm-dd HH:MM:SS" in the local time zone, for lists of runs.
std::string localTimeText(std::chrono::system_clock::time_point time);

} // namespace tolvane
