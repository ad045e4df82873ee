// The chat program on an X11 desktop with a window manager and a tray host: a second start,
// the tray icon, Super+G and a message from another copy bring its window up; Escape hides it.
#include "ProcessSupport.h"
#include "platform/SqliteRegistry.h"
#include "settings/Options.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <fstream>
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

// Whether `console` lists `user` as present within 30 s, asking the others to answer anew
// each time: a fresh copy may have missed the first broadcasts.
bool Sees(Process& console, const std::string& user)
{
    return Eventually(
        [&] {
            console.Say("/refresh");
            console.Say("/who");
            return console.WaitFor("resent", 1s).find(user) != std::string::npos;
        },
        30s);
}

bool ChatWindowShown()
{
    return !Output("xdotool search --onlyvisible --name '^Zib Tam Freeware$'").empty();
}

// The chat window's X id, mapped or not; empty while it was never shown.
std::string ChatWindowId()
{
    std::string ids = Output("xdotool search --name '^Zib Tam Freeware$'");
    return ids.substr(0, ids.find('\n'));
}

std::string WindowReport()
{
    std::string id = ChatWindowId();
    return "\nwindow " + id + "\n" +
           Output("xprop -id " + id + " WM_STATE _NET_WM_STATE WM_HINTS") +
           Output("xwininfo -id " + id + " | grep -i 'map state'") + "active " +
           Output("xdotool getactivewindow") + "all: " + Output("xdotool search --name 'Zib Tam'");
}

// Shown, not minimised, and the window the keyboard goes to.
bool ChatWindowInFront()
{
    std::string id = ChatWindowId();
    if (id.empty() || !ChatWindowShown())
        return false;
    std::string active = Output("xdotool getactivewindow");
    return active.substr(0, active.find('\n')) == id &&
           Output("xprop -id " + id + " WM_STATE").find("Iconic") == std::string::npos;
}

// The first name of the window's WM_CLASS: "zibtam" of
// WM_CLASS(STRING) = "zibtam", "Zib Tam".
std::string WindowInstanceName(const std::string& window)
{
    std::string text = Output("xprop -id " + window + " WM_CLASS");
    auto first = text.find('"');
    auto end = first == std::string::npos ? first : text.find('"', first + 1);
    return end == std::string::npos ? std::string() : text.substr(first + 1, end - first - 1);
}

// A key's value in the package's desktop entry.
std::string DesktopEntryValue(const char* key)
{
    const char* path = std::getenv("ZT_DESKTOP_ENTRY");
    std::ifstream in(path ? path : "");
    for (std::string line; std::getline(in, line);)
        if (line.rfind(std::string(key) + "=", 0) == 0)
            return line.substr(std::strlen(key) + 1);
    return {};
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

    User MakeUser(const std::string& name, const std::string& ns, int behaviour,
                  int allUsersBehaviour = -1)
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
        if (allUsersBehaviour >= 0)
            options.SetAllUsersNotification(true, allUsersBehaviour);
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
    // X11 windows have no app id: docks find the window's desktop entry by its class.
    EXPECT_EQ(WindowInstanceName(window), DesktopEntryValue("StartupWMClass"));
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
    ASSERT_TRUE(Sees(console, "Owen")) << console.Transcript();
    console.Say("/to Owen");
    console.Say("Are you there?");
    EXPECT_TRUE(Eventually(ChatWindowShown)) << console.Transcript();
}

// A message flashes the hidden window onto the task bar minimised; the user restores it from
// there and hides it with Escape. Every way of asking for the window must then show it in
// front, not leave it minimised out of sight.
TEST_F(ChatWindowX11Test, AfterAFlashedWindowWasRestoredAndHiddenEveryWayShowsItAgain)
{
    Lan lan(2);
    if (!lan.Error().empty())
        GTEST_SKIP() << lan.Error();
    // Messages to Owen alone flash; messages to all users pop up.
    User owen = MakeUser("Owen", lan.Namespace(0), 0, 2);
    User ann = MakeUser("Ann", lan.Namespace(1), 2);

    Process chat(owen, {}, true);
    ASSERT_TRUE(Eventually([] { return !TrayIconCentre().empty(); })) << chat.Errors();
    Process console(ann, {"--console"});
    ASSERT_NE(console.WaitFor("Connected as Ann."), "") << console.Errors();
    ASSERT_TRUE(Sees(console, "Owen")) << console.Transcript();

    auto flashRestoreHide = [&](const std::string& when) {
        SCOPED_TRACE(when);
        if (ChatWindowShown()) { // shown by the way tried before
            Output("xdotool windowactivate --sync " + ChatWindowId() + " key Escape");
            ASSERT_TRUE(Eventually([] { return !ChatWindowShown(); }));
        }
        console.Say("/to Owen");
        console.Say("Look at the task bar");
        // It comes minimised: on the task bar, not on the screen.
        ASSERT_TRUE(Eventually([] {
            std::string id = ChatWindowId();
            return !id.empty() &&
                   Output("xprop -id " + id + " WM_STATE").find("Iconic") != std::string::npos;
        })) << console.Transcript()
            << WindowReport();
        EXPECT_FALSE(ChatWindowShown());
        // The task bar entry restores it.
        Output("xdotool windowactivate " + ChatWindowId());
        ASSERT_TRUE(Eventually(ChatWindowInFront));
        Output("xdotool windowactivate --sync " + ChatWindowId() + " key Escape");
        ASSERT_TRUE(Eventually([] { return !ChatWindowShown(); }));
    };

    flashRestoreHide("before the tray click");
    std::this_thread::sleep_for(500ms); // the panel lays its icons out again after taking one
    Output("xdotool mousemove " + TrayIconCentre() + " click 1");
    EXPECT_TRUE(Eventually(ChatWindowInFront)) << "tray click" << WindowReport();

    flashRestoreHide("before Super+G");
    Output("xdotool key super+g");
    EXPECT_TRUE(Eventually(ChatWindowInFront)) << "Super+G";

    flashRestoreHide("before a second start");
    Process second(owen, {}, true);
    EXPECT_EQ(second.Wait(10s), 0) << second.Errors();
    EXPECT_TRUE(Eventually(ChatWindowInFront)) << "second start";

    flashRestoreHide("before a pop-up message");
    console.Say("/to all");
    console.Say("Everyone look");
    EXPECT_TRUE(Eventually(ChatWindowInFront)) << "pop-up message";
}

// With the options or the about box open, the tray icon's menu still opens and its Exit
// ends the program, dialog and all.
TEST_F(ChatWindowX11Test, TheTrayMenuExitsWhileADialogIsOpen)
{
    struct Case
    {
        const char* Keys; // in the tray menu
        const char* Title;
    };
    for (const Case& c : {Case{"o", "^Zib Tam Options$"}, Case{"h a", "^About Zib Tam 2.5$"}}) {
        SCOPED_TRACE(c.Title);
        Lan lan(1);
        if (!lan.Error().empty())
            GTEST_SKIP() << lan.Error();
        User owen = MakeUser("Owen", lan.Namespace(0), 2);
        Process chat(owen, {}, true);
        ASSERT_TRUE(Eventually([] { return !TrayIconCentre().empty(); })) << chat.Errors();
        std::this_thread::sleep_for(500ms); // the panel lays its icons out again
        std::string dialog = std::string("xdotool search --onlyvisible --name '") + c.Title + "'";
        Output("xdotool mousemove " + TrayIconCentre() + " click 3");
        std::this_thread::sleep_for(300ms);
        Output(std::string("xdotool key --delay 200 ") + c.Keys);
        ASSERT_TRUE(Eventually([&] { return !Output(dialog).empty(); })) << chat.Errors();

        Output("xdotool mousemove " + TrayIconCentre() + " click 3");
        std::this_thread::sleep_for(300ms);
        Output("xdotool key x");
        EXPECT_EQ(chat.Wait(10s), 0) << chat.Errors();
    }
}

} // namespace
