#include "bench/sitegen/sitegen.hpp"
#include "run/run_support.hpp"
#include "support/deep_folder.hpp"
#include "support/process.hpp"
#include "support/temp_dir.hpp"

#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace tolvane {
namespace {

namespace fs = std::filesystem;
using test::readFile;
using test::runProcess;
using test::writeFile;

const std::string cli = TOLVANE_CLI;

// Two pages sharing logo.png, plus a page with an image of its own.
fs::path twoPagesSharingALogo(const test::TempDir& dir) {
    const fs::path site = dir / "S";
    writeFile(site / "index.html", "<html></html>");
    for (const std::string page : {"A", "B"}) {
        writeFile(site / (page + "_files/logo.png"), "LOGO");
        writeFile(site / (page + ".html"), "<img src=\"" + page + "_files/logo.png\">");
        writeFile(site / (page + "_files/" + page + ".js"),
                  "x.src = \"" + page + "_files\\/logo.png\";");
    }
    return site;
}

// Without a terminal, as in CI.
test::ProcessResult tolvane(const test::TempDir& dir, std::vector<std::string> args) {
    args.insert(args.begin(), {"setsid", "-w", cli});
    return runProcess(dir.path(), args);
}

// On a pseudo-terminal made by script(1), answering the question with input.
test::ProcessResult onTerminal(const test::TempDir& dir, const std::string& command,
                               const std::string& input) {
    return runProcess(dir.path(), {"script", "-qec", command, "/dev/null"}, {}, &input);
}

TEST(OptimizeVerb, RunsTheExampleAndShowsTheRescan) {
    test::TempDir dir;
    const fs::path site = twoPagesSharingALogo(dir);
    const auto result = tolvane(dir, {"optimize", "--yes", site.string()});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    const std::string S = site.string();
    // The copy the walk met first gives images/ its file; the file system decides which.
    const bool aFirst =
        result.out.find(S + "/A_files/logo.png\n") < result.out.find(S + "/B_files/logo.png\n");
    const std::string first = aFirst ? "A" : "B", second = aFirst ? "B" : "A";
    // The kept file is placed first, every referring file is rewritten (in the order the
    // site was read), and only then do the copies go.
    const std::string placed = "Starting optimization - calculate number of actions\n"
                               "Creating images folder in root\n"
                               "Moving image file: logo.png to folder: " +
                               S + "/images/logo.png\n" + S + "/" + first + "_files/logo.png\n" +
                               S + "/images/logo.png\n";
    const std::string removed = "Removing duplicate file: logo.png from " + S + "/" + first +
                                "_files\nRemoving duplicate file: logo.png from " + S + "/" +
                                second + "_files\n";
    const auto start = result.out.find(placed);
    const auto end = result.out.find(removed);
    ASSERT_NE(start, std::string::npos) << result.out;
    ASSERT_NE(end, std::string::npos) << result.out;
    ASSERT_LT(start, end);
    std::multiset<std::string> updated;
    std::istringstream between(
        result.out.substr(start + placed.size(), end - start - placed.size()));
    for (std::string line; std::getline(between, line);)
        updated.insert(line);
    EXPECT_EQ(updated, (std::multiset<std::string>{
                           "Updating file: " + S + "/A.html to use moved image: logo.png",
                           "Updating file: " + S + "/A_files/A.js to use moved image: logo.png",
                           "Updating file: " + S + "/B.html to use moved image: logo.png",
                           "Updating file: " + S + "/B_files/B.js to use moved image: logo.png"}));
    // The re-scan's finding, then the summary as the last line.
    EXPECT_EQ(result.out.substr(result.out.rfind("\n\n") + 2),
              "No duplicate images are left.\n"
              "Run complete: removed 1 copy, saved 4 bytes; 4 files rewritten\n");
    EXPECT_EQ(readFile(site / "B.html"), "<img src=\"images/logo.png\">");
    EXPECT_EQ(readFile(site / "images/logo.png"), "LOGO");
    EXPECT_EQ(result.err.find("Optimizing ["), std::string::npos); // no bar off a terminal
}

// The dry run lists exactly what the run then does: the names it adds, the files it rewrites
// and the copies it removes, on a generated site where some copies must stay.
TEST(OptimizeVerb, DryRunListsExactlyWhatTheRunChanges) {
    test::TempDir dir;
    sitegen::SiteShape shape;
    shape.seed = 3;
    shape.pages = 8;
    shape.imagesPerPage = 4;
    shape.sharedImages = 5;
    shape.sharedPerPage = 3;
    shape.sharedVariants = 2;
    shape.nestedShare = 0.5;
    shape.assetCopies = 2; // named from outside page folders: they stay
    const fs::path site = sitegen::generateSite(dir / "S", shape).root;
    const auto before = test::snapshot(site);
    const auto dry = tolvane(dir, {"optimize", "--dry-run", site.string()});
    EXPECT_EQ(dry.exitCode, 0) << dry.err;
    EXPECT_EQ(test::snapshot(site), before);
    std::set<std::string> placed, rewritten, removed;
    std::istringstream lines(dry.out);
    for (std::string line; std::getline(lines, line);) {
        const auto after = [&](const std::string& start, const std::string& end) {
            return line.substr(start.size(), line.rfind(end) - start.size());
        };
        if (line.rfind("Would place ", 0) == 0)
            placed.insert(after("Would place ", ", the bytes of "));
        else if (line.rfind("Would rewrite ", 0) == 0)
            rewritten.insert(after("Would rewrite ", " ("));
        else if (line.rfind("Would remove ", 0) == 0)
            removed.insert(line.substr(13));
    }
    ASSERT_FALSE(removed.empty()) << dry.out;

    EXPECT_EQ(tolvane(dir, {"optimize", "--yes", site.string()}).exitCode, 0);
    const auto after = test::snapshot(site);
    std::set<std::string> added, changed, gone;
    for (const auto& [path, bytes] : after) {
        const auto was = before.find(path);
        if (was == before.end())
            added.insert(path);
        else if (was->second != bytes)
            changed.insert(path);
    }
    for (const auto& [path, bytes] : before)
        if (!after.count(path))
            gone.insert(path);
    EXPECT_EQ(added, placed);
    EXPECT_EQ(changed, rewritten);
    EXPECT_EQ(gone, removed);
    EXPECT_NE(dry.out.find("Dry run: nothing was changed. The run would remove " +
                           std::to_string(removed.size() - placed.size()) + " copies"),
              std::string::npos)
        << dry.out;
}

TEST(OptimizeVerb, RefusesWithoutConfirmationOrWithAnUnknownOption) {
    test::TempDir dir;
    const fs::path site = twoPagesSharingALogo(dir);
    const auto before = test::snapshot(site);
    auto result = tolvane(dir, {"optimize", site.string()});
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_NE(result.err.find("--yes"), std::string::npos);
    EXPECT_EQ(test::snapshot(site), before);

    EXPECT_EQ(tolvane(dir, {"optimize", "--bogus", site.string()}).exitCode, 2);
}

TEST(OptimizeVerb, AsksOnTheTerminalAndDefaultsToNo) {
    test::TempDir dir;
    const fs::path site = twoPagesSharingALogo(dir);
    const auto before = test::snapshot(site);
    const std::string command =
        test::shellQuote(cli) + " optimize " + test::shellQuote(site.string());
    auto result = onTerminal(dir, command, "\n");
    EXPECT_NE(result.out.find("Are you sure?"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("WARNING. You are about to overwrite files within your website."),
              std::string::npos);
    EXPECT_EQ(test::snapshot(site), before);
    result = onTerminal(dir, command, "no\n");
    EXPECT_EQ(test::snapshot(site), before);

    result = onTerminal(dir, command, "y\n");
    EXPECT_EQ(result.exitCode, 0) << result.out;
    EXPECT_NE(result.out.find("Optimizing ["), std::string::npos); // the bar, on a terminal
    EXPECT_TRUE(fs::exists(site / "images/logo.png"));
    EXPECT_FALSE(fs::exists(site / "A_files/logo.png"));
}

TEST(OptimizeVerb, AFailureEndsWithItsSheetOnStderrAndStatusOne) {
    test::TempDir dir;
    const fs::path site = twoPagesSharingALogo(dir);
    writeFile(site / "images", "a plain file");
    const auto result = tolvane(dir, {"optimize", "--yes", site.string()});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find("Unable to move logo.png to the site images folder\n"),
              std::string::npos)
        << result.err;
    EXPECT_NE(result.out.find("Unable to move logo.png to the site images folder, error: "),
              std::string::npos);
    EXPECT_TRUE(fs::exists(site / "A_files/logo.png"));

    // A copy that must stay where it is becomes the kept file: the other pages lead to it
    // and nothing new goes into images/.
    fs::remove(site / "images");
    writeFile(site / "B.html", "caf\xE9 <img src=\"B_files/logo.png\">");
    const auto stays = tolvane(dir, {"optimize", "--yes", site.string()});
    EXPECT_EQ(stays.exitCode, 0) << stays.err;
    EXPECT_NE(stays.out.find("Keeping " + (site / "B_files/logo.png").string() + ": " +
                             (site / "B.html").string() + " is not valid UTF-8 text"),
              std::string::npos)
        << stays.out;
    EXPECT_EQ(readFile(site / "B_files/logo.png"), "LOGO");
    EXPECT_FALSE(fs::exists(site / "A_files/logo.png"));
    EXPECT_FALSE(fs::exists(site / "images/logo.png"));
    EXPECT_NE(readFile(site / "A.html").find("\"B_files/logo.png\""), std::string::npos);
}

TEST(OptimizeVerb, NothingIsTouchedWhenTheRunCannotBeRecordedForUndo) {
    test::TempDir dir;
    const fs::path site = twoPagesSharingALogo(dir);
    writeFile(dir / "data", "a plain file where the record's folder would go");
    const auto before = test::snapshot(site);
    const auto result =
        runProcess(dir.path(), {"setsid", "-w", cli, "optimize", "--yes", site.string()},
                   {"XDG_DATA_HOME=" + (dir / "data").string()});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find("Unable to record the run for undo"), std::string::npos)
        << result.err;
    EXPECT_NE(result.err.find("Nothing was changed."), std::string::npos);
    EXPECT_EQ(test::snapshot(site), before);
}

TEST(OptimizeVerb, ControlCharactersOfFileNamesAreEscapedInLogAndSheets) {
    test::TempDir dir;
    const auto site = [&](const std::string& name) {
        const fs::path root = dir / name;
        writeFile(root / "index.html", "<html></html>");
        writeFile(root / "A\rB_files/two\nlines.png", "TWO");
        writeFile(root / "C_files/two\nlines.png", "TWO");
        return root;
    };
    const fs::path done = site("done");
    const auto result = tolvane(dir, {"optimize", "--yes", done.string()});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE(result.out.find("Moving image file: two\\nlines.png to folder: " + done.string() +
                              "/images/two\\nlines.png\n"),
              std::string::npos)
        << result.out;
    EXPECT_NE(result.out.find("Removing duplicate file: two\\nlines.png from " + done.string()),
              std::string::npos)
        << result.out;
    for (const std::string& output : {result.out, result.err}) {
        EXPECT_EQ(output.find("two\nlines"), std::string::npos) << output;
        EXPECT_EQ(output.find("A\rB"), std::string::npos) << output;
    }

    // A run that fails at once: its sheet on stderr and its log line are escaped as well.
    const fs::path failed = site("failed");
    writeFile(failed / "images", "a plain file");
    const auto failure = tolvane(dir, {"optimize", "--yes", failed.string()});
    EXPECT_EQ(failure.exitCode, 1);
    EXPECT_NE(failure.err.find("Unable to move two\\nlines.png to the site images folder\n  "),
              std::string::npos)
        << failure.err;
    EXPECT_NE(failure.out.find("Unable to move two\\nlines.png to the site images folder, error: "),
              std::string::npos)
        << failure.out;
    for (const std::string& output : {failure.out, failure.err})
        EXPECT_EQ(output.find("two\nlines"), std::string::npos) << output;
}

TEST(OptimizeVerb, APathTooLongToReadIsReportedAndItsCopiesStay) {
    test::TempDir dir;
    const fs::path site = twoPagesSharingALogo(dir);
    const test::DeepFolder deep(site, "logo.png", "LOGO");
    const auto scan = tolvane(dir, {"scan", site.string()});
    EXPECT_EQ(scan.exitCode, 0) << scan.err;
    EXPECT_NE(scan.err.find("Unable to read " + (site / deep.folderName()).string()),
              std::string::npos)
        << scan.err;
    EXPECT_NE(scan.err.find(std::make_error_code(std::errc::filename_too_long).message()),
              std::string::npos)
        << scan.err;

    // What the unread files refer to is not known, so no copy goes.
    const auto before = test::snapshot(site / "A_files");
    const auto run = tolvane(dir, {"optimize", "--yes", site.string()});
    EXPECT_NE(run.err.find("Unable to read "), std::string::npos) << run.err;
    EXPECT_EQ(readFile(site / "A_files/logo.png"), "LOGO");
    EXPECT_EQ(readFile(site / "B_files/logo.png"), "LOGO");
    EXPECT_EQ(test::snapshot(site / "A_files"), before);
}

} // namespace
} // namespace tolvane

namespace tolvane {
namespace {

// What --only, --skip, --keep and --leave make a run do, on three pages that share logo.png
// and two that share x.gif: which copies remain, and that every reference still shows its
// bytes and nothing is lost.
TEST(OptimizeVerb, ChoicesDecideWhichGroupsAndCopiesTheRunTakes) {
    struct Case {
        std::vector<std::string> options;
        std::set<std::string> remaining; // the images afterwards, relative to the site
    };
    const std::vector<Case> cases{
        {{"--only", "logo.png"}, {"images/logo.png", "A_files/x.gif", "B_files/x.gif"}},
        {{"--skip", "logo.png"},
         {"A_files/logo.png", "B_files/logo.png", "C_files/logo.png", "images/x.gif"}},
        {{"--keep", "S/B_files/logo.png"}, {"B_files/logo.png", "images/x.gif"}},
        {{"--leave", "S/A_files/logo.png", "--leave", "S/B_files/x.gif"},
         {"A_files/logo.png", "images/logo.png", "A_files/x.gif", "B_files/x.gif"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options.front() + " " + c.options[1]);
        test::TempDir dir;
        const fs::path site = dir / "S";
        writeFile(site / "index.html", "<html></html>");
        for (const std::string page : {"A", "B", "C"}) {
            writeFile(site / (page + "_files/logo.png"), "LOGO");
            std::string html = "<img src=\"" + page + "_files/logo.png\">";
            if (page != "C") {
                writeFile(site / (page + "_files/x.gif"), "GIF");
                html += "<img src=\"" + page + "_files/x.gif\">";
            }
            writeFile(site / (page + ".html"), html);
        }
        const auto before = test::snapshot(site);
        const auto references = test::referenceTargets(site);
        std::vector<std::string> args{"optimize", "--yes", site.string()};
        for (const std::string& option : c.options)
            args.push_back(option.rfind("S/", 0) == 0 ? (site / option.substr(2)).string()
                                                      : option);
        const auto result = tolvane(dir, args);
        EXPECT_EQ(result.exitCode, 0) << result.out << result.err;
        std::set<std::string> images;
        for (const auto& [path, bytes] : test::snapshot(site))
            if (test::hasImageSuffix(path))
                images.insert(path);
        EXPECT_EQ(images, c.remaining);
        EXPECT_EQ(test::brokenReferences(references, site), std::vector<std::string>{});
        EXPECT_EQ(test::lostFiles(before, site), std::vector<std::string>{});
    }

    // A name or a path that matches nothing is refused before anything is touched.
    test::TempDir dir;
    const fs::path site = twoPagesSharingALogo(dir);
    const auto before = test::snapshot(site);
    for (const std::vector<std::string>& wrong :
         {std::vector<std::string>{"--only", "logo.gif"}, {"--keep", "S/A_files/logo.gif"}}) {
        auto args =
            std::vector<std::string>{"optimize", "--yes", site.string(), wrong[0],
                                     wrong[0] == "--only" ? wrong[1] : (dir / wrong[1]).string()};
        EXPECT_EQ(tolvane(dir, args).exitCode, 2);
    }
    EXPECT_EQ(test::snapshot(site), before);
}

} // namespace
} // namespace tolvane
