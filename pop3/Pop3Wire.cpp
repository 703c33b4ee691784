#include "pop3/Pop3Wire.h"

#include "pop3/StrUtils.h"
#include "pop3/WireMessage.h"

#include <exception>
#include <stdexcept>

namespace {

// A count or size: a whole decimal number, not negative; else the conversion error as a user
// reads it.
std::int32_t StrToInt(const std::string& text)
{
    int value = 0;
    if (!TryParseInt(Trim(text), value) || value < 0)
        throw std::invalid_argument("'" + text + "' is not a valid integer value");
    return value;
}

std::int32_t StrToIntDef(const std::string& text, std::int32_t fallback)
{
    int value = 0;
    return TryParseInt(Trim(text), value) && value >= 0 ? value : fallback;
}

} // namespace

TWirePOP3::TWirePOP3()
{
    Port = 110;
}

TWirePOP3::~TWirePOP3()
{
    OnStatus = nullptr;
    if (!Connected())
        return;
    try {
        TWirePOP3::Disconnect();
    } catch (const std::exception&) {
        // A destructor has nobody to tell that the goodbye could not be sent.
    }
}

void TWirePOP3::Connect()
{
    TWireClient::Connect();
    try {
        const std::string greeting = ReadLine();
        SetReplyText(greeting);
        if (greeting.compare(0, 3, "+OK") != 0)
            throw EWireConnectRefused(greeting);
        DoStatus("Connected");
        SendCommand("User " + UserID, 1, "User Account is valid", 0);
        SendCommand("Pass " + Password, 1, "Password is valid", 0);
    } catch (...) {
        // The server's refusal is what the user must read, not a failed goodbye after it.
        try {
            Disconnect();
        } catch (const std::exception&) {
        }
        throw;
    }
}

void TWirePOP3::Disconnect()
{
    std::exception_ptr writeError;
    try {
        Log("O: ", "Quit");
        WriteLine("Quit");
    } catch (...) {
        writeError = std::current_exception();
    }
    TWireClient::Disconnect();
    if (writeError)
        std::rethrow_exception(writeError);
}

std::int32_t TWirePOP3::CheckMessages()
{
    std::int32_t result = 0;
    try {
        SendCommand("STAT", 1, "Checking for messages", 0);
        const std::string& reply = ReplyText();
        if (!reply.empty()) {
            // "+OK count size": the count is the first word after "+OK ".
            const std::string counts = Copy(reply, 5, static_cast<long>(reply.size()) - 5);
            const std::size_t space = counts.find(' ');
            result = StrToInt(space == std::string::npos ? std::string() : counts.substr(0, space));
        }
    } catch (const std::exception& e) {
        DoStatus(e.what());
        result = 0;
    }
    return result;
}

bool TWirePOP3::RetrieveHeader(std::int32_t n, TWireMessage& message)
{
    RequestHeader(n);
    return ReadHeader(message);
}

void TWirePOP3::RequestHeader(std::int32_t n)
{
    WriteCommand("TOP " + std::to_string(n) + " 0");
}

bool TWirePOP3::ReadHeader(TWireMessage& message)
{
    ReadCommandReply(1, "Retrieving headers", 0);
    if (ReceiveHeader(message, "") == 2)
        return true;
    std::string line;
    do
        line = ReadLine();
    while (line.empty());
    if (line == ".")
        return true;
    // Whatever the server sent after the header is read up to the end of the response, or
    // the next command would take it for its reply.
    while (line != ".")
        line = ReadLine();
    return false;
}

std::int32_t TWirePOP3::RetrieveSize(std::int32_t n)
{
    try {
        RequestSize(n);
    } catch (const std::exception& e) {
        DoStatus(e.what());
        return -1;
    }
    return ReadSize();
}

void TWirePOP3::RequestSize(std::int32_t n)
{
    WriteCommand("LIST " + std::to_string(n));
}

std::int32_t TWirePOP3::ReadSize()
{
    std::int32_t result = -1;
    try {
        ReadCommandReply(1, "Retrieving size", 0);
        const std::string& reply = ReplyText();
        if (ReplyCode() == 1 && !reply.empty()) {
            // "+OK n size": the size is everything after the first word after "+OK ".
            const std::string listing = Copy(reply, 5, static_cast<long>(reply.size()));
            const std::size_t space = listing.find(' ');
            result =
                StrToIntDef(space == std::string::npos ? listing : listing.substr(space + 1), -1);
        }
    } catch (const std::exception& e) {
        DoStatus(e.what());
        result = -1;
    }
    return result;
}

void TWirePOP3::SkipHeader()
{
    // Only an accepted TOP has lines after its status line.
    if (ReadReply() != 1)
        return;
    std::vector<std::string> ignored;
    Capture(ignored, {"."});
}

void TWirePOP3::SkipSize()
{
    ReadReply();
}

std::vector<std::string> TWirePOP3::Capabilities()
{
    std::vector<std::string> lines;
    if (SendCommand("CAPA", -1, "", 0) == 1)
        Capture(lines, {"."});
    return lines;
}

bool TWirePOP3::AllowsPipelining(const std::vector<std::string>& capabilities)
{
    for (const std::string& line : capabilities)
        if (SameText(Trim(line), "PIPELINING"))
            return true;
    return false;
}

bool TWirePOP3::Delete(std::int32_t n)
{
    SendCommand("DELE " + std::to_string(n), -1, "", 0);
    return ReplyCode() == 1;
}
