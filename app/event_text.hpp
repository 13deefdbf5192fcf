#pragma once

#include "run/reporter.hpp"

#include <QCoreApplication>
#include <QString>
#include <QStringList>

#include <system_error>

namespace tolvane {

// The window's words for what a run, an undo or a page rewrite reports: whole sentences in the
// window's language (English without a catalogue, as the command line writes them).
class EventText {
    Q_DECLARE_TR_FUNCTIONS(tolvane::EventText)

  public:
    // The action log's lines for an event: none for the end events; a failure's line is its
    // message, ", error: " and the failed step's description.
    static QStringList logLines(const Event& event);
    // A failure's sheet message; empty for other events.
    static QString failureMessage(const Event& event);
    // The failed step for the log: operation, paths, reason and its number.
    static QString describe(const FileError& error);
    // The failed step for a person: the file and what went wrong, in one sentence.
    static QString explain(const FileError& error);
    // Why a URL cannot be followed or leads nowhere.
    static QString urlProblem(UrlProblem problem, const std::string& detail,
                              const std::error_code& error = {});
    // Why a copy stays, after the file's path.
    static QString keepReason(const KeepReason& reason);
    // The message a refused run or undo shows: names the site, says to try again later.
    static QString siteBusyMessage(const std::filesystem::path& root);
    // The reason of an error code: the tool's own codes translated, the system's as it says.
    static QString reason(const std::error_code& code);
};

} // namespace tolvane
