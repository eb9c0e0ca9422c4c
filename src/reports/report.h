// A report of a station (or of chosen columns of several) over a period,
// as an audit asks for it: each column's figures, the alarms and the
// configuration changes of the period, and the plots. It is loaded from the
// archive's read interface (load), then written as a PDF (pdf) or as the
// table of figures in CSV (csv). Instants are ms since the epoch (UTC);
// texts are the station's, and everything a reader reads is Spanish.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct pg_conn;

namespace reports {

// The period of a report in the station's zone.
enum class Span { Day, Week, Month, Dates };

struct Period {
    std::int64_t from = 0, to = 0; // [from, to), ms UTC
    std::string
        text; // "7 de diciembre de 2026", "diciembre de 2026", "del 1 al 7 de diciembre de 2026"
};

// The period that holds the local date `first` (Day: that day; Week: its week
// from Monday; Month: its month; Dates: from `first` to `last`, both whole
// days), dates as "YYYY-MM-DD", in the IANA zone `zone`. Empty text: a date
// or zone that does not exist.
Period periodOf(Span span, const std::string &first, const std::string &last,
                const std::string &zone);

struct Request {
    std::string site; // the site's name, printed on every page; may be empty
    std::string station; // every series of this station when `series` is empty
    std::vector<int> series; // climalog.serie ids, of one or several stations
    Period period;
    std::int64_t madeAt = 0; // when the report is made (printed; the clock's now)
    int plotBuckets = 1000; // points of each plotted line
};

// The limits in force on a column over part of the period: those of the
// archived configuration at each moment (the latest the archive had read
// by then; before the first one, the first one).
struct Limits {
    std::int64_t from = 0, to = 0;
    std::optional<float> min, max; // none: the column has no limits (humidity, input, no device)
    bool watched = false; // the monitor lists it as a warning
};

struct Column {
    int series = 0;
    std::string station, zone, port, column, unit;
    char kind = ' '; // T temperature, H humidity, a..d a converter's channel, 1 2 an input
    std::string device,
        deviceType; // from the configuration in force at the period's end; may be empty
    int periodSeconds = 0; // the device's sampling period; 0 when unknown
    std::int64_t expected = 0; // lines the port should have written in the period
    std::int64_t lines = 0; // lines of the period that hold the column
    std::int64_t received = 0; // of them, readings that are not ERR
    std::int64_t errors = 0; // of them, ERR
    std::int64_t missing = 0; // expected lines the period does not have
    std::optional<double> min, max; // none: no reading
    std::int64_t minAt = 0, maxAt = 0; // the first instant of each
    std::optional<double> mean, stddev; // stddev: of the sample (n - 1), none below two readings
    std::optional<double> mkt; // mean kinetic temperature, ºC: temperatures only
    std::int64_t belowMs = 0, aboveMs = 0; // time under the minimum, over the maximum
    std::int64_t activeMs = 0; // inputs: time active
    std::vector<Limits> limits; // in order; more than one: the limits changed in the period
};

struct Alarm {
    std::string station, port, column; // column empty: the port's own (parada)
    std::string condition, rule; // as stored: "alto" "bajo" "activa" "err" "parada"
    std::int64_t start = 0;
    std::optional<std::int64_t> end;
    std::optional<double> extreme, limit;
    std::string ackBy, comment;
    std::optional<std::int64_t> ackAt;
};

// One change between two archived configurations of a port.
struct Change {
    std::int64_t seen = 0; // when the archive read the new configuration
    std::string station, port, device; // device: its name
    std::string
        what; // "límites" "unidades" "periodo" "acción" "relé" "dispositivo nuevo" "dispositivo quitado" ...
    std::string before,
        after; // as a reader reads them ("10,0 a 25,0 ºC"); empty for a device added or removed
};

// A plotted line: the readings in buckets (or each line, when there are
// fewer lines than buckets); a bucket without readings is a gap.
struct Line {
    int column = 0; // index in Report::columns
    std::vector<std::int64_t> t; // each point's instant
    std::vector<double> min, max; // NaN: a gap
};

// One plot per group: temperatures, humidities, converters by unit, inputs.
struct Plot {
    std::string title; // "Temperaturas" "Humedades" "Entradas" or the converters' unit
    std::string unit;
    bool steps = false; // inputs are drawn as steps
    std::vector<Line> lines;
    std::vector<double> limits; // horizontal lines: every limit in force on the plot's columns
};

// How far a port's lines are archived: its latest stored line.
struct Coverage {
    std::string station, port;
    std::optional<std::int64_t> lastLine;
};

struct Report {
    Request request;
    std::string zone; // the stations' zone (the first one's when several)
    std::vector<Column> columns;
    std::vector<Alarm> alarms;
    std::vector<Change> changes;
    std::vector<Plot> plots;
    std::vector<Coverage> coverage;
    std::vector<std::string>
        notes; // said under the title: limits changed, lines not archived yet...
};

// Loads a report through the read interface (a reader's or the alarm
// program's role). Throws std::runtime_error with a Spanish text when the
// database refuses or the request names nothing.
Report load(pg_conn *c, const Request &request);

// The report as an A4 PDF with its fonts embedded, every page numbered.
std::string pdf(const Report &report);

// The table of column figures as CSV (the export's conventions: UTF-8,
// ';' between fields, decimal comma).
std::string csv(const Report &report);

// Whether a port's lines reach the period's end (its last second).
bool reaches(const Coverage &coverage, const Period &period);
// Whether every port's lines reach the period's end.
bool complete(const Report &report);

} // namespace reports
