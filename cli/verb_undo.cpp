#include "cli/event_text.hpp"
#include "cli/scan_report.hpp"
#include "cli/terminal.hpp"
#include "cli/verbs.hpp"
#include "run/file_manager.hpp"
#include "run/run_journal.hpp"
#include "run/site_lock.hpp"
#include "run/undo.hpp"

#include <iostream>
#include <memory>
#include <optional>
#include <string>

namespace tolvane::cli {

namespace {

namespace fs = std::filesystem;

// One run as a line of the history: its local time, its counts, how it ended.
std::string describe(const RecordedRun& run) {
    const std::string most = run.summaryIsUpperBound ? "at most " : "";
    return localTimeText(run.time) + "  removed " + most +
           counted(run.summary.copiesRemoved, "copy", "copies") + ", saved " + most +
           counted(run.summary.bytesSaved, "byte", "bytes") + ", rewrote " + most +
           counted(run.summary.filesRewritten, "file", "files") + " (" +
           (run.finished ? "finished" : "cut short") + ")";
}

// The site's lock, or the refusal printed on stderr.
std::optional<SiteLock> lockSite(const fs::path& root) {
    std::error_code error;
    std::optional<SiteLock> lock = SiteLock::tryAcquire(root, error);
    if (!lock) {
        if (error == std::errc::resource_unavailable_try_again)
            std::cerr << siteBusyMessage(root) << '\n';
        else
            std::cerr << "tolvane-cli: cannot lock " << root.string() << ": " << error.message()
                      << '\n';
    }
    return lock;
}

fs::path siteRoot(const std::string& site) {
    return fs::absolute(site).lexically_normal();
}

} // namespace

void addUndoVerbs(CLI::App& app, Verbs& verbs) {
    CLI::App* undo =
        app.add_subcommand("undo", "Put the website back as it was before its last optimization");
    undo->footer("Removed copies come back, rewritten files get their earlier text, files the "
                 "optimization added go. A file changed since then is left and reported.");
    auto site = std::make_shared<std::string>();
    auto yes = std::make_shared<bool>(false);
    undo->add_option("SITE", *site, "Root folder of the website (it holds index.html)")->required();
    undo->add_flag("--yes,-y", *yes, "Do not ask for confirmation");
    verbs.emplace_back(undo, [=] {
        if (!checkWebsiteFolder(*site, std::cerr))
            return exitUsage;
        const fs::path root = siteRoot(*site);
        const std::optional<SiteLock> lock = lockSite(root);
        if (!lock)
            return exitFailure;
        const std::optional<RecordedRun> run = lastUndoableRun(root);
        if (!run) {
            std::cerr << "Nothing to undo: no optimization of " << root.string()
                      << " can be undone.\n";
            return exitFailure;
        }
        std::cout << "Undoing the optimization of " << describe(*run) << "\n" << std::flush;
        if (!*yes) {
            if (const auto refused = refusedWithoutConfirmation())
                return *refused;
        }
        std::cout << '\n';
        TerminalReporter reporter("Undoing");
        RealFileManager files;
        const UndoOutcome outcome = undoRun(*run, files, reporter, &reporter.progress);
        std::cout << (outcome.complete
                          ? "Undo complete: restored "
                          : "Undo incomplete: " + counted(outcome.left, "change", "changes") +
                                " could not be undone (see above); restored ")
                  << counted(outcome.copiesRestored, "copy", "copies") << " and "
                  << counted(outcome.filesRestored, "file", "files") << ", removed "
                  << counted(outcome.filesRemoved, "added file", "added files") << ".\n";
        std::cout.flush();
        if (!std::cout)
            return exitFailure;
        return outcome.complete ? exitOk : exitFailure;
    });

    CLI::App* history = app.add_subcommand(
        "history", "List the optimizations of the website that undo can put back");
    auto historySite = std::make_shared<std::string>();
    history->add_option("SITE", *historySite, "Root folder of the website (it holds index.html)")
        ->required();
    verbs.emplace_back(history, [=] {
        if (!checkWebsiteFolder(*historySite, std::cerr))
            return exitUsage;
        const fs::path root = siteRoot(*historySite);
        const std::optional<SiteLock> lock = lockSite(root);
        if (!lock)
            return exitFailure;
        std::size_t listed = 0;
        for (const RecordedRun& run : recordedRuns(root)) {
            if (!run.undoable)
                continue;
            if (listed++ == 0)
                std::cout << "Optimizations of " << root.string()
                          << " that undo can put back, newest first:\n";
            std::cout << "  " << describe(run)
                      << (run.undoLeftSomething ? " (undo incomplete)" : "") << '\n';
        }
        if (listed == 0)
            std::cout << "No optimization of " << root.string() << " can be undone.\n";
        else
            std::cout << "\"tolvane-cli undo\" puts back the first one.\n";
        std::cout.flush();
        return std::cout ? exitOk : exitFailure;
    });
}

} // namespace tolvane::cli
