#include "app/ChatApp.h"

#include "TestSupport.h"
#include "platform/InstanceGuard.h"
#include "platform/SqliteRegistry.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTimer>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

class FakeShell : public IAppShell
{
public:
    bool SetupTakesOver = false;
    bool FirstRunOk = true;
    std::vector<std::string> Calls;
    int ShowRequests = 0;

    bool HandleSetupCommandLine(const std::string& line) override
    {
        Calls.push_back("setup:" + line);
        return SetupTakesOver;
    }
    void RunLogViewer() override { Calls.push_back("logviewer"); }
    bool RunFirstRunOptions() override
    {
        Calls.push_back("firstrun");
        return FirstRunOk;
    }
    void InstallKeyboardWatcher() override { Calls.push_back("keyboard"); }
    void CreateChatWindow() override { Calls.push_back("chatwindow"); }
    void ShowRequested() override { ++ShowRequests; }
};

class ChatAppTest : public testing::Test, protected TestSettings
{
protected:
    FakePrompt prompt;
    FakeShell shell;
    CManualClock clock;
    CRandom random;

    void SetUp() override
    {
        setenv("XDG_RUNTIME_DIR", dir.Path().c_str(), 1);
        std::filesystem::create_directories(dir.Path() / "opt");
        system.Executable = dir.File("opt/zibtam");
        system.Logon = "owen";
    }

    std::unique_ptr<CChatApp> Make(const std::string& commandLine = "",
                                   const std::string& problem = "")
    {
        return std::make_unique<CChatApp>(ChatAppContext{options, prompt, shell, clock, random,
                                                         false, commandLine,
                                                         dir.File("old/zibtam.log"), problem});
    }
};

TEST_F(ChatAppTest, FreshUserIsAskedForNameAndNetworking)
{
    prompt.Inputs.push_back({true, "Owen Pratley"});
    auto app = Make();
    EXPECT_TRUE(app->Initialise());
    ASSERT_EQ(prompt.InputsAsked.size(), 1u);
    EXPECT_EQ(prompt.InputsAsked[0].Caption, "Zib Tam User Name");
    EXPECT_EQ(prompt.InputsAsked[0].Text, "Please enter your name");
    EXPECT_EQ(prompt.InputLimits[0], 25);
    EXPECT_EQ(options.Get(Opt::Username), "Owen Pratley");
    EXPECT_EQ(shell.Calls,
              (std::vector<std::string>{"setup:", "firstrun", "keyboard", "chatwindow"}));
    // The first run ends with the window shown, not silently in the tray; later starts don't.
    EXPECT_EQ(shell.ShowRequests, 1);
    app.reset();
    options.Set(Opt::NetworkingType, 1); // what the first run's options page stored
    auto again = Make();
    EXPECT_TRUE(again->Initialise());
    EXPECT_EQ(shell.ShowRequests, 1);
}

TEST_F(ChatAppTest, NamePromptKeepsTheTextEvenOnCancelAndSuggestsTheLogonName)
{
    struct Case
    {
        const char* stored;
        bool asked;
    };
    const Case cases[] = {{"", true}, {"ALL USERS", true}, {"[Ann]", false}};
    for (const Case& c : cases) {
        options.SetUserName(c.stored);
        prompt.InputsAsked.clear();
        prompt.Inputs = {{false, "typed then cancelled"}};
        options.Set(Opt::NetworkingType, 1);
        auto app = Make();
        EXPECT_TRUE(app->Initialise());
        EXPECT_EQ(prompt.InputsAsked.size(), c.asked ? 1u : 0u) << c.stored;
        if (c.asked) {
            EXPECT_EQ(options.Get(Opt::Username), "typed then cancelled");
        }
    }
}

TEST_F(ChatAppTest, CancelledFirstRunEndsHavingStoredOnlyTheName)
{
    shell.FirstRunOk = false;
    auto app = Make();
    EXPECT_FALSE(app->Initialise());
    EXPECT_EQ(options.Get(Opt::Username), "owen"); // the suggestion, accepted as it was
    EXPECT_EQ(options.GetNetworkingType(), NetworkingType::NotChosen);
    EXPECT_EQ(shell.Calls.back(), "firstrun");
}

TEST_F(ChatAppTest, LogViewerModeAndSetupTakeOver)
{
    auto viewer = Make("/log");
    EXPECT_FALSE(viewer->Initialise());
    EXPECT_EQ(viewer->Mode(), InstanceMode::LogViewer);
    EXPECT_EQ(shell.Calls, (std::vector<std::string>{"setup:/log", "logviewer"}));
    EXPECT_TRUE(prompt.InputsAsked.empty());

    shell.Calls.clear();
    shell.SetupTakesOver = true;
    auto setup = Make("/uninstall");
    EXPECT_FALSE(setup->Initialise());
    EXPECT_EQ(shell.Calls, std::vector<std::string>{"setup:/uninstall"});
}

TEST_F(ChatAppTest, StaleTemporaryLogGoesAndAnOldLogMoves)
{
    options.SetUserName("Ann");
    options.Set(Opt::NetworkingType, 1);
    std::ofstream(dir.File("opt/zibtam.tmp")) << "half a log";
    std::filesystem::create_directories(dir.Path() / "old");
    std::ofstream(dir.File("old/zibtam.log")) << "<log/>";
    auto app = Make();
    EXPECT_TRUE(app->Initialise());
    EXPECT_FALSE(std::filesystem::exists(dir.File("opt/zibtam.tmp")));
    EXPECT_FALSE(std::filesystem::exists(dir.File("old/zibtam.log")));
    std::ifstream moved(dir.File("opt/zibtam.xml"));
    std::string content;
    std::getline(moved, content);
    EXPECT_EQ(content, "<log/>");
}

TEST_F(ChatAppTest, SettingsProblemIsToldOnce)
{
    options.SetUserName("Ann");
    options.Set(Opt::NetworkingType, 1);
    auto app = Make("", "Zib Tam cannot use its settings file");
    EXPECT_TRUE(app->Initialise());
    ASSERT_EQ(prompt.Messages.size(), 1u);
    EXPECT_EQ(prompt.Messages[0].Text, "Zib Tam cannot use its settings file");
}

TEST_F(ChatAppTest, SecondCopyOfTheSameKindAndModeEnds)
{
    options.SetUserName("Ann");
    options.Set(Opt::NetworkingType, 1);
    auto first = Make();
    ASSERT_TRUE(first->Initialise());
    auto second = Make();
    shell.Calls.clear();
    // The running copy answers on this thread's event loop, so the second start (which
    // waits for the answer) runs beside it.
    std::atomic<bool> done{false}, ended{true};
    std::thread starter([&] {
        ended = !second->Initialise();
        done = true;
    });
    QElapsedTimer timer;
    timer.start();
    while ((!done || shell.ShowRequests == 0) && timer.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    starter.join();
    EXPECT_TRUE(ended);
    EXPECT_EQ(shell.ShowRequests, 1);
    EXPECT_EQ(std::count(shell.Calls.begin(), shell.Calls.end(), "chatwindow"), 0);

    // A log viewer is another mode: it runs beside the chat copy.
    auto viewer = Make("/log");
    EXPECT_FALSE(viewer->Initialise());
    EXPECT_EQ(shell.Calls.back(), "logviewer");
}

TEST_F(ChatAppTest, TheShowRequestCarriesTheLaunchersActivationToken)
{
    // On Wayland a window takes the focus only with a token of the user's action: the one
    // the launcher gave the second start goes to the running copy, which activates with it.
    options.SetUserName("Ann");
    options.Set(Opt::NetworkingType, 1);
    auto running = Make();
    ASSERT_TRUE(running->Initialise());
    qunsetenv("XDG_ACTIVATION_TOKEN");
    for (const char* token : {"", "launcher-token-42"}) {
        int before = shell.ShowRequests;
        std::atomic<bool> answered{false};
        std::thread second([&] {
            answered = CInstanceGuard(InstanceIdentity::For(false), InstanceMode::Chat)
                           .ShowRunningInstance(5000, QString::fromLatin1(token));
        });
        QElapsedTimer timer;
        timer.start();
        while (shell.ShowRequests == before && timer.elapsed() < 5000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        second.join();
        EXPECT_TRUE(answered) << token;
        EXPECT_EQ(shell.ShowRequests, before + 1) << token;
        EXPECT_EQ(qgetenv("XDG_ACTIVATION_TOKEN"), QByteArray(token)) << token;
    }
    qunsetenv("XDG_ACTIVATION_TOKEN");
}

TEST_F(ChatAppTest, SetupClosesTheRunningCopy)
{
    options.SetUserName("Ann");
    options.Set(Opt::NetworkingType, 1);
    auto running = Make();
    ASSERT_TRUE(running->Initialise());
    std::atomic<bool> answered{false};
    std::thread setup([&] {
        answered = CInstanceGuard(InstanceIdentity::For(false), InstanceMode::Chat)
                       .CloseRunningInstance(1000);
    });
    // The request ends the running copy's event loop.
    QEventLoop loop;
    QElapsedTimer timer;
    timer.start();
    QTimer::singleShot(5000, &loop, &QEventLoop::quit);
    loop.exec();
    setup.join();
    EXPECT_TRUE(answered);
    EXPECT_LT(timer.elapsed(), 4000);
}

TEST(RuntimeFolderTest, OnlyAPrivateFolderOfThisUserIsUsed)
{
    // In a shared temporary folder another user may have made the name first.
    TempDir dir;
    const QString base = QString::fromStdString(dir.Path().string());
    const std::string first = (dir.Path() / "zibtam-7").string();
    struct Case
    {
        const char* Name;
        std::function<void()> Arrange;
        const char* Used; // the name of the folder used
    } cases[] = {
        {"missing: made private", [] {}, "zibtam-7"},
        {"ours and private", [&] { mkdir(first.c_str(), 0700); }, "zibtam-7"},
        {"ours but open to others",
         [&] {
             mkdir(first.c_str(), 0700);
             chmod(first.c_str(), 0777);
         },
         "zibtam-7.1"},
        {"another user's",
         [&] {
             mkdir(first.c_str(), 0700);
             if (chown(first.c_str(), 65534, 65534) != 0)
                 chmod(first.c_str(), 0755); // not root: a folder open to others stands in
         },
         "zibtam-7.1"},
        {"a link to a private folder",
         [&] {
             mkdir((first + "-real").c_str(), 0700);
             if (symlink((first + "-real").c_str(), first.c_str()) != 0)
                 ADD_FAILURE() << "no link";
         },
         "zibtam-7.1"},
        {"a file, and the next one taken too",
         [&] {
             std::ofstream(first) << "x";
             mkdir((first + ".1").c_str(), 0755);
         },
         "zibtam-7.2"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        std::filesystem::remove_all(dir.Path());
        std::filesystem::create_directories(dir.Path());
        c.Arrange();
        QString warning;
        QString folder = PrivateFolderIn(base, QStringLiteral("zibtam-7"), &warning);
        EXPECT_EQ(folder, base + QLatin1Char('/') + QLatin1String(c.Used));
        struct stat made
        {
        };
        ASSERT_EQ(lstat(QFile::encodeName(folder).constData(), &made), 0);
        EXPECT_TRUE(S_ISDIR(made.st_mode));
        EXPECT_EQ(made.st_mode & 0777, 0700u);
        EXPECT_EQ(made.st_uid, geteuid());
        // Choosing another folder is said; the usual one is not.
        EXPECT_EQ(warning.isEmpty(), std::string(c.Used) == "zibtam-7") << warning.toStdString();
        // The same folder again: a later copy finds the first one's sockets.
        EXPECT_EQ(PrivateFolderIn(base, QStringLiteral("zibtam-7")), folder);
    }
}

} // namespace
