#pragma once

#include "scan/scan.hpp"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace tolvane::detail {

// Files of one content among a list of files of equal size.
struct ContentSet {
    std::vector<std::size_t> members; // indices into the list, ascending
    std::string md5;
};

// Reads files of one name and one size side by side, a stretch at a time, and splits them
// wherever their bytes differ, so each file is read at most once and only until it differs
// from every other. A file that cannot be read, or whose length no longer matches, joins
// nothing. Returns the sets of two or more identical files, with their MD5, in no
// particular order; empty when cancelled.
// At most about keptBytesBudget bytes of distinct versions are held at a time; beyond that a
// stretch is read again in a later round instead (counted in bytesReread).
// Bytes read are added to counts and advance progress, which can cancel the comparison.
inline constexpr std::size_t defaultKeptBytesBudget = std::size_t{8} << 20;
struct ReadCounts {
    std::uint64_t bytesRead = 0;
    std::uint64_t bytesReread = 0;
    std::uint64_t digestsComputed = 0;
};
std::vector<ContentSet> partitionByContent(const std::vector<std::filesystem::path>& files,
                                           std::uint64_t size, ContentReader& reader,
                                           Progress* progress, ReadCounts& counts,
                                           std::size_t keptBytesBudget = defaultKeptBytesBudget);

// Opens the file anew for each stretch, never through a symbolic link; whatever is not a
// regular file fails the read or the comparison's length check.
class FileContentReader final : public ContentReader {
  public:
    std::ptrdiff_t readAt(const std::filesystem::path& path, std::uint64_t offset,
                          unsigned char* buffer, std::size_t length) override;
};

} // namespace tolvane::detail
