// The figures of a report against those worked out here from the capture
// lines written by the monitor's own capture writer and archived by the real
// climalog-archivo into the private database of scripts/testdb.sh, loaded by
// a reader's role: a day with ERR and missing lines and readings exactly on
// a limit, a period across a change of limits, cut at seconds that are no
// whole minute, both summer-time change days, a day of no lines.
#include "monitor/capture.h"
#include "registry/cp1252.h"
#include "reports/report.h"
#include "support/support.h"

#include <libpq-fe.h>

#include <gtest/gtest.h>

#include <QDir>
#include <QProcess>
#include <QTimeZone>

#include <cmath>
#include <optional>

namespace {

const QTimeZone madrid("Europe/Madrid");
constexpr int columns = 5; // Sala (ºC), Aire (ºC), Aire (%), Puerta - 1, Puerta - 2
constexpr std::int64_t step = 10000; // the sensors' period, ms

int archive(const QStringList &args) { return runProgram("climalog-archivo", args).first; }

void sql(PGconn *c, const std::string &text)
{
    PGresult *r = PQexec(c, text.c_str());
    EXPECT_TRUE(PQresultStatus(r) == PGRES_COMMAND_OK || PQresultStatus(r) == PGRES_TUPLES_OK)
        << text << ": " << PQerrorMessage(c);
    PQclear(r);
}

// A port's configuration: Sala watched between `low` and 25, Aire (not
// watched) between 12 and 20, the detector Puerta; sensors read every 10 s.
QByteArray config(float low)
{
    return Rec().text(0, 16, "00").b +
        Rec::device("Sala", STT).real(34, low).real(38, 25).num(130, 1).num(138, 10).b +
        Rec::device("Aire", HRT).real(34, 12).real(38, 20).num(138, 10).b +
        Rec::device("Puerta", DET, "0102030405060708").b;
}

struct Line {
    std::int64_t at;
    std::array<std::optional<double>, columns> v; // as the archive reads the text written
};

// A day of lines every 10 s from local midnight to the next, but none from
// 03:00 to 03:30; Sala ERR every 17th line. Readings below the limits
// before 04:00, within them to 08:00, above them from 13:00 to 16:00, and
// crossing them all the time else (so whole hours come from the rollups,
// the rest from the lines); Puerta - 1 inactive before 05:00, active to
// 08:00, then by turns.
std::vector<Line> writeDay(const QString &folder, QDate date)
{
    General g;
    addDevice(g, {STT, "Sala"});
    addDevice(g, {HRT, "Aire"});
    addDevice(g, {DET, "Puerta"});
    std::string text = cp1252::encode(cabecera(g) + QStringLiteral("\r\n"));
    std::vector<Line> lines;
    const std::int64_t end = date.addDays(1).startOfDay(madrid).toMSecsSinceEpoch();
    for (std::int64_t t = date.startOfDay(madrid).toMSecsSinceEpoch(), i = 0; t < end;
         t += step, ++i) {
        const QDateTime local = QDateTime::fromMSecsSinceEpoch(t, madrid);
        if (local.time() >= QTime(3, 0) && local.time() < QTime(3, 30))
            continue;
        g.estados[1].valido = i % 17 != 5;
        const int h = local.time().hour();
        const float sala = h < 4 ? 3 + static_cast<float>(i % 7) / 10
            : h < 8              ? 15 + static_cast<float>(i % 9) / 10
            : h >= 13 && h < 16  ? 30 + static_cast<float>(i % 5) / 10
                                 : 5 + static_cast<float>(i * 7 % 211) / 10; // 10 and 25 among them
        g.estados[1].lectura[0] = sala;
        g.estados[2].lectura = {sala, 40.5f + i % 30};
        g.estados[3].crudo = {static_cast<std::int16_t>(h < 5       ? 0
                                                            : h < 8 ? 1
                                                                    : i / 30 % 2),
                              static_cast<std::int16_t>(i % 7 == 0)};
        const QString l = linea(g, local.toString(QStringLiteral("dd-MM-yyyy HH:mm:ss")));
        text += cp1252::encode(l + QStringLiteral("\r\n"));
        Line line{t, {}};
        const QStringList f = l.mid(19).split(QStringLiteral("  "), Qt::SkipEmptyParts);
        for (int k = 0; k < columns; ++k) {
            if (f[k] != QStringLiteral("ERR"))
                line.v[k] = QString(f[k]).replace(u',', u'.').toDouble();
        }
        lines.push_back(line);
    }
    QDir().mkpath(folder);
    QFile out(folder + date.toString(QStringLiteral("/dd-MM-yyyy-00.log")));
    out.open(QIODevice::WriteOnly);
    out.write(text.data(), static_cast<qint64>(text.size()));
    return lines;
}

// A column's figures worked out from the lines: each reading outside stands
// until the next line, at most 10 s, the last one at most to the period's end.
reports::Column expected(const std::vector<Line> &lines, int k, std::int64_t from, std::int64_t to,
                         std::int64_t change, float lowBefore, float lowAfter)
{
    reports::Column c;
    double sum = 0, arrhenius = 0;
    std::vector<double> values;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const Line &l = lines[i];
        if (l.at < from || l.at >= to)
            continue;
        ++c.lines;
        if (!l.v[k])
            continue;
        const double v = *l.v[k];
        values.push_back(v);
        sum += v;
        arrhenius += std::exp(-10000 / (v + 273.15));
        if (!c.min || v < *c.min)
            c.min = v, c.minAt = l.at;
        if (!c.max || v > *c.max)
            c.max = v, c.maxAt = l.at;
        const std::int64_t next = i + 1 < lines.size() ? std::min(lines[i + 1].at, to) : to;
        const std::int64_t ms = std::min(next - l.at, step);
        const float f = static_cast<float>(v),
                    low = k == 0 ? (l.at < change ? lowBefore : lowAfter) : 12,
                    high = k == 0 ? 25 : 20;
        if (k < 2 && f < low)
            c.belowMs += ms;
        if (k < 2 && f > high)
            c.aboveMs += ms;
        if (k >= 3 && v == 1)
            c.activeMs += ms;
    }
    c.received = static_cast<std::int64_t>(values.size());
    c.errors = c.lines - c.received;
    c.expected = (to - from) / step;
    c.missing = c.expected - c.lines;
    if (!values.empty()) {
        c.mean = sum / static_cast<double>(values.size());
        double squares = 0;
        for (const double v : values)
            squares += (v - *c.mean) * (v - *c.mean);
        c.stddev = std::sqrt(squares / static_cast<double>(values.size() - 1));
        if (k < 2)
            c.mkt = -10000 / std::log(arrhenius / static_cast<double>(values.size())) - 273.15;
    }
    return c;
}

void near(const std::optional<double> &got, const std::optional<double> &want, const char *what)
{
    ASSERT_EQ(got.has_value(), want.has_value()) << what;
    if (want) {
        EXPECT_NEAR(*got, *want, 1e-9 * std::max(1.0, std::abs(*want))) << what;
    }
}

} // namespace

TEST(ReportData, FiguresMatchTheLinesWritten)
{
    PGconn *owner = PQconnectdb("");
    ASSERT_EQ(PQstatus(owner), CONNECTION_OK)
        << "The tests' server (scripts/testdb.sh) does not answer";
    PQsetNoticeProcessor(
        owner, [](void *, const char *) {}, nullptr);
    sql(owner, "DROP SCHEMA IF EXISTS climalog CASCADE");
    ASSERT_EQ(archive({QStringLiteral("--preparar")}), 0);
    sql(owner,
        "DROP ROLE IF EXISTS informes_prueba; CREATE ROLE informes_prueba LOGIN IN ROLE "
        "climalog_lectura");
    PGconn *reader = PQconnectdb("user=informes_prueba");
    ASSERT_EQ(PQstatus(reader), CONNECTION_OK);
    TempFolder t;
    const auto at = [](QDate d, QTime time) {
        return QDateTime(d, time, madrid).toMSecsSinceEpoch();
    };
    const QDate december(2026, 12, 7), autumn(2026, 10, 25), spring(2026, 3, 29);
    struct Case {
        const char *station;
        QDate day;
        std::int64_t from, to; // 0: the day
        bool change, empty;
        std::int64_t hours; // the day's length
    } cases[] = {
        {"dia", december, 0, 0, false, false, 24},
        {"cambio", december, 0, 0, true, false, 24},
        {"cortes", december, at(december, QTime(9, 59, 55)), at(december, QTime(16, 20, 35)), true,
         false, 24},
        {"otono", autumn, 0, 0, false, false, 25},
        {"primavera", spring, 0, 0, false, false, 23},
        {"dia", december.addDays(-1), 0, 0, false, true, 24}, // a day of no lines
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.station);
        const QString root = t.file(QString::fromLatin1(c.station));
        const std::vector<Line> lines =
            c.empty ? std::vector<Line>() : writeDay(root + QStringLiteral("/1"), c.day);
        const QStringList args{QStringLiteral("--una-vez"),     QStringLiteral("--estacion"),
                               QString::fromLatin1(c.station),  QStringLiteral("--zona"),
                               QStringLiteral("Europe/Madrid"), root + QStringLiteral("/1")};
        t.write(QString::fromLatin1(c.station) + QStringLiteral("/config1.ini"), config(10));
        ASSERT_EQ(archive(args), 0); // again for the day of no lines: nothing new
        const std::int64_t change = c.change ? at(c.day, QTime(10, 15)) : INT64_MAX;
        if (c.change) {
            // The second configuration, read by the archive at 10:15.
            t.write(QString::fromLatin1(c.station) + QStringLiteral("/config1.ini"), config(12));
            ASSERT_EQ(archive(args), 0);
            sql(owner,
                "UPDATE climalog.configuracion c SET leida = to_timestamp(" +
                    std::to_string(change / 1000) +
                    " - 86400 * (c.id = f.id)::integer) FROM "
                    "(SELECT c.id, c.puerto FROM climalog.configuracion c JOIN climalog.puerto p "
                    "ON p.id = c.puerto "
                    "JOIN climalog.estacion e ON e.id = p.estacion WHERE e.nombre = '" +
                    c.station + "' ORDER BY c.id LIMIT 1) f WHERE c.puerto = f.puerto");
        }
        const std::int64_t a0 = at(december, QTime(0, 0)) - 7200000,
                           a1 = at(december, QTime(1, 23, 20)), a2 = at(december, QTime(1, 40));
        if (c.station == std::string("dia") && !c.empty) {
            // An alarm of Sala over the day before's last two hours, one of this day, acknowledged.
            sql(owner,
                "INSERT INTO climalog.aviso (puerto, serie, condicion, regla, inicio, fin, "
                "reconocido_por, "
                "reconocido, comentario) SELECT s.puerto, s.id, 'alto', 'salas', "
                "to_timestamp(x.a), to_timestamp(x.b), "
                "x.quien, to_timestamp(x.b), 'Puerta abierta' FROM climalog.serie s, (VALUES (" +
                    std::to_string(a0 / 1000) + ", " + std::to_string(a0 / 1000 + 7200) +
                    ", 'ana'), (" + std::to_string(a1 / 1000) + ", " + std::to_string(a2 / 1000) +
                    ", 'luis')) x(a, b, quien) WHERE s.columna = 'Sala (ºC)'");
        }
        reports::Request q;
        q.station = c.station;
        q.period = reports::periodOf(reports::Span::Day, c.day.toString(Qt::ISODate).toStdString(),
                                     {}, "Europe/Madrid");
        ASSERT_EQ(q.period.to - q.period.from, 24 * 3600000 + (c.hours - 24) * 3600000);
        if (c.from)
            q.period = {c.from, c.to, ""};
        q.madeAt = QDateTime::currentMSecsSinceEpoch();
        const reports::Report r = reports::load(reader, q);
        ASSERT_EQ(r.columns.size(), std::size_t(columns));
        for (int k = 0; k < columns; ++k) {
            const reports::Column &got = r.columns[static_cast<std::size_t>(k)];
            SCOPED_TRACE(got.column);
            const reports::Column want =
                expected(lines, k, q.period.from, q.period.to, change, 10, 12);
            EXPECT_EQ(std::vector<std::int64_t>({got.lines, got.received, got.errors, got.expected,
                                                 got.missing, got.minAt, got.maxAt, got.belowMs,
                                                 got.aboveMs, got.activeMs}),
                      std::vector<std::int64_t>(
                          {want.lines, want.received, want.errors, want.expected, want.missing,
                           want.minAt, want.maxAt, want.belowMs, want.aboveMs, want.activeMs}));
            EXPECT_EQ(got.min, want.min);
            EXPECT_EQ(got.max, want.max);
            near(got.mean, want.mean, "mean");
            near(got.stddev, want.stddev, "stddev");
            near(got.mkt, want.mkt, "mkt");
            EXPECT_EQ(got.limits.size(), k == 0 && c.change ? 2u : 1u);
        }
        EXPECT_EQ(r.columns[0].limits.front().min, c.change && c.from >= change ? 12.0f : 10.0f);
        const std::string note =
            "Los límites de \"Sala (ºC)\" cambiaron el 07/12/2026 10:15:00: de 10,0 a 25,0 ºC "
            "a 12,0 a 25,0 ºC.";
        EXPECT_EQ(std::count(r.notes.begin(), r.notes.end(), note), c.change ? 1 : 0);
        // The configuration's change, when the archive saw it.
        ASSERT_EQ(r.changes.size(), c.change ? 1u : 0u);
        if (c.change) {
            const reports::Change &ch = r.changes[0];
            EXPECT_EQ(std::vector<std::string>(
                          {ch.station, ch.port, ch.device, ch.what, ch.before, ch.after}),
                      std::vector<std::string>(
                          {c.station, "1", "Sala", "límites", "10,0 a 25,0 ºC", "12,0 a 25,0 ºC"}));
            EXPECT_EQ(ch.seen, change);
        }
        // Each day's own alarm.
        ASSERT_EQ(r.alarms.size(), c.station == std::string("dia") ? 1u : 0u);
        if (!r.alarms.empty()) {
            EXPECT_EQ(r.alarms[0].start, c.empty ? a0 : a1);
            EXPECT_EQ(r.alarms[0].end, c.empty ? a0 + 7200000 : a2);
            EXPECT_EQ(r.alarms[0].ackBy + "|" + r.alarms[0].comment + "|" + r.alarms[0].column,
                      std::string(c.empty ? "ana" : "luis") + "|Puerta abierta|Sala (ºC)");
        }
        // How far the port's lines reach; the plots: temperatures, humidities, inputs as steps,
        // each line's extremes the column's, the lines left out a gap.
        ASSERT_EQ(r.coverage.size(), 1u);
        EXPECT_EQ(r.coverage[0].lastLine, lines.empty() ? r.coverage[0].lastLine : lines.back().at);
        ASSERT_EQ(r.plots.size(), 3u);
        EXPECT_EQ(r.plots[0].title + r.plots[1].title + r.plots[2].title,
                  "TemperaturasHumedadesEntradas");
        EXPECT_TRUE(r.plots[2].steps);
        for (const reports::Plot &plot : r.plots) {
            for (const reports::Line &l : plot.lines) {
                const reports::Column &col = r.columns[static_cast<std::size_t>(l.column)];
                if (col.min) {
                    const auto nanLast = [](double a, double b) { return a < b || std::isnan(b); };
                    const auto nanFirst = [](double a, double b) { return a < b || std::isnan(a); };
                    EXPECT_EQ(*std::min_element(l.min.begin(), l.min.end(), nanLast), *col.min)
                        << col.column;
                    EXPECT_EQ(*std::max_element(l.max.begin(), l.max.end(), nanFirst), *col.max)
                        << col.column;
                }
                EXPECT_EQ(std::count_if(l.min.begin(), l.min.end(),
                                        [](double v) { return std::isnan(v); }) > 0,
                          c.from == 0)
                    << col.column;
            }
        }
    }
    PQfinish(reader);
    PQfinish(owner);
}
