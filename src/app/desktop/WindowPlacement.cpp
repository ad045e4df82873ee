#include "app/desktop/WindowPlacement.h"

#include <algorithm>
#include <climits>
#include <cstdlib>

namespace {

int Right(const ScreenRect& rect)
{
    return rect.X + rect.Width;
}

int Bottom(const ScreenRect& rect)
{
    return rect.Y + rect.Height;
}

// How much of `a` and `b` overlap in each direction.
bool OverlapsEnough(const ScreenRect& window, const ScreenRect& screen)
{
    int width = std::min(Right(window), Right(screen)) - std::max(window.X, screen.X);
    int height = std::min(Bottom(window), Bottom(screen)) - std::max(window.Y, screen.Y);
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
    long long dx = gap(window.X, Right(window), screen.X, Right(screen));
    long long dy = gap(window.Y, Bottom(window), screen.Y, Bottom(screen));
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
    rect.X = std::clamp(rect.X, nearest->X, std::max(nearest->X, Right(*nearest) - rect.Width));
    rect.Y = std::clamp(rect.Y, nearest->Y, std::max(nearest->Y, Bottom(*nearest) - rect.Height));
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
        right = std::max(right, Right(screen));
        bottom = std::max(bottom, Bottom(screen));
    }
    return {left, top, right - left, bottom - top};
}
