#include "net/ConnectionDetector.h"

#include <utility>

TConnectionDetector::TConnectionDetector()
    : FProbes(PlatformConnectionProbes())
{}

TConnectionDetector::TConnectionDetector(std::shared_ptr<IConnectionProbes> probes)
    : FProbes(std::move(probes))
{}

void TConnectionDetector::SetProbes(std::shared_ptr<IConnectionProbes> probes)
{
    FProbes = std::move(probes);
}

// Addresses are gathered only when the last resort is reached: the other branches never
// need them, and a call every second should not pay for them.
bool TConnectionDetector::NetworkWithAddresses(std::size_t minimum) const
{
    return FProbes->NetworkPresent() && FProbes->LocalAddresses().size() >= minimum;
}

// Each branch takes one reading of the connected-state flags, so the LAN, proxy and modem
// bits it combines describe the same moment.
bool TConnectionDetector::IsOnline(const TConnection& connection) const
{
    if (!FProbes)
        return false;

    const std::int32_t type = connection.ConnectionType;
    if ((type & TConnection::DialUp) != 0) {
        if (FProbes->DialUpAvailable())
            return FProbes->DialUpConnected();
        if (FProbes->QueryAvailable())
            return (FProbes->ConnectedStateFlags() & ConnectedState::Modem) != 0;
        // A dial-up link adds its own address to the one the machine always has.
        return NetworkWithAddresses(2);
    }

    // Bit 2 marks the proxy: together with bit 1 it is direct only as the exact value 6.
    constexpr std::int32_t proxyBit = 4;
    const bool direct = (type & TConnection::Direct) != 0 && (type & proxyBit) == 0;
    if (direct) {
        if (FProbes->QueryAvailable())
            return (FProbes->ConnectedStateFlags() &
                    (ConnectedState::Lan | ConnectedState::Modem)) != 0;
        return NetworkWithAddresses(1);
    }

    if (type == TConnection::DirectThroughProxy) {
        if (FProbes->QueryAvailable()) {
            const std::uint32_t flags = FProbes->ConnectedStateFlags();
            const bool lanThroughProxy =
                (flags & ConnectedState::Lan) != 0 && (flags & ConnectedState::Proxy) != 0;
            return lanThroughProxy || (flags & ConnectedState::Modem) != 0;
        }
        return NetworkWithAddresses(1);
    }

    return false;
}
