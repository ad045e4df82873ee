#include "platform/DisplayPlatform.h"

namespace {

struct Attempt
{
    bool Ok = false;
    std::string Why;
};

Attempt TryWayland(const DisplayProbe& probe)
{
    std::string name = probe.Env("WAYLAND_DISPLAY");
    if (name.empty())
        name = "wayland-0";
    std::string path = WaylandSocketPath(probe);
    if (path.empty())
        return {false, "the Wayland display \"" + name +
                           "\" cannot be found (XDG_RUNTIME_DIR is not set)"};
    if (!probe.WaylandServes(path))
        return {false, "the Wayland display \"" + name + "\" cannot be opened"};
    if (!probe.WaylandPluginInstalled())
        return {false, "the Wayland desktop needs Qt's Wayland platform plugin, which is not "
                       "installed (package qt6-wayland)"};
    return {true, {}};
}

Attempt TryX11(const DisplayProbe& probe)
{
    std::string display = probe.Env("DISPLAY");
    if (display.empty())
        return {false, "no display is set (DISPLAY is empty)"};
    if (!probe.X11Opens(display))
        return {false, "the display \"" + display + "\" cannot be opened"};
    return {true, {}};
}

bool StartsWith(const std::string& text, const char* prefix)
{
    return text.rfind(prefix, 0) == 0;
}

} // namespace

bool IsWaylandSession(const std::function<std::string(const char*)>& env)
{
    return !env("WAYLAND_DISPLAY").empty() || env("XDG_SESSION_TYPE") == "wayland";
}

std::string WaylandSocketPath(const DisplayProbe& probe)
{
    if (!IsWaylandSession(probe.Env))
        return {};
    std::string name = probe.Env("WAYLAND_DISPLAY");
    if (name.empty())
        name = "wayland-0";
    if (name.front() == '/')
        return name;
    std::string runtime = probe.Env("XDG_RUNTIME_DIR");
    if (runtime.empty())
        return {};
    return runtime + "/" + name;
}

DisplayChoice ChooseDisplayPlatform(const DisplayProbe& probe)
{
    // A platform named by the user is the user's, unless it is one of the two chosen here:
    // then it only says which of them comes first.
    std::string given = probe.Env("QT_QPA_PLATFORM");
    if (!given.empty() && !StartsWith(given, "wayland") && !StartsWith(given, "xcb"))
        return {DisplayPlatform::Given, {}, {}};
    bool x11First = StartsWith(given, "xcb");
    bool waylandSession = IsWaylandSession(probe.Env);

    Attempt wayland, x11;
    if (x11First || !waylandSession) {
        x11 = TryX11(probe);
        if (x11.Ok)
            return {DisplayPlatform::X11, "xcb", {}};
    }
    if (waylandSession) {
        wayland = TryWayland(probe);
        if (wayland.Ok) {
            // Should the plugin still fail, the toolkit goes on to X11 (XWayland).
            bool x11Too = !probe.Env("DISPLAY").empty() && probe.X11Opens(probe.Env("DISPLAY"));
            return {DisplayPlatform::Wayland, x11Too ? "wayland;xcb" : "wayland", {}};
        }
        if (!x11First) {
            x11 = TryX11(probe);
            if (x11.Ok)
                return {DisplayPlatform::X11, "xcb", {}};
        }
    }
    std::string why = x11.Why;
    if (waylandSession)
        why = x11First ? x11.Why + " and " + wayland.Why : wayland.Why + " and " + x11.Why;
    return {DisplayPlatform::None, {}, why};
}
