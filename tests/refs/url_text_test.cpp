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

std::string respell(const std::string& written, bool markup, std::vector<std::string> segments) {
    return respellUrl(parse(written, markup), segments);
}

TEST(TextView, DecodesWhatEachLanguageDecodesAndMapsBytesBack) {
    const std::string raw = "a&amp;b\\/c&#x20;";
    const TextView markup = decodeText(raw, true);
    EXPECT_EQ(markup.text, "a&b/c ");
    ASSERT_EQ(markup.origin.size(), markup.text.size() + 1);
    EXPECT_EQ(markup.origin[1], 1u); // "&" came from "&amp;"
    EXPECT_EQ(markup.origin[2], 6u);
    EXPECT_EQ(markup.origin[3], 7u); // "/" came from "\/"
    EXPECT_EQ(markup.origin[5], 10u);
    EXPECT_EQ(markup.origin.back(), raw.size());

    // Scripts and stylesheets have no character references; an escaped backslash stays one
    // and does not escape the slash after it.
    EXPECT_EQ(decodeText(raw, false).text, "a&amp;b/c&#x20;");
    EXPECT_EQ(decodeText("x\\\\/y \\\"q\\'", false).text, "x\\\\/y \"q'");
}

TEST(ParsedUrls, KindsAndSegments) {
    const ParsedUrl relative = parse("../A%20B_files/./x%2Ey.png", false);
    EXPECT_EQ(relative.kind, ParsedUrl::Kind::relative);
    EXPECT_EQ(relative.segments, (std::vector<std::string>{"..", "A B_files", ".", "x.y.png"}));
    EXPECT_EQ(relative.lastSegmentSpelling, "x%2Ey.png");

    EXPECT_EQ(parse("http://example.com/site/a.png", false).kind, ParsedUrl::Kind::absolute);
    EXPECT_EQ(parse("http://example.com/site/a.png", false).segments,
              (std::vector<std::string>{"site", "a.png"}));
    EXPECT_EQ(parse("//example.com/a.png", false).kind, ParsedUrl::Kind::absolute);
    EXPECT_EQ(parse("file:///Users/me/a.png", false).kind, ParsedUrl::Kind::absolute);
    EXPECT_EQ(parse("/A_files/a.png", false).kind, ParsedUrl::Kind::rootRelative);
    EXPECT_EQ(parse("A_files/a%zz.png", false).kind, ParsedUrl::Kind::malformed);
    EXPECT_EQ(parse("A_files/a%2Fb.png", false).kind, ParsedUrl::Kind::malformed);
    EXPECT_EQ(parse("A_files\\a.png", false).kind, ParsedUrl::Kind::malformed);
    // A colon after the first slash is part of a name, not a scheme.
    EXPECT_EQ(parse("A_files/12:30.png", false).kind, ParsedUrl::Kind::relative);
}

TEST(Respelling, PercentEncodedStaysPercentEncoded) {
    EXPECT_EQ(respell("A_files/Crayon_BK_v4%20%2801%29.png", false,
                      {"..", "images", "Crayon_BK_v4 (01).png"}),
              "../images/Crayon_BK_v4%20%2801%29.png");
    // A new name is written the way the old one wrote each of its characters.
    EXPECT_EQ(respell("A_files/Crayon_BK_v4%20%2801%29.png", false,
                      {"images", "Crayon_BK_v4 (01)-0a1b2c3d.png"}),
              "images/Crayon_BK_v4%20%2801%29-0a1b2c3d.png");
    // Lowercase hex stays lowercase, also for a folder the old URL did not name.
    EXPECT_EQ(respell("26_GitHub%e2%80%99s_files/a.png", false,
                      {"\xC3\x9C"
                       "ber",
                       "a.png"}),
              "%c3%9cber/a.png");
    // A character the old URL wrote as itself stays itself; one it never had is made safe.
    EXPECT_EQ(respell("A_files/My Pic.png", false, {"my pics", "My Pic-1.png"}),
              "my pics/My Pic-1.png");
    EXPECT_EQ(respell("A_files/a.png", false, {"my pics", "images", "a.png"}),
              "my%20pics/images/a.png");
}

TEST(Respelling, CharacterReferencesEscapedSlashesAndDotSlashStay) {
    EXPECT_EQ(respell("Q&amp;A_files/Tom&#32;&amp;&#32;Jerry.gif", true,
                      {"images", "Tom & Jerry-0123abcd.gif"}),
              "images/Tom&#32;&amp;&#32;Jerry-0123abcd.gif");
    EXPECT_EQ(respell("Q&amp;A_files/x.gif", true, {"R&D", "x.gif"}), "R&amp;D/x.gif");
    // A markup file gets &amp; for a new "&" unless the old URL wrote "&" as itself.
    EXPECT_EQ(respell("x_files/x.gif", true, {"R&D", "x.gif"}), "R&amp;D/x.gif");
    EXPECT_EQ(respell("Q&A_files/x.gif", true, {"R&D", "x.gif"}), "R&D/x.gif");
    EXPECT_EQ(respell("x_files/x.gif", false, {"R&D", "x.gif"}), "R&D/x.gif");

    EXPECT_EQ(respell("A_files\\/a.png", false, {"..", "..", "images", "a.png"}),
              "..\\/..\\/images\\/a.png");
    EXPECT_EQ(respell("./A_files/a.png", false, {"images", "a.png"}), "./images/a.png");
    EXPECT_EQ(respell("./A_files/a.png", false, {"..", "images", "a.png"}), "../images/a.png");
    // The last segment keeps its own spelling, whatever mix of forms it had.
    EXPECT_EQ(respell("A_files/Caf%C3%A9 &#x20;%20x.png", true, {"images", "Caf\xC3\xA9   x.png"}),
              "images/Caf%C3%A9 &#x20;%20x.png");
}

TEST(TextView, CssEscapesCountInStylesheetsAndInsideUrlOfMarkup) {
    struct Case {
        std::string raw;
        bool markup, stylesheet;
        std::string text;
    };
    const Case cases[] = {
        {"url(a/lo\\go.png)", false, true, "url(a/logo.png)"},
        {"url(a/\\6c ogo.png)", false, true, "url(a/logo.png)"},
        {"url(a/\\00006Cogo.png)", false, true, "url(a/logo.png)"},
        {"url(a/\\6C\r\nogo.png)", false, true, "url(a/logo.png)"},
        {"url(\"a\\/\\x6cogo.png\")", false, true, "url(\"a/x6cogo.png\")"},
        {"<p style=\"b: URL(a/\\6c ogo.png)\">", true, false, "<p style=\"b: URL(a/logo.png)\">"},
        // Outside url( ) markup and scripts keep their own rules.
        {"<p>\\6c ogo \\/</p>", true, false, "<p>\\6c ogo /</p>"},
        {"s = \"url(a/\\6c ogo.png)\"", false, false, "s = \"url(a/\\6c ogo.png)\""},
    };
    for (const Case& c : cases) {
        const TextView view = decodeText(c.raw, c.markup, c.stylesheet);
        EXPECT_EQ(view.text, c.text) << c.raw;
        EXPECT_EQ(view.origin.back(), c.raw.size()) << c.raw;
    }
}

TEST(TextView, EscapeEdgesInScriptsAndStylesheets) {
    struct Case {
        std::string raw;
        bool stylesheet;
        std::string text;
    };
    const Case cases[] = {
        {"\\x41\\u00e9", false, "A\xC3\xA9"},
        {"\\uD7FF\\uE000", false, "\xED\x9F\xBF\xEE\x80\x80"},
        // No character: a NUL, a surrogate, too few digits.
        {"\\u0000", false, "\\u0000"},
        {"\\uD800\\uDFFF", false, "\\uD800\\uDFFF"},
        {"\\x4", false, "\\x4"},
        {"\\u12", false, "\\u12"},
        {"url(\\41\nB)", true, "url(AB)"},
        {"url(\\41\tB)", true, "url(AB)"},
        {"url(\\41  B)", true, "url(A B)"},
        {"url(\\10FFFF)", true, "url(\xF4\x8F\xBF\xBF)"},
        {"url(\\110000)", true, "url(\xEF\xBF\xBD)"},
        {"url(\\0 a)", true,
         "url(\xEF\xBF\xBD"
         "a)"},
        {"url(\\D800 a)", true,
         "url(\xEF\xBF\xBD"
         "a)"},
        {"url(\\DFFF a\\E000 )", true,
         "url(\xEF\xBF\xBD"
         "a\xEE\x80\x80)"},
        {"url(\\\xC3\xA9)", true, "url(\xC3\xA9)"},
        // A backslash before a line break escapes nothing.
        {"url(a\\\nb)", true, "url(a\\\nb)"},
        {"url(a\\\rb)", true, "url(a\\\rb)"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(decodeText(c.raw, false, c.stylesheet).text, c.text) << c.raw;
}

TEST(ParsedUrls, HostsAndSchemesLeaveOnlyThePath) {
    struct Case {
        std::string written;
        ParsedUrl::Kind kind;
        std::vector<std::string> segments;
    };
    const Case cases[] = {
        {"//host", ParsedUrl::Kind::absolute, {""}},
        {"http://host", ParsedUrl::Kind::absolute, {""}},
        {"http:a/b.png", ParsedUrl::Kind::absolute, {"a", "b.png"}},
        {"data:x.png", ParsedUrl::Kind::absolute, {"x.png"}},
        {"1a:b.png", ParsedUrl::Kind::relative, {"1a:b.png"}},
        {"a//b.png", ParsedUrl::Kind::relative, {"a", "", "b.png"}},
        {"/", ParsedUrl::Kind::rootRelative, {""}},
        {"a/", ParsedUrl::Kind::relative, {"a", ""}},
    };
    for (const Case& c : cases) {
        const ParsedUrl url = parse(c.written, false);
        EXPECT_EQ(url.kind, c.kind) << c.written;
        EXPECT_EQ(url.segments, c.segments) << c.written;
    }
}

TEST(Respelling, CssEscapesMeanTheirCharacters) {
    const auto respellCss = [](const std::string& written, std::vector<std::string> segments) {
        const TextView view = decodeText(written, false, true);
        return respellUrl(parseUrl(view, 0, view.text.size(), written, false), segments);
    };
    // The last segment keeps its escapes; a letter escaped once is written plainly elsewhere.
    EXPECT_EQ(respellCss("C_files/lo\\go.png", {"..", "images", "logo.png"}),
              "../images/lo\\go.png");
    EXPECT_EQ(respellCss("C_files/lo\\go.png", {"images", "logo-0a1b2c3d.png"}),
              "images/logo-0a1b2c3d.png");
    // A hex escape used again ends in a space, so a hex digit after it is not taken in.
    EXPECT_EQ(respellCss("C_files\\2f a.png", {"b", "a.png"}), "b\\2f a.png");
    EXPECT_EQ(respellCss("C_files\\2fx.png", {"b", "x.png"}), "b\\2f x.png");
    EXPECT_EQ(respellCss("C_files\\2fx.png", {"b", "a.png"}), "b\\2f a.png");
    EXPECT_EQ(respellCss("C_files\\02fx.png", {"b", "a.png"}), "b\\02f a.png"); // a 0 digit
}

} // namespace
} // namespace tolvane
