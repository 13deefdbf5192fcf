#pragma once

#include "site/site_names.hpp"
#include "util/progress.hpp"

#include <atomic>
#include <filesystem>
#include <set>
#include <string>
#include <sys/types.h>
#include <system_error>
#include <unordered_set>
#include <utility>
#include <vector>

namespace tolvane {

// A text file or folder that could not be read; it may refer to any image.
struct UnreadablePlace {
    std::filesystem::path path;
    std::error_code error;
};

// The site's text and image files, in walk order: depth-first, each folder as the file
// system lists it. A link to a text file or a folder is followed for reading only: what a
// browser shows through it may refer to the site's images, but nothing reached through a
// link is ever written, and images behind one are not the site's copies. (The scan's own walk
// follows no link at all: a copy is only ever a file of the site itself.)
struct SiteFiles {
    std::vector<std::pair<std::filesystem::path, TextKind>> textFiles;
    std::vector<std::filesystem::path> imageFiles; // by hasImageExtension; no links
    std::vector<UnreadablePlace> unreadable;
    std::unordered_set<std::string> linked;           // text files reached through a link
    std::set<std::pair<dev_t, ino_t>> foldersEntered; // against link loops
    bool cancelled = false;
};

// images: whether to list the image files too. cancel, when given, is asked once per
// folder; a walk it stops is marked cancelled and holds what was found so far.
SiteFiles walkSite(const std::filesystem::path& root, bool images,
                   const Progress* cancel = nullptr);

// The text files' numbers in the order they are read: pages first, so that the scripts of
// their page folders can take a page's <base href>; each group in walk order.
std::vector<std::size_t> pagesFirst(const SiteFiles& files);

} // namespace tolvane
