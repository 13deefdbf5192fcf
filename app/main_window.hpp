#pragma once

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

// The main window and its controls. It knows nothing of websites: the controller connects the
// controls and decides what they do. A folder dropped on it is handed on as folderDropped.
class MainWindow : public QMainWindow {
    Q_OBJECT

  public:
    explicit MainWindow(QWidget* parent = nullptr);

    QPushButton* openWebsiteButton = nullptr;
    QPushButton* optimizeButton = nullptr;
    QPushButton* previewButton = nullptr;
    QPushButton* cancelButton = nullptr;
    QPushButton* saveLogButton = nullptr;
    QPushButton* clearLogButton = nullptr;
    QAction* openAction = nullptr;
    QAction* rescanAction = nullptr;
    QAction* optimizeAction = nullptr;
    QAction* previewAction = nullptr;
    QAction* cancelAction = nullptr;
    QAction* undoAction = nullptr;
    QAction* quitAction = nullptr;
    QAction* saveLogAction = nullptr;
    QAction* clearLogAction = nullptr;
    QAction* aboutAction = nullptr;
    // The Select menu: which groups a run takes.
    QAction* chooseAllAction = nullptr;
    QAction* chooseNoneAction = nullptr;
    QAction* invertChoiceAction = nullptr;
    QAction* leastSavingAction = nullptr;
    // On the selected copies: the copies table's context menu.
    QAction* openCopyAction = nullptr;
    QAction* openCopyFolderAction = nullptr;
    QAction* copyPathAction = nullptr;
    // On the current copy, also in the Select menu: it keeps the bytes where it is.
    QAction* keepCopyAction = nullptr;
    QLabel* siteLabel = nullptr;
    QLabel* summaryLabel = nullptr;
    QTableView* imagesTable = nullptr;
    QTableView* pagesTable = nullptr;
    QLabel* copyDetails = nullptr; // the full fate and reasons of the current copy
    ImagePreview* preview = nullptr;
    QLabel* previewCaption = nullptr;
    LogView* logView = nullptr;
    QProgressBar* progressIndicator = nullptr;
    QLabel* statusLabel = nullptr;
    QSplitter* contentSplitter = nullptr;
    QSplitter* copiesSplitter = nullptr;
    QSplitter* logSplitter = nullptr;

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
