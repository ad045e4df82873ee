#include "app/ServerMain.h"

#include "app/NetworkFactory.h"
#include "app/UserSettings.h"
#include "net/TcpIpServer.h"
#include "platform/Clock.h"
#include "platform/QuitOnSignal.h"
#include "platform/SystemInfo.h"
#include "settings/Options.h"
#include "settings/OptionsPages.h"

#include <QCoreApplication>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

namespace {

// The chat window polls the server from its fastest timer; the platform's minimum is 10 ms.
constexpr int kPollIntervalMs = 10;

} // namespace

int RunServerMode(int argc, char** argv)
{
    int port = -1;
    for (int i = 2; i < argc; ++i) {
        std::string argument = argv[i];
        if (argument == "--port" && i + 1 < argc && ParsePortText(argv[i + 1], port)) {
            ++i;
            continue;
        }
        std::cerr << "zibtam: usage: zibtam --server [--port N]\n";
        return 2;
    }

    QCoreApplication app(argc, argv);
    QuitOnTerminationSignals();

    CSystemInfo system;
    CUserSettings settings(system, argc > 0 ? argv[0] : "zibtam");
    COptions& options = settings.Options();
    if (port < 0)
        port = options.Get(Opt::PortNumber);

    CTcpIpChatServer chatServer(CSystemClock::Instance());
    CTcpIpServer& server = chatServer.Server();
    std::string error;
    if (!StartChatServer(chatServer, options.GetPermissionsPath(), port, error)) {
        std::cerr << error << '\n';
        return 1;
    }
    std::cout << "Zib Tam server listening on port " << server.Port() << ", room for "
              << CTcpIpServer::ConnectionCapacity() << " connections" << std::endl;

    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &server, [&server] { server.Poll(); });
    poll.start(kPollIntervalMs);

    int status = app.exec();
    poll.stop();
    server.CloseAll();
    server.Poll(); // deletes the closed connections
    return status;
}
