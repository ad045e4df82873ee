#pragma once
// The tray icon's little animation: a queue of icon ids (filled when the product's name is
// typed, see CKeySequenceMatcher) shown one frame at a time, then the status icon again.
//
// Use (the tray icon): Append(frames); while IsRunning(), call Step() every
// kFrameMs or so and show what it returns.
#include <cstdint>
#include <deque>
#include <vector>

class IClock;

class CIconAnimation
{
public:
    static constexpr uint32_t kFrameMs = 100;
    // Step()'s answers besides an icon id.
    static constexpr int kNoChange = 0;
    static constexpr int kStatusIcon = -1;

    explicit CIconAnimation(const IClock& clock);

    void Append(const std::vector<int>& frames);
    // Frames are queued, or the last one has yet to give way to the status icon.
    bool IsRunning() const { return !m_queue.empty() || m_restorePending; }
    // The icon to show now: the next frame once more than kFrameMs passed since the last
    // one, kStatusIcon when the last frame has had its time, else kNoChange.
    int Step();

private:
    const IClock& m_clock;
    std::deque<int> m_queue;
    uint32_t m_lastFrame;
    bool m_restorePending = false;
};
