#include "app/result_tables.hpp"

#include "app/image_preview.hpp"
#include "app/main_window.hpp"
#include "app/path_text.hpp"
#include "app/plan_model.hpp"
#include "app/plan_text.hpp"
#include "app/sheets.hpp"
#include "table/natural_sort_proxy.hpp"
#include "table/url_table_view_data_source.hpp"

#include <QAction>
#include <QClipboard>
#include <QDesktopServices>
#include <QFileInfo>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QHeaderView>
#include <QInputDialog>
#include <QItemSelectionModel>
#include <QLabel>
#include <QTableView>
#include <QUrl>

#include <algorithm>

namespace tolvane {

namespace {

// The columns of the groups table.
enum ImagesColumn {
    nameColumn,
    digestColumn,
    copiesColumn,
    referencesColumn,
    sizeColumn,
    savingColumn,
    keptColumn
};
// Enough of the digest to tell apart the groups a site holds under one name.
constexpr qsizetype shortDigest = 8;

QVariantList urlsOf(const std::vector<std::filesystem::path>& paths) {
    QVariantList urls;
    urls.reserve(static_cast<qsizetype>(paths.size()));
    for (const auto& path : paths)
        urls.append(QUrl::fromLocalFile(toQString(path)));
    return urls;
}

QVariant number(std::uint64_t n) {
    return QVariant(static_cast<qulonglong>(n));
}

} // namespace

ResultTables::ResultTables(MainWindow& window, PlanModel& model, Sheets& sheets,
                           std::function<bool()> busy, QObject* parent)
    : QObject(parent), window_(window), model_(model), sheets_(sheets), busy_(std::move(busy)) {
    // Both tables sort through a proxy, by the numbers behind counts and sizes and names in
    // reading order: the groups by what they save, most first, the copies by path. The order
    // the user picks stays for every later result.
    const auto sorter = [this](QTableView* table, int column, Qt::SortOrder order) {
        auto* proxy = new NaturalSortProxy(this);
        table->setModel(proxy);
        table->setSortingEnabled(true);
        table->horizontalHeader()->setSortIndicator(column, order);
        return proxy;
    };
    imagesSorter_ = sorter(window_.imagesTable, savingColumn, Qt::DescendingOrder);
    // A group whose saving changes with a choice stays where it is under the pointer; each new
    // result is sorted once it is in.
    imagesSorter_->setDynamicSortFilter(false);
    pagesSorter_ = sorter(window_.pagesTable, 0, Qt::AscendingOrder);
    connect(window_.imagesTable->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] {
                if (!displaying_)
                    selectImage();
            });
    QItemSelectionModel* copies = window_.pagesTable->selectionModel();
    connect(copies, &QItemSelectionModel::currentChanged, this, [this] {
        showCopy();
        emit copiesSelected();
    });
    connect(copies, &QItemSelectionModel::selectionChanged, this, &ResultTables::copiesSelected);
    // A double-click opens the copy, as the context menu's Open does.
    connect(window_.pagesTable, &QAbstractItemView::doubleClicked, this,
            [this](const QModelIndex& index) {
                const auto row = static_cast<std::size_t>(pagesSorter_->mapToSource(index).row());
                if (pagesGroup_ >= 0 && row < model_.groups()[pagesGroup_].copies.size())
                    QDesktopServices::openUrl(
                        QUrl::fromLocalFile(toQString(model_.groups()[pagesGroup_].copies[row])));
            });
    connectMenus();
    showCopy();
}

void ResultTables::connectMenus() {
    MainWindow* w = &window_;
    connect(w->chooseAllAction, &QAction::triggered, this,
            [this] { choose([](std::size_t) { return true; }); });
    connect(w->chooseNoneAction, &QAction::triggered, this,
            [this] { choose([](std::size_t) { return false; }); });
    connect(w->invertChoiceAction, &QAction::triggered, this,
            [this] { choose([this](std::size_t g) { return !model_.groupChosen(g); }); });
    connect(w->leastSavingAction, &QAction::triggered, this, &ResultTables::askForLeastSaving);
    connect(w->keepCopyAction, &QAction::triggered, this, [this](bool keep) {
        const int copy = currentCopy();
        if (busy_() || pagesGroup_ < 0 || copy < 0)
            return;
        model_.keepCopy(pagesGroup_, copy, keep);
        emit choicesChanged();
    });
    connect(w->openCopyAction, &QAction::triggered, this, [this] {
        for (const QString& path : pathsOfSelectedCopies())
            QDesktopServices::openUrl(QUrl::fromLocalFile(path));
    });
    connect(w->openCopyFolderAction, &QAction::triggered, this, [this] {
        QStringList folders;
        for (const QString& path : pathsOfSelectedCopies())
            if (const QString folder = QFileInfo(path).absolutePath(); !folders.contains(folder))
                folders << folder;
        for (const QString& folder : folders)
            QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
    });
    connect(w->copyPathAction, &QAction::triggered, this, [this] {
        if (const QStringList paths = pathsOfSelectedCopies(); !paths.isEmpty())
            QGuiApplication::clipboard()->setText(paths.join(QLatin1Char('\n')));
    });
}

void ResultTables::updateActions(bool idle) {
    MainWindow* w = &window_;
    const bool copiesSelected = w->pagesTable->selectionModel()->hasSelection();
    for (QAction* action : {w->openCopyAction, w->openCopyFolderAction, w->copyPathAction})
        action->setEnabled(copiesSelected);
    const bool choosing = idle && !model_.groups().empty() && !model_.root().empty();
    for (QAction* action :
         {w->chooseAllAction, w->chooseNoneAction, w->invertChoiceAction, w->leastSavingAction})
        action->setEnabled(choosing);
    const int copy = currentCopy();
    const bool onCopy =
        choosing && pagesGroup_ >= 0 && copy >= 0 && model_.groupChosen(pagesGroup_);
    w->keepCopyAction->setEnabled(onCopy);
    w->keepCopyAction->setChecked(onCopy && model_.copyKept(pagesGroup_, copy));
}

void ResultTables::choose(const std::function<bool(std::size_t group)>& chosen) {
    if (busy_() || !model_.hasResult())
        return;
    model_.chooseGroups(chosen);
    emit choicesChanged();
}

void ResultTables::askForLeastSaving() {
    if (busy_() || !model_.hasResult())
        return;
    auto* dialog = new QInputDialog(&window_);
    dialog->setObjectName("leastSavingDialog");
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowModality(Qt::WindowModal);
    dialog->setWindowTitle(tr("Only Groups That Save More Than"));
    dialog->setLabelText(tr("Take only the images whose copies save more than (for example "
                            "100 KB or 2 MB):"));
    dialog->setTextValue(tr("100 KB"));
    connect(dialog, &QInputDialog::textValueSelected, this, [this](const QString& text) {
        const std::optional<std::uint64_t> bytes = bytesOf(text);
        if (!bytes) {
            sheets_.show(tr("“%1” is not a size.").arg(text),
                         tr("Write a number, with B, KB, MB or GB after it."));
            return;
        }
        model_.chooseGroupsSavingMoreThan(*bytes);
        emit choicesChanged();
    });
    dialog->open();
}

void ResultTables::showResult() {
    // The tables are emptied first so that no row ever describes a group of another result.
    // Each group by the copy whose discovery formed it, as the scan names it.
    std::vector<std::filesystem::path> images;
    for (const DuplicateGroup& group : model_.groups())
        images.push_back(group.copies.at(1));
    displaying_ = true;
    if (imagesDataSource_) {
        imagesDataSource_->removeAllRows();
        imagesDataSource_->addAllRows(urlsOf(images));
    } else {
        imagesDataSource_ = new NSURLTableViewDataSource(urlsOf(images), window_.imagesTable, this);
        presentImages();
        imagesSorter_->setSourceModel(imagesDataSource_);
        // Names and numbers as wide as they need, never cut; the kept file takes the rest, and
        // a narrow window scrolls rather than cutting a name.
        QHeaderView* header = window_.imagesTable->horizontalHeader();
        header->setSectionResizeMode(QHeaderView::ResizeToContents);
        header->setSectionResizeMode(keptColumn, QHeaderView::Stretch);
    }
    const QHeaderView* sortedBy = window_.imagesTable->horizontalHeader();
    imagesSorter_->sort(sortedBy->sortIndicatorSection(), sortedBy->sortIndicatorOrder());
    // The first row in the table's order is selected.
    QItemSelectionModel* selection = window_.imagesTable->selectionModel();
    if (imagesSorter_->rowCount() > 0)
        selection->setCurrentIndex(imagesSorter_->index(0, 0),
                                   QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    else
        selection->clear();
    displaying_ = false;
    selectImage();
    window_.imagesTable->scrollToTop();
}

void ResultTables::refresh() {
    if (imagesDataSource_)
        imagesDataSource_->refreshCells();
    if (pagesDataSource_)
        pagesDataSource_->refreshCells();
    showCopy();
}

int ResultTables::selectedRow() const {
    const QModelIndexList rows = window_.imagesTable->selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : imagesSorter_->mapToSource(rows.constFirst()).row();
}

void ResultTables::selectImage() {
    const int index = selectedRow();
    const bool shown = index >= 0 && index < static_cast<int>(model_.groups().size());
    pagesGroup_ = shown ? index : -1;
    if (pagesDataSource_)
        pagesDataSource_->removeAllRows();
    if (shown) {
        const QVariantList copies = urlsOf(model_.groups()[index].copies);
        if (pagesDataSource_) {
            pagesDataSource_->addAllRows(copies);
        } else {
            pagesDataSource_ = new NSURLTableViewDataSource(copies, window_.pagesTable, this);
            presentCopies();
            pagesSorter_->setSourceModel(pagesDataSource_);
            window_.pagesTable->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
        }
        // The first copy in the table's order is the current one: the preview always shows
        // the copy the table points at.
        window_.pagesTable->setCurrentIndex(pagesSorter_->index(0, 0));
    }
    showCopy();
    emit copiesSelected();
}

int ResultTables::currentCopy() const {
    const QModelIndex current = window_.pagesTable->selectionModel()->currentIndex();
    return current.isValid() ? pagesSorter_->mapToSource(current).row() : -1;
}

std::vector<std::size_t> ResultTables::selectedCopies() const {
    std::vector<std::size_t> rows;
    for (const QModelIndex& index : window_.pagesTable->selectionModel()->selectedRows())
        rows.push_back(static_cast<std::size_t>(pagesSorter_->mapToSource(index).row()));
    std::sort(rows.begin(), rows.end());
    return rows;
}

QStringList ResultTables::pathsOfSelectedCopies() const {
    QStringList paths;
    if (pagesGroup_ < 0)
        return paths;
    const DuplicateGroup& group = model_.groups()[pagesGroup_];
    for (const std::size_t row : selectedCopies())
        if (row < group.copies.size())
            paths << toQString(group.copies[row]);
    return paths;
}

// The preview and the details line follow the current copy of the copies table.
void ResultTables::showCopy() {
    const int copy = currentCopy();
    const DuplicateGroup* group = pagesGroup_ >= 0 ? &model_.groups()[pagesGroup_] : nullptr;
    if (!group || copy < 0 || copy >= static_cast<int>(group->copies.size())) {
        window_.preview->showText(tr("Select an image to see it here."));
        window_.previewCaption->clear();
        window_.copyDetails->clear();
        return;
    }
    const GroupPlan* plan = model_.plan(pagesGroup_);
    const auto index = static_cast<std::size_t>(copy);
    const std::filesystem::path& root = model_.shownRoot();
    QString details = relativeText(group->copies[index], root) + QStringLiteral(": ") +
                      (model_.groupChosen(pagesGroup_) ? PlanText::fate(*group, plan, index, root)
                                                       : tr("Stays: its image is left alone"));
    if (const QString reasons = PlanText::reasons(plan, index, root); !reasons.isEmpty())
        details += QStringLiteral("\n") + reasons;
    window_.copyDetails->setText(details);

    const PreviewImage read = readPreviewImage(toQString(group->copies[index]));
    if (read.image.isNull())
        window_.preview->showText(tr("This image cannot be shown."));
    else
        window_.preview->showPicture(read.image);
    QString caption = toQString(group->name);
    if (read.fullSize.isValid())
        caption += tr(", %L1 × %L2 pixels").arg(read.fullSize.width()).arg(read.fullSize.height());
    caption += tr(", %1 each").arg(sizeText(group->size));
    window_.previewCaption->setText(caption);
}

void ResultTables::presentImages() {
    imagesDataSource_->setColumnTitles({tr("Image"), tr("Digest"), tr("Copies"), tr("References"),
                                        tr("Size"), tr("Saving"), tr("Kept as")});
    imagesDataSource_->setCellPresenter([this](const QVariant& element, int row, int column,
                                               int role) -> QVariant {
        const DuplicateGroup* group =
            row < static_cast<int>(model_.groups().size()) ? &model_.groups()[row] : nullptr;
        const GroupPlan* plan = model_.plan(row);
        const auto path = toPath(element.toUrl().toLocalFile());
        const std::uint64_t saving = plan && group ? plan->saving(group->size) : 0;
        const QLocale locale;
        if (role == SortRole || role == Qt::DisplayRole) {
            const bool display = role == Qt::DisplayRole;
            const auto count = [&](std::uint64_t n) {
                return display ? QVariant(locale.toString(static_cast<qulonglong>(n))) : number(n);
            };
            switch (column) {
            case nameColumn:
                return toQString(path.filename());
            case digestColumn:
                return group ? QString::fromStdString(group->md5).left(shortDigest) : QString();
            case copiesColumn:
                return group ? count(group->copies.size()) : QVariant();
            case referencesColumn:
                return plan ? count(plan->references) : QVariant();
            case sizeColumn:
                return !group    ? QVariant()
                       : display ? QVariant(sizeText(group->size))
                                 : number(group->size);
            case savingColumn:
                return display ? QVariant(sizeText(saving)) : number(saving);
            case keptColumn:
                return PlanText::keptAs(plan, model_.shownRoot());
            }
        } else if (role == Qt::ToolTipRole) {
            switch (column) {
            case digestColumn:
                return group ? tr("MD5 digest %1: images of the same name with other contents "
                                  "have other digests")
                                   .arg(QString::fromStdString(group->md5))
                             : QVariant();
            case referencesColumn:
                return tr("References in the site's pages, scripts, stylesheets and feeds that "
                          "point at the copies");
            case keptColumn:
                if (plan && plan->handled())
                    return tr("%1\nWhere the image's bytes are after optimizing")
                        .arg(toQString(plan->kept));
                return tr("Where the image's bytes are after optimizing");
            default:
                return toQString(path);
            }
        } else if (role == Qt::TextAlignmentRole && column >= copiesColumn &&
                   column <= savingColumn) {
            return QVariant(Qt::AlignRight | Qt::AlignVCenter);
        } else if (role == Qt::FontRole && column == digestColumn) {
            return QFontDatabase::systemFont(QFontDatabase::FixedFont);
        } else if (role == Qt::CheckStateRole && column == nameColumn) {
            return model_.groupChosen(static_cast<std::size_t>(row)) ? Qt::Checked : Qt::Unchecked;
        }
        return {};
    });
    imagesDataSource_->setRowChecker(nameColumn, [this](int row, bool checked) {
        if (busy_())
            return false;
        model_.setGroupChosen(static_cast<std::size_t>(row), checked);
        emit choicesChanged();
        return true;
    });
}

void ResultTables::presentCopies() {
    pagesDataSource_->setColumnTitles({tr("Copy"), tr("After optimizing")});
    pagesDataSource_->setCellPresenter([this](const QVariant& element, int row, int column,
                                              int role) -> QVariant {
        const auto path = toPath(element.toUrl().toLocalFile());
        const DuplicateGroup* group = pagesGroup_ >= 0 ? &model_.groups()[pagesGroup_] : nullptr;
        const GroupPlan* plan = model_.plan(pagesGroup_);
        const auto copy = static_cast<std::size_t>(row);
        const std::filesystem::path& root = model_.shownRoot();
        const bool chosen = pagesGroup_ >= 0 && model_.groupChosen(pagesGroup_);
        if (role == Qt::DisplayRole || role == SortRole) {
            if (column == 0)
                return relativeText(path, root);
            if (group && !chosen)
                return tr("Stays: its image is left alone");
            return group ? PlanText::fate(*group, plan, copy, root) : QString();
        }
        if (role == Qt::CheckStateRole && column == 0)
            return chosen && model_.copyChosen(pagesGroup_, copy) ? Qt::Checked : Qt::Unchecked;
        if (role == Qt::ToolTipRole && column == 1) {
            const QString reasons = PlanText::reasons(plan, copy, root);
            return reasons.isEmpty() ? QVariant() : reasons;
        }
        if (role == Qt::ToolTipRole)
            return toQString(path);
        if (role == Qt::FontRole && group && PlanText::keepsTheBytes(*group, plan, copy)) {
            QFont font = window_.pagesTable->font();
            font.setBold(true);
            return font;
        }
        return {};
    });
    pagesDataSource_->setRowChecker(0, [this](int row, bool checked) {
        if (busy_() || pagesGroup_ < 0 || !model_.groupChosen(pagesGroup_))
            return false;
        model_.setCopyChosen(pagesGroup_, static_cast<std::size_t>(row), checked);
        emit choicesChanged();
        return true;
    });
}

} // namespace tolvane
