// The chat program on an X11 desktop with a window manager and a tray host: a second start,
// the tray icon, Super+G and a message from another copy bring its window up; Escape hides it.
#include "../support/ProcessSupport.h"
#include "platform/SqliteRegistry.h"
#include "settings/Options.h"

#include <array>
#include <cstdio>
#include <gtest/gtest.h>

namespace {

using namespace process_support;

// Runs a shell command and returns what it printed.
std::string Output(const std::string& command)
{
    std::string text;
    if (FILE* pipe = ::popen((command + " 2>/dev/null").c_str(), "r")) {
        std::array<char, 4096> buffer;
        size_t got;
        while ((got = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0)
            text.append(buffer.data(), got);
        ::pclose(pipe);
    }
    return text;
}

bool Eventually(const std::function<bool()>& done, std::chrono::milliseconds limit = 10s)
{
    auto end = Clock::now() + limit;
    while (!done()) {
        if (Clock::now() > end)
            return false;
        std::this_thread::sleep_for(100ms);
    }
    return true;
}

bool ChatWindowShown()
{
    return !Output("xdotool search --onlyvisible --name '^Zib Tam Freeware$'").empty();
}

// Where the tray icon sits on the screen: the program's small window that the panel took
// in. Empty when there is none yet.
std::string TrayIconCentre()
{
    std::istringstream lines(Output("xwininfo -root -tree"));
    std::string line;
    while (std::getline(lines, line)) {
        if (line.find("(\"zibtam\"") == std::string::npos)
            continue;
        auto geometry = line.find(")  ");
        int width = 0, height = 0, x = 0, y = 0, left = 0, top = 0;
        if (geometry == std::string::npos ||
            std::sscanf(line.c_str() + geometry + 3, "%dx%d+%d+%d +%d+%d", &width, &height, &x, &y,
                        &left, &top) != 6)
            continue;
        if (width > 1 && width <= 64 && height > 1 && height <= 64)
            return std::to_string(left + width / 2) + " " + std::to_string(top + height / 2);
    }
    return {};
}

class ChatWindowX11Test : public testing::Test
{
protected:
    TempDir dir;

    void SetUp() override
    {
        ASSERT_FALSE(Exe().empty()) << "ZIBTAM_EXE is not set";
        if (!std::getenv("DISPLAY") || Output("command -v xdotool").empty())
            GTEST_SKIP() << "needs an X11 display and xdotool";
        std::signal(SIGPIPE, SIG_IGN);
    }

    User MakeUser(const std::string& name, const std::string& ns, int behaviour)
    {
        User user{name, dir.File(name), "PC-" + name, ns};
        std::filesystem::create_directories(user.Home + "/config/zibtam");
        CSqliteRegistry registry(user.Home + "/config/zibtam/registry.sqlite3");
        FakeSystemInfo system;
        COptions options(registry, system, false);
        options.Set(Opt::Username, name);
        options.Set(Opt::NetworkingType, 1);
        options.Set(Opt::PromptOnAllUsers, 0);
        options.SetNotification(behaviour);
        return user;
    }
};

TEST_F(ChatWindowX11Test, ASecondStartTheTrayIconAndAMessageBringTheWindowUp)
{
    Lan lan(2);
    if (!lan.Error().empty())
        GTEST_SKIP() << lan.Error();
    User owen = MakeUser("Owen", lan.Namespace(0), 2); // "pop up dialog."
    User ann = MakeUser("Ann", lan.Namespace(1), 2);

    Process chat(owen, {}, true);
    // It starts hidden behind its tray icon.
    ASSERT_TRUE(Eventually([] { return !TrayIconCentre().empty(); })) << chat.Errors();
    EXPECT_FALSE(ChatWindowShown());

    // A second start shows the first copy's window and ends.
    Process second(owen, {}, true);
    EXPECT_EQ(second.Wait(10s), 0) << second.Errors();
    EXPECT_TRUE(Eventually(ChatWindowShown));

    // Escape hides it again.
    std::string window = Output("xdotool search --onlyvisible --name '^Zib Tam Freeware$'");
    window = window.substr(0, window.find('\n'));
    Output("xdotool windowactivate --sync " + window + " key Escape");
    EXPECT_TRUE(Eventually([] { return !ChatWindowShown(); }));

    // A click on the tray icon shows it.
    std::this_thread::sleep_for(500ms); // the panel lays its icons out again after taking one
    Output("xdotool mousemove " + TrayIconCentre() + " click 1");
    EXPECT_TRUE(Eventually(ChatWindowShown));
    Output("xdotool windowactivate --sync " + window + " key Escape");
    ASSERT_TRUE(Eventually([] { return !ChatWindowShown(); }));

    // Super+G shows it from anywhere.
    Output("xdotool key super+g");
    EXPECT_TRUE(Eventually(ChatWindowShown));
    Output("xdotool windowactivate --sync " + window + " key Escape");
    ASSERT_TRUE(Eventually([] { return !ChatWindowShown(); }));

    // A message from another copy pops it up.
    Process console(ann, {"--console"});
    ASSERT_NE(console.WaitFor("Connected as Ann."), "") << console.Errors();
    bool present = Eventually(
        [&] {
            console.Say("/refresh");
            console.Say("/who");
            return console.WaitFor("resent", 1s).find("Owen") != std::string::npos;
        },
        30s);
    ASSERT_TRUE(present) << console.Transcript();
    console.Say("/to Owen");
    console.Say("Are you there?");
    EXPECT_TRUE(Eventually(ChatWindowShown)) << console.Transcript();
}

} // namespace
