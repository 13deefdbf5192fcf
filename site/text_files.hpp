#pragma once

#include "util/bytes.hpp"

#include <filesystem>
#include <optional>
#include <string>
#include <system_error>
#include <unordered_map>

namespace tolvane {

// Why a text file cannot be replaced.
struct NotWritable {
    enum class Why {
        unexaminable,      // error: why the file cannot be examined
        readOnly,          // the file is marked read-only
        folderNotWritable, // error: why its folder cannot be written
    };
    Why why = Why::readOnly;
    std::error_code error;
};

// Reads and writes referencing files; the run gives its own file manager, tests a failing one.
class TextFileAccess {
  public:
    virtual ~TextFileAccess() = default;
    virtual std::optional<Bytes> read(const std::filesystem::path& path,
                                      std::error_code& error) = 0;
    // Replaces the file atomically, keeping its permission bits.
    virtual std::error_code write(const std::filesystem::path& path, ByteView data) = 0;
    // Empty when the file can be replaced (the file and its folder writable); else why not.
    virtual std::optional<NotWritable> whyNotWritable(const std::filesystem::path& path) = 0;
};

// The file system itself (util/file_io.hpp for reading and atomic writing).
class DiskTextFileAccess : public TextFileAccess {
  public:
    std::optional<Bytes> read(const std::filesystem::path& path, std::error_code& error) override;
    std::error_code write(const std::filesystem::path& path, ByteView data) override;
    std::optional<NotWritable> whyNotWritable(const std::filesystem::path& path) override;
};

// Another access that asks once per file whether it can be written: for a report on a whole
// site at one moment, where many images share the files that refer to them.
class WritabilityOnce : public TextFileAccess {
  public:
    explicit WritabilityOnce(TextFileAccess& access) : access_(access) {}
    std::optional<Bytes> read(const std::filesystem::path& path, std::error_code& error) override;
    std::error_code write(const std::filesystem::path& path, ByteView data) override;
    std::optional<NotWritable> whyNotWritable(const std::filesystem::path& path) override;

  private:
    TextFileAccess& access_;
    std::unordered_map<std::string, std::optional<NotWritable>> answers_;
};

// A text file's bytes as a string; absent, with why, when it cannot be read or is too large
// for the index's 32-bit offsets.
std::optional<std::string> readText(TextFileAccess& access, const std::filesystem::path& file,
                                    std::error_code& error);

} // namespace tolvane
