// The central schema as versioned migrations, applied in order by the
// owner's one-time set-up step; each keeps every row it finds.
#pragma once

#include <QString>
#include <QStringList>

struct pg_conn;

namespace central {

// Brings the database of the owner's connection to central::schemaVersion
// in one transaction, migrating a narrow table of the first design, and
// (again on every call) makes the roles, grants and the coming month
// partitions. `report` gets what was done, in Spanish; false: `error` says why.
bool prepare(pg_conn *owner, QStringList &report, QString &error);

} // namespace central
