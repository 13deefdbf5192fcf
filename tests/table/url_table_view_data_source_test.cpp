#include "table/url_table_view_data_source.hpp"

#include <QAbstractItemModelTester>
#include <QHeaderView>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>

#include <memory>
#include <stdexcept>
#include <vector>

using tolvane::NSURLTableViewDataSource;
using tolvane::RowsSnapshot;

namespace {

// Records each snapshot it is told of, with the table it came with.
struct RecordingDelegate : tolvane::NSURLTableViewDataSourceDelegate {
    void NSURLTableViewDataSourceChanged(const RowsSnapshot& snapshot,
                                         QAbstractItemView* view) override {
        snapshots.push_back(snapshot);
        views.push_back(view);
    }
    std::vector<RowsSnapshot> snapshots;
    std::vector<QAbstractItemView*> views;
};

// "a b c" as a list of rows; "-" for a data source without a list.
RowsSnapshot rowsOf(const QString& text) {
    if (text == "-")
        return std::nullopt;
    QVariantList rows;
    for (const QString& word : text.split(' ', Qt::SkipEmptyParts))
        rows << word;
    return rows;
}

QString textOf(const RowsSnapshot& rows) {
    if (!rows)
        return "-";
    QStringList words;
    for (const QVariant& row : *rows)
        words << row.toString();
    return words.join(' ');
}

} // namespace

class UrlTableViewDataSourceTest : public QObject {
    Q_OBJECT

  private slots:
    // Each case: the rows to start from, operations ("+x@1" insert x before row 1, "-1" remove
    // row 1, "=x@1" replace row 1, "*a,b" add all, "0" remove all, "?" tell the delegate), then
    // the rows left, what the view shows, the delegate's snapshots and the table's reloads.
    void everyOperationReachesTheViewAndTheDelegate_data() {
        QTest::addColumn<QString>("start");
        QTest::addColumn<QString>("operations");
        QTest::addColumn<QString>("rows");
        QTest::addColumn<QStringList>("told");
        QTest::addColumn<int>("reloads");
        QTest::newRow("insert at either end")
            << "a b c"
            << "+z@3 +y@0"
            << "y a b c z" << QStringList{"a b c z", "y a b c z"} << 0;
        QTest::newRow("remove and replace") << "a b c"
                                            << "-1 =q@1"
                                            << "a q" << QStringList{"a c", "a q"} << 0;
        QTest::newRow("refill") << "a b c"
                                << "0 *q,p"
                                << "q p" << QStringList{"", "q p"} << 2;
        QTest::newRow("told without a change") << "a"
                                               << "?"
                                               << "a" << QStringList{"a"} << 0;
        QTest::newRow("without a list: nothing held, everyone told")
            << "-"
            << "+a@0 *a,b -0 0 =b@0"
            << "-" << QStringList{"-", "-", "-", "-", "-"} << 2;
    }

    void everyOperationReachesTheViewAndTheDelegate() {
        QFETCH(QString, start);
        QFETCH(QString, operations);
        QFETCH(QString, rows);
        QFETCH(QStringList, told);
        QFETCH(int, reloads);
        QTableView view;
        NSURLTableViewDataSource source(rowsOf(start), &view);
        QAbstractItemModelTester tester(&source,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        view.setModel(&source);
        view.selectRow(0);
        RecordingDelegate delegate;
        source.setDelegate(&delegate);
        QSignalSpy reloaded(&source, &NSURLTableViewDataSource::tableReloaded);
        const RowsSnapshot taken = source.getObjects();
        for (const QString& op : operations.split(' ')) {
            const QString what = op.mid(1).section('@', 0, 0);
            const int at = op.section('@', 1).toInt();
            switch (op.at(0).toLatin1()) {
            case '+':
                source.addNewRow(what, at);
                break;
            case '-':
                source.removeRow(what.toInt());
                break;
            case '=':
                source.setObjectValue(nullptr, what, 0, at);
                break;
            case '*':
                source.addAllRows(rowsOf(QString(what).replace(',', ' ')).value());
                break;
            case '0':
                source.removeAllRows();
                break;
            default:
                source.updateDelegate();
            }
        }
        QCOMPARE(textOf(source.getObjects()), rows);
        QCOMPARE(source.numberOfRowsInTableView(&view),
                 rowsOf(rows).value_or(QVariantList{}).size());
        // The view shows exactly the rows held, each row's element in every column.
        QCOMPARE(view.verticalHeader()->count(), source.numberOfRowsInTableView());
        for (int row = 0; row < source.rowCount(); ++row)
            QCOMPARE(view.model()->index(row, 0).data(), rowsOf(rows)->at(row));
        QStringList snapshots;
        for (const RowsSnapshot& snapshot : delegate.snapshots)
            snapshots << textOf(snapshot);
        QCOMPARE(snapshots, told);
        for (QAbstractItemView* with : delegate.views)
            QCOMPARE(with, static_cast<QAbstractItemView*>(&view));
        QCOMPARE(reloaded.count(), reloads);
        QCOMPARE(taken, rowsOf(start)); // a snapshot never changes afterwards
        // Without a delegate the rows still change, and nobody is told.
        source.setDelegate(nullptr);
        source.addAllRows({"late"});
        QCOMPARE(delegate.snapshots.size(), std::size_t(told.size()));
    }

    void rowsOutsideTheListAreRefusedWithoutAnyChange() {
        QTableView view;
        NSURLTableViewDataSource source(rowsOf("a b c"), &view);
        QAbstractItemModelTester tester(&source,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        RecordingDelegate delegate;
        source.setDelegate(&delegate);
        QSignalSpy changed(&source, &QAbstractItemModel::dataChanged);
        for (const int row : {-1, 3}) {
            QVERIFY_THROWS_EXCEPTION(std::out_of_range, source.objectValue(nullptr, 0, row));
            QVERIFY_THROWS_EXCEPTION(std::out_of_range, source.addNewRow("n", row + (row > 0)));
            QVERIFY_THROWS_EXCEPTION(std::out_of_range, source.removeRow(row));
            QVERIFY_THROWS_EXCEPTION(std::out_of_range, source.setObjectValue(nullptr, {}, 0, row));
        }
        QVERIFY(!source.removeRows(1, 4));
        QCOMPARE(textOf(source.getObjects()), QStringLiteral("a b c"));
        QVERIFY(delegate.snapshots.empty());
        QCOMPARE(changed.count(), 0);
    }

    // The owner chooses what each cell shows and whether a check box may change.
    void cellsAndCheckBoxesAreTheOwners() {
        NSURLTableViewDataSource source(rowsOf("a b c"), nullptr);
        QAbstractItemModelTester tester(&source,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        QCOMPARE(source.data(source.index(1, 0)), QVariant("b"));
        source.setColumnTitles({"Path", "Kept"});
        QCOMPARE(source.headerData(1, Qt::Horizontal).toString(), QStringLiteral("Kept"));
        std::vector<bool> left(3, false);
        source.setCellPresenter([&](const QVariant& element, int row, int column, int role) {
            if (role == Qt::CheckStateRole && column == 0)
                return QVariant(left[row] ? Qt::Unchecked : Qt::Checked);
            return role == Qt::DisplayRole ? QVariant(element.toString() + QString::number(column))
                                           : QVariant();
        });
        QCOMPARE(source.data(source.index(2, 1)).toString(), QStringLiteral("c1"));
        QVERIFY(!(source.flags(source.index(1, 0)) & Qt::ItemIsUserCheckable));
        QVERIFY(!source.setData(source.index(1, 0), Qt::Unchecked, Qt::CheckStateRole));
        // The owner refuses row 2; every other row follows the click and is redrawn whole.
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
        QCOMPARE(changed.count(), 1);
        QCOMPARE(changed.constFirst().value(1).toModelIndex(), source.index(1, 1));
        QVERIFY(!source.setData(source.index(2, 0), Qt::Unchecked, Qt::CheckStateRole));
        QVERIFY(!source.setData(source.index(1, 1), Qt::Checked, Qt::CheckStateRole));
        QCOMPARE(left, (std::vector<bool>{false, true, false}));
        QCOMPARE(textOf(source.getObjects()), QStringLiteral("a b c")); // the rows are the same
        // Editing through Qt's interface replaces the element.
        QVERIFY(source.setData(source.index(0, 1), "e"));
        QCOMPARE(source.objectValue(nullptr, 0, 0), QVariant("e"));
    }
};

QTEST_MAIN(UrlTableViewDataSourceTest)
#include "url_table_view_data_source_test.moc"
