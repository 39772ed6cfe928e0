// The registry's cost: loading and writing a large registry.reg (in MB/s),
// saving and restoring a key as text, and enumerating and opening subkeys
// as a key grows.
#include <benchmark/benchmark.h>
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

#include "registry_store.h"

namespace fs = std::filesystem;

namespace {

// `keys` keys under HKEY_LOCAL_MACHINE\Enum, three levels deep like the
// device tree, with three values each.
std::string LargeRegistryText(int keys) {
    w95::ResetRegistry();
    w95::RegKey &enumKey = w95::MachineRegistry()
                               .RootKey(w95::RegRoot::LocalMachine, false)
                               ->AddChild("Enum");
    const BYTE mode = 3;
    const BYTE dword[4] = {1, 0, 0, 0};
    char name[64];
    int made = 0;
    for (int e = 0; made < keys; ++e) {
        std::snprintf(name, sizeof name, "ENUMERATOR%03d", e);
        w95::RegKey &enumerator = enumKey.AddChild(name);
        ++made;
        for (int d = 0; d < 100 && made < keys; ++d) {
            std::snprintf(name, sizeof name, "VEN_7A3C&DEV_%04d", d);
            w95::RegKey &device = enumerator.AddChild(name);
            ++made;
            for (int i = 0; i < 9 && made < keys; ++i) {
                std::snprintf(name, sizeof name, "PCI&VEN_7A3C&DEV_0528&%06d",
                              made);
                w95::RegKey &instance = device.AddChild(name);
                ++made;
                const char desc[] = "Primary QVR Bus Master IDE controller";
                instance.SetValue("DeviceDesc", REG_SZ,
                                  reinterpret_cast<const BYTE *>(desc),
                                  sizeof desc);
                instance.SetValue("ChannelOptions", REG_BINARY, &mode, 1);
                instance.SetValue("ConfigFlags", REG_DWORD, dword, 4);
            }
        }
    }
    return w95::ExportRegistryText("");
}

// Values per key in the file above (instances carry all of them).
int CountValues(const std::string &text) {
    int n = 0;
    for (std::size_t p = text.find("\n\""); p != std::string::npos;
         p = text.find("\n\"", p + 1))
        ++n;
    return n;
}

fs::path WriteTemporary(const std::string &name, const std::string &text) {
    fs::path file = fs::temp_directory_path() / name;
    std::FILE *f = std::fopen(file.c_str(), "wb");
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
    return file;
}

// 100,000 keys carrying 300,000 values.
constexpr int kLargeKeys = 111300;

// Loading registry.reg: reading, parsing and building the tree. Dropping
// the tree loaded before is left out of the time (a run loads once and
// never drops it).
void BM_LoadRegistry(benchmark::State &state) {
    std::string text = LargeRegistryText(kLargeKeys);
    fs::path file = WriteTemporary("w95_registry_bench_load.reg", text);
    for (auto _ : state) {
        state.PauseTiming();
        w95::ResetRegistry();
        state.ResumeTiming();
        w95::LoadRegistry(file);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(text.size()));
    state.counters["values"] = CountValues(text);
    state.counters["MB"] = text.size() / 1e6;
    fs::remove(file);
}
BENCHMARK(BM_LoadRegistry)->Unit(benchmark::kMillisecond)->UseRealTime();

// Dropping such a tree, as the next load or a reset does.
void BM_DropRegistry(benchmark::State &state) {
    std::string text = LargeRegistryText(kLargeKeys);
    fs::path file = WriteTemporary("w95_registry_bench_drop.reg", text);
    for (auto _ : state) {
        state.PauseTiming();
        w95::LoadRegistry(file);
        state.ResumeTiming();
        w95::ResetRegistry();
    }
    fs::remove(file);
}
BENCHMARK(BM_DropRegistry)->Unit(benchmark::kMillisecond)->UseRealTime();

// Writing registry.reg back after a change: the text and the atomic
// replacement of the file (written and flushed to the disk).
void BM_WriteBackRegistry(benchmark::State &state) {
    std::string text = LargeRegistryText(kLargeKeys);
    fs::path file = WriteTemporary("w95_registry_bench_save.reg", text);
    w95::Registry &registry = w95::MachineRegistry();
    registry.Load(file);
    // One value set back and forth: each write-back has a change to write.
    w95::RegKey &enumKey = *registry.LocalMachine().FindChild("Enum");
    BYTE flag = 0;
    for (auto _ : state) {
        flag ^= 1;
        registry.SetValue(enumKey, "Bench", REG_BINARY, &flag, 1);
        registry.WriteBack(file);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(fs::file_size(file)));
    fs::remove(file);
}
BENCHMARK(BM_WriteBackRegistry)->Unit(benchmark::kMillisecond)->UseRealTime();

// The text of registry.reg alone, without the file: what RegSaveKeyA
// costs for the whole of HKEY_LOCAL_MACHINE before its write.
void BM_RegistryText(benchmark::State &state) {
    std::string text = LargeRegistryText(kLargeKeys);
    std::size_t size = 0;
    for (auto _ : state) {
        std::string out = w95::ExportRegistryText("HKEY_LOCAL_MACHINE");
        size = out.size();
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(size));
}
BENCHMARK(BM_RegistryText)->Unit(benchmark::kMillisecond)->UseRealTime();

// Reading such a saved key back, as RegRestoreKeyA does, into a key of
// its own (dropping it left out of the time).
void BM_ParseSavedKey(benchmark::State &state) {
    LargeRegistryText(kLargeKeys);
    std::string saved = w95::ExportRegistryText("HKEY_LOCAL_MACHINE");
    for (auto _ : state) {
        state.PauseTiming();
        auto into = w95::RegKey::NewRoot("");
        state.ResumeTiming();
        w95::ParseSavedKey(saved, "saved", *into);
        state.PauseTiming();
        into.reset();
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(saved.size()));
}
BENCHMARK(BM_ParseSavedKey)->Unit(benchmark::kMillisecond)->UseRealTime();

// RegEnumKeyA at the last index of a key with N subkeys: the same cost
// whatever N.
void BM_RegEnumKeyByIndex(benchmark::State &state) {
    w95::ResetRegistry();
    HKEY big;
    RegCreateKeyA(HKEY_LOCAL_MACHINE, "Big", &big);
    w95::RegKey *key = w95::MachineRegistry()
                           .RootKey(w95::RegRoot::LocalMachine, false)
                           ->FindChild("Big");
    char name[256];
    for (int i = 0; i < state.range(0); ++i) {
        std::snprintf(name, sizeof name, "Subkey%08d", i);
        key->AddChild(name);
    }
    DWORD index = static_cast<DWORD>(state.range(0) - 1);
    for (auto _ : state) {
        LONG e = RegEnumKeyA(big, index, name, sizeof name);
        benchmark::DoNotOptimize(e);
        index = index == 0 ? static_cast<DWORD>(state.range(0) - 1) : index - 1;
    }
    RegCloseKey(big);
}
BENCHMARK(BM_RegEnumKeyByIndex)->RangeMultiplier(10)->Range(10, 1000000);

// Opening a subkey by name among N siblings.
void BM_RegOpenKeyAmongSiblings(benchmark::State &state) {
    w95::ResetRegistry();
    w95::RegKey &key = w95::MachineRegistry()
                           .RootKey(w95::RegRoot::LocalMachine, false)
                           ->AddChild("Big");
    char name[256];
    for (int i = 0; i < state.range(0); ++i) {
        std::snprintf(name, sizeof name, "Subkey%08d", i);
        key.AddChild(name);
    }
    std::snprintf(name, sizeof name, "BIG\\SUBKEY%08d",
                  static_cast<int>(state.range(0) / 2));
    for (auto _ : state) {
        HKEY k;
        if (RegOpenKeyA(HKEY_LOCAL_MACHINE, name, &k) == 0) RegCloseKey(k);
    }
}
BENCHMARK(BM_RegOpenKeyAmongSiblings)->RangeMultiplier(10)->Range(10, 1000000);

}  // namespace

BENCHMARK_MAIN();
