#include "refs/reference_index.hpp"
#include "run/site_plan.hpp"
#include "scan/scan.hpp"
#include "support/temp_dir.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <tuple>
#include <vector>

namespace fs = std::filesystem;
using namespace tolvane;
using tolvane::test::TempDir;
using tolvane::test::writeFile;

namespace {

// A site and what lies beside it; links are made after the files, from the site's root.
struct Layout {
    std::vector<std::pair<std::string, std::string>> files; // relative to the temp folder
    std::vector<std::pair<std::string, std::string>> links; // link in the site -> target
};

std::set<std::string> relativeTo(const fs::path& root, const std::vector<fs::path>& paths) {
    std::set<std::string> result;
    for (const fs::path& path : paths)
        result.insert(path.lexically_relative(root).generic_string());
    return result;
}

// Each reference as (file, offset, image), for comparing two indexes of one site.
std::vector<std::tuple<std::string, std::size_t, std::string>>
referencesOf(const ReferenceIndex& index) {
    std::vector<std::tuple<std::string, std::size_t, std::string>> all;
    for (const Reference& r : index.references())
        all.emplace_back(r.file.string(), r.offset, index.targetOf(r).string());
    std::sort(all.begin(), all.end());
    return all;
}

// The scan's listing is the one the reference index reads: the copies the scan groups, the
// writer's leftovers it lists and the text files the index reads (through links too) all come
// from one walk, and an index built on that walk finds what an index that walks the site
// itself finds.
TEST(SiteListing, TheScanAndTheIndexReadOneWalk) {
    const std::string logo = "<img src=\"A_files/logo.png\">";
    struct Case {
        const char* what;
        Layout layout;
        std::set<std::string> copies;    // of the one group, relative to the site
        std::set<std::string> leftovers; // relative to the site
        std::set<std::string> referring; // the files that refer to a copy
    };
    const std::vector<Case> cases{
        {"a link to a folder of pages",
         {{{"site/index.html", "<p>home</p>"},
           {"site/A.html", logo},
           {"site/A_files/logo.png", "LOGO"},
           {"site/B_files/logo.png", "LOGO"},
           {"outside/pages/C.html", "<img src=\"../A_files/logo.png\">"},
           {"outside/pages/logo.png", "LOGO"}},
          {{"site/linked", "../outside/pages"}}},
         {"A_files/logo.png", "B_files/logo.png"},
         {},
         {"A.html", "linked/C.html"}},
        {"a link to a page and a leftover of the writer",
         {{{"site/index.html", "<p>home</p>"},
           {"site/A_files/logo.png", "LOGO"},
           {"site/B_files/logo.png", "LOGO"},
           {"site/B_files/.B.js.tolvane-a1B2c3", "half"},
           {"site/.index.html.tolvane-Zz9", "not the writer's"},
           {"outside/S.html", logo}},
          {{"site/S.html", "../outside/S.html"}}},
         {"A_files/logo.png", "B_files/logo.png"},
         {"B_files/.B.js.tolvane-a1B2c3"},
         {"S.html"}},
        {"a page folder that links back into the site",
         {{{"site/index.html", "<img src=\"B_files/logo.png\">"},
           {"site/A_files/logo.png", "LOGO"},
           {"site/B_files/logo.png", "LOGO"},
           {"site/B_files/B.css", "a { background: url(logo.png) }"}},
          {{"site/B_files/again", ".."}}},
         {"A_files/logo.png", "B_files/logo.png"},
         {},
         {"index.html", "B_files/B.css", "B_files/again/index.html",
          "B_files/again/B_files/B.css"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        for (const auto& [path, text] : c.layout.files)
            writeFile(dir.path() / path, text);
        for (const auto& [link, target] : c.layout.links)
            fs::create_symlink(target, dir.path() / link);
        const fs::path root = dir.path() / "site";

        const ScanResult scan = scanWebsite(root);
        ASSERT_EQ(scan.duplicates.size(), 1u);
        EXPECT_EQ(
            relativeTo(root, {scan.duplicates[0].copies.begin(), scan.duplicates[0].copies.end()}),
            c.copies);
        EXPECT_EQ(relativeTo(root, scan.leftovers), c.leftovers);
        ASSERT_NE(scan.listing, nullptr);

        std::vector<fs::path> copies(scan.duplicates[0].copies.begin(),
                                     scan.duplicates[0].copies.end());
        const ReferenceIndex fromScan =
            ReferenceIndex::build(root, copies, nullptr, nullptr, scan.listing.get());
        const ReferenceIndex walked = ReferenceIndex::build(root, copies);
        EXPECT_EQ(relativeTo(root, fromScan.filesReferring(copies)), c.referring);
        EXPECT_EQ(referencesOf(fromScan), referencesOf(walked));
        EXPECT_EQ(fromScan.textFilesRead(), walked.textFilesRead());
        EXPECT_TRUE(fromScan.unreadable().empty());
    }
}

} // namespace
