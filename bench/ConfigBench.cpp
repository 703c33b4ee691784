// Start-up and save costs of the configuration store, and the cipher's throughput.
#include "config/Data.h"
#include "config/FileKeyStore.h"
#include "config/PassCrypt.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

std::string ScratchFile()
{
    std::string folder = (std::filesystem::temp_directory_path() / "mb-bench-XXXXXX").string();
    if (::mkdtemp(folder.data()) == nullptr)
        std::abort();
    return folder + "/Mailbeacon 2.0.reg";
}

void StoreAccounts(const std::string& fileName, int count)
{
    TFileKeyStore store(fileName);
    TCryptLib cipher = MakeProgramCipher();
    for (int i = 0; i < count; ++i) {
        TAccount account;
        account.Name = "Account " + std::to_string(i);
        account.Host = "pop" + std::to_string(i) + ".example.org";
        account.UserId = "user" + std::to_string(i);
        account.Password = "password" + std::to_string(i);
        SaveAccount(store, cipher, account, {});
    }
    TConfiguration configuration;
    LoadSettings(store, configuration);
}

// What start-up does: a fresh store object reads the file, then the three loaders run.
void BM_LoadAtStartup(benchmark::State& state)
{
    const std::string fileName = ScratchFile();
    StoreAccounts(fileName, static_cast<int>(state.range(0)));
    for (auto _ : state) {
        TFileKeyStore store(fileName);
        TCryptLib cipher = MakeProgramCipher();
        TConfiguration configuration;
        LoadAccounts(store, cipher, configuration.Accounts);
        LoadSettings(store, configuration);
        std::int32_t height = 163;
        std::vector<TColumnWidth> columns = {{"Account", 60}, {"From", 150}};
        LoadWindowSettings(store, height, columns);
        benchmark::DoNotOptimize(configuration.Accounts.size());
    }
    std::filesystem::remove_all(std::filesystem::path(fileName).parent_path());
}
BENCHMARK(BM_LoadAtStartup)->Arg(1)->Arg(10)->Arg(100)->Unit(benchmark::kMicrosecond);

// What closing the settings dialog does: all fifteen options written.
void BM_SaveSettings(benchmark::State& state)
{
    const std::string fileName = ScratchFile();
    StoreAccounts(fileName, 10);
    TFileKeyStore store(fileName);
    TConfiguration configuration;
    for (auto _ : state) {
        // Nothing known of the store: every option is written.
        configuration.StoredOptions.clear();
        SaveSettings(store, configuration);
    }
    std::filesystem::remove_all(std::filesystem::path(fileName).parent_path());
}
BENCHMARK(BM_SaveSettings)->Unit(benchmark::kMillisecond);

void BM_EncryptString(benchmark::State& state)
{
    TCryptLib cipher = MakeProgramCipher();
    const std::string plain(static_cast<std::size_t>(state.range(0)), 'x');
    for (auto _ : state)
        benchmark::DoNotOptimize(cipher.EncryptString(plain));
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_EncryptString)->Arg(12)->Arg(1 << 20);

void BM_DecryptString(benchmark::State& state)
{
    TCryptLib cipher = MakeProgramCipher();
    const std::string hex =
        cipher.EncryptString(std::string(static_cast<std::size_t>(state.range(0)), 'x'));
    for (auto _ : state)
        benchmark::DoNotOptimize(cipher.DecryptString(hex));
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_DecryptString)->Arg(12)->Arg(1 << 20);

} // namespace

BENCHMARK_MAIN();
