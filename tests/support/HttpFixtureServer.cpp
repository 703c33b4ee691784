#include "tests/support/HttpFixtureServer.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <netinet/in.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr std::size_t MaxHead = 64 * 1024;

std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string Trim(const std::string& text)
{
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

int LoopbackListener(int backlog, std::uint16_t& port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        throw std::runtime_error("fixture: cannot create a socket");
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd, backlog) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ::close(fd);
        throw std::runtime_error("fixture: cannot listen on 127.0.0.1");
    }
    port = ntohs(address.sin_port);
    return fd;
}

bool SendAll(int fd, const std::string& bytes)
{
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

std::string PathOf(const std::string& target)
{
    // A request through a proxy may name the whole URL.
    if (const auto scheme = target.find("://"); scheme != std::string::npos) {
        const auto path = target.find('/', scheme + 3);
        return path == std::string::npos ? "/" : target.substr(path);
    }
    return target;
}

std::string Head(int code, const std::string& reason, const std::string& headers)
{
    return "HTTP/1.1 " + std::to_string(code) + " " + reason + "\r\n" + headers + "\r\n";
}

} // namespace

std::string THttpFixtureServer::TRequest::Header(const std::string& name) const
{
    for (const auto& [key, value] : Headers) {
        if (Lower(key) == Lower(name))
            return value;
    }
    return {};
}

bool THttpFixtureServer::TRequest::HasHeader(const std::string& name) const
{
    return std::any_of(Headers.begin(), Headers.end(),
                       [&](const auto& header) { return Lower(header.first) == Lower(name); });
}

THttpFixtureServer::THttpFixtureServer()
{
    FListener = LoopbackListener(16, FPort);
    FAcceptor = std::thread([this] { AcceptLoop(); });
}

THttpFixtureServer::~THttpFixtureServer()
{
    {
        std::lock_guard lock(FMutex);
        FStopping = true;
        for (int fd : FOpen)
            ::shutdown(fd, SHUT_RDWR);
    }
    FStopped.notify_all();
    ::shutdown(FListener, SHUT_RDWR);
    FAcceptor.join();
    ::close(FListener);
    // No new worker starts once the acceptor has ended.
    for (auto& [id, worker] : FWorkers)
        worker.join();
}

void THttpFixtureServer::Serve(const std::string& path, TResponse response)
{
    std::lock_guard lock(FMutex);
    FResponses[path] = std::move(response);
}

std::vector<THttpFixtureServer::TRequest> THttpFixtureServer::Requests() const
{
    std::lock_guard lock(FMutex);
    return FRequests;
}

int THttpFixtureServer::Connections() const
{
    std::lock_guard lock(FMutex);
    return FConnections;
}

void THttpFixtureServer::AcceptLoop()
{
    for (;;) {
        const int fd = ::accept4(FListener, nullptr, nullptr, SOCK_CLOEXEC);
        std::lock_guard lock(FMutex);
        if (fd < 0) {
            if (FStopping || (errno != EINTR && errno != ECONNABORTED))
                return;
            continue;
        }
        if (FStopping) {
            ::close(fd);
            return;
        }
        ++FConnections;
        FOpen.push_back(fd);
        for (int id : FEnded) {
            FWorkers[id].join();
            FWorkers.erase(id);
        }
        FEnded.clear();
        const int id = FNextWorker++;
        FWorkers[id] = std::thread([this, fd, id] {
            Handle(fd);
            std::lock_guard ended(FMutex);
            FEnded.push_back(id);
        });
    }
}

bool THttpFixtureServer::Pause(std::chrono::milliseconds delay)
{
    std::unique_lock lock(FMutex);
    if (delay.count() > 0)
        FStopped.wait_for(lock, delay, [this] { return FStopping; });
    return !FStopping;
}

void THttpFixtureServer::Handle(int fd)
{
    std::string buffer;
    for (bool open = true; open;) {
        std::size_t headEnd;
        while ((headEnd = buffer.find("\r\n\r\n")) == std::string::npos) {
            char chunk[4096];
            const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
            if (n <= 0 || buffer.size() > MaxHead) {
                open = false;
                break;
            }
            buffer.append(chunk, static_cast<std::size_t>(n));
        }
        if (!open)
            break;

        TRequest request;
        const std::string head = buffer.substr(0, headEnd);
        buffer.erase(0, headEnd + 4);
        std::size_t lineStart = 0;
        for (bool first = true; lineStart <= head.size(); first = false) {
            auto lineEnd = head.find("\r\n", lineStart);
            if (lineEnd == std::string::npos)
                lineEnd = head.size();
            const std::string line = head.substr(lineStart, lineEnd - lineStart);
            lineStart = lineEnd + 2;
            if (first) {
                const auto a = line.find(' ');
                const auto b = line.find(' ', a + 1);
                request.Method = line.substr(0, a);
                request.Target = line.substr(a + 1, b - a - 1);
            } else if (const auto colon = line.find(':'); colon != std::string::npos) {
                request.Headers.emplace_back(line.substr(0, colon), Trim(line.substr(colon + 1)));
            }
        }
        const std::string lengthText = request.Header("Content-Length");
        const std::size_t length = lengthText.empty() ? 0 : std::stoul(lengthText);
        while (buffer.size() < length) {
            char chunk[4096];
            const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
            if (n <= 0)
                break;
            buffer.append(chunk, static_cast<std::size_t>(n));
        }
        request.Body = buffer.substr(0, std::min(length, buffer.size()));
        buffer.erase(0, request.Body.size());

        TResponse response;
        {
            std::lock_guard lock(FMutex);
            FRequests.push_back(request);
            const auto found = FResponses.find(PathOf(request.Target));
            response =
                found != FResponses.end()
                    ? found->second
                    : Status(404, "Not Found",
                             "<html><body>No such page: " + request.Target + "</body></html>");
        }
        if (response.Stall) {
            Pause(std::chrono::hours(1));
            break;
        }
        for (const auto& piece : response.Pieces) {
            if (!Pause(piece.Delay) || !SendAll(fd, piece.Bytes)) {
                open = false;
                break;
            }
        }
        if (response.CloseAfter)
            break;
    }
    std::lock_guard lock(FMutex);
    FOpen.erase(std::find(FOpen.begin(), FOpen.end(), fd));
    ::close(fd);
}

THttpFixtureServer::TResponse THttpFixtureServer::Ok(const std::string& body,
                                                     const std::string& contentType)
{
    return {{{Head(200, "OK",
                   "Content-Type: " + contentType +
                       "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n") +
                  body,
              {}}}};
}

THttpFixtureServer::TResponse THttpFixtureServer::WithoutLength(const std::string& body)
{
    TResponse response{
        {{"HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\nConnection: close\r\n\r\n" + body, {}}}};
    response.CloseAfter = true;
    return response;
}

THttpFixtureServer::TResponse THttpFixtureServer::Chunked(const std::vector<std::string>& parts,
                                                          std::chrono::milliseconds pause)
{
    TResponse response{
        {{Head(200, "OK", "Content-Type: text/plain\r\nTransfer-Encoding: chunked\r\n"), {}}}};
    for (const auto& part : parts) {
        char size[32];
        std::snprintf(size, sizeof size, "%zx\r\n", part.size());
        response.Pieces.push_back({size + part + "\r\n", pause});
    }
    response.Pieces.push_back({"0\r\n\r\n", pause});
    return response;
}

THttpFixtureServer::TResponse THttpFixtureServer::Status(int code, const std::string& reason,
                                                         const std::string& body)
{
    return {{{Head(code, reason,
                   "Content-Type: text/html\r\nContent-Length: " + std::to_string(body.size()) +
                       "\r\n") +
                  body,
              {}}}};
}

THttpFixtureServer::TResponse THttpFixtureServer::Slow(const std::string& body,
                                                       std::size_t pieceSize,
                                                       std::chrono::milliseconds pause)
{
    TResponse response{{{Head(200, "OK",
                              "Content-Type: text/plain\r\nContent-Length: " +
                                  std::to_string(body.size()) + "\r\n"),
                         {}}}};
    for (std::size_t at = 0; at < body.size(); at += pieceSize)
        response.Pieces.push_back({body.substr(at, pieceSize), pause});
    return response;
}

THttpFixtureServer::TResponse THttpFixtureServer::Redirect(const std::string& location)
{
    return {{{Head(302, "Found", "Location: " + location + "\r\nContent-Length: 0\r\n"), {}}}};
}

THttpFixtureServer::TResponse THttpFixtureServer::Stall()
{
    TResponse response;
    response.Stall = true;
    return response;
}

std::uint16_t UnusedLoopbackPort()
{
    std::uint16_t port = 0;
    ::close(LoopbackListener(1, port));
    return port;
}

TBlackholeListener::TBlackholeListener()
{
    FListener = LoopbackListener(0, FPort);
    // With a backlog of 0 the queue holds one connection; filling it makes the kernel drop
    // later connection requests, so they neither succeed nor get refused.
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(FPort);
    for (int i = 0; i < 4; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
        FFillers.push_back(fd);
    }
}

TBlackholeListener::~TBlackholeListener()
{
    for (int fd : FFillers)
        ::close(fd);
    ::close(FListener);
}
