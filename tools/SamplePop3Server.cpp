#include "tools/SamplePop3Server.h"

#include "tools/SamplePop3Session.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <stdexcept>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>

namespace {

// RFC 2449 §4 allows 255 octets for a command line; a longer one is refused, not truncated.
constexpr std::size_t MaxCommandLine = 1024;

std::runtime_error SystemError(const std::string& what)
{
    return std::runtime_error(what + ": " + std::strerror(errno));
}

void SetTimeout(int socket, int option, int milliseconds)
{
    timeval timeout{};
    timeout.tv_sec = milliseconds / 1000;
    timeout.tv_usec = (milliseconds % 1000) * 1000;
    ::setsockopt(socket, SOL_SOCKET, option, &timeout, sizeof timeout);
}

std::string FirstLine(const std::string& reply)
{
    return reply.substr(0, reply.find("\r\n"));
}

bool IsPassword(const std::string& line)
{
    return line.size() >= 4 && ::strncasecmp(line.c_str(), "PASS", 4) == 0;
}

// The bytes of one connection: the socket itself until TLS starts, then the TLS session on it.
class TConnectionStream
{
public:
    explicit TConnectionStream(int socket)
        : FSocket(socket)
    {}

    // False, with the reason, when the handshake fails.
    bool StartTls(const TTlsServerContext& context, std::string& error)
    {
        FTls = std::make_unique<TTlsServerStream>(context, FSocket);
        if (FTls->Accept())
            return true;
        error = FTls->Error();
        return false;
    }

    std::string Protocol() const { return FTls ? FTls->Protocol() : "plain text"; }

    long Read(char* buffer, std::size_t size)
    {
        return FTls ? FTls->Read(buffer, size) : ::recv(FSocket, buffer, size, 0);
    }

    bool Write(const std::string& bytes)
    {
        if (FTls)
            return FTls->WriteAll(bytes.data(), bytes.size());
        std::size_t sent = 0;
        while (sent < bytes.size()) {
            const ssize_t count =
                ::send(FSocket, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (count < 0 && errno == EINTR)
                continue;
            if (count <= 0)
                return false;
            sent += static_cast<std::size_t>(count);
        }
        return true;
    }

private:
    int FSocket;
    std::unique_ptr<TTlsServerStream> FTls;
};

} // namespace

TSamplePop3Server::TSamplePop3Server(TOptions options)
    : FOptions(std::move(options))
    , FMaildrop(FOptions.Folder)
{
    if (FOptions.Tls != TTlsMode::None)
        FTls = std::make_unique<TTlsServerContext>(FOptions.CertificateFile, FOptions.KeyFile);
    int wake[2];
    if (::pipe2(wake, O_CLOEXEC) != 0)
        throw SystemError("cannot create a pipe");
    FWakeRead = wake[0];
    FWakeWrite = wake[1];

    FListener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (FListener < 0)
        throw SystemError("cannot create a socket");
    const int on = 1;
    ::setsockopt(FListener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(FOptions.Port);
    if (::bind(FListener, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(FListener, 16) != 0) {
        const std::runtime_error error =
            SystemError("cannot listen on 127.0.0.1 port " + std::to_string(FOptions.Port));
        ::close(FListener);
        ::close(FWakeRead);
        ::close(FWakeWrite);
        throw error;
    }
    socklen_t length = sizeof address;
    ::getsockname(FListener, reinterpret_cast<sockaddr*>(&address), &length);
    FPort = ntohs(address.sin_port);
}

TSamplePop3Server::~TSamplePop3Server()
{
    Stop();
    // Run has already ended when its caller destroys the server; it closed the connections.
    if (FListener >= 0)
        ::close(FListener);
    ::close(FWakeRead);
    ::close(FWakeWrite);
}

void TSamplePop3Server::Stop()
{
    FStopping = true;
    const char byte = 0;
    // A full pipe already holds a wake-up.
    [[maybe_unused]] const ssize_t written = ::write(FWakeWrite, &byte, 1);
}

void TSamplePop3Server::Run()
{
    while (!FStopping) {
        pollfd waits[2] = {{FListener, POLLIN, 0}, {FWakeRead, POLLIN, 0}};
        if (::poll(waits, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            Log(std::string("poll failed: ") + std::strerror(errno));
            break;
        }
        if (FStopping || (waits[1].revents & POLLIN) != 0)
            break;
        if ((waits[0].revents & POLLIN) == 0)
            continue;
        const int socket = ::accept4(FListener, nullptr, nullptr, SOCK_CLOEXEC);
        if (socket < 0) {
            // Out of descriptors, the listener stays readable: wait for sessions to end.
            if (errno == EMFILE || errno == ENFILE)
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            continue;
        }
        const int on = 1;
        ::setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        SetTimeout(socket, SO_RCVTIMEO, FOptions.IdleTimeoutMs);
        SetTimeout(socket, SO_SNDTIMEO, FOptions.IdleTimeoutMs);

        Reap();
        const std::lock_guard lock(FConnectionsMutex);
        auto& connection = FConnections.emplace_back(std::make_unique<TConnectionThread>());
        connection->Socket = socket;
        connection->Thread = std::thread(&TSamplePop3Server::Serve, this, std::ref(*connection));
    }

    ::close(FListener);
    FListener = -1;
    {
        const std::lock_guard lock(FConnectionsMutex);
        for (const auto& connection : FConnections)
            if (connection->Socket >= 0)
                ::shutdown(connection->Socket, SHUT_RDWR);
    }
    // The threads take the mutex as they end, so they are joined without it.
    for (const auto& connection : FConnections)
        connection->Thread.join();
    FConnections.clear();
}

void TSamplePop3Server::Reap()
{
    const std::lock_guard lock(FConnectionsMutex);
    for (auto connection = FConnections.begin(); connection != FConnections.end();) {
        if ((*connection)->Done) {
            (*connection)->Thread.join();
            connection = FConnections.erase(connection);
        } else {
            ++connection;
        }
    }
}

void TSamplePop3Server::Serve(TConnectionThread& connection)
{
    const int socket = connection.Socket;
    {
        TSamplePop3Session session(
            FMaildrop, FOptions.User, FOptions.Password,
            [this](const std::string& text) { Log(text); }, FOptions.LockWaitMs);
        session.OfferStartTls = FOptions.Tls == TTlsMode::StartTls;
        if (FOptions.Capabilities)
            session.Capabilities = *FOptions.Capabilities;
        session.CapabilitiesBeforeTls = FOptions.CapabilitiesBeforeTls;
        if (FOptions.Verbose)
            Log("connection opened");
        TConnectionStream stream(socket);
        std::string error;
        bool open = true;
        if (FOptions.Tls == TTlsMode::Implicit) {
            open = stream.StartTls(*FTls, error);
            if (!open)
                Log(error);
            else if (FOptions.Verbose)
                Log("TLS started (" + stream.Protocol() + ")");
        }
        std::string buffer;
        open = open && stream.Write(TSamplePop3Session::Greeting());
        while (open && !session.Ended()) {
            const std::size_t end = buffer.find('\n');
            if (end == std::string::npos) {
                if (buffer.size() > MaxCommandLine) {
                    stream.Write("-ERR line too long\r\n");
                    break;
                }
                char chunk[4096];
                const long received = stream.Read(chunk, sizeof chunk);
                if (received > 0) {
                    buffer.append(chunk, static_cast<std::size_t>(received));
                    continue;
                }
                if (received < 0 && errno == EINTR)
                    continue;
                if (received < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
                    stream.Write("-ERR autologout: idle for too long\r\n");
                break;
            }
            std::string line = buffer.substr(0, end);
            buffer.erase(0, end + 1);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            if (line.size() > MaxCommandLine) {
                stream.Write("-ERR line too long\r\n");
                break;
            }
            const std::string reply = session.Answer(line);
            if (FOptions.Verbose) {
                Log("C: " + (IsPassword(line) ? line.substr(0, 4) + " ****" : line));
                Log("S: " + FirstLine(reply));
            }
            open = stream.Write(reply);
            if (open && session.StartTlsRequested()) {
                // RFC 2595 §4: commands sent before the negotiation are not taken into it.
                buffer.clear();
                open = stream.StartTls(*FTls, error);
                if (!open) {
                    Log(error);
                } else {
                    session.TlsStarted();
                    if (FOptions.Verbose)
                        Log("TLS started (" + stream.Protocol() + ")");
                }
            }
        }
        if (FOptions.Verbose)
            Log("connection closed");
    }
    const std::lock_guard lock(FConnectionsMutex);
    ::close(socket);
    connection.Socket = -1;
    connection.Done = true;
}

void TSamplePop3Server::Log(const std::string& text) const
{
    if (FOptions.Log)
        FOptions.Log(text);
}
