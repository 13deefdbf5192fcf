#include "app/main_window.hpp"

#include <QAction>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeySequence>
#include <QMenuBar>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSplitter>
#include <QTableView>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>

namespace tolvane {

ImagePreview::ImagePreview(QWidget* parent) : QLabel(parent) {
    setAlignment(Qt::AlignCenter);
    setMinimumSize(160, 120);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    setFrameShape(QFrame::StyledPanel);
    setBackgroundRole(QPalette::Base);
    setAutoFillBackground(true);
}

void ImagePreview::showPicture(const QPixmap& picture, const QString& placeholder) {
    picture_ = picture;
    if (picture_.isNull()) {
        clear();
        setText(placeholder);
        return;
    }
    rescale();
}

void ImagePreview::resizeEvent(QResizeEvent* event) {
    QLabel::resizeEvent(event);
    if (!picture_.isNull())
        rescale();
}

void ImagePreview::rescale() {
    const QSize room = contentsRect().size() - QSize(16, 16);
    const QSize limit = picture_.size() * 4;
    const QSize target = picture_.size().scaled(room.boundedTo(limit), Qt::KeepAspectRatio);
    if (target.isEmpty())
        return;
    // Small pictures are enlarged pixel by pixel so their details stay visible.
    const bool enlarging = target.width() > picture_.width();
    setPixmap(picture_.scaled(target, Qt::KeepAspectRatio,
                              enlarging ? Qt::FastTransformation : Qt::SmoothTransformation));
}

namespace {

QTableView* makeTable(QWidget* parent, const QString& name) {
    auto* table = new QTableView(parent);
    table->setObjectName(name);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::SingleSelection);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setAlternatingRowColors(true);
    table->setWordWrap(false);
    table->setTextElideMode(Qt::ElideMiddle);
    table->verticalHeader()->setVisible(false);
    table->verticalHeader()->setDefaultSectionSize(table->fontMetrics().height() + 8);
    table->horizontalHeader()->setHighlightSections(false);
    table->horizontalHeader()->setStretchLastSection(false);
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

QWidget* titled(const QString& title, QWidget* content, QWidget* parent) {
    auto* box = new QWidget(parent);
    auto* layout = new QVBoxLayout(box);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    layout->addWidget(makeHeading(title, content, box));
    content->setParent(box);
    layout->addWidget(content, 1);
    return box;
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

    // Top row: the two actions and the site on display.
    auto* top = new QHBoxLayout;
    openWebsiteButton = new QPushButton(tr("Open Website..."), central);
    openWebsiteButton->setObjectName("openWebsiteButton");
    optimizeButton = new QPushButton(tr("Optimize..."), central);
    optimizeButton->setObjectName("optimizeButton");
    optimizeButton->setEnabled(false);
    siteLabel = new QLabel(central);
    siteLabel->setObjectName("siteLabel");
    siteLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    siteLabel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    top->addWidget(openWebsiteButton);
    top->addWidget(optimizeButton);
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
    preview = new ImagePreview(central);
    preview->setObjectName("preview");
    previewCaption = new QLabel(central);
    previewCaption->setObjectName("previewCaption");
    previewCaption->setAlignment(Qt::AlignHCenter);
    previewCaption->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto* previewBox = new QWidget(central);
    auto* previewLayout = new QVBoxLayout(previewBox);
    previewLayout->setContentsMargins(0, 0, 0, 0);
    previewLayout->setSpacing(4);
    previewLayout->addWidget(makeHeading(tr("Preview"), preview, previewBox));
    previewLayout->addWidget(preview, 1);
    previewLayout->addWidget(previewCaption);

    auto* right = new QSplitter(Qt::Vertical, central);
    right->addWidget(titled(tr("Copies of the selected image"), pagesTable, right));
    right->addWidget(previewBox);
    right->setStretchFactor(0, 1);
    right->setStretchFactor(1, 1);
    right->setChildrenCollapsible(false);

    auto* content = new QSplitter(Qt::Horizontal, central);
    content->addWidget(titled(tr("Duplicate images"), imagesTable, content));
    content->addWidget(right);
    content->setStretchFactor(0, 5);
    content->setStretchFactor(1, 6);
    content->setChildrenCollapsible(false);

    logView = new QPlainTextEdit(central);
    logView->setObjectName("logView");
    logView->setReadOnly(true);
    logView->setLineWrapMode(QPlainTextEdit::NoWrap);
    logView->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    logView->setPlaceholderText(tr("The actions of an optimization are listed here."));

    auto* outer = new QSplitter(Qt::Vertical, central);
    outer->addWidget(content);
    outer->addWidget(titled(tr("Action log"), logView, outer));
    outer->setStretchFactor(0, 3);
    outer->setStretchFactor(1, 1);
    outer->setChildrenCollapsible(false);
    layout->addWidget(outer, 1);

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
    bottom->addWidget(progressIndicator, 2);
    layout->addLayout(bottom);

    setCentralWidget(central);

    QMenu* file = menuBar()->addMenu(tr("&File"));
    openAction = file->addAction(tr("&Open Website..."));
    openAction->setObjectName("openAction");
    openAction->setShortcut(QKeySequence::Open);
    optimizeAction = file->addAction(tr("O&ptimize..."));
    optimizeAction->setObjectName("optimizeAction");
    optimizeAction->setEnabled(false);
    undoAction = file->addAction(tr("&Undo Last Optimization"));
    undoAction->setObjectName("undoAction");
    undoAction->setEnabled(false);
    file->addSeparator();
    quitAction = file->addAction(tr("&Quit"));
    quitAction->setObjectName("quitAction");
    quitAction->setShortcut(QKeySequence::Quit);
    quitAction->setMenuRole(QAction::QuitRole);

    resize(1120, 740);
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

} // namespace tolvane

namespace tolvane {

void MainWindow::closeEvent(QCloseEvent* event) {
    if (closable_) {
        QMainWindow::closeEvent(event);
        return;
    }
    event->ignore();
    emit closeRefused();
}

} // namespace tolvane
