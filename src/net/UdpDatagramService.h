#pragma once
// The datagram service on a real network: one UDP port per slot (34304, 34305, 34306),
// bound on every IPv4 address of this computer and never shared, so a second copy on the
// same computer cannot start. "*" is a broadcast on every up IPv4 interface (this computer
// hears its own); a named computer is reached where it was last heard from, else by name.
#include "net/DatagramService.h"

#include <cstdint>
#include <ctime>
#include <memory>
#include <netinet/in.h>
#include <string>
#include <unordered_map>
#include <vector>

class QSocketNotifier;

class CUdpDatagramService : public IDatagramService
{
public:
    static constexpr uint16_t kDefaultPortBase = 34304;
    // Bounds on what strangers can make us remember.
    static constexpr size_t kMaxHeard = 4096;
    static constexpr std::time_t kResolveCacheSeconds = 60;

    explicit CUdpDatagramService(const std::string& ownComputer,
                                 uint16_t portBase = kDefaultPortBase);
    ~CUdpDatagramService() override;
    CUdpDatagramService(const CUdpDatagramService&) = delete;
    CUdpDatagramService& operator=(const CUdpDatagramService&) = delete;

    bool Open(PeerSlot slot) override;
    void Close(PeerSlot slot) override;
    bool Write(PeerSlot slot, const std::string& computer, const std::string& bytes) override;
    bool Read(PeerSlot slot, std::string& bytes) override;
    // Under an event loop, a readable slot is seen as it happens (the loop wakes for it);
    // the slot is watched again once Read has emptied it.
    bool HasArrivals() const override;

    // The sockets of the open slots, so an event loop can wake when one becomes readable
    // (reads still go through Read).
    std::vector<int> Descriptors() const;
    size_t HeardCount() const { return m_heard.size(); }

private:
    struct Heard
    {
        in_addr Address;
        uint64_t Sequence;
    };
    struct Resolved
    {
        bool Found;
        in_addr Address;
        std::time_t Expires;
    };

    bool SendTo(in_addr address, PeerSlot slot, const std::string& bytes);
    bool Broadcast(PeerSlot slot, const std::string& bytes);
    bool Lookup(const std::string& computer, in_addr& address);
    void Watch(PeerSlot slot);
    void Remember(const std::string& datagram, in_addr from);

    std::string m_ownComputer; // folded
    uint16_t m_portBase;
    int m_sockets[kPeerSlotCount] = {-1, -1, -1};
    int m_sendSocket = -1;
    std::unique_ptr<QSocketNotifier> m_notifiers[kPeerSlotCount];
    bool m_arrived[kPeerSlotCount] = {};
    std::unordered_map<std::string, Heard> m_heard;       // folded name
    std::unordered_map<std::string, Resolved> m_resolved; // folded name
    uint64_t m_sequence = 0;
    std::vector<char> m_buffer;
};
