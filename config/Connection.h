#pragma once

#include <cstdint>
#include <string>

// The connection options: how the computer reaches the Internet, which decides how
// TConnectionDetector (net/) answers IsOnline, and the proxy of the version check's web request.
struct TConnection
{
    static constexpr std::int32_t DialUp = 1;
    static constexpr std::int32_t Direct = 2;
    static constexpr std::int32_t DirectThroughProxy = 6;

    bool UseProxy = false;
    std::string Proxy;
    std::int32_t ProxyPort = 80;
    std::int32_t ConnectionType = Direct; // bit mask: 1 dial-up, 2 direct, 6 direct through a proxy
};
