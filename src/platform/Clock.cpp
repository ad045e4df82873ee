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
    return std::time(nullptr);
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
