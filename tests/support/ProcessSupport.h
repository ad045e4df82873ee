#pragma once
// Whole zibtam processes as a user runs them, for tests: each with its own settings folder
// and computer name, optionally in a network namespace of its own, and namespaces joined on
// one bridge (so tests never touch the ports of this computer).
#include "TestSupport.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <string>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace process_support {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

inline std::string Exe()
{
    const char* exe = std::getenv("ZIBTAM_EXE");
    return exe ? exe : "";
}

inline bool Shell(const std::string& command)
{
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

// Whether process `pid` has bound the peer-to-peer port (34304, 0x8600) in its network
// within `within`.
inline bool PeerPortBoundWithin(long pid, std::chrono::milliseconds within)
{
    auto bound = [pid] {
        std::ifstream udp("/proc/" + std::to_string(pid) + "/net/udp");
        for (std::string line; std::getline(udp, line);)
            if (line.find(":8600 00000000:0000") != std::string::npos)
                return true;
        return false;
    };
    for (auto until = std::chrono::steady_clock::now() + within;
         std::chrono::steady_clock::now() < until;
         std::this_thread::sleep_for(std::chrono::milliseconds(10)))
        if (bound())
            return true;
    return bound();
}

// How often process `pid` went to sleep and woke so far: the voluntary context switches of
// all its threads. -1 when it is gone.
inline long WakeUps(long pid)
{
    std::error_code error;
    std::filesystem::directory_iterator tasks("/proc/" + std::to_string(pid) + "/task", error);
    if (error)
        return -1;
    long total = 0;
    const std::string key = "voluntary_ctxt_switches:";
    for (const auto& task : tasks) {
        std::ifstream status(task.path() / "status");
        for (std::string line; std::getline(status, line);)
            if (line.rfind(key, 0) == 0)
                total += std::stol(line.substr(key.size()));
    }
    return total;
}

// Namespaces on one bridge, removed again at the end.
class Lan
{
public:
    explicit Lan(int computers)
    {
        std::string prefix = "ztcon" + std::to_string(::getpid());
        std::string bridge = prefix + "br";
        if (::geteuid() != 0 || !Shell("ip netns add " + bridge)) {
            m_error = "cannot create network namespaces here (needs root and iproute2)";
            return;
        }
        m_made.push_back(bridge);
        bool ok = Shell("ip -n " + bridge + " link set lo up") &&
                  Shell("ip -n " + bridge + " link add br0 type bridge") &&
                  Shell("ip -n " + bridge + " link set br0 up");
        for (int i = 0; ok && i < computers; ++i) {
            std::string ns = prefix;
            ns.push_back(static_cast<char>('a' + i));
            std::string port = "p";
            port += std::to_string(i);
            ok = Shell("ip netns add " + ns);
            if (!ok)
                break;
            m_made.push_back(ns);
            m_names.push_back(ns);
            ok = Shell("ip -n " + ns + " link set lo up") &&
                 Shell("ip -n " + bridge + " link add " + port +
                       " type veth peer name eth0 netns " + ns) &&
                 Shell("ip -n " + bridge + " link set " + port + " master br0") &&
                 Shell("ip -n " + bridge + " link set " + port + " up") &&
                 Shell("ip -n " + ns + " addr add 10.231.9." + std::to_string(i + 1) +
                       "/24 brd + dev eth0") &&
                 Shell("ip -n " + ns + " link set eth0 up");
        }
        if (!ok)
            m_error = "could not build the bridged namespaces (veth or bridge unavailable)";
    }
    ~Lan()
    {
        for (auto it = m_made.rbegin(); it != m_made.rend(); ++it)
            Shell("ip netns del " + *it);
    }
    const std::string& Error() const { return m_error; }
    const std::string& Namespace(int i) const { return m_names[static_cast<size_t>(i)]; }

private:
    std::vector<std::string> m_made;
    std::vector<std::string> m_names;
    std::string m_error;
};

// One user: a settings folder of his own and a computer name.
struct User
{
    std::string Name;
    std::string Home;
    std::string Computer;
    std::string Namespace; // empty: this computer's network

    std::vector<std::string> Environment() const
    {
        return {"XDG_CONFIG_HOME=" + Home + "/config", "XDG_DATA_HOME=" + Home + "/data",
                "COMPUTERNAME=" + Computer, "LC_ALL=C.UTF-8",
                // One copy per user and kind: each user's own, whatever else runs here.
                "XDG_RUNTIME_DIR=" + Home + "/runtime"};
    }
};

// A zibtam process: lines in on standard input, lines out from standard output.
class Process
{
public:
    // `keepDisplay`: the process may open windows on this display (the chat program).
    Process(const User& user, std::vector<std::string> args, bool keepDisplay = false)
    {
        int in[2], out[2], err[2];
        if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0 ||
            ::pipe2(err, O_CLOEXEC) != 0)
            return;
        std::string exe = Exe();
        m_pid = ::fork();
        if (m_pid == 0) {
            if (!user.Namespace.empty()) {
                int nsfd = ::open(("/var/run/netns/" + user.Namespace).c_str(), O_RDONLY);
                if (nsfd < 0 || ::setns(nsfd, CLONE_NEWNET) != 0)
                    ::_exit(127);
            }
            for (const std::string& e : user.Environment()) {
                auto eq = e.find('=');
                ::setenv(e.substr(0, eq).c_str(), e.substr(eq + 1).c_str(), 1);
            }
            if (!keepDisplay)
                ::unsetenv("DISPLAY");
            ::dup2(in[0], STDIN_FILENO);
            ::dup2(out[1], STDOUT_FILENO);
            ::dup2(err[1], STDERR_FILENO);
            std::vector<char*> argv{exe.data()};
            for (std::string& a : args)
                argv.push_back(a.data());
            argv.push_back(nullptr);
            ::execv(exe.c_str(), argv.data());
            ::_exit(127);
        }
        m_started = Clock::now();
        ::close(in[0]);
        ::close(out[1]);
        ::close(err[1]);
        m_in = in[1];
        ::fcntl(m_in, F_SETFL, O_NONBLOCK);
        m_out = out[0];
        m_err = err[0];
    }
    ~Process()
    {
        Kill();
        for (int fd : {m_in, m_out, m_err})
            if (fd >= 0)
                ::close(fd);
    }

    // Writes a line, reading the process's output meanwhile so that neither side can
    // stall the other on a full pipe.
    void Say(const std::string& line)
    {
        std::string text = line + "\n";
        size_t done = 0;
        while (done < text.size() && m_in >= 0) {
            pollfd fd{m_in, POLLOUT, 0};
            if (::poll(&fd, 1, 10) > 0) {
                ssize_t put = ::write(m_in, text.data() + done, text.size() - done);
                if (put < 0 && errno != EAGAIN)
                    break;
                if (put > 0)
                    done += static_cast<size_t>(put);
            }
            Pump(0);
        }
    }
    long Pid() const { return m_pid; }
    void CloseInput()
    {
        ::close(m_in);
        m_in = -1;
    }
    void Kill()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
            m_pid = -1;
        }
    }
    // The exit status, or -1 when it is still running after `limit`.
    int Wait(std::chrono::milliseconds limit)
    {
        auto end = Clock::now() + limit;
        while (m_pid > 0) {
            int status = 0;
            rusage usage{};
            if (::wait4(m_pid, &status, WNOHANG, &usage) == m_pid) {
                m_ran = Clock::now() - m_started;
                m_cpu = std::chrono::seconds(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                        std::chrono::microseconds(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec);
                m_pid = -1;
                m_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
                break;
            }
            if (Clock::now() > end)
                return -1;
            Pump(20);
        }
        Pump(0);
        return m_status;
    }

    // Once ended (Wait): how long it ran, and the processor time it used in that while.
    std::chrono::milliseconds WallTime() const
    {
        return std::chrono::duration_cast<std::chrono::milliseconds>(m_ran);
    }
    std::chrono::milliseconds CpuTime() const
    {
        return std::chrono::duration_cast<std::chrono::milliseconds>(m_cpu);
    }

    // Waits for an output line containing `text` that was not matched before; returns it.
    std::string WaitFor(const std::string& text, std::chrono::milliseconds limit = 10s)
    {
        auto end = Clock::now() + limit;
        for (;;) {
            for (size_t i = 0; i < m_lines.size(); ++i)
                if (!m_used[i] && m_lines[i].find(text) != std::string::npos) {
                    m_used[i] = true;
                    return m_lines[i];
                }
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
            if (left.count() <= 0)
                return {};
            Pump(static_cast<int>(std::min<long>(left.count(), 100)));
        }
    }
    int Count(const std::string& text)
    {
        Pump(0);
        int n = 0;
        for (const std::string& line : m_lines)
            n += line.find(text) != std::string::npos;
        return n;
    }
    std::string Errors()
    {
        Pump(0);
        return m_errors;
    }
    std::string Transcript()
    {
        Pump(0);
        std::string all;
        for (const std::string& line : m_lines)
            all += (line.size() > 200 ? line.substr(0, 200) + "..." : line) + "\n";
        return all;
    }

private:
    void Pump(int milliseconds)
    {
        pollfd fds[2] = {{m_out, POLLIN, 0}, {m_err, POLLIN, 0}};
        if (::poll(fds, 2, milliseconds) <= 0)
            return;
        char buffer[65536];
        for (;;) {
            pollfd again[2] = {{m_out, POLLIN, 0}, {m_err, POLLIN, 0}};
            if (::poll(again, 2, 0) <= 0)
                return;
            bool any = false;
            if (again[0].revents & POLLIN) {
                ssize_t got = ::read(m_out, buffer, sizeof buffer);
                if (got > 0) {
                    any = true;
                    m_partial.append(buffer, static_cast<size_t>(got));
                    for (size_t feed; (feed = m_partial.find('\n')) != std::string::npos;) {
                        m_lines.push_back(m_partial.substr(0, feed));
                        m_used.push_back(false);
                        m_partial.erase(0, feed + 1);
                    }
                }
            }
            if (again[1].revents & POLLIN) {
                ssize_t got = ::read(m_err, buffer, sizeof buffer);
                if (got > 0) {
                    any = true;
                    m_errors.append(buffer, static_cast<size_t>(got));
                }
            }
            if (!any)
                return;
        }
    }

    pid_t m_pid = -1;
    int m_status = -1;
    Clock::time_point m_started;
    Clock::duration m_ran{};
    std::chrono::microseconds m_cpu{};
    int m_in = -1, m_out = -1, m_err = -1;
    std::string m_partial, m_errors;
    std::vector<std::string> m_lines;
    std::vector<bool> m_used;
};

// Moves the calling process into namespace `name` (made by Lan); false when it cannot.
inline bool EnterNamespace(const std::string& name)
{
    int fd = ::open(("/var/run/netns/" + name).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    bool ok = ::setns(fd, CLONE_NEWNET) == 0;
    ::close(fd);
    return ok;
}

} // namespace process_support
