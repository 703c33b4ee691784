#pragma once

#include "pop3/TlsTransport.h"

#include <cstdint>
#include <string>

class TWirePOP3;

// The mailbox that the mail benchmarks fill, and the client set-up they share.

// Where a benchmark's client logs in.
struct TBenchTarget
{
    std::uint16_t Port = 0;
    std::string User;
    std::string Password;
    TWireSecurity Security = TWireSecurity::None;
};

// Message n of a benchmark mailbox: a plain text message with the headers of real mail.
std::string BenchMessage(int n);

// Points the client at the target on 127.0.0.1, secured as the target says, with a status
// handler that only keeps the texts from being optimised away.
void PrepareClient(TWirePOP3& client, const TBenchTarget& target);

// Waits until no earlier session holds the mailbox. The client leaves without reading the
// answer to QUIT, so a server that locks the mailbox may still be closing the last session.
// Throws std::runtime_error when the mailbox stays in use.
void WaitUntilFree(const TBenchTarget& target);
