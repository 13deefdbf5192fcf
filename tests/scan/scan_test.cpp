// The grouping of a site's images: which names count, which files are one image, in which
// order groups and copies come, and that only what is still open is read, each byte once.
#include "scan/content_sets.hpp"
#include "scan/scan.hpp"
#include "support/temp_dir.hpp"
#include "util/digest.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <sys/stat.h>
#include <tuple>

namespace tolvane {
namespace {

namespace fs = std::filesystem;
using test::TempDir;
using test::writeFile;
using Groups = std::vector<std::vector<fs::path>>;

// Reads through the real reader, refuses chosen files, and records every stretch read.
class RecordingReader : public ContentReader {
  public:
    std::set<fs::path> refused;
    std::map<fs::path, std::vector<std::pair<std::uint64_t, std::uint64_t>>> reads;

    std::ptrdiff_t readAt(const fs::path& path, std::uint64_t offset, unsigned char* buffer,
                          std::size_t length) override {
        if (refused.count(path))
            return -1;
        const std::ptrdiff_t got = real_.readAt(path, offset, buffer, length);
        const std::lock_guard<std::mutex> lock(mutex_);
        if (got > 0)
            reads[path].push_back({offset, offset + static_cast<std::uint64_t>(got)});
        return got;
    }

  private:
    detail::FileContentReader real_;
    std::mutex mutex_;
};

// The grouping done the plain way: walking without following links, every regular file with
// an image name is compared, whole, with the first copy of each group and then with each
// single file of its name; the second copy found forms a group. Nothing is cached.
Groups literalGrouping(const fs::path& root, RecordingReader* reader) {
    const auto digest = [&](const fs::path& path) -> std::optional<std::string> {
        if (reader && reader->refused.count(path))
            return std::nullopt;
        return MD5(path);
    };
    const auto same = [&](const fs::path& a, const fs::path& b) {
        return a.filename() == b.filename() && digest(a) && digest(a) == digest(b);
    };
    Groups groups;
    std::vector<fs::path> singles;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator();
         ++it) {
        const fs::path file = it->path();
        if (it->is_symlink() || !it->is_regular_file() ||
            !isEligibleImageName(file.filename().string()))
            continue;
        const auto group = std::find_if(groups.begin(), groups.end(),
                                        [&](const auto& g) { return same(g[0], file); });
        const auto single = std::find_if(singles.begin(), singles.end(),
                                         [&](const fs::path& s) { return same(s, file); });
        if (group != groups.end())
            group->push_back(file);
        else if (single != singles.end())
            groups.push_back({*single, file}), singles.erase(single);
        else
            singles.push_back(file);
    }
    return groups;
}

// The scan agrees with the plain grouping; each group's name, digest and size are its own;
// the second copy of each group is the one that formed it.
Groups expectAgreesWithLiteral(const fs::path& root, RecordingReader* reader = nullptr) {
    const ScanResult result = scanWebsite(root, nullptr, reader);
    EXPECT_FALSE(result.cancelled);
    Groups copies, expected = literalGrouping(root, reader);
    std::vector<fs::path> forming;
    for (const auto& group : result.duplicates) {
        copies.push_back(group.copies);
        EXPECT_EQ(group.name, group.copies.at(0).filename().string());
        EXPECT_EQ(std::optional(group.md5), MD5(group.copies[0]));
        EXPECT_EQ(group.size, fs::file_size(group.copies[0]));
    }
    for (const auto& group : expected)
        forming.push_back(group[1]);
    EXPECT_EQ(copies, expected);
    EXPECT_EQ(formingCopies(result), forming);
    return copies;
}

// The folders, created, in the order the walk will meet them.
std::vector<fs::path> foldersInWalkOrder(const fs::path& root,
                                         const std::vector<std::string>& names) {
    for (const auto& name : names)
        fs::create_directories(root / name);
    std::vector<fs::path> ordered;
    for (const auto& entry : fs::directory_iterator(root))
        ordered.push_back(entry.path());
    return ordered;
}

std::string bytesOf(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string text(size, '\0');
    for (char& c : text)
        c = static_cast<char>(random());
    return text;
}

TEST(SiteNames, ImagesTextKindsAndPageFolders) {
    for (const char* name : {"photo.JPG", "photo.Jpeg", "anim.GIF", "a.png", "b.tiff", ".png",
                             ".hidden.png", "nav_Rollover_1.png", "menu_Link_x.gif"})
        EXPECT_TRUE(isEligibleImageName(name)) << name;
    for (const char* name : {"photo.tif", "photo.bmp", "photo.png.bak", "png", "index.html",
                             "nav_rollover_1.png", "nav_link_2.gif", "a_link_.PNG", ""})
        EXPECT_FALSE(isEligibleImageName(name)) << name;
    // Rollover and link images have an image name (check counts them) but are never grouped.
    EXPECT_TRUE(hasImageExtension("nav_rollover_1.png") && hasImageExtension("a.TIFF"));
    EXPECT_FALSE(hasImageExtension("a.png.bak"));
    const std::pair<const char*, TextKind> kinds[] = {
        {"a.HTML", TextKind::page},       {"a.shtml", TextKind::page},
        {"feed.rss", TextKind::document}, {"a.Css", TextKind::stylesheet},
        {"data.json", TextKind::script},  {".js", TextKind::none},
        {"a.png", TextKind::none},
    };
    for (const auto& [name, kind] : kinds)
        EXPECT_EQ(textKindOf(name), kind) << name;

    const auto page = pageFilesFor("/S/Old_files/A_files");
    ASSERT_TRUE(page);
    EXPECT_EQ(page->pageFile, fs::path("/S/Old_files/A.html"));
    EXPECT_EQ(page->pageScript, fs::path("/S/Old_files/A_files/A.js"));
    for (const char* none : {"/S/Page_Files", "/S/A_files/pics", "/S/_files", "/S"})
        EXPECT_FALSE(pageFilesFor(none)) << none;
}

TEST(Scan, LinksAreNotFollowedUnreadableFilesJoinNothingCancelGivesNothing) {
    TempDir site, outside;
    writeFile(site / "a/logo.png", "L");
    writeFile(outside / "logo.png", "L");
    writeFile(outside / "deep/logo.png", "L");
    fs::create_directory(site / "b");
    fs::create_symlink(site / "a/logo.png", site / "b/logo.png");
    fs::create_symlink(outside / "logo.png", site / "logo.png");
    fs::create_directory_symlink(outside.path(), site / "linked_files");
    fs::create_symlink(site / "gone.png", site / "c.png");
    fs::create_symlink("loop.png", site / "loop.png");
    for (const char* fifo : {"p1/pipe.png", "p2/pipe.png"}) {
        fs::create_directories((site / fifo).parent_path());
        ASSERT_EQ(::mkfifo((site / fifo).c_str(), 0600), 0);
    }
    EXPECT_TRUE(scanWebsite(site.path()).duplicates.empty());
    fs::create_symlink(site / "p1/pipe.png", site / "pipe.html"); // never a text to read
    EXPECT_TRUE(listSite(site.path()).textFiles.empty());
    writeFile(site / "c/logo.png", "L");
    const Groups found = expectAgreesWithLiteral(site.path());
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(std::set<fs::path>(found[0].begin(), found[0].end()),
              (std::set<fs::path>{site / "a/logo.png", site / "c/logo.png"}));

    // Refused copies join no group, not even with each other.
    RecordingReader reader;
    const auto folders = foldersInWalkOrder(outside / "pairs", {"w", "x", "y"});
    for (const auto& folder : folders)
        writeFile(folder / "pair.gif", "P");
    reader.refused = {folders[0] / "pair.gif", folders[1] / "pair.gif", site / "c/logo.png"};
    EXPECT_TRUE(expectAgreesWithLiteral(outside / "pairs", &reader).empty());
    EXPECT_TRUE(expectAgreesWithLiteral(site.path(), &reader).empty());

    for (const fs::path& none : {site / "missing", site / "a/logo.png"})
        EXPECT_TRUE(scanWebsite(none).duplicates.empty()) << none;
    Progress progress;
    progress.cancel();
    const ScanResult cancelled = scanWebsite(site.path(), &progress);
    EXPECT_TRUE(cancelled.cancelled);
    EXPECT_TRUE(cancelled.duplicates.empty() && formingCopies(cancelled).empty());
}

TEST(Scan, ReadsOnlyWhatNameAndSizeLeaveOpenAndEachByteOnce) {
    TempDir site;
    const auto folders = foldersInWalkOrder(site.path(), {"a", "b", "c"});
    writeFile(folders[0] / "unique.png", "only one of this name");
    writeFile(folders[0] / "sized.png", "short");
    writeFile(folders[1] / "sized.png", "longer one");
    const std::string big = bytesOf(300000, 1);
    std::string early = big, late = big;
    early[10] ^= 1;
    late[250000] ^= 1;
    for (const auto& [folder, bigBytes, farBytes] :
         {std::tuple{0, big, big}, {1, big, late}, {2, early, big}}) {
        writeFile(folders[folder] / "big.png", bigBytes);
        writeFile(folders[folder] / "far.png", farBytes);
    }
    RecordingReader reader;
    Progress progress;
    const ScanResult result = scanWebsite(site.path(), &progress, &reader);
    ASSERT_EQ(result.duplicates.size(), 2u);
    const ScanStats& stats = result.stats;
    EXPECT_EQ(std::tuple(stats.digestsComputed, stats.candidateFiles, stats.candidateBytes,
                         stats.bytesReread, progress.total(), progress.done()),
              std::tuple(2u, 6u, 6u * 300000u, 0u, 6u * 300000u, stats.bytesRead));
    EXPECT_EQ(progress.phase(), Phase::finished);
    std::uint64_t total = 0;
    for (auto& [path, stretches] : reader.reads) {
        EXPECT_TRUE(path.filename() == "big.png" || path.filename() == "far.png") << path;
        std::sort(stretches.begin(), stretches.end());
        std::uint64_t own = 0;
        for (std::size_t i = 0; i < stretches.size(); ++i) {
            EXPECT_TRUE(i == 0 || stretches[i - 1].second <= stretches[i].first) << path;
            own += stretches[i].second - stretches[i].first;
        }
        total += own;
        EXPECT_TRUE(path != folders[2] / "big.png" || own <= 4096u); // dropped at once
    }
    EXPECT_EQ(result.stats.bytesRead, total);
    const auto walked = fs::recursive_directory_iterator(site.path());
    EXPECT_EQ(stats.entriesWalked,
              std::uint64_t(std::distance(fs::begin(walked), fs::end(walked))));
}

TEST(ContentSets, TightMemoryReadsAgainButFindsTheSameSetsAndAGrownFileJoinsNothing) {
    TempDir scratch;
    std::vector<fs::path> files;
    const std::string common = bytesOf(5000, 7);
    for (unsigned i = 0; i < 24; ++i) {
        files.push_back(scratch / ("f" + std::to_string(i)));
        writeFile(files.back(), common + bytesOf(5000, 100 + i / 2));
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
            EXPECT_EQ(std::optional(sets[i].md5), MD5(files[2 * i]));
        }
        EXPECT_EQ(counts.bytesReread > 0, budget < 20000) << budget;
    }
    for (const char* name : {"a", "b"})
        writeFile(scratch / name, "1234");
    writeFile(scratch / "c", "12345"); // grown since it was listed at four bytes
    detail::ReadCounts counts;
    const auto sets = detail::partitionByContent({scratch / "a", scratch / "b", scratch / "c"}, 4,
                                                 reader, nullptr, counts);
    ASSERT_EQ(sets.size(), 1u);
    EXPECT_EQ(sets[0].members, (std::vector<std::size_t>{0, 1}));
}

// Random trees of odd names, markers, hidden entries, folders named like images, contents
// that differ early, late or not at all, FIFOs, links and refused files: the scan, with its
// threads, agrees with the plain grouping on every one.
TEST(Scan, AgreesWithThePlainGroupingOnRandomTrees) {
    const std::vector<std::string> names{
        "logo.png",        "Logo.png", "logo.PNG",           "a.jpg",          "b.gif", "pic.jpeg",
        "x.tiff",          ".h.png",   "nav_rollover_1.png", "nav_link_2.gif", "a.tif", "notes.txt",
        "shapeimage_1.png"};
    const std::vector<std::string> folderNames{
        "a", "b", "A", "pics.png", "x_files", "menu_link_files", ".hid", "images"};
    const std::string base = bytesOf(300000, 3);
    std::vector<std::string> contents{"", "A", "AB", base, base.substr(0, 4096)};
    for (const std::size_t at : {0, 150000, 299999}) {
        contents.push_back(base);
        contents.back()[at] ^= 1;
    }
    for (unsigned seed = 1; seed <= 60; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::mt19937 random(seed);
        const auto pick = [&](std::size_t n) { return static_cast<std::size_t>(random() % n); };
        TempDir site;
        RecordingReader reader;
        std::vector<fs::path> files;
        for (std::size_t i = 0, count = 4 + pick(40); i < count; ++i) {
            fs::path file = site.path();
            for (std::size_t depth = pick(4); depth > 0; --depth)
                file /= folderNames[pick(folderNames.size())];
            fs::create_directories(file);
            file /= names[pick(names.size())];
            if (fs::exists(fs::symlink_status(file)))
                continue;
            if (const std::size_t kind = pick(20); kind == 0)
                ASSERT_EQ(::mkfifo(file.c_str(), 0644), 0);
            else if (kind == 1 && !files.empty())
                fs::create_symlink(files[pick(files.size())], file);
            else if (kind == 2)
                fs::create_directory_symlink(site.path(), file);
            else {
                writeFile(file, contents[pick(contents.size())]);
                files.push_back(file);
                if (pick(10) == 0)
                    reader.refused.insert(file);
            }
        }
        expectAgreesWithLiteral(site.path(), &reader);
    }
}

} // namespace
} // namespace tolvane
