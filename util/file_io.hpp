#pragma once

#include "util/bytes.hpp"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <system_error>

namespace tolvane {

// Reads a whole regular file. Absent (with the reason in *error) for a missing file,
// a folder, or a read failure.
std::optional<Bytes> readWholeFile(const std::filesystem::path& path,
                                   std::error_code* error = nullptr);

// Writes a file so that a reader sees either the old or the new contents, never a part:
// the bytes go to a temporary file in the same folder, which then replaces the target.
// A replaced file keeps its permission bits; a new one gets the usual 0666 less umask.
// On failure the target is left as it was and no temporary file remains.
class AtomicFileWriter {
  public:
    explicit AtomicFileWriter(std::filesystem::path target);
    // mode: the permission bits the new file gets, whatever the target has.
    AtomicFileWriter(std::filesystem::path target, unsigned mode);
    ~AtomicFileWriter(); // discards the temporary file unless commit() succeeded
    AtomicFileWriter(const AtomicFileWriter&) = delete;
    AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

    // False once anything failed; error() then says why.
    bool ok() const { return !error_; }
    const std::error_code& error() const { return error_; }

    bool write(ByteView data);
    // Flushes to disk (unless the caller flushed already, as a batch does with one syncfs)
    // and renames over the target. Returns false and discards on failure.
    // place: over whatever has the target's name, or only where nothing has it yet.
    enum class Flush { data, alreadyDone };
    enum class Place { replacing, withoutReplacing };
    bool commit(Flush flush = Flush::data, Place place = Place::replacing);
    // Flushes the bytes written so far to disk (data and metadata), before a check of them.
    bool sync();
    // Closes the temporary file once all is written, so that a batch holds names rather than
    // descriptors; commit() then only renames, and Flush::data is no longer possible.
    bool close();
    // Where the bytes are until commit(), for such a check.
    const std::filesystem::path& temporary() const { return temp_; }
    // The temporary file's descriptor while it is open.
    int descriptor() const { return fd_; }

  private:
    void open(std::optional<unsigned> mode);
    void discard();

    std::filesystem::path target_;
    std::filesystem::path temp_;
    int fd_ = -1;
    std::error_code error_;
};

// Whether a file name is one of the temporary files an AtomicFileWriter makes:
// "." + the target's name (its start only, where the whole would pass the folder's name limit)
// + ".tolvane-" + six letters or digits. Only these are ever removed as leftovers of an
// interrupted run.
bool isWriterTemporaryName(std::string_view fileName);

// The mkstemp() template of such a temporary file for target, in target's own folder.
std::string writerTemporaryTemplate(const std::filesystem::path& target);

// Gives a finished file its final name without replacing anything already there (a no-replace
// rename, or a hard link on file systems without one). 0, or the errno of the failure.
int placeWithoutReplacing(const std::filesystem::path& from, const std::filesystem::path& to);

// A mark of a file's identity, size and last change of bytes or metadata (its change time,
// which no program can set back): the same mark later means nothing touched the file. Never 0.
std::uint64_t changeMark(const struct stat& info);

// Flushes a folder's entries (a rename or a new name in it) to disk.
std::error_code syncFolder(const std::filesystem::path& folder);

// One-shot form of AtomicFileWriter. Returns the failure, or an empty error code.
std::error_code writeFileAtomically(const std::filesystem::path& path, ByteView data);

// Closes a descriptor when it goes out of scope.
struct Fd {
    int fd = -1;
    explicit Fd(int value) : fd(value) {}
    ~Fd();
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
};

// Reads up to size bytes, fewer only at the end of the file; -1 on error (errno says why).
std::ptrdiff_t readFully(int fd, unsigned char* buffer, std::size_t size);

// Writes all of data, resuming after interruptions; false on error (errno says why).
bool writeFully(int fd, ByteView data);
inline bool writeFully(int fd, std::string_view data) {
    return writeFully(fd, asBytes(data));
}

} // namespace tolvane
