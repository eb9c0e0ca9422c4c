// The figures of a column computed from readings and rollups: pieces of
// rollups and single readings combined into counts, extremes, mean and
// standard deviation and the mean kinetic temperature; the time a column
// spends outside its limits over its port's lines; expected and missing
// lines. Pure arithmetic: nothing here reads the archive.
#pragma once

#include "central/marks.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace reports {

// ΔH/R of the mean kinetic temperature: 83 144 J/mol over 8.3144 J/(mol·K).
constexpr double activationKelvin = 10000;
constexpr double kelvinOffset = 273.15;

// A stretch of readings of one column, whole: a rollup's hour or minute,
// or one reading (n = 1, or n = 0 for ERR).
struct Piece {
    std::int64_t from = 0, to = 0; // ms; a reading's: its own time
    std::int64_t lines = 0; // lines that hold the column
    std::int64_t n = 0; // of them, readings that are not ERR
    double min = 0, max = 0, sum = 0, squares = 0;
    std::optional<double> arrhenius; // Σ exp(-ΔH/R / (v + 273.15)); none: not known
};

// A reading as a piece of its own.
Piece reading(std::int64_t at, std::optional<double> value);

// Pieces combined in any order. The variance is merged piece by piece
// (each piece's own spread about its mean, then the spread of the means),
// which keeps the digits a single sum of squares over a month would lose.
class Figures {
public:
    void add(const Piece &p);
    std::int64_t lines() const { return lines_; }
    std::int64_t received() const { return n_; }
    std::optional<double> min() const;
    std::optional<double> max() const;
    std::int64_t minAt() const { return minAt_; }
    std::int64_t maxAt() const { return maxAt_; }
    std::optional<double> mean() const;
    std::optional<double> stddev() const; // of the sample; none below two readings
    // ºC, from every reading; none when a reading is at or below absolute
    // zero, or a piece's sum is not known.
    std::optional<double> mkt() const;

private:
    std::int64_t lines_ = 0, n_ = 0;
    double min_ = 0, max_ = 0, mean_ = 0, m2_ = 0, arrhenius_ = 0;
    std::int64_t minAt_ = 0, maxAt_ = 0;
    bool arrheniusKnown_ = true;
};

// The mean kinetic temperature (ºC) of n readings whose Arrhenius terms sum to `sum`.
std::optional<double> kineticMean(double sum, std::int64_t n);

// A line of a column's port: its time, whether its header holds the column,
// and the column's value (none: ERR or not held).
struct PortLine {
    std::int64_t at = 0;
    bool holds = false;
    std::optional<double> value;
};

// The watch in force from an instant on (its limits, the device's type).
struct WatchFrom {
    std::int64_t from = 0;
    central::Watch watch;
    int intervalMs = 1000; // the port's line interval then
};

struct Outside {
    std::int64_t belowMs = 0, aboveMs = 0, activeMs = 0;
};

// Time outside limits (or active) of the readings at [from, to) among
// `lines` (in time order; lines after `to` give the last one's next line).
// Each reading stands until its port's next line, at most the line
// interval, the last one of the period at most to `periodEnd`. `watches`
// in time order; the first stands for any instant before the second.
Outside outsideOver(const std::vector<PortLine> &lines, std::int64_t from, std::int64_t to,
                    std::int64_t periodEnd, const std::vector<WatchFrom> &watches);

// The time outside limits (or active) of a whole rollup piece, when its
// figures alone give it: none of its readings outside (or active), or all
// of them, with a line every second of the piece (each reading then stands
// for exactly a second, the line interval being a second); none when only
// its lines tell.
std::optional<Outside> outsideOfPiece(const Piece &p, const std::vector<WatchFrom> &watches);

// Which watch of `watches` is in force at `at`.
const WatchFrom &watchAt(const std::vector<WatchFrom> &watches, std::int64_t at);

// Lines a port should have written over [from, to): the length over the
// line interval, each stretch at the interval then in force.
std::int64_t expectedLines(std::int64_t from, std::int64_t to,
                           const std::vector<WatchFrom> &watches);

} // namespace reports
