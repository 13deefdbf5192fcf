#pragma once

#include "refs/keep_reason.hpp"
#include "util/text.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tolvane {

// A text file as its own language reads it: in markup files (HTML, XML) character
// references decoded; in a stylesheet, and inside url( ) in markup, CSS escapes (\6c or \6C
// and one white space after, \g); elsewhere the script-string escapes \/ \" \' \uXXXX \xXX.
// Each byte of text remembers where in the file the piece that produced it starts, so a span
// of the view maps back to the bytes written in the file.
struct TextView {
    std::string text;
    std::vector<std::uint32_t> origin; // text.size() + 1 entries; the last is the file's size
};
TextView decodeText(std::string_view raw, bool markup, bool stylesheet = false);

// How a URL was written in its file, so that a replacement reads the same way.
struct UrlStyle {
    std::array<bool, 256> percentEncoded{}; // bytes written as %XX
    std::array<bool, 256> rawSeen{};        // bytes written as themselves
    bool lowercaseHex = false;
    bool nonAsciiEncoded = false; // some byte above 0x7F was written as %XX
    bool dotSlashPrefix = false;  // the URL started with "./"
    bool markup = false;          // the file is HTML or XML
    // A character (its UTF-8 bytes) and the first way the file spelled it other than as
    // itself: "&amp;" for "&", "&#32;" for " ", "\/" for "/".
    std::map<std::string, std::string> spellings;
};

// One URL as written in a file, decoded.
struct ParsedUrl {
    enum class Kind {
        relative,     // resolved against its file's base
        rootRelative, // "/..."; the site's place on a server is unknown
        absolute,     // a scheme ("http:", "file:", "data:") or "//host"
        malformed,    // cannot be decoded (see problem)
    };
    Kind kind = Kind::relative;
    // The path's segments, percent-decoded; "." and ".." kept. For an absolute URL, the
    // segments of its path after the host.
    std::vector<std::string> segments;
    UrlProblem problem = UrlProblem::none; // why it is malformed
    UrlStyle style;
    std::string lastSegmentSpelling; // the file's bytes for the last segment
};

// Parses the URL that occupies view.text[begin, end) (its path only: no query or fragment).
ParsedUrl parseUrl(const TextView& view, std::size_t begin, std::size_t end, std::string_view raw,
                   bool markup);

// Writes segments (decoded bytes) as a URL in the style of original, as the file's text.
// The last segment keeps the file's own spelling when it names the same file as before.
std::string respellUrl(const ParsedUrl& original, const std::vector<std::string>& segments);

} // namespace tolvane
