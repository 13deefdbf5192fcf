// The window, driven as a user drives it: through its buttons, tables, menus and sheets, on a
// small site in a folder of the test's own.
#include "app/event_text.hpp"
#include "app/image_preview.hpp"
#include "app/log_view.hpp"
#include "app/main_window.hpp"
#include "app/path_text.hpp"
#include "app/preview_dialog.hpp"
#include "app/quiet_offscreen.hpp"
#include "app/tolvane_app_delegate.hpp"
#include "run/file_manager.hpp"
#include "run/site_lock.hpp"
#include "scan/scan.hpp"
#include "support/temp_dir.hpp"

#include "bench/sitegen/sitegen.hpp"

#include <QAbstractButton>
#include <QAbstractItemModelTester>
#include <QAction>
#include <QDir>
#include <QFileDialog>
#include <QInputDialog>
#include <QLabel>
#include <QMessageBox>
#include <QMetaEnum>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>

#include <atomic>
#include <filesystem>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

namespace fs = std::filesystem;
using tolvane::TolvaneAppDelegate;
using tolvane::test::readFile;
using tolvane::test::TempDir;
using tolvane::test::writeFile;
using Tester = std::unique_ptr<QAbstractItemModelTester>;

namespace {

constexpr int timeout = 20000;
const std::string logoBytes = "logo bytes, the same everywhere", starBytes = "GIF89a star";

Tester testerOf(QAbstractItemModel* model) {
    return std::make_unique<QAbstractItemModelTester>(
        model, QAbstractItemModelTester::FailureReportingMode::QtTest);
}

// Two duplicate groups: logo.png three times (once below Blog/) and star.gif twice; page.png
// occurs once. Pages and scripts refer to each copy.
void writeSite(const fs::path& root) {
    writeFile(root / "index.html", "<html><body>home</body></html>");
    for (const std::string p : {"A", "B"}) {
        writeFile(root / (p + ".html"),
                  "<img src=\"" + p + "_files/logo.png\"><img src=\"" + p + "_files/star.gif\">");
        writeFile(root / (p + "_files") / (p + ".js"), "var i = \"" + p + "_files\\/logo.png\";");
        writeFile(root / (p + "_files") / "logo.png", logoBytes);
        writeFile(root / (p + "_files") / "star.gif", starBytes);
    }
    writeFile(root / "Blog/Entry1.html", "<img src=\"Entry1_files/logo.png\">");
    writeFile(root / "Blog/Entry1_files/logo.png", logoBytes);
    writeFile(root / "A_files/page.png", "only once");
}

// Every file below root with its bytes, and every folder ("name/").
std::map<std::string, std::string> snapshotOf(const fs::path& root) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        const std::string name = entry.path().lexically_relative(root).generic_string();
        files[entry.is_directory() ? name + "/" : name] =
            entry.is_regular_file() ? readFile(entry.path()) : std::string();
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

// The one sheet shown, as a user reads it: icon, text and the buttons in alphabetical order.
QString sheetSays(QWidget* window) {
    QMessageBox* sheet = onlySheet(window);
    if (!sheet)
        return QStringLiteral("no single sheet");
    QStringList buttons;
    for (QAbstractButton* button : sheet->buttons())
        buttons << button->text();
    buttons.sort();
    return QString("%1: %2 [%3]")
        .arg(QMetaEnum::fromType<QMessageBox::Icon>().valueToKey(sheet->icon()), sheet->text(),
             buttons.join('|'));
}

QStringList columnTexts(const QTableView* table, int column) {
    QStringList texts;
    for (int row = 0; table->model() && row < table->model()->rowCount(); ++row)
        texts << table->model()->index(row, column).data().toString();
    return texts;
}

int rows(const QTableView* table) {
    return table->model() ? table->model()->rowCount() : 0;
}

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

void clickRow(QTableView* table, int row) {
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {},
                      table->visualRect(table->model()->index(row, 0)).center());
}

// The real file system, each step noted by thread and held at a gate until the test opens it.
// With onlyWrites, steps pass until the first file is written back: the run is half done.
class GatedFileManager : public tolvane::FileManager {
  public:
    GatedFileManager(std::shared_future<void> gate, bool onlyWrites)
        : gate_(std::move(gate)), onlyWrites_(onlyWrites) {}

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
    void pass(bool write) {
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
    bool onlyWrites_;
    tolvane::RealFileManager real_;
};

} // namespace

class WindowTest : public QObject {
    Q_OBJECT

    std::unique_ptr<TolvaneAppDelegate> controller;
    std::unique_ptr<QSignalSpy> shown;
    std::unique_ptr<tolvane::test::ScopedJournalHome> journalHome; // never the real home
    std::unique_ptr<TempDir> site_;

    tolvane::MainWindow* window() const { return controller->window(); }
    QTableView* images() const { return controller->imagesTable(); }
    QTableView* copies() const { return controller->pagesTable(); }
    fs::path root() const { return site_->path(); }
    QPushButton* button(const QString& name) const {
        return window()->findChild<QPushButton*>(name + "Button");
    }
    QString counts() const { return window()->summaryLabel->text(); }

    // The buttons a user can use now.
    QString enabled() const {
        QStringList names;
        for (const char* name : {"openWebsite", "preview", "optimize", "cancel"})
            if (button(name)->isEnabled())
                names << name;
        return names.join(' ');
    }

    // Opens folder through the window's folder chooser, as a user would, and waits for the scan.
    void choose(const fs::path& folder, const fs::path& startsIn = {}) {
        const int before = shown->count();
        button("openWebsite")->click();
        auto* panel = window()->findChild<QFileDialog*>();
        QVERIFY(panel && panel->isVisible());
        QCOMPARE(panel->fileMode(), QFileDialog::Directory);
        QCOMPARE(QDir(panel->directory()).canonicalPath(),
                 startsIn.empty() ? QDir::home().canonicalPath()
                                  : QDir(tolvane::toQString(startsIn)).canonicalPath());
        panel->setDirectory(tolvane::toQString(folder.parent_path()));
        panel->selectFile(tolvane::toQString(folder));
        static_cast<QDialog*>(panel)->accept(); // the Open button
        QTRY_VERIFY_WITH_TIMEOUT(shown->count() > before || onlySheet(window()), timeout);
        window()->activateWindow(); // for keys and focus
        QVERIFY(QTest::qWaitForWindowActive(window()));
    }

    void openSite() {
        site_ = std::make_unique<TempDir>();
        writeSite(root());
        choose(root());
    }

    // Clicks the button so named on the one sheet shown; false when there is none.
    bool answer(const QString& text) {
        if (QMessageBox* sheet = onlySheet(window()))
            for (QAbstractButton* button : sheet->buttons())
                if (button->text() == text) {
                    button->click();
                    return true;
                }
        return false;
    }

    // Optimize..., answered: the sheet asks first.
    void confirm(const QString& reply) {
        button("optimize")->click();
        const QString says = sheetSays(window());
        QVERIFY2(says.startsWith("Warning: Optimize ") && says.endsWith(" [&Cancel|&Optimize]"),
                 qPrintable(says));
        QVERIFY(answer(reply));
    }

    // Optimize to the end: 1 when it finished, 0 when it stopped, -1 when it never ended.
    int optimize() {
        QSignalSpy finished(controller.get(), &TolvaneAppDelegate::runFinished);
        confirm("&Optimize");
        return finished.wait(timeout) ? finished.constFirst().constFirst().toBool() : -1;
    }

    // The summary sheet of a run as a user reads it, then closed.
    QStringList takeSummary() {
        QMessageBox* sheet = nullptr;
        if (!QTest::qWaitFor([&] { return sheet = onlySheet(window()); }, timeout))
            return {};
        const QStringList texts{QMetaEnum::fromType<QMessageBox::Icon>().valueToKey(sheet->icon()),
                                sheet->text(), sheet->informativeText()};
        sheet->buttons().constFirst()->click();
        return texts;
    }

    // Runs started from now on wait at each file step until the promise returned is kept.
    std::promise<void> gateRuns(bool onlyWrites = false) {
        std::promise<void> open;
        std::shared_future<void> gate = open.get_future().share();
        GatedFileManager::threads.clear();
        controller->setFileManagerFactory(
            [gate, onlyWrites] { return std::make_unique<GatedFileManager>(gate, onlyWrites); });
        return open;
    }

    // Preview Changes: listed by the worker (only Cancel can be used meanwhile), then shown.
    tolvane::PreviewDialog* openPreview() {
        button("preview")->click();
        const auto dialog = [this] {
            return window()->findChild<tolvane::PreviewDialog*>("previewDialog");
        };
        if (dialog() || controller->state() != TolvaneAppDelegate::State::Previewing ||
            enabled() != "cancel")
            return nullptr;
        const bool ready =
            QTest::qWaitFor([&] { return dialog() && !controller->isBusy(); }, timeout);
        return ready ? dialog() : nullptr;
    }

  private slots:
    void initTestCase() { tolvane::test::silenceOffscreenWindowWarnings(); }

    void init() {
        tolvane::openSettings()->clear(); // each test starts as a first start
        journalHome = std::make_unique<tolvane::test::ScopedJournalHome>();
        controller = std::make_unique<TolvaneAppDelegate>();
        controller->applicationDidFinishLaunching();
        window()->show();
        QVERIFY(QTest::qWaitForWindowExposed(window()));
        window()->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window()));
        shown = std::make_unique<QSignalSpy>(controller.get(), &TolvaneAppDelegate::scanShown);
    }

    void cleanup() {
        shown.reset();
        controller.reset();
        journalHome.reset();
        site_.reset();
    }

    void aScanShowsEachGroupWithItsCopiesAndTheirFates() {
        site_ = std::make_unique<TempDir>();
        writeSite(root());
        const tolvane::ScanResult expected = tolvane::scanWebsite(root());
        // Off the window's thread, with a busy bar; only Cancel can be used meanwhile.
        button("openWebsite")->click();
        auto* panel = window()->findChild<QFileDialog*>();
        panel->setDirectory(tolvane::toQString(root().parent_path()));
        panel->selectFile(tolvane::toQString(root()));
        static_cast<QDialog*>(panel)->accept();
        QVERIFY(controller->isBusy());
        QCOMPARE(window()->progressIndicator->maximum(), 0);
        QCOMPARE(enabled(), "cancel");
        QTRY_VERIFY_WITH_TIMEOUT(shown->count() == 1, timeout);
        QVERIFY(visibleSheets(window()).isEmpty());
        const Tester imagesTester = testerOf(images()->model()),
                     copiesTester = testerOf(copies()->model());
        // The group saving most comes first and is selected; its copies by path, the one whose
        // bytes stay (the first met) in bold, each with its fate.
        QCOMPARE(columnTexts(images(), 0), (QStringList{"logo.png", "star.gif"}));
        QCOMPARE(columnTexts(images(), 6), (QStringList{"images/logo.png", "images/star.gif"}));
        QCOMPARE(images()->selectionModel()->selectedRows().constFirst().row(), 0);
        const QString first = tolvane::relativeText(expected.duplicates[0].copies[0], root());
        QCOMPARE(columnTexts(copies(), 0), (QStringList{"A_files/logo.png", "B_files/logo.png",
                                                        "Blog/Entry1_files/logo.png"}));
        for (int row = 0; row < 3; ++row) {
            const bool kept = columnTexts(copies(), 0)[row] == first;
            QCOMPARE(columnTexts(copies(), 1)[row],
                     kept ? QStringLiteral("Kept as images/logo.png") : QStringLiteral("Removed"));
            QCOMPARE(copies()->model()->index(row, 0).data(Qt::FontRole).value<QFont>().bold(),
                     kept);
        }
        QCOMPARE(counts(), QStringLiteral("2 duplicated images, 3 copies to remove, %1 to save.")
                               .arg(tolvane::sizeText(2 * logoBytes.size() + starBytes.size())));
        QCOMPARE(enabled(), "openWebsite preview optimize");
        // A click shows another group's copies; no selection, no copies.
        clickRow(images(), 1);
        QCOMPARE(columnTexts(copies(), 0), (QStringList{"A_files/star.gif", "B_files/star.gif"}));
        images()->clearSelection();
        QCOMPARE(rows(copies()), 0);

        // Another site replaces the result in the same tables; the chooser starts where the
        // last folder was.
        TempDir second;
        writeFile(second / "index.html", "home");
        writeFile(second / "p_files/other.jpg", "jpg");
        writeFile(second / "q_files/other.jpg", "jpg");
        choose(second.path(), root());
        QCOMPARE(columnTexts(images(), 0), QStringList{"other.jpg"});
        QCOMPARE(columnTexts(copies(), 0), (QStringList{"p_files/other.jpg", "q_files/other.jpg"}));
        QCOMPARE(window()->windowTitle(),
                 tolvane::toQString(second.path().filename()) + " - Tolvane");
    }

    void aFolderThatIsNoWebsiteIsNamedAndAWebsiteInsideOffered() {
        TempDir site;
        writeFile(site / "zeta/index.html", "a site, but not the first by name");
        writeFile(site / "Pages/index.html", "a site one level down");
        writeFile(site / "Pages/a_files/x.png", "x");
        writeFile(site / "Pages/b_files/x.png", "x");
        writeFile(site / "notes/readme.txt", "no site");
        const QString folder = tolvane::toQString(site.path());
        choose(site.path());
        QCOMPARE(sheetSays(window()),
                 "Warning: “" + folder + "” is not a website folder. [&Cancel|&Open “Pages”]");
        QVERIFY(answer("&Cancel"));
        QVERIFY(!controller->currentDuplicates().has_value());
        QCOMPARE(shown->count(), 0);
        controller->openFolder(folder);
        QVERIFY(answer("&Open “Pages”"));
        QTRY_VERIFY_WITH_TIMEOUT(shown->count() == 1, timeout);
        QCOMPARE(controller->siteRoot(), site / "Pages");
        controller->openFolder(tolvane::toQString(site / "notes"));
        QCOMPARE(sheetSays(window()),
                 "Warning: “" + folder + "/notes” is not a website folder. [OK]");
    }

    void nothingToDoIsNewsNotAFailure_data() {
        QTest::addColumn<bool>("stuck");
        QTest::addColumn<QString>("why");
        QTest::newRow("no duplicates")
            << false << "Your website contains no duplicate images that need optimizing.";
        QTest::newRow("every copy has to stay")
            << true
            << "Every copy of the duplicate images has to stay where it is; the copies table "
               "says why.";
    }

    void nothingToDoIsNewsNotAFailure() {
        QFETCH(bool, stuck);
        QFETCH(QString, why);
        site_ = std::make_unique<TempDir>();
        writeFile(root() / "index.html", "home");
        writeFile(root() / "a_files/x.png", "one");
        writeFile(root() / "b_files/x.png", "another");
        if (stuck) // every page showing the image is of another encoding: nothing can go
            for (const std::string p : {"A", "B"}) {
                writeFile(root() / (p + ".html"), "caf\xe9<img src=\"" + p + "_files/x.png\">");
                writeFile(root() / (p + "_files/x.png"), "x bytes");
            }
        choose(root());
        QCOMPARE(sheetSays(window()), "Information: There are no images to optimize! [OK]");
        QCOMPARE(onlySheet(window())->informativeText(), why);
        QCOMPARE(rows(images()), stuck ? 1 : 0);
        for (const QString& fate : columnTexts(copies(), 1))
            QVERIFY2(fate.startsWith("Stays: "), qPrintable(fate));
        QCOMPARE(rows(copies()), stuck ? 2 : 0);
        QCOMPARE(enabled(), "openWebsite");
    }

    // What the user chose (nothing, a group unchecked, a copy unchecked, a copy kept), the
    // counts then, each file as the run leaves it ("(gone)", "(as before)" or its bytes) and
    // what the summary says the scan after the run found.
    void aRunTakesWhatIsCheckedAsThePreviewListedIt_data() {
        QTest::addColumn<QString>("group");
        QTest::addColumn<QString>("copy");
        QTest::addColumn<QString>("counts");
        QTest::addColumn<QStringList>("files");
        QTest::newRow("everything")
            << ""
            << ""
            << "3 copies to remove"
            << QStringList{"images/logo.png|" + QString::fromStdString(logoBytes),
                           "images/star.gif|" + QString::fromStdString(starBytes),
                           "A.html|<img src=\"images/logo.png\"><img src=\"images/star.gif\">",
                           "B_files/B.js|var i = \"images\\/logo.png\";",
                           "Blog/Entry1.html|<img src=\"../images/logo.png\">",
                           "Blog/Entry1_files/logo.png|(gone)",
                           "A_files/star.gif|(gone)",
                           "A_files/page.png|only once"};
        QTest::newRow("star.gif unchecked")
            << "star.gif"
            << ""
            << "2 copies to remove"
            << QStringList{"images/star.gif|(gone)",
                           "A.html|<img src=\"images/logo.png\"><img src=\"A_files/star.gif\">",
                           "A_files/star.gif|(as before)", "B_files/star.gif|(as before)"};
        QTest::newRow("a copy unchecked")
            << "logo.png"
            << "Blog/Entry1_files/logo.png"
            << "2 copies to remove"
            << QStringList{"images/logo.png|" + QString::fromStdString(logoBytes),
                           "Blog/Entry1.html|(as before)",
                           "Blog/Entry1_files/logo.png|(as before)"};
        QTest::newRow("a copy kept")
            << "logo.png"
            << "B_files/logo.png"
            << "3 copies to remove"
            << QStringList{"images/logo.png|(gone)",
                           "B_files/logo.png|" + QString::fromStdString(logoBytes),
                           "A.html|<img src=\"B_files/logo.png\"><img src=\"images/star.gif\">",
                           "Blog/Entry1.html|<img src=\"../B_files/logo.png\">"};
    }

    void aRunTakesWhatIsCheckedAsThePreviewListedIt() {
        QFETCH(QString, group);
        QFETCH(QString, copy);
        QFETCH(QString, counts);
        QFETCH(QStringList, files);
        openSite();
        const Tester imagesTester = testerOf(images()->model()),
                     copiesTester = testerOf(copies()->model());
        if (!group.isEmpty()) {
            const int groupRow = rowOf(images(), group);
            images()->selectRow(groupRow);
            const int row = rowOf(copies(), copy);
            if (copy.isEmpty()) {
                toggleRow(images(), groupRow);
                QCOMPARE(checkOf(images(), groupRow), Qt::Unchecked);
                QCOMPARE(columnTexts(copies(), 1).constFirst(),
                         QStringLiteral("Stays: its image is left alone"));
            } else if (QTest::currentDataTag() == QByteArray("a copy unchecked")) {
                // Kept first, then unchecked: unchecked wins, it is kept no more.
                copies()->setCurrentIndex(copies()->model()->index(row, 0));
                window()->keepCopyAction->trigger();
                toggleRow(copies(), row);
                QCOMPARE(checkOf(copies(), row), Qt::Unchecked);
                QVERIFY(!window()->keepCopyAction->isChecked());
                QCOMPARE(columnTexts(copies(), 1)[row],
                         QStringLiteral("Stays: chosen to stay here"));
                QCOMPARE(checkOf(images(), groupRow), Qt::Checked);
            } else {
                copies()->setCurrentIndex(copies()->model()->index(row, 0));
                QVERIFY(window()->keepCopyAction->isEnabled());
                window()->keepCopyAction->trigger();
                QCOMPARE(columnTexts(copies(), 1)[row],
                         QStringLiteral("Kept here, the others lead to it"));
            }
        }
        QVERIFY2(this->counts().contains(counts), qPrintable(this->counts()));

        // The preview lists every file the run then changes, and only those.
        tolvane::PreviewDialog* preview = openPreview();
        QVERIFY(preview);
        std::set<std::string> listed;
        for (const QString& line : preview->text().split('\n', Qt::SkipEmptyParts))
            if (!line.section('\t', 1).startsWith("Stays") &&
                !line.section('\t', 1).startsWith("Kept here"))
                listed.insert(line.section('\t', 0, 0).toStdString());
        preview->close();
        const auto before = snapshotOf(root());
        QCOMPARE(optimize(), 1);
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
        // Nothing is lost: every image's bytes are still somewhere in the site.
        std::set<std::string> bytesAfter;
        for (const auto& [name, bytes] : after)
            bytesAfter.insert(bytes);
        for (const auto& [name, bytes] : before)
            if (name.ends_with(".png") || name.ends_with(".gif"))
                QVERIFY2(bytesAfter.count(bytes), name.c_str());

        // One sheet: what the run did and what the scan after it found; what was left alone
        // stays left alone, so nothing is left to do.
        const QStringList summary = takeSummary();
        QCOMPARE(summary.mid(0, 2), (QStringList{"Information", "Optimization finished."}));
        QVERIFY2(summary.value(2).endsWith("\nNo duplicate images are left.") || !group.isEmpty(),
                 qPrintable(summary.value(2)));
        if (group.isEmpty())
            QCOMPARE(summary.value(2),
                     QStringLiteral("Removed 3 copies, saved %1; 5 files rewritten; 0 copies "
                                    "stayed.\nNo duplicate images are left.")
                         .arg(tolvane::sizeText(2 * logoBytes.size() + starBytes.size())));
        QTest::qWait(50); // a second sheet queued behind it would be open by now
        QVERIFY(visibleSheets(window()).isEmpty());
        QVERIFY(!button("optimize")->isEnabled());
        // The bar tells the steps and the time they took; the pane holds every line.
        QVERIFY2(window()->progressIndicator->text().contains(" steps, 0:"),
                 qPrintable(window()->progressIndicator->text()));
        QStringList pane;
        for (const QString& line : window()->logView->toPlainText().split('\n'))
            if (!line.isEmpty() && !line.startsWith("=== "))
                pane << line;
        QCOMPARE(pane, controller->actionLog());
    }

    // The worker runs while the window answers; cancel stops it and puts back what it changed:
    // before anything is placed, half way, or when the window is closed meanwhile.
    void cancelGivesTheOriginalTreeByteForByte_data() {
        QTest::addColumn<bool>("halfDone");
        QTest::addColumn<bool>("closing");
        QTest::newRow("before anything is placed") << false << false;
        QTest::newRow("kept files placed, pages being rewritten") << true << false;
        QTest::newRow("the window closed") << false << true;
    }

    void cancelGivesTheOriginalTreeByteForByte() {
        QFETCH(bool, halfDone);
        QFETCH(bool, closing);
        openSite();
        const auto before = snapshotOf(root());
        std::promise<void> open = gateRuns(halfDone);
        QSignalSpy finished(controller.get(), &TolvaneAppDelegate::runFinished);
        confirm("&Optimize");
        QTRY_VERIFY_WITH_TIMEOUT(GatedFileManager::waiting > 0, timeout);
        QCOMPARE(fs::exists(root() / "images"), halfDone);
        QVERIFY(visibleSheets(window()).isEmpty()); // the sheet went before the first step
        QCOMPARE(enabled(), "cancel");
        // Closing asks first; keeping the run going keeps the window.
        QVERIFY(!window()->close());
        QCOMPARE(sheetSays(window()),
                 "Warning: The optimization is still in progress. [&Keep Running|&Stop and Close]");
        if (closing) {
            QVERIFY(answer("&Stop and Close"));
            QVERIFY(window()->isVisible()); // not before the site is back
            open.set_value();
            QTRY_VERIFY_WITH_TIMEOUT(!window()->isVisible(), timeout);
            QCOMPARE(snapshotOf(root()), before);
            return;
        }
        QVERIFY(answer("&Keep Running"));
        // Groups can still be looked at; another site cannot be opened.
        clickRow(images(), 1);
        QCOMPARE(rows(copies()), 2);
        TempDir other;
        writeFile(other / "index.html", "home");
        controller->openFolder(tolvane::toQString(other.path()));
        QCOMPARE(controller->siteRoot(), root());
        button("cancel")->click();
        QCOMPARE(enabled(), ""); // asked once
        open.set_value();
        QVERIFY(finished.wait(timeout));
        QCOMPARE(finished.constFirst().constFirst().toBool(), false);
        {
            std::lock_guard<std::mutex> lock(GatedFileManager::mutex);
            QVERIFY(!GatedFileManager::threads.empty());
            QVERIFY(!GatedFileManager::threads.count(std::this_thread::get_id()));
        }
        QCOMPARE(snapshotOf(root()), before);
        const QStringList summary = takeSummary();
        QCOMPARE(summary.value(1),
                 QStringLiteral("Optimization cancelled. The website is as it was before."));
        QVERIFY2(summary.value(2).startsWith("Everything the run had changed was put back."),
                 qPrintable(summary.value(2)));
        QTRY_COMPARE(rows(images()), 2);
        QCOMPARE(enabled(), "openWebsite preview optimize");
        QVERIFY(!controller->canUndo());
        // The next run's bar starts afresh.
        std::promise<void> again = gateRuns();
        confirm("&Optimize");
        QTRY_VERIFY(GatedFileManager::waiting > 0);
        QCOMPARE(window()->progressIndicator->maximum(), 0);
        again.set_value();
        QVERIFY(finished.wait(timeout));
    }

    void aRunStoppedAtAFailureOffersUndoInItsSheet() {
        openSite();
        const auto before = snapshotOf(root());
        // star.gif cannot be given its name in images/; logo.png is done by then.
        const fs::path refused = root() / "images/star.gif";
        controller->setFileManagerFactory([refused] {
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
            files->refused = refused;
            return files;
        });
        QCOMPARE(optimize(), 0);
        QVERIFY(snapshotOf(root()) != before);
        const QString failure = "Unable to move star.gif to the site images folder";
        QTRY_VERIFY(onlySheet(window()));
        QCOMPARE(onlySheet(window())->text(), failure);
        QVERIFY(controller->actionLog().filter(failure + ", error: ").size() == 1);
        QVERIFY(controller->actionLog().last().startsWith("Optimization stopped at a failure."));
        QSignalSpy undone(controller.get(), &TolvaneAppDelegate::undoFinished);
        QVERIFY(answer("&Undo"));
        QVERIFY(undone.wait(timeout));
        QCOMPARE(undone.constFirst().constFirst().toBool(), true);
        QCOMPARE(snapshotOf(root()), before);
        QVERIFY(!controller->canUndo());
    }

    void undoAsksThenPutsTheSiteBackUnlessTheSiteIsInUse() {
        openSite();
        const auto before = snapshotOf(root());
        QAction* undo = window()->undoAction;
        QVERIFY(!undo->isEnabled()); // nothing recorded yet
        QCOMPARE(optimize(), 1);
        takeSummary();
        const auto afterRun = snapshotOf(root());
        QVERIFY(undo->isEnabled());
        undo->trigger();
        QCOMPARE(sheetSays(window()), "Warning: Undo the last optimization? [&Cancel|&Undo]");
        QVERIFY(answer("&Cancel"));
        QVERIFY(!controller->isBusy());
        QCOMPARE(snapshotOf(root()), afterRun);
        {
            std::error_code error;
            const auto lock = tolvane::SiteLock::tryAcquire(root(), error);
            QVERIFY(lock);
            undo->trigger();
            QVERIFY(answer("&Undo"));
            QTRY_COMPARE(sheetSays(window()),
                         "Warning: " + tolvane::EventText::siteBusyMessage(root()) + " [OK]");
            QCOMPARE(snapshotOf(root()), afterRun);
            QVERIFY(answer("OK"));
        }
        QSignalSpy finished(controller.get(), &TolvaneAppDelegate::undoFinished);
        undo->trigger();
        QVERIFY(answer("&Undo"));
        QVERIFY(controller->isBusy());
        QCOMPARE(enabled(), "");
        QVERIFY(finished.wait(timeout));
        QCOMPARE(finished.constFirst().constFirst().toBool(), true);
        QCOMPARE(snapshotOf(root()), before);
        QVERIFY(controller->actionLog().contains("Undo complete"));
        QTRY_COMPARE(rows(images()), 2);
        QVERIFY(!undo->isEnabled()); // undone: not offered again
    }

    void escapeStopsAScanAndThePreviousResultStays() {
        openSite();
        const QString before = counts();
        TempDir generated;
        tolvane::sitegen::SiteShape shape;
        shape.pages = 120;
        shape.minImageSize = 512;
        shape.maxImageSize = 2048;
        tolvane::sitegen::generateSite(generated / "big", shape);
        QSignalSpy cancelled(controller.get(), &TolvaneAppDelegate::scanCancelled);
        controller->openFolder(tolvane::toQString(generated / "big"));
        QCOMPARE(window()->windowTitle(), QStringLiteral("big - Tolvane"));
        QTest::keyClick(window(), Qt::Key_Escape);
        QCOMPARE(cancelled.count(), 1);
        QCOMPARE(enabled(), "openWebsite preview optimize");
        QCOMPARE(window()->siteLabel->text(), tolvane::toQString(root()));
        QCOMPARE(counts(), before);
        QTest::qWait(300); // whatever the stopped scan still sends is not shown
        QCOMPARE(shown->count(), 1);
        QCOMPARE(columnTexts(images(), 0), (QStringList{"logo.png", "star.gif"}));
        controller->openFolder(tolvane::toQString(generated / "big"));
        QTRY_VERIFY_WITH_TIMEOUT(shown->count() == 2, timeout);
        QCOMPARE(controller->currentDuplicates()->size(),
                 tolvane::scanWebsite(generated / "big").duplicates.size());
    }

    void tablesSortAsAPersonReadsAndTellSameNamesApart() {
        enum { name, digest, count, references, size, saving, kept };
        site_ = std::make_unique<TempDir>();
        writeFile(root() / "index.html", "home");
        const std::map<std::string, std::string> contents{{"stroke_19.png", std::string(100, 'b')},
                                                          {"stroke_2.png", std::string(9, 'a')},
                                                          {"Stroke_3.png", std::string(10, 'c')}};
        for (const auto& [file, bytes] : contents)
            for (const std::string page : {"P", "Q"})
                writeFile(root() / (page + "_files") / file, bytes);
        for (const std::string page : {"P", "Q"}) // two groups of one name, other bytes
            writeFile(root() / (page + "_files/twin.png"), std::string(200, 't'));
        for (const std::string page : {"R", "S"})
            writeFile(root() / (page + "_files/twin.png"), std::string(201, 'u'));
        choose(root());
        const Tester tester = testerOf(images()->model());
        QHeaderView* header = images()->horizontalHeader();
        QCOMPARE(header->sortIndicatorSection(), int(saving));
        QCOMPARE(header->sortIndicatorOrder(), Qt::DescendingOrder);
        QCOMPARE(columnTexts(images(), name), (QStringList{"twin.png", "twin.png", "stroke_19.png",
                                                           "Stroke_3.png", "stroke_2.png"}));
        header->setSortIndicator(size, Qt::AscendingOrder);
        QCOMPARE(columnTexts(images(), name).mid(0, 3),
                 (QStringList{"stroke_2.png", "Stroke_3.png", "stroke_19.png"}));
        header->setSortIndicator(name, Qt::AscendingOrder);
        const QStringList byName{"stroke_2.png", "Stroke_3.png", "stroke_19.png", "twin.png",
                                 "twin.png"};
        QCOMPARE(columnTexts(images(), name), byName);
        // The twins differ in digest and in where their bytes go, shown in full.
        const QStringList digests = columnTexts(images(), digest).mid(3);
        QVERIFY(digests[0] != digests[1]);
        const QStringList keptAs = columnTexts(images(), kept).mid(3);
        QVERIFY(keptAs.contains("images/twin.png"));
        const QString other = keptAs[keptAs[0] == "images/twin.png" ? 1 : 0];
        QVERIFY2(QRegularExpression("^images/twin-[0-9a-f]{8}\\.png$").match(other).hasMatch(),
                 qPrintable(other));
        QVERIFY(images()->columnWidth(kept) > images()->fontMetrics().horizontalAdvance(other));
        // The selection follows the group, not the row.
        clickRow(images(), 2);
        header->setSortIndicator(size, Qt::DescendingOrder);
        QCOMPARE(
            tolvane::toQString((*controller->currentDuplicates())[controller->shownGroup()].name),
            QStringLiteral("stroke_19.png"));
        QCOMPARE(images()->selectionModel()->selectedRows().constFirst().row(), 2);
        // The order chosen stays for the next scan.
        header->setSortIndicator(name, Qt::AscendingOrder);
        window()->rescanAction->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(shown->count() == 2, timeout);
        QCOMPARE(header->sortIndicatorSection(), int(name));
        QCOMPARE(columnTexts(images(), name), byName);
    }

    void theSelectMenuChoosesTheGroups() {
        openSite();
        const auto chosen = [&] {
            QStringList names;
            for (const QString name : {"logo.png", "star.gif"})
                if (checkOf(images(), rowOf(images(), name)) == Qt::Checked)
                    names << name;
            return names.join(' ');
        };
        window()->chooseNoneAction->trigger();
        QCOMPARE(chosen(), "");
        QCOMPARE(enabled(), "openWebsite");
        window()->invertChoiceAction->trigger();
        QCOMPARE(chosen(), "logo.png star.gif");
        const int logoRow = rowOf(images(), "logo.png");
        toggleRow(images(), logoRow);
        QCOMPARE(rowOf(images(), "logo.png"), logoRow); // an unchecked group keeps its place
        window()->invertChoiceAction->trigger();
        QCOMPARE(chosen(), "logo.png");
        window()->chooseAllAction->trigger();
        QCOMPARE(chosen(), "logo.png star.gif");
        // logo.png saves two copies of 31 bytes, star.gif one of 11; what is no size is refused.
        const auto least = [&](const QString& size) {
            window()->leastSavingAction->trigger();
            auto* dialog = window()->findChild<QInputDialog*>("leastSavingDialog");
            QVERIFY(dialog && dialog->isVisible());
            dialog->setTextValue(size);
            dialog->accept();
            QTRY_VERIFY(!window()->findChild<QInputDialog*>("leastSavingDialog"));
        };
        least("a lot");
        QCOMPARE(chosen(), "logo.png star.gif");
        QVERIFY(answer("OK"));
        least("20 B");
        QCOMPARE(chosen(), "logo.png");
        QVERIFY(counts().contains("2 copies to remove"));
        least("1 KB");
        QCOMPARE(chosen(), "");
        QCOMPARE(enabled(), "openWebsite");
    }

    void thePreviewListsEveryChangeInAWindowOfItsOwn() {
        openSite();
        const auto before = snapshotOf(root());
        const int logBefore = controller->actionLog().size();
        // Escape while the list is made: no window, no line.
        button("preview")->click();
        QTest::keyClick(window(), Qt::Key_Escape);
        QTRY_VERIFY(!controller->isBusy());
        QTest::qWait(50);
        QVERIFY(!window()->findChild<tolvane::PreviewDialog*>());
        QCOMPARE(controller->actionLog().size(), logBefore);
        QCOMPARE(window()->statusLabel->text(), QStringLiteral("Preview cancelled."));

        tolvane::PreviewDialog* preview = openPreview();
        QVERIFY(preview && preview->isVisible());
        QVERIFY(!window()->progressIndicator->isTextVisible()); // its count is no run's
        QCOMPARE(controller->actionLog().size(), logBefore + 1);
        QCOMPARE(controller->actionLog().last(),
                 "Preview of the changes shown in the window “Preview of the Changes to " +
                     tolvane::toQString(root().filename()) +
                     "”. A run would remove 3 copies, save " +
                     tolvane::sizeText(2 * logoBytes.size() + starBytes.size()) +
                     " and rewrite 5 files; 0 copies would stay.");
        QAbstractItemModel* listed = preview->changesTable()->model();
        const Tester tester = testerOf(listed);
        // Each reference of the five files rewritten, before and after, then each copy's fate.
        const QStringList lines = preview->text().split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 7 + 5);
        for (const char* line :
             {"A.html\tRewritten: “A_files/logo.png” → “images/logo.png”",
              "A.html\tRewritten: “A_files/star.gif” → “images/star.gif”",
              "B_files/B.js\tRewritten: “B_files\\/logo.png” → “images\\/logo.png”",
              "Blog/Entry1.html\tRewritten: “Entry1_files/logo.png” → “../images/logo.png”"})
            QVERIFY2(lines.contains(QString::fromUtf8(line)), line);
        QCOMPARE(lines.filter("\tRemoved").size(), 3);
        QCOMPARE(lines.filter("\tKept as images/").size(), 2);
        // The filter narrows the list; Save as Text writes what is shown.
        QTest::keyClicks(preview->filterBox(), "LOGO");
        QCOMPARE(listed->rowCount(), 8);
        TempDir saved;
        QVERIFY(preview->saveTo(tolvane::toQString(saved / "preview.txt"), nullptr));
        QCOMPARE(QString::fromStdString(readFile(saved / "preview.txt")), preview->text());
        QCOMPARE(preview->text().count('\n'), 8);
        QCOMPARE(snapshotOf(root()), before);
        QCOMPARE(enabled(), "openWebsite preview optimize");
    }

    // A picture larger than the preview on either side is read at a size it can show; what
    // cannot be decoded says why.
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

QTEST_MAIN(WindowTest)
#include "window_test.moc"
