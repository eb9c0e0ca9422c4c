// The alarms' side of the web program's database: the page's reads of the
// alarms view, and its two writes through the schema's functions, which are
// all the web's role may do besides reading.
#include "web/database.h"

#include "central/connection.h"
#include "web/pgvalues.h"

#include <QDateTime>

namespace {

using web::number;
using web::text;

constexpr const char *alarmsView = "climalog.avisos";

std::string alarmColumns()
{
    return std::string("SELECT id, estacion, zona, puerto, columna, unidad, condicion, regla,"
                       " (extract(epoch FROM inicio) * 1000)::bigint,"
                       " (extract(epoch FROM fin) * 1000)::bigint, extremo, limite,"
                       " reconocido_por, (extract(epoch FROM reconocido) * 1000)::bigint,"
                       " comentario, silenciado_por,"
                       " (extract(epoch FROM silenciado_hasta) * 1000)::bigint,"
                       " (extract(epoch FROM now()) * 1000)::bigint FROM ") +
        alarmsView;
}

// Active first (newest first), then those ended in the last day or still
// waiting for someone to acknowledge them, the latest ended first.
const std::string currentSql = alarmColumns() +
    " WHERE fin IS NULL OR fin > now() - interval '1 day' OR reconocido IS NULL"
    " ORDER BY fin IS NOT NULL, fin DESC, inicio DESC, id DESC LIMIT 500";

// An alarm overlaps the range when it began before its end and had not
// ended before its start; an open end is an infinite instant.
constexpr const char *historyWhere =
    " WHERE ($1 = '' OR estacion = $1) AND coalesce(fin, 'infinity') >= $2::timestamptz"
    " AND inicio < $3::timestamptz";

const std::string historySql =
    alarmColumns() + historyWhere + " ORDER BY inicio DESC, id DESC LIMIT $4::integer";

std::string localTime(const char *column)
{
    return std::string("to_char(") + column + " AT TIME ZONE zona, 'YYYY-MM-DD\"T\"HH24:MI:SS')";
}

const std::string historyLinesSql =
    "DECLARE filas NO SCROLL CURSOR FOR SELECT estacion, puerto, columna, condicion, regla, " +
    localTime("inicio") + ", " + localTime("fin") + ", extremo, limite, reconocido_por, " +
    localTime("reconocido") + ", comentario, silenciado_por, " + localTime("silenciado_hasta") +
    " FROM " + alarmsView + historyWhere + " ORDER BY inicio, id";

std::string instantText(std::optional<std::int64_t> ms, const char *open)
{
    if (!ms)
        return open;
    return QDateTime::fromMSecsSinceEpoch(*ms, Qt::UTC).toString(Qt::ISODateWithMs).toStdString();
}

Alarm alarmRow(const PGresult *r, int i)
{
    Alarm a;
    a.id = number<std::int64_t>(r, i, 0).value_or(0);
    a.estacion = text(r, i, 1);
    a.zona = text(r, i, 2);
    a.puerto = text(r, i, 3);
    a.columna = text(r, i, 4);
    a.unidad = text(r, i, 5);
    a.condicion = text(r, i, 6);
    a.regla = text(r, i, 7);
    a.inicio = number<std::int64_t>(r, i, 8).value_or(0);
    a.fin = number<std::int64_t>(r, i, 9);
    a.extremo = number<double>(r, i, 10);
    a.limite = number<double>(r, i, 11);
    a.reconocidoPor = text(r, i, 12);
    a.reconocido = number<std::int64_t>(r, i, 13);
    a.comentario = text(r, i, 14);
    a.silenciadoPor = text(r, i, 15);
    a.silenciadoHasta = number<std::int64_t>(r, i, 16);
    return a;
}

void alarmRows(const PGresult *r, std::vector<Alarm> &rows)
{
    rows.clear();
    for (int i = 0; i < PQntuples(r); ++i)
        rows.push_back(alarmRow(r, i));
}

} // namespace

namespace web {

bool Reader::alarms(std::vector<Alarm> &rows, std::int64_t &now, std::string &error)
{
    Lease c = take(Use::Quick, error);
    if (!c)
        return false;
    const Result r = run(c.get(), currentSql, {}, error);
    if (!r)
        return false;
    alarmRows(r.get(), rows);
    if (!rows.empty()) {
        now = number<std::int64_t>(r.get(), 0, 17).value_or(0);
        return true;
    }
    const Result t = run(c.get(), "SELECT (extract(epoch FROM now()) * 1000)::bigint", {}, error);
    if (!t)
        return false;
    now = number<std::int64_t>(t.get(), 0, 0).value_or(0);
    return true;
}

bool Reader::alarmHistory(const std::string &estacion, std::optional<std::int64_t> desde,
                          std::optional<std::int64_t> hasta, int most, std::vector<Alarm> &rows,
                          std::string &error)
{
    Lease c = take(Use::Quick, error);
    if (!c)
        return false;
    const Result r = run(c.get(), historySql,
                         {estacion, instantText(desde, "-infinity"), instantText(hasta, "infinity"),
                          std::to_string(most)},
                         error);
    if (!r)
        return false;
    alarmRows(r.get(), rows);
    return true;
}

std::unique_ptr<Reader::Stream> Reader::alarmHistoryLines(const std::string &estacion,
                                                          std::optional<std::int64_t> desde,
                                                          std::optional<std::int64_t> hasta,
                                                          std::string &error)
{
    return stream(historyLinesSql,
                  {estacion, instantText(desde, "-infinity"), instantText(hasta, "infinity")},
                  error);
}

void Reader::alarmLines(const PGresult *r, std::vector<AlarmLine> &rows)
{
    rows.clear();
    for (int i = 0; i < PQntuples(r); ++i)
        rows.push_back(AlarmLine{text(r, i, 0), text(r, i, 1), text(r, i, 2), text(r, i, 3),
                                 text(r, i, 4), text(r, i, 5), text(r, i, 6),
                                 number<double>(r, i, 7), number<double>(r, i, 8), text(r, i, 9),
                                 text(r, i, 10), text(r, i, 11), text(r, i, 12), text(r, i, 13)});
}

Reader::Write Reader::write(const std::string &sql, const std::vector<std::string> &params,
                            std::string &error)
{
    Lease c = take(Use::Quick, error);
    if (!c)
        return Write::Failed;
    QByteArray state;
    const Result r = run(c.get(), sql, params, error, &state);
    if (!r)
        // 22023: the function's own refusal of a value; its message is the
        // user's to read.
        return state == "22023" ? Write::Invalid
            : state == "25006"  ? Write::Standby
                                : Write::Failed;
    return text(r.get(), 0, 0) == "t" ? Write::Done : Write::Refused;
}

Reader::Write Reader::acknowledge(std::int64_t aviso, const std::string &user,
                                  const std::string &comment, std::string &error)
{
    return write("SELECT climalog.reconocer($1::bigint, $2, $3)",
                 {std::to_string(aviso), user, comment}, error);
}

Reader::Write Reader::silence(std::int64_t aviso, const std::string &user, int minutes,
                              std::string &error)
{
    return write("SELECT climalog.silenciar($1::bigint, $2, $3::integer)",
                 {std::to_string(aviso), user, std::to_string(minutes)}, error);
}

} // namespace web
