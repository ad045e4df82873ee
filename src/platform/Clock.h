#pragma once
// Time as the program sees it: a millisecond tick count that wraps like the system's
// 32-bit counter, and calendar seconds. Tests swap in a clock they move by hand.
#include <cstdint>
#include <ctime>

class IClock
{
public:
    virtual ~IClock() = default;
    // Milliseconds since an arbitrary start, wrapping at 2^32; compare with unsigned differences.
    virtual uint32_t TickCount() const = 0;
    // Calendar time in seconds.
    virtual std::time_t Now() const = 0;
    // How far the current calendar second has run, 0 to 999 milliseconds.
    virtual uint32_t MillisecondsIntoSecond() const = 0;
};

class CSystemClock : public IClock
{
public:
    uint32_t TickCount() const override;
    std::time_t Now() const override;
    uint32_t MillisecondsIntoSecond() const override;
    // The one process-wide real clock, for code that has no clock handed to it.
    static CSystemClock& Instance();
};

// A clock for tests: moves only when told.
class CManualClock : public IClock
{
public:
    uint32_t TickCount() const override { return m_ticks; }
    std::time_t Now() const override { return m_now; }
    uint32_t MillisecondsIntoSecond() const override { return m_elapsed; }
    void SetTicks(uint32_t ticks) { m_ticks = ticks; }
    void SetNow(std::time_t now) { m_now = now; }
    void Advance(uint32_t milliseconds)
    {
        m_ticks += milliseconds;
        m_elapsed += milliseconds;
        m_now += static_cast<std::time_t>(m_elapsed / 1000);
        m_elapsed %= 1000;
    }

private:
    uint32_t m_ticks = 0;
    uint32_t m_elapsed = 0;
    std::time_t m_now = 958'000'000;
};
