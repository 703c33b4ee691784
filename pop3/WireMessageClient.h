#pragma once

#include "pop3/Wires.h"

#include <string>

class TWireMessage;

// A line client that reads mail messages off the connection into message objects.
class TWireMessageClient : public TWireClient
{
public:
    // Not used on the receiving path.
    std::string XProgram;

    // Clears the message, then reads header lines up to the first line equal to terminator
    // and hands them to the message. A line "." ends the header as well, since it ends the
    // server's response. Returns 1 when the terminator ended the header, 2 when a "." did.
    // Socket failures pass on and leave the message empty.
    virtual int ReceiveHeader(TWireMessage& message, const std::string& terminator);
};
