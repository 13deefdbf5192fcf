#pragma once

#include <QAbstractItemView>
#include <QAbstractTableModel>
#include <QPointer>
#include <QStringList>
#include <QVariant>
#include <QVariantList>

#include <cstdint>
#include <functional>
#include <optional>

namespace tolvane {

// The role a sorting proxy asks a cell for: a number for counts and sizes, the text otherwise.
// The data source passes it to the owner's presenter like every other role.
constexpr int SortRole = Qt::UserRole + 1;

// Rows of a data source as they stood at one moment; absent for a data source without a list.
using RowsSnapshot = std::optional<QVariantList>;

// Told after every change of a data source's rows.
class NSURLTableViewDataSourceDelegate {
  public:
    virtual ~NSURLTableViewDataSourceDelegate() = default;
    // snapshot is a copy that later changes never reach; tableView is the data source's table.
    virtual void NSURLTableViewDataSourceChanged(const RowsSnapshot& snapshot,
                                                 QAbstractItemView* tableView) = 0;
};

// A list of objects shown as the rows of one table: row i is element i, for every column.
// The elements are stored, counted and handed back as given; how a cell renders its element is
// the owner's choice (setCellPresenter). Every change is signalled to attached views the way Qt
// requires (inserts, removals, resets, data changes), so a view never shows a stale row; the
// delegate is told after the view.
class NSURLTableViewDataSource : public QAbstractTableModel {
    Q_OBJECT

  public:
    // What a cell shows for a role; the default shows the element itself as its display text.
    using CellPresenter =
        std::function<QVariant(const QVariant& element, int row, int column, int role)>;

    // A data source without a list, table view or delegate.
    explicit NSURLTableViewDataSource(QObject* parent = nullptr);
    // A data source holding its own copy of array, serving tableView.
    NSURLTableViewDataSource(const RowsSnapshot& array, QAbstractItemView* tableView,
                             QObject* parent = nullptr);
    ~NSURLTableViewDataSource() override;

    // Replaces the list with a copy of array and the table view with tableView; no notify.
    void initWithArray(const RowsSnapshot& array, QAbstractItemView* tableView);

    // The number of rows, whichever table asks; 0 without a list.
    std::int32_t numberOfRowsInTableView(const QAbstractItemView* tableView = nullptr) const;
    // Tells the delegate the current rows without changing them.
    void updateDelegate();
    // The element at row, the same for every column; absent without a list.
    // Throws std::out_of_range for a row outside the list.
    QVariant objectValue(const QAbstractItemView* tableView, int column, std::int32_t row) const;
    // Replaces the element at row with value and tells the delegate.
    // Throws std::out_of_range for a row outside the list (nothing changes, nobody is told).
    void setObjectValue(const QAbstractItemView* tableView, const QVariant& value, int column,
                        std::int64_t row);
    void setDelegate(NSURLTableViewDataSourceDelegate* delegate);
    NSURLTableViewDataSourceDelegate* getDelegate() const;
    // Inserts object before the element at index (index == count appends), then tells the delegate.
    // Throws std::out_of_range for an index below 0 or beyond the count.
    void addNewRow(const QVariant& object, std::int32_t index);
    // Removes the element at row, then tells the delegate.
    // Throws std::out_of_range for a row outside the list.
    void removeRow(std::int32_t row);
    // Appends every element of objects in order, tells the delegate, reloads the table.
    void addAllRows(const QVariantList& objects);
    // Removes every element, tells the delegate, reloads the table.
    void removeAllRows();
    // A copy of the current rows; absent without a list.
    RowsSnapshot getObjects() const;

    QAbstractItemView* tableView() const { return tableView_; }

    // Presentation, chosen by the owner.
    void setColumnTitles(const QStringList& titles);
    void setCellPresenter(CellPresenter presenter);
    // What a click on the check box of a row does: a check box shows in column (its state is
    // the presenter's Qt::CheckStateRole), and checker decides; false refuses the change.
    using RowChecker = std::function<bool(int row, bool checked)>;
    void setRowChecker(int column, RowChecker checker);
    // Every cell may show something else now (the owner's state changed): views redraw.
    void refreshCells();

    // Qt's model interface.
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    bool removeRows(int row, int count, const QModelIndex& parent = QModelIndex()) override;

  signals:
    // The table was reloaded as a whole (after addAllRows and removeAllRows).
    void tableReloaded();

  private:
    bool holdsCell(const QModelIndex& index) const;
    void notifyDelegate();
    void reloadTable();

    // The rows, the table they serve and the listener told after each change.
    std::optional<QVariantList> rows_;
    QPointer<QAbstractItemView> tableView_;
    NSURLTableViewDataSourceDelegate* delegate_ = nullptr;

    QStringList columnTitles_;
    CellPresenter presenter_;
    int checkColumn_ = -1;
    RowChecker checker_;
};

} // namespace tolvane
