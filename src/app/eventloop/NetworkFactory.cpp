#include "app/eventloop/NetworkFactory.h"

#include "net/BusyIndicator.h"
#include "net/PeerTransport.h"
#include "net/TcpIpChatServer.h"
#include "net/TcpIpClient.h"
#include "net/UdpPeerTransport.h"
#include "platform/NextWake.h"
#include "settings/Options.h"

namespace {

struct ClientSettingsHolder
{
    CFixedClientSettings Settings;
};

class CFixedAddressClient : private ClientSettingsHolder, public CTcpIpClient
{
public:
    CFixedAddressClient(CTransportSink* sink, const IUserNameSource& names, const IClock& clock,
                        const std::string& server, int port, IBusyIndicatorFactory& busy)
        : ClientSettingsHolder{CFixedClientSettings(server, port)},
          CTcpIpClient(sink, names, clock, Settings, busy)
    {}
};

} // namespace

CNetworkFactory::CNetworkFactory(const COptions& options, const IClock& clock,
                                 std::string computerName, IBusyIndicatorFactory* busy)
    : m_options(options), m_clock(clock), m_computerName(std::move(computerName)),
      m_ownBusy(busy ? nullptr : std::make_unique<CEventLoopBusyFactory>(kWaitLimitMs)),
      m_busy(busy ? *busy : *m_ownBusy)
{}

CNetworkFactory::~CNetworkFactory() = default;

std::unique_ptr<CTransport> CNetworkFactory::CreatePeerTransport(CTransportSink* sink,
                                                                 const IUserNameSource& names)
{
    return std::make_unique<CUdpPeerTransport>(sink, names, m_clock, m_computerName);
}

std::unique_ptr<CTransport> CNetworkFactory::CreateClientTransport(CTransportSink* sink,
                                                                   const IUserNameSource& names,
                                                                   const std::string& server,
                                                                   int port)
{
    return std::make_unique<CFixedAddressClient>(sink, names, m_clock, server, port, m_busy);
}

std::unique_ptr<IChatServer> CNetworkFactory::CreateServer()
{
    return std::make_unique<CTcpIpChatServer>(m_clock);
}
