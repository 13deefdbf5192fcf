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

NSURLTableViewDataSource::~NSURLTableViewDataSource() { setDelegate(nullptr); }

void NSURLTableViewDataSource::initWithArray(const RowsSnapshot& array,
                                             QAbstractItemView* tableView) {
    beginResetModel();
    m_dataArray = array; // QVariantList copies on write: the caller's later changes stay its own
    m_tableView = tableView;
    endResetModel();
}

std::int32_t NSURLTableViewDataSource::numberOfRowsInTableView(const QAbstractItemView*) const {
    if (!m_dataArray)
        return 0;
    return static_cast<std::int32_t>(m_dataArray->size());
}

void NSURLTableViewDataSource::updateDelegate() { notifyDelegate(); }

QVariant NSURLTableViewDataSource::objectValue(const QAbstractItemView*, int,
                                               std::int32_t row) const {
    if (!m_dataArray)
        return {};
    requireRow(m_dataArray, row, "objectValue");
    return m_dataArray->at(row);
}

void NSURLTableViewDataSource::setObjectValue(const QAbstractItemView*, const QVariant& value, int,
                                              std::int64_t row) {
    if (m_dataArray) {
        requireRow(m_dataArray, row, "setObjectValue");
        const int at = static_cast<int>(row);
        (*m_dataArray)[at] = value;
        emit dataChanged(index(at, 0), index(at, columnCount() - 1));
    }
    notifyDelegate();
}

void NSURLTableViewDataSource::setDelegate(NSURLTableViewDataSourceDelegate* delegate) {
    _delegate = delegate;
}

NSURLTableViewDataSourceDelegate* NSURLTableViewDataSource::getDelegate() const {
    return _delegate;
}

void NSURLTableViewDataSource::addNewRow(const QVariant& object, std::int32_t index) {
    if (m_dataArray) {
        if (index < 0 || index > m_dataArray->size())
            throw std::out_of_range("addNewRow: index " + std::to_string(index) + " outside 0.." +
                                    std::to_string(m_dataArray->size()));
        beginInsertRows({}, index, index);
        m_dataArray->insert(index, object);
        endInsertRows();
    }
    notifyDelegate();
}

void NSURLTableViewDataSource::removeRow(std::int32_t row) {
    if (m_dataArray) {
        requireRow(m_dataArray, row, "removeRow");
        beginRemoveRows({}, row, row);
        m_dataArray->removeAt(row);
        endRemoveRows();
    }
    notifyDelegate();
}

void NSURLTableViewDataSource::addAllRows(const QVariantList& objects) {
    if (m_dataArray && !objects.isEmpty()) {
        const auto first = static_cast<int>(m_dataArray->size());
        beginInsertRows({}, first, first + static_cast<int>(objects.size()) - 1);
        m_dataArray->append(objects);
        endInsertRows();
    }
    notifyDelegate();
    reloadTable();
}

void NSURLTableViewDataSource::removeAllRows() {
    if (m_dataArray && !m_dataArray->isEmpty()) {
        beginRemoveRows({}, 0, static_cast<int>(m_dataArray->size()) - 1);
        m_dataArray->clear();
        endRemoveRows();
    }
    notifyDelegate();
    reloadTable();
}

RowsSnapshot NSURLTableViewDataSource::getObjects() const { return m_dataArray; }

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
    return index.isValid() && index.model() == this && !index.parent().isValid() && m_dataArray &&
           index.row() < m_dataArray->size() && index.column() < columnCount();
}

QVariant NSURLTableViewDataSource::data(const QModelIndex& index, int role) const {
    if (!holdsCell(index))
        return {};
    const QVariant& element = m_dataArray->at(index.row());
    if (presenter_)
        return presenter_(element, index.row(), index.column(), role);
    return role == Qt::DisplayRole ? element : QVariant();
}

bool NSURLTableViewDataSource::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (role != Qt::EditRole || !holdsCell(index))
        return false;
    setObjectValue(nullptr, value, index.column(), index.row());
    return true;
}

QVariant NSURLTableViewDataSource::headerData(int section, Qt::Orientation orientation,
                                              int role) const {
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 &&
        section < columnTitles_.size())
        return columnTitles_.at(section);
    return QAbstractTableModel::headerData(section, orientation, role);
}

bool NSURLTableViewDataSource::removeRows(int row, int count, const QModelIndex& parent) {
    if (parent.isValid() || !m_dataArray || count < 1 || row < 0 || row + count > rowCount())
        return false;
    beginRemoveRows({}, row, row + count - 1);
    m_dataArray->remove(row, count);
    endRemoveRows();
    notifyDelegate();
    return true;
}

void NSURLTableViewDataSource::notifyDelegate() {
    if (_delegate)
        _delegate->NSURLTableViewDataSourceChanged(getObjects(), m_tableView.data());
}

void NSURLTableViewDataSource::reloadTable() {
    if (m_tableView)
        m_tableView->viewport()->update();
    emit tableReloaded();
}

} // namespace tolvane
