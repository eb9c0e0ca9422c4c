// The readings of one or more capture files as series on one time axis, a
// series per column name, and what a plot needs of them: few points per
// pixel column, and figures of the part in view.
#pragma once

#include "viewer/capturereader.h"

#include <QHash>
#include <QSet>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <limits>
#include <map>
#include <optional>
#include <memory>
#include <utility>
#include <vector>

// Figures of a run of consecutive readings: a long range is reduced and
// summed a run at a time instead of a reading at a time.
struct Block {
    static constexpr std::size_t size = 16;
    static constexpr std::uint32_t none = 0xFFFFFFFF;
    double min = 0, max = 0, sum = 0;
    std::uint32_t count = 0; // readings, gaps not counted
    // Indices into the series: first and last reading, first lowest and
    // highest, first gap; `none` where there is none.
    std::uint32_t first = none, last = none, lowest = none, highest = none, hole = none;
};

// The times of a series, seconds since the epoch, ascending; shared with
// the other series of a column set while they agree, so a file of thousands
// of columns keeps them once.
class Times {
public:
    const std::vector<double> &values() const { return p_ ? *p_ : none(); }
    std::size_t size() const { return values().size(); }
    bool empty() const { return values().empty(); }
    std::vector<double>::const_iterator begin() const { return values().begin(); }
    std::vector<double>::const_iterator end() const { return values().end(); }
    double operator[](std::size_t i) const { return (*p_)[i]; }
    double front() const { return p_->front(); }
    double back() const { return p_->back(); }
    // The times to change, copied first while another series shares them.
    std::vector<double> &edit();
    // Which times these are: equal for series that share them.
    const void *id() const { return p_.get(); }

private:
    static const std::vector<double> &none();
    std::shared_ptr<std::vector<double>> p_;
};

// The figures of every reading of a series, kept whether its readings are
// or not: what the legend can say of a series that is not drawn.
struct Whole {
    double first = std::numeric_limits<double>::quiet_NaN(); // times of its first and last line
    double last = std::numeric_limits<double>::quiet_NaN();
    double min = std::numeric_limits<double>::quiet_NaN();
    double max = std::numeric_limits<double>::quiet_NaN();
    double sum = 0;
    std::size_t count = 0; // readings, gaps not counted
};

struct Series {
    Column column;
    // Its readings are kept, all of them since its first line; otherwise
    // t, v and blocks are empty and only `whole` is known.
    bool kept = true;
    Whole whole;
    Times t;
    // NaN: no reading (ERR, or the break between two column sets). The
    // capture writes what the devices' single-precision values hold: no
    // more is kept.
    std::vector<float> v;
    // One per Block::size readings, kept by SeriesSet (summarize() for a
    // series made by hand); without them every reading is looked at.
    std::vector<Block> blocks;
};

// Makes the blocks of `s` again from the reading `from` on.
void summarize(Series &s, std::size_t from = 0);

// Which series keep their readings: those drawn, the first rows of the
// legend unless turned off and the others turned on.
struct Choice {
    int first = std::numeric_limits<int>::max();
    QSet<QString> off; // names turned off
    QSet<QString> on; // names turned on past the first rows
    bool keeps(int row, const QString &name) const
    {
        return !off.contains(name) && (row < first || on.contains(name));
    }
};

// The series in the legend's order, a strip of the plot each: temperatures,
// humidities, converter channels per unit in the order met, inputs.
std::vector<std::vector<int>> strips(const std::vector<Series> &all);

class SeriesSet {
public:
    // Adds the rows of `file` not taken yet. `source` numbers the open files
    // (any order; times are kept ascending). True when new series appeared.
    bool take(int source, const CaptureReader &file);
    // `source`'s reader forgot the rows taken (CaptureReader::discardRows()).
    void rowsDiscarded(int source);
    void clear(); // the choice stays

    // The series kept from now on; those no longer chosen are let go.
    void choose(const Choice &choice);
    // A series chosen whose readings were let go or never kept: only the
    // files read again (into a set with this choice) give them.
    bool missing() const { return missing_; }
    // Bytes of readings, times and blocks kept.
    std::size_t bytes() const;

    const std::vector<Series> &all() const { return series_; }
    int find(const QString &name) const { return byName_.value(name, -1); }
    std::size_t points() const;
    // The time span of all series; NaN when there is no reading.
    double first() const;
    double last() const;

private:
    struct Taken {
        std::size_t set = 0;
        std::size_t row = 0;
    };
    std::vector<Series> series_;
    std::vector<std::pair<int, std::size_t>>
        origin_; // per series: file and column set of its last rows
    QHash<QString, int> byName_;
    std::vector<Taken> taken_; // per source
    Choice choice_;
    bool missing_ = false;

    void applyChoice();
    void append(Series &se, const ColumnSet &cs, std::size_t c, std::size_t from, std::size_t to,
                bool restart, std::map<std::pair<const void *, bool>, Times> &same);
};

struct Points {
    std::vector<double> t, v;
};

// The points that draw `s` from `from` to `to` on `columns` pixel columns:
// all of them when few, otherwise per column the first, lowest, highest and
// last reading in time order, with a NaN where the column holds a gap. The
// readings either side of the range are kept so lines reach the edges.
void decimate(const Series &s, double from, double to, int columns, Points &out);

struct Stats {
    double min = std::numeric_limits<double>::quiet_NaN();
    double mean = std::numeric_limits<double>::quiet_NaN();
    double max = std::numeric_limits<double>::quiet_NaN();
    std::size_t count = 0; // readings in the range, gaps not counted
};
Stats stats(const Series &s, double from, double to);
// The figures the window can show of `s` from `from` to `to`: those of its
// readings when kept, of all of them when they all lie in the range;
// nothing otherwise.
std::optional<Stats> known(const Series &s, double from, double to);

// The reading nearest to `at`, when one lies within `within` seconds; NaN
// otherwise or when that reading is a gap.
double valueAt(const Series &s, double at, double within);
