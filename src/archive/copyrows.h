// Readings in PostgreSQL's binary COPY format: the fastest way into a table,
// with nothing for the server to parse. Fields are big-endian, as the format
// requires.
#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

class CopyRows {
public:
    CopyRows() { clear(); }

    // The first fields of a row, the same for a file's every reading:
    // station, port and file name.
    static QByteArray rowStart(const QString &station, const QString &port, const QString &file);
    // A text field: its length, then its UTF-8 bytes.
    static QByteArray textField(const QString &text);

    // One reading: the row's start, the column's text field, the time in ms
    // since the epoch and the value (NaN is stored as NULL).
    void add(const QByteArray &start, const QByteArray &column, qint64 ms, double value);
    // The whole COPY stream: the trailer is added, and no row may follow.
    const QByteArray &finish();
    qint64 rows() const { return rows_; }
    qint64 bytes() const { return data_.size(); }
    void clear();

private:
    QByteArray data_;
    qint64 rows_ = 0;
};
