#include "app/translations.hpp"

#include <QCoreApplication>
#include <QLibraryInfo>

namespace tolvane {

namespace {

// The pieces of the run's log lines and sheets: the core asks for them by their English text
// through the controller's translations, so they are listed here for the catalogue.
[[maybe_unused]] constexpr const char* runTexts[] = {
    QT_TRANSLATE_NOOP("tolvane::TolvaneAppDelegate", "Creating images folder in root"),
    QT_TRANSLATE_NOOP("tolvane::TolvaneAppDelegate", "Unable to create images folder"),
    QT_TRANSLATE_NOOP("tolvane::TolvaneAppDelegate", "Moving image file: "),
    QT_TRANSLATE_NOOP("tolvane::TolvaneAppDelegate", " to folder: "),
    QT_TRANSLATE_NOOP("tolvane::TolvaneAppDelegate", "Unable to move "),
    QT_TRANSLATE_NOOP("tolvane::TolvaneAppDelegate", " to the site images folder"),
    QT_TRANSLATE_NOOP("tolvane::TolvaneAppDelegate", "Removing duplicate file: "),
    QT_TRANSLATE_NOOP("tolvane::TolvaneAppDelegate", "Unable to remove "),
    QT_TRANSLATE_NOOP("tolvane::TolvaneAppDelegate", " from "),
    QT_TRANSLATE_NOOP("tolvane::TolvaneAppDelegate", "Restoring duplicate file: "),
    QT_TRANSLATE_NOOP("tolvane::TolvaneAppDelegate", "Unable to restore "),
    QT_TRANSLATE_NOOP("tolvane::TolvaneAppDelegate", " to "),
    QT_TRANSLATE_NOOP("tolvane::TolvaneAppDelegate", "Updating file: "),
    QT_TRANSLATE_NOOP("tolvane::TolvaneAppDelegate", " to use moved image: "),
    QT_TRANSLATE_NOOP("tolvane::TolvaneAppDelegate", "HTML/js file: "),
    QT_TRANSLATE_NOOP("tolvane::TolvaneAppDelegate", " doesn't exist"),
    QT_TRANSLATE_NOOP("tolvane::TolvaneAppDelegate", "Unable to update "),
    QT_TRANSLATE_NOOP("tolvane::TolvaneAppDelegate", "Unable to write back to file: "),
    QT_TRANSLATE_NOOP("tolvane::TolvaneAppDelegate", "Keeping "),
    QT_TRANSLATE_NOOP("tolvane::TolvaneAppDelegate", " in "),
    QT_TRANSLATE_NOOP("tolvane::TolvaneAppDelegate", ": "),
    QT_TRANSLATE_NOOP("tolvane::TolvaneAppDelegate",
                      ": a file that refers to it could not be rewritten"),
    QT_TRANSLATE_NOOP("tolvane::TolvaneAppDelegate", "Keeping added file: "),
    QT_TRANSLATE_NOOP("tolvane::TolvaneAppDelegate",
                      "Keeping folder, it holds files the optimization did not add: "),
    QT_TRANSLATE_NOOP("tolvane::TolvaneAppDelegate", "Keeping rewritten file: "),
    QT_TRANSLATE_NOOP(
        "tolvane::TolvaneAppDelegate",
        "Unable to restore the rewritten files: a removed copy could not be put back"),
    QT_TRANSLATE_NOOP("tolvane::TolvaneAppDelegate",
                      "Unable to restore the rewritten files: their earlier text refers to a file "
                      "that is missing"),
    QT_TRANSLATE_NOOP("tolvane::TolvaneAppDelegate",
                      "Optimization cancelled: every page still shows its images"),
    QT_TRANSLATE_NOOP("tolvane::TolvaneAppDelegate",
                      "Putting back what the cancelled run had changed"),
    QT_TRANSLATE_NOOP("tolvane::TolvaneAppDelegate", "Unable to undo the last optimization"),
    QT_TRANSLATE_NOOP("tolvane::TolvaneAppDelegate", "Removing added file: "),
    QT_TRANSLATE_NOOP("tolvane::TolvaneAppDelegate", "Removing added folder: "),
    QT_TRANSLATE_NOOP("tolvane::TolvaneAppDelegate", "Removing leftover temporary file: "),
    QT_TRANSLATE_NOOP("tolvane::TolvaneAppDelegate", "Restoring file: "),
    QT_TRANSLATE_NOOP("tolvane::TolvaneAppDelegate", "Unable to lock the site"),
    QT_TRANSLATE_NOOP("tolvane::TolvaneAppDelegate",
                      "Unable to read every record of the optimization"),
    QT_TRANSLATE_NOOP("tolvane::TolvaneAppDelegate",
                      "Unable to read the record of the optimization"),
    QT_TRANSLATE_NOOP("tolvane::TolvaneAppDelegate", "Unable to record the run for undo"),
    QT_TRANSLATE_NOOP("tolvane::TolvaneAppDelegate", "Unable to record the undo"),
    QT_TRANSLATE_NOOP("tolvane::TolvaneAppDelegate", "Unable to remove folder "),
    QT_TRANSLATE_NOOP("tolvane::TolvaneAppDelegate", "Undo complete"),
    QT_TRANSLATE_NOOP("tolvane::TolvaneAppDelegate",
                      "Undo incomplete: changes that could not be undone: "),
    QT_TRANSLATE_NOOP("tolvane::TolvaneAppDelegate", "Undoing the optimization of "),
};

} // namespace

Translations::Translations(const QLocale& locale) {
    // The window's catalogues are compiled into the program.
    ownLoaded_ =
        own_.load(locale, QStringLiteral("tolvane"), QStringLiteral("_"), QStringLiteral(":/i18n"));
    if (ownLoaded_) {
        QCoreApplication::installTranslator(&own_);
        // The buttons and labels of Qt's dialogs, from the system's Qt translations if present;
        // only beside the window's own, so that a window without a catalogue stays English.
        qtLoaded_ = qt_.load(locale, QStringLiteral("qtbase"), QStringLiteral("_"),
                             QLibraryInfo::path(QLibraryInfo::TranslationsPath));
        if (qtLoaded_)
            QCoreApplication::installTranslator(&qt_);
    }
    // Numbers and dates follow the window's language: a German window writes 1,5 KB even where
    // only the language (LANGUAGE=de), not the locale, is German. The locale's own country
    // conventions stay where its language is the window's.
    const QLocale window = ownLoaded_ ? QLocale(own_.language()) : QLocale(QLocale::English);
    const bool sameLanguage =
        locale.language() == window.language() || (!ownLoaded_ && locale.language() == QLocale::C);
    // The system locale itself would format by the process's LC_* settings, not by its name.
    const QLocale chosen = sameLanguage ? locale : window;
    QLocale::setDefault(QLocale(chosen.language(), chosen.territory()));
}

Translations::~Translations() {
    QLocale::setDefault(previousLocale_);
    if (qtLoaded_)
        QCoreApplication::removeTranslator(&qt_);
    if (ownLoaded_)
        QCoreApplication::removeTranslator(&own_);
}

} // namespace tolvane
