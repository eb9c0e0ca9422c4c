#include "viewer/series.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <numeric>

namespace {

constexpr double gap = std::numeric_limits<double>::quiet_NaN();

// Clock set back, or an older file growing: rare, so a full sort is fine.
void sortByTime(Series &s)
{
    std::vector<double> &times = s.t.edit();
    std::vector<std::size_t> order(times.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return times[a] < times[b]; });
    std::vector<double> t(order.size());
    std::vector<float> v(order.size());
    for (std::size_t k = 0; k < order.size(); ++k) {
        t[k] = times[order[k]];
        v[k] = s.v[order[k]];
    }
    times = std::move(t);
    s.v = std::move(v);
}

// Room to spare, a little: a line a second must not copy the day each
// time, nor should a day take twice its size, nor a file of thousands of
// short columns room for a day in each.
template <typename T>
void makeRoom(std::vector<T> &v, std::size_t needed, std::size_t least = 64)
{
    if (v.capacity() < needed)
        v.reserve(needed + std::max(needed / 8, least));
}

constexpr std::size_t none = static_cast<std::size_t>(-1);

// What a reduction or the figures need of a run of readings.
struct Span {
    std::size_t first = none, last = none, lowest = none, highest = none, hole = none;
    double low = 0, high = 0, sum = 0;
    std::size_t count = 0;
};

void scan(const Series &s, std::size_t i, std::size_t j, Span &r)
{
    const float *v = s.v.data();
    for (std::size_t k = i; k < j; ++k) {
        const double x = v[k];
        if (x != x) { // NaN
            if (r.hole == none)
                r.hole = k;
            continue;
        }
        if (r.count == 0) {
            r.first = r.lowest = r.highest = k;
            r.low = r.high = x;
        } else if (x < r.low) {
            r.lowest = k;
            r.low = x;
        } else if (x > r.high) {
            r.highest = k;
            r.high = x;
        }
        r.last = k;
        r.sum += x;
        ++r.count;
    }
}

std::size_t index(std::uint32_t i) { return i == Block::none ? none : i; }

// Adds a block that comes after everything in `r`.
void add(const Block &b, Span &r)
{
    if (r.hole == none)
        r.hole = index(b.hole);
    if (b.count == 0)
        return;
    if (r.count == 0) {
        r.first = b.first;
        r.lowest = b.lowest;
        r.highest = b.highest;
        r.low = b.min;
        r.high = b.max;
    } else {
        if (b.min < r.low) {
            r.lowest = b.lowest;
            r.low = b.min;
        }
        if (b.max > r.high) {
            r.highest = b.highest;
            r.high = b.max;
        }
    }
    r.last = b.last;
    r.sum += b.sum;
    r.count += b.count;
}

bool summarized(const Series &s)
{
    return s.t.size() < Block::none &&
        s.blocks.size() == (s.t.size() + Block::size - 1) / Block::size;
}

// Readings i..j-1: whole blocks from their figures, the ends one by one.
void gather(const Series &s, std::size_t i, std::size_t j, Span &r)
{
    constexpr std::size_t n = Block::size;
    if (j < i + 2 * n || !summarized(s)) {
        scan(s, i, j, r);
        return;
    }
    const std::size_t b0 = (i + n - 1) / n, b1 = j / n;
    scan(s, i, b0 * n, r);
    for (std::size_t b = b0; b < b1; ++b)
        add(s.blocks[b], r);
    scan(s, b1 * n, j, r);
}

std::pair<std::size_t, std::size_t> inRange(const Series &s, double from, double to)
{
    const auto lo = std::lower_bound(s.t.begin(), s.t.end(), from);
    const auto hi = std::upper_bound(lo, s.t.end(), to);
    return {static_cast<std::size_t>(lo - s.t.begin()), static_cast<std::size_t>(hi - s.t.begin())};
}

} // namespace

const std::vector<double> &Times::none()
{
    static const std::vector<double> empty;
    return empty;
}

std::vector<double> &Times::edit()
{
    if (!p_)
        p_ = std::make_shared<std::vector<double>>();
    else if (p_.use_count() > 1)
        p_ = std::make_shared<std::vector<double>>(*p_);
    return *p_;
}

void SeriesSet::clear()
{
    series_.clear();
    origin_.clear();
    byName_.clear();
    taken_.clear();
    missing_ = false;
}

void SeriesSet::rowsDiscarded(int source)
{
    if (source >= 0 && static_cast<std::size_t>(source) < taken_.size())
        taken_[static_cast<std::size_t>(source)].row = 0;
}

std::size_t SeriesSet::points() const
{
    std::size_t n = 0;
    for (const Series &s : series_)
        n += s.t.size();
    return n;
}

std::size_t SeriesSet::bytes() const
{
    std::size_t n = 0;
    std::vector<const void *> times;
    for (const Series &s : series_) {
        n += s.v.capacity() * sizeof(float) + s.blocks.capacity() * sizeof(Block);
        if (s.t.id() && std::find(times.begin(), times.end(), s.t.id()) == times.end()) {
            times.push_back(s.t.id());
            n += s.t.values().capacity() * sizeof(double);
        }
    }
    return n;
}

double SeriesSet::first() const
{
    double t = gap;
    for (const Series &s : series_)
        if (!std::isnan(s.whole.first) && !(s.whole.first >= t))
            t = s.whole.first;
    return t;
}

double SeriesSet::last() const
{
    double t = gap;
    for (const Series &s : series_)
        if (!std::isnan(s.whole.last) && !(s.whole.last <= t))
            t = s.whole.last;
    return t;
}

std::vector<std::vector<int>> strips(const std::vector<Series> &all)
{
    std::vector<std::vector<int>> out;
    std::vector<const Column *> heads; // per strip, its first series' column
    for (const Kind kind : {Kind::Temperature, Kind::Humidity, Kind::Channel, Kind::Input})
        for (std::size_t s = 0; s < all.size(); ++s) {
            const Column &c = all[s].column;
            if (c.kind != kind)
                continue;
            std::size_t k = 0;
            while (k < heads.size() &&
                   !(heads[k]->kind == kind && (kind != Kind::Channel || heads[k]->unit == c.unit)))
                ++k;
            if (k == heads.size()) {
                heads.push_back(&c);
                out.emplace_back();
            }
            out[k].push_back(static_cast<int>(s));
        }
    return out;
}

void SeriesSet::choose(const Choice &choice)
{
    choice_ = choice;
    applyChoice();
}

void SeriesSet::applyChoice()
{
    int row = 0;
    for (const std::vector<int> &strip : strips(series_))
        for (const int index : strip) {
            Series &s = series_[static_cast<std::size_t>(index)];
            const bool keep = choice_.keeps(row++, s.column.name);
            if (keep == s.kept)
                continue;
            if (!keep) {
                s.kept = false;
                s.t = Times();
                std::vector<float>().swap(s.v);
                std::vector<Block>().swap(s.blocks);
            } else if (std::isnan(s.whole.first)) {
                s.kept = true; // nothing read of it yet: nothing lost
            } else {
                missing_ = true;
            }
        }
}

bool SeriesSet::take(int source, const CaptureReader &file)
{
    if (source < 0)
        return false;
    if (taken_.size() <= static_cast<std::size_t>(source))
        taken_.resize(static_cast<std::size_t>(source) + 1);
    Taken &k = taken_[static_cast<std::size_t>(source)];
    const std::vector<ColumnSet> &sets = file.sets();
    // The new series first: their place in the legend says which are kept.
    // The last header's names may yet be cut otherwise by its first line.
    bool added = false;
    const std::size_t settled =
        file.resumePoint().columns < 0 && !sets.empty() && sets.back().times.empty()
        ? sets.size() - 1
        : sets.size();
    for (std::size_t s = k.set; s < settled; ++s) {
        makeRoom(series_, series_.size() + sets[s].columns.size(), 4);
        makeRoom(origin_, series_.size() + sets[s].columns.size(), 4);
        for (const Column &column : sets[s].columns)
            if (find(column.name) < 0) {
                byName_.insert(column.name, static_cast<int>(series_.size()));
                Series fresh;
                fresh.column = column;
                fresh.kept = false;
                series_.push_back(std::move(fresh));
                origin_.emplace_back(source, s);
                added = true;
            }
    }
    if (added)
        applyChoice();
    for (std::size_t s = k.set; s < sets.size(); ++s) {
        const ColumnSet &cs = sets[s];
        const std::size_t from = s == k.set ? k.row : 0;
        const std::size_t to = cs.times.size();
        k.set = s;
        k.row = to;
        if (from == to)
            continue;
        const auto [lo, hi] =
            std::minmax_element(cs.times.begin() + static_cast<std::ptrdiff_t>(from),
                                cs.times.begin() + static_cast<std::ptrdiff_t>(to));
        const double t0 = static_cast<double>(*lo) / 1000.0;
        const double t1 = static_cast<double>(*hi) / 1000.0;
        // Per times before these rows (and a break or not): the times after.
        std::map<std::pair<const void *, bool>, Times> same;
        for (std::size_t c = 0; c < cs.columns.size(); ++c) {
            const auto index = static_cast<std::size_t>(find(cs.columns[c].name));
            Series &se = series_[index];
            const std::pair<int, std::size_t> here{source, s};
            // Another file or a restart: no line joins the two.
            const bool restart = origin_[index] != here && !std::isnan(se.whole.first);
            origin_[index] = here;
            Whole &w = se.whole;
            for (std::size_t r = from; r < to; ++r) {
                const double x = static_cast<float>(cs.values[c][r]);
                if (x != x) // NaN
                    continue;
                w.min = w.count ? std::min(w.min, x) : x;
                w.max = w.count ? std::max(w.max, x) : x;
                w.sum += x;
                ++w.count;
            }
            w.first = std::isnan(w.first) ? t0 : std::min(w.first, t0);
            w.last = std::isnan(w.last) ? t1 : std::max(w.last, t1);
            if (se.kept)
                append(se, cs, c, from, to, restart, same);
        }
    }
    return added;
}

void SeriesSet::append(Series &se, const ColumnSet &cs, std::size_t c, std::size_t from,
                       std::size_t to, bool restart,
                       std::map<std::pair<const void *, bool>, Times> &same)
{
    const std::size_t before = se.t.size();
    const std::vector<double> &values = cs.values[c];
    const auto key = std::pair(se.t.id(), restart);
    if (const auto it = same.find(key); it != same.end()) {
        // The times a series before it made of the same ones.
        se.t = it->second;
        makeRoom(se.v, se.t.size());
        if (restart)
            se.v.push_back(gap);
        se.v.insert(se.v.end(), values.begin() + static_cast<std::ptrdiff_t>(from),
                    values.begin() + static_cast<std::ptrdiff_t>(to));
        summarize(se, before);
        return;
    }
    std::vector<double> &t = se.t.edit();
    const double t0 = static_cast<double>(cs.times[from]) / 1000.0;
    const bool ordered = t.empty() || t.back() <= t0;
    if (restart) {
        t.push_back(t0);
        se.v.push_back(gap);
    }
    makeRoom(t, t.size() + (to - from));
    makeRoom(se.v, t.size() + (to - from));
    for (std::size_t r = from; r < to; ++r) {
        t.push_back(static_cast<double>(cs.times[r]) / 1000.0);
        se.v.push_back(static_cast<float>(values[r]));
    }
    if (!ordered || !std::is_sorted(t.end() - static_cast<std::ptrdiff_t>(to - from), t.end())) {
        // Rows that go before others: a break after them too, so the
        // sort leaves them apart from whatever follows in time.
        t.push_back(*std::max_element(t.end() - static_cast<std::ptrdiff_t>(to - from), t.end()));
        se.v.push_back(gap);
        sortByTime(se);
        summarize(se);
    } else {
        summarize(se, before);
        same.emplace(key, se.t);
    }
}

void summarize(Series &s, std::size_t from)
{
    constexpr std::size_t n = Block::size;
    const std::size_t size = s.t.size();
    s.blocks.resize(std::min(s.blocks.size(), from / n));
    if (size >= Block::none)
        return; // too long to index in 32 bits: read one by one
    makeRoom(s.blocks, (size + n - 1) / n, 4);
    for (std::size_t b = s.blocks.size(); b * n < size; ++b) {
        Span r;
        scan(s, b * n, std::min(size, (b + 1) * n), r);
        Block k;
        k.count = static_cast<std::uint32_t>(r.count);
        k.sum = r.sum;
        k.hole = r.hole == none ? Block::none : static_cast<std::uint32_t>(r.hole);
        if (r.count > 0) {
            k.first = static_cast<std::uint32_t>(r.first);
            k.last = static_cast<std::uint32_t>(r.last);
            k.lowest = static_cast<std::uint32_t>(r.lowest);
            k.highest = static_cast<std::uint32_t>(r.highest);
            k.min = r.low;
            k.max = r.high;
        }
        s.blocks.push_back(k);
    }
}

void decimate(const Series &s, double from, double to, int columns, Points &out)
{
    out.t.clear();
    out.v.clear();
    if (s.t.empty() || !(to > from) || columns < 1)
        return;
    auto [lo, hi] = inRange(s, from, to);
    if (lo > 0)
        --lo;
    if (hi < s.t.size())
        ++hi;
    if (hi - lo <= 4 * static_cast<std::size_t>(columns)) {
        out.t.assign(s.t.begin() + static_cast<std::ptrdiff_t>(lo),
                     s.t.begin() + static_cast<std::ptrdiff_t>(hi));
        out.v.assign(s.v.begin() + static_cast<std::ptrdiff_t>(lo),
                     s.v.begin() + static_cast<std::ptrdiff_t>(hi));
        return;
    }
    out.t.reserve(5 * static_cast<std::size_t>(columns) + 8);
    out.v.reserve(5 * static_cast<std::size_t>(columns) + 8);

    // The readings either side of the range get columns of their own.
    const double scale = columns / (to - from);
    const auto column = [&](double x) {
        const double c = std::floor((x - from) * scale);
        return c < 0 ? -1L : c >= columns ? static_cast<long>(columns) : static_cast<long>(c);
    };
    const std::size_t expected =
        std::max<std::size_t>(1, (hi - lo) / static_cast<std::size_t>(columns));
    std::size_t i = lo;
    while (i < hi) {
        const long c = column(s.t[i]);
        // column(x) <= c without the floor: the same test, cheaper.
        const double end = static_cast<double>(c + 1);
        const auto inColumn = [&](double x) { return c >= columns || (x - from) * scale < end; };
        // Galloping to the column's end, then a binary search.
        std::size_t a = i + 1, b = std::min(hi, i + expected), step = expected;
        while (b < hi && inColumn(s.t[b])) {
            a = b + 1;
            step *= 2;
            b = std::min(hi, b + step);
        }
        const std::size_t j = static_cast<std::size_t>(
            std::partition_point(s.t.begin() + static_cast<std::ptrdiff_t>(std::min(a, b)),
                                 s.t.begin() + static_cast<std::ptrdiff_t>(b), inColumn) -
            s.t.begin());
        Span r;
        gather(s, i, j, r);
        std::size_t keep[5] = {r.first, r.lowest, r.highest, r.last, r.hole};
        std::sort(keep, keep + 5);
        std::size_t previous = none;
        for (const std::size_t k : keep) {
            if (k == none || k == previous)
                continue;
            out.t.push_back(s.t[k]);
            out.v.push_back(s.v[k]);
            previous = k;
        }
        i = j;
    }
}

namespace {

Stats figures(std::size_t count, double min, double max, double sum)
{
    Stats out;
    out.count = count;
    if (count > 0) {
        out.min = min;
        out.max = max;
        out.mean = sum / static_cast<double>(count);
    }
    return out;
}

} // namespace

Stats stats(const Series &s, double from, double to)
{
    const auto [lo, hi] = inRange(s, from, to);
    Span r;
    gather(s, lo, hi, r);
    return figures(r.count, r.low, r.high, r.sum);
}

std::optional<Stats> known(const Series &s, double from, double to)
{
    if (s.kept)
        return stats(s, from, to);
    const Whole &w = s.whole;
    if (std::isnan(w.first) || !(from <= w.first && w.last <= to))
        return std::nullopt;
    return figures(w.count, w.min, w.max, w.sum);
}

double valueAt(const Series &s, double at, double within)
{
    if (s.t.empty())
        return gap;
    const auto it = std::lower_bound(s.t.begin(), s.t.end(), at);
    std::size_t i = static_cast<std::size_t>(it - s.t.begin());
    if (i == s.t.size() || (i > 0 && at - s.t[i - 1] <= s.t[i] - at))
        --i;
    // A break shares its time with a reading beside it: the reading counts.
    if (std::isnan(s.v[i]) && i + 1 < s.t.size() && s.t[i + 1] == s.t[i] && !std::isnan(s.v[i + 1]))
        ++i;
    else if (std::isnan(s.v[i]) && i > 0 && s.t[i - 1] == s.t[i] && !std::isnan(s.v[i - 1]))
        --i;
    return std::abs(s.t[i] - at) <= within ? s.v[i] : gap;
}
