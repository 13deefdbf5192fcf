#include "table/natural_sort_proxy.hpp"

#include "table/url_table_view_data_source.hpp"

namespace tolvane {

namespace {

bool isNumber(const QVariant& value) {
    switch (value.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Double:
        return true;
    default:
        return false;
    }
}

} // namespace

NaturalSortProxy::NaturalSortProxy(QObject* parent) : QSortFilterProxyModel(parent) {
    setSortRole(SortRole);
    setCollationLocale(QLocale());
}

void NaturalSortProxy::setCollationLocale(const QLocale& locale) {
    // The C locale compares code points; numbers and case want a language's rules.
    collator_ = QCollator(locale.language() == QLocale::C ? QLocale(QLocale::English) : locale);
    collator_.setNumericMode(true);
    collator_.setCaseSensitivity(Qt::CaseInsensitive);
    invalidate();
}

bool NaturalSortProxy::lessThan(const QModelIndex& left, const QModelIndex& right) const {
    const QVariant a = left.data(sortRole());
    const QVariant b = right.data(sortRole());
    if (isNumber(a) && isNumber(b)) {
        if (a.typeId() == QMetaType::ULongLong && b.typeId() == QMetaType::ULongLong)
            return a.toULongLong() < b.toULongLong();
        return a.toDouble() < b.toDouble();
    }
    // An empty cell comes first, as a missing number would.
    if (!a.isValid() || !b.isValid())
        return !a.isValid() && b.isValid();
    if (const int order = collator_.compare(a.toString(), b.toString()); order != 0)
        return order < 0;
    // Names that read the same ("A.png", "a.png") still come in one order every time.
    return a.toString() < b.toString();
}

} // namespace tolvane
