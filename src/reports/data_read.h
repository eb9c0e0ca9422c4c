// What the report's loading shares between its files: the statements on
// the archive and the parsing of their rows, the archived configurations
// and the texts a reader reads.
#pragma once

#include "central/marks.h"
#include "central/query.h"
#include "reports/report.h"
#include "reports/stats.h"

#include <QTimeZone>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace reports::detail {

// Instants as ms since the epoch, in SQL.
#define MS(x) "(date_part('epoch', " x ") * 1000)::bigint"

// A device of an archived configuration.
struct Device {
    int position = 0;
    std::string name, serial, relay;
    int type = 0;
    float min = 0, max = 0;
    int action = 0;
    std::vector<std::string> units;
    int period = 0;
};
struct Configuration {
    int id = 0;
    std::int64_t read = 0;
    std::vector<Device> devices;
    int intervalMs = 1000;
};

// A statement that must give rows; throws a Spanish text naming `what`.
central::Result query(pg_conn *c, const char *sql, const central::Params &p, const char *what);
std::int64_t number(const central::Result &r, int row, int col);
std::string text(const central::Result &r, int row, int col);
std::optional<double> optionalNumber(const central::Result &r, int row, int col);
std::optional<std::int64_t> optionalInteger(const central::Result &r, int row, int col);
// The rows of `fields` of a read function of (series, desde, hasta) over the report's period.
central::Result overPeriod(pg_conn *c, const char *fields, const char *function,
                           const QByteArray &series, const Period &p, const char *what);
// The elements of an array's text ("{1,NULL,2.5}"); NULL as NaN.
std::vector<double> numbers(const QByteArray &a);
QByteArray intArray(const std::vector<int> &v);
// An instant in seconds, for to_timestamp.
QByteArray msText(std::int64_t ms);

const char *typeName(int t);
// The device of a series' name and class, as the summary matches them.
const Device *deviceOf(const Configuration &c, const std::string &name, char kind);
// The watch a device puts on a column; `listed`: whether the monitor lists
// it as a warning.
central::Watch watchOf(const Device *d, char kind, bool *listed = nullptr);
// "10,0 a 25,0 ºC", or "sin límites".
std::string limitsText(const Limits &l, const std::string &unit);

// The parts of a report besides its columns' figures.
struct PortKey {
    int id;
    std::string station, name;
    const std::vector<Configuration> *configurations;
};
void loadAlarms(pg_conn *c, Report &r, const std::vector<int> &ports, const QByteArray &series);
void loadChanges(Report &r, const std::vector<PortKey> &ports);
// A series' rollup pieces (whole hours, the edges' minutes) and its place in each header.
struct PlotSource {
    const std::vector<Piece> *pieces;
    const std::map<int, int> *places;
};
void loadPlots(pg_conn *c, Report &r, const std::map<int, PlotSource> &sources);
void loadCoverage(pg_conn *c, Report &r, const QByteArray &series);

} // namespace reports::detail
