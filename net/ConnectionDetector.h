#pragma once

#include "config/Connection.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// The questions about the machine's network state that the online decision is made from; one
// implementation per platform, and fakes in the tests.
class IConnectionProbes
{
public:
    virtual ~IConnectionProbes() = default;
    virtual bool DialUpAvailable() = 0; // a dial-up facility exists (Linux: point-to-point links)
    virtual bool DialUpConnected() = 0; // at least one dial-up link is in the connected state
    virtual bool QueryAvailable() = 0;  // the connected-state query exists
    virtual std::uint32_t ConnectedStateFlags() = 0; // 1 modem, 2 LAN, 4 proxy
    virtual bool NetworkPresent() = 0;               // the system reports that a network is present
    virtual std::vector<std::string> LocalAddresses() = 0; // never from a name look-up
};

// The bits of ConnectedStateFlags().
namespace ConnectedState {
constexpr std::uint32_t Modem = 1;
constexpr std::uint32_t Lan = 2;
constexpr std::uint32_t Proxy = 4;
} // namespace ConnectedState

// The question whether the computer is online now, asked of the machine's network state in
// the way the connection type of the options needs. Copies ask the same probes.
class TConnectionDetector
{
public:
    TConnectionDetector(); // this platform's probes
    explicit TConnectionDetector(std::shared_ptr<IConnectionProbes> probes);
    void SetProbes(std::shared_ptr<IConnectionProbes> probes);

    // Asks only the probes the connection type needs, in the order of the decision; cheap
    // enough to be called every second and never waits on the network. Without probes the
    // answer is offline.
    bool IsOnline(const TConnection& connection) const;

private:
    bool NetworkWithAddresses(std::size_t minimum) const;

    std::shared_ptr<IConnectionProbes> FProbes;
};

// The probes of the platform the program runs on: one instance shared by the whole process.
std::shared_ptr<IConnectionProbes> PlatformConnectionProbes();
