#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

struct TAccount;
class TWireMessage;

// What the message list needs of a message's header: the header values a row is made from,
// kept as received, so that a row made from them reads exactly as one made from the server's
// header.
struct TCachedHeader
{
    std::string From;
    std::string To;
    std::string Subject;
    std::string Date;
    std::string MessageId;

    static TCachedHeader Of(const TWireMessage& header);
    // The message object of these values, as the header they came from gives it.
    void FillMessage(TWireMessage& message) const;
    // The bytes the values take.
    std::size_t Bytes() const;
};

// The headers of one account's messages by their unique ids (RFC 1939 UIDL), so that a message
// listed once is never asked for its header again. Kept in memory and in one file of its own,
// named after the account's host, port and user (never its password), mode 0600, replaced
// atomically. A file that cannot be read, of another format version or of another account is
// passed over and rebuilt by the next save.
class THeaderCache
{
public:
    static constexpr int FormatVersion = 1;
    // The most bytes of header values kept for one account; past it the entries stored first
    // go. A header larger than MaxEntryBytes is not kept at all.
    static constexpr std::size_t MaxBytes = 16 * 1024 * 1024;
    static constexpr std::size_t MaxEntryBytes = 16 * 1024;

    // Loads the account's file from the folder, if there is one.
    THeaderCache(const std::string& folder, const std::string& host, std::int32_t port,
                 const std::string& user);

    // The header of the message with this id; nullptr when it is not kept.
    const TCachedHeader* Find(const std::string& uid) const;
    void Put(const std::string& uid, const TCachedHeader& header);
    // After a listing of the whole mailbox: the headers of messages no longer there go.
    void KeepOnly(const std::vector<std::string>& uids);
    // Writes the file when something changed, creating the folder (mode 0700). False when it
    // could not be written; the cache in memory stays as it is.
    bool Save();

    std::size_t Count() const { return FEntries.size(); }
    std::size_t Bytes() const { return FBytes; }
    const std::string& FileName() const { return FFileName; }
    // Whether a file was there but had to be passed over.
    bool Rebuilt() const { return FRebuilt; }

private:
    struct TEntry
    {
        TCachedHeader Header;
        // Entries stored earlier have lower numbers; the lowest go first.
        std::uint64_t Stored = 0;
    };

    bool Load();
    void Drop(std::map<std::string, TEntry>::iterator entry);
    static std::size_t EntryBytes(const std::string& uid, const TCachedHeader& header);

    std::string FFolder;
    std::string FFileName;
    std::string FKey;
    std::map<std::string, TEntry> FEntries;
    std::size_t FBytes = 0;
    std::uint64_t FNextStored = 1;
    bool FChanged = false;
    bool FRebuilt = false;
};

// The header caches of the accounts a program checks, one per host, port and user, loaded when
// first asked for.
class THeaderCaches
{
public:
    // folder empty: DefaultHeaderCacheFolder().
    explicit THeaderCaches(std::string folder = {});
    THeaderCache& For(const TAccount& account);
    const std::string& Folder() const { return FFolder; }

private:
    std::string FFolder;
    std::map<std::string, std::unique_ptr<THeaderCache>> FCaches;
};

// ${XDG_CACHE_HOME:-~/.cache}/Mailbeacon
std::string DefaultHeaderCacheFolder();

// What tells one mailbox from another: host, port and user.
std::string MailboxKey(const std::string& host, std::int32_t port, const std::string& user);
std::string MailboxKey(const TAccount& account);
