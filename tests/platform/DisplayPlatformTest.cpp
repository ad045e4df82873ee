#include "platform/DisplayPlatform.h"

#include <gtest/gtest.h>
#include <map>

namespace {

// A desktop described by its environment and by what serves.
struct Desktop
{
    std::map<std::string, std::string> Env;
    bool CompositorServes = false;
    bool PluginInstalled = false;
    bool X11Serves = false;

    DisplayChoice Choose() const
    {
        return ChooseDisplayPlatform({[this](const char* name) {
                                          auto it = Env.find(name);
                                          return it == Env.end() ? std::string() : it->second;
                                      },
                                      [this](const std::string& path) {
                                          EXPECT_EQ(path, "/run/user/1000/wayland-1");
                                          return CompositorServes;
                                      },
                                      [this] { return PluginInstalled; },
                                      [this](const std::string& display) {
                                          EXPECT_EQ(display, ":0");
                                          return X11Serves;
                                      }});
    }
};

const std::map<std::string, std::string> kWaylandSession = {{"WAYLAND_DISPLAY", "wayland-1"},
                                                            {"XDG_RUNTIME_DIR", "/run/user/1000"}};
const std::map<std::string, std::string> kBoth = {
    {"WAYLAND_DISPLAY", "wayland-1"}, {"XDG_RUNTIME_DIR", "/run/user/1000"}, {"DISPLAY", ":0"}};

TEST(DisplayPlatformTest, EachMissingPieceInTurn)
{
    struct Case
    {
        const char* Name;
        Desktop Where;
        DisplayPlatform Platform;
        const char* QtPlatform;
        const char* Why; // a part of the reason, for None
    };
    const Case cases[] = {
        {"wayland with its plugin",
         {kWaylandSession, true, true, false},
         DisplayPlatform::Wayland,
         "wayland",
         ""},
        {"wayland and XWayland",
         {kBoth, true, true, true},
         DisplayPlatform::Wayland,
         "wayland;xcb",
         ""},
        // The abort of old: a compositor, no plugin, no X server.
        {"no plugin, no X11",
         {kWaylandSession, true, false, false},
         DisplayPlatform::None,
         "",
         "Qt's Wayland platform plugin, which is not installed (package qt6-wayland) and no "
         "display is set (DISPLAY is empty)"},
        {"no plugin, XWayland", {kBoth, true, false, true}, DisplayPlatform::X11, "xcb", ""},
        {"compositor gone, X11", {kBoth, false, true, true}, DisplayPlatform::X11, "xcb", ""},
        {"compositor gone, X11 gone",
         {kBoth, false, true, false},
         DisplayPlatform::None,
         "",
         "the Wayland display \"wayland-1\" cannot be opened and the display \":0\" cannot be "
         "opened"},
        {"X11 only", {{{"DISPLAY", ":0"}}, false, true, true}, DisplayPlatform::X11, "xcb", ""},
        {"X11 gone",
         {{{"DISPLAY", ":0"}}, false, true, false},
         DisplayPlatform::None,
         "",
         "the display \":0\" cannot be opened"},
        {"nothing",
         {{}, false, true, false},
         DisplayPlatform::None,
         "",
         "no display is set (DISPLAY is empty)"},
        {"wayland without runtime folder",
         {{{"WAYLAND_DISPLAY", "wayland-1"}}, true, true, false},
         DisplayPlatform::None,
         "",
         "XDG_RUNTIME_DIR is not set"},
        // The user's own platform stands; wayland or xcb named by the user only orders ours.
        {"offscreen given",
         {{{"QT_QPA_PLATFORM", "offscreen"}}, false, false, false},
         DisplayPlatform::Given,
         "",
         ""},
        {"xcb preferred",
         {[] {
              auto env = kBoth;
              env["QT_QPA_PLATFORM"] = "xcb";
              return env;
          }(),
          true, true, true},
         DisplayPlatform::X11,
         "xcb",
         ""},
        {"wayland named, no plugin",
         {[] {
              auto env = kBoth;
              env["QT_QPA_PLATFORM"] = "wayland";
              return env;
          }(),
          true, false, true},
         DisplayPlatform::X11,
         "xcb",
         ""},
    };
    for (const Case& c : cases) {
        DisplayChoice choice = c.Where.Choose();
        EXPECT_EQ(choice.Platform, c.Platform) << c.Name;
        EXPECT_EQ(choice.QtPlatform, c.QtPlatform) << c.Name;
        if (c.Platform == DisplayPlatform::None)
            EXPECT_NE(choice.Why.find(c.Why), std::string::npos) << c.Name << ": " << choice.Why;
        else
            EXPECT_EQ(choice.Why, "") << c.Name;
    }
}

TEST(DisplayPlatformTest, WaylandSessionAndSocket)
{
    auto env = [](std::map<std::string, std::string> values) {
        return [values](const char* name) {
            auto it = values.find(name);
            return it == values.end() ? std::string() : it->second;
        };
    };
    // Under XWayland only XDG_SESSION_TYPE may tell.
    EXPECT_TRUE(IsWaylandSession(env({{"XDG_SESSION_TYPE", "wayland"}, {"DISPLAY", ":0"}})));
    EXPECT_TRUE(IsWaylandSession(env({{"WAYLAND_DISPLAY", "wayland-0"}})));
    EXPECT_FALSE(IsWaylandSession(env({{"XDG_SESSION_TYPE", "x11"}, {"DISPLAY", ":0"}})));

    DisplayProbe probe;
    probe.Env = env({{"XDG_SESSION_TYPE", "wayland"}, {"XDG_RUNTIME_DIR", "/run/user/7"}});
    EXPECT_EQ(WaylandSocketPath(probe), "/run/user/7/wayland-0");
    probe.Env = env({{"WAYLAND_DISPLAY", "/tmp/w/sock"}});
    EXPECT_EQ(WaylandSocketPath(probe), "/tmp/w/sock");
}

} // namespace
