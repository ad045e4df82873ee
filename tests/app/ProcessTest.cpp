// The real program, started the way a user starts it.
#include "ProcessSupport.h"
#include "TestSupport.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

class Program
{
public:
    // Starts `executable` with `arguments` and the environment changes in `env`
    // ("NAME=value" sets, "NAME" alone unsets); output goes to files in `dir`.
    Program(const std::string& executable, std::vector<std::string> arguments,
            const std::vector<std::string>& env, const TempDir& dir)
        : m_out(dir.File("out" + std::to_string(++s_count))), m_err(m_out + ".err")
    {
        m_pid = fork();
        if (m_pid == 0) {
            for (const auto& e : env) {
                auto eq = e.find('=');
                if (eq == std::string::npos)
                    unsetenv(e.c_str());
                else
                    setenv(e.substr(0, eq).c_str(), e.substr(eq + 1).c_str(), 1);
            }
            int in = open("/dev/null", O_RDONLY);
            dup2(in, 0);
            int out = open(m_out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            int err = open(m_err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            dup2(out, 1);
            dup2(err, 2);
            std::vector<char*> argv{const_cast<char*>(executable.c_str())};
            for (auto& a : arguments)
                argv.push_back(a.data());
            argv.push_back(nullptr);
            execv(executable.c_str(), argv.data());
            _exit(127);
        }
    }
    ~Program()
    {
        if (m_pid > 0 && !m_done) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
    }

    // The exit status, or -1 when it is still running after `limit`.
    int Wait(std::chrono::milliseconds limit)
    {
        auto end = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < end) {
            int status = 0;
            if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_done = true;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            std::this_thread::sleep_for(20ms);
        }
        return -1;
    }
    void Signal(int signal) { kill(m_pid, signal); }
    // The files mapped into the running program.
    std::string Maps() const { return Read("/proc/" + std::to_string(m_pid) + "/maps"); }
    std::string Output() const { return Read(m_out); }
    std::string Errors() const { return Read(m_err); }

private:
    static std::string Read(const std::string& path)
    {
        std::ifstream in(path);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    static inline int s_count = 0;
    pid_t m_pid = -1;
    bool m_done = false;
    std::string m_out, m_err;
};

class ProcessTest : public testing::Test
{
protected:
    TempDir dir;
    std::string exe = std::getenv("ZIBTAM_EXE") ? std::getenv("ZIBTAM_EXE") : "";
    std::vector<std::string> env;

    void SetUp() override
    {
        ASSERT_FALSE(exe.empty()) << "ZIBTAM_EXE is not set";
        env = {"XDG_CONFIG_HOME=" + dir.File("config"), "XDG_RUNTIME_DIR=" + dir.File("run"),
               "XDG_DATA_HOME=" + dir.File("data"), "QT_QPA_PLATFORM=offscreen"};
        std::filesystem::create_directories(dir.Path() / "run");
        std::filesystem::permissions(dir.Path() / "run", std::filesystem::perms::owner_all);
    }

    int Config(const std::string& program, std::vector<std::string> arguments)
    {
        arguments.insert(arguments.begin(), "--config");
        Program config(program, arguments, env, dir);
        return config.Wait(10s);
    }

    bool WaitForFile(const std::string& path)
    {
        for (int i = 0; i < 250 && !std::filesystem::exists(path); ++i)
            std::this_thread::sleep_for(20ms);
        return std::filesystem::exists(path);
    }
};

TEST_F(ProcessTest, HelpAndConfigWorkWithoutADisplay)
{
    std::vector<std::string> headless = env;
    headless.insert(headless.end(), {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"});
    Program help(exe, {"--help"}, headless, dir);
    EXPECT_EQ(help.Wait(10s), 0);
    EXPECT_NE(help.Output().find("--config list"), std::string::npos);

    Program set(exe, {"--config", "set", "PortNumber", "4000"}, headless, dir);
    EXPECT_EQ(set.Wait(10s), 0);
    Program get(exe, {"--config", "get", "portnumber"}, headless, dir);
    EXPECT_EQ(get.Wait(10s), 0);
    EXPECT_EQ(get.Output(), "4000\n");
}

TEST_F(ProcessTest, WithoutADisplayTheChatProgramSaysSoInOneLineAndRunsTheConsole)
{
    // A client of a server nobody runs: the console starts, cannot connect, and ends
    // when its input (here empty) ends.
    ASSERT_EQ(Config(exe, {"set", "Username", "Owen"}), 0);
    ASSERT_EQ(Config(exe, {"set", "NetworkingType", "2"}), 0);
    ASSERT_EQ(Config(exe, {"set", "Server", "127.0.0.1"}), 0);
    ASSERT_EQ(Config(exe, {"set", "PortNumber", "9"}), 0);
    std::vector<std::string> headless = env;
    headless.insert(headless.end(), {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"});
    Program chat(exe, {}, headless, dir);
    EXPECT_EQ(chat.Wait(10s), 0) << chat.Errors();
    std::string errors = chat.Errors();
    EXPECT_EQ(errors.rfind("zibtam: ", 0), 0u) << errors;
    EXPECT_NE(errors.find("--console"), std::string::npos) << errors;
    EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1) << errors;
    EXPECT_NE(chat.Output().find("Zib Tam is not currently connected to the server."),
              std::string::npos)
        << chat.Output();

    headless.push_back("DISPLAY=:97"); // a display nobody serves
    Program unserved(exe, {}, headless, dir);
    EXPECT_EQ(unserved.Wait(10s), 0);
    EXPECT_NE(unserved.Errors().find(":97"), std::string::npos);
}

TEST_F(ProcessTest, AWaylandSessionThatCannotBeOpenedFallsBackInsteadOfAborting)
{
    ASSERT_EQ(Config(exe, {"set", "Username", "Owen"}), 0);
    ASSERT_EQ(Config(exe, {"set", "NetworkingType", "2"}), 0);
    ASSERT_EQ(Config(exe, {"set", "Server", "127.0.0.1"}), 0);
    ASSERT_EQ(Config(exe, {"set", "PortNumber", "9"}), 0);
    // A compositor that is gone: its name is set, nobody serves it. The toolkit, left to
    // itself, tried it and then X11, and aborted when both failed.
    std::vector<std::string> gone = env;
    gone.insert(gone.end(),
                {"WAYLAND_DISPLAY=wayland-gone", "XDG_SESSION_TYPE=wayland", "QT_QPA_PLATFORM"});
    struct Case
    {
        const char* Display; // nullptr: unset
        const char* Said;
    };
    for (Case c : {Case{nullptr, "\"wayland-gone\" cannot be opened and no display is set"},
                   Case{":97", "\"wayland-gone\" cannot be opened and the display \":97\""}}) {
        std::vector<std::string> where = gone;
        where.push_back(c.Display ? std::string("DISPLAY=") + c.Display : "DISPLAY");
        Program chat(exe, {}, where, dir);
        EXPECT_EQ(chat.Wait(10s), 0) << chat.Errors();
        std::string errors = chat.Errors();
        EXPECT_NE(errors.find(c.Said), std::string::npos) << errors;
        EXPECT_NE(errors.find("--console"), std::string::npos) << errors;
        EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1) << errors;
    }

    // With an X server beside it (XWayland), the window opens there.
    const char* display = std::getenv("DISPLAY");
    if (!display)
        GTEST_SKIP() << "no X11 display to fall back to";
    std::vector<std::string> x11 = gone;
    x11.push_back(std::string("DISPLAY=") + display);
    Program chat(exe, {}, x11, dir);
    ASSERT_TRUE(WaitForFile(dir.File("run/zibtam/ZibTamMutex"))) << chat.Errors();
    EXPECT_EQ(chat.Wait(300ms), -1) << chat.Errors();
    chat.Signal(SIGTERM);
    EXPECT_EQ(chat.Wait(10s), 0) << chat.Errors();
    EXPECT_EQ(chat.Errors().find("console"), std::string::npos) << chat.Errors();
}

TEST(ProcessStartTest, WithAutoTypeSetThePeerPortListensWithinTwoSeconds)
{
    // No hot keys here (offscreen): the AutoType key cannot be had, and that must neither
    // ask nor wait. A network of its own keeps the fixed port away from other tests.
    process_support::Lan lan(1);
    if (!lan.Error().empty())
        GTEST_SKIP() << lan.Error();
    TempDir dir;
    process_support::User owen{"Owen", dir.File("owen"), "OWENPC", lan.Namespace(0)};
    for (auto setting : {std::vector<std::string>{"Username", "Owen"},
                         {"NetworkingType", "1"},
                         {"AutoType", "Owen m/d/yy"}}) {
        process_support::Process set(owen, {"--config", "set", setting[0], setting[1]});
        ASSERT_EQ(set.Wait(10s), 0) << set.Errors();
    }
    process_support::Process chat(owen, {});
    EXPECT_TRUE(process_support::PeerPortBoundWithin(chat.Pid(), 2s)) << chat.Errors();
}

TEST_F(ProcessTest, SecondStartHandsOverAndEndsWhileTheSecondaryRunsBeside)
{
    ASSERT_EQ(Config(exe, {"set", "Username", "Owen"}), 0);
    ASSERT_EQ(Config(exe, {"set", "NetworkingType", "1"}), 0);
    std::string secondaryExe = dir.File("Zib Tam (Secondary)");
    std::filesystem::copy_file(exe, secondaryExe);
    ASSERT_EQ(Config(secondaryExe, {"set", "Username", "Ann"}), 0);
    ASSERT_EQ(Config(secondaryExe, {"set", "NetworkingType", "1"}), 0);

    Program first(exe, {}, env, dir);
    ASSERT_TRUE(WaitForFile(dir.File("run/zibtam/ZibTamMutex"))) << first.Errors();
    Program second(exe, {}, env, dir);
    EXPECT_EQ(second.Wait(10s), 0) << second.Errors();
    EXPECT_EQ(first.Wait(200ms), -1) << "the first copy must keep running";

    Program secondary(secondaryExe, {}, env, dir);
    ASSERT_TRUE(WaitForFile(dir.File("run/zibtam/ZibTamSecondaryMutex"))) << secondary.Errors();
    EXPECT_EQ(secondary.Wait(300ms), -1) << "the secondary copy runs beside the first";

    // Both end cleanly on SIGTERM.
    first.Signal(SIGTERM);
    secondary.Signal(SIGTERM);
    EXPECT_EQ(first.Wait(10s), 0) << first.Errors();
    EXPECT_EQ(secondary.Wait(10s), 0) << secondary.Errors();

    // The settings trees stayed apart.
    Program get(exe, {"--config", "get", "Username"}, env, dir);
    get.Wait(10s);
    EXPECT_EQ(get.Output(), "Owen\n");
}

TEST_F(ProcessTest, OneLogViewerPerKindBesideTheChatProgram)
{
    ASSERT_EQ(Config(exe, {"set", "Username", "Owen"}), 0);
    ASSERT_EQ(Config(exe, {"set", "NetworkingType", "1"}), 0);
    ASSERT_EQ(Config(exe, {"set", "LogPath", dir.File("Office Log.xml")}), 0);
    std::vector<std::string> viewerEnv = env;
    viewerEnv.push_back("ZIBTAM_WEBVIEW=" + dir.File("none")); // the text browser is enough here

    Program viewer(exe, {"/log"}, viewerEnv, dir);
    ASSERT_TRUE(WaitForFile(dir.File("run/zibtam/ZibTamLogViewerMutex"))) << viewer.Errors();
    ASSERT_TRUE(WaitForFile(dir.File("office log.tmp"))) << "the page is written";
    Program second(exe, {"/log"}, viewerEnv, dir);
    EXPECT_EQ(second.Wait(10s), 0) << second.Errors();
    EXPECT_EQ(viewer.Wait(200ms), -1) << "the first viewer keeps running";

    // "/log" later in the command line is chat mode, which runs beside the viewer.
    Program chat(exe, {"open", "/log"}, env, dir);
    ASSERT_TRUE(WaitForFile(dir.File("run/zibtam/ZibTamMutex"))) << chat.Errors();
    EXPECT_EQ(viewer.Wait(200ms), -1);

    viewer.Signal(SIGTERM);
    chat.Signal(SIGTERM);
    EXPECT_EQ(viewer.Wait(10s), 0) << viewer.Errors();
    EXPECT_EQ(chat.Wait(10s), 0) << chat.Errors();
    EXPECT_FALSE(std::filesystem::exists(dir.File("office log.tmp"))) << "the page goes with it";
}

// The web engine costs tens of megabytes and a GL context: a classic viewer does without it.
TEST_F(ProcessTest, OnlyTheWebPageViewerLoadsTheWebEngine)
{
    ASSERT_EQ(Config(exe, {"set", "Username", "Owen"}), 0);
    ASSERT_EQ(Config(exe, {"set", "LogPath", dir.File("Office Log.xml")}), 0);
    for (bool classic : {true, false}) {
        ASSERT_EQ(Config(exe, {"set", "ClassicLogViewer", classic ? "1" : "0"}), 0);
        Program viewer(exe, {"/log"}, env, dir);
        ASSERT_TRUE(WaitForFile(dir.File("run/zibtam/ZibTamLogViewerMutex"))) << viewer.Errors();
        EXPECT_EQ(viewer.Maps().find("WebEngine") == std::string::npos, classic) << classic;
        viewer.Signal(SIGTERM);
        EXPECT_EQ(viewer.Wait(20s), 0) << viewer.Errors();
        std::filesystem::remove(dir.File("run/zibtam/ZibTamLogViewerMutex"));
    }
}

TEST_F(ProcessTest, ADamagedSettingsFileIsLeftAsItWas)
{
    std::filesystem::create_directories(dir.Path() / "config/zibtam");
    std::string path = dir.File("config/zibtam/registry.sqlite3");
    std::ofstream(path) << "not a database";
    Program get(exe, {"--config", "get", "PortNumber"}, env, dir);
    EXPECT_EQ(get.Wait(10s), 1);
    EXPECT_NE(get.Errors().find(path), std::string::npos);
    std::ifstream in(path);
    std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(content, "not a database");
}

} // namespace
