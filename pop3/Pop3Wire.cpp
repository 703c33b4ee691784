#include "pop3/Pop3Wire.h"

#include "pop3/StrUtils.h"
#include "pop3/WireMessage.h"

#include <algorithm>
#include <exception>
#include <memory>
#include <stdexcept>

namespace {

// Every command text the program sends. Servers take commands in any letter case (RFC 1939
// §3); each keeps the spelling that command traces and session tests expect.
const char* const UserCommand = "User ";
const char* const PassCommand = "Pass ";
const char* const QuitCommand = "Quit";
const char* const StatCommand = "STAT";
const char* const CapaCommand = "CAPA";
const char* const HeaderCommand = "TOP ";
const char* const PreviewCommand = "Top ";
const char* const SizeCommand = "LIST ";
const char* const DeleteCommand = "DELE ";
const char* const StlsCommand = "STLS";
const char* const UidlCommand = "UIDL";
const char* const ListCommand = "LIST";

// A count or size: a whole decimal number, not negative; else the conversion error as a user
// reads it.
std::int32_t StrToInt(const std::string& text)
{
    int value = 0;
    if (!TryParseInt(Trim(text), value) || value < 0)
        throw std::invalid_argument("'" + text + "' is not a valid integer value");
    return value;
}

// The count of a STAT reply "+OK count size": the first word after "+OK ".
std::int32_t CountOf(const std::string& reply)
{
    const std::string counts = Copy(reply, 5, static_cast<long>(reply.size()) - 5);
    const std::size_t space = counts.find(' ');
    return StrToInt(space == std::string::npos ? std::string() : counts.substr(0, space));
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
    // Commands written ahead of their replies must leave at once: with Nagle's algorithm each
    // write would wait for the acknowledgement of the one before it.
    UseNagle = false;
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
    ResetListing();
    FPeerCertificate.reset();
    FCapabilities.clear();
    FCountDue = false;
    TWireClient::Connect();
    try {
        OpenSession(false);
        // RFC 2449 §5: CAPA is allowed before the log-in. After STLS this asks again, as
        // RFC 2595 §4 wants: what the server said before TLS may have been forged on the way.
        FCapabilities = AskCapabilities();
        LogIn();
    } catch (...) {
        // The server's refusal is what the user must read, not a failed goodbye after it.
        try {
            Disconnect();
        } catch (const std::exception&) {
        }
        throw;
    }
}

TPeerCertificate TWirePOP3::FetchCertificate()
{
    if (Security == TWireSecurity::None)
        throw EWireTlsError("The connection to " + Host +
                            " is not secured, so there is no certificate to trust; choose "
                            "STARTTLS or SSL/TLS first.");
    ResetListing();
    FPeerCertificate.reset();
    TWireClient::Connect();
    try {
        OpenSession(true);
    } catch (...) {
        try {
            Disconnect();
        } catch (const std::exception&) {
        }
        throw;
    }
    TPeerCertificate certificate = *FPeerCertificate;
    try {
        Disconnect();
    } catch (const std::exception&) {
        // The certificate is what was asked for; the goodbye changes nothing about it.
    }
    return certificate;
}

void TWirePOP3::OpenSession(bool acceptAnyCertificate)
{
    // Any value but None and StartTls means TLS from the first byte: a setting this
    // program does not know never turns into plain text.
    const bool implicitTls = Security != TWireSecurity::None && Security != TWireSecurity::StartTls;
    if (implicitTls)
        Secure(acceptAnyCertificate);
    const std::string greeting = ReadLine();
    SetReplyText(greeting);
    if (greeting.compare(0, 3, "+OK") != 0)
        throw EWireConnectRefused(greeting);
    DoStatus("Connected");
    if (Security == TWireSecurity::StartTls)
        StartTls(acceptAnyCertificate);
}

void TWirePOP3::StartTls(bool acceptAnyCertificate)
{
    DoStatus("Starting TLS");
    const std::vector<std::string> capabilities = AskCapabilities();
    // RFC 2449 §5: a server that answers CAPA lists STLS when it has it; a server that does
    // not know CAPA may still know STLS, so that one is asked.
    if (ReplyCode() == 1 && !HasCapability(capabilities, StlsCommand))
        throw EWireTlsError("The server " + Host +
                            " does not offer STARTTLS, so the connection cannot be secured; "
                            "the password was not sent.");
    SendCommand(StlsCommand, -1, "", 0);
    if (ReplyCode() != 1)
        throw EWireTlsError("The server " + Host + " refused STARTTLS: " + ReplyText());
    // RFC 2595 §4: the TLS negotiation begins right after the acceptance. Bytes already
    // waiting came unprotected and may have been put in by anyone on the way; taking them for
    // replies inside the session would let them pass as the server's.
    if (InBufferEnd() > 1) {
        DropConnection();
        throw EWireTlsError("The server " + Host +
                            " sent unprotected data after accepting STARTTLS; the connection "
                            "was ended, as someone on the way may be tampering with it.");
    }
    Secure(acceptAnyCertificate);
}

void TWirePOP3::Secure(bool acceptAnyCertificate)
{
    auto tls = std::make_unique<TTlsTransport>(Winsock(), Socket());
    TTlsOptions options;
    options.Host = Host;
    options.Port = Port;
    options.TrustedCertificate = TrustedCertificate;
    options.AcceptAnyCertificate = acceptAnyCertificate;
    options.TimeoutMs = ReadTimeout;
    try {
        tls->Handshake(options);
    } catch (...) {
        // A session that failed to be secured gets nothing more, not even QUIT in the clear.
        DropConnection();
        throw;
    }
    FPeerCertificate = tls->Certificate();
    const std::string text = SecureConnectionText(tls->Protocol(), tls->Cipher());
    AttachTransport(std::move(tls));
    DoStatus(text);
}

void TWirePOP3::LogIn()
{
    std::vector<std::string> commands{UserCommand + UserID, PassCommand + Password};
    if (CountWithLogin)
        commands.emplace_back(StatCommand);
    // A credential that may not be sent fails one command at a time, after the commands before
    // it, as it does without pipelining.
    const bool pipelined =
        AllowsPipelining(FCapabilities) && std::all_of(commands.begin(), commands.end(), Sendable);
    if (!pipelined) {
        SendCommand(commands[0], 1, "User Account is valid", 0);
        SendCommand(commands[1], 1, "Password is valid", 0);
        return;
    }
    // A refused USER or PASS ends the session; the commands after it go with the connection.
    WriteCommands(commands);
    ReadCommandReply(1, "User Account is valid", 0);
    ReadCommandReply(1, "Password is valid", 0);
    FCountDue = CountWithLogin;
}

void TWirePOP3::Disconnect()
{
    ResetListing();
    std::exception_ptr writeError;
    try {
        Log("O: ", QuitCommand);
        WriteLine(QuitCommand);
    } catch (...) {
        writeError = std::current_exception();
    }
    TWireClient::Disconnect();
    if (writeError)
        std::rethrow_exception(writeError);
}

void TWirePOP3::Logout()
{
    ResetListing();
    try {
        SendCommand(QuitCommand, 1, "", 0);
    } catch (...) {
        TWireClient::Disconnect();
        throw;
    }
    TWireClient::Disconnect();
}

std::int32_t TWirePOP3::CheckMessages()
{
    std::int32_t result = 0;
    try {
        AskCount();
        if (!ReplyText().empty())
            result = CountOf(ReplyText());
    } catch (const std::exception& e) {
        DoStatus(e.what());
        result = 0;
    }
    return result;
}

void TWirePOP3::AskCount()
{
    if (!FCountDue) {
        SendCommand(StatCommand, 1, "Checking for messages", 0);
        return;
    }
    FCountDue = false;
    ReadCommandReply(1, "Checking for messages", 0);
}

std::int32_t TWirePOP3::CountMessages()
{
    AskCount();
    try {
        return CountOf(ReplyText());
    } catch (const std::invalid_argument&) {
        throw EWireException("No message count in the reply to STAT: " + ReplyText());
    }
}

bool TWirePOP3::RetrieveHeader(std::int32_t n, TWireMessage& message)
{
    RequestHeader(n);
    return ReadHeader(message);
}

void TWirePOP3::RequestHeader(std::int32_t n)
{
    WriteCommand(HeaderCommand + std::to_string(n) + " 0");
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
    return ReadSize(n);
}

void TWirePOP3::RequestSize(std::int32_t n)
{
    WriteCommand(SizeCommand + std::to_string(n));
}

std::int32_t TWirePOP3::ReadSize(std::int32_t n)
{
    std::int32_t result = -1;
    bool accepted = false;
    try {
        ReadCommandReply(1, "Retrieving size", 0);
        accepted = true;
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
    // With several commands on the way, a reply for another message means that the replies
    // and the commands are out of step (a server answering out of order, or sending a line
    // too many): every size and header read after it would be another message's.
    if (FPipelined && accepted && !AnswersList(ReplyText(), n))
        throw EWireException("The server answered LIST " + std::to_string(n) + " with \"" +
                             ReplyText() + "\": its replies are out of step.");
    return result;
}

bool TWirePOP3::AnswersList(const std::string& reply, std::int32_t n)
{
    // RFC 1939 §5: "+OK n size".
    const std::string listing = Copy(reply, 5, static_cast<long>(reply.size()));
    const std::size_t space = listing.find(' ');
    return space != std::string::npos && listing.substr(0, space) == std::to_string(n);
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

std::vector<std::string> TWirePOP3::AskCapabilities()
{
    std::vector<std::string> lines;
    if (SendCommand(CapaCommand, -1, "", 0) == 1)
        Capture(lines, {"."});
    return lines;
}

bool TWirePOP3::AllowsPipelining(const std::vector<std::string>& capabilities)
{
    return HasCapability(capabilities, "PIPELINING");
}

bool TWirePOP3::HasCapability(const std::vector<std::string>& capabilities, const std::string& name)
{
    for (const std::string& line : capabilities)
        if (SameText(Trim(line), name))
            return true;
    return false;
}

bool TWirePOP3::Delete(std::int32_t n)
{
    SendCommand(DeleteCommand + std::to_string(n), -1, "", 0);
    return ReplyCode() == 1;
}

void TWirePOP3::StartListing(std::int32_t count, bool pipelined)
{
    std::vector<std::int32_t> numbers;
    for (std::int32_t n = 1; n <= count; ++n)
        numbers.push_back(n);
    StartListing(std::move(numbers), true, pipelined);
}

void TWirePOP3::StartListing(std::vector<std::int32_t> numbers, bool withSizes, bool pipelined)
{
    ResetListing();
    FListNumbers = std::move(numbers);
    FListSizes = withSizes;
    FPipelined = pipelined;
}

TListedMessage TWirePOP3::ListNext(TWireMessage& message)
{
    if (!ListingPending())
        throw std::logic_error("The listing has no message left.");
    if (FPipelined)
        SendAhead();
    TListedMessage listed;
    listed.Number = FListNumbers[FNextToRead++];
    if (!FPipelined) {
        listed.HeaderComplete = RetrieveHeader(listed.Number, message);
        if (FListSizes)
            listed.Size = RetrieveSize(listed.Number);
        return listed;
    }
    const auto due = [this, &listed](TRequest kind) {
        return !FPending.empty() && FPending.front().Kind == kind &&
               FPending.front().Number == listed.Number;
    };
    // The messages of a write that failed fail with its error, as the first of them would
    // have one command at a time. So does every message after a write that dropped the
    // connection: the replies not yet read went with it, and the write's failure says why, not
    // the closed socket the next read would meet.
    if (FSendError && (!due(TRequest::Header) || !Connected()))
        std::rethrow_exception(FSendError);
    if (!due(TRequest::Header))
        throw std::logic_error("The listing lost its place.");
    Answered();
    listed.HeaderComplete = ReadHeader(message);
    if (due(TRequest::Size)) {
        Answered();
        listed.Size = ReadSize(listed.Number);
    }
    return listed;
}

void TWirePOP3::EndListing()
{
    std::deque<TPendingReply> due;
    due.swap(FPending);
    ResetListing();
    if (!Connected())
        return;
    for (const TPendingReply& reply : due) {
        if (reply.Kind == TRequest::Header)
            SkipHeader();
        else
            SkipSize();
    }
}

void TWirePOP3::SendAhead()
{
    if (FSendError || FBytesOnTheWay > PipelineBytes / 2)
        return;
    std::string batch;
    std::vector<TPendingReply> added;
    while (FNextToSend < FListNumbers.size()) {
        const std::string number = std::to_string(FListNumbers[FNextToSend]);
        const std::string header = HeaderCommand + number + " 0";
        const std::string size = FListSizes ? SizeCommand + number : std::string();
        const std::size_t bytes = header.size() + 2 + (size.empty() ? 0 : size.size() + 2);
        // A message's commands always go out when nothing else is on the way.
        if (FBytesOnTheWay + batch.size() + bytes > PipelineBytes &&
            FBytesOnTheWay + batch.size() > 0)
            break;
        Log("O: ", header);
        batch += header + LineTerminator;
        added.push_back({TRequest::Header, FListNumbers[FNextToSend], header.size() + 2});
        if (!size.empty()) {
            Log("O: ", size);
            batch += size + LineTerminator;
            added.push_back({TRequest::Size, FListNumbers[FNextToSend], size.size() + 2});
        }
        ++FNextToSend;
    }
    if (batch.empty())
        return;
    try {
        WriteText(batch);
    } catch (const std::exception&) {
        FSendError = std::current_exception();
        return;
    }
    for (const TPendingReply& reply : added) {
        FPending.push_back(reply);
        FBytesOnTheWay += reply.Bytes;
    }
}

void TWirePOP3::Answered()
{
    FBytesOnTheWay -= FPending.front().Bytes;
    FPending.pop_front();
}

void TWirePOP3::PostListedMessage()
{
    DoStatus("Retrieving headers");
    DoStatus("Retrieving size");
}

std::vector<std::string> TWirePOP3::ReadListingLines()
{
    std::vector<std::string> lines;
    if (ReadReply() == 1)
        Capture(lines, {"."});
    return lines;
}

namespace {

// "n text" of a UIDL or LIST listing line, for n from 1 to count; false for any other line.
bool ListingEntry(const std::string& line, std::int32_t count, std::int32_t& n, std::string& text)
{
    const std::size_t space = line.find(' ');
    if (space == std::string::npos)
        return false;
    int number = 0;
    if (!TryParseInt(line.substr(0, space), number) || number < 1 || number > count)
        return false;
    n = number;
    text = Trim(line.substr(space + 1));
    return !text.empty();
}

} // namespace

TMailboxIndex TWirePOP3::ReadIndex(std::int32_t count, bool pipelined)
{
    TMailboxIndex index;
    if (count <= 0)
        return index;
    std::vector<std::string> uidLines;
    std::vector<std::string> sizeLines;
    bool uidsAccepted = false;
    bool sizesAccepted = false;
    if (pipelined) {
        WriteCommands({UidlCommand, ListCommand});
        uidLines = ReadListingLines();
        uidsAccepted = ReplyCode() == 1;
        sizeLines = ReadListingLines();
        sizesAccepted = ReplyCode() == 1;
    } else {
        WriteCommand(UidlCommand);
        uidLines = ReadListingLines();
        uidsAccepted = ReplyCode() == 1;
        if (uidsAccepted) {
            WriteCommand(ListCommand);
            sizeLines = ReadListingLines();
            sizesAccepted = ReplyCode() == 1;
        }
    }
    const std::size_t total = static_cast<std::size_t>(count);
    if (uidsAccepted) {
        index.Uids.resize(total);
        std::vector<std::string> sorted;
        for (const std::string& line : uidLines) {
            std::int32_t n = 0;
            std::string uid;
            // RFC 1939 §7: the id is one word of printable characters.
            if (ListingEntry(line, count, n, uid) && uid.find(' ') == std::string::npos)
                index.Uids[static_cast<std::size_t>(n - 1)] = uid;
        }
        sorted = index.Uids;
        std::sort(sorted.begin(), sorted.end());
        if (sorted.front().empty() ||
            std::adjacent_find(sorted.begin(), sorted.end()) != sorted.end())
            index.Uids.clear();
    }
    if (sizesAccepted) {
        index.Sizes.assign(total, -1);
        for (const std::string& line : sizeLines) {
            std::int32_t n = 0;
            std::string size;
            if (ListingEntry(line, count, n, size))
                index.Sizes[static_cast<std::size_t>(n - 1)] = StrToIntDef(size, -1);
        }
        if (std::find(index.Sizes.begin(), index.Sizes.end(), -1) != index.Sizes.end())
            index.Sizes.clear();
    }
    return index;
}

void TWirePOP3::ResetListing()
{
    FPending.clear();
    FPipelined = false;
    FListSizes = true;
    FListNumbers.clear();
    FNextToSend = 0;
    FNextToRead = 0;
    FBytesOnTheWay = 0;
    FSendError = nullptr;
}

void TWirePOP3::BeginPreview(std::int32_t n, std::int32_t lineCount)
{
    SendCommand(PreviewCommand + std::to_string(n) + " " + std::to_string(lineCount), 1,
                "Retrieving message", 0);
}

std::vector<std::string> TWirePOP3::ReadPreview()
{
    std::vector<std::string> lines;
    Capture(lines, {"."});
    return lines;
}
