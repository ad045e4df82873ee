#pragma once
// The peer-to-peer transport as the controller makes it: over UDP, owning its service.
#include "net/PeerTransport.h"
#include "net/UdpDatagramService.h"

// Holds the service so that it is made before, and outlives, the transport that uses it.
class CUdpServiceHolder
{
protected:
    explicit CUdpServiceHolder(const std::string& computer, uint16_t portBase)
        : m_udp(NormalizeComputerName(computer), portBase)
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
        : CUdpServiceHolder(computer, portBase), CPeerTransport(sink, names, clock, m_udp, computer)
    {}

    // Sockets to watch (QSocketNotifier): when one is readable, GetMessages has work.
    std::vector<int> Descriptors() const { return m_udp.Descriptors(); }
};
