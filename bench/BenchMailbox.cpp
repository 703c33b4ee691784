#include "bench/BenchMailbox.h"

#include "pop3/Pop3Wire.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <stdexcept>
#include <thread>

std::string BenchMessage(int n)
{
    const std::string id = std::to_string(n);
    return "Return-Path: <sender" + id +
           "@example.net>\r\n"
           "Received: from mx1.example.net (mx1.example.net [192.0.2.1])\r\n"
           "\tby pop.example.org with ESMTPS id 4AB2C3D4E5F6\r\n"
           "\tfor <alice@example.org>; Sun, 06 Dec 2026 20:07:05 +0000\r\n"
           "From: \"Sender " +
           id + "\" <sender" + id +
           "@example.net>\r\n"
           "To: alice@example.org, \"Doe, Jo\" <jo@example.org>\r\n"
           "Subject: Message number " +
           id +
           " of the benchmark mailbox\r\n"
           "Date: Sun, 06 Dec 2026 20:07:05 +0000\r\n"
           "Message-ID: <bench-" +
           id +
           "@example.net>\r\n"
           "MIME-Version: 1.0\r\n"
           "Content-Type: text/plain; charset=utf-8\r\n\r\n"
           "Hello,\r\nthis is message " +
           id + ".\r\n";
}

void PrepareClient(TWirePOP3& client, const TBenchTarget& target)
{
    client.Host = "127.0.0.1";
    client.Port = target.Port;
    client.UserID = target.User;
    client.Password = target.Password;
    client.Security = target.Security;
    client.OnStatus = [](TWireSocket&, const std::string& text) {
        benchmark::DoNotOptimize(text.data());
    };
}

void WaitUntilFree(const TBenchTarget& target)
{
    for (int attempt = 0; attempt < 2000; ++attempt) {
        TWirePOP3 probe;
        probe.Host = "127.0.0.1";
        probe.Port = target.Port;
        probe.UserID = target.User;
        probe.Password = target.Password;
        probe.Security = target.Security;
        try {
            probe.Connect();
            probe.Logout();
            return;
        } catch (const EWireResponseError&) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }
    throw std::runtime_error("the mailbox stays in use");
}
