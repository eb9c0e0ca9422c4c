// A capture file's bytes as lines: time stamps and values at their edges,
// and lines cut the same wherever the bytes are split.
#include "viewer/capturelines.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace {

TEST(CaptureLines, ReadsTimeStampsAtTheirEdges)
{
    const std::pair<std::string, qint64> good[] = {
        {"07-12-2026 10:00:00  21,5", 1796637600000},
        {"07-12-2026 10:00:00", 1796637600000},
        {"07-12-2026 10:00:00\t21", 1796637600000},
        {"29-02-2028 23:59:59", 1835481599000},
        {"31-12-1969 23:59:59", -1000},
        {"01-01-1970 00:00:01", 1000},
    };
    for (const auto &[line, expected] : good) {
        qint64 wall = 0;
        ASSERT_TRUE(capturelines::stamp(line.data(), line.data() + line.size(), wall)) << line;
        EXPECT_EQ(wall, expected) << line;
    }
    // A common year's leap day, a day February lacks, hour 24, minute and
    // second 60, month 13, a digit or a comma joined, a digit short.
    for (const std::string line :
         {"29-02-2027 10:00:00", "31-02-2026 10:00:00", "07-12-2026 24:00:00",
          "07-12-2026 10:60:00", "07-12-2026 10:00:60", "07-13-2026 10:00:00",
          "07-12-2026 10:00:001", "07-12-2026 10:00:00,5", "07-12-2026 10:00:0",
          "07/12/2026 10:00:00", "07-12-2026 +9:00:00", "Hora  Sala (\272C)"}) {
        qint64 wall = 0;
        EXPECT_FALSE(capturelines::stamp(line.data(), line.data() + line.size(), wall)) << line;
    }
}

TEST(CaptureLines, ReadsValuesAndGaps)
{
    const double gap = std::nan(""); // ERR and what cannot be drawn
    const std::pair<std::string, std::vector<double>> good[] = {
        {"  21,5  -0.25  +3  1,5E+02  ,5", {21.5, -0.25, 3, 150, 0.5}},
        // The shortest decimals, fifteen digits and sixteen.
        {"  0,1  -0,3  123456789012,345  0,1234567890123456  -0",
         {0.1, -0.3, 123456789012.345, 0.1234567890123456, -0.0}},
        {"  ERR  NaN  -Inf", {gap, gap, gap}},
        {" \t 1\t\t2 ", {1, 2}},
        {"", {}},
    };
    for (const auto &[text, values] : good) {
        std::vector<double> row{99};
        ASSERT_TRUE(capturelines::values(text.data(), text.data() + text.size(), row)) << text;
        ASSERT_EQ(row.size(), values.size()) << text;
        for (std::size_t k = 0; k < row.size(); ++k)
            EXPECT_TRUE(std::isnan(values[k]) ? std::isnan(row[k])
                                              : row[k] == values[k] &&
                                std::signbit(row[k]) == std::signbit(values[k]))
                << text << " " << k;
    }
    // A word, err in lower case, a sign after or inside, beyond any double, a
    // thousands point, a number longer than any value.
    const std::string bad[] = {
        "  21  x", "  err", "  1-", "  2+3", "  1e400", "  1.000,5", "  " + std::string(64, '1')};
    for (const std::string &text : bad) {
        std::vector<double> row;
        EXPECT_FALSE(capturelines::values(text.data(), text.data() + text.size(), row)) << text;
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
    const std::string huge(static_cast<std::size_t>(capturelines::longestLine) + 1, 'x');
    const std::string hugeEnd = std::to_string(huge.size() + 5);
    const std::string longest(static_cast<std::size_t>(capturelines::longestLine), 'x');
    const struct {
        const char *what;
        std::string bytes, expected, early;
    } rows[] = {
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
    for (const auto &r : rows) {
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
