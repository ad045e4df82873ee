#pragma once
// Where the chat window goes: the stored placement ("dlg-x" ... "dlg-maximized") made to
// fit the screens of today. (The pop-up's own rule, NeedsCentring, is the notifier's.)
#include "app/desktop/ChatNotifier.h"

#include <vector>

struct WindowPlacement
{
    int X = -1, Y = -1; // -1: keep the position the window has
    int Width = 0, Height = 0;
    bool Maximized = false;
};

// The rectangle to restore from `stored`: a left or top of -1 keeps `current`'s; the size
// is raised to `minWidth` x `minHeight` and lowered to the largest screen; a rectangle that
// lies on no screen (by at least `kVisibleMargin` pixels each way) is moved onto the screen
// nearest to it. `screens` are the monitors' available areas; empty means anything goes.
ScreenRect RestoredRect(const WindowPlacement& stored, const ScreenRect& current, int minWidth,
                        int minHeight, const std::vector<ScreenRect>& screens);

// The bounding rectangle of all monitors.
ScreenRect VirtualScreen(const std::vector<ScreenRect>& screens);

inline constexpr int kVisibleMargin = 40;
