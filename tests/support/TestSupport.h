#pragma once
// Helpers every test may use: a temporary folder, fixed system facts, a scripted prompt.
#include "platform/Prompt.h"
#include "platform/SqliteRegistry.h"
#include "platform/SystemInfo.h"
#include "settings/Options.h"

#include <deque>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

// A fresh folder removed with its contents at the end of the test.
class TempDir
{
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& Path() const { return m_path; }
    std::string File(const std::string& name) const { return (m_path / name).string(); }

private:
    std::filesystem::path m_path;
};

// The permission bits of a file or folder (-1 when it does not exist).
int ModeOf(const std::string& path);

// Sets the process's umask for the scope (tests of file permissions use the common 022).
class ScopedUmask
{
public:
    explicit ScopedUmask(unsigned mask);
    ~ScopedUmask();
    ScopedUmask(const ScopedUmask&) = delete;
    ScopedUmask& operator=(const ScopedUmask&) = delete;

private:
    unsigned m_old;
};

// Runs `body` in a child process that, when the tests run as root (as CI does), has become
// an ordinary user first, so permission checks apply. Returns the child's exit status
// (body's result), or -1 when it did not end normally.
int RunAsOrdinaryUser(const std::function<int()>& body);

// System facts a test sets by hand.
class FakeSystemInfo : public ISystemInfo
{
public:
    std::string Logon = "owen";
    std::string Executable = "/opt/zibtam/zibtam";
    std::string Config = "/tmp/zt-config";
    std::string Data = "/tmp/zt-data";
    uint32_t Window = 0x00FFFFFF;
    std::string Computer = "OFFICE1";

    std::string LogonName() const override { return Logon; }
    std::string ExecutablePath() const override { return Executable; }
    std::string ConfigHome() const override { return Config; }
    std::string DataHome() const override { return Data; }
    uint32_t WindowColor() const override { return Window; }
    std::string ComputerName() const override { return Computer; }
};

// Answers message boxes and input boxes from a script and records what was asked.
class FakePrompt : public IPrompt
{
public:
    struct Asked
    {
        std::string Text;
        std::string Caption;
    };
    std::deque<PromptAnswer> Answers;                // for message boxes; Ok/Yes when empty
    std::deque<std::pair<bool, std::string>> Inputs; // for input boxes; keeps the text, OK
    std::vector<Asked> Messages;
    std::vector<Asked> InputsAsked; // prompt as Text, title as Caption
    std::vector<int> InputLimits;

    PromptAnswer MessageBox(const std::string& text, const std::string& caption,
                            PromptButtons buttons, PromptIcon icon) override;
    bool InputBox(const std::string& title, const std::string& prompt, std::string& text,
                  int maxLength, bool masked) override;
};

// A real settings store in a temporary folder, as a fresh user has it.
struct TestSettings
{
    TempDir dir;
    FakeSystemInfo system;
    CSqliteRegistry registry{dir.File("registry.sqlite3")};
    COptions options{registry, system, false};
};
