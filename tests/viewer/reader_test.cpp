// Capture files read back: every column kind, ERR, repeated headers, torn
// and LF-only lines, files of other kinds; live following that reads only
// what was appended; the writer's own lines; random and mutated files.
#include "viewer/capturereader.h"

#include "monitor/capture.h"
#include "registry/cp1252.h"
#include "registry/general.h"
#include "support/support.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <array>
#include <charconv>
#include <cmath>
#include <random>
#include <functional>
#include <string>
#include <sys/stat.h>

namespace {

std::string fmt(double v)
{
    if (std::isnan(v))
        return "ERR";
    char text[32];
    return std::string(text, std::to_chars(text, text + sizeof text, v).ptr);
}

// The reader's whole result as text: a line per column set, "device|kind|unit"
// per column, then "time value value..." per reading line.
std::string dump(const CaptureReader &r)
{
    std::string out;
    for (const ColumnSet &s : r.sets()) {
        out += "[";
        for (const Column &c : s.columns)
            out += " " + c.device.toStdString() + "|" + "THCI"[static_cast<int>(c.kind)] + "|" + c.unit.toStdString();
        out += " ]\n";
        const std::vector<QDateTime> times = s.qtimes();
        for (std::size_t row = 0; row < s.times.size(); ++row) {
            out += times[row].toString(QStringLiteral("dd-MM-yyyy HH:mm:ss")).toStdString();
            for (const std::vector<double> &column : s.values)
                out += " " + fmt(column[row]);
            out += "\n";
        }
    }
    if (r.failed())
        out += "error: " + r.error().toStdString();
    return out;
}

QByteArrayView piece(const QByteArray &text, qsizetype at, qsizetype n)
{
    return QByteArrayView(text.constData() + at, std::min(n, text.size() - at));
}

void append(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::Append));
    ASSERT_EQ(f.write(bytes), bytes.size());
}

const QByteArray everyKind = "Hora  Sala (\xBA" "C)  Inv (\xBA" "C)  Inv (%)  Bomba - a (bar)  Bomba - b ()  Puerta - 1  Puerta - 2\r\n";

} // namespace

TEST(CaptureReader, ParsesCaptureTexts)
{
    struct Row {
        const char *name;
        QByteArray text;
        std::string expected;
        qint64 rejected = 0;
    };
    const Row rows[] = {
        {"every column kind, comma and point decimals",
         everyKind + "07-12-2026 10:00:00  21,5  22.25  47  ,5  -,25  1  0\r\n",
         "[ Sala|T|ºC Inv|T|ºC Inv|H|% Bomba|C|bar Bomba|C| Puerta|I| Puerta|I| ]\n"
         "07-12-2026 10:00:00 21.5 22.25 47 0.5 -0.25 1 0\n"},
        {"ERR, exponent, NaN and infinity",
         "Hora  A (\xBA" "C)  B - a (Pa)  C - b (Pa)  D - c (Pa)\r\n07-12-2026 10:00:00  ERR  1,234568E+07  NaN  -Inf\r\n",
         "[ A|T|ºC B|C|Pa C|C|Pa D|C|Pa ]\n07-12-2026 10:00:00 ERR 12345680 ERR ERR\n"},
        {"repeated header starts a new column set",
         "Hora  Sala (\xBA" "C)\r\n07-12-2026 10:00:00  21\r\nHora  Sala (\xBA" "C)  Hum (%)\r\n07-12-2026 10:05:00  22  40\r\n",
         "[ Sala|T|ºC ]\n07-12-2026 10:00:00 21\n[ Sala|T|ºC Hum|H|% ]\n07-12-2026 10:05:00 22 40\n"},
        {"torn last line waits for its end", "Hora  Sala (\xBA" "C)\r\n07-12-2026 10:00:00  21\r\n07-12-2026 10:00:01  2",
         "[ Sala|T|ºC ]\n07-12-2026 10:00:00 21\n"},
        {"LF alone ends lines too", "Hora  Sala (\xBA" "C)\n07-12-2026 10:00:00  21\n07-12-2026 10:00:01  22\n",
         "[ Sala|T|ºC ]\n07-12-2026 10:00:00 21\n07-12-2026 10:00:01 22\n"},
        {"name holding two blanks and an accent", "Hora  Sala  Norte (\xBA" "C)  C\xE1mara - 1\r\n07-12-2026 23:59:59  -3  1\r\n",
         "[ Sala  Norte|T|ºC Cámara|I| ]\n07-12-2026 23:59:59 -3 1\n"},
        {"header alone: a capture just started", "Hora  Sala (\xBA" "C)\r\n", "[ Sala|T|ºC ]\n"},
        {"capture without devices", "Hora\r\n07-12-2026 10:00:00\r\n", "[ ]\n07-12-2026 10:00:00\n"},
        {"empty file: nothing yet, no error", "", ""},
        {"bad lines are counted and left out",
         "Hora  Sala (\xBA" "C)  Hum (%)\r\n"
         "07-12-2026 10:00:00  21\r\n"        // a value missing
         "07-12-2026 10:00:01  21  40  7\r\n" // one too many
         "31-02-2026 10:00:02  21  40\r\n"    // no such day
         "07-12-2026 24:00:00  21  40\r\n"    // no such hour
         "07-12-2026 10:00:04  21x  40\r\n"   // not a number
         "\r\n"                               // empty: ignored, not counted
         "Hora  Sala\r\n"                     // a header of nothing known
         "07-12-2026 10:00:05  21  40\r\n",
         "[ Sala|T|ºC Hum|H|% ]\n07-12-2026 10:00:05 21 40\n", 6},
        {"a line torn by a crash and ended by the writer is dropped",
         "Hora  Sala (\xBA" "C)  Hum (%)\r\n07-12-2026 10:00:00  2\r\n07-12-2026 10:00:02  21  40\r\n",
         "[ Sala|T|ºC Hum|H|% ]\n07-12-2026 10:00:02 21 40\n", 1},
        {"configuration file bytes", QByteArray("00              ") + QByteArray(124, '\0') + "Sala" + QByteArray(12, ' '),
         "error: No es un fichero de captura."},
        {"random text", "Lista de la compra\r\npan\r\n", "error: No es un fichero de captura."},
        {"readings before any header", "07-12-2026 10:00:00  21\r\nHora  Sala (\xBA" "C)\r\n",
         "error: No es un fichero de captura."},
        {"starts like a header but is none", "Horario de verano\r\n", "error: No es un fichero de captura."},
        {"a line longer than any header is dropped, the rest read",
         "Hora  Sala (\xBA" "C)\r\n" + QByteArray(5 << 20, '7') + "\r\n07-12-2026 10:00:00  21\r\n",
         "[ Sala|T|ºC ]\n07-12-2026 10:00:00 21\n", 1},
        {"a first line longer than any header", "Hora  " + QByteArray(5 << 20, 'x'), "error: No es un fichero de captura."},
        {"blank lines before the header", "\r\n\nHora  Sala (\xBA" "C)\r\n07-12-2026 10:00:00  21\r\n",
         "[ Sala|T|ºC ]\n07-12-2026 10:00:00 21\n"},
        {"binary without a line end is given up early", QByteArray("\x7f" "ELF\x02\x01\x01", 7),
         "error: No es un fichero de captura."},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        CaptureReader r;
        r.feed(row.text);
        EXPECT_EQ(dump(r), row.expected);
        EXPECT_EQ(r.rejected(), row.rejected);
        // Bytes arriving a few at a time, as a file being written shows them.
        for (const qsizetype n : {1, 7}) {
            CaptureReader parts;
            for (qsizetype at = 0; at < row.text.size(); at += n)
                parts.feed(piece(row.text, at, n));
            EXPECT_EQ(dump(parts), row.expected) << n << " bytes at a time";
            EXPECT_EQ(parts.rejected(), row.rejected) << n << " bytes at a time";
        }
    }
}

// Headers the writer makes of any legal device name: names with two blanks,
// names that end like a column (" - 1", " (ºC)") or hold parentheses, units
// with two blanks. The cut follows the writer's column order and the field
// count of the first line under the header.
TEST(CaptureReader, ReadsWriterHeadersOfAnyLegalName)
{
    struct Row {
        const char *name;
        std::vector<TestDevice> devices;
        std::string expected;
    };
    const Row rows[] = {
        {"two blanks and \" - 1\" in a sensor's name",
         {{STT, "Zona - 1  Norte", true, {21.5f}}, {DET, "Puerta", true, {}, {0, 1}}},
         "[ Zona - 1  Norte|T|ºC Puerta|I| Puerta|I| ]\n07-12-2026 10:00:00 21.5 1 0\n"},
        {"a detector named like an input", {{DET, "A - 1  B", true, {}, {1, 0}}},
         "[ A - 1  B|I| A - 1  B|I| ]\n07-12-2026 10:00:00 0 1\n"},
        {"parentheses and two blanks in a humidity sensor's name", {{HRT, "Sala (1)  Este", true, {20, 48}}},
         "[ Sala (1)  Este|T|ºC Sala (1)  Este|H|% ]\n07-12-2026 10:00:00 20 48\n"},
        {"a converter named like a channel, units with blanks and parentheses",
         {{AVI, "B - a (x)  Y", true, {1.5f, 2, 0, -3}, {}, {"m  s", "(%)", "", "bar"}}},
         "[ B - a (x)  Y|C|m  s B - a (x)  Y|C|(%) B - a (x)  Y|C| B - a (x)  Y|C|bar ]\n"
         "07-12-2026 10:00:00 1.5 2 0 -3\n"},
        {"a name holding a whole column: the line's field count decides",
         {{STT, "X", true, {1}}, {STT, "Y (\xC2\xBA" "C)  Z", false}},
         "[ X|T|ºC Y (ºC)  Z|T|ºC ]\n07-12-2026 10:00:00 1 ERR\n"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        General g;
        for (const TestDevice &d : row.devices)
            addDevice(g, d);
        const QString text = cabecera(g) + QStringLiteral("\r\n") + linea(g, QStringLiteral("07-12-2026 10:00:00")) +
                             QStringLiteral("\r\n");
        CaptureReader r;
        r.feed(QByteArray::fromStdString(cp1252::encode(text)));
        EXPECT_EQ(dump(r), row.expected);
        EXPECT_EQ(r.rejected(), 0);
    }
}

// The documented limit: 32 767 converters with 16-character names and
// 8-character units make a header of over 4 MiB, read whole from the disk.
TEST(CaptureReader, ReadsTheHeaderOfTheLargestTable)
{
    TempFolder t;
    General g;
    for (int i = 0; i < 32767; ++i) {
        const QByteArray name = QByteArray("Convertidor") + QByteArray::number(i).rightJustified(5, '0');
        const int k = addDevice(g, {AVI, name.constData(), true, {1.5f, 2, 0, -3}, {}, {"unidad_a", "unidad_b", "", "bar"}});
        ASSERT_EQ(k, i + 1) << "the table takes every device";
    }
    const std::string bytes = cp1252::encode(cabecera(g) + QStringLiteral("\r\n") +
                                             linea(g, QStringLiteral("07-12-2026 10:00:00")) + QStringLiteral("\r\n"));
    ASSERT_GT(bytes.size(), std::size_t{4} << 20);
    t.write(QStringLiteral("07-12-2026-00.log"), QByteArray::fromStdString(bytes));
    CaptureReader r(t.file(QStringLiteral("07-12-2026-00.log")));
    ASSERT_EQ(r.follow(), CaptureReader::Change::Appended) << r.error().toStdString();
    ASSERT_EQ(r.sets().size(), 1u);
    const ColumnSet &s = r.sets()[0];
    ASSERT_EQ(s.columns.size(), std::size_t{32767} * 4);
    ASSERT_EQ(s.times.size(), 1u);
    EXPECT_EQ(s.columns.back().name, QStringLiteral("Convertidor32766 - d (bar)"));
    EXPECT_EQ(s.values.back()[0], -3);
    EXPECT_EQ(s.columns[1].unit, QStringLiteral("unidad_b"));
}

TEST(CaptureReader, FollowReadsOnlyWhatWasAppended)
{
    const QByteArray header = "Hora  Sala (\xBA" "C)\r\n";
    const QByteArray l1 = "07-12-2026 10:00:00  21\r\n", l2 = "07-12-2026 10:00:01  21,5\r\n",
                     l3 = "07-12-2026 10:00:02  ERR\r\n";
    using C = CaptureReader::Change;
    struct Step {
        QByteArray bytes;
        C change;
        qint64 rows;
        bool rewrite = false; // the file is written anew instead of appended to
    };
    struct Row {
        const char *name;
        std::vector<Step> steps;
    };
    const Row rows[] = {
        {"lines appended one by one", {{header + l1, C::Appended, 1}, {l2, C::Appended, 2}, {"", C::None, 2}, {l3 + l1, C::Appended, 4}}},
        {"a line reaching the disk in parts",
         {{header + "07-12-2026 10:00:00  2", C::Appended, 0}, {"1,5\r", C::None, 0}, {"\n", C::Appended, 1}}},
        {"the header in parts", {{"Ho", C::None, 0}, {"ra  Sala (\xBA" "C)", C::None, 0}, {"\r\n" + l1, C::Appended, 1}}},
        {"a restart appends a header", {{header + l1, C::Appended, 1}, {header, C::Appended, 1}, {l2, C::Appended, 2}}},
        {"a file shortened by another program is read again",
         {{header + l1 + l2 + l3, C::Appended, 3}, {header + l1, C::Reset, 1, true}, {l2, C::Appended, 2}}},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        TempFolder t;
        const QString path = t.file(QStringLiteral("07-12-2026-00.log"));
        t.write(QStringLiteral("07-12-2026-00.log"), "");
        CaptureReader r(path);
        for (std::size_t k = 0; k < row.steps.size(); ++k) {
            SCOPED_TRACE(k);
            const Step &step = row.steps[k];
            if (step.rewrite)
                t.write(QStringLiteral("07-12-2026-00.log"), step.bytes);
            else
                append(path, step.bytes);
            const qint64 size = QFileInfo(path).size();
            const qint64 readBefore = r.bytesRead(), offsetBefore = r.offset();
            EXPECT_EQ(r.follow(), step.change);
            EXPECT_EQ(r.rows(), step.rows);
            EXPECT_EQ(r.offset(), size);
            EXPECT_EQ(r.bytesRead() - readBefore, step.rewrite ? size : size - offsetBefore) << "only new bytes are read";
            EXPECT_FALSE(r.failed()) << r.error().toStdString();
        }
    }
}

TEST(CaptureReader, FilesThatCannotBeFollowed)
{
    struct Row {
        const char *name;
        std::function<void(const QString &)> make;
        const char *error;
    };
    const Row rows[] = {
        {"missing", [](const QString &) {}, "No se encuentra el fichero 07-12-2026-00.log."},
        {"a folder", [](const QString &p) { QDir().mkpath(p); }, "07-12-2026-00.log no es un fichero normal."},
#ifndef _WIN32
        // A reader that opened a pipe would wait for a writer forever.
        {"a pipe", [](const QString &p) { ::mkfifo(QFile::encodeName(p).constData(), 0600); },
         "07-12-2026-00.log no es un fichero normal."},
#endif
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        TempFolder t;
        const QString path = t.file(QStringLiteral("07-12-2026-00.log"));
        row.make(path);
        CaptureReader r(path);
        EXPECT_EQ(r.follow(), CaptureReader::Change::Failed);
        EXPECT_EQ(r.error(), QString::fromUtf8(row.error));
        // Unlike a file of other bytes, this may pass: the next look tries again.
        QFile::remove(path);
        QDir().rmdir(path);
        t.write(QStringLiteral("07-12-2026-00.log"), "Hora  Sala (\xBA" "C)\r\n07-12-2026 10:00:00  21\r\n");
        EXPECT_EQ(r.follow(), CaptureReader::Change::Appended);
        EXPECT_FALSE(r.failed());
        EXPECT_EQ(r.rows(), 1);
    }
}

// The capture writing a file on disk while the reader follows it: lines of
// every device kind read back as the readings written, so the two sides
// cannot drift apart; a crash tearing a line in between.
TEST(CaptureReader, FollowsTheWriterOnDisk)
{
    TempFolder t;
    TestClock clock;
    General g;
    g.appFolder = t.path();
    g.nombrepuerto = QStringLiteral("COM2");
    g.carpeta = t.path() + QStringLiteral("/2/");
    const TestDevice devices[] = {
        {STT, "Sala", true, {21.5f}, {}, {"", "", "", ""}},
        {STT, "Pasillo", false, {}, {}, {"", "", "", ""}},
        {HRT, "Invernadero", true, {-0.25f, 47.5f}, {}, {"", "", "", ""}},
        {AVI, "Bomba", true, {0.5f, 1380, -2.25f, 12345678.0f}, {}, {"bar", "", "l/min", "Pa"}},
        {DET, "Puerta", true, {}, {0, 1}, {"", "", "", ""}},
        {CTR, "Rele", false, {}, {}, {"", "", "", ""}},
    };
    for (const TestDevice &d : devices)
        addDevice(g, d);
    g.modificado = false;
    ScriptedMessages m;
    Captura c(g, clock);
    ASSERT_TRUE(c.inicia(m, [] { return true; }));

    CaptureReader r(g.carpeta + g.fichero);
    EXPECT_EQ(r.follow(), CaptureReader::Change::Appended);
    c.escribe(QStringLiteral("07-12-2026 10:00:00"));
    EXPECT_EQ(r.follow(), CaptureReader::Change::Appended);
    append(g.carpeta + g.fichero, "07-12-2026 10:0");
    EXPECT_EQ(r.follow(), CaptureReader::Change::None);
    g.estados[1].lectura[0] = -3.5f;
    c.escribe(QStringLiteral("07-12-2026 10:00:03"));
    EXPECT_EQ(r.follow(), CaptureReader::Change::Appended);
    EXPECT_EQ(dump(r), "[ Sala|T|ºC Pasillo|T|ºC Invernadero|T|ºC Invernadero|H|% Bomba|C|bar Bomba|C| Bomba|C|l/min "
                       "Bomba|C|Pa Puerta|I| Puerta|I| Rele|I| Rele|I| ]\n"
                       "07-12-2026 10:00:00 21.5 ERR -0.25 47.5 0.5 1380 -2.25 12345680 1 0 ERR ERR\n"
                       "07-12-2026 10:00:03 -3.5 ERR -0.25 47.5 0.5 1380 -2.25 12345680 1 0 ERR ERR\n");
    EXPECT_EQ(r.rejected(), 1) << "the torn line, ended by the writer";
    EXPECT_EQ(r.bytesRead(), QFileInfo(g.carpeta + g.fichero).size());
}

namespace {

QByteArray mutate(QByteArray text, std::mt19937 &rng)
{
    const auto pick = [&](qsizetype n) { return n <= 0 ? qsizetype{0} : static_cast<qsizetype>(rng() % static_cast<unsigned>(n)); };
    static const QByteArray pieces[] = {"Hora  ", "Hora  X (\xBA" "C)  Y - 1\r\n", "ERR", ",", ".", "  ", "\r\n", "\n", "\r",
                                        "E+99", "-", "99-99-9999 99:99:99", "07-12-2026 10:00:00", "\0", "\xBA", "(", ")", " - a ("};
    const int count = 1 + static_cast<int>(rng() % 4);
    for (int k = 0; k < count; ++k) {
        const qsizetype at = pick(text.size() + 1);
        switch (rng() % 6) {
        case 0:
            if (!text.isEmpty())
                text[pick(text.size())] = static_cast<char>(rng());
            break;
        case 1:
            text.remove(at, pick(40));
            break;
        case 2:
            text.insert(at, pieces[pick(std::size(pieces))]);
            break;
        case 3: // a line said twice
            text.insert(at, text.mid(pick(text.size()), pick(80)));
            break;
        case 4:
            text.truncate(at);
            break;
        default:
            for (int n = pick(20); n > 0; --n)
                text.insert(pick(text.size() + 1), static_cast<char>(rng()));
        }
    }
    return text;
}

} // namespace

// Random and mutated files, whole and in random pieces: never a crash (the
// sanitized build checks memory), the same result however the bytes arrive,
// and column sets that stay rectangular.
TEST(CaptureReader, SurvivesRandomAndMutatedFiles)
{
    QByteArray base = everyKind;
    for (int s = 0; s < 20; ++s)
        base += QStringLiteral("07-12-2026 10:00:%1  21,5  22.25  47  ,5  ERR  1  0\r\n").arg(s, 2, 10, QLatin1Char('0')).toLatin1();
    base += "Hora  Sala (\xBA" "C)  Bomba - c (l/min)\r\n07-12-2026 10:01:00  1,234568E+07  -,25\r\n";

    std::mt19937 rng(20261207);
    int captures = 0;
    for (int iteration = 0; iteration < 4000; ++iteration) {
        QByteArray text;
        if (iteration % 4 == 0) {
            static const char alphabet[] = "0123456789,. -:\r\nHoraERR()\xBA%abcd";
            for (int n = static_cast<int>(rng() % 600); n > 0; --n)
                text += iteration % 8 == 0 ? static_cast<char>(rng()) : alphabet[rng() % (sizeof alphabet - 1)];
            if (rng() % 2)
                text.prepend("Hora  A (%)\r\n");
        } else {
            text = mutate(base, rng);
        }
        SCOPED_TRACE(testing::Message() << "iteration " << iteration << ": " << text.toHex().toStdString());
        CaptureReader whole;
        whole.feed(text);
        CaptureReader parts;
        for (qsizetype at = 0; at < text.size();) {
            const qsizetype n = 1 + static_cast<qsizetype>(rng() % 64);
            parts.feed(piece(text, at, n));
            at += n;
        }
        ASSERT_EQ(dump(parts), dump(whole));
        ASSERT_EQ(parts.rejected(), whole.rejected());
        ASSERT_EQ(whole.offset(), text.size());
        for (const ColumnSet &s : whole.sets()) {
            ASSERT_EQ(s.values.size(), s.columns.size());
            for (const std::vector<double> &column : s.values) {
                ASSERT_EQ(column.size(), s.times.size());
                for (const double v : column)
                    ASSERT_FALSE(std::isinf(v));
            }
        }
        captures += whole.failed() ? 0 : 1;
    }
    // The mutations must leave most files readable, or the fuzzing tests little.
    EXPECT_GT(captures, 2000);
}
