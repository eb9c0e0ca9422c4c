// Reading the capture files the monitor writes: the columns of each header
// line, the time stamps and the values of the lines under it. A file being
// captured is followed by reading only the bytes appended since the last look.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QDateTime>
#include <QString>
#include <QTimeZone>

#include <limits>
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
    std::vector<qint64> times;                // ms since the epoch, from the station's local time
    std::vector<std::vector<double>> values;  // one per column, NaN for ERR
};

// Where a reader stands after the whole lines it has read: what a reader
// started there needs to go on exactly as this one would, without reading the
// file from its start. Four numbers, to be stored with the progress of a file.
struct ResumePoint {
    static constexpr qint64 none = std::numeric_limits<qint64>::min();
    qint64 offset = 0;   // a line end (CaptureReader::whole()): the next byte to read
    qint64 header = -1;  // where the header line in force starts; -1: none read yet
    qint64 columns = -1; // the columns of that header as the first line under it
                         // settled them; -1: no line under it yet (the next one may)
    qint64 lastMs = none; // the instant of the last line of readings: which of two
                          // equal local times of a clock set back is meant
    bool operator==(const ResumePoint &) const = default;
};

class CaptureReader {
public:
    enum class Change {
        None,     // nothing new
        Appended, // rows or columns were added to sets()
        Reset,    // the file shrank: it was read again from its start
        Failed,   // error() says why; nothing more is read
    };

    // Local times are read in `zone`, or in the system's time zone when it
    // is not valid (the default).
    explicit CaptureReader(QString path = {}, QTimeZone zone = {});

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
    const QTimeZone &zone() const { return zone_; }

    // The reader's state at whole().
    ResumePoint resumePoint() const;
    // Starts this reader (fresh, or wherever it stands) at `p` of its file:
    // reads the header line at p.header and nothing else before p.offset,
    // then goes on as the reader that made `p`. False when the file holds no
    // header line there (it is another file; error() empty) or cannot be
    // read (error() says why); the reader is then back at the file's start.
    bool resume(const ResumePoint &p);

    // The local time of a stored time stamp, in `zone` (the system's when
    // not valid).
    static QDateTime toDateTime(qint64 ms, const QTimeZone &zone = {});
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
    bool header(const char *begin, const char *end);
    bool recut(ColumnSet &set, std::size_t count);
    int offsetAt(qint64 ms) const;
    void offsets(qint64 wall, int &early, int &late) const;
    qint64 instant(qint64 wall);

    QString path_;
    QTimeZone zone_;
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
    qint64 headerAt_ = -1;                // where the header line in force starts
    qint64 lastMs_ = ResumePoint::none;   // the last line's instant
    // The offsets of the last hour of local time met: lines come in order,
    // so one time zone look-up serves an hour of lines. An hour a clock
    // change falls inside is looked up line by line.
    qint64 hourKey_ = std::numeric_limits<qint64>::min();
    int hourEarly_ = 0, hourLate_ = 0; // seconds east of UTC; equal but in a repeated hour
    bool hourMixed_ = false;
};
