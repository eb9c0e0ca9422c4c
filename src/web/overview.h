// What the page shows of each series at a glance, and the answers of the
// overview and plot requests as JSON.
#pragma once

#include "web/database.h"

#include <cstdint>
#include <string>
#include <vector>

// The overview's answer, each series with its mark and whether its reading
// is old by the marks' one rule (central/marks.h):
// `{"ahora":…,"usuario":…,"sitio":…,"series":[…]}`, the
// series part alone so that an answer whose series did not change can be
// told apart from one that did.
std::string overviewSeriesJson(const std::vector<SeriesInfo> &rows, std::int64_t now);
std::string overviewJson(const std::string &series, std::int64_t now, const std::string &user,
                         const std::string &site);

// The plot's answer, written a series at a time as the rows of
// climalog.tramo come (ordered by series, then time): the rows per series,
// times in seconds as the charts take them, with the width of a bucket so
// the page can tell a gap. Each requested series appears once, with empty
// arrays when the range holds none of its readings.
class PlotJson {
public:
    PlotJson(std::vector<int> keys, std::int64_t desde, std::int64_t hasta, int cubos);
    std::string begin() const;
    void add(const std::vector<Span> &rows, std::string &out);
    void finish(std::string &out);

private:
    void flush(std::string &out);
    void series(int key, std::string &out) const;

    std::vector<int> keys_, written_;
    std::int64_t desde_, hasta_;
    int cubos_;
    std::vector<Span> current_;
};
