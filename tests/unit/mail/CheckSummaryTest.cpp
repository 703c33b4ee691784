#include "mail/CheckSummary.h"

#include <gtest/gtest.h>

// Scripts read the last line of the command-line check, so its shape is pinned here exactly.
TEST(CheckSummaryTest, CheckAndPreviewLinesCarryTheTimeAsGivenAndTheErrorCount)
{
    EXPECT_EQ(CheckSummary("14:06:31", 0), "Mail Check completed at 14:06:31 with 0 error(s)");
    EXPECT_EQ(CheckSummary("2:06:31 PM", 12),
              "Mail Check completed at 2:06:31 PM with 12 error(s)");
    EXPECT_EQ(PreviewSummary("14:06:31", 1),
              "Message Preview completed at 14:06:31 with 1 error(s)");
}
