#pragma once

#include "util/bytes.hpp"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace tolvane {

// MD5 of every byte as 32 lowercase hexadecimal digits.
std::string md5(ByteView data);
inline std::string md5(std::string_view text) { return md5(asBytes(text)); }

// MD5 of a regular file's contents, read in chunks so memory stays flat for any size.
// Absent for a missing file, a folder, or a file that cannot be read to its end.
std::optional<std::string> MD5(const std::filesystem::path& path);

// As MD5(), and also counts the bytes read into *bytesRead (for progress display).
std::optional<std::string> MD5(const std::filesystem::path& path, std::uint64_t* bytesRead);

} // namespace tolvane
