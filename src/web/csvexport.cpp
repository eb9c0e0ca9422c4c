#include "web/csvexport.h"

#include "registry/cp1252.h"

#include <algorithm>
#include <charconv>
#include <set>
#include <string_view>

namespace {

// One station and port: the column names alone, as the desktop export has
// them. Several: each name says where it comes from.
std::vector<std::string> columnNames(const std::vector<SeriesInfo> &series)
{
    std::set<std::pair<std::string, std::string>> places;
    for (const SeriesInfo &s : series)
        places.insert({s.estacion, s.puerto});
    std::vector<std::string> names;
    for (const SeriesInfo &s : series)
        names.push_back(places.size() == 1
                            ? s.columna
                            : s.estacion + " - puerto " + s.puerto + " - " + s.columna);
    return names;
}

} // namespace

std::string csvText(const std::string &text)
{
    // A text cell that a spreadsheet would take for a formula starts with
    // an apostrophe, as spreadsheets' own exports write it.
    const std::string cell =
        !text.empty() && std::string_view("=+-@\t\r").find(text.front()) != std::string_view::npos
        ? '\'' + text
        : text;
    if (cell.find_first_of(";,\"\r\n") == std::string::npos)
        return cell;
    std::string quoted = "\"";
    for (const char c : cell)
        quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + '"';
}

std::string csvNumber(double v, bool comma)
{
    // The shortest text that reads back to the same value.
    char text[32];
    const auto r = std::to_chars(text, text + sizeof text, v);
    if (comma)
        std::replace(text, r.ptr, '.', ',');
    return std::string(text, r.ptr);
}

std::string csvEncode(const std::string &utf8, bool toUtf8)
{
    return toUtf8 ? utf8 : cp1252::encode(QString::fromStdString(utf8));
}

CsvWriter::CsvWriter(CsvFormat format, const std::vector<SeriesInfo> &series)
    : format_(format), separator_(format.comma ? ';' : ','), names_(columnNames(series))
{
    for (const SeriesInfo &s : series)
        keys_.push_back(s.serie);
    cells_.resize(keys_.size());
}

std::string CsvWriter::encode(const std::string &utf8) const
{
    return csvEncode(utf8, format_.utf8);
}

std::string CsvWriter::header() const
{
    std::string out = "Hora";
    for (const std::string &n : names_) {
        out += separator_;
        out += csvText(n);
    }
    return encode(out + "\r\n");
}

void CsvWriter::flush(std::string &out)
{
    if (hora_ < 0)
        return;
    out += local_;
    for (std::size_t k = 0; k < cells_.size(); ++k) {
        out += separator_;
        if (cells_[k])
            out += csvNumber(*cells_[k], format_.comma);
    }
    out += "\r\n";
    hora_ = -1;
    std::fill(cells_.begin(), cells_.end(), std::nullopt);
}

void CsvWriter::add(const std::vector<Reading> &rows, std::string &out)
{
    for (const Reading &r : rows) {
        if (r.hora != hora_) {
            flush(out);
            hora_ = r.hora;
            local_ = r.local;
        }
        const auto it = std::find(keys_.begin(), keys_.end(), r.serie);
        if (it == keys_.end())
            continue;
        const auto k = static_cast<std::size_t>(it - keys_.begin());
        cells_[k] = r.valor;
    }
}

void CsvWriter::finish(std::string &out) { flush(out); }

std::string CsvWriter::cut() const
{
    return encode("Exportación incompleta: la base de datos dejó de responder y faltan las "
                  "lecturas siguientes.\r\n");
}
