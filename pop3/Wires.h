#pragma once

#include "pop3/SocketApi.h"

#include <chrono>
#include <cstdint>
#include <fstream>
#include <functional>
#include <iosfwd>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

// Base of every failure of the wire components.
class EWireException : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
    // Raises an exception of this exception's own class, with the given message.
    [[noreturn]] virtual void RaiseWithMessage(const std::string& message) const;
};

// A socket call failed; the message is "Socket Error #", the number, CR LF and the number's
// text.
class EWireSocketError : public EWireException
{
public:
    EWireSocketError(int number, const std::string& text);
    int Number() const { return FNumber; }
    [[noreturn]] void RaiseWithMessage(const std::string& message) const override;

private:
    struct TMessageTag
    {};
    EWireSocketError(int number, const std::string& message, TMessageTag);
    int FNumber;
};

// Gives a wire exception class the constructors of its base and a RaiseWithMessage that throws
// the class itself, so a message can be extended without losing the class.
template <class TDerived, class TBase = EWireException> class TWireExceptionOf : public TBase
{
public:
    using TBase::TBase;
    [[noreturn]] void RaiseWithMessage(const std::string& message) const override
    {
        throw TDerived(message);
    }
};

// The reply's code was not the expected one; the message is the reply line.
class EWireResponseError : public TWireExceptionOf<EWireResponseError>
{
public:
    using TWireExceptionOf::TWireExceptionOf;
};

class EWireClosedSocket : public TWireExceptionOf<EWireClosedSocket>
{
public:
    using TWireExceptionOf::TWireExceptionOf;
    EWireClosedSocket();
};

class EWireInvalidSocket : public TWireExceptionOf<EWireInvalidSocket>
{
public:
    using TWireExceptionOf::TWireExceptionOf;
    EWireInvalidSocket();
};

// The server's greeting was not "+OK"; the message is the greeting line.
class EWireConnectRefused : public TWireExceptionOf<EWireConnectRefused>
{
public:
    using TWireExceptionOf::TWireExceptionOf;
};

class EWireAlreadyConnected : public TWireExceptionOf<EWireAlreadyConnected>
{
public:
    using TWireExceptionOf::TWireExceptionOf;
    EWireAlreadyConnected();
};

// Base of the failures that callers may pass over without telling the user.
class EWireSilentException : public TWireExceptionOf<EWireSilentException>
{
public:
    using TWireExceptionOf::TWireExceptionOf;
};

class EWireConnClosedGraceful
    : public TWireExceptionOf<EWireConnClosedGraceful, EWireSilentException>
{
public:
    using TWireExceptionOf::TWireExceptionOf;
    EWireConnClosedGraceful();
};

// The byte stream beneath the line buffer: a plain socket now, a TLS session later.
class IWireTransport
{
public:
    virtual ~IWireTransport() = default;
    // Both wait at most timeoutMs (0 or less: without limit) and return the count of bytes
    // moved, 0 when the peer has closed the stream, or -1 with the error number in LastError
    // (10060 when the time ran out).
    virtual long Receive(char* buffer, std::size_t capacity, int timeoutMs) = 0;
    virtual long Send(const char* data, std::size_t count, int timeoutMs) = 0;
    virtual int LastError() = 0;
};

// The transport of a plain TCP connection. It does not own the socket.
class TSocketTransport : public IWireTransport
{
public:
    TSocketTransport(TWinsockIntfBase& winsock, TSocketHandle socket);
    long Receive(char* buffer, std::size_t capacity, int timeoutMs) override;
    long Send(const char* data, std::size_t count, int timeoutMs) override;
    int LastError() override;

private:
    TWinsockIntfBase& FWinsock;
    TSocketHandle FSocket;
};

class TWireSocket;
using TStringEvent = std::function<void(TWireSocket& sender, const std::string& sOut)>;
using TProgressEvent =
    std::function<void(TWireSocket& sender, std::int32_t plWork, std::int32_t plWorkSize)>;
using TLineEvent = std::function<void(TWireSocket& sender, const std::string& line)>;

// Root of the wire components: holds the socket library they call.
class TWireBase
{
public:
    TWireBase();
    virtual ~TWireBase() = default;
    TWireBase(const TWireBase&) = delete;
    TWireBase& operator=(const TWireBase&) = delete;

    TWinsockIntfBase& Winsock() const { return *FWinsock; }
    // For tests that stand in for the socket library; the table must outlive the component.
    void SetWinsock(TWinsockIntfBase& winsock) { FWinsock = &winsock; }

private:
    TWinsockIntfBase* FWinsock;
};

// A component that holds one socket handle.
class TWire : public TWireBase
{
public:
    ~TWire() override;

    std::int32_t Port = 0;
    // Kept for the stored form of the component; connecting does not use it.
    std::string BoundIP;
    std::string Version() const { return "2.0"; }
    TSocketHandle Socket() const { return FSocket; }

    // Forgets the handle first, then closes it.
    virtual void CloseSocket();
    // True while a socket exists, so already before it has connected.
    virtual bool Connected() const;
    virtual void Disconnect();

protected:
    // Closes any socket first. Throws EWireInvalidSocket when no socket can be made.
    void AllocateSocket(int type, int family = WireSocket::AfInet);
    // Throws EWireSocketError for the number, with the number's text.
    [[noreturn]] void RaiseSocketError(int number);

private:
    TSocketHandle FSocket = InvalidSocket;
};

// A buffered line socket: writes text lines, reads lines and protocol replies.
class TWireSocket : public TWire
{
public:
    static constexpr std::size_t MaxLineLength = 1024 * 1024;

    TWireSocket();

    // The receive buffer's next capacity for capacity length, first free position position
    // (1-based) and step chunk: one step more when less than half the unread count is free,
    // one step less when more than two steps are free and more than one would remain.
    static std::size_t NextBufferSize(std::size_t length, std::size_t position, std::size_t chunk);

    bool UseNagle = true;
    // File that receives a trace of the commands sent ("O: ") and the reply lines read
    // ("I: "); empty for none. Passwords never reach it.
    std::string LogFile;
    std::string LineTerminator = "\r\n";
    // Clears the high bit of every byte received.
    bool ASCIIFilter = false;
    // Longest wait for a connection and for every read or write, in milliseconds; 0 or less
    // waits without limit. Expiry raises EWireSocketError 10060 and drops the connection, as
    // the reply under way can no longer be told from the next one. A reply as a whole (its
    // status line and the lines captured after it) must also arrive within ReplyTimeFactor
    // read time-outs, plus one more for every ReplyBytesPerTimeout bytes received, so that a
    // server trickling a byte at a time cannot hold a session for ever.
    int ConnectTimeout = 60000;
    int ReadTimeout = 60000;
    static constexpr int ReplyTimeFactor = 3;
    static constexpr std::size_t ReplyBytesPerTimeout = 16 * 1024;
    // Bytes and lines one reply or capture may hold in all before it ends with "Response too
    // long." and the connection is dropped. Each line costs a string of its own in memory, so
    // the line count is capped as well as the bytes.
    std::size_t MaxResponseSize = 64 * 1024 * 1024;
    std::size_t MaxResponseLines = 100000;
    TStringEvent OnStatus;
    TProgressEvent OnWork;
    // Receives each line of a Capture that has no destination.
    TLineEvent OnLine;

    bool ClosedGracefully() const { return FClosedGracefully; }
    std::int16_t ReplyCode() const { return FReplyCode; }
    const std::string& ReplyText() const { return FReplyText; }
    const std::vector<std::string>& ReplyLines() const { return FReplyLines; }
    std::int32_t BufferChunk() const { return FBufferChunk; }
    // Ignored while connected and for values below 1.
    void SetBufferChunk(std::int32_t value);
    // The receive buffer's capacity and the 1-based position of its first free byte.
    std::size_t InBufferSize() const { return FInBuffer.size(); }
    std::size_t InBufferEnd() const { return FInBufferEnd - FInBufferStart + 1; }
    std::int32_t WorkDone() const { return FWorkDone; }
    std::int32_t WorkSize() const { return FWorkSize; }

    void Disconnect() override;
    // The byte stream goes first: a TLS session never says goodbye on a handle the system may
    // already have given to another socket.
    void CloseSocket() override;

    void WriteLine(const std::string& text);
    // Throws EWireClosedSocket when there is no socket.
    void WriteText(const std::string& text);
    void WriteBytes(const char* buffer, std::size_t count);
    // The next line without its terminator. Throws EWireException "Line too long." for a line
    // longer than MaxLineLength, dropping the connection.
    std::string ReadLine();
    std::string ReadTrimmedLine();
    std::string ReadBytes(std::size_t count);
    // Reads one reply line; sets ReplyText and ReplyCode (1 for "+OK", 0 for "-ERR", else the
    // number the reply begins with, or 0). POP3 has no continued status lines ("250-"): a line
    // such as "+OK-" is a reply of its own, and ReplyLines stays empty.
    std::int16_t ReadReply();
    // Sends the command (a single NUL character sends nothing) and reads the reply. Throws
    // EWireResponseError with the reply line when expectedCode is 0 or more and differs from
    // the reply's code, EWireException for a command holding CR, LF or NUL. statusText "*" posts
    // the reply line, an empty text posts nothing.
    virtual std::int16_t SendCommand(const std::string& command, std::int16_t expectedCode,
                                     const std::string& statusText, std::uint8_t indent);
    // The two halves of SendCommand, for callers that send several commands before reading
    // their replies (RFC 2449 pipelining): the replies come back in the order of the commands.
    void WriteCommand(const std::string& command);
    // Several commands in one write, their replies to be read afterwards in order. Throws as
    // WriteCommand does, before anything is sent, when one of them may not go out.
    void WriteCommands(const std::vector<std::string>& commands);
    // Whether the command may go out: it holds no CR, LF or NUL.
    static bool Sendable(const std::string& command);
    std::int16_t ReadCommandReply(std::int16_t expectedCode, const std::string& statusText,
                                  std::uint8_t indent);

    // Calls OnStatus. An exception from the handler comes back as one of its own class whose
    // message ends in " occurred in user's OnStatus Event.".
    void DoStatus(const std::string& text);
    virtual void DoWork(std::int32_t count);
    void BeginWork(std::int32_t size);
    void EndWork();

protected:
    // Makes the byte stream over a freshly connected socket.
    virtual std::unique_ptr<IWireTransport> CreateTransport(TSocketHandle socket);
    void AttachTransport(std::unique_ptr<IWireTransport> transport);
    void SetReplyText(const std::string& text) { FReplyText = text; }
    void SetClosedGracefully(bool value) { FClosedGracefully = value; }
    // A reply begins: its byte and line counts and its overall deadline start afresh.
    void StartResponse();
    void OpenLog();
    void Log(const std::string& prefix, const std::string& text);
    void CloseLog();
    void ResetBuffer();
    // Takes count bytes from the front of the receive buffer; throws std::runtime_error
    // "Not enough data in buffer." when it holds fewer.
    std::string ExtractFromBuffer(std::size_t count);
    void FillBuffer();
    // The wait for the next bytes: the read time-out, or less when the reply's overall deadline
    // comes first. Throws EWireSocketError 10060, dropping the connection, once it has passed.
    int ReceiveTimeout();
    // Closes the socket after the peer went away, without the goodbye of a full disconnect.
    void DropConnection();

private:
    std::unique_ptr<IWireTransport> FTransport;
    bool FClosedGracefully = false;
    std::int16_t FReplyCode = 0;
    std::int32_t FLastKilobytes = 0;
    std::int32_t FBufferChunk = 8192;
    std::string FInBuffer;
    // Unread bytes are FInBuffer[FInBufferStart, FInBufferEnd - 1), both 1-based; lines are
    // taken by moving the start and the rest is moved down before the next receive.
    std::size_t FInBufferStart = 1;
    std::size_t FInBufferEnd = 1;
    // Unread bytes already searched for a terminator without finding one.
    std::size_t FSearched = 0;
    std::size_t FResponseBytes = 0;
    std::size_t FResponseLines = 0;
    // Bytes received since the reply began, and when it began.
    std::size_t FResponseReceived = 0;
    std::chrono::steady_clock::time_point FResponseStart = std::chrono::steady_clock::now();
    std::int32_t FWorkDone = 0;
    std::int32_t FWorkSize = -2;
    std::ofstream FLogStream;
    std::string FReplyText;
    std::vector<std::string> FReplyLines;
};

// The outgoing connection of a line socket.
class TWireClient : public TWireSocket
{
public:
    ~TWireClient() override;

    std::string Host;
    std::string Password;
    std::string UserID;

    // Resolves Host, connects to Port and posts "Connecting to " + Host and "Socket
    // Connected". Throws EWireAlreadyConnected while connected, EWireSocketError on every
    // socket failure; on failure the component has disconnected.
    virtual void Connect();
    // Posts "Disconnecting" and "Disconnected" around the close; never throws.
    void Disconnect() override;

    // Reads lines up to one equal to a terminator (compared in order) and returns that
    // terminator's 1-based index. With "." as the first terminator, a leading ".." loses one
    // dot. Each line goes to the destination, or to OnLine when there is none.
    int Capture(std::vector<std::string>& lines, const std::vector<std::string>& terminators);
    int Capture(std::ostream& stream, const std::vector<std::string>& terminators);
    int Capture(const std::vector<std::string>& terminators);

    // The addresses to try for the host, in order: 127.0.0.1 for "localhost" in any case, a
    // numeric address as it is, else every address the resolver gives. Throws
    // EWireSocketError with the resolver's number when there is none.
    std::vector<TSocketAddress> ResolveHost(const std::string& host, std::string* dottedText);

private:
    int CaptureLines(const std::vector<std::string>& terminators,
                     const std::function<void(std::string&)>& store);
    void ConnectSocket();
};
