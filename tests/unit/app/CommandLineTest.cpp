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
          "0 when every included account answered", "1 otherwise", "2 for a bad command line"})
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
