// Capture files on a real disk: the exact bytes of headers and lines, the
// choice of the day's file, midnight, torn lines, a file another program
// holds, and a writer killed at random moments.
#include "monitor/capture.h"

#include "registry/configfile.h"
#include "registry/general.h"
#include "support/support.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include <csignal>
#include <cstdio>
#include <functional>
#include <map>
#include <random>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

QString u8(const char *text) { return QString::fromUtf8(text); }

const QByteArray crlf = "\r\n";
const QByteArray h0 = "Hora  Sala (\xBA" "C)";
const QByteArray h1 = "Hora  Hum (\xBA" "C)  Hum (%)  Sala (\xBA" "C)";       // as the save sorts the table
const QByteArray h1desorden = "Hora  Sala (\xBA" "C)  Hum (\xBA" "C)  Hum (%)"; // Hum added at the end

const TestDevice sala{STT, "Sala", true, {21.5f}};
const TestDevice hum{HRT, "Hum", true, {22, 47}};


QString dia(const char *seq) { return QStringLiteral("07-12-2026-%1.log").arg(QLatin1String(seq)); }

// A capture on port COM2 from a fresh application folder: files in <folder>/2/.
struct Banco {
    explicit Banco(QTime hora = QTime(10, 0, 0), std::vector<TestDevice> devices = {sala})
        : clock(QDateTime(QDate(2026, 12, 7), hora))
    {
        g.appFolder = t.path();
        g.nombrepuerto = QStringLiteral("COM2");
        g.carpeta = t.path() + QStringLiteral("/2/");
        for (const TestDevice &d : devices)
            addDevice(g, d);
        g.modificado = false; // as loaded
    }
    QByteArray lee(const QString &name) const { return t.read(QStringLiteral("2/") + name); }
    void pon(const QString &name, const QByteArray &bytes, QIODevice::OpenMode mode = QIODevice::WriteOnly) const
    {
        QDir(t.path()).mkpath(QStringLiteral("2"));
        QFile f(g.carpeta + name);
        ASSERT_TRUE(f.open(mode));
        f.write(bytes);
    }
    QString marca() const { return clock.now().toString(QStringLiteral("dd-MM-yyyy HH:mm:ss")); }
    bool inicia()
    {
        return c.inicia(m, [this] { return configfile::save(g).status != configfile::SaveStatus::Failed; });
    }

    TempFolder t;
    TestClock clock;
    General g;
    ScriptedMessages m;
    Captura c{g, clock};
};

// write() calls the process has made, or -1 where the system does not count
// them: a line must reach the file in one call, or a crash can tear it.
long escrituras()
{
    QFile io(QStringLiteral("/proc/self/io"));
    if (!io.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : io.readAll().split('\n'))
        if (line.startsWith("syscw:"))
            return line.mid(6).trimmed().toLong();
    return -1;
}

// Columns of a capture line: the separator is two blanks, never inside a value.
qsizetype columnas(const QByteArray &line) { return line.split(' ').count(QByteArray()) + 1; }

} // namespace

TEST(CaptureText, ColumnsOfEveryType)
{
    struct Row {
        const char *name;
        std::vector<TestDevice> devices;
        QByteArray header;
        QByteArray values; // after the time stamp
    };
    const Row rows[] = {
        {"temperature", {sala}, h0, "  21,5"},
        {"temperature failed", {{STT, "Sala", false, {21.5f}}}, h0, "  ERR"},
        {"humidity in point form", {{HRT, "Inv", true, {22, 47.5f}}}, "Hora  Inv (\xBA" "C)  Inv (%)", "  22  47.5"},
        {"humidity failed", {{HRT, "Inv", false}}, "Hora  Inv (\xBA" "C)  Inv (%)", "  ERR  ERR"},
        {"converter with trimmed units", {{AVI, "Caudal", true, {0.5f, 1380, -2.25f, 12345678.0f}, {}, {"V", " mA ", "", "Pa"}}},
         "Hora  Caudal - a (V)  Caudal - b (mA)  Caudal - c ()  Caudal - d (Pa)", "  ,5  1380  -2,25  1,234568E+07"},
        {"converter failed", {{AVI, "Caudal", false, {}, {}, {"V", "V", "V", "V"}}},
         "Hora  Caudal - a (V)  Caudal - b (V)  Caudal - c (V)  Caudal - d (V)", "  ERR  ERR  ERR  ERR"},
        {"detector, word 0 is an active input", {{DET, "Puerta", true, {}, {0, 1}}}, "Hora  Puerta - 1  Puerta - 2", "  1  0"},
        {"relay device failed", {{CTR, "Rele", false}}, "Hora  Rele - 1  Rele - 2", "  ERR  ERR"},
        {"inputs after the readings, unknown type without column", {{DET, "Puerta", true, {}, {0, 1}}, {9, "Raro"}, sala},
         "Hora  Sala (\xBA" "C)  Puerta - 1  Puerta - 2", "  21,5  1  0"},
        {"accented name in Windows-1252", {{STT, "  Cámara ", true, {-0.5f}}}, "Hora  C\xE1" "mara (\xBA" "C)", "  -,5"},
        {"no devices", {}, "Hora", ""},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        Banco b(QTime(10, 0, 0), row.devices);
        ASSERT_TRUE(b.inicia());
        ASSERT_EQ(b.c.escribe(QStringLiteral("07-12-2026 10:00:00")).estado, Captura::Estado::Escrito);
        EXPECT_EQ(b.lee(dia("00")), row.header + crlf + "07-12-2026 10:00:00" + row.values + crlf);
    }
}

TEST(CaptureStart, ChoiceOfTheDaysFile)
{
    const QByteArray linea0 = "07-12-2026 10:00:00  21,5\r\n";
    const QByteArray otra = "Hora  Otra (\xBA" "C)\r\n07-12-2026 08:00:00  3\r\n";
    struct Row {
        const char *name;
        const char *seq = "00";
        std::map<std::string, QByteArray> files{}; // sequence -> bytes, present before the start
        bool anadido = false;                      // Hum added since the last save
        Messages::Answer answer = Messages::Answer::Ok;
        std::function<void(Banco &)> estorbo{};
        const char *fichero = "";  // "" = no capture
        QByteArray contenido{};    // that file after the start and one line
        int preguntas = 0;         // save questions asked
        const char *mensaje = nullptr; // start of the message shown instead
    };
    const Row rows[] = {
        {.name = "first capture of the day creates the file and its folder", .fichero = "00", .contenido = h0 + crlf + linea0},
        {.name = "restart with the same columns continues, no question", .files = {{"00", h0 + crlf + linea0}},
         .fichero = "00", .contenido = h0 + crlf + linea0 + linea0},
        {.name = "a device added: next number, saved first", .files = {{"00", h0 + crlf + linea0}}, .anadido = true,
         .fichero = "01", .contenido = h1 + crlf + "07-12-2026 10:00:00  22  47  21,5\r\n", .preguntas = 1},
        {.name = "save cancelled: no capture", .files = {{"00", h0 + crlf}}, .anadido = true,
         .answer = Messages::Answer::Cancel, .preguntas = 1},
        {.name = "configuration cannot be saved: no capture", .anadido = true,
         .estorbo = [](Banco &b) { QDir(b.t.path()).mkdir(QStringLiteral("config1.ini")); }, .preguntas = 1},
        {.name = "99 is followed by 00", .seq = "99", .files = {{"99", otra}}, .fichero = "00", .contenido = h0 + crlf + linea0, .preguntas = 1},
        {.name = "an existing 01 with other columns is passed over", .files = {{"00", otra}, {"01", otra}},
         .fichero = "02", .contenido = h0 + crlf + linea0, .preguntas = 1},
        {.name = "an existing 01 with these columns is continued", .files = {{"00", otra}, {"01", h0 + crlf}},
         .fichero = "01", .contenido = h0 + crlf + linea0, .preguntas = 1},
        {.name = "every number taken: no capture",
         .estorbo = [&](Banco &b) {
             for (int k = 0; k < 100; ++k)
                 b.pon(QStringLiteral("07-12-2026-%1.log").arg(k, 2, 10, QLatin1Char('0')), otra);
         },
         .mensaje = "Todos los ficheros de captura de hoy"},
        {.name = "blanks around the number are dropped", .seq = " 7 ", .fichero = "7", .contenido = h0 + crlf + linea0},
        {.name = "an empty file left by a crash takes the header", .files = {{"00", ""}}, .fichero = "00", .contenido = h0 + crlf + linea0},
        {.name = "a header torn before its line end is continued and ended", .files = {{"00", h0}},
         .fichero = "00", .contenido = h0 + crlf + linea0},
        {.name = "the save reorders the columns: a file with the unsaved order is passed over",
         .files = {{"00", otra}, {"01", h1desorden + crlf}}, .anadido = true,
         .fichero = "02", .contenido = h1 + crlf + "07-12-2026 10:00:00  22  47  21,5\r\n", .preguntas = 1},
        {.name = "capture folder cannot be created", .estorbo = [](Banco &b) { b.t.write(QStringLiteral("2"), "x"); },
         .mensaje = "No se puede crear la carpeta de capturas"},
        {.name = "capture file cannot be read",
         .estorbo = [](Banco &b) { QDir(b.t.path()).mkpath(QStringLiteral("2/") + dia("00")); },
         .mensaje = "No se puede leer el fichero de captura"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        Banco b;
        b.g.dispositivos[0].nombre = u8(row.seq);
        if (row.anadido)
            addDevice(b.g, hum);
        for (const auto &[seq, bytes] : row.files)
            b.pon(dia(seq.c_str()), bytes);
        if (row.estorbo)
            row.estorbo(b);
        const qsizetype presentes = QDir(b.g.carpeta).entryList(QDir::Files).size();
        b.m.answer(row.answer);

        const bool started = b.inicia();
        const QString fichero = *row.fichero ? dia(row.fichero) : QString();
        EXPECT_EQ(started, !fichero.isEmpty());
        EXPECT_EQ(b.g.fichero, fichero);
        EXPECT_EQ(std::count(b.m.buttons.begin(), b.m.buttons.end(), Messages::Buttons::OkCancel), row.preguntas);
        if (row.mensaje) {
            ASSERT_EQ(b.m.texts.size(), 1);
            EXPECT_TRUE(b.m.texts[0].startsWith(u8(row.mensaje))) << b.m.texts[0].toStdString();
        }
        for (const auto &[seq, bytes] : row.files) {
            if (dia(seq.c_str()) != fichero) {
                EXPECT_EQ(b.lee(dia(seq.c_str())), bytes) << "other files untouched";
            }
        }
        if (!started) {
            EXPECT_EQ(QDir(b.g.carpeta).entryList(QDir::Files).size(), presentes) << "no file made";
            continue;
        }
        EXPECT_EQ(b.g.dispositivos[0].nombre.text(), u8(row.fichero).leftJustified(16)) << "number kept padded";
        EXPECT_FALSE(b.g.modificado) << "saved before capturing";
        ASSERT_EQ(b.c.escribe(b.marca()).estado, Captura::Estado::Escrito);
        EXPECT_EQ(b.lee(fichero), row.contenido);
    }
}

TEST(CaptureWrite, LinesAcrossDaysDamageAndDeniedFiles)
{
    const QByteArray l1 = "07-12-2026 10:00:00  21,5\r\n";
    const QByteArray l2 = "07-12-2026 10:00:05  21,5\r\n";
    const QByteArray noche = h0 + crlf + "07-12-2026 23:59:58  21,5\r\n";
    const QByteArray manana = "08-12-2026 00:00:03  21,5\r\n";
    using E = Captura::Estado;
    struct Row {
        const char *name;
        QTime inicio;
        std::function<void(Banco &)> antes; // between the first line and the second, 5 s later
        E primero;                          // what the second line meets
        const char *fichero;                // after the second line
        std::map<QString, QByteArray> ficheros;
    };
    const Row rows[] = {
        {"same day appends", QTime(10, 0, 0), {}, E::Escrito, "07-12-2026-00.log", {{dia("00"), h0 + crlf + l1 + l2}}},
        {"midnight: the new date's file, same number, headed again", QTime(23, 59, 58), {}, E::Escrito, "08-12-2026-00.log",
         {{dia("00"), noche}, {"08-12-2026-00.log", h0 + crlf + manana}}},
        {"midnight into an existing file: appended, nothing lost", QTime(23, 59, 58),
         [](Banco &b) { b.pon(QStringLiteral("08-12-2026-00.log"), "Hora  X\r\n08-12-2026 00:00:01  1\r\n"); }, E::Escrito,
         "08-12-2026-00.log", {{"08-12-2026-00.log", "Hora  X\r\n08-12-2026 00:00:01  1\r\n" + h0 + crlf + manana}}},
        {"a torn last line is ended before the next", QTime(10, 0, 0),
         [](Banco &b) { b.pon(dia("00"), "07-12-2026 10:00:0", QIODevice::Append); }, E::Escrito, "07-12-2026-00.log",
         {{dia("00"), h0 + crlf + l1 + "07-12-2026 10:00:0\r\n" + l2}}},
        {"a line torn after its CR gets its LF only", QTime(10, 0, 0),
         [](Banco &b) { b.pon(dia("00"), "07-12-2026 10:00:02  2\r", QIODevice::Append); }, E::Escrito, "07-12-2026-00.log",
         {{dia("00"), h0 + crlf + l1 + "07-12-2026 10:00:02  2\r\n" + l2}}},
        {"a file deleted meanwhile comes back with its header", QTime(10, 0, 0),
         [](Banco &b) { QFile::remove(b.g.carpeta + dia("00")); }, E::Escrito, "07-12-2026-00.log", {{dia("00"), h0 + crlf + l2}}},
        {"an emptied file gets its header back", QTime(10, 0, 0), [](Banco &b) { b.pon(dia("00"), ""); }, E::Escrito,
         "07-12-2026-00.log", {{dia("00"), h0 + crlf + l2}}},
        {"the capture folder deleted meanwhile is made again", QTime(10, 0, 0),
         [](Banco &b) { QDir(b.g.carpeta).removeRecursively(); }, E::Escrito, "07-12-2026-00.log", {{dia("00"), h0 + crlf + l2}}},
        {"no write permission: the line waits and is written later", QTime(10, 0, 0), {}, E::Denegado, "07-12-2026-00.log",
         {{dia("00"), h0 + crlf + l1 + l2}}},
        {"no write permission at midnight: the header waits with its line", QTime(23, 59, 58), {}, E::Denegado,
         "08-12-2026-00.log", {{dia("00"), noche}, {"08-12-2026-00.log", h0 + crlf + manana}}},
        {"file replaced by a folder: the capture cannot go on", QTime(10, 0, 0),
         [](Banco &b) {
             QFile::remove(b.g.carpeta + dia("00"));
             QDir(b.g.carpeta).mkdir(dia("00"));
         },
         E::Fallo, "07-12-2026-00.log", {}},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        Banco b(row.inicio);
        ASSERT_TRUE(b.inicia());
        ASSERT_EQ(b.c.escribe(b.marca()).estado, E::Escrito);
        if (row.antes)
            row.antes(b);
        b.clock.advance(5);

        SinEscritura cerrojo(b.g.carpeta);
        if (row.primero == E::Denegado && !cerrojo.cierra())
            GTEST_SKIP() << "write access cannot be taken away here";
        const long antes = escrituras();
        Captura::Escritura r = b.c.escribe(b.marca());
        EXPECT_EQ(r.estado, row.primero);
        EXPECT_EQ(r.renombrado, b.g.fichero != dia("00"));
        if (row.primero == E::Denegado) {
            EXPECT_EQ(r.mensaje, QStringLiteral("No se puede escribir en el fichero de captura %1: sin permiso de escritura.")
                                     .arg(b.g.carpeta + b.g.fichero));
            EXPECT_EQ(b.c.pendientes(), 1);
            cerrojo.abre();
            r = b.c.vuelca();
        }
        if (row.primero == E::Fallo) {
            EXPECT_TRUE(r.mensaje.startsWith(u8("No se puede escribir en el fichero de captura"))) << r.mensaje.toStdString();
            continue;
        }
        EXPECT_EQ(r.estado, E::Escrito);
        EXPECT_EQ(b.c.pendientes(), 0);
        if (antes >= 0) {
            EXPECT_EQ(escrituras() - antes, 1) << "one write() per line";
        }
        EXPECT_EQ(b.g.fichero, u8(row.fichero));
        EXPECT_EQ(titulo(b.g), QStringLiteral("Climalog [COM2] - ") + u8(row.fichero));
        for (const auto &[name, bytes] : row.ficheros)
            EXPECT_EQ(b.lee(name), bytes) << name.toStdString();
    }
}

TEST(CaptureDurability, KilledWriterLeavesWholeLines)
{
    Banco b(QTime(0, 0, 1), {sala, hum, {DET, "Puerta", true, {}, {0, 1}}});
    ASSERT_TRUE(b.inicia());
    const QString name = b.g.fichero;
    const QByteArray header = b.lee(name).chopped(2);

    const unsigned seed = std::random_device{}();
    SCOPED_TRACE(testing::Message() << "seed " << seed);
    std::mt19937 rng(seed);
    QByteArray antes = b.lee(name);
    for (int ronda = 0; ronda < 10; ++ronda) {
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            // A program restarted on the same file, writing as fast as it can.
            if (!b.inicia())
                ::_exit(2);
            for (int k = 0; k < 50000; ++k) {
                b.clock.advance(1);
                if (b.c.escribe(b.marca()).estado != Captura::Estado::Escrito)
                    ::_exit(3);
            }
            ::_exit(0);
        }
        ::usleep(std::uniform_int_distribution<useconds_t>(5000, 60000)(rng));
        ::kill(pid, SIGKILL);
        int status = 0;
        ::waitpid(pid, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status) || (WIFEXITED(status) && WEXITSTATUS(status) == 0)) << "writer failed";
        const QByteArray ahora = b.lee(name);
        ASSERT_TRUE(ahora.startsWith(antes)) << "the file only grows";
        antes = ahora;
    }

    // The next run appends right after the last whole line: nothing to repair.
    b.clock.set(QDateTime(QDate(2026, 12, 7), QTime(23, 0, 0)));
    ASSERT_EQ(b.c.escribe(b.marca()).estado, Captura::Estado::Escrito);
    EXPECT_EQ(b.lee(name), antes + "07-12-2026 23:00:00  21,5  22  47  1  0\r\n");

    QList<QByteArray> lines = b.lee(name).split('\n');
    ASSERT_EQ(lines.takeLast(), QByteArray());
    EXPECT_GT(lines.size(), 12) << "the writers got lines out";
    EXPECT_EQ(lines.takeFirst(), header + '\r');
    for (const QByteArray &line : lines) {
        EXPECT_TRUE(line.endsWith('\r') && line.startsWith("07-12-2026 ")) << line.toStdString();
        EXPECT_EQ(columnas(line.chopped(1)), columnas(header)) << line.toStdString();
    }
}

TEST(CaptureScale, FullTableLinesAreWhole)
{
    Banco b;
    for (int i = 2; i <= maxDispositivos; ++i) {
        const QByteArray name = QByteArray::number(i);
        addDevice(b.g, {static_cast<std::int16_t>(1 + i % 5), name.constData(), i % 7 != 0, {20.25f, 1, 2, 3}, {0, 1}, {"V", "A", "W", "Pa"}});
    }
    b.g.modificado = false;
    ASSERT_TRUE(b.inicia());
    const long antes = escrituras();
    constexpr int lineas = 5;
    for (int k = 0; k < lineas; ++k) {
        b.clock.advance(3);
        ASSERT_EQ(b.c.escribe(b.marca()).estado, Captura::Estado::Escrito);
    }
    if (antes >= 0) {
        EXPECT_EQ(escrituras() - antes, lineas) << "one write() per line";
    }
    const QList<QByteArray> lines = b.lee(b.g.fichero).split('\n');
    ASSERT_EQ(lines.size(), lineas + 2);
    for (int k = 1; k <= lineas; ++k)
        EXPECT_EQ(columnas(lines[k]), columnas(lines[0])) << "line " << k;
}
