#include "bench/sitegen/sitegen.hpp"
#include "scan/literal_scan.hpp"
#include "scan/scan.hpp"
#include "support/process.hpp"
#include "support/scan_json.hpp"
#include "support/temp_dir.hpp"
#include "util/digest.hpp"

#include <gtest/gtest.h>

namespace fs = std::filesystem;
using namespace tolvane;
using tolvane::test::TempDir;

namespace {

sitegen::SiteShape shape(std::uint64_t seed, bool uniformSizes) {
    sitegen::SiteShape shape;
    shape.seed = seed;
    shape.pages = 20;
    shape.imagesPerPage = 6;
    shape.sharedImages = 6;
    shape.sharedPerPage = 3;
    shape.sharedVariants = 2;
    shape.nestedShare = 0.4;
    shape.minImageSize = 64;
    shape.maxImageSize = 9000;
    shape.uniformSizes = uniformSizes;
    shape.assetCopies = 2;
    return shape;
}

} // namespace

// Generated sites: the scan, the plain grouping and the generator's own knowledge agree,
// and `tolvane-cli scan --json` prints exactly the expected groups.
TEST(ScanGeneratedSites, AgreeWithGeneratorAndPlainGrouping) {
    for (const bool uniform : {false, true}) {
        for (std::uint64_t seed = 1; seed <= 3; ++seed) {
            SCOPED_TRACE("seed " + std::to_string(seed) + (uniform ? " uniform sizes" : ""));
            TempDir scratch;
            const auto site = sitegen::generateSite(scratch / "site", shape(seed, uniform));
            ASSERT_FALSE(site.groups.empty());

            const ScanResult result = scanWebsite(site.root);
            ASSERT_EQ(result.duplicates.size(), site.groups.size());
            for (std::size_t g = 0; g < site.groups.size(); ++g) {
                const auto& expected = site.groups[g];
                const auto& group = result.duplicates[g];
                EXPECT_EQ(group.name, expected.name);
                EXPECT_EQ(group.md5, expected.md5);
                EXPECT_EQ(group.size, expected.size);
                std::vector<fs::path> copies;
                for (const auto& copy : expected.copies)
                    copies.push_back(site.root / copy);
                EXPECT_EQ(group.copies, copies);
            }

            const test::LiteralScan literal = test::literalScan(site.root);
            ASSERT_EQ(literal.duplicates.size(), result.duplicates.size());
            for (std::size_t g = 0; g < literal.duplicates.size(); ++g)
                EXPECT_EQ(result.duplicates[g].copies, literal.duplicates[g]);
            EXPECT_EQ(formingCopies(result), literal.formingCopies);

            const auto json = test::runProcess(scratch.path(),
                                               {TOLVANE_CLI, "scan", "--json", site.root.string()});
            EXPECT_EQ(json.exitCode, 0);
            EXPECT_EQ(test::groupsOnly(json.out), sitegen::groupsToJson(site.root, site.groups));
        }
    }
}

// The sample site of the repository, scanned from a copy: the scan agrees with the plain
// grouping and finds its groups.
TEST(ScanGeneratedSites, SampleSiteAgreesWithPlainGrouping) {
    TempDir scratch;
    const fs::path site = scratch / "sample-site";
    fs::copy(fs::path(TOLVANE_SOURCE_DIR) / "examples/sample-site", site,
             fs::copy_options::recursive);
    const ScanResult result = scanWebsite(site);
    const test::LiteralScan literal = test::literalScan(site);
    EXPECT_GE(result.duplicates.size(), 3u);
    ASSERT_EQ(result.duplicates.size(), literal.duplicates.size());
    for (std::size_t g = 0; g < literal.duplicates.size(); ++g) {
        EXPECT_EQ(result.duplicates[g].copies, literal.duplicates[g]);
        EXPECT_EQ(std::optional<std::string>(result.duplicates[g].md5),
                  MD5(literal.duplicates[g][0]));
    }
    EXPECT_EQ(formingCopies(result), literal.formingCopies);
}
