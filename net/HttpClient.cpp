#include "net/HttpClient.h"

#include "net/HttpSession.h"
#include "net/HttpSocket.h"
#include "net/ProxyList.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <stdexcept>
#include <string_view>
#include <utility>

namespace {

using namespace std::chrono_literals;
using TClock = THTTPRequest::TClock;

constexpr const char* AgentName = "Mailbeacon";
// The library's own connect time-out comes first; this is only the guard behind it.
constexpr auto ConnectGrace = 500ms;
// Longest single wait, so that a missed wake-up costs at most this much.
constexpr auto LongestWait = 1000ms;

std::string Number(std::uint64_t value)
{
    return std::to_string(value);
}

// A parsed URL, freed when it goes out of scope.
class TParsedURL
{
public:
    TParsedURL()
        : FHandle(curl_url())
    {}
    ~TParsedURL() { curl_url_cleanup(FHandle); }
    TParsedURL(const TParsedURL&) = delete;
    TParsedURL& operator=(const TParsedURL&) = delete;

    CURLU* Handle() const { return FHandle; }

    // The part, or empty when the URL has none.
    std::string Part(CURLUPart part, unsigned int flags = 0) const
    {
        char* text = nullptr;
        if (curl_url_get(FHandle, part, &text, flags) != CURLUE_OK || text == nullptr)
            return {};
        std::string result(text);
        curl_free(text);
        return result;
    }

private:
    CURLU* FHandle;
};

std::string HostForURL(const std::string& host)
{
    if (host.find(':') != std::string::npos && host.front() != '[')
        return "[" + host + "]";
    return host;
}

bool IsTokenChar(unsigned char c)
{
    return std::isalnum(c) != 0 ||
           std::string_view("!#$%&'*+-.^_`|~").find(static_cast<char>(c)) != std::string_view::npos;
}

// "Name: value" with a proper field name and no line break or other control character.
bool IsHeaderLine(const std::string& line)
{
    const auto colon = line.find(':');
    if (colon == 0 || colon == std::string::npos)
        return false;
    for (std::size_t i = 0; i < colon; ++i) {
        if (!IsTokenChar(static_cast<unsigned char>(line[i])))
            return false;
    }
    return std::none_of(line.begin() + static_cast<std::ptrdiff_t>(colon), line.end(),
                        [](unsigned char c) { return c < 0x20 && c != '\t'; });
}

bool HasHeader(const std::vector<std::string>& lines, std::string_view name)
{
    return std::any_of(lines.begin(), lines.end(), [name](const std::string& line) {
        if (line.size() <= name.size() || line[name.size()] != ':')
            return false;
        return std::equal(name.begin(), name.end(), line.begin(), [](char a, char b) {
            return std::tolower(static_cast<unsigned char>(a)) ==
                   std::tolower(static_cast<unsigned char>(b));
        });
    });
}

std::uint32_t AccessTypeOf(TResolveNames resolveNames)
{
    switch (resolveNames) {
    case rnPreConfig:
        return 0;
    case rnProxy:
        return 3;
    case rnLocal:
        break;
    }
    return 1;
}

std::string Lower(std::string_view text)
{
    std::string result(text);
    std::transform(result.begin(), result.end(), result.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return result;
}

std::string_view Trimmed(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r' ||
                             text.back() == '\n'))
        text.remove_suffix(1);
    return text;
}

TSimpleHTTP& Owner(void* owner)
{
    return *static_cast<TSimpleHTTP*>(owner);
}

// The client's error number for a library result.
std::uint32_t InternetErrorFromCurl(CURLcode code)
{
    switch (code) {
    case CURLE_OK:
        return 0;
    case CURLE_OPERATION_TIMEDOUT:
        return InternetError::Timeout;
    case CURLE_FAILED_INIT:
    case CURLE_OUT_OF_MEMORY:
    case CURLE_BAD_FUNCTION_ARGUMENT:
    case CURLE_UNKNOWN_OPTION:
    case CURLE_NOT_BUILT_IN:
        return InternetError::InternalError;
    case CURLE_URL_MALFORMAT:
        return InternetError::InvalidUrl;
    case CURLE_UNSUPPORTED_PROTOCOL:
        return InternetError::UnrecognizedScheme;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
        return InternetError::NameNotResolved;
    case CURLE_LOGIN_DENIED:
        return InternetError::LoginFailure;
    case CURLE_ABORTED_BY_CALLBACK:
        return InternetError::OperationCancelled;
    case CURLE_COULDNT_CONNECT:
        return InternetError::CannotConnect;
    case CURLE_SEND_ERROR:
    case CURLE_PARTIAL_FILE:
        return InternetError::ConnectionAborted;
    case CURLE_RECV_ERROR:
        return InternetError::ConnectionReset;
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_CERTPROBLEM:
        return InternetError::InvalidCertificateAuthority;
    case CURLE_SSL_CONNECT_ERROR:
        return InternetError::SecurityChannelError;
    case CURLE_GOT_NOTHING:
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_HTTP2:
    case CURLE_BAD_CONTENT_ENCODING:
        return InternetError::InvalidServerResponse;
    case CURLE_TOO_MANY_REDIRECTS:
        return InternetError::RedirectFailed;
    default:
        return InternetError::ExtendedError;
    }
}

// Marks the time the library may call back into the client, when an event handler must not
// close or reuse it.
class TLibraryCall
{
public:
    explicit TLibraryCall(int& depth)
        : FDepth(depth)
    {
        ++FDepth;
    }
    ~TLibraryCall() { --FDepth; }
    TLibraryCall(const TLibraryCall&) = delete;
    TLibraryCall& operator=(const TLibraryCall&) = delete;

private:
    int& FDepth;
};

} // namespace

// The library's callbacks, turned into the client's notifications and buffers. None of them
// lets an exception through the library: a handler's exception is kept and thrown again once
// the library has returned.
struct TLibraryCallbacks
{
    static void Install(TSimpleHTTP& owner, THTTPRequest& request);

    static int ResolverStart(void* resolverState, void* reserved, void* owner);
    static curl_socket_t OpenSocket(void* owner, curlsocktype purpose, curl_sockaddr* address);
    static int SocketOptions(void* owner, curl_socket_t socket, curlsocktype purpose);
    static int PreRequest(void* owner, char* remoteIp, char* localIp, int remotePort,
                          int localPort);
    static int CloseSocket(void* owner, curl_socket_t socket);
    static std::size_t Header(char* data, std::size_t size, std::size_t count, void* owner);
    static std::size_t Write(char* data, std::size_t size, std::size_t count, void* owner);
    static int Progress(void* owner, curl_off_t, curl_off_t, curl_off_t, curl_off_t);

    static TInternetSession* SessionOf(TWinInetControl& owner) { return owner.FSession.get(); }
    static THTTPRequest* RequestOf(TSimpleHTTP& owner);
    static void Notify(TWinInetControl& owner, std::uint32_t status, const std::string& info);
};

TWinInetControl::TWinInetControl()
{
    EnsureLibraryInitialised();
}

TWinInetControl::~TWinInetControl()
{
    FDestroying = true;
    FPendingException = nullptr;
    CloseSession();
}

std::uint32_t TWinInetControl::ConnectRetries() const
{
    return FSession ? FSession->ConnectRetries : FConnectRetries;
}

void TWinInetControl::SetConnectRetries(std::uint32_t value)
{
    FConnectRetries = value;
    if (FSession)
        FSession->ConnectRetries = value;
}

void TWinInetControl::SetEnableCache(bool value)
{
    FEnableCache = value;
    SetRequestFlag(ReloadFlag, !value);
}

std::uint32_t TWinInetControl::ConnectTimeout() const
{
    return FSession ? FSession->ConnectTimeout : FConnectTimeout;
}

void TWinInetControl::SetConnectTimeout(std::uint32_t value)
{
    FConnectTimeout = value == 0 ? DefaultConnectTimeout : value;
    if (FSession)
        FSession->ConnectTimeout = FConnectTimeout;
}

void TWinInetControl::SetReceiveTimeout(std::uint32_t value)
{
    FReceiveTimeout = value == 0 ? DefaultReceiveTimeout : value;
}

void TWinInetControl::SetResolveNames(TResolveNames value)
{
    FResolveNames = value;
    FAccessType = AccessTypeOf(value);
}

void TWinInetControl::SetProxyBypassList(const std::vector<std::string>& lines)
{
    FProxyBypassList = lines;
}

void TWinInetControl::SetRequestFlag(std::uint32_t flag, bool on)
{
    FRequestFlags = on ? (FRequestFlags | flag) : (FRequestFlags & ~flag);
}

std::string TWinInetControl::StateText() const
{
    switch (FState) {
    case wisDisconnecting:
        return "Disconnecting from " + HostName;
    case wisNotConnected:
        return "No connection";
    case wisConnecting:
        return "Connecting to " + HostName;
    case wisConnected:
        return "Connected to " + HostName;
    case wisResolving:
        return "Resolving name " + HostName;
    case wisResolved:
        return "Resolved name " + HostName;
    }
    return "Unknown state!  Contact support ...";
}

std::string TWinInetControl::LastResponseText() const
{
    return FLastResponseText.empty() ? "No error description available" : FLastResponseText;
}

void TWinInetControl::Cancel()
{
    FCancelled.store(true);
    std::lock_guard lock(FWakeMutex);
    if (FWakeHandle != nullptr)
        curl_multi_wakeup(FWakeHandle);
}

bool TWinInetControl::SetState(TWinInetState newState)
{
    if (newState == FState)
        return false;
    FState = newState;
    if (FDestroying)
        return true;
    if (OnStateChange)
        OnStateChange(*this, newState);
    if (QuickProgress && QuickStatus != nullptr)
        QuickStatus->ShowStatusText(StateText());
    return true;
}

void TWinInetControl::StatusChanged(std::uint32_t status, const std::string&)
{
    switch (status) {
    case InternetStatus::ResolvingName:
        SetState(wisResolving);
        break;
    case InternetStatus::NameResolved:
        SetState(wisResolved);
        break;
    case InternetStatus::ConnectingToServer:
        SetState(wisConnecting);
        break;
    case InternetStatus::ConnectedToServer:
        SetState(wisConnected);
        break;
    case InternetStatus::ClosingConnection:
        SetState(wisDisconnecting);
        break;
    case InternetStatus::ConnectionClosed:
        SetState(wisNotConnected);
        break;
    default:
        break;
    }
}

void TWinInetControl::RaiseConnectError(std::uint32_t code)
{
    SetState(wisNotConnected);
    if (SilentExceptions)
        return;
    switch (code) {
    case InternetError::Timeout:
        throw EWinInetError("Connection to " + HostName + " timed out");
    case InternetError::InternalError:
        throw EWinInetError("Internal WININET error");
    case InternetError::NameNotResolved:
        throw EWinInetError("Unable to resolve host name '" + HostName + "'");
    case InternetError::IncorrectUserName:
        throw EWinInetError("Bad user name: '" + UserName + "' connecting to " + HostName);
    case InternetError::IncorrectPassword:
        throw EWinInetError("Bad password connecting to " + HostName);
    case InternetError::LoginFailure:
    case InternetError::CannotConnect:
        throw EWinInetError("Unable to connect to " + HostName);
    default:
        throw EWinInetError("General Connection Error to " + HostName);
    }
}

bool TWinInetControl::OpenConnection()
{
    if (FState == wisConnected)
        return true;
    if (!FSession) {
        auto session = std::make_unique<TInternetSession>();
        if (session->Multi != nullptr) {
            session->AccessType = FAccessType;
            if (FResolveNames == rnProxy)
                session->ProxyName = ProxyName;
            session->ProxyBypassList = FProxyBypassList;
            FSession = std::move(session);
            std::lock_guard lock(FWakeMutex);
            FWakeHandle = FSession->Multi;
        }
    }
    if (FSession) {
        FSession->ConnectRetries = FConnectRetries;
        FSession->ConnectTimeout = FConnectTimeout;
    }
    return false;
}

bool TWinInetControl::CloseConnection()
{
    if (FInLibrary > 0)
        return false;
    CloseSession();
    if (!FDestroying)
        SetState(wisNotConnected);
    return true;
}

void TWinInetControl::CloseSession()
{
    if (!FSession)
        return;
    {
        std::lock_guard lock(FWakeMutex);
        FWakeHandle = nullptr;
    }
    // Shut down while still reachable: the connections closed now are reported as closed.
    {
        TLibraryCall call(FInLibrary);
        FSession->Shutdown();
    }
    FSession.reset();
    RethrowPending();
}

void TWinInetControl::RethrowPending()
{
    if (FPendingException)
        std::rethrow_exception(std::exchange(FPendingException, nullptr));
}

std::int64_t THTTPHeaderInfo::QueryNumber(std::uint32_t level)
{
    const THTTPRequest* request = FOwner.FRequest.get();
    if (request == nullptr)
        return 0;
    std::uint32_t code = 0;
    std::int64_t value = 0;
    if (!request->HeadersDone) {
        code = InternetError::IncorrectHandleState;
    } else if (level == StatusCodeLevel) {
        value = request->StatusCode;
    } else if (level == ContentLengthLevel) {
        code = InternetError::HeaderNotFound;
        for (const auto& [name, text] : request->ResponseHeaders) {
            if (name != "content-length" || text.empty() || text.size() > 18 ||
                !std::all_of(text.begin(), text.end(),
                             [](unsigned char c) { return std::isdigit(c) != 0; }))
                continue;
            value = std::stoll(text);
            code = 0;
        }
    } else {
        code = InternetError::InvalidQueryRequest;
    }
    if (code == 0)
        return value;
    if (!FOwner.SilentExceptions)
        throw ESimpleHTTPError("Error " + Number(code) + " (" + FOwner.LastResponseText() +
                               ") querying HTTP response header");
    return 0;
}

TSimpleHTTP::TSimpleHTTP()
    : FHeaderInfo(*this)
{
    Port = 80;
    SilentExceptions = false;
}

TSimpleHTTP::~TSimpleHTTP()
{
    // No event fires from here on, so closing can throw nothing.
    FDestroying = true;
    FPendingException = nullptr;
    CloseConnection();
}

void TSimpleHTTP::SetBlockSize(std::int32_t value)
{
    FBlockSize = value;
    // The library's answer does not matter: it keeps its own buffer size when it refuses one.
    if (FRequest && FRequest->Easy != nullptr)
        curl_easy_setopt(FRequest->Easy, CURLOPT_BUFFERSIZE, static_cast<long>(value));
}

void TSimpleHTTP::SetEnableSSL(bool value)
{
    FEnableSSL = value;
    SetRequestFlag(SecureFlag, value);
}

std::string TSimpleHTTP::RequestURL() const
{
    return FRequest ? FRequest->Url : std::string();
}

bool TSimpleHTTP::CrackURL(std::string& url)
{
    if (url.find("://") == std::string::npos)
        return false;

    TParsedURL parsed;
    std::uint32_t code = 0;
    std::string reason;
    if (parsed.Handle() == nullptr) {
        code = InternetError::InternalError;
        reason = "Out of memory";
    } else if (const CURLUcode rc = curl_url_set(parsed.Handle(), CURLUPART_URL, url.c_str(),
                                                 CURLU_NON_SUPPORT_SCHEME | CURLU_PATH_AS_IS);
               rc != CURLUE_OK) {
        code = rc == CURLUE_UNSUPPORTED_SCHEME || rc == CURLUE_BAD_SCHEME
                   ? InternetError::UnrecognizedScheme
                   : InternetError::InvalidUrl;
        reason = curl_url_strerror(rc);
    }

    std::string scheme, host, user, password, port, path, query, fragment;
    if (code == 0) {
        scheme = parsed.Part(CURLUPART_SCHEME);
        host = parsed.Part(CURLUPART_HOST);
        user = parsed.Part(CURLUPART_USER, CURLU_URLDECODE);
        password = parsed.Part(CURLUPART_PASSWORD, CURLU_URLDECODE);
        port = parsed.Part(CURLUPART_PORT, CURLU_DEFAULT_PORT);
        path = parsed.Part(CURLUPART_PATH);
        query = parsed.Part(CURLUPART_QUERY);
        fragment = parsed.Part(CURLUPART_FRAGMENT);
        const std::string extra =
            (query.empty() ? "" : "?" + query) + (fragment.empty() ? "" : "#" + fragment);
        for (const std::string* part : std::initializer_list<const std::string*>{
                 &scheme, &host, &user, &password, &path, &extra}) {
            if (part->size() > MaxUrlPartLength) {
                code = InternetError::InsufficientBuffer;
                reason =
                    "A part of the URL is longer than " + Number(MaxUrlPartLength) + " characters";
            }
        }
    }
    if (code != 0) {
        SetLastResponseText(reason);
        if (!SilentExceptions)
            throw ESimpleHTTPError("Error " + Number(code) + " (" + LastResponseText() +
                                   ") cracking URL " + url);
        return false;
    }

    Port = port.empty() ? 0 : std::stoi(port);
    if (scheme == "http")
        SetEnableSSL(false);
    else if (scheme == "https")
        SetEnableSSL(true);
    if (!host.empty())
        HostName = host;
    if (!user.empty())
        UserName = user;
    if (!password.empty())
        Password = password;
    if (!path.empty()) {
        url = path;
        if (!query.empty())
            url += "?" + query;
        if (!fragment.empty())
            url += "#" + fragment;
    }
    return true;
}

bool TSimpleHTTP::OpenConnection()
{
    const bool result = TWinInetControl::OpenConnection();
    FConnection.reset();
    std::uint32_t code = InternetError::InternalError;
    if (!HasSession()) {
        SetLastResponseText("The library session could not be created");
    } else if (HostName.empty()) {
        code = InternetError::NameNotResolved;
        SetLastResponseText("No host name");
    } else if (Port < 0 || Port > std::numeric_limits<std::uint16_t>::max()) {
        // Never cut down to 16 bits: that would reach some other port.
        code = InternetError::InvalidUrl;
        SetLastResponseText("Port " + std::to_string(Port) + " is out of range");
    } else {
        FConnection =
            TServerConnection{HostName, static_cast<std::uint16_t>(Port), UserName, Password};
        return true;
    }
    CloseSession();
    RaiseConnectError(code);
    return result;
}

bool TSimpleHTTP::OpenRequest(std::string url, const std::string& verb)
{
    if (FInLibrary > 0)
        throw std::logic_error("TSimpleHTTP: a request was started from one of its own events");
    CloseRequest();
    SetLastResponseText({});
    CrackURL(url);
    OpenConnection();
    if (!FConnection)
        return SendRequest(verb);

    auto request = std::make_unique<THTTPRequest>();
    if (request->Easy == nullptr) {
        SetLastResponseText("The request could not be created");
        return SendRequest(verb);
    }
    request->Verb = verb.empty() ? "GET" : verb;
    const std::string object = !url.empty() && url.front() == '/' ? url : "/" + url;
    request->Url = std::string(FEnableSSL ? "https://" : "http://") +
                   HostForURL(FConnection->Host) +
                   (FConnection->Port != 0 ? ":" + Number(FConnection->Port) : "") + object;
    FRequest = std::move(request);

    CURL* easy = FRequest->Easy;
    TLibraryCallbacks::Install(*this, *FRequest);
    curl_easy_setopt(easy, CURLOPT_URL, FRequest->Url.c_str());
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, FRequest->ErrorBuffer);
    // No signals: the client may run on any thread, and time-outs are kept without alarms.
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_USERAGENT, AgentName);
    curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(easy, CURLOPT_MAXREDIRS, static_cast<long>(MaxRedirects));
    curl_easy_setopt(easy, CURLOPT_PATH_AS_IS, 1L);
    curl_easy_setopt(easy, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, static_cast<long>(FBlockSize));
    // An https address is only ever fetched from a server whose certificate the authorities
    // vouch for and which names the host. SSL_CERT_FILE and SSL_CERT_DIR point at another
    // store, as they do for the POP3 client's TLS.
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
    if (const char* file = std::getenv("SSL_CERT_FILE"); file != nullptr && *file != '\0')
        curl_easy_setopt(easy, CURLOPT_CAINFO, file);
    if (const char* folder = std::getenv("SSL_CERT_DIR"); folder != nullptr && *folder != '\0')
        curl_easy_setopt(easy, CURLOPT_CAPATH, folder);
    if (!Referrer.empty())
        curl_easy_setopt(easy, CURLOPT_REFERER, Referrer.c_str());
    if (!FConnection->UserName.empty()) {
        curl_easy_setopt(easy, CURLOPT_USERNAME, FConnection->UserName.c_str());
        curl_easy_setopt(easy, CURLOPT_PASSWORD, FConnection->Password.c_str());
        curl_easy_setopt(easy, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_BASIC));
    }
    const TInternetSession& session = *Session();
    if (session.AccessType != 0) {
        // An empty proxy also keeps the library from taking one from the environment.
        const std::string proxy =
            session.AccessType == 3 && !BypassesProxy(session.ProxyBypassList, FConnection->Host)
                ? SelectProxy(session.ProxyName, FEnableSSL)
                : std::string();
        curl_easy_setopt(easy, CURLOPT_PROXY, proxy.c_str());
    }

    if (!FOptionalHeaders.empty() && !AddOptionalHeaders() && !SilentExceptions)
        throw ESimpleHTTPError("Error " + Number(InternetError::InvalidHeader) + " (" +
                               LastResponseText() + ") adding post headers");
    return SendRequest(verb);
}

bool TSimpleHTTP::AddOptionalHeaders()
{
    for (const auto& line : FOptionalHeaders) {
        if (line.empty())
            continue;
        if (!IsHeaderLine(line)) {
            SetLastResponseText("Not a header line: " + line);
            return false;
        }
    }
    for (const auto& line : FOptionalHeaders) {
        if (!line.empty())
            FRequest->Headers = curl_slist_append(FRequest->Headers, line.c_str());
    }
    return true;
}

bool TSimpleHTTP::SendRequest(const std::string& verb)
{
    if (FInLibrary > 0)
        throw std::logic_error("TSimpleHTTP: a request was sent from one of its own events");
    if (!FRequest || !FConnection || !HasSession()) {
        // Nothing to send: the failure was reported, or silenced, where it happened.
        SetState(wisNotConnected);
        if (!SilentExceptions)
            throw ESimpleHTTPError("Unable to send request to " + HostName + " (" +
                                   LastResponseText() + ")");
        return false;
    }

    THTTPRequest& request = *FRequest;
    CURL* easy = request.Easy;
    const bool withBody = verb == "POST" || verb == "PUT";
    request.Body.clear();
    if (withBody) {
        for (const auto& line : FPostData)
            request.Body += line + "\r\n";
        if (!request.Body.empty())
            request.Body.resize(request.Body.size() - 2);
    }
    if (request.Verb == "HEAD") {
        curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
    } else if (request.Verb == "GET" && !withBody) {
        curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
    } else {
        curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, request.Verb.c_str());
        if (withBody) {
            curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE,
                             static_cast<curl_off_t>(request.Body.size()));
            curl_easy_setopt(easy, CURLOPT_POSTFIELDS, request.Body.c_str());
        }
    }

    curl_slist* headers = nullptr;
    for (const curl_slist* item = request.Headers; item != nullptr; item = item->next)
        headers = curl_slist_append(headers, item->data);
    if ((RequestFlags() & ReloadFlag) != 0) {
        headers = curl_slist_append(headers, "Cache-Control: no-cache");
        headers = curl_slist_append(headers, "Pragma: no-cache");
    }
    // The body goes at once, and has no content type unless the caller gives one.
    headers = curl_slist_append(headers, "Expect:");
    if (withBody && !HasHeader(FOptionalHeaders, "Content-Type"))
        headers = curl_slist_append(headers, "Content-Type:");
    curl_slist_free_all(request.Headers);
    request.Headers = headers;
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, request.Headers);
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(ConnectTimeout()));

    const std::uint32_t attempts = std::max<std::uint32_t>(1, ConnectRetries());
    for (std::uint32_t attempt = 1;; ++attempt) {
        StartAttempt();
        Drive([&request] { return request.HeadersDone; });
        request.Sent = request.HeadersDone || (request.Finished && request.ErrorCode == 0);
        const bool again = !request.Sent && !request.Connected && attempt < attempts &&
                           !Cancelled() &&
                           (request.ErrorCode == InternetError::CannotConnect ||
                            request.ErrorCode == InternetError::Timeout);
        if (!again)
            break;
    }

    if (request.Sent) {
        if (OnConnected)
            OnConnected(*this);
        // A short answer may have come whole and its connection closed already; the state
        // then stays "not connected" rather than claim a connection that is gone.
        if (!request.Finished || State() != wisNotConnected)
            SetState(wisConnected);
        return true;
    }
    SetLastResponseText(request.ErrorText);
    const bool connectionFailed = !request.Connected &&
                                  request.ErrorCode != InternetError::OperationCancelled &&
                                  request.ErrorCode != InternetError::InvalidUrl &&
                                  request.ErrorCode != InternetError::UnrecognizedScheme;
    if (connectionFailed) {
        // As with a failed server connection: the session closes, and the next request opens
        // a new one with the options of that time.
        CloseSession();
        RaiseConnectError(request.ErrorCode);
        return false;
    }
    SetState(wisNotConnected);
    if (!SilentExceptions)
        throw ESimpleHTTPError("Unable to send request to " + HostName + " (" + LastResponseText() +
                               ")");
    return false;
}

void TSimpleHTTP::StartAttempt()
{
    THTTPRequest& request = *FRequest;
    TInternetSession& session = *Session();
    if (session.Attached.erase(request.Easy) > 0) {
        TLibraryCall call(FInLibrary);
        curl_multi_remove_handle(session.Multi, request.Easy);
    }
    request.Sent = request.Connected = request.HeadersDone = request.Finished = false;
    request.ErrorCode = 0;
    request.ErrorText.clear();
    request.ErrorBuffer[0] = '\0';
    request.StatusCode = request.BlockStatus = 0;
    request.BlockHasLocation = false;
    request.ResponseHeaders.clear();
    request.BlockHeaders.clear();
    request.Pending.clear();
    request.PendingOffset = 0;
    request.AttemptStart = request.LastActivity = TClock::now();
    RethrowPending();
    if (const CURLMcode rc = curl_multi_add_handle(session.Multi, request.Easy); rc != CURLM_OK) {
        GiveUp(InternetError::InternalError, curl_multi_strerror(rc));
        return;
    }
    session.Attached.insert(request.Easy);
}

void TSimpleHTTP::Drive(const std::function<bool()>& enough)
{
    THTTPRequest& request = *FRequest;
    while (!request.Finished && !enough()) {
        TInternetSession* session = Session();
        if (session == nullptr) {
            GiveUp(InternetError::IncorrectHandleState, "The session was closed");
            break;
        }
        if (Cancelled()) {
            GiveUp(InternetError::OperationCancelled, "The request was cancelled");
            break;
        }
        int running = 0;
        CURLMcode rc = CURLM_OK;
        {
            TLibraryCall call(FInLibrary);
            rc = curl_multi_perform(session->Multi, &running);
        }
        if (FPendingException)
            GiveUp(InternetError::OperationCancelled, "An event handler failed");
        if (rc != CURLM_OK) {
            GiveUp(InternetError::InternalError, curl_multi_strerror(rc));
            break;
        }
        CollectFinished();
        if (request.Finished || enough())
            break;

        const auto now = TClock::now();
        const auto deadline =
            request.Connected
                ? request.LastActivity + std::chrono::milliseconds(ReceiveTimeout())
                : request.AttemptStart + std::chrono::milliseconds(session->ConnectTimeout) +
                      ConnectGrace;
        if (now >= deadline) {
            if (request.Connected)
                GiveUp(InternetError::Timeout,
                       "No data received for " + Number(ReceiveTimeout()) + " ms");
            else
                GiveUp(InternetError::Timeout,
                       "Connection timed out after " + Number(session->ConnectTimeout) + " ms");
            break;
        }
        const auto wait =
            std::min(std::chrono::ceil<std::chrono::milliseconds>(deadline - now),
                     std::chrono::duration_cast<std::chrono::milliseconds>(LongestWait));
        TLibraryCall call(FInLibrary);
        curl_multi_poll(session->Multi, nullptr, 0, static_cast<int>(wait.count()), nullptr);
    }
}

void TSimpleHTTP::CollectFinished()
{
    THTTPRequest& request = *FRequest;
    TInternetSession& session = *Session();
    int left = 0;
    while (CURLMsg* message = curl_multi_info_read(session.Multi, &left)) {
        if (message->msg != CURLMSG_DONE || message->easy_handle != request.Easy)
            continue;
        const CURLcode result = message->data.result;
        session.Attached.erase(request.Easy);
        {
            // Hands a kept-alive connection back to the session for the next request.
            TLibraryCall call(FInLibrary);
            curl_multi_remove_handle(session.Multi, request.Easy);
        }
        request.Finished = true;
        if (Cancelled() && result != CURLE_OK) {
            request.ErrorCode = InternetError::OperationCancelled;
            request.ErrorText = "The request was cancelled";
        } else if (result != CURLE_OK) {
            request.ErrorCode = InternetErrorFromCurl(result);
            request.ErrorText =
                request.ErrorBuffer[0] != '\0' ? request.ErrorBuffer : curl_easy_strerror(result);
        }
        break;
    }
    RethrowPending();
}

void TSimpleHTTP::GiveUp(std::uint32_t code, const std::string& text)
{
    THTTPRequest& request = *FRequest;
    if (TInternetSession* session = Session(); session && session->Attached.erase(request.Easy)) {
        TLibraryCall call(FInLibrary);
        curl_multi_remove_handle(session->Multi, request.Easy);
    }
    request.Finished = true;
    request.ErrorCode = code;
    request.ErrorText = text;
    RethrowPending();
}

bool TSimpleHTTP::ReadResponse(std::string& stream)
{
    if (FInLibrary > 0)
        throw std::logic_error("TSimpleHTTP: a response was read from one of its own events");
    FProgressInfo = {};
    try {
        FProgressInfo.TotalSize = FHeaderInfo.ContentLength();
    } catch (const ESimpleHTTPError&) {
        // An unknown length only means that the progress cannot be shown as a share.
    }
    // The stream holds this body only, never the tail of an earlier, longer one.
    stream.clear();
    if (!FRequest || !FRequest->Sent) {
        if (FRequest && FRequest->ErrorCode != 0) {
            SetLastResponseText(FRequest->ErrorText);
            RaiseReadError(FRequest->ErrorCode);
        }
        RaiseReadError(InternetError::IncorrectHandleState);
    }

    THTTPRequest& request = *FRequest;
    // A block size of 0 or less reads what the buffer holds, as a negative one always has.
    const std::size_t blockLimit =
        FBlockSize <= 0 ? ReadBufferSize
                        : std::min(static_cast<std::size_t>(FBlockSize), ReadBufferSize);
    for (;;) {
        if (request.Available() == 0 && !request.Finished)
            Drive([&request] { return request.Available() > 0; });
        const std::size_t count = std::min(blockLimit, request.Available());
        if (count == 0) {
            if (request.ErrorCode != 0) {
                SetLastResponseText(request.ErrorText);
                RaiseReadError(request.ErrorCode);
            }
            break;
        }
        stream.append(request.Pending, request.PendingOffset, count);
        request.PendingOffset += count;
        FProgressInfo.BytesTransferred += static_cast<std::int64_t>(count);
        if (OnTransferProgress)
            OnTransferProgress(*this, FProgressInfo);
        if (QuickProgress)
            UpdateQuickProgress();
    }
    return true;
}

void TSimpleHTTP::RaiseReadError(std::uint32_t code)
{
    throw EWinInetError("Error " + Number(code) + " (" + LastResponseText() + ") reading URL " +
                        RequestURL());
}

void TSimpleHTTP::Get(std::string url, std::string& stream)
{
    try {
        OpenRequest(std::move(url), std::string());
        ReadResponse(stream);
    } catch (...) {
        SetState(wisNotConnected);
        throw;
    }
    SetState(wisNotConnected);
}

void TSimpleHTTP::UpdateQuickProgress()
{
    if (QuickProgressMinor == nullptr)
        return;
    QuickProgressMinor->SetMaximum(100);
    int position = 0;
    if (FProgressInfo.TotalSize > 0) {
        // The default rounding mode takes halves to the even neighbour.
        position =
            static_cast<int>(std::nearbyint(static_cast<double>(FProgressInfo.BytesTransferred) /
                                            static_cast<double>(FProgressInfo.TotalSize) * 100.0));
    }
    QuickProgressMinor->SetPosition(position);
}

void TSimpleHTTP::CloseRequest()
{
    if (!FRequest)
        return;
    std::unique_ptr<THTTPRequest> request = std::move(FRequest);
    {
        TLibraryCall call(FInLibrary);
        if (TInternetSession* session = Session();
            session && session->Attached.erase(request->Easy))
            curl_multi_remove_handle(session->Multi, request->Easy);
        request.reset();
    }
    RethrowPending();
}

bool TSimpleHTTP::CloseConnection()
{
    if (FInLibrary > 0)
        return false;
    bool closed = true;
    try {
        CloseRequest();
    } catch (const std::exception&) {
        closed = false;
    }
    FConnection.reset();
    try {
        TWinInetControl::CloseConnection();
    } catch (const std::exception&) {
        closed = false;
    }
    return closed;
}

void TLibraryCallbacks::Notify(TWinInetControl& owner, std::uint32_t status,
                               const std::string& info)
{
    if (owner.FDestroying || owner.FPendingException)
        return;
    try {
        owner.StatusChanged(status, info);
    } catch (...) {
        // Thrown again by the owner once the library has returned; it must not unwind through C.
        owner.FPendingException = std::current_exception();
    }
}

THTTPRequest* TLibraryCallbacks::RequestOf(TSimpleHTTP& owner)
{
    return owner.FRequest.get();
}

void TLibraryCallbacks::Install(TSimpleHTTP& owner, THTTPRequest& request)
{
    void* self = &owner;
    CURL* easy = request.Easy;
    curl_easy_setopt(easy, CURLOPT_RESOLVER_START_FUNCTION, &ResolverStart);
    curl_easy_setopt(easy, CURLOPT_RESOLVER_START_DATA, self);
    curl_easy_setopt(easy, CURLOPT_OPENSOCKETFUNCTION, &OpenSocket);
    curl_easy_setopt(easy, CURLOPT_OPENSOCKETDATA, self);
    curl_easy_setopt(easy, CURLOPT_SOCKOPTFUNCTION, &SocketOptions);
    curl_easy_setopt(easy, CURLOPT_SOCKOPTDATA, self);
    curl_easy_setopt(easy, CURLOPT_PREREQFUNCTION, &PreRequest);
    curl_easy_setopt(easy, CURLOPT_PREREQDATA, self);
    curl_easy_setopt(easy, CURLOPT_CLOSESOCKETFUNCTION, &CloseSocket);
    curl_easy_setopt(easy, CURLOPT_CLOSESOCKETDATA, self);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &Header);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, self);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Write);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, self);
    curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, &Progress);
    curl_easy_setopt(easy, CURLOPT_XFERINFODATA, self);
    curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
}

int TLibraryCallbacks::ResolverStart(void*, void*, void* owner)
{
    TSimpleHTTP& self = Owner(owner);
    Notify(self, InternetStatus::ResolvingName, self.HostName);
    return self.FPendingException || self.Cancelled() ? 1 : 0;
}

curl_socket_t TLibraryCallbacks::OpenSocket(void* owner, curlsocktype purpose,
                                            curl_sockaddr* address)
{
    TSimpleHTTP& self = Owner(owner);
    if (purpose == CURLSOCKTYPE_IPCXN)
        Notify(self, InternetStatus::NameResolved, AddressText(*address));
    if (self.FPendingException || self.Cancelled())
        return CURL_SOCKET_BAD;
    const curl_socket_t socket = OpenInternetSocket(*address);
    if (socket != CURL_SOCKET_BAD) {
        if (TInternetSession* session = SessionOf(self))
            session->OpenSockets.insert(socket);
    }
    return socket;
}

int TLibraryCallbacks::SocketOptions(void* owner, curl_socket_t, curlsocktype purpose)
{
    TSimpleHTTP& self = Owner(owner);
    if (purpose == CURLSOCKTYPE_IPCXN)
        Notify(self, InternetStatus::ConnectingToServer, self.HostName);
    return self.FPendingException ? CURL_SOCKOPT_ERROR : CURL_SOCKOPT_OK;
}

int TLibraryCallbacks::PreRequest(void* owner, char* remoteIp, char*, int, int)
{
    TSimpleHTTP& self = Owner(owner);
    // Attempts that lost or failed are closed before a request is sent, so every socket still
    // open now carries a connection.
    if (TInternetSession* session = SessionOf(self))
        session->Established.insert(session->OpenSockets.begin(), session->OpenSockets.end());
    if (THTTPRequest* request = RequestOf(self)) {
        request->Connected = true;
        request->LastActivity = THTTPRequest::TClock::now();
    }
    Notify(self, InternetStatus::ConnectedToServer, remoteIp != nullptr ? remoteIp : "");
    return self.FPendingException || self.Cancelled() ? CURL_PREREQFUNC_ABORT : CURL_PREREQFUNC_OK;
}

int TLibraryCallbacks::CloseSocket(void* owner, curl_socket_t socket)
{
    TSimpleHTTP& self = Owner(owner);
    bool established = false;
    if (TInternetSession* session = SessionOf(self)) {
        session->OpenSockets.erase(socket);
        established = session->Established.erase(socket) > 0;
    }
    if (established)
        Notify(self, InternetStatus::ClosingConnection, self.HostName);
    CloseInternetSocket(socket);
    if (established)
        Notify(self, InternetStatus::ConnectionClosed, self.HostName);
    return 0;
}

std::size_t TLibraryCallbacks::Header(char* data, std::size_t size, std::size_t count, void* owner)
{
    TSimpleHTTP& self = Owner(owner);
    THTTPRequest* request = RequestOf(self);
    const std::size_t length = size * count;
    if (request == nullptr)
        return length;
    request->LastActivity = THTTPRequest::TClock::now();
    // Trailers of a chunked body arrive here too; the response's headers are complete by then.
    if (request->HeadersDone)
        return length;

    const std::string_view line = Trimmed(std::string_view(data, length));
    if (line.substr(0, 5) == "HTTP/") {
        request->BlockHeaders.clear();
        request->BlockHasLocation = false;
        request->BlockStatus = 0;
        const auto blank = line.find(' ');
        if (blank != std::string_view::npos) {
            int status = 0;
            for (std::size_t i = blank + 1; i < line.size() && i < blank + 4; ++i) {
                if (std::isdigit(static_cast<unsigned char>(line[i])) == 0)
                    break;
                status = status * 10 + (line[i] - '0');
            }
            request->BlockStatus = status;
        }
    } else if (line.empty()) {
        // Interim answers (1xx) and redirects that the library follows are not the response.
        const int kind = request->BlockStatus / 100;
        const bool interim = kind == 1 || (kind == 3 && request->BlockHasLocation);
        if (!interim) {
            request->StatusCode = request->BlockStatus;
            request->ResponseHeaders = std::move(request->BlockHeaders);
            request->HeadersDone = true;
        }
        request->BlockHeaders.clear();
    } else if (length > 0 && (data[0] == ' ' || data[0] == '\t') &&
               !request->BlockHeaders.empty()) {
        request->BlockHeaders.back().second += ' ';
        request->BlockHeaders.back().second += line;
    } else if (const auto colon = line.find(':'); colon != std::string_view::npos) {
        std::string name = Lower(Trimmed(line.substr(0, colon)));
        if (name == "location")
            request->BlockHasLocation = true;
        request->BlockHeaders.emplace_back(std::move(name), Trimmed(line.substr(colon + 1)));
    }
    return length;
}

std::size_t TLibraryCallbacks::Write(char* data, std::size_t size, std::size_t count, void* owner)
{
    TSimpleHTTP& self = Owner(owner);
    THTTPRequest* request = RequestOf(self);
    const std::size_t length = size * count;
    if (request == nullptr || self.Cancelled())
        return 0; // ends the transfer
    if (request->PendingOffset > 0 && request->PendingOffset == request->Pending.size()) {
        request->Pending.clear();
        request->PendingOffset = 0;
    }
    request->Pending.append(data, length);
    request->LastActivity = THTTPRequest::TClock::now();
    return length;
}

int TLibraryCallbacks::Progress(void* owner, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    TSimpleHTTP& self = Owner(owner);
    return self.FPendingException || self.Cancelled() ? 1 : 0;
}
