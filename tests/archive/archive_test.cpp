// The archive program end to end, against the private PostgreSQL server that
// ./test.sh starts (scripts/testdb.sh): ERR and detector columns, torn lines,
// repeated headers, files replaced and rewritten, summer time, lines of
// another day, bad and refused files, the command line and its secrets, the
// station role's limits, the first design's table migrated, configurations
// archived, a day archived while followed through a server restart and
// while the program is killed at random moments, read back value by value.
#include "monitor/capture.h"
#include "registry/cp1252.h"
#include "support/support.h"

#include <algorithm>
#include <tuple>
#include <libpq-fe.h>

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QThread>
#include <QTimeZone>

#include <cmath>
#include <map>
#include <random>

namespace {

const QString program = binFolder() + QStringLiteral("/climalog-archivo");

QStringList words(const char *text) { return QString::fromUtf8(text).split(u' '); }

// The exit code (-1 for a crash) and all it said; the database of the PG*
// variables unless an address is given, as `role` when one is.
std::pair<int, QString> runArchive(const QStringList &args, const QString &role = {})
{
    return runProgram("climalog-archivo", args, role);
}

// The program started on `args`, its output and errors as one; with
// `connected`, once it has said it is connected (or ended, or a minute passed).
void start(QProcess &p, const QStringList &args, bool connected = false)
{
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    QElapsedTimer waited;
    waited.start();
    while (connected && !p.readAll().contains("Conectado") && waited.elapsed() < 60000)
        if (!p.waitForReadyRead(1000) && p.state() == QProcess::NotRunning)
            break;
}

// All a started program said from then on, once killed.
QByteArray stop(QProcess &p)
{
    p.kill();
    p.waitForFinished();
    return p.readAll();
}

// The rows of a query on a connection: fields joined by '|', NULL as "ERR",
// one a line; none when the query fails (the tables may not be there yet),
// the error's code after "!" when it failed.
std::string rowsOn(PGconn *c, const std::string &sql)
{
    std::string text;
    PGresult *r = PQexec(c, sql.c_str());
    if (const char *state = PQresultErrorField(r, PG_DIAG_SQLSTATE))
        text = std::string("!") + state;
    for (int i = 0; i < PQntuples(r); ++i)
        for (int f = 0; f < PQnfields(r); ++f)
            text += (PQgetisnull(r, i, f) ? "ERR" : PQgetvalue(r, i, f)) +
                std::string(f + 1 < PQnfields(r) ? "|" : "\n");
    PQclear(r);
    return text;
}

// The database of the tests' server, emptied of what the archive program
// makes and set up again by its owner (--preparar); times read back in the
// test's local time, as captures hold them. The tests' own tables, triggers
// and sequences go in the schema prueba, made anew too: one server serves
// many runs, and what one left behind would fail the next, fault or not.
struct TestDatabase {
    TestDatabase()
    {
        connect();
        EXPECT_EQ(PQstatus(conn), CONNECTION_OK)
            << "The tests' server (scripts/testdb.sh) does not answer: " << PQerrorMessage(conn);
        PQclear(PQexec(conn,
                       "DROP SCHEMA IF EXISTS climalog CASCADE; DROP SCHEMA IF EXISTS prueba "
                       "CASCADE; CREATE SCHEMA prueba"));
    }
    ~TestDatabase() { PQfinish(conn); }
    void prepare() { runArchive({QStringLiteral("--preparar")}); }
    void connect() // again, after the server restarted
    {
        PQfinish(conn);
        conn = PQconnectdb("");
        PQsetNoticeProcessor(
            conn, [](void *, const char *) {}, nullptr);
        PQclear(
            PQexec(conn, ("SET TIME ZONE '" + QTimeZone::systemTimeZoneId() + "'").constData()));
    }
    std::string rows(const std::string &sql) const { return rowsOn(conn, sql); }
    // The one field of a query's one row.
    std::string value(const std::string &sql) const
    {
        const std::string r = rows(sql);
        return r.substr(0, r.size() - 1);
    }
    // The tests' server stopped or started (scripts/testdb.sh's pg_ctl).
    static int server(const QStringList &args)
    {
        return QProcess::execute(qEnvironmentVariable("CLIMALOG_TEST_PG_CTL"), args);
    }
    PGconn *conn = nullptr;
};

// A prepared database and a fresh folder holding the capture folder of port 1.
struct Prepared : TestDatabase {
    Prepared()
    {
        prepare();
        QDir().mkpath(t.file(QStringLiteral("1")));
    }
    QString port(const char *name = "1") const { return t.file(QString::fromLatin1(name)); }
    TempFolder t;
};

// A station of one sensor whose readings follow the second of the day, ERR
// now and then, and the rows "file|column|time|value" its lines must give,
// in the order of their times.
struct Station {
    explicit Station(const QString &root) : folder(root + QStringLiteral("/1/"))
    {
        QDir().mkpath(folder);
        addDevice(g, {STT, "Sala"});
    }
    // Sets the reading of the line of `at` and records its row; returns its text.
    QByteArray line(const QDateTime &at, bool header)
    {
        const int s = at.time().msecsSinceStartOfDay() / 1000;
        const float sala = (s % 80 - 20) / 4.0f;
        g.estados[1] = {{}, s % 13 != 0, {sala}, 0};
        const QString hora = at.toString(QStringLiteral("dd-MM-yyyy HH:mm:ss"));
        expected += name.toStdString() + "|Sala (\u00BAC)|" + hora.toStdString() + "|" +
            (s % 13 ? QString::number(sala).toStdString() : "ERR") + "\n";
        return QByteArray::fromStdString(
            cp1252::encode((header ? cabecera(g) + QStringLiteral("\r\n") : QString()) +
                           linea(g, hora) + QStringLiteral("\r\n")));
    }
    General g;
    const QString folder, name = QStringLiteral("07-12-2026-00.log");
    std::string expected;
};

// Four batches of a catch-up with --lote 100 (each ends with its last
// minute: 120 lines): 400 lines of one sensor from 10:00:00, reading 20 to 28; line 250, of the third batch, at 24:00:00, a
// bad line; with `refused`, line 150 reads 1234 instead.
QByteArray fourBatches(bool refused)
{
    QByteArray text = w1252("Hora  Sala (ºC)\r\n");
    for (int i = 0; i < 400; ++i)
        text += i == 248
            ? QByteArray("07-12-2026 24:00:00  20\r\n")
            : QTime(10, 0, 0).addSecs(i).toString(u"'07-12-2026 'hh:mm:ss").toLatin1() + "  " +
                (refused && i == 148 ? QByteArray("1234") : QByteArray::number(20 + i % 9)) +
                "\r\n";
    return text;
}

// Minutes and hours whose stored figures (lines, and per column readings,
// minimum, maximum, sum) are not those of the stored lines: none.
std::string rollupsAgainstLines(const TestDatabase &db)
{
    std::string out;
    for (const char *table : {"minuto", "hora"}) {
        const std::string period = table == std::string("minuto") ? "60" : "3600";
        out += db.rows(
            "WITH l AS (SELECT l.juego, to_timestamp(floor(date_part('epoch', l.hora) / " + period +
            ") * " + period +
            ") AS inicio, u.k, count(*) AS c, count(u.v) AS n, min(u.v) AS mn, max(u.v) AS mx, "
            "sum(u.v) AS sm "
            "FROM climalog.linea l, LATERAL (SELECT k, climalog.valor(ARRAY[c], CASE WHEN "
            "l.exactos IS NOT NULL THEN ARRAY[e] END, 1) AS v "
            "FROM unnest(l.valores, l.exactos) WITH ORDINALITY x(c, e, k)) u GROUP BY 1, 2, 3), "
            "r AS (SELECT m.juego, m.inicio, u.k, m.lineas, u.n, u.mn, u.mx, u.sm FROM climalog." +
            table +
            " m, unnest(m.n, m.minimo, m.maximo, m.suma) WITH ORDINALITY u(n, mn, mx, sm, k)) "
            "SELECT '" +
            table +
            "', count(*) FROM l FULL JOIN r USING (juego, inicio, k) "
            "WHERE (l.c, l.n, l.mn, l.mx) IS DISTINCT FROM (r.lineas, r.n, r.mn, r.mx) "
            // a sum of minutes' sums rounds otherwise than one of lines
            "OR NOT (l.sm IS NOT DISTINCT FROM r.sm OR abs(l.sm - r.sm) <= 1e-12 * abs(l.sm))");
    }
    return out;
}

} // namespace

TEST(Archive, SingleRunsOverChangingFiles)
{
    const QByteArray h = w1252("Hora  Sala (ºC)  Puerta - 1\r\n"),
                     l0 = "07-12-2026 10:00:00  21,5  1\r\n",
                     l1 = "07-12-2026 10:00:01  22,5  0\r\n",
                     l2 = "07-12-2026 10:00:02  ERR  1\r\n", l3 = "07-12-2026 10:00:03  -3  0\r\n";
    const std::string r0 = "00|Puerta - 1|1\n00|Sala (ºC)|21.5\n",
                      r1 = "01|Puerta - 1|0\n01|Sala (ºC)|22.5\n",
                      r2 = "02|Puerta - 1|1\n02|Sala (ºC)|ERR\n",
                      r3 = "03|Puerta - 1|0\n03|Sala (ºC)|-3\n";
    // The same bytes up to the archived end, other names and values: the
    // new file's readings replace the old ones, every name counted.
    const QByteArray g = w1252("Hora  Hall (ºC)  Portal - 1\r\n"),
                     g0 = "07-12-2026 10:00:00  11,5  0\r\n",
                     g1 = "07-12-2026 10:00:01  12,5  1\r\n";
    const std::string s0 = "00|Hall (ºC)|11.5\n00|Portal - 1|0\n",
                      s1 = "01|Hall (ºC)|12.5\n01|Portal - 1|1\n";
    // Per run: the bytes appended (or, after "=", the file written anew; after
    // ">", appended to a second file of the same day), the table
    // ("second|column|value"), a text the program must print.
    const std::pair<const char *, std::vector<std::tuple<QByteArray, std::string, const char *>>>
        rows[] = {
            {"a torn line waits until it is whole",
             {{h + l0 + "07-12-2026 10:00:01  2", r0, ""},
              {"2,5  0\r", r0, ""},
              {"\n", r0 + r1, ""}}},
            {"a shrunk file is read again by key, its old lines past its end dropped",
             {{h + l0 + l1 + l2, r0 + r1 + r2, ""},
              {"=" + h + l0 + l1, r0 + r1,
               "ninguna lectura cambiada; 1 línea archivada que ya no tiene, borrada"},
              {l3, r0 + r1 + r3, ""}}},
            {"made again with other lines: only its own stay",
             {{h + l0 + l1 + l2 + l3, r0 + r1 + r2 + r3, ""},
              {"=" + h + l1 + l3, r1 + r3, "2 líneas archivadas que ya no tiene, borradas"}}},
            {"a second twice in one batch is reported as across runs",
             {{h + l0 + l1 + "07-12-2026 10:00:01  23  1\r\n",
               r0 + "01|Puerta - 1|1\n01|Sala (ºC)|23\n",
               "2 lecturas ya archivadas en los mismos segundos"}}},
            {"replaced while stopped, the same line ends at the archived end",
             {{h + l0 + l1, r0 + r1, ""},
              {"=" + g + g0 + g1 + l2, s0 + s1 + "02|Hall (ºC)|ERR\n02|Portal - 1|1\n",
               "4 lecturas cambiadas"}}},
            {"rewritten with longer lines: the new values, none twice",
             {{h + l0 + l1 + l2, r0 + r1 + r2, ""},
              {"=" + h + "07-12-2026 10:00:00  21,25  1\r\n07-12-2026 10:00:01  22,5  0\r\n" +
                   "07-12-2026 10:00:02  ERR  1\r\n" + l3,
               "00|Puerta - 1|1\n00|Sala (ºC)|21.25\n" + r1 + r2 + r3, "1 lectura cambiada"}}},
            {"lines of another day are skipped and make no partition",
             {{h + l0 + "07-12-2031 10:00:01  22,5  0\r\n06-12-2026 10:00:01  22,5  0\r\n" +
                   "08-12-2026 10:00:01  22,5  0\r\n" + l2,
               r0 + r2, "3 líneas descartadas de otro día"}}},
            {"a second already stored from another file takes the later file's line",
             {{h + l0 + l1, r0 + r1, ""},
              {">" + h + "07-12-2026 10:00:01  23  1\r\n" + l2,
               r0 + "01|Puerta - 1|1\n01|Sala (ºC)|23\n" + r2,
               "2 lecturas ya archivadas en los mismos segundos"}}},
        };
    for (const auto &[name, steps] : rows) {
        Prepared db;
        const QString file = db.port() + QStringLiteral("/07-12-2026-00.log");
        for (const auto &[bytes, expected, says] : steps) {
            if (bytes.startsWith('>'))
                append(db.port() + QStringLiteral("/07-12-2026-01.log"), bytes.mid(1));
            else
                bytes.startsWith('=')          ? void(QFile::remove(file)),
                    append(file, bytes.mid(1)) : append(file, bytes);
            const auto [code, said] = runArchive({QStringLiteral("--una-vez"), db.port()});
            EXPECT_EQ(code, 0) << name;
            EXPECT_EQ(db.rows("SELECT to_char(hora, 'SS'), columna, valor FROM climalog.lectura "
                              "ORDER BY hora, columna COLLATE \"C\""),
                      expected)
                << name;
            EXPECT_TRUE(said.contains(QString::fromUtf8(says)))
                << name << ": " << said.toStdString();
            EXPECT_EQ(rollupsAgainstLines(db), "minuto|0\nhora|0\n") << name;
        }
        EXPECT_EQ(
            db.rows(
                "SELECT count(*) FROM pg_inherits WHERE inhrelid::regclass::text LIKE '%2031%'"),
            "0\n")
            << name;
    }
}

// A catch-up goes as finished rows with their figures, a few lines as
// lines: the same file stored both ways, its batches cut within a minute,
// an hour, a header changed within a minute, ERR and exact values, gives
// the same rows, figures and latest lines.
TEST(Archive, RowsAndLinesStoreTheSame)
{
    Prepared db;
    const std::string tracking = "DO $$ BEGIN EXECUTE format('ALTER DATABASE %I %s', "
                                 "current_database(), ";
    db.rows(tracking + "'SET track_functions = pl'); END $$");
    QByteArray text = w1252("Hora  Sala (ºC)  Puerta - 1  Puerta - 2\r\n");
    for (int i = 0; i < 200; ++i) {
        if (i == 100)
            text += w1252("Hora  Sala (ºC)  Puerta - 1\r\n");
        const QByteArray sala = i % 7 == 3 ? "ERR"
            : i % 13 == 5                  ? "123456,789012"
                                           : QByteArray::number(20 + i % 9) + ",5";
        text += QTime(10, 58, 0).addSecs(i).toString(u"'07-12-2026 'hh:mm:ss").toLatin1() + "  " +
            sala + "  " + QByteArray::number(i % 2) + (i < 100 ? "  1" : "") + "\r\n";
    }
    const TempFolder &t = db.t;
    // The calls of the two batch functions so far, "lines|rows".
    const auto calls = [&] {
        return db.value("SELECT coalesce(sum(calls) FILTER (WHERE funcname = 'guardar'), 0) || '|' "
                        "|| coalesce(sum(calls) FILTER (WHERE funcname = 'guardar_filas'), 0) FROM "
                        "pg_stat_user_functions WHERE schemaname = 'climalog'");
    };
    std::string both[2];
    // Batches of about 130 lines go as rows, of 30 as lines.
    for (const auto &[k, station, batch] :
         {std::tuple{0, "filas", "400"}, std::tuple{1, "lineas", "90"}}) {
        const QString folder = t.file(QString::fromLatin1(station) + QStringLiteral("/1"));
        QDir().mkpath(folder);
        t.write(QString::fromLatin1(station) + QStringLiteral("/1/07-12-2026-00.log"), text);
        EXPECT_EQ(runArchive(words("--una-vez --zona UTC --lote")
                             << QString::fromLatin1(batch) << QStringLiteral("--estacion")
                             << QString::fromLatin1(station) << folder)
                      .first,
                  0);
        // 150 lines (two headers) as rows, the last 50 as lines; 30 at a time as lines.
        // A session reports its calls as it ends, which may be after the program has.
        waitUntil([&] { return calls() == (k ? "7|1" : "1|1"); });
        EXPECT_EQ(calls(), k ? "7|1" : "1|1");
        const std::string joins =
                              " JOIN climalog.juego j ON j.id = x.juego JOIN climalog.puerto p "
                              "ON p.id = j.puerto JOIN climalog.estacion e ON e.id = p.estacion",
                          where = " WHERE e.nombre = '" + std::string(station) + "'";
        const std::string rows = db.rows("SELECT x.inicio, x.segundos, x.valores, x.exactos, "
                                         "cardinality(j.series) FROM climalog.bloque x" +
                                         joins + where + " ORDER BY 1, 2");
        EXPECT_EQ(std::count(rows.begin(), rows.end(), '\n'), 5) << rows;
        both[k] = rows;
        for (const char *table : {"minuto", "hora"})
            both[k] += db.rows(std::string("SELECT x.inicio, s.columna, x.lineas, u.n, u.mn, u.mx, "
                                           "round(u.sm::numeric, 6), round(u.sq::numeric, 3), "
                                           "u.ar::real FROM climalog.") +
                               table +
                               " x, unnest(x.n, x.minimo, x.maximo, x.suma, x.cuadrados, "
                               "x.arrhenius) WITH ORDINALITY u(n, mn, mx, sm, sq, ar, k)" +
                               joins + " JOIN climalog.serie s ON s.id = j.series[u.k]" + where +
                               " ORDER BY 1, 2, 3");
        both[k] += db.rows("SELECT x.hora, x.valores, x.exactos FROM climalog.ultima x" + joins +
                           where + " ORDER BY 1");
    }
    EXPECT_EQ(both[0], both[1]);
    EXPECT_EQ(rollupsAgainstLines(db), "minuto|0\nhora|0\n");
    db.rows(tracking + "'RESET track_functions'); END $$");
}

// A catch-up of several batches, each sent while the next is read: a line
// the database refuses in one of them is found and skipped alone, a bad line
// of the batch read meanwhile is said once, and every other line is stored
// once.
// The commits of the batches are durable where another batch of the file
// does not follow at once: the last one makes those before it durable too.
TEST(Archive, ARefusedLineInACatchUpIsSkippedAlone)
{
    Prepared db;
    db.rows(
        "ALTER TABLE climalog.bloque ADD CONSTRAINT razonable CHECK (64 * 500 > ALL (valores))");
    db.rows("CREATE TABLE prueba.confirmadas (n serial, sincrona text); CREATE FUNCTION "
            "prueba.confirmada() RETURNS trigger LANGUAGE plpgsql SECURITY DEFINER AS $f$ BEGIN "
            "INSERT INTO prueba.confirmadas (sincrona) VALUES "
            "(current_setting('synchronous_commit')); RETURN NULL; END $f$; CREATE CONSTRAINT "
            "TRIGGER confirmada AFTER INSERT OR UPDATE ON climalog.progreso DEFERRABLE INITIALLY "
            "DEFERRED FOR EACH ROW EXECUTE FUNCTION prueba.confirmada()");
    db.t.write(QStringLiteral("1/07-12-2026-00.log"), fourBatches(true));
    const auto [code, said] =
        runArchive(words("--una-vez --zona UTC --lote 100 --estacion banco") << db.port());
    EXPECT_EQ(code, 3) << said.toStdString();
    EXPECT_EQ(said.count(QStringLiteral("línea 150: la base de datos no la acepta")), 1)
        << said.toStdString();
    EXPECT_EQ(said.count(QStringLiteral("línea 250: se salta")), 1) << said.toStdString();
    EXPECT_EQ(db.rows("SELECT count(*), count(DISTINCT hora), max(valor) FROM climalog.lectura"),
              "398|398|28\n");
    EXPECT_EQ(rollupsAgainstLines(db), "minuto|0\nhora|0\n");
    // The first and third batches wait for the next; the second's parts and the last do not.
    EXPECT_EQ(db.rows("SELECT count(*) FILTER (WHERE sincrona = 'off'), (SELECT sincrona FROM "
                      "prueba.confirmadas ORDER BY n DESC LIMIT 1), (SELECT sincrona FROM "
                      "prueba.confirmadas ORDER BY n LIMIT 1) FROM prueba.confirmadas"),
              "2|on|off\n");
}

// A batch that fails while the next is read: the file goes on from the
// stored progress, and the bad line of the batch read meanwhile is said once,
// when it is read again, not also from that first reading. No stored minute
// is written again: each batch ends with its minute.
TEST(Archive, AFailedBatchDropsWhatWasReadAfterIt)
{
    Prepared db;
    db.rows("CREATE TABLE prueba.reescritas (inicio timestamptz); CREATE FUNCTION "
            "prueba.reescrita() RETURNS trigger LANGUAGE plpgsql SECURITY DEFINER AS $f$ BEGIN "
            "INSERT INTO prueba.reescritas VALUES (OLD.inicio); RETURN OLD; END $f$; CREATE "
            "TRIGGER reescrita BEFORE DELETE ON climalog.bloque FOR EACH ROW EXECUTE FUNCTION "
            "prueba.reescrita()");
    // The second batch's first row fails once, as a full disk would.
    db.rows("CREATE SEQUENCE prueba.fallo; CREATE FUNCTION prueba.fallo() RETURNS trigger "
            "LANGUAGE plpgsql AS $f$ BEGIN IF NEW.inicio >= '2026-12-07 10:02:00+00' AND "
            "nextval('prueba.fallo') = 1 THEN RAISE EXCEPTION 'falla una vez'; END IF; RETURN "
            "NEW; END $f$; CREATE TRIGGER fallo BEFORE INSERT ON climalog.bloque FOR EACH ROW "
            "EXECUTE FUNCTION prueba.fallo()");
    db.t.write(QStringLiteral("1/07-12-2026-00.log"), fourBatches(false));
    QProcess follower;
    start(follower, words("--zona UTC --lote 100 --estacion banco") << db.port());
    const char *stored = "SELECT count(*), count(DISTINCT hora) FROM climalog.lectura";
    waitUntil([&] { return db.rows(stored) == "399|399\n"; });
    const QString said = QString::fromUtf8(stop(follower));
    EXPECT_EQ(db.rows(stored), "399|399\n");
    EXPECT_TRUE(said.contains(QStringLiteral("falla una vez"))) << said.toStdString();
    EXPECT_EQ(said.count(QStringLiteral("línea 250: se salta")), 1) << said.toStdString();
    EXPECT_EQ(rollupsAgainstLines(db), "minuto|0\nhora|0\n");
    EXPECT_EQ(db.rows("SELECT count(*) FROM prueba.reescritas"), "0\n");
}

// Both summer-time changes of Europe/Madrid, whatever the test's own zone:
// the hour the spring change skips is read with the offset before it; the
// autumn hour that comes twice keeps its own instants, by the file's order,
// also when the program stops in its middle and goes on from where it stopped.
TEST(Archive, SummerTimeChangesKeepTheInstants)
{
    Prepared db;
    const TempFolder &t = db.t;
    const QByteArray h = w1252("Hora  Sala (ºC)\r\n");
    t.write(QStringLiteral("1/29-03-2026-00.log"),
            h + "29-03-2026 01:59:59  1\r\n29-03-2026 02:30:00  2\r\n29-03-2026 03:00:00  3\r\n");
    t.write(QStringLiteral("1/25-10-2026-00.log"),
            h + "25-10-2026 02:30:00  4\r\n25-10-2026 02:59:59  5\r\n25-10-2026 02:00:00  6\r\n");
    // East of UTC, the first of a month whose partition is not made yet: its
    // first hour belongs to the month before in UTC.
    const QDate first = QDate::currentDate().addMonths(3);
    const QByteArray month =
        QDate(first.year(), first.month(), 1).toString(QStringLiteral("dd-MM-yyyy")).toLatin1();
    t.write(QStringLiteral("1/%1-00.log").arg(QString::fromLatin1(month)),
            h + month + " 00:30:00  9\r\n");
    const QStringList args = words("--una-vez --zona Europe/Madrid") << db.port();
    EXPECT_EQ(runArchive(args).first, 0);
    append(t.file(QStringLiteral("1/25-10-2026-00.log")),
           "25-10-2026 02:30:00  7\r\n25-10-2026 03:00:00  8\r\n");
    EXPECT_EQ(runArchive(args).first, 0);
    EXPECT_EQ(db.rows("SELECT to_char(hora AT TIME ZONE 'UTC', 'DD HH24:MI:SS'), valor FROM "
                      "climalog.lectura ORDER BY hora"),
              "29 00:59:59|1\n29 01:00:00|3\n29 01:30:00|2\n"
              "25 00:30:00|4\n25 00:59:59|5\n25 01:00:00|6\n25 01:30:00|7\n25 02:00:00|8\n" +
                  QDateTime(QDate(first.year(), first.month(), 1), QTime(0, 30),
                            QTimeZone("Europe/Madrid"))
                      .toUTC()
                      .toString(QStringLiteral("dd HH:mm:ss"))
                      .toStdString() +
                  "|9\n");
    EXPECT_EQ(db.rows("SELECT zona FROM climalog.estacion"), "Europe/Madrid\n");
}

TEST(Archive, CommandLineAndStartErrors)
{
    TestDatabase db;
    TempFolder t;
    for (const char *port : {"1", "2", "3", "4", "5", "6"})
        QDir().mkpath(t.file(QString::fromLatin1(port)));
    const auto args = [&](const char *text, const char *folder) {
        return words(text) << t.file(QString::fromLatin1(folder));
    };
    // Archived oldest first (by year, month and day); each holds a line of
    // no reading, counted.
    const QByteArray sala = w1252("Hora  Sala (ºC)\r\n");
    for (const char *day : {"07-12-2026", "08-11-2026", "09-10-2025"})
        t.write(QStringLiteral("1/%1-00.log").arg(QLatin1String(day)), sala + day + "\r\n");
    // A header the database cannot hold (a zero byte in a name) beside a good folder.
    t.write(QStringLiteral("2/07-12-2026-00.log"),
            QByteArray(sala).insert(8, '\0') + "07-12-2026 10:00:00  1\r\n");
    t.write(QStringLiteral("3/07-12-2026-00.log"), sala + "07-12-2026 10:00:00  3\r\n");
    // A value a rule of the site refuses, between two it takes.
    t.write(QStringLiteral("4/07-12-2026-00.log"),
            sala +
                "07-12-2026 10:00:00  1\r\n07-12-2026 10:00:01  999\r\n07-12-2026 10:00:02  2\r\n");
    // Lines no capture holds, each named: a zero byte, a line of a megabyte,
    // a column too many, days and times that do not exist, a value beyond
    // any double; and a file whose lines end in a lone CR.
    const QByteArray good = "07-12-2026 10:00:00  1  0\r\n";
    const QByteArray sala1 = w1252("Hora  Sala (ºC)  Puerta - 1\r\n");
    t.write(QStringLiteral("5/07-12-2026-00.log"),
            sala1 + good + QByteArray("07-12-2026 10:00:01  2\0  0\r\n", 28) +
                "07-12-2026 10:00:02  " + QByteArray(1 << 20, '1') +
                "  0\r\n07-12-2026 10:00:03  1  0  5\r\n"
                "31-02-2026 10:00:04  1  0\r\n07-12-2026 24:00:00  1  0\r\n07-12-2026 10:00:06  "
                "1e400  0\r\n"
                "07-12-2026 10:00:07  3  1\r\n");
    t.write(QStringLiteral("6/07-12-2026-00.log"), QByteArray(sala1 + good).replace("\r\n", "\r"));
    const std::tuple<QStringList, int, const char *> rows[] = {
        // what it says, a pattern
        {args("--una-vez", "1"), 1,
         "no tiene el esquema climalog: prepárela una vez con climalog-archivo --preparar"},
        {words("--preparar"), 0, "Esquema climalog puesto en la versión 1"},
        {words("--nada"), 2, "Opción desconocida o sin su valor: --nada."},
        {words("--lote 0"), 2, "El lote debe ser un número de lecturas mayor que cero: 0."},
        {words("--lote 1O"), 2, "El lote debe ser un número de lecturas mayor que cero: 1O."},
        {words("--zona Marte/Olimpo"), 2, "Zona horaria desconocida: Marte/Olimpo."},
        {words("--una-vez b/2 a/1 c/1"), 2,
         "Las carpetas .*a/1 y .*c/1 tienen el mismo nombre de puerto"}, // side by side
        // Passwords shown nowhere, libpq's own messages included.
        {words("postgresql://u:CLAVE@x postgresql://v:CL%41VE2@y/?password=CLAVE3"), 2,
         "^Sobra la segunda base de datos: postgresql://v:\\*\\*\\*@y/\\?password=\\*\\*\\*\\.\\n"},
        {args("--una-vez postgresql://u:CLAVE@[::1/nada", "1"), 1,
         "No se puede conectar con la base de datos postgresql://u:\\*\\*\\*@\\["},
        {args("--una-vez postgresql:///nada?host=/nonexistent&password=CLAVE", "1"), 1,
         "nonexistent&password=\\*\\*\\*: "},
        // Key and value words are an address too, never a folder.
        {QStringList{QStringLiteral("--una-vez"),
                     QStringLiteral("host=/nonexistent password=CLAVE dbname=nada"),
                     t.file(QStringLiteral("1"))},
         1,
         "^Archivo de la estación .*1\\.\\nNo se puede conectar con la base de datos "
         "host=/nonexistent password=\\*\\*\\* dbname=nada: "},
        {args("--una-vez", "9"), 0, "No existe la carpeta de capturas"}, // reported, not fatal
        {args("--una-vez", "1"), 0,
         "09-10-2025-00.log: 1 línea descartada[\\s\\S]*08-11-2026-00.log: 1 "
         "[\\s\\S]*07-12-2026-00.log: 1 "},
        {args("--una-vez", "2") << t.file(QStringLiteral("3")) << t.file(QStringLiteral("4")), 3,
         "2.07-12-2026-00.log, línea 1: la base de datos no acepta esta cabecera \\(un nombre de "
         "columna tiene un byte nulo\\); se saltan"
         "[\\s\\S]*4.07-12-2026-00.log, línea 3: la base de datos no la acepta "
         "\\(.*razonable.*\\); se salta"},
        {args("--una-vez", "5"), 0,
         "5.07-12-2026-00.log, línea 3: se salta \\(tiene un byte nulo\\)\\.\\n.*línea 4: se salta "
         "\\(ni cabecera ni lecturas de las columnas de su "
         "cabecera\\)\\.\\n.*línea 5: se salta .*\\n.*línea 6: se salta \\(la fecha u hora "
         "31-02-2026 10:00:04 no existe\\)\\.\\n.*línea 7: "
         "se salta \\(la fecha u hora 07-12-2026 24:00:00 no existe\\)\\.\\n.*línea 8: se salta "
         ".*\\n.*: 6 líneas descartadas"},
        {args("--una-vez", "6"), 3,
         "6.07-12-2026-00.log tiene finales de línea de un solo CR, sin LF: no se archiva\\."},
    };
    for (const auto &[args, code, says] : rows) {
        if (args.contains(t.file(QStringLiteral("4"))))
            db.rows("ALTER TABLE climalog.bloque ADD CONSTRAINT razonable CHECK (64 * 500 > ALL "
                    "(valores))");
        const auto [exit, said] = runArchive(args);
        EXPECT_EQ(exit, code) << says;
        EXPECT_TRUE(said.contains(QRegularExpression(QString::fromUtf8(says))))
            << said.toStdString();
        EXPECT_FALSE(said.contains(QStringLiteral("CLAVE"))) << said.toStdString();
    }
    EXPECT_EQ(db.rows("SELECT puerto, valor FROM climalog.lectura WHERE puerto BETWEEN '2' AND '4' "
                      "ORDER BY puerto, hora"),
              "3|3\n4|1\n4|2\n");
    EXPECT_EQ(db.rows("SELECT puerto, to_char(hora, 'SS'), count(*) FROM climalog.lectura WHERE "
                      "puerto > '4' GROUP BY 1, 2 ORDER BY 1, 2"),
              "5|00|2\n5|07|2\n");
}

// A station's role adds its own readings and moves its own progress, and
// nothing else, however it calls what it may call: the program run as the
// role archives; a station the owner did not give it, another station's
// rows, a port too many, a direct write, and every function the schema's
// owner runs for it, attacked with objects of the station's own session
// named like what those functions read and call, are refused or harmless.
// The read role may read and nothing more.
TEST(Archive, StationRoleOnlyAddsItsOwnReadings)
{
    Prepared db;
    db.rows("DROP ROLE IF EXISTS ataque_hecho; DO $$ BEGIN CREATE ROLE rol_norte LOGIN IN ROLE "
            "climalog_estacion; CREATE ROLE rol_sur LOGIN IN ROLE climalog_estacion; CREATE ROLE "
            "rol_lector LOGIN IN ROLE climalog_lectura; EXCEPTION WHEN duplicate_object THEN "
            "NULL; END $$");
    EXPECT_EQ(db.rows("INSERT INTO climalog.estacion (nombre, rol) VALUES ('norte', 'rol_norte')"),
              "");
    const TempFolder &t = db.t;
    for (const char *port : {"1", "2"}) {
        QDir().mkpath(t.file(QString::fromLatin1(port)));
        t.write(
            QStringLiteral("%1/07-12-2026-00.log").arg(QLatin1String(port)),
            w1252("Hora  Sala (ºC)\r\n07-12-2026 10:00:00  21,5\r\n07-12-2026 10:01:00  22\r\n"));
    }
    const QString folder = t.file(QStringLiteral("1"));
    EXPECT_EQ(runArchive(words("--una-vez --estacion norte --zona UTC") << folder,
                         QStringLiteral("rol_norte"))
                  .first,
              0);
    // Another station, archived by the owner: what an attack would erase.
    EXPECT_EQ(
        runArchive(words("--una-vez --estacion sur --zona UTC") << t.file(QStringLiteral("2")))
            .first,
        0);
    const std::pair<const char *, const char *> starts[] = {
        // station, role, what it says
        {"norte", "La estación norte es de otro rol de la base de datos, no de rol_sur"},
        {"libre", "La estación libre no está dada de alta para el rol rol_sur"},
    };
    for (const auto &[station, says] : starts) {
        const auto [code, said] =
            runArchive(words("--una-vez --estacion") << QString::fromLatin1(station) << folder,
                       QStringLiteral("rol_sur"));
        EXPECT_TRUE(code == 1 && said.contains(QString::fromUtf8(says)))
            << code << said.toStdString();
    }
    const std::string stored = db.rows("SELECT * FROM climalog.lectura ORDER BY 1, 2, 5"),
                      stations = db.rows("SELECT * FROM climalog.estacion ORDER BY 1");
    // The id of a station's row of a table (its port's, file's or header's).
    const auto id = [&](const std::string &table, const char *station) {
        const bool port = table == "puerto";
        return db.value("SELECT x.id FROM climalog." + table + " x" +
                        (port ? "" : " JOIN climalog.puerto p ON p.id = x.puerto") +
                        " JOIN climalog.estacion e ON e.id = " + (port ? "x" : "p") +
                        ".estacion WHERE e.nombre = '" + station + "'");
    };
    const std::string norte = db.value("SELECT id FROM climalog.estacion WHERE nombre = 'norte'"),
                      sur = db.value("SELECT id FROM climalog.estacion WHERE nombre = 'sur'"),
                      surPort = id("puerto", "sur"), surFile = id("fichero", "sur"),
                      header = id("juego", "norte"), surHeader = id("juego", "sur");
    const std::string own = "(SELECT g.* FROM climalog.progreso_de(" + norte + ") g) g";
    // The station's session first defines, in its own schema pg_temp, what
    // an owner's function might read or call by name: a view that runs the
    // station's code, tables of the schema's table names, functions of the
    // names the functions call.
    PGconn *station = PQconnectdb("user=rol_norte");
    const char *trap =
        "CREATE FUNCTION pg_temp.mal() RETURNS SETOF record LANGUAGE plpgsql AS $f$ BEGIN "
        "IF NOT EXISTS (SELECT 1 FROM pg_roles WHERE rolname = 'ataque_hecho') THEN CREATE ROLE "
        "ataque_hecho; END IF; "
        "DELETE FROM climalog.linea; RETURN; END $f$; "
        "CREATE TEMP VIEW entrada AS SELECT now() AS hora, 1 AS juego, 1::bigint AS linea, "
        "'{1}'::integer[] AS valores, "
        "NULL::float8[] AS exactos FROM pg_temp.mal() AS m(x integer); "
        "CREATE TEMP VIEW entrada_resumen AS SELECT * FROM pg_temp.mal() AS m(juego integer, "
        "periodo integer, inicio timestamptz, "
        "lineas integer, n smallint[], minimo float8[], maximo float8[], suma float8[]); "
        "CREATE TEMP VIEW linea AS SELECT * FROM pg_temp.mal() AS m(x integer); "
        "CREATE TEMP VIEW juego AS SELECT * FROM pg_temp.mal() AS m(x integer); "
        "CREATE TEMP VIEW estacion AS SELECT * FROM pg_temp.mal() AS m(x integer); "
        "CREATE TEMP VIEW pg_timezone_names AS SELECT * FROM pg_temp.mal() AS m(name text); "
        "CREATE FUNCTION pg_temp.valor_de(integer) RETURNS double precision LANGUAGE sql AS "
        "$f$ SELECT 1.0::double precision FROM pg_temp.mal() AS m(x integer) $f$; "
        "CREATE FUNCTION pg_temp.unnest(anyarray) RETURNS SETOF anyelement LANGUAGE sql AS $f$ "
        "SELECT $1[1] FROM pg_temp.mal() AS m(x integer) $f$; "
        "CREATE FUNCTION pg_temp.pg_has_role(name, oid, text) RETURNS boolean LANGUAGE sql AS $f$ "
        "SELECT true $f$; "
        "SET search_path = pg_temp, climalog, pg_catalog";
    ASSERT_EQ(rowsOn(station, trap), "");
    const std::string line =
        "ARRAY[ROW('2026-12-07 10:02:00+00', " + header + ", 9, '{96}', NULL)::climalog.entrada]";
    // Finished rows of its own: the lines 1 and 20 at `seconds` of `minute`
    // (numbered from 10), with figures whose maximum is `max`, and an hour's
    // figures of `lines` lines and maximum `max`.
    const std::string arrhenius = "ARRAY[exp(-10000 / 274.15) + exp(-10000 / 293.15)]";
    const auto row = [&](const std::string &minute, const std::string &juego,
                         const std::string &seconds, const std::string &max) {
        return "ROW('2026-12-" + minute + "+00', " + juego + ", 10, '" + seconds +
            "', '{96,161}', NULL, '{2}', '{1}', '{" + max + "}', '{21}', '{401}', " + arrhenius +
            ")";
    };
    const auto hour = [&](const std::string &minute, const std::string &juego,
                          const std::string &lines, const std::string &max) {
        return "ROW(" + juego + ", date_trunc('hour', '2026-12-" + minute + "+00'::timestamptz), " +
            lines + ", '{2}', '{1}', '{" + max + "}', '{21}', '{401}', " + arrhenius + ")";
    };
    const auto store = [&](const std::string &rows, const std::string &hours) {
        return "SELECT climalog.guardar_filas(g.id, g.posicion, g.huella, g.posicion, g.lineas, "
               "g.huella, g.muestra, g.cabecera, g.estado, 0, ARRAY[" +
            rows + "]::climalog.fila[], " + (hours.empty() ? "'{}'" : "ARRAY[" + hours + "]") +
            "::climalog.cifras[]) FROM " + own;
    };
    const auto rowsOf = [&](const std::string &minute, const std::string &juego,
                            const std::string &seconds, const std::string &max,
                            const std::string &lines) {
        return store(row(minute, juego, seconds, max),
                     lines.empty() ? "" : hour(minute, juego, lines, "20"));
    };
    const std::vector<std::pair<std::string, std::string>> calls = {
        // as rol_norte, in order; the answer
        {"SELECT climalog.alta_estacion('norte', 'UTC') > 0", "t\n"},
        {"SELECT climalog.alta_estacion('norte', 'Marte/Olimpo')", "!22023"},
        {"SELECT climalog.alta_estacion('norte', NULL)", "!22023"},
        {"SELECT climalog.alta_estacion('libre', 'UTC')", "!42501"},
        {"SELECT climalog.alta_puerto(" + norte + ", '1') > 0", "t\n"},
        {"SELECT climalog.alta_puerto(" + sur + ", '9')", "!42501"},
        {"SELECT climalog.alta_puerto(" + norte + ", 'a/b')", "!22023"},
        // Sixteen ports a station, the one it has among them.
        {"SELECT count(climalog.alta_puerto(" + norte +
             ", 'p' || i)) FROM generate_series(1, 15) i",
         "15\n"},
        {"SELECT climalog.alta_puerto(" + norte + ", 'p16')", "!54000"},
        {"SELECT climalog.alta_fichero(climalog.alta_puerto(" + norte +
             ", '1'), '08-12-2026-00.log') > 0",
         "t\n"},
        {"SELECT climalog.alta_fichero(" + surPort + ", '08-12-2026-00.log')", "!42501"},
        {"SELECT * FROM climalog.progreso_de(" + sur + ")", ""},
        {"SELECT count(*) FROM climalog.progreso_de(" + norte + ")", "1\n"},
        // Its own line of a second more: stored, and its minute worked out by the server.
        {"SELECT cambiadas, borradas FROM " + own +
             ", climalog.guardar(g.id, g.posicion, g.huella, g.posicion, g.posicion, g.lineas, "
             "g.huella, "
             "g.muestra, g.cabecera, g.estado, 0, false, false, " +
             line + ")",
         "0|0\n"},
        // Rows whose figures are not their lines', an hour not theirs, no
        // hour, seconds falling, another station's header, another day, a
        // second stored already.
        {rowsOf("07 10:02:00", header, "{30,31}", "99", "2"), "!22023"},
        {rowsOf("07 10:02:00", header, "{30,31}", "20", "3"), "!22023"},
        {rowsOf("07 10:02:00", header, "{30,31}", "20", ""), "!22023"},
        {rowsOf("07 10:02:00", header, "{31,30}", "20", "2"), "!22023"},
        {rowsOf("07 10:02:00", surHeader, "{30,31}", "20", "2"), "!22023"},
        {rowsOf("09 10:02:00", header, "{30,31}", "20", "2"), "!22023"},
        {rowsOf("07 10:02:00", header, "{0,31}", "20", "2"), "!23505"},
        // Its own, into the minute stored.
        {rowsOf("07 10:02:00", header, "{30,31}", "20", "2"), "\n"},
        // Rows of two hours whose second hour's figures are not its rows'.
        {store(row("07 10:03:00", header, "{30,31}", "20") + ", " +
                   row("07 11:03:00", header, "{30,31}", "20"),
               hour("07 10:03:00", header, "2", "20") + ", " +
                   hour("07 11:03:00", header, "2", "2199")),
         "!22023"},
        // Another station's file.
        {"SELECT * FROM climalog.guardar(" + surFile +
             ", 0, NULL, 0, 0, 0, 0, 0, -1, NULL, 0, false, false, '{}')",
         "!42501"},
        {"SELECT climalog.guardar_configuracion(p.id, 0, '{}', '{}', '{}', '{}', '{}', '{}', '{}', "
         "'{}', '{}', '{}') FROM "
         "(SELECT climalog.alta_puerto(" +
             norte + ", '1') AS id) p",
         "t\n"},
        {"SELECT climalog.guardar_configuracion(" + surPort +
             ", 1, '{}', '{}', '{}', '{}', '{}', '{}', '{}', '{}', '{}', '{}')",
         "!42501"},
        {"DELETE FROM climalog.linea", "!42501"},
        {"INSERT INTO climalog.linea SELECT * FROM climalog.linea", "!42501"},
        {"INSERT INTO climalog.minuto VALUES (1, 1, '2199-01-01', '{1}', '{1}', '{1}', '{1}')",
         "!42501"},
        {"INSERT INTO climalog.estacion (nombre, rol) VALUES ('libre', 'rol_norte')", "!42501"},
        {"UPDATE climalog.progreso SET posicion = 0", "!42501"},
        {"SELECT * FROM climalog.resumen", "!42501"},
        {"SELECT climalog.crear_meses('2030-01-01', '2030-02-01')", "!42501"},
    };
    for (const auto &[sql, answer] : calls)
        EXPECT_EQ(rowsOn(station, sql), answer) << sql;
    PQfinish(station);
    // The read role: the read interface, the same with its own traps.
    PGconn *reader = PQconnectdb("user=rol_lector");
    ASSERT_EQ(rowsOn(reader, trap), "");
    const std::vector<std::pair<std::string, std::string>> reads = {
        {"SELECT count(*) FROM climalog.tramo(ARRAY(SELECT serie FROM climalog.resumen), "
         "'2026-12-07', '2026-12-08', 10)",
         "7\n"},
        {"SELECT count(*) FROM climalog.lecturas(ARRAY(SELECT serie FROM climalog.resumen), "
         "'2026-12-07', '2026-12-08')",
         "7\n"},
        // The station's functions, granted together: the one that stores, and
        // one that would answer (with nothing) were it granted.
        {"SELECT * FROM climalog.guardar(1, 0, NULL, 0, 0, 0, 0, 0, -1, NULL, 0, false, false, "
         "'{}')",
         "!42501"},
        {"SELECT * FROM climalog.progreso_de(" + norte + ")", "!42501"},
        {"INSERT INTO climalog.linea SELECT * FROM climalog.linea", "!42501"},
    };
    for (const auto &[sql, answer] : reads)
        EXPECT_EQ(rowsOn(reader, sql), answer) << sql;
    PQfinish(reader);
    EXPECT_EQ(db.rows("SELECT count(*) FROM pg_roles WHERE rolname = 'ataque_hecho'"), "0\n");
    EXPECT_EQ(db.rows("SELECT * FROM climalog.lectura WHERE hora < '2026-12-07 10:02:00+00' ORDER "
                      "BY 1, 2, 5"),
              stored);
    EXPECT_EQ(db.rows("SELECT estacion, valor FROM climalog.lectura WHERE hora >= '2026-12-07 "
                      "10:02:00+00' ORDER BY hora"),
              "norte|1\nnorte|1\nnorte|20\n");
    EXPECT_EQ(db.rows("SELECT * FROM climalog.estacion ORDER BY 1"), stations);
    EXPECT_EQ(rollupsAgainstLines(db), "minuto|0\nhora|0\n");
}

// A narrow table of the first design becomes the new schema on the first
// set-up: every distinct reading once (its duplicate rows once), and the
// file it came from archived on without doubling a line.
TEST(Archive, FirstDesignTableMigratesWithoutLossOrDoubling)
{
    TestDatabase db;
    db.rows("CREATE SCHEMA climalog; CREATE TABLE climalog.lectura (estacion text NOT NULL, puerto "
            "text NOT NULL, fichero text NOT NULL, "
            "columna text NOT NULL, hora timestamptz NOT NULL, valor double precision) PARTITION "
            "BY RANGE (hora); "
            "CREATE TABLE climalog.lectura_20261207 PARTITION OF climalog.lectura FOR VALUES FROM "
            "('2026-12-07 00:00+00') TO ('2026-12-08 00:00+00'); "
            "CREATE TABLE climalog.progreso (estacion text, puerto text, fichero text, posicion "
            "bigint, por_clave_hasta bigint, "
            "actualizado timestamptz, PRIMARY KEY (estacion, puerto, fichero));");
    TempFolder t;
    QDir().mkpath(t.file(QStringLiteral("1")));
    const QByteArray h = w1252("Hora  Sala (ºC)  Puerta - 1\r\n"),
                     l0 = "07-12-2026 10:00:00  21,5  1\r\n",
                     l1 = "07-12-2026 10:00:01  ERR  0\r\n";
    t.write(QStringLiteral("1/07-12-2026-00.log"), h + l0 + l1);
    const std::string local =
        "SET TIME ZONE '" + QTimeZone::systemTimeZoneId().toStdString() + "'; ";
    db.rows(local +
            "INSERT INTO climalog.lectura VALUES ('norte', '1', '07-12-2026-00.log', 'Sala (ºC)', "
            "'2026-12-07 10:00:00', 21.5), "
            "('norte', '1', '07-12-2026-00.log', 'Puerta - 1', '2026-12-07 10:00:00', 1), "
            "('norte', '1', '07-12-2026-00.log', 'Puerta - 1', '2026-12-07 10:00:00', 1), "
            "('norte', '1', '07-12-2026-00.log', 'Sala (ºC)', '2026-12-07 10:00:01', NULL), "
            "('norte', '1', '07-12-2026-00.log', 'Puerta - 1', '2026-12-07 10:00:01', 0), "
            "('norte', '1', '07-12-2026-00.log', 'Sala (ºC)', '2026-12-07 10:00:02', 0.1), "
            "('norte', '1', '07-12-2026-00.log', 'Caudal - b (l/min)', '2026-12-07 10:00:02', "
            "1e30), "
            "('norte', '1', '07-12-2026-00.log', 'Humedad (%)', '2026-12-07 10:01:00', 40), "
            "('norte', '1', '07-12-2026-01.log', 'Sala (ºC)', '2026-12-07 10:00:00', 30); "
            "INSERT INTO climalog.progreso VALUES ('norte', '1', '07-12-2026-00.log', " +
            std::to_string(h.size() + l0.size()) +
            ", 0, now()), ('norte', '1', 'otro.log', 10, 20, now())");
    const auto [code, said] = runArchive({QStringLiteral("--preparar")});
    EXPECT_TRUE(code == 0 && said.contains(QStringLiteral("climalog.lectura_anterior")))
        << said.toStdString();
    // Each column's unit, device and class read from its text.
    EXPECT_EQ(db.rows("SELECT columna, coalesce(unidad, 'NULL'), dispositivo, clase FROM "
                      "climalog.serie ORDER BY columna COLLATE \"C\""),
              "Caudal - b (l/min)|l/min|Caudal|b\nHumedad (%)|%|Humedad|H\nPuerta - "
              "1|NULL|Puerta|1\nSala (ºC)|ºC|Sala|T\n");
    // The progress read again by key up to where it was; a name of no day.
    const std::string at = std::to_string(h.size() + l0.size());
    EXPECT_EQ(db.rows("SELECT f.nombre, f.dia, p.posicion, p.por_clave_hasta, p.lineas, "
                      "p.cabecera, p.huella IS NULL FROM climalog.progreso p JOIN "
                      "climalog.fichero f ON f.id = p.fichero ORDER BY 1"),
              "07-12-2026-00.log|2026-12-07|" + at + "|" + at +
                  "|0|-1|t\notro.log|2000-01-01|10|20|0|-1|t\n");
    EXPECT_EQ(db.rows("SELECT count(*) FROM climalog.lectura_anterior"), "9\n");
    EXPECT_EQ(db.rows("SELECT to_char(hora, 'MI:SS') FROM climalog.ultima ORDER BY hora"),
              "00:00\n00:01\n00:02\n01:00\n");
    EXPECT_EQ(rollupsAgainstLines(db), "minuto|0\nhora|0\n");
    const char *sql = "SELECT to_char(hora, 'MI:SS'), columna, valor FROM climalog.lectura ORDER "
                      "BY hora, columna COLLATE \"C\"";
    const std::string rest = "00:02|Caudal - b (l/min)|1e+30\n00:02|Sala (ºC)|0.1\n01:00|Humedad "
                             "(%)|40\n";
    // A second held by two files: the later file's line, whole.
    EXPECT_EQ(db.rows(sql), "00:00|Sala (ºC)|30\n00:01|Puerta - 1|0\n00:01|Sala (ºC)|ERR\n" + rest);
    const std::string migrated =
        "00:00|Puerta - 1|1\n00:00|Sala (ºC)|21.5\n00:01|Puerta - 1|0\n00:01|Sala (ºC)|ERR\n" +
        rest;
    EXPECT_EQ(runArchive(words("--una-vez --estacion norte") << t.file(QStringLiteral("1"))).first,
              0);
    EXPECT_EQ(db.rows(sql), migrated);
}

// A port's configuration beside its capture folder gives each column its
// device, its limits and whether the monitor watches it (a sensor linked to
// either output of a relay included, and both columns of a humidity sensor);
// a changed configuration shows at the next look, also when the program
// follows and the file keeps its size, as the monitor's files do.
TEST(Archive, ConfigurationReachesTheSummary)
{
    Prepared db;
    const TempFolder &t = db.t;
    t.write(QStringLiteral("1/07-12-2026-00.log"),
            w1252("Hora  Sala (ºC)  Bomba - a (bar)  Bomba - d ()  Puerta - 1  Puerta - 2  "
                  "Aire (ºC)  Aire (%)\r\n07-12-2026 10:00:00  21,5  1  4  1  0  19  55\r\n"));
    const auto config = [&](float min, float max, int action) {
        // Sala linked to the relay Puerta's output `action` when it is 2.
        Rec sala =
            Rec::device("Sala", STT).real(34, min).real(38, max).num(130, action).num(138, 5);
        if (action == 2)
            sala.raw(98, QByteArray::fromHex("0102030405060708"));
        t.write(QStringLiteral("config1.ini"),
                Rec().text(0, 16, "00").b + sala.b +
                    Rec::device("Bomba", AVI).real(34, 1).real(38, 2).num(130, 1).num(138, 60).b +
                    Rec::device("Puerta", DET, "0102030405060708").b +
                    Rec::device("Aire", HRT).real(34, 10).real(38, min).num(130, 1).num(138, 2).b);
    };
    const char *sql = "SELECT columna, orden, dispositivo, tipo, alarma_min, alarma_max, vigilada, "
                      "periodo FROM climalog.resumen ORDER BY orden";
    config(18, 22, 1);
    EXPECT_EQ(runArchive(words("--una-vez") << db.port()).first, 0);
    EXPECT_EQ(db.rows(sql),
              "Sala (ºC)|1|Sala|STT|18|22|t|5\nBomba - a (bar)|2|Bomba|AVI|1|2|t|60\n"
              "Bomba - d ()|3|Bomba|AVI|ERR|ERR|f|60\nPuerta - 1|4|Puerta|DET|ERR|ERR|t|0\n"
              "Puerta - 2|5|Puerta|DET|ERR|ERR|t|0\nAire (ºC)|6|Aire|HRT|10|18|t|2\n"
              "Aire (%)|7|Aire|HRT|ERR|ERR|f|2\n");
    const char *sala = "SELECT dispositivo, alarma_min, alarma_max, vigilada, valor FROM "
                       "climalog.resumen WHERE orden = 1";
    config(-5.5, 30, 0);
    EXPECT_EQ(runArchive(words("--una-vez") << db.port()).first, 0);
    EXPECT_EQ(db.rows(sala), "Sala|-5.5|30|f|21.5\n");
    // Followed: the monitor rewrites the file at its size.
    QProcess follower;
    start(follower, QStringList{db.port()});
    for (const auto &[min, max, action, want] :
         {std::tuple{-6.5f, 31.0f, 2, "Sala|-6.5|31|t|21.5\n"},
          std::tuple{-7.5f, 32.0f, 0, "Sala|-7.5|32|f|21.5\n"}}) {
        config(min, max, action);
        waitUntil([&] { return db.rows(sala) == want; });
        EXPECT_EQ(db.rows(sala), want);
    }
    stop(follower);
}

// The read interface answers from what was archived, value by value: a
// series' readings and its buckets (whole hours and minutes of the rollups,
// the lines themselves at the edges) against the same figures worked out
// here from the lines written, across two files whose headers order the
// columns differently.
TEST(Archive, ReadInterfaceAnswersFromTheLines)
{
    Prepared db;
    const TempFolder &t = db.t;
    std::vector<std::pair<int, double>> a; // second of the day and value of column A, NaN for ERR
    QByteArray first = w1252("Hora  A (ºC)  B (ºC)\r\n"),
               second = w1252("Hora  B (ºC)  A (ºC)\r\n");
    for (int s = 10 * 3600; s < 14 * 3600; ++s) {
        const double v = s % 13 ? (s * 7 % 101) / 4.0 : std::nan("");
        a.emplace_back(s, v);
        const QByteArray text = std::isnan(v) ? QByteArray("ERR")
                                              : QByteArray::number(v).replace('.', ','),
                         hora =
                             QTime(0, 0).addSecs(s).toString(QStringLiteral("HH:mm:ss")).toLatin1();
        (s < 12 * 3600 ? first : second) += "07-12-2026 " + hora +
            (s < 12 * 3600 ? "  " + text + "  1\r\n" : "  1  " + text + "\r\n");
    }
    t.write(QStringLiteral("1/07-12-2026-00.log"), first);
    t.write(QStringLiteral("1/07-12-2026-01.log"), second);
    QDir().mkpath(t.file(QStringLiteral("2")));
    t.write(QStringLiteral("2/07-12-2026-00.log"), first);
    EXPECT_EQ(runArchive(words("--una-vez --zona UTC") << db.port() << db.port("2")).first, 0);
    const std::string
        serie = db.value(
            "SELECT serie FROM climalog.resumen WHERE columna = 'A (ºC)' AND puerto = '1'"),
        other = db.value(
            "SELECT serie FROM climalog.resumen WHERE columna = 'A (ºC)' AND puerto = '2'");
    const auto number = shortest;
    // Seconds of the day: from, to, buckets.
    const std::tuple<int, int, int> rows[] = {
        {10 * 3600 + 1025, 13 * 3600 + 2555, 5}, // edges within hours and minutes
        {-85000, 86000, 3}, // whole hours in one bucket, empty ones left out
        {10 * 3600, 14 * 3600, 200}, // buckets of 72 s
        {11 * 3600 + 3500, 11 * 3600 + 3700, 200}, // of a second, across an hour
        {11 * 3600, 14 * 3600, 3}}; // of an hour, the range's last one too
    for (const auto &[from, to, buckets] : rows) {
        std::map<int, std::tuple<double, double, int, int>> expected; // min, max, readings, lines
        for (const auto &[s, v] : a) {
            if (s < from || s >= to)
                continue;
            auto &[lo, hi, readings, lines] =
                expected.try_emplace((s - from) / ((to - from) / buckets), NAN, NAN, 0, 0)
                    .first->second;
            ++lines;
            if (!std::isnan(v)) {
                lo = std::isnan(lo) ? v : std::min(lo, v);
                hi = std::isnan(hi) ? v : std::max(hi, v);
                ++readings;
            }
        }
        std::string want;
        for (const auto &[b, m] : expected)
            want += QDateTime(QDate(2026, 12, 7), QTime(0, 0), QTimeZone::utc())
                        .addSecs(from + b * ((to - from) / buckets))
                        .toString(QStringLiteral("dd HH:mm:ss"))
                        .toStdString() +
                "|" + number(std::get<0>(m)) + "|" + number(std::get<1>(m)) + "|" +
                std::to_string(std::get<2>(m)) + "\n";
        const std::string range = "'2026-12-07 00:00+00'::timestamptz + interval '" +
            std::to_string(from) + " s', '2026-12-07 00:00+00'::timestamptz + interval '" +
            std::to_string(to) + " s'";
        EXPECT_EQ(db.rows("SELECT to_char(hora AT TIME ZONE 'UTC', 'DD HH24:MI:SS'), minimo, "
                          "maximo, lecturas FROM climalog.tramo(ARRAY[" +
                          serie + "], " + range + ", " + std::to_string(buckets) + ")"),
                  want)
            << from << ".." << to << "/" << buckets;
    }
    double sum = 0;
    int readings = 0;
    for (const auto &[s, v] : a)
        if (s >= 12 * 3600 && s < 13 * 3600 && !std::isnan(v))
            sum += v, ++readings;
    EXPECT_EQ(db.rows("SELECT media, lecturas FROM climalog.media_horaria WHERE columna = 'A (ºC)' "
                      "AND puerto = '1' AND hora = '2026-12-07 12:00+00'"),
              number(sum / readings) + "|" + std::to_string(readings) + "\n");
    // Two ports' series, as a two-station export asks, across port 1's change
    // of file (port 2's lines end there): the range's end is not in it.
    std::string want;
    for (int i = 7198; i < 7202; ++i)
        for (const char *second : {"f", "t"})
            if (i < 7200 || *second == 'f')
                want += QTime(10, 0).addSecs(i).toString(u"HH:mm:ss").toStdString() + "|" + second +
                    "|" + number(a[i].second) + "\n";
    EXPECT_EQ(db.rows("SELECT to_char(hora AT TIME ZONE 'UTC', 'HH24:MI:SS'), serie = " + other +
                      ", valor FROM climalog.lecturas(ARRAY[" + serie + ", " + other +
                      "], '2026-12-07 11:59:58+00', '2026-12-07 12:00:02+00') ORDER BY 1, 2"),
              want);
}

// A day's capture: most of it archived in one run; then
// followed while the server stops and starts again, and while the file is
// replaced by one of the same size with other names; the rest written while
// the program archives it in small batches and is killed with SIGKILL at
// random moments. After every kill the database holds exactly the lines
// before the stored progress; at the end it equals the file value by value,
// each reading once, also after one run more.
TEST(Archive, ADayArchivedThroughARestartAndKillsValueByValue)
{
    Prepared db;
    const TempFolder &t = db.t;
    Station st(t.path());
    const QString file = st.folder + st.name;
    std::vector<qint64> ends{0}; // where each line ends, the header's first
    int second = 86400 - 10000;
    const auto write = [&](int count) {
        for (const int end = second + count; second < end; ++second) {
            append(file,
                   st.line(QDateTime(QDate(2026, 12, 7), QTime(0, 0)).addSecs(second),
                           ends.size() == 1));
            ends.push_back(QFileInfo(file).size());
        }
    };
    const QStringList args =
        words("--una-vez --lote 100 --estacion norte postgresql://climalog:CLAVE@/postgres")
        << st.folder;
    write(6000);
    const auto [code, said] = runArchive(args);
    EXPECT_TRUE(code == 0 &&
                said.contains(QStringLiteral("Al día: 1 fichero, 6.000 líneas, 6.000")))
        << code << said.toStdString();

    QProcess follower;
    start(follower,
          words("--lote 100 --estacion norte")
              << st.folder << QStringLiteral("postgresql://climalog:CLAVE@/postgres"));
    const auto waitFor = [&](const char *sql, const std::string &expected) {
        waitUntil([&] { return db.rows(sql) == expected; });
        return db.rows(sql);
    };
    const auto waitForAll = [&] {
        waitFor("SELECT count(*) FROM climalog.linea", std::to_string(ends.size() - 1) + "\n");
    };
    write(5);
    waitForAll();
    QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(follower.processId()));
    EXPECT_TRUE(cmdline.open(QIODevice::ReadOnly) && !cmdline.readAll().contains("CLAVE"));
    ASSERT_EQ(db.server({QStringLiteral("stop")}), 0);
    write(5);
    ASSERT_EQ(db.server({QStringLiteral("start")}), 0);
    db.connect();
    write(5);
    waitForAll();
    // Replaced while followed: the same bytes but "Hall" for "Sala" and other values.
    QByteArray other = t.read(st.folder.mid(t.path().size() + 1) + st.name)
                           .replace("Sala", "Hall")
                           .replace("  ERR\r\n", "  9,9\r\n");
    QFile::remove(file);
    t.write(st.folder.mid(t.path().size() + 1) + st.name, other);
    const std::string hall =
        std::to_string(std::count(other.begin(), other.end(), '\n') - 1) + "\n";
    EXPECT_EQ(waitFor("SELECT count(*) FROM climalog.lectura WHERE columna = 'Hall (ºC)'", hall),
              hall);
    EXPECT_EQ(
        db.rows(
            "SELECT count(*) FROM climalog.lectura WHERE columna = 'Sala (ºC)' OR valor IS NULL"),
        "0\n");
    const QByteArray followed = stop(follower);
    // Said as "ha cambiado" when the replacement comes while the file is
    // followed, as "no es el que se archivó" when it comes while the file is
    // looked at anew after the reconnection: both read it again.
    EXPECT_TRUE(followed.contains("Conectado de nuevo con la base de datos.") &&
                followed.contains("se lee de nuevo desde el principio"))
        << followed.toStdString();

    // Written anew, as the test's station writes it, for the kills.
    QFile::remove(file);
    ends = {0};
    second = 86400 - 10000;
    st.expected.clear();
    write(6015);
    EXPECT_EQ(runArchive(args).first, 0);
    std::mt19937 rng(17);
    for (int kill = 0; kill < 50; ++kill) {
        write(60);
        QProcess p;
        start(p, args, true); // then every moment falls in some batch
        QThread::usleep(rng() % 10000);
        stop(p);
        // Progress and readings in one statement, one snapshot: the killed
        // program's last batch may still be committing.
        const std::string r = db.rows("SELECT (SELECT max(posicion) FROM climalog.progreso), "
                                      "count(DISTINCT hora), count(*) FROM climalog.linea");
        const std::size_t lines = std::stoul(r.substr(r.find('|') + 1));
        ASSERT_LT(lines, ends.size());
        EXPECT_EQ(r,
                  std::to_string(ends[lines]) + "|" + std::to_string(lines) + "|" +
                      std::to_string(lines) + "\n")
            << "kill " << kill;
    }
    for (int run = 0; run < 2; ++run) {
        EXPECT_EQ(runArchive(args).first, 0);
        EXPECT_EQ(db.rows("SELECT fichero, columna, to_char(hora, 'DD-MM-YYYY HH24:MI:SS'), valor "
                          "FROM climalog.lectura ORDER BY hora"),
                  st.expected);
        EXPECT_EQ(db.rows("SELECT e.nombre, p.nombre, f.nombre, g.posicion FROM climalog.progreso "
                          "g JOIN climalog.fichero f ON f.id = g.fichero "
                          "JOIN climalog.puerto p ON p.id = f.puerto JOIN climalog.estacion e ON "
                          "e.id = p.estacion"),
                  "norte|1|" + st.name.toStdString() + "|" + std::to_string(ends.back()) + "\n");
    }
}

// The server stops at once (as in a crash) in the middle of a catch-up,
// while the program waits for a lock with a batch on its way: the program
// waits for the server, goes on from the progress the database holds, and
// ends 0 with every line stored; one more run finds nothing to do.
TEST(Archive, ALostConnectionInACatchUpLeavesNoFileHalfArchived)
{
    Prepared db;
    const TempFolder &t = db.t;
    Station st(t.path());
    const QString older = st.folder + QStringLiteral("06-12-2026-00.log"),
                  file = st.folder + st.name;
    QByteArray day = st.line(QDateTime(QDate(2026, 12, 7), QTime(0, 0)), true);
    for (int s = 1; s < 20000; ++s)
        day += st.line(QDateTime(QDate(2026, 12, 7), QTime(0, 0)).addSecs(s), false);
    append(older, QByteArray(day).replace("07-12-2026", "06-12-2026"));
    append(file, day);
    const QStringList args = words("--una-vez --lote 200 --estacion norte") << st.folder;
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    waitUntil([&] { return db.rows("SELECT count(*) > 20000 FROM climalog.linea") == "t\n"; }, 20);
    // Its next batch waits behind this lock until the server goes.
    ASSERT_EQ(db.rows("BEGIN; LOCK TABLE climalog.progreso IN EXCLUSIVE MODE"), "");
    waitUntil(
        [&] {
            return db.rows("SELECT count(*) FROM pg_stat_activity WHERE application_name = "
                           "'climalog-archivo' AND wait_event_type = 'Lock'") == "1\n";
        },
        20);
    const std::string before = db.rows("SELECT count(*) < 40000 FROM climalog.linea");
    ASSERT_EQ(db.server({QStringLiteral("stop"), QStringLiteral("immediate")}), 0);
    ASSERT_EQ(db.server({QStringLiteral("start")}), 0);
    db.connect();
    EXPECT_TRUE(p.waitForFinished(120000));
    const QByteArray said = p.readAll();
    EXPECT_EQ(before, "t\n");
    EXPECT_EQ(p.exitCode(), 0) << said.toStdString();
    EXPECT_TRUE(said.contains("Conectado de nuevo") && said.contains("Al día: 2 ficheros"))
        << said.toStdString();
    EXPECT_EQ(db.rows("SELECT count(*), count(DISTINCT hora) FROM climalog.linea"),
              "40000|40000\n");
    EXPECT_EQ(db.rows("SELECT f.nombre, g.posicion FROM climalog.progreso g JOIN climalog.fichero "
                      "f ON f.id = g.fichero ORDER BY 1"),
              "06-12-2026-00.log|" + std::to_string(day.size()) + "\n07-12-2026-00.log|" +
                  std::to_string(day.size()) + "\n");
    const auto [code, again] = runArchive(args);
    EXPECT_TRUE(code == 0 && again.contains(QStringLiteral("Al día: 0 ficheros, 0 líneas")))
        << again.toStdString();
}

// Lines in the middle of a day's file changed with the same lengths, beyond
// the samples of its start, header and end, in place while the program was
// stopped or while it follows (an edit saved to a new inode changes the
// file's time as well: the same look anew at a start). The
// whole archived part is compared, the file read again, every changed
// reading counted and stored.
TEST(Archive, AnEditInTheMiddleIsFound)
{
    for (const auto &[name, followed] : {std::pair{"changed in place while stopped", false},
                                         {"changed in place while followed", true}}) {
        Prepared db;
        const QString file = db.port() + QStringLiteral("/07-12-2026-00.log");
        const auto text = [](bool edited) {
            QByteArray out = w1252("Hora  Sala (ºC)\r\n");
            for (int s = 0; s < 20000; ++s)
                out += "07-12-2026 " +
                    QTime(0, 0).addSecs(s).toString(QStringLiteral("HH:mm:ss")).toLatin1() + "  " +
                    QByteArray::number(edited && s >= 5000 && s <= 15000 ? 900 + s % 100
                                                                         : 100 + s % 800) +
                    "\r\n";
            return out;
        };
        append(file, text(false));
        const QStringList args = words("--una-vez --zona UTC") << db.port();
        EXPECT_EQ(runArchive(args).first, 0) << name;
        QProcess follower;
        if (followed)
            start(follower, args.mid(1), true);
        const QByteArray edited = text(true);
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::ReadWrite)) << name;
        const qsizetype from = edited.indexOf("07-12-2026 01:23:20"),
                        to = edited.indexOf("07-12-2026 04:10:01");
        f.seek(from);
        f.write(edited.mid(from, to - from));
        f.close();
        const char *sql =
            "SELECT count(*), count(*) FILTER (WHERE valor >= 900) FROM climalog.lectura";
        std::string said;
        if (followed) {
            waitUntil([&] { return db.rows(sql) == "20000|10001\n"; });
            said = stop(follower).toStdString();
        } else {
            const auto [code, text] = runArchive(args);
            EXPECT_EQ(code, 0) << name;
            said = text.toStdString();
        }
        EXPECT_EQ(db.rows(sql), "20000|10001\n") << name;
        EXPECT_NE(said.find("se lee de nuevo desde el principio"), std::string::npos)
            << name << ": " << said;
        EXPECT_NE(said.find("leído de nuevo: 10.001 lecturas cambiadas"), std::string::npos)
            << name << ": " << said;
        EXPECT_EQ(rollupsAgainstLines(db), "minuto|0\nhora|0\n") << name;
    }
}

// A header of 20 000 columns, each text twice (two series of one name):
// registered once, whatever the restarts, and every reading stored under
// its own series, the second of a name included.
TEST(Archive, AWideHeaderIsRegisteredOnce)
{
    Prepared db;
    const int columns = 20000;
    const auto line = [&](int second) {
        QByteArray out = "07-12-2026 10:00:0" + QByteArray::number(second);
        for (int k = 0; k < columns; ++k)
            out += "  " + QByteArray::number(k * 10 + second);
        return out + "\r\n";
    };
    QByteArray header = "Hora";
    for (int k = 0; k < columns; ++k)
        header += "  S" + QByteArray::number(k % (columns / 2)) + w1252(" (ºC)");
    const QString file = db.port() + QStringLiteral("/07-12-2026-00.log");
    append(file, header + "\r\n" + line(0));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("PGOPTIONS"), QStringLiteral("-c track_functions=all"));
    for (int second = 1; second <= 2; ++second) {
        QProcess p;
        p.setProcessEnvironment(env);
        p.start(program, words("--una-vez --zona UTC") << db.port());
        EXPECT_TRUE(p.waitForFinished(120000) && p.exitCode() == 0) << p.readAll().toStdString();
        append(file, line(second));
    }
    EXPECT_EQ(db.rows("SELECT calls FROM pg_stat_user_functions WHERE schemaname = 'climalog' AND "
                      "funcname = 'alta_juego'"),
              "1\n");
    EXPECT_EQ(db.rows("SELECT count(*), max(ocurrencia) FROM climalog.serie"), "20000|2\n");
    EXPECT_EQ(db.rows("SELECT count(*), sum(cardinality(valores)) FROM climalog.linea"),
              "2|40000\n");
    // The second "S4321 (ºC)" is column 14 322: its readings 143 210 and 143 211.
    EXPECT_EQ(db.rows("SELECT to_char(l.hora AT TIME ZONE 'UTC', 'SS'), climalog.valor(l.valores, "
                      "l.exactos, js.posicion) FROM climalog.serie s "
                      "JOIN climalog.juego_serie js ON js.serie = s.id JOIN climalog.linea l ON "
                      "l.juego = js.juego "
                      "WHERE s.columna = 'S4321 (ºC)' AND s.ocurrencia = 2 ORDER BY 1"),
              "00|143210\n01|143211\n");
    EXPECT_EQ(rollupsAgainstLines(db), "minuto|0\nhora|0\n");
}
