// The plots of a report drawn on a PDF page as the page draws them: one time
// axis in the station's zone, values with a decimal comma, a gap where the
// readings stop, the limits in force as dashed lines, inputs as steps in a
// strip each, and a legend of the lines' colours.
#pragma once

#include "reports/pdf_page.h"
#include "reports/report.h"

#include <cstdint>
#include <string>
#include <vector>

namespace reports {

// The instants of the time axis's marks between `from` and `to` in `zone`,
// at most about `most` of them, on whole local minutes, hours or days,
// each with its label ("14:00", or the date under it where a day begins).
struct TimeMark {
    std::int64_t t = 0;
    std::string label, date;
};
std::vector<TimeMark> timeMarks(std::int64_t from, std::int64_t to, const std::string &zone,
                                int most);

// The width of the value axis of every plot of `r`, so that their time
// axes line up: numbers, or the names of the inputs' strips.
double plotAxis(Pages &pages, const Report &r);
// Plot `p` of `r` with its title, kept on one page, below the page's
// current line.
void drawPlot(Pages &pages, const Report &r, const Plot &p, double axis);

} // namespace reports
