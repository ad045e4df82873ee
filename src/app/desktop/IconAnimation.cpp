#include "app/desktop/IconAnimation.h"

#include "platform/Clock.h"

CIconAnimation::CIconAnimation(const IClock& clock) : m_clock(clock), m_lastFrame(clock.TickCount())
{}

void CIconAnimation::Append(const std::vector<int>& frames)
{
    m_queue.insert(m_queue.end(), frames.begin(), frames.end());
}

int CIconAnimation::Step()
{
    if (!IsRunning())
        return kNoChange;
    uint32_t now = m_clock.TickCount();
    if (now - m_lastFrame <= kFrameMs)
        return kNoChange;
    m_lastFrame = now;
    if (m_queue.empty()) {
        // The last frame (the small application icon) stays up for a frame's time too.
        m_restorePending = false;
        return kStatusIcon;
    }
    int frame = m_queue.front();
    m_queue.pop_front();
    m_restorePending = m_queue.empty();
    return frame;
}
