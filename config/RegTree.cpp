#include "config/RegTree.h"

#include "pop3/StrUtils.h"

#include <algorithm>
#include <iterator>
#include <utility>

namespace {

// Decodes one UTF-8 sequence at text[i]; a malformed byte is returned as itself with length 1.
char32_t DecodeAt(std::string_view text, std::size_t i, std::size_t& length)
{
    const auto lead = static_cast<unsigned char>(text[i]);
    int extra = 0;
    char32_t code = lead;
    if (lead >= 0xC2 && lead <= 0xDF) {
        extra = 1;
        code = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        extra = 2;
        code = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        extra = 3;
        code = lead & 0x07;
    }
    if (extra == 0 || i + static_cast<std::size_t>(extra) >= text.size()) {
        length = 1;
        return lead;
    }
    for (int k = 1; k <= extra; ++k) {
        const auto next = static_cast<unsigned char>(text[i + static_cast<std::size_t>(k)]);
        if ((next & 0xC0) != 0x80) {
            length = 1;
            return lead;
        }
        code = (code << 6) | (next & 0x3F);
    }
    length = static_cast<std::size_t>(extra) + 1;
    return code;
}

char32_t FoldCodePoint(char32_t c)
{
    if (c >= 'A' && c <= 'Z')
        return c + 32;
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7)
        return c + 32;
    if (c >= 0x100 && c <= 0x137)
        return c | 1;
    if (c >= 0x139 && c <= 0x148)
        return (c & 1) ? c + 1 : c;
    if (c >= 0x14A && c <= 0x177)
        return c | 1;
    if (c == 0x178)
        return 0xFF;
    if (c >= 0x179 && c <= 0x17E)
        return (c & 1) ? c + 1 : c;
    if (c >= 0x391 && c <= 0x3AB && c != 0x3A2)
        return c + 32;
    if (c >= 0x400 && c <= 0x40F)
        return c + 80;
    if (c >= 0x410 && c <= 0x42F)
        return c + 32;
    return c;
}

} // namespace

std::string FoldCase(std::string_view text)
{
    std::string folded;
    folded.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte < 0x80) {
            folded += static_cast<char>(byte >= 'A' && byte <= 'Z' ? byte + 32 : byte);
            ++i;
            continue;
        }
        std::size_t length = 1;
        const char32_t code = DecodeAt(text, i, length);
        if (length == 1)
            folded += static_cast<char>(byte);
        else
            AppendUtf8(folded, FoldCodePoint(code));
        i += length;
    }
    return folded;
}

std::vector<std::string_view> SplitKeyPath(std::string_view path)
{
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    while (start <= path.size()) {
        const std::size_t end = std::min(path.find('\\', start), path.size());
        if (end > start)
            parts.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

TRegTreeKey::TRegTreeKey(std::string name)
    : FName(std::move(name))
    , FFolded(FoldCase(FName))
{}

std::vector<std::unique_ptr<TRegTreeKey>>::const_iterator
TRegTreeKey::LowerBound(const std::string& folded) const
{
    return std::lower_bound(FSubKeys.begin(), FSubKeys.end(), folded,
                            [](const std::unique_ptr<TRegTreeKey>& key, const std::string& f) {
                                return key->FFolded < f;
                            });
}

TRegTreeKey* TRegTreeKey::FindSubKey(std::string_view name) const
{
    const std::string folded = FoldCase(name);
    const auto it = LowerBound(folded);
    return it != FSubKeys.end() && (*it)->FFolded == folded ? it->get() : nullptr;
}

TRegTreeKey& TRegTreeKey::CreateSubKey(const std::string& name)
{
    if (TRegTreeKey* existing = FindSubKey(name))
        return *existing;
    const auto it = LowerBound(FoldCase(name));
    return **FSubKeys.insert(it, std::make_unique<TRegTreeKey>(name));
}

bool TRegTreeKey::RemoveSubKey(std::string_view name)
{
    const std::string folded = FoldCase(name);
    const auto it = LowerBound(folded);
    if (it == FSubKeys.end() || (*it)->FFolded != folded)
        return false;
    FSubKeys.erase(it);
    return true;
}

const TRegValue* TRegTreeKey::FindValue(std::string_view name) const
{
    const std::string folded = FoldCase(name);
    for (const TRegValue& value : FValues) {
        if (FoldCase(value.Name) == folded)
            return &value;
    }
    return nullptr;
}

void TRegTreeKey::SetValue(TRegValue value)
{
    if (const TRegValue* existing = FindValue(value.Name)) {
        // The stored name keeps the case it was first written with.
        auto& slot = FValues[static_cast<std::size_t>(existing - FValues.data())];
        value.Name = slot.Name;
        value.Comments.insert(value.Comments.begin(), slot.Comments.begin(), slot.Comments.end());
        slot = std::move(value);
        return;
    }
    FValues.push_back(std::move(value));
}

void TRegTreeKey::AddComments(std::vector<std::string> lines)
{
    FComments.insert(FComments.end(), std::make_move_iterator(lines.begin()),
                     std::make_move_iterator(lines.end()));
}

void TRegTreeKey::SetTrailingComments(std::vector<std::string> lines)
{
    FTrailingComments = std::move(lines);
}

TRegTreeKey* TRegTreeKey::Find(std::string_view path)
{
    TRegTreeKey* key = this;
    for (const std::string_view part : SplitKeyPath(path)) {
        key = key->FindSubKey(part);
        if (key == nullptr)
            return nullptr;
    }
    return key;
}

TRegTreeKey& TRegTreeKey::Create(std::string_view path)
{
    TRegTreeKey* key = this;
    for (const std::string_view part : SplitKeyPath(path))
        key = &key->CreateSubKey(std::string(part));
    return *key;
}

bool TRegTreeKey::Remove(std::string_view path)
{
    std::vector<std::string_view> parts = SplitKeyPath(path);
    if (parts.empty())
        return false;
    const std::string_view last = parts.back();
    parts.pop_back();
    TRegTreeKey* parent = this;
    for (const std::string_view part : parts) {
        parent = parent->FindSubKey(part);
        if (parent == nullptr)
            return false;
    }
    return parent->RemoveSubKey(last);
}
