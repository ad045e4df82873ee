#pragma once
// When the poll is next needed. Every part that keeps time (pacing, reports, keep-alives,
// due answers, scheduled messages) adds its earliest moment; the front end sleeps until the
// earliest of them, or until a socket has something to read.
#include "platform/Clock.h"

#include <cstdint>
#include <ctime>
#include <optional>

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
        if (!m_second || second < *m_second)
            m_second = second;
        std::time_t seconds = second - now;
        if (seconds > kNever / 1000 - 1)
            seconds = kNever / 1000 - 1;
        uint32_t milliseconds =
            static_cast<uint32_t>(seconds) * 1000 - m_clock.MillisecondsIntoSecond();
        if (milliseconds < m_milliseconds)
            m_milliseconds = milliseconds;
    }
    void After(uint32_t milliseconds)
    {
        if (milliseconds < m_milliseconds)
            m_milliseconds = milliseconds;
        if (milliseconds < m_tickMilliseconds)
            m_tickMilliseconds = milliseconds;
    }
    void Now() { After(0); }

    bool IsSet() const { return m_milliseconds != kNever; }
    // Milliseconds from now; kNever when nothing waits.
    uint32_t Milliseconds() const { return m_milliseconds; }
    // The same without the calendar seconds: what a timer on the tick count must wait for.
    uint32_t TickMilliseconds() const { return m_tickMilliseconds; }
    // The earliest calendar second still to come, if any. The tick count stands still while
    // the computer sleeps and does not follow a change of the clock; a wait for a calendar
    // second is best kept by the calendar clock itself.
    std::optional<std::time_t> Second() const { return m_second; }

private:
    const IClock& m_clock;
    uint32_t m_milliseconds = kNever;
    uint32_t m_tickMilliseconds = kNever;
    std::optional<std::time_t> m_second;
};
