// Receive-path cost of the peer-to-peer transport per datagram on the simulated network:
// parse, assemble, acknowledge and hand over as a chat message. And the cost of taking a
// datagram off a real UDP slot on loopback, a conforming piece against an oversized one
// (run in a network namespace: the slots' ports are fixed).
#include "net/PeerPacket.h"
#include "net/PeerTransport.h"
#include "net/SimNetwork.h"
#include "net/UdpDatagramService.h"
#include "platform/Clock.h"

#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

class NoSink : public CTransportSink
{
protected:
    void OnConnected() override {}
    void OnDisconnected() override {}
    void OnUserArrived(const std::string&) override {}
    void OnUserDeparted(const std::string&) override {}
    void OnUserRenamed(const std::string&, const std::string&) override {}
};

// Datagrams of `messages` messages of `pieces` pieces each from Lab-Pc to Office-Pc2.
std::vector<std::string> MakeTraffic(int messages, int pieces, int firstId)
{
    std::vector<std::string> traffic;
    PeerPacket packet;
    packet.Computer = "Lab-Pc";
    packet.UserName = "Ann";
    packet.RecipientComputers = {"Office-Pc2"};
    packet.RecipientNames = {"Bob"};
    size_t room = kPeerDatagramLimit - FormatPeerHeader(packet, 0, 1).size();
    for (int m = 0; m < messages; ++m) {
        packet.Id = std::to_string(firstId + m);
        std::vector<std::string> datagrams;
        MakePeerDatagrams(packet, std::string(room * static_cast<size_t>(pieces) - 10, 'x'),
                          datagrams);
        traffic.insert(traffic.end(), datagrams.begin(), datagrams.end());
    }
    return traffic;
}

void ReceivePath(benchmark::State& state)
{
    const int pieces = static_cast<int>(state.range(0));
    constexpr int kBatch = 256; // datagrams per poll
    CManualClock clock;
    CSimNetwork network(clock);
    CSimDatagramService sender(network, "Lab-Pc"); // slots closed: acknowledgements vanish
    CSimDatagramService receiverService(network, "Office-Pc2");
    CFixedUserName name{"Bob"};
    NoSink sink;
    CPeerTransport receiver(&sink, name, clock, receiverService, "Office-Pc2");
    std::string error;
    receiver.LogOn("Bob", error);

    int nextId = 1000;
    int64_t datagrams = 0;
    std::vector<ChatMessage> messages;
    for (auto _ : state) {
        state.PauseTiming();
        std::vector<std::string> traffic = MakeTraffic(kBatch / pieces, pieces, nextId);
        nextId += kBatch / pieces;
        for (const std::string& datagram : traffic)
            network.Inject("Office-Pc2", PeerSlot::Data, datagram);
        clock.Advance(10);
        state.ResumeTiming();
        receiver.Receive(messages);
        benchmark::DoNotOptimize(messages.data());
        datagrams += static_cast<int64_t>(traffic.size());
        messages.clear();
    }
    state.SetItemsProcessed(datagrams);
}
BENCHMARK(ReceivePath)->Arg(1)->Arg(4)->Unit(benchmark::kMicrosecond);

// Parsing alone, for comparison with the whole path.
void ParseOnly(benchmark::State& state)
{
    std::vector<std::string> traffic = MakeTraffic(256, 1, 1000);
    int64_t datagrams = 0;
    for (auto _ : state) {
        for (const std::string& datagram : traffic) {
            PeerPacket packet;
            int count = 0;
            benchmark::DoNotOptimize(ParsePeerDatagram(datagram, packet, count));
        }
        datagrams += static_cast<int64_t>(traffic.size());
    }
    state.SetItemsProcessed(datagrams);
}
BENCHMARK(ParseOnly)->Unit(benchmark::kMicrosecond);

// Datagrams read off the data slot per second: a conforming piece (range 0) against one of
// 64 KB, beyond anything the protocol sends (range 1). A batch fits the slot's buffer.
void UdpRead(benchmark::State& state)
{
    constexpr int kBatch = 12;
    CUdpDatagramService service("Office-Pc2");
    if (!service.Open(PeerSlot::Data)) {
        state.SkipWithError("the data slot's port is taken (run in a network namespace)");
        return;
    }
    std::string datagram = MakeTraffic(1, 1, 1000).front();
    if (state.range(0) == 1)
        datagram += std::string(65000 - datagram.size(), 'x');
    int sender = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(CUdpDatagramService::kDefaultPortBase);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string bytes;
    int64_t datagrams = 0;
    for (auto _ : state) {
        state.PauseTiming();
        for (int i = 0; i < kBatch; ++i)
            ::sendto(sender, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&to),
                     sizeof to);
        state.ResumeTiming();
        while (service.Read(PeerSlot::Data, bytes))
            benchmark::DoNotOptimize(bytes.data());
        datagrams += kBatch;
    }
    ::close(sender);
    state.SetItemsProcessed(datagrams);
}
BENCHMARK(UdpRead)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
