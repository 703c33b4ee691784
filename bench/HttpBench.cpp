// Cost of one HTTP GET on loopback, kept-alive and with a fresh client.
#include "net/HttpClient.h"
#include "tests/support/HttpFixtureServer.h"

#include <benchmark/benchmark.h>

#include <string>

namespace {

constexpr std::size_t BodySize = 100 * 1024;

// A GET of a 100 KB body from the loopback fixture server over a kept-alive connection.
void BM_Get100KBKeptAlive(benchmark::State& state)
{
    THttpFixtureServer server;
    server.Serve("/body", THttpFixtureServer::Ok(std::string(BodySize, 'x')));
    TSimpleHTTP http;
    std::string body;
    for (auto _ : state) {
        http.Get(server.Url("/body"), body);
        benchmark::DoNotOptimize(body.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * BodySize));
}
BENCHMARK(BM_Get100KBKeptAlive)->Unit(benchmark::kMicrosecond);

// The same with a new client, session and connection each time, as the version window does.
void BM_Get100KBNewClient(benchmark::State& state)
{
    THttpFixtureServer server;
    server.Serve("/body", THttpFixtureServer::Ok(std::string(BodySize, 'x')));
    std::string body;
    for (auto _ : state) {
        TSimpleHTTP http;
        http.Get(server.Url("/body"), body);
        benchmark::DoNotOptimize(body.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * BodySize));
}
BENCHMARK(BM_Get100KBNewClient)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
