// A complete optimization run on a large generated site: the scan of the site, then the run as
// the command line makes it (recorded for undo, in a data folder inside the work folder), its
// time split into placing/removing and page rewriting, the re-scan, and the peak memory.
//
// Usage: tolvane-bench-run [--preset medium|large|plain] [--pages N] [--images-per-page N]
//            [--shared-images N] [--shared-per-page N] [--min-size N] [--max-size N]
//            [--seed N] [--folder DIR] [--keep]

#include "bench/sitegen/sitegen.hpp"
#include "cli/event_text.hpp"
#include "run/file_manager.hpp"
#include "run/run.hpp"
#include "run/run_journal.hpp"
#include "scan/scan.hpp"

#include <CLI/CLI.hpp>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <stdexcept>
#include <string>
#include <sys/resource.h>

namespace {

using namespace tolvane;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// Counts the log lines a run reports and prints only its failures.
class QuietReporter : public RunReporter {
  public:
    void report(const Event& event) override {
        const std::vector<std::string> text = cli::logLines(event);
        lines += text.size();
        if (isFailure(event.kind))
            for (const std::string& line : text)
                std::cerr << line << '\n';
    }
    std::size_t lines = 0;
};

double seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// The process's peak resident memory so far, in MiB.
double peakMiB() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0; // ru_maxrss is in KiB on Linux
}

} // namespace

int main(int argc, char** argv) {
    CLI::App app{"Time a complete optimization run on a generated site"};
    std::string preset = "large";
    int pages = 0;
    std::string folder = fs::temp_directory_path().string();
    bool keep = false;
    std::uint64_t seed = 1;
    app.add_option("--preset", preset,
                   "Generated site: medium, large, or plain (the generator's own defaults, as "
                   "tolvane-gensite without --preset)")
        ->check(CLI::IsMember({"medium", "large", "plain"}));
    app.add_option("--pages", pages, "Override the number of pages");
    app.add_option("--seed", seed, "Seed of the generated site");
    sitegen::SiteShape given;
    app.add_option("--images-per-page", given.imagesPerPage, "Override page images per folder");
    app.add_option("--shared-images", given.sharedImages, "Override the shared image pool");
    app.add_option("--shared-per-page", given.sharedPerPage,
                   "Override the shared images per folder");
    app.add_option("--min-size", given.minImageSize, "Override the smallest image in bytes");
    app.add_option("--max-size", given.maxImageSize, "Override the largest image in bytes");
    app.add_option("--folder", folder, "Where to generate the site");
    app.add_flag("--keep", keep, "Keep the optimized site");
    CLI11_PARSE(app, argc, argv);

    sitegen::SiteShape shape = preset == "medium"  ? sitegen::mediumBenchShape(seed)
                               : preset == "large" ? sitegen::largeBenchShape(seed)
                                                   : sitegen::SiteShape{};
    shape.seed = seed;
    if (pages > 0)
        shape.pages = pages;
    auto take = [&](const char* option, auto& field, const auto& value) {
        if (app.count(option) > 0)
            field = value;
    };
    take("--images-per-page", shape.imagesPerPage, given.imagesPerPage);
    take("--shared-images", shape.sharedImages, given.sharedImages);
    take("--shared-per-page", shape.sharedPerPage, given.sharedPerPage);
    take("--min-size", shape.minImageSize, given.minImageSize);
    take("--max-size", shape.maxImageSize, given.maxImageSize);
    std::string pattern = (fs::path(folder) / "tolvane-bench-run-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) {
        std::cerr << "cannot make a folder in " << folder << '\n';
        return 1;
    }
    const fs::path root = fs::path(pattern) / "site";
    // The run's undo record goes to the work folder, never to the user's data folder.
    const fs::path dataHome = fs::path(pattern) / "data";
    ::setenv("XDG_DATA_HOME", dataHome.c_str(), 1);
    int status = 0;
    try {
        auto started = Clock::now();
        const auto site = sitegen::generateSite(root, shape);
        std::printf("site: %d pages, %llu images, %.2f GB, %zu groups (generated in %.1f s)\n",
                    shape.pages, static_cast<unsigned long long>(site.imageFiles),
                    static_cast<double>(site.imageBytes) / 1e9, site.groups.size(),
                    seconds(Clock::now() - started));
        const double generatorPeak = peakMiB();

        started = Clock::now();
        const ScanResult scan = scanWebsite(root);
        const double scanTime = seconds(Clock::now() - started);
        std::size_t copies = 0;
        for (const auto& group : scan.duplicates)
            copies += group.copies.size();
        const double scanPeak = peakMiB();

        // As `tolvane-cli optimize --yes` runs it: the record for undo is started first and
        // kept by the run before each phase.
        RealFileManager files;
        QuietReporter reporter;
        started = Clock::now();
        std::error_code journalError;
        std::optional<RunJournal> journal = RunJournal::start(root, journalError);
        if (!journal)
            throw std::runtime_error("cannot record the run in " + dataHome.string() + ": " +
                                     journalError.message());
        RunOptions options;
        options.journal = &*journal;
        const RunOutcome outcome = startOptimization(scan, files, reporter, options);
        const double runTime = seconds(Clock::now() - started);
        const double runPeak = peakMiB();
        std::uintmax_t recordBytes = 0;
        for (const auto& entry : fs::recursive_directory_iterator(journal->folder()))
            if (entry.is_regular_file())
                recordBytes += entry.file_size();

        started = Clock::now();
        const ScanResult rescan = scanWebsite(root);
        const double rescanTime = seconds(Clock::now() - started);

        std::printf("scan:    %.2f s, %zu groups, %zu copies\n", scanTime, scan.duplicates.size(),
                    copies);
        std::printf("run:     %.2f s (placing/removing %.2f s, rewriting %.2f s), %s, %d sheets\n",
                    runTime, seconds(outcome.fileTime), seconds(outcome.rewriteTime),
                    outcome.completed ? "complete" : "ended at a failure", outcome.errorSheets);
        std::printf(
            "         %zu copies removed, %.1f MB saved, %zu files rewritten, %zu log lines\n",
            outcome.copiesRemoved, static_cast<double>(outcome.bytesSaved) / 1e6,
            outcome.filesRewritten, reporter.lines);
        std::printf("         undo record %.1f MB\n", static_cast<double>(recordBytes) / 1e6);
        std::printf("re-scan: %.2f s, %zu groups left\n", rescanTime, rescan.duplicates.size());
        std::printf("run / scan: %.2f\n", runTime / scanTime);
        std::printf("peak RSS: %.1f MiB (after generating %.1f, after the scan %.1f, after the "
                    "run %.1f)\n",
                    peakMiB(), generatorPeak, scanPeak, runPeak);
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
