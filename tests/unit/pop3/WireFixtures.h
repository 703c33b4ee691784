#pragma once

#include "pop3/SocketApi.h"
#include "pop3/Wires.h"

#include <string>
#include <vector>

// The real socket library with failures and observations put in where a test asks for them.
class TScriptedWinsock : public TWinsockIntfBase
{
public:
    TWinsockIntfBase& Real = TWinsockIntf11::Instance();
    int LookupError = 0;                   // gethostbyname fails with this number when not 0
    std::vector<std::string> LookupResult; // numeric addresses gethostbyname gives instead
    bool FailSocket = false;               // socket() fails
    int RecvError = 0;                     // the next recv fails with this number when not 0
    int FailingSend = 0; // the send of this number (1 for the first) fails with SendError
    int SendError = 0;
    int Sends = 0;
    int Lookups = 0;
    std::vector<std::string> SocketOptions; // "level/option" of each setsockopt
    int LastFailure = 0;

    int connect(TSocketHandle s, const TSocketAddress& name, int timeoutMs) override
    {
        return Real.connect(s, name, timeoutMs);
    }
    std::uint32_t inet_addr(const std::string& text) override { return Real.inet_addr(text); }
    std::vector<TSocketAddress> gethostbyname(const std::string& name, std::uint16_t port) override
    {
        ++Lookups;
        if (LookupError != 0) {
            LastFailure = LookupError;
            return {};
        }
        if (LookupResult.empty())
            return Real.gethostbyname(name, port);
        std::vector<TSocketAddress> addresses;
        for (const std::string& address : LookupResult)
            for (const TSocketAddress& one : Real.gethostbyname(address, port))
                addresses.push_back(one);
        return addresses;
    }
    std::string TranslateSocketError(int number) override
    {
        return Real.TranslateSocketError(number);
    }
    int WSAGetLastError() override
    {
        return LastFailure != 0 ? LastFailure : Real.WSAGetLastError();
    }
    long recv(TSocketHandle s, char* buffer, std::size_t length, int flags, int timeoutMs) override
    {
        if (RecvError != 0) {
            LastFailure = RecvError;
            RecvError = 0;
            return -1;
        }
        LastFailure = 0;
        return Real.recv(s, buffer, length, flags, timeoutMs);
    }
    long send(TSocketHandle s, const char* buffer, std::size_t length, int flags,
              int timeoutMs) override
    {
        if (++Sends == FailingSend) {
            LastFailure = SendError;
            return -1;
        }
        LastFailure = 0;
        return Real.send(s, buffer, length, flags, timeoutMs);
    }
    int setsockopt(TSocketHandle s, int level, int option, const void* value,
                   unsigned length) override
    {
        SocketOptions.push_back(std::to_string(level) + "/" + std::to_string(option));
        return Real.setsockopt(s, level, option, value, length);
    }
    std::string inet_ntoa(const TSocketAddress& address) override
    {
        return Real.inet_ntoa(address);
    }
    int closesocket(TSocketHandle s) override { return Real.closesocket(s); }
    TSocketHandle socket(int family, int type, int protocol) override
    {
        if (FailSocket) {
            LastFailure = 10024;
            return InvalidSocket;
        }
        return Real.socket(family, type, protocol);
    }
};

// Collects the status texts a component posts.
struct TStatusLog
{
    std::vector<std::string> Texts;

    void Attach(TWireSocket& wire)
    {
        wire.OnStatus = [this](TWireSocket&, const std::string& text) { Texts.push_back(text); };
    }
};

// Short waits so that a test about a silent peer ends quickly.
template <class TClient> void UseShortTimeouts(TClient& client)
{
    client.ConnectTimeout = 2000;
    client.ReadTimeout = 2000;
}

// A loopback port on which nothing listens.
std::uint16_t ClosedPort();
