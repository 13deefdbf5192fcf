// Generated sites: a run or its undo cut after any step, and its record damaged at any byte, never
// breaks a reference or loses a file; the next run or undo finishes the work.
#include "bench/sitegen/sitegen.hpp"
#include "run/run.hpp"
#include "run/run_journal.hpp"
#include "run/run_support.hpp"
#include "run/undo.hpp"
#include "support/temp_dir.hpp"

#include <gtest/gtest.h>
#include <sys/resource.h>

namespace tolvane {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

sitegen::SiteShape smallShape(std::uint64_t seed) {
    sitegen::SiteShape shape;
    shape.seed = seed;
    shape.pages = 3;
    shape.imagesPerPage = 1;
    shape.sharedImages = 2;
    shape.sharedPerPage = 2;
    shape.sharedVariants = 1 + static_cast<int>(seed % 2);
    shape.nestedShare = 0.5;
    shape.minImageSize = 64;
    shape.maxImageSize = 128;
    return shape;
}

// Scans and runs with a record; a crash at the chosen step ends the run where it stands.
// steps, when given, counts the steps that change the disk.
bool scanAndRun(const fs::path& root, std::optional<std::size_t> crashAfter = std::nullopt,
                std::size_t* steps = nullptr) {
    const ScanResult scan = scanWebsite(root);
    std::error_code error;
    std::optional<RunJournal> journal = RunJournal::start(root, error);
    RealFileManager real;
    test::FailingFileManager failing(real);
    if (crashAfter)
        failing.crashAfter(*crashAfter);
    // Uncounted and uncut, the run has the real file manager's batches to itself.
    FileManager& files = crashAfter || steps ? static_cast<FileManager&>(failing) : real;
    test::RecordingReporter reporter;
    RunOptions options = test::countedBy(reporter);
    options.journal = &*journal;
    try {
        const RunOutcome outcome = startOptimization(scan, files, reporter, options);
        EXPECT_EQ(outcome.errorSheets, 0);
        if (steps)
            *steps = failing.changes();
        return outcome.completed;
    } catch (const test::SimulatedCrash&) {
        return false;
    }
}

// Undoes every run still offered, newest first.
void undoAll(const fs::path& root) {
    RealFileManager real;
    for (int guard = 0; guard < 5; ++guard) {
        const std::optional<RecordedRun> run = lastUndoableRun(root);
        if (!run)
            return;
        test::RecordingReporter reporter;
        const UndoOutcome outcome = undoRun(*run, real, reporter);
        ASSERT_TRUE(outcome.complete);
    }
    ADD_FAILURE() << "undo is offered without end";
}

TEST(GeneratedSites, ScanFindsExactlyTheGeneratorsGroups) {
    for (std::uint64_t seed = 1; seed <= 6; ++seed) {
        test::TempDir dir;
        auto shape = smallShape(seed);
        shape.pages = 8;
        shape.uniformSizes = seed % 2 == 0;
        shape.assetCopies = static_cast<int>(seed % 3);
        const auto site = sitegen::generateSite(dir / "site", shape);
        // Name, digest and copies of each group; a copy's path under the root unless absolute.
        const auto groups = [&](const auto& list) {
            std::vector<std::tuple<std::string, std::string, Lines>> out;
            for (const auto& group : list) {
                Lines copies;
                for (const auto& copy : group.copies)
                    copies.push_back((site.root / copy).string());
                out.emplace_back(group.name, group.md5, copies);
            }
            return out;
        };
        EXPECT_EQ(groups(scanWebsite(site.root).duplicates), groups(site.groups))
            << "seed " << seed;
    }
}

TEST(GeneratedSites, ARunCutAfterAnyStepIsSafeFinishedByTheNextAndUndone) {
    for (std::uint64_t seed = 1; seed <= 2; ++seed) {
        test::TempDir dir;
        const fs::path model = dir / "model";
        sitegen::generateSite(model, smallShape(seed));
        const auto original = test::snapshot(model);
        const auto references = test::referenceTargets(model);
        std::size_t steps = 0;
        {
            test::ScopedJournalHome home;
            test::TempDir whole;
            fs::copy(model, whole / "site", fs::copy_options::recursive);
            ASSERT_TRUE(scanAndRun(whole / "site", std::nullopt, &steps));
        }
        ASSERT_GT(steps, 4u);
        // Each cut is undone at once, and also after the next run has finished the work.
        for (std::size_t cut = 0; cut < 2 * steps; ++cut) {
            const bool finish = cut % 2 == 1;
            SCOPED_TRACE("seed " + std::to_string(seed) + ", cut after " + std::to_string(cut / 2) +
                         (finish ? ", finished" : ""));
            test::ScopedJournalHome home;
            test::TempDir site;
            const fs::path root = site / "site";
            fs::copy(model, root, fs::copy_options::recursive);
            EXPECT_FALSE(scanAndRun(root, cut / 2));
            if (finish) {
                EXPECT_TRUE(scanAndRun(root));
                const ScanResult again = scanWebsite(root);
                EXPECT_TRUE(again.duplicates.empty() && again.leftovers.empty());
            }
            EXPECT_EQ(test::brokenReferences(references, root), Lines{});
            EXPECT_EQ(test::lostFiles(original, root), Lines{});
            undoAll(root);
            EXPECT_EQ(test::snapshot(root), original);
        }
    }
}

TEST(GeneratedSites, AnUndoCutAfterAnyStepIsOfferedAgainAndFinishedByTheNext) {
    test::TempDir dir;
    const fs::path model = dir / "model";
    sitegen::generateSite(model, smallShape(4));
    const auto original = test::snapshot(model);
    const auto references = test::referenceTargets(model);
    std::size_t steps = 0;
    // Round 0 counts the steps of an uncut undo; round k cuts after step k - 1.
    for (std::size_t round = 0; round == 0 || round <= steps; ++round) {
        const std::size_t cut = round - 1;
        SCOPED_TRACE("cut after " + std::to_string(cut));
        test::ScopedJournalHome home;
        test::TempDir site;
        const fs::path root = site / "site";
        fs::copy(model, root, fs::copy_options::recursive);
        ASSERT_TRUE(scanAndRun(root));
        RealFileManager real;
        test::FailingFileManager files(real);
        if (round > 0)
            files.crashAfter(cut);
        test::RecordingReporter reporter;
        try {
            undoRun(*lastUndoableRun(root), files, reporter);
        } catch (const test::SimulatedCrash&) {
        }
        if (round == 0) {
            steps = files.changes();
            ASSERT_GT(steps, 3u);
            ASSERT_EQ(test::snapshot(root), original);
            continue;
        }
        EXPECT_EQ(test::brokenReferences(references, root), Lines{});
        EXPECT_EQ(test::lostFiles(original, root), Lines{});
        // The killed undo is on record: offered again, as one that left something.
        const std::optional<RecordedRun> offered = lastUndoableRun(root);
        ASSERT_TRUE(offered);
        EXPECT_TRUE(offered->undone && offered->undoLeftSomething);
        // What a killed writer leaves beside the file it was writing.
        const fs::path partial = root / "images" / ".logo.png.tolvane-x1Y2z3";
        if (fs::is_directory(partial.parent_path()))
            test::writeFile(partial, "half an ima");
        undoAll(root);
        EXPECT_EQ(test::snapshot(root), original);
        EXPECT_FALSE(lastUndoableRun(root));
    }
}

TEST(GeneratedSites, ARunAndItsUndoHoldFewFilesOpenAtOnce) {
    test::TempDir dir;
    test::ScopedJournalHome home;
    const fs::path root = dir / "site";
    auto shape = smallShape(5);
    shape.pages = 200; // hundreds of files to rewrite and copies to put back
    sitegen::generateSite(root, shape);
    const auto original = test::snapshot(root);
    rlimit saved{};
    ::getrlimit(RLIMIT_NOFILE, &saved);
    const rlimit low{std::min<rlim_t>(64, saved.rlim_cur), saved.rlim_max};
    ::setrlimit(RLIMIT_NOFILE, &low);
    EXPECT_TRUE(scanAndRun(root));
    undoAll(root);
    ::setrlimit(RLIMIT_NOFILE, &saved);
    EXPECT_EQ(test::snapshot(root), original);
}

TEST(GeneratedSites, ADamagedRecordNeverLosesAFileOnUndo) {
    test::TempDir dir;
    test::ScopedJournalHome home;
    const fs::path root = dir / "site";
    auto shape = smallShape(4);
    shape.pages = 2;
    shape.sharedImages = 1;
    shape.sharedPerPage = 1;
    const auto site = sitegen::generateSite(root, shape);
    // And a script loaded from another folder: its references are read from its page's.
    test::writeFile(root / "C.html", "<script src=\"js/s.js\"></script>");
    test::writeFile(root / "js/s.js", "i.src = \"" + site.groups.at(0).copies[1].string() + "\";");
    const auto original = test::snapshot(root);
    const auto references = test::referenceTargets(root);
    ASSERT_TRUE(scanAndRun(root));
    ASSERT_NE(test::readFile(root / "js/s.js"), original.at("js/s.js"));
    fs::copy(root, dir / "after", fs::copy_options::recursive); // with its emptied folders
    const RecordedRun run = *lastUndoableRun(root);
    const fs::path records = run.folder / "records", length = run.folder / "length";
    const std::string intact = test::readFile(records), intactLength = test::readFile(length);
    ASSERT_GT(intact.size(), 100u);

    for (std::size_t at = 0; at < intact.size(); ++at) {
        for (const bool cutShort : {true, false}) {
            SCOPED_TRACE((cutShort ? "cut at " : "byte changed at ") + std::to_string(at));
            std::string damaged = intact;
            if (cutShort)
                damaged.resize(at);
            else
                damaged[at] = static_cast<char>(damaged[at] ^ 0x01);
            test::writeFile(records, damaged);
            test::writeFile(length, intactLength);
            bool complete = false;
            const std::optional<RecordedRun> offered = lastUndoableRun(root);
            if (offered) {
                RealFileManager real;
                test::RecordingReporter reporter;
                complete = undoRun(*offered, real, reporter).complete;
            }
            ASSERT_EQ(test::lostFiles(original, root), Lines{});
            ASSERT_EQ(test::brokenReferences(references, root), Lines{});
            // A cut record is never taken for whole. An undo that says it is complete has
            // given back the original; one that is not stays offered.
            ASSERT_FALSE(cutShort && complete);
            if (complete) {
                ASSERT_EQ(test::snapshot(root), original);
            } else if (offered) {
                ASSERT_TRUE(lastUndoableRun(root));
            }
            // Back to the state after the run for the next damage.
            fs::remove_all(root);
            fs::copy(dir / "after", root, fs::copy_options::recursive);
        }
    }
    test::writeFile(records, intact);
    test::writeFile(length, intactLength);
    undoAll(root);
    EXPECT_EQ(test::snapshot(root), original);
}

} // namespace
} // namespace tolvane
