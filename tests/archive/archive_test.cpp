// The archive program end to end, against the tests' private PostgreSQL
// server: a captured day read back value by value, ERR and detector columns,
// torn lines, repeated headers, bad and shrunk files, a file followed while
// the capture writer appends, the database restarted in the middle, and the
// program killed at random moments of its batches.
#include "pgtest.h"

#include "monitor/capture.h"
#include "registry/cp1252.h"
#include "registry/general.h"

#include <QDir>
#include <QFile>

#include <charconv>
#include <cmath>
#include <random>

namespace {

std::string num(double v)
{
    char text[32];
    return std::string(text, std::to_chars(text, text + sizeof text, v).ptr);
}

// A station of one device of every kind whose readings follow the second of
// the day, and the rows the archive must hold for every line written.
struct Station {
    explicit Station(const QString &root)
    {
        g.appFolder = root;
        g.nombrepuerto = QStringLiteral("COM1");
        g.carpeta = root + QStringLiteral("/1/");
        QDir().mkpath(g.carpeta);
        addDevice(g, {STT, "Sala"});
        addDevice(g, {HRT, "Invernadero"});
        addDevice(g, {AVI, "Bomba", true, {}, {}, {"bar", "", "l/min", "V"}});
        addDevice(g, {DET, "Puerta"});
        addDevice(g, {CTR, "Rele"});
        g.modificado = false;
    }

    // Sets the readings of second `s` and records the rows they must give.
    void readings(const QString &file, const QString &hora, int s)
    {
        auto &e = g.estados;
        e[1] = {{}, s % 13 != 0, {(s % 80 - 20) / 4.0f}, 0};
        e[2] = {{}, true, {static_cast<float>(s % 30), static_cast<float>(40 + s % 50)}, 0};
        e[3] = {{}, true, {(s % 8) / 4.0f, static_cast<float>(s % 5 - 2), static_cast<float>(1000 + s % 7), 0.5f}, 0};
        e[4] = {{static_cast<std::int16_t>(s % 2), static_cast<std::int16_t>(s / 2 % 2)}, true, {}, 0};
        e[5] = {{0, 1}, s % 17 != 0, {}, 0};
        const auto row = [&](const char *column, std::optional<double> v) {
            expected.push_back(file.toStdString() + "|" + column + "|" + hora.toStdString() + "|" + (v ? num(*v) : "ERR"));
        };
        const auto valid = [&](int i, double v) { return e[i].valido ? std::optional<double>(v) : std::nullopt; };
        row("Sala (\u00BAC)", valid(1, (s % 80 - 20) / 4.0));
        row("Invernadero (\u00BAC)", s % 30);
        row("Invernadero (%)", 40 + s % 50);
        row("Bomba - a (bar)", (s % 8) / 4.0);
        row("Bomba - b ()", s % 5 - 2);
        row("Bomba - c (l/min)", 1000 + s % 7);
        row("Bomba - d (V)", 0.5);
        row("Puerta - 1", s % 2 == 0 ? 1 : 0); // an input word of 0 is active
        row("Puerta - 2", s / 2 % 2 == 0 ? 1 : 0);
        row("Rele - 1", valid(5, 1));
        row("Rele - 2", valid(5, 0));
    }

    // Lines of seconds [from, to) of 07-12-2026, every `step` seconds, as
    // the capture writes their text; with the header when `header`.
    QByteArray lines(const QString &file, int from, int to, int step, bool header)
    {
        QString text = header ? cabecera(g) + QStringLiteral("\r\n") : QString();
        for (int s = from; s < to; s += step) {
            const QString hora = QDateTime(QDate(2026, 12, 7), QTime(0, 0).addSecs(s)).toString(QStringLiteral("dd-MM-yyyy HH:mm:ss"));
            readings(file, hora, s);
            text += linea(g, hora) + QStringLiteral("\r\n");
        }
        return QByteArray::fromStdString(cp1252::encode(text));
    }

    std::vector<std::string> sorted() const
    {
        std::vector<std::string> out = expected;
        std::sort(out.begin(), out.end());
        return out;
    }

    General g;
    std::vector<std::string> expected;
};

void append(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::Append));
    ASSERT_EQ(f.write(bytes), bytes.size());
}

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
    ASSERT_TRUE(db.ok());
    TempFolder t;
    Station st(t.path());
    const QByteArray text = st.lines(day, 0, 86400, 10, true);
    append(st.g.carpeta + day, text);
    const RunResult r = runArchive({QStringLiteral("--una-vez"), QStringLiteral("--estacion"), QStringLiteral("norte"),
                                    st.g.carpeta, db.address()});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral("Al día: 1 fichero, 8.640 líneas, 95.040 lecturas"))) << r.out.toStdString();
    const std::vector<std::string> table = db.table();
    ASSERT_EQ(table.size(), st.expected.size());
    EXPECT_EQ(table, st.sorted());
    EXPECT_EQ(db.rows("SELECT estacion, puerto, fichero, posicion FROM climalog.progreso"),
              std::vector<std::string>{"norte|1|07-12-2026-00.log|" + std::to_string(text.size())});
    // Again: nothing new, nothing stored twice.
    ASSERT_EQ(runArchive({QStringLiteral("--una-vez"), QStringLiteral("--estacion"), QStringLiteral("norte"), st.g.carpeta,
                          db.address()}).code, 0);
    EXPECT_EQ(db.number("SELECT count(*) FROM climalog.lectura"), static_cast<long long>(st.expected.size()));
}

TEST(Archive, SingleRunsOverChangingFiles)
{
    const QByteArray h = "Hora  Sala (\xBA" "C)  Puerta - 1  Puerta - 2\r\n";
    const QByteArray l0 = "07-12-2026 10:00:00  21,5  1  0\r\n", l1 = "07-12-2026 10:00:01  22,5  0  1\r\n",
                     l2 = "07-12-2026 10:00:02  ERR  1  1\r\n", l3 = "07-12-2026 10:00:03  -3  0  0\r\n";
    using Rows = std::vector<std::string>;
    const Rows r0 = {"Puerta - 1@10:00:00=1", "Puerta - 2@10:00:00=0", "Sala (ºC)@10:00:00=21.5"};
    const Rows r1 = {"Puerta - 1@10:00:01=0", "Puerta - 2@10:00:01=1", "Sala (ºC)@10:00:01=22.5"};
    const Rows r2 = {"Puerta - 1@10:00:02=1", "Puerta - 2@10:00:02=1", "Sala (ºC)@10:00:02=ERR"};
    const Rows r3 = {"Puerta - 1@10:00:03=0", "Puerta - 2@10:00:03=0", "Sala (ºC)@10:00:03=-3"};
    const auto join = [](std::initializer_list<Rows> parts) {
        Rows out;
        for (const Rows &p : parts)
            out.insert(out.end(), p.begin(), p.end());
        std::sort(out.begin(), out.end());
        return out;
    };
    struct Step {
        QByteArray bytes;
        Rows table;
        const char *said = nullptr; // a text the program must print
        bool rewrite = false;       // the file is replaced instead of appended to
    };
    struct Row {
        const char *name;
        std::vector<Step> steps;
    };
    const Row rows[] = {
        {"a torn line waits until it is whole",
         {{h + l0 + "07-12-2026 10:00:01  2", join({r0})}, {"2,5  0  1\r", join({r0})}, {"\n", join({r0, r1})}}},
        {"a repeated header starts a new column set",
         {{h + l0 + "Hora  Sala (\xBA" "C)  Hum (%)\r\n07-12-2026 10:00:05  20  55\r\n",
           join({r0, {"Hum (%)@10:00:05=55", "Sala (ºC)@10:00:05=20"}})}}},
        {"garbage and lines of other columns are skipped and counted",
         {{h + "basura\r\n07-12-2026 10:00:01  21\r\n" + l2, join({r2}), "2 líneas descartadas"}}},
        {"a shrunk file is read again by key, without duplicates",
         {{h + l0 + l1 + l2, join({r0, r1, r2})},
          {h + l0 + l1, join({r0, r1, r2}), "se lee de nuevo desde el principio", true},
          {l3, join({r0, r1, r2, r3})}}},
        {"a file that is not a capture is reported", {{"Lista de la compra\r\n", {}, "No es un fichero de captura."}}},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        TestDatabase db;
        ASSERT_TRUE(db.ok());
        TempFolder t;
        const QString folder = t.file(QStringLiteral("1"));
        QDir().mkpath(folder);
        for (std::size_t k = 0; k < row.steps.size(); ++k) {
            SCOPED_TRACE(k);
            const Step &step = row.steps[k];
            if (step.rewrite)
                t.write(QStringLiteral("1/") + day, step.bytes);
            else
                append(QDir(folder).filePath(day), step.bytes);
            const RunResult r = runArchive({QStringLiteral("--una-vez"), folder, db.address()});
            EXPECT_EQ(r.code, 0) << r.err.toStdString();
            Rows table = db.rows("SELECT columna || '@' || to_char(hora, 'HH24:MI:SS') || '=' || coalesce(valor::text, 'ERR') "
                                 "FROM climalog.lectura");
            std::sort(table.begin(), table.end());
            EXPECT_EQ(table, step.table);
            if (step.said) {
                EXPECT_TRUE((r.out + r.err).contains(QString::fromUtf8(step.said))) << (r.out + r.err).toStdString();
            }
        }
    }
}

TEST(Archive, CommandLineAndStartErrors)
{
    TestDatabase db;
    ASSERT_TRUE(db.ok());
    TempFolder t;
    struct Row {
        const char *name;
        QStringList args;
        int code;
        const char *said;
    };
    const Row rows[] = {
        {"an unknown option", {QStringLiteral("--nada")}, 2, "Opción desconocida o sin su valor: --nada."},
        {"a batch of no readings", {QStringLiteral("--lote"), QStringLiteral("0")}, 2, "El lote debe ser un número"},
        {"no database at the start of a single run",
         {QStringLiteral("--una-vez"), t.path(), QStringLiteral("postgresql:///nada?host=/nonexistent")}, 1,
         "No se puede conectar con la base de datos"},
        {"a missing folder is reported", {QStringLiteral("--una-vez"), t.file(QStringLiteral("9")), db.address()}, 0,
         "No existe la carpeta de capturas"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        const RunResult r = runArchive(row.args);
        EXPECT_EQ(r.code, row.code);
        EXPECT_TRUE(r.err.contains(QString::fromUtf8(row.said))) << r.err.toStdString();
    }
}

// The capture writer appending line by line while the program follows the
// file; the server stopped and started in the middle.
TEST(Archive, FollowsTheCaptureWriterThroughADatabaseRestart)
{
    TestDatabase db;
    ASSERT_TRUE(db.ok());
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
    const auto archived = [&] {
        return db.number("SELECT count(*) FROM climalog.lectura", true) == static_cast<long long>(st.expected.size());
    };
    write(5);
    EXPECT_TRUE(eventually(archived));
    ASSERT_TRUE(serverControl("stop"));
    write(5);
    ASSERT_TRUE(serverControl("start"));
    write(5);
    db.connect();
    EXPECT_TRUE(eventually(archived));
    follower.kill();
    follower.waitForFinished();
    EXPECT_EQ(db.table(), st.sorted());
    EXPECT_EQ(db.rows(duplicatesAndGaps), std::vector<std::string>{"0|0"});
    const QString said = QString::fromUtf8(follower.readAllStandardOutput() + follower.readAllStandardError());
    EXPECT_TRUE(said.contains(QStringLiteral("Conectado de nuevo con la base de datos."))) << said.toStdString();
}

// SIGKILL at random moments while batches are stored: after every kill the
// table holds exactly the lines before the stored progress; at the end it
// equals the file.
TEST(Archive, KilledAtRandomMomentsLosesAndDoublesNothing)
{
    TestDatabase db;
    ASSERT_TRUE(db.ok());
    TempFolder t;
    Station st(t.path());
    const QString path = st.g.carpeta + day;
    std::vector<qint64> ends{0}; // where each line ends, the header's first
    std::mt19937 rng(17);
    const QStringList args{QStringLiteral("--una-vez"), QStringLiteral("--lote"), QStringLiteral("100"), st.g.carpeta,
                           db.address()};
    int interrupted = 0;
    for (int kill = 0; kill < 50; ++kill) {
        SCOPED_TRACE(kill);
        for (int s = kill * 60; s < kill * 60 + 60; ++s) {
            const QByteArray line = st.lines(day, s, s + 1, 1, s == 0);
            append(path, line);
            ends.push_back(ends.back() + line.size());
        }
        QProcess p;
        p.start(archiveProgram(), args);
        p.waitForStarted();
        // Connected: from here on every moment falls in some batch.
        while (!p.readAllStandardOutput().contains("Conectado") && p.state() == QProcess::Running)
            p.waitForReadyRead(100);
        QThread::usleep(rng() % 10000);
        interrupted += p.state() == QProcess::Running ? 1 : 0;
        p.kill();
        p.waitForFinished();
        // Killed before the schema was made, the tables are not there yet.
        const long long stored = std::max(db.number("SELECT coalesce(max(posicion), 0) FROM climalog.progreso", true), 0LL);
        const long long lines = std::max(db.number("SELECT count(DISTINCT hora) FROM climalog.lectura", true), 0LL);
        ASSERT_LT(static_cast<std::size_t>(lines), ends.size());
        EXPECT_EQ(stored, ends[static_cast<std::size_t>(lines)]);
        EXPECT_EQ(db.number("SELECT count(*) FROM climalog.lectura"), lines * 11);
    }
    RecordProperty("interrupted", interrupted);
    const RunResult r = runArchive(args);
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(db.rows(duplicatesAndGaps), std::vector<std::string>{"0|0"});
    EXPECT_EQ(db.table(), st.sorted());
}
