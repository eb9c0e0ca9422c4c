#include "alarms/store.h"

#include "alarms/rules.h"
#include "central/connection.h"
#include "central/names.h"
#include "central/query.h"

#include <libpq-fe.h>

#include <algorithm>

namespace alarms {

namespace {

// A port never judged before is judged from its lines of the last day: an
// archive of years would otherwise bring every old alarm back.
constexpr std::int64_t firstLook = 24 * 3600 * 1000;
// The lines judged in one transaction: a few hours of a port.
constexpr std::int64_t window = 6 * 3600 * 1000;

QByteArray num(std::int64_t v) { return QByteArray::number(static_cast<qlonglong>(v)); }
QByteArray num(std::optional<double> v)
{
    return v ? QByteArray::number(*v, 'g', 17) : QByteArray();
}
std::int64_t ms(const central::Result &r, int row, int col)
{
    return r.isNull(row, col) ? 0 : r.field(row, col).toLongLong();
}
std::optional<double> real(const central::Result &r, int row, int col)
{
    return r.isNull(row, col) ? std::nullopt : std::optional<double>(r.field(row, col).toDouble());
}

AlarmKey keyOf(const central::Result &r, int row, int col)
{
    return {r.field(row, col).toStdString(), r.field(row, col + 1).toInt(),
            r.field(row, col + 2).toInt(),
            conditionNamed(r.field(row, col + 3).toStdString()).value_or(Condition::Above),
            ms(r, row, col + 4)};
}
// The columns keyOf reads, of the alarm table `a`.
#define KEY_COLUMNS                                                                                \
    "a.regla, a.puerto, coalesce(a.serie, 0), a.condicion, (extract(epoch FROM a.inicio) * "       \
    "1000)::bigint"

std::vector<QByteArray> keyParams(const AlarmKey &k)
{
    return {QByteArray::fromStdString(k.rule), num(k.port), num(k.serie),
            conditionName(k.condition), num(k.start)};
}

} // namespace

bool Store::failed(QString &error)
{
    error = central::serverText(c_);
    central::rollBack(c_);
    return false;
}

bool Store::refreshPorts(Engine &e, QString &error)
{
    const central::Result r = central::exec(
        c_,
        "SELECT s.puerto, r.estacion, r.puerto, r.serie, r.columna, coalesce(r.tipo, ''), "
        "r.alarma_min, r.alarma_max, r.vigilada, coalesce(r.periodo, 0), "
        "(extract(epoch FROM r.hora) * 1000)::bigint "
        "FROM climalog.resumen r JOIN climalog.serie s ON s.id = r.serie ORDER BY 1, 4");
    if (!r.ok())
        return failed(error);
    std::map<int, PortDef> ports;
    series_.clear();
    latest_.clear();
    for (int i = 0; i < r.rows(); ++i) {
        const int id = r.field(i, 0).toInt();
        PortDef &p = ports[id];
        p.id = id;
        p.station = r.field(i, 1).toStdString();
        p.name = r.field(i, 2).toStdString();
        p.periodSeconds = std::max(p.periodSeconds, r.field(i, 9).toInt());
        SeriesDef s;
        s.id = r.field(i, 3).toInt();
        s.column = r.field(i, 4).toStdString();
        s.watch.deviceType = r.field(i, 5).toStdString();
        if (!r.isNull(i, 6))
            s.watch.min = r.field(i, 6).toFloat();
        if (!r.isNull(i, 7))
            s.watch.max = r.field(i, 7).toFloat();
        s.watch.watched = r.field(i, 8) == "t";
        p.series.push_back(s);
        series_[id].push_back(s.id);
        if (!r.isNull(i, 10))
            latest_[id] = std::max(latest_[id], ms(r, i, 10));
    }
    for (auto &[id, p] : ports)
        e.setPort(std::move(p));
    return true;
}

bool Store::restore(Engine &e, QString &error)
{
    if (!refreshPorts(e, error))
        return false;
    const central::Result active =
        central::exec(c_,
                      "SELECT " KEY_COLUMNS ", a.extremo, a.limite, a.reconocido IS NOT NULL, "
                      "coalesce((extract(epoch FROM a.silenciado_hasta) * 1000)::bigint, 0), "
                      "coalesce((SELECT (extract(epoch FROM max(o.instante)) * 1000)::bigint FROM "
                      "climalog.salida o WHERE o.aviso = a.id AND o.suceso = 'recordatorio'), 0), "
                      "EXISTS (SELECT 1 FROM climalog.salida o WHERE o.aviso = a.id AND o.suceso = "
                      "'escalado') FROM climalog.aviso a WHERE a.fin IS NULL");
    const central::Result progress =
        central::exec(c_,
                      "SELECT puerto, (extract(epoch FROM hasta) * 1000)::bigint, estado FROM "
                      "climalog.avisos_puerto");
    if (!active.ok() || !progress.ok())
        return failed(error);
    std::map<int, std::vector<Alarm>> alarms;
    for (int i = 0; i < active.rows(); ++i) {
        Alarm a;
        a.key = keyOf(active, i, 0);
        a.extreme = real(active, i, 5);
        a.limit = real(active, i, 6);
        a.acknowledged = active.field(i, 7) == "t";
        a.silencedUntil = ms(active, i, 8);
        a.lastReminder = ms(active, i, 9);
        a.escalated = active.field(i, 10) == "t";
        alarms[a.key.port].push_back(a);
    }
    std::map<int, std::string> states;
    judgedTo_.clear();
    for (int i = 0; i < progress.rows(); ++i) {
        const int port = progress.field(i, 0).toInt();
        judgedTo_[port] = ms(progress, i, 1);
        states[port] = progress.field(i, 2).toStdString();
    }
    for (const auto &[port, list] : alarms)
        states.try_emplace(port);
    for (const auto &[port, state] : states)
        e.restore(port, state, alarms[port]);
    return true;
}

bool Store::readLines(const std::vector<int> &series, std::int64_t after, std::int64_t upTo,
                      std::vector<Line> &lines, QString &error)
{
    QByteArray ids = "{";
    for (const int s : series)
        ids += (ids.size() > 1 ? "," : "") + num(s);
    ids += "}";
    // Lines after `after`, up to `upTo` included (ms).
    const central::Result r =
        central::exec(c_,
                      "SELECT (extract(epoch FROM hora) * 1000)::bigint, serie, valor FROM "
                      "climalog.lecturas($1::integer[], to_timestamp(($2::bigint + 1) / 1000.0), "
                      "to_timestamp(($3::bigint + 1) / 1000.0)) ORDER BY 1, 2",
                      {{ids, num(after), num(upTo)}});
    if (!r.ok())
        return failed(error);
    lines.clear();
    for (int i = 0; i < r.rows(); ++i) {
        const std::int64_t at = ms(r, i, 0);
        if (lines.empty() || lines.back().at != at)
            lines.push_back({at, {}});
        lines.back().readings.push_back({r.field(i, 1).toInt(), real(r, i, 2)});
    }
    return true;
}

bool Store::catchUp(Engine &e, std::int64_t now, QString &error)
{
    for (const auto &[port, latest] : latest_) {
        std::int64_t from = judgedTo_.count(port) ? judgedTo_[port] : now - firstLook;
        while (from < latest) {
            const std::int64_t to = std::min(latest, from + window);
            std::vector<Line> lines;
            if (!readLines(series_[port], from, to, lines, error))
                return false;
            Outcome out;
            e.judge(port, lines, out);
            if (!write(out, port, to, e.state(port), error))
                return false;
            judgedTo_[port] = from = to;
        }
    }
    return true;
}

bool Store::tick(Engine &e, std::int64_t now, QString &error)
{
    Outcome out;
    e.tick(now, out);
    return out.empty() || write(out, 0, 0, {}, error);
}

bool Store::pageChanges(Engine &e, QString &error)
{
    const central::Result page =
        central::exec(c_,
                      "SELECT " KEY_COLUMNS ", a.reconocido IS NOT NULL, "
                      "coalesce((extract(epoch FROM a.silenciado_hasta) * 1000)::bigint, 0) "
                      "FROM climalog.aviso a WHERE a.fin IS NULL");
    const central::Result acks = central::exec(
        c_,
        "SELECT " KEY_COLUMNS ", (extract(epoch FROM a.reconocido) * 1000)::bigint, a.id "
        "FROM climalog.aviso a WHERE a.reconocido IS NOT NULL AND NOT "
        "a.reconocimiento_avisado ORDER BY a.id");
    if (!page.ok() || !acks.ok())
        return failed(error);
    for (int i = 0; i < page.rows(); ++i)
        e.pageChanged(keyOf(page, i, 0), page.field(i, 5) == "t", ms(page, i, 6));
    for (int i = 0; i < acks.rows(); ++i) {
        Outcome out;
        out.notices = e.acknowledgement(keyOf(acks, i, 0), ms(acks, i, 5));
        if (!central::exec(c_, "BEGIN").ok() ||
            !central::exec(c_,
                           "UPDATE climalog.aviso SET reconocimiento_avisado = true WHERE id = "
                           "$1::bigint",
                           {{acks.field(i, 6)}})
                 .ok())
            return failed(error);
        // write() commits what this transaction holds.
        if (!write(out, 0, 0, {}, error))
            return false;
    }
    return true;
}

bool Store::write(const Outcome &out, int port, std::int64_t judgedTo, const std::string &state,
                  QString &error)
{
    if (PQtransactionStatus(c_) == PQTRANS_IDLE && !central::exec(c_, "BEGIN").ok())
        return failed(error);
    std::map<AlarmKey, QByteArray> ids;
    for (const Alarm &a : out.changed) {
        std::vector<QByteArray> p = keyParams(a.key);
        p.push_back(a.end ? num(*a.end) : QByteArray());
        p.push_back(num(a.extreme));
        p.push_back(num(a.limit));
        const central::Result r = central::exec(
            c_,
            "INSERT INTO climalog.aviso AS x (regla, puerto, serie, condicion, inicio, fin, "
            "extremo, limite) VALUES ($1, $2::integer, nullif($3::integer, 0), $4, "
            "to_timestamp($5::bigint / 1000.0), to_timestamp($6::bigint / 1000.0), "
            "$7::double precision, $8::double precision) "
            "ON CONFLICT (regla, puerto, serie, condicion, inicio) DO UPDATE "
            "SET fin = EXCLUDED.fin, extremo = EXCLUDED.extremo RETURNING x.id",
            {p});
        if (!r.ok() || r.rows() != 1)
            return failed(error);
        ids[a.key] = r.field(0, 0);
    }
    for (const Notice &n : out.notices) {
        if (!ids.count(n.alarm)) {
            const central::Result r = central::exec(
                c_,
                "SELECT id FROM climalog.aviso WHERE regla = $1 AND puerto = $2::integer AND "
                "serie IS NOT DISTINCT FROM nullif($3::integer, 0) AND condicion = $4 AND "
                "inicio = to_timestamp($5::bigint / 1000.0)",
                {keyParams(n.alarm)});
            if (!r.ok() || r.rows() != 1)
                return failed(error);
            ids[n.alarm] = r.field(0, 0);
        }
        if (!central::exec(
                 c_,
                 "INSERT INTO climalog.salida (aviso, suceso, instante, destinatario, "
                 "canal, direccion) VALUES ($1::bigint, $2, to_timestamp($3::bigint / "
                 "1000.0), $4, $5, $6)",
                 {{ids[n.alarm], eventName(n.event), num(n.at),
                   QByteArray::fromStdString(n.recipient), QByteArray::fromStdString(n.channel),
                   QByteArray::fromStdString(n.address)}})
                 .ok())
            return failed(error);
    }
    if (port &&
        !central::exec(c_,
                       "INSERT INTO climalog.avisos_puerto AS x (puerto, hasta, estado) VALUES "
                       "($1::integer, to_timestamp($2::bigint / 1000.0), $3) ON CONFLICT (puerto) "
                       "DO UPDATE SET hasta = EXCLUDED.hasta, estado = EXCLUDED.estado, "
                       "actualizado = now()",
                       {{num(port), num(judgedTo), QByteArray::fromStdString(state)}})
             .ok())
        return failed(error);
    if (!out.notices.empty() &&
        !central::exec(
             c_, (QByteArray("SELECT pg_notify('") + central::outboxChannel + "', '')").constData())
             .ok())
        return failed(error);
    if (!central::exec(c_, "COMMIT").ok())
        return failed(error);
    return true;
}

} // namespace alarms
