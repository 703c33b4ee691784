#include "mail/MailDelete.h"

#include "pop3/Pop3Wire.h"
#include "tests/support/FakeMailbox.h"
#include "tests/support/FakePop3Server.h"
#include "tests/support/PopServers.h"
#include "tests/unit/mail/MailRecorder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>

namespace {

using TLines = std::vector<std::string>;

std::string Mail(const std::string& subject, bool withId = true)
{
    return "From: Bob <bob@example.org>\r\nTo: alice@example.org\r\nSubject: " + subject +
           "\r\nDate: Mon, 07 Dec 2026 08:30:00 +0000\r\n" +
           (withId ? "Message-ID: <" + subject + "@x>\r\n" : "") + "\r\nBody\r\n";
}

// One fake mailbox per account; rows come from a real check of them.
struct TMailAccount
{
    // The mailbox outlives the server, whose thread may still answer a QUIT from it.
    TFakeMailbox Box;
    TFakePop3Server Server;
    TAccountSnapshot Account;
    std::vector<TMessageRow> Rows;
};

class MailDeleteTest : public ::testing::Test
{
protected:
    // An account with the messages, listed by a check; sessions counts the check's too.
    TMailAccount& Add(const std::string& name, std::vector<std::string> messages, int sessions = 2)
    {
        auto& account = *Accounts.emplace_back(std::make_unique<TMailAccount>());
        account.Box.SetMessages(std::move(messages));
        account.Box.ServeOn(account.Server, sessions);
        account.Server.Start();
        account.Account = SnapshotOf(std::make_shared<TAccount>(
            TAccount{name, "127.0.0.1", account.Server.Port(), "alice", "secret"}));
        Client.ConnectTimeout = 5000;
        Client.ReadTimeout = 5000;
        TCheckRequest check;
        check.Accounts = {account.Account};
        TMailRecorder listed;
        std::atomic<bool> no{false};
        CheckMail(Client, check, listed, no);
        account.Rows = listed.Rows;
        return account;
    }

    void Select(TMailAccount& account, std::size_t row)
    {
        Request.Items.push_back({account.Account, account.Rows.at(row)});
    }

    // The commands after the check's session.
    static TLines DeletionCommands(TFakePop3Server& server)
    {
        const TLines all = server.Commands();
        const auto quit = std::find(all.begin(), all.end(), "Quit");
        return quit == all.end() ? TLines{} : TLines(quit + 1, all.end());
    }

    std::vector<std::unique_ptr<TMailAccount>> Accounts;
    TWirePOP3 Client;
    TDeleteRequest Request;
    TMailRecorder Events;
    std::atomic<bool> Cancel{false};
};

} // namespace

TEST_F(MailDeleteTest, OneSessionPerAccountEachDeleAfterItsHeaderWasCompared)
{
    TMailAccount& first = Add("First", {Mail("a"), Mail("b"), Mail("c", false)});
    TMailAccount& second = Add("Second", {Mail("d"), Mail("e")});
    Select(first, 0);
    Select(first, 2);
    Select(second, 1);

    DeleteMessages(Client, Request, Events, Cancel);

    EXPECT_EQ(Events.Only("D "), (TLines{"D First 1", "D First 3", "D Second 2"}));
    EXPECT_TRUE(Events.Only("E").empty());
    ASSERT_TRUE(first.Server.WaitDone());
    ASSERT_TRUE(second.Server.WaitDone());
    EXPECT_EQ(DeletionCommands(first.Server),
              (TLines{"CAPA", "User alice", "Pass secret", "TOP 1 0", "DELE 1", "TOP 3 0", "DELE 3",
                      "Quit"}));
    EXPECT_EQ(DeletionCommands(second.Server),
              (TLines{"CAPA", "User alice", "Pass secret", "TOP 2 0", "DELE 2", "Quit"}));
    EXPECT_EQ(first.Box.Messages(), (TLines{Mail("b")}));
    EXPECT_EQ(second.Box.Messages(), (TLines{Mail("d")}));
}

TEST_F(MailDeleteTest, UnreachableFirstAccountDeletesNothingAnywhere)
{
    TMailAccount& down = Add("Down", {Mail("a")}, 1);
    TMailAccount& up = Add("Up", {Mail("b")}, 1);
    Select(down, 0);
    Select(up, 0);
    Request.Items[0].Account.Data.Port = FreeLoopbackPort();

    DeleteMessages(Client, Request, Events, Cancel);

    EXPECT_EQ(Events.Only("E"), (TLines{"EL ERROR - Connection to Down failed."}));
    EXPECT_TRUE(Events.Only("D ").empty());
    EXPECT_EQ(up.Server.Connections(), 1) << "only the check's session";
}

TEST_F(MailDeleteTest, UnreachableLaterAccountLosesOnlyItsOwnRows)
{
    TMailAccount& first = Add("First", {Mail("a")});
    TMailAccount& middle = Add("Middle", {Mail("b")}, 1);
    TMailAccount& last = Add("Last", {Mail("c")});
    Select(first, 0);
    Select(middle, 0);
    Select(last, 0);
    Request.Items[1].Account.Data.Port = FreeLoopbackPort();

    DeleteMessages(Client, Request, Events, Cancel);

    EXPECT_EQ(Events.Only("D "), (TLines{"D First 1", "D Last 1"}));
    EXPECT_EQ(Events.Only("E"), (TLines{"EL ERROR - Connection to Middle failed."}));
}

TEST_F(MailDeleteTest, MessageChangedSinceTheCheckIsNotDeleted)
{
    TMailAccount& box = Add(
        "Home", {Mail("a"), Mail("b"), Mail("c"), Mail("d"), Mail("e", false), Mail("f", false)});
    Select(box, 2);
    Select(box, 4);
    Select(box, 5);
    // Another client deletes message 1: numbers 3 and 5 now name "d" and "f", and 6 is gone.
    box.Box.SetMessages({Mail("b"), Mail("c"), Mail("d"), Mail("e", false), Mail("f", false)});

    DeleteMessages(Client, Request, Events, Cancel);

    const std::string changed = "EL ERROR - Message on Home changed since the last check; not "
                                "deleted.";
    EXPECT_EQ(Events.Only("E"), (TLines{changed, changed, changed}));
    EXPECT_TRUE(Events.Only("D ").empty());
    ASSERT_TRUE(box.Server.WaitDone());
    EXPECT_EQ(DeletionCommands(box.Server), (TLines{"CAPA", "User alice", "Pass secret", "TOP 3 0",
                                                    "TOP 5 0", "TOP 6 0", "Quit"}));
    EXPECT_EQ(box.Box.Messages().size(), 5u);
}

TEST_F(MailDeleteTest, StopDeletesNothingMoreAndOpensNoFurtherSession)
{
    TMailAccount& first = Add("First", {Mail("a"), Mail("b")});
    TMailAccount& second = Add("Second", {Mail("c")}, 1);
    Select(first, 0);
    Select(first, 1);
    Select(second, 0);
    first.Box.SetOnCommand([this](const std::string& command) {
        if (command == "DELE 1")
            Cancel = true;
    });

    DeleteMessages(Client, Request, Events, Cancel);

    EXPECT_EQ(Events.Only("D "), (TLines{"D First 1"}));
    ASSERT_TRUE(first.Server.WaitDone());
    EXPECT_EQ(DeletionCommands(first.Server),
              (TLines{"CAPA", "User alice", "Pass secret", "TOP 1 0", "DELE 1", "Quit"}));
    EXPECT_EQ(first.Box.Messages(), (TLines{Mail("b")})) << "the accepted one is carried out";
    EXPECT_EQ(second.Server.Connections(), 1);
}
