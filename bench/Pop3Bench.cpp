// The mail check's conversation (log in, STAT, then TOP n 0 and LIST n for each message, QUIT)
// over 1000 messages on loopback, against Dovecot and GNU Mailutils' pop3d, with our client
// and, in the same run, with Python's poplib doing the same commands. Dovecot is also reached
// over TLS, after STLS ("dovecot-stls") and from the first byte ("dovecot-tls"), with a
// certificate of the run's own authority that both clients verify. The servers are started
// privately; Mailutils needs root. The summary at the end gives the ratios and our client's
// CPU time per message.
#include "bench/BenchMailbox.h"
#include "pop3/Pop3Wire.h"
#include "pop3/WireMessage.h"
#include "tests/support/PopServers.h"
#include "tests/support/TestCertificates.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr int MessageCount = 1000;

std::vector<std::string> Messages()
{
    std::vector<std::string> messages;
    for (int n = 1; n <= MessageCount; ++n)
        messages.push_back(BenchMessage(n));
    return messages;
}

// The servers live for the whole run; a server that cannot start leaves its error instead.
struct TServers
{
    std::unique_ptr<TTestCertificates> Certificates;
    std::unique_ptr<TDovecotServer> Dovecot;
    std::unique_ptr<TMailutilsServer> Mailutils;
    std::string DovecotError;
    std::string MailutilsError;

    TServers()
    {
        try {
            Certificates = std::make_unique<TTestCertificates>();
            const TTestCertificates::TCertificate certificate =
                Certificates->Issue("127.0.0.1", "IP:127.0.0.1");
            // Both clients verify the server's certificate against the run's authority, as
            // they would verify a provider's against the system's.
            ::setenv("SSL_CERT_FILE", Certificates->AuthorityFile().c_str(), 1);
            Dovecot = std::make_unique<TDovecotServer>(
                TServerTls{certificate.CertificateFile, certificate.KeyFile});
            for (const std::string& message : Messages())
                Dovecot->AddMessage(message);
        } catch (const std::exception& e) {
            DovecotError = e.what();
        }
        try {
            Mailutils = std::make_unique<TMailutilsServer>(Messages());
        } catch (const std::exception& e) {
            MailutilsError = e.what();
        }
    }
};

TServers& Servers()
{
    static TServers servers;
    return servers;
}

bool Target(const std::string& server, TBenchTarget& target, std::string& error)
{
    TServers& servers = Servers();
    if (server.rfind("dovecot", 0) == 0) {
        if (!servers.Dovecot) {
            error = servers.DovecotError;
            return false;
        }
        target = {servers.Dovecot->Port(), TDovecotServer::User, TDovecotServer::Password};
        if (server == "dovecot-stls") {
            target.Security = TWireSecurity::StartTls;
        } else if (server == "dovecot-tls") {
            target.Port = servers.Dovecot->SecurePort();
            target.Security = TWireSecurity::ImplicitTls;
        }
    } else {
        if (!servers.Mailutils) {
            error = servers.MailutilsError;
            return false;
        }
        // Users of the server's virtual domain log in with the domain.
        target = {servers.Mailutils->Port(), std::string(TMailutilsServer::User) + "@mbtest",
                  TMailutilsServer::Password};
    }
    return true;
}

// Mean seconds per check and CPU seconds per check, by benchmark name: the median over the
// repetitions of a run with --benchmark_repetitions (the machine may be busy with other work).
std::map<std::string, std::pair<double, double>> Results;
std::map<std::string, std::vector<std::pair<double, double>>> Repetitions;

void CheckOnce(const TBenchTarget& target, int& messages)
{
    TWirePOP3 client;
    TWireMessage message;
    PrepareClient(client, target);
    client.Connect();
    messages = client.CheckMessages();
    for (int n = 1; n <= messages; ++n) {
        message.Clear();
        message.ExtractAttachments = false;
        if (!client.RetrieveHeader(n, message) || client.RetrieveSize(n) <= 0)
            throw std::runtime_error("message " + std::to_string(n) + " came back incomplete");
        benchmark::DoNotOptimize(message.Subject());
    }
    client.Disconnect();
}

// The same conversation as the check has it: the client's listing sends the commands of the
// next messages ahead when the server allows it; the replies are read in order, so the status
// texts and the results are those of the plain check.
void PipelinedCheckOnce(const TBenchTarget& target, int& messages)
{
    TWirePOP3 client;
    TWireMessage message;
    PrepareClient(client, target);
    client.Connect();
    const bool pipelining = TWirePOP3::AllowsPipelining(client.Capabilities());
    messages = client.CheckMessages();
    client.StartListing(messages, pipelining);
    while (client.ListingPending()) {
        message.Clear();
        message.ExtractAttachments = false;
        const TListedMessage listed = client.ListNext(message);
        if (!listed.HeaderComplete || listed.Size <= 0)
            throw std::runtime_error("message " + std::to_string(listed.Number) +
                                     " came back incomplete");
        benchmark::DoNotOptimize(message.Subject());
    }
    client.Disconnect();
}

void BM_Check(benchmark::State& state, const std::string& server, bool pipelined)
{
    TBenchTarget target;
    std::string error;
    if (!Target(server, target, error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    int messages = 0;
    for (auto _ : state) {
        state.PauseTiming();
        WaitUntilFree(target);
        state.ResumeTiming();
        if (pipelined)
            PipelinedCheckOnce(target, messages);
        else
            CheckOnce(target, messages);
    }
    if (messages != MessageCount)
        state.SkipWithError("the server did not list every message");
    state.counters["messages"] = messages;
    state.counters["cpu_us_per_message"] =
        benchmark::Counter(static_cast<double>(messages) * static_cast<double>(state.iterations()),
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_Poplib(benchmark::State& state, const std::string& server)
{
    TBenchTarget target;
    std::string error;
    if (!Target(server, target, error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    const std::string python = FindProgram("python3");
    if (python.empty()) {
        state.SkipWithError("python3 is not installed");
        return;
    }
    std::string tls;
    if (target.Security != TWireSecurity::None)
        tls = std::string(target.Security == TWireSecurity::StartTls ? " --stls " : " --tls ") +
              Servers().Certificates->AuthorityFile();
    const std::string command = python + " " + MB_BENCH_DIR + "/poplib_check.py" + tls +
                                " 127.0.0.1 " + std::to_string(target.Port) + " " + target.User +
                                " " + target.Password;
    for (auto _ : state) {
        WaitUntilFree(target);
        FILE* pipe = ::popen(command.c_str(), "r");
        double seconds = 0;
        int messages = 0;
        const int read = pipe != nullptr ? std::fscanf(pipe, "%lf %d", &seconds, &messages) : 0;
        const int status = pipe != nullptr ? ::pclose(pipe) : -1;
        if (read != 2 || status != 0 || messages != MessageCount) {
            state.SkipWithError("the poplib script failed");
            return;
        }
        state.SetIterationTime(seconds);
    }
}

// Keeps the mean real and CPU time per check of every benchmark for the summary.
class TSummaryReporter : public benchmark::ConsoleReporter
{
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs) {
            if (run.error_occurred || run.iterations <= 0 || run.run_type != Run::RT_Iteration)
                continue;
            auto& seen = Repetitions[run.run_name.function_name];
            seen.emplace_back(run.real_accumulated_time / static_cast<double>(run.iterations),
                              run.cpu_accumulated_time / static_cast<double>(run.iterations));
            std::vector<std::pair<double, double>> sorted = seen;
            std::sort(sorted.begin(), sorted.end());
            Results[run.run_name.function_name] = sorted[sorted.size() / 2];
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

// Mean seconds per check of a benchmark; 0 when it did not run.
double Seconds(const std::string& name)
{
    const auto result = Results.find(name);
    return result != Results.end() ? result->second.first : 0;
}

void PrintSummary()
{
    std::printf("\nSummary (%d messages, loopback):\n", MessageCount);
    for (const std::string server : {"dovecot", "dovecot-stls", "dovecot-tls", "mailutils"}) {
        const auto python = Results.find("poplib/" + server);
        if (python != Results.end())
            std::printf("  %-12s poplib    %8.3f s\n", server.c_str(), python->second.first);
        for (const std::string kind : {"check", "pipelined"}) {
            const auto ours = Results.find(kind + "/" + server);
            if (ours == Results.end())
                continue;
            std::printf("  %-12s %-9s %8.3f s, CPU %.1f us/message", server.c_str(), kind.c_str(),
                        ours->second.first, ours->second.second * 1e6 / MessageCount);
            if (python != Results.end())
                std::printf(", %.3f of poplib's time", ours->second.first / python->second.first);
            std::printf("\n");
        }
    }
    const double plain = Seconds("pipelined/dovecot");
    const double pythonTls = Seconds("poplib/dovecot-tls");
    if (plain <= 0)
        return;
    std::printf("\nTLS against Dovecot (%d messages, pipelined check):\n", MessageCount);
    std::printf("  %-34s %8.3f s\n", "plain text", plain);
    for (const auto& [name, label] : {std::pair<std::string, std::string>{"dovecot-stls", "STLS"},
                                      {"dovecot-tls", "implicit TLS"}}) {
        const double secure = Seconds("pipelined/" + name);
        if (secure <= 0)
            continue;
        std::printf("  %-34s %8.3f s  %+6.1f %% over plain text", label.c_str(), secure,
                    (secure / plain - 1) * 100);
        if (pythonTls > 0)
            std::printf(", %.1fx as fast as poplib's POP3_SSL", pythonTls / secure);
        std::printf("\n");
    }
    if (pythonTls > 0)
        std::printf("  %-34s %8.3f s\n", "python poplib.POP3_SSL (one at a time)", pythonTls);
}

} // namespace

int main(int argc, char** argv)
{
    for (const std::string server : {"dovecot", "dovecot-stls", "dovecot-tls", "mailutils"}) {
        benchmark::RegisterBenchmark(("check/" + server).c_str(), BM_Check, server, false)
            ->Unit(benchmark::kMillisecond)
            ->Iterations(5);
        benchmark::RegisterBenchmark(("pipelined/" + server).c_str(), BM_Check, server, true)
            ->Unit(benchmark::kMillisecond)
            ->Iterations(5);
        // Plain poplib stalls on Mailutils for tens of seconds per check: one run is enough.
        benchmark::RegisterBenchmark(("poplib/" + server).c_str(), BM_Poplib, server)
            ->Unit(benchmark::kMillisecond)
            ->UseManualTime()
            ->Iterations(server == "mailutils" ? 1 : 3);
    }
    benchmark::Initialize(&argc, argv);
    TSummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    PrintSummary();
    benchmark::Shutdown();
    return 0;
}
