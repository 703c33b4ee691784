#include "config/FileKeyStore.h"

#include "config/FileWrite.h"
#include "config/RegFile.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <utility>

namespace {

std::string SystemError(const std::string& what, const std::string& fileName)
{
    return what + " " + fileName + ": " + std::strerror(errno);
}

std::string FolderOf(const std::string& fileName)
{
    const std::size_t slash = fileName.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : fileName.substr(0, slash);
}

// Creates the folder and the missing folders above it, private to the user.
void MakeFolders(const std::string& folder)
{
    for (std::size_t slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
        const std::string part = folder.substr(0, slash);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST)
            throw ERegistryError(SystemError("Cannot create the folder", part));
        if (slash == std::string::npos)
            return;
    }
}

// A line break would end the name's line in the file and corrupt what follows it.
void CheckName(const std::string& name)
{
    const std::size_t at = name.find_first_of(std::string("\r\n\0", 3));
    if (at != std::string::npos)
        throw ERegistryError("The name '" + name.substr(0, at) + "...' holds a line break");
}

// Every key written must read back: names without line breaks, no deeper than a read allows.
void CheckKeyPath(const std::string& path)
{
    const std::vector<std::string_view> parts = SplitKeyPath(path);
    if (parts.size() > MaxKeyDepth)
        throw ERegistryError("The key '" + path.substr(0, 80) + "...' is nested deeper than " +
                             std::to_string(MaxKeyDepth) + " levels");
    for (const std::string_view part : parts)
        CheckName(std::string(part));
}

std::string BaseName(const std::string& fileName)
{
    const std::size_t slash = fileName.rfind('/');
    return slash == std::string::npos ? fileName : fileName.substr(slash + 1);
}

// The temporary file of a save is "<store>.tmp-" and six characters of mkstemp.
const char* const TemporarySuffix = ".tmp-";
constexpr std::size_t TemporaryRandomLength = 6;

} // namespace

// Holds an advisory lock on "<store>.lock" so that two copies of the program never interleave
// their read-modify-write of the store. A lock held elsewhere is waited for at most timeoutMs.
class TStoreLock
{
public:
    TStoreLock(const std::string& fileName, int timeoutMs)
    {
        const std::string lockName = fileName + ".lock";
        FHandle = ::open(lockName.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (FHandle < 0)
            throw ERegistryError(SystemError("Cannot lock", lockName));
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
        while (::flock(FHandle, LOCK_EX | LOCK_NB) != 0) {
            if (errno == EINTR)
                continue;
            if (errno != EWOULDBLOCK || std::chrono::steady_clock::now() >= deadline) {
                ::close(FHandle);
                throw ERegistryError("Cannot write the settings file " + fileName +
                                     ": another program holds its lock " + lockName);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    ~TStoreLock() { ::close(FHandle); }
    TStoreLock(const TStoreLock&) = delete;
    TStoreLock& operator=(const TStoreLock&) = delete;

private:
    int FHandle = -1;
};

TFileKeyStore::TFileKeyStore(std::string fileName)
    : FFileName(std::move(fileName))
{}

TFileKeyStore::~TFileKeyStore() = default;

TFileKeyStore::TFileIdentity TFileKeyStore::CurrentIdentity() const
{
    struct stat info
    {};
    if (::stat(FFileName.c_str(), &info) != 0) {
        if (errno != ENOENT)
            throw ERegistryError(SystemError("Cannot read", FFileName));
        return {};
    }
    if (S_ISDIR(info.st_mode))
        throw ERegistryError("Cannot read " + FFileName + ": it is a folder, not a file");
    return {true, info.st_dev, info.st_ino, info.st_size,
            static_cast<long long>(info.st_mtim.tv_sec) * 1000000000LL + info.st_mtim.tv_nsec};
}

void TFileKeyStore::Refresh()
{
    const TFileIdentity identity = CurrentIdentity();
    if (FLoaded && identity == FIdentity)
        return;
    FLoaded = false;
    FRoot = TRegTreeKey();
    FText.clear();
    if (identity.Exists) {
        std::ifstream file(FFileName, std::ios::binary);
        if (!file)
            throw ERegistryError(SystemError("Cannot read", FFileName));
        std::ostringstream text;
        text << file.rdbuf();
        FText = text.str();
        FRoot = ParseRegFile(FText, FFileName);
    }
    FIdentity = identity;
    FLoaded = true;
}

std::string TFileKeyStore::TargetName() const
{
    std::string name = FFileName;
    // As many links as the system itself follows (its SYMLOOP_MAX).
    for (int hop = 0; hop < 40; ++hop) {
        std::error_code error;
        if (!std::filesystem::is_symlink(std::filesystem::symlink_status(name, error)))
            return name;
        const std::filesystem::path link = std::filesystem::read_symlink(name, error);
        if (error)
            throw ERegistryError("Cannot read the link " + name + ": " + error.message());
        name = link.is_absolute() ? link.string() : FolderOf(name) + "/" + link.string();
    }
    throw ERegistryError("Cannot read " + FFileName + ": too many levels of symbolic links");
}

std::unique_ptr<TStoreLock> TFileKeyStore::Lock(int timeoutMs) const
{
    const std::string target = TargetName();
    MakeFolders(FolderOf(target));
    return std::make_unique<TStoreLock>(target, timeoutMs);
}

void TFileKeyStore::RemoveStaleTemporaries()
{
    try {
        const std::string target = TargetName();
        const std::string folder = FolderOf(target);
        if (!std::filesystem::is_directory(folder))
            return;
        // A save in progress holds the lock; waiting would only delay the start.
        const TStoreLock lock(target, 0);
        const std::string prefix = BaseName(target) + TemporarySuffix;
        for (const auto& entry : std::filesystem::directory_iterator(folder)) {
            const std::string name = entry.path().filename().string();
            if (name.size() == prefix.size() + TemporaryRandomLength &&
                name.compare(0, prefix.size(), prefix) == 0 && entry.is_regular_file() &&
                !entry.is_symlink())
                ::unlink(entry.path().c_str());
        }
    } catch (const std::exception&) {
        // Left for the next start: another copy is saving, or the folder cannot be read.
    }
}

template <class TChange> auto TFileKeyStore::Modify(TChange change)
{
    // Inside an update the lock is taken by its first change, so that an update that changes
    // nothing neither waits for nor takes the lock.
    std::unique_ptr<TStoreLock> lock;
    if (FUpdateDepth == 0)
        lock = Lock(LockTimeoutMs);
    else if (!FUpdateLock)
        FUpdateLock = Lock(LockTimeoutMs);
    Refresh();
    try {
        auto result = change();
        if (FUpdateDepth > 0)
            FUpdatePending = true;
        else
            Commit();
        return result;
    } catch (...) {
        // Memory may now differ from the file: read it afresh at the next operation.
        FLoaded = false;
        throw;
    }
}

void TFileKeyStore::BeginUpdate()
{
    ++FUpdateDepth;
}

void TFileKeyStore::EndUpdate()
{
    if (FUpdateDepth == 0 || --FUpdateDepth > 0)
        return;
    const std::unique_ptr<TStoreLock> lock = std::move(FUpdateLock);
    if (!std::exchange(FUpdatePending, false))
        return;
    try {
        Commit();
    } catch (...) {
        FLoaded = false;
        throw;
    }
}

void TFileKeyStore::Commit()
{
    std::string text = FormatRegFile(FRoot);
    // Rewriting the same text would only cost a write and change the file's time.
    if (FIdentity.Exists && text == FText)
        return;
    // Replacing a symbolic link by the new file would leave the file it leads to stale.
    const std::string target = TargetName();
    const std::string folder = FolderOf(target);
    std::string temporary = target + TemporarySuffix + std::string(TemporaryRandomLength, 'X');
    const int handle = ::mkstemp(temporary.data());
    if (handle < 0)
        throw ERegistryError(SystemError("Cannot write", FFileName));
    try {
        if (::fchmod(handle, 0600) != 0)
            throw ERegistryError(SystemError("Cannot write", temporary));
        if (!WriteWholly(handle, text))
            throw ERegistryError(SystemError("Cannot write", temporary));
        if (::fsync(handle) != 0)
            throw ERegistryError(SystemError("Cannot write", temporary));
    } catch (...) {
        ::close(handle);
        ::unlink(temporary.c_str());
        throw;
    }
    ::close(handle);
    if (::rename(temporary.c_str(), target.c_str()) != 0) {
        const std::string error = SystemError("Cannot replace", target);
        ::unlink(temporary.c_str());
        throw ERegistryError(error);
    }
    // The rename itself survives a crash only once the folder is flushed.
    const int folderHandle = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderHandle >= 0) {
        ::fsync(folderHandle);
        ::close(folderHandle);
    }
    FText = std::move(text);
    FIdentity = CurrentIdentity();
}

bool TFileKeyStore::OpenKey(const std::string& path)
{
    Refresh();
    if (FRoot.Find(path) != nullptr)
        return true;
    CheckKeyPath(path);
    return Modify([&] {
        FRoot.Create(path);
        return true;
    });
}

bool TFileKeyStore::KeyExists(const std::string& path)
{
    Refresh();
    return FRoot.Find(path) != nullptr;
}

bool TFileKeyStore::ValueExists(const std::string& path, const std::string& name)
{
    Refresh();
    const TRegTreeKey* key = FRoot.Find(path);
    return key != nullptr && key->FindValue(name) != nullptr;
}

const TRegValue& TFileKeyStore::FindTyped(const std::string& path, const std::string& name,
                                          TValueKind kind)
{
    Refresh();
    const TRegTreeKey* key = FRoot.Find(path);
    const TRegValue* value = key != nullptr ? key->FindValue(name) : nullptr;
    if (value == nullptr)
        throw ERegistryError("The value '" + name + "' does not exist");
    if (value->Kind != kind)
        throw ERegistryError("Invalid data type for '" + name + "'");
    return *value;
}

std::string TFileKeyStore::ReadString(const std::string& path, const std::string& name)
{
    return FindTyped(path, name, TValueKind::String).Text;
}

std::int32_t TFileKeyStore::ReadInteger(const std::string& path, const std::string& name)
{
    return FindTyped(path, name, TValueKind::Integer).Integer;
}

void TFileKeyStore::SetValue(const std::string& path, TRegValue value)
{
    CheckName(value.Name);
    CheckKeyPath(path);
    // A value written as it stands changes nothing: no lock, no write.
    Refresh();
    if (const TRegTreeKey* key = FRoot.Find(path)) {
        const TRegValue* old = key->FindValue(value.Name);
        if (old != nullptr && old->Kind == value.Kind && old->Text == value.Text &&
            old->Integer == value.Integer)
            return;
    }
    Modify([&] {
        FRoot.Create(path).SetValue(std::move(value));
        return true;
    });
}

void TFileKeyStore::WriteString(const std::string& path, const std::string& name,
                                const std::string& value)
{
    SetValue(path, {name, TValueKind::String, value, 0});
}

void TFileKeyStore::WriteInteger(const std::string& path, const std::string& name,
                                 std::int32_t value)
{
    SetValue(path, {name, TValueKind::Integer, {}, value});
}

std::vector<std::string> TFileKeyStore::GetKeyNames(const std::string& path)
{
    Refresh();
    std::vector<std::string> names;
    if (const TRegTreeKey* key = FRoot.Find(path)) {
        for (const auto& sub : key->SubKeys())
            names.push_back(sub->Name());
    }
    return names;
}

bool TFileKeyStore::DeleteKey(const std::string& path)
{
    Refresh();
    if (FRoot.Find(path) == nullptr || SplitKeyPath(path).empty())
        return false;
    return Modify([&] { return FRoot.Remove(path); });
}
