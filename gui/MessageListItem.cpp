#include "gui/MessageListItem.h"

#include <QCollator>
#include <QTreeWidget>

#include <utility>

namespace {

std::uint64_t NextListed = 0;

int Compare(const QString& a, const QString& b)
{
    static const QCollator collator = [] {
        QCollator made;
        made.setCaseSensitivity(Qt::CaseInsensitive);
        made.setNumericMode(true);
        return made;
    }();
    return collator.compare(a, b);
}

template <class T> int Compare(T a, T b)
{
    return a < b ? -1 : b < a ? 1 : 0;
}

} // namespace

TMessageListItem::TMessageListItem(TMessageRow row)
    : QTreeWidgetItem(ItemType)
    , FRow(std::move(row))
    , FListed(NextListed++)
{
    for (int index = 0; index < ColumnCount; ++index)
        setText(index, QString::fromStdString(FRow.Text(index)));
}

TMessageListItem* TMessageListItem::Of(QTreeWidgetItem* item)
{
    return item != nullptr && item->type() == ItemType ? static_cast<TMessageListItem*>(item)
                                                       : nullptr;
}

QString TMessageListItem::Text(int index) const
{
    return QString::fromStdString(FRow.Text(index));
}

bool TMessageListItem::operator<(const QTreeWidgetItem& other) const
{
    if (other.type() != ItemType)
        return QTreeWidgetItem::operator<(other);
    const auto& that = static_cast<const TMessageListItem&>(other);
    const int column = treeWidget() != nullptr ? treeWidget()->sortColumn() : -1;
    int order = 0;
    if (column == DateColumn)
        order = Compare(FRow.Sent, that.FRow.Sent);
    else if (column == SizeColumn)
        order = Compare(FRow.SizeBytes, that.FRow.SizeBytes);
    else if (column >= 0 && column < ColumnCount)
        order = Compare(text(column), that.text(column));
    return order != 0 ? order < 0 : FListed < that.FListed;
}
