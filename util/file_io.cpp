#include "util/file_io.hpp"
#include "util/file_chunks.hpp"

#include <array>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace tolvane {

namespace {

std::error_code lastError() {
    return {errno, std::generic_category()};
}

// The process umask, read without changing it (umask() itself would race other threads).
mode_t currentUmask() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("Umask:", 0) == 0)
            return static_cast<mode_t>(std::stoul(line.substr(6), nullptr, 8));
    }
    return 022;
}

} // namespace

std::error_code forEachChunk(const std::filesystem::path& path,
                             const std::function<bool(ByteView)>& consume) {
    // O_NONBLOCK keeps a FIFO from hanging the open; regular files ignore it.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return lastError();
    std::error_code result;
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        result = lastError();
    } else if (S_ISDIR(info.st_mode)) {
        result = std::make_error_code(std::errc::is_a_directory);
    } else if (!S_ISREG(info.st_mode)) {
        result = std::make_error_code(std::errc::invalid_argument);
    } else {
        ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
        thread_local std::array<unsigned char, 256 * 1024> buffer;
        for (;;) {
            const ssize_t n = ::read(fd, buffer.data(), buffer.size());
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                result = lastError();
                break;
            }
            if (n == 0)
                break;
            if (!consume(ByteView(buffer.data(), static_cast<std::size_t>(n)))) {
                result = std::make_error_code(std::errc::operation_canceled);
                break;
            }
        }
    }
    ::close(fd);
    return result;
}

std::optional<Bytes> readWholeFile(const std::filesystem::path& path, std::error_code* error) {
    Bytes contents;
    const std::error_code failure = forEachChunk(path, [&](ByteView chunk) {
        contents.insert(contents.end(), chunk.begin(), chunk.end());
        return true;
    });
    if (error)
        *error = failure;
    if (failure)
        return std::nullopt;
    return contents;
}

AtomicFileWriter::AtomicFileWriter(std::filesystem::path target) : target_(std::move(target)) {
    open(std::nullopt);
}

AtomicFileWriter::AtomicFileWriter(std::filesystem::path target, unsigned mode)
    : target_(std::move(target)) {
    open(mode);
}

void AtomicFileWriter::open(std::optional<unsigned> mode) {
    std::string pattern = writerTemporaryTemplate(target_);
    fd_ = ::mkstemp(pattern.data());
    if (fd_ < 0) {
        error_ = lastError();
        return;
    }
    temp_ = pattern;
    ::fcntl(fd_, F_SETFD, FD_CLOEXEC);

    // Unless told otherwise, keep the permission bits of the file being replaced; a new file
    // gets the usual mode.
    struct stat existing {};
    const mode_t bits = mode                                      ? (*mode & 07777)
                        : ::stat(target_.c_str(), &existing) == 0 ? (existing.st_mode & 07777)
                                                                  : (0666 & ~currentUmask());
    if (::fchmod(fd_, bits) != 0) {
        error_ = lastError();
        discard();
    }
}

bool AtomicFileWriter::sync() {
    if (error_)
        return false;
    if (::fsync(fd_) != 0) {
        error_ = lastError();
        discard();
        return false;
    }
    return true;
}

bool AtomicFileWriter::close() {
    if (error_)
        return false;
    const int fd = fd_;
    fd_ = -1;
    if (fd >= 0 && ::close(fd) != 0) {
        error_ = lastError();
        discard();
        return false;
    }
    return true;
}

AtomicFileWriter::~AtomicFileWriter() {
    discard();
}

void AtomicFileWriter::discard() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    if (!temp_.empty()) {
        ::unlink(temp_.c_str());
        temp_.clear();
    }
}

bool AtomicFileWriter::write(ByteView data) {
    if (error_)
        return false;
    if (!writeFully(fd_, data)) {
        error_ = lastError();
        discard();
        return false;
    }
    return true;
}

bool AtomicFileWriter::commit(Flush flush, Place place) {
    if (error_)
        return false;
    // Flush before the rename, so a crash cannot leave an empty file in place of the old one.
    if (flush == Flush::data && ::fdatasync(fd_) != 0) {
        error_ = lastError();
        discard();
        return false;
    }
    if (!close())
        return false;
    const int failed = place == Place::replacing
                           ? (::rename(temp_.c_str(), target_.c_str()) == 0 ? 0 : errno)
                           : placeWithoutReplacing(temp_, target_);
    if (failed != 0) {
        error_ = {failed, std::generic_category()};
        discard();
        return false;
    }
    temp_.clear();
    return true;
}

bool isWriterTemporaryName(std::string_view name) {
    constexpr std::string_view marker = ".tolvane-";
    constexpr std::size_t randomPart = 6;
    if (name.size() < 1 + 1 + marker.size() + randomPart || name.front() != '.')
        return false;
    const std::size_t at = name.size() - randomPart - marker.size();
    if (name.substr(at, marker.size()) != marker)
        return false;
    for (const char c : name.substr(name.size() - randomPart)) {
        if (!std::isalnum(static_cast<unsigned char>(c)))
            return false;
    }
    return true;
}

std::string writerTemporaryTemplate(const std::filesystem::path& target) {
    const std::filesystem::path folder =
        target.has_parent_path() ? target.parent_path() : std::filesystem::path(".");
    constexpr std::string_view suffix = ".tolvane-XXXXXX";
    // The temporary name must fit where the target's name does: a long name is shortened
    // (at a character boundary, so the name stays readable) to leave room for the dot and
    // the suffix.
    std::string name = target.filename().string();
    long limit = ::pathconf(folder.c_str(), _PC_NAME_MAX);
    if (limit <= 0)
        limit = 255;
    const std::size_t room = static_cast<std::size_t>(limit) - 1 - suffix.size();
    if (name.size() > room) {
        std::size_t cut = room;
        while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80)
            --cut;
        name.resize(cut);
    }
    return (folder / ("." + name + std::string(suffix))).string();
}

std::uint64_t changeMark(const struct stat& info) {
    std::uint64_t mark = 0xcbf29ce484222325u;
    for (const std::uint64_t part :
         {static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino),
          static_cast<std::uint64_t>(info.st_size), static_cast<std::uint64_t>(info.st_ctim.tv_sec),
          static_cast<std::uint64_t>(info.st_ctim.tv_nsec)}) {
        mark = (mark ^ part) * 0x100000001b3u;
        mark ^= mark >> 29;
    }
    return mark | 1;
}

std::error_code syncFolder(const std::filesystem::path& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return lastError();
    std::error_code result;
    if (::fsync(fd) != 0)
        result = lastError();
    ::close(fd);
    return result;
}

int placeWithoutReplacing(const std::filesystem::path& from, const std::filesystem::path& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return 0;
    const int error = errno;
    if (error != EINVAL && error != ENOSYS && error != ENOTSUP)
        return error;
    // A file system without the no-replace rename: a hard link fails if the name is taken.
    if (::link(from.c_str(), to.c_str()) != 0)
        return errno;
    if (::unlink(from.c_str()) != 0) {
        const int unlinkError = errno;
        ::unlink(to.c_str());
        return unlinkError;
    }
    return 0;
}

std::error_code writeFileAtomically(const std::filesystem::path& path, ByteView data) {
    AtomicFileWriter writer(path);
    writer.write(data);
    writer.commit();
    return writer.error();
}

Fd::~Fd() {
    if (fd >= 0)
        ::close(fd);
}

std::ptrdiff_t readFully(int fd, unsigned char* buffer, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::read(fd, buffer + done, size - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        if (n == 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    return static_cast<std::ptrdiff_t>(done);
}

bool writeFully(int fd, ByteView data) {
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data = data.subspan(static_cast<std::size_t>(n));
    }
    return true;
}

} // namespace tolvane
