// The UDP datagram service on loopback. The whole test process moves into a network
// namespace of its own first, so the fixed ports clash with nothing and no datagram
// leaves this process's private loopback.
#include "PeerTestSupport.h"
#include "PumpSupport.h"
#include "TestSupport.h"
#include "net/PeerTransport.h"
#include "net/UdpDatagramService.h"
#include "net/UdpPeerTransport.h"
#include "platform/Clock.h"
#include "platform/NextWake.h"

#include <QElapsedTimer>
#include <QTimer>
#include <arpa/inet.h>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

class PeerUdpTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        if (::geteuid() != 0) {
            s_skip = "needs root to make a private network namespace";
        } else if (::unshare(CLONE_NEWNET) != 0) {
            s_skip = "cannot make a private network namespace here (unshare failed)";
        } else if (std::system("ip link set lo up") != 0) {
            s_skip = "cannot bring up loopback in the private namespace";
        }
    }
    void SetUp() override
    {
        if (!s_skip.empty())
            GTEST_SKIP() << s_skip;
    }

    // Sends raw bytes from an ordinary socket on loopback to a slot's port.
    static void SendRaw(PeerSlot slot, const std::string& bytes)
    {
        int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
        ASSERT_GE(fd, 0);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        to.sin_port = htons(
            static_cast<uint16_t>(CUdpDatagramService::kDefaultPortBase + static_cast<int>(slot)));
        ::sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
        ::close(fd);
    }

    // Reads the next datagram, waiting on the socket rather than spinning.
    static bool ReadWithin(CUdpDatagramService& service, PeerSlot slot, std::string& bytes)
    {
        for (int i = 0; i < 100; ++i) {
            if (service.Read(slot, bytes))
                return true;
            std::vector<pollfd> fds;
            for (int fd : service.Descriptors())
                fds.push_back({fd, POLLIN, 0});
            ::poll(fds.data(), fds.size(), 10);
        }
        return false;
    }

    static inline std::string s_skip;
};

uint16_t PortOf(PeerSlot slot)
{
    return static_cast<uint16_t>(CUdpDatagramService::kDefaultPortBase + static_cast<int>(slot));
}

// Another computer on the private loopback: a socket on an address of its own (127.0.0.x),
// on the port of a slot that the service under test leaves free, so that what the service
// writes to this computer on that slot lands here.
class FakeComputer
{
public:
    FakeComputer(const char* address, uint16_t port)
    {
        m_fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in at{};
        at.sin_family = AF_INET;
        ::inet_pton(AF_INET, address, &at.sin_addr);
        at.sin_port = htons(port);
        m_bound = ::bind(m_fd, reinterpret_cast<sockaddr*>(&at), sizeof at) == 0;
    }
    ~FakeComputer() { ::close(m_fd); }
    FakeComputer(const FakeComputer&) = delete;
    FakeComputer& operator=(const FakeComputer&) = delete;
    bool Bound() const { return m_bound; }

    void Send(PeerSlot slot, const std::string& bytes) const
    {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        to.sin_port = htons(PortOf(slot));
        ::sendto(m_fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    }
    // The next datagram that reaches this computer within `ms`, or "" when none does.
    std::string Receive(int ms) const
    {
        pollfd fd{m_fd, POLLIN, 0};
        if (::poll(&fd, 1, ms) != 1)
            return "";
        char buffer[2048];
        ssize_t got = ::recv(m_fd, buffer, sizeof buffer, MSG_DONTWAIT);
        return got > 0 ? std::string(buffer, static_cast<size_t>(got)) : "";
    }

private:
    int m_fd = -1;
    bool m_bound = false;
};

std::string Command(const std::string& computer, const std::string& word)
{
    return computer + "\nBob\n\n" + word + "-id\n000/001\n" + word;
}

std::string Chat(const std::string& computer, const std::string& user, const std::string& text)
{
    return computer + "\n" + user + "\n\n" + text + "-id\n000/001\n" + text;
}

TEST_F(PeerUdpTest, OneCopyPerComputerOwnsThePorts)
{
    CUdpDatagramService first("Lab-Pc");
    for (PeerSlot slot : {PeerSlot::Data, PeerSlot::Command, PeerSlot::Ack})
        ASSERT_TRUE(first.Open(slot));

    CManualClock clock;
    CFixedUserName names("Al");
    RecordingSink sink;
    CUdpDatagramService secondService("Lab-Pc");
    CPeerTransport second(&sink, names, clock, secondService, "Lab-Pc");
    std::string error;
    EXPECT_FALSE(second.LogOn("Al", error));
    EXPECT_EQ(error, CPeerTransport::kOneCopyPerComputer);
    EXPECT_TRUE(secondService.Descriptors().empty());

    // Once the first copy lets go, the ports can be had again.
    for (PeerSlot slot : {PeerSlot::Data, PeerSlot::Command, PeerSlot::Ack})
        first.Close(slot);
    EXPECT_TRUE(second.LogOn("Al", error));
}

TEST_F(PeerUdpTest, ReadsNeverWaitAndTakeWholeDatagrams)
{
    CUdpDatagramService service("Lab-Pc");
    ASSERT_TRUE(service.Open(PeerSlot::Data));
    std::string bytes;
    EXPECT_FALSE(service.Read(PeerSlot::Data, bytes));
    EXPECT_FALSE(service.Read(PeerSlot::Ack, bytes)); // not open

    std::string largest(kPeerDatagramLimit, 'z');
    SendRaw(PeerSlot::Data, largest);
    ASSERT_TRUE(ReadWithin(service, PeerSlot::Data, bytes));
    EXPECT_EQ(bytes, largest);

    // The own name and "*" both come back here (no broadcast interface in this namespace).
    ASSERT_TRUE(service.Write(PeerSlot::Data, "LAB-PC", "to myself"));
    ASSERT_TRUE(ReadWithin(service, PeerSlot::Data, bytes));
    EXPECT_EQ(bytes, "to myself");
    ASSERT_TRUE(service.Write(PeerSlot::Data, "*", "to everyone"));
    ASSERT_TRUE(ReadWithin(service, PeerSlot::Data, bytes));
    EXPECT_EQ(bytes, "to everyone");
}

// A datagram longer than any of the protocol's is no piece of anything: it is dropped
// whole, not cut to a piece's size, and its sender's name is not heard; the next one reads.
TEST_F(PeerUdpTest, DatagramsLongerThanTheProtocolsAreDropped)
{
    CUdpDatagramService service("Lab-Pc");
    ASSERT_TRUE(service.Open(PeerSlot::Command));
    std::string next = Command("Next-Pc", "arrival");
    for (size_t size : {kPeerDatagramLimit + 1, size_t{65000}}) {
        SCOPED_TRACE(size);
        std::string oversized = Command("Zed-Box", "arrival");
        oversized.resize(size, 'z');
        SendRaw(PeerSlot::Command, oversized);
        SendRaw(PeerSlot::Command, next);
        std::string bytes;
        ASSERT_TRUE(ReadWithin(service, PeerSlot::Command, bytes));
        EXPECT_EQ(bytes, next);
        EXPECT_EQ(service.HeardCount(), 1u); // Next-Pc alone
    }
}

TEST_F(PeerUdpTest, AComputerIsReachedWhereItWasLastHeardFrom)
{
    CUdpDatagramService service("Lab-Pc");
    ASSERT_TRUE(service.Open(PeerSlot::Ack));
    SendRaw(PeerSlot::Ack, "Zed-Box\n1\n000/001");
    std::string bytes;
    ASSERT_TRUE(ReadWithin(service, PeerSlot::Ack, bytes));
    EXPECT_EQ(service.HeardCount(), 1u);
    // Zed-Box was heard from 127.0.0.1, where our own slot listens.
    ASSERT_TRUE(service.Write(PeerSlot::Ack, "ZED-BOX", "answer"));
    ASSERT_TRUE(ReadWithin(service, PeerSlot::Ack, bytes));
    EXPECT_EQ(bytes, "answer");
}

// A datagram names its sender's computer, but anybody can write any name. Replies for a
// computer go to the address first heard under its name while that computer is present (as
// the transport counts presence: until "departure", or a rollcall left unanswered for the
// presence time-out); another address using the name meanwhile is not heard, and the
// conflict is told once. Once the computer is gone, the name is free for a new address.
TEST_F(PeerUdpTest, AComputerKeepsItsAddressWhilePresent)
{
    enum class Step
    {
        Nothing,
        Departure,       // the computer leaves
        Rollcall,        // a third computer calls the roll
        OwnRollcall,     // this computer calls the roll
        Answer,          // the computer answers
        PresenceTimeOut, // the presence time-out passes
        NotQuiteTimeOut, // ... all but its last second
    };
    struct Case
    {
        const char* Name;
        std::vector<Step> Between;
        bool TakenOver;
    };
    const Case cases[] = {
        {"present", {Step::Nothing}, false},
        {"left", {Step::Departure}, true},
        {"rollcall unanswered", {Step::Rollcall, Step::PresenceTimeOut}, true},
        {"own rollcall unanswered", {Step::OwnRollcall, Step::PresenceTimeOut}, true},
        {"rollcall answered", {Step::Rollcall, Step::Answer, Step::PresenceTimeOut}, false},
        {"rollcall, time-out not over", {Step::Rollcall, Step::NotQuiteTimeOut}, false},
    };
    const uint16_t dataPort = PortOf(PeerSlot::Data);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        CManualClock clock;
        CUdpDatagramService service("Lab-Pc", CUdpDatagramService::kDefaultPortBase, clock);
        ASSERT_TRUE(service.Open(PeerSlot::Command));
        ASSERT_TRUE(service.Open(PeerSlot::Ack));
        FakeComputer colleague("127.0.0.2", dataPort), stranger("127.0.0.3", dataPort),
            third("127.0.0.4", dataPort);
        ASSERT_TRUE(colleague.Bound() && stranger.Bound() && third.Bound());
        // Everything this service takes in before the third computer's markers.
        auto readUntilMarker = [&](const std::string& marker) {
            third.Send(PeerSlot::Command, Chat("Third-Pc", "Cy", marker));
            third.Send(PeerSlot::Ack, "Third-Pc\n" + marker + "\n000/001");
            std::vector<std::string> got;
            std::string bytes;
            for (PeerSlot slot : {PeerSlot::Command, PeerSlot::Ack})
                while (ReadWithin(service, slot, bytes) && bytes.find(marker) == std::string::npos)
                    got.push_back(bytes);
            return got;
        };

        colleague.Send(PeerSlot::Command, Command("Office-Pc2", "arrival"));
        ASSERT_EQ(readUntilMarker("m1").size(), 1u);
        for (Step step : c.Between) {
            if (step == Step::Departure)
                colleague.Send(PeerSlot::Command, Command("Office-Pc2", "departure"));
            else if (step == Step::Rollcall)
                third.Send(PeerSlot::Command, Command("Third-Pc", "rollcall"));
            else if (step == Step::OwnRollcall)
                service.Write(PeerSlot::Command, "*", Command("Lab-Pc", "rollcall"));
            else if (step == Step::Answer)
                colleague.Send(PeerSlot::Command, Command("Office-Pc2", "arrival"));
            else if (step == Step::PresenceTimeOut)
                clock.Advance((CPeerTransport::kPresenceSeconds + 1) * 1000);
            else if (step == Step::NotQuiteTimeOut)
                clock.Advance(CPeerTransport::kPresenceSeconds * 1000);
            readUntilMarker("m2");
        }

        // Presence under the name, and an acknowledgement of a message the colleague got.
        stranger.Send(PeerSlot::Command, Command("OFFICE-PC2", "arrival"));
        stranger.Send(PeerSlot::Ack, "Office-Pc2\nhello-id\n000/001");
        EXPECT_EQ(readUntilMarker("m3").size(), c.TakenOver ? 2u : 0u);

        service.Write(PeerSlot::Data, "office-pc2", "reply");
        const FakeComputer& answered = c.TakenOver ? stranger : colleague;
        const FakeComputer& other = c.TakenOver ? colleague : stranger;
        EXPECT_EQ(answered.Receive(2000), "reply");
        EXPECT_EQ(other.Receive(50), "");

        // A second try is not told again.
        stranger.Send(PeerSlot::Command, Command("Office-Pc2", "arrival"));
        readUntilMarker("m4");
        std::vector<std::string> notices = service.TakeNotices();
        if (c.TakenOver) {
            EXPECT_TRUE(notices.empty());
        } else {
            ASSERT_EQ(notices.size(), 1u);
            EXPECT_EQ(notices[0], "Two computers are using the name OFFICE-PC2. Zib Tam goes on "
                                  "talking to the one at 127.0.0.2, which it heard first, and "
                                  "ignores the one at 127.0.0.3.");
        }
    }
}

// The conflict reaches the history once, as the program's own notice; the other
// computer's messages under the name are not shown.
TEST_F(PeerUdpTest, TheTransportTellsOfTwoComputersWithOneName)
{
    CSystemClock& clock = CSystemClock::Instance();
    CFixedUserName names("Ann");
    RecordingSink sink;
    CUdpPeerTransport transport(&sink, names, clock, "LAB-PC");
    std::string error;
    ASSERT_TRUE(transport.LogOn("Ann", error)) << error;
    FakeComputer colleague("127.0.0.2", 0), stranger("127.0.0.3", 0);
    colleague.Send(PeerSlot::Data, Chat("Office-Pc2", "Bob", "hello"));
    stranger.Send(PeerSlot::Data, Chat("Office-Pc2", "Eve", "hijack"));
    stranger.Send(PeerSlot::Data, Chat("Office-Pc2", "Eve", "again"));
    colleague.Send(PeerSlot::Data, Chat("Office-Pc2", "Bob", "bye"));
    std::vector<ChatMessage> got;
    PumpUntil(
        [&] {
            std::vector<ChatMessage> more;
            transport.GetMessages(more);
            got.insert(got.end(), more.begin(), more.end());
            return !got.empty() && got.back().Text == "bye";
        },
        3000);
    std::vector<std::string> texts, notices;
    for (const ChatMessage& message : got) {
        if (message.Sender == CTransport::kSystemSender) {
            notices.push_back(message.Text);
            EXPECT_TRUE(message.Log);
        } else {
            texts.push_back(message.Sender + ": " + message.Text);
        }
    }
    EXPECT_EQ(texts, (std::vector<std::string>{"Bob: hello", "Bob: bye"}));
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0].rfind("Two computers are using the name Office-Pc2.", 0), 0u)
        << notices[0];
}

// A name never heard from is looked up off the loop's thread, and a name too long to be a
// computer name not at all: with a name server that never answers, the loop runs on.
TEST_F(PeerUdpTest, NameLookUpsNeverHoldTheLoop)
{
    // A private view of /etc for this thread and the threads it makes from now on (the
    // look-up threads among them): a silent name server, and a hosts file.
    if (::unshare(CLONE_NEWNS) != 0 ||
        ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        GTEST_SKIP() << "cannot make a private mount namespace here";
    TempDir dir;
    std::ofstream(dir.File("resolv.conf"))
        << "nameserver 127.0.0.53\noptions timeout:3 attempts:1\n";
    std::ofstream(dir.File("hosts")) << "127.0.0.1 localhost\n127.0.0.1 Hosts-Pc\n";
    struct BindMount
    {
        const char* Target;
        bool Made;
        BindMount(const std::string& source, const char* target)
            : Target(target), Made(::mount(source.c_str(), target, nullptr, MS_BIND, nullptr) == 0)
        {}
        ~BindMount()
        {
            if (Made)
                ::umount(Target);
        }
    };
    BindMount resolver(dir.File("resolv.conf"), "/etc/resolv.conf");
    BindMount hosts(dir.File("hosts"), "/etc/hosts");
    if (!resolver.Made || !hosts.Made)
        GTEST_SKIP() << "cannot put a resolver configuration over /etc here";
    FakeComputer silentNameServer("127.0.0.53", 53);
    ASSERT_TRUE(silentNameServer.Bound());

    CUdpDatagramService service("Lab-Pc");
    ASSERT_TRUE(service.Open(PeerSlot::Data));
    int ticks = 0;
    qint64 longestGap = 0;
    QElapsedTimer sinceTick;
    sinceTick.start();
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        longestGap = std::max(longestGap, sinceTick.restart());
        ++ticks;
    });
    ticker.start(10);

    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(service.Write(PeerSlot::Ack, "A-Name-Longer-Than-15", "ack"));
    EXPECT_FALSE(service.Write(PeerSlot::Data, "Nobody-Heard", "lost"));
    EXPECT_FALSE(service.Write(PeerSlot::Data, "Hosts-Pc", "found in hosts"));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));

    // The name from the hosts file answers at once; the datagram waited for it.
    std::string bytes;
    EXPECT_TRUE(PumpUntil([&] { return service.Read(PeerSlot::Data, bytes); }, 3000));
    EXPECT_EQ(bytes, "found in hosts");
    PumpFor(300);
    EXPECT_GT(ticks, 10);
    EXPECT_LT(longestGap, 1000);
}

TEST_F(PeerUdpTest, FloodOfStrangersStaysBounded)
{
    CUdpDatagramService service("Lab-Pc");
    ASSERT_TRUE(service.Open(PeerSlot::Command));
    std::string bytes;
    int read = 0;
    for (int i = 0; i < 10000; ++i) {
        std::string datagram = "S";
        datagram += std::to_string(i);
        datagram += "\nEve\n\n1\n000/001\narrival";
        SendRaw(PeerSlot::Command, datagram);
        while (service.Read(PeerSlot::Command, bytes))
            ++read;
    }
    while (ReadWithin(service, PeerSlot::Command, bytes) && bytes != "end")
        ++read;
    EXPECT_GT(read, 0);
    EXPECT_LE(service.HeardCount(), CUdpDatagramService::kMaxHeard);
    SendRaw(PeerSlot::Command, "still served");
    ASSERT_TRUE(ReadWithin(service, PeerSlot::Command, bytes));
    EXPECT_EQ(bytes, "still served");
}

TEST_F(PeerUdpTest, TransportTalksToItselfOverLoopback)
{
    CSystemClock& clock = CSystemClock::Instance();
    CFixedUserName names("Ann");
    RecordingSink sink;
    CUdpPeerTransport transport(&sink, names, clock, "LAB-PC");
    EXPECT_EQ(transport.ComputerName(), "Lab-Pc");
    std::string error;
    ASSERT_TRUE(transport.LogOn("Ann", error)) << error;
    EXPECT_EQ(transport.Descriptors().size(), 3u);
    transport.SetSelfChat(true);
    transport.UpdateSelfChat();
    ASSERT_TRUE(transport.SendToAll("hello me", error));
    ASSERT_TRUE(transport.Send({"Ann", "Ann"}, "two of me", error));
    std::vector<ChatMessage> got;
    for (int i = 0; i < 100 && got.size() < 2; ++i) {
        std::vector<pollfd> fds;
        for (int fd : transport.Descriptors())
            fds.push_back({fd, POLLIN, 0});
        ::poll(fds.data(), fds.size(), 10);
        std::vector<ChatMessage> more;
        transport.GetMessages(more);
        got.insert(got.end(), more.begin(), more.end());
    }
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].Text, "two of me"); // the own copy is queued at once
    EXPECT_EQ(got[1].Text, "hello me");  // the broadcast comes back over the wire
    EXPECT_TRUE(got[1].Loopback);
    EXPECT_TRUE(got[1].AllUsers);
    EXPECT_EQ(got[1].Sender, "Ann");
    EXPECT_TRUE(sink.Saw("+Ann"));
    transport.LogOff();
    EXPECT_TRUE(transport.Descriptors().empty());
}

// Under an event loop an arrival is seen as it happens: the transport then asks for a poll
// at once, and once the slot is read empty it rests until the next datagram.
TEST_F(PeerUdpTest, AnArrivalAsksForAPollAtOnceUntilTheSlotIsRead)
{
    CManualClock clock;
    auto pollDueNow = [&](const CTransport& transport) {
        CNextWake wake(clock);
        transport.NextWake(wake);
        return wake.Milliseconds() == 0;
    };
    CFixedUserName names("Ann");
    RecordingSink sink;
    CUdpPeerTransport transport(&sink, names, clock, "LAB-PC");
    std::string error;
    ASSERT_TRUE(transport.LogOn("Ann", error)) << error;
    std::vector<ChatMessage> messages;
    ASSERT_TRUE(PumpUntil(
        [&] {
            transport.GetMessages(messages);
            return !pollDueNow(transport);
        },
        2000))
        << "the log-on's own announcements are read";

    for (int round = 0; round < 2; ++round) {
        SendRaw(PeerSlot::Ack, "not ours");
        EXPECT_TRUE(PumpUntil([&] { return pollDueNow(transport); }, 2000)) << round;
        transport.GetMessages(messages);
        EXPECT_FALSE(pollDueNow(transport)) << round;
    }
}

} // namespace
