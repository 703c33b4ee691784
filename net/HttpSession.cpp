#include "net/HttpSession.h"

#include "net/HttpClient.h"
#include "net/HttpSocket.h"

#include <algorithm>
#include <cctype>
#include <mutex>
#include <string_view>

void EnsureLibraryInitialised()
{
    // The library's global set-up is not safe to run twice or from two threads at once.
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

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

TInternetSession::TInternetSession()
{
    EnsureLibraryInitialised();
    Multi = curl_multi_init();
}

TInternetSession::~TInternetSession()
{
    Shutdown();
}

void TInternetSession::Shutdown()
{
    if (Multi == nullptr)
        return;
    for (CURL* easy : Attached)
        curl_multi_remove_handle(Multi, easy);
    Attached.clear();
    curl_multi_cleanup(Multi);
    Multi = nullptr;
}

THTTPRequest::THTTPRequest()
{
    EnsureLibraryInitialised();
    Easy = curl_easy_init();
}

THTTPRequest::~THTTPRequest()
{
    if (Easy != nullptr)
        curl_easy_cleanup(Easy);
    curl_slist_free_all(Headers);
}

namespace {

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

} // namespace

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
