#include "net/Transport.h"

#include "PeerTestSupport.h"
#include "TestSupport.h"
#include "net/DeliveryReport.h"
#include "platform/Clock.h"
#include "platform/SqliteRegistry.h"
#include "settings/Options.h"

#include <cstdlib>
#include <ctime>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

// A transport that records what reaches its Do… forms and hands out scripted arrivals.
class ProbeTransport : public CTransport
{
public:
    using CTransport::CTransport;
    std::vector<std::string> SentTo;
    std::string SentText;
    std::vector<ChatMessage> NextArrivals;
    std::string PostDuringReceive;
    bool LogOnResult = true;

    bool DoLogOn(const std::string&, std::string& error) override
    {
        if (!LogOnResult)
            error = "no";
        return LogOnResult;
    }
    bool DoSend(const std::vector<std::string>& recipients, const std::string& text,
                std::string&) override
    {
        SentTo = recipients;
        SentText = text;
        return true;
    }
    bool DoSendToAll(const std::string& text, std::string&) override
    {
        SentText = text;
        return true;
    }
    void Receive(std::vector<ChatMessage>& messages) override
    {
        if (!PostDuringReceive.empty())
            PostSystemMessage(PostDuringReceive, false);
        PostDuringReceive.clear();
        for (const ChatMessage& message : NextArrivals)
            messages.push_back(message);
        NextArrivals.clear();
    }
};

class TransportTest : public ::testing::Test
{
protected:
    RecordingSink sink;
    CFixedUserName names{"Owen"};
    CManualClock clock;
};

TEST_F(TransportTest, NullTransportFailsWithItsSentencesAndNeverCallsTheSink)
{
    CTransport null(&sink, names, clock);
    std::string error;
    EXPECT_FALSE(null.LogOn("Owen", error));
    EXPECT_EQ(error, "Zib Tam could not log on because it is not connected to the network.");
    EXPECT_FALSE(null.ChangeUserName("Bea", error));
    EXPECT_EQ(error,
              "Zib Tam could change your user name because it is not connected to the network.");
    EXPECT_FALSE(null.Send({"Bea"}, "hi", error));
    EXPECT_EQ(error,
              "Zib Tam could not send your message because it is not connected to the network.");
    error.clear();
    EXPECT_FALSE(null.SendToAll("hi", error));
    EXPECT_EQ(error,
              "Zib Tam could not send your message because it is not connected to the network.");
    std::string url;
    EXPECT_FALSE(null.GetUpgradeURL(url));
    EXPECT_EQ(null.GetUserNameOrDefault(), "Owen");
    EXPECT_TRUE(sink.Events.empty());

    // Only what was posted locally comes back.
    std::vector<ChatMessage> messages;
    EXPECT_FALSE(null.GetMessages(messages));
    null.PostSystemMessage("notice", false);
    ASSERT_TRUE(null.GetMessages(messages));
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].Text, "notice");
}

TEST_F(TransportTest, NotLoggedOnItUsesTheStoredUserName)
{
    TempDir dir;
    CSqliteRegistry registry(dir.File("registry.sqlite3"));
    FakeSystemInfo system;
    COptions options(registry, system, false);
    ASSERT_TRUE(options.SetUserName("Stored Owen"));
    COptionsUserName stored(options);
    CTransport null(&sink, stored, clock);
    EXPECT_EQ(null.GetUserNameOrDefault(), "Stored Owen");
    ASSERT_TRUE(options.SetUserName("Renamed"));
    EXPECT_EQ(null.GetUserNameOrDefault(), "Renamed"); // asked at every use
}

TEST_F(TransportTest, MessageToExactlyOneselfIsLoopedBackWithoutTheNetwork)
{
    ProbeTransport transport(&sink, names, clock);
    std::string error;
    ASSERT_TRUE(transport.Send({"OWEN"}, "one\r\ntwo\r", error));
    EXPECT_TRUE(transport.SentTo.empty());

    std::vector<ChatMessage> messages;
    ASSERT_TRUE(transport.GetMessages(messages));
    ASSERT_EQ(messages.size(), 1u);
    const ChatMessage& m = messages[0];
    EXPECT_TRUE(m.Loopback);
    EXPECT_TRUE(m.Log);
    EXPECT_FALSE(m.AllUsers);
    EXPECT_EQ(m.Id, "1");
    EXPECT_EQ(m.Sender, "Owen");
    EXPECT_EQ(m.Text, "one\ntwo");
    EXPECT_EQ(m.Recipients, std::vector<std::string>{"OWEN"});
    EXPECT_EQ(m.Time, MessageTime::From(clock.Now()));
}

TEST_F(TransportTest, OneselfAmongOthersGoesToTheNetworkUnchanged)
{
    ProbeTransport transport(&sink, names, clock);
    std::string error;
    ASSERT_TRUE(transport.Send({"Owen", "Bea"}, "a\r\nb", error));
    EXPECT_EQ(transport.SentTo, (std::vector<std::string>{"Owen", "Bea"}));
    EXPECT_EQ(transport.SentText, "a\nb");
    ASSERT_TRUE(transport.SendToAll("c\r\nd", error));
    EXPECT_EQ(transport.SentText, "c\nd");
}

TEST_F(TransportTest, IdsCountInBase36AndRestartWithEveryTransport)
{
    struct Case
    {
        int Nth;
        const char* Id;
    };
    const Case cases[] = {{1, "1"},   {9, "9"},   {10, "a"},    {35, "z"},
                          {36, "10"}, {37, "11"}, {1296, "100"}};
    ProbeTransport transport(&sink, names, clock);
    int made = 0;
    for (const Case& c : cases) {
        std::string id;
        while (made < c.Nth) {
            id = transport.NewUniqueId();
            ++made;
        }
        EXPECT_EQ(id, c.Id) << c.Nth;
    }
    ProbeTransport again(&sink, names, clock);
    EXPECT_EQ(again.NewUniqueId(), "1");
}

TEST_F(TransportTest, ArrivalsOfAPollComeOneCallLaterAfterWhatThePollPosted)
{
    ProbeTransport transport(&sink, names, clock);
    transport.PostSystemMessage("first", true);
    ChatMessage arrived;
    arrived.Sender = "Bea";
    arrived.Text = "from Bea";
    transport.NextArrivals = {arrived};
    transport.PostDuringReceive = "report";

    std::vector<ChatMessage> messages;
    ASSERT_TRUE(transport.GetMessages(messages));
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].Text, "first");

    ASSERT_TRUE(transport.GetMessages(messages));
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0].Text, "report");
    EXPECT_EQ(messages[1].Text, "from Bea");
    EXPECT_FALSE(transport.GetMessages(messages));
}

TEST_F(TransportTest, SystemMessageIsAddressedToTheUserFromZibTam)
{
    ProbeTransport transport(&sink, names, clock);
    transport.PostSystemMessage("a\r\nb", false);
    std::vector<ChatMessage> messages;
    transport.GetMessages(messages);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].Sender, "Zib Tam");
    EXPECT_EQ(messages[0].Recipients, std::vector<std::string>{"Owen"});
    EXPECT_EQ(messages[0].Text, "a\nb");
    EXPECT_FALSE(messages[0].Log);
    EXPECT_FALSE(messages[0].Loopback);
    EXPECT_FALSE(messages[0].AllUsers);
    EXPECT_TRUE(messages[0].Time.IsUsable());
}

TEST_F(TransportTest, LogOnMarksTheSinkConnectedOnlyOnSuccess)
{
    ProbeTransport failing(&sink, names, clock);
    failing.LogOnResult = false;
    std::string error;
    EXPECT_FALSE(failing.LogOn("Owen", error));
    EXPECT_TRUE(sink.Events.empty());
    ProbeTransport working(&sink, names, clock);
    EXPECT_TRUE(working.LogOn("Owen", error));
    EXPECT_EQ(sink.Events, std::vector<std::string>{"connected"});
}

TEST_F(TransportTest, SinkKeepsItsConnectedMark)
{
    sink.NotifyUserArrived("Bea");
    sink.NotifyConnected();
    sink.NotifyUserRenamed("Bea", "Ann");
    sink.NotifyUserDeparted("Ann");
    sink.NotifyDisconnected();
    sink.NotifyDisconnected();
    sink.NotifyUserArrived("Cy");
    EXPECT_EQ(sink.Events, (std::vector<std::string>{"connected", "+Bea", "Bea>Ann", "-Ann",
                                                     "disconnected", "connected", "+Cy"}));
}

class DeliveryReportTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const char* tz = std::getenv("TZ");
        m_oldTz = tz ? tz : "";
        m_hadTz = tz != nullptr;
        setenv("TZ", "UTC", 1);
        tzset();
    }
    void TearDown() override
    {
        if (m_hadTz)
            setenv("TZ", m_oldTz.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

private:
    std::string m_oldTz;
    bool m_hadTz = false;
};

TEST_F(DeliveryReportTest, Excerpts)
{
    struct Case
    {
        const char* Text;
        const char* Excerpt;
    };
    const Case cases[] = {
        {"1234567890123456789012345", "1234567890123456789012345"},  // 25: whole
        {"12345678901234567890123456", "1234567890123456789012..."}, // 26, no blank
        {"Meeting moved to room 4 this afternoon", "Meeting moved to room..."},
        {"Hi\nand a lot more text after that line", "..."},
        {"Hello there\nand a lot more text after that", "Hello..."},
        {"123456789012345678901234567890", "1234567890123456789012..."},
        {"\n\n  Lunch is at noon in the big hall today", "Lunch is at noon in..."},
        {"short\n", "short\n"},
        {"a                         b", "a..."}, // trailing blanks go
    };
    for (const Case& c : cases)
        EXPECT_EQ(MessageExcerpt(c.Text), c.Excerpt) << c.Text;
}

TEST_F(DeliveryReportTest, DescriptionsAndReports)
{
    struct Case
    {
        std::time_t When;
        const char* Clock;
    };
    const Case clocks[] = {{15 * 3600 + 7 * 60 + 45, "3:07:45 PM"},
                           {0, "12:00:00 AM"},
                           {12 * 3600 + 5, "12:00:05 PM"},
                           {9 * 3600 + 59 * 60 + 59, "9:59:59 AM"}};
    for (const Case& c : clocks)
        EXPECT_EQ(FormatClockTime(c.When), c.Clock);

    std::string description = FormatSentDescription("Owen", 15 * 3600 + 7 * 60 + 45,
                                                    "Meeting moved to room 4 this afternoon");
    EXPECT_EQ(description, "to Owen at 3:07:45 PM (\"Meeting moved to room...\")");
    EXPECT_EQ(FormatDeliveryReport(true, description),
              "Zib Tam has good news for you!  The message you sent to Owen at 3:07:45 PM "
              "(\"Meeting moved to room...\") was delivered successfully.");
    EXPECT_EQ(FormatDeliveryReport(false, description),
              "Zib Tam could not confirm that the message you sent to Owen at 3:07:45 PM "
              "(\"Meeting moved to room...\") was delivered successfully.");
}

} // namespace
