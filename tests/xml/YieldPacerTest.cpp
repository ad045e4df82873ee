#include "xml/YieldPacer.h"

#include <gtest/gtest.h>
#include <vector>

namespace {

// Steps with the clock moving `microsPerStep` each step; how many yields after `steps`.
unsigned YieldsAfter(int64_t microsPerStep, unsigned steps, int64_t yieldTakes = 0)
{
    int64_t now = 0;
    CYieldPacer pacer([&] { return now; }, [&] { now += yieldTakes; });
    for (unsigned i = 0; i < steps; ++i) {
        now += microsPerStep;
        pacer.Step();
    }
    return pacer.Yields();
}

} // namespace

TEST(YieldPacer, YieldsAboutOnceAMillisecondOfWork)
{
    struct Case
    {
        const char* What;
        int64_t MicrosPerStep;
        unsigned Steps;
        int64_t YieldTakes;
        unsigned Yields;
    };
    const std::vector<Case> cases = {
        {"fast steps under a millisecond in all", 0, 100000, 0, 0},
        {"just under a millisecond", 1, 999, 0, 0},
        // The clock is read every 16 steps: 1,008 us at the 63rd read.
        {"first millisecond", 1, 1008, 0, 1},
        {"ten milliseconds of small steps", 1, 10000, 0, 9},
        // Slow steps: a yield at every clock read, never more often.
        {"slow steps", 5000, 160, 0, 10},
        // Time spent in the yield is not counted as reading time.
        {"a long yield is not reading", 50, 1600, 50000, 50},
    };
    for (const Case& c : cases)
        EXPECT_EQ(YieldsAfter(c.MicrosPerStep, c.Steps, c.YieldTakes), c.Yields) << c.What;
}
