#include "run/run.hpp"

#include "bench/sitegen/sitegen.hpp"
#include "run/run_support.hpp"

#include <gtest/gtest.h>

namespace tolvane {
namespace {

namespace fs = std::filesystem;

std::vector<DuplicateGroup> groupsOf(const sitegen::GeneratedSite& site) {
    std::vector<DuplicateGroup> groups;
    for (const auto& expected : site.groups) {
        DuplicateGroup group{expected.name, expected.md5, expected.size, {}};
        for (const auto& copy : expected.copies)
            group.copies.push_back(site.root / copy);
        groups.push_back(std::move(group));
    }
    return groups;
}

sitegen::SiteShape smallShape(std::uint64_t seed) {
    sitegen::SiteShape shape;
    shape.seed = seed;
    shape.pages = 6 + static_cast<int>(seed % 7);
    shape.imagesPerPage = 4;
    shape.sharedImages = 5;
    shape.sharedPerPage = 3;
    shape.sharedVariants = 1 + static_cast<int>(seed % 3); // same names, other contents
    shape.nestedShare = 0.5;
    // Copies outside page folders that other pages name (assets/) are not rewritten by a run,
    // so they stay out of these sites.
    shape.assetCopies = 0;
    shape.minImageSize = 64;
    shape.maxImageSize = 512;
    return shape;
}

TEST(GeneratedSites, EveryReferenceStillShowsItsImageAndNothingIsLost) {
    for (std::uint64_t seed = 1; seed <= 10; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        test::TempDir dir;
        const auto site = sitegen::generateSite(dir / "site", smallShape(seed));
        const auto groups = groupsOf(site);
        ASSERT_FALSE(groups.empty());
        const auto references = test::referenceTargets(site.root);
        const auto files = test::snapshot(site.root);

        RealFileManager real;
        test::RecordingReporter reporter;
        const auto outcome =
            startOptimization(groups, site.root, real, reporter, test::countedBy(reporter));

        EXPECT_TRUE(outcome.completed);
        EXPECT_EQ(outcome.errorSheets, 0);
        EXPECT_EQ(reporter.steps, static_cast<int>(reporter.maximum));
        EXPECT_EQ(test::brokenReferences(references, site.root), std::vector<std::string>{});
        EXPECT_EQ(test::lostFiles(files, site.root), std::vector<std::string>{});
        // Exactly one copy of each group is left, and it is in the images folder.
        std::size_t copies = 0;
        for (const auto& group : groups) {
            std::size_t left = 0;
            for (const auto& copy : group.copies)
                left += fs::exists(copy);
            EXPECT_EQ(left, 0u) << group.name;
            copies += group.copies.size();
        }
        EXPECT_EQ(outcome.copiesRemoved, copies - groups.size());
        std::size_t kept = 0;
        for (const auto& entry : fs::directory_iterator(site.root / "images")) {
            (void)entry;
            ++kept;
        }
        EXPECT_EQ(kept, groups.size());
    }
}

// Scan, run and scan again, as the window and the command line do.
void scanRunRescan(const fs::path& root) {
    const auto references = test::referenceTargets(root);
    const auto files = test::snapshot(root);
    const ScanResult scan = scanWebsite(root);
    ASSERT_FALSE(scan.duplicates.empty());

    RealFileManager real;
    test::RecordingReporter reporter;
    const auto outcome = startOptimization(scan, real, reporter);
    EXPECT_TRUE(outcome.completed);
    EXPECT_EQ(outcome.errorSheets, 0);
    EXPECT_TRUE(reporter.completed);
    EXPECT_EQ(test::brokenReferences(references, root), std::vector<std::string>{});
    EXPECT_EQ(test::lostFiles(files, root), std::vector<std::string>{});
    EXPECT_TRUE(scanWebsite(root).duplicates.empty());
}

TEST(ScannedSites, SampleSiteKeepsEveryImageAndLeavesNoGroup) {
    test::TempDir dir;
    fs::copy(fs::path(TOLVANE_SOURCE_DIR) / "examples/sample-site", dir / "site",
             fs::copy_options::recursive);
    scanRunRescan(dir / "site");
}

TEST(ScannedSites, GeneratedSitesKeepEveryImageAndLeaveNoGroup) {
    for (std::uint64_t seed = 31; seed <= 36; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        test::TempDir dir;
        auto shape = smallShape(seed);
        shape.uniformSizes = seed % 2 == 0;
        sitegen::generateSite(dir / "site", shape);
        scanRunRescan(dir / "site");
    }
}

} // namespace
} // namespace tolvane
