#include "reports/text.h"

#include <QDateTime>
#include <QString>
#include <QTimeZone>

#include <charconv>
#include <cmath>
#include <map>
#include <mutex>

namespace reports::text {

std::string clean(const std::string &s)
{
    bool plain = true;
    for (const unsigned char c : s)
        plain = plain && c >= 0x20 && c < 0x7f;
    if (plain)
        return s;
    QString q = QString::fromUtf8(s.data(), qsizetype(s.size()));
    for (QChar &c : q)
        if (c.category() == QChar::Other_Control || c == QChar::LineSeparator ||
            c == QChar::ParagraphSeparator)
            c = QLatin1Char(' ');
    return q.toStdString();
}

std::string number(double v, int decimals)
{
    if (!std::isfinite(v))
        return "-";
    // Readings carry a few decimals; a float's or a sum's binary tail is
    // not printed.
    char buf[400];
    const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed,
                                 decimals >= 0 ? decimals : 4);
    std::string out(buf, r.ptr);
    if (decimals < 0 && out.find('.') != std::string::npos) {
        out.erase(out.find_last_not_of('0') + 1);
        if (out.back() == '.')
            out.pop_back();
    }
    if (out.find_first_not_of("-0.") == std::string::npos && out[0] == '-')
        out.erase(0, 1);
    for (char &c : out)
        if (c == '.')
            c = ',';
    return out;
}

std::string number(const std::optional<double> &v, int decimals)
{
    return v ? number(*v, decimals) : std::string("-");
}

std::string count(std::int64_t n)
{
    std::string digits = std::to_string(n < 0 ? -n : n);
    if (digits.size() > 4)
        for (std::ptrdiff_t i = std::ptrdiff_t(digits.size()) - 3; i > 0; i -= 3)
            digits.insert(std::size_t(i), 1, ' ');
    return n < 0 ? '-' + digits : digits;
}

std::string duration(std::int64_t ms)
{
    const std::int64_t s = ms <= 0 ? 0 : (ms + 500) / 1000;
    char buf[48];
    if (s < 60)
        std::snprintf(buf, sizeof buf, "%lld s", static_cast<long long>(s));
    else if (s < 3600)
        std::snprintf(buf, sizeof buf, "%lld min %02lld s", static_cast<long long>(s / 60),
                      static_cast<long long>(s % 60));
    else {
        const std::int64_t m = (s + 30) / 60;
        std::snprintf(buf, sizeof buf, "%lld h %02lld min", static_cast<long long>(m / 60),
                      static_cast<long long>(m % 60));
    }
    return buf;
}

std::string share(std::int64_t part, std::int64_t whole)
{
    if (whole <= 0)
        return {};
    return number(100.0 * double(part) / double(whole), 1) + " %";
}

std::string when(std::int64_t ms, const std::string &zone)
{
    // Zones are few and QTimeZone is slow to make: one each.
    static std::mutex lock;
    static std::map<std::string, QTimeZone> zones;
    QTimeZone tz;
    {
        std::lock_guard<std::mutex> g(lock);
        auto it = zones.find(zone);
        if (it == zones.end()) {
            QTimeZone z(QByteArray::fromStdString(zone));
            it = zones.emplace(zone, z.isValid() ? z : QTimeZone::utc()).first;
        }
        tz = it->second;
    }
    return QDateTime::fromMSecsSinceEpoch(ms, tz)
        .toString(QStringLiteral("dd/MM/yyyy HH:mm:ss"))
        .toStdString();
}

std::string limits(const Limits &l, const std::string &unit)
{
    const std::string u = unit.empty() ? std::string() : ' ' + clean(unit);
    if (l.min && l.max)
        return number(double(*l.min)) + " a " + number(double(*l.max)) + u;
    if (l.min)
        return "mín. " + number(double(*l.min)) + u;
    if (l.max)
        return "máx. " + number(double(*l.max)) + u;
    return "sin límites";
}

std::int64_t periodLength(const Report &r)
{
    const Period &p = r.request.period;
    const std::int64_t end =
        r.request.madeAt > p.from && r.request.madeAt < p.to ? r.request.madeAt : p.to;
    return end - p.from;
}

const std::string &zoneOf(const Report &r, const std::string &station)
{
    for (const Column &c : r.columns)
        if (c.station == station && !c.zone.empty())
            return c.zone;
    return r.zone;
}

bool severalPorts(const Report &r)
{
    for (const Column &k : r.columns)
        if (k.station != r.columns.front().station || k.port != r.columns.front().port)
            return true;
    return false;
}

std::string place(const Column &c, bool several)
{
    if (!several)
        return clean(c.column);
    return clean(c.station) + " - puerto " + clean(c.port) + " - " + clean(c.column);
}

} // namespace reports::text
