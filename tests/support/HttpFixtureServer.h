#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

// A scripted HTTP/1.1 server on 127.0.0.1 at an ephemeral port, listening as soon as it is
// constructed, for tests and benchmarks. It records every request it reads.
class THttpFixtureServer
{
public:
    // Bytes sent after a pause.
    struct TPiece
    {
        std::string Bytes;
        std::chrono::milliseconds Delay{0};
    };
    struct TResponse
    {
        std::vector<TPiece> Pieces;
        bool CloseAfter = false; // close the connection after the last piece
        bool Stall = false;      // read the request and never answer
    };
    struct TRequest
    {
        std::string Method;
        std::string Target;
        std::vector<std::pair<std::string, std::string>> Headers;
        std::string Body;
        // The value of the first header of that name (case-insensitive), or empty.
        std::string Header(const std::string& name) const;
        bool HasHeader(const std::string& name) const;
    };

    THttpFixtureServer();
    ~THttpFixtureServer();
    THttpFixtureServer(const THttpFixtureServer&) = delete;
    THttpFixtureServer& operator=(const THttpFixtureServer&) = delete;

    std::uint16_t Port() const { return FPort; }
    std::string Host() const { return "127.0.0.1:" + std::to_string(FPort); }
    std::string Url(const std::string& path) const { return "http://" + Host() + path; }

    // The answer to requests for path (the query included); unknown paths get a 404 page.
    void Serve(const std::string& path, TResponse response);
    std::vector<TRequest> Requests() const;
    int Connections() const;

    // A body with Content-Length on a kept-alive connection.
    static TResponse Ok(const std::string& body, const std::string& contentType = "text/plain");
    // A body ended by closing the connection, with no Content-Length.
    static TResponse WithoutLength(const std::string& body);
    // A chunked body, one chunk per part, each after the pause.
    static TResponse Chunked(const std::vector<std::string>& parts,
                             std::chrono::milliseconds pause = std::chrono::milliseconds(0));
    static TResponse Status(int code, const std::string& reason, const std::string& body);
    // Headers at once, then the body in pieces of the given size, each after the pause.
    static TResponse Slow(const std::string& body, std::size_t pieceSize,
                          std::chrono::milliseconds pause);
    static TResponse Redirect(const std::string& location);
    static TResponse Stall();

private:
    void AcceptLoop();
    void Handle(int fd);
    bool Pause(std::chrono::milliseconds delay);

    int FListener = -1;
    std::uint16_t FPort = 0;
    mutable std::mutex FMutex;
    std::condition_variable FStopped;
    bool FStopping = false;
    std::map<std::string, TResponse> FResponses;
    std::vector<TRequest> FRequests;
    std::vector<int> FOpen;
    int FConnections = 0;
    // One thread per connection; those that ended are joined as new ones start.
    std::map<int, std::thread> FWorkers;
    std::vector<int> FEnded;
    int FNextWorker = 0;
    std::thread FAcceptor;
};

// A loopback port with nothing listening on it: connecting is refused.
std::uint16_t UnusedLoopbackPort();

// A loopback listener that never accepts and whose queue is full, so that new connection
// attempts hang until the client's connect time-out.
class TBlackholeListener
{
public:
    TBlackholeListener();
    ~TBlackholeListener();
    TBlackholeListener(const TBlackholeListener&) = delete;
    TBlackholeListener& operator=(const TBlackholeListener&) = delete;

    std::uint16_t Port() const { return FPort; }

private:
    int FListener = -1;
    std::vector<int> FFillers;
    std::uint16_t FPort = 0;
};
