#include "archive/rows.h"

#include "archive/copystream.h"
#include "archive/valuecode.h"

#include <cmath>
#include <limits>
#include <map>

namespace {

constexpr double null = std::numeric_limits<double>::quiet_NaN();
constexpr qint64 minuteMs = 60000, hourMs = 3600000;

qint64 floorDiv(qint64 a, qint64 b) { return a / b - (a % b != 0 && (a < 0) != (b < 0)); }

// A sum as the server adds: a finite sum of finite terms that overflows is
// an error there.
bool add(double &sum, double term)
{
    const double r = sum + term;
    if (std::isinf(r) && !std::isinf(sum) && !std::isinf(term))
        return false;
    sum = r;
    return true;
}

// The server's min() and max(): of two equal values (0 and -0), the later.
void least(double &kept, double v) { kept = kept < v ? kept : v; }
void greatest(double &kept, double v) { kept = kept > v ? kept : v; }

// A header's figures of a minute or an hour, per column: readings that are
// not ERR, their minimum, maximum, sum, sum of squares and, for
// temperatures, the sum of exp(-10000 / (v + 273.15)) over every line (an
// ERR counted as 14 K, as the server's greatest() takes it). NaN is NULL.
struct Figures {
    qint64 lines = 0;
    std::vector<std::int16_t> n;
    std::vector<double> min, max, sum, squares, arrhenius;

    Figures(std::size_t columns, const std::vector<bool> &temperature)
        : n(columns, 0), min(columns, null), max(columns, null), sum(columns, null),
          squares(columns, null), arrhenius(columns, null)
    {
        for (std::size_t k = 0; k < columns && k < temperature.size(); ++k)
            if (temperature[k])
                arrhenius[k] = 0;
    }

    bool line(std::span<const double> v)
    {
        ++lines;
        for (std::size_t k = 0; k < v.size(); ++k) {
            if (!std::isnan(arrhenius[k]) &&
                !add(arrhenius[k],
                     std::exp(-10000 / (std::isnan(v[k]) ? 14.0 : std::max(v[k] + 273.15, 14.0)))))
                return false;
            if (std::isnan(v[k]))
                continue;
            const double square =
                std::abs(v[k]) < 1e100 ? v[k] * v[k] : std::numeric_limits<double>::infinity();
            if (n[k]++ == 0) {
                min[k] = max[k] = sum[k] = v[k];
                squares[k] = square;
                continue;
            }
            least(min[k], v[k]);
            greatest(max[k], v[k]);
            if (!add(sum[k], v[k]) || !add(squares[k], square))
                return false;
        }
        return true;
    }

    bool merge(const Figures &m)
    {
        lines += m.lines;
        for (std::size_t k = 0; k < n.size(); ++k) {
            if (!std::isnan(arrhenius[k]) && !add(arrhenius[k], m.arrhenius[k]))
                return false;
            if (m.n[k] == 0)
                continue;
            if (n[k] == 0) {
                min[k] = m.min[k];
                max[k] = m.max[k];
                sum[k] = m.sum[k];
                squares[k] = m.squares[k];
            } else {
                least(min[k], m.min[k]);
                greatest(max[k], m.max[k]);
                if (!add(sum[k], m.sum[k]) || !add(squares[k], m.squares[k]))
                    return false;
            }
            n[k] = static_cast<std::int16_t>(n[k] + m.n[k]);
        }
        return true;
    }

    // A NaN sum (infinities of both signs) would go as NULL.
    bool sound() const
    {
        for (std::size_t k = 0; k < n.size(); ++k)
            if (n[k] && (std::isnan(sum[k]) || std::isnan(squares[k])))
                return false;
        return true;
    }

    void write(CopyStream &s) const
    {
        s.type(pgtype::int2Array);
        s.int16Array(n);
        for (const std::vector<double> *a : {&min, &max, &sum, &squares, &arrhenius}) {
            s.type(pgtype::float8Array);
            s.float64Array(*a);
        }
    }
};

struct Row {
    qint64 minute = 0; // ms
    int header = 0;
    qint64 line = 0;
    std::vector<std::int16_t> seconds;
    std::vector<std::int32_t> codes;
    std::vector<double> exact; // empty: no line of the row has exact values
    Figures figures;
};

} // namespace

namespace archive {

bool buildRows(const Batch &b, std::size_t from, std::size_t to, std::span<const int> headerIds,
               const std::vector<std::vector<bool>> &temperatures, const RowTypes &types, Rows &out)
{
    static const std::vector<bool> none;
    std::vector<Row> rows;
    std::vector<int> minuteSets; // the sets of the latest minute's rows
    qint64 last = std::numeric_limits<qint64>::min();
    std::vector<std::int32_t> codes;
    for (std::size_t i = from; i < to; ++i) {
        const BatchLine &l = b.lines[i];
        if (l.ms <= last || l.ms % 1000 != 0)
            return false;
        last = l.ms;
        const qint64 minute = floorDiv(l.ms, minuteMs) * minuteMs;
        const std::vector<bool> &temperature = static_cast<std::size_t>(l.set) < temperatures.size()
            ? temperatures[static_cast<std::size_t>(l.set)]
            : none;
        if (rows.empty() || rows.back().minute != minute || rows.back().header != l.set) {
            if (!rows.empty() && rows.back().minute == minute) {
                for (const int set : minuteSets)
                    if (set == l.set)
                        return false;
            } else {
                minuteSets.clear();
            }
            minuteSets.push_back(l.set);
            rows.push_back({minute, l.set, l.number, {}, {}, {}, Figures(l.count, temperature)});
        }
        Row &r = rows.back();
        const std::span<const double> values = b.valuesOf(l);
        const bool exact = lineCodes(values, b.codesOf(l), codes);
        // Exact values are kept for the row's every line once one has them.
        if (exact && r.exact.empty())
            r.exact.assign(r.codes.size(), null);
        if (exact)
            r.exact.insert(r.exact.end(), values.begin(), values.end());
        else if (!r.exact.empty())
            r.exact.insert(r.exact.end(), l.count, null);
        r.seconds.push_back(static_cast<std::int16_t>((l.ms - minute) / 1000));
        r.codes.insert(r.codes.end(), codes.begin(), codes.end());
        if (!r.figures.line(values))
            return false;
    }

    // Each header's hours, its minutes added in order.
    std::map<std::pair<int, qint64>, Figures> hours;
    for (const Row &r : rows) {
        if (!r.figures.sound())
            return false;
        const std::pair<int, qint64> key{r.header, floorDiv(r.minute, hourMs) * hourMs};
        const auto [h, added] = hours.try_emplace(key, r.figures);
        if (!added && !h->second.merge(r.figures))
            return false;
    }
    for (const auto &[key, f] : hours)
        if (!f.sound())
            return false;

    CopyStream s = CopyStream::records(types.row, rows.size());
    std::vector<std::uint8_t> noNulls;
    for (const Row &r : rows) {
        s.record(12);
        s.type(pgtype::timestamptz);
        s.time(r.minute);
        s.type(pgtype::int4);
        s.int32(headerIds[static_cast<std::size_t>(r.header)]);
        s.type(pgtype::int8);
        s.int64(r.line);
        s.type(pgtype::int2Array);
        s.int16Array(r.seconds);
        noNulls.assign(r.codes.size(), 0);
        s.type(pgtype::int4Array);
        s.int32Array(r.codes, noNulls);
        s.type(pgtype::float8Array);
        r.exact.empty() ? s.null() : s.float64Array(r.exact);
        r.figures.write(s);
    }
    out.rows = s.finishRecords();
    CopyStream h = CopyStream::records(types.figures, hours.size());
    for (const auto &[key, f] : hours) {
        h.record(9);
        h.type(pgtype::int4);
        h.int32(headerIds[static_cast<std::size_t>(key.first)]);
        h.type(pgtype::timestamptz);
        h.time(key.second);
        h.type(pgtype::int4);
        h.int32(static_cast<std::int32_t>(f.lines));
        f.write(h);
    }
    out.hours = h.finishRecords();
    return true;
}

} // namespace archive
