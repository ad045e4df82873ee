// Measures the chat window in this process, in a network namespace of its own: its CPU,
// memory and wake-ups while it waits hidden (in the tray where the desktop has one), and the
// time from a datagram's arrival to the message painted in the chat history.
//   window_bench idle SECONDS
//   window_bench latency COUNT
// Run as root (for the namespace); under Xvfb with a tray host, or offscreen.
#include "BenchIsolation.h"
#include "BenchProbe.h"
#include "app/ChatDlg.h"
#include "app/NetworkFactory.h"
#include "platform/Clock.h"
#include "platform/Prompt.h"
#include "platform/Random.h"
#include "platform/SqliteRegistry.h"
#include "platform/SystemInfo.h"
#include "view/ChatHistory.h"
#include "view/ChatHistoryEdit.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <netinet/in.h>
#include <random>
#include <sched.h>
#include <string>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

class SilentPrompt : public IPrompt
{
public:
    PromptAnswer MessageBox(const std::string& text, const std::string&, PromptButtons,
                            PromptIcon) override
    {
        std::fprintf(stderr, "message box: %s\n", text.c_str());
        return PromptAnswer::Ok;
    }
    bool InputBox(const std::string&, const std::string&, std::string&, int, bool) override
    {
        return false;
    }
};

class NoDialogs : public IChatDialogs
{
public:
    bool RunSendLater(QWidget*, std::time_t&) override { return false; }
    void RunAbout(QWidget*) override {}
    bool RunOptions(QWidget*) override { return false; }
    bool OpenUrl(const QUrl&) override { return true; }
};

void RunFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

long long Switches()
{
    long long total = 0;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream status(task.path() / "status");
        std::string line;
        while (std::getline(status, line))
            if (line.rfind("voluntary_ctxt_switches:", 0) == 0 ||
                line.rfind("nonvoluntary_ctxt_switches:", 0) == 0)
                total += std::stoll(line.substr(line.find(':') + 1));
    }
    return total;
}

long ResidentKb()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    return 0;
}

double CpuSeconds()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Notes the first paint of the history's text area once `Shown` says the probe is in.
class PaintWatch : public QObject
{
public:
    std::function<bool()> Shown;
    bool Painted = false;
    std::chrono::steady_clock::time_point At;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint && !Painted && Shown && Shown()) {
            Painted = true;
            At = std::chrono::steady_clock::now();
        }
        return false;
    }
};

int Idle(CChatDlg& window, int seconds)
{
    window.HideChatWindow();
    RunFor(2000); // settle
    double cpu = CpuSeconds();
    long long switches = Switches();
    QElapsedTimer elapsed;
    elapsed.start();
    RunFor(seconds * 1000);
    double wall = static_cast<double>(elapsed.elapsed()) / 1000.0;
    cpu = CpuSeconds() - cpu;
    std::printf("idle chat window (%s), %.1f s: CPU %.3f s = %.2f%% of one core; resident "
                "%.1f MB; %.1f wake-ups (context switches) per second\n",
                window.HasTrayToHideIn() ? "in the tray" : "minimised, no tray", wall, cpu,
                100.0 * cpu / wall, static_cast<double>(ResidentKb()) / 1024.0,
                static_cast<double>(Switches() - switches) / wall);
    return 0;
}

int Latency(CChatDlg& window, int count)
{
    window.ShowChatWindow();
    RunFor(500);
    PaintWatch watch;
    window.History()->Edit().viewport()->installEventFilter(&watch);
    int sender = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to = Loopback(34304);
    std::mt19937 random(12345);
    std::vector<double> ms;
    for (int i = 0; i < count; ++i) {
        // Arrive at a random phase of the window's poll.
        RunFor(static_cast<int>(random() % 20) + 1);
        std::string datagram =
            ProbeDatagram(i + 1, "probe " + std::to_string(i), "PC-OWEN", "Owen");
        size_t shown = window.History()->Messages().size();
        watch.Painted = false;
        watch.Shown = [&] { return window.History()->Messages().size() > shown; };
        auto sent = std::chrono::steady_clock::now();
        ::sendto(sender, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&to),
                 sizeof to);
        QElapsedTimer limit;
        limit.start();
        while (!watch.Painted && limit.elapsed() < 5000) {
            QEventLoop loop;
            loop.processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 5);
        }
        if (!watch.Painted) {
            std::fprintf(stderr, "probe %d was not painted\n", i);
            return 1;
        }
        ms.push_back(std::chrono::duration<double, std::milli>(watch.At - sent).count());
    }
    std::sort(ms.begin(), ms.end());
    std::printf("datagram arrival to message painted in the history, %d probes: median %.2f ms, "
                "10%% %.2f ms, 90%% %.2f ms, max %.2f ms\n",
                count, ms[ms.size() / 2], ms[ms.size() / 10], ms[ms.size() * 9 / 10], ms.back());
    ::close(sender);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: window_bench idle SECONDS | latency COUNT\n");
        return 2;
    }
    const std::string home = IsolateBench("/tmp/zt-window-bench");
    if (home.empty())
        return 1;
    if (!std::getenv("DISPLAY"))
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(false);
    int result = 1;
    {
        CSystemInfo system;
        CSqliteRegistry registry(home + "/registry.sqlite3");
        COptions options(registry, system, false);
        options.Set(Opt::Username, "Owen");
        options.Set(Opt::NetworkingType, 1);
        options.Set(Opt::MessagePrefix, "u> ");
        SilentPrompt prompt;
        CRandom random(1);
        NoDialogs dialogs;
        CNetworkFactory factory(options, CSystemClock::Instance(), "PC-OWEN");
        ChatDlgContext context{options, prompt, CSystemClock::Instance(), random, factory, false};
        context.Dialogs = &dialogs;
        CChatDlg window(context);
        window.Initialise();
        RunFor(1000);
        if (!window.Controller().IsConnected())
            std::fprintf(stderr, "the window did not connect\n");
        else if (std::string(argv[1]) == "idle")
            result = Idle(window, std::atoi(argv[2]));
        else
            result = Latency(window, std::atoi(argv[2]));
    }
    std::filesystem::remove_all(home);
    return result;
}
