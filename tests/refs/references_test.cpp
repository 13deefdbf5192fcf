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
using test::TempDir;
using test::writeFile;

// A hand-made site in a folder of the test's own.
class Site {
  public:
    fs::path put(const std::string& relative, const std::string& text) {
        writeFile(dir_ / relative, text);
        return path(relative);
    }
    fs::path path(const std::string& relative) const { return dir_ / relative; }
    const fs::path& root() const { return dir_.path(); }
    std::string read(const std::string& relative) const { return readFile(dir_ / relative); }

  private:
    TempDir dir_;
};

std::vector<fs::path> paths(const Site& site, const std::vector<std::string>& relatives) {
    std::vector<fs::path> result;
    for (const auto& r : relatives)
        result.push_back(site.path(r));
    return result;
}

// What a run does to the text for one group: every file that refers to a copy is rewritten
// to lead to the kept copy.
void rewriteGroup(ReferenceIndex& index, const std::vector<fs::path>& copies,
                  const fs::path& kept) {
    DiskTextFileAccess disk;
    for (const auto& file : index.filesReferring(copies)) {
        const auto done = index.rewrite(file, copies, kept, disk);
        EXPECT_GT(done.replaced, 0u) << file;
        EXPECT_TRUE(done.written) << file << ": " << done.why;
    }
}

// After a rewrite, resolving the site's text again leads every former reference to the
// kept copy and none to the copies.
void expectRoundTrip(const Site& site, const std::vector<fs::path>& copies, const fs::path& kept,
                     std::size_t references) {
    EXPECT_EQ(ReferenceIndex::build(site.root(), {kept}).references().size(), references);
    std::vector<fs::path> others;
    for (const auto& copy : copies) {
        if (copy != kept)
            others.push_back(copy);
    }
    EXPECT_TRUE(ReferenceIndex::build(site.root(), others).references().empty());
}

TEST(ReferenceIndex, EncodedNamesInEveryFormAreFoundAndKeepTheirForm) {
    Site site;
    const std::string names[] = {"Crayon_BK_v4 (01).png", "Edgar Crest.jpg", "Edgar's.png",
                                 "Tom & Jerry.gif"};
    for (const auto& name : names) {
        site.put("A_files/" + name, name);
        site.put("B_files/" + name, name);
    }
    site.put("26_GitHub\u2019s_Page_files/Caf\u00e9.png", "cafe");
    site.put("B_files/Caf\u00e9.png", "cafe");
    site.put(
        "index.html",
        "<img src=\"A_files/Crayon_BK_v4%20%2801%29.png\">\n"
        "<img alt=\"x\" src=\"A_files/Edgar&#32;Crest.jpg\" width=3>\n"
        "<img src='A_files/Edgar%27s.png'><img src=\"A_files/Edgar's.png\">\n"
        "<img src=\"A_files/Tom%20&amp;%20Jerry.gif\"><img src=\"A_files/Tom &#x26; Jerry.gif\">\n"
        "<img src=\"26_GitHub%E2%80%99s_Page_files/Caf%c3%a9.png\">\n"
        "<img src=\"26_GitHub\u2019s_Page_files/Caf\u00e9.png\">\n"
        "<img src=\"26_GitHub&rsquo;s_Page_files/Caf&eacute;.png\">\n");

    ReferenceIndex index = ReferenceIndex::build(
        site.root(), paths(site, {"A_files/Crayon_BK_v4 (01).png", "A_files/Edgar Crest.jpg",
                                  "A_files/Edgar's.png", "A_files/Tom & Jerry.gif",
                                  "26_GitHub\u2019s_Page_files/Caf\u00e9.png"}));
    EXPECT_EQ(index.references().size(), 9u);
    EXPECT_TRUE(index.unresolved().empty());
    EXPECT_EQ(index.referencesTo(site.path("A_files/Edgar's.png")).size(), 2u);
    const auto crayon = index.referencesTo(site.path("A_files/Crayon_BK_v4 (01).png"));
    ASSERT_EQ(crayon.size(), 1u);
    EXPECT_EQ(crayon[0]->offset, 10u);
    EXPECT_EQ(crayon[0]->text, "A_files/Crayon_BK_v4%20%2801%29.png");
    EXPECT_EQ(crayon[0]->line, 1u);

    for (const auto& name : names)
        rewriteGroup(index, {site.path("A_files/" + name)}, site.path("images/" + name));
    rewriteGroup(index, {site.path("26_GitHub\u2019s_Page_files/Caf\u00e9.png")},
                 site.path("images/Caf\u00e9.png"));
    EXPECT_EQ(
        site.read("index.html"),
        "<img src=\"images/Crayon_BK_v4%20%2801%29.png\">\n"
        "<img alt=\"x\" src=\"images/Edgar&#32;Crest.jpg\" width=3>\n"
        "<img src='images/Edgar%27s.png'><img src=\"images/Edgar's.png\">\n"
        "<img src=\"images/Tom%20&amp;%20Jerry.gif\"><img src=\"images/Tom &#x26; Jerry.gif\">\n"
        "<img src=\"images/Caf%c3%a9.png\">\n"
        "<img src=\"images/Caf\u00e9.png\">\n"
        "<img src=\"images/Caf&eacute;.png\">\n");
    expectRoundTrip(site, {site.path("A_files/Edgar's.png")}, site.path("images/Edgar's.png"), 2);
    expectRoundTrip(site, {site.path("26_GitHub\u2019s_Page_files/Caf\u00e9.png")},
                    site.path("images/Caf\u00e9.png"), 3);
}

TEST(ReferenceIndex, OneFolderSpelledThreeWaysKeepsEachSpelling) {
    Site site;
    site.put("Q&A_files/x.png", "x");
    site.put("R&D_files/x.png", "x");
    site.put("index.html", "<a href=\"Q&A_files/x.png\"><img src=\"Q&amp;A_files/x.png\"></a>"
                           "<img src=\"Q%26A_files/x.png\">");
    site.put("Q&A_files/Q&A.js", "show(\"Q&A_files\\/x.png\", 'Q%26A_files/x.png');");
    const auto copies = paths(site, {"Q&A_files/x.png", "R&D_files/x.png"});
    ReferenceIndex index = ReferenceIndex::build(site.root(), copies);
    EXPECT_EQ(index.referencesTo(copies[0]).size(), 5u);

    // Keep the copy in the other folder: the new folder name takes each reference's style.
    rewriteGroup(index, copies, copies[1]);
    EXPECT_EQ(site.read("index.html"),
              "<a href=\"R&D_files/x.png\"><img src=\"R&amp;D_files/x.png\"></a>"
              "<img src=\"R%26D_files/x.png\">");
    EXPECT_EQ(site.read("Q&A_files/Q&A.js"), "show(\"R&D_files\\/x.png\", 'R%26D_files/x.png');");
    expectRoundTrip(site, copies, copies[1], 5);
}

TEST(ReferenceIndex, PageScriptsInlineScriptsAndStylesheets) {
    Site site;
    site.put("A_files/a.png", "a");
    site.put("B_files/a.png", "a");
    site.put("A.html",
             "<script>var img = \"A_files\\/a.png\"; var n = 'A_files/a.png';</script>\n"
             "<img src=\"A_files/a.png\" srcset=\"A_files/a.png 1x, A_files/a.png?v=2 2x\">\n");
    site.put("A_files/A.js",
             "x.src = \"A_files/a.png\"; y = \"A_files\\/a.png\"; z = \"A_files\\u002Fa.png\";\n");
    site.put("A_files/A.css", "div { background: url(a.png) }\np { background: url(\"a.png\") }\n"
                              "q { background:url( 'a.png' ) }\n");
    site.put("B.html", "<img src=\"B_files/a.png\"><img src=\"./A_files/a.png#top\">");
    const auto copies = paths(site, {"A_files/a.png", "B_files/a.png"});
    const fs::path kept = site.path("images/a.png");
    ReferenceIndex index = ReferenceIndex::build(site.root(), copies);
    EXPECT_EQ(index.references().size(), 13u);
    EXPECT_TRUE(index.unresolved().empty());
    const auto files = index.filesReferring(copies);
    EXPECT_EQ(files.size(), 4u);

    rewriteGroup(index, copies, kept);
    EXPECT_EQ(site.read("A.html"),
              "<script>var img = \"images\\/a.png\"; var n = 'images/a.png';</script>\n"
              "<img src=\"images/a.png\" srcset=\"images/a.png 1x, images/a.png?v=2 2x\">\n");
    EXPECT_EQ(site.read("A_files/A.js"),
              "x.src = \"images/a.png\"; y = \"images\\/a.png\"; z = \"images\\u002Fa.png\";\n");
    EXPECT_EQ(
        site.read("A_files/A.css"),
        "div { background: url(../images/a.png) }\np { background: url(\"../images/a.png\") }\n"
        "q { background:url( '../images/a.png' ) }\n");
    EXPECT_EQ(site.read("B.html"), "<img src=\"images/a.png\"><img src=\"./images/a.png#top\">");
    expectRoundTrip(site, copies, kept, 13);
}

TEST(ReferenceIndex, PageFolderLoadedByAPageOfAnotherName) {
    Site site;
    site.put("Welcome_files/w.png", "w");
    site.put("about/Welcome_files/w.png", "w");
    site.put("index.html", "<script src=\"Welcome_files/Welcome.js\"></script>");
    site.put("Welcome_files/Welcome.js", "img.src = 'Welcome_files\\/w.png';");
    site.put("about/index.html", "<script src=\"Welcome_files/Welcome.js\"></script>");
    site.put("about/Welcome_files/Welcome.js", "img.src = 'Welcome_files\\/w.png';");
    const auto copies = paths(site, {"Welcome_files/w.png", "about/Welcome_files/w.png"});
    ReferenceIndex index = ReferenceIndex::build(site.root(), copies);
    EXPECT_EQ(index.referencesTo(copies[0]).size(), 1u);
    EXPECT_EQ(index.referencesTo(copies[1]).size(), 1u);
    DiskTextFileAccess disk;
    for (const auto& copy : copies)
        EXPECT_TRUE(index.reasonsToKeep(copy, disk).empty());

    rewriteGroup(index, copies, site.path("images/w.png"));
    EXPECT_EQ(site.read("Welcome_files/Welcome.js"), "img.src = 'images\\/w.png';");
    EXPECT_EQ(site.read("about/Welcome_files/Welcome.js"), "img.src = '..\\/images\\/w.png';");
    expectRoundTrip(site, copies, site.path("images/w.png"), 2);
}

TEST(ReferenceIndex, NestedPagesOtherPagesFoldersAndBlogFeeds) {
    Site site;
    site.put("Top_files/x.png", "x");
    site.put("a/b/c/P_files/x.png", "x");
    site.put("Blog/Entries/E_files/x.png", "x");
    site.put("Top.html", "<img src=\"Top_files/x.png\">");
    site.put("a/b/c/P.html", "<img src=\"P_files/x.png\"><img src=\"../../../Top_files/x.png\">");
    site.put("a/b/c/P_files/P.js", "s = \"P_files\\/x.png\";");
    site.put("Blog/Entries/E.html", "<img src=\"E_files/x.png\">");
    site.put("Blog/Entries/E.xml", "<entry><img src=\"E_files/x.png\"/></entry>");
    site.put("Blog/feed.xml",
             "<description>&lt;img src=&quot;Entries/E_files/x.png&quot;&gt;</description>\n"
             "<content><![CDATA[<img src=\"Entries/E_files/x.png\">]]></content>\n"
             "<enclosure url=\"Entries/E_files/x.png\"/>\n");
    const auto copies =
        paths(site, {"Top_files/x.png", "a/b/c/P_files/x.png", "Blog/Entries/E_files/x.png"});
    const fs::path kept = site.path("images/x.png");
    ReferenceIndex index = ReferenceIndex::build(site.root(), copies);
    EXPECT_EQ(index.referencesTo(copies[0]).size(), 2u);
    EXPECT_EQ(index.referencesTo(copies[1]).size(), 2u);
    EXPECT_EQ(index.referencesTo(copies[2]).size(), 5u);

    rewriteGroup(index, copies, kept);
    EXPECT_EQ(site.read("Top.html"), "<img src=\"images/x.png\">");
    EXPECT_EQ(site.read("a/b/c/P.html"),
              "<img src=\"../../../images/x.png\"><img src=\"../../../images/x.png\">");
    EXPECT_EQ(site.read("a/b/c/P_files/P.js"), "s = \"..\\/..\\/..\\/images\\/x.png\";");
    EXPECT_EQ(site.read("Blog/Entries/E.xml"), "<entry><img src=\"../../images/x.png\"/></entry>");
    EXPECT_EQ(site.read("Blog/feed.xml"),
              "<description>&lt;img src=&quot;../images/x.png&quot;&gt;</description>\n"
              "<content><![CDATA[<img src=\"../images/x.png\">]]></content>\n"
              "<enclosure url=\"../images/x.png\"/>\n");
    expectRoundTrip(site, copies, kept, 9);
}

// Says one file cannot be written, and counts the questions.
class OneReadOnlyFile : public DiskTextFileAccess {
  public:
    fs::path readOnly;
    std::size_t asked = 0;
    std::optional<std::string> whyNotWritable(const fs::path& path) override {
        ++asked;
        if (path == readOnly)
            return std::string("the file is read-only");
        return std::nullopt;
    }
};

TEST(ReferenceIndex, ManyFilesReferringToOneImageGiveEveryReferenceAndAreNamedOnce) {
    Site site;
    site.put("S_files/s.png", "s");
    std::vector<fs::path> pages;
    for (int i = 0; i < 5; ++i)
        pages.push_back(site.put("P" + std::to_string(i) + ".html",
                                 "<img src=\"S_files/s.png\"> <a href=\"S_files/s.png\">"));
    const fs::path image = site.path("S_files/s.png");
    ReferenceIndex index = ReferenceIndex::build(site.root(), {image});
    std::map<fs::path, std::vector<std::size_t>> offsets;
    for (const Reference* ref : index.referencesTo(image)) {
        offsets[ref->file].push_back(ref->offset);
        EXPECT_EQ(ref->text, "S_files/s.png");
    }
    ASSERT_EQ(offsets.size(), pages.size());
    for (const auto& page : pages)
        EXPECT_EQ(offsets[page], (std::vector<std::size_t>{10, 35})) << page;
    auto referring = index.filesReferring({image, image});
    std::sort(referring.begin(), referring.end());
    EXPECT_EQ(referring, pages);

    // Each referring file is asked about once, and a file that cannot be written is named once.
    OneReadOnlyFile access;
    access.readOnly = pages[2];
    auto reasons = index.reasonsToKeep(image, access);
    ASSERT_EQ(reasons.size(), 1u);
    EXPECT_EQ(reasons[0].kind, KeepErrc::notWritable);
    EXPECT_EQ(reasons[0].file, pages[2]);
    EXPECT_EQ(access.asked, pages.size());
    // Asked through WritabilityOnce, a second image's plan asks nothing again.
    access.asked = 0;
    WritabilityOnce once(access);
    EXPECT_EQ(index.reasonsToKeep(image, once).size(), 1u);
    EXPECT_EQ(index.reasonsToKeep(image, once).size(), 1u);
    EXPECT_EQ(access.asked, pages.size());

    const fs::path kept = site.path("images/s-kept.png");
    rewriteGroup(index, {image}, kept);
    EXPECT_TRUE(index.referencesTo(image).empty());
    const auto moved = index.referencesTo(kept);
    EXPECT_EQ(moved.size(), 2 * pages.size());
    for (const Reference* ref : moved)
        EXPECT_EQ(site.read(ref->file.filename().string()).substr(ref->offset, ref->length),
                  "images/s-kept.png");
    expectRoundTrip(site, {image}, kept, 2 * pages.size());
}

// Pulls the cancel switch once a given number of text files has been read.
class CancellingAccess : public DiskTextFileAccess {
  public:
    CancellingAccess(Progress& progress, std::size_t after) : progress_(progress), after_(after) {}
    std::optional<Bytes> read(const fs::path& path, std::error_code& error) override {
        if (++reads_ >= after_)
            progress_.cancel();
        return DiskTextFileAccess::read(path, error);
    }

  private:
    Progress& progress_;
    std::size_t after_;
    std::size_t reads_ = 0;
};

TEST(ReferenceIndex, ProgressCountsTheTextFilesAndCancelStopsTheBuild) {
    Site site;
    const fs::path logo = site.put("A_files/logo.png", "LOGO");
    for (const char* page : {"A.html", "B.html", "C.html", "D.html"})
        site.put(page, "<img src=\"A_files/logo.png\">");

    Progress progress;
    const auto whole = ReferenceIndex::build(site.root(), {logo}, nullptr, &progress);
    EXPECT_FALSE(whole.cancelled());
    EXPECT_EQ(progress.phase(), Phase::indexing);
    EXPECT_EQ(progress.total(), 4u);
    EXPECT_EQ(progress.done(), 4u);
    EXPECT_EQ(whole.references().size(), 4u);

    Progress stopped;
    CancellingAccess cancelling(stopped, 2);
    const auto part = ReferenceIndex::build(site.root(), {logo}, &cancelling, &stopped);
    EXPECT_TRUE(part.cancelled());
    EXPECT_EQ(part.textFilesRead(), 2u); // no file read after the switch
    EXPECT_EQ(stopped.done(), 2u);

    Progress before;
    before.cancel();
    const auto none = ReferenceIndex::build(site.root(), {logo}, nullptr, &before);
    EXPECT_TRUE(none.cancelled());
    EXPECT_EQ(none.textFilesRead(), 0u);
    EXPECT_EQ(before.total(), 0u); // stopped in the walk
}

TEST(ReferenceIndex, BaseHrefIsHonouredOrMakesTheBaseUnknown) {
    Site site;
    site.put("sub/A_files/a.png", "a");
    site.put("B_files/a.png", "a");
    site.put("index.html",
             "<head><BASE target=_top HREF=\"sub/\"></head><img src=\"A_files/a.png\">");
    site.put("B.html", "<base href=\"http://example.com/site/\"><img src=\"B_files/a.png\">");
    const auto copies = paths(site, {"sub/A_files/a.png", "B_files/a.png"});
    ReferenceIndex index = ReferenceIndex::build(site.root(), copies);
    ASSERT_EQ(index.referencesTo(copies[0]).size(), 1u);
    EXPECT_EQ(index.referencesTo(copies[0])[0]->base, site.path("sub"));
    EXPECT_TRUE(index.referencesTo(copies[1]).empty());
    const auto unresolved = index.unresolvedFor(copies[1]);
    ASSERT_EQ(unresolved.size(), 1u);
    EXPECT_NE(unresolved[0]->detail.find("base href"), std::string::npos) << unresolved[0]->detail;

    DiskTextFileAccess disk;
    EXPECT_TRUE(index.reasonsToKeep(copies[0], disk).empty());
    const auto reasons = index.reasonsToKeep(copies[1], disk);
    ASSERT_EQ(reasons.size(), 1u);
    EXPECT_EQ(reasons[0].file, site.path("B.html"));

    EXPECT_TRUE(
        index.rewrite(site.path("index.html"), copies, site.path("images/a.png"), disk).written);
    EXPECT_EQ(site.read("index.html"),
              "<head><BASE target=_top HREF=\"sub/\"></head><img src=\"../images/a.png\">");
}

TEST(ReferenceIndex, AScriptOutsidePageFoldersTakesTheBaseOfThePagesThatLoadIt) {
    Site site;
    site.put("A_files/a.png", "a");
    site.put("B_files/a.png", "a");
    site.put("index.html",
             "<script src=\"js/site.js\"></script><SCRIPT type=x SRC='js/shared.js'>");
    site.put("B.html", "<script src=\"./js/site.js\"></script>");
    site.put("sub/page.html", "<script src=\"../js/shared.js\"></script>");
    site.put("js/site.js", "preload(\"A_files/a.png\");");
    site.put("js/shared.js", "preload(\"B_files/a.png\");");
    site.put("js/lonely.js", "preload(\"B_files/a.png\");");
    const auto copies = paths(site, {"A_files/a.png", "B_files/a.png"});
    ReferenceIndex index = ReferenceIndex::build(site.root(), copies);
    ASSERT_EQ(index.referencesTo(copies[0]).size(), 1u);
    EXPECT_EQ(index.referencesTo(copies[0])[0]->base, site.root());
    const auto unresolved = index.unresolvedFor(copies[1]);
    ASSERT_EQ(unresolved.size(), 2u);
    std::vector<std::string> reasons = {unresolved[0]->detail, unresolved[1]->detail};
    std::sort(reasons.begin(), reasons.end());
    EXPECT_NE(reasons[0].find("different folders"), std::string::npos) << reasons[0];
    EXPECT_NE(reasons[1].find("no page loads"), std::string::npos) << reasons[1];
}

// A file manager that reads nothing from one file and writes nothing anywhere.
class FailingAccess : public DiskTextFileAccess {
  public:
    fs::path unreadable;
    bool failWrites = false;
    std::optional<Bytes> read(const fs::path& path, std::error_code& error) override {
        if (path == unreadable) {
            error = std::make_error_code(std::errc::permission_denied);
            return std::nullopt;
        }
        return DiskTextFileAccess::read(path, error);
    }
    std::error_code write(const fs::path& path, ByteView data) override {
        if (failWrites)
            return std::make_error_code(std::errc::no_space_on_device);
        return DiskTextFileAccess::write(path, data);
    }
};

TEST(Guard, ReferencesThatCannotBeRewrittenKeepTheirCopy) {
    Site site;
    for (const char* folder : {"A_files", "B_files", "C_files", "D_files", "E_files", "F_files"})
        site.put(std::string(folder) + "/a.png", "a");
    site.put("A.html", "<img src=\"/A_files/a.png\">");                   // root-relative
    site.put("B.html", "<img src=\"http://example.com/B_files/a.png\">"); // absolute
    site.put("js/site.js", "preload('C_files/a.png');");       // script in no page folder
    site.put("D.html", "<img src=\"D_files/a.png\">\xff\xfe"); // not UTF-8
    site.put("E.html", "<img src=\"E_files/a.png\">");         // read-only
    ASSERT_EQ(::chmod(site.path("E.html").c_str(), 0444), 0);
    site.put("F.html", "<script>w('<img src=\"' + dir + 'a.png\">')</script>"); // built by a script
    site.put("G.html", "<img src=\"G_files/a.png\">\xff"); // not UTF-8, refers elsewhere
    const auto copies = paths(site, {"A_files/a.png", "B_files/a.png", "C_files/a.png",
                                     "D_files/a.png", "E_files/a.png", "F_files/a.png"});
    ReferenceIndex index = ReferenceIndex::build(site.root(), copies);
    DiskTextFileAccess disk;

    auto reasonsFor = [&](std::size_t i) { return index.reasonsToKeep(copies[i], disk); };
    auto mentions = [](const std::vector<KeepReason>& reasons, const fs::path& file,
                       const std::string& word) {
        return std::any_of(reasons.begin(), reasons.end(), [&](const KeepReason& r) {
            return r.file == file && cli::keepReasonText(r).find(word) != std::string::npos;
        });
    };
    EXPECT_TRUE(mentions(reasonsFor(0), site.path("A.html"), "server's root"));
    EXPECT_TRUE(mentions(reasonsFor(1), site.path("B.html"), "absolute"));
    EXPECT_TRUE(mentions(reasonsFor(2), site.path("js/site.js"), "base is not known"));
    EXPECT_TRUE(mentions(reasonsFor(3), site.path("D.html"), "UTF-8"));
    EXPECT_TRUE(mentions(reasonsFor(4), site.path("E.html"), "read-only"));
    // A name built into a URL by a script could be any copy of that name.
    for (std::size_t i = 0; i < copies.size(); ++i)
        EXPECT_TRUE(mentions(reasonsFor(i), site.path("F.html"), "not recognised")) << i;
    // The reasons name only what concerns each copy.
    EXPECT_FALSE(mentions(reasonsFor(1), site.path("A.html"), ""));
    EXPECT_FALSE(mentions(reasonsFor(3), site.path("G.html"), ""));
}

TEST(Guard, AnUnreadableTextFileMayReferToAnyImage) {
    Site site;
    site.put("A_files/a.png", "a");
    site.put("B_files/b.png", "b");
    site.put("index.html", "<img src=\"A_files/a.png\">");
    site.put("secret.html", "?");
    FailingAccess access;
    access.unreadable = site.path("secret.html");
    ReferenceIndex index = ReferenceIndex::build(
        site.root(), paths(site, {"A_files/a.png", "B_files/b.png"}), &access);
    ASSERT_EQ(index.unreadable().size(), 1u);
    EXPECT_EQ(index.textFilesRead(), 1u);
    for (const auto& image : index.images()) {
        const auto reasons = index.reasonsToKeep(image, access);
        ASSERT_EQ(reasons.size(), 1u);
        EXPECT_EQ(reasons[0].file, site.path("secret.html"));
    }
}

TEST(Rewrite, KeepsEveryOtherByteAndThePermissionBits) {
    Site site;
    site.put("A_files/a.png", "a");
    site.put("A_files/b.png", "b");
    const std::string before =
        "\xEF\xBB\xBF<p>\xC3\xA9t\xC3\xA9</p>\r\n<img src=\"A_files/a.png?v=2#x\">"
        "<img src=\"A_files/b.png\"> A_files/a.png\t<img src='A_files/a.png'>\r\n";
    const fs::path page = site.put("A.html", before);
    ASSERT_EQ(::chmod(page.c_str(), 0640), 0);
    const auto a = site.path("A_files/a.png");
    const auto b = site.path("A_files/b.png");
    ReferenceIndex index = ReferenceIndex::build(site.root(), {a, b});
    ASSERT_EQ(index.referencesTo(a).size(), 3u);

    DiskTextFileAccess disk;
    EXPECT_EQ(index.rewrite(page, {a}, site.path("images/a-long-name.png"), disk).replaced, 3u);
    // The second image's references moved with the text; a second rewrite finds them.
    EXPECT_EQ(index.rewrite(page, {b}, site.path("images/b.png"), disk).replaced, 1u);
    EXPECT_EQ(site.read("A.html"),
              "\xEF\xBB\xBF<p>\xC3\xA9t\xC3\xA9</p>\r\n<img src=\"images/a-long-name.png?v=2#x\">"
              "<img src=\"images/b.png\"> images/a-long-name.png\t<img "
              "src='images/a-long-name.png'>\r\n");
    struct stat info {};
    ASSERT_EQ(::stat(page.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    for (const Reference& ref : index.references())
        EXPECT_EQ(site.read("A.html").substr(ref.offset, ref.length), ref.text);
    // Nothing left to do: the file is not written again, unless asked to.
    const std::string text = site.read("A.html");
    site.put("A.html", "x");
    EXPECT_FALSE(index.rewrite(page, {a}, site.path("images/a-long-name.png"), disk).written);
    EXPECT_EQ(site.read("A.html"), "x");
    const auto again = index.rewrite(page, {a}, site.path("images/a-long-name.png"), disk, true);
    EXPECT_TRUE(again.written);
    EXPECT_EQ(again.replaced, 0u);
    const fs::path plain = site.put("plain.html", "no references");
    EXPECT_TRUE(index.rewrite(plain, {a}, site.path("images/a.png"), disk, true).written);
    EXPECT_EQ(site.read("plain.html"), "no references");
}

TEST(Rewrite, AFileChangedOrUnwritableIsLeftAsItWas) {
    Site site;
    site.put("A_files/a.png", "a");
    const fs::path page = site.put("A.html", "<img src=\"A_files/a.png\">");
    const auto a = site.path("A_files/a.png");
    ReferenceIndex index = ReferenceIndex::build(site.root(), {a});

    using Failure = ReferenceIndex::FileRewrite::Failure;
    FailingAccess failing;
    failing.failWrites = true;
    auto done = index.rewrite(page, {a}, site.path("images/a.png"), failing);
    EXPECT_EQ(done.failure, Failure::write);
    EXPECT_EQ(done.error, std::errc::no_space_on_device);
    EXPECT_FALSE(done.written);
    EXPECT_EQ(site.read("A.html"), "<img src=\"A_files/a.png\">");

    failing.unreadable = page;
    EXPECT_EQ(index.rewrite(page, {a}, site.path("images/a.png"), failing).failure, Failure::read);

    DiskTextFileAccess disk;
    site.put("A.html", "<img src=\"A_files/a.png\">\xE9");
    EXPECT_EQ(index.rewrite(page, {a}, site.path("images/a.png"), disk).failure, Failure::notUtf8);
    EXPECT_EQ(site.read("A.html"), "<img src=\"A_files/a.png\">\xE9");

    site.put("A.html", "<!-- edited --><img src=\"A_files/a.png\">");
    done = index.rewrite(page, {a}, site.path("images/a.png"), disk);
    EXPECT_EQ(done.failure, Failure::changed);
    EXPECT_NE(done.why.find("changed"), std::string::npos) << done.why;
    EXPECT_EQ(site.read("A.html"), "<!-- edited --><img src=\"A_files/a.png\">");
}

TEST(SiteCheck, BrokenReferencesAndImagesNothingRefersTo) {
    Site site;
    site.put("A_files/a.png", "a");
    site.put("A_files/unused.gif", "u");
    site.put("A_files/only_by_script.jpg", "s");
    site.put("A_files/remote.png", "r");
    site.put("index.html", "<img src=\"A_files/a.png\">\n<img src=\"A_files/gone.png\">\n"
                           "<img src=\"http://example.com/A_files/remote.png\">");
    site.put("A_files/A.js",
             "x = 'A_files\\/only_by_script.jpg'; y = 'A_files/missing%20one.JPG';");
    const SiteCheck check = checkSite(site.root());
    EXPECT_EQ(check.textFiles, 2u);
    EXPECT_EQ(check.imageFiles, 4u);
    EXPECT_EQ(check.references, 2u);
    ASSERT_EQ(check.broken.size(), 2u);
    std::vector<std::string> broken;
    for (const auto& ref : check.broken)
        broken.push_back(ref.file.filename().string() + ":" + std::to_string(ref.line) + ":" +
                         ref.text);
    std::sort(broken.begin(), broken.end());
    EXPECT_EQ(broken, (std::vector<std::string>{"A.js:1:A_files/missing%20one.JPG",
                                                "index.html:2:A_files/gone.png"}));
    EXPECT_EQ(check.unreferenced, (std::vector<fs::path>{site.path("A_files/unused.gif")}));
    ASSERT_EQ(check.unresolved.size(), 1u);
    EXPECT_EQ(check.unresolved[0].line, 3u);
}

} // namespace
} // namespace tolvane
