// What the page shows of each series at a glance, and the answers of the
// overview and plot requests as JSON.
#pragma once

#include "web/database.h"

#include <cstdint>
#include <string>
#include <vector>

// Why a series' latest reading deserves a look. The warnings follow the
// monitor's warning list: the first value of a watched sensor outside its
// limits (equal is inside), an active input of a detector or relay device.
enum class Warning { None, Below, Above, Active };

Warning warningOf(const SeriesInfo &s);
// The reading is older than a few capture intervals: the station, or its
// capture, has stopped.
bool isStale(const SeriesInfo &s, std::int64_t now);

std::string overviewJson(const std::vector<SeriesInfo> &rows, std::int64_t now, const std::string &user);
// The rows of climalog.tramo per series, times in seconds as the charts
// take them, with the width of a bucket so the page can tell a gap.
std::string plotJson(const std::vector<int> &keys, const std::vector<Span> &rows, std::int64_t desde,
                     std::int64_t hasta, int cubos);
