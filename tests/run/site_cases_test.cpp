// Small sites, each with the fate of every copy and the text of every rewritten file, all put
// through one check: the dry run changes nothing; the run keeps every reference leading to the
// same bytes and loses nothing; a re-scan finds nothing left; undo gives the original tree.
#include "run/run.hpp"
#include "run/run_journal.hpp"
#include "run/run_support.hpp"
#include "run/undo.hpp"
#include "support/process.hpp"
#include "support/simulated_run.hpp"

#include <gtest/gtest.h>

#include <map>

namespace tolvane {
namespace {

namespace fs = std::filesystem;
using test::readFile;
using test::writeFile;
using Files = std::vector<std::pair<std::string, std::string>>;
using Lines = std::vector<std::string>;

const std::string longStem(240, 'p');

// The bytes each image URL of each page and stylesheet shows, read as a browser reads the
// ASCII test files: UTF-16 and UTF-32 without their byte-order marks and NUL bytes, CSS escapes
// decoded inside url( ), every URL relative to its file's folder, links followed.
std::map<std::string, std::vector<std::optional<std::string>>> shown(const fs::path& root) {
    std::map<std::string, std::vector<std::optional<std::string>>> result;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        const std::string ext = entry.path().extension().string();
        if (!entry.is_regular_file() || (ext != ".html" && ext != ".css"))
            continue;
        std::string text;
        for (const char c : readFile(entry.path())) {
            if (c != '\0' && c != '\xFF' && c != '\xFE')
                text += c;
        }
        auto& urls = result[entry.path().lexically_relative(root).string()];
        const auto show = [&](std::string url) {
            if (!test::hasImageSuffix(url))
                return;
            const fs::path target = (entry.path().parent_path() / url).lexically_normal();
            urls.push_back(fs::is_regular_file(target) ? std::optional(readFile(target))
                                                       : std::nullopt);
        };
        // Quoted values that hold no url( ), then every url( ) with its CSS escapes decoded.
        for (std::size_t open = text.find('"'); open != std::string::npos;) {
            const std::size_t close = text.find('"', open + 1);
            const std::string value = text.substr(open + 1, close - open - 1);
            if (value.find("url(") == std::string::npos)
                show(value);
            open = close == std::string::npos ? close : text.find('"', close + 1);
        }
        for (std::size_t at = text.find("url("); at != std::string::npos;
             at = text.find("url(", at + 1)) {
            std::string url;
            for (std::size_t i = at + 4; i < text.size() && text[i] != ')'; ++i) {
                if (text[i] != '\\') {
                    url += text[i];
                } else if (std::isxdigit(static_cast<unsigned char>(text[i + 1]))) {
                    std::size_t digits = 0;
                    url += static_cast<char>(std::stoi(text.substr(i + 1, 6), &digits, 16));
                    i += digits + (text[i + 1 + digits] == ' ' ? 1 : 0);
                } else {
                    url += text[++i];
                }
            }
            show(url);
        }
    }
    return result;
}

std::string wide(std::string_view ascii, std::string_view mark, std::size_t width, bool big) {
    std::string out(mark);
    for (const char c : ascii) {
        if (big)
            out.append(width - 1, '\0');
        out += c;
        if (!big)
            out.append(width - 1, '\0');
    }
    return out;
}

std::string utf16le(std::string_view ascii) {
    return wide(ascii, "\xFF\xFE", 2, false);
}

// A page "<stem>.html" showing <stem>_files/<image>, with its script naming the same image.
Files page(const std::string& stem, const std::string& image, const std::string& bytes) {
    const std::string leaf = fs::path(stem).filename().string();
    return {{stem + ".html", "<img src=\"" + leaf + "_files/" + image + "\">"},
            {stem + "_files/" + leaf + ".js", "s = \"" + leaf + "_files\\/" + image + "\";"},
            {stem + "_files/" + image, bytes}};
}

Files join(std::initializer_list<Files> parts) {
    Files all{{"index.html", "<html>home</html>"}};
    for (const auto& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

// Edits one page just before the batch that replaces it is written: after the run read it.
class EditingBeforeWrite : public RealFileManager {
  public:
    EditingBeforeWrite(fs::path page, bool sameSize)
        : page_(std::move(page)), sameSize_(sameSize) {}
    std::vector<FileResult> writeFiles(const std::vector<Write>& writes) override {
        for (const Write& write : writes) {
            if (write.path != page_ || edited_)
                continue;
            edited_ = true;
            std::string text = test::readFile(page_);
            if (sameSize_) {
                // The same size and modification time: only the bytes tell.
                const auto time = fs::last_write_time(page_);
                text.replace(text.find("<p>"), 3, "<b>");
                test::writeFile(page_, text);
                fs::last_write_time(page_, time);
            } else {
                test::writeFile(page_, text + "<p>typed during the run</p>");
            }
        }
        return RealFileManager::writeFiles(writes);
    }

  private:
    fs::path page_;
    bool sameSize_;
    bool edited_ = false;
};

struct SiteCase {
    std::string name;
    Files files;
    Lines removed; // copies the run deletes (or moves to images/)
    Lines stay;    // copies left where they are, with their bytes
    Files texts;   // files as the run leaves them
};

// Rows where something happens during the run.
struct Twist {
    std::string edit;      // a file edited between the run's read and its write
    bool sameSize = false; // and with the same size and time
    int sheets = 0;        // error sheets the run shows
    std::size_t left = 0;  // groups a re-scan still finds
};
const std::map<std::string, Twist> twists = {
    {"PageAppendedToMeanwhileKeepsTheEdit", {"B.html", false, 1, 1}},
    {"PageEditedInPlaceMeanwhileKeepsTheEdit", {"B.html", true, 1, 1}}};

void PrintTo(const SiteCase& c, std::ostream* out) {
    *out << c.name;
}

const std::vector<SiteCase> cases = {
    {"TwoPagesShareALogo",
     join({page("A", "logo.png", "LOGO"), page("B", "logo.png", "LOGO")}),
     {"A_files/logo.png", "B_files/logo.png"},
     {},
     {{"A.html", "<img src=\"images/logo.png\">"},
      {"A_files/A.js", "s = \"images\\/logo.png\";"},
      {"B.html", "<img src=\"images/logo.png\">"},
      {"images/logo.png", "LOGO"}}},
    {"NestedPageClimbsToTheRoot",
     join({page("A", "x.gif", "X"), page("blog/E", "x.gif", "X"),
           page("Old_files/O", "x.gif", "X")}),
     {"A_files/x.gif", "blog/E_files/x.gif", "Old_files/O_files/x.gif"},
     {},
     {{"blog/E.html", "<img src=\"../images/x.gif\">"},
      {"blog/E_files/E.js", "s = \"..\\/images\\/x.gif\";"},
      {"Old_files/O.html", "<img src=\"../images/x.gif\">"}}},
    {"SameNameOtherBytesIsNoGroup",
     join({page("A", "x.png", "ONE"), page("B", "x.png", "TWO")}),
     {},
     {"A_files/x.png", "B_files/x.png"},
     {{"A.html", "<img src=\"A_files/x.png\">"}}},
    {"RolloverAndLinkNamesAreNeverTouched",
     join({page("A", "a_rollover_1.png", "R"), page("B", "a_rollover_1.png", "R"),
           page("C", "b_link_2.jpg", "L"), page("D", "b_link_2.jpg", "L")}),
     {},
     {"A_files/a_rollover_1.png", "B_files/a_rollover_1.png", "C_files/b_link_2.jpg",
      "D_files/b_link_2.jpg"},
     {}},
    {"ImagesHoldsOtherBytesUnderTheName",
     join({page("A", "x.png", "NEW"), page("B", "x.png", "NEW"), {{"images/x.png", "OLD"}}}),
     {"A_files/x.png", "B_files/x.png"},
     {},
     {{"images/x.png", "OLD"},
      {"A.html", "<img src=\"images/x-" + md5(std::string("NEW")).substr(0, 8) + ".png\">"}}},
    {"ImagesHoldsTheBytesUnderTheName",
     join({page("A", "x.png", "X"), page("B", "x.png", "X"), {{"images/x.png", "X"}}}),
     {"A_files/x.png", "B_files/x.png"},
     {"images/x.png"},
     {{"A.html", "<img src=\"images/x.png\">"}, {"B_files/B.js", "s = \"images\\/x.png\";"}}},
    {"ImagesHoldsTheBytesUnderTheDigestName",
     join({page("A", "x.png", "NEW"),
           page("B", "x.png", "NEW"),
           {{"images/x.png", "OLD"},
            {"images/x-" + md5(std::string("NEW")).substr(0, 8) + ".png", "NEW"}}}),
     {"A_files/x.png", "B_files/x.png"},
     {"images/x.png", "images/x-" + md5(std::string("NEW")).substr(0, 8) + ".png"},
     {{"B.html", "<img src=\"images/x-" + md5(std::string("NEW")).substr(0, 8) + ".png\">"}}},
    // Which group keeps the plain name depends on the walk; the other takes the digest name.
    {"TwoGroupsOfOneName",
     join({page("A", "x.png", "RED"), page("B", "x.png", "RED"), page("C", "x.png", "BLUE"),
           page("D", "x.png", "BLUE")}),
     {"A_files/x.png", "B_files/x.png", "C_files/x.png", "D_files/x.png"},
     {},
     {}},
    {"ExtensionWrittenPercentEncoded",
     join({{{"A.html", "<img src=\"A_files/x%2Epng\">"},
            {"A_files/x.png", "X"},
            {"B.html", "<script src=\"B_files/B.js\"></script>"},
            {"B_files/B.js", "i.src = \"B_files/x.p%6Eg\";"},
            {"B_files/x.png", "X"}}}),
     {"A_files/x.png", "B_files/x.png"},
     {},
     {{"A.html", "<img src=\"images/x%2Epng\">"}, {"B_files/B.js", "i.src = \"images/x.p%6Eg\";"}}},
    {"FolderWithOtherCaseSuffixIsNoPageFolder",
     join({page("A", "x.png", "X"),
           {{"P.html", "<img src=\"P_Files/x.png\">"}, {"P_Files/x.png", "X"}}}),
     {"A_files/x.png", "P_Files/x.png"},
     {},
     {{"P.html", "<img src=\"images/x.png\">"}}},
    {"Utf16PageWithMarkKeepsItsCopy",
     join({{{"A.html", utf16le("<img src=\"A_files/x.png\">")}, {"A_files/x.png", "X"}},
           page("B", "x.png", "X")}),
     {"B_files/x.png"},
     {"A_files/x.png"},
     {{"A.html", utf16le("<img src=\"A_files/x.png\">")},
      {"B.html", "<img src=\"A_files/x.png\">"}}},
    {"LinkToAFolderKeepsWhatItShows",
     join({page("a", "logo.png", "LOGO"),
           page("b", "logo.png", "LOGO"),
           {{"c.html", "<img src=\"sl/shared/logo.png\">"}, {"sl/shared", "->../b_files"}}}),
     {"a_files/logo.png"},
     {"b_files/logo.png"},
     {{"c.html", "<img src=\"sl/shared/logo.png\">"}}},
    {"CssEscapeInsideUrl",
     join({page("b", "logo.png", "LOGO"),
           {{"c.html", "<div style=\"background:url(c_files/lo\\go.png)\"></div>"},
            {"c.css", "p { background: url(C_files/lo\\go.png) }"},
            {"c_files/logo.png", "LOGO"},
            {"C_files/logo.png", "LOGO"}}}),
     {"b_files/logo.png", "c_files/logo.png", "C_files/logo.png"},
     {},
     {{"c.html", "<div style=\"background:url(images/lo\\go.png)\"></div>"},
      {"c.css", "p { background: url(images/lo\\go.png) }"}}},
    {"PercentAndReferenceSpellingsAreKept",
     join({{{"A.html", "<img src=\"A_files/a%20b.png\"><img src=\"./A_files/a b.png?v=1#f\">"},
            {"A_files/a b.png", "AB"},
            {"B.html", "<img src=\"B&#95;files/a&#32;b.png\">"},
            {"B_files/a b.png", "AB"}}}),
     {"A_files/a b.png", "B_files/a b.png"},
     {},
     {{"A.html", "<img src=\"images/a%20b.png\"><img src=\"./images/a b.png?v=1#f\">"},
      {"B.html", "<img src=\"images/a&#32;b.png\">"}}},
    {"AbsoluteAndRootReferencesKeepTheirCopy",
     join({page("A", "x.png", "X"),
           page("B", "x.png", "X"),
           {{"C.html", "<img src=\"/B_files/x.png\"><img src=\"http://h/B_files/x.png\"><img "
                       "src=\"//h.x.png\">"}}}),
     {"A_files/x.png"},
     {"B_files/x.png"},
     {{"A.html", "<img src=\"B_files/x.png\">"},
      {"C.html",
       "<img src=\"/B_files/x.png\"><img src=\"http://h/B_files/x.png\"><img src=\"//h.x.png\">"}}},
    {"LongPageNameIsRewritten",
     join({page(longStem, "x.png", "X"), page("B", "x.png", "X")}),
     {longStem + "_files/x.png", "B_files/x.png"},
     {},
     {{longStem + ".html", "<img src=\"images/x.png\">"}}},
    {"PageAppendedToMeanwhileKeepsTheEdit",
     join({page("A", "x.png", "X"),
           {{"B.html", "<p>B</p><img src=\"B_files/x.png\">"}, {"B_files/x.png", "X"}}}),
     {"A_files/x.png"},
     {"B_files/x.png"},
     {{"A.html", "<img src=\"images/x.png\">"},
      {"B.html", "<p>B</p><img src=\"B_files/x.png\"><p>typed during the run</p>"}}},
    {"PageEditedInPlaceMeanwhileKeepsTheEdit",
     join({page("A", "x.png", "X"),
           {{"B.html", "<p>B</p><img src=\"B_files/x.png\">"}, {"B_files/x.png", "X"}}}),
     {"A_files/x.png"},
     {"B_files/x.png"},
     {{"B.html", "<b>B</p><img src=\"B_files/x.png\">"}}},
    {"Utf32BigEndianPageKeepsItsCopy",
     join({{{"W.html",
             wide("<img src=\"W_files/x.png\">", std::string_view("\0\0\xFE\xFF", 4), 4, true)},
            {"W_files/x.png", "X"}},
           page("B", "x.png", "X")}),
     {"B_files/x.png"},
     {"W_files/x.png"},
     {{"B.html", "<img src=\"W_files/x.png\">"}}},
    {"Utf16StylesheetWithoutMarkKeepsItsCopy",
     join({{{"w.css", wide("p { background: url(W_files/x.png) }", "", 2, false)},
            {"W_files/x.png", "X"}},
           page("B", "x.png", "X")}),
     {"B_files/x.png"},
     {"W_files/x.png"},
     {}},
    {"CssHexEscapesInAStyleAttribute",
     join({page("A", "logo.png", "LOGO"),
           {{"D.html", "<p style=\"background: url(D_files/\\6c ogo\\2epng)\">a</p>"},
            {"D_files/logo.png", "LOGO"}}}),
     {"A_files/logo.png", "D_files/logo.png"},
     {},
     {{"D.html", "<p style=\"background: url(images/\\6c ogo\\2epng)\">a</p>"}}},
};

class SiteCaseTest : public ::testing::TestWithParam<SiteCase> {};

TEST_P(SiteCaseTest, RunKeepsEveryReferenceAndUndoGivesTheOriginal) {
    const SiteCase& c = GetParam();
    const Twist twist = twists.count(c.name) ? twists.at(c.name) : Twist{};
    test::TempDir dir;
    test::ScopedJournalHome home;
    const fs::path root = dir / "site";
    for (const auto& [path, bytes] : c.files) {
        if (bytes.rfind("->", 0) == 0) {
            fs::create_directories((root / path).parent_path());
            fs::create_directory_symlink(bytes.substr(2), root / path);
        } else {
            writeFile(root / path, bytes);
        }
    }
    auto original = test::snapshot(root);
    const auto references = test::referenceTargets(root);
    const auto showing = shown(root);

    const auto dry = test::runProcess(dir.path(), {TOLVANE_CLI, "optimize", "--dry-run", root},
                                      {home.setting()});
    EXPECT_EQ(dry.exitCode, 0) << dry.err;
    ASSERT_EQ(test::snapshot(root), original) << "the dry run changed the site";

    const ScanResult scan = scanWebsite(root);
    std::error_code error;
    std::optional<RunJournal> journal = RunJournal::start(root, error);
    ASSERT_TRUE(journal) << error.message();
    RealFileManager real;
    EditingBeforeWrite editing(root / twist.edit, twist.sameSize);
    FileManager& files = twist.edit.empty() ? static_cast<FileManager&>(real) : editing;
    test::RecordingReporter reporter;
    RunOptions options = test::countedBy(reporter);
    options.journal = &*journal;
    const RunOutcome outcome = startOptimization(scan, files, reporter, options);
    EXPECT_EQ(outcome.errorSheets, twist.sheets);
    EXPECT_EQ(reporter.sheets.size(), static_cast<std::size_t>(twist.sheets));
    EXPECT_EQ(outcome.completed, true);
    if (!twist.edit.empty())
        original[twist.edit] = readFile(root / twist.edit);

    for (const auto& copy : c.removed)
        EXPECT_FALSE(fs::exists(root / copy)) << copy;
    for (const auto& copy : c.stay)
        EXPECT_EQ(readFile(root / copy), original.at(copy)) << copy;
    for (const auto& [path, text] : c.texts)
        EXPECT_EQ(readFile(root / path), text) << path;
    EXPECT_EQ(test::brokenReferences(references, root), Lines{});
    EXPECT_EQ(shown(root), showing);
    EXPECT_EQ(test::lostFiles(original, root), Lines{});
    EXPECT_EQ(test::leftoverTemporaries(root), Lines{});
    EXPECT_EQ(scanWebsite(root).duplicates.size(), twist.left);

    const std::optional<RecordedRun> run = lastUndoableRun(root);
    ASSERT_TRUE(run);
    test::RecordingReporter undoReporter;
    const UndoOutcome undone = undoRun(*run, real, undoReporter);
    EXPECT_EQ(test::lostFiles(original, root), Lines{});
    EXPECT_EQ(shown(root), showing);
    EXPECT_TRUE(undone.complete);
    for (const auto& sheet : undoReporter.sheets)
        ADD_FAILURE() << sheet.message;
    EXPECT_EQ(test::snapshot(root), original);
}

INSTANTIATE_TEST_SUITE_P(Sites, SiteCaseTest, ::testing::ValuesIn(cases),
                         [](const auto& info) { return info.param.name; });

} // namespace
} // namespace tolvane
