#include "net/ConnectionProbes_linux.h"

#include <algorithm>
#include <arpa/inet.h>
#include <array>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <ifaddrs.h>
#include <iterator>
#include <net/if.h>
#include <netinet/in.h>
#include <unistd.h>
#include <utility>

namespace {

// Route flags of the kernel's tables (linux/route.h and linux/ipv6_route.h agree on both).
constexpr unsigned RouteUp = 0x0001;
constexpr unsigned RouteReject = 0x0200;

bool ReadWholeFile(const std::string& fileName, std::string& text)
{
    text.clear();
    const int fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    std::array<char, 4096> chunk;
    bool ok = true;
    for (;;) {
        const ssize_t count = ::read(fd, chunk.data(), chunk.size());
        if (count > 0) {
            text.append(chunk.data(), static_cast<std::size_t>(count));
        } else if (count == 0) {
            break;
        } else if (errno != EINTR) {
            ok = false;
            break;
        }
    }
    ::close(fd);
    return ok;
}

// Splits one line into its blank-separated fields, at most fields.size() of them.
template <std::size_t N>
std::size_t SplitFields(std::string_view line, std::array<std::string_view, N>& fields)
{
    std::size_t count = 0;
    std::size_t pos = 0;
    while (count < N) {
        pos = line.find_first_not_of(" \t", pos);
        if (pos == std::string_view::npos)
            break;
        const std::size_t end = std::min(line.find_first_of(" \t", pos), line.size());
        fields[count++] = line.substr(pos, end - pos);
        pos = end;
    }
    return count;
}

bool ParseHex(std::string_view text, unsigned long long& value)
{
    if (text.empty())
        return false;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
    return error == std::errc() && end == text.data() + text.size();
}

bool AllZeroHex(std::string_view text)
{
    return !text.empty() && text.find_first_not_of('0') == std::string_view::npos;
}

template <class TLineHandler> void ForEachLine(std::string_view text, TLineHandler handle)
{
    while (!text.empty()) {
        const std::size_t end = std::min(text.find('\n'), text.size());
        handle(text.substr(0, end));
        text.remove_prefix(std::min(end + 1, text.size()));
    }
}

bool UsableIpv4(const in_addr& address)
{
    const std::uint32_t host = ntohl(address.s_addr);
    const bool unspecified = host == 0;
    const bool loopback = (host >> 24) == 127;
    const bool linkLocal = (host >> 16) == 0xA9FE; // 169.254/16
    return !unspecified && !loopback && !linkLocal;
}

bool UsableIpv6(const in6_addr& address)
{
    return !IN6_IS_ADDR_UNSPECIFIED(&address) && !IN6_IS_ADDR_LOOPBACK(&address) &&
           !IN6_IS_ADDR_LINKLOCAL(&address);
}

bool UpAndRunning(unsigned flags)
{
    return (flags & IFF_UP) != 0 && (flags & IFF_RUNNING) != 0 && (flags & IFF_LOOPBACK) == 0;
}

bool AnyExists(const std::vector<std::string>& fileNames)
{
    return std::any_of(fileNames.begin(), fileNames.end(),
                       [](const std::string& name) { return ::access(name.c_str(), F_OK) == 0; });
}

} // namespace

std::vector<TInterfaceState> ReadInterfaces()
{
    std::vector<TInterfaceState> interfaces;
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0)
        return interfaces;
    for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_name == nullptr)
            continue;
        auto found =
            std::find_if(interfaces.begin(), interfaces.end(),
                         [&](const TInterfaceState& i) { return i.Name == entry->ifa_name; });
        if (found == interfaces.end()) {
            interfaces.push_back({entry->ifa_name, entry->ifa_flags, false, false, {}});
            found = interfaces.end() - 1;
        }
        // Interfaces without an address (a tun device's packet entry, for one) have no ifa_addr.
        if (entry->ifa_addr == nullptr || (entry->ifa_flags & IFF_LOOPBACK) != 0)
            continue;
        std::array<char, INET6_ADDRSTRLEN> text{};
        if (entry->ifa_addr->sa_family == AF_INET) {
            const auto* address = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
            if (!UsableIpv4(address->sin_addr))
                continue;
            found->HasIpv4 = true;
            if (::inet_ntop(AF_INET, &address->sin_addr, text.data(), text.size()) != nullptr)
                found->Addresses.emplace_back(text.data());
        } else if (entry->ifa_addr->sa_family == AF_INET6) {
            const auto* address = reinterpret_cast<const sockaddr_in6*>(entry->ifa_addr);
            if (!UsableIpv6(address->sin6_addr))
                continue;
            found->HasIpv6 = true;
            if (::inet_ntop(AF_INET6, &address->sin6_addr, text.data(), text.size()) != nullptr)
                found->Addresses.emplace_back(text.data());
        }
    }
    ::freeifaddrs(list);
    return interfaces;
}

// Lines: Iface Destination Gateway Flags RefCnt Use Metric Mask ..., numbers in hex. A fresh
// network namespace gives an empty file without even the header line.
std::set<std::string> DefaultRouteInterfaces(std::string_view routeTable)
{
    std::set<std::string> names;
    ForEachLine(routeTable, [&](std::string_view line) {
        std::array<std::string_view, 8> fields;
        if (SplitFields(line, fields) < fields.size())
            return;
        unsigned long long destination = 0;
        unsigned long long flags = 0;
        unsigned long long mask = 0;
        if (!ParseHex(fields[1], destination) || !ParseHex(fields[3], flags) ||
            !ParseHex(fields[7], mask))
            return;
        if (destination == 0 && mask == 0 && (flags & RouteUp) != 0 && (flags & RouteReject) == 0)
            names.emplace(fields[0]);
    });
    return names;
}

// Lines: destination, prefix length, source, source prefix length, next hop, metric,
// reference count, use count, flags, device; numbers in hex.
std::set<std::string> DefaultRouteInterfaces6(std::string_view route6Table)
{
    std::set<std::string> names;
    ForEachLine(route6Table, [&](std::string_view line) {
        std::array<std::string_view, 10> fields;
        if (SplitFields(line, fields) < fields.size())
            return;
        unsigned long long flags = 0;
        if (fields[0].size() != 32 || !AllZeroHex(fields[0]) || !AllZeroHex(fields[1]) ||
            !ParseHex(fields[8], flags))
            return;
        if ((flags & RouteUp) != 0 && (flags & RouteReject) == 0)
            names.emplace(fields[9]);
    });
    return names;
}

// A link counts when it is up and running and reaches a default route with an address of the
// route's family; point-to-point links count as the modem, all others as the LAN.
std::uint32_t ConnectedStateFlagsOf(const std::vector<TInterfaceState>& interfaces,
                                    const std::set<std::string>& defaultRoutes,
                                    const std::set<std::string>& defaultRoutes6,
                                    bool proxyConfigured)
{
    std::uint32_t flags = proxyConfigured ? ConnectedState::Proxy : 0;
    for (const TInterfaceState& link : interfaces) {
        if (!UpAndRunning(link.Flags))
            continue;
        const bool routed = (link.HasIpv4 && defaultRoutes.count(link.Name) != 0) ||
                            (link.HasIpv6 && defaultRoutes6.count(link.Name) != 0);
        if (routed)
            flags |=
                (link.Flags & IFF_POINTOPOINT) != 0 ? ConnectedState::Modem : ConnectedState::Lan;
    }
    return flags;
}

bool ProxyConfiguredInEnvironment()
{
    static const char* const names[] = {"http_proxy",  "HTTP_PROXY", "https_proxy",
                                        "HTTPS_PROXY", "all_proxy",  "ALL_PROXY"};
    return std::any_of(std::begin(names), std::end(names), [](const char* name) {
        const char* value = std::getenv(name);
        return value != nullptr && *value != '\0';
    });
}

TLinuxConnectionProbes::TLinuxConnectionProbes()
    : TLinuxConnectionProbes(TLinuxProbeSources())
{}

TLinuxConnectionProbes::TLinuxConnectionProbes(TLinuxProbeSources sources)
    : FSources(std::move(sources))
    , FDialUpAvailable(AnyExists(FSources.PppFacilities))
    , FQueryAvailable(::access(FSources.RouteTable.c_str(), R_OK) == 0)
{}

bool TLinuxConnectionProbes::DialUpAvailable()
{
    return FDialUpAvailable;
}

bool TLinuxConnectionProbes::DialUpConnected()
{
    const std::vector<TInterfaceState> interfaces = ReadInterfaces();
    return std::any_of(interfaces.begin(), interfaces.end(), [](const TInterfaceState& link) {
        return UpAndRunning(link.Flags) && (link.Flags & IFF_POINTOPOINT) != 0 &&
               (link.HasIpv4 || link.HasIpv6);
    });
}

bool TLinuxConnectionProbes::QueryAvailable()
{
    return FQueryAvailable;
}

std::uint32_t TLinuxConnectionProbes::ConnectedStateFlags()
{
    const std::vector<TInterfaceState> interfaces = ReadInterfaces();
    std::string table;
    std::set<std::string> defaultRoutes;
    if (ReadWholeFile(FSources.RouteTable, table))
        defaultRoutes = DefaultRouteInterfaces(table);
    std::set<std::string> defaultRoutes6;
    if (ReadWholeFile(FSources.Route6Table, table))
        defaultRoutes6 = DefaultRouteInterfaces6(table);
    return ConnectedStateFlagsOf(interfaces, defaultRoutes, defaultRoutes6,
                                 ProxyConfiguredInEnvironment());
}

bool TLinuxConnectionProbes::NetworkPresent()
{
    const std::vector<TInterfaceState> interfaces = ReadInterfaces();
    return std::any_of(interfaces.begin(), interfaces.end(), [](const TInterfaceState& link) {
        return (link.Flags & IFF_UP) != 0 && (link.Flags & IFF_LOOPBACK) == 0;
    });
}

std::vector<std::string> TLinuxConnectionProbes::LocalAddresses()
{
    std::vector<std::string> addresses;
    for (TInterfaceState& link : ReadInterfaces()) {
        if (UpAndRunning(link.Flags))
            std::move(link.Addresses.begin(), link.Addresses.end(), std::back_inserter(addresses));
    }
    return addresses;
}

std::shared_ptr<IConnectionProbes> PlatformConnectionProbes()
{
    static const std::shared_ptr<IConnectionProbes> probes =
        std::make_shared<TLinuxConnectionProbes>();
    return probes;
}
