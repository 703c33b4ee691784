// Cost of one online test with this machine's real probes; the main window pays it every second.
#include "net/ConnectionDetector.h"
#include "net/ConnectionProbes_linux.h"

#include <benchmark/benchmark.h>

#include <memory>

namespace {

void BM_IsOnline(benchmark::State& state)
{
    const TConnectionDetector detector(PlatformConnectionProbes());
    TConnection connection;
    connection.ConnectionType = static_cast<std::int32_t>(state.range(0));
    for (auto _ : state)
        benchmark::DoNotOptimize(detector.IsOnline(connection));
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
    const TConnectionDetector detector(std::make_shared<TLinuxConnectionProbes>(sources));
    TConnection connection;
    connection.ConnectionType = TConnection::DialUp;
    for (auto _ : state)
        benchmark::DoNotOptimize(detector.IsOnline(connection));
}
BENCHMARK(BM_IsOnlineDialUpWithPpp)->Unit(benchmark::kMicrosecond);

// Direct on a machine whose kernel tables cannot be read: network flag and addresses.
void BM_IsOnlineDirectLastResort(benchmark::State& state)
{
    TLinuxProbeSources sources;
    sources.RouteTable = "/nonexistent/route";
    const TConnectionDetector detector(std::make_shared<TLinuxConnectionProbes>(sources));
    const TConnection connection;
    for (auto _ : state)
        benchmark::DoNotOptimize(detector.IsOnline(connection));
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
