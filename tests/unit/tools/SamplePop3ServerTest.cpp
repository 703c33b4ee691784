#include "tools/SamplePop3Server.h"

#include "pop3/HeaderText.h"
#include "pop3/Pop3Wire.h"
#include "pop3/WireMessage.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestCertificates.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <memory>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

extern char** environ;

namespace {

std::vector<std::string> SampleFiles()
{
    std::vector<std::string> files;
    for (const fs::directory_entry& entry : fs::directory_iterator(MB_SAMPLES_DIR))
        if (entry.path().extension() == ".eml")
            files.push_back(entry.path().string());
    std::sort(files.begin(), files.end());
    return files;
}

// A POP3 client of the program on the server's port.
std::unique_ptr<TWirePOP3> MakeClient(std::uint16_t port, const std::string& password = "demo")
{
    auto client = std::make_unique<TWirePOP3>();
    client->Host = "127.0.0.1";
    client->Port = port;
    client->UserID = "demo";
    client->Password = password;
    client->ConnectTimeout = 5000;
    client->ReadTimeout = 5000;
    return client;
}

// The sample server on a copy of the samples, serving on a thread of the test.
class TSamplePop3ServerTest : public ::testing::Test
{
protected:
    TSamplePop3ServerTest()
    {
        for (const std::string& file : SampleFiles())
            fs::copy_file(file, FDir.File(fs::path(file).filename().string()));
        TSamplePop3Server::TOptions options;
        options.Folder = FDir.Path();
        FServer = std::make_unique<TSamplePop3Server>(options);
        FThread = std::thread([this] { FServer->Run(); });
    }

    ~TSamplePop3ServerTest() override
    {
        FServer->Stop();
        FThread.join();
    }

    std::size_t FileCount() const
    {
        return static_cast<std::size_t>(
            std::distance(fs::directory_iterator(FDir.Path()), fs::directory_iterator()));
    }

    TTempDir FDir;
    std::unique_ptr<TSamplePop3Server> FServer;
    std::thread FThread;
};

TEST_F(TSamplePop3ServerTest, ProgramClientListsEverySampleWithItsSizeAndHeader)
{
    const std::vector<std::string> files = SampleFiles();
    ASSERT_GE(files.size(), 5u);
    auto client = MakeClient(FServer->Port());
    client->Connect();
    ASSERT_EQ(client->CheckMessages(), static_cast<std::int32_t>(files.size()));

    std::vector<std::string> subjects;
    for (std::size_t index = 0; index < files.size(); ++index) {
        const std::int32_t number = static_cast<std::int32_t>(index + 1);
        // The samples are kept with CR LF ends, so their sizes are the sizes on the wire.
        EXPECT_EQ(client->RetrieveSize(number),
                  static_cast<std::int32_t>(fs::file_size(files[index])))
            << files[index];
        TWireMessage message;
        EXPECT_TRUE(client->RetrieveHeader(number, message)) << files[index];
        EXPECT_FALSE(message.From().empty()) << files[index];
        EXPECT_FALSE(message.MsgID().empty()) << files[index];
        subjects.push_back(DecodeHeaderText(message.Subject()));
    }
    EXPECT_EQ(subjects[0], "Welcome to the Mailbeacon demo");
    EXPECT_EQ(subjects[2], "Grüße aus Zürich – Café am Freitag?");
    EXPECT_EQ(subjects[3].rfind("Spring catalogue: new cordless drills, a workbench", 0), 0u);
    EXPECT_NE(subjects[3].find("until the end of the month"), std::string::npos) << subjects[3];
    client->Disconnect();
}

TEST_F(TSamplePop3ServerTest, DeletionIsCarriedOutAtQuitAndSeenByTheNextSession)
{
    const std::size_t files = FileCount();
    auto client = MakeClient(FServer->Port());
    client->Connect();
    EXPECT_TRUE(client->Delete(2));
    EXPECT_FALSE(client->Delete(2)) << "a message is deleted once";
    EXPECT_EQ(FileCount(), files);
    // The program's client sends QUIT and closes without waiting for the answer; the next
    // session, opened at once, must still find the deletion done.
    client->Disconnect();
    auto next = MakeClient(FServer->Port());
    next->Connect();
    EXPECT_EQ(next->CheckMessages(), static_cast<std::int32_t>(files - 1));
    next->Disconnect();
    EXPECT_EQ(FileCount(), files - 1);
    EXPECT_FALSE(fs::exists(FDir.File(fs::path(SampleFiles()[1]).filename().string())));
}

TEST_F(TSamplePop3ServerTest, RsetOrADroppedConnectionDeletesNothing)
{
    const std::size_t files = FileCount();
    auto client = MakeClient(FServer->Port());
    client->Connect();
    EXPECT_TRUE(client->Delete(1));
    client->SendCommand("RSET", 1, "", 0);
    client->Disconnect();

    auto dropped = MakeClient(FServer->Port());
    dropped->Connect();
    EXPECT_TRUE(dropped->Delete(1));
    dropped->CloseSocket();

    auto last = MakeClient(FServer->Port());
    last->Connect();
    EXPECT_EQ(last->CheckMessages(), static_cast<std::int32_t>(files));
    last->Disconnect();
    EXPECT_EQ(FileCount(), files);
}

TEST_F(TSamplePop3ServerTest, WrongPasswordIsRefusedWithTheServersReply)
{
    auto client = MakeClient(FServer->Port(), "wrong");
    try {
        client->Connect();
        FAIL() << "the log-in was accepted";
    } catch (const EWireResponseError& error) {
        EXPECT_STREQ(error.what(), "-ERR [AUTH] invalid user name or password");
    }
    EXPECT_FALSE(client->Connected());
    auto right = MakeClient(FServer->Port());
    EXPECT_NO_THROW(right->Connect());
}

TEST_F(TSamplePop3ServerTest, LinesWithLeadingDotsArriveAsTheyAreInTheFile)
{
    auto client = MakeClient(FServer->Port());
    client->Connect();
    client->SendCommand("TOP 1 40", 1, "", 0);
    std::vector<std::string> lines;
    client->Capture(lines, {"."});
    const std::vector<std::string> expected = {".", "..two dots", ".signature"};
    const auto found = std::search(lines.begin(), lines.end(), expected.begin(), expected.end());
    EXPECT_NE(found, lines.end()) << "the welcome message's dotted lines came back changed";
    client->Disconnect();
}

// RFC 2449 pipelining: the program sends the next commands before it reads the first replies.
TEST_F(TSamplePop3ServerTest, PipelinedCommandsAreAnsweredInOrder)
{
    auto client = MakeClient(FServer->Port());
    client->Connect();
    ASSERT_TRUE(TWirePOP3::AllowsPipelining(client->Capabilities()));
    const std::int32_t count = client->CheckMessages();
    client->StartListing(count, true);
    const std::vector<std::string> files = SampleFiles();
    for (std::int32_t number = 1; number <= count; ++number) {
        TWireMessage message;
        const TListedMessage listed = client->ListNext(message);
        EXPECT_EQ(listed.Number, number);
        EXPECT_TRUE(listed.HeaderComplete);
        EXPECT_EQ(listed.Size, static_cast<std::int32_t>(fs::file_size(files[number - 1])));
    }
    client->Disconnect();
}

// A server of the test's own, for the limits that the shared one keeps at their defaults.
TEST(SamplePop3ServerLimits, IdleOrOverlongSessionsAreClosedWithoutTheirDeletions)
{
    TTempDir dir;
    WriteFile(dir.File("1.eml"), "Subject: a\r\n\r\nbody\r\n");
    TSamplePop3Server::TOptions options;
    options.Folder = dir.Path();
    options.IdleTimeoutMs = 300;
    TSamplePop3Server server(options);
    std::thread thread([&] { server.Run(); });

    auto idle = MakeClient(server.Port());
    idle->Connect();
    EXPECT_TRUE(idle->Delete(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    EXPECT_EQ(idle->ReadLine(), "-ERR autologout: idle for too long");

    auto overlong = MakeClient(server.Port());
    overlong->Connect();
    EXPECT_TRUE(overlong->Delete(1));
    EXPECT_EQ(overlong->SendCommand("NOOP " + std::string(2000, 'x'), -1, "", 0), 0);
    EXPECT_EQ(overlong->ReplyText(), "-ERR line too long");
    EXPECT_THROW(overlong->SendCommand("NOOP", 1, "", 0), EWireException);

    EXPECT_TRUE(fs::exists(dir.File("1.eml")));
    server.Stop();
    thread.join();
}

// The executable

class TChildProcess
{
public:
    explicit TChildProcess(const std::vector<std::string>& arguments)
    {
        int output[2];
        if (::pipe(output) != 0)
            throw std::runtime_error("pipe");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, output[0]);
        std::vector<char*> argv;
        for (const std::string& argument : arguments)
            argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        const int failed = posix_spawn(&FPid, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(output[1]);
        FOutput = output[0];
        if (failed != 0)
            throw std::runtime_error("cannot start " + arguments[0]);
    }

    ~TChildProcess()
    {
        if (FPid > 0) {
            ::kill(FPid, SIGKILL);
            Wait();
        }
        ::close(FOutput);
    }

    std::string ReadLine()
    {
        std::string line;
        char c = 0;
        while (::read(FOutput, &c, 1) == 1 && c != '\n')
            line += c;
        return line;
    }

    void Signal(int number) { ::kill(FPid, number); }

    // The exit status, or -1 when the process did not exit normally.
    int Wait()
    {
        int status = 0;
        while (::waitpid(FPid, &status, 0) < 0 && errno == EINTR) {
        }
        FPid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    pid_t FPid = -1;
    int FOutput = -1;
};

TEST(SamplePop3ServerProgram, PrintsTheChosenPortServesAndEndsOnTermination)
{
    TTempDir dir;
    fs::copy_file(SampleFiles()[0], dir.File("only.eml"));
    TChildProcess server(
        {MB_SAMPLE_SERVER, "--port", "0", "--user", "ann", "--password", "pw", dir.Path()});
    const std::string port = server.ReadLine();
    ASSERT_FALSE(port.empty());
    auto client = MakeClient(static_cast<std::uint16_t>(std::stoi(port)), "pw");
    client->UserID = "ann";
    client->Connect();
    EXPECT_EQ(client->CheckMessages(), 1);
    client->Disconnect();
    server.Signal(SIGTERM);
    EXPECT_EQ(server.Wait(), 0);
}

TEST(SamplePop3ServerProgram, RefusesABadCommandLine)
{
    TTempDir dir;
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{MB_SAMPLE_SERVER},
          {MB_SAMPLE_SERVER, "--port", "70000", dir.Path()},
          {MB_SAMPLE_SERVER, dir.File("missing")},
          {MB_SAMPLE_SERVER, "--bogus", dir.Path()},
          {MB_SAMPLE_SERVER, "--tls", "cert.pem", dir.Path()},
          {MB_SAMPLE_SERVER, "--tls", "c", "k", "--stls", "c", "k", dir.Path()}}) {
        TChildProcess server(arguments);
        EXPECT_EQ(server.Wait(), 2) << arguments.back();
    }
    // A certificate that cannot be read is a failure to start, not a plain-text server.
    TChildProcess unreadable(
        {MB_SAMPLE_SERVER, "--tls", dir.File("none.pem"), dir.File("none.key"), dir.Path()});
    EXPECT_EQ(unreadable.ReadLine(), "");
    EXPECT_EQ(unreadable.Wait(), 1);
}

TEST(SamplePop3ServerProgram, ServesStartTlsWithItsCertificate)
{
    if (TTestCertificates::Binary().empty())
        GTEST_SKIP() << "openssl is not installed (Debian package openssl)";
    TTestCertificates pki;
    const TTestCertificates::TCertificate certificate = pki.SelfSigned("127.0.0.1", "IP:127.0.0.1");
    TTempDir dir;
    fs::copy_file(SampleFiles()[0], dir.File("only.eml"));
    TChildProcess server({MB_SAMPLE_SERVER, "--port", "0", "--stls", certificate.CertificateFile,
                          certificate.KeyFile, dir.Path()});
    const std::string port = server.ReadLine();
    ASSERT_FALSE(port.empty());
    auto client = MakeClient(static_cast<std::uint16_t>(std::stoi(port)));
    client->Security = TWireSecurity::StartTls;
    client->TrustedCertificate = certificate.Fingerprint;
    client->Connect();
    EXPECT_EQ(client->CheckMessages(), 1);
    // The client leaves without a word; the server carries on.
    client->CloseSocket();
    client = MakeClient(static_cast<std::uint16_t>(std::stoi(port)));
    client->Security = TWireSecurity::StartTls;
    client->TrustedCertificate = certificate.Fingerprint;
    client->Connect();
    client->Disconnect();
    server.Signal(SIGTERM);
    EXPECT_EQ(server.Wait(), 0);
}

} // namespace
