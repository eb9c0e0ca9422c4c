// A simulated week of the polling core on the simulated network: 500 devices,
// each day with captures (one across midnight), a save and reload, the clock
// set forward and back, five hours suspended. Prints simulated days per real
// minute, peak memory and the checks of tests/support/soak.cpp.
#include "support/soak.h"

#include <QElapsedTimer>

#include <cstdio>
#include <cstdlib>

#include <sys/resource.h>

int main(int argc, char *argv[])
{
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const int days = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
    const int devices = argc > 2 ? std::max(10, std::atoi(argv[2])) : 500;
    std::printf("Soak: %d simulated days, %d devices on COM1\n", days, devices);
    QElapsedTimer timer;
    timer.start();
    const soak::Report r = soak::run(devices, days);
    const double seconds = static_cast<double>(timer.nsecsElapsed()) / 1e9;
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);

    std::printf("Real time: %.1f s, %.2f simulated days per real minute\n", seconds,
                days / (seconds / 60.0));
    std::printf("Ticks: %ld; capture lines %ld; peak resident %.1f MB\n", r.ticks, r.captureLines,
                static_cast<double>(usage.ru_maxrss) / 1024);
    std::printf("Checks: %ld passed of %ld\n", r.checks - r.failures, r.checks);
    for (const auto &m : r.messages)
        std::printf("  FAILED %s\n", m.c_str());
    std::printf("%s\n", r.failures == 0 ? "SOAK PASSED" : "SOAK FAILED");
    return r.failures == 0 ? 0 : 1;
}
