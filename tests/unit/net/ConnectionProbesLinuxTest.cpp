#include "net/ConnectionProbes_linux.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <linux/if_tun.h>
#include <map>
#include <net/if.h>
#include <optional>
#include <sched.h>
#include <sstream>
#include <string>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using TNames = std::set<std::string>;

// Route tables as this kernel writes them, header and padding included.
const char* const HostRouteTable =
    "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT  \n"
    "eth0\t00000000\t010200C0\t0003\t0\t0\t0\t00000000\t0\t0\t0    \n"
    "eth0\t000200C0\t00000000\t0001\t0\t0\t0\t00FFFFFF\t0\t0\t0    \n";

const char* const HostRoute6Table =
    "fd000000000000000000000000000000 40 00000000000000000000000000000000 00 "
    "00000000000000000000000000000000 00000100 00000001 00000000 00000001     eth0\n"
    "00000000000000000000000000000000 00 00000000000000000000000000000000 00 "
    "fd000000000000000000000000000001 00000400 00000002 00000000 00000003     eth0\n"
    "00000000000000000000000000000001 80 00000000000000000000000000000000 00 "
    "00000000000000000000000000000000 00000000 00000002 00000000 80200001       lo\n"
    // The kernel's own "unreachable" default route is a rejecting one.
    "00000000000000000000000000000000 00 00000000000000000000000000000000 00 "
    "00000000000000000000000000000000 ffffffff 00000001 00000000 00200200       lo\n";

TEST(LinuxRouteTable, FindsTheDefaultRoutesOfTheHostsTables)
{
    EXPECT_EQ(DefaultRouteInterfaces(HostRouteTable), TNames{"eth0"});
    EXPECT_EQ(DefaultRouteInterfaces6(HostRoute6Table), TNames{"eth0"});
}

TEST(LinuxRouteTable, EmptyOrForeignTextHasNoDefaultRoute)
{
    // A fresh network namespace has empty tables, without a header line.
    EXPECT_TRUE(DefaultRouteInterfaces("").empty());
    EXPECT_TRUE(DefaultRouteInterfaces6("").empty());
    EXPECT_TRUE(DefaultRouteInterfaces("Iface\tDestination\tGateway\n").empty());
    EXPECT_TRUE(DefaultRouteInterfaces("eth0 0 0 3").empty());
    EXPECT_TRUE(DefaultRouteInterfaces("eth0 zz 0 3 0 0 0 0 0 0 0\n").empty());
    EXPECT_TRUE(DefaultRouteInterfaces6("0 00 0 00 0 0 0 0 1 eth0\n").empty());
    EXPECT_TRUE(DefaultRouteInterfaces6("garbage\n\n\n").empty());
}

TEST(LinuxRouteTable, OnlyUpNonRejectingRoutesToEverywhereCount)
{
    const std::string table = "wlan0\t00000000\t0101A8C0\t0003\t0\t0\t600\t00000000\t0\t0\t0\n"
                              // network routes, not default ones
                              "eth1\t0000000A\t00000000\t0001\t0\t0\t0\t000000FF\t0\t0\t0\n"
                              "eth2\t00000000\t00000000\t0001\t0\t0\t0\t00000080\t0\t0\t0\n"
                              // a default route that is not up, and one that rejects
                              "eth3\t00000000\t0101A8C0\t0002\t0\t0\t0\t00000000\t0\t0\t0\n"
                              "eth4\t00000000\t00000000\t0201\t0\t0\t0\t00000000\t0\t0\t0\n"
                              // a link without a gateway, as PPP has it; no final new line
                              "ppp0\t00000000\t00000000\t0001\t0\t0\t0\t00000000\t0\t0\t0";
    EXPECT_EQ(DefaultRouteInterfaces(table), (TNames{"wlan0", "ppp0"}));

    const std::string zero(32, '0');
    const std::string table6 = zero + " 00 " + zero + " 00 " + zero + " 0 0 0 00000001 tun0\n" +
                               zero + " 40 " + zero + " 00 " + zero + " 0 0 0 00000001 eth1\n" +
                               zero + " 00 " + zero + " 00 " + zero + " 0 0 0 00000000 eth2\n" +
                               zero + " 00 " + zero + " 00 " + zero + " 0 0 0 00000201 eth3\n";
    EXPECT_EQ(DefaultRouteInterfaces6(table6), TNames{"tun0"});
}

TInterfaceState Link(const std::string& name, unsigned flags, bool ipv4, bool ipv6 = false)
{
    return {name, flags, ipv4, ipv6, {}};
}

constexpr unsigned Running = IFF_UP | IFF_RUNNING;

TEST(LinuxConnectedState, LanNeedsARunningLinkWithAnAddressOfTheRoutesFamily)
{
    const TNames eth0{"eth0"};
    EXPECT_EQ(ConnectedStateFlagsOf({Link("eth0", Running, true)}, eth0, {}, false),
              ConnectedState::Lan);
    EXPECT_EQ(ConnectedStateFlagsOf({Link("eth0", Running, false, true)}, {}, eth0, false),
              ConnectedState::Lan);
    // Up without a carrier, down, or routed only for a family it has no address of.
    EXPECT_EQ(ConnectedStateFlagsOf({Link("eth0", IFF_UP, true)}, eth0, {}, false), 0u);
    EXPECT_EQ(ConnectedStateFlagsOf({Link("eth0", IFF_RUNNING, true)}, eth0, {}, false), 0u);
    EXPECT_EQ(ConnectedStateFlagsOf({Link("eth0", Running, false, true)}, eth0, {}, false), 0u);
    EXPECT_EQ(ConnectedStateFlagsOf({Link("eth0", Running, true)}, {}, eth0, false), 0u);
    // The default route belongs to another link.
    EXPECT_EQ(ConnectedStateFlagsOf({Link("eth0", Running, true), Link("eth1", IFF_UP, true)},
                                    TNames{"eth1"}, {}, false),
              0u);
    EXPECT_EQ(ConnectedStateFlagsOf({Link("lo", Running | IFF_LOOPBACK, true)}, TNames{"lo"},
                                    TNames{"lo"}, false),
              0u);
}

TEST(LinuxConnectedState, PointToPointLinksAreTheModemAndTheEnvironmentTheProxy)
{
    const std::vector<TInterfaceState> links = {Link("eth0", Running, true),
                                                Link("ppp0", Running | IFF_POINTOPOINT, true)};
    EXPECT_EQ(ConnectedStateFlagsOf(links, TNames{"ppp0"}, {}, false), ConnectedState::Modem);
    EXPECT_EQ(ConnectedStateFlagsOf(links, TNames{"eth0", "ppp0"}, {}, false),
              ConnectedState::Modem | ConnectedState::Lan);
    EXPECT_EQ(ConnectedStateFlagsOf(links, {}, {}, true), ConnectedState::Proxy);
    EXPECT_EQ(ConnectedStateFlagsOf({}, {}, {}, false), 0u);
}

// Sets environment variables for one test and puts the old values back afterwards.
class TEnvironment
{
public:
    void Set(const char* name, const char* value)
    {
        Remember(name);
        ::setenv(name, value, 1);
    }
    void Unset(const char* name)
    {
        Remember(name);
        ::unsetenv(name);
    }
    ~TEnvironment()
    {
        for (const auto& [name, value] : FSaved) {
            if (value)
                ::setenv(name.c_str(), value->c_str(), 1);
            else
                ::unsetenv(name.c_str());
        }
    }

private:
    void Remember(const char* name)
    {
        if (FSaved.count(name) != 0)
            return;
        const char* value = std::getenv(name);
        FSaved[name] = value != nullptr ? std::optional<std::string>(value) : std::nullopt;
    }
    std::map<std::string, std::optional<std::string>> FSaved;
};

const char* const ProxyVariables[] = {"http_proxy",  "HTTP_PROXY", "https_proxy",
                                      "HTTPS_PROXY", "all_proxy",  "ALL_PROXY"};

TEST(LinuxConnectedState, AnyNonEmptyProxyVariableIsAProxy)
{
    TEnvironment environment;
    for (const char* name : ProxyVariables)
        environment.Unset(name);
    EXPECT_FALSE(ProxyConfiguredInEnvironment());
    environment.Set("http_proxy", "");
    EXPECT_FALSE(ProxyConfiguredInEnvironment());
    for (const char* name : ProxyVariables) {
        environment.Set(name, "http://proxy.example:3128");
        EXPECT_TRUE(ProxyConfiguredInEnvironment()) << name;
        environment.Unset(name);
    }
}

TEST(LinuxProbes, FacilitiesAreDecidedByWhatTheSystemHas)
{
    TTempDir folder;
    WriteFile(folder.File("pppd"), "");
    WriteFile(folder.File("route"), "");

    TLinuxProbeSources present;
    present.PppFacilities = {folder.File("missing"), folder.File("pppd")};
    present.RouteTable = folder.File("route");
    TLinuxConnectionProbes withBoth(present);
    EXPECT_TRUE(withBoth.DialUpAvailable());
    EXPECT_TRUE(withBoth.QueryAvailable());

    TLinuxProbeSources absent;
    absent.PppFacilities = {folder.File("missing")};
    absent.RouteTable = folder.File("no-route");
    TLinuxConnectionProbes withNeither(absent);
    EXPECT_FALSE(withNeither.DialUpAvailable());
    EXPECT_FALSE(withNeither.QueryAvailable());
}

TEST(LinuxProbes, TablesWithoutDefaultRoutesGiveNoLinkFlags)
{
    TTempDir folder;
    WriteFile(folder.File("route"), "");
    TLinuxProbeSources sources;
    sources.RouteTable = folder.File("route");
    sources.Route6Table = folder.File("missing");
    TEnvironment environment;
    for (const char* name : ProxyVariables)
        environment.Unset(name);
    TLinuxConnectionProbes probes(sources);

    EXPECT_EQ(probes.ConnectedStateFlags(), 0u);
    environment.Set("all_proxy", "socks5://127.0.0.1:1080");
    EXPECT_EQ(probes.ConnectedStateFlags(), ConnectedState::Proxy);
}

// What the probes said inside a network namespace, and what IsOnline made of it.
struct TReport
{
    bool NetworkPresent = false;
    bool DialUpConnected = false;
    std::uint32_t Flags = 0;
    std::vector<std::string> Addresses; // sorted
    bool DialUpOnline = false;
    bool DirectOnline = false;
    bool ProxyOnline = false; // connection type 6
};

struct TScenario
{
    std::vector<std::string> Commands;                            // ip commands, run in order
    std::vector<std::pair<const char*, const char*>> Environment; // set in the namespace only
    bool AttachTun = false; // keep tun0 open, so it runs like a live PPP link
    bool PppFacility = false;
};

std::string Serialize(const TReport& report)
{
    std::ostringstream out;
    out << "ok " << report.NetworkPresent << ' ' << report.DialUpConnected << ' ' << report.Flags
        << ' ' << report.DialUpOnline << ' ' << report.DirectOnline << ' ' << report.ProxyOnline;
    for (const std::string& address : report.Addresses)
        out << ' ' << address;
    return out.str();
}

TReport Deserialize(const std::string& text)
{
    std::istringstream in(text);
    std::string word;
    TReport report;
    in >> word >> report.NetworkPresent >> report.DialUpConnected >> report.Flags >>
        report.DialUpOnline >> report.DirectOnline >> report.ProxyOnline;
    while (in >> word)
        report.Addresses.push_back(word);
    return report;
}

bool OpenTun(const char* name)
{
    const int fd = ::open("/dev/net/tun", O_RDWR | O_CLOEXEC);
    if (fd < 0)
        return false;
    ifreq request{};
    std::strncpy(request.ifr_name, name, IFNAMSIZ - 1);
    request.ifr_flags = IFF_TUN | IFF_NO_PI;
    // The descriptor stays open for the rest of the namespace's (the child's) life.
    return ::ioctl(fd, TUNSETIFF, &request) == 0;
}

// The child's half: make the namespace, build the network, ask the probes. Returns the line
// that goes back to the test.
std::string ProbeInNewNamespace(const TScenario& scenario, const std::string& pppFacility)
{
    if (::unshare(CLONE_NEWNET) != 0)
        return std::string("skip cannot create a network namespace: ") + std::strerror(errno);
    if (std::system("command -v ip >/dev/null 2>&1") != 0)
        return "skip the ip tool (iproute2) is missing";
    if (scenario.AttachTun && !OpenTun("tun0"))
        return std::string("skip cannot create a tun device: ") + std::strerror(errno);
    for (const char* name : ProxyVariables)
        ::unsetenv(name);
    for (const auto& [name, value] : scenario.Environment)
        ::setenv(name, value, 1);
    for (const std::string& command : scenario.Commands) {
        if (std::system((command + " >/dev/null 2>&1").c_str()) != 0)
            return "fail setup command failed: " + command;
    }

    TLinuxProbeSources sources;
    sources.PppFacilities = {pppFacility};
    auto probes = std::make_shared<TLinuxConnectionProbes>(sources);
    TReport report;
    report.NetworkPresent = probes->NetworkPresent();
    report.DialUpConnected = probes->DialUpConnected();
    report.Flags = probes->ConnectedStateFlags();
    report.Addresses = probes->LocalAddresses();
    std::sort(report.Addresses.begin(), report.Addresses.end());
    const TConnectionDetector detector(probes);
    TConnection connection;
    connection.ConnectionType = TConnection::DialUp;
    report.DialUpOnline = detector.IsOnline(connection);
    connection.ConnectionType = TConnection::Direct;
    report.DirectOnline = detector.IsOnline(connection);
    connection.ConnectionType = TConnection::DirectThroughProxy;
    report.ProxyOnline = detector.IsOnline(connection);
    return Serialize(report);
}

// Runs the scenario in a child process inside a network namespace of its own, so the host's
// network is neither seen nor touched. Skips the test where namespaces cannot be made.
#define RUN_IN_NAMESPACE(report, scenario)                                                         \
    TReport report;                                                                                \
    {                                                                                              \
        const std::string line = RunInNamespace(scenario);                                         \
        if (line.rfind("skip ", 0) == 0)                                                           \
            GTEST_SKIP() << line.substr(5);                                                        \
        ASSERT_EQ(line.rfind("ok ", 0), 0u) << line;                                               \
        report = Deserialize(line);                                                                \
    }

std::string RunInNamespace(const TScenario& scenario)
{
    TTempDir folder;
    const std::string pppFacility = folder.File(scenario.PppFacility ? "pppd" : "no-pppd");
    if (scenario.PppFacility)
        WriteFile(pppFacility, "");

    int channel[2];
    if (::pipe2(channel, O_CLOEXEC) != 0)
        return "fail pipe";
    const pid_t child = ::fork();
    if (child < 0)
        return "fail fork";
    if (child == 0) {
        ::close(channel[0]);
        const std::string line = ProbeInNewNamespace(scenario, pppFacility);
        const ssize_t written = ::write(channel[1], line.data(), line.size());
        ::_exit(written == static_cast<ssize_t>(line.size()) ? 0 : 1);
    }
    ::close(channel[1]);
    std::string line;
    char buffer[512];
    ssize_t count = 0;
    while ((count = ::read(channel[0], buffer, sizeof buffer)) != 0) {
        if (count > 0)
            line.append(buffer, static_cast<std::size_t>(count));
        else if (errno != EINTR)
            break;
    }
    ::close(channel[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return "fail the probing process ended abnormally: " + line;
    return line;
}

const std::vector<std::string> VethPair = {
    "ip link add v0 type veth peer name v1",
    "ip addr add 10.0.0.1/24 dev v0",
    "ip addr add 10.0.0.2/24 dev v1",
    "ip link set v0 up",
    "ip link set v1 up",
};

std::vector<std::string> Plus(std::vector<std::string> commands,
                              const std::vector<std::string>& more)
{
    commands.insert(commands.end(), more.begin(), more.end());
    return commands;
}

TEST(LinuxProbesInNamespace, OnlyLoopbackIsOffline)
{
    for (const bool loopbackUp : {false, true}) {
        TScenario scenario;
        if (loopbackUp)
            scenario.Commands = {"ip link set lo up"};
        scenario.PppFacility = true;
        RUN_IN_NAMESPACE(report, scenario);
        SCOPED_TRACE(loopbackUp ? "lo up" : "lo down");
        EXPECT_FALSE(report.NetworkPresent);
        EXPECT_FALSE(report.DialUpConnected);
        EXPECT_EQ(report.Flags, 0u);
        EXPECT_TRUE(report.Addresses.empty());
        EXPECT_FALSE(report.DialUpOnline);
        EXPECT_FALSE(report.DirectOnline);
        EXPECT_FALSE(report.ProxyOnline);
    }
}

TEST(LinuxProbesInNamespace, LinksWithoutADefaultRouteAreNotOnline)
{
    TScenario scenario;
    scenario.Commands = Plus({"ip link set lo up"}, VethPair);
    // Link-local addresses, which every link gets, are no sign of a network, and neither is
    // loopback.
    scenario.Commands.push_back("ip -6 addr add fe80::1/64 dev v0 nodad");
    scenario.Commands.push_back("ip addr add 169.254.7.7/16 dev v0");
    scenario.Commands.push_back("ip addr add 127.0.0.9/8 dev v1");
    RUN_IN_NAMESPACE(report, scenario);
    EXPECT_TRUE(report.NetworkPresent);
    EXPECT_EQ(report.Flags, 0u);
    EXPECT_EQ(report.Addresses, (std::vector<std::string>{"10.0.0.1", "10.0.0.2"}));
    EXPECT_FALSE(report.DirectOnline);
    EXPECT_FALSE(report.ProxyOnline);
    EXPECT_FALSE(report.DialUpOnline);
}

TEST(LinuxProbesInNamespace, DefaultRouteOverARunningLinkIsTheLan)
{
    TScenario scenario;
    scenario.Commands = Plus(VethPair, {"ip route add default via 10.0.0.2 dev v0"});
    RUN_IN_NAMESPACE(report, scenario);
    EXPECT_EQ(report.Flags, ConnectedState::Lan);
    EXPECT_TRUE(report.DirectOnline);
    EXPECT_FALSE(report.ProxyOnline) << "no proxy is configured";
    // Without PPP the dial-up decision asks for the modem, which a LAN is not.
    EXPECT_FALSE(report.DialUpOnline);
}

TEST(LinuxProbesInNamespace, IPv6DefaultRouteAloneIsTheLan)
{
    TScenario scenario;
    scenario.Commands = {"ip link add v0 type veth peer name v1", "ip link set v0 up",
                         "ip link set v1 up", "ip -6 addr add fd00::1/64 dev v0 nodad",
                         "ip -6 route add default via fd00::2 dev v0"};
    RUN_IN_NAMESPACE(report, scenario);
    EXPECT_EQ(report.Flags, ConnectedState::Lan);
    EXPECT_EQ(report.Addresses, std::vector<std::string>{"fd00::1"});
    EXPECT_TRUE(report.DirectOnline);
}

TEST(LinuxProbesInNamespace, LanThroughAProxyNeedsTheProxySetting)
{
    TScenario scenario;
    scenario.Commands = Plus(VethPair, {"ip route add default via 10.0.0.2 dev v0"});
    scenario.Environment = {{"HTTPS_PROXY", "http://10.0.0.2:3128"}};
    RUN_IN_NAMESPACE(report, scenario);
    EXPECT_EQ(report.Flags, ConnectedState::Lan | ConnectedState::Proxy);
    EXPECT_TRUE(report.ProxyOnline);
    EXPECT_TRUE(report.DirectOnline);
}

TEST(LinuxProbesInNamespace, LinkWithoutCarrierIsNotTheLan)
{
    // With its peer never brought up, v0 is up but has no carrier from the start; taking a
    // running peer down instead would race with the kernel's delayed carrier update.
    TScenario scenario;
    scenario.Commands = {"ip link add v0 type veth peer name v1", "ip addr add 10.0.0.1/24 dev v0",
                         "ip link set v0 up", "ip route add default via 10.0.0.2 dev v0"};
    RUN_IN_NAMESPACE(report, scenario);
    EXPECT_TRUE(report.NetworkPresent);
    EXPECT_EQ(report.Flags, 0u);
    EXPECT_TRUE(report.Addresses.empty());
    EXPECT_FALSE(report.DirectOnline);
}

const std::vector<std::string> TunLink = {"ip link set tun0 up",
                                          "ip addr add 10.9.0.1 peer 10.9.0.2 dev tun0"};

TEST(LinuxProbesInNamespace, RunningPointToPointLinkIsADialUpConnection)
{
    TScenario scenario;
    scenario.AttachTun = true;
    scenario.PppFacility = true;
    scenario.Commands = TunLink;
    RUN_IN_NAMESPACE(report, scenario);
    EXPECT_TRUE(report.DialUpConnected);
    EXPECT_TRUE(report.DialUpOnline);
    EXPECT_EQ(report.Flags, 0u) << "no default route goes over the link";
    EXPECT_FALSE(report.DirectOnline);
    EXPECT_EQ(report.Addresses, std::vector<std::string>{"10.9.0.1"});
}

TEST(LinuxProbesInNamespace, DefaultRouteOverAPointToPointLinkIsTheModem)
{
    TScenario scenario;
    scenario.AttachTun = true;
    scenario.Commands = Plus(TunLink, {"ip route add default dev tun0"});
    RUN_IN_NAMESPACE(report, scenario);
    EXPECT_EQ(report.Flags, ConnectedState::Modem);
    // Without PPP, dial-up falls back to the modem flag; direct takes the modem too.
    EXPECT_TRUE(report.DialUpOnline);
    EXPECT_TRUE(report.DirectOnline);
    EXPECT_TRUE(report.ProxyOnline);
}

TEST(LinuxProbesInNamespace, DialUpWithPppButNoLiveLinkIsOfflineOverALan)
{
    // tun0 exists but no program holds it: up, not running.
    TScenario scenario;
    scenario.PppFacility = true;
    scenario.Commands = Plus(Plus(VethPair, {"ip route add default via 10.0.0.2 dev v0",
                                             "ip tuntap add dev tun0 mode tun"}),
                             TunLink);
    RUN_IN_NAMESPACE(report, scenario);
    EXPECT_FALSE(report.DialUpConnected);
    EXPECT_EQ(report.Flags, ConnectedState::Lan);
    EXPECT_FALSE(report.DialUpOnline);
    EXPECT_TRUE(report.DirectOnline);
}

} // namespace
