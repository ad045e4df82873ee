#pragma once
// Setup: the program installs, upgrades and uninstalls itself. A copy whose file name
// contains "setup" shows the setup dialog and installs itself under the product's name;
// the installed copy started with "/uninstall" hands the removal to a temporary copy that
// waits for it to end. The engine knows nothing of the application: names, settings and
// confirmations come through CSetupHost, and what it does to the system through
// ISetupSystem, so both can be replaced in tests.
#include <ctime>
#include <functional>
#include <string>
#include <vector>

class IPrompt;

// What setup needs to know about the application. Start-up implements it.
class CSetupHost
{
public:
    virtual ~CSetupHost() = default;
    // "Zib Tam", or "Zib Tam (Secondary)" for a secondary copy: it names the installed
    // executable, the startup entry and the uninstall entry.
    virtual std::string GetProductName() = 0;
    // The "Install" setting: the installed executable's full path, empty when none.
    virtual std::string GetInstalledPath() = 0;
    // Closes the running chat program and log viewer of the same kind.
    virtual void CloseRunningInstances() = 0;
    virtual bool ConfirmUninstall() = 0;
    // False with `error` set (or empty when a message was shown already).
    virtual bool CreateStartupShortcut(const std::string& target, std::string& error) = 0;
    virtual std::string GetDefaultFolder() = 0;
    virtual void SetInstalledPath(const std::string& path) = 0;
    // False means setup must stop.
    virtual bool RemoveLegacySettings() = 0;
    virtual void WriteUpgradeLog() = 0;
    // Also empties "Install".
    virtual void DeleteStartupShortcut() = 0;
};

// The system operations setup performs.
class ISetupSystem
{
public:
    virtual ~ISetupSystem() = default;
    // The path the program was started under (its file name decides setup mode).
    virtual std::string StartedAs() = 0;
    virtual bool FileExists(const std::string& path) = 0;
    virtual bool FolderExists(const std::string& path) = 0;
    // Creates the folder and the folders above it that are missing.
    virtual bool CreateFolder(const std::string& path) = 0;
    // Copies the running executable to `target`, replacing it only once the copy is whole.
    virtual bool CopyExecutable(const std::string& target) = 0;
    // Puts what the installed program needs beside `target`: its icon (ProgramIconPath) and
    // the log viewer's web view module when this copy has one.
    virtual bool CopyProgramFiles(const std::string& target) = 0;
    virtual void Sleep(int milliseconds) = 0;
    // The entry in the list of installed programs, with the uninstall command.
    virtual bool WriteUninstallEntry(const std::string& product, const std::string& target) = 0;
    virtual bool DeleteUninstallEntry(const std::string& product) = 0;
    // Starts a program without waiting for it; false when it could not be started.
    virtual bool StartProgram(const std::string& path, const std::string& argument) = 0;
    // A folder of our own in the temporary folder; empty on failure.
    virtual std::string MakeTemporaryFolder() = 0;
    virtual long ProcessId() = 0;
    // Waits without time limit until process `id` has ended.
    virtual void WaitForProcessEnd(long id) = 0;
    virtual bool MoveToTrash(const std::string& path) = 0;
    // The names in a folder (no "." or ".."), a folder's with "/" at its end; false when it
    // cannot be read.
    virtual bool ListFolder(const std::string& path, std::vector<std::string>& names) = 0;
    // Removes the running copy's file and its folder once it is done (the temporary copy).
    virtual void RemoveOwnCopy() = 0;
};

class CSetup
{
public:
    CSetup(CSetupHost& host, ISetupSystem& system, IPrompt& prompt);

    // Called once at start with the arguments after the program name. True when setup
    // dealt with this start and the process is to end. `showDialog` runs the setup dialog
    // modally.
    bool Run(const std::string& commandLine, const std::function<void()>& showDialog);

    // Installs (or upgrades) into `folder`; false after a message when it failed.
    bool InstallTo(const std::string& folder);
    // The installed copy after the user confirmed: hands over to a temporary copy.
    void StartUninstall();
    // The temporary copy: waits for process `processId` to end, then removes the
    // installation and its entries. Reports nothing.
    void FinishUninstall(long processId);

    // The installed executable in `folder`.
    std::string TargetPath(const std::string& folder);
    // Upgrade mode: "Install" names a file that exists. The dialog then shows its folder.
    bool IsUpgrade();
    std::string InstalledFolder();

    CSetupHost& Host() { return m_host; }

private:
    void Fail(const std::string& text);

    CSetupHost& m_host;
    ISetupSystem& m_system;
    IPrompt& m_prompt;
};

// Whether a program started under `path` is a setup copy: its file name contains "setup"
// in any letter case.
bool IsSetupExecutable(const std::string& path);

// The line each install appends to "Upgrade.log".
std::string UpgradeLogLine(std::time_t now, const std::string& userName,
                           const std::string& computerName, const std::string& buildDate);

// The texts setup shows.
inline constexpr char kSetupCaption[] = "Zib Tam Setup";
inline constexpr char kFolderNotCreatedText[] =
    "Setup could not complete.  The folder %s could not be created.";
inline constexpr char kCopyFailedText[] =
    "Setup could not complete.  An error occurred while copying a file.";
inline constexpr char kSetupIncompleteText[] = "Setup could not complete.  ";
inline constexpr char kSetupCompletedText[] = "Setup completed succcessfully.";
inline constexpr char kUninstallPackageText[] =
    "This copy of Zib Tam was installed from a package, so the package manager removes it: "
    "remove the zibtam package (for example, apt-get remove zibtam).";
inline constexpr char kConfirmUninstallText[] = "Are you sure you want to uninstall Zib Tam?";
inline constexpr char kNoStartupFolderText[] =
    "The startup folder could not be located.  Zib Tam will not be launched on when you "
    "restart you computer.";
inline constexpr char kShortcutFailedText[] =
    "Setup could not create a shortcut to Zib Tam in the startup folder.  Zib Tam will not be "
    "launched when you restart you computer.";
inline constexpr char kLegacyInstalledText[] =
    "Do you currently have Zib Tam installed on this computer?";
inline constexpr char kLegacyUninstallText[] =
    "Please manually uninstall Zib Tam.  Once you are done, press OK to continue.";
inline constexpr char kLegacyFailedText[] = "Setup could not complete.   Please run setup from a "
                                            "user account with administration permission.";
inline constexpr char kFolderPrompt[] = "Zib Tam will be installed in the following folder:";
