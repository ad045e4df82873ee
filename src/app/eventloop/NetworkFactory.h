#pragma once
// The transports and the server of a real run: peer-to-peer over UDP, the client/server
// client and server over TCP, waiting in nested event loops.
#include "app/session/NetworkManager.h"

#include <memory>
#include <string>

class COptions;
class IBusyIndicatorFactory;
class IClock;

class CNetworkFactory : public ITransportFactory
{
public:
    // `busy` runs the waits of the client (the chat window's busy indicator); without
    // one, waits run a plain nested event loop that gives up after kWaitLimitMs.
    CNetworkFactory(const COptions& options, const IClock& clock, std::string computerName,
                    IBusyIndicatorFactory* busy = nullptr);
    ~CNetworkFactory() override;

    std::unique_ptr<CTransport> CreatePeerTransport(CTransportSink* sink,
                                                    const IUserNameSource& names) override;
    std::unique_ptr<CTransport> CreateClientTransport(CTransportSink* sink,
                                                      const IUserNameSource& names,
                                                      const std::string& server, int port) override;
    std::unique_ptr<IChatServer> CreateServer() override;

    // Without a Cancel button, a wait for a server that never answers ends after this.
    static constexpr int kWaitLimitMs = 20000;

private:
    const COptions& m_options;
    const IClock& m_clock;
    std::string m_computerName;
    std::unique_ptr<IBusyIndicatorFactory> m_ownBusy;
    IBusyIndicatorFactory& m_busy;
};
