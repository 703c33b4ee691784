#include "mail/MailPreview.h"

#include "pop3/Pop3Wire.h"
#include "tests/support/FakeMailbox.h"
#include "tests/support/FakePop3Server.h"
#include "tests/support/PopServers.h"
#include "tests/unit/mail/MailRecorder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

namespace {

using TLines = std::vector<std::string>;

const std::string Multipart = "From: Ann Smith <ann@example.org>\r\n"
                              "To: alice@example.org, \"Doe, Jo\" <jo@example.org>\r\n"
                              "Subject: =?UTF-8?Q?Gr=C3=BC=C3=9Fe?=\r\n"
                              "Date: Sun, 06 Dec 2026 20:07:05 +0000\r\n"
                              "Message-ID: <mp@example.org>\r\n"
                              "MIME-Version: 1.0\r\n"
                              "Content-Type: multipart/mixed;\r\n\tboundary=\"b1\"\r\n"
                              "\r\n"
                              "--b1\r\n"
                              "Content-Type: text/plain; charset=utf-8\r\n"
                              "\r\n"
                              "First line.\r\n"
                              "..Dotted line.\r\n"
                              "--b1\r\n"
                              "Content-Type: application/pdf; name=\"report.pdf\"\r\n"
                              "Content-Disposition: attachment; filename=\"report.pdf\"\r\n"
                              "\r\n"
                              "JVBE\r\n"
                              "--b1\r\n"
                              "Content-Type: text/plain; name=\"notes.txt\"\r\n"
                              "\r\n"
                              "notes\r\n"
                              "--b1--\r\n";

std::string Plain(const std::string& subject, const std::string& id = {})
{
    return "From: Bob <bob@example.org>\r\nTo: alice@example.org\r\nSubject: " + subject +
           "\r\nDate: Mon, 07 Dec 2026 08:30:00 +0000\r\n" +
           (id.empty() ? "" : "Message-ID: " + id + "\r\n") + "\r\nBody of " + subject + "\r\n";
}

// Rows listed by a real check of the fake mailbox, then previewed with another session.
class MailPreviewTest : public ::testing::Test
{
protected:
    void Start(std::vector<std::string> messages, int sessions = 2)
    {
        Box.SetMessages(std::move(messages));
        Box.ServeOn(Server, sessions);
        Server.Start();
        auto record = std::make_shared<TAccount>();
        record->Name = "Home";
        record->Host = "127.0.0.1";
        record->Port = Server.Port();
        record->UserId = "alice";
        record->Password = "secret";
        Request.Account = SnapshotOf(record);
        Client.ConnectTimeout = 5000;
        Client.ReadTimeout = 5000;
        TCheckRequest check;
        check.Accounts = {Request.Account};
        std::atomic<bool> no{false};
        CheckMail(Client, check, Listed, no);
    }

    // The commands of the preview session alone.
    TLines PreviewCommands()
    {
        const TLines all = Server.Commands();
        const auto quit = std::find(all.begin(), all.end(), "Quit");
        return quit == all.end() ? TLines{} : TLines(quit + 1, all.end());
    }

    void Preview(int row)
    {
        Request.Row = Listed.Rows.at(static_cast<std::size_t>(row));
        RetrieveMessagePreview(Client, Request, Events, Cancel);
    }

    // The mailbox outlives the server, whose thread may still answer a QUIT from it.
    TFakeMailbox Box;
    TFakePop3Server Server;
    TWirePOP3 Client;
    TMailRecorder Listed;
    TPreviewRequest Request;
    TMailRecorder Events;
    std::atomic<bool> Cancel{false};
};

} // namespace

TEST_F(MailPreviewTest, ShowsSenderRecipientsSubjectAttachmentsAndBody)
{
    Start({Plain("one"), Multipart});
    Request.MessagePreview = 40;
    Preview(1);

    ASSERT_TRUE(Server.WaitDone());
    EXPECT_EQ(PreviewCommands(), (TLines{"CAPA", "User alice", "Pass secret", "Top 2 40", "Quit"}));
    EXPECT_TRUE(Events.Only("E").empty());
    ASSERT_TRUE(Events.Shown.has_value());
    const TMessagePreview& shown = *Events.Shown;
    EXPECT_EQ(shown.From, "Ann Smith <ann@example.org>");
    EXPECT_EQ(shown.To, "alice@example.org, \"Doe, Jo\" <jo@example.org>")
        << "as a person reads it, not as the row keeps it";
    EXPECT_EQ(shown.Subject, "Gr\xC3\xBC\xC3\x9F"
                             "e");
    EXPECT_EQ(shown.Attachments, (TLines{"report.pdf", "notes.txt"}));
    EXPECT_EQ(shown.AttachmentsText, "report.pdf, notes.txt");
    const auto has = [&](const std::string& line) {
        return std::find(shown.Body.begin(), shown.Body.end(), line) != shown.Body.end();
    };
    EXPECT_TRUE(has("First line."));
    EXPECT_TRUE(has("..Dotted line.")) << "one transparency dot removed";
    EXPECT_FALSE(has("JVBE")) << "the body ends before the application part";
    const auto status = std::find(Events.Trace.begin(), Events.Trace.end(), "P");
    ASSERT_NE(status, Events.Trace.end());
    EXPECT_EQ(*(status - 1), "S Retrieving message") << "the pane follows the accepted TOP";
    EXPECT_EQ(Events.Trace.back(), "S Disconnected");
}

TEST_F(MailPreviewTest, AttachmentNamesWithTheirHintsAndNoneHidden)
{
    TMessageRow row;
    row.From = "Ann";
    row.Address = "";
    row.To = std::string(50, 'a') + "@example.org, " + std::string(50, 'b') + "@example.org";
    const TLines lines{"Subject: x",
                       "MIME-Version: 1.0",
                       "Content-Type: multipart/mixed; boundary=b1",
                       "",
                       "--b1",
                       "Content-Type: application/pdf; name=\"a.pdf\"",
                       "Content-Disposition: attachment; filename=\"A.PDF\"",
                       "",
                       "--b1",
                       "Content-Type: text/plain; name=\"=?UTF-8?Q?b=C3=BC.txt?=\""};
    const TMessagePreview preview = MakeMessagePreview(row, lines);
    EXPECT_EQ(preview.From, "Ann <>") << "an empty address keeps its brackets";
    EXPECT_EQ(preview.Attachments, (TLines{"A.PDF", "b\xC3\xBC.txt"}));
    EXPECT_EQ(preview.AttachmentsText, "A.PDF, b\xC3\xBC.txt");
    EXPECT_EQ(preview.ToHint.find("\r\n"), 64u) << "wrapped after the blank after the comma";
    EXPECT_EQ(preview.To.find("\r\n"), std::string::npos);
    EXPECT_TRUE(MakeMessagePreview(row, {"Subject: x", "", "text"}).Attachments.empty());
}

TEST_F(MailPreviewTest, RefusedTopIsLoggedAndShowsNothing)
{
    Server.Reply("+OK ready")
        .Receive("CAPA")
        .Reply("-ERR unknown command")
        .Receive("User alice")
        .Reply("+OK")
        .Receive("Pass secret")
        .Reply("+OK")
        .Receive("Top 7 50")
        .Reply("-ERR no such message")
        .Receive("Quit");
    Server.Start();
    auto record =
        std::make_shared<TAccount>(TAccount{"Home", "127.0.0.1", Server.Port(), "alice", "secret"});
    Request.Account = SnapshotOf(record);
    Request.Row.Number = "7";
    RetrieveMessagePreview(Client, Request, Events, Cancel);

    ASSERT_TRUE(Server.WaitDone());
    EXPECT_EQ(Server.Problems(), "");
    EXPECT_EQ(Events.Only("E"), (TLines{"EL ERROR - Message Preview on Home failed."}));
    EXPECT_FALSE(Events.Shown);
}

TEST_F(MailPreviewTest, ConnectionFailureAndLostSessionAreErrors)
{
    Request.Account = SnapshotOf(std::make_shared<TAccount>(
        TAccount{"Gone", "127.0.0.1", FreeLoopbackPort(), "alice", "secret"}));
    Request.Row.Number = "1";
    RetrieveMessagePreview(Client, Request, Events, Cancel);
    EXPECT_EQ(Events.Only("E"), (TLines{"EL ERROR - Connection to Gone failed."}));

    Server.LogInOpening().Receive("Top 1 50").Send("+OK\r\nSubject: cut\r\n").Close();
    Server.Start();
    Request.Account.Data.Port = Server.Port();
    TMailRecorder lost;
    RetrieveMessagePreview(Client, Request, lost, Cancel);
    EXPECT_EQ(lost.Only("E"), (TLines{"ES Connection Closed Gracefully."}));
    EXPECT_FALSE(lost.Shown);
}

TEST_F(MailPreviewTest, StopBeforeTopFetchesNothingAndAfterItShowsTheRowOnly)
{
    Start({Multipart}, 3);
    Cancel = true;
    Preview(0);
    EXPECT_FALSE(Events.Shown);
    EXPECT_TRUE(Events.Only("E").empty());

    Cancel = false;
    TMailRecorder late;
    late.OnStatus = [this](const std::string& text) {
        if (text == "Retrieving message")
            Cancel = true;
    };
    Request.Row = Listed.Rows.at(0);
    RetrieveMessagePreview(Client, Request, late, Cancel);
    ASSERT_TRUE(late.Shown.has_value());
    EXPECT_EQ(late.Shown->From, "Ann Smith <ann@example.org>");
    EXPECT_TRUE(late.Shown->Body.empty());
    EXPECT_TRUE(late.Shown->Attachments.empty());

    ASSERT_TRUE(Server.WaitDone());
    EXPECT_EQ(PreviewCommands(), (TLines{"CAPA", "User alice", "Pass secret", "Quit", "CAPA",
                                         "User alice", "Pass secret", "Top 1 50", "Quit"}));
}

TEST_F(MailPreviewTest, AnotherMessageUnderTheNumberShowsNothing)
{
    Start({Plain("one", "<1@x>"), Plain("two", "<2@x>"), Plain("three"), Plain("four")}, 3);
    // Another client deletes message 1: every number now names the next message.
    Box.SetMessages({Plain("two", "<2@x>"), Plain("three"), Plain("four")});
    Preview(0);
    EXPECT_EQ(Events.Only("E"), (TLines{"EL ERROR - Message Preview on Home failed."}));
    EXPECT_FALSE(Events.Shown);

    TMailRecorder withoutId;
    Request.Row = Listed.Rows.at(2);
    RetrieveMessagePreview(Client, Request, withoutId, Cancel);
    EXPECT_EQ(withoutId.Only("E"), (TLines{"EL ERROR - Message Preview on Home failed."}))
        << "no Message-ID: From, Date and Subject decide";
    EXPECT_FALSE(withoutId.Shown);
}

// The command line names a message by its number alone: no listed row to compare, so the pane's
// texts are those of whatever message the number names now.
TEST_F(MailPreviewTest, WithoutAListedRowTheFetchedHeaderGivesTheTexts)
{
    Start({Plain("one", "<1@x>"), Multipart}, 2);
    Request.Row = TMessageRow();
    Request.Row.Number = "2";
    Request.CheckIdentity = false;
    RetrieveMessagePreview(Client, Request, Events, Cancel);

    EXPECT_TRUE(Events.Only("E").empty());
    ASSERT_TRUE(Events.Shown.has_value());
    EXPECT_EQ(Events.Shown->From, "Ann Smith <ann@example.org>");
    EXPECT_EQ(Events.Shown->Subject, "Gr\xC3\xBC\xC3\x9F"
                                     "e");
    EXPECT_EQ(Events.Shown->Row.Number, "2");
    EXPECT_EQ(Events.Shown->Row.MessageId, "<mp@example.org>");
    EXPECT_EQ(Events.Shown->Body, (TLines{"First line.", "..Dotted line."}));
}
