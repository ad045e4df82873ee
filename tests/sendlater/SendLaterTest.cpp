#include "sendlater/SendLater.h"

#include "../support/TestSupport.h"
#include "platform/Clock.h"
#include "platform/SqliteRegistry.h"
#include "settings/Options.h"

#include <functional>
#include <gtest/gtest.h>

namespace {

// A real store whose writes can be made to fail, and which can run something just
// after a value listing (to stand for another process polling at the same moment).
class HookedRegistry : public IRegistry
{
public:
    explicit HookedRegistry(IRegistry& inner) : m_inner(inner) {}
    bool FailWrites = false;
    bool FailOpen = false;
    std::function<void()> AfterEnum;

    RegKeyId OpenKey(const std::string& path, bool create) override
    {
        return FailOpen && path.find("SendLater") != std::string::npos
                   ? 0
                   : m_inner.OpenKey(path, create);
    }
    bool DeleteKey(const std::string& path) override { return m_inner.DeleteKey(path); }
    std::optional<RegValue> QueryValue(RegKeyId key, const std::string& name) override
    {
        return m_inner.QueryValue(key, name);
    }
    bool SetNumber(RegKeyId key, const std::string& name, uint32_t value) override
    {
        return !FailWrites && m_inner.SetNumber(key, name, value);
    }
    bool SetString(RegKeyId key, const std::string& name, const std::string& value) override
    {
        return !FailWrites && m_inner.SetString(key, name, value);
    }
    bool DeleteValue(RegKeyId key, const std::string& name) override
    {
        return m_inner.DeleteValue(key, name);
    }
    std::vector<RegValue> EnumValues(RegKeyId key) override
    {
        auto values = m_inner.EnumValues(key);
        if (auto hook = std::exchange(AfterEnum, nullptr))
            hook();
        return values;
    }
    std::vector<std::string> EnumSubkeys(RegKeyId key) override { return m_inner.EnumSubkeys(key); }

private:
    IRegistry& m_inner;
};

constexpr std::time_t kNow = 1'700'000'000;

class SendLaterTest : public ::testing::Test
{
protected:
    TempDir dir;
    CSqliteRegistry sqlite{dir.File("registry.sqlite3")};
    HookedRegistry registry{sqlite};
    FakeSystemInfo system;
    COptions options{registry, system, false};
    CManualClock clock;
    CSendLater later{options, clock};

    void SetUp() override { clock.SetNow(kNow); }

    CRegKey Key(bool create = true) { return CRegKey(sqlite, later.KeyPath(), create); }

    std::vector<std::pair<std::string, std::string>> Stored()
    {
        std::vector<std::pair<std::string, std::string>> values;
        for (const auto& v : Key(false).Values())
            values.emplace_back(v.Name, v.Text);
        return values;
    }

    void Schedule(const std::string& text, const std::vector<std::string>& to, std::time_t at)
    {
        std::string error;
        ASSERT_TRUE(later.ScheduleMessage(text, to, at, error)) << error;
        EXPECT_EQ(error, "");
    }
};

TEST_F(SendLaterTest, StoresMomentRecipientsSeparatorAndPrefixedText)
{
    Schedule("Lunch?", {"Owen"}, kNow + 60);
    Schedule("Meeting\nat two", {"Ann", "Bob"}, kNow + 120);
    Schedule("Hello all", {}, kNow);
    EXPECT_EQ(Stored(), (std::vector<std::pair<std::string, std::string>>{
                            {"1", "1700000060\nOwen\n\nScheduled message: Lunch?"},
                            {"2", "1700000120\nAnn\nBob\n\nScheduled message: Meeting\nat two"},
                            {"3", "1700000000\n\nScheduled message: Hello all"},
                        }));
}

TEST_F(SendLaterTest, TakesTheSmallestFreeNumber)
{
    Schedule("one", {}, kNow + 10);
    Schedule("two", {}, kNow + 1000);
    clock.SetNow(kNow + 11);
    std::vector<std::string> to;
    std::string text;
    ASSERT_TRUE(later.GetDueMessage(to, text));
    EXPECT_EQ(text, "Scheduled message: one");

    Schedule("three", {}, kNow + 1000);
    EXPECT_TRUE(Key().Query("1"));
    EXPECT_EQ(Key().GetString("1"), "1700001000\n\nScheduled message: three");

    // An empty value or one of the wrong type is a free place too.
    Key().SetString("3", "");
    Key().SetNumber("4", 5);
    Schedule("four", {}, kNow + 1000);
    Schedule("five", {}, kNow + 1000);
    EXPECT_EQ(Key().GetString("3"), "1700001000\n\nScheduled message: four");
    EXPECT_EQ(Key().GetString("4"), "1700001000\n\nScheduled message: five");
}

TEST_F(SendLaterTest, EmptyTextIsRefusedBeforeTheMomentIsAsked)
{
    bool asked = false;
    std::string error;
    EXPECT_FALSE(later.ScheduleMessage(
        "", {"Owen"}, [&](std::time_t&) { return asked = true; }, error));
    EXPECT_FALSE(asked);
    EXPECT_EQ(error, "Please type your message before choosing \"Send Later\".");
    EXPECT_FALSE(later.ScheduleMessage("", {}, kNow, error));
    EXPECT_EQ(error, kSendLaterEmptyText);
    EXPECT_TRUE(Stored().empty());
}

TEST_F(SendLaterTest, CancelledMomentStoresNothingAndSaysNothing)
{
    std::string error = "stale";
    EXPECT_FALSE(later.ScheduleMessage(
        "Hi", {"Owen"}, [](std::time_t&) { return false; }, error));
    EXPECT_EQ(error, "");
    EXPECT_TRUE(Stored().empty());

    EXPECT_TRUE(later.ScheduleMessage(
        "Hi", {"Owen"},
        [](std::time_t& moment) {
            moment = kNow + 5;
            return true;
        },
        error));
    EXPECT_EQ(Stored().size(), 1u);
}

TEST_F(SendLaterTest, StoreThatCannotBeWrittenIsReported)
{
    std::string error;
    registry.FailOpen = true;
    EXPECT_FALSE(later.ScheduleMessage("Hi", {}, kNow, error));
    EXPECT_EQ(error, "The feature requires registry access.");

    // The key opens but the value does not land: not reported as scheduled.
    registry.FailOpen = false;
    Key();
    registry.FailWrites = true;
    EXPECT_FALSE(later.ScheduleMessage("Hi", {}, kNow, error));
    EXPECT_EQ(error, kSendLaterNoRegistryText);
    EXPECT_TRUE(Stored().empty());
}

TEST_F(SendLaterTest, DueOnlyOnceTheMomentHasPassed)
{
    Schedule("now", {"Owen"}, kNow); // a delay of 0 hours and 0 minutes
    std::vector<std::string> to = {"kept"};
    std::string text = "kept";
    EXPECT_FALSE(later.GetDueMessage(to, text));
    EXPECT_EQ(to, std::vector<std::string>{"kept"});
    EXPECT_EQ(text, "kept");

    clock.Advance(1000);
    ASSERT_TRUE(later.GetDueMessage(to, text));
    EXPECT_EQ(to, std::vector<std::string>{"Owen"});
    EXPECT_EQ(text, "Scheduled message: now");
    EXPECT_FALSE(later.GetDueMessage(to, text));
    EXPECT_TRUE(Stored().empty());
}

TEST_F(SendLaterTest, RoundTripKeepsRecipientsAndLineBreaks)
{
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{}, "to everyone"},
        {{"Owen"}, "Lunch?"},
        {{"Ann", "Bob", "Cy Dee"}, "line 1\nline 2\n\nline 4\n"},
        {{"Owen"}, "\n"},
    };
    for (const auto& [recipients, text] : cases)
        Schedule(text, recipients, kNow - 1);
    for (const auto& [recipients, text] : cases) {
        std::vector<std::string> to = {"stale"};
        std::string got;
        ASSERT_TRUE(later.GetDueMessage(to, got));
        EXPECT_EQ(to, recipients);
        EXPECT_EQ(got, kScheduledPrefix + text);
    }
}

TEST_F(SendLaterTest, FirstDueValueInStoreOrderIsTaken)
{
    Schedule("later", {}, kNow + 100);
    Schedule("second", {}, kNow - 5);
    Schedule("third", {}, kNow - 50);
    std::vector<std::string> to;
    std::string text;
    ASSERT_TRUE(later.GetDueMessage(to, text));
    EXPECT_EQ(text, "Scheduled message: second");
    ASSERT_TRUE(later.GetDueMessage(to, text));
    EXPECT_EQ(text, "Scheduled message: third");
    EXPECT_FALSE(later.GetDueMessage(to, text));
    EXPECT_EQ(Stored().size(), 1u);
}

TEST_F(SendLaterTest, MalformedValuesAreDeletedAndTheScanGoesOn)
{
    const char* malformed[] = {"",          "\n\nScheduled message: x",
                               "abc\n\nx",  " 12\n\nx",
                               "-5\n\nx",   "+5\n\nx",
                               "12a\n\nx",  "1.5\n\nx",
                               "\xB2\n\nx", "12\r\n\nx"};
    CRegKey key = Key();
    int n = 0;
    for (const char* value : malformed)
        key.SetString("bad" + std::to_string(++n), value);
    key.SetNumber("number", 12);
    key.SetString("future", "1800000000\n\nx");
    key.SetString("due", "12\nOwen\n\nhello");

    std::vector<std::string> to;
    std::string text;
    ASSERT_TRUE(later.GetDueMessage(to, text));
    EXPECT_EQ(to, std::vector<std::string>{"Owen"});
    EXPECT_EQ(text, "hello");
    EXPECT_EQ(Stored(),
              (std::vector<std::pair<std::string, std::string>>{{"future", "1800000000\n\nx"}}));
}

TEST_F(SendLaterTest, DueValueWithoutSeparatorIsDroppedUnsent)
{
    CRegKey key = Key();
    key.SetString("1", "12\nOwen");   // no empty line: nothing to send
    key.SetString("2", "1800000000"); // not due: left alone
    key.SetString("3", "13\n\nsecond");
    std::vector<std::string> to;
    std::string text;
    EXPECT_FALSE(later.GetDueMessage(to, text));
    EXPECT_FALSE(key.Query("1"));
    ASSERT_TRUE(later.GetDueMessage(to, text));
    EXPECT_EQ(text, "second");
    EXPECT_TRUE(key.Query("2"));
}

TEST_F(SendLaterTest, HugeMomentIsNeverDueButKept)
{
    Key().SetString("1", "99999999999999999999999999\n\nx");
    std::vector<std::string> to;
    std::string text;
    EXPECT_FALSE(later.GetDueMessage(to, text));
    EXPECT_EQ(Stored().size(), 1u);
}

TEST_F(SendLaterTest, NoKeyMeansNothingDueAndNoKeyCreated)
{
    std::vector<std::string> to;
    std::string text;
    EXPECT_FALSE(later.GetDueMessage(to, text));
    EXPECT_FALSE(Key(false).IsOpen());
}

// Two copies of the program polling one store: the one whose deletion lands sends.
TEST_F(SendLaterTest, TwoPollersNeverBothTakeOneMessage)
{
    Schedule("once", {"Owen"}, kNow - 1);
    CSqliteRegistry otherStore(dir.File("registry.sqlite3"));
    COptions otherOptions(otherStore, system, false);
    CSendLater other(otherOptions, clock);

    std::vector<std::string> to, otherTo;
    std::string text, otherText;
    bool otherTook = false;
    registry.AfterEnum = [&] { otherTook = other.GetDueMessage(otherTo, otherText); };
    EXPECT_FALSE(later.GetDueMessage(to, text));
    EXPECT_TRUE(otherTook);
    EXPECT_EQ(otherText, "Scheduled message: once");
}

TEST_F(SendLaterTest, SurvivesARestartAndIsSentOnce)
{
    std::string path = dir.File("restart.sqlite3");
    {
        CSqliteRegistry store(path);
        COptions opts(store, system, false);
        CSendLater first(opts, clock);
        std::string error;
        ASSERT_TRUE(first.ScheduleMessage("after restart", {"Owen"}, kNow + 30, error));
    }
    clock.SetNow(kNow + 31);
    CSqliteRegistry store(path);
    COptions opts(store, system, false);
    CSendLater second(opts, clock);
    std::vector<std::string> to;
    std::string text;
    ASSERT_TRUE(second.GetDueMessage(to, text));
    EXPECT_EQ(text, "Scheduled message: after restart");
    EXPECT_FALSE(second.GetDueMessage(to, text));
}

TEST(ScheduledValue, ParseTable)
{
    struct Case
    {
        std::string Value;
        ScheduledParse Result;
        std::time_t Moment;
        std::vector<std::string> Recipients;
        std::string Text;
    };
    const Case cases[] = {
        {"", ScheduledParse::Malformed, 0, {}, ""},
        {"\n", ScheduledParse::Malformed, 0, {}, ""},
        {"x\n\ny", ScheduledParse::Malformed, 0, {}, ""},
        {"5", ScheduledParse::NoSeparator, 5, {}, ""},
        {"5\nA\nB", ScheduledParse::NoSeparator, 5, {"A", "B"}, ""},
        {"5\n", ScheduledParse::Ok, 5, {}, ""},
        {"5\n\n", ScheduledParse::Ok, 5, {}, ""},
        {"5\n\n\n", ScheduledParse::Ok, 5, {}, "\n"},
        {"007\nA\n\nt\n\nu", ScheduledParse::Ok, 7, {"A"}, "t\n\nu"},
    };
    for (const auto& c : cases) {
        ScheduledMessage m;
        EXPECT_EQ(ParseScheduledValue(c.Value, m), c.Result) << "value \"" << c.Value << "\"";
        if (c.Result == ScheduledParse::Malformed)
            continue;
        EXPECT_EQ(m.Moment, c.Moment) << "value \"" << c.Value << "\"";
        EXPECT_EQ(m.Recipients, c.Recipients) << "value \"" << c.Value << "\"";
        EXPECT_EQ(m.Text, c.Text) << "value \"" << c.Value << "\"";
    }
}

} // namespace
