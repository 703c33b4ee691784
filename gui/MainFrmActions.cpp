// The main window's keys, the letters its menu items underline, and the enabled state of its
// actions.
#include "gui/MailOperations.h"
#include "gui/MainFrm.h"

#include <QAction>
#include <QKeySequence>
#include <QShortcut>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>

#include <cstring>
#include <utility>

namespace {

// The letter each menu item underlines, by the item's name: one of its own within its menu.
struct TMnemonic
{
    const char* Item;
    char Key;
};
constexpr TMnemonic Mnemonics[] = {
    {"mmiFileClose", 'C'},
    {"mmiFileExit", 'x'},
    {"mmiViewMessageDetails", 'P'},
    {"mmiViewActionlog", 'L'},
    {"mmiViewSettings", 'S'},
    {"mmiNotificationCheckNow", 'N'},
    {"mmiNotificationCancel", 'S'},
    {"mmiNotificationDelete", 'D'},
    {"mmiStartmailclient", 'M'},
    {"mmiNotificationSelectAll", 'A'},
    {"mmiHelpOnlineHelp", 'O'},
    {"mmiHelpHomePage", 'H'},
    {"mmiHelpCheckForNewVersion", 'V'},
    {"mmiHelpAbout", 'A'},
    {"pmiOpen", 'O'},
    {"pmiCheckNow", 'N'},
    {"pmiStartmailclient", 'M'},
    {"pmiExit", 'x'},
    {"pmiNotificationMessageDetails", 'P'},
    {"pmiNotificationDelete", 'D'},
    {"pmiNotificationSelectAll", 'A'},
};

} // namespace

QString TMainForm::MenuText(const char* itemName, const QString& caption)
{
    for (const TMnemonic& mnemonic : Mnemonics) {
        if (std::strcmp(mnemonic.Item, itemName) != 0)
            continue;
        const qsizetype at = caption.indexOf(QLatin1Char(mnemonic.Key));
        if (at >= 0)
            return caption.left(at) + u'&' + caption.mid(at);
    }
    return caption;
}

void TMainForm::AssignKeys()
{
    const std::pair<QAction*, QKeySequence> keys[] = {
        {actNotificationCheckNow, QKeySequence(Qt::Key_F5)},
        {actNotificationDeleteMessages, QKeySequence(Qt::Key_Delete)},
        {actFileExit, QKeySequence(Qt::CTRL | Qt::Key_Q)},
        {actViewSettings, QKeySequence(Qt::CTRL | Qt::Key_Comma)},
    };
    for (const auto& [action, key] : keys) {
        action->setShortcut(key);
        addAction(action);
    }
    // Shown in the menus only: the list takes Return itself, for its current row.
    actViewMessagePreview->setShortcut(QKeySequence(Qt::Key_Return));
    actViewMessagePreview->setShortcutContext(Qt::WidgetShortcut);
    lvNotification->installEventFilter(this);

    auto* closePreview = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    closePreview->setObjectName(QStringLiteral("scMessagePreviewClose"));
    connect(closePreview, &QShortcut::activated, this, [this] {
        if (MessagePreviewShown())
            HideMessagePreview();
    });
}

void TMainForm::PreviewCurrentRow()
{
    QTreeWidgetItem* current = lvNotification->currentItem();
    if (current == nullptr)
        return;
    lvNotification->setCurrentItem(current, 0,
                                   QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    actViewMessagePreview->trigger();
}

void TMainForm::UpdateActions()
{
    const bool selected = !lvNotification->selectedItems().isEmpty();
    actViewMessagePreview->setEnabled(selected);
    actNotificationDeleteMessages->setEnabled(selected);
    actNotificationSelectAll->setEnabled(lvNotification->topLevelItemCount() > 0);
    actNotificationStop->setEnabled(FMailOperationsController && FMailOperationsController->Busy);

    const bool mailClient =
        !QString::fromStdString(FConfiguration->Notification.MailClient).trimmed().isEmpty();
    const QString tip = mailClient ? QStringLiteral("Start Mail Client")
                                   : QStringLiteral("No mail client is set: choose one in "
                                                    "Settings, on the Notification page");
    actNotificationStartMailClient->setEnabled(mailClient);
    actNotificationStartMailClient->setToolTip(tip);
    // After the action's change, which gives the button its fixed hint back.
    if (auto* button = findChild<QToolButton*>(QStringLiteral("tbtnStartMailClient")))
        button->setToolTip(tip);
}

void TMainForm::OfferFirstAccount()
{
    if (!FConfiguration->Accounts.empty())
        return;
    QTimer::singleShot(0, this, &TMainForm::actViewSettingsExecute);
}
