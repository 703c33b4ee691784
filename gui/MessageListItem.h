#pragma once

#include "mail/MailCheck.h"

#include <QString>
#include <QTreeWidgetItem>

#include <memory>

// A row of the message list: texts 0 to 4 in the columns, texts 5 to 8 kept out of sight for
// the preview and the deletion, and the account the row refers to.
class TMessageListItem : public QTreeWidgetItem
{
public:
    static constexpr int ItemType = QTreeWidgetItem::UserType + 1;
    static constexpr int ColumnCount = 5;

    explicit TMessageListItem(TMessageRow row);

    // The message row of an item of the list; nullptr for any other item.
    static TMessageListItem* Of(QTreeWidgetItem* item);

    // Text 0 to 8 of the row; empty for any other index.
    QString Text(int index) const;
    const std::shared_ptr<TAccount>& Account() const { return FRow.Account; }
    // The row as the check made it, byte for byte, for an operation to copy before it starts.
    const TMessageRow& Row() const { return FRow; }

private:
    TMessageRow FRow;
};
