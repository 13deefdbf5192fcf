#include "run/file_manager.hpp"

#include "util/digest.hpp"
#include "util/file_io.hpp"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <memory>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace tolvane {

namespace fs = std::filesystem;
using Op = FileError::Operation;

namespace {

FileError failure(Op operation, std::vector<fs::path> paths, std::error_code code) {
    return FileError{operation, std::move(paths), code};
}

std::error_code errnoCode(int value) {
    return {value, std::generic_category()};
}

FileError contentDiffers(const FileManager::CopyPair& pair) {
    return failure(Op::compare, {*pair.copy, *pair.kept}, make_error_code(RunErrc::contentDiffers));
}

// A descriptor for reading the regular file at path, or -1 with error naming the path.
int openRegular(const fs::path& path, struct stat& info, FileResult& error) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        error = failure(Op::compare, {path}, errnoCode(errno));
    } else if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        error = failure(Op::compare, {path}, errnoCode(S_ISDIR(info.st_mode) ? EISDIR : EINVAL));
        ::close(fd);
        return -1;
    }
    return fd;
}

// Empty when the copy holds exactly the kept bytes given, else the failed step or
// contentDiffers; buffer is the caller's to reuse.
FileResult holdsKeptBytes(const FileManager::CopyPair& pair, ByteView kept, Bytes& buffer) {
    FileResult error;
    struct stat info {};
    Fd file(openRegular(*pair.copy, info, error));
    if (file.fd < 0)
        return error;
    if (static_cast<std::uint64_t>(info.st_size) != kept.size())
        return contentDiffers(pair);
    buffer.resize(kept.size() + 1); // one byte more: a file that grew since is not the same
    const std::ptrdiff_t n = readFully(file.fd, buffer.data(), buffer.size());
    if (n < 0)
        return failure(Op::compare, {*pair.copy}, errnoCode(errno));
    if (static_cast<std::size_t>(n) != kept.size() ||
        !std::equal(kept.begin(), kept.end(), buffer.begin()))
        return contentDiffers(pair);
    return std::nullopt;
}

// The bytes of the kept files that are small enough to hold, each read once; larger ones, and
// ones that change while read, are compared file to file.
class HeldKeptFiles {
  public:
    struct Kept {
        bool held = false;
        Bytes bytes;
        FileResult error; // the kept file could not be read
    };

    explicit HeldKeptFiles(const std::vector<FileManager::CopyPair>& pairs) {
        std::size_t total = 0;
        for (const auto& pair : pairs) {
            if (held_.count(*pair.kept))
                continue;
            Kept& kept = held_[*pair.kept];
            if (total < totalLimit && hold(*pair.kept, kept))
                total += kept.bytes.size();
        }
    }

    // The kept file's bytes (or why they cannot be read), or nothing to compare file to file.
    const Kept* find(const fs::path& kept) const {
        const auto found = held_.find(kept);
        return found == held_.end() || !found->second.held ? nullptr : &found->second;
    }

  private:
    static constexpr std::size_t fileLimit = std::size_t{1} << 20;
    static constexpr std::size_t totalLimit = std::size_t{16} << 20;

    static bool hold(const fs::path& path, Kept& kept) {
        struct stat info {};
        Fd file(openRegular(path, info, kept.error));
        if (file.fd < 0) {
            kept.held = true; // the error is the answer for each of its copies
            return true;
        }
        const auto size = static_cast<std::size_t>(info.st_size);
        if (size > fileLimit)
            return false;
        kept.bytes.resize(size + 1); // one byte more: a file that grew since is seen
        const std::ptrdiff_t n = readFully(file.fd, kept.bytes.data(), kept.bytes.size());
        if (n < 0) {
            kept.error = failure(Op::compare, {path}, errnoCode(errno));
            kept.held = true;
            return true;
        }
        kept.bytes.resize(size);
        kept.held = static_cast<std::size_t>(n) == size;
        if (!kept.held)
            kept.bytes = Bytes();
        return kept.held;
    }

    std::map<fs::path, Kept> held_;
};

// Runs work(i, buffer) for every i below count on a few threads, each with a buffer of its
// own; a call with few items stays on the caller's thread. More threads than cores: most of
// them wait on the disk (a deleted file's blocks are freed while its deleter waits).
template <class Work> void inParallel(std::size_t count, const Work& work) {
    constexpr std::size_t threadsAtMost = 16;
    constexpr std::size_t itemsPerThread = 32;
    const std::size_t threads = std::clamp<std::size_t>(count / itemsPerThread, 1, threadsAtMost);
    std::atomic<std::size_t> next{0};
    const auto worker = [&] {
        Bytes buffer;
        for (std::size_t i = next++; i < count; i = next++)
            work(i, buffer);
    };
    std::vector<std::jthread> helpers;
    for (std::size_t t = 1; t < threads; ++t) {
        try {
            helpers.emplace_back(worker);
        } catch (const std::system_error&) {
            break; // the machine gives no more threads: the ones there do all the work
        }
    }
    worker();
}

// Flushes each file system once, through a folder on it; the last error, if any.
std::error_code syncFileSystems(const std::map<dev_t, fs::path>& folderOnEachFileSystem) {
    std::error_code result;
    for (const auto& [device, folder] : folderOnEachFileSystem) {
        Fd fd(::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (fd.fd < 0 || ::syncfs(fd.fd) != 0)
            result = errnoCode(errno);
    }
    return result;
}

FileError changedSinceRead(const fs::path& path) {
    return failure(Op::write, {path}, make_error_code(RunErrc::changedSinceRead));
}

FileManager::Stamp stampOf(const struct stat& info) {
    return {static_cast<std::uint64_t>(info.st_size),
            static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec,
            static_cast<std::uint64_t>(info.st_ino)};
}

// Empty while the file at the write's path still has the stamp and the bytes it was read with;
// the file is then left open in held.
FileResult onDiskAsRead(const FileManager::Write& write, Fd& held) {
    if (!write.expected)
        return std::nullopt;
    struct stat info {};
    if (::lstat(write.path.c_str(), &info) != 0 || !S_ISREG(info.st_mode) ||
        (write.stamp && stampOf(info) != *write.stamp) ||
        static_cast<std::uint64_t>(info.st_size) != write.expected->size())
        return changedSinceRead(write.path);
    Fd file(::open(write.path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (file.fd < 0)
        return changedSinceRead(write.path);
    Bytes now(write.expected->size() + 1); // one byte more: a file that grew since is seen
    const std::ptrdiff_t n = readFully(file.fd, now.data(), now.size());
    if (n < 0 || static_cast<std::size_t>(n) != write.expected->size() ||
        !std::equal(write.expected->begin(), write.expected->end(), now.begin()))
        return changedSinceRead(write.path);
    std::swap(held.fd, file.fd);
    return std::nullopt;
}

} // namespace

std::optional<FileManager::Stamp> FileManager::stamp(const fs::path& path) {
    const auto size = fileSize(path);
    if (!size)
        return std::nullopt;
    return Stamp{*size, 0, 0};
}

FileResult FileManager::stillAsRead(const Write& write) {
    if (!write.expected)
        return std::nullopt;
    const auto now = stamp(write.path);
    if (!now || (write.stamp && *now != *write.stamp))
        return changedSinceRead(write.path);
    FileResult error;
    const auto bytes = readFile(write.path, error);
    if (!bytes || *bytes != *write.expected)
        return changedSinceRead(write.path);
    return std::nullopt;
}

std::vector<FileResult> FileManager::writeFiles(const std::vector<Write>& writes) {
    std::vector<FileResult> results;
    results.reserve(writes.size());
    for (const Write& write : writes) {
        FileResult changed = stillAsRead(write);
        results.push_back(changed ? std::move(changed) : writeFile(write.path, write.data));
    }
    return results;
}

FileResult FileManager::checkCopy(const CopyPair& pair) {
    FileResult error;
    if (sameContent(*pair.copy, *pair.kept, error))
        return std::nullopt;
    return error ? std::move(error) : contentDiffers(pair);
}

std::vector<FileResult> FileManager::checkCopies(const std::vector<CopyPair>& pairs) {
    std::vector<FileResult> results;
    results.reserve(pairs.size());
    for (const CopyPair& pair : pairs)
        results.push_back(checkCopy(pair));
    return results;
}

std::vector<FileResult> FileManager::removeCopies(const std::vector<CopyPair>& pairs) {
    std::vector<FileResult> results;
    results.reserve(pairs.size());
    for (const CopyPair& pair : pairs) {
        FileResult result = checkCopy(pair);
        results.push_back(result ? std::move(result) : removeItem(*pair.copy));
    }
    return results;
}

std::vector<FileResult> FileManager::copyFiles(const std::vector<CopyRequest>& copies) {
    std::vector<FileResult> results;
    results.reserve(copies.size());
    for (const CopyRequest& copy : copies)
        results.push_back(copyFile(copy.from, copy.to, copy.mode));
    return results;
}

bool RealFileManager::exists(const fs::path& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

FileResult RealFileManager::createDirectory(const fs::path& path) {
    if (::mkdir(path.c_str(), 0777) != 0)
        return failure(Op::createDirectory, {path}, errnoCode(errno));
    return std::nullopt;
}

FileResult RealFileManager::moveItem(const fs::path& from, const fs::path& to) {
    struct stat info {};
    if (::lstat(from.c_str(), &info) != 0)
        return failure(Op::move, {from, to}, errnoCode(errno));
    if (S_ISDIR(info.st_mode))
        return failure(Op::move, {from, to}, errnoCode(EISDIR));
    const int error = placeWithoutReplacing(from, to);
    if (error == EXDEV)
        return copyThenRemove(from, to);
    if (error != 0)
        return failure(Op::move, {from, to}, errnoCode(error));
    return std::nullopt;
}

// A checked copy of from at to: a temporary file beside to, flushed and compared with from,
// then given its name without replacing anything there.
FileResult RealFileManager::copyFile(const fs::path& from, const fs::path& to, unsigned mode) {
    auto fail = [&](int error) { return failure(Op::write, {from, to}, errnoCode(error)); };
    Fd source(::open(from.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    struct stat info {};
    if (source.fd < 0 || ::fstat(source.fd, &info) != 0)
        return fail(errno);
    if (!S_ISREG(info.st_mode))
        return fail(EINVAL);

    AtomicFileWriter temp(to, mode);
    std::array<unsigned char, 256 * 1024> buffer;
    for (;;) {
        const ssize_t n = readFully(source.fd, buffer.data(), buffer.size());
        if (n < 0)
            return fail(errno); // the writer then removes its temporary file
        if (n == 0)
            break;
        if (!temp.write(ByteView(buffer.data(), static_cast<std::size_t>(n))))
            return fail(temp.error().value());
    }
    if (!temp.sync())
        return fail(temp.error().value());

    // Only a verified copy may take the name.
    FileResult compareError;
    if (!sameContent(from, temp.temporary(), compareError))
        return fail(compareError ? compareError->code.value() : EIO);
    if (!temp.commit(AtomicFileWriter::Flush::alreadyDone,
                     AtomicFileWriter::Place::withoutReplacing))
        return fail(temp.error().value());
    return std::nullopt;
}

namespace {

// from's bytes in a new temporary file beside to (the writer's own name pattern, so a crash
// leaves only what the next run removes), with mode, closed and not yet flushed. Absent, with
// the errno in error and nothing left behind, when that fails.
std::optional<fs::path> temporaryCopy(const fs::path& from, const fs::path& to, unsigned mode,
                                      Md5Hasher* digest, dev_t& device, int& error) {
    Fd source(::open(from.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    struct stat info {};
    if (source.fd < 0 || ::fstat(source.fd, &info) != 0) {
        error = errno;
        return std::nullopt;
    }
    if (!S_ISREG(info.st_mode)) {
        error = EINVAL;
        return std::nullopt;
    }
    std::string name = writerTemporaryTemplate(to);
    Fd out(::mkostemp(name.data(), O_CLOEXEC));
    if (out.fd < 0) {
        error = errno;
        return std::nullopt;
    }
    bool ok = ::fchmod(out.fd, mode & 07777) == 0;
    std::array<unsigned char, 256 * 1024> buffer;
    while (ok) {
        const std::ptrdiff_t n = readFully(source.fd, buffer.data(), buffer.size());
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        const ByteView piece(buffer.data(), static_cast<std::size_t>(n));
        if (digest)
            digest->update(piece);
        ok = writeFully(out.fd, piece);
    }
    struct stat written {};
    if (ok && ::fstat(out.fd, &written) != 0)
        ok = false;
    if (!ok) {
        error = errno ? errno : EIO;
        ::unlink(name.c_str());
        return std::nullopt;
    }
    device = written.st_dev;
    return fs::path(std::move(name));
}

} // namespace

std::vector<FileResult> RealFileManager::copyFiles(const std::vector<CopyRequest>& copies) {
    constexpr std::size_t batchSize = 4096;
    std::vector<FileResult> results(copies.size());
    // A batch's temporary files, and the digest of what was written where the request says
    // what it must be.
    struct Batch {
        std::size_t start = 0;
        std::vector<std::optional<fs::path>> temporaries;
        std::vector<std::string> written;
        std::map<dev_t, fs::path> folderOnEachFileSystem;
    };
    const auto write = [&](std::size_t start) {
        const std::size_t count = std::min(copies.size() - start, batchSize);
        Batch batch{start,
                    std::vector<std::optional<fs::path>>(count),
                    std::vector<std::string>(count),
                    {}};
        std::vector<dev_t> devices(count);
        inParallel(count, [&](std::size_t i, Bytes&) {
            const CopyRequest& copy = copies[start + i];
            int error = 0;
            Md5Hasher digest;
            batch.temporaries[i] =
                temporaryCopy(copy.from, copy.to, copy.mode, copy.md5.empty() ? nullptr : &digest,
                              devices[i], error);
            if (!batch.temporaries[i])
                results[start + i] = failure(Op::write, {copy.from, copy.to}, errnoCode(error));
            else if (!copy.md5.empty())
                batch.written[i] = digest.finish();
        });
        for (std::size_t i = 0; i < count; ++i)
            if (batch.temporaries[i])
                batch.folderOnEachFileSystem.emplace(devices[i],
                                                     copies[start + i].to.parent_path());
        return batch;
    };
    // Only flushed bytes are compared, and only a verified copy takes its name.
    const auto place = [&](const Batch& batch, const std::error_code& flushError) {
        inParallel(batch.temporaries.size(), [&](std::size_t i, Bytes&) {
            if (!batch.temporaries[i])
                return;
            const CopyRequest& copy = copies[batch.start + i];
            const fs::path& temporary = *batch.temporaries[i];
            FileResult& result = results[batch.start + i];
            FileResult compareError;
            if (flushError) {
                result = failure(Op::write, {copy.from, copy.to}, flushError);
            } else if (!copy.md5.empty() ? batch.written[i] != copy.md5
                                         : !sameContent(copy.from, temporary, compareError)) {
                result = failure(Op::write, {copy.from, copy.to},
                                 compareError ? compareError->code : errnoCode(EIO));
            } else if (const int error = placeWithoutReplacing(temporary, copy.to)) {
                result = failure(Op::write, {copy.from, copy.to}, errnoCode(error));
            } else {
                return;
            }
            ::unlink(temporary.c_str());
        });
    };
    // One flush per file system and batch takes the batch's bytes and the names the batch
    // before it gave, on a thread of its own while the next batch is written.
    std::map<dev_t, fs::path> named;
    for (std::optional<Batch> batch = copies.empty() ? std::nullopt : std::optional(write(0));
         batch;) {
        std::map<dev_t, fs::path> flushing = batch->folderOnEachFileSystem;
        flushing.merge(named);
        std::error_code flushError;
        std::jthread flusher;
        try {
            flusher = std::jthread([&] { flushError = syncFileSystems(flushing); });
        } catch (const std::system_error&) {
            flushError = syncFileSystems(flushing);
        }
        const std::size_t next = batch->start + batch->temporaries.size();
        std::optional<Batch> following =
            next < copies.size() ? std::optional(write(next)) : std::nullopt;
        if (flusher.joinable())
            flusher.join();
        place(*batch, flushError);
        named = std::move(batch->folderOnEachFileSystem);
        batch = std::move(following);
    }
    // The last batch's new names reach the disk.
    syncFileSystems(named);
    return results;
}

FileResult RealFileManager::copyThenRemove(const fs::path& from, const fs::path& to) {
    struct stat info {};
    if (::lstat(from.c_str(), &info) != 0)
        return failure(Op::move, {from, to}, errnoCode(errno));
    if (FileResult error = copyFile(from, to, info.st_mode)) {
        error->operation = Op::move;
        return error;
    }
    if (::unlink(from.c_str()) != 0)
        return failure(Op::move, {from, to}, errnoCode(errno)); // both names hold the bytes
    return std::nullopt;
}

FileResult RealFileManager::linkOrCopy(const fs::path& from, const fs::path& to) {
    struct stat info {};
    if (::lstat(from.c_str(), &info) != 0)
        return failure(Op::write, {from, to}, errnoCode(errno));
    if (!S_ISREG(info.st_mode))
        return failure(Op::write, {from, to}, errnoCode(S_ISDIR(info.st_mode) ? EISDIR : EINVAL));
    // link() neither follows a link at from nor replaces anything at to.
    if (::link(from.c_str(), to.c_str()) == 0)
        return std::nullopt;
    const int error = errno;
    // Another file system, or one without hard links: a checked copy instead.
    if (error == EXDEV || error == EPERM || error == EMLINK || error == ENOTSUP)
        return copyFile(from, to, info.st_mode);
    return failure(Op::write, {from, to}, errnoCode(error));
}

bool RealFileManager::isDirectory(const fs::path& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::optional<unsigned> RealFileManager::mode(const fs::path& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return std::nullopt;
    return static_cast<unsigned>(info.st_mode & 07777);
}

std::vector<FileResult> RealFileManager::writeFiles(const std::vector<Write>& writes) {
    std::vector<FileResult> results(writes.size());
    std::vector<std::unique_ptr<AtomicFileWriter>> writers(writes.size());
    std::vector<dev_t> devices(writes.size());
    // The temporary files, on a few threads: creating a file costs more than writing it.
    inParallel(writes.size(), [&](std::size_t i, Bytes&) {
        const fs::path& path = writes[i].path;
        struct stat info {};
        // Never written through a link: the rename would put a plain file in its place.
        if (::lstat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
            results[i] =
                failure(Op::write, {path}, errnoCode(S_ISLNK(info.st_mode) ? ELOOP : EINVAL));
            return;
        }
        auto writer = std::make_unique<AtomicFileWriter>(path);
        struct stat temp {};
        if (writer->write(writes[i].data) && ::fstat(writer->descriptor(), &temp) == 0 &&
            writer->close()) {
            devices[i] = temp.st_dev;
            writers[i] = std::move(writer);
        } else {
            results[i] =
                failure(Op::write, {path}, writer->ok() ? errnoCode(errno) : writer->error());
        }
    });
    std::map<dev_t, fs::path> folderOnEachFileSystem;
    for (std::size_t i = 0; i < writes.size(); ++i)
        if (writers[i])
            folderOnEachFileSystem.emplace(devices[i], writes[i].path.parent_path());
    // One flush per file system for the whole batch, before any file takes its new text.
    if (const std::error_code error = syncFileSystems(folderOnEachFileSystem)) {
        for (std::size_t i = 0; i < writes.size(); ++i) {
            if (writers[i]) {
                writers[i].reset(); // discards the temporary file
                results[i] = failure(Op::write, {writes[i].path}, error);
            }
        }
        return results;
    }
    // The last look before each file is replaced (one changed since it was read keeps that
    // change), then the rename, on a few threads. The old text stays open until the rename is
    // done: the file system then frees its blocks when this thread closes it, not inside the
    // rename, where the wait would hold up every other rename in the folder.
    inParallel(writes.size(), [&](std::size_t i, Bytes&) {
        if (!writers[i])
            return;
        Fd old(-1);
        if (FileResult changed = onDiskAsRead(writes[i], old)) {
            writers[i].reset();
            results[i] = std::move(changed);
        } else if (!writers[i]->commit(AtomicFileWriter::Flush::alreadyDone)) {
            results[i] = failure(Op::write, {writes[i].path}, writers[i]->error());
        }
    });
    // Every new text is in place; one more flush per file system makes the renames durable
    // sooner.
    syncFileSystems(folderOnEachFileSystem);
    return results;
}

FileResult RealFileManager::removeItem(const fs::path& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0)
        return failure(Op::remove, {path}, errnoCode(errno));
    if (S_ISDIR(info.st_mode))
        return failure(Op::remove, {path}, errnoCode(EISDIR));
    if (::unlink(path.c_str()) != 0)
        return failure(Op::remove, {path}, errnoCode(errno));
    return std::nullopt;
}

FileResult RealFileManager::removeEmptyDirectory(const fs::path& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0)
        return failure(Op::remove, {path}, errnoCode(errno));
    if (!S_ISDIR(info.st_mode))
        return failure(Op::remove, {path}, errnoCode(ENOTDIR));
    if (::rmdir(path.c_str()) != 0)
        return failure(Op::remove, {path}, errnoCode(errno == EEXIST ? ENOTEMPTY : errno));
    if (path.has_parent_path())
        syncFolder(path.parent_path());
    return std::nullopt;
}

std::optional<Bytes> RealFileManager::readFile(const fs::path& path, FileResult& error) {
    std::error_code code;
    auto contents = readWholeFile(path, &code);
    if (!contents)
        error = failure(Op::read, {path}, code);
    return contents;
}

FileResult RealFileManager::writeFile(const fs::path& path, ByteView data) {
    if (const std::error_code code = writeFileAtomically(path, data))
        return failure(Op::write, {path}, code);
    return std::nullopt;
}

bool RealFileManager::sameContent(const fs::path& a, const fs::path& b, FileResult& error) {
    struct stat infoA {
    }, infoB{};
    Fd fileA(openRegular(a, infoA, error));
    if (fileA.fd < 0)
        return false;
    Fd fileB(openRegular(b, infoB, error));
    if (fileB.fd < 0)
        return false;
    if (infoA.st_size != infoB.st_size)
        return false;
    std::array<unsigned char, 64 * 1024> bufferA, bufferB;
    for (;;) {
        const ssize_t n = readFully(fileA.fd, bufferA.data(), bufferA.size());
        if (n < 0) {
            error = failure(Op::compare, {a}, errnoCode(errno));
            return false;
        }
        const ssize_t m = readFully(fileB.fd, bufferB.data(), bufferB.size());
        if (m < 0) {
            error = failure(Op::compare, {b}, errnoCode(errno));
            return false;
        }
        if (n != m || std::memcmp(bufferA.data(), bufferB.data(), static_cast<std::size_t>(n)) != 0)
            return false;
        if (n == 0)
            return true;
    }
}

std::vector<FileResult> RealFileManager::checkCopies(const std::vector<CopyPair>& pairs) {
    return checkOrRemove(pairs, false);
}

std::vector<FileResult> RealFileManager::removeCopies(const std::vector<CopyPair>& pairs) {
    return checkOrRemove(pairs, true);
}

std::vector<FileResult> RealFileManager::checkOrRemove(const std::vector<CopyPair>& pairs,
                                                       bool remove) {
    const HeldKeptFiles held(pairs);
    std::vector<FileResult> results(pairs.size());
    inParallel(pairs.size(), [&](std::size_t i, Bytes& buffer) {
        const CopyPair& pair = pairs[i];
        struct stat info {};
        if (!remove && pair.settled && ::lstat(pair.copy->c_str(), &info) == 0 &&
            S_ISREG(info.st_mode) && changeMark(info) == pair.settled)
            return; // untouched since the scan compared it
        const HeldKeptFiles::Kept* kept = held.find(*pair.kept);
        if (!kept)
            results[i] = checkCopy(pair);
        else
            results[i] = kept->error ? kept->error : holdsKeptBytes(pair, kept->bytes, buffer);
        if (!results[i] && remove && ::unlink(pair.copy->c_str()) != 0) // a folder: EISDIR
            results[i] = failure(Op::remove, {*pair.copy}, errnoCode(errno));
    });
    return results;
}

std::optional<std::uint64_t> RealFileManager::fileSize(const fs::path& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return std::nullopt;
    return static_cast<std::uint64_t>(info.st_size);
}

std::optional<FileManager::Stamp> RealFileManager::stamp(const fs::path& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return std::nullopt;
    return stampOf(info);
}

std::optional<std::string> RealFileManager::md5(const fs::path& path) {
    return MD5(path);
}

} // namespace tolvane
