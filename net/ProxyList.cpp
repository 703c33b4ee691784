#include "net/ProxyList.h"

#include <algorithm>
#include <cctype>
#include <string_view>

namespace {

std::vector<std::string> Entries(std::string_view text)
{
    std::vector<std::string> entries;
    std::string entry;
    for (char c : text) {
        if (c == ';' || std::isspace(static_cast<unsigned char>(c)) != 0) {
            if (!entry.empty())
                entries.push_back(std::move(entry));
            entry.clear();
        } else {
            entry += c;
        }
    }
    if (!entry.empty())
        entries.push_back(std::move(entry));
    return entries;
}

std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// "host", "host:port", "[v6]:port", optionally after "http://", as a full proxy address.
std::string ProxyAddress(std::string value)
{
    std::string scheme = "http://";
    if (auto pos = value.find("://"); pos != std::string::npos) {
        scheme = Lower(value.substr(0, pos + 3));
        value.erase(0, pos + 3);
    }
    while (!value.empty() && value.back() == '/')
        value.pop_back();
    if (value.empty())
        return {};
    const auto bracket = value.rfind(']');
    const auto colon = value.rfind(':');
    const bool hasPort =
        colon != std::string::npos &&
        (bracket == std::string::npos ? value.find(':') == colon : colon > bracket);
    return scheme + value + (hasPort ? "" : ":80");
}

bool WildcardMatch(std::string_view pattern, std::string_view text)
{
    // Iterative matching with back-tracking to the last "*": linear in practice, never recursive.
    std::size_t p = 0, t = 0, star = std::string_view::npos, resume = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            resume = t;
        } else if (p < pattern.size() && pattern[p] == text[t]) {
            ++p;
            ++t;
        } else if (star != std::string_view::npos) {
            p = star + 1;
            t = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

} // namespace

std::string SelectProxy(const std::string& proxyName, bool secure)
{
    const std::string wanted = secure ? "https" : "http";
    std::string forAll;
    for (const auto& entry : Entries(proxyName)) {
        const auto equals = entry.find('=');
        if (equals == std::string::npos) {
            if (forAll.empty())
                forAll = entry;
        } else if (Lower(entry.substr(0, equals)) == wanted) {
            if (auto address = ProxyAddress(entry.substr(equals + 1)); !address.empty())
                return address;
        }
    }
    return forAll.empty() ? std::string() : ProxyAddress(forAll);
}

bool BypassesProxy(const std::vector<std::string>& bypassList, const std::string& host)
{
    std::string name = Lower(host);
    if (name.size() > 2 && name.front() == '[' && name.back() == ']')
        name = name.substr(1, name.size() - 2);
    for (const auto& line : bypassList) {
        for (const auto& entry : Entries(line)) {
            const std::string pattern = Lower(entry);
            if (pattern == "<local>") {
                if (name.find('.') == std::string::npos && name.find(':') == std::string::npos)
                    return true;
            } else if (WildcardMatch(pattern, name)) {
                return true;
            }
        }
    }
    return false;
}
