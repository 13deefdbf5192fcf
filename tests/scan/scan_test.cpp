#include "scan/content_sets.hpp"
#include "scan/literal_scan.hpp"
#include "scan/scan.hpp"
#include "support/temp_dir.hpp"
#include "util/digest.hpp"

#include <gtest/gtest.h>

#include <map>
#include <mutex>
#include <random>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace tolvane;
using tolvane::test::TempDir;
using tolvane::test::writeFile;

namespace {

// Reads through the real reader, refuses chosen files, and records every stretch read.
class RecordingReader : public ContentReader {
  public:
    std::set<fs::path> refused;

    std::ptrdiff_t readAt(const fs::path& path, std::uint64_t offset, unsigned char* buffer,
                          std::size_t length) override {
        if (refused.count(path))
            return -1;
        const std::ptrdiff_t got = real_.readAt(path, offset, buffer, length);
        const std::lock_guard<std::mutex> lock(mutex_);
        if (got > 0)
            reads_[path].push_back({offset, offset + static_cast<std::uint64_t>(got)});
        else
            reads_[path];
        return got;
    }

    const std::map<fs::path, std::vector<std::pair<std::uint64_t, std::uint64_t>>>& reads() const {
        return reads_;
    }

  private:
    detail::FileContentReader real_;
    std::mutex mutex_;
    std::map<fs::path, std::vector<std::pair<std::uint64_t, std::uint64_t>>> reads_;
};

// The names in a folder, in the order the file system lists them.
std::vector<std::string> listingOrder(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    return names;
}

// Creates the folders, then hands them back in the order the walk will meet them.
std::vector<fs::path> foldersInWalkOrder(const fs::path& root, std::vector<std::string> names) {
    for (const auto& name : names)
        fs::create_directory(root / name);
    std::vector<fs::path> ordered;
    for (const auto& name : listingOrder(root))
        ordered.push_back(root / name);
    return ordered;
}

std::vector<std::vector<fs::path>> copiesOf(const ScanResult& result) {
    std::vector<std::vector<fs::path>> copies;
    for (const auto& group : result.duplicates)
        copies.push_back(group.copies);
    return copies;
}

// The scan agrees with the plain grouping, and each group's digest and size are its own.
void expectAgreesWithLiteral(const fs::path& root, ContentReader* reader = nullptr) {
    const test::LiteralScan expected = test::literalScan(root, reader);
    const ScanResult result = scanWebsite(root, nullptr, reader);
    ASSERT_FALSE(result.cancelled);
    EXPECT_EQ(copiesOf(result), expected.duplicates);
    EXPECT_EQ(formingCopies(result), expected.formingCopies);
    for (const auto& group : result.duplicates) {
        ASSERT_GE(group.copies.size(), 2u);
        EXPECT_EQ(group.name, group.copies[0].filename().string());
        EXPECT_EQ(std::optional<std::string>(group.md5), MD5(group.copies[0]));
        EXPECT_EQ(group.size, fs::file_size(group.copies[0]));
    }
}

std::string bytesOf(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string text(size, '\0');
    for (char& c : text)
        c = static_cast<char>(random());
    return text;
}

} // namespace

TEST(EligibleImageName, SuffixInAnyCaseMarkersCaseSensitive) {
    for (const char* name : {"photo.JPG", "photo.Jpeg", "anim.GIF", "a.png", "b.tiff", ".png",
                             ".hidden.png", "nav_Rollover_1.png", "menu_Link_x.gif"})
        EXPECT_TRUE(isEligibleImageName(name)) << name;
    for (const char* name : {"photo.tif", "photo.bmp", "photo.png.bak", "png", "index.html",
                             "nav_rollover_1.png", "nav_link_2.gif", "a_link_.PNG", ""})
        EXPECT_FALSE(isEligibleImageName(name)) << name;
    // Rollover and link images have an image name (check counts them) but are never grouped.
    for (const char* name : {"nav_rollover_1.png", ".png", "a.TIFF"})
        EXPECT_TRUE(hasImageExtension(name)) << name;
    EXPECT_FALSE(hasImageExtension("a.png.bak"));
}

TEST(SiteNames, TextKindsByTheirSuffixInAnyCase) {
    EXPECT_EQ(textKindOf("a.HTML"), TextKind::page);
    EXPECT_EQ(textKindOf("a.shtml"), TextKind::page);
    EXPECT_EQ(textKindOf("feed.rss"), TextKind::document);
    EXPECT_EQ(textKindOf("a.Css"), TextKind::stylesheet);
    EXPECT_EQ(textKindOf("data.json"), TextKind::script);
    EXPECT_EQ(textKindOf(".js"), TextKind::none); // a hidden file without a kind
    EXPECT_EQ(textKindOf("a.png"), TextKind::none);
}

TEST(SiteNames, OnlyTheTrailingSuffixOfAPageFolderNamesThePage) {
    auto page = pageFilesFor("/S/Old_files/A_files");
    ASSERT_TRUE(page);
    EXPECT_EQ(page->pageFile, fs::path("/S/Old_files/A.html"));
    EXPECT_EQ(page->pageScript, fs::path("/S/Old_files/A_files/A.js"));

    EXPECT_FALSE(pageFilesFor("/S/Page_Files"));   // the suffix test is case-sensitive
    EXPECT_FALSE(pageFilesFor("/S/A_files/pics")); // only the folder's own name counts
    EXPECT_FALSE(pageFilesFor("/S/_files"));       // no page without a stem
    EXPECT_FALSE(pageFilesFor("/S"));
}

TEST(WebsiteFolder, NeedsAnIndexHtmlThatIsAFileOrLeadsToOne) {
    TempDir dir;
    const auto site = [&](const char* name) {
        fs::create_directory(dir / name);
        return dir / name;
    };
    EXPECT_FALSE(isWebsiteFolder(site("empty")));
    EXPECT_FALSE(isWebsiteFolder(dir / "missing"));

    writeFile(site("page") / "index.html", "<html>");
    EXPECT_TRUE(isWebsiteFolder(dir / "page"));
    writeFile(dir / "elsewhere.html", "<html>");
    fs::create_symlink(dir / "elsewhere.html", site("linked") / "index.html");
    EXPECT_TRUE(isWebsiteFolder(dir / "linked"));

    fs::create_directory(site("folder") / "index.html");
    EXPECT_FALSE(isWebsiteFolder(dir / "folder"));
    fs::create_symlink(dir / "gone.html", site("dangling") / "index.html");
    EXPECT_FALSE(isWebsiteFolder(dir / "dangling"));
    fs::create_directory_symlink(dir / "folder", site("toFolder") / "index.html");
    EXPECT_FALSE(isWebsiteFolder(dir / "toFolder"));
    ASSERT_EQ(::mkfifo((site("fifo") / "index.html").c_str(), 0600), 0);
    EXPECT_FALSE(isWebsiteFolder(dir / "fifo"));
}

TEST(Scan, NothingEligibleAnUnwalkableRootOrACancelGiveNoGroups) {
    TempDir site;
    writeFile(site / "index.html", "<html>");
    writeFile(site / "a/notes.txt", "same");
    writeFile(site / "b/notes.txt", "same");
    ScanResult result = scanWebsite(site.path());
    EXPECT_TRUE(result.duplicates.empty());
    EXPECT_TRUE(formingCopies(result).empty());
    EXPECT_FALSE(result.cancelled);
    EXPECT_EQ(result.root, site.path());

    EXPECT_TRUE(scanWebsite(site / "missing").duplicates.empty());
    EXPECT_TRUE(scanWebsite(site / "index.html").duplicates.empty());

    // Cancelled before the walk: no groups, though there would be one.
    writeFile(site / "a/x.png", "X");
    writeFile(site / "b/x.png", "X");
    ASSERT_EQ(scanWebsite(site.path()).duplicates.size(), 1u);
    Progress progress;
    progress.cancel();
    result = scanWebsite(site.path(), &progress);
    EXPECT_TRUE(result.cancelled);
    EXPECT_TRUE(result.duplicates.empty());
    EXPECT_TRUE(formingCopies(result).empty());
}

// Groups come in the order of their second copy, each with its copies in walk order; the
// second copy is the one that forms the group. Folders are named by their walk order.
TEST(Scan, GroupsAndCopiesFollowTheWalkOrder) {
    struct File {
        int folder;
        const char* name;
        const char* bytes;
    };
    using Copy = std::pair<int, const char*>;
    struct Case {
        std::vector<std::string> folders;
        std::vector<File> files;
        std::vector<std::vector<Copy>> groups;
    };
    const Case cases[] = {
        // x.png in the first folder met, y.png in the second and third, x.png in the fourth.
        {{"a", "b", "c", "d"},
         {{0, "x.png", "X"}, {1, "y.png", "Y"}, {2, "y.png", "Y"}, {3, "x.png", "X"}},
         {{{1, "y.png"}, {2, "y.png"}}, {{0, "x.png"}, {3, "x.png"}}}},
        // One name, one size, two contents.
        {{"p", "q", "r", "s"},
         {{0, "logo.png", "XX"},
          {1, "logo.png", "YY"},
          {2, "logo.png", "XX"},
          {3, "logo.png", "YY"}},
         {{{0, "logo.png"}, {2, "logo.png"}}, {{1, "logo.png"}, {3, "logo.png"}}}},
        // Three copies make one group.
        {{"A_files", "B_files", "C_files"},
         {{0, "s_1.png", "same"}, {1, "s_1.png", "same"}, {2, "s_1.png", "same"}},
         {{{0, "s_1.png"}, {1, "s_1.png"}, {2, "s_1.png"}}}},
        // The kept file of an earlier run, in images/, groups again.
        {{"images", "New_files"},
         {{0, "logo.png", "kept"}, {1, "logo.png", "kept"}},
         {{{0, "logo.png"}, {1, "logo.png"}}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.folders.front());
        TempDir site;
        const auto folders = foldersInWalkOrder(site.path(), c.folders);
        for (const File& file : c.files)
            writeFile(folders[file.folder] / file.name, file.bytes);
        std::vector<std::vector<fs::path>> groups;
        std::vector<fs::path> forming;
        for (const auto& group : c.groups) {
            groups.emplace_back();
            for (const auto& [folder, name] : group)
                groups.back().push_back(folders[folder] / name);
            forming.push_back(groups.back()[1]);
        }
        const ScanResult result = scanWebsite(site.path());
        EXPECT_EQ(copiesOf(result), groups);
        EXPECT_EQ(formingCopies(result), forming);
        expectAgreesWithLiteral(site.path());
    }
}

TEST(Scan, NamesAreComparedLiterallyAndSuffixesInAnyCase) {
    TempDir site;
    writeFile(site / "a/Logo.png", "same");
    writeFile(site / "b/logo.png", "same");   // case-only difference: no group
    writeFile(site / "a/one.png", "content"); // same content, other name: no group
    writeFile(site / "b/two.png", "content");
    for (const char* name : {"photo.JPG", "photo.Jpeg", "anim.GIF"}) {
        writeFile(site / "a" / name, name);
        writeFile(site / "b" / name, name);
    }
    for (const char* name : {"photo.tif", "photo.bmp", "photo.png.bak"}) {
        writeFile(site / "a" / name, "x");
        writeFile(site / "b" / name, "x");
    }
    const ScanResult result = scanWebsite(site.path());
    std::set<std::string> names;
    for (const auto& group : result.duplicates)
        names.insert(group.name);
    EXPECT_EQ(names, (std::set<std::string>{"photo.JPG", "photo.Jpeg", "anim.GIF"}));
    expectAgreesWithLiteral(site.path());
}

TEST(Scan, MarkersLookAtTheFileNameOnly) {
    TempDir site;
    for (const char* folder : {"a", "b"}) {
        writeFile(site / folder / "nav_rollover_1.png", "r");
        writeFile(site / folder / "nav_link_2.gif", "l");
        writeFile(site / folder / "nav_Rollover_1.png", "R");
    }
    writeFile(site / "menu_link_files/pic.png", "p");
    writeFile(site / "other/pic.png", "p");
    // A folder named like an image is no image, but what it holds is looked at.
    writeFile(site / "pics.png/inner.png", "i");
    writeFile(site / "more.png/inner.png", "i");
    const ScanResult result = scanWebsite(site.path());
    std::set<std::string> names;
    for (const auto& group : result.duplicates)
        names.insert(group.name);
    EXPECT_EQ(names, (std::set<std::string>{"nav_Rollover_1.png", "pic.png", "inner.png"}));
    expectAgreesWithLiteral(site.path());
}

TEST(Scan, HiddenFilesAndFoldersCount) {
    TempDir site;
    writeFile(site / ".cache/.logo.png", "h");
    writeFile(site / "a/.logo.png", "h");
    const ScanResult result = scanWebsite(site.path());
    ASSERT_EQ(result.duplicates.size(), 1u);
    EXPECT_EQ(result.duplicates[0].name, ".logo.png");
    expectAgreesWithLiteral(site.path());
}

TEST(Scan, SymbolicLinksAreNeitherFollowedNorGrouped) {
    TempDir site;
    TempDir outside;
    writeFile(site / "a/logo.png", "L");
    writeFile(outside / "logo.png", "L");
    writeFile(outside / "deep/logo.png", "L");
    fs::create_directory(site / "b");
    fs::create_symlink(site / "a/logo.png", site / "b/logo.png");
    fs::create_symlink(outside / "logo.png", site / "logo.png");
    fs::create_directory_symlink(outside.path(), site / "linked_files");
    fs::create_symlink(site / "gone.png", site / "c.png"); // dangling
    fs::create_symlink("loop.png", site / "loop.png");     // points at itself
    EXPECT_TRUE(scanWebsite(site.path()).duplicates.empty());

    writeFile(site / "c/logo.png", "L");
    const ScanResult result = scanWebsite(site.path());
    ASSERT_EQ(result.duplicates.size(), 1u);
    EXPECT_EQ(
        std::set<fs::path>(result.duplicates[0].copies.begin(), result.duplicates[0].copies.end()),
        (std::set<fs::path>{site / "a/logo.png", site / "c/logo.png"}));
    expectAgreesWithLiteral(site.path());
}

TEST(Scan, UnreadableFilesJoinNoGroup) {
    TempDir site;
    const auto folders = foldersInWalkOrder(site.path(), {"a", "b", "c", "d"});
    for (const auto& folder : folders) {
        writeFile(folder / "logo.png", "L");
        writeFile(folder / "pair.gif", "P");
    }
    RecordingReader reader;
    // Two unreadable copies of one name never group with each other.
    reader.refused = {folders[0] / "pair.gif", folders[1] / "pair.gif", folders[2] / "pair.gif",
                      folders[1] / "logo.png"};
    ScanResult result = scanWebsite(site.path(), nullptr, &reader);
    ASSERT_EQ(result.duplicates.size(), 1u);
    EXPECT_EQ(result.duplicates[0].copies,
              (std::vector<fs::path>{folders[0] / "logo.png", folders[2] / "logo.png",
                                     folders[3] / "logo.png"}));
    expectAgreesWithLiteral(site.path(), &reader);

    // A FIFO really refuses to be read as an image; so do sockets and devices.
    ASSERT_EQ(::mkfifo((folders[0] / "pipe.png").c_str(), 0644), 0);
    ASSERT_EQ(::mkfifo((folders[1] / "pipe.png").c_str(), 0644), 0);
    result = scanWebsite(site.path());
    ASSERT_EQ(result.duplicates.size(), 2u);
    expectAgreesWithLiteral(site.path());
}

TEST(Scan, ReadsOnlyWhatNameAndSizeLeaveOpenAndEachByteOnce) {
    TempDir site;
    const auto folders = foldersInWalkOrder(site.path(), {"a", "b", "c"});
    writeFile(folders[0] / "unique.png", "only one of this name");
    writeFile(folders[0] / "sized.png", "short");
    writeFile(folders[1] / "sized.png", "longer one"); // name shared, size not
    const std::string big = bytesOf(300000, 1);
    std::string early = big;
    early[10] ^= 1; // differs within the first stretch
    std::string late = big;
    late[250000] ^= 1; // differs far in
    writeFile(folders[0] / "big.png", big);
    writeFile(folders[1] / "big.png", big);
    writeFile(folders[2] / "big.png", early);
    writeFile(folders[0] / "far.png", big);
    writeFile(folders[1] / "far.png", late);
    writeFile(folders[2] / "far.png", big);

    RecordingReader reader;
    Progress progress;
    const ScanResult result = scanWebsite(site.path(), &progress, &reader);
    ASSERT_EQ(result.duplicates.size(), 2u);
    EXPECT_EQ(result.stats.digestsComputed, 2u);
    EXPECT_EQ(result.stats.candidateFiles, 6u);
    EXPECT_EQ(result.stats.candidateBytes, 6u * 300000u);
    EXPECT_EQ(result.stats.bytesReread, 0u);
    EXPECT_EQ(progress.phase(), Phase::finished);
    // The comparison's bar: bytes read of the candidates' bytes.
    EXPECT_EQ(progress.total(), 6u * 300000u);
    EXPECT_EQ(progress.done(), result.stats.bytesRead);

    std::uint64_t total = 0;
    for (const auto& [path, stretches] : reader.reads()) {
        EXPECT_TRUE(path.filename() == "big.png" || path.filename() == "far.png") << path;
        auto sorted = stretches;
        std::sort(sorted.begin(), sorted.end());
        for (std::size_t i = 1; i < sorted.size(); ++i)
            EXPECT_LE(sorted[i - 1].second, sorted[i].first) << "read twice: " << path;
        for (const auto& [from, to] : sorted)
            total += to - from;
    }
    EXPECT_EQ(result.stats.bytesRead, total);
    // The copy that differs early is dropped after its first stretch.
    std::uint64_t earlyRead = 0;
    for (const auto& [from, to] : reader.reads().at(folders[2] / "big.png"))
        earlyRead += to - from;
    EXPECT_LE(earlyRead, 4096u);
    EXPECT_EQ(result.duplicates.size(), 2u);
    expectAgreesWithLiteral(site.path());

    // Every entry is counted, folders and files alike.
    std::uint64_t entries = 0;
    for (auto it = fs::recursive_directory_iterator(site.path());
         it != fs::recursive_directory_iterator(); ++it)
        ++entries;
    EXPECT_EQ(result.stats.entriesWalked, entries);
}

TEST(Scan, TwoComparingThreadsGiveTheSameGroups) {
    TempDir site;
    const auto folders = foldersInWalkOrder(site.path(), {"a", "b", "c"});
    for (unsigned n = 0; n < 12; ++n) {
        const std::string name = "img" + std::to_string(n) + ".png";
        const std::string content = bytesOf(200000, n);
        writeFile(folders[0] / name, content);
        writeFile(folders[1] / name, n % 3 == 0 ? bytesOf(200000, 50 + n) : content);
        writeFile(folders[2] / name, content);
    }
    expectAgreesWithLiteral(site.path());
    EXPECT_EQ(scanWebsite(site.path()).duplicates.size(), 12u);
}

TEST(ContentSets, TightMemoryReadsAgainButFindsTheSameSets) {
    TempDir scratch;
    // Many files agreeing on the first stretch and differing after it, in pairs.
    std::vector<fs::path> files;
    const std::string common = bytesOf(5000, 7);
    for (unsigned i = 0; i < 24; ++i) {
        const fs::path file = scratch / ("f" + std::to_string(i));
        writeFile(file, common + bytesOf(5000, 100 + i / 2));
        files.push_back(file);
    }
    detail::FileContentReader reader;
    for (const std::size_t budget : {std::size_t{1} << 20, std::size_t{12000}}) {
        detail::ReadCounts counts;
        auto sets = detail::partitionByContent(files, 10000, reader, nullptr, counts, budget);
        std::sort(sets.begin(), sets.end(),
                  [](const auto& a, const auto& b) { return a.members < b.members; });
        ASSERT_EQ(sets.size(), 12u) << budget;
        for (std::size_t i = 0; i < sets.size(); ++i) {
            EXPECT_EQ(sets[i].members, (std::vector<std::size_t>{2 * i, 2 * i + 1}));
            EXPECT_EQ(std::optional<std::string>(sets[i].md5), MD5(files[2 * i]));
        }
        if (budget < 20000)
            EXPECT_GT(counts.bytesReread, 0u);
        else
            EXPECT_EQ(counts.bytesReread, 0u);
    }
}

TEST(ContentSets, FilesThatChangedLengthJoinNothing) {
    TempDir scratch;
    for (const char* name : {"a", "b", "c"})
        writeFile(scratch / name, "1234");
    writeFile(scratch / "c", "12345"); // grown since it was listed at four bytes
    detail::FileContentReader reader;
    detail::ReadCounts counts;
    const auto sets = detail::partitionByContent({scratch / "a", scratch / "b", scratch / "c"}, 4,
                                                 reader, nullptr, counts);
    ASSERT_EQ(sets.size(), 1u);
    EXPECT_EQ(sets[0].members, (std::vector<std::size_t>{0, 1}));
    EXPECT_EQ(sets[0].md5, md5(std::string_view("1234")));
}

// Random trees: names that differ only in case, markers, hidden entries, folders named like
// images, empty files, contents that differ early, late or not at all, FIFOs, symbolic
// links and refused files. The scan must agree with the plain grouping on every one.
TEST(Scan, AgreesWithLiteralGroupingOnRandomTrees) {
    const std::vector<std::string> names{"logo.png",       "Logo.png",        "logo.PNG",
                                         "a.jpg",          "b.gif",           "pic.jpeg",
                                         "x.tiff",         ".h.png",          "nav_rollover_1.png",
                                         "nav_link_2.gif", "photo.tif",       "notes.txt",
                                         "c.Png",          "shapeimage_1.png"};
    const std::vector<std::string> folderNames{
        "a", "b", "A", "pics.png", "x_files", "menu_link_files", ".hid", "images"};
    const std::string base = bytesOf(9000, 3);
    std::vector<std::string> contents{"", "A", "B", "AB", base, base.substr(0, 4096)};
    std::string changed = base;
    changed[8999] ^= 1;
    contents.push_back(changed);
    changed = base;
    changed[4500] ^= 1;
    contents.push_back(changed);
    changed = base;
    changed[0] ^= 1;
    contents.push_back(changed);

    for (unsigned seed = 1; seed <= 120; ++seed) {
        std::mt19937 random(seed);
        auto pick = [&](std::size_t n) { return static_cast<std::size_t>(random() % n); };
        TempDir site;
        RecordingReader reader;
        std::vector<fs::path> files;
        const std::size_t count = 4 + pick(40);
        for (std::size_t i = 0; i < count; ++i) {
            fs::path folder = site.path();
            for (std::size_t depth = pick(4); depth > 0; --depth)
                folder /= folderNames[pick(folderNames.size())];
            fs::create_directories(folder);
            const fs::path file = folder / names[pick(names.size())];
            if (fs::exists(fs::symlink_status(file)))
                continue;
            const std::size_t kind = pick(20);
            if (kind == 0) {
                ASSERT_EQ(::mkfifo(file.c_str(), 0644), 0);
            } else if (kind == 1 && !files.empty()) {
                fs::create_symlink(files[pick(files.size())], file);
            } else if (kind == 2) {
                fs::create_directory_symlink(site.path(), file);
            } else {
                writeFile(file, contents[pick(contents.size())]);
                files.push_back(file);
                if (pick(10) == 0)
                    reader.refused.insert(file);
            }
        }
        SCOPED_TRACE("seed " + std::to_string(seed));
        expectAgreesWithLiteral(site.path(), &reader);
    }
}
