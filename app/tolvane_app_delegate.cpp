#include "app/tolvane_app_delegate.hpp"

#include "app/main_window.hpp"
#include "app/path_text.hpp"
#include "app/run_channel.hpp"
#include "optimize/page_rewrite.hpp"
#include "optimize/run.hpp"
#include "optimize/site_lock.hpp"
#include "optimize/undo.hpp"
#include "table/url_table_view_data_source.hpp"
#include "util/log_line.hpp"

#include <QAbstractButton>
#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFont>
#include <QGridLayout>
#include <QHeaderView>
#include <QImageReader>
#include <QLabel>
#include <QItemSelectionModel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTableView>
#include <QThread>
#include <QUrl>

#include <algorithm>
#include <cstdio>
#include <exception>

namespace tolvane {

namespace {

constexpr int yesCode = 1000;
constexpr int noCode = 1001;

QVariantList urlsOf(const std::vector<std::filesystem::path>& paths) {
    QVariantList urls;
    urls.reserve(static_cast<qsizetype>(paths.size()));
    for (const auto& path : paths)
        urls.append(QUrl::fromLocalFile(toQString(path)));
    return urls;
}

QString fromUtf8(const std::string& text) { return QString::fromStdString(text); }

std::optional<ErrorText> errorText(const std::optional<FileError>& error) {
    if (!error)
        return std::nullopt;
    return ErrorText{fromUtf8(error->description()), fromUtf8(error->localizedDescription())};
}

// Looks pieces up in the window's translations, keyed by their English text.
std::string localize(std::string_view english) {
    return TolvaneAppDelegate::tr(std::string(english).c_str()).toStdString();
}

// Turns the calls of a run into the channel's signals.
class ChannelReporter : public RunReporter {
  public:
    explicit ChannelReporter(RunChannel& channel) : channel_(channel) {}
    void log(const std::string& line) override { emit channel_.logLine(fromUtf8(line)); }
    void popupErrorMessage(const std::string& message,
                           const std::optional<FileError>& error) override {
        emit channel_.errorSheet(fromUtf8(message), errorText(error));
    }
    void progressSetup(double maximum) override { emit channel_.progressSetUp(maximum); }
    void progressStep() override { emit channel_.progressStepped(); }
    void progressStop() override { emit channel_.progressStopped(); }
    void runCompleted() override { emit channel_.runCompleted(); }

  private:
    RunChannel& channel_;
};

// Calls of a page rewrite made on the window's thread go straight to the controller.
class DirectReporter : public RunReporter {
  public:
    explicit DirectReporter(TolvaneAppDelegate& controller) : controller_(controller) {}
    void log(const std::string& line) override { controller_.log(fromUtf8(line)); }
    void popupErrorMessage(const std::string& message,
                           const std::optional<FileError>& error) override {
        controller_.popupErrorMessage(fromUtf8(message), errorText(error));
    }
    void progressSetup(double) override {}
    void progressStep() override {}
    void progressStop() override {}
    void runCompleted() override {}

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

std::uint64_t savingOf(const DuplicateGroup& group) {
    return group.copies.size() > 1 ? (group.copies.size() - 1) * group.size : 0;
}

} // namespace

ScanDisplay withReferences(ScanResult scan) {
    ScanDisplay shown;
    if (!scan.duplicates.empty()) {
        const ReferenceIndex index = ReferenceIndex::build(scan.root, everyCopy(scan.duplicates));
        DiskTextFileAccess disk;
        WritabilityOnce access(disk);
        RealFileManager files;
        shown.groups = planSite(scan.root, scan.duplicates, index, access, files).groups;
    }
    shown.scan = std::move(scan);
    return shown;
}

TolvaneAppDelegate::TolvaneAppDelegate(QObject* parent) : QObject(parent) {
    qRegisterMetaType<std::optional<ErrorText>>();
    qRegisterMetaType<std::shared_ptr<const ScanDisplay>>();
    makeFileManager_ = [] { return std::make_unique<RealFileManager>(); };

    window_ = new MainWindow;
    window_->setAttribute(Qt::WA_DeleteOnClose, false);
    imagesTable_ = window_->imagesTable;
    pagesTable_ = window_->pagesTable;
    openWebsiteButton = window_->openWebsiteButton;
    optimizeButton = window_->optimizeButton;
    progressIndicator = window_->progressIndicator;

    connect(openWebsiteButton, &QPushButton::clicked, this, &TolvaneAppDelegate::openWebsite);
    connect(window_->openAction, &QAction::triggered, this, &TolvaneAppDelegate::openWebsite);
    connect(optimizeButton, &QPushButton::clicked, this, &TolvaneAppDelegate::saveWebsite);
    connect(window_->optimizeAction, &QAction::triggered, this, &TolvaneAppDelegate::saveWebsite);
    connect(window_->undoAction, &QAction::triggered, this,
            &TolvaneAppDelegate::undoLastOptimization);
    connect(window_->quitAction, &QAction::triggered, window_, &QWidget::close);
    connect(window_, &MainWindow::folderDropped, this, &TolvaneAppDelegate::openFolder);
    connect(window_, &MainWindow::closeRefused, this, [this] {
        window_->statusLabel->setText(tr("Tolvane can close when the optimization has finished."));
    });

    scanTicker_.setInterval(100);
    connect(&scanTicker_, &QTimer::timeout, this, &TolvaneAppDelegate::showScanProgress);
    showPreview(nullptr);
    updateControls();
}

TolvaneAppDelegate::~TolvaneAppDelegate() {
    if (scanProgress_)
        scanProgress_->cancel = true;
    for (QThread* thread : {scanThread_, runThread_}) {
        if (thread) {
            thread->wait();
            delete thread;
        }
    }
    delete window_;
}

void TolvaneAppDelegate::applicationDidFinishLaunching() {
    logOfActions.clear();
    logOfActions.reserve(10);
}

// ---- Scan and display ------------------------------------------------------------------------

int TolvaneAppDelegate::selectedRow() const {
    if (!imagesTable_->selectionModel())
        return -1;
    const QModelIndexList rows = imagesTable_->selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.constFirst().row();
}

void TolvaneAppDelegate::selectImage() {
    const int index = selectedRow();
    if (index < 0) {
        pagesGroup_ = -1;
        if (pagesDataSource)
            pagesDataSource->removeAllRows();
        showPreview(nullptr);
        return;
    }
    const DuplicateGroup* group =
        duplicates && index < static_cast<int>(duplicates->size()) ? &(*duplicates)[index] : nullptr;
    pagesGroup_ = group ? index : -1;
    if (group) {
        const QVariantList copies = urlsOf(group->copies);
        if (pagesDataSource) {
            pagesDataSource->removeAllRows();
            pagesDataSource->addAllRows(copies);
        } else {
            pagesDataSource = new NSURLTableViewDataSource(copies, pagesTable_, this);
            configurePagesTable();
            pagesTable_->setModel(pagesDataSource);
            pagesTable_->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
            pagesTable_->horizontalHeader()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
        }
    } else if (pagesDataSource) {
        pagesDataSource->removeAllRows();
    }
    pagesTable_->setModel(pagesDataSource);
    showPreview(group);
}

void TolvaneAppDelegate::traverseWebsite(const std::filesystem::path& root) {
    if (isBusy())
        return;
    setBusy(Busy::Scanning, tr("Scanning %1...").arg(toQString(root)));
    scanProgress_ = std::make_unique<ScanProgress>();
    delete scanThread_;
    findingReferences_ = false;
    scanThread_ = QThread::create([this, root, progress = scanProgress_.get()] {
        ScanResult scanned = scanWebsite(root, progress);
        std::shared_ptr<const ScanDisplay> shown;
        if (scanned.cancelled) {
            shown = std::make_shared<const ScanDisplay>(ScanDisplay{std::move(scanned), {}});
        } else {
            findingReferences_ = true;
            shown = std::make_shared<const ScanDisplay>(withReferences(std::move(scanned)));
        }
        QMetaObject::invokeMethod(
            this, [this, shown] { scanFinished(shown); }, Qt::QueuedConnection);
    });
    scanThread_->start();
    scanTicker_.start();
}

void TolvaneAppDelegate::scanFinished(const std::shared_ptr<const ScanDisplay>& shown) {
    scanTicker_.stop();
    scanThread_->wait();
    findingReferences_ = false;
    setBusy(Busy::Idle, {});
    if (shown->scan.cancelled)
        return;
    showScanResult(shown);
}

void TolvaneAppDelegate::showScanProgress() {
    if (!scanProgress_)
        return;
    if (findingReferences_) {
        progressIndicator->setRange(0, 0);
        window_->statusLabel->setText(tr("Finding the references to the copies..."));
        return;
    }
    const ScanProgress& progress = *scanProgress_;
    const std::uint64_t total = progress.candidateBytes.load();
    if (progress.phase.load() == ScanPhase::Comparing && total > 0) {
        // Only files that share name and size with another are read: their total is known.
        const std::uint64_t done = std::min(progress.bytesHashed.load(), total);
        progressIndicator->setRange(0, 1000);
        progressIndicator->setValue(static_cast<int>(done * 1000 / total));
        window_->statusLabel->setText(
            tr("Comparing: %1 of %2 read").arg(sizeText(done), sizeText(total)));
    } else {
        window_->statusLabel->setText(
            tr("Scanning: %1 entries walked").arg(progress.entriesWalked.load()));
    }
}

const GroupReferences* TolvaneAppDelegate::referencesOf(int row) const {
    return row >= 0 && row < static_cast<int>(groupReferences_.size()) ? &groupReferences_[row]
                                                                        : nullptr;
}

void TolvaneAppDelegate::showScanResult(const std::shared_ptr<const ScanDisplay>& shown) {
    // The new result replaces the old in one step on this thread; the images table is emptied
    // first so that no row ever describes a group of another result.
    const ScanResult* result = &shown->scan;
    const QVariantList images = urlsOf(formingCopies(*result));
    shownRoot_ = result->root;
    leftovers_ = result->leftovers;
    for (const auto& passed : result->unreadable)
        log(tr("Unable to read %1: %2")
                .arg(toQString(passed.path), QString::fromStdString(passed.error.message())));
    if (imagesDataSource) {
        imagesDataSource->removeAllRows();
        duplicates = result->duplicates;
        groupReferences_ = shown->groups;
        imagesDataSource->addAllRows(images);
    } else {
        duplicates = result->duplicates;
        groupReferences_ = shown->groups;
        imagesDataSource = new NSURLTableViewDataSource(images, imagesTable_, this);
        configureImagesTable();
    }
    if (imagesTable_->model() != imagesDataSource) {
        imagesTable_->setModel(imagesDataSource);
        connect(imagesTable_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
                [this] {
                    if (!displaying_)
                        selectImage();
                });
        QHeaderView* header = imagesTable_->horizontalHeader();
        header->setSectionResizeMode(0, QHeaderView::Stretch);
        for (int column = 1; column < 5; ++column)
            header->setSectionResizeMode(column, QHeaderView::ResizeToContents);
    }

    displaying_ = true;
    QItemSelectionModel* selection = imagesTable_->selectionModel();
    if (imagesDataSource->rowCount() > 0)
        selection->setCurrentIndex(imagesDataSource->index(0, 0),
                                   QItemSelectionModel::ClearAndSelect |
                                       QItemSelectionModel::Rows);
    else
        selection->clear();
    displaying_ = false;
    selectImage();
    imagesTable_->scrollToTop();

    window_->siteLabel->setText(toQString(shownRoot_));
    window_->siteLabel->setToolTip(toQString(shownRoot_));
    window_->setWindowTitle(tr("%1 - Tolvane").arg(toQString(shownRoot_.filename())));
    if (!duplicates->empty()) {
        rootURL = result->root;
        optimizeEnabled_ = true;
    } else {
        showSheet(tr("There are no images to optimize!"),
                  tr("Your website contains no duplicate images that need optimizing."));
    }
    showSummary();
    refreshUndo();
    updateControls();
    emit scanShown();
}

void TolvaneAppDelegate::configureImagesTable() {
    imagesDataSource->setColumnTitles(
        {tr("Image"), tr("Copies"), tr("References"), tr("Size"), tr("Saving")});
    imagesDataSource->setCellPresenter([this](const QVariant& element, int row, int column,
                                              int role) -> QVariant {
        const DuplicateGroup* group =
            duplicates && row < static_cast<int>(duplicates->size()) ? &(*duplicates)[row] : nullptr;
        const GroupReferences* refs = referencesOf(row);
        const auto path = toPath(element.toUrl().toLocalFile());
        if (role == Qt::DisplayRole) {
            switch (column) {
            case 0:
                return toQString(path.filename());
            case 1:
                return group ? QVariant(static_cast<qulonglong>(group->copies.size())) : QVariant();
            case 2:
                return refs ? QVariant(static_cast<qulonglong>(refs->references)) : QVariant();
            case 3:
                return group ? sizeText(group->size) : QString();
            case 4:
                if (!group)
                    return QString();
                return sizeText(refs ? refs->saving(group->size) : savingOf(*group));
            }
        } else if (role == Qt::ToolTipRole && column == 2) {
            return tr("References in the site's pages, scripts, stylesheets and feeds that "
                      "point at the copies");
        } else if (role == Qt::ToolTipRole) {
            return relativeText(path, shownRoot_);
        } else if (role == Qt::TextAlignmentRole && column > 0) {
            return QVariant(Qt::AlignRight | Qt::AlignVCenter);
        }
        return {};
    });
}

void TolvaneAppDelegate::configurePagesTable() {
    pagesDataSource->setColumnTitles({tr("Copy"), tr("After optimizing")});
    pagesDataSource->setCellPresenter([this](const QVariant& element, int row, int column,
                                             int role) -> QVariant {
        const auto path = toPath(element.toUrl().toLocalFile());
        const GroupReferences* refs = referencesOf(pagesGroup_);
        const CopyPlan* copy =
            refs && row < static_cast<int>(refs->copies.size()) ? &refs->copies[row] : nullptr;
        const std::vector<KeepReason>* reasons = copy ? &copy->reasons : nullptr;
        // The copy whose bytes stay: in the site images folder or where it must stay.
        const bool kept = copy ? copy->fate == CopyPlan::Fate::kept ||
                                     (refs->placeFrom && row == 0)
                               : row == 0;
        if (role == Qt::DisplayRole) {
            if (column == 0)
                return relativeText(path, shownRoot_);
            return fateOf(refs, row);
        }
        if (role == Qt::ToolTipRole && column == 1 && reasons && !reasons->empty()) {
            QStringList lines;
            for (const KeepReason& reason : *reasons)
                lines << reasonText(reason);
            return lines.join('\n');
        }
        if (role == Qt::ToolTipRole)
            return toQString(path);
        if (role == Qt::FontRole && kept) {
            QFont font = pagesTable_->font();
            font.setBold(true);
            return font;
        }
        return {};
    });
}

QString TolvaneAppDelegate::reasonText(const KeepReason& reason) const {
    return relativeText(reason.file, shownRoot_) + QLatin1Char(' ') + fromUtf8(reason.reason);
}

QString TolvaneAppDelegate::fateOf(const GroupReferences* refs, int row) const {
    if (!refs || row < 0 || row >= static_cast<int>(refs->copies.size()))
        return row == 0 ? tr("Kept in images/") : tr("Deleted");
    const CopyPlan& copy = refs->copies[row];
    QString why;
    if (!copy.reasons.empty()) {
        why = reasonText(copy.reasons.front());
        if (copy.reasons.size() > 1)
            why += tr(" (and %1 more)").arg(copy.reasons.size() - 1);
    }
    if (!refs->handled())
        return why.isEmpty() ? tr("Stays: no copy of this image can go") : tr("Stays: %1").arg(why);
    switch (copy.fate) {
    case CopyPlan::Fate::kept:
        // A copy that must stay where it is keeps the bytes; the other copies lead to it.
        return why.isEmpty() ? tr("Kept in images/") : tr("Kept here, the others lead to it: %1").arg(why);
    case CopyPlan::Fate::stays:
        return tr("Stays: %1").arg(why);
    case CopyPlan::Fate::removed:
        break;
    }
    if (refs->placeFrom && row == 0) {
        if (refs->kept.filename() == refs->placeFrom->filename())
            return tr("Kept in images/");
        return tr("Kept as images/%1").arg(toQString(refs->kept.filename()));
    }
    return tr("Deleted");
}

void TolvaneAppDelegate::showPreview(const DuplicateGroup* group) {
    if (!group || group->copies.empty()) {
        window_->preview->showPicture({}, tr("Select an image to see it here."));
        window_->previewCaption->clear();
        return;
    }
    const QString path = toQString(group->copies.front());
    QImageReader reader(path);
    reader.setAutoTransform(true);
    const QImage image = reader.read();
    window_->preview->showPicture(QPixmap::fromImage(image), tr("No preview for this image."));
    QString caption = toQString(group->name);
    if (!image.isNull())
        caption += tr(", %1 × %2 pixels").arg(image.width()).arg(image.height());
    caption += tr(", %1 each").arg(sizeText(group->size));
    window_->previewCaption->setText(caption);
}

void TolvaneAppDelegate::showSummary() {
    if (!duplicates)
        return;
    if (duplicates->empty()) {
        window_->summaryLabel->setText(tr("No duplicate images in this website."));
        return;
    }
    std::size_t copies = 0;
    std::uint64_t bytes = 0;
    for (std::size_t i = 0; i < duplicates->size(); ++i) {
        const DuplicateGroup& group = (*duplicates)[i];
        const GroupReferences* refs = referencesOf(static_cast<int>(i));
        copies += refs ? refs->copiesSaved() : group.copies.size() - 1;
        bytes += refs ? refs->saving(group.size) : savingOf(group);
    }
    const QString images = duplicates->size() == 1
                               ? tr("1 duplicated image")
                               : tr("%1 duplicated images").arg(duplicates->size());
    const QString removals =
        copies == 1 ? tr("1 copy to remove") : tr("%1 copies to remove").arg(copies);
    window_->summaryLabel->setText(
        tr("%1, %2, %3 to save.").arg(images, removals, sizeText(bytes)));
}

// ---- Folder choice ---------------------------------------------------------------------------

void TolvaneAppDelegate::chooseFile([[maybe_unused]] const QStringList& fileTypes, PanelEnd didEnd,
                                    const QString& title, const QString& message,
                                    const QString& initialValue) {
    try {
        auto* openPanel = new QFileDialog(window_);
        selectFolderPanel = openPanel;
        openPanel->setAttribute(Qt::WA_DeleteOnClose);
        openPanel->setOption(QFileDialog::DontUseNativeDialog);
        openPanel->setFileMode(QFileDialog::Directory);
        openPanel->setOption(QFileDialog::ShowDirsOnly);
        openPanel->setWindowTitle(message);
        openPanel->setLabelText(QFileDialog::FileName, title);
        openPanel->setLabelText(QFileDialog::Accept, tr("Open"));
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
    const std::filesystem::path candidate =
        toPath(QDir::cleanPath(QFileInfo(folder).absoluteFilePath()));
    if (isWebsiteFolder(candidate)) {
        traverseWebsite(candidate);
        return;
    }
    showSheet(tr("Not a website folder."),
              tr("WARNING. That folder must contain index.html for it to be the root folder of "
                 "the site."));
}

void TolvaneAppDelegate::openWebsite() {
    if (isBusy())
        return;
    chooseFile({"PNG", "GIF", "JPG", "JPEG", "TIFF"}, &TolvaneAppDelegate::folderSelected,
               tr("Choose folder:"), tr("Choose folder containing root of website."),
               QDir::homePath());
}

// ---- Log and sheets --------------------------------------------------------------------------

void TolvaneAppDelegate::log(const QString& raw) {
    // One line each, whatever control characters a file name holds.
    const QString text = fromUtf8(printableLogLine(raw.toStdString()));
    logOfActions.append(text);
    const QByteArray line = text.toUtf8() + '\n';
    std::fwrite(line.constData(), 1, static_cast<std::size_t>(line.size()), stdout);
    std::fflush(stdout);
    window_->logView->appendPlainText(text);
    emit logged(text);
}

void TolvaneAppDelegate::popupErrorMessage(const QString& message,
                                           const std::optional<ErrorText>& error) {
    log(QStringLiteral("%1, error: %2")
            .arg(message, error ? error->description : QStringLiteral("(null)")));
    showSheet(message, error ? error->localizedDescription : QString());
}

QMessageBox* TolvaneAppDelegate::showSheet(const QString& text, const QString& informativeText) {
    QMessageBox* alert = makeSheet(window_, text, informativeText);
    alert->addButton(tr("OK"), QMessageBox::AcceptRole);
    alert->open();
    return alert;
}

// ---- Confirmation and run ---------------------------------------------------------------------

// The channel of a run or undo on the worker thread: its log lines, sheets, progress and
// re-scan reach the window queued; ended goes to the given slot, then the channel is deleted.
RunChannel* TolvaneAppDelegate::workerChannel(void (TolvaneAppDelegate::*ended)(bool)) {
    auto* channel = new RunChannel;
    channel->setParent(this); // outlives the worker even if the window closes meanwhile
    connect(channel, &RunChannel::logLine, this, &TolvaneAppDelegate::log, Qt::QueuedConnection);
    connect(channel, &RunChannel::errorSheet, this, &TolvaneAppDelegate::popupErrorMessage,
            Qt::QueuedConnection);
    connect(
        channel, &RunChannel::progressSetUp, this,
        [this](double maximum) {
            // A run with nothing to do still shows a bar, not a busy indicator.
            progressIndicator->setRange(0, std::max(1, static_cast<int>(maximum)));
            progressIndicator->setValue(0);
            progressIndicator->setTextVisible(true);
            progressIndicator->setFormat(tr("%v of %m steps"));
        },
        Qt::QueuedConnection);
    // A determinate bar has no animation to stop; the value reached stays visible.
    connect(
        channel, &RunChannel::progressStepped, this,
        [this] { progressIndicator->setValue(progressIndicator->value() + 1); },
        Qt::QueuedConnection);
    connect(channel, &RunChannel::rescanned, this, &TolvaneAppDelegate::showScanResult,
            Qt::QueuedConnection);
    connect(channel, &RunChannel::ended, this, ended, Qt::QueuedConnection);
    connect(channel, &RunChannel::ended, channel, &QObject::deleteLater, Qt::QueuedConnection);
    return channel;
}

void TolvaneAppDelegate::saveWebsite() {
    if (isBusy() || !optimizeEnabled_ || rootURL.empty())
        return;
    QMessageBox* alert =
        makeSheet(window_, tr("Are you sure?"),
                  tr("WARNING. You are about to overwrite files within your website."));
    QPushButton* yes = alert->addButton(tr("Yes"), QMessageBox::YesRole);
    QPushButton* no = alert->addButton(tr("No"), QMessageBox::NoRole);
    alert->setDefaultButton(no);
    alert->setEscapeButton(no);
    connect(alert, &QMessageBox::buttonClicked, this, [this, alert, yes](QAbstractButton* button) {
        overwriteAlertDidEnd(alert, button == yes ? yesCode : noCode);
    });
    alert->open();
}

void TolvaneAppDelegate::overwriteAlertDidEnd(QMessageBox* alert, qint64 returnCode) {
    if (returnCode != yesCode || isBusy() || !duplicates)
        return;
    // The sheet goes before any file is touched.
    alert->hide();
    RunJob job{rootURL, *duplicates, makeFileManager_(), leftovers_};
    optimizeEnabled_ = false; // back on only if the run fails or the re-scan finds duplicates
    setBusy(Busy::Running, tr("Optimizing %1...").arg(toQString(rootURL)));

    RunChannel* channel = workerChannel(&TolvaneAppDelegate::runEnded);
    connect(
        channel, &RunChannel::runCompleted, this,
        [this] {
            optimizeEnabled_ = false;
            updateControls();
            window_->statusLabel->setText(tr("Scanning the site again..."));
        },
        Qt::QueuedConnection);

    delete runThread_;
    runThread_ = QThread::create([this, job = std::move(job), channel] {
        startOptimization(job, *channel);
    });
    runThread_->start();
}

void TolvaneAppDelegate::startOptimization(const RunJob& job, RunChannel& channel) {
    ChannelReporter reporter(channel);
    // What undo needs is recorded outside the site; without that record nothing is touched.
    std::error_code journalError;
    std::optional<RunJournal> journal = RunJournal::start(job.root, journalError);
    if (!journal) {
        reporter.popupErrorMessage(
            localize("Unable to record the run for undo"),
            FileError{FileError::Operation::write, {journalHome()}, journalError});
        emit channel.ended(false);
        return;
    }
    RunOptions options;
    options.journal = &*journal;
    options.leftovers = job.leftovers;
    const RunOutcome outcome = tolvane::startOptimization(job.duplicates, job.root, *job.files,
                                                          reporter, localize, options);
    if (outcome.completed) {
        // The re-scan works here too; the window takes its result in one step on its thread.
        emit channel.rescanned(
            std::make_shared<const ScanDisplay>(withReferences(scanWebsite(job.root))));
    }
    emit channel.ended(outcome.completed);
}

void TolvaneAppDelegate::processFile(const QString& path, const QString& imageName,
                                     const QString& folder) {
    DirectReporter reporter(*this);
    const std::unique_ptr<FileManager> files = makeFileManager_();
    const std::filesystem::path pageFolder = toPath(folder);
    const RewriteTarget target{imagesFolderReference(pageFolder, rootURL),
                               imageName.toStdString()};
    tolvane::processFile(toPath(path), imageName.toStdString(), pageFolder, target, *files,
                         reporter, localize);
}

void TolvaneAppDelegate::runEnded(bool completed) {
    runThread_->wait();
    if (!completed)
        optimizeEnabled_ = true; // a run stopped at a failure leaves the button as it was
    refreshUndo();
    setBusy(Busy::Idle, completed ? tr("Optimization finished.")
                                  : tr("Optimization stopped at a failure."));
    emit runFinished(completed);
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
    QMessageBox* alert = makeSheet(
        window_, tr("Undo the last optimization?"),
        tr("WARNING. You are about to overwrite files within your website: it is put back as it "
           "was before the optimization of %1. Files changed since then are left as they are.")
            .arg(fromUtf8(localTimeText(run.time))));
    QPushButton* yes = alert->addButton(tr("Yes"), QMessageBox::YesRole);
    QPushButton* no = alert->addButton(tr("No"), QMessageBox::NoRole);
    alert->setDefaultButton(no);
    alert->setEscapeButton(no);
    connect(alert, &QMessageBox::buttonClicked, this, [this, alert, yes](QAbstractButton* button) {
        undoAlertDidEnd(alert, button == yes ? yesCode : noCode);
    });
    alert->open();
}

void TolvaneAppDelegate::undoAlertDidEnd(QMessageBox* alert, qint64 returnCode) {
    if (returnCode != yesCode || isBusy() || !undoableRun_)
        return;
    alert->hide();
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
    UndoJob job{root, *undoableRun_, makeFileManager_(),
                std::make_shared<SiteLock>(std::move(*lock))};
    setBusy(Busy::Running, tr("Undoing the last optimization of %1...").arg(toQString(root)));

    RunChannel* channel = workerChannel(&TolvaneAppDelegate::undoEnded);
    connect(
        channel, &RunChannel::runCompleted, this,
        [this] { window_->statusLabel->setText(tr("Scanning the site again...")); },
        Qt::QueuedConnection);

    delete runThread_;
    runThread_ = QThread::create([job = std::move(job), channel]() mutable {
        undoOnWorker(std::move(job), *channel);
    });
    runThread_->start();
}

void TolvaneAppDelegate::undoOnWorker(UndoJob job, RunChannel& channel) {
    ChannelReporter reporter(channel);
    const UndoOutcome outcome = tolvane::undoRun(job.run, *job.files, reporter, localize);
    job.lock.reset(); // the re-scan only reads
    reporter.log(outcome.complete
                     ? localize("Undo complete")
                     : localize("Undo incomplete: changes that could not be undone: ") +
                           std::to_string(outcome.left));
    emit channel.rescanned(
        std::make_shared<const ScanDisplay>(withReferences(scanWebsite(job.root))));
    emit channel.ended(outcome.complete);
}

void TolvaneAppDelegate::undoEnded(bool complete) {
    runThread_->wait();
    refreshUndo();
    setBusy(Busy::Idle, complete ? tr("Undo finished.")
                                 : tr("Undo finished; some changes could not be undone."));
    emit undoFinished(complete);
}

// ---- Controls ---------------------------------------------------------------------------------

void TolvaneAppDelegate::setBusy(Busy busy, const QString& status) {
    busy_ = busy;
    window_->statusLabel->setText(status);
    if (busy == Busy::Scanning) {
        progressIndicator->setTextVisible(false);
        progressIndicator->setRange(0, 0); // busy indicator
    } else if (busy == Busy::Idle && scanThread_ && scanThread_->isFinished() &&
               scanProgress_) {
        // The bar showed the scan; it is empty again until a run.
        scanProgress_.reset();
        progressIndicator->setRange(0, 1);
        progressIndicator->setValue(0);
    }
    updateControls();
}

void TolvaneAppDelegate::updateControls() {
    const bool idle = !isBusy();
    openWebsiteButton->setEnabled(idle);
    window_->openAction->setEnabled(idle);
    optimizeButton->setEnabled(idle && optimizeEnabled_);
    window_->optimizeAction->setEnabled(idle && optimizeEnabled_);
    window_->undoAction->setEnabled(idle && undoableRun_.has_value());
    window_->setAcceptsFolders(idle);
    window_->setClosable(busy_ != Busy::Running);
}

} // namespace tolvane
