#include "table/url_table_view_data_source.hpp"

#include <QAbstractItemView>

#include <stdexcept>
#include <string>

namespace tolvane {

namespace {

void requireRow(const std::optional<QVariantList>& list, std::int64_t row, const char* operation) {
    if (row < 0 || row >= list->size())
        throw std::out_of_range(std::string(operation) + ": row " + std::to_string(row) +
                                " outside 0.." + std::to_string(list->size()));
}

} // namespace

NSURLTableViewDataSource::NSURLTableViewDataSource(QObject* parent) : QAbstractTableModel(parent) {}

NSURLTableViewDataSource::NSURLTableViewDataSource(const RowsSnapshot& array,
                                                   QAbstractItemView* tableView, QObject* parent)
    : QAbstractTableModel(parent) {
    initWithArray(array, tableView);
}

NSURLTableViewDataSource::~NSURLTableViewDataSource() {
    setDelegate(nullptr);
}

void NSURLTableViewDataSource::initWithArray(const RowsSnapshot& array,
                                             QAbstractItemView* tableView) {
    beginResetModel();
    rows_ = array; // QVariantList copies on write: the caller's later changes stay its own
    tableView_ = tableView;
    endResetModel();
}

std::int32_t NSURLTableViewDataSource::numberOfRowsInTableView(const QAbstractItemView*) const {
    if (!rows_)
        return 0;
    return static_cast<std::int32_t>(rows_->size());
}

void NSURLTableViewDataSource::updateDelegate() {
    notifyDelegate();
}

QVariant NSURLTableViewDataSource::objectValue(const QAbstractItemView*, int,
                                               std::int32_t row) const {
    if (!rows_)
        return {};
    requireRow(rows_, row, "objectValue");
    return rows_->at(row);
}

void NSURLTableViewDataSource::setObjectValue(const QAbstractItemView*, const QVariant& value, int,
                                              std::int64_t row) {
    if (rows_) {
        requireRow(rows_, row, "setObjectValue");
        const int at = static_cast<int>(row);
        (*rows_)[at] = value;
        emit dataChanged(index(at, 0), index(at, columnCount() - 1));
    }
    notifyDelegate();
}

void NSURLTableViewDataSource::setDelegate(NSURLTableViewDataSourceDelegate* delegate) {
    delegate_ = delegate;
}

NSURLTableViewDataSourceDelegate* NSURLTableViewDataSource::getDelegate() const {
    return delegate_;
}

void NSURLTableViewDataSource::addNewRow(const QVariant& object, std::int32_t index) {
    if (rows_) {
        if (index < 0 || index > rows_->size())
            throw std::out_of_range("addNewRow: index " + std::to_string(index) + " outside 0.." +
                                    std::to_string(rows_->size()));
        beginInsertRows({}, index, index);
        rows_->insert(index, object);
        endInsertRows();
    }
    notifyDelegate();
}

void NSURLTableViewDataSource::removeRow(std::int32_t row) {
    if (rows_) {
        requireRow(rows_, row, "removeRow");
        beginRemoveRows({}, row, row);
        rows_->removeAt(row);
        endRemoveRows();
    }
    notifyDelegate();
}

void NSURLTableViewDataSource::addAllRows(const QVariantList& objects) {
    if (rows_ && !objects.isEmpty()) {
        const auto first = static_cast<int>(rows_->size());
        beginInsertRows({}, first, first + static_cast<int>(objects.size()) - 1);
        rows_->append(objects);
        endInsertRows();
    }
    notifyDelegate();
    reloadTable();
}

void NSURLTableViewDataSource::removeAllRows() {
    if (rows_ && !rows_->isEmpty()) {
        beginRemoveRows({}, 0, static_cast<int>(rows_->size()) - 1);
        rows_->clear();
        endRemoveRows();
    }
    notifyDelegate();
    reloadTable();
}

RowsSnapshot NSURLTableViewDataSource::getObjects() const {
    return rows_;
}

void NSURLTableViewDataSource::setColumnTitles(const QStringList& titles) {
    const int before = columnCount();
    const int after = titles.isEmpty() ? 1 : static_cast<int>(titles.size());
    if (after > before) {
        beginInsertColumns({}, before, after - 1);
        columnTitles_ = titles;
        endInsertColumns();
    } else if (after < before) {
        beginRemoveColumns({}, after, before - 1);
        columnTitles_ = titles;
        endRemoveColumns();
    } else {
        columnTitles_ = titles;
    }
    emit headerDataChanged(Qt::Horizontal, 0, after - 1);
}

void NSURLTableViewDataSource::setCellPresenter(CellPresenter presenter) {
    presenter_ = std::move(presenter);
    if (rowCount() > 0)
        emit dataChanged(index(0, 0), index(rowCount() - 1, columnCount() - 1));
}

int NSURLTableViewDataSource::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : numberOfRowsInTableView();
}

int NSURLTableViewDataSource::columnCount(const QModelIndex& parent) const {
    if (parent.isValid())
        return 0;
    return columnTitles_.isEmpty() ? 1 : static_cast<int>(columnTitles_.size());
}

bool NSURLTableViewDataSource::holdsCell(const QModelIndex& index) const {
    return index.isValid() && index.model() == this && !index.parent().isValid() && rows_ &&
           index.row() < rows_->size() && index.column() < columnCount();
}

QVariant NSURLTableViewDataSource::data(const QModelIndex& index, int role) const {
    if (!holdsCell(index))
        return {};
    const QVariant& element = rows_->at(index.row());
    if (presenter_)
        return presenter_(element, index.row(), index.column(), role);
    return role == Qt::DisplayRole ? element : QVariant();
}

bool NSURLTableViewDataSource::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (role == Qt::CheckStateRole && holdsCell(index) && index.column() == checkColumn_ &&
        checker_) {
        const bool checked = value.toInt() == Qt::Checked;
        if (!checker_(index.row(), checked))
            return false;
        emit dataChanged(this->index(index.row(), 0), this->index(index.row(), columnCount() - 1));
        return true;
    }
    if (role != Qt::EditRole || !holdsCell(index))
        return false;
    setObjectValue(nullptr, value, index.column(), index.row());
    return true;
}

Qt::ItemFlags NSURLTableViewDataSource::flags(const QModelIndex& index) const {
    Qt::ItemFlags flags = QAbstractTableModel::flags(index);
    if (holdsCell(index) && index.column() == checkColumn_ && checker_)
        flags |= Qt::ItemIsUserCheckable;
    return flags;
}

void NSURLTableViewDataSource::setRowChecker(int column, RowChecker checker) {
    checkColumn_ = column;
    checker_ = std::move(checker);
    refreshCells();
}

void NSURLTableViewDataSource::refreshCells() {
    if (rowCount() > 0)
        emit dataChanged(index(0, 0), index(rowCount() - 1, columnCount() - 1));
}

QVariant NSURLTableViewDataSource::headerData(int section, Qt::Orientation orientation,
                                              int role) const {
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 &&
        section < columnTitles_.size())
        return columnTitles_.at(section);
    return QAbstractTableModel::headerData(section, orientation, role);
}

bool NSURLTableViewDataSource::removeRows(int row, int count, const QModelIndex& parent) {
    if (parent.isValid() || !rows_ || count < 1 || row < 0 || row + count > rowCount())
        return false;
    beginRemoveRows({}, row, row + count - 1);
    rows_->remove(row, count);
    endRemoveRows();
    notifyDelegate();
    return true;
}

void NSURLTableViewDataSource::notifyDelegate() {
    if (delegate_)
        delegate_->NSURLTableViewDataSourceChanged(getObjects(), tableView_.data());
}

void NSURLTableViewDataSource::reloadTable() {
    if (tableView_)
        tableView_->viewport()->update();
    emit tableReloaded();
}

} // namespace tolvane
