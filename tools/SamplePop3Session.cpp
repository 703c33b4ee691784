#include "tools/SamplePop3Session.h"

#include <algorithm>
#include <cctype>
#include <iterator>
#include <stdexcept>
#include <utility>

namespace {

// Message numbers and line counts: plain decimal digits, small enough for any maildrop.
constexpr std::size_t MaxNumberDigits = 9;

std::string Upper(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

std::string TrimSpaces(const std::string& text)
{
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

bool ParseNumber(const std::string& text, std::size_t& value)
{
    if (text.empty() || text.size() > MaxNumberDigits ||
        !std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); }))
        return false;
    value = std::stoul(text);
    return true;
}

std::string Line(const std::string& text)
{
    return text + "\r\n";
}

std::string Ok(const std::string& text)
{
    return Line(text.empty() ? "+OK" : "+OK " + text);
}

std::string Err(const std::string& text)
{
    return Line("-ERR " + text);
}

bool IsTransactionCommand(const std::string& command)
{
    static const char* const commands[] = {"STAT", "LIST", "RETR", "DELE",
                                           "NOOP", "RSET", "TOP",  "UIDL"};
    return std::any_of(std::begin(commands), std::end(commands),
                       [&](const char* known) { return command == known; });
}

} // namespace

std::vector<std::string> TSamplePop3Session::SampleCapabilities()
{
    return {"USER",
            "TOP",
            "UIDL",
            "PIPELINING",
            "RESP-CODES",
            "AUTH-RESP-CODE",
            "IMPLEMENTATION Mailbeacon-sample"};
}

TSamplePop3Session::TSamplePop3Session(IMaildrop& maildrop, std::string user, std::string password,
                                       TLog log, int lockWaitMs)
    : FMaildrop(maildrop)
    , FUser(std::move(user))
    , FPassword(std::move(password))
    , FLog(std::move(log))
    , FLockWaitMs(lockWaitMs)
{}

TSamplePop3Session::~TSamplePop3Session()
{
    if (FState == TState::Transaction && !FEnded && FLog)
        FLog(FUser + " left without QUIT; nothing deleted");
    Release();
}

std::string TSamplePop3Session::Greeting()
{
    return Ok("Mailbeacon sample POP3 server ready");
}

std::string TSamplePop3Session::Answer(const std::string& line)
{
    if (FEnded)
        return Err("the session has ended");
    const std::size_t space = line.find(' ');
    const std::string command = Upper(line.substr(0, space));
    // RFC 1939 §7: the password may hold spaces, so PASS keeps the rest of the line as it is.
    const std::string rest = space == std::string::npos ? std::string() : line.substr(space + 1);
    const std::string argument = command == "PASS" ? rest : TrimSpaces(rest);
    if (command.empty())
        return Err("empty command");
    if (command == "CAPA" && !Listed().empty())
        return CapabilityReply();
    if (command == "QUIT")
        return Quit();
    if (command == "STLS" && OfferStartTls)
        return StartTls();
    return FState == TState::Authorization ? Authorize(command, argument)
                                           : Transact(command, argument);
}

// RFC 2449: what this server offers, for clients that ask.
std::string TSamplePop3Session::CapabilityReply() const
{
    std::string reply = Ok("capability list follows");
    for (const std::string& line : Listed())
        reply += Line(line);
    if (OfferStartTls && !FSecure && FState == TState::Authorization)
        reply += Line("STLS");
    return reply + Line(".");
}

const std::vector<std::string>& TSamplePop3Session::Listed() const
{
    return OfferStartTls && !FSecure && CapabilitiesBeforeTls ? *CapabilitiesBeforeTls
                                                              : Capabilities;
}

// RFC 2595 §4: only in the AUTHORIZATION state, and only once.
std::string TSamplePop3Session::StartTls()
{
    if (FSecure)
        return Err("TLS is already active");
    if (FState != TState::Authorization)
        return Err("STLS is only allowed before the log-in");
    FStartTlsRequested = true;
    return Ok("Begin TLS negotiation");
}

void TSamplePop3Session::TlsStarted()
{
    FStartTlsRequested = false;
    FSecure = true;
    // RFC 2595 §4: nothing said before the negotiation counts after it.
    FUserGiven = false;
    FGivenUser.clear();
}

std::string TSamplePop3Session::Authorize(const std::string& command, const std::string& argument)
{
    if (command == "USER") {
        if (argument.empty())
            return Err("USER needs a name");
        FGivenUser = argument;
        FUserGiven = true;
        return Ok("send PASS");
    }
    if (command == "PASS") {
        if (!FUserGiven)
            return Err("send USER first");
        FUserGiven = false;
        return LogIn(argument);
    }
    if (IsTransactionCommand(command))
        return Err("log in first");
    return Err("unknown command");
}

std::string TSamplePop3Session::LogIn(const std::string& password)
{
    if (FGivenUser != FUser || password != FPassword) {
        if (FLog)
            FLog("log-in refused for user " + FGivenUser);
        return Err("[AUTH] invalid user name or password");
    }
    if (!FMaildrop.TryLock(FLockWaitMs))
        return Err("[IN-USE] the maildrop is in use by another session");
    FLocked = true;
    try {
        FMessages = FMaildrop.Load();
    } catch (const std::exception& error) {
        Release();
        return Err(std::string("[SYS/TEMP] ") + error.what());
    }
    FDeleted.assign(FMessages.size(), false);
    FState = TState::Transaction;
    if (FLog)
        FLog(FUser + " logged in: " + std::to_string(FMessages.size()) + " message(s)");
    return Ok("maildrop has " + std::to_string(Count()) + " messages (" + std::to_string(Octets()) +
              " octets)");
}

std::string TSamplePop3Session::Transact(const std::string& command, const std::string& argument)
{
    std::size_t index = 0;
    std::string error;
    if (command == "STAT")
        return Ok(std::to_string(Count()) + " " + std::to_string(Octets()));
    if (command == "LIST" || command == "UIDL")
        return Listing(argument, command == "UIDL");
    if (command == "NOOP")
        return Ok({});
    if (command == "RSET") {
        FDeleted.assign(FMessages.size(), false);
        return Ok("maildrop has " + std::to_string(Count()) + " messages (" +
                  std::to_string(Octets()) + " octets)");
    }
    if (command == "DELE") {
        if (!FindMessage(argument, index, error))
            return error;
        FDeleted[index] = true;
        return Ok("message " + std::to_string(index + 1) + " deleted");
    }
    if (command == "RETR") {
        if (!FindMessage(argument, index, error))
            return error;
        const std::string& text = FMessages[index].Text;
        return Ok(std::to_string(text.size()) + " octets") + ByteStuff(text) + Line(".");
    }
    if (command == "TOP") {
        const std::size_t space = argument.find(' ');
        std::size_t lines = 0;
        if (space == std::string::npos || !ParseNumber(TrimSpaces(argument.substr(space)), lines))
            return Err("TOP needs a message number and a line count");
        if (!FindMessage(argument.substr(0, space), index, error))
            return error;
        return Ok("top of message follows") +
               ByteStuff(TopOfMessage(FMessages[index].Text, lines)) + Line(".");
    }
    if (command == "USER" || command == "PASS")
        return Err("already logged in");
    return Err("unknown command");
}

std::string TSamplePop3Session::Listing(const std::string& argument, bool uniqueIds) const
{
    const auto entry = [&](std::size_t index) {
        return std::to_string(index + 1) + " " +
               (uniqueIds ? FMessages[index].UniqueId
                          : std::to_string(FMessages[index].Text.size()));
    };
    if (!argument.empty()) {
        std::size_t index = 0;
        std::string error;
        if (!FindMessage(argument, index, error))
            return error;
        return Ok(entry(index));
    }
    std::string reply =
        uniqueIds
            ? Ok("unique-id listing follows")
            : Ok(std::to_string(Count()) + " messages (" + std::to_string(Octets()) + " octets)");
    for (std::size_t index = 0; index < FMessages.size(); ++index)
        if (!FDeleted[index])
            reply += Line(entry(index));
    return reply + Line(".");
}

bool TSamplePop3Session::FindMessage(const std::string& argument, std::size_t& index,
                                     std::string& error) const
{
    std::size_t number = 0;
    if (!ParseNumber(argument, number)) {
        error = Err("invalid message number");
        return false;
    }
    if (number == 0 || number > FMessages.size()) {
        error = Err("no such message");
        return false;
    }
    if (FDeleted[number - 1]) {
        error = Err("message " + std::to_string(number) + " already deleted");
        return false;
    }
    index = number - 1;
    return true;
}

std::size_t TSamplePop3Session::Count() const
{
    return static_cast<std::size_t>(std::count(FDeleted.begin(), FDeleted.end(), false));
}

std::size_t TSamplePop3Session::Octets() const
{
    std::size_t octets = 0;
    for (std::size_t index = 0; index < FMessages.size(); ++index)
        if (!FDeleted[index])
            octets += FMessages[index].Text.size();
    return octets;
}

// RFC 1939 §6: the deletions are carried out only here, in the UPDATE state.
std::string TSamplePop3Session::Quit()
{
    FEnded = true;
    if (FState == TState::Authorization)
        return Ok("Mailbeacon sample POP3 server signing off");
    std::size_t removed = 0;
    std::size_t failed = 0;
    for (std::size_t index = 0; index < FMessages.size(); ++index) {
        if (!FDeleted[index])
            continue;
        std::string error;
        if (!FMaildrop.Remove(FMessages[index], error)) {
            ++failed;
            if (FLog)
                FLog("cannot remove " + FMessages[index].Source + ": " + error);
        } else {
            ++removed;
        }
    }
    Release();
    if (FLog)
        FLog(FUser + " signed off: " + std::to_string(removed) + " message(s) deleted");
    if (failed > 0)
        return Err("some deleted messages not removed");
    return Ok("Mailbeacon sample POP3 server signing off (" + std::to_string(removed) +
              " messages deleted)");
}

void TSamplePop3Session::Release()
{
    if (!FLocked)
        return;
    FLocked = false;
    FMaildrop.Unlock();
}
