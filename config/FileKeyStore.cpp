#include "config/FileKeyStore.h"

#include "config/RegFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/file.h>
#include <sys/stat.h>
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

} // namespace

// Holds an advisory lock on "<store>.lock" so that two copies of the program never interleave
// their read-modify-write of the store.
class TStoreLock
{
public:
    explicit TStoreLock(const std::string& fileName)
    {
        const std::string lockName = fileName + ".lock";
        FHandle = ::open(lockName.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (FHandle < 0)
            throw ERegistryError(SystemError("Cannot lock", lockName));
        while (::flock(FHandle, LOCK_EX) != 0 && errno == EINTR) {
        }
    }
    ~TStoreLock() { ::close(FHandle); }
    TStoreLock(const TStoreLock&) = delete;
    TStoreLock& operator=(const TStoreLock&) = delete;

private:
    int FHandle = -1;
};

namespace {

void WriteAll(int handle, const std::string& text, const std::string& fileName)
{
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t written = ::write(handle, text.data() + done, text.size() - done);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            throw ERegistryError(SystemError("Cannot write", fileName));
        done += static_cast<std::size_t>(written);
    }
}

} // namespace

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
    if (identity.Exists) {
        std::ifstream file(FFileName, std::ios::binary);
        if (!file)
            throw ERegistryError(SystemError("Cannot read", FFileName));
        std::ostringstream text;
        text << file.rdbuf();
        FRoot = ParseRegFile(text.str(), FFileName);
    }
    FIdentity = identity;
    FLoaded = true;
}

template <class TChange> auto TFileKeyStore::Modify(TChange change)
{
    std::unique_ptr<TStoreLock> lock;
    if (FUpdateDepth == 0) {
        MakeFolders(FolderOf(FFileName));
        lock = std::make_unique<TStoreLock>(FFileName);
    }
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
    if (FUpdateDepth++ > 0)
        return;
    try {
        MakeFolders(FolderOf(FFileName));
        FUpdateLock = std::make_unique<TStoreLock>(FFileName);
    } catch (...) {
        FUpdateDepth = 0;
        throw;
    }
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
    const std::string folder = FolderOf(FFileName);
    std::string temporary = FFileName + ".XXXXXX";
    const int handle = ::mkstemp(temporary.data());
    if (handle < 0)
        throw ERegistryError(SystemError("Cannot write", FFileName));
    try {
        if (::fchmod(handle, 0600) != 0)
            throw ERegistryError(SystemError("Cannot write", temporary));
        WriteAll(handle, FormatRegFile(FRoot), temporary);
        if (::fsync(handle) != 0)
            throw ERegistryError(SystemError("Cannot write", temporary));
    } catch (...) {
        ::close(handle);
        ::unlink(temporary.c_str());
        throw;
    }
    ::close(handle);
    if (::rename(temporary.c_str(), FFileName.c_str()) != 0) {
        const std::string error = SystemError("Cannot replace", FFileName);
        ::unlink(temporary.c_str());
        throw ERegistryError(error);
    }
    // The rename itself survives a crash only once the folder is flushed.
    const int folderHandle = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderHandle >= 0) {
        ::fsync(folderHandle);
        ::close(folderHandle);
    }
    FIdentity = CurrentIdentity();
}

bool TFileKeyStore::OpenKey(const std::string& path)
{
    Refresh();
    if (FRoot.Find(path) != nullptr)
        return true;
    for (const std::string_view part : SplitKeyPath(path))
        CheckName(std::string(part));
    return Modify([&] {
        FRoot.Create(path);
        return true;
    });
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
    for (const std::string_view part : SplitKeyPath(path))
        CheckName(std::string(part));
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
