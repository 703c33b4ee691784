#include "config/FileKeyStore.h"

#include "config/StorePath.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const std::string Settings = "\\Software\\Hollinway\\Mailbeacon 2.0\\Settings";
const std::string Accounts = "\\Software\\Hollinway\\Mailbeacon 2.0\\Accounts";

std::string ErrorOf(const std::function<void()>& action)
{
    try {
        action();
    } catch (const ERegistryError& error) {
        return error.what();
    }
    return "no error";
}

std::size_t FilesIn(const std::string& folder)
{
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder))
        ++count;
    return count;
}

} // namespace

TEST(FileKeyStore, ValuesSurviveARestartWhateverTheCaseOfTheirNames)
{
    TTempDir dir;
    const std::string file = dir.File("sub/folder/Mailbeacon 2.0.reg");
    {
        TFileKeyStore store(file);
        store.WriteString(Settings, "Sound", "C:\\a \"b\".wav");
        store.WriteInteger(Settings, "Interval", -5);
        store.WriteString(Accounts + "\\Home", "Host", "pop.example.org");
        store.WriteString(Settings, "SOUND", "second");
    }
    TFileKeyStore store(file);
    EXPECT_EQ(store.ReadString(Settings, "sound"), "second");
    EXPECT_EQ(store.ReadInteger("\\software\\HOLLINWAY\\mailbeacon 2.0\\settings", "INTERVAL"), -5);
    EXPECT_TRUE(store.ValueExists(Accounts + "\\HOME", "host"));
    EXPECT_FALSE(store.ValueExists(Accounts + "\\HOME", "Port"));
    EXPECT_FALSE(store.ValueExists(Accounts + "\\Nobody", "Host"));

    struct stat info
    {};
    ASSERT_EQ(::stat(file.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    const std::string text = ReadFile(file);
    EXPECT_EQ(text.substr(0, 10), "REGEDIT4\r\n");
    EXPECT_NE(text.find("\"Sound\"=\"second\"\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\"Interval\"=dword:fffffffb\r\n"), std::string::npos) << text;
}

TEST(FileKeyStore, ReadingAValueOfAnotherTypeNamesTheValue)
{
    TTempDir dir;
    WriteFile(dir.File("s.reg"),
              "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\K]\r\n"
              "\"Port\"=\"110\"\r\n\"Blob\"=hex:00,01\r\n\"Count\"=dword:00000002\r\n");
    TFileKeyStore store(dir.File("s.reg"));
    EXPECT_EQ(ErrorOf([&] { store.ReadInteger("\\K", "Port"); }), "Invalid data type for 'Port'");
    EXPECT_EQ(ErrorOf([&] { store.ReadString("\\K", "Blob"); }), "Invalid data type for 'Blob'");
    EXPECT_EQ(ErrorOf([&] { store.ReadInteger("\\K", "Blob"); }), "Invalid data type for 'Blob'");
    EXPECT_EQ(ErrorOf([&] { store.ReadString("\\K", "Count"); }), "Invalid data type for 'Count'");
    EXPECT_EQ(ErrorOf([&] { store.ReadString("\\K", "Missing"); }),
              "The value 'Missing' does not exist");

    // Values of other forms are kept through the program's own writes.
    store.WriteInteger("\\K", "Port", 995);
    EXPECT_NE(ReadFile(dir.File("s.reg")).find("\"Blob\"=hex:00,01\r\n"), std::string::npos);
    EXPECT_EQ(store.ReadInteger("\\K", "Port"), 995);
}

TEST(FileKeyStore, KeysAreListedAlphabeticallyAndDeletedWithTheirChildren)
{
    TTempDir dir;
    TFileKeyStore store(dir.File("s.reg"));
    for (const char* name : {"work", "Home", "aardvark", "Zulu"})
        store.WriteString(Accounts + "\\" + name + "\\Deep", "Host", name);
    EXPECT_EQ(store.GetKeyNames(Accounts),
              (std::vector<std::string>{"aardvark", "Home", "work", "Zulu"}));
    EXPECT_TRUE(store.DeleteKey(Accounts + "\\HOME"));
    EXPECT_FALSE(store.DeleteKey(Accounts + "\\HOME"));
    EXPECT_EQ(TFileKeyStore(dir.File("s.reg")).GetKeyNames(Accounts),
              (std::vector<std::string>{"aardvark", "work", "Zulu"}));
    EXPECT_TRUE(store.GetKeyNames("\\No\\Such\\Key").empty());
}

TEST(FileKeyStore, OpeningAKeyCreatesItInTheFile)
{
    TTempDir dir;
    TFileKeyStore store(dir.File("s.reg"));
    EXPECT_TRUE(store.OpenKey(Settings));
    EXPECT_NE(ReadFile(dir.File("s.reg"))
                  .find("[HKEY_CURRENT_USER\\Software\\Hollinway\\Mailbeacon 2.0\\Settings]"),
              std::string::npos);
}

TEST(FileKeyStore, SeesWhatAnotherCopyOfTheProgramWrote)
{
    TTempDir dir;
    TFileKeyStore first(dir.File("s.reg"));
    TFileKeyStore second(dir.File("s.reg"));
    first.WriteString(Settings, "Sound", "one");
    EXPECT_EQ(second.ReadString(Settings, "Sound"), "one");
    second.WriteString(Settings, "Proxy", "proxy.lan");
    // The first copy's next write keeps the second copy's value instead of overwriting it.
    first.WriteString(Settings, "Sound", "two");
    TFileKeyStore third(dir.File("s.reg"));
    EXPECT_EQ(third.ReadString(Settings, "Proxy"), "proxy.lan");
    EXPECT_EQ(third.ReadString(Settings, "Sound"), "two");
}

TEST(FileKeyStore, AnUnreadableFileIsReportedAndNeverOverwritten)
{
    TTempDir dir;
    const std::string file = dir.File("s.reg");
    const std::string broken = "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\K]\r\n\"Host\"=\"cut off";
    WriteFile(file, broken);
    TFileKeyStore store(file);
    const std::string expected = file + ", line 4: a quoted text without its closing quote";
    EXPECT_EQ(ErrorOf([&] { store.ReadString("\\K", "Host"); }), expected);
    EXPECT_EQ(ErrorOf([&] { store.WriteString("\\K", "Host", "x"); }), expected);
    EXPECT_EQ(ErrorOf([&] { store.OpenKey("\\New"); }), expected);
    EXPECT_EQ(ErrorOf([&] { store.DeleteKey("\\K"); }), expected);
    EXPECT_EQ(ReadFile(file), broken);

    // Once the user mends the file, the same store object works again.
    WriteFile(file, "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\K]\r\n\"Host\"=\"mended\"\r\n");
    EXPECT_EQ(store.ReadString("\\K", "Host"), "mended");
}

TEST(FileKeyStore, AFailedWriteLeavesThePreviousFileIntact)
{
    TTempDir dir;
    const std::string file = dir.File("s.reg");
    TFileKeyStore store(file);
    store.WriteString(Settings, "Sound", "kept");
    const std::string before = ReadFile(file);
    const std::size_t filesBefore = FilesIn(dir.Path());

    // A file-size limit makes the write of the new file fail half-way, as a full disk would.
    rlimit old{};
    ::getrlimit(RLIMIT_FSIZE, &old);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit tiny = old;
    tiny.rlim_cur = 16;
    ::setrlimit(RLIMIT_FSIZE, &tiny);
    const std::string error = ErrorOf([&] { store.WriteString(Settings, "Sound", "lost"); });
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, previousHandler);

    EXPECT_EQ(error.rfind("Cannot write " + file, 0), 0u) << error;
    EXPECT_EQ(ReadFile(file), before);
    EXPECT_EQ(FilesIn(dir.Path()), filesBefore) << "a temporary file was left behind";
    EXPECT_EQ(store.ReadString(Settings, "Sound"), "kept");
}

TEST(FileKeyStore, NamesWithLineBreaksAreRefused)
{
    TTempDir dir;
    TFileKeyStore store(dir.File("s.reg"));
    store.WriteString(Settings, "Sound", "kept");
    const std::string before = ReadFile(dir.File("s.reg"));
    EXPECT_EQ(ErrorOf([&] { store.WriteString(Settings, "Bad\nName", "x"); }),
              "The name 'Bad...' holds a line break");
    EXPECT_EQ(ErrorOf([&] { store.WriteString(Accounts + "\\evil]\r\n[x", "Host", "x"); }),
              "The name 'evil]...' holds a line break");
    EXPECT_EQ(ReadFile(dir.File("s.reg")), before);
    // Line breaks inside string data are escaped, not refused.
    store.WriteString(Settings, "Sound", "two\r\nlines");
    EXPECT_EQ(TFileKeyStore(dir.File("s.reg")).ReadString(Settings, "Sound"), "two\r\nlines");
}

TEST(FileKeyStore, AnUpdateWritesTheFileOnceAndStillWritesWhenInterrupted)
{
    TTempDir dir;
    const std::string file = dir.File("s.reg");
    TFileKeyStore store(file);
    {
        TStoreUpdate update(store);
        store.WriteString(Settings, "A", "1");
        store.WriteString(Settings, "B", "2");
        EXPECT_FALSE(std::filesystem::exists(file)) << "written before the update ended";
        EXPECT_EQ(store.ReadString(Settings, "A"), "1");
        update.Finish();
    }
    EXPECT_EQ(TFileKeyStore(file).ReadString(Settings, "B"), "2");
    try {
        TStoreUpdate update(store);
        store.WriteString(Settings, "C", "3");
        throw std::runtime_error("interrupted");
    } catch (const std::runtime_error&) {
    }
    EXPECT_EQ(TFileKeyStore(file).ReadString(Settings, "C"), "3");
}

// What the user wrote

TEST(FileKeyStore, ASymbolicLinkIsWrittenThroughToItsTarget)
{
    TTempDir dir;
    std::filesystem::create_directory(dir.File("dotfiles"));
    const std::string target = dir.File("dotfiles/store.reg");
    WriteFile(target, "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\K]\r\n\"A\"=\"1\"\r\n\r\n");
    std::filesystem::create_symlink("dotfiles/store.reg", dir.File("link.reg"));
    // A link to a file not made yet: the first save makes it.
    std::filesystem::create_symlink(dir.File("dotfiles/later.reg"), dir.File("later.reg"));

    TFileKeyStore(dir.File("link.reg")).WriteString("\\K", "B", "2");
    TFileKeyStore(dir.File("later.reg")).WriteString("\\K", "C", "3");

    EXPECT_TRUE(std::filesystem::is_symlink(dir.File("link.reg")));
    EXPECT_TRUE(std::filesystem::is_symlink(dir.File("later.reg")));
    EXPECT_EQ(TFileKeyStore(target).ReadString("\\K", "B"), "2");
    EXPECT_EQ(TFileKeyStore(dir.File("dotfiles/later.reg")).ReadString("\\K", "C"), "3");
    EXPECT_EQ(FilesIn(dir.Path()), 3u) << "temporary and lock files go next to the target";
}

TEST(FileKeyStore, CommentsSurviveASaveAndAnUnchangedStoreIsNotRewritten)
{
    TTempDir dir;
    const std::string file = dir.File("s.reg");
    const std::string text = "REGEDIT4\r\n\r\n; mine\r\n[HKEY_CURRENT_USER\\K]\r\n"
                             "; port of the tunnel\r\n\"Port\"=dword:0000006e\r\n\r\n";
    WriteFile(file, text);
    struct stat before
    {};
    ASSERT_EQ(::stat(file.c_str(), &before), 0);
    TFileKeyStore store(file);
    store.WriteInteger("\\K", "Port", 110);
    store.OpenKey("\\K");
    {
        TStoreUpdate update(store);
        store.WriteInteger("\\K", "PORT", 110);
        update.Finish();
    }
    struct stat after
    {};
    ASSERT_EQ(::stat(file.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino) << "the file was replaced by the same text";
    EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);

    store.WriteInteger("\\K", "Port", 995);
    EXPECT_EQ(ReadFile(file), "REGEDIT4\r\n\r\n; mine\r\n[HKEY_CURRENT_USER\\K]\r\n"
                              "; port of the tunnel\r\n\"Port\"=dword:000003e3\r\n\r\n");
}

TEST(FileKeyStore, AFolderGivenAsTheStoreIsCalledAFolder)
{
    TTempDir dir;
    TFileKeyStore store(dir.Path());
    EXPECT_EQ(ErrorOf([&] { store.ReadString(Settings, "Sound"); }),
              "Cannot read " + dir.Path() + ": it is a folder, not a file");
}

TEST(FileKeyStore, KeysDeeperThanAReadAllowsAreNeverWritten)
{
    TTempDir dir;
    TFileKeyStore store(dir.File("s.reg"));
    std::string path;
    for (std::size_t level = 0; level < MaxKeyDepth; ++level)
        path += "\\k";
    store.WriteString(path, "V", "deepest");
    const std::string error = ErrorOf([&] { store.WriteString(path + "\\k", "V", "x"); });
    EXPECT_NE(error.find("is nested deeper than 64 levels"), std::string::npos) << error;
    EXPECT_EQ(TFileKeyStore(dir.File("s.reg")).ReadString(path, "V"), "deepest");
}

// The lock and what a killed save leaves

namespace {

// Holds the store's lock as another copy of the program does while it saves.
class TForeignLock
{
public:
    explicit TForeignLock(const std::string& store)
        : FHandle(::open((store + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600))
    {
        EXPECT_EQ(::flock(FHandle, LOCK_EX), 0);
    }
    ~TForeignLock() { ::close(FHandle); }
    TForeignLock(const TForeignLock&) = delete;
    TForeignLock& operator=(const TForeignLock&) = delete;

private:
    int FHandle;
};

} // namespace

TEST(FileKeyStore, ALockHeldElsewhereIsWaitedForABoundedTimeAndNamed)
{
    TTempDir dir;
    const std::string file = dir.File("s.reg");
    TFileKeyStore store(file);
    store.LockTimeoutMs = 100;
    {
        TForeignLock other(file);
        EXPECT_EQ(ErrorOf([&] { store.WriteString(Settings, "Sound", "x"); }),
                  "Cannot write the settings file " + file + ": another program holds its lock " +
                      file + ".lock");
        EXPECT_FALSE(std::filesystem::exists(file));
        EXPECT_EQ(store.GetKeyNames("\\"), std::vector<std::string>{}) << "reading needs no lock";
    }
    store.WriteString(Settings, "Sound", "x");
    EXPECT_EQ(TFileKeyStore(file).ReadString(Settings, "Sound"), "x");
}

TEST(FileKeyStore, TemporaryFilesOfAKilledSaveGoAtTheNextStart)
{
    TTempDir dir;
    const std::string file = dir.File("s.reg");
    WriteFile(file, "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\K]\r\n");
    for (const char* name : {"s.reg.tmp-a1B2c3", "s.reg.tmp-ZZZZZZ"})
        WriteFile(dir.File(name), "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\K]\r\n\"Pass");
    // The user's own files that merely look alike stay.
    for (const char* name : {"s.reg.backup", "s.reg.tmp-longer1", "other.reg.tmp-a1B2c3"})
        WriteFile(dir.File(name), "mine");
    TFileKeyStore store(file);
    {
        TForeignLock saving(file);
        store.RemoveStaleTemporaries();
        EXPECT_TRUE(std::filesystem::exists(dir.File("s.reg.tmp-a1B2c3")))
            << "another copy holding the lock may be writing it";
    }
    store.RemoveStaleTemporaries();
    EXPECT_FALSE(std::filesystem::exists(dir.File("s.reg.tmp-a1B2c3")));
    EXPECT_FALSE(std::filesystem::exists(dir.File("s.reg.tmp-ZZZZZZ")));
    for (const char* name : {"s.reg", "s.reg.backup", "s.reg.tmp-longer1", "other.reg.tmp-a1B2c3"})
        EXPECT_TRUE(std::filesystem::exists(dir.File(name))) << name;
}

class StorePath : public ::testing::Test
{
protected:
    void SetUp() override
    {
        for (const char* name : {"MAILBEACON_CONFIG", "XDG_CONFIG_HOME", "HOME"}) {
            const char* value = std::getenv(name);
            FSaved.emplace_back(name, value != nullptr ? std::optional<std::string>(value)
                                                       : std::nullopt);
            ::unsetenv(name);
        }
        ::setenv("HOME", "/home/alice", 1);
    }
    void TearDown() override
    {
        for (const auto& [name, value] : FSaved) {
            if (value)
                ::setenv(name.c_str(), value->c_str(), 1);
            else
                ::unsetenv(name.c_str());
        }
    }

private:
    std::vector<std::pair<std::string, std::optional<std::string>>> FSaved;
};

TEST_F(StorePath, CommandLineThenEnvironmentThenConfigFolder)
{
    EXPECT_EQ(StoreFileName({}), "/home/alice/.config/Hollinway/Mailbeacon 2.0.reg");
    ::setenv("XDG_CONFIG_HOME", "relative/ignored", 1);
    EXPECT_EQ(StoreFileName({}), "/home/alice/.config/Hollinway/Mailbeacon 2.0.reg");
    ::setenv("XDG_CONFIG_HOME", "/cfg", 1);
    EXPECT_EQ(StoreFileName({}), "/cfg/Hollinway/Mailbeacon 2.0.reg");
    ::setenv("MAILBEACON_CONFIG", "/tmp/env.reg", 1);
    EXPECT_EQ(StoreFileName({"--check"}), "/tmp/env.reg");
    EXPECT_EQ(StoreFileName({"--config", "/tmp/arg.reg"}), "/tmp/arg.reg");
    EXPECT_EQ(StoreFileName({"--config=/tmp/eq.reg"}), "/tmp/eq.reg");
}
