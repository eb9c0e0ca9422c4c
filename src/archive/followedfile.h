// One capture file as the archive follows it: how far it is archived, and
// the readings of the whole lines after that, read in bounded pieces so that
// memory stays small whatever the backlog. The file is only ever read.
#pragma once

#include "archive/database.h"
#include "viewer/capturereader.h"

#include <QByteArray>
#include <QString>

#include <memory>
#include <vector>

class FollowedFile {
public:
    FollowedFile(const QString &station, const QString &folder, const QString &name);

    const FileKey &key() const { return key_; }
    const QString &path() const { return path_; }
    // Where the database says the file is archived; reading resumes there.
    void setProgress(const Progress &p);
    // The readings of the whole lines after the archived part, until about
    // `most` readings (an empty batch when nothing is new). False when the
    // file cannot be read: error() says why.
    bool next(qint64 most, Batch &batch);
    // The batch is in the database.
    void stored(const Batch &batch);
    // Everything is archived and the reader's memory can go; a later change
    // of the file opens it again.
    void rest() { reader_.reset(); }
    bool caughtUp() const;

    const QString &error() const { return error_; }
    // Set once when the file shrank or was replaced: it is read again from
    // its start.
    QString takeShrinkNote();
    // Lines skipped since the last call: neither header nor readings of
    // their header's columns.
    qint64 takeRejected();

private:
    bool open();
    void restart(qint64 archived);
    void collect(Batch &b);

    FileKey key_;
    QString path_;
    QByteArray rowStart_;                       // station, port and file of every row
    Progress progress_;                         // as stored in the database
    qint64 byKeyUntil_ = 0;                     // as the next batch will store it
    std::unique_ptr<CaptureReader> reader_;     // none while resting
    std::vector<std::vector<QByteArray>> columns_; // each column set's column fields
    qint64 rejectedSeen_ = 0;
    QString error_;
    QString shrinkNote_;
};
