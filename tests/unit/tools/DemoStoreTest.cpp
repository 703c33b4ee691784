#include "tools/DemoStore.h"

#include "config/Data.h"
#include "config/FileKeyStore.h"
#include "config/PassCrypt.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sys/wait.h>

namespace {

int ExitStatus(const std::string& command)
{
    const int status = std::system((command + " 2>/dev/null").c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// What the program itself reads back from the store.
TEST(DemoStore, ProgramLoadsTheAccountAndIntervalChecking)
{
    TTempDir dir;
    const std::string fileName = dir.File("demo.reg");
    ASSERT_EQ(ExitStatus(std::string(MB_DEMO_STORE) + " --config '" + fileName +
                         "' --port 40110 --user ann --password 's3cret'"),
              0);

    TFileKeyStore store(fileName);
    TCryptLib cipher = MakeProgramCipher();
    TAccountList accounts;
    LoadAccounts(store, cipher, accounts);
    ASSERT_EQ(accounts.size(), 1u);
    EXPECT_EQ(accounts[0]->Name, "Sample server");
    EXPECT_EQ(accounts[0]->Host, "127.0.0.1");
    EXPECT_EQ(accounts[0]->Port, 40110);
    EXPECT_EQ(accounts[0]->UserId, "ann");
    EXPECT_EQ(accounts[0]->Password, "s3cret");
    EXPECT_TRUE(accounts[0]->Include);
    EXPECT_EQ(accounts[0]->Security, TAccount::SecurityNone);

    TConfiguration configuration;
    LoadSettings(store, configuration);
    EXPECT_TRUE(configuration.Notification.CheckTimer->Enabled());
    EXPECT_EQ(configuration.Notification.CheckTimer->Interval(), MinimumInterval);
    EXPECT_TRUE(configuration.ApplicationSettings.Log);

    const std::string text = ReadFile(fileName);
    EXPECT_EQ(text.rfind("REGEDIT4\r\n", 0), 0u);
    EXPECT_EQ(text.find("s3cret"), std::string::npos) << "the password is stored enciphered";
}

TEST(DemoStore, SecureAccountTrustsTheGivenCertificate)
{
    TTempDir dir;
    const std::string fingerprint = "AB:CD:EF:01:23:45:67:89:AB:CD:EF:01:23:45:67:89:"
                                    "AB:CD:EF:01:23:45:67:89:AB:CD:EF:01:23:45:67:89";
    const std::string command = std::string(MB_DEMO_STORE) + " --port 40995 --security tls";
    EXPECT_EQ(
        ExitStatus(command + " --config '" + dir.File("bad.reg") + "' --trusted-certificate AB:CD"),
        2);
    ASSERT_EQ(ExitStatus(command + " --config '" + dir.File("demo.reg") +
                         "' --trusted-certificate " + fingerprint),
              0);
    TFileKeyStore store(dir.File("demo.reg"));
    TCryptLib cipher = MakeProgramCipher();
    TAccountList accounts;
    LoadAccounts(store, cipher, accounts);
    ASSERT_EQ(accounts.size(), 1u);
    EXPECT_EQ(accounts[0]->Security, TAccount::SecurityTls);
    EXPECT_EQ(accounts[0]->TrustedCertificate, fingerprint);
}

TEST(DemoStore, NeverOverwritesAStoreOrTakesABadPort)
{
    TTempDir dir;
    const std::string fileName = dir.File("store.reg");
    WriteFile(fileName, "REGEDIT4\r\n\r\n");
    EXPECT_EQ(ExitStatus(std::string(MB_DEMO_STORE) + " --config '" + fileName + "' --port 110"),
              2);
    EXPECT_EQ(ReadFile(fileName), "REGEDIT4\r\n\r\n");
    for (const char* port : {"0", "65536", "x", "''"})
        EXPECT_EQ(ExitStatus(std::string(MB_DEMO_STORE) + " --config '" + dir.File("new.reg") +
                             "' --port " + port),
                  2)
            << port;
    EXPECT_EQ(ExitStatus(std::string(MB_DEMO_STORE) + " --port 110"), 2);
    EXPECT_FALSE(std::filesystem::exists(dir.File("new.reg")));
}

} // namespace
