#pragma once

#include <QFileDialog>
#include <QObject>
#include <QPointer>
#include <QString>

#include <filesystem>

class QWidget;

namespace tolvane {

class Sheets;

// The choice of a site's root folder: a window-modal folder chooser starting in the folder
// opened last, and the check that a folder is a website (with a sheet naming it when not, and
// offering a child folder that is one).
class SiteChooser : public QObject {
    Q_OBJECT

  public:
    // The operation a folder chooser calls when it closes, with the chooser and its result code.
    using PanelEnd = void (SiteChooser::*)(QFileDialog* panel, int returnCode);

    SiteChooser(QWidget& window, Sheets& sheets, QObject* parent = nullptr)
        : QObject(parent), window_(window), sheets_(sheets) {}

    // Opens a window-modal folder chooser; didEnd is called when it closes.
    void chooseFile(PanelEnd didEnd, const QString& title, const QString& message,
                    const QString& initialValue);
    void folderSelected(QFileDialog* panel, int returnCode);
    // Open Website...: the chooser, starting where the last site was opened.
    void openWebsite();
    // A folder chosen, dropped or named at start: chosen when it is a website root.
    void openFolder(const QString& folder);
    QFileDialog* panel() const { return panel_; }

  signals:
    void chosen(const std::filesystem::path& root);

  private:
    void offerChildSite(const QString& folder, const std::filesystem::path& child);

    QWidget& window_;
    Sheets& sheets_;
    QPointer<QFileDialog> panel_;
};

} // namespace tolvane
