#include "app/desktop/KeySequenceMatcher.h"

namespace {

constexpr int kSequences[2][8] = {
    {'Z', 'I', 'B', 'T', 'A', 'M', 0},
    {'Z', 'I', 'B', 0x20, 'T', 'A', 'M', 0},
};

} // namespace

int CKeySequenceMatcher::Feed(int virtualKey, bool chatWindowHasForeground)
{
    if (chatWindowHasForeground) {
        m_positions[0] = m_positions[1] = 0;
        return 0;
    }
    int completed = 0;
    for (int s = 0; s < 2; ++s) {
        int& position = m_positions[s];
        position = virtualKey == kSequences[s][position] ? position + 1 : 0;
        if (kSequences[s][position] == 0) {
            position = 0;
            completed = s + 1;
        }
    }
    return completed;
}

std::vector<int> CKeySequenceMatcher::AnimationFrames(int variant, bool secondary, IRandom& random)
{
    if (variant == 0 || random.Next() % 4 != 0)
        return {};
    std::vector<int> frames = variant == 1
                                  ? std::vector<int>{109, 200, 201, 205, 202, 206, 204, 203}
                                  : std::vector<int>{109, 200, 109, 203, 109, 202};
    frames.push_back(secondary ? 108 : 109);
    return frames;
}
