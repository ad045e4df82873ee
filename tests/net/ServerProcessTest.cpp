// The headless server in a process of its own: clients in this process talk to it, notice
// when it is killed, and log on again once it is back.
#include "ProcessSupport.h"
#include "ServerTestSupport.h"
#include "TestSupport.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <csignal>
#include <fstream>
#include <gtest/gtest.h>
#include <regex>
#include <sys/resource.h>
#include <thread>

namespace {

class ServerProcess
{
public:
    explicit ServerProcess(const std::string& configHome) : m_configHome(configHome) {}
    ~ServerProcess()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

    // Starts it and waits for the line that names the port; 0 when it did not come.
    int Start(int port)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), QString::fromStdString(m_configHome));
        env.insert(QStringLiteral("XDG_DATA_HOME"), QString::fromStdString(m_configHome));
        m_process.setProcessEnvironment(env);
        m_process.start(
            QStringLiteral(ZT_SERVER_HOST),
            {QStringLiteral("--server"), QStringLiteral("--port"), QString::number(port)});
        if (!m_process.waitForStarted(5000))
            return 0;
        const std::string prefix = "Zib Tam server listening on port ";
        std::string out;
        PumpUntil([&] {
            out += m_process.readAllStandardOutput().toStdString();
            return out.find('\n') != std::string::npos || m_process.state() == QProcess::NotRunning;
        });
        StartLine = out.substr(0, out.find('\n'));
        auto at = out.find(prefix);
        return at == std::string::npos ? 0 : std::stoi(out.substr(at + prefix.size()));
    }

    std::string StartLine;

    // How often the process went to sleep and woke so far.
    long VoluntarySwitches() const { return process_support::WakeUps(m_process.processId()); }
    void Signal(int signal) { ::kill(static_cast<pid_t>(m_process.processId()), signal); }

    bool WaitFinished(int& status)
    {
        bool done = PumpUntil([&] { return m_process.state() == QProcess::NotRunning; });
        status = m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
        return done;
    }

    std::string ErrorOutput() { return m_process.readAllStandardError().toStdString(); }

private:
    std::string m_configHome;
    QProcess m_process;
};

TEST(ServerProcessTest, ClientsNoticeAKilledServerAndLogOnAgainAfterItsRestart)
{
    TempDir home;
    CSystemClock clock;
    ServerProcess server(home.Path().string());
    int port = server.Start(0);
    ASSERT_NE(port, 0) << server.ErrorOutput();

    std::vector<std::unique_ptr<TestClient>> clients;
    for (const char* name : {"Owen", "Kim", "RT"}) {
        clients.push_back(std::make_unique<TestClient>(clock, "127.0.0.1", port, name));
        ASSERT_TRUE(clients.back()->LogOn(name));
    }
    ASSERT_TRUE(PumpUntil([&] { return clients[0]->Knows({"Kim", "RT"}); }));
    std::string error;
    ASSERT_TRUE(clients[0]->Client->Send({"Kim", "RT"}, "across processes", error));
    ASSERT_TRUE(PumpUntil([&] {
        return clients[1]->Has("across processes") && clients[2]->Has("across processes");
    }));
    ASSERT_TRUE(PumpUntil([&] {
        clients[0]->Drain();
        return clients[0]->Client->PendingReceipts().empty();
    }));

    server.Signal(SIGKILL);
    int status = 0;
    ASSERT_TRUE(server.WaitFinished(status));
    for (auto& client : clients) {
        ASSERT_TRUE(PumpUntil([&] { return !client->Client->IsConnected(); }));
        EXPECT_EQ(client->Sink.Events.back(), "disconnected");
    }

    // Back on the same port at once, old connections notwithstanding.
    ServerProcess again(home.Path().string());
    ASSERT_EQ(again.Start(port), port) << again.ErrorOutput();
    for (auto& client : clients) {
        std::string name = client->Names.StoredUserName();
        ASSERT_TRUE(client->LogOn(name)) << name;
    }
    ASSERT_TRUE(PumpUntil([&] { return clients[2]->Knows({"Owen", "Kim"}); }));

    // SIGTERM ends it cleanly: status 0 and every connection closed.
    again.Signal(SIGTERM);
    ASSERT_TRUE(again.WaitFinished(status));
    EXPECT_EQ(status, 0);
    for (auto& client : clients)
        ASSERT_TRUE(PumpUntil([&] { return !client->Client->IsConnected(); }));
}

// Nothing arriving, the server sleeps: no poll on a tick while a client sits logged on.
TEST(ServerProcessTest, IdleServerDoesNotWakeOnATick)
{
    TempDir home;
    CSystemClock clock;
    ServerProcess server(home.Path().string());
    int port = server.Start(0);
    ASSERT_NE(port, 0) << server.ErrorOutput();
    TestClient client(clock, "127.0.0.1", port, "Owen");
    ASSERT_TRUE(client.LogOn("Owen"));
    PumpFor(200);

    constexpr int kSeconds = 10;
    long before = server.VoluntarySwitches();
    ASSERT_GE(before, 0);
    std::this_thread::sleep_for(std::chrono::seconds(kSeconds));
    long wakes = server.VoluntarySwitches() - before;
    EXPECT_LE(wakes, 5 * kSeconds) << wakes << " wake-ups in " << kSeconds << " s";
}

// Started with a low soft descriptor limit, the server raises it to the hard one, says how
// many connections fit, and takes more connections than the limit it was started with.
TEST(ServerProcessTest, RaisesTheDescriptorLimitAndSaysHowManyConnectionsFit)
{
    constexpr rlim_t kStartedWith = 64;
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    if (saved.rlim_max < 1024 || saved.rlim_cur < 512)
        GTEST_SKIP() << "descriptor limits " << saved.rlim_cur << "/" << saved.rlim_max;
    TempDir home;
    ServerProcess server(home.Path().string());
    rlimit low{kStartedWith, saved.rlim_max};
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);
    int port = server.Start(0);
    ::setrlimit(RLIMIT_NOFILE, &saved);
    ASSERT_NE(port, 0) << server.ErrorOutput();

    std::smatch room;
    ASSERT_TRUE(std::regex_match(server.StartLine, room,
                                 std::regex("Zib Tam server listening on port [0-9]+, room for "
                                            "([0-9]+) connections")))
        << server.StartLine;
    unsigned long long fit = std::stoull(room[1]);
    EXPECT_LT(fit, saved.rlim_max);
    EXPECT_GT(fit, saved.rlim_max - 64);

    std::vector<std::unique_ptr<RawPeer>> idle;
    for (rlim_t i = 0; i < kStartedWith * 2; ++i)
        idle.push_back(std::make_unique<RawPeer>(port));
    CSystemClock clock;
    TestClient owen(clock, "127.0.0.1", port, "Owen");
    EXPECT_TRUE(owen.LogOn("Owen"));
}

TEST(ServerProcessTest, StartFailuresAreReportedWithTheirTexts)
{
    TempDir home;
    // A port that is taken.
    ServerFixtureBase holder;
    ServerProcess taken(home.Path().string());
    EXPECT_EQ(taken.Start(holder.Port), 0);
    int status = 0;
    ASSERT_TRUE(taken.WaitFinished(status));
    EXPECT_EQ(status, 1);
    EXPECT_EQ(taken.ErrorOutput(),
              "Zib Tam could not start the server.\n\nAddress already in use\n");

    // A permissions file that does not load keeps the server from starting.
    std::filesystem::create_directories(home.Path() / "zibtam");
    std::ofstream(home.Path() / "zibtam" / "zt_server_host Permissions.xml")
        << "<?xml version=\"1.0\"?>\n<permissions><user name=\"x\"/></permissions>\n";
    ServerProcess refused(home.Path().string());
    EXPECT_EQ(refused.Start(0), 0);
    ASSERT_TRUE(refused.WaitFinished(status));
    EXPECT_EQ(status, 1);
    EXPECT_EQ(refused.ErrorOutput(),
              "The server could not load permissions.\n\nEncountered <user> tag.  Expected "
              "<default> tag.\n");
}

} // namespace
