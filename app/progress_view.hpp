#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <memory>

class QLabel;
class QProgressBar;

namespace tolvane {

class Progress;

// "0:07", "12:30", "1:02:03".
QString durationText(qint64 milliseconds);

// The bar and the status line, polled from the work's Progress: a scan's walk, comparison and
// references as they move, a run's or an undo's steps with the time taken and an estimate of
// the time left.
class ProgressView : public QObject {
    Q_OBJECT

  public:
    // text: the lines that show the scan's counters.
    ProgressView(QProgressBar& bar, QLabel& status, QLabel& summary, QObject* parent = nullptr);

    // Work has started: a busy indicator until the counts are known.
    void busy();
    // Polls a scan's progress until stop().
    void followScan(std::shared_ptr<const Progress> progress);
    // A run or undo: its clock starts and its steps are polled until stop().
    void followWork(std::shared_ptr<const Progress> progress);
    // Nothing in progress; after a run or an undo the bar shows where the work got to (with
    // keepWork), else it is empty again.
    void stop(bool keepWork = true);

  private:
    void showScan();
    void showWork();
    void showTime();

    QProgressBar& bar_;
    QLabel& status_;
    QLabel& summary_;
    std::shared_ptr<const Progress> scan_;
    std::shared_ptr<const Progress> work_;
    QTimer scanTicker_;
    QElapsedTimer clock_;
    QTimer workTicker_;
};

} // namespace tolvane
