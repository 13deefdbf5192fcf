#pragma once

#include "site/site_names.hpp"
#include "site/site_walk.hpp"
#include "util/path_list.hpp"
#include "util/progress.hpp"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace tolvane {

// Image files that share one file name and one content. copies[0] is the copy the walk met
// first (a run keeps it in images/); copies[1] is the one whose discovery formed the group.
struct DuplicateGroup {
    std::string name; // the file name every copy bears
    std::string md5;  // 32 lowercase hex digits
    std::uint64_t size = 0;
    PathList copies;
    // Per copy: its mark when the walk found it settled (see SiteListing::Image), else 0.
    std::vector<std::uint64_t> settled{};
};

// What a scan found out on its way, for benchmarks and their checks.
struct ScanStats {
    std::uint64_t entriesWalked = 0;
    // The eligible images that share name and size with another, and their total size: only
    // these are ever read.
    std::uint64_t candidateFiles = 0;
    std::uint64_t candidateBytes = 0;
    std::uint64_t bytesRead = 0; // to compare contents
    // One MD5 per group found: contents are compared byte for byte, and only one copy of
    // each group is digested.
    std::uint64_t digestsComputed = 0;
    // Bytes read a second time. Stays zero unless very many same-sized files of one name
    // agree for a long stretch and then differ, where memory is kept bounded by reading a
    // stretch again instead of holding every distinct version of it.
    std::uint64_t bytesReread = 0;
};

struct ScanResult {
    std::filesystem::path root;
    // Groups in the order their second copy was met.
    std::vector<DuplicateGroup> duplicates;
    // Temporary files that an interrupted run of this tool left behind (by their exact name
    // pattern); the next run removes them.
    std::vector<std::filesystem::path> leftovers;
    // Folders that could not be opened and images whose path is too long to be read: the
    // scan passed over them, and says so.
    struct Unreadable {
        std::filesystem::path path;
        std::error_code error;
    };
    std::vector<Unreadable> unreadable;
    bool cancelled = false; // then duplicates is empty
    // The walk the groups came from, for the readers of the site's text files (its images
    // are left out). Absent for a cancelled scan.
    std::shared_ptr<const SiteListing> listing;
    ScanStats stats;
};

// The copy whose discovery formed each group (copies[1]), in the groups' order: the images
// table of the window lists these.
std::vector<std::filesystem::path> formingCopies(const ScanResult& result);

// How the scan reads file contents. The default reads regular files only, never through a
// symbolic link; tests substitute one that refuses chosen files or records what is read.
// Called from more than one thread at a time.
class ContentReader {
  public:
    virtual ~ContentReader() = default;
    // Reads up to length bytes at offset into buffer. Returns the count read, less than
    // length only at the end of the file, or -1 when the file cannot be read.
    virtual std::ptrdiff_t readAt(const std::filesystem::path& path, std::uint64_t offset,
                                  unsigned char* buffer, std::size_t length) = 0;
};

// A website root holds an index.html that is a regular file or a symbolic link to one; a
// folder, a dangling link or a device of that name does not make a website.
bool isWebsiteFolder(const std::filesystem::path& root);

// Walks root depth-first, in the order the file system lists each folder, and groups the
// eligible regular files by name and content. Symbolic links are never followed or grouped.
// A folder that cannot be read is passed over; a file that cannot be read joins no group.
// progress, when given, shows the walk (entries) and then the comparison (bytes of the
// candidates) and can cancel the scan.
ScanResult scanWebsite(const std::filesystem::path& root, Progress* progress = nullptr,
                       ContentReader* reader = nullptr);

} // namespace tolvane
