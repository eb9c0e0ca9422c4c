// The requests that read the archive: the overview, plots and exports.
#include "web/server.h"

#include "web/alarmreplies.h"
#include "web/csvexport.h"
#include "web/gzip.h"
#include "web/overview.h"
#include "web/params.h"
#include "web/replies.h"

#include <httplib.h>

#include <QDateTime>

#include <sodium.h>

#include <algorithm>
#include <cctype>

using replies::jsonError;
using replies::log;
using replies::unavailable;

namespace {

constexpr auto overviewLife = std::chrono::milliseconds(500);
constexpr auto overviewWait = std::chrono::seconds(6);

std::string exportName(const std::vector<SeriesInfo> &series, std::int64_t desde)
{
    std::string station;
    for (const char c : series.front().estacion)
        station += (std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_') ? c : '_';
    const QString day =
        QDateTime::fromMSecsSinceEpoch(desde, Qt::UTC).toString(QStringLiteral("yyyyMMdd-HHmm"));
    return station + '-' + day.toStdString() + ".csv";
}

} // namespace

std::shared_ptr<const WebServer::Answer> WebServer::overviewAnswer(const std::string &user,
                                                                   std::string &error)
{
    std::unique_lock lock(overviewMutex_, std::defer_lock);
    // Behind a question that hangs, the others give up in time.
    if (!lock.try_lock_for(overviewWait)) {
        error = web::Reader::busy;
        return nullptr;
    }
    const auto now = std::chrono::steady_clock::now();
    if (now - overviewAt_ > overviewLife) {
        std::vector<SeriesInfo> rows;
        std::int64_t at = 0;
        if (!db_.overview(rows, at, error)) {
            overviewAt_ = {};
            return nullptr;
        }
        overviewSeries_ = overviewSeriesJson(rows, at);
        overviewNow_ = at;
        overviewAt_ = now;
        overviewAnswers_.clear();
    }
    std::shared_ptr<const Answer> &a = overviewAnswers_[user];
    if (!a) {
        auto made = std::make_shared<Answer>();
        made->body = overviewJson(overviewSeries_, overviewNow_, user, options_.site.toStdString());
        made->gzip = gzip::compress(made->body);
        // What the page shows: the series and who is in, not the server's
        // clock, which moves every time. Weak: the compressed answer and the
        // plain one are the same to the page.
        unsigned char hash[16];
        const std::string seen = user + '\n' + overviewSeries_;
        crypto_generichash(hash, sizeof hash, reinterpret_cast<const unsigned char *>(seen.data()),
                           seen.size(), nullptr, 0);
        char hex[2 * sizeof hash + 1];
        sodium_bin2hex(hex, sizeof hex, hash, sizeof hash);
        made->etag = std::string("W/\"") + hex + '"';
        a = std::move(made);
    }
    return a;
}

void WebServer::overview(const httplib::Request &req, httplib::Response &res,
                         const std::string &user)
{
    std::string error;
    if (!params::none(req.params, error)) {
        jsonError(res, 400, error);
        return;
    }
    const std::shared_ptr<const Answer> a = overviewAnswer(user, error);
    if (!a) {
        unavailable(res, error);
        return;
    }
    res.set_header("ETag", a->etag);
    res.set_header("Vary", "Accept-Encoding");
    if (req.get_header_value("If-None-Match") == a->etag) {
        res.status = 304;
        return;
    }
    if (!a->gzip.empty() && gzip::accepted(req.get_header_value("Accept-Encoding"))) {
        res.set_header("Content-Encoding", "gzip");
        res.set_content(a->gzip, "application/json; charset=utf-8");
        return;
    }
    res.set_content(a->body, "application/json; charset=utf-8");
}

bool WebServer::knownSeries(const std::vector<int> &keys, std::vector<SeriesInfo> &rows,
                            httplib::Response &res)
{
    std::string error;
    if (!db_.series(keys, rows, error)) {
        unavailable(res, error);
        return false;
    }
    // In the order the request names them, which is the order of the columns.
    std::vector<SeriesInfo> ordered;
    for (const int k : keys) {
        const auto it = std::find_if(rows.begin(), rows.end(),
                                     [k](const SeriesInfo &s) { return s.serie == k; });
        if (it == rows.end()) {
            jsonError(res, 400,
                      "No hay ninguna serie " + std::to_string(k) +
                          ": quizá la estación o la columna ya no existen.");
            return false;
        }
        ordered.push_back(*it);
    }
    rows = std::move(ordered);
    return true;
}

namespace {

// A long answer's rows, from the first block, fetched before the answer
// starts so that a busy or failed database still gets its status, to the
// last; the connection goes back when the answer is done with.
struct Rows {
    std::unique_ptr<web::Reader::Stream> stream;
    web::Reader::Result first;
};

// Sends `out` once it holds a good part; false when the client went away.
bool send(httplib::DataSink &sink, std::string &out, std::size_t least)
{
    if (out.size() < least)
        return true;
    const bool written = sink.write(out.data(), out.size());
    out.clear();
    return written;
}

constexpr std::size_t sendSize = 64 * 1024;

// The request's parameters read by `read`, or a 400 answer saying why not.
template <typename P>
bool accepted(const httplib::Request &req, httplib::Response &res,
              bool (*read)(const params::Map &, P &, std::string &), P &p)
{
    std::string error;
    if (read(req.params, p, error))
        return true;
    jsonError(res, 400, error);
    return false;
}

// The rows with their first block fetched, or null when the database could
// not give it (`error` says why).
std::shared_ptr<Rows> firstBlock(std::unique_ptr<web::Reader::Stream> stream, std::string &error)
{
    auto rows = std::make_shared<Rows>();
    rows->stream = std::move(stream);
    if (rows->stream)
        rows->first = rows->stream->next(error);
    return rows->first ? rows : nullptr;
}

// Sends the rows block by block as the database hands them over: each block
// read into `block` by `read`, written into `out` by `add`; false when the
// client went away or the rows were cut, after `cut` was told why; at the
// end `finish` writes what closes the answer.
template <typename Item, typename Read, typename Add, typename Cut, typename Finish>
bool sendBlocks(Rows &rows, httplib::DataSink &sink, std::string &out, Read read, Add add, Cut cut,
                Finish finish)
{
    std::string error;
    std::vector<Item> block;
    for (web::Reader::Result r = std::move(rows.first);; r = rows.stream->next(error)) {
        if (!r) {
            cut(error);
            return false;
        }
        if (PQntuples(r.get()) == 0) {
            finish(out);
            send(sink, out, 0);
            sink.done();
            return true;
        }
        read(r.get(), block);
        r = web::Reader::Result(); // the block is read: its rows go before the next come
        add(block, out);
        if (!send(sink, out, sendSize))
            return false;
    }
}

} // namespace

void WebServer::plot(const httplib::Request &req, httplib::Response &res)
{
    params::Plot p;
    std::vector<SeriesInfo> series;
    if (!accepted(req, res, params::plot, p) || !knownSeries(p.series, series, res))
        return;
    params::alignToClock(p);
    std::string error;
    const auto rows = firstBlock(db_.spans(p.series, p.desde, p.hasta, p.cubos, error), error);
    if (!rows) {
        unavailable(res, error);
        return;
    }
    // Written a series at a time as the rows come: forty series of twenty
    // thousand buckets never sit whole in memory.
    res.set_chunked_content_provider(
        "application/json; charset=utf-8", [rows, p](std::size_t, httplib::DataSink &sink) {
            PlotJson plot(p.series, p.desde, p.hasta, p.cubos);
            std::string out = plot.begin();
            return sendBlocks<Span>(
                *rows, sink, out, web::Reader::spanRows,
                [&](const std::vector<Span> &block, std::string &o) { plot.add(block, o); },
                [](const std::string &error) { log("Gráfica cortada: " + error); },
                [&](std::string &o) { plot.finish(o); });
        });
}

void WebServer::exportCsv(const httplib::Request &req, httplib::Response &res)
{
    params::Export p;
    std::string error;
    std::vector<SeriesInfo> series;
    if (!accepted(req, res, params::exportCsv, p) || !knownSeries(p.series, series, res))
        return;
    const auto rows =
        firstBlock(db_.readings(p.series, p.desde, p.hasta, series.front().zona, error), error);
    if (!rows) {
        unavailable(res, error);
        return;
    }
    res.set_header("Content-Disposition",
                   "attachment; filename=\"" + exportName(series, p.desde) + '"');
    const std::string type = p.utf8 ? "text/csv; charset=utf-8" : "text/csv; charset=windows-1252";
    // The rows go out as the database hands them over, a block at a time.
    res.set_chunked_content_provider(type, [rows, p, series](std::size_t, httplib::DataSink &sink) {
        CsvWriter csv(CsvFormat{p.utf8, p.comma}, series);
        std::string out = csv.header();
        const auto cut = [&](const std::string &error) {
            // The file says where it stops, and the answer is cut short so
            // the browser reports a failed download instead of keeping a
            // file that lacks its end.
            log("Exportación cortada: " + error);
            out += csv.cut();
            sink.write(out.data(), out.size());
        };
        return sendBlocks<Reading>(
            *rows, sink, out, web::Reader::readingRows,
            [&](const std::vector<Reading> &block, std::string &o) { csv.add(block, o); }, cut,
            [&](std::string &o) { csv.finish(o); });
    });
}

namespace {

// A history's JSON holds this many alarms at most; its CSV, all of them.
constexpr int historyRows = 1000;

} // namespace

void WebServer::alarmHistory(const httplib::Request &req, httplib::Response &res)
{
    params::History p;
    if (!accepted(req, res, params::history, p))
        return;
    std::vector<Alarm> rows;
    std::string error;
    // One more than shown tells whether the list is whole.
    if (!db_.alarmHistory(p.estacion, p.desde, p.hasta, historyRows + 1, rows, error)) {
        unavailable(res, error);
        return;
    }
    const bool complete = rows.size() <= historyRows;
    if (!complete)
        rows.resize(historyRows);
    res.set_content(historyJson(rows, complete), "application/json; charset=utf-8");
}

void WebServer::alarmCsv(const httplib::Request &req, httplib::Response &res)
{
    params::History p;
    if (!accepted(req, res, params::historyCsv, p))
        return;
    std::string error;
    const auto rows = firstBlock(db_.alarmHistoryLines(p.estacion, p.desde, p.hasta, error), error);
    if (!rows) {
        unavailable(res, error);
        return;
    }
    res.set_header("Content-Disposition", "attachment; filename=\"avisos.csv\"");
    const std::string type = p.utf8 ? "text/csv; charset=utf-8" : "text/csv; charset=windows-1252";
    res.set_chunked_content_provider(type, [rows, p](std::size_t, httplib::DataSink &sink) {
        const AlarmCsv csv(CsvFormat{p.utf8, p.comma});
        std::string out = csv.header();
        const auto cut = [&](const std::string &error) {
            log("Exportación de avisos cortada: " + error);
            const std::string last = out + csv.cut();
            sink.write(last.data(), last.size());
        };
        return sendBlocks<AlarmLine>(
            *rows, sink, out, web::Reader::alarmLines,
            [&](const std::vector<AlarmLine> &block, std::string &o) { csv.add(block, o); }, cut,
            [](std::string &) {});
    });
}
