#pragma once
// Watches key presses anywhere on the desktop for the product's name typed out
// ("ZIBTAM" or "ZIB TAM") and answers with the tray icon's little animation.
#include "platform/Random.h"

#include <vector>

class CKeySequenceMatcher
{
public:
    // Feeds one key-down (a virtual-key code; Shift is never fed). Returns 0, or the
    // animation variant (1 or 2) whose sequence was just completed.
    int Feed(int virtualKey, bool chatWindowHasForeground);

    // The icon frames to queue for a completed sequence: three times out of four none.
    static std::vector<int> AnimationFrames(int variant, bool secondary, IRandom& random);

private:
    int m_positions[2] = {0, 0};
};
