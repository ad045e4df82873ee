// Hostile and broken peers: the server keeps serving everybody else, loses nothing for
// healthy clients and keeps its memory bounded.
#include "ServerTestSupport.h"
#include "net/ProtocolDocument.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <sys/resource.h>

namespace {

class ServerRobustnessTest : public ::testing::Test, public ServerFixtureBase
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(Started);
        Owen = std::make_unique<TestClient>(Clock, "127.0.0.1", Port, "Owen");
        Rt = std::make_unique<TestClient>(Clock, "127.0.0.1", Port, "RT");
        ASSERT_TRUE(Owen->LogOn("Owen"));
        ASSERT_TRUE(Rt->LogOn("RT"));
        ASSERT_TRUE(Settle([&] { return Owen->Knows({"RT"}) && Rt->Knows({"Owen"}); }));
    }

    // Healthy clients still exchange messages, every one of them delivered and confirmed.
    void ExpectHealthyTraffic(int count)
    {
        std::string error;
        int notices = Owen->CountFrom("Zib Tam");
        for (int i = 0; i < count; ++i) {
            std::string text = "still there " + std::to_string(m_round) + "/" + std::to_string(i);
            ASSERT_TRUE(Owen->Client->Send({"RT"}, text, error)) << error;
        }
        int expected = count;
        int round = m_round++;
        ASSERT_TRUE(Settle(
            [&] {
                int got = 0;
                Rt->Drain();
                for (auto& m : Rt->Messages)
                    got += m.Text.rfind("still there " + std::to_string(round) + "/", 0) == 0;
                Owen->Drain();
                for (auto& [id, pending] : Owen->Client->PendingReceipts())
                    if (pending.Message.Text.rfind("still there " + std::to_string(round) + "/",
                                                   0) == 0)
                        return false; // not every receipt is back yet
                return got == expected;
            },
            10000));
        EXPECT_EQ(Owen->CountFrom("Zib Tam"), notices);
        EXPECT_TRUE(Owen->Client->IsConnected());
        EXPECT_TRUE(Rt->Client->IsConnected());
    }

    std::unique_ptr<TestClient> Owen;
    std::unique_ptr<TestClient> Rt;
    int m_round = 0;
};

// Streams that are not ours: each one ends its own connection and nothing else.
TEST_F(ServerRobustnessTest, BrokenStreamsOnlyEndTheirOwnConnection)
{
    struct Case
    {
        const char* What;
        std::string Bytes;
        bool Closed; // the server hangs up (otherwise it ignores the input)
    };
    const Case cases[] = {
        {"huge Content-Length", "Server: x\r\nContent-Length: 99999999999\n\n", true},
        {"negative Content-Length", "Content-Length: -5\n\nabc", true},
        {"non-numeric Content-Length", "Content-Length: lots\n\n", true},
        {"a header that never ends", std::string(40000, 'x'), true},
        {"binary garbage",
         std::string("\x00\xff\x01\n\n\x7f", 6) + std::string(3000, '\x80') + "\n\n", false},
        {"a body that is not XML", "Content-Length: 9\n\nnot <xml", false},
        {"an unknown root element", "Content-Length: 33\n\n<?xml version=\"1.0\"?>\n<ghost/>\n",
         false},
        {"a message with no fields", "Content-Length: 32\n\n<?xml version=\"1.0\"?>\n<message/>",
         false},
        {"a request line that is not GET", "POST /upgrade HTTP/1.1\r\nHost: x\r\n\r\n", false},
    };
    for (const Case& c : cases) {
        RawPeer peer(Port);
        ASSERT_TRUE(peer.Send(c.Bytes)) << c.What;
        if (c.Closed) {
            EXPECT_TRUE(peer.WaitClosed()) << c.What;
        } else {
            PumpFor(30);
            peer.ReadAvailable();
            EXPECT_FALSE(peer.Eof()) << c.What;
            EXPECT_EQ(peer.Received, "") << c.What;
        }
    }
    ExpectHealthyTraffic(20);
}

TEST_F(ServerRobustnessTest, FiveHundredConnectionsOpenedAndDroppedAtOnce)
{
    // Both ends live in this process: a thousand descriptors and some.
    rlimit limit{};
    ::getrlimit(RLIMIT_NOFILE, &limit);
    if (limit.rlim_cur < 1100) {
        limit.rlim_cur = std::min<rlim_t>(limit.rlim_max, 4096);
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
    if (limit.rlim_cur < 1100)
        GTEST_SKIP() << "the descriptor limit (" << limit.rlim_cur << ") is below 1100";
    {
        std::vector<std::unique_ptr<RawPeer>> crowd;
        for (int i = 0; i < 500; ++i)
            crowd.push_back(std::make_unique<RawPeer>(Port));
        // Half of them log on, so that their departure changes the lists too.
        for (int i = 0; i < 500; i += 2)
            crowd[i]->Send(FormatDocumentFrame(
                ProtocolDocument::MakeLoginRequest("crowd" + std::to_string(i))));
        ASSERT_TRUE(Settle([&] { return Server.ConnectionCount() == 502; }, 10000));
        ASSERT_TRUE(Settle([&] { return Owen->Client->KnownUsers().size() == 251; }, 10000));
    }
    ASSERT_TRUE(Settle([&] { return Server.ConnectionCount() == 2; }, 10000));
    ASSERT_TRUE(Settle([&] { return Owen->Knows({"RT"}) && Rt->Knows({"Owen"}); }, 10000));
    ExpectHealthyTraffic(20);
}

// Whether the messages go to everybody or to named users (which the server forwards as they
// came, many to an entry of the queue), the queue of a peer that stopped reading is bounded.
TEST_F(ServerRobustnessTest, AClientThatStopsReadingIsCutOffAloneAndBounded)
{
    Server.SetOutgoingLimit(100000, 1024 * 1024);
    struct Case
    {
        const char* Stalled;
        char Fill;
        bool ToAll;
    };
    const Case cases[] = {{"Stalled", 'z', true}, {"Named", 'y', false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Stalled);
        RawPeer stalled(Port);
        stalled.SetReceiveBuffer(4096);
        ASSERT_TRUE(
            stalled.Send(FormatDocumentFrame(ProtocolDocument::MakeLoginRequest(c.Stalled))));
        ASSERT_TRUE(Settle([&] { return Owen->Knows({"RT", c.Stalled}); }));

        // Owen writes to everybody; the stalled peer never reads. Its queue hits the limit,
        // the server closes it and tells Owen, and RT gets every single message.
        std::string error;
        std::string text(8000, c.Fill);
        const std::string notice =
            std::string("Zib Tam could not send your message to ") + c.Stalled + ".";
        int sent = 0;
        while (sent < 3000 && !Owen->Has(notice)) {
            for (int i = 0; i < 20; ++i, ++sent) {
                std::string numbered = text + std::to_string(sent);
                ASSERT_TRUE(c.ToAll ? Owen->Client->SendToAll(numbered, error)
                                    : Owen->Client->Send({c.Stalled, "RT"}, numbered, error))
                    << error;
            }
            PumpFor(1);
        }
        ASSERT_TRUE(Settle([&] { return Owen->Has(notice); }, 10000));
        EXPECT_LT(sent, 3000);
        ASSERT_TRUE(Settle(
            [&] {
                int got = 0;
                Rt->Drain();
                for (auto& m : Rt->Messages)
                    got += m.Text.rfind(text, 0) == 0;
                return got == sent;
            },
            15000));
        ASSERT_TRUE(Settle([&] { return Owen->Knows({"RT"}); }));
        ExpectHealthyTraffic(10);
    }
}

} // namespace
