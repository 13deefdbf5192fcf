#include "refs/url_text.hpp"

#include "refs/url_find.hpp"
#include "util/text.hpp"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace tolvane {

namespace {

// Bytes a written URL cannot hold as themselves in some file or context. A replacement
// encodes them unless the original wrote them as themselves.
bool unsafeInUrl(unsigned char b) {
    if (b <= 0x20 || b == 0x7F)
        return true;
    return std::strchr("\"#%'()<>?\\^`{|}", b) != nullptr;
}

// Length of the UTF-8 sequence that starts with b (1 for a stray byte).
std::size_t sequenceLength(unsigned char b) {
    if (b >= 0xF0 && b < 0xF8)
        return 4;
    if (b >= 0xE0)
        return b < 0xF0 ? 3 : 1;
    if (b >= 0xC0)
        return 2;
    return 1;
}

// A script escape of one character at the start of text (\u002F, \x2F): its UTF-8 bytes and
// the number of bytes it takes.
std::optional<std::pair<std::string, std::size_t>> hexEscape(std::string_view text) {
    const std::size_t digits = text.size() < 2 ? 0 : text[1] == 'u' ? 4 : text[1] == 'x' ? 2 : 0;
    if (!digits || 2 + digits > text.size())
        return std::nullopt;
    std::uint32_t value = 0;
    for (std::size_t k = 0; k < digits; ++k) {
        const int d = hexValue(text[2 + k]);
        if (d < 0)
            return std::nullopt;
        value = value * 16 + static_cast<std::uint32_t>(d);
    }
    if (value == 0 || (value >= 0xD800 && value <= 0xDFFF))
        return std::nullopt;
    return std::pair{utf8(value), 2 + digits};
}

// A CSS escape at the start of text (a backslash, then one to six hex digits and an optional
// white space, or any other character but a line break): its UTF-8 bytes and the number of
// bytes it takes.
std::optional<std::pair<std::string, std::size_t>> cssEscape(std::string_view text) {
    if (text.size() < 2 || text[1] == '\n' || text[1] == '\r' || text[1] == '\f')
        return std::nullopt;
    std::size_t n = 1;
    std::uint32_t value = 0;
    while (n < text.size() && n <= 6 && hexValue(text[n]) >= 0)
        value = value * 16 + static_cast<std::uint32_t>(hexValue(text[n++]));
    if (n == 1) {
        const std::size_t length = std::max<std::size_t>(utf8SequenceLength(text, 1), 1);
        return std::pair{std::string(text.substr(1, length)), 1 + length};
    }
    if (n < text.size() && text.substr(n, 2) == "\r\n")
        n += 2;
    else if (n < text.size() && isSpace(text[n]))
        ++n;
    const bool valid = value != 0 && value <= 0x10FFFF && (value < 0xD800 || value > 0xDFFF);
    return std::pair{utf8(valid ? value : 0xFFFD), n};
}

// Whether the end of decoded markup text stands inside a url( ), where CSS escapes count.
bool insideCssUrl(std::string_view text) {
    constexpr std::size_t lookBack = 2048;
    const std::size_t limit = text.size() > lookBack ? text.size() - lookBack : 0;
    for (std::size_t k = text.size(); k > limit; --k) {
        const char c = text[k - 1];
        if (c == '(')
            return k >= 4 && lowerAscii(text[k - 4]) == 'u' && lowerAscii(text[k - 3]) == 'r' &&
                   lowerAscii(text[k - 2]) == 'l';
        if (c == ')' || c == '\n' || c == '<' || c == '>')
            return false;
    }
    return false;
}

} // namespace

TextView decodeText(std::string_view raw, bool markup, bool stylesheet) {
    TextView view;
    view.text.reserve(raw.size());
    view.origin.reserve(raw.size() + 1);
    auto put = [&](std::string_view bytes, std::size_t at) {
        view.text.append(bytes);
        view.origin.insert(view.origin.end(), bytes.size(), static_cast<std::uint32_t>(at));
    };
    std::size_t i = 0;
    while (i < raw.size()) {
        // A run of bytes that decode to themselves, each its own piece.
        const std::size_t plain = raw.find_first_of(markup ? std::string_view("&\\") : "\\", i);
        const std::size_t stop = plain == std::string_view::npos ? raw.size() : plain;
        if (stop > i) {
            view.text.append(raw.substr(i, stop - i));
            for (; i < stop; ++i)
                view.origin.push_back(static_cast<std::uint32_t>(i));
            continue;
        }
        const char c = raw[i];
        if (c == '&' && markup) {
            if (const auto ref = decodeCharacterReference(raw.substr(i, 16))) {
                put(ref->first, i);
                i += ref->second;
                continue;
            }
        } else if (c == '\\' && i + 1 < raw.size() &&
                   (stylesheet || (markup && insideCssUrl(view.text)))) {
            if (const auto escape = cssEscape(raw.substr(i, 9))) {
                put(escape->first, i);
                i += escape->second;
                continue;
            }
        } else if (c == '\\' && i + 1 < raw.size()) {
            const char next = raw[i + 1];
            if (next == '/' || next == '"' || next == '\'') {
                put(raw.substr(i + 1, 1), i);
                i += 2;
                continue;
            }
            if (const auto escape = hexEscape(raw.substr(i))) {
                put(escape->first, i);
                i += escape->second;
                continue;
            }
            if (next == '\\') {
                // An escaped backslash stays two bytes, so it never joins the next character.
                put(raw.substr(i, 1), i);
                put(raw.substr(i + 1, 1), i + 1);
                i += 2;
                continue;
            }
        }
        put(raw.substr(i, 1), i);
        ++i;
    }
    view.origin.push_back(static_cast<std::uint32_t>(raw.size()));
    return view;
}

namespace {

// How the file spelled each character of view.text[begin, end) that its language decodes.
void recordSpellings(UrlStyle& style, const TextView& view, std::size_t begin, std::size_t end,
                     std::string_view raw) {
    for (std::size_t i = begin; i < end;) {
        std::size_t j = i + 1;
        while (j < end && view.origin[j] == view.origin[i])
            ++j;
        const std::string_view written =
            raw.substr(view.origin[i], view.origin[j] - view.origin[i]);
        const std::string_view meant = std::string_view(view.text).substr(i, j - i);
        // A letter or digit a CSS escape spelled is written plainly again: it means the same;
        // a CSS hex escape used again must end where it is meant to, whatever follows it.
        const bool cssEscape = written.size() > 1 && written[0] == '\\' &&
                               (written.size() == 2 || hexValue(written[1]) >= 0);
        if (written == meant || (cssEscape && meant.size() == 1 &&
                                 std::isalnum(static_cast<unsigned char>(meant[0])))) {
        } else if (cssEscape && hexValue(written[1]) >= 0 && !isSpace(written.back())) {
            style.spellings.emplace(std::string(meant), std::string(written) + " ");
        } else {
            style.spellings.emplace(std::string(meant), std::string(written));
        }
        i = j;
    }
}

// How the URL itself encoded its bytes.
void recordEncoding(UrlStyle& style, std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto b = static_cast<unsigned char>(text[i]);
        if (b == '%' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 &&
            hexValue(text[i + 2]) >= 0) {
            const auto decoded =
                static_cast<unsigned char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
            style.percentEncoded[decoded] = true;
            if (decoded >= 0x80)
                style.nonAsciiEncoded = true;
            for (const char h : text.substr(i + 1, 2)) {
                if (h >= 'a' && h <= 'f')
                    style.lowercaseHex = true;
            }
            i += 2;
        } else {
            style.rawSeen[b] = true;
        }
    }
    style.dotSlashPrefix = text.substr(0, 2) == "./";
}

// Sets the URL's kind from its start; returns the path part to take apart.
std::string_view pathOf(ParsedUrl& url, std::string_view text) {
    const auto colon = text.find(':');
    const auto firstSlash = text.find('/');
    const bool hasScheme =
        colon != std::string_view::npos && colon > 0 &&
        (firstSlash == std::string_view::npos || colon < firstSlash) && isAsciiAlpha(text[0]) &&
        std::all_of(text.begin(), text.begin() + static_cast<long>(colon), [](char c) {
            return isAsciiAlpha(c) || (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
        });
    if (hasScheme || text.substr(0, 2) == "//") {
        url.kind = ParsedUrl::Kind::absolute;
        std::string_view path = hasScheme ? text.substr(colon + 1) : text;
        if (path.substr(0, 2) == "//") {
            const auto slash = path.find('/', 2);
            // Empty, but still inside text: the caller measures where the path starts.
            path = path.substr(slash == std::string_view::npos ? path.size() : slash + 1);
        }
        return path;
    }
    if (text.substr(0, 1) == "/") {
        url.kind = ParsedUrl::Kind::rootRelative;
        return text.substr(1);
    }
    return text;
}

// Takes the path apart into decoded segments; returns where the last one starts in path.
std::size_t decodeSegments(ParsedUrl& url, std::string_view path) {
    std::size_t start = 0;
    for (;;) {
        const auto slash = path.find('/', start);
        const std::string_view segment = path.substr(
            start, slash == std::string_view::npos ? std::string_view::npos : slash - start);
        auto decoded = percentDecode(segment);
        if (!decoded) {
            url.kind = ParsedUrl::Kind::malformed;
            url.problem = UrlProblem::badPercent;
            decoded = std::string(segment);
        } else if (decoded->find('/') != std::string::npos ||
                   decoded->find('\0') != std::string::npos) {
            url.kind = ParsedUrl::Kind::malformed;
            url.problem = UrlProblem::encodedSlash;
        }
        if (segment.find('\\') != std::string_view::npos &&
            url.kind != ParsedUrl::Kind::malformed) {
            url.kind = ParsedUrl::Kind::malformed;
            url.problem = UrlProblem::backslash;
        }
        url.segments.push_back(std::move(*decoded));
        if (slash == std::string_view::npos)
            return start;
        start = slash + 1;
    }
}

} // namespace

ParsedUrl parseUrl(const TextView& view, std::size_t begin, std::size_t end, std::string_view raw,
                   bool markup) {
    ParsedUrl url;
    url.style.markup = markup;
    const std::string_view text = std::string_view(view.text).substr(begin, end - begin);
    recordSpellings(url.style, view, begin, end, raw);
    recordEncoding(url.style, text);
    const std::string_view path = pathOf(url, text);
    const std::size_t start = decodeSegments(url, path);
    const std::size_t lastStart =
        begin + static_cast<std::size_t>(path.data() - text.data()) + start;
    url.lastSegmentSpelling =
        std::string(raw.substr(view.origin[lastStart], view.origin[end] - view.origin[lastStart]));
    return url;
}

std::string respellUrl(const ParsedUrl& original, const std::vector<std::string>& segments) {
    const UrlStyle& style = original.style;
    static constexpr char upper[] = "0123456789ABCDEF";
    static constexpr char lower[] = "0123456789abcdef";
    const char* digits = style.lowercaseHex ? lower : upper;

    auto encodeSegment = [&](const std::string& segment) {
        std::string out;
        for (const char c : segment) {
            const auto b = static_cast<unsigned char>(c);
            const bool encode = style.percentEncoded[b] || (b >= 0x80 && style.nonAsciiEncoded) ||
                                (!style.rawSeen[b] && unsafeInUrl(b)) || b == '%';
            if (encode) {
                out += '%';
                out += digits[b >> 4];
                out += digits[b & 15];
            } else {
                out += c;
            }
        }
        return out;
    };
    // The file's own spelling of each character its language decodes.
    auto spell = [&](std::string_view urlText) {
        std::string out;
        for (std::size_t i = 0; i < urlText.size();) {
            const std::size_t n = std::min(sequenceLength(static_cast<unsigned char>(urlText[i])),
                                           urlText.size() - i);
            const std::string character(urlText.substr(i, n));
            if (const auto found = style.spellings.find(character); found != style.spellings.end())
                out += found->second;
            else if (character == "&" && style.markup && !style.rawSeen['&'])
                out += "&amp;";
            else
                out += character;
            i += n;
        }
        return out;
    };

    if (segments.empty())
        return {};
    std::string prefix;
    if (style.dotSlashPrefix && segments.front() != "..")
        prefix = "./";
    for (std::size_t i = 0; i + 1 < segments.size(); ++i)
        prefix += encodeSegment(segments[i]) + "/";
    const bool sameName = !original.segments.empty() && original.segments.back() == segments.back();
    return spell(prefix) +
           (sameName ? original.lastSegmentSpelling : spell(encodeSegment(segments.back())));
}

} // namespace tolvane
