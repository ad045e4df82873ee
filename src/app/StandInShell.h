#pragma once
// The windows of the program as far as they exist yet. Each stand-in is small and named
// so that the window that replaces it is easy to find: the chat window, the log viewer
// and setup come with their own work.
#include "app/AppShell.h"
#include "settings/Options.h"

#include <QIcon>
#include <QPointer>
#include <QWidget>

class IPrompt;
class QLabel;
class QSystemTrayIcon;

// The icon of a primary or secondary copy, drawn rather than loaded.
QIcon MakeApplicationIcon(bool secondary);

// Stand-in for the chat window: a small window behind a tray icon.
class CChatWindowStandIn : public QWidget
{
    Q_OBJECT
public:
    CChatWindowStandIn(COptions& options, bool secondary);
    void ShowFromTray();
    bool HasTray() const { return m_tray != nullptr; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void Refresh();

    COptions& m_options;
    QLabel* m_status;
    QSystemTrayIcon* m_tray = nullptr;
};

class CStandInShell : public IAppShell
{
public:
    CStandInShell(COptions& options, IPrompt& prompt, const ISystemInfo& system, bool secondary);
    ~CStandInShell() override;

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
    QPointer<QWidget> m_logViewer;
    CChatWindowStandIn* m_chat = nullptr;
};
