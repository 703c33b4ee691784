#pragma once

#include "pop3/WireMessageClient.h"

#include <cstdint>
#include <string>
#include <vector>

class TWireMessage;

// The client side of a POP3 session: log-in, mailbox size, message headers and sizes,
// deletion and log-out.
class TWirePOP3 : public TWireMessageClient
{
public:
    TWirePOP3();
    ~TWirePOP3() override;

    // Connects, reads the greeting and logs in with USER and PASS. Throws EWireSocketError
    // when the connection fails, EWireConnectRefused with the greeting when it is not "+OK",
    // EWireResponseError with the reply line when USER or PASS is refused; the component has
    // then disconnected.
    void Connect() override;
    // Sends "Quit" without waiting for the answer, then closes. Throws EWireClosedSocket,
    // after closing, when there was no socket to send it on.
    void Disconnect() override;

    // The number of messages in the mailbox; 0 on any failure, whose text is posted.
    std::int32_t CheckMessages();
    // Reads the header of message n into the message. True when the response ended as POP3
    // says: an empty line, then ".". The whole response is consumed either way. Throws
    // EWireResponseError when the server refuses the command.
    bool RetrieveHeader(std::int32_t n, TWireMessage& message);
    // The size of message n in octets; -1 on any failure, whose text is posted.
    std::int32_t RetrieveSize(std::int32_t n);
    // True when the server accepted the deletion of message n.
    bool Delete(std::int32_t n);

    // RetrieveHeader and RetrieveSize in two halves each, so that a check can send the
    // commands for the next messages before it reads the replies of the first (RFC 2449
    // pipelining, only with a server that lists PIPELINING among its Capabilities). Each read
    // takes the oldest reply not yet read and gives what the whole operation gives.
    void RequestHeader(std::int32_t n);
    bool ReadHeader(TWireMessage& message);
    void RequestSize(std::int32_t n);
    std::int32_t ReadSize();
    // Read and drop the oldest reply not yet read of a RequestHeader or a RequestSize, posting
    // nothing, for the replies still on the way when a check stops early. They throw as the
    // reads do when the connection fails.
    void SkipHeader();
    void SkipSize();

    // The server's capability lines (RFC 2449 CAPA); empty when it does not know the command.
    std::vector<std::string> Capabilities();
    // Whether the server allows several commands on the way at once.
    static bool AllowsPipelining(const std::vector<std::string>& capabilities);
};
