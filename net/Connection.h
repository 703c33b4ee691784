#pragma once

#include <cstdint>
#include <string>

// The connection settings: how the computer reaches the Internet and the proxy that the
// version check's web request goes through.
class TConnection
{
public:
    static constexpr std::int32_t DialUp = 1;
    static constexpr std::int32_t Direct = 2;

    std::int32_t ConnectionType = Direct;
    bool UseProxy = false;
    std::string Proxy;
    std::int32_t ProxyPort = 80;
};
