#include "bench/sitegen/sitegen.hpp"

#include "support/temp_dir.hpp"
#include "util/digest.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>

namespace {

namespace fs = std::filesystem;
using tolvane::sitegen::ExpectedGroup;
using tolvane::sitegen::generateSite;
using tolvane::sitegen::SiteShape;
using tolvane::test::readFile;
using tolvane::test::TempDir;

SiteShape smallShape(std::uint64_t seed) {
    SiteShape shape;
    shape.seed = seed;
    shape.pages = 12;
    shape.imagesPerPage = 6;
    shape.sharedImages = 5;
    shape.sharedPerPage = 3;
    shape.nestedShare = 0.5;
    shape.minImageSize = 64;
    shape.maxImageSize = 900;
    shape.assetCopies = 2;
    return shape;
}

// Every regular file below root by relative path, with its bytes.
std::map<std::string, std::string> snapshot(const fs::path& root) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(root))
        if (entry.is_regular_file())
            files[entry.path().lexically_relative(root).generic_string()] = readFile(entry.path());
    return files;
}

bool eligible(const std::string& name) {
    std::string lower = name;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    for (const char* suffix : {".png", ".jpg", ".jpeg", ".gif", ".tiff"})
        if (lower.ends_with(suffix))
            return name.find("_rollover_") == std::string::npos &&
                   name.find("_link_") == std::string::npos;
    return false;
}

// The grouping rule applied to the bytes actually on disk, in the listing order.
std::vector<ExpectedGroup> groupsFromBytes(const fs::path& root) {
    std::vector<ExpectedGroup> groups;
    std::vector<std::pair<fs::path, std::string>> singles; // path, bytes
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        const std::string name = entry.path().filename().string();
        if (!entry.is_regular_file() || !eligible(name))
            continue;
        const fs::path relative = entry.path().lexically_relative(root);
        const std::string bytes = readFile(entry.path());
        auto same = [&](const fs::path& other) {
            return other.filename() == relative.filename() && readFile(root / other) == bytes;
        };
        auto group = std::find_if(groups.begin(), groups.end(),
                                  [&](const ExpectedGroup& g) { return same(g.copies[0]); });
        if (group != groups.end()) {
            group->copies.push_back(relative);
            continue;
        }
        auto single = std::find_if(singles.begin(), singles.end(),
                                   [&](const auto& s) { return same(s.first); });
        if (single != singles.end()) {
            groups.push_back({name, tolvane::md5(bytes), bytes.size(), {single->first, relative}});
            singles.erase(single);
        } else {
            singles.emplace_back(relative, bytes);
        }
    }
    return groups;
}

void expectSameGroups(const std::vector<ExpectedGroup>& actual,
                      const std::vector<ExpectedGroup>& expected) {
    ASSERT_EQ(actual.size(), expected.size());
    for (std::size_t i = 0; i < actual.size(); ++i) {
        EXPECT_EQ(actual[i].name, expected[i].name) << "group " << i;
        EXPECT_EQ(actual[i].md5, expected[i].md5) << "group " << i;
        EXPECT_EQ(actual[i].size, expected[i].size) << "group " << i;
        EXPECT_EQ(actual[i].copies, expected[i].copies) << "group " << i;
    }
}

TEST(SiteGenerator, SameSeedGivesTheSameTreeAndAnotherSeedAnother) {
    TempDir dir;
    const auto first = generateSite(dir / "a", smallShape(7));
    const auto second = generateSite(dir / "b", smallShape(7));
    generateSite(dir / "c", smallShape(8));
    const auto a = snapshot(dir / "a");
    EXPECT_EQ(a, snapshot(dir / "b"));
    EXPECT_NE(a, snapshot(dir / "c"));
    EXPECT_EQ(first.pageFiles, second.pageFiles);
    EXPECT_EQ(first.imageBytes, second.imageBytes);
}

TEST(SiteGenerator, ExpectedGroupsMatchTheBytesOnDisk) {
    for (bool uniform : {false, true}) {
        TempDir dir;
        SiteShape shape = smallShape(3);
        shape.uniformSizes = uniform;
        shape.sharedVariants = 2; // same-named shared images in two versions
        const auto site = generateSite(dir / "site", shape);
        ASSERT_FALSE(site.groups.empty());
        expectSameGroups(site.groups, groupsFromBytes(dir / "site"));
        EXPECT_EQ(site.root, fs::absolute(dir / "site"));
    }
}

// Reads each page's script to learn which of its images are shared, then checks that shared
// images are identical everywhere, page images of one name all differ, and every image in a
// page folder is referred to from its page or its script in the expected form.
TEST(SiteGenerator, SharedImagesAreIdenticalPageImagesDifferAndAllAreReferenced) {
    TempDir dir;
    const auto site = generateSite(dir / "site", smallShape(11));
    ASSERT_EQ(site.pageFiles.size(), 12u);
    std::map<std::string, std::set<std::string>> sharedContents, pageContents;
    std::map<std::string, std::size_t> pageCopies;
    bool nested = false;
    for (const fs::path& page : site.pageFiles) {
        const std::string stem = page.stem().string();
        const fs::path pageFolder = dir / "site" / page.parent_path() / (stem + "_files");
        const std::string html = readFile(dir / "site" / page);
        const std::string script = readFile(pageFolder / (stem + ".js"));
        nested = nested || page.has_parent_path();
        EXPECT_NE(html.find("src=\"" + stem + "_files/" + stem + ".js\""), std::string::npos);
        EXPECT_NE(script.find(".src = \"" + stem + "_files\\/"), std::string::npos) << page;

        const auto list = script.substr(0, script.find('\n', script.find("var sharedImages")));
        std::size_t images = 0;
        for (const auto& entry : fs::directory_iterator(pageFolder)) {
            const std::string name = entry.path().filename().string();
            if (name.ends_with(".js"))
                continue;
            ++images;
            const bool inHtml =
                html.find("\"" + stem + "_files/" + name + "\"") != std::string::npos ||
                html.find("'" + stem + "_files/" + name + "'") != std::string::npos;
            const bool inScript =
                script.find("\"" + stem + "_files\\/" + name + "\"") != std::string::npos;
            EXPECT_TRUE(inHtml || inScript) << name << " of " << page;
            if (!eligible(name))
                continue;
            const std::string bytes = readFile(entry.path());
            if (list.find("\\/" + name + "\"") != std::string::npos) {
                sharedContents[name].insert(bytes);
            } else {
                pageContents[name].insert(bytes);
                ++pageCopies[name];
            }
        }
        EXPECT_EQ(images, 6u + 3u + 2u) << page;
    }
    EXPECT_TRUE(nested);
    ASSERT_EQ(pageContents.size(), 6u);
    for (const auto& [name, contents] : pageContents)
        EXPECT_EQ(contents.size(), pageCopies[name]) << name;
    ASSERT_FALSE(sharedContents.empty());
    for (const auto& [name, contents] : sharedContents)
        EXPECT_EQ(contents.size(), 1u) << name;
}

TEST(SiteGenerator, UniformSizesGiveOneSizePerName) {
    TempDir dir;
    SiteShape shape = smallShape(5);
    shape.uniformSizes = true;
    generateSite(dir / "site", shape);
    std::map<std::string, std::set<std::uintmax_t>> sizes;
    for (const auto& entry : fs::recursive_directory_iterator(dir / "site"))
        if (entry.is_regular_file() && eligible(entry.path().filename().string()))
            sizes[entry.path().filename().string()].insert(entry.file_size());
    ASSERT_GT(sizes.size(), 6u);
    for (const auto& [name, set] : sizes)
        EXPECT_EQ(set.size(), 1u) << name;
}

TEST(SiteGenerator, RefusesANonEmptyFolderAndBadShapes) {
    TempDir dir;
    tolvane::test::writeFile(dir / "site/old.txt", "keep me");
    EXPECT_ANY_THROW(generateSite(dir / "site", smallShape(1)));
    EXPECT_EQ(readFile(dir / "site/old.txt"), "keep me");

    SiteShape tooMany = smallShape(1);
    tooMany.sharedPerPage = tooMany.sharedImages + 1;
    EXPECT_ANY_THROW(generateSite(dir / "other", tooMany));
    SiteShape tiny = smallShape(1);
    tiny.minImageSize = 8;
    EXPECT_ANY_THROW(generateSite(dir / "other2", tiny));
}

TEST(SiteGenerator, JsonHasTheScanCommandsForm) {
    std::vector<ExpectedGroup> groups = {{"a \"b\".png",
                                          "00112233445566778899aabbccddeeff",
                                          12,
                                          {"x/a \"b\".png", "y\\z/a \"b\".png"}}};
    EXPECT_EQ(tolvane::sitegen::groupsToJson("/site", groups),
              "{\"root\": \"/site\", \"groups\": [{\"name\": \"a \\\"b\\\".png\", \"md5\": "
              "\"00112233445566778899aabbccddeeff\", \"size\": 12, \"copies\": [\"x/a "
              "\\\"b\\\".png\", \"y\\\\z/a \\\"b\\\".png\"]}]}\n");
    EXPECT_EQ(tolvane::sitegen::groupsToJson("/site", {}),
              "{\"root\": \"/site\", \"groups\": []}\n");
}

} // namespace
