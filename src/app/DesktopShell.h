#pragma once
// The desktop program's shell: what start-up hands to the windows (IAppShell) on Qt Widgets.
// Setup at start, the log viewer as the main window, the first run's options, and the chat
// window behind its tray icon.
#include "app/AppShell.h"
#include "settings/Options.h"

#include <QIcon>
#include <QPointer>
#include <QWidget>

class CChatDlg;
class IClock;
class CLogViewerDlg;
class IPrompt;
class IRandom;
class ITransportFactory;

// The application icon of a primary or secondary copy.
QIcon MakeApplicationIcon(bool secondary);

// What the chat window needs beyond the settings: time, chance and the network.
struct ChatWindowServices
{
    const IClock& Clock;
    IRandom& Random;
    ITransportFactory& Factory;
};

class CDesktopShell : public IAppShell
{
public:
    CDesktopShell(COptions& options, IPrompt& prompt, const ISystemInfo& system, bool secondary,
                  ChatWindowServices services);
    ~CDesktopShell() override;
    CChatDlg* ChatWindow() const { return m_chat; }

    bool HandleSetupCommandLine(const std::string& commandLine) override;
    void RunLogViewer() override;
    bool RunFirstRunOptions() override;
    void InstallKeyboardWatcher() override;
    void CreateChatWindow() override;
    void ShowRequested() override;

private:
    COptions& m_options;
    IPrompt& m_prompt;
    const ISystemInfo& m_system;
    bool m_secondary;
    QPointer<CLogViewerDlg> m_logViewer;
    ChatWindowServices m_services;
    CChatDlg* m_chat = nullptr;
};
