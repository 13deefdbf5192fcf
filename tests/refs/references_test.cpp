// How the text files of a site refer to its images: every form a reference takes, rewritten to
// lead to the kept file in its own spelling; what keeps a copy.
#include "cli/event_text.hpp"
#include "refs/references.hpp"
#include "support/temp_dir.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace tolvane {
namespace {

namespace fs = std::filesystem;
using test::readFile;
using test::writeFile;
using Files = std::vector<std::pair<std::string, std::string>>;
using Lines = std::vector<std::string>;

struct Form {
    std::string name;
    Files site;             // text files and images
    Lines copies;           // one group, or each its own when kept is empty
    std::string kept;       // where the group's references lead after; empty: images/<name>
    std::size_t references; // to the copies
    Files after;            // texts after the rewrite
};

const std::string cafe = "26_GitHub\u2019s_Page_files/Caf\u00e9.png";
// clang-format off
const std::vector<Form> forms = {
    {"EncodedNamesKeepTheirForm",
     {{"A_files/Crayon_BK_v4 (01).png", "c"}, {"A_files/Edgar Crest.jpg", "e"}, {"A_files/Edgar's.png", "s"},
      {"A_files/Tom & Jerry.gif", "t"}, {cafe, "cafe"},
      {"index.html", "<img src=\"A_files/Crayon_BK_v4%20%2801%29.png\">\n"
                     "<img alt=\"x\" src=\"A_files/Edgar&#32;Crest.jpg\" width=3>\n"
                     "<img src='A_files/Edgar%27s.png'><img src=\"A_files/Edgar's.png\">\n"
                     "<img src=\"A_files/Tom%20&amp;%20Jerry.gif\"><img src=\"A_files/Tom &#x26; Jerry.gif\">\n"
                     "<img src=\"26_GitHub%E2%80%99s_Page_files/Caf%c3%a9.png\">\n"
                     "<img src=\"" + cafe + "\"><img src=\"26_GitHub&rsquo;s_Page_files/Caf&eacute;.png\">\n"}},
     {"A_files/Crayon_BK_v4 (01).png", "A_files/Edgar Crest.jpg", "A_files/Edgar's.png", "A_files/Tom & Jerry.gif",
      cafe}, "", 9,
     {{"index.html", "<img src=\"images/Crayon_BK_v4%20%2801%29.png\">\n"
                     "<img alt=\"x\" src=\"images/Edgar&#32;Crest.jpg\" width=3>\n"
                     "<img src='images/Edgar%27s.png'><img src=\"images/Edgar's.png\">\n"
                     "<img src=\"images/Tom%20&amp;%20Jerry.gif\"><img src=\"images/Tom &#x26; Jerry.gif\">\n"
                     "<img src=\"images/Caf%c3%a9.png\">\n"
                     "<img src=\"images/Caf\u00e9.png\"><img src=\"images/Caf&eacute;.png\">\n"}}},
    // The new folder name takes each reference's style.
    {"OneFolderSpelledThreeWays",
     {{"Q&A_files/x.png", "x"}, {"R&D_files/x.png", "x"},
      {"index.html", "<a href=\"Q&A_files/x.png\"><img src=\"Q&amp;A_files/x.png\"></a><img src=\"Q%26A_files/x.png\">"},
      {"Q&A_files/Q&A.js", "show(\"Q&A_files\\/x.png\", 'Q%26A_files/x.png');"}},
     {"Q&A_files/x.png", "R&D_files/x.png"}, "R&D_files/x.png", 5,
     {{"index.html", "<a href=\"R&D_files/x.png\"><img src=\"R&amp;D_files/x.png\"></a><img src=\"R%26D_files/x.png\">"},
      {"Q&A_files/Q&A.js", "show(\"R&D_files\\/x.png\", 'R%26D_files/x.png');"}}},
    {"ScriptsInlineScriptsSrcsetAndStylesheets",
     {{"A_files/a.png", "a"}, {"B_files/a.png", "a"},
      {"A.html", "<script>var img = \"A_files\\/a.png\"; var n = 'A_files/a.png';</script>\n"
                 "<img src=\"A_files/a.png\" srcset=\"A_files/a.png 1x, A_files/a.png?v=2 2x\">"},
      {"A_files/A.js", "x.src = \"A_files/a.png\"; y = \"A_files\\/a.png\"; z = \"A_files\\u002Fa.png\";"},
      {"A_files/A.css", "div { background: url(a.png) }\np { background: url(\"a.png\") }\n"
                        "q { background:url( 'a.png' ) }"},
      {"B.html", "<img src=\"B_files/a.png\"><img src=\"./A_files/a.png#top\">"}},
     {"A_files/a.png", "B_files/a.png"}, "images/a.png", 13,
     {{"A.html", "<script>var img = \"images\\/a.png\"; var n = 'images/a.png';</script>\n"
                 "<img src=\"images/a.png\" srcset=\"images/a.png 1x, images/a.png?v=2 2x\">"},
      {"A_files/A.js", "x.src = \"images/a.png\"; y = \"images\\/a.png\"; z = \"images\\u002Fa.png\";"},
      {"A_files/A.css", "div { background: url(../images/a.png) }\np { background: url(\"../images/a.png\") }\n"
                        "q { background:url( '../images/a.png' ) }"},
      {"B.html", "<img src=\"images/a.png\"><img src=\"./images/a.png#top\">"}}},
    {"PageFolderLoadedByAPageOfAnotherName",
     {{"Welcome_files/w.png", "w"}, {"about/Welcome_files/w.png", "w"},
      {"index.html", "<script src=\"Welcome_files/Welcome.js\"></script>"},
      {"Welcome_files/Welcome.js", "img.src = 'Welcome_files\\/w.png';"},
      {"about/index.html", "<script src=\"Welcome_files/Welcome.js\"></script>"},
      {"about/Welcome_files/Welcome.js", "img.src = 'Welcome_files\\/w.png';"}},
     {"Welcome_files/w.png", "about/Welcome_files/w.png"}, "images/w.png", 2,
     {{"Welcome_files/Welcome.js", "img.src = 'images\\/w.png';"},
      {"about/Welcome_files/Welcome.js", "img.src = '..\\/images\\/w.png';"}}},
    {"NestedPagesOtherPagesFoldersAndFeeds",
     {{"Top_files/x.png", "x"}, {"a/b/c/P_files/x.png", "x"}, {"Blog/Entries/E_files/x.png", "x"},
      {"Top.html", "<img src=\"Top_files/x.png\">"},
      {"a/b/c/P.html", "<img src=\"P_files/x.png\"><img src=\"../../../Top_files/x.png\">"},
      {"a/b/c/P_files/P.js", "s = \"P_files\\/x.png\";"},
      {"Blog/Entries/E.xml", "<entry><img src=\"E_files/x.png\"/></entry>"},
      {"Blog/Entries/E.html", "<img src=\"E_files/x.png\">"},
      {"Blog/feed.xml", "<description>&lt;img src=&quot;Entries/E_files/x.png&quot;&gt;</description>\n"
                        "<content><![CDATA[<img src=\"Entries/E_files/x.png\">]]></content>\n"
                        "<enclosure url=\"Entries/E_files/x.png\"/>"}},
     {"Top_files/x.png", "a/b/c/P_files/x.png", "Blog/Entries/E_files/x.png"}, "images/x.png", 9,
     {{"a/b/c/P.html", "<img src=\"../../../images/x.png\"><img src=\"../../../images/x.png\">"},
      {"a/b/c/P_files/P.js", "s = \"..\\/..\\/..\\/images\\/x.png\";"},
      {"Blog/Entries/E.xml", "<entry><img src=\"../../images/x.png\"/></entry>"},
      {"Blog/feed.xml", "<description>&lt;img src=&quot;../images/x.png&quot;&gt;</description>\n"
                        "<content><![CDATA[<img src=\"../images/x.png\">]]></content>\n"
                        "<enclosure url=\"../images/x.png\"/>"}}},
    {"BaseHrefIsHonoured",
     {{"sub/A_files/a.png", "a"},
      {"index.html", "<head><BASE target=_top HREF=\"sub/\"></head><img src=\"A_files/a.png\">"}},
     {"sub/A_files/a.png"}, "images/a.png", 1,
     {{"index.html", "<head><BASE target=_top HREF=\"sub/\"></head><img src=\"../images/a.png\">"}}},
    {"EveryOtherByteStaysAndTwoGroupsShareAFile",
     {{"A_files/a.png", "a"}, {"A_files/b.png", "b"},
      {"A.html", "\xEF\xBB\xBF<p>\xC3\xA9t\xC3\xA9</p>\r\n<img src=\"A_files/a.png?v=2#x\">"
                 "<img src=\"A_files/b.png\"> A_files/a.png\t<img src='A_files/a.png'>\r\n"}},
     {"A_files/a.png", "A_files/b.png"}, "", 4,
     {{"A.html", "\xEF\xBB\xBF<p>\xC3\xA9t\xC3\xA9</p>\r\n<img src=\"images/a.png?v=2#x\">"
                 "<img src=\"images/b.png\"> images/a.png\t<img src='images/a.png'>\r\n"}}},
};
// clang-format on

class ReferenceForms : public ::testing::TestWithParam<Form> {};

// Every reference is found and rewritten in its form, with the file's permission bits; after,
// the references lead to the kept files and none to the copies.
TEST_P(ReferenceForms, AreFoundRewrittenAndLeadToTheKeptFile) {
    const Form& f = GetParam();
    test::TempDir dir;
    const fs::path root = dir.path();
    for (const auto& [path, text] : f.site) {
        writeFile(root / path, text);
        ::chmod((root / path).c_str(), 0640);
    }
    std::vector<fs::path> copies, kept, gone;
    for (const auto& copy : f.copies) {
        copies.push_back(root / copy);
        kept.push_back(f.kept.empty() ? root / "images" / fs::path(copy).filename()
                                      : root / f.kept);
        if (kept.back() != copies.back())
            gone.push_back(copies.back());
    }
    ReferenceIndex index = ReferenceIndex::build(root, copies);
    std::size_t found = 0;
    for (const auto& copy : copies)
        found += index.referencesTo(copy).size();
    EXPECT_EQ(found, f.references);
    EXPECT_TRUE(index.unresolved().empty());
    // Each group in turn: every file that refers to it rewritten, as read again.
    for (std::size_t i = 0; i < (f.kept.empty() ? copies.size() : 1); ++i) {
        const std::vector<fs::path> group = f.kept.empty() ? std::vector{copies[i]} : copies;
        const ReferenceIndex now = ReferenceIndex::build(root, group);
        std::map<fs::path, std::vector<const Reference*>> byFile;
        for (const auto& copy : group)
            for (const Reference* ref : now.referencesTo(copy))
                byFile[ref->file].push_back(ref);
        for (const auto& [file, refs] : byFile) {
            KeepReason why;
            const auto text = rewrittenText(readFile(file), refs, kept[i], &why);
            ASSERT_TRUE(text) << file << ": " << cli::keepReasonText(why);
            ASSERT_FALSE(DiskTextFileAccess().write(file, asBytes(*text)));
        }
    }
    for (const auto& [path, text] : f.after)
        EXPECT_EQ(readFile(root / path), text) << path;
    for (const auto& [path, text] : f.site) {
        struct stat info {};
        EXPECT_TRUE(::stat((root / path).c_str(), &info) == 0 && (info.st_mode & 07777) == 0640);
    }
    EXPECT_EQ(ReferenceIndex::build(root, kept).references().size(), f.references);
    EXPECT_TRUE(ReferenceIndex::build(root, gone).references().empty());
}

INSTANTIATE_TEST_SUITE_P(Sites, ReferenceForms, ::testing::ValuesIn(forms),
                         [](const auto& info) { return info.param.name; });

// Reads nothing from one file, and says one file is read-only.
class ChosenAccess : public DiskTextFileAccess {
  public:
    fs::path unreadable, readOnly;
    std::optional<Bytes> read(const fs::path& path, std::error_code& error) override {
        if (path == unreadable) {
            error = std::make_error_code(std::errc::permission_denied);
            return std::nullopt;
        }
        return DiskTextFileAccess::read(path, error);
    }
    std::optional<NotWritable> whyNotWritable(const fs::path& path) override {
        return path == readOnly ? std::optional(NotWritable{}) : std::nullopt;
    }
};

// Each copy with the file that keeps it and a word of the reason; a copy no file keeps has none.
TEST(Guard, ReferencesThatCannotBeRewrittenKeepTheirCopy) {
    test::TempDir dir;
    const fs::path root = dir.path();
    const Files site{
        {"A.html", "<img src=\"/A_files/a.png\">"},
        {"B.html", "<img src=\"http://example.com/B_files/a.png\">"},
        {"js/site.js", "preload('C_files/a.png');"},
        {"D.html", "<img src=\"D_files/a.png\">\xff\xfe"},
        {"E.html", "<img src=\"E_files/a.png\">"},
        {"G.html", "<base href=\"http://example.com/site/\"><img src=\"G_files/a.png\">"},
        {"H.html", "<script src=\"js/two.js\"></script>"},
        {"sub/H.html", "<script src=\"../js/two.js\"></script>"},
        {"js/two.js", "preload(\"H_files/a.png\");"},
        {"K.html", "<img src=\"K_files/a.png\">\xff"},
        {"L.html", "<img src=\"L_files/a.png\">"},
    };
    for (const auto& [path, text] : site)
        writeFile(root / path, text);
    std::vector<fs::path> copies;
    for (const char* folder : {"A", "B", "C", "D", "E", "G", "H", "L"}) {
        copies.push_back(root / (std::string(folder) + "_files/a.png"));
        writeFile(copies.back(), "a");
    }
    ReferenceIndex index = ReferenceIndex::build(root, copies);
    ChosenAccess access;
    access.readOnly = root / "E.html";
    const std::vector<std::pair<std::string, std::string>> expected{
        {"A.html", "server's root"},
        {"B.html", "absolute"},
        {"js/site.js", "base is not known"},
        {"D.html", "UTF-8"},
        {"E.html", "read-only"},
        {"G.html", "base href"},
        {"js/two.js", "different folders"},
        {"", ""}};
    for (std::size_t i = 0; i < copies.size(); ++i) {
        const auto reasons = index.reasonsToKeep(copies[i], access);
        const auto& [file, word] = expected[i];
        EXPECT_EQ(reasons.size(), file.empty() ? 0u : 1u) << copies[i];
        for (const KeepReason& reason : reasons) {
            EXPECT_EQ(reason.file, root / file);
            const std::string text = cli::keepReasonText(reason);
            EXPECT_NE(text.find(word), std::string::npos) << text;
        }
    }
    // A name built into a URL by a script could be any copy of that name; an unreadable text
    // file could refer to any image.
    for (const auto& [path, text] :
         Files{{"F.html", "<script>w('<img src=\"' + d + 'a.png\">')</script>"},
               {"secret.html", "?"}}) {
        writeFile(root / path, text);
        access.unreadable = root / "secret.html";
        ReferenceIndex again = ReferenceIndex::build(root, copies, &access);
        for (const auto& copy : copies) {
            const auto reasons = again.reasonsToKeep(copy, access);
            EXPECT_TRUE(std::any_of(reasons.begin(), reasons.end(),
                                    [&](const KeepReason& r) { return r.file == root / path; }))
                << path << " " << copy;
        }
    }
}

TEST(ReferenceIndex, ProgressCountsTheTextFilesAndCancelStopsTheBuild) {
    test::TempDir dir;
    const fs::path logo = dir / "A_files/logo.png";
    writeFile(logo, "LOGO");
    for (const char* page : {"A.html", "B.html", "C.html", "D.html"})
        writeFile(dir / page, "<img src=\"A_files/logo.png\">");
    Progress progress;
    const auto whole = ReferenceIndex::build(dir.path(), {logo}, nullptr, &progress);
    EXPECT_FALSE(whole.cancelled());
    EXPECT_EQ(std::tuple(progress.phase(), progress.total(), progress.done()),
              std::tuple(Phase::indexing, std::uint64_t{4}, std::uint64_t{4}));
    EXPECT_EQ(whole.references().size(), 4u);
    // Cancelled before the walk, or (on a scan's listing: no walk) before the first read.
    const SiteListing listing = listSite(dir.path());
    for (const SiteListing* given : {static_cast<const SiteListing*>(nullptr), &listing}) {
        Progress before;
        before.cancel();
        const auto none = ReferenceIndex::build(dir.path(), {logo}, nullptr, &before, given);
        EXPECT_TRUE(none.cancelled());
        EXPECT_EQ(none.textFilesRead(), 0u);
    }
}

TEST(SiteCheck, BrokenReferencesAndImagesNothingRefersTo) {
    test::TempDir dir;
    for (const char* image : {"a.png", "unused.gif", "only_by_script.jpg", "remote.png"})
        writeFile(dir / "A_files" / image, image);
    writeFile(dir / "index.html", "<img src=\"A_files/a.png\">\n<img src=\"A_files/gone.png\">\n"
                                  "<img src=\"http://example.com/A_files/remote.png\">");
    writeFile(dir / "A_files/A.js",
              "x = 'A_files\\/only_by_script.jpg'; y = 'A_files/missing%20one.JPG';");
    const SiteCheck check = checkSite(dir.path());
    EXPECT_EQ(std::tuple(check.textFiles, check.imageFiles, check.references),
              std::tuple(std::size_t{2}, std::size_t{4}, std::size_t{2}));
    Lines broken;
    for (const auto& ref : check.broken)
        broken.push_back(ref.file.filename().string() + ":" + std::to_string(ref.line) + ":" +
                         ref.text);
    std::sort(broken.begin(), broken.end());
    EXPECT_EQ(broken, (Lines{"A.js:1:A_files/missing%20one.JPG", "index.html:2:A_files/gone.png"}));
    EXPECT_EQ(check.unreferenced, (std::vector<fs::path>{dir / "A_files/unused.gif"}));
    ASSERT_EQ(check.unresolved.size(), 1u);
    EXPECT_EQ(check.unresolved[0].line, 3u);
}

} // namespace
} // namespace tolvane
