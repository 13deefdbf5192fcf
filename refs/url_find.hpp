#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

namespace tolvane {

// A URL candidate: text[begin, end) is its path, ending in an image extension.
struct UrlSpan {
    std::size_t begin;
    std::size_t end;
};

// Every image-like URL path in a decoded text: each extension (even percent-encoded, as in
// "logo%2Epng" or "logo.p%6Eg") that ends a name, extended back to where its URL starts by
// the delimiter that closes it.
std::vector<UrlSpan> findImageUrls(std::string_view text);

// White space as HTML and CSS count it.
bool isSpace(char c);

// Characters that can stand right before a name in text that is not a plain path.
bool boundsName(char c);

} // namespace tolvane
