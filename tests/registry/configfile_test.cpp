// The device table and its configuration file as bytes on disk: files are
// laid out here by hand from the record's field table, never by the writer
// under test.
#include "registry/configfile.h"
#include "registry/general.h"
#include "support/support.h"

#include <QDir>
#include <QFileInfo>
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <functional>
#include <random>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace configfile;

namespace {

Rec entry0(const QByteArray &seq = "00") { return Rec().text(0, 16, seq); }
Rec device(const QByteArray &name, int tipo = STT)
{
    return Rec().text(0, 16, name).num(24, std::uint16_t(tipo));
}
QStringList entries(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
}

} // namespace

// A save writes the table sorted (every field at its offset: the soak's
// model) to the file a link names (the link stays a link), and removes what
// earlier saves of that file cut off left beside it. A save that fails half-way (the file size
// limit, as a full disk) leaves that file byte for byte, no temporary and
// the table marked modified.
TEST(ConfigFile, SaveBytesThroughALink)
{
    TempFolder tf;
    QDir(tf.path()).mkpath(QStringLiteral("real"));
    tf.write("real/config3.ini", entry0().b + device("viejo").b);
    ASSERT_TRUE(QFile::link(tf.file("real/config3.ini"), tf.file("config3.ini")));
    for (const char *name : {"config3.ini.tmp-0badf00d", "config3.ini.tmp-12345678",
                             "config3.ini.tmp-x", "config2.ini.tmp-12345678"})
        tf.write(QStringLiteral("real/") + name, QByteArray(1000, 'x')), tf.write(name, "x");
    // Named as a temporary, but a folder and a link: not this program's.
    QDir(tf.path()).mkdir("config3.ini.tmp-00000000"),
        QFile::link(tf.file("real/config3.ini"), tf.file("config3.ini.tmp-abcdef01"));
    General g;
    g.appFolder = tf.path(), g.puerto = 2;
    g.dispactual.nombre = QStringLiteral("Sala"), g.dispactual.tipo = STT;
    g.nuevo();
    g.dispactual.nombre = QStringLiteral("z"), g.dispactual.tipo = AVI;
    g.nuevo();
    ASSERT_EQ(save(g).status, SaveStatus::Saved);
    EXPECT_FALSE(g.modificado);
    const QByteArray saved = entry0().b + device("z", AVI).b + device("Sala").b;
    const QStringList left{"config2.ini.tmp-12345678", "config3.ini", "config3.ini.tmp-x"};
    EXPECT_EQ(tf.read("real/config3.ini").toHex(' '), saved.toHex(' '));
    EXPECT_TRUE(QFileInfo(tf.file("config3.ini")).isSymbolicLink());
    EXPECT_EQ(entries(tf.file("real")), left) << "only this file's own leftovers go";
    EXPECT_EQ(entries(tf.path()),
              (QStringList{"config2.ini.tmp-12345678", "config3.ini", "config3.ini.tmp-00000000",
                           "config3.ini.tmp-abcdef01", "config3.ini.tmp-x", "real"}))
        << "beside the link too";
    EXPECT_EQ(save(g).status, SaveStatus::NothingToDo) << "nothing changed since";

    for (int k = 0; k < 100; ++k)
        g.nuevo();
    rlimit limit{}, small{4096, RLIM_INFINITY};
    ::getrlimit(RLIMIT_FSIZE, &limit);
    small.rlim_max = limit.rlim_max;
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    ::setrlimit(RLIMIT_FSIZE, &small);
    const SaveResult r = save(g);
    ::setrlimit(RLIMIT_FSIZE, &limit);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(std::pair(r.status, g.modificado), std::pair(SaveStatus::Failed, true));
    EXPECT_EQ(r.message,
              QStringLiteral("No se ha podido salvar la configuración en %1: el fichero supera el "
                             "tamaño máximo permitido.")
                  .arg(QDir::toNativeSeparators(tf.file("config3.ini"))));
    EXPECT_EQ(entries(tf.file("real")), left);
    EXPECT_EQ(tf.read("real/config3.ini"), saved);
}

// What a load makes of files of every length, files that are no files,
// sequence numbers that cannot name a capture file, and tables past the
// largest: a refused or unreadable file leaves the table as it was. (A
// sorted file loaded unmodified: the soak's model.)
TEST(ConfigFile, LoadsOfDamagedFiles)
{
    const QByteArray two = entry0().b + device("Sonda").num(138, 60).b;
    QByteArray full = entry0("x").b;
    for (int i = 1; i <= maxDispositivos + 1; ++i)
        full += device(QByteArray::number(100000 + i)).b;
    const QString seq = "\r\nEl número de secuencia de las capturas en %1 no es válido; se usa 00.";
    // message: %1 is the file's path; seq: entry 0's name as read, when not as in the file.
    const struct Row {
        const char *name;
        QByteArray file;
        Status status;
        int records;
        QString message = {};
        const char *seq = nullptr;
    } rows[] = {
        {"210 bytes round up to 2 records", two.left(210), Status::Loaded, 2},
        {"70 bytes refused", two.left(70), Status::Refused, 0,
         "El fichero de configuración %1 es demasiado corto (70 bytes) y no se ha cargado."},
        {"a pipe in its place", "pipe", Status::Unreadable, 0,
         "No se puede leer el fichero de configuración %1: no es un fichero normal."},
        {"sequence number with blanks around", entry0(" 09").b + device("S").b, Status::Loaded, 2},
        {"the largest table loads without a word",
         entry0().b + full.mid(140, maxDispositivos * 140), Status::Loaded, maxDispositivos + 1},
        {"records past the largest table, a bad sequence number too", full, Status::Loaded,
         maxDispositivos + 1,
         "El fichero de configuración %1 tiene más dispositivos de los que admite el programa; "
         "solo se han cargado los 32767 primeros." +
             seq,
         "00"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        TempFolder tf;
        General g;
        g.appFolder = tf.path(), g.dispactual.tipo = DET;
        g.nuevo(), g.cogereldet();
        if (row.file == "pipe")
            ::mkfifo(QFile::encodeName(g.configPath()).constData(), 0666);
        else
            tf.write("config1.ini", row.file);
        const ReadResult r = read(g.configPath());
        EXPECT_EQ(r.status, row.status);
        EXPECT_EQ(r.message, row.message.arg(QDir::toNativeSeparators(g.configPath())));
        QByteArray expected =
            row.file.left(row.records * 140).leftJustified(row.records * 140, '\0');
        if (row.seq)
            expected.replace(0, 16, QByteArray(row.seq).leftJustified(16));
        EXPECT_EQ(encode(r.table), expected);

        EXPECT_EQ(load(g).status, row.status);
        EXPECT_EQ(g.n(), row.records ? row.records - 1 : 1)
            << "a refused file leaves the table as it was";
        EXPECT_TRUE(!row.records ||
                    std::all_of(g.estados.begin(), g.estados.end(),
                                [](const EstadoDisp &e) { return e.valido; }))
            << "a loaded table's readings are valid";
        EXPECT_EQ(g.lstdet.size() - 1,
                  std::size_t(std::count_if(g.dispositivos.begin() + 1, g.dispositivos.end(),
                                            [](auto &d) { return d.tipo == DET; })));
    }
}

// Random files of every length and byte: reading never fails on content, and
// the records come back byte for byte (NaN payloads, odd numbers, every text
// byte), the only repair a bad sequence number.
TEST(ConfigFile, RandomFiles)
{
    std::mt19937 rng(20261207);
    TempFolder tf;
    for (int round = 0; round < 3000; ++round) {
        SCOPED_TRACE(round);
        // A quarter of the lengths at and around the rounding edges.
        const int length =
            round % 4 ? int(rng() % 5000) : std::max(0, 70 * int(rng() % 60) + int(rng() % 3) - 1);
        QByteArray file(length, '\0');
        for (char &c : file)
            c = char(rng());
        for (int r = 0; r * 140 + 140 <= length;
             r += 1 + rng() % 2) // every type, and some that are none
            file.replace(r * 140 + 24, 2,
                         Rec().num(0, std::uint16_t(int(rng() % 12) - 3)).b.left(2));
        // A fresh file each round: truncating one makes the file system flush it.
        QFile::remove(tf.file("config1.ini"));
        tf.write("config1.ini", file);
        const ReadResult r = read(tf.file("config1.ini"));
        const int count = int(r.table.size());
        ASSERT_TRUE(std::abs(length - 140 * count) <= 70) << "the nearest number of records";
        ASSERT_EQ(r.status, count == 0 ? Status::Refused : Status::Loaded);
        const QByteArray got = encode(r.table);
        ASSERT_EQ(got.mid(16), file.left(count * 140).leftJustified(count * 140, '\0').mid(16));
        General g; // sorted and indexed, whatever its types and names
        apply(g, r.table);
        ASSERT_EQ(g.estados.size(),
                  std::max<std::size_t>(r.table.size(), 1)); // nothing at all: entry 0 as it was
    }
}

// A save killed at any moment leaves the previous table or the new one on
// disk, whole: never a missing, short or mixed file.
TEST(ConfigFile, KilledSaveLeavesOneWholeTable)
{
    TempFolder tf;
    const QString path = tf.file("config1.ini");
    // Different sizes and contents, so a torn or mixed file cannot pass.
    std::vector<Dispositivo> a(3001), b(2501);
    for (std::size_t i = 1; i < a.size(); ++i)
        a[i].alarma.fill(float(i)), b[i % 2500 + 1].periodo = std::int16_t(i);
    ASSERT_TRUE(configfile::write(path, a).ok);
    std::mt19937 rng(7);
    for (int round = 0, done[2]; round < 20; ++round) {
        ASSERT_EQ(::pipe(done), 0);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        for (long i = 0; child == 0;
             ++i) // the child saves one table, then the other, until it is killed
            if (!configfile::write(path, i % 2 == 0 ? b : a).ok || ::write(done[1], "x", 1) != 1)
                ::_exit(2);
        ::close(done[1]);
        // Every other round lets a save finish first, so the file changes; the
        // kill then falls at a random moment of the saves that follow.
        if (char c; round % 2 == 1) {
            EXPECT_EQ(::read(done[0], &c, 1), 1);
        }
        ::usleep(std::uniform_int_distribution<unsigned>(0, 30000)(rng));
        ::kill(child, SIGKILL);
        int status = 0;
        ::waitpid(child, &status, 0);
        ::close(done[0]);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL)
            << "the saving child failed on its own";
        const QByteArray now = tf.read("config1.ini");
        EXPECT_TRUE(now == encode(a) || now == encode(b))
            << "round " << round << ": file of " << now.size() << " bytes";
    }
}

// Records carry their reading blocks when sorted or deleted; entry 0 stays;
// the table is marked modified exactly when it changed.
TEST(General, TableOperationsCarryReadingsAndMarkChanges)
{
    const auto sort = [](General &g) { g.ordena(); };
    const auto first = [](General &g) { g.borra(1); };
    const auto outside = [](General &g) { g.borra(2), g.borra(0), g.modifica(2), g.modifica(0); };
    // devices: their names, z a converter and the others sensors; order: the
    // original positions after the operation.
    const struct Row {
        const char *name, *devices;
        std::function<void(General &)> op;
        std::vector<int> order;
        const char *names;
        bool modificado = true;
    } rows[] = {
        {"types then names", "b A z", sort, {3, 2, 1}, "z A b"},
        {"by character code: capitals first", "b a B", sort, {3, 2, 1}, "B a b"},
        {"sorted stays unmodified", "z A b", sort, {1, 2, 3}, "z A b", false},
        {"delete the first of three", "a b c", first, {2, 3}, "b c"},
        {"delete or modify out of range: nothing", "a", outside, {1}, "a", false},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        General g;
        g.estados[0].proxima = 999;
        for (const QString &name : QString::fromLatin1(row.devices).split(u' ')) {
            g.dispactual.tipo = name == QStringLiteral("z") ? AVI : STT, g.dispactual.nombre = name,
            g.dispactual.periodo = std::int16_t(g.n() + 1);
            g.nuevo(), g.estados.back().proxima = 10 * g.n();
        }
        g.modificado = false;
        row.op(g);
        ASSERT_EQ(g.n(), int(row.order.size()));
        ASSERT_EQ(g.estados.size(), g.dispositivos.size());
        QStringList names;
        for (int k = 1; k <= g.n(); ++k) {
            names << g.dispositivos[k].nombre.trimmed();
            EXPECT_EQ(std::pair(int(g.dispositivos[k].periodo), g.estados[k].proxima),
                      std::pair(row.order[k - 1], 10 * row.order[k - 1]))
                << k;
        }
        EXPECT_EQ(names.join(' '), row.names);
        EXPECT_EQ(std::pair(g.secuencia(), g.estados[0].proxima),
                  std::pair(QStringLiteral("00"), 999));
        EXPECT_EQ(g.modificado, row.modificado);
    }
    General full;
    while (full.nuevo() != 0) {
    }
    EXPECT_EQ(full.n(), 32767) << "the table holds at most 32767 devices";
}
