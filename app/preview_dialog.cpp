#include "app/preview_dialog.hpp"

#include "app/path_text.hpp"
#include "app/plan_model.hpp"
#include "app/plan_text.hpp"
#include "app/run_summary.hpp"
#include "util/progress.hpp"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSaveFile>
#include <QSortFilterProxyModel>
#include <QStandardItemModel>
#include <QTableView>
#include <QVBoxLayout>

namespace tolvane {

std::shared_ptr<const PreviewList> listChanges(const PlanModel& model, Progress* progress) {
    const std::filesystem::path& root = model.shownRoot();
    const PlanModel::Totals totals = model.totals();
    RunSummary would;
    would.dryRun = true;
    would.filesRewritten = totals.files;
    would.copiesRemoved = totals.copies;
    would.bytesSaved = totals.bytes;
    would.copiesStayed = totals.stayed;
    auto list = std::make_shared<PreviewList>();
    list->site = toQString(root.filename());
    list->counts = RunSummaryText::counts(would);
    const std::vector<PlanModel::Change> changes = model.changes(progress);
    if (progress && progress->cancelled())
        return nullptr;
    for (const PlanModel::Change& change : changes) {
        const QString path = relativeText(change.path, root);
        for (const auto& [before, after] : change.edits)
            list->changes.push_back(
                {path, PreviewDialog::tr("Rewritten: “%1” → “%2”")
                           .arg(QString::fromStdString(before), QString::fromStdString(after))});
        if (change.edits.empty())
            list->changes.push_back(
                {path,
                 PlanText::fate(model.groups()[change.group],
                                model.plan(static_cast<int>(change.group)), change.copy, root)});
    }
    return list;
}

PreviewDialog::PreviewDialog(const PreviewList& list, QWidget* parent) : QDialog(parent) {
    setObjectName("previewDialog");
    setWindowTitle(tr("Preview of the Changes to %1").arg(list.site));
    auto* layout = new QVBoxLayout(this);

    auto* counts = new QLabel(list.counts, this);
    counts->setObjectName("previewSummary");
    counts->setWordWrap(true);
    layout->addWidget(counts);

    filter_ = new QLineEdit(this);
    filter_->setObjectName("previewFilter");
    filter_->setPlaceholderText(tr("Filter by file or change"));
    filter_->setClearButtonEnabled(true);
    auto* filterLabel = new QLabel(tr("&Filter:"), this);
    filterLabel->setBuddy(filter_);
    auto* filterRow = new QHBoxLayout;
    filterRow->addWidget(filterLabel);
    filterRow->addWidget(filter_, 1);
    layout->addLayout(filterRow);

    model_ = new QStandardItemModel(0, 2, this);
    model_->setHorizontalHeaderLabels({tr("File"), tr("After optimizing")});
    for (const PreviewList::Change& change : list.changes) {
        auto* path = new QStandardItem(change.path);
        path->setToolTip(change.path);
        auto* what = new QStandardItem(change.change);
        what->setToolTip(change.change);
        model_->appendRow({path, what});
    }
    filtered_ = new QSortFilterProxyModel(this);
    filtered_->setSourceModel(model_);
    filtered_->setFilterCaseSensitivity(Qt::CaseInsensitive);
    filtered_->setFilterKeyColumn(-1); // either column
    connect(filter_, &QLineEdit::textChanged, filtered_,
            &QSortFilterProxyModel::setFilterFixedString);

    table_ = new QTableView(this);
    table_->setObjectName("previewTable");
    table_->setModel(filtered_);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setWordWrap(false);
    table_->setTextElideMode(Qt::ElideMiddle);
    table_->setAlternatingRowColors(true);
    table_->verticalHeader()->setVisible(false);
    table_->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    layout->addWidget(table_, 1);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    save_ = buttons->addButton(tr("&Save as Text..."), QDialogButtonBox::ActionRole);
    save_->setObjectName("previewSaveButton");
    buttons->button(QDialogButtonBox::Close)->setText(tr("Close"));
    connect(save_, &QPushButton::clicked, this, &PreviewDialog::askWhereToSave);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);

    resize(720, 480);
}

QString PreviewDialog::text() const {
    QString text;
    for (int row = 0; row < filtered_->rowCount(); ++row)
        text += filtered_->index(row, 0).data().toString() + QLatin1Char('\t') +
                filtered_->index(row, 1).data().toString() + QLatin1Char('\n');
    return text;
}

bool PreviewDialog::saveTo(const QString& path, QString* error) const {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text().toUtf8()) < 0 || !file.commit()) {
        if (error)
            *error = file.errorString();
        return false;
    }
    return true;
}

void PreviewDialog::askWhereToSave() {
    auto* chooser = new QFileDialog(this, tr("Save as Text"), QString(),
                                    tr("Text files (*.txt);;All files (*)"));
    chooser->setObjectName("previewSaveDialog");
    chooser->setAttribute(Qt::WA_DeleteOnClose);
    chooser->setOption(QFileDialog::DontUseNativeDialog);
    chooser->setAcceptMode(QFileDialog::AcceptSave);
    chooser->setDefaultSuffix(QStringLiteral("txt"));
    chooser->selectFile(tr("tolvane-preview.txt"));
    chooser->setWindowModality(Qt::WindowModal);
    connect(chooser, &QFileDialog::fileSelected, this, [this](const QString& path) {
        QString error;
        if (!saveTo(path, &error))
            QMessageBox::warning(this, tr("Save as Text"),
                                 tr("Unable to save the preview to %1").arg(path) +
                                     QStringLiteral("\n") + error);
    });
    chooser->open();
}

} // namespace tolvane
