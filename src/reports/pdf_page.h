// The pages of a report's PDF: A4, a header and a footer on each, text that
// flows down the page and on to the next one, and tables whose header row
// is repeated on every page they cross. The layout runs twice: once to
// count the pages (nothing drawn), once to draw them knowing the count the
// footer prints.
#pragma once

#include <cairo.h>

#include <functional>
#include <string>
#include <vector>

namespace reports {

constexpr double pageWidth = 595.276, pageHeight = 841.89; // A4, points
constexpr double margin = 40;

struct TableColumn {
    std::string title;
    double width = 0;
    bool right = false; // numbers, aligned on the right
};

class Pages {
public:
    // `header` draws the top of a page and gives the height it took;
    // `footer` draws the bottom of page `n` (from 1).
    Pages(cairo_t *cr, bool drawing, std::function<double(Pages &)> header,
          std::function<void(Pages &, int n)> footer);
    ~Pages();
    Pages(const Pages &) = delete;
    Pages &operator=(const Pages &) = delete;

    cairo_t *cr() const { return cr_; }
    bool drawing() const { return drawing_; }
    int count() const { return page_; }
    double y() const { return y_; }
    void advance(double dy) { y_ += dy; }
    double width() const { return pageWidth - 2 * margin; }
    double room() const { return pageHeight - margin - footerRoom - y_; }

    // A new page unless `h` points fit on this one (or it is still empty).
    void need(double h);
    void newPage();
    // Ends the last page.
    void finish();

    void font(double size, bool bold = false);
    double measure(const std::string &s) const;
    // `s` broken into lines no wider than `w` (long words broken too); at
    // most `most` lines, the last one then ending in "…".
    std::vector<std::string> wrap(const std::string &s, double w, std::size_t most) const;
    void text(double x, double baseline, const std::string &s);
    void colour(unsigned rgb);

    // A paragraph across the page, on as many pages as it needs.
    void paragraph(const std::string &s, double size, bool bold = false);
    // A table of `rows`, each cell's lines apart with '\n'; a row of fewer
    // cells than columns has its last cell across the remaining columns.
    void table(const std::vector<TableColumn> &columns,
               const std::vector<std::vector<std::string>> &rows);

    static constexpr double footerRoom = 24;

private:
    struct Cell {
        std::vector<std::string> lines;
        double x = 0, w = 0;
        bool right = false;
    };
    std::vector<Cell> layoutRow(const std::vector<TableColumn> &columns,
                                const std::vector<std::string> &cells, bool header) const;
    double rowHeight(const std::vector<Cell> &row) const;
    void drawRow(const std::vector<Cell> &row, double h, bool header, bool shaded);

    cairo_t *cr_;
    bool drawing_;
    std::function<double(Pages &)> header_;
    std::function<void(Pages &, int)> footer_;
    int page_ = 0;
    double y_ = 0;
    bool empty_ = true; // nothing on the page below its header yet
    double size_ = 9;
    cairo_font_face_t *regular_, *bold_; // looked up once, not at each change
};

} // namespace reports
