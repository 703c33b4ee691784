#pragma once

#include "pop3/TlsTransport.h"
#include "pop3/WireMessageClient.h"

#include <cstdint>
#include <deque>
#include <exception>
#include <optional>
#include <string>
#include <vector>

class TWireMessage;

// What a listing gives for one message.
struct TListedMessage
{
    std::int32_t Number = 0;
    // The size in octets; -1 when the server did not tell it.
    std::int32_t Size = -1;
    // Whether the header's response ended as POP3 says (see RetrieveHeader).
    bool HeaderComplete = false;
};

// What the server says of the whole mailbox in two multi-line replies (RFC 1939 UIDL and
// LIST), entry n - 1 for message n.
struct TMailboxIndex
{
    // The unique id of every message; empty when the server refused UIDL or left a message
    // without one (or gave two messages the same), so that no message can be told by its id.
    std::vector<std::string> Uids;
    // The size of every message in octets; empty when the server refused LIST or left a
    // message out.
    std::vector<std::int32_t> Sizes;
};

// The client side of a POP3 session: log-in, mailbox size, message headers and sizes (one at a
// time or pipelined), the preview's first lines, deletion and log-out. Every command text of
// the program is spelled here.
class TWirePOP3 : public TWireMessageClient
{
public:
    TWirePOP3();
    ~TWirePOP3() override;

    // How the connection is secured. With None everything, the password too, crosses the
    // network in plain text.
    TWireSecurity Security = TWireSecurity::None;
    // A SHA-256 fingerprint accepted in place of the authorities' word (see TTlsOptions).
    std::string TrustedCertificate;
    // Whether Connect sends STAT with the log-in to a server that allows pipelining, saving the
    // count its own round trip. Its reply is left for the next CountMessages or CheckMessages,
    // which must then be the session's next command.
    bool CountWithLogin = false;

    // Connects, reads the greeting, asks the server's capabilities and logs in with USER and
    // PASS, securing the connection first as Security says. To a server that allows pipelining
    // USER and PASS (and STAT, see CountWithLogin) go out in one write; their replies are read
    // and their status texts posted in order all the same. Throws EWireSocketError when the
    // connection fails, EWireConnectRefused with the greeting when it is not "+OK", EWireTlsError
    // (or its EWireCertificateError) when the connection cannot be secured, EWireResponseError with
    // the reply line when USER or PASS is refused; the component has then disconnected.
    void Connect() override;
    // Connects and goes as far as Connect goes before the log-in, accepting any certificate,
    // then says goodbye: the certificate the server presents, with what keeps it from being
    // accepted, for the user to look at. Throws as Connect does, and EWireTlsError when
    // Security is None.
    TPeerCertificate FetchCertificate();
    // The server's certificate since the connection was secured; nullptr for a plain one.
    const TPeerCertificate* PeerCertificate() const
    {
        return FPeerCertificate ? &*FPeerCertificate : nullptr;
    }
    // Sends "Quit" without waiting for the answer, then closes. Throws EWireClosedSocket,
    // after closing, when there was no socket to send it on.
    void Disconnect() override;
    // Sends "Quit" and waits for the answer before closing, so that the server has ended the
    // session (carried out its deletions, released the maildrop) when it returns. Throws
    // EWireResponseError with the reply line when the server refuses; it closes either way.
    void Logout();

    // The number of messages in the mailbox; 0 on any failure, whose text is posted.
    std::int32_t CheckMessages();
    // The same for a caller that must tell an empty mailbox from a failure: throws
    // EWireResponseError with the reply line when STAT is refused, EWireException when the
    // reply holds no count that fits (a missing, negative or too large count), and the
    // connection's failures.
    std::int32_t CountMessages();
    // Reads the header of message n into the message. True when the response ended as POP3
    // says: an empty line, then ".". The whole response is consumed either way. Throws
    // EWireResponseError when the server refuses the command.
    bool RetrieveHeader(std::int32_t n, TWireMessage& message);
    // The size of message n in octets; -1 on any failure, whose text is posted.
    std::int32_t RetrieveSize(std::int32_t n);
    // True when the server accepted the deletion of message n.
    bool Delete(std::int32_t n);

    // Asks UIDL and then LIST for the whole mailbox of count messages; pipelined, both
    // commands go out in one write. Posts nothing. A reply that names a message beyond count,
    // or a line that is no entry, is passed over. Throws the connection's failures; a refusal
    // only leaves its part of the index empty (after a refused UIDL, LIST is not asked one
    // command at a time).
    TMailboxIndex ReadIndex(std::int32_t count, bool pipelined);

    // A listing gives the header and size of messages 1 to count in order, as a check lists
    // them. Pipelined (only for a server that lists PIPELINING among its Capabilities, RFC
    // 2449), the TOP and LIST commands of the next messages go out ahead of their replies,
    // which are read in order; otherwise every command's reply is read before the
    // next command goes out. Either way each message gives the results, status texts and
    // failures of RetrieveHeader and RetrieveSize, and a command that could not be sent fails
    // at the message it was for. Pipelined, a LIST reply that names another message than the
    // one asked for throws EWireException: the replies are out of step with the commands.
    void StartListing(std::int32_t count, bool pipelined);
    // The same for the messages of numbers alone (ascending), whose headers the caller does
    // not know yet; with withSizes false no LIST n is sent and each size is -1 (the caller
    // has them from ReadIndex). Pipelined, the commands go out in writes of as many as the
    // limit on bytes on the way (PipelineBytes) lets through.
    void StartListing(std::vector<std::int32_t> numbers, bool withSizes, bool pipelined);
    // Whether the listing has messages left.
    bool ListingPending() const { return FNextToRead < FListNumbers.size(); }
    // The number of the message ListNext reads next; 0 when none is left.
    std::int32_t NextListed() const { return ListingPending() ? FListNumbers[FNextToRead] : 0; }
    // The next message of the listing: its header goes into message. Throws as RetrieveHeader
    // does, and std::logic_error when no message is left.
    TListedMessage ListNext(TWireMessage& message);
    // Ends the listing. The replies still due for the commands sent ahead (a check stopped
    // before its last message) are read and dropped without a status text, so that the
    // session ends in step with the server. Throws as the reads do when the connection fails.
    void EndListing();

    // Asks for the header and the first lineCount body lines of message n and reads the
    // server's acceptance, posting "Retrieving message". Throws EWireResponseError with the
    // reply line when the server refuses. The lines follow: ReadPreview reads them.
    void BeginPreview(std::int32_t n, std::int32_t lineCount);
    // The lines of the accepted preview up to the end of the response, without the dot that
    // RFC 1939 puts before a line beginning with ".".
    std::vector<std::string> ReadPreview();

    // Posts the status texts a listing posts for one message, for a message whose header and
    // size the caller knew already: the log reads the same whichever way a row was made.
    void PostListedMessage();

    // Command bytes that may be on the way, their replies not read yet, when the server allows
    // pipelining: far less than the socket buffers of both sides hold, so that neither side
    // can block the other, and enough for a thousand messages in one write.
    static constexpr std::size_t PipelineBytes = 32 * 1024;

    // The server's capability lines (RFC 2449 CAPA) as asked once by Connect, on the secured
    // connection when there is one; empty when the server does not know the command.
    const std::vector<std::string>& Capabilities() const { return FCapabilities; }
    // Whether the server allows several commands on the way at once.
    static bool AllowsPipelining(const std::vector<std::string>& capabilities);

private:
    // Whether the capability lines hold the one named, in any case.
    static bool HasCapability(const std::vector<std::string>& capabilities,
                              const std::string& name);
    // Everything of Connect before the log-in: TLS, the greeting, STLS.
    void OpenSession(bool acceptAnyCertificate);
    // Sends CAPA and reads the answer's lines; none when the server refuses it.
    std::vector<std::string> AskCapabilities();
    // USER and PASS, pipelined when the capabilities allow it.
    void LogIn();
    // Sends STAT, or reads its reply when it went out with the log-in.
    void AskCount();
    // Turns the connection into a TLS session and posts "Secure connection established (...)".
    // A failure ends the connection without a word more to the server.
    void Secure(bool acceptAnyCertificate);
    // RFC 2595 §4: STLS after the greeting, then the TLS session.
    void StartTls(bool acceptAnyCertificate);

    enum class TRequest
    {
        Header,
        Size
    };
    // A command sent ahead whose reply is still due.
    struct TPendingReply
    {
        TRequest Kind;
        std::int32_t Number;
        // The bytes of the command, free again once its reply is read.
        std::size_t Bytes;
    };

    // RetrieveHeader and RetrieveSize in two halves each: the commands go out now, the replies
    // are read later in the order of the commands.
    void RequestHeader(std::int32_t n);
    bool ReadHeader(TWireMessage& message);
    void RequestSize(std::int32_t n);
    std::int32_t ReadSize(std::int32_t n);
    // Whether an accepted LIST reply is that for message n.
    static bool AnswersList(const std::string& reply, std::int32_t n);
    // Read and drop a reply of TOP or of LIST, posting nothing.
    void SkipHeader();
    void SkipSize();

    // Sends the commands of the next messages, in one write, as many as the pipeline has room
    // for; nothing while more than half of PipelineBytes is on the way, so that the writes stay
    // few and large. A failed write stops the sending; its failure is kept for the first
    // message of the write, whose replies can no longer come.
    void SendAhead();
    // The reply due first has been read.
    void Answered();
    // Reads a multi-line reply's lines when the status line accepted the command.
    std::vector<std::string> ReadListingLines();
    void ResetListing();

    // The replies due, oldest first.
    std::deque<TPendingReply> FPending;
    bool FPipelined = false;
    bool FListSizes = true;
    std::vector<std::int32_t> FListNumbers;
    // Indexes into FListNumbers: the next message whose commands go out, and the next one whose
    // replies are read.
    std::size_t FNextToSend = 0;
    std::size_t FNextToRead = 0;
    // Bytes of the commands in FPending.
    std::size_t FBytesOnTheWay = 0;
    std::exception_ptr FSendError;
    std::optional<TPeerCertificate> FPeerCertificate;
    std::vector<std::string> FCapabilities;
    // STAT went out with the log-in and its reply is still due.
    bool FCountDue = false;
};
