#include "pop3/WireMessage.h"

#include <gtest/gtest.h>

namespace {

TWireMessage Parsed(std::vector<std::string> lines)
{
    TWireMessage message;
    message.SetHeaderLines(std::move(lines));
    return message;
}

} // namespace

TEST(WireMessage, FoldedSubjectIsJoinedWithSingleSpaces)
{
    const TWireMessage message =
        Parsed({"From: a@b.org", "Subject: Hello", "\tworld", "  again  "});
    EXPECT_EQ(message.Headers(),
              (std::vector<std::string>{"From=a@b.org", "Subject=Hello world again"}));
    EXPECT_EQ(message.Subject(), "Hello world again");
}
