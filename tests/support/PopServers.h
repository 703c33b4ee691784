#pragma once

#include "tests/support/TempDir.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

// A server program started in the background and stopped when this object goes.
class TServerProcess
{
public:
    TServerProcess() = default;
    ~TServerProcess();
    TServerProcess(const TServerProcess&) = delete;
    TServerProcess& operator=(const TServerProcess&) = delete;

    // Starts the program with its output going to logFile. Throws std::runtime_error.
    void Start(const std::string& program, const std::vector<std::string>& arguments,
               const std::string& logFile);
    // Polls until a connection to the port is greeted with "+OK", at most timeoutMs. Throws
    // std::runtime_error, naming what, when the program ends or the time runs out.
    void WaitForGreeting(std::uint16_t port, const std::string& what, int timeoutMs = 15000);
    // Polls until the port accepts a connection, failing as WaitForGreeting does.
    void WaitForListener(std::uint16_t port, const std::string& what, int timeoutMs = 15000);
    void Stop();

private:
    void WaitUntil(const std::function<bool()>& ready, const std::string& failure,
                   const std::string& what, int timeoutMs);

    pid_t FPid = -1;
    std::string FLogFile;
};

// A loopback port that nothing listens on at the moment.
std::uint16_t FreeLoopbackPort();
// Whether a connection to the loopback port is accepted now.
bool LoopbackAccepts(std::uint16_t port);
// The path of an installed program found in PATH or the system folders; empty when missing.
std::string FindProgram(const std::string& name);

// The certificate and key (PEM files) of a server that offers TLS; empty for none.
struct TServerTls
{
    std::string CertificateFile;
    std::string KeyFile;
};

// A private Dovecot POP3 server on a loopback port with one Maildir account (User,
// Password), running as nobody from a configuration in its own temporary folder. With a
// certificate it offers STLS on Port() and TLS from the first byte on SecurePort().
class TDovecotServer
{
public:
    static constexpr const char* User = "alice";
    static constexpr const char* Password = "secret";

    // Empty when Dovecot is not installed.
    static std::string Binary() { return FindProgram("dovecot"); }

    // Throws std::runtime_error with the server's log when it cannot start.
    explicit TDovecotServer(const TServerTls& tls = {});

    std::uint16_t Port() const { return FPort; }
    // The POP3S port; 0 without a certificate.
    std::uint16_t SecurePort() const { return FSecurePort; }
    // Adds a message (CR LF lines) to the account's mailbox; messages keep the order added.
    void AddMessage(const std::string& text);
    // Another account on the same server, with a mailbox of its own.
    void AddUser(const std::string& user, const std::string& password);
    void AddMessage(const std::string& user, const std::string& text);
    // Messages in the mailbox's folders, as files.
    std::size_t MessageCount() const;
    std::string Log() const;

private:
    std::string Maildir(const std::string& user) const;

    TTempDir FFolder;
    std::string FMaildir;
    std::uint16_t FPort = 0;
    std::uint16_t FSecurePort = 0;
    std::size_t FAdded = 0;
    TServerProcess FProcess;
};

// A private GNU Mailutils pop3d on a loopback port with one mbox account (User, Password),
// started as root from its own configuration; for benchmarks beside Dovecot.
class TMailutilsServer
{
public:
    static constexpr const char* User = "alice";
    static constexpr const char* Password = "secret";

    static std::string Binary() { return FindProgram("pop3d"); }

    // messages are written into the mailbox before the server starts.
    explicit TMailutilsServer(const std::vector<std::string>& messages);

    std::uint16_t Port() const { return FPort; }
    std::string Log() const;

private:
    TTempDir FFolder;
    std::uint16_t FPort = 0;
    TServerProcess FProcess;
};
