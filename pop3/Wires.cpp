#include "pop3/Wires.h"

#include "pop3/StrUtils.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstring>
#include <filesystem>
#include <ostream>

namespace {

const char* const StatusSuffix = " occurred in user's OnStatus Event.";

// The value of a reply's first three characters when they are a whole number, else 0.
std::int16_t NumericCode(const std::string& line)
{
    const std::string head = line.substr(0, 3);
    std::size_t i = 0;
    bool negative = false;
    if (i < head.size() && (head[i] == '+' || head[i] == '-')) {
        negative = head[i] == '-';
        ++i;
    }
    if (i == head.size())
        return 0;
    int value = 0;
    for (; i < head.size(); ++i) {
        if (head[i] < '0' || head[i] > '9')
            return 0;
        value = value * 10 + (head[i] - '0');
    }
    return static_cast<std::int16_t>(negative ? -value : value);
}

// The trace must never hold a password: the argument of "Pass " is masked whatever its
// length, so the trace does not tell that either.
std::string Masked(const std::string& command)
{
    if (command.size() >= 5 && (command[0] == 'P' || command[0] == 'p') &&
        (command[1] == 'A' || command[1] == 'a') && (command[2] == 'S' || command[2] == 's') &&
        (command[3] == 'S' || command[3] == 's') && command[4] == ' ')
        return command.substr(0, 5) + "********";
    return command;
}

} // namespace

void EWireException::RaiseWithMessage(const std::string& message) const
{
    throw EWireException(message);
}

EWireSocketError::EWireSocketError(int number, const std::string& text)
    : EWireException("Socket Error #" + std::to_string(number) + "\r\n" + text)
    , FNumber(number)
{}

EWireSocketError::EWireSocketError(int number, const std::string& message, TMessageTag)
    : EWireException(message)
    , FNumber(number)
{}

void EWireSocketError::RaiseWithMessage(const std::string& message) const
{
    throw EWireSocketError(FNumber, message, TMessageTag{});
}

EWireClosedSocket::EWireClosedSocket()
    : TWireExceptionOf("Socket is closed, cannot write")
{}

EWireInvalidSocket::EWireInvalidSocket()
    : TWireExceptionOf("Cannot allocate socket.")
{}

EWireAlreadyConnected::EWireAlreadyConnected()
    : TWireExceptionOf("Already connected.")
{}

EWireConnClosedGraceful::EWireConnClosedGraceful()
    : TWireExceptionOf("Connection Closed Gracefully.")
{}

TSocketTransport::TSocketTransport(TWinsockIntfBase& winsock, TSocketHandle socket)
    : FWinsock(winsock)
    , FSocket(socket)
{}

long TSocketTransport::Receive(char* buffer, std::size_t capacity, int timeoutMs)
{
    return FWinsock.recv(FSocket, buffer, capacity, 0, timeoutMs);
}

long TSocketTransport::Send(const char* data, std::size_t count, int timeoutMs)
{
    return FWinsock.send(FSocket, data, count, 0, timeoutMs);
}

int TSocketTransport::LastError()
{
    return FWinsock.WSAGetLastError();
}

TWireBase::TWireBase()
    : FWinsock(&TWinsockIntf11::Instance())
{}

TWire::~TWire()
{
    if (FSocket != InvalidSocket)
        Winsock().closesocket(FSocket);
}

void TWire::CloseSocket()
{
    const TSocketHandle old = FSocket;
    FSocket = InvalidSocket;
    if (old != InvalidSocket)
        Winsock().closesocket(old);
}

bool TWire::Connected() const
{
    return FSocket != InvalidSocket;
}

void TWire::Disconnect()
{
    if (Connected())
        CloseSocket();
}

void TWire::AllocateSocket(int type, int family)
{
    if (FSocket != InvalidSocket)
        CloseSocket();
    const TSocketHandle s = Winsock().socket(family, type, 0);
    if (s == InvalidSocket)
        throw EWireInvalidSocket();
    FSocket = s;
}

void TWire::RaiseSocketError(int number)
{
    throw EWireSocketError(number, Winsock().TranslateSocketError(number));
}

TWireSocket::TWireSocket()
{
    FInBuffer.assign(static_cast<std::size_t>(FBufferChunk), '\0');
}

void TWireSocket::SetBufferChunk(std::int32_t value)
{
    if (Connected() || value < 1)
        return;
    FBufferChunk = value;
    FInBuffer.assign(static_cast<std::size_t>(value), '\0');
    ResetBuffer();
}

std::size_t TWireSocket::NextBufferSize(std::size_t length, std::size_t position, std::size_t chunk)
{
    const long long l = static_cast<long long>(length);
    const long long p = static_cast<long long>(position);
    const long long c = static_cast<long long>(chunk);
    if (l - p < p / 2)
        return length + chunk;
    if (l - p > 2 * c && l - c > c)
        return length - chunk;
    return length;
}

void TWireSocket::ResetBuffer()
{
    FInBufferStart = 1;
    FInBufferEnd = 1;
    FSearched = 0;
}

void TWireSocket::Disconnect()
{
    CloseLog();
    ResetBuffer();
    FTransport.reset();
    TWire::Disconnect();
}

void TWireSocket::CloseSocket()
{
    FTransport.reset();
    TWire::CloseSocket();
}

void TWireSocket::DropConnection()
{
    if (Connected())
        TWireSocket::Disconnect();
}

std::unique_ptr<IWireTransport> TWireSocket::CreateTransport(TSocketHandle socket)
{
    return std::make_unique<TSocketTransport>(Winsock(), socket);
}

void TWireSocket::AttachTransport(std::unique_ptr<IWireTransport> transport)
{
    FTransport = std::move(transport);
}

void TWireSocket::OpenLog()
{
    CloseLog();
    if (LogFile.empty())
        return;
    FLogStream.open(LogFile, std::ios::binary | std::ios::trunc);
    if (!FLogStream)
        throw EWireException("Cannot create the log file " + LogFile + ".");
    // The trace holds user names and mail headers: it is for the user's eyes only.
    std::error_code ignored;
    std::filesystem::permissions(
        LogFile, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write,
        std::filesystem::perm_options::replace, ignored);
}

void TWireSocket::Log(const std::string& prefix, const std::string& text)
{
    if (!FLogStream.is_open())
        return;
    FLogStream << prefix << text << "\r\n";
    FLogStream.flush();
}

void TWireSocket::CloseLog()
{
    if (FLogStream.is_open())
        FLogStream.close();
}

void TWireSocket::WriteLine(const std::string& text)
{
    WriteText(text + LineTerminator);
}

void TWireSocket::WriteText(const std::string& text)
{
    if (text.empty())
        return;
    WriteBytes(text.data(), text.size());
}

void TWireSocket::WriteBytes(const char* buffer, std::size_t count)
{
    if (!Connected())
        throw EWireClosedSocket();
    std::size_t sent = 0;
    while (sent < count) {
        if (!FTransport)
            RaiseSocketError(10057);
        const long result = FTransport->Send(buffer + sent, count - sent, ReadTimeout);
        FClosedGracefully = result == 0;
        if (result < 0) {
            const int error = FTransport->LastError();
            if (error == WireErrors::Shutdown || error == WireErrors::TimedOut)
                DropConnection();
            RaiseSocketError(error);
        }
        if (FClosedGracefully) {
            DropConnection();
            throw EWireConnClosedGraceful();
        }
        sent += static_cast<std::size_t>(result);
    }
}

void TWireSocket::FillBuffer()
{
    if (!Connected() || !FTransport)
        RaiseSocketError(10057);
    // Unread bytes move to the front before the capacity rule sees the buffer, as if every
    // line had been taken out of it at once.
    if (FInBufferStart > 1) {
        const std::size_t unread = FInBufferEnd - FInBufferStart;
        std::memmove(FInBuffer.data(), FInBuffer.data() + FInBufferStart - 1, unread);
        FInBufferStart = 1;
        FInBufferEnd = unread + 1;
    }
    FInBuffer.resize(NextBufferSize(FInBuffer.size(), FInBufferEnd, FBufferChunk));
    // A buffer filled to its last byte must still take at least one more.
    if (FInBuffer.size() < FInBufferEnd)
        FInBuffer.resize(FInBufferEnd - 1 + static_cast<std::size_t>(FBufferChunk));

    const std::size_t room = FInBuffer.size() - (FInBufferEnd - 1);
    char* target = FInBuffer.data() + FInBufferEnd - 1;
    const long result = FTransport->Receive(target, room, ReceiveTimeout());
    FClosedGracefully = result == 0;
    if (result < 0) {
        const int error = FTransport->LastError();
        // After a time-out the rest of the reply may still come, and would be read as the
        // next command's reply: the session cannot go on.
        if (error == WireErrors::Shutdown || error == WireErrors::TimedOut)
            DropConnection();
        RaiseSocketError(error);
    }
    FResponseReceived += static_cast<std::size_t>(result);
    DoWork(static_cast<std::int32_t>(
        std::min<long long>(static_cast<long long>(result) + FWorkDone, INT32_MAX)));
    if (ASCIIFilter)
        for (long i = 0; i < result; ++i)
            target[i] = static_cast<char>(target[i] & 0x7F);
    FInBufferEnd += static_cast<std::size_t>(result);
    if (FClosedGracefully) {
        DropConnection();
        throw EWireConnClosedGraceful();
    }
}

void TWireSocket::StartResponse()
{
    FResponseBytes = 0;
    FResponseLines = 0;
    FResponseReceived = 0;
    FResponseStart = std::chrono::steady_clock::now();
}

int TWireSocket::ReceiveTimeout()
{
    if (ReadTimeout <= 0)
        return ReadTimeout;
    const auto allowed = std::chrono::milliseconds(ReadTimeout) *
                         (ReplyTimeFactor + FResponseReceived / ReplyBytesPerTimeout);
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          FResponseStart + allowed - std::chrono::steady_clock::now())
                          .count();
    if (left <= 0) {
        DropConnection();
        RaiseSocketError(WireErrors::TimedOut);
    }
    return static_cast<int>(std::min<long long>(left, ReadTimeout));
}

std::string TWireSocket::ExtractFromBuffer(std::size_t count)
{
    if (count > FInBufferEnd - FInBufferStart)
        throw std::runtime_error("Not enough data in buffer.");
    std::string bytes(FInBuffer.data() + FInBufferStart - 1, count);
    FInBufferStart += count;
    FSearched = 0;
    return bytes;
}

std::string TWireSocket::ReadLine()
{
    const std::string& terminator = LineTerminator;
    for (;;) {
        const char* begin = FInBuffer.data() + FInBufferStart - 1;
        const char* end = FInBuffer.data() + FInBufferEnd - 1;
        const std::size_t unread = static_cast<std::size_t>(end - begin);
        // Only the bytes that arrived since the last search can complete a terminator.
        const std::size_t overlap = terminator.empty() ? 0 : terminator.size() - 1;
        const std::size_t from = FSearched > overlap ? FSearched - overlap : 0;
        const char* found = std::search(begin + from, end, terminator.begin(), terminator.end());
        const std::size_t lineLength = static_cast<std::size_t>(found - begin);
        const bool complete = found != end && !terminator.empty();
        // Without a cap a server could fill the memory with one endless line.
        if ((complete && lineLength > MaxLineLength) ||
            (!complete && unread > MaxLineLength + overlap)) {
            DropConnection();
            throw EWireException("Line too long.");
        }
        if (complete) {
            FResponseBytes += lineLength + terminator.size();
            if (FResponseBytes > MaxResponseSize || ++FResponseLines > MaxResponseLines) {
                DropConnection();
                throw EWireException("Response too long.");
            }
            std::string line = ExtractFromBuffer(lineLength);
            ExtractFromBuffer(terminator.size());
            return line;
        }
        FSearched = unread;
        FillBuffer();
    }
}

std::string TWireSocket::ReadTrimmedLine()
{
    for (;;) {
        std::string line(Trim(ReadLine()));
        if (!line.empty())
            return line;
    }
}

std::string TWireSocket::ReadBytes(std::size_t count)
{
    while (FInBufferEnd - FInBufferStart < count)
        FillBuffer();
    return ExtractFromBuffer(count);
}

std::int16_t TWireSocket::ReadReply()
{
    StartResponse();
    FReplyLines.clear();
    // RFC 1939 §3: a status line is one line. Reading "+OK-" as the first of a continued reply
    // would let a server send lines without end before the log-in.
    FReplyText = ReadTrimmedLine();
    Log("I: ", FReplyText + "\r\n");
    if (FReplyText.compare(0, 3, "+OK") == 0)
        FReplyCode = 1;
    else if (FReplyText.compare(0, 4, "-ERR") == 0)
        FReplyCode = 0;
    else
        FReplyCode = NumericCode(FReplyText);
    return FReplyCode;
}

std::int16_t TWireSocket::SendCommand(const std::string& command, std::int16_t expectedCode,
                                      const std::string& statusText, std::uint8_t indent)
{
    if (command != std::string(1, '\0'))
        WriteCommand(command);
    return ReadCommandReply(expectedCode, statusText, indent);
}

void TWireSocket::WriteCommand(const std::string& command)
{
    WriteCommands({command});
}

void TWireSocket::WriteCommands(const std::vector<std::string>& commands)
{
    // A line break inside an argument (a pasted password, say) would reach the server as a
    // second command of its own; a NUL ends the command early on many servers.
    for (const std::string& command : commands) {
        if (command.find_first_of("\r\n") != std::string::npos)
            throw EWireException("Command contains a line break.");
        if (command.find('\0') != std::string::npos)
            throw EWireException("Command contains a NUL character.");
    }
    std::string text;
    for (const std::string& command : commands) {
        Log("O: ", Masked(command));
        text += command + LineTerminator;
    }
    WriteText(text);
}

bool TWireSocket::Sendable(const std::string& command)
{
    return command.find_first_of(std::string("\r\n\0", 3)) == std::string::npos;
}

std::int16_t TWireSocket::ReadCommandReply(std::int16_t expectedCode, const std::string& statusText,
                                           std::uint8_t indent)
{
    ReadReply();
    if (expectedCode >= 0 && expectedCode != FReplyCode)
        throw EWireResponseError(FReplyText);
    const std::string margin(2 * static_cast<std::size_t>(indent), ' ');
    if (statusText == "*")
        DoStatus(margin + FReplyText);
    else if (!statusText.empty())
        DoStatus(margin + statusText);
    return FReplyCode;
}

void TWireSocket::DoStatus(const std::string& text)
{
    if (!OnStatus)
        return;
    try {
        OnStatus(*this, text);
    } catch (const EWireException& e) {
        e.RaiseWithMessage(e.what() + std::string(StatusSuffix));
    } catch (const std::exception& e) {
        // The handler's class is not known here; its message is kept.
        throw std::runtime_error(e.what() + std::string(StatusSuffix));
    }
}

void TWireSocket::DoWork(std::int32_t count)
{
    FWorkDone = count;
    if (FWorkSize == -2)
        return;
    if (count != -1 && count / 1024 <= FLastKilobytes)
        return;
    FLastKilobytes = count / 1024;
    if (OnWork)
        OnWork(*this, FWorkDone, FWorkSize);
}

void TWireSocket::BeginWork(std::int32_t size)
{
    FWorkDone = 0;
    FWorkSize = size;
}

void TWireSocket::EndWork()
{
    FWorkSize = -1;
    DoWork(-1);
    FWorkSize = -2;
}

TWireClient::~TWireClient()
{
    OnStatus = nullptr;
    if (Connected())
        TWireClient::Disconnect();
}

void TWireClient::Connect()
{
    if (Connected())
        throw EWireAlreadyConnected();
    DoStatus("Connecting to " + Host);
    SetBufferChunk(BufferChunk());
    try {
        ConnectSocket();
        OpenLog();
        DoStatus("Socket Connected");
        SetClosedGracefully(false);
        StartResponse();
    } catch (...) {
        // The failure that stopped the connection is what the user must read; a failure of
        // the clean-up after it (a goodbye to a server that never answered) says nothing.
        try {
            Disconnect();
        } catch (const std::exception&) {
        }
        throw;
    }
}

void TWireClient::ConnectSocket()
{
    if (Port < 0 || Port > 65535)
        RaiseSocketError(10022);
    std::string dotted;
    const std::vector<TSocketAddress> addresses = ResolveHost(Host, &dotted);
    int lastError = WireErrors::HostNotFound;
    for (std::size_t i = 0; i < addresses.size(); ++i) {
        const TSocketAddress& address = addresses[i];
        const bool last = i + 1 == addresses.size();
        try {
            AllocateSocket(WireSocket::SockStream, address.Family());
        } catch (const EWireInvalidSocket&) {
            // A machine without IPv6 cannot make a socket for an IPv6 address; the next
            // address may be IPv4.
            if (last)
                throw;
            continue;
        }
        if (!UseNagle) {
            const int on = 1;
            if (Winsock().setsockopt(Socket(), WireSocket::IpProtoTcp, WireSocket::TcpNoDelay, &on,
                                     sizeof on) != 0)
                RaiseSocketError(Winsock().WSAGetLastError());
        }
        if (Winsock().connect(Socket(), address, ConnectTimeout) == 0) {
            AttachTransport(CreateTransport(Socket()));
            return;
        }
        lastError = Winsock().WSAGetLastError();
        CloseSocket();
    }
    RaiseSocketError(lastError);
}

void TWireClient::Disconnect()
{
    try {
        DoStatus("Disconnecting");
        TWireSocket::Disconnect();
        DoStatus("Disconnected");
    } catch (const std::exception&) {
        // Disconnecting ends a session whatever happens; nothing is left to report to.
        TWireSocket::Disconnect();
    }
}

std::vector<TSocketAddress> TWireClient::ResolveHost(const std::string& host,
                                                     std::string* dottedText)
{
    TWinsockIntfBase& winsock = Winsock();
    const std::uint16_t port = static_cast<std::uint16_t>(Port);
    std::string name = host;
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    std::vector<TSocketAddress> addresses;
    if (name == "LOCALHOST") {
        addresses.push_back(MakeIPv4Address(winsock.inet_addr("127.0.0.1"), port));
    } else if (const std::uint32_t numeric = winsock.inet_addr(host); numeric != 0xFFFFFFFFu) {
        addresses.push_back(MakeIPv4Address(numeric, port));
    } else if (!host.empty()) {
        addresses = winsock.gethostbyname(host, port);
        if (addresses.empty())
            RaiseSocketError(winsock.WSAGetLastError());
    } else {
        RaiseSocketError(WireErrors::HostNotFound);
    }
    if (dottedText != nullptr)
        *dottedText = winsock.inet_ntoa(addresses.front());
    return addresses;
}

int TWireClient::CaptureLines(const std::vector<std::string>& terminators,
                              const std::function<void(std::string&)>& store)
{
    BeginWork(-1);
    struct TEndWork
    {
        TWireClient& Client;
        ~TEndWork() { Client.EndWork(); }
    } endWork{*this};
    const bool unstuff = !terminators.empty() && terminators.front() == ".";
    for (;;) {
        std::string line = ReadLine();
        for (std::size_t i = 0; i < terminators.size(); ++i)
            if (line == terminators[i])
                return static_cast<int>(i + 1);
        // RFC 1939 §3: a line of the response that begins with "." has had a "." put before it.
        if (unstuff && line.compare(0, 2, "..") == 0)
            line.erase(0, 1);
        store(line);
    }
}

int TWireClient::Capture(std::vector<std::string>& lines,
                         const std::vector<std::string>& terminators)
{
    return CaptureLines(terminators, [&lines](std::string& line) { lines.push_back(line); });
}

int TWireClient::Capture(std::ostream& stream, const std::vector<std::string>& terminators)
{
    return CaptureLines(terminators, [&stream](std::string& line) { stream << line << "\r\n"; });
}

int TWireClient::Capture(const std::vector<std::string>& terminators)
{
    return CaptureLines(terminators, [this](std::string& line) {
        if (OnLine)
            OnLine(*this, line);
    });
}
