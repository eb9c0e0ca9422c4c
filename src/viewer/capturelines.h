// The bytes of a capture file as lines: where each line ends, however the
// bytes arrive, and the time stamp and values of a line of readings.
#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

namespace capturelines {

// The longest line the program writes: the header of 32 767 converters with
// 16-character names and 8-character units, "  name - a (unit)" for each of
// four channels (a data line takes less room per column). Past it a line is
// not ours, and a file of other bytes is given up on without holding it all
// in memory.
constexpr qsizetype longestLine = 4 + qsizetype{32767} * 4 * (2 + 16 + 6 + 8 + 1) + 2;

// The time stamp that opens a line of readings, dd-MM-yyyy hh:mm:ss, as ms
// on a clock kept in UTC; false when the line opens with none (a day or a
// time that does not exist included) or the stamp runs into what follows.
bool stamp(const char *begin, const char *end, qint64 &wall);
// The values after the time stamp, blank-separated: numbers with a decimal
// comma or point, NaN for ERR and for what cannot be drawn; false when one
// is no value. With `codes`, each value's code as the archive stores it
// (mantissa * 64 + exponent + 32 of its shortest decimal), where its text
// gives it at once: 0 for ERR, unknownCode when it must be worked out from
// the value, or the value has none.
constexpr std::int32_t unknownCode = 1; // an exponent of -31: no value's code
// The archive's code of the decimal m x 10^e (see archive/valuecode.h): for
// |m| up to mostCodeMantissa, e within +-mostCodeExponent (10^22 is the
// largest power of ten a double holds exactly).
constexpr std::int64_t mostCodeMantissa = (std::int64_t{1} << 25) - 1;
constexpr int mostCodeExponent = 22;
constexpr std::int32_t decimalCode(std::int64_t m, int e)
{
    return static_cast<std::int32_t>(m * 64 + e + 32);
}
// The code of m x 10^e (m not 0) once its trailing zeros go into the
// exponent, as the archive stores it; unknownCode when it has none.
constexpr std::int32_t shortestCode(std::int64_t m, int e)
{
    while (m % 10 == 0) {
        m /= 10;
        ++e;
    }
    return (m < 0 ? -m : m) <= mostCodeMantissa && e >= -mostCodeExponent && e <= mostCodeExponent
        ? decimalCode(m, e)
        : unknownCode;
}
constexpr std::array<double, mostCodeExponent + 1> powersOfTen{
    1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
    1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
bool values(const char *begin, const char *end, std::vector<double> &row,
            std::vector<std::int32_t> *codes = nullptr);

// Cuts the bytes of a file into lines ended by LF or CR LF. A line longer
// than any the program writes, or with a carriage return inside it (lines
// ended by it alone: another system's text), is bad; one known to be bad
// before its end arrives is given up on and its bytes dropped unseen.
class LineFramer {
public:
    qint64 offset() const { return offset_; } // bytes taken
    qint64 whole() const { return whole_; } // bytes in whole lines: where the next one starts
    const QByteArray &partial() const { return tail_; } // bytes after the last line end
    // Goes on at `at`, the start of a line of the file, with nothing kept.
    void restart(qint64 at);

    // Hands each line that `bytes` completes, without its line end and
    // blank ones left out, to line(begin, end, bad), and each line given
    // up on to dropped(). Either returning false stops it: false.
    template <class Line, class Dropped>
    bool feed(QByteArrayView bytes, Line &&line, Dropped &&dropped)
    {
        const char *p = bytes.data();
        const char *const end = p + bytes.size();
        const qint64 start = offset_;
        offset_ += bytes.size();
        while (p < end) {
            const char *nl =
                static_cast<const char *>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
            if (skipping_) {
                if (!nl)
                    break;
                skipping_ = false;
                p = nl + 1;
                whole_ = start + (p - bytes.data());
                continue;
            }
            if (!nl) {
                const bool bad = tornByReturn(p, end);
                tail_.append(p, end - p);
                if (bad && !giveUp(dropped))
                    return false;
                break;
            }
            bool ok;
            if (tail_.isEmpty()) {
                ok = take(p, nl, line);
            } else {
                tail_.append(p, nl - p);
                ok = take(tail_.constData(), tail_.constData() + tail_.size(), line);
                tail_.clear();
            }
            if (!ok)
                return false;
            p = nl + 1;
            whole_ = start + (p - bytes.data());
        }
        return tail_.size() <= longestLine || giveUp(dropped);
    }

private:
    // Whether the line in progress, with `p`..`end` appended, holds a
    // carriage return followed by more than a line feed.
    bool tornByReturn(const char *p, const char *end) const;

    template <class Dropped>
    bool giveUp(Dropped &dropped)
    {
        if (!dropped())
            return false;
        tail_.clear();
        skipping_ = true;
        return true;
    }

    template <class Line>
    static bool take(const char *begin, const char *end, Line &line)
    {
        // However the bytes arrive: a line longer than this is bad unseen.
        const bool overlong = end - begin > longestLine;
        if (end > begin && end[-1] == '\r')
            --end;
        if (end == begin)
            return true;
        return line(begin, end,
                    overlong || std::memchr(begin, '\r', static_cast<std::size_t>(end - begin)));
    }

    QByteArray tail_;
    bool skipping_ = false; // inside a line given up on, dropped up to its end
    qint64 offset_ = 0;
    qint64 whole_ = 0;
};

} // namespace capturelines
