#include "run/file_manager.hpp"
#include "run/run_journal.hpp"
#include "run/run_support.hpp"
#include "run/site_lock.hpp"
#include "support/process.hpp"
#include "support/simulated_run.hpp"
#include "support/temp_dir.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tolvane {
namespace {

namespace fs = std::filesystem;
using test::readFile;
using test::writeFile;

const std::string cli = TOLVANE_CLI;

// Two pages sharing logo.png, and what a run does to them.
test::RunPlan exampleSite(const fs::path& site) {
    writeFile(site / "index.html", "<html></html>");
    test::RunPlan plan;
    plan.root = site;
    for (const std::string page : {"A", "B"}) {
        writeFile(site / (page + "_files/logo.png"), "LOGO");
        writeFile(site / (page + ".html"), "<img src=\"" + page + "_files/logo.png\">");
        plan.rewrite.push_back({site / (page + ".html"), "<img src=\"images/logo.png\">"});
        plan.remove.push_back({site / (page + "_files/logo.png"), site / "images/logo.png"});
    }
    plan.place = {{site / "A_files/logo.png", site / "images/logo.png"}};
    return plan;
}

class UndoVerbTest : public ::testing::Test {
  protected:
    void SetUp() override {
        site = dir / "S";
        plan = exampleSite(site);
        original = test::snapshot(site);
    }

    // Without a terminal, as in CI, recording into this test's own folder, in UTC.
    test::ProcessResult tolvane(std::vector<std::string> args) {
        args.insert(args.begin(), {"setsid", "-w", cli});
        return test::runProcess(dir.path(), args, {home.setting(), "TZ=UTC"});
    }

    // Gives the newest run the name of another time.
    void renameNewestRun(const std::string& name) {
        const auto runs = recordedRuns(site);
        ASSERT_FALSE(runs.empty());
        fs::rename(runs.front().folder, runs.front().folder.parent_path() / name);
    }

    test::ScopedJournalHome home;
    test::TempDir dir;
    fs::path site;
    test::RunPlan plan;
    std::map<std::string, std::string> original;
    RealFileManager real;
};

TEST_F(UndoVerbTest, UndoPutsTheSiteBackAndIsNotOfferedAgain) {
    test::simulateRun(plan, real);
    renameNewestRun("20260102T030405Z-000001");
    const std::string S = site.string();

    auto history = tolvane({"history", S});
    EXPECT_EQ(history.exitCode, 0) << history.err;
    EXPECT_EQ(history.out, "Optimizations of " + S +
                               " that undo can put back, newest first:\n"
                               "  2026-01-02 03:04:05  removed 2 copies, saved 8 bytes, rewrote 2 "
                               "files (finished)\n"
                               "\"tolvane-cli undo\" puts back the first one.\n");

    const auto undo = tolvane({"undo", "--yes", S});
    EXPECT_EQ(undo.exitCode, 0) << undo.err;
    EXPECT_EQ(undo.err, "");
    EXPECT_EQ(test::snapshot(site), original);
    EXPECT_NE(undo.out.find("Undoing the optimization of 2026-01-02 03:04:05  removed 2 copies"),
              std::string::npos)
        << undo.out;
    EXPECT_NE(undo.out.find("Restoring duplicate file: logo.png to " + S +
                            "/A_files\n"
                            "Restoring duplicate file: logo.png to " +
                            S +
                            "/B_files\n"
                            "Restoring file: " +
                            S +
                            "/A.html\n"
                            "Restoring file: " +
                            S +
                            "/B.html\n"
                            "Removing added file: " +
                            S +
                            "/images/logo.png\n"
                            "Removing added folder: " +
                            S + "/images\n"),
              std::string::npos)
        << undo.out;
    EXPECT_NE(undo.out.find("Undo complete: restored 2 copies and 2 files, removed 1 added file."),
              std::string::npos)
        << undo.out;
    EXPECT_EQ(undo.err.find("Undoing ["), std::string::npos); // no bar off a terminal

    history = tolvane({"history", S});
    EXPECT_EQ(history.exitCode, 0);
    EXPECT_EQ(history.out, "No optimization of " + S + " can be undone.\n");
    const auto again = tolvane({"undo", "--yes", S});
    EXPECT_EQ(again.exitCode, 1);
    EXPECT_EQ(again.err, "Nothing to undo: no optimization of " + S + " can be undone.\n");
    EXPECT_EQ(test::snapshot(site), original);
}

TEST_F(UndoVerbTest, HistoryListsNewestFirstAndSaysWhichRunsWereCutShort) {
    // An earlier run, finished, then a second one cut short while removing.
    test::simulateRun(plan, real);
    renameNewestRun("20251231T235959Z-000001");
    const fs::path more = site / "C_files/logo.png";
    writeFile(more, "LOGO");
    test::RunPlan second;
    second.root = site;
    second.remove = {{more, site / "images/logo.png"}};
    test::simulateRun(second, real,
                      4); // started, nothing placed or rewritten, the removal recorded
    renameNewestRun("20260101T000001Z-000002");

    const auto history = tolvane({"history", site.string()});
    EXPECT_EQ(history.exitCode, 0) << history.err;
    EXPECT_EQ(
        history.out,
        "Optimizations of " + site.string() +
            " that undo can put back, newest first:\n"
            "  2026-01-01 00:00:01  removed at most 1 copy, saved at most 4 bytes, rewrote at "
            "most 0 files (cut short)\n"
            "  2025-12-31 23:59:59  removed 2 copies, saved 8 bytes, rewrote 2 files (finished)\n"
            "\"tolvane-cli undo\" puts back the first one.\n");

    // Undo takes back the newest first; the copy it never removed is left alone.
    auto undo = tolvane({"undo", "--yes", site.string()});
    EXPECT_EQ(undo.exitCode, 0) << undo.err;
    EXPECT_EQ(readFile(more), "LOGO");
    EXPECT_TRUE(fs::exists(site / "images/logo.png"));
    undo = tolvane({"undo", "--yes", site.string()});
    EXPECT_EQ(undo.exitCode, 0) << undo.err;
    fs::remove(more);
    EXPECT_EQ(test::snapshot(site), original);
}

TEST_F(UndoVerbTest, SomethingLeftInPlaceExitsOneAndSaysWhat) {
    test::simulateRun(plan, real);
    writeFile(site / "B.html", "edited since");
    const auto undo = tolvane({"undo", "--yes", site.string()});
    EXPECT_EQ(undo.exitCode, 1);
    EXPECT_NE(undo.err.find("Unable to restore " + (site / "B.html").string() + "\n"),
              std::string::npos)
        << undo.err;
    EXPECT_NE(undo.err.find("It was changed after the optimization."), std::string::npos)
        << undo.err;
    EXPECT_NE(undo.out.find("Undo incomplete: 1 change could not be undone"), std::string::npos)
        << undo.out;
    EXPECT_EQ(readFile(site / "B.html"), "edited since");
    EXPECT_EQ(readFile(site / "A.html"), original["A.html"]);
    EXPECT_EQ(readFile(site / "images/logo.png"), "LOGO");

    // Still offered, marked as such; once the page is as the run left it, undo finishes.
    const auto history = tolvane({"history", site.string()});
    EXPECT_EQ(history.exitCode, 0);
    EXPECT_NE(history.out.find("rewrote 2 files (finished) (undo incomplete)\n"), std::string::npos)
        << history.out;
    writeFile(site / "B.html", "<img src=\"images/logo.png\">");
    const auto again = tolvane({"undo", "--yes", site.string()});
    EXPECT_EQ(again.exitCode, 0) << again.err;
    EXPECT_NE(again.out.find("Undo complete: restored 0 copies and 1 file, removed 1 added file."),
              std::string::npos)
        << again.out;
    EXPECT_EQ(test::snapshot(site), original);
    EXPECT_NE(tolvane({"history", site.string()}).out.find("No optimization of"),
              std::string::npos);
}

TEST_F(UndoVerbTest, RefusesABusySiteAFolderThatIsNoWebsiteAndNoConfirmation) {
    test::simulateRun(plan, real);
    const auto afterRun = test::snapshot(site);
    {
        std::error_code error;
        const auto lock = SiteLock::tryAcquire(site, error);
        ASSERT_TRUE(lock) << error.message();
        for (const std::string verb : {"undo", "history"}) {
            std::vector<std::string> args{verb, site.string()};
            if (verb == "undo")
                args.insert(args.begin() + 1, "--yes");
            const auto refused = tolvane(args);
            EXPECT_EQ(refused.exitCode, 1) << verb;
            EXPECT_EQ(refused.err, cli::siteBusyMessage(site) + "\n") << verb;
            EXPECT_EQ(refused.out, "") << verb;
        }
    }
    EXPECT_EQ(test::snapshot(site), afterRun);

    fs::create_directories(dir / "plain");
    for (const std::string verb : {"undo", "history"}) {
        const auto plain = tolvane({verb, (dir / "plain").string()});
        EXPECT_EQ(plain.exitCode, 2) << verb;
        EXPECT_NE(plain.err.find("Not a website folder."), std::string::npos) << verb;
        EXPECT_EQ(tolvane({verb}).exitCode, 2) << verb;
    }

    const auto unconfirmed = tolvane({"undo", site.string()});
    EXPECT_EQ(unconfirmed.exitCode, 2);
    EXPECT_NE(unconfirmed.err.find("--yes"), std::string::npos);
    EXPECT_EQ(test::snapshot(site), afterRun);

    // A site never optimized has nothing to undo.
    fs::remove_all(home.path() / "tolvane");
    const auto nothing = tolvane({"undo", "--yes", site.string()});
    EXPECT_EQ(nothing.exitCode, 1);
    EXPECT_NE(nothing.err.find("Nothing to undo"), std::string::npos);
}

TEST_F(UndoVerbTest, AsksOnTheTerminalAndDefaultsToNo) {
    test::simulateRun(plan, real);
    const auto afterRun = test::snapshot(site);
    const std::string command = test::shellQuote(cli) + " undo " + test::shellQuote(site.string());
    const std::string input = "\n";
    auto result = test::runProcess(dir.path(), {"script", "-qec", command, "/dev/null"},
                                   {home.setting()}, &input);
    EXPECT_NE(result.out.find("Are you sure?"), std::string::npos) << result.out;
    EXPECT_EQ(test::snapshot(site), afterRun);

    const std::string yes = "y\n";
    result = test::runProcess(dir.path(), {"script", "-qec", command, "/dev/null"},
                              {home.setting()}, &yes);
    EXPECT_EQ(result.exitCode, 0) << result.out;
    EXPECT_EQ(test::snapshot(site), original);
}

} // namespace
} // namespace tolvane
