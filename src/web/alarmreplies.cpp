#include "web/alarmreplies.h"

#include "web/json.h"

namespace {

void alarmJson(std::string &out, const Alarm &a)
{
    out += "{\"id\":";
    json::number(out, a.id);
    for (const auto &[name, value] :
         {std::pair{"estacion", &a.estacion}, std::pair{"zona", &a.zona},
          std::pair{"puerto", &a.puerto}, std::pair{"columna", &a.columna},
          std::pair{"unidad", &a.unidad}, std::pair{"condicion", &a.condicion},
          std::pair{"regla", &a.regla}, std::pair{"reconocido_por", &a.reconocidoPor},
          std::pair{"comentario", &a.comentario}, std::pair{"silenciado_por", &a.silenciadoPor}}) {
        out += ',';
        json::key(out, name);
        json::text(out, *value);
    }
    out += ",\"inicio\":";
    json::number(out, a.inicio);
    for (const auto &[name, value] :
         {std::pair{"fin", &a.fin}, std::pair{"reconocido", &a.reconocido},
          std::pair{"silenciado_hasta", &a.silenciadoHasta}}) {
        out += ',';
        json::key(out, name);
        json::optional(out, *value);
    }
    out += ",\"extremo\":";
    json::optional(out, a.extremo);
    out += ",\"limite\":";
    json::optional(out, a.limite);
    out += '}';
}

void alarmList(std::string &out, const std::vector<Alarm> &rows)
{
    out += '[';
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (i)
            out += ',';
        alarmJson(out, rows[i]);
    }
    out += ']';
}

} // namespace

std::string alarmsJson(const std::vector<Alarm> &rows, std::int64_t now, const std::string &user,
                       const std::string &token)
{
    std::string out = "{\"ahora\":";
    json::number(out, now);
    out += ",\"usuario\":";
    json::textOrNull(out, user);
    out += ",\"ficha\":";
    json::text(out, token);
    out += ",\"avisos\":";
    alarmList(out, rows);
    return out + '}';
}

std::string historyJson(const std::vector<Alarm> &rows, bool complete)
{
    std::string out = "{\"avisos\":";
    alarmList(out, rows);
    out += ",\"completa\":";
    out += complete ? "true" : "false";
    return out + '}';
}

std::string conditionText(const std::string &condicion)
{
    static const std::pair<const char *, const char *> texts[] = {
        {"alto", "Sobre el máximo"}, {"bajo", "Bajo el mínimo"},  {"activa", "Entrada activa"},
        {"err", "Lecturas ERR"},     {"parada", "Puerto parado"},
    };
    for (const auto &[name, text] : texts)
        if (condicion == name)
            return text;
    return condicion;
}

std::string AlarmCsv::header() const
{
    std::string out;
    for (const char *name : {"Estación", "Puerto", "Columna", "Condición", "Regla", "Inicio", "Fin",
                             "Extremo", "Límite", "Reconocido por", "Reconocido", "Comentario",
                             "Silenciado por", "Silenciado hasta"}) {
        if (!out.empty())
            out += separator_;
        out += name;
    }
    return csvEncode(out + "\r\n", format_.utf8);
}

void AlarmCsv::add(const std::vector<AlarmLine> &rows, std::string &out) const
{
    for (const AlarmLine &a : rows) {
        std::string line = csvText(a.estacion);
        for (const std::string *cell : {&a.puerto, &a.columna}) {
            line += separator_;
            line += csvText(*cell);
        }
        line += separator_;
        line += conditionText(a.condicion);
        for (const std::string *cell : {&a.regla, &a.inicio, &a.fin}) {
            line += separator_;
            line += csvText(*cell);
        }
        for (const std::optional<double> *v : {&a.extremo, &a.limite}) {
            line += separator_;
            if (*v)
                line += csvNumber(**v, format_.comma);
        }
        for (const std::string *cell : {&a.reconocidoPor, &a.reconocido, &a.comentario,
                                        &a.silenciadoPor, &a.silenciadoHasta}) {
            line += separator_;
            line += csvText(*cell);
        }
        out += csvEncode(line + "\r\n", format_.utf8);
    }
}

std::string AlarmCsv::cut() const
{
    return csvEncode("Exportación incompleta: la base de datos dejó de responder y faltan los "
                     "avisos siguientes.\r\n",
                     format_.utf8);
}
