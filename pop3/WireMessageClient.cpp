#include "pop3/WireMessageClient.h"

#include "pop3/WireMessage.h"

#include <utility>
#include <vector>

int TWireMessageClient::ReceiveHeader(TWireMessage& message, const std::string& terminator)
{
    message.Clear();
    std::vector<std::string> lines;
    // A response whose header lacks the empty line still ends at its "." line; waiting for
    // an empty line there would read into the next response or wait for ever.
    const int ended =
        terminator == "." ? Capture(lines, {terminator}) : Capture(lines, {terminator, "."});
    message.SetHeaderLines(std::move(lines));
    return ended;
}
