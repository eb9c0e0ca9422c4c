// The parameters of the page's requests, checked before anything reaches the
// database: each one known, present once, of its type and within its range.
// A request that fails gets the Spanish message for its 400 answer.
#pragma once

#include "reports/report.h"
#include "web/body.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace params {

using Map = std::multimap<std::string, std::string>;

// The most series one plot or export may ask for.
constexpr std::size_t mostSeries = 40;

struct Plot {
    std::vector<int> series;
    std::int64_t desde = 0, hasta = 0; // ms since the epoch, desde < hasta
    int cubos = 0; // the plot's width in pixels
};

struct Export {
    std::vector<int> series;
    std::int64_t desde = 0, hasta = 0;
    bool utf8 = false; // otherwise Windows-1252
    bool comma = true; // decimal comma; otherwise point
};

// A report: of a station's every column, or of chosen series (of one
// station or several); over a day, the week or month holding a date, or
// two dates; as a PDF or as the CSV of its table. The dates are the
// station's ("YYYY-MM-DD"), each one real; two dates at most a year apart.
constexpr std::size_t mostReportSeries = 400;
struct Report {
    std::string estacion; // empty: `series` names the columns
    std::vector<int> series;
    reports::Span span = reports::Span::Day;
    std::string desde, hasta; // hasta: only for two dates
    bool pdf = true; // otherwise CSV
};

// The alarms' history: of one station or all, those that overlap the
// range (either end may be left open); as CSV, in the export's formats.
struct History {
    std::string estacion; // empty: every station
    std::optional<std::int64_t> desde, hasta;
    bool utf8 = false;
    bool comma = true;
};

// The page's writes, from their JSON bodies.
constexpr int longestComment = 2000; // characters
constexpr int mostMinutes = 10080; // a week
struct Acknowledge {
    std::int64_t aviso = 0;
    std::string comentario;
};
struct Silence {
    std::int64_t aviso = 0;
    int minutos = 0;
};

// False with `error` set.
bool none(const Map &m, std::string &error);
bool plot(const Map &m, Plot &out, std::string &error);
bool exportCsv(const Map &m, Export &out, std::string &error);
bool report(const Map &m, Report &out, std::string &error);
bool history(const Map &m, History &out, std::string &error);
bool historyCsv(const Map &m, History &out, std::string &error);
bool acknowledge(const body::Object &b, Acknowledge &out, std::string &error);
bool silence(const body::Object &b, Silence &out, std::string &error);

// Buckets of whole minutes, or of whole hours past an hour, starting on the
// clock's minute or hour, at most as many as asked for: the archive answers
// those from its per-minute and per-hour figures instead of the lines (a
// year of one column: a second instead of more than a minute). Ranges whose
// buckets are shorter than a minute stay as they are.
void alignToClock(Plot &p);

// "2026-12-07T14:03:09Z", with milliseconds or an offset ("+01:00"): ms
// since the epoch. Exposed for the checks above.
bool instant(const std::string &text, std::int64_t &ms);

} // namespace params
