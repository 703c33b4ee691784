#include "pop3/InterruptibleSocketApi.h"

#include "pop3/Pop3Wire.h"
#include "tests/support/FakePop3Server.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>

namespace {

using TClock = std::chrono::steady_clock;

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
