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
    return "http://" + VendorHost() + path;
}

std::string SupportAddress()
{
    return MB_SUPPORT_ADDRESS;
}
