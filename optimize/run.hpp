#pragma once

#include "optimize/file_manager.hpp"
#include "optimize/reporter.hpp"
#include "scan/scan.hpp"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <vector>

namespace tolvane {

struct RunOutcome {
    bool completed = false;          // false: the run ended at a failure
    int errorSheets = 0;             // sheets shown, whether or not they ended the run
    std::uint64_t bytesSaved = 0;    // bytes of the copies removed
    std::size_t copiesRemoved = 0;   // first copies deleted in favour of an existing file included
    std::size_t filesRewritten = 0;  // page files and page scripts written back
    std::chrono::nanoseconds fileTime{0};    // moving and deleting, with their checks
    std::chrono::nanoseconds rewriteTime{0}; // page rewriting
};

// Keeps one copy of each group in <root>/images, removes the others and rewrites the pages
// and page scripts beside every copy removed. Ends at the first failure to create the
// images folder, to move or delete a first copy, or to delete another copy; nothing done is
// undone, but the pages of the copies already gone are still rewritten first, so no page is
// left pointing at a removed file. Every file-system step goes through files.
RunOutcome startOptimization(const std::vector<DuplicateGroup>& duplicates,
                             const std::filesystem::path& root, FileManager& files,
                             RunReporter& reporter, const Localize& localize = englishText);

inline RunOutcome startOptimization(const ScanResult& scan, FileManager& files,
                                    RunReporter& reporter, const Localize& localize = englishText) {
    return startOptimization(scan.duplicates, scan.root, files, reporter, localize);
}

// The name a group's kept copy takes when images/<name> holds other content:
// "<stem>-<first 8 hex digits of its digest><extension>".
std::string alternativeImageName(const std::string& name, const std::string& md5);

} // namespace tolvane
