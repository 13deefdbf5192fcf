// The record each run keeps for undo: where it lives, what it holds, and how it reads back,
// also after a crash cut its last line short.
#include "run/run_journal.hpp"

#include "support/simulated_run.hpp"
#include "support/temp_dir.hpp"
#include "util/digest.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <sys/stat.h>

namespace tolvane {
namespace {

namespace fs = std::filesystem;
using test::readFile;
using test::writeFile;

class RunJournalTest : public ::testing::Test {
  protected:
    RunJournal startRun(const fs::path& root) {
        std::error_code error;
        std::optional<RunJournal> journal = RunJournal::start(root, error);
        EXPECT_FALSE(error) << error.message();
        if (!journal)
            throw std::runtime_error("no journal");
        return std::move(*journal);
    }

    // Gives a run's folder another time stamp and sequence, as if it had started then.
    fs::path renameRun(const RunJournal& journal, const std::string& name) {
        const fs::path renamed = journal.folder().parent_path() / name;
        fs::rename(journal.folder(), renamed);
        return renamed;
    }

    test::ScopedJournalHome home;
    test::TempDir dir;
};

TEST_F(RunJournalTest, HomeComesFromTheEnvironment) {
    EXPECT_EQ(journalHome(), home.path() / "tolvane");
    ::setenv("XDG_DATA_HOME", "relative/not/allowed", 1);
    const char* user = std::getenv("HOME");
    const std::string savedHome = user ? user : "";
    ::setenv("HOME", (dir / "home").c_str(), 1);
    EXPECT_EQ(journalHome(), dir / "home/.local/share/tolvane");
    ::unsetenv("XDG_DATA_HOME");
    EXPECT_EQ(journalHome(), dir / "home/.local/share/tolvane");
    ::setenv("HOME", savedHome.c_str(), 1);
}

TEST_F(RunJournalTest, ARunBelongsToTheSiteItsRootFileNamesInAnySpelling) {
    const fs::path root = dir / "site";
    fs::create_directories(root);
    fs::create_directories(dir / "other");
    RunJournal journal = startRun(root);
    ASSERT_FALSE(journal.imagesFolderCreated(root / "images"));
    for (const fs::path& spelling : {root, dir / "site/", dir / "other/../site"})
        EXPECT_EQ(recordedRuns(spelling).size(), 1u) << spelling;
    // A folder among the site's runs that names another site is not one of them.
    test::writeFile(journal.folder() / "root", (dir / "other").string() + "\n");
    EXPECT_TRUE(recordedRuns(root).empty());
    test::writeFile(journal.folder() / "root", "");
    EXPECT_TRUE(recordedRuns(root).empty());
}

TEST_F(RunJournalTest, EveryRecordReadsBackWithNamesOfAnyBytes) {
    const fs::path root = dir / "site";
    fs::create_directories(root);
    RunJournal journal = startRun(root);

    // Its folder: below the home, filed by the site's digest, named by UTC time and sequence.
    const fs::path site =
        home.path() / "tolvane/runs" / md5(fs::canonical(root).string()).substr(0, 16);
    EXPECT_EQ(journal.folder().parent_path(), site);
    const std::string name = journal.folder().filename().string();
    ASSERT_EQ(name.size(), 23u) << name;
    EXPECT_EQ(name[8], 'T');
    EXPECT_EQ(name.substr(15), "Z-000001");
    EXPECT_EQ(readFile(journal.folder() / "root"), root.string() + "\n");
    struct stat info {};
    ASSERT_EQ(::stat(journal.folder().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u); // old page texts are private

    const fs::path odd = root / "Odd\t\\\n\r_files/x y.png";
    const std::string oldA = "<img src=\"A_files/x.png\">";
    const std::string oldOdd = std::string("caf\xE9\0\n\\t", 9);
    ASSERT_FALSE(journal.imagesFolderCreated(root / "images"));
    ASSERT_FALSE(journal.placing({{root / "images/x.png", md5("X"), 1}}));
    ASSERT_FALSE(journal.rewriting({{root / "A.html", asBytes(oldA), md5("new A")},
                                    {root / "Odd\t.html", asBytes(oldOdd), md5("new odd")}}));
    ASSERT_FALSE(
        journal.removing({{root / "A_files/x.png", root / "images/x.png", md5("X"), 1, 0644},
                          {odd, root / "images/x.png", md5("X"), 1, 0600}}));

    // Before its end: listed as cut short, its counts the most its records allow.
    auto runs = recordedRuns(root);
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_FALSE(runs[0].finished);
    EXPECT_TRUE(runs[0].summaryIsUpperBound);
    EXPECT_EQ(runs[0].summary.copiesRemoved, 2u);
    EXPECT_EQ(runs[0].summary.bytesSaved, 2u);
    EXPECT_EQ(runs[0].summary.filesRewritten, 2u);
    EXPECT_TRUE(runs[0].undoable);

    ASSERT_FALSE(journal.finished({1, 1, 1}));
    runs = recordedRuns(root);
    ASSERT_EQ(runs.size(), 1u);
    const RecordedRun& run = runs[0];
    EXPECT_EQ(run.folder, journal.folder());
    EXPECT_EQ(run.root, root);
    EXPECT_EQ(run.stamp, name.substr(0, 16));
    EXPECT_TRUE(run.finished);
    EXPECT_FALSE(run.summaryIsUpperBound);
    EXPECT_EQ(run.summary.copiesRemoved, 1u); // the run's own counts now
    EXPECT_EQ(run.summary.bytesSaved, 1u);
    EXPECT_EQ(run.summary.filesRewritten, 1u);
    EXPECT_FALSE(run.damaged);
    EXPECT_FALSE(run.undone);
    EXPECT_TRUE(run.undoable);

    std::error_code error;
    const auto records = readRunRecords(run, error);
    ASSERT_TRUE(records) << error.message();
    EXPECT_EQ(records->imagesFolder, root / "images");
    ASSERT_EQ(records->placed.size(), 1u);
    EXPECT_EQ(records->placed[0].path, root / "images/x.png");
    EXPECT_EQ(records->placed[0].md5, md5("X"));
    ASSERT_EQ(records->rewrites.size(), 2u);
    EXPECT_EQ(records->rewrites[1].path, root / "Odd\t.html");
    EXPECT_EQ(records->rewrites[1].newMd5, md5("new odd"));
    EXPECT_EQ(records->rewrites[1].oldMd5, md5(oldOdd));
    ASSERT_EQ(records->removals.size(), 2u);
    EXPECT_EQ(records->removals[1].copy, odd);
    EXPECT_EQ(records->removals[1].kept, root / "images/x.png");
    EXPECT_EQ(records->removals[1].mode, 0600u);
    EXPECT_EQ(records->removals[0].mode, 0644u);
    EXPECT_FALSE(records->damaged);
    // One record per line, whatever the names hold.
    const std::string lines = readFile(run.folder / "records");
    EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), 9);

    const auto text = readOldText(run, records->rewrites[1], error);
    ASSERT_TRUE(text) << error.message();
    EXPECT_EQ(test::toString(*text), oldOdd);
    EXPECT_EQ(test::toString(*readOldText(run, records->rewrites[0], error)), oldA);

    // Damaged earlier texts are refused, not written back.
    {
        std::fstream pack(run.folder / "old-texts",
                          std::ios::in | std::ios::out | std::ios::binary);
        pack.seekp(static_cast<std::streamoff>(records->rewrites[1].offset));
        pack.put('K');
    }
    EXPECT_FALSE(readOldText(run, records->rewrites[1], error));
    EXPECT_TRUE(error);
    EXPECT_TRUE(readOldText(run, records->rewrites[0], error));
}

TEST_F(RunJournalTest, AByteChangedInsideAnyRecordMarksTheRunDamaged) {
    const fs::path root = dir / "site";
    fs::create_directories(root);
    RunJournal journal = startRun(root);
    ASSERT_FALSE(journal.imagesFolderCreated(root / "images"));
    ASSERT_FALSE(journal.placing({{root / "images/x.png", md5("X"), 1}}));
    ASSERT_FALSE(journal.rewriting({{root / "A.html", asBytes("old A"), md5("new A")}}));
    ASSERT_FALSE(
        journal.removing({{root / "A_files/x.png", root / "images/x.png", md5("X"), 12, 0644}}));
    ASSERT_FALSE(journal.finished({1, 12, 1}));
    ASSERT_FALSE(markUndone(recordedRuns(root).at(0), false, 3));
    const fs::path file = journal.folder() / "records";
    const std::string intact = readFile(file);
    ASSERT_FALSE(recordedRuns(root).at(0).damaged);

    // Every byte after the header but the last line end (without it, the line reads as one a
    // crash cut short), changed by one bit.
    for (std::size_t at = intact.find('\n') + 1; at + 1 < intact.size(); ++at) {
        std::string changed = intact;
        changed[at] = static_cast<char>(changed[at] ^ 0x01);
        writeFile(file, changed);
        const auto runs = recordedRuns(root);
        ASSERT_EQ(runs.size(), 1u);
        EXPECT_TRUE(runs[0].damaged) << "byte " << at;
    }

    // A run recorded before lines were checked reads as before, and its undo is recorded in
    // its own form.
    writeFile(file, "tolvane-run\t1\nremove\t" + (root / "B_files/x.png").string() + "\t" +
                        (root / "images/x.png").string() + "\t" + md5("X") + "\t1\t644\n");
    auto runs = recordedRuns(root);
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_FALSE(runs[0].damaged);
    EXPECT_TRUE(runs[0].undoable);
    std::error_code error;
    const auto records = readRunRecords(runs[0], error);
    ASSERT_TRUE(records);
    ASSERT_EQ(records->removals.size(), 1u);
    EXPECT_EQ(records->removals[0].copy, root / "B_files/x.png");
    ASSERT_FALSE(markUndone(runs[0], true, 0));
    EXPECT_EQ(readFile(file).substr(readFile(file).rfind("undone")), "undone\tcomplete\n");
    runs = recordedRuns(root);
    EXPECT_FALSE(runs[0].damaged);
    EXPECT_TRUE(runs[0].undone);
    EXPECT_FALSE(runs[0].undoable);
}

TEST_F(RunJournalTest, EachLineOfAnUncheckedRecordIsReadOrMarksTheRunDamaged) {
    const fs::path root = dir / "site";
    fs::create_directories(root);
    const fs::path file = startRun(root).folder() / "records";
    const std::string a = (root / "A_files/x.png").string(), b = (root / "images/x.png").string();
    const std::string m = md5("X"), t = "\t";
    struct Case {
        std::string line;
        bool damaged;
        std::size_t removed = 0, rewritten = 0;
        std::uint64_t saved = 0;
    };
    const Case cases[] = {
        {"images" + t + b, false},
        {"images", true},
        {"images" + t + b + t + b, true},
        {"place" + t + b + t + m + t + "1", false},
        {"place" + t + b + t + "x" + t + "1", true},
        {"place" + t + b + t + m + t + "1x", true},
        {"place" + t + b + t + m, true},
        {"rewrite" + t + a + t + "0" + t + "5" + t + m + t + m, false, 0, 1},
        {"rewrite" + t + a + t + "-1" + t + "5" + t + m + t + m, true},
        {"rewrite" + t + a + t + "0" + t + "" + t + m + t + m, true},
        {"rewrite" + t + a + t + "0" + t + "5" + t + m.substr(1) + t + m, true},
        {"rewrite" + t + a + t + "0" + t + "5" + t + m + t + "Z" + m.substr(1), true},
        {"rewrite" + t + a + t + "0" + t + "5" + t + m, true},
        {"remove" + t + a + t + b + t + m + t + "7" + t + "644", false, 1, 0, 7},
        {"remove" + t + a + t + b + t + m + t + "7" + t + "9", true},
        {"remove" + t + a + t + b + t + m + t + "x7" + t + "644", true},
        {"remove" + t + a + t + b + t + m.substr(2) + t + "7" + t + "644", true},
        {"remove" + t + a + t + b + t + m + t + "7", true},
        {"summary" + t + "1" + t + "2" + t + "3", false},
        {"summary" + t + "1" + t + "x" + t + "3", true},
        {"summary" + t + "x" + t + "2" + t + "3", true},
        {"summary" + t + "1" + t + "2" + t + "x", true},
        {"summary" + t + "1" + t + "2", true},
        {"finish", false},
        {"finish" + t + "x", true},
        {"undone" + t + "complete", false},
        {"undone" + t + "later", true},
        {"moved" + t + a, true},
    };
    for (const Case& c : cases) {
        writeFile(file, "tolvane-run\t1\n" + c.line + "\n");
        const auto runs = recordedRuns(root);
        ASSERT_EQ(runs.size(), 1u) << c.line;
        EXPECT_EQ(runs[0].damaged, c.damaged) << c.line;
        EXPECT_EQ(runs[0].summary.copiesRemoved, c.removed) << c.line;
        EXPECT_EQ(runs[0].summary.filesRewritten, c.rewritten) << c.line;
        EXPECT_EQ(runs[0].summary.bytesSaved, c.saved) << c.line;
    }
    // Without a header of a known version the folder holds no run.
    for (const std::string head : {"tolvane-run\t3", "tolvane-run", "", "x"}) {
        writeFile(file, head + "\nfinish\n");
        EXPECT_TRUE(recordedRuns(root).empty()) << head;
    }
}

TEST_F(RunJournalTest, RunsAreListedNewestFirstByTheTimeInTheirNames) {
    const fs::path root = dir / "site";
    fs::create_directories(root);
    // Made in one order, named in another: the names decide.
    const std::vector<std::string> names{"20250601T120000Z-000001", "20240101T000000Z-000002",
                                         "20250601T120000Z-000003", "20261231T235959Z-000004"};
    for (const std::string& name : names) {
        RunJournal journal = startRun(root);
        ASSERT_FALSE(
            journal.removing({{root / "a_files/x.png", root / "images/x.png", md5("X"), 1, 0644}}));
        if (name != names[1]) {
            ASSERT_FALSE(journal.finished({1, 1, 0}));
        }
        renameRun(journal, name);
    }
    // Another site's runs, a folder of another name, and a run without any change are not listed
    // (or not offered).
    fs::create_directories(dir / "other");
    startRun(dir / "other").finished({});
    RunJournal empty = startRun(root);
    ASSERT_FALSE(empty.finished({}));
    renameRun(empty, "20200101T000000Z-000009");
    fs::create_directories(home.path() / "tolvane/runs" /
                           md5(fs::canonical(root).string()).substr(0, 16) / "notes");

    const auto runs = recordedRuns(root);
    std::vector<std::string> listed;
    for (const auto& run : runs)
        listed.push_back(run.folder.filename().string());
    EXPECT_EQ(listed,
              (std::vector<std::string>{"20261231T235959Z-000004", "20250601T120000Z-000003",
                                        "20250601T120000Z-000001", "20240101T000000Z-000002",
                                        "20200101T000000Z-000009"}));
    ASSERT_EQ(runs.size(), 5u);
    EXPECT_EQ(runs[0].time,
              std::chrono::system_clock::from_time_t(1798761599)); // 2026-12-31 23:59:59 UTC
    EXPECT_FALSE(runs[3].finished);
    EXPECT_TRUE(runs[3].undoable);
    EXPECT_FALSE(runs[4].changes);
    EXPECT_FALSE(runs[4].undoable);
    EXPECT_EQ(lastUndoableRun(root)->folder, runs[0].folder);
    // The same site named through a link is the same site.
    fs::create_directory_symlink(root, dir / "alias");
    EXPECT_EQ(recordedRuns(dir / "alias").size(), 5u);

    // An undone run is no longer offered. One whose undo left something stays offered until
    // an undo finishes it, and holds back every older run (the site is not as they left it).
    ASSERT_FALSE(markUndone(runs[0], true, 0));
    EXPECT_EQ(lastUndoableRun(root)->folder, runs[1].folder);
    ASSERT_FALSE(markUndone(runs[1], false, 2));
    const auto after = recordedRuns(root);
    ASSERT_EQ(after.size(), 5u);
    EXPECT_TRUE(after[0].undone);
    EXPECT_FALSE(after[0].undoLeftSomething);
    EXPECT_TRUE(after[1].undone);
    EXPECT_TRUE(after[1].undoLeftSomething);
    for (std::size_t i = 0; i < after.size(); ++i)
        EXPECT_EQ(after[i].undoable, i == 1) << after[i].folder;
    ASSERT_FALSE(markUndone(runs[1], true, 0));
    const auto finished = recordedRuns(root);
    EXPECT_FALSE(finished[1].undoLeftSomething);
    EXPECT_FALSE(finished[1].undoable);
    EXPECT_EQ(lastUndoableRun(root)->folder, runs[2].folder);
}

TEST_F(RunJournalTest, ALineCutShortByACrashIsIgnoredAndCutOffBeforeTheNextRecord) {
    const fs::path root = dir / "site";
    fs::create_directories(root);
    RunJournal journal = startRun(root);
    ASSERT_FALSE(
        journal.removing({{root / "a_files/x.png", root / "images/x.png", md5("X"), 1, 0644}}));
    // A crash half-way through the next line, even one that could be read as a record.
    {
        std::ofstream records(journal.folder() / "records", std::ios::app | std::ios::binary);
        records << "remove\t" << (root / "b_files/x.png").string() << "\t"
                << (root / "images/x.png").string() << "\t" << md5("X") << "\t1\t06";
    }
    auto runs = recordedRuns(root);
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_FALSE(runs[0].damaged);
    EXPECT_EQ(runs[0].summary.copiesRemoved, 1u);
    std::error_code error;
    auto records = readRunRecords(runs[0], error);
    ASSERT_TRUE(records);
    ASSERT_EQ(records->removals.size(), 1u);
    EXPECT_EQ(records->removals[0].copy, root / "a_files/x.png");

    ASSERT_FALSE(markUndone(runs[0], true, 0));
    runs = recordedRuns(root);
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_TRUE(runs[0].undone);
    EXPECT_FALSE(runs[0].damaged);
    const std::string lines = readFile(runs[0].folder / "records");
    EXPECT_EQ(lines.find("b_files"), std::string::npos);
    EXPECT_EQ(lines.back(), '\n');

    // A complete line that cannot be read marks the run damaged.
    RunJournal second = startRun(root);
    ASSERT_FALSE(second.placing({{root / "images/y.png", md5("Y"), 1}}));
    {
        std::ofstream records(second.folder() / "records", std::ios::app | std::ios::binary);
        records << "remove\tno digest here\n";
    }
    runs = recordedRuns(root);
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_TRUE(runs[0].damaged);
    EXPECT_TRUE(runs[0].undoable);
}

} // namespace
} // namespace tolvane
