// Undo of a recorded run: after a whole run, after a run cut short at any step, and when
// files changed since the run or a step fails.
#include "run/undo.hpp"

#include "run/file_manager.hpp"
#include "run/run_journal.hpp"
#include "run/run_support.hpp"
#include "support/simulated_run.hpp"
#include "util/file_io.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <sys/resource.h>
#include <sys/stat.h>

namespace tolvane {
namespace {

namespace fs = std::filesystem;
using test::readFile;
using test::RecordingReporter;
using test::writeFile;
using Lines = std::vector<std::string>;

const std::string X = "x.png, the same bytes in every copy";
const std::string Y = "y.png bytes";
const std::string oddFolder = "Odd\t\\\n_files";

// Two groups: x.png in three page folders (one nested, one with a name of tabs, backslashes
// and line ends), y.png in two, private to the user. The plan is what a run does to it.
test::RunPlan exampleSite(const fs::path& root) {
    writeFile(root / "index.html", "<html>home</html>");
    for (const std::string page : {"A", "B"}) {
        writeFile(root / (page + ".html"), "<img src=\"" + page + "_files/x.png\">");
        writeFile(root / (page + "_files") / (page + ".js"),
                  "x.src = \"" + page + "_files\\/x.png\";");
        writeFile(root / (page + "_files/x.png"), X);
    }
    writeFile(root / "Blog/Entry1.html", "<img src=\"Entry1_files/x.png\">");
    writeFile(root / "Blog/Entry1_files/x.png", X);
    writeFile(root / oddFolder / "x.png", X);
    for (const std::string page : {"C", "D"}) {
        writeFile(root / (page + ".html"), "<img src=\"" + page + "_files/y.png\">");
        writeFile(root / (page + "_files/y.png"), Y);
        ::chmod((root / (page + "_files/y.png")).c_str(), 0600);
    }

    test::RunPlan plan;
    plan.root = root;
    const fs::path x = root / "images/x.png";
    const fs::path y = root / "images/y.png";
    plan.place = {{root / "A_files/x.png", x}, {root / "C_files/y.png", y}};
    plan.rewrite = {
        {root / "A.html", "<img src=\"images/x.png\">"},
        {root / "A_files/A.js", "x.src = \"images\\/x.png\";"},
        {root / "B.html", "<img src=\"images/x.png\">"},
        {root / "B_files/B.js", "x.src = \"images\\/x.png\";"},
        {root / "Blog/Entry1.html", "<img src=\"../images/x.png\">"},
        {root / "C.html", "<img src=\"images/y.png\">"},
        {root / "D.html", "<img src=\"images/y.png\">"},
    };
    plan.remove = {{root / "A_files/x.png", x},           {root / "B_files/x.png", x},
                   {root / "Blog/Entry1_files/x.png", x}, {root / oddFolder / "x.png", x},
                   {root / "C_files/y.png", y},           {root / "D_files/y.png", y}};
    return plan;
}

// The image references of the site's pages and scripts that lead to no file.
Lines danglingReferences(const fs::path& root) {
    Lines dangling;
    for (const auto& [file, references] : test::referenceTargets(root)) {
        for (const auto& reference : references) {
            if (!reference.bytes)
                dangling.push_back(file + ": " + reference.text);
        }
    }
    return dangling;
}

class UndoTest : public ::testing::Test {
  protected:
    void SetUp() override {
        root = dir / "site";
        plan = exampleSite(root);
        original = test::snapshot(root);
        originalMode = real.mode(root / "B_files/x.png");
    }

    // The example site made again from nothing, with no record, then run as a whole.
    void runOnAFreshSite() {
        fs::remove_all(root);
        fs::remove_all(home.path() / "tolvane");
        plan = exampleSite(root);
        test::simulateRun(plan, real);
    }

    // The run undo would take back now; fails the test when there is none.
    RecordedRun lastRun() {
        std::optional<RecordedRun> run = lastUndoableRun(root);
        if (!run)
            throw std::runtime_error("no run to undo");
        return *run;
    }

    test::ScopedJournalHome home;
    test::TempDir dir;
    fs::path root;
    test::RunPlan plan;
    std::map<std::string, std::string> original;
    std::optional<unsigned> originalMode;
    RealFileManager real;
    RecordingReporter reporter;
};

TEST_F(UndoTest, AfterAWholeRunTheSiteIsBackByteForByte) {
    test::simulateRun(plan, real);
    ASSERT_NE(test::snapshot(root), original);
    ASSERT_TRUE(fs::exists(root / "images/x.png"));

    const RecordedRun run = lastRun();
    EXPECT_TRUE(run.finished);
    const UndoOutcome outcome = undoRun(run, real, reporter, &reporter.progress);
    EXPECT_TRUE(outcome.complete);
    EXPECT_TRUE(outcome.recorded);
    EXPECT_EQ(outcome.left, 0u);
    EXPECT_EQ(outcome.errorSheets, 0);
    EXPECT_EQ(outcome.copiesRestored, 6u);
    EXPECT_EQ(outcome.filesRestored, 7u);
    EXPECT_EQ(outcome.filesRemoved, 2u);
    EXPECT_TRUE(outcome.folderRemoved);
    EXPECT_TRUE(reporter.sheets.empty());

    EXPECT_EQ(test::snapshot(root), original);
    EXPECT_FALSE(fs::exists(root / "images"));
    EXPECT_TRUE(test::leftoverTemporaries(root).empty());
    // Each copy comes back with its own permission bits, as a file of its own.
    EXPECT_EQ(real.mode(root / "D_files/y.png"), 0600u);
    EXPECT_EQ(real.mode(root / "B_files/x.png"), originalMode);
    EXPECT_EQ(fs::hard_link_count(root / "A_files/x.png"), 1u);

    // The log says what was done, in the order done: copies, then files, then the additions.
    const std::string S = root.string();
    EXPECT_EQ(reporter.linesStartingWith("Restoring duplicate file: "),
              (Lines{"Restoring duplicate file: x.png to " + S + "/A_files",
                     "Restoring duplicate file: x.png to " + S + "/B_files",
                     "Restoring duplicate file: x.png to " + S + "/Blog/Entry1_files",
                     "Restoring duplicate file: x.png to " + S + "/" + oddFolder,
                     "Restoring duplicate file: y.png to " + S + "/C_files",
                     "Restoring duplicate file: y.png to " + S + "/D_files"}));
    EXPECT_EQ(reporter.linesStartingWith("Restoring file: ").size(), 7u);
    EXPECT_EQ(reporter.linesStartingWith("Removing added "),
              (Lines{"Removing added file: " + S + "/images/x.png",
                     "Removing added file: " + S + "/images/y.png",
                     "Removing added folder: " + S + "/images"}));
    const auto at = [&](const std::string& line) {
        return std::find(reporter.lines.begin(), reporter.lines.end(), line) -
               reporter.lines.begin();
    };
    EXPECT_LT(at("Restoring duplicate file: y.png to " + S + "/D_files"),
              at("Restoring file: " + S + "/A.html"));
    EXPECT_LT(at("Restoring file: " + S + "/D.html"),
              at("Removing added file: " + S + "/images/x.png"));
    EXPECT_EQ(reporter.steps, 6 + 7 + 2);
    EXPECT_EQ(reporter.maximum, 15);

    // Undone: not offered again; the run itself is still listed.
    EXPECT_FALSE(lastUndoableRun(root));
    const auto runs = recordedRuns(root);
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_TRUE(runs[0].undone);
    EXPECT_FALSE(runs[0].undoLeftSomething);

    // Undoing again finds everything as before the run and changes nothing.
    RecordingReporter again;
    const UndoOutcome repeated = undoRun(run, real, again);
    EXPECT_EQ(repeated.left, 0u);
    EXPECT_EQ(repeated.copiesRestored + repeated.filesRestored + repeated.filesRemoved, 0u);
    EXPECT_TRUE(again.sheets.empty());
    EXPECT_EQ(test::snapshot(root), original);
}

TEST_F(UndoTest, AnImagesFolderThatWasThereStaysAndSoDoItsFiles) {
    writeFile(root / "images/own.png", "the site's own");
    original = test::snapshot(root);
    test::simulateRun(plan, real);
    const UndoOutcome outcome = undoRun(lastRun(), real, reporter);
    EXPECT_TRUE(outcome.complete);
    EXPECT_FALSE(outcome.folderRemoved);
    EXPECT_EQ(test::snapshot(root), original);

    // A folder the run made, that holds a file put there since, stays with it.
    fs::remove_all(root / "images");
    original = test::snapshot(root);
    test::simulateRun(plan, real);
    writeFile(root / "images/later.png", "added after the run");
    RecordingReporter second;
    const UndoOutcome kept = undoRun(lastRun(), real, second);
    EXPECT_TRUE(kept.complete);
    EXPECT_FALSE(kept.folderRemoved);
    EXPECT_EQ(readFile(root / "images/later.png"), "added after the run");
    fs::remove_all(root / "images");
    EXPECT_EQ(test::snapshot(root), original);
    EXPECT_EQ(second.linesStartingWith("Keeping folder").size(), 1u);
}

TEST_F(UndoTest, FilesChangedSinceTheRunAreLeftAndReportedAndTheRestIsRestored) {
    test::simulateRun(plan, real);
    writeFile(root / "B.html", "<p>edited after the run</p><img src=\"images/x.png\">");
    writeFile(root / "D_files/y.png", "someone's new y.png");

    const UndoOutcome outcome = undoRun(lastRun(), real, reporter);
    EXPECT_FALSE(outcome.complete);
    EXPECT_TRUE(outcome.recorded);
    EXPECT_EQ(outcome.left, 2u);
    EXPECT_EQ(outcome.errorSheets, 2);
    ASSERT_EQ(reporter.sheets.size(), 2u);
    EXPECT_EQ(reporter.sheets[0].message,
              "Unable to restore y.png to " + (root / "D_files").string());
    EXPECT_EQ(reporter.sheets[1].message, "Unable to restore " + (root / "B.html").string());
    for (const auto& sheet : reporter.sheets) {
        ASSERT_TRUE(sheet.error);
        EXPECT_EQ(sheet.error->code, make_error_code(RunErrc::changedSinceRun));
    }
    EXPECT_NE(cli::explain(*reporter.sheets[1].error).find("B.html"), std::string::npos);

    // Both edits stay; everything else is as before the run; what the run added stays, since
    // the edited page refers to it.
    EXPECT_EQ(readFile(root / "B.html"), "<p>edited after the run</p><img src=\"images/x.png\">");
    EXPECT_EQ(readFile(root / "D_files/y.png"), "someone's new y.png");
    EXPECT_EQ(readFile(root / "images/x.png"), X);
    EXPECT_EQ(readFile(root / "images/y.png"), Y);
    auto now = test::snapshot(root);
    auto expected = original;
    expected["B.html"] = now["B.html"];
    expected["D_files/y.png"] = now["D_files/y.png"];
    expected["images/x.png"] = X;
    expected["images/y.png"] = Y;
    EXPECT_EQ(now, expected);
    EXPECT_EQ(reporter.linesStartingWith("Keeping added file: ").size(), 2u);

    // The run is marked: undone, with something left, and still offered.
    const auto runs = recordedRuns(root);
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_TRUE(runs[0].undone);
    EXPECT_TRUE(runs[0].undoLeftSomething);
    EXPECT_TRUE(runs[0].undoable);
}

TEST_F(UndoTest, ARemovedCopyComesBackFromAnyFileThatStillHoldsItsBytes) {
    // Cut short after removing two copies; then the kept file is changed by hand.
    const std::size_t removingDone = 1 + 2 + 1 + 2 + 1 + 7 + 1;
    test::simulateRun(plan, real, removingDone + 2);
    ASSERT_FALSE(fs::exists(root / "A_files/x.png"));
    ASSERT_TRUE(fs::exists(root / "Blog/Entry1_files/x.png"));
    writeFile(root / "images/x.png", "edited kept file");

    const UndoOutcome outcome = undoRun(lastRun(), real, reporter);
    // The copies come from one the run never got to; the changed file the run added stays.
    EXPECT_EQ(readFile(root / "A_files/x.png"), X);
    EXPECT_EQ(readFile(root / "B_files/x.png"), X);
    EXPECT_EQ(outcome.copiesRestored, 2u);
    EXPECT_EQ(outcome.filesRestored, 7u);
    EXPECT_EQ(outcome.left, 1u);
    ASSERT_EQ(reporter.sheets.size(), 1u);
    EXPECT_EQ(reporter.sheets[0].message,
              "Unable to remove x.png from " + (root / "images").string());
    EXPECT_EQ(readFile(root / "images/x.png"), "edited kept file");
    fs::remove_all(root / "images");
    EXPECT_EQ(test::snapshot(root), original);
}

TEST_F(UndoTest, ACopyWithNoBytesLeftKeepsThePagesAsTheRunWroteThem) {
    test::simulateRun(plan, real);
    writeFile(root / "images/x.png", "edited kept file");
    const auto afterEdit = test::snapshot(root);

    const UndoOutcome outcome = undoRun(lastRun(), real, reporter);
    EXPECT_FALSE(outcome.complete);
    // The x.png copies cannot come back; the y.png copies do. No page is given back an earlier
    // text that names a missing copy: every reference still leads to a file.
    EXPECT_EQ(outcome.copiesRestored, 2u);
    EXPECT_EQ(outcome.filesRestored, 0u);
    EXPECT_EQ(outcome.filesRemoved, 0u);
    EXPECT_EQ(outcome.left, 4u + 7u);
    ASSERT_GE(reporter.sheets.size(), 5u);
    EXPECT_EQ(reporter.sheets[0].message,
              "Unable to restore x.png to " + (root / "A_files").string());
    ASSERT_TRUE(reporter.sheets[0].error);
    EXPECT_EQ(reporter.sheets[0].error->code, make_error_code(RunErrc::noCopyLeft));
    EXPECT_EQ(reporter.sheets[4].message,
              "Unable to restore the rewritten files: a removed copy could not be put back");
    EXPECT_EQ(reporter.linesStartingWith("Keeping rewritten file: ").size(), 7u);
    auto expected = afterEdit;
    expected["C_files/y.png"] = Y;
    expected["D_files/y.png"] = Y;
    EXPECT_EQ(test::snapshot(root), expected);
    EXPECT_EQ(danglingReferences(root), Lines{});
}

TEST_F(UndoTest, FailedStepsAreReportedAndNothingIsTakenAwayAfterThem) {
    test::simulateRun(plan, real);
    test::FailingFileManager failing(real);
    failing.failAt(test::FailingFileManager::Step::link, root / "D_files/y.png",
                   std::errc::no_space_on_device);

    const UndoOutcome outcome = undoRun(lastRun(), failing, reporter);
    EXPECT_FALSE(outcome.complete);
    EXPECT_EQ(outcome.copiesRestored, 5u);
    EXPECT_FALSE(fs::exists(root / "D_files/y.png"));
    ASSERT_GE(reporter.sheets.size(), 1u);
    EXPECT_EQ(reporter.sheets[0].message,
              "Unable to restore y.png to " + (root / "D_files").string());
    ASSERT_TRUE(reporter.sheets[0].error);
    EXPECT_EQ(reporter.sheets[0].error->code, std::make_error_code(std::errc::no_space_on_device));
    EXPECT_EQ(reporter.lines.back().substr(0, 7), "Keeping");
    // What the run added stays, and every reference still leads to a file.
    EXPECT_TRUE(fs::exists(root / "images/x.png"));
    EXPECT_TRUE(fs::exists(root / "images/y.png"));
    EXPECT_EQ(danglingReferences(root), Lines{});

    // A failing write of an earlier text is reported and the file stays as the run wrote it.
    runOnAFreshSite();
    test::FailingFileManager writes(real);
    writes.failAt(test::FailingFileManager::Step::write, root / "C.html",
                  std::errc::no_space_on_device);
    RecordingReporter second;
    const UndoOutcome written = undoRun(lastRun(), writes, second);
    EXPECT_EQ(written.left, 1u);
    EXPECT_EQ(written.filesRestored, 6u);
    ASSERT_EQ(second.sheets.size(), 1u);
    EXPECT_EQ(second.sheets[0].message, "Unable to restore " + (root / "C.html").string());
    EXPECT_EQ(readFile(root / "C.html"), "<img src=\"images/y.png\">");
    EXPECT_EQ(readFile(root / "images/y.png"), Y);
    EXPECT_EQ(danglingReferences(root), Lines{});

    // Removing an added file or the folder fails: reported.
    runOnAFreshSite();
    test::FailingFileManager removes(real);
    removes.failAt(test::FailingFileManager::Step::remove, root / "images/y.png");
    RecordingReporter third;
    const UndoOutcome removed = undoRun(lastRun(), removes, third);
    EXPECT_EQ(removed.left, 1u);
    EXPECT_EQ(removed.filesRemoved, 1u);
    ASSERT_EQ(third.sheets.size(), 1u);
    EXPECT_EQ(third.sheets[0].message, "Unable to remove y.png from " + (root / "images").string());
    EXPECT_TRUE(fs::exists(root / "images/y.png"));
    fs::remove_all(root / "images");
    EXPECT_EQ(test::snapshot(root), original);
}

TEST_F(UndoTest, NothingIsWrittenOutsideTheSiteOrThroughALink) {
    test::simulateRun(plan, real);
    // Since the run, a page folder became a link to a folder outside the site.
    fs::create_directories(dir / "outside");
    fs::remove_all(root / "B_files");
    fs::create_directory_symlink(dir / "outside", root / "B_files");

    const UndoOutcome outcome = undoRun(lastRun(), real, reporter);
    EXPECT_FALSE(outcome.complete);
    EXPECT_TRUE(fs::is_empty(dir / "outside"));
    ASSERT_FALSE(reporter.sheets.empty());
    EXPECT_EQ(reporter.sheets[0].message,
              "Unable to restore x.png to " + (root / "B_files").string());
    ASSERT_TRUE(reporter.sheets[0].error);
    EXPECT_EQ(reporter.sheets[0].error->code, make_error_code(RunErrc::outsideSite));
}

TEST_F(UndoTest, ADamagedRecordPutsBackWhatItCanAndTakesNothingAway) {
    test::simulateRun(plan, real);
    const RecordedRun run = lastRun();
    {
        std::ofstream records(run.folder / "records", std::ios::app | std::ios::binary);
        records << "rewrite\tgarbled\n";
    }
    const UndoOutcome outcome = undoRun(lastRun(), real, reporter);
    EXPECT_FALSE(outcome.complete);
    EXPECT_EQ(outcome.copiesRestored, 6u);
    EXPECT_EQ(outcome.filesRestored, 7u);
    EXPECT_EQ(outcome.filesRemoved, 0u);
    ASSERT_EQ(reporter.sheets.size(), 1u);
    EXPECT_EQ(reporter.sheets[0].message, "Unable to read every record of the optimization");
    fs::remove_all(root / "images");
    EXPECT_EQ(test::snapshot(root), original);
}

TEST_F(UndoTest, AReferenceThatLedToNothingBeforeTheRunDoesNotHoldBackItsPage) {
    // A page and a script that referred to a missing image before the run, and still do.
    for (const auto& path : {root / "A.html", root / "A_files/A.js"})
        writeFile(path, readFile(path) + " \"gone.png\"");
    for (auto& [path, text] : plan.rewrite) {
        if (path == root / "A.html" || path == root / "A_files/A.js")
            text += " \"gone.png\"";
    }
    original = test::snapshot(root);
    test::simulateRun(plan, real);
    const UndoOutcome outcome = undoRun(lastRun(), real, reporter);
    EXPECT_TRUE(outcome.complete);
    EXPECT_TRUE(reporter.sheets.empty());
    EXPECT_EQ(test::snapshot(root), original);
}

TEST_F(UndoTest, AnUndoStoppedPartWayStaysOfferedAndTheNextOneFinishesIt) {
    using Step = test::FailingFileManager::Step;
    struct Stop {
        std::string name;
        std::function<void(test::FailingFileManager&)> fail;
        std::function<void()> before, after; // the cause made, and gone again
    };
    const auto nothing = [] {};
    const std::vector<Stop> stops{
        {"the disk full restoring a copy",
         [&](auto& f) {
             f.failAt(Step::link, root / "D_files/y.png", std::errc::no_space_on_device);
         },
         nothing, nothing},
        {"the disk full writing a page",
         [&](auto& f) { f.failAt(Step::write, root / "C.html", std::errc::no_space_on_device); },
         nothing, nothing},
        {"an added file that cannot be removed",
         [&](auto& f) { f.failAt(Step::remove, root / "images/y.png"); }, nothing, nothing},
        {"a kept file deleted since the run", [](auto&) {},
         [&] { fs::remove(root / "images/x.png"); }, [&] { writeFile(root / "images/x.png", X); }},
    };
    for (const Stop& stop : stops) {
        SCOPED_TRACE(stop.name);
        runOnAFreshSite();
        const fs::path folder = lastRun().folder;
        stop.before();
        test::FailingFileManager failing(real);
        stop.fail(failing);
        RecordingReporter first;
        const UndoOutcome stopped = undoRun(lastRun(), failing, first);
        EXPECT_FALSE(stopped.complete);
        EXPECT_TRUE(stopped.recorded);
        ASSERT_TRUE(lastUndoableRun(root));
        EXPECT_EQ(lastUndoableRun(root)->folder, folder);

        stop.after();
        RecordingReporter second;
        const UndoOutcome finished = undoRun(lastRun(), real, second);
        EXPECT_TRUE(finished.complete);
        EXPECT_TRUE(second.sheets.empty());
        EXPECT_EQ(test::snapshot(root), original);
        EXPECT_FALSE(lastUndoableRun(root));
    }
}

TEST_F(UndoTest, TheWritersLeftoversOfAKilledRunOrUndoGoAndNothingElse) {
    // Names close to the writer's own, which are not its leftovers.
    writeFile(root / ".A.html.tolvane-12345", "five characters");
    writeFile(root / "A_files/x.png.tolvane-abc123", "no leading dot");
    original = test::snapshot(root);
    // Killed while writing the pages: one temporary page and a temporary image stay.
    test::simulateRun(plan, real, 1 + 2 + 1 + 2 + 1 + 3);
    writeFile(root / ".B.html.tolvane-a1B2c3", "half a page");
    writeFile(root / "images/.x.png.tolvane-Zz9Yy8", "half an image");
    // An undo killed part way (after the leftovers it found and one copy) leaves a temporary
    // copy too.
    test::FailingFileManager killed(real);
    killed.crashAfter(3);
    EXPECT_THROW(undoRun(lastRun(), killed, reporter), test::SimulatedCrash);
    writeFile(root / "Blog/Entry1_files/.x.png.tolvane-0Kq9Lm", "half a copy");

    RecordingReporter again;
    const UndoOutcome outcome = undoRun(lastRun(), real, again);
    EXPECT_TRUE(outcome.complete);
    EXPECT_TRUE(again.sheets.empty());
    EXPECT_EQ(test::snapshot(root), original);
    EXPECT_EQ(again.linesStartingWith("Removing leftover temporary file: "),
              Lines{"Removing leftover temporary file: " +
                    (root / "Blog/Entry1_files/.x.png.tolvane-0Kq9Lm").string()});
}

TEST_F(UndoTest, AManyPageSiteIsPutBackWithFewFilesOpenAtATime) {
    // More rewritten pages than files may be open at once.
    const fs::path site = dir / "many";
    test::RunPlan many;
    many.root = site;
    writeFile(site / "index.html", "<html></html>");
    for (int i = 0; i < 150; ++i) {
        const std::string page = "P" + std::to_string(i);
        writeFile(site / (page + ".html"), "<img src=\"" + page + "_files/logo.png\">");
        writeFile(site / (page + "_files/logo.png"), "LOGO");
        many.rewrite.push_back({site / (page + ".html"), "<img src=\"images/logo.png\">"});
        many.remove.push_back({site / (page + "_files/logo.png"), site / "images/logo.png"});
    }
    many.place = {{site / "P0_files/logo.png", site / "images/logo.png"}};
    const auto before = test::snapshot(site);
    test::simulateRun(many, real);
    const std::optional<RecordedRun> run = lastUndoableRun(site);
    ASSERT_TRUE(run);

    const auto open = std::distance(fs::directory_iterator("/proc/self/fd"), {});
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    rlimit lowered = saved;
    lowered.rlim_cur = static_cast<rlim_t>(open + 48);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &lowered), 0);
    const UndoOutcome outcome = undoRun(*run, real, reporter);
    ::setrlimit(RLIMIT_NOFILE, &saved);

    for (const auto& sheet : reporter.sheets)
        ADD_FAILURE() << reporter.lines.back() << " " << sheet.message;
    EXPECT_TRUE(outcome.complete);
    EXPECT_EQ(outcome.filesRestored, 150u);
    EXPECT_EQ(test::snapshot(site), before);
}

// Undo reports data, not sentences: the window and the command line word each event.
TEST_F(UndoTest, EachStepIsOneEventWithItsPaths) {
    test::simulateRun(plan, real);
    writeFile(root / "B.html", "edited");
    const RecordedRun run = lastRun();
    undoRun(run, real, reporter);
    ASSERT_FALSE(reporter.reported.empty());
    EXPECT_EQ(reporter.reported.front().kind, EventKind::undoStarted);
    EXPECT_EQ(reporter.reported.front().detail, localTimeText(run.time));
    EXPECT_EQ(reporter.reported.back().kind, EventKind::completed);
    const auto named = [&](EventKind kind) {
        std::vector<fs::path> paths;
        for (const Event& event : reporter.reported)
            if (event.kind == kind)
                paths.insert(paths.end(), event.paths.begin(), event.paths.end());
        return paths;
    };
    EXPECT_EQ(named(EventKind::copyRestoring).front(), root / "A_files/x.png");
    EXPECT_FALSE(named(EventKind::fileRestoring).empty());
    EXPECT_FALSE(named(EventKind::addedKept).empty());
    EXPECT_EQ(named(EventKind::fileRestoreFailed), std::vector<fs::path>{root / "B.html"});
    std::size_t failures = 0;
    for (const Event& event : reporter.reported) {
        EXPECT_EQ(isFailure(event.kind), event.failure.has_value());
        if (!isFailure(event.kind))
            continue;
        ++failures;
        EXPECT_EQ(event.failure->code, make_error_code(RunErrc::changedSinceRun));
    }
    EXPECT_EQ(failures, 1u);
    EXPECT_EQ(reporter.sheets.at(0).message, "Unable to restore " + (root / "B.html").string());
}

} // namespace
} // namespace tolvane
