#include "central/marks.h"

#include <algorithm>

namespace central {

namespace {

// A capture writes a line at least every sampling period; a few missed
// lines mean it stopped. Without the period, a minute.
constexpr std::int64_t staleFloor = 60000;

} // namespace

bool isInput(const std::string &type) { return type == "DET" || type == "CTR"; }

const char *markName(Mark m)
{
    switch (m) {
    case Mark::Below:
        return "bajo";
    case Mark::Above:
        return "alto";
    case Mark::Active:
        return "activa";
    case Mark::None:
        break;
    }
    return "";
}

Mark markOf(const Watch &w, std::optional<double> value)
{
    if (!w.watched || !value)
        return Mark::None;
    if (isInput(w.deviceType))
        return *value == 1 ? Mark::Active : Mark::None;
    // The monitor compares its single-precision reading with the
    // single-precision limits: 21.9 read against a limit of 21.9 is inside.
    const float v = static_cast<float>(*value);
    if (w.min && v < *w.min)
        return Mark::Below;
    if (w.max && v > *w.max)
        return Mark::Above;
    return Mark::None;
}

std::int64_t staleAllowance(int periodSeconds)
{
    return std::max<std::int64_t>(staleFloor, 3 * 1000 * static_cast<std::int64_t>(periodSeconds));
}

bool isStale(std::optional<std::int64_t> latest, int periodSeconds, std::int64_t now)
{
    if (!latest)
        return true;
    return now - *latest > staleAllowance(periodSeconds);
}

} // namespace central
