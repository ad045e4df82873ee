// Arbitrary datagrams into all three slots of a logged-on peer-to-peer transport that has
// messages of its own awaiting confirmation. Input: datagrams separated by the byte 0xFE;
// the first byte of each picks the slot.
#include "net/PeerTransport.h"
#include "net/SimNetwork.h"
#include "platform/Clock.h"

#include <cstddef>
#include <cstdint>
#include <string>

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

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    CManualClock clock;
    CSimNetwork network(clock);
    CSimDatagramService peerService(network, "Office-Pc2");
    CSimDatagramService ownService(network, "Lab-Pc");
    NoSink sink, peerSink;
    CFixedUserName name{"Ann"};
    CPeerTransport own(&sink, name, clock, ownService, "Lab-Pc");
    CPeerTransport peer(&peerSink, name, clock, peerService, "Office-Pc2");
    std::string error;
    own.LogOn("Ann", error);
    peer.LogOn("Bob", error);
    std::vector<ChatMessage> messages;
    own.GetMessages(messages);
    peer.GetMessages(messages);
    own.GetMessages(messages);
    own.Send({"Bob"}, std::string(700, 'x'), error);

    std::string input(reinterpret_cast<const char*>(data), size);
    size_t start = 0;
    while (start <= input.size()) {
        size_t end = input.find('\xFE', start);
        if (end == std::string::npos)
            end = input.size();
        if (end > start) {
            PeerSlot slot = static_cast<PeerSlot>(static_cast<unsigned char>(input[start]) % 3);
            network.Inject("Lab-Pc", slot, input.substr(start + 1, end - start - 1));
        }
        start = end + 1;
    }
    for (int tick = 0; tick < 3; ++tick) {
        own.GetMessages(messages);
        clock.Advance(2000);
    }
    return 0;
}
