#include "app/tolvane_app_delegate.hpp"

#include "app/event_text.hpp"
#include "app/image_preview.hpp"
#include "app/log_view.hpp"
#include "app/main_window.hpp"
#include "app/path_text.hpp"
#include "app/plan_text.hpp"
#include "app/preview_dialog.hpp"
#include "app/run_channel.hpp"
#include "run/page_rewrite.hpp"
#include "run/run.hpp"
#include "run/site_lock.hpp"
#include "run/undo.hpp"
#include "table/natural_sort_proxy.hpp"
#include "table/url_table_view_data_source.hpp"
#include "util/log_line.hpp"

#include <QAbstractButton>
#include <QAction>
#include <QClipboard>
#include <QCoreApplication>
#include <QDateTime>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFont>
#include <QFontDatabase>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHeaderView>
#include <QInputDialog>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLocale>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QSortFilterProxyModel>
#include <QTableView>
#include <QThread>
#include <QUrl>

#include <algorithm>
#include <cstdio>
#include <exception>
#include <limits>
#include <set>

#ifndef TOLVANE_VERSION
#define TOLVANE_VERSION "0"
#endif
#ifndef TOLVANE_LICENSE
#define TOLVANE_LICENSE "LicenseRef-proprietary"
#endif

namespace tolvane {

// A scan off the window's thread: the walk, the comparison, then the references.
struct TolvaneAppDelegate::ScanJob {
    Progress progress;
};

namespace {

constexpr int yesCode = 1000;
constexpr int noCode = 1001;

// The columns of the groups table.
enum ImagesColumn {
    nameColumn,
    digestColumn,
    copiesColumn,
    referencesColumn,
    sizeColumn,
    savingColumn,
    keptColumn
};
// Enough of the digest to tell apart the groups a site holds under one name.
constexpr qsizetype shortDigest = 8;

QVariantList urlsOf(const std::vector<std::filesystem::path>& paths) {
    QVariantList urls;
    urls.reserve(static_cast<qsizetype>(paths.size()));
    for (const auto& path : paths)
        urls.append(QUrl::fromLocalFile(toQString(path)));
    return urls;
}

QString fromUtf8(const std::string& text) {
    return QString::fromStdString(text);
}

std::optional<ErrorText> errorText(const std::optional<FileError>& error) {
    if (!error)
        return std::nullopt;
    return ErrorText{EventText::describe(*error), EventText::explain(*error)};
}

QString nowText() {
    return QLocale().toString(QDateTime::currentDateTime(), QLocale::ShortFormat);
}

// Turns the calls of a run into the channel's signals.
class ChannelReporter : public RunReporter {
  public:
    explicit ChannelReporter(RunChannel& channel) : channel_(channel) {}
    void report(const Event& event) override {
        if (event.kind == EventKind::completed) {
            emit channel_.runCompleted();
        } else if (isFailure(event.kind)) {
            emit channel_.errorSheet(EventText::failureMessage(event), errorText(event.failure));
        } else {
            for (const QString& line : EventText::logLines(event))
                emit channel_.logLine(line);
        }
    }
    void log(const QString& line) { emit channel_.logLine(line); }
    void failed(const QString& message, const FileError& error) {
        emit channel_.errorSheet(message, errorText(error));
    }

  private:
    RunChannel& channel_;
};

// Calls of a page rewrite made on the window's thread go straight to the controller.
class DirectReporter : public RunReporter {
  public:
    explicit DirectReporter(TolvaneAppDelegate& controller) : controller_(controller) {}
    void report(const Event& event) override {
        if (isFailure(event.kind)) {
            controller_.popupErrorMessage(EventText::failureMessage(event),
                                          errorText(event.failure));
        } else {
            for (const QString& line : EventText::logLines(event))
                controller_.log(line);
        }
    }

  private:
    TolvaneAppDelegate& controller_;
};

// A warning alert attached to the window, deleted when closed. The spacer keeps the texts
// from wrapping into a narrow column.
QMessageBox* makeSheet(QWidget* window, const QString& text, const QString& informativeText) {
    auto* alert = new QMessageBox(QMessageBox::Warning, QStringLiteral("Tolvane"), text,
                                  QMessageBox::NoButton, window);
    alert->setAttribute(Qt::WA_DeleteOnClose);
    alert->setWindowModality(Qt::WindowModal);
    alert->setInformativeText(informativeText);
    if (auto* label = alert->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"))) {
        QFont font = label->font();
        font.setBold(true);
        label->setFont(font);
    }
    if (auto* grid = qobject_cast<QGridLayout*>(alert->layout()))
        grid->addItem(new QSpacerItem(480, 0, QSizePolicy::Minimum, QSizePolicy::Fixed),
                      grid->rowCount(), 0, 1, grid->columnCount());
    return alert;
}

// A question with two answers; Escape and the default are the safe one.
QMessageBox* makeQuestion(QWidget* window, const QString& text, const QString& informativeText,
                          const QString& yes, const QString& no, QPushButton** yesButton) {
    QMessageBox* alert = makeSheet(window, text, informativeText);
    *yesButton = alert->addButton(yes, QMessageBox::AcceptRole);
    QPushButton* noButton = alert->addButton(no, QMessageBox::RejectRole);
    alert->setDefaultButton(noButton);
    alert->setEscapeButton(noButton);
    return alert;
}

QString counted(std::size_t n, const QString& one, const QString& many) {
    return n == 1 ? one : many.arg(n);
}

// "0:07", "12:30", "1:02:03".
QString durationText(qint64 milliseconds) {
    const qint64 seconds = milliseconds / 1000;
    const qint64 hours = seconds / 3600;
    const qint64 minutes = seconds / 60 % 60;
    const QString secondsText = QStringLiteral("%1").arg(seconds % 60, 2, 10, QLatin1Char('0'));
    if (hours == 0)
        return QStringLiteral("%1:%2").arg(minutes).arg(secondsText);
    return QStringLiteral("%1:%2:%3")
        .arg(hours)
        .arg(minutes, 2, 10, QLatin1Char('0'))
        .arg(secondsText);
}

// The package's licence as a person names it; an SPDX identifier of its own is not a name.
QString licenceName(const QString& spdx) {
    if (spdx.compare(QLatin1String("LicenseRef-proprietary"), Qt::CaseInsensitive) == 0)
        return TolvaneAppDelegate::tr("Proprietary");
    return spdx;
}

// "100 KB", "2.5 MB", "300": a size in bytes, the units counted in 1024s as the window shows them.
std::optional<std::uint64_t> bytesOf(const QString& text) {
    static const QRegularExpression form(QStringLiteral("^\\s*([0-9.,]+)\\s*([KMG]?)B?\\s*$"),
                                         QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = form.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    bool ok = false;
    double number = QLocale().toDouble(match.captured(1), &ok);
    if (!ok)
        number = QLocale::c().toDouble(match.captured(1), &ok);
    if (!ok || number < 0)
        return std::nullopt;
    const QString unit = match.captured(2).toUpper();
    const int power = unit == "K" ? 1 : unit == "M" ? 2 : unit == "G" ? 3 : 0;
    for (int i = 0; i < power; ++i)
        number *= 1024;
    if (number >= 1.8e19) // beyond what 64 bits hold: more than any site saves
        return std::numeric_limits<std::uint64_t>::max();
    return static_cast<std::uint64_t>(number);
}

} // namespace

ScanDisplay withReferences(ScanResult scan, Progress* progress) {
    ScanDisplay shown;
    if (!scan.duplicates.empty()) {
        auto index = std::make_shared<const ReferenceIndex>(
            ReferenceIndex::build(scan.root, everyCopy(scan.duplicates), nullptr, progress));
        if (index->cancelled()) {
            // Half an index plans nothing: the result is a cancelled scan's.
            scan.duplicates.clear();
            scan.cancelled = true;
            shown.scan = std::move(scan);
            return shown;
        }
        DiskTextFileAccess disk;
        WritabilityOnce access(disk);
        RealFileManager files;
        SitePlan plan = planSite(scan.root, scan.duplicates, *index, access, files);
        shown.groups = std::move(plan.groups);
        shown.filesRewritten = plan.files.size();
        for (const FileChanges& file : plan.files)
            shown.rewrittenFiles.push_back(file.file);
        shown.index = std::move(index);
    }
    shown.scan = std::move(scan);
    return shown;
}

TolvaneAppDelegate::TolvaneAppDelegate(QObject* parent) : QObject(parent) {
    qRegisterMetaType<std::optional<ErrorText>>();
    qRegisterMetaType<std::shared_ptr<const ScanDisplay>>();
    qRegisterMetaType<RunSummary>();
    makeFileManager_ = [] { return std::make_unique<RealFileManager>(); };

    window_ = new MainWindow;
    window_->setAttribute(Qt::WA_DeleteOnClose, false);
    imagesTable_ = window_->imagesTable;
    pagesTable_ = window_->pagesTable;
    openWebsiteButton_ = window_->openWebsiteButton;
    optimizeButton_ = window_->optimizeButton;
    progressIndicator_ = window_->progressIndicator;

    // Both tables sort through a proxy, by the numbers behind counts and sizes and names in
    // reading order: the groups by what they save, most first, the copies by path. The order
    // the user picks stays for every later result.
    const auto sorter = [this](QTableView* table, int column, Qt::SortOrder order) {
        auto* proxy = new NaturalSortProxy(this);
        table->setModel(proxy);
        table->setSortingEnabled(true);
        table->horizontalHeader()->setSortIndicator(column, order);
        return proxy;
    };
    imagesSorter_ = sorter(imagesTable_, savingColumn, Qt::DescendingOrder);
    // A group whose saving changes with a choice stays where it is under the pointer; each new
    // result is sorted once it is in.
    imagesSorter_->setDynamicSortFilter(false);
    pagesSorter_ = sorter(pagesTable_, 0, Qt::AscendingOrder);
    connect(imagesTable_->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        if (!displaying_)
            selectImage();
    });
    connect(pagesTable_->selectionModel(), &QItemSelectionModel::currentChanged, this, [this] {
        showCopy();
        updateControls();
    });
    connect(pagesTable_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &TolvaneAppDelegate::updateControls);
    // A double-click opens the copy, as the context menu's Open does.
    connect(pagesTable_, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex& index) {
        const int row = pagesSorter_->mapToSource(index).row();
        if (pagesGroup_ >= 0 && duplicates_ && row >= 0 &&
            row < static_cast<int>((*duplicates_)[pagesGroup_].copies.size()))
            QDesktopServices::openUrl(
                QUrl::fromLocalFile(toQString((*duplicates_)[pagesGroup_].copies[row])));
    });

    MainWindow* w = window_;
    connect(openWebsiteButton_, &QPushButton::clicked, this, &TolvaneAppDelegate::openWebsite);
    connect(w->openAction, &QAction::triggered, this, &TolvaneAppDelegate::openWebsite);
    connect(w->rescanAction, &QAction::triggered, this, &TolvaneAppDelegate::rescan);
    connect(optimizeButton_, &QPushButton::clicked, this, &TolvaneAppDelegate::saveWebsite);
    connect(w->optimizeAction, &QAction::triggered, this, &TolvaneAppDelegate::saveWebsite);
    connect(w->previewButton, &QPushButton::clicked, this, &TolvaneAppDelegate::previewChanges);
    connect(w->previewAction, &QAction::triggered, this, &TolvaneAppDelegate::previewChanges);
    connect(w->cancelButton, &QPushButton::clicked, this, &TolvaneAppDelegate::cancel);
    connect(w->cancelAction, &QAction::triggered, this, &TolvaneAppDelegate::cancel);
    connect(w->undoAction, &QAction::triggered, this, &TolvaneAppDelegate::undoLastOptimization);
    connect(w->quitAction, &QAction::triggered, w, &QWidget::close);
    connect(w->clearLogButton, &QPushButton::clicked, this, &TolvaneAppDelegate::clearLog);
    connect(w->clearLogAction, &QAction::triggered, this, &TolvaneAppDelegate::clearLog);
    const auto askSaveLog = [this] {
        const auto settings = openSettings();
        const QString start = settings->value("lastLogFolder", QDir::homePath()).toString();
        auto* dialog = new QFileDialog(window_, tr("Save Log"), start,
                                       tr("Text files (*.txt *.log);;All files (*)"));
        dialog->setObjectName("saveLogDialog");
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        dialog->setOption(QFileDialog::DontUseNativeDialog);
        dialog->setAcceptMode(QFileDialog::AcceptSave);
        dialog->setDefaultSuffix(QStringLiteral("txt"));
        dialog->selectFile(tr("tolvane-log.txt"));
        dialog->setWindowModality(Qt::WindowModal);
        connect(dialog, &QFileDialog::fileSelected, this, [this](const QString& path) {
            openSettings()->setValue("lastLogFolder", QFileInfo(path).absolutePath());
            saveLog(path);
        });
        dialog->open();
    };
    connect(w->saveLogButton, &QPushButton::clicked, this, askSaveLog);
    connect(w->saveLogAction, &QAction::triggered, this, askSaveLog);
    connect(w->aboutAction, &QAction::triggered, this, &TolvaneAppDelegate::showAbout);
    connect(w, &MainWindow::folderDropped, this, &TolvaneAppDelegate::openFolder);
    connect(w, &MainWindow::closeRequested, this, &TolvaneAppDelegate::askToClose);

    connect(w->openCopyAction, &QAction::triggered, this, [this] {
        for (const QString& path : pathsOfSelectedCopies())
            QDesktopServices::openUrl(QUrl::fromLocalFile(path));
    });
    connect(w->openCopyFolderAction, &QAction::triggered, this, [this] {
        QStringList folders;
        for (const QString& path : pathsOfSelectedCopies())
            if (const QString folder = QFileInfo(path).absolutePath(); !folders.contains(folder))
                folders << folder;
        for (const QString& folder : folders)
            QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
    });
    connect(w->copyPathAction, &QAction::triggered, this, [this] {
        const QStringList paths = pathsOfSelectedCopies();
        if (!paths.isEmpty())
            QGuiApplication::clipboard()->setText(paths.join(QLatin1Char('\n')));
    });

    connect(w->chooseAllAction, &QAction::triggered, this,
            [this] { chooseGroups([](std::size_t) { return true; }); });
    connect(w->chooseNoneAction, &QAction::triggered, this,
            [this] { chooseGroups([](std::size_t) { return false; }); });
    connect(w->invertChoiceAction, &QAction::triggered, this,
            [this] { chooseGroups([this](std::size_t g) { return !groupChosen(g); }); });
    connect(w->leastSavingAction, &QAction::triggered, this,
            &TolvaneAppDelegate::askForLeastSaving);
    connect(w->keepCopyAction, &QAction::triggered, this, &TolvaneAppDelegate::keepCurrentCopy);

    workTicker_.setInterval(1000);
    connect(&workTicker_, &QTimer::timeout, this, &TolvaneAppDelegate::showWorkTime);
    scanTicker_.setInterval(100);
    connect(&scanTicker_, &QTimer::timeout, this, &TolvaneAppDelegate::showScanProgress);
    showCopy();
    updateControls();
}

TolvaneAppDelegate::~TolvaneAppDelegate() {
    for (auto& [thread, job] : scanThreads_) {
        job->progress.cancel();
        thread->wait();
        delete thread;
    }
    if (runThread_) {
        runThread_->wait();
        delete runThread_;
    }
    delete window_;
}

void TolvaneAppDelegate::applicationDidFinishLaunching() {
    logOfActions_.clear();
    logOfActions_.reserve(10);
}

// ---- Scan and display ------------------------------------------------------------------------

int TolvaneAppDelegate::selectedRow() const {
    const QModelIndexList rows = imagesTable_->selectionModel()->selectedRows();
    if (rows.isEmpty())
        return -1;
    return imagesSorter_->mapToSource(rows.constFirst()).row();
}

const GroupPlan* TolvaneAppDelegate::planOf(int group) const {
    return group >= 0 && group < static_cast<int>(groupPlans_.size()) ? &groupPlans_[group]
                                                                      : nullptr;
}

void TolvaneAppDelegate::selectImage() {
    const int index = selectedRow();
    const DuplicateGroup* group =
        index >= 0 && duplicates_ && index < static_cast<int>(duplicates_->size())
            ? &(*duplicates_)[index]
            : nullptr;
    pagesGroup_ = group ? index : -1;
    if (pagesDataSource_)
        pagesDataSource_->removeAllRows();
    if (group) {
        const QVariantList copies = urlsOf(group->copies);
        if (pagesDataSource_) {
            pagesDataSource_->addAllRows(copies);
        } else {
            pagesDataSource_ = new NSURLTableViewDataSource(copies, pagesTable_, this);
            configurePagesTable();
            pagesSorter_->setSourceModel(pagesDataSource_);
            QHeaderView* header = pagesTable_->horizontalHeader();
            header->setSectionResizeMode(QHeaderView::Stretch);
        }
        // The first copy in the table's order is the current one: the preview always shows
        // the copy the table points at.
        pagesTable_->setCurrentIndex(pagesSorter_->index(0, 0));
    }
    showCopy();
    updateControls();
}

int TolvaneAppDelegate::currentCopy() const {
    const QModelIndex current = pagesTable_->selectionModel()->currentIndex();
    if (!current.isValid())
        return -1;
    return pagesSorter_->mapToSource(current).row();
}

std::vector<std::size_t> TolvaneAppDelegate::selectedCopies() const {
    std::vector<std::size_t> rows;
    for (const QModelIndex& index : pagesTable_->selectionModel()->selectedRows())
        rows.push_back(static_cast<std::size_t>(pagesSorter_->mapToSource(index).row()));
    std::sort(rows.begin(), rows.end());
    return rows;
}

QStringList TolvaneAppDelegate::pathsOfSelectedCopies() const {
    QStringList paths;
    if (pagesGroup_ < 0 || !duplicates_)
        return paths;
    const DuplicateGroup& group = (*duplicates_)[pagesGroup_];
    for (const std::size_t row : selectedCopies())
        if (row < group.copies.size())
            paths << toQString(group.copies[row]);
    return paths;
}

// The preview and the details line follow the current copy of the copies table.
void TolvaneAppDelegate::showCopy() {
    const int copy = currentCopy();
    const DuplicateGroup* group =
        pagesGroup_ >= 0 && duplicates_ ? &(*duplicates_)[pagesGroup_] : nullptr;
    if (!group || copy < 0 || copy >= static_cast<int>(group->copies.size())) {
        window_->preview->showText(tr("Select an image to see it here."));
        window_->previewCaption->clear();
        window_->copyDetails->clear();
        return;
    }
    const GroupPlan* plan = planOf(pagesGroup_);
    const auto index = static_cast<std::size_t>(copy);
    const QString path = toQString(group->copies[index]);
    QString details = relativeText(group->copies[index], shownRoot_) + QStringLiteral(": ") +
                      (groupChosen(pagesGroup_) ? PlanText::fate(*group, plan, index, shownRoot_)
                                                : tr("Stays: its image is left alone"));
    if (const QString reasons = PlanText::reasons(plan, index, shownRoot_); !reasons.isEmpty())
        details += QStringLiteral("\n") + reasons;
    window_->copyDetails->setText(details);

    const PreviewImage read = readPreviewImage(path);
    if (read.image.isNull())
        window_->preview->showText(tr("This image cannot be shown."));
    else
        window_->preview->showPicture(read.image);
    QString caption = toQString(group->name);
    if (read.fullSize.isValid())
        caption += tr(", %1 × %2 pixels").arg(read.fullSize.width()).arg(read.fullSize.height());
    caption += tr(", %1 each").arg(sizeText(group->size));
    window_->previewCaption->setText(caption);
}

void TolvaneAppDelegate::beginLogSection(const QString& heading) {
    window_->logView->beginSection(heading);
}

void TolvaneAppDelegate::showHeader(const std::filesystem::path& root) {
    window_->siteLabel->setText(toQString(root));
    window_->siteLabel->setToolTip(toQString(root));
    window_->setWindowTitle(root.empty() ? tr("Tolvane")
                                         : tr("%1 - Tolvane").arg(toQString(root.filename())));
}

void TolvaneAppDelegate::traverseWebsite(const std::filesystem::path& root) {
    if (isBusy())
        return;
    // The header names the site being scanned from the start; the tables keep the previous
    // result until the new one is complete.
    showHeader(root);
    window_->summaryLabel->setText(tr("Scanning %1...").arg(toQString(root.filename())));
    beginLogSection(tr("Scan of %1, %2").arg(toQString(root), nowText()));
    setBusy(Busy::Scanning, tr("Scanning %1...").arg(toQString(root)));

    // Threads of scans that ended are let go; a cancelled one may still be finishing.
    std::erase_if(scanThreads_, [](const auto& entry) {
        if (!entry.first->isFinished())
            return false;
        delete entry.first;
        return true;
    });
    auto job = std::make_shared<ScanJob>();
    scan_ = job;
    const std::uint64_t generation = ++scanGeneration_;
    QThread* thread = QThread::create([this, root, job, generation] {
        ScanResult scanned = scanWebsite(root, &job->progress);
        std::shared_ptr<const ScanDisplay> shown;
        if (scanned.cancelled || job->progress.cancelled()) {
            shown =
                std::make_shared<const ScanDisplay>(ScanDisplay{std::move(scanned), {}, 0, {}, {}});
        } else {
            shown = std::make_shared<const ScanDisplay>(
                withReferences(std::move(scanned), &job->progress));
        }
        QMetaObject::invokeMethod(
            this, [this, shown, generation] { scanFinished(shown, generation); },
            Qt::QueuedConnection);
    });
    scanThreads_.emplace_back(thread, job);
    thread->start();
    scanTicker_.start();
}

void TolvaneAppDelegate::scanFinished(const std::shared_ptr<const ScanDisplay>& shown,
                                      std::uint64_t generation) {
    if (generation != scanGeneration_ || busy_ != Busy::Scanning)
        return; // a cancelled scan: its result is not shown
    scanTicker_.stop();
    scan_.reset();
    setBusy(Busy::Idle, {});
    if (shown->scan.cancelled)
        return;
    showScanResult(shown, true);
}

void TolvaneAppDelegate::showScanProgress() {
    if (busy_ == Busy::Running || busy_ == Busy::Undoing) {
        showWorkProgress();
        return;
    }
    if (!scan_)
        return;
    QString text;
    const Progress::Snapshot now = scan_->progress.snapshot();
    const std::uint64_t done = std::min(now.done, now.total);
    if (now.phase == Phase::indexing) {
        // The number of text files is known once the walk is over; until then the bar is busy.
        if (now.total > 0) {
            progressIndicator_->setRange(0, 1000);
            progressIndicator_->setValue(static_cast<int>(done * 1000 / now.total));
            text = tr("Finding the references to the copies: %1 of %2 text files read")
                       .arg(done)
                       .arg(now.total);
        } else {
            progressIndicator_->setRange(0, 0);
            text = tr("Finding the references to the copies...");
        }
    } else if (now.phase == Phase::comparing && now.total > 0) {
        // Only files that share name and size with another are read: their total is known.
        progressIndicator_->setRange(0, 1000);
        progressIndicator_->setValue(static_cast<int>(done * 1000 / now.total));
        text = tr("Comparing images: %1 of %2 read").arg(sizeText(done), sizeText(now.total));
    } else {
        text = tr("Scanning: %1 entries walked").arg(now.phase == Phase::walking ? now.done : 0);
    }
    window_->statusLabel->setText(text);
    window_->summaryLabel->setText(text);
}

void TolvaneAppDelegate::showWorkProgress() {
    if (!workProgress_)
        return;
    const Progress::Snapshot now = workProgress_->snapshot();
    const bool counting = now.phase == Phase::optimizing || now.phase == Phase::undoing ||
                          now.phase == Phase::finished;
    if (!counting)
        return; // busy until the steps are known
    // A run with nothing to do still shows a bar, not a busy indicator.
    const int total = static_cast<int>(std::min<std::uint64_t>(
        std::max<std::uint64_t>(now.total, 1), std::numeric_limits<int>::max()));
    progressIndicator_->setRange(0, total);
    progressIndicator_->setValue(static_cast<int>(std::min<std::uint64_t>(now.done, total)));
    progressIndicator_->setTextVisible(true);
    showWorkTime();
}

void TolvaneAppDelegate::cancel() {
    if (busy_ == Busy::Scanning) {
        scan_->progress.cancel();
        scan_.reset();
        ++scanGeneration_; // whatever it still sends is ignored
        scanTicker_.stop();
        log(tr("Scan cancelled."));
        setBusy(Busy::Idle, tr("Scan cancelled."));
        // The previous result is what the window shows again, header included.
        showHeader(shownRoot_);
        if (duplicates_)
            showSummary();
        else
            window_->summaryLabel->setText(tr("Open the root folder of an exported website to "
                                              "find its duplicate images."));
        emit scanCancelled();
        return;
    }
    if (busy_ == Busy::Running && workProgress_ && !workProgress_->cancelled()) {
        workProgress_->cancel();
        window_->statusLabel->setText(
            tr("Stopping, then putting back what the run has changed..."));
        updateControls();
    }
}

void TolvaneAppDelegate::rescan() {
    if (!isBusy() && !shownRoot_.empty())
        traverseWebsite(shownRoot_);
}

void TolvaneAppDelegate::showScanResult(const std::shared_ptr<const ScanDisplay>& shown,
                                        bool userScan) {
    // The new result replaces the old in one step on this thread; the tables are emptied
    // first so that no row ever describes a group of another result.
    const ScanResult* result = &shown->scan;
    const QVariantList images = urlsOf(formingCopies(*result));
    // Choices belong to one site; those that no longer name a group or copy of it go.
    if (result->root != shownRoot_) {
        groupsLeftAlone_.clear();
        choices_ = {};
    } else {
        std::set<std::pair<std::string, std::string>> groups;
        std::set<std::filesystem::path> copies;
        for (const DuplicateGroup& group : result->duplicates) {
            groups.emplace(group.name, group.md5);
            copies.insert(group.copies.begin(), group.copies.end());
        }
        std::erase_if(groupsLeftAlone_, [&](const auto& key) { return !groups.count(key); });
        std::erase_if(choices_.keep, [&](const auto& copy) { return !copies.count(copy); });
        std::erase_if(choices_.leave, [&](const auto& copy) { return !copies.count(copy); });
    }
    index_ = shown->index;
    shownRoot_ = result->root;
    leftovers_ = result->leftovers;
    for (const auto& passed : result->unreadable)
        log(tr("Unable to read %1: %2")
                .arg(toQString(passed.path), QString::fromStdString(passed.error.message())));
    displaying_ = true;
    if (imagesDataSource_) {
        imagesDataSource_->removeAllRows();
        duplicates_ = result->duplicates;
        groupPlans_ = shown->groups;
        imagesDataSource_->addAllRows(images);
    } else {
        duplicates_ = result->duplicates;
        groupPlans_ = shown->groups;
        imagesDataSource_ = new NSURLTableViewDataSource(images, imagesTable_, this);
        configureImagesTable();
        imagesSorter_->setSourceModel(imagesDataSource_);
        // Names and numbers as wide as they need, never cut; the kept file takes the rest, and
        // a narrow window scrolls rather than cutting a name.
        QHeaderView* header = imagesTable_->horizontalHeader();
        header->setSectionResizeMode(QHeaderView::ResizeToContents);
        header->setSectionResizeMode(keptColumn, QHeaderView::Stretch);
    }
    filesRewritten_ = shown->filesRewritten;
    rewrittenFiles_ = shown->rewrittenFiles;
    const QHeaderView* sortedBy = imagesTable_->horizontalHeader();
    imagesSorter_->sort(sortedBy->sortIndicatorSection(), sortedBy->sortIndicatorOrder());

    // The first row in the table's order is selected.
    QItemSelectionModel* selection = imagesTable_->selectionModel();
    if (imagesSorter_->rowCount() > 0)
        selection->setCurrentIndex(imagesSorter_->index(0, 0),
                                   QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    else
        selection->clear();
    displaying_ = false;
    selectImage();
    imagesTable_->scrollToTop();

    showHeader(shownRoot_);
    if (!duplicates_->empty())
        rootUrl_ = result->root;
    else
        rootUrl_.clear();
    // The scan planned without the choices kept from before.
    if (!groupsLeftAlone_.empty() || !choices_.empty())
        replan();
    showSummary();
    log(window_->summaryLabel->text());
    // A scan the user asked for says when there is nothing to do; after a run or an undo, its
    // own sheet says what is left.
    QMessageBox* nothing = nullptr;
    if (userScan && duplicates_->empty())
        nothing = showSheet(tr("There are no images to optimize!"),
                            tr("Your website contains no duplicate images that need optimizing."));
    else if (userScan && !optimizeEnabled_ && groupsLeftAlone_.empty() && choices_.empty())
        nothing = showSheet(tr("There are no images to optimize!"),
                            tr("Every copy of the duplicate images has to stay where it is; the "
                               "copies table says why."));
    if (nothing)
        nothing->setIcon(QMessageBox::Information);
    refreshUndo();
    updateControls();
    emit scanShown();
}

void TolvaneAppDelegate::configureImagesTable() {
    imagesDataSource_->setColumnTitles({tr("Image"), tr("Digest"), tr("Copies"), tr("References"),
                                        tr("Size"), tr("Saving"), tr("Kept as")});
    imagesDataSource_->setCellPresenter([this](const QVariant& element, int row, int column,
                                               int role) -> QVariant {
        const DuplicateGroup* group = duplicates_ && row < static_cast<int>(duplicates_->size())
                                          ? &(*duplicates_)[row]
                                          : nullptr;
        const GroupPlan* plan = planOf(row);
        const auto path = toPath(element.toUrl().toLocalFile());
        const std::uint64_t saving = plan && group ? plan->saving(group->size) : 0;
        const auto number = [](std::uint64_t n) { return QVariant(static_cast<qulonglong>(n)); };
        if (role == SortRole || role == Qt::DisplayRole) {
            const bool display = role == Qt::DisplayRole;
            switch (column) {
            case nameColumn:
                return toQString(path.filename());
            case digestColumn:
                return group ? fromUtf8(group->md5).left(shortDigest) : QString();
            case copiesColumn:
                return group ? number(group->copies.size()) : QVariant();
            case referencesColumn:
                return plan ? number(plan->references) : QVariant();
            case sizeColumn:
                return !group    ? QVariant()
                       : display ? QVariant(sizeText(group->size))
                                 : number(group->size);
            case savingColumn:
                return display ? QVariant(sizeText(saving)) : number(saving);
            case keptColumn:
                return PlanText::keptAs(plan, shownRoot_);
            }
        } else if (role == Qt::ToolTipRole) {
            switch (column) {
            case digestColumn:
                return group ? tr("MD5 digest %1: images of the same name with other contents "
                                  "have other digests")
                                   .arg(fromUtf8(group->md5))
                             : QVariant();
            case referencesColumn:
                return tr("References in the site's pages, scripts, stylesheets and feeds that "
                          "point at the copies");
            case keptColumn:
                if (plan && plan->handled())
                    return tr("%1\nWhere the image's bytes are after optimizing")
                        .arg(toQString(plan->kept));
                return tr("Where the image's bytes are after optimizing");
            default:
                return toQString(path);
            }
        } else if (role == Qt::TextAlignmentRole && column >= copiesColumn &&
                   column <= savingColumn) {
            return QVariant(Qt::AlignRight | Qt::AlignVCenter);
        } else if (role == Qt::FontRole && column == digestColumn) {
            return QFontDatabase::systemFont(QFontDatabase::FixedFont);
        } else if (role == Qt::CheckStateRole && column == nameColumn) {
            return groupChosen(static_cast<std::size_t>(row)) ? Qt::Checked : Qt::Unchecked;
        }
        return {};
    });
    imagesDataSource_->setRowChecker(nameColumn, [this](int row, bool checked) {
        if (isBusy())
            return false;
        setGroupChosen(static_cast<std::size_t>(row), checked);
        return true;
    });
}

void TolvaneAppDelegate::configurePagesTable() {
    pagesDataSource_->setColumnTitles({tr("Copy"), tr("After optimizing")});
    pagesDataSource_->setCellPresenter(
        [this](const QVariant& element, int row, int column, int role) -> QVariant {
            const auto path = toPath(element.toUrl().toLocalFile());
            const DuplicateGroup* group =
                pagesGroup_ >= 0 && duplicates_ ? &(*duplicates_)[pagesGroup_] : nullptr;
            const GroupPlan* plan = planOf(pagesGroup_);
            const auto copy = static_cast<std::size_t>(row);
            const bool chosen = pagesGroup_ >= 0 && groupChosen(pagesGroup_);
            if (role == Qt::DisplayRole || role == SortRole) {
                if (column == 0)
                    return relativeText(path, shownRoot_);
                if (group && !chosen)
                    return tr("Stays: its image is left alone");
                return group ? PlanText::fate(*group, plan, copy, shownRoot_) : QString();
            }
            if (role == Qt::CheckStateRole && column == 0)
                return chosen && !choices_.leave.count(path) ? Qt::Checked : Qt::Unchecked;
            if (role == Qt::ToolTipRole && column == 1) {
                const QString reasons = PlanText::reasons(plan, copy, shownRoot_);
                return reasons.isEmpty() ? QVariant() : reasons;
            }
            if (role == Qt::ToolTipRole)
                return toQString(path);
            if (role == Qt::FontRole && group && PlanText::keepsTheBytes(*group, plan, copy)) {
                QFont font = pagesTable_->font();
                font.setBold(true);
                return font;
            }
            return {};
        });
    pagesDataSource_->setRowChecker(0, [this](int row, bool checked) {
        if (isBusy() || pagesGroup_ < 0 || !groupChosen(pagesGroup_))
            return false;
        setCopyChosen(pagesGroup_, static_cast<std::size_t>(row), checked);
        return true;
    });
}

// ---- Choices ---------------------------------------------------------------------------------

bool TolvaneAppDelegate::groupChosen(std::size_t group) const {
    return !duplicates_ || group >= duplicates_->size() ||
           !groupsLeftAlone_.count({(*duplicates_)[group].name, (*duplicates_)[group].md5});
}

void TolvaneAppDelegate::setGroupChosen(std::size_t group, bool chosen) {
    if (!duplicates_ || group >= duplicates_->size())
        return;
    const std::pair key{(*duplicates_)[group].name, (*duplicates_)[group].md5};
    if (chosen)
        groupsLeftAlone_.erase(key);
    else
        groupsLeftAlone_.insert(key);
    replan();
}

void TolvaneAppDelegate::setCopyChosen(std::size_t group, std::size_t copy, bool chosen) {
    if (!duplicates_ || group >= duplicates_->size() || copy >= (*duplicates_)[group].copies.size())
        return;
    const std::filesystem::path& path = (*duplicates_)[group].copies[copy];
    // A copy left where it is is not the kept file any more.
    if (chosen) {
        choices_.leave.erase(path);
    } else {
        choices_.leave.insert(path);
        choices_.keep.erase(path);
    }
    replan();
}

void TolvaneAppDelegate::keepCurrentCopy(bool keep) {
    const int copy = currentCopy();
    if (isBusy() || !duplicates_ || pagesGroup_ < 0 || copy < 0 || !groupChosen(pagesGroup_))
        return;
    const DuplicateGroup& group = (*duplicates_)[pagesGroup_];
    // One kept copy per group: choosing another replaces it.
    for (const auto& other : group.copies)
        choices_.keep.erase(other);
    const std::filesystem::path& path = group.copies[static_cast<std::size_t>(copy)];
    if (keep) {
        choices_.keep.insert(path);
        choices_.leave.erase(path);
    }
    replan();
}

void TolvaneAppDelegate::chooseGroups(const std::function<bool(std::size_t group)>& chosen) {
    if (isBusy() || !duplicates_)
        return;
    std::set<std::pair<std::string, std::string>> alone;
    for (std::size_t g = 0; g < duplicates_->size(); ++g)
        if (!chosen(g))
            alone.emplace((*duplicates_)[g].name, (*duplicates_)[g].md5);
    groupsLeftAlone_ = std::move(alone);
    replan();
}

void TolvaneAppDelegate::chooseGroupsSavingMoreThan(std::uint64_t bytes) {
    if (isBusy() || !duplicates_)
        return;
    // What each group saves when every group is taken: leaving one alone changes no other's.
    groupsLeftAlone_.clear();
    replan();
    chooseGroups([this, bytes](std::size_t g) {
        return groupPlans_[g].saving((*duplicates_)[g].size) > bytes;
    });
}

void TolvaneAppDelegate::askForLeastSaving() {
    if (isBusy() || !duplicates_)
        return;
    auto* dialog = new QInputDialog(window_);
    dialog->setObjectName("leastSavingDialog");
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowModality(Qt::WindowModal);
    dialog->setWindowTitle(tr("Only Groups That Save More Than"));
    dialog->setLabelText(tr("Take only the images whose copies save more than (for example "
                            "100 KB or 2 MB):"));
    dialog->setTextValue(tr("100 KB"));
    connect(dialog, &QInputDialog::textValueSelected, this, [this](const QString& text) {
        const std::optional<std::uint64_t> bytes = bytesOf(text);
        if (!bytes) {
            showSheet(tr("“%1” is not a size.").arg(text),
                      tr("Write a number, with B, KB, MB or GB after it."));
            return;
        }
        chooseGroupsSavingMoreThan(*bytes);
    });
    dialog->open();
}

std::vector<DuplicateGroup> TolvaneAppDelegate::chosenDuplicates() const {
    std::vector<DuplicateGroup> chosen;
    if (!duplicates_)
        return chosen;
    for (std::size_t g = 0; g < duplicates_->size(); ++g)
        if (groupChosen(g))
            chosen.push_back((*duplicates_)[g]);
    return chosen;
}

void TolvaneAppDelegate::replan() {
    if (!duplicates_ || !index_ || rootUrl_.empty())
        return;
    // Cheap next to the scan: the index of the result on display is reused.
    std::vector<std::size_t> taken;
    std::vector<DuplicateGroup> chosen;
    for (std::size_t g = 0; g < duplicates_->size(); ++g)
        if (groupChosen(g)) {
            taken.push_back(g);
            chosen.push_back((*duplicates_)[g]);
        }
    DiskTextFileAccess disk;
    WritabilityOnce access(disk);
    RealFileManager files;
    SitePlan plan = planSite(rootUrl_, chosen, *index_, access, files, choices_);
    // A group left alone: every copy stays, nothing is saved.
    std::vector<GroupPlan> plans(duplicates_->size());
    for (std::size_t g = 0; g < duplicates_->size(); ++g) {
        plans[g].kept = (*duplicates_)[g].copies.front();
        plans[g].copies.resize((*duplicates_)[g].copies.size());
    }
    for (std::size_t i = 0; i < taken.size(); ++i)
        plans[taken[i]] = std::move(plan.groups[i]);
    groupPlans_ = std::move(plans);
    filesRewritten_ = plan.files.size();
    rewrittenFiles_.clear();
    for (const FileChanges& file : plan.files)
        rewrittenFiles_.push_back(file.file);
    if (imagesDataSource_)
        imagesDataSource_->refreshCells();
    if (pagesDataSource_)
        pagesDataSource_->refreshCells();
    showSummary();
    showCopy();
    updateControls();
}

void TolvaneAppDelegate::showSummary() {
    if (!duplicates_)
        return;
    if (duplicates_->empty()) {
        optimizeEnabled_ = false;
        window_->summaryLabel->setText(tr("No duplicate images in this website."));
        return;
    }
    std::size_t copies = 0;
    std::uint64_t bytes = 0;
    for (std::size_t i = 0; i < duplicates_->size(); ++i) {
        const GroupPlan* plan = planOf(static_cast<int>(i));
        copies += plan ? plan->copiesSaved() : 0;
        bytes += plan ? plan->saving((*duplicates_)[i].size) : 0;
    }
    // Optimize only where a run would remove something.
    optimizeEnabled_ = copies > 0;
    const QString images =
        counted(duplicates_->size(), tr("1 duplicated image"), tr("%1 duplicated images"));
    const QString removals = counted(copies, tr("1 copy to remove"), tr("%1 copies to remove"));
    window_->summaryLabel->setText(
        tr("%1, %2, %3 to save.").arg(images, removals, sizeText(bytes)));
}

// ---- Folder choice ---------------------------------------------------------------------------

void TolvaneAppDelegate::chooseFile(PanelEnd didEnd, const QString& title, const QString& message,
                                    const QString& initialValue) {
    try {
        auto* openPanel = new QFileDialog(window_);
        selectFolderPanel_ = openPanel;
        openPanel->setAttribute(Qt::WA_DeleteOnClose);
        openPanel->setOption(QFileDialog::DontUseNativeDialog);
        openPanel->setFileMode(QFileDialog::Directory);
        openPanel->setOption(QFileDialog::ShowDirsOnly);
        openPanel->setWindowTitle(message);
        openPanel->setLabelText(QFileDialog::FileName, title);
        openPanel->setLabelText(QFileDialog::Accept, tr("&Open"));
        openPanel->setDirectory(initialValue);
        openPanel->setWindowModality(Qt::WindowModal);
        connect(openPanel, &QFileDialog::finished, this,
                [this, openPanel, didEnd](int result) { (this->*didEnd)(openPanel, result); });
        openPanel->open();
    } catch (const std::exception& exception) {
        std::fprintf(stderr, "Exception trying to display openPanel: %s\n", exception.what());
    }
}

void TolvaneAppDelegate::folderSelected(QFileDialog* panel, int returnCode) {
    if (returnCode != 1)
        return;
    panel->hide();
    const QStringList chosen = panel->selectedFiles();
    if (chosen.isEmpty())
        return;
    openFolder(chosen.constFirst());
}

void TolvaneAppDelegate::openFolder(const QString& folder) {
    if (isBusy())
        return;
    const QString absolute = QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
    const std::filesystem::path candidate = toPath(absolute);
    if (isWebsiteFolder(candidate)) {
        openSettings()->setValue("lastFolder", absolute);
        traverseWebsite(candidate);
        return;
    }
    // A folder just above the site is a common slip: offer the child that is a website, the
    // first by name.
    QStringList children = QDir(absolute).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    children.sort(Qt::CaseInsensitive);
    for (const QString& child : children) {
        const std::filesystem::path path = candidate / toPath(child);
        if (isWebsiteFolder(path)) {
            offerChildSite(absolute, path);
            return;
        }
    }
    showSheet(
        tr("“%1” is not a website folder.").arg(absolute),
        tr("A website's root folder holds index.html. Choose the folder of the site itself."));
}

void TolvaneAppDelegate::offerChildSite(const QString& folder, const std::filesystem::path& child) {
    const QString name = toQString(child.filename());
    QPushButton* open = nullptr;
    QMessageBox* alert = makeQuestion(
        window_, tr("“%1” is not a website folder.").arg(folder),
        tr("A website's root folder holds index.html. Its folder “%1” does: open that one?")
            .arg(name),
        tr("&Open “%1”").arg(name), tr("&Cancel"), &open);
    connect(alert, &QMessageBox::buttonClicked, this, [this, open, child](QAbstractButton* button) {
        if (button == open)
            QTimer::singleShot(0, this, [this, child] { openFolder(toQString(child)); });
    });
    queueSheet(alert);
}

void TolvaneAppDelegate::openWebsite() {
    if (isBusy())
        return;
    // The chooser starts in the folder opened last, when it still exists.
    QString start = openSettings()->value("lastFolder").toString();
    if (start.isEmpty() || !QFileInfo(start).isDir())
        start = QDir::homePath();
    chooseFile(&TolvaneAppDelegate::folderSelected, tr("Choose folder:"),
               tr("Choose folder containing root of website."), start);
}

// ---- Log and sheets --------------------------------------------------------------------------

void TolvaneAppDelegate::log(const QString& raw) {
    // One line each, whatever control characters a file name holds.
    QString text = fromUtf8(printableLogLine(raw.toStdString()));
    // The run names the source and destination of a kept file on lines of their own.
    if (pathLinesToLabel_ > 0 && !QDir::isAbsolutePath(text))
        pathLinesToLabel_ = 0;
    if (pathLinesToLabel_ > 0) {
        text = (pathLinesToLabel_ == 2 ? tr("  from: %1") : tr("  to: %1")).arg(text);
        --pathLinesToLabel_;
    } else if (text.startsWith(tr("Moving image file: "))) {
        pathLinesToLabel_ = 2;
    }
    logOfActions_.append(text);
    if (echoLog_) {
        const QByteArray line = text.toUtf8() + '\n';
        std::fwrite(line.constData(), 1, static_cast<std::size_t>(line.size()), stdout);
        std::fflush(stdout);
    }
    window_->logView->appendLine(text);
    emit logged(text);
}

void TolvaneAppDelegate::popupErrorMessage(const QString& message,
                                           const std::optional<ErrorText>& error) {
    log(QStringLiteral("%1, error: %2")
            .arg(message, error ? error->description : QStringLiteral("(null)")));
    showSheet(message, error ? error->localizedDescription : QString());
}

void TolvaneAppDelegate::queueSheet(QMessageBox* sheet, bool front) {
    if (frontSheet_ && frontSheet_->isVisible() && frontSheet_ != sheet) {
        QPointer<QMessageBox> waiting = sheet;
        connect(frontSheet_, &QObject::destroyed, this, [waiting] {
            if (waiting)
                waiting->open();
        });
    } else {
        sheet->open();
    }
    if (front)
        frontSheet_ = sheet;
}

QMessageBox* TolvaneAppDelegate::showSheet(const QString& text, const QString& informativeText) {
    QMessageBox* alert = makeSheet(window_, text, informativeText);
    alert->addButton(tr("OK"), QMessageBox::AcceptRole);
    queueSheet(alert);
    return alert;
}

bool TolvaneAppDelegate::saveLog(const QString& path) {
    QString error;
    if (window_->logView->saveTo(path, &error))
        return true;
    showSheet(tr("Unable to save the log to %1").arg(path), error);
    return false;
}

void TolvaneAppDelegate::clearLog() {
    window_->logView->clearLog();
    logOfActions_.clear();
    pathLinesToLabel_ = 0;
}

void TolvaneAppDelegate::showAbout() {
    auto* about = new QMessageBox(QMessageBox::Information, tr("About Tolvane"),
                                  tr("Tolvane %1").arg(QStringLiteral(TOLVANE_VERSION)),
                                  QMessageBox::Ok, window_);
    about->setObjectName("aboutSheet");
    about->setAttribute(Qt::WA_DeleteOnClose);
    about->setWindowModality(Qt::WindowModal);
    about->setInformativeText(
        tr("Finds the images an exported website holds more than once, keeps one copy of each "
           "and rewrites the pages that showed the others.\n\nLicence: %1")
            .arg(licenceName(QStringLiteral(TOLVANE_LICENSE))));
    about->open();
}

// ---- Confirmation and run ---------------------------------------------------------------------

// The channel of a run, preview or undo on the worker thread: its log lines, sheets, progress
// and re-scan reach the window queued; ended goes to the given slot, then the channel is
// deleted.
RunChannel* TolvaneAppDelegate::workerChannel(void (TolvaneAppDelegate::*ended)(bool)) {
    auto* channel = new RunChannel;
    channel->setParent(this); // outlives the worker even if the window closes meanwhile
    connect(channel, &RunChannel::logLine, this, &TolvaneAppDelegate::log, Qt::QueuedConnection);
    connect(
        channel, &RunChannel::errorSheet, this,
        [this](const QString& message, const std::optional<ErrorText>& error) {
            // An undo shows each problem at once; a run gathers them for its summary.
            if (busy_ == Busy::Undoing) {
                popupErrorMessage(message, error);
                return;
            }
            log(QStringLiteral("%1, error: %2")
                    .arg(message, error ? error->description : QStringLiteral("(null)")));
            runProblems_ << (error && !error->localizedDescription.isEmpty()
                                 ? message + QStringLiteral(": ") + error->localizedDescription
                                 : message);
            lastSummary_.problems = runProblems_;
            lastError_ = {message, error ? error->localizedDescription : QString()};
        },
        Qt::QueuedConnection);
    connect(channel, &RunChannel::summarized, this, &TolvaneAppDelegate::runSummarized,
            Qt::QueuedConnection);
    connect(
        channel, &RunChannel::rescanned, this,
        [this](const std::shared_ptr<const ScanDisplay>& shown) {
            if (busy_ == Busy::Running) {
                lastSummary_.rescanned = true;
                lastSummary_.groupsLeft = shown->groups.size();
                lastSummary_.copiesLeft = 0;
                for (const GroupPlan& plan : shown->groups)
                    lastSummary_.copiesLeft += plan.copiesSaved();
            }
            showScanResult(shown, false);
        },
        Qt::QueuedConnection);
    connect(channel, &RunChannel::ended, this, ended, Qt::QueuedConnection);
    connect(channel, &RunChannel::ended, channel, &QObject::deleteLater, Qt::QueuedConnection);
    return channel;
}

void TolvaneAppDelegate::saveWebsite() {
    if (isBusy() || !optimizeEnabled_ || rootUrl_.empty())
        return;
    std::size_t copies = 0;
    std::uint64_t bytes = 0;
    for (std::size_t i = 0; i < groupPlans_.size(); ++i) {
        copies += groupPlans_[i].copiesSaved();
        bytes += groupPlans_[i].saving((*duplicates_)[i].size);
    }
    QPushButton* optimize = nullptr;
    QMessageBox* alert = makeQuestion(
        window_, tr("Optimize %1?").arg(toQString(rootUrl_.filename())),
        tr("%1 will be removed, %2 rewritten, %3 saved. Files within your website are "
           "overwritten; Undo Last Optimization can put them back.")
            .arg(counted(copies, tr("1 copy"), tr("%1 copies")),
                 counted(filesRewritten_, tr("1 file"), tr("%1 files")), sizeText(bytes)),
        tr("&Optimize"), tr("&Cancel"), &optimize);
    alert->setObjectName("confirmationSheet");
    connect(alert, &QMessageBox::buttonClicked, this,
            [this, alert, optimize](QAbstractButton* button) {
                overwriteAlertDidEnd(alert, button == optimize ? yesCode : noCode);
            });
    alert->open();
}

void TolvaneAppDelegate::overwriteAlertDidEnd(QMessageBox* alert, qint64 returnCode) {
    if (returnCode != yesCode || isBusy() || !duplicates_)
        return;
    // The sheet goes before any file is touched.
    alert->hide();
    startRun();
}

void TolvaneAppDelegate::previewChanges() {
    if (isBusy() || !optimizeEnabled_ || rootUrl_.empty())
        return;
    // The plan on display, file by file: what a run would rewrite, remove and keep.
    RunSummary would;
    would.dryRun = true;
    would.filesRewritten = filesRewritten_;
    std::vector<PreviewDialog::Change> changes;
    for (const auto& file : rewrittenFiles_)
        changes.push_back({relativeText(file, shownRoot_),
                           tr("Rewritten: its references lead to the kept files")});
    for (std::size_t g = 0; g < duplicates_->size(); ++g) {
        const DuplicateGroup& group = (*duplicates_)[g];
        const GroupPlan* plan = planOf(static_cast<int>(g));
        if (!groupChosen(g))
            continue; // a run does not touch it
        if (plan) {
            would.copiesRemoved += plan->copiesSaved();
            would.bytesSaved += plan->saving(group.size);
        }
        for (std::size_t c = 0; c < group.copies.size(); ++c) {
            changes.push_back({relativeText(group.copies[c], shownRoot_),
                               PlanText::fate(group, plan, c, shownRoot_)});
            if (plan && c < plan->copies.size() && !plan->copies[c].reasons.empty())
                ++would.copiesStayed;
        }
    }
    log(tr("Preview of the changes shown. %1").arg(RunSummaryText::counts(would)));
    auto* preview = new PreviewDialog(RunSummaryText::counts(would), changes, window_);
    preview->setAttribute(Qt::WA_DeleteOnClose);
    preview->setWindowTitle(
        tr("Preview of the Changes to %1").arg(toQString(shownRoot_.filename())));
    preview->show();
}

void TolvaneAppDelegate::startRun() {
    workProgress_ = std::make_shared<Progress>();
    RunJob job{rootUrl_,   chosenDuplicates(), std::shared_ptr<FileManager>(makeFileManager_()),
               leftovers_, workProgress_,      choices_};
    runProblems_.clear();
    lastError_ = {};
    lastSummary_ = {};
    beginLogSection(tr("Optimization of %1, %2").arg(toQString(rootUrl_), nowText()));
    optimizeEnabled_ = false; // back on if the re-scan finds something to do
    setBusy(Busy::Running, tr("Optimizing %1...").arg(toQString(rootUrl_)));

    RunChannel* channel = workerChannel(&TolvaneAppDelegate::runEnded);
    connect(
        channel, &RunChannel::runCompleted, this,
        [this] {
            if (busy_ == Busy::Running)
                window_->statusLabel->setText(tr("Scanning the site again..."));
        },
        Qt::QueuedConnection);

    delete runThread_;
    runThread_ = QThread::create([job = std::move(job), channel] { runOnWorker(job, *channel); });
    runThread_->start();
}

void TolvaneAppDelegate::runOnWorker(const RunJob& job, RunChannel& channel) {
    ChannelReporter reporter(channel);
    RunOptions options;
    options.progress = job.progress.get();
    options.leftovers = job.leftovers;
    options.choices = job.choices;
    // What undo needs is recorded outside the site; without that record nothing is touched.
    std::error_code journalError;
    std::optional<RunJournal> journal = RunJournal::start(job.root, journalError);
    if (!journal) {
        reporter.report({EventKind::recordFailed,
                         {journalHome()},
                         FileError{FileError::Operation::write, {journalHome()}, journalError},
                         std::nullopt,
                         {}});
        RunSummary summary;
        summary.end = RunSummary::End::failed;
        emit channel.summarized(summary);
        emit channel.ended(false);
        return;
    }
    options.journal = &*journal;
    const RunOutcome outcome =
        startOptimization(job.duplicates, job.root, *job.files, reporter, options);
    RunSummary summary;
    summary.record = toQString(journal->folder());
    if (outcome.cancelled)
        undoCancelledRun(job, journal->folder(), channel, summary);
    summary.end = outcome.completed   ? RunSummary::End::completed
                  : outcome.cancelled ? RunSummary::End::cancelled
                                      : RunSummary::End::failed;
    summary.copiesRemoved = outcome.copiesRemoved;
    summary.bytesSaved = outcome.bytesSaved;
    summary.filesRewritten = outcome.filesRewritten;
    summary.copiesStayed = outcome.copiesKept;
    summary.errors = static_cast<std::size_t>(std::max(outcome.errorSheets, 0)) > outcome.copiesKept
                         ? static_cast<std::size_t>(outcome.errorSheets) - outcome.copiesKept
                         : 0;
    emit channel.summarized(summary);
    // A completed or cancelled run is followed by a scan that shows what is left; it works
    // here too, and the window takes its result in one step on its thread.
    if (outcome.completed || outcome.cancelled)
        emit channel.rescanned(
            std::make_shared<const ScanDisplay>(withReferences(scanWebsite(job.root))));
    emit channel.ended(outcome.completed);
}

void TolvaneAppDelegate::undoCancelledRun(const RunJob& job, const std::filesystem::path& record,
                                          RunChannel& channel, RunSummary& summary) {
    std::optional<RecordedRun> run;
    for (RecordedRun& recorded : recordedRuns(job.root)) {
        std::error_code error;
        if (std::filesystem::equivalent(recorded.folder, record, error)) {
            run = std::move(recorded);
            break;
        }
    }
    if (!run || !run->changes) {
        summary.undone = true; // stopped before it changed anything
        return;
    }
    ChannelReporter reporter(channel);
    reporter.log(tr("Putting back what the cancelled run had changed"));
    std::error_code lockError;
    std::optional<SiteLock> lock = SiteLock::tryAcquire(job.root, lockError);
    if (!lock) {
        reporter.failed(tr("Unable to undo the last optimization"),
                        FileError{FileError::Operation::read, {job.root}, lockError});
        summary.undoLeft = 1;
        return;
    }
    const UndoOutcome undone = undoRun(*run, *job.files, reporter, job.progress.get());
    summary.undone = undone.complete;
    summary.undoLeft = undone.complete ? 0 : std::max<std::size_t>(undone.left, 1);
}

void TolvaneAppDelegate::runSummarized(const RunSummary& summary) {
    lastSummary_ = summary;
    lastSummary_.problems = runProblems_;
    log(RunSummaryText::headline(lastSummary_) + QLatin1Char(' ') +
        RunSummaryText::counts(lastSummary_));
}

void TolvaneAppDelegate::showRunSheet() {
    if (lastSummary_.rescanned)
        log(RunSummaryText::left(lastSummary_));
    QMessageBox* sheet = nullptr;
    if (lastSummary_.end == RunSummary::End::failed) {
        // The failure that ended the run, with the rest of what happened beneath.
        sheet = makeSheet(window_, lastError_.first,
                          lastError_.second.isEmpty() ? RunSummaryText::counts(lastSummary_)
                                                      : lastError_.second);
        sheet->setObjectName("summarySheet");
        sheet->setDetailedText(RunSummaryText::counts(lastSummary_) + QLatin1Char('\n') +
                               RunSummaryText::details(lastSummary_));
        sheet->setDefaultButton(sheet->addButton(tr("OK"), QMessageBox::AcceptRole));
    } else {
        sheet = makeSummarySheet(window_, lastSummary_);
    }
    // A run that went wrong can be put back from its own sheet.
    const bool wentWrong = lastSummary_.end == RunSummary::End::failed || lastSummary_.errors > 0;
    if (wentWrong && undoableRun_ && !lastSummary_.record.isEmpty() &&
        QFileInfo(toQString(undoableRun_->folder)) == QFileInfo(lastSummary_.record)) {
        QAbstractButton* undo = sheet->addButton(tr("&Undo"), QMessageBox::ActionRole);
        connect(undo, &QAbstractButton::clicked, this, [this] {
            // After the sheet has gone: the undo's own sheets come next.
            QTimer::singleShot(0, this, [this] {
                refreshUndo();
                if (!isBusy() && undoableRun_)
                    startUndo();
            });
        });
    }
    queueSheet(sheet, true);
}

void TolvaneAppDelegate::processFile(const QString& path, const QString& imageName,
                                     const QString& folder) {
    DirectReporter reporter(*this);
    const std::unique_ptr<FileManager> files = makeFileManager_();
    const std::filesystem::path pageFolder = toPath(folder);
    const RewriteTarget target{imagesFolderReference(pageFolder, rootUrl_),
                               imageName.toStdString()};
    tolvane::processFile(toPath(path), imageName.toStdString(), pageFolder, target, *files,
                         reporter);
}

void TolvaneAppDelegate::runEnded(bool completed) {
    runThread_->wait();
    showWorkProgress(); // where the run got to
    if (lastSummary_.end == RunSummary::End::failed)
        optimizeEnabled_ = true; // a run stopped at a failure leaves the button as it was
    refreshUndo();
    setBusy(Busy::Idle, RunSummaryText::headline(lastSummary_));
    if (closeWhenStopped_) {
        window_->close();
        return;
    }
    showRunSheet();
    emit runFinished(completed);
}

void TolvaneAppDelegate::askToClose() {
    if (closeWhenStopped_)
        return;
    const bool undoing = busy_ == Busy::Undoing;
    QPushButton* stop = nullptr;
    QMessageBox* alert =
        undoing ? makeQuestion(window_, tr("The undo is still in progress."),
                               tr("Tolvane can close when it has finished."),
                               tr("&Close When Finished"), tr("&Keep Open"), &stop)
                : makeQuestion(window_, tr("The optimization is still in progress."),
                               tr("Cancel it? It stops at its next safe point and puts back what "
                                  "it has changed, then Tolvane closes."),
                               tr("&Stop and Close"), tr("&Keep Running"), &stop);
    alert->setObjectName("closeSheet");
    connect(alert, &QMessageBox::buttonClicked, this, [this, stop](QAbstractButton* button) {
        if (button != stop || !isBusy())
            return;
        closeWhenStopped_ = true;
        cancel();
        window_->statusLabel->setText(tr("Tolvane closes when the work in progress has stopped."));
    });
    alert->open();
}

// ---- Undo -------------------------------------------------------------------------------------

void TolvaneAppDelegate::refreshUndo() {
    undoableRun_ = shownRoot_.empty() ? std::nullopt : lastUndoableRun(shownRoot_);
}

void TolvaneAppDelegate::undoLastOptimization() {
    if (isBusy())
        return;
    refreshUndo();
    updateControls();
    if (!undoableRun_)
        return;
    const RecordedRun& run = *undoableRun_;
    QPushButton* yes = nullptr;
    QMessageBox* alert = makeQuestion(
        window_, tr("Undo the last optimization?"),
        tr("WARNING. You are about to overwrite files within your website: it is put back as it "
           "was before the optimization of %1. Files changed since then are left as they are.")
            .arg(fromUtf8(localTimeText(run.time))),
        tr("&Undo"), tr("&Cancel"), &yes);
    connect(alert, &QMessageBox::buttonClicked, this, [this, alert, yes](QAbstractButton* button) {
        undoAlertDidEnd(alert, button == yes ? yesCode : noCode);
    });
    alert->open();
}

void TolvaneAppDelegate::undoAlertDidEnd(QMessageBox* alert, qint64 returnCode) {
    if (returnCode != yesCode || isBusy() || !undoableRun_)
        return;
    alert->hide();
    startUndo();
}

void TolvaneAppDelegate::startUndo() {
    const std::filesystem::path root = shownRoot_;
    std::error_code error;
    std::optional<SiteLock> lock = SiteLock::tryAcquire(root, error);
    if (!lock) {
        if (error == std::errc::resource_unavailable_try_again)
            showSheet(fromUtf8(siteBusyMessage(root)), {});
        else
            showSheet(tr("Unable to undo the last optimization"), fromUtf8(error.message()));
        return;
    }
    workProgress_ = std::make_shared<Progress>();
    UndoJob job{root, *undoableRun_, makeFileManager_(),
                std::make_shared<SiteLock>(std::move(*lock)), workProgress_};
    beginLogSection(tr("Undo of the last optimization of %1, %2").arg(toQString(root), nowText()));
    setBusy(Busy::Undoing, tr("Undoing the last optimization of %1...").arg(toQString(root)));

    RunChannel* channel = workerChannel(&TolvaneAppDelegate::undoEnded);
    connect(
        channel, &RunChannel::runCompleted, this,
        [this] { window_->statusLabel->setText(tr("Scanning the site again...")); },
        Qt::QueuedConnection);

    delete runThread_;
    runThread_ = QThread::create(
        [job = std::move(job), channel]() mutable { undoOnWorker(std::move(job), *channel); });
    runThread_->start();
}

void TolvaneAppDelegate::undoOnWorker(UndoJob job, RunChannel& channel) {
    ChannelReporter reporter(channel);
    const UndoOutcome outcome = tolvane::undoRun(job.run, *job.files, reporter, job.progress.get());
    job.lock.reset(); // the re-scan only reads
    reporter.log(
        outcome.complete
            ? tr("Undo complete")
            : tr("Undo incomplete: changes that could not be undone: %1").arg(outcome.left));
    emit channel.rescanned(
        std::make_shared<const ScanDisplay>(withReferences(scanWebsite(job.root))));
    emit channel.ended(outcome.complete);
}

void TolvaneAppDelegate::undoEnded(bool complete) {
    runThread_->wait();
    showWorkProgress();
    refreshUndo();
    setBusy(Busy::Idle, complete ? tr("Undo finished.")
                                 : tr("Undo finished; some changes could not be undone."));
    if (closeWhenStopped_) {
        window_->close();
        return;
    }
    emit undoFinished(complete);
}

// ---- Controls ---------------------------------------------------------------------------------

void TolvaneAppDelegate::showWorkTime() {
    const int total = progressIndicator_->maximum() - progressIndicator_->minimum();
    if (total <= 0)
        return; // the steps are not known yet
    const qint64 elapsed = workClock_.isValid() ? workClock_.elapsed() : 0;
    const int done = progressIndicator_->value() - progressIndicator_->minimum();
    // An estimate from the pace so far, once there is a pace to speak of.
    if (done > 0 && done < total && elapsed >= 2000) {
        const qint64 left = elapsed * (total - done) / done;
        progressIndicator_->setFormat(tr("%v of %m steps, %1 elapsed, about %2 left")
                                          .arg(durationText(elapsed), durationText(left)));
    } else {
        progressIndicator_->setFormat(tr("%v of %m steps, %1 elapsed").arg(durationText(elapsed)));
    }
}

void TolvaneAppDelegate::setBusy(Busy busy, const QString& status) {
    const Busy was = busy_;
    busy_ = busy;
    window_->statusLabel->setText(status);
    if (busy != Busy::Idle) {
        // Nothing of the work before shows: a busy indicator until the counts are known.
        progressIndicator_->setTextVisible(false);
        progressIndicator_->setRange(0, 0);
        progressIndicator_->setValue(0);
    }
    if (busy == Busy::Running || busy == Busy::Undoing) {
        workClock_.start();
        workTicker_.start();
        scanTicker_.start();
    } else if (busy == Busy::Idle && was != Busy::Scanning) {
        workTicker_.stop();
        scanTicker_.stop();
    } else if (busy == Busy::Idle && was == Busy::Scanning) {
        // The bar showed the scan; it is empty again until a run.
        progressIndicator_->setRange(0, 1);
        progressIndicator_->setValue(0);
    }
    updateControls();
}

void TolvaneAppDelegate::updateControls() {
    const bool idle = !isBusy();
    MainWindow* w = window_;
    openWebsiteButton_->setEnabled(idle);
    w->openAction->setEnabled(idle);
    w->rescanAction->setEnabled(idle && !shownRoot_.empty());
    const bool canOptimize = idle && optimizeEnabled_ && !rootUrl_.empty();
    optimizeButton_->setEnabled(canOptimize);
    w->optimizeAction->setEnabled(canOptimize);
    w->previewButton->setEnabled(canOptimize);
    w->previewAction->setEnabled(canOptimize);
    const bool cancellable = busy_ == Busy::Scanning || (busy_ == Busy::Running && workProgress_ &&
                                                         !workProgress_->cancelled());
    w->cancelButton->setEnabled(cancellable);
    w->cancelAction->setEnabled(cancellable);
    w->undoAction->setEnabled(idle && undoableRun_.has_value());
    const bool copiesSelected = pagesTable_->selectionModel()->hasSelection();
    w->openCopyAction->setEnabled(copiesSelected);
    w->openCopyFolderAction->setEnabled(copiesSelected);
    w->copyPathAction->setEnabled(copiesSelected);
    const bool choosing = idle && duplicates_ && !duplicates_->empty() && !rootUrl_.empty();
    for (QAction* action :
         {w->chooseAllAction, w->chooseNoneAction, w->invertChoiceAction, w->leastSavingAction})
        action->setEnabled(choosing);
    const int copy = currentCopy();
    const bool onCopy = choosing && pagesGroup_ >= 0 && copy >= 0 && groupChosen(pagesGroup_);
    w->keepCopyAction->setEnabled(onCopy);
    w->keepCopyAction->setChecked(onCopy &&
                                  choices_.keep.count((*duplicates_)[pagesGroup_].copies[copy]));
    w->setAcceptsFolders(idle);
    w->setClosable(busy_ != Busy::Running && busy_ != Busy::Undoing);
}

} // namespace tolvane
