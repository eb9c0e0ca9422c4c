// One simulated day of the polling core on the simulated network, with every
// fault of a week packed into it; the week itself is bench/soak_bench.
#include "soak.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

void print(const soak::Report &r)
{
    std::printf("soak: %.1f s real, %ld ticks (%ld capturing), %ld reads, %ld network calls, %ld relay writes, %ld edits, "
                "%ld saves, %ld reloads, %ld captures, %ld capture lines, %ld ticks with lost relay writes, %ld re-sorts in a tick, "
                "%ld repeated headers, %d devices at the end\n",
                r.seconds, r.ticks, r.captureTicks, r.reads, r.networkCalls, r.relayWrites, r.edits, r.saves, r.reloads, r.captures,
                r.captureLines, r.lostWriteTicks, r.resortsInTick, r.extraHeaders, r.devicesAtEnd);
    std::printf("soak: %ld checks, %ld failed; resident %.1f MB at six hours, %.1f MB at the end, peak %.1f MB\n", r.checks, r.failures,
                r.residentAfterQuarter, r.residentPerDay.empty() ? 0.0 : r.residentPerDay.back(), r.peakMb);
    for (const auto &m : r.messages)
        std::printf("  %s\n", m.c_str());
}

} // namespace

// A full day: captures (one across midnight), the daily save and reload,
// edits in the middle of ticks, a silent hour, latency, lost relay writes,
// the clock set forward and back, five hours suspended. The sanitizers slow
// every call many times over: that build runs the same day on fewer devices.
TEST(Soak, OneSimulatedDay)
{
    soak::Options o;
    o.devices = kSanitized ? 120 : 500;
    if (const char *devices = std::getenv("SOAK_DEVICES")) // a bigger or smaller day by hand
        o.devices = std::max(10, std::atoi(devices));
    o.days = 1;
    o.memoryCheck = !kSanitized;
    soak::Harness h(o);
    const soak::Report r = h.run();
    print(r);

    EXPECT_EQ(r.failures, 0);
    // Enough of a day to mean something: every kind of event happened.
    EXPECT_GT(r.ticks, 20000);
    EXPECT_GE(r.captures, 5);
    EXPECT_GT(r.captureLines, 1000);
    EXPECT_GE(r.reloads, 2); // one between ticks, one in the middle of a tick
    EXPECT_GT(r.edits, 20);
    EXPECT_GT(r.lostWriteTicks, 0);
    EXPECT_GE(r.resortsInTick, 1); // the table was reordered under a running tick
    EXPECT_GE(r.extraHeaders, 1);  // the clock took a capture back to the day before
    EXPECT_GT(r.checks, 100000);
    // The first hours warm every cache; the rest of the day must not grow.
    if (o.memoryCheck && !r.residentPerDay.empty()) {
        EXPECT_LT(r.residentPerDay.back() - r.residentAfterQuarter, 1.0) << "resident memory grew during the day";
    }
}
