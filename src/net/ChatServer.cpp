#include "net/ChatServer.h"

#include "common/FormatText.h"

#include <filesystem>

bool StartChatServer(IChatServer& server, const std::string& permissionsPath, int port,
                     std::string& error)
{
    std::error_code exists;
    std::string loadError;
    if (!permissionsPath.empty() && std::filesystem::exists(permissionsPath, exists) &&
        !server.LoadPermissions(permissionsPath, loadError)) {
        error = FormatWithText(kPermissionsFailed, loadError);
        return false;
    }
    return server.Listen(port, error);
}
