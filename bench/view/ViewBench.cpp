// How long prefixes and message documents take: the chat view formats and writes every
// shown message each time it (re)displays, so this must never be what a user waits for.
#include "settings/Options.h"
#include "view/HistoryModel.h"
#include "view/HtmlMessageWriter.h"
#include "view/PrefixFormat.h"
#include "view/RtfMessageWriter.h"

#include <benchmark/benchmark.h>
#include <string>
#include <vector>

namespace {

MessageTime SampleTime(int i)
{
    MessageTime time = PrefixSampleTime();
    time.Minute = i % 60;
    time.Hour = (i / 60) % 24;
    return time;
}

const std::vector<std::string> kRecipients = {"Owen", "Ann", "Bob"};

std::vector<std::string> MessageTexts(size_t count)
{
    std::vector<std::string> texts;
    for (size_t i = 0; i < count; ++i)
        texts.push_back("Lunch at noon? {bring} the \"plan\"\nand caf\xe9 for " +
                        std::to_string(i));
    return texts;
}

FontSpec Font(const char* face, bool bold)
{
    FontSpec font;
    font.Valid = true;
    font.FaceName = face;
    font.Size = 200;
    font.Bold = bold;
    font.Color = 0x00FF0000;
    return font;
}

// One default "MessagePrefix" per iteration, with name links.
void BM_FormatMessagePrefix(benchmark::State& state)
{
    CPrefixFormat prefix(Opt::MessagePrefix.Default);
    const std::string recipients = FormatRecipients(false, kRecipients);
    std::vector<PrefixLink> links;
    int i = 0;
    for (auto _ : state) {
        links.clear();
        std::string text = prefix.Format(SampleTime(i), "R.T.", recipients, i, 0, &links);
        benchmark::DoNotOptimize(text);
        ++i;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FormatMessagePrefix);

// A period's filter over a year's log: every message's time against the cut-off, as choosing
// a period in the log viewer does. The anchor converts each time alone with mktime, which
// looks the time zone up again on every call when TZ is not set (as on most desktops).
std::vector<MessageTime> YearOfTimes(size_t count)
{
    std::vector<MessageTime> times;
    for (size_t i = 0; i < count; ++i) {
        MessageTime time = PrefixSampleTime();
        time.Month = 1 + static_cast<int>(i * 12 / count);
        time.Day = 1 + static_cast<int>(i % 28);
        time.Hour = static_cast<int>(i / 28 % 24);
        time.Minute = static_cast<int>(i % 60);
        times.push_back(time);
    }
    return times;
}

void BM_PeriodFilter(benchmark::State& state)
{
    const auto times = YearOfTimes(static_cast<size_t>(state.range(0)));
    const std::time_t cutoff = std::time(nullptr) - 180 * 86400;
    for (auto _ : state) {
        size_t shown = 0;
        for (const MessageTime& time : times)
            shown += IsFromCutoff(time, cutoff);
        benchmark::DoNotOptimize(shown);
    }
}
BENCHMARK(BM_PeriodFilter)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_PeriodFilterMktimeAnchor(benchmark::State& state)
{
    const auto times = YearOfTimes(static_cast<size_t>(state.range(0)));
    const std::time_t cutoff = std::time(nullptr) - 180 * 86400;
    for (auto _ : state) {
        size_t shown = 0;
        for (const MessageTime& time : times) {
            std::tm local{};
            local.tm_year = time.Year - 1900;
            local.tm_mon = time.Month - 1;
            local.tm_mday = time.Day;
            local.tm_hour = time.Hour;
            local.tm_min = time.Minute;
            local.tm_sec = time.Second;
            local.tm_isdst = -1;
            shown += std::mktime(&local) >= cutoff;
        }
        benchmark::DoNotOptimize(shown);
    }
}
BENCHMARK(BM_PeriodFilterMktimeAnchor)->Arg(100000)->Unit(benchmark::kMillisecond);

// What the chat view does to show N messages: prefix with links, then the RTF document.
void BM_RtfDocument(benchmark::State& state)
{
    const size_t count = static_cast<size_t>(state.range(0));
    const std::vector<std::string> texts = MessageTexts(count);
    const FontSpec prefixFont = Font("Arial", true);
    const FontSpec messageFont = Font("Times New Roman", false);
    CRtfMessageWriter writer;
    std::vector<PrefixLink> links;
    for (auto _ : state) {
        CPrefixFormat prefix(Opt::MessagePrefix.Default);
        const std::string recipients = FormatRecipients(false, kRecipients);
        links.clear();
        writer.BeginDocument(prefixFont, messageFont, 0x00FFFFFF);
        int offset = 0;
        for (size_t i = 0; i < count; ++i) {
            std::string text = prefix.Format(SampleTime(static_cast<int>(i)), "R.T.", recipients,
                                             static_cast<int>(i), offset, &links);
            offset += static_cast<int>(text.size() + texts[i].size() + 1);
            writer.Add(text, texts[i]);
        }
        writer.EndDocument(false);
        benchmark::DoNotOptimize(writer.Document().data());
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(count));
}
BENCHMARK(BM_RtfDocument)->Arg(10000)->Unit(benchmark::kMillisecond);

// The log viewer's page for N messages.
void BM_HtmlPage(benchmark::State& state)
{
    const size_t count = static_cast<size_t>(state.range(0));
    const std::vector<std::string> texts = MessageTexts(count);
    const FontSpec font = Font("Arial", false);
    CHtmlMessageWriter writer;
    for (auto _ : state) {
        CPrefixFormat prefix(Opt::LogPrefix.Default);
        const std::string recipients = FormatRecipients(false, kRecipients);
        writer.BeginDocument(font, font, 0x00FFFFFF);
        for (size_t i = 0; i < count; ++i)
            writer.Add(prefix.Format(SampleTime(static_cast<int>(i)), "R.T.", recipients,
                                     static_cast<int>(i), 0),
                       texts[i]);
        writer.EndDocument(false);
        benchmark::DoNotOptimize(writer.Document().data());
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(count));
}
BENCHMARK(BM_HtmlPage)->Arg(10000)->Unit(benchmark::kMillisecond);

// Linearity: time per byte must stay flat as the input grows tenfold.
std::string Repeat(std::string_view unit, size_t length)
{
    std::string text;
    while (text.size() < length)
        text += unit;
    text.resize(length);
    return text;
}

void BM_ParseAndFormatLongFormat(benchmark::State& state)
{
    const std::string format = Repeat(Opt::MessagePrefix.Default, state.range(0));
    for (auto _ : state) {
        CPrefixFormat prefix(format);
        std::vector<PrefixLink> links;
        std::string text = prefix.Format(PrefixSampleTime(), "R.T.", "Owen", 0, 0, &links);
        benchmark::DoNotOptimize(text);
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_ParseAndFormatLongFormat)->Arg(10000)->Arg(100000)->Arg(1000000);

void BM_ParseQuotesOnly(benchmark::State& state)
{
    const std::string format(state.range(0), '\'');
    for (auto _ : state) {
        CPrefixFormat prefix(format);
        std::string text = prefix.Format(PrefixSampleTime(), "R.T.", "Owen", 0, 0);
        benchmark::DoNotOptimize(text);
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_ParseQuotesOnly)->Arg(10000)->Arg(100000)->Arg(1000000);

std::string EveryByte(size_t length)
{
    std::string text(length, '\0');
    for (size_t i = 0; i < length; ++i)
        text[i] = static_cast<char>(i & 0xFF);
    return text;
}

void BM_RtfEveryByteMessage(benchmark::State& state)
{
    const std::string text = EveryByte(state.range(0));
    const FontSpec font = Font("Arial", false);
    CRtfMessageWriter writer;
    for (auto _ : state) {
        writer.BeginDocument(font, font, 0);
        writer.Add("R.T.> ", text);
        writer.EndDocument(false);
        benchmark::DoNotOptimize(writer.Document().data());
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_RtfEveryByteMessage)->Arg(100000)->Arg(1 << 20)->Arg(10 << 20);

void BM_HtmlEveryByteMessage(benchmark::State& state)
{
    const std::string text = EveryByte(state.range(0));
    const FontSpec font = Font("Arial", false);
    CHtmlMessageWriter writer;
    for (auto _ : state) {
        writer.BeginDocument(font, font, 0);
        writer.Add("R.T.> ", text);
        writer.EndDocument(false);
        benchmark::DoNotOptimize(writer.Document().data());
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_HtmlEveryByteMessage)->Arg(100000)->Arg(1 << 20)->Arg(10 << 20);

} // namespace
