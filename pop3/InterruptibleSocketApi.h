#pragma once

#include "pop3/SocketApi.h"

#include <atomic>
#include <mutex>
#include <vector>

// The socket library of one worker, with a way out: Interrupt breaks off the connections made
// through it and makes every later connection fail at once, so that a worker waiting on a
// silent server can be ended with the program instead of holding it up until a time-out.
class TInterruptibleSocketApi : public TWinsockIntfBase
{
public:
    static constexpr int InterruptedError = 10004;

    explicit TInterruptibleSocketApi(TWinsockIntfBase& inner = TWinsockIntf11::Instance());

    // May be called from any thread.
    void Interrupt();
    bool Interrupted() const { return FInterrupted; }

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

private:
    // Clears the error of this table before a call of the inner one.
    TWinsockIntfBase& Inner();

    TWinsockIntfBase& FInner;
    std::atomic<bool> FInterrupted{false};
    // The sockets open now; a socket is closed under the lock, so that Interrupt never
    // reaches a handle that the system has already given to someone else.
    std::mutex FLock;
    std::vector<TSocketHandle> FOpen;
};

// Ends both directions of a connection at once; a thread waiting on the socket wakes up.
void ShutdownSocket(TSocketHandle socket);
