// The command-line modes in process. This test links the command-line library without Qt
// Widgets: if the modes needed them, it would not link.
#include "app/CommandLine.h"

#include "config/Data.h"
#include "config/FileKeyStore.h"
#include "config/PassCrypt.h"
#include "tests/support/FakeMailbox.h"
#include "tests/support/FakePop3Server.h"
#include "tests/support/TempDir.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

namespace {

using TArguments = std::vector<std::string>;

struct TRun
{
    int ExitCode = -1;
    std::string Out;
    std::string Err;
};

TRun RunMode(const TArguments& arguments)
{
    std::ostringstream out;
    std::ostringstream err;
    TRun run;
    run.ExitCode = RunCommandLineMode(CommandLineMode(arguments), arguments, out, err);
    run.Out = out.str();
    run.Err = err.str();
    return run;
}

std::string Message(const std::string& subject)
{
    return "From: Ann Smith <ann@example.org>\r\nTo: alice@example.org\r\nSubject: " + subject +
           "\r\nDate: Sun, 06 Dec 2026 20:07:05 +0000\r\n\r\nHello.\r\n";
}

} // namespace

TEST(CommandLineModeTest, HelpBeforeVersionBeforeCheck)
{
    const struct
    {
        TArguments Arguments;
        TCommandLineMode Mode;
    } table[] = {
        {{}, TCommandLineMode::TrayProgram},
        {{"--config", "store.reg"}, TCommandLineMode::TrayProgram},
        {{"--help"}, TCommandLineMode::Help},
        {{"-h"}, TCommandLineMode::Help},
        {{"--check", "--json", "--help"}, TCommandLineMode::Help},
        {{"--version", "--help"}, TCommandLineMode::Help},
        {{"--version"}, TCommandLineMode::Version},
        {{"--check", "--version"}, TCommandLineMode::Version},
        {{"--check"}, TCommandLineMode::Check},
        {{"--config", "store.reg", "--json"}, TCommandLineMode::Check},
        // The name after --config is a file's, however it looks.
        {{"--config", "--help"}, TCommandLineMode::TrayProgram},
        {{"--config", "--version", "--check"}, TCommandLineMode::Check},
        {{"--preview", "Home", "3", "--json"}, TCommandLineMode::Preview},
        {{"--check", "--preview", "Home", "3"}, TCommandLineMode::Preview},
        // The two words after --preview are its account and number, however they look.
        {{"--preview", "--help", "1"}, TCommandLineMode::Preview},
        {{"--config", "--preview"}, TCommandLineMode::TrayProgram},
    };
    for (const auto& row : table) {
        std::string shown;
        for (const std::string& argument : row.Arguments)
            shown += argument + " ";
        EXPECT_EQ(CommandLineMode(row.Arguments), row.Mode) << shown;
    }
}

TEST(CommandLineModeTest, HelpNamesEveryOptionTheExitStatusAndTheStoreInUse)
{
    TTempDir dir;
    const std::string store = dir.File("from-the-environment.reg");
    ::setenv("MAILBEACON_CONFIG", store.c_str(), 1);
    const TRun run = RunMode({"--help"});
    ::unsetenv("MAILBEACON_CONFIG");

    EXPECT_EQ(run.ExitCode, 0);
    EXPECT_EQ(run.Err, "");
    EXPECT_EQ(run.Out.rfind("Usage: mailbeacon", 0), 0u) << run.Out;
    for (const char* option :
         {"--check", "--json", "--verbose", "--config FILE", "--help", "--version",
          "--preview ACCOUNT NUMBER", "0 when every included account answered", "1 otherwise",
          "2 for a bad command line"})
        EXPECT_NE(run.Out.find(option), std::string::npos) << option;
    EXPECT_NE(run.Out.find("(here: " + store + ")"), std::string::npos) << run.Out;
}

TEST(CommandLineModeTest, VersionIsOneLine)
{
    const TRun run = RunMode({"--version"});
    EXPECT_EQ(run.ExitCode, 0);
    EXPECT_EQ(run.Out, "Mailbeacon 2.0\n");
    EXPECT_EQ(run.Err, "");
}

// The check, on a store in a folder of its own, against a mailbox on 127.0.0.1.
class CheckModeTest : public ::testing::Test
{
protected:
    std::string Store(const std::string& password)
    {
        const std::string fileName = Dir.File("accounts.reg");
        TFileKeyStore store(fileName);
        TCryptLib cipher = MakeProgramCipher();
        SaveAccount(store, cipher, {"Home", "127.0.0.1", Server.Port(), "alice", password}, {});
        return fileName;
    }

    TTempDir Dir;
    TFakeMailbox Mailbox;
    TFakePop3Server Server;
};

TEST_F(CheckModeTest, RowsAndSummaryWhenTheAccountAnswers)
{
    Mailbox.SetMessages({Message("First"), Message("Second")});
    Mailbox.ServeOn(Server, 1);
    Server.Start();

    const TRun run = RunMode({"--check", "--config", Store("secret")});
    EXPECT_EQ(run.ExitCode, 0) << run.Err;
    std::istringstream lines(run.Out);
    std::string line;
    std::vector<std::string> read;
    while (std::getline(lines, line))
        read.push_back(line);
    ASSERT_EQ(read.size(), 3u) << run.Out;
    EXPECT_EQ(read[0].rfind("Home\tAnn Smith\tFirst\t", 0), 0u) << read[0];
    EXPECT_EQ(read[1].rfind("Home\tAnn Smith\tSecond\t", 0), 0u) << read[1];
    EXPECT_EQ(read[2].rfind("Mail Check completed at ", 0), 0u) << read[2];
    EXPECT_NE(read[2].find(" with 0 error(s)"), std::string::npos) << read[2];
}

TEST_F(CheckModeTest, RefusedLogInExitsWithOne)
{
    Mailbox.ServeOn(Server, 1);
    Server.Start();

    const TRun run = RunMode({"--check", "--json", "--config", Store("wrong")});
    EXPECT_EQ(run.ExitCode, 1);
    EXPECT_EQ(run.Out.rfind("{\"summary\": \"Mail Check completed at ", 0), 0u) << run.Out;
    EXPECT_NE(run.Out.find("\"errors\": 1"), std::string::npos) << run.Out;
    // The described line, then why; the error stream names the account and the reason.
    const std::string reason = "127.0.0.1:" + std::to_string(Server.Port()) +
                               " answered: -ERR [AUTH] invalid user name or password";
    EXPECT_NE(run.Out.find("\"log\": [\"ERROR - Connection to Home failed.\", \"" + reason + "\"]"),
              std::string::npos)
        << run.Out;
    EXPECT_EQ(run.Err, "mailbeacon: Home: " + reason + "\n");
}

TEST_F(CheckModeTest, NoServerTextReachesTheTerminalWithItsControlCharacters)
{
    Server.LogInOpening().Receive("STAT");
    Server
        .Reply("-ERR \x1b]0;owned\x07\x1b[2J\xC2\x9B"
               "5m locked\x7F")
        .Receive("Quit");
    Server.Start();

    const TRun run = RunMode({"--check", "--verbose", "--config", Store("secret")});
    EXPECT_EQ(run.ExitCode, 1);
    for (const char control : {'\x1b', '\x07', '\x7F', '\r'})
        EXPECT_EQ(run.Err.find(control), std::string::npos) << run.Err;
    EXPECT_EQ(run.Err.find("\xC2\x9B"), std::string::npos) << "C1 control sequence introducer";
    EXPECT_NE(run.Err.find("-ERR \xEF\xBF\xBD]0;owned"), std::string::npos) << run.Err;
}

TEST_F(CheckModeTest, AStoreIsOnlyReadAndAFolderIsCalledAFolder)
{
    Mailbox.ServeOn(Server, 1);
    Server.Start();
    const std::string fileName = Store("secret");
    // Without the Accounts key a check has nothing to do, and must not add it.
    const std::string bare =
        "REGEDIT4\r\n\r\n; hand-written\r\n[HKEY_CURRENT_USER\\Software]\r\n\r\n";
    WriteFile(fileName, bare);
    const TRun run = RunMode({"--check", "--config", fileName});
    EXPECT_EQ(run.ExitCode, 0) << run.Err;
    EXPECT_EQ(ReadFile(fileName), bare);

    const TRun folder = RunMode({"--check", "--config", Dir.Path()});
    EXPECT_EQ(folder.ExitCode, 2);
    EXPECT_EQ(folder.Err, "mailbeacon: cannot read the settings file " + Dir.Path() +
                              ": it is a folder, not a file\n");
}

// Before, a message without a date had a date of 1899, a bare sender had no address, and the
// recipients came only as the list's comma text.
TEST_F(CheckModeTest, JsonRowsCarryTheDateAsRfc3339AndTheAddressesAlone)
{
    Mailbox.SetMessages(
        {"From: carol@example.org\r\nTo: \"Doe, Jo\" <jo@example.org>, team@example.com\r\n"
         "Subject: Undated\r\n\r\nHello.\r\n",
         "From: Ann Smith <ann@example.org>\r\nTo: alice@example.org\r\nSubject: Comma\r\n"
         "Date: Thu,13 Feb 2025 10:00:00 +0100\r\n\r\nHello.\r\n"});
    Mailbox.ServeOn(Server, 1);
    Server.Start();

    const TRun run = RunMode({"--check", "--json", "--config", Store("secret")});
    ASSERT_EQ(run.ExitCode, 0) << run.Err;
    QJsonParseError error;
    const QJsonDocument document =
        QJsonDocument::fromJson(QByteArray::fromStdString(run.Out), &error);
    ASSERT_EQ(error.error, QJsonParseError::NoError) << run.Out;
    const QJsonArray rows = document.object()[u"rows"].toArray();
    ASSERT_EQ(rows.size(), 2);
    const QJsonObject undated = rows[0].toObject();
    EXPECT_EQ(undated[u"date"].toString(), QString());
    EXPECT_TRUE(undated[u"date_iso"].isNull());
    EXPECT_EQ(undated[u"address"].toString(), QStringLiteral("carol@example.org"));
    EXPECT_EQ(undated[u"to"].toString(),
              QStringLiteral("\"\"\"Doe, Jo\"\" <jo@example.org>\",team@example.com"));
    EXPECT_EQ(undated[u"to_list"].toArray(),
              (QJsonArray{QStringLiteral("jo@example.org"), QStringLiteral("team@example.com")}));
    const QJsonObject dated = rows[1].toObject();
    EXPECT_TRUE(dated[u"date"].toString().startsWith(u"13")) << run.Out;
    EXPECT_EQ(dated[u"date_iso"].toString(), QStringLiteral("2025-02-13T10:00:00+01:00"));
    EXPECT_EQ(dated[u"address"].toString(), QStringLiteral("ann@example.org"));
}

// The preview, on the same kind of store and mailbox.
using PreviewModeTest = CheckModeTest;

const std::string Multipart =
    "From: \"Meyer, Paula\" <paula@example.com>\r\n"
    "To: Demo User <demo@example.org>, team@example.com\r\n"
    "Subject: =?UTF-8?Q?Caf=C3=A9?=\r\n"
    "Date: Sun, 06 Dec 2026 20:07:05 +0000\r\n"
    "MIME-Version: 1.0\r\n"
    "Content-Type: multipart/mixed; boundary=b\r\n\r\n"
    "--b\r\n"
    "Content-Type: text/plain; charset=utf-8\r\n"
    "Content-Transfer-Encoding: quoted-printable\r\n\r\n"
    "Un caf=C3=A9 ?\r\n\r\nPaula\r\n"
    "--b\r\n"
    "Content-Type: text/plain; charset=\"utf-8\"; name=\"notes.txt\"\r\n\r\n"
    "notes\r\n"
    "--b--\r\n";

TEST_F(PreviewModeTest, PrintsWhatThePaneShows)
{
    Mailbox.SetMessages({Message("First"), Multipart});
    Mailbox.ServeOn(Server, 2);
    Server.Start();
    const std::string store = Store("secret");

    const TRun run = RunMode({"--preview", "home", "2", "--config", store});
    EXPECT_EQ(run.ExitCode, 0) << run.Err;
    EXPECT_EQ(run.Err, "");
    EXPECT_EQ(run.Out, "From: Meyer, Paula <paula@example.com>\n"
                       "To: Demo User <demo@example.org>, team@example.com\n"
                       "Subject: Caf\xC3\xA9\n"
                       "Attachments: notes.txt\n"
                       "\n"
                       "Un caf\xC3\xA9 ?\n"
                       "\n"
                       "Paula\n");

    const TRun json = RunMode({"--preview", "Home", "1", "--json", "--config", store});
    EXPECT_EQ(json.ExitCode, 0) << json.Err;
    EXPECT_EQ(json.Out.rfind("{\"summary\": \"Message Preview completed at ", 0), 0u) << json.Out;
    EXPECT_NE(json.Out.find("\"errors\": 0, \"account\": \"Home\", \"number\": 1, \"preview\": "
                            "{\"from\": \"Ann Smith <ann@example.org>\", \"to\": "
                            "\"alice@example.org\", \"subject\": \"First\", \"attachments\": [], "
                            "\"message_id\": \"\", \"text\": \"Hello.\"}, \"log\": []}"),
              std::string::npos)
        << json.Out;
}

TEST_F(PreviewModeTest, AMessageTheServerDoesNotHaveExitsWithOne)
{
    Mailbox.SetMessages({Message("Only")});
    Mailbox.ServeOn(Server, 1);
    Server.Start();

    const TRun run = RunMode({"--preview", "Home", "7", "--json", "--config", Store("secret")});
    EXPECT_EQ(run.ExitCode, 1);
    EXPECT_NE(run.Out.find("\"errors\": 1"), std::string::npos) << run.Out;
    EXPECT_NE(run.Out.find("\"preview\": null, \"log\": [\"ERROR - Message Preview on Home "
                           "failed.\"]"),
              std::string::npos)
        << run.Out;
    EXPECT_EQ(run.Err, "mailbeacon: ERROR - Message Preview on Home failed.\n");
}

TEST_F(PreviewModeTest, BadCommandLinesAndUnknownAccountsExitWithTwo)
{
    Server.Start();
    const std::string store = Store("secret");
    const struct
    {
        TArguments Arguments;
        const char* Says;
    } table[] = {
        {{"--preview", "Home"}, "--preview needs an account name and a message number"},
        {{"--preview", "Home", "0"}, "a whole number from 1 up, not \"0\""},
        {{"--preview", "Home", "two"}, "not \"two\""},
        {{"--preview", "Home", "1", "--verbose"}, "unknown option --verbose"},
        {{"--preview", "Work", "1", "--config", store},
         "has no account named \"Work\"; it has: Home"},
        {{"--preview", "Home", "1", "--config", Dir.File("missing.reg")}, "it does not exist"},
    };
    for (const auto& row : table) {
        const TRun run = RunMode(row.Arguments);
        EXPECT_EQ(run.ExitCode, 2) << row.Says;
        EXPECT_NE(run.Err.find(row.Says), std::string::npos) << run.Err;
        EXPECT_EQ(run.Out, "");
    }
}
