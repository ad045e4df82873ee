// The chat window in this process against zibtam consoles in other processes, with real
// networking: peer-to-peer across network namespaces, and through a zibtam --server.
#include "ProcessSupport.h"
#include "app/desktop/ChatDlg.h"
#include "app/desktop/UsersListWidget.h"
#include "app/eventloop/NetworkFactory.h"
#include "platform/Clock.h"
#include "platform/Random.h"
#include "platform/SqliteRegistry.h"
#include "view/ChatHistory.h"
#include "view/ChatHistoryEdit.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPlainTextEdit>
#include <QPushButton>
#include <gtest/gtest.h>

namespace {

using namespace process_support;

class NoDialogs : public IChatDialogs
{
public:
    bool RunSendLater(QWidget*, std::time_t&) override { return false; }
    void RunAbout(QWidget*) override {}
    bool RunOptions(QWidget*) override { return false; }
    void OpenUrl(const QUrl&, OpenResult done) override { done(true); }
};

// Runs the event loop until `done` or the time is up.
bool Until(const std::function<bool()>& done, int limitMs = 15000)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > limitMs)
            return false;
        QEventLoop loop;
        loop.processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
    }
    return true;
}

class WindowProcessTest : public testing::Test
{
protected:
    TempDir dir;
    FakeSystemInfo system;
    std::unique_ptr<CSqliteRegistry> registry;
    std::unique_ptr<COptions> options;
    FakePrompt prompt;
    CRandom random{11};
    NoDialogs dialogs;
    std::unique_ptr<CNetworkFactory> factory;
    std::unique_ptr<CChatDlg> owen;

    void SetUp() override
    {
        ASSERT_FALSE(Exe().empty()) << "ZIBTAM_EXE is not set";
        std::signal(SIGPIPE, SIG_IGN);
    }
    void TearDown() override
    {
        owen.reset();
        factory.reset();
    }

    User MakeUser(const std::string& name, const std::string& ns, int type,
                  const std::string& server = "")
    {
        User user{name, dir.File(name), "PC-" + name, ns};
        for (std::vector<std::string> args :
             {std::vector<std::string>{"set", "Username", name},
              {"set", "NetworkingType", std::to_string(type)},
              {"set", "PromptOnAllUsers", "0"},
              {"set", "MessagePrefix", "u ('to' r)> "},
              {"set", "Server", server.empty() ? "127.0.0.1" : server},
              {"set", "PortNumber", "6543"}}) {
            args.insert(args.begin(), "--config");
            Process config(user, args);
            EXPECT_EQ(config.Wait(10s), 0) << config.Errors();
        }
        return user;
    }

    // Owen's window in this process, in namespace `ns` (already entered).
    void OpenWindow(int type, const std::string& server)
    {
        system.Computer = "PC-OWEN";
        registry = std::make_unique<CSqliteRegistry>(dir.File("owen.sqlite3"));
        options = std::make_unique<COptions>(*registry, system, false);
        options->Set(Opt::Username, "Owen");
        options->Set(Opt::NetworkingType, type);
        options->Set(Opt::Server, server);
        options->Set(Opt::PortNumber, 6543);
        options->Set(Opt::PromptOnAllUsers, 0);
        options->Set(Opt::MessagePrefix, "u ('to' r)> ");
        options->Set(Opt::LogMessages, 1);
        options->Set(Opt::LogPath, dir.File("owen-log.xml"));
        factory = std::make_unique<CNetworkFactory>(*options, CSystemClock::Instance(), "PC-OWEN");
        ChatDlgContext context{*options, prompt, CSystemClock::Instance(), random, *factory, false};
        context.Dialogs = &dialogs;
        context.UseTray = false;
        owen = std::make_unique<CChatDlg>(context);
        owen->Initialise();
        owen->ShowChatWindow();
        ASSERT_TRUE(Until([&] { return owen->Controller().IsConnected(); }))
            << prompt.Messages.size();
    }
    bool SeesUser(const std::string& name)
    {
        int tries = 0;
        return Until([&] {
            const auto& users = owen->Users()->Model().Users();
            if (std::find(users.begin(), users.end(), name) != users.end())
                return true;
            if (++tries % 40 == 0)
                owen->Controller().Refresh(); // F5: a fresh bridge may lose a broadcast
            return false;
        });
    }
    void TypeAndSend(const std::string& to, const char* text)
    {
        owen->Users()->SelectUsers({to}, true);
        owen->InputBox()->setPlainText(QString::fromLatin1(text));
        owen->SendButton()->click();
    }
    bool HistoryShows(const char* text)
    {
        return Until([&] {
            return owen->History()->Edit().toPlainText().contains(QString::fromLatin1(text));
        });
    }
    std::string Log()
    {
        std::ifstream in(dir.File("owen-log.xml"));
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }
};

TEST_F(WindowProcessTest, PeerToPeerWithAConsoleBothWaysThenAnUnreachableUser)
{
    Lan lan(2);
    if (!lan.Error().empty())
        GTEST_SKIP() << lan.Error();
    User ann = MakeUser("Ann", lan.Namespace(1), 1);
    ASSERT_TRUE(EnterNamespace(lan.Namespace(0)));
    Process console(ann, {"--console"});
    ASSERT_NE(console.WaitFor("Connected as Ann."), "") << console.Errors();
    OpenWindow(1, "");
    ASSERT_TRUE(SeesUser("Ann"));

    TypeAndSend("Ann", "Lunch at noon?");
    EXPECT_TRUE(owen->InputBox()->toPlainText().isEmpty());
    EXPECT_NE(console.WaitFor("Owen (to Ann)> Lunch at noon?"), "") << console.Transcript();

    console.Say("Yes, see you there");
    EXPECT_TRUE(HistoryShows("Ann (to Owen)> Yes, see you there"))
        << owen->History()->Edit().toPlainText().toStdString();

    // Ann's computer goes away without a word: the message is not confirmed.
    console.Kill();
    TypeAndSend("Ann", "Still there?");
    EXPECT_TRUE(HistoryShows("could not confirm"))
        << owen->History()->Edit().toPlainText().toStdString();

    std::string log = Log();
    EXPECT_NE(log.find("Lunch at noon?"), std::string::npos) << log;
    EXPECT_NE(log.find("Yes, see you there"), std::string::npos) << log;
}

TEST_F(WindowProcessTest, ThroughAServerWithAConsoleBothWaysThenAnAbsentUser)
{
    Lan lan(2);
    if (!lan.Error().empty())
        GTEST_SKIP() << lan.Error();
    User host = MakeUser("Host", lan.Namespace(1), 2);
    User ann = MakeUser("Ann", lan.Namespace(1), 2);
    Process server(host, {"--server", "--port", "6543"});
    ASSERT_TRUE(Until([&] { return server.Count("6543") > 0; }, 10000)) << server.Errors();
    ASSERT_TRUE(EnterNamespace(lan.Namespace(0)));
    Process console(ann, {"--console"});
    ASSERT_NE(console.WaitFor("Connected as Ann."), "") << console.Errors();
    OpenWindow(2, "10.231.9.2");
    ASSERT_TRUE(SeesUser("Ann"));

    TypeAndSend("Ann", "Lunch at noon?");
    EXPECT_NE(console.WaitFor("Owen (to Ann)> Lunch at noon?"), "") << console.Transcript();
    console.Say("Yes, see you there");
    EXPECT_TRUE(HistoryShows("Ann (to Owen)> Yes, see you there"))
        << owen->History()->Edit().toPlainText().toStdString();

    ASSERT_TRUE(
        owen->Controller().Send("Anyone?", {.Recipients = std::vector<std::string>{"Zed"}}));
    EXPECT_TRUE(HistoryShows("could not send your message to Zed"))
        << owen->History()->Edit().toPlainText().toStdString();

    std::string log = Log();
    EXPECT_NE(log.find("Lunch at noon?"), std::string::npos) << log;
    EXPECT_NE(log.find("Yes, see you there"), std::string::npos) << log;
}

} // namespace
