#include "pop3/HeaderText.h"

#include "pop3/StrUtils.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <iconv.h>
#include <optional>
#include <vector>

namespace {

constexpr std::string_view ReplacementChar = "\xEF\xBF\xBD";

// Windows-1252 at 0x80 to 0x9F; 0 marks the five bytes that the code page leaves undefined.
constexpr std::array<char16_t, 32> Cp1252High = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

bool IsValidUtf8(std::string_view text)
{
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        if (lead < 0x80) {
            ++i;
            continue;
        }
        std::size_t length = 0;
        std::uint32_t cp = 0;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
            cp = lead & 0x1F;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            cp = lead & 0x0F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            cp = lead & 0x07;
        } else {
            return false;
        }
        if (i + length > text.size())
            return false;
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (next & 0x3F);
        }
        // Overlong forms, UTF-16 surrogates and values past U+10FFFF are not UTF-8.
        static constexpr std::uint32_t Smallest[5] = {0, 0, 0x80, 0x800, 0x10000};
        if (cp < Smallest[length] || (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF)
            return false;
        i += length;
    }
    return true;
}

// Raw 8-bit text: UTF-8 when it is valid UTF-8, otherwise Windows-1252.
void AppendRaw(std::string& out, std::string_view bytes)
{
    if (IsValidUtf8(bytes)) {
        out += bytes;
        return;
    }
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80)
            out += c;
        else if (byte >= 0xA0)
            AppendUtf8(out, byte);
        else if (Cp1252High[byte - 0x80] != 0)
            AppendUtf8(out, Cp1252High[byte - 0x80]);
        else
            out += ReplacementChar;
    }
}

// Open iconv descriptors by charset name: opening one costs more than converting a Subject.
class TConverterCache
{
public:
    TConverterCache() = default;
    TConverterCache(const TConverterCache&) = delete;
    TConverterCache& operator=(const TConverterCache&) = delete;
    ~TConverterCache() { Flush(); }

    // The descriptor from charset to UTF-8, reset to its initial state; nullopt when iconv does
    // not know the charset.
    std::optional<iconv_t> Get(const std::string& charset)
    {
        for (TEntry& entry : FEntries) {
            if (entry.Charset == charset) {
                if (entry.Descriptor == Invalid())
                    return std::nullopt;
                ::iconv(entry.Descriptor, nullptr, nullptr, nullptr, nullptr);
                return entry.Descriptor;
            }
        }
        if (FEntries.size() >= MaxEntries)
            Flush();
        const iconv_t descriptor = ::iconv_open("UTF-8", charset.c_str());
        FEntries.push_back({charset, descriptor});
        if (descriptor == Invalid())
            return std::nullopt;
        return descriptor;
    }

private:
    struct TEntry
    {
        std::string Charset;
        iconv_t Descriptor;
    };
    static constexpr std::size_t MaxEntries = 16;

    static iconv_t Invalid() { return reinterpret_cast<iconv_t>(-1); }

    void Flush()
    {
        for (const TEntry& entry : FEntries) {
            if (entry.Descriptor != Invalid())
                ::iconv_close(entry.Descriptor);
        }
        FEntries.clear();
    }

    std::vector<TEntry> FEntries;
};

// Bytes of a charset known to iconv, converted to UTF-8; a byte sequence that is not valid in
// the charset becomes U+FFFD, and so does a character cut off at the end unless dropCutEnd.
void AppendConverted(std::string& out, iconv_t descriptor, std::string_view bytes,
                     bool dropCutEnd = false)
{
    std::string input(bytes);
    char* in = input.data();
    std::size_t inLeft = input.size();
    char buffer[1024];
    for (;;) {
        char* outPtr = buffer;
        std::size_t outLeft = sizeof buffer;
        // With the input used up, one more call writes what a stateful charset still holds.
        const bool finishing = inLeft == 0;
        const std::size_t status = finishing
                                       ? ::iconv(descriptor, nullptr, nullptr, &outPtr, &outLeft)
                                       : ::iconv(descriptor, &in, &inLeft, &outPtr, &outLeft);
        const int error = errno;
        out.append(buffer, static_cast<std::size_t>(outPtr - buffer));
        if (status != static_cast<std::size_t>(-1) || error == E2BIG) {
            if (finishing && status != static_cast<std::size_t>(-1))
                return;
            continue;
        }
        if (finishing)
            return;
        if (error != EINVAL || !dropCutEnd)
            out += ReplacementChar;
        if (error == EINVAL) {
            // A character cut off at the end of the text.
            inLeft = 0;
        } else {
            ++in;
            --inLeft;
        }
    }
}

std::string NormalCharset(std::string_view charset)
{
    // RFC 2231 §5: a language may follow the charset after "*".
    const std::size_t star = charset.find('*');
    std::string name = UpperCase(charset.substr(0, star));
    // Names mail programs use that iconv knows under another one.
    if (name == "KS_C_5601-1987")
        return "CP949";
    if (name == "X-SJIS")
        return "SHIFT_JIS";
    if (name == "UNICODE-1-1-UTF-7")
        return "UTF-7";
    return name;
}

bool IsCharsetChar(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
           std::string_view("-_.:+*").find(c) != std::string_view::npos;
}

struct TEncodedWord
{
    std::size_t End = 0;
    std::string Charset;
    std::string Bytes;
};

// RFC 2047 §4.2: "_" stands for a blank and "=XX" for a byte.
std::string DecodeQ(std::string_view text)
{
    std::string bytes;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '_') {
            bytes += ' ';
        } else if (c == '=' && i + 2 < text.size() && HexDigitValue(text[i + 1]) >= 0 &&
                   HexDigitValue(text[i + 2]) >= 0) {
            bytes +=
                static_cast<char>(HexDigitValue(text[i + 1]) * 16 + HexDigitValue(text[i + 2]));
            i += 2;
        } else {
            bytes += c;
        }
    }
    return bytes;
}

// RFC 2047 §4.1; missing padding is accepted, as many mail programs leave it out.
std::optional<std::string> DecodeB(std::string_view text)
{
    std::string bytes;
    std::uint32_t bits = 0;
    int count = 0;
    std::size_t i = 0;
    for (; i < text.size() && text[i] != '='; ++i) {
        const char c = text[i];
        int value = -1;
        if (c >= 'A' && c <= 'Z')
            value = c - 'A';
        else if (c >= 'a' && c <= 'z')
            value = c - 'a' + 26;
        else if (c >= '0' && c <= '9')
            value = c - '0' + 52;
        else if (c == '+')
            value = 62;
        else if (c == '/')
            value = 63;
        else
            return std::nullopt;
        bits = (bits << 6) | static_cast<std::uint32_t>(value);
        count += 6;
        if (count >= 8) {
            count -= 8;
            bytes += static_cast<char>((bits >> count) & 0xFF);
        }
    }
    for (; i < text.size(); ++i) {
        if (text[i] != '=')
            return std::nullopt;
    }
    return bytes;
}

// An encoded word starting at start ("=?"), or nullopt when the text there is not one.
std::optional<TEncodedWord> ReadEncodedWord(std::string_view text, std::size_t start)
{
    std::size_t i = start + 2;
    const std::size_t charsetStart = i;
    while (i < text.size() && IsCharsetChar(text[i]) && i - charsetStart < 64)
        ++i;
    if (i == charsetStart || i + 2 >= text.size() || text[i] != '?' || text[i + 2] != '?')
        return std::nullopt;
    const std::string_view charset = text.substr(charsetStart, i - charsetStart);
    const char encoding = text[i + 1];
    i += 3;
    const std::size_t payloadStart = i;
    while (i < text.size() && text[i] > ' ' && text[i] < 0x7F && text[i] != '?')
        ++i;
    if (i + 1 >= text.size() || text[i] != '?' || text[i + 1] != '=')
        return std::nullopt;
    const std::string_view payload = text.substr(payloadStart, i - payloadStart);

    TEncodedWord word;
    word.End = i + 2;
    word.Charset = NormalCharset(charset);
    if (encoding == 'Q' || encoding == 'q') {
        word.Bytes = DecodeQ(payload);
    } else if (encoding == 'B' || encoding == 'b') {
        std::optional<std::string> bytes = DecodeB(payload);
        if (!bytes)
            return std::nullopt;
        word.Bytes = std::move(*bytes);
    } else {
        return std::nullopt;
    }
    return word;
}

// The converter for a charset that is to be converted rather than read as raw bytes.
std::optional<iconv_t> ConverterFor(const std::string& charset)
{
    thread_local TConverterCache converters;
    // Text declared as UTF-8 or ASCII is often Latin text in truth, and an unknown charset
    // leaves nothing better than a guess: both are read as raw bytes.
    if (charset.empty() || charset == "UTF-8" || charset == "US-ASCII" || charset == "ASCII")
        return std::nullopt;
    return converters.Get(charset);
}

void AppendInCharset(std::string& out, const std::string& charset, std::string_view bytes)
{
    if (const std::optional<iconv_t> descriptor = ConverterFor(charset)) {
        AppendConverted(out, *descriptor, bytes);
        return;
    }
    AppendRaw(out, bytes);
}

// The length of the text without a UTF-8 sequence that its end cuts short.
std::size_t WithoutCutSequence(std::string_view text)
{
    std::size_t lead = text.size();
    for (std::size_t back = 1; back <= 3 && back <= text.size(); ++back) {
        const auto byte = static_cast<unsigned char>(text[text.size() - back]);
        if ((byte & 0xC0) != 0x80) {
            lead = text.size() - back;
            break;
        }
    }
    if (lead == text.size())
        return text.size();
    const auto byte = static_cast<unsigned char>(text[lead]);
    const std::size_t length = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC0 ? 2 : 1;
    return text.size() - lead < length ? lead : text.size();
}

bool IsFoldingBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

void ReplaceControls(std::string& text)
{
    std::string result;
    result.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\t' || c == '\r' || c == '\n')
            result += ' ';
        else if (byte < 0x20 || byte == 0x7F)
            result += ReplacementChar;
        else
            result += c;
    }
    text = std::move(result);
}

} // namespace

std::string DecodeHeaderText(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    std::size_t plainStart = 0;
    // The encoded words read but not yet converted: adjacent words of one charset are converted
    // together, since mail programs split multi-byte characters across words.
    std::string pendingCharset;
    std::string pendingBytes;
    bool pending = false;
    const auto flushPending = [&] {
        if (pending)
            AppendInCharset(out, pendingCharset, pendingBytes);
        pending = false;
        pendingBytes.clear();
    };

    std::size_t i = 0;
    while (i < text.size()) {
        const std::size_t at = text.find("=?", i);
        if (at == std::string_view::npos)
            break;
        std::optional<TEncodedWord> word = ReadEncodedWord(text, at);
        if (!word) {
            i = at + 1;
            continue;
        }
        const std::string_view between = text.substr(plainStart, at - plainStart);
        const bool onlyBlanks =
            pending && std::all_of(between.begin(), between.end(), IsFoldingBlank);
        // RFC 2047 §6.2: blanks between two adjacent encoded words are not shown.
        if (!onlyBlanks) {
            flushPending();
            AppendRaw(out, between);
        }
        if (pending && word->Charset != pendingCharset)
            flushPending();
        pendingCharset = word->Charset;
        pendingBytes += word->Bytes;
        pending = true;
        plainStart = word->End;
        i = word->End;
    }
    flushPending();
    AppendRaw(out, text.substr(plainStart));
    ReplaceControls(out);
    return out;
}

std::string PrintableText(std::string_view text)
{
    std::string raw;
    AppendRaw(raw, text);
    std::string out;
    out.reserve(raw.size());
    for (std::size_t i = 0; i < raw.size(); ++i) {
        const auto byte = static_cast<unsigned char>(raw[i]);
        const bool c1 = byte == 0xC2 && i + 1 < raw.size() &&
                        static_cast<unsigned char>(raw[i + 1]) >= 0x80 &&
                        static_cast<unsigned char>(raw[i + 1]) <= 0x9F;
        if (raw[i] == '\r' || raw[i] == '\n') {
            if (raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n')
                ++i;
            out += ' ';
        } else if (c1) {
            out += ReplacementChar;
            ++i;
        } else if ((byte < 0x20 && raw[i] != '\t') || byte == 0x7F) {
            out += ReplacementChar;
        } else {
            out += raw[i];
        }
    }
    return out;
}

std::string DecodeBodyText(std::string_view bytes, std::string_view charset)
{
    std::string out;
    out.reserve(bytes.size());
    if (const std::optional<iconv_t> descriptor = ConverterFor(NormalCharset(charset))) {
        AppendConverted(out, *descriptor, bytes, true);
        return out;
    }
    // Line by line, so that one line in another charset does not turn every other line
    // into Windows-1252.
    bytes = bytes.substr(0, WithoutCutSequence(bytes));
    std::size_t start = 0;
    while (start < bytes.size()) {
        const std::size_t end = bytes.find('\n', start);
        const std::size_t next = end == std::string_view::npos ? bytes.size() : end + 1;
        AppendRaw(out, bytes.substr(start, next - start));
        start = next;
    }
    return out;
}
