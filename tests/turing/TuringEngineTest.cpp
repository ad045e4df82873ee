#include "turing/TuringEngine.h"

#include "TuringStore.h"
#include "platform/Clock.h"
#include "platform/Random.h"

#include <deque>
#include <gtest/gtest.h>

namespace {

// Hands out the draws a test lines up; 0 when it runs out.
class ScriptedRandom : public IRandom
{
public:
    std::deque<int> Draws;
    int Calls = 0;
    int Next() override
    {
        ++Calls;
        if (Draws.empty())
            return 0;
        int draw = Draws.front();
        Draws.pop_front();
        return draw;
    }
};

ChatMessage Incoming(const std::string& text, const std::string& sender = "Owen",
                     bool allUsers = false)
{
    ChatMessage message;
    message.Sender = sender;
    message.Text = text;
    message.AllUsers = allUsers;
    if (!allUsers)
        message.Recipients = {"me"};
    return message;
}

class TuringEngineTest : public ::testing::Test
{
protected:
    TuringStore store;
    CManualClock clock;
    ScriptedRandom random;
    CTuringEngine engine{store.options, clock, random};

    // Takes every due answer as "recipients|text" lines.
    std::vector<std::string> TakeAll()
    {
        std::vector<std::string> taken;
        std::vector<std::string> recipients;
        std::string text;
        while (engine.TakeDueAnswer(recipients, text)) {
            std::string line;
            for (const auto& name : recipients)
                line += name + ",";
            taken.push_back(line + "|" + text);
        }
        return taken;
    }
};

TEST_F(TuringEngineTest, DrawChoosesByRunningSumOfProbabilities)
{
    store.StoreRule(0, "*", {"30%\t0\t0\tfirst", "20%\t0\t0\tsecond", "0%\t0\t0\tnever"});
    const std::pair<int, const char*> cases[] = {
        {0, "first"},  {29, "first"}, {30, "second"}, {49, "second"},
        {50, nullptr}, {99, nullptr}, {129, "first"}, {32767, nullptr}, // 32767 mod 100 = 67
    };
    for (const auto& [draw, expected] : cases) {
        random.Draws = {draw};
        engine.ProcessMessage(Incoming("hi"));
        clock.Advance(1);
        auto taken = TakeAll();
        if (expected)
            EXPECT_EQ(taken, std::vector<std::string>{std::string("Owen,|") + expected})
                << "draw " << draw;
        else
            EXPECT_TRUE(taken.empty()) << "draw " << draw;
    }
}

TEST_F(TuringEngineTest, OnlyTheFirstMatchingRuleCounts)
{
    store.StoreRule(0, "*hello*", {"50%\t0\t0\tfrom rule 1"});
    store.StoreRule(1, "*", {"100%\t0\t0\tfrom rule 2"});

    random.Draws = {10};
    engine.ProcessMessage(Incoming("Oh, hello!"));
    random.Draws = {70}; // no answer from rule 1, and rule 2 is not tried
    engine.ProcessMessage(Incoming("hello again"));
    random.Draws = {70};
    engine.ProcessMessage(Incoming("bye"));
    clock.Advance(1);
    EXPECT_EQ(TakeAll(), (std::vector<std::string>{"Owen,|from rule 1", "Owen,|from rule 2"}));
}

TEST_F(TuringEngineTest, RuleWithoutResponsesNeverAnswersAndStopsTheSearch)
{
    store.StoreRule(0, "*", {});
    store.StoreRule(1, "*", {"100%\t0\t0\tx"});
    engine.ProcessMessage(Incoming("hi"));
    clock.Advance(1000);
    EXPECT_TRUE(TakeAll().empty());
}

TEST_F(TuringEngineTest, AnswersGoToSenderOrToAllUsers)
{
    store.StoreRule(0, "*", {"100%\t0\t0\tHi"});
    engine.ProcessMessage(Incoming("to everyone", "Ann", true));
    engine.ProcessMessage(Incoming("to me and others", "Bob"));
    // The program's own notices arrive like any other message.
    engine.ProcessMessage(Incoming("Owen could not be reached.", "Zib Tam"));
    clock.Advance(1);

    std::vector<std::string> recipients = {"stale"};
    std::string text;
    ASSERT_TRUE(engine.TakeDueAnswer(recipients, text));
    EXPECT_TRUE(recipients.empty());
    EXPECT_EQ(text, "Hi");
    ASSERT_TRUE(engine.TakeDueAnswer(recipients, text));
    EXPECT_EQ(recipients, std::vector<std::string>{"Bob"});
    ASSERT_TRUE(engine.TakeDueAnswer(recipients, text));
    EXPECT_EQ(recipients, std::vector<std::string>{"Zib Tam"});

    // A message to named users without a sender is not answered to everyone.
    engine.ProcessMessage(Incoming("who sent this?", ""));
    clock.Advance(1);

    recipients = {"kept"};
    text = "kept";
    EXPECT_FALSE(engine.TakeDueAnswer(recipients, text));
    EXPECT_EQ(recipients, std::vector<std::string>{"kept"});
    EXPECT_EQ(text, "kept");
}

struct DelayCase
{
    const char* Response;
    int DelayDraw;
    uint32_t ExpectedDelay; // milliseconds
};

TEST_F(TuringEngineTest, DelayIsLowPlusBoundedRandomPart)
{
    const DelayCase cases[] = {
        {"100%\t5\t5\tx", 12345, 5000}, // equal delays draw nothing
        {"100%\t0\t0\tx", 12345, 0},
        {"100%\t0\t900\tx", 32767, 32767}, // the random part is 15 bits at most
        {"100%\t0\t900\tx", 0, 0},
        {"100%\t2\t3\tx", 1500, 2500},
        {"100%\t2\t3\tx", 32767, 2767}, // 32767 mod 1000
    };
    for (const auto& c : cases) {
        TuringStore fresh;
        fresh.StoreRule(0, "*", {c.Response});
        CManualClock start;
        start.SetTicks(1000);
        ScriptedRandom draws;
        draws.Draws = {0, c.DelayDraw};
        CTuringEngine e(fresh.options, start, draws);
        e.ProcessMessage(Incoming("hi"));
        ASSERT_EQ(e.Pending().size(), 1u) << c.Response;
        EXPECT_EQ(e.Pending()[0].DueTick, 1000 + c.ExpectedDelay) << c.Response;
        bool drewDelay = std::string(c.Response).find("\t5\t5") == std::string::npos &&
                         std::string(c.Response).find("\t0\t0") == std::string::npos;
        EXPECT_EQ(draws.Calls, drewDelay ? 2 : 1) << c.Response;
    }
}

TEST_F(TuringEngineTest, AnswerIsDueStrictlyAfterItsTick)
{
    store.StoreRule(0, "*", {"100%\t5\t5\tlater", "0%\t0\t0\tx"});
    engine.ProcessMessage(Incoming("hi"));
    clock.Advance(5000);
    EXPECT_TRUE(TakeAll().empty());
    clock.Advance(1);
    EXPECT_EQ(TakeAll().size(), 1u);

    store.StoreRule(0, "*", {"100%\t0\t0\tnow"});
    engine.MarkRulesChanged();
    engine.ProcessMessage(Incoming("hi"));
    EXPECT_TRUE(TakeAll().empty()); // not at the same tick
    clock.Advance(1);
    EXPECT_EQ(TakeAll().size(), 1u);
}

TEST_F(TuringEngineTest, DueAnswersLeaveInScheduledOrderNotDueOrder)
{
    store.StoreRule(0, "slow", {"100%\t3\t3\tslow"});
    store.StoreRule(1, "fast", {"100%\t1\t1\tfast"});
    engine.ProcessMessage(Incoming("slow"));
    engine.ProcessMessage(Incoming("fast"));
    clock.Advance(1500);
    EXPECT_EQ(TakeAll(), std::vector<std::string>{"Owen,|fast"});
    engine.ProcessMessage(Incoming("fast"));
    clock.Advance(2000);
    EXPECT_EQ(TakeAll(), (std::vector<std::string>{"Owen,|slow", "Owen,|fast"}));
}

// The tick counter wraps after 49 days; an answer scheduled across the wrap is neither
// sent at once nor held back until the counter comes round again.
TEST_F(TuringEngineTest, TickWrapDoesNotReleaseEarlyOrHoldBack)
{
    store.StoreRule(0, "*", {"100%\t2\t2\tacross the wrap"});
    clock.SetTicks(0xFFFFFFFFu - 999);
    engine.ProcessMessage(Incoming("hi"));
    EXPECT_EQ(engine.Pending()[0].DueTick, 1000u);
    EXPECT_TRUE(TakeAll().empty());
    clock.Advance(1000); // ticks 0
    EXPECT_TRUE(TakeAll().empty());
    clock.Advance(1001);
    EXPECT_EQ(TakeAll().size(), 1u);

    clock.SetTicks(0x7FFFFFF0u);
    engine.ProcessMessage(Incoming("hi"));
    clock.Advance(2001); // past 2^31
    EXPECT_EQ(TakeAll().size(), 1u);
}

TEST_F(TuringEngineTest, RulesAreReadAtFirstMessageAndAfterMarkRulesChanged)
{
    EXPECT_TRUE(engine.IsReloadPending());
    store.StoreRule(0, "*", {"100%\t10\t10\told rule"});
    engine.ProcessMessage(Incoming("hi"));
    EXPECT_FALSE(engine.IsReloadPending());
    ASSERT_EQ(engine.Rules().size(), 1u);

    // A change in the store is not seen until MarkRulesChanged.
    store.StoreRule(0, "*", {"100%\t0\t0\tnew rule"});
    engine.ProcessMessage(Incoming("hi"));
    clock.Advance(1);
    EXPECT_TRUE(TakeAll().empty());

    engine.MarkRulesChanged();
    EXPECT_EQ(engine.Pending().size(), 2u); // waiting answers survive the reload
    engine.ProcessMessage(Incoming("hi"));
    clock.Advance(1);
    EXPECT_EQ(TakeAll(), std::vector<std::string>{"Owen,|new rule"});
    clock.Advance(10000);
    EXPECT_EQ(TakeAll(), (std::vector<std::string>{"Owen,|old rule", "Owen,|old rule"}));
}

TEST_F(TuringEngineTest, SwitchedOffAnswersNothingUntilReloadedSwitchedOn)
{
    store.StoreRule(0, "*", {"100%\t0\t0\tHi"});
    store.options.Set(Opt::Turing, 0);
    engine.ProcessMessage(Incoming("hi"));
    EXPECT_TRUE(engine.Rules().empty());
    store.options.Set(Opt::Turing, 1);
    engine.ProcessMessage(Incoming("hi"));
    clock.Advance(1);
    EXPECT_TRUE(TakeAll().empty());
    EXPECT_EQ(random.Calls, 0);

    engine.MarkRulesChanged();
    engine.ProcessMessage(Incoming("hi"));
    clock.Advance(1);
    EXPECT_EQ(TakeAll().size(), 1u);
}

TEST_F(TuringEngineTest, ConditionMatchesWholeTextOnly)
{
    store.StoreRule(0, "hello", {"100%\t0\t0\tHi"});
    for (const char* text : {"Hello", "HELLO", "hello there", "", "hello\n"})
        engine.ProcessMessage(Incoming(text, text));
    clock.Advance(1);
    EXPECT_EQ(TakeAll(), (std::vector<std::string>{"Hello,|Hi", "HELLO,|Hi"}));
}

} // namespace
