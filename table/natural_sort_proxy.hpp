#pragma once

#include <QCollator>
#include <QSortFilterProxyModel>

namespace tolvane {

// Sorts a table by the SortRole of its cells: numbers as numbers, texts in the order a person
// reads them (stroke_2 before stroke_19, any case, the language's letters in place). Rows that
// compare equal keep the order of the source.
class NaturalSortProxy : public QSortFilterProxyModel {
    Q_OBJECT

  public:
    explicit NaturalSortProxy(QObject* parent = nullptr);

    // Texts compare by the rules of locale's language.
    void setCollationLocale(const QLocale& locale);

  protected:
    bool lessThan(const QModelIndex& left, const QModelIndex& right) const override;

  private:
    QCollator collator_;
};

} // namespace tolvane
