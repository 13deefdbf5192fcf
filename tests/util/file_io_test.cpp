#include "support/temp_dir.hpp"
#include "util/file_io.hpp"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace tolvane {
namespace {

using test::readFile;
using test::TempDir;
using test::writeFile;

std::size_t entriesIn(const std::filesystem::path& folder) {
    std::size_t n = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder))
        ++n;
    return n;
}

mode_t modeOf(const std::filesystem::path& path) {
    struct stat info {};
    ::stat(path.c_str(), &info);
    return info.st_mode & 07777;
}

TEST(AtomicWrite, ReplacesContentsAndKeepsPermissionBits) {
    TempDir dir;
    const auto page = dir / "page.html";
    writeFile(page, "old contents, longer than the new ones");
    ASSERT_EQ(::chmod(page.c_str(), 0640), 0);
    EXPECT_FALSE(writeFileAtomically(page, asBytes("new")));
    EXPECT_EQ(readFile(page), "new");
    EXPECT_EQ(modeOf(page), 0640u);
    EXPECT_EQ(entriesIn(dir.path()), 1u);
}

TEST(AtomicWrite, FailureLeavesTargetAndNoTemporaryFile) {
    TempDir dir;
    // A non-empty folder at the target: the final rename really fails.
    writeFile(dir / "taken" / "inside.txt", "x");
    EXPECT_TRUE(writeFileAtomically(dir / "taken", asBytes("new")));
    EXPECT_TRUE(std::filesystem::is_directory(dir / "taken"));
    EXPECT_EQ(entriesIn(dir.path()), 1u);
    // A missing folder: nothing can be created.
    EXPECT_TRUE(writeFileAtomically(dir / "missing" / "file", asBytes("new")));
    EXPECT_EQ(entriesIn(dir.path()), 1u);
}

TEST(AtomicWrite, UncommittedWriterLeavesNothingBehind) {
    TempDir dir;
    writeFile(dir / "keep.txt", "before");
    {
        AtomicFileWriter writer(dir / "keep.txt");
        ASSERT_TRUE(writer.write(asBytes("half of the new")));
        EXPECT_EQ(entriesIn(dir.path()), 2u); // the temporary file exists meanwhile
    }
    EXPECT_EQ(readFile(dir / "keep.txt"), "before");
    EXPECT_EQ(entriesIn(dir.path()), 1u);
}

TEST(ReadWholeFile, RefusesFoldersAndMissingFiles) {
    TempDir dir;
    writeFile(dir / "a.txt", "abc");
    std::error_code error;
    const auto contents = readWholeFile(dir / "a.txt", &error);
    ASSERT_TRUE(contents);
    EXPECT_EQ(test::toString(*contents), "abc");
    EXPECT_FALSE(readWholeFile(dir.path(), &error));
    EXPECT_EQ(error, std::make_error_code(std::errc::is_a_directory));
    EXPECT_FALSE(readWholeFile(dir / "none", &error));
    EXPECT_EQ(error, std::make_error_code(std::errc::no_such_file_or_directory));
}

} // namespace
} // namespace tolvane
