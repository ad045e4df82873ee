#include "net/ServerMain.h"

#include "net/TcpIpChatServer.h"
#include "net/TcpIpServer.h"
#include "platform/Clock.h"
#include "platform/DeadlinePoll.h"
#include "platform/QuitOnSignal.h"
#include "platform/SystemInfo.h"
#include "settings/Options.h"
#include "settings/OptionsPages.h"
#include "settings/UserSettings.h"

#include <QCoreApplication>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

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

    // Polled after what the loop handles and at the server's next idle limit, not on a tick.
    CDeadlinePoll poll(
        CSystemClock::Instance(), [&server] { server.Poll(); },
        [&server](CNextWake& wake) { server.NextWake(wake); });
    poll.Start();

    int status = app.exec();
    poll.Stop();
    server.CloseAll();
    server.Poll(); // deletes the closed connections
    return status;
}
