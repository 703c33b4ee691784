#include "pop3/InterruptibleSocketApi.h"

#include <algorithm>

namespace {

// The error this table reported itself, on the thread that called it; 0 when the inner
// table's error counts.
thread_local int OwnError = 0;

} // namespace

TInterruptibleSocketApi::TInterruptibleSocketApi(TWinsockIntfBase& inner)
    : FInner(inner)
{}

TWinsockIntfBase& TInterruptibleSocketApi::Inner()
{
    OwnError = 0;
    return FInner;
}

void TInterruptibleSocketApi::Interrupt()
{
    std::lock_guard<std::mutex> guard(FLock);
    FInterrupted = true;
    for (const TSocketHandle socket : FOpen)
        ShutdownSocket(socket);
}

int TInterruptibleSocketApi::connect(TSocketHandle s, const TSocketAddress& name, int timeoutMs)
{
    if (FInterrupted) {
        OwnError = InterruptedError;
        return -1;
    }
    return Inner().connect(s, name, timeoutMs);
}

std::uint32_t TInterruptibleSocketApi::inet_addr(const std::string& text)
{
    return FInner.inet_addr(text);
}

std::vector<TSocketAddress> TInterruptibleSocketApi::gethostbyname(const std::string& name,
                                                                   std::uint16_t port)
{
    return Inner().gethostbyname(name, port);
}

std::string TInterruptibleSocketApi::TranslateSocketError(int number)
{
    return FInner.TranslateSocketError(number);
}

int TInterruptibleSocketApi::WSAGetLastError()
{
    return OwnError != 0 ? OwnError : FInner.WSAGetLastError();
}

long TInterruptibleSocketApi::recv(TSocketHandle s, char* buffer, std::size_t length, int flags,
                                   int timeoutMs)
{
    return Inner().recv(s, buffer, length, flags, timeoutMs);
}

long TInterruptibleSocketApi::send(TSocketHandle s, const char* buffer, std::size_t length,
                                   int flags, int timeoutMs)
{
    return Inner().send(s, buffer, length, flags, timeoutMs);
}

int TInterruptibleSocketApi::setsockopt(TSocketHandle s, int level, int option, const void* value,
                                        unsigned length)
{
    return Inner().setsockopt(s, level, option, value, length);
}

std::string TInterruptibleSocketApi::inet_ntoa(const TSocketAddress& address)
{
    return FInner.inet_ntoa(address);
}

int TInterruptibleSocketApi::closesocket(TSocketHandle s)
{
    std::lock_guard<std::mutex> guard(FLock);
    FOpen.erase(std::remove(FOpen.begin(), FOpen.end(), s), FOpen.end());
    return Inner().closesocket(s);
}

TSocketHandle TInterruptibleSocketApi::socket(int family, int type, int protocol)
{
    std::lock_guard<std::mutex> guard(FLock);
    const TSocketHandle s = Inner().socket(family, type, protocol);
    if (s != InvalidSocket)
        FOpen.push_back(s);
    return s;
}
