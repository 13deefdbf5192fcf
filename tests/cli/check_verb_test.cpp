#include "support/process.hpp"
#include "support/temp_dir.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

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
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.err, "");
    EXPECT_NE(
        result.out.find("References that point at nothing (1):\n"
                        "  index.html:2: A_files/gone%20now.png  (no file A_files/gone now.png)\n"),
        std::string::npos)
        << result.out;
    EXPECT_NE(result.out.find("Images nothing refers to (1):\n  A_files/spare.gif\n"),
              std::string::npos)
        << result.out;

    writeFile(site / "A_files/spare.html",
              "<img src=\"spare.gif\"><img src=\"../A_files/gone now.png\">");
    writeFile(site / "A_files/gone now.png", "g");
    const auto clean = runProcess(dir.path(), {cli, "check", site.string()});
    EXPECT_EQ(clean.exitCode, 0);
    EXPECT_NE(clean.out.find("No reference points at nothing.\n"), std::string::npos) << clean.out;
    EXPECT_NE(clean.out.find("Every image is referred to.\n"), std::string::npos) << clean.out;
}

TEST(CheckVerb, RefusesFoldersThatAreNotWebsites) {
    TempDir dir;
    writeFile(dir / "site/page.html", "<img src=\"a.png\">");
    const auto notSite = runProcess(dir.path(), {cli, "check", (dir / "site").string()});
    EXPECT_EQ(notSite.exitCode, 2);
    EXPECT_EQ(notSite.out, "");
    EXPECT_EQ(notSite.err,
              "Not a website folder.\nWARNING. That folder must contain index.html for "
              "it to be the root folder of the site.\n");
    const auto missing = runProcess(dir.path(), {cli, "check", (dir / "nothing").string()});
    EXPECT_EQ(missing.exitCode, 2);
    EXPECT_NE(missing.err.find("no such folder"), std::string::npos) << missing.err;
    EXPECT_EQ(runProcess(dir.path(), {cli, "check"}).exitCode, 2);
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
