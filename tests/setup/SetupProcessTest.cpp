// The real program hands its start to setup: a temporary uninstall copy, started as the
// installed copy starts it, removes the installation once the installed copy has ended.
#include "TestSupport.h"
#include "platform/ProgramFiles.h"
#include "setup/LinuxSetupSystem.h"

#include <chrono>
#include <fstream>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

pid_t Spawn(const std::vector<std::string>& command)
{
    std::vector<char*> argv;
    for (const std::string& part : command)
        argv.push_back(const_cast<char*>(part.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    return posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) == 0 ? pid : -1;
}

// The exit status, or -1 when the process is still running after `seconds`.
int WaitFor(pid_t pid, int seconds)
{
    for (int i = 0; i < seconds * 50; ++i) {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : -2;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return -1;
}

TEST(SetupProcessTest, TemporaryCopyRemovesTheInstallationAfterTheInstalledCopyEnded)
{
    TempDir dir;
    fs::path home = dir.Path() / "home", config = home / ".config", data = home / ".local/share";
    fs::path folder = home / ".local/opt/Zib Tam";
    fs::create_directories(folder);
    fs::create_directories(config / "autostart");
    fs::create_directories(data / "applications");
    setenv("HOME", home.c_str(), 1);
    setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    setenv("XDG_DATA_HOME", data.c_str(), 1);
    setenv("XDG_CONFIG_DIRS", (dir.Path() / "etc-xdg").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", dir.Path().c_str(), 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);

    fs::copy_file(std::getenv("ZIBTAM_EXE"), folder / "Zib Tam");
    std::ofstream(config / "autostart/Zib Tam.desktop") << "[Desktop Entry]\n";
    std::ofstream(data / "applications/Zib Tam.desktop") << "[Desktop Entry]\n";
    {
        CSqliteRegistry registry((config / "zibtam/registry.sqlite3").string());
        FakeSystemInfo system;
        COptions(registry, system, false).Set(Opt::Install, (folder / "Zib Tam").string());
    }
    fs::path copy = dir.Path() / (std::string(kUninstallFolderPrefix) + "test") / "Zib Tam";
    fs::create_directories(copy.parent_path());
    fs::copy_file(std::getenv("ZIBTAM_EXE"), copy);

    pid_t installed = Spawn({"sleep", "1"});
    ASSERT_GT(installed, 0);
    pid_t uninstall = Spawn({copy.string(), "/uninstall:" + std::to_string(installed)});
    ASSERT_GT(uninstall, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_TRUE(fs::exists(folder / "Zib Tam")) << "the installed copy is still running";
    EXPECT_EQ(WaitFor(installed, 5), 0);
    EXPECT_EQ(WaitFor(uninstall, 20), 0);

    EXPECT_FALSE(fs::exists(folder));
    EXPECT_TRUE(fs::exists(data / "Trash/files/Zib Tam/Zib Tam"));
    EXPECT_FALSE(fs::exists(config / "autostart/Zib Tam.desktop"));
    EXPECT_FALSE(fs::exists(data / "applications/Zib Tam.desktop"));
    EXPECT_FALSE(fs::exists(copy.parent_path()));
    CSqliteRegistry registry((config / "zibtam/registry.sqlite3").string());
    FakeSystemInfo system;
    EXPECT_EQ(COptions(registry, system, false).Get(Opt::Install), "");
}

// Setup and the package copy the log viewer's module under the name the build gives it, and
// the program finds it beside itself or in the package's place.
TEST(WebViewModuleTest, TheBuiltModuleIsFoundWhereSetupAndThePackagePutIt)
{
    fs::path built = WebViewModuleFor(std::getenv("ZIBTAM_EXE"));
    if (!fs::exists(built))
        GTEST_SKIP() << "built without the web engine";
    EXPECT_EQ(built.filename(), kWebViewModuleName);

    TempDir dir;
    fs::create_directories(dir.Path() / "usr/bin");
    fs::create_directories(dir.Path() / "usr/lib/zibtam/modules");
    const std::string program = (dir.Path() / "usr/bin/zibtam").string();
    EXPECT_EQ(WebViewModuleFor(program), (dir.Path() / "usr/bin" / kWebViewModuleName).string());
    std::ofstream(dir.Path() / "usr/lib/zibtam/modules" / kWebViewModuleName) << "module";
    EXPECT_EQ(WebViewModuleFor(program),
              (dir.Path() / "usr/lib/zibtam/modules" / kWebViewModuleName).string());
    std::ofstream(dir.Path() / "usr/bin" / kWebViewModuleName) << "module";
    EXPECT_EQ(WebViewModuleFor(program), (dir.Path() / "usr/bin" / kWebViewModuleName).string());
}

} // namespace
