// The file-system steps a run is built from: a second name for a kept file, batched page
// writes that never go through a link, the site lock, and the writer's temporary names.
#include "run/file_manager.hpp"
#include "run/site_lock.hpp"
#include "util/digest.hpp"
#include "util/file_io.hpp"
#include "util/text.hpp"

#include "run/run_support.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tolvane {
namespace {

namespace fs = std::filesystem;
using test::readFile;
using test::writeFile;

TEST(RealFileManager, LinkOrCopyGivesASecondNameAndNeverReplaces) {
    test::TempDir dir;
    RealFileManager files;
    writeFile(dir / "A_files/logo.png", "logo bytes");
    fs::create_directories(dir / "images");

    ASSERT_FALSE(files.linkOrCopy(dir / "A_files/logo.png", dir / "images/logo.png"));
    EXPECT_EQ(readFile(dir / "images/logo.png"), "logo bytes");
    EXPECT_EQ(readFile(dir / "A_files/logo.png"), "logo bytes"); // the source stays
    EXPECT_EQ(fs::hard_link_count(dir / "A_files/logo.png"), 2u);

    // Something already at the name is never replaced, whatever it holds.
    writeFile(dir / "B_files/logo.png", "other bytes");
    const auto taken = files.linkOrCopy(dir / "B_files/logo.png", dir / "images/logo.png");
    ASSERT_TRUE(taken);
    EXPECT_EQ(taken->code, std::make_error_code(std::errc::file_exists));
    EXPECT_EQ(readFile(dir / "images/logo.png"), "logo bytes");

    // A link or a folder as source is refused: only a regular file's bytes are placed.
    fs::create_symlink(dir / "A_files/logo.png", dir / "link.png");
    EXPECT_TRUE(files.linkOrCopy(dir / "link.png", dir / "images/link.png"));
    EXPECT_TRUE(files.linkOrCopy(dir / "A_files", dir / "images/folder"));
    EXPECT_FALSE(fs::exists(dir / "images/link.png"));
    EXPECT_FALSE(fs::exists(dir / "images/folder"));
}

TEST(RealFileManager, CopyFileIsAnIndependentCheckedCopyWithTheGivenMode) {
    test::TempDir dir;
    RealFileManager files;
    writeFile(dir / "images/logo.png", std::string(300 * 1024, 'q'));
    ASSERT_FALSE(files.copyFile(dir / "images/logo.png", dir / "logo.png", 0640));
    EXPECT_EQ(readFile(dir / "logo.png"), readFile(dir / "images/logo.png"));
    EXPECT_EQ(fs::hard_link_count(dir / "logo.png"), 1u);
    EXPECT_EQ(files.mode(dir / "logo.png"), 0640u);
    EXPECT_TRUE(files.copyFile(dir / "images/logo.png", dir / "logo.png", 0644));
    EXPECT_TRUE(test::leftoverTemporaries(dir.path()).empty());
}

TEST(RealFileManager, CopyFilesMakesTheSameCheckedCopiesWithOneFlushPerBatch) {
    test::TempDir dir;
    RealFileManager files;
    writeFile(dir / "images/logo.png", std::string(300 * 1024, 'q'));
    writeFile(dir / "B_files/logo.png", "someone else's");
    fs::create_symlink(dir / "images/logo.png", dir / "link.png");
    const std::string bytes = md5(std::string_view(std::string(300 * 1024, 'q')));
    std::vector<FileManager::CopyRequest> copies{
        {dir / "images/logo.png", dir / "A_files/logo.png", 0640, ""},    // a new name: copied
        {dir / "images/logo.png", dir / "B_files/logo.png", 0644, ""},    // taken: never replaced
        {dir / "images/gone.png", dir / "A_files/gone.png", 0644, ""},    // no source
        {dir / "link.png", dir / "A_files/link.png", 0644, ""},           // a link is no source
        {dir / "images/logo.png", dir / "C_files/logo.png", 0644, bytes}, // the bytes expected
        {dir / "images/logo.png", dir / "D_files/logo.png", 0644, md5(std::string_view("q"))},
    };
    fs::create_directories(dir / "C_files");
    fs::create_directories(dir / "D_files");
    fs::create_directories(dir / "A_files");
    const std::vector<FileResult> results = files.copyFiles(copies);
    ASSERT_EQ(results.size(), copies.size());
    EXPECT_FALSE(results[0]);
    EXPECT_EQ(readFile(dir / "A_files/logo.png"), readFile(dir / "images/logo.png"));
    EXPECT_EQ(fs::hard_link_count(dir / "A_files/logo.png"), 1u);
    EXPECT_EQ(files.mode(dir / "A_files/logo.png"), 0640u);
    ASSERT_TRUE(results[1]);
    EXPECT_EQ(results[1]->code, std::make_error_code(std::errc::file_exists));
    EXPECT_EQ(readFile(dir / "B_files/logo.png"), "someone else's");
    EXPECT_TRUE(results[2]);
    EXPECT_TRUE(results[3]);
    EXPECT_FALSE(fs::exists(dir / "A_files/gone.png"));
    EXPECT_FALSE(fs::exists(dir / "A_files/link.png"));
    EXPECT_FALSE(results[4]);
    EXPECT_EQ(readFile(dir / "C_files/logo.png"), readFile(dir / "images/logo.png"));
    EXPECT_TRUE(results[5]); // other bytes than the digest says: not placed
    EXPECT_FALSE(fs::exists(dir / "D_files/logo.png"));
    EXPECT_TRUE(test::leftoverTemporaries(dir.path()).empty());
}

TEST(RealFileManager, IsDirectoryAndModeDoNotFollowLinks) {
    test::TempDir dir;
    RealFileManager files;
    fs::create_directories(dir / "outside");
    fs::create_directories(dir / "site");
    fs::create_directory_symlink(dir / "outside", dir / "site/images");
    writeFile(dir / "site/page.html", "x");
    fs::create_symlink(dir / "site/page.html", dir / "site/alias.html");
    EXPECT_TRUE(files.isDirectory(dir / "outside"));
    EXPECT_FALSE(files.isDirectory(dir / "site/images"));
    EXPECT_FALSE(files.isDirectory(dir / "site/page.html"));
    EXPECT_TRUE(files.mode(dir / "site/page.html"));
    EXPECT_FALSE(files.mode(dir / "site/alias.html"));
}

TEST(RealFileManager, WriteFilesReplacesEachAndNeverWritesThroughALink) {
    test::TempDir dir;
    RealFileManager files;
    writeFile(dir / "A.html", "old A");
    writeFile(dir / "B_files/B.js", "old B");
    ::chmod((dir / "B_files/B.js").c_str(), 0600);
    writeFile(dir / "outside.html", "not the site's");
    fs::create_symlink(dir / "outside.html", dir / "C.html");

    const std::string a = "new A", b = "new B", c = "new C";
    const auto results = files.writeFiles({{dir / "A.html", asBytes(a)},
                                           {dir / "B_files/B.js", asBytes(b)},
                                           {dir / "C.html", asBytes(c)},
                                           {dir / "missing/D.html", asBytes(a)}});
    ASSERT_EQ(results.size(), 4u);
    EXPECT_FALSE(results[0]);
    EXPECT_FALSE(results[1]);
    ASSERT_TRUE(results[2]);
    EXPECT_EQ(results[2]->code, std::make_error_code(std::errc::too_many_symbolic_link_levels));
    EXPECT_TRUE(results[3]); // its folder does not exist
    EXPECT_EQ(readFile(dir / "A.html"), "new A");
    EXPECT_EQ(readFile(dir / "B_files/B.js"), "new B");
    EXPECT_EQ(files.mode(dir / "B_files/B.js"), 0600u);
    EXPECT_TRUE(fs::is_symlink(dir / "C.html"));
    EXPECT_EQ(readFile(dir / "outside.html"), "not the site's");
    EXPECT_TRUE(test::leftoverTemporaries(dir.path()).empty());
}

TEST(SiteLock, OneHolderAtATimeAcrossProcessesAndReleasedWhenDropped) {
    test::TempDir dir;
    std::error_code error;
    auto first = SiteLock::tryAcquire(dir.path(), error);
    ASSERT_TRUE(first) << error.message();

    // Even within one process a second holder is refused.
    EXPECT_FALSE(SiteLock::tryAcquire(dir.path(), error));
    EXPECT_EQ(error, std::make_error_code(std::errc::resource_unavailable_try_again));

    // Another process is refused at once, without waiting.
    const pid_t child = ::fork();
    if (child == 0) {
        std::error_code childError;
        const bool got = SiteLock::tryAcquire(dir.path(), childError).has_value();
        ::_exit(!got && childError == std::errc::resource_unavailable_try_again ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    first.reset();
    EXPECT_TRUE(SiteLock::tryAcquire(dir.path(), error));
    EXPECT_FALSE(SiteLock::tryAcquire(dir / "missing", error));
    EXPECT_EQ(error, std::make_error_code(std::errc::no_such_file_or_directory));
    EXPECT_NE(cli::siteBusyMessage(dir.path()).find(dir.path().string()), std::string::npos);
}

TEST(WriterTemporaryName, RecognisesExactlyTheWritersOwnNames) {
    // The names the writer really makes are recognised...
    test::TempDir dir;
    writeFile(dir / "Page_files/Page.js", "x");
    {
        AtomicFileWriter writer(dir / "Page_files/Page.js");
        ASSERT_TRUE(writer.ok());
        for (const auto& entry : fs::directory_iterator(dir / "Page_files")) {
            const std::string name = entry.path().filename().string();
            EXPECT_EQ(isWriterTemporaryName(name), name != "Page.js") << name;
        }
    }
    EXPECT_TRUE(isWriterTemporaryName(".Page_0084.js.tolvane-Ul7CPD"));
    // ...and nothing that merely looks like them.
    for (const char* name :
         {"Page_0084.js.tolvane-Ul7CPD", ".Page.js.tolvane-Ul7CP", ".Page.js.tolvane-Ul7CPDx",
          ".Page.js.tolvane-Ul7C.D", ".tolvane-Ul7CPD", ".Page.js.tolvan-Ul7CPD", "logo.png"})
        EXPECT_FALSE(isWriterTemporaryName(name)) << name;
}

TEST(WriterTemporaryName, FitsTheNameLimitForTheLongestNames) {
    test::TempDir dir;
    // Names of 255 bytes and just under it, in one- and two-byte characters.
    const std::string longest = std::string(250, 'p') + ".html";
    std::string accented;
    while (accented.size() + 2 <= 250)
        accented += "\xc3\xa9";
    accented += ".html";
    for (const std::string& name : {std::string(245, 'q') + ".htm", longest, accented}) {
        writeFile(dir / name, "old");
        const fs::path temporary = writerTemporaryTemplate(dir / name);
        const std::string temporaryName = temporary.filename().string();
        EXPECT_LE(temporaryName.size(), 255u) << name;
        EXPECT_TRUE(isWriterTemporaryName(temporaryName)) << name;
        EXPECT_TRUE(isUtf8(temporaryName)) << name;
        ASSERT_FALSE(writeFileAtomically(dir / name, asBytes(std::string_view("new")))) << name;
        EXPECT_EQ(readFile(dir / name), "new");
    }
    std::size_t entries = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(dir.path()))
        ++entries;
    EXPECT_EQ(entries, 3u); // no temporary file left behind
}

} // namespace
} // namespace tolvane
