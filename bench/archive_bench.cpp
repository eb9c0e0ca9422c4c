// Figures of the archive program against a local PostgreSQL server (run it
// through scripts/testdb.sh, which starts a private one): a simulated day of
// one station (86 400 lines, 40 columns, by the program's own capture texts)
// archived from scratch, with readings per second beside a plain COPY of the
// same rows into the same tables, the program's peak memory and the bytes on
// disk per reading (also for stations of 1, 2, 4 and 8 columns, each beside a
// plain COPY of its lines); a restart; the site's
// questions on that day; the lag of lines followed at one a second, written by
// the capture writer itself. With --sitio, the same questions on a model of a
// site: ten stations of four ports over thirty days and one port over a year.
// With --ancho, headers of up to 131 068 columns registered and restarted.
//   scripts/testdb.sh run build-test/bin/archive_bench [seconds followed] [--sitio] [--ancho]
#include "captureday.h"
#include "timing.h"

#include "monitor/capture.h"
#include "platform/clock.h"
#include "platform/messages.h"
#include "registry/general.h"

#include <libpq-fe.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <sys/resource.h>
#include <vector>

namespace {

class Answers final : public Messages {
public:
    Answer show(const QString &, Buttons, Icon) override { return Answer::Ok; }
};

struct Connection {
    explicit Connection(const char *database)
        : c(PQconnectdb((QByteArray("dbname=") + database).constData()))
    {
        PQsetNoticeProcessor(
            c, [](void *, const char *) {}, nullptr);
    }
    ~Connection() { PQfinish(c); }
    // One number from a query, or -1.
    double scalar(const QByteArray &sql) const
    {
        PGresult *r = PQexec(c, sql.constData());
        const double v = PQresultStatus(r) == PGRES_TUPLES_OK && PQntuples(r) == 1
            ? QByteArray(PQgetvalue(r, 0, 0)).toDouble()
            : -1;
        if (PQresultStatus(r) != PGRES_TUPLES_OK && PQresultStatus(r) != PGRES_COMMAND_OK)
            std::fprintf(stderr, "%s: %s", sql.left(80).constData(), PQerrorMessage(c));
        PQclear(r);
        return v;
    }
    // The median of five runs after a first one, in ms, and the rows, all
    // received (in binary: the server's time and the transfer, not the
    // client's formatting of text).
    std::pair<double, int> query(const QByteArray &sql) const
    {
        std::vector<double> ms;
        int rows = 0;
        for (int run = 0; run < 6; ++run) {
            const double t = timed([&] {
                PGresult *r =
                    PQexecParams(c, sql.constData(), 0, nullptr, nullptr, nullptr, nullptr, 1);
                rows = PQntuples(r);
                if (PQresultStatus(r) != PGRES_TUPLES_OK)
                    std::fprintf(stderr, "%s: %s", sql.left(80).constData(), PQerrorMessage(c));
                PQclear(r);
            });
            if (run)
                ms.push_back(t);
        }
        std::sort(ms.begin(), ms.end());
        return {ms[ms.size() / 2], rows};
    }
    void show(const char *what, const QByteArray &sql, const char *goal) const
    {
        const auto [ms, rows] = query(sql);
        std::printf("  %-58s %8.1f ms  (%d rows; %s)\n", what, ms, rows, goal);
    }
    PGconn *c;
};

bool freshDatabase(const char *name)
{
    Connection c("postgres");
    if (PQstatus(c.c) != CONNECTION_OK) {
        std::fprintf(stderr,
                     "No database server: %s(start the benchmark through scripts/testdb.sh run)\n",
                     PQerrorMessage(c.c));
        return false;
    }
    c.scalar(QByteArray("DROP DATABASE IF EXISTS ") + name);
    c.scalar(QByteArray("CREATE DATABASE ") + name);
    return true;
}

QString program()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/climalog-archivo");
}
QString address(const char *database)
{
    return QStringLiteral("postgresql:///") + QString::fromLatin1(database);
}

// climalog-archivo with these arguments, to its end: seconds, exit code.
std::pair<double, int> archive(const QStringList &args)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.setStandardOutputFile(QProcess::nullDevice());
    QElapsedTimer t;
    t.start();
    p.start(program(), args);
    p.waitForFinished(-1);
    return {t.elapsed() / 1000.0, p.exitCode()};
}

// Processor time of the children ended so far, in seconds.
double childCpu()
{
    rusage u{};
    getrusage(RUSAGE_CHILDREN, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// All the archive's tables with their indexes, in bytes.
const char *const schemaBytes = "SELECT sum(pg_total_relation_size(c.oid)) FROM pg_class c JOIN "
                                "pg_namespace n ON n.oid = c.relnamespace "
                                "WHERE n.nspname = 'climalog' AND c.relkind IN ('r', 'm')";

// A day of `columns` temperature sensors, a column each.
QString sensorsDay(const QString &folder, int columns)
{
    General g;
    for (int k = 1; k <= columns; ++k)
        add(g, STT, QStringLiteral("Sonda %1").arg(k));
    std::mt19937 rng(2);
    std::normal_distribution<float> noise(0, 0.05f);
    return writeDay(folder, g, [&](int) {
        for (int i = 1; i <= g.n(); ++i)
            for (float &v : g.estados[static_cast<std::size_t>(i)].lectura)
                v += noise(rng);
    });
}

// The rows `source` gives copied out, `target` emptied, and the rows copied
// into it by a plain COPY: its seconds.
double copyRows(const Connection &c, const QByteArray &source, const QByteArray &target)
{
    QByteArray rows;
    PQclear(PQexec(c.c, ("COPY (" + source + ") TO STDOUT (FORMAT binary)").constData()));
    char *buffer = nullptr;
    for (int n; (n = PQgetCopyData(c.c, &buffer, 0)) > 0; PQfreemem(buffer))
        rows.append(buffer, n);
    PQclear(PQgetResult(c.c));
    c.scalar("TRUNCATE " + target);
    return timed([&] {
               PQclear(PQexec(c.c, ("COPY " + target + " FROM STDIN (FORMAT binary)").constData()));
               PQputCopyData(c.c, rows.constData(), static_cast<int>(rows.size()));
               PQputCopyEnd(c.c, nullptr);
               PQclear(PQgetResult(c.c));
           }) /
        1000;
}

// A plain COPY of what the archive program wrote, in seconds: the stored
// rows into the same tables (`blocks`), and the same lines as rows of a
// table of a line a row keyed by port and second (`lines`), with the rollups
// each time. That table is an ordinary one, as the archive's are;
// `unlogged` is the same into a temporary table, which writes nothing to
// the server's log and so keeps nothing through a crash.
struct CopyTimes {
    double blocks, lines, unlogged;
};
CopyTimes plainCopy(const Connection &c)
{
    double rollups = 0;
    for (const char *table : {"climalog.minuto", "climalog.hora"})
        rollups += copyRows(c, QByteArray("SELECT * FROM ") + table, table);
    double lines[2];
    for (const bool temporary : {false, true}) {
        c.scalar(QByteArray("CREATE ") + (temporary ? "TEMP " : "") +
                 "TABLE lineas_copia (hora timestamptz NOT NULL, puerto integer NOT NULL, "
                 "fichero integer NOT NULL, juego integer NOT NULL, valores integer[] NOT NULL, "
                 "exactos double precision[], PRIMARY KEY (puerto, hora))");
        lines[temporary] = copyRows(c, "SELECT * FROM climalog.linea", "lineas_copia");
        c.scalar("DROP TABLE lineas_copia");
    }
    return {copyRows(c, "SELECT * FROM climalog.bloque", "climalog.bloque") + rollups,
            lines[0] + rollups, lines[1] + rollups};
}

// The site's questions on one column of one station and day; `serie` names it.
void questions(const Connection &c, const QByteArray &station, const QByteArray &serie,
               const QByteArray &day, bool site = false)
{
    const QByteArray range =
        "'" + day + " 00:00+00', '" + day + " 00:00+00'::timestamptz + interval '1 day'";
    c.show("climalog.resumen, every series with its latest reading",
           "SELECT * FROM climalog.resumen", "goal < 20 ms");
    c.show("the same, one station",
           "SELECT * FROM climalog.resumen WHERE estacion = '" + station + "'", "goal < 20 ms");
    c.show("hourly averages of one column over a day (climalog.media_horaria)",
           "SELECT hora, media, lecturas FROM climalog.media_horaria WHERE estacion = '" + station +
               "' AND puerto = '1' AND columna = 'Sonda 1 (\u00BAC)' AND hora >= '" + day +
               " 00:00+00' AND hora < '" + day +
               " 00:00+00'::timestamptz + interval '1 day' ORDER BY 1",
           "goal < 50 ms, today 180 ms");
    c.show("the same from every reading (the first design's README query)",
           "SELECT date_trunc('hour', hora) AS hora, avg(valor), count(valor) FROM "
           "climalog.lectura WHERE estacion = '" +
               station + "' AND puerto = '1' AND columna = 'Sonda 1 (\u00BAC)' AND hora >= '" +
               day + " 00:00+00' AND hora < '" + day +
               " 00:00+00'::timestamptz + interval '1 day' GROUP BY 1 ORDER BY 1",
           "today 180 ms");
    c.show("one column of a day at full resolution (climalog.lecturas)",
           "SELECT * FROM climalog.lecturas(ARRAY[" + serie + "], " + range + ")", "goal < 100 ms");
    c.show("one column of a day in 2 000 buckets (climalog.tramo)",
           "SELECT * FROM climalog.tramo(ARRAY[" + serie + "], " + range + ", 2000)",
           "goal < 100 ms");
    if (site)
        return; // the narrow view's question below reads every reading of a day of the site: minutes
    c.show("the latest value of every column (README query, one day back)",
           "SELECT DISTINCT ON (puerto, columna) puerto, columna, hora, valor FROM "
           "climalog.lectura WHERE estacion = '" +
               station + "' AND hora > '" + day +
               " 23:00+00'::timestamptz - interval '1 day' ORDER BY puerto, columna, hora DESC",
           "today 3 800 ms");
}

void archiveDay(const QString &root)
{
    const char *database = "climalog_banco";
    const QString folder = root + QStringLiteral("/1");
    QDir().mkpath(folder);
    QString path;
    const double writing = timed([&] { path = benchDay(folder); });
    std::printf("A day of one station: 86 400 lines x 40 columns = 3 456 000 readings, %.1f MB of "
                "capture text "
                "(%.1f bytes a reading), written in %.1f s\n",
                QFileInfo(path).size() / 1048576.0, QFileInfo(path).size() / 3456000.0,
                writing / 1000);
    archive({QStringLiteral("--preparar"), address(database)});
    const double cpuBefore = childCpu();
    const auto [seconds, code] = archive({QStringLiteral("--una-vez"), QStringLiteral("--estacion"),
                                          QStringLiteral("banco"), folder, address(database)});
    rusage children{};
    getrusage(RUSAGE_CHILDREN, &children);
    Connection c(database);
    c.scalar("VACUUM ANALYZE");
    const double readings = c.scalar("SELECT count(*) FROM climalog.lectura");
    const double bytes = c.scalar(schemaBytes);
    std::printf("Archived from scratch (--una-vez, exit %d): %.2f s, %.0f readings/s (goal >= 1 "
                "000 000/s or a plain COPY's; "
                "today 1.1 M); %.0f readings in the database\n",
                code, seconds, 3456000 / seconds, readings);
    std::printf("Peak resident memory of the archive program: %.0f MB (goal < 100 MB); its own "
                "processor time %.2f s\n",
                children.ru_maxrss / 1024.0, childCpu() - cpuBefore);
    std::printf(
        "On disk, every table and index of the schema: %.1f MB, %.2f bytes a reading (goal <= 10, "
        "today 85); lines (rows, TOAST, key) %.1f MB, "
        "their key %.1f MB, minute and hour rollups %.1f MB\n",
        bytes / 1048576, bytes / 3456000,
        c.scalar("SELECT sum(pg_total_relation_size(c.oid)) FROM pg_class c WHERE relname LIKE "
                 "'bloque\\_2%' AND relkind = 'r'") /
            1048576,
        c.scalar("SELECT sum(pg_relation_size(c.oid)) FROM pg_class c WHERE relname LIKE "
                 "'bloque\\_2%pkey'") /
            1048576,
        c.scalar("SELECT pg_total_relation_size('climalog.minuto') + "
                 "pg_total_relation_size('climalog.hora')") /
            1048576);

    std::printf("The site's questions on that day:\n");
    questions(c, "banco", "1", "2026-12-07");

    // A restart with a few new lines: the file is not read from its start.
    QFile more(path);
    more.open(QIODevice::Append);
    for (int k = 0; k < 5; ++k) {
        QByteArray line = "08-12-2026 00:00:0" + QByteArray::number(k);
        for (int column = 0; column < 40; ++column)
            line += "  1,5";
        more.write(line + "\r\n");
    }
    more.close();
    const double restart = archive({QStringLiteral("--una-vez"), QStringLiteral("--estacion"),
                                    QStringLiteral("banco"), folder, address(database)})
                               .first;
    std::printf("Restart with 5 new lines at the end of the %.0f MB file: %.2f s in all, "
                "connection included (today 1.3 s for a 2.2 GB file)\n",
                QFileInfo(path).size() / 1048576.0, restart);
    const double idle = archive({QStringLiteral("--una-vez"), QStringLiteral("--estacion"),
                                 QStringLiteral("banco"), folder, address(database)})
                            .first;
    std::printf("A run with nothing new (the program's start, connection, station and files "
                "looked at): %.2f s; the day above archived in %.2f s beyond it\n",
                idle, seconds - idle);

    const CopyTimes copy = plainCopy(c);
    std::printf("A plain COPY of the same lines as rows of a table of a line a row (with the "
                "rollups): %.2f s, %.0f readings/s (into a temporary table, which writes no log: "
                "%.2f s); of the rows stored: %.2f s; the archive program "
                "reached %.0f %% and %.0f %% of them, parsing the capture text included\n",
                copy.lines, 3456000 / copy.lines, copy.unlogged, copy.blocks,
                100 * copy.lines / seconds, 100 * copy.blocks / seconds);

    // Narrower stations, where a line's own costs weigh more.
    for (const int columns : {1, 2, 4, 8}) {
        const QByteArray database = "climalog_banco" + QByteArray::number(columns);
        freshDatabase(database.constData());
        archive({QStringLiteral("--preparar"), address(database.constData())});
        const QString narrow = root + QStringLiteral("/%1col/1").arg(columns);
        QDir().mkpath(narrow);
        const QString file = sensorsDay(narrow, columns);
        const double cpuBefore = childCpu();
        const double took =
            archive({QStringLiteral("--una-vez"), QStringLiteral("--estacion"),
                     QStringLiteral("banco%1").arg(columns), narrow, address(database.constData())})
                .first;
        const double cpu = childCpu() - cpuBefore;
        const double idle =
            archive({QStringLiteral("--una-vez"), QStringLiteral("--estacion"),
                     QStringLiteral("banco%1").arg(columns), narrow, address(database.constData())})
                .first;
        Connection n(database.constData());
        n.scalar("VACUUM ANALYZE");
        const double count = 86400.0 * columns;
        const double stored =
            n.scalar("SELECT sum(pg_total_relation_size(c.oid)) FROM pg_class c WHERE relname LIKE "
                     "'bloque\\_2%' AND relkind = 'r'");
        const double all = n.scalar(schemaBytes);
        const CopyTimes narrowCopy = plainCopy(n);
        std::printf("A day of a %d-column station (%.0f readings, %.1f bytes of capture text a "
                    "reading): archived in %.2f s (%.0f readings/s; %.2f s beyond a run with "
                    "nothing new; the program's processor "
                    "time %.2f s); on disk %.2f bytes a reading "
                    "(lines %.2f, goal <= %s); a plain COPY of the lines as rows %.2f s (into "
                    "a temporary table %.2f s), of the rows stored %.2f s\n",
                    columns, count, QFileInfo(file).size() / count, took, count / took, took - idle,
                    cpu, all / count, stored / count, columns >= 4 ? "10" : "the capture text's",
                    narrowCopy.lines, narrowCopy.unlogged, narrowCopy.blocks);
    }
}

void followLag(const QString &root, int lines)
{
    const char *database = "climalog_banco";
    General g;
    g.appFolder = root;
    g.nombrepuerto = QStringLiteral("COM2");
    g.carpeta = root + QStringLiteral("/2/");
    for (int k = 1; k <= 10; ++k)
        add(g, STT, QStringLiteral("Sonda %1").arg(k));
    g.modificado = false;
    SystemClock clock;
    Answers answers;
    Captura capture(g, clock);
    if (!capture.start(answers, [] { return true; })) {
        std::fprintf(stderr, "The capture does not start in %s\n", qPrintable(g.carpeta));
        return;
    }
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.setStandardOutputFile(QProcess::nullDevice());
    p.start(program(),
            {QStringLiteral("--estacion"), QStringLiteral("banco"), root + QStringLiteral("/2"),
             address(database)});
    Connection c(database);
    std::vector<double> lags;
    const QByteArray count = "SELECT sum(cardinality(b.segundos)) FROM climalog.bloque b JOIN "
                             "climalog.puerto p ON p.id = b.puerto WHERE p.nombre = '2'";
    for (int k = 0; k < lines; ++k) {
        // At the start of a second, as the capture tick writes.
        QThread::msleep(static_cast<unsigned long>(1000 - QTime::currentTime().msec()));
        const QString hora =
            QDateTime::currentDateTime().toString(QStringLiteral("dd-MM-yyyy HH:mm:ss"));
        QElapsedTimer t;
        t.start();
        capture.escribe(hora);
        while (c.scalar(count) < k + 1 && t.elapsed() < 30000)
            QThread::msleep(5);
        lags.push_back(t.elapsed() / 1000.0);
    }
    QFile status(QStringLiteral("/proc/%1/status").arg(p.processId()));
    QByteArray peak = "?";
    if (status.open(QIODevice::ReadOnly))
        for (const QByteArray &line : status.readAll().split('\n'))
            if (line.startsWith("VmHWM:"))
                peak = line.mid(6).trimmed();
    p.kill();
    p.waitForFinished();
    std::sort(lags.begin(), lags.end());
    std::printf("Follow mode, one line a second for %d s: lag from the line on the disk to its "
                "readings in the database: "
                "median %.2f s, worst %.2f s (goal < 1 s, today median 0.22 s); the follower's "
                "peak memory %s\n",
                lines, lags[lags.size() / 2], lags.back(), peak.constData());
}

// A model of a site made from the archived day, by the database itself: ten
// stations of four ports of 40 columns; port 1 of each holds thirty days (the
// day again, a day later each time), the other ports their latest line. Then a
// 4-column port over a year, the same way.
void site()
{
    const char *database = "climalog_banco";
    Connection c(database);
    std::printf("A model of a site, made by the database from the archived day (method: the day's "
                "lines copied a day "
                "later each time, with their rollups): ten stations x 4 ports x 40 columns, port 1 "
                "over 30 days ...\n");
    const double making = timed([&] {
        c.scalar(R"sql(
DO $$
DECLARE st integer; pt integer; fi integer; ju integer; base integer := (SELECT id FROM climalog.juego ORDER BY id LIMIT 1);
        series integer[];
BEGIN
    PERFORM climalog.crear_meses('2026-12-01', '2027-01-31');
    FOR s IN 1 .. 10 LOOP
        INSERT INTO climalog.estacion (nombre, zona, rol) VALUES ('sitio-' || s, 'Europe/Madrid', current_user) RETURNING id INTO st;
        FOR port IN 1 .. 4 LOOP
            INSERT INTO climalog.puerto (estacion, nombre) VALUES (st, port::text) RETURNING id INTO pt;
            INSERT INTO climalog.fichero (puerto, nombre, dia) VALUES (pt, '07-12-2026-00.log', '2026-12-07') RETURNING id INTO fi;
            WITH n AS (INSERT INTO climalog.serie (puerto, columna, ocurrencia, unidad, dispositivo, clase)
                       SELECT pt, s2.columna, 1, s2.unidad, s2.dispositivo, s2.clase FROM climalog.juego_serie js
                       JOIN climalog.serie s2 ON s2.id = js.serie WHERE js.juego = base ORDER BY js.posicion RETURNING id)
            SELECT array_agg(id ORDER BY id) INTO series FROM n;
            INSERT INTO climalog.juego (puerto, series) VALUES (pt, series) RETURNING id INTO ju;
            INSERT INTO climalog.juego_serie SELECT x, ju, k FROM unnest(series) WITH ORDINALITY u(x, k);
            INSERT INTO climalog.ultima SELECT ju, hora, valores, exactos FROM climalog.ultima WHERE juego = base;
            IF port = 1 THEN
                FOR d IN 0 .. 29 LOOP
                    INSERT INTO climalog.bloque SELECT pt, inicio + d * interval '1 day', fi, ju, segundos, valores, exactos
                      FROM climalog.bloque WHERE juego = base AND inicio < '2026-12-08';
                    INSERT INTO climalog.minuto SELECT ju, lineas, inicio + d * interval '1 day', n, minimo, maximo, suma
                      FROM climalog.minuto WHERE juego = base AND inicio < '2026-12-08';
                    INSERT INTO climalog.hora SELECT ju, lineas, inicio + d * interval '1 day', n, minimo, maximo, suma
                      FROM climalog.hora WHERE juego = base AND inicio < '2026-12-08';
                END LOOP;
            END IF;
        END LOOP;
    END LOOP;
END $$)sql");
        c.scalar("VACUUM ANALYZE");
    });
    const double lines = c.scalar("SELECT count(*) FROM climalog.linea");
    std::printf(
        "  made in %.0f s: %.0f lines, %.0f readings, %.1f GB on disk (%.2f bytes a reading)\n",
        making / 1000, lines, lines * 40, c.scalar(schemaBytes) / 1073741824,
        c.scalar(schemaBytes) / (lines * 40));
    const QByteArray serie = QByteArray::number(
        c.scalar("SELECT s.id FROM climalog.serie s JOIN climalog.puerto p ON p.id = s.puerto "
                 "JOIN climalog.estacion e ON e.id = p.estacion WHERE e.nombre = 'sitio-5' "
                 "AND p.nombre = '1' AND s.columna = 'Sonda 1 (\u00BAC)'"),
        'f', 0);
    std::printf("The site's questions (%0.f series), on station sitio-5's day 20:\n",
                c.scalar("SELECT count(*) FROM climalog.serie"));
    questions(c, "sitio-5", serie, "2026-12-27", true);
    c.show("one column of 30 days in 2 000 buckets (climalog.tramo)",
           "SELECT * FROM climalog.tramo(ARRAY[" + serie +
               "], '2026-12-07 00:00+00', '2027-01-06 00:00+00', 2000)",
           "goal < 1 s");

    // A year of the 4-column port.
    std::printf("One 4-column port over a year, its day copied a day later each time ...\n");
    Connection c4("climalog_banco4");
    const double year = timed([&] {
        c4.scalar(R"sql(
DO $$
DECLARE base integer := (SELECT id FROM climalog.juego ORDER BY id LIMIT 1);
BEGIN
    PERFORM climalog.crear_meses('2026-12-01', '2027-12-31');
    FOR d IN 1 .. 364 LOOP
        INSERT INTO climalog.bloque SELECT puerto, inicio + d * interval '1 day', fichero, juego, segundos, valores, exactos
          FROM climalog.bloque WHERE juego = base AND inicio < '2026-12-08';
        INSERT INTO climalog.minuto SELECT juego, lineas, inicio + d * interval '1 day', n, minimo, maximo, suma
          FROM climalog.minuto WHERE juego = base AND inicio < '2026-12-08';
        INSERT INTO climalog.hora SELECT juego, lineas, inicio + d * interval '1 day', n, minimo, maximo, suma
          FROM climalog.hora WHERE juego = base AND inicio < '2026-12-08';
    END LOOP;
END $$)sql");
        c4.scalar("VACUUM ANALYZE");
    });
    std::printf("  made in %.0f s: %.0f lines\n", year / 1000,
                c4.scalar("SELECT count(*) FROM climalog.linea"));
    c4.show("one column of a year in 2 000 buckets (climalog.tramo)",
            "SELECT * FROM climalog.tramo(ARRAY[1], '2026-12-07 00:00+00', '2027-12-07 00:00+00', "
            "2000)",
            "goal < 1 s");
    c4.show("one column of a year in 2 000 buckets from 13:17:05 on",
            "SELECT * FROM climalog.tramo(ARRAY[1], '2026-12-07 13:17:05+00', '2027-12-07 "
            "13:17:05+00', 2000)",
            "goal < 1 s");
}

// Headers of many columns, as wide as the monitor writes them: a file of
// one line under such a header archived from scratch (the header registered),
// then again after one more line (a restart, the header already known).
void wideHeaders(const QString &root)
{
    const char *database = "climalog_ancho";
    std::printf("Wide headers: a file of one header and one line, archived, then one line more "
                "after a restart:\n");
    for (const int columns : {8000, 40000, 131068}) {
        freshDatabase(database);
        archive({QStringLiteral("--preparar"), address(database)});
        const QString folder = root + QStringLiteral("/ancho%1/1").arg(columns);
        QDir().mkpath(folder);
        QByteArray header = "Hora", line = "07-12-2026 10:00:00", next = "07-12-2026 10:00:01";
        for (int k = 0; k < columns; ++k) {
            header += "  S" + QByteArray::number(k) +
                " (\xBA"
                "C)";
            line += "  1";
            next += "  2";
        }
        QFile f(folder + QStringLiteral("/07-12-2026-00.log"));
        f.open(QIODevice::WriteOnly);
        f.write(header + "\r\n" + line + "\r\n");
        f.close();
        const QStringList args{QStringLiteral("--una-vez"), QStringLiteral("--zona"),
                               QStringLiteral("UTC"), folder, address(database)};
        const auto [first, code] = archive(args);
        f.open(QIODevice::Append);
        f.write(next + "\r\n");
        f.close();
        const auto [again, code2] = archive(args);
        Connection c(database);
        std::printf(
            "  %6d columns: first %.2f s (exit %d), restart %.2f s (exit %d); %.0f readings stored "
            "(goal: linear, and the header registered once; today 7.6 s at 10 000, 89.6 s at 40 "
            "000, 2.7 s a restart at 8 000)\n",
            columns, first, code, again, code2,
            c.scalar("SELECT sum(cardinality(valores)) FROM climalog.linea"));
    }
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const QStringList args = app.arguments();
    if (!freshDatabase("climalog_banco"))
        return 1;
    QTemporaryDir root;
    // Kept for a look at the capture files afterwards.
    if (qEnvironmentVariableIsSet("CLIMALOG_BANCO_GUARDAR"))
        root.setAutoRemove(false), std::printf("Files in %s\n", qPrintable(root.path()));
    archiveDay(root.path());
    const int seconds = args.size() > 1 && args[1].toInt() > 0 ? std::max(3, args[1].toInt()) : 20;
    followLag(root.path(), seconds);
    if (args.contains(QStringLiteral("--sitio")))
        site();
    if (args.contains(QStringLiteral("--ancho")))
        wideHeaders(root.path());
    return 0;
}
