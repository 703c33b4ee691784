#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

// The cipher's failures: a property set out of range, or deciphering text that is not hex.
class ECryptError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// Symmetric cipher of the stored account passwords: plain bytes in, upper-case hex text out.
// Enciphering is deterministic, and the hex text must stay byte-for-byte the same across
// versions: every installation's stored passwords depend on it.
class TCryptLib
{
public:
    static constexpr std::size_t MaxPasswordLength = 12;
    static constexpr std::size_t BlockSize = 32768;

    TCryptLib();

    const std::string& Password() const { return FPassword; }
    // Throws ECryptError "TCryptLib.Password is too long" for more than 12 characters, after
    // emptying the password.
    void SetPassword(const std::string& value);
    std::int32_t AddKey() const { return FAddKey; }
    // Both throw ECryptError for 0 and 2147483647, after setting the key to 1.
    void SetAddKey(std::int32_t value);
    std::int32_t MultKey() const { return FMultKey; }
    void SetMultKey(std::int32_t value);
    // Kept for the stored form of the object; has no effect on the two operations.
    bool Compression() const { return FCompression; }
    void SetCompression(bool value) { FCompression = value; }

    std::string EncryptString(const std::string& plain);
    // Throws ECryptError "TCryptLib: decrypting error - not hexlook string" when a pair of
    // characters is not two hex digits or the count of characters is odd.
    std::string DecryptString(const std::string& hex);

private:
    void InitKey();
    std::uint32_t Next(std::uint32_t range);
    void MakePositionTable(std::size_t count);
    std::uint8_t KeyByte() const;
    void UpdateKeyWord(std::uint8_t cipherByte);
    void EncryptBuffer(std::size_t count);
    void DecryptBuffer(std::size_t count);

    std::string FPassword;
    std::int32_t FAddKey;
    std::int32_t FMultKey;
    bool FCompression = true;
    std::uint32_t FKeyWord1 = 0;
    std::uint32_t FKeyWord2 = 0;
    std::uint32_t FKeyWord3 = 0;
    std::uint32_t FSeed = 0;
    std::vector<std::uint8_t> FBuffer;
    std::vector<std::uint16_t> FPositions;
};

// A cipher set up with the program's own key values, as every stored password expects.
TCryptLib MakeProgramCipher();
