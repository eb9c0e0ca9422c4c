#include "reports/data_read.h"
#include "reports/text.h"

#include <QDateTime>

#include <algorithm>
#include <cmath>
#include <set>

namespace reports::detail {

using central::Params;
using central::Result;

namespace {

std::string actionText(int action)
{
    return action == 0 ? "Ninguno" : action == 1 ? "Avisar" : "Salida " + std::to_string(action);
}

// A linked relay device by its name in the configuration, else its serial.
std::string relayText(const Configuration &c, const std::string &serial)
{
    if (serial.find_first_not_of('0') == std::string::npos)
        return "ninguno";
    for (const Device &d : c.devices)
        if (d.serial == serial)
            return d.name;
    return serial;
}

std::string unitsText(const std::vector<std::string> &units)
{
    std::string t;
    for (std::size_t k = 0; k < units.size(); ++k)
        t += (k ? ", " : "") + (units[k].empty() ? std::string("—") : units[k]);
    return t;
}

// A sensor's limits as its readings are read: ºC, or a converter's first channel's unit.
std::string deviceLimits(const Device &d)
{
    Limits l;
    l.min = d.min;
    l.max = d.max;
    return limitsText(l, d.type == 3 ? (d.units.empty() ? std::string() : d.units.front()) : "ºC");
}

// The minute rollups of the report's series, as pieces.
std::map<int, std::vector<Piece>> minutePieces(pg_conn *c, const Report &r,
                                               const std::map<int, PlotSource> &sources)
{
    const Period &p = r.request.period;
    std::vector<int> ids;
    std::map<int, std::vector<std::pair<int, std::size_t>>> byHeader; // header -> (series, column)
    for (const auto &[id, source] : sources) {
        ids.push_back(id);
        for (const auto &[header, place] : *source.places)
            byHeader[header].push_back({id, static_cast<std::size_t>(place - 1)});
    }
    const Result rows = query(
        c,
        "SELECT juego, " MS("inicio") ", n, minimo, maximo FROM climalog.informe_minutos("
                                      "$1::integer[], ARRAY[to_timestamp($2::double precision)], "
                                      "ARRAY[to_timestamp($3::double precision)])",
        {{intArray(ids), msText(p.from), msText(p.to)}}, "las gráficas");
    std::map<int, std::vector<Piece>> out;
    for (int i = 0; i < rows.rows(); ++i) {
        const auto holders = byHeader.find(static_cast<int>(number(rows, i, 0)));
        if (holders == byHeader.end())
            continue;
        const std::vector<double> n = numbers(rows.field(i, 2)), mn = numbers(rows.field(i, 3)),
                                  mx = numbers(rows.field(i, 4));
        for (const auto &[series, k] : holders->second) {
            if (k >= n.size() || k >= mn.size() || k >= mx.size())
                continue;
            Piece pc;
            pc.from = number(rows, i, 1);
            pc.to = pc.from + 60000;
            pc.n = static_cast<std::int64_t>(n[k]);
            pc.min = mn[k];
            pc.max = mx[k];
            out[series].push_back(pc);
        }
    }
    return out;
}

// A column's plotted line from rollup pieces: buckets of whole units (hours
// or minutes), as few units each as keep them within `buckets`; a bucket
// without readings is a gap.
Line bucketed(const Report &r, int column, std::int64_t unit, int buckets,
              const std::vector<Piece> &pieces)
{
    const Period &p = r.request.period;
    const std::int64_t base = p.from / unit * unit, units = (p.to - base + unit - 1) / unit;
    const std::int64_t width = unit * ((units + buckets - 1) / buckets);
    const std::size_t count = static_cast<std::size_t>((p.to - base + width - 1) / width);
    Line l{column,
           {},
           std::vector<double>(count, std::nan("")),
           std::vector<double>(count, std::nan(""))};
    for (std::size_t b = 0; b < count; ++b)
        l.t.push_back(std::max(p.from, base + static_cast<std::int64_t>(b) * width));
    for (const Piece &pc : pieces) {
        if (pc.n <= 0 || pc.from < base)
            continue;
        const std::size_t b = static_cast<std::size_t>((pc.from - base) / width);
        if (b >= count)
            continue;
        l.min[b] = std::isnan(l.min[b]) ? pc.min : std::min(l.min[b], pc.min);
        l.max[b] = std::isnan(l.max[b]) ? pc.max : std::max(l.max[b], pc.max);
    }
    return l;
}

} // namespace

void loadAlarms(pg_conn *c, Report &r, const std::vector<int> &ports, const QByteArray &series)
{
    const Period &p = r.request.period;
    const Result rows = query(
        c,
        "SELECT estacion, puerto, coalesce(columna, ''), condicion, regla, " MS("inicio") ", " MS(
            "fin") ", "
                   "extremo, limite, coalesce(reconocido_por, ''), coalesce(comentario, ''), " MS(
                       "reconocido") " "
                                     "FROM climalog.avisos WHERE puerto_id = ANY ($1::integer[]) "
                                     "AND (serie IS NULL OR serie = ANY ($2::integer[])) "
                                     "AND inicio < to_timestamp($4::double precision) AND (fin IS "
                                     "NULL OR fin > to_timestamp($3::double precision)) "
                                     "ORDER BY inicio, id",
        {{intArray(ports), series, msText(p.from), msText(p.to)}}, "los avisos del periodo");
    for (int i = 0; i < rows.rows(); ++i)
        r.alarms.push_back({text(rows, i, 0), text(rows, i, 1), text(rows, i, 2), text(rows, i, 3),
                            text(rows, i, 4), number(rows, i, 5), optionalInteger(rows, i, 6),
                            optionalNumber(rows, i, 7), optionalNumber(rows, i, 8),
                            text(rows, i, 9), text(rows, i, 10), optionalInteger(rows, i, 11)});
}

void loadChanges(Report &r, const std::vector<PortKey> &ports)
{
    for (const PortKey &port : ports) {
        const std::vector<Configuration> &confs = *port.configurations;
        for (std::size_t i = 1; i < confs.size(); ++i) {
            const Configuration &before = confs[i - 1], &after = confs[i];
            const auto change = [&](const std::string &device, const char *what, std::string from,
                                    std::string to) {
                r.changes.push_back({after.read, port.station, port.name, device, what,
                                     std::move(from), std::move(to)});
            };
            const auto find = [](const Configuration &c,
                                 const std::string &name) -> const Device * {
                for (const Device &d : c.devices)
                    if (d.name == name)
                        return &d;
                return nullptr;
            };
            for (const Device &d : before.devices)
                if (!find(after, d.name))
                    change(d.name, "dispositivo quitado", "", "");
            for (const Device &d : after.devices) {
                const Device *o = find(before, d.name);
                if (!o) {
                    change(d.name, "dispositivo nuevo", "", "");
                    continue;
                }
                if (o->type != d.type)
                    change(d.name, "tipo", typeName(o->type), typeName(d.type));
                if ((o->min != d.min || o->max != d.max) && d.type >= 1 && d.type <= 3)
                    change(d.name, "límites", deviceLimits(*o), deviceLimits(d));
                if (o->units != d.units && d.type == 3)
                    change(d.name, "unidades", unitsText(o->units), unitsText(d.units));
                if (o->period != d.period)
                    change(d.name, "periodo", std::to_string(o->period) + " s",
                           std::to_string(d.period) + " s");
                if (o->action != d.action)
                    change(d.name, "acción", actionText(o->action), actionText(d.action));
                if (o->relay != d.relay)
                    change(d.name, "relé", relayText(before, o->relay), relayText(after, d.relay));
            }
        }
    }
    std::stable_sort(r.changes.begin(), r.changes.end(),
                     [](const Change &a, const Change &b) { return a.seen < b.seen; });
}

void loadPlots(pg_conn *c, Report &r, const std::map<int, PlotSource> &sources)
{
    const Period &p = r.request.period;
    // The groups, in order: temperatures, humidities, converters by unit, inputs.
    std::vector<std::pair<Plot, std::vector<int>>> groups;
    const auto groupOf = [&](const Column &col) -> std::vector<int> & {
        const bool input = col.kind == '1' || col.kind == '2';
        const std::string title = col.kind == 'T' ? "Temperaturas"
            : col.kind == 'H'                     ? "Humedades"
            : input                               ? "Entradas"
                                                  : col.unit;
        for (auto &g : groups)
            if (g.first.title == title)
                return g.second;
        Plot plot;
        plot.title = title;
        plot.unit = input ? "" : col.unit;
        plot.steps = input;
        groups.push_back({plot, {}});
        return groups.back().second;
    };
    for (std::size_t i = 0; i < r.columns.size(); ++i)
        groupOf(r.columns[i]).push_back(static_cast<int>(i));
    const auto rank = [](const Plot &pl) {
        return pl.title == "Temperaturas" ? 0
            : pl.title == "Humedades"     ? 1
            : pl.title == "Entradas"      ? 3
                                          : 2;
    };
    std::stable_sort(groups.begin(), groups.end(),
                     [&](const auto &a, const auto &b) { return rank(a.first) < rank(b.first); });
    const int buckets = std::clamp(r.request.plotBuckets, 1, 20000);
    const double width = static_cast<double>(p.to - p.from) / buckets;
    // Buckets of whole hours or minutes, from their rollups, when there are
    // at least half as many of them as buckets asked; else the lines' buckets.
    const std::int64_t length = p.to - p.from;
    const std::int64_t unit = length / 3600000 * 2 >= buckets ? 3600000
        : length / 60000 * 2 >= buckets                       ? 60000
                                                              : 0;
    std::map<int, std::vector<Piece>> minutes;
    if (unit == 60000)
        minutes = minutePieces(c, r, sources);
    for (auto &[plot, members] : groups) {
        std::vector<int> ids;
        std::map<int, int> column; // series -> index in the report
        std::set<double> limits;
        for (const int i : members) {
            const Column &col = r.columns[static_cast<std::size_t>(i)];
            ids.push_back(col.series);
            column.emplace(col.series, i);
            for (const Limits &l : col.limits)
                for (const auto &v : {l.min, l.max})
                    if (v)
                        limits.insert(*v);
        }
        plot.limits.assign(limits.begin(), limits.end());
        if (unit) {
            for (const int i : members)
                plot.lines.push_back(bucketed(
                    r, i, unit, buckets,
                    unit == 60000
                        ? minutes[r.columns[static_cast<std::size_t>(i)].series]
                        : *sources.at(r.columns[static_cast<std::size_t>(i)].series).pieces));
            r.plots.push_back(std::move(plot));
            continue;
        }
        const Result rows =
            query(c,
                  "SELECT serie, " MS("hora") ", minimo, maximo FROM climalog.tramo($1::integer[], "
                                              "to_timestamp($2::double precision), "
                                              "to_timestamp($3::double precision), $4::integer)",
                  {{intArray(ids), msText(p.from), msText(p.to), QByteArray::number(buckets)}},
                  "las gráficas");
        std::map<int, Line> lines;
        for (int i = 0; i < rows.rows(); ++i) {
            const int s = static_cast<int>(number(rows, i, 0));
            Line &l = lines[s];
            l.column = column[s];
            const std::int64_t t = number(rows, i, 1);
            const Column &col = r.columns[static_cast<std::size_t>(l.column)];
            // A gap: no line for longer than a bucket and a half, or two sampling periods.
            const double gap = std::max(1.5 * width, 2000.0 * std::max(1, col.periodSeconds));
            if (!l.t.empty() && static_cast<double>(t - l.t.back()) > gap) {
                l.t.push_back((t + l.t.back()) / 2);
                l.min.push_back(std::nan(""));
                l.max.push_back(std::nan(""));
            }
            l.t.push_back(t);
            l.min.push_back(optionalNumber(rows, i, 2).value_or(std::nan("")));
            l.max.push_back(optionalNumber(rows, i, 3).value_or(std::nan("")));
        }
        for (const int i : members) {
            const auto found = lines.find(r.columns[static_cast<std::size_t>(i)].series);
            plot.lines.push_back(found != lines.end() ? std::move(found->second)
                                                      : Line{i, {}, {}, {}});
        }
        r.plots.push_back(std::move(plot));
    }
}

void loadCoverage(pg_conn *c, Report &r, const QByteArray &series)
{
    const Result rows = query(c,
                              "SELECT estacion, puerto, " MS(
                                  "max(hora)") " FROM climalog.resumen WHERE (estacion, puerto) IN "
                                               "(SELECT estacion, puerto FROM climalog.resumen "
                                               "WHERE serie = ANY ($1::integer[])) "
                                               "GROUP BY 1, 2 ORDER BY 1, 2",
                              {{series}}, "hasta dónde están archivadas las líneas");
    for (int i = 0; i < rows.rows(); ++i) {
        Coverage cv{text(rows, i, 0), text(rows, i, 1), std::nullopt};
        if (!rows.isNull(i, 2))
            cv.lastLine = number(rows, i, 2);
        if (!cv.lastLine)
            r.notes.push_back("Puerto " + cv.port + " de " + cv.station +
                              ": ninguna línea archivada.");
        else if (!reaches(cv, r.request.period))
            r.notes.push_back("Puerto " + cv.port + " de " + cv.station +
                              ": líneas archivadas hasta el " + text::when(*cv.lastLine, r.zone) +
                              ".");
        r.coverage.push_back(cv);
    }
}

} // namespace reports::detail
