#pragma once

#include "tools/SampleMaildrop.h"

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// One POP3 conversation (RFC 1939), without the socket: command lines in, replies out. The
// sample server and the tests' fake mailbox both serve their sessions with it. Messages marked
// for deletion are removed only when the client ends the session with QUIT; a session that
// ends otherwise leaves the maildrop as it found it.
class TSamplePop3Session
{
public:
    using TLog = std::function<void(const std::string& text)>;

    // The sample server's answer to CAPA (RFC 2449).
    static std::vector<std::string> SampleCapabilities();

    // lockWaitMs: how long a log-in waits for another session to release the maildrop.
    TSamplePop3Session(IMaildrop& maildrop, std::string user, std::string password, TLog log = {},
                       int lockWaitMs = 3000);
    ~TSamplePop3Session();
    TSamplePop3Session(const TSamplePop3Session&) = delete;
    TSamplePop3Session& operator=(const TSamplePop3Session&) = delete;

    // The lines of the answer to CAPA; with none, CAPA is an unknown command, as it is to a
    // server older than the extension.
    std::vector<std::string> Capabilities = SampleCapabilities();
    // Offers STLS (RFC 2595) before the log-in, listed among the capabilities until the session
    // is secure. The connection starts TLS when StartTlsRequested() after a reply, and says
    // so with TlsStarted().
    bool OfferStartTls = false;
    // The lines CAPA lists before STLS, where they differ from those of the secure session.
    std::optional<std::vector<std::string>> CapabilitiesBeforeTls;
    bool StartTlsRequested() const { return FStartTlsRequested; }
    void TlsStarted();

    static std::string Greeting();
    // The reply to one command line given without its CR LF; the reply ends with CR LF.
    std::string Answer(const std::string& line);
    // After QUIT: the connection is to be closed.
    bool Ended() const { return FEnded; }

private:
    enum class TState
    {
        Authorization,
        Transaction
    };

    std::string Authorize(const std::string& command, const std::string& argument);
    std::string Transact(const std::string& command, const std::string& argument);
    std::string Quit();
    std::string StartTls();
    std::string LogIn(const std::string& password);
    // The message the argument numbers, or an -ERR reply in error.
    bool FindMessage(const std::string& argument, std::size_t& index, std::string& error) const;
    std::string Listing(const std::string& argument, bool uniqueIds) const;
    std::size_t Count() const;
    std::size_t Octets() const;
    void Release();

    std::string CapabilityReply() const;
    // The capability lines CAPA lists now, STLS aside.
    const std::vector<std::string>& Listed() const;

    IMaildrop& FMaildrop;
    std::string FUser;
    std::string FPassword;
    TLog FLog;
    int FLockWaitMs;
    TState FState = TState::Authorization;
    std::string FGivenUser;
    bool FUserGiven = false;
    bool FLocked = false;
    bool FEnded = false;
    bool FStartTlsRequested = false;
    bool FSecure = false;
    std::vector<TSampleMessage> FMessages;
    std::vector<bool> FDeleted;
};
