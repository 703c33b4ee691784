#pragma once

#include "tests/support/FakePop3Server.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

// A mailbox behind the scripted server: its sessions are the sample server's POP3 sessions
// (USER, PASS, STAT, LIST, RETR, TOP, UIDL, CAPA, DELE, RSET, NOOP, QUIT, in any letter case),
// served from a list of messages that a test may change between sessions. A session sees the
// messages as they were at its log-in; its deletions are carried out at QUIT. The sessions
// share the messages with the mailbox, so either may end first.
class TFakeMailbox
{
public:
    // Taken by ServeOn and Session for the sessions they add.
    std::string User = "alice";
    std::string Password = "secret";
    // The lines of the answer to CAPA; with none, CAPA is an unknown command, as to an old
    // server.
    std::vector<std::string> Capabilities;
    // Answer UIDL as an old server does, as an unknown command.
    bool RefuseUidl = false;

    TFakeMailbox();
    ~TFakeMailbox();
    TFakeMailbox(const TFakeMailbox&) = delete;
    TFakeMailbox& operator=(const TFakeMailbox&) = delete;

    void SetMessages(std::vector<std::string> messages);
    void AddMessage(std::string message);
    // Removes a message as another client would; the others keep their unique ids.
    void RemoveMessage(std::size_t index);
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
    class TStore;
    std::shared_ptr<TStore> FStore;
};
