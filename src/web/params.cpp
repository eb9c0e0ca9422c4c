#include "web/params.h"

#include <QDateTime>
#include <QRegularExpression>
#include <QTimeZone>

#include <algorithm>
#include <charconv>
#include <set>

namespace params {

namespace {

constexpr std::int64_t day = 86400000;
// A plot or export of more than ten years is a mistake, not a question.
constexpr std::int64_t longest = 3653 * day;

// A value as the message quotes it: short, on one line, valid UTF-8
// whatever bytes came.
std::string quoted(const std::string &v)
{
    QString text =
        QString::fromUtf8(v.data(), static_cast<qsizetype>(std::min<std::size_t>(v.size(), 160)));
    if (text.size() > 40 || v.size() > 160)
        text = text.left(40) + QStringLiteral("...");
    for (QChar &c : text)
        if (c.unicode() < 0x20)
            c = u'?';
    return "«" + text.toStdString() + "»";
}

// Every parameter known and given at most once.
bool known(const Map &m, std::initializer_list<const char *> names, std::string &error)
{
    for (auto it = m.begin(); it != m.end(); it = m.upper_bound(it->first)) {
        if (std::none_of(names.begin(), names.end(),
                         [&](const char *n) { return it->first == n; })) {
            error = "Parámetro desconocido: " + quoted(it->first) + ".";
            return false;
        }
        if (m.count(it->first) > 1) {
            error = "El parámetro " + quoted(it->first) + " está repetido.";
            return false;
        }
    }
    return true;
}

bool required(const Map &m, const char *name, std::string &value, std::string &error)
{
    const auto it = m.find(name);
    if (it == m.end()) {
        error = std::string("Falta el parámetro «") + name + "».";
        return false;
    }
    value = it->second;
    return true;
}

bool seriesList(const Map &m, std::vector<int> &out, std::string &error,
                std::size_t most = mostSeries)
{
    std::string text;
    if (!required(m, "series", text, error))
        return false;
    out.clear();
    std::set<int> seen;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = text.find(',', start);
        const std::string item =
            text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        int key = 0;
        const auto r = std::from_chars(item.data(), item.data() + item.size(), key);
        if (item.empty() || r.ec != std::errc() || r.ptr != item.data() + item.size() || key < 1) {
            error = "La serie " + quoted(item) +
                " no es válida: las series se dan por su número, separadas por comas.";
            return false;
        }
        if (!seen.insert(key).second) {
            error = "La serie " + std::to_string(key) + " está repetida.";
            return false;
        }
        out.push_back(key);
        if (out.size() > most) {
            error = "Son demasiadas series: como mucho " + std::to_string(most) + ".";
            return false;
        }
        if (comma == std::string::npos)
            return true;
        start = comma + 1;
    }
}

bool dateOf(const char *name, const std::string &text, std::int64_t &out, std::string &error)
{
    if (instant(text, out))
        return true;
    error = std::string("La fecha de «") + name + "» no es válida: " + quoted(text) +
        ". Escríbala como 2026-12-07T14:00:00Z.";
    return false;
}

bool range(const Map &m, std::int64_t &desde, std::int64_t &hasta, std::string &error)
{
    std::string from, to;
    if (!required(m, "desde", from, error) || !required(m, "hasta", to, error) ||
        !dateOf("desde", from, desde, error) || !dateOf("hasta", to, hasta, error))
        return false;
    if (hasta <= desde) {
        error = "El intervalo está vacío: «hasta» debe ser posterior a «desde».";
        return false;
    }
    if (hasta - desde > longest) {
        error = "El intervalo es demasiado largo: como mucho diez años.";
        return false;
    }
    return true;
}

bool choice(const Map &m, const char *name, const char *yes, const char *no, bool &out,
            std::string &error)
{
    const auto it = m.find(name);
    if (it == m.end())
        return true;
    if (it->second == yes || it->second == no) {
        out = it->second == yes;
        return true;
    }
    error = std::string("El parámetro «") + name + "» debe ser «" + yes + "» o «" + no + "», no " +
        quoted(it->second) + ".";
    return false;
}

// Either end of a history's range, when given.
bool openRange(const Map &m, History &out, std::string &error)
{
    for (const auto &[name, end] :
         {std::pair{"desde", &out.desde}, std::pair{"hasta", &out.hasta}}) {
        const auto it = m.find(name);
        std::int64_t ms = 0;
        if (it == m.end())
            end->reset();
        else if (!dateOf(name, it->second, ms, error))
            return false;
        else
            *end = ms;
    }
    if (out.desde && out.hasta && *out.hasta <= *out.desde) {
        error = "El intervalo está vacío: «hasta» debe ser posterior a «desde».";
        return false;
    }
    return true;
}

bool station(const Map &m, std::string &out, std::string &error)
{
    const auto it = m.find("estacion");
    out = it == m.end() ? std::string() : it->second;
    // The database takes UTF-8 only; a name is never that long.
    if (out.size() <= 200 && QString::fromUtf8(out).toUtf8().toStdString() == out)
        return true;
    error = "El nombre de la estación no es válido: " + quoted(out) + ".";
    return false;
}

// A report's date: "YYYY-MM-DD", a day the calendar has.
bool dayOf(const Map &m, const char *name, QDate &out, std::string &error)
{
    std::string text;
    if (!required(m, name, text, error))
        return false;
    static const QRegularExpression re(QStringLiteral("^(\\d{4})-(\\d\\d)-(\\d\\d)$"));
    const QRegularExpressionMatch match = re.match(QString::fromStdString(text));
    if (match.hasMatch())
        out =
            QDate(match.captured(1).toInt(), match.captured(2).toInt(), match.captured(3).toInt());
    if (match.hasMatch() && out.isValid() && out.year() >= 1970)
        return true;
    error = std::string("La fecha de «") + name + "» no existe: " + quoted(text) +
        ". Escríbala como 2026-12-07.";
    return false;
}

// The body's fields all known, "aviso" among them, a positive number.
bool alarmBody(const body::Object &b, std::initializer_list<const char *> names,
               std::int64_t &aviso, std::string &error)
{
    for (const auto &[key, value] : b)
        if (std::none_of(names.begin(), names.end(), [&](const char *n) { return key == n; })) {
            error = "Campo desconocido: " + quoted(key) + ".";
            return false;
        }
    const auto it = b.find("aviso");
    if (it == b.end() || it->second.isText || it->second.number < 1) {
        error = "Falta el aviso: «aviso» debe ser su número.";
        return false;
    }
    aviso = it->second.number;
    return true;
}

} // namespace

bool instant(const std::string &text, std::int64_t &ms)
{
    static const QRegularExpression re(
        QStringLiteral("^(\\d{4})-(\\d\\d)-(\\d\\d)T(\\d\\d):(\\d\\d):(\\d\\d)(?:\\.(\\d{1,3}))?(?:"
                       "(Z)|([+-])(\\d\\d):(\\d\\d))$"));
    const QRegularExpressionMatch m = re.match(QString::fromStdString(text));
    if (!m.hasMatch())
        return false;
    const QDate date(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt());
    const QTime time(m.captured(4).toInt(), m.captured(5).toInt(), m.captured(6).toInt(),
                     m.captured(7).leftJustified(3, u'0').toInt());
    const int hours = m.captured(10).toInt(), minutes = m.captured(11).toInt();
    if (!date.isValid() || !time.isValid() || date.year() < 1970 || hours > 23 || minutes > 59)
        return false;
    const int offset =
        (m.captured(9) == QLatin1String("-") ? -1 : 1) * (hours * 3600 + minutes * 60);
    ms = QDateTime(date, time, QTimeZone(offset)).toMSecsSinceEpoch();
    return true;
}

void alignToClock(Plot &p)
{
    constexpr std::int64_t minute = 60000, hour = 3600000;
    std::int64_t width = (p.hasta - p.desde + p.cubos - 1) / p.cubos;
    if (width < minute)
        return;
    const std::int64_t unit = width >= hour ? hour : minute;
    width = (width + unit - 1) / unit * unit;
    p.desde = p.desde / unit * unit;
    // Starting earlier may need one more bucket to reach the end; never
    // more than the archive takes.
    std::int64_t count = (p.hasta - p.desde + width - 1) / width;
    while (count > 20000) {
        width += unit;
        count = (p.hasta - p.desde + width - 1) / width;
    }
    p.cubos = static_cast<int>(count);
    p.hasta = p.desde + count * width;
}

bool none(const Map &m, std::string &error) { return known(m, {}, error); }

bool plot(const Map &m, Plot &out, std::string &error)
{
    if (!known(m, {"series", "desde", "hasta", "cubos"}, error) ||
        !seriesList(m, out.series, error) || !range(m, out.desde, out.hasta, error))
        return false;
    std::string text;
    if (!required(m, "cubos", text, error))
        return false;
    const auto r = std::from_chars(text.data(), text.data() + text.size(), out.cubos);
    if (r.ec != std::errc() || r.ptr != text.data() + text.size() || out.cubos < 1 ||
        out.cubos > 20000) {
        error = "«cubos» debe ser un número entre 1 y 20000: " + quoted(text) + ".";
        return false;
    }
    return true;
}

bool exportCsv(const Map &m, Export &out, std::string &error)
{
    return known(m, {"series", "desde", "hasta", "codificacion", "decimal"}, error) &&
        seriesList(m, out.series, error) && range(m, out.desde, out.hasta, error) &&
        choice(m, "codificacion", "utf8", "cp1252", out.utf8, error) &&
        choice(m, "decimal", "coma", "punto", out.comma, error);
}

bool report(const Map &m, Report &out, std::string &error)
{
    static const std::pair<const char *, reports::Span> spans[] = {
        {"dia", reports::Span::Day},
        {"semana", reports::Span::Week},
        {"mes", reports::Span::Month},
        {"fechas", reports::Span::Dates},
    };
    std::string span;
    if (!known(m, {"estacion", "series", "periodo", "desde", "hasta", "formato"}, error) ||
        !required(m, "periodo", span, error))
        return false;
    const auto it = std::find_if(std::begin(spans), std::end(spans),
                                 [&](const auto &s) { return span == s.first; });
    if (it == std::end(spans)) {
        error = "«periodo» debe ser «dia», «semana», «mes» o «fechas», no " + quoted(span) + ".";
        return false;
    }
    out.span = it->second;
    const bool dates = out.span == reports::Span::Dates;
    if (m.count("estacion") == m.count("series")) {
        error = "Dé la estación («estacion») o sus columnas («series»), una de las dos.";
        return false;
    }
    if (!dates && m.count("hasta")) {
        error = "«hasta» solo vale con «periodo=fechas».";
        return false;
    }
    QDate first, last;
    if ((m.count("estacion") && !station(m, out.estacion, error)) ||
        (m.count("series") && !seriesList(m, out.series, error, mostReportSeries)) ||
        !dayOf(m, "desde", first, error) || (dates && !dayOf(m, "hasta", last, error)) ||
        !choice(m, "formato", "pdf", "csv", out.pdf, error))
        return false;
    if (out.estacion.empty() && out.series.empty()) {
        error = "Falta la estación: «estacion» está vacío.";
        return false;
    }
    if (dates && last < first) {
        error = "Las fechas están al revés: «hasta» no puede ser anterior a «desde».";
        return false;
    }
    if (dates && last >= first.addYears(1)) {
        error = "El periodo es demasiado largo: como mucho un año.";
        return false;
    }
    out.desde = first.toString(Qt::ISODate).toStdString();
    out.hasta = dates ? last.toString(Qt::ISODate).toStdString() : out.desde;
    return true;
}

bool history(const Map &m, History &out, std::string &error)
{
    return known(m, {"estacion", "desde", "hasta"}, error) && station(m, out.estacion, error) &&
        openRange(m, out, error);
}

bool historyCsv(const Map &m, History &out, std::string &error)
{
    return known(m, {"estacion", "desde", "hasta", "codificacion", "decimal"}, error) &&
        station(m, out.estacion, error) && openRange(m, out, error) &&
        choice(m, "codificacion", "utf8", "cp1252", out.utf8, error) &&
        choice(m, "decimal", "coma", "punto", out.comma, error);
}

bool acknowledge(const body::Object &b, Acknowledge &out, std::string &error)
{
    if (!alarmBody(b, {"aviso", "comentario"}, out.aviso, error))
        return false;
    const auto it = b.find("comentario");
    if (it != b.end() && !it->second.isText) {
        error = "El comentario debe ser un texto.";
        return false;
    }
    out.comentario = it == b.end() ? std::string() : it->second.text;
    // Characters, not bytes: each one's first byte is not a continuation.
    const auto length = std::count_if(out.comentario.begin(), out.comentario.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    });
    if (length > longestComment) {
        error = "El comentario es demasiado largo: como mucho " + std::to_string(longestComment) +
            " caracteres.";
        return false;
    }
    return true;
}

bool silence(const body::Object &b, Silence &out, std::string &error)
{
    if (!alarmBody(b, {"aviso", "minutos"}, out.aviso, error))
        return false;
    const auto it = b.find("minutos");
    if (it == b.end() || it->second.isText || it->second.number < 1 ||
        it->second.number > mostMinutes) {
        error = "«minutos» debe ser un número entre 1 y " + std::to_string(mostMinutes) +
            " (una semana).";
        return false;
    }
    out.minutos = static_cast<int>(it->second.number);
    return true;
}

} // namespace params
