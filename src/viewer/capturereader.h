// Reading the capture files the monitor writes: the columns of each header
// line, the time stamps and the values of the lines under it. A file being
// captured is followed by reading only the bytes appended since the last look.
#pragma once

#include "monitor/captureheader.h"
#include "viewer/capturelines.h"
#include "viewer/localtime.h"

#include <QByteArrayView>
#include <QDateTime>
#include <QString>
#include <QTimeZone>

#include <vector>

// The lines under one header line.
struct ColumnSet {
    std::vector<Column> columns;
    std::vector<qint64> times; // ms since the epoch, from the station's local time
    std::vector<std::vector<double>> values; // one per column, NaN for ERR
};

// Where a reader stands after the whole lines it has read: what a reader
// started there needs to go on exactly as this one would, without reading the
// file from its start. Four numbers, to be stored with the progress of a file.
struct ResumePoint {
    static constexpr qint64 none = LocalTime::none;
    qint64 offset = 0; // a line end (CaptureReader::whole()): the next byte to read
    qint64 header = -1; // where the header line in force starts; -1: none read yet
    qint64 columns = -1; // the columns of that header as the first line under it
        // settled them; -1: no line under it yet (the next one may)
    qint64 lastMs = none; // the instant of the last line of readings: which of two
        // equal local times of a clock set back is meant
    bool operator==(const ResumePoint &) const = default;
};

class CaptureReader {
public:
    enum class Change {
        None, // nothing new
        Appended, // rows or columns were added to sets()
        Reset, // the file shrank: it was read again from its start
        Failed, // error() says why; nothing more is read
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
    qint64 offset() const { return framer_.offset(); } // bytes of the file taken so far
    qint64 whole() const { return framer_.whole(); } // bytes of the file in whole lines
    // Forgets the rows read so far, keeping the columns: a reader that hands
    // its rows on needs no memory for a whole file. `release`: their room
    // too, for a reader that will read little more for a while.
    void discardRows(bool release = false);
    qint64 bytesRead() const { return bytesRead_; } // bytes read from the disk in all
    qint64 rejected() const { return rejected_; } // lines that were neither header nor readings
    // The archive's codes of the last line of readings' values, kept once
    // asked for (see capturelines::values).
    void keepCodes() { keepCodes_ = true; }
    const std::vector<std::int32_t> &lastCodes() const { return codes_; }
    qint64 rows() const { return rows_; } // lines of readings read, those discarded too
    const QTimeZone &zone() const { return time_.zone(); }

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
    static QDateTime toDateTime(qint64 ms, const QTimeZone &zone = {})
    {
        return LocalTime::toDateTime(ms, zone);
    }

    static QString notCapture();

private:
    void reset();
    bool line(const char *begin, const char *end, bool bad);
    bool dataLine(const char *begin, const char *end);
    bool header(const char *begin, const char *end);
    bool recut(ColumnSet &set, std::size_t count);
    bool fail(); // not a capture file, for good: false

    QString path_;
    LocalTime time_;
    std::vector<ColumnSet> sets_;
    QString error_;
    capturelines::LineFramer framer_;
    bool notCapture_ = false; // for good: read errors, unlike this, may pass
    bool sawHeader_ = false;
    QString headerText_; // the last header, of the writer's order, while no line is under it
    qint64 bytesRead_ = 0;
    qint64 rejected_ = 0;
    qint64 rows_ = 0;
    bool keepCodes_ = false;
    std::vector<std::int32_t> codes_;
    qint64 headerAt_ = -1; // where the header line in force starts
    qint64 lastMs_ = ResumePoint::none; // the last line's instant
};
