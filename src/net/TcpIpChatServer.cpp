#include "net/TcpIpChatServer.h"

#include "net/TcpIpServer.h"
#include "net/UpgradeService.h"

CTcpIpChatServer::CTcpIpChatServer(const IClock& clock)
    // The download is the running program itself, whatever became of its file since.
    : m_server(std::make_unique<CTcpIpServer>(
          clock, [](std::string& bytes) { return ReadWholeFile("/proc/self/exe", bytes); }))
{}

CTcpIpChatServer::~CTcpIpChatServer() = default;

bool CTcpIpChatServer::LoadPermissions(const std::string& path, std::string& error)
{
    return m_server->LoadPermissions(path, error);
}

bool CTcpIpChatServer::Listen(int port, std::string& error)
{
    return m_server->Start(port, error);
}

void CTcpIpChatServer::Poll()
{
    m_server->Poll();
}

void CTcpIpChatServer::NextWake(CNextWake& wake) const
{
    m_server->NextWake(wake);
}
