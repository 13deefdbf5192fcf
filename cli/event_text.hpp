#pragma once

#include "run/reporter.hpp"

#include <optional>
#include <string>
#include <vector>

namespace tolvane::cli {

// The action log's lines for an event, in English, as the command line writes them: none for
// the end events, one or more for the rest; a failure's line is its sheet message followed by
// ", error: " and the failed step's description.
std::vector<std::string> logLines(const Event& event);

// A failure's sheet message ("Unable to move logo.png to the site images folder"); empty for
// other events.
std::string failureMessage(const Event& event);

// For the action log: the operation, its paths and the system's reason with its number
// ("Cannot move /S/a.png to /S/images/a.png: File exists (generic 17)").
std::string describe(const FileError& error);

// For a person: one sentence naming the file and what went wrong.
std::string explain(const FileError& error);

// "<message>, error: <description>", the log line every failure also writes.
std::string errorLogLine(const std::string& message, const std::optional<FileError>& error);

} // namespace tolvane::cli
