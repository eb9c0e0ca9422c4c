// The archive program end to end, against the private PostgreSQL server that
// ./test.sh starts (scripts/testdb.sh): a captured day read back value by
// value, ERR and detector columns, torn lines, repeated headers, bad and
// shrunk files, the command line, a file followed while the capture writer
// appends and the server restarts, the program killed at random moments.
#include "monitor/capture.h"
#include "registry/cp1252.h"
#include "registry/general.h"
#include "support/support.h"

#include <libpq-fe.h>

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QThread>
#include <QTimeZone>

#include <charconv>
#include <optional>
#include <random>

namespace {

std::string join(std::vector<std::string> rows, bool sorted)
{
    if (sorted)
        std::sort(rows.begin(), rows.end());
    std::string out;
    for (const std::string &row : rows)
        out += row + "\n";
    return out;
}

// A fresh database per test, named after it, in the tests' server.
struct TestDatabase {
    TestDatabase()
    {
        PGconn *admin = PQconnectdb("dbname=postgres");
        EXPECT_EQ(PQstatus(admin), CONNECTION_OK) << "The tests' PostgreSQL server (scripts/testdb.sh) does not answer; its log: "
                                                  << qgetenv("CLIMALOG_TEST_PG_DIR").toStdString() << "/server.log. " << PQerrorMessage(admin);
        PQclear(PQexec(admin, ("DROP DATABASE IF EXISTS " + name).constData()));
        PQclear(PQexec(admin, ("CREATE DATABASE " + name).constData()));
        PQfinish(admin);
        connect();
    }
    ~TestDatabase() { PQfinish(conn); }
    // Again after the server restarted. Times read back in the test's own
    // local time, as the capture texts hold them.
    void connect()
    {
        PQfinish(conn);
        conn = PQconnectdb(("dbname=" + name).constData());
        PQclear(PQexec(conn, ("SET TIME ZONE '" + QTimeZone::systemTimeZoneId() + "'").constData()));
    }
    // Fields joined by '|', NULL as "ERR"; rows joined by blanks, or sorted.
    std::string rows(const char *sql, bool sorted = false) const
    {
        std::vector<std::string> out;
        PGresult *r = PQexec(conn, sql);
        for (int i = 0; i < PQntuples(r); ++i) {
            out.emplace_back();
            for (int f = 0; f < PQnfields(r); ++f)
                out.back() += (f ? "|" : "") + std::string(PQgetisnull(r, i, f) ? "ERR" : PQgetvalue(r, i, f));
        }
        PQclear(r);
        return join(out, sorted);
    }
    std::string table() const { return rows("SELECT fichero, columna, to_char(hora, 'DD-MM-YYYY HH24:MI:SS'), valor FROM climalog.lectura", true); }
    QString address() const { return QStringLiteral("postgresql:///") + QString::fromLatin1(name); }

    QByteArray name = "t_" + QByteArray(::testing::UnitTest::GetInstance()->current_test_info()->name()).toLower();
    PGconn *conn = nullptr;
};

QString archiveProgram() { return binFolder() + QStringLiteral("/climalog-archivo"); }

// The exit code (-1 for a crash) and all it said.
std::pair<int, QString> runArchive(const QStringList &args)
{
    QProcess p;
    p.start(archiveProgram(), args);
    p.waitForFinished(120000);
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, QString::fromUtf8(p.readAllStandardOutput() + p.readAllStandardError())};
}

void append(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::Append));
    ASSERT_EQ(f.write(bytes), bytes.size());
}

// A station of one device of every kind whose readings follow the second of
// the day, and the rows "file|column|time|value" its lines must give.
struct Station {
    explicit Station(const QString &root)
    {
        g.appFolder = root;
        g.nombrepuerto = QStringLiteral("COM1");
        g.carpeta = root + QStringLiteral("/1/");
        QDir().mkpath(g.carpeta);
        for (const TestDevice &d : {TestDevice{STT, "Sala"}, {HRT, "Invernadero"}, {AVI, "Bomba", true, {}, {}, {"bar", "", "l/min", "V"}},
                                    {DET, "Puerta"}, {CTR, "Rele"}})
            addDevice(g, d);
        g.modificado = false;
    }
    // The readings of second s, and the rows they must give.
    void readings(const QString &file, const QString &hora, int s)
    {
        const bool sala = s % 13 != 0, rele = s % 17 != 0;
        const float a = (s % 8) / 4.0f, b = static_cast<float>(s % 5 - 2), c = static_cast<float>(1000 + s % 7);
        g.estados[1] = {{}, sala, {(s % 80 - 20) / 4.0f}, 0};
        g.estados[2] = {{}, true, {static_cast<float>(s % 30), static_cast<float>(40 + s % 50)}, 0};
        g.estados[3] = {{}, true, {a, b, c, 0.5f}, 0};
        g.estados[4] = {{static_cast<std::int16_t>(s % 2), static_cast<std::int16_t>(s / 2 % 2)}, true, {}, 0};
        g.estados[5] = {{0, 1}, rele, {}, 0};
        const std::pair<const char *, std::optional<double>> columns[] = {
            {"Sala (\u00BAC)", sala ? std::optional<double>((s % 80 - 20) / 4.0) : std::nullopt}, {"Invernadero (\u00BAC)", s % 30},
            {"Invernadero (%)", 40 + s % 50}, {"Bomba - a (bar)", a}, {"Bomba - b ()", b}, {"Bomba - c (l/min)", c}, {"Bomba - d (V)", 0.5},
            {"Puerta - 1", s % 2 == 0}, {"Puerta - 2", s / 2 % 2 == 0}, // an input word of 0 is an active input
            {"Rele - 1", rele ? std::optional<double>(1) : std::nullopt}, {"Rele - 2", rele ? std::optional<double>(0) : std::nullopt}};
        for (const auto &[column, v] : columns) {
            char text[32];
            expected.push_back(file.toStdString() + "|" + column + "|" + hora.toStdString() + "|" +
                               (v ? std::string(text, std::to_chars(text, text + sizeof text, *v).ptr) : "ERR"));
        }
    }
    // The text of the lines of seconds [from, to) of 07-12-2026 as the capture writes them.
    QByteArray lines(const QString &file, int from, int to, bool header = false, int step = 1)
    {
        QString text = header ? cabecera(g) + QStringLiteral("\r\n") : QString();
        for (int s = from; s < to; s += step) {
            const QString hora = QDateTime(QDate(2026, 12, 7), QTime(0, 0).addSecs(s)).toString(QStringLiteral("dd-MM-yyyy HH:mm:ss"));
            readings(file, hora, s);
            text += linea(g, hora) + QStringLiteral("\r\n");
        }
        return QByteArray::fromStdString(cp1252::encode(text));
    }
    General g;
    std::vector<std::string> expected;
};

// Readings stored twice, and readings missing between the first and last
// second of the table in any column: "duplicates|gaps".
const char *const duplicatesAndGaps =
    "SELECT (SELECT count(*) FROM (SELECT 1 FROM climalog.lectura GROUP BY fichero, columna, hora HAVING count(*) > 1) d), "
    "(SELECT count(*) FROM generate_series((SELECT min(hora) FROM climalog.lectura), (SELECT max(hora) FROM climalog.lectura), "
    "interval '1 second') AS s(hora) CROSS JOIN (SELECT DISTINCT columna FROM climalog.lectura) c "
    "WHERE NOT EXISTS (SELECT 1 FROM climalog.lectura l WHERE l.hora = s.hora AND l.columna = c.columna))";

const QString day = QStringLiteral("07-12-2026-00.log");

} // namespace

TEST(Archive, ArchivesACapturedDayValueByValue)
{
    TestDatabase db;
    TempFolder t;
    Station st(t.path());
    const QByteArray text = st.lines(day, 0, 86400, true, 10);
    append(st.g.carpeta + day, text);
    const QStringList args{QStringLiteral("--una-vez"), QStringLiteral("--estacion"), QStringLiteral("norte"), st.g.carpeta, db.address()};
    const auto [code, said] = runArchive(args);
    ASSERT_EQ(code, 0) << said.toStdString();
    EXPECT_TRUE(said.contains(QStringLiteral("Al día: 1 fichero, 8.640 líneas, 95.040 lecturas"))) << said.toStdString();
    EXPECT_EQ(db.table(), join(st.expected, true));
    EXPECT_EQ(db.rows("SELECT estacion, puerto, fichero, posicion FROM climalog.progreso"), "norte|1|07-12-2026-00.log|" + std::to_string(text.size()) + "\n");
    ASSERT_EQ(runArchive(args).first, 0);
    EXPECT_EQ(db.rows("SELECT count(*) FROM climalog.lectura"), std::to_string(st.expected.size()) + "\n") << "nothing twice";
}

TEST(Archive, SingleRunsOverChangingFiles)
{
    const QByteArray h = "Hora  Sala (\xBA" "C)  Puerta - 1  Puerta - 2\r\n", l0 = "07-12-2026 10:00:00  21,5  1  0\r\n",
                     l1 = "07-12-2026 10:00:01  22,5  0  1\r\n", l2 = "07-12-2026 10:00:02  ERR  1  1\r\n", l3 = "07-12-2026 10:00:03  -3  0  0\r\n";
    const std::string r0 = "Puerta - 1@10:00:00=1\nPuerta - 2@10:00:00=0\nSala (ºC)@10:00:00=21.5\n",
                      r1 = "Puerta - 1@10:00:01=0\nPuerta - 2@10:00:01=1\nSala (ºC)@10:00:01=22.5\n",
                      r2 = "Puerta - 1@10:00:02=1\nPuerta - 2@10:00:02=1\nSala (ºC)@10:00:02=ERR\n",
                      r3 = "Puerta - 1@10:00:03=0\nPuerta - 2@10:00:03=0\nSala (ºC)@10:00:03=-3\n";
    struct Step {
        QByteArray bytes;
        std::string table;     // by time and column
        const char *said = ""; // a text the program must print
        bool rewrite = false;  // the file replaced instead of appended to
    };
    const std::pair<const char *, std::vector<Step>> rows[] = {
        {"a torn line waits until it is whole", {{h + l0 + "07-12-2026 10:00:01  2", r0}, {"2,5  0  1\r", r0}, {"\n", r0 + r1}}},
        {"a repeated header starts a new column set",
         {{h + l0 + "Hora  Sala (\xBA" "C)  Hum (%)\r\n07-12-2026 10:00:05  20  55\r\n", r0 + "Hum (%)@10:00:05=55\nSala (ºC)@10:00:05=20\n"}}},
        {"garbage and lines of other columns are skipped and counted", {{h + "basura\r\n07-12-2026 10:00:01  21\r\n" + l2, r2, "2 líneas descartadas"}}},
        {"a shrunk file is read again by key, without duplicates",
         {{h + l0 + l1 + l2, r0 + r1 + r2}, {h + l0 + l1, r0 + r1 + r2, "se lee de nuevo desde el principio", true}, {l3, r0 + r1 + r2 + r3}}},
        {"a file that is not a capture is reported", {{"Lista de la compra\r\n", "", "No es un fichero de captura."}}},
    };
    for (const auto &[name, steps] : rows) {
        SCOPED_TRACE(name);
        TestDatabase db;
        TempFolder t;
        QDir().mkpath(t.file(QStringLiteral("1")));
        for (const Step &step : steps) {
            step.rewrite ? t.write(QStringLiteral("1/") + day, step.bytes) : append(t.file(QStringLiteral("1/") + day), step.bytes);
            const auto [code, said] = runArchive({QStringLiteral("--una-vez"), t.file(QStringLiteral("1")), db.address()});
            EXPECT_EQ(code, 0) << said.toStdString();
            EXPECT_EQ(db.rows("SELECT columna || '@' || to_char(hora, 'HH24:MI:SS') || '=' || coalesce(valor::text, 'ERR') FROM climalog.lectura "
                              "ORDER BY hora, columna"), step.table);
            EXPECT_TRUE(said.contains(QString::fromUtf8(step.said))) << said.toStdString();
        }
    }
}

TEST(Archive, CommandLineAndStartErrors)
{
    TestDatabase db;
    TempFolder t;
    const std::tuple<QStringList, int, const char *> rows[] = {
        {{QStringLiteral("--nada")}, 2, "Opción desconocida o sin su valor: --nada."},
        {{QStringLiteral("--lote"), QStringLiteral("0")}, 2, "El lote debe ser un número"},
        {{QStringLiteral("--una-vez"), t.path(), QStringLiteral("postgresql:///nada?host=/nonexistent")}, 1, "No se puede conectar con la base de datos"},
        {{QStringLiteral("--una-vez"), t.file(QStringLiteral("9")), db.address()}, 0, "No existe la carpeta de capturas"}, // reported, not fatal
    };
    for (const auto &[args, code, said] : rows) {
        const auto [exit, text] = runArchive(args);
        EXPECT_EQ(exit, code) << said;
        EXPECT_TRUE(text.contains(QString::fromUtf8(said))) << text.toStdString();
    }
}

// The capture writer appending line by line while the program follows the
// file; the server stopped and started in the middle.
TEST(Archive, FollowsTheCaptureWriterThroughADatabaseRestart)
{
    TestDatabase db;
    TempFolder t;
    Station st(t.path());
    TestClock clock(QDateTime(QDate(2026, 12, 7), QTime(10, 0, 0)));
    Captura capture(st.g, clock);
    ScriptedMessages messages;
    ASSERT_TRUE(capture.inicia(messages, [] { return true; }));
    QProcess follower;
    follower.start(archiveProgram(), {st.g.carpeta, db.address()});
    const auto write = [&](int n) {
        for (int k = 0; k < n; ++k) {
            clock.advance(1);
            const QString hora = clock.now().toString(QStringLiteral("dd-MM-yyyy HH:mm:ss"));
            st.readings(st.g.fichero, hora, clock.now().time().msecsSinceStartOfDay() / 1000);
            ASSERT_EQ(capture.escribe(hora).estado, Captura::Estado::Escrito);
        }
    };
    // A program following files needs a moment; a minute is far beyond any normal wait.
    const auto archived = [&] {
        QElapsedTimer waited;
        for (waited.start(); db.rows("SELECT count(*) FROM climalog.lectura") != std::to_string(st.expected.size()) + "\n"; QThread::msleep(50))
            if (waited.elapsed() > 60000)
                return false;
        return true;
    };
    write(5);
    EXPECT_TRUE(archived());
    ASSERT_EQ(QProcess::execute(qEnvironmentVariable("CLIMALOG_TEST_PG_CTL"), {QStringLiteral("stop")}), 0);
    write(5);
    ASSERT_EQ(QProcess::execute(qEnvironmentVariable("CLIMALOG_TEST_PG_CTL"), {QStringLiteral("start")}), 0);
    write(5);
    db.connect();
    EXPECT_TRUE(archived());
    follower.kill();
    follower.waitForFinished();
    EXPECT_EQ(db.table(), join(st.expected, true));
    EXPECT_EQ(db.rows(duplicatesAndGaps), "0|0\n");
    const QString said = QString::fromUtf8(follower.readAllStandardOutput() + follower.readAllStandardError());
    EXPECT_TRUE(said.contains(QStringLiteral("Conectado de nuevo con la base de datos."))) << said.toStdString();
}

// SIGKILL at random moments while batches are stored: after every kill the
// table holds exactly the lines before the stored progress; at the end it
// equals the file.
TEST(Archive, KilledAtRandomMomentsLosesAndDoublesNothing)
{
    TestDatabase db;
    TempFolder t;
    Station st(t.path());
    std::vector<qint64> ends{0}; // where each line ends, the header's first
    std::mt19937 rng(17);
    const QStringList args{QStringLiteral("--una-vez"), QStringLiteral("--lote"), QStringLiteral("100"), st.g.carpeta, db.address()};
    for (int kill = 0; kill < 50; ++kill) {
        for (int s = kill * 60; s < kill * 60 + 60; ++s) {
            append(st.g.carpeta + day, st.lines(day, s, s + 1, s == 0));
            ends.push_back(QFileInfo(st.g.carpeta + day).size());
        }
        QProcess p;
        p.start(archiveProgram(), args);
        // Connected: from here on every moment falls in some batch.
        while (p.waitForReadyRead(10000) && !p.readAllStandardOutput().contains("Conectado")) {
        }
        QThread::usleep(rng() % 10000);
        p.kill();
        p.waitForFinished();
        // Progress and readings in one statement, one snapshot: the killed
        // program's last batch may still be committing. No tables yet: none.
        const std::string r = db.rows("SELECT (SELECT max(posicion) FROM climalog.progreso), count(DISTINCT hora), count(*) FROM climalog.lectura");
        const std::size_t lines = r.empty() ? 0 : std::stoul(r.substr(r.find('|') + 1));
        ASSERT_LT(lines, ends.size());
        EXPECT_EQ(r.empty() ? "0|0|0\n" : r, (lines ? std::to_string(ends[lines]) : "ERR") + "|" + std::to_string(lines) + "|" + std::to_string(lines * 11) + "\n")
            << "kill " << kill;
    }
    ASSERT_EQ(runArchive(args).first, 0);
    EXPECT_EQ(db.rows(duplicatesAndGaps), "0|0\n");
    EXPECT_EQ(db.table(), join(st.expected, true));
}
