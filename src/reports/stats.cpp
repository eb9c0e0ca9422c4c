#include "reports/stats.h"

#include <algorithm>
#include <cmath>

namespace reports {

Piece reading(std::int64_t at, std::optional<double> value)
{
    Piece p;
    p.from = p.to = at;
    p.lines = 1;
    if (value) {
        const double v = *value;
        p.n = 1;
        p.min = p.max = p.sum = v;
        p.squares = v * v;
        if (v > -kelvinOffset)
            p.arrhenius = std::exp(-activationKelvin / (v + kelvinOffset));
    } else {
        p.arrhenius = 0;
    }
    return p;
}

void Figures::add(const Piece &p)
{
    lines_ += p.lines;
    if (p.n <= 0)
        return;
    if (n_ == 0 || p.min < min_ || (p.min == min_ && p.from < minAt_)) {
        min_ = p.min;
        minAt_ = p.from;
    }
    if (n_ == 0 || p.max > max_ || (p.max == max_ && p.from < maxAt_)) {
        max_ = p.max;
        maxAt_ = p.from;
    }
    const double nb = static_cast<double>(p.n), na = static_cast<double>(n_);
    const double meanB = p.sum / nb;
    const double m2b = std::max(0.0, p.squares - p.sum * meanB);
    const double delta = meanB - mean_;
    mean_ += delta * nb / (na + nb);
    m2_ += m2b + delta * delta * na * nb / (na + nb);
    n_ += p.n;
    if (p.arrhenius)
        arrhenius_ += *p.arrhenius;
    else
        arrheniusKnown_ = false;
}

std::optional<double> Figures::min() const
{
    return n_ ? std::optional<double>(min_) : std::nullopt;
}

std::optional<double> Figures::max() const
{
    return n_ ? std::optional<double>(max_) : std::nullopt;
}

std::optional<double> Figures::mean() const
{
    return n_ ? std::optional<double>(mean_) : std::nullopt;
}

std::optional<double> Figures::stddev() const
{
    if (n_ < 2 || !std::isfinite(m2_))
        return std::nullopt;
    return std::sqrt(m2_ / static_cast<double>(n_ - 1));
}

std::optional<double> Figures::mkt() const
{
    if (!n_ || !arrheniusKnown_ || min_ <= -kelvinOffset)
        return std::nullopt;
    return kineticMean(arrhenius_, n_);
}

std::optional<double> kineticMean(double sum, std::int64_t n)
{
    if (n <= 0 || !(sum > 0) || !std::isfinite(sum))
        return std::nullopt;
    return -activationKelvin / std::log(sum / static_cast<double>(n)) - kelvinOffset;
}

const WatchFrom &watchAt(const std::vector<WatchFrom> &watches, std::int64_t at)
{
    // The latest that started by `at`; before the first, the first.
    auto it = std::upper_bound(watches.begin(), watches.end(), at,
                               [](std::int64_t t, const WatchFrom &w) { return t < w.from; });
    return it == watches.begin() ? *it : *(it - 1);
}

std::optional<Outside> outsideOfPiece(const Piece &p, const std::vector<WatchFrom> &watches)
{
    if (p.n <= 0 || watches.empty())
        return Outside{};
    for (const WatchFrom &w : watches)
        if (w.from > p.from && w.from < p.to)
            return std::nullopt;
    const WatchFrom &in = watchAt(watches, p.from);
    const central::Watch &w = in.watch;
    const bool everySecond = in.intervalMs == 1000 && p.lines * 1000 == p.to - p.from;
    const std::int64_t all = p.n * 1000;
    if (w.watched && central::isInput(w.deviceType)) {
        if (p.max < 1 || p.min > 1)
            return Outside{};
        // Inputs read 0 or 1: their sum counts the active ones.
        if (everySecond && p.min >= 0 && p.max <= 1 && std::floor(p.sum) == p.sum)
            return Outside{0, 0, static_cast<std::int64_t>(p.sum) * 1000};
        return std::nullopt;
    }
    const float low = static_cast<float>(p.min), high = static_cast<float>(p.max);
    const bool below = w.min && low < *w.min, above = w.max && high > *w.max;
    if (!below && !above)
        return Outside{};
    if (everySecond && below && w.min && high < *w.min)
        return Outside{all, 0, 0};
    if (everySecond && above && w.max && low > *w.max)
        return Outside{0, all, 0};
    return std::nullopt;
}

Outside outsideOver(const std::vector<PortLine> &lines, std::int64_t from, std::int64_t to,
                    std::int64_t periodEnd, const std::vector<WatchFrom> &watches)
{
    Outside out;
    if (watches.empty())
        return out;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const PortLine &l = lines[i];
        if (l.at < from || l.at >= to || !l.holds || !l.value)
            continue;
        const WatchFrom &w = watchAt(watches, l.at);
        const central::Mark mark = central::markOf(w.watch, l.value);
        if (mark == central::Mark::None)
            continue;
        const std::int64_t next = i + 1 < lines.size() ? lines[i + 1].at : periodEnd;
        const std::int64_t ms =
            std::max<std::int64_t>(0, std::min({next, periodEnd, l.at + w.intervalMs}) - l.at);
        (mark == central::Mark::Below       ? out.belowMs
             : mark == central::Mark::Above ? out.aboveMs
                                            : out.activeMs) += ms;
    }
    return out;
}

std::int64_t expectedLines(std::int64_t from, std::int64_t to,
                           const std::vector<WatchFrom> &watches)
{
    if (to <= from)
        return 0;
    double lines = 0;
    for (std::size_t i = 0; i < std::max<std::size_t>(1, watches.size()); ++i) {
        const std::int64_t a = i == 0 ? from : std::max(from, watches[i].from);
        const std::int64_t b = i + 1 < watches.size() ? std::min(to, watches[i + 1].from) : to;
        const int step = watches.empty() ? 1000 : std::max(1000, watches[i].intervalMs);
        if (b > a)
            lines += static_cast<double>(b - a) / step;
    }
    return static_cast<std::int64_t>(std::floor(lines + 1e-9));
}

} // namespace reports
