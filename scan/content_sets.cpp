#include "scan/content_sets.hpp"
#include "util/digest.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <new>
#include <stdexcept>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>

namespace tolvane::detail {

namespace {

// The first stretch is short: files of one name and size that differ mostly differ early,
// and then the rest of them is never read.
constexpr std::size_t longestFirstStretch = 4096;
constexpr std::size_t shortestFirstStretch = 512;
constexpr std::size_t laterStretch = std::size_t{1} << 20;

// Files that agreed up to offset, still to be read from there.
struct Pending {
    std::vector<std::size_t> members;
    std::uint64_t offset = 0;
    Md5Hasher md5; // state after the first offset bytes they share
    bool readBefore = false;
};

// One distinct version of the current stretch, and the files that hold it.
struct Version {
    std::vector<unsigned char> bytes;
    std::vector<std::size_t> members;
};

bool sameBytes(const std::vector<unsigned char>& kept, const unsigned char* data,
               std::size_t length) {
    return length == 0 || std::memcmp(kept.data(), data, length) == 0;
}

std::size_t hashOf(const unsigned char* data, std::size_t length) {
    return std::hash<std::string_view>{}(
        std::string_view(reinterpret_cast<const char*>(data), length));
}

} // namespace

std::vector<ContentSet> partitionByContent(const std::vector<std::filesystem::path>& files,
                                           std::uint64_t size, ContentReader& reader,
                                           ScanProgress* progress, std::size_t keptBytesBudget) {
    std::vector<ContentSet> found;
    if (files.size() < 2)
        return found;

    const std::size_t firstStretch = std::clamp<std::size_t>(
        keptBytesBudget / files.size(), shortestFirstStretch, longestFirstStretch);
    std::vector<unsigned char> scratch(std::max(laterStretch, longestFirstStretch) + 1);

    std::vector<Pending> pending;
    {
        Pending all;
        all.members.resize(files.size());
        for (std::size_t i = 0; i < files.size(); ++i)
            all.members[i] = i;
        all.md5 = Md5Hasher();
        pending.push_back(std::move(all));
    }

    while (!pending.empty()) {
        Pending current = std::move(pending.back());
        pending.pop_back();

        const std::uint64_t remaining = size - current.offset;
        const std::size_t stretch = static_cast<std::size_t>(
            std::min<std::uint64_t>(current.offset == 0 ? firstStretch : laterStretch, remaining));
        const bool last = current.offset + stretch == size;
        // At the end, one byte more proves that the file has not grown since the walk.
        const std::size_t wanted = stretch + (last ? 1 : 0);

        std::vector<Version> versions;
        std::unordered_multimap<std::size_t, std::size_t> versionsByHash;
        bool indexed = false;
        std::size_t keptBytes = 0;
        std::vector<std::size_t> deferred;

        for (const std::size_t member : current.members) {
            if (progress && progress->cancel.load(std::memory_order_relaxed))
                return {};
            const std::ptrdiff_t got =
                reader.readAt(files[member], current.offset, scratch.data(), wanted);
            if (progress && got > 0) {
                progress->bytesHashed.fetch_add(static_cast<std::uint64_t>(got),
                                                std::memory_order_relaxed);
                if (current.readBefore)
                    progress->bytesReread.fetch_add(static_cast<std::uint64_t>(got),
                                                    std::memory_order_relaxed);
            }
            // Unreadable, or shorter or longer than when it was listed: it joins nothing.
            if (got < 0 || static_cast<std::size_t>(got) != stretch)
                continue;

            // Most often every file agrees with the first version; look further only then.
            std::size_t match = versions.size();
            std::size_t hash = 0;
            if (!versions.empty()) {
                if (sameBytes(versions[0].bytes, scratch.data(), stretch)) {
                    match = 0;
                } else {
                    if (!indexed) {
                        for (std::size_t v = 0; v < versions.size(); ++v)
                            versionsByHash.emplace(
                                hashOf(versions[v].bytes.data(), stretch), v);
                        indexed = true;
                    }
                    hash = hashOf(scratch.data(), stretch);
                    const auto [from, to] = versionsByHash.equal_range(hash);
                    for (auto it = from; it != to; ++it) {
                        if (sameBytes(versions[it->second].bytes, scratch.data(), stretch)) {
                            match = it->second;
                            break;
                        }
                    }
                }
            }
            if (match < versions.size()) {
                versions[match].members.push_back(member);
            } else if (versions.empty() || keptBytes + stretch <= keptBytesBudget) {
                Version version;
                version.bytes.assign(scratch.data(), scratch.data() + stretch);
                version.members.push_back(member);
                keptBytes += stretch;
                if (indexed)
                    versionsByHash.emplace(hash, versions.size());
                versions.push_back(std::move(version));
            } else {
                // No room to keep another version: compare this file again in a later round.
                deferred.push_back(member);
            }
        }

        for (Version& version : versions) {
            if (version.members.size() < 2)
                continue;
            Md5Hasher md5 = current.md5;
            md5.update(version.bytes);
            if (last) {
                found.push_back({std::move(version.members), md5.finish()});
                if (progress)
                    progress->digestsComputed.fetch_add(1, std::memory_order_relaxed);
            } else {
                Pending next;
                next.members = std::move(version.members);
                next.offset = current.offset + stretch;
                next.md5 = std::move(md5);
                pending.push_back(std::move(next));
            }
        }
        if (deferred.size() >= 2) {
            Pending again;
            again.members = std::move(deferred);
            again.offset = current.offset;
            again.md5 = std::move(current.md5);
            again.readBefore = true;
            pending.push_back(std::move(again));
        }
    }
    return found;
}

std::ptrdiff_t FileContentReader::readAt(const std::filesystem::path& path, std::uint64_t offset,
                                         unsigned char* buffer, std::size_t length) {
    // The walk saw a regular file here. Should something else have taken its place since,
    // no stat is needed to stay safe: O_NOFOLLOW refuses a link, O_NONBLOCK keeps a FIFO from
    // hanging the open (its read then fails), a folder refuses pread, and a device that gives
    // more bytes than the listed size fails the end-of-file check of the comparison.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        return -1;
    std::size_t got = 0;
    while (got < length) {
        const ssize_t n = ::pread(fd, buffer + got, length - got,
                                  static_cast<off_t>(offset + got));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            ::close(fd);
            return -1;
        }
        if (n == 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    ::close(fd);
    return static_cast<std::ptrdiff_t>(got);
}

} // namespace tolvane::detail
