// A simulated week of the polling core on the simulated network: 500 devices,
// each day with captures (one across midnight), a save and reload, a
// silent hour, the clock set forward and back, five hours suspended. Prints
// simulated days per real minute, memory, calls made and the checks of
// tests/soak/soak.h.
#include "../tests/soak/soak.h"

#include <cstdio>
#include <cstdlib>

int main(int argc, char *argv[])
{
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    soak::Options o;
    o.days = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
    o.devices = argc > 2 ? std::max(10, std::atoi(argv[2])) : 500;
    std::printf("Soak: %d simulated days, %d devices on COM1\n", o.days, o.devices);
    const soak::Report r = soak::Harness(o).run();

    std::printf("Real time: %.1f s, %.2f simulated days per real minute\n", r.seconds, o.days / (r.seconds / 60.0));
    std::printf("Ticks: %ld; reads %ld; network calls %ld (relay writes %ld)\n", r.ticks, r.reads, r.networkCalls, r.relayWrites);
    std::printf("Saves %ld, captures %ld, capture lines %ld\n", r.saves, r.captures, r.captureLines);
    std::printf("Resident memory at the end of each day (MB):");
    for (double mb : r.residentPerDay)
        std::printf(" %.1f", mb);
    std::printf("\n");
    double growth = 0;
    if (r.residentPerDay.size() > 1)
        growth = (r.residentPerDay.back() - r.residentPerDay.front()) / static_cast<double>(r.residentPerDay.size() - 1);
    std::printf("Growth after the first day: %.3f MB per day (limit 1 MB); peak resident %.1f MB\n", growth, r.peakMb);
    std::printf("Checks: %ld passed of %ld\n", r.checks - r.failures, r.checks);
    for (const auto &m : r.messages)
        std::printf("  FAILED %s\n", m.c_str());
    const bool ok = r.failures == 0 && growth < 1.0;
    std::printf("%s\n", ok ? "SOAK PASSED" : "SOAK FAILED");
    return ok ? 0 : 1;
}
