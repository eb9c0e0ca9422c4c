// The rules file read into the settings: a good file whole, and each kind of
// bad line refused with its file, its line and why, leaving the settings in
// force as they were.
#include "alarms/rules.h"

#include <gtest/gtest.h>

#include <string>

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

[destinatario ana]
correo = ana@example.org
reconocimientos = si

[destinatario guardia]
webhook = https://avisos.example.org/entrada

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
    alarms::Settings s;
    std::string error;
    ASSERT_TRUE(alarms::parseRules(std::string(goodFile) + "\r\n", "avisos.conf", s, error))
        << error;
    EXPECT_EQ(s.mail.url, "smtp://correo.example.org:587");
    EXPECT_FALSE(s.mail.startTls);
    EXPECT_EQ(s.mail.user, "avisos");
    EXPECT_EQ(s.mail.passwordFile, "/etc/climalog/clave-correo");
    EXPECT_EQ(s.mail.from, "avisos@example.org");
    EXPECT_EQ(s.mail.page, "https://climalog.example.org/");
    EXPECT_EQ(s.mail.gatherSeconds, 30);
    ASSERT_EQ(s.recipients.size(), 2u);
    EXPECT_EQ(s.recipients[0].name, "ana");
    EXPECT_EQ(s.recipients[0].mail, "ana@example.org");
    EXPECT_TRUE(s.recipients[0].acknowledgements);
    EXPECT_EQ(s.recipients[1].webhook, "https://avisos.example.org/entrada");
    EXPECT_FALSE(s.recipients[1].acknowledgements);
    ASSERT_EQ(s.rules.size(), 2u);
    const alarms::Rule &a = s.rules[0];
    EXPECT_EQ(a.name, "salas");
    EXPECT_EQ(joined(a.stations), "norte|sur-*");
    EXPECT_EQ(joined(a.columns), "Sala (?C)|Cámara*");
    EXPECT_EQ(a.conditions,
              (std::vector<alarms::Condition>{alarms::Condition::Above, alarms::Condition::Below}));
    EXPECT_EQ(a.delaySeconds, 300);
    EXPECT_EQ(a.errLines, 4);
    EXPECT_EQ(a.remindMinutes, 30);
    EXPECT_EQ(a.escalateMinutes, 60);
    EXPECT_EQ(joined(a.escalateTo), "guardia|ana");
    const alarms::Rule &b = s.rules[1];
    EXPECT_TRUE(b.stations.empty());
    EXPECT_EQ(
        b.conditions,
        (std::vector<alarms::Condition>{alarms::Condition::Active, alarms::Condition::Stopped}));
    EXPECT_EQ(b.delaySeconds, 90);
    EXPECT_EQ(b.errLines, 3);
    EXPECT_EQ(b.remindMinutes, 0);
}

TEST(Rules, BadLineRefusedWithWhereAndWhy)
{
    const std::string rule = "[regla r]\ncondiciones = alto\n";
    const std::string ana = "[destinatario ana]\nwebhook = https://x.example.org/\n";
    const struct {
        std::string text;
        const char *error;
    } cases[] = {
        {"clave = x\n", "avisos.conf:1: «clave» fuera de una sección"},
        {"\n# nada\n[correos]\n",
         "avisos.conf:3: sección desconocida «correos»: las hay "
         "[correo], [destinatario NOMBRE] y [regla NOMBRE]"},
        {"[regla r\n", "avisos.conf:1: falta el «]» de la sección"},
        {"[regla]\n",
         "avisos.conf:1: falta el nombre de la sección, o tiene comas, «]» o "
         "caracteres de control"},
        {rule + "condiciones\n", "avisos.conf:3: se esperaba «clave = valor» o «[sección]»"},
        {rule + "retardo =\n", "avisos.conf:3: falta el valor de «retardo»"},
        {rule + "= 5\n", "avisos.conf:3: falta la clave antes de «=»"},
        {rule + "condiciones = bajo\n",
         "avisos.conf:3: la clave «condiciones» está dos veces en la sección"},
        {rule + "umbral = 3\n", "avisos.conf:3: clave desconocida «umbral» en [regla r]"},
        {"[regla r]\ncondiciones = alto, frio\n",
         "avisos.conf:2: condición desconocida «frio»: las hay alto, bajo, activa, err y parada"},
        {"[regla r]\ncondiciones = alto,,bajo\n", "avisos.conf:2: una condición vacía en la lista"},
        {"[regla r]\nretardo = 5\n", "avisos.conf:1: la regla «r» no tiene «condiciones»"},
        {rule + "retardo = 5 dias\n",
         "avisos.conf:3: «retardo» son segundos (o un número y «s», "
         "«min» o «h»), hasta una semana"},
        {rule + "retardo = -5\n",
         "avisos.conf:3: «retardo» son segundos (o un número y «s», "
         "«min» o «h»), hasta una semana"},
        {rule + "retardo = 169 h\n",
         "avisos.conf:3: «retardo» son segundos (o un número y «s», "
         "«min» o «h»), hasta una semana"},
        {rule + "err = 0\n",
         "avisos.conf:3: «err» es el número de líneas ERR seguidas, de 1 a 100000"},
        {rule + "recordar = 10081\n",
         "avisos.conf:3: «recordar» son los minutos entre recordatorios, de 1 a 10080"},
        {rule + "escalar = 60\n",
         "avisos.conf:3: «escalar» son los minutos (de 1 a 10080) y a "
         "quién: «escalar = 60 jefe, guardia»"},
        {ana + rule + "escalar = 60 ana, luis\n",
         "avisos.conf:5: destinatario desconocido «luis»: falta su [destinatario luis]"},
        {rule + "destinatarios = luis\n" + ana,
         "avisos.conf:3: destinatario desconocido «luis»: falta su [destinatario luis]"},
        {rule + "[regla r]\ncondiciones = bajo\n", "avisos.conf:3: la regla «r» está dos veces"},
        {ana + "\n" + ana, "avisos.conf:4: el destinatario «ana» está dos veces"},
        {"[destinatario ana]\nreconocimientos = si\n" + rule,
         "avisos.conf:1: el destinatario «ana» no tiene «correo» ni «webhook»"},
        {"[destinatario ana]\ncorreo = ana\n",
         "avisos.conf:2: «ana» no es una dirección de correo"},
        {"[destinatario ana]\ncorreo = @example.org\n",
         "avisos.conf:2: «@example.org» no es una dirección de correo"},
        {"[destinatario ana]\nwebhook = ftp://x\n",
         "avisos.conf:2: el webhook va como http://… o https://…"},
        {"[destinatario ana]\nwebhook = https://\n",
         "avisos.conf:2: el webhook va como http://… o https://…"},
        {"[destinatario ana]\nwebhook = https://x/\nreconocimientos = a veces\n",
         "avisos.conf:3: «reconocimientos» es «si» o «no»"},
        {"[destinatario ana]\ncorreo = ana@example.org\n" + rule + "destinatarios = ana\n",
         "avisos.conf:5: el destinatario «ana» tiene correo, pero falta la sección [correo]"},
        {"[correo]\nremitente = a@example.org\n",
         "avisos.conf:1: la sección [correo] no tiene "
         "«servidor»"},
        {"[correo]\nservidor = smtp://x:25\n",
         "avisos.conf:1: la sección [correo] no tiene "
         "«remitente»"},
        {"[correo]\nservidor = correo.example.org\n",
         "avisos.conf:2: el servidor de correo va como smtp://máquina:puerto o "
         "smtps://máquina:puerto"},
        {"[correo]\nclave = secreto\n",
         "avisos.conf:2: «clave» es la ruta completa de un fichero "
         "que guarda la contraseña, no la contraseña"},
        {"[correo]\nreunir = 3601\n", "avisos.conf:2: «reunir» son los segundos, de 0 a 3600"},
        {"[correo]\ntls = quizá\n", "avisos.conf:2: «tls» es «si» o «no»"},
        {"[correo]\nservidor = smtp://x:25\nremitente = a@example.org\n[correo]\n",
         "avisos.conf:4: la sección [correo] está dos veces"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        alarms::Settings s;
        s.rules.emplace_back().name = "en vigor";
        std::string error;
        EXPECT_FALSE(alarms::parseRules(c.text, "avisos.conf", s, error));
        EXPECT_EQ(error, c.error);
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
        {{"Sala (?C)"}, "Sala (C)", false},
        {{"Sala ?"}, "Sala ºC", false},
        {{"Sala*"}, "Sala", true},
        {{"Sala*"}, "Salas 2", true},
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
