// The plotted series as comma-separated text, with the columns of the
// desktop viewer's export: "Hora" as an ISO date-time in the station's own
// time, then one column per series, an empty cell for ERR and where a line
// lacks the column. The user picks Windows-1252 or UTF-8, and a decimal
// comma (cells then separated by ';') or a point (by ','). A name that
// begins as a formula would is written as text.
#pragma once

#include "web/database.h"

#include <string>
#include <vector>

// A text cell: quoted when it holds a separator, a quote or a line end
// (either separator, so one rule serves both formats); one that begins as
// a formula would, written as text.
std::string csvText(const std::string &text);
// A value in its shortest exact text, with a decimal comma or point.
std::string csvNumber(double v, bool comma);
// The file's bytes: UTF-8 as it is, or Windows-1252.
std::string csvEncode(const std::string &utf8, bool toUtf8);

struct CsvFormat {
    bool utf8 = false;
    bool comma = true;
};

class CsvWriter {
public:
    CsvWriter(CsvFormat format, const std::vector<SeriesInfo> &series);

    // The first line: "Hora" and the series' names.
    std::string header() const;
    // The lines of `rows` (ordered by time) appended to `out`; a line ends
    // when the next reading is of another instant, so the last one waits
    // for the next block or for finish().
    void add(const std::vector<Reading> &rows, std::string &out);
    void finish(std::string &out);
    // The line that ends an export the database cut short.
    std::string cut() const;

private:
    void flush(std::string &out);
    std::string encode(const std::string &utf8) const;

    CsvFormat format_;
    char separator_;
    std::vector<std::string> names_;
    std::vector<int> keys_;
    // The line being gathered.
    std::int64_t hora_ = -1;
    std::string local_;
    std::vector<std::optional<double>> cells_;
};
