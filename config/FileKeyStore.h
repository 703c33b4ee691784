#pragma once

#include "config/KeyStore.h"
#include "config/RegTree.h"

#include <memory>
#include <string>
#include <sys/types.h>

class TStoreLock;

// The store kept in one text file (see RegFile.h). The file is read again whenever another
// process has replaced it, and every change replaces it atomically (temporary file, flush,
// rename) under an advisory lock, with mode 0600. A file that cannot be parsed is never
// overwritten: every operation fails with the parse error until the file is mended or removed.
class TFileKeyStore : public TKeyStore
{
public:
    explicit TFileKeyStore(std::string fileName);
    ~TFileKeyStore() override;

    const std::string& FileName() const { return FFileName; }

    bool OpenKey(const std::string& path) override;
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
    void Refresh();
    const TRegValue& FindTyped(const std::string& path, const std::string& name, TValueKind kind);
    void SetValue(const std::string& path, TRegValue value);
    template <class TChange> auto Modify(TChange change);
    void Commit();

    std::string FFileName;
    TRegTreeKey FRoot;
    bool FLoaded = false;
    TFileIdentity FIdentity;
    int FUpdateDepth = 0;
    bool FUpdatePending = false;
    std::unique_ptr<TStoreLock> FUpdateLock;
};
