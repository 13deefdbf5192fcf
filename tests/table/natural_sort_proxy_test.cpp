#include "table/natural_sort_proxy.hpp"
#include "table/url_table_view_data_source.hpp"

#include <QAbstractItemModelTester>
#include <QStandardItemModel>
#include <QTest>

using tolvane::NaturalSortProxy;

class NaturalSortProxyTest : public QObject {
    Q_OBJECT

  private slots:
    void sortsAsAPersonReads_data() {
        QTest::addColumn<QVariantList>("values");
        QTest::addColumn<QVariantList>("sorted");
        QTest::newRow("numbers inside names")
            << QVariantList{"stroke_19.png", "stroke_2.png", "stroke_10.png"}
            << QVariantList{"stroke_2.png", "stroke_10.png", "stroke_19.png"};
        QTest::newRow("any case") << QVariantList{"b.png", "C.png", "a.png"}
                                  << QVariantList{"a.png", "b.png", "C.png"};
        QTest::newRow("same letters, one order")
            << QVariantList{"a.png", "A.png"} << QVariantList{"A.png", "a.png"};
        QTest::newRow("numbers as numbers")
            << QVariantList{qulonglong(100), qulonglong(9), qulonglong(10)}
            << QVariantList{qulonglong(9), qulonglong(10), qulonglong(100)};
        QTest::newRow("empty first") << QVariantList{"x.png", QVariant(), "a.png"}
                                     << QVariantList{QVariant(), "a.png", "x.png"};
    }

    void sortsAsAPersonReads() {
        QFETCH(QVariantList, values);
        QFETCH(QVariantList, sorted);
        QStandardItemModel source;
        for (const QVariant& value : values) {
            auto* item = new QStandardItem;
            item->setData(value, tolvane::SortRole);
            source.appendRow(item);
        }
        NaturalSortProxy proxy;
        proxy.setCollationLocale(QLocale(QLocale::English));
        QAbstractItemModelTester tester(&proxy,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        proxy.setSourceModel(&source);
        proxy.sort(0, Qt::AscendingOrder);
        QVariantList shown;
        for (int row = 0; row < proxy.rowCount(); ++row)
            shown << proxy.index(row, 0).data(tolvane::SortRole);
        QCOMPARE(shown, sorted);
    }
};

QTEST_MAIN(NaturalSortProxyTest)
#include "natural_sort_proxy_test.moc"
