#include "setup/Setup.h"

#include "common/FormatText.h"
#include "platform/ProgramFiles.h"
#include "platform/Prompt.h"
#include "setup/SetupHost.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr int kCopyAttempts = 50;
constexpr int kCopyPauseMs = 100;

std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) {
        return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    });
    return text;
}

std::string FileName(const std::string& path)
{
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The folder part of a path, ending with a slash.
std::string FolderOf(const std::string& path)
{
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

bool StartsWith(const std::string& text, const std::string& start)
{
    return text.compare(0, start.size(), start) == 0;
}

// The names an installation folder holds of ours: the program, the log viewer's module
// beside it, and what the program keeps beside itself (its log, the log's temporary files,
// the server's permissions file). Anything else, a folder above all, is the user's.
bool IsOwnFile(const std::string& name, const std::string& product)
{
    const std::string own[] = {product,
                               product + ".xml",
                               product + ".tmp",
                               Lower(product) + ".tmp",
                               product + " Permissions.xml",
                               product + ".svg", // the icon setup wrote
                               kWebViewModuleName};
    return std::find(std::begin(own), std::end(own), name) != std::end(own);
}

} // namespace

bool IsSetupExecutable(const std::string& path)
{
    return Lower(FileName(path)).find("setup") != std::string::npos;
}

std::string UpgradeLogLine(std::time_t now, const std::string& userName,
                           const std::string& computerName, const std::string& buildDate)
{
    std::tm local{};
    localtime_r(&now, &local);
    char when[64] = {};
    std::strftime(when, sizeof when, "%m/%d/%y %I:%M %p", &local);
    return std::string(when) + "\t" + userName + " (on \"" + computerName +
           "\") upgraded to the version released on " + buildDate + ".\r\n";
}

CSetup::CSetup(CSetupHost& host, ISetupSystem& system, IPrompt& prompt)
    : m_host(host), m_system(system), m_prompt(prompt)
{}

bool CSetup::Run(const std::string& commandLine, const std::function<void()>& showDialog)
{
    if (IsSetupExecutable(m_system.StartedAs())) {
        if (showDialog)
            showDialog();
        // A setup copy that the upgrade fetched into the temporary folder goes when done.
        m_system.RemoveOwnCopy();
        return true;
    }
    if (StartsWith(commandLine, "/uninstall:")) {
        m_host.CloseRunningInstances();
        FinishUninstall(std::strtol(commandLine.c_str() + 11, nullptr, 10));
        return true;
    }
    if (StartsWith(commandLine, "/uninstall")) {
        // The package manager owns a package's files: nothing is asked and nothing closed.
        if (IsPackageInstall(m_system.StartedAs())) {
            m_prompt.MessageBox(kUninstallPackageText, m_host.GetProductName(), PromptButtons::Ok,
                                PromptIcon::Information);
            return true;
        }
        if (!m_host.ConfirmUninstall())
            return false;
        StartUninstall();
        return true;
    }
    return false;
}

std::string CSetup::TargetPath(const std::string& folder)
{
    std::string target = folder;
    if (target.empty() || target.back() != '/')
        target += '/';
    return target + m_host.GetProductName();
}

bool CSetup::IsUpgrade()
{
    std::string installed = m_host.GetInstalledPath();
    return !installed.empty() && m_system.FileExists(installed);
}

std::string CSetup::InstalledFolder()
{
    return FolderOf(m_host.GetInstalledPath());
}

void CSetup::Fail(const std::string& text)
{
    m_prompt.MessageBox(text, kSetupCaption, PromptButtons::Ok, PromptIcon::Warning);
}

bool CSetup::InstallTo(const std::string& folder)
{
    if (!m_host.RemoveLegacySettings())
        return false;
    if (!m_system.FolderExists(folder) && !m_system.CreateFolder(folder)) {
        Fail(FormatWithText(kFolderNotCreatedText, folder));
        return false;
    }
    m_host.CloseRunningInstances();

    // The copies just asked to close may still be on their way out.
    std::string target = TargetPath(folder);
    bool copied = false;
    for (int attempt = 0; attempt < kCopyAttempts && !copied; ++attempt) {
        if (attempt > 0)
            m_system.Sleep(kCopyPauseMs);
        copied = m_system.CopyExecutable(target);
    }
    if (!copied || !m_system.CopyProgramFiles(target)) {
        Fail(kCopyFailedText);
        return false;
    }

    std::string error;
    if (!m_host.CreateStartupShortcut(target, error)) {
        Fail(kSetupIncompleteText + error);
        return false;
    }
    m_host.SetInstalledPath(target);
    m_system.WriteUninstallEntry(m_host.GetProductName(), target); // failure is silent
    m_host.WriteUpgradeLog();
    if (!m_system.StartProgram(target, std::string())) {
        Fail("Setup could not run " + m_host.GetProductName() + ".");
        return false;
    }
    m_prompt.MessageBox(kSetupCompletedText, kSetupCaption, PromptButtons::Ok,
                        PromptIcon::Information);
    return true;
}

void CSetup::StartUninstall()
{
    std::string folder = m_system.MakeTemporaryFolder();
    if (folder.empty())
        return;
    std::string copy = folder + "/" + FileName(m_system.StartedAs());
    if (!m_system.CopyExecutable(copy))
        return;
    m_system.StartProgram(copy, "/uninstall:" + std::to_string(m_system.ProcessId()));
}

void CSetup::FinishUninstall(long processId)
{
    m_system.WaitForProcessEnd(processId);

    std::string installed = m_host.GetInstalledPath();
    std::string product = m_host.GetProductName();
    if (!installed.empty()) {
        // The folder goes as a whole only when it holds nothing but this installation and
        // the files the program keeps beside itself; a folder chosen by hand may hold other
        // programs and the user's files.
        std::string folder = FolderOf(installed);
        std::vector<std::string> names;
        bool ownFolder = folder.size() > 1 && m_system.ListFolder(folder, names);
        for (const std::string& name : names)
            ownFolder = ownFolder && IsOwnFile(name, product);
        if (folder.size() > 1)
            folder.pop_back();
        if (!ownFolder || !m_system.MoveToTrash(folder)) {
            m_system.MoveToTrash(installed);
            // The web view module stays: another copy in the folder may use it.
            if (m_system.FileExists(ProgramIconPath(installed)))
                m_system.MoveToTrash(ProgramIconPath(installed));
        }
    }
    m_system.DeleteUninstallEntry(product);
    m_host.DeleteStartupShortcut();
    m_system.RemoveOwnCopy();
}
