#pragma once
#include "setup/Setup.h"

#include <string>
#include <vector>

// Records every call of the engine, host and system alike, in one list.
class FakeSetup : public CSetupHost, public ISetupSystem
{
public:
    std::vector<std::string> Calls;
    std::string Product = "Zib Tam";
    std::string Installed;
    std::string Started = "/home/owen/Zib Tam";
    bool Confirm = true;
    bool Legacy = true;
    bool ShortcutOk = true;
    std::string ShortcutError;
    int CopyFailures = 0;
    bool FolderMissing = false;
    bool FolderCreatable = true;
    bool StartOk = true;
    bool TrashFolderOk = true;
    std::vector<std::string> FolderNames = {"Zib Tam"};

    void Call(const std::string& call) { Calls.push_back(call); }

    std::string GetProductName() override { return Product; }
    std::string GetInstalledPath() override { return Installed; }
    void CloseRunningInstances() override { Call("close"); }
    bool ConfirmUninstall() override
    {
        Call("confirm");
        return Confirm;
    }
    bool CreateStartupShortcut(const std::string& target, std::string& error) override
    {
        Call("shortcut " + target);
        error = ShortcutError;
        return ShortcutOk;
    }
    std::string GetDefaultFolder() override { return "/opt/Zib Tam"; }
    void SetInstalledPath(const std::string& path) override
    {
        Call("install=" + path);
        Installed = path;
    }
    bool RemoveLegacySettings() override
    {
        Call("legacy");
        return Legacy;
    }
    void WriteUpgradeLog() override { Call("log"); }
    void DeleteStartupShortcut() override { Call("delete shortcut"); }

    std::string StartedAs() override { return Started; }
    bool FileExists(const std::string& path) override { return path == Installed; }
    bool FolderExists(const std::string&) override { return !FolderMissing; }
    bool CreateFolder(const std::string& path) override
    {
        Call("mkdir " + path);
        return FolderCreatable;
    }
    bool CopyExecutable(const std::string& target) override
    {
        Call("copy " + target);
        return CopyFailures-- <= 0;
    }
    bool CopyProgramFiles(const std::string& target) override
    {
        Call("files " + target);
        return true;
    }
    void Sleep(int ms) override { Call("sleep " + std::to_string(ms)); }
    bool WriteUninstallEntry(const std::string& product, const std::string& target) override
    {
        Call("entry " + product + " " + target);
        return true;
    }
    bool DeleteUninstallEntry(const std::string& product) override
    {
        Call("delete entry " + product);
        return true;
    }
    bool StartProgram(const std::string& path, const std::string& argument) override
    {
        Call("start " + path + (argument.empty() ? "" : " " + argument));
        return StartOk;
    }
    std::string MakeTemporaryFolder() override { return "/tmp/zibtam-uninstall-1"; }
    long ProcessId() override { return 4242; }
    void WaitForProcessEnd(long id) override { Call("wait " + std::to_string(id)); }
    bool MoveToTrash(const std::string& path) override
    {
        Call("trash " + path);
        return path.back() == 'm' && path.find("/Zib Tam/") == std::string::npos ? TrashFolderOk
                                                                                 : true;
    }
    bool ListFolder(const std::string&, std::vector<std::string>& names) override
    {
        names = FolderNames;
        return true;
    }
    void RemoveOwnCopy() override { Call("remove own copy"); }
};
