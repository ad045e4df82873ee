#pragma once
// The peer-to-peer transport as the controller makes it: over UDP, owning its service.
#include "net/PeerTransport.h"
#include "net/UdpDatagramService.h"

// Holds the service so that it is made before, and outlives, the transport that uses it.
class CUdpServiceHolder
{
protected:
    CUdpServiceHolder(const std::string& computer, uint16_t portBase, const IClock& clock)
        : m_udp(NormalizeComputerName(computer), portBase, clock)
    {}
    CUdpDatagramService m_udp;
};

class CUdpPeerTransport : private CUdpServiceHolder, public CPeerTransport
{
public:
    // `computer` as ISystemInfo::ComputerName gives it; the letter case is applied here.
    CUdpPeerTransport(CTransportSink* sink, const IUserNameSource& names, const IClock& clock,
                      const std::string& computer,
                      uint16_t portBase = CUdpDatagramService::kDefaultPortBase)
        : CUdpServiceHolder(computer, portBase, clock),
          CPeerTransport(sink, names, clock, m_udp, computer)
    {}

    // What the network brought, and then what the service has to tell (two computers
    // using one name), in the history and the log.
    void Receive(std::vector<ChatMessage>& messages) override
    {
        CPeerTransport::Receive(messages);
        for (const std::string& notice : m_udp.TakeNotices())
            PostSystemMessage(notice, true);
    }

    // Sockets to watch (QSocketNotifier): when one is readable, GetMessages has work.
    std::vector<int> Descriptors() const { return m_udp.Descriptors(); }
};
