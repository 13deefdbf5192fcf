#include "util/text.hpp"

#include <cstdint>
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

} // namespace

namespace {

// Code units of width bytes, in either byte order, from bytes[from] on, as UTF-8.
std::string decodeUnits(std::string_view bytes, std::size_t from, std::size_t width,
                        bool bigEndian) {
    std::string out;
    out.reserve(bytes.size() / width);
    const auto unitAt = [&](std::size_t at) {
        char32_t unit = 0;
        for (std::size_t k = 0; k < width; ++k) {
            const auto b = static_cast<unsigned char>(bytes[at + (bigEndian ? k : width - 1 - k)]);
            unit = (unit << 8) | b;
        }
        return unit;
    };
    constexpr char32_t replacement = 0xFFFD;
    for (std::size_t at = from; at + width <= bytes.size(); at += width) {
        char32_t unit = unitAt(at);
        if (width == 2 && unit >= 0xD800 && unit <= 0xDBFF && at + 2 * width <= bytes.size()) {
            const char32_t low = unitAt(at + width);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
                at += width;
            }
        }
        const bool valid = unit != 0 && unit <= 0x10FFFF && (unit < 0xD800 || unit > 0xDFFF);
        out += utf8(valid ? unit : replacement);
    }
    return out;
}

bool startsWith(std::string_view bytes, std::string_view prefix) {
    return bytes.substr(0, prefix.size()) == prefix;
}

} // namespace

bool isUtf8Text(std::string_view text) {
    return text.find('\0') == std::string_view::npos && isUtf8(text);
}

std::optional<std::string> wideTextAsUtf8(std::string_view bytes) {
    using namespace std::string_view_literals;
    // UTF-32 first: its little-endian mark begins with UTF-16's.
    if (startsWith(bytes, "\xFF\xFE\0\0"sv))
        return decodeUnits(bytes, 4, 4, false);
    if (startsWith(bytes, "\0\0\xFE\xFF"sv))
        return decodeUnits(bytes, 4, 4, true);
    if (startsWith(bytes, "\xFF\xFE"sv))
        return decodeUnits(bytes, 2, 2, false);
    if (startsWith(bytes, "\xFE\xFF"sv))
        return decodeUnits(bytes, 2, 2, true);
    if (bytes.find('\0') == std::string_view::npos)
        return std::nullopt;
    // No mark: ASCII in UTF-16 has its NUL bytes on one side of each pair.
    std::size_t even = 0, odd = 0;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\0')
            ++(i % 2 ? odd : even);
    }
    if (odd > 2 * even)
        return decodeUnits(bytes, 0, 2, false);
    if (even > 2 * odd)
        return decodeUnits(bytes, 0, 2, true);
    std::string out;
    for (const char c : bytes) {
        if (c != '\0')
            out += c;
    }
    return out;
}

std::size_t utf8SequenceLength(std::string_view text, std::size_t at) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(at);
    if (lead < 0x80)
        return 1;
    std::size_t length;
    std::uint32_t code;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        code = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        code = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        code = lead & 0x07;
    } else {
        return 0;
    }
    if (at + length > text.size())
        return 0;
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(at + k) & 0xC0) != 0x80)
            return 0;
        code = (code << 6) | (byte(at + k) & 0x3F);
    }
    if ((length == 3 && code < 0x800) || (length == 4 && (code < 0x10000 || code > 0x10FFFF)) ||
        (code >= 0xD800 && code <= 0xDFFF))
        return 0;
    return length;
}

bool isUtf8(std::string_view text) {
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t length = utf8SequenceLength(text, at);
        if (length == 0)
            return false;
        at += length;
    }
    return true;
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

char lowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool isAsciiAlpha(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool endsWithNoCase(std::string_view text, std::string_view lowerSuffix) {
    if (text.size() < lowerSuffix.size())
        return false;
    const std::string_view tail = text.substr(text.size() - lowerSuffix.size());
    for (std::size_t i = 0; i < lowerSuffix.size(); ++i) {
        if (lowerAscii(tail[i]) != lowerSuffix[i])
            return false;
    }
    return true;
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

std::string lenientPercentDecode(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 &&
            hexValue(text[i + 2]) >= 0) {
            out += static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

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

} // namespace tolvane
