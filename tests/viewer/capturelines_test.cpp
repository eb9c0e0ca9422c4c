// A capture file's bytes as lines: time stamps and values at their edges,
// and lines cut the same wherever the bytes are split.
#include "viewer/capturelines.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace {

TEST(CaptureLines, ReadsTimeStampsAtTheirEdges)
{
    struct Row {
        const char *what;
        std::string line;
        bool good;
        qint64 wall;
    };
    const Row rows[] = {
        {"a line of readings", "07-12-2026 10:00:00  21,5", true, 1796637600000},
        {"a stamp alone", "07-12-2026 10:00:00", true, 1796637600000},
        {"a tab after it", "07-12-2026 10:00:00\t21", true, 1796637600000},
        {"the last second of a leap day", "29-02-2028 23:59:59", true, 1835481599000},
        {"before 1970", "31-12-1969 23:59:59", true, -1000},
        {"the first second after", "01-01-1970 00:00:01", true, 1000},
        {"a leap day of a common year", "29-02-2027 10:00:00", false, 0},
        {"a day February lacks", "31-02-2026 10:00:00", false, 0},
        {"hour 24", "07-12-2026 24:00:00", false, 0},
        {"minute 60", "07-12-2026 10:60:00", false, 0},
        {"second 60", "07-12-2026 10:00:60", false, 0},
        {"month 13", "07-13-2026 10:00:00", false, 0},
        {"a digit joined to it", "07-12-2026 10:00:001", false, 0},
        {"a comma joined to it", "07-12-2026 10:00:00,5", false, 0},
        {"one digit short", "07-12-2026 10:00:0", false, 0},
        {"slashes", "07/12/2026 10:00:00", false, 0},
        {"a sign in it", "07-12-2026 +9:00:00", false, 0},
        {"the header", "Hora  Sala (\272C)", false, 0},
    };
    for (const Row &r : rows) {
        qint64 wall = 0;
        ASSERT_EQ(capturelines::stamp(r.line.data(), r.line.data() + r.line.size(), wall), r.good)
            << r.what;
        if (r.good) {
            EXPECT_EQ(wall, r.wall) << r.what;
        }
    }
}

TEST(CaptureLines, ReadsValuesAndGaps)
{
    struct Row {
        const char *what;
        std::string text;
        bool good;
        std::vector<double> values; // NaN: a gap
    };
    const double gap = std::nan("");
    const Row rows[] = {
        {"comma, point, sign and exponent",
         "  21,5  -0.25  +3  1,5E+02  ,5",
         true,
         {21.5, -0.25, 3, 150, 0.5}},
        {"the shortest decimals, fifteen digits and sixteen",
         "  0,1  -0,3  123456789012,345  0,1234567890123456  -0",
         true,
         {0.1, -0.3, 123456789012.345, 0.1234567890123456, -0.0}},
        {"ERR and what cannot be drawn", "  ERR  NaN  -Inf", true, {gap, gap, gap}},
        {"blanks and tabs alike", " \t 1\t\t2 ", true, {1, 2}},
        {"none", "", true, {}},
        {"a word", "  21  x", false, {}},
        {"err in lower case", "  err", false, {}},
        {"a sign after it", "  1-", false, {}},
        {"a sign inside it", "  2+3", false, {}},
        {"beyond any double", "  1e400", false, {}},
        {"a thousands point and a comma", "  1.000,5", false, {}},
        {"a number longer than any value", "  " + std::string(64, '1'), false, {}},
    };
    for (const Row &r : rows) {
        std::vector<double> row{99};
        ASSERT_EQ(capturelines::values(r.text.data(), r.text.data() + r.text.size(), row), r.good)
            << r.what;
        if (!r.good)
            continue;
        ASSERT_EQ(row.size(), r.values.size()) << r.what;
        for (std::size_t k = 0; k < row.size(); ++k)
            EXPECT_TRUE(std::isnan(r.values[k]) ? std::isnan(row[k])
                                                : row[k] == r.values[k] &&
                                std::signbit(row[k]) == std::signbit(r.values[k]))
                << r.what << " " << k;
    }
}

// What the framer hands on, as text: each line, "!" before a bad one, "X" for
// one given up on before its end; then the bytes in whole lines.
std::string framed(capturelines::LineFramer &f, const std::string &bytes, std::size_t split)
{
    std::string out;
    const auto line = [&](const char *begin, const char *end, bool bad) {
        out += (bad ? "!" : "") + std::string(begin, end) + "|";
        return true;
    };
    const auto dropped = [&] {
        out += "X|";
        return true;
    };
    f.feed(QByteArrayView(bytes.data(), static_cast<qsizetype>(split)), line, dropped);
    f.feed(QByteArrayView(bytes.data() + split, static_cast<qsizetype>(bytes.size() - split)), line,
           dropped);
    return out + std::to_string(f.whole());
}

// A line known to be bad before its end arrives (a carriage return with
// more after it, or longer than any) is given up on unseen: `early` is what
// comes of a split that shows it so.
TEST(CaptureLines, FramesLinesWhereverTheBytesSplit)
{
    struct Row {
        const char *what;
        std::string bytes;
        std::string expected;
        std::string early;
    };
    const std::string huge(static_cast<std::size_t>(capturelines::longestLine) + 1, 'x');
    const std::string hugeEnd = std::to_string(huge.size() + 5);
    const std::string longest(static_cast<std::size_t>(capturelines::longestLine), 'x');
    const Row rows[] = {
        {"CR LF and LF", "a\r\nb\nc\r\n", "a|b|c|8", ""},
        {"blank lines left out", "\r\n\n\r\na\r\n", "a|8", ""},
        {"an unended line waits", "a\r\nb", "a|3", ""},
        {"a lone CR at the end waits for its LF", "a\r", "0", ""},
        {"a carriage return inside", "a\rb\r\nc\n", "!a\rb|c|7", "X|c|7"},
        {"a line longer than any", "a\n" + huge + "\nb\n", "a|!" + huge + "|b|" + hugeEnd,
         "a|X|b|" + hugeEnd},
        {"the longest line the program writes", "a\n" + longest + "\nb\n",
         "a|" + longest + "|b|" + std::to_string(longest.size() + 5), ""},
    };
    for (const Row &r : rows) {
        std::vector<std::size_t> splits;
        for (std::size_t k = 0; k <= r.bytes.size(); ++k)
            if (r.bytes.size() < 100 || k < 4 || r.bytes.size() - k < 4)
                splits.push_back(k);
        for (const std::size_t split : splits) {
            capturelines::LineFramer f;
            const std::string got = framed(f, r.bytes, split);
            const bool whole = split == 0 || split == r.bytes.size();
            EXPECT_TRUE(got == r.expected || (!whole && got == r.early))
                << r.what << ", split at " << split << ": " << got.substr(0, 40);
        }
    }
}

} // namespace
