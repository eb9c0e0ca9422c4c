// The report's request: a station's (or chosen columns') figures over a
// day, a week, a month or two dates, loaded on a read connection and sent
// as a PDF or as the CSV of its table. Reports take a database connection
// and seconds of work each: two at most are made at once, the others wait
// their turn a while and are then told to try again.
#include "web/server.h"

#include "web/params.h"
#include "web/replies.h"

#include <httplib.h>

#include <QDate>
#include <QDateTime>
#include <QString>

#include <stdexcept>

using replies::jsonError;
using replies::log;
using replies::unavailable;

namespace {

// How long a report waits for one of the two being made to end.
constexpr auto reportWait = std::chrono::seconds(15);

// The station's name as a file name any system takes: its letters without
// their accents, every other character an underscore, none doubled.
std::string plainName(const std::string &station)
{
    const QString folded =
        QString::fromStdString(station).normalized(QString::NormalizationForm_KD);
    std::string out;
    for (const QChar c : folded) {
        if (c.category() == QChar::Mark_NonSpacing)
            continue;
        const char16_t u = c.unicode();
        const bool plain =
            (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') || u == '-';
        if (plain)
            out += static_cast<char>(u);
        else if (!out.empty() && out.back() != '_')
            out += '_';
        if (out.size() >= 80)
            break;
    }
    while (!out.empty() && out.back() == '_')
        out.pop_back();
    return out.empty() ? "estacion" : out;
}

// "nave-2026-12-07.pdf", "nave-semana-2026-12-07" (its Monday),
// "nave-2026-12", "nave-2026-12-01-a-2026-12-07".
std::string reportName(const std::string &station, const params::Report &p)
{
    const QDate first = QDate::fromString(QString::fromStdString(p.desde), Qt::ISODate);
    std::string period;
    switch (p.span) {
    case reports::Span::Day:
        period = p.desde;
        break;
    case reports::Span::Week:
        period =
            "semana-" + first.addDays(1 - first.dayOfWeek()).toString(Qt::ISODate).toStdString();
        break;
    case reports::Span::Month:
        period = p.desde.substr(0, 7);
        break;
    case reports::Span::Dates:
        period = p.desde + "-a-" + p.hasta;
        break;
    }
    return plainName(station) + '-' + period + (p.pdf ? ".pdf" : ".csv");
}

// Holds one of the two places for reports, or none after waiting.
class ReportTurn {
public:
    explicit ReportTurn(std::counting_semaphore<2> &places)
        : places_(places), held_(places.try_acquire_for(reportWait))
    {
    }
    ~ReportTurn()
    {
        if (held_)
            places_.release();
    }
    ReportTurn(const ReportTurn &) = delete;
    ReportTurn &operator=(const ReportTurn &) = delete;
    explicit operator bool() const { return held_; }

private:
    std::counting_semaphore<2> &places_;
    const bool held_;
};

} // namespace

void WebServer::reportRoutes()
{
    http_->Get("/api/informe", [this](const httplib::Request &req, httplib::Response &res) {
        std::string user;
        if (allowed(req, res, user))
            report(req, res);
    });
}

bool WebServer::reportSeries(const params::Report &p, reports::Request &request,
                             std::string &station, std::string &zone, httplib::Response &res)
{
    std::vector<SeriesInfo> rows;
    if (!p.series.empty()) {
        if (!knownSeries(p.series, rows, res))
            return false;
        request.series = p.series;
    } else {
        std::string error;
        if (!db_.stationSeries(p.estacion, rows, error)) {
            unavailable(res, error);
            return false;
        }
        if (rows.empty()) {
            jsonError(res, 400, "No hay ninguna estación «" + p.estacion + "».");
            return false;
        }
        if (rows.size() > params::mostReportSeries) {
            jsonError(res, 400,
                      "La estación tiene demasiadas columnas para un informe: como mucho " +
                          std::to_string(params::mostReportSeries) + "; elija algunas.");
            return false;
        }
        request.station = p.estacion;
    }
    station = rows.front().estacion;
    zone = rows.front().zona;
    return true;
}

void WebServer::report(const httplib::Request &req, httplib::Response &res)
{
    params::Report p;
    std::string error;
    if (!params::report(req.params, p, error)) {
        jsonError(res, 400, error);
        return;
    }
    reports::Request request;
    std::string station, zone;
    if (!reportSeries(p, request, station, zone, res))
        return;
    request.site = options_.site.toStdString();
    request.period = reports::periodOf(p.span, p.desde, p.hasta, zone);
    if (request.period.text.empty()) {
        jsonError(res, 400,
                  "El periodo no existe en la zona de la estación (" + zone + "): " + p.desde +
                      (p.span == reports::Span::Dates ? " a " + p.hasta : std::string()) + ".");
        return;
    }
    const ReportTurn turn(reports_);
    if (!turn) {
        res.set_header("Retry-After", "5");
        jsonError(res, 503,
                  "Ya se están haciendo dos informes; vuelva a intentarlo en unos segundos.");
        return;
    }
    reports::Report made;
    {
        web::Reader::Lease c = db_.take(web::Reader::Use::Long, error);
        if (!c) {
            unavailable(res, error);
            return;
        }
        request.madeAt = QDateTime::currentMSecsSinceEpoch();
        try {
            made = reports::load(c.get(), request);
        } catch (const std::runtime_error &e) {
            log("Informe de «" + station + "» (" + request.period.text + "): " + e.what());
            res.set_header("Retry-After", "5");
            jsonError(res, 503, e.what());
            return;
        }
    }
    res.set_header("Content-Disposition", "attachment; filename=\"" + reportName(station, p) + '"');
    if (p.pdf)
        res.set_content(reports::pdf(made), "application/pdf");
    else
        res.set_content(reports::csv(made), "text/csv; charset=utf-8");
}
