#include "net/ConnectionDetector.h"

#include "tests/support/FakeConnectionProbes.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace {

using TCalls = std::vector<std::string>;

// The machine as the probes describe it.
struct TMachine
{
    bool DialUpAvailable = false;
    bool DialUpConnected = false;
    bool QueryAvailable = false;
    std::uint32_t Flags = 0;
    bool NetworkPresent = false;
    int Addresses = 0;
};

struct TRow
{
    const char* Name;
    std::int32_t ConnectionType;
    TMachine Machine;
    bool Online;
    TCalls Calls; // the probes asked, in order
};

void PrintTo(const TRow& row, std::ostream* out)
{
    *out << row.Name;
}

constexpr std::uint32_t Modem = ConnectedState::Modem;
constexpr std::uint32_t Lan = ConnectedState::Lan;
constexpr std::uint32_t Proxy = ConnectedState::Proxy;

const TCalls DialUpLink = {"DialUpAvailable", "DialUpConnected"};
const TCalls DialUpQuery = {"DialUpAvailable", "QueryAvailable", "ConnectedStateFlags"};
const TCalls DialUpLastResort = {"DialUpAvailable", "QueryAvailable", "NetworkPresent",
                                 "LocalAddresses"};
const TCalls DialUpNoNetwork = {"DialUpAvailable", "QueryAvailable", "NetworkPresent"};
const TCalls DirectQuery = {"QueryAvailable", "ConnectedStateFlags"};
const TCalls DirectLastResort = {"QueryAvailable", "NetworkPresent", "LocalAddresses"};
const TCalls DirectNoNetwork = {"QueryAvailable", "NetworkPresent"};

// A machine where every facility exists and says "connected", apart from what a row changes.
TMachine Everything()
{
    return {true, true, true, Modem | Lan | Proxy, true, 3};
}

TMachine With(TMachine machine, void (*change)(TMachine&))
{
    change(machine);
    return machine;
}

const TRow Rows[] = {
    // Dial-up: the link list decides alone when the facility exists.
    {"DialUpLinkConnected", 1, {true, true}, true, DialUpLink},
    {"DialUpNoLinkIgnoresLanModemAndAddresses", 1,
     With(Everything(), [](TMachine& m) { m.DialUpConnected = false; }), false, DialUpLink},
    {"DialUpModemFlag", 1, {false, false, true, Modem}, true, DialUpQuery},
    {"DialUpLanAndProxyAreNotModem",
     1,
     {false, false, true, Lan | Proxy, true, 3},
     false,
     DialUpQuery},
    {"DialUpQueryWithoutFlagsIgnoresAddresses",
     1,
     {false, false, true, 0, true, 5},
     false,
     DialUpQuery},
    {"DialUpTwoAddresses", 1, {false, false, false, 0, true, 2}, true, DialUpLastResort},
    {"DialUpOneAddressIsNotEnough", 1, {false, false, false, 0, true, 1}, false, DialUpLastResort},
    {"DialUpNoAddress", 1, {false, false, false, 0, true, 0}, false, DialUpLastResort},
    {"DialUpNoNetworkSkipsAddresses",
     1,
     {false, false, false, 0, false, 4},
     false,
     DialUpNoNetwork},
    // Bit 0 wins over every other bit.
    {"ThreeIsDialUp", 3, With(Everything(), [](TMachine& m) { m.DialUpConnected = false; }), false,
     DialUpLink},
    {"SevenIsDialUp", 7, {true, true}, true, DialUpLink},
    {"MinusOneIsDialUp", -1, {false, false, true, Modem}, true, DialUpQuery},

    // Direct: LAN or modem flag, else network and one address; the dial-up facility is never
    // asked.
    {"DirectLan", 2, {false, false, true, Lan}, true, DirectQuery},
    {"DirectModem", 2, {false, false, true, Modem}, true, DirectQuery},
    {"DirectLanAndModem", 2, {false, false, true, Lan | Modem}, true, DirectQuery},
    {"DirectProxyAloneIsOffline", 2, {false, false, true, Proxy, true, 2}, false, DirectQuery},
    {"DirectNoFlagsIgnoresAddresses", 2, {true, true, true, 0, true, 3}, false, DirectQuery},
    {"DirectOneAddress", 2, {false, false, false, 0, true, 1}, true, DirectLastResort},
    {"DirectNoAddress", 2, {true, true, false, 0, true, 0}, false, DirectLastResort},
    {"DirectNoNetworkSkipsAddresses",
     2,
     {false, false, false, 0, false, 3},
     false,
     DirectNoNetwork},
    {"TenIsDirect", 10, {false, false, true, Lan}, true, DirectQuery},

    // Exactly 6: LAN and proxy together, or the modem.
    {"ProxyLanAndProxy", 6, {false, false, true, Lan | Proxy}, true, DirectQuery},
    {"ProxyLanWithoutProxyIsOffline", 6, {true, true, true, Lan, true, 3}, false, DirectQuery},
    {"ProxyProxyWithoutLanIsOffline", 6, {false, false, true, Proxy, true, 3}, false, DirectQuery},
    {"ProxyModem", 6, {false, false, true, Modem}, true, DirectQuery},
    {"ProxyModemWithoutLan", 6, {false, false, true, Modem | Proxy}, true, DirectQuery},
    {"ProxyNoQueryOneAddress", 6, {false, false, false, 0, true, 1}, true, DirectLastResort},
    {"ProxyNoQueryNoAddress", 6, {false, false, false, 0, true, 0}, false, DirectLastResort},
    {"ProxyNoQueryNoNetwork", 6, {false, false, false, 0, false, 2}, false, DirectNoNetwork},

    // Anything else is offline without asking anything.
    {"ZeroIsNone", 0, Everything(), false, {}},
    {"FourIsNone", 4, Everything(), false, {}},
    {"EightIsNone", 8, Everything(), false, {}},
    {"FourteenIsNone", 14, Everything(), false, {}},
    {"MinusTwoIsNone", -2, Everything(), false, {}},
    {"LowestIntegerIsNone", std::numeric_limits<std::int32_t>::min(), Everything(), false, {}},
};

class TConnectionTable : public testing::TestWithParam<TRow>
{};

TEST_P(TConnectionTable, DecidesAndAsksOnlyWhatTheTypeNeeds)
{
    const TRow& row = GetParam();
    auto probes = std::make_shared<TFakeConnectionProbes>();
    probes->DialUpIsAvailable = row.Machine.DialUpAvailable;
    probes->DialUpIsConnected = row.Machine.DialUpConnected;
    probes->QueryIsAvailable = row.Machine.QueryAvailable;
    probes->Flags = row.Machine.Flags;
    probes->NetworkIsPresent = row.Machine.NetworkPresent;
    for (int i = 0; i < row.Machine.Addresses; ++i)
        probes->Addresses.push_back("192.0.2." + std::to_string(i + 1));

    TConnectionDetector detector(probes);
    TConnection connection;
    connection.ConnectionType = row.ConnectionType;

    EXPECT_EQ(detector.IsOnline(connection), row.Online);
    EXPECT_EQ(probes->Calls, row.Calls);
}

INSTANTIATE_TEST_SUITE_P(Table, TConnectionTable, testing::ValuesIn(Rows),
                         [](const testing::TestParamInfo<TRow>& param) {
                             return std::string(param.param.Name);
                         });

TEST(TConnectionDetector, FollowsTheMachineFromCallToCall)
{
    auto probes = std::make_shared<TFakeConnectionProbes>();
    probes->QueryIsAvailable = true;
    const TConnectionDetector detector(probes);
    const TConnection connection;

    EXPECT_FALSE(detector.IsOnline(connection));
    probes->Flags = Lan;
    EXPECT_TRUE(detector.IsOnline(connection));
    probes->Flags = 0;
    EXPECT_FALSE(detector.IsOnline(connection));
    EXPECT_EQ(probes->CallCount("ConnectedStateFlags"), 3);
}

TEST(TConnectionDetector, FollowsTheTypeChangedInPlace)
{
    auto probes = std::make_shared<TFakeConnectionProbes>();
    probes->QueryIsAvailable = true;
    probes->Flags = Lan;
    probes->DialUpIsAvailable = true;
    const TConnectionDetector detector(probes);
    TConnection connection;

    connection.ConnectionType = TConnection::Direct;
    EXPECT_TRUE(detector.IsOnline(connection));
    connection.ConnectionType = TConnection::DialUp;
    EXPECT_FALSE(detector.IsOnline(connection));
}

TEST(TConnectionDetector, WithoutProbesIsOffline)
{
    auto probes = std::make_shared<TFakeConnectionProbes>();
    probes->QueryIsAvailable = true;
    probes->Flags = Lan;
    TConnectionDetector detector(probes);
    const TConnection connection;
    ASSERT_TRUE(detector.IsOnline(connection));

    detector.SetProbes(nullptr);
    EXPECT_FALSE(detector.IsOnline(connection));

    detector.SetProbes(probes);
    EXPECT_TRUE(detector.IsOnline(connection));
}

TEST(TConnectionDetector, CopiesAskTheSameProbes)
{
    auto probes = std::make_shared<TFakeConnectionProbes>();
    probes->QueryIsAvailable = true;
    const TConnectionDetector original(probes);
    const TConnectionDetector copy = original;

    probes->Flags = Lan;
    EXPECT_TRUE(copy.IsOnline(TConnection()));
    EXPECT_EQ(probes->CallCount("ConnectedStateFlags"), 1);
}

TEST(TConnectionDetector, PlatformProbesAreOneSharedInstance)
{
    EXPECT_NE(PlatformConnectionProbes(), nullptr);
    EXPECT_EQ(PlatformConnectionProbes(), PlatformConnectionProbes());
}

} // namespace
