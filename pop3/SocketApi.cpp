#include "pop3/SocketApi.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>

namespace {

thread_local int LastError = 0;

const std::pair<int, const char*> ErrorTexts[] = {
    {10004, "Interrupted system call."},
    {10009, "Bad file number."},
    {10013, "Access denied."},
    {10014, "Bad address."},
    {10022, "Invalid argument."},
    {10024, "Too many open files."},
    {10035, "Operation would block. "},
    {10036, "Operation now in progress."},
    {10037, "Operation already in progress."},
    {10038, "Socket operation on non-socket."},
    {10039, "Destination address required."},
    {10040, "Message too long."},
    {10041, "Protocol wrong type for socket."},
    {10042, "Bad protocol option."},
    {10043, "Protocol not supported."},
    {10044, "Socket type not supported."},
    {10045, "Operation not supported on socket."},
    {10046, "Protocol family not supported."},
    {10047, "Address family not supported by protocol family."},
    {10048, "Address already in use."},
    {10049, "Can't assign requested address."},
    {10050, "Network is down."},
    {10051, "Network is unreachable."},
    {10052, "Net dropped connection or reset."},
    {10053, "Software caused connection abort."},
    {10054, "Connection reset by peer."},
    {10055, "No buffer space available."},
    {10056, "Socket is already connected."},
    {10057, "Socket is not connected."},
    {10058, "Cannot send or receive after socket is closed."},
    {10059, "Too many references, can't splice."},
    {10060, "Connection timed out."},
    {10061, "Connection refused."},
    {10062, "Too many levels of symbolic links."},
    {10063, "File name too long."},
    {10064, "Host is down."},
    {10065, "No route to host."},
    {10066, "Directory not empty"},
    {10067, "Too many processes."},
    {10068, "Too many users."},
    {10069, "Disk Quota Exceeded."},
    {10070, "Stale NFS file handle."},
    {10071, "Too many levels of remote in path."},
    {10091, "Network subsystem is unavailable."},
    {10092, "WINSOCK DLL Version out of range."},
    {10093, "Winsock not loaded yet."},
    {11001, "Host not found."},
    {11002, "Non-authoritative response (try again or check DNS setup)."},
    {11003, "Non-recoverable errors: FORMERR, REFUSED, NOTIMP."},
    {11004, "Valid name, no data record (check DNS setup)."},
};

const std::pair<int, int> SystemErrors[] = {
    {EINTR, 10004},        {EBADF, 10009},           {EACCES, 10013},
    {EPERM, 10013},        {EFAULT, 10014},          {EINVAL, 10022},
    {EMFILE, 10024},       {ENFILE, 10024},          {EWOULDBLOCK, 10035},
    {EINPROGRESS, 10036},  {EALREADY, 10037},        {ENOTSOCK, 10038},
    {EDESTADDRREQ, 10039}, {EMSGSIZE, 10040},        {EPROTOTYPE, 10041},
    {ENOPROTOOPT, 10042},  {EPROTONOSUPPORT, 10043}, {ESOCKTNOSUPPORT, 10044},
    {EOPNOTSUPP, 10045},   {EPFNOSUPPORT, 10046},    {EAFNOSUPPORT, 10047},
    {EADDRINUSE, 10048},   {EADDRNOTAVAIL, 10049},   {ENETDOWN, 10050},
    {ENETUNREACH, 10051},  {ENETRESET, 10052},       {ECONNABORTED, 10053},
    {ECONNRESET, 10054},   {ENOBUFS, 10055},         {ENOMEM, 10055},
    {EISCONN, 10056},      {ENOTCONN, 10057},        {ESHUTDOWN, 10058},
    {EPIPE, 10058},        {ETOOMANYREFS, 10059},    {ETIMEDOUT, 10060},
    {ECONNREFUSED, 10061}, {ELOOP, 10062},           {ENAMETOOLONG, 10063},
    {EHOSTDOWN, 10064},    {EHOSTUNREACH, 10065},    {ENOTEMPTY, 10066},
    {EUSERS, 10068},       {EDQUOT, 10069},          {ESTALE, 10070},
    {EREMOTE, 10071},
};

using TClock = std::chrono::steady_clock;

// Milliseconds left until the deadline for poll(); -1 waits without limit.
int Remaining(bool limited, TClock::time_point deadline)
{
    if (!limited)
        return -1;
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - TClock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// Waits for the socket to become readable or writable: 1 when it is, 0 on time-out, -1 with
// errno set on failure. A signal does not shorten the wait.
int WaitFor(int s, short events, int timeoutMs)
{
    const bool limited = timeoutMs > 0;
    const auto deadline = TClock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        pollfd entry{s, events, 0};
        const int result = ::poll(&entry, 1, Remaining(limited, deadline));
        if (result >= 0)
            return result > 0 ? 1 : 0;
        if (errno != EINTR)
            return -1;
    }
}

bool SetBlocking(int s, bool blocking)
{
    const int flags = ::fcntl(s, F_GETFL, 0);
    if (flags < 0)
        return false;
    const int wanted = blocking ? (flags & ~O_NONBLOCK) : (flags | O_NONBLOCK);
    return ::fcntl(s, F_SETFL, wanted) == 0;
}

} // namespace

int TSocketAddress::Family() const
{
    return Length == 0 ? AF_UNSPEC : Get()->sa_family;
}

TSocketAddress MakeIPv4Address(std::uint32_t address, std::uint16_t port)
{
    TSocketAddress result;
    sockaddr_in ipv4{};
    ipv4.sin_family = AF_INET;
    ipv4.sin_port = htons(port);
    ipv4.sin_addr.s_addr = address;
    std::memcpy(result.Data.data(), &ipv4, sizeof ipv4);
    result.Length = sizeof ipv4;
    return result;
}

std::string SocketErrorText(int number)
{
    for (const auto& [code, text] : ErrorTexts)
        if (code == number)
            return text;
    return {};
}

TWinsockIntf11::TWinsockIntf11()
    : FDescription("POSIX sockets")
    , FMaxDatagramSize(65507)
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
        FMaxSockets = static_cast<int>(limit.rlim_cur);
}

TWinsockIntf11& TWinsockIntf11::Instance()
{
    // POSIX sockets need no start-up, so this cannot fail here.
    static TWinsockIntf11 instance;
    return instance;
}

int TWinsockIntf11::MapSystemError(int systemError)
{
    for (const auto& [system, number] : SystemErrors)
        if (system == systemError)
            return number;
    return systemError;
}

int TWinsockIntf11::MapResolverError(int resolverError, int systemError)
{
    switch (resolverError) {
    case EAI_NONAME:
        return 11001;
    case EAI_AGAIN:
        return 11002;
    case EAI_FAIL:
        return 11003;
#ifdef EAI_NODATA
    case EAI_NODATA:
        return 11004;
#endif
#ifdef EAI_ADDRFAMILY
    case EAI_ADDRFAMILY:
        return 11004;
#endif
    case EAI_MEMORY:
        return 10055;
    case EAI_FAMILY:
        return 10047;
    case EAI_SOCKTYPE:
        return 10044;
    case EAI_SYSTEM:
        return MapSystemError(systemError);
    default:
        return 11003;
    }
}

int TWinsockIntf11::Fail(int number)
{
    LastError = number;
    return -1;
}

int TWinsockIntf11::connect(TSocketHandle s, const TSocketAddress& name, int timeoutMs)
{
    if (!SetBlocking(s, false))
        return Fail(MapSystemError(errno));
    if (::connect(s, name.Get(), name.Length) != 0) {
        if (errno != EINPROGRESS && errno != EINTR)
            return Fail(MapSystemError(errno));
        const int ready = WaitFor(s, POLLOUT, timeoutMs);
        if (ready < 0)
            return Fail(MapSystemError(errno));
        if (ready == 0)
            return Fail(WireErrors::TimedOut);
        int error = 0;
        socklen_t length = sizeof error;
        if (::getsockopt(s, SOL_SOCKET, SO_ERROR, &error, &length) != 0)
            return Fail(MapSystemError(errno));
        if (error != 0)
            return Fail(MapSystemError(error));
    }
    if (!SetBlocking(s, true))
        return Fail(MapSystemError(errno));
    return 0;
}

std::uint32_t TWinsockIntf11::inet_addr(const std::string& text)
{
    return ::inet_addr(text.c_str());
}

std::vector<TSocketAddress> TWinsockIntf11::gethostbyname(const std::string& name,
                                                          std::uint16_t port)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    const int result = ::getaddrinfo(name.c_str(), nullptr, &hints, &list);
    if (result != 0) {
        Fail(MapResolverError(result, errno));
        return {};
    }
    std::vector<TSocketAddress> addresses;
    for (const addrinfo* entry = list; entry != nullptr; entry = entry->ai_next) {
        if (entry->ai_addr == nullptr || entry->ai_addrlen > sizeof(TSocketAddress::Data))
            continue;
        TSocketAddress address;
        std::memcpy(address.Data.data(), entry->ai_addr, entry->ai_addrlen);
        address.Length = entry->ai_addrlen;
        if (entry->ai_family == AF_INET)
            reinterpret_cast<sockaddr_in*>(address.Data.data())->sin_port = htons(port);
        else if (entry->ai_family == AF_INET6)
            reinterpret_cast<sockaddr_in6*>(address.Data.data())->sin6_port = htons(port);
        else
            continue;
        addresses.push_back(address);
    }
    ::freeaddrinfo(list);
    if (addresses.empty())
        Fail(11004);
    return addresses;
}

std::string TWinsockIntf11::TranslateSocketError(int number)
{
    return SocketErrorText(number);
}

int TWinsockIntf11::WSAGetLastError()
{
    return LastError;
}

long TWinsockIntf11::recv(TSocketHandle s, char* buffer, std::size_t length, int flags,
                          int timeoutMs)
{
#ifdef TCP_QUICKACK
    // Servers that write a reply in small pieces without disabling Nagle wait for our ACK
    // before sending the next piece; delayed ACKs would stall every reply by about 40 ms.
    // The kernel leaves quick-ACK mode on its own, so it is armed again before every read.
    const int on = 1;
    ::setsockopt(s, IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on);
#endif
    const bool limited = timeoutMs > 0;
    const auto deadline = TClock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const int ready = WaitFor(s, POLLIN, Remaining(limited, deadline));
        if (ready < 0)
            return Fail(MapSystemError(errno));
        if (ready == 0 && limited)
            return Fail(WireErrors::TimedOut);
        const ssize_t count = ::recv(s, buffer, length, flags | MSG_DONTWAIT);
        if (count >= 0)
            return count;
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
            return Fail(MapSystemError(errno));
    }
}

long TWinsockIntf11::send(TSocketHandle s, const char* buffer, std::size_t length, int flags,
                          int timeoutMs)
{
    const bool limited = timeoutMs > 0;
    const auto deadline = TClock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        // MSG_NOSIGNAL: a peer that has gone must give an error, not end the program.
        const ssize_t count = ::send(s, buffer, length, flags | MSG_NOSIGNAL | MSG_DONTWAIT);
        if (count >= 0)
            return count;
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
            return Fail(MapSystemError(errno));
        const int ready = WaitFor(s, POLLOUT, Remaining(limited, deadline));
        if (ready < 0)
            return Fail(MapSystemError(errno));
        if (ready == 0 && limited)
            return Fail(WireErrors::TimedOut);
    }
}

int TWinsockIntf11::setsockopt(TSocketHandle s, int level, int option, const void* value,
                               unsigned length)
{
    return ::setsockopt(s, level, option, value, length) == 0 ? 0 : Fail(MapSystemError(errno));
}

std::string TWinsockIntf11::inet_ntoa(const TSocketAddress& address)
{
    char text[INET6_ADDRSTRLEN] = {};
    const void* raw = nullptr;
    if (address.Family() == AF_INET)
        raw = &reinterpret_cast<const sockaddr_in*>(address.Data.data())->sin_addr;
    else if (address.Family() == AF_INET6)
        raw = &reinterpret_cast<const sockaddr_in6*>(address.Data.data())->sin6_addr;
    if (raw == nullptr || ::inet_ntop(address.Family(), raw, text, sizeof text) == nullptr) {
        Fail(10047);
        return {};
    }
    return text;
}

int TWinsockIntf11::closesocket(TSocketHandle s)
{
    return ::close(s) == 0 ? 0 : Fail(MapSystemError(errno));
}

TSocketHandle TWinsockIntf11::socket(int family, int type, int protocol)
{
    const int s = ::socket(family, type | SOCK_CLOEXEC, protocol);
    return s < 0 ? Fail(MapSystemError(errno)) : s;
}
