// The rules file read into the settings: a good file whole, and each kind of
// bad line refused with its file, its line and why, leaving the settings in
// force as they were.
#include "alarms/rules.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

namespace {

const char *const goodFile = R"(# Avisos de la planta
[correo]
servidor = smtp://correo.example.org:587
tls = no
usuario = avisos
clave = /etc/climalog/clave-correo   # solo la lee su dueño
remitente = avisos@example.org
pagina = https://climalog.example.org/
reunir = 30
sitio = Museo

[destinatario ana]
correo = ana@example.org
reconocimientos = si

[destinatario guardia]
webhook = https://avisos.example.org/entrada#guardia	# su fragmento va con él

[regla salas]
estaciones = norte, sur-*
puertos = 1
columnas = Sala (?C), Cámara*
condiciones = alto, bajo, alto
retardo = 5 min
err = 4
destinatarios = ana
recordar = 30
escalar = 60 guardia, ana

[regla puertas]
condiciones = activa,parada
retardo = 90
destinatarios = guardia

[informe salas]
estaciones = norte, sur-*
columnas = Sala*
cada = semanal
hora = 07:30
destinatarios = ana
esperar = 0

[informe mes]
cada = mensual
destinatarios = ana
)";

std::string joined(const std::vector<std::string> &v)
{
    std::string s;
    for (const std::string &x : v)
        s += (s.empty() ? "" : "|") + x;
    return s;
}

} // namespace

TEST(Rules, GoodFileReadWhole)
{
    using C = alarms::Condition;
    alarms::Settings s;
    std::string error;
    ASSERT_TRUE(alarms::parseRules(std::string(goodFile) + "\r\n", "avisos.conf", s, error))
        << error;
    const alarms::MailSettings &m = s.mail;
    EXPECT_EQ(std::tuple(m.url, m.startTls, m.user, m.passwordFile, m.from, m.page, m.gatherSeconds,
                         m.site),
              std::tuple("smtp://correo.example.org:587", false, "avisos",
                         "/etc/climalog/clave-correo", "avisos@example.org",
                         "https://climalog.example.org/", 30, "Museo"));
    std::string recipients;
    for (const alarms::Recipient &r : s.recipients)
        recipients += r.name + "|" + r.mail + "|" + r.webhook + "|" +
            (r.acknowledgements ? "si" : "no") + ";";
    EXPECT_EQ(recipients,
              "ana|ana@example.org||si;guardia||https://avisos.example.org/"
              "entrada#guardia|no;");
    const auto rule = [](const alarms::Rule &r) {
        return std::tuple(r.name, joined(r.stations), joined(r.ports), joined(r.columns),
                          r.conditions, r.delaySeconds, r.errLines, joined(r.recipients),
                          r.remindMinutes, r.escalateMinutes, joined(r.escalateTo));
    };
    ASSERT_EQ(s.rules.size(), 2u);
    EXPECT_EQ(rule(s.rules[0]),
              std::tuple("salas", "norte|sur-*", "1", "Sala (?C)|Cámara*",
                         std::vector{C::Above, C::Below}, 300, 4, "ana", 30, 60, "guardia|ana"));
    EXPECT_EQ(rule(s.rules[1]),
              std::tuple("puertas", "", "", "", std::vector{C::Active, C::Stopped}, 90, 3,
                         "guardia", 0, 0, ""));
    // A report's hour and wait as written, or the next morning's midnight and six hours.
    const auto report = [](const alarms::ReportRule &r) {
        return std::tuple(r.name, joined(r.stations), joined(r.columns), r.every, r.dueMinute,
                          r.waitHours, joined(r.recipients));
    };
    ASSERT_EQ(s.reports.size(), 2u);
    EXPECT_EQ(
        report(s.reports[0]),
        std::tuple("salas", "norte|sur-*", "Sala*", alarms::ReportEvery::Week, 450, 0, "ana"));
    EXPECT_EQ(report(s.reports[1]),
              std::tuple("mes", "", "", alarms::ReportEvery::Month, 0, 6, "ana"));
}

TEST(Rules, BadLineRefusedWithWhereAndWhy)
{
    const std::string rule = "[regla r]\ncondiciones = alto\n", ana = "[destinatario ana]\n",
                      hook = ana + "webhook = https://x.example.org/\n", mail = "[correo]\n",
                      report = "[informe r]\ncada = diario\n";
    const char *const delay =
        "3: «retardo» son segundos (o un número y «s», «min» o «h»), hasta una semana";
    const char *const unknown = "destinatario desconocido «luis»: falta su [destinatario luis]";
    const struct {
        std::string text, error; // the error after "avisos.conf:"
    } cases[] = {
        {"clave = x\n", "1: «clave» fuera de una sección"},
        {"\n# nada\n[correos]\n",
         "3: sección desconocida «correos»: las hay [correo], "
         "[destinatario NOMBRE], [regla NOMBRE] e [informe NOMBRE]"},
        {"[regla r\n", "1: falta el «]» de la sección"},
        {"[regla]\n",
         "1: falta el nombre de la sección, o tiene comas, «]» o caracteres de control"},
        {rule + "condiciones\n", "3: se esperaba «clave = valor» o «[sección]»"},
        {rule + "retardo =\n", "3: falta el valor de «retardo»"},
        {rule + "= 5\n", "3: falta la clave antes de «=»"},
        {rule + "condiciones = bajo\n", "3: la clave «condiciones» está dos veces en la sección"},
        {rule + "umbral = 3\n", "3: clave desconocida «umbral» en [regla r]"},
        {"[regla r]\ncondiciones = alto, frio\n",
         "2: condición desconocida «frio»: las hay alto, bajo, activa, err y parada"},
        {"[regla r]\ncondiciones = alto,,bajo\n", "2: una condición vacía en la lista"},
        {"[regla r]\nretardo = 5\n", "1: la regla «r» no tiene «condiciones»"},
        {rule + "retardo = 5 dias\n", delay},
        {rule + "retardo = -5\n", delay},
        {rule + "retardo = 169 h\n", delay},
        {rule + "err = 0\n", "3: «err» es el número de líneas ERR seguidas, de 1 a 100000"},
        {rule + "recordar = 10081\n",
         "3: «recordar» son los minutos entre recordatorios, de 1 a 10080"},
        {rule + "escalar = 60\n",
         "3: «escalar» son los minutos (de 1 a 10080) y a quién: "
         "«escalar = 60 jefe, guardia»"},
        {hook + rule + "escalar = 60 ana, luis\n", std::string("5: ") + unknown},
        {rule + "destinatarios = luis\n" + hook, std::string("3: ") + unknown},
        {rule + "[regla r]\ncondiciones = bajo\n", "3: la regla «r» está dos veces"},
        {hook + "\n" + hook, "4: el destinatario «ana» está dos veces"},
        {ana + "reconocimientos = si\n" + rule,
         "1: el destinatario «ana» no tiene «correo» ni «webhook»"},
        {ana + "correo = ana\n", "2: «ana» no es una dirección de correo"},
        {ana + "correo = @example.org\n", "2: «@example.org» no es una dirección de correo"},
        {ana + "webhook = ftp://x\n", "2: el webhook va como http://… o https://…"},
        {ana + "webhook = https://\n", "2: el webhook va como http://… o https://…"},
        {ana + "webhook = https://x/\nreconocimientos = a veces\n",
         "3: «reconocimientos» es «si» o «no»"},
        {ana + "correo = ana@example.org\n" + rule + "destinatarios = ana\n",
         "5: el destinatario «ana» tiene correo, pero falta la sección [correo]"},
        {mail + "remitente = a@example.org\n", "1: la sección [correo] no tiene «servidor»"},
        {mail + "servidor = smtp://x:25\n", "1: la sección [correo] no tiene «remitente»"},
        {mail + "servidor = correo.example.org\n",
         "2: el servidor de correo va como smtp://máquina:puerto o smtps://máquina:puerto"},
        {mail + "clave = secreto\n",
         "2: «clave» es la ruta completa de un fichero que guarda "
         "la contraseña, no la contraseña"},
        {mail + "reunir = 3601\n", "2: «reunir» son los segundos, de 0 a 3600"},
        {mail + "tls = quizá\n", "2: «tls» es «si» o «no»"},
        {mail + "servidor = smtp://x:25\nremitente = a@example.org\n[correo]\n",
         "4: la sección [correo] está dos veces"},
        {"[informe r]\ndestinatarios = ana\n", "1: el informe «r» no tiene «cada»"},
        {report, "1: el informe «r» no tiene «destinatarios»"},
        {report + "hora = 7:00\n", "3: «hora» va como HH:MM, de 00:00 a 23:59"},
        {report + "esperar = 169\n",
         "3: «esperar» son las horas que un informe espera sus líneas, de 0 a 168"},
        {hook + report + "destinatarios = ana\n",
         "5: el destinatario «ana» no tiene «correo»: un informe va solo por correo, no por "
         "webhook"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        alarms::Settings s;
        s.rules.emplace_back().name = "en vigor";
        std::string error;
        EXPECT_FALSE(alarms::parseRules(c.text, "avisos.conf", s, error));
        EXPECT_EQ(error, "avisos.conf:" + c.error);
        ASSERT_EQ(s.rules.size(), 1u);
        EXPECT_EQ(s.rules[0].name, "en vigor");
    }
}

// Which names a rule's patterns take: "?" is one character, even one of
// two bytes; "*" any text, none included; the rest exactly, case and all.
TEST(Rules, PatternsMatchWholeNames)
{
    const struct {
        std::vector<std::string> patterns;
        const char *name;
        bool matches;
    } cases[] = {
        {{}, "cualquiera", true},
        {{"Sala (?C)"}, "Sala (ºC)", true},
        {{"Sala ?"}, "Sala ºC", false},
        {{"Sala*"}, "Sala", true},
        {{"Sala*"}, "sala", false},
        {{"*2"}, "Cámara 2", true},
        {{"*2"}, "Cámara 2 bis", false},
        {{"norte"}, "norte-1", false},
        {{"sur", "norte-?"}, "norte-1", true},
        {{"a*b*c"}, "a-b-b-c", true},
        {{"a*b*c"}, "a-c-b", false},
        {{"?"}, "", false},
        {{"*"}, "", true},
    };
    for (const auto &c : cases)
        EXPECT_EQ(alarms::matches(c.patterns, c.name), c.matches)
            << c.name << " ~ " << (c.patterns.empty() ? "" : c.patterns[0]);
}
