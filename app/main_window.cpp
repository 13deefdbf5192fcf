#include "app/main_window.hpp"

#include "app/image_preview.hpp"
#include "app/log_view.hpp"

#include <QAction>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QHeaderView>
#include <QKeySequence>
#include <QLabel>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QSplitter>
#include <QTableView>
#include <QUrl>

#include <algorithm>

namespace tolvane {

std::unique_ptr<QSettings> openSettings() {
    return std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope,
                                       QStringLiteral("tolvane"), QStringLiteral("tolvane"));
}

namespace {

const QSize preferredSize(1120, 740);
const QSize smallestSize(720, 480);
// Below this width the groups table takes the whole width of the window.
constexpr int narrowWidth = 1000;

// Rows as tall as their text with a little room; the layout leaves the rest to the tables.
void fitRows(QTableView* table) {
    table->verticalHeader()->setDefaultSectionSize(table->fontMetrics().height() + 8);
}

} // namespace

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent) {
    setupUi(this);
    fitRows(imagesTable);
    fitRows(pagesTable);
    // Side by side the groups get the larger share; the copies and the preview half each.
    contentSplitter->setStretchFactor(0, 3);
    contentSplitter->setStretchFactor(1, 2);
    copiesSplitter->setStretchFactor(0, 1);
    copiesSplitter->setStretchFactor(1, 1);
    logSplitter->setStretchFactor(0, 3);
    logSplitter->setStretchFactor(1, 1);
    // The platform's own keys for these.
    openAction->setShortcut(QKeySequence::Open);
    quitAction->setShortcut(QKeySequence::Quit);
    saveLogAction->setShortcut(QKeySequence::Save);
    copyPathAction->setShortcut(QKeySequence::Copy);
    copyPathAction->setShortcutContext(Qt::WidgetShortcut);
    // The copies' context menu, and its shortcut while the copies table has the focus.
    pagesTable->addActions({openCopyAction, openCopyFolderAction, copyPathAction, keepCopyAction});
    restoreLayout();
}

void MainWindow::restoreLayout() {
    const auto settings = openSettings();
    const QByteArray geometry = settings->value("window/geometry").toByteArray();
    if (geometry.isEmpty() || !restoreGeometry(geometry))
        resize(preferredSize);
    fitToScreen();
    splittersRestored_ = false; // once the window is laid out at its size
}

void MainWindow::restoreSplitters() {
    splittersRestored_ = true;
    // The panes arranged for the width first: a state restored across a change of
    // orientation loses its sizes.
    arrangeForWidth(width());
    const auto settings = openSettings();
    // The inner splitters first: their orientation sets what the outer ones' panes need.
    copiesSplitter->restoreState(settings->value("window/copiesSplitter").toByteArray());
    logSplitter->restoreState(settings->value("window/logSplitter").toByteArray());
    if (!contentSplitter->restoreState(settings->value("window/contentSplitter").toByteArray()))
        contentSplitter->setSizes({width() * 2 / 3, width() / 3}); // the groups' columns first
    arrangeForWidth(width());                                      // a state saved at another width
}

void MainWindow::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    // Now that the layouts have given every pane its size.
    if (!splittersRestored_)
        restoreSplitters();
}

void MainWindow::saveLayout() const {
    const auto settings = openSettings();
    settings->setValue("window/geometry", saveGeometry());
    settings->setValue("window/contentSplitter", contentSplitter->saveState());
    settings->setValue("window/copiesSplitter", copiesSplitter->saveState());
    settings->setValue("window/logSplitter", logSplitter->saveState());
}

void MainWindow::fitToScreen() {
    const QScreen* where = screen();
    if (!where)
        return;
    const QRect available = where->availableGeometry();
    // Room for the window manager's frame: the frame is not known before the window is shown.
    const QSize room = (available.size() - QSize(16, 48)).expandedTo(QSize(200, 150));
    setMinimumSize(smallestSize.boundedTo(room));
    resize(size().boundedTo(room));
    QRect frame = frameGeometry();
    if (!available.contains(frame)) {
        frame.moveLeft(std::clamp(frame.left(), available.left(),
                                  std::max(available.left(), available.right() - frame.width())));
        frame.moveTop(std::clamp(frame.top(), available.top(),
                                 std::max(available.top(), available.bottom() - frame.height())));
        move(frame.topLeft());
    }
}

QString MainWindow::droppedFolder(const QMimeData* mime) const {
    if (!acceptsFolders_ || !mime->hasUrls() || mime->urls().size() != 1)
        return {};
    const QUrl url = mime->urls().constFirst();
    if (!url.isLocalFile() || !QFileInfo(url.toLocalFile()).isDir())
        return {};
    return url.toLocalFile();
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
    if (!droppedFolder(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* event) {
    const QString folder = droppedFolder(event->mimeData());
    if (folder.isEmpty())
        return;
    event->acceptProposedAction();
    emit folderDropped(folder);
}

void MainWindow::arrangeForWidth(int width) {
    const Qt::Orientation content = width < narrowWidth ? Qt::Vertical : Qt::Horizontal;
    if (contentSplitter->orientation() == content)
        return;
    contentSplitter->setOrientation(content);
    copiesSplitter->setOrientation(content == Qt::Vertical ? Qt::Horizontal : Qt::Vertical);
    // Side by side the groups get the larger share; one above the other, half each, so the
    // copies table shows as many rows as the groups table.
    const int along =
        content == Qt::Vertical ? contentSplitter->height() : contentSplitter->width();
    const int groups = content == Qt::Vertical ? along / 2 : along * 3 / 5;
    contentSplitter->setSizes({groups, along - groups});
    const int across = content == Qt::Vertical ? copiesSplitter->width() : copiesSplitter->height();
    copiesSplitter->setSizes({across / 2, across - across / 2});
}

void MainWindow::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    if (splittersRestored_)
        arrangeForWidth(width());
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (!closable_) {
        event->ignore();
        emit closeRequested();
        return;
    }
    saveLayout();
    QMainWindow::closeEvent(event);
}

} // namespace tolvane
