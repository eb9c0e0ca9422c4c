// The grammar of a capture file's header line: "Hora", then one column per
// reading, two blanks apart. A column names its device and what it holds:
// "name (ºC)", "name (%)", "name - a (unit)" .. "name - d (unit)", and
// "name - 1", "name - 2" for the inputs of detectors and relays. The monitor
// writes columns with it and the viewer and the archive cut them with it.
#pragma once

#include <QString>

#include <vector>

enum class Kind {
    Temperature, // "name (ºC)"
    Humidity, // "name (%)"
    Channel, // "name - a (unit)" .. "name - d (unit)", unit may be empty
    Input, // "name - 1", "name - 2": detector inputs and relays, 1 active
};

struct Column {
    QString name; // the header's text: a series keeps it across files
    QString device; // the device's name
    QString unit; // "ºC", "%", the channel's unit; empty for inputs
    Kind kind = Kind::Temperature;
    // The class the archive keeps of it: 'T', 'H', the channel's letter
    // 'a'..'d' or the input's digit '1', '2'.
    char tag = 'T';
};

namespace captureheader {

// The first column of every header, the time stamp's.
inline const QString hora = QStringLiteral("Hora");

// The column of device `device` with class `tag` ('T', 'H', 'a'..'d', '1',
// '2'); `unit` is a channel's. Nothing else is a column.
QString columnText(const QString &device, char tag, const QString &unit = {});

// The column `text` stands for; false when it ends like none.
bool readColumn(const QString &text, Column &c);

// Columns of a header line, "Hora" first; false when it is none. With a
// count (the fields of a line under it), only a cut into that many in the
// writer's order. `ordered`: the columns follow the writer's order of device
// kinds.
bool parse(const QString &line, std::vector<Column> &columns, qsizetype count = -1,
           bool *ordered = nullptr);

} // namespace captureheader
