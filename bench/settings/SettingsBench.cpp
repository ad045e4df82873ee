// Settings are read at every timer tick, so a read must stay in the microseconds.
#include "platform/SqliteRegistry.h"
#include "settings/Options.h"

#include <benchmark/benchmark.h>
#include <filesystem>
#include <unistd.h>

namespace {

class BenchSystem : public CSystemInfo
{
};

struct Store
{
    std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("zibtam-bench-" + std::to_string(getpid()));
    CSqliteRegistry registry{(folder / "registry.sqlite3").string()};
    BenchSystem system;
    COptions options{registry, system, false};

    Store()
    {
        options.Set(Opt::PortNumber, 34301);
        options.Set(Opt::MessagePrefix, "<a>u</a> ('to' <a>r</a>) h:nn:ss TT> ");
        // Some rules and values beside, so lookups are not in an empty table.
        for (int n = 0; n < 50; ++n)
            options.WriteRule(n, {"Rule", "*x*", {"a", "b", "c"}});
    }
    ~Store() { std::filesystem::remove_all(folder); }
};

void NumberRead(benchmark::State& state)
{
    Store store;
    for (auto _ : state)
        benchmark::DoNotOptimize(store.options.Get(Opt::PortNumber));
}
BENCHMARK(NumberRead);

void NumberReadOfMissingValue(benchmark::State& state)
{
    Store store;
    for (auto _ : state)
        benchmark::DoNotOptimize(store.options.Get(Opt::SelfChat));
}
BENCHMARK(NumberReadOfMissingValue);

void TextRead(benchmark::State& state)
{
    Store store;
    for (auto _ : state)
        benchmark::DoNotOptimize(store.options.Get(Opt::MessagePrefix));
}
BENCHMARK(TextRead);

void NumberWrite(benchmark::State& state)
{
    Store store;
    int32_t value = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(store.options.Set(Opt::SendLaterMinutes, ++value));
}
BENCHMARK(NumberWrite);

void FontRead(benchmark::State& state)
{
    Store store;
    for (auto _ : state)
        benchmark::DoNotOptimize(store.options.GetFont(FontKey::Prefix));
}
BENCHMARK(FontRead);

} // namespace

BENCHMARK_MAIN();
