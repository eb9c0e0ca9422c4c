#include "web/database.h"

#include "central/connection.h"
#include "central/names.h"
#include "web/pgvalues.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdlib>
#include <thread>

namespace {

using web::number;
using web::text;

// {1,2,3}: the series keys as one array parameter.
std::string arrayText(const std::vector<int> &keys)
{
    std::string out = "{";
    for (std::size_t i = 0; i < keys.size(); ++i) {
        if (i)
            out += ',';
        out += std::to_string(keys[i]);
    }
    return out + '}';
}

// Times travel as milliseconds since the epoch, both ways.
const std::string seriesColumns = "SELECT serie, estacion, zona, puerto, columna, unidad, orden, "
                                  "(extract(epoch FROM hora) * 1000)::bigint, valor,"
                                  " dispositivo, tipo, alarma_min, alarma_max, vigilada, periodo, "
                                  "(extract(epoch FROM now()) * 1000)::bigint, clase FROM ";

const std::string overviewSql = seriesColumns + central::summaryView +
    " WHERE orden IS NOT NULL ORDER BY estacion, puerto, orden";

const std::string seriesSql =
    seriesColumns + central::summaryView + " WHERE serie = ANY ($1::integer[])";

const std::string stationSql =
    seriesColumns + central::summaryView + " WHERE estacion = $1 ORDER BY puerto, orden, columna";

// Ordered by series for the plot's arrays; the function gives each
// series' rows in time order.
const std::string spansSql =
    std::string("DECLARE filas NO SCROLL CURSOR FOR"
                " SELECT serie, (extract(epoch FROM hora) * 1000)::bigint, minimo, maximo, lecturas"
                " FROM ") +
    central::spanFunction +
    "($1::integer[], to_timestamp($2::bigint / 1000.0), to_timestamp($3::bigint / 1000.0),"
    " $4::integer)";

const std::string readingsSql =
    std::string("DECLARE filas NO SCROLL CURSOR FOR"
                " SELECT to_char(hora AT TIME ZONE $4, 'YYYY-MM-DD\"T\"HH24:MI:SS'), "
                "(extract(epoch FROM hora) * 1000)::bigint,"
                " serie, valor FROM ") +
    central::readingsFunction +
    "($1::integer[], to_timestamp($2::bigint / 1000.0), to_timestamp($3::bigint / 1000.0))";

// A block of rows of a cursor: a few megabytes.
constexpr const char *fetchSql = "FETCH FORWARD 20000 FROM filas";

// How long a request waits for a free connection: the page asks again
// within seconds, and says meanwhile that its values are not current.
constexpr auto longestWait = std::chrono::seconds(5);

SeriesInfo seriesRow(const PGresult *r, int i)
{
    SeriesInfo s;
    s.serie = number<int>(r, i, 0).value_or(0);
    s.estacion = text(r, i, 1);
    s.zona = text(r, i, 2);
    s.puerto = text(r, i, 3);
    s.columna = text(r, i, 4);
    s.unidad = text(r, i, 5);
    s.orden = number<int>(r, i, 6).value_or(0);
    s.hora = number<std::int64_t>(r, i, 7);
    s.valor = number<double>(r, i, 8);
    s.dispositivo = text(r, i, 9);
    s.tipo = text(r, i, 10);
    s.alarmaMin = number<float>(r, i, 11);
    s.alarmaMax = number<float>(r, i, 12);
    s.vigilada = text(r, i, 13) == "t";
    s.periodo = number<int>(r, i, 14).value_or(0);
    s.clase = text(r, i, 16);
    return s;
}

} // namespace

namespace web {

Reader::Reader(QString conninfo, int connections, bool readOnly)
    : conninfo_(std::move(conninfo)), most_(connections), readOnly_(readOnly)
{
}

Reader::~Reader()
{
    for (PGconn *c : idle_)
        PQfinish(c);
}

Reader::Lease::~Lease()
{
    if (conn_)
        db_->giveBack(conn_, long_);
}

Reader::Result Reader::run(PGconn *conn, const std::string &sql,
                           const std::vector<std::string> &params, std::string &error,
                           QByteArray *state) const
{
    central::Params values;
    values.values.reserve(params.size());
    for (const std::string &p : params)
        values.values.emplace_back(p.data(), static_cast<qsizetype>(p.size()));
    Result r = central::exec(conn, sql.c_str(), values);
    if (r.ok())
        return r;
    if (state)
        *state = r.state();
    error = central::masked(central::serverText(conn), conninfo_).toStdString();
    return Result();
}

PGconn *Reader::open(std::string &error)
{
    QString why;
    central::Connection c = central::connect(conninfo_, "climalog-web", why);
    if (!c) {
        error = why.toStdString();
        return nullptr;
    }
    // Whatever the role may do, this program's transactions only read
    // (its writes go through their functions on a connection of their
    // own); and no question holds a connection and a thread for more than
    // a minute.
    if ((readOnly_ && !run(c.get(), "SET default_transaction_read_only = on", {}, error)) ||
        !run(c.get(), "SET statement_timeout = '60s'", {}, error))
        return nullptr;
    return c.release();
}

Reader::Lease Reader::take(Use use, std::string &error)
{
    const bool isLong = use == Use::Long;
    // Long questions leave one connection to the quick ones, so exports
    // never stop the overview.
    const int mostLong = std::max(1, most_ - 1);
    std::unique_lock lock(mutex_);
    if (!freed_.wait_for(lock, longestWait, [&] {
            return (!isLong || long_ < mostLong) && (!idle_.empty() || open_ < most_);
        })) {
        error = busy;
        return {};
    }
    if (isLong)
        ++long_;
    if (!idle_.empty()) {
        PGconn *c = idle_.back();
        idle_.pop_back();
        lent_.push_back(c);
        return Lease(this, c, isLong);
    }
    ++open_;
    lock.unlock();
    PGconn *c = open(error);
    lock.lock();
    if (c) {
        lent_.push_back(c);
        return Lease(this, c, isLong);
    }
    --open_;
    if (isLong)
        --long_;
    freed_.notify_all();
    return {};
}

void Reader::giveBack(PGconn *conn, bool isLong)
{
    // A connection the server dropped, or left inside a transaction by a
    // failed statement, is closed; the next request opens a fresh one.
    const bool sound = !central::lost(conn) && PQtransactionStatus(conn) == PQTRANS_IDLE;
    if (!sound)
        PQfinish(conn);
    std::lock_guard lock(mutex_);
    std::erase(lent_, conn);
    if (sound)
        idle_.push_back(conn);
    else
        --open_;
    if (isLong)
        --long_;
    // Waiting quick and long questions wait for different things.
    freed_.notify_all();
}

void Reader::cancelAll()
{
    // The cancel requests go out on a thread of their own, with nothing of
    // this object: a server that does not answer them holds neither the
    // connections' lock nor the program's end.
    std::vector<PGcancel *> cancels;
    {
        std::lock_guard lock(mutex_);
        for (PGconn *c : lent_)
            if (PGcancel *cancel = PQgetCancel(c))
                cancels.push_back(cancel);
    }
    std::thread([cancels] {
        for (PGcancel *cancel : cancels) {
            char why[256];
            PQcancel(cancel, why, sizeof why);
            PQfreeCancel(cancel);
        }
    }).detach();
}

bool Reader::overview(std::vector<SeriesInfo> &rows, std::int64_t &now, std::string &error)
{
    Lease c = take(Use::Quick, error);
    if (!c)
        return false;
    const Result r = run(c.get(), overviewSql, {}, error);
    if (!r)
        return false;
    rows.clear();
    const int n = PQntuples(r.get());
    rows.reserve(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i)
        rows.push_back(seriesRow(r.get(), i));
    now = n > 0 ? number<std::int64_t>(r.get(), 0, 15).value_or(0) : 0;
    if (n == 0) {
        const Result t =
            run(c.get(), "SELECT (extract(epoch FROM now()) * 1000)::bigint", {}, error);
        if (!t)
            return false;
        now = number<std::int64_t>(t.get(), 0, 0).value_or(0);
    }
    return true;
}

bool Reader::series(const std::vector<int> &keys, std::vector<SeriesInfo> &rows, std::string &error)
{
    return seriesRows(seriesSql, arrayText(keys), rows, error);
}

bool Reader::stationSeries(const std::string &station, std::vector<SeriesInfo> &rows,
                           std::string &error)
{
    return seriesRows(stationSql, station, rows, error);
}

bool Reader::seriesRows(const std::string &sql, const std::string &param,
                        std::vector<SeriesInfo> &rows, std::string &error)
{
    Lease c = take(Use::Quick, error);
    if (!c)
        return false;
    const Result r = run(c.get(), sql, {param}, error);
    if (!r)
        return false;
    rows.clear();
    for (int i = 0; i < PQntuples(r.get()); ++i)
        rows.push_back(seriesRow(r.get(), i));
    return true;
}

std::unique_ptr<Reader::Stream>
Reader::stream(const std::string &sql, const std::vector<std::string> &params, std::string &error)
{
    Lease c = take(Use::Long, error);
    if (!c)
        return nullptr;
    if (!run(c.get(), "BEGIN READ ONLY", {}, error))
        return nullptr;
    if (!run(c.get(), sql, params, error)) {
        central::rollBack(c.get());
        return nullptr;
    }
    return std::unique_ptr<Stream>(new Stream(*this, std::move(c)));
}

Reader::Result Reader::Stream::next(std::string &error)
{
    if (ended_)
        return Result(PQmakeEmptyPGresult(lease_.get(), PGRES_TUPLES_OK));
    Result r = db_.run(lease_.get(), fetchSql, {}, error);
    if (!r) {
        central::rollBack(lease_.get());
        ended_ = true;
        return Result();
    }
    if (PQntuples(r.get()) == 0) {
        ended_ = true;
        if (!db_.run(lease_.get(), "COMMIT", {}, error))
            return Result();
    }
    return r;
}

Reader::Stream::~Stream()
{
    // Stopped early (the client went away): the transaction ends here, so
    // the connection goes back idle.
    if (!ended_ && lease_)
        central::rollBack(lease_.get());
}

std::unique_ptr<Reader::Stream> Reader::spans(const std::vector<int> &keys, std::int64_t desde,
                                              std::int64_t hasta, int cubos, std::string &error)
{
    return stream(
        spansSql,
        {arrayText(keys), std::to_string(desde), std::to_string(hasta), std::to_string(cubos)},
        error);
}

std::unique_ptr<Reader::Stream> Reader::readings(const std::vector<int> &keys, std::int64_t desde,
                                                 std::int64_t hasta, const std::string &zone,
                                                 std::string &error)
{
    return stream(readingsSql,
                  {arrayText(keys), std::to_string(desde), std::to_string(hasta), zone}, error);
}

void Reader::spanRows(const PGresult *r, std::vector<Span> &rows)
{
    const int n = PQntuples(r);
    rows.clear();
    rows.reserve(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i)
        rows.push_back(Span{number<int>(r, i, 0).value_or(0),
                            number<std::int64_t>(r, i, 1).value_or(0), number<double>(r, i, 2),
                            number<double>(r, i, 3), number<int>(r, i, 4).value_or(0)});
}

void Reader::readingRows(const PGresult *r, std::vector<Reading> &rows)
{
    const int n = PQntuples(r);
    rows.clear();
    rows.reserve(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i)
        rows.push_back(Reading{text(r, i, 0), number<std::int64_t>(r, i, 1).value_or(0),
                               number<int>(r, i, 2).value_or(0), number<double>(r, i, 3)});
}

bool Reader::check(std::string &role, bool &writes, std::string &problem, std::string &error)
{
    Lease c = take(Use::Quick, error);
    if (!c)
        return false;
    problem = central::schemaProblem(c.get()).toStdString();
    if (!problem.empty())
        return true;
    const Result r =
        run(c.get(),
            "SELECT current_user, r.rolsuper OR EXISTS (SELECT 1 FROM pg_class t"
            " JOIN pg_namespace n ON n.oid = t.relnamespace WHERE n.nspname = 'climalog'"
            " AND t.relkind IN ('r', 'p') AND has_table_privilege(t.oid, 'INSERT, UPDATE, DELETE, "
            "TRUNCATE'))"
            " FROM pg_roles r WHERE r.rolname = current_user",
            {}, error);
    if (!r || PQntuples(r.get()) != 1)
        return false;
    role = text(r.get(), 0, 0);
    writes = text(r.get(), 0, 1) == "t";
    return true;
}

} // namespace web
