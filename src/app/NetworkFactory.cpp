#include "app/NetworkFactory.h"

#include "net/BusyIndicator.h"
#include "net/PeerTransport.h"
#include "net/TcpIpClient.h"
#include "net/TcpIpServer.h"
#include "net/UdpDatagramService.h"
#include "net/UpgradeService.h"
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

bool ReadOwnExecutable(std::string& bytes)
{
    // The running program itself, whatever became of its file since it started.
    return ReadWholeFile("/proc/self/exe", bytes);
}

class CServerAdapter : public IChatServer
{
public:
    explicit CServerAdapter(const IClock& clock) : m_server(clock, ReadOwnExecutable) {}
    bool LoadPermissions(const std::string& path, std::string& error) override
    {
        return m_server.LoadPermissions(path, error);
    }
    bool Listen(int port, std::string& error) override { return m_server.Start(port, error); }
    void Poll() override { m_server.Poll(); }

private:
    CTcpIpServer m_server;
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
    return std::make_unique<CServerAdapter>(m_clock);
}
