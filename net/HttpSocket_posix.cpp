#include "net/HttpSocket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

curl_socket_t OpenInternetSocket(const curl_sockaddr& address)
{
    // Close-on-exec: the program starts other programs (the mail client), which must not
    // inherit a connection.
    const int fd = ::socket(address.family, address.socktype | SOCK_CLOEXEC, address.protocol);
    return fd < 0 ? CURL_SOCKET_BAD : fd;
}

void CloseInternetSocket(curl_socket_t socket)
{
    ::close(socket);
}

std::string AddressText(const curl_sockaddr& address)
{
    char text[INET6_ADDRSTRLEN] = {};
    const void* raw = nullptr;
    if (address.family == AF_INET)
        raw = &reinterpret_cast<const sockaddr_in*>(&address.addr)->sin_addr;
    else if (address.family == AF_INET6)
        raw = &reinterpret_cast<const sockaddr_in6*>(&address.addr)->sin6_addr;
    if (raw == nullptr || ::inet_ntop(address.family, raw, text, sizeof text) == nullptr)
        return {};
    return text;
}
