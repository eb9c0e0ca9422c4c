// Statements on a central connection for both central programs: a result
// that is freed when it goes and says whether the statement did what it
// should, parameters as text (one may be binary), the one rule for a
// connection that is lost, and the one way out of a failed transaction.
#pragma once

#include <QByteArray>

#include <memory>
#include <vector>

struct pg_conn;
struct pg_result;

namespace central {

class Result {
public:
    Result() = default;
    explicit Result(pg_result *r) : r_(r) {}
    // Whether the statement ran: a command done or rows given. False also
    // for no result at all (the connection is gone, or out of memory).
    bool ok() const;
    // Whether there is a result at all, whatever its status.
    explicit operator bool() const { return r_ != nullptr; }
    pg_result *get() const { return r_.get(); }
    int rows() const;
    bool isNull(int row, int column) const;
    QByteArray field(int row, int column) const;
    // The server's SQLSTATE of the failure; empty when none was given.
    QByteArray state() const;

private:
    struct Free {
        void operator()(pg_result *r) const;
    };
    std::unique_ptr<pg_result, Free> r_;
};

// A statement's parameters: texts (a null QByteArray is NULL), the last
// one as bytes when the statement takes it in binary.
struct Params {
    std::vector<QByteArray> values;
    int binaryLast = 0; // the last this many values are binary, the others text
};

// A statement of no parameters (several may be given, `;` between them),
// and one of parameters.
Result exec(pg_conn *c, const char *sql);
Result exec(pg_conn *c, const char *sql, const Params &params);

// The same statement of parameters in two steps: sent (false when it could
// not be), then its result waited for. Between them the connection is the
// statement's: nothing else may be sent.
bool send(pg_conn *c, const char *sql, const Params &params);
Result receive(pg_conn *c);

// The connection is gone: the server dropped it, or said it failed
// (SQLSTATE class 08). Reconnect and go on from what is stored.
bool lost(pg_conn *c, const QByteArray &state = {});

// Ends the transaction that a failed statement left open, if one is: the
// error that made it fail stays the caller's to report.
void rollBack(pg_conn *c);

} // namespace central
