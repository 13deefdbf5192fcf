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

namespace {

// The distinct versions of one stretch among a set of files, as one round reads them.
class Round {
  public:
    Round(std::size_t stretch, std::size_t budget) : stretch_(stretch), budget_(budget) {}

    // Puts a file whose stretch is in data with the version it matches, or starts a new one;
    // with no room for another version, the file waits for a later round.
    void add(std::size_t member, const unsigned char* data) {
        const auto [match, hash] = find(data);
        if (match < versions.size()) {
            versions[match].members.push_back(member);
        } else if (versions.empty() || keptBytes_ + stretch_ <= budget_) {
            Version version;
            version.bytes.assign(data, data + stretch_);
            version.members.push_back(member);
            keptBytes_ += stretch_;
            if (indexed_)
                byHash_.emplace(hash, versions.size());
            versions.push_back(std::move(version));
        } else {
            deferred.push_back(member);
        }
    }

    std::vector<Version> versions;
    std::vector<std::size_t> deferred;

  private:
    // The version data matches (versions.size() for none) and data's hash, once asked.
    std::pair<std::size_t, std::size_t> find(const unsigned char* data) {
        // Most often every file agrees with the first version; look further only then.
        if (versions.empty())
            return {0, 0};
        if (sameBytes(versions[0].bytes, data, stretch_))
            return {0, 0};
        if (!indexed_) {
            for (std::size_t v = 0; v < versions.size(); ++v)
                byHash_.emplace(hashOf(versions[v].bytes.data(), stretch_), v);
            indexed_ = true;
        }
        const std::size_t hash = hashOf(data, stretch_);
        const auto [from, to] = byHash_.equal_range(hash);
        for (auto it = from; it != to; ++it) {
            if (sameBytes(versions[it->second].bytes, data, stretch_))
                return {it->second, hash};
        }
        return {versions.size(), hash};
    }

    std::size_t stretch_;
    std::size_t budget_;
    std::size_t keptBytes_ = 0;
    bool indexed_ = false;
    std::unordered_multimap<std::size_t, std::size_t> byHash_;
};

class Partition {
  public:
    Partition(const std::vector<std::filesystem::path>& files, std::uint64_t size,
              ContentReader& reader, Progress* progress, ReadCounts& counts, std::size_t budget)
        : files_(files), size_(size), reader_(reader), progress_(progress), counts_(counts),
          budget_(budget), firstStretch_(std::clamp<std::size_t>(
                               budget / files.size(), shortestFirstStretch, longestFirstStretch)),
          scratch_(std::max(laterStretch, longestFirstStretch) + 1) {}

    // False when cancelled.
    bool run() {
        Pending all;
        all.members.resize(files_.size());
        for (std::size_t i = 0; i < files_.size(); ++i)
            all.members[i] = i;
        all.md5 = Md5Hasher();
        pending_.push_back(std::move(all));
        while (!pending_.empty()) {
            Pending current = std::move(pending_.back());
            pending_.pop_back();
            if (!next(current))
                return false;
        }
        return true;
    }

    std::vector<ContentSet> found;

  private:
    // Reads the next stretch of a set of files that agreed so far and splits them by it.
    bool next(Pending& current) {
        const std::size_t stretch = static_cast<std::size_t>(std::min<std::uint64_t>(
            current.offset == 0 ? firstStretch_ : laterStretch, size_ - current.offset));
        const bool last = current.offset + stretch == size_;
        // At the end, one byte more proves that the file has not grown since the walk.
        const std::size_t wanted = stretch + (last ? 1 : 0);
        Round round(stretch, budget_);
        for (const std::size_t member : current.members) {
            if (progress_ && progress_->cancelled())
                return false;
            const std::ptrdiff_t got =
                reader_.readAt(files_[member], current.offset, scratch_.data(), wanted);
            count(got, current.readBefore);
            // Unreadable, or shorter or longer than when it was listed: it joins nothing.
            if (got >= 0 && static_cast<std::size_t>(got) == stretch)
                round.add(member, scratch_.data());
        }
        for (Version& version : round.versions) {
            if (version.members.size() < 2)
                continue;
            Md5Hasher md5 = current.md5;
            md5.update(version.bytes);
            if (last) {
                found.push_back({std::move(version.members), md5.finish()});
                ++counts_.digestsComputed;
            } else {
                pending_.push_back(
                    {std::move(version.members), current.offset + stretch, std::move(md5), false});
            }
        }
        // No room was left to keep their versions: compare these again in a later round.
        if (round.deferred.size() >= 2)
            pending_.push_back(
                {std::move(round.deferred), current.offset, std::move(current.md5), true});
        return true;
    }

    void count(std::ptrdiff_t got, bool readBefore) {
        if (got <= 0)
            return;
        const auto bytes = static_cast<std::uint64_t>(got);
        counts_.bytesRead += bytes;
        if (readBefore)
            counts_.bytesReread += bytes;
        if (progress_)
            progress_->advance(bytes);
    }

    const std::vector<std::filesystem::path>& files_;
    std::uint64_t size_;
    ContentReader& reader_;
    Progress* progress_;
    ReadCounts& counts_;
    std::size_t budget_;
    std::size_t firstStretch_;
    std::vector<unsigned char> scratch_;
    std::vector<Pending> pending_;
};

} // namespace

std::vector<ContentSet> partitionByContent(const std::vector<std::filesystem::path>& files,
                                           std::uint64_t size, ContentReader& reader,
                                           Progress* progress, ReadCounts& counts,
                                           std::size_t keptBytesBudget) {
    if (files.size() < 2)
        return {};
    Partition partition(files, size, reader, progress, counts, keptBytesBudget);
    if (!partition.run())
        return {};
    return std::move(partition.found);
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
        const ssize_t n = ::pread(fd, buffer + got, length - got, static_cast<off_t>(offset + got));
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
