#include "reports/pdf_page.h"
#include "reports/plot.h"
#include "reports/report.h"
#include "reports/text.h"

#include <QDateTime>
#include <QTimeZone>

#include <cairo-pdf.h>

#include <algorithm>

#include <stdexcept>

namespace reports {

namespace {

using Row = std::vector<std::string>;

std::string kindName(char kind)
{
    switch (kind) {
    case 'T':
        return "temperatura";
    case 'H':
        return "humedad";
    case 'a':
    case 'b':
    case 'c':
    case 'd':
        return std::string("canal ") + kind;
    case '1':
    case '2':
        return std::string("entrada ") + kind;
    default:
        return {};
    }
}

// What every page's header says, worked out once.
struct Heading {
    std::string title, made, site, where, period;
};

Heading headingOf(const Report &r)
{
    const std::string &zone = r.zone;
    std::vector<std::string> stations;
    std::vector<std::pair<std::string, std::string>> ports;
    for (const Column &c : r.columns) {
        if (std::find(stations.begin(), stations.end(), c.station) == stations.end())
            stations.push_back(c.station);
        if (std::find(ports.begin(), ports.end(), std::pair(c.station, c.port)) == ports.end())
            ports.push_back({c.station, c.port});
    }
    if (stations.empty() && !r.request.station.empty())
        stations.push_back(r.request.station);
    Heading h;
    std::string names, portList;
    for (const std::string &s : stations)
        names += (names.empty() ? "" : ", ") + text::clean(s);
    for (const auto &[station, port] : ports)
        portList += (portList.empty() ? "" : ", ") +
            (stations.size() > 1 ? text::clean(station) + ' ' : std::string()) + text::clean(port);
    h.title = names.empty() ? "Informe" : "Informe de " + names;
    h.made = "Hecho el " + text::when(r.request.madeAt, zone);
    if (!r.request.site.empty())
        h.site = "Sitio: " + text::clean(r.request.site);
    h.where = (stations.size() > 1 ? "Estaciones: " : "Estación: ") +
        (names.empty() ? std::string("-") : names) +
        (ports.empty() ? std::string()
                       : (ports.size() > 1 ? " · Puertos: " : " · Puerto: ") + portList);
    const Period &p = r.request.period;
    h.period = "Periodo: " + (p.text.empty() ? std::string() : text::clean(p.text) + ", ") +
        "del " + text::when(p.from, zone) + " al " + text::when(p.to, zone) +
        (zone.empty() ? std::string() : " (" + text::clean(zone) + ")");
    return h;
}

double drawHeading(Pages &pg, const Heading &h)
{
    const double top = pg.y();
    pg.font(8);
    const double madeWidth = pg.measure(h.made);
    pg.colour(0x333333);
    pg.text(margin + pg.width() - madeWidth, top + 10, h.made);
    pg.font(12, true);
    pg.colour(0);
    pg.text(margin, top + 11, pg.wrap(h.title, pg.width() - madeWidth - 12, 1)[0]);
    double y = top + 16;
    pg.font(8);
    for (const std::string *line : {&h.site, &h.where, &h.period}) {
        if (line->empty())
            continue;
        y += 10.5;
        pg.text(margin, y, pg.wrap(*line, pg.width(), 1)[0]);
    }
    y += 6;
    if (pg.drawing()) {
        pg.colour(0x7a8a99);
        cairo_set_line_width(pg.cr(), 0.6);
        cairo_move_to(pg.cr(), margin, y);
        cairo_line_to(pg.cr(), margin + pg.width(), y);
        cairo_stroke(pg.cr());
    }
    return y + 10 - top;
}

// `keep`: the room the title's first lines need, so that a title is not
// left alone at a page's foot. False, with `none` said, for a section of
// no rows.
bool section(Pages &pg, const std::string &title, bool any, const char *none, double keep = 60)
{
    pg.need(keep);
    pg.advance(6);
    pg.paragraph(title, 11, true);
    pg.advance(3);
    if (!any)
        pg.paragraph(none, 9);
    return any;
}

// The tables' columns, each width in points, across the page's 515.276.
const std::vector<TableColumn> columnFigures = {
    {"Columna", 96},        {"Lecturas", 74},    {"Mínimo", 52, true},
    {"Máximo", 52, true},   {"Media", 36, true}, {"Desv. típica", 36, true},
    {"TCM (ºC)", 34, true}, {"Límites", 68},     {"Fuera de límites", 67.276}};
const std::vector<TableColumn> alarmFigures = {
    {"Columna", 90},       {"Aviso", 50},        {"Inicio", 50},   {"Fin", 50},
    {"Extremo", 38, true}, {"Límite", 38, true}, {"Atendido", 90}, {"Comentario", 109.276}};
const std::vector<TableColumn> changeFigures = {{"Visto", 52},       {"Estación y puerto", 90},
                                                {"Dispositivo", 70}, {"Cambio", 60},
                                                {"Antes", 121},      {"Después", 122.276}};

std::string outside(const Column &c, std::int64_t length)
{
    if (c.kind == '1' || c.kind == '2')
        return "activa " + text::duration(c.activeMs) + "\n(" + text::share(c.activeMs, length) +
            ")";
    bool limited = false;
    for (const Limits &l : c.limits)
        limited = limited || l.min || l.max;
    if (!limited)
        return "-";
    return "bajo " + text::duration(c.belowMs) + "\n(" + text::share(c.belowMs, length) + ")\n" +
        "sobre " + text::duration(c.aboveMs) + "\n(" + text::share(c.aboveMs, length) + ")";
}

void columnsTable(Pages &pg, const Report &r)
{
    if (!section(pg, "Resumen por columna", !r.columns.empty(), "Ninguna columna en el informe."))
        return;
    const bool several = text::severalPorts(r);
    const std::int64_t length = text::periodLength(r);
    std::vector<Row> rows;
    for (const Column &c : r.columns) {
        const std::string &zone = c.zone.empty() ? r.zone : c.zone;
        std::string name = text::place(c, several);
        std::string kind = kindName(c.kind);
        if (!c.unit.empty())
            kind += (kind.empty() ? "" : ", ") + text::clean(c.unit);
        if (!kind.empty())
            name += '\n' + kind;
        if (!c.device.empty())
            name += '\n' + text::clean(c.device) +
                (c.deviceType.empty() ? std::string() : " (" + text::clean(c.deviceType) + ")");
        if (c.periodSeconds > 0)
            name += ", cada " + text::duration(std::int64_t(c.periodSeconds) * 1000);
        if (c.series > 0)
            name += "\nserie " + std::to_string(c.series);
        if (zone != r.zone)
            name += "\nhoras de " + text::clean(zone);
        const std::string counts = "esperadas " + text::count(c.expected) + "\nlíneas " +
            text::count(c.lines) + "\nrecibidas " + text::count(c.received) + "\nERR " +
            text::count(c.errors) + "\nfaltan " + text::count(c.missing);
        if (!c.min || c.received == 0) {
            rows.push_back({name, counts, "Sin lecturas en el periodo."});
            continue;
        }
        std::string limits;
        for (const Limits &l : c.limits) {
            limits += (limits.empty() ? "" : "\n") + text::limits(l, c.unit);
            if (&l != &c.limits.front())
                limits += " desde " + text::when(l.from, zone);
            if ((l.min || l.max) && !l.watched)
                limits += " (sin aviso)";
        }
        rows.push_back({name, counts, text::number(c.min) + '\n' + text::when(c.minAt, zone),
                        text::number(c.max) + '\n' + text::when(c.maxAt, zone),
                        text::number(c.mean, 2), text::number(c.stddev, 2),
                        c.mkt ? text::number(c.mkt, 2) : "-", limits.empty() ? "-" : limits,
                        outside(c, length)});
    }
    pg.table(columnFigures, rows);
}

void alarmsTable(Pages &pg, const Report &r)
{
    if (!section(pg, "Avisos del periodo", !r.alarms.empty(), "Ningún aviso en el periodo."))
        return;
    std::vector<Row> rows;
    for (const Alarm &a : r.alarms) {
        const std::string &zone = text::zoneOf(r, a.station);
        const std::string where = text::clean(a.station) + " - puerto " + text::clean(a.port) +
            (a.column.empty() ? std::string(" (parada)") : " - " + text::clean(a.column));
        std::string what = text::clean(a.condition);
        if (!a.rule.empty())
            what += '\n' + text::clean(a.rule);
        std::string ack = "-";
        if (!a.ackBy.empty() || a.ackAt)
            ack = text::clean(a.ackBy) + (a.ackAt ? '\n' + text::when(*a.ackAt, zone) : "");
        rows.push_back({where, what, text::when(a.start, zone),
                        a.end ? text::when(*a.end, zone) : "en curso", text::number(a.extreme),
                        text::number(a.limit), ack,
                        a.comment.empty() ? "-" : text::clean(a.comment)});
    }
    pg.table(alarmFigures, rows);
}

void changesTable(Pages &pg, const Report &r)
{
    if (!section(pg, "Cambios de configuración", !r.changes.empty(),
                 "Ningún cambio de configuración en el periodo."))
        return;
    std::vector<Row> rows;
    for (const Change &c : r.changes)
        rows.push_back({text::when(c.seen, text::zoneOf(r, c.station)),
                        text::clean(c.station) + " - puerto " + text::clean(c.port),
                        c.device.empty() ? "-" : text::clean(c.device), text::clean(c.what),
                        c.before.empty() ? "-" : text::clean(c.before),
                        c.after.empty() ? "-" : text::clean(c.after)});
    pg.table(changeFigures, rows);
}

// The whole report on pages; gives how many it took.
int layout(cairo_t *cr, const Report &r, const Heading &h, bool drawing, int total)
{
    Pages pg(
        cr, drawing, [&](Pages &p) { return drawHeading(p, h); },
        [&](Pages &p, int n) {
            const std::string s = "Página " + std::to_string(n) + " de " + std::to_string(total);
            p.font(8);
            p.colour(0x333333);
            p.text(margin + (p.width() - p.measure(s)) / 2, pageHeight - 22, s);
        });
    for (const std::string &note : r.notes)
        pg.paragraph(text::clean(note), 9);
    columnsTable(pg, r);
    alarmsTable(pg, r);
    changesTable(pg, r);
    section(pg, "Gráficas", !r.plots.empty(),
            r.columns.empty() ? "Ninguna gráfica: el informe no tiene columnas."
                              : "Ninguna gráfica en el informe.",
            r.plots.empty() ? 60 : 290);
    const double axis = plotAxis(pg, r);
    for (const Plot &p : r.plots)
        drawPlot(pg, r, p, axis);
    pg.finish();
    return pg.count();
}

cairo_status_t append(void *out, const unsigned char *data, unsigned int length)
{
    static_cast<std::string *>(out)->append(reinterpret_cast<const char *>(data), length);
    return CAIRO_STATUS_SUCCESS;
}

} // namespace

std::string pdf(const Report &report)
{
    std::string out;
    cairo_surface_t *surface =
        cairo_pdf_surface_create_for_stream(append, &out, pageWidth, pageHeight);
    const Heading h = headingOf(report);
    cairo_pdf_surface_set_metadata(surface, CAIRO_PDF_METADATA_TITLE, h.title.c_str());
    cairo_pdf_surface_set_metadata(surface, CAIRO_PDF_METADATA_CREATOR, "Climalog");
    // The file's own date is the report's, so one report makes one file.
    const std::string made = QDateTime::fromMSecsSinceEpoch(report.request.madeAt, QTimeZone::utc())
                                 .toString(Qt::ISODate)
                                 .toStdString();
    cairo_pdf_surface_set_metadata(surface, CAIRO_PDF_METADATA_CREATE_DATE, made.c_str());
    cairo_t *cr = cairo_create(surface);
    cairo_font_options_t *options = cairo_font_options_create();
    cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
    cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_NONE);
    cairo_set_font_options(cr, options);
    cairo_font_options_destroy(options);
    const int total = layout(cr, report, h, false, 0);
    layout(cr, report, h, true, total);
    const cairo_status_t drawn = cairo_status(cr);
    cairo_destroy(cr);
    cairo_surface_finish(surface);
    const cairo_status_t written = cairo_surface_status(surface);
    cairo_surface_destroy(surface);
    if (drawn != CAIRO_STATUS_SUCCESS || written != CAIRO_STATUS_SUCCESS)
        throw std::runtime_error(
            std::string("No se pudo hacer el PDF del informe: ") +
            cairo_status_to_string(drawn != CAIRO_STATUS_SUCCESS ? drawn : written));
    return out;
}

} // namespace reports
