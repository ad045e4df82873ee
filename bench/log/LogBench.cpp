// The message log at the size of years of use: 100,000 messages (about 50 MB). Loading it
// with our reader against expat and pugixml on the same file, the cost of the processor
// yield after each element, and what an append and a following check cost at that size
// compared with a small log.
#include "common/MessageElement.h"
#include "log/LogTracker.h"
#include "log/LogWriter.h"
#include "xml/XmlReader.h"

#include <benchmark/benchmark.h>
#include <expat.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <pugixml.hpp>
#include <random>
#include <sstream>
#include <thread>

namespace {

ChatMessage BenchMessage(int i)
{
    static const char* const kNames[] = {"Owen", "R.T. Holm", "Kim", "Alessandra", "Bob"};
    ChatMessage message;
    message.Id = std::to_string(i);
    message.Sender = kNames[i % 5];
    if (i % 7 == 0)
        message.AllUsers = true;
    else
        message.Recipients = {kNames[(i + 1) % 5], kNames[(i + 3) % 5]};
    message.Time.Set(946684800 + i * 37);
    message.Text = "Message " + std::to_string(i) +
                   ": the meeting moved to room 4 at three o'clock, bring the quarterly "
                   "figures and the draft for the customer letter.\nSee you there";
    if (i % 10 == 0)
        message.Text += " & don't be late <really>";
    return message;
}

// A generated log in a temporary folder, made once per size and removed at exit.
class BenchLogs
{
public:
    ~BenchLogs()
    {
        std::error_code ignored;
        if (!m_folder.empty())
            std::filesystem::remove_all(m_folder, ignored);
    }

    std::string Path(int messages)
    {
        if (m_folder.empty()) {
            m_folder = std::filesystem::temp_directory_path() /
                       ("zibtam-bench-" + std::to_string(std::random_device()()));
            std::filesystem::create_directories(m_folder);
        }
        auto found = m_paths.find(messages);
        if (found != m_paths.end())
            return found->second;
        std::string path = (m_folder / ("log-" + std::to_string(messages) + ".xml")).string();
        std::string bytes(kLogHeader);
        for (int i = 0; i < messages; ++i)
            bytes += FormatMessageElement(BenchMessage(i));
        bytes += kLogTrailer;
        std::ofstream(path, std::ios::binary) << bytes;
        m_paths[messages] = path;
        return path;
    }

    // A fresh copy that a benchmark may append to.
    std::string Copy(int messages, const std::string& name)
    {
        std::string copy = (m_folder / name).string();
        std::filesystem::copy_file(Path(messages), copy,
                                   std::filesystem::copy_options::overwrite_existing);
        return copy;
    }

private:
    std::filesystem::path m_folder;
    std::map<int, std::string> m_paths;
};

BenchLogs g_logs;
constexpr int kLarge = 100000;

std::string ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void LoadWithTracker(benchmark::State& state, bool yield)
{
    std::string path = g_logs.Path(kLarge);
    size_t bytes = std::filesystem::file_size(path);
    size_t count = 0;
    for (auto _ : state) {
        CLogTracker tracker(yield);
        std::vector<ChatMessage> messages;
        std::string error;
        if (!tracker.Load(path, messages, nullptr, error))
            state.SkipWithError(error.c_str());
        count = messages.size();
        benchmark::DoNotOptimize(messages.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(bytes * state.iterations()));
    state.counters["messages"] = static_cast<double>(count);
    state.counters["MB"] = static_cast<double>(bytes) / 1e6;
}

void BM_Load_ZibTamReader(benchmark::State& state)
{
    LoadWithTracker(state, true);
}
void BM_Load_ZibTamReaderNoYield(benchmark::State& state)
{
    LoadWithTracker(state, false);
}

// expat, building the same messages by the same rules.
struct ExpatLog
{
    std::vector<ChatMessage> Messages;
    std::vector<std::string> Names;
    std::string Text;
    bool Current = false;

    static void Start(void* data, const XML_Char* name, const XML_Char**)
    {
        auto* self = static_cast<ExpatLog*>(data);
        self->Names.emplace_back(name);
        self->Text.clear();
        size_t depth = self->Names.size();
        if (depth == 2) {
            self->Current = self->Names[1] == "message";
            if (self->Current)
                self->Messages.emplace_back();
        }
    }
    static void End(void* data, const XML_Char*)
    {
        auto* self = static_cast<ExpatLog*>(data);
        size_t depth = self->Names.size();
        const std::string& name = self->Names.back();
        if (self->Current && depth == 3) {
            ChatMessage& m = self->Messages.back();
            if (name == "id")
                m.Id = self->Text;
            else if (name == "from")
                m.Sender = self->Text;
            else if (name == "text")
                m.Text = self->Text;
            else if (name == "to" && self->Text == "all users")
                m.AllUsers = true;
        } else if (self->Current && depth == 4) {
            ChatMessage& m = self->Messages.back();
            const std::string& parent = self->Names[2];
            if (parent == "to" && name == "user" && !self->Text.empty())
                m.Recipients.push_back(self->Text);
            else if (parent == "time" && !self->Text.empty()) {
                int value = std::atoi(self->Text.c_str());
                if (name == "month")
                    m.Time.Month = value, m.Time.HasMonth = true;
                else if (name == "day")
                    m.Time.Day = value, m.Time.HasDay = true;
                else if (name == "year")
                    m.Time.Year = value, m.Time.HasYear = true;
                else if (name == "hour")
                    m.Time.Hour = value, m.Time.HasHour = true;
                else if (name == "minute")
                    m.Time.Minute = value, m.Time.HasMinute = true;
                else if (name == "second")
                    m.Time.Second = value, m.Time.HasSecond = true;
            }
        }
        self->Names.pop_back();
        self->Text.clear();
    }
    static void Characters(void* data, const XML_Char* text, int length)
    {
        static_cast<ExpatLog*>(data)->Text.append(text, static_cast<size_t>(length));
    }
};

void BM_Load_Expat(benchmark::State& state)
{
    std::string path = g_logs.Path(kLarge);
    size_t bytes = std::filesystem::file_size(path);
    size_t count = 0;
    for (auto _ : state) {
        std::string text = ReadAll(path);
        ExpatLog log;
        XML_Parser parser = XML_ParserCreate(nullptr);
        XML_SetUserData(parser, &log);
        XML_SetElementHandler(parser, &ExpatLog::Start, &ExpatLog::End);
        XML_SetCharacterDataHandler(parser, &ExpatLog::Characters);
        if (XML_Parse(parser, text.data(), static_cast<int>(text.size()), 1) != XML_STATUS_OK)
            state.SkipWithError(XML_ErrorString(XML_GetErrorCode(parser)));
        XML_ParserFree(parser);
        count = log.Messages.size();
        benchmark::DoNotOptimize(log.Messages.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(bytes * state.iterations()));
    state.counters["messages"] = static_cast<double>(count);
}

void BM_Load_Pugixml(benchmark::State& state)
{
    std::string path = g_logs.Path(kLarge);
    size_t bytes = std::filesystem::file_size(path);
    size_t count = 0;
    for (auto _ : state) {
        pugi::xml_document document;
        if (!document.load_file(path.c_str()))
            state.SkipWithError("pugixml could not load the log");
        std::vector<ChatMessage> messages;
        for (pugi::xml_node node : document.child("log").children("message")) {
            ChatMessage& m = messages.emplace_back();
            m.Id = node.child_value("id");
            m.Sender = node.child_value("from");
            m.Text = node.child_value("text");
            pugi::xml_node to = node.child("to");
            m.AllUsers = std::string_view(to.child_value()) == "all users";
            for (pugi::xml_node user : to.children("user"))
                m.Recipients.emplace_back(user.child_value());
            pugi::xml_node time = node.child("time");
            m.Time.Month = time.child("month").text().as_int();
            m.Time.Day = time.child("day").text().as_int();
            m.Time.Year = time.child("year").text().as_int();
            m.Time.Hour = time.child("hour").text().as_int();
            m.Time.Minute = time.child("minute").text().as_int();
            m.Time.Second = time.child("second").text().as_int();
        }
        count = messages.size();
        benchmark::DoNotOptimize(messages.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(bytes * state.iterations()));
    state.counters["messages"] = static_cast<double>(count);
}

// One message document with a fresh reader, as the client/server protocol parses each
// document it receives: the reader's set-up must not dominate.
void BM_ParseOneMessageDocument(benchmark::State& state)
{
    std::string document = "<?xml version=\"1.0\"?>\n" + FormatMessageElement(BenchMessage(10));
    class Collect : public IXmlHandler
    {
    public:
        ChatMessage Message;
        void OnStartElement(const XmlElement* stack, int depth) override
        {
            if (depth > 2)
                ReadMessageChild(stack, depth, 2, Message);
        }
        void OnEndElement(const XmlElement*, int) override {}
    };
    for (auto _ : state) {
        CXmlReader reader(false);
        Collect collect;
        std::string error;
        if (!reader.Parse(document, collect, error))
            state.SkipWithError(error.c_str());
        benchmark::DoNotOptimize(collect.Message.Text.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(document.size() * state.iterations()));
}

// The processor yield the reader does after each element (14 per logged message).
void BM_ThreadYield(benchmark::State& state)
{
    for (auto _ : state)
        std::this_thread::yield();
}

// Appending one message and checking for changes, on a log of state.range(0) messages.
void BM_AppendOne(benchmark::State& state)
{
    std::string path = g_logs.Copy(static_cast<int>(state.range(0)), "append.xml");
    CLogWriter writer([] { return true; });
    std::vector<ChatMessage> one = {BenchMessage(7)};
    std::string error;
    for (auto _ : state) {
        if (!writer.AppendToLog(path, one, error))
            state.SkipWithError(error.c_str());
    }
    state.counters["bytes_written"] = static_cast<double>(writer.LastBytesWritten());
}

void BM_CheckAfterAppendingOne(benchmark::State& state)
{
    std::string path = g_logs.Copy(static_cast<int>(state.range(0)), "check.xml");
    CLogWriter writer([] { return true; });
    CLogTracker tracker(true);
    std::vector<ChatMessage> messages;
    std::string error;
    if (!tracker.Load(path, messages, nullptr, error))
        state.SkipWithError(error.c_str());
    std::vector<ChatMessage> one = {BenchMessage(7)};
    bool reload = false;
    for (auto _ : state) {
        state.PauseTiming();
        writer.AppendToLog(path, one, error);
        state.ResumeTiming();
        if (!tracker.CheckForChanges(messages, nullptr, error, reload) || messages.size() != 1)
            state.SkipWithError("the check did not return the appended message");
    }
    state.counters["bytes_read"] = static_cast<double>(tracker.LastBytesRead());
}

void BM_CheckWithoutChange(benchmark::State& state)
{
    std::string path = g_logs.Path(static_cast<int>(state.range(0)));
    CLogTracker tracker(true);
    std::vector<ChatMessage> messages;
    std::string error;
    if (!tracker.Load(path, messages, nullptr, error))
        state.SkipWithError(error.c_str());
    bool reload = false;
    for (auto _ : state)
        tracker.CheckForChanges(messages, nullptr, error, reload);
    state.counters["bytes_read"] = static_cast<double>(tracker.LastBytesRead());
}

} // namespace

BENCHMARK(BM_Load_ZibTamReader)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_Load_ZibTamReaderNoYield)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_Load_Expat)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_Load_Pugixml)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_ParseOneMessageDocument);
BENCHMARK(BM_ThreadYield);
BENCHMARK(BM_AppendOne)->Arg(100)->Arg(kLarge)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_CheckAfterAppendingOne)->Arg(100)->Arg(kLarge)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_CheckWithoutChange)->Arg(100)->Arg(kLarge)->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();
