#pragma once

#include "ui_main_window.h"

#include <QMainWindow>

#include <memory>

class QAction;
class QLabel;
class QMimeData;
class QProgressBar;
class QPushButton;
class QSettings;
class QSplitter;
class QTableView;

namespace tolvane {

class ImagePreview;
class LogView;

// The window's remembered state (size, splitters, last folder): Tolvane's settings file under
// the user's configuration folder.
std::unique_ptr<QSettings> openSettings();

// The main window and its controls, laid out in main_window.ui; each control is a member named
// as its object. It knows nothing of websites: the controller connects the controls and decides
// what they do. A folder dropped on it is handed on as folderDropped.
class MainWindow : public QMainWindow, public Ui::MainWindow {
    Q_OBJECT

  public:
    explicit MainWindow(QWidget* parent = nullptr);

    // Whether a dropped folder would be taken now.
    void setAcceptsFolders(bool accepts) { acceptsFolders_ = accepts; }
    // Whether the window may close now; when not, a close asks the controller (closeRequested).
    void setClosable(bool closable) { closable_ = closable; }
    // Size and splitters as last left, kept within the screen the window opens on.
    void restoreLayout();
    void saveLayout() const;
    // Makes the window fit the available part of its screen, moving it inside if needed.
    void fitToScreen();

  signals:
    void folderDropped(const QString& folder);
    void closeRequested();

  protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

  private:
    QString droppedFolder(const QMimeData* mime) const;
    // A narrow window puts the copies and the preview below the groups, side by side, so that
    // every column of the groups table fits.
    void arrangeForWidth(int width);
    // The splitters as last left, once the window has its size.
    void restoreSplitters();
    bool splittersRestored_ = false;
    bool acceptsFolders_ = true;
    bool closable_ = true;
};

} // namespace tolvane
