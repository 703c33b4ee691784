#include "bench/DelayRelay.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <stdexcept>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>

namespace {

using TClock = std::chrono::steady_clock;

struct TChunk
{
    TClock::time_point Due;
    std::string Bytes;
    // The sender closed its side.
    bool End = false;
};

// The chunks of one direction, oldest first.
class TChunkQueue
{
public:
    void Push(TChunk chunk)
    {
        {
            const std::lock_guard<std::mutex> lock(FMutex);
            FChunks.push_back(std::move(chunk));
        }
        FReady.notify_one();
    }

    TChunk Pop()
    {
        std::unique_lock<std::mutex> lock(FMutex);
        FReady.wait(lock, [this] { return !FChunks.empty(); });
        TChunk chunk = std::move(FChunks.front());
        FChunks.pop_front();
        return chunk;
    }

    // The next chunk when it is due by now, joined to the first: one write for bytes that
    // arrived in several reads.
    bool PopDue(TChunk& into)
    {
        const std::lock_guard<std::mutex> lock(FMutex);
        if (FChunks.empty() || FChunks.front().End || FChunks.front().Due > TClock::now())
            return false;
        into.Bytes += FChunks.front().Bytes;
        FChunks.pop_front();
        return true;
    }

private:
    std::mutex FMutex;
    std::condition_variable FReady;
    std::deque<TChunk> FChunks;
};

void TuneSocket(int fd)
{
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    ::setsockopt(fd, IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on);
}

// One relayed connection; its sockets close when the last of its threads ends.
struct TLink
{
    int Client = -1;
    int Server = -1;
    TChunkQueue ToServer;
    TChunkQueue ToClient;

    ~TLink()
    {
        if (Client >= 0)
            ::close(Client);
        if (Server >= 0)
            ::close(Server);
    }
};

void Read(int from, TChunkQueue& queue, std::chrono::milliseconds delay)
{
    char buffer[65536];
    for (;;) {
        // The kernel falls back to delayed acknowledgements after a while; re-armed each time.
        const int on = 1;
        ::setsockopt(from, IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on);
        const ssize_t got = ::recv(from, buffer, sizeof buffer, 0);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            queue.Push({TClock::now() + delay, {}, true});
            return;
        }
        queue.Push({TClock::now() + delay, std::string(buffer, static_cast<std::size_t>(got))});
    }
}

void Write(int to, TChunkQueue& queue)
{
    bool open = true;
    for (;;) {
        TChunk chunk = queue.Pop();
        std::this_thread::sleep_until(chunk.Due);
        if (chunk.End) {
            ::shutdown(to, SHUT_WR);
            return;
        }
        while (queue.PopDue(chunk)) {
        }
        // A peer that is gone takes nothing more; the rest is read and dropped until the end.
        for (std::size_t sent = 0; open && sent < chunk.Bytes.size();) {
            const ssize_t wrote =
                ::send(to, chunk.Bytes.data() + sent, chunk.Bytes.size() - sent, MSG_NOSIGNAL);
            if (wrote < 0 && errno == EINTR)
                continue;
            if (wrote <= 0)
                open = false;
            else
                sent += static_cast<std::size_t>(wrote);
        }
    }
}

sockaddr_in Loopback(std::uint16_t port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

void Relay(const std::shared_ptr<TLink>& link, std::uint16_t serverPort,
           std::chrono::milliseconds delay)
{
    // Each thread holds the link: its sockets close when the last of them ends.
    std::thread([link, delay] { Read(link->Client, link->ToServer, delay); }).detach();
    // The handshake: the client's SYN, the server's answer and the client's ACK each take one
    // way before the server accepts.
    std::this_thread::sleep_for(3 * delay);
    link->Server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in address = Loopback(serverPort);
    if (link->Server < 0 ||
        ::connect(link->Server, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        // The client sees the connection closed.
        ::shutdown(link->Client, SHUT_RDWR);
        return;
    }
    TuneSocket(link->Server);
    std::thread([link] { Write(link->Server, link->ToServer); }).detach();
    std::thread([link] { Write(link->Client, link->ToClient); }).detach();
    std::thread([link, delay] { Read(link->Server, link->ToClient, delay); }).detach();
}

} // namespace

TDelayRelay::TDelayRelay(std::uint16_t serverPort, int oneWayMs)
    : FServerPort(serverPort)
    , FOneWayMs(oneWayMs)
{
    FListener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = Loopback(0);
    socklen_t length = sizeof address;
    if (FListener < 0 ||
        ::bind(FListener, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(FListener, 64) != 0 ||
        ::getsockname(FListener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw std::runtime_error("the delay relay cannot listen on loopback");
    FPort = ntohs(address.sin_port);
    FAcceptor = std::thread([this] { Accept(); });
}

TDelayRelay::~TDelayRelay()
{
    FStopping = true;
    ::shutdown(FListener, SHUT_RDWR);
    FAcceptor.join();
    ::close(FListener);
}

void TDelayRelay::Accept()
{
    while (!FStopping) {
        pollfd waiting{FListener, POLLIN, 0};
        if (::poll(&waiting, 1, 100) <= 0)
            continue;
        const int client = ::accept4(FListener, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0)
            continue;
        TuneSocket(client);
        auto link = std::make_shared<TLink>();
        link->Client = client;
        std::thread(Relay, std::move(link), FServerPort, std::chrono::milliseconds(FOneWayMs))
            .detach();
    }
}
