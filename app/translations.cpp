#include "app/translations.hpp"

#include <QCoreApplication>
#include <QLibraryInfo>

namespace tolvane {

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
