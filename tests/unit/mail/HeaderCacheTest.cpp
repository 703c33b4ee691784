#include "mail/HeaderCache.h"

#include "config/Data.h"
#include "mail/MailSession.h"
#include "mail/MessageRow.h"
#include "pop3/WireMessage.h"
#include "tests/support/TempDir.h"
#include "tests/unit/pop3/Fixtures.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

TCachedHeader Header(const std::string& subject)
{
    return {"Ann <ann@example.org>", "bob@example.org", subject, "Sun, 06 Dec 2026 20:07:05 +0000",
            "<" + subject + "@x>"};
}

int ModeOf(const std::string& path)
{
    struct stat status
    {};
    return ::stat(path.c_str(), &status) == 0 ? static_cast<int>(status.st_mode & 0777) : -1;
}

} // namespace

// A row made from the cached values reads as the row made from the server's header: every
// fixture, and values with leading blanks, tabs, 8-bit bytes and folded lines.
TEST(HeaderCache, RowsFromTheCacheReadAsRowsFromTheHeader)
{
    auto record = std::make_shared<TAccount>();
    record->Name = "Home";
    const TAccountSnapshot account = SnapshotOf(record);
    std::vector<std::vector<std::string>> headers;
    for (const char* fixture :
         {"colon-without-blank.eml", "folded-first-line.eml", "folded-subject.eml",
          "multipart-with-attachments.eml", "nul-in-header.eml", "quoted-name-with-comma.eml",
          "status-last-header.eml", "title-replaces-subject.eml"})
        headers.push_back(HeaderLines(fixture));
    headers.push_back({"from:\t  Jo <jo@x>", "TO: \"Doe, J\" <j@x>,", " k@x", "Subject:caf\xC3\xA9",
                       "Date: Mon, 1 Jan 2024 10:00:00 +0100", "Message-Id: <a@x>"});
    headers.push_back({"X-Only: nothing the row uses"});
    for (const std::vector<std::string>& lines : headers) {
        SCOPED_TRACE(lines.front());
        TWireMessage received;
        received.SetHeaderLines(lines);
        TWireMessage cached;
        TCachedHeader::Of(received).FillMessage(cached);
        const TMessageRow expected = MakeMessageRow(account, 3, received, 2048, "/");
        const TMessageRow actual = MakeMessageRow(account, 3, cached, 2048, "/");
        for (int text = 0; text < TMessageRow::TextCount; ++text)
            EXPECT_EQ(actual.Text(text), expected.Text(text)) << "text " << text;
        EXPECT_EQ(actual.DateIso, expected.DateIso);
        EXPECT_EQ(actual.SenderAddress, expected.SenderAddress);
        EXPECT_EQ(actual.ToList, expected.ToList);
        EXPECT_EQ(actual.Sent, expected.Sent);
    }
}

TEST(HeaderCache, EntriesSurviveAReloadInAPrivateFileAndGoWithTheirMessages)
{
    TTempDir folder;
    const std::string place = folder.File("cache/Mailbeacon");
    {
        THeaderCache cache(place, "Mail.Example.org", 995, "alice");
        EXPECT_FALSE(cache.Rebuilt()) << "no file yet is no fault";
        cache.Put("u1", Header("one"));
        cache.Put("u2", Header("two\n.\r\n3:x"));
        cache.Put("u3", Header("three"));
        cache.KeepOnly({"u3", "u2"});
        ASSERT_TRUE(cache.Save());
        EXPECT_EQ(ModeOf(cache.FileName()), 0600);
        EXPECT_EQ(ModeOf(place), 0700);
        EXPECT_EQ(cache.FileName().find("secret"), std::string::npos);
    }
    THeaderCache again(place, "mail.example.org", 995, "alice");
    EXPECT_FALSE(again.Rebuilt());
    EXPECT_EQ(again.Count(), 2u);
    EXPECT_EQ(again.Find("u1"), nullptr);
    ASSERT_NE(again.Find("u2"), nullptr);
    EXPECT_EQ(again.Find("u2")->Subject, "two\n.\r\n3:x");
    EXPECT_EQ(again.Find("u3")->MessageId, "<three@x>");
}

TEST(HeaderCache, AFileThatCannotBeReadIsPassedOverAndRebuilt)
{
    TTempDir folder;
    std::string valid;
    std::string fileName;
    {
        THeaderCache cache(folder.Path(), "127.0.0.1", 110, "alice");
        cache.Put("u1", Header("one"));
        ASSERT_TRUE(cache.Save());
        fileName = cache.FileName();
        valid = ReadFile(fileName);
    }
    const struct
    {
        const char* Name;
        std::string Text;
    } table[] = {
        {"garbage", "\x01\x02 not a cache at all"},
        {"empty", ""},
        {"another format version", std::string(valid).replace(valid.find(" 1\n"), 3, " 999\n")},
        {"cut short", valid.substr(0, valid.size() - 10)},
        {"a length beyond the end", std::string(valid).replace(valid.find("3:one"), 5, "99:one")},
        {"another account's file", std::string(valid).replace(valid.find("alice"), 5, "mallo")},
        {"a line too many", valid + "junk\n"},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.Name);
        WriteFile(fileName, row.Text);
        THeaderCache cache(folder.Path(), "127.0.0.1", 110, "alice");
        EXPECT_TRUE(cache.Rebuilt());
        EXPECT_EQ(cache.Count(), 0u);
        ASSERT_TRUE(cache.Save()) << "the rebuilt file replaces the broken one";
        THeaderCache reread(folder.Path(), "127.0.0.1", 110, "alice");
        EXPECT_FALSE(reread.Rebuilt());
    }
}

TEST(HeaderCache, AccountsOnOneHostNeverShareEntries)
{
    TTempDir folder;
    THeaderCaches caches(folder.Path());
    TAccount alice;
    alice.Host = "127.0.0.1";
    alice.Port = 110;
    alice.UserId = "alice";
    TAccount bob = alice;
    bob.UserId = "bob";
    TAccount otherPort = alice;
    otherPort.Port = 995;
    caches.For(alice).Put("1", Header("alice's"));
    ASSERT_TRUE(caches.For(alice).Save());
    EXPECT_NE(caches.For(bob).FileName(), caches.For(alice).FileName());
    EXPECT_EQ(caches.For(bob).Find("1"), nullptr);
    EXPECT_EQ(caches.For(otherPort).Find("1"), nullptr);
    EXPECT_EQ(&caches.For(alice), &caches.For(alice));
    THeaderCaches fresh(folder.Path());
    ASSERT_NE(fresh.For(alice).Find("1"), nullptr);
    EXPECT_EQ(fresh.For(bob).Find("1"), nullptr);
}

TEST(HeaderCache, GrowsNoFurtherThanItsBoundDroppingTheOldest)
{
    TTempDir folder;
    THeaderCache cache(folder.Path(), "127.0.0.1", 110, "alice");
    TCachedHeader large = Header("x");
    large.To = std::string(THeaderCache::MaxEntryBytes - 200, 't');
    int stored = 0;
    while (cache.Bytes() + THeaderCache::MaxEntryBytes < THeaderCache::MaxBytes)
        cache.Put("u" + std::to_string(++stored), large);
    const std::size_t count = cache.Count();
    cache.Put("newest", large);
    cache.Put("another", large);
    EXPECT_LE(cache.Bytes(), THeaderCache::MaxBytes);
    EXPECT_LE(cache.Count(), count + 2);
    EXPECT_EQ(cache.Find("u1"), nullptr) << "the oldest went first";
    EXPECT_NE(cache.Find("newest"), nullptr);
    TCachedHeader huge = Header("huge");
    huge.To = std::string(THeaderCache::MaxEntryBytes + 1, 't');
    cache.Put("huge", huge);
    EXPECT_EQ(cache.Find("huge"), nullptr) << "a header past the entry bound is not kept";
}
