#include "archive/database.h"

#include "archive/copystream.h"
#include "archive/rows.h"
#include "archive/valuecode.h"
#include "central/query.h"
#include "registry/general.h"

#include <cmath>
#include <limits>

namespace {

// Batches of fewer lines go as lines: a file followed adds to minutes
// stored already.
constexpr std::size_t rowsFrom = 60;

QByteArray number(qint64 v) { return QByteArray::number(v); }
QByteArray hashText(std::uint64_t h) { return number(static_cast<qint64>(h)); }

// An array literal of texts; a null QString is NULL.
QByteArray textArray(const QStringList &items)
{
    QByteArray out = "{";
    for (qsizetype i = 0; i < items.size(); ++i) {
        if (i)
            out += ',';
        if (items[i].isNull()) {
            out += "NULL";
            continue;
        }
        QByteArray item = items[i].toUtf8();
        item.replace('\\', "\\\\").replace('"', "\\\"");
        out += '"' + item + '"';
    }
    return out + '}';
}

QByteArray numberArray(const std::vector<double> &items)
{
    QByteArray out = "{";
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i)
            out += ',';
        const double v = items[i];
        out += std::isnan(v) ? QByteArray("NaN")
            : std::isinf(v)  ? QByteArray(v < 0 ? "-Infinity" : "Infinity")
                             : QByteArray::number(v, 'g', 9);
    }
    return out + '}';
}

// The class of a column: T, H, the channel's letter or the input's digit.
QString columnClass(const Column &c) { return QString(QLatin1Char(c.tag)); }

} // namespace

namespace archive {

void Store::close()
{
    sent_.reset();
    conn_.reset();
    ports_.clear();
    station_ = 0;
}

bool Store::connected() const { return !central::lost(conn_.get()); }

void Store::fail(const QString &what)
{
    reason_ = conn_ ? central::masked(central::serverText(conn_.get()), conninfo_) : QString();
    error_ = conn_ ? what + QStringLiteral(": ") + reason_ : what;
    if (central::lost(conn_.get())) {
        failure_ = Failure::Connection;
        close();
        return;
    }
    central::rollBack(conn_.get());
}

Store::Failure Store::classify(const QByteArray &state, bool anyIntegrity) const
{
    if (central::lost(conn_.get(), state))
        return Failure::Connection;
    if (state == "CLA01")
        return Failure::Moved;
    return state.startsWith("22") || state == "23505" || (anyIntegrity && state.startsWith("23"))
        ? Failure::Refused
        : Failure::Other;
}

bool Store::exec(const char *sql)
{
    const central::Result r = central::exec(conn_.get(), sql);
    if (!r.ok())
        failure_ = classify(r.state(), true);
    return r.ok();
}

bool Store::call(const char *sql, const std::vector<QByteArray> &params, int &result)
{
    const central::Result r = central::exec(conn_.get(), sql, central::Params{params});
    if (r.ok() && r.rows() == 1) {
        result = r.field(0, 0).toInt();
        return true;
    }
    failure_ = classify(r.state(), false);
    return false;
}

bool Store::connect(const QString &conninfo, const QString &station, const QString &zone)
{
    close();
    conninfo_ = conninfo;
    failure_ = Failure::Connection;
    conn_ = central::connect(conninfo, "climalog-archivo", error_);
    if (!conn_)
        return false;
    failure_ = Failure::Other;
    if (const QString problem = central::schemaProblem(conn_.get()); !problem.isEmpty()) {
        error_ = problem;
        close();
        return false;
    }
    if (!call("SELECT climalog.alta_estacion($1, $2)", {station.toUtf8(), zone.toUtf8()},
              station_)) {
        fail(QStringLiteral("No se puede dar de alta la estación %1").arg(station));
        close();
        return false;
    }
    // A batch goes to climalog.guardar as an array of climalog.entrada, or
    // to climalog.guardar_filas as arrays of climalog.fila and
    // climalog.cifras: arrays that name their element type by number.
    const central::Result type =
        central::exec(conn_.get(),
                      "SELECT 'climalog.entrada'::regtype::oid, "
                      "'climalog.fila'::regtype::oid, 'climalog.cifras'::regtype::oid");
    if (!type.ok() || type.rows() != 1) {
        fail(QStringLiteral("No se pueden leer los tipos de los lotes"));
        close();
        return false;
    }
    entryType_ = static_cast<std::uint32_t>(type.field(0, 0).toULong());
    rowType_ = static_cast<std::uint32_t>(type.field(0, 1).toULong());
    figuresType_ = static_cast<std::uint32_t>(type.field(0, 2).toULong());
    failure_ = Failure::None;
    return true;
}

bool Store::loadProgress(std::map<FileKey, Progress> &out, std::map<FileKey, int> &ids)
{
    out.clear();
    ids.clear();
    const central::Result r =
        central::exec(conn_.get(),
                      "SELECT puerto, fichero, id, posicion, lineas, huella, muestra, cabecera, "
                      "encode(estado, 'hex'), por_clave_hasta FROM climalog.progreso_de($1)",
                      central::Params{{number(station_)}});
    if (!r.ok()) {
        fail(QStringLiteral("No se puede leer el progreso del archivo"));
        return false;
    }
    const auto field = [&](int i, int f) { return r.field(i, f); };
    for (int i = 0; i < r.rows(); ++i) {
        const FileKey key{QString::fromUtf8(field(i, 0)), QString::fromUtf8(field(i, 1))};
        Progress p;
        p.at = {field(i, 3).toLongLong(), field(i, 4).toLongLong(),
                static_cast<std::uint64_t>(field(i, 5).toLongLong()), field(i, 7).toLongLong()};
        p.hashKnown = !r.isNull(i, 5);
        p.sample = static_cast<std::uint64_t>(field(i, 6).toLongLong());
        p.state = QByteArray::fromHex(field(i, 8));
        p.byKeyUntil = field(i, 9).toLongLong();
        out[key] = p;
        ids[key] = field(i, 2).toInt();
    }
    return true;
}

int Store::port(const QString &name)
{
    int &id = ports_[name];
    if (!id && !call("SELECT climalog.alta_puerto($1, $2)", {number(station_), name.toUtf8()}, id))
        fail(QStringLiteral("No se puede dar de alta el puerto %1").arg(name));
    return id;
}

int Store::file(int port, const QString &name)
{
    int id = 0;
    if (!call("SELECT climalog.alta_fichero($1, $2)", {number(port), name.toUtf8()}, id))
        fail(QStringLiteral("No se puede dar de alta el fichero %1").arg(name));
    return id;
}

int Store::header(int port, const std::vector<Column> &columns)
{
    QStringList names, units, devices, classes;
    for (const Column &c : columns) {
        // A text parameter ends at a zero byte: such a name would be cut.
        if (c.name.contains(QChar(0))) {
            failure_ = Failure::Refused;
            error_ = reason_ = QStringLiteral("un nombre de columna tiene un byte nulo");
            return 0;
        }
        names << c.name;
        units << (c.kind == Kind::Input ? QString()
                      : c.unit.isNull() ? QStringLiteral("")
                                        : c.unit);
        devices << (c.device.isNull() ? QStringLiteral("") : c.device);
        classes << columnClass(c);
    }
    int id = 0;
    if (!call("SELECT climalog.alta_juego($1, $2, $3, $4, $5)",
              {number(port), textArray(names), textArray(units), textArray(devices),
               textArray(classes)},
              id))
        fail(QStringLiteral("No se puede dar de alta la cabecera"));
    return id;
}

namespace {

const char *const linesCall =
    "SELECT cambiadas, borradas FROM climalog.guardar($1, $2, $3, $4, $5, "
    "$6, $7, $8, $9, $10, $11, $12, $13, $14)";
const char *const rowsCall = "SELECT climalog.guardar_filas($1, $2, $3, $4, $5, $6, $7, $8, $9, "
                             "$10, $11, $12)";

QByteArray stateOf(const central::Result &r)
{
    return r.ok() ? QByteArray() : r.state().isEmpty() ? QByteArray("?") : r.state();
}

// The readings climalog.guardar changed and the lines it dropped; the
// SQLSTATE of a failure.
QByteArray counted(const central::Result &r, qint64 &changed, qint64 &dropped)
{
    if (r.ok() && r.rows() == 1) {
        changed = r.field(0, 0).toLongLong();
        dropped = r.field(0, 1).toLongLong();
    }
    return stateOf(r);
}

} // namespace

QString Store::fileOf(const Lines &s) { return s.batch->key.first + u'/' + s.batch->key.second; }

void Store::failStoring(const Lines &s)
{
    fail(QStringLiteral("No se pueden guardar las lecturas de %1").arg(fileOf(s)));
}

std::vector<QByteArray> Store::moved(const Lines &s, std::vector<QByteArray> tail,
                                     bool withStart) const
{
    const Batch &b = *s.batch;
    const Progress &before = *s.before, &after = *s.after;
    // A batch that starts before the stored progress reads the file again
    // from its start.
    const qint64 from = s.from == 0 ? b.start : before.at.offset;
    std::vector<QByteArray> p{number(s.file), number(before.at.offset),
                              before.hashKnown ? hashText(before.at.hash) : QByteArray()};
    if (withStart)
        p.push_back(number(from));
    for (QByteArray v : {number(after.at.offset), number(after.at.lines), hashText(after.at.hash),
                         hashText(after.sample), number(after.at.header),
                         after.state.isEmpty() ? QByteArray() : "\\x" + after.state.toHex(),
                         number(after.byKeyUntil)})
        p.push_back(std::move(v));
    for (QByteArray &v : tail)
        p.push_back(std::move(v));
    return p;
}

// The lines as one binary array argument of climalog.guardar: the server
// works out their minutes and hours itself; `replace`: stored lines of the
// same seconds are replaced.
central::Params Store::linesParams(const Lines &s, bool replace) const
{
    const Batch &b = *s.batch;
    CopyStream lines = CopyStream::records(entryType_, s.to - s.from);
    std::vector<std::int32_t> codes;
    std::vector<std::uint8_t> nulls;
    for (std::size_t i = s.from; i < s.to; ++i) {
        const BatchLine &l = b.lines[i];
        const std::size_t count = l.count;
        const std::span<const double> values = b.valuesOf(l);
        const bool whole = lineCodes(values, b.codesOf(l), codes);
        nulls.resize(count);
        for (std::size_t k = 0; k < count; ++k)
            nulls[k] = std::isnan(values[k]);
        lines.record(5);
        lines.type(pgtype::timestamptz);
        lines.time(l.ms);
        lines.type(pgtype::int4);
        lines.int32(s.headerIds[static_cast<std::size_t>(l.set)]);
        lines.type(pgtype::int8);
        lines.int64(l.number);
        lines.type(pgtype::int4Array);
        lines.int32Array(codes, nulls);
        lines.type(pgtype::float8Array);
        whole ? lines.float64Array(values) : lines.null();
    }
    // The one whose end leaves no stored line to replace closes a reading
    // of the file again.
    const bool closes = b.byKey && s.after->byKeyUntil == 0;
    return central::Params{
        moved(s, {replace ? "true" : "false", closes ? "true" : "false", lines.finishRecords()},
              true),
        1};
}

QByteArray Store::guardar(const Lines &s, bool replace, qint64 &changed, qint64 &dropped)
{
    return counted(central::exec(conn_.get(), linesCall, linesParams(s, replace)), changed,
                   dropped);
}

Store::Prepared Store::prepare(const Lines &s) const
{
    const Batch &b = *s.batch;
    // A catch-up's batch goes as finished rows, a row a minute: the server
    // then writes rows, not readings. A few lines (a file followed) go as
    // lines, into minutes mostly stored already.
    Rows rows;
    if (!b.byKey && (s.from != 0 || b.start >= s.before->at.offset) && s.to - s.from >= rowsFrom &&
        buildRows(b, s.from, s.to, s.headerIds, s.temperatures, {rowType_, figuresType_}, rows))
        return {true, central::Params{moved(s, {rows.rows, rows.hours}, false), 2}};
    return {false, linesParams(s, b.byKey)};
}

bool Store::send(const Lines &s, Prepared p)
{
    sent_.reset();
    if (!connected()) {
        failure_ = Failure::Connection;
        error_ = QStringLiteral("No hay conexión con la base de datos");
        return false;
    }
    if (!exec("BEGIN") || (!s.batch->byKey && !exec("SAVEPOINT lote"))) {
        failStoring(s);
        return false;
    }
    if (!central::send(conn_.get(), p.rows ? rowsCall : linesCall, p.params)) {
        failure_ = classify({}, true);
        failStoring(s);
        return false;
    }
    sent_ = Sent{s, p.rows};
    return true;
}

bool Store::receive(qint64 &changed, qint64 &dropped, bool durable)
{
    changed = dropped = 0;
    if (!sent_) {
        failure_ = Failure::Other;
        error_ = QStringLiteral("No hay lote enviado");
        return false;
    }
    const Sent sent = *std::exchange(sent_, std::nullopt);
    const Lines &s = sent.lines;
    const central::Result r = central::receive(conn_.get());
    QByteArray code = sent.rows ? stateOf(r) : counted(r, changed, dropped);
    // A second stored already, or rows the server does not take: the same
    // lines go as lines, which replace it, or name the line refused.
    if (sent.rows && classify(code, true) == Failure::Refused && exec("ROLLBACK TO SAVEPOINT lote"))
        code = guardar(s, false, changed, dropped);
    // A line of a second already stored (a file copied under another name,
    // a clock set back) or twice in the batch: the later line wins.
    if (code == "23505" && !s.batch->byKey && exec("ROLLBACK TO SAVEPOINT lote"))
        code = guardar(s, true, changed, dropped);
    if (!code.isEmpty()) {
        failure_ = classify(code, true);
        if (failure_ == Failure::Moved) {
            fail(QString());
            error_ = QStringLiteral("El progreso de %1 en la base de datos no es el esperado: "
                                    "¿otro programa de archivo con el "
                                    "mismo nombre de estación?")
                         .arg(fileOf(s));
            return false;
        }
        failStoring(s);
        return false;
    }
    // A catch-up's disk writes at every batch took a sixth of its time.
    if ((!durable && !exec("SET LOCAL synchronous_commit TO off")) || !exec("COMMIT")) {
        fail(QStringLiteral("No se puede confirmar la transacción"));
        return false;
    }
    return true;
}

bool Store::storeConfiguration(int port, std::uint64_t hash, const std::vector<Dispositivo> &table,
                               bool &stored)
{
    stored = false;
    QStringList names, serials, types, actions, relays, units, periods;
    std::vector<double> mins, maxs, gains;
    const auto text = [](QString t) { return t.remove(QChar(0)); };
    for (std::size_t i = 1; i < table.size(); ++i) {
        const Dispositivo &d = table[i];
        names << text(d.nombre.trimmed());
        serials << seriehex(d.sn);
        types << QString::number(d.tipo);
        mins.push_back(d.alarma[0]);
        maxs.push_back(d.alarma[1]);
        actions << QString::number(d.salrele[0]);
        relays << seriehex(d.snrele[0]);
        for (int k = 0; k < 4; ++k) {
            units << text(d.magnitud[static_cast<std::size_t>(k)].trimmed());
            gains.push_back(d.ganancia[static_cast<std::size_t>(k)]);
        }
        periods << QString::number(d.periodo);
    }
    int result = 0;
    if (!call("SELECT climalog.guardar_configuracion($1, $2, $3, $4, $5, $6, $7, $8, $9, $10, $11, "
              "$12)::integer",
              {number(port), hashText(hash), textArray(names), textArray(serials), textArray(types),
               numberArray(mins), numberArray(maxs), textArray(actions), textArray(relays),
               textArray(units), numberArray(gains), textArray(periods)},
              result)) {
        fail(QStringLiteral("No se puede archivar la configuración del puerto"));
        return false;
    }
    stored = result != 0;
    return true;
}

} // namespace archive
