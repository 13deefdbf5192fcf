// A complete optimization run on a large generated site: the scan of the site, then the run,
// its time split into moving/deleting and page rewriting, and the re-scan.
//
// Usage: tolvane-bench-run [--preset medium|large] [--pages N] [--folder DIR] [--keep]

#include "bench/sitegen/sitegen.hpp"
#include "optimize/file_manager.hpp"
#include "optimize/run.hpp"
#include "scan/scan.hpp"

#include <CLI/CLI.hpp>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <stdexcept>
#include <string>

namespace {

using namespace tolvane;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// Counts what a run reports and prints only its sheets.
class QuietReporter : public RunReporter {
  public:
    void log(const std::string&) override { ++lines; }
    void popupErrorMessage(const std::string& message,
                           const std::optional<FileError>& error) override {
        std::cerr << errorLogLine(message, error) << '\n';
    }
    void progressSetup(double) override {}
    void progressStep() override {}
    void progressStop() override {}
    void runCompleted() override {}
    std::size_t lines = 0;
};

double seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

} // namespace

int main(int argc, char** argv) {
    CLI::App app{"Time a complete optimization run on a generated site"};
    std::string preset = "large";
    int pages = 0;
    std::string folder = fs::temp_directory_path().string();
    bool keep = false;
    std::uint64_t seed = 1;
    app.add_option("--preset", preset, "Generated site: medium or large")
        ->check(CLI::IsMember({"medium", "large"}));
    app.add_option("--pages", pages, "Override the number of pages");
    app.add_option("--seed", seed, "Seed of the generated site");
    app.add_option("--folder", folder, "Where to generate the site");
    app.add_flag("--keep", keep, "Keep the optimized site");
    CLI11_PARSE(app, argc, argv);

    sitegen::SiteSpec shape = preset == "medium" ? sitegen::mediumBenchSpec(seed)
                                                : sitegen::largeBenchSpec(seed);
    if (pages > 0)
        shape.pages = pages;
    std::string pattern = (fs::path(folder) / "tolvane-bench-run-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) {
        std::cerr << "cannot make a folder in " << folder << '\n';
        return 1;
    }
    const fs::path root = fs::path(pattern) / "site";
    int status = 0;
    try {
        auto started = Clock::now();
        const auto site = sitegen::generateSite(root, shape);
        std::printf("site: %d pages, %llu images, %.2f GB, %zu groups (generated in %.1f s)\n",
                    shape.pages, static_cast<unsigned long long>(site.imageFiles),
                    static_cast<double>(site.imageBytes) / 1e9, site.groups.size(),
                    seconds(Clock::now() - started));

        started = Clock::now();
        const ScanResult scan = scanWebsite(root);
        const double scanTime = seconds(Clock::now() - started);
        std::size_t copies = 0;
        for (const auto& group : scan.duplicates)
            copies += group.copies.size();

        RealFileManager files;
        QuietReporter reporter;
        started = Clock::now();
        const RunOutcome outcome = startOptimization(scan, files, reporter);
        const double runTime = seconds(Clock::now() - started);

        started = Clock::now();
        const ScanResult rescan = scanWebsite(root);
        const double rescanTime = seconds(Clock::now() - started);

        std::printf("scan:    %.2f s, %zu groups, %zu copies\n", scanTime, scan.duplicates.size(),
                    copies);
        std::printf("run:     %.2f s (moving/deleting %.2f s, rewriting %.2f s), %s, %d sheets\n",
                    runTime, seconds(outcome.fileTime), seconds(outcome.rewriteTime),
                    outcome.completed ? "complete" : "ended at a failure", outcome.errorSheets);
        std::printf("         %zu copies removed, %.1f MB saved, %zu files rewritten, %zu log lines\n",
                    outcome.copiesRemoved, static_cast<double>(outcome.bytesSaved) / 1e6,
                    outcome.filesRewritten, reporter.lines);
        std::printf("re-scan: %.2f s, %zu groups left\n", rescanTime, rescan.duplicates.size());
        std::printf("run / scan: %.2f\n", runTime / scanTime);
        if (!outcome.completed || !rescan.duplicates.empty())
            status = 1;
    } catch (const std::exception& e) {
        std::cerr << "error: " << e.what() << '\n';
        status = 1;
    }
    if (!keep)
        fs::remove_all(pattern);
    else
        std::printf("site kept in %s\n", root.c_str());
    return status;
}
