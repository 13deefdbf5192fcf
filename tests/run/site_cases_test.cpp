// Small sites, each with the fate of every copy and the text of every rewritten file, all put
// through one check: the dry run changes nothing; the run keeps every reference leading to the
// same bytes, loses nothing, leaves no temporary file and reports every copy it leaves; a
// re-scan finds nothing left; undo gives the original tree. Some rows have failing steps,
// edits during the run or between run and undo: the same checks hold.
#include "refs/references.hpp"
#include "run/run.hpp"
#include "run/run_journal.hpp"
#include "run/run_support.hpp"
#include "run/undo.hpp"
#include "support/process.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <tuple>

namespace tolvane {
namespace {

namespace fs = std::filesystem;
using test::readFile;
using test::writeFile;
using Files = std::vector<std::pair<std::string, std::string>>;
using Lines = std::vector<std::string>;
using Step = test::FailingFileManager::Step;
using Failures = std::vector<test::FailingFileManager::Failure>;

const std::string longStem(240, 'p');

// The ASCII text as UTF-16LE, after the mark.
std::string utf16le(std::string_view ascii, std::string_view mark = "\xFF\xFE") {
    std::string out(mark);
    for (const char c : ascii)
        out += c, out += '\0';
    return out;
}

// A page "<stem>.html" showing <stem>_files/<image>, with its script naming the same image.
Files page(const std::string& stem, const std::string& image, const std::string& bytes) {
    const std::string leaf = fs::path(stem).filename().string();
    return {{stem + ".html", "<img src=\"" + leaf + "_files/" + image + "\">"},
            {stem + "_files/" + leaf + ".js", "s = \"" + leaf + "_files\\/" + image + "\";"},
            {stem + "_files/" + image, bytes}};
}

// Pages named by the letters, each showing its own copy of one image, and the home page.
Files pages(const std::string& letters, const std::string& image = "logo.png",
            const std::string& bytes = "") {
    Files all{{"index.html", "<html>home</html>"}};
    for (const char letter : letters) {
        const std::string name(1, letter);
        const Files one =
            page(name, image, bytes.empty() ? image == "logo.png" ? "LOGO" : "X" : bytes);
        all.insert(all.end(), one.begin(), one.end());
    }
    return all;
}

std::string repeat(const std::string& text, int times) {
    std::string out;
    while (times-- > 0)
        out += text;
    return out;
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

// Rows where something happens around the run; "$" in a message stands for the site.
struct Twist {
    std::string edit{};    // a file edited between the run's read and its write
    bool sameSize = false; // and with the same size and time
    Failures fail{};       // steps of the run that fail
    Files meanwhile{};     // files changed between the scan and the run
    Lines sheets{};        // the run's error sheets
    bool completed = true;
    std::size_t left = 0; // groups a re-scan still finds
    Lines gone{};         // files the run removes for good
    Files sinceRun{};     // files changed between the run and undo
    Failures undoFail{};  // steps of undo that fail (a second undo finishes)
    Lines undoSheets{};
};

struct SiteCase {
    std::string name;
    Files files;
    Lines removed; // copies the run deletes (or moves to images/)
    Lines stay;    // copies left where they are, with their bytes
    Files texts;   // files as the run leaves them
    Twist twist{};
};

void PrintTo(const SiteCase& c, std::ostream* out) {
    *out << c.name;
}

const std::string moveLogo = "Unable to move logo.png to the site images folder";
const std::string writeB = "Unable to write back to file: $/B.html";
const std::string restoreB = "Unable to restore $/B.html";
const std::string copyLost =
    "Unable to restore the rewritten files: a removed copy could not be put back";
const std::string throughLink = " is reached through a symbolic link; never written through a link";
const std::string newX = "x-" + md5(std::string("NEW")).substr(0, 8) + ".png";
const Lines AB = {"A_files/logo.png", "B_files/logo.png"};
const Lines xAB = {"A_files/x.png", "B_files/x.png"};
const std::pair<std::string, std::string> keptA = {"A.html", "<img src=\"images/logo.png\">"};

// clang-format off
const std::vector<SiteCase> cases = {
    {"TwoPagesShareALogo", pages("AB"), AB, {},
     {keptA, {"A_files/A.js", "s = \"images\\/logo.png\";"}, {"B.html", "<img src=\"images/logo.png\">"},
      {"images/logo.png", "LOGO"}}},
    {"NestedPageClimbsToTheRoot",
     join({page("A", "x.gif", "X"), page("blog/E", "x.gif", "X"), page("Old_files/O", "x.gif", "X"),
           {{"x.gif", "X"}}}),
     {"A_files/x.gif", "blog/E_files/x.gif", "Old_files/O_files/x.gif", "x.gif"}, {},
     {{"blog/E.html", "<img src=\"../images/x.gif\">"}, {"blog/E_files/E.js", "s = \"..\\/images\\/x.gif\";"},
      {"Old_files/O.html", "<img src=\"../images/x.gif\">"}}},
    {"SameNameOtherBytesIsNoGroup", join({page("A", "x.png", "ONE"), page("B", "x.png", "TWO")}),
     {}, xAB, {{"A.html", "<img src=\"A_files/x.png\">"}}},
    {"RolloverAndLinkNamesAreNeverTouched",
     join({pages("AB", "a_rollover_1.png"), pages("CD", "b_link_2.jpg")}), {},
     {"A_files/a_rollover_1.png", "B_files/a_rollover_1.png", "C_files/b_link_2.jpg", "D_files/b_link_2.jpg"}, {}},
    {"ImagesHoldsOtherBytesUnderTheName", join({pages("AB", "x.png", "NEW"), {{"images/x.png", "OLD"}}}),
     xAB, {}, {{"images/x.png", "OLD"}, {"A.html", "<img src=\"images/" + newX + "\">"}}},
    {"ImagesHoldsTheBytesUnderTheName", join({pages("AB", "x.png"), {{"images/x.png", "X"}}}),
     xAB, {"images/x.png"},
     {{"A.html", "<img src=\"images/x.png\">"}, {"B_files/B.js", "s = \"images\\/x.png\";"}}},
    {"ImagesHoldsTheBytesUnderTheDigestName",
     join({pages("AB", "x.png", "NEW"), {{"images/x.png", "OLD"}, {"images/" + newX, "NEW"}}}),
     xAB, {"images/x.png", "images/" + newX}, {{"B.html", "<img src=\"images/" + newX + "\">"}}},
    // Which group keeps the plain name depends on the walk; the other takes the digest name.
    {"TwoGroupsOfOneName", join({pages("AB", "x.png", "RED"), pages("CD", "x.png", "BLUE")}),
     {"A_files/x.png", "B_files/x.png", "C_files/x.png", "D_files/x.png"}, {}, {}},
    {"ExtensionWrittenPercentEncoded",
     join({{{"A.html", "<img src=\"A_files/x%2Epng\">"}, {"A_files/x.png", "X"},
            {"B.html", "<script src=\"B_files/B.js\"></script>"}, {"B_files/B.js", "i.src = \"B_files/x.p%6Eg\";"},
            {"B_files/x.png", "X"}}}),
     xAB, {}, {{"A.html", "<img src=\"images/x%2Epng\">"}, {"B_files/B.js", "i.src = \"images/x.p%6Eg\";"}}},
    {"FolderWithOtherCaseSuffixIsNoPageFolder",
     join({page("A", "x.png", "X"), {{"P.html", "<img src=\"P_Files/x.png\">"}, {"P_Files/x.png", "X"}}}),
     {"A_files/x.png", "P_Files/x.png"}, {}, {{"P.html", "<img src=\"images/x.png\">"}}},
    {"Utf16PageWithMarkKeepsItsCopy",
     join({{{"A.html", utf16le("<img src=\"A_files/x.png\">")}, {"A_files/x.png", "X"}}, page("B", "x.png", "X")}),
     {"B_files/x.png"}, {"A_files/x.png"},
     {{"A.html", utf16le("<img src=\"A_files/x.png\">")}, {"B.html", "<img src=\"A_files/x.png\">"}}},
    {"Utf16StylesheetWithoutMarkKeepsItsCopy",
     join({{{"w.css", utf16le("p { background: url(W_files/x.png) }", "")}, {"W_files/x.png", "X"}},
           page("B", "x.png", "X")}),
     {"B_files/x.png"}, {"W_files/x.png"}, {}},
    {"LinkToAFolderKeepsWhatItShows",
     join({pages("ab"), {{"c.html", "<img src=\"sl/shared/logo.png\">"}, {"sl/shared", "->../b_files"}}}),
     {"a_files/logo.png"}, {"b_files/logo.png"}, {{"c.html", "<img src=\"sl/shared/logo.png\">"}}},
    // Scripts reached again through a link back into the site are never written through.
    // One page per copy, so that the file each sheet names does not follow the walk's order.
    {"FolderLinkingBackIntoTheSiteKeepsTheCopies",
     {{"index.html", "<html>home</html>"}, {"A.html", "<img src=\"A_files/logo.png\">"}, {"A_files/logo.png", "LOGO"},
      {"B.html", "<img src=\"B_files/logo.png\">"}, {"B_files/logo.png", "LOGO"}, {"B_files/again", "->.."}},
     {}, AB, {{"A.html", "<img src=\"A_files/logo.png\">"}, {"B.html", "<img src=\"B_files/logo.png\">"}},
     {.sheets = {"Keeping logo.png in $/A_files: $/B_files/again/A.html" + throughLink,
                 "Keeping logo.png in $/B_files: $/B_files/again/B.html" + throughLink},
      .left = 1}},
    {"CssEscapeInsideUrl",
     join({page("b", "logo.png", "LOGO"),
           {{"c.html", "<div style=\"background:url(c_files/lo\\go.png)\"></div>"},
            {"c.css", "p { background: url(C_files/lo\\go.png) }"}, {"c_files/logo.png", "LOGO"},
            {"C_files/logo.png", "LOGO"}}}),
     {"b_files/logo.png", "c_files/logo.png", "C_files/logo.png"}, {},
     {{"c.html", "<div style=\"background:url(images/lo\\go.png)\"></div>"},
      {"c.css", "p { background: url(images/lo\\go.png) }"}}},
    {"CssHexEscapesInAStyleAttribute",
     join({page("A", "logo.png", "LOGO"),
           {{"D.html", "<p style=\"background: url(D_files/\\6c ogo\\2epng)\">a</p>"}, {"D_files/logo.png", "LOGO"}}}),
     {"A_files/logo.png", "D_files/logo.png"}, {},
     {{"D.html", "<p style=\"background: url(images/\\6c ogo\\2epng)\">a</p>"}}},
    {"CssEscapesCountOnlyInsideUrl", join({pages("AB"), {{"E.html", "<p title=\"fill(B_files/l\\6f go.png)\">"}}}),
     AB, {}, {{"E.html", "<p title=\"fill(B_files/l\\6f go.png)\">"}}},
    {"PercentAndReferenceSpellingsAreKept",
     join({{{"A.html", "<img src=\"A_files/a%20b.png\"><img src=\"./A_files/a b.png?v=1#f\">"},
            {"A_files/a b.png", "AB"}, {"B.html", "<img src=\"B&#95;files/a&#32;b.png\">"}, {"B_files/a b.png", "AB"}}}),
     {"A_files/a b.png", "B_files/a b.png"}, {},
     {{"A.html", "<img src=\"images/a%20b.png\"><img src=\"./images/a b.png?v=1#f\">"},
      {"B.html", "<img src=\"images/a&#32;b.png\">"}}},
    {"AbsoluteAndRootReferencesKeepTheirCopy",
     join({pages("AB", "x.png"),
           {{"C.html", "<img src=\"/B_files/x.png\"><img src=\"http://h/B_files/x.png\"><img src=\"//h.x.png\">"}}}),
     {"A_files/x.png"}, {"B_files/x.png"},
     {{"A.html", "<img src=\"B_files/x.png\">"},
      {"C.html", "<img src=\"/B_files/x.png\"><img src=\"http://h/B_files/x.png\"><img src=\"//h.x.png\">"}}},
    // A scheme is letters, digits, "+", "-" and "."; "c_d:" is the start of a path.
    {"SchemeCharactersTellAnotherSiteFromAPath",
     join({pages("AB", "x.png"),
           {{"C.html", "<img src=\"s0+x.y-z:B_files/x.png\"><img src=\"c_d:E_files/x.png\">"}, {"c_d:E_files/x.png", "X"}}}),
     {"A_files/x.png", "c_d:E_files/x.png"}, {"B_files/x.png"},
     {{"C.html", "<img src=\"s0+x.y-z:B_files/x.png\"><img src=\"B_files/x.png\">"}}},
    // The opening quote lies just beyond how far back a reference is looked for.
    {"QuoteBeyondTheSearchBound",
     join({pages("AB", "x.png"), {{"F.html", "<p title=\"ab " + repeat("./", 2042) + "B_files/x.png\">"}}}),
     xAB, {}, {{"F.html", "<p title=\"ab ./images/x.png\">"}}},
    {"LargestCodePointIsText",
     join({page("A", "x.png", "X"), {{"B.html", "\xF4\x8F\xBF\xBF<img src=\"B_files/x.png\">"}, {"B_files/x.png", "X"}}}),
     xAB, {}, {{"B.html", "\xF4\x8F\xBF\xBF<img src=\"images/x.png\">"}}},
    // The record of the run and its undo carry names of tabs, backslashes and line breaks.
    {"NamesOfAnyBytesAreRecordedAndUndone", join({pages("AB"), {{"Odd\t\\\n_files/logo.png", "LOGO"}}}),
     {"A_files/logo.png", "B_files/logo.png", "Odd\t\\\n_files/logo.png"}, {}, {keptA}},
    {"LongPageNameIsRewritten", join({page(longStem, "x.png", "X"), page("B", "x.png", "X")}),
     {longStem + "_files/x.png", "B_files/x.png"}, {}, {{longStem + ".html", "<img src=\"images/x.png\">"}}},
    {"OnePageRewrittenOnceForThreeGroups",
     join({{{"A.html", "<img src=\"A_files/a.png\"><img src=\"A_files/b.gif\">"},
            {"B.html", "<img src=\"B_files/c.jpg\"><img src=\"B_files/a.png\">"}, {"A_files/a.png", "1"},
            {"A_files/b.gif", "2"}, {"A_files/c.jpg", "3"}, {"B_files/a.png", "1"}, {"B_files/b.gif", "2"},
            {"B_files/c.jpg", "3"}}}),
     {"A_files/a.png", "A_files/b.gif", "A_files/c.jpg", "B_files/a.png"}, {},
     {{"A.html", "<img src=\"images/a.png\"><img src=\"images/b.gif\">"},
      {"B.html", "<img src=\"images/c.jpg\"><img src=\"images/a.png\">"}}},
    {"PageThatIsALinkKeepsTheCopyItShows",
     join({pages("AB"), {{"../out/C.html", "<img src=\"B_files/logo.png\">"}, {"C.html", "->../out/C.html"}}}),
     {"A_files/logo.png"}, {"B_files/logo.png"}, {{"A.html", "<img src=\"B_files/logo.png\">"}}},
    // Nothing would be saved: the whole group stays, each copy reported with its reason.
    {"EveryCopyHeldStaysReported",
     join({pages("AB"), {{"C.html", "<img src=\"http://h/A_files/logo.png\"><img src=\"/B_files/logo.png\">"}}}),
     {}, AB, {{"A.html", "<img src=\"A_files/logo.png\">"}},
     {.sheets = {"Keeping logo.png in $/A_files: $/C.html line 1: \"http://h/A_files/logo.png\": an absolute URL: "
                 "where it leads on the published site is not known",
                 "Keeping logo.png in $/B_files: $/C.html line 1: \"/B_files/logo.png\": a URL from the server's "
                 "root: where the site lies on the server is not known"},
      .left = 1}},
    {"WritersLeftoversGoAndNothingElse",
     join({pages("AB"), {{"A_files/.A.js.tolvane-Ul7CPD", "half a script"},
                         {"A_files/.A.js.tolvane-Ul7CP", "someone's file"},
                         {"A_files/A.js.tolvane-Ul7CPD", "someone's file too"}}}),
     {"A_files/logo.png", "B_files/logo.png", "A_files/.A.js.tolvane-Ul7CPD"},
     {"A_files/.A.js.tolvane-Ul7CP", "A_files/A.js.tolvane-Ul7CPD"}, {},
     {.gone = {"A_files/.A.js.tolvane-Ul7CPD"}}},
    // Failures and edits during the run.
    {"PageAppendedToMeanwhileKeepsTheEdit",
     join({page("A", "x.png", "X"), {{"B.html", "<p>B</p><img src=\"B_files/x.png\">"}, {"B_files/x.png", "X"}}}),
     {"A_files/x.png"}, {"B_files/x.png"},
     {{"A.html", "<img src=\"images/x.png\">"},
      {"B.html", "<p>B</p><img src=\"B_files/x.png\"><p>typed during the run</p>"}},
     {.edit = "B.html", .sheets = {writeB}, .left = 1}},
    {"PageEditedInPlaceMeanwhileKeepsTheEdit",
     join({page("A", "x.png", "X"), {{"B.html", "<p>B</p><img src=\"B_files/x.png\">"}, {"B_files/x.png", "X"}}}),
     {"A_files/x.png"}, {"B_files/x.png"}, {{"B.html", "<b>B</p><img src=\"B_files/x.png\">"}},
     {.edit = "B.html", .sameSize = true, .sheets = {writeB}, .left = 1}},
    {"ImagesFolderThatCannotBeMadeEndsTheRun", pages("AB"), {}, AB, {{"A.html", "<img src=\"A_files/logo.png\">"}},
     {.fail = {{Step::createDirectory, "images"}}, .sheets = {"Unable to create images folder"}, .completed = false,
      .left = 1}},
    {"PlainFileNamedImagesEndsTheRun", join({pages("AB"), {{"images", "not a folder"}}}), {}, AB,
     {{"images", "not a folder"}}, {.sheets = {moveLogo}, .completed = false, .left = 1}},
    {"ImagesLinkOutOfTheSiteIsNeverWrittenThrough",
     join({pages("AB"), {{"../out/keep.txt", "K"}, {"images", "->../out"}}}), {}, AB, {},
     {.sheets = {moveLogo}, .completed = false, .left = 1}},
    {"BothNamesTakenLeavesTheGroupAndGoesOn",
     join({pages("AB"), {{"A_files/b.png", "B"}, {"B_files/b.png", "B"}, {"images/logo.png", "other"},
                         {"images/logo-" + md5(std::string("LOGO")).substr(0, 8) + ".png", "other too"}}}),
     {"A_files/b.png", "B_files/b.png"}, AB, {{"images/b.png", "B"}, {"B.html", "<img src=\"B_files/logo.png\">"}},
     {.sheets = {moveLogo}, .left = 1}},
    {"KeptFileThatCannotBePlacedEndsTheRunAfterTheGroupsBefore",
     join({pages("AB"), {{"A_files/a.png", "1"}, {"B_files/a.png", "1"},
                         {"C.html", "<img src=\"A_files/a.png\"><img src=\"B_files/a.png\">"}}}),
     {"A_files/a.png", "B_files/a.png"}, AB, {{"C.html", "<img src=\"images/a.png\"><img src=\"images/a.png\">"}},
     {.fail = {{Step::link, "images/logo.png"}}, .sheets = {moveLogo}, .completed = false, .left = 1}},
    {"CopyChangedSinceTheScanStaysWithItsPages", pages("ABC"), {"A_files/logo.png", "C_files/logo.png"},
     {"B_files/logo.png"}, {{"B.html", "<img src=\"B_files/logo.png\">"}, {"C.html", "<img src=\"images/logo.png\">"}},
     {.meanwhile = {{"B_files/logo.png", "LOGX"}}, .sheets = {"Unable to remove logo.png from $/B_files"}}},
    {"KeptFileChangedSinceTheScanLeavesItsGroup", join({pages("AB", "x.png"), {{"images/x.png", "X"}}}), {},
     xAB, {{"A.html", "<img src=\"A_files/x.png\">"}},
     {.meanwhile = {{"images/x.png", "Y"}}, .sheets = {"Unable to move x.png to the site images folder"}, .left = 1}},
    {"PageAddedSinceTheScanIsRewrittenToo", pages("AB"), AB, {}, {{"C.html", "<img src=\"images/logo.png\">"}},
     {.meanwhile = {{"C.html", "<img src=\"B_files/logo.png\">"}}}},
    {"CopyThatCannotBeRemovedStaysAndIsReported", pages("ABCD"),
     {"A_files/logo.png", "B_files/logo.png", "D_files/logo.png"}, {"C_files/logo.png"},
     {{"C.html", "<img src=\"images/logo.png\">"}},
     {.fail = {{Step::remove, "C_files/logo.png", std::errc::device_or_resource_busy}},
      .sheets = {"Unable to remove logo.png from $/C_files"}, .left = 1}},
    // A page that is not UTF-8 keeps the copy it shows, which becomes the kept file.
    {"ScriptThatCannotBeWrittenKeepsItsCopy",
     join({pages("BCD"), {{"A_files/logo.png", "LOGO"}, {"C.html", "caf\xE9 <img src=\"C_files/logo.png\">"}}}),
     AB, {"C_files/logo.png", "D_files/logo.png"},
     {{"B.html", "<img src=\"C_files/logo.png\">"}, {"D.html", "<img src=\"C_files/logo.png\">"},
      {"D_files/D.js", "s = \"D_files\\/logo.png\";"}},
     {.fail = {{Step::write, "D_files/D.js"}}, .sheets = {"Unable to write back to file: $/D_files/D.js"}, .left = 1}},
    // Edits and failures between the run and its undo.
    {"UndoLeavesAPageEditedSinceTheRun", pages("AB"), AB, {}, {},
     {.sinceRun = {{"B.html", "<p>edited</p><img src=\"images/logo.png\">"}}, .undoSheets = {restoreB}}},
    {"UndoWithTheKeptFileChangedLeavesThePagesAsWritten", pages("AB"), AB, {}, {},
     {.sinceRun = {{"images/logo.png", "edited"}},
      .undoSheets = {"Unable to restore logo.png to $/A_files", "Unable to restore logo.png to $/B_files", copyLost}}},
    {"UndoThatCannotRestoreACopyIsFinishedByTheNext", pages("AB"), AB, {}, {},
     {.undoFail = {{Step::link, "B_files/logo.png"}},
      .undoSheets = {"Unable to restore logo.png to $/B_files", copyLost}}},
    {"UndoThatCannotWriteAPageIsFinishedByTheNext", pages("AB"), AB, {}, {},
     {.undoFail = {{Step::write, "A.html"}}, .undoSheets = {"Unable to restore $/A.html"}}},
    {"UndoThatCannotRemoveAnAddedFileIsFinishedByTheNext", pages("AB"), AB, {}, {},
     {.undoFail = {{Step::remove, "images/logo.png"}}, .undoSheets = {"Unable to remove logo.png from $/images"}}},
};
// clang-format on

class SiteCaseTest : public ::testing::TestWithParam<SiteCase> {};

Lines sorted(Lines lines) {
    std::sort(lines.begin(), lines.end());
    return lines;
}

// Each reference of an index as file, offset and image.
std::set<std::tuple<fs::path, std::size_t, fs::path>> referencesOf(const ReferenceIndex& index) {
    std::set<std::tuple<fs::path, std::size_t, fs::path>> all;
    for (const Reference& r : index.references())
        all.emplace(r.file, r.offset, index.targetOf(r));
    return all;
}

// The references of the site that lead to no file.
Lines nowhere(const fs::path& root) {
    Lines found;
    for (const auto& [file, references] : test::referenceTargets(root)) {
        for (const auto& reference : references) {
            if (!reference.bytes)
                found.push_back(file + ": " + reference.text);
        }
    }
    return found;
}

TEST_P(SiteCaseTest, RunKeepsEveryReferenceAndUndoGivesTheOriginal) {
    const SiteCase& c = GetParam();
    const Twist& twist = c.twist;
    test::TempDir dir;
    test::ScopedJournalHome home;
    const fs::path root = dir / "site";
    const auto expand = [&](Lines lines) {
        for (auto& line : lines) {
            for (auto at = line.find('$'); at != std::string::npos; at = line.find('$', at))
                line.replace(at, 1, root.string());
        }
        return lines;
    };
    const auto failures = [&](Failures list) {
        for (auto& failure : list)
            failure.path = root / failure.path;
        return list;
    };
    const auto write = [&](const Files& files) {
        for (const auto& [path, bytes] : files) {
            if (bytes.rfind("->", 0) == 0) {
                fs::create_directories((root / path).parent_path());
                fs::create_symlink(bytes.substr(2), root / path);
            } else {
                writeFile(root / path, bytes);
            }
        }
    };
    write(c.files);
    fs::create_directories(dir / "out");
    auto original = test::snapshot(root);
    const auto outside = test::snapshot(dir / "out");
    const auto dangling = nowhere(root);
    const auto dry = test::runProcess(dir.path(), {TOLVANE_CLI, "optimize", "--dry-run", root},
                                      {home.setting()});
    EXPECT_EQ(dry.exitCode, 0) << dry.err;
    ASSERT_EQ(test::snapshot(root), original) << "the dry run changed the site";

    const ScanResult scan = scanWebsite(root);
    // An index on the scan's own listing finds what one that walks the site finds.
    std::vector<fs::path> copies;
    for (const auto& group : scan.duplicates)
        copies.insert(copies.end(), group.copies.begin(), group.copies.end());
    EXPECT_EQ(
        referencesOf(ReferenceIndex::build(root, copies, nullptr, nullptr, scan.listing.get())),
        referencesOf(ReferenceIndex::build(root, copies)));
    write(twist.meanwhile);
    const auto references = test::referenceTargets(root);
    original = test::snapshot(root);
    Lines temporaries = test::leftoverTemporaries(root);
    for (const auto& path : twist.gone) {
        original.erase(path);
        std::erase(temporaries, (root / path).string());
    }
    std::error_code error;
    std::optional<RunJournal> journal = RunJournal::start(root, error);
    ASSERT_TRUE(journal) << error.message();
    RealFileManager real;
    EditingBeforeWrite editing(root / twist.edit, twist.sameSize);
    test::FailingFileManager failing(real, failures(twist.fail));
    // The real file manager's batches wherever no step is made to fail.
    FileManager& files = !twist.edit.empty()  ? static_cast<FileManager&>(editing)
                         : twist.fail.empty() ? static_cast<FileManager&>(real)
                                              : failing;
    test::RecordingReporter reporter;
    RunOptions options = test::countedBy(reporter);
    options.journal = &*journal;
    const RunOutcome outcome = startOptimization(scan, files, reporter, options);
    EXPECT_EQ(sorted(reporter.sheets), sorted(expand(twist.sheets)));
    EXPECT_EQ(outcome.errorSheets, static_cast<int>(reporter.sheets.size()));
    EXPECT_EQ(outcome.completed, twist.completed);
    if (!twist.edit.empty())
        original[twist.edit] = readFile(root / twist.edit);

    // Unless something failed, every copy that stays is reported with its reason.
    const bool failed =
        std::any_of(reporter.reported.begin(), reporter.reported.end(), [](auto& e) {
            return isFailure(e.kind) && e.kind != EventKind::copyKeptWarning;
        });
    const auto kept = reporter.pathsOf({EventKind::copyKept, EventKind::copyKeptForFile,
                                        EventKind::copyKeptWarning, EventKind::removeFailed});
    for (const auto& group : scan.duplicates) {
        for (const auto& copy : group.copies) {
            EXPECT_TRUE(failed || !fs::exists(copy) || copy.parent_path() == root / "images" ||
                        kept.count(copy))
                << copy << " stays unreported";
        }
    }
    for (const auto& copy : c.removed)
        EXPECT_FALSE(fs::exists(root / copy)) << copy;
    for (const auto& copy : c.stay)
        EXPECT_EQ(readFile(root / copy), original.at(copy)) << copy;
    for (const auto& [path, text] : c.texts)
        EXPECT_EQ(readFile(root / path), text) << path;
    EXPECT_EQ(test::brokenReferences(references, root), Lines{});
    EXPECT_EQ(test::lostFiles(original, root), Lines{});
    EXPECT_EQ(test::leftoverTemporaries(root), temporaries);
    EXPECT_EQ(test::snapshot(dir / "out"), outside);
    EXPECT_EQ(scanWebsite(root).duplicates.size(), twist.left);

    // Undo, after the edits since the run; a run that changed nothing is not offered.
    write(twist.sinceRun);
    const auto beforeUndo = test::snapshot(root);
    const std::optional<RecordedRun> run = lastUndoableRun(root);
    if (!run) {
        EXPECT_EQ(test::snapshot(root), original);
        return;
    }
    test::FailingFileManager undoFiles(real, failures(twist.undoFail));
    test::RecordingReporter undoReporter;
    const UndoOutcome undone = undoRun(
        *run, twist.undoFail.empty() ? static_cast<FileManager&>(real) : undoFiles, undoReporter);
    EXPECT_EQ(sorted(undoReporter.sheets), sorted(expand(twist.undoSheets)));
    EXPECT_EQ(test::lostFiles(beforeUndo, root), Lines{});
    EXPECT_EQ(nowhere(root), dangling);
    EXPECT_EQ(test::snapshot(dir / "out"), outside);
    if (!twist.undoFail.empty()) {
        EXPECT_FALSE(undone.complete);
        ASSERT_TRUE(lastUndoableRun(root));
        test::RecordingReporter again;
        EXPECT_TRUE(undoRun(*lastUndoableRun(root), real, again).complete);
        EXPECT_EQ(again.sheets, Lines{});
    } else if (!twist.sinceRun.empty()) {
        EXPECT_FALSE(undone.complete); // the changed file is left, and reported
        return;
    } else {
        EXPECT_TRUE(undone.complete);
    }
    EXPECT_EQ(test::snapshot(root), original);
    EXPECT_FALSE(lastUndoableRun(root));
}

INSTANTIATE_TEST_SUITE_P(Sites, SiteCaseTest, ::testing::ValuesIn(cases),
                         [](const auto& info) { return info.param.name; });

// The log of a run and of its undo, line for line, with the progress's steps between.
TEST(ExampleRun, LogsEveryStepInOrderAndUndoTakesItBack) {
    test::TempDir dir;
    test::ScopedJournalHome home;
    const fs::path root = dir / "site";
    for (const auto& [path, bytes] : pages("AB"))
        writeFile(root / path, bytes);
    const auto p = [&](const std::string& relative) { return (root / relative).string(); };
    std::error_code error;
    std::optional<RunJournal> journal = RunJournal::start(root, error);
    RealFileManager real;
    test::RecordingReporter reporter;
    RunOptions options = test::countedBy(reporter);
    options.journal = &*journal;
    DuplicateGroup logo{"logo.png",
                        md5(std::string("LOGO")),
                        4,
                        {root / "A_files/logo.png", root / "B_files/logo.png"}};
    const RunOutcome outcome = startOptimization({logo}, root, real, reporter, options);
    const auto updating = [&](const char* file) {
        return "log Updating file: " + p(file) + " to use moved image: logo.png";
    };
    // clang-format off
    EXPECT_EQ(reporter.events,
              (Lines{"log Starting optimization - calculate number of actions", "setup 7",
                     "log Creating images folder in root",
                     "log Moving image file: logo.png to folder: " + p("images/logo.png"),
                     "log " + p("A_files/logo.png"), "log " + p("images/logo.png"), "step",
                     updating("A.html"), updating("A_files/A.js"), updating("B.html"), updating("B_files/B.js"),
                     "step", "step", "step", "step",
                     "log Removing duplicate file: logo.png from " + p("A_files"), "step",
                     "log Removing duplicate file: logo.png from " + p("B_files"), "step", "stop", "completed"}));
    // clang-format on
    EXPECT_EQ(std::tuple(outcome.filesRewritten, outcome.filesPlaced, outcome.copiesRemoved,
                         outcome.bytesSaved),
              std::tuple(4u, 1u, 1u, 4u)); // the first copy was moved, not removed

    test::RecordingReporter undoReporter;
    const UndoOutcome undone =
        undoRun(*lastUndoableRun(root), real, undoReporter, &undoReporter.progress);
    ASSERT_EQ(undoReporter.events.at(0).rfind("log Undoing the optimization of ", 0), 0u);
    EXPECT_EQ(
        Lines(undoReporter.events.begin() + 1, undoReporter.events.end()),
        (Lines{"setup 7", "step", "log Restoring duplicate file: logo.png to " + p("A_files"),
               "step", "log Restoring duplicate file: logo.png to " + p("B_files"), "step", "step",
               "step", "step", "log Restoring file: " + p("A.html"),
               "log Restoring file: " + p("A_files/A.js"), "log Restoring file: " + p("B.html"),
               "log Restoring file: " + p("B_files/B.js"), "step",
               "log Removing added file: " + p("images/logo.png"),
               "log Removing added folder: " + p("images"), "stop", "completed"}));
    EXPECT_EQ(std::tuple(undone.copiesRestored, undone.filesRestored, undone.filesRemoved,
                         undone.folderRemoved, undone.complete, undone.recorded),
              std::tuple(2u, 4u, 1u, true, true, true));
}

} // namespace
} // namespace tolvane
