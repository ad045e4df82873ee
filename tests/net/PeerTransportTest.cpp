#include "net/PeerTransport.h"

#include "PeerTestSupport.h"
#include "net/SimNetwork.h"
#include "platform/Clock.h"
#include "platform/NextWake.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <map>
#include <memory>

namespace {

// One simulated computer running the transport, with what its window has been shown.
struct Node
{
    Node(CSimNetwork& network, const IClock& clock, const std::string& computer,
         const std::string& user)
        : Names(user), Service(network, computer), Transport(&Sink, Names, clock, Service, computer)
    {}
    CFixedUserName Names;
    RecordingSink Sink;
    CSimDatagramService Service;
    CPeerTransport Transport;
    std::vector<ChatMessage> Inbox;
    bool Frozen = false;

    std::vector<ChatMessage> Chats() const
    {
        std::vector<ChatMessage> chats;
        for (const ChatMessage& m : Inbox)
            if (m.Sender != "Zib Tam")
                chats.push_back(m);
        return chats;
    }
    std::vector<std::string> Reports() const
    {
        std::vector<std::string> reports;
        for (const ChatMessage& m : Inbox)
            if (m.Sender == "Zib Tam")
                reports.push_back(m.Text);
        return reports;
    }
};

class PeerTransportTest : public ::testing::Test
{
protected:
    CManualClock clock;
    CSimNetwork network{clock};
    std::vector<std::unique_ptr<Node>> nodes;

    Node& Add(const std::string& computer, const std::string& user, bool logOn = true)
    {
        nodes.push_back(std::make_unique<Node>(network, clock, computer, user));
        Node& node = *nodes.back();
        if (logOn) {
            std::string error;
            EXPECT_TRUE(node.Transport.LogOn(user, error)) << error;
        }
        return node;
    }

    // Runs every computer's timer for a while, 10 ms a tick.
    void Run(uint32_t milliseconds = 100)
    {
        for (uint32_t t = 0; t < milliseconds; t += 10) {
            for (auto& node : nodes) {
                if (node->Frozen)
                    continue;
                std::vector<ChatMessage> messages;
                node->Transport.GetMessages(messages);
                node->Inbox.insert(node->Inbox.end(), messages.begin(), messages.end());
            }
            clock.Advance(10);
        }
    }

    static std::string Send(Node& from, std::vector<std::string> to, const std::string& text)
    {
        std::string error;
        bool ok = to.empty() ? from.Transport.SendToAll(text, error)
                             : from.Transport.Send(to, text, error);
        return ok ? "" : error;
    }
};

TEST_F(PeerTransportTest, ComputersSeeEachOtherArriveAndLeave)
{
    Node& a = Add("LAB-PC", "Ann");
    Node& b = Add("office-pc2", "Bob");
    Run();
    Node& c = Add("Den", "Cy");
    Run();
    EXPECT_EQ(a.Sink.Users, (std::set<std::string>{"Bob", "Cy"}));
    EXPECT_EQ(b.Sink.Users, (std::set<std::string>{"Ann", "Cy"}));
    EXPECT_EQ(c.Sink.Users, (std::set<std::string>{"Ann", "Bob"}));
    EXPECT_EQ(a.Transport.ComputerName(), "Lab-Pc");
    EXPECT_EQ(a.Sink.Events.front(), "connected");

    b.Transport.LogOff();
    Run();
    EXPECT_EQ(a.Sink.Users, (std::set<std::string>{"Cy"}));
    EXPECT_TRUE(c.Sink.Saw("-Bob"));
}

TEST_F(PeerTransportTest, OwnUserIsListedOnlyWithSelfChat)
{
    Node& a = Add("Lab-Pc", "Ann");
    Run();
    EXPECT_TRUE(a.Sink.Users.empty());
    a.Transport.SetSelfChat(true);
    a.Transport.UpdateSelfChat();
    Run(10);
    EXPECT_EQ(a.Sink.Users, std::set<std::string>{"Ann"});
    a.Transport.SetSelfChat(false);
    a.Transport.UpdateSelfChat();
    Run(10);
    EXPECT_TRUE(a.Sink.Users.empty());
}

TEST_F(PeerTransportTest, SecondCopyOnAComputerIsRefusedWithoutUnlistingTheFirst)
{
    Node& a = Add("Lab-Pc", "Ann");
    Node& b = Add("Den", "Bob");
    Run();
    Node& second = Add("LAB-PC", "Al", false);
    std::string error;
    EXPECT_FALSE(second.Transport.LogOn("Al", error));
    EXPECT_EQ(error, CPeerTransport::kOneCopyPerComputer);
    EXPECT_FALSE(second.Sink.IsConnected());
    nodes.pop_back();
    Run();
    EXPECT_EQ(b.Sink.Users, std::set<std::string>{"Ann"});
    EXPECT_EQ(a.Sink.Users, std::set<std::string>{"Bob"});
}

TEST_F(PeerTransportTest, MessageToOneUserIsDeliveredConfirmedAndCopiedBack)
{
    Node& a = Add("Lab-Pc", "Ann");
    Node& b = Add("Office-Pc2", "Bob");
    Node& c = Add("Den", "Cy");
    Run();
    network.SetTracing(true);
    ASSERT_EQ(Send(a, {"BOB"}, "hello\r\nthere"), "");
    ASSERT_EQ(network.Trace().size(), 1u);
    EXPECT_EQ(network.Trace()[0].To, "Office-Pc2");
    EXPECT_TRUE(network.Trace()[0].Bytes.starts_with("Lab-Pc\nAnn\nOffice-Pc2/BOB\n"));
    EXPECT_TRUE(network.Trace()[0].Bytes.ends_with("\n000/001\nhello\nthere"));
    Run(6000);

    ASSERT_EQ(b.Chats().size(), 1u);
    const ChatMessage got = b.Chats()[0];
    EXPECT_EQ(got.Sender, "Ann");
    EXPECT_EQ(got.Text, "hello\nthere");
    EXPECT_EQ(got.Recipients, std::vector<std::string>{"Bob"});
    EXPECT_FALSE(got.AllUsers);
    EXPECT_FALSE(got.Loopback);
    EXPECT_TRUE(got.Log);
    EXPECT_TRUE(got.Time.IsUsable());

    ASSERT_EQ(a.Chats().size(), 1u);
    EXPECT_TRUE(a.Chats()[0].Loopback);
    EXPECT_EQ(a.Chats()[0].Sender, "Ann");
    EXPECT_TRUE(c.Chats().empty());
    EXPECT_TRUE(a.Reports().empty()); // a timely acknowledgement reports nothing
    EXPECT_TRUE(a.Transport.Deliveries().empty());
}

TEST_F(PeerTransportTest, MessageToAllReachesEveryoneAndTheSenderItself)
{
    Node& a = Add("Lab-Pc", "Ann");
    Node& b = Add("Office-Pc2", "Bob");
    Node& c = Add("Den", "Cy");
    Run();
    ASSERT_EQ(Send(a, {}, "to everyone"), "");
    Run(6000);
    for (Node* node : {&a, &b, &c}) {
        ASSERT_EQ(node->Chats().size(), 1u) << node->Transport.ComputerName();
        EXPECT_TRUE(node->Chats()[0].AllUsers);
        EXPECT_TRUE(node->Chats()[0].Recipients.empty());
        EXPECT_EQ(node->Chats()[0].Text, "to everyone");
        EXPECT_EQ(node->Chats()[0].Loopback, node == &a);
    }
    EXPECT_TRUE(a.Reports().empty());
}

TEST_F(PeerTransportTest, UnknownRecipientOrOverlongHeaderSendsNothing)
{
    Node& a = Add("Lab-Pc", "Ann");
    Add("Office-Pc2", "Bob");
    Run();
    network.SetTracing(true);
    EXPECT_EQ(Send(a, {"Bob", "Zed"}, "hi"), CPeerTransport::kUnknownRecipient);
    std::string longName(340, 'n');
    std::string error;
    a.Transport.ChangeUserName(longName, error);
    network.ClearTrace();
    EXPECT_EQ(Send(a, {"Bob"}, "hi"), CPeerTransport::kTooLong);
    EXPECT_EQ(Send(a, {}, "hi"), CPeerTransport::kTooLong);
    EXPECT_TRUE(network.Trace().empty());
}

TEST_F(PeerTransportTest, PiecesAfterTheFirstLeaveFiftyMillisecondsApartWithoutBlocking)
{
    Node& a = Add("Lab-Pc", "Ann");
    Node& b = Add("Office-Pc2", "Bob");
    Run();
    network.SetTracing(true);
    ASSERT_EQ(Send(a, {"Bob"}, std::string(800, 'x')), ""); // three pieces
    EXPECT_EQ(network.Trace().size(), 1u);
    EXPECT_EQ(a.Transport.QueuedWrites(), 2u);
    std::vector<ChatMessage> ignored;
    clock.Advance(49);
    a.Transport.GetMessages(ignored);
    EXPECT_EQ(network.Trace().size(), 1u);
    clock.Advance(1);
    a.Transport.GetMessages(ignored);
    EXPECT_EQ(network.Trace().size(), 2u);
    clock.Advance(50);
    a.Transport.GetMessages(ignored);
    ASSERT_EQ(network.Trace().size(), 3u);
    EXPECT_NE(network.Trace()[2].Bytes.find("\n002/003\n"), std::string::npos);
    Run(1000);
    ASSERT_EQ(b.Chats().size(), 1u);
    EXPECT_EQ(b.Chats()[0].Text, std::string(800, 'x'));
}

TEST_F(PeerTransportTest, ConfirmationTimeRunsFromTheLastPiece)
{
    Node& a = Add("Lab-Pc", "Ann");
    Node& b = Add("Office-Pc2", "Bob");
    Run();
    std::string text(100 * 320, 'l'); // over a hundred pieces: more than five seconds to send
    ASSERT_EQ(Send(a, {"Bob"}, text), "");
    Run(9000);
    ASSERT_EQ(b.Chats().size(), 1u);
    EXPECT_EQ(b.Chats()[0].Text, text.substr(0, kPeerMaxMessageBytes)); // shown cut
    EXPECT_TRUE(a.Reports().empty());
    EXPECT_TRUE(a.Transport.Deliveries().empty());
}

// Loss, repeats and reordering on the way, and what each leaves the users seeing.
TEST_F(PeerTransportTest, AssemblyUnderLossRepeatsAndReordering)
{
    struct Case
    {
        const char* Name;
        CSimNetwork::Rule Rule;
        size_t Shown;      // copies of the message at the recipient
        bool NotConfirmed; // the sender reports it could not confirm
    };
    auto piece = [](const SimDatagram& d, const char* position) {
        return d.Slot == PeerSlot::Data && d.Bytes.find(position) != std::string::npos;
    };
    const Case cases[] = {
        {"clean", nullptr, 1, false},
        {"every datagram twice",
         [](const SimDatagram&) {
             return SimFate{2, 0};
         },
         1, false},
        {"every datagram three times, the copies late",
         [](const SimDatagram& d) {
             return SimFate{d.Slot == PeerSlot::Data ? 3 : 1, 0};
         },
         1, false},
        {"first piece last",
         [&](const SimDatagram& d) {
             return piece(d, "\n000/003\n") ? SimFate{1, 400} : SimFate{};
         },
         1, false},
        {"pieces reversed",
         [&](const SimDatagram& d) {
             return piece(d, "\n000/003\n")   ? SimFate{1, 300}
                    : piece(d, "\n001/003\n") ? SimFate{1, 150}
                                              : SimFate{};
         },
         1, false},
        {"middle piece lost",
         [&](const SimDatagram& d) {
             return piece(d, "\n001/003\n") ? SimFate{0, 0} : SimFate{};
         },
         0, true},
        {"one acknowledgement lost",
         [](const SimDatagram& d) {
             return d.Slot == PeerSlot::Ack && d.Bytes.find("\n001/003") != std::string::npos
                        ? SimFate{0, 0}
                        : SimFate{};
         },
         1, true},
        {"late copy of a piece after the message was shown",
         [&](const SimDatagram& d) {
             return piece(d, "\n001/003\n") ? SimFate{2, 0} : SimFate{};
         },
         1, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        nodes.clear();
        network.SetRule(nullptr);
        Node& a = Add("Lab-Pc", "Ann");
        Node& b = Add("Office-Pc2", "Bob");
        Run();
        network.SetRule(c.Rule);
        std::string text = std::string(300, 'a') + std::string(300, 'b') + std::string(100, 'c');
        ASSERT_EQ(Send(a, {"Bob"}, text), "");
        Run(5000);
        ASSERT_EQ(b.Chats().size(), c.Shown);
        if (c.Shown) {
            EXPECT_EQ(b.Chats()[0].Text, text);
        }
        EXPECT_EQ(a.Reports().size(), c.NotConfirmed ? 1u : 0u);
        EXPECT_EQ(a.Chats().size(), 1u);
    }
}

TEST_F(PeerTransportTest, InterleavedMessagesFromOneComputerAreKeptApart)
{
    Node& a = Add("Lab-Pc", "Ann");
    Node& b = Add("Office-Pc2", "Bob");
    Run();
    // Every piece of the first message is held back until the second has gone through.
    std::string firstId;
    network.SetRule([&](const SimDatagram& d) {
        bool first = d.Slot == PeerSlot::Data && d.Bytes.find("\n1st") == std::string::npos &&
                     d.Bytes.find(std::string(10, 'x')) != std::string::npos;
        return first ? SimFate{1, 120} : SimFate{};
    });
    ASSERT_EQ(Send(a, {"Bob"}, std::string(500, 'x')), "");
    ASSERT_EQ(Send(a, {"Bob"}, std::string(500, 'y')), "");
    Run(2000);
    ASSERT_EQ(b.Chats().size(), 2u);
    EXPECT_EQ(b.Chats()[0].Text, std::string(500, 'y'));
    EXPECT_EQ(b.Chats()[1].Text, std::string(500, 'x'));
    EXPECT_TRUE(a.Reports().empty());
}

// A burst from one computer, read in one poll: every message is shown, in order, and every
// one is acknowledged, however many more than the unfinished-message cap there are.
TEST_F(PeerTransportTest, BurstFromOneComputerIsShownAndAcknowledgedWhole)
{
    for (int count : {33, 100, 1000}) {
        SCOPED_TRACE(count);
        nodes.clear();
        Node& a = Add("Lab-Pc", "Ann");
        Node& b = Add("Office-Pc2", "Bob");
        Run();
        for (int i = 0; i < count; ++i)
            ASSERT_EQ(Send(a, {"Bob"}, "burst " + std::to_string(i)), "");
        Run(5000);
        std::vector<ChatMessage> shown = b.Chats();
        ASSERT_EQ(shown.size(), static_cast<size_t>(count));
        for (int i = 0; i < count; ++i)
            EXPECT_EQ(shown[static_cast<size_t>(i)].Text, "burst " + std::to_string(i));
        EXPECT_TRUE(a.Reports().empty());
        EXPECT_TRUE(a.Transport.Deliveries().empty());
    }
}

// A text longer than the input box lets anyone type is shown cut to that length, and a
// short notice after it says so; every piece is still acknowledged.
TEST_F(PeerTransportTest, OverlongMessagesAreCutWithANotice)
{
    struct Case
    {
        size_t Length;
        bool Cut;
    };
    const Case cases[] = {
        {kPeerMaxMessageBytes, false},
        {kPeerMaxMessageBytes + 1, true},
        {280000, true}, // nearly the 999 pieces a header of ours can count
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Length);
        nodes.clear();
        Node& a = Add("Lab-Pc", "Ann");
        Node& b = Add("Office-Pc2", "Bob");
        Run();
        std::string text;
        for (size_t i = 0; text.size() < c.Length; ++i)
            text += std::to_string(i) + ' ';
        text.resize(c.Length);
        ASSERT_EQ(Send(a, {"Bob"}, text), "");
        Run(static_cast<uint32_t>(c.Length / 4) + 5000); // the pieces leave 50 ms apart
        ASSERT_EQ(b.Inbox.size(), c.Cut ? 2u : 1u);
        EXPECT_EQ(b.Inbox[0].Text, text.substr(0, kPeerMaxMessageBytes));
        if (c.Cut) {
            EXPECT_EQ(b.Inbox[1].Sender, "Zib Tam");
            EXPECT_EQ(b.Inbox[1].Text,
                      "Zib Tam cut the message from Ann: it was longer than 20,480 characters.");
        }
        EXPECT_TRUE(a.Reports().empty());
        EXPECT_TRUE(a.Transport.Deliveries().empty());
        // The sender's own copy is what the sender wrote.
        EXPECT_EQ(a.Chats().back().Text, text);
    }
}

// Unfinished messages of the largest pieces, from one computer and from many: what they
// hold stays within the bounds after every poll, and a message from elsewhere still comes.
TEST_F(PeerTransportTest, UnfinishedMessagesHoldBoundedBytes)
{
    struct Case
    {
        int Computers;
        int Messages; // from each computer
        int Pieces;   // of each message, out of 999
    };
    const Case cases[] = {{1, 10, 180}, {20, 10, 180}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Computers);
        nodes.clear();
        Node& a = Add("Lab-Pc", "Ann");
        Node& b = Add("Office-Pc2", "Bob");
        Run();
        for (int piece = 0; piece < c.Pieces; ++piece)
            for (int computer = 0; computer < c.Computers; ++computer)
                for (int message = 0; message < c.Messages; ++message) {
                    char position[16];
                    std::snprintf(position, sizeof position, "%03d/999", piece);
                    std::string datagram = "Evil" + std::to_string(computer) + "\nEve\n\nm" +
                                           std::to_string(message) + "\n" + position + "\n";
                    datagram.resize(kPeerDatagramLimit, 'z');
                    network.Inject("Lab-Pc", PeerSlot::Data, datagram);
                }
        ASSERT_EQ(Send(b, {"Ann"}, "through the flood"), "");
        for (int poll = 0; poll < 20; ++poll) {
            Run(10);
            ASSERT_LE(a.Transport.PartialBytes(PeerSlot::Data), CPeerTransport::kMaxPartialBytes);
            ASSERT_LE(a.Transport.PartialBytes(PeerSlot::Data, "Evil0"),
                      CPeerTransport::kMaxPartialBytesPerComputer);
        }
        EXPECT_EQ(network.Waiting("Lab-Pc", PeerSlot::Data), 0u);
        EXPECT_GT(a.Transport.PartialBytes(PeerSlot::Data, "Evil0"),
                  CPeerTransport::kMaxPartialBytesPerComputer / 2);
        ASSERT_EQ(a.Chats().size(), 1u);
        EXPECT_EQ(a.Chats()[0].Text, "through the flood");
        EXPECT_TRUE(b.Reports().empty());
    }
}

TEST_F(PeerTransportTest, MessageTakesTheTimeItsLastPieceArrived)
{
    Node& a = Add("Lab-Pc", "Ann");
    Node& b = Add("Office-Pc2", "Bob");
    Run();
    network.SetRule([](const SimDatagram& d) {
        return d.Slot == PeerSlot::Data && d.Bytes.find("\n000/002\n") != std::string::npos
                   ? SimFate{1, 3000}
                   : SimFate{};
    });
    const std::time_t sent = clock.Now();
    ASSERT_EQ(Send(a, {"Bob"}, std::string(400, 't')), "");
    Run(100); // the second piece is there, the first is not
    EXPECT_TRUE(b.Chats().empty());
    EXPECT_EQ(b.Transport.PartialCount(PeerSlot::Data), 1u);
    clock.Advance(3000);
    const std::time_t arrived = clock.Now();
    std::vector<ChatMessage> messages;
    b.Transport.GetMessages(messages);
    EXPECT_TRUE(messages.empty()); // handed over at the next call
    b.Transport.GetMessages(messages);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].Time, MessageTime::From(arrived));
    EXPECT_NE(arrived, sent);
}

// Polled only when the transport says it needs time, the sender's work falls on the same
// moments as under a 10 ms tick: pieces 50 ms apart, the report once three whole seconds
// have passed, the silent user gone after the rollcall's fifteen; then nothing wakes it.
TEST_F(PeerTransportTest, DeadlinesWakeThePollWhenItsWorkFallsDue)
{
    Node& a = Add("Lab-Pc", "Ann");
    Node& b = Add("Office-Pc2", "Bob");
    Run();
    b.Frozen = true;
    clock.Advance(1000 - clock.MillisecondsIntoSecond() + 300); // 300 ms into a second
    const std::time_t sent = clock.Now();
    network.SetTracing(true);
    ASSERT_EQ(Send(a, {"Bob"}, std::string(800, 'x')), ""); // three pieces

    std::vector<uint32_t> writes; // ms after the send of each datagram written later
    uint32_t elapsed = 0, reportAt = 0, departedAt = 0;
    int wakes = 0;
    for (int i = 0; i < 20; ++i) {
        CNextWake wake(clock);
        a.Transport.NextWake(wake);
        if (!wake.IsSet())
            break;
        clock.Advance(wake.Milliseconds());
        elapsed += wake.Milliseconds();
        ++wakes;
        size_t written = network.Trace().size();
        std::vector<ChatMessage> messages;
        a.Transport.GetMessages(messages);
        if (network.Trace().size() > written)
            writes.push_back(elapsed);
        a.Inbox.insert(a.Inbox.end(), messages.begin(), messages.end());
        if (!reportAt && !a.Reports().empty())
            reportAt = elapsed;
        if (!departedAt && a.Sink.Saw("-Bob"))
            departedAt = elapsed;
    }
    EXPECT_LT(wakes, 12) << "woken more than the work needs";
    // The second and third pieces, then the rollcall after the report.
    EXPECT_EQ(writes, (std::vector<uint32_t>{50, 100, 3700}));
    // Reported at the first second more than three after the send: 3.7 s later.
    EXPECT_EQ(reportAt, 3700u);
    // The rollcall at the report gives Bob fifteen seconds; he is gone in the sixteenth.
    EXPECT_EQ(departedAt, 3700u + 16000u);
    EXPECT_EQ(a.Sink.Users, std::set<std::string>{});
    EXPECT_EQ(clock.Now(), sent + 4 + 16);

    CNextWake idle(clock);
    a.Transport.NextWake(idle);
    EXPECT_FALSE(idle.IsSet()) << idle.Milliseconds();
}

TEST_F(PeerTransportTest, UnconfirmedDeliveryIsReportedThenGoodNewsWhenLate)
{
    Node& a = Add("Lab-Pc", "Ann");
    Node& b = Add("Office-Pc2", "Bob");
    Node& c = Add("Den", "Cy");
    Run();
    b.Frozen = true;
    network.SetTracing(true);
    ASSERT_EQ(Send(a, {"Bob"}, "are you there"), "");
    Run(3000);
    EXPECT_TRUE(a.Reports().empty()); // not yet more than three seconds
    Run(1100);
    ASSERT_EQ(a.Reports().size(), 1u);
    EXPECT_EQ(
        a.Reports()[0].rfind("Zib Tam could not confirm that the message you sent to Bob at ", 0),
        0u);
    EXPECT_NE(a.Reports()[0].find("(\"are you there\") was delivered successfully."),
              std::string::npos);
    ASSERT_TRUE(a.Inbox.back().Log);
    bool rollcall = false;
    for (const SimDatagram& d : network.Trace())
        rollcall |= d.From == "Lab-Pc" && d.To == "*" && d.Bytes.ends_with("\nrollcall");
    EXPECT_TRUE(rollcall);

    network.ClearTrace();
    b.Frozen = false;
    Run(200);
    ASSERT_EQ(a.Reports().size(), 2u);
    EXPECT_EQ(
        a.Reports()[1].rfind("Zib Tam has good news for you!  The message you sent to Bob", 0), 0u);
    bool weThought = false, arrival = false;
    for (const SimDatagram& d : network.Trace()) {
        weThought |= d.To == "Office-Pc2" && d.Bytes.ends_with("\nWeThoughtYouLeft");
        arrival |= d.From == "Office-Pc2" && d.To == "*" && d.Bytes.ends_with("\narrival");
    }
    EXPECT_TRUE(weThought);
    EXPECT_TRUE(arrival);
    EXPECT_TRUE(a.Transport.Deliveries().empty());
    EXPECT_EQ(c.Sink.Users, (std::set<std::string>{"Ann", "Bob"}));
}

TEST_F(PeerTransportTest, SilentUserIsDepartedFifteenSecondsAfterARollcall)
{
    Node& a = Add("Lab-Pc", "Ann");
    Node& b = Add("Office-Pc2", "Bob");
    Add("Den", "Cy");
    Run();
    b.Frozen = true;
    a.Transport.Refresh();
    Run(15000);
    EXPECT_EQ(a.Sink.Users, (std::set<std::string>{"Bob", "Cy"}));
    Run(1100);
    EXPECT_EQ(a.Sink.Users, std::set<std::string>{"Cy"});
    // Heard from again: listed again.
    b.Frozen = false;
    ASSERT_EQ(Send(b, {}, "back"), "");
    Run();
    EXPECT_EQ(a.Sink.Users, (std::set<std::string>{"Bob", "Cy"}));
}

TEST_F(PeerTransportTest, SharedUserNamesShowTheirComputers)
{
    Node& watcher = Add("Den", "Cy");
    Node& lab = Add("Lab-Pc", "Owen");
    Node& office = Add("Office-Pc2", "Owen");
    Run();
    EXPECT_EQ(watcher.Sink.Users, (std::set<std::string>{"Owen (Lab-Pc)", "Owen (Office-Pc2)"}));
    std::string own;
    ASSERT_TRUE(lab.Transport.GetUserName(own));
    EXPECT_EQ(own, "Owen (Lab-Pc)");

    // Messages name the shared users the same way, and can be sent to those names.
    ASSERT_EQ(Send(watcher, {"owen (lab-pc)"}, "which Owen?"), "");
    Run();
    ASSERT_EQ(lab.Chats().size(), 1u);
    EXPECT_EQ(lab.Chats()[0].Recipients, std::vector<std::string>{"Owen (Lab-Pc)"});
    EXPECT_TRUE(office.Chats().empty());

    office.Transport.LogOff();
    Run();
    EXPECT_EQ(watcher.Sink.Users, std::set<std::string>{"Owen (Lab-Pc)"});

    std::string error;
    ASSERT_TRUE(lab.Transport.ChangeUserName("Olga", error));
    Run();
    EXPECT_EQ(watcher.Sink.Users, std::set<std::string>{"Olga"});
    EXPECT_TRUE(watcher.Sink.Saw("Owen (Lab-Pc)>Olga"));
}

TEST_F(PeerTransportTest, RenameAwayFromASharedNameRenamesTheOtherBack)
{
    Node& watcher = Add("Den", "Cy");
    Node& lab = Add("Lab-Pc", "Owen");
    Add("Office-Pc2", "Owen");
    Run();
    std::string error;
    ASSERT_TRUE(lab.Transport.ChangeUserName("Olga", error));
    Run();
    EXPECT_EQ(watcher.Sink.Users, (std::set<std::string>{"Olga", "Owen"}));
    EXPECT_TRUE(watcher.Sink.Saw("Owen (Office-Pc2)>Owen"));
}

TEST_F(PeerTransportTest, ACopyThatLogsOnAgainIsNotMistakenForARepeat)
{
    Node& a = Add("Lab-Pc", "Ann");
    Node& b = Add("Office-Pc2", "Bob");
    Run();
    ASSERT_EQ(Send(b, {"Ann"}, "one"), "");
    Run();
    // Bob's copy restarts: its ids begin again, so its next message reuses an old id.
    nodes.pop_back();
    Node& again = Add("Office-Pc2", "Bob");
    Run();
    ASSERT_EQ(Send(again, {"Ann"}, "two"), "");
    Run();
    ASSERT_EQ(a.Chats().size(), 2u);
    EXPECT_EQ(a.Chats()[1].Text, "two");
}

// What a broken or hostile sender may put on the wire.
TEST_F(PeerTransportTest, MalformedDatagramsAreDroppedAndOthersStillServed)
{
    Node& a = Add("Lab-Pc", "Ann");
    Node& b = Add("Office-Pc2", "Bob");
    Run();
    struct Case
    {
        PeerSlot Slot;
        std::string Bytes;
    };
    const Case cases[] = {
        {PeerSlot::Data, "garbage"},
        {PeerSlot::Data, std::string(65000, '\xff')},
        {PeerSlot::Data, "Evil\nEve\n\n1\n000/001\n" + std::string(65000, 'z')},
        {PeerSlot::Data, "Evil\nEve\n\n2\n000/001"},
        {PeerSlot::Data, "Evil\nEve\n\n3\n003/002\nx"},
        {PeerSlot::Data, "Evil\nEve\n\n4\n000/002\nx"},
        {PeerSlot::Data, "Evil\nEve\n\n4\n004/005\nx"}, // count differs from the partial
        {PeerSlot::Data, "Evil\nEve\n\n4\n001/001\nx"},
        {PeerSlot::Command, "Evil\nEve\n\n5\n000/001\nnonsense"},
        {PeerSlot::Command, std::string(65000, '\n')},
        {PeerSlot::Ack, "Office-Pc2\n1\n999/999"},
        {PeerSlot::Ack, "garbage"},
        {PeerSlot::Ack, std::string(65000, 'a')},
    };
    // A message in flight, with acknowledgements forged for pieces it does not have.
    ASSERT_EQ(Send(b, {"Ann"}, "real"), "");
    ASSERT_EQ(b.Transport.Deliveries().size(), 1u);
    const std::string id = b.Transport.Deliveries()[0].Id;
    for (const char* index : {"\n001/001", "\n999/001", "\n4294967296"})
        network.Inject("Office-Pc2", PeerSlot::Ack, "Lab-Pc\n" + id + index);
    std::vector<ChatMessage> ignored;
    b.Transport.GetMessages(ignored);
    ASSERT_EQ(b.Transport.Deliveries().size(), 1u); // still waiting for the real one
    for (const Case& c : cases)
        network.Inject("Lab-Pc", c.Slot, c.Bytes);
    Run(5000);
    // None of them is a whole message: the large one from "Evil" is larger than any
    // datagram of ours.
    ASSERT_EQ(a.Chats().size(), 1u);
    EXPECT_EQ(a.Chats()[0].Text, "real");
    EXPECT_TRUE(b.Reports().empty());
    EXPECT_LE(a.Transport.PartialCount(PeerSlot::Data), 1u);
    ASSERT_EQ(Send(b, {"Ann"}, "still here"), "");
    Run();
    EXPECT_EQ(a.Chats().back().Text, "still here");
}

TEST_F(PeerTransportTest, FloodFromOneSenderStaysBounded)
{
    Node& a = Add("Lab-Pc", "Ann");
    Node& b = Add("Office-Pc2", "Bob");
    Run();
    // Ten thousand first pieces of messages that never finish.
    for (int i = 0; i < 10000; ++i)
        network.Inject("Lab-Pc", PeerSlot::Data,
                       "Evil\nEve\n\nf" + std::to_string(i) + "\n000/002\nx");
    ASSERT_EQ(Send(b, {"Ann"}, "through the flood"), "");
    Run(100);
    EXPECT_LE(a.Transport.PartialCount(PeerSlot::Data), CPeerTransport::kMaxPartialPerComputer);
    ASSERT_EQ(a.Chats().size(), 1u);
    EXPECT_EQ(a.Chats()[0].Text, "through the flood");
    EXPECT_TRUE(b.Reports().empty());

    // Ten thousand made-up computers: the list stops growing at its bound.
    for (int i = 0; i < 10000; ++i)
        network.Inject("Lab-Pc", PeerSlot::Command,
                       "Evil" + std::to_string(i) + "\nEve\n\n1\n000/001\narrival");
    Run(100);
    EXPECT_LE(a.Transport.Users().size(), CPeerTransport::kMaxUsers);
    ASSERT_EQ(Send(b, {"Ann"}, "and after"), "");
    Run(100);
    EXPECT_EQ(a.Chats().back().Text, "and after");

    // Unfinished pieces do not stay for ever.
    Run(0);
    clock.Advance(static_cast<uint32_t>(CPeerTransport::kPartialLifetimeSeconds + 2) * 1000);
    Run(10);
    EXPECT_EQ(a.Transport.PartialCount(PeerSlot::Data), 0u);
}

} // namespace
