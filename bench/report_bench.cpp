// Figures of the reports against a local PostgreSQL server (run it through
// scripts/testdb.sh, which starts a private one): a day of a 40-column
// station at a line a second (the program's own capture texts, archived by
// climalog-archivo), then a month of it (the day's lines and rollups copied a
// day apart by the database, as archive_bench's --sitio does); for each, the
// time to load the report and to write its PDF (the median of three runs
// after a first one), the PDF's size and the peak memory. Also the time the
// step to schema version 5 takes to give that day's rollups their new sums.
//   scripts/testdb.sh run build-test/bin/report_bench
#include "captureday.h"
#include "timing.h"

#include "reports/report.h"

#include <libpq-fe.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <bit>
#include <cstdio>
#include <vector>

namespace {

const char *const database = "climalog_informes";

QString program()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/climalog-archivo");
}

int archive(QStringList args)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.setStandardOutputFile(QProcess::nullDevice());
    p.start(program(), args << QStringLiteral("postgresql:///") + QString::fromLatin1(database));
    p.waitForFinished(-1);
    return p.exitCode();
}

bool run(PGconn *c, const char *sql)
{
    PGresult *r = PQexec(c, sql);
    const bool ok = PQresultStatus(r) == PGRES_COMMAND_OK || PQresultStatus(r) == PGRES_TUPLES_OK;
    if (!ok)
        std::fprintf(stderr, "%.60s: %s", sql, PQerrorMessage(c));
    PQclear(r);
    return ok;
}

std::string scalar(PGconn *c, const char *sql)
{
    PGresult *r = PQexec(c, sql);
    std::string v = PQntuples(r) == 1 ? PQgetvalue(r, 0, 0) : "?";
    PQclear(r);
    return v;
}

// The port's configuration: sensors watched between -20 and 20 (the drifting
// readings pass them now and then), a line a second.
QByteArray configuration(const General &g)
{
    const auto record = [](const QString &name, int type) {
        QByteArray b(140, '\0');
        b.replace(0, 16, name.toLatin1().leftJustified(16, ' ', true));
        b[24] = char(type);
        for (const auto &[at, v] : {std::pair{34, -20.0f}, std::pair{38, 20.0f}})
            for (int k = 0; k < 4; ++k)
                b[at + k] = char(std::bit_cast<std::uint32_t>(v) >> 8 * k);
        b[130] = 1;
        b[138] = 1;
        return b;
    };
    QByteArray out = record(QStringLiteral("00"), 0);
    for (int i = 1; i <= g.n(); ++i)
        out += record(trimBlanks(g.dispositivos[static_cast<std::size_t>(i)].nombre.text()),
                      g.dispositivos[static_cast<std::size_t>(i)].tipo);
    return out;
}

void measure(PGconn *c, const char *what, const char *first, const char *last)
{
    reports::Request q;
    q.station = "banco";
    q.period = reports::periodOf(reports::Span::Dates, first, last, "Europe/Madrid");
    q.madeAt = QDateTime::currentMSecsSinceEpoch();
    std::vector<double> loads, pdfs;
    std::size_t bytes = 0, columns = 0;
    for (int k = 0; k < 4; ++k) {
        reports::Report r;
        const double l = timed([&] { r = reports::load(c, q); });
        const double p = timed([&] { bytes = reports::pdf(r).size(); });
        columns = r.columns.size();
        if (k) {
            loads.push_back(l);
            pdfs.push_back(p);
        }
    }
    std::sort(loads.begin(), loads.end());
    std::sort(pdfs.begin(), pdfs.end());
    std::printf("  %s (%zu columns): load %.0f ms, pdf %.0f ms (goal: both under 2 s), PDF %.1f "
                "kB; peak memory %.0f MB\n",
                what, columns, loads[loads.size() / 2], pdfs[pdfs.size() / 2], bytes / 1024.0,
                peakKb() / 1024.0);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    PGconn *admin = PQconnectdb("dbname=postgres");
    if (PQstatus(admin) != CONNECTION_OK) {
        std::fprintf(stderr,
                     "No database server: %s(start the benchmark through scripts/testdb.sh run)\n",
                     PQerrorMessage(admin));
        return 1;
    }
    run(admin, (std::string("DROP DATABASE IF EXISTS ") + database).c_str());
    run(admin, (std::string("CREATE DATABASE ") + database).c_str());
    PQfinish(admin);
    QTemporaryDir root;
    const QString folder = root.path() + QStringLiteral("/1");
    QDir().mkpath(folder);
    General g;
    fortyColumns(g);
    QFile config(root.path() + QStringLiteral("/config1.ini"));
    config.open(QIODevice::WriteOnly);
    config.write(configuration(g));
    config.close();
    benchDay(folder);
    archive({QStringLiteral("--preparar")});
    archive({QStringLiteral("--una-vez"), QStringLiteral("--estacion"), QStringLiteral("banco"),
             QStringLiteral("--zona"), QStringLiteral("Europe/Madrid"), folder});
    PGconn *c = PQconnectdb((QByteArray("dbname=") + database).constData());
    PQsetNoticeProcessor(
        c, [](void *, const char *) {}, nullptr);
    run(c, "VACUUM ANALYZE");
    std::printf("A day of a 40-column station at a line a second, archived: %s lines\n",
                scalar(c, "SELECT count(*) FROM climalog.linea").c_str());

    // The step to version 5 on that day: its rollups' new sums recomputed from its lines.
    run(c, "CREATE TABLE sumas AS SELECT juego, inicio, cuadrados, arrhenius FROM climalog.hora");
    run(c,
        "UPDATE climalog.minuto SET cuadrados = NULL, arrhenius = NULL; UPDATE climalog.hora SET "
        "cuadrados = NULL, "
        "arrhenius = NULL; UPDATE climalog.version SET version = 4");
    QElapsedTimer step;
    step.start();
    archive({QStringLiteral("--preparar")});
    std::printf("The step to schema version 5 on that day (its rollups' sums from its lines): %.1f "
                "s; the largest "
                "relative difference from the batch's sums: %s\n",
                step.elapsed() / 1000.0,
                scalar(c,
                       "SELECT max(abs(x - y) / greatest(abs(x), 1e-300)) FROM sumas s JOIN "
                       "climalog.hora h USING (juego, inicio), "
                       "unnest(s.cuadrados || s.arrhenius, h.cuadrados || h.arrhenius) u(x, y)")
                    .c_str());
    measure(c, "a day", "2026-12-07", "2026-12-07");

    // The month: the day's lines and rollups a day apart, from the 1st to the 31st.
    QElapsedTimer making;
    making.start();
    run(c, R"sql(
DO $$
BEGIN
    PERFORM climalog.crear_meses('2026-11-30', '2027-01-01');
    FOR d IN -6 .. 24 LOOP
        CONTINUE WHEN d = 0;
        INSERT INTO climalog.bloque SELECT puerto, inicio + d * interval '1 day', fichero, juego, segundos, valores, exactos
          FROM climalog.bloque WHERE inicio >= '2026-12-06 23:00+00' AND inicio < '2026-12-07 23:00+00';
        INSERT INTO climalog.minuto SELECT juego, lineas, inicio + d * interval '1 day', n, minimo, maximo, suma, cuadrados, arrhenius
          FROM climalog.minuto WHERE inicio >= '2026-12-06 23:00+00' AND inicio < '2026-12-07 23:00+00';
        INSERT INTO climalog.hora SELECT juego, lineas, inicio + d * interval '1 day', n, minimo, maximo, suma, cuadrados, arrhenius
          FROM climalog.hora WHERE inicio >= '2026-12-06 23:00+00' AND inicio < '2026-12-07 23:00+00';
    END LOOP;
END $$)sql");
    run(c, "VACUUM ANALYZE");
    std::printf("The month made in %.0f s: %s lines\n", making.elapsed() / 1000.0,
                scalar(c, "SELECT count(*) FROM climalog.linea").c_str());
    measure(c, "a month", "2026-12-01", "2026-12-31");
    PQfinish(c);
    return 0;
}
