#include "mail/HeaderCache.h"

#include "config/Data.h"
#include "config/FileWrite.h"
#include "pop3/WireMessage.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char* const Magic = "Mailbeacon header cache ";
// Bytes an entry costs beside its texts: the map's node and the strings' own fields.
constexpr std::size_t EntryOverhead = 96 + 6 * sizeof(std::string);

std::uint64_t Fnv1a(const std::string& text)
{
    std::uint64_t hash = 14695981039346656037ull;
    for (const unsigned char c : text) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    return hash;
}

// A name part made only of characters every file system takes.
std::string Tame(const std::string& text)
{
    std::string tame;
    for (const unsigned char c : text.substr(0, 40))
        tame += std::isalnum(c) != 0 || c == '.' || c == '-' ? static_cast<char>(c) : '_';
    return tame;
}

// One field: its length, a colon, its bytes, a line feed; any byte may be inside.
void PutField(std::string& out, const std::string& text)
{
    out += std::to_string(text.size());
    out += ':';
    out += text;
    out += '\n';
}

class TReader
{
public:
    explicit TReader(const std::string& text)
        : FText(text)
    {}

    bool Line(std::string& line)
    {
        const std::size_t end = FText.find('\n', FAt);
        if (end == std::string::npos)
            return false;
        line = FText.substr(FAt, end - FAt);
        FAt = end + 1;
        return true;
    }

    bool Field(std::string& field)
    {
        const std::size_t colon = FText.find(':', FAt);
        if (colon == std::string::npos || colon == FAt || colon - FAt > 9)
            return false;
        std::size_t length = 0;
        for (std::size_t i = FAt; i < colon; ++i) {
            if (std::isdigit(static_cast<unsigned char>(FText[i])) == 0)
                return false;
            length = length * 10 + static_cast<std::size_t>(FText[i] - '0');
        }
        if (FText.size() - colon - 1 < length + 1 || FText[colon + 1 + length] != '\n')
            return false;
        field = FText.substr(colon + 1, length);
        FAt = colon + length + 2;
        return true;
    }

    bool AtEnd() const { return FAt == FText.size(); }

private:
    const std::string& FText;
    std::size_t FAt = 0;
};

} // namespace

TCachedHeader TCachedHeader::Of(const TWireMessage& header)
{
    return {header.From(), header.HeaderValue("To"), header.Subject(), header.HeaderValue("Date"),
            header.MsgID()};
}

void TCachedHeader::FillMessage(TWireMessage& message) const
{
    // Header lines such as the server sends: their values come back byte for byte, and the
    // message derives its address lists from them as it does from a received header.
    std::vector<std::string> lines;
    const auto add = [&lines](const char* name, const std::string& value) {
        if (!value.empty())
            lines.push_back(std::string(name) + ": " + value);
    };
    add("From", From);
    add("To", To);
    add("Subject", Subject);
    add("Date", Date);
    add("Message-ID", MessageId);
    message.SetHeaderLines(std::move(lines));
}

std::size_t TCachedHeader::Bytes() const
{
    return From.size() + To.size() + Subject.size() + Date.size() + MessageId.size();
}

THeaderCache::THeaderCache(const std::string& folder, const std::string& host, std::int32_t port,
                           const std::string& user)
    : FFolder(folder)
    , FKey(MailboxKey(host, port, user))
{
    char hash[17];
    std::snprintf(hash, sizeof hash, "%016llx", static_cast<unsigned long long>(Fnv1a(FKey)));
    // Host names compare without regard to case, as the key does.
    const std::string lowered = FKey.substr(0, FKey.find('\n'));
    FFileName = FFolder + "/" + Tame(user) + "@" + Tame(lowered) + "-" + std::to_string(port) +
                "-" + hash + ".cache";
    if (!Load()) {
        FEntries.clear();
        FBytes = 0;
        FNextStored = 1;
        FRebuilt = true;
        // The next save replaces what could not be read.
        FChanged = true;
    }
}

std::size_t THeaderCache::EntryBytes(const std::string& uid, const TCachedHeader& header)
{
    return EntryOverhead + uid.size() + header.Bytes();
}

const TCachedHeader* THeaderCache::Find(const std::string& uid) const
{
    const auto found = FEntries.find(uid);
    return found == FEntries.end() ? nullptr : &found->second.Header;
}

void THeaderCache::Put(const std::string& uid, const TCachedHeader& header)
{
    if (uid.empty() || header.Bytes() > MaxEntryBytes)
        return;
    if (const auto old = FEntries.find(uid); old != FEntries.end())
        Drop(old);
    FEntries[uid] = {header, FNextStored++};
    FBytes += EntryBytes(uid, header);
    FChanged = true;
    while (FBytes > MaxBytes && !FEntries.empty()) {
        const auto oldest =
            std::min_element(FEntries.begin(), FEntries.end(), [](const auto& a, const auto& b) {
                return a.second.Stored < b.second.Stored;
            });
        Drop(oldest);
    }
}

void THeaderCache::Drop(std::map<std::string, TEntry>::iterator entry)
{
    FBytes -= EntryBytes(entry->first, entry->second.Header);
    FEntries.erase(entry);
    FChanged = true;
}

void THeaderCache::KeepOnly(const std::vector<std::string>& uids)
{
    std::vector<std::string> listed = uids;
    std::sort(listed.begin(), listed.end());
    for (auto entry = FEntries.begin(); entry != FEntries.end();) {
        const auto next = std::next(entry);
        if (!std::binary_search(listed.begin(), listed.end(), entry->first))
            Drop(entry);
        entry = next;
    }
}

bool THeaderCache::Load()
{
    struct stat status
    {};
    // No file yet is no fault: there is nothing to rebuild.
    if (::stat(FFileName.c_str(), &status) != 0)
        return errno == ENOENT;
    std::ifstream file(FFileName, std::ios::binary);
    if (!file)
        return false;
    std::ostringstream content;
    content << file.rdbuf();
    const std::string text = content.str();
    TReader reader(text);
    std::string line;
    std::string key;
    if (!reader.Line(line) || line != Magic + std::to_string(FormatVersion) || !reader.Field(key) ||
        key != FKey || !reader.Line(line) || line.rfind("entries ", 0) != 0)
        return false;
    std::size_t count = 0;
    try {
        count = std::stoul(line.substr(8));
    } catch (const std::exception&) {
        return false;
    }
    // Entries are written oldest first.
    for (std::size_t i = 0; i < count; ++i) {
        std::string uid;
        TCachedHeader header;
        if (!reader.Field(uid) || !reader.Field(header.From) || !reader.Field(header.To) ||
            !reader.Field(header.Subject) || !reader.Field(header.Date) ||
            !reader.Field(header.MessageId) || uid.empty() || FEntries.count(uid) != 0)
            return false;
        FBytes += EntryBytes(uid, header);
        FEntries[uid] = {std::move(header), FNextStored++};
    }
    return reader.Line(line) && line == "end" && reader.AtEnd() && FBytes <= MaxBytes;
}

bool THeaderCache::Save()
{
    if (!FChanged)
        return true;
    std::vector<std::pair<std::uint64_t, const std::string*>> order;
    for (const auto& [uid, entry] : FEntries)
        order.emplace_back(entry.Stored, &uid);
    std::sort(order.begin(), order.end());
    std::string out = Magic + std::to_string(FormatVersion) + "\n";
    PutField(out, FKey);
    out += "entries " + std::to_string(order.size()) + "\n";
    for (const auto& [stored, uid] : order) {
        const TCachedHeader& header = FEntries.at(*uid).Header;
        for (const std::string* field :
             {uid, &header.From, &header.To, &header.Subject, &header.Date, &header.MessageId})
            PutField(out, *field);
    }
    out += "end\n";

    // The folder and the file are the user's alone: headers name who writes to whom.
    std::error_code error;
    std::filesystem::create_directories(FFolder, error);
    if (error || ::chmod(FFolder.c_str(), 0700) != 0)
        return false;
    std::string temporary = FFileName + ".XXXXXX";
    const int descriptor = ::mkstemp(temporary.data());
    if (descriptor < 0)
        return false;
    const bool complete = WriteWholly(descriptor, out) && ::fchmod(descriptor, 0600) == 0;
    if (::close(descriptor) != 0 || !complete ||
        std::rename(temporary.c_str(), FFileName.c_str()) != 0) {
        std::remove(temporary.c_str());
        return false;
    }
    FChanged = false;
    return true;
}

THeaderCaches::THeaderCaches(std::string folder)
    : FFolder(folder.empty() ? DefaultHeaderCacheFolder() : std::move(folder))
{}

THeaderCache& THeaderCaches::For(const TAccount& account)
{
    std::unique_ptr<THeaderCache>& cache = FCaches[MailboxKey(account)];
    if (!cache)
        cache = std::make_unique<THeaderCache>(FFolder, account.Host, account.Port, account.UserId);
    return *cache;
}

std::string DefaultHeaderCacheFolder()
{
    const char* xdg = std::getenv("XDG_CACHE_HOME");
    // The XDG rule: a relative path is ignored.
    if (xdg != nullptr && xdg[0] == '/')
        return std::string(xdg) + "/Mailbeacon";
    const char* home = std::getenv("HOME");
    return std::string(home != nullptr ? home : "") + "/.cache/Mailbeacon";
}

std::string MailboxKey(const std::string& host, std::int32_t port, const std::string& user)
{
    std::string lowered = host;
    std::transform(lowered.begin(), lowered.end(), lowered.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lowered + "\n" + std::to_string(port) + "\n" + user;
}

std::string MailboxKey(const TAccount& account)
{
    return MailboxKey(account.Host, account.Port, account.UserId);
}
