#pragma once

#include "net/WinInetControl.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

// Request failures of the HTTP client (URL, headers, sending, header queries), carrying their
// fixed message texts.
class ESimpleHTTPError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
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
