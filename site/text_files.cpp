#include "site/text_files.hpp"

#include "util/file_io.hpp"

#include <cstdint>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

namespace tolvane {

namespace fs = std::filesystem;

std::optional<Bytes> DiskTextFileAccess::read(const fs::path& path, std::error_code& error) {
    return readWholeFile(path, &error);
}

std::error_code DiskTextFileAccess::write(const fs::path& path, ByteView data) {
    return writeFileAtomically(path, data);
}

std::optional<NotWritable> DiskTextFileAccess::whyNotWritable(const fs::path& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return NotWritable{NotWritable::Why::unexaminable, {errno, std::generic_category()}};
    // Even where the user may write anyway (as root), a file marked read-only is left alone.
    if (::access(path.c_str(), W_OK) != 0 || (info.st_mode & 0222) == 0)
        return NotWritable{NotWritable::Why::readOnly, {}};
    const fs::path folder = path.parent_path().empty() ? fs::path(".") : path.parent_path();
    if (::access(folder.c_str(), W_OK | X_OK) != 0)
        return NotWritable{NotWritable::Why::folderNotWritable, {errno, std::generic_category()}};
    return std::nullopt;
}

std::optional<Bytes> WritabilityOnce::read(const fs::path& path, std::error_code& error) {
    return access_.read(path, error);
}

std::error_code WritabilityOnce::write(const fs::path& path, ByteView data) {
    return access_.write(path, data);
}

std::optional<NotWritable> WritabilityOnce::whyNotWritable(const fs::path& path) {
    const auto found = answers_.find(path.native());
    if (found != answers_.end())
        return found->second;
    return answers_.emplace(path.native(), access_.whyNotWritable(path)).first->second;
}

std::optional<std::string> readText(TextFileAccess& access, const fs::path& file,
                                    std::error_code& error) {
    auto bytes = access.read(file, error);
    if (!bytes)
        return std::nullopt;
    if (bytes->size() >= std::numeric_limits<std::uint32_t>::max()) {
        error = std::make_error_code(std::errc::file_too_large);
        return std::nullopt;
    }
    return std::string(bytes->begin(), bytes->end());
}

} // namespace tolvane
