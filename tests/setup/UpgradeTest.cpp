// The upgrade through the "&Upgrade..." link: the fetch and its failures against a stub web
// server, and the round trip with the real server program.
#include "../net/ServerTestSupport.h"
#include "TestSupport.h"
#include "setup/LinuxSetupSystem.h"
#include "setup/UpgradeDownload.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QTcpServer>
#include <QTcpSocket>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

std::string ReadFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Answers every request with the next of its responses; the raw bytes are sent as they are
// and the connection is closed after them when `Close` says so.
class StubWebServer
{
public:
    struct Response
    {
        std::string Bytes;
        bool Close = false;
    };
    std::vector<Response> Responses;
    std::vector<std::string> Requests;

    StubWebServer()
    {
        m_server.listen(QHostAddress::LocalHost);
        QObject::connect(&m_server, &QTcpServer::newConnection, [this] {
            while (QTcpSocket* socket = m_server.nextPendingConnection()) {
                QObject::connect(socket, &QTcpSocket::readyRead, [this, socket] {
                    m_pending[socket] += socket->readAll().toStdString();
                    if (m_pending[socket].find("\r\n\r\n") == std::string::npos)
                        return;
                    Requests.push_back(m_pending[socket].substr(0, m_pending[socket].find("\r\n")));
                    m_pending[socket].clear();
                    Response response = Responses.empty() ? Response{} : Responses.front();
                    if (!Responses.empty())
                        Responses.erase(Responses.begin());
                    socket->write(response.Bytes.data(),
                                  static_cast<qint64>(response.Bytes.size()));
                    if (response.Close)
                        socket->disconnectFromHost();
                });
            }
        });
    }
    std::string Url(const std::string& path) const
    {
        return "http://127.0.0.1:" + std::to_string(m_server.serverPort()) + path;
    }

private:
    QTcpServer m_server;
    std::map<QTcpSocket*, std::string> m_pending;
};

class UpgradeTest : public testing::Test
{
protected:
    TempDir dir;
    FakePrompt prompt;

    void SetUp() override { setenv("TMPDIR", dir.Path().c_str(), 1); }
    void TearDown() override { unsetenv("TMPDIR"); }

    int LeftOverFolders() const
    {
        int count = 0;
        for (const auto& entry : fs::directory_iterator(dir.Path()))
            count += entry.path().filename().string().rfind("zibtam-upgrade-", 0) == 0;
        return count;
    }
};

std::string FileResponse(const std::string& body, size_t announced)
{
    return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(announced) +
           "\r\nContent-Type: application/octet-stream\r\n\r\n" + body;
}

TEST_F(UpgradeTest, FetchFollowsTheRedirectAndMakesAnExecutableSetupCopy)
{
    StubWebServer web;
    web.Responses = {{"HTTP/1.1 302 Found\r\nLocation: " + web.Url("/upgrade/741/setup.exe") +
                      "\r\nContent-Length: 0\r\n\r\n"},
                     {FileResponse("#!/bin/sh\n", 10)}};
    std::string path, error;
    ASSERT_TRUE(FetchUpgrade(web.Url("/upgrade"), false, path, error)) << error;
    EXPECT_EQ(web.Requests, (std::vector<std::string>{"GET /upgrade HTTP/1.1",
                                                      "GET /upgrade/741/setup.exe HTTP/1.1"}));
    EXPECT_EQ(fs::path(path).filename(), "ZibTamSetup");
    EXPECT_TRUE(IsSetupExecutable(path));
    EXPECT_EQ(ReadFile(path), "#!/bin/sh\n");
    EXPECT_EQ(access(path.c_str(), X_OK), 0);
    EXPECT_EQ(fs::directory_iterator(fs::path(path).parent_path())->path(), path);

    web.Responses = {{FileResponse("x", 1)}};
    ASSERT_TRUE(FetchUpgrade(web.Url("/upgrade"), true, path, error)) << error;
    EXPECT_EQ(fs::path(path).filename(), "SetupSecondary");
}

TEST_F(UpgradeTest, AFailedFetchSaysWhyAndLeavesNothing)
{
    struct Case
    {
        const char* Name;
        StubWebServer::Response Response;
        const char* Error; // a part of the error text
    } cases[] = {
        {"not found", {"HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n"}, "Not Found"},
        {"cut short", {FileResponse("half", 8), true}, ""},
        {"empty", {FileResponse("", 0)}, "incomplete"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        StubWebServer web;
        web.Responses = {c.Response};
        std::string path, error;
        EXPECT_FALSE(FetchUpgrade(web.Url("/upgrade"), false, path, error, 5000));
        EXPECT_NE(error.find(c.Error), std::string::npos) << error;
        EXPECT_FALSE(error.empty());
        EXPECT_EQ(path, "");
        EXPECT_EQ(LeftOverFolders(), 0);
    }

    // Nobody listening.
    QTcpServer closed;
    closed.listen(QHostAddress::LocalHost);
    std::string url = "http://127.0.0.1:" + std::to_string(closed.serverPort()) + "/upgrade";
    closed.close();
    EXPECT_FALSE(RunUpgrade(url, prompt, false, dir.File("Zib Tam")));
    ASSERT_EQ(prompt.Messages.size(), 2u);
    EXPECT_EQ(prompt.Messages[0].Text,
              "Zib Tam will download the upgrade from " + url + " and start its setup.  Continue?");
    EXPECT_EQ(prompt.Messages[1].Text.rfind(
                  "Zib Tam could not download the upgrade from " + url + ":\n\n", 0),
              0u)
        << prompt.Messages[1].Text;
    EXPECT_EQ(LeftOverFolders(), 0);
}

TEST_F(UpgradeTest, APackageCopyIsUpgradedWithThePackageAndNoIsNothing)
{
    EXPECT_FALSE(RunUpgrade("http://server:1/upgrade", prompt, false, "/usr/bin/zibtam"));
    ASSERT_EQ(prompt.Messages.size(), 1u);
    EXPECT_NE(prompt.Messages[0].Text.find("installed from a package"), std::string::npos);

    prompt.Messages.clear();
    prompt.Answers = {PromptAnswer::No};
    EXPECT_FALSE(RunUpgrade("http://server:1/upgrade", prompt, false, dir.File("Zib Tam")));
    EXPECT_EQ(prompt.Messages.size(), 1u);
    EXPECT_EQ(LeftOverFolders(), 0);
}

// The setup system with starting programs recorded instead of done.
class NoStartSystem : public CLinuxSetupSystem
{
public:
    using CLinuxSetupSystem::CLinuxSetupSystem;
    std::vector<std::string> Started;
    bool StartProgram(const std::string& path, const std::string&) override
    {
        Started.push_back(path);
        return true;
    }
};

class RecordingHost : public CSetupHost
{
public:
    std::string Installed;
    std::string GetProductName() override { return "Zib Tam"; }
    std::string GetInstalledPath() override { return Installed; }
    void CloseRunningInstances() override {}
    bool ConfirmUninstall() override { return true; }
    bool CreateStartupShortcut(const std::string&, std::string&) override { return true; }
    std::string GetDefaultFolder() override { return ""; }
    void SetInstalledPath(const std::string& path) override { Installed = path; }
    bool RemoveLegacySettings() override { return true; }
    void WriteUpgradeLog() override {}
    void DeleteStartupShortcut() override {}
};

std::string g_fetched;
bool RecordStart(const std::string& path)
{
    g_fetched = path;
    return true;
}

TEST_F(UpgradeTest, RoundTripFromANewerServerReplacesTheInstalledCopyWithTheServersFile)
{
    const std::string serverFile = std::getenv("ZIBTAM_EXE");
    QProcess server;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), QString::fromStdString(dir.File("config")));
    env.insert(QStringLiteral("XDG_DATA_HOME"), QString::fromStdString(dir.File("data")));
    server.setProcessEnvironment(env);
    server.start(QString::fromStdString(serverFile),
                 {QStringLiteral("--server"), QStringLiteral("--port"), QStringLiteral("0")});
    ASSERT_TRUE(server.waitForStarted(5000));
    std::string out;
    PumpUntil([&] {
        out += server.readAllStandardOutput().toStdString();
        return out.find('\n') != std::string::npos || server.state() == QProcess::NotRunning;
    });
    const std::string prefix = "Zib Tam server listening on port ";
    ASSERT_NE(out.find(prefix), std::string::npos) << out;
    int port = std::stoi(out.substr(out.find(prefix) + prefix.size()));

    // A client one version behind the server sees the upgrade; one of its version does not.
    CSystemClock clock;
    std::string url;
    {
        TestClient current(clock, "127.0.0.1", port, "ann");
        ASSERT_TRUE(current.LogOn("ann"));
        EXPECT_FALSE(current.Client->GetUpgradeURL(url));
    }
    RecordingSink sink;
    CFixedUserName names("owen");
    CFixedClientSettings settings("127.0.0.1", port);
    RecordingBusyFactory busy;
    CTcpIpClient older(&sink, names, clock, settings, busy, kProtocolVersion - 1);
    std::string error;
    ASSERT_TRUE(older.LogOn("owen", error)) << error;
    ASSERT_TRUE(older.GetUpgradeURL(url));
    EXPECT_EQ(url, "http://127.0.0.1:" + std::to_string(port) + "/upgrade");

    // The link fetches the server's file and starts it as a setup copy.
    ASSERT_TRUE(RunUpgrade(url, prompt, false, dir.File("opt/Zib Tam/Zib Tam"), RecordStart))
        << prompt.Messages.back().Text;
    ASSERT_EQ(prompt.Messages.size(), 1u); // the question, nothing else
    ASSERT_FALSE(g_fetched.empty());
    EXPECT_EQ(ReadFile(g_fetched), ReadFile(serverFile));

    // The setup copy installs itself over the installed copy.
    fs::create_directories(dir.Path() / "opt/Zib Tam");
    std::ofstream(dir.Path() / "opt/Zib Tam/Zib Tam") << "old build";
    RecordingHost host;
    host.Installed = dir.File("opt/Zib Tam/Zib Tam");
    NoStartSystem system(g_fetched, g_fetched, dir.File("applications"));
    CSetup setup(host, system, prompt);
    ASSERT_TRUE(setup.IsUpgrade());
    ASSERT_TRUE(setup.InstallTo(setup.InstalledFolder()));
    EXPECT_EQ(ReadFile(dir.Path() / "opt/Zib Tam/Zib Tam"), ReadFile(serverFile));
    EXPECT_EQ(system.Started, std::vector<std::string>{host.Installed});
    server.kill();
    server.waitForFinished(5000);
}

} // namespace
