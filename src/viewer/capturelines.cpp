#include "viewer/capturelines.h"

#include <QDate>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>

namespace capturelines {

namespace {

constexpr double gap = std::numeric_limits<double>::quiet_NaN();

bool blank(char c) { return c == ' ' || c == '\t'; }
int digit(char c) { return c >= '0' && c <= '9' ? c - '0' : -1; }

// Two digits at p, or -1.
int two(const char *p)
{
    const int a = digit(p[0]), b = digit(p[1]);
    return a < 0 || b < 0 ? -1 : a * 10 + b;
}

// The common value, a sign, digits and one decimal comma or point, read
// without a copy: with at most 15 digits both the digits and the power of
// ten are exact doubles, and one division rounds as the full reader does.
// False for anything else, left to that reader. `code` gets the archive's
// code of the value: no shorter decimal than the text's own gives the same
// double when the text has at most 15 digits.
bool decimal(const char *p, const char *end, double &out, std::int32_t &code)
{
    const bool negative = p < end && *p == '-';
    if (p < end && (*p == '-' || *p == '+'))
        ++p;
    std::int64_t m = 0;
    int digits = 0, decimals = -1;
    for (; p < end; ++p) {
        const int d = digit(*p);
        if (d >= 0) {
            if (++digits > 15)
                return false; // past what the digits hold exactly: left to the full reader
            m = m * 10 + d;
            if (decimals >= 0)
                ++decimals;
        } else if ((*p == ',' || *p == '.') && decimals < 0) {
            decimals = 0;
        } else {
            return false;
        }
    }
    if (digits == 0)
        return false;
    const double v = decimals > 0
        ? static_cast<double>(m) / powersOfTen[static_cast<std::size_t>(decimals)]
        : static_cast<double>(m);
    out = negative ? -v : v;
    code = unknownCode;
    if (m == 0) {
        if (!negative)
            code = 32; // minus zero has no code
        return true;
    }
    code = shortestCode(negative ? -m : m, decimals > 0 ? -decimals : 0);
    return true;
}

// One value of a data line: a number with decimal comma or point, or ERR.
// Infinities and NaN texts are gaps too: nothing can be drawn for them.
bool number(const char *begin, const char *end, double &out, std::int32_t &code)
{
    const qsizetype size = end - begin;
    code = 0;
    if (size == 3 && begin[0] == 'E' && begin[1] == 'R' && begin[2] == 'R') {
        out = gap;
        return true;
    }
    if (decimal(begin, end, out, code))
        return true;
    code = unknownCode;
    char text[64];
    if (size <= 0 || size >= static_cast<qsizetype>(sizeof text))
        return false;
    qsizetype n = 0;
    for (const char *p = begin; p < end; ++p) {
        if (*p == '+' && p == begin)
            continue; // the reader below refuses a leading plus
        text[n++] = *p == ',' ? '.' : *p;
    }
    double value = 0;
    const auto r = std::from_chars(text, text + n, value);
    if (r.ec != std::errc() || r.ptr != text + n)
        return false;
    out = std::isfinite(value) ? value : gap;
    if (!std::isfinite(value))
        code = 0;
    return true;
}

} // namespace

bool stamp(const char *begin, const char *end, qint64 &wall)
{
    // dd-MM-yyyy hh:mm:ss
    if (end - begin < 19 || begin[2] != '-' || begin[5] != '-' || begin[10] != ' ' ||
        begin[13] != ':' || begin[16] != ':')
        return false;
    const int d = two(begin), mo = two(begin + 3), y1 = two(begin + 6), y2 = two(begin + 8);
    const int h = two(begin + 11), mi = two(begin + 14), s = two(begin + 17);
    if (d < 0 || mo < 0 || y1 < 0 || y2 < 0 || h < 0 || h > 23 || mi < 0 || mi > 59 || s < 0 ||
        s > 59)
        return false;
    const QDate date(y1 * 100 + y2, mo, d);
    if (!date.isValid())
        return false;
    if (end - begin > 19 && !blank(begin[19]))
        return false;
    constexpr qint64 unixDay = 2440588; // the Julian day of 1 January 1970
    wall = (date.toJulianDay() - unixDay) * 86400000 + (h * 3600 + mi * 60 + s) * qint64{1000};
    return true;
}

bool values(const char *p, const char *end, std::vector<double> &row,
            std::vector<std::int32_t> *codes)
{
    row.clear();
    if (codes)
        codes->clear();
    while (true) {
        while (p < end && blank(*p))
            ++p;
        if (p == end)
            return true;
        const char *q = p;
        while (q < end && !blank(*q))
            ++q;
        double v;
        std::int32_t code;
        if (!number(p, q, v, code))
            return false;
        row.push_back(v);
        if (codes)
            codes->push_back(code);
        p = q;
    }
}

void LineFramer::restart(qint64 at)
{
    tail_.clear();
    skipping_ = false;
    offset_ = whole_ = at;
}

bool LineFramer::tornByReturn(const char *p, const char *end) const
{
    return (!tail_.isEmpty() && tail_.back() == '\r') ||
        (end - p > 1 && std::memchr(p, '\r', static_cast<std::size_t>(end - p - 1)));
}

} // namespace capturelines
