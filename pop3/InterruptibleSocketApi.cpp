#include "pop3/InterruptibleWinsock.h"

#include <algorithm>

namespace {

// The error this table reported itself, on the thread that called it; 0 when the inner
// table's error counts.
thread_local int OwnError = 0;

} // namespace

TInterruptibleWinsock::TInterruptibleWinsock(TWinsockIntfBase& inner)
    : FInner(inner)
{}

TWinsockIntfBase& TInterruptibleWinsock::Inner()
{
    OwnError = 0;
    return FInner;
}

void TInterruptibleWinsock::Interrupt()
{
    std::lock_guard<std::mutex> guard(FLock);
    FInterrupted = true;
    for (const TSocketHandle socket : FOpen)
        ShutdownSocket(socket);
}

int TInterruptibleWinsock::connect(TSocketHandle s, const TSocketAddress& name, int timeoutMs)
{
    if (FInterrupted) {
        OwnError = InterruptedError;
        return -1;
    }
    return Inner().connect(s, name, timeoutMs);
}

std::string TInterruptibleWinsock::gethostbyaddr(const TSocketAddress& address)
{
    return Inner().gethostbyaddr(address);
}

std::uint16_t TInterruptibleWinsock::htons(std::uint16_t hostShort)
{
    return FInner.htons(hostShort);
}

std::uint16_t TInterruptibleWinsock::ntohs(std::uint16_t netShort)
{
    return FInner.ntohs(netShort);
}

std::uint32_t TInterruptibleWinsock::inet_addr(const std::string& text)
{
    return FInner.inet_addr(text);
}

std::string TInterruptibleWinsock::gethostname()
{
    return Inner().gethostname();
}

std::vector<TSocketAddress> TInterruptibleWinsock::gethostbyname(const std::string& name,
                                                                 std::uint16_t port)
{
    return Inner().gethostbyname(name, port);
}

std::string TInterruptibleWinsock::TranslateSocketError(int number)
{
    return FInner.TranslateSocketError(number);
}

int TInterruptibleWinsock::WSAGetLastError()
{
    return OwnError != 0 ? OwnError : FInner.WSAGetLastError();
}

long TInterruptibleWinsock::recv(TSocketHandle s, char* buffer, std::size_t length, int flags,
                                 int timeoutMs)
{
    return Inner().recv(s, buffer, length, flags, timeoutMs);
}

long TInterruptibleWinsock::recvfrom(TSocketHandle s, char* buffer, std::size_t length, int flags,
                                     TSocketAddress* from)
{
    return Inner().recvfrom(s, buffer, length, flags, from);
}

int TInterruptibleWinsock::select(TSocketHandle s, bool forWrite, int timeoutMs)
{
    return Inner().select(s, forWrite, timeoutMs);
}

long TInterruptibleWinsock::send(TSocketHandle s, const char* buffer, std::size_t length, int flags,
                                 int timeoutMs)
{
    return Inner().send(s, buffer, length, flags, timeoutMs);
}

long TInterruptibleWinsock::sendto(TSocketHandle s, const char* buffer, std::size_t length,
                                   int flags, const TSocketAddress& to)
{
    return Inner().sendto(s, buffer, length, flags, to);
}

int TInterruptibleWinsock::setsockopt(TSocketHandle s, int level, int option, const void* value,
                                      unsigned length)
{
    return Inner().setsockopt(s, level, option, value, length);
}

std::string TInterruptibleWinsock::inet_ntoa(const TSocketAddress& address)
{
    return FInner.inet_ntoa(address);
}

int TInterruptibleWinsock::listen(TSocketHandle s, int backlog)
{
    return Inner().listen(s, backlog);
}

TSocketHandle TInterruptibleWinsock::accept(TSocketHandle s, TSocketAddress* address)
{
    return Inner().accept(s, address);
}

int TInterruptibleWinsock::bind(TSocketHandle s, const TSocketAddress& address)
{
    return Inner().bind(s, address);
}

int TInterruptibleWinsock::closesocket(TSocketHandle s)
{
    std::lock_guard<std::mutex> guard(FLock);
    FOpen.erase(std::remove(FOpen.begin(), FOpen.end(), s), FOpen.end());
    return Inner().closesocket(s);
}

TSocketHandle TInterruptibleWinsock::socket(int family, int type, int protocol)
{
    std::lock_guard<std::mutex> guard(FLock);
    const TSocketHandle s = Inner().socket(family, type, protocol);
    if (s != InvalidSocket)
        FOpen.push_back(s);
    return s;
}
