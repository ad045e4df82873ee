#pragma once
// Setup's system operations on Linux: files, the desktop entry of the installed program,
// starting programs, waiting for a process, and the freedesktop trash.
#include "setup/Setup.h"

#include <QString>

class CLinuxSetupSystem : public ISetupSystem
{
public:
    // `startedAs`: the path the program was started under; `executable`: the running
    // program's file; `applications`: the folder of the menu entries; `icon`: the program's
    // icon file (a resource path will do), empty for none.
    CLinuxSetupSystem(std::string startedAs, std::string executable, std::string applications,
                      QString icon = {});

    std::string StartedAs() override { return m_startedAs; }
    bool FileExists(const std::string& path) override;
    bool FolderExists(const std::string& path) override;
    bool CreateFolder(const std::string& path) override;
    bool CopyExecutable(const std::string& target) override;
    bool CopyProgramFiles(const std::string& target) override;
    void Sleep(int milliseconds) override;
    bool WriteUninstallEntry(const std::string& product, const std::string& target) override;
    bool DeleteUninstallEntry(const std::string& product) override;
    bool StartProgram(const std::string& path, const std::string& argument) override;
    std::string MakeTemporaryFolder() override;
    long ProcessId() override;
    void WaitForProcessEnd(long id) override;
    bool MoveToTrash(const std::string& path) override;
    bool ListFolder(const std::string& path, std::vector<std::string>& names) override;
    void RemoveOwnCopy() override;

    std::string UninstallEntryPath(const std::string& product) const;

private:
    static bool CopyWhole(const QString& source, const std::string& target, bool executable);

    std::string m_startedAs;
    std::string m_executable;
    std::string m_applications;
    QString m_icon;
};

// The temporary copies of the uninstall live in folders named with this prefix.
inline constexpr char kUninstallFolderPrefix[] = "zibtam-uninstall-";
// The setup copy that the upgrade fetches lives in a folder named with this prefix.
inline constexpr char kUpgradeFolderPrefix[] = "zibtam-upgrade-";
