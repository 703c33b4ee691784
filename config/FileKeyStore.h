#pragma once

#include "config/KeyStore.h"
#include "config/RegTree.h"

#include <memory>
#include <string>
#include <sys/types.h>

class TStoreLock;

// The store kept in one text file (see RegFile.h). The file is read again whenever another
// process has replaced it, and every change replaces it atomically (temporary file
// "<file>.tmp-XXXXXX", flush, rename) under an advisory lock on "<file>.lock", with mode 0600;
// a change that leaves the text as it is writes nothing. A symbolic link is written through:
// the temporary file and the lock go next to the file it leads to. A file that cannot be
// parsed is never overwritten: every operation fails with the parse error until the file is
// mended or removed.
class TFileKeyStore : public TKeyStore
{
public:
    explicit TFileKeyStore(std::string fileName);
    ~TFileKeyStore() override;

    const std::string& FileName() const { return FFileName; }
    // The longest wait for the lock that another copy of the program holds while it writes;
    // then the change fails with ERegistryError naming the file.
    int LockTimeoutMs = 5000;

    // Removes the temporary files that a save cut short left next to the store (a kill during
    // the write), when no other copy holds the lock and so none is being written. Never throws.
    void RemoveStaleTemporaries();

    bool OpenKey(const std::string& path) override;
    bool KeyExists(const std::string& path) override;
    bool ValueExists(const std::string& path, const std::string& name) override;
    std::string ReadString(const std::string& path, const std::string& name) override;
    std::int32_t ReadInteger(const std::string& path, const std::string& name) override;
    void WriteString(const std::string& path, const std::string& name,
                     const std::string& value) override;
    void WriteInteger(const std::string& path, const std::string& name,
                      std::int32_t value) override;
    std::vector<std::string> GetKeyNames(const std::string& path) override;
    bool DeleteKey(const std::string& path) override;
    void BeginUpdate() override;
    void EndUpdate() override;

private:
    struct TFileIdentity
    {
        bool Exists = false;
        dev_t Device = 0;
        ino_t Inode = 0;
        off_t Size = 0;
        long long ModifiedNs = 0;
        bool operator==(const TFileIdentity&) const = default;
    };

    TFileIdentity CurrentIdentity() const;
    // The file the name leads to, through any symbolic links.
    std::string TargetName() const;
    std::unique_ptr<TStoreLock> Lock(int timeoutMs) const;
    void Refresh();
    const TRegValue& FindTyped(const std::string& path, const std::string& name, TValueKind kind);
    void SetValue(const std::string& path, TRegValue value);
    template <class TChange> auto Modify(TChange change);
    void Commit();

    std::string FFileName;
    TRegTreeKey FRoot;
    // The file's text as last read or written, to tell whether a change changes anything.
    std::string FText;
    bool FLoaded = false;
    TFileIdentity FIdentity;
    int FUpdateDepth = 0;
    bool FUpdatePending = false;
    std::unique_ptr<TStoreLock> FUpdateLock;
};
