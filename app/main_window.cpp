#include "app/main_window.hpp"

#include "app/image_preview.hpp"
#include "app/log_view.hpp"

#include <QAction>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeySequence>
#include <QLabel>
#include <QMenuBar>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QSplitter>
#include <QTableView>
#include <QUrl>
#include <QVBoxLayout>

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

QTableView* makeTable(QWidget* parent, const QString& name) {
    auto* table = new QTableView(parent);
    table->setObjectName(name);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::SingleSelection);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setAlternatingRowColors(true);
    table->setWordWrap(false);
    table->setTextElideMode(Qt::ElideMiddle);
    // Tab moves on to the next control; the arrow keys move within the table.
    table->setTabKeyNavigation(false);
    table->setSortingEnabled(false); // the controller turns it on with its models
    table->verticalHeader()->setVisible(false);
    table->verticalHeader()->setDefaultSectionSize(table->fontMetrics().height() + 8);
    table->horizontalHeader()->setHighlightSections(false);
    table->horizontalHeader()->setStretchLastSection(false);
    table->horizontalHeader()->setSortIndicatorShown(true);
    return table;
}

QLabel* makeHeading(const QString& text, QWidget* buddy, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    QFont font = label->font();
    font.setBold(true);
    label->setFont(font);
    label->setBuddy(buddy);
    return label;
}

QWidget* titled(QLabel* heading, QWidget* content, QWidget* parent, QWidget* below = nullptr) {
    auto* box = new QWidget(parent);
    auto* layout = new QVBoxLayout(box);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    heading->setParent(box);
    layout->addWidget(heading);
    content->setParent(box);
    layout->addWidget(content, 1);
    if (below) {
        below->setParent(box);
        layout->addWidget(below);
    }
    return box;
}

QPushButton* makeButton(const QString& text, const char* name, QWidget* parent) {
    auto* button = new QPushButton(text, parent);
    button->setObjectName(QString::fromLatin1(name));
    return button;
}

QAction* makeAction(QMenu* menu, const QString& text, const char* name,
                    const QKeySequence& shortcut = {}) {
    QAction* action = menu->addAction(text);
    action->setObjectName(QString::fromLatin1(name));
    action->setShortcut(shortcut);
    return action;
}

} // namespace

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent) {
    setObjectName("window");
    setWindowTitle(tr("Tolvane"));
    setAcceptDrops(true);

    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(10, 8, 10, 8);
    layout->setSpacing(8);

    // Top row: the actions and the site on display.
    auto* top = new QHBoxLayout;
    openWebsiteButton = makeButton(tr("&Open Website..."), "openWebsiteButton", central);
    optimizeButton = makeButton(tr("O&ptimize..."), "optimizeButton", central);
    optimizeButton->setEnabled(false);
    previewButton = makeButton(tr("Pre&view Changes..."), "previewButton", central);
    previewButton->setEnabled(false);
    cancelButton = makeButton(tr("&Cancel"), "cancelButton", central);
    cancelButton->setEnabled(false);
    cancelButton->setToolTip(tr("Stops the scan or the optimization (Esc)"));
    siteLabel = new QLabel(central);
    siteLabel->setObjectName("siteLabel");
    siteLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    siteLabel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    for (QPushButton* button : {openWebsiteButton, optimizeButton, previewButton, cancelButton})
        top->addWidget(button);
    top->addSpacing(12);
    top->addWidget(siteLabel, 1);
    layout->addLayout(top);

    summaryLabel = new QLabel(tr("Open the root folder of an exported website to find its "
                                 "duplicate images."),
                              central);
    summaryLabel->setObjectName("summaryLabel");
    summaryLabel->setWordWrap(true);
    layout->addWidget(summaryLabel);

    // Images on the left; the copies of the selected one and its preview on the right.
    imagesTable = makeTable(central, "imagesTable");
    pagesTable = makeTable(central, "pagesTable");
    pagesTable->setSelectionMode(QAbstractItemView::ExtendedSelection);
    pagesTable->setContextMenuPolicy(Qt::ActionsContextMenu);
    copyDetails = new QLabel(central);
    copyDetails->setObjectName("copyDetails");
    copyDetails->setWordWrap(true);
    copyDetails->setTextInteractionFlags(Qt::TextSelectableByMouse);
    copyDetails->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    preview = new ImagePreview(central);
    preview->setObjectName("preview");
    previewCaption = new QLabel(central);
    previewCaption->setObjectName("previewCaption");
    previewCaption->setAlignment(Qt::AlignHCenter);
    previewCaption->setWordWrap(true);
    previewCaption->setTextInteractionFlags(Qt::TextSelectableByMouse);
    previewCaption->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);

    copiesSplitter = new QSplitter(Qt::Vertical, central);
    copiesSplitter->setObjectName("copiesSplitter");
    copiesSplitter->addWidget(
        titled(makeHeading(tr("Cop&ies of the selected image"), pagesTable, central), pagesTable,
               copiesSplitter, copyDetails));
    copiesSplitter->addWidget(titled(makeHeading(tr("Preview"), preview, central), preview,
                                     copiesSplitter, previewCaption));
    copiesSplitter->setStretchFactor(0, 1);
    copiesSplitter->setStretchFactor(1, 1);
    copiesSplitter->setChildrenCollapsible(false);

    contentSplitter = new QSplitter(Qt::Horizontal, central);
    contentSplitter->setObjectName("contentSplitter");
    contentSplitter->addWidget(titled(makeHeading(tr("&Duplicate images"), imagesTable, central),
                                      imagesTable, contentSplitter));
    contentSplitter->addWidget(copiesSplitter);
    contentSplitter->setStretchFactor(0, 3);
    contentSplitter->setStretchFactor(1, 2);
    contentSplitter->setChildrenCollapsible(false);

    logView = new LogView(central);
    logView->setObjectName("logView");
    logView->setPlaceholderText(tr("The actions of each scan and optimization are listed here."));
    saveLogButton = makeButton(tr("&Save Log..."), "saveLogButton", central);
    clearLogButton = makeButton(tr("Clea&r Log"), "clearLogButton", central);
    auto* logBox = new QWidget(central);
    auto* logLayout = new QVBoxLayout(logBox);
    logLayout->setContentsMargins(0, 0, 0, 0);
    logLayout->setSpacing(4);
    auto* logHeader = new QHBoxLayout;
    logHeader->addWidget(makeHeading(tr("Action lo&g"), logView, logBox));
    logHeader->addStretch(1);
    logHeader->addWidget(saveLogButton);
    logHeader->addWidget(clearLogButton);
    logLayout->addLayout(logHeader);
    logView->setParent(logBox);
    logLayout->addWidget(logView, 1);

    logSplitter = new QSplitter(Qt::Vertical, central);
    logSplitter->setObjectName("logSplitter");
    logSplitter->addWidget(contentSplitter);
    logSplitter->addWidget(logBox);
    logSplitter->setStretchFactor(0, 3);
    logSplitter->setStretchFactor(1, 1);
    logSplitter->setChildrenCollapsible(false);
    layout->addWidget(logSplitter, 1);

    // Bottom row: what the program is doing, and how far it got.
    auto* bottom = new QHBoxLayout;
    statusLabel = new QLabel(central);
    statusLabel->setObjectName("statusLabel");
    statusLabel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    progressIndicator = new QProgressBar(central);
    progressIndicator->setObjectName("progressIndicator");
    progressIndicator->setRange(0, 1);
    progressIndicator->setValue(0);
    progressIndicator->setTextVisible(false);
    bottom->addWidget(statusLabel, 1);
    bottom->addWidget(progressIndicator, 1);
    layout->addLayout(bottom);

    setCentralWidget(central);

    QMenu* file = menuBar()->addMenu(tr("&File"));
    openAction = makeAction(file, tr("&Open Website..."), "openAction", QKeySequence::Open);
    rescanAction = makeAction(file, tr("&Scan Again"), "rescanAction", Qt::Key_F5);
    rescanAction->setEnabled(false);
    file->addSeparator();
    optimizeAction = makeAction(file, tr("O&ptimize..."), "optimizeAction");
    optimizeAction->setEnabled(false);
    previewAction = makeAction(file, tr("Pre&view Changes..."), "previewAction");
    previewAction->setEnabled(false);
    cancelAction = makeAction(file, tr("&Cancel"), "cancelAction", Qt::Key_Escape);
    cancelAction->setEnabled(false);
    undoAction = makeAction(file, tr("&Undo Last Optimization"), "undoAction");
    undoAction->setEnabled(false);
    file->addSeparator();
    quitAction = makeAction(file, tr("&Quit"), "quitAction", QKeySequence::Quit);
    quitAction->setMenuRole(QAction::QuitRole);

    QMenu* select = menuBar()->addMenu(tr("S&elect"));
    chooseAllAction = makeAction(select, tr("&All"), "chooseAllAction");
    chooseNoneAction = makeAction(select, tr("&None"), "chooseNoneAction");
    invertChoiceAction = makeAction(select, tr("&Invert"), "invertChoiceAction");
    leastSavingAction =
        makeAction(select, tr("&Only Groups That Save More Than..."), "leastSavingAction");
    select->addSeparator();
    keepCopyAction = makeAction(select, tr("&Keep This Copy"), "keepCopyAction");
    keepCopyAction->setCheckable(true);

    QMenu* log = menuBar()->addMenu(tr("&Log"));
    saveLogAction = makeAction(log, tr("&Save Log..."), "saveLogAction", QKeySequence::Save);
    clearLogAction = makeAction(log, tr("&Clear Log"), "clearLogAction");

    QMenu* help = menuBar()->addMenu(tr("&Help"));
    aboutAction = makeAction(help, tr("&About Tolvane"), "aboutAction");
    aboutAction->setMenuRole(QAction::AboutRole);

    openCopyAction = new QAction(tr("&Open"), pagesTable);
    openCopyAction->setObjectName("openCopyAction");
    openCopyFolderAction = new QAction(tr("Open Containing &Folder"), pagesTable);
    openCopyFolderAction->setObjectName("openCopyFolderAction");
    copyPathAction = new QAction(tr("&Copy Path"), pagesTable);
    copyPathAction->setObjectName("copyPathAction");
    copyPathAction->setShortcut(QKeySequence::Copy);
    copyPathAction->setShortcutContext(Qt::WidgetShortcut);
    pagesTable->addActions({openCopyAction, openCopyFolderAction, copyPathAction, keepCopyAction});

    // Tab walks the controls in reading order: the buttons, both tables, the preview, the log.
    QWidget* order[] = {openWebsiteButton, optimizeButton, previewButton, cancelButton,
                        imagesTable,       pagesTable,     preview,       logView,
                        saveLogButton,     clearLogButton};
    for (std::size_t i = 1; i < std::size(order); ++i)
        setTabOrder(order[i - 1], order[i]);

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
