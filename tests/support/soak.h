// Soak harness: the polling core, the capture writer and the configuration
// file driven through simulated days on the simulated network by a clock the
// harness steps, checked against a model of the rules (support/soak.cpp).
// The soak test and the week's benchmark share it.
#pragma once

#include <string>
#include <vector>

namespace soak {

struct Report {
    long ticks = 0, captureLines = 0, checks = 0, failures = 0;
    std::vector<std::string> messages; // the first failures
};

// So many devices (relays among them) through so many simulated days.
Report run(int devices, int days = 1);

} // namespace soak
