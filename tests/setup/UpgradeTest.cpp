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

// The cap of the fetches below.
constexpr std::uintmax_t kCap = 1000;

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
    ASSERT_TRUE(FetchUpgrade(web.Url("/upgrade"), false, path, error, kCap)) << error;
    EXPECT_EQ(web.Requests, (std::vector<std::string>{"GET /upgrade HTTP/1.1",
                                                      "GET /upgrade/741/setup.exe HTTP/1.1"}));
    EXPECT_EQ(fs::path(path).filename(), "ZibTamSetup");
    EXPECT_TRUE(IsSetupExecutable(path));
    EXPECT_EQ(ReadFile(path), "#!/bin/sh\n");
    EXPECT_EQ(access(path.c_str(), X_OK), 0);
    EXPECT_EQ(fs::directory_iterator(fs::path(path).parent_path())->path(), path);

    web.Responses = {{FileResponse("x", 1)}};
    ASSERT_TRUE(FetchUpgrade(web.Url("/upgrade"), true, path, error, kCap)) << error;
    EXPECT_EQ(fs::path(path).filename(), "SetupSecondary");
}

std::string Redirect(const std::string& location, const std::string& body = "")
{
    return "HTTP/1.1 302 Found\r\nLocation: " + location +
           "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

TEST_F(UpgradeTest, AFailedFetchSaysWhyAndLeavesNothing)
{
    // A server of the same machine that the download must never reach.
    StubWebServer elsewhere;
    const std::string port = elsewhere.Url("").substr(elsewhere.Url("").rfind(':'));
    const std::string big(kCap + 1, 'x');
    const std::string unannounced = "HTTP/1.0 200 OK\r\n\r\n" + big + big + big;
    const std::string offServer =
        "; Zib Tam takes its upgrade only from the server it is logged on to.";
    struct Case
    {
        const char* Name;
        std::string Response;
        bool Close;        // the server closes the connection after it
        std::string Error; // a part of the error text
    };
    std::vector<Case> cases;
    auto add = [&](const char* name, std::string response, bool close, std::string error) {
        cases.push_back({name, std::move(response), close, std::move(error)});
    };
    add("not found", "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n", false, "Not Found");
    add("cut short", FileResponse("half", 8), true, "");
    add("empty", FileResponse("", 0), false, "incomplete");
    add("another port", Redirect(elsewhere.Url("/upgrade/741/setup.exe")), false, offServer);
    add("another host", Redirect("http://127.0.0.2" + port + "/setup.exe"), false, offServer);
    add("another name", Redirect("http://localhost" + port + "/setup.exe"), false, offServer);
    add("another scheme", Redirect("https://127.0.0.1" + port + "/setup.exe"), false, offServer);
    add("larger than announced", FileResponse(big, big.size()), false, "more than 1000 bytes");
    add("announced larger", FileResponse("x", 1u << 30), false, "more than 1000 bytes");
    add("larger than the cap, unannounced", unannounced, true, "more than 1000 bytes");
    add("a redirect's body", Redirect("/upgrade/741/setup.exe", big), false,
        "more than 1000 bytes");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        StubWebServer web;
        web.Responses = {{c.Response, c.Close}, {FileResponse("x", 1)}};
        std::string path, error;
        EXPECT_FALSE(FetchUpgrade(web.Url("/upgrade"), false, path, error, kCap, 5000));
        EXPECT_NE(error.find(c.Error), std::string::npos) << error;
        EXPECT_FALSE(error.empty());
        EXPECT_EQ(path, "");
        EXPECT_EQ(LeftOverFolders(), 0);
        EXPECT_EQ(web.Requests.size(), 1u);
    }
    EXPECT_TRUE(elsewhere.Requests.empty());

    // Nobody listening.
    QTcpServer closed;
    closed.listen(QHostAddress::LocalHost);
    std::string url = "http://127.0.0.1:" + std::to_string(closed.serverPort()) + "/upgrade";
    closed.close();
    EXPECT_FALSE(RunUpgrade(url, prompt, false, dir.File("Zib Tam")));
    ASSERT_EQ(prompt.Messages.size(), 2u);
    EXPECT_EQ(prompt.Messages[0].Text, "Zib Tam will download the upgrade from the server "
                                       "127.0.0.1 (" +
                                           url + ") and start its setup.  Continue?");
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

void WriteProgram(const fs::path& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
    fs::permissions(path, fs::perms::owner_all);
}

TEST_F(UpgradeTest, OnlyANewerZibTamForThisMachineIsTaken)
{
    const std::string zibtam = ReadFile(std::getenv("ZIBTAM_EXE"));
    std::string otherMachine = zibtam, otherClass = zibtam;
    otherMachine[18] ^= 1;                      // e_machine
    otherClass[4] = otherClass[4] == 2 ? 1 : 2; // EI_CLASS: 64 and 32 bits
    const std::string notAProgram = "the file is not a program for this computer.";
    const std::string silent = "the program does not say that it is a version of Zib Tam";
    struct Case
    {
        const char* Name;
        std::string Bytes;
        int OwnVersion;
        std::string Error; // a part of it; empty: taken
    } cases[] = {
        {"newer", zibtam, kProtocolVersion - 1, ""},
        {"the same version", zibtam, kProtocolVersion,
         "the program is version 740, which is not newer than this copy's version 740."},
        {"older", zibtam, kProtocolVersion + 1, "which is not newer"},
        {"a script that answers well", "#!/bin/sh\necho 'Zib Tam Freeware/999'\n", 1, notAProgram},
        {"another machine", otherMachine, 1, notAProgram},
        {"another class", otherClass, 1, notAProgram},
        {"a few bytes",
         "\x7f"
         "ELF",
         1, notAProgram},
        {"another program", ReadFile("/bin/true"), 1, silent},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        fs::path file = dir.Path() / "ZibTamSetup";
        WriteProgram(file, c.Bytes);
        std::string error;
        EXPECT_EQ(CheckUpgradeProgram(file.string(), c.OwnVersion, error), c.Error.empty());
        EXPECT_NE(error.find(c.Error), std::string::npos) << error;
    }
    // A 1 GiB body is far above what a program of this size may send.
    EXPECT_LT(UpgradeSizeLimit(zibtam.size()), std::uintmax_t{1} << 30);
}

std::vector<std::string> g_started;
bool RecordStarted(const std::string& path)
{
    g_started.push_back(path);
    return true;
}

TEST_F(UpgradeTest, ARefusedFileIsNotStartedAndTheMessageNamesTheServer)
{
    const std::string zibtam = ReadFile(std::getenv("ZIBTAM_EXE"));
    struct Case
    {
        const char* Name;
        std::string Bytes;
        int OwnVersion;
        std::string Reason;
    } cases[] = {
        {"a script", "#!/bin/sh\necho 'Zib Tam Freeware/999'\n", kProtocolVersion,
         "the file is not a program for this computer."},
        {"the same version", zibtam, kProtocolVersion, "which is not newer"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        StubWebServer web;
        web.Responses = {{Redirect("/upgrade/741/setup.exe")},
                         {FileResponse(c.Bytes, c.Bytes.size())}};
        prompt.Messages.clear();
        g_started.clear();
        EXPECT_FALSE(RunUpgrade(web.Url("/upgrade"), prompt, false, dir.File("Zib Tam"),
                                RecordStarted, c.OwnVersion));
        EXPECT_TRUE(g_started.empty());
        ASSERT_EQ(prompt.Messages.size(), 2u);
        EXPECT_EQ(prompt.Messages[1].Text.rfind("Zib Tam did not start the file that the server "
                                                "127.0.0.1 sent as its upgrade:\n\n",
                                                0),
                  0u)
            << prompt.Messages[1].Text;
        EXPECT_NE(prompt.Messages[1].Text.find(c.Reason), std::string::npos);
        EXPECT_EQ(LeftOverFolders(), 0);
    }

    // More than four times the running program is refused as soon as it is announced.
    const std::uintmax_t limit = 4 * fs::file_size("/proc/self/exe");
    StubWebServer web;
    web.Responses = {{FileResponse("x", limit + 1)}};
    prompt.Messages.clear();
    EXPECT_FALSE(
        RunUpgrade(web.Url("/upgrade"), prompt, false, dir.File("Zib Tam"), RecordStarted));
    EXPECT_TRUE(g_started.empty());
    ASSERT_EQ(prompt.Messages.size(), 2u);
    EXPECT_NE(prompt.Messages[1].Text.find("more than " + std::to_string(limit) + " bytes"),
              std::string::npos)
        << prompt.Messages[1].Text;
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
    ASSERT_TRUE(RunUpgrade(url, prompt, false, dir.File("opt/Zib Tam/Zib Tam"), RecordStart,
                           kProtocolVersion - 1))
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
    ASSERT_TRUE(setup.Run("", [&] { EXPECT_TRUE(setup.InstallTo(setup.InstalledFolder())); }));
    EXPECT_EQ(ReadFile(dir.Path() / "opt/Zib Tam/Zib Tam"), ReadFile(serverFile));
    EXPECT_EQ(system.Started, std::vector<std::string>{host.Installed});
    // Done, the setup copy leaves nothing in the temporary folder.
    EXPECT_EQ(LeftOverFolders(), 0);
    server.kill();
    server.waitForFinished(5000);
}

} // namespace
