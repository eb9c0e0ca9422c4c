// Capture files as comma-separated text for other programs: ISO date-times
// with their offset from UTC, decimal point, one column per column name of
// all the files.
#pragma once

#include "viewer/capturereader.h"

#include <QByteArray>
#include <QString>

#include <vector>

// UTF-8, CR LF line ends. First line "Hora" and the column names in the
// order they first appear; then every reading line of the files in the
// order given, an empty cell for ERR and for columns its line lacks.
QByteArray csvText(const std::vector<const CaptureReader *> &files);
// Writes csvText to `path` whole or not at all; false with a Spanish
// message in `error`.
bool writeCsv(const QString &path, const std::vector<const CaptureReader *> &files, QString &error);

// An export must never land on a capture: the file being captured
// (`current`, through any link), a name the capture gives its files (a day
// not begun yet included), or a file that begins as a capture does.
bool esCaptura(const QString &path, const QString &current);
// The status line's word for such a path.
QString sobreCaptura(const QString &path);
