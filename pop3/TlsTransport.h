#pragma once

#include "pop3/Wires.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct ssl_st;
struct ssl_ctx_st;
struct bio_st;

// How a connection to a server is secured.
enum class TWireSecurity : std::int32_t
{
    // Plain text, as POP3 began.
    None = 0,
    // Plain text up to the greeting, then TLS after the STLS command (RFC 2595).
    StartTls = 1,
    // TLS from the first byte (RFC 8314).
    ImplicitTls = 2
};

// The secure connection could not be set up, or broke down; the message says why in the user's
// words.
class EWireTlsError : public TWireExceptionOf<EWireTlsError>
{
public:
    using TWireExceptionOf::TWireExceptionOf;
};

// The server's certificate was not accepted. The message names the reason and ends with the
// certificate's SHA-256 fingerprint, which Fingerprint() also gives.
class EWireCertificateError : public TWireExceptionOf<EWireCertificateError, EWireTlsError>
{
public:
    using TWireExceptionOf::TWireExceptionOf;
    EWireCertificateError(const std::string& message, std::string fingerprint);
    const std::string& Fingerprint() const { return FFingerprint; }
    [[noreturn]] void RaiseWithMessage(const std::string& message) const override;

private:
    std::string FFingerprint;
};

// The certificate a server presented, as a user looks at it.
struct TPeerCertificate
{
    // SHA-256 over the certificate, upper-case hex pairs joined by colons.
    std::string Fingerprint;
    // One-line distinguished names, "CN=pop.example.org, O=Example".
    std::string Subject;
    std::string Issuer;
    // "2026-01-31 12:00:00 UTC".
    std::string ValidFrom;
    std::string ValidUntil;
    // The host names and addresses it is issued for (subject alternative names, else the
    // common name).
    std::vector<std::string> Names;
    // Why the certificate is not accepted on the authorities' word, in the user's words
    // ("it is self-signed (nobody vouches for it)"); empty when it is.
    std::string Problem;
    // The account's trusted fingerprint is this certificate's.
    bool Trusted = false;
};

// What a TLS handshake checks.
struct TTlsOptions
{
    // The host the user asked for: sent as the server name (SNI) and checked against the
    // certificate, as a name or as an address.
    std::string Host;
    std::int32_t Port = 0;
    // A SHA-256 fingerprint accepted in place of the authorities' word; empty for none.
    std::string TrustedCertificate;
    // Completes the handshake whatever the certificate, for showing it to the user; nothing
    // may be sent over such a session.
    bool AcceptAnyCertificate = false;
    // Longest time for the whole handshake in milliseconds; 0 or less waits without limit.
    int TimeoutMs = 60000;
};

// A TLS session over a connected socket, beneath the line buffer. Every wait is a recv or send
// of the socket table with a time-out, so that the table's time-outs and its interruption end
// a TLS wait as they end a plain one; the TLS library itself only ever sees memory.
class TTlsTransport : public IWireTransport
{
public:
    // Does not own the socket.
    TTlsTransport(TWinsockIntfBase& winsock, TSocketHandle socket);
    ~TTlsTransport() override;
    TTlsTransport(const TTlsTransport&) = delete;
    TTlsTransport& operator=(const TTlsTransport&) = delete;

    // Runs the client's handshake (TLS 1.2 or newer) and checks the server's certificate.
    // Throws EWireSocketError when a socket call fails or the time runs out (10060),
    // EWireTlsError when the handshake fails, EWireCertificateError when the certificate is not
    // accepted.
    void Handshake(const TTlsOptions& options);

    // After the handshake: "TLSv1.3", the cipher suite's name and the server's certificate.
    std::string Protocol() const;
    std::string Cipher() const;
    const TPeerCertificate& Certificate() const { return FCertificate; }

    // As the plain transport; a failure of the TLS session itself (a forged or broken record)
    // throws EWireTlsError. What is sent waits until a reply is read (or a record's worth has
    // gathered, or the session ends): the commands sent ahead by a pipelined listing then leave
    // in one record instead of one each, which spares the server a wake-up and a decryption
    // per command. A failure to send shows at that read.
    long Receive(char* buffer, std::size_t capacity, int timeoutMs) override;
    long Send(const char* data, std::size_t count, int timeoutMs) override;
    int LastError() override { return FLastError; }

private:
    struct TVerifyProblem
    {
        int Error;
        int Depth;
        std::string Detail;
    };

    static int VerifyCallback(int ok, struct x509_store_ctx_st* store);
    // Moves what the TLS library has written to the socket; false with FLastError set when a
    // send fails.
    bool Flush(int timeoutMs);
    // Encrypts what Send gathered and flushes it; false as Flush.
    bool SendGathered(int timeoutMs);
    // Reads what the socket has into the TLS library: the count, 0 when the peer has closed,
    // -1 with FLastError set.
    long Pull(int timeoutMs);
    void CheckCertificate(const TTlsOptions& options);
    // The verification's problems as phrases that follow "it" ("is self-signed (...)"), joined;
    // empty when there are none.
    std::string ProblemText(const TTlsOptions& options) const;
    [[noreturn]] void RaiseSocketError(int number);
    [[noreturn]] void RaiseHandshakeError(const TTlsOptions& options, bool peerClosed);
    [[noreturn]] void RaiseSessionError();

    TWinsockIntfBase& FWinsock;
    TSocketHandle FSocket;
    std::shared_ptr<ssl_ctx_st> FContext;
    ssl_st* FSsl = nullptr;
    bio_st* FNetworkIn = nullptr;
    bio_st* FNetworkOut = nullptr;
    std::vector<char> FChunk;
    std::string FGathered;
    std::vector<TVerifyProblem> FProblems;
    TPeerCertificate FCertificate;
    std::string FHost;
    int FLastError = 0;
    // The session is up and its peer accepted: a goodbye (close_notify) is due at the end.
    bool FEstablished = false;
};

// The fingerprint as 32 upper-case hex pairs joined by colons, from text that holds 64 hex
// digits in any case, with or without colons or blanks between them (and an optional
// "SHA256 Fingerprint=" before them, as the openssl tool prints it); empty for anything else.
std::string NormalizeFingerprint(const std::string& text);

// "Secure connection established (TLSv1.3, TLS_AES_256_GCM_SHA384)".
std::string SecureConnectionText(const std::string& protocol, const std::string& cipher);
