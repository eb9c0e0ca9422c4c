// One simulated day of the polling core on the simulated network, with every
// fault of a week packed into it; the week itself is bench/soak_bench.
#include "soak.h"

#include <gtest/gtest.h>

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

// Captures (one across midnight), the daily save and reload, a silent
// hour, the clock set forward and back, five hours suspended. The sanitizers
// slow every call many times over: that build runs the day on fewer devices.
TEST(Soak, OneSimulatedDay)
{
    soak::Options o;
    o.devices = kSanitized ? 120 : 500;
    const soak::Report r = soak::Harness(o).run();
    std::printf("soak: %.1f s, %ld ticks, %ld reads, %ld network calls, %ld relay writes, %ld saves, %ld captures, %ld capture lines, "
                "%ld checks; resident %.1f MB at six hours, %.1f MB at the end\n",
                r.seconds, r.ticks, r.reads, r.networkCalls, r.relayWrites, r.saves, r.captures, r.captureLines, r.checks,
                r.residentAfterQuarter, r.residentPerDay.empty() ? 0.0 : r.residentPerDay.back());
    for (const std::string &m : r.messages)
        ADD_FAILURE() << m;
    EXPECT_EQ(r.failures, 0);
    // Every kind of event happened, or the day means little.
    EXPECT_GT(r.ticks, 20000);
    EXPECT_GE(r.captures, 5);
    EXPECT_GT(r.captureLines, 1000);
    EXPECT_GE(r.extraHeaders, 1); // the clock took a capture back to the day before
    EXPECT_GT(r.checks, 100000);
    if (!kSanitized && !r.residentPerDay.empty()) { // the first hours warm every cache; the rest of the day must not grow
        EXPECT_LT(r.residentPerDay.back() - r.residentAfterQuarter, 1.0) << "resident memory grew during the day";
    }
}
