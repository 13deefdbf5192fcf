// A run cut short at any step leaves every reference leading to the bytes it led to, a later
// run completes the site to what an uninterrupted run gives, and undo puts it back.
#include "refs/references.hpp"
#include "run/run.hpp"
#include "run/run_journal.hpp"
#include "run/site_lock.hpp"
#include "run/undo.hpp"
#include "scan/scan.hpp"

#include "run/run_support.hpp"

#include <gtest/gtest.h>

namespace tolvane {
namespace {

namespace fs = std::filesystem;
using test::writeFile;

// Nested pages, a reference written percent-encoded, a script beside its page, and a group
// whose copy must stay where it is (a script that no page loads names it).
void writeSite(const fs::path& root) {
    writeFile(root / "index.html", "<img src=\"A_files/logo.png\">");
    writeFile(root / "A.html", "<img src=\"A_files/logo.png\"><img src=\"A_files/x.png\">"
                               "<script src=\"A_files/A.js\"></script>");
    writeFile(root / "A_files/A.js", "img.src = \"A_files\\/logo.png\";");
    writeFile(root / "A_files/logo.png", "LOGO");
    writeFile(root / "A_files/x.png", "XX");
    writeFile(root / "B.html", "<img src=\"B_files/logo.png\"><img src=\"B_files/x.png\">"
                               "<img src=\"B_files/star.gif\">");
    writeFile(root / "B_files/logo.png", "LOGO");
    writeFile(root / "B_files/x.png", "XX");
    writeFile(root / "B_files/star.gif", "STAR");
    writeFile(root / "Blog/2024/Entry.html",
              "<img src=\"Entry_files/log%6F.png\"><img src=\"../../C_files/star.gif\">");
    writeFile(root / "Blog/2024/Entry_files/logo.png", "LOGO");
    writeFile(root / "C.html", "<img src=\"C_files/star.gif\">");
    writeFile(root / "C_files/star.gif", "STAR");
    writeFile(root / "C_files/x.png", "XX");
    writeFile(root / "js/lonely.js", "preload(\"C_files/x.png\");");
}

class RunCrashTest : public ::testing::Test {
  protected:
    fs::path freshSite(const std::string& name) {
        const fs::path root = dir / name;
        writeSite(root);
        return root;
    }

    // A run as the command line starts it: recorded for undo, every step through files.
    RunOutcome optimize(const fs::path& root, FileManager& files) {
        std::error_code error;
        std::optional<RunJournal> journal = RunJournal::start(root, error);
        EXPECT_TRUE(journal) << error.message();
        RunOptions options;
        options.journal = journal ? &*journal : nullptr;
        test::RecordingReporter reporter;
        return startOptimization(scanWebsite(root), files, reporter, options);
    }

    // Every reference written plainly still leads to its bytes, and every reference the
    // check follows (the encoded one too) leads to a file.
    static void expectEveryReferenceResolves(const test::ReferenceMap& before, const fs::path& root,
                                             const std::string& when) {
        EXPECT_EQ(test::brokenReferences(before, root), std::vector<std::string>{}) << when;
        const SiteCheck check = checkSite(root);
        for (const auto& broken : check.broken)
            ADD_FAILURE() << when << ": " << broken.file << " leads nowhere: " << broken.text;
    }

    test::TempDir dir;
    RealFileManager real;
};

TEST_F(RunCrashTest, ACrashAtEveryStepBreaksNothingAndIsCompletedOrUndone) {
    const fs::path original = freshSite("original");
    const auto before = test::referenceTargets(original);
    const auto files = test::snapshot(original);
    ASSERT_TRUE(checkSite(original).broken.empty());

    // The uninterrupted run, and how many changes to the disk it takes.
    const fs::path whole = freshSite("whole");
    test::FailingFileManager counting(real);
    const RunOutcome done = optimize(whole, counting);
    ASSERT_TRUE(done.completed);
    ASSERT_EQ(done.errorSheets, 0);
    const auto expected = test::snapshot(whole);
    ASSERT_FALSE(fs::exists(whole / "A_files/logo.png"));
    ASSERT_TRUE(fs::exists(whole / "C_files/x.png")); // the copy that must stay is kept
    ASSERT_FALSE(fs::exists(whole / "images/x.png"));
    const std::size_t steps = counting.changes();
    ASSERT_GE(steps, 10u);

    for (std::size_t k = 0; k < steps; ++k) {
        const std::string when =
            "crash after " + std::to_string(k) + " of " + std::to_string(steps) + " changes";
        const fs::path site = freshSite("site-" + std::to_string(k));
        test::FailingFileManager crashing(real);
        crashing.crashAfter(k);
        EXPECT_THROW(optimize(site, crashing), test::SimulatedCrash) << when;
        expectEveryReferenceResolves(before, site, when);
        EXPECT_EQ(test::lostFiles(files, site), std::vector<std::string>{}) << when;

        // Undo of the crashed run, on a second site cut at the same step.
        const fs::path undone = freshSite("undone-" + std::to_string(k));
        test::FailingFileManager crashingToo(real);
        crashingToo.crashAfter(k);
        EXPECT_THROW(optimize(undone, crashingToo), test::SimulatedCrash) << when;
        if (const auto run = lastUndoableRun(undone)) {
            std::error_code lockError;
            const auto lock = SiteLock::tryAcquire(undone, lockError);
            ASSERT_TRUE(lock) << lockError.message();
            test::RecordingReporter undoReporter;
            EXPECT_TRUE(undoRun(*run, real, undoReporter).complete) << when;
        }
        EXPECT_EQ(test::snapshot(undone), files) << when;

        // The next run finds what is left and completes it.
        const RunOutcome repaired = optimize(site, real);
        EXPECT_TRUE(repaired.completed) << when;
        EXPECT_EQ(repaired.errorSheets, 0) << when;
        EXPECT_EQ(test::snapshot(site), expected) << when;
        expectEveryReferenceResolves(before, site, when);
    }
}

} // namespace
} // namespace tolvane
