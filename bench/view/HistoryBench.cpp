// What a user waits for in the chat history: one message appended to a history that already
// shows 100, 1,000 or 10,000 (goal: under 5 ms, flat), and a full redisplay of 10,000 (goal:
// under 1 s). Offscreen, the widget shown, events processed inside the timing so the layout
// and the scroll to the end count.
#include "platform/Prompt.h"
#include "view/ChatHistory.h"
#include "view/ChatHistoryEdit.h"

#include <QApplication>
#include <benchmark/benchmark.h>
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
    message.Text = "Lunch at noon? see www.example.org or mail owen@example.org, message " +
                   std::to_string(i);
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

void BM_AppendOne(benchmark::State& state)
{
    ShownHistory shown(static_cast<int>(state.range(0)));
    int i = 0;
    for (auto _ : state) {
        shown.history.AddMessage(Message(i++));
        QApplication::processEvents();
    }
}
BENCHMARK(BM_AppendOne)->Arg(100)->Arg(1000)->Arg(10000)->Iterations(100)->Unit(
    benchmark::kMillisecond);

void BM_Redisplay(benchmark::State& state)
{
    ShownHistory shown(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        shown.history.Redisplay();
        QApplication::processEvents();
    }
}
BENCHMARK(BM_Redisplay)->Arg(10000)->Iterations(3)->Unit(benchmark::kMillisecond);

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
