#include "xml/YieldPacer.h"

#include <chrono>
#include <sched.h>

namespace {

int64_t SteadyMicros()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

CYieldPacer::CYieldPacer() : CYieldPacer(SteadyMicros, [] { ::sched_yield(); }) {}

CYieldPacer::CYieldPacer(std::function<int64_t()> nowMicros, std::function<void()> yield)
    : m_now(std::move(nowMicros)), m_yield(std::move(yield)), m_last(m_now())
{}

void CYieldPacer::CheckClock()
{
    int64_t now = m_now();
    if (now - m_last < kIntervalMicros)
        return;
    m_yield();
    ++m_yields;
    // Measured from after the yield: the time spent away is not reading.
    m_last = m_now();
}
