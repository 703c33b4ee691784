#include "config/PassCrypt.h"

#include "pop3/StrUtils.h"

#include <algorithm>
#include <utility>

namespace {

constexpr std::int32_t ForbiddenKey = 2147483647;

// Four password characters as one little-endian word; characters past the end count as 0.
std::uint32_t PasswordWord(const std::string& password, std::size_t first)
{
    std::uint32_t word = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        const std::size_t at = first + i;
        const auto byte = at < password.size() ? static_cast<std::uint8_t>(password[at]) : 0u;
        word |= static_cast<std::uint32_t>(byte) << (8 * i);
    }
    return word;
}

} // namespace

TCryptLib::TCryptLib()
    : FAddKey(1)
    , FMultKey(1)
{
    FBuffer.reserve(BlockSize);
}

void TCryptLib::SetPassword(const std::string& value)
{
    if (value.size() > MaxPasswordLength) {
        FPassword.clear();
        throw ECryptError("TCryptLib.Password is too long");
    }
    FPassword = value;
}

void TCryptLib::SetAddKey(std::int32_t value)
{
    if (value == 0 || value == ForbiddenKey) {
        FAddKey = 1;
        throw ECryptError("TCryptLib.AddKey is too big");
    }
    FAddKey = value;
}

void TCryptLib::SetMultKey(std::int32_t value)
{
    if (value == 0 || value == ForbiddenKey) {
        FMultKey = 1;
        throw ECryptError("TCryptLib.MultKey is too big");
    }
    FMultKey = value;
}

void TCryptLib::InitKey()
{
    FKeyWord1 = PasswordWord(FPassword, 0);
    FKeyWord2 = PasswordWord(FPassword, 4);
    FKeyWord3 = PasswordWord(FPassword, 8);
    FSeed = FKeyWord1;
}

// Linear congruential generator; the result lies in 0 .. range-1 (0 when range is 0).
std::uint32_t TCryptLib::Next(std::uint32_t range)
{
    FSeed = FSeed * 134775813u + 1u;
    return static_cast<std::uint32_t>((static_cast<std::uint64_t>(FSeed) * range) >> 32);
}

// Swap targets of one block, 1-based: for two bytes or more the last position is never drawn.
void TCryptLib::MakePositionTable(std::size_t count)
{
    FPositions.resize(count);
    for (std::size_t i = 0; i < count; ++i)
        FPositions[i] = static_cast<std::uint16_t>(Next(static_cast<std::uint32_t>(count - 1)) + 1);
}

std::uint8_t TCryptLib::KeyByte() const
{
    return static_cast<std::uint8_t>(FKeyWord2 ^ (FKeyWord2 >> 8) ^ (FKeyWord2 >> 16) ^
                                     (FKeyWord2 >> 24));
}

// The running key word is fed back from the enciphered byte, on both sides.
void TCryptLib::UpdateKeyWord(std::uint8_t cipherByte)
{
    FKeyWord2 = (cipherByte + FKeyWord2 + FKeyWord3) * static_cast<std::uint32_t>(FMultKey) +
                static_cast<std::uint32_t>(FAddKey);
}

void TCryptLib::EncryptBuffer(std::size_t count)
{
    MakePositionTable(count);
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t key = KeyByte();
        const auto noise = static_cast<std::uint8_t>(Next(255));
        FBuffer[i] = static_cast<std::uint8_t>(FBuffer[i] ^ key ^ noise);
        UpdateKeyWord(FBuffer[i]);
    }
    for (std::size_t i = 0; i < count; ++i)
        std::swap(FBuffer[i], FBuffer[FPositions[i] - 1]);
}

void TCryptLib::DecryptBuffer(std::size_t count)
{
    MakePositionTable(count);
    for (std::size_t i = count; i-- > 0;)
        std::swap(FBuffer[i], FBuffer[FPositions[i] - 1]);
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t cipherByte = FBuffer[i];
        const std::uint8_t key = KeyByte();
        const auto noise = static_cast<std::uint8_t>(Next(255));
        FBuffer[i] = static_cast<std::uint8_t>(cipherByte ^ key ^ noise);
        UpdateKeyWord(cipherByte);
    }
}

std::string TCryptLib::EncryptString(const std::string& plain)
{
    InitKey();
    std::string result;
    result.reserve(plain.size() * 2);
    for (std::size_t start = 0; start < plain.size(); start += BlockSize) {
        const std::size_t count = std::min(BlockSize, plain.size() - start);
        FBuffer.assign(plain.begin() + static_cast<std::ptrdiff_t>(start),
                       plain.begin() + static_cast<std::ptrdiff_t>(start + count));
        EncryptBuffer(count);
        for (const std::uint8_t byte : FBuffer) {
            result += HexDigit(byte >> 4);
            result += HexDigit(byte);
        }
    }
    FPositions.clear();
    return result;
}

std::string TCryptLib::DecryptString(const std::string& hex)
{
    constexpr std::size_t HexBlockSize = 2 * BlockSize;
    // Every byte is two digits: an odd count means a damaged value, and deciphering the rest
    // would send garbage to the server as the password.
    if (hex.size() % 2 != 0)
        throw ECryptError("TCryptLib: decrypting error - not hexlook string");
    InitKey();
    std::string result;
    result.reserve(hex.size() / 2);
    for (std::size_t start = 0; start < hex.size(); start += HexBlockSize) {
        const std::size_t count = std::min(HexBlockSize, hex.size() - start) / 2;
        FBuffer.resize(count);
        for (std::size_t j = 0; j < count; ++j) {
            const int high = HexDigitValue(hex[start + 2 * j]);
            const int low = HexDigitValue(hex[start + 2 * j + 1]);
            if (high < 0 || low < 0) {
                FBuffer.clear();
                throw ECryptError("TCryptLib: decrypting error - not hexlook string");
            }
            FBuffer[j] = static_cast<std::uint8_t>(high * 16 + low);
        }
        DecryptBuffer(count);
        result.append(FBuffer.begin(), FBuffer.end());
    }
    FPositions.clear();
    return result;
}

TCryptLib MakeProgramCipher()
{
    TCryptLib cipher;
    cipher.SetPassword("Rk7pWq3ZmT9v");
    cipher.SetAddKey(5190347);
    cipher.SetMultKey(270419);
    cipher.SetCompression(true);
    return cipher;
}
