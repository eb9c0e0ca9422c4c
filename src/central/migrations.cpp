#include "central/migrations.h"

#include "central/connection.h"
#include "central/names.h"
#include "central/query.h"

#include <QFile>

#include <algorithm>
#include <array>

namespace central {

namespace {

// A file of the schema (schema/*.sql, built in as resources) and the
// version it belongs to. A database of no schema gets the files marked
// `fresh`: the schema as it is now, migrating a narrow table of the first
// design. One of an earlier version gets the files marked `step` of each
// later version, in order; the function files hold each function as it is
// now, so a step that changes one runs its file again: version 3 rewrote
// the station's batch and gave the summary each series' class; version 4
// added the alarms and their outbox and made the batch tell the alarm
// program of new lines; version 5 gave the rollups the sums a report needs
// (the batch fills them; an earlier archive's are recomputed from its lines),
// added the report's read functions and the reports mailed on a schedule;
// version 6 keeps a port's lines a minute to a row, the line table a view of
// them: its step comes first, for every later file reads the lines so;
// version 7 takes a station's catch-up as finished rows with their figures
// (its types before every function file, which names them); version 8
// tries a station's zone rather than reading every zone's file, and checks
// the order of a batch's seconds on the rows whose figures it works out again;
// version 9 checks the figures of every hour of a batch, not the first only.
struct SchemaFile {
    int version;
    const char *name;
    bool fresh, step;
};
constexpr std::array<SchemaFile, 23> schemaFiles{{
    {1, "1-1-first-design-aside.sql", true, false},
    {1, "2-tables.sql", true, false},
    {6, "2-2-blocks.sql", true, true},
    {2, "3-tables-version2.sql", true, true},
    {7, "2-3-rows.sql", true, true},
    {2, "4-replaced-version2.sql", false, true},
    {2, "5-values.sql", true, true},
    {2, "6-station.sql", true, true},
    {3, "6-station.sql", false, true},
    {3, "7-read.sql", true, true},
    // Before the first design's lines are migrated: their rollups are
    // made with the new sums.
    {5, "6-station.sql", false, true},
    {5, "12-reports.sql", true, true},
    {1, "8-first-design.sql", true, false},
    {4, "6-station.sql", false, true},
    {4, "10-alarms.sql", true, true},
    {4, "11-outbox.sql", true, true},
    {5, "13-informes.sql", true, true},
    {6, "6-station.sql", false, true},
    {6, "7-read.sql", false, true},
    {6, "12-reports.sql", false, true},
    {7, "6-station.sql", false, true},
    {8, "6-station.sql", false, true},
    {9, "6-station.sql", false, true},
}};
// Run on every set-up, whatever the version.
constexpr const char *grantsFile = "9-grants.sql";
static_assert(std::ranges::max(schemaFiles, {}, &SchemaFile::version).version == schemaVersion);

// The placeholders of the schema's files and the names they stand for.
const std::array<std::pair<QByteArray, QByteArray>, 5> placeholders{{
    {"@schema@", schemaName},
    {"@reader@", readerRole},
    {"@station@", stationRole},
    {"@alarms@", alarmsRole},
    {"@lock@", QByteArray::number(setupLock)},
}};

// The text of a schema file with its placeholders filled; empty (with
// `error`) when it is not built in or names a placeholder not known here.
QByteArray schemaText(const char *name, QString &error)
{
    QFile f(QStringLiteral(":/schema/") + QLatin1String(name));
    if (!f.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("Falta el fichero %1 del esquema en el programa")
                    .arg(QLatin1String(name));
        return {};
    }
    QByteArray sql = f.readAll();
    for (const auto &[key, value] : placeholders)
        sql.replace(key, value);
    if (sql.contains('@')) {
        error = QStringLiteral("El fichero %1 del esquema nombra algo desconocido con @")
                    .arg(QLatin1String(name));
        return {};
    }
    return sql;
}

bool run(pg_conn *c, const char *sql, QString &error)
{
    const bool ok = exec(c, sql).ok();
    if (!ok)
        error = serverText(c);
    return ok;
}

bool runFile(pg_conn *c, const char *name, QString &error)
{
    const QByteArray sql = schemaText(name, error);
    return !sql.isEmpty() && run(c, sql.constData(), error);
}

// Ends the set-up's transaction, keeping the error that made it end.
bool fail(pg_conn *c)
{
    rollBack(c);
    return false;
}

} // namespace

bool prepare(pg_conn *c, QStringList &report, QString &error)
{
    // One set-up at a time: the lock is the transaction's.
    if (!run(c, "BEGIN; SELECT pg_advisory_xact_lock(" + QByteArray::number(setupLock) + ")",
             error))
        return false;
    const int found = storedSchemaVersion(c, error);
    if (found < 0)
        return fail(c);
    if (found > schemaVersion) {
        error = QStringLiteral(
                    "El esquema climalog es de la versión %1, más nueva que la %2 de este programa")
                    .arg(found)
                    .arg(schemaVersion);
        return fail(c);
    }
    const bool legacy = found == 0 && [&] {
        const Result r = exec(c, "SELECT to_regclass('climalog.lectura') IS NOT NULL");
        return r.ok() && r.rows() == 1 && r.field(0, 0) == "t";
    }();
    for (const SchemaFile &f : schemaFiles) {
        if (found == 0 ? !f.fresh : !f.step || f.version <= found)
            continue;
        if (!runFile(c, f.name, error)) {
            error = QStringLiteral("No se puede poner el esquema climalog en la versión %1: %2")
                        .arg(f.version)
                        .arg(error);
            return fail(c);
        }
    }
    for (int version = found + 1; version <= schemaVersion; ++version)
        report << QStringLiteral("Esquema climalog puesto en la versión %1.").arg(version);
    if (!run(c, "UPDATE climalog.version SET version = " + QByteArray::number(schemaVersion),
             error) ||
        !runFile(c, grantsFile, error)) {
        error = QStringLiteral("No se pueden dar los permisos del esquema climalog (el propietario "
                               "necesita poder crear roles, "
                               "o que un superusuario cree antes %1, %2 y %3): %4")
                    .arg(QLatin1String(stationRole), QLatin1String(readerRole),
                         QLatin1String(alarmsRole), error);
        return fail(c);
    }
    if (!run(c, "COMMIT", error))
        return false;
    if (legacy)
        report << QStringLiteral(
            "Las lecturas de la tabla anterior están ya en el esquema nuevo; la tabla queda como "
            "climalog.lectura_anterior (y su progreso como climalog.progreso_anterior) hasta que "
            "la borre.");
    report << QStringLiteral("Roles %1 (estaciones), %2 (lectores) y %3 (avisos) con sus permisos; "
                             "particiones hasta el mes que viene.")
                  .arg(QLatin1String(stationRole), QLatin1String(readerRole),
                       QLatin1String(alarmsRole));
    return true;
}

} // namespace central
