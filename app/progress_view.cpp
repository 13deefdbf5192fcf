#include "app/progress_view.hpp"

#include "app/path_text.hpp"
#include "app/worker.hpp"

#include <QLabel>
#include <QLocale>
#include <QProgressBar>

#include <algorithm>

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

void ProgressView::followScan(std::shared_ptr<const ScanCounters> counters) {
    scan_ = std::move(counters);
    scanTicker_.start();
}

void ProgressView::startWork() {
    clock_.start();
    workTicker_.start();
}

void ProgressView::setUp(double maximum) {
    // A run with nothing to do still shows a bar, not a busy indicator.
    bar_.setRange(0, std::max(1, static_cast<int>(maximum)));
    bar_.setValue(0);
    bar_.setTextVisible(true);
    showTime();
}

void ProgressView::step() {
    // A determinate bar has no animation to stop; the value reached stays visible.
    bar_.setValue(bar_.value() + 1);
    showTime();
}

void ProgressView::stop() {
    workTicker_.stop();
    if (scan_) {
        scanTicker_.stop();
        scan_.reset();
        bar_.setRange(0, 1);
        bar_.setValue(0);
    }
}

void ProgressView::showScan() {
    if (!scan_)
        return;
    QString text;
    const auto fraction = [this](std::uint64_t done, std::uint64_t total) {
        bar_.setRange(0, 1000);
        bar_.setValue(static_cast<int>(std::min(done, total) * 1000 / total));
    };
    if (scan_->findingReferences) {
        // The number of text files is known once the walk is over; until then the bar is busy.
        const std::uint64_t found = scan_->references.textFilesFound.load();
        const std::uint64_t read = std::min(scan_->references.textFilesRead.load(), found);
        if (found > 0) {
            fraction(read, found);
            text = tr("Finding the references to the copies: %L1 of %L2 text files read")
                       .arg(read)
                       .arg(found);
        } else {
            bar_.setRange(0, 0);
            text = tr("Finding the references to the copies...");
        }
    } else if (const std::uint64_t total = scan_->scan.candidateBytes.load();
               scan_->scan.phase.load() == ScanPhase::Comparing && total > 0) {
        // Only files that share name and size with another are read: their total is known.
        const std::uint64_t done = std::min(scan_->scan.bytesHashed.load(), total);
        fraction(done, total);
        text = tr("Comparing %L1 images: %2 of %3 read")
                   .arg(scan_->scan.candidateFiles.load())
                   .arg(sizeText(done), sizeText(total));
    } else {
        text = tr("Scanning: %L1 entries walked").arg(scan_->scan.entriesWalked.load());
    }
    status_.setText(text);
    summary_.setText(text);
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
