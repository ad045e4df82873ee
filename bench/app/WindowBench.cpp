// Measures the chat window in this process, in a network namespace of its own: its CPU,
// memory and wake-ups while it waits hidden (in the tray where the desktop has one), and the
// time from a datagram's arrival to the message painted in the chat history. Under load from
// another computer (a namespace of its own): a burst of one-datagram messages, every one to
// be shown and acknowledged, and users arriving by the thousand, every one to be listed
// (also as clients logging on to a server that the window is a client of);
// meanwhile keys typed into the input box are timed to their paint, against the same keys
// typed before the load.
//   window_bench idle SECONDS
//   window_bench latency COUNT
//   window_bench burst COUNT PER_SECOND
//   window_bench users COUNT PER_SECOND
//   window_bench users-server COUNT SERVER LOAD_GENERATOR   (zt_bench_server, zt_server_load)
// Run as root (for the namespaces); under Xvfb with a tray host, or offscreen.
#include "BenchIsolation.h"
#include "BenchProbe.h"
#include "app/desktop/ChatDlg.h"
#include "app/desktop/UsersListWidget.h"
#include "app/eventloop/NetworkFactory.h"
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
#include <QInputDevice>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QTimer>
#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <netinet/in.h>
#include <poll.h>
#include <random>
#include <sched.h>
#include <set>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
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
    void OpenUrl(const QUrl&, OpenResult done) override { done(true); }
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

constexpr int kBenchServerPort = 34400;

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
        SendDatagram(sender, datagram, to);
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
    std::printf("datagram arrival to message painted in the history, %d probes: %s\n", count,
                Spread(ms).Text().c_str());
    ::close(sender);
    return 0;
}

using SteadyClock = std::chrono::steady_clock;

double MsBetween(SteadyClock::time_point from, SteadyClock::time_point to)
{
    return std::chrono::duration<double, std::milli>(to - from).count();
}

// Types a letter into the input box every 10 to 50 ms from a thread of its own, as a
// keyboard does whatever the window is busy with, and times each from its arrival in the
// window's queue to the input box painted with it.
class KeyProbe : public QObject
{
public:
    explicit KeyProbe(QPlainTextEdit& input) : m_input(input)
    {
        // Made here, on the window's thread, rather than by the first key event made on the
        // typing thread.
        QInputDevice::primaryKeyboard();
        m_input.viewport()->installEventFilter(this);
    }
    ~KeyProbe() override { m_input.viewport()->removeEventFilter(this); }

    void Start()
    {
        m_input.clear();
        m_painted = 0;
        m_stop = false;
        m_finished = false;
        m_times.clear();
        m_thread = std::thread([this] { Type(); });
    }
    // The event loop runs until the last key is painted (or given up on).
    std::vector<double> Stop()
    {
        m_stop = true;
        while (!m_finished)
            RunFor(5);
        m_thread.join();
        m_input.clear();
        return m_times;
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint) {
            int shown = m_input.document()->characterCount() - 1;
            if (shown > m_painted.load(std::memory_order_relaxed)) {
                m_paintedAt = SteadyClock::now();
                m_painted.store(shown, std::memory_order_release);
            }
        }
        return false;
    }

private:
    void Type()
    {
        std::mt19937 random(54321);
        for (int typed = 1; !m_stop; ++typed) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10 + random() % 41));
            auto pressed = SteadyClock::now();
            QCoreApplication::postEvent(
                &m_input,
                new QKeyEvent(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, QStringLiteral("a")));
            while (m_painted.load(std::memory_order_acquire) < typed &&
                   SteadyClock::now() - pressed < std::chrono::seconds(30))
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            if (m_painted.load(std::memory_order_acquire) < typed) {
                std::fprintf(stderr, "a key was not painted within 30 s\n");
                m_times.push_back(30000);
                break;
            }
            m_times.push_back(MsBetween(pressed, m_paintedAt));
        }
        m_finished = true;
    }

    QPlainTextEdit& m_input;
    std::thread m_thread;
    std::atomic<bool> m_stop = false;
    std::atomic<bool> m_finished = false;
    std::atomic<int> m_painted = 0;
    SteadyClock::time_point m_paintedAt; // published by m_painted
    std::vector<double> m_times;
};

// The other computer: where the load comes from and where the window's acknowledgements go.
struct OtherComputer
{
    int Sender = -1;
    int Acks = -1; // bound to the acknowledgement slot

    bool Make()
    {
        Sender = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        Acks = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        int size = 8 << 20;
        ::setsockopt(Acks, SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size);
        sockaddr_in slot = Address(INADDR_ANY, 34306);
        return Sender >= 0 && Acks >= 0 &&
               ::bind(Acks, reinterpret_cast<sockaddr*>(&slot), sizeof slot) == 0;
    }
    static sockaddr_in Window(uint16_t port)
    {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(port);
        ::inet_pton(AF_INET, kBenchAddress, &to.sin_addr);
        return to;
    }
};

// Collects the ids acknowledged to the other computer until stopped.
class AckCounter
{
public:
    explicit AckCounter(int socket)
        : m_thread([this, socket] {
              char buffer[2048];
              while (!m_stop) {
                  pollfd fd{socket, POLLIN, 0};
                  if (::poll(&fd, 1, 50) <= 0)
                      continue;
                  ssize_t got = ::recv(socket, buffer, sizeof buffer, MSG_DONTWAIT);
                  std::string computer, id;
                  int index = 0;
                  if (got > 0 && ParseAcknowledgement(std::string(buffer, static_cast<size_t>(got)),
                                                      computer, id, index))
                      m_ids.insert(id);
              }
          })
    {}
    std::set<std::string> Stop()
    {
        m_stop = true;
        m_thread.join();
        return m_ids;
    }

private:
    std::atomic<bool> m_stop = false;
    std::set<std::string> m_ids;
    std::thread m_thread;
};

// Keys typed while nothing else happens, for as long as the load will take.
std::vector<double> QuietKeys(KeyProbe& keys, int ms)
{
    keys.Start();
    RunFor(ms);
    return keys.Stop();
}

void PrintKeys(const std::vector<double>& quiet, const std::vector<double>& loaded)
{
    std::printf("  key to paint in the input box, quiet:     %3zu keys: %s\n", quiet.size(),
                Spread(quiet).Text().c_str());
    std::printf("  key to paint in the input box, under load: %3zu keys: %s\n", loaded.size(),
                Spread(loaded).Text().c_str());
}

// Datagrams this computer's UDP sockets had no room for so far (lost before the window
// could read them, as UDP loses them, not by the window).
long long UdpBufferDrops()
{
    std::ifstream snmp("/proc/self/net/snmp");
    std::string line, names;
    while (std::getline(snmp, line)) {
        if (line.rfind("Udp: ", 0) != 0)
            continue;
        if (names.empty()) {
            names = line;
            continue;
        }
        std::istringstream nameFields(names), valueFields(line);
        std::string name, value;
        while (nameFields >> name && valueFields >> value)
            if (name == "RcvbufErrors")
                return std::stoll(value);
    }
    return -1;
}

// Runs `send` on a thread of its own (the load: another computer, another program) while
// keys are typed; the event loop runs until `done` says the window has it all (or 30 s
// after the sending ended). The seconds from the start to done.
double Load(const std::function<void()>& send, KeyProbe& keys, const std::function<bool()>& done,
            std::vector<double>& keyTimes)
{
    keys.Start();
    const long long drops = UdpBufferDrops();
    std::atomic<bool> sent = false;
    auto start = SteadyClock::now();
    std::thread sender([&] {
        send();
        sent = true;
    });
    auto lastSent = SteadyClock::time_point::max();
    while (!done()) {
        if (sent && lastSent == SteadyClock::time_point::max())
            lastSent = SteadyClock::now();
        if (lastSent != SteadyClock::time_point::max() &&
            SteadyClock::now() - lastSent > std::chrono::seconds(30))
            break;
        QEventLoop loop;
        loop.processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 5);
    }
    double seconds = MsBetween(start, SteadyClock::now()) / 1000.0;
    std::printf("  datagrams lost for want of room in the receive buffers: %lld\n",
                UdpBufferDrops() - drops);
    // The window goes on running while the load ends (a load generator that waits for its
    // own clients outlives the moment the window has it all).
    while (!sent)
        RunFor(5);
    sender.join();
    keyTimes = keys.Stop();
    return seconds;
}

// Sends `datagrams` from the other computer to `port` of the window's at `perSecond`.
std::function<void()> SendFromOther(OtherComputer& other, uint16_t port,
                                    const std::vector<std::string>& datagrams, double perSecond)
{
    return [&other, port, &datagrams, perSecond] {
        if (SendPaced(other.Sender, datagrams, OtherComputer::Window(port), perSecond) !=
            static_cast<int>(datagrams.size()))
            std::fprintf(stderr, "not every datagram went out\n");
    };
}

int Burst(CChatDlg& window, OtherComputer& other, int count, double perSecond)
{
    window.ShowChatWindow();
    RunFor(1000);
    KeyProbe keys(*window.InputBox());
    const int loadMs = static_cast<int>(1000.0 * count / perSecond);
    std::vector<double> quiet = QuietKeys(keys, loadMs);

    std::vector<std::string> datagrams;
    for (int i = 0; i < count; ++i)
        datagrams.push_back(OneDatagram(i + 1, "burst " + std::to_string(i), "PC-BURST", "Burst",
                                        "PC-OWEN", "Owen"));
    const size_t before = window.History()->Messages().size();
    auto shown = [&] { return window.History()->Messages().size() - before; };
    AckCounter acks(other.Acks);
    std::printf("burst of %d one-datagram messages at %.0f/s from one computer:\n", count,
                perSecond);
    std::vector<double> loaded;
    double seconds = Load(
        SendFromOther(other, 34304, datagrams, perSecond), keys,
        [&] { return shown() >= static_cast<size_t>(count); }, loaded);
    RunFor(1000); // the last acknowledgements on their way
    size_t acknowledged = acks.Stop().size();

    int inOrder = 0;
    const auto& messages = window.History()->Messages();
    for (size_t i = before; i < messages.size(); ++i)
        inOrder += messages[i].Text == "burst " + std::to_string(inOrder) ? 1 : 0;
    std::printf(
        "  shown %zu (the first %d in sending order), acknowledged %zu; all shown %.2f s after the "
        "first was sent\n",
        shown(), inOrder, acknowledged, seconds);
    PrintKeys(quiet, loaded);
    return shown() == static_cast<size_t>(count) && inOrder == count &&
                   acknowledged == static_cast<size_t>(count)
               ? 0
               : 1;
}

int Users(CChatDlg& window, OtherComputer& other, int count, double perSecond)
{
    window.ShowChatWindow();
    RunFor(1000);
    KeyProbe keys(*window.InputBox());
    std::vector<double> quiet =
        QuietKeys(keys, std::max(1000, static_cast<int>(1000.0 * count / perSecond)));

    // Each user on a computer of their own, as far as the window can tell.
    std::vector<std::string> datagrams;
    for (int i = 0; i < count; ++i) {
        std::string number = std::to_string(100000 + i).substr(1);
        datagrams.push_back(OneDatagram(1, "arrival", "PC-U" + number, "User " + number));
    }
    const int before = window.Users()->Count();
    std::printf("%d users arriving at %.0f/s, each from a computer of their own:\n", count,
                perSecond);
    std::vector<double> loaded;
    double seconds = Load(
        SendFromOther(other, 34305, datagrams, perSecond), keys,
        [&] { return window.Users()->Count() >= before + count; }, loaded);
    std::printf("  listed %d; all listed %.2f s after the first arrival was sent (sending takes "
                "%.2f s)\n",
                window.Users()->Count() - before, seconds, count / perSecond);
    PrintKeys(quiet, loaded);
    return window.Users()->Count() == before + count ? 0 : 1;
}

// The window is a client of `server` (a headless chat server started here); the load
// generator logs `count` clients on to it at once.
int UsersFromServer(CChatDlg& window, int count, const std::string& load)
{
    window.ShowChatWindow();
    RunFor(1000);
    KeyProbe keys(*window.InputBox());
    std::vector<double> quiet = QuietKeys(keys, 2000);
    const int before = window.Users()->Count();
    std::printf("%d users logging on to the server at once:\n", count);
    std::vector<double> loaded;
    int listed = 0;
    double seconds = Load(
        [&] {
            std::string command = load + " logons --port " + std::to_string(kBenchServerPort) +
                                  " --clients " + std::to_string(count) + " >/dev/null";
            if (std::system(command.c_str()) != 0)
                std::fprintf(stderr, "the load generator failed\n");
        },
        keys,
        [&] {
            listed = std::max(listed, window.Users()->Count() - before);
            return listed >= count;
        },
        loaded);
    std::printf("  listed %d; all listed %.2f s after the log-ons began\n", listed, seconds);
    PrintKeys(quiet, loaded);
    return listed == count ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string mode = argc > 1 ? argv[1] : "";
    const bool loaded = mode == "burst" || mode == "users";
    const bool served = mode == "users-server";
    if (argc < 3 || (loaded && argc < 4) || (served && argc < 5)) {
        std::fprintf(stderr, "usage: window_bench idle SECONDS | latency COUNT | burst COUNT "
                             "PER_SECOND | users COUNT PER_SECOND | users-server COUNT "
                             "SERVER LOAD_GENERATOR\n");
        return 2;
    }
    const std::string home = IsolateBench("/tmp/zt-window-bench");
    if (home.empty())
        return 1;
    OtherComputer other;
    if (loaded && !WithOtherComputer([&] { return other.Make(); })) {
        std::fprintf(stderr, "could not make the other computer\n");
        return 1;
    }
    pid_t server = -1;
    if (served) {
        // A connection a user: the server and the generator need thousands of descriptors.
        rlimit files{};
        ::getrlimit(RLIMIT_NOFILE, &files);
        files.rlim_cur = files.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &files);
        server = ::fork();
        if (server == 0) {
            std::string port = std::to_string(kBenchServerPort);
            ::execl(argv[3], argv[3], "--server", "--port", port.c_str(),
                    static_cast<char*>(nullptr));
            std::_Exit(127);
        }
    }
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
        options.Set(Opt::NetworkingType, served ? 2 : 1);
        options.Set(Opt::Server, "127.0.0.1");
        options.Set(Opt::PortNumber, kBenchServerPort);
        options.Set(Opt::MessagePrefix, "u> ");
        SilentPrompt prompt;
        CRandom random(1);
        NoDialogs dialogs;
        CNetworkFactory factory(options, CSystemClock::Instance(), "PC-OWEN");
        ChatDlgContext context{options, prompt, CSystemClock::Instance(), random, factory, false};
        context.Dialogs = &dialogs;
        CChatDlg window(context);
        if (served)
            RunFor(500); // the server's port open
        window.Initialise();
        RunFor(1000);
        if (!window.Controller().IsConnected())
            std::fprintf(stderr, "the window did not connect\n");
        else if (mode == "idle")
            result = Idle(window, std::atoi(argv[2]));
        else if (mode == "burst")
            result = Burst(window, other, std::atoi(argv[2]), std::atof(argv[3]));
        else if (mode == "users")
            result = Users(window, other, std::atoi(argv[2]), std::atof(argv[3]));
        else if (served)
            result = UsersFromServer(window, std::atoi(argv[2]), argv[4]);
        else
            result = Latency(window, std::atoi(argv[2]));
    }
    if (server > 0) {
        ::kill(server, SIGTERM);
        ::waitpid(server, nullptr, 0);
    }
    std::filesystem::remove_all(home);
    return result;
}
