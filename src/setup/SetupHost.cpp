#include "setup/SetupHost.h"

#include "common/BuildDate.h"
#include "net/PeerPacket.h"
#include "platform/Prompt.h"
#include "platform/Registry.h"
#include "platform/SystemInfo.h"
#include "settings/Options.h"

#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::string Environment(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}

bool IsWritableFolder(const std::string& folder)
{
    return !folder.empty() && access(folder.c_str(), W_OK) == 0;
}

// A desktop entry's string value: backslashes doubled, line breaks written as escapes.
std::string DesktopString(const std::string& text)
{
    std::string out;
    for (char c : text) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else
            out += c;
    }
    return out;
}

bool WriteTextFile(const std::string& path, const std::string& text)
{
    std::string part = path + ".part";
    {
        std::ofstream out(part, std::ios::binary | std::ios::trunc);
        out << text;
        if (!out.flush())
            return false;
    }
    std::error_code error;
    fs::rename(part, path, error);
    if (error)
        fs::remove(part, error);
    return !error;
}

} // namespace

SetupFolders SetupFolders::FromEnvironment(const std::string& setupFile)
{
    SetupFolders folders;
    std::string home = Environment("HOME");
    std::string configDirs = Environment("XDG_CONFIG_DIRS");
    std::string systemConfig = configDirs.substr(0, configDirs.find(':'));
    if (systemConfig.empty())
        systemConfig = "/etc/xdg";
    folders.AllUsersAutostart = systemConfig + "/autostart";
    std::string configHome = Environment("XDG_CONFIG_HOME");
    if (configHome.empty() && !home.empty())
        configHome = home + "/.config";
    if (!configHome.empty())
        folders.UserAutostart = configHome + "/autostart";
    std::string dataHome = Environment("XDG_DATA_HOME");
    if (dataHome.empty() && !home.empty())
        dataHome = home + "/.local/share";
    if (!dataHome.empty())
        folders.Applications = dataHome + "/applications";
    folders.ProgramFiles = IsWritableFolder("/opt") || home.empty() ? "/opt" : home + "/.local/opt";
    folders.SetupFile = setupFile;
    return folders;
}

std::string DesktopExecLine(const std::string& program, const std::string& argument)
{
    // Inside double quotes the Exec rules escape '"', '`', '$' and '\'; '%' is doubled
    // because it starts a field code.
    std::string quoted = "\"";
    for (char c : program) {
        if (c == '"' || c == '`' || c == '$' || c == '\\')
            quoted += '\\';
        if (c == '%')
            quoted += '%';
        quoted += c;
    }
    quoted += '"';
    if (!argument.empty())
        quoted += " " + argument;
    return DesktopString(quoted);
}

std::string ProgramIconPath(const std::string& target)
{
    return target + ".svg";
}

std::string StartupEntryText(const std::string& product, const std::string& target)
{
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=" +
           DesktopString(product) + "\nComment=" + DesktopString(product) +
           "\nExec=" + DesktopExecLine(target) +
           "\nIcon=" + DesktopString(ProgramIconPath(target)) + "\nTerminal=false\n";
}

std::string UninstallEntryText(const std::string& product, const std::string& target)
{
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=" +
           DesktopString(product) + "\nComment=Office chat\nExec=" + DesktopExecLine(target) +
           "\nIcon=" + DesktopString(ProgramIconPath(target)) +
           "\nTerminal=false\nCategories=Network;InstantMessaging;\nActions=Uninstall;\n"
           "\n[Desktop Action Uninstall]\nName=Uninstall " +
           DesktopString(product) + "\nExec=" + DesktopExecLine(target, "/uninstall") + "\n";
}

CAppSetupHost::CAppSetupHost(COptions& options, IPrompt& prompt, const ISystemInfo& system,
                             IRegistry* machine, bool secondary, SetupFolders folders,
                             std::function<void()> closeRunning)
    : m_options(options), m_prompt(prompt), m_system(system), m_machine(machine),
      m_secondary(secondary), m_folders(std::move(folders)), m_closeRunning(std::move(closeRunning))
{}

std::string CAppSetupHost::GetProductName()
{
    return m_secondary ? "Zib Tam (Secondary)" : "Zib Tam";
}

std::string CAppSetupHost::GetInstalledPath()
{
    return m_options.Get(Opt::Install);
}

void CAppSetupHost::CloseRunningInstances()
{
    if (m_closeRunning)
        m_closeRunning();
}

bool CAppSetupHost::ConfirmUninstall()
{
    return m_prompt.MessageBox(kConfirmUninstallText, GetProductName(), PromptButtons::YesNoCancel,
                               PromptIcon::Question) == PromptAnswer::Yes;
}

std::string CAppSetupHost::StartupFolder() const
{
    if (IsWritableFolder(m_folders.AllUsersAutostart))
        return m_folders.AllUsersAutostart;
    return m_folders.UserAutostart;
}

std::string CAppSetupHost::StartupEntryPath() const
{
    std::string folder = StartupFolder();
    return folder.empty()
               ? folder
               : folder + "/" + (m_secondary ? "Zib Tam (Secondary)" : "Zib Tam") + ".desktop";
}

bool CAppSetupHost::CreateStartupShortcut(const std::string& target, std::string& error)
{
    std::string folder = StartupFolder();
    if (folder.empty()) {
        error = kNoStartupFolderText;
        return false;
    }
    std::error_code ignored;
    fs::create_directories(folder, ignored);
    if (!WriteTextFile(StartupEntryPath(), StartupEntryText(GetProductName(), target))) {
        m_prompt.MessageBox(kShortcutFailedText, GetProductName(), PromptButtons::Ok,
                            PromptIcon::Warning);
        error.clear();
        return false;
    }
    return true;
}

std::string CAppSetupHost::GetDefaultFolder()
{
    std::string parent = m_folders.ProgramFiles;
    while (parent.size() > 1 && parent.back() == '/')
        parent.pop_back();
    return parent + "/Zib Tam";
}

void CAppSetupHost::SetInstalledPath(const std::string& path)
{
    m_options.Set(Opt::Install, path);
}

bool CAppSetupHost::RemoveLegacySettings()
{
    if (!m_machine || m_machine->OpenKey(kLegacySettingsKey, false) == 0)
        return true;
    if (m_prompt.MessageBox(kLegacyInstalledText, GetProductName(), PromptButtons::YesNo,
                            PromptIcon::Question) == PromptAnswer::Yes &&
        m_prompt.MessageBox(kLegacyUninstallText, GetProductName(), PromptButtons::OkCancel,
                            PromptIcon::Information) == PromptAnswer::Cancel)
        return false;
    // Nothing of the old settings is carried over.
    if (!m_machine->DeleteKey(kLegacySettingsKey)) {
        m_prompt.MessageBox(kLegacyFailedText, GetProductName(), PromptButtons::Ok,
                            PromptIcon::Warning);
        return false;
    }
    return true;
}

void CAppSetupHost::WriteUpgradeLog()
{
    std::string folder = fs::path(m_folders.SetupFile).parent_path().string();
    std::string path = (folder.empty() ? std::string(".") : folder) + "/Upgrade.log";
    // Only an existing log is written to; setup never creates one.
    int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd < 0)
        return;
    std::string line =
        UpgradeLogLine(std::time(nullptr), m_options.GetUserName(),
                       NormalizeComputerName(m_system.ComputerName()), ProgramBuildDate());
    ssize_t written = write(fd, line.data(), line.size()); // errors are ignored
    (void)written;
    close(fd);
}

void CAppSetupHost::DeleteStartupShortcut()
{
    std::string entry = StartupEntryPath();
    if (!entry.empty()) {
        std::error_code ignored;
        fs::remove(entry, ignored);
    }
    m_options.Set(Opt::Install, std::string());
}
