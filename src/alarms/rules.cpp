#include "alarms/rules.h"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

namespace alarms {

const char *conditionName(Condition c)
{
    switch (c) {
    case Condition::Above:
        return "alto";
    case Condition::Below:
        return "bajo";
    case Condition::Active:
        return "activa";
    case Condition::Err:
        return "err";
    case Condition::Stopped:
        return "parada";
    }
    return "";
}

std::optional<Condition> conditionNamed(std::string_view name)
{
    for (const Condition c : {Condition::Above, Condition::Below, Condition::Active, Condition::Err,
                              Condition::Stopped})
        if (name == conditionName(c))
            return c;
    return std::nullopt;
}

namespace {

// The length of the UTF-8 character that starts at `p` (a stray byte
// counts as one).
std::size_t charLength(std::string_view s, std::size_t p)
{
    std::size_t n = 1;
    while (p + n < s.size() && (static_cast<unsigned char>(s[p + n]) & 0xC0) == 0x80)
        ++n;
    return n;
}

bool matchesOne(std::string_view pattern, std::string_view name)
{
    if (pattern.empty())
        return name.empty();
    if (pattern[0] == '*') {
        for (std::size_t p = 0;; p += charLength(name, p)) {
            if (matchesOne(pattern.substr(1), name.substr(p)))
                return true;
            if (p >= name.size())
                return false;
        }
    }
    if (name.empty())
        return false;
    if (pattern[0] == '?')
        return matchesOne(pattern.substr(1), name.substr(charLength(name, 0)));
    return pattern[0] == name[0] && matchesOne(pattern.substr(1), name.substr(1));
}

std::string_view trimmed(std::string_view s)
{
    const auto space = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    while (!s.empty() && space(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && space(s.back()))
        s.remove_suffix(1);
    return s;
}

// The comma-separated items of a value, each trimmed; an empty item is bad.
bool listOf(std::string_view value, std::vector<std::string> &out)
{
    out.clear();
    while (true) {
        const std::size_t comma = value.find(',');
        const std::string_view item = trimmed(value.substr(0, comma));
        if (item.empty())
            return false;
        out.emplace_back(item);
        if (comma == std::string_view::npos)
            return true;
        value.remove_prefix(comma + 1);
    }
}

bool wholeNumber(std::string_view s, int low, int high, int &out)
{
    int v = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (ec != std::errc() || end != s.data() + s.size() || v < low || v > high)
        return false;
    out = v;
    return true;
}

bool validName(std::string_view name)
{
    return !name.empty() && name.size() <= 100 &&
        std::none_of(name.begin(), name.end(), [](char c) {
            return static_cast<unsigned char>(c) < 0x20 || c == ',' || c == ']';
        });
}

bool startsWith(std::string_view s, std::initializer_list<std::string_view> prefixes)
{
    return std::any_of(prefixes.begin(), prefixes.end(),
                       [&](std::string_view p) { return s.starts_with(p) && s.size() > p.size(); });
}

// The reader of one file: a section at a time, each key of a section once.
class Reader {
public:
    explicit Reader(const std::string &fileName) : file_(fileName) {}

    bool read(std::string_view text, Settings &out, std::string &error);

private:
    enum class Section { None, Mail, Recipient, Rule, Report };

    bool fail(std::string reason)
    {
        error_ = file_ + ":" + std::to_string(line_) + ": " + std::move(reason);
        return false;
    }
    bool section(std::string_view header);
    bool entry(std::string_view key, std::string_view value);
    bool mailEntry(std::string_view key, std::string_view value);
    bool recipientEntry(std::string_view key, std::string_view value);
    bool ruleEntry(std::string_view key, std::string_view value);
    bool reportEntry(std::string_view key, std::string_view value);
    bool patterns(std::string_view key, std::string_view value, std::vector<std::string> &stations,
                  std::vector<std::string> &ports, std::vector<std::string> &columns);
    bool finishSection();
    bool check();

    std::string file_;
    std::string error_;
    int line_ = 0;
    Section section_ = Section::None;
    int sectionLine_ = 0;
    std::set<std::string> keys_;
    bool mailSeen_ = false;
    Settings s_;
    // Where each rule named its recipients, for the message when one is unknown.
    std::map<std::pair<std::size_t, std::string>, int> recipientLines_;
    // The same for each report.
    std::map<std::pair<std::size_t, std::string>, int> reportRecipientLines_;
    bool reportEvery_ = false; // the report's section said how often
};

bool Reader::read(std::string_view text, Settings &out, std::string &error)
{
    bool ok = true;
    while (ok && !text.empty()) {
        ++line_;
        const std::size_t end = text.find('\n');
        std::string_view l = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        // A comment starts at a '#' that opens the line or follows a blank:
        // one inside a value (a webhook's "…/entrada#guardia") is the value's.
        for (std::size_t i = 0; i < l.size(); ++i)
            if (l[i] == '#' && (i == 0 || l[i - 1] == ' ' || l[i - 1] == '\t')) {
                l = l.substr(0, i);
                break;
            }
        l = trimmed(l);
        if (l.empty())
            continue;
        if (l.front() == '[') {
            ok = section(l);
            continue;
        }
        const std::size_t eq = l.find('=');
        if (eq == std::string_view::npos) {
            ok = fail("se esperaba «clave = valor» o «[sección]»");
            continue;
        }
        ok = entry(trimmed(l.substr(0, eq)), trimmed(l.substr(eq + 1)));
    }
    ok = ok && finishSection() && check();
    if (!ok) {
        error = error_;
        return false;
    }
    out = std::move(s_);
    return true;
}

bool Reader::section(std::string_view header)
{
    if (header.back() != ']')
        return fail("falta el «]» de la sección");
    if (!finishSection())
        return false;
    header = trimmed(header.substr(1, header.size() - 2));
    const std::size_t space = header.find(' ');
    const std::string_view kind = header.substr(0, space);
    const std::string name(space == std::string_view::npos ? std::string_view()
                                                           : trimmed(header.substr(space + 1)));
    keys_.clear();
    sectionLine_ = line_;
    if (kind == "correo" && space == std::string_view::npos) {
        if (mailSeen_)
            return fail("la sección [correo] está dos veces");
        mailSeen_ = true;
        section_ = Section::Mail;
        return true;
    }
    if (kind != "destinatario" && kind != "regla" && kind != "informe")
        return fail("sección desconocida «" + std::string(header) +
                    "»: las hay [correo], [destinatario NOMBRE], [regla NOMBRE] e "
                    "[informe NOMBRE]");
    if (!validName(name))
        return fail("falta el nombre de la sección, o tiene comas, «]» o caracteres de control");
    if (kind == "destinatario") {
        if (std::any_of(s_.recipients.begin(), s_.recipients.end(),
                        [&](const Recipient &r) { return r.name == name; }))
            return fail("el destinatario «" + name + "» está dos veces");
        section_ = Section::Recipient;
        s_.recipients.emplace_back().name = name;
        return true;
    }
    if (kind == "informe") {
        if (std::any_of(s_.reports.begin(), s_.reports.end(),
                        [&](const ReportRule &r) { return r.name == name; }))
            return fail("el informe «" + name + "» está dos veces");
        section_ = Section::Report;
        s_.reports.emplace_back().name = name;
        reportEvery_ = false;
        return true;
    }
    if (std::any_of(s_.rules.begin(), s_.rules.end(),
                    [&](const Rule &r) { return r.name == name; }))
        return fail("la regla «" + name + "» está dos veces");
    section_ = Section::Rule;
    s_.rules.emplace_back().name = name;
    return true;
}

bool Reader::entry(std::string_view key, std::string_view value)
{
    if (section_ == Section::None)
        return fail("«" + std::string(key) + "» fuera de una sección");
    if (key.empty())
        return fail("falta la clave antes de «=»");
    if (!keys_.insert(std::string(key)).second)
        return fail("la clave «" + std::string(key) + "» está dos veces en la sección");
    if (value.empty())
        return fail("falta el valor de «" + std::string(key) + "»");
    switch (section_) {
    case Section::Mail:
        return mailEntry(key, value);
    case Section::Recipient:
        return recipientEntry(key, value);
    case Section::Rule:
        return ruleEntry(key, value);
    case Section::Report:
        return reportEntry(key, value);
    case Section::None:
        break;
    }
    return false;
}

bool yesNo(std::string_view value, bool &out)
{
    if (value == "si" || value == "sí")
        out = true;
    else if (value == "no")
        out = false;
    else
        return false;
    return true;
}

bool Reader::mailEntry(std::string_view key, std::string_view value)
{
    MailSettings &m = s_.mail;
    const std::string v(value);
    if (key == "servidor") {
        if (!startsWith(value, {"smtp://", "smtps://"}))
            return fail(
                "el servidor de correo va como smtp://máquina:puerto o smtps://máquina:puerto");
        m.url = v;
    } else if (key == "tls") {
        if (!yesNo(value, m.startTls))
            return fail("«tls» es «si» o «no»");
    } else if (key == "usuario") {
        m.user = v;
    } else if (key == "clave") {
        if (value.front() != '/')
            return fail("«clave» es la ruta completa de un fichero que guarda la contraseña, no la "
                        "contraseña");
        m.passwordFile = v;
    } else if (key == "remitente") {
        if (v.find('@') == std::string::npos)
            return fail("el remitente no es una dirección de correo");
        m.from = v;
    } else if (key == "pagina") {
        if (!startsWith(value, {"http://", "https://"}))
            return fail("la página va como http://… o https://…");
        m.page = v;
    } else if (key == "reunir") {
        if (!wholeNumber(value, 0, 3600, m.gatherSeconds))
            return fail("«reunir» son los segundos, de 0 a 3600");
    } else if (key == "sitio") {
        if (value.size() > 200)
            return fail("«sitio» es un nombre de hasta 200 caracteres");
        m.site = v;
    } else {
        return fail("clave desconocida «" + std::string(key) + "» en [correo]");
    }
    return true;
}

bool Reader::recipientEntry(std::string_view key, std::string_view value)
{
    Recipient &r = s_.recipients.back();
    if (key == "correo") {
        const std::size_t at = value.find('@');
        if (at == 0 || at == std::string_view::npos || at + 1 == value.size() ||
            value.find_first_of(" ,<>") != std::string_view::npos)
            return fail("«" + std::string(value) + "» no es una dirección de correo");
        r.mail = value;
    } else if (key == "webhook") {
        if (!startsWith(value, {"http://", "https://"}))
            return fail("el webhook va como http://… o https://…");
        r.webhook = value;
    } else if (key == "reconocimientos") {
        if (!yesNo(value, r.acknowledgements))
            return fail("«reconocimientos» es «si» o «no»");
    } else {
        return fail("clave desconocida «" + std::string(key) + "» en [destinatario " + r.name +
                    "]");
    }
    return true;
}

// A delay: seconds, or a number followed by "s", "min" or "h".
bool delayOf(std::string_view value, int &seconds)
{
    std::size_t digits = 0;
    while (digits < value.size() && value[digits] >= '0' && value[digits] <= '9')
        ++digits;
    const std::string_view unit = trimmed(value.substr(digits));
    const int scale = unit.empty() || unit == "s" ? 1 : unit == "min" ? 60 : unit == "h" ? 3600 : 0;
    int n = 0;
    if (scale == 0 || !wholeNumber(value.substr(0, digits), 0, 7 * 86400 / scale, n))
        return false;
    seconds = n * scale;
    return true;
}

bool patternKey(std::string_view key)
{
    return key == "estaciones" || key == "puertos" || key == "columnas";
}

// Which stations, ports and columns: a rule's and a report's.
bool Reader::patterns(std::string_view key, std::string_view value,
                      std::vector<std::string> &stations, std::vector<std::string> &ports,
                      std::vector<std::string> &columns)
{
    std::vector<std::string> items;
    if (!listOf(value, items))
        return fail("un nombre vacío en la lista de «" + std::string(key) + "»");
    (key == "estaciones" ? stations : key == "puertos" ? ports : columns) = std::move(items);
    return true;
}

bool Reader::ruleEntry(std::string_view key, std::string_view value)
{
    Rule &r = s_.rules.back();
    std::vector<std::string> items;
    if (patternKey(key)) {
        return patterns(key, value, r.stations, r.ports, r.columns);
    } else if (key == "condiciones") {
        if (!listOf(value, items))
            return fail("una condición vacía en la lista");
        for (const std::string &name : items) {
            const std::optional<Condition> c = conditionNamed(name);
            if (!c)
                return fail("condición desconocida «" + name +
                            "»: las hay alto, bajo, activa, err y parada");
            if (std::find(r.conditions.begin(), r.conditions.end(), *c) == r.conditions.end())
                r.conditions.push_back(*c);
        }
    } else if (key == "retardo") {
        if (!delayOf(value, r.delaySeconds))
            return fail(
                "«retardo» son segundos (o un número y «s», «min» o «h»), hasta una semana");
    } else if (key == "err") {
        if (!wholeNumber(value, 1, 100000, r.errLines))
            return fail("«err» es el número de líneas ERR seguidas, de 1 a 100000");
    } else if (key == "destinatarios") {
        if (!listOf(value, r.recipients))
            return fail("un destinatario vacío en la lista");
        for (const std::string &name : r.recipients)
            recipientLines_.emplace(std::pair{s_.rules.size() - 1, name}, line_);
    } else if (key == "recordar") {
        if (!wholeNumber(value, 1, 10080, r.remindMinutes))
            return fail("«recordar» son los minutos entre recordatorios, de 1 a 10080");
    } else if (key == "escalar") {
        // Minutes, then whom: "escalar = 60 jefe, guardia".
        const std::size_t space = value.find_first_of(" \t");
        if (space == std::string_view::npos ||
            !wholeNumber(value.substr(0, space), 1, 10080, r.escalateMinutes) ||
            !listOf(value.substr(space + 1), r.escalateTo))
            return fail("«escalar» son los minutos (de 1 a 10080) y a quién: «escalar = 60 jefe, "
                        "guardia»");
        for (const std::string &name : r.escalateTo)
            recipientLines_.emplace(std::pair{s_.rules.size() - 1, name}, line_);
    } else {
        return fail("clave desconocida «" + std::string(key) + "» en [regla " + r.name + "]");
    }
    return true;
}

// A time of day as "HH:MM", in minutes after midnight.
bool timeOfDay(std::string_view value, int &minutes)
{
    int h = 0, m = 0;
    if (value.size() != 5 || value[2] != ':' || !wholeNumber(value.substr(0, 2), 0, 23, h) ||
        !wholeNumber(value.substr(3), 0, 59, m))
        return false;
    minutes = h * 60 + m;
    return true;
}

bool Reader::reportEntry(std::string_view key, std::string_view value)
{
    ReportRule &r = s_.reports.back();
    if (patternKey(key)) {
        return patterns(key, value, r.stations, r.ports, r.columns);
    } else if (key == "cada") {
        if (value == "diario")
            r.every = ReportEvery::Day;
        else if (value == "semanal")
            r.every = ReportEvery::Week;
        else if (value == "mensual")
            r.every = ReportEvery::Month;
        else
            return fail("«cada» es «diario», «semanal» o «mensual»");
        reportEvery_ = true;
    } else if (key == "hora") {
        if (!timeOfDay(value, r.dueMinute))
            return fail("«hora» va como HH:MM, de 00:00 a 23:59");
    } else if (key == "esperar") {
        if (!wholeNumber(value, 0, 168, r.waitHours))
            return fail("«esperar» son las horas que un informe espera sus líneas, de 0 a 168");
    } else if (key == "destinatarios") {
        if (!listOf(value, r.recipients))
            return fail("un destinatario vacío en la lista");
        for (const std::string &name : r.recipients)
            reportRecipientLines_.emplace(std::pair{s_.reports.size() - 1, name}, line_);
    } else {
        return fail("clave desconocida «" + std::string(key) + "» en [informe " + r.name + "]");
    }
    return true;
}

// What a section needs whole, checked at its end.
bool Reader::finishSection()
{
    const int at = line_;
    line_ = sectionLine_;
    bool ok = true;
    if (section_ == Section::Recipient) {
        const Recipient &r = s_.recipients.back();
        if (r.mail.empty() && r.webhook.empty())
            ok = fail("el destinatario «" + r.name + "» no tiene «correo» ni «webhook»");
    } else if (section_ == Section::Rule && s_.rules.back().conditions.empty()) {
        ok = fail("la regla «" + s_.rules.back().name + "» no tiene «condiciones»");
    } else if (section_ == Section::Report && !reportEvery_) {
        ok = fail("el informe «" + s_.reports.back().name + "» no tiene «cada»");
    } else if (section_ == Section::Report && s_.reports.back().recipients.empty()) {
        ok = fail("el informe «" + s_.reports.back().name + "» no tiene «destinatarios»");
    } else if (section_ == Section::Mail && s_.mail.url.empty()) {
        ok = fail("la sección [correo] no tiene «servidor»");
    } else if (section_ == Section::Mail && s_.mail.from.empty()) {
        ok = fail("la sección [correo] no tiene «remitente»");
    }
    if (ok)
        line_ = at;
    section_ = Section::None;
    return ok;
}

// What the file needs whole: every recipient a rule names is defined, and
// mail goes only through a mail server.
bool Reader::check()
{
    // The recipient of this name, or none (said at `line`).
    const auto known = [&](const std::string &name, int line) -> const Recipient * {
        const auto found = std::find_if(s_.recipients.begin(), s_.recipients.end(),
                                        [&](const Recipient &r) { return r.name == name; });
        line_ = line;
        if (found != s_.recipients.end())
            return &*found;
        fail("destinatario desconocido «" + name + "»: falta su [destinatario " + name + "]");
        return nullptr;
    };
    for (const auto &[where, line] : recipientLines_) {
        const Recipient *found = known(where.second, line);
        if (!found)
            return false;
        if (!found->mail.empty() && s_.mail.url.empty())
            return fail("el destinatario «" + where.second +
                        "» tiene correo, pero falta la sección [correo]");
    }
    // A report goes as a mail's attachment: only to mail addresses.
    for (const auto &[where, line] : reportRecipientLines_) {
        const Recipient *found = known(where.second, line);
        if (!found)
            return false;
        if (found->mail.empty())
            return fail("el destinatario «" + where.second +
                        "» no tiene «correo»: un informe va solo por correo, no por webhook");
        if (s_.mail.url.empty())
            return fail("el informe «" + s_.reports[where.first].name +
                        "» va por correo, pero falta la sección [correo]");
    }
    return true;
}

} // namespace

bool matches(const std::vector<std::string> &patterns, const std::string &name)
{
    return patterns.empty() || std::any_of(patterns.begin(), patterns.end(), [&](const auto &p) {
               return matchesOne(p, name);
           });
}

bool parseRules(std::string_view text, const std::string &fileName, Settings &out,
                std::string &error)
{
    Reader reader(fileName);
    return reader.read(text, out, error);
}

bool readRules(const std::string &path, Settings &out, std::string &error)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "No se puede leer el fichero de reglas " + path;
        return false;
    }
    std::ostringstream text;
    text << in.rdbuf();
    return parseRules(text.str(), path, out, error);
}

} // namespace alarms
