#include "central/query.h"

#include <algorithm>
#include <libpq-fe.h>

namespace central {

void Result::Free::operator()(pg_result *r) const { PQclear(r); }

bool Result::ok() const
{
    const ExecStatusType s = PQresultStatus(r_.get());
    return r_ && (s == PGRES_COMMAND_OK || s == PGRES_TUPLES_OK);
}

int Result::rows() const { return r_ ? PQntuples(r_.get()) : 0; }

bool Result::isNull(int row, int column) const { return PQgetisnull(r_.get(), row, column) != 0; }

QByteArray Result::field(int row, int column) const
{
    return QByteArray(PQgetvalue(r_.get(), row, column), PQgetlength(r_.get(), row, column));
}

QByteArray Result::state() const
{
    const char *s = r_ ? PQresultErrorField(r_.get(), PG_DIAG_SQLSTATE) : nullptr;
    return s ? QByteArray(s) : QByteArray();
}

Result exec(pg_conn *c, const char *sql) { return Result(PQexec(c, sql)); }

namespace {

// The parameters as libpq takes them, pointing into `params`.
struct Arguments {
    explicit Arguments(const Params &params)
    {
        for (const QByteArray &p : params.values) {
            values.push_back(p.isNull() ? nullptr : p.constData());
            lengths.push_back(static_cast<int>(p.size()));
            formats.push_back(0);
        }
        for (std::size_t i =
                 formats.size() - std::min<std::size_t>(formats.size(), params.binaryLast);
             i < formats.size(); ++i)
            formats[i] = 1;
    }
    int count() const { return static_cast<int>(values.size()); }
    std::vector<const char *> values;
    std::vector<int> lengths, formats;
};

} // namespace

Result exec(pg_conn *c, const char *sql, const Params &params)
{
    const Arguments a(params);
    return Result(PQexecParams(c, sql, a.count(), nullptr, a.values.data(), a.lengths.data(),
                               a.formats.data(), 0));
}

bool send(pg_conn *c, const char *sql, const Params &params)
{
    const Arguments a(params);
    return c &&
        PQsendQueryParams(c, sql, a.count(), nullptr, a.values.data(), a.lengths.data(),
                          a.formats.data(), 0) == 1;
}

Result receive(pg_conn *c)
{
    // Every result is taken, so that the connection is free again; a
    // failure is kept over anything after it, as a statement run at once
    // would give it.
    Result kept;
    while (PGresult *r = c ? PQgetResult(c) : nullptr) {
        Result next(r);
        if (!kept || kept.ok())
            kept = std::move(next);
    }
    return kept;
}

bool lost(pg_conn *c, const QByteArray &state)
{
    return !c || PQstatus(c) != CONNECTION_OK || state.startsWith("08");
}

void rollBack(pg_conn *c)
{
    if (c && PQtransactionStatus(c) != PQTRANS_IDLE)
        exec(c, "ROLLBACK");
}

} // namespace central
