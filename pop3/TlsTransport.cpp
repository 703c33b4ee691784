#include "pop3/TlsTransport.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cctype>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

namespace {

using TClock = std::chrono::steady_clock;

// Bytes taken from the socket or given to it in one call: a TLS record and then some, so a
// check's replies need few calls.
constexpr std::size_t ChunkSize = 64 * 1024;
// Longest wait for the goodbye of a session that ends.
constexpr int GoodbyeTimeoutMs = 1000;
// The largest count handed to the TLS library at once; it takes int.
constexpr std::size_t MaxCall = 1 << 30;
// The most plain text one TLS record holds (RFC 8446 §5.1).
constexpr std::size_t RecordSize = 16384;

std::string Environment(const char* name)
{
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

// The client context: TLS 1.2 or newer, the system's authorities. The authorities are read
// once for each value of SSL_CERT_FILE and SSL_CERT_DIR, which point OpenSSL at another store.
std::shared_ptr<SSL_CTX> ClientContext()
{
    static std::mutex lock;
    static std::string loadedFor;
    static std::shared_ptr<SSL_CTX> context;
    const std::string wanted = Environment("SSL_CERT_FILE") + '\n' + Environment("SSL_CERT_DIR");
    const std::lock_guard guard(lock);
    if (context && loadedFor == wanted)
        return context;
    SSL_CTX* created = SSL_CTX_new(TLS_client_method());
    if (created == nullptr)
        throw EWireTlsError("TLS cannot be started: the TLS library could not make a context.");
    SSL_CTX_set_min_proto_version(created, TLS1_2_VERSION);
    // Renegotiation is an old source of attacks, and a POP3 session has no use for it.
    SSL_CTX_set_options(created, SSL_OP_NO_RENEGOTIATION);
    // Without a readable store every certificate meets "unknown authority", which says what
    // is wrong; nothing to report here.
    SSL_CTX_set_default_verify_paths(created);
    context.reset(created, SSL_CTX_free);
    loadedFor = wanted;
    return context;
}

bool IsAddress(const std::string& host)
{
    unsigned char address[16];
    return ::inet_pton(AF_INET, host.c_str(), address) == 1 ||
           ::inet_pton(AF_INET6, host.c_str(), address) == 1;
}

std::string Hex(const unsigned char* bytes, unsigned count)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    for (unsigned i = 0; i < count; ++i) {
        if (i > 0)
            text += ':';
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 0x0F];
    }
    return text;
}

std::string Fingerprint(X509* certificate)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned length = 0;
    if (X509_digest(certificate, EVP_sha256(), digest, &length) != 1)
        return {};
    return Hex(digest, length);
}

std::string NameText(const X509_NAME* name)
{
    if (name == nullptr)
        return {};
    BIO* memory = BIO_new(BIO_s_mem());
    if (memory == nullptr)
        return {};
    const unsigned long flags =
        (XN_FLAG_ONELINE & ~XN_FLAG_SPC_EQ & ~ASN1_STRFLGS_ESC_MSB) | ASN1_STRFLGS_UTF8_CONVERT;
    X509_NAME_print_ex(memory, name, 0, flags);
    char* data = nullptr;
    const long length = BIO_get_mem_data(memory, &data);
    std::string text(data != nullptr ? data : "",
                     length > 0 ? static_cast<std::size_t>(length) : 0);
    BIO_free(memory);
    return text;
}

// The common name when there is one, else the whole name.
std::string ShortName(const X509_NAME* name)
{
    const int index = X509_NAME_get_index_by_NID(name, NID_commonName, -1);
    if (index >= 0) {
        const ASN1_STRING* value = X509_NAME_ENTRY_get_data(X509_NAME_get_entry(name, index));
        unsigned char* utf8 = nullptr;
        const int length = ASN1_STRING_to_UTF8(&utf8, value);
        if (length > 0) {
            std::string text(reinterpret_cast<char*>(utf8), static_cast<std::size_t>(length));
            OPENSSL_free(utf8);
            return text;
        }
    }
    return NameText(name);
}

// "2026-01-31 12:00:00 UTC"; withTime false gives the date alone.
std::string TimeText(const ASN1_TIME* time, bool withTime = true)
{
    std::tm parts{};
    if (time == nullptr || ASN1_TIME_to_tm(time, &parts) != 1)
        return "?";
    char text[32];
    std::strftime(text, sizeof text, withTime ? "%Y-%m-%d %H:%M:%S UTC" : "%Y-%m-%d", &parts);
    return text;
}

std::vector<std::string> CertificateNames(X509* certificate)
{
    std::vector<std::string> names;
    auto* alternatives = static_cast<GENERAL_NAMES*>(
        X509_get_ext_d2i(certificate, NID_subject_alt_name, nullptr, nullptr));
    for (int i = 0; alternatives != nullptr && i < sk_GENERAL_NAME_num(alternatives); ++i) {
        const GENERAL_NAME* entry = sk_GENERAL_NAME_value(alternatives, i);
        if (entry->type == GEN_DNS) {
            const ASN1_STRING* dns = entry->d.dNSName;
            names.emplace_back(reinterpret_cast<const char*>(ASN1_STRING_get0_data(dns)),
                               static_cast<std::size_t>(ASN1_STRING_length(dns)));
        } else if (entry->type == GEN_IPADD) {
            const ASN1_STRING* ip = entry->d.iPAddress;
            const int length = ASN1_STRING_length(ip);
            char text[INET6_ADDRSTRLEN] = {};
            if ((length == 4 || length == 16) &&
                ::inet_ntop(length == 4 ? AF_INET : AF_INET6, ASN1_STRING_get0_data(ip), text,
                            sizeof text) != nullptr)
                names.emplace_back(text);
        }
    }
    GENERAL_NAMES_free(alternatives);
    // RFC 6125 §6.4.4: the common name counts only where no alternative names are given.
    if (names.empty()) {
        const X509_NAME* subject = X509_get_subject_name(certificate);
        if (X509_NAME_get_index_by_NID(subject, NID_commonName, -1) >= 0)
            names.push_back(ShortName(subject));
    }
    return names;
}

std::string Joined(const std::vector<std::string>& parts, const char* separator,
                   const char* lastSeparator)
{
    std::string text;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i > 0)
            text += i + 1 == parts.size() ? lastSeparator : separator;
        text += parts[i];
    }
    return text;
}

// What the user reads of a verification error, most telling first: whether anybody vouches
// for the certificate, then whom it is for, then its dates.
enum TProblemKind
{
    SelfSigned,
    UnknownAuthority,
    OtherHost,
    Expired,
    NotYetValid,
    Unverifiable
};

TProblemKind KindOf(int error)
{
    switch (error) {
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
        return SelfSigned;
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_CERT_UNTRUSTED:
        return UnknownAuthority;
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
        return OtherHost;
    case X509_V_ERR_CERT_HAS_EXPIRED:
        return Expired;
    case X509_V_ERR_CERT_NOT_YET_VALID:
        return NotYetValid;
    default:
        return Unverifiable;
    }
}

// A date problem as it follows "it": of the certificate itself (depth 0), or of an authority
// above it.
std::string Dated(int depth, const std::string& state, const std::string& date,
                  const std::string& detail)
{
    const std::string whose =
        depth == 0 ? state : "comes from an authority whose certificate " + state;
    return whose + " (" + date + " " + detail + ")";
}

// Why the handshake failed, for "The secure connection to HOST could not be established: ".
std::string HandshakeReason(unsigned long code, std::int32_t port)
{
    if (ERR_GET_LIB(code) == ERR_LIB_SSL) {
        switch (ERR_GET_REASON(code)) {
        case SSL_R_WRONG_VERSION_NUMBER:
        case SSL_R_PACKET_LENGTH_TOO_LONG:
        case SSL_R_RECORD_LENGTH_MISMATCH:
        case SSL_R_HTTP_REQUEST:
        case SSL_R_UNKNOWN_PROTOCOL:
            return "the server does not answer in TLS on port " + std::to_string(port) +
                   " (SSL/TLS is usually port 995; port 110 is for None or STARTTLS)";
        case SSL_R_UNSUPPORTED_PROTOCOL:
        case SSL_R_NO_PROTOCOLS_AVAILABLE:
        case SSL_R_TLSV1_ALERT_PROTOCOL_VERSION:
            return "the server offers only TLS versions older than 1.2, which are no longer safe";
        case SSL_R_SSLV3_ALERT_HANDSHAKE_FAILURE:
        case SSL_R_NO_SHARED_CIPHER:
        case SSL_R_NO_CIPHERS_AVAILABLE:
        case SSL_R_NO_SUITABLE_SIGNATURE_ALGORITHM:
            return "the server and Mailbeacon have no secure cipher in common";
        case SSL_R_UNEXPECTED_EOF_WHILE_READING:
            return "the server closed the connection during the TLS handshake";
        default:
            break;
        }
    }
    const char* reason = code != 0 ? ERR_reason_error_string(code) : nullptr;
    return std::string("the TLS handshake failed (") +
           (reason != nullptr ? reason : "no reason given") + ")";
}

} // namespace

EWireCertificateError::EWireCertificateError(const std::string& message, std::string fingerprint)
    : TWireExceptionOf(message)
    , FFingerprint(std::move(fingerprint))
{}

void EWireCertificateError::RaiseWithMessage(const std::string& message) const
{
    throw EWireCertificateError(message, FFingerprint);
}

std::string NormalizeFingerprint(const std::string& text)
{
    std::string digits;
    const std::size_t equals = text.find('=');
    for (std::size_t i = equals == std::string::npos ? 0 : equals + 1; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (std::isxdigit(c))
            digits += static_cast<char>(std::toupper(c));
        else if (c != ':' && c != '-' && !std::isspace(c))
            return {};
    }
    if (digits.size() != 64)
        return {};
    std::string result;
    for (std::size_t i = 0; i < digits.size(); i += 2) {
        if (i > 0)
            result += ':';
        result.append(digits, i, 2);
    }
    return result;
}

std::string SecureConnectionText(const std::string& protocol, const std::string& cipher)
{
    return "Secure connection established (" + protocol + ", " + cipher + ")";
}

TTlsTransport::TTlsTransport(TWinsockIntfBase& winsock, TSocketHandle socket)
    : FWinsock(winsock)
    , FSocket(socket)
    , FChunk(ChunkSize)
{}

TTlsTransport::~TTlsTransport()
{
    if (FSsl == nullptr)
        return;
    if (FEstablished) {
        // What was sent last (QUIT) goes out, and RFC 8446 §6.1: the side that ends the session
        // says so; its answer is not awaited.
        try {
            SendGathered(GoodbyeTimeoutMs);
        } catch (const EWireTlsError&) {
            // The session is gone; nothing is left to say.
        }
        ERR_clear_error();
        SSL_shutdown(FSsl);
        Flush(GoodbyeTimeoutMs);
    }
    SSL_free(FSsl);
    ERR_clear_error();
}

void TTlsTransport::Handshake(const TTlsOptions& options)
{
    FHost = options.Host;
    FContext = ClientContext();
    FSsl = SSL_new(FContext.get());
    FNetworkIn = BIO_new(BIO_s_mem());
    FNetworkOut = BIO_new(BIO_s_mem());
    if (FSsl == nullptr || FNetworkIn == nullptr || FNetworkOut == nullptr) {
        BIO_free(FNetworkIn);
        BIO_free(FNetworkOut);
        FNetworkIn = FNetworkOut = nullptr;
        throw EWireTlsError("TLS cannot be started: the TLS library is out of memory.");
    }
    // An empty input asks for more, never ends the stream: the socket says when it has ended.
    BIO_set_mem_eof_return(FNetworkIn, -1);
    SSL_set_bio(FSsl, FNetworkIn, FNetworkOut);
    SSL_set_app_data(FSsl, this);
    // The verification records every problem and lets the handshake go on; whether the
    // certificate is accepted is decided afterwards, where a trusted fingerprint can count.
    SSL_set_verify(FSsl, SSL_VERIFY_PEER, &TTlsTransport::VerifyCallback);
    if (IsAddress(options.Host)) {
        X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(FSsl), options.Host.c_str());
    } else {
        // RFC 6066 §3: a name, never an address, goes into the server name indication.
        SSL_set_tlsext_host_name(FSsl, options.Host.c_str());
        SSL_set_hostflags(FSsl, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
        SSL_set1_host(FSsl, options.Host.c_str());
    }
    SSL_set_connect_state(FSsl);

    const bool limited = options.TimeoutMs > 0;
    const auto deadline = TClock::now() + std::chrono::milliseconds(options.TimeoutMs);
    const auto remaining = [&] {
        if (!limited)
            return 0;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - TClock::now()).count();
        if (left <= 0)
            RaiseSocketError(WireErrors::TimedOut);
        return static_cast<int>(left);
    };
    for (;;) {
        ERR_clear_error();
        const int result = SSL_do_handshake(FSsl);
        const int error = result == 1 ? SSL_ERROR_NONE : SSL_get_error(FSsl, result);
        // An alert the library wrote about a failure goes out before the failure is reported.
        const bool flushed = Flush(remaining());
        if (result == 1 || error == SSL_ERROR_WANT_READ) {
            if (!flushed)
                RaiseSocketError(FLastError);
        }
        if (result == 1)
            break;
        if (error != SSL_ERROR_WANT_READ)
            RaiseHandshakeError(options, false);
        const long pulled = Pull(remaining());
        if (pulled < 0)
            RaiseSocketError(FLastError);
        if (pulled == 0)
            RaiseHandshakeError(options, true);
    }
    CheckCertificate(options);
    FEstablished = true;
}

int TTlsTransport::VerifyCallback(int ok, x509_store_ctx_st* store)
{
    if (ok != 0)
        return 1;
    auto* ssl =
        static_cast<SSL*>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
    auto* self = ssl != nullptr ? static_cast<TTlsTransport*>(SSL_get_app_data(ssl)) : nullptr;
    if (self == nullptr)
        return 0;
    const int error = X509_STORE_CTX_get_error(store);
    X509* current = X509_STORE_CTX_get_current_cert(store);
    std::string detail;
    switch (KindOf(error)) {
    case UnknownAuthority:
        // The certificate whose issuer is missing, or the untrusted root itself.
        if (current != nullptr)
            detail = ShortName(error == X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN
                                   ? X509_get_subject_name(current)
                                   : X509_get_issuer_name(current));
        break;
    case Expired:
        detail = current != nullptr ? TimeText(X509_get0_notAfter(current), false) : "?";
        break;
    case NotYetValid:
        detail = current != nullptr ? TimeText(X509_get0_notBefore(current), false) : "?";
        break;
    case Unverifiable:
        detail = X509_verify_cert_error_string(error);
        break;
    default:
        break;
    }
    self->FProblems.push_back({error, X509_STORE_CTX_get_error_depth(store), detail});
    return 1;
}

void TTlsTransport::CheckCertificate(const TTlsOptions& options)
{
    X509* certificate = SSL_get0_peer_certificate(FSsl);
    if (certificate == nullptr)
        throw EWireTlsError("The secure connection to " + options.Host +
                            " could not be established: the server sent no certificate.");
    FCertificate = {};
    FCertificate.Fingerprint = Fingerprint(certificate);
    FCertificate.Subject = NameText(X509_get_subject_name(certificate));
    FCertificate.Issuer = NameText(X509_get_issuer_name(certificate));
    FCertificate.ValidFrom = TimeText(X509_get0_notBefore(certificate));
    FCertificate.ValidUntil = TimeText(X509_get0_notAfter(certificate));
    FCertificate.Names = CertificateNames(certificate);
    const std::string phrases = ProblemText(options);
    FCertificate.Problem = phrases.empty() ? std::string() : "it " + phrases;
    const std::string trusted = NormalizeFingerprint(options.TrustedCertificate);
    FCertificate.Trusted = !trusted.empty() && trusted == FCertificate.Fingerprint;
    if (FCertificate.Trusted || FCertificate.Problem.empty() || options.AcceptAnyCertificate)
        return;
    const std::string subject = options.TrustedCertificate.empty()
                                    ? "it "
                                    : "it is not the certificate this account trusts, and it ";
    throw EWireCertificateError("The certificate of " + options.Host +
                                    " was not accepted: " + subject + phrases +
                                    ". SHA-256 fingerprint: " + FCertificate.Fingerprint,
                                FCertificate.Fingerprint);
}

std::string TTlsTransport::ProblemText(const TTlsOptions& options) const
{
    std::vector<std::string> phrases;
    bool seen[Unverifiable + 1] = {};
    for (int kind = SelfSigned; kind <= Unverifiable; ++kind) {
        for (const TVerifyProblem& problem : FProblems) {
            if (KindOf(problem.Error) != kind || seen[kind])
                continue;
            seen[kind] = true;
            switch (kind) {
            case SelfSigned:
                phrases.push_back("is self-signed (nobody vouches for it)");
                break;
            case UnknownAuthority:
                phrases.push_back("is issued by an unknown authority (" + problem.Detail + ")");
                break;
            case OtherHost:
                phrases.push_back("is issued for another host name (" +
                                  Joined(FCertificate.Names, ", ", ", ") + "), not for " +
                                  options.Host);
                break;
            case Expired:
                phrases.push_back(
                    Dated(problem.Depth, "has expired", "valid until", problem.Detail));
                break;
            case NotYetValid:
                phrases.push_back(
                    Dated(problem.Depth, "is not valid yet", "valid from", problem.Detail));
                break;
            default:
                phrases.push_back("cannot be verified (" + problem.Detail + ")");
                break;
            }
        }
    }
    return Joined(phrases, ", ", " and ");
}

std::string TTlsTransport::Protocol() const
{
    return FSsl != nullptr ? SSL_get_version(FSsl) : "";
}

std::string TTlsTransport::Cipher() const
{
    const char* name = FSsl != nullptr ? SSL_get_cipher_name(FSsl) : nullptr;
    return name != nullptr ? name : "";
}

bool TTlsTransport::Flush(int timeoutMs)
{
    for (;;) {
        const int count = BIO_read(FNetworkOut, FChunk.data(), static_cast<int>(FChunk.size()));
        if (count <= 0)
            return true;
        std::size_t done = 0;
        while (done < static_cast<std::size_t>(count)) {
            const long sent = FWinsock.send(FSocket, FChunk.data() + done,
                                            static_cast<std::size_t>(count) - done, 0, timeoutMs);
            if (sent <= 0) {
                FLastError = sent < 0 ? FWinsock.WSAGetLastError() : WireErrors::Shutdown;
                return false;
            }
            done += static_cast<std::size_t>(sent);
        }
    }
}

long TTlsTransport::Pull(int timeoutMs)
{
    const long count = FWinsock.recv(FSocket, FChunk.data(), FChunk.size(), 0, timeoutMs);
    if (count < 0) {
        FLastError = FWinsock.WSAGetLastError();
        return -1;
    }
    if (count > 0)
        BIO_write(FNetworkIn, FChunk.data(), static_cast<int>(count));
    return count;
}

long TTlsTransport::Receive(char* buffer, std::size_t capacity, int timeoutMs)
{
    if (FSsl == nullptr) {
        FLastError = 10057;
        return -1;
    }
    if (!SendGathered(timeoutMs))
        return -1;
    const bool limited = timeoutMs > 0;
    const auto deadline = TClock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        ERR_clear_error();
        const int count = SSL_read(FSsl, buffer, static_cast<int>(std::min(capacity, MaxCall)));
        const int error = count > 0 ? SSL_ERROR_NONE : SSL_get_error(FSsl, count);
        // Reading may have made the library answer (a key update): that goes out first. A
        // failure to send it shows at the next call.
        const bool flushed = Flush(timeoutMs);
        if (count > 0)
            return count;
        if (!flushed)
            return -1;
        if (error == SSL_ERROR_ZERO_RETURN) {
            FEstablished = false;
            return 0;
        }
        if (error != SSL_ERROR_WANT_READ)
            RaiseSessionError();
        int wait = 0;
        if (limited) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - TClock::now())
                    .count();
            if (left <= 0) {
                FLastError = WireErrors::TimedOut;
                return -1;
            }
            wait = static_cast<int>(left);
        }
        const long pulled = Pull(wait);
        if (pulled < 0)
            return -1;
        // The peer went without the TLS goodbye: to POP3 its replies are complete or not by
        // their own terminators, so this is the end of the stream as on a plain socket.
        if (pulled == 0) {
            FEstablished = false;
            return 0;
        }
    }
}

long TTlsTransport::Send(const char* data, std::size_t count, int timeoutMs)
{
    if (FSsl == nullptr) {
        FLastError = 10057;
        return -1;
    }
    FGathered.append(data, count);
    if (FGathered.size() >= RecordSize && !SendGathered(timeoutMs))
        return -1;
    return static_cast<long>(count);
}

bool TTlsTransport::SendGathered(int timeoutMs)
{
    while (!FGathered.empty()) {
        ERR_clear_error();
        const int written = SSL_write(FSsl, FGathered.data(),
                                      static_cast<int>(std::min(FGathered.size(), RecordSize)));
        if (written <= 0)
            RaiseSessionError();
        FGathered.erase(0, static_cast<std::size_t>(written));
    }
    return Flush(timeoutMs);
}

void TTlsTransport::RaiseSocketError(int number)
{
    throw EWireSocketError(number, FWinsock.TranslateSocketError(number));
}

void TTlsTransport::RaiseHandshakeError(const TTlsOptions& options, bool peerClosed)
{
    const unsigned long code = ERR_peek_last_error();
    ERR_clear_error();
    const std::string reason = peerClosed
                                   ? "the server closed the connection during the TLS handshake"
                                   : HandshakeReason(code, options.Port);
    throw EWireTlsError("The secure connection to " + options.Host +
                        " could not be established: " + reason + ".");
}

void TTlsTransport::RaiseSessionError()
{
    const unsigned long code = ERR_peek_last_error();
    ERR_clear_error();
    FEstablished = false;
    const char* reason = code != 0 ? ERR_reason_error_string(code) : nullptr;
    throw EWireTlsError("The secure connection to " + FHost + " broke down (" +
                        (reason != nullptr ? reason : "TLS error") + ").");
}
