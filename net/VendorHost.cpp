#include "net/VendorHost.h"

#include <cstdlib>

std::string VendorHost()
{
    const char* overridden = std::getenv("MAILBEACON_VENDOR_HOST");
    if (overridden != nullptr && *overridden != '\0')
        return overridden;
    return MB_VENDOR_HOST;
}

std::string VendorUrl(const std::string& path)
{
    return WebAddress(VendorHost(), path);
}

std::string WebAddress(const std::string& host, const std::string& path)
{
    const bool hasScheme = host.rfind("http://", 0) == 0 || host.rfind("https://", 0) == 0;
    return (hasScheme ? host : "http://" + host) + path;
}

std::string SupportAddress()
{
    return MB_SUPPORT_ADDRESS;
}
