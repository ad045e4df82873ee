// The UDP datagram service on loopback. The whole test process moves into a network
// namespace of its own first, so the fixed ports clash with nothing and no datagram
// leaves this process's private loopback.
#include "PeerTestSupport.h"
#include "PumpSupport.h"
#include "net/PeerTransport.h"
#include "net/UdpDatagramService.h"
#include "net/UdpPeerTransport.h"
#include "platform/Clock.h"
#include "platform/NextWake.h"

#include <arpa/inet.h>
#include <cstdlib>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
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

    std::string large(65000, 'z');
    SendRaw(PeerSlot::Data, large);
    ASSERT_TRUE(ReadWithin(service, PeerSlot::Data, bytes));
    EXPECT_EQ(bytes, large);

    // The own name and "*" both come back here (no broadcast interface in this namespace).
    ASSERT_TRUE(service.Write(PeerSlot::Data, "LAB-PC", "to myself"));
    ASSERT_TRUE(ReadWithin(service, PeerSlot::Data, bytes));
    EXPECT_EQ(bytes, "to myself");
    ASSERT_TRUE(service.Write(PeerSlot::Data, "*", "to everyone"));
    ASSERT_TRUE(ReadWithin(service, PeerSlot::Data, bytes));
    EXPECT_EQ(bytes, "to everyone");
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
