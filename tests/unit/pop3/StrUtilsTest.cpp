#include "pop3/StrUtils.h"

#include <gtest/gtest.h>

#include <cctype>

// The one hex-digit rule behind the password cipher, the store's dword values, RFC 2047's
// "=XX" and the sample server's unique-ids.
TEST(StrUtils, HexDigitsOfEitherCaseReadBackAndOnlyThey)
{
    for (int byte = 0; byte < 256; ++byte) {
        const char c = static_cast<char>(byte);
        const int value = HexDigitValue(c);
        if (std::isxdigit(byte) == 0) {
            EXPECT_EQ(value, -1) << byte;
            continue;
        }
        ASSERT_GE(value, 0) << byte;
        EXPECT_EQ(HexDigit(static_cast<unsigned>(value)), static_cast<char>(std::toupper(byte)))
            << byte;
    }
    EXPECT_EQ(HexDigit(0x1F), 'F') << "only the low four bits count";
    EXPECT_EQ(HexDigit(0xA0), '0');
}
