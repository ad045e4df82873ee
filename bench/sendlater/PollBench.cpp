// What the chat window's 10 ms poll costs in Send Later and the auto-responder, and the
// wildcard matcher on a long text.
#include "platform/Clock.h"
#include "platform/Random.h"
#include "platform/SqliteRegistry.h"
#include "platform/SystemInfo.h"
#include "sendlater/SendLater.h"
#include "settings/Options.h"
#include "turing/TuringEngine.h"

#include <benchmark/benchmark.h>
#include <filesystem>
#include <unistd.h>

namespace {

class NoSystem : public ISystemInfo
{
public:
    std::string LogonName() const override { return "owen"; }
    std::string ExecutablePath() const override { return "/tmp/zibtam"; }
    std::string ConfigHome() const override { return "/tmp"; }
    std::string DataHome() const override { return "/tmp"; }
    uint32_t WindowColor() const override { return 0xFFFFFF; }
    std::string ComputerName() const override { return "BENCH"; }
};

struct Store
{
    std::string path = std::filesystem::temp_directory_path() /
                       ("zibtam-bench-" + std::to_string(getpid()) + ".sqlite3");
    CSqliteRegistry registry{path};
    NoSystem system;
    COptions options{registry, system, false};
    CManualClock clock;
    ~Store()
    {
        for (const char* suffix : {"", "-wal", "-shm"})
            std::filesystem::remove(path + suffix);
    }
};

void GetDueMessageNoKey(benchmark::State& state)
{
    Store store;
    CSendLater later(store.options, store.clock);
    std::vector<std::string> to;
    std::string text;
    for (auto _ : state)
        benchmark::DoNotOptimize(later.GetDueMessage(to, text));
}
BENCHMARK(GetDueMessageNoKey);

void GetDueMessageNothingDue(benchmark::State& state)
{
    Store store;
    CSendLater later(store.options, store.clock);
    std::string error;
    for (int i = 0; i < state.range(0); ++i)
        later.ScheduleMessage("not yet", {"Owen"}, store.clock.Now() + 3600, error);
    std::vector<std::string> to;
    std::string text;
    for (auto _ : state)
        benchmark::DoNotOptimize(later.GetDueMessage(to, text));
}
BENCHMARK(GetDueMessageNothingDue)->Arg(0)->Arg(3)->Arg(30);

void TakeDueAnswerNothingDue(benchmark::State& state)
{
    Store store;
    store.options.Set(Opt::Turing, 1);
    store.options.WriteRule(0, {"R", "*", {"100%\t900\t900\tlater"}});
    CRandom random;
    CTuringEngine engine(store.options, store.clock, random);
    const ChatMessage message{false, false, "1", "Owen", "hi", {"me"}, {}, true};
    for (int i = 0; i < state.range(0); ++i)
        engine.ProcessMessage(message);
    std::vector<std::string> to;
    std::string text;
    for (auto _ : state)
        benchmark::DoNotOptimize(engine.TakeDueAnswer(to, text));
}
BENCHMARK(TakeDueAnswerNothingDue)->Arg(0)->Arg(10);

// A 1 MB text against a condition whose middle segment nearly matches everywhere.
void MatchWildcardWorstCase(benchmark::State& state)
{
    std::string text(1 << 20, 'a');
    std::string pattern(1, '*');
    pattern.append(static_cast<size_t>(state.range(0)), 'a');
    pattern.append("b*");
    for (auto _ : state)
        benchmark::DoNotOptimize(MatchWildcard(text.c_str(), pattern.c_str()));
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}
BENCHMARK(MatchWildcardWorstCase)->Arg(1)->Arg(16)->Arg(100);

} // namespace
