#pragma once

#include "site/site_names.hpp"
#include "util/path_list.hpp"
#include "util/progress.hpp"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <set>
#include <string>
#include <string_view>
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

// Everything one walk of a site finds, in walk order: depth-first, a folder's contents right
// after the folder, each folder as the file system lists it. Paths are relative to the root
// and stored once: folders as text, names in one arena.
//
// Images are the site's own files only: a copy is never reached through a symbolic link.
// A link to a text file or a folder is followed for reading only: what a browser shows through
// it may refer to the site's images, so a reference that reaches a copy through a link is a
// reference to that copy; but nothing reached through a link is ever written or grouped.
struct SiteListing {
    // A name in the arena, in one of the folders.
    struct Entry {
        std::uint32_t folder = 0; // index into folders
        std::uint32_t nameOffset = 0;
        std::uint32_t nameLength = 0;
    };
    // A file with an image suffix, not reached through a link.
    struct Image : Entry {
        bool eligible = false; // an eligible image name whose size could be read
        bool tooLong = false;  // its path is longer than the system takes
        std::uint64_t size = 0;
        // Its changeMark() where nothing had touched it for a while before the walk began, so
        // that the same mark later means its bytes are still those the walk's reader saw; else 0.
        std::uint64_t settled = 0;
    };
    struct TextFile : Entry {
        TextKind kind = TextKind::none;
        bool linked = false; // reached through a symbolic link
    };
    // A place the walk could not read, and whom it concerns.
    struct Unreadable {
        std::string path; // relative to the root ("" is the root itself)
        std::error_code error;
        // The scan's concern: a folder of the site's own that could not be opened, or an
        // image whose path is longer than the system takes.
        bool forImages = false;
        // The concern of the readers of text files: a folder, reached through a link or not,
        // that could not be opened or listed, or whose path is too long to be read.
        bool forText = false;
    };

    std::vector<std::string> folders; // relative, each ending in "/" but the root's ""
    std::string names;
    std::vector<Image> images;
    std::vector<TextFile> textFiles;
    std::vector<std::string> leftovers; // the writer's temporary files, relative
    std::vector<Unreadable> unreadable;
    std::uint64_t entries = 0; // entries of the site's own folders walked
    bool cancelled = false;

    std::string_view nameOf(const Entry& entry) const {
        return std::string_view(names).substr(entry.nameOffset, entry.nameLength);
    }
    std::string relativePath(const Entry& entry) const {
        std::string path = folders[entry.folder];
        path += nameOf(entry);
        return path;
    }
    // root joined with a relative path of this listing ("" is the root itself).
    static std::filesystem::path under(const std::filesystem::path& root,
                                       const std::string& relative) {
        return relative.empty() ? root : root / relative;
    }
};

// The one walk of a site. progress, when given, is advanced once per entry of the site's own
// folders and looked at for cancel once per entry: a walk it stops is marked cancelled and
// holds what was found so far.
SiteListing listSite(const std::filesystem::path& root, Progress* progress = nullptr);

// The same walk for the readers of text files only: no image is listed or examined.
SiteListing listTextFiles(const std::filesystem::path& root);

// The listing as the readers of text files take it: the text files and what could not be read.
struct SiteFiles {
    std::vector<std::pair<std::filesystem::path, TextKind>> textFiles;
    PathList imageFiles; // by hasImageExtension; no links; normal paths
    std::vector<UnreadablePlace> unreadable;
    std::unordered_set<std::string> linked; // text files reached through a link
    bool cancelled = false;
};

// The text files of listing below root (and the image files, when images), with the places a
// reader of text files could not read.
SiteFiles siteFilesOf(const std::filesystem::path& root, const SiteListing& listing, bool images);

// listSite and siteFilesOf in one; cancel, when given, can stop the walk but is not advanced.
SiteFiles walkSite(const std::filesystem::path& root, bool images,
                   const Progress* cancel = nullptr);

// The text files' numbers in the order they are read: pages first, so that the scripts of
// their page folders can take a page's <base href>; each group in walk order.
std::vector<std::size_t> pagesFirst(const SiteFiles& files);

} // namespace tolvane
