// One capture file as the archive follows it: how far it is archived, and
// the readings of the whole lines after that, read in bounded pieces so that
// memory stays small whatever the backlog. The file is only ever read. A file
// replaced or rewritten under the same name is noticed by its bytes (a hash of
// its archived part, and of samples of it for a cheap look) and read again
// from its start.
#pragma once

#include "archive/batch.h"
#include "viewer/capturereader.h"

#include <QDate>
#include <QFile>
#include <QTimeZone>

#include <memory>
#include <string>
#include <vector>

class FollowedFile {
public:
    // A header of the file as the reader settled it on its first line.
    struct Header {
        qint64 offset = -1; // where its line starts
        qint64 number = 0; // its line number; 0: not known (read again after a restart)
        std::vector<Column> columns;
        bool settled = false;
        int id = 0; // its id in the database; 0: not asked yet; -1: refused
    };

    FollowedFile(const QString &folder, const QString &name, const QTimeZone &zone);

    const FileKey &key() const { return key_; }
    const QString &path() const { return path_; }
    int id = 0; // the file's id in the database; 0: not asked yet

    // Where the database says the file is archived; reading resumes there.
    void setProgress(const Progress &p);
    const Progress &progress() const { return progress_; }
    // The readings of the whole lines after the archived part, until about
    // `most` readings (an empty batch when nothing is new). False when the
    // file cannot be read: error() says why.
    bool next(qint64 most, Batch &batch);
    // The batch's progress keeps the database's id of the header in force at
    // its end, once the batch's headers are registered.
    void noteHeaderId(Batch &b) const;
    // The progress just past batch line `i`, for storing part of a batch.
    Progress progressAfter(const Batch &batch, std::size_t i) const;
    // The batch (or its part up to `p`) is in the database.
    void stored(const Progress &p);
    // Everything is archived and the reader's memory can go; a later change
    // of the file opens it again.
    void rest() { reader_.reset(); }
    bool caughtUp() const;

    Header &header(int set) { return headers_[static_cast<std::size_t>(set)]; }
    const QString &error() const { return error_; }
    // Said once: the file was replaced, or is checked again from its start.
    QString takeNote();
    // Lines skipped since the last call: neither header nor readings of
    // their header's columns; and lines of another day than the file's.
    qint64 takeRejected();
    qint64 takeForeign() { return std::exchange(foreign_, 0); }
    // The first of those skipped lines since the last call, by number, with
    // why in Spanish; `more`: how many others.
    struct BadLine {
        qint64 number = 0;
        QString why;
    };
    std::vector<BadLine> takeBadLines(qint64 &more);

private:
    struct Look {
        quint64 inode = 0;
        qint64 size = -1;
        qint64 mtimeNs = 0;
        bool operator==(const Look &) const = default;
    };

    bool open(QFile &f, bool suspicious);
    // `replaced`: the archived part is another content; its stored lines are
    // set aside until the file is read again.
    void restart(const QString &why, bool replaced);
    bool readLines(QFile &f, qint64 most, Batch &b, bool &ended);
    // The batch takes this whole line (`beyond`: lines taken past its goal).
    bool wants(const Batch &b, const char *line, qint64 length, qint64 most, int &beyond) const;
    bool take(const char *begin, qint64 length, Batch &b);
    std::uint64_t sample(QFile &f, const Position &at) const;
    bool sameBytes(QFile &f) const;
    // The archived part of the file is still the one archived.
    bool stillArchived(QFile &f, bool suspicious) const;

    FileKey key_;
    QString path_;
    QTimeZone zone_;
    qint64 dayStartMs_ = 0, dayEndMs_ = 0; // lines outside are of another day
    bool dayValid_ = false;
    Progress progress_; // as stored in the database
    qint64 byKeyUntil_ = 0; // as the next batch will store it
    bool setAside_ = false; // the next batch reads a replaced file from its start
    Position pos_; // how far the reader has read
    Look look_; // the file as last seen
    std::unique_ptr<CaptureReader> reader_; // none while resting
    std::vector<Header> headers_; // by the reader's count
    std::string lastMinute_; // the batch's last line before its seconds
    void skipped(qint64 number, QByteArrayView line, bool tooLong = false);

    qint64 rejectedSeen_ = 0, rejected_ = 0, foreign_ = 0;
    std::vector<BadLine> badLines_;
    qint64 moreBadLines_ = 0;
    QString error_;
    QString note_;
};
