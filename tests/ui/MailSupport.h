#pragma once

#include "config/FileKeyStore.h"
#include "gui/MailOperations.h"
#include "gui/MainFrm.h"
#include "gui/MessageListItem.h"
#include "tests/support/FakeConnectionProbes.h"
#include "tests/support/TempDir.h"
#include "tests/ui/UiSupport.h"

#include <QStringList>
#include <QTimer>
#include <QTreeWidget>

#include <cstdint>
#include <memory>
#include <string>

// A main window with its real mail operations on a store of its own, online, with the timers
// quiet so that only the test starts checks.
class TMailWindow
{
public:
    TMailWindow()
        : Store(Dir.File("store.reg"))
        , Probes(std::make_shared<TFakeConnectionProbes>())
        , Shell(std::make_shared<TRecordingShell>())
    {
        Probes->DialUpIsAvailable = true;
        Probes->DialUpIsConnected = true;
        Probes->QueryIsAvailable = true;
        Probes->Flags = ConnectedState::Lan;
        Form = std::make_unique<TMainForm>(Store, Dialogs.Make(), Shell);
        Form->ConnectionDetector().SetProbes(Probes);
        Form->tmOnlineDetection->stop();
        Form->MailOperationsController().Timeout = 5000;
    }

    std::shared_ptr<TAccount> AddAccount(const std::string& name, std::uint16_t port,
                                         const std::string& user = "alice",
                                         const std::string& password = "secret")
    {
        auto account = std::make_shared<TAccount>();
        account->Name = name;
        account->Host = "127.0.0.1";
        account->Port = port;
        account->UserId = user;
        account->Password = password;
        Form->Configuration().Accounts.push_back(account);
        return account;
    }

    // Check Now, then waits for the check's end; false when it did not end in time.
    bool Check(int milliseconds = 15000)
    {
        Form->actNotificationCheckNowExecute();
        return WaitFor([this] { return !Form->MailOperationsController().Busy; }, milliseconds);
    }

    int RowCount() const { return Form->lvNotification->topLevelItemCount(); }

    TMessageListItem* Row(int index) const
    {
        return TMessageListItem::Of(Form->lvNotification->topLevelItem(index));
    }

    // Texts 0 to 8 of a row.
    QStringList Texts(int index) const
    {
        QStringList texts;
        if (const TMessageListItem* row = Row(index))
            for (int text = 0; text < TMessageRow::TextCount; ++text)
                texts.append(row->Text(text));
        return texts;
    }

    QStringList LogActions() const
    {
        QStringList actions;
        for (const TLogItem& item : Form->LogList)
            actions.append(item.Action);
        return actions;
    }

    TTempDir Dir;
    TFileKeyStore Store;
    TScriptedDialogs Dialogs;
    std::shared_ptr<TFakeConnectionProbes> Probes;
    std::shared_ptr<TRecordingShell> Shell;
    std::unique_ptr<TMainForm> Form;
};
