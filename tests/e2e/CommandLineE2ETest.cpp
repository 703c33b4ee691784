// The program's command-line modes as a script starts them on a machine without a display:
// no DISPLAY, no WAYLAND_DISPLAY, no QT_QPA_PLATFORM.
#include "config/Data.h"
#include "config/FileKeyStore.h"
#include "config/PassCrypt.h"
#include "tests/support/FakeMailbox.h"
#include "tests/support/FakePop3Server.h"
#include "tests/support/SampleServerThread.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestCertificates.h"
#include "tools/DemoStore.h"
#include "tools/SamplePop3Server.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

struct TRun
{
    int ExitCode = -1; // -1 when the program did not end by itself in time
    std::string Out;
    std::string Err;
};

bool IsDisplayVariable(const std::string& entry)
{
    for (const char* name : {"DISPLAY=", "WAYLAND_DISPLAY=", "QT_QPA_PLATFORM=",
                             "MAILBEACON_CONFIG=", "XDG_CONFIG_HOME="})
        if (entry.rfind(name, 0) == 0)
            return true;
    return false;
}

// Runs the program with this process's environment minus the display and the store
// variables, its settings folder in folder; the output goes through files there.
TRun RunProgram(const TTempDir& folder, const std::vector<std::string>& arguments)
{
    std::vector<std::string> environment;
    for (char** entry = environ; *entry != nullptr; ++entry)
        if (!IsDisplayVariable(*entry))
            environment.emplace_back(*entry);
    environment.push_back("XDG_CONFIG_HOME=" + folder.File("config"));

    std::vector<std::string> argumentTexts = {MB_PROGRAM};
    argumentTexts.insert(argumentTexts.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& text : argumentTexts)
        argv.push_back(text.data());
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (std::string& text : environment)
        envp.push_back(text.data());
    envp.push_back(nullptr);

    const std::string outFile = folder.File("stdout.txt");
    const std::string errFile = folder.File("stderr.txt");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outFile.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errFile.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, MB_PROGRAM, &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    TRun run;
    if (spawned != 0) {
        run.Err = std::string("cannot start the program: ") + std::strerror(spawned);
        return run;
    }

    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            status = -1;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (status != -1 && WIFEXITED(status))
        run.ExitCode = WEXITSTATUS(status);
    else if (status != -1 && WIFSIGNALED(status))
        run.Err = "ended by signal " + std::to_string(WTERMSIG(status)) + "\n";
    run.Out = ReadFile(outFile);
    run.Err += ReadFile(errFile);
    return run;
}

} // namespace

TEST(CommandLineWithoutDisplay, HelpPrintsTheUsage)
{
    TTempDir folder;
    const TRun run = RunProgram(folder, {"--help"});
    EXPECT_EQ(run.ExitCode, 0) << run.Err;
    EXPECT_EQ(run.Out.rfind("Usage: mailbeacon", 0), 0u) << run.Out;
    EXPECT_NE(run.Out.find("--check [--json] [--verbose] [--config FILE]"), std::string::npos);
    EXPECT_NE(run.Out.find("(here: " + folder.File("config") + "/Hollinway/Mailbeacon 2.0.reg)"),
              std::string::npos)
        << run.Out;
}

TEST(CommandLineWithoutDisplay, VersionPrintsTheVersion)
{
    TTempDir folder;
    const TRun run = RunProgram(folder, {"--version"});
    EXPECT_EQ(run.ExitCode, 0) << run.Err;
    EXPECT_EQ(run.Out, "Mailbeacon 2.0\n");
}

TEST(CommandLineWithoutDisplay, CheckListsTheMailboxOnLoopback)
{
    TTempDir folder;
    TFakeMailbox mailbox;
    mailbox.SetMessages({"From: Ann Smith <ann@example.org>\r\nSubject: Hello\r\n"
                         "Date: Sun, 06 Dec 2026 20:07:05 +0000\r\n\r\nHi.\r\n"});
    TFakePop3Server server;
    mailbox.ServeOn(server, 1);
    server.Start();
    const std::string store = folder.File("accounts.reg");
    {
        TFileKeyStore keys(store);
        TCryptLib cipher = MakeProgramCipher();
        SaveAccount(keys, cipher, {"Home", "127.0.0.1", server.Port(), "alice", "secret"}, {});
    }

    const TRun run = RunProgram(folder, {"--check", "--config", store});
    EXPECT_EQ(run.ExitCode, 0) << run.Err;
    EXPECT_EQ(run.Out.rfind("Home\tAnn Smith\tHello\t", 0), 0u) << run.Out;
    EXPECT_NE(run.Out.find("\nMail Check completed at "), std::string::npos) << run.Out;
    EXPECT_NE(run.Out.find(" with 0 error(s)\n"), std::string::npos) << run.Out;
}

TEST(CommandLineWithoutDisplay, CheckOverTlsListsTheTrustedAccountAndRefusesTheOther)
{
    if (TTestCertificates::Binary().empty())
        GTEST_SKIP() << "openssl is not installed (Debian package openssl)";
    TSelfSignedSampleServer tls({"From: Ann Smith <ann@example.org>\r\nSubject: Secure hello\r\n"
                                 "Date: Sun, 06 Dec 2026 20:07:05 +0000\r\n\r\nHi.\r\n"});
    TSampleServerThread& server = tls.Server;
    TTempDir folder;
    const std::string store = folder.File("accounts.reg");
    {
        TFileKeyStore keys(store);
        TCryptLib cipher = MakeProgramCipher();
        TAccount trusted{"Trusted", "127.0.0.1", server.Port(), "demo", "demo"};
        trusted.Security = TAccount::SecurityTls;
        trusted.TrustedCertificate = tls.Certificate.Fingerprint;
        TAccount untrusted = trusted;
        untrusted.Name = "Untrusted";
        untrusted.TrustedCertificate.clear();
        SaveAccount(keys, cipher, trusted, {});
        SaveAccount(keys, cipher, untrusted, {});
    }

    const TRun run = RunProgram(folder, {"--check", "--json", "--verbose", "--config", store});
    EXPECT_EQ(run.ExitCode, 1) << run.Err;
    EXPECT_NE(run.Out.find("\"errors\": 1"), std::string::npos) << run.Out;
    EXPECT_NE(run.Out.find("\"account\": \"Trusted\""), std::string::npos) << run.Out;
    EXPECT_NE(run.Out.find("\"subject\": \"Secure hello\""), std::string::npos) << run.Out;
    EXPECT_EQ(run.Out.find("\"account\": \"Untrusted\""), std::string::npos) << run.Out;
    EXPECT_NE(run.Out.find("ERROR - Connection to Untrusted failed."), std::string::npos)
        << run.Out;
    EXPECT_NE(run.Err.find("Secure connection established (TLSv1.3, "), std::string::npos)
        << run.Err;
    // The untrusted account never logged in.
    EXPECT_EQ(server.Log().find("log-in refused"), std::string::npos);
    EXPECT_NE(server.Log().find("demo logged in"), std::string::npos);
}

// The demo's own messages through the sample server: what a newcomer previews first.
TEST(CommandLineWithoutDisplay, PreviewDecodesTheSampleMessages)
{
    TTempDir folder;
    TSamplePop3Server::TOptions options;
    options.Folder = MB_SAMPLES_DIR;
    TSamplePop3Server server(options);
    std::thread serving([&] { server.Run(); });
    const std::string store = folder.File("demo.reg");
    {
        TFileKeyStore keys(store);
        TDemoAccount account;
        account.Port = server.Port();
        WriteDemoStore(keys, account);
    }

    const TRun multipart =
        RunProgram(folder, {"--preview", "Sample server", "2", "--config", store});
    const TRun encoded =
        RunProgram(folder, {"--preview", "Sample server", "3", "--json", "--config", store});
    server.Stop();
    serving.join();

    EXPECT_EQ(multipart.ExitCode, 0) << multipart.Err;
    EXPECT_EQ(multipart.Out.rfind("From: Paula Meyer <paula.meyer@example.com>\n"
                                  "To: Demo User <demo@example.org>\n"
                                  "Subject: Quarterly report and figures\n"
                                  "Attachments: Quarterly report.pdf, chart.png, "
                                  "\xC3\x9C"
                                  "bersicht M\xC3\xA4rz.csv\n\nHi,\n\n",
                                  0),
              0u)
        << multipart.Out;
    EXPECT_EQ(multipart.Out.find("--=_sample_boundary_42"), std::string::npos) << multipart.Out;

    EXPECT_EQ(encoded.ExitCode, 0) << encoded.Err;
    EXPECT_NE(
        encoded.Out.find("un caf\xC3\xA9 vendredi \xC3\xA0 15 h ? Le nouveau salon de th\xC3\xA9 "
                         "pr\xC3\xA8s du lac est tr\xC3\xA8s agr\xC3\xA9"
                         "able."),
        std::string::npos)
        << encoded.Out;
    EXPECT_NE(encoded.Out.find("\"to\": \"Zo\xC3\xAB Nov\xC3\xA1k <demo@example.org>\""),
              std::string::npos)
        << encoded.Out;
}
