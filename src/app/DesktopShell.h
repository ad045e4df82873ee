#pragma once
// The windows of the program as far as they exist yet. Each stand-in is small and named
// so that the window that replaces it is easy to find: the log viewer and setup come with
// their own work. The chat window is the real one.
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

class CStandInShell : public IAppShell
{
public:
    CStandInShell(COptions& options, IPrompt& prompt, const ISystemInfo& system, bool secondary,
                  ChatWindowServices services);
    ~CStandInShell() override;
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
