#pragma once

// The HTTP client's private glue to the transfer library; included only by mb_net's sources.

#include "net/HttpClient.h"
#include "net/WinInetControl.h"

#include <chrono>
#include <cstdint>
#include <curl/curl.h>
#include <set>
#include <string>
#include <utility>
#include <vector>

// The library's process-wide set-up, done once by whichever thread comes first.
void EnsureLibraryInitialised();

// The client's error number for a library result.
std::uint32_t InternetErrorFromCurl(CURLcode code);

// What a session fixes when it opens (how servers are reached) and the multi handle whose
// connection and name caches all requests of the session share.
struct TInternetSession
{
    TInternetSession();
    ~TInternetSession();
    TInternetSession(const TInternetSession&) = delete;
    TInternetSession& operator=(const TInternetSession&) = delete;

    // Ends every transfer and closes every connection; the close notifications come from here.
    void Shutdown();

    CURLM* Multi = nullptr;
    std::uint32_t AccessType = 1;
    std::string ProxyName;
    std::vector<std::string> ProxyBypassList;
    std::uint32_t ConnectTimeout = TWinInetControl::DefaultConnectTimeout;
    std::uint32_t ConnectRetries = TWinInetControl::DefaultConnectRetries;
    std::set<CURL*> Attached;
    // Sockets the library opened, and those among them that carried a request: only closing one
    // of the latter is a "connection closed"; the others were failed or losing attempts.
    std::set<curl_socket_t> OpenSockets;
    std::set<curl_socket_t> Established;
};

// One request on an easy handle and what came back so far.
struct THTTPRequest
{
    using TClock = std::chrono::steady_clock;

    THTTPRequest();
    ~THTTPRequest();
    THTTPRequest(const THTTPRequest&) = delete;
    THTTPRequest& operator=(const THTTPRequest&) = delete;

    CURL* Easy = nullptr;
    curl_slist* Headers = nullptr;
    char ErrorBuffer[CURL_ERROR_SIZE] = {};
    std::string Verb;
    std::string Url;
    std::string Body;

    // The current attempt.
    bool Sent = false;      // the send step succeeded
    bool Connected = false; // a connection carried the request
    bool HeadersDone = false;
    bool Finished = false;
    std::uint32_t ErrorCode = 0;
    std::string ErrorText;
    TClock::time_point AttemptStart;
    TClock::time_point LastActivity;

    // The final response's status and headers, and those of the block being received.
    int StatusCode = 0;
    std::vector<std::pair<std::string, std::string>> ResponseHeaders;
    int BlockStatus = 0;
    bool BlockHasLocation = false;
    std::vector<std::pair<std::string, std::string>> BlockHeaders;

    // Body bytes received and not yet read.
    std::string Pending;
    std::size_t PendingOffset = 0;

    std::size_t Available() const { return Pending.size() - PendingOffset; }
};

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
