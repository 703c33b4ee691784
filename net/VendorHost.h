#pragma once

#include <string>

// Host, with an optional ":port", of the vendor's web server: $MAILBEACON_VENDOR_HOST when it is
// set and not empty, else the host the program was built for.
std::string VendorHost();

// The address of a page on the vendor's web server; path begins with "/".
std::string VendorUrl(const std::string& path);

// The address of path on host: "http://" + host + path, or host + path when host names its
// scheme itself ("https://www.example.com"), so a vendor host can be reached over HTTPS.
std::string WebAddress(const std::string& host, const std::string& path);

// The vendor's support e-mail address, as the program was built.
std::string SupportAddress();
