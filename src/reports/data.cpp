#include "reports/data_read.h"
#include "reports/stats.h"
#include "reports/text.h"

#include <QDate>
#include <QDateTime>
#include <QTimeZone>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <map>
#include <set>
#include <stdexcept>

namespace reports {

namespace {

using central::Result;
using namespace detail;

const char *const months[] = {"enero",      "febrero", "marzo",     "abril",
                              "mayo",       "junio",   "julio",     "agosto",
                              "septiembre", "octubre", "noviembre", "diciembre"};

std::string dayText(QDate d, bool month, bool year)
{
    std::string t = std::to_string(d.day());
    if (month)
        t += std::string(" de ") + months[d.month() - 1];
    if (year)
        t += " de " + std::to_string(d.year());
    return t;
}

// "del 1 al 7 de diciembre de 2026", naming a month or a year only where it changes.
std::string rangeText(QDate a, QDate b)
{
    if (a == b)
        return dayText(a, true, true);
    const bool sameYear = a.year() == b.year(), sameMonth = sameYear && a.month() == b.month();
    return "del " + dayText(a, !sameMonth, !sameYear) + " al " + dayText(b, true, true);
}

// What the report knows of each series while it loads.
struct Series {
    int id = 0, port = 0;
    std::string device;
    std::map<int, int> places; // header -> place of the column in it
    std::vector<WatchFrom> watches; // in force over the period
    std::vector<Piece> pieces; // whole hours and minutes of the rollups
    std::vector<std::pair<std::int64_t, std::int64_t>> read; // ranges read from the lines
};

struct Port {
    int id = 0;
    std::string station, name;
    std::vector<Configuration> configurations;
    std::set<int> headers;
    std::vector<WatchFrom> intervals; // the line interval from each configuration on
    std::int64_t lines = 0;
};

} // namespace

Period periodOf(Span span, const std::string &first, const std::string &last,
                const std::string &zone)
{
    const QTimeZone tz(QByteArray::fromStdString(zone));
    QDate a = QDate::fromString(QString::fromStdString(first), Qt::ISODate), b = a;
    if (!tz.isValid() || !a.isValid())
        return {};
    std::string t;
    switch (span) {
    case Span::Day:
        t = dayText(a, true, true);
        break;
    case Span::Week:
        a = a.addDays(1 - a.dayOfWeek());
        b = a.addDays(6);
        t = rangeText(a, b);
        break;
    case Span::Month:
        a = QDate(a.year(), a.month(), 1);
        b = a.addMonths(1).addDays(-1);
        t = std::string(months[a.month() - 1]) + " de " + std::to_string(a.year());
        break;
    case Span::Dates:
        b = QDate::fromString(QString::fromStdString(last), Qt::ISODate);
        if (!b.isValid() || b < a)
            return {};
        t = rangeText(a, b);
        break;
    }
    return {a.startOfDay(tz).toMSecsSinceEpoch(), b.addDays(1).startOfDay(tz).toMSecsSinceEpoch(),
            t};
}

bool reaches(const Coverage &coverage, const Period &period)
{
    return coverage.lastLine && *coverage.lastLine >= period.to - 1000;
}

bool complete(const Report &report)
{
    return std::ranges::all_of(
        report.coverage, [&](const Coverage &c) { return reaches(c, report.request.period); });
}

namespace {

// The report's columns from the summary: the chosen series in their order,
// or every series of the station in its ports' order.
void loadColumns(pg_conn *c, Report &r)
{
    const Request &q = r.request;
    const char *fields =
        "SELECT serie, estacion, zona, puerto, columna, coalesce(unidad, ''), clase "
        "FROM climalog.resumen ";
    const std::string sql = std::string(fields) +
        (q.series.empty()
             ? "WHERE estacion = $1 ORDER BY puerto, orden NULLS LAST, serie"
             : "WHERE serie = ANY ($1::integer[]) ORDER BY array_position($1::integer[], serie)");
    const Result rows =
        query(c, sql.c_str(),
              {{q.series.empty() ? QByteArray::fromStdString(q.station) : intArray(q.series)}},
              "las columnas del informe");
    for (int i = 0; i < rows.rows(); ++i) {
        Column col;
        col.series = static_cast<int>(number(rows, i, 0));
        col.station = detail::text(rows, i, 1);
        col.zone = detail::text(rows, i, 2);
        col.port = detail::text(rows, i, 3);
        col.column = detail::text(rows, i, 4);
        col.unit = detail::text(rows, i, 5);
        col.kind = rows.field(i, 6).isEmpty() ? ' ' : rows.field(i, 6).at(0);
        r.columns.push_back(col);
    }
    if (r.columns.empty())
        throw std::runtime_error(
            q.series.empty() ? "La estación «" + q.station + "» no tiene columnas en el archivo."
                             : std::string("Ninguna de las columnas pedidas está en el archivo."));
    r.zone = r.columns.front().zone;
}

// The headers of the series and their ports, and the ports' configurations.
void loadPorts(pg_conn *c, const Report &r, const QByteArray &ids, std::map<int, Series> &series,
               std::map<int, Port> &ports)
{
    const Result js = query(c,
                            "SELECT serie, puerto, juego, posicion, dispositivo FROM "
                            "climalog.informe_juegos($1::integer[])",
                            {{ids}}, "las cabeceras de las columnas");
    for (int i = 0; i < js.rows(); ++i) {
        const int port = static_cast<int>(number(js, i, 1)),
                  header = static_cast<int>(number(js, i, 2));
        ports[port].id = port;
        ports[port].headers.insert(header);
        if (!js.isNull(i, 0)) {
            Series &s = series[static_cast<int>(number(js, i, 0))];
            s.id = static_cast<int>(number(js, i, 0));
            s.port = port;
            s.places[header] = static_cast<int>(number(js, i, 3));
            s.device = detail::text(js, i, 4);
        }
    }
    const Period &p = r.request.period;
    const Result cf = overPeriod(
        c,
        "puerto, configuracion, " MS("leida") ", posicion, nombre, sn, tipo, alarma_min, "
                                              "alarma_max, accion, rele, unidades, periodo",
        "informe_configuraciones", ids, p, "las configuraciones de los puertos");
    for (int i = 0; i < cf.rows(); ++i) {
        Port &port = ports[static_cast<int>(number(cf, i, 0))];
        const int id = static_cast<int>(number(cf, i, 1));
        if (port.configurations.empty() || port.configurations.back().id != id)
            port.configurations.push_back({id, number(cf, i, 2), {}, 1000});
        Device d;
        d.position = static_cast<int>(number(cf, i, 3));
        d.name = detail::text(cf, i, 4);
        d.serial = detail::text(cf, i, 5);
        d.type = static_cast<int>(number(cf, i, 6));
        d.min = static_cast<float>(std::strtod(cf.field(i, 7).constData(), nullptr));
        d.max = static_cast<float>(std::strtod(cf.field(i, 8).constData(), nullptr));
        d.action = static_cast<int>(number(cf, i, 9));
        d.relay = detail::text(cf, i, 10);
        const QByteArray units = cf.field(i, 11);
        for (const QByteArray &u : units.mid(1, units.size() - 2).split(','))
            d.units.push_back(QByteArray(u).replace('"', "").toStdString());
        d.period = static_cast<int>(number(cf, i, 12));
        port.configurations.back().devices.push_back(d);
    }
    for (auto &[id, port] : ports) {
        for (Configuration &conf : port.configurations) {
            int interval = 0;
            for (const Device &d : conf.devices)
                if (d.type != 4 && d.type != 5 && d.period > 0)
                    interval = interval ? std::min(interval, d.period) : d.period;
            conf.intervalMs = std::max(1, interval) * 1000;
            port.intervals.push_back(
                {port.intervals.empty() ? p.from : conf.read, {}, conf.intervalMs});
        }
        if (port.intervals.empty())
            port.intervals.push_back({p.from, {}, 1000});
    }
}

// The series' watches over the period (one from each configuration), the
// columns' limits in force and their changes, and each column's device.
void watch(Report &r, std::map<int, Series> &series, const std::map<int, Port> &ports)
{
    const Period &p = r.request.period;
    for (Column &col : r.columns) {
        Series &s = series[col.series];
        const auto port = ports.find(s.port);
        if (port == ports.end() || port->second.configurations.empty()) {
            s.watches.push_back({p.from, {}, 1000});
            continue;
        }
        const std::vector<Configuration> &confs = port->second.configurations;
        for (std::size_t i = 0; i < confs.size(); ++i) {
            const Device *d = deviceOf(confs[i], s.device, col.kind);
            bool listed = false;
            const central::Watch w = watchOf(d, col.kind, &listed);
            const std::int64_t from = i == 0 ? p.from : std::max(p.from, confs[i].read);
            s.watches.push_back({from, w, confs[i].intervalMs});
            Limits l{from, p.to, w.min, w.max, listed};
            if (!col.limits.empty()) {
                Limits &last = col.limits.back();
                if (last.min == l.min && last.max == l.max && last.watched == l.watched)
                    continue;
                last.to = from;
                if (last.min != l.min || last.max != l.max)
                    r.notes.push_back("Los límites de \"" + col.column + "\" cambiaron el " +
                                      text::when(from, r.zone) + ": de " +
                                      limitsText(last, col.unit) + " a " + limitsText(l, col.unit) +
                                      ".");
            }
            col.limits.push_back(l);
        }
        if (const Device *d = deviceOf(confs.back(), s.device, col.kind)) {
            col.device = d->name;
            col.deviceType = typeName(d->type);
            col.periodSeconds = d->period;
        }
    }
}

// Whether a rollup piece of a column must be read from the lines: its
// figures do not give its time outside limits (or active), or a sum it
// lacks is needed.
bool mustRead(const Piece &pc, const Series &s, char kind)
{
    if (pc.n <= 0)
        return false;
    if (!outsideOfPiece(pc, s.watches) || std::isnan(pc.squares))
        return true;
    return kind == 'T' && pc.min > -kelvinOffset && (!pc.arrhenius || pc.min <= 14 - kelvinOffset);
}

using Ranges = std::vector<std::pair<std::int64_t, std::int64_t>>;

// Ranges in order, those that touch made one.
Ranges merged(Ranges v)
{
    std::sort(v.begin(), v.end());
    Ranges out;
    for (const auto &x : v) {
        if (!out.empty() && x.first <= out.back().second)
            out.back().second = std::max(out.back().second, x.second);
        else
            out.push_back(x);
    }
    return out;
}

// The pieces of rollup rows (informe_piezas's columns) to the series whose
// headers they are of.
void addPieces(const Result &rows, std::map<int, Series> &series)
{
    std::map<int, std::vector<Series *>> byHeader;
    for (auto &[id, s] : series)
        for (const auto &[header, place] : s.places)
            byHeader[header].push_back(&s);
    for (int i = 0; i < rows.rows(); ++i) {
        const auto holders = byHeader.find(static_cast<int>(number(rows, i, 0)));
        if (holders == byHeader.end())
            continue;
        const std::int64_t from = number(rows, i, 1);
        const std::vector<double> n = numbers(rows.field(i, 4)), mn = numbers(rows.field(i, 5)),
                                  mx = numbers(rows.field(i, 6)), sum = numbers(rows.field(i, 7)),
                                  sq = rows.isNull(i, 8) ? std::vector<double>()
                                                         : numbers(rows.field(i, 8)),
                                  ar = rows.isNull(i, 9) ? std::vector<double>()
                                                         : numbers(rows.field(i, 9));
        for (Series *s : holders->second) {
            const std::size_t k = static_cast<std::size_t>(s->places[holders->first] - 1);
            if (k >= n.size() || k >= mn.size() || k >= mx.size() || k >= sum.size())
                continue;
            Piece pc;
            pc.from = from;
            pc.to = from + number(rows, i, 2) * 1000;
            pc.lines = number(rows, i, 3);
            pc.n = static_cast<std::int64_t>(n[k]);
            pc.min = mn[k];
            pc.max = mx[k];
            pc.sum = sum[k];
            pc.squares = k < sq.size() ? sq[k] : std::nan("");
            if (k < ar.size() && !std::isnan(ar[k]))
                pc.arrhenius = ar[k];
            s->pieces.push_back(pc);
        }
    }
}

void loadPieces(pg_conn *c, const Report &r, const QByteArray &ids, std::map<int, Series> &series,
                std::map<int, Port> &ports)
{
    const Result rows = overPeriod(
        c,
        "juego, " MS("inicio") ", segundos, lineas, n, minimo, maximo, suma, cuadrados, arrhenius",
        "informe_piezas", ids, r.request.period, "los resúmenes de las columnas");
    std::map<int, Port *> portOf;
    for (auto &[id, port] : ports)
        for (const int header : port.headers)
            portOf[header] = &port;
    for (int i = 0; i < rows.rows(); ++i)
        if (Port *port = portOf[static_cast<int>(number(rows, i, 0))])
            port->lines += number(rows, i, 3);
    addPieces(rows, series);
}

// The first piece holding a column's minimum, and that holding its maximum.
std::pair<const Piece *, const Piece *> extremes(const std::vector<Piece> &pieces)
{
    const Piece *low = nullptr, *high = nullptr;
    for (const Piece &pc : pieces) {
        if (pc.n > 0 && (!low || pc.min < low->min || (pc.min == low->min && pc.from < low->from)))
            low = &pc;
        if (pc.n > 0 &&
            (!high || pc.max > high->max || (pc.max == high->max && pc.from < high->from)))
            high = &pc;
    }
    return {low, high};
}

// The hours whose lines would be read, given by their minutes instead:
// only the minutes that need them are read then.
void refine(pg_conn *c, const Report &r, std::map<int, Series> &series)
{
    std::map<int, std::set<std::int64_t>> hours;
    std::set<std::int64_t> all;
    for (const Column &col : r.columns) {
        Series &s = series[col.series];
        const auto [low, high] = extremes(s.pieces);
        for (const Piece &pc : s.pieces) {
            if (pc.to - pc.from == 3600000 &&
                (&pc == low || &pc == high || mustRead(pc, s, col.kind))) {
                hours[s.id].insert(pc.from);
                all.insert(pc.from);
            }
        }
    }
    if (all.empty())
        return;
    QByteArray ids = "{", starts = "{";
    for (const auto &[id, set] : hours) {
        for (const std::int64_t h : set) {
            const char *sep = ids.size() > 1 ? "," : "";
            ids += sep + QByteArray::number(id);
            starts += sep + msText(h);
        }
    }
    const Result rows =
        query(c,
              "SELECT serie, inicio, lineas, n, minimo, maximo, suma, cuadrados, arrhenius FROM "
              "climalog.informe_minutos_de($1::integer[], ARRAY(SELECT to_timestamp(x) FROM "
              "unnest($2::double precision[]) x))",
              {{ids + "}", starts + "}"}}, "los resúmenes de las columnas");
    for (auto &[id, set] : hours) {
        std::vector<Piece> &v = series[id].pieces;
        v.erase(std::remove_if(v.begin(), v.end(),
                               [&](const Piece &pc) {
                                   return pc.to - pc.from == 3600000 && set.count(pc.from);
                               }),
                v.end());
    }
    for (int i = 0; i < rows.rows(); ++i) {
        Piece pc;
        pc.from = number(rows, i, 1);
        pc.to = pc.from + 60000;
        pc.lines = number(rows, i, 2);
        pc.n = number(rows, i, 3);
        pc.min = optionalNumber(rows, i, 4).value_or(0);
        pc.max = optionalNumber(rows, i, 5).value_or(0);
        pc.sum = optionalNumber(rows, i, 6).value_or(0);
        pc.squares = optionalNumber(rows, i, 7).value_or(std::nan(""));
        pc.arrhenius = optionalNumber(rows, i, 8);
        series[static_cast<int>(number(rows, i, 0))].pieces.push_back(pc);
    }
}

// The ranges each series is read over: the sub-minute edges of the
// period, the pieces mustRead names, and the first piece of each extreme
// (for its instant).
void chooseReads(const Report &r, std::map<int, Series> &series)
{
    const Period &p = r.request.period;
    const std::int64_t m0 = (p.from + 59999) / 60000 * 60000, m1 = p.to / 60000 * 60000;
    Ranges edges;
    if (m0 >= m1)
        edges.push_back({p.from, p.to});
    else {
        if (p.from < m0)
            edges.push_back({p.from, m0});
        if (m1 < p.to)
            edges.push_back({m1, p.to});
    }
    for (const Column &col : r.columns) {
        Series &s = series[col.series];
        Ranges ranges = edges;
        for (const Piece &pc : s.pieces)
            if (mustRead(pc, s, col.kind))
                ranges.push_back({pc.from, pc.to});
        const auto [low, high] = extremes(s.pieces);
        for (const Piece *pc : {low, high})
            if (pc)
                ranges.push_back({pc->from, pc->to});
        s.read = merged(std::move(ranges));
    }
}

// Reads the chosen ranges from the lines, in one call, and gives each
// column its figures: from the lines where read, from the rollups elsewhere.
void figure(pg_conn *c, Report &r, std::map<int, Series> &series, std::map<int, Port> &ports)
{
    const Period &p = r.request.period;
    struct Range {
        Series *s;
        std::int64_t from, to;
        std::vector<PortLine> lines;
    };
    std::vector<Range> ranges;
    QByteArray ids = "{", froms = "{", tos = "{";
    for (auto &[id, s] : series) {
        int interval = 1000;
        for (const WatchFrom &w : s.watches)
            interval = std::max(interval, w.intervalMs);
        for (const auto &[a, b] : s.read) {
            const char *sep = ranges.empty() ? "" : ",";
            ranges.push_back({&s, a, b, {}});
            ids += sep + QByteArray::number(id);
            froms += sep +
                ("\"" +
                 QDateTime::fromMSecsSinceEpoch(a, QTimeZone::utc())
                     .toString(Qt::ISODateWithMs)
                     .toLatin1() +
                 "\"");
            tos += sep +
                ("\"" +
                 QDateTime::fromMSecsSinceEpoch(std::min(p.to, b + interval), QTimeZone::utc())
                     .toString(Qt::ISODateWithMs)
                     .toLatin1() +
                 "\"");
        }
    }
    if (!ranges.empty()) {
        const Result rows =
            query(c,
                  "SELECT i, hora, tiene, valor FROM climalog.informe_lineas($1::integer[], "
                  "$2::timestamptz[], $3::timestamptz[])",
                  {{ids + "}", froms + "}", tos + "}"}}, "las líneas de las columnas");
        for (int i = 0; i < rows.rows(); ++i) {
            const std::size_t k = static_cast<std::size_t>(number(rows, i, 0) - 1);
            if (k < ranges.size())
                ranges[k].lines.push_back(
                    {number(rows, i, 1), rows.field(i, 2) == "t", optionalNumber(rows, i, 3)});
        }
        for (Range &g : ranges)
            if (!std::is_sorted(g.lines.begin(), g.lines.end(),
                                [](const PortLine &a, const PortLine &b) { return a.at < b.at; }))
                std::sort(g.lines.begin(), g.lines.end(),
                          [](const PortLine &a, const PortLine &b) { return a.at < b.at; });
    }
    // A port's lines at the period's edges, counted once: from its first column's.
    const std::int64_t m0 = (p.from + 59999) / 60000 * 60000, m1 = p.to / 60000 * 60000;
    std::map<int, int> counter;
    for (const Column &col : r.columns)
        counter.emplace(series[col.series].port, col.series);
    std::map<int, Figures> figures;
    std::map<int, Outside> outside;
    for (const Range &g : ranges) {
        const bool counts = counter[g.s->port] == g.s->id;
        for (const PortLine &l : g.lines) {
            if (l.at >= g.to)
                break;
            if (l.holds)
                figures[g.s->id].add(reading(l.at, l.value));
            if (counts && (m0 >= m1 || l.at < m0 || l.at >= m1))
                ports[g.s->port].lines += 1;
        }
        const Outside o = outsideOver(g.lines, g.from, g.to, p.to, g.s->watches);
        Outside &sum = outside[g.s->id];
        sum.belowMs += o.belowMs;
        sum.aboveMs += o.aboveMs;
        sum.activeMs += o.activeMs;
    }
    const std::int64_t until =
        r.request.madeAt > p.from && r.request.madeAt < p.to ? r.request.madeAt : p.to;
    for (Column &col : r.columns) {
        Series &s = series[col.series];
        Figures &f = figures[col.series];
        for (const Piece &pc : s.pieces) {
            const bool read = std::any_of(s.read.begin(), s.read.end(), [&](const auto &x) {
                return x.first <= pc.from && pc.to <= x.second;
            });
            if (read)
                continue;
            f.add(pc);
            if (const std::optional<Outside> o = outsideOfPiece(pc, s.watches)) {
                Outside &sum = outside[col.series];
                sum.belowMs += o->belowMs;
                sum.aboveMs += o->aboveMs;
                sum.activeMs += o->activeMs;
            }
        }
        col.lines = f.lines();
        col.received = f.received();
        col.errors = col.lines - col.received;
        col.min = f.min();
        col.max = f.max();
        col.minAt = f.minAt();
        col.maxAt = f.maxAt();
        col.mean = f.mean();
        col.stddev = f.stddev();
        if (col.kind == 'T')
            col.mkt = f.mkt();
        const Outside &o = outside[col.series];
        col.belowMs = o.belowMs;
        col.aboveMs = o.aboveMs;
        col.activeMs = o.activeMs;
        const auto port = ports.find(s.port);
        col.expected = expectedLines(
            p.from, until, port != ports.end() ? port->second.intervals : std::vector<WatchFrom>());
        col.missing = std::max<std::int64_t>(
            0, col.expected - (port != ports.end() ? port->second.lines : 0));
    }
}

} // namespace

Report load(pg_conn *c, const Request &request)
{
    Report r;
    r.request = request;
    if (request.period.to <= request.period.from)
        throw std::runtime_error("El periodo del informe no es válido.");
    loadColumns(c, r);
    std::vector<int> idList;
    for (const Column &col : r.columns)
        idList.push_back(col.series);
    const QByteArray ids = intArray(idList);
    std::map<int, Series> series;
    std::map<int, Port> ports;
    loadPorts(c, r, ids, series, ports);
    for (const Column &col : r.columns) {
        if (const auto port = ports.find(series[col.series].port); port != ports.end()) {
            port->second.station = col.station;
            port->second.name = col.port;
        }
    }
    watch(r, series, ports);
    loadPieces(c, r, ids, series, ports);
    refine(c, r, series);
    chooseReads(r, series);
    figure(c, r, series, ports);
    std::vector<int> portIds;
    std::vector<PortKey> keys;
    for (const auto &[id, port] : ports) {
        portIds.push_back(id);
        keys.push_back({id, port.station, port.name, &port.configurations});
    }
    loadAlarms(c, r, portIds, ids);
    loadChanges(r, keys);
    std::map<int, PlotSource> sources;
    for (const auto &[id, s] : series)
        sources[id] = {&s.pieces, &s.places};
    loadPlots(c, r, sources);
    loadCoverage(c, r, ids);
    return r;
}

} // namespace reports
