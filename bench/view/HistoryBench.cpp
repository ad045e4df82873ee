// What a user waits for in the chat history: one message appended to a history that already
// shows 100, 1,000 or 10,000 (goal: under 5 ms, flat), and a full redisplay of 10,000 (goal:
// under 1 s) until its end is on screen, against a plain QTextEdit given the same formatted
// paragraphs in the same run (the anchor; goal: the history no slower). Offscreen, the widget
// shown, events processed inside the timing so the layout and the scroll to the end count.
// The redisplay's call_ms and step_ms are the longest the window went without handling
// events: in the call, and in one pass of the event loop after it; in its second form a
// message arrives at every fourth pass until the end shows. The *_cpu_ms counters are the
// same stretches in the processor time of the thread, which other programs on a busy
// machine do not lengthen. And a message of a megabyte, as
// one unbroken word and as ordinary text, against the same plain QTextEdit.
#include "platform/Prompt.h"
#include "view/ChatHistory.h"
#include "view/ChatHistoryEdit.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QScrollBar>
#include <QTextBlock>
#include <benchmark/benchmark.h>
#include <ctime>
#include <functional>
#include <memory>

namespace {

class NoPrompt : public IPrompt
{
public:
    PromptAnswer MessageBox(const std::string&, const std::string&, PromptButtons,
                            PromptIcon) override
    {
        return PromptAnswer::Ok;
    }
    bool InputBox(const std::string&, const std::string&, std::string&, int, bool) override
    {
        return false;
    }
};

ChatMessage Message(int i)
{
    ChatMessage message;
    message.Sender = "R.T.";
    message.Recipients = {"Owen", "Ann"};
    message.Text =
        "Lunch at noon? see www.example.org or mail owen@example.org, message " + std::to_string(i);
    message.Time = MessageTime::From(1'000'000'000 + i * 60);
    return message;
}

std::vector<ChatMessage> Messages(int count)
{
    std::vector<ChatMessage> messages;
    for (int i = 0; i < count; ++i)
        messages.push_back(Message(i));
    return messages;
}

struct ShownHistory
{
    NoPrompt prompt;
    CChatHistory history{prompt};

    explicit ShownHistory(int count)
    {
        history.resize(600, 400);
        history.show();
        history.SetMessages(Messages(count));
        QApplication::processEvents();
    }
};

// The processor time of this thread, in ms.
double ThreadCpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

// The longest stretch without handling events, in ms of the clock and of the processor.
struct Stall
{
    double Ms = 0;
    double CpuMs = 0;

    void Add(const Stall& other)
    {
        Ms = std::max(Ms, other.Ms);
        CpuMs = std::max(CpuMs, other.CpuMs);
    }
};

// Runs the event loop until the history shows its end; the longest single step.
// `arrive`, when given, runs before every fourth step (a message arriving meanwhile); its
// own time counts in the step.
Stall SettleEnd(CChatHistoryEdit& edit, const std::function<void()>& arrive = {})
{
    Stall longest;
    QElapsedTimer step;
    int turn = 0;
    do {
        step.start();
        const double cpu = ThreadCpuMs();
        if (arrive && ++turn % 4 == 0)
            arrive();
        QApplication::processEvents();
        longest.Add({static_cast<double>(step.nsecsElapsed()) / 1e6, ThreadCpuMs() - cpu});
    } while (edit.EndPending());
    return longest;
}

void BM_AppendOne(benchmark::State& state)
{
    ShownHistory shown(static_cast<int>(state.range(0)));
    SettleEnd(shown.history.Edit()); // the history shown whole first
    int i = 0;
    for (auto _ : state) {
        shown.history.AddMessage(Message(i++));
        QApplication::processEvents();
    }
}
BENCHMARK(BM_AppendOne)
    ->Arg(100)
    ->Arg(1000)
    ->Arg(10000)
    ->Iterations(100)
    ->Unit(benchmark::kMillisecond);

void BM_Redisplay(benchmark::State& state)
{
    ShownHistory shown(static_cast<int>(state.range(0)));
    SettleEnd(shown.history.Edit());
    Stall call;
    Stall step;
    int arrived = 0;
    std::function<void()> arrive;
    if (state.range(1) != 0)
        arrive = [&] { shown.history.AddMessage(Message(1'000'000 + arrived++)); };
    for (auto _ : state) {
        QElapsedTimer clock;
        clock.start();
        const double cpu = ThreadCpuMs();
        shown.history.Redisplay();
        call.Add({static_cast<double>(clock.nsecsElapsed()) / 1e6, ThreadCpuMs() - cpu});
        step.Add(SettleEnd(shown.history.Edit(), arrive));
    }
    QScrollBar* bar = shown.history.Edit().verticalScrollBar();
    // With the focus the caret's line is in view, short of the document's margin.
    if (bar->maximum() - bar->value() > 8 || bar->maximum() == 0)
        state.SkipWithError(("the end is not in view: " + std::to_string(bar->value()) + " of " +
                             std::to_string(bar->maximum()))
                                .c_str());
    const QString lastShown = shown.history.Edit().document()->lastBlock().previous().text();
    if (arrived > 0 &&
        !lastShown.endsWith(QString::fromStdString(Message(1'000'000 + arrived - 1).Text)))
        state.SkipWithError("the message that arrived last is not shown last");
    state.counters["call_ms"] = call.Ms;
    state.counters["call_cpu_ms"] = call.CpuMs;
    state.counters["step_ms"] = step.Ms;
    state.counters["step_cpu_ms"] = step.CpuMs;
    state.counters["arrived"] = arrived;
}
BENCHMARK(BM_Redisplay)
    ->Args({10000, 0})
    ->Args({10000, 1})
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);

// The history's own paragraphs, as runs of text in their formats.
struct Paragraph
{
    QTextBlockFormat Format;
    std::vector<std::pair<QString, QTextCharFormat>> Runs;
};

std::vector<Paragraph> ParagraphsOf(const QTextDocument& document)
{
    std::vector<Paragraph> paragraphs;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        Paragraph paragraph{block.blockFormat(), {}};
        for (QTextBlock::iterator it = block.begin(); !it.atEnd(); ++it)
            paragraph.Runs.emplace_back(it.fragment().text(), it.fragment().charFormat());
        paragraphs.push_back(std::move(paragraph));
    }
    return paragraphs;
}

// A plain QTextEdit of the history's size, shown, for the anchors.
struct PlainEdit
{
    QTextEdit edit;

    PlainEdit()
    {
        edit.setReadOnly(true);
        edit.resize(600, 400);
        edit.show();
        QApplication::processEvents();
    }
};

// The anchor: a plain QTextEdit given the same formatted paragraphs, the caret moved to the
// end, as an application would fill one.
void BM_PlainEditAnchor(benchmark::State& state)
{
    std::vector<Paragraph> paragraphs;
    {
        ShownHistory shown(static_cast<int>(state.range(0)));
        SettleEnd(shown.history.Edit());
        paragraphs = ParagraphsOf(*shown.history.Edit().document());
    }
    PlainEdit plain;
    QTextEdit& edit = plain.edit;
    for (auto _ : state) {
        edit.document()->clear();
        QTextCursor cursor(edit.document());
        cursor.beginEditBlock();
        bool first = true;
        for (const Paragraph& paragraph : paragraphs) {
            if (!first)
                cursor.insertBlock(paragraph.Format);
            else
                cursor.setBlockFormat(paragraph.Format);
            first = false;
            for (const auto& [text, format] : paragraph.Runs)
                cursor.insertText(text, format);
        }
        cursor.endEditBlock();
        edit.moveCursor(QTextCursor::End);
        QApplication::processEvents();
    }
}
BENCHMARK(BM_PlainEditAnchor)->Arg(10000)->Iterations(3)->Unit(benchmark::kMillisecond);

// A message of a megabyte: one unbroken word (range 0), or ordinary text in words and
// lines (range 1).
std::string Megabyte(int64_t kind)
{
    constexpr size_t kSize = 1 << 20;
    if (kind == 0)
        return std::string(kSize, 'w');
    std::string text;
    for (int i = 0; text.size() < kSize; ++i)
        text += "Lunch at noon on the terrace, or inside if it rains; line " + std::to_string(i) +
                (i % 4 == 3 ? ".\n" : ". ");
    text.resize(kSize);
    return text;
}

// The megabyte message added to a shown history of ten until its end is on screen; step_ms
// is the longest the window went without handling events.
void BM_MegabyteMessage(benchmark::State& state)
{
    ChatMessage message = Message(10);
    message.Text = Megabyte(state.range(0));
    ShownHistory shown(10);
    Stall step;
    for (auto _ : state) {
        state.PauseTiming();
        shown.history.SetMessages(Messages(10));
        SettleEnd(shown.history.Edit());
        state.ResumeTiming();
        QElapsedTimer clock;
        clock.start();
        const double cpu = ThreadCpuMs();
        shown.history.AddMessage(message);
        step.Add({static_cast<double>(clock.nsecsElapsed()) / 1e6, ThreadCpuMs() - cpu});
        step.Add(SettleEnd(shown.history.Edit()));
    }
    state.counters["step_ms"] = step.Ms;
    state.counters["step_cpu_ms"] = step.CpuMs;
}
BENCHMARK(BM_MegabyteMessage)->Arg(0)->Arg(1)->Iterations(2)->Unit(benchmark::kMillisecond);

// The anchor: a plain QTextEdit given the same text, the caret moved to its end (one pass:
// the unbroken word takes minutes).
void BM_PlainEditMegabyte(benchmark::State& state)
{
    const QString text = QString::fromLatin1(Megabyte(state.range(0)));
    PlainEdit plain;
    QTextEdit& edit = plain.edit;
    for (auto _ : state) {
        state.PauseTiming();
        edit.document()->clear();
        QApplication::processEvents();
        state.ResumeTiming();
        QTextCursor cursor(edit.document());
        cursor.insertText(text);
        edit.moveCursor(QTextCursor::End);
        QApplication::processEvents();
    }
}
BENCHMARK(BM_PlainEditMegabyte)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
