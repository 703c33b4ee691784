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

} // namespace

TEST(InterruptibleSocketApiTest, InterruptEndsAWaitOnASilentServerAtOnce)
{
    TFakePop3Server silent;
    silent.Pause(20000);
    silent.Start();
    TInterruptibleSocketApi sockets;
    TWirePOP3 client;
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
    ASSERT_EQ(connecting.wait_for(std::chrono::seconds(3)), std::future_status::ready)
        << "the client still waits for the greeting";
    EXPECT_LT(TClock::now() - interrupted, std::chrono::seconds(1));
    EXPECT_NE(connecting.get(), "greeted");
    EXPECT_FALSE(client.Connected());

    // Later connections fail at once with their own number.
    try {
        client.Connect();
        FAIL() << "connected after the interruption";
    } catch (const EWireSocketError& error) {
        EXPECT_EQ(error.Number(), TInterruptibleSocketApi::InterruptedError);
    }
}

// Stop reaches the socket itself, not the layer that reads it: a transport above the socket
// that does its own reads is woken the same way.
TEST(InterruptibleSocketApiTest, InterruptWakesATransportThatReadsTheSocketItself)
{
    TFakePop3Server silent;
    silent.Pause(20000);
    silent.Start();
    TInterruptibleSocketApi sockets;
    TOwnReadsClient client;
    client.SetWinsock(sockets);
    client.Host = "127.0.0.1";
    client.Port = silent.Port();
    client.ReadTimeout = 20000;

    auto connecting = std::async(std::launch::async, [&client] {
        try {
            client.Connect();
        } catch (const EWireException&) {
            return false;
        }
        return true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const auto interrupted = TClock::now();
    sockets.Interrupt();
    ASSERT_EQ(connecting.wait_for(std::chrono::seconds(3)), std::future_status::ready);
    EXPECT_LT(TClock::now() - interrupted, std::chrono::seconds(1));
    EXPECT_FALSE(connecting.get());
}

TEST(InterruptibleSocketApiTest, SessionsWorkAsWithThePlainLibraryUntilThen)
{
    TFakePop3Server server;
    server.Reply("+OK ready")
        .Receive("User alice")
        .Reply("+OK")
        .Receive("Pass secret")
        .Reply("+OK")
        .Receive("STAT")
        .Reply("+OK 4 400")
        .Receive("Quit");
    server.Start();
    TInterruptibleSocketApi sockets;
    TWirePOP3 client;
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
