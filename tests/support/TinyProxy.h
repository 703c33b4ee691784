#pragma once

#include <cstdint>
#include <string>

// A private tinyproxy on a loopback port, started by a test and stopped with it. It allows
// only 127.0.0.1 and logs every request to a file of its own.
class TTinyProxy
{
public:
    // Whether the tinyproxy program is installed (scripts/deps installs it).
    static bool Available();

    // Throws std::runtime_error naming the cause when the proxy does not come up.
    TTinyProxy();
    ~TTinyProxy();
    TTinyProxy(const TTinyProxy&) = delete;
    TTinyProxy& operator=(const TTinyProxy&) = delete;

    std::uint16_t Port() const { return FPort; }
    std::string Log() const;

private:
    bool Start();
    void Stop();

    std::string FFolder;
    std::uint16_t FPort = 0;
    int FPid = -1;
};
