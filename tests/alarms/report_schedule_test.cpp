// The reports' rules as the rules file gives them, and their schedule alone:
// each period's edges in the station's zone across both changes of 2026, a
// week from Monday, a month from the 31st of January, the periods a program
// down for days missed, and a period whose lines are late.
#include "alarms/rules.h"
#include "alarms/schedule.h"

#include <QDateTime>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <string>

namespace {

std::int64_t utc(const char *iso)
{
    return QDateTime::fromString(QString::fromLatin1(iso), Qt::ISODateWithMs).toMSecsSinceEpoch();
}
std::string iso(std::int64_t ms)
{
    return QDateTime::fromMSecsSinceEpoch(ms, QTimeZone::utc())
        .toString(QStringLiteral("yyyy-MM-ddTHH:mm:ssZ"))
        .toStdString();
}
std::string text(const alarms::DuePeriod &p)
{
    return iso(p.from) + " " + iso(p.to) + " " + iso(p.due);
}

} // namespace

TEST(ReportRules, SectionReadAndRefused)
{
    const std::string head =
        "[correo]\nservidor = smtp://c.example.org\nremitente = a@example.org\n"
        "sitio = Museo del Prado\n[destinatario ana]\ncorreo = ana@example.org\n"
        "[destinatario guardia]\nwebhook = https://x.example.org/\n";
    alarms::Settings s;
    std::string error;
    ASSERT_TRUE(alarms::parseRules(head +
                                       "[informe salas]\nestaciones = norte, sur-*\n"
                                       "columnas = Sala*\ncada = semanal\nhora = 07:30\n"
                                       "destinatarios = ana\nesperar = 0\n"
                                       "[informe mes]\ncada = mensual\ndestinatarios = ana\n",
                                   "avisos.conf", s, error))
        << error;
    EXPECT_EQ(s.mail.site, "Museo del Prado");
    ASSERT_EQ(s.reports.size(), 2u);
    const alarms::ReportRule &r = s.reports[0];
    EXPECT_EQ(r.name, "salas");
    EXPECT_EQ(r.stations, (std::vector<std::string>{"norte", "sur-*"}));
    EXPECT_TRUE(r.ports.empty());
    EXPECT_EQ(r.columns, std::vector<std::string>{"Sala*"});
    EXPECT_EQ(r.every, alarms::ReportEvery::Week);
    EXPECT_EQ(r.dueMinute, 450);
    EXPECT_EQ(r.waitHours, 0);
    EXPECT_EQ(s.reports[1].every, alarms::ReportEvery::Month);
    EXPECT_EQ(s.reports[1].dueMinute, 0);
    EXPECT_EQ(s.reports[1].waitHours, 6);

    const std::string report = "[informe r]\ncada = diario\n"; // lines 9 and 10
    const struct {
        std::string text, error; // the error after "avisos.conf:"
    } cases[] = {
        {report + "destinatarios = guardia\n",
         "11: el destinatario «guardia» no tiene «correo»: un informe va solo por correo, no por "
         "webhook"},
        {report + "destinatarios = luis\n",
         "11: destinatario desconocido «luis»: falta su [destinatario luis]"},
        {"[informe r]\ndestinatarios = ana\n", "9: el informe «r» no tiene «cada»"},
        {report, "9: el informe «r» no tiene «destinatarios»"},
        {report + "destinatarios = ana\n[informe r]\n", "12: el informe «r» está dos veces"},
        {"[informe r]\ncada = anual\n", "10: «cada» es «diario», «semanal» o «mensual»"},
        {report + "hora = 7:00\n", "11: «hora» va como HH:MM, de 00:00 a 23:59"},
        {report + "hora = 24:00\n", "11: «hora» va como HH:MM, de 00:00 a 23:59"},
        {report + "esperar = 169\n",
         "11: «esperar» son las horas que un informe espera sus líneas, de 0 a 168"},
        {report + "condiciones = alto\n", "11: clave desconocida «condiciones» en [informe r]"},
    };
    for (const auto &c : cases) {
        alarms::Settings kept;
        kept.reports.emplace_back().name = "en vigor";
        EXPECT_FALSE(alarms::parseRules(head + c.text, "avisos.conf", kept, error)) << c.text;
        EXPECT_EQ(error, "avisos.conf:" + c.error) << c.text;
        EXPECT_EQ(kept.reports.size(), 1u);
    }
    // Without [correo], a report has no way out.
    EXPECT_FALSE(alarms::parseRules(
        "[destinatario ana]\ncorreo = ana@example.org\n[informe r]\ncada = diario\n"
        "destinatarios = ana\n",
        "avisos.conf", s, error));
    EXPECT_EQ(error, "avisos.conf:5: el informe «r» va por correo, pero falta la sección [correo]");
}

// Europe/Madrid: UTC+1 in winter, +2 from 29 March 02:00 to 25 October 03:00.
TEST(ReportSchedule, PeriodsDueInTheStationsZone)
{
    using alarms::ReportEvery;
    const struct {
        ReportEvery every;
        int dueMinute;
        const char *lastTo; // the end of the last period sent; null: none
        const char *now;
        int count; // periods due, and the oldest's and the latest's [from, to) and due
        std::string first, last;
    } cases[] = {
        // The spring change's day: 23 hours, due the next morning and not a ms before.
        {ReportEvery::Day, 420, "2026-03-28T23:00:00Z", "2026-03-30T05:00:00Z", 1,
         "2026-03-28T23:00:00Z 2026-03-29T22:00:00Z 2026-03-30T05:00:00Z", ""},
        {ReportEvery::Day, 420, "2026-03-28T23:00:00Z", "2026-03-30T04:59:59.999Z", 0, "", ""},
        // The autumn change's day: 25 hours.
        {ReportEvery::Day, 420, "2026-10-24T22:00:00Z", "2026-10-26T06:00:00Z", 1,
         "2026-10-24T22:00:00Z 2026-10-25T23:00:00Z 2026-10-26T06:00:00Z", ""},
        // Nothing sent yet: the latest period due alone.
        {ReportEvery::Day, 0, nullptr, "2026-12-09T00:00:00Z", 1,
         "2026-12-07T23:00:00Z 2026-12-08T23:00:00Z 2026-12-08T23:00:00Z", ""},
        // Weekly, Monday to Monday: before Monday's 07:00 the week before it is the latest.
        {ReportEvery::Week, 420, nullptr, "2026-12-14T05:59:59Z", 1,
         "2026-11-29T23:00:00Z 2026-12-06T23:00:00Z 2026-12-07T06:00:00Z", ""},
        {ReportEvery::Week, 420, "2026-12-06T23:00:00Z", "2026-12-14T06:00:00Z", 1,
         "2026-12-06T23:00:00Z 2026-12-13T23:00:00Z 2026-12-14T06:00:00Z", ""},
        // Monthly: on the 31st of January, December's; February after January's.
        {ReportEvery::Month, 420, nullptr, "2026-01-31T12:00:00Z", 1,
         "2025-11-30T23:00:00Z 2025-12-31T23:00:00Z 2026-01-01T06:00:00Z", ""},
        {ReportEvery::Month, 420, "2026-01-31T23:00:00Z", "2026-02-28T23:59:00Z", 0, "", ""},
        {ReportEvery::Month, 420, "2026-01-31T23:00:00Z", "2026-03-01T06:00:00Z", 1,
         "2026-01-31T23:00:00Z 2026-02-28T23:00:00Z 2026-03-01T06:00:00Z", ""},
        // Down from the 6th to the 9th: the three days missed, once each.
        {ReportEvery::Day, 420, "2026-12-05T23:00:00Z", "2026-12-09T08:00:00Z", 3,
         "2026-12-05T23:00:00Z 2026-12-06T23:00:00Z 2026-12-07T06:00:00Z",
         "2026-12-07T23:00:00Z 2026-12-08T23:00:00Z 2026-12-09T06:00:00Z"},
        // Down since October: the latest 31 days only.
        {ReportEvery::Day, 420, "2026-10-01T22:00:00Z", "2026-12-09T08:00:00Z", 31,
         "2026-11-07T23:00:00Z 2026-11-08T23:00:00Z 2026-11-09T06:00:00Z",
         "2026-12-07T23:00:00Z 2026-12-08T23:00:00Z 2026-12-09T06:00:00Z"},
        {ReportEvery::Month, 1439, "2026-08-31T22:00:00Z", "2026-12-09T08:00:00Z", 3,
         "2026-08-31T22:00:00Z 2026-09-30T22:00:00Z 2026-10-01T21:59:00Z",
         "2026-10-31T23:00:00Z 2026-11-30T23:00:00Z 2026-12-01T22:59:00Z"},
    };
    for (const auto &c : cases) {
        alarms::ReportRule r;
        r.every = c.every;
        r.dueMinute = c.dueMinute;
        const auto last = c.lastTo ? std::optional(utc(c.lastTo)) : std::nullopt;
        const auto due = alarms::duePeriods(r, "Europe/Madrid", last, utc(c.now));
        ASSERT_EQ(int(due.size()), c.count) << c.now;
        if (c.count == 0)
            continue;
        EXPECT_EQ(text(due.front()), c.first) << c.now;
        EXPECT_EQ(text(due.back()), c.last.empty() ? c.first : c.last) << c.now;
        for (std::size_t i = 1; i < due.size(); ++i)
            EXPECT_EQ(due[i].from, due[i - 1].to) << c.now;
    }
    EXPECT_TRUE(
        alarms::duePeriods({}, "Europa/Nada", std::nullopt, utc("2026-12-09T08:00:00Z")).empty());
}

// A period whose lines are late waits `esperar` hours after it is due, then goes saying so.
TEST(ReportSchedule, LateLinesWaitThenGo)
{
    const std::int64_t due = utc("2026-12-09T06:00:00Z"), hour = 3600 * 1000;
    using alarms::Readiness;
    const struct {
        bool complete;
        int waitHours;
        std::int64_t now;
        Readiness expected;
    } cases[] = {
        {false, 6, due, Readiness::Wait},
        {false, 6, due + 6 * hour - 1, Readiness::Wait},
        {false, 6, due + 6 * hour, Readiness::SendIncomplete},
        {true, 6, due + 6 * hour - 1, Readiness::Send},
        {false, 0, due, Readiness::SendIncomplete},
        {true, 0, due + 100 * hour, Readiness::Send},
    };
    for (const auto &c : cases)
        EXPECT_EQ(alarms::readiness(c.complete, due, c.waitHours, c.now), c.expected)
            << c.waitHours << " " << c.now - due;
}
