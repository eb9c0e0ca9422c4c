// The web program's reads of the central database: a few connections shared
// by the server's threads, each in read-only transactions, and the three
// questions the page asks through the central read interface. Every value
// from a request reaches the server as a bound parameter, never as SQL text.
#pragma once

#include "central/query.h"

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
    std::string clase; // T, H, a..d (a channel), 1 2 (an input)
    int orden = 0; // 0: not in the latest header
    std::optional<std::int64_t> hora; // ms since the epoch
    std::optional<double> valor; // none: ERR
    std::optional<float> alarmaMin, alarmaMax;
    bool vigilada = false;
    int periodo = 0; // seconds between readings; 0: unknown
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

// One alarm as the page shows it: where, what, when (ms since the epoch),
// its values and who acknowledged or silenced it.
struct Alarm {
    std::int64_t id = 0;
    std::string estacion, zona, puerto, columna, unidad, condicion, regla;
    std::int64_t inicio = 0;
    std::optional<std::int64_t> fin; // none: active
    std::optional<double> extremo, limite;
    std::string reconocidoPor, comentario, silenciadoPor;
    std::optional<std::int64_t> reconocido, silenciadoHasta;
};

// One alarm of the history's CSV: its times already as the station's
// wall-clock texts.
struct AlarmLine {
    std::string estacion, puerto, columna, condicion, regla, inicio, fin;
    std::optional<double> extremo, limite;
    std::string reconocidoPor, reconocido, comentario, silenciadoPor, silenciadoHasta;
};

namespace web {

class Reader {
public:
    // `conninfo`: a postgresql:// address or key=value text; empty: the
    // PG* variables. `readOnly`: every transaction only reads; the one
    // that sends the page's writes is not.
    Reader(QString conninfo, int connections, bool readOnly = true);
    ~Reader();
    Reader(const Reader &) = delete;
    Reader &operator=(const Reader &) = delete;

    using Result = central::Result;

    // A connection lent to one request, given back when it goes.
    class Lease {
    public:
        Lease() = default;
        Lease(Reader *db, PGconn *conn, bool isLong) : db_(db), conn_(conn), long_(isLong) {}
        Lease(Lease &&o) noexcept : db_(o.db_), conn_(o.conn_), long_(o.long_)
        {
            o.conn_ = nullptr;
        }
        Lease &operator=(Lease &&) = delete;
        ~Lease();
        explicit operator bool() const { return conn_ != nullptr; }
        PGconn *get() const { return conn_; }

    private:
        Reader *db_ = nullptr;
        PGconn *conn_ = nullptr;
        bool long_ = false;
    };

    // Quick questions (the overview, a request's series) may take any
    // connection; long ones (plots, exports) leave one free for them.
    enum class Use { Quick, Long };
    // The error text of a request that found every connection it may use
    // busy for longer than it waits.
    static constexpr const char *busy = "Todas las conexiones con la base de datos están ocupadas.";

    // Waits for a free connection, a few seconds at most, opening one when
    // fewer than the most are open. Empty with `error` (for the log, or
    // `busy`) when the server cannot be reached or none was free in time.
    Lease take(Use use, std::string &error);

    // Rows handed over a block at a time from a cursor, on a connection lent
    // for as long as the stream lives: a year of readings never sits whole
    // in this program's memory.
    class Stream {
    public:
        ~Stream();
        // The next block of rows; none left: zero rows. Null when the
        // database failed, with `error`.
        Result next(std::string &error);

    private:
        friend class Reader;
        Stream(Reader &db, Lease lease) : db_(db), lease_(std::move(lease)) {}
        Reader &db_;
        Lease lease_;
        bool ended_ = false;
    };

    // Each question: false (or null) with `error` (for the log) when the
    // database failed; the connection is then dropped and opened anew next
    // time.
    bool overview(std::vector<SeriesInfo> &rows, std::int64_t &now, std::string &error);
    bool series(const std::vector<int> &keys, std::vector<SeriesInfo> &rows, std::string &error);
    // Every series of the station, in the order of its ports and columns;
    // none: no such station.
    bool stationSeries(const std::string &station, std::vector<SeriesInfo> &rows,
                       std::string &error);
    // The rows of climalog.tramo ordered by series, then time; see spanRows.
    std::unique_ptr<Stream> spans(const std::vector<int> &keys, std::int64_t desde,
                                  std::int64_t hasta, int cubos, std::string &error);
    // Every reading in [desde, hasta) in time order, with wall-clock times
    // in `zone`; see readingRows.
    std::unique_ptr<Stream> readings(const std::vector<int> &keys, std::int64_t desde,
                                     std::int64_t hasta, const std::string &zone,
                                     std::string &error);
    static void spanRows(const PGresult *r, std::vector<Span> &rows);
    static void readingRows(const PGresult *r, std::vector<Reading> &rows);

    // The active alarms and those ended lately or not yet acknowledged,
    // the active first; `now` the server's time, ms.
    bool alarms(std::vector<Alarm> &rows, std::int64_t &now, std::string &error);
    // The alarms of `estacion` (empty: all) that overlap [desde, hasta)
    // (none: open), newest first, at most `most`.
    bool alarmHistory(const std::string &estacion, std::optional<std::int64_t> desde,
                      std::optional<std::int64_t> hasta, int most, std::vector<Alarm> &rows,
                      std::string &error);
    // The same, oldest first, every one: see alarmLines.
    std::unique_ptr<Stream> alarmHistoryLines(const std::string &estacion,
                                              std::optional<std::int64_t> desde,
                                              std::optional<std::int64_t> hasta,
                                              std::string &error);
    static void alarmLines(const PGresult *r, std::vector<AlarmLine> &rows);

    // The page's two writes, through the schema's functions. Done; Refused:
    // no such alarm, or already acknowledged; Invalid: the database refused
    // the values (`error` says why); Standby: the database only reads (a
    // standby, and no primary named); Failed: the database failed.
    enum class Write { Done, Refused, Invalid, Standby, Failed };
    Write acknowledge(std::int64_t aviso, const std::string &user, const std::string &comment,
                      std::string &error);
    Write silence(std::int64_t aviso, const std::string &user, int minutes, std::string &error);

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
    bool seriesRows(const std::string &sql, const std::string &param, std::vector<SeriesInfo> &rows,
                    std::string &error);
    std::unique_ptr<Stream> stream(const std::string &sql, const std::vector<std::string> &params,
                                   std::string &error);
    void giveBack(PGconn *conn, bool isLong);
    // A statement with text parameters; null when it failed, with the
    // server's message (passwords hidden) in `error`.
    Result run(PGconn *conn, const std::string &sql, const std::vector<std::string> &params,
               std::string &error, QByteArray *state = nullptr) const;
    Write write(const std::string &sql, const std::vector<std::string> &params, std::string &error);

    const QString conninfo_;
    const int most_;
    const bool readOnly_;
    std::mutex mutex_;
    std::condition_variable freed_;
    std::vector<PGconn *> idle_;
    std::vector<PGconn *> lent_;
    int open_ = 0;
    int long_ = 0; // lent to long questions
};

} // namespace web
