#pragma once

#include <cstddef>
#include <memory>
#include <string>

struct bio_st;
struct ssl_st;
struct ssl_ctx_st;

// The server side of TLS for the sample server and the tests' fixtures: one certificate and
// its key, TLS 1.2 or newer.
class TTlsServerContext
{
public:
    // Throws std::runtime_error naming the file that cannot be used.
    TTlsServerContext(const std::string& certificateFile, const std::string& keyFile);

    ssl_ctx_st* Handle() const { return FContext.get(); }

private:
    std::shared_ptr<ssl_ctx_st> FContext;
};

// A TLS session on a connected, blocking socket, which it does not own. A receive time-out set
// on the socket (SO_RCVTIMEO) ends a read as it ends recv, with errno EAGAIN. The socket is read
// and written here, never by the TLS library, so a client that has gone is a failed send, not
// a SIGPIPE.
class TTlsServerStream
{
public:
    TTlsServerStream(const TTlsServerContext& context, int socket);
    // Says goodbye (close_notify) when the session is up.
    ~TTlsServerStream();
    TTlsServerStream(const TTlsServerStream&) = delete;
    TTlsServerStream& operator=(const TTlsServerStream&) = delete;

    // The handshake; false when it fails, with the reason in Error().
    bool Accept();
    // As recv: the count read, 0 at the end of the stream, -1 on failure (errno EAGAIN for a
    // time-out).
    long Read(char* buffer, std::size_t size);
    // False when the peer has gone.
    bool WriteAll(const char* data, std::size_t count);
    const std::string& Error() const { return FError; }
    // "TLSv1.3", after the handshake.
    std::string Protocol() const;

private:
    // Sends what the TLS library has written; false when the peer has gone.
    bool Flush();
    // Reads from the socket into the TLS library: as recv.
    long Pull();

    int FSocket;
    ssl_st* FSsl = nullptr;
    bio_st* FNetworkIn = nullptr;
    bio_st* FNetworkOut = nullptr;
    bool FOpen = false;
    std::string FError;
};
