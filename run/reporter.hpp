#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
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

    // For the action log: operation, paths and the system's reason with its number.
    std::string description() const;
    // For the error sheet: one sentence a user can read.
    std::string localizedDescription() const;
};

// Looks up the translation of a user-visible piece by its English text.
using Localize = std::function<std::string(std::string_view english)>;
inline std::string englishText(std::string_view english) {
    return std::string(english);
}

// What a run tells its caller: the window turns each call into a queued signal, the command
// line prints, the tests record. Calls come from the thread the run works on, in order. Its
// progress goes through a Progress the caller polls.
class RunReporter {
  public:
    virtual ~RunReporter() = default;

    // One action-log line, exactly as given.
    virtual void log(const std::string& line) = 0;
    // A failure: logs errorLogLine(message, error) and shows the sheet (message, with the
    // error's localizedDescription() as detail). Never waits for the user.
    virtual void popupErrorMessage(const std::string& message,
                                   const std::optional<FileError>& error) = 0;
    // The work is over, whether complete or not: its progress says finished.
    virtual void progressStop() = 0;
    // A run got to its end: the caller disables its optimize control and scans again.
    virtual void runCompleted() = 0;
};

// "<message>, error: <description>", the log line every error sheet also writes.
std::string errorLogLine(const std::string& message, const std::optional<FileError>& error);

} // namespace tolvane

template <> struct std::is_error_code_enum<tolvane::RunErrc> : std::true_type {};
