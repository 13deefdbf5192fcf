#include "run/page_rewrite.hpp"

#include "run/run_support.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace tolvane {
namespace {

namespace fs = std::filesystem;
using test::readFile;
using test::writeFile;

TEST(PageRewrite, ImagesFolderReferenceClimbsOneLevelPerFolder) {
    EXPECT_EQ(imagesFolderReference("/S/A_files", "/S"), "images");
    EXPECT_EQ(imagesFolderReference("/S/Blog/E_files", "/S"), "../images");
    EXPECT_EQ(imagesFolderReference("/S/Old_files/A_files", "/S/"), "../images");
    EXPECT_EQ(imagesFolderReference("/S/a/b/c/E_files", "/S"), "../../../images");
}

// processFile is a thin call into the reference rewriter: what it adds is finding the file,
// the UTF-8 guard and its report.
TEST(PageRewrite, ProcessFileRewritesThroughTheRewriterAndReportsEachFailure) {
    test::TempDir dir;
    RealFileManager files;
    test::RecordingReporter reporter;
    const fs::path page = dir / "Blog/Entry1.html";
    const fs::path script = dir / "Blog/Entry1_files/Entry1.js";
    const fs::path folder = dir / "Blog/Entry1_files";
    writeFile(page, "\xEF\xBB\xBF<p>caf\xC3\xA9</p>\r\n<img src=\"Entry1_files/logo.png\">"
                    "<a>Entry1_files/logo.png</a> Entry1_files/Logo.png B_files/logo.png");
    ::chmod(page.c_str(), 0640);
    writeFile(script, "img.src = \"Entry1_files\\/logo.png\"; other = \"Entry1_files/logo.png\";");
    const RewriteTarget target{imagesFolderReference(folder, dir.path()), "logo-0123abcd.png"};

    EXPECT_EQ(processFile(page, "logo.png", folder, target, files, reporter),
              RewriteResult::rewritten);
    EXPECT_EQ(processFile(script, "logo.png", folder, target, files, reporter),
              RewriteResult::rewritten);
    EXPECT_EQ(readFile(page),
              "\xEF\xBB\xBF<p>caf\xC3\xA9</p>\r\n<img src=\"../images/logo-0123abcd.png\">"
              "<a>../images/logo-0123abcd.png</a> Entry1_files/Logo.png B_files/logo.png");
    EXPECT_EQ(readFile(script), "img.src = \"..\\/images\\/logo-0123abcd.png\"; "
                                "other = \"../images/logo-0123abcd.png\";");
    struct stat info {};
    ASSERT_EQ(::stat(page.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    EXPECT_EQ(reporter.lines.at(0),
              "Updating file: " + page.string() + " to use moved image: logo-0123abcd.png");
    EXPECT_TRUE(reporter.sheets.empty());

    // A missing file is only logged; text that is not UTF-8 and a failed write stay as they were.
    test::RecordingReporter failures;
    EXPECT_EQ(processFile(dir / "B.html", "logo.png", dir / "B_files", target, files, failures),
              RewriteResult::missing);
    EXPECT_EQ(failures.lines, std::vector<std::string>{
                                  "HTML/js file: " + (dir / "B.html").string() + " doesn't exist"});
    const std::string latin1 = "caf\xE9 <img src=\"A_files/logo.png\">";
    writeFile(dir / "A.html", latin1);
    EXPECT_EQ(processFile(dir / "A.html", "logo.png", dir / "A_files", target, files, failures),
              RewriteResult::failed);
    EXPECT_EQ(readFile(dir / "A.html"), latin1);
    ASSERT_EQ(failures.sheets.size(), 1u);
    EXPECT_EQ(failures.sheets[0].message, "Unable to update " + (dir / "A.html").string());
    EXPECT_EQ(failures.sheets[0].error->code, make_error_code(RunErrc::notUtf8));

    writeFile(dir / "C.html", "<img src=\"C_files/logo.png\">");
    test::FailingFileManager failing(files);
    failing.failAt(test::FailingFileManager::Step::write, dir / "C.html",
                   std::errc::no_space_on_device);
    EXPECT_EQ(processFile(dir / "C.html", "logo.png", dir / "C_files", target, failing, failures),
              RewriteResult::failed);
    EXPECT_EQ(readFile(dir / "C.html"), "<img src=\"C_files/logo.png\">");
    ASSERT_EQ(failures.sheets.size(), 2u);
    EXPECT_EQ(failures.sheets[1].message,
              "Unable to write back to file: " + (dir / "C.html").string());
    EXPECT_TRUE(test::leftoverTemporaries(dir.path()).empty());
}

} // namespace
} // namespace tolvane
