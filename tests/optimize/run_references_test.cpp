#include "optimize/run.hpp"

#include "optimize/run_references.hpp"
#include "optimize/run_support.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <sys/stat.h>

namespace tolvane {
namespace {

namespace fs = std::filesystem;
using test::readFile;
using test::writeFile;
using Lines = std::vector<std::string>;

class RunReferencesTest : public ::testing::Test {
  protected:
    fs::path S() const { return dir.path(); }
    std::string p(const std::string& relative) const { return (S() / relative).string(); }
    void put(const std::string& relative, const std::string& text) {
        writeFile(S() / relative, text);
    }
    DuplicateGroup group(const std::vector<std::string>& relatives) {
        std::vector<fs::path> copies;
        for (const auto& r : relatives)
            copies.push_back(S() / r);
        return test::makeGroup(copies);
    }
    Lines linesStartingWith(const std::string& prefix) const {
        Lines found;
        for (const auto& line : reporter.lines) {
            if (line.rfind(prefix, 0) == 0)
                found.push_back(line);
        }
        return found;
    }

    test::TempDir dir;
    RealFileManager real;
    test::RecordingReporter reporter;
};

TEST_F(RunReferencesTest, CopiesThatCannotBeRewrittenStayAndTheRunGoesOn) {
    for (const char* page : {"A", "B", "C"}) {
        put(std::string(page) + "_files/a.png", "AAAA");
        put(std::string(page) + ".html", std::string("<img src=\"") + page + "_files/a.png\">");
    }
    put("C.html", "<img src=\"/C_files/a.png\">"); // from the server's root: unknown
    put("X_files/b.png", "BB");
    put("X.html", "<img src=\"X_files/b.png\">");
    ASSERT_EQ(::chmod((S() / "X.html").c_str(), 0444), 0);
    put("Y_files/b.png", "BB");
    put("Y.html", "<img src=\"Y_files/b.png\">");
    put("Z_files/b.png", "BB");
    put("Z.html", "<img src=\"Z_files/b.png\">");
    put("P_files/c.gif", "C");
    put("Q_files/c.gif", "C");
    put("P.html", "<img src=\"P_files/c.gif\"><img src=\"http://example.com/Q_files/c.gif\">\xFF");

    const auto outcome =
        startOptimization({group({"A_files/a.png", "B_files/a.png", "C_files/a.png"}),
                           group({"X_files/b.png", "Y_files/b.png", "Z_files/b.png"}),
                           group({"P_files/c.gif", "Q_files/c.gif"})},
                          S(), real, reporter);

    EXPECT_TRUE(outcome.completed);
    EXPECT_EQ(reporter.steps, static_cast<int>(reporter.maximum));
    ASSERT_EQ(reporter.sheets.size(), 4u);
    EXPECT_EQ(reporter.sheets[0].message,
              "Keeping a.png in " + p("C_files") + ": " + p("C.html") +
                  " line 1: \"/C_files/a.png\": a URL from the server's root: where the site "
                  "lies on the server is not known");
    ASSERT_TRUE(reporter.sheets[0].error);
    EXPECT_EQ(reporter.sheets[0].error->code, KeepErrc::unresolved);
    EXPECT_EQ(reporter.sheets[1].message, "Keeping b.png in " + p("X_files") + ": " + p("X.html") +
                                              " cannot be written back: the file is read-only");
    EXPECT_EQ(reporter.sheets[1].error->code, KeepErrc::notWritable);
    // Both copies of c.gif are held: the group is left as it is.
    EXPECT_NE(reporter.sheets[2].message.find(p("P.html") + " is not valid UTF-8"),
              std::string::npos);
    EXPECT_NE(reporter.sheets[3].message.find("absolute URL"), std::string::npos);
    EXPECT_EQ(outcome.errorSheets, 4);

    EXPECT_EQ(readFile(S() / "images/a.png"), "AAAA");
    EXPECT_FALSE(fs::exists(S() / "A_files/a.png"));
    EXPECT_FALSE(fs::exists(S() / "B_files/a.png"));
    EXPECT_EQ(readFile(S() / "C_files/a.png"), "AAAA");
    EXPECT_EQ(readFile(S() / "A.html"), "<img src=\"images/a.png\">");
    EXPECT_EQ(readFile(S() / "B.html"), "<img src=\"images/a.png\">");
    EXPECT_EQ(readFile(S() / "C.html"), "<img src=\"/C_files/a.png\">");

    // The first copy of b.png stays for its read-only page; images/ gets its bytes.
    EXPECT_EQ(readFile(S() / "X_files/b.png"), "BB");
    EXPECT_EQ(readFile(S() / "images/b.png"), "BB");
    EXPECT_FALSE(fs::exists(S() / "Y_files/b.png"));
    EXPECT_FALSE(fs::exists(S() / "Z_files/b.png"));
    EXPECT_EQ(readFile(S() / "X.html"), "<img src=\"X_files/b.png\">");
    EXPECT_EQ(readFile(S() / "Y.html"), "<img src=\"images/b.png\">");

    EXPECT_TRUE(fs::exists(S() / "P_files/c.gif"));
    EXPECT_TRUE(fs::exists(S() / "Q_files/c.gif"));
    EXPECT_FALSE(fs::exists(S() / "images/c.gif"));
    EXPECT_TRUE(linesStartingWith("Moving image file: c.gif").empty());
    EXPECT_EQ(linesStartingWith("Keeping " + p("P_files/c.gif") + ": ").size(), 1u);
}

TEST_F(RunReferencesTest, EveryFurtherFileIsRewrittenOnceWithItsLogLine) {
    put("A_files/a.png", "AAAA");
    put("B_files/a.png", "AAAA");
    put("A.html", "<link rel=stylesheet href=\"A_files/A.css\"><img src=\"A_files/a.png\">");
    put("A_files/A.js", "s = \"A_files\\/a.png\";");
    put("A_files/A.css", "div { background: url(a.png) }");
    put("B.html", "<img src=\"B_files/a.png\"><img src=\"A_files/a.png\">");
    put("index.html", "<script src=\"Welcome_files/Welcome.js\"></script>"
                      "<img src=\"A_files/a.png\"><img src=\"B_files/a.png\">");
    put("Welcome_files/Welcome.js", "t = 'B_files\\/a.png';");
    put("sub/page.html", "<img src=\"../B_files/a.png\">");

    const auto outcome =
        startOptimization({group({"A_files/a.png", "B_files/a.png"})}, S(), real, reporter);
    EXPECT_TRUE(outcome.completed);
    EXPECT_EQ(outcome.errorSheets, 0);
    const std::string tail = " to use moved image: a.png";
    const Lines updating = linesStartingWith("Updating file: ");
    ASSERT_EQ(updating.size(), 7u);
    // The page files and scripts beside the copies come first, in the run's order.
    EXPECT_EQ(
        Lines(updating.begin(), updating.begin() + 3),
        (Lines{"Updating file: " + p("A.html") + tail, "Updating file: " + p("A_files/A.js") + tail,
               "Updating file: " + p("B.html") + tail}));
    Lines others(updating.begin() + 3, updating.end());
    Lines expected = {"Updating file: " + p("A_files/A.css") + tail,
                      "Updating file: " + p("Welcome_files/Welcome.js") + tail,
                      "Updating file: " + p("index.html") + tail,
                      "Updating file: " + p("sub/page.html") + tail};
    std::sort(others.begin(), others.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(others, expected);
    EXPECT_EQ(linesStartingWith("HTML/js file: "),
              (Lines{"HTML/js file: " + p("B_files/B.js") + " doesn't exist"}));
    EXPECT_EQ(outcome.filesRewritten, 7u);

    EXPECT_EQ(readFile(S() / "A.html"),
              "<link rel=stylesheet href=\"A_files/A.css\"><img src=\"images/a.png\">");
    EXPECT_EQ(readFile(S() / "A_files/A.js"), "s = \"images\\/a.png\";");
    EXPECT_EQ(readFile(S() / "A_files/A.css"), "div { background: url(../images/a.png) }");
    EXPECT_EQ(readFile(S() / "B.html"), "<img src=\"images/a.png\"><img src=\"images/a.png\">");
    EXPECT_EQ(readFile(S() / "index.html"), "<script src=\"Welcome_files/Welcome.js\"></script>"
                                            "<img src=\"images/a.png\"><img src=\"images/a.png\">");
    EXPECT_EQ(readFile(S() / "Welcome_files/Welcome.js"), "t = 'images\\/a.png';");
    EXPECT_EQ(readFile(S() / "sub/page.html"), "<img src=\"../images/a.png\">");
}

TEST_F(RunReferencesTest, ADryRunWritesTheSameLinesAndChangesNothing) {
    put("A_files/a.png", "AAAA");
    put("B_files/a.png", "AAAA");
    put("A.html", "<img src=\"A_files/a.png\">");
    put("B.html", "<img src=\"B_files/a.png\">");
    put("C_files/a.png", "AAAA");
    put("C_files/C.js", "i = 'C_files\\/a.png';");
    put("index.html", "<img src=\"A_files/a.png\"><img src=\"/B_files/a.png\">");
    // A first copy that must stay is copied, in the dry run only on paper.
    for (const char* page : {"X", "Y", "Z"}) {
        put(std::string(page) + "_files/b.png", "BB");
        put(std::string(page) + ".html", std::string("<img src=\"") + page + "_files/b.png\">");
    }
    ASSERT_EQ(::chmod((S() / "X.html").c_str(), 0444), 0);
    const auto before = test::snapshot(S());
    const std::vector<DuplicateGroup> groups = {
        group({"A_files/a.png", "B_files/a.png", "C_files/a.png"}),
        group({"X_files/b.png", "Y_files/b.png", "Z_files/b.png"})};

    DryRunFileManager dry;
    test::RecordingReporter dryReporter;
    startOptimization(groups, S(), dry, dryReporter);
    EXPECT_EQ(test::snapshot(S()), before);

    startOptimization(groups, S(), real, reporter);
    EXPECT_EQ(dryReporter.events, reporter.events);
    EXPECT_EQ(readFile(S() / "index.html"),
              "<img src=\"images/a.png\"><img src=\"/B_files/a.png\">");
    EXPECT_EQ(readFile(S() / "B_files/a.png"), "AAAA");
    EXPECT_FALSE(fs::exists(S() / "C_files/a.png"));
    EXPECT_EQ(readFile(S() / "C_files/C.js"), "i = 'images\\/a.png';");
    EXPECT_EQ(readFile(S() / "X_files/b.png"), "BB");
    EXPECT_EQ(readFile(S() / "images/b.png"), "BB");
    EXPECT_EQ(readFile(S() / "Z.html"), "<img src=\"images/b.png\">");
}

TEST_F(RunReferencesTest, AGroupIsLeftAloneWhenNoCopyWouldBeSaved) {
    // Only the first copy could go: moving it alone saves nothing.
    put("A_files/a.png", "AAAA");
    put("B_files/a.png", "AAAA");
    put("A.html", "<img src=\"A_files/a.png\">");
    put("B.html", "<img src=\"B_files/a.png\">\xC0");
    // The first copy must stay: copying it to images/ would cost what removing the other saves.
    put("C_files/c.png", "CC");
    put("D_files/c.png", "CC");
    put("C.html", "<img src=\"C_files/c.png\">\xC0");
    put("D.html", "<img src=\"D_files/c.png\">");
    const auto outcome = startOptimization(
        {group({"A_files/a.png", "B_files/a.png"}), group({"C_files/c.png", "D_files/c.png"})}, S(),
        real, reporter);
    EXPECT_TRUE(outcome.completed);
    EXPECT_EQ(outcome.errorSheets, 2);
    EXPECT_EQ(reporter.steps, 8);
    EXPECT_TRUE(linesStartingWith("Moving image file: ").empty());
    for (const char* copy : {"A_files/a.png", "B_files/a.png", "C_files/c.png", "D_files/c.png"})
        EXPECT_TRUE(fs::exists(S() / copy)) << copy;
    EXPECT_FALSE(fs::exists(S() / "images/a.png"));
    EXPECT_FALSE(fs::exists(S() / "images/c.png"));
    EXPECT_EQ(readFile(S() / "A.html"), "<img src=\"A_files/a.png\">");
    EXPECT_EQ(readFile(S() / "D.html"), "<img src=\"D_files/c.png\">");
}

} // namespace
} // namespace tolvane
