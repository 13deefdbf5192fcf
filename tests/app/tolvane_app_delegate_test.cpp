#include "app/image_preview.hpp"
#include "app/log_view.hpp"
#include "app/main_window.hpp"
#include "app/path_text.hpp"
#include "app/preview_dialog.hpp"
#include "app/tolvane_app_delegate.hpp"
#include "run/file_manager.hpp"
#include "run/site_lock.hpp"
#include "scan/scan.hpp"
#include "support/quiet_offscreen.hpp"
#include "support/simulated_run.hpp"
#include "support/temp_dir.hpp"
#include "table/url_table_view_data_source.hpp"

#include "bench/sitegen/sitegen.hpp"

#include <QAbstractButton>
#include <QAbstractItemModelTester>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QDir>
#include <QDropEvent>
#include <QFileDialog>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QScrollBar>
#include <QSettings>
#include <QSignalSpy>
#include <QSortFilterProxyModel>
#include <QSplitter>
#include <QTableView>
#include <QTest>
#include <QThread>
#include <QUrl>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using tolvane::DuplicateGroup;
using tolvane::TolvaneAppDelegate;
using tolvane::test::readFile;
using tolvane::test::TempDir;
using tolvane::test::writeFile;

namespace {

constexpr int scanTimeout = 20000;

// A site with two duplicate groups: logo.png three times (one copy in a nested page folder)
// and star.gif twice; page.png occurs once.
void writeSiteWithDuplicates(const fs::path& root) {
    writeFile(root / "index.html", "<html><body>home</body></html>");
    for (const char* page : {"A", "B"}) {
        const std::string p = page;
        writeFile(root / (p + ".html"),
                  "<img src=\"" + p + "_files/logo.png\"><img src=\"" + p + "_files/star.gif\">");
        writeFile(root / (p + "_files") / (p + ".js"), "var i = \"" + p + "_files\\/logo.png\";");
        writeFile(root / (p + "_files") / "logo.png", "logo bytes, the same everywhere");
        writeFile(root / (p + "_files") / "star.gif", "GIF89a star");
    }
    writeFile(root / "Blog/Entry1.html", "<img src=\"Entry1_files/logo.png\">");
    writeFile(root / "Blog/Entry1_files/logo.png", "logo bytes, the same everywhere");
    writeFile(root / "A_files/page.png", "only once");
}

// What a run does to the logo.png copies of that site: one placed in images/, the pages and
// scripts that showed them rewritten, the copies removed.
tolvane::test::RunPlan logoRun(const fs::path& root) {
    tolvane::test::RunPlan plan;
    plan.root = root;
    plan.place = {{root / "A_files/logo.png", root / "images/logo.png"}};
    for (const std::string p : {"A", "B"}) {
        plan.rewrite.push_back({root / (p + ".html"), "<img src=\"images/logo.png\"><img src=\"" +
                                                          p + "_files/star.gif\">"});
        plan.rewrite.push_back(
            {root / (p + "_files") / (p + ".js"), "var i = \"images\\/logo.png\";"});
        plan.remove.push_back({root / (p + "_files/logo.png"), root / "images/logo.png"});
    }
    plan.rewrite.push_back({root / "Blog/Entry1.html", "<img src=\"../images/logo.png\">"});
    plan.remove.push_back({root / "Blog/Entry1_files/logo.png", root / "images/logo.png"});
    return plan;
}

// Every regular file below root with its bytes, and every folder ("name/").
std::map<std::string, std::string> snapshotOf(const fs::path& root) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        const std::string name = entry.path().lexically_relative(root).generic_string();
        if (entry.is_regular_file())
            files[name] = readFile(entry.path());
        else if (entry.is_directory())
            files[name + "/"] = {};
    }
    return files;
}

QList<QMessageBox*> visibleSheets(QWidget* window) {
    QList<QMessageBox*> sheets;
    for (QMessageBox* box : window->findChildren<QMessageBox*>())
        if (box->isVisible())
            sheets.append(box);
    return sheets;
}

QMessageBox* onlySheet(QWidget* window) {
    const QList<QMessageBox*> sheets = visibleSheets(window);
    return sheets.size() == 1 ? sheets.constFirst() : nullptr;
}

QAbstractButton* buttonOf(QMessageBox* box, const QString& text) {
    for (QAbstractButton* button : box->buttons())
        if (button->text() == text)
            return button;
    return nullptr;
}

QStringList columnTexts(const QTableView* table, int column) {
    QStringList texts;
    if (!table->model())
        return texts;
    for (int row = 0; row < table->model()->rowCount(); ++row)
        texts << table->model()->index(row, column).data().toString();
    return texts;
}

// The copies of a group from the site root, in the copies table's order: by path.
QStringList relativeCopies(const DuplicateGroup& group, const fs::path& root) {
    QStringList texts;
    for (const auto& copy : group.copies)
        texts << tolvane::relativeText(copy, root);
    texts.sort(Qt::CaseInsensitive);
    return texts;
}

QStringList names(const std::vector<DuplicateGroup>& groups) {
    QStringList texts;
    for (const auto& group : groups)
        texts << tolvane::toQString(group.name);
    return texts;
}

// The lines of the log pane without its section headings and the blank lines between them.
QStringList logLines(tolvane::MainWindow* window) {
    QStringList lines;
    for (const QString& line : window->logView->toPlainText().split('\n'))
        if (!line.isEmpty() && !line.startsWith("=== "))
            lines << line;
    return lines;
}

int rows(const QTableView* table) {
    return table->model() ? table->model()->rowCount() : 0;
}

// The row of a table (in its order) whose first column reads text; -1 when none does.
int rowOf(const QTableView* table, const QString& text) {
    return static_cast<int>(columnTexts(table, 0).indexOf(text));
}

// Space on the first cell of row, as a user toggles its check box from the keyboard.
void toggleRow(QTableView* table, int row) {
    table->setCurrentIndex(table->model()->index(row, 0));
    QTest::keyClick(table, Qt::Key_Space);
}

Qt::CheckState checkOf(const QTableView* table, int row) {
    return table->model()->index(row, 0).data(Qt::CheckStateRole).value<Qt::CheckState>();
}

// The data source behind a table's sorting proxy.
tolvane::NSURLTableViewDataSource* sourceOf(const QTableView* table) {
    auto* proxy = qobject_cast<QSortFilterProxyModel*>(table->model());
    return proxy ? qobject_cast<tolvane::NSURLTableViewDataSource*>(proxy->sourceModel()) : nullptr;
}

// The real file system, with every step recorded by thread, and held at a gate until the test
// opens it, so the test can look at the window while a run is in progress. With onlyWrites,
// steps pass until the first file is written back: the run is then half done.
class GatedFileManager : public tolvane::FileManager {
  public:
    explicit GatedFileManager(std::shared_future<void> gate, bool onlyWrites = false)
        : gate_(std::move(gate)), onlyWrites_(onlyWrites) {}

    bool exists(const fs::path& path) override { return pass(), real_.exists(path); }
    tolvane::FileResult createDirectory(const fs::path& path) override {
        return pass(), real_.createDirectory(path);
    }
    tolvane::FileResult moveItem(const fs::path& from, const fs::path& to) override {
        return pass(), real_.moveItem(from, to);
    }
    tolvane::FileResult removeItem(const fs::path& path) override {
        return pass(), real_.removeItem(path);
    }
    tolvane::FileResult removeEmptyDirectory(const fs::path& path) override {
        return pass(), real_.removeEmptyDirectory(path);
    }
    std::optional<tolvane::Bytes> readFile(const fs::path& path,
                                           tolvane::FileResult& error) override {
        return pass(), real_.readFile(path, error);
    }
    tolvane::FileResult writeFile(const fs::path& path, tolvane::ByteView data) override {
        return pass(true), real_.writeFile(path, data);
    }
    bool sameContent(const fs::path& a, const fs::path& b, tolvane::FileResult& error) override {
        return pass(), real_.sameContent(a, b, error);
    }
    std::optional<std::uint64_t> fileSize(const fs::path& path) override {
        return pass(), real_.fileSize(path);
    }
    std::optional<std::string> md5(const fs::path& path) override {
        return pass(), real_.md5(path);
    }
    bool isDirectory(const fs::path& path) override { return pass(), real_.isDirectory(path); }
    std::optional<unsigned> mode(const fs::path& path) override { return pass(), real_.mode(path); }
    tolvane::FileResult linkOrCopy(const fs::path& from, const fs::path& to) override {
        return pass(), real_.linkOrCopy(from, to);
    }
    tolvane::FileResult copyFile(const fs::path& from, const fs::path& to, unsigned mode) override {
        return pass(), real_.copyFile(from, to, mode);
    }

    static inline std::mutex mutex;
    static inline std::set<std::thread::id> threads;
    static inline std::atomic<int> waiting{0};

  private:
    void pass(bool write = false) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            threads.insert(std::this_thread::get_id());
        }
        if (onlyWrites_ && !write)
            return;
        ++waiting;
        gate_.wait();
        --waiting;
    }

    std::shared_future<void> gate_;
    bool onlyWrites_ = false;
    tolvane::RealFileManager real_;
};

// Takes the URLs QDesktopServices would open.
class UrlCatcher : public QObject {
    Q_OBJECT

  public:
    QStringList opened;

  public slots:
    void open(const QUrl& url) { opened << url.toLocalFile(); }
};

} // namespace

class TolvaneAppDelegateTest : public QObject {
    Q_OBJECT

    std::unique_ptr<TolvaneAppDelegate> controller;
    std::unique_ptr<QSignalSpy> shown;
    // Where runs are recorded while the tests run: never the real home.
    std::unique_ptr<tolvane::test::ScopedJournalHome> journalHome;

    QWidget* window() const { return controller->window(); }
    QPushButton* button(const char* name) const {
        return window()->findChild<QPushButton*>(QString::fromLatin1(name));
    }

    // Opens root through the window's folder chooser, as a user would.
    void chooseFolder(const fs::path& root, const QString& startsIn = QDir::homePath()) {
        button("openWebsiteButton")->click();
        auto* panel = window()->findChild<QFileDialog*>();
        QVERIFY(panel);
        QVERIFY(panel->isVisible());
        QCOMPARE(panel->windowModality(), Qt::WindowModal);
        QCOMPARE(panel->fileMode(), QFileDialog::Directory);
        QCOMPARE(QDir(panel->directory()).canonicalPath(), QDir(startsIn).canonicalPath());
        panel->setDirectory(tolvane::toQString(root.parent_path()));
        panel->selectFile(tolvane::toQString(root));
        static_cast<QDialog*>(panel)->accept(); // the Open button
    }

    void scanThroughChooser(const fs::path& root, const QString& startsIn = QDir::homePath()) {
        const int before = shown->count();
        chooseFolder(root, startsIn);
        QTRY_VERIFY_WITH_TIMEOUT(shown->count() > before, scanTimeout);
        // The chooser has gone: the window is the active one again, for keys and focus.
        window()->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window()));
    }

    // Optimize..., then the answer on the confirmation sheet ("&Optimize" or "&Cancel").
    void confirm(const QString& answer) {
        button("optimizeButton")->click();
        QMessageBox* sheet = onlySheet(window());
        QVERIFY(sheet);
        QCOMPARE(sheet->windowModality(), Qt::WindowModal);
        QCOMPARE(sheet->icon(), QMessageBox::Warning);
        QVERIFY(sheet->text().startsWith(QStringLiteral("Optimize ")));
        QCOMPARE(sheet->buttons().size(), 2);
        QAbstractButton* chosen = buttonOf(sheet, answer);
        QVERIFY(chosen);
        QVERIFY(buttonOf(sheet, answer == "&Optimize" ? "&Cancel" : "&Optimize"));
        chosen->click();
    }

    // The summary sheet of a run: its texts, then closed.
    QStringList takeSummary() {
        QMessageBox* sheet = onlySheet(window());
        if (!sheet || sheet->objectName() != "summarySheet")
            return {};
        const QStringList texts{sheet->text(), sheet->informativeText(), sheet->detailedText()};
        sheet->buttons().constFirst()->click();
        return texts;
    }

    // Runs started from now on wait at each file step until the returned promise is kept.
    std::promise<void> gateRuns(bool onlyWrites = false) {
        std::promise<void> open;
        std::shared_future<void> gate = open.get_future().share();
        GatedFileManager::threads.clear();
        controller->setFileManagerFactory(
            [gate, onlyWrites] { return std::make_unique<GatedFileManager>(gate, onlyWrites); });
        return open;
    }

    void dismissSheets() {
        for (QMessageBox* sheet : visibleSheets(window()))
            sheet->buttons().constFirst()->click();
        QTRY_VERIFY(visibleSheets(window()).isEmpty());
    }

  private slots:
    void initTestCase() { tolvane::test::silenceOffscreenWindowWarnings(); }

    void init() {
        tolvane::openSettings()->clear(); // each test starts as a first start
        journalHome = std::make_unique<tolvane::test::ScopedJournalHome>();
        controller = std::make_unique<TolvaneAppDelegate>();
        controller->applicationDidFinishLaunching();
        controller->window()->show();
        QVERIFY(QTest::qWaitForWindowExposed(controller->window()));
        // Shortcuts and focus need the active window.
        controller->window()->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(controller->window()));
        shown = std::make_unique<QSignalSpy>(controller.get(), &TolvaneAppDelegate::scanShown);
    }

    void cleanup() {
        shown.reset();
        controller.reset();
        journalHome.reset();
    }

    void selectingBeforeAnyScanShowsNothing() {
        controller->selectImage();
        QCOMPARE(rows(controller->pagesTable()), 0);
        QVERIFY(!button("optimizeButton")->isEnabled());
        QVERIFY(!controller->window()->optimizeAction->isEnabled());
        QVERIFY(button("openWebsiteButton")->isEnabled());
        QCOMPARE(controller->window()->openAction->shortcut(), QKeySequence(QKeySequence::Open));
    }

    void aFolderWithoutIndexHtmlIsNamedAndAChildSiteOffered() {
        TempDir site;
        writeFile(site / "zeta/index.html", "a site, but not the first by name");
        writeFile(site / "Pages/index.html", "a site one level down");
        writeFile(site / "Pages/a_files/x.png", "x");
        writeFile(site / "Pages/b_files/x.png", "x");
        writeFile(site / "notes/readme.txt", "no site");
        const QString folder = tolvane::toQString(site.path());

        // Cancel: nothing is scanned.
        chooseFolder(site.path());
        QMessageBox* sheet = onlySheet(window());
        QVERIFY(sheet);
        QCOMPARE(sheet->windowModality(), Qt::WindowModal);
        QCOMPARE(sheet->icon(), QMessageBox::Warning);
        QCOMPARE(sheet->text(), QString("“%1” is not a website folder.").arg(folder));
        QVERIFY(sheet->informativeText().contains("“Pages”"));
        QCOMPARE(sheet->buttons().size(), 2);
        QVERIFY(buttonOf(sheet, "&Open “Pages”"));
        buttonOf(sheet, "&Cancel")->click();
        QVERIFY(!controller->isBusy());
        QVERIFY(!controller->currentDuplicates().has_value());
        QCOMPARE(rows(controller->imagesTable()), 0);
        QTRY_VERIFY(visibleSheets(window()).isEmpty());
        QCOMPARE(shown->count(), 0);

        // Open: the child is scanned.
        controller->openFolder(folder);
        sheet = onlySheet(window());
        QVERIFY(sheet);
        buttonOf(sheet, "&Open “Pages”")->click();
        QTRY_VERIFY_WITH_TIMEOUT(shown->count() == 1, scanTimeout);
        QCOMPARE(controller->siteRoot(), site / "Pages");
        QCOMPARE(rows(controller->imagesTable()), 1);

        // Without a child site: the folder is named, and OK is the only answer.
        controller->openFolder(tolvane::toQString(site / "notes"));
        sheet = onlySheet(window());
        QVERIFY(sheet);
        QCOMPARE(sheet->text(), QString("“%1/notes” is not a website folder.").arg(folder));
        QCOMPARE(sheet->buttons().size(), 1);
        dismissSheets();
        QCOMPARE(shown->count(), 1);
    }

    void aCancelledChooserChangesNothing() {
        TempDir site;
        writeSiteWithDuplicates(site.path());
        scanThroughChooser(site.path());
        const QStringList before = columnTexts(controller->imagesTable(), 0);

        button("openWebsiteButton")->click();
        auto* panel = window()->findChild<QFileDialog*>();
        QVERIFY(panel && panel->isVisible());
        panel->reject();
        QVERIFY(!controller->isBusy());
        QVERIFY(visibleSheets(window()).isEmpty());
        QCOMPARE(columnTexts(controller->imagesTable(), 0), before);
        QCOMPARE(controller->siteRoot(), site.path());
    }

    void aScanWithNothingToDoSaysSo_data() {
        QTest::addColumn<bool>("stuck");
        QTest::addColumn<QString>("why");
        QTest::newRow("no duplicates")
            << false << "Your website contains no duplicate images that need optimizing.";
        QTest::newRow("every copy has to stay")
            << true
            << "Every copy of the duplicate images has to stay where it is; the copies table "
               "says why.";
    }

    void aScanWithNothingToDoSaysSo() {
        QFETCH(bool, stuck);
        QFETCH(QString, why);
        TempDir site;
        writeFile(site / "index.html", "home");
        writeFile(site / "a_files/x.png", "one");
        writeFile(site / "b_files/x.png", "another");
        if (stuck) {
            // Every page that shows the image is text of another encoding: nothing goes.
            writeFile(site / "A.html", "caf\xe9<img src=\"A_files/x.png\">");
            writeFile(site / "B.html", "caf\xe9<img src=\"B_files/x.png\">");
            writeFile(site / "A_files/x.png", "x bytes");
            writeFile(site / "B_files/x.png", "x bytes");
        }

        scanThroughChooser(site.path());
        QMessageBox* sheet = onlySheet(window());
        QVERIFY(sheet);
        // Nothing to do is news, not a failure.
        QCOMPARE(sheet->icon(), QMessageBox::Information);
        QCOMPARE(sheet->text(), QStringLiteral("There are no images to optimize!"));
        QCOMPARE(sheet->informativeText(), why);
        QCOMPARE(rows(controller->imagesTable()), stuck ? 1 : 0);
        for (const QString& fate : columnTexts(controller->pagesTable(), 1))
            QCOMPARE(fate.left(7), QStringLiteral("Stays: "));
        QCOMPARE(rows(controller->pagesTable()), stuck ? 2 : 0);
        QVERIFY(!button("optimizeButton")->isEnabled());
        QVERIFY(!button("previewButton")->isEnabled());
        QCOMPARE(controller->siteRoot().empty(), !stuck);
        QVERIFY(button("openWebsiteButton")->isEnabled());
    }

    void duplicatesShowTheFirstGroupAtOnce() {
        TempDir site;
        writeSiteWithDuplicates(site.path());
        const tolvane::ScanResult expected = tolvane::scanWebsite(site.path());
        QCOMPARE(expected.duplicates.size(), 2u);

        // The scan works off the window's thread, with a busy indicator, and nothing else can
        // start meanwhile.
        chooseFolder(site.path());
        QVERIFY(controller->isBusy());
        auto* progress = window()->findChild<QProgressBar*>("progressIndicator");
        QCOMPARE(progress->maximum(), 0);
        QVERIFY(!button("openWebsiteButton")->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(shown->count() == 1, scanTimeout);
        QVERIFY(!controller->isBusy());
        QVERIFY(progress->maximum() > 0);
        QVERIFY(visibleSheets(window()).isEmpty());
        QTableView* images = controller->imagesTable();
        QTableView* pages = controller->pagesTable();
        QCOMPARE(columnTexts(images, 0), names(expected.duplicates));
        QCOMPARE(images->selectionModel()->selectedRows().size(), 1);
        QCOMPARE(images->selectionModel()->selectedRows().constFirst().row(), 0);
        // The copies, relative to the site root, entry 0 (the kept one) first and marked.
        QCOMPARE(columnTexts(pages, 0), relativeCopies(expected.duplicates[0], site.path()));
        QCOMPARE(columnTexts(pages, 1),
                 (QStringList{"Kept as images/logo.png", "Removed", "Removed"}));
        QCOMPARE(columnTexts(images, 6), (QStringList{"images/logo.png", "images/star.gif"}));
        QVERIFY(pages->model()->index(0, 0).data(Qt::FontRole).value<QFont>().bold());
        QVERIFY(!pages->model()->index(1, 0).data(Qt::FontRole).value<QFont>().bold());
        const auto& first = expected.duplicates[0];
        QCOMPARE(images->model()->index(0, 2).data().toULongLong(), first.copies.size());

        QVERIFY(button("optimizeButton")->isEnabled());
        QVERIFY(controller->window()->optimizeAction->isEnabled());
        // Another site can still be opened.
        QVERIFY(button("openWebsiteButton")->isEnabled());
        QVERIFY(controller->window()->openAction->isEnabled());
        QCOMPARE(controller->siteRoot(), site.path());
        QVERIFY(!controller->window()->summaryLabel->text().isEmpty());

        // A click on the second group shows its copies; clearing the selection empties the table.
        const QModelIndex second = images->model()->index(1, 0);
        QTest::mouseClick(images->viewport(), Qt::LeftButton, {},
                          images->visualRect(second).center());
        QCOMPARE(columnTexts(pages, 0), relativeCopies(expected.duplicates[1], site.path()));
        images->clearSelection();
        QCOMPARE(rows(pages), 0);
    }

    void aCopyReferredToByANonUtf8PageStaysWithItsReason() {
        TempDir site;
        writeFile(site / "index.html", "<html><body>home</body></html>");
        const std::string logo = "logo bytes, the same everywhere";
        for (const std::string page : {"A", "B", "C"}) {
            // B.html is Latin-1 text: a run cannot rewrite it, so its copy must stay.
            const std::string text = page == "B" ? "<p>caf\xe9</p>" : "<p>home</p>";
            std::string images = "<img src=\"" + page + "_files/logo.png\">";
            if (page != "B") {
                images += "<img src=\"" + page + "_files/star.gif\">";
                writeFile(site / (page + "_files") / "star.gif", "GIF89a star");
            }
            writeFile(site / (page + ".html"), text + images);
            writeFile(site / (page + "_files") / "logo.png", logo);
        }
        const tolvane::ScanResult expected = tolvane::scanWebsite(site.path());
        QCOMPARE(names(expected.duplicates), (QStringList{"logo.png", "star.gif"}));
        const int heldRow =
            relativeCopies(expected.duplicates[0], site.path()).indexOf("B_files/logo.png");
        QVERIFY(heldRow >= 0);

        scanThroughChooser(site.path());
        QTableView* images = controller->imagesTable();
        QTableView* pages = controller->pagesTable();
        QCOMPARE(images->model()->headerData(3, Qt::Horizontal).toString(),
                 QStringLiteral("References"));
        // Each page refers to its own copies once, the Latin-1 page included.
        QCOMPARE(columnTexts(images, 3), (QStringList{"3", "2"}));

        // The copy B.html refers to stays, naming the file and why, and is the kept file: the
        // others go and their pages lead to it.
        const QStringList fates = columnTexts(pages, 1);
        QCOMPARE(fates.size(), 3);
        const QString reason = QStringLiteral("B.html is not valid UTF-8 text");
        for (int row = 0; row < 3; ++row)
            QCOMPARE(fates[row], row == heldRow ? QStringLiteral("Kept here, the others lead to it")
                                                : QStringLiteral("Removed"));
        QCOMPARE(pages->model()->index(heldRow, 1).data(Qt::ToolTipRole).toString(), reason);
        QCOMPARE(columnTexts(images, 6).constFirst(), QStringLiteral("B_files/logo.png"));
        // The details line under the table gives the whole reason of the current copy.
        pages->setCurrentIndex(pages->model()->index(heldRow, 0));
        QCOMPARE(controller->window()->copyDetails->text(),
                 "B_files/logo.png: Kept here, the others lead to it\n" + reason);

        // The summary counts the copies that really go: both other logos, one star.
        QCOMPARE(controller->window()->summaryLabel->text(),
                 QStringLiteral("2 duplicated images, 3 copies to remove, %1 to save.")
                     .arg(tolvane::sizeText(2 * logo.size() + std::string("GIF89a star").size())));

        // The run agrees: the copy stays and nothing of the logo goes into images/.
        QSignalSpy finished(controller.get(), &TolvaneAppDelegate::runFinished);
        confirm("&Optimize");
        QTRY_VERIFY_WITH_TIMEOUT(finished.count() == 1, scanTimeout);
        QCOMPARE(finished.constFirst().constFirst().toBool(), true);
        QTRY_VERIFY_WITH_TIMEOUT(shown->count() == 2, scanTimeout);
        const QStringList summary = takeSummary();
        QCOMPARE(summary.value(0), QStringLiteral("Optimization finished."));
        QCOMPARE(summary.value(1),
                 QStringLiteral("Removed 3 copies, saved %1; 2 files rewritten; 0 copies stayed.\n"
                                "No duplicate images are left.")
                     .arg(tolvane::sizeText(2 * logo.size() + std::string("GIF89a star").size())));
        QCOMPARE(readFile(site / "B_files/logo.png"), logo);
        QVERIFY(!fs::exists(site / "images/logo.png"));
        QVERIFY(!fs::exists(site / "A_files/logo.png"));
        QCOMPARE(
            readFile(site / "A.html"),
            std::string("<p>home</p><img src=\"B_files/logo.png\"><img src=\"images/star.gif\">"));
    }

    void aSecondScanShowsOnlyTheNewResult() {
        TempDir first;
        writeSiteWithDuplicates(first.path());
        TempDir second;
        writeFile(second / "index.html", "home");
        writeFile(second / "p_files/other.jpg", "jpg");
        writeFile(second / "q_files/other.jpg", "jpg");

        scanThroughChooser(first.path());
        auto* imagesModel = sourceOf(controller->imagesTable());
        auto* pagesModel = sourceOf(controller->pagesTable());
        QVERIFY(imagesModel && pagesModel);
        QAbstractItemModelTester imagesTester(
            imagesModel, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QAbstractItemModelTester pagesTester(
            pagesModel, QAbstractItemModelTester::FailureReportingMode::QtTest);

        scanThroughChooser(second.path(), tolvane::toQString(first.path()));
        // The same models, refilled.
        QCOMPARE(sourceOf(controller->imagesTable()), imagesModel);
        QCOMPARE(sourceOf(controller->pagesTable()), pagesModel);
        QCOMPARE(columnTexts(controller->imagesTable(), 0), QStringList{"other.jpg"});
        const tolvane::ScanResult expected = tolvane::scanWebsite(second.path());
        QCOMPARE(columnTexts(controller->pagesTable(), 0),
                 relativeCopies(expected.duplicates[0], second.path()));
        QCOMPARE(controller->siteRoot(), second.path());
        QCOMPARE(controller->currentDuplicates()->size(), 1u);
    }

    void aDroppedFolderIsOpened() {
        TempDir site;
        writeSiteWithDuplicates(site.path());
        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(tolvane::toQString(site.path()))});
        QDropEvent drop(QPointF(50, 50), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        // Qt delivers a drop only to the target of a drag in progress; hand it to the window
        // directly, as that delivery would.
        static_cast<QObject*>(window())->event(&drop);
        QTRY_VERIFY_WITH_TIMEOUT(shown->count() == 1, scanTimeout);
        QCOMPARE(rows(controller->imagesTable()), 2);
    }

    void answeringYesRunsOnTheWorkerAndShowsTheRescan() {
        TempDir site;
        writeSiteWithDuplicates(site.path());
        scanThroughChooser(site.path());
        const tolvane::ScanResult scanned = tolvane::scanWebsite(site.path());

        std::promise<void> open = gateRuns();

        bool sheetAtFirstLine = true;
        bool linesOnWindowThread = true;
        const QString firstLine =
            QStringLiteral("Starting optimization - calculate number of actions");
        connect(controller.get(), &TolvaneAppDelegate::logged, this, [&](const QString& line) {
            if (line == firstLine)
                sheetAtFirstLine = !visibleSheets(window()).isEmpty();
            linesOnWindowThread &= QThread::currentThread() == qApp->thread();
        });
        QSignalSpy finished(controller.get(), &TolvaneAppDelegate::runFinished);

        confirm("&Optimize");
        QVERIFY(controller->isBusy());
        QTRY_VERIFY(controller->actionLog().contains(firstLine));
        QVERIFY(!sheetAtFirstLine);

        // The run waits at its first file step; the window still answers and refuses a second run
        // or another site.
        QTRY_VERIFY(GatedFileManager::waiting > 0);
        QVERIFY(!button("optimizeButton")->isEnabled());
        QVERIFY(!button("openWebsiteButton")->isEnabled());
        QVERIFY(!controller->window()->openAction->isEnabled());
        QVERIFY(!controller->window()->optimizeAction->isEnabled());
        controller->saveWebsite();
        QVERIFY(visibleSheets(window()).isEmpty());
        // Closing asks first; keeping the run going keeps the window.
        QVERIFY(!window()->close());
        QVERIFY(window()->isVisible());
        QMessageBox* closing = onlySheet(window());
        QVERIFY(closing);
        QCOMPARE(closing->text(), QStringLiteral("The optimization is still in progress."));
        buttonOf(closing, "&Keep Running")->click();
        QTRY_VERIFY(visibleSheets(window()).isEmpty());
        TempDir other;
        writeFile(other / "index.html", "home");
        controller->openFolder(tolvane::toQString(other.path()));
        QVERIFY(visibleSheets(window()).isEmpty());
        QTableView* images = controller->imagesTable();
        QTest::mouseClick(images->viewport(), Qt::LeftButton, {},
                          images->visualRect(images->model()->index(1, 0)).center());
        QCOMPARE(columnTexts(controller->pagesTable(), 0),
                 relativeCopies(scanned.duplicates[1], site.path()));

        open.set_value();
        QVERIFY(finished.wait(scanTimeout));
        QCOMPARE(finished.constFirst().constFirst().toBool(), true);
        QVERIFY(linesOnWindowThread);
        {
            std::lock_guard<std::mutex> lock(GatedFileManager::mutex);
            QVERIFY(!GatedFileManager::threads.empty());
            QVERIFY(!GatedFileManager::threads.count(std::this_thread::get_id()));
        }

        // On disk: one copy of each image in images/, the others gone, the pages rewritten.
        QCOMPARE(readFile(site / "images/logo.png"),
                 std::string("logo bytes, the same everywhere"));
        QCOMPARE(readFile(site / "images/star.gif"), std::string("GIF89a star"));
        for (const char* gone : {"A_files/logo.png", "B_files/logo.png", "A_files/star.gif",
                                 "B_files/star.gif", "Blog/Entry1_files/logo.png"})
            QVERIFY2(!fs::exists(site / gone), gone);
        QVERIFY(fs::exists(site / "A_files/page.png"));
        QCOMPARE(readFile(site / "A.html"),
                 std::string("<img src=\"images/logo.png\"><img src=\"images/star.gif\">"));
        QCOMPARE(readFile(site / "B_files/B.js"), std::string("var i = \"images\\/logo.png\";"));
        QCOMPARE(readFile(site / "Blog/Entry1.html"),
                 std::string("<img src=\"../images/logo.png\">"));

        // One sheet says what the run did and what the scan after it found; the run cannot be
        // started again.
        QTRY_VERIFY(onlySheet(window()));
        QCOMPARE(onlySheet(window())->icon(), QMessageBox::Information);
        const QStringList summary = takeSummary();
        QCOMPARE(summary.value(0), QStringLiteral("Optimization finished."));
        QCOMPARE(
            summary.value(1),
            QStringLiteral("Removed 3 copies, saved %1; 5 files rewritten; 0 copies stayed.\n"
                           "No duplicate images are left.")
                .arg(tolvane::sizeText(2 * std::string("logo bytes, the same everywhere").size() +
                                       std::string("GIF89a star").size())));
        QCOMPARE(summary.value(2), QString()); // nothing stayed, nothing failed
        QTest::qWait(50); // a sheet queued behind the summary would be open by now
        QVERIFY(visibleSheets(window()).isEmpty());
        QCOMPARE(rows(controller->imagesTable()), 0);
        QCOMPARE(rows(controller->pagesTable()), 0);
        QVERIFY(!button("optimizeButton")->isEnabled());
        QVERIFY(button("openWebsiteButton")->isEnabled());
        auto* progress = window()->findChild<QProgressBar*>("progressIndicator");
        QCOMPARE(progress->value(), progress->maximum());
        // Two kept files placed, five files rewritten, five copies removed, in so much time.
        QCOMPARE(progress->maximum(), 2 + 5 + 5);
        QVERIFY2(progress->text().startsWith("12 of 12 steps, 0:"), qPrintable(progress->text()));
        QVERIFY(progress->text().contains(" elapsed"));
        // The log pane holds every line, in order.
        QCOMPARE(logLines(controller->window()), controller->actionLog());
        QVERIFY(controller->actionLog().contains("Creating images folder in root"));
    }

    void processFileRewritesOnePageForTheSiteImagesFolder() {
        TempDir site;
        writeSiteWithDuplicates(site.path());
        scanThroughChooser(site.path());
        controller->processFile(tolvane::toQString(site / "Blog/Entry1.html"), "logo.png",
                                tolvane::toQString(site / "Blog/Entry1_files"));
        QCOMPARE(readFile(site / "Blog/Entry1.html"),
                 std::string("<img src=\"../images/logo.png\">"));
        QVERIFY(!controller->actionLog().isEmpty());
    }

    void undoPutsTheSiteBackAfterConfirmationUnlessTheSiteIsInUse() {
        TempDir site;
        writeSiteWithDuplicates(site.path());
        const auto before = snapshotOf(site.path());
        QAction* undo = controller->window()->undoAction;
        const QList<QAction*> fileMenu =
            controller->window()->menuBar()->actions().constFirst()->menu()->actions();
        QVERIFY(fileMenu.contains(undo));
        QCOMPARE(undo->text(), QStringLiteral("&Undo Last Optimization"));

        // Nothing recorded for the site: nothing to undo.
        scanThroughChooser(site.path());
        QVERIFY(!undo->isEnabled());
        dismissSheets();

        tolvane::RealFileManager real;
        tolvane::test::simulateRun(logoRun(site.path()), real);
        const auto afterRun = snapshotOf(site.path());
        // The chooser starts in the folder opened last.
        scanThroughChooser(site.path(), tolvane::toQString(site.path()));
        QVERIFY(undo->isEnabled());
        QVERIFY(controller->canUndo());
        QCOMPARE(columnTexts(controller->imagesTable(), 0), QStringList{"star.gif"});

        // Asked first; No changes nothing.
        undo->trigger();
        QMessageBox* sheet = onlySheet(window());
        QVERIFY(sheet);
        QCOMPARE(sheet->windowModality(), Qt::WindowModal);
        QCOMPARE(sheet->text(), QStringLiteral("Undo the last optimization?"));
        QVERIFY(sheet->informativeText().startsWith(
            QStringLiteral("WARNING. You are about to overwrite files within your website")));
        QCOMPARE(sheet->buttons().size(), 2);
        buttonOf(sheet, "&Cancel")->click();
        QVERIFY(!controller->isBusy());
        QTRY_VERIFY(visibleSheets(window()).isEmpty());
        QCOMPARE(snapshotOf(site.path()), afterRun);
        QVERIFY(undo->isEnabled());

        // Yes while another run holds the site: refused with a sheet, nothing changed.
        {
            std::error_code error;
            const auto lock = tolvane::SiteLock::tryAcquire(site.path(), error);
            QVERIFY(lock);
            undo->trigger();
            sheet = onlySheet(window());
            QVERIFY(sheet);
            buttonOf(sheet, "&Undo")->click();
            QTRY_VERIFY(onlySheet(window()));
            QCOMPARE(onlySheet(window())->text(),
                     QString::fromStdString(tolvane::siteBusyMessage(site.path())));
            QVERIFY(!controller->isBusy());
            QCOMPARE(snapshotOf(site.path()), afterRun);
            QVERIFY(undo->isEnabled());
            dismissSheets();
        }

        // Yes: on the worker, logged, then scanned again.
        QSignalSpy finished(controller.get(), &TolvaneAppDelegate::undoFinished);
        const int scans = shown->count();
        undo->trigger();
        sheet = onlySheet(window());
        QVERIFY(sheet);
        buttonOf(sheet, "&Undo")->click();
        QVERIFY(controller->isBusy());
        QVERIFY(!undo->isEnabled());
        QVERIFY(!button("optimizeButton")->isEnabled());
        QVERIFY(!window()->close());
        if (QMessageBox* closing = onlySheet(window()))
            buttonOf(closing, "&Keep Open")->click();
        QVERIFY(finished.wait(scanTimeout));
        QCOMPARE(finished.constFirst().constFirst().toBool(), true);
        QCOMPARE(snapshotOf(site.path()), before);
        const QString root = tolvane::toQString(site.path());
        QVERIFY(controller->actionLog().contains("Restoring duplicate file: logo.png to " + root +
                                                 "/B_files"));
        QVERIFY(controller->actionLog().contains("Restoring file: " + root + "/A.html"));
        QVERIFY(
            controller->actionLog().contains("Removing added file: " + root + "/images/logo.png"));
        QVERIFY(controller->actionLog().contains(QStringLiteral("Undo complete")));
        QCOMPARE(logLines(controller->window()), controller->actionLog());
        QTRY_VERIFY_WITH_TIMEOUT(shown->count() > scans, scanTimeout);
        QCOMPARE(columnTexts(controller->imagesTable(), 0),
                 names(tolvane::scanWebsite(site.path()).duplicates));
        QVERIFY(!controller->isBusy());
        QVERIFY(!undo->isEnabled()); // undone: not offered again
        QVERIFY(button("optimizeButton")->isEnabled());
        QVERIFY(visibleSheets(window()).isEmpty());
    }

    void popupErrorMessageLogsAndShowsASheet() {
        // Capture the console while the lines are written.
        TempDir folder;
        std::fflush(stdout);
        const int console = ::dup(STDOUT_FILENO);
        FILE* captured = std::freopen((folder / "console.txt").c_str(), "w", stdout);
        QVERIFY(captured);
        // Without --verbose the console stays quiet.
        controller->log("not on the console");
        controller->clearLog();
        controller->setEchoLog(true);
        controller->popupErrorMessage(
            "Unable to create images folder",
            tolvane::ErrorText{"mkdir /s/images: error 17", "It exists."});
        controller->popupErrorMessage("Without error", std::nullopt);
        controller->log(QString::fromUtf8("Moving image file: caf\u00e9.png to folder: /s/images"));
        controller->log(
            QString::fromUtf8("Removing duplicate file: two\nlines\r\x01.png from /s/A\tB"));
        std::fflush(stdout);
        ::dup2(console, STDOUT_FILENO);
        ::close(console);

        const QStringList expected{
            "Unable to create images folder, error: mkdir /s/images: error 17",
            "Without error, error: (null)",
            QString::fromUtf8("Moving image file: caf\u00e9.png to folder: /s/images"),
            QString::fromUtf8("Removing duplicate file: two\\nlines\\r\\x01.png from /s/A\tB")};
        QCOMPARE(controller->actionLog(), expected);
        QCOMPARE(QString::fromStdString(readFile(folder / "console.txt")),
                 expected.join('\n') + '\n');
        // A file name's line break stays inside its line, in the pane too.
        QCOMPARE(controller->window()->logView->toPlainText(), expected.join('\n'));
        const QList<QMessageBox*> sheets = visibleSheets(window());
        QCOMPARE(sheets.size(), 2);
        QSet<QString> texts;
        for (QMessageBox* sheet : sheets) {
            texts << sheet->text();
            if (sheet->text() == "Without error")
                QVERIFY(sheet->informativeText().isEmpty());
            else
                QCOMPARE(sheet->informativeText(), QStringLiteral("It exists."));
        }
        QCOMPARE(texts, (QSet<QString>{"Unable to create images folder", "Without error"}));
    }

    // ---- Cancel, summary and closing ------------------------------------------------------------

    void escapeCancelsAScanAndThePreviousResultStays() {
        TempDir first;
        writeSiteWithDuplicates(first.path());
        scanThroughChooser(first.path());
        const QStringList before = columnTexts(controller->imagesTable(), 0);
        const QString summaryBefore = controller->window()->summaryLabel->text();

        TempDir generated;
        tolvane::sitegen::SiteShape shape;
        shape.pages = 120;
        shape.minImageSize = 512;
        shape.maxImageSize = 2048;
        tolvane::sitegen::generateSite(generated / "big", shape);
        QSignalSpy cancelled(controller.get(), &TolvaneAppDelegate::scanCancelled);
        controller->openFolder(tolvane::toQString(generated / "big"));
        QVERIFY(controller->isBusy());
        // The header names the site being scanned from the start.
        QCOMPARE(controller->window()->siteLabel->text(), tolvane::toQString(generated / "big"));
        QCOMPARE(controller->window()->windowTitle(), QStringLiteral("big - Tolvane"));
        QVERIFY(button("cancelButton")->isEnabled());

        QTest::keyClick(window(), Qt::Key_Escape);
        QCOMPARE(cancelled.count(), 1);
        QVERIFY(!controller->isBusy());
        QVERIFY(!button("cancelButton")->isEnabled());
        QCOMPARE(controller->window()->siteLabel->text(), tolvane::toQString(first.path()));
        QCOMPARE(controller->window()->summaryLabel->text(), summaryBefore);
        QVERIFY(button("optimizeButton")->isEnabled());
        // Whatever the stopped scan still sends is not shown.
        QTest::qWait(300);
        QCOMPARE(shown->count(), 1);
        QCOMPARE(columnTexts(controller->imagesTable(), 0), before);
        QCOMPARE(controller->siteRoot(), first.path());

        // The generated site opens in full when not cancelled.
        controller->openFolder(tolvane::toQString(generated / "big"));
        QTRY_VERIFY_WITH_TIMEOUT(shown->count() == 2, scanTimeout);
        QCOMPARE(controller->currentDuplicates()->size(),
                 tolvane::scanWebsite(generated / "big").duplicates.size());
    }

    void aScanCancelledWhileFindingReferencesPlansNothing() {
        TempDir site;
        writeSiteWithDuplicates(site.path());
        // Cancelled while the pages are read: no plan is made from half the references.
        tolvane::Progress stopped;
        stopped.cancel();
        const tolvane::ScanDisplay cancelled =
            tolvane::withReferences(tolvane::scanWebsite(site.path()), &stopped);
        QVERIFY(cancelled.scan.cancelled);
        QVERIFY(cancelled.scan.duplicates.empty());
        QVERIFY(cancelled.groups.empty());
        // Not cancelled, the same site gets its plan, and the reading was counted.
        tolvane::Progress counted;
        const tolvane::ScanDisplay whole =
            tolvane::withReferences(tolvane::scanWebsite(site.path()), &counted);
        QVERIFY(!whole.scan.cancelled);
        QVERIFY(!whole.groups.empty());
        QCOMPARE(whole.groups.size(), whole.scan.duplicates.size());
        QVERIFY(counted.done() > 0);
        QCOMPARE(counted.done(), counted.total());
    }

    void cancellingARunPutsTheSiteBackAsItWas_data() {
        QTest::addColumn<bool>("halfDone");
        QTest::newRow("before anything is placed") << false;
        QTest::newRow("with kept files placed and pages being rewritten") << true;
    }

    void cancellingARunPutsTheSiteBackAsItWas() {
        QFETCH(bool, halfDone);
        TempDir site;
        writeSiteWithDuplicates(site.path());
        scanThroughChooser(site.path());
        const auto before = snapshotOf(site.path());
        std::promise<void> open = gateRuns(halfDone);
        QSignalSpy finished(controller.get(), &TolvaneAppDelegate::runFinished);

        confirm("&Optimize");
        QTRY_VERIFY_WITH_TIMEOUT(GatedFileManager::waiting > 0, scanTimeout);
        QCOMPARE(fs::exists(site / "images"), halfDone);
        QVERIFY(button("cancelButton")->isEnabled());
        button("cancelButton")->click();
        QVERIFY(!button("cancelButton")->isEnabled()); // asked once
        open.set_value();
        QVERIFY(finished.wait(scanTimeout));
        QCOMPARE(finished.constFirst().constFirst().toBool(), false);

        // Byte for byte as before, without an images folder; the sheet says so.
        QCOMPARE(snapshotOf(site.path()), before);
        QTRY_VERIFY(onlySheet(window()));
        QCOMPARE(onlySheet(window())->icon(), QMessageBox::Information);
        const QStringList summary = takeSummary();
        QCOMPARE(summary.value(0),
                 QStringLiteral("Optimization cancelled. The website is as it was before."));
        QVERIFY2(summary.value(1).startsWith("Everything the run had changed was put back."),
                 qPrintable(summary.value(1)));
        QVERIFY(controller->actionLog().contains(
            QStringLiteral("Optimization cancelled: every page still shows its images")));
        // The re-scan shows what is left: everything, ready to optimize again, nothing to undo.
        QTRY_COMPARE(rows(controller->imagesTable()), 2);
        QVERIFY(visibleSheets(window()).isEmpty());
        QVERIFY(button("optimizeButton")->isEnabled());
        QVERIFY(!controller->canUndo());

        // The next run starts its bar afresh: nothing of the last one shows while it begins.
        auto* progress = window()->findChild<QProgressBar*>("progressIndicator");
        QVERIFY(progress->maximum() > 0);
        std::promise<void> again = gateRuns();
        confirm("&Optimize");
        QTRY_VERIFY(GatedFileManager::waiting > 0);
        QCOMPARE(progress->maximum(), 0); // busy until the steps are known
        QCOMPARE(progress->value(), 0);
        again.set_value();
        QVERIFY(finished.wait(scanTimeout));
    }

    void aRunStoppedAtAFailureOffersUndoInItsSheet() {
        TempDir site;
        writeSiteWithDuplicates(site.path());
        scanThroughChooser(site.path());
        const auto before = snapshotOf(site.path());
        // The second group cannot be given its name in images/: the first one is done by then.
        const DuplicateGroup second = (*controller->currentDuplicates())[1];
        controller->setFileManagerFactory([&] {
            struct Failing : tolvane::RealFileManager {
                fs::path refused;
                tolvane::FileResult linkOrCopy(const fs::path& from, const fs::path& to) override {
                    if (to == refused)
                        return tolvane::FileError{tolvane::FileError::Operation::write,
                                                  {from, to},
                                                  std::make_error_code(std::errc::io_error)};
                    return RealFileManager::linkOrCopy(from, to);
                }
            };
            auto files = std::make_unique<Failing>();
            files->refused = site / "images" / second.name;
            return files;
        });
        QSignalSpy finished(controller.get(), &TolvaneAppDelegate::runFinished);
        confirm("&Optimize");
        QVERIFY(finished.wait(scanTimeout));
        QCOMPARE(finished.constFirst().constFirst().toBool(), false);
        QVERIFY(snapshotOf(site.path()) != before);

        // The failure that ended the run is the sheet, in the log too; the tables and the
        // buttons stay as they were.
        const QString expected =
            "Unable to move " + tolvane::toQString(second.name) + " to the site images folder";
        QTRY_VERIFY(onlySheet(window()));
        QMessageBox* sheet = onlySheet(window());
        QCOMPARE(sheet->text(), expected);
        QVERIFY(!sheet->informativeText().isEmpty());
        QVERIFY(std::any_of(
            controller->actionLog().begin(), controller->actionLog().end(),
            [&](const QString& line) { return line.startsWith(expected + ", error: "); }));
        QVERIFY(controller->actionLog().last().startsWith("Optimization stopped at a failure."));
        QCOMPARE(rows(controller->imagesTable()), 2);
        QVERIFY(button("optimizeButton")->isEnabled());
        QVERIFY(button("openWebsiteButton")->isEnabled());
        // What the run had done is put back from the sheet.
        QAbstractButton* undo = buttonOf(sheet, "&Undo");
        QVERIFY(undo);
        QSignalSpy undone(controller.get(), &TolvaneAppDelegate::undoFinished);
        undo->click();
        QVERIFY(undone.wait(scanTimeout));
        QCOMPARE(undone.constFirst().constFirst().toBool(), true);
        QCOMPARE(snapshotOf(site.path()), before);
        QVERIFY(!controller->canUndo());
    }

    void closingDuringARunAsksStopsItThenCloses() {
        TempDir site;
        writeSiteWithDuplicates(site.path());
        scanThroughChooser(site.path());
        const auto before = snapshotOf(site.path());
        std::promise<void> open = gateRuns();

        confirm("&Optimize");
        QTRY_VERIFY(GatedFileManager::waiting > 0);
        QVERIFY(!window()->close());
        QMessageBox* closing = onlySheet(window());
        QVERIFY(closing);
        buttonOf(closing, "&Stop and Close")->click();
        QVERIFY(window()->isVisible()); // not before the run has stopped
        open.set_value();
        QTRY_VERIFY_WITH_TIMEOUT(!window()->isVisible(), scanTimeout);
        QVERIFY(!controller->isBusy());
        QCOMPARE(snapshotOf(site.path()), before);
    }

    void theSummaryListsTheCopiesThatStayed() {
        TempDir site;
        writeFile(site / "index.html", "<img src=\"A_files/logo.png\">");
        writeFile(site / "A.html", "<img src=\"A_files/logo.png\">");
        // B.html and C.html cannot be rewritten: one of their copies keeps the bytes, the other
        // stays beside it.
        writeFile(site / "B.html", "caf\xe9<img src=\"B_files/logo.png\">");
        writeFile(site / "C.html", "caf\xe9<img src=\"C_files/logo.png\">");
        for (const char* page : {"A", "B", "C"})
            writeFile(site / (std::string(page) + "_files/logo.png"), "the same logo");
        scanThroughChooser(site.path());
        // The confirmation says what will happen.
        button("optimizeButton")->click();
        QMessageBox* sheet = onlySheet(window());
        QVERIFY(sheet);
        const QString planned = sheet->informativeText();
        QVERIFY2(planned.startsWith("1 copy will be removed, "), qPrintable(planned));
        QCOMPARE(sheet->defaultButton()->text(), QStringLiteral("&Cancel"));
        // Its buttons answer to their letters, without Alt.
        QSignalSpy finished(controller.get(), &TolvaneAppDelegate::runFinished);
        QTest::keyClick(sheet, Qt::Key_O);
        QVERIFY(finished.wait(scanTimeout));
        QTRY_VERIFY(onlySheet(window()));
        const QStringList summary = takeSummary();
        QVERIFY2(summary.value(1).endsWith("; 1 copy stayed.\n1 duplicated image is left; its "
                                           "copies have to stay where they are."),
                 qPrintable(summary.value(1)));
        QVERIFY2(
            summary.value(2).contains("logo.png in " + tolvane::toQString(site / "C_files")) ||
                summary.value(2).contains("logo.png in " + tolvane::toQString(site / "B_files")),
            qPrintable(summary.value(2)));
        QVERIFY(!fs::exists(site / "A_files/logo.png"));
    }

    // ---- Choices -----------------------------------------------------------------------------

    void aRunFollowsTheChoicesAsThePreviewListedThem_data() {
        QTest::addColumn<int>("choice");
        QTest::newRow("star.gif left alone") << 0;
        QTest::newRow("a copy of logo.png left where it is") << 1;
        QTest::newRow("a copy of logo.png kept") << 2;
    }

    void aRunFollowsTheChoicesAsThePreviewListedThem() {
        QFETCH(int, choice);
        TempDir site;
        writeSiteWithDuplicates(site.path());
        scanThroughChooser(site.path());
        QTableView* images = controller->imagesTable();
        QTableView* copies = controller->pagesTable();
        QAbstractItemModelTester imagesTester(
            sourceOf(images), QAbstractItemModelTester::FailureReportingMode::QtTest);
        const QString counts = window()->findChild<QLabel*>("summaryLabel")->text();
        QVERIFY2(counts.contains("3 copies to remove"), qPrintable(counts));

        if (choice == 0) {
            const int star = rowOf(images, "star.gif");
            toggleRow(images, star);
            QCOMPARE(checkOf(images, star), Qt::Unchecked);
            QCOMPARE(checkOf(images, rowOf(images, "logo.png")), Qt::Checked);
        } else {
            images->selectRow(rowOf(images, "logo.png"));
            const QString copy = choice == 1 ? "Blog/Entry1_files/logo.png" : "B_files/logo.png";
            const int row = rowOf(copies, copy);
            QVERIFY(row >= 0);
            if (choice == 1) {
                toggleRow(copies, row);
                QCOMPARE(checkOf(copies, row), Qt::Unchecked);
            } else {
                copies->setCurrentIndex(copies->model()->index(row, 0));
                QAction* keep = controller->window()->keepCopyAction;
                QVERIFY(copies->actions().contains(keep));
                QVERIFY(keep->isEnabled());
                keep->trigger();
                QVERIFY(keep->isChecked());
                QCOMPARE(copies->model()->index(row, 1).data().toString(),
                         QStringLiteral("Kept here, the others lead to it"));
            }
        }
        // The counts follow at once: one copy fewer goes, except where one is kept instead.
        const QString now = window()->findChild<QLabel*>("summaryLabel")->text();
        QVERIFY2(now.contains(choice == 2 ? "3 copies to remove" : "2 copies to remove"),
                 qPrintable(now));

        // What the preview lists is what the run changes, and nothing else changes.
        button("previewButton")->click();
        auto* preview = window()->findChild<tolvane::PreviewDialog*>("previewDialog");
        QVERIFY(preview);
        std::set<std::string> listed;
        for (const QString& line : preview->text().split('\n', Qt::SkipEmptyParts)) {
            const QString change = line.section('\t', 1);
            if (change.startsWith("Rewritten") || change == "Removed" ||
                change.startsWith("Kept as images/"))
                listed.insert(line.section('\t', 0, 0).toStdString());
        }
        preview->close();
        const auto before = snapshotOf(site.path());
        QSignalSpy finished(controller.get(), &TolvaneAppDelegate::runFinished);
        confirm("&Optimize");
        QVERIFY(finished.wait(scanTimeout));
        QCOMPARE(finished.constFirst().constFirst().toBool(), true);
        QTRY_VERIFY(onlySheet(window()));
        takeSummary();
        const auto after = snapshotOf(site.path());
        std::set<std::string> changed;
        for (const auto& [name, bytes] : before)
            if (!name.ends_with('/') && (!after.count(name) || after.at(name) != bytes))
                changed.insert(name);
        QCOMPARE(changed, listed);

        const std::string logo = "logo bytes, the same everywhere";
        switch (choice) {
        case 0:
            QVERIFY(!fs::exists(site / "images/star.gif"));
            QCOMPARE(readFile(site / "images/logo.png"), logo);
            QCOMPARE(readFile(site / "A.html"),
                     std::string("<img src=\"images/logo.png\"><img src=\"A_files/star.gif\">"));
            for (const char* kept : {"A_files/star.gif", "B_files/star.gif"})
                QCOMPARE(after.at(kept), before.at(kept));
            break;
        case 1:
            QCOMPARE(readFile(site / "images/logo.png"), logo);
            for (const char* kept : {"Blog/Entry1.html", "Blog/Entry1_files/logo.png"})
                QCOMPARE(after.at(kept), before.at(kept));
            break;
        default:
            QVERIFY(!fs::exists(site / "images/logo.png"));
            QCOMPARE(readFile(site / "B_files/logo.png"), logo);
            QCOMPARE(readFile(site / "A.html"),
                     std::string("<img src=\"B_files/logo.png\"><img src=\"images/star.gif\">"));
            QCOMPARE(readFile(site / "Blog/Entry1.html"),
                     std::string("<img src=\"../B_files/logo.png\">"));
        }
        // What was left alone stays so in the scan after the run: nothing is left to do.
        QVERIFY(!button("optimizeButton")->isEnabled());
    }

    void theSelectMenuChoosesTheGroups() {
        TempDir site;
        writeSiteWithDuplicates(site.path());
        scanThroughChooser(site.path());
        tolvane::MainWindow* w = controller->window();
        QTableView* images = controller->imagesTable();
        const auto checks = [&] {
            return QList<Qt::CheckState>{checkOf(images, rowOf(images, "logo.png")),
                                         checkOf(images, rowOf(images, "star.gif"))};
        };
        w->chooseNoneAction->trigger();
        QCOMPARE(checks(), (QList<Qt::CheckState>{Qt::Unchecked, Qt::Unchecked}));
        QVERIFY(!button("optimizeButton")->isEnabled());
        QVERIFY(!button("previewButton")->isEnabled());
        w->invertChoiceAction->trigger();
        QCOMPARE(checks(), (QList<Qt::CheckState>{Qt::Checked, Qt::Checked}));
        QVERIFY(button("optimizeButton")->isEnabled());
        // An unchecked group stays in its place, however the table is sorted.
        const int logoRow = rowOf(images, "logo.png");
        toggleRow(images, logoRow);
        QCOMPARE(rowOf(images, "logo.png"), logoRow);
        w->invertChoiceAction->trigger();
        QCOMPARE(checks(), (QList<Qt::CheckState>{Qt::Checked, Qt::Unchecked}));
        w->chooseAllAction->trigger();
        QCOMPARE(checks(), (QList<Qt::CheckState>{Qt::Checked, Qt::Checked}));

        // logo.png saves two copies of 31 bytes, star.gif one of 11; a size that is none is
        // refused and changes nothing.
        const auto least = [&](const QString& size) {
            w->leastSavingAction->trigger();
            auto* dialog = window()->findChild<QInputDialog*>("leastSavingDialog");
            QVERIFY(dialog && dialog->isVisible());
            dialog->setTextValue(size);
            dialog->accept();
            QTRY_VERIFY(!window()->findChild<QInputDialog*>("leastSavingDialog"));
        };
        least("a lot");
        QCOMPARE(checks(), (QList<Qt::CheckState>{Qt::Checked, Qt::Checked}));
        QVERIFY(onlySheet(window()));
        dismissSheets();
        least("20 B");
        QCOMPARE(checks(), (QList<Qt::CheckState>{Qt::Checked, Qt::Unchecked}));
        QVERIFY(
            window()->findChild<QLabel*>("summaryLabel")->text().contains("2 copies to remove"));
        least("1 KB");
        QCOMPARE(checks(), (QList<Qt::CheckState>{Qt::Unchecked, Qt::Unchecked}));
        QVERIFY(!button("optimizeButton")->isEnabled());
        // Another site starts with every group taken.
        TempDir other;
        writeSiteWithDuplicates(other.path());
        controller->openFolder(tolvane::toQString(other.path()));
        QTRY_COMPARE(controller->siteRoot(), other.path());
        QCOMPARE(checks(), (QList<Qt::CheckState>{Qt::Checked, Qt::Checked}));
    }

    // ---- Tables ------------------------------------------------------------------------------

    void columnsSortByTheirValuesAndSameNamedGroupsDiffer() {
        enum { name, digest, copies, references, size, saving, kept };
        TempDir site;
        writeFile(site / "index.html", "home");
        // Sizes 9, 10 and 100 bytes sort 9 < 10 < 100, not as text; names in reading order.
        const std::map<std::string, std::string> contents{{"stroke_19.png", std::string(100, 'b')},
                                                          {"stroke_2.png", std::string(9, 'a')},
                                                          {"Stroke_3.png", std::string(10, 'c')}};
        for (const auto& [file, bytes] : contents)
            for (const char* page : {"P", "Q"})
                writeFile(site / (std::string(page) + "_files") / file, bytes);
        // Two groups named twin.png with other contents: their kept files differ.
        for (const char* page : {"P", "Q"})
            writeFile(site / (std::string(page) + "_files/twin.png"), std::string(200, 't'));
        for (const char* page : {"R", "S"})
            writeFile(site / (std::string(page) + "_files/twin.png"), std::string(201, 'u'));
        scanThroughChooser(site.path());
        QTableView* images = controller->imagesTable();
        QAbstractItemModelTester tester(images->model(),
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        QCOMPARE(rows(images), 5);

        // What saves most comes first, and the header shows it.
        QCOMPARE(images->horizontalHeader()->sortIndicatorSection(), int(saving));
        QCOMPARE(images->horizontalHeader()->sortIndicatorOrder(), Qt::DescendingOrder);
        QCOMPARE(columnTexts(images, name), (QStringList{"twin.png", "twin.png", "stroke_19.png",
                                                         "Stroke_3.png", "stroke_2.png"}));
        images->horizontalHeader()->setSortIndicator(size, Qt::AscendingOrder);
        QCOMPARE(columnTexts(images, name).mid(0, 3),
                 (QStringList{"stroke_2.png", "Stroke_3.png", "stroke_19.png"}));
        images->horizontalHeader()->setSortIndicator(name, Qt::AscendingOrder);
        const QStringList byName{"stroke_2.png", "Stroke_3.png", "stroke_19.png", "twin.png",
                                 "twin.png"};
        QCOMPARE(columnTexts(images, name), byName);

        // The twins are told apart by their digests and by where their bytes go, in full.
        const QStringList digests = columnTexts(images, digest).mid(3);
        QCOMPARE(digests.size(), 2);
        QVERIFY(digests[0] != digests[1]);
        for (const QString& text : digests)
            QVERIFY2(QRegularExpression("^[0-9a-f]{8}$").match(text).hasMatch(), qPrintable(text));
        const QStringList keptAs = columnTexts(images, kept).mid(3);
        QVERIFY(keptAs.contains("images/twin.png"));
        const QString other =
            keptAs.constFirst() == "images/twin.png" ? keptAs.last() : keptAs.constFirst();
        QVERIFY2(QRegularExpression("^images/twin-[0-9a-f]{8}\\.png$").match(other).hasMatch(),
                 qPrintable(other));
        const QModelIndex twin = images->model()->index(3, kept);
        QVERIFY(twin.data(Qt::ToolTipRole).toString().startsWith(tolvane::toQString(site.path())));
        const int keptWidth = images->fontMetrics().horizontalAdvance(other);
        QVERIFY2(images->columnWidth(kept) > keptWidth,
                 qPrintable(QString("%1 <= %2").arg(images->columnWidth(kept)).arg(keptWidth)));
        QVERIFY(images->viewport()->rect().contains(images->visualRect(twin)));

        // The copies come by path, with the arrow shown.
        QTableView* pages = controller->pagesTable();
        QAbstractItemModelTester pagesTester(
            pages->model(), QAbstractItemModelTester::FailureReportingMode::QtTest);
        QCOMPARE(pages->horizontalHeader()->sortIndicatorSection(), 0);
        QStringList paths = columnTexts(pages, 0);
        QCOMPARE(paths.size(), 2);
        QVERIFY(paths[0] < paths[1]);

        // The selection follows the group, not the row: its copies stay on display.
        const QModelIndex b = images->model()->index(2, 0);
        QTest::mouseClick(images->viewport(), Qt::LeftButton, {}, images->visualRect(b).center());
        const auto shownName = [&] {
            return tolvane::toQString(
                (*controller->currentDuplicates())[controller->shownGroup()].name);
        };
        QCOMPARE(shownName(), QStringLiteral("stroke_19.png"));
        images->horizontalHeader()->setSortIndicator(size, Qt::AscendingOrder);
        QCOMPARE(shownName(), QStringLiteral("stroke_19.png"));
        QCOMPARE(images->selectionModel()->selectedRows().constFirst().row(), 2);

        // The order chosen stays for the next scan.
        images->horizontalHeader()->setSortIndicator(name, Qt::AscendingOrder);
        const int before = shown->count();
        controller->window()->rescanAction->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(shown->count() > before, scanTimeout);
        QCOMPARE(images->horizontalHeader()->sortIndicatorSection(), int(name));
        QCOMPARE(columnTexts(images, name), byName);
    }

    void theCopiesMenuOpensAndCopiesTheSelectedPaths() {
        TempDir site;
        writeSiteWithDuplicates(site.path());
        scanThroughChooser(site.path());
        QTableView* pages = controller->pagesTable();
        QCOMPARE(pages->contextMenuPolicy(), Qt::ActionsContextMenu);
        auto* w = controller->window();
        QVERIFY(pages->actions().contains(w->openCopyAction));
        QVERIFY(pages->actions().contains(w->copyPathAction));

        // Two copies selected, with Shift.
        pages->setFocus();
        pages->setCurrentIndex(pages->model()->index(0, 0));
        QTest::keyClick(pages, Qt::Key_Down, Qt::ShiftModifier);
        const QStringList rowsShown = columnTexts(pages, 0);
        const QStringList two{tolvane::toQString(site / tolvane::toPath(rowsShown[0])),
                              tolvane::toQString(site / tolvane::toPath(rowsShown[1]))};
        w->copyPathAction->trigger();
        QCOMPARE(QGuiApplication::clipboard()->text(), two.join('\n'));

        UrlCatcher catcher;
        QDesktopServices::setUrlHandler("file", &catcher, "open");
        w->openCopyAction->trigger();
        w->openCopyFolderAction->trigger();
        QDesktopServices::unsetUrlHandler("file");
        QCOMPARE(catcher.opened, (QStringList{two[0], two[1], QFileInfo(two[0]).absolutePath(),
                                              QFileInfo(two[1]).absolutePath()}));
        // A double-click opens the copy under the pointer.
        catcher.opened.clear();
        QDesktopServices::setUrlHandler("file", &catcher, "open");
        const QPoint second = pages->visualRect(pages->model()->index(1, 0)).center();
        QTest::mouseClick(pages->viewport(), Qt::LeftButton, {}, second);
        QVERIFY(catcher.opened.isEmpty()); // a click only selects
        QTest::mouseDClick(pages->viewport(), Qt::LeftButton, {}, second);
        QDesktopServices::unsetUrlHandler("file");
        QCOMPARE(catcher.opened, QStringList{two[1]});

        pages->clearSelection();
        QVERIFY(!w->copyPathAction->isEnabled());
    }

    void answeringNoOrAPreviewChangesNothing() {
        TempDir site;
        writeSiteWithDuplicates(site.path());
        scanThroughChooser(site.path());
        const auto before = snapshotOf(site.path());
        const QStringList imagesBefore = columnTexts(controller->imagesTable(), 0);
        const QStringList pagesBefore = columnTexts(controller->pagesTable(), 0);

        confirm("&Cancel");
        // A run would have started before the answer returned.
        QVERIFY(!controller->isBusy());
        QTRY_VERIFY(visibleSheets(window()).isEmpty());
        QCOMPARE(snapshotOf(site.path()), before);
        QCOMPARE(columnTexts(controller->imagesTable(), 0), imagesBefore);
        QCOMPARE(columnTexts(controller->pagesTable(), 0), pagesBefore);
        QVERIFY(!controller->actionLog().contains(
            QStringLiteral("Starting optimization - calculate number of actions")));
        QVERIFY(button("optimizeButton")->isEnabled());

        // The preview lists every change in a window of its own, changes nothing, and leaves
        // one line in the log.
        const int logBefore = controller->actionLog().size();
        button("previewButton")->click();
        auto* preview = window()->findChild<tolvane::PreviewDialog*>("previewDialog");
        QVERIFY(preview && preview->isVisible());
        QCOMPARE(snapshotOf(site.path()), before);
        QCOMPARE(controller->actionLog().size(), logBefore + 1);
        QVERIFY2(controller->actionLog().last().startsWith(
                     "Preview of the changes shown. A run would remove 3 copies"),
                 qPrintable(controller->actionLog().last()));
        QAbstractItemModel* listed = preview->changesTable()->model();
        QAbstractItemModelTester tester(listed,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        // Five files rewritten, five copies: each once, with what happens to it.
        QCOMPARE(listed->rowCount(), 5 + 5);
        const QStringList lines = preview->text().split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 10);
        for (const char* line :
             {"A.html\tRewritten", "B_files/B.js\tRewritten",
              "A_files/logo.png\tKept as images/logo.png", "B_files/logo.png\tRemoved",
              "Blog/Entry1_files/logo.png\tRemoved"})
            QVERIFY2(std::any_of(lines.begin(), lines.end(),
                                 [&](const QString& l) { return l.startsWith(line); }),
                     line);
        // The filter narrows the list; Save as Text writes what is shown.
        QTest::keyClicks(preview->filterBox(), "LOGO");
        QCOMPARE(listed->rowCount(), 3);
        TempDir saved;
        const QString file = tolvane::toQString(saved / "preview.txt");
        QString error;
        QVERIFY(preview->saveTo(file, &error));
        QCOMPARE(QString::fromStdString(readFile(saved / "preview.txt")), preview->text());
        QCOMPARE(preview->text().count('\n'), 3);
        preview->close();
        QVERIFY(button("optimizeButton")->isEnabled());
        QVERIFY(!controller->canUndo());
    }

    // ---- Preview ----------------------------------------------------------------------------

    void thePreviewShowsTheCurrentCopyHoweverThinOrTransparent() {
        TempDir site;
        writeFile(site / "index.html", "home");
        const auto twice = [&](const char* name, const QImage& picture) {
            for (const char* page : {"a", "b"}) {
                fs::create_directories(site / (std::string(page) + "_files"));
                QVERIFY(
                    picture.save(tolvane::toQString(site / (std::string(page) + "_files") / name)));
            }
        };
        QImage square(12, 8, QImage::Format_RGB32);
        square.fill(Qt::blue);
        twice("square.png", square);
        QImage line(630, 1, QImage::Format_RGB32);
        line.fill(Qt::red);
        twice("line.png", line);
        QImage white(40, 30, QImage::Format_RGB32);
        white.fill(Qt::white);
        twice("white.png", white);
        QImage clear(16, 16, QImage::Format_ARGB32);
        clear.fill(Qt::transparent);
        twice("clear.png", clear);
        writeFile(site / "a_files/broken.png", "not a picture");
        writeFile(site / "b_files/broken.png", "not a picture");

        scanThroughChooser(site.path());
        auto* preview = controller->window()->preview;
        // The first group's first copy, at once: never "Select an image" with a row selected.
        QVERIFY(controller->pagesTable()->selectionModel()->currentIndex().isValid());
        QVERIFY(!preview->picture().isNull());

        QTableView* images = controller->imagesTable();
        const auto select = [&](const QString& name) {
            const int row = columnTexts(images, 0).indexOf(name);
            QVERIFY(row >= 0);
            QTest::mouseClick(images->viewport(), Qt::LeftButton, {},
                              images->visualRect(images->model()->index(row, 0)).center());
        };
        select("square.png");
        QCOMPARE(preview->picture().size(), QSize(12, 8));
        QCOMPARE(preview->picture().pixelColor(3, 3), QColor(Qt::blue));
        QVERIFY(controller->window()->previewCaption->text().contains("square.png"));
        select("line.png");
        QCOMPARE(preview->picture().size(), QSize(630, 1));
        QVERIFY(controller->window()->previewCaption->text().contains("630 × 1"));
        // Drawn visibly thick, and red where it is drawn.
        const QRect drawn = preview->pictureRect();
        QVERIFY2(drawn.height() >= 4, qPrintable(QString::number(drawn.height())));
        const QImage shot = preview->grab().toImage();
        QCOMPARE(shot.pixelColor(drawn.center()), QColor(Qt::red));

        // A white picture stands out from a backdrop that is not white, inside a frame.
        select("white.png");
        const QRect whiteRect = preview->pictureRect();
        const QImage whiteShot = preview->grab().toImage();
        const int middle = whiteRect.center().y();
        QCOMPARE(whiteShot.pixelColor(whiteRect.center()), QColor(Qt::white));
        for (const int x : {whiteRect.left() - 1, whiteRect.left() - 4})
            QVERIFY2(qGray(whiteShot.pixel(x, middle)) < 160,
                     qPrintable(whiteShot.pixelColor(x, middle).name()));

        // Transparent parts show the checkerboard, on a dark palette too.
        QPalette dark = preview->palette();
        dark.setColor(QPalette::Base, Qt::black);
        dark.setColor(QPalette::Window, Qt::black);
        preview->setPalette(dark);
        select("clear.png");
        const QRect square2 = preview->pictureRect();
        const QImage clearShot = preview->grab().toImage();
        QSet<QRgb> colours;
        for (int x = square2.left(); x < square2.right(); x += 2)
            colours << clearShot.pixel(x, square2.top() + 2);
        QVERIFY(colours.size() >= 2);
        QVERIFY(!colours.contains(QColor(Qt::black).rgb()));

        select("broken.png");
        QVERIFY(preview->picture().isNull());
        QCOMPARE(preview->text(), QStringLiteral("This image cannot be shown."));

        // Selecting another copy shows that copy.
        QTableView* pages = controller->pagesTable();
        select("square.png");
        const int removed = columnTexts(pages, 1).indexOf("Removed");
        QVERIFY(removed >= 0);
        pages->setCurrentIndex(pages->model()->index(removed, 0));
        QVERIFY(controller->window()->copyDetails->text().startsWith(
            columnTexts(pages, 0).value(removed) + ": Removed"));
    }

    // ---- Keyboard, log and window -------------------------------------------------------------

    void theKeyboardReachesEveryPart() {
        TempDir site;
        writeSiteWithDuplicates(site.path());
        scanThroughChooser(site.path());
        auto* w = controller->window();
        // Tab walks out of the tables and on to the preview and the log.
        const QList<QWidget*> expected{
            controller->imagesTable(), controller->pagesTable(), w->preview, w->logView,
            w->saveLogButton,          w->clearLogButton};
        controller->imagesTable()->setFocus();
        QTRY_VERIFY(controller->imagesTable()->hasFocus());
        const QModelIndex current = controller->imagesTable()->currentIndex();
        for (int i = 1; i < expected.size(); ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QVERIFY2(expected[i]->hasFocus(), qPrintable(expected[i]->objectName()));
        }
        QCOMPARE(controller->imagesTable()->currentIndex(), current); // selection unchanged

        // Every button and menu has a keyboard letter.
        for (QPushButton* b : w->findChildren<QPushButton*>())
            QVERIFY2(b->text().contains('&'), qPrintable(b->text()));
        for (QAction* menu : w->menuBar()->actions()) {
            QVERIFY2(menu->text().contains('&'), qPrintable(menu->text()));
            for (QAction* item : menu->menu()->actions())
                QVERIFY2(item->isSeparator() || item->text().contains('&'),
                         qPrintable(item->text()));
        }

        // F5 scans the site again.
        TempDir unused;
        writeFile(site / "C_files/star.gif", "GIF89a star");
        QTest::keyClick(w, Qt::Key_F5);
        QVERIFY(controller->isBusy());
        QTRY_VERIFY_WITH_TIMEOUT(shown->count() == 2, scanTimeout);
        QCOMPARE(rows(controller->imagesTable()), 2);
        QCOMPARE(controller->imagesTable()->model()->index(1, 2).data().toInt(), 3);

        // Alt+P asks to optimize; c cancels.
        QVERIFY(button("optimizeButton")->isEnabled());
        QVERIFY(QApplication::activeWindow() == w);
        QTest::keyClick(w, Qt::Key_P, Qt::AltModifier);
        QTRY_VERIFY(onlySheet(window())); // a mnemonic clicks after a short animation
        QMessageBox* sheet = onlySheet(window());
        QVERIFY(sheet);
        QTest::keyClick(sheet, Qt::Key_C);
        QTRY_VERIFY(visibleSheets(window()).isEmpty());
        QVERIFY(!controller->isBusy());
    }

    void theLogHasSectionsFollowsTheEndAndCanBeSavedAndCleared() {
        TempDir site;
        writeSiteWithDuplicates(site.path());
        scanThroughChooser(site.path());
        auto* logView = controller->window()->logView;
        QVERIFY(
            logView->toPlainText().startsWith("=== Scan of " + tolvane::toQString(site.path())));
        for (int i = 0; i < 300; ++i)
            controller->log(QStringLiteral("line %1").arg(i));
        QScrollBar* bar = logView->verticalScrollBar();
        QVERIFY(bar->maximum() > 0);
        QCOMPARE(bar->value(), bar->maximum());
        // Scrolled up by the user, it stays there; back at the end, it follows again.
        bar->setValue(0);
        controller->log(QStringLiteral("one more"));
        QCOMPARE(bar->value(), 0);
        bar->setValue(bar->maximum());
        controller->log(QStringLiteral("and another"));
        QCOMPARE(bar->value(), bar->maximum());

        // Labelled path lines after a kept file's move.
        controller->log(
            QStringLiteral("Moving image file: logo.png to folder: /s/images/logo.png"));
        controller->log(QStringLiteral("/s/A_files/logo.png"));
        controller->log(QStringLiteral("/s/images/logo.png"));
        QCOMPARE(controller->actionLog().mid(controller->actionLog().size() - 2),
                 (QStringList{"  from: /s/A_files/logo.png", "  to: /s/images/logo.png"}));

        TempDir folder;
        QVERIFY(controller->saveLog(tolvane::toQString(folder / "log.txt")));
        QCOMPARE(QString::fromStdString(readFile(folder / "log.txt")),
                 logView->toPlainText() + '\n');
        // A folder where the file should be: refused with a sheet naming it.
        fs::create_directories(folder / "taken");
        QVERIFY(!controller->saveLog(tolvane::toQString(folder / "taken")));
        QVERIFY(onlySheet(window()));
        QVERIFY(onlySheet(window())->text().contains("taken"));
        dismissSheets();

        button("clearLogButton")->click();
        QCOMPARE(logView->toPlainText(), QString());
        QVERIFY(controller->actionLog().isEmpty());
    }

    void theWindowFitsTheScreenAndRemembersItsLayout() {
        auto* w = controller->window();
        const QRect screen = w->screen()->availableGeometry();
        QVERIFY(w->minimumWidth() > 0 && w->minimumHeight() > 0);
        QVERIFY(w->minimumWidth() <= screen.width() && w->minimumHeight() <= screen.height());
        QVERIFY2(screen.contains(w->geometry()), qPrintable(QString("%1x%2 on %3x%4")
                                                                .arg(w->width())
                                                                .arg(w->height())
                                                                .arg(screen.width())
                                                                .arg(screen.height())));

        // A size left last time is restored (within the screen); so are the splitters.
        w->resize(w->minimumSize() + QSize(20, 10));
        const QSize left = w->size();
        const QList<int> sizes = w->contentSplitter->sizes();
        w->contentSplitter->setSizes({sizes.value(0) - 20, sizes.value(1) + 20});
        const QList<int> chosen = w->contentSplitter->sizes();
        QVERIFY(w->close());
        controller.reset();
        controller = std::make_unique<TolvaneAppDelegate>();
        controller->window()->show();
        QVERIFY(QTest::qWaitForWindowExposed(controller->window()));
        QCOMPARE(controller->window()->size(), left);
        QCOMPARE(controller->window()->contentSplitter->sizes(), chosen);
        // Settings live in the test's own folder.
        QVERIFY(tolvane::openSettings()->fileName().startsWith(
            qEnvironmentVariable("XDG_CONFIG_HOME")));
    }

    void theAboutSheetNamesVersionAndLicence() {
        controller->window()->aboutAction->trigger();
        auto* about = window()->findChild<QMessageBox*>("aboutSheet");
        QVERIFY(about && about->isVisible());
        QVERIFY(about->text().startsWith("Tolvane "));
        QVERIFY(about->text().contains(QRegularExpression("[0-9]+\\.[0-9]+")));
        QVERIFY(about->informativeText().contains("Licence: Proprietary"));
        QVERIFY(!about->informativeText().contains("LicenseRef"));
    }
};

QTEST_MAIN(TolvaneAppDelegateTest)
#include "tolvane_app_delegate_test.moc"
