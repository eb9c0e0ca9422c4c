#include "reports/report.h"
#include "reports/text.h"

#include <string_view>

namespace reports {

namespace {

// A text cell: one that a spreadsheet would take for a formula begins with
// an apostrophe; one holding a separator or a quote is quoted.
std::string cell(const std::string &raw)
{
    std::string s = text::clean(raw);
    if (!s.empty() && std::string_view("=+-@").find(s[0]) != std::string_view::npos)
        s.insert(0, 1, '\'');
    if (s.find_first_of(";\"") == std::string::npos)
        return s;
    std::string quoted(1, '"');
    for (const char c : s) {
        quoted += c;
        if (c == '"')
            quoted += c;
    }
    return quoted + '"';
}

std::string seconds(std::int64_t ms) { return text::number(double(ms) / 1000.0); }

std::string percent(std::int64_t part, std::int64_t whole)
{
    return whole > 0 ? text::number(100.0 * double(part) / double(whole), 2) : std::string();
}

std::string optional(const std::optional<double> &v)
{
    return v ? text::number(*v) : std::string();
}

} // namespace

std::string csv(const Report &r)
{
    std::string out =
        "Serie;Estación;Puerto;Columna;Unidad;Clase;Dispositivo;Tipo;Periodo (s);Esperadas;Líneas;"
        "Recibidas;ERR;Faltan;Mínimo;Hora del mínimo;Máximo;Hora del máximo;Media;"
        "Desviación típica;TCM (ºC);Límite inferior;Límite superior;Límites en el periodo;"
        "Bajo el mínimo (s);Bajo el mínimo (%);Sobre el máximo (s);Sobre el máximo (%);"
        "Activa (s);Activa (%)\r\n";
    const std::int64_t length = text::periodLength(r);
    for (const Column &c : r.columns) {
        const std::string &zone = c.zone.empty() ? r.zone : c.zone;
        // The limits at the period's end, and every one when they changed.
        std::optional<double> low, high;
        std::string all;
        if (!c.limits.empty()) {
            if (c.limits.back().min)
                low = double(*c.limits.back().min);
            if (c.limits.back().max)
                high = double(*c.limits.back().max);
        }
        if (c.limits.size() > 1)
            for (const Limits &l : c.limits)
                all += (all.empty() ? "" : ", ") + text::limits(l, c.unit) + " desde " +
                    text::when(l.from, zone);
        const bool input = c.kind == '1' || c.kind == '2';
        const bool limited = low || high;
        const std::string fields[] = {std::to_string(c.series),
                                      cell(c.station),
                                      cell(c.port),
                                      cell(c.column),
                                      cell(c.unit),
                                      cell(std::string(1, c.kind)),
                                      cell(c.device),
                                      cell(c.deviceType),
                                      c.periodSeconds > 0 ? std::to_string(c.periodSeconds)
                                                          : std::string(),
                                      std::to_string(c.expected),
                                      std::to_string(c.lines),
                                      std::to_string(c.received),
                                      std::to_string(c.errors),
                                      std::to_string(c.missing),
                                      optional(c.min),
                                      c.min ? text::when(c.minAt, zone) : std::string(),
                                      optional(c.max),
                                      c.max ? text::when(c.maxAt, zone) : std::string(),
                                      optional(c.mean),
                                      optional(c.stddev),
                                      optional(c.mkt),
                                      optional(low),
                                      optional(high),
                                      cell(all),
                                      limited ? seconds(c.belowMs) : std::string(),
                                      limited ? percent(c.belowMs, length) : std::string(),
                                      limited ? seconds(c.aboveMs) : std::string(),
                                      limited ? percent(c.aboveMs, length) : std::string(),
                                      input ? seconds(c.activeMs) : std::string(),
                                      input ? percent(c.activeMs, length) : std::string()};
        std::string line;
        for (const std::string &f : fields)
            line += (line.empty() ? "" : ";") + f;
        out += line + "\r\n";
    }
    return out;
}

} // namespace reports
