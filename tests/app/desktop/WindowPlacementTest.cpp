#include "app/desktop/WindowPlacement.h"

#include <gtest/gtest.h>

namespace {

const std::vector<ScreenRect> kTwoScreens = {{0, 0, 1280, 1024}, {1280, 0, 1920, 1080}};

TEST(WindowPlacementTest, RestoredRectKeepsWhatFitsAndBringsBackWhatIsOffEveryScreen)
{
    const ScreenRect current{50, 60, 468, 413};
    const struct
    {
        const char* what;
        WindowPlacement stored;
        ScreenRect expected;
    } cases[] = {
        {"as stored", {100, 120, 500, 450, false}, {100, 120, 500, 450}},
        {"on the second screen", {2000, 100, 600, 500, false}, {2000, 100, 600, 500}},
        {"-1 keeps the position", {-1, -1, 500, 450, false}, {50, 60, 500, 450}},
        {"raised to the minimum", {10, 10, 100, 50, false}, {10, 10, 468, 413}},
        {"a monitor that is gone", {4000, 200, 600, 500, false}, {2600, 200, 600, 500}},
        {"far above", {300, -5000, 600, 500, false}, {300, 0, 600, 500}},
        {"left of everything", {-900, 300, 600, 500, false}, {0, 300, 600, 500}},
        {"larger than any screen", {0, 0, 5000, 4000, false}, {0, 0, 1920, 1080}},
        {"a corner still in sight", {1240, 990, 600, 500, false}, {1240, 990, 600, 500}},
        {"a sliver in sight", {1270, 1060, 600, 500, false}, {1280, 580, 600, 500}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(RestoredRect(c.stored, current, 468, 413, kTwoScreens), c.expected) << c.what;
    // Without screens to go by, only the minimum applies.
    EXPECT_EQ(RestoredRect({-7000, 9000, 10, 10, false}, current, 468, 413, {}),
              (ScreenRect{-7000, 9000, 468, 413}));
}

TEST(WindowPlacementTest, VirtualScreenBoundsEveryMonitor)
{
    EXPECT_EQ(VirtualScreen(kTwoScreens), (ScreenRect{0, 0, 3200, 1080}));
    EXPECT_EQ(VirtualScreen({{-1920, 200, 1920, 1080}, {0, 0, 1280, 1024}}),
              (ScreenRect{-1920, 0, 3200, 1280}));
}

} // namespace
