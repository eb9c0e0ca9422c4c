// The configuration file as bytes on disk: files are laid out here by hand
// from the record's field table, never by the writer under test.
#include "registry/configfile.h"
#include "registry/general.h"
#include "support/support.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <functional>
#include <random>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace configfile;

// One 140-byte record, fields placed at their offsets.
struct Rec {
    QByteArray b = QByteArray(140, '\0');
    Rec &text(int off, int width, const QByteArray &s)
    {
        for (int k = 0; k < width; ++k)
            b[off + k] = k < s.size() ? s[k] : ' ';
        return *this;
    }
    Rec &raw(int off, const QByteArray &s)
    {
        b.replace(off, s.size(), s);
        return *this;
    }
    Rec &i16(int off, int v)
    {
        b[off] = char(v & 0xFF);
        b[off + 1] = char((v >> 8) & 0xFF);
        return *this;
    }
    Rec &f32(int off, std::uint32_t bits)
    {
        for (int k = 0; k < 4; ++k)
            b[off + k] = char((bits >> (8 * k)) & 0xFF);
        return *this;
    }
};

Rec entry0() { return Rec().text(0, 16, "00"); }
Rec device(const QByteArray &name, int tipo) { return Rec().text(0, 16, name).i16(24, tipo); }

QByteArray join(std::initializer_list<Rec> recs)
{
    QByteArray out;
    for (const Rec &r : recs)
        out += r.b;
    return out;
}

// A General with content of its own, to show a failed load left it alone.
General occupied(const QString &folder)
{
    General g;
    g.appFolder = folder;
    g.dispactual.nombre = QStringLiteral("Previo");
    g.dispactual.tipo = DET;
    g.nuevo();
    g.estados[1].crudo[0] = 7;
    g.cogereldet();
    return g;
}

bool sameState(const General &a, const General &b)
{
    if (a.dispositivos != b.dispositivos || a.modificado != b.modificado || a.estados.size() != b.estados.size()
        || a.lstdet.size() != b.lstdet.size())
        return false;
    for (std::size_t i = 0; i < a.estados.size(); ++i)
        if (a.estados[i].crudo != b.estados[i].crudo || a.estados[i].valido != b.estados[i].valido)
            return false;
    return true;
}

QStringList entries(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
}

} // namespace

// Each field alone at its offset, little-endian, and back.
TEST(ConfigFile, FieldLayout)
{
    struct Row {
        const char *name;
        std::function<void(Dispositivo &)> set;
        int offset;
        QByteArray bytes;
    };
    const Row rows[] = {
        {"nombre", [](Dispositivo &d) { d.nombre = QStringLiteral("Sala ñ"); }, 0, "Sala \xF1          "},
        {"sn 00 FF", [](Dispositivo &d) { d.sn = {0x00, 0xFF, 0x00, 0xFF, 0x80, 0x01, 0x7F, 0xFE}; }, 16,
         QByteArray("\x00\xFF\x00\xFF\x80\x01\x7F\xFE", 8)},
        {"tipo", [](Dispositivo &d) { d.tipo = 0x1234; }, 24, "\x34\x12"},
        {"ajuste[3] negative", [](Dispositivo &d) { d.ajuste[3] = -2; }, 32, "\xFE\xFF"},
        {"alarma[1] 1.5", [](Dispositivo &d) { d.alarma[1] = 1.5f; }, 38, QByteArray("\x00\x00\xC0\x3F", 4)},
        {"ganancia[3] NaN payload", [](Dispositivo &d) { d.ganancia[3] = std::bit_cast<float>(0x7FA12345u); }, 62,
         "\x45\x23\xA1\x7F"},
        {"magnitud[2] degrees", [](Dispositivo &d) { d.magnitud[2] = QStringLiteral("°C"); }, 82, "\xB0" "C      "},
        {"snrele[3]", [](Dispositivo &d) { d.snrele[3] = {1, 2, 3, 4, 5, 6, 7, 0xFF}; }, 122,
         "\x01\x02\x03\x04\x05\x06\x07\xFF"},
        {"salrele[0]", [](Dispositivo &d) { d.salrele[0] = -32768; }, 130, QByteArray("\x00\x80", 2)},
        {"periodo", [](Dispositivo &d) { d.periodo = 300; }, 138, "\x2C\x01"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        Dispositivo d;
        row.set(d);
        const QByteArray expected = Rec().raw(row.offset, row.bytes).b;
        char out[140];
        encode(d, out);
        EXPECT_EQ(QByteArray(out, 140).toHex(' '), expected.toHex(' '));
        const Dispositivo back = decode(expected.constData());
        char again[140];
        encode(back, again);
        EXPECT_EQ(QByteArray(again, 140), expected);
    }
}

// Lengths round to the nearest record count, halves to even; a failed
// read leaves the General as it was.
TEST(ConfigFile, ReadLengths)
{
    const QByteArray two = join({entry0(), device("Sonda", STT).i16(138, 60)});
    const QByteArray three = two + device("Tercera", STT).f32(50, 0x40490FDB).b;
    struct Row {
        const char *name;
        QByteArray file; // null: no file at all
        Status status;
        int records;
    };
    const Row rows[] = {
        {"two records one device", two, Status::Loaded, 2},
        {"210 bytes rounds up to 2", two.left(210), Status::Loaded, 2},
        {"350 bytes rounds down to 2", three.left(350), Status::Loaded, 2},
        {"360 bytes partial third", three.left(360), Status::Loaded, 3},
        {"extra bytes ignored", two + QByteArray(60, '\xEE'), Status::Loaded, 2},
        {"71 bytes entry 0 only", two.left(71), Status::Loaded, 1},
        {"70 bytes refused", two.left(70), Status::Refused, 0},
        {"1 byte refused", two.left(1), Status::Refused, 0},
        {"empty refused", QByteArray(""), Status::Refused, 0},
        {"missing", QByteArray(), Status::Missing, 0},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        TempFolder tf;
        General g = occupied(tf.path());
        const General before = g;
        if (!row.file.isNull())
            tf.write("config1.ini", row.file);

        const ReadResult r = read(g.configPath());
        EXPECT_EQ(r.status, row.status);
        ASSERT_EQ(r.table.size(), std::size_t(row.records));
        // Whatever the file lacks of its last record reads as zero.
        QByteArray expected = row.file.left(row.records * 140);
        expected.append(QByteArray(row.records * 140 - expected.size(), '\0'));
        EXPECT_EQ(encode(r.table), expected);

        const ReadResult loaded = load(g);
        EXPECT_EQ(loaded.status, row.status);
        if (row.status == Status::Loaded) {
            EXPECT_EQ(g.n(), row.records - 1);
            EXPECT_EQ(g.estados.size(), g.dispositivos.size());
            EXPECT_TRUE(std::all_of(g.estados.begin(), g.estados.end(), [](const EstadoDisp &e) { return e.valido; }));
            EXPECT_FALSE(g.modificado);
        } else {
            EXPECT_TRUE(sameState(g, before));
        }
        if (row.status == Status::Refused)
            EXPECT_TRUE(loaded.message.contains(QDir::toNativeSeparators(g.configPath()))) << qPrintable(loaded.message);
        else
            EXPECT_TRUE(loaded.message.isEmpty());
    }
}

// Loading sorts the table and the index lists follow the sorted positions.
TEST(ConfigFile, LoadSorts)
{
    struct Row {
        const char *name;
        QByteArray file;
        QStringList names;
        bool modificado;
        std::vector<std::int16_t> detectors;
    };
    const Row rows[] = {
        {"out of order", join({entry0(), device("b", STT), device("A", DET), device("z", AVI)}), {"z", "A", "b"}, true, {2}},
        {"in order", join({entry0(), device("z", AVI), device("c", CTR), device("A", STT)}), {"z", "c", "A"}, false, {}},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        TempFolder tf;
        General g;
        g.appFolder = tf.path();
        tf.write("config1.ini", row.file);
        ASSERT_EQ(load(g).status, Status::Loaded);
        QStringList names;
        for (int i = 1; i <= g.n(); ++i)
            names << g.dispositivos[i].nombre.trimmed();
        EXPECT_EQ(names, row.names);
        EXPECT_EQ(g.modificado, row.modificado);
        EXPECT_EQ(g.secuencia(), "00");
        std::vector<std::int16_t> detectors;
        for (std::size_t k = 1; k < g.lstdet.size(); ++k)
            detectors.push_back(g.lstdet[k].indice);
        EXPECT_EQ(detectors, row.detectors);
    }
}

// A table built in the program lands on disk exactly as laid out by hand.
TEST(ConfigFile, SaveBytes)
{
    TempFolder tf;
    General g;
    g.appFolder = tf.path();
    g.puerto = 2;
    const auto add = [&](const char *name, std::int16_t tipo, std::uint8_t last) {
        g.dispactual = Dispositivo{};
        g.dispactual.nombre = QString::fromLatin1(name);
        g.dispactual.tipo = tipo;
        g.dispactual.sn = {0x28, 0, 0, 0, 0, 0, 0xFF, last};
        g.dispactual.alarma[0] = 25.5f;
        g.dispactual.periodo = 60;
        g.nuevo();
    };
    add("b", STT, 1);
    add("A", STT, 2);
    add("z", AVI, 3);
    ASSERT_EQ(save(g).status, SaveStatus::Saved);
    EXPECT_FALSE(g.modificado);

    const auto rec = [](const char *name, int tipo, char last) {
        return device(name, tipo).raw(16, QByteArray("\x28\0\0\0\0\0\xFF", 7) + last).f32(34, 0x41CC0000).i16(138, 60);
    };
    const QByteArray expected = join({entry0(), rec("z", AVI, 3), rec("A", STT, 2), rec("b", STT, 1)});
    const QByteArray file = tf.read("config3.ini");
    EXPECT_EQ(file.size(), 560);
    EXPECT_EQ(file.toHex(' '), expected.toHex(' '));
    EXPECT_EQ(entries(tf.path()), QStringList{"config3.ini"});
}

// Bytes no text or number conversion could carry survive a load and save.
TEST(ConfigFile, LoadSaveKeepsBytes)
{
    QByteArray everyByte(512, '\0');
    for (int k = 0; k < 512; ++k)
        everyByte[k] = char(k);
    // 48 text bytes a record (nombre, magnitud), so six records hold all 256.
    const auto texts = [&](int from) {
        return Rec().raw(0, everyByte.mid(from, 16)).i16(24, AVI).raw(66, everyByte.mid(from + 16, 32));
    };
    struct Row {
        const char *name;
        Rec rec;
    };
    const Row rows[] = {
        {"serials 00 and FF",
         device("a", STT).raw(16, QByteArray("\x00\xFF\x00\xFF\x00\xFF\x00\xFF", 8)).raw(98, QByteArray(32, '\xFF'))},
        {"NaN payloads and infinities",
         device("a", HRT).f32(34, 0x7F800001).f32(38, 0xFFC0DEAD).f32(50, 0x7F800000).f32(54, 0xFF800000).f32(58, 0x80000000)},
        {"text bytes 00-2F", texts(0)},
        {"text bytes 30-5F", texts(48)},
        {"text bytes 60-8F", texts(96)},
        {"text bytes 90-BF", texts(144)},
        {"text bytes C0-EF", texts(192)},
        {"text bytes F0-FF", texts(240)},
        {"odd numbers", device("a", -32768).i16(26, 32767).i16(130, -1).i16(138, -32768)},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        TempFolder tf;
        General g;
        g.appFolder = tf.path();
        // A second record sorting after the row's keeps the file in order.
        const QByteArray file = join({entry0().raw(16, everyByte.mid(200, 124)), row.rec, device("\xFF\xFF", STT)});
        tf.write("config1.ini", file);
        ASSERT_EQ(load(g).status, Status::Loaded);
        EXPECT_FALSE(g.modificado);
        g.modificado = true;
        ASSERT_EQ(save(g).status, SaveStatus::Saved);
        EXPECT_EQ(tf.read("config1.ini").toHex(' '), file.toHex(' '));
    }
}

// Nothing changed, or no devices: no write at all, not even of a lost file.
TEST(ConfigFile, SaveNothingToDo)
{
    struct Row {
        const char *name;
        bool modificado;
        int devices;
    };
    const Row rows[] = {{"unchanged", false, 2}, {"no devices", true, 0}};
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        TempFolder tf;
        General g;
        g.appFolder = tf.path();
        tf.write("config1.ini", join({entry0(), device("a", STT), device("b", STT)}));
        load(g);
        QFile::remove(g.configPath());
        g.dispositivos.resize(row.devices + 1);
        g.modificado = row.modificado;
        EXPECT_EQ(save(g).status, SaveStatus::NothingToDo);
        EXPECT_TRUE(entries(tf.path()).isEmpty());
    }
}

TEST(ConfigFile, Unreadable)
{
    struct Row {
        const char *name;
        std::function<void(const QString &)> make;
        bool needsNonRoot;
        const char *why;
    };
    const Row rows[] = {
        {"no permission",
         [](const QString &p) {
             QFile f(p);
             f.open(QIODevice::WriteOnly);
             f.write(join({entry0(), device("a", STT)}));
             f.close();
             ::chmod(QFile::encodeName(p).constData(), 0);
         },
         true, "permiso denegado"},
        {"folder in its place", [](const QString &p) { QDir().mkpath(p + "/dentro"); }, false, "es una carpeta, no un fichero"},
        {"pipe in its place", [](const QString &p) { ::mkfifo(QFile::encodeName(p).constData(), 0666); }, false,
         "no es un fichero normal"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        if (row.needsNonRoot && ::geteuid() == 0)
            continue; // root reads any file; the other rows cover the status
        TempFolder tf;
        General g = occupied(tf.path());
        const General before = g;
        row.make(g.configPath());
        const ReadResult r = load(g);
        EXPECT_EQ(r.status, Status::Unreadable);
        EXPECT_EQ(r.message, QStringLiteral("No se puede leer el fichero de configuración %1: %2.")
                                 .arg(QDir::toNativeSeparators(g.configPath()), row.why));
        EXPECT_TRUE(sameState(g, before));
    }
}

// A failed save leaves the old file byte for byte, no temporary, and the
// table still marked modified.
TEST(ConfigFile, SaveFailureKeepsOldFile)
{
    const QByteArray old = join({entry0(), device("viejo", STT), device("otro", STT)});
    struct Row {
        const char *name;
        const char *folder; // under the test folder
        bool needsNonRoot;
        const char *why;
    };
    const Row rows[] = {
        {"missing folder", "no/existe", false, "la carpeta no existe"},
        // The file size limit binds root too, and fails mid-write like a full disk.
        {"write cut short", "", false, "el fichero supera el tamaño máximo permitido"},
        {"read-only folder", "", true, "permiso denegado"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        if (row.needsNonRoot && ::geteuid() == 0)
            continue; // root writes into read-only folders
        TempFolder tf;
        General g;
        g.appFolder = QDir(tf.path()).filePath(row.folder);
        const bool hasOld = QDir(g.appFolder).exists();
        if (hasOld)
            tf.write("config1.ini", old);
        g.dispactual.nombre = QStringLiteral("nuevo");
        for (int k = 0; k < 100; ++k)
            g.nuevo();

        rlimit saved{};
        ::getrlimit(RLIMIT_FSIZE, &saved);
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        if (std::string(row.name) == "write cut short") {
            rlimit small = saved;
            small.rlim_cur = 4096;
            ::setrlimit(RLIMIT_FSIZE, &small);
        }
        if (row.needsNonRoot)
            ::chmod(QFile::encodeName(tf.path()).constData(), 0555);
        const SaveResult r = save(g);
        ::chmod(QFile::encodeName(tf.path()).constData(), 0755);
        ::setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, oldHandler);

        EXPECT_EQ(r.status, SaveStatus::Failed);
        EXPECT_EQ(r.message, QStringLiteral("No se ha podido salvar la configuración en %1: %2.")
                                 .arg(QDir::toNativeSeparators(g.configPath()), row.why));
        EXPECT_TRUE(g.modificado);
        if (hasOld) {
            EXPECT_EQ(tf.read("config1.ini"), old);
            EXPECT_EQ(entries(tf.path()), QStringList{"config1.ini"});
        } else {
            EXPECT_TRUE(entries(tf.path()).isEmpty());
        }
    }
}

// Random files of every length and byte: reading never fails on content,
// the raw records come back byte for byte, and a loaded table saves as a
// permutation of its records with entry 0 first.
TEST(ConfigFile, RandomFiles)
{
    const std::uint32_t seed = 20261207;
    std::mt19937 rng(seed);
    const std::uint32_t oddFloats[] = {0x7FC00000, 0x7F800001, 0xFFFFFFFF, 0x7F800000, 0xFF800000, 0x80000000, 0x00000001};
    const int oddTypes[] = {-32768, -1, 0, 1, 2, 3, 4, 5, 6, 32767};
    TempFolder tf;
    int loaded = 0;
    for (int round = 0; round < 3000; ++round) {
        SCOPED_TRACE(testing::Message() << "seed " << seed << " round " << round);
        int length = std::uniform_int_distribution<int>(0, 5000)(rng);
        if (round % 4 == 0) // lengths at and around the rounding edges
            length = std::max(0, 70 * std::uniform_int_distribution<int>(0, 60)(rng) + int(rng() % 3) - 1);
        QByteArray file(length, '\0');
        for (char &c : file)
            c = char(rng());
        for (int r = 0; r * 140 + 140 <= length; ++r) {
            char *rec = file.data() + r * 140;
            if (rng() % 2) {
                const int t = oddTypes[rng() % std::size(oddTypes)];
                rec[24] = char(t & 0xFF);
                rec[25] = char((t >> 8) & 0xFF);
            }
            for (int f = 0; f < 8; ++f) // alarma and ganancia
                if (rng() % 3 == 0) {
                    const std::uint32_t bits = oddFloats[rng() % std::size(oddFloats)];
                    for (int k = 0; k < 4; ++k)
                        rec[34 + 4 * f + k] = char((bits >> (8 * k)) & 0xFF);
                }
        }
        // A fresh file each round: truncating one makes the file system flush it.
        QFile::remove(tf.file("config1.ini"));
        tf.write("config1.ini", file);

        const qint64 count = recordCount(length);
        const ReadResult r = read(tf.file("config1.ini"));
        ASSERT_EQ(r.status, count == 0 ? Status::Refused : Status::Loaded);
        QByteArray expected = file.left(count * 140);
        expected.append(QByteArray(count * 140 - expected.size(), '\0'));
        // A sequence number that is not two digits reads as "00".
        QByteArray seq = expected.left(16);
        while (seq.startsWith(' '))
            seq.remove(0, 1);
        while (seq.endsWith(' '))
            seq.chop(1);
        if (count > 0 && !(seq.size() == 2 && seq[0] >= '0' && seq[0] <= '9' && seq[1] >= '0' && seq[1] <= '9'))
            expected.replace(0, 16, QByteArray("00").leftJustified(16));
        ASSERT_EQ(encode(r.table), expected);
        if (count == 0)
            continue;

        General g;
        g.appFolder = tf.path();
        apply(g, r.table);
        ASSERT_EQ(g.estados.size(), std::size_t(count));
        for (std::size_t k = 1; k < g.lstdet.size(); ++k)
            ASSERT_EQ(g.dispositivos[g.lstdet[k].indice].tipo, DET);
        if (++loaded % 20 != 0 || g.n() == 0) // saves sync the disk: a sample is enough
            continue;
        g.modificado = true;
        ASSERT_EQ(save(g).status, SaveStatus::Saved);
        const QByteArray saved = tf.read("config1.ini");
        ASSERT_EQ(saved.size(), expected.size());
        EXPECT_EQ(saved.left(140), expected.left(140));
        std::vector<QByteArray> a, b;
        for (qint64 k = 1; k < count; ++k) {
            a.push_back(saved.mid(k * 140, 140));
            b.push_back(expected.mid(k * 140, 140));
        }
        std::sort(a.begin(), a.end());
        std::sort(b.begin(), b.end());
        EXPECT_TRUE(a == b);
        // What was saved sorted loads as unmodified.
        EXPECT_EQ(load(g).status, Status::Loaded);
        EXPECT_FALSE(g.modificado);
    }
}

// The largest table, and files beyond it: the first 32768 records load.
TEST(ConfigFile, FullTable)
{
    TempFolder tf;
    std::vector<Dispositivo> table(maxRecords);
    table[0].nombre = QStringLiteral("00");
    for (std::size_t i = 1; i < table.size(); ++i) {
        table[i].nombre = QStringLiteral("D%1").arg(i, 5, 10, QLatin1Char('0'));
        table[i].tipo = std::int16_t(1 + i % 5);
        table[i].periodo = std::int16_t(i);
    }
    ASSERT_TRUE(write(tf.file("config1.ini"), table).ok);
    const ReadResult back = read(tf.file("config1.ini"));
    ASSERT_EQ(back.status, Status::Loaded);
    EXPECT_TRUE(back.message.isEmpty());
    const QByteArray full = encode(table);
    EXPECT_EQ(encode(back.table), full);

    struct Row {
        const char *name;
        QByteArray extra;
        bool cut;
    };
    const Row rows[] = {
        {"half a record more rounds to even", QByteArray(70, 'x'), false},
        {"one record more", device("sobrante", STT).b, true},
        {"many records more", QByteArray(140 * 1000, 'x'), true},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        tf.write("config1.ini", full + row.extra);
        const ReadResult r = read(tf.file("config1.ini"));
        EXPECT_EQ(r.status, Status::Loaded);
        EXPECT_EQ(r.table.size(), std::size_t(maxRecords));
        EXPECT_EQ(encode(r.table), full);
        EXPECT_EQ(r.message.contains("solo se han cargado los 32767 primeros"), row.cut) << qPrintable(r.message);
    }
}

// The capture file names are built from entry 0's name: anything but two
// digits would give names like "08-12-2026-7.log" or no extension at all.
TEST(ConfigFile, SequenceNumberOtherThanTwoDigitsReadsAs00)
{
    struct Row {
        const char *name;
        QByteArray nombre; // entry 0's 16 bytes
        QByteArray read;   // what the table holds
    };
    const Row rows[] = {
        {"two digits", QByteArray("42").leftJustified(16), QByteArray("42").leftJustified(16)},
        {"blanks around two digits", QByteArray(" 07").leftJustified(16), QByteArray(" 07").leftJustified(16)},
        {"one digit", QByteArray("7").leftJustified(16), QByteArray("00").leftJustified(16)},
        {"zero bytes", QByteArray(16, '\0'), QByteArray("00").leftJustified(16)},
        {"a line break inside", QByteArray("0\r\n1").leftJustified(16), QByteArray("00").leftJustified(16)},
        {"three digits", QByteArray("100").leftJustified(16), QByteArray("00").leftJustified(16)},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        TempFolder tf;
        tf.write("config1.ini", join({Rec().raw(0, row.nombre), device("Sonda", STT)}));
        const ReadResult r = read(tf.file("config1.ini"));
        ASSERT_EQ(r.status, Status::Loaded);
        EXPECT_EQ(encode(r.table).left(16), row.read);
        const bool repaired = row.read != row.nombre;
        EXPECT_EQ(r.message.contains(QStringLiteral("no es válido; se usa 00")), repaired) << r.message.toStdString();
    }
}

// A configuration kept elsewhere through a link stays linked, and what
// earlier saves cut off left beside it goes.
TEST(ConfigFile, SaveThroughALinkRemovesLeftovers)
{
    TempFolder tf;
    QDir(tf.path()).mkpath(QStringLiteral("real"));
    const QByteArray old = join({entry0(), device("viejo", STT)});
    tf.write("real/config1.ini", old);
    ASSERT_TRUE(QFile::link(tf.file("real/config1.ini"), tf.file("config1.ini")));
    for (const char *name : {"real/config1.ini.tmp-0badf00d", "real/config1.ini.tmp-12345678", "real/config1.ini.tmp-x",
                             "real/config2.ini.tmp-12345678"})
        tf.write(name, QByteArray(1000, 'x'));

    General g;
    g.appFolder = tf.path();
    g.dispactual.nombre = QStringLiteral("nuevo");
    g.dispactual.tipo = STT;
    g.nuevo();
    ASSERT_EQ(save(g).status, SaveStatus::Saved);

    EXPECT_TRUE(QFileInfo(tf.file("config1.ini")).isSymbolicLink());
    EXPECT_EQ(tf.read("real/config1.ini"), encode(g.dispositivos));
    EXPECT_EQ(entries(tf.file("real")),
              (QStringList{"config1.ini", "config1.ini.tmp-x", "config2.ini.tmp-12345678"}))
        << "only this file's own leftovers go";
}
