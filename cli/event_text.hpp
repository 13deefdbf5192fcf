#pragma once

#include "run/reporter.hpp"

#include <optional>
#include <string>
#include <system_error>
#include <vector>

namespace tolvane::cli {

// The action log's lines for an event, in English, as the command line writes them: none for
// the end events, one or more for the rest; a failure's line is its sheet message followed by
// ", error: " and the failed step's description.
std::vector<std::string> logLines(const Event& event);

// A failure's sheet message ("Unable to move logo.png to the site images folder"); empty for
// other events.
std::string failureMessage(const Event& event);

// The reason an error code gives, for a person: the tool's own codes as sentences, the system's
// as the system says them.
std::string errorReason(const std::error_code& code);

// Why a URL cannot be followed or leads nowhere ("an absolute URL: where it leads on the
// published site is not known").
std::string urlProblemText(UrlProblem problem, const std::string& detail,
                           const std::error_code& error = {});

// Why a copy stays, after the file's path ("line 3: \"a.png\": an absolute URL: ...").
std::string keepReasonText(const KeepReason& reason);

// For the action log: the operation, its paths and the system's reason with its number
// ("Cannot move /S/a.png to /S/images/a.png: File exists (generic 17)").
std::string describe(const FileError& error);

// For a person: one sentence naming the file and what went wrong.
std::string explain(const FileError& error);

// The message a refused run or undo shows: names the site, says to try again later.
std::string siteBusyMessage(const std::filesystem::path& root);

// "<message>, error: <description>", the log line every failure also writes.
std::string errorLogLine(const std::string& message, const std::optional<FileError>& error);

} // namespace tolvane::cli
