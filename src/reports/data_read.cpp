#include "reports/data_read.h"

#include "central/connection.h"
#include "reports/text.h"

#include <QDateTime>

#include <cmath>
#include <cstdlib>
#include <stdexcept>

namespace reports::detail {

using central::exec;
using central::Params;
using central::Result;

namespace {

[[noreturn]] void refused(pg_conn *c, const char *what)
{
    throw std::runtime_error(std::string("El archivo no da ") + what + ": " +
                             central::serverText(c).toStdString());
}

} // namespace

Result query(pg_conn *c, const char *sql, const Params &p, const char *what)
{
    Result r = exec(c, sql, p);
    if (!r.ok())
        refused(c, what);
    return r;
}

std::int64_t number(const Result &r, int row, int col)
{
    return std::strtoll(r.field(row, col).constData(), nullptr, 10);
}

std::string text(const Result &r, int row, int col) { return r.field(row, col).toStdString(); }

std::optional<double> optionalNumber(const Result &r, int row, int col)
{
    if (r.isNull(row, col))
        return std::nullopt;
    return std::strtod(r.field(row, col).constData(), nullptr);
}

std::optional<std::int64_t> optionalInteger(const Result &r, int row, int col)
{
    if (r.isNull(row, col))
        return std::nullopt;
    return number(r, row, col);
}

Result overPeriod(pg_conn *c, const char *fields, const char *function, const QByteArray &series,
                  const Period &p, const char *what)
{
    const std::string sql = std::string("SELECT ") + fields + " FROM climalog." + function +
        "($1::integer[], to_timestamp($2::double precision), to_timestamp($3::double precision))";
    return query(c, sql.c_str(), {{series, msText(p.from), msText(p.to)}}, what);
}

std::vector<double> numbers(const QByteArray &a)
{
    std::vector<double> out;
    const char *p = a.constData(), *end = p + a.size();
    if (p < end && *p == '{')
        ++p;
    while (p < end && *p != '}') {
        if (*p == 'N' && end - p >= 4 && p[1] == 'U') {
            out.push_back(std::nan(""));
            p += 4;
        } else {
            char *next = nullptr;
            out.push_back(std::strtod(p, &next));
            p = next > p ? next : p + 1;
        }
        if (p < end && *p == ',')
            ++p;
    }
    return out;
}

QByteArray intArray(const std::vector<int> &v)
{
    QByteArray out = "{";
    for (std::size_t i = 0; i < v.size(); ++i)
        out += (i ? "," : "") + QByteArray::number(v[i]);
    return out + "}";
}

QByteArray msText(std::int64_t ms)
{
    return QByteArray::number(static_cast<double>(ms) / 1000, 'f', 3);
}

const char *typeName(int t)
{
    static const char *const names[] = {"STT", "HRT", "AVI", "DET", "CTR"};
    return t >= 1 && t <= 5 ? names[t - 1] : "";
}

const Device *deviceOf(const Configuration &c, const std::string &name, char kind)
{
    for (const Device &d : c.devices) {
        if (d.name != name)
            continue;
        const bool fits = kind == 'T'    ? d.type == 1 || d.type == 2
            : kind == 'H'                ? d.type == 2
            : kind == '1' || kind == '2' ? d.type == 4 || d.type == 5
                                         : d.type == 3;
        if (fits)
            return &d;
    }
    return nullptr;
}

// The watch a device puts on a column: limits for class T and a of
// sensors; inputs of detectors and relay devices watched as such.
central::Watch watchOf(const Device *d, char kind, bool *listed)
{
    central::Watch w;
    if (!d)
        return w;
    w.deviceType = typeName(d->type);
    if ((kind == 'T' || kind == 'a') && d->type >= 1 && d->type <= 3) {
        w.min = d->min;
        w.max = d->max;
        w.watched = true;
        if (listed)
            *listed = d->action != 0;
    } else if (d->type == 4 || d->type == 5) {
        w.watched = true;
        if (listed)
            *listed = true;
    }
    return w;
}

std::string limitsText(const Limits &l, const std::string &unit)
{
    if (!l.min || !l.max)
        return "sin límites";
    return text::number(double(*l.min), 1) + " a " + text::number(double(*l.max), 1) +
        (unit.empty() ? "" : " " + unit);
}

} // namespace reports::detail
