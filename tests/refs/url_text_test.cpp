#include "refs/url_find.hpp"
#include "refs/url_text.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tolvane {
namespace {

// Parses the whole of written as one URL, as it would stand in a file of that kind.
ParsedUrl parse(const std::string& written, bool markup) {
    static TextView view; // parseUrl keeps no reference to the view
    view = decodeText(written, markup);
    return parseUrl(view, 0, view.text.size(), written, markup);
}

// What each kind of file decodes: character references in markup, "\/" and escapes in
// scripts, CSS escapes in stylesheets and inside url( ) of markup; each byte maps back.
TEST(TextView, DecodesWhatEachLanguageDecodes) {
    struct Case {
        std::string raw;
        bool markup, stylesheet;
        std::string text;
    };
    const std::string bad = "\xEF\xBF\xBD";
    const Case cases[] = {
        {"a&amp;b\\/c&#x20;", true, false, "a&b/c "},
        {"a&amp;b\\/c&#x20;", false, false, "a&amp;b/c&#x20;"},
        {"x\\\\/y \\\"q\\'", false, false, "x\\\\/y \"q'"},
        {"url(a/lo\\go.png)", false, true, "url(a/logo.png)"},
        {"url(a/\\6c ogo.png)", false, true, "url(a/logo.png)"},
        {"url(a/\\00006Cogo.png)", false, true, "url(a/logo.png)"},
        {"url(a/\\6C\r\nogo.png)", false, true, "url(a/logo.png)"},
        {"url(\"a\\/\\x6cogo.png\")", false, true, "url(\"a/x6cogo.png\")"},
        {"<p style=\"b: URL(a/\\6c ogo.png)\">", true, false, "<p style=\"b: URL(a/logo.png)\">"},
        {"<p>\\6c ogo \\/</p>", true, false, "<p>\\6c ogo /</p>"},
        {"<p>rl(a/\\6c ogo.png)</p>", true, false, "<p>rl(a/\\6c ogo.png)</p>"},
        {"<p style=\"b: url(a) \\6c ogo\">", true, false, "<p style=\"b: url(a) \\6c ogo\">"},
        {"a\\6c b", true, false, "a\\6c b"},
        {"<p>ul(a/\\6c ogo.png)</p>", true, false, "<p>ul(a/\\6c ogo.png)</p>"},
        {"s = \"url(a/\\6c ogo.png)\"", false, false, "s = \"url(a/\\6c ogo.png)\""},
        {"\\x41\\u00e9", false, false, "A\xC3\xA9"},
        {"\\uD7FF\\uE000", false, false, "\xED\x9F\xBF\xEE\x80\x80"},
        {"\\u0000", false, false, "\\u0000"},
        {"\\uD800\\uDFFF", false, false, "\\uD800\\uDFFF"},
        {"\\x4", false, false, "\\x4"},
        {"\\u12", false, false, "\\u12"},
        {"url(\\41\nB)", false, true, "url(AB)"},
        {"url(\\41\tB)", false, true, "url(AB)"},
        {"url(\\41  B)", false, true, "url(A B)"},
        {"url(\\10FFFF)", false, true, "url(\xF4\x8F\xBF\xBF)"},
        {"url(\\110000)", false, true, "url(" + bad + ")"},
        {"url(\\0 a)", false, true, "url(" + bad + "a)"},
        {"url(\\D800 a)", false, true, "url(" + bad + "a)"},
        {"url(\\DFFF a\\E000 )", false, true, "url(" + bad + "a\xEE\x80\x80)"},
        {"url(\\\xC3\xA9)", false, true, "url(\xC3\xA9)"},
        {"url(a\\\nb)", false, true, "url(a\\\nb)"},
        {"url(a\\\rb)", false, true, "url(a\\\rb)"},
    };
    for (const Case& c : cases) {
        const TextView view = decodeText(c.raw, c.markup, c.stylesheet);
        EXPECT_EQ(view.text, c.text) << c.raw;
        EXPECT_EQ(view.origin.size(), view.text.size() + 1) << c.raw;
        EXPECT_EQ(view.origin.back(), c.raw.size()) << c.raw;
    }
    const TextView markup = decodeText("a&amp;b\\/c&#x20;", true);
    EXPECT_EQ(markup.origin, (decltype(markup.origin){0, 1, 6, 7, 9, 10, 16}));
}

// An image URL ends where its extension ends the name, in any case or percent-encoded.
TEST(ImageUrls, EndWhereAnExtensionEndsTheName) {
    const std::string text = "<img src=\"a/b.PNG\"> c.gif,logo%2Epng logo.%50NG logo.p%6Eg a.pngx "
                             "a.png.bak a.png~ a.png/b logo.%41ng logo.%5Zng logo.%Z0ng";
    std::string found;
    for (const UrlSpan& span : findImageUrls(text))
        found += text.substr(span.begin, span.end - span.begin) + " ";
    EXPECT_EQ(found, "a/b.PNG c.gif logo%2Epng logo.%50NG logo.p%6Eg ");
}

TEST(ParsedUrls, KindsAndSegments) {
    using K = ParsedUrl::Kind;
    struct Case {
        std::string written;
        K kind;
        std::vector<std::string> segments;
    };
    const Case cases[] = {
        {"../A%20B_files/./x%2Ey.png", K::relative, {"..", "A B_files", ".", "x.y.png"}},
        {"http://example.com/site/a.png", K::absolute, {"site", "a.png"}},
        {"//example.com/a.png", K::absolute, {"a.png"}},
        {"file:///Users/me/a.png", K::absolute, {"Users", "me", "a.png"}},
        {"s0+x.y-z:a.png", K::absolute, {"a.png"}},
        {"c_d:a.png", K::relative, {"c_d:a.png"}},
        {"/A_files/a.png", K::rootRelative, {"A_files", "a.png"}},
        {"A_files/a%zz.png", K::malformed, {}},
        {"A_files/a%2Fb.png", K::malformed, {}},
        {"A_files\\a.png", K::malformed, {}},
        {"A_files/12:30.png", K::relative, {"A_files", "12:30.png"}},
        {"//host", K::absolute, {""}},
        {"http://host", K::absolute, {""}},
        {"http:a/b.png", K::absolute, {"a", "b.png"}},
        {"data:x.png", K::absolute, {"x.png"}},
        {"1a:b.png", K::relative, {"1a:b.png"}},
        {"a//b.png", K::relative, {"a", "", "b.png"}},
        {"/", K::rootRelative, {""}},
        {"a/", K::relative, {"a", ""}},
    };
    for (const Case& c : cases) {
        const ParsedUrl url = parse(c.written, false);
        EXPECT_EQ(url.kind, c.kind) << c.written;
        if (c.kind != K::malformed) {
            EXPECT_EQ(url.segments, c.segments) << c.written;
        }
    }
    EXPECT_EQ(parse("../A%20B_files/./x%2Ey.png", false).lastSegmentSpelling, "x%2Ey.png");
}

// A new path is written the way the old one wrote each of its characters.
TEST(Respelling, KeepsTheOldSpelling) {
    struct Case {
        std::string written;
        bool markup, stylesheet;
        std::vector<std::string> segments;
        std::string result;
    };
    // clang-format off
    const Case cases[] = {
        {"A_files/Crayon_BK_v4%20%2801%29.png", false, false, {"..", "images", "Crayon_BK_v4 (01).png"},
         "../images/Crayon_BK_v4%20%2801%29.png"},
        {"A_files/Crayon_BK_v4%20%2801%29.png", false, false, {"images", "Crayon_BK_v4 (01)-0a1b2c3d.png"},
         "images/Crayon_BK_v4%20%2801%29-0a1b2c3d.png"},
        {"26_GitHub%e2%80%99s_files/a.png", false, false, {"\xC3\x9C" "ber", "a.png"}, "%c3%9cber/a.png"},
        {"A_files/My Pic.png", false, false, {"my pics", "My Pic-1.png"}, "my pics/My Pic-1.png"},
        {"A_files/a.png", false, false, {"my pics", "images", "a.png"}, "my%20pics/images/a.png"},
        {"Q&amp;A_files/Tom&#32;&amp;&#32;Jerry.gif", true, false, {"images", "Tom & Jerry-0123abcd.gif"},
         "images/Tom&#32;&amp;&#32;Jerry-0123abcd.gif"},
        {"Q&amp;A_files/x.gif", true, false, {"R&D", "x.gif"}, "R&amp;D/x.gif"},
        {"x_files/x.gif", true, false, {"R&D", "x.gif"}, "R&amp;D/x.gif"},
        {"Q&A_files/x.gif", true, false, {"R&D", "x.gif"}, "R&D/x.gif"},
        {"x_files/x.gif", false, false, {"R&D", "x.gif"}, "R&D/x.gif"},
        {"A_files\\/a.png", false, false, {"..", "..", "images", "a.png"}, "..\\/..\\/images\\/a.png"},
        {"./A_files/a.png", false, false, {"images", "a.png"}, "./images/a.png"},
        {"./A_files/a.png", false, false, {"..", "images", "a.png"}, "../images/a.png"},
        {"A_files/Caf%C3%A9 &#x20;%20x.png", true, false, {"images", "Caf\xC3\xA9   x.png"},
         "images/Caf%C3%A9 &#x20;%20x.png"},
        {"C_files/lo\\go.png", false, true, {"..", "images", "logo.png"}, "../images/lo\\go.png"},
        {"C_files/lo\\go.png", false, true, {"images", "logo-0a1b2c3d.png"}, "images/logo-0a1b2c3d.png"},
        {"C_files\\2f a.png", false, true, {"b", "a.png"}, "b\\2f a.png"},
        {"C_files\\2fx.png", false, true, {"b", "x.png"}, "b\\2f x.png"},
        {"C_files\\2fx.png", false, true, {"b", "a.png"}, "b\\2f a.png"},
        {"C_files\\02fx.png", false, true, {"b", "a.png"}, "b\\02f a.png"},
    };
    // clang-format on
    for (const Case& c : cases) {
        const TextView view = decodeText(c.written, c.markup, c.stylesheet);
        const ParsedUrl url = parseUrl(view, 0, view.text.size(), c.written, c.markup);
        EXPECT_EQ(respellUrl(url, c.segments), c.result) << c.written;
    }
}

} // namespace
} // namespace tolvane
