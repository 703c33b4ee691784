#include "tests/support/FakePop3Server.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// How long the server waits for its client before it gives the script up.
constexpr int ClientWaitMs = 15000;

bool SameUpper(const std::string& text, const char* upper)
{
    std::size_t i = 0;
    for (; upper[i] != '\0'; ++i)
        if (i >= text.size() || std::toupper(static_cast<unsigned char>(text[i])) != upper[i])
            return false;
    return i == text.size();
}

} // namespace

TFakePop3Server::TFakePop3Server()
{
    FListener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (FListener < 0)
        throw std::runtime_error("fake server: no socket");
    const int on = 1;
    ::setsockopt(FListener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    if (::bind(FListener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(FListener, 8) != 0 ||
        ::getsockname(FListener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw std::runtime_error("fake server: cannot listen on 127.0.0.1");
    FPort = ntohs(address.sin_port);
}

TFakePop3Server::~TFakePop3Server()
{
    FStop = true;
    if (FThread.joinable())
        FThread.join();
    CloseClient();
    ::close(FListener);
}

TFakePop3Server& TFakePop3Server::Send(std::string bytes)
{
    FSteps.push_back({TStep::SendBytes, std::move(bytes), 0, 0, {}});
    return *this;
}

TFakePop3Server& TFakePop3Server::Reply(const std::string& line)
{
    return Send(line + "\r\n");
}

TFakePop3Server& TFakePop3Server::LogInOpening(const std::string& capabilities)
{
    return Reply("+OK ready")
        .Receive("CAPA")
        .Send(capabilities)
        .Receive()
        .Reply("+OK")
        .Receive()
        .Reply("+OK");
}

TFakePop3Server& TFakePop3Server::CheckOpening(const std::string& statReply)
{
    return LogInOpening().Receive("STAT").Reply(statReply).Receive("UIDL").Reply(
        "-ERR unknown command");
}

TFakePop3Server& TFakePop3Server::SendInPieces(std::string bytes, std::size_t pieceSize,
                                               int pauseMs)
{
    FSteps.push_back({TStep::SendPieces, std::move(bytes), pieceSize, pauseMs, {}});
    return *this;
}

TFakePop3Server& TFakePop3Server::SendEndless(std::string pattern, std::size_t limit)
{
    FSteps.push_back({TStep::SendForever, std::move(pattern), limit, 0, {}});
    return *this;
}

TFakePop3Server& TFakePop3Server::Receive(std::string expected)
{
    FSteps.push_back({TStep::ReceiveLine, std::move(expected), 0, 0, {}});
    return *this;
}

TFakePop3Server& TFakePop3Server::Pause(int milliseconds)
{
    FSteps.push_back({TStep::Wait, {}, 0, milliseconds, {}});
    return *this;
}

TFakePop3Server& TFakePop3Server::Close()
{
    FSteps.push_back({TStep::CloseConnection, {}, 0, 0, {}});
    return *this;
}

TFakePop3Server& TFakePop3Server::Serve(THandler handler)
{
    FSteps.push_back({TStep::ServeCommands, {}, 0, 0, std::move(handler)});
    return *this;
}

void TFakePop3Server::Start()
{
    FThread = std::thread([this] { Run(); });
}

bool TFakePop3Server::WaitDone(int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!FDone) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

std::vector<std::string> TFakePop3Server::Commands()
{
    std::lock_guard<std::mutex> guard(FLock);
    return FCommands;
}

std::string TFakePop3Server::Problems()
{
    std::lock_guard<std::mutex> guard(FLock);
    return FProblems;
}

void TFakePop3Server::Record(const std::string& line)
{
    std::lock_guard<std::mutex> guard(FLock);
    FCommands.push_back(line);
}

void TFakePop3Server::Problem(const std::string& text)
{
    std::lock_guard<std::mutex> guard(FLock);
    FProblems += text + "\n";
}

void TFakePop3Server::CloseClient()
{
    if (FClient >= 0)
        ::close(FClient);
    FClient = -1;
    FPending.clear();
}

bool TFakePop3Server::SleepFor(int milliseconds)
{
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (std::chrono::steady_clock::now() < deadline) {
        if (FStop)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

bool TFakePop3Server::EnsureClient()
{
    if (FClient >= 0)
        return true;
    for (int waited = 0; waited < ClientWaitMs && !FStop; waited += 20) {
        pollfd entry{FListener, POLLIN, 0};
        if (::poll(&entry, 1, 20) > 0) {
            FClient = ::accept4(FListener, nullptr, nullptr, SOCK_CLOEXEC);
            if (FClient < 0)
                return false;
            // Every write leaves at once, so the client sees the segments the script made.
            const int on = 1;
            ::setsockopt(FClient, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            ++FConnections;
            return true;
        }
    }
    return false;
}

bool TFakePop3Server::WriteAll(const char* data, std::size_t count)
{
    while (count > 0) {
        pollfd entry{FClient, POLLOUT, 0};
        if (FStop)
            return false;
        if (::poll(&entry, 1, 20) <= 0)
            continue;
        const ssize_t sent = ::send(FClient, data, count, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent < 0) {
            if (errno == EAGAIN || errno == EINTR)
                continue;
            return false;
        }
        data += sent;
        count -= static_cast<std::size_t>(sent);
    }
    return true;
}

bool TFakePop3Server::ReadClientLine(std::string& line)
{
    int waited = 0;
    for (;;) {
        const std::size_t end = FPending.find("\r\n");
        if (end != std::string::npos) {
            line = FPending.substr(0, end);
            FPending.erase(0, end + 2);
            Record(line);
            return true;
        }
        if (FStop || waited > ClientWaitMs)
            return false;
        pollfd entry{FClient, POLLIN, 0};
        if (::poll(&entry, 1, 20) <= 0) {
            waited += 20;
            continue;
        }
        char buffer[4096];
        const ssize_t count = ::recv(FClient, buffer, sizeof buffer, 0);
        if (count <= 0)
            return false;
        FPending.append(buffer, static_cast<std::size_t>(count));
    }
}

void TFakePop3Server::Run()
{
    for (std::size_t index = 0; index < FSteps.size() && !FStop; ++index) {
        TStep& step = FSteps[index];
        const std::string where = "step " + std::to_string(index + 1) + ": ";
        if (step.Kind == TStep::Wait) {
            SleepFor(step.Milliseconds);
            continue;
        }
        if (step.Kind == TStep::CloseConnection) {
            // A close as the first step of a connection hangs up on the next client.
            if (FClient < 0 && !EnsureClient())
                Problem(where + "no client connected");
            CloseClient();
            continue;
        }
        if (!EnsureClient()) {
            Problem(where + "no client connected");
            break;
        }
        bool ok = true;
        switch (step.Kind) {
        case TStep::SendBytes:
            ok = WriteAll(step.Bytes.data(), step.Bytes.size());
            break;
        case TStep::SendPieces:
            for (std::size_t at = 0; ok && at < step.Bytes.size(); at += step.Size) {
                if (at > 0)
                    SleepFor(step.Milliseconds);
                const std::size_t count = std::min(step.Size, step.Bytes.size() - at);
                ok = WriteAll(step.Bytes.data() + at, count);
            }
            break;
        case TStep::SendForever:
            // The client is expected to give up; a failed write is how that shows here.
            for (std::size_t sent = 0; sent < step.Size; sent += step.Bytes.size())
                if (!WriteAll(step.Bytes.data(), step.Bytes.size()))
                    break;
            break;
        case TStep::ReceiveLine: {
            std::string line;
            ok = ReadClientLine(line);
            if (ok && !step.Bytes.empty() && line != step.Bytes)
                Problem(where + "expected \"" + step.Bytes + "\", got \"" + line + "\"");
            break;
        }
        case TStep::ServeCommands: {
            std::string line;
            while (ReadClientLine(line)) {
                const std::string answer = step.Handler(line);
                if (!WriteAll(answer.data(), answer.size()))
                    break;
                if (SameUpper(line, "QUIT")) {
                    CloseClient();
                    break;
                }
            }
            break;
        }
        default:
            break;
        }
        if (!ok) {
            Problem(where + "the client went away");
            break;
        }
    }
    CloseClient();
    FDone = true;
}
