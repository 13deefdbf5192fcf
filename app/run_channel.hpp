#pragma once

#include "app/run_summary.hpp"
#include "app/tolvane_app_delegate.hpp"

#include <QMetaType>
#include <QObject>

#include <memory>
#include <optional>

namespace tolvane {

// What a run on the worker thread asks of the window. Its signals are emitted on the worker
// and connected queued to the window's thread, so the requests arrive there in the order made.
class RunChannel : public QObject {
    Q_OBJECT

  signals:
    void logLine(const QString& line);
    void errorSheet(const QString& message, const std::optional<tolvane::ErrorText>& error);
    void runCompleted();
    // What the run did, before the re-scan's result.
    void summarized(const tolvane::RunSummary& summary);
    void rescanned(const std::shared_ptr<const tolvane::ScanDisplay>& shown);
    void ended(bool completed);
};

} // namespace tolvane

Q_DECLARE_METATYPE(std::optional<tolvane::ErrorText>)
Q_DECLARE_METATYPE(std::shared_ptr<const tolvane::ScanDisplay>)
