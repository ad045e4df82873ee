#include "app/session/NetworkManager.h"

#include "common/NameCase.h"
#include "net/PeerTransport.h"
#include "platform/Clock.h"
#include "platform/NextWake.h"
#include "settings/Options.h"

#include <string_view>

namespace {

constexpr NetworkingType kPeer = NetworkingType::PeerToPeer;
constexpr NetworkingType kClient = NetworkingType::Client;
constexpr NetworkingType kServer = NetworkingType::Server;

// Sets a flag for the life of a scope.
class FlagScope
{
public:
    explicit FlagScope(bool& flag) : m_flag(flag), m_old(flag) { m_flag = true; }
    ~FlagScope() { m_flag = m_old; }

private:
    bool& m_flag;
    bool m_old;
};

} // namespace

RestartFlags RestartFlagsFor(const NetworkSnapshot& before, const NetworkSnapshot& now)
{
    NetworkingType oldType = before.Type;
    NetworkingType newType = now.Type;
    if (oldType == kPeer)
        return {newType == kServer, newType != kPeer};
    switch (newType) {
    case kPeer:
        return {oldType == kServer, true};
    case kServer: {
        bool restart = !(oldType == kServer && before.PortNumber == now.PortNumber);
        return {restart, restart};
    }
    case kClient:
        return {oldType == kServer, oldType == kServer || before.PortNumber != now.PortNumber ||
                                        !NamesEqualNoCase(before.Server, now.Server)};
    default:
        return {false, false};
    }
}

CNetworkManager::CNetworkManager(COptions& options, const IClock& clock, ITransportFactory& factory,
                                 CTransportSink& sink)
    : m_options(options), m_clock(clock), m_factory(factory), m_sink(sink), m_names(options),
      m_transport(MakeNullTransport())
{}

CNetworkManager::~CNetworkManager()
{
    Stop();
    m_retired.clear();
}

NetworkSnapshot CNetworkManager::CurrentSettings() const
{
    NetworkSnapshot now;
    now.UserName = m_options.GetUserName();
    now.Type = m_options.GetNetworkingType();
    now.PortNumber = m_options.Get(Opt::PortNumber);
    now.Server = m_options.Get(Opt::Server);
    return now;
}

bool CNetworkManager::Start(bool restartServer, bool restartClient, std::string& error)
{
    error.clear();
    std::string name = m_options.GetUserName();
    bool nameChanged = name != m_snapshot.UserName;
    NetworkingType type = m_options.GetNetworkingType();

    if (restartServer) {
        m_server.reset();
        if (type == kServer) {
            m_server = m_factory.CreateServer();
            // Without a server in this build the client below finds nobody to log on to.
            if (m_server && !StartChatServer(*m_server, m_options.GetPermissionsPath(),
                                             m_options.Get(Opt::PortNumber), error))
                return Fail(nullptr);
        }
    }

    if (!restartClient) {
        if (nameChanged && !m_connected) {
            restartClient = true;
        } else {
            if (nameChanged) {
                std::string renameError;
                if (!m_transport->ChangeUserName(name, renameError))
                    m_options.Set(Opt::Username, m_snapshot.UserName);
            }
            TakeSnapshot();
            return true;
        }
    }

    std::unique_ptr<CTransport> old = std::move(m_transport);
    m_transport = MakeNullTransport();
    m_connected = false;
    old->LogOff();
    {
        // The sink answers a lost connection with Stop; the server made above stays.
        FlagScope keep(m_keepServer);
        m_sink.NotifyDisconnected();
    }
    Retire(std::move(old));

    std::unique_ptr<CTransport> made;
    if (type == kPeer)
        made = m_factory.CreatePeerTransport(&m_sink, m_names);
    else
        made = m_factory.CreateClientTransport(
            &m_sink, m_names, type == kServer ? kServerAddress : m_options.Get(Opt::Server),
            m_options.Get(Opt::PortNumber));
    if (!made)
        made = MakeNullTransport();
    Retire(std::move(m_transport));
    m_transport = std::move(made);
    CTransport* loggingOn = m_transport.get();
    bool loggedOn = m_transport->LogOn(name, error);
    // A connection lost again while logging on has already been taken down.
    if (loggedOn && m_transport.get() == loggingOn) {
        m_connected = true;
        TakeSnapshot();
        return true;
    }
    if (loggedOn && error.empty())
        error = CTransport::kNotConnectedLogOn;
    return Fail(loggingOn);
}

bool CNetworkManager::Fail(const CTransport* loggingOn)
{
    if (loggingOn && m_transport.get() == loggingOn) {
        Retire(std::move(m_transport));
        m_transport = MakeNullTransport();
    }
    Stop();
    TakeSnapshot();
    return false;
}

bool CNetworkManager::Restart(std::string& error)
{
    if (m_connected)
        Stop();
    return Start(true, true, error);
}

void CNetworkManager::Stop()
{
    if (!m_keepServer)
        m_server.reset();
    if (!m_connected)
        return;
    m_connected = false;
    std::unique_ptr<CTransport> old = std::move(m_transport);
    m_transport = MakeNullTransport();
    old->LogOff();
    m_sink.NotifyDisconnected();
    Retire(std::move(old));
}

bool CNetworkManager::ApplySettings(std::string& error)
{
    RestartFlags flags = RestartFlagsFor(m_snapshot, CurrentSettings());
    return Start(flags.Server, flags.Client, error);
}

void CNetworkManager::PollServer()
{
    if (m_server)
        m_server->Poll();
}

void CNetworkManager::NextWake(CNextWake& wake) const
{
    Transport().NextWake(wake);
    if (m_server)
        m_server->NextWake(wake);
}

std::unique_ptr<CTransport> CNetworkManager::MakeNullTransport()
{
    return std::make_unique<CTransport>(&m_sink, m_names, m_clock);
}

void CNetworkManager::Retire(std::unique_ptr<CTransport> transport)
{
    if (transport)
        m_retired.push_back(std::move(transport));
}

void CNetworkManager::TakeSnapshot()
{
    bool selfChat = m_options.Get(Opt::SelfChat) != 0;
    if (m_transport->SelfChat() != selfChat) {
        m_transport->SetSelfChat(selfChat);
        m_transport->UpdateSelfChat();
    }
    m_snapshot = CurrentSettings();
}

std::vector<std::string> CNetworkManager::HeardComputers() const
{
    std::vector<std::string> computers;
    const auto* peer = dynamic_cast<const CPeerTransport*>(m_transport.get());
    if (!peer)
        return computers;
    for (size_t i = 1; i < peer->Users().size(); ++i) // [0] is this computer
        computers.push_back(peer->Users()[i].Computer);
    return computers;
}
