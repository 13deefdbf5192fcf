// tolvane-gensite: writes a seeded exported website and the duplicate groups a scan of it
// must report.
//
//   tolvane-gensite SITE [--preset medium|large] [--seed N] [--pages N] ... [--expected FILE]
//
// The expected groups are written as JSON in the form of `tolvane-cli scan --json` to FILE
// ("-" for stdout). A summary goes to stderr.

#include "bench/sitegen/sitegen.hpp"

#include "util/file_io.hpp"

#include <CLI/CLI.hpp>

#include <chrono>
#include <cstdio>
#include <iostream>

namespace fs = std::filesystem;
using tolvane::sitegen::SiteShape;

int main(int argc, char** argv) {
    CLI::App app{"Writes a seeded exported website for benchmarks and tests, and the duplicate "
                 "groups a scan of it must report.",
                 "tolvane-gensite"};
    fs::path site;
    std::string preset;
    std::string expectedPath;
    SiteShape given;
    bool uniformSizes = false;
    bool noRollover = false;
    bool noUpperCase = false;

    app.add_option("SITE", site, "Folder to create (missing or empty)")->required();
    app.add_option("--preset", preset,
                   "Start from a benchmark site: medium (about 17,000 images, 0.9 GB) or large "
                   "(about 90,000 images, 2.8 GB)")
        ->check(CLI::IsMember({"medium", "large"}));
    app.add_option("--seed", given.seed, "Seed of every choice and every image's bytes");
    app.add_option("--pages", given.pages, "Number of pages")->check(CLI::NonNegativeNumber);
    app.add_option("--images-per-page", given.imagesPerPage,
                   "Page images per page folder (same names in every folder, other contents)")
        ->check(CLI::NonNegativeNumber);
    app.add_option("--shared-images", given.sharedImages,
                   "Size of the pool of byte-identical shared images")
        ->check(CLI::NonNegativeNumber);
    app.add_option("--shared-per-page", given.sharedPerPage,
                   "Shared images each page folder carries")
        ->check(CLI::NonNegativeNumber);
    app.add_option("--shared-variants", given.sharedVariants, "Contents per shared image name")
        ->check(CLI::PositiveNumber);
    app.add_option("--nested-share", given.nestedShare,
                   "Share of pages in nested folders such as Blog/2019/")
        ->check(CLI::Range(0.0, 1.0));
    app.add_option("--min-size", given.minImageSize, "Smallest image in bytes (at least 64)");
    app.add_option("--max-size", given.maxImageSize, "Largest image in bytes");
    app.add_option("--asset-copies", given.assetCopies,
                   "Shared images also copied to assets/ at the site root")
        ->check(CLI::NonNegativeNumber);
    app.add_flag("--uniform-sizes", uniformSizes, "All images of one name get the same size");
    app.add_flag("--no-rollover", noRollover, "Leave out nav_rollover_1.png and nav_link_1.png");
    app.add_flag("--no-upper-case", noUpperCase, "No upper-case extensions");
    app.add_option("--expected", expectedPath,
                   "Write the expected groups as JSON to this file (- for stdout)");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e) == 0 ? 0 : 2;
    }

    SiteShape shape;
    if (preset == "medium")
        shape = tolvane::sitegen::mediumBenchShape();
    else if (preset == "large")
        shape = tolvane::sitegen::largeBenchShape();
    // Options given on the command line override the preset.
    auto take = [&](const char* option, auto& field, const auto& value) {
        if (app.count(option) > 0)
            field = value;
    };
    take("--seed", shape.seed, given.seed);
    take("--pages", shape.pages, given.pages);
    take("--images-per-page", shape.imagesPerPage, given.imagesPerPage);
    take("--shared-images", shape.sharedImages, given.sharedImages);
    take("--shared-per-page", shape.sharedPerPage, given.sharedPerPage);
    take("--shared-variants", shape.sharedVariants, given.sharedVariants);
    take("--nested-share", shape.nestedShare, given.nestedShare);
    take("--min-size", shape.minImageSize, given.minImageSize);
    take("--max-size", shape.maxImageSize, given.maxImageSize);
    take("--asset-copies", shape.assetCopies, given.assetCopies);
    if (uniformSizes)
        shape.uniformSizes = true;
    if (noRollover)
        shape.rolloverImages = false;
    if (noUpperCase)
        shape.upperCaseExtensions = false;

    try {
        const auto start = std::chrono::steady_clock::now();
        const auto generated = tolvane::sitegen::generateSite(site, shape);
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::uint64_t removable = 0;
        for (const auto& group : generated.groups)
            removable += group.copies.size() - 1;
        std::fprintf(stderr,
                     "%s: %zu pages, %llu images, %.2f GB of images, %zu groups, %llu copies "
                     "to remove, written in %.1f s\n",
                     generated.root.c_str(), generated.pageFiles.size(),
                     static_cast<unsigned long long>(generated.imageFiles),
                     static_cast<double>(generated.imageBytes) / 1e9, generated.groups.size(),
                     static_cast<unsigned long long>(removable), seconds);
        if (!expectedPath.empty()) {
            const std::string json =
                tolvane::sitegen::groupsToJson(generated.root, generated.groups);
            if (expectedPath == "-") {
                std::cout << json << std::flush;
            } else if (auto error =
                           tolvane::writeFileAtomically(expectedPath, tolvane::asBytes(json))) {
                std::fprintf(stderr, "Cannot write %s: %s\n", expectedPath.c_str(),
                             error.message().c_str());
                return 1;
            }
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tolvane-gensite: %s\n", e.what());
        return 1;
    }
    return 0;
}
