// The one rule of what a series' reading is marked with, shared by the web
// page's overview and the alarm program: the monitor's warning list (the
// value of a watched sensor outside its limits, equal being inside; an
// active input of a detector or relay device), and the rule of a port
// whose capture has stopped.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace central {

enum class Mark { None, Below, Above, Active };

// The watch a series' device puts on it, from its port's latest
// configuration: the limits of a sensor (none for other series), the
// device's type ("STT" "HRT" "AVI" "DET" "CTR"), and whether it is watched.
struct Watch {
    std::optional<float> min, max;
    std::string deviceType;
    bool watched = false;
};

// The mark of one reading (none: ERR, which is marked None here).
Mark markOf(const Watch &w, std::optional<double> value);
// Its name, as the page and the alarms' conditions call it: "bajo" "alto"
// "activa", "" for none.
const char *markName(Mark m);
// A detector's or relay device's input: marked when active, not by limits.
bool isInput(const std::string &deviceType);

// How long a port may go without a line before its capture counts as
// stopped: three sampling periods (seconds), at least a minute; in ms.
std::int64_t staleAllowance(int periodSeconds);

// The latest line (ms since the epoch; none: never) is older than the
// allowance at `now`.
bool isStale(std::optional<std::int64_t> latest, int periodSeconds, std::int64_t now);

} // namespace central
