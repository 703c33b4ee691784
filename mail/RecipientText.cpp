#include "mail/RecipientText.h"

#include "pop3/HeaderText.h"
#include "pop3/StrUtils.h"

std::vector<std::string> SplitCommaText(std::string_view text)
{
    std::vector<std::string> entries;
    if (text.empty())
        return entries;
    std::string entry;
    std::size_t i = 0;
    for (;;) {
        if (i < text.size() && text[i] == '"') {
            // A quoted entry runs to the quote that is not doubled.
            for (++i; i < text.size(); ++i) {
                if (text[i] == '"') {
                    if (i + 1 < text.size() && text[i + 1] == '"')
                        ++i;
                    else
                        break;
                }
                entry += text[i];
            }
            if (i < text.size())
                ++i;
        }
        const std::size_t comma = text.find(',', i);
        entry +=
            text.substr(i, comma == std::string_view::npos ? std::string_view::npos : comma - i);
        entries.push_back(std::move(entry));
        entry.clear();
        if (comma == std::string_view::npos)
            return entries;
        i = comma + 1;
    }
}

std::string ReadableAddress(std::string_view item)
{
    const std::size_t open = item.rfind('<');
    const std::size_t close = open == std::string_view::npos ? open : item.find('>', open);
    if (close == std::string_view::npos)
        return DecodeHeaderText(Trim(item));
    const std::string address = DecodeHeaderText(Trim(item.substr(open + 1, close - open - 1)));
    std::string_view rawName = Trim(item.substr(0, open));
    std::string unquoted;
    if (rawName.size() >= 2 && rawName.front() == '"' && rawName.back() == '"') {
        // RFC 5322 §3.2.4: inside quotes a backslash takes the next character as it is.
        const std::string_view inner = rawName.substr(1, rawName.size() - 2);
        for (std::size_t i = 0; i < inner.size(); ++i) {
            if (inner[i] == '\\' && i + 1 < inner.size())
                ++i;
            unquoted += inner[i];
        }
        rawName = unquoted;
    }
    const std::string name(Trim(DecodeHeaderText(rawName)));
    if (name.empty())
        return address;
    if (name.find_first_of(",;") != std::string::npos)
        return "\"" + name + "\" <" + address + ">";
    return name + " <" + address + ">";
}

std::string ReadableRecipients(std::string_view commaText)
{
    std::string readable;
    for (const std::string& entry : SplitCommaText(commaText)) {
        const std::string item = ReadableAddress(entry);
        if (item.empty())
            continue;
        if (!readable.empty())
            readable += ", ";
        readable += item;
    }
    return readable;
}
