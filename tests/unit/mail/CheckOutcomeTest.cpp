#include "mail/CheckOutcome.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<TMessageRow> Rows(int count)
{
    std::vector<TMessageRow> rows;
    for (int n = 1; n <= count; ++n) {
        TMessageRow row;
        row.Subject = std::to_string(n);
        rows.push_back(row);
    }
    return rows;
}

std::string Subjects(const TMailNotice& notice)
{
    std::string subjects;
    for (const TMessageRow& row : notice.Messages)
        subjects += row.Subject;
    return subjects;
}

struct TNoticeCase
{
    int Rows;
    int Fresh;
    int Count;
    bool New;
    std::string Subjects;
};

class MailNoticeTest : public ::testing::TestWithParam<TNoticeCase>
{};

// The new messages are the last ones listed; with none new, the notice is of every message
// waiting.
TEST_P(MailNoticeTest, TakesTheLastRowsAsTheNewOnes)
{
    const TNoticeCase& c = GetParam();
    const TMailNotice notice = MakeMailNotice(Rows(c.Rows), c.Fresh);
    EXPECT_EQ(notice.Count, c.Count);
    EXPECT_EQ(notice.New, c.New);
    EXPECT_EQ(Subjects(notice), c.Subjects);
}

INSTANTIATE_TEST_SUITE_P(
    Counts, MailNoticeTest,
    ::testing::Values(TNoticeCase{5, 2, 2, true, "45"}, TNoticeCase{3, 3, 3, true, "123"},
                      TNoticeCase{3, 0, 3, false, "123"}, TNoticeCase{2, -1, 2, false, "12"},
                      TNoticeCase{2, 9, 2, true, "12"}, TNoticeCase{0, 0, 0, false, ""}));

TEST(MailNoticeByRowsTest, NamesTheRowsGivenAsNewAndIgnoresOthers)
{
    const TMailNotice notice = MakeMailNotice(Rows(4), std::vector<std::size_t>{0, 2, 7});
    EXPECT_TRUE(notice.New);
    EXPECT_EQ(notice.Count, 2);
    EXPECT_EQ(Subjects(notice), "13");
}

} // namespace
