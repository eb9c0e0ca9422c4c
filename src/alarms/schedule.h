// When a report rule's reports are due: its periods in the station's zone
// (a day from local midnight, a week from Monday, a month from the 1st),
// each due at the rule's hour on the local day its period ends; and whether
// a due period whose lines are not all archived goes now or waits. Pure:
// the clock and what was sent are given.
#pragma once

#include "alarms/settings.h"

#include <QDate>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace alarms {

struct DuePeriod {
    QDate first; // the period's first local day
    std::int64_t from = 0, to = 0; // [from, to), ms UTC
    std::int64_t due = 0; // when its report is due, ms UTC
};

// A program down for longer sends at most this many missed periods of a
// report: the latest ones.
constexpr int mostMissed = 31;

// The periods of `rule` due by `now` in the IANA zone `zone`, oldest first:
// every one after the period that ended at `lastTo` (at most the latest
// `mostMissed`); with none sent yet, the latest one alone. Empty for a zone
// that does not exist.
std::vector<DuePeriod> duePeriods(const ReportRule &rule, const std::string &zone,
                                  std::optional<std::int64_t> lastTo, std::int64_t now);

enum class Readiness {
    Wait, // its lines may still come
    Send, // every port's lines reach the period's end
    SendIncomplete, // waited `esperar` hours: goes saying which ports are short
};

Readiness readiness(bool complete, std::int64_t due, int waitHours, std::int64_t now);

} // namespace alarms
