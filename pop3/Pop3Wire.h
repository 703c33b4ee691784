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

    // Connects, reads the greeting and logs in with USER and PASS, securing the connection
    // first as Security says. Throws EWireSocketError when the connection fails,
    // EWireConnectRefused with the greeting when it is not "+OK", EWireTlsError (or its
    // EWireCertificateError) when the connection cannot be secured, EWireResponseError with
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

    // A listing gives the header and size of messages 1 to count in order, as a check lists
    // them. Pipelined (only for a server that lists PIPELINING among its Capabilities, RFC
    // 2449), the TOP and LIST commands of the next messages go out ahead of their replies,
    // which are read in order; otherwise every command's reply is read before the
    // next command goes out. Either way each message gives the results, status texts and
    // failures of RetrieveHeader and RetrieveSize, and a command that could not be sent fails
    // at the message it was for. Pipelined, a LIST reply that names another message than the
    // one asked for throws EWireException: the replies are out of step with the commands.
    void StartListing(std::int32_t count, bool pipelined);
    // Whether the listing has messages left.
    bool ListingPending() const { return FNextToRead <= FListCount; }
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

    // The server's capability lines (RFC 2449 CAPA); empty when it does not know the command.
    std::vector<std::string> Capabilities();
    // Whether the server allows several commands on the way at once.
    static bool AllowsPipelining(const std::vector<std::string>& capabilities);

private:
    // Whether the capability lines hold the one named, in any case.
    static bool HasCapability(const std::vector<std::string>& capabilities,
                              const std::string& name);
    // Everything of Connect before the log-in: TLS, the greeting, STLS.
    void OpenSession(bool acceptAnyCertificate);
    // Turns the connection into a TLS session and posts "Secure connection established (...)".
    // A failure ends the connection without a word more to the server.
    void Secure(bool acceptAnyCertificate);
    // RFC 2595 §4: STLS after the greeting, then the TLS session.
    void StartTls(bool acceptAnyCertificate);

    // Messages whose commands may be on the way at once when the server allows pipelining:
    // enough to hide the round trips, few enough that neither side's buffers can fill up.
    static constexpr std::int32_t PipelineWindow = 32;

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

    TListedMessage ListPipelined(TWireMessage& message);
    // Sends the commands of the next messages while the pipeline has room. A failed write
    // stops the sending; its failure is kept for the message whose command it was.
    void SendAhead();
    // Whether the commands of one more message may go out before the replies due are read.
    bool PipelineHasRoom() const;
    void ResetListing();

    // The replies due, oldest first.
    std::deque<TPendingReply> FPending;
    bool FPipelined = false;
    std::int32_t FListCount = 0;
    // The next message whose commands go out, and the next one whose replies are read.
    std::int32_t FNextToSend = 1;
    std::int32_t FNextToRead = 1;
    std::exception_ptr FSendError;
    std::string FSendErrorText;
    std::optional<TPeerCertificate> FPeerCertificate;
};
