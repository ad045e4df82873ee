// Three computers as network namespaces on one bridge, each running the peer-to-peer
// transport over UDP in its own process (the peer driver), talking through real sockets.
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

bool Run(const std::string& command)
{
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

// The namespaces of one test run, removed again at the end.
class Lan
{
public:
    explicit Lan(int computers)
    {
        RemoveLeftovers();
        std::string prefix = "ztpeer" + std::to_string(::getpid());
        m_bridge = prefix + "br";
        if (!Run("ip netns add " + m_bridge)) {
            m_error = "cannot create network namespaces here (ip netns add failed); "
                      "the end-to-end peer test needs root and iproute2";
            return;
        }
        m_made.push_back(m_bridge);
        bool ok = Run("ip -n " + m_bridge + " link set lo up") &&
                  Run("ip -n " + m_bridge + " link add br0 type bridge") &&
                  Run("ip -n " + m_bridge + " link set br0 up");
        for (int i = 0; ok && i < computers; ++i) {
            std::string ns = prefix;
            ns += static_cast<char>('a' + i);
            std::string port = std::string("p") + std::to_string(i);
            ok = Run("ip netns add " + ns);
            if (!ok)
                break;
            m_made.push_back(ns);
            m_names.push_back(ns);
            ok = Run("ip -n " + ns + " link set lo up") &&
                 Run("ip -n " + m_bridge + " link add " + port +
                     " type veth peer name eth0 netns " + ns) &&
                 Run("ip -n " + m_bridge + " link set " + port + " master br0") &&
                 Run("ip -n " + m_bridge + " link set " + port + " up") &&
                 Run("ip -n " + ns + " addr add 10.231.7." + std::to_string(i + 1) +
                     "/24 brd + dev eth0") &&
                 Run("ip -n " + ns + " link set eth0 up");
        }
        if (!ok)
            m_error = "could not build the bridged namespaces (veth or bridge unavailable)";
    }
    ~Lan()
    {
        for (auto it = m_made.rbegin(); it != m_made.rend(); ++it)
            Run("ip netns del " + *it);
    }
    const std::string& Error() const { return m_error; }

    // Namespaces of an earlier run that was killed before it could clean up.
    static void RemoveLeftovers()
    {
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator("/var/run/netns", error)) {
            std::string name = entry.path().filename().string();
            if (name.rfind("ztpeer", 0) != 0)
                continue;
            size_t digits = name.find_first_not_of("0123456789", 6);
            if (digits == 6 || digits == std::string::npos)
                continue;
            pid_t owner = static_cast<pid_t>(std::stol(name.substr(6, digits - 6)));
            if (::kill(owner, 0) != 0 && errno == ESRCH)
                Run("ip netns del " + name);
        }
    }
    const std::string& Namespace(int i) const { return m_names[static_cast<size_t>(i)]; }

private:
    std::string m_bridge;
    std::vector<std::string> m_made;
    std::vector<std::string> m_names;
    std::string m_error;
};

// One driver process inside a namespace: lines in, events out.
class Computer
{
public:
    Computer(const std::string& ns, std::vector<std::string> args)
    {
        int in[2], out[2];
        if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0)
            return;
        m_pid = ::fork();
        if (m_pid == 0) {
            int nsfd = ::open(("/var/run/netns/" + ns).c_str(), O_RDONLY | O_CLOEXEC);
            if (nsfd < 0 || ::setns(nsfd, CLONE_NEWNET) != 0)
                ::_exit(127);
            ::dup2(in[0], STDIN_FILENO);
            ::dup2(out[1], STDOUT_FILENO);
            std::vector<char*> argv;
            std::string driver = PEER_DRIVER_PATH;
            argv.push_back(driver.data());
            for (std::string& arg : args)
                argv.push_back(arg.data());
            argv.push_back(nullptr);
            ::execv(driver.c_str(), argv.data());
            ::_exit(127);
        }
        ::close(in[0]);
        ::close(out[1]);
        m_in = in[1];
        m_out = out[0];
    }
    ~Computer()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGCONT);
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
        if (m_in >= 0)
            ::close(m_in);
        if (m_out >= 0)
            ::close(m_out);
    }

    void Say(const std::string& line)
    {
        std::string text = line + "\n";
        ASSERT_EQ(::write(m_in, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    }
    void Signal(int signal) { ::kill(m_pid, signal); }

    // Waits for an event line starting with `prefix` that was not matched before.
    bool WaitFor(const std::string& prefix, double seconds = 10)
    {
        return WaitUntil([&](const std::string& line) { return line.rfind(prefix, 0) == 0; },
                         seconds);
    }
    bool WaitUntil(const std::function<bool(const std::string&)>& match, double seconds)
    {
        auto deadline = Clock::now() + std::chrono::milliseconds(static_cast<int>(seconds * 1000));
        for (;;) {
            for (size_t i = 0; i < m_lines.size(); ++i) {
                if (!m_used[i] && match(m_lines[i])) {
                    m_used[i] = true;
                    return true;
                }
            }
            auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0 || !ReadSome(static_cast<int>(left.count())))
                return false;
        }
    }
    // Everything said so far (after a short look for more).
    const std::vector<std::string>& Lines()
    {
        while (ReadSome(0)) {
        }
        return m_lines;
    }
    bool Saw(const std::string& prefix)
    {
        for (const std::string& line : Lines())
            if (line.rfind(prefix, 0) == 0)
                return true;
        return false;
    }
    // Ends the process politely; true when it said goodbye.
    bool Quit()
    {
        Say("quit");
        bool bye = WaitFor("bye", 5);
        ::waitpid(m_pid, nullptr, 0);
        m_pid = -1;
        return bye;
    }

private:
    bool ReadSome(int milliseconds)
    {
        pollfd fd{m_out, POLLIN, 0};
        if (::poll(&fd, 1, milliseconds) <= 0)
            return false;
        char buffer[4096];
        ssize_t got = ::read(m_out, buffer, sizeof buffer);
        if (got <= 0)
            return false;
        m_partial.append(buffer, static_cast<size_t>(got));
        for (size_t feed; (feed = m_partial.find('\n')) != std::string::npos;) {
            m_lines.push_back(m_partial.substr(0, feed));
            m_used.push_back(false);
            m_partial.erase(0, feed + 1);
        }
        return true;
    }

    pid_t m_pid = -1;
    int m_in = -1;
    int m_out = -1;
    std::string m_partial;
    std::vector<std::string> m_lines;
    std::vector<bool> m_used;
};

TEST(PeerNamespaces, ThreeComputersChatOverUdp)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "the end-to-end peer test needs root to create network namespaces";
    Lan lan(3);
    if (!lan.Error().empty())
        GTEST_SKIP() << lan.Error();

    Computer ann(lan.Namespace(0), {"--computer", "PC-ANN", "--user", "Ann"});
    ASSERT_TRUE(ann.WaitFor("ready"));
    Computer bob(lan.Namespace(1), {"--computer", "pc-bob", "--user", "Bob"});
    ASSERT_TRUE(bob.WaitFor("ready"));
    Computer cy(lan.Namespace(2), {"--computer", "Pc-Cy", "--user", "Cy"});
    ASSERT_TRUE(cy.WaitFor("ready"));

    // Presence: everyone sees the other two.
    struct Sees
    {
        Computer* Who;
        std::vector<const char*> Others;
    };
    for (const Sees& s :
         {Sees{&ann, {"Bob", "Cy"}}, Sees{&bob, {"Ann", "Cy"}}, Sees{&cy, {"Ann", "Bob"}}})
        for (const char* name : s.Others)
            EXPECT_TRUE(s.Who->WaitFor(std::string("arrived\t") + name)) << name;

    // A second copy on Ann's computer cannot start, and Ann stays listed elsewhere.
    {
        Computer second(lan.Namespace(0), {"--computer", "PC-ANN", "--user", "Al"});
        ASSERT_TRUE(second.WaitFor("error\tBecause Zib Tam is configured to use peer-to-peer"));
    }

    // To one user.
    ann.Say("to Bob hello Bob");
    EXPECT_TRUE(bob.WaitFor("message\tAnn\t0\t0\tBob\thello Bob"));
    EXPECT_TRUE(ann.WaitFor("message\tAnn\t1\t0\tBob\thello Bob"));

    // To all users, the sender included.
    bob.Say("all lunch\\nat noon");
    for (Computer* c : {&ann, &cy})
        EXPECT_TRUE(c->WaitFor("message\tBob\t0\t1\t\tlunch\\nat noon"));
    EXPECT_TRUE(bob.WaitFor("message\tBob\t1\t1\t\t"));

    // A long message in several pieces.
    std::string longText(1000, 'q');
    cy.Say("to Ann,Bob " + longText);
    EXPECT_TRUE(ann.WaitFor("message\tCy\t0\t0\tAnn,Bob\t" + longText));
    EXPECT_TRUE(bob.WaitFor("message\tCy\t0\t0\tAnn,Bob\t" + longText));

    // A frozen recipient: not confirmed after three seconds, good news once it thaws.
    cy.Signal(SIGSTOP);
    ann.Say("to Cy are you there");
    EXPECT_TRUE(ann.WaitFor("report\tZib Tam could not confirm that the message you sent to Cy "
                            "at ",
                            8));
    cy.Signal(SIGCONT);
    EXPECT_TRUE(cy.WaitFor("message\tAnn\t0\t0\tCy\tare you there"));
    EXPECT_TRUE(
        ann.WaitFor("report\tZib Tam has good news for you!  The message you sent to Cy", 5));

    // Departure.
    EXPECT_TRUE(bob.Quit());
    EXPECT_TRUE(ann.WaitFor("departed\tBob"));
    EXPECT_TRUE(cy.WaitFor("departed\tBob"));

    // Nothing else went unconfirmed, and nobody saw Ann leave.
    for (const std::string& line : ann.Lines())
        EXPECT_EQ(line.find("could not confirm that the message you sent to Bob"),
                  std::string::npos)
            << line;
    EXPECT_FALSE(cy.Saw("departed\tAnn"));
    EXPECT_TRUE(ann.Quit());
    EXPECT_TRUE(cy.WaitFor("departed\tAnn"));
    EXPECT_TRUE(cy.Quit());
}

} // namespace
