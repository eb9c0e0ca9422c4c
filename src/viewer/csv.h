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
