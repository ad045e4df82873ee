// Measures a running `zibtam --console`: its CPU and wake-ups while idle, and the time from
// a chat datagram arriving to its line on the console. Runs in a network namespace of its
// own (root), so the chat ports of this computer are not touched.
//
//   console_bench ZIBTAM idle SECONDS peer|server
//   console_bench ZIBTAM latency COUNT    (datagrams, peer-to-peer)
//   console_bench ZIBTAM frames COUNT     (frames, client/server)
#include "BenchIsolation.h"
#include "net/PeerPacket.h"
#include "net/ProtocolDocument.h"

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
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

void Config(const std::string& exe, const std::vector<std::string>& args)
{
    std::string command = "'" + exe + "' --config";
    for (const auto& a : args)
        command += " '" + a + "'";
    if (std::system((command + " >/dev/null").c_str()) != 0)
        std::fprintf(stderr, "config failed: %s\n", command.c_str());
}

Console StartConsole(const std::string& exe)
{
    int in[2], out[2];
    if (::pipe(in) != 0 || ::pipe(out) != 0)
        std::exit(1);
    Console console;
    console.Pid = ::fork();
    if (console.Pid == 0) {
        ::dup2(in[0], 0);
        ::dup2(out[1], 1);
        ::close(in[1]);
        ::close(out[0]);
        ::execl(exe.c_str(), exe.c_str(), "--console", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    console.In = in[1];
    console.Out = out[0];
    return console;
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
            if (line.rfind("voluntary_ctxt_switches:", 0) == 0 ||
                line.rfind("nonvoluntary_ctxt_switches:", 0) == 0)
                sample.Switches += std::stoll(line.substr(line.find(':') + 1));
    }
    return sample;
}

int Idle(const std::string& exe, int seconds, bool server)
{
    Config(exe, {"set", "NetworkingType", server ? "3" : "1"});
    Console console = StartConsole(exe);
    if (!console.WaitFor("Connected as", 10000)) {
        std::fprintf(stderr, "the console did not connect\n");
        return 1;
    }
    std::this_thread::sleep_for(std::chrono::seconds(2)); // settle
    int threads = 0;
    for ([[maybe_unused]] const auto& t :
         std::filesystem::directory_iterator("/proc/" + std::to_string(console.Pid) + "/task"))
        ++threads;
    Sample before = Measure(console.Pid);
    auto start = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    Sample after = Measure(console.Pid);
    double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    double cpu = static_cast<double>(after.CpuTicks - before.CpuTicks) /
                 static_cast<double>(::sysconf(_SC_CLK_TCK));
    std::printf("idle %s console, %.1f s, %d thread(s): CPU %.3f s = %.2f%% of one core; "
                "%.1f wake-ups (context switches) per second\n",
                server ? "server-mode" : "peer-to-peer", elapsed, threads, cpu,
                100.0 * cpu / elapsed,
                static_cast<double>(after.Switches - before.Switches) / elapsed);
    ::kill(console.Pid, SIGTERM);
    ::waitpid(console.Pid, nullptr, 0);
    return 0;
}

int Latency(const std::string& exe, int count)
{
    Config(exe, {"set", "NetworkingType", "1"});
    Console console = StartConsole(exe);
    if (!console.WaitFor("Connected as", 10000)) {
        std::fprintf(stderr, "the console did not connect\n");
        return 1;
    }
    int sender = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(34304);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::mt19937 random(12345);
    std::vector<double> ms;
    for (int i = 0; i < count; ++i) {
        // Arrive at a random phase of the console's poll.
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 20000));
        PeerPacket packet;
        packet.Computer = "PC-BENCH";
        packet.UserName = "Bench";
        packet.Id = std::to_string(i + 1);
        packet.RecipientComputers = {"PC-ANN"};
        packet.RecipientNames = {"Ann"};
        std::vector<std::string> datagrams;
        std::string text = "probe " + std::to_string(i);
        MakePeerDatagrams(packet, text, datagrams);
        auto sent = Clock::now();
        ::sendto(sender, datagrams[0].data(), datagrams[0].size(), 0,
                 reinterpret_cast<sockaddr*>(&to), sizeof to);
        if (!console.WaitFor("Bench> " + text, 5000)) {
            std::fprintf(stderr, "probe %d was not shown\n", i);
            return 1;
        }
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - sent).count());
    }
    std::sort(ms.begin(), ms.end());
    std::printf("datagram arrival to console line, %d probes: median %.2f ms, 10%% %.2f ms, "
                "90%% %.2f ms, max %.2f ms\n",
                count, ms[ms.size() / 2], ms[ms.size() / 10], ms[ms.size() * 9 / 10], ms.back());
    ::kill(console.Pid, SIGTERM);
    ::waitpid(console.Pid, nullptr, 0);
    return 0;
}

// The same through the client/server mode: the console runs the server too
// ("NetworkingType" 3) and this program is a second client whose frames the server
// routes to the console's own connection. Measured from the write, so the figure also
// holds the server's routing.
int FrameLatency(const std::string& exe, int count)
{
    Config(exe, {"set", "NetworkingType", "3"});
    Console console = StartConsole(exe);
    if (!console.WaitFor("Connected as", 10000)) {
        std::fprintf(stderr, "the console did not connect\n");
        return 1;
    }
    int client = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(34300);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(client, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
        std::perror("connect");
        return 1;
    }
    ::fcntl(client, F_SETFL, O_NONBLOCK);
    auto drain = [client] {
        char buffer[65536];
        while (::read(client, buffer, sizeof buffer) > 0) {
        }
    };
    auto writeAll = [client, &drain](const std::string& frame) {
        size_t done = 0;
        while (done < frame.size()) {
            ssize_t put = ::write(client, frame.data() + done, frame.size() - done);
            if (put > 0)
                done += static_cast<size_t>(put);
            drain();
        }
    };
    writeAll(FormatDocumentFrame(ProtocolDocument::MakeLoginRequest("Bench")));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    drain();

    std::mt19937 random(12345);
    std::vector<double> ms;
    for (int i = 0; i < count; ++i) {
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 20000));
        drain();
        ChatMessage message;
        message.Sender = "Bench";
        message.Recipients = {"Ann"};
        message.Id = std::to_string(i + 1);
        message.Text = "probe " + std::to_string(i);
        message.Time.Set(std::time(nullptr));
        std::string frame = FormatDocumentFrame(ProtocolDocument::MakeMessage(message));
        auto sent = Clock::now();
        writeAll(frame);
        if (!console.WaitFor("Bench> " + message.Text, 5000)) {
            std::fprintf(stderr, "probe %d was not shown\n", i);
            return 1;
        }
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - sent).count());
    }
    std::sort(ms.begin(), ms.end());
    std::printf("frame written to console line (server in the console), %d probes: median "
                "%.2f ms, 10%% %.2f ms, 90%% %.2f ms, max %.2f ms\n",
                count, ms[ms.size() / 2], ms[ms.size() / 10], ms[ms.size() * 9 / 10], ms.back());
    ::close(client);
    ::kill(console.Pid, SIGTERM);
    ::waitpid(console.Pid, nullptr, 0);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: console_bench ZIBTAM idle SECONDS peer|server\n"
                             "       console_bench ZIBTAM latency COUNT\n"
                             "       console_bench ZIBTAM frames COUNT\n");
        return 2;
    }
    std::string exe = std::filesystem::absolute(argv[1]).string();
    const std::string home = IsolateBench("/tmp/zt-console-bench");
    if (home.empty())
        return 1;
    ::setenv("COMPUTERNAME", "PC-ANN", 1);
    ::setenv("LC_ALL", "C.UTF-8", 1);
    ::unsetenv("DISPLAY");
    Config(exe, {"set", "Username", "Ann"});
    Config(exe, {"set", "MessagePrefix", "u> "});
    Config(exe, {"set", "PortNumber", "34300"});

    std::string mode = argv[2];
    int result;
    if (mode == "idle")
        result = Idle(exe, std::atoi(argv[3]), argc > 4 && std::string(argv[4]) == "server");
    else if (mode == "frames")
        result = FrameLatency(exe, std::atoi(argv[3]));
    else
        result = Latency(exe, std::atoi(argv[3]));
    std::filesystem::remove_all(home);
    return result;
}
