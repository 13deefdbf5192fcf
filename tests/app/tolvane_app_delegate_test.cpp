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
#include <QDir>
#include <QFileDialog>
#include <QInputDialog>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QMetaEnum>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QSortFilterProxyModel>
#include <QTableView>
#include <QTest>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

namespace fs = std::filesystem;
using tolvane::DuplicateGroup;
using tolvane::TolvaneAppDelegate;
using tolvane::test::readFile;
using tolvane::test::TempDir;
using tolvane::test::writeFile;

namespace {

constexpr int scanTimeout = 20000;

std::unique_ptr<QAbstractItemModelTester> testerOf(QAbstractItemModel* model) {
    return std::make_unique<QAbstractItemModelTester>(
        model, QAbstractItemModelTester::FailureReportingMode::QtTest);
}

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

// The one sheet shown, as a user reads it: icon, text and the buttons in alphabetical order.
QString sheetSays(QWidget* window) {
    QMessageBox* sheet = onlySheet(window);
    if (!sheet)
        return QStringLiteral("no single sheet");
    QStringList buttons;
    for (QAbstractButton* button : sheet->buttons())
        buttons << button->text();
    buttons.sort();
    const char* icon = QMetaEnum::fromType<QMessageBox::Icon>().valueToKey(sheet->icon());
    return QString("%1%2: %3 [%4]")
        .arg(sheet->windowModality() == Qt::WindowModal ? "" : "modeless ", icon, sheet->text(),
             buttons.join('|'));
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

// Each step passes the gate, then is the real one.
#define TOLVANE_GATED(Result, name, params, args, write)                                           \
    Result name params override {                                                                  \
        pass(write);                                                                               \
        return real_.name args;                                                                    \
    }
    TOLVANE_GATED(bool, exists, (const fs::path& p), (p), false)
    TOLVANE_GATED(tolvane::FileResult, createDirectory, (const fs::path& p), (p), false)
    TOLVANE_GATED(tolvane::FileResult, moveItem, (const fs::path& a, const fs::path& b), (a, b),
                  false)
    TOLVANE_GATED(tolvane::FileResult, removeItem, (const fs::path& p), (p), false)
    TOLVANE_GATED(tolvane::FileResult, removeEmptyDirectory, (const fs::path& p), (p), false)
    TOLVANE_GATED(std::optional<tolvane::Bytes>, readFile,
                  (const fs::path& p, tolvane::FileResult& e), (p, e), false)
    TOLVANE_GATED(tolvane::FileResult, writeFile, (const fs::path& p, tolvane::ByteView d), (p, d),
                  true)
    TOLVANE_GATED(bool, sameContent, (const fs::path& a, const fs::path& b, tolvane::FileResult& e),
                  (a, b, e), false)
    TOLVANE_GATED(std::optional<std::uint64_t>, fileSize, (const fs::path& p), (p), false)
    TOLVANE_GATED(std::optional<std::string>, md5, (const fs::path& p), (p), false)
    TOLVANE_GATED(bool, isDirectory, (const fs::path& p), (p), false)
    TOLVANE_GATED(std::optional<unsigned>, mode, (const fs::path& p), (p), false)
    TOLVANE_GATED(tolvane::FileResult, linkOrCopy, (const fs::path& a, const fs::path& b), (a, b),
                  false)
    TOLVANE_GATED(tolvane::FileResult, copyFile, (const fs::path& a, const fs::path& b, unsigned m),
                  (a, b, m), false)
#undef TOLVANE_GATED

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
        const QString says = sheetSays(window());
        QVERIFY2(says.startsWith("Warning: Optimize ") && says.endsWith(" [&Cancel|&Optimize]"),
                 qPrintable(says));
        QVERIFY(this->answer(answer));
    }

    // The summary sheet of a run once shown: its icon and texts, then closed.
    QStringList takeSummary() {
        QMessageBox* sheet = nullptr;
        if (!QTest::qWaitFor([&] { return sheet = onlySheet(window()); }, scanTimeout) ||
            sheet->objectName() != "summarySheet")
            return {};
        const QStringList texts{QMetaEnum::fromType<QMessageBox::Icon>().valueToKey(sheet->icon()),
                                sheet->text(), sheet->informativeText(), sheet->detailedText()};
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

    // A site with the two duplicate groups, opened through the chooser; its root is root().
    std::unique_ptr<TempDir> site_;
    fs::path root() const { return site_->path(); }
    void openSite() {
        site_ = std::make_unique<TempDir>();
        writeSiteWithDuplicates(root());
        scanThroughChooser(root());
    }

    // The controls a user can use now.
    QString enabled() const {
        QStringList names;
        for (const char* name : {"openWebsite", "preview", "optimize", "cancel"})
            if (button((std::string(name) + "Button").c_str())->isEnabled())
                names << name;
        return names.join(' ');
    }

    // Clicks the button so named on the one sheet shown; false when there is none.
    bool answer(const QString& text) {
        QMessageBox* sheet = onlySheet(window());
        QAbstractButton* chosen = sheet ? buttonOf(sheet, text) : nullptr;
        if (chosen)
            chosen->click();
        return chosen;
    }

    // Optimize, answered yes, to its end: 1 when it finished, 0 when not, -1 when it never ended.
    int optimize() {
        QSignalSpy finished(controller.get(), &TolvaneAppDelegate::runFinished);
        confirm("&Optimize");
        return finished.wait(scanTimeout) ? finished.constFirst().constFirst().toBool() : -1;
    }

    // Preview Changes: listed on the worker, then shown in a window of its own.
    tolvane::PreviewDialog* openPreview() {
        button("previewButton")->click();
        const auto dialog = [this] {
            return window()->findChild<tolvane::PreviewDialog*>("previewDialog");
        };
        if (dialog() || controller->state() != TolvaneAppDelegate::State::Previewing ||
            enabled() != "cancel")
            return nullptr; // not a job of the worker
        const bool shown =
            QTest::qWaitFor([&] { return dialog() && !controller->isBusy(); }, scanTimeout);
        return shown ? dialog() : nullptr;
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
        QCOMPARE(sheetSays(window()),
                 "Warning: “" + folder + "” is not a website folder. [&Cancel|&Open “Pages”]");
        QVERIFY(onlySheet(window())->informativeText().contains("“Pages”"));
        QVERIFY(answer("&Cancel"));
        QVERIFY(!controller->isBusy());
        QVERIFY(!controller->currentDuplicates().has_value());
        QCOMPARE(rows(controller->imagesTable()), 0);
        QTRY_VERIFY(visibleSheets(window()).isEmpty());
        QCOMPARE(shown->count(), 0);

        // Open: the child is scanned.
        controller->openFolder(folder);
        QVERIFY(answer("&Open “Pages”"));
        QTRY_VERIFY_WITH_TIMEOUT(shown->count() == 1, scanTimeout);
        QCOMPARE(controller->siteRoot(), site / "Pages");
        QCOMPARE(rows(controller->imagesTable()), 1);

        // Without a child site: the folder is named, and OK is the only answer.
        controller->openFolder(tolvane::toQString(site / "notes"));
        QCOMPARE(sheetSays(window()),
                 "Warning: “" + folder + "/notes” is not a website folder. [OK]");
        dismissSheets();
        QCOMPARE(shown->count(), 1);
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
        // Nothing to do is news, not a failure.
        QCOMPARE(sheetSays(window()), "Information: There are no images to optimize! [OK]");
        QCOMPARE(onlySheet(window())->informativeText(), why);
        QCOMPARE(rows(controller->imagesTable()), stuck ? 1 : 0);
        const QStringList fates = columnTexts(controller->pagesTable(), 1);
        QCOMPARE(fates.size(), stuck ? 2 : 0);
        for (const QString& fate : fates)
            QCOMPARE(fate.left(7), QStringLiteral("Stays: "));
        QCOMPARE(enabled(), "openWebsite");
        QCOMPARE(controller->siteRoot().empty(), !stuck);
    }

    void duplicatesShowTheFirstGroupAtOnceAndASecondScanOnlyItsOwn() {
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
        QCOMPARE(enabled(), "cancel");
        QTRY_VERIFY_WITH_TIMEOUT(shown->count() == 1, scanTimeout);
        QVERIFY(!controller->isBusy());
        QVERIFY(progress->maximum() > 0);
        QVERIFY(visibleSheets(window()).isEmpty());
        QTableView* images = controller->imagesTable();
        QTableView* pages = controller->pagesTable();
        auto* imagesModel = sourceOf(images);
        auto* pagesModel = sourceOf(pages);
        QVERIFY(imagesModel && pagesModel);
        const auto imagesTester = testerOf(imagesModel), pagesTester = testerOf(pagesModel);
        QCOMPARE(columnTexts(images, 0), names(expected.duplicates));
        QCOMPARE(images->selectionModel()->selectedRows().size(), 1);
        QCOMPARE(images->selectionModel()->selectedRows().constFirst().row(), 0);
        // The copies, relative to the site root, entry 0 (the kept one) first and marked.
        QCOMPARE(columnTexts(pages, 0), relativeCopies(expected.duplicates[0], site.path()));
        // The copy met first gives images/ its bytes, wherever it sorts.
        const QString first = tolvane::relativeText(expected.duplicates[0].copies[0], site.path());
        QStringList fates;
        for (const QString& copy : columnTexts(pages, 0))
            fates << (copy == first ? "Kept as images/logo.png" : "Removed");
        QCOMPARE(columnTexts(pages, 1), fates);
        QCOMPARE(columnTexts(images, 6), (QStringList{"images/logo.png", "images/star.gif"}));
        for (int row = 0; row < pages->model()->rowCount(); ++row)
            QCOMPARE(pages->model()->index(row, 0).data(Qt::FontRole).value<QFont>().bold(),
                     columnTexts(pages, 0)[row] == first);
        QCOMPARE(images->model()->index(0, 2).data().toULongLong(),
                 expected.duplicates[0].copies.size());
        // Optimize, or open another site.
        QCOMPARE(enabled(), "openWebsite preview optimize");
        QVERIFY(controller->window()->optimizeAction->isEnabled());
        QVERIFY(controller->window()->openAction->isEnabled());
        QCOMPARE(controller->siteRoot(), site.path());
        QVERIFY(!controller->window()->summaryLabel->text().isEmpty());

        // A click on the second group shows its copies; clearing the selection empties the table.
        QTest::mouseClick(images->viewport(), Qt::LeftButton, {},
                          images->visualRect(images->model()->index(1, 0)).center());
        QCOMPARE(columnTexts(pages, 0), relativeCopies(expected.duplicates[1], site.path()));
        images->clearSelection();
        QCOMPARE(rows(pages), 0);

        // Another site refills the same models with its result only; the chooser starts in the
        // folder opened last.
        TempDir second;
        writeFile(second / "index.html", "home");
        writeFile(second / "p_files/other.jpg", "jpg");
        writeFile(second / "q_files/other.jpg", "jpg");
        scanThroughChooser(second.path(), tolvane::toQString(site.path()));
        QCOMPARE(sourceOf(images), imagesModel);
        QCOMPARE(sourceOf(pages), pagesModel);
        QCOMPARE(columnTexts(images, 0), QStringList{"other.jpg"});
        QCOMPARE(columnTexts(pages, 0),
                 relativeCopies(tolvane::scanWebsite(second.path()).duplicates[0], second.path()));
        QCOMPARE(controller->siteRoot(), second.path());
        QCOMPARE(controller->currentDuplicates()->size(), 1u);
    }

    void answeringYesRunsOnTheWorkerAndShowsTheRescan() {
        openSite();
        const fs::path site = root();
        const tolvane::ScanResult scanned = tolvane::scanWebsite(site);
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
        QCOMPARE(enabled(), "cancel");
        QVERIFY(!controller->window()->openAction->isEnabled());
        QVERIFY(!controller->window()->optimizeAction->isEnabled());
        controller->saveWebsite();
        QVERIFY(visibleSheets(window()).isEmpty());
        // Closing asks first; keeping the run going keeps the window.
        QVERIFY(!window()->close());
        QVERIFY(window()->isVisible());
        QCOMPARE(sheetSays(window()),
                 "Warning: The optimization is still in progress. [&Keep Running|&Stop and Close]");
        QVERIFY(answer("&Keep Running"));
        QTRY_VERIFY(visibleSheets(window()).isEmpty());
        TempDir other;
        writeFile(other / "index.html", "home");
        controller->openFolder(tolvane::toQString(other.path()));
        QVERIFY(visibleSheets(window()).isEmpty());
        QTableView* images = controller->imagesTable();
        QTest::mouseClick(images->viewport(), Qt::LeftButton, {},
                          images->visualRect(images->model()->index(1, 0)).center());
        QCOMPARE(columnTexts(controller->pagesTable(), 0),
                 relativeCopies(scanned.duplicates[1], site));

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
        const std::string logo = "logo bytes, the same everywhere", star = "GIF89a star";
        QCOMPARE(readFile(site / "images/logo.png"), logo);
        QCOMPARE(readFile(site / "images/star.gif"), star);
        for (const char* gone : {"A_files/logo.png", "B_files/logo.png", "A_files/star.gif",
                                 "B_files/star.gif", "Blog/Entry1_files/logo.png"})
            QVERIFY2(!fs::exists(site / gone), gone);
        QVERIFY(fs::exists(site / "A_files/page.png"));
        QCOMPARE(readFile(site / "A.html"),
                 std::string("<img src=\"images/logo.png\"><img src=\"images/star.gif\">"));
        QCOMPARE(readFile(site / "B_files/B.js"), std::string("var i = \"images\\/logo.png\";"));
        QCOMPARE(readFile(site / "Blog/Entry1.html"),
                 std::string("<img src=\"../images/logo.png\">"));

        // One sheet says what the run did and what the scan after it found (nothing stayed,
        // nothing failed); the run cannot be started again.
        QCOMPARE(takeSummary(),
                 (QStringList{"Information", "Optimization finished.",
                              QStringLiteral("Removed 3 copies, saved %1; 5 files rewritten; 0 "
                                             "copies stayed.\nNo duplicate images are left.")
                                  .arg(tolvane::sizeText(2 * logo.size() + star.size())),
                              QString()}));
        QTest::qWait(50); // a sheet queued behind the summary would be open by now
        QVERIFY(visibleSheets(window()).isEmpty());
        QCOMPARE(rows(controller->imagesTable()), 0);
        QCOMPARE(rows(controller->pagesTable()), 0);
        QCOMPARE(enabled(), "openWebsite");
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

    void undoPutsTheSiteBackAfterConfirmationUnlessTheSiteIsInUse() {
        TempDir site;
        writeSiteWithDuplicates(site.path());
        const auto before = snapshotOf(site.path());
        QAction* undo = controller->window()->undoAction;
        QVERIFY(controller->window()->menuBar()->actions().constFirst()->menu()->actions().contains(
            undo));
        QCOMPARE(undo->text(), QStringLiteral("&Undo Last Optimization"));

        // Nothing recorded for the site: nothing to undo.
        scanThroughChooser(site.path());
        QVERIFY(!undo->isEnabled());
        dismissSheets();

        tolvane::RealFileManager real;
        tolvane::test::simulateRun(logoRun(site.path()), real);
        const auto afterRun = snapshotOf(site.path());
        scanThroughChooser(site.path(), tolvane::toQString(site.path()));
        QVERIFY(undo->isEnabled());
        QVERIFY(controller->canUndo());
        QCOMPARE(columnTexts(controller->imagesTable(), 0), QStringList{"star.gif"});

        // Asked first; No changes nothing.
        undo->trigger();
        QCOMPARE(sheetSays(window()), "Warning: Undo the last optimization? [&Cancel|&Undo]");
        QVERIFY(onlySheet(window())->informativeText().startsWith(
            QStringLiteral("WARNING. You are about to overwrite files within your website")));
        QVERIFY(answer("&Cancel"));
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
            QVERIFY(answer("&Undo"));
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
        QVERIFY(answer("&Undo"));
        QVERIFY(controller->isBusy());
        QVERIFY(!undo->isEnabled());
        QVERIFY(!button("optimizeButton")->isEnabled());
        QVERIFY(!window()->close());
        answer("&Keep Open");
        QVERIFY(finished.wait(scanTimeout));
        QCOMPARE(finished.constFirst().constFirst().toBool(), true);
        QCOMPARE(snapshotOf(site.path()), before);
        const QString root = tolvane::toQString(site.path());
        for (const QString& line :
             {"Restoring duplicate file: logo.png to " + root + "/B_files",
              "Restoring file: " + root + "/A.html",
              "Removing added file: " + root + "/images/logo.png", QStringLiteral("Undo complete")})
            QVERIFY2(controller->actionLog().contains(line), qPrintable(line));
        QCOMPARE(logLines(controller->window()), controller->actionLog());
        QTRY_VERIFY_WITH_TIMEOUT(shown->count() > scans, scanTimeout);
        QCOMPARE(columnTexts(controller->imagesTable(), 0),
                 names(tolvane::scanWebsite(site.path()).duplicates));
        QVERIFY(!controller->isBusy());
        QVERIFY(!undo->isEnabled()); // undone: not offered again
        QVERIFY(button("optimizeButton")->isEnabled());
        QVERIFY(visibleSheets(window()).isEmpty());
    }

    // ---- Cancel, summary and closing ------------------------------------------------------------

    void escapeCancelsAScanAndThePreviousResultStays() {
        openSite();
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
        QCOMPARE(enabled(), "cancel");

        QTest::keyClick(window(), Qt::Key_Escape);
        QCOMPARE(cancelled.count(), 1);
        QVERIFY(!controller->isBusy());
        QCOMPARE(enabled(), "openWebsite preview optimize");
        QCOMPARE(controller->window()->siteLabel->text(), tolvane::toQString(root()));
        QCOMPARE(controller->window()->summaryLabel->text(), summaryBefore);
        // Whatever the stopped scan still sends is not shown.
        QTest::qWait(300);
        QCOMPARE(shown->count(), 1);
        QCOMPARE(columnTexts(controller->imagesTable(), 0), before);
        QCOMPARE(controller->siteRoot(), root());

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

    // Cancelled before anything is placed or half done, or the window closed meanwhile.
    void cancellingARunPutsTheSiteBackAsItWas_data() {
        QTest::addColumn<bool>("halfDone");
        QTest::addColumn<bool>("closing");
        QTest::newRow("before anything is placed") << false << false;
        QTest::newRow("with kept files placed and pages being rewritten") << true << false;
        QTest::newRow("the window closed, the run stopped first") << false << true;
    }

    void cancellingARunPutsTheSiteBackAsItWas() {
        QFETCH(bool, halfDone);
        QFETCH(bool, closing);
        openSite();
        const fs::path site = root();
        const auto before = snapshotOf(site);
        std::promise<void> open = gateRuns(halfDone);
        QSignalSpy finished(controller.get(), &TolvaneAppDelegate::runFinished);

        confirm("&Optimize");
        QTRY_VERIFY_WITH_TIMEOUT(GatedFileManager::waiting > 0, scanTimeout);
        QCOMPARE(fs::exists(site / "images"), halfDone);
        if (closing) {
            QVERIFY(!window()->close());
            QVERIFY(answer("&Stop and Close"));
            QVERIFY(window()->isVisible()); // not before the run has stopped
            open.set_value();
            QTRY_VERIFY_WITH_TIMEOUT(!window()->isVisible(), scanTimeout);
            QVERIFY(!controller->isBusy());
            QCOMPARE(snapshotOf(site), before);
            return;
        }
        QCOMPARE(enabled(), "cancel");
        button("cancelButton")->click();
        QCOMPARE(enabled(), ""); // asked once
        open.set_value();
        QVERIFY(finished.wait(scanTimeout));
        QCOMPARE(finished.constFirst().constFirst().toBool(), false);

        // Byte for byte as before, without an images folder; the sheet says so.
        QCOMPARE(snapshotOf(site), before);
        const QStringList summary = takeSummary();
        QCOMPARE(summary.mid(0, 2),
                 (QStringList{"Information",
                              "Optimization cancelled. The website is as it was before."}));
        QVERIFY2(summary.value(2).startsWith("Everything the run had changed was put back."),
                 qPrintable(summary.value(2)));
        QVERIFY(controller->actionLog().contains(
            QStringLiteral("Optimization cancelled: every page still shows its images")));
        // The re-scan shows what is left: everything, ready to optimize again, nothing to undo.
        QTRY_COMPARE(rows(controller->imagesTable()), 2);
        QVERIFY(visibleSheets(window()).isEmpty());
        QCOMPARE(enabled(), "openWebsite preview optimize");
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
        openSite();
        const fs::path site = root();
        const auto before = snapshotOf(site);
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
        QCOMPARE(optimize(), 0);
        QVERIFY(snapshotOf(site) != before);

        // The failure that ended the run is the sheet, in the log too; the tables and the
        // buttons stay as they were.
        const QString expected =
            "Unable to move " + tolvane::toQString(second.name) + " to the site images folder";
        QTRY_VERIFY(onlySheet(window()));
        QCOMPARE(onlySheet(window())->text(), expected);
        QVERIFY(!onlySheet(window())->informativeText().isEmpty());
        QVERIFY(std::any_of(
            controller->actionLog().begin(), controller->actionLog().end(),
            [&](const QString& line) { return line.startsWith(expected + ", error: "); }));
        QVERIFY(controller->actionLog().last().startsWith("Optimization stopped at a failure."));
        QCOMPARE(rows(controller->imagesTable()), 2);
        QCOMPARE(enabled(), "openWebsite preview optimize");
        // What the run had done is put back from the sheet.
        QSignalSpy undone(controller.get(), &TolvaneAppDelegate::undoFinished);
        QVERIFY(answer("&Undo"));
        QVERIFY(undone.wait(scanTimeout));
        QCOMPARE(undone.constFirst().constFirst().toBool(), true);
        QCOMPARE(snapshotOf(site), before);
        QVERIFY(!controller->canUndo());
    }

    // ---- Choices -----------------------------------------------------------------------------

    // A group left alone, a copy left where it is, or a copy kept instead of the one in images/;
    // then each file as the run leaves it: its bytes, "(gone)" or "(as before)".
    void aRunFollowsTheChoicesAsThePreviewListedThem_data() {
        QTest::addColumn<QString>("group");
        QTest::addColumn<QString>("copy");
        QTest::addColumn<QStringList>("files");
        const QString logo = "logo bytes, the same everywhere";
        QTest::newRow("star.gif left alone")
            << "star.gif" << QString()
            << QStringList{"images/star.gif|(gone)", "images/logo.png|" + logo,
                           "A.html|<img src=\"images/logo.png\"><img src=\"A_files/star.gif\">",
                           "A_files/star.gif|(as before)", "B_files/star.gif|(as before)"};
        QTest::newRow("a copy of logo.png left where it is")
            << "logo.png"
            << "Blog/Entry1_files/logo.png"
            << QStringList{"images/logo.png|" + logo, "Blog/Entry1.html|(as before)",
                           "Blog/Entry1_files/logo.png|(as before)"};
        QTest::newRow("a copy of logo.png kept")
            << "logo.png"
            << "B_files/logo.png"
            << QStringList{"images/logo.png|(gone)", "B_files/logo.png|" + logo,
                           "A.html|<img src=\"B_files/logo.png\"><img src=\"images/star.gif\">",
                           "Blog/Entry1.html|<img src=\"../B_files/logo.png\">"};
    }

    void aRunFollowsTheChoicesAsThePreviewListedThem() {
        QFETCH(QString, group);
        QFETCH(QString, copy);
        QFETCH(QStringList, files);
        openSite();
        QTableView* images = controller->imagesTable();
        QTableView* copies = controller->pagesTable();
        const auto imagesTester = testerOf(sourceOf(images));
        const auto counts = [&] { return window()->findChild<QLabel*>("summaryLabel")->text(); };
        QVERIFY2(counts().contains("3 copies to remove"), qPrintable(counts()));

        const bool keeping = copy == "B_files/logo.png";
        const int groupRow = rowOf(images, group);
        images->selectRow(groupRow);
        if (copy.isEmpty()) {
            toggleRow(images, groupRow);
            QCOMPARE(checkOf(images, groupRow), Qt::Unchecked);
            QCOMPARE(checkOf(images, rowOf(images, "logo.png")), Qt::Checked);
        } else if (const int row = rowOf(copies, copy); !keeping) {
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
        // The counts follow at once: one copy fewer goes, except where one is kept instead.
        QVERIFY2(counts().contains(keeping ? "3 copies to remove" : "2 copies to remove"),
                 qPrintable(counts()));

        // What the preview lists is what the run changes, and nothing else changes.
        auto* preview = openPreview();
        QVERIFY(preview);
        std::set<std::string> listed;
        for (const QString& line : preview->text().split('\n', Qt::SkipEmptyParts)) {
            const QString change = line.section('\t', 1);
            if (change.startsWith("Rewritten") || change == "Removed" ||
                change.startsWith("Kept as images/"))
                listed.insert(line.section('\t', 0, 0).toStdString());
        }
        preview->close();
        const auto before = snapshotOf(root());
        QCOMPARE(optimize(), 1);
        QCOMPARE(takeSummary().value(1), QStringLiteral("Optimization finished."));
        const auto after = snapshotOf(root());
        std::set<std::string> changed;
        for (const auto& [name, bytes] : before)
            if (!name.ends_with('/') && (!after.count(name) || after.at(name) != bytes))
                changed.insert(name);
        QCOMPARE(changed, listed);
        for (const QString& file : files) {
            const std::string name = file.section('|', 0, 0).toStdString();
            const std::string want = file.section('|', 1).toStdString();
            QCOMPARE(after.count(name) ? after.at(name) : "(gone)",
                     want == "(as before)" ? before.at(name) : want);
        }
        // What was left alone stays so in the scan after the run: nothing is left to do.
        QVERIFY(!button("optimizeButton")->isEnabled());
    }

    void theSelectMenuChoosesTheGroups() {
        openSite();
        tolvane::MainWindow* w = controller->window();
        QTableView* images = controller->imagesTable();
        const auto chosen = [&] {
            QStringList names;
            for (const QString name : {"logo.png", "star.gif"})
                if (checkOf(images, rowOf(images, name)) == Qt::Checked)
                    names << name;
            return names.join(' ');
        };
        w->chooseNoneAction->trigger();
        QCOMPARE(chosen(), "");
        QCOMPARE(enabled(), "openWebsite");
        w->invertChoiceAction->trigger();
        QCOMPARE(chosen(), "logo.png star.gif");
        QCOMPARE(enabled(), "openWebsite preview optimize");
        // An unchecked group stays in its place, however the table is sorted.
        const int logoRow = rowOf(images, "logo.png");
        toggleRow(images, logoRow);
        QCOMPARE(rowOf(images, "logo.png"), logoRow);
        w->invertChoiceAction->trigger();
        QCOMPARE(chosen(), "logo.png");
        w->chooseAllAction->trigger();
        QCOMPARE(chosen(), "logo.png star.gif");

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
        QCOMPARE(chosen(), "logo.png star.gif");
        QVERIFY(onlySheet(window()));
        dismissSheets();
        least("20 B");
        QCOMPARE(chosen(), "logo.png");
        QVERIFY(w->summaryLabel->text().contains("2 copies to remove"));
        least("1 KB");
        QCOMPARE(chosen(), "");
        QCOMPARE(enabled(), "openWebsite");
        // Another site starts with every group taken.
        TempDir other;
        writeSiteWithDuplicates(other.path());
        controller->openFolder(tolvane::toQString(other.path()));
        QTRY_COMPARE(controller->siteRoot(), other.path());
        QCOMPARE(chosen(), "logo.png star.gif");
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
        const auto tester = testerOf(images->model());
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
        const auto pagesTester = testerOf(pages->model());
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

    void answeringNoOrAPreviewChangesNothing() {
        openSite();
        const auto before = snapshotOf(root());
        const QStringList imagesBefore = columnTexts(controller->imagesTable(), 0);
        const QStringList pagesBefore = columnTexts(controller->pagesTable(), 0);

        confirm("&Cancel");
        // A run would have started before the answer returned.
        QVERIFY(!controller->isBusy());
        QTRY_VERIFY(visibleSheets(window()).isEmpty());
        QCOMPARE(snapshotOf(root()), before);
        QCOMPARE(columnTexts(controller->imagesTable(), 0), imagesBefore);
        QCOMPARE(columnTexts(controller->pagesTable(), 0), pagesBefore);
        QVERIFY(!controller->actionLog().contains(
            QStringLiteral("Starting optimization - calculate number of actions")));
        QCOMPARE(enabled(), "openWebsite preview optimize");

        // The preview lists every change in a window of its own, changes nothing, and leaves
        // one line in the log.
        const int logBefore = controller->actionLog().size();
        // Escape while the list is made: no window, no line.
        button("previewButton")->click();
        QTest::keyClick(window(), Qt::Key_Escape);
        QTRY_VERIFY(!controller->isBusy());
        QTest::qWait(50);
        QVERIFY(!window()->findChild<tolvane::PreviewDialog*>());
        QCOMPARE(controller->actionLog().size(), logBefore);
        auto* preview = openPreview();
        QVERIFY(preview && preview->isVisible());
        QCOMPARE(snapshotOf(root()), before);
        QCOMPARE(controller->actionLog().size(), logBefore + 1);
        QVERIFY2(controller->actionLog().last().startsWith(
                     "Preview of the changes shown in the window “Preview of the Changes to " +
                     tolvane::toQString(root().filename()) + "”. A run would remove 3 copies"),
                 qPrintable(controller->actionLog().last()));
        QAbstractItemModel* listed = preview->changesTable()->model();
        const auto tester = testerOf(listed);
        // Each reference of the five files rewritten, before and after; each of the five
        // copies once, with what happens to it.
        QCOMPARE(listed->rowCount(), 7 + 5);
        const QStringList lines = preview->text().split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 12);
        for (const char* line :
             {"A.html\tRewritten: “A_files/logo.png” → “images/logo.png”",
              "A.html\tRewritten: “A_files/star.gif” → “images/star.gif”",
              "B_files/B.js\tRewritten: “B_files\\/logo.png” → “images\\/logo.png”",
              "Blog/Entry1.html\tRewritten: “Entry1_files/logo.png” → “../images/logo.png”"})
            QVERIFY2(lines.contains(QString::fromUtf8(line)), line);
        // The logo copy met first gives images/ its bytes; the walk's order decides which.
        const tolvane::ScanResult scanned = tolvane::scanWebsite(root());
        const auto logo =
            std::find_if(scanned.duplicates.begin(), scanned.duplicates.end(),
                         [](const DuplicateGroup& g) { return g.name == "logo.png"; });
        QVERIFY(logo != scanned.duplicates.end());
        for (std::size_t i = 0; i < logo->copies.size(); ++i) {
            const QString line = tolvane::relativeText(logo->copies[i], root()) +
                                 (i == 0 ? "\tKept as images/logo.png" : "\tRemoved");
            QVERIFY2(lines.contains(line), qPrintable(line));
        }
        // The filter narrows the list; Save as Text writes what is shown.
        QTest::keyClicks(preview->filterBox(), "LOGO");
        QCOMPARE(listed->rowCount(), 8);
        TempDir saved;
        const QString file = tolvane::toQString(saved / "preview.txt");
        QString error;
        QVERIFY(preview->saveTo(file, &error));
        QCOMPARE(QString::fromStdString(readFile(saved / "preview.txt")), preview->text());
        QCOMPARE(preview->text().count('\n'), 8);
        preview->close();
        QVERIFY(button("optimizeButton")->isEnabled());
        QVERIFY(!controller->canUndo());
    }

    // The preview reads a picture larger than it shows on either side at a size it can show,
    // and names its full size; what cannot be decoded says why.
    void thePreviewReadsEachPictureWithinItsBounds_data() {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QSize>("read");
        QTest::newRow("small") << QSize(40, 30) << QSize(40, 30);
        QTest::newRow("wide") << QSize(400, 10) << QSize(100, 2);
        QTest::newRow("tall") << QSize(10, 400) << QSize(2, 100);
        QTest::newRow("broken") << QSize() << QSize(0, 0);
    }

    void thePreviewReadsEachPictureWithinItsBounds() {
        QFETCH(QSize, size);
        QFETCH(QSize, read);
        TempDir site;
        const QString path = tolvane::toQString(site / "p.png");
        QImage picture(size, QImage::Format_ARGB32);
        picture.fill(Qt::transparent);
        if (!size.isValid())
            writeFile(site / "p.png", "not a picture");
        QVERIFY(!size.isValid() || picture.save(path));
        const tolvane::PreviewImage preview = tolvane::readPreviewImage(path, 100);
        QCOMPARE(preview.fullSize.isValid() ? preview.fullSize : QSize(), size);
        QCOMPARE(preview.image.size(), read);
        QCOMPARE(preview.error.isEmpty(), size.isValid());
    }
};

QTEST_MAIN(TolvaneAppDelegateTest)
#include "tolvane_app_delegate_test.moc"
