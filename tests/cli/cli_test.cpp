// tolvane-cli driven as a user drives it, without a terminal unless said: each verb family's
// invocations as a table of arguments, exit status and the facts that matter in the output
// and in the site. The run's log lines are pinned once, on the example run.
#include "bench/sitegen/sitegen.hpp"
#include "cli/event_text.hpp"
#include "run/run_support.hpp"
#include "run/site_lock.hpp"
#include "support/process.hpp"
#include "support/temp_dir.hpp"
#include "util/aes.hpp"

#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace tolvane {
namespace {

namespace fs = std::filesystem;
using test::readFile;
using test::snapshot;
using test::writeFile;
using Args = std::vector<std::string>;

const std::string cli = TOLVANE_CLI;

bool has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// A folder of the test's own, holding the site S and the record of its runs. Arguments "S"
// and "S/..." name the site and what is in it; the program runs in the folder, in UTC.
struct Cli {
    test::TempDir dir;
    fs::path site = dir / "S";

    // The command line with args, run in the folder.
    std::string command(const Args& args) const {
        std::string text = "cd " + test::shellQuote(dir.path().string()) + " && exec " + cli;
        for (const auto& arg : args)
            text += " " + test::shellQuote(
                              arg == "S" || arg.rfind("S/", 0) == 0 ? (dir / arg).string() : arg);
        return text;
    }
    std::vector<std::string> env(std::vector<std::string> extra = {}) const {
        extra.insert(extra.begin(), {"XDG_DATA_HOME=" + (dir / "data").string(), "TZ=UTC"});
        return extra;
    }
    test::ProcessResult operator()(const Args& args, std::vector<std::string> extra = {}) const {
        return test::runProcess(dir.path(), {"setsid", "-w", "sh", "-c", command(args)},
                                env(std::move(extra)));
    }
    // On a pseudo-terminal made by script(1), answering its question with input.
    test::ProcessResult onTerminal(const Args& args, const std::string& input) const {
        return test::runProcess(dir.path(), {"script", "-qec", command(args), "/dev/null"}, env(),
                                &input);
    }
    // Pages A, B, ... each showing its own copy of logo.png, from the page and from its
    // script; the pages named in gif also show their own copy of x.gif.
    void makeSite(const std::string& pages = "AB", const std::string& gif = "") const {
        writeFile(site / "index.html", "<html></html>");
        for (const char p : pages) {
            const std::string folder = std::string(1, p) + "_files";
            writeFile(site / folder / "logo.png", "LOGO");
            std::string html = "<img src=\"" + folder + "/logo.png\">";
            if (gif.find(p) != std::string::npos) {
                writeFile(site / folder / "x.gif", "GIF");
                html += "<img src=\"" + folder + "/x.gif\">";
            }
            writeFile(site / (std::string(1, p) + ".html"), html);
            writeFile(site / folder / (std::string(1, p) + ".js"),
                      "x.src = \"" + folder + "\\/logo.png\";");
        }
    }
    // The record of the newest run (record folders are named by the time of the run).
    fs::path newestRecord() const {
        fs::path newest;
        for (const auto& entry : fs::recursive_directory_iterator(dir / "data"))
            if (entry.path().filename() == "records" && entry.path() > newest)
                newest = entry.path();
        return newest;
    }
    std::set<std::string> images() const {
        std::set<std::string> found;
        for (const auto& [path, bytes] : snapshot(site))
            if (test::hasImageSuffix(path))
                found.insert(path);
        return found;
    }
};

// md5 prints what md5sum prints, names escaped alike, and goes on past what it cannot read;
// encrypt writes what the cipher gives for the passphrase in the environment (more than 32
// bytes, of which the first 32 count, not ASCII), decrypt gives the input back, and a wrong
// passphrase or a damaged input leaves the output as it was.
TEST(CommandLine, UtilityVerbs) {
    Cli c;
    const std::string pass = "Grüße aus Åre, 東京, and more than 32 bytes";
    std::string data(1u << 20, '\0');
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<char>((i * 7919) >> 3);
    const Args files{"", "abc", "jk8ssl", "back\\slash.png", "new\nline.png", "sparse", "data"};
    for (const auto& name : files)
        writeFile(c.dir / ("m" + name), name == "data" ? data : name);
    fs::resize_file(c.dir / "msparse", 256u << 20);
    Args args{"md5"};
    std::string md5sum = "md5sum";
    for (const auto& name : files)
        args.push_back("m" + name), md5sum += " " + test::shellQuote("m" + name);
    const auto expected = test::runProcess(
        c.dir.path(), {"sh", "-c", "cd \"$0\" && " + md5sum, c.dir.path().string()});
    ASSERT_EQ(expected.exitCode, 0) << expected.err;
    const auto ours = c(args);
    EXPECT_EQ(ours.exitCode, 0) << ours.err;
    EXPECT_EQ(ours.out, expected.out);
    EXPECT_EQ(ours.err, "");
    auto r = c({"md5", "missing.png", ".", "mabc"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "900150983cd24fb0d6963f7d28e17f72  mabc\n");
    EXPECT_TRUE(has(r.err, "missing.png") && has(r.err, ".:")) << r.err;

    const std::string passphrase = "TOLVANE_PASSPHRASE=" + pass;
    ASSERT_EQ(c({"encrypt", "mdata", "cipher"}, {passphrase}).exitCode, 0);
    const std::string cipher = readFile(c.dir / "cipher");
    EXPECT_EQ(cipher, test::toString(AES256EncryptWithKey(asBytes(data), pass).value()));
    ASSERT_EQ(c({"decrypt", "cipher", "back"}, {passphrase}).exitCode, 0);
    EXPECT_EQ(readFile(c.dir / "back"), data);
    writeFile(c.dir / "cut", cipher.substr(0, cipher.size() - 5));
    // This wrong passphrase fails the padding check of this input (not every one would).
    for (const auto& [input, setting] :
         {std::pair{"cipher", "TOLVANE_PASSPHRASE=wrong"}, {"cut", passphrase.c_str()}}) {
        for (const char* out : {"fresh", "mabc"}) {
            r = c({"decrypt", input, out}, {setting});
            EXPECT_EQ(r.exitCode, 1) << input;
            EXPECT_TRUE(has(r.err, "cannot decrypt")) << r.err;
        }
        EXPECT_FALSE(fs::exists(c.dir / "fresh"));
        EXPECT_EQ(readFile(c.dir / "mabc"), "abc");
    }
    // Without the variable and without a terminal there is no passphrase to be had.
    r = c({"encrypt", "mabc", "other"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(has(r.err, "TOLVANE_PASSPHRASE"));
    EXPECT_FALSE(fs::exists(c.dir / "other"));
}

// Refusals: nothing looked at or touched, status 2 for what the user asked wrongly, 1 for a
// site another run holds. And the help of each verb.
TEST(CommandLine, RefusalsTouchNothing) {
    Cli c;
    c.makeSite();
    fs::create_directories(c.dir / "plain");
    writeFile(c.dir / "N/A_files/logo.png", "LOGO");
    writeFile(c.dir / "N/B_files/logo.png", "LOGO");
    const std::string notASite = "Not a website folder.\nWARNING. That folder must contain "
                                 "index.html for it to be the root folder of the site.\n";
    const struct {
        Args args;
        int status;
        std::string err; // a part of what stderr says; empty: something
    } rows[] = {
        {{}, 2, ""},
        {{"frobnicate"}, 2, ""},
        {{"md5"}, 2, ""},
        {{"md5", "--no-such-option", "x"}, 2, ""},
        {{"scan"}, 2, ""},
        {{"scan", "nothing"}, 2, "no such folder"},
        {{"scan", "S/index.html"}, 2, "not a folder"},
        {{"scan", "N"}, 2, notASite},
        {{"check", "N"}, 2, notASite},
        {{"optimize", "--yes", "N"}, 2, notASite},
        {{"undo", "--yes", "plain"}, 2, notASite},
        {{"history", "plain"}, 2, notASite},
        {{"undo"}, 2, ""},
        {{"optimize", "S"}, 2, "--yes"},
        {{"optimize", "--bogus", "S"}, 2, ""},
        {{"optimize", "--yes", "S", "--only", "logo.gif"}, 2, "logo.gif"},
        {{"optimize", "--yes", "S", "--skip", "nothing.png"}, 2, "nothing.png"},
        {{"optimize", "--yes", "S", "--keep", "S/A_files/logo.gif"}, 2, "logo.gif"},
        {{"optimize", "--yes", "S", "--leave", "S/C_files/logo.png"}, 2, "logo.png"},
        {{"undo", "--yes", "S"}, 1, "Nothing to undo"},
    };
    const auto site = snapshot(c.site), other = snapshot(c.dir / "N");
    for (const auto& row : rows) {
        const std::string label = ::testing::PrintToString(row.args);
        const auto r = c(row.args);
        EXPECT_EQ(r.exitCode, row.status) << label << r.err;
        EXPECT_TRUE(row.err.empty() ? !r.err.empty() : has(r.err, row.err)) << label << r.err;
        EXPECT_TRUE(r.out.empty() || row.args.size() < 2 || row.args[0] != "scan") << label;
    }
    // index.html as a folder or as a dangling link is no root; a link to a page is.
    fs::create_directory(c.dir / "N/index.html");
    EXPECT_EQ(c({"scan", "N"}).err, notASite);
    fs::remove(c.dir / "N/index.html");
    fs::create_symlink(c.dir / "page.html", c.dir / "N/index.html");
    EXPECT_EQ(c({"optimize", "--yes", "N"}).err, notASite);
    EXPECT_EQ(snapshot(c.dir / "N"), other);
    writeFile(c.dir / "page.html", "<html>");
    EXPECT_TRUE(has(c({"scan", "N"}).out, "logo.png"));

    // A site another run or undo holds is refused by both.
    ASSERT_EQ(c({"optimize", "--yes", "S"}).exitCode, 0);
    EXPECT_EQ(c({"undo", "S"}).exitCode, 2);
    const auto afterRun = snapshot(c.site);
    {
        std::error_code error;
        const auto lock = SiteLock::tryAcquire(c.site, error);
        ASSERT_TRUE(lock) << error.message();
        for (const Args& args : {Args{"undo", "--yes", "S"}, Args{"history", "S"}}) {
            const auto r = c(args);
            EXPECT_EQ(r.exitCode, 1) << args[0];
            EXPECT_EQ(r.err, cli::siteBusyMessage(c.site) + "\n") << args[0];
        }
    }
    EXPECT_EQ(snapshot(c.site), afterRun);
    EXPECT_NE(afterRun, site);
    for (const char* verb : {"md5", "encrypt", "decrypt", "scan", "check", "optimize", "undo"})
        EXPECT_TRUE(has(c({verb, "--help"}).out, "Usage")) << verb;
    EXPECT_EQ(c({"--version"}).out.rfind("tolvane-cli ", 0), 0u);
}

TEST(CheckVerb, BrokenReferencesFailUnreferencedAndUnfollowedImagesAreOnlyListed) {
    Cli c;
    writeFile(c.site / "index.html",
              "<img src=\"A_files/a.png\">\n<img src=\"A_files/gone%20now.png\">");
    writeFile(c.site / "A_files/a.png", "a");
    writeFile(c.site / "A_files/spare.gif", "s");
    auto r = c({"check", "S"});
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_TRUE(has(r.out, "References that point at nothing (1):\n  index.html:2: "
                           "A_files/gone%20now.png  (no file A_files/gone now.png)\n"))
        << r.out;
    EXPECT_TRUE(has(r.out, "Images nothing refers to (1):\n  A_files/spare.gif\n")) << r.out;

    writeFile(c.site / "A_files/gone now.png", "g");
    writeFile(c.site / "A_files/spare.html", "<img src=\"spare.gif\"><img src=\"/A_files/a.png\">");
    r = c({"check", "S"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(has(r.out, "No reference points at nothing.\n\nEvery image is referred to.\n"))
        << r.out;
    EXPECT_TRUE(has(r.out, "Image references that could not be followed (1):\n"
                           "  A_files/spare.html:1: /A_files/a.png  ("))
        << r.out;
}

TEST(ScanVerb, TextAndJsonSayWhatTheRunWillDo) {
    Cli c;
    writeFile(c.site / "index.html", "<html>");
    writeFile(c.site / "a/logo.png", "one");
    writeFile(c.site / "b/logo.png", "two");
    auto r = c({"scan", "S"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "There are no images to optimize!\n"
                     "Your website contains no duplicate images that need optimizing.\n");
    EXPECT_EQ(r.err, ""); // no progress display off a terminal
    // A relative SITE is reported as an absolute root.
    EXPECT_EQ(c({"scan", "--json", "./S/"}).out,
              "{\"root\": \"" + c.site.string() + "\", \"groups\": []}\n");

    // Three copies of logo.png, one shown through a URL from the server's root (it stays),
    // and two of a name that needs escaping in JSON.
    writeFile(c.site / "index.html",
              "<img src=\"A_files/logo.png\"><img src=\"B_files/logo.png\">");
    for (const char* page : {"A", "B", "C"})
        writeFile(c.site / (std::string(page) + "_files/logo.png"), "LOGO");
    writeFile(c.site / "C.html", "<img src=\"/C_files/logo.png\">");
    const std::string odd = std::string("q\"b\\s\tt\x01") + "\xc3\xa9" + "\xff.png";
    writeFile(c.site / "a" / odd, "odd");
    writeFile(c.site / "b" / odd, "odd");
    r = c({"scan", "S"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(has(r.out, "  keep    C_files/logo.png\n")) << r.out;
    EXPECT_TRUE(has(r.out, "   C_files/logo.png\n          C.html line 1: \"/C_files/logo.png\": "
                           "a URL from the server's root: where the site lies on the server is "
                           "not known\n"))
        << r.out;
    EXPECT_TRUE(has(r.out, "  2 references point at its copies\n")) << r.out;
    EXPECT_TRUE(has(r.out, "  kept as images/")) << r.out; // the odd name's group
    EXPECT_TRUE(has(r.out, "Groups: 2\nCopies to remove: 3\nBytes to save: 11 bytes\n")) << r.out;

    const auto json = c({"scan", "--json", "S"});
    EXPECT_EQ(json.exitCode, 0);
    const std::string escaped = "q\\\"b\\\\s\\tt\\u0001\xc3\xa9\\udcff.png";
    EXPECT_TRUE(has(json.out, "\"name\": \"" + escaped + "\"")) << json.out;
    EXPECT_TRUE(has(json.out, "\"keep\": \"C_files/logo.png\"")) << json.out;
    EXPECT_TRUE(has(json.out, "\"keep\": \"images/" + escaped + "\"")) << json.out;
    EXPECT_FALSE(has(json.out, "\"stays\": []}, {")) << json.out; // logo.png's C_files copy
    EXPECT_TRUE(has(json.out, "\"remove\": [\"A_files/logo.png\", \"B_files/logo.png\"]") ||
                has(json.out, "\"remove\": [\"B_files/logo.png\", \"A_files/logo.png\"]"))
        << json.out;
}

// The example: two pages sharing logo.png, each also through its script. The plan comes
// first, then the run's log (pinned line for line by the core's example run), and the
// re-scan's finding and the summary last.
TEST(OptimizeVerb, TheExampleRunsThenSaysTheRescanAndTheSummaryLast) {
    Cli c;
    c.makeSite();
    const auto r = c({"optimize", "--yes", "S"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    const std::size_t start = r.out.find("Starting optimization - calculate number of actions\n");
    EXPECT_TRUE(start != std::string::npos && start > r.out.find("logo.png")) << r.out;
    // The last copy removed (A's or B's, as the walk met them), then the ending.
    const std::string last = "Removing duplicate file: logo.png from " + c.site.string() + "/";
    const std::string end = "_files\n\nNo duplicate images are left.\n"
                            "Run complete: removed 1 copy, saved 4 bytes; 4 files rewritten\n";
    EXPECT_TRUE(r.out.ends_with(end) &&
                r.out.rfind(last) == r.out.size() - end.size() - last.size() - 1)
        << r.out;
    EXPECT_EQ(readFile(c.site / "B.html"), "<img src=\"images/logo.png\">");
    EXPECT_EQ(readFile(c.site / "A_files/A.js"), "x.src = \"images\\/logo.png\";");
    EXPECT_EQ(readFile(c.site / "images/logo.png"), "LOGO");
    EXPECT_FALSE(has(r.err, "Optimizing [")); // no bar off a terminal
}

// The dry run lists exactly what the run then does, on a generated site where some copies
// must stay.
TEST(OptimizeVerb, TheDryRunListsExactlyWhatTheRunChanges) {
    Cli c;
    // Asset copies are named from outside page folders: they stay.
    sitegen::generateSite(c.site, {.seed = 3,
                                   .pages = 8,
                                   .imagesPerPage = 4,
                                   .sharedImages = 5,
                                   .sharedPerPage = 3,
                                   .sharedVariants = 2,
                                   .nestedShare = 0.5,
                                   .assetCopies = 2});
    const auto before = snapshot(c.site);
    const auto dry = c({"optimize", "--dry-run", "S"});
    EXPECT_EQ(dry.exitCode, 0) << dry.err;
    EXPECT_EQ(snapshot(c.site), before);
    std::set<std::string> placed, rewritten, removed;
    std::istringstream lines(dry.out);
    for (std::string line; std::getline(lines, line);) {
        const auto between = [&](const std::string& start, const std::string& end) {
            return line.substr(start.size(), line.rfind(end) - start.size());
        };
        if (line.rfind("Would place ", 0) == 0)
            placed.insert(between("Would place ", ", the bytes of "));
        else if (line.rfind("Would rewrite ", 0) == 0)
            rewritten.insert(between("Would rewrite ", " ("));
        else if (line.rfind("Would remove ", 0) == 0)
            removed.insert(line.substr(13));
    }
    ASSERT_FALSE(removed.empty()) << dry.out;
    EXPECT_TRUE(has(dry.out, "Dry run: nothing was changed. The run would remove " +
                                 std::to_string(removed.size() - placed.size()) + " copies"))
        << dry.out;
    EXPECT_EQ(c({"optimize", "--yes", "S"}).exitCode, 0);
    const auto after = snapshot(c.site);
    std::set<std::string> added, changed, gone;
    for (const auto& [path, bytes] : after)
        if (!before.count(path) || before.at(path) != bytes)
            (before.count(path) ? changed : added).insert(path);
    for (const auto& [path, bytes] : before)
        if (!after.count(path))
            gone.insert(path);
    EXPECT_EQ(added, placed);
    EXPECT_EQ(changed, rewritten);
    EXPECT_EQ(gone, removed);
}

// What --only, --skip, --keep and --leave make a run do on three pages sharing logo.png and
// two sharing x.gif: the images left, every reference whole and nothing lost.
TEST(OptimizeVerb, ChoicesDecideWhichGroupsAndCopiesTheRunTakes) {
    const struct {
        Args options;
        std::set<std::string> remaining;
    } rows[] = {
        {{"--only", "logo.png"}, {"images/logo.png", "A_files/x.gif", "B_files/x.gif"}},
        {{"--skip", "logo.png"},
         {"A_files/logo.png", "B_files/logo.png", "C_files/logo.png", "images/x.gif"}},
        {{"--keep", "S/B_files/logo.png"}, {"B_files/logo.png", "images/x.gif"}},
        {{"--leave", "S/A_files/logo.png", "--leave", "S/B_files/x.gif"},
         {"A_files/logo.png", "images/logo.png", "A_files/x.gif", "B_files/x.gif"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.options[0] + " " + row.options[1]);
        Cli c;
        c.makeSite("ABC", "AB");
        const auto before = snapshot(c.site);
        const auto references = test::referenceTargets(c.site);
        Args args{"optimize", "--yes", "S"};
        args.insert(args.end(), row.options.begin(), row.options.end());
        const auto r = c(args);
        EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
        EXPECT_EQ(c.images(), row.remaining);
        EXPECT_EQ(test::brokenReferences(references, c.site), std::vector<std::string>{});
        EXPECT_EQ(test::lostFiles(before, c.site), std::vector<std::string>{});
    }
}

// Asked on a terminal, an empty answer or "no" changes nothing; "y" goes ahead, with a bar.
TEST(CommandLine, OptimizeAndUndoAskOnTheTerminalAndDefaultToNo) {
    Cli c;
    c.makeSite();
    const auto original = snapshot(c.site);
    for (const std::string verb : {"optimize", "undo"}) {
        const auto before = snapshot(c.site);
        for (const char* answer : {"\n", "no\n"}) {
            const auto r = c.onTerminal({verb, "S"}, answer);
            EXPECT_TRUE(has(r.out, "Are you sure?")) << r.out;
            EXPECT_EQ(snapshot(c.site), before) << verb;
        }
        const auto r = c.onTerminal({verb, "S"}, "y\n");
        EXPECT_EQ(r.exitCode, 0) << r.out;
        EXPECT_NE(snapshot(c.site), before) << verb;
    }
    EXPECT_EQ(snapshot(c.site), original);
    EXPECT_TRUE(has(c.onTerminal({"optimize", "S"}, "y\n").out, "Optimizing ["));
}

TEST(OptimizeVerb, WhatCannotBeDoneIsReportedAndItsCopiesStay) {
    // images/ is a plain file: the run ends at once, its sheet on stderr, status 1; names
    // are shown with their control characters escaped.
    Cli c;
    writeFile(c.site / "index.html", "<html></html>");
    writeFile(c.site / "A\rB_files/two\nlines.png", "TWO");
    writeFile(c.site / "C_files/two\nlines.png", "TWO");
    writeFile(c.site / "images", "a plain file");
    auto r = c({"optimize", "--yes", "S"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(has(r.err, "Unable to move two\\nlines.png to the site images folder\n")) << r.err;
    EXPECT_TRUE(has(r.out, "Unable to move two\\nlines.png to the site images folder, error: "));
    EXPECT_EQ(readFile(c.site / "C_files/two\nlines.png"), "TWO");
    fs::remove(c.site / "images");
    r = c({"optimize", "--yes", "S"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(has(r.out, "Moving image file: two\\nlines.png to folder: " + c.site.string() +
                               "/images/two\\nlines.png\n"))
        << r.out;
    for (const std::string& output : {r.out, r.err})
        EXPECT_FALSE(has(output, "two\nlines") || has(output, "A\rB")) << output;

    // The run cannot be recorded for undo: nothing is touched.
    Cli unrecorded;
    unrecorded.makeSite();
    writeFile(unrecorded.dir / "data", "a plain file where the record's folder would go");
    auto before = snapshot(unrecorded.site);
    r = unrecorded({"optimize", "--yes", "S"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(has(r.err, "Unable to record the run for undo") &&
                has(r.err, "Nothing was changed."))
        << r.err;
    EXPECT_EQ(snapshot(unrecorded.site), before);

    // A folder too deep to read: what it refers to is unknown, so no copy goes. It is two
    // chains of folders, each short enough to be made, one moved into the other.
    Cli deep;
    deep.makeSite();
    const std::string d(200, 'd');
    fs::path first = deep.site / d, second = deep.dir / d;
    for (int i = 0; i < 11; ++i)
        first /= d, second /= d;
    fs::create_directories(first);
    writeFile(second / "logo.png", "LOGO");
    fs::rename(deep.dir / d, first / d);
    for (const Args& args : {Args{"scan", "S"}, Args{"optimize", "--yes", "S"}}) {
        r = deep(args);
        EXPECT_TRUE(has(r.err, "Unable to read " + (deep.site / d).string())) << r.err;
        EXPECT_TRUE(has(r.err, std::make_error_code(std::errc::filename_too_long).message()));
    }
    EXPECT_EQ(test::runProcess(deep.dir.path(), {"rm", "-rf", (deep.site / d).string()}).exitCode,
              0);
    for (const char* copy : {"A_files/logo.png", "B_files/logo.png"})
        EXPECT_EQ(readFile(deep.site / copy), "LOGO");
}

// Undo after real runs: history, a finished undo, one stopped by an edit and finished later,
// and a run cut short.
TEST(UndoVerb, PutsTheSiteBackAndSaysWhatItCouldNotDo) {
    Cli c;
    c.makeSite();
    const auto original = snapshot(c.site);
    const auto optimize = [&] { ASSERT_EQ(c({"optimize", "--yes", "S"}).exitCode, 0); };
    optimize();
    // The record's folder is named by the run's time: give it one to read back.
    const fs::path folder = c.newestRecord().parent_path();
    fs::rename(folder, folder.parent_path() / "20260102T030405Z-000001");
    auto r = c({"history", "S"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "Optimizations of " + c.site.string() +
                         " that undo can put back, newest first:\n"
                         "  2026-01-02 03:04:05  removed 1 copy, saved 4 bytes, rewrote 4 files "
                         "(finished)\n\"tolvane-cli undo\" puts back the first one.\n");
    // A later run on a new page is listed first and taken back first.
    c.makeSite("C");
    optimize();
    r = c({"history", "S"});
    EXPECT_LT(r.out.find("removed 1 copy, saved 4 bytes, rewrote 2 files"),
              r.out.find("2026-01-02"));
    EXPECT_EQ(c({"undo", "--yes", "S"}).exitCode, 0);
    EXPECT_EQ(readFile(c.site / "C_files/logo.png"), "LOGO");
    fs::remove(c.site / "C.html");
    fs::remove_all(c.site / "C_files");
    r = c({"undo", "--yes", "S"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(has(r.out, "Undo complete: restored 2 copies and 4 files, removed 1 added file."))
        << r.out;
    EXPECT_EQ(snapshot(c.site), original);
    EXPECT_EQ(c({"history", "S"}).out,
              "No optimization of " + c.site.string() + " can be undone.\n");
    r = c({"undo", "--yes", "S"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err,
              "Nothing to undo: no optimization of " + c.site.string() + " can be undone.\n");

    // A page edited since the run keeps the edit; undo says so, and finishes once it can.
    optimize();
    const std::string rewritten = readFile(c.site / "B.html");
    writeFile(c.site / "B.html", "edited since");
    r = c({"undo", "--yes", "S"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(has(r.err, "Unable to restore " + (c.site / "B.html").string() + "\n") &&
                has(r.err, "It was changed after the optimization."))
        << r.err;
    EXPECT_TRUE(has(r.out, "Undo incomplete: 1 change could not be undone")) << r.out;
    EXPECT_EQ(readFile(c.site / "B.html"), "edited since");
    EXPECT_EQ(readFile(c.site / "images/logo.png"), "LOGO");
    EXPECT_TRUE(has(c({"history", "S"}).out, "(finished) (undo incomplete)\n"));
    writeFile(c.site / "B.html", rewritten);
    EXPECT_EQ(c({"undo", "--yes", "S"}).exitCode, 0);
    EXPECT_EQ(snapshot(c.site), original);

    // A run killed before its end reads as cut short; undo still puts it back.
    optimize();
    std::string text = readFile(c.newestRecord());
    text.erase(text.rfind('\n', text.size() - 2) + 1);
    writeFile(c.newestRecord(), text);
    writeFile(c.newestRecord().parent_path() / "length", std::to_string(text.size()) + "\n");
    EXPECT_TRUE(has(c({"history", "S"}).out, "(cut short)\n"));
    EXPECT_EQ(c({"undo", "--yes", "S"}).exitCode, 0);
    EXPECT_EQ(snapshot(c.site), original);
}

} // namespace
} // namespace tolvane
