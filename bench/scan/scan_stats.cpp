// Scans a site once and checks how it read: only files that share name and size with another
// eligible image, no byte twice, one MD5 per group. Prints the counters; exit status 1 when a
// check fails.
//
// Usage: tolvane-scan-stats SITE

#include "scan/content_sets.hpp"
#include "scan/scan.hpp"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <mutex>
#include <unordered_map>

namespace fs = std::filesystem;
using namespace tolvane;

namespace {

class RecordingReader : public ContentReader {
  public:
    std::ptrdiff_t readAt(const fs::path& path, std::uint64_t offset, unsigned char* buffer,
                          std::size_t length) override {
        const std::ptrdiff_t got = real_.readAt(path, offset, buffer, length);
        const std::lock_guard<std::mutex> lock(mutex_);
        auto& stretches = reads[path.string()];
        if (got > 0)
            stretches.push_back({offset, offset + static_cast<std::uint64_t>(got)});
        return got;
    }
    std::unordered_map<std::string, std::vector<std::pair<std::uint64_t, std::uint64_t>>> reads;

  private:
    detail::FileContentReader real_;
    std::mutex mutex_;
};

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: tolvane-scan-stats SITE\n");
        return 2;
    }
    const fs::path root = argv[1];

    // The files a scan may not avoid reading, found independently of the scan.
    std::map<std::pair<std::string, std::uintmax_t>, std::vector<std::string>> byNameAndSize;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator();
         ++it) {
        if (it->symlink_status().type() == fs::file_type::regular &&
            isEligibleImageName(it->path().filename().string()))
            byNameAndSize[{it->path().filename().string(), it->file_size()}].push_back(
                it->path().string());
    }
    std::unordered_map<std::string, std::uintmax_t> candidates;
    for (const auto& [key, paths] : byNameAndSize)
        if (paths.size() > 1)
            for (const auto& path : paths)
                candidates[path] = key.second;

    RecordingReader reader;
    const auto start = std::chrono::steady_clock::now();
    const ScanResult result = scanWebsite(root, nullptr, &reader);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    std::uint64_t bytesRead = 0;
    std::uint64_t notCandidates = 0;
    std::uint64_t readTwice = 0;
    std::uint64_t beyondSize = 0;
    for (auto& [path, stretches] : reader.reads) {
        const auto candidate = candidates.find(path);
        if (candidate == candidates.end()) {
            ++notCandidates;
            continue;
        }
        std::sort(stretches.begin(), stretches.end());
        for (std::size_t i = 0; i < stretches.size(); ++i) {
            bytesRead += stretches[i].second - stretches[i].first;
            if (i > 0 && stretches[i - 1].second > stretches[i].first)
                ++readTwice;
            if (stretches[i].second > candidate->second)
                ++beyondSize;
        }
    }
    std::uint64_t copies = 0;
    for (const auto& group : result.duplicates)
        copies += group.copies.size();

    std::printf("entries walked        %llu\n",
                static_cast<unsigned long long>(result.stats.entriesWalked));
    std::printf("candidate files       %llu (%zu found independently)\n",
                static_cast<unsigned long long>(result.stats.candidateFiles), candidates.size());
    std::printf("candidate bytes       %llu\n",
                static_cast<unsigned long long>(result.stats.candidateBytes));
    std::printf("files read            %zu\n", reader.reads.size());
    std::printf("bytes read            %llu (%.1f%% of candidate bytes)\n",
                static_cast<unsigned long long>(bytesRead),
                result.stats.candidateBytes ? 100.0 * static_cast<double>(bytesRead) /
                                                  static_cast<double>(result.stats.candidateBytes)
                                            : 0.0);
    std::printf("bytes read again      %llu\n",
                static_cast<unsigned long long>(result.stats.bytesReread));
    std::printf("groups                %zu (%llu copies)\n", result.duplicates.size(),
                static_cast<unsigned long long>(copies));
    std::printf("MD5 digests computed  %llu\n",
                static_cast<unsigned long long>(result.stats.digestsComputed));
    std::printf("scan time             %.3f s (with recording)\n", seconds);

    bool ok = true;
    auto check = [&](bool good, const char* what) {
        std::printf("check: %-58s %s\n", what, good ? "ok" : "FAILED");
        ok = ok && good;
    };
    check(notCandidates == 0, "no file read whose name or size rules it out");
    check(readTwice == 0 && result.stats.bytesReread == 0, "no byte read twice");
    check(beyondSize == 0, "no read beyond a file's listed size");
    check(result.stats.digestsComputed == result.duplicates.size(),
          "one MD5 per group, none for other files");
    check(result.stats.candidateFiles == candidates.size(), "candidates as found independently");
    return ok ? 0 : 1;
}
