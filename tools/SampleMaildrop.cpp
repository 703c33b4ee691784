#include "tools/SampleMaildrop.h"

#include "pop3/StrUtils.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <system_error>

namespace fs = std::filesystem;

namespace {

constexpr std::size_t MaxUniqueIdLength = 70;

bool IsMessageFile(const fs::directory_entry& entry)
{
    std::error_code error;
    if (!entry.is_regular_file(error))
        return false;
    std::string extension = entry.path().extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension == ".eml";
}

// The file's own name when it is a valid unique-id, else a digest of it, so that a message
// keeps its id for as long as its file keeps its name.
std::string UniqueIdOf(const std::string& name)
{
    const bool printable = std::all_of(name.begin(), name.end(),
                                       [](unsigned char c) { return c >= 0x21 && c <= 0x7E; });
    if (printable && !name.empty() && name.size() <= MaxUniqueIdLength)
        return name;
    std::uint64_t hash = 14695981039346656037ull;
    for (const unsigned char c : name) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    std::string id;
    for (int shift = 60; shift >= 0; shift -= 4)
        id += HexDigit(static_cast<unsigned>(hash >> shift));
    return id;
}

std::string ReadWholeFile(const fs::path& path)
{
    std::ifstream file(path, std::ios::binary);
    if (!file)
        throw std::runtime_error("cannot read " + path.string());
    std::ostringstream bytes;
    bytes << file.rdbuf();
    if (file.bad())
        throw std::runtime_error("cannot read " + path.string());
    return bytes.str();
}

} // namespace

TSampleMaildrop::TSampleMaildrop(std::string folder)
    : FFolder(std::move(folder))
{}

bool TSampleMaildrop::TryLock(int waitMs)
{
    std::unique_lock lock(FMutex);
    if (!FReleased.wait_for(lock, std::chrono::milliseconds(waitMs), [this] { return !FLocked; }))
        return false;
    FLocked = true;
    return true;
}

void TSampleMaildrop::Unlock()
{
    {
        const std::lock_guard lock(FMutex);
        FLocked = false;
    }
    FReleased.notify_one();
}

std::vector<TSampleMessage> TSampleMaildrop::Load()
{
    std::error_code error;
    fs::directory_iterator entries(FFolder, error);
    if (error)
        throw std::runtime_error("cannot read the folder " + FFolder + ": " + error.message());
    std::vector<fs::path> files;
    for (const fs::directory_entry& entry : entries)
        if (IsMessageFile(entry))
            files.push_back(entry.path());
    std::sort(files.begin(), files.end());

    std::vector<TSampleMessage> messages;
    messages.reserve(files.size());
    for (const fs::path& file : files) {
        const std::string name = file.filename().string();
        messages.push_back({file.string(), UniqueIdOf(name), ToWireText(ReadWholeFile(file))});
    }
    return messages;
}

bool TSampleMaildrop::Remove(const TSampleMessage& message, std::string& error)
{
    std::error_code failure;
    std::filesystem::remove(message.Source, failure);
    if (failure)
        error = failure.message();
    return !failure;
}

std::string ToWireText(const std::string& bytes)
{
    std::string text;
    text.reserve(bytes.size() + bytes.size() / 32);
    std::size_t start = 0;
    while (start < bytes.size()) {
        std::size_t end = bytes.find('\n', start);
        const std::size_t next = end == std::string::npos ? bytes.size() : end + 1;
        if (end == std::string::npos)
            end = bytes.size();
        if (end > start && bytes[end - 1] == '\r')
            --end;
        text.append(bytes, start, end - start);
        text += "\r\n";
        start = next;
    }
    return text;
}

std::string ByteStuff(const std::string& wireText)
{
    std::string stuffed;
    stuffed.reserve(wireText.size() + 16);
    bool lineStart = true;
    for (const char c : wireText) {
        if (lineStart && c == '.')
            stuffed += '.';
        stuffed += c;
        lineStart = c == '\n';
    }
    return stuffed;
}

std::string TopOfMessage(const std::string& wireText, std::size_t lineCount)
{
    std::size_t position = 0;
    // The header ends with the first empty line; a message may also start with one.
    if (wireText.compare(0, 2, "\r\n") == 0) {
        position = 2;
    } else {
        const std::size_t blank = wireText.find("\r\n\r\n");
        if (blank == std::string::npos)
            return wireText;
        position = blank + 4;
    }
    for (std::size_t line = 0; line < lineCount && position < wireText.size(); ++line) {
        const std::size_t end = wireText.find("\r\n", position);
        position = end == std::string::npos ? wireText.size() : end + 2;
    }
    return wireText.substr(0, position);
}
