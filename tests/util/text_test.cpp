#include "util/text.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace tolvane {
namespace {

TEST(Utf8, AcceptsValidAndRefusesMalformedText) {
    EXPECT_TRUE(isUtf8(""));
    EXPECT_TRUE(isUtf8("plain <img src=\"a.png\">"));
    EXPECT_TRUE(isUtf8("\xEF\xBB\xBF"
                       "caf\xC3\xA9 \xE2\x80\x99 \xF0\x9F\x98\x80"));
    EXPECT_TRUE(isUtf8(std::string_view("a\0b", 3)));
    EXPECT_FALSE(isUtf8("caf\xE9"));          // Latin-1
    EXPECT_FALSE(isUtf8("\xC0\xAF"));         // overlong
    EXPECT_FALSE(isUtf8("\xE0\x80\xAF"));     // overlong
    EXPECT_FALSE(isUtf8("\xED\xA0\x80"));     // surrogate
    EXPECT_FALSE(isUtf8("\xF4\x90\x80\x80")); // above U+10FFFF
    EXPECT_FALSE(isUtf8("\xE2\x80"));         // cut short
    EXPECT_FALSE(isUtf8("\x80"));
    // The length of each sequence, as the JSON writer steps through names.
    const std::string mixed = "a\xC3\xA9\xE2\x80\x99\xF0\x9F\x98\x80\xFF";
    EXPECT_EQ(utf8SequenceLength(mixed, 0), 1u);
    EXPECT_EQ(utf8SequenceLength(mixed, 1), 2u);
    EXPECT_EQ(utf8SequenceLength(mixed, 3), 3u);
    EXPECT_EQ(utf8SequenceLength(mixed, 6), 4u);
    EXPECT_EQ(utf8SequenceLength(mixed, 10), 0u);
}

TEST(CharacterReferences, NamedDecimalAndHexDecodeToUtf8) {
    struct Case {
        std::string text;
        std::string bytes;
        std::size_t length;
    };
    for (const Case& c : std::vector<Case>{
             {"&amp;rest", "&", 5},
             {"&#32;", " ", 5},
             {"&#x20;", " ", 6},
             {"&#X4a;", "J", 6},
             {"&rsquo;s", "\xE2\x80\x99", 7},
             {"&eacute;", "\xC3\xA9", 8},
             {"&#128512;", "\xF0\x9F\x98\x80", 9},
         }) {
        const auto ref = decodeCharacterReference(c.text);
        ASSERT_TRUE(ref) << c.text;
        EXPECT_EQ(ref->first, c.bytes) << c.text;
        EXPECT_EQ(ref->second, c.length) << c.text;
    }
    for (const char* bad :
         {"&amp", "&nosuchname;", "&#;", "&#0;", "&#xD800;", "&#x110000;", "& amp;", "amp;"})
        EXPECT_FALSE(decodeCharacterReference(bad)) << bad;
}

TEST(HexDigits, EveryBoundaryOfEachRange) {
    for (int c = 0; c < 256; ++c) {
        const char ch = static_cast<char>(c);
        const int expected = c >= '0' && c <= '9'   ? c - '0'
                             : c >= 'a' && c <= 'f' ? c - 'a' + 10
                             : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                    : -1;
        EXPECT_EQ(hexValue(ch), expected) << c;
    }
    EXPECT_EQ(percentDecode("%aA%Ff%09%90"), std::optional<std::string>("\xAA\xFF\t\x90"));
}

TEST(PercentDecoding, EitherHexCaseAndRejectsBrokenEscapes) {
    for (const char* bad : {"%2z", "%z2", "%g0", "x%", "%%41"})
        EXPECT_FALSE(percentDecode(bad)) << bad;
    EXPECT_EQ(lenientPercentDecode("%2z%z2%41%"), "%2z%z2A%");
    EXPECT_EQ(percentDecode("a%20b%2fc%E2%80%99"), std::optional<std::string>("a b/c\xE2\x80\x99"));
    EXPECT_FALSE(percentDecode("50%"));
    EXPECT_FALSE(percentDecode("a%2"));
    EXPECT_FALSE(percentDecode("a%zz.png"));
    // The lenient form keeps what starts no escape.
    EXPECT_EQ(lenientPercentDecode("50% a%2 logo%2Epng %zz"), "50% a%2 logo.png %zz");
}

TEST(WideText, Utf16AndUtf32AreReadAsTheirCharactersAndNotTakenForUtf8) {
    using namespace std::string_literals;
    struct Case {
        std::string bytes;
        std::optional<std::string> text;
    };
    const Case cases[] = {
        {"\xFF\xFE"
         "a\0.\0"s,
         "a."},
        {"\xFE\xFF\0a\0."s, "a."},
        {"\xFF\xFE\0\0a\0\0\0"s, "a"},
        {"\0\0\xFE\xFF\0\0\0a"s, "a"},
        {"\xFF\xFE=\xD8\0\xDE"s, "\xF0\x9F\x98\x80"}, // a surrogate pair
        {"\xFF\xFE\0\xDE"
         "a\0"s,
         "\xEF\xBF\xBD"
         "a"}, // a lone surrogate
        {"\xFF\xFE\0\xD8"
         "a\0\xFF\xDB\0\xDC\xFF\xDF\0\xE0"s,
         "\xEF\xBF\xBD"
         "a\xF4\x8F\xB0\x80\xEF\xBF\xBD\xEE\x80\x80"}, // each end of each range
        {"a\0.\0p\0"s, "a.p"},                         // no mark: by where the NULs stand
        {"\0a\0.\0p"s, "a.p"},
        {"a\0\0b"s, "ab"},
        {"plain <img src=\"a.png\">", std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(wideTextAsUtf8(c.bytes), c.text) << testing::PrintToString(c.bytes);
        EXPECT_FALSE(c.text && isUtf8Text(c.bytes)) << testing::PrintToString(c.bytes);
    }
    EXPECT_TRUE(isUtf8Text("caf\xC3\xA9"));
}

} // namespace
} // namespace tolvane
