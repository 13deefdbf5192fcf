#include "app/progress_view.hpp"

#include "app/path_text.hpp"
#include "util/progress.hpp"

#include <QLabel>
#include <QLocale>
#include <QProgressBar>

#include <algorithm>
#include <limits>

namespace tolvane {

QString durationText(qint64 milliseconds) {
    const qint64 seconds = milliseconds / 1000;
    const QString s = QStringLiteral("%1").arg(seconds % 60, 2, 10, QLatin1Char('0'));
    if (seconds < 3600)
        return QStringLiteral("%1:%2").arg(seconds / 60).arg(s);
    return QStringLiteral("%1:%2:%3")
        .arg(seconds / 3600)
        .arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(s);
}

ProgressView::ProgressView(QProgressBar& bar, QLabel& status, QLabel& summary, QObject* parent)
    : QObject(parent), bar_(bar), status_(status), summary_(summary) {
    scanTicker_.setInterval(100);
    connect(&scanTicker_, &QTimer::timeout, this, &ProgressView::showScan);
    workTicker_.setInterval(1000);
    connect(&workTicker_, &QTimer::timeout, this, &ProgressView::showTime);
}

void ProgressView::busy() {
    bar_.setTextVisible(false);
    bar_.setRange(0, 0);
    bar_.setValue(0);
}

void ProgressView::followScan(std::shared_ptr<const Progress> progress) {
    scan_ = std::move(progress);
    scanTicker_.start();
}

void ProgressView::followWork(std::shared_ptr<const Progress> progress) {
    work_ = std::move(progress);
    clock_.start();
    workTicker_.start();
    scanTicker_.start();
}

void ProgressView::stop(bool keepWork) {
    const bool empty = scan_ || (work_ && !keepWork);
    if (work_ && keepWork)
        showWork(); // where the work got to stays visible
    work_.reset();
    scan_.reset();
    workTicker_.stop();
    scanTicker_.stop();
    if (empty) {
        bar_.setTextVisible(false);
        bar_.setRange(0, 1);
        bar_.setValue(0);
    }
}

void ProgressView::showScan() {
    if (work_)
        return showWork();
    if (!scan_)
        return;
    QString text;
    const auto fraction = [this](std::uint64_t done, std::uint64_t total) {
        bar_.setRange(0, 1000);
        bar_.setValue(static_cast<int>(std::min(done, total) * 1000 / total));
    };
    const Progress::Snapshot now = scan_->snapshot();
    if (now.phase == Phase::indexing) {
        // The number of text files is known once they are listed; until then the bar is busy.
        if (now.total > 0) {
            fraction(now.done, now.total);
            text = tr("Finding the references to the copies: %L1 of %L2 text files read")
                       .arg(std::min(now.done, now.total))
                       .arg(now.total);
        } else {
            bar_.setRange(0, 0);
            text = tr("Finding the references to the copies...");
        }
    } else if (now.phase == Phase::comparing && now.total > 0) {
        // Only files that share name and size with another are read: their total is known.
        const std::uint64_t done = std::min(now.done, now.total);
        fraction(done, now.total);
        text = tr("Comparing images: %1 of %2 read").arg(sizeText(done), sizeText(now.total));
    } else {
        text = tr("Scanning: %L1 entries walked").arg(now.phase == Phase::walking ? now.done : 0);
    }
    status_.setText(text);
    summary_.setText(text);
}

void ProgressView::showWork() {
    if (!work_)
        return;
    const Progress::Snapshot now = work_->snapshot();
    const bool counting = now.phase == Phase::optimizing || now.phase == Phase::undoing ||
                          now.phase == Phase::previewing || now.phase == Phase::finished;
    if (!counting)
        return; // busy until the steps are known
    // A run with nothing to do still shows a bar, not a busy indicator.
    const int total = static_cast<int>(std::min<std::uint64_t>(
        std::max<std::uint64_t>(now.total, 1), std::numeric_limits<int>::max()));
    bar_.setRange(0, total);
    bar_.setValue(static_cast<int>(std::min<std::uint64_t>(now.done, total)));
    bar_.setTextVisible(true);
    showTime();
}

void ProgressView::showTime() {
    const int total = bar_.maximum() - bar_.minimum();
    if (total <= 0)
        return; // the steps are not known yet
    const qint64 elapsed = clock_.isValid() ? clock_.elapsed() : 0;
    const int done = bar_.value() - bar_.minimum();
    // An estimate from the pace so far, once there is a pace to speak of.
    if (done > 0 && done < total && elapsed >= 2000) {
        const qint64 left = elapsed * (total - done) / done;
        bar_.setFormat(tr("%v of %m steps, %1 elapsed, about %2 left")
                           .arg(durationText(elapsed), durationText(left)));
    } else {
        bar_.setFormat(tr("%v of %m steps, %1 elapsed").arg(durationText(elapsed)));
    }
}

} // namespace tolvane
