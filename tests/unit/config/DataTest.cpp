#include "config/Data.h"

#include "config/FileKeyStore.h"
#include "config/PassCrypt.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

const std::string Settings = StoreKeys::Settings;
const std::string Accounts = StoreKeys::Accounts;

class Data : public ::testing::Test
{
protected:
    std::string FileName() const { return FDir.File("Mailbeacon 2.0.reg"); }
    void WriteStore(const std::string& keysAndValues)
    {
        WriteFile(FileName(), "REGEDIT4\r\n\r\n" + keysAndValues);
    }
    std::string Section(const std::string& path) const
    {
        return "[HKEY_CURRENT_USER" + path + "]\r\n";
    }
    std::vector<std::string> AccountNames()
    {
        std::vector<std::string> names;
        for (const auto& account : FConfiguration.Accounts)
            names.push_back(account->Name);
        return names;
    }

    TTempDir FDir;
    TFileKeyStore FStore{FileName()};
    TCryptLib FCipher = MakeProgramCipher();
    TConfiguration FConfiguration;
};

std::string ErrorOf(const std::function<void()>& action)
{
    try {
        action();
    } catch (const std::exception& error) {
        return error.what();
    }
    return "no error";
}

} // namespace

TEST_F(Data, FirstRunWritesEveryDefaultOption)
{
    LoadAccounts(FStore, FCipher, FConfiguration.Accounts);
    LoadSettings(FStore, FConfiguration);
    std::int32_t height = 163;
    std::vector<TColumnWidth> columns = {{"Account", 60}, {"From", 150}};
    LoadWindowSettings(FStore, height, columns);

    EXPECT_TRUE(FConfiguration.Accounts.empty());
    EXPECT_FALSE(FConfiguration.Notification.CheckTimer->Enabled());
    EXPECT_EQ(FConfiguration.Notification.CheckTimer->Interval(), 300000u);
    EXPECT_EQ(FConfiguration.Connection.ConnectionType, TConnection::Direct);
    EXPECT_EQ(FConfiguration.Connection.ProxyPort, 80);
    EXPECT_EQ(FConfiguration.ApplicationSettings.DoubleClick, 1);
    EXPECT_EQ(FConfiguration.ApplicationSettings.MessagePreview, 50);
    EXPECT_EQ(height, 163);
    EXPECT_EQ(columns[1].Width, 150);

    // The loaders of the accounts and the window add no keys: only saving them does.
    EXPECT_EQ(ReadFile(FileName()), "REGEDIT4\r\n\r\n" + Section(Settings) +
                                        "\"IntervalCheck\"=dword:00000000\r\n"
                                        "\"Interval\"=dword:000493e0\r\n"
                                        "\"PlaySound\"=dword:00000000\r\n"
                                        "\"Sound\"=\"\"\r\n"
                                        "\"StartClient\"=dword:00000000\r\n"
                                        "\"MailClient\"=\"\"\r\n"
                                        "\"Startup\"=dword:00000000\r\n"
                                        "\"Connection\"=dword:00000002\r\n"
                                        "\"UseProxy\"=dword:00000000\r\n"
                                        "\"Proxy\"=\"\"\r\n"
                                        "\"ProxyPort\"=dword:00000050\r\n"
                                        "\"DoubleClick\"=dword:00000001\r\n"
                                        "\"MessagePreview\"=dword:00000032\r\n"
                                        "\"Log\"=dword:00000000\r\n"
                                        "\"NotifyOnlyWhenNew\"=dword:00000000\r\n"
                                        "\"DesktopNotification\"=dword:00000001\r\n"
                                        "\r\n");
}

TEST_F(Data, ReadingLeavesTheStoreAsItIs)
{
    // A store without Accounts and Window keys, as a hand-written one may be.
    LoadSettings(FStore, FConfiguration);
    const std::string before = ReadFile(FileName());
    struct stat written
    {};
    ASSERT_EQ(::stat(FileName().c_str(), &written), 0);

    TFileKeyStore reader(FileName());
    TAccountList accounts;
    LoadAccounts(reader, FCipher, accounts);
    LoadSettings(reader, FConfiguration);
    std::int32_t height = 163;
    std::vector<TColumnWidth> columns = {{"Account", 60}};
    LoadWindowSettings(reader, height, columns);
    EXPECT_FALSE(LoadWindowPlacement(reader).has_value());

    struct stat after
    {};
    ASSERT_EQ(::stat(FileName().c_str(), &after), 0);
    EXPECT_EQ(ReadFile(FileName()), before);
    EXPECT_EQ(after.st_ino, written.st_ino) << "the file was written again";
    EXPECT_TRUE(accounts.empty());
    EXPECT_EQ(height, 163);
}

TEST_F(Data, StoredOptionsAreTakenAsStored)
{
    WriteStore(Section(Settings) + "\"IntervalCheck\"=dword:00000007\r\n"
                                   "\"Interval\"=dword:0000ea60\r\n"
                                   "\"PlaySound\"=dword:00000001\r\n"
                                   "\"Sound\"=\"/usr/share/sounds/ding.wav\"\r\n"
                                   "\"MailClient\"=\"\\\"/opt/mail client/bin/mail\\\" -check\"\r\n"
                                   "\"Connection\"=dword:00000006\r\n"
                                   "\"UseProxy\"=dword:00000001\r\n"
                                   "\"Proxy\"=\"proxy.lan\"\r\n"
                                   "\"ProxyPort\"=dword:00000c38\r\n"
                                   "\"DoubleClick\"=dword:ffffffff\r\n"
                                   "\"MessagePreview\"=dword:000001f4\r\n"
                                   "\"Log\"=dword:00000001\r\n");
    LoadSettings(FStore, FConfiguration);
    const TNotification& notification = FConfiguration.Notification;
    EXPECT_TRUE(notification.CheckTimer->Enabled()); // any non-zero value is true
    EXPECT_EQ(notification.CheckTimer->Interval(), 60000u);
    EXPECT_TRUE(notification.PlaySound);
    EXPECT_EQ(notification.Sound, "/usr/share/sounds/ding.wav");
    EXPECT_EQ(notification.MailClient, "\"/opt/mail client/bin/mail\" -check");
    EXPECT_EQ(FConfiguration.Connection.ConnectionType, 6);
    EXPECT_TRUE(FConfiguration.Connection.UseProxy);
    EXPECT_EQ(FConfiguration.Connection.Proxy, "proxy.lan");
    EXPECT_EQ(FConfiguration.Connection.ProxyPort, 3128);
    EXPECT_EQ(FConfiguration.ApplicationSettings.DoubleClick, -1);
    EXPECT_EQ(FConfiguration.ApplicationSettings.MessagePreview, 500);
    EXPECT_TRUE(FConfiguration.ApplicationSettings.Log);
    // Absent ones got their defaults, and were written back.
    EXPECT_FALSE(notification.NotifyOnlyWhenNew);
    EXPECT_TRUE(FStore.ValueExists(Settings, "NotifyOnlyWhenNew"));
    EXPECT_EQ(FStore.ReadInteger(Settings, "Connection"), 6);
}

TEST_F(Data, IntervalsUnderOneMinuteAreReplacedAndWrittenBack)
{
    for (const auto& [stored, expected] :
         std::vector<std::pair<std::int32_t, std::uint32_t>>{{59999, 300000},
                                                             {60000, 60000},
                                                             {-60000, 300000},
                                                             {0, 300000},
                                                             {86400000, 86400000}}) {
        FStore.WriteInteger(Settings, "Interval", stored);
        TConfiguration configuration;
        LoadSettings(FStore, configuration);
        EXPECT_EQ(configuration.Notification.CheckTimer->Interval(), expected) << stored;
        EXPECT_EQ(FStore.ReadInteger(Settings, "Interval"), static_cast<std::int32_t>(expected));
    }
}

TEST_F(Data, AValueOfAnotherTypeStopsTheSettingsLoaderThere)
{
    WriteStore(Section(Settings) + "\"PlaySound\"=dword:00000001\r\n"
                                   "\"Sound\"=dword:00000001\r\n"
                                   "\"StartClient\"=dword:00000001\r\n");
    EXPECT_EQ(ErrorOf([&] { LoadSettings(FStore, FConfiguration); }),
              "Invalid data type for 'Sound'");
    EXPECT_TRUE(FConfiguration.Notification.PlaySound);
    EXPECT_FALSE(FConfiguration.Notification.StartClient);
    // What the loader wrote before it stopped is kept.
    EXPECT_TRUE(TFileKeyStore(FileName()).ValueExists(Settings, "IntervalCheck"));
}

TEST_F(Data, AccountsLoadInOrderWithTheirDefaults)
{
    WriteStore(Section(Accounts + "\\work") +
               "\"Host\"=\"pop.work.example\"\r\n"
               "\"Port\"=dword:000003e3\r\n"
               "\"UserId\"=\"bob\"\r\n"
               "\"Password\"=\"9A9B811B4244\"\r\n"
               "\"Include\"=dword:00000000\r\n\r\n" +
               Section(Accounts + "\\Home") + "\r\n");
    LoadAccounts(FStore, FCipher, FConfiguration.Accounts);
    ASSERT_EQ(AccountNames(), (std::vector<std::string>{"Home", "work"}));
    const TAccount& home = *FConfiguration.Accounts[0];
    EXPECT_EQ(home.Host, "");
    EXPECT_EQ(home.UserId, "");
    EXPECT_EQ(home.Password, "");
    EXPECT_EQ(home.Port, 110);
    EXPECT_TRUE(home.Include);
    const TAccount& work = *FConfiguration.Accounts[1];
    EXPECT_EQ(work.Host, "pop.work.example");
    EXPECT_EQ(work.Port, 995);
    EXPECT_EQ(work.UserId, "bob");
    EXPECT_EQ(work.Password, "secret");
    EXPECT_FALSE(work.Include);
    // A store from before accounts were secured loads them unsecured, as they were.
    EXPECT_EQ(work.Security, TAccount::SecurityNone);
    EXPECT_EQ(work.TrustedCertificate, "");
}

TEST_F(Data, SecurityAndTrustedCertificateFollowIncludeAndGoWithTheAccount)
{
    const std::string fingerprint = "AB:CD:EF:01:23:45:67:89:AB:CD:EF:01:23:45:67:89:"
                                    "AB:CD:EF:01:23:45:67:89:AB:CD:EF:01:23:45:67:89";
    TAccount account;
    account.Name = "Home";
    account.Security = TAccount::SecurityTls;
    account.TrustedCertificate = fingerprint;
    SaveAccount(FStore, FCipher, account, {});
    EXPECT_NE(ReadFile(FileName())
                  .find("\"Include\"=dword:00000001\r\n\"Security\"=dword:00000002\r\n"
                        "\"TrustedCertificate\"=\"" +
                        fingerprint + "\"\r\n"),
              std::string::npos)
        << ReadFile(FileName());

    // Trust withdrawn: the value goes, the security stays.
    account.TrustedCertificate.clear();
    account.Security = TAccount::SecurityStartTls;
    SaveAccount(FStore, FCipher, account, "Home");
    EXPECT_FALSE(FStore.ValueExists(Accounts + "\\Home", "TrustedCertificate"));
    TFileKeyStore fresh(FileName());
    LoadAccounts(fresh, FCipher, FConfiguration.Accounts);
    ASSERT_EQ(FConfiguration.Accounts.size(), 1u);
    EXPECT_EQ(FConfiguration.Accounts[0]->Security, TAccount::SecurityStartTls);
    EXPECT_EQ(FConfiguration.Accounts[0]->TrustedCertificate, "");

    RemoveAccount(FStore, "Home");
    EXPECT_EQ(ReadFile(FileName()).find("Security"), std::string::npos);
}

TEST_F(Data, ABadAccountValueStopsLoadingWithoutThatAccount)
{
    WriteStore(Section(Accounts + "\\a") + "\"Password\"=\"9A9B811B4244\"\r\n\r\n" +
               Section(Accounts + "\\b") + "\"Host\"=\"x\"\r\n\"Password\"=\"not hex!\"\r\n\r\n" +
               Section(Accounts + "\\c") + "\r\n");
    EXPECT_EQ(ErrorOf([&] { LoadAccounts(FStore, FCipher, FConfiguration.Accounts); }),
              "TCryptLib: decrypting error - not hexlook string");
    EXPECT_EQ(AccountNames(), (std::vector<std::string>{"a"}));

    FConfiguration.Accounts.clear();
    WriteStore(Section(Accounts + "\\a") + "\"Port\"=\"110\"\r\n");
    EXPECT_EQ(ErrorOf([&] { LoadAccounts(FStore, FCipher, FConfiguration.Accounts); }),
              "Invalid data type for 'Port'");
    EXPECT_TRUE(FConfiguration.Accounts.empty());
}

TEST_F(Data, SavedAccountsRoundTripAndRenamesLeaveNoTrace)
{
    TAccount account;
    account.Name = "Home";
    account.Host = "pop.example.org";
    account.Port = 1110;
    account.UserId = "alice";
    account.Password = "p\xE4ss \"w\\rd\"";
    account.Include = false;
    SaveAccount(FStore, FCipher, account, {});
    EXPECT_NE(ReadFile(FileName())
                  .find(Section(Accounts + "\\Home") +
                        "\"Host\"=\"pop.example.org\"\r\n"
                        "\"Port\"=dword:00000456\r\n\"UserId\"=\"alice\"\r\n\"Password\"=\"" +
                        FCipher.EncryptString(account.Password) +
                        "\"\r\n\"Include\"=dword:00000000\r\n"),
              std::string::npos)
        << ReadFile(FileName());

    account.Name = "Private";
    account.Password.clear();
    SaveAccount(FStore, FCipher, account, "Home");
    EXPECT_EQ(FStore.GetKeyNames(Accounts), (std::vector<std::string>{"Private"}));
    EXPECT_EQ(FStore.ReadString(Accounts + "\\Private", "Password"), "");

    TFileKeyStore fresh(FileName());
    LoadAccounts(fresh, FCipher, FConfiguration.Accounts);
    ASSERT_EQ(FConfiguration.Accounts.size(), 1u);
    const TAccount& loaded = *FConfiguration.Accounts[0];
    EXPECT_EQ(loaded.Name, "Private");
    EXPECT_EQ(loaded.Host, account.Host);
    EXPECT_EQ(loaded.Port, 1110);
    EXPECT_EQ(loaded.UserId, "alice");
    EXPECT_EQ(loaded.Password, "");
    EXPECT_FALSE(loaded.Include);

    RemoveAccount(FStore, "PRIVATE");
    EXPECT_TRUE(FStore.GetKeyNames(Accounts).empty());
}

TEST_F(Data, SavedSettingsLoadBackUnchanged)
{
    TNotification& notification = FConfiguration.Notification;
    notification.CheckTimer->SetEnabled(true);
    notification.CheckTimer->SetInterval(120000);
    notification.PlaySound = true;
    notification.Sound = "/snd/new mail.wav";
    notification.StartClient = true;
    notification.MailClient = "/usr/bin/mailer --inbox";
    notification.NotifyOnlyWhenNew = true;
    FConfiguration.ApplicationSettings = {true, 2, 100, true};
    FConfiguration.Connection.ConnectionType = TConnection::DialUp;
    FConfiguration.Connection.UseProxy = true;
    FConfiguration.Connection.Proxy = "proxy";
    FConfiguration.Connection.ProxyPort = 8080;
    SaveSettings(FStore, FConfiguration);

    TFileKeyStore fresh(FileName());
    TConfiguration loaded;
    LoadSettings(fresh, loaded);
    EXPECT_TRUE(loaded.Notification.CheckTimer->Enabled());
    EXPECT_EQ(loaded.Notification.CheckTimer->Interval(), 120000u);
    EXPECT_TRUE(loaded.Notification.PlaySound);
    EXPECT_EQ(loaded.Notification.Sound, notification.Sound);
    EXPECT_TRUE(loaded.Notification.StartClient);
    EXPECT_EQ(loaded.Notification.MailClient, notification.MailClient);
    EXPECT_TRUE(loaded.Notification.NotifyOnlyWhenNew);
    EXPECT_TRUE(loaded.ApplicationSettings.Startup);
    EXPECT_EQ(loaded.ApplicationSettings.DoubleClick, 2);
    EXPECT_EQ(loaded.ApplicationSettings.MessagePreview, 100);
    EXPECT_TRUE(loaded.ApplicationSettings.Log);
    EXPECT_EQ(loaded.Connection.ConnectionType, TConnection::DialUp);
    EXPECT_TRUE(loaded.Connection.UseProxy);
    EXPECT_EQ(loaded.Connection.Proxy, "proxy");
    EXPECT_EQ(loaded.Connection.ProxyPort, 8080);
}

TEST_F(Data, WindowValuesKeepTheDesignForWhatIsNotStored)
{
    WriteStore(Section(StoreKeys::Window) + "\"From\"=dword:000000c8\r\n"
                                            "\"Priority\"=dword:00000010\r\n");
    std::int32_t height = 163;
    std::vector<TColumnWidth> columns = {{"Account", 60}, {"From", 150}, {"Subject", 150}};
    LoadWindowSettings(FStore, height, columns);
    EXPECT_EQ(height, 163);
    EXPECT_EQ(columns[0].Width, 60);
    EXPECT_EQ(columns[1].Width, 200);
    EXPECT_EQ(columns[2].Width, 150);

    columns[2].Width = 90;
    SaveWindowSettings(FStore, 240, columns);
    height = 0;
    columns = {{"Account", 1}, {"From", 1}, {"Subject", 1}};
    LoadWindowSettings(FStore, height, columns);
    EXPECT_EQ(height, 240);
    EXPECT_EQ(columns[0].Width, 60);
    EXPECT_EQ(columns[2].Width, 90);
}

TEST_F(Data, WindowPlacementRoundTripsAsText)
{
    EXPECT_FALSE(LoadWindowPlacement(FStore).has_value());
    TWindowPlacement placement;
    placement.Flags = 0;
    placement.ShowCmd = 3;
    placement.MinPosition = {-1, -1};
    placement.MaxPosition = {-4, -23};
    placement.NormalPosition = {100, 80, 650, 470};
    placement.PixelsPerInch = 120;
    placement.Visible = true;
    SaveWindowPlacement(FStore, placement);
    EXPECT_EQ(FStore.ReadString(StoreKeys::Window, "NormPos"), "100,80,650,470");
    EXPECT_EQ(FStore.ReadString(StoreKeys::Window, "MinMaxPos"), "-1,-1,-4,-23");
    EXPECT_EQ(LoadWindowPlacement(FStore), placement);

    // A hand-edited, unreadable placement is ignored rather than applied half-way.
    FStore.WriteString(StoreKeys::Window, "NormPos", "100,80,650");
    EXPECT_FALSE(LoadWindowPlacement(FStore).has_value());
}

// Only what changed since loading is written, so a value that could not be loaded stays as the
// user wrote it until the user changes that option.
TEST_F(Data, SavingWritesOnlyOptionsThatChangedSinceLoading)
{
    WriteStore(Section(Settings) + "\"Interval\"=dword:0001d4c0\r\n"
                                   "\"MailClient\"=\"/usr/bin/mailer\"\r\n"
                                   "\"MessagePreview\"=\"twenty\"\r\n"
                                   "\"Log\"=dword:00000001\r\n");
    EXPECT_EQ(ErrorOf([&] { LoadSettings(FStore, FConfiguration); }),
              "Invalid data type for 'MessagePreview'");
    EXPECT_EQ(FConfiguration.Notification.CheckTimer->Interval(), 120000u);
    EXPECT_EQ(FConfiguration.Notification.MailClient, "/usr/bin/mailer");
    EXPECT_FALSE(FConfiguration.ApplicationSettings.Log) << "not loaded: the default in memory";

    FConfiguration.Notification.NotifyOnlyWhenNew = true;
    SaveSettings(FStore, FConfiguration);

    TFileKeyStore saved(FileName());
    EXPECT_EQ(saved.ReadInteger(Settings, "Interval"), 120000);
    EXPECT_EQ(saved.ReadString(Settings, "MailClient"), "/usr/bin/mailer");
    EXPECT_EQ(saved.ReadString(Settings, "MessagePreview"), "twenty");
    EXPECT_EQ(saved.ReadInteger(Settings, "Log"), 1);
    EXPECT_EQ(saved.ReadInteger(Settings, "NotifyOnlyWhenNew"), 1) << "the one change";

    // Once the user sets an option that did not load, it is written.
    FConfiguration.ApplicationSettings.MessagePreview = 30;
    SaveSettings(FStore, FConfiguration);
    EXPECT_EQ(TFileKeyStore(FileName()).ReadInteger(Settings, "MessagePreview"), 30);
}

// A start whose loading stopped before the options never reached them: the defaults it runs
// with are not written over the stored values.
TEST_F(Data, OptionsNeverLoadedAreNotWrittenUnlessChanged)
{
    FStore.WriteInteger(Settings, "Interval", 120000);
    FStore.WriteInteger(Settings, "Log", 1);
    RememberStoredOptions(FConfiguration);
    FConfiguration.ApplicationSettings.DoubleClick = TApplicationSettings::CheckMail;
    SaveSettings(FStore, FConfiguration);

    TFileKeyStore saved(FileName());
    EXPECT_EQ(saved.ReadInteger(Settings, "Interval"), 120000);
    EXPECT_EQ(saved.ReadInteger(Settings, "Log"), 1);
    EXPECT_EQ(saved.ReadInteger(Settings, "DoubleClick"), 0);
    EXPECT_FALSE(saved.ValueExists(Settings, "Sound"));
}
