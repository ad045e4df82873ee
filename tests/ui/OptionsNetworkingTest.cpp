// A change on the Networking page while connected restarts what the change table says,
// on the real transports: peer-to-peer to a client of a running "zibtam --server", and
// back. The process moves into a network namespace of its own first, so the fixed
// peer-to-peer ports and the server's port clash with nothing else on the machine.
#include "OptionsTestSupport.h"
#include "app/eventloop/NetworkFactory.h"
#include "app/session/NetworkManager.h"
#include "net/PeerTransport.h"
#include "net/TcpIpClient.h"
#include "platform/Clock.h"
#include "ui/OptionsSheet.h"

#include <QElapsedTimer>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <cstdlib>
#include <gtest/gtest.h>
#include <sched.h>
#include <unistd.h>

namespace {

constexpr int kServerPort = 34390;

class CountingSink : public CTransportSink
{
public:
    int Connects = 0, Disconnects = 0;

protected:
    void OnConnected() override { ++Connects; }
    void OnDisconnected() override { ++Disconnects; }
    void OnUserArrived(const std::string&) override {}
    void OnUserDeparted(const std::string&) override {}
    void OnUserRenamed(const std::string&, const std::string&) override {}
};

class OptionsNetworkingTest : public testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        if (!std::getenv("ZIBTAM_EXE"))
            s_skip = "ZIBTAM_EXE is not set";
        else if (::geteuid() != 0)
            s_skip = "needs root to make a private network namespace";
        else if (::unshare(CLONE_NEWNET) != 0)
            s_skip = "cannot make a private network namespace here (unshare failed)";
        else if (std::system("ip link set lo up") != 0)
            s_skip = "cannot bring up loopback in the private namespace";
    }
    void SetUp() override
    {
        if (!s_skip.empty())
            GTEST_SKIP() << s_skip;
    }
    void TearDown() override
    {
        if (m_server.state() != QProcess::NotRunning) {
            m_server.terminate();
            m_server.waitForFinished(5000);
        }
    }

    // The headless server with settings of its own, in this namespace.
    bool StartServer()
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"),
                   QString::fromStdString(m_serverDir.File("config")));
        env.insert(QStringLiteral("XDG_DATA_HOME"),
                   QString::fromStdString(m_serverDir.File("data")));
        m_server.setProcessEnvironment(env);
        m_server.start(
            QString::fromLocal8Bit(std::getenv("ZIBTAM_EXE")),
            {QStringLiteral("--server"), QStringLiteral("--port"), QString::number(kServerPort)});
        if (!m_server.waitForStarted(5000))
            return false;
        // Wait for the server's own word: a probe that connects in a loop can be given the
        // server's port as its local port, connect to itself and keep the server from binding.
        QElapsedTimer waited;
        waited.start();
        QByteArray said;
        while (waited.elapsed() < 10000 && m_server.state() == QProcess::Running) {
            m_server.waitForReadyRead(200);
            said += m_server.readAllStandardOutput();
            if (said.contains("listening on port"))
                return true;
        }
        return false;
    }

    // Makes the change through the sheet as a user would, and presses OK.
    void ChangeOnNetworkingPage(const std::function<void(CNetworkingPage&)>& change)
    {
        COptionsSheet sheet(rig.Context(), COptionsSheet::Pages::All);
        change(*sheet.Networking());
        sheet.accept();
        ASSERT_EQ(sheet.result(), QDialog::Accepted)
            << (rig.prompt.Messages.empty() ? std::string() : rig.prompt.Messages.back().Text);
    }

    static std::string s_skip;
    TempDir m_serverDir;
    QProcess m_server;
    OptionsRig rig;
};

std::string OptionsNetworkingTest::s_skip;

TEST_F(OptionsNetworkingTest, PeerToClientOfARunningServerAndBack)
{
    ASSERT_TRUE(StartServer()) << "the server did not come up";
    COptions& options = rig.Options();
    options.SetUserName("Owen");
    options.Set(Opt::NetworkingType, 1);
    CNetworkFactory factory(options, CSystemClock::Instance(), "OFFICE1");
    CountingSink sink;
    CNetworkManager manager(options, CSystemClock::Instance(), factory, sink);
    std::string error;
    ASSERT_TRUE(manager.Start(true, true, error)) << error;
    ASSERT_TRUE(manager.IsConnected());
    CTransport* peer = &manager.Transport();
    ASSERT_TRUE(dynamic_cast<CPeerTransport*>(peer));

    // Peer-to-peer with only the port changed: the table restarts nothing.
    ChangeOnNetworkingPage(
        [](CNetworkingPage& page) { page.PortEdit()->setText(QString::number(kServerPort)); });
    ASSERT_TRUE(manager.ApplySettings(error)) << error;
    EXPECT_EQ(&manager.Transport(), peer);

    // To a client of the running server: the client restarts, no server here.
    ChangeOnNetworkingPage([](CNetworkingPage& page) {
        page.ClientServer()->click();
        page.Client()->click();
        page.ServerEdit()->setText(QStringLiteral("localhost"));
    });
    EXPECT_EQ(options.GetNetworkingType(), NetworkingType::Client);
    ASSERT_TRUE(manager.ApplySettings(error)) << error;
    EXPECT_TRUE(manager.IsConnected());
    EXPECT_FALSE(manager.HasServer());
    EXPECT_TRUE(dynamic_cast<CTcpIpClient*>(&manager.Transport()));
    CTransport* client = &manager.Transport();

    // Only the server name's letter case changed: nothing restarts.
    ChangeOnNetworkingPage(
        [](CNetworkingPage& page) { page.ServerEdit()->setText(QStringLiteral("LocalHost")); });
    ASSERT_TRUE(manager.ApplySettings(error)) << error;
    EXPECT_EQ(&manager.Transport(), client);

    // And back to peer-to-peer: the client restarts as a peer transport.
    ChangeOnNetworkingPage([](CNetworkingPage& page) { page.PeerToPeer()->click(); });
    EXPECT_EQ(options.GetNetworkingType(), NetworkingType::PeerToPeer);
    ASSERT_TRUE(manager.ApplySettings(error)) << error;
    EXPECT_TRUE(manager.IsConnected());
    EXPECT_TRUE(dynamic_cast<CPeerTransport*>(&manager.Transport()));
    EXPECT_FALSE(manager.HasServer());
    manager.Stop();
}

} // namespace
