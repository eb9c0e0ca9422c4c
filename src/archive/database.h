// The archive's side of PostgreSQL, through libpq: the schema of its own,
// a partition for every day, the progress of every capture file, and each
// batch of readings stored with its file's progress in one transaction, so a
// reading is in the table exactly when the progress says it is.
#pragma once

#include "archive/copyrows.h"

#include <QString>

#include <map>
#include <set>
#include <utility>

struct pg_conn;

// How far a capture file is archived.
struct Progress {
    qint64 offset = 0;     // bytes of whole lines archived
    qint64 byKeyUntil = 0; // a shrunk file: lines before this byte are stored only when their key is not there yet
    bool operator==(const Progress &) const = default;
};

// Port folder name and file name.
using FileKey = std::pair<QString, QString>;

// The readings of a run of whole lines of one file, and where it leaves the file.
struct Batch {
    FileKey key;
    Progress before, after;
    bool byKey = false;
    CopyRows rows;
    std::set<qint64> days; // UTC days of the readings (days since the epoch)
    qint64 lines = 0;
    qint64 lastMs = 0;     // time of the last line, 0 when none
};

class Database {
public:
    Database() = default;
    Database(const Database &) = delete;
    Database &operator=(const Database &) = delete;
    ~Database();

    // Connects and creates the schema when it is missing.
    bool connect(const QString &conninfo);
    void close();
    bool connected() const;
    const QString &error() const { return error_; } // Spanish, with the server's own words

    bool loadProgress(const QString &station, std::map<FileKey, Progress> &out);
    // False (and nothing stored) on any failure, or when the stored progress
    // of the file is not batch.before: then someone else moved it.
    bool store(const QString &station, Batch &batch);

    static const char *schemaSql();

private:
    bool exec(const char *sql);
    bool ensureDays(const std::set<qint64> &days);
    bool copy(const char *sql, const QByteArray &data);
    bool storeReadings(Batch &batch);
    enum class Saved { Yes, No, Moved };
    Saved saveProgress(const QString &station, const Batch &b);
    void fail(const QString &what);
    void abandon();

    pg_conn *conn_ = nullptr;
    QString error_;
    std::set<qint64> days_; // partitions known to exist
};
