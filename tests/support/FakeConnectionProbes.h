#pragma once

#include "net/ConnectionDetector.h"

#include <cstdint>
#include <string>
#include <vector>

// Connection probes whose answers a test sets; it records each question asked, in order, so a
// test can tell which facilities a decision consulted.
class TFakeConnectionProbes : public IConnectionProbes
{
public:
    bool DialUpIsAvailable = false;
    bool DialUpIsConnected = false;
    bool QueryIsAvailable = false;
    std::uint32_t Flags = 0;
    bool NetworkIsPresent = false;
    std::vector<std::string> Addresses;

    // The names of the probes called, in call order.
    std::vector<std::string> Calls;

    bool DialUpAvailable() override
    {
        Calls.emplace_back("DialUpAvailable");
        return DialUpIsAvailable;
    }
    bool DialUpConnected() override
    {
        Calls.emplace_back("DialUpConnected");
        return DialUpIsConnected;
    }
    bool QueryAvailable() override
    {
        Calls.emplace_back("QueryAvailable");
        return QueryIsAvailable;
    }
    std::uint32_t ConnectedStateFlags() override
    {
        Calls.emplace_back("ConnectedStateFlags");
        return Flags;
    }
    bool NetworkPresent() override
    {
        Calls.emplace_back("NetworkPresent");
        return NetworkIsPresent;
    }
    std::vector<std::string> LocalAddresses() override
    {
        Calls.emplace_back("LocalAddresses");
        return Addresses;
    }

    int CallCount(const std::string& probe) const
    {
        int count = 0;
        for (const std::string& call : Calls)
            count += call == probe ? 1 : 0;
        return count;
    }
    bool Consulted(const std::string& probe) const { return CallCount(probe) > 0; }
};
