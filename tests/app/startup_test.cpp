// The window program's start: its command line, and the language it speaks. Run by CTest with
// LANGUAGE=de, as a German desktop session sets it; every other case names its locale itself.
#include "app/image_preview.hpp"
#include "app/log_view.hpp"
#include "app/main_window.hpp"
#include "app/path_text.hpp"
#include "app/preview_dialog.hpp"
#include "app/quiet_offscreen.hpp"
#include "app/start_options.hpp"
#include "app/tolvane_app_delegate.hpp"
#include "app/translations.hpp"
#include "support/temp_dir.hpp"

#include <QAbstractButton>
#include <QAction>
#include <QDir>
#include <QKeySequence>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>
#include <QTranslator>

#include <filesystem>
#include <memory>

namespace fs = std::filesystem;
using tolvane::StartOptions;
using tolvane::TolvaneAppDelegate;
using tolvane::Translations;
using tolvane::test::TempDir;
using tolvane::test::writeFile;

namespace {

constexpr int runTimeout = 20000;

// The texts a user sees in the window before any site is open, by the widget that shows them.
QMap<QString, QString> windowTexts(tolvane::MainWindow* window) {
    QMap<QString, QString> texts;
    for (QPushButton* button : window->findChildren<QPushButton*>())
        texts["button " + button->objectName()] = button->text();
    int unnamed = 0;
    for (QAction* action : window->findChildren<QAction*>())
        if (!action->text().isEmpty())
            texts["action " + action->objectName() + QString::number(unnamed++)] = action->text();
    int heading = 0;
    for (QLabel* label : window->findChildren<QLabel*>())
        if (!label->text().isEmpty())
            texts["label " + label->objectName() + QString::number(heading++)] = label->text();
    texts["log placeholder"] = window->logView->placeholderText();
    texts["menu"] = window->menuBar()->actions().constFirst()->text();
    return texts;
}

QMessageBox* visibleSheet(QWidget* window) {
    for (QMessageBox* box : window->findChildren<QMessageBox*>())
        if (box->isVisible())
            return box;
    return nullptr;
}

QAbstractButton* buttonOf(QMessageBox* box, const QString& text) {
    for (QAbstractButton* button : box->buttons())
        if (button->text() == text)
            return button;
    return nullptr;
}

} // namespace

class StartupTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() { tolvane::test::silenceOffscreenWindowWarnings(); }

    // Arguments after the program's name; what the window opens, "text" when only help or the
    // version is printed (no window), or why it refuses.
    void theCommandLineOpensAFolderOrPrintsOnly_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("outcome");
        QTest::newRow("nothing") << QStringList{} << "";
        QTest::newRow("a folder") << QStringList{"/srv/site"} << "/srv/site";
        QTest::newRow("--open") << QStringList{"--open", "/srv/other"} << "/srv/other";
        QTest::newRow("a folder named like an option")
            << QStringList{"--open", "--help"} << "--help";
        QTest::newRow("two folders") << QStringList{"/a", "/b"} << "usage error";
        QTest::newRow("--open and another") << QStringList{"--open", "/a", "/b"} << "usage error";
        QTest::newRow("unknown option") << QStringList{"--no-such-option"} << "refused";
        for (const char* text : {"--help", "-h", "--help-all", "--version", "-v"})
            QTest::newRow(text) << QStringList{text} << "text";
        QTest::newRow("toolkit options before --version")
            << QStringList{"-platform", "offscreen", "--version"} << "text";
    }

    void theCommandLineOpensAFolderOrPrintsOnly() {
        QFETCH(QStringList, arguments);
        QFETCH(QString, outcome);
        const QStringList line = QStringList{"tolvane"} + arguments;
        QCOMPARE(StartOptions::asksForTextOnly(line), outcome == "text");
        if (outcome == "text")
            return;
        StartOptions options;
        const bool parsed = options.parser().parse(line);
        QCOMPARE(!parsed                           ? QStringLiteral("refused")
                 : !options.usageError().isEmpty() ? QStringLiteral("usage error")
                                                   : options.folder(),
                 outcome);
        QVERIFY(options.parser().helpText().contains("--open <DIR>"));
    }

    // CTest's LANGUAGE=de: every text the window shows is German (but the program's name), and
    // so are numbers, though the locale itself is not.
    void theWindowSpeaksTheSessionsLanguage() {
        std::unique_ptr<TolvaneAppDelegate> english = std::make_unique<TolvaneAppDelegate>();
        const QMap<QString, QString> before = windowTexts(english->window());
        english.reset();
        QVERIFY2(QLocale::system().uiLanguages().value(0).startsWith("de"),
                 "CTest runs this test with LANGUAGE=de");
        const Translations german(QLocale::system());
        QVERIFY(german.loaded());
        TolvaneAppDelegate controller;
        tolvane::MainWindow* window = controller.window();
        QCOMPARE(window->openWebsiteButton->text(), QStringLiteral("Website ö&ffnen …"));
        QCOMPARE(window->menuBar()->actions().constFirst()->text(), QStringLiteral("&Datei"));
        QCOMPARE(window->summaryLabel->text(),
                 QStringLiteral("Öffnen Sie den Stammordner einer exportierten Website, um ihre "
                                "doppelten Bilder zu finden."));
        QCOMPARE(QLocale().language(), QLocale::German);
        QCOMPARE(tolvane::sizeText(1536), QStringLiteral("1,5 kB"));
        const QMap<QString, QString> after = windowTexts(window);
        QCOMPARE(after.keys(), before.keys());
        int compared = 0;
        for (auto it = before.begin(); it != before.end(); ++it)
            if (it.value() != "Tolvane") {
                QVERIFY2(after.value(it.key()) != it.value(), qPrintable(it.value()));
                ++compared;
            }
        QVERIFY(compared >= 8);
    }

    void theConfirmationAndTheLogOfARunAreGerman() {
        TempDir site;
        writeFile(site / "index.html",
                  "<img src=\"A_files/logo.png\"><img src=\"B_files/logo.png\">");
        writeFile(site / "A.html", "<img src=\"A_files/logo.png\">");
        writeFile(site / "B.html", "<img src=\"B_files/logo.png\">");
        writeFile(site / "A_files/logo.png", "the same logo");
        writeFile(site / "B_files/logo.png", "the same logo");

        const Translations german(QLocale(QLocale::German));
        QVERIFY(german.loaded());
        TolvaneAppDelegate controller;
        controller.window()->show();
        QVERIFY(QTest::qWaitForWindowExposed(controller.window()));
        QSignalSpy shown(&controller, &TolvaneAppDelegate::scanShown);
        controller.openFolder(tolvane::toQString(site.path()));
        QTRY_VERIFY_WITH_TIMEOUT(!shown.isEmpty(), runTimeout);
        QVERIFY(controller.window()->summaryLabel->text().startsWith(
            QStringLiteral("1 mehrfach vorhandenes Bild, 1 Kopie zu entfernen, ")));

        QSignalSpy finished(&controller, &TolvaneAppDelegate::runFinished);
        controller.window()->optimizeButton->click();
        QMessageBox* sheet = visibleSheet(controller.window());
        QVERIFY(sheet);
        QCOMPARE(sheet->text(),
                 QStringLiteral("%1 optimieren?").arg(tolvane::toQString(site.path().filename())));
        QVERIFY2(sheet->informativeText().startsWith(
                     QStringLiteral("Entfernt werden: 1 Kopie, neu geschrieben: 3 Dateien, ")),
                 qPrintable(sheet->informativeText()));
        QVERIFY(buttonOf(sheet, "Abbre&chen"));
        QAbstractButton* yes = buttonOf(sheet, "&Optimieren");
        QVERIFY(yes);
        yes->click();
        QVERIFY(finished.wait(runTimeout));
        QCOMPARE(finished.constFirst().constFirst().toBool(), true);

        // The pieces the run puts together come from the same catalogue.
        const QString log = controller.actionLog().join('\n');
        for (const char* piece :
             {"Lege den Bilderordner images im Stammordner an", "Verschiebe Bilddatei: ",
              "Entferne doppelte Datei: ", "Aktualisiere Datei: ", " für das verschobene Bild: "})
            QVERIFY2(log.contains(QString::fromUtf8(piece)), qPrintable(log));
        for (const char* piece : {"Creating images folder", "Moving image file: ",
                                  "Removing duplicate file: ", "Updating file: "})
            QVERIFY2(!log.contains(QLatin1String(piece)), qPrintable(log));
        QTRY_COMPARE(controller.window()->statusLabel->text(),
                     QStringLiteral("Optimierung abgeschlossen."));
    }

    // In every language, each Alt+letter leads to one control: among the window's buttons,
    // headings and menus, within each menu, and within the preview window.
    void mnemonicsAreUniqueInEveryLanguage() {
        QStringList catalogues{QString()}; // English, the texts in the code
        for (const QString& file : QDir(":/i18n").entryList({"tolvane_*.qm"}))
            catalogues << ":/i18n/" + file;
        QVERIFY(catalogues.size() >= 2);
        for (const QString& catalogue : catalogues) {
            QTranslator translator;
            if (!catalogue.isEmpty()) {
                QVERIFY(translator.load(catalogue));
                QCoreApplication::installTranslator(&translator);
            }
            TolvaneAppDelegate controller;
            tolvane::MainWindow* window = controller.window();
            QMap<QString, QStringList> levels;
            const auto add = [&](const QString& level, const QString& text) {
                const QString key = QKeySequence::mnemonic(text).toString();
                if (!key.isEmpty())
                    levels[level] << key + " " + text;
            };
            for (QPushButton* button : window->findChildren<QPushButton*>())
                add("window", button->text());
            for (QLabel* label : window->findChildren<QLabel*>())
                if (label->buddy())
                    add("window", label->text());
            for (QAction* menu : window->menuBar()->actions()) {
                add("window", menu->text());
                for (QAction* item : menu->menu()->actions())
                    add(menu->text(), item->text());
            }
            for (QAction* item : window->pagesTable->actions())
                add("copies menu", item->text());
            tolvane::PreviewDialog preview(tolvane::PreviewList{});
            for (QPushButton* button : preview.findChildren<QPushButton*>())
                add("preview", button->text());
            for (QLabel* label : preview.findChildren<QLabel*>())
                if (label->buddy())
                    add("preview", label->text());
            QVERIFY(levels.value("window").size() >= 10);
            for (auto level = levels.begin(); level != levels.end(); ++level) {
                QSet<QString> keys;
                for (const QString& entry : level.value()) {
                    const QString key = entry.section(' ', 0, 0);
                    QVERIFY2(!keys.contains(key), qPrintable(catalogue + ", " + level.key() + ": " +
                                                             level.value().join(" | ")));
                    keys << key;
                }
            }
            QCoreApplication::removeTranslator(&translator);
        }
    }

    void otherLanguagesAndAGoneCatalogueKeepTheEnglishTexts() {
        const Translations french(QLocale(QLocale::French, QLocale::France));
        QVERIFY(!french.loaded());
        {
            const Translations german(QLocale(QLocale::German));
            QVERIFY(german.loaded());
        }
        TolvaneAppDelegate controller;
        QCOMPARE(controller.window()->openWebsiteButton->text(),
                 QStringLiteral("&Open Website..."));
        QCOMPARE(controller.window()->quitAction->text(), QStringLiteral("&Quit"));
    }
};

QTEST_MAIN(StartupTest)
#include "startup_test.moc"
