#include "cli/event_text.hpp"
#include "run/file_manager.hpp"

#include "run/run_support.hpp"

#include <gtest/gtest.h>
#include <map>
#include <sys/stat.h>

namespace tolvane {
namespace {

namespace fs = std::filesystem;
using test::readFile;
using test::writeFile;

TEST(RealFileManager, MoveNeverReplacesWhatIsAtTheDestination) {
    test::TempDir dir;
    RealFileManager files;
    writeFile(dir / "a/logo.png", "first");
    writeFile(dir / "images/logo.png", "other");
    const auto error = files.moveItem(dir / "a/logo.png", dir / "images/logo.png");
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, std::make_error_code(std::errc::file_exists));
    EXPECT_EQ(error->operation, FileError::Operation::move);
    EXPECT_EQ(readFile(dir / "a/logo.png"), "first");
    EXPECT_EQ(readFile(dir / "images/logo.png"), "other");

    EXPECT_FALSE(files.moveItem(dir / "a/logo.png", dir / "images/logo2.png"));
    EXPECT_FALSE(fs::exists(dir / "a/logo.png"));
    EXPECT_EQ(readFile(dir / "images/logo2.png"), "first");

    // A missing source or a folder as source fail without touching anything.
    EXPECT_TRUE(files.moveItem(dir / "a/logo.png", dir / "images/logo3.png"));
    EXPECT_TRUE(files.moveItem(dir / "a", dir / "images/a"));
    EXPECT_TRUE(fs::is_directory(dir / "a"));
}

TEST(RealFileManager, CopyingMoveVerifiesPlacesAndRemovesTheSource) {
    test::TempDir dir;
    RealFileManager files;
    std::string big(700 * 1024, 'x');
    big.back() = 'y';
    writeFile(dir / "a/logo.png", big);
    ::chmod((dir / "a/logo.png").c_str(), 0604);
    fs::create_directories(dir / "images");

    EXPECT_FALSE(files.copyThenRemove(dir / "a/logo.png", dir / "images/logo.png"));
    EXPECT_EQ(readFile(dir / "images/logo.png"), big);
    EXPECT_FALSE(fs::exists(dir / "a/logo.png"));
    struct stat info {};
    ASSERT_EQ(::stat((dir / "images/logo.png").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0604u);

    // A file that appeared at the destination is kept; the source too; no temporary remains.
    writeFile(dir / "b/logo.png", "second");
    const auto error = files.copyThenRemove(dir / "b/logo.png", dir / "images/logo.png");
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, std::make_error_code(std::errc::file_exists));
    EXPECT_EQ(readFile(dir / "images/logo.png"), big);
    EXPECT_EQ(readFile(dir / "b/logo.png"), "second");
    EXPECT_TRUE(test::leftoverTemporaries(dir.path()).empty());
}

TEST(RealFileManager, MovesAcrossFileSystemsWhenTheMachineHasTwo) {
    // /dev/shm is a separate memory file system on most machines.
    if (!fs::is_directory("/dev/shm"))
        GTEST_SKIP() << "no /dev/shm to move across file systems";
    std::string pattern = "/dev/shm/tolvane-test-XXXXXX";
    if (!::mkdtemp(pattern.data()))
        GTEST_SKIP() << "cannot make a folder in /dev/shm";
    const fs::path other = pattern;
    test::TempDir dir;
    struct stat a {
    }, b{};
    ::stat(other.c_str(), &a);
    ::stat(dir.path().c_str(), &b);
    if (a.st_dev == b.st_dev) {
        fs::remove_all(other);
        GTEST_SKIP() << "the temporary folder and /dev/shm share one file system";
    }
    RealFileManager files;
    writeFile(other / "logo.png", "picture");
    const auto error = files.moveItem(other / "logo.png", dir / "logo.png");
    const bool sourceLeft = fs::exists(other / "logo.png");
    fs::remove_all(other);
    EXPECT_FALSE(error);
    EXPECT_FALSE(sourceLeft);
    EXPECT_EQ(readFile(dir / "logo.png"), "picture");
}

TEST(RealFileManager, FoldersRemovalAndComparison) {
    test::TempDir dir;
    RealFileManager files;
    EXPECT_FALSE(files.createDirectory(dir / "images"));
    EXPECT_TRUE(fs::is_directory(dir / "images"));
    EXPECT_TRUE(files.createDirectory(dir / "images")); // already there
    EXPECT_TRUE(files.createDirectory(dir / "x/y"));    // no intermediate folders
    EXPECT_FALSE(fs::exists(dir / "x"));
    EXPECT_TRUE(files.removeItem(dir / "images")); // never a folder
    EXPECT_TRUE(fs::exists(dir / "images"));

    writeFile(dir / "a.png", std::string(100000, 'a') + "1");
    writeFile(dir / "b.png", std::string(100000, 'a') + "2");
    writeFile(dir / "c.png", std::string(100000, 'a') + "1");
    writeFile(dir / "d.png", "short");
    FileResult error;
    EXPECT_FALSE(files.sameContent(dir / "a.png", dir / "b.png", error));
    EXPECT_FALSE(error);
    EXPECT_TRUE(files.sameContent(dir / "a.png", dir / "c.png", error));
    EXPECT_FALSE(files.sameContent(dir / "a.png", dir / "d.png", error));
    EXPECT_FALSE(error);
    EXPECT_FALSE(files.sameContent(dir / "a.png", dir / "missing.png", error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->paths.front(), dir / "missing.png");

    EXPECT_FALSE(files.removeItem(dir / "d.png"));
    EXPECT_FALSE(fs::exists(dir / "d.png"));
    EXPECT_TRUE(files.removeItem(dir / "d.png"));
}

// Many copies at once (so several threads share the work), of a small kept file that is held
// in memory and of a large one compared file to file; the odd ones must stay with their bytes.
TEST(RealFileManager, ManyCopiesGoOnlyWhereTheyStillHoldTheKeptBytes) {
    test::TempDir dir;
    RealFileManager files;
    const std::string small = "small picture";
    std::string large(3 << 20, 'L');
    large.back() = 'z';
    writeFile(dir / "images/small.png", small);
    writeFile(dir / "images/large.png", large);
    const fs::path smallKept = dir / "images/small.png", largeKept = dir / "images/large.png";
    const fs::path missingKept = dir / "images/gone.png";

    std::vector<fs::path> copies;
    std::vector<const fs::path*> keptOf;
    std::map<std::size_t, std::string> changed; // copy number -> its own bytes
    for (std::size_t i = 0; i < 300; ++i) {
        const bool isLarge = i % 3 == 0;
        std::string bytes = isLarge ? large : small;
        if (i == 7 || i == 9)
            bytes[bytes.size() / 2] ^= 1; // same size, one bit differs
        if (i == 13 || i == 15)
            bytes += "+"; // one byte longer
        if (bytes != (isLarge ? large : small))
            changed[i] = bytes;
        copies.push_back(dir / ("P" + std::to_string(i) + "_files/pic.png"));
        writeFile(copies.back(), bytes);
        keptOf.push_back(isLarge ? &largeKept : &smallKept);
    }
    fs::remove(copies[21]); // gone since the scan
    fs::remove(copies[30]); // a folder in its place
    fs::create_directories(copies[30]);
    keptOf[40] = &missingKept; // its kept file is gone

    std::vector<FileManager::CopyPair> pairs;
    for (std::size_t i = 0; i < copies.size(); ++i)
        pairs.push_back({&copies[i], keptOf[i]});

    const auto expectResults = [&](const std::vector<FileResult>& results) {
        ASSERT_EQ(results.size(), copies.size());
        for (std::size_t i = 0; i < copies.size(); ++i) {
            SCOPED_TRACE(i);
            if (changed.count(i)) {
                ASSERT_TRUE(results[i]);
                EXPECT_EQ(results[i]->code, make_error_code(RunErrc::contentDiffers));
            } else if (i == 21 || i == 30) {
                ASSERT_TRUE(results[i]);
                EXPECT_EQ(results[i]->paths.front(), copies[i]);
            } else if (i == 40) {
                ASSERT_TRUE(results[i]);
                EXPECT_EQ(results[i]->paths.front(), missingKept);
            } else {
                EXPECT_FALSE(results[i]) << results[i]->code.message();
            }
        }
    };
    expectResults(files.checkCopies(pairs));
    for (std::size_t i = 0; i < copies.size(); ++i)
        EXPECT_EQ(fs::exists(copies[i]), i != 21) << i; // checking removes nothing

    expectResults(files.removeCopies(pairs));
    for (std::size_t i = 0; i < copies.size(); ++i) {
        SCOPED_TRACE(i);
        if (changed.count(i))
            EXPECT_EQ(readFile(copies[i]), changed[i]);
        else if (i == 30)
            EXPECT_TRUE(fs::is_directory(copies[i]));
        else if (i == 40)
            EXPECT_EQ(readFile(copies[i]), small);
        else
            EXPECT_FALSE(fs::exists(copies[i]));
    }
    EXPECT_EQ(readFile(smallKept), small);
    EXPECT_EQ(readFile(largeKept), large);
}

// Exactly the failures carry a sheet message; every other event but the end ones is a log line.
TEST(Event, FailuresAreTheKindsWithASheet) {
    std::size_t failures = 0;
    for (int k = static_cast<int>(EventKind::runStarted);
         k <= static_cast<int>(EventKind::completed); ++k) {
        const Event event{
            static_cast<EventKind>(k), {"/S/A_files/logo.png"}, std::nullopt, std::nullopt, {}};
        const bool failure = isFailure(event.kind);
        failures += failure ? 1 : 0;
        EXPECT_EQ(cli::failureMessage(event).empty(), !failure) << k;
        const bool end = event.kind == EventKind::finished || event.kind == EventKind::completed;
        EXPECT_EQ(cli::logLines(event).empty(), end) << k;
    }
    EXPECT_EQ(failures, 17u);
}

TEST(FileError, DescriptionsNameTheStepThePathsAndTheReason) {
    const FileError error{FileError::Operation::move,
                          {"/S/A_files/logo.png", "/S/images/logo.png"},
                          std::make_error_code(std::errc::file_exists)};
    EXPECT_EQ(cli::describe(error), "Cannot move /S/A_files/logo.png to /S/images/logo.png: " +
                                        std::make_error_code(std::errc::file_exists).message() +
                                        " (generic 17)");
    EXPECT_NE(cli::explain(error).find("logo.png"), std::string::npos);
    EXPECT_NE(cli::explain(error).find("moved"), std::string::npos);
    const FileError differs{FileError::Operation::compare,
                            {"/S/B_files/logo.png", "/S/images/logo.png"},
                            make_error_code(RunErrc::contentDiffers)};
    EXPECT_EQ(cli::explain(differs),
              "\xE2\x80\x9Clogo.png\xE2\x80\x9D was left as it is. Its content differs from the "
              "copy kept in the site images folder.");
    EXPECT_EQ(cli::errorLogLine("Unable to move logo.png to the site images folder", error),
              "Unable to move logo.png to the site images folder, error: " + cli::describe(error));
}

} // namespace
} // namespace tolvane
