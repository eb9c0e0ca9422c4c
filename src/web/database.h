// The web program's reads of the central database: a few connections shared
// by the server's threads, each in read-only transactions, and the three
// questions the page asks through the central read interface. Every value
// from a request reaches the server as a bound parameter, never as SQL text.
#pragma once

#include <libpq-fe.h>

#include <QString>

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

// One series as the overview shows it: a column of a station's port and its
// latest reading, with the device's limits from the archived configuration.
struct SeriesInfo {
    int serie = 0;
    std::string estacion, zona, puerto, columna, unidad, dispositivo, tipo;
    int orden = 0;                        // 0: not in the latest header
    std::optional<std::int64_t> hora;     // ms since the epoch
    std::optional<double> valor;          // none: ERR
    std::optional<float> alarmaMin, alarmaMax;
    bool vigilada = false;
    int periodo = 0;                      // seconds between readings; 0: unknown
};

// One row of climalog.tramo: a line, or the figures of a time bucket.
struct Span {
    int serie = 0;
    std::int64_t hora = 0; // ms since the epoch
    std::optional<double> minimo, maximo;
    int lecturas = 0;
};

// One reading for the export: the station's wall-clock time as text, its
// instant, and the value (none: ERR).
struct Reading {
    std::string local;
    std::int64_t hora = 0;
    int serie = 0;
    std::optional<double> valor;
};

class Database {
public:
    // `conninfo`: a postgresql:// address or key=value text; empty: the
    // PG* variables.
    Database(QString conninfo, int connections);
    ~Database();
    Database(const Database &) = delete;
    Database &operator=(const Database &) = delete;

    // A connection lent to one request, given back when it goes.
    class Lease {
    public:
        Lease() = default;
        Lease(Database *db, PGconn *conn) : db_(db), conn_(conn) {}
        Lease(Lease &&o) noexcept : db_(o.db_), conn_(o.conn_) { o.conn_ = nullptr; }
        Lease &operator=(Lease &&) = delete;
        ~Lease();
        explicit operator bool() const { return conn_ != nullptr; }
        PGconn *get() const { return conn_; }

    private:
        Database *db_ = nullptr;
        PGconn *conn_ = nullptr;
    };

    // Waits for a free connection, opening one when fewer than the most are
    // open. Empty with `error` (for the log) when the server cannot be reached.
    Lease take(std::string &error);

    // Each question: false with `error` (for the log) when the database
    // failed; the connection is then dropped and opened anew next time.
    bool overview(std::vector<SeriesInfo> &rows, std::int64_t &now, std::string &error);
    bool series(const std::vector<int> &keys, std::vector<SeriesInfo> &rows, std::string &error);
    bool spans(const std::vector<int> &keys, std::int64_t desde, std::int64_t hasta, int cubos, std::vector<Span> &rows,
               std::string &error);
    // Streams every reading in [desde, hasta) in time order, a block of rows
    // at a time, with wall-clock times in `zone`; `block` returns false to
    // stop early (the client went away).
    bool readings(const std::vector<int> &keys, std::int64_t desde, std::int64_t hasta, const std::string &zone,
                  const std::function<bool(const std::vector<Reading> &)> &block, std::string &error);

    // Stops the statements running on lent connections: the program is
    // ending and must not wait for a long plot or export.
    void cancelAll();

    // At the start: false with `error` when the server cannot be reached;
    // otherwise `problem` says what is wrong with the schema (empty when it
    // is the one this program reads), and `writes` whether the role could
    // change the archive (the web program needs only to read).
    bool check(std::string &role, bool &writes, std::string &problem, std::string &error);

private:
    PGconn *open(std::string &error);
    void giveBack(PGconn *conn);
    // A statement with text parameters; null when it failed, with the
    // server's message (passwords hidden) in `error`.
    struct ResultFree {
        void operator()(PGresult *r) const { PQclear(r); }
    };
    using Result = std::unique_ptr<PGresult, ResultFree>;
    Result run(PGconn *conn, const std::string &sql, const std::vector<std::string> &params, std::string &error) const;

    const QString conninfo_;
    const int most_;
    std::mutex mutex_;
    std::condition_variable freed_;
    std::vector<PGconn *> idle_;
    std::vector<PGconn *> lent_;
    int open_ = 0;
};
