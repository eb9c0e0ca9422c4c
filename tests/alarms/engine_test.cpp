// The engine at each edge of its rules: a limit (equal is inside, as the
// monitor compares in single precision), the delay both ways, runs of ERR
// lines, a stopped port by the lines' gaps and by the clock, reminders and
// escalation by the clock; and the same alarms when the engine stops
// anywhere and goes on from what it stored.
#include "alarms/engine.h"
#include "alarms/rules.h"
#include "support/support.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>

namespace {

using alarms::Condition;

// 2026-12-07 10:00:00 UTC; the cases' times are seconds after it.
constexpr std::int64_t t0 = 1796637600000;

constexpr int sala = 11, puerta = 12;

alarms::PortDef port()
{
    alarms::PortDef p;
    p.id = 3;
    p.station = "norte";
    p.name = "1";
    p.periodSeconds = 5;
    p.series.push_back({sala, "Sala (ºC)", {18.0f, 22.0f, "STT", true}});
    p.series.push_back({puerta, "Puerta - 1", {{}, {}, "DET", true}});
    return p;
}

alarms::Settings settings(std::vector<Condition> conditions, int delay)
{
    alarms::Settings s;
    s.recipients.push_back({"ana", "ana@example.org", "", true});
    s.recipients.push_back({"jefe", "", "https://avisos.example.org/", false});
    alarms::Rule r;
    r.name = "planta";
    r.conditions = std::move(conditions);
    r.delaySeconds = delay;
    r.recipients = {"ana"};
    s.rules.push_back(r);
    return s;
}

std::string secs(std::int64_t ms)
{
    const std::int64_t d = ms - t0;
    return d % 1000 ? std::to_string(d) + "ms" : std::to_string(d / 1000);
}

std::string number(std::optional<double> v) { return v ? shortest(*v) : "-"; }

// The alarms as the table would hold them after every change (by key, the
// latest wins), and the notifications in order.
struct Record {
    std::map<alarms::AlarmKey, alarms::Alarm> alarms;
    std::string notices;
    void take(const alarms::Outcome &o)
    {
        for (const alarms::Alarm &a : o.changed)
            alarms[a.key] = a;
        for (const alarms::Notice &n : o.notices)
            notices += std::string(alarms::eventName(n.event)) + "@" + secs(n.at) + " " +
                n.recipient + " " + n.channel + ";";
    }
    std::string text() const
    {
        std::string out;
        for (const auto &[k, a] : alarms)
            out += std::string(alarms::conditionName(k.condition)) + " " +
                (k.serie ? std::to_string(k.serie) : "puerto") + " " + secs(k.start) + "-" +
                (a.end ? secs(*a.end) : "") + " " + number(a.extreme) + " " + number(a.limit) + ";";
        return out;
    }
};

// Runs a case's steps: "S=V" a line at second S whose series' reading is V
// (or ERR), "@S" the clock at second S, "ack@S" the alarm acknowledged on
// the page, "quiet@S+M" silenced at S for M minutes. Lines of the door
// carry the room's reading 20 and those of the room the door's 0.
void run(alarms::Engine &e, int serie, const std::string &steps, Record &rec)
{
    std::istringstream in(steps);
    for (std::string w; in >> w;) {
        alarms::Outcome out;
        if (w.starts_with("@")) {
            e.tick(t0 + std::stoll(w.substr(1)) * 1000, out);
        } else if (w.starts_with("ack@") || w.starts_with("quiet@")) {
            const std::size_t at = w.find('@'), plus = w.find('+');
            const std::int64_t s = std::stoll(w.substr(at + 1, plus - at - 1));
            for (const alarms::Alarm &a : e.activeAlarms())
                if (w[0] == 'a')
                    e.pageChanged(a.key, true, 0);
                else
                    e.pageChanged(a.key, false,
                                  t0 + (s + std::stoll(w.substr(plus + 1)) * 60) * 1000);
        } else {
            const std::size_t eq = w.find('=');
            const std::string v = w.substr(eq + 1);
            alarms::Line l{t0 + std::stoll(w.substr(0, eq)) * 1000, {}};
            const std::optional<double> value =
                v == "ERR" ? std::nullopt : std::optional<double>(std::stod(v));
            l.readings = {{sala, serie == sala ? value : 20.0},
                          {puerta, serie == puerta ? value : 0.0}};
            e.judge(3, {l}, out);
        }
        rec.take(out);
    }
}

// "S=V" lines every `step` seconds from `from` to `to` (both included).
std::string lines(int from, int to, int step, const char *v)
{
    std::string s;
    for (int t = from; t <= to; t += step)
        s += std::to_string(t) + "=" + v + " ";
    return s;
}

struct Case {
    const char *name, *conditions; // by their names in the rules file
    int delay;
    int serie;
    std::string steps;
    const char *alarms, *notices; // each entry ended by ';'
    int errLines = 3, remind = 0, escalate = 0;
};

std::vector<Case> cases()
{
    return {
        {"above the maximum: raised at its first line, ended at the first inside", "alto bajo", 0,
         sala, "0=21 10=22.5 20=23.25 30=22 40=23", "alto 11 10-30 23.25 22;alto 11 40- 23 22;",
         "alta@10 ana correo;fin@30 ana correo;alta@40 ana correo;"},
        {"equal to the maximum is inside, in single precision too; just above it is not", "alto", 0,
         sala, "0=22 10=22.0000001 20=22.01", "alto 11 20- 22.01 22;", "alta@20 ana correo;"},
        {"equal to the minimum is inside, below it the lowest kept", "alto bajo", 0, sala,
         "0=18 10=17.5 20=17 30=17.9 40=18", "bajo 11 10-40 17 18;",
         "alta@10 ana correo;fin@40 ana correo;"},
        {"open for 10 s less than the delay raises nothing", "activa", 300, puerta,
         lines(0, 290, 10, "1") + lines(300, 900, 10, "0"), "", ""},
        {"open for the whole delay: raised from its first line, ended after it is shut as long",
         "activa", 300, puerta, lines(0, 300, 10, "1") + lines(310, 600, 10, "0") + "610=0",
         "activa 12 0-310 1 -;", "alta@0 ana correo;fin@310 ana correo;"},
        {"shut for less than the delay: the same alarm goes on", "activa", 300, puerta,
         lines(0, 300, 10, "1") + lines(310, 600, 10, "0") + lines(610, 700, 10, "1"),
         "activa 12 0- 1 -;", "alta@0 ana correo;"},
        {"ERR lines tell nothing of a limit", "alto", 0, sala, "0=23 10=ERR 20=ERR 30=23.5 40=21",
         "alto 11 0-40 23.5 22;", "alta@0 ana correo;fin@40 ana correo;"},
        {"three ERR lines in a row, not two", "err", 0, sala,
         "0=ERR 10=ERR 20=21 30=ERR 40=ERR 50=ERR 60=21", "err 11 30-60 - -;",
         "alta@30 ana correo;fin@60 ana correo;"},
        {"a gap longer than three periods (at least a minute) is a stop", "parada", 0, sala,
         "0=21 60=21 150=21 160=21", "parada puerto 120-150 - -;",
         "alta@120 ana correo;fin@150 ana correo;"},
        {"by the clock: stopped only past the allowance, ended by the next line", "parada", 0, sala,
         "0=21 10=21 @70 @71 @500 200=21 210=21", "parada puerto 70-200 - -;",
         "alta@70 ana correo;fin@200 ana correo;"},
        {"reminders every 30 min and one escalation at 60 while unacknowledged", "alto", 0, sala,
         "0=23 @1799 @1800 @2700 @3600 @3601 ack@3700 @5400", "alto 11 0- 23 22;",
         "alta@0 ana correo;recordatorio@1800 ana correo;recordatorio@3600 ana correo;"
         "escalado@3600 jefe webhook;",
         3, 30, 60},
        {"silenced: nothing until the silence ends, then what is due", "alto", 0, sala,
         "0=23 quiet@10+100 @1800 @3600 @6010 @7200", "alto 11 0- 23 22;",
         "alta@0 ana correo;recordatorio@5400 ana correo;escalado@3600 jefe webhook;"
         "recordatorio@7200 ana correo;",
         3, 30, 60},
        {"an alarm over is reminded of no more", "alto", 0, sala, "0=23 10=21 @1800",
         "alto 11 0-10 23 22;", "alta@0 ana correo;fin@10 ana correo;", 3, 30, 60},
    };
}

alarms::Settings settingsOf(const Case &c)
{
    std::vector<Condition> conditions;
    std::istringstream in(c.conditions);
    for (std::string w; in >> w;)
        conditions.push_back(*alarms::conditionNamed(w));
    alarms::Settings s = settings(conditions, c.delay);
    s.rules[0].errLines = c.errLines;
    s.rules[0].remindMinutes = c.remind;
    s.rules[0].escalateMinutes = c.escalate;
    if (c.escalate)
        s.rules[0].escalateTo = {"jefe"};
    return s;
}

} // namespace

// Each case run whole, and stopped after some step and started again from
// its stored state and active alarms (as a kill and a restart would leave
// them): the same alarms, the same notifications, none twice.
TEST(Engine, JudgesEachEdgeAlsoAcrossARestart)
{
    for (const Case &c : cases()) {
        std::istringstream in(c.steps);
        std::vector<std::string> words;
        for (std::string w; in >> w;)
            words.push_back(w);
        std::vector<std::size_t> cuts{words.size()}; // words.size(): no stop
        for (std::size_t cut = 1; cut < words.size(); cut += 1 + words.size() / 7)
            cuts.push_back(cut);
        for (const std::size_t cut : cuts) {
            SCOPED_TRACE(std::string(c.name) + ", stopped after step " + std::to_string(cut));
            std::string first, second;
            for (std::size_t i = 0; i < words.size(); ++i)
                (i < cut ? first : second) += words[i] + " ";
            Record rec;
            std::string state;
            std::vector<alarms::Alarm> active;
            {
                alarms::Engine e;
                e.configure(settingsOf(c));
                e.setPort(port());
                run(e, c.serie, first, rec);
                state = e.state(3);
                active = e.activeAlarms();
            }
            alarms::Engine again;
            again.configure(settingsOf(c));
            again.setPort(port());
            again.restore(3, state, active);
            run(again, c.serie, second, rec);
            EXPECT_EQ(rec.text(), c.alarms);
            EXPECT_EQ(rec.notices, c.notices);
        }
    }
}

// Acknowledgements go to those of the rule, and those it escalates to, who
// asked for them; the rule's other recipients hear nothing of it.
TEST(Engine, AcknowledgementToThoseWhoAsked)
{
    alarms::Settings s = settings({Condition::Above}, 0);
    s.recipients.push_back({"eva", "eva@example.org", "https://eva.example.org/", true});
    s.rules[0].recipients = {"ana", "jefe"};
    s.rules[0].escalateTo = {"eva", "ana"};
    alarms::Engine e;
    e.configure(s);
    const alarms::AlarmKey key{"planta", 3, sala, Condition::Above, t0};
    Record rec;
    rec.take({{}, e.acknowledgement(key, t0 + 5000)});
    EXPECT_EQ(rec.notices,
              "reconocido@5 ana correo;reconocido@5 eva correo;reconocido@5 eva webhook;");
    EXPECT_TRUE(e.acknowledgement({"otra", 3, sala, Condition::Above, t0}, t0).empty());
}

// A rule taken out of the file (a reload, or a start with the new file)
// ends its active alarms at the clock's next look, telling nobody; the
// other rule's alarm stays.
TEST(Engine, ARuleTakenOutEndsItsAlarms)
{
    alarms::Settings both = settings({Condition::Above}, 0), after = both;
    both.rules.push_back(both.rules[0]);
    both.rules[1].name = "vieja";
    for (const bool restarted : {false, true}) {
        SCOPED_TRACE(restarted ? "restarted" : "reloaded");
        alarms::Engine e;
        e.configure(both);
        e.setPort(port());
        Record rec;
        run(e, sala, "10=31", rec);
        ASSERT_EQ(e.activeAlarms().size(), 2u);
        alarms::Engine again;
        alarms::Engine &now = restarted ? again : e;
        if (restarted) {
            again.configure(after);
            again.setPort(port());
            again.restore(3, e.state(3), e.activeAlarms());
        }
        now.configure(after);
        rec.notices.clear();
        run(now, sala, "@20", rec);
        ASSERT_EQ(now.activeAlarms().size(), 1u);
        EXPECT_EQ(now.activeAlarms()[0].key.rule, "planta");
        EXPECT_EQ(rec.alarms.at({"vieja", 3, sala, Condition::Above, t0 + 10000}).end, t0 + 20000);
        EXPECT_EQ(rec.notices, "");
    }
}
