#include "refs/url_find.hpp"

#include "util/text.hpp"

#include <array>
#include <cctype>
#include <cstring>

namespace tolvane {

namespace {

constexpr std::array<std::string_view, 5> imageExtensions{"jpeg", "tiff", "png", "jpg", "gif"};

// One letter of an extension at text[i], as itself (any case) or as %XX. Returns the
// position after it, or npos.
std::size_t matchLetter(std::string_view text, std::size_t i, char letter) {
    if (i < text.size() && lowerAscii(text[i]) == letter)
        return i + 1;
    if (i + 2 < text.size() && text[i] == '%') {
        const int hi = hexValue(text[i + 1]);
        const int lo = hexValue(text[i + 2]);
        if (hi >= 0 && lo >= 0 && lowerAscii(static_cast<char>(hi * 16 + lo)) == letter)
            return i + 3;
    }
    return std::string_view::npos;
}

// Bytes that continue a file name: after an extension they mean it was not the end.
bool continuesName(unsigned char c) {
    return std::isalnum(c) || c >= 0x80 || c == '.' || c == '_' || c == '-' || c == '~' ||
           c == '+' || c == '%' || c == '/';
}

// Where an unquoted URL can start: after one of these.
bool stopsUrl(char c) {
    return isSpace(c) || std::strchr("\"'`()=,<>;{}[]|", c) != nullptr;
}

} // namespace

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

// Characters that can stand right before a name in text that is not a plain path.
bool boundsName(char c) {
    return isSpace(c) || std::strchr("\"'`()=,<>:+\\/", c) != nullptr;
}

namespace {

// Where an image extension that starts at text[p] ("." or "%2E") ends, or npos.
std::size_t extensionEnd(std::string_view text, std::size_t p) {
    std::size_t q;
    if (text[p] == '.')
        q = p + 1;
    else if (text[p] == '%' && p + 2 < text.size() && text[p + 1] == '2' &&
             lowerAscii(text[p + 2]) == 'e')
        q = p + 3;
    else
        return std::string_view::npos;
    for (const auto ext : imageExtensions) {
        std::size_t at = q;
        for (const char letter : ext) {
            at = matchLetter(text, at, letter);
            if (at == std::string_view::npos)
                break;
        }
        if (at != std::string_view::npos)
            return at;
    }
    return std::string_view::npos;
}

// Where the URL whose path ends at r (its extension at p) starts: after the delimiter that
// matches the one closing it, past any query or fragment; else after the nearest character
// that stops a bare URL. Looks back at most 4096 bytes.
std::size_t urlStart(std::string_view text, std::size_t p, std::size_t r) {
    constexpr std::size_t lookBack = 4096;
    std::size_t e = r;
    if (e < text.size() && (text[e] == '?' || text[e] == '#')) {
        while (e < text.size() && !isSpace(text[e]) && std::strchr("\"'`()<>", text[e]) == nullptr)
            ++e;
    }
    const char close = e < text.size() ? text[e] : '\0';
    const std::size_t limit = p > lookBack ? p - lookBack : 0;
    std::size_t begin = std::string_view::npos;
    if (close == '"' || close == '\'' || close == '`' || close == ')') {
        const char open = close == ')' ? '(' : close;
        for (std::size_t k = p; k-- > limit;) {
            if (text[k] == open) {
                begin = k + 1;
                break;
            }
            if (text[k] == '\n' || text[k] == '\r' ||
                (close == ')' && std::strchr("\"'<>", text[k]) != nullptr))
                break;
        }
    }
    if (begin == std::string_view::npos) {
        begin = p;
        while (begin > limit && !stopsUrl(text[begin - 1]))
            --begin;
    }
    while (begin < p && isSpace(text[begin]))
        ++begin;
    return begin;
}

} // namespace

std::vector<UrlSpan> findImageUrls(std::string_view text) {
    std::vector<UrlSpan> spans;
    for (std::size_t p = 1; p < text.size(); ++p) {
        const std::size_t r = extensionEnd(text, p);
        if (r == std::string_view::npos)
            continue;
        if (r < text.size() && continuesName(static_cast<unsigned char>(text[r])))
            continue;
        const std::size_t begin = urlStart(text, p, r);
        // A second extension inside a query or fragment belongs to the URL found before.
        if (text.substr(begin, r - begin).find_first_of("?#") != std::string_view::npos)
            continue;
        spans.push_back({begin, r});
        p = r - 1;
    }
    return spans;
}

} // namespace tolvane
