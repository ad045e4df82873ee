#pragma once
// A network of simulated computers inside one process, for tests and benchmarks. Each
// computer gets a datagram service; a rule decides for every datagram on its way to one
// computer whether it is lost, repeated or held back (held-back datagrams overtake
// nothing until their time, so delays also reorder). Time is the given clock's ticks.
#include "net/DatagramService.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

class IClock;

struct SimDatagram
{
    std::string From; // sending computer
    std::string To;   // receiving computer (one of the hosts, also for "*")
    PeerSlot Slot = PeerSlot::Data;
    std::string Bytes;
};

struct SimFate
{
    int Copies = 1;       // 0 = lost
    uint32_t DelayMs = 0; // extra time on the way
};

class CSimNetwork
{
public:
    using Rule = std::function<SimFate(const SimDatagram&)>;

    explicit CSimNetwork(const IClock& clock) : m_clock(clock) {}
    CSimNetwork(const CSimNetwork&) = delete;
    CSimNetwork& operator=(const CSimNetwork&) = delete;

    void SetRule(Rule rule) { m_rule = std::move(rule); }
    // A slot holds at most this many unread datagrams; more are lost, as in a full buffer.
    void SetSlotLimit(size_t limit) { m_slotLimit = limit; }
    // Every write, as written ("*" kept in To), while tracing is on.
    void SetTracing(bool on) { m_tracing = on; }
    const std::vector<SimDatagram>& Trace() const { return m_trace; }
    void ClearTrace() { m_trace.clear(); }

    // Puts raw bytes into a computer's slot, as if some sender on the wire wrote them.
    void Inject(const std::string& to, PeerSlot slot, const std::string& bytes);
    size_t Waiting(const std::string& computer, PeerSlot slot) const;

private:
    friend class CSimDatagramService;
    struct Queued
    {
        uint32_t Due;
        uint64_t Order;
        std::string Bytes;
    };
    struct Host
    {
        std::string Name;
        const void* Owner[kPeerSlotCount] = {nullptr, nullptr, nullptr};
        std::deque<Queued> Slots[kPeerSlotCount];
    };

    Host& HostFor(const std::string& computer);
    Host* FindHost(const std::string& computer);
    const Host* FindHost(const std::string& computer) const;
    bool Open(const std::string& computer, PeerSlot slot, const void* owner);
    void Close(const std::string& computer, PeerSlot slot, const void* owner);
    bool Write(const std::string& from, PeerSlot slot, const std::string& to,
               const std::string& bytes);
    bool Read(const std::string& computer, PeerSlot slot, const void* owner, std::string& bytes);
    void Deliver(Host& host, const SimDatagram& datagram);

    const IClock& m_clock;
    Rule m_rule;
    size_t m_slotLimit = 100000;
    bool m_tracing = false;
    std::vector<SimDatagram> m_trace;
    std::map<std::string, Host> m_hosts; // folded name
    uint64_t m_order = 0;
};

// One simulated computer's datagram service.
class CSimDatagramService : public IDatagramService
{
public:
    CSimDatagramService(CSimNetwork& network, const std::string& computer);
    ~CSimDatagramService() override;

    bool Open(PeerSlot slot) override;
    void Close(PeerSlot slot) override;
    bool Write(PeerSlot slot, const std::string& computer, const std::string& bytes) override;
    bool Read(PeerSlot slot, std::string& bytes) override;

    const std::string& Computer() const { return m_computer; }

private:
    CSimNetwork& m_network;
    std::string m_computer;
};
