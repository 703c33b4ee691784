#include "tools/TlsServer.h"

#include <cerrno>
#include <climits>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <stdexcept>
#include <sys/socket.h>

namespace {

constexpr std::size_t ChunkSize = 16 * 1024 + 512;

std::string LastTlsError()
{
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0)
        return "no reason given";
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    return text;
}

int Clamp(std::size_t size)
{
    return static_cast<int>(size > INT_MAX ? INT_MAX : size);
}

} // namespace

TTlsServerContext::TTlsServerContext(const std::string& certificateFile, const std::string& keyFile)
{
    SSL_CTX* context = SSL_CTX_new(TLS_server_method());
    if (context == nullptr)
        throw std::runtime_error("cannot make a TLS context: " + LastTlsError());
    FContext.reset(context, SSL_CTX_free);
    SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
    if (SSL_CTX_use_certificate_chain_file(context, certificateFile.c_str()) != 1)
        throw std::runtime_error("cannot use the certificate " + certificateFile + ": " +
                                 LastTlsError());
    if (SSL_CTX_use_PrivateKey_file(context, keyFile.c_str(), SSL_FILETYPE_PEM) != 1)
        throw std::runtime_error("cannot use the key " + keyFile + ": " + LastTlsError());
    if (SSL_CTX_check_private_key(context) != 1)
        throw std::runtime_error("the key " + keyFile + " does not belong to the certificate " +
                                 certificateFile);
}

TTlsServerStream::TTlsServerStream(const TTlsServerContext& context, int socket)
    : FSocket(socket)
    , FSsl(SSL_new(context.Handle()))
{
    FNetworkIn = BIO_new(BIO_s_mem());
    FNetworkOut = BIO_new(BIO_s_mem());
    if (FSsl == nullptr || FNetworkIn == nullptr || FNetworkOut == nullptr) {
        BIO_free(FNetworkIn);
        BIO_free(FNetworkOut);
        FError = "cannot start TLS: " + LastTlsError();
        return;
    }
    BIO_set_mem_eof_return(FNetworkIn, -1);
    SSL_set_bio(FSsl, FNetworkIn, FNetworkOut);
    SSL_set_accept_state(FSsl);
}

TTlsServerStream::~TTlsServerStream()
{
    if (FSsl == nullptr)
        return;
    if (FOpen) {
        SSL_shutdown(FSsl);
        Flush();
    }
    SSL_free(FSsl);
    ERR_clear_error();
}

bool TTlsServerStream::Flush()
{
    char chunk[ChunkSize];
    for (;;) {
        const int count = BIO_read(FNetworkOut, chunk, sizeof chunk);
        if (count <= 0)
            return true;
        int done = 0;
        while (done < count) {
            const ssize_t sent =
                ::send(FSocket, chunk + done, static_cast<std::size_t>(count - done), MSG_NOSIGNAL);
            if (sent < 0 && errno == EINTR)
                continue;
            if (sent <= 0)
                return false;
            done += static_cast<int>(sent);
        }
    }
}

long TTlsServerStream::Pull()
{
    char chunk[ChunkSize];
    for (;;) {
        const ssize_t count = ::recv(FSocket, chunk, sizeof chunk, 0);
        if (count < 0 && errno == EINTR)
            continue;
        if (count > 0)
            BIO_write(FNetworkIn, chunk, static_cast<int>(count));
        return count;
    }
}

bool TTlsServerStream::Accept()
{
    if (FSsl == nullptr || !FError.empty())
        return false;
    for (;;) {
        ERR_clear_error();
        const int result = SSL_do_handshake(FSsl);
        const int error = result == 1 ? SSL_ERROR_NONE : SSL_get_error(FSsl, result);
        const bool flushed = Flush();
        if (result == 1 && flushed) {
            FOpen = true;
            return true;
        }
        if (error != SSL_ERROR_WANT_READ || !flushed) {
            FError = "TLS handshake failed: " + LastTlsError();
            return false;
        }
        if (Pull() <= 0) {
            FError = "TLS handshake failed: the client closed the connection or went silent";
            return false;
        }
    }
}

long TTlsServerStream::Read(char* buffer, std::size_t size)
{
    while (FOpen) {
        ERR_clear_error();
        const int count = SSL_read(FSsl, buffer, Clamp(size));
        const int error = count > 0 ? SSL_ERROR_NONE : SSL_get_error(FSsl, count);
        Flush();
        if (count > 0)
            return count;
        if (error == SSL_ERROR_ZERO_RETURN)
            return 0;
        if (error != SSL_ERROR_WANT_READ) {
            FOpen = false;
            FError = LastTlsError();
            errno = EPROTO;
            return -1;
        }
        // A client that leaves without the TLS goodbye ends the stream, as on a plain socket;
        // a receive time-out keeps its errno.
        const long pulled = Pull();
        if (pulled <= 0)
            return pulled;
    }
    return -1;
}

bool TTlsServerStream::WriteAll(const char* data, std::size_t count)
{
    std::size_t sent = 0;
    while (FOpen && sent < count) {
        ERR_clear_error();
        const int written = SSL_write(FSsl, data + sent, Clamp(count - sent));
        if (written <= 0) {
            FOpen = false;
            FError = LastTlsError();
            return false;
        }
        sent += static_cast<std::size_t>(written);
        if (!Flush()) {
            FOpen = false;
            return false;
        }
    }
    return FOpen;
}

std::string TTlsServerStream::Protocol() const
{
    return FSsl != nullptr ? SSL_get_version(FSsl) : "";
}
