#pragma once

#include <atomic>
#include <cstdint>
#include <thread>

// A TCP relay on a loopback port in front of a server on another loopback port, holding every
// chunk of bytes for a fixed time in each direction before passing it on, in order: a link with
// a round trip of twice that time, for machines without a traffic shaper. The sockets on both
// sides have Nagle's algorithm off and acknowledge at once, so the relay adds no stalls of its
// own. A new connection reaches the server only after three one-way delays, so that the
// greeting arrives two round trips after the client started to connect, as over a real link
// (the client's connect() itself returns at once).
class TDelayRelay
{
public:
    // Throws std::runtime_error when it cannot listen.
    TDelayRelay(std::uint16_t serverPort, int oneWayMs);
    ~TDelayRelay();
    TDelayRelay(const TDelayRelay&) = delete;
    TDelayRelay& operator=(const TDelayRelay&) = delete;

    std::uint16_t Port() const { return FPort; }
    int OneWayMs() const { return FOneWayMs; }

private:
    void Accept();

    std::uint16_t FServerPort;
    int FOneWayMs;
    int FListener = -1;
    std::uint16_t FPort = 0;
    std::atomic<bool> FStopping{false};
    std::thread FAcceptor;
};
