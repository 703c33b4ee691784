#include "pop3/InterruptibleSocketApi.h"

#include "pop3/Pop3Wire.h"
#include "tests/support/FakePop3Server.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <utility>

namespace {

using TClock = std::chrono::steady_clock;

// A byte stream that reads and writes its socket itself, as an encrypting layer does, instead
// of through the socket table.
class TOwnReadsTransport : public IWireTransport
{
public:
    explicit TOwnReadsTransport(TSocketHandle socket)
        : FSocket(socket)
    {}

    long Receive(char* buffer, std::size_t capacity, int timeoutMs) override
    {
        pollfd entry{FSocket, POLLIN, 0};
        if (::poll(&entry, 1, timeoutMs) == 0) {
            FError = WireErrors::TimedOut;
            return -1;
        }
        return static_cast<long>(::recv(FSocket, buffer, capacity, 0));
    }
    long Send(const char* data, std::size_t count, int) override
    {
        return static_cast<long>(::send(FSocket, data, count, MSG_NOSIGNAL));
    }
    int LastError() override { return FError; }

private:
    TSocketHandle FSocket;
    int FError = 0;
};

class TOwnReadsClient : public TWirePOP3
{
protected:
    std::unique_ptr<IWireTransport> CreateTransport(TSocketHandle socket) override
    {
        return std::make_unique<TOwnReadsTransport>(socket);
    }
};

// What a connection to a server that accepts and then says nothing ended with when the wait for
// its greeting was interrupted: "greeted", the error's text, or "still waiting".
struct TInterruptedConnect
{
    std::string Result;
    TClock::duration After{};
};

TInterruptedConnect ConnectAndInterrupt(TWirePOP3& client, TInterruptibleSocketApi& sockets)
{
    TFakePop3Server silent;
    silent.Pause(20000);
    silent.Start();
    client.SetWinsock(sockets);
    client.Host = "127.0.0.1";
    client.Port = silent.Port();
    client.ReadTimeout = 20000;
    auto connecting = std::async(std::launch::async, [&client]() -> std::string {
        try {
            client.Connect();
        } catch (const EWireException& error) {
            return error.what();
        }
        return "greeted";
    });
    // The greeting is being waited for once the socket is connected.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const auto interrupted = TClock::now();
    sockets.Interrupt();
    if (connecting.wait_for(std::chrono::seconds(3)) != std::future_status::ready)
        return {"still waiting", TClock::now() - interrupted};
    const TClock::duration after = TClock::now() - interrupted;
    return {connecting.get(), after};
}

} // namespace

// Stop reaches the socket itself, not the layer that reads it: a transport above the socket
// that does its own reads, as an encrypting one does, is woken the same way.
TEST(InterruptibleSocketApiTest, InterruptEndsAWaitOnASilentServerAtOnceWhateverReadsIt)
{
    // The tables outlive the clients that call them.
    TInterruptibleSocketApi plainSockets;
    TInterruptibleSocketApi ownSockets;
    TWirePOP3 plain;
    TOwnReadsClient ownReads;
    const std::pair<TWirePOP3*, TInterruptibleSocketApi*> clients[] = {{&plain, &plainSockets},
                                                                       {&ownReads, &ownSockets}};
    for (const auto& [client, sockets] : clients) {
        const TInterruptedConnect connect = ConnectAndInterrupt(*client, *sockets);
        EXPECT_NE(connect.Result, "still waiting");
        EXPECT_NE(connect.Result, "greeted");
        EXPECT_LT(connect.After, std::chrono::seconds(1));
        EXPECT_FALSE(client->Connected());

        // Later connections fail at once with their own number.
        try {
            client->Connect();
            ADD_FAILURE() << "connected after the interruption";
        } catch (const EWireSocketError& error) {
            EXPECT_EQ(error.Number(), TInterruptibleSocketApi::InterruptedError);
        }
    }
}

TEST(InterruptibleSocketApiTest, SessionsWorkAsWithThePlainLibraryUntilThen)
{
    TFakePop3Server server;
    server.Reply("+OK ready")
        .Receive("CAPA")
        .Send("+OK\r\nPIPELINING\r\n.\r\n")
        .Receive("User alice")
        .Receive("Pass secret")
        .Receive("STAT")
        .Send("+OK\r\n+OK\r\n+OK 4 400\r\n")
        .Receive("Quit");
    server.Start();
    TInterruptibleSocketApi sockets;
    TWirePOP3 client;
    client.CountWithLogin = true;
    client.SetWinsock(sockets);
    client.Host = "127.0.0.1";
    client.Port = server.Port();
    client.UserID = "alice";
    client.Password = "secret";
    client.Connect();
    EXPECT_EQ(client.CheckMessages(), 4);
    client.Disconnect();
    ASSERT_TRUE(server.WaitDone());
    EXPECT_EQ(server.Problems(), "");
    EXPECT_FALSE(sockets.Interrupted());
}
