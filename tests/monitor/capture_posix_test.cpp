// Capture files on a real disk: the exact bytes of headers and lines, the
// choice of the day's file, midnight, torn lines, a file the program may not
// write, and a writer killed at random moments (a line written in pieces
// would show there torn).
#include "monitor/capture.h"

#include "registry/configfile.h"
#include "registry/general.h"
#include "support/support.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include <csignal>
#include <fcntl.h>
#include <functional>
#include <linux/fs.h>
#include <random>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const QByteArray h0 = "Hora  Sala (\272C)\r\n", l0 = "07-12-2026 10:00:00  21,5\r\n";
const TestDevice sala{STT, "Sala", true, {21.5f}};
QString dia(const char *seq) { return QStringLiteral("07-12-2026-%1.log").arg(QLatin1String(seq)); }

// Sets or clears the flag that refuses writes even to root; false where
// it cannot be set.
bool inmutable(const QString &path, bool on)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY);
    int flags = 0;
    const bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 &&
        ::ioctl(fd, FS_IOC_SETFLAGS,
                (flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL, &flags)) == 0;
    ::close(fd);
    return ok;
}

// A capture on port COM2 from a fresh application folder: files in <folder>/2/.
struct Banco {
    explicit Banco(QTime hora = QTime(10, 0, 0), std::vector<TestDevice> devices = {sala})
        : clock(QDateTime(QDate(2026, 12, 7), hora))
    {
        g.appFolder = t.path(), g.nombrepuerto = QStringLiteral("COM2"),
        g.carpeta = t.path() + QStringLiteral("/2/");
        for (const TestDevice &d : devices)
            addDevice(g, d);
        g.modificado = false; // as loaded
    }
    QByteArray lee(const QString &name) const { return t.read(QStringLiteral("2/") + name); }
    void pon(const QString &name, const QByteArray &bytes) const
    {
        QDir(t.path()).mkpath(QStringLiteral("2"));
        t.write(QStringLiteral("2/") + name, bytes);
    }
    QString marca() const { return clock.now().toString(QStringLiteral("dd-MM-yyyy HH:mm:ss")); }
    bool start()
    {
        return c.start(
            m, [this] { return configfile::save(g).status != configfile::SaveStatus::Failed; });
    }

    TempFolder t;
    TestClock clock;
    General g;
    ScriptedMessages m;
    Captura c{g, clock};
};

} // namespace

// A capture that cannot start says why; a file a crash left empty or with
// its header torn is taken and mended; other columns move to the next number.
TEST(Capture, StartRefusedMendedOrMovedOn)
{
    const QByteArray otra = "Hora  Otra (\272C)\r\n";
    // Every number of the day taken by other columns but `libre` (-1: none).
    const auto llena = [&](Banco &b, int libre) {
        for (int k = 0; k < 100; ++k)
            if (k != libre)
                b.pon(QStringLiteral("07-12-2026-%1.log").arg(k, 2, 10, QLatin1Char('0')), otra);
    };
    const std::pair<std::function<void(Banco &)>, const char *> rows[] = {
        {[](Banco &b) { b.t.write("2", "x"); }, "No se puede crear la carpeta de capturas "},
        {[](Banco &b) { QDir(b.t.path()).mkpath("2/" + dia("00")); },
         "No se puede leer el fichero de captura "},
        {[&](Banco &b) { llena(b, -1); },
         "Todos los ficheros de captura de hoy (07-12-2026-00.log a 07-12-2026-99.log) tienen "
         "otras columnas. La captura no se inicia."},
        {[&](Banco &b) { b.pon(dia("00"), otra), QDir(b.t.path()).mkdir("config1.ini"); },
         "La configuración ha sido modificada."}, // unsaved
        {[](Banco &b) { b.pon(dia("00"), ""); }, nullptr},
        // A number of one digit taken too: the hundred two-digit numbers after it are all tried.
        {[&](Banco &b) {
             llena(b, 7), b.pon(dia("7"), otra), b.g.dispositivos[0].nombre = QStringLiteral("7");
         },
         nullptr},
        {[](Banco &b) { b.pon(dia("00"), h0.chopped(2)); }, nullptr},
    };
    for (const auto &[estorbo, mensaje] : rows) {
        Banco b;
        estorbo(b);
        b.m.answer(Messages::Answer::Ok);
        EXPECT_EQ(b.start(), !mensaje);
        if (mensaje) {
            EXPECT_TRUE(b.m.texts.last().startsWith(QString::fromUtf8(mensaje)) &&
                        b.g.fichero.isEmpty())
                << b.m.texts.join('|').toStdString();
            continue;
        }
        ASSERT_EQ(b.c.escribe(b.marca()).estado, Captura::Estado::Escrito);
        EXPECT_EQ(b.lee(b.g.fichero), h0 + l0);
    }
    // The number a capture moves to when the day's file of its own holds other columns.
    for (const auto &[seq, next] : {std::pair("09", "10"), {" 7", "08"}, {"99", "00"}})
        EXPECT_EQ(siguienteSecuencia(QString::fromLatin1(seq)), QString::fromLatin1(next));
    // Saving the changed table sorts it: the day's file that held its
    // columns before the save holds other columns after it.
    Banco b(QTime(10, 0, 0), {sala, {STT, "A", true, {1}}});
    b.g.modificado = true;
    b.pon(dia("00"), "Hora  Sala (\272C)  A (\272C)\r\n");
    ASSERT_TRUE(b.start());
    EXPECT_EQ(std::pair(b.g.fichero, b.lee(dia("01"))),
              std::pair(dia("01"), QByteArray("Hora  A (\272C)  Sala (\272C)\r\n")));
}

// A file that cannot be written for longer than the memory set aside for
// its lines: an hour of lines wait, or 64 MB of them when that is less; the
// rest is left out. Once writable, the ticks that follow write every
// waiting line once, in order, then theirs; the gap is the range named.
TEST(Capture, WaitingLinesStayWithinAnHourAnd64MBAndKeepTheirOrder)
{
    const struct {
        const char *name;
        int sensores, ticks;
    } rows[] = {
        {"one sensor: an hour of lines", 1, 3605},
        {"4000 sensors: 64 MB of lines", 4000, 3000},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        Banco b(QTime(10, 0, 0),
                std::vector<TestDevice>(static_cast<std::size_t>(row.sensores), sala));
        ASSERT_TRUE(b.start());
        ASSERT_EQ(b.c.escribe(b.marca()).estado, Captura::Estado::Escrito);
        const qint64 header = static_cast<qint64>(b.lee(b.g.fichero).indexOf('\n')) + 1,
                     line = b.lee(b.g.fichero).size() - header;
        {
            SinEscritura cerrojo(b.t.file(QStringLiteral("2")));
            if (!cerrojo.cierra())
                GTEST_SKIP() << "write access cannot be taken away here";
            for (int k = 0; k < row.ticks; ++k)
                b.clock.advance(1), b.c.escribe(b.marca());
        }
        const qint64 waiting = b.c.pendientes();
        EXPECT_LE(waiting, 3600);
        EXPECT_LE(waiting * line, qint64(64) << 20);
        EXPECT_TRUE(waiting == 3600 || waiting * line > (qint64(64) << 20) - line)
            << waiting << " lines of " << line << " bytes";
        int after = 0;
        for (; b.c.pendientes() > 1 && after < 1000; ++after)
            b.clock.advance(1), b.c.escribe(b.marca());
        b.clock.advance(1), b.c.escribe(b.marca()), ++after;
        EXPECT_EQ(b.c.pendientes(), 0);

        // The first line, those that waited (the first ticks'), the gap, then
        // the lines of the ticks after: every byte.
        const auto stamp = [](int s) {
            return QString::asprintf("07-12-2026 %02d:%02d:%02d", 10 + s / 3600, s / 60 % 60,
                                     s % 60);
        };
        const QByteArray file = b.lee(b.g.fichero), rest = file.mid(header + 19, line - 19);
        const int last = row.ticks + after;
        QByteArray expected = file.left(header);
        for (int s = 0; s <= last; ++s)
            if (s <= waiting || s > last - after)
                expected += stamp(s).toLatin1() + rest;
        EXPECT_TRUE(file == expected)
            << file.size() << " bytes, " << expected.size() << " expected";
        EXPECT_TRUE(b.c.takeNotice().startsWith(
            QStringLiteral("No se han escrito en la captura las lecturas de %1 a %2:")
                .arg(stamp(int(waiting) + 1), stamp(last - after))));
    }
}

// A second line 5 s after the first, with what happened between them.
TEST(Capture, LinesAcrossDaysDamageAndDeniedFiles)
{
    const QByteArray l1 = "07-12-2026 10:00:05  21,5\r\n",
                     noche = h0 + "07-12-2026 23:59:58  21,5\r\n",
                     manana = h0 + "08-12-2026 00:00:03  21,5\r\n";
    const QString hoy = dia("00"), luego = QStringLiteral("08-12-2026-00.log");
    using E = Captura::Estado;
    const auto nada = [](Banco &) {};
    const auto existe = [](Banco &b) { b.pon("08-12-2026-00.log", "Hora  X\r\n"); };
    const auto rota = [](Banco &b) { b.pon(dia("00"), b.lee(dia("00")) + "07-12-2026 10:0"); };
    const auto sinCarpeta = [](Banco &b) { QDir(b.g.carpeta).removeRecursively(); };
    const auto carpeta = [](Banco &b) {
        QFile::remove(b.g.carpeta + dia("00")), QDir(b.g.carpeta).mkdir(dia("00"));
    };
    // antes: what happens between the lines; estado: what the second line meets; bytes: the file's
    // then (across midnight today's holds its first line alone); marca: its time stamp, when not the
    // clock's; inmutable: the file refuses even root (EPERM), a permission question as well.
    const struct Row {
        const char *name;
        QTime inicio;
        std::function<void(Banco &)> antes;
        E estado;
        const QString &fichero;
        QByteArray bytes;
        const char *marca = nullptr;
        bool inmutable = false;
    } rows[] = {
        {"a line stamped before midnight and written after it stays in its day", QTime(23, 59, 58),
         nada, E::Escrito, hoy, noche + "07-12-2026 23:59:59  21,5\r\n", "07-12-2026 23:59:59"},
        {"midnight into an existing file: appended, nothing lost", QTime(23, 59, 58), existe,
         E::Escrito, luego, "Hora  X\r\n" + manana},
        {"a torn last line is ended before the next", QTime(10, 0, 0), rota, E::Escrito, hoy,
         h0 + l0 + "07-12-2026 10:0\r\n" + l1},
        {"the capture folder deleted meanwhile is made again, the file headed", QTime(10, 0, 0),
         sinCarpeta, E::Escrito, hoy, h0 + l1},
        {"no write permission at midnight: the header waits with its line", QTime(23, 59, 58), nada,
         E::Denegado, luego, manana},
        {"file replaced by a folder: the capture cannot go on", QTime(10, 0, 0), carpeta, E::Fallo,
         hoy, QByteArray()},
        {"an immutable file: the line waits", QTime(10, 0, 0), nada, E::Denegado, hoy, h0 + l0 + l1,
         nullptr, true},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        Banco b(row.inicio);
        ASSERT_TRUE(b.start());
        ASSERT_EQ(b.c.escribe(b.marca()).estado, E::Escrito);
        row.antes(b);
        b.clock.advance(5);
        SinEscritura cerrojo(b.g.carpeta);
        if (row.inmutable && !inmutable(b.g.carpeta + hoy, true))
            GTEST_SKIP()
                << "no immutable files here (not root, or the file system keeps no such flag)";
        ASSERT_TRUE(row.estado != E::Denegado || row.inmutable || cerrojo.cierra());
        Captura::Escritura r = b.c.escribe(row.marca ? QString::fromLatin1(row.marca) : b.marca());
        EXPECT_EQ(r.estado, row.estado);
        EXPECT_EQ(r.renombrado, b.g.fichero != hoy);
        const char *why =
            row.estado == E::Fallo ? "es una carpeta, no un fichero." : "sin permiso de escritura.";
        EXPECT_EQ(r.mensaje,
                  row.estado == E::Escrito
                      ? QString()
                      : QStringLiteral("No se puede escribir en el fichero de captura %1: %2")
                            .arg(b.g.carpeta + row.fichero, QLatin1String(why)));
        if (row.estado == E::Fallo)
            continue;
        if (row.estado == E::Denegado) {
            EXPECT_EQ(b.c.pendientes(), 1);
            cerrojo.abre();
            inmutable(b.g.carpeta + hoy, false);
            r = b.c.flush();
        }
        EXPECT_EQ(r.estado, E::Escrito);
        EXPECT_EQ(b.c.pendientes(), 0);
        EXPECT_EQ(b.lee(row.fichero), row.bytes);
        if (&row.fichero == &luego) {
            EXPECT_EQ(b.lee(hoy), noche);
        }
    }
}

// The header and lines of every type: inputs after the readings, word 0 an
// active input; humidity in point form; no column for an unknown type; a
// failed reading an ERR in each column. Writers killed at random moments
// leave whole lines only.
TEST(Capture, HeaderAndLinesOfEveryTypeWholeWhenKilled)
{
    Banco b(QTime(0, 0, 1),
            {{HRT, "Inv", true, {22, 47.5f}},
             {DET, "Puerta", true, {}, {0, 1}},
             {9, "Raro"},
             {AVI, "Caudal", true, {0.5f, 1380, -2.25f, 12345678.0f}, {}, {"V", " mA ", "", "Pa"}},
             {STT, "  Cámara ", true, {-0.5f}},
             {STT, "T", false, {21.5f}},
             {HRT, "H", false},
             {AVI, "C", false, {}, {}, {"V", "V", "V", "V"}},
             {CTR, "R", false}});
    ASSERT_TRUE(b.start());
    const QByteArray header = b.lee(b.g.fichero),
                     values = "  22  47.5  ,5  1380  -2,25  1,234568E+07  -,5  ERR  ERR  ERR  ERR  "
                              "ERR  ERR  ERR  1  0  ERR  ERR\r";
    EXPECT_EQ(header,
              "Hora  Inv (\272C)  Inv (%)  Caudal - a (V)  Caudal - b (mA)  Caudal - c ()  "
              "Caudal - d (Pa)  C\341mara (\272C)  T (\272C)  H (\272C)  H (%)  C - a (V)  "
              "C - b (V)  C - c (V)  C - d (V)  Puerta - 1  Puerta - 2  R - 1  R - 2\r\n");
    const unsigned seed = std::random_device{}();
    std::mt19937 rng(seed);
    QByteArray antes = header;
    for (int ronda = 0; ronda < 10; ++ronda) {
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) { // a program restarted on the same file, writing as fast as it can
            bool ok = b.start();
            for (int k = 0; ok && k < 50000; ++k)
                b.clock.advance(1), ok = b.c.escribe(b.marca()).estado == Captura::Estado::Escrito;
            ::_exit(ok ? 0 : 3);
        }
        ::usleep(std::uniform_int_distribution<useconds_t>(5000, 60000)(rng));
        ::kill(pid, SIGKILL);
        int status = 0;
        ::waitpid(pid, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status) || (WIFEXITED(status) && WEXITSTATUS(status) == 0))
            << "writer failed, seed " << seed;
        const QByteArray ahora = b.lee(b.g.fichero);
        ASSERT_TRUE(ahora.startsWith(antes)) << "the file only grows, seed " << seed;
        antes = ahora;
    }
    // The next run appends right after the last whole line: nothing to repair.
    b.clock.set(QDateTime(QDate(2026, 12, 7), QTime(23, 0, 0)));
    ASSERT_EQ(b.c.escribe(b.marca()).estado, Captura::Estado::Escrito);
    EXPECT_EQ(b.lee(b.g.fichero), antes + "07-12-2026 23:00:00" + values + '\n');
    QList<QByteArray> lines = antes.mid(header.size()).split('\n');
    EXPECT_EQ(lines.takeLast(), QByteArray());
    EXPECT_GT(lines.size(), 10) << "the writers got lines out";
    for (const QByteArray &l : lines)
        EXPECT_TRUE(l.startsWith("07-12-2026 ") && l.mid(19) == values)
            << l.toStdString() << ", seed " << seed;
}
