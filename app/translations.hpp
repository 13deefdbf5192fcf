#pragma once

#include <QLocale>
#include <QTranslator>

namespace tolvane {

// The window's catalogue for a locale's languages, and Qt's own for its dialogs, installed in
// the running application for as long as this object lives, with the window's language as the
// default locale for numbers and dates. Languages without a catalogue keep the English texts.
class Translations {
  public:
    explicit Translations(const QLocale& locale);
    ~Translations();
    Translations(const Translations&) = delete;
    Translations& operator=(const Translations&) = delete;

    // Whether Tolvane's own catalogue was found for the locale.
    bool loaded() const { return ownLoaded_; }

  private:
    QTranslator own_;
    QTranslator qt_;
    bool ownLoaded_ = false;
    bool qtLoaded_ = false;
    QLocale previousLocale_; // the default locale before, put back at the end
};

} // namespace tolvane
