#include "optimize/url_text.hpp"

#include <algorithm>
#include <cstring>
#include <unordered_map>

namespace tolvane {

namespace {

// Named references that can stand in a URL or a file name: the ASCII punctuation names,
// the Latin-1 letters and signs, and the typographic marks that exported titles carry.
const std::unordered_map<std::string_view, char32_t>& namedReferences() {
    static const std::unordered_map<std::string_view, char32_t> table = {
        {"amp", U'&'},     {"lt", U'<'},       {"gt", U'>'},      {"quot", U'"'},
        {"apos", U'\''},   {"nbsp", 0xA0},     {"excl", U'!'},    {"num", U'#'},
        {"dollar", U'$'},  {"percnt", U'%'},   {"lpar", U'('},    {"rpar", U')'},
        {"ast", U'*'},     {"plus", U'+'},     {"comma", U','},   {"period", U'.'},
        {"sol", U'/'},     {"colon", U':'},    {"semi", U';'},    {"equals", U'='},
        {"quest", U'?'},   {"commat", U'@'},   {"lsqb", U'['},    {"bsol", U'\\'},
        {"rsqb", U']'},    {"Hat", U'^'},      {"lowbar", U'_'},  {"grave", U'`'},
        {"lcub", U'{'},    {"verbar", U'|'},   {"rcub", U'}'},    {"tilde", 0x2DC},
        {"iexcl", 0xA1},   {"cent", 0xA2},     {"pound", 0xA3},   {"curren", 0xA4},
        {"yen", 0xA5},     {"brvbar", 0xA6},   {"sect", 0xA7},    {"uml", 0xA8},
        {"copy", 0xA9},    {"ordf", 0xAA},     {"laquo", 0xAB},   {"not", 0xAC},
        {"shy", 0xAD},     {"reg", 0xAE},      {"macr", 0xAF},    {"deg", 0xB0},
        {"plusmn", 0xB1},  {"sup2", 0xB2},     {"sup3", 0xB3},    {"acute", 0xB4},
        {"micro", 0xB5},   {"para", 0xB6},     {"middot", 0xB7},  {"cedil", 0xB8},
        {"sup1", 0xB9},    {"ordm", 0xBA},     {"raquo", 0xBB},   {"frac14", 0xBC},
        {"frac12", 0xBD},  {"frac34", 0xBE},   {"iquest", 0xBF},  {"Agrave", 0xC0},
        {"Aacute", 0xC1},  {"Acirc", 0xC2},    {"Atilde", 0xC3},  {"Auml", 0xC4},
        {"Aring", 0xC5},   {"AElig", 0xC6},    {"Ccedil", 0xC7},  {"Egrave", 0xC8},
        {"Eacute", 0xC9},  {"Ecirc", 0xCA},    {"Euml", 0xCB},    {"Igrave", 0xCC},
        {"Iacute", 0xCD},  {"Icirc", 0xCE},    {"Iuml", 0xCF},    {"ETH", 0xD0},
        {"Ntilde", 0xD1},  {"Ograve", 0xD2},   {"Oacute", 0xD3},  {"Ocirc", 0xD4},
        {"Otilde", 0xD5},  {"Ouml", 0xD6},     {"times", 0xD7},   {"Oslash", 0xD8},
        {"Ugrave", 0xD9},  {"Uacute", 0xDA},   {"Ucirc", 0xDB},   {"Uuml", 0xDC},
        {"Yacute", 0xDD},  {"THORN", 0xDE},    {"szlig", 0xDF},   {"agrave", 0xE0},
        {"aacute", 0xE1},  {"acirc", 0xE2},    {"atilde", 0xE3},  {"auml", 0xE4},
        {"aring", 0xE5},   {"aelig", 0xE6},    {"ccedil", 0xE7},  {"egrave", 0xE8},
        {"eacute", 0xE9},  {"ecirc", 0xEA},    {"euml", 0xEB},    {"igrave", 0xEC},
        {"iacute", 0xED},  {"icirc", 0xEE},    {"iuml", 0xEF},    {"eth", 0xF0},
        {"ntilde", 0xF1},  {"ograve", 0xF2},   {"oacute", 0xF3},  {"ocirc", 0xF4},
        {"otilde", 0xF5},  {"ouml", 0xF6},     {"divide", 0xF7},  {"oslash", 0xF8},
        {"ugrave", 0xF9},  {"uacute", 0xFA},   {"ucirc", 0xFB},   {"uuml", 0xFC},
        {"yacute", 0xFD},  {"thorn", 0xFE},    {"yuml", 0xFF},    {"OElig", 0x152},
        {"oelig", 0x153},  {"Scaron", 0x160},  {"scaron", 0x161}, {"Yuml", 0x178},
        {"ndash", 0x2013}, {"mdash", 0x2014},  {"lsquo", 0x2018}, {"rsquo", 0x2019},
        {"sbquo", 0x201A}, {"ldquo", 0x201C},  {"rdquo", 0x201D}, {"bdquo", 0x201E},
        {"bull", 0x2022},  {"hellip", 0x2026}, {"euro", 0x20AC},  {"trade", 0x2122},
    };
    return table;
}

std::string utf8(char32_t c) {
    std::string out;
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
    return out;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool isAsciiAlpha(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

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

} // namespace

std::optional<std::pair<std::string, std::size_t>> decodeCharacterReference(std::string_view text) {
    if (text.size() < 3 || text[0] != '&')
        return std::nullopt;
    constexpr std::size_t longest = 12;
    if (text[1] == '#') {
        std::size_t i = 2;
        const bool hex = i < text.size() && (text[i] == 'x' || text[i] == 'X');
        if (hex)
            ++i;
        const std::size_t digitsStart = i;
        std::uint32_t value = 0;
        while (i < text.size() && i - digitsStart < 8) {
            const int d = hexValue(text[i]);
            if (d < 0 || (!hex && d > 9))
                break;
            value = value * (hex ? 16 : 10) + static_cast<std::uint32_t>(d);
            ++i;
        }
        if (i == digitsStart || i >= text.size() || text[i] != ';')
            return std::nullopt;
        if (value == 0 || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
            return std::nullopt;
        return std::pair{utf8(value), i + 1};
    }
    std::size_t i = 1;
    while (i < text.size() && i <= longest &&
           (isAsciiAlpha(text[i]) || (text[i] >= '0' && text[i] <= '9')))
        ++i;
    if (i == 1 || i >= text.size() || text[i] != ';')
        return std::nullopt;
    const auto& table = namedReferences();
    const auto found = table.find(text.substr(1, i - 1));
    if (found == table.end())
        return std::nullopt;
    return std::pair{utf8(found->second), i + 1};
}

TextView decodeText(std::string_view raw, bool markup) {
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
        } else if (c == '\\' && i + 1 < raw.size()) {
            const char next = raw[i + 1];
            if (next == '/' || next == '"' || next == '\'') {
                put(raw.substr(i + 1, 1), i);
                i += 2;
                continue;
            }
            // Script escapes of one character: \u002F, \x2F.
            const std::size_t digits = next == 'u' ? 4 : next == 'x' ? 2 : 0;
            if (digits && i + 2 + digits <= raw.size()) {
                std::uint32_t value = 0;
                bool hex = true;
                for (std::size_t k = 0; k < digits && hex; ++k) {
                    const int d = hexValue(raw[i + 2 + k]);
                    hex = d >= 0;
                    value = value * 16 + static_cast<std::uint32_t>(d);
                }
                if (hex && value != 0 && (value < 0xD800 || value > 0xDFFF)) {
                    put(utf8(value), i);
                    i += 2 + digits;
                    continue;
                }
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

std::optional<std::string> percentDecode(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (i + 2 >= text.size())
            return std::nullopt;
        const int hi = hexValue(text[i + 1]);
        const int lo = hexValue(text[i + 2]);
        if (hi < 0 || lo < 0)
            return std::nullopt;
        out += static_cast<char>(hi * 16 + lo);
        i += 2;
    }
    return out;
}

ParsedUrl parseUrl(const TextView& view, std::size_t begin, std::size_t end, std::string_view raw,
                   bool markup) {
    ParsedUrl url;
    url.style.markup = markup;
    const std::string_view text = std::string_view(view.text).substr(begin, end - begin);

    // How the file spelled each character that its language decodes.
    for (std::size_t i = begin; i < end;) {
        std::size_t j = i + 1;
        while (j < end && view.origin[j] == view.origin[i])
            ++j;
        const std::string_view written =
            raw.substr(view.origin[i], view.origin[j] - view.origin[i]);
        const std::string_view meant = std::string_view(view.text).substr(i, j - i);
        if (written != meant)
            url.style.spellings.emplace(std::string(meant), std::string(written));
        i = j;
    }

    // How the URL itself encoded its bytes.
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto b = static_cast<unsigned char>(text[i]);
        if (b == '%' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 &&
            hexValue(text[i + 2]) >= 0) {
            const auto decoded =
                static_cast<unsigned char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
            url.style.percentEncoded[decoded] = true;
            if (decoded >= 0x80)
                url.style.nonAsciiEncoded = true;
            for (const char h : text.substr(i + 1, 2)) {
                if (h >= 'a' && h <= 'f')
                    url.style.lowercaseHex = true;
            }
            i += 2;
        } else {
            url.style.rawSeen[b] = true;
        }
    }
    url.style.dotSlashPrefix = text.substr(0, 2) == "./";

    std::string_view path = text;
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
        path = hasScheme ? text.substr(colon + 1) : text;
        if (path.substr(0, 2) == "//") {
            const auto slash = path.find('/', 2);
            path = slash == std::string_view::npos ? std::string_view() : path.substr(slash + 1);
        }
    } else if (text.substr(0, 1) == "/") {
        url.kind = ParsedUrl::Kind::rootRelative;
        path = text.substr(1);
    }

    std::size_t start = 0;
    for (;;) {
        const auto slash = path.find('/', start);
        const std::string_view segment = path.substr(
            start, slash == std::string_view::npos ? std::string_view::npos : slash - start);
        auto decoded = percentDecode(segment);
        if (!decoded) {
            url.kind = ParsedUrl::Kind::malformed;
            url.problem = "a % not followed by two hex digits";
            decoded = std::string(segment);
        } else if (decoded->find('/') != std::string::npos ||
                   decoded->find('\0') != std::string::npos) {
            url.kind = ParsedUrl::Kind::malformed;
            url.problem = "an encoded / or NUL inside a name";
        }
        if (segment.find('\\') != std::string_view::npos &&
            url.kind != ParsedUrl::Kind::malformed) {
            url.kind = ParsedUrl::Kind::malformed;
            url.problem = "a backslash inside the path";
        }
        url.segments.push_back(std::move(*decoded));
        if (slash == std::string_view::npos)
            break;
        start = slash + 1;
    }

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
