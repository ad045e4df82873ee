// The chat window's decisions, driven through the controller with fakes around it.
#include "ControllerFixture.h"
#include "platform/NextWake.h"
#include "sendlater/SendLater.h"

#include <gtest/gtest.h>

namespace {

constexpr std::time_t kNow = 1'700'000'000;

class ControllerTest : public testing::Test
{
protected:
    TempDir dir;
    CManualClock clock;
    ControllerRig rig{dir, "Owen", clock, nullptr, "OFFICE1"};
    TransportScript& script = rig.factory.Script;

    void SetUp() override
    {
        clock.SetNow(kNow);
        clock.SetTicks(1000);
    }
    CChatController& controller() { return *rig.controller; }
    std::vector<std::string> Messages() const
    {
        std::vector<std::string> texts;
        for (const auto& asked : rig.prompt.Messages)
            texts.push_back(asked.Text);
        return texts;
    }
};

TEST_F(ControllerTest, TheSendButtonTrimsLineBreaksAndKeepsTheTextWhenNothingIsSent)
{
    rig.Start();
    struct Case
    {
        std::string typed;
        std::string sent; // empty: nothing goes out
    };
    const Case cases[] = {
        {"hello", "hello"},
        {"\n\n\nhello\n\n", "\nhello"},
        {"\r\nline one\r\nline two\r\n", "\nline one\nline two"},
        {"\n\n\n", ""},
        {"\r\n\r\n", ""},
        {"", ""},
    };
    for (const Case& c : cases) {
        script.Sent.clear();
        std::string typed = c.typed;
        bool sent = controller().SendTyped(typed, false);
        EXPECT_EQ(sent, !c.sent.empty()) << c.typed;
        if (c.sent.empty()) {
            EXPECT_TRUE(script.Sent.empty()) << c.typed;
            EXPECT_EQ(typed, c.typed);
        } else {
            EXPECT_EQ(script.Sent, std::vector<std::string>{"to *: " + c.sent});
            EXPECT_EQ(typed, "");
        }
    }
}

TEST_F(ControllerTest, MessagesToAllUsersMustBeUnderThreeThousandCharacters)
{
    rig.options.Set(Opt::PromptOnAllUsers, 0);
    rig.Start();
    std::string typed(3000, 'x');
    EXPECT_FALSE(controller().SendTyped(typed, false));
    EXPECT_EQ(typed.size(), 3000u);
    EXPECT_EQ(Messages(), std::vector<std::string>{CChatController::kAllUsersTooLong});
    EXPECT_TRUE(script.Sent.empty());

    typed.pop_back();
    EXPECT_TRUE(controller().SendTyped(typed, false));
    ASSERT_EQ(script.Sent.size(), 1u);
    EXPECT_EQ(script.Sent[0].size(), std::string("to *: ").size() + 2999);

    // The limit is for all users only: a megabyte goes to one user whole.
    std::string big(1 << 20, 'y');
    std::vector<std::string> owen{"Ann"};
    EXPECT_TRUE(controller().Send(big, {.Recipients = owen}));
    EXPECT_EQ(script.Sent.back(), "to Ann: " + big);
}

TEST_F(ControllerTest, OnlyPromptOnAllUsersOneAsksAndOnlyYesSends)
{
    rig.Start();
    struct Case
    {
        int setting;
        bool skip;
        std::deque<PromptAnswer> answers;
        bool asked;
        bool sent;
    };
    const Case cases[] = {
        {1, false, {PromptAnswer::Yes}, true, true},
        {1, false, {PromptAnswer::No}, true, false},
        {1, false, {PromptAnswer::Cancel}, true, false},
        {1, true, {}, false, true}, // the auto-responder and Send Later
        {2, false, {}, false, true},
        {0, false, {}, false, true},
    };
    for (const Case& c : cases) {
        rig.options.Set(Opt::PromptOnAllUsers, c.setting);
        rig.prompt.Messages.clear();
        rig.prompt.Answers = c.answers;
        script.Sent.clear();
        std::vector<std::string> all;
        EXPECT_EQ(controller().Send("hi", {.Recipients = all, .SkipAllUsersPrompt = c.skip}),
                  c.sent)
            << c.setting;
        EXPECT_EQ(!rig.prompt.Messages.empty(), c.asked) << c.setting;
        if (c.asked) {
            EXPECT_EQ(rig.prompt.Messages[0].Text, CChatController::kConfirmAllUsers);
        }
        EXPECT_EQ(script.Sent.size(), c.sent ? 1u : 0u) << c.setting;
    }
    // A named recipient is never asked about.
    rig.options.Set(Opt::PromptOnAllUsers, 1);
    rig.prompt.Messages.clear();
    std::vector<std::string> ann{"Ann"};
    EXPECT_TRUE(controller().Send("hi", {.Recipients = ann}));
    EXPECT_TRUE(rig.prompt.Messages.empty());
}

TEST_F(ControllerTest, NothingSelectedAsksTheUserToChoose)
{
    // Not connected: the list is empty and nothing is selected.
    script.LogOnOk = false;
    rig.Start();
    std::string typed = "hello";
    EXPECT_FALSE(controller().SendTyped(typed, false));
    EXPECT_EQ(Messages(), std::vector<std::string>{CChatController::kSelectSomeone});
    EXPECT_EQ(typed, "hello");
}

TEST_F(ControllerTest, AFailedSendKeepsTheTextAndPostsTheNoticeToHistoryAndLog)
{
    rig.Start();
    script.SendOk = false;
    rig.users.SelectUsers({"Ann", "Bob"}, true, false, true);
    std::string typed = "lunch?";
    EXPECT_FALSE(controller().SendTyped(typed, false));
    EXPECT_EQ(typed, "lunch?");
    EXPECT_EQ(rig.window.WaitCursor, 0);
    rig.Poll();
    ASSERT_EQ(rig.window.History.size(), 1u);
    const ChatMessage& notice = rig.window.History[0];
    EXPECT_EQ(notice.Sender, "Zib Tam");
    EXPECT_EQ(notice.Text, "The following message could not be sent to Ann and Bob; please try "
                           "sending this message again.\n\nlunch?");
    ASSERT_EQ(rig.log.Written.size(), 1u);
    EXPECT_EQ(rig.log.Written[0].Text, notice.Text);

    // To all users the notice says so.
    rig.options.Set(Opt::PromptOnAllUsers, 0);
    std::vector<std::string> all;
    EXPECT_FALSE(controller().Send("x", {.Recipients = all}));
    rig.Poll();
    EXPECT_EQ(rig.window.History.back().Text,
              "The following message could not be sent to all users; please try sending "
              "this message again.\n\nx");
}

TEST_F(ControllerTest, ALogThatCannotBeWrittenIsReported)
{
    rig.Start();
    rig.log.Failure = "No space left on device";
    std::vector<std::string> self{"Owen"};
    EXPECT_TRUE(controller().Send("note to self", {.Recipients = self}));
    EXPECT_EQ(Messages(), std::vector<std::string>{
                              "An error occurred while writing the log.\nNo space left on device"});
    EXPECT_EQ(rig.window.Texts(), std::vector<std::string>{"Owen: note to self"});
}

TEST_F(ControllerTest, StartsOnTheFirstTickAndShowsTheConnectedState)
{
    rig.controller->Initialise();
    EXPECT_EQ(rig.timers.Running, (std::map<int, uint32_t>{{CChatController::kPollTimer, 10},
                                                           {CChatController::kStartTimer, 0}}));
    rig.controller->OnTimer(CChatController::kStartTimer);
    EXPECT_FALSE(rig.timers.IsRunning(CChatController::kStartTimer));
    EXPECT_FALSE(rig.timers.IsRunning(CChatController::kReconnectTimer));
    EXPECT_EQ(script.LogOns, std::vector<std::string>{"Owen@peer"});
    EXPECT_EQ(rig.window.States, std::vector<bool>{true});
    EXPECT_TRUE(rig.users.AllUsersSelected());
}

TEST_F(ControllerTest, AFailedFirstStartPostsItsReasonAndRetriesByTimeDown)
{
    script.LogOnOk = false;
    rig.Start();
    EXPECT_EQ(rig.window.States, std::vector<bool>{false});
    ASSERT_TRUE(rig.timers.IsRunning(CChatController::kReconnectTimer));
    EXPECT_EQ(rig.timers.Running[CChatController::kReconnectTimer], 500u);
    rig.Poll();
    rig.Poll();
    ASSERT_EQ(rig.window.History.size(), 1u);
    EXPECT_EQ(rig.window.History[0].Text, "The server is not answering.");
    EXPECT_FALSE(rig.window.History[0].Log);

    // Tick the reconnect timer for twelve minutes and note when attempts were made.
    std::vector<uint32_t> attempts; // seconds since the connection went down
    size_t seen = script.LogOns.size();
    for (uint32_t ms = 500; ms <= 12 * 60 * 1000; ms += 500) {
        clock.Advance(500);
        rig.controller->OnTimer(CChatController::kReconnectTimer);
        if (script.LogOns.size() != seen) {
            seen = script.LogOns.size();
            attempts.push_back(ms / 1000);
        }
    }
    ASSERT_GT(attempts.size(), 10u);
    // "More seconds than the interval": every 6 s in the first minute, 16 s up to five
    // minutes, 31 s up to ten, then 61 s.
    for (size_t i = 1; i < attempts.size(); ++i) {
        uint32_t gap = attempts[i] - attempts[i - 1];
        uint32_t down = attempts[i];
        uint32_t expected = down < 60 ? 6 : down < 300 ? 16 : down < 600 ? 31 : 61;
        EXPECT_EQ(gap, expected) << "attempt after " << down << " s";
    }
    EXPECT_EQ(attempts.front(), 6u);

    // A busy controller or an open dialog holds the retry back; success stops the timer.
    rig.window.DialogOpen = true;
    clock.Advance(120'000);
    rig.controller->OnTimer(CChatController::kReconnectTimer);
    EXPECT_EQ(script.LogOns.size(), seen);
    rig.window.DialogOpen = false;
    script.LogOnOk = true;
    rig.controller->OnTimer(CChatController::kReconnectTimer);
    EXPECT_EQ(script.LogOns.size(), seen + 1);
    EXPECT_FALSE(rig.timers.IsRunning(CChatController::kReconnectTimer));
    EXPECT_EQ(rig.window.States.back(), true);
}

// While down, the reconnect timer sleeps until the next attempt is due instead of waking
// every 500 ms; a dialog holds the attempt back and brings the short period back.
TEST_F(ControllerTest, TheReconnectTimerSleepsUntilTheNextAttempt)
{
    script.LogOnOk = false;
    rig.Start();
    auto period = [&] { return rig.timers.Running[CChatController::kReconnectTimer]; };
    EXPECT_EQ(period(), 500u);
    size_t attempts = script.LogOns.size();

    clock.Advance(500);
    rig.controller->OnTimer(CChatController::kReconnectTimer);
    EXPECT_EQ(period(), 5500u) << "the first retry comes 6 s after the fall";
    EXPECT_EQ(script.LogOns.size(), attempts);

    clock.Advance(5500);
    rig.controller->OnTimer(CChatController::kReconnectTimer);
    EXPECT_EQ(script.LogOns.size(), attempts + 1);
    EXPECT_EQ(period(), 500u);
    clock.Advance(500);
    rig.controller->OnTimer(CChatController::kReconnectTimer);
    EXPECT_EQ(period(), 5500u);

    rig.window.DialogOpen = true;
    clock.Advance(5500);
    rig.controller->OnTimer(CChatController::kReconnectTimer);
    EXPECT_EQ(script.LogOns.size(), attempts + 1);
    EXPECT_EQ(period(), 500u);
}

TEST_F(ControllerTest, ALostConnectionIsTakenDownWithoutDeletingTheTransportUnderItsCall)
{
    rig.Start();
    script.DropInReceive = true;
    rig.Poll();
    EXPECT_TRUE(script.AliveAfterDrop);
    EXPECT_FALSE(controller().Network().IsConnected());
    EXPECT_EQ(rig.window.States, (std::vector<bool>{true, false}));
    EXPECT_TRUE(rig.timers.IsRunning(CChatController::kReconnectTimer));
    EXPECT_TRUE(rig.users.Users().empty());
    rig.Poll(); // the retired transport goes now
    EXPECT_TRUE(ScriptedTransport::Live().empty());
}

TEST_F(ControllerTest, ARenameWhileConnectedDoesNotReconnectAndARefusalStoresTheOldName)
{
    rig.options.Set(Opt::NetworkingType, 2);
    rig.options.Set(Opt::Server, "hub");
    rig.Start();
    ASSERT_EQ(script.LogOns, std::vector<std::string>{"Owen@hub:34300"});

    rig.options.Set(Opt::Username, "Owen R");
    controller().ApplySettings();
    EXPECT_EQ(script.Renames, std::vector<std::string>{"Owen R"});
    EXPECT_EQ(script.LogOns.size(), 1u);
    EXPECT_EQ(controller().Network().Snapshot().UserName, "Owen R");

    script.RenameOk = false;
    rig.options.Set(Opt::Username, "Boss");
    controller().ApplySettings();
    EXPECT_EQ(script.Renames.back(), "Boss");
    EXPECT_EQ(rig.options.Get(Opt::Username), "Owen R");
    EXPECT_EQ(script.LogOns.size(), 1u);
    EXPECT_TRUE(controller().Network().IsConnected());
    EXPECT_TRUE(rig.prompt.Messages.empty());

    // Not connected, a new name logs on afresh.
    controller().Network().Stop();
    rig.options.Set(Opt::Username, "Boss");
    controller().ApplySettings();
    EXPECT_EQ(script.LogOns.back(), "Boss@hub:34300");
}

TEST(RestartFlagsTest, TheOptionsChangeTable)
{
    struct Case
    {
        int oldType, newType;
        bool portChanged, serverChanged;
        bool restartServer, restartClient;
    };
    const Case cases[] = {
        // from peer-to-peer
        {1, 1, false, false, false, false},
        {1, 1, true, true, false, false},
        {1, 2, false, false, false, true},
        {1, 3, false, false, true, true},
        {1, 0, false, false, false, true},
        // to peer-to-peer
        {2, 1, false, false, false, true},
        {3, 1, false, false, true, true},
        {0, 1, false, false, false, true},
        // to server
        {3, 3, false, false, false, false},
        {3, 3, true, false, true, true},
        {3, 3, false, true, false, false},
        {2, 3, false, false, true, true},
        {0, 3, false, false, true, true},
        // to client
        {2, 2, false, false, false, false},
        {2, 2, true, false, false, true},
        {2, 2, false, true, false, true},
        {3, 2, false, false, true, true},
        {0, 2, false, false, false, false},
        // to not configured
        {2, 0, true, true, false, false},
        {3, 0, true, false, false, false},
    };
    for (const Case& c : cases) {
        NetworkSnapshot before{"Owen", static_cast<NetworkingType>(c.oldType), 34300, "hub"};
        NetworkSnapshot now{"Owen", static_cast<NetworkingType>(c.newType),
                            c.portChanged ? 4000 : 34300, c.serverChanged ? "other" : "hub"};
        RestartFlags expected{c.restartServer, c.restartClient};
        EXPECT_EQ(RestartFlagsFor(before, now), expected)
            << c.oldType << " -> " << c.newType << " port " << c.portChanged << " server "
            << c.serverChanged;
    }
    // The server's name compares without regard to case.
    EXPECT_EQ(RestartFlagsFor({"a", NetworkingType::Client, 1, "Hub"},
                              {"a", NetworkingType::Client, 1, "HUB"}),
              (RestartFlags{false, false}));
}

TEST_F(ControllerTest, ApplySettingsRestartsServerAndClientAsTheTableSays)
{
    rig.Start(); // peer-to-peer
    ASSERT_EQ(script.LogOns, std::vector<std::string>{"Owen@peer"});

    // Peer to server while connected: the server comes up and stays up, the client logs
    // on to this computer.
    rig.options.Set(Opt::NetworkingType, 3);
    rig.options.Set(Opt::PortNumber, 4100);
    controller().ApplySettings();
    EXPECT_EQ(rig.factory.LiveServers, 1);
    EXPECT_TRUE(controller().Network().HasServer());
    EXPECT_EQ(script.LogOns.back(), "Owen@127.0.0.1:4100");
    EXPECT_TRUE(controller().Network().IsConnected());
    rig.Poll();
    EXPECT_TRUE(rig.prompt.Messages.empty());

    // Only the server name changed while serving: nothing restarts.
    rig.options.Set(Opt::Server, "elsewhere");
    controller().ApplySettings();
    EXPECT_EQ(rig.factory.ServersMade, 1);
    EXPECT_EQ(script.LogOns.size(), 2u);

    // A port the server cannot use: the failure is shown and nothing stays up.
    rig.options.Set(Opt::PortNumber, 1);
    controller().ApplySettings();
    EXPECT_EQ(Messages(), std::vector<std::string>{"Zib Tam could not listen on port 1."});
    EXPECT_EQ(rig.factory.LiveServers, 0);
    EXPECT_FALSE(controller().Network().IsConnected());
    EXPECT_TRUE(rig.timers.IsRunning(CChatController::kReconnectTimer));

    // Server to client: the server goes.
    rig.options.Set(Opt::PortNumber, 4100);
    controller().ApplySettings();
    rig.options.Set(Opt::NetworkingType, 2);
    controller().ApplySettings();
    EXPECT_EQ(rig.factory.LiveServers, 0);
    EXPECT_EQ(script.LogOns.back(), "Owen@elsewhere:4100");
}

TEST_F(ControllerTest, AnUpgradeOfferIsAnnouncedOnceAndTheLinkFollowsTheOffer)
{
    rig.Start();
    script.Upgrade = "http://hub:34300/setup";
    rig.Poll();
    rig.Poll();
    rig.Poll();
    EXPECT_EQ(rig.window.UpgradeLinks,
              (std::vector<std::pair<bool, std::string>>{{true, "http://hub:34300/setup"}}));
    ASSERT_EQ(rig.window.History.size(), 1u);
    EXPECT_EQ(rig.window.History[0].Text,
              "A Zib Tam upgrade is now available at http://hub:34300/setup.");
    EXPECT_FALSE(rig.window.History[0].Log);
    script.Upgrade.clear();
    rig.Poll();
    EXPECT_EQ(rig.window.UpgradeLinks.back(), (std::pair<bool, std::string>{false, ""}));
    EXPECT_EQ(rig.window.History.size(), 1u);
}

TEST_F(ControllerTest, SendLaterStoresTheMessageAndThePollSendsItOnceWhenDue)
{
    rig.Start();
    rig.window.LaterMoment = kNow + 60;
    rig.users.SelectUsers({"Ann"}, true, false, true);
    std::string typed = "Lunch?";
    EXPECT_TRUE(controller().SendTyped(typed, true));
    EXPECT_EQ(typed, "");
    EXPECT_TRUE(script.Sent.empty());

    for (int i = 0; i < 6000; ++i) { // one minute of 10 ms ticks
        clock.Advance(10);
        rig.Poll();
    }
    EXPECT_TRUE(script.Sent.empty());
    clock.Advance(1000);
    rig.Poll();
    rig.Poll();
    EXPECT_EQ(script.Sent, std::vector<std::string>{"to Ann: Scheduled message: Lunch?"});
    clock.Advance(5000);
    rig.Poll();
    EXPECT_EQ(script.Sent.size(), 1u);

    // For all users it is neither limited by the prompt nor asked about.
    rig.options.Set(Opt::PromptOnAllUsers, 1);
    rig.users.SelectAllUsers();
    rig.prompt.Answers = {PromptAnswer::Yes};
    rig.window.LaterMoment = clock.Now();
    typed = "Meeting\nat two";
    EXPECT_TRUE(controller().SendTyped(typed, true));
    EXPECT_EQ(rig.prompt.Messages.size(), 1u); // asked once, when scheduling
    clock.Advance(1000);
    rig.Poll();
    EXPECT_EQ(script.Sent.back(), "to *: Scheduled message: Meeting\nat two");
    EXPECT_EQ(rig.prompt.Messages.size(), 1u);

    // An empty text is refused with Send Later's own text.
    std::vector<std::string> ann{"Ann"};
    EXPECT_FALSE(controller().Send("", {.Recipients = ann, .Later = true}));
    EXPECT_EQ(rig.prompt.Messages.back().Text, kSendLaterEmptyText);
}

// Polled only when the controller asks, a scheduled message goes out at the start of the
// second after its moment, after a handful of wakes rather than a minute of ticks.
TEST_F(ControllerTest, SendLaterWakesThePollAtItsSecond)
{
    rig.Start();
    clock.Advance(250);
    std::vector<std::string> ann{"Ann"};
    rig.window.LaterMoment = kNow + 60;
    ASSERT_TRUE(controller().Send("Lunch?", {.Recipients = ann, .Later = true}));
    int wakes = 0;
    while (script.Sent.empty() && wakes < 10) {
        CNextWake wake(clock);
        controller().NextWake(wake);
        ASSERT_TRUE(wake.IsSet());
        clock.Advance(wake.Milliseconds());
        rig.Poll();
        ++wakes;
    }
    EXPECT_EQ(script.Sent, std::vector<std::string>{"to Ann: Scheduled message: Lunch?"});
    EXPECT_EQ(clock.Now(), kNow + 61);
    EXPECT_EQ(clock.MillisecondsIntoSecond(), 0u);
    EXPECT_LE(wakes, 3);

    CNextWake idle(clock);
    controller().NextWake(idle);
    EXPECT_FALSE(idle.IsSet()) << idle.Milliseconds();
}

// A message that fell due while the program was off waits for the connection and the
// users it brings, and leaves the store only when it was handed over.
TEST_F(ControllerTest, AMessageDueWhileOffWaitsForTheServerAndStaysStoredUntilSent)
{
    rig.options.Set(Opt::NetworkingType, 2);
    script.KnowsUsers = true;
    script.LogOnOk = false;
    CSendLater store(rig.options, clock);
    std::string error;
    ASSERT_TRUE(store.ScheduleMessage("Lunch?", {"Cyril"}, kNow - 3600, error)) << error;

    // The poll runs before the networking starts, and while the server cannot be reached.
    rig.session.Start();
    rig.Poll();
    controller().OnTimer(CChatController::kStartTimer);
    for (int i = 0; i < 300; ++i) {
        clock.Advance(10);
        rig.Poll();
    }
    EXPECT_TRUE(script.Sent.empty());
    EXPECT_TRUE(store.NextMoment().has_value()) << "the stored copy went before it was sent";
    for (const ChatMessage& shown : rig.window.History)
        EXPECT_EQ(shown.Text.find("could not be sent"), std::string::npos) << shown.Text;

    // The server answers: the log-on brings the users, and the message goes at once.
    script.LogOnOk = true;
    controller().Reconnect();
    ASSERT_TRUE(controller().IsConnected());
    clock.Advance(10);
    rig.Poll();
    EXPECT_EQ(script.Sent, std::vector<std::string>{"to Cyril: Scheduled message: Lunch?"});
    EXPECT_FALSE(store.NextMoment().has_value());
}

// Two copies on a simulated network: what one sends, the other shows, logs, answers.
class TwoCopiesTest : public testing::Test
{
protected:
    TempDir dir;
    CManualClock clock;
    CSimNetwork network{clock};
    ControllerRig owen{dir, "Owen", clock, &network, "OFFICE1"};
    ControllerRig ann{dir, "Ann", clock, &network, "OFFICE2"};

    void SetUp() override
    {
        clock.SetNow(kNow);
        clock.SetTicks(5000);
        owen.options.Set(Opt::PromptOnAllUsers, 0);
        ann.options.Set(Opt::PromptOnAllUsers, 0);
        owen.Start();
        ann.Start();
        Run(1000);
    }
    void Run(uint32_t ms)
    {
        for (uint32_t t = 0; t < ms; t += 10) {
            clock.Advance(10);
            owen.Poll();
            ann.Poll();
        }
    }
};

TEST_F(TwoCopiesTest, AMessageIsShownLoggedAndItsSenderSelected)
{
    ASSERT_EQ(ann.users.Users(), (std::vector<std::string>{"Owen"}));
    owen.users.SelectUsers({"Ann"}, true);
    std::string typed = "Lunch at noon?";
    ASSERT_TRUE(owen.controller->SendTyped(typed, false));
    Run(200);
    ASSERT_EQ(ann.window.History.size(), 1u);
    const ChatMessage& got = ann.window.History[0];
    EXPECT_EQ(got.Sender, "Owen");
    EXPECT_EQ(got.Text, "Lunch at noon?");
    EXPECT_EQ(got.Recipients, std::vector<std::string>{"Ann"});
    EXPECT_FALSE(got.Loopback);
    EXPECT_EQ(ann.log.Written.size(), 1u);
    EXPECT_EQ(ann.window.Notified, std::vector<bool>{false});
    std::vector<std::string> to;
    ASSERT_TRUE(ann.users.GetRecipients(to));
    EXPECT_EQ(to, std::vector<std::string>{"Owen"}); // "DefaultToLastSender" is on

    // Owen's side shows its own copy; a timely acknowledgement needs no report.
    Run(5000);
    EXPECT_EQ(owen.window.Texts(), std::vector<std::string>{"Owen: Lunch at noon?"});

    // While Ann is typing, a message to all users leaves her recipients alone.
    ann.window.Composing = true;
    ann.users.SelectUsers({"Owen"}, true);
    std::vector<std::string> all;
    ASSERT_TRUE(owen.controller->Send("Fire drill at 3", {.Recipients = all}));
    Run(200);
    EXPECT_EQ(ann.window.History.back().Text, "Fire drill at 3");
    EXPECT_EQ(ann.window.Notified.back(), true);
    ASSERT_TRUE(ann.users.GetRecipients(to));
    EXPECT_EQ(to, std::vector<std::string>{"Owen"});
}

TEST_F(TwoCopiesTest, TheAutoResponderAnswersAfterItsDelay)
{
    ann.options.Set(Opt::Turing, 1);
    StoredRule rule{"greeting", "*hello*", {"100%\t2\t2\tHi Owen, I am out today."}};
    ASSERT_TRUE(ann.options.WriteRule(0, rule));
    owen.users.SelectUsers({"Ann"}, true);
    std::string typed = "Oh, hello!";
    ASSERT_TRUE(owen.controller->SendTyped(typed, false));
    Run(1500);
    EXPECT_EQ(owen.window.Texts().back().find("Hi Owen"), std::string::npos);
    Run(1000);
    std::vector<std::string> texts = owen.window.Texts();
    auto answer = std::find(texts.begin(), texts.end(), "Ann: Hi Owen, I am out today.");
    EXPECT_NE(answer, texts.end());
    auto& answered = owen.window.History[static_cast<size_t>(answer - texts.begin())];
    EXPECT_EQ(answered.Recipients, std::vector<std::string>{"Owen"});
}

} // namespace

namespace {

TEST(UsersListModelTest, SelectionFollowsArrivalsDeparturesRenamesAndReplies)
{
    CUsersListModel users;
    std::vector<std::string> to;
    EXPECT_FALSE(users.GetRecipients(to)); // not connected: nothing to choose
    users.OnConnected();
    ASSERT_TRUE(users.GetRecipients(to));
    EXPECT_TRUE(to.empty()); // "(All Users)"
    users.UserArrived("Owen");
    users.UserArrived("ann");
    users.UserArrived("Bob");
    EXPECT_EQ(users.Users(), (std::vector<std::string>{"ann", "Bob", "Owen"}));

    // A departing user who was the only recipient leaves "(All Users)" selected.
    users.SelectUsers({"Bob"}, true);
    users.UserDeparted("Bob");
    ASSERT_TRUE(users.GetRecipients(to));
    EXPECT_TRUE(to.empty());

    // A user who changes his name while selected stays selected under the new name.
    users.SelectUsers({"ann"}, true);
    users.UserRenamed("ann", "Ann B");
    ASSERT_TRUE(users.GetRecipients(to));
    EXPECT_EQ(to, std::vector<std::string>{"Ann B"});

    // Replying to a message from Owen to Owen and the own user selects Owen once.
    ChatMessage message;
    message.Sender = "Owen";
    message.Recipients = {"Owen", "Me"};
    users.SelectSenderOf(message, "Me");
    ASSERT_TRUE(users.GetRecipients(to));
    EXPECT_EQ(to, std::vector<std::string>{"Owen"});

    users.OnDisconnected();
    EXPECT_FALSE(users.GetRecipients(to));
    EXPECT_TRUE(users.Users().empty());
}

// When the one user chosen leaves, the list falls back to everybody: the history says so
// once, so that the next message does not go to all users unnoticed.
TEST_F(TwoCopiesTest, TheOnlyChosenRecipientLeavingIsToldOnce)
{
    owen.users.SetAllUsersAllowed(true);
    ASSERT_EQ(owen.users.SelectUsers({"Ann"}, true), 1);
    ann.controller->Shutdown();
    Run(1000);
    std::vector<std::string> recipients;
    ASSERT_TRUE(owen.users.GetRecipients(recipients));
    EXPECT_TRUE(recipients.empty()); // all users now
    int told = 0;
    for (const ChatMessage& shown : owen.window.History)
        told += shown.Text == std::string("Ann") + CChatController::kRecipientLeft;
    EXPECT_EQ(told, 1) << testing::PrintToString(owen.window.Texts());
}

// Peer-to-peer the users are known only once they answered the log-on's roll call: a
// message that fell due while the program was off goes to its present recipient then.
TEST(DueAtStartTest, AMessageDueWhileOffReachesAPresentPeerAfterTheRollCall)
{
    TempDir dir;
    CManualClock clock;
    clock.SetNow(kNow);
    clock.SetTicks(5000);
    CSimNetwork network{clock};
    ControllerRig ria{dir, "Ria", clock, &network, "OFFICE2"};
    ControllerRig owen{dir, "Owen", clock, &network, "OFFICE1"};
    ria.Start();
    CSendLater store(owen.options, clock);
    std::string error;
    ASSERT_TRUE(store.ScheduleMessage("Lunch?", {"Ria"}, kNow - 3600, error)) << error;

    owen.session.Start();
    owen.Poll();
    owen.controller->OnTimer(CChatController::kStartTimer);
    owen.Poll();
    EXPECT_TRUE(store.NextMoment().has_value()) << "taken before anybody was heard";
    for (int t = 0; t < 5000; t += 10) {
        clock.Advance(10);
        owen.Poll();
        ria.Poll();
    }
    ASSERT_EQ(ria.window.History.size(), 1u) << testing::PrintToString(owen.window.Texts());
    EXPECT_EQ(ria.window.History[0].Text, "Scheduled message: Lunch?");
    EXPECT_FALSE(store.NextMoment().has_value());
    for (const ChatMessage& shown : owen.window.History)
        EXPECT_EQ(shown.Text.find("could not be sent"), std::string::npos) << shown.Text;
}

} // namespace
