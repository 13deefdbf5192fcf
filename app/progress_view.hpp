#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <memory>

class QLabel;
class QProgressBar;

namespace tolvane {

struct ScanCounters;

// "0:07", "12:30", "1:02:03".
QString durationText(qint64 milliseconds);

// The bar and the status line: a scan's counters as they move (polled), a run's or an undo's
// steps with the time taken and an estimate of the time left.
class ProgressView : public QObject {
    Q_OBJECT

  public:
    // text: the lines that show the scan's counters.
    ProgressView(QProgressBar& bar, QLabel& status, QLabel& summary, QObject* parent = nullptr);

    // Work has started: a busy indicator until the counts are known.
    void busy();
    // Polls counters until stop().
    void followScan(std::shared_ptr<const ScanCounters> counters);
    // A run or undo: its clock starts.
    void startWork();
    void setUp(double maximum);
    void step();
    // Nothing in progress; after a scan the bar is empty again until a run.
    void stop();

  private:
    void showScan();
    void showTime();

    QProgressBar& bar_;
    QLabel& status_;
    QLabel& summary_;
    std::shared_ptr<const ScanCounters> scan_;
    QTimer scanTicker_;
    QElapsedTimer clock_;
    QTimer workTicker_;
};

} // namespace tolvane
