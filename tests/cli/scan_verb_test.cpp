#include "support/process.hpp"
#include "support/temp_dir.hpp"
#include "util/digest.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace tolvane;
using tolvane::test::runProcess;
using tolvane::test::TempDir;
using tolvane::test::writeFile;

namespace {

test::ProcessResult scan(const TempDir& scratch, const std::vector<std::string>& args) {
    std::vector<std::string> argv{TOLVANE_CLI, "scan"};
    argv.insert(argv.end(), args.begin(), args.end());
    return runProcess(scratch.path(), argv);
}

std::vector<fs::path> foldersInWalkOrder(const fs::path& root, std::vector<std::string> names) {
    for (const auto& name : names)
        fs::create_directory(root / name);
    std::vector<fs::path> ordered;
    for (const auto& entry : fs::directory_iterator(root))
        if (entry.is_directory())
            ordered.push_back(entry.path());
    return ordered;
}

std::string siteRelative(const fs::path& path, const fs::path& root) {
    return path.lexically_relative(root).generic_string();
}

} // namespace

TEST(ScanVerb, RefusesAFileForAFolder) {
    TempDir scratch;
    TempDir site;
    writeFile(site / "page.html", "<html>");
    const auto result = scan(scratch, {(site / "page.html").string()});
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_NE(result.err.find("not a folder"), std::string::npos) << result.err;
}

TEST(ScanVerb, NoDuplicatesMessage) {
    TempDir scratch;
    TempDir site;
    writeFile(site / "index.html", "<html>");
    writeFile(site / "a/logo.png", "one");
    writeFile(site / "b/logo.png", "two");
    const auto result = scan(scratch, {site.path().string()});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.out, "There are no images to optimize!\n"
                          "Your website contains no duplicate images that need optimizing.\n");
    EXPECT_EQ(result.err, ""); // no progress display without a terminal

    const auto json = scan(scratch, {"--json", site.path().string()});
    EXPECT_EQ(json.exitCode, 0);
    EXPECT_EQ(json.out, "{\"root\": \"" + site.path().string() + "\", \"groups\": []}\n");
}

TEST(ScanVerb, PeopleFormatMarksTheKeptCopyAndTotals) {
    TempDir scratch;
    TempDir site;
    writeFile(site / "index.html", "<html>");
    const auto folders = foldersInWalkOrder(site.path(), {"A_files", "B_files", "C_files"});
    for (const auto& folder : folders)
        writeFile(folder / "logo.png", "0123456789");
    writeFile(folders[0] / "x.gif", "xyz");
    writeFile(folders[2] / "x.gif", "xyz");
    const auto result = scan(scratch, {site.path().string()});
    EXPECT_EQ(result.exitCode, 0);
    const auto rel = [&](const fs::path& p) { return siteRelative(p, site.path()); };
    const std::string logo =
        "logo.png  (10 bytes, 3 copies, md5 " + md5(std::string_view("0123456789")) + ")\n" +
        "  move    " + rel(folders[0] / "logo.png") + "\n" + "  remove  " +
        rel(folders[1] / "logo.png") + "\n" + "  remove  " + rel(folders[2] / "logo.png") + "\n" +
        "  kept as images/logo.png\n" + "  0 references point at its copies\n\n";
    const std::string gif = "x.gif  (3 bytes, 2 copies, md5 " + md5(std::string_view("xyz")) +
                            ")\n" + "  move    " + rel(folders[0] / "x.gif") + "\n" + "  remove  " +
                            rel(folders[2] / "x.gif") + "\n" + "  kept as images/x.gif\n" +
                            "  0 references point at its copies\n\n";
    // The gif group forms at the third folder, after the logo group formed at the second.
    EXPECT_EQ(result.out, logo + gif + "Groups: 2\nCopies to remove: 3\nBytes to save: 23 bytes\n");
}

TEST(ScanVerb, JsonEscapesNamesAndUsesSiteRelativePaths) {
    TempDir scratch;
    TempDir site;
    writeFile(site / "index.html", "<html>");
    const std::string odd = std::string("q\"b\\s\tt\x01") + "\xc3\xa9" + "\xff.png";
    writeFile(site / "a b/sub" / odd, "odd");
    writeFile(site / "z" / odd, "odd");
    const auto folders = foldersInWalkOrder(site.path(), {}); // "a b" and "z", as listed
    const auto result = scan(scratch, {site.path().string(), "--json"});
    EXPECT_EQ(result.exitCode, 0);
    const std::string escaped = "q\\\"b\\\\s\\tt\\u0001\xc3\xa9\\udcff.png";
    std::vector<std::string> copies;
    for (const auto& folder : folders)
        copies.push_back(folder.filename() == "z" ? "z/" + escaped : "a b/sub/" + escaped);
    EXPECT_EQ(result.out, "{\"root\": \"" + site.path().string() +
                              "\", \"groups\": [{\"name\": \"" + escaped + "\", \"md5\": \"" +
                              md5(std::string_view("odd")) + "\", \"size\": 3, \"copies\": [\"" +
                              copies[0] + "\", \"" + copies[1] + "\"], \"keep\": \"images/" +
                              escaped + "\", \"move\": \"" + copies[0] + "\", \"remove\": [\"" +
                              copies[1] + "\"], \"stays\": [], \"references\": 0}]}\n");
    EXPECT_EQ(result.err, "");

    // A relative SITE is reported as an absolute root.
    const auto fromParent =
        runProcess(scratch.path(), {"sh", "-c", "cd \"$1\" && \"$2\" scan --json \"$3\"", "sh",
                                    site.path().parent_path().string(), TOLVANE_CLI,
                                    site.path().filename().string() + "/"});
    EXPECT_EQ(fromParent.out, result.out);
}
