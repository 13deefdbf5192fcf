#include "app/main_window.hpp"
#include "app/path_text.hpp"
#include "app/tolvane_app_delegate.hpp"
#include "optimize/file_manager.hpp"
#include "optimize/site_lock.hpp"
#include "scan/scan.hpp"
#include "support/quiet_offscreen.hpp"
#include "support/simulated_run.hpp"
#include "support/temp_dir.hpp"
#include "table/url_table_view_data_source.hpp"

#include <QAbstractButton>
#include <QAbstractItemModelTester>
#include <QAction>
#include <QDir>
#include <QDropEvent>
#include <QFileDialog>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
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
        plan.rewrite.push_back({root / (p + "_files") / (p + ".js"), "var i = \"images\\/logo.png\";"});
        plan.remove.push_back({root / (p + "_files/logo.png"), root / "images/logo.png"});
    }
    plan.rewrite.push_back({root / "Blog/Entry1.html", "<img src=\"../images/logo.png\">"});
    plan.remove.push_back({root / "Blog/Entry1_files/logo.png", root / "images/logo.png"});
    return plan;
}

// Every regular file below root with its bytes.
std::map<std::string, std::string> snapshotOf(const fs::path& root) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(root))
        if (entry.is_regular_file())
            files[entry.path().lexically_relative(root).generic_string()] = readFile(entry.path());
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

QStringList relativeCopies(const DuplicateGroup& group, const fs::path& root) {
    QStringList texts;
    for (const auto& copy : group.copies)
        texts << tolvane::relativeText(copy, root);
    return texts;
}

QStringList names(const std::vector<DuplicateGroup>& groups) {
    QStringList texts;
    for (const auto& group : groups)
        texts << tolvane::toQString(group.name);
    return texts;
}

int rows(const QTableView* table) { return table->model() ? table->model()->rowCount() : 0; }

// The real file system, with every step recorded by thread, and held at a gate until the test
// opens it, so the test can look at the window while a run is in progress.
class GatedFileManager : public tolvane::FileManager {
  public:
    explicit GatedFileManager(std::shared_future<void> gate) : gate_(std::move(gate)) {}

    bool exists(const fs::path& path) override { pass();
        return real_.exists(path); }
    tolvane::FileResult createDirectory(const fs::path& path) override {
        pass();
        return real_.createDirectory(path);
    }
    tolvane::FileResult moveItem(const fs::path& from, const fs::path& to) override {
        pass();
        return real_.moveItem(from, to);
    }
    tolvane::FileResult removeItem(const fs::path& path) override {
        pass();
        return real_.removeItem(path);
    }
    tolvane::FileResult removeEmptyDirectory(const fs::path& path) override {
        pass();
        return real_.removeEmptyDirectory(path);
    }
    std::optional<tolvane::Bytes> readFile(const fs::path& path,
                                           tolvane::FileResult& error) override {
        pass();
        return real_.readFile(path, error);
    }
    tolvane::FileResult writeFile(const fs::path& path, tolvane::ByteView data) override {
        pass();
        return real_.writeFile(path, data);
    }
    bool sameContent(const fs::path& a, const fs::path& b, tolvane::FileResult& error) override {
        pass();
        return real_.sameContent(a, b, error);
    }
    std::optional<std::uint64_t> fileSize(const fs::path& path) override {
        pass();
        return real_.fileSize(path);
    }
    std::optional<std::string> md5(const fs::path& path) override {
        pass();
        return real_.md5(path);
    }
    bool isDirectory(const fs::path& path) override {
        pass();
        return real_.isDirectory(path);
    }
    std::optional<unsigned> mode(const fs::path& path) override {
        pass();
        return real_.mode(path);
    }
    tolvane::FileResult linkOrCopy(const fs::path& from, const fs::path& to) override {
        pass();
        return real_.linkOrCopy(from, to);
    }
    tolvane::FileResult copyFile(const fs::path& from, const fs::path& to,
                                 unsigned mode) override {
        pass();
        return real_.copyFile(from, to, mode);
    }

    static inline std::mutex mutex;
    static inline std::set<std::thread::id> threads;
    static inline std::atomic<int> waiting{0};

  private:
    void pass() {
        {
            std::lock_guard<std::mutex> lock(mutex);
            threads.insert(std::this_thread::get_id());
        }
        ++waiting;
        gate_.wait();
        --waiting;
    }

    std::shared_future<void> gate_;
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
    void chooseFolder(const fs::path& root) {
        button("openWebsiteButton")->click();
        auto* panel = window()->findChild<QFileDialog*>();
        QVERIFY(panel);
        QVERIFY(panel->isVisible());
        QCOMPARE(panel->windowModality(), Qt::WindowModal);
        QCOMPARE(panel->fileMode(), QFileDialog::Directory);
        QCOMPARE(QDir(panel->directory()).canonicalPath(), QDir::home().canonicalPath());
        panel->setDirectory(tolvane::toQString(root.parent_path()));
        panel->selectFile(tolvane::toQString(root));
        static_cast<QDialog*>(panel)->accept(); // the Open button
    }

    void scanThroughChooser(const fs::path& root) {
        const int before = shown->count();
        chooseFolder(root);
        QTRY_VERIFY_WITH_TIMEOUT(shown->count() > before, scanTimeout);
    }

    // Optimize..., then the answer on the confirmation sheet.
    void confirm(const QString& answer) {
        button("optimizeButton")->click();
        QMessageBox* sheet = onlySheet(window());
        QVERIFY(sheet);
        QCOMPARE(sheet->windowModality(), Qt::WindowModal);
        QCOMPARE(sheet->icon(), QMessageBox::Warning);
        QCOMPARE(sheet->text(), QStringLiteral("Are you sure?"));
        QCOMPARE(sheet->informativeText(),
                 QStringLiteral("WARNING. You are about to overwrite files within your website."));
        QCOMPARE(sheet->buttons().size(), 2);
        QAbstractButton* chosen = buttonOf(sheet, answer);
        QVERIFY(chosen);
        QVERIFY(buttonOf(sheet, answer == "Yes" ? "No" : "Yes"));
        chosen->click();
    }

    void dismissSheets() {
        for (QMessageBox* sheet : visibleSheets(window()))
            sheet->buttons().constFirst()->click();
        QTRY_VERIFY(visibleSheets(window()).isEmpty());
    }

  private slots:
    void initTestCase() { tolvane::test::silenceOffscreenWindowWarnings(); }

    void init() {
        journalHome = std::make_unique<tolvane::test::ScopedJournalHome>();
        controller = std::make_unique<TolvaneAppDelegate>();
        controller->applicationDidFinishLaunching();
        controller->window()->show();
        QVERIFY(QTest::qWaitForWindowExposed(controller->window()));
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

    void aFolderWithoutIndexHtmlIsRefusedAndNotScanned() {
        TempDir site;
        writeFile(site / "pages/index.html", "deeper does not count");
        writeFile(site / "a_files/x.png", "x");
        writeFile(site / "b_files/x.png", "x");

        chooseFolder(site.path());
        QMessageBox* sheet = onlySheet(window());
        QVERIFY(sheet);
        QCOMPARE(sheet->windowModality(), Qt::WindowModal);
        QCOMPARE(sheet->icon(), QMessageBox::Warning);
        QCOMPARE(sheet->text(), QStringLiteral("Not a website folder."));
        QCOMPARE(sheet->informativeText(),
                 QStringLiteral("WARNING. That folder must contain index.html for it to be the "
                                "root folder of the site."));
        QCOMPARE(sheet->buttons().size(), 1);
        QCOMPARE(sheet->buttons().constFirst()->text(), QStringLiteral("OK"));
        QVERIFY(!controller->isBusy());
        QVERIFY(!controller->currentDuplicates().has_value());
        QCOMPARE(rows(controller->imagesTable()), 0);
        dismissSheets();
        QCOMPARE(shown->count(), 0);
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

    void anIndexHtmlThatIsNoFileIsRefusedALinkToAPageIsNot() {
        TempDir dir;
        const fs::path site = dir / "site";
        writeFile(site / "a_files/x.png", "x");
        writeFile(site / "b_files/x.png", "x");
        const auto refused = [&] {
            controller->openFolder(tolvane::toQString(site));
            QMessageBox* sheet = onlySheet(window());
            QVERIFY(sheet);
            QCOMPARE(sheet->text(), QStringLiteral("Not a website folder."));
            QCOMPARE(sheet->informativeText(),
                     QStringLiteral("WARNING. That folder must contain index.html for it to be "
                                    "the root folder of the site."));
            QVERIFY(!controller->isBusy());
            dismissSheets();
            QCOMPARE(shown->count(), 0);
            QCOMPARE(rows(controller->imagesTable()), 0);
        };
        fs::create_directories(site / "index.html");
        refused();
        fs::remove(site / "index.html");
        fs::create_symlink(dir / "page.html", site / "index.html");
        refused();

        writeFile(dir / "page.html", "home");
        scanThroughChooser(site);
        QCOMPARE(rows(controller->imagesTable()), 1);
    }

    void aSiteWithoutDuplicatesShowsTheSheetAndEmptyTables() {
        TempDir site;
        writeFile(site / "index.html", "home");
        writeFile(site / "a_files/x.png", "one");
        writeFile(site / "b_files/x.png", "another");
        writeFile(site / "c_files/nav_rollover_1.png", "same");
        writeFile(site / "d_files/nav_rollover_1.png", "same");

        scanThroughChooser(site.path());
        QMessageBox* sheet = onlySheet(window());
        QVERIFY(sheet);
        QCOMPARE(sheet->icon(), QMessageBox::Warning);
        QCOMPARE(sheet->text(), QStringLiteral("There are no images to optimize!"));
        QCOMPARE(sheet->informativeText(),
                 QStringLiteral("Your website contains no duplicate images that need optimizing."));
        QCOMPARE(rows(controller->imagesTable()), 0);
        QCOMPARE(rows(controller->pagesTable()), 0);
        QVERIFY(!button("optimizeButton")->isEnabled());
        QVERIFY(controller->siteRoot().empty());
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
        QCOMPARE(columnTexts(pages, 1).constFirst(), QStringLiteral("Kept in images/"));
        QVERIFY(pages->model()->index(0, 0).data(Qt::FontRole).value<QFont>().bold());
        QVERIFY(!pages->model()->index(1, 0).data(Qt::FontRole).value<QFont>().bold());
        const auto& first = expected.duplicates[0];
        QCOMPARE(images->model()->index(0, 1).data().toULongLong(), first.copies.size());

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

    void thePreviewShowsTheSelectedImage() {
        TempDir site;
        writeFile(site / "index.html", "home");
        QImage picture(12, 8, QImage::Format_RGB32);
        picture.fill(Qt::red);
        fs::create_directories(site / "a_files");
        QVERIFY(picture.save(tolvane::toQString(site / "a_files/dot.png")));
        fs::create_directories(site / "b_files");
        fs::copy_file(site / "a_files/dot.png", site / "b_files/dot.png");

        scanThroughChooser(site.path());
        const QPixmap shownPicture = controller->window()->preview->picture();
        QCOMPARE(shownPicture.size(), QSize(12, 8));
        QCOMPARE(shownPicture.toImage().pixelColor(3, 3), QColor(Qt::red));
        QVERIFY(controller->window()->previewCaption->text().contains("dot.png"));
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
        const auto& copies = expected.duplicates[0].copies;
        const auto held = std::find(copies.begin(), copies.end(), site / "B_files/logo.png");
        QVERIFY(held != copies.end());
        const int heldRow = static_cast<int>(held - copies.begin());

        scanThroughChooser(site.path());
        QTableView* images = controller->imagesTable();
        QTableView* pages = controller->pagesTable();
        QCOMPARE(images->model()->headerData(2, Qt::Horizontal).toString(),
                 QStringLiteral("References"));
        // Each page refers to its own copies once, the Latin-1 page included.
        QCOMPARE(columnTexts(images, 2), (QStringList{"3", "2"}));

        // The copy B.html refers to stays, naming the file and why, and is the kept file: the
        // others go and their pages lead to it.
        const QStringList fates = columnTexts(pages, 1);
        QCOMPARE(fates.size(), 3);
        const QString reason = QStringLiteral("B.html is not valid UTF-8 text");
        for (int row = 0; row < 3; ++row)
            QCOMPARE(fates[row], row == heldRow
                                     ? "Kept here, the others lead to it: " + reason
                                     : QStringLiteral("Deleted"));
        QCOMPARE(pages->model()->index(heldRow, 1).data(Qt::ToolTipRole).toString(), reason);

        // The summary counts the copies that really go: both other logos, one star.
        QCOMPARE(controller->window()->summaryLabel->text(),
                 QStringLiteral("2 duplicated images, 3 copies to remove, %1 to save.")
                     .arg(tolvane::sizeText(2 * logo.size() + std::string("GIF89a star").size())));

        // The run agrees: the copy stays and nothing of the logo goes into images/.
        QSignalSpy finished(controller.get(), &TolvaneAppDelegate::runFinished);
        confirm("Yes");
        QTRY_VERIFY_WITH_TIMEOUT(finished.count() == 1, scanTimeout);
        QCOMPARE(finished.constFirst().constFirst().toBool(), true);
        QTRY_VERIFY_WITH_TIMEOUT(shown->count() == 2, scanTimeout);
        QCOMPARE(readFile(site / "B_files/logo.png"), logo);
        QVERIFY(!fs::exists(site / "images/logo.png"));
        QVERIFY(!fs::exists(site / "A_files/logo.png"));
        QCOMPARE(readFile(site / "A.html"),
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
        auto* imagesModel = qobject_cast<tolvane::NSURLTableViewDataSource*>(
            controller->imagesTable()->model());
        auto* pagesModel = qobject_cast<tolvane::NSURLTableViewDataSource*>(
            controller->pagesTable()->model());
        QVERIFY(imagesModel && pagesModel);
        QAbstractItemModelTester imagesTester(
            imagesModel, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QAbstractItemModelTester pagesTester(
            pagesModel, QAbstractItemModelTester::FailureReportingMode::QtTest);

        scanThroughChooser(second.path());
        // The same models, refilled.
        QCOMPARE(controller->imagesTable()->model(), imagesModel);
        QCOMPARE(controller->pagesTable()->model(), pagesModel);
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

    void answeringNoChangesNothing() {
        TempDir site;
        writeSiteWithDuplicates(site.path());
        scanThroughChooser(site.path());
        const auto files = snapshotOf(site.path());
        const QStringList imagesBefore = columnTexts(controller->imagesTable(), 0);
        const QStringList pagesBefore = columnTexts(controller->pagesTable(), 0);

        confirm("No");
        // A run would have started before the answer returned.
        QVERIFY(!controller->isBusy());
        QTRY_VERIFY(visibleSheets(window()).isEmpty());
        QCOMPARE(snapshotOf(site.path()), files);
        QCOMPARE(columnTexts(controller->imagesTable(), 0), imagesBefore);
        QCOMPARE(columnTexts(controller->pagesTable(), 0), pagesBefore);
        QVERIFY(controller->actionLog().isEmpty());
        QVERIFY(button("optimizeButton")->isEnabled());
    }

    void answeringYesRunsOnTheWorkerAndShowsTheRescan() {
        TempDir site;
        writeSiteWithDuplicates(site.path());
        scanThroughChooser(site.path());
        const tolvane::ScanResult scanned = tolvane::scanWebsite(site.path());

        std::promise<void> open;
        std::shared_future<void> gate = open.get_future().share();
        GatedFileManager::threads.clear();
        controller->setFileManagerFactory(
            [gate] { return std::make_unique<GatedFileManager>(gate); });

        bool sheetAtFirstLine = true;
        bool linesOnWindowThread = true;
        connect(controller.get(), &TolvaneAppDelegate::logged, this, [&](const QString&) {
            if (controller->actionLog().size() == 1)
                sheetAtFirstLine = !visibleSheets(window()).isEmpty();
            linesOnWindowThread &= QThread::currentThread() == qApp->thread();
        });
        QSignalSpy finished(controller.get(), &TolvaneAppDelegate::runFinished);

        confirm("Yes");
        QVERIFY(controller->isBusy());
        QTRY_VERIFY(!controller->actionLog().isEmpty());
        QCOMPARE(controller->actionLog().constFirst(),
                 QStringLiteral("Starting optimization - calculate number of actions"));
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
        QVERIFY(!window()->close());
        QVERIFY(window()->isVisible());
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
        QCOMPARE(readFile(site / "images/logo.png"), std::string("logo bytes, the same everywhere"));
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

        // The re-scan is on display, with its sheet; the run cannot be started again.
        QMessageBox* sheet = onlySheet(window());
        QVERIFY(sheet);
        QCOMPARE(sheet->text(), QStringLiteral("There are no images to optimize!"));
        QCOMPARE(rows(controller->imagesTable()), 0);
        QCOMPARE(rows(controller->pagesTable()), 0);
        QVERIFY(!button("optimizeButton")->isEnabled());
        QVERIFY(button("openWebsiteButton")->isEnabled());
        auto* progress = window()->findChild<QProgressBar*>("progressIndicator");
        QCOMPARE(progress->value(), progress->maximum());
        // Two kept files placed, five files rewritten, five copies removed.
        QCOMPARE(progress->maximum(), 2 + 5 + 5);
        // The log pane holds every line, in order.
        QCOMPARE(controller->window()->logView->toPlainText(), controller->actionLog().join('\n'));
        QVERIFY(controller->actionLog().contains("Creating images folder in root"));
    }

    void aFailingRunShowsItsSheetAndKeepsTheTables() {
        TempDir site;
        writeSiteWithDuplicates(site.path());
        writeFile(site / "images", "a plain file where the images folder should be");
        scanThroughChooser(site.path());
        const tolvane::ScanResult scanned = tolvane::scanWebsite(site.path());
        const QStringList imagesBefore = columnTexts(controller->imagesTable(), 0);
        const QStringList pagesBefore = columnTexts(controller->pagesTable(), 0);
        QSignalSpy finished(controller.get(), &TolvaneAppDelegate::runFinished);

        confirm("Yes");
        QVERIFY(finished.wait(scanTimeout));
        QCOMPARE(finished.constFirst().constFirst().toBool(), false);

        const QString expected = QStringLiteral("Unable to move %1 to the site images folder")
                                     .arg(tolvane::toQString(scanned.duplicates[0].name));
        QTRY_VERIFY(onlySheet(window()));
        QMessageBox* sheet = onlySheet(window());
        QCOMPARE(sheet->text(), expected);
        QVERIFY(!sheet->informativeText().isEmpty());
        QVERIFY(controller->actionLog().last().startsWith(expected + ", error: "));
        QCOMPARE(columnTexts(controller->imagesTable(), 0), imagesBefore);
        QCOMPARE(columnTexts(controller->pagesTable(), 0), pagesBefore);
        QVERIFY(button("optimizeButton")->isEnabled());
        QVERIFY(button("openWebsiteButton")->isEnabled());
        // Nothing was lost: every copy is still there.
        for (const auto& group : scanned.duplicates)
            for (const auto& copy : group.copies)
                QVERIFY(fs::exists(copy));
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

    void undoPutsTheSiteBackAfterConfirmationAndScansAgain() {
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
        scanThroughChooser(site.path());
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
        buttonOf(sheet, "No")->click();
        QVERIFY(!controller->isBusy());
        QTRY_VERIFY(visibleSheets(window()).isEmpty());
        QCOMPARE(snapshotOf(site.path()), afterRun);
        QVERIFY(undo->isEnabled());

        // Yes: on the worker, logged, then scanned again.
        QSignalSpy finished(controller.get(), &TolvaneAppDelegate::undoFinished);
        const int scans = shown->count();
        undo->trigger();
        sheet = onlySheet(window());
        QVERIFY(sheet);
        buttonOf(sheet, "Yes")->click();
        QVERIFY(controller->isBusy());
        QVERIFY(!undo->isEnabled());
        QVERIFY(!button("optimizeButton")->isEnabled());
        QVERIFY(!window()->close());
        QVERIFY(finished.wait(scanTimeout));
        QCOMPARE(finished.constFirst().constFirst().toBool(), true);
        QCOMPARE(snapshotOf(site.path()), before);
        const QString root = tolvane::toQString(site.path());
        QVERIFY(controller->actionLog().contains("Restoring duplicate file: logo.png to " + root +
                                                 "/B_files"));
        QVERIFY(controller->actionLog().contains("Restoring file: " + root + "/A.html"));
        QVERIFY(controller->actionLog().contains("Removing added file: " + root + "/images/logo.png"));
        QCOMPARE(controller->actionLog().last(), QStringLiteral("Undo complete"));
        QCOMPARE(controller->window()->logView->toPlainText(), controller->actionLog().join('\n'));
        QTRY_VERIFY_WITH_TIMEOUT(shown->count() > scans, scanTimeout);
        QCOMPARE(columnTexts(controller->imagesTable(), 0),
                 names(tolvane::scanWebsite(site.path()).duplicates));
        QVERIFY(!controller->isBusy());
        QVERIFY(!undo->isEnabled()); // undone: not offered again
        QVERIFY(button("optimizeButton")->isEnabled());
        QVERIFY(visibleSheets(window()).isEmpty());
    }

    void undoOfASiteInUseIsRefusedWithASheet() {
        TempDir site;
        writeSiteWithDuplicates(site.path());
        tolvane::RealFileManager real;
        tolvane::test::simulateRun(logoRun(site.path()), real);
        const auto afterRun = snapshotOf(site.path());
        scanThroughChooser(site.path());
        std::error_code error;
        const auto lock = tolvane::SiteLock::tryAcquire(site.path(), error);
        QVERIFY(lock);

        controller->window()->undoAction->trigger();
        QMessageBox* sheet = onlySheet(window());
        QVERIFY(sheet);
        buttonOf(sheet, "Yes")->click();
        QTRY_VERIFY(onlySheet(window()));
        QCOMPARE(onlySheet(window())->text(),
                 QString::fromStdString(tolvane::siteBusyMessage(site.path())));
        QVERIFY(!controller->isBusy());
        QCOMPARE(snapshotOf(site.path()), afterRun);
        QVERIFY(controller->window()->undoAction->isEnabled());
    }

    void popupErrorMessageLogsAndShowsASheet() {
        // Capture the console while the lines are written.
        TempDir folder;
        std::fflush(stdout);
        const int console = ::dup(STDOUT_FILENO);
        FILE* captured = std::freopen((folder / "console.txt").c_str(), "w", stdout);
        QVERIFY(captured);
        controller->popupErrorMessage("Unable to create images folder",
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
};

QTEST_MAIN(TolvaneAppDelegateTest)
#include "tolvane_app_delegate_test.moc"
