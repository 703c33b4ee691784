#pragma once

#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

// The program's HTTP client: TWinInetControl is the session layer (connection state, proxy
// and time-out options, connection failures), TSimpleHTTP fetches one URL on top of it. The
// transfer library stays behind net/HttpSession.h, which only mb_net's sources include.

// Connection failures of the HTTP client, carrying their fixed message texts.
class EWinInetError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// Request failures of the HTTP client (URL, headers, sending, header queries), carrying their
// fixed message texts.
class ESimpleHTTPError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// Values outside the named ones are possible (their text says so), hence the fixed type.
enum TWinInetState : int
{
    wisDisconnecting = 0,
    wisNotConnected = 1,
    wisConnecting = 2,
    wisConnected = 3,
    wisResolving = 4,
    wisResolved = 5,
};

enum TResolveNames
{
    rnLocal,     // direct connection
    rnPreConfig, // the system's own proxy settings (on Linux the proxy environment variables)
    rnProxy,     // through ProxyName
};

// The connection notifications that move the state, numbered as the session layer receives
// them from the transfer library's callbacks.
namespace InternetStatus {
constexpr std::uint32_t ResolvingName = 10;
constexpr std::uint32_t NameResolved = 11;
constexpr std::uint32_t ConnectingToServer = 20;
constexpr std::uint32_t ConnectedToServer = 21;
constexpr std::uint32_t ClosingConnection = 50;
constexpr std::uint32_t ConnectionClosed = 51;
} // namespace InternetStatus

// The error numbers in the client's messages; every transfer-library failure is mapped onto
// one of them.
namespace InternetError {
constexpr std::uint32_t InsufficientBuffer = 122; // a URL part too long to crack
constexpr std::uint32_t Timeout = 12002;
constexpr std::uint32_t ExtendedError = 12003; // details only in LastResponseText
constexpr std::uint32_t InternalError = 12004;
constexpr std::uint32_t InvalidUrl = 12005;
constexpr std::uint32_t UnrecognizedScheme = 12006;
constexpr std::uint32_t NameNotResolved = 12007;
constexpr std::uint32_t IncorrectUserName = 12013;
constexpr std::uint32_t IncorrectPassword = 12014;
constexpr std::uint32_t LoginFailure = 12015;
constexpr std::uint32_t OperationCancelled = 12017;
constexpr std::uint32_t IncorrectHandleState = 12019;
constexpr std::uint32_t CannotConnect = 12029;
constexpr std::uint32_t ConnectionAborted = 12030;
constexpr std::uint32_t ConnectionReset = 12031;
constexpr std::uint32_t InvalidCertificateAuthority = 12045;
constexpr std::uint32_t HeaderNotFound = 12150;
constexpr std::uint32_t InvalidServerResponse = 12152;
constexpr std::uint32_t InvalidHeader = 12153;
constexpr std::uint32_t InvalidQueryRequest = 12154;
constexpr std::uint32_t RedirectFailed = 12156;
constexpr std::uint32_t SecurityChannelError = 12157;
} // namespace InternetError

// Where the state text goes when QuickProgress is on (a status bar in the window).
class IQuickStatus
{
public:
    virtual ~IQuickStatus() = default;
    virtual void ShowStatusText(const std::string& text) = 0;
};

// Where the transfer percentage goes when QuickProgress is on (a progress bar in the window).
class IQuickProgress
{
public:
    virtual ~IQuickProgress() = default;
    virtual void SetMaximum(int maximum) = 0;
    virtual void SetPosition(int position) = 0;
};

class TWinInetControl;
struct TInternetSession;
struct TLibraryCallbacks;

using TNotifyEvent = std::function<void(TWinInetControl& sender)>;
using TStateChangeEvent = std::function<void(TWinInetControl& sender, TWinInetState newState)>;

// The session layer of the HTTP client: the library session with its proxy and time-out
// options, the connection state and its texts, and the messages of connection failures.
//
// Every call blocks the calling thread, with a time-out, until the library is done. One object
// belongs to one thread at a time; Cancel() is the one call that may come from another thread.
class TWinInetControl
{
public:
    static constexpr std::uint32_t DefaultConnectTimeout = 300000;
    static constexpr std::uint32_t DefaultConnectRetries = 3;
    static constexpr std::uint32_t DefaultReceiveTimeout = 60000;
    static constexpr std::uint32_t ReloadFlag = 0x80000000;

    TWinInetControl();
    virtual ~TWinInetControl();
    TWinInetControl(const TWinInetControl&) = delete;
    TWinInetControl& operator=(const TWinInetControl&) = delete;

    // Connection attempts per request; connection failures that a new attempt may cure
    // (refused, timed out) are tried again up to this many times in all.
    std::uint32_t ConnectRetries() const;
    void SetConnectRetries(std::uint32_t value);
    // When false every request asks that no cache answers it.
    bool EnableCache() const { return FEnableCache; }
    void SetEnableCache(bool value);
    // Milliseconds for resolving the name and connecting; 0 is stored as 300000.
    std::uint32_t ConnectTimeout() const;
    void SetConnectTimeout(std::uint32_t value);
    // Milliseconds a connected request may wait without receiving anything; 0 is stored as
    // 60000. Nothing waits forever.
    std::uint32_t ReceiveTimeout() const { return FReceiveTimeout; }
    void SetReceiveTimeout(std::uint32_t value);
    TResolveNames ResolveNames() const { return FResolveNames; }
    void SetResolveNames(TResolveNames value);
    // Hosts reached without the proxy: one entry per line ("*" matches any text, "<local>"
    // every name without a dot). Taken, like ProxyName and ResolveNames, when a session opens.
    const std::vector<std::string>& ProxyBypassList() const { return FProxyBypassList; }
    void SetProxyBypassList(const std::vector<std::string>& lines);

    std::string HostName;
    std::string UserName;
    std::string Password;
    std::int32_t Port = 0;
    // "http=host:port" (and "https=host:port", or "host:port" for both), separated by blanks.
    std::string ProxyName;
    bool QuickProgress = false;
    IQuickProgress* QuickProgressMinor = nullptr;
    IQuickStatus* QuickStatus = nullptr;
    bool SilentExceptions = true;
    TNotifyEvent OnConnected;
    TStateChangeEvent OnStateChange;

    TWinInetState State() const { return FState; }
    std::string StateText() const;
    std::uint32_t AccessType() const { return FAccessType; }
    std::uint32_t RequestFlags() const { return FRequestFlags; }
    // The library's description of the last failure, or "No error description available".
    std::string LastResponseText() const;

    // Makes the request under way, and every later one of this object, fail at once. Safe to
    // call from any thread while the owning thread is inside a request.
    void Cancel();
    bool Cancelled() const { return FCancelled.load(); }

    virtual void UpdateQuickProgress() = 0;
    // Sets the state to "not connected", then, unless silent, throws EWinInetError with the
    // message for the error code.
    virtual void RaiseConnectError(std::uint32_t code);
    // Receives the library's connection notifications (InternetStatus) and moves the state.
    virtual void StatusChanged(std::uint32_t status, const std::string& information);
    virtual bool OpenConnection();
    virtual bool CloseConnection();

protected:
    bool SetState(TWinInetState newState);
    bool HasSession() const { return FSession != nullptr; }
    TInternetSession* Session() const { return FSession.get(); }
    void CloseSession();
    void SetLastResponseText(std::string text) { FLastResponseText = std::move(text); }
    void SetRequestFlag(std::uint32_t flag, bool on);
    // Destructors set this first: from then on no event is fired.
    bool FDestroying = false;
    // An exception thrown by an event handler while the library was calling back; thrown again
    // once the library has returned.
    std::exception_ptr FPendingException;
    void RethrowPending();
    // Above 0 while the library may call back into this object.
    int FInLibrary = 0;

private:
    friend struct TLibraryCallbacks;

    TWinInetState FState = wisNotConnected;
    std::uint32_t FConnectRetries = DefaultConnectRetries;
    std::uint32_t FConnectTimeout = DefaultConnectTimeout;
    std::uint32_t FReceiveTimeout = DefaultReceiveTimeout;
    bool FEnableCache = false;
    TResolveNames FResolveNames = rnLocal;
    std::uint32_t FAccessType = 1;
    std::uint32_t FRequestFlags = ReloadFlag;
    std::vector<std::string> FProxyBypassList;
    std::string FLastResponseText;
    std::unique_ptr<TInternetSession> FSession;
    std::atomic<bool> FCancelled{false};
    // The session's multi handle as Cancel() on another thread may wake it; cleared before the
    // session closes.
    std::mutex FWakeMutex;
    void* FWakeHandle = nullptr;
};

// Progress of the body being read: bytes so far and the announced length (0 when unknown).
struct THTTPProgressInfo
{
    std::int64_t BytesTransferred = 0;
    std::int64_t TotalSize = 0;
};

class TSimpleHTTP;
struct THTTPRequest;

using THTTPTransferProgressEvent =
    std::function<void(TSimpleHTTP& sender, const THTTPProgressInfo& progressInfo)>;

// Reads numeric response headers of its owner's current request.
class THTTPHeaderInfo
{
public:
    static constexpr std::uint32_t ContentLengthLevel = 5;
    static constexpr std::uint32_t StatusCodeLevel = 19;

    explicit THTTPHeaderInfo(TSimpleHTTP& owner)
        : FOwner(owner)
    {}

    // 0 without a request. When the header is missing or not a number: unless the owner is
    // silent, throws ESimpleHTTPError "Error %d (%s) querying HTTP response header"; else 0.
    std::int64_t QueryNumber(std::uint32_t level);
    std::int64_t ContentLength() { return QueryNumber(ContentLengthLevel); }

private:
    TSimpleHTTP& FOwner;
};

// A small blocking HTTP/1.1 client: fetches one URL into memory, directly or through a named
// proxy, reporting its connection state, and turns every failure into an exception with a
// readable message. The HTTP status is not examined: an error page is a body like any other.
class TSimpleHTTP : public TWinInetControl
{
public:
    static constexpr std::size_t ReadBufferSize = 16384;
    static constexpr std::uint32_t SecureFlag = 0x00800000;
    static constexpr int MaxRedirects = 10;
    static constexpr std::size_t MaxUrlPartLength = 511;

    TSimpleHTTP();
    ~TSimpleHTTP() override;

    // Largest number of bytes read in one step (never more than ReadBufferSize); 0 or less
    // reads what the buffer holds.
    std::int32_t BlockSize() const { return FBlockSize; }
    void SetBlockSize(std::int32_t value);
    bool EnableSSL() const { return FEnableSSL; }
    void SetEnableSSL(bool value);
    // Extra header lines ("Name: value") added to every request.
    const std::vector<std::string>& OptionalHeaders() const { return FOptionalHeaders; }
    void SetOptionalHeaders(const std::vector<std::string>& lines) { FOptionalHeaders = lines; }
    // The body of POST and PUT: the lines joined by CR LF.
    const std::vector<std::string>& PostData() const { return FPostData; }
    void SetPostData(const std::vector<std::string>& lines) { FPostData = lines; }
    std::string Referrer;
    THTTPTransferProgressEvent OnTransferProgress;

    // Fetches url into stream, which then holds exactly the body read. Throws EWinInetError or
    // ESimpleHTTPError (the read error even when silent). The state is "not connected"
    // afterwards, whatever happens.
    void Get(std::string url, std::string& stream);
    // Cracks url, opens the connection and the request, and sends it (an empty verb is GET).
    bool OpenRequest(std::string url, const std::string& verb);
    // Sends the open request and waits for the response headers.
    bool SendRequest(const std::string& verb);
    // Reads the whole body of the sent request into stream, block by block. Throws
    // EWinInetError "Error %d (%s) reading URL %s" when reading fails, even when silent.
    bool ReadResponse(std::string& stream);
    // A url with "://" sets Port, EnableSSL (http, https), HostName, UserName and Password (the
    // non-empty ones) and becomes its path and extra part; a url without it is left as the
    // object name on the current host (result false).
    bool CrackURL(std::string& url);

    void UpdateQuickProgress() override;
    bool OpenConnection() override;
    bool CloseConnection() override;

    const THTTPProgressInfo& ProgressInfo() const { return FProgressInfo; }
    THTTPHeaderInfo& HeaderInfo() { return FHeaderInfo; }
    // The URL of the current request as sent (without user name and password).
    std::string RequestURL() const;

private:
    friend class THTTPHeaderInfo;
    friend struct TLibraryCallbacks;

    struct TServerConnection
    {
        std::string Host;
        std::uint16_t Port = 0;
        std::string UserName;
        std::string Password;
    };

    void CloseRequest();
    bool AddOptionalHeaders();
    void StartAttempt();
    void Drive(const std::function<bool()>& enough);
    void CollectFinished();
    void GiveUp(std::uint32_t code, const std::string& text);
    [[noreturn]] void RaiseReadError(std::uint32_t code);

    std::int32_t FBlockSize = 8192;
    bool FEnableSSL = false;
    std::vector<std::string> FOptionalHeaders;
    std::vector<std::string> FPostData;
    std::optional<TServerConnection> FConnection;
    std::unique_ptr<THTTPRequest> FRequest;
    THTTPHeaderInfo FHeaderInfo;
    THTTPProgressInfo FProgressInfo;
};
