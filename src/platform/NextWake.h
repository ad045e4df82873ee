#pragma once
// When the poll is next needed. Every part that keeps time (pacing, reports, keep-alives,
// due answers, scheduled messages) adds its earliest moment; the front end sleeps until the
// earliest of them, or until a socket has something to read.
#include "platform/Clock.h"

#include <cstdint>
#include <ctime>

class CNextWake
{
public:
    static constexpr uint32_t kNever = UINT32_MAX;

    explicit CNextWake(const IClock& clock) : m_clock(clock) {}

    // A moment of the wrapping tick count; one already reached means now.
    void AtTick(uint32_t tick)
    {
        int32_t left = static_cast<int32_t>(tick - m_clock.TickCount());
        After(left > 0 ? static_cast<uint32_t>(left) : 0);
    }
    // The start of a calendar second; one already begun means now.
    void AtSecond(std::time_t second)
    {
        std::time_t now = m_clock.Now();
        if (second <= now) {
            After(0);
            return;
        }
        std::time_t seconds = second - now;
        if (seconds > kNever / 1000 - 1)
            seconds = kNever / 1000 - 1;
        After(static_cast<uint32_t>(seconds) * 1000 - m_clock.MillisecondsIntoSecond());
    }
    void After(uint32_t milliseconds)
    {
        if (milliseconds < m_milliseconds)
            m_milliseconds = milliseconds;
    }
    void Now() { After(0); }

    bool IsSet() const { return m_milliseconds != kNever; }
    // Milliseconds from now; kNever when nothing waits.
    uint32_t Milliseconds() const { return m_milliseconds; }

private:
    const IClock& m_clock;
    uint32_t m_milliseconds = kNever;
};
