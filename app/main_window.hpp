#pragma once

#include <QLabel>
#include <QMainWindow>
#include <QPixmap>

class QAction;
class QMimeData;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTableView;

namespace tolvane {

// Shows one picture scaled to fit, never larger than four times its size, crisp when enlarged.
class ImagePreview : public QLabel {
    Q_OBJECT

  public:
    explicit ImagePreview(QWidget* parent = nullptr);
    // Shows the picture, or placeholder when the picture is null.
    void showPicture(const QPixmap& picture, const QString& placeholder);
    const QPixmap& picture() const { return picture_; }

  protected:
    void resizeEvent(QResizeEvent* event) override;

  private:
    void rescale();
    QPixmap picture_;
};

// The main window and its controls. It knows nothing of websites: the controller connects the
// controls and decides what they do. A folder dropped on it is handed on as folderDropped.
class MainWindow : public QMainWindow {
    Q_OBJECT

  public:
    explicit MainWindow(QWidget* parent = nullptr);

    QPushButton* openWebsiteButton = nullptr;
    QPushButton* optimizeButton = nullptr;
    QAction* openAction = nullptr;
    QAction* optimizeAction = nullptr;
    QAction* undoAction = nullptr;
    QAction* quitAction = nullptr;
    QLabel* siteLabel = nullptr;
    QLabel* summaryLabel = nullptr;
    QTableView* imagesTable = nullptr;
    QTableView* pagesTable = nullptr;
    ImagePreview* preview = nullptr;
    QLabel* previewCaption = nullptr;
    QPlainTextEdit* logView = nullptr;
    QProgressBar* progressIndicator = nullptr;
    QLabel* statusLabel = nullptr;

    // Whether a dropped folder would be taken now.
    void setAcceptsFolders(bool accepts) { acceptsFolders_ = accepts; }
    // Whether the window may close now (not while a run changes the site).
    void setClosable(bool closable) { closable_ = closable; }

  signals:
    void folderDropped(const QString& folder);
    void closeRefused();

  protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    QString droppedFolder(const QMimeData* mime) const;
    bool acceptsFolders_ = true;
    bool closable_ = true;
};

} // namespace tolvane
