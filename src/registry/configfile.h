// The per-port configuration file: the device table as packed 140-byte
// records, entry 0 first, no header. Reading tolerates damaged lengths;
// writing replaces the file atomically and durably, so a crash or power cut
// leaves either the old table or the new one, never a mix.
#pragma once

#include "registry/dispositivo.h"

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <vector>

class General;

namespace configfile {

constexpr qsizetype recordSize = 140;
// Entry 0 plus the most devices the table can hold.
constexpr qsizetype maxRecords = maxDispositivos + 1;

// One record: out / in point at recordSize bytes.
void encode(const Dispositivo &d, char *out);
Dispositivo decode(const char *in);

// A whole table, record after record.
QByteArray encode(const std::vector<Dispositivo> &table);
// Records in a file of `length` bytes: length / 140 rounded to the nearest
// whole number, halves to even.
qint64 recordCount(qint64 length);
// The records a file holding `bytes` yields (before the size cap): the last
// one zero-filled when partial, bytes past the last record ignored.
std::vector<Dispositivo> decode(const QByteArray &bytes);

enum class Status {
    Loaded, // table holds at least entry 0; message set when it was cut
    Missing, // no such file: the program starts with an empty table
    Refused, // too short to hold entry 0
    Unreadable, // exists but cannot be read
};

struct ReadResult {
    Status status = Status::Missing;
    QString message; // Spanish, for the user; empty when there is nothing to say
    std::vector<Dispositivo> table;
};

// Files with more than maxRecords records load their first maxRecords and
// say so in the message; the status stays Loaded. A capture sequence number
// that is not two digits is read as "00", also said in the message.
ReadResult read(const QString &path);

struct WriteResult {
    bool ok = false;
    QString message; // Spanish, set when !ok
};

// Replaces the file: temporary in the same folder, data synced to disk,
// renamed over the old name, folder synced. A symbolic link stays a link:
// the file it names is replaced. On failure the old file is untouched and
// the temporary removed; on success temporaries that earlier saves cut off
// left beside it are removed too.
// A file the user may not write (read-only on Windows, no write permission
// elsewhere) is refused, never replaced.
WriteResult write(const QString &path, const std::vector<Dispositivo> &table);

// The pure-state part of loading: the table replaces the General's with one
// valid all-zero reading block per entry, then it is sorted (which marks it
// modified when the file was out of order) and the index lists rebuilt.
// An empty table (no entry 0) leaves the General untouched.
void apply(General &g, std::vector<Dispositivo> table);

// read(g.configPath()) and, when Loaded, apply; the result's table is then
// empty, handed to the General. Any other status leaves the table untouched;
// Unreadable and Refused mark the file as one a save must ask to replace.
ReadResult load(General &g);

enum class SaveStatus { Saved, NothingToDo, Failed, NeedsConsent };

struct SaveResult {
    SaveStatus status = SaveStatus::NothingToDo;
    QString message; // Spanish: why it failed, or the question to ask
};

// Saves when there are devices and something changed: sorts, rebuilds the
// index lists, writes, clears `modificado` on success (kept on failure).
// A file the last load could not read is still on the disk with a table
// nobody has seen: unless `replace` says the user agreed, nothing is
// written and the result is NeedsConsent with the question that names it.
SaveResult save(General &g, bool replace = false);

} // namespace configfile
