#pragma once

#include "util/bytes.hpp"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace tolvane {

// Where runs are recorded for undo: $XDG_DATA_HOME/tolvane, else ~/.local/share/tolvane.
// Read from the environment on every call.
std::filesystem::path journalHome();

// What a run records before each of its phases, so that undo can put the site back even when
// the run was cut short. Every record is on disk (flushed) before the call returns; the run
// acts only after that.
//
// A run's folder, journalHome()/runs/<site>/<yyyymmddTHHMMSSZ>-<sequence>, holds "root" (the
// site root), "records" (one line per record, appended; each line ends in a field with the first
// hex digits of its digest, so a line damaged inside reads as damaged) and "old-texts" (the
// earlier bytes of every rewritten file, one after another; a record names its offset and
// length), and "length" (the records' length after their last append, so that records cut
// since read as damaged). Records of older runs, without the check field, are read as before.
//
// A run calls, in this order: start() before it changes anything; imagesFolderCreated()
// before it makes the images folder; placing() before it links or copies kept files into it;
// rewriting() before it writes the new texts, notRewritten() for those it then refused to
// replace; removing() before it deletes copies; finished()
// at its end. A call that fails means the step must not be taken.
class RunJournal {
  public:
    // A file the run puts into the images folder (a hard link or a copy of a copy).
    struct Placed {
        std::filesystem::path path;
        std::string md5;
        std::uint64_t size = 0;
    };
    // A file the run replaces: its bytes before the run, and the digest of what it writes.
    struct Rewrite {
        std::filesystem::path path;
        ByteView oldText;
        std::string newMd5;
    };
    // A copy the run deletes; its bytes live on in kept.
    struct Removal {
        // Plain strings: a large site records hundreds of thousands of these, and a path
        // object holds each of its components apart.
        std::string copy;
        std::string kept;
        std::string md5;
        std::uint64_t size = 0;
        unsigned mode = 0644;
    };
    struct Summary {
        std::size_t copiesRemoved = 0;
        std::uint64_t bytesSaved = 0;
        std::size_t filesRewritten = 0;
    };

    // Starts the record of a new run of root (an absolute path), in a folder of its own below
    // journalHome()/runs/.
    static std::optional<RunJournal> start(const std::filesystem::path& root,
                                           std::error_code& error);

    // Each call is made before the step it names, and only for what the run itself will
    // create or change: the images folder when nothing is at its path, files placed where
    // nothing is. A failure means nothing was recorded: the run must not take the step.
    std::error_code imagesFolderCreated(const std::filesystem::path& folder);
    std::error_code placing(const std::vector<Placed>& files);
    // The earlier texts are flushed before the records that refer to them.
    std::error_code rewriting(const std::vector<Rewrite>& files);
    // Files recorded by rewriting() that the run then left as they were (an edit made since
    // they were read wins): undo has nothing to put back in them.
    std::error_code notRewritten(const std::vector<std::filesystem::path>& files);
    std::error_code removing(const std::vector<Removal>& copies);
    // The run's own counts, and the line that marks it finished.
    std::error_code finished(const Summary& summary);

    // Opens a recorded run's records again, for its undo; a line a crash cut short at their end
    // is cut off before the next append.
    static std::optional<RunJournal> reopen(const std::filesystem::path& folder,
                                            std::error_code& error);
    // An undo's step (what it does, the files it touches), on record before it is taken: an
    // undo killed after it reads as an undo that left something, offered again to finish.
    std::error_code undoing(std::string_view step, const std::vector<std::string>& paths);

    const std::filesystem::path& folder() const { return folder_; }

  private:
    explicit RunJournal(std::filesystem::path folder, std::uint64_t recordsSize,
                        bool checked = true)
        : folder_(std::move(folder)), recordsSize_(recordsSize), checked_(checked) {}
    std::error_code append(const std::string& lines);

    std::filesystem::path folder_;
    std::uint64_t recordsSize_ = 0; // what is known to be complete; a failed append is cut off
    bool checked_ = true;           // lines carry their check (records of older runs do not)
};

// One recorded run of a site, as its records tell it.
struct RecordedRun {
    std::filesystem::path folder; // the run's record folder
    std::filesystem::path root;   // the site root, as the run named it
    std::string stamp;            // the UTC time the run started, yyyymmddTHHMMSSZ
    std::chrono::system_clock::time_point time;
    bool finished = false;
    // A finished run's own counts; for a run cut short, what its records allow at most.
    RunJournal::Summary summary;
    bool summaryIsUpperBound = false;
    bool changes = false;           // it recorded at least one change to the site
    bool damaged = false;           // a complete line that cannot be read
    bool undone = false;            // an undo went through it
    bool undoLeftSomething = false; // and the last one could not put everything back
    // Offered for undo: it changed something, was not undone or its undo is incomplete (a
    // later undo finishes it), and no newer run's undo left something behind (the site is
    // then not as this run left it).
    bool undoable = false;
};

// Every recorded run of root, newest first (by the time in the folder's name). A line cut
// short at the end of the records (a crash mid-write) is ignored.
std::vector<RecordedRun> recordedRuns(const std::filesystem::path& root);

// The newest run of root that undo would put back.
std::optional<RecordedRun> lastUndoableRun(const std::filesystem::path& root);

// Everything a run recorded, in the order recorded.
struct RunRecords {
    struct Rewrite {
        std::filesystem::path path;
        std::uint64_t offset = 0; // of its earlier text in old-texts
        std::uint64_t length = 0;
        std::string oldMd5;
        std::string newMd5;
    };
    std::optional<std::filesystem::path> imagesFolder; // created by the run
    std::vector<RunJournal::Placed> placed;
    std::vector<Rewrite> rewrites;
    std::vector<RunJournal::Removal> removals;
    bool damaged = false; // some complete line could not be read: a record may be missing
};
std::optional<RunRecords> readRunRecords(const RecordedRun& run, std::error_code& error);

// A rewritten file's earlier bytes, checked against their recorded digest.
std::optional<Bytes> readOldText(const RecordedRun& run, const RunRecords::Rewrite& rewrite,
                                 std::error_code& error);

// Records that the run was undone: completely, and it is no longer offered for undo; or leaving
// some changes in place, and it stays offered so that a later undo can finish it. A line cut
// short at the end of the records is removed first.
std::error_code markUndone(const RecordedRun& run, bool complete, std::size_t left);

} // namespace tolvane
