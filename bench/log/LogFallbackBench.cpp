// The log viewer's page where the web engine is missing (the plain text browser) against the
// classic view, same messages, same run, offscreen: showing 10,000 and 40,000 messages until
// the end is in view, and one message appended to a view that shows them.
#include "log/LogViewerDlg.h"
#include "ui/WidgetPrompt.h"

#include <QApplication>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <memory>

namespace {

ChatMessage Message(int i)
{
    static const char* const kNames[] = {"Owen", "R.T. Holm", "Kim", "Alessandra", "Bob"};
    ChatMessage message;
    message.Sender = kNames[i % 5];
    message.Recipients = {kNames[(i + 1) % 5], kNames[(i + 3) % 5]};
    message.Time = MessageTime::From(1'000'000'000 + i * 37);
    message.Text = "Message " + std::to_string(i) +
                   ": the meeting moved to room 4 at three o'clock, bring the quarterly "
                   "figures and the draft for the customer letter.\nSee you there";
    return message;
}

const std::vector<ChatMessage>& Messages(size_t count)
{
    static std::vector<ChatMessage> messages;
    while (messages.size() < count)
        messages.push_back(Message(static_cast<int>(messages.size())));
    return messages;
}

struct FallbackView
{
    QTemporaryDir dir;
    std::unique_ptr<CHtmlLogView> view;

    FallbackView()
        : view(std::make_unique<CHtmlLogView>(
              QString(dir.path() + QStringLiteral("/page.tmp")).toStdString(), nullptr, false))
    {}
    ILogHistoryView& History() { return *view; }
    QWidget& Widget() { return *view; }
};

struct ClassicView
{
    CWidgetPrompt prompt; // never asks anything here
    std::unique_ptr<CClassicLogView> view = std::make_unique<CClassicLogView>(prompt, nullptr);
    ILogHistoryView& History() { return *view; }
    QWidget& Widget() { return *view; }
};

template <class View> void BM_ShowAll(benchmark::State& state)
{
    const size_t count = static_cast<size_t>(state.range(0));
    std::span<const ChatMessage> messages(Messages(count).data(), count);
    for (auto _ : state) {
        state.PauseTiming();
        View view;
        view.Widget().resize(800, 600);
        view.Widget().show();
        QApplication::processEvents();
        state.ResumeTiming();
        view.History().ShowMessages(messages, false, nullptr);
        QApplication::processEvents(); // painted, the end in view
        state.PauseTiming();
        view.view.reset();
        state.ResumeTiming();
    }
}

template <class View> void BM_AppendOne(benchmark::State& state)
{
    const size_t count = static_cast<size_t>(state.range(0));
    const std::vector<ChatMessage>& all = Messages(count + 1);
    View view;
    view.Widget().resize(800, 600);
    view.Widget().show();
    view.History().ShowMessages(std::span(all.data(), count), false, nullptr);
    QApplication::processEvents();
    for (auto _ : state) {
        view.History().ShowMessages(std::span(&all[count], 1), true, nullptr);
        QApplication::processEvents();
    }
}

BENCHMARK(BM_ShowAll<ClassicView>)
    ->Name("ShowAll/Classic")
    ->Arg(10000)
    ->Arg(40000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);
BENCHMARK(BM_ShowAll<FallbackView>)
    ->Name("ShowAll/PlainPage")
    ->Arg(10000)
    ->Arg(40000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);
BENCHMARK(BM_AppendOne<ClassicView>)
    ->Name("AppendOne/Classic")
    ->Arg(10000)
    ->Arg(40000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(20);
BENCHMARK(BM_AppendOne<FallbackView>)
    ->Name("AppendOne/PlainPage")
    ->Arg(10000)
    ->Arg(40000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(20);

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
