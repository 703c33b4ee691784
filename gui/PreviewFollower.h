#pragma once

#include "mail/MessageRow.h"

#include <QObject>

#include <functional>
#include <optional>

class QTimer;
class QTreeWidget;

// Once the preview pane is open, it follows the selection: a moment after the first selected
// row changes to another message, that message is previewed through the window's Message
// Preview, with its usual guard and identity check. While another operation runs the change
// waits for its end; while the computer is offline the pane stays as it is (a selection alone
// never empties the list, as an explicit Message Preview offline does).
class TPreviewFollower : public QObject
{
    Q_OBJECT

public:
    struct THooks
    {
        std::function<bool()> PaneShown;
        std::function<bool()> Busy;
        std::function<bool()> Online;
        // Message Preview of the first selected row.
        std::function<void()> Preview;
    };

    TPreviewFollower(QTreeWidget* list, THooks hooks, QObject* parent = nullptr);

    // The pane now shows the message of this row.
    void Shown(const TMessageRow& row);
    // How long a selection must stay before it is previewed, in milliseconds; moving through
    // the list with the arrow keys previews only where the user stops.
    void SetDelay(int milliseconds);

private:
    void Follow();
    // Whether two rows stand for the same listed message.
    static bool SameRow(const TMessageRow& a, const TMessageRow& b);

    QTreeWidget* FList;
    THooks FHooks;
    QTimer* FTimer;
    std::optional<TMessageRow> FShown;
};
