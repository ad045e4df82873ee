// Entry points of every mode of the program.
#include "app/ChatApp.h"
#include "app/DesktopShell.h"
#include "app/console/ConfigCommand.h"
#include "app/console/ConsoleFrontEnd.h"
#include "app/desktop/ChatDlg.h"
#include "app/eventloop/NetworkFactory.h"
#include "log/LogViewerDlg.h"
#include "net/ServerMain.h"
#include "net/UpgradeService.h"
#include "platform/Clock.h"
#include "platform/DisplayPlatform.h"
#include "platform/Identity.h"
#include "platform/QuitOnSignal.h"
#include "platform/SqliteRegistry.h"
#include "platform/SystemInfo.h"
#include "settings/UserSettings.h"
#include "ui/BusyIndicator.h"
#include "ui/WidgetPrompt.h"

#include <QApplication>
#include <QDir>
#include <QLibraryInfo>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <iostream>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>
#include <xcb/xcb.h>

namespace {

constexpr char kHelp[] = R"help(Usage: zibtam [/log] [OPTION...]

  zibtam                               the chat program (tray and chat window)
  zibtam /log                          the log viewer
  zibtam --server [--port N]           the client/server server alone, no window,
                                       until SIGINT/SIGTERM
  zibtam --console                     a terminal front end on the same networking,
                                       settings, log and auto-responder
  zibtam --send --to NAME[,NAME] TEXT  logs on, sends one message, waits for its
                                       delivery report, logs off; exit status 0 only
                                       when delivery was confirmed
  zibtam --config list                 lists the settings as the program reads
                                       them, with the stored value where it differs
  zibtam --config get NAME             prints one setting as the program reads it
                                       ("KEY\NAME" for subkeys)
  zibtam --config set NAME VALUE       stores one setting
  zibtam --config unset NAME           removes one setting
  zibtam --version                     the version, as the upgrade reads it
  zibtam --help                        this text

In the console, a typed line is sent; /to NAME, NAME (or /to all) chooses the
recipients, /later MINUTES TEXT schedules a message, /refresh asks everyone to
announce themselves, /who lists who is online, /help lists these, /quit ends.

Settings live in $XDG_CONFIG_HOME/zibtam/registry.sqlite3 (default ~/.config).
A copy of the program named "Zib Tam (Secondary)" runs beside the first one with
settings of its own.
)help";

std::string RegistryProblemText(const CSqliteRegistry& registry)
{
    return "Zib Tam cannot use its settings file\n" + registry.Path() + "\nbecause " +
           registry.ErrorText() +
           ".\n\nZib Tam runs with default settings and leaves the file as it is. To start "
           "afresh, move the file elsewhere.";
}

bool X11Opens(const std::string& display)
{
    xcb_connection_t* connection = xcb_connect(display.c_str(), nullptr);
    bool ok = xcb_connection_has_error(connection) == 0;
    xcb_disconnect(connection);
    return ok;
}

bool WaylandServes(const std::string& socketPath)
{
    sockaddr_un address{};
    if (socketPath.size() >= sizeof(address.sun_path))
        return false;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    bool ok = connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
    close(fd);
    return ok;
}

// Where the toolkit looks for its platform plugins, as it will when it starts.
bool WaylandPluginInstalled()
{
    const QString platforms = QStringLiteral("/platforms");
    QStringList folders = qEnvironmentVariable("QT_QPA_PLATFORM_PLUGIN_PATH")
                              .split(QLatin1Char(':'), Qt::SkipEmptyParts);
    for (const QString& folder :
         qEnvironmentVariable("QT_PLUGIN_PATH").split(QLatin1Char(':'), Qt::SkipEmptyParts))
        folders << folder + platforms;
    folders << QLibraryInfo::path(QLibraryInfo::PluginsPath) + platforms;
    for (const QString& folder : folders)
        if (!QDir(folder).entryList({QStringLiteral("libqwayland-*.so")}, QDir::Files).isEmpty())
            return true;
    return false;
}

// The toolkit aborts when it cannot open the platform it tries, so the one it can open is
// chosen here.
DisplayChoice ChooseDisplay()
{
    return ChooseDisplayPlatform({[](const char* name) {
                                      const char* value = std::getenv(name);
                                      return std::string(value ? value : "");
                                  },
                                  WaylandServes, WaylandPluginInstalled, X11Opens});
}

std::string JoinArguments(int argc, char** argv, int first)
{
    std::string line;
    for (int i = first; i < argc; ++i) {
        if (i > first)
            line += ' ';
        line += argv[i];
    }
    return line;
}

int RunChatProgram(int argc, char** argv, CSystemInfo& system)
{
    DisplayChoice display = ChooseDisplay();
    if (display.Platform == DisplayPlatform::None) {
        std::cerr << "zibtam: " << display.Why << "; the chat window needs a graphical desktop, "
                  << "so the console front end runs instead (zibtam --console).\n";
        return RunConsoleMode(argc, argv);
    }
    CUserSettings settings(system, argc > 0 ? argv[0] : "zibtam");
    bool secondary = settings.Secondary();
    COptions& options = settings.Options();
    // The web engine (tens of megabytes, and a GL context) only for the web page view.
    if (ModeFromCommandLine(JoinArguments(argc, argv, 1)) == InstanceMode::LogViewer &&
        options.Get(Opt::ClassicLogViewer) == 0)
        PrepareLogViewerProcess();
    // "-platform" on the command line rather than QT_QPA_PLATFORM in the environment, which
    // the programs we start (a browser, say) would inherit.
    std::vector<char*> qtArguments(argv, argv + argc);
    std::string platformOption = "-platform", platform = display.QtPlatform;
    if (!platform.empty())
        qtArguments.insert(qtArguments.begin() + 1, {platformOption.data(), platform.data()});
    int qtArgc = static_cast<int>(qtArguments.size());
    qtArguments.push_back(nullptr);
    QApplication app(qtArgc, qtArguments.data());
    app.setQuitOnLastWindowClosed(false);
    app.setApplicationName(secondary ? QStringLiteral("Zib Tam (Secondary)")
                                     : QStringLiteral("Zib Tam"));
    app.setWindowIcon(MakeApplicationIcon(secondary));
    // The desktop entry's name: the window's app id on Wayland, by which docks group it and
    // portals name it.
    QGuiApplication::setDesktopFileName(QString::fromLatin1(kDesktopEntryName));
    QuitOnTerminationSignals();
    system.SetWindowColor([] {
        QColor base = QApplication::palette().color(QPalette::Base);
        return static_cast<uint32_t>(base.red() | (base.green() << 8) | (base.blue() << 16));
    }());

    CWidgetPrompt prompt;
    CRandom random(static_cast<uint32_t>(std::time(nullptr)));
    CBusyIndicatorFactory busy;
    CNetworkFactory factory(options, CSystemClock::Instance(), system.ComputerName(), &busy);
    CDesktopShell shell(options, prompt, system, secondary,
                        ChatWindowServices{CSystemClock::Instance(), random, factory});
    ChatAppContext context{options,
                           prompt,
                           shell,
                           CSystemClock::Instance(),
                           random,
                           secondary,
                           JoinArguments(argc, argv, 1),
                           (std::filesystem::path(system.DataHome()) / "zibtam.log").string(),
                           settings.IsUsable() ? std::string()
                                               : RegistryProblemText(settings.Registry())};

    CChatApp chatApp(std::move(context));
    if (!chatApp.Initialise())
        return 0;
    if (CChatDlg* chat = shell.ChatWindow()) {
        busy.SetWindow(chat);
        prompt.SetParent(chat);
    }
    return app.exec();
}

} // namespace

int main(int argc, char** argv)
{
    CSystemInfo system;
    std::string first = argc > 1 ? argv[1] : "";

    if (first == "--help" || first == "-h") {
        std::cout << kHelp;
        return 0;
    }
    if (first == "--version") {
        std::cout << VersionAnswer();
        return 0;
    }
    if (first == "--config") {
        // The kind follows the name the program was started under, so a renamed link works.
        CUserSettings settings(system, argc > 0 ? argv[0] : "zibtam");
        if (!settings.IsUsable()) {
            std::cerr << "zibtam: cannot use the settings file " << settings.Registry().Path()
                      << ": " << settings.Registry().ErrorText() << '\n';
            return 1;
        }
        return RunConfigCommand(settings.Options(), std::vector<std::string>(argv + 2, argv + argc),
                                std::cout, std::cerr);
    }
    if (first == "--console")
        return RunConsoleMode(argc, argv);
    if (first == "--send")
        return RunSendMode(argc, argv);
    if (first == "--server")
        return RunServerMode(argc, argv);
    if (first.rfind("--", 0) == 0) {
        std::cerr << "zibtam: unknown option " << first << " (see zibtam --help)\n";
        return 2;
    }
    return RunChatProgram(argc, argv, system);
}
