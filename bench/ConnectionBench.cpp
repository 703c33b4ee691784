// Cost of one online test with this machine's real probes; the main window pays it every second.
#include "net/Connection.h"
#include "net/ConnectionProbes_linux.h"

#include <benchmark/benchmark.h>

#include <memory>

namespace {

void BM_IsOnline(benchmark::State& state)
{
    TConnection connection(PlatformConnectionProbes());
    connection.ConnectionType = static_cast<std::int32_t>(state.range(0));
    for (auto _ : state)
        benchmark::DoNotOptimize(connection.IsOnline());
}
BENCHMARK(BM_IsOnline)
    ->ArgName("type")
    ->Arg(TConnection::DialUp)
    ->Arg(TConnection::Direct)
    ->Arg(TConnection::DirectThroughProxy)
    ->Unit(benchmark::kMicrosecond);

// Dial-up on a machine that can make PPP links asks for the live link instead.
void BM_IsOnlineDialUpWithPpp(benchmark::State& state)
{
    TLinuxProbeSources sources;
    sources.PppFacilities = {"/"};
    TConnection connection(std::make_shared<TLinuxConnectionProbes>(sources));
    connection.ConnectionType = TConnection::DialUp;
    for (auto _ : state)
        benchmark::DoNotOptimize(connection.IsOnline());
}
BENCHMARK(BM_IsOnlineDialUpWithPpp)->Unit(benchmark::kMicrosecond);

// Direct on a machine whose kernel tables cannot be read: network flag and addresses.
void BM_IsOnlineDirectLastResort(benchmark::State& state)
{
    TLinuxProbeSources sources;
    sources.RouteTable = "/nonexistent/route";
    TConnection connection(std::make_shared<TLinuxConnectionProbes>(sources));
    for (auto _ : state)
        benchmark::DoNotOptimize(connection.IsOnline());
}
BENCHMARK(BM_IsOnlineDirectLastResort)->Unit(benchmark::kMicrosecond);

void BM_ReadInterfaces(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(ReadInterfaces());
}
BENCHMARK(BM_ReadInterfaces)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
