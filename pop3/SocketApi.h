#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct sockaddr;

// A socket handle as the wire components keep it; -1 means no socket.
using TSocketHandle = int;
inline constexpr TSocketHandle InvalidSocket = -1;

// One resolved address of either family, in the platform's own socket-address layout.
struct TSocketAddress
{
    alignas(8) std::array<unsigned char, 128> Data{};
    unsigned Length = 0;

    const sockaddr* Get() const { return reinterpret_cast<const sockaddr*>(Data.data()); }
    int Family() const;
};

// The option and family numbers the wire components pass to the table; they are the same on
// every platform.
namespace WireSocket {
inline constexpr int AfInet = 2;
inline constexpr int SockStream = 1;
inline constexpr int IpProtoTcp = 6;
inline constexpr int TcpNoDelay = 1;
} // namespace WireSocket

// Socket error numbers that the wire components name in their own logic. Every platform
// reports its failures in these numbers, so users always read the texts of one table.
namespace WireErrors {
inline constexpr int WouldBlock = 10035;
inline constexpr int InProgress = 10036;
inline constexpr int Shutdown = 10058;
inline constexpr int TimedOut = 10060;
inline constexpr int ConnRefused = 10061;
inline constexpr int HostNotFound = 11001;
} // namespace WireErrors

// The table of socket-library operations that the wire components call. Each operation behaves
// as the socket function of the same name, except that a failure is reported through
// WSAGetLastError in the numbers of TranslateSocketError's table, whatever the platform's own
// numbers are. The time-outs are in milliseconds; their expiry fails with error 10060.
class TWinsockIntfBase
{
public:
    virtual ~TWinsockIntfBase() = default;

    virtual int connect(TSocketHandle s, const TSocketAddress& name, int timeoutMs) = 0;
    // The IPv4 address in network byte order, or 0xFFFFFFFF for text that is not one.
    virtual std::uint32_t inet_addr(const std::string& text) = 0;
    // Every address of the host, IPv4 and IPv6 in the resolver's order, each with the port
    // (given in host byte order); empty on failure.
    virtual std::vector<TSocketAddress> gethostbyname(const std::string& name,
                                                      std::uint16_t port) = 0;
    // The table's text for a number; unknown numbers give an empty text.
    virtual std::string TranslateSocketError(int number) = 0;
    virtual int WSAGetLastError() = 0;
    // Waits at most timeoutMs for data; returns the count read, 0 when the peer has closed.
    virtual long recv(TSocketHandle s, char* buffer, std::size_t length, int flags,
                      int timeoutMs) = 0;
    // Waits at most timeoutMs for room in the send buffer; returns the count sent.
    virtual long send(TSocketHandle s, const char* buffer, std::size_t length, int flags,
                      int timeoutMs) = 0;
    virtual int setsockopt(TSocketHandle s, int level, int option, const void* value,
                           unsigned length) = 0;
    // The numeric text of an address of either family.
    virtual std::string inet_ntoa(const TSocketAddress& address) = 0;
    virtual int closesocket(TSocketHandle s) = 0;
    virtual TSocketHandle socket(int family, int type, int protocol) = 0;
};

// The platform's socket library. One instance serves the whole process; it keeps no state of
// any connection, only the last error number of each thread.
class TWinsockIntf11 : public TWinsockIntfBase
{
public:
    // The process's instance, started on first use. Throws std::runtime_error
    // "Winsock Initialization Error." when the socket library cannot be started.
    static TWinsockIntf11& Instance();

    int connect(TSocketHandle s, const TSocketAddress& name, int timeoutMs) override;
    std::uint32_t inet_addr(const std::string& text) override;
    std::vector<TSocketAddress> gethostbyname(const std::string& name, std::uint16_t port) override;
    std::string TranslateSocketError(int number) override;
    int WSAGetLastError() override;
    long recv(TSocketHandle s, char* buffer, std::size_t length, int flags, int timeoutMs) override;
    long send(TSocketHandle s, const char* buffer, std::size_t length, int flags,
              int timeoutMs) override;
    int setsockopt(TSocketHandle s, int level, int option, const void* value,
                   unsigned length) override;
    std::string inet_ntoa(const TSocketAddress& address) override;
    int closesocket(TSocketHandle s) override;
    TSocketHandle socket(int family, int type, int protocol) override;

    // The table number for an operating-system error number; numbers the table lacks are
    // passed on unchanged.
    static int MapSystemError(int systemError);
    // The table number for a resolver failure.
    static int MapResolverError(int resolverError, int systemError);

    // The library's own description and limits, kept as the start-up reports them.
    const std::string& Description() const { return FDescription; }
    int MaxSockets() const { return FMaxSockets; }
    int MaxDatagramSize() const { return FMaxDatagramSize; }

private:
    TWinsockIntf11();
    int Fail(int number);

    std::string FDescription;
    int FMaxSockets = 0;
    int FMaxDatagramSize = 0;
};

// The IPv4 socket address of an address in network byte order and a port in host byte order.
TSocketAddress MakeIPv4Address(std::uint32_t address, std::uint16_t port);

// The text of every number in the socket-error table; an empty text for any other number.
std::string SocketErrorText(int number);
