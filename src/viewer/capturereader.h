// Reading the capture files the monitor writes: the columns of each header
// line, the time stamps and the values of the lines under it. A file being
// captured is followed by reading only the bytes appended since the last look.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QDateTime>
#include <QString>

#include <vector>

enum class Kind {
    Temperature, // "name (ºC)"
    Humidity,    // "name (%)"
    Channel,     // "name - a (unit)" .. "name - d (unit)", unit may be empty
    Input,       // "name - 1", "name - 2": detector inputs and relays, 1 active
};

struct Column {
    QString name;   // the header's text: a series keeps it across files
    QString device; // the device's name
    QString unit;   // "ºC", "%", the channel's unit; empty for inputs
    Kind kind = Kind::Temperature;
};

// The lines under one header line.
struct ColumnSet {
    std::vector<Column> columns;
    std::vector<qint64> times;                // ms since the epoch, from local time
    std::vector<std::vector<double>> values;  // one per column, NaN for ERR
};

class CaptureReader {
public:
    enum class Change {
        None,     // nothing new
        Appended, // rows or columns were added to sets()
        Reset,    // the file shrank: it was read again from its start
        Failed,   // error() says why; nothing more is read
    };

    explicit CaptureReader(QString path = {});

    // Reads what the file gained since the last call (all of it the first
    // time), or at most `most` bytes of it. An incomplete last line is kept
    // until its line end arrives.
    Change follow(qint64 most = -1);
    // The same parsing on bytes in memory, as if appended to the file.
    Change feed(QByteArrayView bytes);

    const QString &path() const { return path_; }
    const std::vector<ColumnSet> &sets() const { return sets_; }
    bool failed() const { return !error_.isEmpty(); }
    const QString &error() const { return error_; } // Spanish, for the user
    qint64 offset() const { return offset_; }       // bytes of the file taken so far
    qint64 whole() const { return whole_; }         // bytes of the file in whole lines
    // Forgets the rows read so far, keeping the columns: a reader that hands
    // its rows on needs no memory for a whole file.
    void discardRows();
    qint64 bytesRead() const { return bytesRead_; } // bytes read from the disk in all
    qint64 rejected() const { return rejected_; }   // lines that were neither header nor readings
    qint64 rows() const;

    // The local time of a stored time stamp.
    static QDateTime toDateTime(qint64 ms);
    // Columns of a header line, "Hora" first; false when it is none. With a
    // count (the fields of a line under it), only a cut into that many in
    // the writer's order.
    // `ordered`: the columns follow the writer's order of device kinds.
    static bool parseHeader(const QString &line, std::vector<Column> &columns, qsizetype count = -1,
                            bool *ordered = nullptr);

    static QString notCapture();

private:
    void reset();
    bool line(const char *begin, const char *end);
    bool dataLine(const char *begin, const char *end);
    bool recut(ColumnSet &set, std::size_t count);
    qint64 localMs(int y, int mo, int d, int h, int mi, int s);

    QString path_;
    std::vector<ColumnSet> sets_;
    QString error_;
    QByteArray tail_;      // bytes after the last line end
    bool skipping_ = false; // inside an overlong line, dropped up to its end
    bool notCapture_ = false; // for good: read errors, unlike this, may pass
    bool sawHeader_ = false;
    QString headerText_;    // the last header, of the writer's order, while no line is under it
    qint64 offset_ = 0;
    qint64 whole_ = 0;
    qint64 bytesRead_ = 0;
    qint64 rejected_ = 0;
    // The last hour converted to epoch time: lines come in order, so one
    // time zone look-up serves an hour of lines.
    qint64 hourKey_ = -1;
    qint64 hourMs_ = 0;
};
