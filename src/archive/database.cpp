#include "archive/database.h"

#include <QDate>
#include <QDateTime>

#include <libpq-fe.h>

#include <algorithm>
#include <memory>

namespace {

// Creating the schema and partitions takes this lock, so stations starting
// together do not trip over each other's CREATE.
constexpr const char *lockSql = "SELECT pg_advisory_xact_lock(4354353746960623463)";

const char *const schema = R"sql(
CREATE SCHEMA IF NOT EXISTS climalog;
CREATE TABLE IF NOT EXISTS climalog.lectura (
    estacion text NOT NULL,
    puerto   text NOT NULL,
    fichero  text NOT NULL,
    columna  text NOT NULL,
    hora     timestamptz NOT NULL,
    valor    double precision
) PARTITION BY RANGE (hora);
CREATE INDEX IF NOT EXISTS lectura_hora ON climalog.lectura USING brin (hora);
CREATE TABLE IF NOT EXISTS climalog.progreso (
    estacion        text NOT NULL,
    puerto          text NOT NULL,
    fichero         text NOT NULL,
    posicion        bigint NOT NULL,
    por_clave_hasta bigint NOT NULL DEFAULT 0,
    actualizado     timestamptz NOT NULL DEFAULT now(),
    PRIMARY KEY (estacion, puerto, fichero)
);
)sql";

struct ResultFree {
    void operator()(PGresult *r) const { PQclear(r); }
};
using Result = std::unique_ptr<PGresult, ResultFree>;

QString serverText(pg_conn *conn) { return QString::fromUtf8(PQerrorMessage(conn)).trimmed(); }

QByteArray number(qint64 v) { return QByteArray::number(v); }

} // namespace

Database::~Database() { close(); }

const char *Database::schemaSql() { return schema; }

void Database::close()
{
    if (conn_)
        PQfinish(conn_);
    conn_ = nullptr;
    days_.clear();
}

bool Database::connected() const { return conn_ && PQstatus(conn_) == CONNECTION_OK; }

void Database::fail(const QString &what)
{
    error_ = conn_ ? what + QStringLiteral(": ") + serverText(conn_) : what;
    abandon();
}

void Database::abandon()
{
    // A transaction left open by a failure is given up; a lost connection
    // is closed, so the next look reconnects.
    if (conn_ && PQstatus(conn_) == CONNECTION_OK && PQtransactionStatus(conn_) != PQTRANS_IDLE)
        Result(PQexec(conn_, "ROLLBACK"));
    if (conn_ && PQstatus(conn_) != CONNECTION_OK)
        close();
}

bool Database::exec(const char *sql)
{
    Result r(PQexec(conn_, sql));
    const ExecStatusType s = PQresultStatus(r.get());
    return s == PGRES_COMMAND_OK || s == PGRES_TUPLES_OK;
}

bool Database::connect(const QString &conninfo)
{
    close();
    const QByteArray address = conninfo.toUtf8();
    // Defaults first: the address given overrides them. Keepalives notice a
    // server that vanished without a word within minutes, not hours.
    const char *keys[] = {"connect_timeout", "keepalives_idle", "keepalives_interval", "keepalives_count",
                          "fallback_application_name", "dbname", nullptr};
    const char *values[] = {"10", "60", "10", "6", "climalog-archivo", address.isEmpty() ? nullptr : address.constData(),
                            nullptr};
    conn_ = PQconnectdbParams(keys, values, 1);
    if (PQstatus(conn_) != CONNECTION_OK) {
        fail(QStringLiteral("No se puede conectar con la base de datos"));
        close();
        return false;
    }
    PQsetNoticeProcessor(conn_, [](void *, const char *) {}, nullptr);
    const QByteArray setup = QByteArray("SET client_encoding = 'UTF8'; BEGIN; ") + lockSql + "; " + schema +
                             "COMMIT; CREATE TEMP TABLE entrada (LIKE climalog.lectura) ON COMMIT DELETE ROWS;";
    if (!exec(setup.constData())) {
        fail(QStringLiteral("No se puede preparar el esquema climalog"));
        close();
        return false;
    }
    return true;
}

bool Database::loadProgress(const QString &station, std::map<FileKey, Progress> &out)
{
    out.clear();
    const QByteArray name = station.toUtf8();
    const char *params[] = {name.constData()};
    Result r(PQexecParams(conn_, "SELECT puerto, fichero, posicion, por_clave_hasta FROM climalog.progreso WHERE estacion = $1",
                          1, nullptr, params, nullptr, nullptr, 0));
    if (PQresultStatus(r.get()) != PGRES_TUPLES_OK) {
        fail(QStringLiteral("No se puede leer el progreso del archivo"));
        return false;
    }
    for (int i = 0; i < PQntuples(r.get()); ++i) {
        const FileKey key{QString::fromUtf8(PQgetvalue(r.get(), i, 0)), QString::fromUtf8(PQgetvalue(r.get(), i, 1))};
        out[key] = {QByteArray(PQgetvalue(r.get(), i, 2)).toLongLong(), QByteArray(PQgetvalue(r.get(), i, 3)).toLongLong()};
    }
    return true;
}

bool Database::ensureDays(const std::set<qint64> &days)
{
    for (const qint64 day : days) {
        if (days_.count(day))
            continue;
        const QDate d = QDate(1970, 1, 1).addDays(day);
        const QByteArray sql = QStringLiteral("BEGIN; %1; CREATE TABLE IF NOT EXISTS climalog.lectura_%2 PARTITION OF "
                                              "climalog.lectura FOR VALUES FROM ('%3 00:00:00+00') TO ('%4 00:00:00+00'); COMMIT;")
                                   .arg(QString::fromLatin1(lockSql), d.toString(QStringLiteral("yyyyMMdd")),
                                        d.toString(Qt::ISODate), d.addDays(1).toString(Qt::ISODate))
                                   .toUtf8();
        if (!exec(sql.constData())) {
            fail(QStringLiteral("No se puede crear la partición del día %1").arg(d.toString(QStringLiteral("dd-MM-yyyy"))));
            return false;
        }
        days_.insert(day);
    }
    return true;
}

bool Database::copy(const char *sql, const QByteArray &data)
{
    Result start(PQexec(conn_, sql));
    if (PQresultStatus(start.get()) != PGRES_COPY_IN)
        return false;
    constexpr qsizetype piece = 1 << 20;
    bool sent = true;
    for (qsizetype at = 0; sent && at < data.size(); at += piece)
        sent = PQputCopyData(conn_, data.constData() + at, static_cast<int>(std::min(piece, data.size() - at))) == 1;
    // Ending the COPY with an error message makes the server drop it all.
    if (PQputCopyEnd(conn_, sent ? nullptr : "envío interrumpido") != 1)
        return false;
    bool ok = sent;
    while (PGresult *r = PQgetResult(conn_)) {
        ok = ok && PQresultStatus(r) == PGRES_COMMAND_OK;
        PQclear(r);
    }
    return ok;
}

Database::Saved Database::saveProgress(const QString &station, const Batch &b)
{
    const QByteArray name = station.toUtf8(), port = b.key.first.toUtf8(), file = b.key.second.toUtf8();
    const QByteArray offset = number(b.after.offset), byKey = number(b.after.byKeyUntil);
    const QByteArray oldOffset = number(b.before.offset), oldByKey = number(b.before.byKeyUntil);
    const char *params[] = {name.constData(), port.constData(), file.constData(), offset.constData(),
                            byKey.constData(), oldOffset.constData(), oldByKey.constData()};
    // Only from the progress this batch was read from: with anything else in
    // the table, these lines may be there already.
    Result r(PQexecParams(conn_,
                          "INSERT INTO climalog.progreso AS p (estacion, puerto, fichero, posicion, por_clave_hasta) "
                          "VALUES ($1, $2, $3, $4, $5) "
                          "ON CONFLICT (estacion, puerto, fichero) DO UPDATE SET posicion = EXCLUDED.posicion, "
                          "por_clave_hasta = EXCLUDED.por_clave_hasta, actualizado = now() "
                          "WHERE p.posicion = $6 AND p.por_clave_hasta = $7",
                          7, nullptr, params, nullptr, nullptr, 0));
    if (PQresultStatus(r.get()) != PGRES_COMMAND_OK)
        return Saved::No;
    return QByteArray(PQcmdTuples(r.get())) == "1" ? Saved::Yes : Saved::Moved;
}

bool Database::storeReadings(Batch &batch)
{
    if (batch.rows.rows() == 0)
        return true;
    const QByteArray &data = batch.rows.finish();
    if (!batch.byKey)
        return copy("COPY climalog.lectura (estacion, puerto, fichero, columna, hora, valor) FROM STDIN (FORMAT binary)", data);
    // A file read again: only the readings whose key is not there yet; the
    // batch's time range keeps the look-up to its own days.
    return copy("COPY entrada (estacion, puerto, fichero, columna, hora, valor) FROM STDIN (FORMAT binary)", data) &&
           exec("INSERT INTO climalog.lectura SELECT e.* FROM entrada e WHERE NOT EXISTS ("
                "SELECT 1 FROM climalog.lectura l WHERE l.estacion = e.estacion AND l.columna = e.columna AND "
                "l.hora = e.hora AND l.puerto = e.puerto AND l.fichero = e.fichero "
                "AND l.hora BETWEEN (SELECT min(hora) FROM entrada) AND (SELECT max(hora) FROM entrada))");
}

bool Database::store(const QString &station, Batch &batch)
{
    const QString file = batch.key.first + u'/' + batch.key.second;
    if (!connected()) {
        error_ = QStringLiteral("No hay conexión con la base de datos");
        return false;
    }
    if (!ensureDays(batch.days))
        return false;
    if (!exec("BEGIN")) {
        fail(QStringLiteral("No se puede empezar la transacción"));
        return false;
    }
    if (!storeReadings(batch)) {
        fail(QStringLiteral("No se pueden guardar las lecturas de %1").arg(file));
        return false;
    }
    switch (saveProgress(station, batch)) {
    case Saved::Yes:
        break;
    case Saved::No:
        fail(QStringLiteral("No se puede guardar el progreso de %1").arg(file));
        return false;
    case Saved::Moved:
        abandon();
        error_ = QStringLiteral("El progreso de %1 en la base de datos no es el esperado: ¿otro programa de archivo con el "
                                "nombre de estación %2?")
                     .arg(file, station);
        return false;
    }
    if (!exec("COMMIT")) {
        fail(QStringLiteral("No se puede confirmar la transacción"));
        return false;
    }
    return true;
}
