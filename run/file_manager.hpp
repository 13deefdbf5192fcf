#pragma once

#include "run/reporter.hpp"
#include "util/bytes.hpp"

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace tolvane {

// Empty on success, the failed step otherwise.
using FileResult = std::optional<FileError>;

// Every file-system step of a run and of a page rewrite. One object serves one run.
class FileManager {
  public:
    virtual ~FileManager() = default;

    // Something (file, folder, even a dangling link) is at the path.
    virtual bool exists(const std::filesystem::path& path) = 0;
    // One folder; its parent must exist.
    virtual FileResult createDirectory(const std::filesystem::path& path) = 0;
    // Moves a file; never replaces anything at the destination. Works across file systems.
    virtual FileResult moveItem(const std::filesystem::path& from,
                                const std::filesystem::path& to) = 0;
    // Removes one file (never a folder).
    virtual FileResult removeItem(const std::filesystem::path& path) = 0;
    // Removes a folder that is empty (never a link to one); fails with
    // std::errc::directory_not_empty when anything is in it.
    virtual FileResult removeEmptyDirectory(const std::filesystem::path& path) = 0;
    virtual std::optional<Bytes> readFile(const std::filesystem::path& path, FileResult& error) = 0;
    // Replaces the file atomically, keeping its permission bits.
    virtual FileResult writeFile(const std::filesystem::path& path, ByteView data) = 0;
    // Whether the two files hold the same bytes. On failure, error names the path that failed.
    virtual bool sameContent(const std::filesystem::path& a, const std::filesystem::path& b,
                             FileResult& error) = 0;
    virtual std::optional<std::uint64_t> fileSize(const std::filesystem::path& path) = 0;
    virtual std::optional<std::string> md5(const std::filesystem::path& path) = 0;

    // A real folder at the path: not a symbolic link to one.
    virtual bool isDirectory(const std::filesystem::path& path) = 0;
    // Permission bits of a regular file (not followed through a link).
    virtual std::optional<unsigned> mode(const std::filesystem::path& path) = 0;
    // Gives from's bytes a second name: a hard link where both are on one file system, else a
    // copy checked against from. Never replaces anything at to; from stays.
    virtual FileResult linkOrCopy(const std::filesystem::path& from,
                                  const std::filesystem::path& to) = 0;
    // A copy of from at to with the given permission bits, checked against from; never
    // replaces anything at to.
    virtual FileResult copyFile(const std::filesystem::path& from, const std::filesystem::path& to,
                                unsigned mode) = 0;

    // What a file looked like when it was read: a write that expects it replaces the file
    // only while it still looks so.
    struct Stamp {
        std::uint64_t size = 0;
        std::int64_t modified = 0; // nanoseconds since the epoch
        std::uint64_t inode = 0;
        bool operator==(const Stamp&) const = default;
    };
    // The stamp of a regular file (not followed through a link), or absent.
    virtual std::optional<Stamp> stamp(const std::filesystem::path& path);

    // Replaces several files, each atomically and keeping its permission bits, with one flush
    // to disk for the whole batch instead of one per file. One result per write, in order.
    // A write with expected bytes (and a stamp) replaces its file only if it still holds
    // them, checked just before; otherwise it fails with RunErrc::changedSinceRead and the
    // file is left as it is.
    struct Write {
        Write(std::filesystem::path path, ByteView data, const Bytes* expected = nullptr,
              std::optional<Stamp> stamp = std::nullopt)
            : path(std::move(path)), data(data), expected(expected), stamp(stamp) {}
        std::filesystem::path path;
        ByteView data;
        const Bytes* expected; // the bytes read, or none to replace whatever is there
        std::optional<Stamp> stamp;
    };
    virtual std::vector<FileResult> writeFiles(const std::vector<Write>& writes);

    // A copy and the kept file whose bytes it should hold.
    struct CopyPair {
        const std::filesystem::path* copy;
        const std::filesystem::path* kept;
        // For checkCopies: the copy's changeMark() when the scan found it settled, 0 if none;
        // a copy that still has that mark holds the bytes the scan saw and is not read again
        // (the caller has made sure that the kept file holds them too).
        std::uint64_t settled = 0;
    };
    // Whether each copy still holds its kept file's bytes: empty where it does, else the failed
    // step or RunErrc::contentDiffers. One result per pair, in order.
    virtual std::vector<FileResult> checkCopies(const std::vector<CopyPair>& pairs);
    // Removes each copy that still holds its kept file's bytes, checked just before; a copy
    // that does not stays. One result per pair, in order: empty where the copy is gone.
    virtual std::vector<FileResult> removeCopies(const std::vector<CopyPair>& pairs);

    // Several checked copies, as copyFile makes them, with one flush to disk per batch instead
    // of one per file. One result per copy, in order.
    struct CopyRequest {
        std::filesystem::path from;
        std::filesystem::path to;
        unsigned mode = 0644;
        // When known: the digest the bytes must have. The copy is then checked against it as
        // it is written instead of being read back and compared with from.
        std::string md5;
    };
    virtual std::vector<FileResult> copyFiles(const std::vector<CopyRequest>& copies);

  protected:
    // One pair of checkCopies, through sameContent.
    FileResult checkCopy(const CopyPair& pair);
    // Empty while the file of a write still holds what it expects, through stamp and readFile.
    FileResult stillAsRead(const Write& write);
};

// The file system itself.
class RealFileManager : public FileManager {
  public:
    bool exists(const std::filesystem::path& path) override;
    FileResult createDirectory(const std::filesystem::path& path) override;
    FileResult moveItem(const std::filesystem::path& from,
                        const std::filesystem::path& to) override;
    FileResult removeItem(const std::filesystem::path& path) override;
    FileResult removeEmptyDirectory(const std::filesystem::path& path) override;
    std::optional<Bytes> readFile(const std::filesystem::path& path, FileResult& error) override;
    FileResult writeFile(const std::filesystem::path& path, ByteView data) override;
    bool sameContent(const std::filesystem::path& a, const std::filesystem::path& b,
                     FileResult& error) override;
    std::optional<std::uint64_t> fileSize(const std::filesystem::path& path) override;
    std::optional<std::string> md5(const std::filesystem::path& path) override;
    bool isDirectory(const std::filesystem::path& path) override;
    std::optional<unsigned> mode(const std::filesystem::path& path) override;
    FileResult linkOrCopy(const std::filesystem::path& from,
                          const std::filesystem::path& to) override;
    FileResult copyFile(const std::filesystem::path& from, const std::filesystem::path& to,
                        unsigned mode) override;
    std::optional<Stamp> stamp(const std::filesystem::path& path) override;
    std::vector<FileResult> writeFiles(const std::vector<Write>& writes) override;
    // Several copies at once: deleting a file may wait on the device (a synchronous discard on
    // some mounts), and small kept files are read once per call, not once per copy.
    std::vector<FileResult> checkCopies(const std::vector<CopyPair>& pairs) override;
    std::vector<FileResult> removeCopies(const std::vector<CopyPair>& pairs) override;
    // Each copy is written to a temporary file beside its destination and closed; the batch
    // is flushed once per file system, then each is compared with its source and named. A
    // few at a time (creating a file may wait on the device), a descriptor or two each.
    std::vector<FileResult> copyFiles(const std::vector<CopyRequest>& copies) override;

    // The copy that a move across file systems makes: to a temporary file beside the
    // destination, checked against the source, then linked to the destination name (which
    // fails if something appeared there), then the source removed. Public for the tests.
    FileResult copyThenRemove(const std::filesystem::path& from, const std::filesystem::path& to);

  private:
    std::vector<FileResult> checkOrRemove(const std::vector<CopyPair>& pairs, bool remove);
};

} // namespace tolvane
