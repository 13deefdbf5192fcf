#pragma once

#include <cstddef>
#include <span>
#include <string_view>
#include <vector>

namespace tolvane {

// Raw file or buffer contents.
using Bytes = std::vector<unsigned char>;
using ByteView = std::span<const unsigned char>;

inline ByteView asBytes(std::string_view text) {
    return {reinterpret_cast<const unsigned char*>(text.data()), text.size()};
}

} // namespace tolvane
