#pragma once

#include "refs/reference_index.hpp"

#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

namespace tolvane {

// What `tolvane-cli check` reports about a site, before any run.
struct BrokenReference {
    std::filesystem::path file;
    std::size_t line = 0;
    std::string text;             // the URL as written
    std::filesystem::path target; // where it leads
};

struct SiteCheck {
    std::vector<BrokenReference> broken;             // lead to nothing
    std::vector<std::filesystem::path> unreferenced; // images nothing refers to
    std::vector<UnresolvedReference> unresolved;     // name an image, cannot be followed
    std::vector<UnreadablePlace> unreadable;
    std::size_t textFiles = 0;
    std::size_t imageFiles = 0;
    std::size_t references = 0; // references followed to an existing file
};

// Reads every text file below root and follows each image URL in it: those that lead to no
// file, and the image files (hasImageExtension; no symbolic links) that no URL
// leads to. An image named by a URL that cannot be followed counts as referred to.
SiteCheck checkSite(const std::filesystem::path& root);

} // namespace tolvane
