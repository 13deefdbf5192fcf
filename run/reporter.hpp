#pragma once

#include "refs/keep_reason.hpp"

#include <filesystem>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

namespace tolvane {

// Failures of a run that come from no system call.
enum class RunErrc {
    contentDiffers = 1, // a copy no longer holds the kept copy's bytes
    destinationTaken,   // the images folder already holds other files under every name tried
    notUtf8,            // a page or page script is not valid UTF-8 text
    changedSinceRun,    // undo: the file is not as the run left it
    noCopyLeft,         // undo: no file holds a removed copy's bytes any more
    outsideSite,        // undo: a recorded path leads out of the site or through a link
    recordDamaged,      // undo: the run's record of a file cannot be read
    stillReferredTo,    // undo: a text file of the site refers to a file the run added
    changedSinceRead,   // a file changed between being read and being replaced: left as it is
};
const std::error_category& runErrorCategory();
std::error_code make_error_code(RunErrc e);

// One failed file-system step: what was tried, on which path(s), and why it failed.
struct FileError {
    enum class Operation { createDirectory, move, remove, read, write, compare };

    Operation operation = Operation::read;
    std::vector<std::filesystem::path> paths; // the source first, then the destination if any
    std::error_code code;
};

// Everything a run, an undo or a page rewrite tells its caller, as data: the command line and
// the window each word it in their own language. Paths are absolute; "copy" is a duplicate's
// path, "file" a text file that refers to images.
enum class EventKind {
    // A run, in its order.
    runStarted,           // the run begins
    imagesFolderCreating, // paths: the images folder
    leftoverRemoving,     // paths: a temporary file an interrupted writer left
    imagePlacing,         // paths: the copy that gives its bytes, the kept file's new path
    fileUpdating,         // paths: the file, then each kept file it now leads to
    fileMissing,          // paths: a page or page script that is not there (one page rewrite)
    fileKept,             // paths: a file that cannot be rewritten; detail: why, in the refs' words
    copyKept,             // paths: the copy; reason: why it stays where it is
    copyKeptForFile,      // paths: a copy a file that could not be rewritten still refers to
    copyRemoving,         // paths: the copy
    runCancelled,         // the run stopped where every page still shows its images
    // An undo, in its order.
    undoStarted,         // detail: the run's local time
    copyRestoring,       // paths: the copy put back
    fileRestoring,       // paths: the file given its earlier text
    rewrittenKept,       // paths: a rewritten file left as the run wrote it
    addedKept,           // paths: a file the run added that stays
    addedRemoving,       // paths: a file the run added
    addedFolderRemoving, // paths: the images folder the run made
    folderKept,          // paths: the images folder, which holds files the run did not add
    // Failures: each carries the failed step (failure) and shows a sheet.
    siteBusy,            // paths: the site root; another run or undo holds it
    lockFailed,          // the site's lock could not be taken
    recordFailed,        // what undo needs could not be recorded
    imagesFolderFailed,  // the images folder could not be created
    placeFailed,         // paths: the group's first copy; its kept file got no new name
    removeFailed,        // paths: a copy (or leftover, or added file) that could not go
    updateFailed,        // paths: a file that could not be read or rewritten
    writeBackFailed,     // paths: a file whose new text could not be written
    copyKeptWarning,     // paths: the copy; reason: why it stays (shown, unlike copyKept)
    recordUnreadable,    // undo: the run's record cannot be read
    recordIncomplete,    // undo: part of the record is damaged
    undoNotRecorded,     // undo: the record cannot say it was undone
    restoreFailed,       // paths: a removed copy that could not be put back
    fileRestoreFailed,   // paths: a rewritten file that could not get its earlier text
    keptForMissingCopy,  // undo: rewritten files stay, a removed copy is still missing
    keptForMissingImage, // undo: rewritten files stay, their earlier text names a lost image
    folderRemoveFailed,  // paths: the images folder the run made
    // The end of every run and undo; then, for one that got to its end, completed.
    finished,
    completed,
};

// Whether the event reports a failure (a sheet, with failure set).
bool isFailure(EventKind kind);

struct Event {
    EventKind kind = EventKind::runStarted;
    std::vector<std::filesystem::path> paths;
    std::optional<FileError> failure;
    std::optional<KeepReason> reason;
    std::string detail;
};

// What a run, an undo or a page rewrite tells its caller: the window passes each event on as a
// queued signal, the command line prints it, the tests record it. Calls come from the thread
// the work is done on, in order; the work's progress goes through a Progress the caller polls.
class RunReporter {
  public:
    virtual ~RunReporter() = default;
    virtual void report(const Event& event) = 0;
};

} // namespace tolvane

template <> struct std::is_error_code_enum<tolvane::RunErrc> : std::true_type {};
