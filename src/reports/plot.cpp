#include "reports/plot.h"
#include "reports/text.h"

#include <QDateTime>
#include <QTimeZone>

#include <algorithm>
#include <cmath>

namespace reports {

namespace {

// The page's colours, in the same order within each plot.
constexpr unsigned palette[] = {0x1f77b4, 0xd62728, 0x2ca02c, 0xff7f0e, 0x9467bd,
                                0x8c564b, 0xe377c2, 0x7f7f7f, 0xbcbd22, 0x17becf};
constexpr double inputStep = 1.5; // inputs stack in their strip, 0..1 each
constexpr std::size_t legendRows = 8;

struct Point {
    double x, y;
};
using Run = std::vector<Point>; // drawn without a break

struct Frame {
    double x, y, w, h; // the plot's area on the page
    double t0, t1, v0, v1; // what it shows
    // To a tenth of a point, finer than print shows: the file's numbers
    // are shorter.
    double px(double t) const { return std::round((x + (t - t0) / (t1 - t0) * w) * 10) / 10; }
    double py(double v) const { return std::round((y + h - (v - v0) / (v1 - v0) * h) * 10) / 10; }
};

// The runs of one line: a bucket's lowest then its highest reading, broken
// at a gap (a bucket without readings, or a stop much longer than the
// line's usual step). `merge` buckets are drawn as one, so that a plot of
// hundreds of lines stays a file of reasonable size.
std::vector<Run> runsOf(const Line &l, double offset, std::size_t merge)
{
    const std::size_t n = std::min(l.t.size(), l.min.size());
    std::vector<std::int64_t> steps;
    for (std::size_t i = merge; i < n && steps.size() < 2000; i += merge)
        steps.push_back(l.t[i] - l.t[i - merge]);
    std::sort(steps.begin(), steps.end());
    const double step = steps.empty() ? 0 : double(steps[steps.size() / 2]);
    std::vector<Run> runs(1);
    for (std::size_t i = 0; i < n; i += merge) {
        double lo = INFINITY, hi = -INFINITY;
        for (std::size_t k = i; k < i + merge && k < n; ++k) {
            if (std::isfinite(l.min[k]))
                lo = std::min(lo, l.min[k]);
            const double top = k < l.max.size() && std::isfinite(l.max[k]) ? l.max[k] : l.min[k];
            if (std::isfinite(top))
                hi = std::max(hi, top);
        }
        const bool none = !(lo <= hi);
        const bool stop = i > 0 && step > 0 && double(l.t[i] - l.t[i - merge]) > 5 * step;
        if ((none || stop) && !runs.back().empty())
            runs.emplace_back();
        if (none)
            continue;
        runs.back().push_back({double(l.t[i]), lo + offset});
        if (hi != lo)
            runs.back().push_back({double(l.t[i]) + step / 2, hi + offset});
    }
    return runs;
}

// About `most` marks on a 1, 2, 5 scale covering [lo, hi].
std::vector<double> valueMarks(double lo, double hi, int most, int &decimals)
{
    const double raw = (hi - lo) / most;
    double step = std::pow(10.0, std::floor(std::log10(raw)));
    for (const double f : {1.0, 2.0, 5.0, 10.0})
        if (f * step >= raw) {
            step *= f;
            break;
        }
    decimals = std::max(0, int(-std::floor(std::log10(step) + 1e-9)));
    std::vector<double> marks;
    for (double v = std::ceil(lo / step - 1e-9) * step; v <= hi + step * 1e-9; v += step)
        marks.push_back(std::abs(v) < step * 1e-9 ? 0 : v);
    return marks;
}

void stroke(cairo_t *cr, const Frame &f, const Run &run, bool steps)
{
    if (run.empty())
        return;
    cairo_move_to(cr, f.px(run[0].x), f.py(run[0].y));
    if (run.size() == 1) // a lone reading still shows
        cairo_line_to(cr, f.px(run[0].x) + 0.8, f.py(run[0].y));
    for (std::size_t i = 1; i < run.size(); ++i) {
        if (steps)
            cairo_line_to(cr, f.px(run[i].x), f.py(run[i - 1].y));
        cairo_line_to(cr, f.px(run[i].x), f.py(run[i].y));
    }
    cairo_stroke(cr);
}

void rgb(cairo_t *cr, unsigned c)
{
    cairo_set_source_rgb(cr, ((c >> 16) & 0xff) / 255.0, ((c >> 8) & 0xff) / 255.0,
                         (c & 0xff) / 255.0);
}

} // namespace

std::vector<TimeMark> timeMarks(std::int64_t from, std::int64_t to, const std::string &zone,
                                int most)
{
    std::vector<TimeMark> marks;
    if (to <= from || most < 1)
        return marks;
    constexpr std::int64_t minute = 60, hour = 3600, day = 86400;
    const std::int64_t choices[] = {minute,   5 * minute, 15 * minute, 30 * minute, hour,
                                    2 * hour, 3 * hour,   6 * hour,    12 * hour,   day,
                                    2 * day,  7 * day,    14 * day,    28 * day};
    std::int64_t step = choices[std::size(choices) - 1];
    for (const std::int64_t s : choices)
        if ((to - from) / 1000 / s <= most) {
            step = s;
            break;
        }
    QTimeZone tz(QByteArray::fromStdString(zone));
    if (!tz.isValid())
        tz = QTimeZone::utc();
    // Local days from the one before the first to the one after the last;
    // within each, the instants of local times that are whole steps.
    QDate d = QDateTime::fromMSecsSinceEpoch(from, tz).date().addDays(-1);
    const QDate last = QDateTime::fromMSecsSinceEpoch(to, tz).date().addDays(1);
    for (; d <= last; d = d.addDays(1)) {
        const std::int64_t perDay = step < day ? day / step : 1;
        if (step >= day && (step == 7 * day ? d.dayOfWeek() != 1 : d.toJulianDay() % (step / day)))
            continue;
        for (std::int64_t k = 0; k < perDay; ++k) {
            const QDateTime at(d, QTime(0, 0).addSecs(int(k * step)), tz);
            const std::int64_t t = at.toMSecsSinceEpoch();
            if (t < from || t > to || (!marks.empty() && t <= marks.back().t))
                continue;
            TimeMark m;
            m.t = t;
            const QTime local = QDateTime::fromMSecsSinceEpoch(t, tz).time();
            const std::string date = at.toString(QStringLiteral("dd/MM")).toStdString();
            if (step >= day) {
                m.label = date;
            } else {
                m.label = local.toString(QStringLiteral("HH:mm")).toStdString();
                if (marks.empty() || (local.hour() == 0 && local.minute() == 0))
                    m.date = date;
            }
            marks.push_back(std::move(m));
        }
    }
    return marks;
}

double plotAxis(Pages &pages, const Report &r)
{
    pages.font(6.5);
    double axis = 38;
    for (const Plot &p : r.plots)
        for (const Line &l : p.lines)
            if (p.steps && l.column >= 0 && std::size_t(l.column) < r.columns.size())
                axis = std::clamp(
                    pages.measure(text::clean(r.columns[std::size_t(l.column)].column)) + 8, axis,
                    120.0);
    return axis;
}

void drawPlot(Pages &pages, const Report &r, const Plot &p, double axis)
{
    cairo_t *cr = pages.cr();
    const bool several = text::severalPorts(r);
    const std::size_t n = p.lines.size();
    // Inputs have a strip each, narrower when there are many, so that the
    // plot fits on a page with its header and legend.
    const double strip =
        std::clamp((pageHeight - 2 * margin - 260) / std::max<double>(1, double(n)), 1.0, 22.0);
    const double area = p.steps ? 24 + strip * double(n) : 190;

    // The legend names each line by its place; an input's strip, by its
    // column's name.
    std::vector<std::string> names, strips;
    pages.font(6.5);
    for (const Line &l : p.lines) {
        const bool known = l.column >= 0 && std::size_t(l.column) < r.columns.size();
        names.push_back(known ? text::place(r.columns[std::size_t(l.column)], several) : "?");
        strips.push_back(known ? text::clean(r.columns[std::size_t(l.column)].column) : "?");
    }
    // The legend: the lines in rows, then the limits; past its rows, how
    // many lines it leaves out.
    enum Look { Solid, Dashed, Plain };
    struct Entry {
        std::string name;
        unsigned colour;
        Look look;
        double x;
        std::size_t row;
    };
    std::vector<Entry> legend;
    double lx = 0;
    std::size_t row = 0;
    const double lw = pages.width() - axis;
    auto add = [&](const std::string &name, unsigned colour, Look look) {
        const double w = (look == Plain ? 0 : 16) + pages.measure(name) + 10;
        if (lx > 0 && lx + w > lw) {
            lx = 0;
            ++row;
        }
        legend.push_back({name, colour, look, lx, row});
        lx += w;
    };
    for (std::size_t i = 0; i < n; ++i) {
        if (row == legendRows) {
            lx = legend.back().x;
            legend.pop_back();
            add("y " + std::to_string(n - i + 1) + " más", 0, Plain);
            break;
        }
        add(pages.wrap(names[i], 150, 1)[0], palette[i % std::size(palette)], Solid);
    }
    if (!p.limits.empty() && !p.steps)
        add("límites", 0x444444, Dashed);
    const double legendHeight = legend.empty() ? 0 : 10 * double(legend.back().row + 1);
    const double height = 16 + area + 22 + legendHeight + 10;

    pages.need(height);
    const double top = pages.y();
    pages.advance(height);
    if (!pages.drawing())
        return;

    // Converters are plotted by unit, named as the page names them.
    std::string title = text::clean(p.title);
    if (!p.steps && (title.empty() || title == p.unit))
        title =
            "Canales (" + (p.unit.empty() ? std::string("sin unidad") : text::clean(p.unit)) + ")";
    else if (!p.unit.empty() && title.find(p.unit) == std::string::npos)
        title += " (" + text::clean(p.unit) + ")";
    pages.font(10, true);
    pages.colour(0);
    pages.text(margin, top + 11, title);

    Frame f{margin + axis, top + 16, pages.width() - axis - 6, area, 0, 1, 0, 1};
    f.t0 = double(r.request.period.from);
    f.t1 = double(r.request.period.to);
    std::vector<std::vector<Run>> runs;
    double lo = INFINITY, hi = -INFINITY;
    std::size_t points = 0;
    for (const Line &l : p.lines)
        points += l.t.size();
    const std::size_t merge = std::max<std::size_t>(1, (points + 59999) / 60000);
    for (std::size_t i = 0; i < n; ++i) {
        runs.push_back(runsOf(p.lines[i], p.steps ? double(i) * inputStep : 0, merge));
        for (const Run &run : runs.back())
            for (const Point &q : run) {
                lo = std::min(lo, q.y);
                hi = std::max(hi, q.y);
                if (!(f.t1 > f.t0)) {
                    f.t0 = std::min(f.t0, q.x);
                    f.t1 = std::max(f.t1, q.x);
                }
            }
    }
    const bool any = lo <= hi;
    if (!p.steps)
        for (const double v : p.limits)
            if (std::isfinite(v) && any) {
                lo = std::min(lo, v);
                hi = std::max(hi, v);
            }
    if (p.steps) {
        lo = -0.3;
        hi = double(n) * inputStep - 0.2;
    } else if (!any) {
        lo = 0;
        hi = 1;
    } else if (hi - lo < 1e-9) {
        lo -= 1;
        hi += 1;
    } else {
        const double m = (hi - lo) * 0.05;
        lo -= m;
        hi += m;
    }
    if (!(f.t1 > f.t0))
        f.t1 = f.t0 + 1;
    f.v0 = lo;
    f.v1 = hi;

    // Frame, marks and their grid.
    cairo_set_line_width(cr, 0.3);
    pages.font(6.5);
    for (const TimeMark &m :
         timeMarks(std::int64_t(f.t0), std::int64_t(f.t1), r.zone, int(f.w / 60))) {
        const double x = f.px(double(m.t));
        rgb(cr, 0xdddddd);
        cairo_move_to(cr, x, f.y);
        cairo_line_to(cr, x, f.y + f.h);
        cairo_stroke(cr);
        pages.colour(0x333333);
        pages.text(x - pages.measure(m.label) / 2, f.y + f.h + 9, m.label);
        pages.text(x - pages.measure(m.date) / 2, f.y + f.h + 17, m.date);
    }
    if (p.steps) {
        // Names in strips too narrow for them would be a smudge: the legend
        // has them.
        for (std::size_t i = 0; i < n && strip >= 7; ++i) {
            const std::string name = pages.wrap(strips[i], axis - 6, 1)[0];
            pages.colour(0x333333);
            pages.text(f.x - 4 - pages.measure(name), f.py(double(i) * inputStep + 0.5) + 2, name);
        }
    } else if (any) {
        int decimals = 0;
        for (const double v : valueMarks(lo, hi, 6, decimals)) {
            const double y = f.py(v);
            rgb(cr, 0xdddddd);
            cairo_move_to(cr, f.x, y);
            cairo_line_to(cr, f.x + f.w, y);
            cairo_stroke(cr);
            const std::string label = text::number(v, decimals);
            pages.colour(0x333333);
            pages.text(f.x - 4 - pages.measure(label), y + 2.2, label);
        }
    } else {
        pages.font(9);
        pages.colour(0x555555);
        pages.text(f.x + 10, f.y + f.h / 2, "Sin lecturas en el periodo.");
    }
    rgb(cr, 0x888888);
    cairo_set_line_width(cr, 0.5);
    cairo_rectangle(cr, f.x, f.y, f.w, f.h);
    cairo_stroke(cr);

    cairo_save(cr);
    cairo_rectangle(cr, f.x, f.y, f.w, f.h);
    cairo_clip(cr);
    if (!p.steps) {
        const double dash[] = {4, 3};
        cairo_set_dash(cr, dash, 2, 0);
        cairo_set_line_width(cr, 0.8);
        rgb(cr, 0x444444);
        std::vector<double> limits = p.limits;
        std::sort(limits.begin(), limits.end());
        limits.erase(std::unique(limits.begin(), limits.end()), limits.end());
        for (const double v : limits) {
            cairo_move_to(cr, f.x, f.py(v));
            cairo_line_to(cr, f.x + f.w, f.py(v));
            cairo_stroke(cr);
        }
        cairo_set_dash(cr, nullptr, 0, 0);
    }
    cairo_set_line_width(cr, 0.7);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
    for (std::size_t i = 0; i < n; ++i) {
        rgb(cr, palette[i % std::size(palette)]);
        for (const Run &run : runs[i])
            stroke(cr, f, run, p.steps);
    }
    cairo_restore(cr);

    pages.font(6.5);
    const double ly = f.y + f.h + 22;
    for (const Entry &e : legend) {
        const double x = f.x + e.x, y = ly + 10 * double(e.row);
        if (e.look != Plain) {
            rgb(cr, e.colour);
            cairo_set_line_width(cr, e.look == Dashed ? 0.8 : 1.5);
            const double dash[] = {3, 2};
            cairo_set_dash(cr, dash, e.look == Dashed ? 2 : 0, 0);
            cairo_move_to(cr, x, y + 4);
            cairo_line_to(cr, x + 12, y + 4);
            cairo_stroke(cr);
            cairo_set_dash(cr, nullptr, 0, 0);
        }
        pages.colour(0);
        pages.text(x + (e.look == Plain ? 0 : 16), y + 6.5, e.name);
    }
}

} // namespace reports
