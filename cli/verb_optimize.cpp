#include "cli/scan_report.hpp"
#include "cli/verbs.hpp"
#include "optimize/file_manager.hpp"
#include "optimize/run.hpp"
#include "util/log_line.hpp"

#include <cstdio>
#include <iostream>
#include <memory>
#include <string>
#include <unistd.h>

namespace tolvane::cli {

namespace {

// Log lines on stdout as the run writes them; sheets on stderr; a progress bar on stderr
// when it is a terminal. Control characters from file names are escaped, one line each.
class TerminalReporter : public RunReporter {
  public:
    TerminalReporter() : bar_(::isatty(STDERR_FILENO) == 1) {}

    void log(const std::string& line) override {
        clearBar();
        std::cout << printableLogLine(line) << '\n' << std::flush;
        drawBar();
    }
    void popupErrorMessage(const std::string& message,
                           const std::optional<FileError>& error) override {
        log(errorLogLine(message, error));
        clearBar();
        std::cerr << printableLogLine(message) << '\n';
        if (error)
            std::cerr << "  " << printableLogLine(error->localizedDescription()) << '\n';
        std::cerr << std::flush;
        drawBar();
    }
    void progressSetup(double maximum) override {
        maximum_ = maximum;
        value_ = 0;
        running_ = true;
        drawBar();
    }
    void progressStep() override {
        value_ += 1;
        drawBar();
    }
    void progressStop() override {
        clearBar();
        running_ = false;
    }
    void runCompleted() override {}

  private:
    void drawBar() {
        if (!bar_ || !running_)
            return;
        constexpr int width = 40;
        const double share = maximum_ > 0 ? value_ / maximum_ : 1.0;
        const int filled = static_cast<int>(share * width);
        std::string text = "\rOptimizing [" + std::string(static_cast<std::size_t>(filled), '#') +
                           std::string(static_cast<std::size_t>(width - filled), ' ') + "] " +
                           std::to_string(static_cast<long long>(value_)) + "/" +
                           std::to_string(static_cast<long long>(maximum_));
        std::cerr << text << std::flush;
        shown_ = true;
    }
    void clearBar() {
        if (shown_) {
            std::cerr << "\r\033[K" << std::flush;
            shown_ = false;
        }
    }

    bool bar_;
    bool running_ = false;
    bool shown_ = false;
    double maximum_ = 0;
    double value_ = 0;
};

// Asks on the terminal; only "y" or "yes" (any case) confirms.
bool confirmed() {
    std::cerr << "Are you sure?\n"
              << "WARNING. You are about to overwrite files within your website.\n"
              << "Continue? [y/N] " << std::flush;
    std::string answer;
    if (!std::getline(std::cin, answer))
        return false;
    for (auto& c : answer)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return answer == "y" || answer == "yes";
}

} // namespace

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
    verbs.emplace_back(command, [=] {
        if (!checkWebsiteFolder(*site, std::cerr))
            return exitUsage;
        const std::filesystem::path root = std::filesystem::absolute(*site).lexically_normal();
        const ScanResult scan = scanShowingProgress(root);
        printScanSummary(std::cout, scan);
        std::cout << std::flush;
        if (scan.duplicates.empty())
            return exitOk;

        // A dry run overwrites nothing, so it needs no confirmation.
        if (!*yes && !*dryRun) {
            if (::isatty(STDIN_FILENO) != 1) {
                std::cerr << "Refusing to change the website without confirmation: there is no "
                             "terminal to ask on. Add --yes to confirm.\n";
                return exitUsage;
            }
            if (!confirmed()) {
                std::cerr << "Nothing was changed.\n";
                return exitOk;
            }
        }

        std::cout << '\n';
        TerminalReporter reporter;
        RunOutcome outcome;
        if (*dryRun) {
            DryRunFileManager plan;
            outcome = startOptimization(scan, plan, reporter);
            std::cout << "Dry run: nothing was changed. The run would remove "
                      << outcome.copiesRemoved << " copies, save " << outcome.bytesSaved
                      << " bytes and rewrite " << outcome.filesRewritten << " files.\n";
        } else {
            RealFileManager files;
            outcome = startOptimization(scan, files, reporter);
            std::cout << (outcome.completed ? "Run complete: removed " : "Run ended at a failure after removing ")
                      << outcome.copiesRemoved << " copies, saved " << outcome.bytesSaved
                      << " bytes, rewrote " << outcome.filesRewritten << " files.\n"
                      << std::flush;
            if (outcome.completed) {
                std::cout << '\n';
                printScanSummary(std::cout, scanShowingProgress(root));
            }
        }
        std::cout.flush();
        if (!std::cout)
            return exitFailure;
        return outcome.completed && outcome.errorSheets == 0 ? exitOk : exitFailure;
    });
}

} // namespace tolvane::cli
