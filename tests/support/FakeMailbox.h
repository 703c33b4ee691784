#pragma once

#include "tests/support/FakePop3Server.h"

#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

// A mailbox behind the scripted server: answers the commands of POP3 sessions (USER, PASS,
// STAT, LIST, TOP, UIDL, CAPA, DELE, RSET, NOOP, QUIT, in any letter case) from a list of
// messages that a test may change between sessions. Deletions are carried out at QUIT.
class TFakeMailbox
{
public:
    std::string User = "alice";
    std::string Password = "secret";
    // The lines of the answer to CAPA; with none, CAPA is an unknown command, as to an old
    // server.
    std::vector<std::string> Capabilities;

    void SetMessages(std::vector<std::string> messages);
    void AddMessage(std::string message);
    std::vector<std::string> Messages();

    // Every reply waits this long first, as a slow server's would.
    void SetDelay(int milliseconds);
    // Called with each command line before it is answered, on the server's thread.
    void SetOnCommand(std::function<void(const std::string& command)> onCommand);

    // Adds sessions greeting-and-serve pairs to the server's script.
    void ServeOn(TFakePop3Server& server, int sessions);
    // A handler for one session.
    TFakePop3Server::THandler Session();

private:
    std::string Answer(const std::string& command, std::vector<bool>& deleted, bool& loggedIn);

    std::mutex FLock;
    std::vector<std::string> FMessages;
    int FDelayMs = 0;
    std::function<void(const std::string&)> FOnCommand;
};
