// The PDF library of the reports, chosen by measurement: one synthetic
// month of a 40-column station (a plot of 1 000 points a line, a few pages
// of tables) written the same way through each candidate (a page header,
// the table's rows, the plots' lines), timed and sized, and the real report
// through the chosen one. The files are left in the folder given (default
// /tmp/report-pdf-bench) for the text and font checks and the pictures:
//   report_pdf_bench [folder]
#include "reports/report.h"
#include "timing.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QPdfWriter>

#include <cairo-pdf.h>
#ifdef REPORT_BENCH_HPDF
#include <hpdf.h>
#endif

#include <cmath>
#include <cstdio>
#include <functional>
#include <memory>

namespace {

using reports::Report;

// December 2026 at Madrid: 40 columns, a line a second.
Report month()
{
    Report r;
    r.request.site = "Laboratorio Central de Análisis";
    r.request.station = "Cámara frigorífica nº 2";
    r.request.period = {1796079600000, 1798758000000, "diciembre de 2026"};
    r.request.madeAt = 1798761845000;
    r.zone = "Europe/Madrid";
    const std::int64_t length = r.request.period.to - r.request.period.from;
    const char *kinds = "TTTTTTTTTTTTTTTTHHHHHHHHHHHHHHHHaaaa1111";
    for (int i = 0; i < 40; ++i) {
        reports::Column c;
        c.series = i + 1;
        c.station = r.request.station;
        c.port = i < 20 ? "1" : "2";
        c.kind = kinds[i];
        c.column = c.kind == 'T' ? "Temperatura " + std::to_string(i + 1)
            : c.kind == 'H'      ? "Humedad " + std::to_string(i - 15)
            : c.kind == 'a'      ? "Presión " + std::to_string(i - 31)
                                 : "Puerta " + std::to_string(i - 35);
        c.unit = c.kind == 'T' ? "ºC" : c.kind == 'H' ? "%" : c.kind == 'a' ? "kPa" : "";
        c.device = (c.kind == '1'       ? "DET"
                        : c.kind == 'a' ? "AVI"
                                        : "STT") +
            std::to_string(i / 4 + 1);
        c.deviceType = c.device.substr(0, 3);
        c.periodSeconds = 1;
        c.expected = length / 1000;
        c.lines = c.expected - 37 * i;
        c.errors = i % 3;
        c.received = c.lines - c.errors;
        c.missing = c.expected - c.lines;
        const double base = c.kind == 'T' ? 4 + 0.1 * i : c.kind == 'H' ? 60 + i : 101.3;
        c.min = c.kind == '1' ? 0 : base - 2.5;
        c.max = c.kind == '1' ? 1 : base + 3.25;
        c.minAt = r.request.period.from + 86400000LL * (i % 28) + 3600000LL * 5;
        c.maxAt = c.minAt + 86400000LL * 2 + 7 * 60000;
        c.mean = c.kind == '1' ? 0.2 : base + 0.0123 * i;
        c.stddev = c.kind == '1' ? 0.4 : 0.85 + 0.01 * i;
        if (c.kind == 'T')
            c.mkt = base + 0.31;
        reports::Limits l;
        l.from = r.request.period.from;
        l.to = r.request.period.to;
        if (c.kind == 'T' || c.kind == 'a') {
            l.min = float(base - 2);
            l.max = float(base + 3);
            l.watched = true;
            c.belowMs = 1000LL * (1800 + 61 * i);
            c.aboveMs = 1000LL * (7325 + i);
        }
        if (c.kind == '1')
            c.activeMs = 1000LL * 3600 * (5 + i);
        c.limits.push_back(l);
        r.columns.push_back(c);
    }
    r.columns[2].limits.back().to = r.request.period.from + 86400000LL * 11;
    r.columns[2].limits.push_back(
        {r.columns[2].limits.back().to, r.request.period.to, 3.0f, 8.0f, true});
    r.notes.push_back(
        "Los límites de Temperatura 3 cambiaron en el periodo: se aplican los de cada momento.");
    for (int i = 0; i < 6; ++i) {
        reports::Alarm a;
        a.station = r.request.station;
        a.port = "1";
        a.column = "Temperatura " + std::to_string(i + 1);
        a.condition = i % 2 ? "alto" : "bajo";
        a.rule = "Cámaras";
        a.start = r.request.period.from + 86400000LL * (3 * i + 1) + 3600000LL * 4;
        a.end = a.start + 1800000LL * (i + 1);
        a.extreme = i % 2 ? 8.5 + i : 1.5 - i;
        a.limit = i % 2 ? 7 : 2;
        a.ackBy = "María Peña";
        a.ackAt = a.start + 600000;
        a.comment = "Puerta abierta durante la descarga; se cerró y se comprobó el producto.";
        r.alarms.push_back(a);
    }
    r.changes.push_back({r.columns[2].limits.back().from, r.request.station, "1", "STT1", "límites",
                         "2,2 a 7,2 ºC", "3,0 a 8,0 ºC"});
    r.changes.push_back({r.request.period.from + 86400000LL * 20, r.request.station, "2", "AVI8",
                         "periodo", "10 s", "1 s"});
    const char *titles[] = {"Temperaturas", "Humedades", "kPa", "Entradas"};
    const char *units[] = {"ºC", "%", "kPa", ""};
    for (int g = 0; g < 4; ++g) {
        reports::Plot p;
        p.title = titles[g];
        p.unit = units[g];
        p.steps = g == 3;
        for (int i = 0; i < 40; ++i) {
            const reports::Column &c = r.columns[std::size_t(i)];
            if ((g == 0) != (c.kind == 'T') || (g == 1) != (c.kind == 'H') ||
                (g == 2) != (c.kind == 'a') || (g == 3) != (c.kind == '1'))
                continue;
            reports::Line l;
            l.column = i;
            for (int k = 0; k < 1000; ++k) {
                l.t.push_back(r.request.period.from + length / 1000 * k);
                const double v = g == 3
                    ? double((k / (20 + i)) % 2)
                    : *c.mean + 2 * std::sin(k / 40.0 + i) + 0.3 * std::sin(k * 1.7);
                const bool gap = k >= 400 + i && k < 430 + i;
                l.min.push_back(gap ? NAN : v - (g == 3 ? 0 : 0.2));
                l.max.push_back(gap ? NAN : v + (g == 3 ? 0 : 0.2));
            }
            p.lines.push_back(l);
            if (c.limits.back().min)
                p.limits.push_back(*c.limits.back().min);
            if (c.limits.back().max)
                p.limits.push_back(*c.limits.back().max);
        }
        r.plots.push_back(p);
    }
    return r;
}

// What the comparison needs of a library.
struct Canvas {
    virtual ~Canvas() = default;
    virtual void text(double x, double y, const std::string &s, double size) = 0;
    virtual void polyline(const std::vector<std::pair<double, double>> &points) = 0;
    virtual void page() = 0;
    virtual std::string finish() = 0;
};

// The same pages through any library: header, 40 rows of nine cells a
// page, four plots of 1 000 points a line.
void draw(Canvas &c, const Report &r)
{
    auto header = [&] {
        c.text(40, 50, "Informe de " + r.request.station, 12);
        c.text(40, 64, "Periodo: diciembre de 2026, del 01/12/2026 00:00:00 al 01/01/2027 00:00:00",
               8);
    };
    header();
    double y = 90;
    for (int copy = 0; copy < 3; ++copy)
        for (const reports::Column &col : r.columns) {
            if (y > 790) {
                c.page();
                header();
                y = 90;
            }
            const std::string cells[] = {col.column,
                                         std::to_string(col.expected),
                                         std::to_string(col.received),
                                         "12,5",
                                         "07/12/2026 14:05:09",
                                         "21,48",
                                         "0,85",
                                         "2 h 05 min",
                                         "3,2 %"};
            for (int k = 0; k < 9; ++k)
                c.text(40 + 57 * k, y, cells[k], 7);
            y += 12;
        }
    for (const reports::Plot &p : r.plots) {
        c.page();
        header();
        for (const reports::Line &l : p.lines) {
            std::vector<std::pair<double, double>> pts;
            for (std::size_t k = 0; k < l.t.size(); ++k)
                if (!std::isnan(l.min[k]))
                    pts.push_back({40 + 0.515 * double(k), 400 - 3 * l.min[k]});
            c.polyline(pts);
        }
    }
}

struct Cairo : Canvas {
    std::string out;
    cairo_surface_t *s = cairo_pdf_surface_create_for_stream(
        [](void *o, const unsigned char *d, unsigned n) {
            static_cast<std::string *>(o)->append(reinterpret_cast<const char *>(d), n);
            return CAIRO_STATUS_SUCCESS;
        },
        &out, 595.276, 841.89);
    cairo_t *cr = cairo_create(s);
    void text(double x, double y, const std::string &t, double size) override
    {
        cairo_select_font_face(cr, "Liberation Sans", CAIRO_FONT_SLANT_NORMAL,
                               CAIRO_FONT_WEIGHT_NORMAL);
        cairo_set_font_size(cr, size);
        cairo_move_to(cr, x, y);
        cairo_show_text(cr, t.c_str());
    }
    void polyline(const std::vector<std::pair<double, double>> &p) override
    {
        cairo_new_path(cr);
        for (const auto &[x, y] : p)
            cairo_line_to(cr, x, y);
        cairo_set_line_width(cr, 0.7);
        cairo_stroke(cr);
    }
    void page() override { cairo_show_page(cr); }
    std::string finish() override
    {
        cairo_destroy(cr);
        cairo_surface_destroy(s);
        return out;
    }
};

struct QtPdf : Canvas {
    QBuffer buffer;
    std::unique_ptr<QPdfWriter> w;
    std::unique_ptr<QPainter> p;
    QtPdf()
    {
        buffer.open(QIODevice::WriteOnly);
        w = std::make_unique<QPdfWriter>(&buffer);
        w->setPageSize(QPageSize(QPageSize::A4));
        w->setPageMargins(QMarginsF(0, 0, 0, 0));
        w->setResolution(72);
        p = std::make_unique<QPainter>(w.get());
    }
    void text(double x, double y, const std::string &t, double size) override
    {
        QFont f("Liberation Sans");
        f.setPointSizeF(size);
        p->setFont(f);
        p->drawText(QPointF(x, y), QString::fromStdString(t));
    }
    void polyline(const std::vector<std::pair<double, double>> &pts) override
    {
        QPainterPath path;
        for (std::size_t i = 0; i < pts.size(); ++i)
            i ? path.lineTo(pts[i].first, pts[i].second) : path.moveTo(pts[i].first, pts[i].second);
        p->setPen(QPen(Qt::black, 0.7));
        p->drawPath(path);
    }
    void page() override { w->newPage(); }
    std::string finish() override
    {
        p->end();
        return buffer.data().toStdString();
    }
};

#ifdef REPORT_BENCH_HPDF
struct Haru : Canvas {
    HPDF_Doc doc = HPDF_New(nullptr, nullptr);
    HPDF_Page pg = nullptr;
    HPDF_Font font = nullptr;
    Haru()
    {
        HPDF_SetCompressionMode(doc, HPDF_COMP_ALL);
        HPDF_UseUTFEncodings(doc);
        const char *name = HPDF_LoadTTFontFromFile(
            doc, "/usr/share/fonts/truetype/liberation/LiberationSans-Regular.ttf", HPDF_TRUE);
        font = HPDF_GetFont(doc, name, "UTF-8");
        page();
    }
    void text(double x, double y, const std::string &t, double size) override
    {
        HPDF_Page_BeginText(pg);
        HPDF_Page_SetFontAndSize(pg, font, HPDF_REAL(size));
        HPDF_Page_TextOut(pg, HPDF_REAL(x), HPDF_REAL(841.89 - y), t.c_str());
        HPDF_Page_EndText(pg);
    }
    void polyline(const std::vector<std::pair<double, double>> &p) override
    {
        HPDF_Page_SetLineWidth(pg, 0.7f);
        for (std::size_t i = 0; i < p.size(); ++i)
            (i ? HPDF_Page_LineTo : HPDF_Page_MoveTo)(pg, HPDF_REAL(p[i].first),
                                                      HPDF_REAL(841.89 - p[i].second));
        HPDF_Page_Stroke(pg);
    }
    void page() override
    {
        pg = HPDF_AddPage(doc);
        HPDF_Page_SetSize(pg, HPDF_PAGE_SIZE_A4, HPDF_PAGE_PORTRAIT);
    }
    std::string finish() override
    {
        HPDF_SaveToStream(doc);
        std::string out(HPDF_GetStreamSize(doc), '\0');
        HPDF_UINT32 n = HPDF_UINT32(out.size());
        HPDF_ReadFromStream(doc, reinterpret_cast<HPDF_BYTE *>(out.data()), &n);
        HPDF_Free(doc);
        return out;
    }
};
#endif

void save(const QString &path, const std::string &bytes)
{
    QFile f(path);
    if (f.open(QIODevice::WriteOnly))
        f.write(bytes.data(), qint64(bytes.size()));
}

} // namespace

int main(int argc, char **argv)
{
    // Only the second candidate needs it; what it costs a server to carry.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QElapsedTimer started;
    started.start();
    QGuiApplication app(argc, argv);
    std::printf("QGuiApplication (offscreen) made in %.1f ms\n", started.nsecsElapsed() / 1e6);
    const QString folder =
        argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("/tmp/report-pdf-bench");
    QDir().mkpath(folder);
    const Report r = month();
    std::vector<std::pair<const char *, std::function<std::unique_ptr<Canvas>()>>> candidates = {
        {"cairo", [] { return std::make_unique<Cairo>(); }},
        {"qt", [] { return std::make_unique<QtPdf>(); }},
#ifdef REPORT_BENCH_HPDF
        {"haru", [] { return std::make_unique<Haru>(); }},
#endif
    };
    std::printf("%-8s %10s %10s\n", "library", "ms", "bytes");
    for (auto &[name, make] : candidates) {
        std::string bytes;
        double best = 1e9;
        for (int run = 0; run < 5; ++run)
            best = std::min(best, timed([&] {
                                std::unique_ptr<Canvas> c = make();
                                draw(*c, r);
                                bytes = c->finish();
                            }));
        save(folder + '/' + name + ".pdf", bytes);
        std::printf("%-8s %10.1f %10zu\n", name, best, bytes.size());
    }
    std::string bytes;
    double best = 1e9;
    for (int run = 0; run < 5; ++run)
        best = std::min(best, timed([&] { bytes = reports::pdf(r); }));
    save(folder + "/informe.pdf", bytes);
    save(folder + "/informe.csv", reports::csv(r));
    std::printf("%-8s %10.1f %10zu  (the report itself)\n", "informe", best, bytes.size());
    return 0;
}
