#pragma once
// The chat session's networking (the chat window's and the console's): owns the one current
// transport (the null transport while not connected) and, when this copy is the server, the server.
// Start builds them from the settings; ApplySettings restarts only what a change of the options
// requires.
#include "net/ChatServer.h"
#include "net/Transport.h"
#include "settings/Options.h"

#include <memory>
#include <string>
#include <vector>

class CNextWake;
class IClock;

// Makes the concrete transports and the server. A null result stands for a mode that
// cannot run here; the manager then keeps the null transport, whose log-on fails.
class ITransportFactory
{
public:
    virtual ~ITransportFactory() = default;
    virtual std::unique_ptr<CTransport> CreatePeerTransport(CTransportSink* sink,
                                                            const IUserNameSource& names) = 0;
    virtual std::unique_ptr<CTransport> CreateClientTransport(CTransportSink* sink,
                                                              const IUserNameSource& names,
                                                              const std::string& server,
                                                              int port) = 0;
    virtual std::unique_ptr<IChatServer> CreateServer() = 0;
};

// What Start last built from.
struct NetworkSnapshot
{
    std::string UserName;
    NetworkingType Type = NetworkingType::NotChosen;
    int PortNumber = 0;
    std::string Server;
};

struct RestartFlags
{
    bool Server = false;
    bool Client = false;
    bool operator==(const RestartFlags&) const = default;
};

// Which of server and client a change of the options restarts.
RestartFlags RestartFlagsFor(const NetworkSnapshot& before, const NetworkSnapshot& now);

class CNetworkManager
{
public:
    CNetworkManager(COptions& options, const IClock& clock, ITransportFactory& factory,
                    CTransportSink& sink);
    ~CNetworkManager();
    CNetworkManager(const CNetworkManager&) = delete;
    CNetworkManager& operator=(const CNetworkManager&) = delete;

    bool Start(bool restartServer, bool restartClient, std::string& error);
    bool Restart(std::string& error);
    void Stop();
    bool ApplySettings(std::string& error);
    void PollServer();
    // When the transport or the server next needs the poll.
    void NextWake(CNextWake& wake) const;
    bool GetUpgradeURL(std::string& url) { return m_transport->GetUpgradeURL(url); }

    CTransport& Transport() { return *m_transport; }
    const CTransport& Transport() const { return *m_transport; }
    bool IsConnected() const { return m_connected; }
    bool HasServer() const { return m_server != nullptr; }
    const NetworkSnapshot& Snapshot() const { return m_snapshot; }
    // The settings as a snapshot would record them now.
    NetworkSnapshot CurrentSettings() const;
    // The other computers the peer-to-peer transport has heard from; none in the other
    // modes, where the server knows who is where.
    std::vector<std::string> HeardComputers() const;

    // Transports taken down are deleted here, from the poll, never while one of their
    // own calls may still be running further up the stack.
    void DeleteRetired() { m_retired.clear(); }

    static constexpr const char* kServerAddress = "127.0.0.1";

private:
    std::unique_ptr<CTransport> MakeNullTransport();
    // Takes down what a failed start left (the transport that was logging on, if still
    // current); returns false.
    bool Fail(const CTransport* loggingOn);
    void Retire(std::unique_ptr<CTransport> transport);
    void TakeSnapshot();

    COptions& m_options;
    const IClock& m_clock;
    ITransportFactory& m_factory;
    CTransportSink& m_sink;
    COptionsUserName m_names;
    std::unique_ptr<CTransport> m_transport;
    std::unique_ptr<IChatServer> m_server;
    std::vector<std::unique_ptr<CTransport>> m_retired;
    bool m_connected = false;
    bool m_keepServer = false;
    NetworkSnapshot m_snapshot;
};
