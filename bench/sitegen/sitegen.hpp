#pragma once

// A seeded generator of exported websites, for benchmarks and tests.
//
// Layout of a generated site:
//   index.html                      links to every page
//   Page_0001.html                  a page in the root ...
//   Page_0001_files/                ... its page folder: images and the page script
//   Page_0001_files/Page_0001.js
//   Blog/2019/Entry_0007.html       a page in a nested folder, with its page folder beside it
//   Blog/2019/Entry_0007_files/...
//   assets/...                      optional copies of shared images outside any page folder
//
// Each page folder holds imagesPerPage page images whose names are the same in every page
// folder (shapeimage_3.png, IMG_0042.jpg, ...) but whose contents differ from page to page, and
// sharedPerPage images drawn from a pool of shared images that are byte-identical wherever they
// appear. A page shows its images with <img src="X_files/name">; its script sets one image's
// source from the escaped form "X_files\/name" and lists the shared images in that form.
//
// The expected duplicate groups are derived from the generator's own knowledge of which files
// carry identical content, walking the tree in the file system's listing order, so they do not
// depend on any digest or on the scan code under test.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace tolvane::sitegen {

struct SiteShape {
    std::uint64_t seed = 1;
    int pages = 10;
    // Page images per page folder: one set of names for all pages, different content in each.
    int imagesPerPage = 8;
    // Pool of shared images, and how many of them each page folder carries.
    int sharedImages = 4;
    int sharedPerPage = 2;
    // Contents per shared name: above 1, same-named shared images come in several versions,
    // which makes several groups of one name.
    int sharedVariants = 1;
    // Share (0..1) of pages that live in nested folders such as Blog/2019/.
    double nestedShare = 0.2;
    // Image sizes in bytes, drawn uniformly from [minImageSize, maxImageSize].
    std::uint64_t minImageSize = 2048;
    std::uint64_t maxImageSize = 32768;
    // All images of one name get the same size, so a size comparison rules nothing out.
    bool uniformSizes = false;
    // Each page folder also holds nav_rollover_1.png and nav_link_1.png (never eligible).
    bool rolloverImages = true;
    // Some image names get upper-case extensions (IMG_0042.JPG, Photo.PNG).
    bool upperCaseExtensions = true;
    // This many shared images are also copied to assets/ at the site root.
    int assetCopies = 0;
};

// One group as the scan is expected to report it. Paths are relative to the site root.
struct ExpectedGroup {
    std::string name;
    std::string md5; // 32 lowercase hex digits
    std::uint64_t size = 0;
    std::vector<std::filesystem::path> copies; // entry 0 is the copy met first
};

struct GeneratedSite {
    std::filesystem::path root; // absolute
    std::vector<ExpectedGroup> groups;
    std::vector<std::filesystem::path> pageFiles; // every X.html except index.html, relative
    std::uint64_t imageFiles = 0; // every image file written, ineligible ones included
    std::uint64_t imageBytes = 0;
};

// Ready-made shapes for the benchmark sites: about 17,000 images / 0.9 GB, and
// about 90,000 images / 2.8 GB.
SiteShape mediumBenchShape(std::uint64_t seed = 1);
SiteShape largeBenchShape(std::uint64_t seed = 1);

// Writes the site below root, which must be missing or an empty folder, and returns what
// it wrote with the expected groups. Throws std::runtime_error (or std::filesystem's error)
// on a bad shape or a write failure.
GeneratedSite generateSite(const std::filesystem::path& root, const SiteShape& shape);

// {"root": "<abs>", "groups": [{"name": ..., "md5": ..., "size": N, "copies": [...]}]}
// followed by a newline, in the form `tolvane-cli scan --json` prints.
std::string groupsToJson(const std::filesystem::path& root,
                         const std::vector<ExpectedGroup>& groups);

} // namespace tolvane::sitegen
