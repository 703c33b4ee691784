#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

// Failure of the configuration store: a value of another type than asked for, a value that
// does not exist, a store file that cannot be read, parsed or written. The text names the
// value, or the file and line.
class ERegistryError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// The per-user key-value store that keeps the configuration between runs. Keys are addressed
// by absolute paths below the user's root ("\Software\Hollinway\Mailbeacon 2.0\Settings").
// Key and value names compare without regard to letter case and keep the case they were
// created with.
class TKeyStore
{
public:
    virtual ~TKeyStore() = default;

    // Opens the key, creating it and every missing key above it. False when the key cannot be
    // opened; throws ERegistryError when the store itself cannot be read.
    virtual bool OpenKey(const std::string& path) = 0;
    // Whether the key exists, without creating anything: what readers use. Throws
    // ERegistryError when the store itself cannot be read.
    virtual bool KeyExists(const std::string& path) = 0;
    virtual bool ValueExists(const std::string& path, const std::string& name) = 0;
    // Both reads throw ERegistryError naming the value when it is absent or of another type.
    virtual std::string ReadString(const std::string& path, const std::string& name) = 0;
    virtual std::int32_t ReadInteger(const std::string& path, const std::string& name) = 0;
    // Both writes create the key when needed and replace any earlier value of that name,
    // whatever its type; they throw ERegistryError when the store cannot be written.
    virtual void WriteString(const std::string& path, const std::string& name,
                             const std::string& value) = 0;
    virtual void WriteInteger(const std::string& path, const std::string& name,
                              std::int32_t value) = 0;
    // Names of the key's direct sub-keys in alphabetical order, ignoring case.
    virtual std::vector<std::string> GetKeyNames(const std::string& path) = 0;
    // Deletes the key with everything below it. False when there was no such key.
    virtual bool DeleteKey(const std::string& path) = 0;

    // Between the two, changes may be kept in memory and written together at the end, so
    // that one save costs one write of the store. Calls nest; EndUpdate throws
    // ERegistryError when the store cannot be written.
    virtual void BeginUpdate() {}
    virtual void EndUpdate() {}
};

// Groups the changes made while it lives into one update of the store. Finish() ends the
// update and reports a failed write; when an error leaves the scope first, what was changed
// until then is still written, as far as the store allows.
class TStoreUpdate
{
public:
    explicit TStoreUpdate(TKeyStore& store);
    ~TStoreUpdate();
    TStoreUpdate(const TStoreUpdate&) = delete;
    TStoreUpdate& operator=(const TStoreUpdate&) = delete;

    void Finish();

private:
    TKeyStore& FStore;
    bool FFinished = false;
};

// One key of a store, opened by path: the loaders and savers speak to a key at a time.
class TRegKey
{
public:
    TRegKey(TKeyStore& store, std::string path);

    const std::string& Path() const { return FPath; }
    bool Open() { return FStore.OpenKey(FPath); }
    // Opens the key only when it exists; reading never adds keys to the store.
    bool OpenExisting() { return FStore.KeyExists(FPath); }
    bool Exists(const std::string& name) { return FStore.ValueExists(FPath, name); }
    std::string ReadString(const std::string& name) { return FStore.ReadString(FPath, name); }
    std::int32_t ReadInteger(const std::string& name) { return FStore.ReadInteger(FPath, name); }
    // A boolean is an integer 0 or 1; any non-zero value reads as true.
    bool ReadBool(const std::string& name) { return ReadInteger(name) != 0; }
    void WriteString(const std::string& name, const std::string& value)
    {
        FStore.WriteString(FPath, name, value);
    }
    void WriteInteger(const std::string& name, std::int32_t value)
    {
        FStore.WriteInteger(FPath, name, value);
    }
    void WriteBool(const std::string& name, bool value) { WriteInteger(name, value ? 1 : 0); }
    std::vector<std::string> GetKeyNames() { return FStore.GetKeyNames(FPath); }

private:
    TKeyStore& FStore;
    std::string FPath;
};
