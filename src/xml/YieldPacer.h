#pragma once
// Gives up the processor now and then during a long piece of work on the user-interface
// thread, so that a long parse never holds the processor for long. One yield per step
// costs more than the step itself, so it yields only once at least a millisecond of work
// has passed since the last yield, and reads the clock only every few steps.
#include <cstdint>
#include <functional>

class CYieldPacer
{
public:
    static constexpr int64_t kIntervalMicros = 1000;
    static constexpr unsigned kStepsPerClockRead = 16;

    // `nowMicros`: a monotonic clock; `yield`: gives up the processor. Both default to the
    // system's (steady clock, sched_yield).
    CYieldPacer();
    CYieldPacer(std::function<int64_t()> nowMicros, std::function<void()> yield);

    // After one unit of work (one element).
    void Step()
    {
        if (++m_steps % kStepsPerClockRead == 0)
            CheckClock();
    }

    unsigned Yields() const { return m_yields; }

private:
    void CheckClock();

    std::function<int64_t()> m_now;
    std::function<void()> m_yield;
    int64_t m_last;
    unsigned m_steps = 0;
    unsigned m_yields = 0;
};
