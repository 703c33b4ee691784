// The preview and the deletion end to end: the window against a real Dovecot server of its own
// per test, since the deletions change the mailbox.
#include "gui/MailThreads.h"
#include "pop3/Pop3Wire.h"
#include "tests/support/PopServers.h"
#include "tests/ui/MailSupport.h"

#include <QLabel>
#include <QPlainTextEdit>

#include <gtest/gtest.h>

#include <iostream>
#include <memory>

namespace {

std::string Message(int n)
{
    return "From: Cy <cy@example.org>\r\nTo: alice@example.org\r\nSubject: Message " +
           std::to_string(n) + "\r\nDate: Sun, 06 Dec 2026 20:07:05 +0000\r\nMessage-ID: <m" +
           std::to_string(n) + "@example.org>\r\n\r\nBody " + std::to_string(n) + "\r\n";
}

class PreviewDeleteDovecotTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (TDovecotServer::Binary().empty())
            GTEST_SKIP() << "dovecot is not installed (Debian package dovecot-pop3d): the "
                            "end-to-end preview and deletion tests cannot run";
        Server = std::make_unique<TDovecotServer>();
        Window.Form->Configuration().ApplicationSettings.Log = true;
        Window.AddAccount("Home", Server->Port(), TDovecotServer::User, TDovecotServer::Password);
    }

    void TearDown() override
    {
        if (Server && HasFailure())
            std::cerr << "dovecot's log:\n" << Server->Log();
    }

    void Select(std::initializer_list<int> rows)
    {
        Window.Form->lvNotification->clearSelection();
        for (const int row : rows)
            Window.Form->lvNotification->topLevelItem(row)->setSelected(true);
    }

    // Deletes the selected rows, answering Yes, and waits for the refreshing check's end.
    bool DeleteSelected()
    {
        TMainForm& form = *Window.Form;
        bool checkStarted = false;
        const QMetaObject::Connection watch =
            QObject::connect(&form, &TMainForm::TrayAnimationChanged,
                             [&](bool running) { checkStarted = checkStarted || !running; });
        form.actNotificationDeleteMessagesExecute();
        TDeleteMsgThread* deletion = form.MailOperationsController().DeleteThread;
        if (deletion == nullptr)
            return false;
        QObject::connect(deletion, &TMailThread::ErrorCounted, &form, [this] { ++DeletionErrors; });
        const bool ended =
            WaitFor([&] { return checkStarted && !form.MailOperationsController().Busy; }, 20000);
        QObject::disconnect(watch);
        return ended;
    }

    std::unique_ptr<TDovecotServer> Server;
    TMailWindow Window;
    // The errors that the last deletion counted, before its refreshing check reset them.
    int DeletionErrors = 0;
};

} // namespace

TEST_F(PreviewDeleteDovecotTest, PreviewOfAMultipartMessage)
{
    Server->AddMessage(Message(1));
    Server->AddMessage("From: \"Smith, Ann\" <ann@example.org>\r\n"
                       "To: alice@example.org, \"Doe, Jo\" <jo@example.org>\r\n"
                       "Subject: =?UTF-8?B?R3LDvMOfZQ==?=\r\n"
                       "Date: Mon, 07 Dec 2026 08:30:00 +0000\r\n"
                       "Message-ID: <mp@example.org>\r\n"
                       "MIME-Version: 1.0\r\n"
                       "Content-Type: multipart/mixed;\r\n\tboundary=\"sep\"\r\n\r\n"
                       "--sep\r\nContent-Type: text/plain; charset=utf-8\r\n\r\n"
                       "Dear Alice,\r\nthe figures are attached.\r\n\r\n"
                       "--sep\r\nContent-Type: text/csv; name=\"figures.csv\"\r\n\r\na,b\r\n"
                       "--sep\r\nContent-Type: application/pdf; name=\"report.pdf\"\r\n"
                       "Content-Transfer-Encoding: base64\r\n\r\nJVBERi0xLjQK\r\n--sep--\r\n");
    TMainForm& form = *Window.Form;
    ASSERT_TRUE(Window.Check());
    ASSERT_EQ(Window.RowCount(), 2);

    Select({1});
    form.actViewMessagePreviewExecute();
    ASSERT_TRUE(WaitFor([&] { return !form.MailOperationsController().Busy; }, 10000));

    ASSERT_TRUE(form.MessagePreviewShown()) << form.StatusText(2).toStdString();
    EXPECT_EQ(form.lblFrom->text(), QStringLiteral("Smith, Ann <ann@example.org>"));
    EXPECT_EQ(form.lblTo->text(),
              QStringLiteral("alice@example.org, \"Doe, Jo\" <jo@example.org>"));
    EXPECT_EQ(form.lblSubject->text(), QStringLiteral("Grüße"));
    EXPECT_TRUE(form.lblAttachments->isVisibleTo(&form));
    EXPECT_EQ(form.lblAttachments->text(), QStringLiteral("figures.csv, report.pdf"));
    EXPECT_TRUE(form.memMessage->toPlainText().contains(
        QStringLiteral("Dear Alice,\nthe figures are attached.")))
        << form.memMessage->toPlainText().toStdString();
    EXPECT_TRUE(form.StatusText(2).startsWith(QStringLiteral("Message Preview completed at ")));
    EXPECT_TRUE(form.StatusText(2).endsWith(QStringLiteral(" with 0 error(s)")));
    EXPECT_TRUE(Window.LogActions().contains(QStringLiteral("Retrieving message")));
}

TEST_F(PreviewDeleteDovecotTest, DeletingTwoRowsLeavesTheServerWithoutThem)
{
    for (int n = 1; n <= 3; ++n)
        Server->AddMessage(Message(n));
    TMainForm& form = *Window.Form;
    ASSERT_TRUE(Window.Check());
    ASSERT_EQ(Window.RowCount(), 3);

    Select({0, 2});
    ASSERT_TRUE(DeleteSelected());

    EXPECT_EQ(Server->MessageCount(), 1u);
    ASSERT_EQ(Window.RowCount(), 1);
    EXPECT_EQ(Window.Texts(0)[2], QStringLiteral("Message 2"));
    EXPECT_EQ(form.StatusText(0), QStringLiteral("Total: 1"));
    EXPECT_EQ(form.StatusText(1), QStringLiteral("New: 0"));
    EXPECT_EQ(DeletionErrors, 0);
}

TEST_F(PreviewDeleteDovecotTest, MessageDeletedElsewhereMakesNoWrongDeletion)
{
    for (int n = 1; n <= 4; ++n)
        Server->AddMessage(Message(n));
    TMainForm& form = *Window.Form;
    ASSERT_TRUE(Window.Check());
    ASSERT_EQ(Window.RowCount(), 4);

    // Another client deletes message 1: number 3 now names "Message 4".
    TWirePOP3 other;
    other.Host = "127.0.0.1";
    other.Port = Server->Port();
    other.UserID = TDovecotServer::User;
    other.Password = TDovecotServer::Password;
    other.Connect();
    ASSERT_TRUE(other.Delete(1));
    other.Disconnect();
    ASSERT_TRUE(WaitFor([&] { return Server->MessageCount() == 3; }, 5000));

    Select({2});
    ASSERT_TRUE(DeleteSelected());

    EXPECT_EQ(DeletionErrors, 1) << "the changed message is one error";
    EXPECT_EQ(Server->MessageCount(), 3u) << "Message 4 is still there";
    EXPECT_TRUE(Window.LogActions().contains(
        QStringLiteral("ERROR - Message on Home changed since the last check; not deleted.")))
        << Window.LogActions().join(u'|').toStdString();
    ASSERT_EQ(Window.RowCount(), 3);
    EXPECT_EQ(Window.Texts(2)[2], QStringLiteral("Message 4"));
    EXPECT_EQ(form.StatusText(1), QStringLiteral("New: 0"));
}
