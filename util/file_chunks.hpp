#pragma once

#include "util/bytes.hpp"

#include <filesystem>
#include <functional>
#include <system_error>

namespace tolvane {

// Reads a regular file front to back in chunks, handing each to consume; consume returns
// false to stop early (the result is then operation_canceled). Folders and other
// non-regular files are refused.
std::error_code forEachChunk(const std::filesystem::path& path,
                             const std::function<bool(ByteView)>& consume);

} // namespace tolvane
