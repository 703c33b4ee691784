#pragma once

#include "net/ConnectionDetector.h"

#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <vector>

// One network interface as getifaddrs reports it, reduced to what the online decision uses.
struct TInterfaceState
{
    std::string Name;
    unsigned Flags = 0;   // IFF_* bits
    bool HasIpv4 = false; // a usable address: not loopback, not link-local
    bool HasIpv6 = false;
    std::vector<std::string> Addresses; // the usable addresses as numeric text
};

// Where the Linux probes look; tests point them at files of their own.
struct TLinuxProbeSources
{
    std::string RouteTable = "/proc/net/route";
    std::string Route6Table = "/proc/net/ipv6_route";
    // Any of these existing means the system can make point-to-point (PPP) links.
    std::vector<std::string> PppFacilities = {"/dev/ppp", "/usr/sbin/pppd", "/sbin/pppd"};
};

// The Linux answers: point-to-point links stand for dial-up, the link and route state of the
// interfaces for the connected-state query, getifaddrs for the local addresses. Nothing here
// resolves a name or waits on the network; what it remembers is fixed at construction, so one
// instance may serve every caller.
class TLinuxConnectionProbes : public IConnectionProbes
{
public:
    TLinuxConnectionProbes();
    explicit TLinuxConnectionProbes(TLinuxProbeSources sources);

    bool DialUpAvailable() override;
    bool DialUpConnected() override;
    bool QueryAvailable() override;
    std::uint32_t ConnectedStateFlags() override;
    bool NetworkPresent() override;
    std::vector<std::string> LocalAddresses() override;

private:
    TLinuxProbeSources FSources;
    // Decided once, like the facilities of the other platforms.
    bool FDialUpAvailable = false;
    bool FQueryAvailable = false;
};

// The interfaces of the calling process's network namespace; empty when getifaddrs fails.
std::vector<TInterfaceState> ReadInterfaces();

// Names of the interfaces that carry a usable default route, from the text of
// /proc/net/route or /proc/net/ipv6_route. Rejecting routes do not count; text that is not a
// routing table yields nothing.
std::set<std::string> DefaultRouteInterfaces(std::string_view routeTable);
std::set<std::string> DefaultRouteInterfaces6(std::string_view route6Table);

// The connected-state flags (ConnectedState::Modem, Lan, Proxy) of a set of interfaces.
std::uint32_t ConnectedStateFlagsOf(const std::vector<TInterfaceState>& interfaces,
                                    const std::set<std::string>& defaultRoutes,
                                    const std::set<std::string>& defaultRoutes6,
                                    bool proxyConfigured);

// An HTTP proxy is set in the environment (http_proxy, https_proxy, all_proxy, either case).
bool ProxyConfiguredInEnvironment();
