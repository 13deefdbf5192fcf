#include "table/url_table_view_data_source.hpp"

#include <QAbstractItemModelTester>
#include <QHeaderView>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>
#include <QUrl>

#include <stdexcept>
#include <vector>

using tolvane::NSURLTableViewDataSource;
using tolvane::NSURLTableViewDataSourceDelegate;
using tolvane::RowsSnapshot;

namespace {

struct Call {
    RowsSnapshot snapshot;
    QAbstractItemView* tableView;
};

class RecordingDelegate : public NSURLTableViewDataSourceDelegate {
  public:
    void NSURLTableViewDataSourceChanged(const RowsSnapshot& snapshot,
                                         QAbstractItemView* tableView) override {
        calls.push_back({snapshot, tableView});
    }
    std::vector<Call> calls;
};

QVariant url(const char* path) {
    return QUrl::fromLocalFile(QString::fromUtf8(path));
}

QVariantList threeUrls() {
    return {url("/s/a_files/x.png"), url("/s/b_files/x.png"), url("/s/x.png")};
}

// A table showing the three URLs, its changes recorded by a delegate.
struct Shown {
    QTableView view;
    NSURLTableViewDataSource source{threeUrls(), &view};
    RecordingDelegate delegate;
    Shown() {
        view.setModel(&source);
        source.setDelegate(&delegate);
    }
};

// "first-last" of each rows signal a spy recorded.
QStringList spans(const QSignalSpy& spy) {
    QStringList texts;
    for (const QList<QVariant>& call : spy)
        texts << QString("%1-%2").arg(call.at(1).toInt()).arg(call.at(2).toInt());
    return texts;
}

} // namespace

class UrlTableViewDataSourceTest : public QObject {
    Q_OBJECT

  private slots:
    void madeFromAListHoldsItsOwnCopy() {
        QTableView view;
        QVariantList given = threeUrls();
        NSURLTableViewDataSource source(given, &view);
        given.removeFirst();
        given[0] = url("/elsewhere.png");

        QCOMPARE(source.numberOfRowsInTableView(), 3);
        QCOMPARE(source.rowCount(), 3);
        QCOMPARE(source.tableView(), static_cast<QAbstractItemView*>(&view));
        // Row 1 gives the second URL for any column, and for any asking table.
        QTableView other;
        QCOMPARE(source.objectValue(&other, 0, 1), url("/s/b_files/x.png"));
        QCOMPARE(source.objectValue(nullptr, 7, 1), url("/s/b_files/x.png"));
        QCOMPARE(source.getObjects(), RowsSnapshot(threeUrls()));
    }

    void aDataSourceWithoutAListReportsNothingButStillNotifies() {
        NSURLTableViewDataSource source;
        QCOMPARE(source.numberOfRowsInTableView(), 0);
        QVERIFY(!source.objectValue(nullptr, 0, 0).isValid());
        QVERIFY(!source.getObjects().has_value());

        RecordingDelegate delegate;
        source.setDelegate(&delegate);
        QSignalSpy reloads(&source, &NSURLTableViewDataSource::tableReloaded);
        source.addNewRow(url("/a.png"), 0);
        source.addAllRows(threeUrls());
        source.removeRow(0);
        source.removeAllRows();
        source.setObjectValue(nullptr, url("/b.png"), 0, 0);

        QCOMPARE(source.numberOfRowsInTableView(), 0);
        QVERIFY(!source.getObjects().has_value());
        QCOMPARE(delegate.calls.size(), 5u);
        for (const Call& call : delegate.calls) {
            QVERIFY(!call.snapshot.has_value());
            QCOMPARE(call.tableView, nullptr);
        }
        QCOMPARE(reloads.count(), 2);
    }

    void refillLeavesExactlyTheNewListAndReloadsOncePerCall() {
        Shown t;
        auto& [view, source, delegate] = t;
        QSignalSpy reloads(&source, &NSURLTableViewDataSource::tableReloaded);
        QSignalSpy removed(&source, &QAbstractItemModel::rowsRemoved);
        QSignalSpy inserted(&source, &QAbstractItemModel::rowsInserted);

        const QVariantList fresh{url("/t/q.gif"), url("/t/p.gif")};
        source.removeAllRows();
        QCOMPARE(view.verticalHeader()->count(), 0);
        source.addAllRows(fresh);

        QCOMPARE(source.getObjects(), RowsSnapshot(fresh));
        QCOMPARE(reloads.count(), 2);
        QCOMPARE(spans(removed), QStringList{"0-2"});
        QCOMPARE(spans(inserted), QStringList{"0-1"});
        // The view follows every change without a reset of its own.
        QCOMPARE(view.verticalHeader()->count(), 2);

        QCOMPARE(delegate.calls.size(), 2u);
        QCOMPARE(delegate.calls[0].snapshot, RowsSnapshot(QVariantList{}));
        QCOMPARE(delegate.calls[1].snapshot, RowsSnapshot(fresh));
        QCOMPARE(delegate.calls[1].tableView, static_cast<QAbstractItemView*>(&view));
    }

    void singleRowChangesNotifyButDoNotReload() {
        Shown t;
        auto& [view, source, delegate] = t;
        QSignalSpy reloads(&source, &NSURLTableViewDataSource::tableReloaded);
        QSignalSpy inserted(&source, &QAbstractItemModel::rowsInserted);
        QSignalSpy removed(&source, &QAbstractItemModel::rowsRemoved);
        QSignalSpy changed(&source, &QAbstractItemModel::dataChanged);

        source.addNewRow(url("/end.png"), 3); // index equal to the count appends
        source.addNewRow(url("/front.png"), 0);
        QCOMPARE(source.objectValue(nullptr, 0, 4), url("/end.png"));
        QCOMPARE(source.objectValue(nullptr, 0, 0), url("/front.png"));
        QCOMPARE(spans(inserted), (QStringList{"3-3", "0-0"}));

        source.removeRow(1);
        QCOMPARE(spans(removed), QStringList{"1-1"});
        QCOMPARE(source.numberOfRowsInTableView(), 4);
        QCOMPARE(source.objectValue(nullptr, 0, 1), url("/s/b_files/x.png"));

        // Any object may replace an element; the view is told that row changed.
        source.setObjectValue(nullptr, QVariant(42), 3, 2);
        QCOMPARE(source.objectValue(nullptr, 0, 2), QVariant(42));
        QCOMPARE(changed.count(), 1);
        QCOMPARE(changed.at(0).at(0).value<QModelIndex>().row(), 2);

        QCOMPARE(view.verticalHeader()->count(), 4);
        QCOMPARE(reloads.count(), 0);
        QCOMPARE(delegate.calls.size(), 4u);
        const QVariantList expected{url("/front.png"), url("/s/b_files/x.png"), QVariant(42),
                                    url("/end.png")};
        QCOMPARE(delegate.calls.back().snapshot, RowsSnapshot(expected));
    }

    // Snapshots taken never change afterwards; without a delegate, changes still happen.
    void snapshotsNeverChangeAndChangesNeedNoDelegate() {
        NSURLTableViewDataSource source(threeUrls(), nullptr);
        RecordingDelegate delegate;
        source.setDelegate(&delegate);
        QCOMPARE(source.getDelegate(), &delegate);
        source.updateDelegate();
        const RowsSnapshot taken = source.getObjects();

        source.setObjectValue(nullptr, url("/changed.png"), 0, 0);
        source.removeRow(1);
        source.addNewRow(url("/new.png"), 0);
        QCOMPARE(delegate.calls.size(), 4u);
        QCOMPARE(delegate.calls[0].snapshot, RowsSnapshot(threeUrls()));
        QCOMPARE(taken, RowsSnapshot(threeUrls()));
        QCOMPARE(delegate.calls[1].snapshot->at(0), url("/changed.png"));
        QCOMPARE(delegate.calls[1].snapshot->size(), 3);
        QCOMPARE(delegate.calls[2].snapshot->size(), 2);

        source.setDelegate(nullptr);
        QCOMPARE(source.getDelegate(), nullptr);
        source.removeRow(0);
        source.addNewRow(url("/z.png"), 2);
        source.updateDelegate();
        QCOMPARE(source.getObjects(),
                 RowsSnapshot(QVariantList{url("/changed.png"), url("/s/x.png"), url("/z.png")}));
        QCOMPARE(delegate.calls.size(), 4u);
    }

    void rowsOutsideTheListAreRefusedWithoutAnyChange() {
        Shown t;
        auto& [view, source, delegate] = t;
        QSignalSpy anyChange(&source, &QAbstractItemModel::layoutChanged);
        QSignalSpy inserted(&source, &QAbstractItemModel::rowsAboutToBeInserted);
        QSignalSpy removed(&source, &QAbstractItemModel::rowsAboutToBeRemoved);
        QSignalSpy changed(&source, &QAbstractItemModel::dataChanged);

        for (const int row : {-1, 3}) {
            QVERIFY_THROWS_EXCEPTION(std::out_of_range, source.objectValue(nullptr, 0, row));
            QVERIFY_THROWS_EXCEPTION(std::out_of_range,
                                     source.addNewRow(url("/n"), row + (row > 0)));
            QVERIFY_THROWS_EXCEPTION(std::out_of_range, source.removeRow(row));
            QVERIFY_THROWS_EXCEPTION(std::out_of_range, source.setObjectValue(nullptr, {}, 0, row));
        }

        QCOMPARE(source.getObjects(), RowsSnapshot(threeUrls()));
        QVERIFY(delegate.calls.empty());
        QCOMPARE(inserted.count() + removed.count() + changed.count() + anyChange.count(), 0);
    }

    void cellsArePresentedAsTheOwnerChooses() {
        NSURLTableViewDataSource source(threeUrls(), nullptr);
        // By default every column shows the element itself.
        QCOMPARE(source.data(source.index(1, 0)), url("/s/b_files/x.png"));
        QVERIFY(!source.data(source.index(1, 0), Qt::DecorationRole).isValid());

        QSignalSpy columnsInserted(&source, &QAbstractItemModel::columnsInserted);
        source.setColumnTitles({"Path", "Kept"});
        QCOMPARE(columnsInserted.count(), 1);
        QCOMPARE(source.columnCount(), 2);
        QCOMPARE(source.headerData(0, Qt::Horizontal).toString(), QStringLiteral("Path"));
        QCOMPARE(source.headerData(1, Qt::Horizontal).toString(), QStringLiteral("Kept"));
        source.setCellPresenter([](const QVariant& element, int row, int column, int role) {
            if (role != Qt::DisplayRole)
                return QVariant();
            return QVariant(element.toUrl().fileName() + QString(" %1:%2").arg(row).arg(column));
        });
        QCOMPARE(source.data(source.index(2, 1)).toString(), QStringLiteral("x.png 2:1"));
        QVERIFY(!source.data(source.index(3, 0)).isValid());

        // Editing through Qt's interface is setObjectValue.
        QVERIFY(source.setData(source.index(0, 1), url("/e.png")));
        QCOMPARE(source.objectValue(nullptr, 0, 0), url("/e.png"));
    }

    void aCheckBoxAsksTheOwnerAndRedrawsItsRow() {
        NSURLTableViewDataSource source(threeUrls(), nullptr);
        QAbstractItemModelTester tester(&source,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        source.setColumnTitles({"Path", "Kept"});
        std::vector<bool> left(3, false);
        source.setCellPresenter([&](const QVariant&, int row, int column, int role) {
            if (role == Qt::CheckStateRole && column == 0)
                return QVariant(left[row] ? Qt::Unchecked : Qt::Checked);
            return QVariant();
        });
        QVERIFY(!(source.flags(source.index(1, 0)) & Qt::ItemIsUserCheckable));
        QVERIFY(!source.setData(source.index(1, 0), Qt::Unchecked, Qt::CheckStateRole));
        // The owner refuses row 2; every other row follows the click.
        source.setRowChecker(0, [&](int row, bool checked) {
            if (row == 2)
                return false;
            left[row] = !checked;
            return true;
        });
        QVERIFY(source.flags(source.index(1, 0)) & Qt::ItemIsUserCheckable);
        QVERIFY(!(source.flags(source.index(1, 1)) & Qt::ItemIsUserCheckable));
        QSignalSpy changed(&source, &QAbstractItemModel::dataChanged);
        QVERIFY(source.setData(source.index(1, 0), Qt::Unchecked, Qt::CheckStateRole));
        QCOMPARE(source.data(source.index(1, 0), Qt::CheckStateRole).value<Qt::CheckState>(),
                 Qt::Unchecked);
        QCOMPARE(changed.count(), 1);
        QCOMPARE(changed.constFirst().value(1).toModelIndex(), source.index(1, 1));
        QVERIFY(!source.setData(source.index(2, 0), Qt::Unchecked, Qt::CheckStateRole));
        QVERIFY(!source.setData(source.index(1, 1), Qt::Checked, Qt::CheckStateRole));
        QCOMPARE(left, (std::vector<bool>{false, true, false}));
        source.refreshCells();
        QCOMPARE(changed.count(), 2);
        QCOMPARE(source.objectValue(nullptr, 0, 1), url("/s/b_files/x.png"));
    }

    void qtModelRulesHoldThroughEveryOperation() {
        QTableView view;
        NSURLTableViewDataSource source(threeUrls(), &view);
        QAbstractItemModelTester tester(&source,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        view.setModel(&source);
        view.selectRow(2);

        source.setColumnTitles({"Name", "Copies", "Size"});
        source.addNewRow(url("/n.png"), 1);
        source.removeRow(0);
        source.setObjectValue(nullptr, url("/m.png"), 1, 1);
        source.removeAllRows();
        QVERIFY(!view.selectionModel()->hasSelection());
        source.addAllRows({});
        source.addAllRows(threeUrls());
        source.addAllRows(threeUrls());
        QVERIFY(source.removeRows(1, 4));
        QVERIFY(!source.removeRows(1, 4));
        source.initWithArray(QVariantList{url("/only.png")}, &view);
        source.setColumnTitles({});
        QCOMPARE(view.verticalHeader()->count(), 1);
        QCOMPARE(view.horizontalHeader()->count(), 1);
    }
};

QTEST_MAIN(UrlTableViewDataSourceTest)
#include "url_table_view_data_source_test.moc"
