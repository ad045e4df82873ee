#pragma once
// The datagram service on a real network: one UDP port per slot (34304, 34305, 34306),
// bound on every IPv4 address of this computer and never shared, so a second copy on the
// same computer cannot start. "*" is a broadcast on every up IPv4 interface (this computer
// hears its own). A named computer is reached at the address it was first heard from
// while it is present; a name never heard from is looked up off the event loop's thread.
//
// Datagrams carry no proof of who sent them, so a name is bound to the first address that
// used it: a datagram naming that computer from another address is dropped while the
// computer is present (a conflict, told once through TakeNotices), else the new address
// takes the name over. Presence mirrors the transport's: a computer is present until it
// sends "departure", or until a rollcall goes unanswered for the presence time-out.
#include "net/DatagramService.h"
#include "platform/Clock.h"

#include <cstdint>
#include <ctime>
#include <memory>
#include <netinet/in.h>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

class QObject;
class QSocketNotifier;

class CUdpDatagramService : public IDatagramService
{
public:
    static constexpr uint16_t kDefaultPortBase = 34304;
    // Bounds on what strangers can make us remember.
    static constexpr size_t kMaxHeard = 4096;
    static constexpr std::time_t kResolveCacheSeconds = 60;
    // Look-ups of names never heard from: each holds a resolver thread for as long as the
    // name server takes (seconds when it does not answer), so only a few run at once.
    static constexpr size_t kMaxPendingLookups = 8;
    // Datagrams waiting for a look-up, per name: a long message is a few pieces.
    static constexpr size_t kMaxWaitingDatagrams = 64;

    explicit CUdpDatagramService(const std::string& ownComputer,
                                 uint16_t portBase = kDefaultPortBase,
                                 const IClock& clock = CSystemClock::Instance());
    ~CUdpDatagramService() override;
    CUdpDatagramService(const CUdpDatagramService&) = delete;
    CUdpDatagramService& operator=(const CUdpDatagramService&) = delete;

    bool Open(PeerSlot slot) override;
    void Close(PeerSlot slot) override;
    // A name that was never heard from is looked up without waiting (under an event loop
    // only): the datagram goes out when the answer comes, and false is returned now. A name
    // of more than 15 characters is no computer name and is never looked up.
    bool Write(PeerSlot slot, const std::string& computer, const std::string& bytes) override;
    // Datagrams naming a present computer from an address other than its own are dropped,
    // and so are datagrams longer than kPeerDatagramLimit (never read whole).
    bool Read(PeerSlot slot, std::string& bytes) override;
    // Under an event loop, a readable slot is seen as it happens (the loop wakes for it);
    // the slot is watched again once Read has emptied it.
    bool HasArrivals() const override;

    // The sockets of the open slots, so an event loop can wake when one becomes readable
    // (reads still go through Read).
    std::vector<int> Descriptors() const;
    size_t HeardCount() const { return m_heard.size(); }
    // Texts for the history that came up since the last call (name conflicts).
    std::vector<std::string> TakeNotices();

private:
    struct Heard
    {
        in_addr Address;
        uint64_t Sequence; // when last heard, in the order of everything heard
        bool Departed;
    };
    struct Waiting
    {
        PeerSlot Slot;
        std::string Bytes;
    };
    struct Resolved
    {
        bool Found;
        in_addr Address;
        std::time_t Expires;
    };

    bool SendTo(in_addr address, PeerSlot slot, const std::string& bytes);
    bool Broadcast(PeerSlot slot, const std::string& bytes);
    enum class Known
    {
        Yes,
        No,
        Ask, // never heard from and not looked up lately
    };
    Known Lookup(const std::string& folded, in_addr& address) const;
    // False when no look-up can start now (no event loop, or too many running).
    bool CanLookUp() const;
    // Looks up a name whose datagrams wait in m_waiting; they go out with the answer.
    void StartLookup(const std::string& computer, const std::string& folded);
    void OnLookedUp(const std::string& folded, bool found, in_addr address);
    void Watch(PeerSlot slot);
    bool Present(const Heard& heard, std::time_t now) const;
    // Binds the sender's name to `from`; false when the datagram must be dropped.
    bool Remember(PeerSlot slot, const std::string& datagram, in_addr from);
    bool DropOneAbsent(std::time_t now);
    void NoteCommand(const std::string& datagram, std::time_t now, Heard* sender);
    void ReportConflict(const std::string& computer, const Heard& kept, in_addr other);

    std::string m_ownComputer; // folded
    uint16_t m_portBase;
    const IClock& m_clock;
    int m_sockets[kPeerSlotCount] = {-1, -1, -1};
    int m_sendSocket = -1;
    std::unique_ptr<QSocketNotifier> m_notifiers[kPeerSlotCount];
    bool m_arrived[kPeerSlotCount] = {};
    std::unordered_map<std::string, Heard> m_heard;       // folded name
    std::unordered_map<std::string, Resolved> m_resolved; // folded name
    uint64_t m_sequence = 0;
    std::time_t m_lastRollcall = 0;              // 0 = none yet
    uint64_t m_rollcallSequence = 0;             // a computer heard after it has answered it
    std::unordered_set<std::string> m_conflicts; // folded names already told of
    std::vector<std::string> m_notices;
    std::unique_ptr<QObject> m_lookups;                              // answers die with it
    std::unordered_map<std::string, std::vector<Waiting>> m_waiting; // folded name
    std::vector<char> m_buffer;
};
