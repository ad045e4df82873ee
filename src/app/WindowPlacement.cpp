#include "app/WindowPlacement.h"

#include <algorithm>
#include <climits>
#include <cstdlib>

namespace {

// How much of `a` and `b` overlap in each direction.
bool OverlapsEnough(const ScreenRect& window, const ScreenRect& screen)
{
    int width = std::min(window.Right(), screen.Right()) - std::max(window.X, screen.X);
    int height = std::min(window.Bottom(), screen.Bottom()) - std::max(window.Y, screen.Y);
    return width >= std::min(kVisibleMargin, window.Width) &&
           height >= std::min(kVisibleMargin, window.Height);
}

long long DistanceSquared(const ScreenRect& window, const ScreenRect& screen)
{
    auto gap = [](int start, int end, int from, int to) -> long long {
        if (end < from)
            return from - end;
        if (start > to)
            return start - to;
        return 0;
    };
    long long dx = gap(window.X, window.Right(), screen.X, screen.Right());
    long long dy = gap(window.Y, window.Bottom(), screen.Y, screen.Bottom());
    return dx * dx + dy * dy;
}

} // namespace

ScreenRect RestoredRect(const WindowPlacement& stored, const ScreenRect& current, int minWidth,
                        int minHeight, const std::vector<ScreenRect>& screens)
{
    ScreenRect rect;
    rect.X = stored.X == -1 ? current.X : stored.X;
    rect.Y = stored.Y == -1 ? current.Y : stored.Y;
    rect.Width = std::max(stored.Width, minWidth);
    rect.Height = std::max(stored.Height, minHeight);
    if (screens.empty())
        return rect;

    int largestWidth = 0, largestHeight = 0;
    for (const ScreenRect& screen : screens) {
        largestWidth = std::max(largestWidth, screen.Width);
        largestHeight = std::max(largestHeight, screen.Height);
    }
    rect.Width = std::min(rect.Width, std::max(largestWidth, minWidth));
    rect.Height = std::min(rect.Height, std::max(largestHeight, minHeight));

    for (const ScreenRect& screen : screens)
        if (OverlapsEnough(rect, screen))
            return rect;

    const ScreenRect* nearest = &screens.front();
    long long best = LLONG_MAX;
    for (const ScreenRect& screen : screens) {
        long long distance = DistanceSquared(rect, screen);
        if (distance < best) {
            best = distance;
            nearest = &screen;
        }
    }
    // Inside the nearest screen, as close to where it was as the screen allows.
    rect.X = std::clamp(rect.X, nearest->X, std::max(nearest->X, nearest->Right() - rect.Width));
    rect.Y = std::clamp(rect.Y, nearest->Y, std::max(nearest->Y, nearest->Bottom() - rect.Height));
    return rect;
}

ScreenRect VirtualScreen(const std::vector<ScreenRect>& screens)
{
    if (screens.empty())
        return {};
    int left = INT_MAX, top = INT_MAX, right = INT_MIN, bottom = INT_MIN;
    for (const ScreenRect& screen : screens) {
        left = std::min(left, screen.X);
        top = std::min(top, screen.Y);
        right = std::max(right, screen.Right());
        bottom = std::max(bottom, screen.Bottom());
    }
    return {left, top, right - left, bottom - top};
}

bool NeedsCentring(const ScreenRect& window, const ScreenRect& screen)
{
    return window.Right() < screen.X + kPopUpMargin || window.X > screen.Right() - kPopUpMargin ||
           window.Bottom() < screen.Y + kPopUpMargin || window.Y > screen.Bottom() - kPopUpMargin;
}

ScreenRect CentredIn(const ScreenRect& window, const ScreenRect& area)
{
    ScreenRect rect = window;
    rect.X = area.X + (area.Width - window.Width) / 2;
    rect.Y = area.Y + (area.Height - window.Height) / 2;
    return rect;
}
