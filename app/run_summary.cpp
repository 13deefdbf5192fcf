#include "app/run_summary.hpp"

#include "app/path_text.hpp"

#include <QGridLayout>
#include <QMessageBox>
#include <QPushButton>

namespace tolvane {

QString RunSummaryText::headline(const RunSummary& summary) {
    if (summary.dryRun)
        return tr("Preview of the optimization: nothing was changed.");
    switch (summary.end) {
    case RunSummary::End::completed:
        return tr("Optimization finished.");
    case RunSummary::End::cancelled:
        return summary.undoLeft == 0
                   ? tr("Optimization cancelled. The website is as it was before.")
                   : tr("Optimization cancelled. Some of its changes could not be put back.");
    case RunSummary::End::failed:
        break;
    }
    return tr("Optimization stopped at a failure.");
}

QString RunSummaryText::counts(const RunSummary& s) {
    const QString copies = counted(s.copiesRemoved, tr("1 copy"), tr("%L1 copies"));
    const QString files = counted(s.filesRewritten, tr("1 file"), tr("%L1 files"));
    const QString stayed = counted(s.copiesStayed, tr("1 copy"), tr("%L1 copies"));
    if (s.end == RunSummary::End::cancelled && !s.dryRun) {
        if (s.undoLeft == 0)
            return tr("Everything the run had changed was put back.");
        return counted(s.undoLeft, tr("1 change stayed in place; the log says which."),
                       tr("%L1 changes stayed in place; the log says which."));
    }
    if (s.dryRun)
        return tr("A run would remove %1, save %2 and rewrite %3; %4 would stay.")
            .arg(copies, sizeText(s.bytesSaved), files, stayed);
    return tr("Removed %1, saved %2; %3 rewritten; %4 stayed.")
        .arg(copies, sizeText(s.bytesSaved), files, stayed);
}

QString RunSummaryText::left(const RunSummary& s) {
    if (!s.rescanned)
        return {};
    if (s.groupsLeft == 0)
        return tr("No duplicate images are left.");
    if (s.copiesLeft == 0)
        return counted(s.groupsLeft,
                       tr("1 duplicated image is left; its copies have to stay where they are."),
                       tr("%L1 duplicated images are left; their copies have to stay where they "
                          "are."));
    return counted(s.groupsLeft,
                   tr("1 duplicated image is left, with %1 that a new run could remove."),
                   tr("%L1 duplicated images are left, with %2 that a new run could remove."))
        .arg(counted(s.copiesLeft, tr("1 copy"), tr("%L1 copies")));
}

void RunReport::problem(const QString& text, const QString& why) {
    problems << (why.isEmpty() ? text : text + QStringLiteral(": ") + why);
    summary.problems = problems;
    message = text;
    detail = why;
}

void RunReport::summarized(const RunSummary& done) {
    summary = done;
    summary.problems = problems;
}

void RunReport::rescanned(const std::vector<GroupPlan>& left) {
    summary.rescanned = true;
    summary.groupsLeft = left.size();
    summary.copiesLeft = 0;
    for (const GroupPlan& plan : left)
        summary.copiesLeft += plan.copiesSaved();
}

QString RunSummaryText::details(const RunSummary& summary) {
    return summary.problems.join(QLatin1Char('\n'));
}

QMessageBox* makeSummarySheet(QWidget* window, const RunSummary& summary) {
    // A warning only where something went wrong or the site is not as the user asked.
    const bool fine =
        summary.errors == 0 && summary.undoLeft == 0 && summary.end != RunSummary::End::failed;
    auto* sheet = new QMessageBox(fine ? QMessageBox::Information : QMessageBox::Warning,
                                  QStringLiteral("Tolvane"), RunSummaryText::headline(summary),
                                  QMessageBox::NoButton, window);
    sheet->setObjectName(QStringLiteral("summarySheet"));
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    sheet->setWindowModality(Qt::WindowModal);
    QString informative = RunSummaryText::counts(summary);
    if (const QString left = RunSummaryText::left(summary); !left.isEmpty())
        informative += QLatin1Char('\n') + left;
    sheet->setInformativeText(informative);
    // Qt's own Details button shows the list beneath the texts.
    sheet->setDetailedText(RunSummaryText::details(summary));
    sheet->setDefaultButton(sheet->addButton(RunSummaryText::tr("OK"), QMessageBox::AcceptRole));
    // Room for the counts on one line.
    if (auto* grid = qobject_cast<QGridLayout*>(sheet->layout()))
        grid->addItem(new QSpacerItem(480, 0, QSizePolicy::Minimum, QSizePolicy::Fixed),
                      grid->rowCount(), 0, 1, grid->columnCount());
    return sheet;
}

QMessageBox* makeEndSheet(QWidget* window, const RunSummary& summary, const QString& message,
                          const QString& detail) {
    if (summary.end != RunSummary::End::failed)
        return makeSummarySheet(window, summary);
    QMessageBox* sheet = makeSummarySheet(window, summary);
    sheet->setIcon(QMessageBox::Warning);
    sheet->setText(message);
    sheet->setInformativeText(detail.isEmpty() ? RunSummaryText::counts(summary) : detail);
    sheet->setDetailedText(RunSummaryText::counts(summary) + QLatin1Char('\n') +
                           RunSummaryText::details(summary));
    return sheet;
}

} // namespace tolvane
