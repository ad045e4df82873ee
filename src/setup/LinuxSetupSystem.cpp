#include "setup/LinuxSetupSystem.h"

#include "platform/ProgramFiles.h"
#include "setup/SetupHost.h"

#include <QFile>
#include <QProcess>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// A process that has ended but was not yet collected by its parent counts as ended.
bool ProcessRunning(long id)
{
    if (kill(static_cast<pid_t>(id), 0) != 0 && errno != EPERM)
        return false;
    std::ifstream stat("/proc/" + std::to_string(id) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    size_t close = text.rfind(')');
    return close == std::string::npos || close + 2 >= text.size() || text[close + 2] != 'Z';
}

} // namespace

CLinuxSetupSystem::CLinuxSetupSystem(std::string startedAs, std::string executable,
                                     std::string applications, QString icon)
    : m_startedAs(std::move(startedAs)), m_executable(std::move(executable)),
      m_applications(std::move(applications)), m_icon(std::move(icon))
{}

bool CLinuxSetupSystem::FileExists(const std::string& path)
{
    std::error_code error;
    return !path.empty() && fs::is_regular_file(path, error);
}

bool CLinuxSetupSystem::FolderExists(const std::string& path)
{
    std::error_code error;
    return !path.empty() && fs::is_directory(path, error);
}

bool CLinuxSetupSystem::CreateFolder(const std::string& path)
{
    if (path.empty())
        return false;
    std::error_code error;
    fs::create_directories(path, error);
    return !error && FolderExists(path);
}

bool CLinuxSetupSystem::CopyExecutable(const std::string& target)
{
    return CopyWhole(QFile::decodeName(m_executable.c_str()), target, true);
}

bool CLinuxSetupSystem::CopyProgramFiles(const std::string& target)
{
    if (!m_icon.isEmpty() && !CopyWhole(m_icon, ProgramIconPath(target), false))
        return false;
    std::string module = WebViewModuleFor(m_executable);
    if (!FileExists(module))
        return true; // a build without the web engine: the viewer shows its plain view
    return CopyWhole(QFile::decodeName(module.c_str()),
                     (fs::path(target).parent_path() / kWebViewModuleName).string(), false);
}

bool CLinuxSetupSystem::CopyWhole(const QString& source, const std::string& target, bool executable)
{
    // The copy is made beside the target and renamed over it once whole: a running copy
    // keeps its old file, and a failed copy leaves the installed one as it was.
    std::string part = target + ".part-" + std::to_string(getpid());
    QFile::remove(QFile::decodeName(part.c_str()));
    bool copied = QFile::copy(source, QFile::decodeName(part.c_str()));
    std::error_code error;
    fs::perms readable = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                         fs::perms::others_read;
    fs::perms runnable = fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec;
    if (copied)
        fs::permissions(part, executable ? readable | runnable : readable, error);
    if (copied && !error)
        fs::rename(part, target, error);
    if (!copied || error) {
        std::error_code ignored;
        fs::remove(part, ignored);
        return false;
    }
    return true;
}

void CLinuxSetupSystem::Sleep(int milliseconds)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

std::string CLinuxSetupSystem::UninstallEntryPath(const std::string& product) const
{
    return m_applications + "/" + product + ".desktop";
}

bool CLinuxSetupSystem::WriteUninstallEntry(const std::string& product, const std::string& target)
{
    if (m_applications.empty())
        return false;
    std::error_code error;
    fs::create_directories(m_applications, error);
    std::string path = UninstallEntryPath(product);
    std::string part = path + ".part";
    {
        std::ofstream out(part, std::ios::binary | std::ios::trunc);
        out << UninstallEntryText(product, target);
        if (!out.flush())
            return false;
    }
    fs::rename(part, path, error);
    return !error;
}

bool CLinuxSetupSystem::DeleteUninstallEntry(const std::string& product)
{
    std::error_code error;
    return !m_applications.empty() && fs::remove(UninstallEntryPath(product), error);
}

bool CLinuxSetupSystem::StartProgram(const std::string& path, const std::string& argument)
{
    QStringList arguments;
    if (!argument.empty())
        arguments << QFile::decodeName(argument.c_str());
    return QProcess::startDetached(QFile::decodeName(path.c_str()), arguments);
}

std::string CLinuxSetupSystem::MakeTemporaryFolder()
{
    std::string base = std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp";
    std::string pattern = base + "/" + kUninstallFolderPrefix + "XXXXXX";
    return mkdtemp(pattern.data()) ? pattern : std::string();
}

long CLinuxSetupSystem::ProcessId()
{
    return static_cast<long>(getpid());
}

void CLinuxSetupSystem::WaitForProcessEnd(long id)
{
    if (id <= 0)
        return;
    while (ProcessRunning(id))
        Sleep(50);
}

bool CLinuxSetupSystem::MoveToTrash(const std::string& path)
{
    return QFile::moveToTrash(QFile::decodeName(path.c_str()));
}

bool CLinuxSetupSystem::ListFolder(const std::string& path, std::vector<std::string>& names)
{
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(path, error)) {
        std::error_code ignored;
        names.push_back(entry.path().filename().string() +
                        (entry.is_directory(ignored) ? "/" : ""));
    }
    return !error;
}

void CLinuxSetupSystem::RemoveOwnCopy()
{
    // Only a copy in a folder that the uninstall or the upgrade made is removed.
    fs::path own = m_executable;
    const std::string folder = own.parent_path().filename().string();
    if (folder.rfind(kUninstallFolderPrefix, 0) != 0 && folder.rfind(kUpgradeFolderPrefix, 0) != 0)
        return;
    std::error_code ignored;
    fs::remove(own, ignored);
    fs::remove(own.parent_path(), ignored);
}
