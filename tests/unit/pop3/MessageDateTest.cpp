#include "pop3/MessageDate.h"

#include <gtest/gtest.h>

namespace {

struct TIsoCase
{
    const char* Header;
    // "" for a zone that cannot be told; nullptr for no date at all.
    const char* Iso;
};

class MessageDateIso : public testing::TestWithParam<TIsoCase>
{};

TEST_P(MessageDateIso, ReadsTheDateWithItsOwnOffset)
{
    const TIsoCase& c = GetParam();
    const std::optional<TMessageDate> date = ReadMessageDate(c.Header);
    if (c.Iso == nullptr) {
        EXPECT_FALSE(date.has_value()) << c.Header;
        return;
    }
    ASSERT_TRUE(date.has_value()) << c.Header;
    EXPECT_EQ(Rfc3339Text(*date), c.Iso) << c.Header;
}

INSTANTIATE_TEST_SUITE_P(
    Rfc5322, MessageDateIso,
    testing::Values(
        TIsoCase{"Sun, 06 Dec 2026 20:07:05 +0000", "2026-12-06T20:07:05+00:00"},
        TIsoCase{"Thu,13 Feb 2025 10:00:00 +0100", "2025-02-13T10:00:00+01:00"},
        TIsoCase{"Thursday, 13 Feb 2025 10:00 -0330", "2025-02-13T10:00:00-03:30"},
        TIsoCase{"6 Dec 2026 20:07:05 +0000 (UTC)", "2026-12-06T20:07:05+00:00"},
        TIsoCase{"Mon, 1 Jan 2000 00:00:00 GMT", "2000-01-01T00:00:00+00:00"},
        TIsoCase{"Mon, 1 Jan 2000 00:00:00 EST", "2000-01-01T00:00:00-05:00"},
        TIsoCase{"1 Jan 2000 00:00:00 -0000", "2000-01-01T00:00:00-00:00"},
        TIsoCase{"1 Jan 2000 00:00:00 Z", "2000-01-01T00:00:00-00:00"},
        TIsoCase{"1 Jan 49 12:00:00 +0000", "2049-01-01T12:00:00+00:00"},
        TIsoCase{"1 Jan 50 12:00:00 +0000", "1950-01-01T12:00:00+00:00"},
        TIsoCase{"31 Dec 2016 23:59:60 +0000", "2016-12-31T23:59:60+00:00"},
        // A date that reads but whose zone cannot be told.
        TIsoCase{"1 Jan 2000 00:00:00 CET", ""}, TIsoCase{"1 Jan 2000 00:00:00", ""},
        TIsoCase{"1 Jan 2000 00:00:00 +2500", ""},
        // Not a date: the Date cell stays empty.
        TIsoCase{"", nullptr}, TIsoCase{"   ", nullptr}, TIsoCase{"2025-02-13T10:00:00Z", nullptr},
        TIsoCase{"15 Foo 2020 10:00:00", nullptr}, TIsoCase{"31 Apr 2020 10:00:00 +0000", nullptr},
        TIsoCase{"1 Jan 2020 25:00:00 +0000", nullptr}, TIsoCase{"Dec 6 2026 10:00", nullptr},
        TIsoCase{"6 Dec 2026", nullptr}, TIsoCase{"next tuesday", nullptr}));

} // namespace
