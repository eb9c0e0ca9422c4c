// The archive program end to end, against the private PostgreSQL server that
// ./test.sh starts (scripts/testdb.sh): ERR and detector columns, torn lines,
// repeated headers, bad and shrunk files, the command line, files archived
// oldest first, a day archived while followed through a server restart and
// while the program is killed at random moments, read back value by value.
#include "monitor/capture.h"
#include "registry/cp1252.h"
#include "support/support.h"

#include <libpq-fe.h>

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QThread>
#include <QTimeZone>

#include <random>

namespace {

// The database of the tests' server, emptied of what the archive program
// makes; times read back in the test's local time, as captures hold them.
struct TestDatabase {
    TestDatabase()
    {
        connect();
        EXPECT_EQ(PQstatus(conn), CONNECTION_OK) << "The tests' server (scripts/testdb.sh) does not answer: " << PQerrorMessage(conn);
        PQclear(PQexec(conn, "DROP SCHEMA IF EXISTS climalog CASCADE"));
    }
    ~TestDatabase() { PQfinish(conn); }
    void connect() // again, after the server restarted
    {
        PQfinish(conn);
        conn = PQconnectdb("");
        PQclear(PQexec(conn, ("SET TIME ZONE '" + QTimeZone::systemTimeZoneId() + "'").constData()));
    }
    // Rows of fields joined by '|', NULL as "ERR", one a line; none when
    // the query fails (the tables may not be there yet).
    std::string rows(const char *sql) const
    {
        std::string text;
        PGresult *r = PQexec(conn, sql);
        for (int i = 0; i < PQntuples(r); ++i)
            for (int f = 0; f < PQnfields(r); ++f)
                text += (PQgetisnull(r, i, f) ? "ERR" : PQgetvalue(r, i, f)) + std::string(f + 1 < PQnfields(r) ? "|" : "\n");
        PQclear(r);
        return text;
    }
    PGconn *conn = nullptr;
};

const QString program = binFolder() + QStringLiteral("/climalog-archivo");

QStringList words(const char *text) { return QString::fromUtf8(text).split(u' '); }

// The exit code (-1 for a crash) and all it said; the database of the PG*
// variables unless an address is given.
std::pair<int, QString> runArchive(const QStringList &args)
{
    QProcess p;
    p.start(program, args);
    p.waitForFinished(120000);
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, QString::fromUtf8(p.readAllStandardOutput() + p.readAllStandardError())};
}

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
        return QByteArray::fromStdString(cp1252::encode((header ? cabecera(g) + QStringLiteral("\r\n") : QString()) + linea(g, hora) + QStringLiteral("\r\n")));
    }
    General g;
    const QString folder, name = QStringLiteral("07-12-2026-00.log");
    std::string expected;
};

} // namespace

TEST(Archive, SingleRunsOverChangingFiles)
{
    const QByteArray h = "Hora  Sala (\xBA" "C)  Puerta - 1  Puerta - 2\r\n", l0 = "07-12-2026 10:00:00  21,5  1  0\r\n",
                     l1 = "07-12-2026 10:00:01  22,5  0  1\r\n", l2 = "07-12-2026 10:00:02  ERR  1  1\r\n", l3 = "07-12-2026 10:00:03  -3  0  0\r\n";
    const std::string r0 = "00|Puerta - 1|1\n00|Puerta - 2|0\n00|Sala (ºC)|21.5\n", r1 = "01|Puerta - 1|0\n01|Puerta - 2|1\n01|Sala (ºC)|22.5\n",
                      r2 = "02|Puerta - 1|1\n02|Puerta - 2|1\n02|Sala (ºC)|ERR\n", r3 = "03|Puerta - 1|0\n03|Puerta - 2|0\n03|Sala (ºC)|-3\n";
    // Per run: the bytes appended (or, after "=", the file written anew), the
    // table ("second|column|value"), a text the program must print.
    const std::pair<const char *, std::vector<std::tuple<QByteArray, std::string, const char *>>> rows[] = {
        {"a torn line waits until it is whole", {{h + l0 + "07-12-2026 10:00:01  2", r0, ""}, {"2,5  0  1\r", r0, ""}, {"\n", r0 + r1, ""}}},
        {"a shrunk file is read again by key, without duplicates",
         {{h + l0 + l1 + l2, r0 + r1 + r2, ""}, {"=" + h + l0 + l1, r0 + r1 + r2, "se lee de nuevo desde el principio"},
          {l3, r0 + r1 + r2 + r3, ""}}},
    };
    for (const auto &[name, steps] : rows) {
        TestDatabase db;
        TempFolder t;
        QDir().mkpath(t.file(QStringLiteral("1")));
        const QString file = t.file(QStringLiteral("1/07-12-2026-00.log"));
        for (const auto &[bytes, expected, says] : steps) {
            bytes.startsWith('=') ? void(QFile::remove(file)), append(file, bytes.mid(1)) : append(file, bytes);
            const auto [code, said] = runArchive({QStringLiteral("--una-vez"), t.file(QStringLiteral("1"))});
            EXPECT_EQ(code, 0) << name;
            EXPECT_EQ(db.rows("SELECT to_char(hora, 'SS'), columna, valor FROM climalog.lectura ORDER BY hora, columna COLLATE \"C\""), expected)
                << name;
            EXPECT_TRUE(said.contains(QString::fromUtf8(says))) << name << ": " << said.toStdString();
        }
    }
}

TEST(Archive, CommandLineAndStartErrors)
{
    TestDatabase db;
    TempFolder t;
    QDir().mkpath(t.file(QStringLiteral("1")));
    // Archived oldest first (by year, month and day); each holds a line of
    // no reading, counted.
    for (const char *day : {"07-12-2026", "08-11-2026", "09-10-2025"})
        t.write(QStringLiteral("1/%1-00.log").arg(QLatin1String(day)), "Hora  Sala (\xBA" "C)\r\n" + QByteArray(day) + "\r\n");
    const std::tuple<QStringList, int, const char *> rows[] = { // what it says, a pattern
        {words("--nada"), 2, "Opción desconocida o sin su valor: --nada."},
        {words("--una-vez b/2 a/1 c/1"), 2, "Las carpetas .*a/1 y .*c/1 tienen el mismo nombre de puerto"}, // side by side
        {words("--una-vez postgresql:///nada?host=/nonexistent") << t.path(), 1, "No se puede conectar con la base de datos"},
        {words("--una-vez") << t.file(QStringLiteral("9")), 0, "No existe la carpeta de capturas"}, // reported, not fatal
        {words("--una-vez") << t.file(QStringLiteral("1")), 0, "09-10-2025-00.log: 1 línea descartada[\\s\\S]*08-11-2026-00.log: 1 [\\s\\S]*07-12-2026-00.log: 1 "},
    };
    for (const auto &[args, code, says] : rows) {
        const auto [exit, said] = runArchive(args);
        EXPECT_EQ(exit, code) << says;
        EXPECT_TRUE(said.contains(QRegularExpression(QString::fromUtf8(says)))) << said.toStdString();
    }
}

// A day's capture, across midnight: most of it archived in one run; then
// followed while the server stops and starts again; the rest written while
// the program archives it in small batches and is killed with SIGKILL at
// random moments. After every kill the table holds exactly the lines before
// the stored progress; at the end it equals the file value by value, each
// reading once, also after one run more.
TEST(Archive, ADayArchivedThroughARestartAndKillsValueByValue)
{
    TestDatabase db;
    TempFolder t;
    Station st(t.path());
    const QString file = st.folder + st.name;
    std::vector<qint64> ends{0}; // where each line ends, the header's first
    int second = 86400 - 7000;
    const auto write = [&](int count) {
        for (const int end = second + count; second < end; ++second) {
            append(file, st.line(QDateTime(QDate(2026, 12, 7), QTime(0, 0)).addSecs(second), ends.size() == 1));
            ends.push_back(QFileInfo(file).size());
        }
    };
    const QStringList args = words("--una-vez --lote 100 --estacion norte postgresql:///postgres") << st.folder;
    write(6000);
    const auto [code, said] = runArchive(args);
    EXPECT_TRUE(code == 0 && said.contains(QStringLiteral("Al día: 1 fichero, 6.000 líneas, 6.000"))) << code << said.toStdString();

    QProcess follower;
    follower.start(program, args.mid(1));
    const auto waitForAll = [&] { // a minute at most, far beyond any normal wait
        const std::string all = std::to_string(ends.size() - 1) + "\n";
        QElapsedTimer waited;
        for (waited.start(); db.rows("SELECT count(*) FROM climalog.lectura") != all && waited.elapsed() < 60000;)
            QThread::msleep(50);
    };
    write(5);
    waitForAll();
    ASSERT_EQ(QProcess::execute(qEnvironmentVariable("CLIMALOG_TEST_PG_CTL"), {QStringLiteral("stop")}), 0);
    write(5);
    ASSERT_EQ(QProcess::execute(qEnvironmentVariable("CLIMALOG_TEST_PG_CTL"), {QStringLiteral("start")}), 0);
    db.connect();
    write(5);
    waitForAll();
    follower.kill();
    follower.waitForFinished();
    EXPECT_TRUE(follower.readAll().contains("Conectado de nuevo con la base de datos."));

    std::mt19937 rng(17);
    for (int kill = 0; kill < 50; ++kill) {
        write(60);
        QProcess p;
        p.start(program, args);
        while (p.waitForReadyRead(10000) && !p.readAllStandardOutput().contains("Conectado")) { // then every moment falls in some batch
        }
        QThread::usleep(rng() % 10000);
        p.kill();
        p.waitForFinished();
        // Progress and readings in one statement, one snapshot: the killed
        // program's last batch may still be committing.
        const std::string r = db.rows("SELECT (SELECT max(posicion) FROM climalog.progreso), count(DISTINCT hora), count(*) FROM climalog.lectura");
        const std::size_t lines = std::stoul(r.substr(r.find('|') + 1));
        ASSERT_LT(lines, ends.size());
        EXPECT_EQ(r, std::to_string(ends[lines]) + "|" + std::to_string(lines) + "|" + std::to_string(lines) + "\n") << "kill " << kill;
    }
    for (int run = 0; run < 2; ++run) {
        EXPECT_EQ(runArchive(args).first, 0);
        EXPECT_EQ(db.rows("SELECT fichero, columna, to_char(hora, 'DD-MM-YYYY HH24:MI:SS'), valor FROM climalog.lectura ORDER BY hora"), st.expected);
        EXPECT_EQ(db.rows("SELECT estacion, puerto, fichero, posicion FROM climalog.progreso"),
                  "norte|1|" + st.name.toStdString() + "|" + std::to_string(ends.back()) + "\n");
    }
}
