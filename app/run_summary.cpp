#include "app/run_summary.hpp"

#include "app/path_text.hpp"

#include <QGridLayout>
#include <QMessageBox>
#include <QPushButton>

namespace tolvane {

namespace {

QString counted(std::size_t n, const QString& one, const QString& many) {
    return n == 1 ? one : many.arg(n);
}

} // namespace

QString RunSummaryText::headline(const RunSummary& summary) {
    if (summary.dryRun)
        return tr("Preview of the optimization: nothing was changed.");
    switch (summary.end) {
    case RunSummary::End::completed:
        return tr("Optimization finished.");
    case RunSummary::End::cancelled:
        return tr("Optimization cancelled. Every page still shows its images.");
    case RunSummary::End::failed:
        break;
    }
    return tr("Optimization stopped at a failure.");
}

QString RunSummaryText::counts(const RunSummary& s) {
    const QString copies = counted(s.copiesRemoved, tr("1 copy"), tr("%1 copies"));
    const QString files = counted(s.filesRewritten, tr("1 file"), tr("%1 files"));
    const QString stayed = counted(s.copiesStayed, tr("1 copy"), tr("%1 copies"));
    if (s.dryRun)
        return tr("A run would remove %1, save %2 and rewrite %3; %4 would stay.")
            .arg(copies, sizeText(s.bytesSaved), files, stayed);
    return tr("Removed %1, saved %2; %3 rewritten; %4 stayed.")
        .arg(copies, sizeText(s.bytesSaved), files, stayed);
}

QString RunSummaryText::details(const RunSummary& summary) {
    return summary.problems.join(QLatin1Char('\n'));
}

QMessageBox* makeSummarySheet(QWidget* window, const RunSummary& summary) {
    auto* sheet = new QMessageBox(
        summary.end == RunSummary::End::completed ? QMessageBox::Information : QMessageBox::Warning,
        QStringLiteral("Tolvane"), RunSummaryText::headline(summary), QMessageBox::NoButton,
        window);
    sheet->setObjectName(QStringLiteral("summarySheet"));
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    sheet->setWindowModality(Qt::WindowModal);
    sheet->setInformativeText(RunSummaryText::counts(summary));
    // Qt's own Details button shows the list beneath the texts.
    sheet->setDetailedText(RunSummaryText::details(summary));
    sheet->setDefaultButton(sheet->addButton(RunSummaryText::tr("OK"), QMessageBox::AcceptRole));
    // Room for the counts on one line.
    if (auto* grid = qobject_cast<QGridLayout*>(sheet->layout()))
        grid->addItem(new QSpacerItem(480, 0, QSizePolicy::Minimum, QSizePolicy::Fixed),
                      grid->rowCount(), 0, 1, grid->columnCount());
    return sheet;
}

} // namespace tolvane
