#pragma once

#include "mail/MailCheck.h"

#include <QString>
#include <QTreeWidgetItem>

#include <cstdint>
#include <memory>

// A row of the message list: texts 0 to 4 in the columns, texts 5 to 8 kept out of sight for
// the preview and the deletion, and the account the row refers to.
class TMessageListItem : public QTreeWidgetItem
{
public:
    static constexpr int ItemType = QTreeWidgetItem::UserType + 1;
    static constexpr int ColumnCount = 5;
    static constexpr int DateColumn = 3;
    static constexpr int SizeColumn = 4;

    explicit TMessageListItem(TMessageRow row);

    // The message row of an item of the list; nullptr for any other item.
    static TMessageListItem* Of(QTreeWidgetItem* item);

    // Text 0 to 8 of the row; empty for any other index.
    QString Text(int index) const;
    const std::shared_ptr<TAccount>& Account() const { return FRow.Account; }
    // The row as the check made it, byte for byte, for an operation to copy before it starts.
    const TMessageRow& Row() const { return FRow; }

    // The order of the list's sort column: dates by when the messages were written (an
    // unreadable date first), sizes by their bytes, other texts alphabetically, ignoring case
    // and reading numbers as numbers; rows that compare equal keep the order they were listed in.
    bool operator<(const QTreeWidgetItem& other) const override;

private:
    TMessageRow FRow;
    // The place in the order rows were listed in.
    std::uint64_t FListed;
};
