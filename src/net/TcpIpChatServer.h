#pragma once
// The client/server server of a real run (CTcpIpServer behind IChatServer); its upgrade
// download is the running program.
#include "net/ChatServer.h"

#include <memory>
#include <string>

class CTcpIpServer;
class IClock;

class CTcpIpChatServer : public IChatServer
{
public:
    explicit CTcpIpChatServer(const IClock& clock);
    ~CTcpIpChatServer() override;
    bool LoadPermissions(const std::string& path, std::string& error) override;
    bool Listen(int port, std::string& error) override;
    void Poll() override;
    void NextWake(CNextWake& wake) const override;
    CTcpIpServer& Server() { return *m_server; }

private:
    std::unique_ptr<CTcpIpServer> m_server;
};
