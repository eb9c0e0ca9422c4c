// The central schema's set-up by itself, against the private PostgreSQL
// server of scripts/testdb.sh: on an empty database, run again, on
// databases of versions 1 to 5, on one newer than this program, and on one
// where it cannot finish (a table of the first design: the archive's
// tests, which archive on from it); what each
// role may do with the alarms; and the layer both programs run their
// statements through.
#include "central/connection.h"
#include "central/migrations.h"
#include "central/names.h"
#include "central/query.h"

#include <libpq-fe.h>

#include <gtest/gtest.h>

#include <QRegularExpression>

#include <string>
#include <vector>

namespace {

// The rows of a result: fields joined by '|', NULL as "NULL", one a line;
// the error's code after "!" when it failed.
std::string rowsOf(const central::Result &r)
{
    std::string text = r.state().isEmpty() ? std::string() : "!" + r.state().toStdString();
    const int columns = PQnfields(r.get());
    for (int i = 0; i < r.rows(); ++i)
        for (int f = 0; f < columns; ++f)
            text += (r.isNull(i, f) ? std::string("NULL") : r.field(i, f).toStdString()) +
                (f + 1 < columns ? "|" : "\n");
    return text;
}
std::string rowsOn(PGconn *c, const std::string &sql)
{
    return rowsOf(central::exec(c, sql.c_str()));
}

const char *const rolesLine =
    "Roles climalog_estacion (estaciones), climalog_lectura (lectores) y climalog_avisos (avisos) "
    "con sus permisos; particiones hasta el mes que viene.";

// A station, a port, a file, a series and a line of 21.5 at 10:00:00 UTC,
// written by the owner straight into the tables.
const char *const oneLine =
    "INSERT INTO climalog.estacion (nombre, zona) VALUES ('norte', 'UTC');"
    "INSERT INTO climalog.puerto (estacion, nombre) SELECT id, '1' FROM climalog.estacion;"
    "INSERT INTO climalog.fichero (puerto, nombre, dia) SELECT id, '07-12-2026-00.log', "
    "'2026-12-07' FROM climalog.puerto;"
    "INSERT INTO climalog.serie (puerto, columna, ocurrencia, unidad, dispositivo, clase)"
    " SELECT id, 'Sala (ºC)', 1, 'ºC', 'Sala', 'T' FROM climalog.puerto;"
    "INSERT INTO climalog.juego (puerto, series) SELECT puerto, ARRAY[id] FROM climalog.serie;"
    "INSERT INTO climalog.juego_serie SELECT s.id, j.id, 1 FROM climalog.serie s, climalog.juego j;"
    "SELECT climalog.crear_meses('2026-12-07', '2026-12-07');"
    "INSERT INTO climalog.bloque SELECT p.id, '2026-12-07 10:00:00+00', f.id, j.id, '{0}', "
    "ARRAY[climalog.codigo(21.5)], NULL"
    " FROM climalog.puerto p, climalog.fichero f, climalog.juego j;";
// What version 4 added, gone again: a database of an earlier version.
const char *const noAlarms =
    "DROP VIEW climalog.avisos; DROP FUNCTION climalog.reconocer(bigint, text, text), "
    "climalog.silenciar(bigint, text, integer);"
    "DROP TABLE climalog.informe_enviado, climalog.avisos_puerto, climalog.salida, climalog.envio, "
    "climalog.aviso;";
const char *const lineRead = "SELECT estacion, fichero, columna, to_char(hora AT TIME ZONE 'UTC', "
                             "'HH24:MI:SS'), valor FROM climalog.lectura";

// A database of version 5: its lines one a row, in month partitions (one
// of them empty), read by a view; two ports of a station, a header change
// within a minute, exact values (beyond a code, NaN), ERR, a file set aside.
// Every line's text kept in climalog.antes.
const char *const version5Lines =
    "DROP VIEW climalog.lectura, climalog.linea; DROP TABLE climalog.bloque;"
    "CREATE TABLE climalog.linea (hora timestamptz NOT NULL, puerto integer NOT NULL, fichero "
    "integer NOT NULL, juego integer NOT NULL, valores integer[] NOT NULL, exactos double "
    "precision[], PRIMARY KEY (puerto, hora)) PARTITION BY RANGE (hora);"
    "CREATE TABLE climalog.linea_202612 PARTITION OF climalog.linea FOR VALUES FROM "
    "('2026-12-01 00:00+00') TO ('2027-01-01 00:00+00');"
    "CREATE TABLE climalog.linea_203001 PARTITION OF climalog.linea FOR VALUES FROM "
    "('2030-01-01 00:00+00') TO ('2030-02-01 00:00+00');"
    "CREATE VIEW climalog.lectura AS SELECT hora FROM climalog.linea;"
    "INSERT INTO climalog.estacion (nombre, zona, rol) VALUES ('norte', 'UTC', session_user);"
    "INSERT INTO climalog.puerto (estacion, nombre) VALUES (1, '1'), (1, '2');"
    "INSERT INTO climalog.fichero (puerto, nombre, dia) VALUES (1, '07-12-2026-00.log', "
    "'2026-12-07'), (1, '07-12-2026-01.log', '2026-12-07'), (2, '07-12-2026-00.log', "
    "'2026-12-07');"
    "INSERT INTO climalog.serie (puerto, columna, ocurrencia, unidad, dispositivo, clase) VALUES "
    "(1, 'Sala (ºC)', 1, 'ºC', 'Sala', 'T'), (1, 'Caudal - b (l/min)', 1, 'l/min', 'Caudal', "
    "'b'), (2, 'Sala (ºC)', 1, 'ºC', 'Sala', 'T');"
    "INSERT INTO climalog.juego (puerto, series) VALUES (1, '{1,2}'), (1, '{1}'), (2, '{3}');"
    "INSERT INTO climalog.juego_serie SELECT s, j.id, k FROM climalog.juego j, unnest(j.series) "
    "WITH ORDINALITY u(s, k);"
    "INSERT INTO climalog.linea VALUES "
    "('2026-12-07 10:00:00+00', 1, 1, 1, ARRAY[climalog.codigo(21.5), climalog.codigo(3)], NULL),"
    "('2026-12-07 10:00:01+00', 1, 1, 1, '{NULL,NULL}', '{21.25,1e30}'),"
    "('2026-12-07 10:00:02+00', 1, 1, 1, ARRAY[NULL, climalog.codigo(-0.25)], NULL),"
    "('2026-12-07 10:00:30+00', 1, 1, 2, ARRAY[climalog.codigo(22)], NULL),"
    "('2026-12-07 10:00:59+00', 1, 1, 1, ARRAY[climalog.codigo(23), NULL], NULL),"
    "('2026-12-07 10:01:00+00', 1, -2, 2, ARRAY[climalog.codigo(24)], NULL),"
    "('2026-12-07 10:01:01+00', 1, -2, 2, '{NULL}', '{NaN}'),"
    "('2026-12-07 10:00:00+00', 2, 3, 3, ARRAY[climalog.codigo(5)], NULL),"
    "('2026-12-31 23:59:59+00', 2, 3, 3, ARRAY[climalog.codigo(6)], NULL);"
    "CREATE TABLE climalog.antes AS SELECT l::text AS texto FROM climalog.linea l;"
    "UPDATE climalog.version SET version = 5";

struct Case {
    const char *name;
    bool preparedBefore; // a set-up ran before `before`
    std::string before; // SQL run as the owner before the set-up
    bool ok;
    std::string says; // a pattern of the report's lines joined by '\n', or of the error
    std::vector<std::pair<std::string, std::string>> after; // queries and their rows
    std::string heard = ""; // the notifications `after` made: "channel:payload\n" each
};

// The pattern of a set-up's report from version `from` on: a line for each
// version up to the program's, then `then`.
std::string upFrom(int from, const std::string &then)
{
    std::string lines = "^";
    for (int v = from; v <= central::schemaVersion; ++v)
        lines += "Esquema climalog puesto en la versión " + std::to_string(v) + "\\.\\n";
    return lines + then;
}

// A connection to the tests' server.
central::Connection connected()
{
    QString error;
    central::Connection c = central::connect(QString(), "test_central", error);
    EXPECT_TRUE(c) << "The tests' server (scripts/testdb.sh) does not answer: "
                   << error.toStdString();
    return c;
}

// The notifications a connection has received since it last looked.
std::string heardOn(PGconn *c)
{
    std::string text;
    PQconsumeInput(c);
    while (PGnotify *n = PQnotifies(c)) {
        text += std::string(n->relname) + ":" + n->extra + "\n";
        PQfreemem(n);
    }
    return text;
}

// A batch of one line through the station's batch function: the file and
// progress arguments, whether it may replace a stored second, the line.
std::string batch(const std::string &file, bool replaces, const std::string &line)
{
    return "SELECT cambiadas FROM climalog.guardar(" + file + ", NULL, NULL, -1, NULL, 0, " +
        (replaces ? "true" : "false") + ", false, ARRAY[ROW(" + line + ")]::climalog.entrada[])";
}

} // namespace

TEST(Central, SetUpFromEachStartingPoint)
{
    const std::string roles =
        QRegularExpression::escape(QString::fromUtf8(rolesLine)).toStdString();
    // Another program's view of the set-up's lock: free again once the
    // set-up has ended, however it ended, while its connection stays.
    const central::Connection other = connected();
    ASSERT_TRUE(other);
    const std::string takeLock =
        "SELECT pg_try_advisory_xact_lock(" + std::to_string(central::setupLock) + ")";
    const std::string late = "1, 100, NULL, 100, 200, 2",
                      sameSecond =
                          "'2026-12-07 10:00:30+00', 2, 2, ARRAY[climalog.codigo(25)], NULL";
    const std::vector<Case> cases{
        {"empty",
         false,
         "",
         true,
         upFrom(1, "Roles climalog_estacion"),
         {// The present month's partition and the next one's.
          {"SELECT to_regclass('climalog.bloque_' || to_char(current_date, 'YYYYMM')) IS NOT NULL, "
           "to_regclass('climalog.bloque_' || to_char(current_date + 32, 'YYYYMM')) IS NOT NULL",
           "t|t\n"},
          // Readers read the interface and not the tables; stations call
          // their functions and read no table; nobody else does either.
          {"SELECT has_table_privilege('climalog_lectura', 'climalog.resumen', 'SELECT'), "
           "has_table_privilege('climalog_lectura', 'climalog.linea', 'SELECT'), "
           "has_table_privilege('climalog_estacion', 'climalog.linea', 'SELECT'), "
           "has_function_privilege('climalog_estacion', 'climalog.alta_estacion(text, text)', "
           "'EXECUTE'), "
           "has_function_privilege('climalog_lectura', 'climalog.alta_estacion(text, text)', "
           "'EXECUTE'), "
           "has_function_privilege('public', 'climalog.tramo(integer[], timestamptz, timestamptz, "
           "integer)', 'EXECUTE')",
           "t|f|f|t|f|f\n"},
          // A new station takes the zone UTC unless given one.
          {"INSERT INTO climalog.estacion (nombre) VALUES ('sur') RETURNING zona", "UTC\n"},
          {"SELECT climalog.dia_de('07-12-2026-00.log'), climalog.dia_de('31-02-2026-00.log'), "
           "climalog.dia_de('07-12-2026-0.log')",
           "2026-12-07|NULL|NULL\n"},
          // The month of a file of its first day, and a range ending on one.
          {"SELECT climalog.crear_meses('2031-04-01', '2031-04-01'), "
           "climalog.crear_meses('2031-05-20', '2031-07-01'), "
           "to_regclass('climalog.bloque_203104') IS NOT NULL, "
           "to_regclass('climalog.bloque_203107') "
           "IS NOT NULL",
           "1|3|t|t\n"}}},
        // Run again: nothing of the schema is made twice, its rows stay.
        {"twice",
         true,
         oneLine,
         true,
         "^" + roles + "$",
         {{lineRead, "norte|07-12-2026-00.log|Sala (ºC)|10:00:00|21.5\n"}}},
        // What version 2 changed, in its version-1 form, under rows of
        // version 1: brought to version 2 with every row kept.
        {"version 1",
         true,
         (std::string(oneLine) + noAlarms +
          "DROP FUNCTION climalog.guardar(integer, bigint, bigint, bigint, bigint, bigint, bigint, "
          "bigint, bigint, bytea, bigint, "
          "boolean, boolean, climalog.entrada[]);"
          "DROP FUNCTION climalog.resumen_de(climalog.entrada[]), "
          "climalog.lecturas_de(climalog.entrada[]), climalog.fundir(integer, integer, "
          "timestamptz[], climalog.entrada[], boolean), "
          "climalog.lineas_de_filas(climalog.fila[]);"
          "DROP TYPE climalog.entrada; DROP FUNCTION climalog.valor_de(integer), "
          "climalog.es_propietario(), "
          "climalog.ultimas(integer, integer[]);"
          "ALTER TABLE climalog.estacion ALTER COLUMN zona DROP DEFAULT;"
          "CREATE FUNCTION climalog.guardar(integer, bigint, bigint, bigint, bigint, bigint, "
          "bigint, bigint, bytea, bigint, boolean) "
          "RETURNS bigint LANGUAGE sql AS 'SELECT 0::bigint';"
          "UPDATE climalog.version SET version = 1"),
         true,
         upFrom(2, roles + "$"),
         {{lineRead, "norte|07-12-2026-00.log|Sala (ºC)|10:00:00|21.5\n"},
          // Version 1's batch function gone, version 2's in its place.
          {"SELECT count(*) FROM pg_proc WHERE proname = 'guardar' AND pronamespace = "
           "'climalog'::regnamespace",
           "1\n"},
          {"SELECT climalog.valor_de(climalog.codigo(-0.25))", "-0.25\n"},
          {"INSERT INTO climalog.estacion (nombre) VALUES ('sur') RETURNING zona", "UTC\n"}}},
        // Version 2: its batch's rollups read the lines' values through a
        // query that decoded each value once per figure, and its summary
        // gave no series' class. Brought to version 3, the batch's readings
        // come decoded once, each with its header, minute and place (an
        // exact line's own values as they are), and the summary gives the class.
        {"version 2",
         true,
         std::string(oneLine) + noAlarms +
             "DROP FUNCTION climalog.lecturas_de(climalog.entrada[]);"
             "ALTER VIEW climalog.resumen RENAME TO resumen_nuevo;"
             "CREATE VIEW climalog.resumen AS SELECT estacion, zona, puerto, serie, columna, "
             "unidad, orden, hora, valor, dispositivo, "
             "tipo, alarma_min, alarma_max, vigilada, periodo FROM climalog.resumen_nuevo;"
             "UPDATE climalog.version SET version = 2",
         true,
         upFrom(3, roles + "$"),
         {{"SELECT estacion, columna, orden, clase FROM climalog.resumen", "norte|Sala (ºC)|1|T\n"},
          {lineRead, "norte|07-12-2026-00.log|Sala (ºC)|10:00:00|21.5\n"},
          {"SELECT juego, to_timestamp(minuto * 60) AT TIME ZONE 'UTC', k, v FROM "
           "climalog.lecturas_de(ARRAY["
           "ROW('2026-12-07 10:00:59+00', 7, 1, ARRAY[climalog.codigo(21.5), NULL, "
           "climalog.codigo(-0.25)], NULL),"
           "ROW('2026-12-07 10:01:00+00', 7, 2, ARRAY[NULL, climalog.codigo(1e22), NULL], "
           "'{NaN,1e30,NULL}'),"
           "ROW('2026-12-07 10:01:01+00', 8, 3, ARRAY[climalog.codigo(123456e-22)], "
           "NULL)]::climalog.entrada[])",
           "7|2026-12-07 10:00:00|1|21.5\n7|2026-12-07 10:00:00|2|NULL\n7|2026-12-07 "
           "10:00:00|3|-0.25\n"
           "7|2026-12-07 10:01:00|1|NaN\n7|2026-12-07 10:01:00|2|1e+30\n7|2026-12-07 "
           "10:01:00|3|NULL\n"
           "8|2026-12-07 10:01:00|1|1.23456e-17\n"}}},
        // Version 3: no alarms, and a station's batch that told nobody of
        // its lines. Brought to version 4, every line kept, the batch tells
        // the alarm program its port once per batch.
        {"version 3",
         true,
         std::string(oneLine) + "UPDATE climalog.estacion SET rol = session_user;" + noAlarms +
             "DO $$ BEGIN EXECUTE replace(pg_get_functiondef('climalog.guardar(integer, bigint, "
             "bigint, bigint, bigint, bigint, bigint, bigint, bigint, bytea, bigint, boolean, "
             "boolean, climalog.entrada[])'::regprocedure), 'PERFORM pg_notify', '-- '); END $$;"
             "UPDATE climalog.version SET version = 3",
         true,
         upFrom(4, roles + "$"),
         {{lineRead, "norte|07-12-2026-00.log|Sala (ºC)|10:00:00|21.5\n"},
          {"SELECT count(*) FROM climalog.aviso, climalog.salida, climalog.avisos_puerto", "0\n"},
          {"LISTEN climalog_lineas", ""},
          // One line of 22 at 10:00:01, stored by the station's own role.
          {batch("(SELECT id FROM climalog.fichero), 0, NULL, 0, 100, 1", false,
                 "'2026-12-07 10:00:01+00', (SELECT id FROM climalog.juego), 1, "
                 "ARRAY[climalog.codigo(22)], NULL"),
           "0\n"}},
         "climalog_lineas:1\n"},
        // Version 4: no reports sent, no attachments. Brought to version 5,
        // the messages kept and the alarm program may record a report.
        {"version 4",
         true,
         "INSERT INTO climalog.envio (destinatario, canal, direccion, asunto, cuerpo) VALUES "
         "('ana', 'correo', 'ana@example.org', 'a', 'b');"
         "DROP TABLE climalog.informe_enviado; ALTER TABLE climalog.envio DROP CONSTRAINT "
         "envio_adjunto, DROP COLUMN adjunto, DROP COLUMN adjunto_nombre, DROP COLUMN "
         "adjunto_tipo; UPDATE climalog.version SET version = 4",
         true,
         upFrom(5, roles + "$"),
         {{"SELECT asunto, adjunto IS NULL FROM climalog.envio", "a|t\n"},
          {"SELECT has_table_privilege('climalog_avisos', 'climalog.informe_enviado', 'INSERT'), "
           "has_table_privilege('climalog_lectura', 'climalog.informe_enviado', 'SELECT')",
           "t|f\n"}}},
        // Version 5: a line a row. Brought to version 6, every line the
        // same, kept a minute, file and header to a row; the month
        // partitions as they were; the station's batch merging into them.
        {"version 5",
         true,
         version5Lines,
         true,
         upFrom(6, roles + "$"),
         {{"SELECT count(*) FROM climalog.antes", "9\n"},
          {"SELECT texto FROM climalog.antes EXCEPT ALL SELECT l::text FROM climalog.linea l", ""},
          {"SELECT l::text FROM climalog.linea l EXCEPT ALL SELECT texto FROM climalog.antes", ""},
          {"SELECT puerto, to_char(inicio AT TIME ZONE 'UTC', 'DD HH24:MI'), fichero, juego, "
           "segundos, exactos IS NOT NULL FROM climalog.bloque ORDER BY 1, 2, 3, 4",
           "1|07 10:00|1|1|{0,1,2,59}|t\n1|07 10:00|1|2|{30}|f\n1|07 10:01|-2|2|{0,1}|t\n"
           "2|07 10:00|3|3|{0}|f\n2|31 23:59|3|3|{59}|f\n"},
          {"SELECT to_regclass('climalog.linea_202612') IS NULL, "
           "to_regclass('climalog.bloque_203001') IS NOT NULL, relkind FROM pg_class WHERE oid = "
           "'climalog.linea'::regclass",
           "t|t|v\n"},
          {"SELECT serie, to_char(hora AT TIME ZONE 'UTC', 'MI:SS'), valor FROM "
           "climalog.lecturas(ARRAY[1, 2], '2026-12-07 10:00+00', '2026-12-07 10:02+00')",
           "1|00:00|21.5\n2|00:00|3\n1|00:01|21.25\n2|00:01|1e+30\n1|00:02|NULL\n2|00:02|-0.25\n"
           "1|00:30|22\n1|00:59|23\n2|00:59|NULL\n1|01:00|24\n1|01:01|NaN\n"},
          {batch("1, 0, NULL, 0, 100, 1", false,
                 "'2026-12-07 10:00:03+00', 1, 1, ARRAY[climalog.codigo(20), NULL], NULL"),
           "0\n"},
          {"SELECT segundos FROM climalog.bloque WHERE juego = 1", "{0,1,2,3,59}\n"},
          // A stored second again: refused unless the batch replaces it.
          {batch(late, false, sameSecond), "!23505"},
          {batch(late, true, sameSecond), "1\n"},
          {"SELECT count(*), sum(cardinality(segundos)) FROM climalog.bloque", "5|10\n"}}},
        {"newer",
         true,
         "UPDATE climalog.version SET version = 10",
         false,
         "^El esquema climalog es de la versión 10, más nueva que la 9 de este programa$",
         {{"SELECT version FROM climalog.version", "10\n"}}},
        // A set-up that cannot finish leaves nothing of what it made.
        {"cannot finish",
         false,
         "CREATE SCHEMA climalog; CREATE TABLE climalog.estacion (x integer)",
         false,
         "^No se puede poner el esquema climalog en la versión 1: .*estacion",
         {{"SELECT to_regclass('climalog.version') IS NULL, to_regclass('climalog.puerto') IS NULL",
           "t|t\n"},
          {"SELECT count(*) FROM pg_proc WHERE pronamespace = 'climalog'::regnamespace", "0\n"}}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const central::Connection conn = connected();
        ASSERT_TRUE(conn);
        PQclear(PQexec(conn.get(), "DROP SCHEMA IF EXISTS climalog CASCADE"));
        QStringList report;
        QString error;
        if (c.preparedBefore) {
            ASSERT_TRUE(central::prepare(conn.get(), report, error)) << error.toStdString();
        }
        const std::string before = rowsOn(conn.get(), c.before);
        ASSERT_FALSE(before.starts_with('!')) << before;
        report.clear();
        error.clear();
        EXPECT_EQ(central::prepare(conn.get(), report, error), c.ok) << error.toStdString();
        EXPECT_EQ(rowsOn(other.get(), takeLock), "t\n");
        const QString said = c.ok ? report.join(u'\n') : error;
        EXPECT_TRUE(said.contains(QRegularExpression(QString::fromStdString(c.says))))
            << said.toStdString();
        if (c.ok) {
            EXPECT_EQ(rowsOn(conn.get(), "SELECT version FROM climalog.version"), "9\n");
        }
        for (const auto &[sql, rows] : c.after)
            EXPECT_EQ(rowsOn(conn.get(), sql), rows) << sql;
        EXPECT_EQ(heardOn(conn.get()), c.heard);
    }
}

// The alarms as each role meets them: the page's role reads the view and
// acknowledges or silences through the two functions only, once, within
// their bounds, each call telling the alarm program; a station sees no
// alarm; the alarm program writes its tables. A caller's own temporary
// table named like the alarms' does not change what the functions do.
TEST(Central, AlarmsAsEachRoleMayUseThem)
{
    const central::Connection conn = connected();
    ASSERT_TRUE(conn);
    PGconn *c = conn.get();
    PQclear(PQexec(c, "DROP SCHEMA IF EXISTS climalog CASCADE"));
    QStringList report;
    QString error;
    ASSERT_TRUE(central::prepare(c, report, error)) << error.toStdString();
    ASSERT_EQ(rowsOn(c,
                     std::string(oneLine) +
                         "INSERT INTO climalog.aviso (puerto, serie, condicion, regla, inicio, "
                         "extremo, limite) SELECT puerto, id, 'alto', 'salas', "
                         "'2026-12-07 10:00:00+00', 23.5, 22 FROM climalog.serie;"
                         "INSERT INTO climalog.aviso (puerto, condicion, regla, inicio, fin) "
                         "SELECT id, 'parada', 'salas', '2026-12-07 09:00:00+00', "
                         "'2026-12-07 09:30:00+00' FROM climalog.puerto;"
                         "LISTEN climalog_avisos"),
              "");
    // What each role does in order, the rows it gets and what the alarm
    // program hears of it.
    struct Step {
        const char *sql, *rows, *heard = "";
    };
    const std::pair<const char *, std::vector<Step>> byRole[] = {
        {"climalog_lectura",
         {{"SELECT id, estacion, puerto, columna, unidad, condicion, extremo, limite, fin IS NULL "
           "FROM climalog.avisos ORDER BY id",
           "1|norte|1|Sala (ºC)|ºC|alto|23.5|22|t\n2|norte|1|NULL|NULL|parada|NULL|NULL|f\n"},
          {"SELECT count(*) FROM climalog.aviso", "!42501"},
          {"INSERT INTO climalog.salida (aviso, suceso, instante, destinatario, canal, direccion) "
           "VALUES (1, 'alta', now(), 'ana', 'correo', 'ana@example.org')",
           "!42501"},
          {"SELECT climalog.reconocer(1, '', 'visto')", "!22023"},
          {"SELECT climalog.reconocer(1, NULL, 'visto')", "!22023"},
          {"SELECT climalog.reconocer(1, 'ana', repeat('x', 2001))", "!22023"},
          {"SELECT climalog.reconocer(99, 'ana', 'visto')", "f\n"},
          // The caller's own table of that name is not the one acknowledged.
          {"CREATE TEMP TABLE aviso (id bigint, reconocido timestamptz, reconocido_por text, "
           "comentario text, fin timestamptz, silenciado_por text, silenciado_hasta "
           "timestamptz);INSERT INTO aviso (id) VALUES (1), (2)",
           ""},
          {"SELECT climalog.reconocer(1, 'ana', repeat('x', 2000))", "t\n", "climalog_avisos:1\n"},
          {"SELECT climalog.reconocer(1, 'eva', 'otra vez')", "f\n"},
          {"SELECT climalog.reconocer(2, 'eva', NULL)", "t\n", "climalog_avisos:2\n"},
          {"SELECT id, reconocido_por, length(comentario), reconocido IS NOT NULL FROM "
           "climalog.avisos ORDER BY id",
           "1|ana|2000|t\n2|eva|NULL|t\n"},
          {"SELECT count(*) FROM aviso WHERE reconocido IS NULL", "2\n"},
          {"SELECT climalog.silenciar(1, 'ana', 0)", "!22023"},
          {"SELECT climalog.silenciar(1, 'ana', 10081)", "!22023"},
          {"SELECT climalog.silenciar(1, '', 60)", "!22023"},
          {"SELECT climalog.silenciar(2, 'ana', 60)", "f\n"}, // ended
          {"SELECT climalog.silenciar(1, 'ana', 10080)", "t\n", "climalog_avisos:1\n"},
          {"SELECT silenciado_por, silenciado_hasta - now() BETWEEN interval '6 days 23:59' AND "
           "interval '7 days' FROM climalog.avisos WHERE id = 1",
           "ana|t\n"},
          // Nor the caller's own function of a name they call.
          {"CREATE FUNCTION pg_temp.length(text) RETURNS integer LANGUAGE sql AS 'SELECT 0'", ""},
          {"SELECT climalog.reconocer(1, 'eva', repeat('x', 2001))", "!22023"},
          {"DROP TABLE aviso; DROP FUNCTION pg_temp.length(text)", ""}}},
        {"climalog_estacion",
         {{"SELECT count(*) FROM climalog.aviso", "!42501"},
          {"SELECT count(*) FROM climalog.avisos", "!42501"},
          {"SELECT climalog.reconocer(1, 'ana', NULL)", "!42501"}}},
        {"climalog_avisos",
         {{"INSERT INTO climalog.salida (aviso, suceso, instante, destinatario, canal, direccion) "
           "VALUES (1, 'alta', now(), 'ana', 'correo', 'ana@example.org') RETURNING id",
           "1\n"},
          {"INSERT INTO climalog.avisos_puerto (puerto, hasta) VALUES (1, now()) RETURNING puerto",
           "1\n"},
          {"UPDATE climalog.aviso SET fin = '2026-12-07 11:00:00+00' WHERE id = 1 RETURNING id",
           "1\n"},
          {"SELECT d.alarma_max IS NULL, count(*) FROM climalog.dispositivo d, climalog.resumen r "
           "GROUP BY 1",
           ""},
          {"SELECT count(*) FROM climalog.lecturas(ARRAY[1], '-infinity', 'infinity')", "1\n"},
          {"DELETE FROM climalog.aviso", "!42501"}}},
    };
    for (const auto &[role, steps] : byRole)
        for (const Step &k : steps) {
            SCOPED_TRACE(k.sql);
            ASSERT_EQ(rowsOn(c, std::string("SET ROLE ") + role), "");
            EXPECT_EQ(rowsOn(c, k.sql), k.rows);
            EXPECT_EQ(rowsOn(c, "RESET ROLE"), "");
            EXPECT_EQ(heardOn(c), k.heard);
        }
}

// What a statement gives back, through the layer both programs use: its
// rows, NULL and empty texts told apart, a binary last parameter whole, the
// server's code when it fails, a failed transaction ended, and a connection
// the server dropped known as lost.
TEST(Central, StatementsSayWhatTheyDid)
{
    const central::Connection conn = connected(), other = connected();
    ASSERT_TRUE(conn && other);
    PGconn *c = conn.get();
    const struct {
        const char *sql;
        central::Params params;
        bool ok;
        const char *rows;
    } cases[] = {
        {"SELECT 1, NULL::text", {}, true, "1|NULL\n"},
        {"SELECT $1::integer + 1", {{"41"}}, true, "42\n"},
        {"SELECT $1::text IS NULL, length($2::text)",
         {{QByteArray(), QByteArray("")}},
         true,
         "t|0\n"},
        {"SELECT $1::text, length($2::bytea), $2::bytea",
         {{QByteArray("x"), QByteArray("\0\1\0", 3)}, true},
         true,
         "x|3|\\x000100\n"},
        {"CREATE TEMP TABLE t (x integer)", {}, true, ""},
        {"SELECT 1 / 0", {}, false, "!22012"},
        {"SELEC 1", {}, false, "!42601"},
    };
    for (const auto &k : cases) {
        SCOPED_TRACE(k.sql);
        const central::Result r = central::exec(c, k.sql, k.params);
        EXPECT_EQ(r.ok(), k.ok);
        EXPECT_EQ(rowsOf(r), k.rows);
    }

    // A failed statement in a transaction: ended, nothing of it kept.
    EXPECT_TRUE(central::exec(c, "BEGIN; INSERT INTO t VALUES (1)").ok());
    EXPECT_FALSE(central::exec(c, "INSERT INTO t VALUES (1 / 0)").ok());
    central::rollBack(c);
    EXPECT_EQ(PQtransactionStatus(c), PQTRANS_IDLE);
    EXPECT_EQ(rowsOn(c, "SELECT count(*) FROM t"), "0\n");
    central::rollBack(c); // none open: nothing to end
    EXPECT_EQ(PQtransactionStatus(c), PQTRANS_IDLE);
    // One still sound, left by a caller whose check of a result failed:
    // ended all the same.
    EXPECT_TRUE(central::exec(c, "BEGIN; INSERT INTO t VALUES (2)").ok());
    central::rollBack(c);
    EXPECT_EQ(PQtransactionStatus(c), PQTRANS_IDLE);
    EXPECT_EQ(rowsOn(c, "SELECT count(*) FROM t"), "0\n");

    // Lost: a connection the server ended, or any code of class 08; not
    // another failure on a sound connection.
    const std::pair<const char *, bool> codes[] = {
        {"", false},     {"22012", false}, {"40001", false}, {"57014", false}, {"80000", false},
        {"08000", true}, {"08001", true},  {"08003", true},  {"08006", true},  {"08P01", true},
    };
    for (const auto &[code, gone] : codes)
        EXPECT_EQ(central::lost(c, code), gone) << code;
    EXPECT_TRUE(central::lost(nullptr));
    EXPECT_EQ(
        rowsOn(other.get(), "SELECT pg_terminate_backend(" + std::to_string(PQbackendPID(c)) + ")"),
        "t\n");
    EXPECT_FALSE(central::exec(c, "SELECT 1").ok());
    EXPECT_TRUE(central::lost(c));
}
