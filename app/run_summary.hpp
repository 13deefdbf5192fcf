#pragma once

#include "run/site_plan.hpp"

#include <QCoreApplication>
#include <QMetaType>
#include <QString>
#include <QStringList>

#include <cstddef>
#include <cstdint>

class QMessageBox;
class QWidget;

namespace tolvane {

// What one run did, as the window reports it at the end: in the log and in a sheet.
struct RunSummary {
    enum class End { completed, cancelled, failed };
    End end = End::completed;
    bool dryRun = false; // a preview: nothing was changed, the counts are what a run would do
    std::size_t copiesRemoved = 0;
    std::uint64_t bytesSaved = 0;
    std::size_t filesRewritten = 0;
    std::size_t copiesStayed = 0;
    std::size_t errors = 0; // sheets other than the copies that stayed
    // A cancelled run is undone: whether everything was put back, and how many changes stayed.
    bool undone = false;
    std::size_t undoLeft = 0;
    // What the scan after the run found: the groups left, and the copies a run could remove.
    bool rescanned = false;
    std::size_t groupsLeft = 0;
    std::size_t copiesLeft = 0;
    QString record; // the folder of the run's record, for Undo; empty for a preview
    // Each sheet of the run, the copies that stayed among them: the message, then its detail.
    QStringList problems;
};

// What the window gathers of a run as its reports arrive: its problems, the last of them
// (which ends a failed run), its summary and what the scan after it found.
struct RunReport {
    RunSummary summary;
    QStringList problems;
    QString message; // the last problem
    QString detail;
    void problem(const QString& text, const QString& why);
    void summarized(const RunSummary& done);
    void rescanned(const std::vector<GroupPlan>& left);
};

class RunSummaryText {
    Q_DECLARE_TR_FUNCTIONS(tolvane::RunSummaryText)

  public:
    // "Optimization finished.", "Optimization cancelled.", ...
    static QString headline(const RunSummary& summary);
    // "Removed 5 copies, saved 1.2 KB; 4 files rewritten; 1 copy stayed."
    static QString counts(const RunSummary& summary);
    // What the scan after the run found: "No duplicate images are left." or what is left;
    // empty without a scan.
    static QString left(const RunSummary& summary);
    // Every problem of the run, one a line; empty when there was none.
    static QString details(const RunSummary& summary);
};

// The sheet shown at the end of a run, window-modal, deleted when closed; its Details button
// lists the copies that stayed and every error.
QMessageBox* makeSummarySheet(QWidget* window, const RunSummary& summary);

// The one sheet at the end of a run. A run that failed leads with the failure (message and
// detail) and has what else happened beneath.
QMessageBox* makeEndSheet(QWidget* window, const RunSummary& summary, const QString& message,
                          const QString& detail);

} // namespace tolvane

Q_DECLARE_METATYPE(tolvane::RunSummary)
