#pragma once

// The HTTP client's private side of the transfer library: the library's set-up, the session
// and the request with their handles. Included only by mb_net's sources; it knows nothing of
// the client classes, which build on it.

#include <chrono>
#include <cstdint>
#include <curl/curl.h>
#include <set>
#include <string>
#include <utility>
#include <vector>

// The library's process-wide set-up, done once by whichever thread comes first.
void EnsureLibraryInitialised();

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
    // Set by the client when it opens the session: milliseconds, and attempts per request.
    std::uint32_t ConnectTimeout = 0;
    std::uint32_t ConnectRetries = 0;
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
