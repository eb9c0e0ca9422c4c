// How a report writes its figures for a reader: decimal comma, times in the
// station's zone, durations and shares, and the station's own texts made
// safe to print (valid UTF-8, no line ends or other control characters).
#pragma once

#include "reports/report.h"

#include <cstdint>
#include <optional>
#include <string>

namespace reports::text {

// Valid UTF-8 (a wrong byte becomes U+FFFD) with every control character a
// space.
std::string clean(const std::string &s);
// `decimals` digits after a decimal comma; below zero, up to four, without
// the zeros at the end.
std::string number(double v, int decimals = -1);
std::string number(const std::optional<double> &v, int decimals = -1);
// A count with its thousands apart: "2 678 400" (four digits stay together).
std::string count(std::int64_t n);
// "45 s", "12 min 05 s", "2 h 05 min".
std::string duration(std::int64_t ms);
// `part` of `whole` as "3,2 %"; empty for a whole of nothing.
std::string share(std::int64_t part, std::int64_t whole);
// "07/12/2026 14:05:09" in the IANA zone `zone` (UTC when it is unknown).
std::string when(std::int64_t ms, const std::string &zone);
// "10 a 25 ºC", "mín. 10 ºC", "máx. 25 ºC", "sin límites".
std::string limits(const Limits &l, const std::string &unit);
// The time the report's shares are of: its period, up to when it was made
// when the period was not over.
std::int64_t periodLength(const Report &r);
// The zone of `station`'s times: its columns' own, else the report's.
const std::string &zoneOf(const Report &r, const std::string &station);
// Whether the report's columns are of more than one port.
bool severalPorts(const Report &r);
// A column's place: its name, or "station - puerto P - name" when the
// report holds several ports.
std::string place(const Column &c, bool several);

} // namespace reports::text
