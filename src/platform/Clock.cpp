#include "platform/Clock.h"

#include <chrono>

uint32_t CSystemClock::TickCount() const
{
    auto since = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(since).count());
}

std::time_t CSystemClock::Now() const
{
    // The same clock as MillisecondsIntoSecond, read finely: time() may lag a few
    // milliseconds behind it, and a second that has begun there must have begun here too.
    return std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
}

uint32_t CSystemClock::MillisecondsIntoSecond() const
{
    auto since = std::chrono::system_clock::now().time_since_epoch();
    return static_cast<uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(since).count() % 1000);
}

CSystemClock& CSystemClock::Instance()
{
    static CSystemClock clock;
    return clock;
}
