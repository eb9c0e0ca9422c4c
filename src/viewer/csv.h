// Capture files as comma-separated text for other programs: ISO date-times
// with their offset from UTC, decimal point, one column per column name of
// all the files.
#pragma once

#include "viewer/capturereader.h"

#include <QByteArray>
#include <QString>
#include <QTimeZone>

#include <vector>

// A capture file as a reader read it: its lines before `end`, read again.
struct CsvSource {
    QString path;
    QTimeZone zone;
    qint64 end = 0;
};
std::vector<CsvSource> csvSources(const std::vector<const CaptureReader *> &files);
qint64 csvBytes(const std::vector<CsvSource> &files); // what an export reads, twice

// Writes to `path`, whole or not at all, UTF-8 with CR LF line ends: first
// line "Hora" and the column names in the order they first appear; then
// every reading line of the files in the order given, an empty cell for ERR
// and for columns its line lacks. The files are read again a piece at a
// time, so the rows are never all in memory. False with a Spanish message
// in `error`.
bool writeCsv(const QString &path, const std::vector<CsvSource> &files, QString &error);

// An export must never land on a capture: the file being captured
// (`current`, through any link), a name the capture gives its files (a day
// not begun yet included), or a file that begins as a capture does.
bool esCaptura(const QString &path, const QString &current);
// The status line's word for such a path.
QString sobreCaptura(const QString &path);
