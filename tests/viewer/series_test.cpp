// Several files on one time axis, the reduction to a few points per pixel
// column, the figures of a range, the value under the cursor, CSV export.
#include "viewer/csv.h"
#include "viewer/series.h"

#include <gtest/gtest.h>

#include <QDateTime>

#include <charconv>
#include <cmath>
#include <random>
#include <string>

namespace {

constexpr double gap = std::numeric_limits<double>::quiet_NaN();

CaptureReader reader(const QByteArray &text)
{
    CaptureReader r;
    r.feed(text);
    return r;
}

std::string fmt(double v)
{
    if (std::isnan(v))
        return "/";
    char text[32];
    return std::string(text, std::to_chars(text, text + sizeof text, v).ptr);
}

std::string fmt(const std::vector<double> &values)
{
    std::string out;
    for (const double v : values)
        out += fmt(v) + " ";
    return out;
}

// "name: day hh:mm:ss=value ..." per series, "/" for no reading.
std::string dump(const SeriesSet &set)
{
    std::string out;
    for (const Series &s : set.all()) {
        out += s.column.name.toStdString() + ":";
        for (std::size_t i = 0; i < s.t.size(); ++i)
            out += " " + QDateTime::fromSecsSinceEpoch(static_cast<qint64>(s.t[i])).toString(QStringLiteral("dd HH:mm:ss")).toStdString() +
                   "=" + fmt(s.v[i]);
        out += "\n";
    }
    return out;
}

const QByteArray sala = "Hora  Sala (\xBA" "C)\r\n";
const QByteArray salaHum = "Hora  Sala (\xBA" "C)  Hum (%)\r\n";

} // namespace

TEST(SeriesSet, JoinsFilesOnOneTimeAxis)
{
    const QByteArray day7 = sala + "07-12-2026 23:59:58  21\r\n07-12-2026 23:59:59  ERR\r\n";
    const QByteArray day8 = salaHum + "08-12-2026 00:00:00  23  40\r\n";
    struct Row {
        const char *name;
        std::vector<QByteArray> files; // taken in this order, numbered as given
        std::string expected;
        QByteArray later{};            // appended to the first file, then taken again
    };
    const Row rows[] = {
        {"two days: a series per column name, no line across the files", {day7, day8},
         "Sala (ºC): 07 23:59:58=21 07 23:59:59=/ 08 00:00:00=/ 08 00:00:00=23\nHum (%): 08 00:00:00=40\n"},
        {"files taken newest first still run forward in time", {day8, day7},
         "Sala (ºC): 07 23:59:58=/ 07 23:59:58=21 07 23:59:59=/ 07 23:59:59=/ 08 00:00:00=23\nHum (%): 08 00:00:00=40\n"},
        {"a restart in one file breaks the line", {sala + "07-12-2026 10:00:00  21\r\n" + sala + "07-12-2026 10:05:00  22\r\n"},
         "Sala (ºC): 07 10:00:00=21 07 10:05:00=/ 07 10:05:00=22\n"},
        {"a header alone gives a series without readings", {salaHum}, "Sala (ºC):\nHum (%):\n"},
        {"lines followed later are added once", {sala + "07-12-2026 10:00:00  21\r\n"},
         "Sala (ºC): 07 10:00:00=21 07 10:00:01=22 07 10:00:02=23\n",
         "07-12-2026 10:00:01  22\r\n07-12-2026 10:00:02  23\r\n"},
        {"a clock set back is put in order", {sala + "07-12-2026 10:00:00  21\r\n07-12-2026 09:00:00  20\r\n"},
         "Sala (ºC): 07 09:00:00=20 07 10:00:00=21 07 10:00:00=/\n"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<CaptureReader> files;
        for (const QByteArray &f : row.files)
            files.push_back(reader(f));
        SeriesSet set;
        for (std::size_t k = 0; k < files.size(); ++k)
            set.take(static_cast<int>(k), files[k]);
        if (!row.later.isEmpty()) {
            files[0].feed(row.later);
            EXPECT_FALSE(set.take(0, files[0])) << "no new series";
        }
        EXPECT_EQ(dump(set), row.expected);
    }
}

// On random series and ranges, every pixel column drawn from the reduced
// points has the lowest and highest reading of the full data, and its gaps;
// a reading either side of the range lets lines reach the edges.
TEST(Decimation, EveryColumnKeepsItsExtremesAndGaps)
{
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> u(0, 1);
    Points out;
    for (int iteration = 0; iteration < 300; ++iteration) {
        Series s;
        double t = 1.7e9;
        const int n = 2 + static_cast<int>(rng() % 20000);
        for (int i = 0; i < n; ++i) {
            t += rng() % 5 == 0 ? 0 : u(rng) * 3; // equal times happen at breaks
            s.t.push_back(t);
            s.v.push_back(u(rng) < 0.02 ? gap : std::round(u(rng) * 1000) / 10);
        }
        const double from = s.t.front() + (s.t.back() - s.t.front()) * u(rng) * 0.5;
        const double to = from + (s.t.back() - from) * (0.01 + u(rng));
        const int columns = 1 + static_cast<int>(rng() % (iteration % 2 ? 20 : 800));
        if (!(to > from))
            continue; // the window never asks for an empty range
        SCOPED_TRACE(testing::Message() << "iteration " << iteration << ", " << n << " points, " << columns << " columns");
        // Read one by one or a block at a time: the same points, the same figures.
        const Series plain = s;
        summarize(s);
        decimate(plain, from, to, columns, out);
        const Points byReading = out;
        decimate(s, from, to, columns, out);
        ASSERT_EQ(fmt(out.t), fmt(byReading.t));
        ASSERT_EQ(fmt(out.v), fmt(byReading.v));
        const Stats a = stats(plain, from, to), b = stats(s, from, to);
        ASSERT_EQ(a.count, b.count);
        ASSERT_EQ(fmt(a.min), fmt(b.min));
        ASSERT_EQ(fmt(a.max), fmt(b.max));
        if (a.count > 0) {
            ASSERT_NEAR(a.mean, b.mean, 1e-9 * std::abs(a.mean) + 1e-9);
        }
        ASSERT_TRUE(std::is_sorted(out.t.begin(), out.t.end()));
        ASSERT_LE(out.t.size(), 5u * static_cast<unsigned>(columns) + 2);
        ASSERT_EQ(out.t.front() < from, s.t.front() < from);
        ASSERT_EQ(out.t.back() > to, s.t.back() > to);
        const double scale = columns / (to - from);
        const auto column = [&](double x) { return static_cast<long>(std::floor((x - from) * scale)); };
        struct Extremes {
            double low = INFINITY, high = -INFINITY;
            bool gap = false;
        };
        std::map<long, Extremes> full, drawn;
        const auto note = [&](std::map<long, Extremes> &m, double x, double v) {
            if (x < from || x > to)
                return;
            Extremes &e = m[std::min<long>(column(x), columns)];
            if (std::isnan(v))
                e.gap = true;
            else {
                e.low = std::min(e.low, v);
                e.high = std::max(e.high, v);
            }
        };
        for (std::size_t i = 0; i < s.t.size(); ++i)
            note(full, s.t[i], s.v[i]);
        for (std::size_t i = 0; i < out.t.size(); ++i)
            note(drawn, out.t[i], out.v[i]);
        ASSERT_EQ(full.size(), drawn.size());
        for (const auto &[c, e] : full) {
            ASSERT_EQ(drawn[c].low, e.low) << "column " << c;
            ASSERT_EQ(drawn[c].high, e.high) << "column " << c;
            ASSERT_EQ(drawn[c].gap, e.gap) << "column " << c;
        }
    }
}

// Figures of a range are checked through the window's table.
TEST(SeriesFigures, CursorValue)
{
    Series s;
    const double t[] = {0, 10, 20, 30, 40, 40, 50, 50};
    const double v[] = {4, 8, gap, 6, gap, 2, 3, gap};
    s.t.assign(std::begin(t), std::end(t));
    s.v.assign(std::begin(v), std::end(v));
    struct Cursor {
        const char *name;
        double at, within, value;
    };
    const Cursor cursors[] = {
        {"nearest reading before", 13, 5, 8},
        {"nearest reading after", 27, 5, 6},
        {"halfway takes the earlier one", 5, 5, 4},
        {"a gap reads as none", 20, 5, gap},
        {"the reading after a break, not the break", 39, 5, 2},
        {"the reading before a break, not the break", 52, 5, 3},
        {"too far from any reading", 70, 5, gap},
        {"before the first reading, within reach", -3, 5, 4},
    };
    for (const Cursor &c : cursors) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(fmt(valueAt(s, c.at, c.within)), fmt(c.value));
    }
}

TEST(CsvExport, ReadingsOfAllFilesUnderOneHeader)
{
    const CaptureReader day7 = reader(sala + "07-12-2026 10:00:00  21,5\r\n07-12-2026 10:00:01  ERR\r\n");
    const CaptureReader day8 = reader("Hora  Hum (%)  Sala (\xBA" "C)  Caudal, total - a (l/min)  Puerta - 1\r\n"
                                      "08-12-2026 00:00:00  40  ,5  1,234568E+07  1\r\n");
    EXPECT_EQ(csvText({&day7, &day8}), QByteArray("Hora,Sala (\xC2\xBA" "C),Hum (%),\"Caudal, total - a (l/min)\",Puerta - 1\r\n"
                                                  "2026-12-07T10:00:00,21.5,,,\r\n"
                                                  "2026-12-07T10:00:01,,,,\r\n"
                                                  "2026-12-08T00:00:00,0.5,40,12345680,1\r\n"));
    EXPECT_EQ(csvText({}), QByteArray("Hora\r\n"));
}
