#include "gui/PreviewFollower.h"

#include "gui/MessageListItem.h"

#include <QTimer>
#include <QTreeWidget>

#include <utility>

namespace {

constexpr int DefaultDelay = 250;

} // namespace

TPreviewFollower::TPreviewFollower(QTreeWidget* list, THooks hooks, QObject* parent)
    : QObject(parent)
    , FList(list)
    , FHooks(std::move(hooks))
    , FTimer(new QTimer(this))
{
    FTimer->setSingleShot(true);
    FTimer->setInterval(DefaultDelay);
    connect(FTimer, &QTimer::timeout, this, &TPreviewFollower::Follow);
    connect(FList, &QTreeWidget::itemSelectionChanged, FTimer, qOverload<>(&QTimer::start));
}

void TPreviewFollower::Shown(const TMessageRow& row)
{
    FShown = row;
}

void TPreviewFollower::SetDelay(int milliseconds)
{
    FTimer->setInterval(milliseconds);
}

bool TPreviewFollower::SameRow(const TMessageRow& a, const TMessageRow& b)
{
    // A unique id names the message whatever number a refresh gave it.
    if (!a.Uid.empty() || !b.Uid.empty())
        return a.Account == b.Account && a.Uid == b.Uid;
    return a.Account == b.Account && a.AccountName == b.AccountName && a.Number == b.Number &&
           a.MessageId == b.MessageId;
}

void TPreviewFollower::Follow()
{
    if (!FHooks.PaneShown())
        return;
    const TMessageListItem* first = nullptr;
    for (int index = 0; index < FList->topLevelItemCount() && first == nullptr; ++index) {
        QTreeWidgetItem* item = FList->topLevelItem(index);
        if (item->isSelected())
            first = TMessageListItem::Of(item);
    }
    if (first == nullptr || (FShown && SameRow(*FShown, first->Row())))
        return;
    if (FHooks.Busy()) {
        FTimer->start();
        return;
    }
    if (FHooks.Online())
        FHooks.Preview();
}
