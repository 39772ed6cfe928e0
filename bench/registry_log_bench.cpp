// The cost of a registry change under the two durability models, on the
// example machine's registry: held in memory until the end of the run
// (exit), or appended to registry.log and flushed to disk (each).
#include <benchmark/benchmark.h>
#include <unistd.h>
#include <windows.h>

#include <filesystem>
#include <string>

#include "registry_store.h"

namespace fs = std::filesystem;

namespace {

// A copy of the example machine's registry.reg in a folder of its own.
fs::path ExampleRegistryCopy() {
    fs::path folder = fs::temp_directory_path() /
                      ("w95-registry-log-bench-" + std::to_string(getpid()));
    fs::create_directories(folder);
    fs::path file = folder / "registry.reg";
    fs::copy_file(
        fs::path(KIT_SOURCE_DIR) / "examples" / "machine" / "registry.reg",
        file, fs::copy_options::overwrite_existing);
    fs::remove(folder / "registry.log");
    return file;
}

// One value of a channel key set back and forth, as parlod sets
// AdapterSettings: every iteration is one change.
void SetValues(benchmark::State &state, w95::RegistryWrite write) {
    fs::path file = ExampleRegistryCopy();
    w95::Registry registry;
    registry.Load(file, write);
    bool created = false;
    w95::RegKey &key =
        registry.CreateKey(*registry.RootKey(w95::RegRoot::LocalMachine, false),
                           {"Enum", "MF", "CHILD0000", "Bench"}, &created);
    const char settings[2][25] = {"PIO=4 DMA=2 PREFETCH=ON",
                                  "PIO=3 DMA=1 PREFETCH=OFF"};
    int i = 0;
    for (auto _ : state) {
        i ^= 1;
        registry.SetValue(key, "AdapterSettings", REG_SZ,
                          reinterpret_cast<const BYTE *>(settings[i]),
                          sizeof settings[i]);
    }
    state.counters["log KB"] =
        fs::exists(file.parent_path() / "registry.log")
            ? fs::file_size(file.parent_path() / "registry.log") / 1e3
            : 0;
    fs::remove_all(file.parent_path());
}

void BM_ChangeKeptUntilExit(benchmark::State &state) {
    SetValues(state, w95::RegistryWrite::AtExit);
}
BENCHMARK(BM_ChangeKeptUntilExit)->Unit(benchmark::kMicrosecond);

void BM_ChangeLoggedEach(benchmark::State &state) {
    SetValues(state, w95::RegistryWrite::EachChange);
}
BENCHMARK(BM_ChangeLoggedEach)->Unit(benchmark::kMicrosecond)->UseRealTime();

// Loading the example registry with a log of N changes behind it, as the
// next program (or w95 reg export) does after a crash.
void BM_LoadReplayingLog(benchmark::State &state) {
    fs::path file = ExampleRegistryCopy();
    {
        w95::Registry registry;
        registry.Load(file, w95::RegistryWrite::EachChange);
        bool created = false;
        w95::RegKey &key = registry.CreateKey(
            *registry.RootKey(w95::RegRoot::LocalMachine, false),
            {"Enum", "MF", "CHILD0000", "Bench"}, &created);
        for (int i = 0; i < state.range(0); ++i) {
            DWORD v = static_cast<DWORD>(i);
            registry.SetValue(key, "Count", REG_DWORD,
                              reinterpret_cast<const BYTE *>(&v), sizeof v);
        }
    }
    for (auto _ : state) {
        w95::Registry registry;
        registry.Load(file);
        benchmark::DoNotOptimize(registry.ChangeCount());
    }
    fs::remove_all(file.parent_path());
}
BENCHMARK(BM_LoadReplayingLog)
    ->Arg(0)
    ->Arg(10)
    ->Arg(1000)
    ->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
