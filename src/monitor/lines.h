// The texts of the device list: one line per device and the list's header,
// and where a line holds the printable serial.
#pragma once

#include "registry/general.h"

#include <QString>

// The line of device i from its record and latest reading. `serie` is the
// library's 16-character printable serial; `narrow` says the 16-character
// name shows narrower than the name column, so one separator more keeps the
// serial column aligned. Empty when i has no record or reading block.
QString deviceLine(const General &g, int i, const QString &serie, bool narrow);

// The list's header, aligned with the lines for a two-blank separator.
QString listHeader(const QString &sep = QStringLiteral("  "));

// Position of the printable serial in a device line: after the type, a
// separator, the 16-character name and a separator, one separator further
// when the line has the narrow-name padding there. The serial is the 16
// characters from there (fewer or none for a line without one).
qsizetype posserie(const QString &linea, const QString &sep = QStringLiteral("  "));
QString serielinea(const QString &linea, const QString &sep = QStringLiteral("  "));
