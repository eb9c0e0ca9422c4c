#include "reports/pdf_page.h"

#include <algorithm>

namespace reports {

namespace {

constexpr double pad = 2.5; // inside a table's cell
constexpr std::size_t cellLines = 12; // a hostile text cannot make a row taller than a page

// The length of the UTF-8 sequence that begins with byte `c`.
std::size_t sequence(unsigned char c)
{
    return c < 0x80 ? 1 : c >= 0xf0 ? 4 : c >= 0xe0 ? 3 : c >= 0xc0 ? 2 : 1;
}

} // namespace

Pages::Pages(cairo_t *cr, bool drawing, std::function<double(Pages &)> header,
             std::function<void(Pages &, int n)> footer)
    : cr_(cr), drawing_(drawing), header_(std::move(header)), footer_(std::move(footer)),
      regular_(cairo_toy_font_face_create("Liberation Sans", CAIRO_FONT_SLANT_NORMAL,
                                          CAIRO_FONT_WEIGHT_NORMAL)),
      bold_(cairo_toy_font_face_create("Liberation Sans", CAIRO_FONT_SLANT_NORMAL,
                                       CAIRO_FONT_WEIGHT_BOLD))
{
    newPage();
}

Pages::~Pages()
{
    cairo_font_face_destroy(regular_);
    cairo_font_face_destroy(bold_);
}

void Pages::newPage()
{
    if (page_ > 0) {
        footer_(*this, page_);
        if (drawing_)
            cairo_show_page(cr_);
    }
    ++page_;
    y_ = margin;
    y_ += header_(*this);
    empty_ = true;
}

void Pages::need(double h)
{
    if (room() < h && !empty_)
        newPage();
    empty_ = false;
}

void Pages::finish()
{
    footer_(*this, page_);
    if (drawing_)
        cairo_show_page(cr_);
}

void Pages::font(double size, bool bold)
{
    size_ = size;
    cairo_set_font_face(cr_, bold ? bold_ : regular_);
    cairo_set_font_size(cr_, size);
}

double Pages::measure(const std::string &s) const
{
    cairo_text_extents_t e;
    cairo_text_extents(cr_, s.c_str(), &e);
    return e.x_advance;
}

std::vector<std::string> Pages::wrap(const std::string &s, double w, std::size_t most) const
{
    std::vector<std::string> lines;
    std::string line;
    bool over = false;
    auto push = [&](std::string l) {
        if (lines.size() == most)
            over = true;
        else
            lines.push_back(std::move(l));
    };
    std::size_t i = 0;
    while (i < s.size() && !over) {
        const std::size_t end = std::min(s.find_first_of(" \n", i), s.size());
        std::string word = s.substr(i, end - i);
        const std::string joined = line.empty() ? word : line + ' ' + word;
        if (measure(joined) <= w) {
            line = joined;
        } else {
            if (!line.empty())
                push(line);
            // A word wider than the cell is cut where it reaches the edge.
            while (!over && measure(word) > w) {
                std::size_t cut = sequence(static_cast<unsigned char>(word[0]));
                for (std::size_t next = cut; next < word.size(); next += sequence(word[next])) {
                    if (measure(word.substr(0, next)) > w)
                        break;
                    cut = next;
                }
                push(word.substr(0, cut));
                word.erase(0, cut);
            }
            line = word;
        }
        if (end < s.size() && s[end] == '\n') {
            push(line);
            line.clear();
        }
        i = end + 1;
    }
    if (!line.empty() && !over)
        push(line);
    if (over && !lines.empty()) {
        std::string &last = lines.back();
        while (!last.empty() && measure(last + "…") > w) {
            std::size_t back = last.size() - 1;
            while (back > 0 && (static_cast<unsigned char>(last[back]) & 0xc0) == 0x80)
                --back;
            last.erase(back);
        }
        last += "…";
    }
    if (lines.empty())
        lines.emplace_back();
    return lines;
}

void Pages::text(double x, double baseline, const std::string &s)
{
    if (!drawing_ || s.empty())
        return;
    cairo_move_to(cr_, x, baseline);
    cairo_show_text(cr_, s.c_str());
}

void Pages::colour(unsigned rgb)
{
    cairo_set_source_rgb(cr_, ((rgb >> 16) & 0xff) / 255.0, ((rgb >> 8) & 0xff) / 255.0,
                         (rgb & 0xff) / 255.0);
}

void Pages::paragraph(const std::string &s, double size, bool bold)
{
    font(size, bold);
    colour(0);
    const double leading = size * 1.3;
    for (const std::string &line : wrap(s, width(), 10000)) {
        need(leading);
        text(margin, y_ + size, line);
        y_ += leading;
    }
}

std::vector<Pages::Cell> Pages::layoutRow(const std::vector<TableColumn> &columns,
                                          const std::vector<std::string> &cells, bool header) const
{
    std::vector<Cell> row;
    double x = margin;
    for (std::size_t i = 0; i < columns.size() && i < cells.size(); ++i) {
        Cell c;
        c.x = x;
        c.w = columns[i].width;
        c.right = columns[i].right && !header && (i + 1 < cells.size() || i + 1 == columns.size());
        if (i + 1 == cells.size())
            for (std::size_t j = i + 1; j < columns.size(); ++j)
                c.w += columns[j].width;
        c.lines = wrap(cells[i], c.w - 2 * pad, cellLines);
        x += c.w;
        row.push_back(std::move(c));
    }
    return row;
}

double Pages::rowHeight(const std::vector<Cell> &row) const
{
    std::size_t most = 1;
    for (const Cell &c : row)
        most = std::max(most, c.lines.size());
    return double(most) * size_ * 1.2 + 2 * pad;
}

void Pages::drawRow(const std::vector<Cell> &row, double h, bool header, bool shaded)
{
    if (drawing_) {
        if (header || shaded) {
            colour(header ? 0xdde3ea : 0xf3f5f7);
            cairo_rectangle(cr_, margin, y_, width(), h);
            cairo_fill(cr_);
        }
        colour(0xb0b8c0);
        cairo_set_line_width(cr_, 0.4);
        cairo_move_to(cr_, margin, y_ + h);
        cairo_line_to(cr_, margin + width(), y_ + h);
        cairo_stroke(cr_);
        colour(0);
        for (const Cell &c : row)
            for (std::size_t k = 0; k < c.lines.size(); ++k) {
                const double x = c.right ? c.x + c.w - pad - measure(c.lines[k]) : c.x + pad;
                text(x, y_ + pad + size_ * (0.95 + 1.2 * double(k)), c.lines[k]);
            }
    }
    y_ += h;
}

void Pages::table(const std::vector<TableColumn> &columns,
                  const std::vector<std::vector<std::string>> &rows)
{
    const double size = 7;
    std::vector<std::string> titles;
    for (const TableColumn &c : columns)
        titles.push_back(c.title);
    font(size, true);
    const std::vector<Cell> head = layoutRow(columns, titles, true);
    const double hh = rowHeight(head);
    int headerPage = 0;
    bool shaded = false;
    for (const std::vector<std::string> &cells : rows) {
        font(size);
        const std::vector<Cell> row = layoutRow(columns, cells, false);
        const double h = rowHeight(row);
        if (headerPage != page_ || room() < h) {
            if (headerPage == page_ || room() < hh + h)
                newPage();
            font(size, true);
            drawRow(head, hh, true, false);
            font(size);
            headerPage = page_;
            shaded = false;
        }
        drawRow(row, h, false, shaded);
        shaded = !shaded;
        empty_ = false;
    }
}

} // namespace reports
