#pragma once
// What start-up hands over to the windows of the program. The widgets layer implements
// it; tests answer it with a fake.
#include <string>

class IAppShell
{
public:
    virtual ~IAppShell() = default;
    // Setup gets the command line first; true when it dealt with it (install, upgrade,
    // uninstall) and the process is to end.
    virtual bool HandleSetupCommandLine(const std::string& commandLine) = 0;
    // The log viewer as the main window; returns when it closes.
    virtual void RunLogViewer() = 0;
    // The options dialog with its Networking page alone; true when closed with OK.
    virtual bool RunFirstRunOptions() = 0;
    // The desktop-wide key watcher (the product-name animation).
    virtual void InstallKeyboardWatcher() = 0;
    // The chat window, created hidden behind its tray icon.
    virtual void CreateChatWindow() = 0;
    // A second start asked this copy to show itself.
    virtual void ShowRequested() = 0;
};
