// Measures running `zibtam --console` programs side by side in one run (say the build
// before a change and the one after): CPU and wake-ups while idle, and the time from a chat
// datagram or frame arriving to its line on the console. Each console runs in a network
// namespace and a settings folder of its own (root), so the chat ports of this computer
// are not touched and the programs never hear each other.
//
//   console_bench idle SECONDS ZIBTAM [ZIBTAM...]   (peer-to-peer, client of a --server,
//                                                     and the server in the console; all at once)
//   console_bench latency COUNT ZIBTAM [ZIBTAM...]  (datagrams, peer-to-peer)
//   console_bench frames COUNT ZIBTAM [ZIBTAM...]   (frames, the server in the console)
#include "BenchIsolation.h"
#include "BenchProbe.h"
#include "net/ProtocolDocument.h"

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <netinet/in.h>
#include <poll.h>
#include <random>
#include <sched.h>
#include <signal.h>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Console
{
    pid_t Pid = -1;
    int In = -1;
    int Out = -1;
    std::string Partial;

    bool ReadLine(std::string& line, int timeoutMs)
    {
        auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            auto feed = Partial.find('\n');
            if (feed != std::string::npos) {
                line = Partial.substr(0, feed);
                Partial.erase(0, feed + 1);
                return true;
            }
            int left = static_cast<int>(
                std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count());
            pollfd fd{Out, POLLIN, 0};
            if (left <= 0 || ::poll(&fd, 1, left) <= 0)
                return false;
            char buffer[4096];
            ssize_t got = ::read(Out, buffer, sizeof buffer);
            if (got <= 0)
                return false;
            Partial.append(buffer, static_cast<size_t>(got));
        }
    }
    bool WaitFor(const std::string& text, int timeoutMs)
    {
        std::string line;
        while (ReadLine(line, timeoutMs))
            if (line.find(text) != std::string::npos)
                return true;
        return false;
    }
};

constexpr uint16_t kServerPort = 34300;

enum class Mode
{
    Peer = 1,   // "NetworkingType" 1
    Client = 2, // a client of `zibtam --server` in the same namespace
    Server = 3, // the server runs in the console
};

const char* ModeName(Mode mode)
{
    switch (mode) {
    case Mode::Peer:
        return "peer-to-peer";
    case Mode::Client:
        return "client of --server";
    case Mode::Server:
        return "server in the console";
    }
    return "";
}

// One program in one mode, with settings of its own.
struct Instance
{
    std::string Exe;
    std::string Label; // which program, as given
    Mode How = Mode::Peer;
    std::string Home;
    Console Running;
    int Namespace = -1; // the console's network namespace, for sockets of the bench
};

void SetSettingsFolder(const std::string& home)
{
    ::setenv("XDG_CONFIG_HOME", (home + "/config").c_str(), 1);
    ::setenv("XDG_DATA_HOME", (home + "/data").c_str(), 1);
}

void Config(const Instance& instance, const std::vector<std::string>& args)
{
    std::string command = "XDG_CONFIG_HOME='" + instance.Home + "/config' XDG_DATA_HOME='" +
                          instance.Home + "/data' '" + instance.Exe + "' --config";
    for (const auto& a : args)
        command += " '" + a + "'";
    if (std::system((command + " >/dev/null").c_str()) != 0)
        std::fprintf(stderr, "config failed: %s\n", command.c_str());
}

// Starts the console of `instance` in a network namespace of its own (with its server,
// for a client) and waits until it is connected.
bool StartConsole(Instance& instance)
{
    Config(instance, {"set", "Username", "Ann"});
    Config(instance, {"set", "MessagePrefix", "u> "});
    Config(instance, {"set", "PortNumber", std::to_string(kServerPort)});
    Config(instance, {"set", "Server", "127.0.0.1"});
    Config(instance, {"set", "NetworkingType", std::to_string(static_cast<int>(instance.How))});
    int in[2], out[2];
    if (::pipe(in) != 0 || ::pipe(out) != 0)
        return false;
    Console& console = instance.Running;
    console.Pid = ::fork();
    if (console.Pid == 0) {
        ::setpgid(0, 0); // the console and its server end together
        if (::unshare(CLONE_NEWNET) != 0 || std::system("ip link set lo up") != 0)
            ::_exit(126);
        SetSettingsFolder(instance.Home);
        const char* exe = instance.Exe.c_str();
        if (instance.How == Mode::Client && ::fork() == 0) {
            int quiet = ::open("/dev/null", O_WRONLY);
            ::dup2(quiet, 1);
            std::string port = std::to_string(kServerPort);
            ::execl(exe, exe, "--server", "--port", port.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        if (instance.How == Mode::Client)
            std::this_thread::sleep_for(std::chrono::milliseconds(300)); // the server listens
        ::dup2(in[0], 0);
        ::dup2(out[1], 1);
        ::close(in[1]);
        ::close(out[0]);
        ::execl(exe, exe, "--console", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    console.In = in[1];
    console.Out = out[0];
    if (!console.WaitFor("Connected as", 10000)) {
        std::fprintf(stderr, "%s (%s): the console did not connect\n", instance.Label.c_str(),
                     ModeName(instance.How));
        return false;
    }
    instance.Namespace =
        ::open(("/proc/" + std::to_string(console.Pid) + "/ns/net").c_str(), O_RDONLY | O_CLOEXEC);
    return instance.Namespace >= 0;
}

void StopConsole(Instance& instance)
{
    if (instance.Running.Pid > 0) {
        ::kill(-instance.Running.Pid, SIGTERM);
        ::waitpid(instance.Running.Pid, nullptr, 0);
        instance.Running.Pid = -1;
    }
    for (int* fd : {&instance.Running.In, &instance.Running.Out, &instance.Namespace})
        if (*fd >= 0) {
            ::close(*fd);
            *fd = -1;
        }
}

// A socket made inside the console's namespace, so that its loopback is the console's.
int SocketIn(const Instance& instance, int type)
{
    int own = ::open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC);
    if (own < 0 || ::setns(instance.Namespace, CLONE_NEWNET) != 0)
        return -1;
    int fd = ::socket(AF_INET, type, 0);
    ::setns(own, CLONE_NEWNET);
    ::close(own);
    return fd;
}

struct Sample
{
    long long CpuTicks = 0;
    long long Switches = 0;
};

Sample Measure(pid_t pid)
{
    Sample sample;
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string all((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    std::istringstream fields(all.substr(all.rfind(')') + 2));
    std::string field;
    for (int i = 3; i <= 15 && fields >> field; ++i)
        if (i == 14 || i == 15)
            sample.CpuTicks += std::stoll(field);
    std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    for (const auto& task : std::filesystem::directory_iterator(tasks)) {
        std::ifstream status(task.path() / "status");
        std::string line;
        while (std::getline(status, line))
            if (line.rfind("voluntary_ctxt_switches:", 0) == 0)
                sample.Switches += std::stoll(line.substr(line.find(':') + 1));
    }
    return sample;
}

std::vector<Instance> MakeInstances(const std::vector<std::string>& programs,
                                    const std::vector<Mode>& modes, const std::string& home)
{
    std::vector<Instance> instances;
    for (size_t p = 0; p < programs.size(); ++p)
        for (Mode mode : modes) {
            Instance instance;
            instance.Exe = std::filesystem::absolute(programs[p]).string();
            instance.Label = programs[p];
            instance.How = mode;
            instance.Home = home + "/" + std::to_string(instances.size());
            instances.push_back(std::move(instance));
        }
    return instances;
}

int Idle(const std::vector<std::string>& programs, int seconds, const std::string& home)
{
    std::vector<Instance> consoles =
        MakeInstances(programs, {Mode::Peer, Mode::Client, Mode::Server}, home);
    for (Instance& console : consoles)
        if (!StartConsole(console))
            return 1;
    std::this_thread::sleep_for(std::chrono::seconds(2)); // settle
    std::vector<Sample> before;
    for (Instance& console : consoles)
        before.push_back(Measure(console.Running.Pid));
    auto start = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("idle consoles side by side, %.1f s (wake-ups: voluntary context switches)\n",
                elapsed);
    for (size_t i = 0; i < consoles.size(); ++i) {
        Sample after = Measure(consoles[i].Running.Pid);
        double cpu = static_cast<double>(after.CpuTicks - before[i].CpuTicks) /
                     static_cast<double>(::sysconf(_SC_CLK_TCK));
        std::printf("  %-40s %-22s %8.2f wake-ups/s  CPU %.3f s = %.3f%% of one core\n",
                    consoles[i].Label.c_str(), ModeName(consoles[i].How),
                    static_cast<double>(after.Switches - before[i].Switches) / elapsed, cpu,
                    100.0 * cpu / elapsed);
    }
    for (Instance& console : consoles)
        StopConsole(console);
    return 0;
}

void PrintSpread(const Instance& instance, const std::vector<double>& ms)
{
    std::printf("  %-40s %3zu probes: %s\n", instance.Label.c_str(), ms.size(),
                Spread(ms).Text().c_str());
}

// Probes go to each console in turn, at a random moment, and are timed from the send to
// the line; `send` sends probe `text` to the console and returns false when it cannot.
int Probe(std::vector<Instance>& consoles, int count,
          const std::function<bool(size_t console, int probe, const std::string& text)>& send)
{
    std::mt19937 random(12345);
    std::vector<std::vector<double>> ms(consoles.size());
    for (int i = 0; i < count; ++i)
        for (size_t c = 0; c < consoles.size(); ++c) {
            // Arrive at a random phase of a 10 ms tick, were there one.
            std::this_thread::sleep_for(std::chrono::microseconds(random() % 20000));
            std::string text = "probe " + std::to_string(i);
            auto sent = Clock::now();
            if (!send(c, i, text) || !consoles[c].Running.WaitFor("Bench> " + text, 5000)) {
                std::fprintf(stderr, "%s: probe %d was not shown\n", consoles[c].Label.c_str(), i);
                return 1;
            }
            ms[c].push_back(std::chrono::duration<double, std::milli>(Clock::now() - sent).count());
        }
    for (size_t c = 0; c < consoles.size(); ++c)
        PrintSpread(consoles[c], ms[c]);
    return 0;
}

int Latency(const std::vector<std::string>& programs, int count, const std::string& home)
{
    std::vector<Instance> consoles = MakeInstances(programs, {Mode::Peer}, home);
    std::vector<int> senders;
    for (Instance& console : consoles) {
        if (!StartConsole(console))
            return 1;
        senders.push_back(SocketIn(console, SOCK_DGRAM));
    }
    std::printf("datagram sent to console line, peer-to-peer:\n");
    int result = Probe(consoles, count, [&](size_t c, int i, const std::string& text) {
        std::string datagram = ProbeDatagram(i + 1, text, "PC-ANN", "Ann");
        return SendDatagram(senders[c], datagram, Loopback(34304));
    });
    for (Instance& console : consoles)
        StopConsole(console);
    return result;
}

// The same through the client/server mode: the console runs the server too and this
// program is a second client whose frames the server routes to the console's own
// connection. Timed from the write, so the figure also holds the server's routing.
int FrameLatency(const std::vector<std::string>& programs, int count, const std::string& home)
{
    std::vector<Instance> consoles = MakeInstances(programs, {Mode::Server}, home);
    std::vector<int> clients;
    auto drain = [](int client) {
        char buffer[65536];
        while (::read(client, buffer, sizeof buffer) > 0) {
        }
    };
    auto writeAll = [&drain](int client, const std::string& frame) {
        size_t done = 0;
        while (done < frame.size()) {
            ssize_t put = ::write(client, frame.data() + done, frame.size() - done);
            if (put > 0)
                done += static_cast<size_t>(put);
            drain(client);
        }
    };
    for (Instance& console : consoles) {
        if (!StartConsole(console))
            return 1;
        int client = SocketIn(console, SOCK_STREAM);
        sockaddr_in to = Loopback(kServerPort);
        if (client < 0 || ::connect(client, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
            std::perror("connect");
            return 1;
        }
        ::fcntl(client, F_SETFL, O_NONBLOCK);
        writeAll(client, FormatDocumentFrame(ProtocolDocument::MakeLoginRequest("Bench")));
        clients.push_back(client);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    std::printf("frame written to console line, the server in the console:\n");
    int result = Probe(consoles, count, [&](size_t c, int i, const std::string& text) {
        drain(clients[c]);
        ChatMessage message;
        message.Sender = "Bench";
        message.Recipients = {"Ann"};
        message.Id = std::to_string(i + 1);
        message.Text = text;
        message.Time.Set(std::time(nullptr));
        writeAll(clients[c], FormatDocumentFrame(ProtocolDocument::MakeMessage(message)));
        return true;
    });
    for (int client : clients)
        ::close(client);
    for (Instance& console : consoles)
        StopConsole(console);
    return result;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: console_bench idle SECONDS ZIBTAM [ZIBTAM...]\n"
                             "       console_bench latency COUNT ZIBTAM [ZIBTAM...]\n"
                             "       console_bench frames COUNT ZIBTAM [ZIBTAM...]\n");
        return 2;
    }
    std::string mode = argv[1];
    int amount = std::atoi(argv[2]);
    std::vector<std::string> programs(argv + 3, argv + argc);
    const std::string home = IsolateBench("/tmp/zt-console-bench");
    if (home.empty())
        return 1;
    ::setenv("COMPUTERNAME", "PC-ANN", 1);
    ::setenv("LC_ALL", "C.UTF-8", 1);
    ::unsetenv("DISPLAY");
    std::signal(SIGPIPE, SIG_IGN);

    int result;
    if (mode == "idle")
        result = Idle(programs, amount, home);
    else if (mode == "frames")
        result = FrameLatency(programs, amount, home);
    else
        result = Latency(programs, amount, home);
    std::filesystem::remove_all(home);
    return result;
}
