#pragma once
// Start-up's side of setup on a Linux desktop: the product's names, the "Install" setting,
// the prompts, and the XDG entries that stand in for the startup shortcut and the list of
// installed programs.
#include "setup/Setup.h"

#include <functional>
#include <string>

class COptions;
class IPrompt;
class IRegistry;
class ISystemInfo;

// Where the entries go. From the environment by default; tests point them elsewhere.
struct SetupFolders
{
    std::string AllUsersAutostart; // used when writable
    std::string UserAutostart;
    std::string Applications; // the desktop entry with the uninstall command
    std::string ProgramFiles; // the default install folder's parent
    std::string SetupFile;    // the running setup file; "Upgrade.log" lies beside it

    // $XDG_CONFIG_DIRS' first folder (/etc/xdg) and $XDG_CONFIG_HOME for the autostart
    // entry, $XDG_DATA_HOME/applications, /opt when writable else ~/.local/opt.
    static SetupFolders FromEnvironment(const std::string& setupFile);
};

class CAppSetupHost : public CSetupHost
{
public:
    // `machine` holds the settings of an older edition when there is such a store (may be
    // null). `closeRunning` closes the running copies of the same kind.
    CAppSetupHost(COptions& options, IPrompt& prompt, const ISystemInfo& system, IRegistry* machine,
                  bool secondary, SetupFolders folders, std::function<void()> closeRunning);

    std::string GetProductName() override;
    std::string GetInstalledPath() override;
    void CloseRunningInstances() override;
    bool ConfirmUninstall() override;
    bool CreateStartupShortcut(const std::string& target, std::string& error) override;
    std::string GetDefaultFolder() override;
    void SetInstalledPath(const std::string& path) override;
    bool RemoveLegacySettings() override;
    void WriteUpgradeLog() override;
    void DeleteStartupShortcut() override;

    // The autostart folder in use: the all-users one when writable, else the user's; empty
    // when neither can be determined.
    std::string StartupFolder() const;
    // The desktop entry file of the startup shortcut.
    std::string StartupEntryPath() const;

private:
    COptions& m_options;
    IPrompt& m_prompt;
    const ISystemInfo& m_system;
    IRegistry* m_machine;
    bool m_secondary;
    SetupFolders m_folders;
    std::function<void()> m_closeRunning;
};

// A desktop entry's Exec value for `program` with `argument` (which needs no quoting).
std::string DesktopExecLine(const std::string& program, const std::string& argument = {});
// The icon that setup writes beside the installed program `target`; the entries name it.
std::string ProgramIconPath(const std::string& target);
// The startup shortcut's desktop entry.
std::string StartupEntryText(const std::string& product, const std::string& target);
// The menu entry carrying the uninstall command.
std::string UninstallEntryText(const std::string& product, const std::string& target);

inline constexpr char kLegacySettingsKey[] = "Software\\Tollgate Net Parlour\\Zib Tam";
