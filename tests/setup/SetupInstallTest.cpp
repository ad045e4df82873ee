// Install, upgrade and uninstall for real: files, entries and settings in a temporary home.
// The "program" is a small script that notes how it was started.
#include "TestSupport.h"
#include "setup/LinuxSetupSystem.h"
#include "setup/SetupHost.h"

#include <algorithm>
#include <chrono>
#include <fstream>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>

namespace fs = std::filesystem;

namespace {

std::string ReadFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteFile(const fs::path& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

bool WaitForFile(const fs::path& path, int ms = 5000)
{
    for (int waited = 0; waited < ms; waited += 20) {
        if (fs::exists(path) && !ReadFile(path).empty())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

class SetupInstallTest : public testing::Test
{
protected:
    TempDir dir;
    FakeSystemInfo info;
    std::unique_ptr<CSqliteRegistry> registry;
    std::unique_ptr<CSqliteRegistry> machine;
    std::unique_ptr<COptions> options;
    FakePrompt prompt;
    fs::path share, config, data, systemConfig, marker;
    int closes = 0;

    void SetUp() override
    {
        share = dir.Path() / "share";
        config = dir.Path() / "home/.config";
        data = dir.Path() / "home/.local/share";
        systemConfig = dir.Path() / "etc-xdg";
        marker = dir.Path() / "started.txt";
        for (const fs::path& folder : {share, config, data, dir.Path() / "opt"})
            fs::create_directories(folder);
        setenv("HOME", (dir.Path() / "home").c_str(), 1);
        setenv("XDG_CONFIG_HOME", config.c_str(), 1);
        setenv("XDG_DATA_HOME", data.c_str(), 1);
        setenv("XDG_CONFIG_DIRS", systemConfig.c_str(), 1);
        setenv("TMPDIR", dir.Path().c_str(), 1);
        MakeProgram(share / "ZibTamSetup", "1");
        registry = std::make_unique<CSqliteRegistry>(dir.File("registry.sqlite3"));
        machine = std::make_unique<CSqliteRegistry>(dir.File("machine.sqlite3"));
        info.Logon = "owen";
        info.Computer = "OFFICE-PC2X";
        options = std::make_unique<COptions>(*registry, info, false);
    }

    void TearDown() override { unsetenv("TMPDIR"); }

    // A program that appends its arguments to the marker file, and says which build it is.
    void MakeProgram(const fs::path& path, const std::string& build)
    {
        WriteFile(path, "#!/bin/sh\n# build " + build + "\necho \"started $*\" >> '" +
                            marker.string() + "'\n");
        fs::permissions(path, fs::perms::owner_all);
    }

    std::unique_ptr<CAppSetupHost> Host(const fs::path& setupFile, bool secondary = false)
    {
        SetupFolders folders = SetupFolders::FromEnvironment(setupFile.string());
        return std::make_unique<CAppSetupHost>(*options, prompt, info, machine.get(), secondary,
                                               folders, [this] { ++closes; });
    }

    CLinuxSetupSystem System(const fs::path& setupFile)
    {
        return CLinuxSetupSystem(setupFile.string(), setupFile.string(),
                                 (data / "applications").string());
    }

    std::vector<std::string> Messages() const
    {
        std::vector<std::string> texts;
        for (const auto& asked : prompt.Messages)
            texts.push_back(asked.Text);
        return texts;
    }
};

TEST_F(SetupInstallTest, InstallWritesTheProgramItsEntriesAndStartsIt)
{
    auto host = Host(share / "ZibTamSetup");
    CLinuxSetupSystem system = System(share / "ZibTamSetup");
    CSetup setup(*host, system, prompt);
    EXPECT_FALSE(setup.IsUpgrade());
    options->Set(Opt::Install, (dir.Path() / "gone/Zib Tam").string());
    EXPECT_FALSE(setup.IsUpgrade()); // its file was deleted: a fresh install

    fs::path folder = dir.Path() / "opt/Zib Tam";
    ASSERT_TRUE(setup.InstallTo(folder.string()));
    EXPECT_EQ(Messages(), std::vector<std::string>{"Setup completed succcessfully."});
    EXPECT_EQ(closes, 1);

    fs::path target = folder / "Zib Tam";
    EXPECT_EQ(ReadFile(target), ReadFile(share / "ZibTamSetup"));
    EXPECT_EQ(fs::status(target).permissions() & fs::perms::owner_exec, fs::perms::owner_exec);
    EXPECT_EQ(fs::directory_iterator(folder)->path(), target); // no partial copy left
    EXPECT_EQ(options->Get(Opt::Install), target.string());

    const std::string exec = "Exec=\"" + target.string() + "\"";
    std::string autostart = ReadFile(config / "autostart/Zib Tam.desktop");
    EXPECT_NE(autostart.find("[Desktop Entry]\nType=Application\nName=Zib Tam\n"),
              std::string::npos);
    EXPECT_NE(autostart.find(exec + "\n"), std::string::npos) << autostart;
    std::string menu = ReadFile(data / "applications/Zib Tam.desktop");
    EXPECT_NE(menu.find(exec + "\n"), std::string::npos) << menu;
    EXPECT_NE(
        menu.find("[Desktop Action Uninstall]\nName=Uninstall Zib Tam\n" + exec + " /uninstall\n"),
        std::string::npos)
        << menu;

    // No log beside the setup file: none is made.
    EXPECT_FALSE(fs::exists(share / "Upgrade.log"));
    ASSERT_TRUE(WaitForFile(marker));
    EXPECT_EQ(ReadFile(marker), "started \n");
    EXPECT_FALSE(fs::exists(systemConfig));
}

TEST_F(SetupInstallTest, UpgradeReplacesTheProgramAndLogsOneLinePerInstall)
{
    WriteFile(share / "Upgrade.log", "");
    fs::path folder = dir.Path() / "opt/Zib Tam";
    {
        auto host = Host(share / "ZibTamSetup");
        CLinuxSetupSystem system = System(share / "ZibTamSetup");
        CSetup setup(*host, system, prompt);
        ASSERT_TRUE(setup.InstallTo(folder.string()));
    }
    MakeProgram(share / "setup", "2");
    auto host = Host(share / "setup");
    CLinuxSetupSystem system = System(share / "setup");
    CSetup setup(*host, system, prompt);
    ASSERT_TRUE(setup.IsUpgrade());
    EXPECT_EQ(setup.InstalledFolder(), folder.string() + "/");
    ASSERT_TRUE(setup.InstallTo(setup.InstalledFolder()));
    EXPECT_EQ(ReadFile(folder / "Zib Tam"), ReadFile(share / "setup"));
    EXPECT_EQ(options->Get(Opt::Install), (folder / "Zib Tam").string());

    std::string log = ReadFile(share / "Upgrade.log");
    std::istringstream lines(log);
    std::string line;
    int count = 0;
    while (std::getline(lines, line)) {
        ++count;
        EXPECT_EQ(line.back(), '\r');
        EXPECT_NE(line.find("\towen (on \"Office-Pc2X\") upgraded to the version released on "),
                  std::string::npos)
            << line;
    }
    EXPECT_EQ(count, 2);
    EXPECT_EQ(log.substr(log.size() - 2), "\r\n");
}

TEST_F(SetupInstallTest, FreshHomeGetsTheWholeFolderPathTheIconAndTheWebViewModule)
{
    // A new account has no ~/.local/opt; the program's icon and the log viewer's web view
    // module go beside the installed program, and both entries name the icon.
    WriteFile(share / "program.svg", "<svg/>");
    WriteFile(share / "zibtam_webview.so", "module");
    auto host = Host(share / "ZibTamSetup");
    CLinuxSetupSystem system((share / "ZibTamSetup").string(), (share / "ZibTamSetup").string(),
                             (data / "applications").string(),
                             QString::fromStdString((share / "program.svg").string()));
    CSetup setup(*host, system, prompt);
    fs::path folder = dir.Path() / "newhome/.local/opt/Zib Tam";
    ASSERT_TRUE(setup.InstallTo(folder.string()));
    EXPECT_EQ(Messages(), std::vector<std::string>{"Setup completed succcessfully."});
    EXPECT_EQ(ReadFile(folder / "Zib Tam.svg"), "<svg/>");
    EXPECT_EQ(ReadFile(folder / "zibtam_webview.so"), "module");
    EXPECT_EQ(fs::status(folder / "zibtam_webview.so").permissions() & fs::perms::others_read,
              fs::perms::others_read);
    const std::string icon = "Icon=" + (folder / "Zib Tam.svg").string() + "\n";
    EXPECT_NE(ReadFile(config / "autostart/Zib Tam.desktop").find(icon), std::string::npos);
    EXPECT_NE(ReadFile(data / "applications/Zib Tam.desktop").find(icon), std::string::npos);
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"Zib Tam", "Zib Tam.svg", "zibtam_webview.so"}));

    // The uninstall takes the whole folder, module and icon with it.
    setup.FinishUninstall(0);
    EXPECT_FALSE(fs::exists(folder));
}

TEST_F(SetupInstallTest, FolderThatCannotBeCreatedIsReported)
{
    auto host = Host(share / "ZibTamSetup");
    CLinuxSetupSystem system = System(share / "ZibTamSetup");
    CSetup setup(*host, system, prompt);
    WriteFile(dir.Path() / "file", "");
    std::string folder = (dir.Path() / "file/Zib Tam").string();
    EXPECT_FALSE(setup.InstallTo(folder));
    EXPECT_EQ(Messages(), std::vector<std::string>{"Setup could not complete.  The folder " +
                                                   folder + " could not be created."});
    EXPECT_FALSE(fs::exists(config / "autostart"));
    EXPECT_EQ(options->Get(Opt::Install), "");
}

TEST_F(SetupInstallTest, SecondaryAndAllUsersEntries)
{
    // A writable all-users autostart folder takes the startup entry.
    fs::create_directories(systemConfig / "autostart");
    auto host = Host(share / "SetupSecondary", true);
    CLinuxSetupSystem system = System(share / "ZibTamSetup");
    CSetup setup(*host, system, prompt);
    fs::path folder = dir.Path() / "opt/Zib Tam";
    ASSERT_TRUE(setup.InstallTo(folder.string()));
    EXPECT_TRUE(fs::exists(folder / "Zib Tam (Secondary)"));
    EXPECT_TRUE(fs::exists(systemConfig / "autostart/Zib Tam (Secondary).desktop"));
    EXPECT_FALSE(fs::exists(config / "autostart"));
    EXPECT_NE(ReadFile(data / "applications/Zib Tam (Secondary).desktop")
                  .find("Name=Zib Tam (Secondary)\n"),
              std::string::npos);
}

TEST_F(SetupInstallTest, UninstallHandsOverThenMovesTheInstallationToTheTrash)
{
    fs::path folder = dir.Path() / "opt/Zib Tam";
    {
        auto host = Host(share / "ZibTamSetup");
        CLinuxSetupSystem system = System(share / "ZibTamSetup");
        ASSERT_TRUE(CSetup(*host, system, prompt).InstallTo(folder.string()));
    }
    ASSERT_TRUE(WaitForFile(marker));
    fs::remove(marker);
    WriteFile(folder / "Zib Tam.xml", "<log/>");

    // The installed copy hands over to a temporary copy of itself.
    fs::path installed = folder / "Zib Tam";
    auto host = Host(installed);
    CLinuxSetupSystem system = System(installed);
    CSetup setup(*host, system, prompt);
    ASSERT_TRUE(setup.Run("/uninstall", nullptr));
    EXPECT_EQ(Messages().back(), "Are you sure you want to uninstall Zib Tam?");
    ASSERT_TRUE(WaitForFile(marker));
    EXPECT_EQ(ReadFile(marker), "started /uninstall:" + std::to_string(getpid()) + "\n");
    fs::path copy;
    for (const auto& entry : fs::directory_iterator(dir.Path()))
        if (entry.path().filename().string().rfind(kUninstallFolderPrefix, 0) == 0)
            copy = entry.path() / "Zib Tam";
    ASSERT_TRUE(fs::exists(copy));

    // The temporary copy waits for the installed one to end.
    pid_t installedCopy = 0;
    char sleepName[] = "sleep", duration[] = "0.3";
    char* arguments[] = {sleepName, duration, nullptr};
    ASSERT_EQ(posix_spawnp(&installedCopy, "sleep", nullptr, nullptr, arguments, environ), 0);
    auto start = std::chrono::steady_clock::now();
    auto tempHost = Host(copy);
    CLinuxSetupSystem tempSystem(copy.string(), copy.string(), (data / "applications").string());
    std::thread reaper([&] { waitpid(installedCopy, nullptr, 0); });
    ASSERT_TRUE(CSetup(*tempHost, tempSystem, prompt)
                    .Run("/uninstall:" + std::to_string(installedCopy), nullptr));
    reaper.join();
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(250));

    EXPECT_FALSE(fs::exists(folder));
    EXPECT_EQ(ReadFile(data / "Trash/files/Zib Tam/Zib Tam.xml"), "<log/>");
    EXPECT_TRUE(fs::exists(data / "Trash/files/Zib Tam/Zib Tam"));
    EXPECT_FALSE(fs::exists(config / "autostart/Zib Tam.desktop"));
    EXPECT_FALSE(fs::exists(data / "applications/Zib Tam.desktop"));
    EXPECT_EQ(options->Get(Opt::Install), "");
    EXPECT_FALSE(fs::exists(copy.parent_path())); // the temporary copy removed itself
    EXPECT_EQ(Messages().size(), 2u);             // the uninstall itself says nothing
}

TEST_F(SetupInstallTest, UninstallLeavesOtherFilesOfAChosenFolder)
{
    fs::path folder = dir.Path() / "home/tools";
    fs::create_directories(folder);
    WriteFile(folder / "notes.txt", "mine");
    auto host = Host(share / "ZibTamSetup");
    CLinuxSetupSystem system = System(share / "ZibTamSetup");
    CSetup setup(*host, system, prompt);
    ASSERT_TRUE(setup.InstallTo(folder.string()));
    setup.FinishUninstall(0);
    EXPECT_EQ(ReadFile(folder / "notes.txt"), "mine");
    EXPECT_FALSE(fs::exists(folder / "Zib Tam"));
    EXPECT_TRUE(fs::exists(data / "Trash/files/Zib Tam"));
}

TEST_F(SetupInstallTest, UninstallLeavesAFolderOfTheUserNamedLikeTheProgram)
{
    fs::path folder = dir.Path() / "opt/Zib Tam";
    auto host = Host(share / "ZibTamSetup");
    CLinuxSetupSystem system = System(share / "ZibTamSetup");
    CSetup setup(*host, system, prompt);
    ASSERT_TRUE(setup.InstallTo(folder.string()));
    fs::create_directories(folder / "Zib Tam.d");
    WriteFile(folder / "Zib Tam.d/notes.txt", "mine");
    WriteFile(folder / "Zib Tam.xml", "<log/>");
    setup.FinishUninstall(0);
    EXPECT_EQ(ReadFile(folder / "Zib Tam.d/notes.txt"), "mine");
    EXPECT_EQ(ReadFile(folder / "Zib Tam.xml"), "<log/>");
    EXPECT_FALSE(fs::exists(folder / "Zib Tam"));
    EXPECT_TRUE(fs::exists(data / "Trash/files/Zib Tam"));
    EXPECT_FALSE(fs::exists(data / "Trash/files/Zib Tam.d"));
}

TEST_F(SetupInstallTest, SettingsOfAnOlderEditionAreRemovedFirst)
{
    struct Case
    {
        std::deque<PromptAnswer> Answers;
        bool Installed;
    } cases[] = {
        {{PromptAnswer::Yes, PromptAnswer::Cancel}, false},
        {{PromptAnswer::Yes, PromptAnswer::Ok}, true},
        {{PromptAnswer::No}, true},
    };
    for (const Case& c : cases) {
        CRegKey(*machine, std::string(kLegacySettingsKey) + "\\Rules\\1", true)
            .SetString("Name", "x");
        prompt.Messages.clear();
        prompt.Answers = c.Answers;
        auto host = Host(share / "ZibTamSetup");
        CLinuxSetupSystem system = System(share / "ZibTamSetup");
        fs::path folder =
            dir.Path() / ("opt/" + std::to_string(c.Answers.size()) + std::to_string(c.Installed));
        EXPECT_EQ(CSetup(*host, system, prompt).InstallTo(folder.string()), c.Installed);
        EXPECT_EQ(prompt.Messages[0].Text,
                  "Do you currently have Zib Tam installed on this computer?");
        if (c.Answers.size() == 2) {
            EXPECT_EQ(prompt.Messages[1].Text, "Please manually uninstall Zib Tam.  Once you are "
                                               "done, press OK to continue.");
        }
        EXPECT_EQ(fs::exists(folder), c.Installed);
        EXPECT_EQ(machine->OpenKey(kLegacySettingsKey, false) == 0, c.Installed);
    }
}

TEST(DesktopExecLineTest, QuotesWhatTheShellRulesNeed)
{
    EXPECT_EQ(DesktopExecLine("/opt/Zib Tam/Zib Tam", "/uninstall"),
              "\"/opt/Zib Tam/Zib Tam\" /uninstall");
    EXPECT_EQ(DesktopExecLine("/a/b$c\"d`e\\f%g"), "\"/a/b\\\\$c\\\\\"d\\\\`e\\\\\\\\f%%g\"");
}

} // namespace
