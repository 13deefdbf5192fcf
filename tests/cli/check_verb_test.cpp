#include "support/process.hpp"
#include "support/temp_dir.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace tolvane {
namespace {

using test::runProcess;
using test::TempDir;
using test::writeFile;

const std::string cli = TOLVANE_CLI;

TEST(CheckVerb, ListsBrokenReferencesAndUnreferencedImages) {
    TempDir dir;
    const auto site = dir / "My Site";
    writeFile(site / "index.html",
              "<img src=\"A_files/a.png\">\n<img src=\"A_files/gone%20now.png\">");
    writeFile(site / "A_files/a.png", "a");
    writeFile(site / "A_files/spare.gif", "s");
    const auto result = runProcess(dir.path(), {cli, "check", site.string()});
    EXPECT_EQ(result.exitCode, 1) << result.err; // a reference points at nothing
    EXPECT_EQ(result.err, "");
    EXPECT_NE(
        result.out.find("References that point at nothing (1):\n"
                        "  index.html:2: A_files/gone%20now.png  (no file A_files/gone now.png)\n"),
        std::string::npos)
        << result.out;
    EXPECT_NE(result.out.find("Images nothing refers to (1):\n  A_files/spare.gif\n"),
              std::string::npos)
        << result.out;

    // Only an image nothing refers to: the site is whole, the status 0.
    writeFile(site / "A_files/gone now.png", "g");
    const auto spare = runProcess(dir.path(), {cli, "check", site.string()});
    EXPECT_EQ(spare.exitCode, 0) << spare.err;
    EXPECT_NE(spare.out.find("No reference points at nothing.\n"), std::string::npos) << spare.out;
    EXPECT_NE(spare.out.find("Images nothing refers to (1):\n  A_files/spare.gif\n"),
              std::string::npos)
        << spare.out;

    // A reference that cannot be followed is listed but is no fault either.
    writeFile(site / "A_files/spare.html", "<img src=\"spare.gif\"><img src=\"/A_files/a.png\">");
    const auto clean = runProcess(dir.path(), {cli, "check", site.string()});
    EXPECT_EQ(clean.exitCode, 0);
    EXPECT_NE(clean.out.find("No reference points at nothing.\n"), std::string::npos) << clean.out;
    EXPECT_NE(clean.out.find("Every image is referred to.\n"), std::string::npos) << clean.out;
    EXPECT_NE(clean.out.find("Image references that could not be followed (1):\n"
                             "  A_files/spare.html:1: /A_files/a.png  ("),
              std::string::npos)
        << clean.out;
}

TEST(WebsiteVerbs, AFolderWithoutAnIndexHtmlFileIsRefusedByEveryVerb) {
    TempDir dir;
    const auto site = dir / "site";
    writeFile(site / "A_files/logo.png", "LOGO");
    writeFile(site / "B_files/logo.png", "LOGO");
    writeFile(site / "A.html", "<img src=\"A_files/logo.png\">");
    const std::vector<std::vector<std::string>> verbs = {
        {"scan"}, {"scan", "--json"}, {"check"}, {"optimize", "--yes"}, {"optimize", "--dry-run"}};
    const auto run = [&](std::vector<std::string> verb, const std::filesystem::path& folder) {
        verb.insert(verb.begin(), cli);
        verb.push_back(folder.string());
        return runProcess(dir.path(), verb);
    };
    const auto refusedByAll = [&](const std::string& what) {
        for (const auto& verb : verbs) {
            const auto result = run(verb, site);
            EXPECT_EQ(result.exitCode, 2) << what << " " << verb[0];
            EXPECT_EQ(result.out, "") << what << " " << verb[0];
            EXPECT_EQ(result.err,
                      "Not a website folder.\nWARNING. That folder must contain index.html for "
                      "it to be the root folder of the site.\n")
                << what << " " << verb[0];
        }
    };

    // No folder, or none named, is refused before anything is looked at.
    for (const auto& verb : verbs) {
        const auto missing = run(verb, dir / "nothing");
        EXPECT_EQ(missing.exitCode, 2) << verb[0];
        EXPECT_EQ(missing.out, "") << verb[0];
        EXPECT_NE(missing.err.find("no such folder"), std::string::npos) << missing.err;
        EXPECT_EQ(runProcess(dir.path(), {cli, verb[0]}).exitCode, 2) << verb[0];
    }
    refusedByAll("no index.html");
    std::filesystem::create_directory(site / "index.html");
    refusedByAll("a folder");
    std::filesystem::remove(site / "index.html");
    std::filesystem::create_symlink(dir / "nowhere.html", site / "index.html");
    refusedByAll("a dangling link");
    EXPECT_TRUE(std::filesystem::exists(site / "A_files/logo.png"));
    EXPECT_TRUE(std::filesystem::exists(site / "B_files/logo.png"));
    EXPECT_FALSE(std::filesystem::exists(site / "images"));

    // Where the link leads to a page, the folder is a website.
    writeFile(dir / "nowhere.html", "<html>");
    const auto linked = runProcess(dir.path(), {cli, "scan", site.string()});
    EXPECT_EQ(linked.exitCode, 0) << linked.err;
    EXPECT_NE(linked.out.find("logo.png"), std::string::npos) << linked.out;
}

TEST(ScanVerb, PeopleFormatCountsReferencesAndTellsWhichCopiesStay) {
    TempDir dir;
    const auto site = dir / "site";
    writeFile(site / "index.html", "<img src=\"A_files/logo.png\"><img src=\"B_files/logo.png\">");
    for (const char* page : {"A", "B", "C"}) {
        writeFile(site / (std::string(page) + "_files/logo.png"), "LOGO");
        writeFile(site / (std::string(page) + ".html"),
                  std::string("<img src=\"") + page + "_files/logo.png\">");
    }
    writeFile(site / "C.html", "<img src=\"/C_files/logo.png\">");
    const auto result = runProcess(dir.path(), {cli, "scan", site.string()});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    // Which copy comes first follows the walk; the one C.html names stays wherever it is.
    EXPECT_NE(result.out.find("   C_files/logo.png\n"
                              "          C.html line 1: \"/C_files/logo.png\": a URL from the "
                              "server's root: where the site lies on the server is not known\n"),
              std::string::npos)
        << result.out;
    EXPECT_NE(result.out.find("  4 references point at its copies\n"), std::string::npos)
        << result.out;
    // The copy that must stay keeps the bytes, wherever the walk met it: both others go, and
    // nothing new goes into images/.
    EXPECT_NE(result.out.find("  keep    C_files/logo.png\n"), std::string::npos) << result.out;
    EXPECT_EQ(result.out.find("kept as images/"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("Copies to remove: 2\nBytes to save: 8 bytes\n"), std::string::npos)
        << result.out;
}

} // namespace
} // namespace tolvane
