#include "scan/scan.hpp"
#include "scan/content_sets.hpp"
#include "util/file_io.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstring>
#include <dirent.h>
#include <exception>
#include <fcntl.h>
#include <mutex>
#include <numeric>
#include <optional>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace tolvane {

namespace {

using Walk = SiteListing;
using ListedImage = SiteListing::Image;

// A set of identical files, by walk index, with their digest.
struct FoundGroup {
    std::vector<std::uint32_t> copies;
    std::string md5;
};

// The images that share name and size with another: order sorts the walk's images by name and
// size, each bucket a run of order holding one name and size.
struct Candidates {
    struct Bucket {
        std::size_t begin;
        std::size_t end;
        std::uint64_t bytes;
    };
    std::vector<std::uint32_t> order;
    std::vector<Bucket> buckets; // largest first, so two threads finish together
    std::uint64_t files = 0;
    std::uint64_t bytes = 0;
};

Candidates candidatesOf(const Walk& walk) {
    Candidates candidates;
    auto& order = candidates.order;
    for (std::size_t i = 0; i < walk.images.size(); ++i) {
        if (walk.images[i].eligible)
            order.push_back(static_cast<std::uint32_t>(i));
    }
    std::sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
        const ListedImage& x = walk.images[a];
        const ListedImage& y = walk.images[b];
        const int byName = walk.nameOf(x).compare(walk.nameOf(y));
        if (byName != 0)
            return byName < 0;
        if (x.size != y.size)
            return x.size < y.size;
        return a < b;
    });
    for (std::size_t begin = 0; begin < order.size();) {
        const ListedImage& first = walk.images[order[begin]];
        std::size_t end = begin + 1;
        while (end < order.size() && walk.images[order[end]].size == first.size &&
               walk.nameOf(walk.images[order[end]]) == walk.nameOf(first))
            ++end;
        if (end - begin >= 2) {
            const std::uint64_t bytes = first.size * (end - begin);
            candidates.buckets.push_back({begin, end, bytes});
            candidates.files += end - begin;
            candidates.bytes += bytes;
        }
        begin = end;
    }
    std::stable_sort(candidates.buckets.begin(), candidates.buckets.end(),
                     [](const auto& a, const auto& b) { return a.bytes > b.bytes; });
    return candidates;
}

// The sets of identical files in each bucket, read by one thread or, when there is real
// reading to share, two. Rethrows what a thread threw.
std::vector<std::vector<detail::ContentSet>>
compareBuckets(const std::filesystem::path& root, const Walk& walk, const Candidates& candidates,
               ContentReader& contents, Progress* progress, detail::ReadCounts& counts) {
    const auto& buckets = candidates.buckets;
    std::vector<std::vector<detail::ContentSet>> setsOfBucket(buckets.size());
    std::atomic<std::size_t> nextBucket{0};
    std::exception_ptr failure;
    std::mutex failureMutex;
    auto compare = [&] {
        detail::ReadCounts mine;
        const auto addCounts = [&] {
            const std::lock_guard<std::mutex> lock(failureMutex);
            counts.bytesRead += mine.bytesRead;
            counts.bytesReread += mine.bytesReread;
            counts.digestsComputed += mine.digestsComputed;
        };
        try {
            std::vector<std::filesystem::path> files;
            for (;;) {
                const std::size_t b = nextBucket.fetch_add(1);
                if (b >= buckets.size()) {
                    addCounts();
                    return;
                }
                files.clear();
                for (std::size_t i = buckets[b].begin; i < buckets[b].end; ++i)
                    files.push_back(root / walk.relativePath(walk.images[candidates.order[i]]));
                setsOfBucket[b] = detail::partitionByContent(
                    files, walk.images[candidates.order[buckets[b].begin]].size, contents, progress,
                    mine);
            }
        } catch (...) {
            addCounts();
            const std::lock_guard<std::mutex> lock(failureMutex);
            if (!failure)
                failure = std::current_exception();
            nextBucket.store(buckets.size());
        }
    };
    const bool twoThreads = buckets.size() > 1 && candidates.bytes > (std::uint64_t{4} << 20) &&
                            std::thread::hardware_concurrency() > 1;
    if (twoThreads) {
        std::thread helper(compare);
        compare();
        helper.join();
    } else {
        compare();
    }
    if (failure)
        std::rethrow_exception(failure);
    return setsOfBucket;
}

// The groups, by walk index, in the order their second copy was met: a group is formed then.
std::vector<FoundGroup> groupsOf(const Candidates& candidates,
                                 std::vector<std::vector<detail::ContentSet>>& setsOfBucket) {
    // Within a bucket the files are in walk order, so each set's copies are too.
    std::vector<FoundGroup> found;
    for (std::size_t b = 0; b < candidates.buckets.size(); ++b) {
        for (detail::ContentSet& set : setsOfBucket[b]) {
            FoundGroup group;
            group.md5 = std::move(set.md5);
            for (const std::size_t member : set.members)
                group.copies.push_back(candidates.order[candidates.buckets[b].begin + member]);
            found.push_back(std::move(group));
        }
    }
    std::sort(found.begin(), found.end(),
              [](const FoundGroup& a, const FoundGroup& b) { return a.copies[1] < b.copies[1]; });
    return found;
}

// root / relative as text, without making a path of it.
std::string under(const std::filesystem::path& root, const std::string& relative) {
    std::string path = root.native();
    if (!path.empty() && path.back() != '/')
        path += '/';
    path += relative;
    return path;
}

DuplicateGroup duplicateGroupOf(const std::filesystem::path& root, const Walk& walk,
                                const FoundGroup& group) {
    DuplicateGroup duplicate;
    const ListedImage& first = walk.images[group.copies[0]];
    duplicate.name = std::string(walk.nameOf(first));
    duplicate.md5 = group.md5;
    duplicate.size = first.size;
    duplicate.copies.reserve(group.copies.size());
    for (const std::uint32_t copy : group.copies) {
        duplicate.copies.push_back(under(root, walk.relativePath(walk.images[copy])));
        duplicate.settled.push_back(walk.images[copy].settled);
    }
    return duplicate;
}

} // namespace

std::vector<std::filesystem::path> formingCopies(const ScanResult& result) {
    std::vector<std::filesystem::path> copies;
    copies.reserve(result.duplicates.size());
    for (const DuplicateGroup& group : result.duplicates)
        copies.push_back(group.copies.at(1));
    return copies;
}

bool isWebsiteFolder(const std::filesystem::path& root) {
    std::error_code error;
    // status() follows symbolic links: a link to a page is a page, a dangling one is nothing.
    return std::filesystem::is_regular_file(std::filesystem::status(root / "index.html", error));
}

ScanResult scanWebsite(const std::filesystem::path& root, Progress* progress,
                       ContentReader* reader) {
    ScanResult result;
    result.root = root;
    detail::FileContentReader fileReader;
    ContentReader& contents = reader ? *reader : fileReader;
    if (progress)
        progress->start(Phase::walking);

    auto listing = std::make_shared<SiteListing>(listSite(root, progress));
    const Walk& walk = *listing;
    result.stats.entriesWalked = walk.entries;
    if (walk.cancelled) {
        result.cancelled = true;
        return result;
    }
    for (const std::string& leftover : walk.leftovers)
        result.leftovers.push_back(root / leftover);
    for (const SiteListing::Unreadable& place : walk.unreadable) {
        if (place.forImages)
            result.unreadable.push_back({SiteListing::under(root, place.path), place.error});
    }

    // Only files that share name and size with another can be copies of each other.
    const Candidates candidates = candidatesOf(walk);
    result.stats.candidateFiles = candidates.files;
    result.stats.candidateBytes = candidates.bytes;
    if (progress)
        progress->start(Phase::comparing, candidates.bytes);
    detail::ReadCounts counts;
    auto setsOfBucket = compareBuckets(root, walk, candidates, contents, progress, counts);
    result.stats.bytesRead = counts.bytesRead;
    result.stats.bytesReread = counts.bytesReread;
    result.stats.digestsComputed = counts.digestsComputed;
    if (progress && progress->cancelled()) {
        result.cancelled = true;
        return result;
    }
    const std::vector<FoundGroup> found = groupsOf(candidates, setsOfBucket);
    result.duplicates.reserve(found.size());
    for (const FoundGroup& group : found)
        result.duplicates.push_back(duplicateGroupOf(root, walk, group));
    // The readers of text files take the rest of the listing; the images are in the groups.
    listing->images = {};
    result.listing = std::move(listing);
    if (progress)
        progress->finish();
    return result;
}

} // namespace tolvane
