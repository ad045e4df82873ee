#pragma once
// The server of the client/server mode as the program runs it: in a copy whose networking
// is "Server" (the chat window's or the console's) and alone (`zibtam --server`). Both
// start it the same way: the permissions file when there is one, then the port.
// CTcpIpChatServer (TcpIpChatServer.h) is the real one.
#include <string>

class CNextWake;

inline constexpr char kPermissionsFailed[] = "The server could not load permissions.\n\n%s";

// The server as the networking manager drives it; tests put a fake in its place.
class IChatServer
{
public:
    virtual ~IChatServer() = default;
    virtual bool LoadPermissions(const std::string& path, std::string& error) = 0;
    virtual bool Listen(int port, std::string& error) = 0;
    // Periodic work, from the poll.
    virtual void Poll() = 0;
    // When Poll next has work without anything arriving.
    virtual void NextWake(CNextWake&) const {}
};

// Loads the permissions file when there is one, then listens on `port`.
bool StartChatServer(IChatServer& server, const std::string& permissionsPath, int port,
                     std::string& error);
