#include "optimize/page_rewrite.hpp"

#include "optimize/run_support.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace tolvane {
namespace {

namespace fs = std::filesystem;
using test::readFile;
using test::writeFile;

TEST(PageFiles, OnlyTheTrailingSuffixNamesThePage) {
    auto page = pageFilesFor("/S/Old_files/A_files");
    ASSERT_TRUE(page);
    EXPECT_EQ(page->pageFile, fs::path("/S/Old_files/A.html"));
    EXPECT_EQ(page->pageScript, fs::path("/S/Old_files/A_files/A.js"));

    page = pageFilesFor("/S/Blog/Entry1_files");
    ASSERT_TRUE(page);
    EXPECT_EQ(page->pageFile, fs::path("/S/Blog/Entry1.html"));
    EXPECT_EQ(page->pageScript, fs::path("/S/Blog/Entry1_files/Entry1.js"));

    EXPECT_FALSE(pageFilesFor("/S/Page_Files"));     // the suffix test is case-sensitive
    EXPECT_FALSE(pageFilesFor("/S/A_files/pics"));   // only the folder's own name counts
    EXPECT_FALSE(pageFilesFor("/S"));
}

TEST(PageFiles, ImagesFolderReferenceClimbsOneLevelPerFolder) {
    EXPECT_EQ(imagesFolderReference("/S/A_files", "/S"), "images");
    EXPECT_EQ(imagesFolderReference("/S/Blog/E_files", "/S"), "../images");
    EXPECT_EQ(imagesFolderReference("/S/Old_files/A_files", "/S/"), "../images");
    EXPECT_EQ(imagesFolderReference("/S/a/b/c/E_files", "/S"), "../../../images");
}

TEST(Utf8, AcceptsValidAndRefusesMalformedText) {
    EXPECT_TRUE(isValidUtf8(""));
    EXPECT_TRUE(isValidUtf8("plain <img src=\"a.png\">"));
    EXPECT_TRUE(isValidUtf8("\xEF\xBB\xBF" "caf\xC3\xA9 \xE2\x80\x99 \xF0\x9F\x98\x80"));
    EXPECT_TRUE(isValidUtf8(std::string_view("a\0b", 3)));
    EXPECT_FALSE(isValidUtf8("caf\xE9"));          // Latin-1
    EXPECT_FALSE(isValidUtf8("\xC0\xAF"));          // overlong
    EXPECT_FALSE(isValidUtf8("\xE0\x80\xAF"));      // overlong
    EXPECT_FALSE(isValidUtf8("\xED\xA0\x80"));      // surrogate
    EXPECT_FALSE(isValidUtf8("\xF4\x90\x80\x80"));  // above U+10FFFF
    EXPECT_FALSE(isValidUtf8("\xE2\x80"));          // cut short
    EXPECT_FALSE(isValidUtf8("\x80"));
}

TEST(ReplaceAll, ScansOnceFromTheStartWithoutRescanningInsertions) {
    std::string text = "aaa";
    EXPECT_EQ(replaceAll(text, "aa", "b"), 1u);
    EXPECT_EQ(text, "ba");
    text = "x/y x/y";
    EXPECT_EQ(replaceAll(text, "x/y", "x/y/x/y"), 2u);
    EXPECT_EQ(text, "x/y/x/y x/y/x/y");
    text = "none";
    EXPECT_EQ(replaceAll(text, "", "z"), 0u);
    EXPECT_EQ(text, "none");
}

class ProcessFileTest : public ::testing::Test {
  protected:
    RewriteResult rewrite(const fs::path& page, const std::string& name = "logo.png",
                          const std::string& folder = "A_files",
                          RewriteTarget target = {"images", "logo.png"}) {
        return processFile(page, name, dir / folder, target, files, reporter);
    }

    test::TempDir dir;
    RealFileManager files;
    test::RecordingReporter reporter;
};

TEST_F(ProcessFileTest, RewritesBothFormsAndKeepsEveryOtherByte) {
    const fs::path page = dir / "A.html";
    const std::string before =
        "\xEF\xBB\xBF<p>caf\xC3\xA9</p>\r\n<img src=\"A_files/logo.png\"><img src=\"A_files/logo.png\">\r\n"
        "<a href=\"x\">A_files/logo.png</a>\n<script>s=\"A_files\\/logo.png\";</script>"
        "A_files/Logo.png A_files/logo.pngx B_files/logo.png";
    writeFile(page, before);
    ::chmod(page.c_str(), 0640);

    EXPECT_EQ(rewrite(page), RewriteResult::rewritten);
    EXPECT_EQ(readFile(page),
              "\xEF\xBB\xBF<p>caf\xC3\xA9</p>\r\n<img src=\"images/logo.png\"><img src=\"images/logo.png\">\r\n"
              "<a href=\"x\">images/logo.png</a>\n<script>s=\"images\\/logo.png\";</script>"
              "A_files/Logo.png images/logo.pngx B_files/logo.png");
    struct stat info {};
    ASSERT_EQ(::stat(page.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    EXPECT_EQ(reporter.lines,
              std::vector<std::string>{"Updating file: " + page.string() +
                                       " to use moved image: logo.png"});
    EXPECT_TRUE(reporter.sheets.empty());
    EXPECT_TRUE(test::leftoverTemporaries(dir.path()).empty());
}

TEST_F(ProcessFileTest, NestedPagesAndTheirScriptsGetThePathUpToTheRoot) {
    const fs::path page = dir / "Blog/Entry1.html";
    const fs::path script = dir / "Blog/Entry1_files/Entry1.js";
    writeFile(page, "<img src=\"Entry1_files/logo.png\">");
    writeFile(script, "img.src = \"Entry1_files\\/logo.png\"; other = \"Entry1_files/logo.png\";");
    const RewriteTarget target{imagesFolderReference(dir / "Blog/Entry1_files", dir.path()),
                               "logo.png"};
    EXPECT_EQ(processFile(page, "logo.png", dir / "Blog/Entry1_files", target, files, reporter),
              RewriteResult::rewritten);
    EXPECT_EQ(processFile(script, "logo.png", dir / "Blog/Entry1_files", target, files, reporter),
              RewriteResult::rewritten);
    EXPECT_EQ(readFile(page), "<img src=\"../images/logo.png\">");
    EXPECT_EQ(readFile(script),
              "img.src = \"..\\/images\\/logo.png\"; other = \"../images/logo.png\";");
}

TEST_F(ProcessFileTest, AnotherKeptNameIsWrittenAndLogged) {
    const fs::path page = dir / "A.html";
    writeFile(page, "A_files/logo.png A_files\\/logo.png");
    EXPECT_EQ(rewrite(page, "logo.png", "A_files", {"images", "logo-0123abcd.png"}),
              RewriteResult::rewritten);
    EXPECT_EQ(readFile(page), "images/logo-0123abcd.png images\\/logo-0123abcd.png");
    EXPECT_EQ(reporter.lines.at(0),
              "Updating file: " + page.string() + " to use moved image: logo-0123abcd.png");
}

TEST_F(ProcessFileTest, TwoImagesInOnePageEachRewriteOnlyTheirOwn) {
    const fs::path page = dir / "A.html";
    writeFile(page, "A_files/a.png A_files/b.png");
    rewrite(page, "a.png", "A_files", {"images", "a.png"});
    EXPECT_EQ(readFile(page), "images/a.png A_files/b.png");
    rewrite(page, "b.png", "A_files", {"images", "b.png"});
    EXPECT_EQ(readFile(page), "images/a.png images/b.png");
}

TEST_F(ProcessFileTest, MissingFileIsOnlyLogged) {
    const fs::path page = dir / "A.html";
    EXPECT_EQ(rewrite(page), RewriteResult::missing);
    EXPECT_EQ(reporter.lines,
              std::vector<std::string>{"HTML/js file: " + page.string() + " doesn't exist"});
    EXPECT_TRUE(reporter.sheets.empty());
    EXPECT_FALSE(fs::exists(page));
}

TEST_F(ProcessFileTest, TextThatIsNotUtf8StaysAsItIs) {
    const fs::path page = dir / "A.html";
    const std::string latin1 = "caf\xE9 <img src=\"A_files/logo.png\">";
    writeFile(page, latin1);
    EXPECT_EQ(rewrite(page), RewriteResult::failed);
    EXPECT_EQ(readFile(page), latin1);
    ASSERT_EQ(reporter.sheets.size(), 1u);
    EXPECT_EQ(reporter.sheets[0].message, "Unable to update " + page.string());
    ASSERT_TRUE(reporter.sheets[0].error);
    EXPECT_EQ(reporter.sheets[0].error->code, make_error_code(RunErrc::notUtf8));
    EXPECT_EQ(reporter.lines.back(), "Unable to update " + page.string() + ", error: " +
                                         reporter.sheets[0].error->description());
}

TEST_F(ProcessFileTest, AFolderInPlaceOfThePageCannotBeRead) {
    fs::create_directories(dir / "A.html");
    EXPECT_EQ(rewrite(dir / "A.html"), RewriteResult::failed);
    ASSERT_EQ(reporter.sheets.size(), 1u);
    EXPECT_EQ(reporter.sheets[0].message, "Unable to update " + (dir / "A.html").string());
    EXPECT_EQ(reporter.sheets[0].error->code, std::make_error_code(std::errc::is_a_directory));
}

TEST_F(ProcessFileTest, FailedWriteLeavesTheFileAndNoTemporary) {
    const fs::path page = dir / "A.html";
    writeFile(page, "A_files/logo.png");
    test::FailingFileManager failing(files);
    failing.failAt(test::FailingFileManager::Step::write, page, std::errc::no_space_on_device);
    EXPECT_EQ(processFile(page, "logo.png", dir / "A_files", {"images", "logo.png"}, failing,
                          reporter),
              RewriteResult::failed);
    EXPECT_EQ(readFile(page), "A_files/logo.png");
    ASSERT_EQ(reporter.sheets.size(), 1u);
    EXPECT_EQ(reporter.sheets[0].message, "Unable to write back to file: " + page.string());
    EXPECT_TRUE(test::leftoverTemporaries(dir.path()).empty());
}

TEST_F(ProcessFileTest, PiecesAreLocalizedOneByOne) {
    const fs::path page = dir / "A.html";
    writeFile(page, "x");
    const Localize brackets = [](std::string_view english) {
        return "[" + std::string(english) + "]";
    };
    processFile(page, "logo.png", dir / "A_files", {"images", "logo.png"}, files, reporter,
                brackets);
    processFile(dir / "B.html", "logo.png", dir / "B_files", {"images", "logo.png"}, files,
                reporter, brackets);
    EXPECT_EQ(reporter.lines, (std::vector<std::string>{
                                  "[Updating file: ]" + page.string() +
                                      "[ to use moved image: ]logo.png",
                                  "[HTML/js file: ]" + (dir / "B.html").string() +
                                      "[ doesn't exist]"}));
}

} // namespace
} // namespace tolvane
