#include "app/DesktopShell.h"

#include "app/desktop/ChatDlg.h"
#include "app/desktop/ProgramIcons.h"
#include "common/BuildDate.h"
#include "log/LogViewerDlg.h"
#include "platform/Identity.h"
#include "platform/Prompt.h"
#include "platform/QtText.h"
#include "platform/SystemInfo.h"
#include "setup/SetupDlg.h"
#include "ui/AboutDlg.h"
#include "ui/OptionsSheet.h"

#include <QApplication>
#include <QEventLoop>
#include <QLabel>
#include <QVBoxLayout>

QIcon MakeApplicationIcon(bool secondary)
{
    return ProgramIcon(InstanceIdentity::For(secondary).LargeIcon);
}

CDesktopShell::CDesktopShell(COptions& options, IPrompt& prompt, const ISystemInfo& system,
                             bool secondary, ChatWindowServices services)
    : m_options(options), m_prompt(prompt), m_system(system), m_secondary(secondary),
      m_services(services)
{}

CDesktopShell::~CDesktopShell()
{
    delete m_chat;
}

bool CDesktopShell::HandleSetupCommandLine(const std::string& commandLine)
{
    CSystemInfo system;
    return RunSetupAtStart(m_options, m_prompt, system, m_secondary, commandLine,
                           MakeApplicationIcon(m_secondary));
}

void CDesktopShell::RunLogViewer()
{
    QWidget* view = nullptr;
    ILogHistoryView* history = nullptr;
    if (m_options.Get(Opt::ClassicLogViewer) != 0) {
        auto* classic = new CClassicLogView(m_prompt, nullptr);
        view = classic;
        history = classic;
    } else {
        auto* html = new CHtmlLogView(m_options.GetLogTempPath(), nullptr);
        view = html;
        history = html;
    }
    CLogViewerDlg window(m_options, m_prompt, m_services.Clock, m_secondary, view, *history);
    window.setWindowIcon(MakeApplicationIcon(m_secondary));
    window.SetAboutRunner([](QWidget* parent) {
        CAboutDlg about(AboutResource(), ProgramBuildDate(), parent);
        about.exec();
    });
    m_logViewer = &window;
    // Ends when the window closes, or with the program (a termination signal).
    QEventLoop loop;
    QObject::connect(&window, &CLogViewerDlg::closed, &loop, &QEventLoop::quit);
    window.show();
    loop.exec();
}

bool CDesktopShell::RunFirstRunOptions()
{
    CStandardOptionsHost host(m_system.ComputerName());
    return ::RunFirstRunOptions({m_options, m_prompt, host});
}

void CDesktopShell::InstallKeyboardWatcher()
{
    // The chat window starts the desktop-wide key watcher together with its tray icon.
}

void CDesktopShell::CreateChatWindow()
{
    ChatDlgContext context{m_options,         m_prompt,           m_services.Clock,
                           m_services.Random, m_services.Factory, m_secondary};
    context.System = &m_system;
    m_chat = new CChatDlg(context);
    m_chat->Initialise();
}

void CDesktopShell::ShowRequested()
{
    if (m_logViewer) {
        m_logViewer->ShowFromAnotherStart();
    } else if (m_chat) {
        m_chat->ShowChatWindow();
    }
}
