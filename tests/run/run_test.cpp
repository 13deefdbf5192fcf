#include "run/run.hpp"

#include "run/run_support.hpp"
#include "run/site_lock.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <functional>
#include <map>
#include <memory>

namespace tolvane {
namespace {

namespace fs = std::filesystem;
using test::readFile;
using test::writeFile;
using Step = test::FailingFileManager::Step;
using Lines = std::vector<std::string>;

class RunTest : public ::testing::Test {
  protected:
    fs::path S() const { return dir.path(); }

    // A page "<stem>.html" beside "<stem>_files", which holds the images and the page script;
    // the page shows every image and the script sets every image in the escaped form.
    void page(const std::string& stem,
              const std::vector<std::pair<std::string, std::string>>& images) {
        const std::string leaf = fs::path(stem).filename().string();
        const fs::path folder = S() / (stem + "_files");
        std::string html = "<html><body>\n";
        std::string script;
        for (const auto& [name, bytes] : images) {
            writeFile(folder / name, bytes);
            html += "<img src=\"" + leaf + "_files/" + name + "\">\n";
            script += "document.images[0].src = \"" + leaf + "_files\\/" + name + "\";\n";
        }
        html += "<script src=\"" + leaf + "_files/" + leaf + ".js\"></script></body></html>\n";
        writeFile(S() / (stem + ".html"), html);
        writeFile(folder / (leaf + ".js"), script);
    }

    // Pages A and B, each showing its own copy of one logo; the group of the two copies.
    DuplicateGroup twoPagesSharingALogo() {
        page("A", {{"logo.png", "LOGO"}});
        page("B", {{"logo.png", "LOGO"}});
        return test::makeGroup({S() / "A_files/logo.png", S() / "B_files/logo.png"});
    }

    // Also notes where every reference of the site leads before the run.
    RunOutcome run(const std::vector<DuplicateGroup>& groups, FileManager& files) {
        referencesBefore = test::referenceTargets(S());
        return startOptimization(groups, S(), files, reporter, test::countedBy(reporter));
    }
    RunOutcome run(const std::vector<DuplicateGroup>& groups) { return run(groups, real); }

    std::string p(const std::string& relative) const { return (S() / relative).string(); }

    test::TempDir dir;
    RealFileManager real;
    test::RecordingReporter reporter;
    test::ReferenceMap referencesBefore;
};

TEST_F(RunTest, TwoPagesSharingALogoLineForLine) {
    writeFile(S() / "index.html", "<html></html>");
    const DuplicateGroup logo = twoPagesSharingALogo();

    const auto outcome = run({logo});

    // The kept file first, then every file that refers to a copy, then the copies.
    EXPECT_EQ(reporter.events,
              (Lines{"log Starting optimization - calculate number of actions",
                     "setup 7",
                     "log Creating images folder in root",
                     "log Moving image file: logo.png to folder: " + p("images/logo.png"),
                     "log " + p("A_files/logo.png"),
                     "log " + p("images/logo.png"),
                     "step",
                     "log Updating file: " + p("A.html") + " to use moved image: logo.png",
                     "log Updating file: " + p("A_files/A.js") + " to use moved image: logo.png",
                     "log Updating file: " + p("B.html") + " to use moved image: logo.png",
                     "log Updating file: " + p("B_files/B.js") + " to use moved image: logo.png",
                     "step",
                     "step",
                     "step",
                     "step",
                     "log Removing duplicate file: logo.png from " + p("A_files"),
                     "step",
                     "log Removing duplicate file: logo.png from " + p("B_files"),
                     "step",
                     "stop",
                     "completed"}));
    EXPECT_TRUE(outcome.completed);
    EXPECT_EQ(outcome.errorSheets, 0);
    EXPECT_EQ(outcome.filesRewritten, 4u);
    EXPECT_EQ(outcome.filesPlaced, 1u);
    EXPECT_EQ(outcome.copiesRemoved, 1u); // the first copy was moved, not removed
    EXPECT_EQ(outcome.bytesSaved, 4u);
    EXPECT_EQ(readFile(S() / "images/logo.png"), "LOGO");
    EXPECT_FALSE(fs::exists(S() / "A_files/logo.png"));
    EXPECT_FALSE(fs::exists(S() / "B_files/logo.png"));
    EXPECT_EQ(readFile(S() / "A_files/A.js"), "document.images[0].src = \"images\\/logo.png\";\n");
    EXPECT_NE(readFile(S() / "B.html").find("<img src=\"images/logo.png\">"), std::string::npos);
    EXPECT_TRUE(test::brokenReferences(referencesBefore, S()).empty());
}

TEST_F(RunTest, ThreeCopiesOneOutsideAnyPageFolder) {
    page("A", {{"logo.png", "LOGO"}});
    page("B", {{"logo.png", "LOGO"}});
    writeFile(S() / "logo.png", "LOGO");
    fs::create_directory(S() / "images");

    const auto outcome = run(
        {test::makeGroup({S() / "A_files/logo.png", S() / "B_files/logo.png", S() / "logo.png"})});

    EXPECT_TRUE(outcome.completed);
    EXPECT_EQ(reporter.maximum, 8); // one placement, four files, three copies
    EXPECT_EQ(reporter.steps, 8);
    EXPECT_TRUE(reporter.linesStartingWith("Creating").empty()); // the images folder was there
    EXPECT_EQ(reporter.linesStartingWith("Removing duplicate file: "),
              (Lines{"Removing duplicate file: logo.png from " + p("A_files"),
                     "Removing duplicate file: logo.png from " + p("B_files"),
                     "Removing duplicate file: logo.png from " + S().string()}));
    EXPECT_EQ(reporter.linesStartingWith("Updating file: ").size(), 4u);
    EXPECT_FALSE(fs::exists(S() / "logo.png"));
    EXPECT_EQ(outcome.copiesRemoved, 2u);
    EXPECT_EQ(outcome.bytesSaved, 8u);
    EXPECT_TRUE(test::brokenReferences(referencesBefore, S()).empty());
}

TEST_F(RunTest, EachFileIsRewrittenOnceWithTheChangesOfEveryGroup) {
    page("A", {{"a.png", "1"}, {"b.gif", "2"}, {"c.jpg", "3"}});
    page("B", {{"a.png", "1"}, {"b.gif", "2"}, {"c.jpg", "3"}});
    std::vector<DuplicateGroup> groups;
    for (const char* name : {"c.jpg", "a.png", "b.gif"})
        groups.push_back(test::makeGroup({S() / "A_files" / name, S() / "B_files" / name}));
    test::FailingFileManager counting(real);

    const auto outcome = run(groups, counting);

    EXPECT_TRUE(outcome.completed);
    EXPECT_EQ(outcome.filesRewritten, 4u);
    EXPECT_EQ(
        reporter.linesStartingWith("Updating file: " + p("A.html")),
        (Lines{"Updating file: " + p("A.html") + " to use moved image: a.png, b.gif, c.jpg"}));
    EXPECT_EQ(reporter.linesStartingWith("Updating file: ").size(), 4u);
    EXPECT_EQ(counting.writes(), 4u);
    EXPECT_EQ(readFile(S() / "A.html"),
              "<html><body>\n<img src=\"images/a.png\">\n<img src=\"images/b.gif\">\n"
              "<img src=\"images/c.jpg\">\n<script src=\"A_files/A.js\"></script></body></html>\n");
    EXPECT_TRUE(test::brokenReferences(referencesBefore, S()).empty());
}

TEST_F(RunTest, EmptyListStillCreatesTheImagesFolder) {
    const auto outcome = run({});
    EXPECT_TRUE(outcome.completed);
    EXPECT_EQ(reporter.events,
              (Lines{"log Starting optimization - calculate number of actions", "setup 0",
                     "log Creating images folder in root", "stop", "completed"}));
    EXPECT_TRUE(fs::is_directory(S() / "images"));
}

TEST_F(RunTest, PlainFileNamedImagesEndsTheRunAtTheFirstMove) {
    const DuplicateGroup logo = twoPagesSharingALogo();
    writeFile(S() / "images", "not a folder");
    const auto before = test::snapshot(S());

    const auto outcome = run({logo});

    EXPECT_FALSE(outcome.completed);
    EXPECT_EQ(outcome.errorSheets, 1);
    ASSERT_EQ(reporter.sheets.size(), 1u);
    EXPECT_EQ(reporter.sheets[0].message, "Unable to move logo.png to the site images folder");
    EXPECT_EQ(reporter.sheets[0].error->code, std::make_error_code(std::errc::not_a_directory));
    EXPECT_EQ(reporter.lines.back(), "Unable to move logo.png to the site images folder, error: " +
                                         cli::describe(*reporter.sheets[0].error));
    EXPECT_TRUE(reporter.linesStartingWith("Creating").empty());
    EXPECT_EQ(reporter.steps, 0);
    EXPECT_TRUE(reporter.stopped);
    EXPECT_FALSE(reporter.completed);
    EXPECT_EQ(test::snapshot(S()), before);
}

TEST_F(RunTest, ImagesFolderThatCannotBeCreatedEndsTheRun) {
    const DuplicateGroup logo = twoPagesSharingALogo();
    const auto before = test::snapshot(S());
    test::FailingFileManager failing(real);
    failing.failAt(Step::createDirectory, S() / "images", std::errc::read_only_file_system);

    const auto outcome = run({logo}, failing);

    EXPECT_FALSE(outcome.completed);
    ASSERT_EQ(reporter.sheets.size(), 1u);
    EXPECT_EQ(reporter.sheets[0].message, "Unable to create images folder");
    EXPECT_EQ(reporter.events.back(), "stop");
    EXPECT_EQ(test::snapshot(S()), before);

    // And a root that really refuses: the site root itself is gone.
    test::RecordingReporter other;
    const auto gone = startOptimization({}, S() / "no-such-site", real, other);
    EXPECT_FALSE(gone.completed);
    ASSERT_EQ(other.sheets.size(), 1u);
    EXPECT_EQ(other.sheets[0].error->code,
              std::make_error_code(std::errc::no_such_file_or_directory));
}

TEST_F(RunTest, BothNamesTakenLeavesTheGroupAndGoesOn) {
    page("A", {{"logo.png", "LOGO"}, {"b.png", "B"}});
    page("B", {{"logo.png", "LOGO"}, {"b.png", "B"}});
    writeFile(S() / "images/logo.png", "other");
    writeFile(S() / "images" / ("logo-" + md5("LOGO").substr(0, 8) + ".png"), "other too");

    const auto outcome = run({test::makeGroup({S() / "A_files/logo.png", S() / "B_files/logo.png"}),
                              test::makeGroup({S() / "A_files/b.png", S() / "B_files/b.png"})});

    EXPECT_TRUE(outcome.completed);
    EXPECT_EQ(outcome.errorSheets, 1);
    ASSERT_EQ(reporter.sheets.size(), 1u);
    EXPECT_EQ(reporter.sheets[0].message, "Unable to move logo.png to the site images folder");
    EXPECT_EQ(reporter.sheets[0].error->code, make_error_code(RunErrc::destinationTaken));
    EXPECT_EQ(readFile(S() / "A_files/logo.png"), "LOGO");
    EXPECT_EQ(readFile(S() / "B_files/logo.png"), "LOGO");
    EXPECT_FALSE(fs::exists(S() / "B_files/b.png"));
    EXPECT_EQ(reporter.steps, 7);
    EXPECT_TRUE(test::brokenReferences(referencesBefore, S()).empty());
}

TEST_F(RunTest, AnEntryThatIsTheDestinationIsNeverDeleted) {
    page("A", {{"logo.png", "LOGO"}});
    page("B", {{"logo.png", "LOGO"}});
    writeFile(S() / "images/logo.png", "LOGO");
    writeFile(S() / "Old.html", "<img src=\"images/logo.png\">");

    // The kept copy of an earlier run, met second by the scan.
    auto outcome = run({test::makeGroup(
        {S() / "A_files/logo.png", S() / "images/logo.png", S() / "B_files/logo.png"})});
    EXPECT_TRUE(outcome.completed);
    EXPECT_EQ(readFile(S() / "images/logo.png"), "LOGO");
    EXPECT_FALSE(fs::exists(S() / "A_files/logo.png"));
    EXPECT_FALSE(fs::exists(S() / "B_files/logo.png"));
    EXPECT_EQ(reporter.steps, 6);
    EXPECT_EQ(reporter.linesStartingWith("Removing").size(), 2u);
    EXPECT_TRUE(test::brokenReferences(referencesBefore, S()).empty());
}

TEST_F(RunTest, AFirstCopyThatIsTheDestinationStays) {
    page("A", {{"logo.png", "LOGO"}});
    writeFile(S() / "images/logo.png", "LOGO");
    const auto outcome =
        run({test::makeGroup({S() / "images/logo.png", S() / "A_files/logo.png"})});
    EXPECT_TRUE(outcome.completed);
    EXPECT_EQ(readFile(S() / "images/logo.png"), "LOGO");
    EXPECT_FALSE(fs::exists(S() / "A_files/logo.png"));
    EXPECT_EQ(outcome.filesRewritten, 2u);
    EXPECT_TRUE(test::brokenReferences(referencesBefore, S()).empty());
}

TEST_F(RunTest, ACopyChangedSinceTheScanIsLeftWithItsPages) {
    page("A", {{"logo.png", "LOGO"}});
    page("B", {{"logo.png", "LOGO"}});
    page("C", {{"logo.png", "LOGO"}});
    const auto group = test::makeGroup(
        {S() / "A_files/logo.png", S() / "B_files/logo.png", S() / "C_files/logo.png"});
    writeFile(S() / "B_files/logo.png", "LOGX"); // edited after the scan, same size
    const std::string pageB = readFile(S() / "B.html");

    const auto outcome = run({group});

    EXPECT_TRUE(outcome.completed);
    EXPECT_EQ(outcome.errorSheets, 1);
    EXPECT_EQ(reporter.sheets.at(0).message, "Unable to remove logo.png from " + p("B_files"));
    EXPECT_EQ(reporter.sheets.at(0).error->code, make_error_code(RunErrc::contentDiffers));
    EXPECT_EQ(readFile(S() / "B_files/logo.png"), "LOGX");
    EXPECT_EQ(readFile(S() / "B.html"), pageB);
    EXPECT_FALSE(fs::exists(S() / "C_files/logo.png"));
    EXPECT_EQ(reporter.steps, reporter.maximum);
    EXPECT_EQ(reporter.maximum, 10); // one placement, six files, three copies
    EXPECT_TRUE(test::brokenReferences(referencesBefore, S()).empty());
}

TEST_F(RunTest, ACopyThatCannotBeDeletedIsReportedAndTheNextRunRemovesIt) {
    page("A", {{"logo.png", "LOGO"}, {"z.png", "Z"}});
    page("B", {{"logo.png", "LOGO"}, {"z.png", "Z"}});
    page("C", {{"logo.png", "LOGO"}});
    page("D", {{"logo.png", "LOGO"}});
    const auto files = test::snapshot(S());
    test::FailingFileManager failing(real);
    failing.failAt(Step::remove, S() / "C_files/logo.png", std::errc::device_or_resource_busy);

    const auto outcome = run({test::makeGroup({S() / "A_files/logo.png", S() / "B_files/logo.png",
                                               S() / "C_files/logo.png", S() / "D_files/logo.png"}),
                              test::makeGroup({S() / "A_files/z.png", S() / "B_files/z.png"})},
                             failing);

    // The run goes on: every page leads to the kept files, and only C's copy is left over.
    EXPECT_TRUE(outcome.completed);
    ASSERT_EQ(reporter.sheets.size(), 1u);
    EXPECT_EQ(reporter.sheets[0].message, "Unable to remove logo.png from " + p("C_files"));
    EXPECT_EQ(outcome.copiesRemoved, 3u); // B's and D's logo, B's z
    EXPECT_EQ(outcome.copiesKept, 1u);
    EXPECT_EQ(outcome.bytesSaved, 9u);
    EXPECT_EQ(outcome.filesRewritten, 8u);
    EXPECT_TRUE(fs::exists(S() / "C_files/logo.png"));
    EXPECT_FALSE(fs::exists(S() / "D_files/logo.png"));
    EXPECT_FALSE(fs::exists(S() / "A_files/z.png"));
    EXPECT_NE(readFile(S() / "C.html").find("\"images/logo.png\""), std::string::npos);
    EXPECT_TRUE(test::brokenReferences(referencesBefore, S()).empty());
    EXPECT_TRUE(test::lostFiles(files, S()).empty());

    // A new scan finds the copy left over beside the kept file, and the next run removes it.
    const ScanResult again = scanWebsite(S());
    ASSERT_EQ(again.duplicates.size(), 1u);
    test::RecordingReporter second;
    const auto repaired = startOptimization(again, real, second);
    EXPECT_TRUE(repaired.completed);
    EXPECT_EQ(repaired.copiesRemoved, 1u);
    EXPECT_EQ(repaired.filesRewritten, 0u);
    EXPECT_FALSE(fs::exists(S() / "C_files/logo.png"));
    EXPECT_TRUE(test::brokenReferences(referencesBefore, S()).empty());
    EXPECT_TRUE(test::lostFiles(files, S()).empty());
}

TEST_F(RunTest, AKeptFileThatCannotBePlacedEndsTheRunAfterTheGroupsBeforeIt) {
    page("A", {{"a.png", "1"}, {"logo.png", "LOGO"}});
    page("B", {{"a.png", "1"}, {"logo.png", "LOGO"}});
    test::FailingFileManager failing(real);
    failing.failAt(Step::link, S() / "images/logo.png", std::errc::no_space_on_device);
    const auto files = test::snapshot(S());

    const auto outcome =
        run({test::makeGroup({S() / "A_files/a.png", S() / "B_files/a.png"}),
             test::makeGroup({S() / "A_files/logo.png", S() / "B_files/logo.png"})},
            failing);

    EXPECT_FALSE(outcome.completed);
    ASSERT_EQ(reporter.sheets.size(), 1u);
    EXPECT_EQ(reporter.sheets[0].message, "Unable to move logo.png to the site images folder");
    // The group placed before the failure is completed; the one after is untouched.
    EXPECT_FALSE(fs::exists(S() / "B_files/a.png"));
    EXPECT_EQ(readFile(S() / "A_files/logo.png"), "LOGO");
    EXPECT_EQ(readFile(S() / "B_files/logo.png"), "LOGO");
    EXPECT_NE(readFile(S() / "A.html").find("\"images/a.png\""), std::string::npos);
    EXPECT_NE(readFile(S() / "A.html").find("\"A_files/logo.png\""), std::string::npos);
    EXPECT_EQ(outcome.copiesRemoved, 1u);
    EXPECT_TRUE(reporter.stopped);
    EXPECT_FALSE(reporter.completed);
    EXPECT_TRUE(test::brokenReferences(referencesBefore, S()).empty());
    EXPECT_TRUE(test::lostFiles(files, S()).empty());
}

TEST_F(RunTest, PageFailuresAreReportedAndTheRunGoesOn) {
    writeFile(S() / "A_files/logo.png", "LOGO"); // no page, no script
    page("B", {{"logo.png", "LOGO"}});
    page("C", {{"logo.png", "LOGO"}});
    page("D", {{"logo.png", "LOGO"}});
    writeFile(S() / "C.html", "caf\xE9 <img src=\"C_files/logo.png\">"); // Latin-1
    test::FailingFileManager failing(real);
    failing.failAt(Step::write, S() / "D_files/D.js", std::errc::no_space_on_device);

    const auto outcome =
        run({test::makeGroup({S() / "A_files/logo.png", S() / "B_files/logo.png",
                              S() / "C_files/logo.png", S() / "D_files/logo.png"})},
            failing);

    EXPECT_TRUE(outcome.completed);
    // A page that is not UTF-8 cannot be rewritten, so the copy it shows stays, and is the
    // kept file: the other files lead to it and nothing goes into images/.
    EXPECT_EQ(reporter.linesStartingWith("Keeping " + p("C_files/logo.png")),
              (Lines{"Keeping " + p("C_files/logo.png") + ": " + p("C.html") +
                     " is not valid UTF-8 text"}));
    EXPECT_FALSE(fs::exists(S() / "images/logo.png"));
    EXPECT_EQ(readFile(S() / "C.html"), "caf\xE9 <img src=\"C_files/logo.png\">");
    EXPECT_EQ(readFile(S() / "C_files/logo.png"), "LOGO");
    EXPECT_NE(readFile(S() / "B.html").find("\"C_files/logo.png\""), std::string::npos);
    // D.js could not be written: it still leads to D's copy, which therefore stays.
    ASSERT_EQ(reporter.sheets.size(), 1u);
    EXPECT_EQ(reporter.sheets[0].message, "Unable to write back to file: " + p("D_files/D.js"));
    EXPECT_EQ(readFile(S() / "D_files/D.js"), "document.images[0].src = \"D_files\\/logo.png\";\n");
    EXPECT_EQ(readFile(S() / "D_files/logo.png"), "LOGO");
    EXPECT_EQ(outcome.filesRewritten, 3u); // B.html, B.js, D.html
    EXPECT_EQ(outcome.copiesRemoved, 2u);  // A's and B's
    EXPECT_EQ(outcome.bytesSaved, 8u);
    EXPECT_EQ(reporter.steps, reporter.maximum);
    EXPECT_TRUE(test::brokenReferences(referencesBefore, S()).empty());
}

// The run reports data, not sentences: each event names its paths, and the command line's
// words for them are the log lines.
TEST_F(RunTest, EachStepIsOneEventWithItsPaths) {
    page("A", {{"logo.png", "LOGO"}});
    writeFile(S() / "x_files/logo.png", "LOGO");
    run({test::makeGroup({S() / "A_files/logo.png", S() / "x_files/logo.png"})});
    using K = EventKind;
    const std::vector<std::pair<K, Lines>> expected{
        {K::runStarted, {}},
        {K::imagesFolderCreating, {p("images")}},
        {K::imagePlacing, {p("A_files/logo.png"), p("images/logo.png")}},
        {K::fileUpdating, {p("A.html"), p("images/logo.png")}},
        {K::fileUpdating, {p("A_files/A.js"), p("images/logo.png")}},
        {K::copyRemoving, {p("A_files/logo.png")}},
        {K::copyRemoving, {p("x_files/logo.png")}},
        {K::finished, {}},
        {K::completed, {}},
    };
    ASSERT_EQ(reporter.reported.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const Event& event = reporter.reported[i];
        EXPECT_EQ(event.kind, expected[i].first) << i;
        Lines paths;
        for (const auto& path : event.paths)
            paths.push_back(path.string());
        EXPECT_EQ(paths, expected[i].second) << i;
        EXPECT_FALSE(event.failure) << i;
        EXPECT_FALSE(isFailure(event.kind)) << i;
    }
    EXPECT_EQ(reporter.lines,
              (Lines{"Starting optimization - calculate number of actions",
                     "Creating images folder in root",
                     "Moving image file: logo.png to folder: " + p("images/logo.png"),
                     p("A_files/logo.png"), p("images/logo.png"),
                     "Updating file: " + p("A.html") + " to use moved image: logo.png",
                     "Updating file: " + p("A_files/A.js") + " to use moved image: logo.png",
                     "Removing duplicate file: logo.png from " + p("A_files"),
                     "Removing duplicate file: logo.png from " + p("x_files")}));
}

class RunLinkTest : public RunTest {
  protected:
    // Two pages sharing a logo, as scanned; the run as the command line starts it.
    RunOutcome scanAndRun() {
        page("A", {{"logo.png", "LOGO"}});
        page("B", {{"logo.png", "LOGO"}});
        before = test::referenceTargets(S());
        sitesBefore = {test::snapshot(S()), test::snapshot(outside.path())};
        return startOptimization(scanWebsite(S()), real, reporter);
    }
    void expectOutsideUntouched() {
        EXPECT_EQ(test::snapshot(outside.path()), sitesBefore.second);
        EXPECT_TRUE(test::brokenReferences(before, S()).empty());
        EXPECT_TRUE(test::lostFiles(sitesBefore.first, S()).empty());
    }

    test::TempDir outside;
    test::ReferenceMap before;
    std::pair<std::map<std::string, std::string>, std::map<std::string, std::string>> sitesBefore;
};

TEST_F(RunLinkTest, AnImagesLinkOutOfTheSiteIsNeverWrittenThrough) {
    fs::create_directory(outside / "shared");
    fs::create_directory_symlink(outside / "shared", S() / "images");
    const auto outcome = scanAndRun();
    EXPECT_FALSE(outcome.completed);
    ASSERT_EQ(reporter.sheets.size(), 1u);
    EXPECT_EQ(reporter.sheets[0].message, "Unable to move logo.png to the site images folder");
    EXPECT_TRUE(fs::is_empty(outside / "shared"));
    EXPECT_EQ(test::snapshot(S()), sitesBefore.first);
    expectOutsideUntouched();
}

TEST_F(RunLinkTest, APageThatIsALinkKeepsTheCopyItShows) {
    writeFile(outside / "C.html", "<img src=\"B_files/logo.png\">");
    fs::create_symlink(outside / "C.html", S() / "C.html");
    const auto outcome = scanAndRun();
    EXPECT_TRUE(outcome.completed);
    // B's copy stays for the linked page and is the kept file; A's goes.
    EXPECT_EQ(readFile(S() / "B_files/logo.png"), "LOGO");
    EXPECT_FALSE(fs::exists(S() / "A_files/logo.png"));
    EXPECT_FALSE(fs::exists(S() / "images/logo.png"));
    EXPECT_TRUE(fs::is_symlink(S() / "C.html"));
    EXPECT_FALSE(reporter.linesStartingWith("Keeping " + p("B_files/logo.png") + ": " + p("C.html"))
                     .empty());
    expectOutsideUntouched();
}

TEST_F(RunLinkTest, AScriptInALinkedPageFolderKeepsTheCopyItNames) {
    writeFile(outside / "D_files/D.js", "preload(\"B_files\\/logo.png\");");
    writeFile(outside / "D_files/own.png", "OWN");
    fs::create_directory_symlink(outside / "D_files", S() / "D_files");
    writeFile(S() / "D.html",
              "<img src=\"D_files/own.png\"><script src=\"D_files/D.js\"></script>");
    const auto outcome = scanAndRun();
    EXPECT_TRUE(outcome.completed);
    EXPECT_EQ(readFile(S() / "B_files/logo.png"), "LOGO");
    EXPECT_FALSE(fs::exists(S() / "A_files/logo.png"));
    EXPECT_EQ(readFile(S() / "D.html"),
              "<img src=\"D_files/own.png\"><script src=\"D_files/D.js\"></script>");
    expectOutsideUntouched();
}

TEST_F(RunTest, ASecondRunOfASiteIsRefusedAtOnce) {
    const DuplicateGroup logo = twoPagesSharingALogo();
    const auto before = test::snapshot(S());
    std::error_code error;
    const auto held = SiteLock::tryAcquire(S(), error);
    ASSERT_TRUE(held) << error.message();

    const auto outcome = run({logo});

    EXPECT_TRUE(outcome.busy);
    EXPECT_FALSE(outcome.completed);
    ASSERT_EQ(reporter.sheets.size(), 1u);
    EXPECT_EQ(reporter.sheets[0].message,
              cli::siteBusyMessage(fs::absolute(S()).lexically_normal()));
    EXPECT_EQ(test::snapshot(S()), before);
}

TEST_F(RunTest, TheWritersLeftoversAreRemovedAndNothingElse) {
    page("A", {{"logo.png", "LOGO"}});
    page("B", {{"logo.png", "LOGO"}});
    // Left by a run that died while writing A.js; and two names that only look alike.
    writeFile(S() / "A_files/.A.js.tolvane-Ul7CPD", "half a script");
    writeFile(S() / "A_files/.A.js.tolvane-Ul7CP", "someone's file");
    writeFile(S() / "A_files/A.js.tolvane-Ul7CPD", "someone's file too");
    const ScanResult scan = scanWebsite(S());
    ASSERT_EQ(scan.leftovers.size(), 1u);

    test::RecordingReporter second;
    const auto outcome = startOptimization(scan, real, second);

    EXPECT_TRUE(outcome.completed);
    EXPECT_FALSE(fs::exists(S() / "A_files/.A.js.tolvane-Ul7CPD"));
    EXPECT_EQ(readFile(S() / "A_files/.A.js.tolvane-Ul7CP"), "someone's file");
    EXPECT_EQ(readFile(S() / "A_files/A.js.tolvane-Ul7CPD"), "someone's file too");
    EXPECT_EQ(second.lines.at(1),
              "Removing leftover temporary file: " + p("A_files/.A.js.tolvane-Ul7CPD"));
}

} // namespace
} // namespace tolvane
