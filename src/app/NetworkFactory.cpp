#include "app/NetworkFactory.h"

#include "net/PeerTransport.h"
#include "net/UdpDatagramService.h"
#include "settings/Options.h"

namespace {

// The service must outlive the transport that writes through it: it is a base that is
// built first and destroyed last.
struct UdpServiceHolder
{
    std::unique_ptr<CUdpDatagramService> Service;
};

class CUdpPeerTransport : private UdpServiceHolder, public CPeerTransport
{
public:
    CUdpPeerTransport(CTransportSink* sink, const IUserNameSource& names, const IClock& clock,
                      const std::string& computer)
        : UdpServiceHolder{std::make_unique<CUdpDatagramService>(computer)},
          CPeerTransport(sink, names, clock, *Service, computer)
    {}
};

} // namespace

CNetworkFactory::CNetworkFactory(const COptions& options, const IClock& clock,
                                 std::string computerName)
    : m_options(options), m_clock(clock), m_computerName(std::move(computerName))
{}

CNetworkFactory::~CNetworkFactory() = default;

std::unique_ptr<CTransport> CNetworkFactory::CreatePeerTransport(CTransportSink* sink,
                                                                 const IUserNameSource& names)
{
    return std::make_unique<CUdpPeerTransport>(sink, names, m_clock, m_computerName);
}

std::unique_ptr<CTransport> CNetworkFactory::CreateClientTransport(CTransportSink*,
                                                                   const IUserNameSource&,
                                                                   const std::string&, int)
{
    return nullptr;
}

std::unique_ptr<IChatServer> CNetworkFactory::CreateServer()
{
    return nullptr;
}
