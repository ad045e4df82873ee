#include "platform/QuitOnSignal.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int g_signalPipe[2] = {-1, -1};

void OnSignal(int)
{
    char byte = 1;
    [[maybe_unused]] auto written = ::write(g_signalPipe[0], &byte, 1);
}

} // namespace

void QuitOnTerminationSignals()
{
    if (g_signalPipe[0] != -1)
        return;
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalPipe) != 0)
        return;
    auto* notifier =
        new QSocketNotifier(g_signalPipe[1], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [] {
        char byte;
        [[maybe_unused]] auto got = ::read(g_signalPipe[1], &byte, 1);
        // exit(), not quit(): quit() first asks every window to close, and the chat
        // window only hides when asked.
        QCoreApplication::exit(0);
    });
    struct sigaction action = {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}
