// One simulated day of the polling core on the simulated network, with every
// fault of a week packed into it; the week itself is bench/soak_bench.
#include "support/soak.h"

#include <gtest/gtest.h>

// Captures (one across midnight), the daily save and reload,
// the clock set forward and back, five hours suspended. The sanitizers slow
// every call many times over: that build runs the day on fewer devices.
TEST(Soak, OneSimulatedDay)
{
#if defined(__SANITIZE_ADDRESS__)
    const soak::Report r = soak::run(120);
#else
    const soak::Report r = soak::run(500);
#endif
    for (const std::string &m : r.messages)
        ADD_FAILURE() << m;
    // Enough happened, or the day means little.
    EXPECT_TRUE(r.ticks > 20000 && r.captureLines > 1000 && r.checks > 100000)
        << r.ticks << " ticks, " << r.captureLines << " lines, " << r.checks << " checks";
}
