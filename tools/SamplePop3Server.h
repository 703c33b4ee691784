#pragma once

#include "tools/SampleMaildrop.h"
#include "tools/TlsServer.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

// A small POP3 server on 127.0.0.1 that serves a folder of .eml files to one account, for
// trying the program without a real mail server. Each connection has a thread of its own.
class TSamplePop3Server
{
public:
    using TLog = std::function<void(const std::string& text)>;

    // How sessions are secured: not at all, TLS from the first byte (POP3S, RFC 8314), or TLS
    // after STLS (RFC 2595).
    enum class TTlsMode
    {
        None,
        Implicit,
        StartTls
    };

    struct TOptions
    {
        std::string Folder;
        std::string User = "demo";
        std::string Password = "demo";
        // 0: a free port chosen by the system.
        std::uint16_t Port = 0;
        // RFC 1939 §3: an idle session is closed, without its deletions, after this long.
        int IdleTimeoutMs = 10 * 60 * 1000;
        // How long a log-in waits for the session that holds the maildrop to end.
        int LockWaitMs = 3000;
        // Receives the session events; with Verbose also every command and the first line of
        // every reply. Passwords never reach it. Called from the connection threads.
        TLog Log;
        bool Verbose = false;
        TTlsMode Tls = TTlsMode::None;
        // What CAPA lists in place of the sample's own lines, and before STLS where that differs.
        std::optional<std::vector<std::string>> Capabilities;
        std::optional<std::vector<std::string>> CapabilitiesBeforeTls;
        // The server's certificate and its key, PEM files, for TLS.
        std::string CertificateFile;
        std::string KeyFile;
    };

    // Listens at once. Throws std::runtime_error when the port cannot be had, or the
    // certificate or key cannot be used.
    explicit TSamplePop3Server(TOptions options);
    ~TSamplePop3Server();
    TSamplePop3Server(const TSamplePop3Server&) = delete;
    TSamplePop3Server& operator=(const TSamplePop3Server&) = delete;

    std::uint16_t Port() const { return FPort; }

    // Serves connections until Stop.
    void Run();
    // Ends Run from any thread: the listening socket and every connection are closed, and no
    // session that had not sent QUIT deletes anything.
    void Stop();

private:
    struct TConnectionThread
    {
        int Socket = -1;
        std::thread Thread;
        std::atomic<bool> Done = false;
    };

    void Serve(TConnectionThread& connection);
    void Log(const std::string& text) const;
    // Joins the threads of the connections that have ended.
    void Reap();

    TOptions FOptions;
    TSampleMaildrop FMaildrop;
    std::unique_ptr<TTlsServerContext> FTls;
    int FListener = -1;
    int FWakeRead = -1;
    int FWakeWrite = -1;
    std::uint16_t FPort = 0;
    std::atomic<bool> FStopping = false;
    std::mutex FConnectionsMutex;
    std::list<std::unique_ptr<TConnectionThread>> FConnections;
};
