#pragma once
// Which display platform the chat program opens: the Wayland compositor when it serves and
// Qt's Wayland plugin is installed, else the X11 display, else none (the console runs, with
// one line saying why). The toolkit aborts the process when the platform it was told to use
// cannot be opened, so the choice is made here, before it starts.
//
// Use:
//   DisplayChoice choice = ChooseDisplayPlatform(RealDisplayProbe());
//   if (choice.Platform == DisplayPlatform::None) { print choice.Why; run the console; }
//   else pass "-platform" choice.QtPlatform to the toolkit (empty: leave the toolkit's own).
#include <functional>
#include <string>

enum class DisplayPlatform
{
    Given,   // QT_QPA_PLATFORM names a platform of its own (offscreen, vnc, ...)
    Wayland, // native on the Wayland compositor
    X11,     // through DISPLAY (an X server, or XWayland in a Wayland session)
    None,
};

struct DisplayChoice
{
    DisplayPlatform Platform = DisplayPlatform::None;
    std::string QtPlatform; // the toolkit's name for it; empty for Given and None
    std::string Why;        // for None: why no display could be used, as one clause
};

// The facts the choice depends on; tests answer them without a display.
struct DisplayProbe
{
    // An environment variable, empty when unset.
    std::function<std::string(const char* name)> Env;
    // A compositor accepts connections on this socket path.
    std::function<bool(const std::string& socketPath)> WaylandServes;
    // Qt's Wayland platform plugin is installed.
    std::function<bool()> WaylandPluginInstalled;
    // The X11 display of this name can be opened.
    std::function<bool(const std::string& display)> X11Opens;
};

DisplayChoice ChooseDisplayPlatform(const DisplayProbe& probe);

// The socket a Wayland client connects to: WAYLAND_DISPLAY when it is a path, else that
// name (default "wayland-0") in XDG_RUNTIME_DIR. Empty when this is not a Wayland session
// (neither WAYLAND_DISPLAY nor XDG_SESSION_TYPE=wayland) or the runtime folder is unknown.
std::string WaylandSocketPath(const DisplayProbe& probe);

// A Wayland session, whatever platform the program itself runs on: under XWayland, keys
// grabbed through X11 only reach the program while an X11 window has the focus.
bool IsWaylandSession(const std::function<std::string(const char*)>& env);
