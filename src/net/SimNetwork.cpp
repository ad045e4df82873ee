#include "net/SimNetwork.h"

#include "common/NameCase.h"
#include "net/Transport.h"
#include "platform/Clock.h"

#include <algorithm>

namespace {
size_t Index(PeerSlot slot)
{
    return static_cast<size_t>(slot);
}
} // namespace

CSimNetwork::Host& CSimNetwork::HostFor(const std::string& computer)
{
    Host& host = m_hosts[FoldNameCase(computer)];
    if (host.Name.empty())
        host.Name = computer;
    return host;
}

CSimNetwork::Host* CSimNetwork::FindHost(const std::string& computer)
{
    auto found = m_hosts.find(FoldNameCase(computer));
    return found == m_hosts.end() ? nullptr : &found->second;
}

const CSimNetwork::Host* CSimNetwork::FindHost(const std::string& computer) const
{
    auto found = m_hosts.find(FoldNameCase(computer));
    return found == m_hosts.end() ? nullptr : &found->second;
}

bool CSimNetwork::Open(const std::string& computer, PeerSlot slot, const void* owner)
{
    Host& host = HostFor(computer);
    const void*& current = host.Owner[Index(slot)];
    if (current && current != owner)
        return false;
    if (!current)
        host.Slots[Index(slot)].clear();
    current = owner;
    return true;
}

void CSimNetwork::Close(const std::string& computer, PeerSlot slot, const void* owner)
{
    Host* host = FindHost(computer);
    if (host && host->Owner[Index(slot)] == owner) {
        host->Owner[Index(slot)] = nullptr;
        host->Slots[Index(slot)].clear();
    }
}

bool CSimNetwork::Write(const std::string& from, PeerSlot slot, const std::string& to,
                        const std::string& bytes)
{
    if (m_tracing)
        m_trace.push_back(SimDatagram{from, to, slot, bytes});
    if (to == "*") {
        for (auto& [key, host] : m_hosts)
            Deliver(host, SimDatagram{from, host.Name, slot, bytes});
        return true;
    }
    Host* host = FindHost(to);
    if (!host)
        return false; // the name cannot be resolved
    Deliver(*host, SimDatagram{from, host->Name, slot, bytes});
    return true;
}

void CSimNetwork::Deliver(Host& host, const SimDatagram& datagram)
{
    SimFate fate = m_rule ? m_rule(datagram) : SimFate{};
    std::deque<Queued>& queue = host.Slots[Index(datagram.Slot)];
    uint32_t now = m_clock.TickCount();
    for (int copy = 0; copy < fate.Copies; ++copy) {
        if (!host.Owner[Index(datagram.Slot)] || queue.size() >= m_slotLimit)
            return;
        Queued item{now + fate.DelayMs, m_order++, datagram.Bytes};
        // Ordered by the time each becomes readable, then by the order of writing.
        auto at = std::upper_bound(queue.begin(), queue.end(), item,
                                   [now](const Queued& a, const Queued& b) {
                                       int32_t da = static_cast<int32_t>(a.Due - now);
                                       int32_t db = static_cast<int32_t>(b.Due - now);
                                       return da != db ? da < db : a.Order < b.Order;
                                   });
        queue.insert(at, std::move(item));
    }
}

bool CSimNetwork::Read(const std::string& computer, PeerSlot slot, const void* owner,
                       std::string& bytes)
{
    Host* host = FindHost(computer);
    if (!host || host->Owner[Index(slot)] != owner)
        return false;
    std::deque<Queued>& queue = host->Slots[Index(slot)];
    if (queue.empty() || static_cast<int32_t>(m_clock.TickCount() - queue.front().Due) < 0)
        return false;
    bytes = std::move(queue.front().Bytes);
    queue.pop_front();
    return true;
}

void CSimNetwork::Inject(const std::string& to, PeerSlot slot, const std::string& bytes)
{
    if (Host* host = FindHost(to)) {
        std::deque<Queued>& queue = host->Slots[Index(slot)];
        if (host->Owner[Index(slot)] && queue.size() < m_slotLimit)
            queue.push_back(Queued{m_clock.TickCount(), m_order++, bytes});
    }
}

size_t CSimNetwork::Waiting(const std::string& computer, PeerSlot slot) const
{
    const Host* host = FindHost(computer);
    return host ? host->Slots[Index(slot)].size() : 0;
}

CSimDatagramService::CSimDatagramService(CSimNetwork& network, const std::string& computer)
    : m_network(network), m_computer(computer)
{
    m_network.HostFor(computer);
}

CSimDatagramService::~CSimDatagramService()
{
    for (int slot = 0; slot < kPeerSlotCount; ++slot)
        m_network.Close(m_computer, static_cast<PeerSlot>(slot), this);
}

bool CSimDatagramService::Open(PeerSlot slot)
{
    return m_network.Open(m_computer, slot, this);
}

void CSimDatagramService::Close(PeerSlot slot)
{
    m_network.Close(m_computer, slot, this);
}

bool CSimDatagramService::Write(PeerSlot slot, const std::string& computer,
                                const std::string& bytes)
{
    return m_network.Write(m_computer, slot, computer, bytes);
}

bool CSimDatagramService::Read(PeerSlot slot, std::string& bytes)
{
    return m_network.Read(m_computer, slot, this, bytes);
}
