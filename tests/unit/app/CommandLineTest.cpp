// The command-line modes in process. This test links the command-line library without Qt
// Widgets: if the modes needed them, it would not link.
#include "app/CommandLine.h"

#include "config/Data.h"
#include "config/FileKeyStore.h"
#include "config/PassCrypt.h"
#include "tests/support/FakeMailbox.h"
#include "tests/support/FakePop3Server.h"
#include "tests/support/TempDir.h"

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
