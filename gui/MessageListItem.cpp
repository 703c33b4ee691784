#include "gui/MessageListItem.h"

#include <utility>

TMessageListItem::TMessageListItem(TMessageRow row)
    : QTreeWidgetItem(ItemType)
    , FRow(std::move(row))
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
