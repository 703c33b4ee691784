// The mail check end to end: the window's check and the command-line check against real
// Dovecot servers, and Stop during a slow account on the scripted server.
#include "config/PassCrypt.h"
#include "desktop/LocalTime.h"
#include "tests/support/FakeMailbox.h"
#include "tests/support/FakePop3Server.h"
#include "tests/support/PopServers.h"
#include "tests/ui/MailSupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QToolButton>

#include <gtest/gtest.h>

#include <iostream>

namespace {

// The message text with its body filled up to exactly size bytes.
std::string Sized(const std::string& header, std::size_t size)
{
    std::string text = header + "\r\n";
    const std::size_t line = 2 + 2;
    if (text.size() + line < size)
        text += std::string(size - text.size() - line + 2, 'x') + "\r\n";
    return text;
}

const std::string GreetingSubject = "=?UTF-8?B?R3LDvMOfZQ==?=";

// One Dovecot server for the whole suite with two accounts: "First" (alice) with three
// messages and "Second" (bob) with two. The checks only read them.
class MailCheckDovecotTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        if (TDovecotServer::Binary().empty())
            return;
        First = new TDovecotServer();
        First->AddMessage(Sized("From: \"Smith, Ann\" <ann@example.org>\r\n"
                                "To: alice@example.org, \"Doe, Jo\" <jo@example.org>\r\n"
                                "Subject: " +
                                    GreetingSubject +
                                    "\r\n"
                                    "Date: Sun, 06 Dec 2026 20:07:05 +0000\r\n"
                                    "Message-ID: <first-1@example.org>\r\n",
                                1024));
        First->AddMessage(Sized("From: bare@example.org\r\n"
                                "To: alice@example.org\r\n"
                                "Subject: No name, no ID\r\n"
                                "Date: Mon, 07 Dec 2026 08:30:00 +0100\r\n",
                                2048));
        First->AddMessage(Sized("From: Bob <bob@example.org>\r\n"
                                "To: alice@example.org\r\n"
                                "Subject: Say \"hi\" \\ back\r\n"
                                "Date: Tue, 08 Dec 2026 09:00:00 +0000\r\n"
                                "Message-ID: <first-3@example.org>\r\n",
                                5120));
        First->AddUser(SecondUser, SecondPassword);
        for (int n = 1; n <= 2; ++n)
            First->AddMessage(SecondUser,
                              Sized("From: Cy <cy@example.org>\r\nTo: alice@example.org\r\n"
                                    "Subject: Second " +
                                        std::to_string(n) +
                                        "\r\nDate: Sun, 06 Dec 2026 20:07:05 +0000\r\n"
                                        "Message-ID: <second-" +
                                        std::to_string(n) + "@example.org>\r\n",
                                    300));
    }

    static void TearDownTestSuite()
    {
        delete First;
        First = nullptr;
    }

    void SetUp() override
    {
        if (First == nullptr)
            GTEST_SKIP() << "dovecot is not installed (Debian package dovecot-pop3d): the "
                            "end-to-end mail check tests cannot run";
    }

    void TearDown() override
    {
        if (First != nullptr && HasFailure())
            std::cerr << "dovecot's log:\n" << First->Log();
    }

    static std::string Date(const std::string& day, const std::string& time)
    {
        const std::string separator = DateSeparator().toStdString();
        return day.substr(0, 2) + separator + day.substr(3, 2) + separator + day.substr(6) + " " +
               time;
    }

    // A store file with both accounts, the second with the given password. The store lists
    // them in alphabetical order, so a failing second account does not slow down the first's
    // log-in (the server delays log-ins after a failed one).
    std::string StoreFile(const std::string& secondPassword = SecondPassword)
    {
        const std::string fileName = Dir.File("accounts.reg");
        TFileKeyStore store(fileName);
        TCryptLib cipher = MakeProgramCipher();
        TAccount first{"First", "127.0.0.1", First->Port(), TDovecotServer::User,
                       TDovecotServer::Password};
        TAccount second{"Second", "127.0.0.1", First->Port(), SecondUser, secondPassword};
        SaveAccount(store, cipher, first, {});
        SaveAccount(store, cipher, second, {});
        return fileName;
    }

    struct TRun
    {
        int ExitCode = -1;
        QString Out;
        QString Err;
    };

    // The program runs with a header cache of the test's own.
    TRun RunProgram(const QStringList& arguments)
    {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_CACHE_HOME"),
                           QString::fromStdString(Dir.File("cache")));
        process.setProcessEnvironment(environment);
        process.start(QStringLiteral(MB_MAILBEACON), arguments);
        TRun run;
        if (!process.waitForFinished(30000)) {
            process.kill();
            process.waitForFinished();
            return run;
        }
        run.ExitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        run.Out = QString::fromUtf8(process.readAllStandardOutput());
        run.Err = QString::fromUtf8(process.readAllStandardError());
        return run;
    }

    static constexpr const char* SecondUser = "bob";
    static constexpr const char* SecondPassword = "bobs secret";
    static TDovecotServer* First;
    TTempDir Dir;
};

TDovecotServer* MailCheckDovecotTest::First = nullptr;

} // namespace

// The window

TEST_F(MailCheckDovecotTest, TwoAccountsGiveTheirFiveRowsInOrder)
{
    TMailWindow window;
    window.AddAccount("First", First->Port(), TDovecotServer::User, TDovecotServer::Password);
    window.AddAccount("Second", First->Port(), SecondUser, SecondPassword);
    ASSERT_TRUE(window.Check());

    ASSERT_EQ(window.RowCount(), 5);
    EXPECT_EQ(window.Texts(0),
              (QStringList{"First", "Smith, Ann", "Grüße",
                           QString::fromStdString(Date("06/12/2026", "20:07:05")), "2 KB",
                           "alice@example.org,\"\"\"Doe, Jo\"\" <jo@example.org>\"",
                           "ann@example.org", "1", "<first-1@example.org>"}));
    EXPECT_EQ(window.Texts(1), (QStringList{"First", "bare@example.org", "No name, no ID",
                                            QString::fromStdString(Date("07/12/2026", "08:30:00")),
                                            "2 KB", "alice@example.org", "", "2", ""}));
    EXPECT_EQ(window.Texts(2)[2], QStringLiteral("Say \"hi\" \\ back"));
    EXPECT_EQ(window.Texts(2)[4], QStringLiteral("6 KB"));
    EXPECT_EQ(window.Texts(3)[0], QStringLiteral("Second"));
    EXPECT_EQ(window.Texts(3)[2], QStringLiteral("Second 1"));
    EXPECT_EQ(window.Texts(4)[2], QStringLiteral("Second 2"));
    EXPECT_EQ(window.Texts(4)[7], QStringLiteral("2"));
    EXPECT_EQ(window.Form->StatusText(0), QStringLiteral("Total: 5"));
    EXPECT_EQ(window.Form->StatusText(1), QStringLiteral("New: 5"));
    EXPECT_TRUE(window.Form->StatusText(2).endsWith(QStringLiteral(" with 0 error(s)")));
}

TEST_F(MailCheckDovecotTest, WrongPasswordGivesOneErrorItsLogLineAndTheOtherAccountsRows)
{
    TMailWindow window;
    window.Form->Configuration().ApplicationSettings.Log = true;
    // The failing account last: the server slows down log-ins after a failed one.
    window.AddAccount("Second", First->Port(), SecondUser, SecondPassword);
    window.AddAccount("First", First->Port(), TDovecotServer::User, "not the password");
    ASSERT_TRUE(window.Check());

    EXPECT_EQ(window.Form->MailOperationsController().ErrorCount, 1);
    EXPECT_EQ(window.LogActions().filter(QStringLiteral("ERROR")),
              QStringList{QStringLiteral("ERROR - Connection to First failed.")});
    ASSERT_EQ(window.RowCount(), 2);
    EXPECT_EQ(window.Texts(0)[0], QStringLiteral("Second"));
    EXPECT_EQ(window.Form->StatusText(0), QStringLiteral("Total: 2"));
    EXPECT_TRUE(window.Form->StatusText(2).startsWith(QStringLiteral("Mail Check completed at ")));
    EXPECT_TRUE(window.Form->StatusText(2).endsWith(QStringLiteral(" with 1 error(s)")));
    // The log holds the status texts of both sessions, the error line after the failed one's.
    const QStringList log = window.LogActions();
    const qsizetype error = log.indexOf(QStringLiteral("ERROR - Connection to First failed."));
    EXPECT_EQ(log.mid(0, 4), (QStringList{"Connecting to 127.0.0.1", "Socket Connected",
                                          "Connected", "User Account is valid"}));
    EXPECT_EQ(log.mid(error - 2, 2), (QStringList{"Disconnecting", "Disconnected"}));
    // Then why, with the server's own words.
    const QString reason = log.value(error + 1);
    EXPECT_TRUE(reason.startsWith(QStringLiteral("127.0.0.1:%1 answered: -ERR").arg(First->Port())))
        << reason.toStdString();
}

TEST(MailCheckStopTest, StopDuringASlowAccountSkipsTheRestAndShowsTheSummary)
{
    TFakePop3Server slow;
    TFakeMailbox slowBox;
    for (int n = 1; n <= 6; ++n)
        slowBox.AddMessage("From: A <a@example.org>\r\nSubject: " + std::to_string(n) +
                           "\r\n\r\nbody\r\n");
    slowBox.SetDelay(80);
    // Without unique ids, the totals tell what is new.
    slowBox.RefuseUidl = true;
    slowBox.ServeOn(slow, 1);
    slow.Start();
    TFakePop3Server later;
    TFakeMailbox laterBox;
    laterBox.AddMessage("From: B <b@example.org>\r\nSubject: later\r\n\r\nbody\r\n");
    laterBox.ServeOn(later, 1);
    later.Start();

    TMailWindow window;
    window.AddAccount("Slow", slow.Port());
    window.AddAccount("Later", later.Port());
    TMainForm& form = *window.Form;
    form.actNotificationCheckNowExecute();
    ASSERT_TRUE(WaitFor([&] { return window.RowCount() == 1; }, 5000));
    form.findChild<QToolButton*>(QStringLiteral("tbtnCancel"))->click();
    ASSERT_TRUE(WaitFor([&] { return !form.MailOperationsController().Busy; }, 5000));

    const int rows = window.RowCount();
    EXPECT_GE(rows, 1);
    EXPECT_LE(rows, 2) << "at most the message under way when Stop came";
    EXPECT_EQ(form.StatusText(0), QStringLiteral("Total: %1").arg(rows));
    EXPECT_EQ(form.MailOperationsController().LastTotal, rows)
        << "the next complete check counts the rest as new";
    EXPECT_TRUE(form.StatusText(2).startsWith(QStringLiteral("Mail Check completed at ")));
    EXPECT_EQ(later.Connections(), 0) << "the account after the stopped one is not visited";
    ASSERT_TRUE(slow.WaitDone());
    const std::vector<std::string> commands = slow.Commands();
    ASSERT_FALSE(commands.empty());
    // Stop breaks the connection off at the wait under way, so that a silent server cannot
    // hold it; a check changes nothing on the server, which only sees the connection end.
    EXPECT_EQ(std::count(commands.begin(), commands.end(), "Quit"), 0);
    EXPECT_EQ(std::count(commands.begin(), commands.end(), "TOP 3 0"), 0);
}

// The command line

TEST_F(MailCheckDovecotTest, CheckCommandPrintsTheRowsAsTheWindowShowsThemAndTheSummary)
{
    const TRun run = RunProgram({"--check", "--config", QString::fromStdString(StoreFile())});
    ASSERT_EQ(run.ExitCode, 0) << run.Err.toStdString();
    QStringList lines = run.Out.split(u'\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 6) << run.Out.toStdString();
    EXPECT_EQ(lines[0], QStringLiteral("First\tSmith, Ann\tGrüße\t") +
                            QString::fromStdString(Date("06/12/2026", "20:07:05")) +
                            QStringLiteral("\t2 KB"));
    EXPECT_EQ(lines[1].section(u'\t', 1, 2), QStringLiteral("bare@example.org\tNo name, no ID"));
    EXPECT_EQ(lines[4].section(u'\t', 0, 0), QStringLiteral("Second"));
    EXPECT_TRUE(lines[5].startsWith(QStringLiteral("Mail Check completed at ")));
    EXPECT_TRUE(lines[5].endsWith(QStringLiteral(" with 0 error(s)")));
    EXPECT_TRUE(run.Err.isEmpty()) << run.Err.toStdString();
}

TEST_F(MailCheckDovecotTest, JsonDocumentHoldsTheRowsTotalsAndLog)
{
    const TRun run =
        RunProgram({"--check", "--json", "--config", QString::fromStdString(StoreFile())});
    ASSERT_EQ(run.ExitCode, 0) << run.Err.toStdString();
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(run.Out.toUtf8(), &error);
    ASSERT_EQ(error.error, QJsonParseError::NoError) << run.Out.toStdString();
    const QJsonObject root = document.object();
    EXPECT_TRUE(root[u"summary"].toString().startsWith(u"Mail Check completed at "));
    EXPECT_EQ(root[u"total"].toInt(), 5);
    EXPECT_EQ(root[u"new"].toInt(), 5);
    EXPECT_EQ(root[u"errors"].toInt(), 0);
    EXPECT_TRUE(root[u"log"].toArray().isEmpty());
    const QJsonArray rows = root[u"rows"].toArray();
    ASSERT_EQ(rows.size(), 5);
    const QJsonObject first = rows[0].toObject();
    EXPECT_EQ(first[u"account"].toString(), QStringLiteral("First"));
    EXPECT_EQ(first[u"from"].toString(), QStringLiteral("Smith, Ann"));
    EXPECT_EQ(first[u"subject"].toString(), QStringLiteral("Grüße"));
    EXPECT_EQ(first[u"size"].toString(), QStringLiteral("2 KB"));
    EXPECT_EQ(first[u"size_bytes"].toInt(), 1024);
    EXPECT_EQ(first[u"to"].toString(),
              QStringLiteral("alice@example.org,\"\"\"Doe, Jo\"\" <jo@example.org>\""));
    EXPECT_EQ(first[u"to_list"].toArray(),
              (QJsonArray{QStringLiteral("alice@example.org"), QStringLiteral("jo@example.org")}));
    EXPECT_EQ(first[u"date_iso"].toString(), QStringLiteral("2026-12-06T20:07:05+00:00"));
    EXPECT_EQ(first[u"address"].toString(), QStringLiteral("ann@example.org"));
    EXPECT_EQ(rows[1].toObject()[u"address"].toString(), QStringLiteral("bare@example.org"))
        << "a bare sender's address";
    EXPECT_EQ(rows[1].toObject()[u"date_iso"].toString(),
              QStringLiteral("2026-12-07T08:30:00+01:00"));
    EXPECT_EQ(first[u"number"].toInt(), 1);
    EXPECT_EQ(first[u"message_id"].toString(), QStringLiteral("<first-1@example.org>"));
    EXPECT_EQ(rows[2].toObject()[u"subject"].toString(), QStringLiteral("Say \"hi\" \\ back"));
    EXPECT_EQ(rows[1].toObject()[u"message_id"].toString(), QString());
    EXPECT_EQ(rows[4].toObject()[u"number"].toInt(), 2);
    // The documented order of the fields, for readers that do not parse.
    const QString out = run.Out;
    EXPECT_LT(out.indexOf(u"\"summary\""), out.indexOf(u"\"total\""));
    EXPECT_LT(out.indexOf(u"\"errors\""), out.indexOf(u"\"rows\""));
    EXPECT_LT(out.indexOf(u"\"rows\""), out.indexOf(u"\"log\""));
    EXPECT_FALSE(first[u"uid"].toString().isEmpty());
    EXPECT_TRUE(first[u"new"].toBool());

    // A repeat run takes the headers from the cache: the same rows, none of them new.
    const TRun repeat =
        RunProgram({"--check", "--json", "--config", QString::fromStdString(StoreFile())});
    ASSERT_EQ(repeat.ExitCode, 0) << repeat.Err.toStdString();
    const QJsonObject again = QJsonDocument::fromJson(repeat.Out.toUtf8()).object();
    EXPECT_EQ(again[u"new"].toInt(), 0);
    const QJsonArray repeatRows = again[u"rows"].toArray();
    ASSERT_EQ(repeatRows.size(), 5);
    for (int index = 0; index < 5; ++index) {
        QJsonObject row = repeatRows[index].toObject();
        EXPECT_FALSE(row[u"new"].toBool());
        row[u"new"] = true;
        EXPECT_EQ(row, rows[index].toObject()) << "row " << index;
    }
}

TEST_F(MailCheckDovecotTest, FailingAccountExitsWithOneAndIsExplainedInTheLog)
{
    const TRun run = RunProgram({"--check", "--json", "--verbose", "--config",
                                 QString::fromStdString(StoreFile("not the password"))});
    EXPECT_EQ(run.ExitCode, 1);
    const QJsonObject root = QJsonDocument::fromJson(run.Out.toUtf8()).object();
    EXPECT_EQ(root[u"errors"].toInt(), 1);
    EXPECT_EQ(root[u"total"].toInt(), 3);
    const QJsonArray log = root[u"log"].toArray();
    ASSERT_EQ(log.size(), 2);
    EXPECT_EQ(log[0].toString(), QStringLiteral("ERROR - Connection to Second failed."));
    EXPECT_TRUE(log[1].toString().contains(u" answered: -ERR")) << log[1].toString().toStdString();
    EXPECT_TRUE(root[u"summary"].toString().endsWith(u" with 1 error(s)"));
    // Verbose: the status texts and the log line as they happen.
    const QStringList err = run.Err.split(u'\n', Qt::SkipEmptyParts);
    EXPECT_EQ(err.mid(0, 4), (QStringList{"Connecting to 127.0.0.1", "Socket Connected",
                                          "Connected", "User Account is valid"}));
    EXPECT_TRUE(err.contains(QStringLiteral("ERROR - Connection to Second failed.")));
    EXPECT_TRUE(err.contains(log[1].toString()));
    EXPECT_TRUE(err.contains(QStringLiteral("Checking for messages")));
}

TEST(CheckCommandTest, BadCommandLineAndUnreadableStoreExitWithTwo)
{
    TTempDir dir;
    const auto run = [](const QStringList& arguments) {
        QProcess process;
        process.start(QStringLiteral(MB_MAILBEACON), arguments);
        process.waitForFinished(10000);
        return std::make_pair(process.exitCode(),
                              QString::fromUtf8(process.readAllStandardError()));
    };
    EXPECT_EQ(run({"--check", "--frobnicate"}).first, 2);
    EXPECT_EQ(run({"--json"}).first, 2) << "--json without --check";
    EXPECT_EQ(run({"--check", "--config"}).first, 2);
    const auto missing = run({"--check", "--config", QString::fromStdString(dir.File("none.reg"))});
    EXPECT_EQ(missing.first, 2);
    EXPECT_TRUE(missing.second.contains(u"none.reg")) << missing.second.toStdString();
    const std::string broken = dir.File("broken.reg");
    WriteFile(broken, "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\r\nnot a value\r\n");
    const auto unreadable = run({"--check", "--config", QString::fromStdString(broken)});
    EXPECT_EQ(unreadable.first, 2);
    EXPECT_TRUE(unreadable.second.contains(u"broken.reg")) << unreadable.second.toStdString();
    EXPECT_EQ(ReadFile(broken), "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\r\nnot a value\r\n")
        << "never rewritten";
}
