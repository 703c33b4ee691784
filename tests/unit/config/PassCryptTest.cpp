#include "config/PassCrypt.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>

namespace {

std::string Bytes(std::initializer_list<int> values)
{
    std::string text;
    for (const int value : values)
        text += static_cast<char>(value);
    return text;
}

std::string Pattern(std::size_t length)
{
    std::string text(length, '\0');
    for (std::size_t i = 0; i < length; ++i)
        text[i] = static_cast<char>((i * 7 + 3) % 256);
    return text;
}

std::uint64_t Fnv1a(const std::string& text)
{
    std::uint64_t hash = 0xcbf29ce484222325ULL;
    for (const char c : text) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 0x100000001b3ULL;
    }
    return hash;
}

std::string AllBytes()
{
    std::string text;
    for (int i = 0; i < 256; ++i)
        text += static_cast<char>(i);
    return text;
}

} // namespace

// Known answers, computed by an independent implementation of the same cipher: stored
// passwords of every installation must keep deciphering.
TEST(PassCrypt, ProgramKeyGivesTheKnownHexText)
{
    TCryptLib cipher = MakeProgramCipher();
    EXPECT_EQ(cipher.EncryptString(""), "");
    EXPECT_EQ(cipher.EncryptString("a"), "CA");
    EXPECT_EQ(cipher.EncryptString("secret"), "9A9B811B4244");
    EXPECT_EQ(cipher.EncryptString("password123"), "7B2901856182C97AD9F8B7");
    EXPECT_EQ(cipher.EncryptString(Bytes({0, 0, 0})), "57EB2E");
    EXPECT_EQ(cipher.EncryptString(AllBytes()).substr(0, 32), "210A553173BBC39947808E611D056553");
    EXPECT_EQ(cipher.EncryptString(AllBytes()).substr(494), "AF49BAA2F95244F8B0");
}

TEST(PassCrypt, ShortPasswordLeavesTheUpperKeyWordsZero)
{
    TCryptLib cipher;
    cipher.SetPassword("abc");
    cipher.SetAddKey(5190347);
    cipher.SetMultKey(270419);
    EXPECT_EQ(cipher.EncryptString("hello world"), "4BB4195416CB17489C4F47");
    EXPECT_EQ(cipher.DecryptString("4BB4195416CB17489C4F47"), "hello world");
}

TEST(PassCrypt, BlocksContinueTheGeneratorAndKeyWord)
{
    TCryptLib cipher = MakeProgramCipher();
    const std::string full = cipher.EncryptString(Pattern(32768));
    EXPECT_EQ(full.size(), 65536u);

    const std::string oneMore = cipher.EncryptString(Pattern(32769));
    ASSERT_EQ(oneMore.size(), 65538u);
    EXPECT_EQ(oneMore.substr(0, 65536), full);
    EXPECT_EQ(oneMore.substr(65536), "30");
    EXPECT_EQ(Fnv1a(oneMore), 0x37c8df33b0b5c9fdULL);

    const std::string threeBlocks = cipher.EncryptString(Pattern(2 * 65536 + 5));
    EXPECT_EQ(threeBlocks.size(), 262154u);
    EXPECT_EQ(Fnv1a(threeBlocks), 0x1de05070e08ed435ULL);
    EXPECT_EQ(cipher.DecryptString(threeBlocks), Pattern(2 * 65536 + 5));
}

TEST(PassCrypt, RoundTripsEveryByteStringAndIsDeterministic)
{
    TCryptLib first = MakeProgramCipher();
    TCryptLib second = MakeProgramCipher();
    std::mt19937 random(7);
    for (const std::size_t length : {0u, 1u, 2u, 3u, 12u, 255u, 32767u, 32768u, 32769u, 70000u}) {
        std::string plain(length, '\0');
        for (char& c : plain)
            c = static_cast<char>(random() & 0xFF);
        const std::string hex = first.EncryptString(plain);
        ASSERT_EQ(hex.size(), 2 * length);
        EXPECT_EQ(hex.find_first_not_of("0123456789ABCDEF"), std::string::npos);
        EXPECT_EQ(second.EncryptString(plain), hex) << "length " << length;
        EXPECT_EQ(first.EncryptString(plain), hex) << "length " << length;
        EXPECT_EQ(second.DecryptString(hex), plain) << "length " << length;
    }
}

TEST(PassCrypt, DecryptingAcceptsLowerCase)
{
    TCryptLib cipher = MakeProgramCipher();
    EXPECT_EQ(cipher.DecryptString("9a9b811b4244"), "secret");
    EXPECT_EQ(cipher.DecryptString(""), "");
}

TEST(PassCrypt, DecryptingTextThatIsNotHexFails)
{
    TCryptLib cipher = MakeProgramCipher();
    // An odd count of digits is a damaged value as well: deciphering the rest would send
    // garbage to the server as the password.
    for (const char* text :
         {"9A9B 11B4244", "ZZ", "9A9B811B424G", "0x12", "9A9B811B4244F", "9A9B811B4244 ", "C"}) {
        try {
            cipher.DecryptString(text);
            FAIL() << "no error for " << text;
        } catch (const ECryptError& error) {
            EXPECT_STREQ(error.what(), "TCryptLib: decrypting error - not hexlook string");
        }
    }
    // The object stays usable after the failure.
    EXPECT_EQ(cipher.DecryptString("9A9B811B4244"), "secret");
}

TEST(PassCrypt, PropertiesRefuseOutOfRangeValues)
{
    TCryptLib cipher;
    cipher.SetPassword("123456789012");
    EXPECT_EQ(cipher.Password(), "123456789012");
    try {
        cipher.SetPassword("1234567890123");
        FAIL();
    } catch (const ECryptError& error) {
        EXPECT_STREQ(error.what(), "TCryptLib.Password is too long");
    }
    EXPECT_EQ(cipher.Password(), "");

    for (const std::int32_t bad : {0, 2147483647}) {
        cipher.SetMultKey(77);
        EXPECT_THROW(
            {
                try {
                    cipher.SetMultKey(bad);
                } catch (const ECryptError& error) {
                    EXPECT_STREQ(error.what(), "TCryptLib.MultKey is too big");
                    throw;
                }
            },
            ECryptError);
        EXPECT_EQ(cipher.MultKey(), 1);
        cipher.SetAddKey(77);
        EXPECT_THROW(
            {
                try {
                    cipher.SetAddKey(bad);
                } catch (const ECryptError& error) {
                    EXPECT_STREQ(error.what(), "TCryptLib.AddKey is too big");
                    throw;
                }
            },
            ECryptError);
        EXPECT_EQ(cipher.AddKey(), 1);
    }
    cipher.SetMultKey(-1);
    cipher.SetAddKey(-1);
    EXPECT_EQ(cipher.MultKey(), -1);
    EXPECT_EQ(cipher.AddKey(), -1);
    EXPECT_EQ(cipher.DecryptString(cipher.EncryptString(AllBytes())), AllBytes());
}

TEST(PassCrypt, OneByteIsNotMovedBySwapping)
{
    // With one byte the single swap target is the byte itself; the text still deciphers.
    TCryptLib cipher = MakeProgramCipher();
    for (int byte = 0; byte < 256; ++byte) {
        const std::string plain(1, static_cast<char>(byte));
        EXPECT_EQ(cipher.DecryptString(cipher.EncryptString(plain)), plain);
    }
}
