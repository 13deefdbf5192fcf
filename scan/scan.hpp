#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace tolvane {

// Image files that share one file name and one content. copies[0] is the copy the walk met
// first (a run keeps it in images/); copies[1] is the one whose discovery formed the group.
struct DuplicateGroup {
    std::string name;   // the file name every copy bears
    std::string md5;    // 32 lowercase hex digits
    std::uint64_t size = 0;
    std::vector<std::filesystem::path> copies;
};

// Counters a caller may poll from another thread while a scan runs, and its cancel switch.
struct ScanProgress {
    std::atomic<std::uint64_t> entriesWalked{0};
    std::atomic<std::uint64_t> bytesHashed{0};
    std::atomic<bool> cancel{false};
};

struct ScanResult {
    std::filesystem::path root;
    // Groups in the order their second copy was met.
    std::vector<DuplicateGroup> duplicates;
    // Entry 1 of each group, aligned with duplicates.
    std::vector<std::filesystem::path> imageList;
    bool cancelled = false;
};

// ".png", ".jpg", ".jpeg", ".gif" or ".tiff" in any case, and neither "_rollover_" nor
// "_link_" (case-sensitive) in the name itself.
bool isEligibleImageName(std::string_view fileName);

// A website root holds something named index.html.
bool isWebsiteFolder(const std::filesystem::path& root);

// Walks root depth-first, in the order the file system lists each folder, and groups the
// eligible regular files by name and content. Symbolic links are never followed or grouped.
ScanResult scanWebsite(const std::filesystem::path& root, ScanProgress* progress = nullptr);

} // namespace tolvane
