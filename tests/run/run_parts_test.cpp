// The parts a run is built from: the file steps, the site lock, the writer's temporary names,
// the record of runs and how failures are worded.
#include "run/file_manager.hpp"
#include "run/page_rewrite.hpp"
#include "run/run_journal.hpp"
#include "run/run_support.hpp"
#include "run/site_lock.hpp"
#include "util/file_io.hpp"
#include "util/text.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <set>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tolvane {
namespace {

namespace fs = std::filesystem;
using test::readFile;
using test::writeFile;
using Tree = std::map<std::string, std::string>;
using Names = std::vector<std::string>;

// Each step as it should end, then the whole tree: no step replaces what is at its
// destination, goes through a link or leaves a temporary file.
TEST(RealFileManager, StepsNeverReplaceNorFollowALink) {
    test::TempDir dir;
    RealFileManager files;
    const auto d = [&](const std::string& relative) { return dir / relative; };
    const std::string big(300 * 1024, 'q');
    writeFile(d("A_files/logo.png"), "logo bytes");
    writeFile(d("images/taken.png"), "other");
    writeFile(d("big.png"), big);
    writeFile(d("A.html"), "old A");
    writeFile(d("B.js"), "old B");
    ::chmod(d("B.js").c_str(), 0600);
    writeFile(d("outside.html"), "not the site's");
    fs::create_symlink(d("outside.html"), d("C.html"));
    fs::create_symlink(d("A_files/logo.png"), d("link.png"));
    fs::create_directory_symlink(d("A_files"), d("linked_files"));
    const auto batch = [](const std::vector<FileResult>& results) {
        const auto failed = std::find_if(results.begin(), results.end(),
                                         [](const FileResult& r) { return r.has_value(); });
        return failed == results.end() ? FileResult{} : *failed;
    };
    using E = std::errc;
    const auto bytes = [](const char* text) { return asBytes(std::string_view(text)); };
    // clang-format off
    const std::vector<std::tuple<std::string, std::function<FileResult()>, std::optional<E>>> steps{
        {"link", [&] { return files.linkOrCopy(d("A_files/logo.png"), d("images/logo.png")); }, {}},
        {"link onto", [&] { return files.linkOrCopy(d("big.png"), d("images/taken.png")); }, E::file_exists},
        {"link a link", [&] { return files.linkOrCopy(d("link.png"), d("images/l.png")); }, E::invalid_argument},
        {"move onto", [&] { return files.moveItem(d("A.html"), d("images/taken.png")); }, E::file_exists},
        {"move a folder", [&] { return files.moveItem(d("A_files"), d("images/A")); }, E::is_a_directory},
        {"move", [&] { return files.moveItem(d("big.png"), d("images/big.png")); }, {}},
        {"copy", [&] { return files.copyFile(d("images/big.png"), d("copy.png"), 0640); }, {}},
        {"copy onto", [&] { return files.copyFile(d("images/big.png"), d("copy.png"), 0644); }, E::file_exists},
        {"make a folder twice", [&] { return files.createDirectory(d("images")); }, E::file_exists},
        {"make two levels", [&] { return files.createDirectory(d("x/y")); }, E::no_such_file_or_directory},
        {"remove a folder", [&] { return files.removeItem(d("images")); }, E::is_a_directory},
        {"write", [&] {
             return batch(files.writeFiles({{d("A.html"), bytes("new A")}, {d("B.js"), bytes("new B")}})); }, {}},
        {"write through a link", [&] { return batch(files.writeFiles({{d("C.html"), bytes("x")}})); },
         E::too_many_symbolic_link_levels},
        {"copies, with their bytes checked", [&] {
             fs::create_directories(d("P_files"));
             return batch(files.copyFiles({{d("images/big.png"), d("P_files/a.png"), 0640, ""},
                 {d("images/big.png"), d("P_files/b.png"), 0644, md5(std::string_view(big))}})); }, {}},
        {"a copy of other bytes than expected", [&] {
             return batch(files.copyFiles({{d("images/big.png"), d("P_files/c.png"), 0644, md5("q")}})); },
         E::io_error},
    };
    // clang-format on
    for (const auto& [what, step, expected] : steps) {
        const FileResult result = step();
        EXPECT_EQ(result.has_value(), expected.has_value()) << what;
        if (result && expected && result->code.category() == std::generic_category()) {
            EXPECT_EQ(result->code, std::make_error_code(*expected)) << what;
        }
    }
    // clang-format off
    EXPECT_EQ(test::snapshot(dir.path()),
              (Tree{{"A.html", "new A"}, {"A_files/logo.png", "logo bytes"}, {"B.js", "new B"},
                    {"C.html", "not the site's"}, {"link.png", "logo bytes"}, {"P_files/a.png", big},
                    {"P_files/b.png", big}, {"copy.png", big}, {"images/big.png", big},
                    {"images/logo.png", "logo bytes"}, {"images/taken.png", "other"},
                    {"outside.html", "not the site's"}}));
    // clang-format on
    EXPECT_EQ(fs::hard_link_count(d("images/logo.png")), 2u);
    EXPECT_EQ(fs::hard_link_count(d("copy.png")), 1u);
    EXPECT_EQ(files.mode(d("copy.png")), 0640u);
    EXPECT_EQ(files.mode(d("B.js")), 0600u);
    EXPECT_EQ(files.mode(d("link.png")), std::nullopt);
    EXPECT_FALSE(files.isDirectory(d("linked_files")));
    EXPECT_TRUE(files.isDirectory(d("A_files")));
}

// Many copies at once (several threads share the work), of a small kept file held in memory
// and of a large one compared file to file: the odd ones stay with their bytes. A check takes a
// copy's settled mark for its bytes (copy 50 has other bytes, 51 a mark that changed); a
// removal reads every copy.
TEST(RealFileManager, CopiesGoOnlyWhereTheyStillHoldTheKeptBytes) {
    test::TempDir dir;
    RealFileManager files;
    const std::string small = "small picture";
    std::string large(3 << 20, 'L');
    large.back() = 'z';
    const fs::path smallKept = dir / "images/small.png", largeKept = dir / "images/large.png";
    const fs::path missingKept = dir / "images/gone.png";
    writeFile(smallKept, small);
    writeFile(largeKept, large);
    std::vector<fs::path> copies;
    std::vector<FileManager::CopyPair> pairs;
    Tree expected{{"images/small.png", small}, {"images/large.png", large}};
    for (std::size_t i = 0; i < 300; ++i) {
        std::string bytes = i % 3 == 0 ? large : small;
        if (i == 7 || i == 9 || i == 50 || i == 51)
            bytes[bytes.size() / 2] ^= 1; // same size, one bit differs
        if (i == 13 || i == 15)
            bytes += "+";
        copies.push_back(dir / ("P" + std::to_string(i) + "_files/pic.png"));
        writeFile(copies.back(), bytes);
        if (bytes != (i % 3 == 0 ? large : small) || i == 40)
            expected[copies.back().lexically_relative(dir.path()).string()] = bytes;
    }
    for (std::size_t i = 0; i < copies.size(); ++i)
        pairs.push_back({&copies[i], i == 40      ? &missingKept
                                     : i % 3 == 0 ? &largeKept
                                                  : &smallKept});
    fs::remove(copies[21]);
    fs::remove(copies[30]);
    expected["P30_files/pic.png/x"] = "";
    writeFile(copies[30] / "x", "");
    const auto failed = [&](const std::vector<FileResult>& results) {
        std::set<std::size_t> found;
        for (std::size_t i = 0; i < results.size(); ++i)
            if (results[i])
                found.insert(i);
        return found;
    };
    struct stat info {};
    ::lstat(copies[50].c_str(), &info);
    pairs[50].settled = changeMark(info), pairs[51].settled = changeMark(info) + 2;
    const std::set<std::size_t> odd{7, 9, 13, 15, 21, 30, 40, 51};
    EXPECT_EQ(failed(files.checkCopies(pairs)), odd);
    EXPECT_EQ(test::snapshot(dir.path()).size(), 300u + 2u - 1u); // checking removes nothing
    const auto results = files.removeCopies(pairs);
    EXPECT_EQ(failed(results), (std::set<std::size_t>{7, 9, 13, 15, 21, 30, 40, 50, 51}));
    EXPECT_EQ(results[7]->code, make_error_code(RunErrc::contentDiffers));
    EXPECT_EQ(results[40]->paths.front(), missingKept);
    EXPECT_EQ(test::snapshot(dir.path()), expected);
}

// More copies than one flush takes: each batch is flushed while the next is written.
TEST(RealFileManager, CopiesInSeveralBatchesAllTakeTheirNames) {
    test::TempDir dir;
    writeFile(dir / "kept.png", "kept");
    std::vector<FileManager::CopyRequest> requests;
    Tree expected{{"kept.png", "kept"}};
    for (std::size_t i = 0; i < 9000; ++i) {
        requests.push_back({dir / (i == 8500 ? "gone.png" : "kept.png"), dir / std::to_string(i),
                            0644, md5(i == 5000 ? "other" : "kept")});
        if (i != 5000 && i != 8500)
            expected[std::to_string(i)] = "kept";
    }
    const std::vector<FileResult> results = RealFileManager().copyFiles(requests);
    for (std::size_t i = 0; i < results.size(); ++i)
        EXPECT_EQ(results[i].has_value(), i == 5000 || i == 8500) << i;
    EXPECT_EQ(test::snapshot(dir.path()), expected);
}

TEST(SiteLock, OneHolderAtATimeAcrossProcesses) {
    test::TempDir dir;
    std::error_code error;
    auto first = SiteLock::tryAcquire(dir.path(), error);
    ASSERT_TRUE(first) << error.message();
    EXPECT_FALSE(SiteLock::tryAcquire(dir.path(), error));
    EXPECT_EQ(error, std::make_error_code(std::errc::resource_unavailable_try_again));
    const pid_t child = ::fork();
    if (child == 0) {
        std::error_code childError;
        const bool got = SiteLock::tryAcquire(dir.path(), childError).has_value();
        ::_exit(!got && childError == std::errc::resource_unavailable_try_again ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    // A run of the held site is refused at once and changes nothing.
    writeFile(dir / "A_files/x.png", "X");
    writeFile(dir / "B_files/x.png", "X");
    RealFileManager real;
    test::RecordingReporter reporter;
    const RunOutcome refused = startOptimization(scanWebsite(dir.path()), real, reporter);
    EXPECT_TRUE(refused.busy);
    EXPECT_EQ(reporter.sheets, std::vector{cli::siteBusyMessage(fs::absolute(dir.path()))});
    EXPECT_TRUE(fs::exists(dir / "B_files/x.png"));
    first.reset();
    // A run asked to keep the lock hands it over still held; any other lets it go.
    for (const bool keep : {false, true}) {
        writeFile(dir / "A_files/x.png", "X");
        writeFile(dir / "B_files/x.png", "X");
        RunOptions options;
        options.keepLock = keep;
        const RunOutcome run = startOptimization(scanWebsite(dir.path()), real, reporter, options);
        EXPECT_TRUE(run.completed);
        EXPECT_EQ(run.lock != nullptr, keep);
        EXPECT_EQ(SiteLock::tryAcquire(dir.path(), error).has_value(), !keep);
    }
    EXPECT_TRUE(SiteLock::tryAcquire(dir.path(), error));
}

TEST(WriterTemporaryName, RecognisesExactlyTheWritersOwnNamesAndFitsTheLimit) {
    test::TempDir dir;
    std::string accented;
    while (accented.size() + 2 <= 250)
        accented += "\xc3\xa9";
    for (const std::string& name : {std::string(250, 'p') + ".html", accented + ".html"}) {
        writeFile(dir / name, "old");
        const std::string temporary =
            fs::path(writerTemporaryTemplate(dir / name)).filename().string();
        EXPECT_LE(temporary.size(), 255u);
        EXPECT_TRUE(isWriterTemporaryName(temporary) && isUtf8(temporary)) << temporary;
        ASSERT_FALSE(writeFileAtomically(dir / name, asBytes(std::string_view("new"))));
        EXPECT_EQ(readFile(dir / name), "new");
    }
    EXPECT_EQ(test::snapshot(dir.path()).size(), 2u);
    EXPECT_TRUE(isWriterTemporaryName(".Page_0084.js.tolvane-Ul7CPD"));
    for (const char* name :
         {"Page_0084.js.tolvane-Ul7CPD", ".Page.js.tolvane-Ul7CP", ".Page.js.tolvane-Ul7CPDx",
          ".Page.js.tolvane-Ul7C.D", ".tolvane-Ul7CPD", ".Page.js.tolvan-Ul7CPD", "logo.png"})
        EXPECT_FALSE(isWriterTemporaryName(name)) << name;
}

class RunJournalTest : public ::testing::Test {
  protected:
    // A run of the site with one removal, finished or not, under the given folder name.
    fs::path recordRun(const std::string& name, bool finish = true, bool change = true) {
        std::error_code error;
        std::optional<RunJournal> journal = RunJournal::start(root, error);
        EXPECT_TRUE(journal) << error.message();
        const RunJournal::Removal removal{root / "a_files/x.png", root / "images/x.png", md5("X"),
                                          1, 0644};
        EXPECT_FALSE(change && journal->removing({removal}));
        EXPECT_FALSE(finish && journal->finished({1, 1, 0}));
        const fs::path renamed = journal->folder().parent_path() / name;
        fs::rename(journal->folder(), renamed);
        return renamed;
    }
    std::vector<std::string> listed() {
        std::vector<std::string> names;
        for (const auto& run : recordedRuns(root))
            names.push_back(run.folder.filename().string() +
                            (run.undoable ? "" : " (not offered)"));
        return names;
    }

    test::ScopedJournalHome home;
    test::TempDir dir;
    fs::path root = dir / "site";
};

TEST_F(RunJournalTest, RunsAreListedNewestFirstByTheTimeInTheirNames) {
    fs::create_directories(root);
    for (const std::string name :
         {"20250601T120000Z-000001", "20240101T000000Z-000002", "20250601T120000Z-000003",
          "20261231T235959Z-000004", "20250601X120000Z-000005", "20250601T120000Y-000006",
          "2025061T120000Z-000007", "20250601T120000Z"})
        recordRun(name, name != "20240101T000000Z-000002");
    recordRun("20200101T000000Z-000009", true, false);
    EXPECT_EQ(listed(),
              (std::vector<std::string>{"20261231T235959Z-000004", "20250601T120000Z-000003",
                                        "20250601T120000Z-000001", "20240101T000000Z-000002",
                                        "20200101T000000Z-000009 (not offered)"}));
    const auto runs = recordedRuns(root);
    EXPECT_EQ(runs[0].time, std::chrono::system_clock::from_time_t(1798761599));
    EXPECT_FALSE(runs[3].finished);
    // The same site in another spelling or through a link; not another site.
    fs::create_directory_symlink(root, dir / "alias");
    for (const fs::path& spelling : {dir / "site/", dir / "x/../site", dir / "alias"})
        EXPECT_EQ(recordedRuns(spelling).size(), 5u) << spelling;
    fs::create_directories(dir / "other");
    EXPECT_TRUE(recordedRuns(dir / "other").empty());
    // Undone runs are no longer offered; one whose undo left something holds back older ones.
    ASSERT_FALSE(markUndone(runs[0], true, 0));
    ASSERT_FALSE(markUndone(runs[1], false, 2));
    EXPECT_EQ(listed()[0], "20261231T235959Z-000004 (not offered)");
    EXPECT_EQ(listed()[2], "20250601T120000Z-000001 (not offered)");
    EXPECT_EQ(lastUndoableRun(root)->folder, runs[1].folder);
    ASSERT_FALSE(markUndone(runs[1], true, 0));
    EXPECT_EQ(lastUndoableRun(root)->folder, runs[2].folder);
}

TEST_F(RunJournalTest, HomeComesFromTheEnvironment) {
    EXPECT_EQ(journalHome(), home.path() / "tolvane");
    const std::string savedHome = std::getenv("HOME") ? std::getenv("HOME") : "";
    ::setenv("HOME", (dir / "home").c_str(), 1);
    ::setenv("XDG_DATA_HOME", "relative/not/allowed", 1);
    EXPECT_EQ(journalHome(), dir / "home/.local/share/tolvane");
    ::unsetenv("XDG_DATA_HOME");
    EXPECT_EQ(journalHome(), dir / "home/.local/share/tolvane");
    ::setenv("HOME", savedHome.c_str(), 1);
}

// A file the run left as it was (recorded after its rewrite) is no change to undo.
struct KeptCase {
    std::string name;
    Names rewritten;                    // recorded as rewritten, in order
    Names kept;                         // then recorded as left as they were
    std::vector<std::size_t> toPutBack; // the rewrites undo reads, by their place above
    std::size_t counted;                // files rewritten at most, as the record tells
    bool offered;                       // offered for undo
};

const std::vector<KeptCase> keptCases = {
    {"NoneKept", {"A.html", "B.html"}, {}, {0, 1}, 2, true},
    {"OneOfTwoKept", {"A.html", "B.html"}, {"A.html"}, {1}, 1, true},
    {"TheOnlyRewriteKept", {"A.html"}, {"A.html"}, {}, 0, false},
    {"TheLastOfTwoRewritesOfOneFileKept", {"A.html", "A.html"}, {"A.html"}, {0}, 1, true},
};

TEST_F(RunJournalTest, AFileLeftAsItWasIsNoChangeToUndo) {
    for (const KeptCase& c : keptCases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(home.path() / "tolvane");
        fs::create_directories(root);
        std::error_code error;
        std::optional<RunJournal> journal = RunJournal::start(root, error);
        ASSERT_TRUE(journal) << error.message();
        for (std::size_t i = 0; i < c.rewritten.size(); ++i) {
            const std::string old = "old " + std::to_string(i);
            ASSERT_FALSE(journal->rewriting(
                {{root / c.rewritten[i], asBytes(old), md5("new " + std::to_string(i))}}));
        }
        std::vector<fs::path> kept;
        for (const auto& name : c.kept)
            kept.push_back(root / name);
        ASSERT_FALSE(journal->notRewritten(kept));

        const auto runs = recordedRuns(root);
        ASSERT_EQ(runs.size(), 1u);
        EXPECT_EQ(runs[0].summary.filesRewritten, c.counted);
        EXPECT_EQ(runs[0].undoable, c.offered);
        EXPECT_FALSE(runs[0].damaged);
        const auto records = readRunRecords(runs[0], error);
        ASSERT_TRUE(records) << error.message();
        ASSERT_EQ(records->rewrites.size(), c.toPutBack.size());
        for (std::size_t i = 0; i < c.toPutBack.size(); ++i) {
            EXPECT_EQ(records->rewrites[i].path, root / c.rewritten[c.toPutBack[i]]);
            EXPECT_EQ(records->rewrites[i].newMd5, md5("new " + std::to_string(c.toPutBack[i])));
        }
    }
}

// One file rewritten for one image: its folder climbs to images/; a missing file is only
// logged; text that is not UTF-8 and a failed write leave the file as it was.
TEST(PageRewrite, RewritesOneFileOrReportsWhyNot) {
    test::TempDir dir;
    EXPECT_EQ(imagesFolderReference("/S/A_files", "/S"), "images");
    EXPECT_EQ(imagesFolderReference("/S/Old_files/A_files", "/S/"), "../images");
    EXPECT_EQ(imagesFolderReference("/S/a/b/c/E_files", "/S"), "../../../images");
    const std::string page = "\xEF\xBB\xBF<p>caf\xC3\xA9</p>\r\n<img src=\"E_files/logo.png\">"
                             "<a>E_files/logo.png</a> E_files/Logo.png B_files/logo.png";
    const std::string latin1 = "caf\xE9 <img src=\"E_files/logo.png\">";
    const std::string script = "i.src = \"E_files\\/logo.png\";";
    const std::vector<std::tuple<std::string, std::string, RewriteResult, std::string>> cases{
        {page,
         "\xEF\xBB\xBF<p>caf\xC3\xA9</p>\r\n<img src=\"../images/logo-0123abcd.png\">"
         "<a>../images/logo-0123abcd.png</a> E_files/Logo.png B_files/logo.png",
         RewriteResult::rewritten, "log Updating file: $ to use moved image: logo-0123abcd.png"},
        {script, "i.src = \"..\\/images\\/logo-0123abcd.png\";", RewriteResult::rewritten,
         "log Updating file: $ to use moved image: logo-0123abcd.png"},
        {latin1, latin1, RewriteResult::failed, "sheet Unable to update $"},
        {"", "", RewriteResult::missing, "log HTML/js file: $ doesn't exist"},
        {"<img src=\"E_files/logo.png\">", "<img src=\"E_files/logo.png\">", RewriteResult::failed,
         "sheet Unable to write back to file: $"},
    };
    RealFileManager real;
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const auto& [before, after, result, line] = cases[i];
        const fs::path file = dir / ("Blog/E" + std::to_string(i) + (i == 1 ? ".js" : ".html"));
        if (result != RewriteResult::missing)
            writeFile(file, before);
        ::chmod(file.c_str(), 0640);
        test::FailingFileManager files(
            real, {{test::FailingFileManager::Step::write, dir / "Blog/E4.html"}});
        test::RecordingReporter reporter;
        EXPECT_EQ(processFile(file, "logo.png", dir / "Blog/E_files",
                              {imagesFolderReference(dir / "Blog/E_files", dir.path()),
                               "logo-0123abcd.png"},
                              files, reporter),
                  result)
            << i;
        if (result != RewriteResult::missing) {
            EXPECT_EQ(readFile(file), after) << i;
            EXPECT_EQ(real.mode(file), 0640u) << i;
        }
        std::string expected = line;
        if (const auto at = expected.find('$'); at != std::string::npos)
            expected.replace(at, 1, file.string());
        EXPECT_EQ(reporter.events.back(), expected) << i;
    }
    EXPECT_EQ(test::leftoverTemporaries(dir.path()), std::vector<std::string>{});
}

// Exactly the failures carry a sheet message; every other event but the end ones a log line.
TEST(Event, FailuresAreTheKindsWithASheetAndSayWhatFailed) {
    for (int k = 0; k <= static_cast<int>(EventKind::completed); ++k) {
        const Event event{static_cast<EventKind>(k), {"/S/A_files/logo.png"}, {}, {}, {}};
        EXPECT_EQ(cli::failureMessage(event).empty(), !isFailure(event.kind)) << k;
        EXPECT_EQ(cli::logLines(event).empty(),
                  event.kind == EventKind::finished || event.kind == EventKind::completed);
    }
    const FileError error{FileError::Operation::move,
                          {"/S/A_files/logo.png", "/S/images/logo.png"},
                          std::make_error_code(std::errc::file_exists)};
    EXPECT_EQ(cli::errorLogLine("Unable to move", error),
              "Unable to move, error: Cannot move /S/A_files/logo.png to /S/images/logo.png: " +
                  std::make_error_code(std::errc::file_exists).message() + " (generic 17)");
    EXPECT_EQ(cli::explain({FileError::Operation::compare,
                            {"/S/B_files/logo.png", "/S/images/logo.png"},
                            make_error_code(RunErrc::contentDiffers)}),
              "\xE2\x80\x9Clogo.png\xE2\x80\x9D was left as it is. Its content differs from the "
              "copy kept in the site images folder.");
}

} // namespace
} // namespace tolvane
