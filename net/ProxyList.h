#pragma once

#include <string>
#include <vector>

// The proxy a request goes through, chosen from a proxy list such as
// "http=proxy:8080 https=proxy:8443" or "proxy:3128" (an entry without a scheme serves every
// scheme; entries are separated by blanks or ";"). The result is "http://host:port", with port
// 80 when the entry names none, or empty when the list names no proxy for the scheme.
std::string SelectProxy(const std::string& proxyName, bool secure);

// Whether host is reached without the proxy: an entry matches the host name case-insensitively
// with "*" standing for any text, and "<local>" matches every name without a dot. Entries are
// separated by line breaks, blanks or ";".
bool BypassesProxy(const std::vector<std::string>& bypassList, const std::string& host);
