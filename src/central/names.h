// The names of the central schema that the archive and the web program share:
// the read interface the web reads, the roles, the set-up's lock, and the
// schema version both programs check before they use it. The schema's files
// (schema/*.sql) name the schema, the roles and the lock by the placeholders
// the set-up fills from here.
#pragma once

namespace central {

// The version of the schema these programs are built for; the archive's
// set-up step (climalog-archivo --preparar) brings a database to it.
constexpr int schemaVersion = 9;

constexpr const char *schemaName = "climalog";
constexpr const char *readerRole = "climalog_lectura"; // NOLOGIN group of read-only roles
constexpr const char *stationRole =
    "climalog_estacion"; // NOLOGIN group of the stations' login roles
constexpr const char *alarmsRole =
    "climalog_avisos"; // NOLOGIN group of the alarm program's login role
// The transaction lock that lets one set-up, or one month's partitions, be
// made at a time.
constexpr long long setupLock = 4354353746960623463;
// The session locks that let one alarm program judge, and one send, at a
// time: another waits on them and takes over when the first goes.
constexpr long long alarmsLock = 4354353746960623464;
constexpr long long outboxLock = 4354353746960623465;

// What each side says to the others when it commits (NOTIFY channels): new
// lines of a port (payload: its id), an alarm acknowledged or silenced on
// the page (payload: its id), new rows in the outbox.
constexpr const char *linesChannel = "climalog_lineas";
constexpr const char *alarmsChannel = "climalog_avisos";
constexpr const char *outboxChannel = "climalog_salida";

// The read interface.
constexpr const char *summaryView =
    "climalog.resumen"; // a row per series with its latest reading and class
constexpr const char *narrowView =
    "climalog.lectura"; // a row per reading: estacion, puerto, fichero, columna, hora, valor
constexpr const char *spanFunction =
    "climalog.tramo"; // (series, desde, hasta, cubos): lines or min/max buckets
constexpr const char *readingsFunction =
    "climalog.lecturas"; // (series, desde, hasta): every reading

} // namespace central
