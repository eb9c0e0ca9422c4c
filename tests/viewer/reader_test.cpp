// Capture files read back (every column kind, ERR, repeated headers, torn
// lines, the writer's largest header, files of other kinds, random and
// mutated files), followed as they grow, joined into series, reduced for
// drawing. Headers of awkward names: the header grammar's tests.
#include "viewer/series.h"

#include "monitor/capture.h"
#include "registry/cp1252.h"
#include "registry/general.h"
#include "support/support.h"

#include <gtest/gtest.h>

#include <QFile>

#include <cmath>
#include <functional>
#include <random>
#include <sys/stat.h>

namespace {

// The reader's whole result: "[ device|kind|unit ... ]" per column set, then
// "time value..." per line, then the error if any.
std::string dump(const CaptureReader &r)
{
    std::string out;
    for (const ColumnSet &s : r.sets()) {
        out += "[";
        for (const Column &c : s.columns)
            out += " " + c.device.toStdString() + "|" + "THCI"[static_cast<int>(c.kind)] + "|" +
                c.unit.toStdString();
        out += " ]\n";
        for (std::size_t row = 0; row < s.times.size(); ++row) {
            out += CaptureReader::toDateTime(s.times[row])
                       .toString(QStringLiteral("dd-MM-yyyy HH:mm:ss"))
                       .toStdString();
            for (const std::vector<double> &column : s.values)
                out += " " + shortest(column[row]);
            out += "\n";
        }
    }
    return r.failed() ? out + "error: " + r.error().toStdString() : out;
}

// Fed in pieces of the sizes `next` gives, as a file being written shows them.
CaptureReader fed(
    const QByteArray &text,
    const std::function<qsizetype()> &next = [] { return qsizetype{1} << 30; })
{
    CaptureReader r;
    for (qsizetype at = 0, n = 0; at < text.size(); at += n)
        r.feed(QByteArrayView(text).sliced(at, n = std::min(next(), text.size() - at)));
    return r;
}

const QByteArray sala = "Hora  Sala (\272C)\r\n";
const QByteArray everyKind = "Hora  Sala (\272C)  Inv (\272C)  Inv (%)  Bomba - a (bar)  Bomba - b "
                             "()  Puerta - 1  Puerta - 2\r\n";
const char *const notCapture = "error: No es un fichero de captura.";
const QString crlf = QStringLiteral("\r\n");
const QByteArray l0 = "07-12-2026 10:00:00  21\r\n";

} // namespace

TEST(CaptureReader, ParsesCaptureTextsHoweverTheBytesArrive)
{
    const QByteArray hum = "Hora  Sala (\272C)  Hum (%)\r\n";
    const std::string one = "[ Sala|T|ºC ]\n07-12-2026 10:00:00 21\n";
    const std::tuple<const char *, QByteArray, std::string, qint64> rows[] = {
        // name, text, what is read, lines rejected
        {"every column kind, comma and point decimals",
         everyKind + "07-12-2026 10:00:00  21,5  22.25  47  ,5  -,25  1  0\r\n",
         "[ Sala|T|ºC Inv|T|ºC Inv|H|% Bomba|C|bar Bomba|C| Puerta|I| Puerta|I| ]\n07-12-2026 "
         "10:00:00 21.5 22.25 47 0.5 -0.25 1 0\n",
         0},
        {"ERR, exponent, NaN and infinity",
         "Hora  A (\272C)  B - a (Pa)  C - b ()  D - c (Pa)\r\n07-12-2026 10:00:00  ERR  "
         "1,234568E+07  NaN  "
         "-Inf\r\n",
         "[ A|T|ºC B|C|Pa C|C| D|C|Pa ]\n07-12-2026 10:00:00 ERR 12345680 ERR ERR\n", 0},
        {"repeated header starts a new column set",
         sala + l0 + hum + "07-12-2026 10:05:00  22  40\r\n",
         one + "[ Sala|T|ºC Hum|H|% ]\n07-12-2026 10:05:00 22 40\n", 0},
        {"LF alone ends lines too, blank lines before the header",
         "\r\n\nHora  Sala (\272C)\n07-12-2026 10:00:00  21\n", one, 0},
        {"capture without devices", "Hora\r\n07-12-2026 10:00:00\r\n", "[ ]\n07-12-2026 10:00:00\n",
         0},
        {"bad lines (missing or extra value, no such day, not a number, a header of nothing) "
         "counted and left out",
         hum + l0 + "07-12-2026 10:00:01  21  40  7\r\n31-02-2026 10:00:02  21  40\r\n" +
             "07-12-2026 10:00:04  21x  40\r\n\r\nHora  Sala\r\n07-12-2026 10:00:05  21  40\r\n",
         "[ Sala|T|ºC Hum|H|% ]\n07-12-2026 10:00:05 21 40\n", 5},
        {"a line torn by a crash and ended by the writer is dropped",
         hum + "07-12-2026 10:00:00  2\r\n07-12-2026 10:00:02  21  40\r\n",
         "[ Sala|T|ºC Hum|H|% ]\n07-12-2026 10:00:02 21 40\n", 1},
        {"a line longer than any header is dropped, the rest read",
         sala + QByteArray(5 << 20, '7') + "\r\n" + l0, one, 1},
        {"lines ended by CR alone",
         "Hora  Sala (\272C)\r07-12-2026 10:00:00  21\r07-12-2026 10:00:01  22\r", notCapture, 0},
        {"lines ended by CR alone under a header",
         sala + "07-12-2026 10:00:00  21\r07-12-2026 10:00:01  22\r", "[ Sala|T|ºC ]\n", 1},
        {"readings before any header", l0 + sala, notCapture, 0},
        {"a first line longer than any header", "Hora  " + QByteArray(5 << 20, 'x'), notCapture, 0},
    };
    for (const auto &[name, text, expected, rejected] : rows)
        for (const qsizetype n : {qsizetype{1} << 30, qsizetype{1}, qsizetype{7}}) {
            const CaptureReader r = fed(text, [n = n] { return n; });
            EXPECT_EQ(dump(r), expected) << name << ", " << n << " bytes at a time";
            EXPECT_EQ(r.rejected(), rejected) << name << ", " << n << " bytes at a time";
        }
}

// The largest table, 32 767 converters with 16-character names and
// 8-character units: a header of over 4 MiB.
TEST(CaptureReader, ReadsTheWritersLargestHeader)
{
    General g;
    for (int i = 0; i < maxDispositivos; ++i) {
        const QByteArray name = "Convertidor" + QByteArray::number(i).rightJustified(5, '0');
        addDevice(g,
                  {AVI,
                   name.constData(),
                   true,
                   {1.5f, 2, 0, -3},
                   {},
                   {"unidad_a", "unidad_b", "", "bar"}});
    }
    // The writer's header and a line of the readings, as its file holds them.
    const CaptureReader r = fed(QByteArray::fromStdString(cp1252::encode(
        cabecera(g) + crlf + linea(g, QStringLiteral("07-12-2026 10:00:00")) + crlf)));
    ASSERT_EQ(r.sets().size(), 1u) << r.error().toStdString();
    const ColumnSet &s = r.sets()[0];
    EXPECT_EQ(
        std::tuple(s.columns.size(), s.columns.back().name, s.columns[1].unit, s.values.back()),
        std::tuple(std::size_t{maxDispositivos} * 4, QStringLiteral("Convertidor32766 - d (bar)"),
                   QStringLiteral("unidad_b"), std::vector{-3.0}));
}

// Local times of Madrid across the clock changes, in the time zone given
// (the system's may be any): the file's order settles which of two equal
// local times is meant, a skipped one is read as a clock not moved yet shows
// it. And a reader resumed at every line end from the point of one that read
// up to there takes the rest as the one reader that read it all: the header
// line and the rest of the file alone read again; the columns settled by a
// line (a second line with another count is refused all the same), the clock
// change seen. (The window's test follows appended lines, torn lines and
// shortened files.)
TEST(CaptureReader, ReadsTheRepeatedHourInTheFileOrderAndResumesAtAnyLine)
{
    const QByteArray ambiguous =
        "Hora  X (\272C)  Y (\272C)  Z (\272C)  Rele - 1  Rele - 2\r\n"; // "Y (ºC)  Z" is one name
    const std::tuple<const char *, QByteArray, std::string, qint64> rows[] = {
        // name, lines, UTC times read, lines refused
        {"autumn, 35 s across the change and on in the repeated hour",
         "25-10-2026 02:59:45  1\r\n25-10-2026 02:00:20  2\r\n25-10-2026 02:00:21  3\r\n25-10-2026 "
         "03:00:00  4\r\n",
         "00:59:45 01:00:20 01:00:21 02:00:00 ", 0},
        {"autumn, a capture started in the repeated hour",
         "25-10-2026 02:10:00  1\r\n25-10-2026 02:10:01  1\r\n", "00:10:00 00:10:01 ", 0},
        {"autumn, two lines of one second in the repeated hour",
         "25-10-2026 02:10:00  1\r\n25-10-2026 02:10:00  2\r\n", "00:10:00 00:10:00 ", 0},
        {"spring, a time the clock skips",
         "29-03-2026 01:59:59  1\r\n29-03-2026 02:00:00  1\r\n29-03-2026 03:00:01  1\r\n",
         "00:59:59 01:00:00 01:00:01 ", 0},
        {"a header cut by its first line",
         ambiguous +
             "25-10-2026 02:59:59  1  2  1  0\r\n25-10-2026 02:00:00  1  2  3  1  0\r\n"
             "25-10-2026 02:00:01  1  2  1  0\r\n",
         "00:59:59 01:00:01 ", 1},
    };
    TempFolder t;
    const QTimeZone madrid("Europe/Madrid");
    const auto times = [](const CaptureReader &r) {
        std::string out;
        for (const ColumnSet &s : r.sets())
            for (const qint64 ms : s.times)
                out += QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC)
                           .toString(QStringLiteral("HH:mm:ss "))
                           .toStdString();
        return out;
    };
    for (const auto &[name, lines, utc, refused] : rows) {
        const QByteArray text = (lines.startsWith("Hora") ? "" : sala) + lines;
        t.write(QStringLiteral("c.log"), text);
        for (qint64 at = 0; at <= text.size(); ++at) { // 0: one reader reads it all
            CaptureReader first(t.file(QStringLiteral("c.log")), madrid),
                rest(first.path(), madrid);
            first.follow(at);
            const ResumePoint p = first.resumePoint();
            ASSERT_TRUE(rest.resume(p)) << name << ", at " << at;
            rest.follow();
            EXPECT_EQ(std::tuple(times(first) + times(rest), first.rejected() + rest.rejected()),
                      std::tuple(utc, refused))
                << name << ", at " << at;
            EXPECT_EQ(rest.bytesRead(),
                      (p.header < 0 ? 0 : text.indexOf('\n', p.header) + 1 - p.header) +
                          text.size() - p.offset)
                << name;
        }
    }
    // A point that does not fit the file: no header where it says.
    const QString path = t.file(QStringLiteral("c.log"));
    CaptureReader r(path);
    EXPECT_FALSE(r.resume({ambiguous.size() + 10, ambiguous.size(), 4, ResumePoint::none}));
    EXPECT_EQ(std::tuple(r.offset(), r.error()), std::tuple(qint64{0}, QString()));
#ifndef _WIN32
    // A pipe in the file's place (a reader that opened it would wait for a
    // writer forever) fails until a file is there. Windows has no named
    // pipes in folders.
    QFile::remove(path);
    ::mkfifo(QFile::encodeName(path).constData(), 0600);
    EXPECT_EQ(r.follow(), CaptureReader::Change::Failed);
    EXPECT_EQ(r.error(), QStringLiteral("c.log no es un fichero normal."));
    QFile::remove(path);
    t.write(QStringLiteral("c.log"), sala + l0);
    EXPECT_EQ(r.follow(), CaptureReader::Change::Appended);
    EXPECT_EQ(std::tuple(r.rows(), r.error()), std::tuple(qint64{1}, QString()));
#endif
}

// Random and mutated files, whole and in random pieces: never a crash (the
// sanitized build checks memory), the same result however the bytes arrive,
// column sets that stay rectangular.
TEST(CaptureReader, SurvivesRandomAndMutatedFiles)
{
    QByteArray base = everyKind;
    for (int s = 10; s < 30; ++s)
        base +=
            "07-12-2026 10:00:" + QByteArray::number(s) + "  21,5  22.25  47  ,5  ERR  1  0\r\n";
    base += "Hora  Sala (\272C)  Bomba - c (l/min)\r\n07-12-2026 10:01:00  1,234568E+07  -,25\r\n";
    // Pieces a mutation inserts, a zero byte among them.
    static const QList<QByteArray> pieces =
        QByteArrayLiteral("Hora  |Hora  X (\272C)  Y - 1\r\n|ERR|,|.|  |\r\n|\n|\r|E+99|-|"
                          "99-99-9999 99:99:99|07-12-2026 10:00:00|\0|\xBA|(|)| - a (")
            .split('|');
    static const char alphabet[] = "0123456789,. -:\r\nHoraERR()\xBA%abcd";
    std::mt19937 rng(20261207);
    const auto pick = [&](qsizetype n) {
        return n <= 0 ? qsizetype{0} : static_cast<qsizetype>(rng() % static_cast<unsigned>(n));
    };
    // Cut, a piece inserted, a line said twice, the end cut, a byte changed, bytes inserted.
    const std::function<void(QByteArray &, qsizetype)> mutations[] = {
        [&](QByteArray &t, qsizetype at) { t.remove(at, pick(40)); },
        [&](QByteArray &t, qsizetype at) { t.insert(at, pieces[pick(pieces.size())]); },
        [&](QByteArray &t, qsizetype at) { t.insert(at, t.mid(pick(t.size()), pick(80))); },
        [&](QByteArray &t, qsizetype at) { t.truncate(at); },
        [&](QByteArray &t, qsizetype at) { t.replace(at, 1, QByteArray(1, char(rng()))); },
        [&](QByteArray &t, qsizetype) {
            for (int n = pick(20); n > 0; --n)
                t.insert(pick(t.size() + 1), static_cast<char>(rng()));
        },
    };
    int captures = 0;
    for (int iteration = 0; iteration < 4000; ++iteration) {
        QByteArray text = iteration % 4 ? base : QByteArray();
        // Random bytes, or random text of capture characters; or a few
        // mutations of a good file.
        for (int n = iteration % 4 ? 0 : pick(600); n > 0; --n)
            text +=
                iteration % 8 == 0 ? static_cast<char>(rng()) : alphabet[pick(sizeof alphabet - 1)];
        if (iteration % 4 == 0 && rng() % 2)
            text.prepend("Hora  A (%)\r\n");
        for (int k = iteration % 4 ? 1 + pick(4) : 0; k > 0; --k)
            mutations[rng() % 6](text, pick(text.size() + 1));
        SCOPED_TRACE(testing::Message()
                     << "iteration " << iteration << ": " << text.toHex().toStdString());
        const CaptureReader whole = fed(text), parts = fed(text, [&] { return 1 + pick(64); });
        ASSERT_EQ(dump(parts), dump(whole));
        ASSERT_EQ(parts.rejected(), whole.rejected());
        ASSERT_EQ(whole.offset(), text.size());
        for (const ColumnSet &s : whole.sets()) {
            ASSERT_EQ(s.values.size(), s.columns.size());
            for (const std::vector<double> &column : s.values)
                ASSERT_TRUE(column.size() == s.times.size() &&
                            std::none_of(column.begin(), column.end(),
                                         [](double v) { return std::isinf(v); }));
        }
        captures += whole.failed() ? 0 : 1;
    }
    EXPECT_GT(captures, 2000)
        << "mutations must leave most files readable, or the fuzzing tests little";
}

// A saw of readings 0 to 9 a second apart, a gap at 37, a spike at 50: each
// pixel column keeps its first, lowest, highest and last reading and its
// first gap, the same whether whole blocks are summed ahead or not; the
// reading either side of the range, a column of its own, lets lines reach
// the edges. The figures of the range add the readings of block and ends.
TEST(Decimation, ColumnsKeepTheirExtremesAndGaps)
{
    Series plain;
    for (int k = 0; k < 100; ++k) {
        plain.t.edit().push_back(k);
        plain.v.push_back(k == 37 ? std::nan("") : k == 50 ? 99 : k % 10);
    }
    Series s = plain;
    summarize(s);
    const std::tuple<double, double, int, std::string> rows[] = {
        // from, to, columns, "time=value" drawn
        {10.5, 12.5, 1, "10=0 11=1 12=2 13=3"}, // few readings: all
        {5.5, 95.5, 2, "5=5 6=6 10=0 37=ERR 50=99 51=1 59=9 60=0 95=5 96=6"},
    };
    for (const auto &[from, to, columns, expected] : rows)
        for (const Series *series : {&plain, &s}) {
            Points out;
            decimate(*series, from, to, columns, out);
            std::string drawn;
            for (std::size_t i = 0; i < out.t.size(); ++i)
                drawn += (i ? " " : "") + shortest(out.t[i]) + "=" + shortest(out.v[i]);
            EXPECT_EQ(drawn, expected) << (series == &s ? "by blocks" : "by reading");
        }
    const Stats figures = stats(s, 5.5, 95.5);
    EXPECT_EQ(std::tuple(figures.count, figures.min, figures.max),
              std::tuple(std::size_t{89}, 0.0, 99.0));
    EXPECT_DOUBLE_EQ(figures.mean, 497.0 / 89);
}

// Two files joined: the columns of a file share one copy of their times
// while their readings come at the same instants, and a column that goes
// on in another file, or in an earlier part of time, gets times of its own
// without touching those of the columns it shared them with.
TEST(SeriesSet, ColumnsShareTheirTimesOnlyWhileTheyAgree)
{
    CaptureReader first(QString(), QTimeZone::utc()), second(QString(), QTimeZone::utc());
    const double base = static_cast<double>(
        QDateTime(QDate(2026, 12, 7), QTime(10, 0), QTimeZone::utc()).toSecsSinceEpoch());
    SeriesSet set;
    // The file fed, its text, then "name: seconds=value ..." per series and
    // the pairs that share their times.
    const std::tuple<int, const char *, const char *, const char *> steps[] = {
        {0,
         "Hora  A (\272C)  B (\272C)\r\n07-12-2026 10:00:00  1  2\r\n07-12-2026 10:00:01  3  4\r\n",
         "A: 0=1 1=3 | B: 0=2 1=4", "A=B"},
        // B goes on in a second file, beside C and D.
        {1, "Hora  B (\272C)  C (\272C)  D (\272C)\r\n07-12-2026 10:00:05  5  6  7\r\n",
         "A: 0=1 1=3 | B: 0=2 1=4 5=ERR 5=5 | C: 5=6 | D: 5=7", "C=D"},
        // The first file gains a line earlier than the second's; and the second a line.
        {0, "07-12-2026 10:00:02  7  8\r\n",
         "A: 0=1 1=3 2=7 | B: 0=2 1=4 2=ERR 2=8 2=ERR 5=ERR 5=5 | C: 5=6 | D: 5=7", "C=D"},
        {1, "07-12-2026 10:00:06  9  10  11\r\n",
         "A: 0=1 1=3 2=7 | B: 0=2 1=4 2=ERR 2=8 2=ERR 5=ERR 5=5 6=ERR 6=9 | C: 5=6 6=10 | D: 5=7 "
         "6=11",
         "C=D"},
    };
    for (const auto &[file, text, expected, sharing] : steps) {
        CaptureReader &reader = file ? second : first;
        reader.feed(text);
        set.take(file, reader);
        std::string series, shared;
        const std::vector<Series> &all = set.all();
        for (std::size_t i = 0; i < all.size(); ++i) {
            series += (i ? " | " : "") + all[i].column.device.toStdString() + ":";
            for (std::size_t k = 0; k < all[i].t.size(); ++k)
                series += " " + shortest(all[i].t[k] - base) + "=" + shortest(all[i].v[k]);
            for (std::size_t j = i + 1; j < all.size(); ++j)
                if (all[i].t.id() == all[j].t.id())
                    shared += (shared.empty() ? "" : " ") + all[i].column.device.toStdString() +
                        "=" + all[j].column.device.toStdString();
        }
        EXPECT_EQ(std::tuple(series, shared),
                  std::tuple(std::string(expected), std::string(sharing)))
            << text;
    }
}
