#include "web/overview.h"

#include "central/marks.h"
#include "web/json.h"

#include <algorithm>

std::string overviewSeriesJson(const std::vector<SeriesInfo> &rows, std::int64_t now)
{
    std::string out;
    out.reserve(256 + rows.size() * 220);
    out += '[';
    bool first = true;
    for (const SeriesInfo &s : rows) {
        if (!first)
            out += ',';
        first = false;
        out += "{\"serie\":" + std::to_string(s.serie);
        for (const auto &[name, value] :
             {std::pair{"estacion", &s.estacion}, std::pair{"zona", &s.zona},
              std::pair{"puerto", &s.puerto}, std::pair{"columna", &s.columna},
              std::pair{"unidad", &s.unidad}, std::pair{"dispositivo", &s.dispositivo},
              std::pair{"tipo", &s.tipo}, std::pair{"clase", &s.clase}}) {
            out += ',';
            json::key(out, name);
            json::text(out, *value);
        }
        out += ",\"orden\":" + std::to_string(s.orden) + ",\"hora\":";
        json::optional(out, s.hora);
        out += ",\"valor\":";
        json::optional(out, s.valor);
        out += ",\"min\":";
        json::optional(out, s.alarmaMin);
        out += ",\"max\":";
        json::optional(out, s.alarmaMax);
        out += ",\"vigilada\":";
        out += s.vigilada ? "true" : "false";
        out += ",\"aviso\":";
        json::text(out,
                   central::markName(
                       central::markOf({s.alarmaMin, s.alarmaMax, s.tipo, s.vigilada}, s.valor)));
        out += ",\"antigua\":";
        out += central::isStale(s.hora, s.periodo, now) ? "true" : "false";
        out += '}';
    }
    out += ']';
    return out;
}

std::string overviewJson(const std::string &series, std::int64_t now, const std::string &user,
                         const std::string &site)
{
    std::string out;
    out.reserve(series.size() + 128);
    out += "{\"ahora\":";
    json::number(out, now);
    out += ",\"usuario\":";
    json::textOrNull(out, user);
    out += ",\"sitio\":";
    json::textOrNull(out, site);
    out += ",\"series\":";
    out += series;
    out += '}';
    return out;
}

PlotJson::PlotJson(std::vector<int> keys, std::int64_t desde, std::int64_t hasta, int cubos)
    : keys_(std::move(keys)), desde_(desde), hasta_(hasta), cubos_(cubos)
{
}

std::string PlotJson::begin() const
{
    std::string out = "{\"desde\":";
    json::number(out, static_cast<double>(desde_) / 1000);
    out += ",\"hasta\":";
    json::number(out, static_cast<double>(hasta_) / 1000);
    out += ",\"cubo\":";
    json::number(out, static_cast<double>(hasta_ - desde_) / 1000 / cubos_);
    out += ",\"series\":[";
    return out;
}

void PlotJson::series(int key, std::string &out) const
{
    if (!written_.empty())
        out += ',';
    out += "{\"serie\":" + std::to_string(key);
    for (const char *field : {"t", "min", "max"}) {
        out += ",\"";
        out += field;
        out += "\":[";
        for (std::size_t i = 0; i < current_.size(); ++i) {
            if (i)
                out += ',';
            if (field[0] == 't')
                json::number(out, static_cast<double>(current_[i].hora) / 1000);
            else
                json::optional(out, field[1] == 'i' ? current_[i].minimo : current_[i].maximo);
        }
        out += ']';
    }
    out += '}';
}

void PlotJson::flush(std::string &out)
{
    if (current_.empty())
        return;
    const int key = current_.front().serie;
    if (std::find(keys_.begin(), keys_.end(), key) != keys_.end() &&
        std::find(written_.begin(), written_.end(), key) == written_.end()) {
        series(key, out);
        written_.push_back(key);
    }
    current_.clear();
}

void PlotJson::add(const std::vector<Span> &rows, std::string &out)
{
    for (const Span &r : rows) {
        if (!current_.empty() && current_.front().serie != r.serie)
            flush(out);
        current_.push_back(r);
    }
}

void PlotJson::finish(std::string &out)
{
    flush(out);
    for (const int key : keys_) {
        if (std::find(written_.begin(), written_.end(), key) != written_.end())
            continue;
        series(key, out);
        written_.push_back(key);
    }
    out += "]}";
}
