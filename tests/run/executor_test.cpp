// How the run's steps are kept on record: a file the run left as it was is no change to undo.
#include "run/run.hpp"
#include "run/run_journal.hpp"
#include "run/run_support.hpp"
#include "util/digest.hpp"

#include <gtest/gtest.h>

namespace tolvane {
namespace {

namespace fs = std::filesystem;
using Names = std::vector<std::string>;

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

TEST(ExecutorRecordTest, FileLeftAsItWasIsNoChangeToUndo) {
    for (const KeptCase& c : keptCases) {
        SCOPED_TRACE(c.name);
        test::ScopedJournalHome home;
        test::TempDir dir;
        const fs::path root = dir / "site";
        fs::create_directories(root);
        std::error_code error;
        std::optional<RunJournal> journal = RunJournal::start(root, error);
        ASSERT_TRUE(journal) << error.message();
        std::vector<std::string> olds;
        for (std::size_t i = 0; i < c.rewritten.size(); ++i)
            olds.push_back("old " + std::to_string(i));
        for (std::size_t i = 0; i < c.rewritten.size(); ++i)
            ASSERT_FALSE(journal->rewriting(
                {{root / c.rewritten[i], asBytes(olds[i]), md5("new " + std::to_string(i))}}));
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

} // namespace
} // namespace tolvane
