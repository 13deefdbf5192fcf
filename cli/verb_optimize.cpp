#include "cli/choices.hpp"
#include "cli/event_text.hpp"
#include "cli/scan_report.hpp"
#include "cli/terminal.hpp"
#include "cli/verbs.hpp"
#include "run/file_manager.hpp"
#include "run/run.hpp"
#include "run/run_journal.hpp"

#include <cstdio>
#include <iostream>
#include <memory>
#include <string>

namespace tolvane::cli {

void addOptimizeVerb(CLI::App& app, Verbs& verbs) {
    CLI::App* command = app.add_subcommand(
        "optimize", "Keep one copy of each duplicate image in images/, remove the others and "
                    "rewrite the pages that showed them");
    command->footer("Changes the website in place. Use --dry-run first to see every step.");
    auto site = std::make_shared<std::string>();
    auto yes = std::make_shared<bool>(false);
    auto dryRun = std::make_shared<bool>(false);
    command->add_option("SITE", *site, "Root folder of the website (it holds index.html)")
        ->required();
    command->add_flag("--yes,-y", *yes, "Do not ask for confirmation");
    command->add_flag("--dry-run,-n", *dryRun,
                      "Print every step the run would take and change nothing on disk");
    auto chosen = std::make_shared<ChoiceOptions>();
    addChoiceOptions(*command, *chosen);
    verbs.emplace_back(command, [=] {
        if (!checkWebsiteFolder(*site, std::cerr))
            return exitUsage;
        const std::filesystem::path root = std::filesystem::absolute(*site).lexically_normal();
        ScanResult scan = scanShowingProgress(root);
        const std::optional<PlanChoices> choices = applyChoices(*chosen, scan, std::cerr);
        if (!choices)
            return exitUsage;
        if (choices->empty())
            printScanSummary(std::cout, scan);
        else
            printScanWithPlan(std::cout, scan, false, *choices); // what the choices make of it
        std::cout << std::flush;
        if (scan.duplicates.empty())
            return exitOk;

        // A dry run overwrites nothing, so it needs no confirmation.
        if (!*yes && !*dryRun) {
            if (const auto refused = refusedWithoutConfirmation())
                return *refused;
        }

        std::cout << '\n';
        TerminalReporter reporter;
        RunOutcome outcome;
        if (*dryRun) {
            printDryRun(std::cout, scan, *choices);
            std::cout.flush();
            return std::cout ? exitOk : exitFailure;
        }
        // What undo needs is recorded outside the site; without that record, nothing is
        // touched.
        std::error_code journalError;
        std::optional<RunJournal> journal = RunJournal::start(root, journalError);
        if (!journal) {
            std::cerr << "Unable to record the run for undo in " << journalHome().string() << ": "
                      << errorReason(journalError) << "\nNothing was changed.\n";
            return exitFailure;
        }
        RealFileManager files;
        RunOptions options;
        options.journal = &*journal;
        options.choices = *choices;
        options.progress = &reporter.progress;
        // The run lists the text files itself: the scan's listing is only memory from here.
        scan.listing.reset();
        outcome = startOptimization(scan, files, reporter, options);
        // What is left first, then what the run did: the last line says how it went.
        if (outcome.completed) {
            const ScanResult rescan = scanShowingProgress(root);
            std::cout << '\n';
            if (rescan.duplicates.empty())
                std::cout << "No duplicate images are left.\n";
            else
                printScanWithPlan(std::cout, rescan, false);
        }
        std::cout << (outcome.completed ? "Run complete: removed "
                                        : "Run ended at a failure after removing ")
                  << counted(outcome.copiesRemoved, "copy", "copies") << ", saved "
                  << counted(outcome.bytesSaved, "byte", "bytes") << "; "
                  << counted(outcome.filesRewritten, "file", "files") << " rewritten\n";
        std::cout.flush();
        if (!std::cout)
            return exitFailure;
        return outcome.completed && outcome.errorSheets == 0 ? exitOk : exitFailure;
    });
}

} // namespace tolvane::cli
