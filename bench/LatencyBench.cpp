// The mail check of 1000 messages on a private Dovecot at two round-trip times: straight over
// loopback, and through a relay that holds every chunk 10 ms each way. Rows: the program's
// first check (`mailbeacon --check --json`, an empty header cache), its repeat check (the cache
// the first one filled), Python's pipelined TOP/LIST (the fewest round trips a first listing
// can take) and `mpop --status-only` (a client that only counts: a floor for a repeat check).
// Each is run several times and the median is shown; the program's times are those of the
// whole process, start-up included. Then the memory the header cache takes per message, from
// the heap's statistics and the process's resident size. Targets: the first check within 1.5
// times the pipelined listing at 20 ms; the repeat check no slower than the counting client at
// 20 ms and under 30 ms over loopback; the cache under 2 KB per message.
//
// Run it through bench/latency, which gives it a network namespace of its own: the relay and
// the server then live on a loopback nobody else uses.
#include "bench/BenchMailbox.h"
#include "bench/DelayRelay.h"
#include "config/Data.h"
#include "config/FileKeyStore.h"
#include "config/PassCrypt.h"
#include "mail/HeaderCache.h"
#include "mail/MailCheck.h"
#include "pop3/Pop3Wire.h"
#include "tests/support/PopServers.h"
#include "tests/support/TempDir.h"

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <malloc.h>
#include <map>
#include <memory>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <optional>
#include <spawn.h>
#include <sstream>
#include <stdexcept>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using TClock = std::chrono::steady_clock;

struct TOptions
{
    int Messages = 1000;
    int Repetitions = 5;
    int OneWayMs = 10;
    int CacheMessages = 10000;
    std::string Program = MB_MAILBEACON;
    std::string Script = std::string(MB_BENCH_DIR) + "/poplib_check.py";
};

double Median(std::vector<double> values)
{
    if (values.empty())
        return -1;
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 != 0 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

std::string Join(const std::vector<double>& values, double scale)
{
    std::string text;
    char buffer[32];
    for (double value : values) {
        std::snprintf(buffer, sizeof buffer, "%s%.1f", text.empty() ? "" : " ", value * scale);
        text += buffer;
    }
    return text;
}

// A program's exit code and standard output, and the wall time from the start to its end.
struct TRun
{
    int ExitCode = -1;
    std::string Out;
    double Seconds = -1;
};

// Runs the program with extra environment entries ("NAME=value", replacing those of the same
// name), its output in a file, and times it.
TRun Run(const std::vector<std::string>& arguments, const std::vector<std::string>& environment,
         const TTempDir& scratch)
{
    std::vector<std::string> entries = environment;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        const std::string name = text.substr(0, text.find('=') + 1);
        if (std::none_of(environment.begin(), environment.end(),
                         [&](const std::string& given) { return given.rfind(name, 0) == 0; }))
            entries.push_back(text);
    }
    std::vector<char*> envp;
    for (std::string& entry : entries)
        envp.push_back(entry.data());
    envp.push_back(nullptr);
    std::vector<std::string> copies = arguments;
    std::vector<char*> argv;
    for (std::string& argument : copies)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    const std::string outFile = scratch.File("run.out");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawn_file_actions_addopen(&actions, 2, scratch.File("run.err").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    TRun run;
    pid_t pid = -1;
    const TClock::time_point start = TClock::now();
    const int spawned = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        throw std::runtime_error("cannot start " + arguments[0] + ": " + std::strerror(spawned));
    int status = 0;
    ::waitpid(pid, &status, 0);
    run.Seconds = std::chrono::duration<double>(TClock::now() - start).count();
    run.ExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.Out = ReadFile(outFile);
    return run;
}

// The number after "key": in the program's JSON; -1 when missing.
long JsonNumber(const std::string& json, const std::string& key)
{
    const std::size_t at = json.find("\"" + key + "\": ");
    return at == std::string::npos ? -1
                                   : std::strtol(json.c_str() + at + key.size() + 4, nullptr, 10);
}

// A store with one account on 127.0.0.1 at the port, as the settings window writes it;
// included false: the check passes over it, so a run of the program costs only its start.
std::string StoreFile(const TTempDir& scratch, std::uint16_t port, const std::string& name,
                      bool included = true)
{
    const std::string fileName = scratch.File(name);
    std::remove(fileName.c_str());
    TFileKeyStore store(fileName);
    TCryptLib cipher = MakeProgramCipher();
    TAccount account{"Bench", "127.0.0.1", port, TDovecotServer::User, TDovecotServer::Password};
    account.Include = included;
    SaveAccount(store, cipher, account, {});
    return fileName;
}

// One line of the conversation, CR LF included.
std::string ReadLine(int fd)
{
    std::string line;
    char c = 0;
    while (line.size() < 4096 && ::recv(fd, &c, 1, 0) == 1) {
        line += c;
        if (c == '\n')
            break;
    }
    return line;
}

// The median time of a NOOP's round trip after logging in at the port, and the time from the
// start of the connection to the greeting.
std::pair<double, double> MeasureRoundTrip(std::uint16_t port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const TClock::time_point start = TClock::now();
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        throw std::runtime_error("no connection for the round-trip measurement");
    const bool greeted = ReadLine(fd).rfind("+OK", 0) == 0;
    const double greeting = std::chrono::duration<double>(TClock::now() - start).count();
    const auto ask = [fd](const std::string& command) {
        ::send(fd, command.data(), command.size(), MSG_NOSIGNAL);
        return ReadLine(fd).rfind("+OK", 0) == 0;
    };
    if (!greeted || !ask(std::string("USER ") + TDovecotServer::User + "\r\n") ||
        !ask(std::string("PASS ") + TDovecotServer::Password + "\r\n"))
        throw std::runtime_error("the round-trip measurement could not log in");
    std::vector<double> times;
    for (int n = 0; n < 21; ++n) {
        const TClock::time_point sent = TClock::now();
        if (!ask("NOOP\r\n"))
            throw std::runtime_error("NOOP was refused");
        times.push_back(std::chrono::duration<double>(TClock::now() - sent).count());
    }
    ask("QUIT\r\n");
    ::close(fd);
    return {Median(times), greeting};
}

// What the check code reports, counted.
class TCountingEvents : public ICheckEvents
{
public:
    void Status(const std::string& /*text*/) override {}
    void Failure(const std::string& /*text*/, TFailureReport /*report*/) override { ++Errors; }
    void ListRow(const TMessageRow& row) override
    {
        ++Rows;
        Fresh += row.Cached ? 0 : 1;
    }

    int Errors = 0;
    int Rows = 0;
    int Fresh = 0;
};

// The check code in this process, as the window runs it on its worker: one account, the
// header cache in the folder. Returns the seconds taken; throws when rows are missing.
double CheckInProcess(std::uint16_t port, const std::string& cacheFolder, int messages, int fresh)
{
    const TClock::time_point start = TClock::now();
    TCheckRequest request;
    request.Accounts.push_back(SnapshotOf(std::make_shared<TAccount>(
        TAccount{"Bench", "127.0.0.1", port, TDovecotServer::User, TDovecotServer::Password})));
    THeaderCaches caches(cacheFolder);
    request.Caches = &caches;
    TCountingEvents events;
    TWirePOP3 client;
    const std::atomic<bool> cancel{false};
    CheckMail(client, request, events, cancel);
    const double seconds = std::chrono::duration<double>(TClock::now() - start).count();
    if (events.Errors != 0 || events.Rows != messages || events.Fresh != fresh)
        throw std::runtime_error("the check in process listed " + std::to_string(events.Rows) +
                                 " rows, " + std::to_string(events.Fresh) + " new, " +
                                 std::to_string(events.Errors) + " errors");
    return seconds;
}

// The figures of one link.
struct TLinkFigures
{
    std::string Name;
    double RoundTrip = -1;
    double Greeting = -1;
    std::map<std::string, std::vector<double>> Times;
    std::map<std::string, std::string> Errors;

    double Of(const std::string& row) const
    {
        const auto found = Times.find(row);
        return found == Times.end() ? -1 : Median(found->second);
    }
};

const std::vector<std::pair<std::string, std::string>> Rows = {
    {"start", "program start-up (no account included)"},
    {"first", "program first check (empty cache)"},
    {"repeat", "program repeat check (cache filled)"},
    {"inFirst", "check code in process, first"},
    {"inRepeat", "check code in process, repeat"},
    {"pipelined", "python pipelined TOP/LIST"},
    {"mpop", "mpop --status-only"},
};

class TLatencyBench
{
public:
    explicit TLatencyBench(const TOptions& options)
        : FOptions(options)
    {}

    void Measure(TLinkFigures& link, std::uint16_t port)
    {
        const std::string store = StoreFile(FScratch, port, "accounts-" + link.Name + ".reg");
        const std::string empty = StoreFile(FScratch, port, "idle-" + link.Name + ".reg", false);
        std::tie(link.RoundTrip, link.Greeting) = MeasureRoundTrip(port);
        std::printf("%s: NOOP round trip %.2f ms, greeting %.2f ms after connect()\n",
                    link.Name.c_str(), link.RoundTrip * 1e3, link.Greeting * 1e3);
        const TBenchTarget target{FServer->Port(), TDovecotServer::User, TDovecotServer::Password};
        const std::string python = FindProgram("python3");
        const std::string mpop = FindProgram("mpop");
        const std::string mpopConfig = FScratch.File("mpoprc");
        WriteFile(mpopConfig, "");
        ::chmod(mpopConfig.c_str(), 0600);

        for (int repetition = 0; repetition < FOptions.Repetitions; ++repetition) {
            const std::string cache =
                FScratch.File("cache-" + link.Name + "-" + std::to_string(repetition));
            const std::vector<std::string> environment = {"XDG_CACHE_HOME=" + cache,
                                                          "QT_QPA_PLATFORM=offscreen"};
            const auto program = [&](const std::string& row, const std::string& config,
                                     long fresh) {
                WaitUntilFree(target);
                const TRun run = Run({FOptions.Program, "--check", "--json", "--config", config},
                                     environment, FScratch);
                const long total = JsonNumber(run.Out, "total");
                const long counted = JsonNumber(run.Out, "new");
                if (run.ExitCode != 0 ||
                    (fresh >= 0 && (total != FOptions.Messages || counted != fresh)))
                    link.Errors[row] = "exit " + std::to_string(run.ExitCode) + ", total " +
                                       std::to_string(total) + ", new " + std::to_string(counted);
                else
                    link.Times[row].push_back(run.Seconds);
            };
            program("start", empty, -1);
            program("first", store, FOptions.Messages);
            program("repeat", store, 0);

            const std::string inCache = cache + "-in-process";
            for (const auto& [row, fresh] :
                 {std::pair<std::string, int>{"inFirst", FOptions.Messages}, {"inRepeat", 0}}) {
                WaitUntilFree(target);
                try {
                    link.Times[row].push_back(
                        CheckInProcess(port, inCache, FOptions.Messages, fresh));
                } catch (const std::exception& e) {
                    link.Errors[row] = e.what();
                }
            }

            if (python.empty()) {
                link.Errors["pipelined"] = "python3 is not installed";
            } else {
                WaitUntilFree(target);
                const TRun run =
                    Run({python, FOptions.Script, "--pipelined", "127.0.0.1", std::to_string(port),
                         TDovecotServer::User, TDovecotServer::Password},
                        {}, FScratch);
                double seconds = -1;
                int count = 0;
                if (run.ExitCode != 0 ||
                    std::sscanf(run.Out.c_str(), "%lf %d", &seconds, &count) != 2 ||
                    count != FOptions.Messages)
                    link.Errors["pipelined"] = "the script failed: " + run.Out;
                else
                    link.Times["pipelined"].push_back(seconds);
            }

            if (mpop.empty()) {
                link.Errors["mpop"] = "mpop is not installed (scripts/deps)";
            } else {
                WaitUntilFree(target);
                // Counting only: no TLS on the private server, nothing fetched or delivered.
                const TRun run =
                    Run({mpop, "--file=" + mpopConfig, "--host=127.0.0.1",
                         "--port=" + std::to_string(port),
                         "--user=" + std::string(TDovecotServer::User),
                         "--passwordeval=echo " + std::string(TDovecotServer::Password),
                         "--auth=user", "--tls=off", "--uidls-file=" + FScratch.File("mpop-uidls"),
                         "--delivery=mda,/bin/false", "--status-only"},
                        {}, FScratch);
                if (run.ExitCode != 0 ||
                    run.Out.find(std::to_string(FOptions.Messages)) == std::string::npos)
                    link.Errors["mpop"] = "exit " + std::to_string(run.ExitCode) + ": " + run.Out +
                                          ReadFile(FScratch.File("run.err"));
                else
                    link.Times["mpop"].push_back(run.Seconds);
            }
        }
        for (const auto& [row, label] : Rows) {
            const auto times = link.Times.find(row);
            if (times != link.Times.end())
                std::printf("  %-42s %s ms\n", label.c_str(), Join(times->second, 1e3).c_str());
            const auto error = link.Errors.find(row);
            if (error != link.Errors.end())
                std::printf("  %-42s FAILED: %s\n", label.c_str(), error->second.c_str());
        }
        std::fflush(stdout);
    }

    void StartServer()
    {
        FServer = std::make_unique<TDovecotServer>();
        for (int n = 1; n <= FOptions.Messages; ++n)
            FServer->AddMessage(BenchMessage(n));
        // The first session makes the server file and index the new messages; no run should
        // pay for that.
        TTempDir warm;
        const std::string store = StoreFile(warm, FServer->Port(), "accounts.reg");
        Run({FOptions.Program, "--check", "--config", store},
            {"XDG_CACHE_HOME=" + warm.File("cache")}, warm);
    }

    std::uint16_t ServerPort() const { return FServer->Port(); }

private:
    const TOptions& FOptions;
    TTempDir FScratch;
    std::unique_ptr<TDovecotServer> FServer;
};

std::size_t HeapInUse()
{
    return mallinfo2().uordblks;
}

std::size_t ResidentBytes()
{
    std::ifstream statm("/proc/self/statm");
    std::size_t size = 0;
    std::size_t resident = 0;
    statm >> size >> resident;
    return resident * static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
}

// The header values of bench message n as the check keeps them.
TCachedHeader BenchHeader(int n)
{
    const std::string id = std::to_string(n);
    TCachedHeader header;
    header.From = "\"Sender " + id + "\" <sender" + id + "@example.net>";
    header.To = "alice@example.org, \"Doe, Jo\" <jo@example.org>";
    header.Subject = "Message number " + id + " of the benchmark mailbox";
    header.Date = "Sun, 06 Dec 2026 20:07:05 +0000";
    header.MessageId = "<bench-" + id + "@example.net>";
    return header;
}

// A unique id as Dovecot makes them: the message's UID and the folder's UIDVALIDITY in hex.
std::string BenchUid(int n)
{
    char uid[32];
    std::snprintf(uid, sizeof uid, "%08X%08X", n, 0x65A1B2C3);
    return uid;
}

struct TCacheFigures
{
    int Messages = 0;
    double HeapPerMessage = -1;
    double ResidentPerMessage = -1;
    double OwnPerMessage = -1;
    double LoadedHeapPerMessage = -1;
};

// Before any thread starts, so that the heap holds nothing else that changes meanwhile.
TCacheFigures MeasureCache(int messages)
{
    TCacheFigures figures;
    figures.Messages = messages;
    TTempDir folder;
    std::vector<std::string> uids;
    std::vector<TCachedHeader> headers;
    for (int n = 1; n <= messages; ++n) {
        uids.push_back(BenchUid(n));
        headers.push_back(BenchHeader(n));
    }
    ::malloc_trim(0);
    {
        const std::size_t heap = HeapInUse();
        const std::size_t resident = ResidentBytes();
        THeaderCache cache(folder.Path(), "127.0.0.1", 110, TDovecotServer::User);
        for (int n = 0; n < messages; ++n)
            cache.Put(uids[static_cast<std::size_t>(n)], headers[static_cast<std::size_t>(n)]);
        figures.HeapPerMessage = static_cast<double>(HeapInUse() - heap) / messages;
        figures.ResidentPerMessage =
            static_cast<double>(static_cast<long>(ResidentBytes()) - static_cast<long>(resident)) /
            messages;
        figures.OwnPerMessage = static_cast<double>(cache.Bytes()) / messages;
        if (!cache.Save())
            throw std::runtime_error("the header cache could not be saved");
    }
    ::malloc_trim(0);
    // A repeat check's cache: read back from the file.
    const std::size_t heap = HeapInUse();
    THeaderCache loaded(folder.Path(), "127.0.0.1", 110, TDovecotServer::User);
    if (loaded.Count() != static_cast<std::size_t>(messages))
        throw std::runtime_error("the header cache did not read back every message");
    figures.LoadedHeapPerMessage = static_cast<double>(HeapInUse() - heap) / messages;
    return figures;
}

const char* Verdict(bool met)
{
    return met ? "met" : "MISSED";
}

void PrintTable(const TOptions& options, const std::vector<TLinkFigures>& links,
                const TCacheFigures& cache)
{
    std::printf("\nMail check of %d messages on a private Dovecot, median of %d runs (ms):\n",
                options.Messages, options.Repetitions);
    std::printf("  %-42s", "");
    for (const TLinkFigures& link : links)
        std::printf(" %12s", link.Name.c_str());
    std::printf("\n  %-42s", "measured NOOP round trip");
    for (const TLinkFigures& link : links)
        std::printf(" %12.2f", link.RoundTrip * 1e3);
    std::printf("\n  %-42s", "server greeting after connect()");
    for (const TLinkFigures& link : links)
        std::printf(" %12.2f", link.Greeting * 1e3);
    std::printf("\n");
    for (const auto& [row, label] : Rows) {
        std::printf("  %-42s", label.c_str());
        for (const TLinkFigures& link : links) {
            const double value = link.Of(row);
            if (value < 0)
                std::printf(" %12s", "failed");
            else
                std::printf(" %12.1f", value * 1e3);
        }
        std::printf("\n");
    }
    std::printf("\nHeader cache, %d messages: %.0f bytes per message on the heap (%.0f as read "
                "back from its file), %.0f resident, %.0f by its own count\n",
                cache.Messages, cache.HeapPerMessage, cache.LoadedHeapPerMessage,
                cache.ResidentPerMessage, cache.OwnPerMessage);

    std::printf("\nTargets:\n");
    const TLinkFigures& near = links.front();
    const TLinkFigures& far = links.back();
    const double first = far.Of("first");
    const double pipelined = far.Of("pipelined");
    if (first > 0 && pipelined > 0)
        std::printf("  first check at %s within 1.5x the pipelined listing: %.2fx  %s\n",
                    far.Name.c_str(), first / pipelined, Verdict(first <= 1.5 * pipelined));
    const double repeat = far.Of("repeat");
    const double mpop = far.Of("mpop");
    if (repeat > 0 && mpop > 0)
        std::printf("  repeat check at %s no slower than mpop --status-only: %.2fx  %s\n",
                    far.Name.c_str(), repeat / mpop, Verdict(repeat <= mpop));
    const double inRepeat = far.Of("inRepeat");
    if (inRepeat > 0 && mpop > 0)
        std::printf("    the same, check code in process (no start-up): %.2fx  %s\n",
                    inRepeat / mpop, Verdict(inRepeat <= mpop));
    const double local = near.Of("repeat");
    if (local > 0)
        std::printf("  repeat check at %s under 30 ms: %.1f ms (%.2fx)  %s\n", near.Name.c_str(),
                    local * 1e3, local / 0.030, Verdict(local < 0.030));
    const double inLocal = near.Of("inRepeat");
    if (inLocal > 0)
        std::printf("    the same, check code in process (no start-up): %.1f ms (%.2fx)  %s\n",
                    inLocal * 1e3, inLocal / 0.030, Verdict(inLocal < 0.030));
    const double bytes = std::max(cache.HeapPerMessage, cache.LoadedHeapPerMessage);
    std::printf("  header cache under 2 KB per message: %.0f bytes (%.2fx)  %s\n", bytes,
                bytes / 2048, Verdict(bytes < 2048));
}

} // namespace

int main(int argc, char** argv)
{
    TOptions options;
    for (int index = 1; index < argc; ++index) {
        const std::string argument = argv[index];
        const auto value = [&]() -> std::string {
            if (index + 1 >= argc)
                throw std::runtime_error(argument + " needs a value");
            return argv[++index];
        };
        if (argument == "--repetitions")
            options.Repetitions = std::stoi(value());
        else if (argument == "--messages")
            options.Messages = std::stoi(value());
        else if (argument == "--one-way-ms")
            options.OneWayMs = std::stoi(value());
        else if (argument == "--program")
            options.Program = value();
        else {
            std::fprintf(stderr, "usage: bench_latency [--repetitions N] [--messages N] "
                                 "[--one-way-ms MS] [--program MAILBEACON]\n");
            return 2;
        }
    }
    try {
        const TCacheFigures cache = MeasureCache(options.CacheMessages);
        TLatencyBench bench(options);
        bench.StartServer();
        std::vector<TLinkFigures> links(2);
        links[0].Name = "0 ms";
        bench.Measure(links[0], bench.ServerPort());
        const TDelayRelay relay(bench.ServerPort(), options.OneWayMs);
        links[1].Name = std::to_string(2 * options.OneWayMs) + " ms";
        bench.Measure(links[1], relay.Port());
        PrintTable(options, links, cache);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_latency: %s\n", e.what());
        return 1;
    }
    return 0;
}
