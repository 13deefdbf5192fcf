// `optimize --yes` killed with SIGKILL at moments spread over a real run (scan, placing,
// rewriting, removing, re-scan): the site stays whole after every kill, and a second run
// finishes it to exactly what an uninterrupted run makes, with no temporary file left.
#include "bench/sitegen/sitegen.hpp"
#include "run/run_support.hpp"
#include "support/process.hpp"
#include "support/temp_dir.hpp"

#include <gtest/gtest.h>

#include <chrono>

namespace tolvane {
namespace {

namespace fs = std::filesystem;

TEST(OptimizeKill, ASiteKilledAtAnyMomentStaysWholeAndASecondRunFinishesIt) {
    test::TempDir dir;
    const fs::path original = dir / "original";
    sitegen::generateSite(original, {.seed = 11,
                                     .pages = 200,
                                     .imagesPerPage = 2,
                                     .sharedImages = 150,
                                     .sharedPerPage = 16,
                                     .nestedShare = 0.3,
                                     .minImageSize = 64,
                                     .maxImageSize = 2048,
                                     .assetCopies = 3});
    const auto before = test::snapshot(original);
    const auto references = test::referenceTargets(original);
    // Runs the command line on a copy of the site, killed after `seconds` unless it ended.
    const auto run = [&](const fs::path& site, const char* verb, double seconds) {
        std::vector<std::string> args{"timeout",   "-s", "KILL",       std::to_string(seconds),
                                      TOLVANE_CLI, verb, site.string()};
        if (std::string(verb) == "optimize")
            args.push_back("--yes");
        return test::runProcess(dir.path(), args, {"XDG_DATA_HOME=" + (dir / "data").string()});
    };

    fs::copy(original, dir / "whole", fs::copy_options::recursive);
    const auto started = std::chrono::steady_clock::now();
    ASSERT_EQ(run(dir / "whole", "optimize", 600).exitCode, 0);
    const double duration =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    const auto expected = test::snapshot(dir / "whole");
    int killed = 0;
    for (const double share : {0.1, 0.25, 0.4, 0.55, 0.7, 0.85, 0.95}) {
        SCOPED_TRACE("killed after " + std::to_string(share * duration) + " of " +
                     std::to_string(duration) + " s");
        const fs::path site = dir / "killed";
        fs::copy(original, site, fs::copy_options::recursive);
        const int status = run(site, "optimize", share * duration).exitCode;
        EXPECT_TRUE(status == 0 || status == 128 + 9) << status;
        killed += status != 0;
        EXPECT_EQ(test::brokenReferences(references, site), std::vector<std::string>{});
        EXPECT_EQ(test::lostFiles(before, site), std::vector<std::string>{});
        const auto check = run(site, "check", 600);
        EXPECT_EQ(check.exitCode, 0) << check.out << check.err;

        EXPECT_EQ(run(site, "optimize", 600).exitCode, 0);
        EXPECT_EQ(test::leftoverTemporaries(site), std::vector<std::string>{});
        EXPECT_TRUE(test::snapshot(site) == expected) << "not what the uninterrupted run made";
        fs::remove_all(site);
    }
    EXPECT_GE(killed, 4); // the late kills may come after the end
}

} // namespace
} // namespace tolvane
