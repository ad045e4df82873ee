// The console front end as a user runs it: whole processes, each with its own settings,
// talking peer-to-peer across network namespaces (so they never touch the ports of this
// computer), or through a server.
#include "ProcessSupport.h"

#include <algorithm>
#include <csignal>
#include <fstream>
#include <gtest/gtest.h>
#include <thread>

namespace {

using namespace process_support;

class ConsoleProcessTest : public testing::Test
{
protected:
    TempDir dir;

    void SetUp() override
    {
        ASSERT_FALSE(Exe().empty()) << "ZIBTAM_EXE is not set";
        // A console that ended must fail a check, not kill the test with SIGPIPE.
        std::signal(SIGPIPE, SIG_IGN);
    }

    User MakeUser(const std::string& name, const std::string& ns, int networkingType)
    {
        User user{name, dir.File(name), "PC-" + name, ns};
        Config(user, {"set", "Username", name});
        Config(user, {"set", "NetworkingType", std::to_string(networkingType)});
        Config(user, {"set", "PromptOnAllUsers", "0"});
        Config(user, {"set", "MessagePrefix", "u ('to' r)> "});
        return user;
    }
    void Config(const User& user, std::vector<std::string> args)
    {
        args.insert(args.begin(), "--config");
        Process config(user, args);
        ASSERT_EQ(config.Wait(10s), 0) << config.Errors();
    }
    std::string ConfigGet(const User& user, const std::string& name)
    {
        Process config(user, {"--config", "get", name});
        config.Wait(10s);
        std::string value = config.Transcript();
        if (!value.empty())
            value.pop_back(); // the line end "get" adds
        return value;
    }
    // Waits until `user`'s console lists `other` as present.
    static bool WaitForPresence(Process& console, const std::string& other)
    {
        for (int i = 0; i < 60; ++i) {
            // A fresh bridge may lose the first broadcasts: ask again now and then (F5).
            if (i % 8 == 7)
                console.Say("/refresh");
            console.Say("/who");
            std::string line = console.WaitFor("resent", 1s);
            if (line.find(other) != std::string::npos)
                return true;
            std::this_thread::sleep_for(250ms);
        }
        return false;
    }
};

TEST_F(ConsoleProcessTest, TwoConsolesChatPeerToPeerAndTheAutoResponderAnswersAfterItsDelay)
{
    Lan lan(2);
    if (!lan.Error().empty())
        GTEST_SKIP() << lan.Error();
    User owen = MakeUser("Owen", lan.Namespace(0), 1);
    User ann = MakeUser("Ann", lan.Namespace(1), 1);
    Config(ann, {"set", "Turing", "1"});
    Config(ann, {"set", "Turing\\Rule1\\Condition", "*lunch*"});
    Config(ann, {"set", "Turing\\Rule1\\Response1", "100%\t2\t2\tBack at two."});
    Config(ann, {"set", "LogMessages", "1"});
    Config(ann, {"set", "LogPath", ann.Home + "/log.xml"});

    Process owenConsole(owen, {"--console"});
    Process annConsole(ann, {"--console"});
    ASSERT_NE(owenConsole.WaitFor("Connected as Owen."), "") << owenConsole.Errors();
    ASSERT_NE(annConsole.WaitFor("Connected as Ann."), "") << annConsole.Errors();
    ASSERT_TRUE(WaitForPresence(owenConsole, "Ann")) << owenConsole.Transcript();

    owenConsole.Say("/to ann");
    EXPECT_NE(owenConsole.WaitFor("To: Ann."), "");
    owenConsole.Say("Caf\xC3\xA9 at nine? \xE2\x82\xAC 5 \xCE\xB1");
    EXPECT_NE(annConsole.WaitFor("Owen (to Ann)> Caf\xC3\xA9 at nine? \xE2\x82\xAC 5 ?"), "")
        << annConsole.Transcript();

    // Ann answers the sender (she was selected when his message came in).
    annConsole.Say("Yes\\nsee you");
    EXPECT_NE(owenConsole.WaitFor("Ann (to Owen)> Yes\\nsee you"), "") << owenConsole.Transcript();

    // The auto-responder: not before its two seconds, then once.
    auto sent = Clock::now();
    owenConsole.Say("What about lunch?");
    std::string answer = owenConsole.WaitFor("Ann (to Owen)> Back at two.", 10s);
    auto delay = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - sent);
    ASSERT_NE(answer, "") << owenConsole.Transcript();
    EXPECT_GE(delay.count(), 1900);
    EXPECT_LT(delay.count(), 4000);

    // Ann's log holds what she was shown.
    std::ifstream log(ann.Home + "/log.xml");
    std::string logged((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
    EXPECT_NE(logged.find("What about lunch?"), std::string::npos) << logged;

    // One copy per computer in peer-to-peer mode: Owen quits, then sends from a script.
    owenConsole.Say("/quit");
    EXPECT_EQ(owenConsole.Wait(5s), 0);
    Process send(owen, {"--send", "--to", "Ann", "Sent from a script"});
    EXPECT_EQ(send.Wait(20s), 0) << send.Errors();
    EXPECT_NE(annConsole.WaitFor("Owen (to Ann)> Sent from a script"), "");
    Process nobody(owen, {"--send", "--to", "Zed", "Anyone there?"});
    EXPECT_EQ(nobody.Wait(20s), 1);
    std::string errors = nobody.Errors();
    EXPECT_EQ(errors, "zibtam: Zed is not logged on to Zib Tam.\n");
}

TEST_F(ConsoleProcessTest, ASendLaterMessageSurvivesAKillAndIsSentOnceWhenDue)
{
    Lan lan(2);
    if (!lan.Error().empty())
        GTEST_SKIP() << lan.Error();
    User owen = MakeUser("Owen", lan.Namespace(0), 1);
    User ann = MakeUser("Ann", lan.Namespace(1), 1);
    Process annConsole(ann, {"--console"});
    ASSERT_NE(annConsole.WaitFor("Connected as Ann."), "");

    {
        Process owenConsole(owen, {"--console"});
        ASSERT_NE(owenConsole.WaitFor("Connected as Owen."), "");
        ASSERT_TRUE(WaitForPresence(owenConsole, "Ann"));
        owenConsole.Say("/to Ann");
        owenConsole.Say("/later 1 Stand-up now");
        ASSERT_NE(owenConsole.WaitFor("The message will be sent at"), "")
            << owenConsole.Transcript();
        owenConsole.Kill();
    }
    std::string stored = ConfigGet(owen, "SendLater\\1");
    ASSERT_NE(stored, "");
    // Bring the moment to four seconds from now instead of a minute.
    std::string rest = stored.substr(stored.find('\n'));
    std::string value = std::to_string(std::time(nullptr) + 4) + rest;
    Config(owen, {"set", "SendLater\\1", value});

    Process owenAgain(owen, {"--console"});
    ASSERT_NE(owenAgain.WaitFor("Connected as Owen."), "");
    EXPECT_NE(annConsole.WaitFor("Owen (to Ann)> Scheduled message: Stand-up now", 15s), "")
        << annConsole.Transcript();
    std::this_thread::sleep_for(1500ms);
    EXPECT_EQ(annConsole.Count("Scheduled message: Stand-up now"), 1);
    EXPECT_EQ(owenAgain.Count("Scheduled message: Stand-up now"), 1); // his own copy
    owenAgain.Say("/quit");
    EXPECT_EQ(owenAgain.Wait(5s), 0);
    EXPECT_EQ(ConfigGet(owen, "SendLater\\1"), "");
}

TEST_F(ConsoleProcessTest, AMegabyteLineIsRefusedForAllUsersAndSentWholeToOneUser)
{
    Lan lan(1);
    if (!lan.Error().empty())
        GTEST_SKIP() << lan.Error();
    User owen = MakeUser("Owen", lan.Namespace(0), 1);
    Process console(owen, {"--console"});
    ASSERT_NE(console.WaitFor("Connected as Owen."), "");
    // "PromptOnAllUsers" 1 asks on the terminal; only yes sends.
    Config(owen, {"set", "PromptOnAllUsers", "1"});
    console.Say("Anyone for tea?");
    EXPECT_NE(console.WaitFor("Are you sure you want to send this to all users?"), "");
    console.Say("n");
    console.Say("Anyone for coffee?");
    EXPECT_NE(console.WaitFor("Are you sure you want to send this to all users?"), "");
    console.Say("y");
    EXPECT_NE(console.WaitFor("Owen (to all users)> Anyone for coffee?"), "")
        << console.Transcript();
    EXPECT_EQ(console.Count("Anyone for tea?"), 0);
    Config(owen, {"set", "PromptOnAllUsers", "0"});

    std::string big(1 << 20, 'x');
    console.Say(big);
    EXPECT_NE(console.WaitFor("Messages sent to all users need to be under 3,000 characters."), "");
    console.Say("/to Owen");
    console.Say(big);
    std::string shown = console.WaitFor("Owen (to Owen)> xxx", 20s);
    EXPECT_EQ(shown, "Owen (to Owen)> " + big);
    console.CloseInput();
    EXPECT_EQ(console.Wait(10s), 0);
}

TEST_F(ConsoleProcessTest, TheFirstRunAsksHowToConnectAndStoresTheAnswer)
{
    User owen{"Owen", dir.File("Owen"), "PC-OWEN", ""};
    Config(owen, {"set", "Username", "Owen"});
    Config(owen, {"set", "PortNumber", "9"}); // nobody serves it
    Process console(owen, {"--console"});
    EXPECT_NE(console.WaitFor("3  client/server, with this computer as the server"), "");
    console.Say("4");
    console.Say("2");
    console.Say("127.0.0.1");
    EXPECT_NE(console.WaitFor("Zib Tam is not currently connected to the server."), "")
        << console.Transcript();
    console.Say("/quit");
    EXPECT_EQ(console.Wait(5s), 0);
    EXPECT_EQ(ConfigGet(owen, "NetworkingType"), "2");
    EXPECT_EQ(ConfigGet(owen, "Server"), "127.0.0.1");

    // Without an answer the console ends with one line.
    User ann{"Ann", dir.File("Ann"), "PC-ANN", ""};
    Config(ann, {"set", "Username", "Ann"});
    Process unanswered(ann, {"--console"});
    unanswered.CloseInput();
    EXPECT_EQ(unanswered.Wait(5s), 1);
    EXPECT_EQ(unanswered.Errors(), "zibtam: the input ended before the networking was chosen.\n");
}

// A TCP port nobody listens on right now.
int FreePort()
{
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

TEST_F(ConsoleProcessTest, TwoConsolesChatThroughAServer)
{
    // The server runs inside the first console ("NetworkingType" 3), or alone with
    // --server where this build has it; the consoles are clients on loopback.
    int port = FreePort();
    User hub{"Hub", dir.File("Hub"), "PC-HUB", ""};
    Process server(hub, {"--server", "--port", std::to_string(port)});
    bool headless = !server.WaitFor("listening on port", 5s).empty();

    User owen = MakeUser("Owen", "", headless ? 2 : 3);
    User ann = MakeUser("Ann", "", 2);
    for (const User* user : {&owen, &ann}) {
        Config(*user, {"set", "Server", "127.0.0.1"});
        Config(*user, {"set", "PortNumber", std::to_string(port)});
    }
    Process owenConsole(owen, {"--console"});
    ASSERT_NE(owenConsole.WaitFor("Connected as Owen."), "") << owenConsole.Transcript();
    Process annConsole(ann, {"--console"});
    ASSERT_NE(annConsole.WaitFor("Connected as Ann."), "") << annConsole.Transcript();
    ASSERT_TRUE(WaitForPresence(owenConsole, "Ann"));

    owenConsole.Say("/to Ann");
    owenConsole.Say("Through the hub \xC3\xA9");
    EXPECT_NE(annConsole.WaitFor("Owen (to Ann)> Through the hub \xC3\xA9"), "")
        << annConsole.Transcript();
    annConsole.Say("Multi\\nline");
    EXPECT_NE(owenConsole.WaitFor("Ann (to Owen)> Multi\\nline"), "");

    // A megabyte to one user goes whole; to all users it is refused.
    std::string big(1'000'000, 'z');
    annConsole.Say(big);
    EXPECT_EQ(owenConsole.WaitFor("Ann (to Owen)> zzz", 20s), "Ann (to Owen)> " + big);
    annConsole.Say("/to all");
    annConsole.Say(big);
    EXPECT_NE(annConsole.WaitFor("need to be under 3,000 characters"), "");

    // A script's message is confirmed by the receipt.
    annConsole.Say("/quit");
    EXPECT_EQ(annConsole.Wait(5s), 0);
    Process send(ann, {"--send", "--to", "owen", "From a script"});
    EXPECT_EQ(send.Wait(20s), 0) << send.Errors();
    EXPECT_NE(owenConsole.WaitFor("Ann (to Owen)> From a script"), "");
}

// A one-shot send sleeps while it waits and ends as soon as the answer is known: scripts
// run it unattended, often many at once.
TEST_F(ConsoleProcessTest, SendEndsAsSoonAsTheAnswerIsKnownAndSleepsWhileItWaits)
{
    // Under a tenth of the time it ran; a command that ends within a second is held to a
    // tenth of a second, which is what starting the program costs, not waiting.
    auto expectAsleep = [](const Process& send, const char* what) {
        EXPECT_LT(send.CpuTime() * 10, std::max<std::chrono::milliseconds>(send.WallTime(), 1s))
            << what << ": " << send.CpuTime().count() << " ms of processor time in "
            << send.WallTime().count() << " ms";
    };
    int port = FreePort();
    User owen = MakeUser("Owen", "", 2);
    User ann = MakeUser("Ann", "", 2);
    for (const User* user : {&owen, &ann}) {
        Config(*user, {"set", "Server", "127.0.0.1"});
        Config(*user, {"set", "PortNumber", std::to_string(port)});
    }

    Process refused(owen, {"--send", "--to", "Ann", "Nobody serves this port"});
    EXPECT_EQ(refused.Wait(2s), 1);
    EXPECT_NE(refused.Errors().find("Zib Tam could not connect to the server."), std::string::npos)
        << refused.Errors();
    expectAsleep(refused, "connection refused");

    User hub{"Hub", dir.File("Hub"), "PC-HUB", ""};
    Process server(hub, {"--server", "--port", std::to_string(port)});
    ASSERT_NE(server.WaitFor("listening on port", 5s), "") << server.Errors();
    Process absent(owen, {"--send", "--to", "Nobody", "Anyone there?"});
    // Sooner than the wait for a peer to arrive (3 s), with room for a busy machine.
    EXPECT_EQ(absent.Wait(2500ms), 1);
    EXPECT_EQ(absent.Errors(), "zibtam: Nobody is not logged on to Zib Tam.\n");
    expectAsleep(absent, "recipient absent");

    Process annConsole(ann, {"--console"});
    ASSERT_NE(annConsole.WaitFor("Connected as Ann."), "") << annConsole.Transcript();
    Process confirmed(owen, {"--send", "--to", "Ann", "Confirmed by receipt"});
    EXPECT_EQ(confirmed.Wait(10s), 0) << confirmed.Errors();
    EXPECT_NE(annConsole.WaitFor("Owen (to Ann)> Confirmed by receipt"), "");
    expectAsleep(confirmed, "confirmed");
}

// Connected and idle, a console sleeps until something arrives or a deadline comes: no
// tick. Peer-to-peer with another console present, and as a client of a server.
TEST_F(ConsoleProcessTest, IdleConsolesDoNotWakeOnATick)
{
    Lan lan(2);
    if (!lan.Error().empty())
        GTEST_SKIP() << lan.Error();
    Process owenPeer(MakeUser("Owen", lan.Namespace(0), 1), {"--console"});
    Process annPeer(MakeUser("Ann", lan.Namespace(1), 1), {"--console"});
    ASSERT_NE(owenPeer.WaitFor("Connected as Owen."), "") << owenPeer.Errors();
    ASSERT_NE(annPeer.WaitFor("Connected as Ann."), "") << annPeer.Errors();
    ASSERT_TRUE(WaitForPresence(owenPeer, "Ann"));

    int port = FreePort();
    User hub{"Hub", dir.File("Hub"), "PC-HUB", ""};
    Process server(hub, {"--server", "--port", std::to_string(port)});
    ASSERT_NE(server.WaitFor("listening on port", 5s), "") << server.Errors();
    User kim = MakeUser("Kim", "", 2);
    Config(kim, {"set", "Server", "127.0.0.1"});
    Config(kim, {"set", "PortNumber", std::to_string(port)});
    Process client(kim, {"--console"});
    ASSERT_NE(client.WaitFor("Connected as Kim."), "") << client.Errors();
    std::this_thread::sleep_for(500ms); // the log-on's answers settle

    constexpr int kSeconds = 10;
    struct Watched
    {
        const char* What;
        Process& Console;
        long Before = 0;
    };
    std::vector<Watched> watched{{"peer-to-peer", owenPeer}, {"client", client}};
    for (Watched& w : watched) {
        w.Before = WakeUps(w.Console.Pid());
        ASSERT_GE(w.Before, 0) << w.What;
    }
    std::this_thread::sleep_for(std::chrono::seconds(kSeconds));
    for (Watched& w : watched) {
        long wakes = WakeUps(w.Console.Pid()) - w.Before;
        EXPECT_LE(wakes, 5 * kSeconds)
            << w.What << ": " << wakes << " wake-ups in " << kSeconds << " s";
    }
    // Still awake to what arrives.
    annPeer.Say("/to Owen");
    annPeer.Say("Still there?");
    EXPECT_NE(owenPeer.WaitFor("Ann (to Owen)> Still there?"), "") << owenPeer.Transcript();
}

} // namespace
