#include "app/tolvane_app_delegate.hpp"

#include "app/log_view.hpp"
#include "app/main_window.hpp"
#include "app/path_text.hpp"
#include "app/preview_dialog.hpp"
#include "app/progress_view.hpp"
#include "app/result_tables.hpp"
#include "app/sheets.hpp"
#include "app/site_chooser.hpp"
#include "app/worker.hpp"
#include "run/undo.hpp"

#include <QAbstractButton>
#include <QAction>
#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTableView>

namespace tolvane {

namespace {

constexpr int yesCode = 1000;
constexpr int noCode = 1001;

} // namespace

TolvaneAppDelegate::TolvaneAppDelegate(QObject* parent) : QObject(parent) {
    qRegisterMetaType<std::optional<ErrorText>>();
    qRegisterMetaType<std::shared_ptr<const ScanDisplay>>();
    qRegisterMetaType<RunSummary>();
    qRegisterMetaType<std::shared_ptr<const PreviewList>>();
    makeFileManager_ = [] { return std::make_unique<RealFileManager>(); };
    window_ = new MainWindow;
    window_->setAttribute(Qt::WA_DeleteOnClose, false);
    sheets_ = new Sheets(window_, this);
    chooser_ = new SiteChooser(*window_, *sheets_, this);
    connect(chooser_, &SiteChooser::chosen, this, &TolvaneAppDelegate::traverseWebsite);
    worker_ = new Worker(this);
    tables_ = new ResultTables(
        *window_, model_, *sheets_, [this] { return isBusy(); }, this);
    progress_ = new ProgressView(*window_->progressIndicator, *window_->statusLabel,
                                 *window_->summaryLabel, this);
    connect(tables_, &ResultTables::choicesChanged, this, &TolvaneAppDelegate::choicesChanged);
    connect(tables_, &ResultTables::copiesSelected, this, &TolvaneAppDelegate::updateControls);
    connectControls();
    updateControls();
}

TolvaneAppDelegate::~TolvaneAppDelegate() {
    for (const auto& work : {scan_, state_ == State::Previewing ? work_ : nullptr})
        if (work)
            work->cancel();
    worker_->wait();
    delete window_;
}

void TolvaneAppDelegate::applicationDidFinishLaunching() {
    logOfActions_.clear();
}

// ---- States -----------------------------------------------------------------------------------

void TolvaneAppDelegate::enter(State state, const QString& status) {
    const State was = state_;
    state_ = state;
    window_->statusLabel->setText(status);
    const bool working =
        state == State::Running || state == State::Undoing || state == State::Previewing;
    if (state == State::Scanning || working)
        progress_->busy();
    if (working)
        progress_->followWork(work_);
    if (!isBusy() && was != state)
        progress_->stop(was != State::Previewing); // a preview's count is no run's
    updateControls();
}

void TolvaneAppDelegate::updateControls() {
    const bool idle = !isBusy();
    MainWindow* w = window_;
    const auto enable = [](bool enabled, QWidget* button, QAction* action) {
        if (button)
            button->setEnabled(enabled);
        action->setEnabled(enabled);
    };
    enable(idle, w->openWebsiteButton, w->openAction);
    enable(idle && !model_.shownRoot().empty(), nullptr, w->rescanAction);
    const bool canOptimize = idle && !model_.root().empty() && model_.totals().copies > 0;
    enable(canOptimize, w->optimizeButton, w->optimizeAction);
    enable(canOptimize, w->previewButton, w->previewAction);
    const bool stoppable = state_ == State::Scanning || state_ == State::Previewing;
    enable(stoppable || state_ == State::Running, w->cancelButton, w->cancelAction);
    enable(idle && undoableRun_.has_value(), nullptr, w->undoAction);
    tables_->updateActions(idle);
    w->setAcceptsFolders(idle);
    w->setClosable(idle || stoppable);
}

// ---- Scan -------------------------------------------------------------------------------------

void TolvaneAppDelegate::traverseWebsite(const std::filesystem::path& root) {
    if (isBusy())
        return;
    // The header names the site being scanned from the start; the tables keep the previous
    // result until the new one is complete.
    showHeader(root);
    window_->summaryLabel->setText(tr("Scanning %1...").arg(toQString(root.filename())));
    window_->logView->beginSection(tr("Scan of %1, %2").arg(toQString(root), nowText()));
    enter(State::Scanning, tr("Scanning %1...").arg(toQString(root)));
    auto progress = std::make_shared<Progress>();
    scan_ = progress;
    scanChannel_ =
        worker_->start([root, progress](RunChannel& channel) { scanJob(root, *progress, channel); },
                       [this](RunChannel& channel) {
                           connect(&channel, &RunChannel::scanned, this,
                                   &TolvaneAppDelegate::scanFinished, Qt::QueuedConnection);
                       });
    progress_->followScan(progress);
}

void TolvaneAppDelegate::scanFinished(const std::shared_ptr<const ScanDisplay>& shown) {
    scan_.reset();
    scanChannel_ = nullptr;
    enter(model_.hasResult() ? State::Ready : State::Idle, {});
    showScanResult(*shown, true);
}

void TolvaneAppDelegate::cancel() {
    if (state_ == State::Scanning) {
        // Whatever the scan still sends is ignored; the worker lets it finish on its own.
        scan_->cancel();
        scan_.reset();
        disconnect(scanChannel_, nullptr, this, nullptr);
        scanChannel_ = nullptr;
        log(tr("Scan cancelled."));
        enter(model_.hasResult() ? State::Ready : State::Idle, tr("Scan cancelled."));
        // The previous result is what the window shows again, header included.
        showHeader(model_.shownRoot());
        showSummary();
        emit scanCancelled();
    } else if (state_ == State::Running || state_ == State::Previewing) {
        work_->cancel(); // a preview stops and is not shown
        if (state_ == State::Running)
            enter(State::Cancelling, tr("Stopping, then putting back what the run has changed..."));
    }
}

void TolvaneAppDelegate::rescan() {
    if (!isBusy() && !model_.shownRoot().empty())
        traverseWebsite(model_.shownRoot());
}

void TolvaneAppDelegate::showScanResult(const ScanDisplay& shown, bool userScan) {
    if (shown.scan.cancelled)
        return;
    for (const auto& passed : shown.scan.unreadable)
        log(tr("Unable to read %1: %2")
                .arg(toQString(passed.path), QString::fromStdString(passed.error.message())));
    // The new result replaces the old in one step on this thread.
    model_.show(shown);
    if (!isBusy())
        state_ = State::Ready;
    tables_->showResult();
    showHeader(model_.shownRoot());
    showSummary();
    log(window_->summaryLabel->text());
    // A scan the user asked for says when there is nothing to do; after a run or an undo, its
    // own sheet says what is left.
    QMessageBox* nothing = nullptr;
    if (userScan && model_.groups().empty())
        nothing = sheets_->show(tr("There are no images to optimize!"),
                                tr("Your website contains no duplicate images that need "
                                   "optimizing."));
    else if (userScan && model_.totals().copies == 0 && !model_.anyChoice())
        nothing = sheets_->show(tr("There are no images to optimize!"),
                                tr("Every copy of the duplicate images has to stay where it is; "
                                   "the copies table says why."));
    if (nothing)
        nothing->setIcon(QMessageBox::Information);
    refreshUndo();
    updateControls();
    emit scanShown();
}

void TolvaneAppDelegate::showHeader(const std::filesystem::path& root) {
    window_->siteLabel->setText(toQString(root));
    window_->siteLabel->setToolTip(toQString(root));
    window_->setWindowTitle(root.empty() ? tr("Tolvane")
                                         : tr("%1 - Tolvane").arg(toQString(root.filename())));
}

void TolvaneAppDelegate::showSummary() {
    const PlanModel::Totals totals = model_.totals();
    window_->summaryLabel->setText(
        !model_.hasResult() ? tr("Open the root folder of an exported website to find its "
                                 "duplicate images.")
        : model_.groups().empty()
            ? tr("No duplicate images in this website.")
            : tr("%1, %2, %3 to save.")
                  .arg(counted(model_.groups().size(), tr("1 duplicated image"),
                               tr("%L1 duplicated images")),
                       counted(totals.copies, tr("1 copy to remove"), tr("%L1 copies to remove")),
                       sizeText(totals.bytes)));
}

// ---- Choices ----------------------------------------------------------------------------------

void TolvaneAppDelegate::choicesChanged() {
    tables_->refresh();
    showSummary();
    updateControls();
}

// ---- Controls ---------------------------------------------------------------------------------

void TolvaneAppDelegate::connectControls() {
    MainWindow* w = window_;
    const auto on = [this](auto* sender, auto signal, auto slot) {
        connect(sender, signal, this, slot);
    };
    // A button and its menu item do the same.
    const auto both = [&on](QPushButton* button, QAction* action, auto slot) {
        on(button, &QPushButton::clicked, slot);
        on(action, &QAction::triggered, slot);
    };
    both(w->openWebsiteButton, w->openAction, &TolvaneAppDelegate::openWebsite);
    on(w->rescanAction, &QAction::triggered, &TolvaneAppDelegate::rescan);
    both(w->optimizeButton, w->optimizeAction, &TolvaneAppDelegate::saveWebsite);
    both(w->previewButton, w->previewAction, &TolvaneAppDelegate::previewChanges);
    both(w->cancelButton, w->cancelAction, &TolvaneAppDelegate::cancel);
    on(w->undoAction, &QAction::triggered, &TolvaneAppDelegate::undoLastOptimization);
    both(w->clearLogButton, w->clearLogAction, &TolvaneAppDelegate::clearLog);
    both(w->saveLogButton, w->saveLogAction, [this] {
        window_->logView->askWhereToSave([this](const QString& path) { saveLog(path); });
    });
    on(w->aboutAction, &QAction::triggered, [this] { showAboutSheet(window_); });
    on(w, &MainWindow::folderDropped, &TolvaneAppDelegate::openFolder);
    on(w, &MainWindow::closeRequested, &TolvaneAppDelegate::askToClose);
    connect(w->quitAction, &QAction::triggered, w, &QWidget::close);
}

// ---- Folder choice ----------------------------------------------------------------------------

void TolvaneAppDelegate::openWebsite() {
    if (!isBusy())
        chooser_->openWebsite();
}

void TolvaneAppDelegate::openFolder(const QString& folder) {
    if (!isBusy())
        chooser_->openFolder(folder);
}

// ---- Log and sheets ---------------------------------------------------------------------------

void TolvaneAppDelegate::log(const QString& raw) {
    const QString text = window_->logView->labelled(raw);
    logOfActions_.append(text);
    window_->logView->appendLine(text);
    emit logged(text);
}

void TolvaneAppDelegate::popupErrorMessage(const QString& message,
                                           const std::optional<ErrorText>& error) {
    log(QStringLiteral("%1, error: %2")
            .arg(message, error ? error->description : QStringLiteral("(null)")));
    // A run gathers its problems for its summary; anything else shows each at once.
    const QString detail = error ? error->localizedDescription : QString();
    if (state_ == State::Running || state_ == State::Cancelling)
        report_.problem(message, detail);
    else
        sheets_->show(message, detail);
}

bool TolvaneAppDelegate::saveLog(const QString& path) {
    QString error;
    if (window_->logView->saveTo(path, &error))
        return true;
    sheets_->show(tr("Unable to save the log to %1").arg(path), error);
    return false;
}

void TolvaneAppDelegate::clearLog() {
    window_->logView->clearLog();
    logOfActions_.clear();
}

void TolvaneAppDelegate::processFile(const QString& path, const QString& imageName,
                                     const QString& folder) {
    rewritePage(
        toPath(path), imageName.toStdString(), toPath(folder), model_.root(), *makeFileManager_(),
        [this](const QString& line) { log(line); },
        [this](const QString& message, const std::optional<ErrorText>& error) {
            popupErrorMessage(message, error);
        });
}

// ---- Run --------------------------------------------------------------------------------------

void TolvaneAppDelegate::listen(RunChannel& channel) {
    const auto queued = [this, &channel](auto signal, auto slot) {
        connect(&channel, signal, this, slot, Qt::QueuedConnection);
    };
    queued(&RunChannel::logLine, &TolvaneAppDelegate::log);
    queued(&RunChannel::errorSheet, &TolvaneAppDelegate::popupErrorMessage);
    queued(&RunChannel::runCompleted,
           [this] { window_->statusLabel->setText(tr("Scanning the site again...")); });
    queued(&RunChannel::summarized, [this](const RunSummary& summary) {
        report_.summarized(summary);
        log(RunSummaryText::headline(report_.summary) + QLatin1Char(' ') +
            RunSummaryText::counts(report_.summary));
    });
    queued(&RunChannel::previewed, &TolvaneAppDelegate::showPreview);
    queued(&RunChannel::scanned, [this](const std::shared_ptr<const ScanDisplay>& shown) {
        if (state_ == State::Running || state_ == State::Cancelling)
            report_.rescanned(shown->groups);
        showScanResult(*shown, false);
    });
}

void TolvaneAppDelegate::saveWebsite() {
    if (isBusy() || model_.root().empty() || model_.totals().copies == 0)
        return;
    const PlanModel::Totals totals = model_.totals();
    QPushButton* optimize = nullptr;
    QMessageBox* alert = makeConfirmation(window_, toQString(model_.root().filename()),
                                          totals.copies, totals.files, totals.bytes, &optimize);
    connect(alert, &QMessageBox::buttonClicked, this,
            [this, alert, optimize](QAbstractButton* button) {
                overwriteAlertDidEnd(alert, button == optimize ? yesCode : noCode);
            });
    alert->open();
}

void TolvaneAppDelegate::overwriteAlertDidEnd(QMessageBox* alert, qint64 returnCode) {
    if (returnCode != yesCode || isBusy() || !model_.hasResult())
        return;
    alert->hide(); // the sheet goes before any file is touched
    startRun();
}

void TolvaneAppDelegate::previewChanges() {
    if (isBusy() || model_.root().empty() || model_.totals().copies == 0)
        return;
    work_ = std::make_shared<Progress>();
    enter(State::Previewing, tr("Listing the changes a run would make..."));
    // The worker reads a copy of the plan: the window may show another result meanwhile.
    launch([model = model_,
            progress = work_](RunChannel& channel) { previewJob(model, *progress, channel); },
           &TolvaneAppDelegate::previewEnded);
}

void TolvaneAppDelegate::showPreview(const std::shared_ptr<const PreviewList>& list) {
    if (state_ != State::Previewing || work_->cancelled())
        return;
    auto* preview = new PreviewDialog(*list, window_);
    preview->setAttribute(Qt::WA_DeleteOnClose);
    preview->show();
    log(tr("Preview of the changes shown in the window “%1”. %2")
            .arg(preview->windowTitle(), list->counts));
}

void TolvaneAppDelegate::previewEnded(bool complete) {
    worker_->wait();
    enter(model_.hasResult() ? State::Ready : State::Idle,
          complete ? QString() : tr("Preview cancelled."));
}

void TolvaneAppDelegate::startRun() {
    work_ = std::make_shared<Progress>();
    RunJob job{model_.root(), model_.chosenDuplicates(), makeFileManager_(), model_.leftovers(),
               work_,         model_.choices()};
    report_ = {};
    window_->logView->beginSection(
        tr("Optimization of %1, %2").arg(toQString(model_.root()), nowText()));
    enter(State::Running, tr("Optimizing %1...").arg(toQString(model_.root())));
    launch([job = std::move(job)](RunChannel& channel) { runJob(job, channel); },
           &TolvaneAppDelegate::runEnded);
}

void TolvaneAppDelegate::runEnded(bool completed) {
    worker_->wait();
    refreshUndo();
    enter(model_.hasResult() ? State::Ready : State::Idle,
          RunSummaryText::headline(report_.summary));
    if (closeWhenStopped_) {
        window_->close();
        return;
    }
    showRunSheet();
    emit runFinished(completed);
}

void TolvaneAppDelegate::showRunSheet() {
    const RunSummary& summary = report_.summary;
    if (summary.rescanned)
        log(RunSummaryText::left(summary));
    QMessageBox* sheet = makeEndSheet(window_, summary, report_.message, report_.detail);
    // A run that went wrong can be put back from its own sheet.
    const bool wentWrong = summary.end == RunSummary::End::failed || summary.errors > 0;
    if (wentWrong && undoableRun_ && !summary.record.isEmpty() &&
        QFileInfo(toQString(undoableRun_->folder)) == QFileInfo(summary.record)) {
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
    sheets_->queue(sheet, true);
}

void TolvaneAppDelegate::askToClose() {
    if (closeWhenStopped_)
        return;
    const bool undoing = state_ == State::Undoing;
    QPushButton* stop = nullptr;
    QMessageBox* alert = makeCloseQuestion(window_, undoing, &stop);
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
    undoableRun_ = model_.shownRoot().empty() ? std::nullopt : lastUndoableRun(model_.shownRoot());
}

void TolvaneAppDelegate::undoLastOptimization() {
    if (isBusy())
        return;
    refreshUndo();
    updateControls();
    if (!undoableRun_)
        return;
    QPushButton* yes = nullptr;
    QMessageBox* alert =
        makeUndoQuestion(window_, QString::fromStdString(localTimeText(undoableRun_->time)), &yes);
    connect(alert, &QMessageBox::buttonClicked, this, [this, alert, yes](QAbstractButton* button) {
        if (button != yes || isBusy() || !undoableRun_)
            return;
        alert->hide();
        startUndo();
    });
    alert->open();
}

void TolvaneAppDelegate::startUndo() {
    const std::filesystem::path root = model_.shownRoot();
    QString whyNot, detail;
    work_ = std::make_shared<Progress>();
    std::optional<UndoJob> job =
        prepareUndo(root, *undoableRun_, makeFileManager_(), work_, whyNot, detail);
    if (!job)
        return (void)sheets_->show(whyNot, detail);
    window_->logView->beginSection(
        tr("Undo of the last optimization of %1, %2").arg(toQString(root), nowText()));
    enter(State::Undoing, tr("Undoing the last optimization of %1...").arg(toQString(root)));
    launch([job = std::move(*job)](RunChannel& channel) { undoJob(job, channel); },
           &TolvaneAppDelegate::undoEnded);
}

void TolvaneAppDelegate::launch(std::function<void(RunChannel&)> job,
                                void (TolvaneAppDelegate::*ended)(bool)) {
    worker_->start(std::move(job), [this, ended](RunChannel& channel) {
        listen(channel);
        connect(&channel, &RunChannel::ended, this, ended, Qt::QueuedConnection);
    });
}

void TolvaneAppDelegate::undoEnded(bool complete) {
    worker_->wait();
    refreshUndo();
    enter(model_.hasResult() ? State::Ready : State::Idle,
          complete ? tr("Undo finished.") : tr("Undo finished; some changes could not be undone."));
    if (closeWhenStopped_) {
        window_->close();
        return;
    }
    emit undoFinished(complete);
}

} // namespace tolvane
