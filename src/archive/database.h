// The archive's side of the central database, through libpq and the
// functions a station's role may call: the station, its ports, files and
// headers registered, the progress of every capture file, each batch of lines
// stored with its file's progress in one transaction (so a reading is in the
// database exactly when the progress says it is), and the ports'
// configurations.
#pragma once

#include "archive/batch.h"
#include "central/connection.h"
#include "central/query.h"
#include "registry/dispositivo.h"
#include "viewer/capturereader.h"

#include <QString>

#include <map>
#include <optional>
#include <vector>

namespace archive {

class Store {
public:
    // Why the last call failed.
    enum class Failure {
        None,
        Connection, // the connection is gone: reconnect and go on from the stored progress
        Moved, // the stored progress is not the one the batch was read from
        Refused, // the server refused the content (a bad byte, a value out of range)
        Other, // anything else (permissions, a full disk...): try again later
    };

    // Connects, checks the schema and takes the station (creating it, with
    // its zone, the first time).
    bool connect(const QString &conninfo, const QString &station, const QString &zone);
    void close();
    bool connected() const;
    const QString &error() const { return error_; } // Spanish, with the server's own words
    const QString &reason() const { return reason_; } // the server's own words alone
    Failure failure() const { return failure_; }

    bool loadProgress(std::map<FileKey, Progress> &out, std::map<FileKey, int> &ids);
    // Ids of a port, a capture file and a header; 0 on failure.
    int port(const QString &name);
    int file(int port, const QString &name);
    int header(int port, const std::vector<Column> &columns);

    // Batch lines [from, to) of a file, with the file's progress going from
    // `before` to `after`. `byKey`: stored lines of the same seconds are
    // replaced; otherwise that happens only when one turns out to be there.
    // `changed` gets the readings whose value changed, `dropped` the lines
    // of a file's old content that its new one does not have.
    struct Lines {
        int file = 0;
        const Batch *batch = nullptr;
        std::size_t from = 0, to = 0;
        const Progress *before = nullptr, *after = nullptr;
        std::vector<int> headerIds; // by the batch lines' set
        std::vector<std::vector<bool>> temperatures; // by the set: its columns of temperatures
    };
    bool store(const Lines &s, qint64 &changed, qint64 &dropped)
    {
        return send(s) && receive(changed, dropped);
    }
    // The batch as the server takes it, made without the database: made
    // first, it can be made while the server stores the batch before.
    struct Prepared {
        bool rows = false; // as finished rows, not as lines
        central::Params params;
    };
    Prepared prepare(const Lines &s) const;
    // `store` in two steps: the batch sent, its lines kept by the caller,
    // and the server's answer waited for, so that the next batch is read
    // while the server stores this one. Between them nothing else may be
    // asked of the database.
    bool send(const Lines &s, Prepared p);
    bool send(const Lines &s) { return send(s, prepare(s)); }
    // `durable`: the commit returns once it is on the server's disk.
    // Without, it returns before, and a server that stops at once may lose
    // it, with the progress that goes with it: only a batch that another of
    // the same file follows at once, whose commit makes both durable, may go
    // so; the file is then read again from the progress the server kept.
    bool receive(qint64 &changed, qint64 &dropped, bool durable = true);

    // A port's configuration file, stored when it differs from the latest
    // archived; `stored` says whether it did.
    bool storeConfiguration(int port, std::uint64_t hash, const std::vector<Dispositivo> &table,
                            bool &stored);

private:
    bool exec(const char *sql);
    bool call(const char *sql, const std::vector<QByteArray> &params, int &result);
    void fail(const QString &what);
    // Why a statement failed, from its SQLSTATE; `anyIntegrity`: every
    // integrity violation is the content's fault, not only a repeated key.
    Failure classify(const QByteArray &state, bool anyIntegrity) const;
    static QString fileOf(const Lines &s);
    // The batch of `s` not stored: the server's reason after the file's name.
    void failStoring(const Lines &s);
    // The file's progress from `before` to `after`, as both functions of a
    // batch take it, then `tail`.
    std::vector<QByteArray> moved(const Lines &s, std::vector<QByteArray> tail,
                                  bool withStart) const;
    central::Params linesParams(const Lines &s, bool replace) const;
    // The lines stored at once as lines; the SQLSTATE of a failure.
    QByteArray guardar(const Lines &s, bool replace, qint64 &changed, qint64 &dropped);
    struct Sent {
        Lines lines;
        bool rows = false; // sent as finished rows, not as lines
    };
    std::optional<Sent> sent_; // the batch the server is storing

    central::Connection conn_;
    QString conninfo_;
    int station_ = 0;
    std::uint32_t entryType_ = 0; // climalog.entrada's number
    std::uint32_t rowType_ = 0, figuresType_ = 0; // climalog.fila's and climalog.cifras'
    QString error_, reason_;
    Failure failure_ = Failure::None;
    std::map<QString, int> ports_;
};

} // namespace archive
