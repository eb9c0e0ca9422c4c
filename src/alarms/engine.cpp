#include "alarms/engine.h"

#include "alarms/rules.h"

#include <algorithm>
#include <charconv>
#include <sstream>

namespace alarms {

const char *eventName(Event e)
{
    switch (e) {
    case Event::Raised:
        return "alta";
    case Event::Ended:
        return "fin";
    case Event::Acknowledged:
        return "reconocido";
    case Event::Reminder:
        return "recordatorio";
    case Event::Escalated:
        return "escalado";
    }
    return "";
}

namespace {

// Whether a condition can hold for a series at all.
bool applies(Condition c, const central::Watch &w)
{
    switch (c) {
    case Condition::Above:
        return w.watched && w.max && !central::isInput(w.deviceType);
    case Condition::Below:
        return w.watched && w.min && !central::isInput(w.deviceType);
    case Condition::Active:
        return w.watched && central::isInput(w.deviceType);
    case Condition::Err:
        return true;
    case Condition::Stopped:
        break;
    }
    return false;
}

central::Mark markFor(Condition c)
{
    return c == Condition::Above ? central::Mark::Above
        : c == Condition::Below  ? central::Mark::Below
        : c == Condition::Active ? central::Mark::Active
                                 : central::Mark::None;
}

// A limit as the configuration holds it (single precision), as a person
// wrote it: 21.9, not 21.899999618530273.
double asWritten(float f)
{
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, f).ptr;
    double d = 0;
    std::from_chars(text, end, d);
    return d;
}

std::optional<double> farther(Condition c, std::optional<double> was, std::optional<double> v)
{
    if (!v || c == Condition::Err)
        return was;
    if (!was)
        return v;
    return c == Condition::Below ? std::min(*was, *v) : std::max(*was, *v);
}

std::string text(std::optional<std::int64_t> v) { return v ? std::to_string(*v) : "-"; }
std::string text(std::optional<double> v)
{
    if (!v)
        return "-";
    char buf[32];
    return std::string(buf, std::to_chars(buf, buf + sizeof buf, *v).ptr);
}
template <typename T>
std::optional<T> valueOf(const std::string &s)
{
    T v{};
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (ec != std::errc() || end != s.data() + s.size())
        return std::nullopt;
    return v;
}

std::vector<std::string> fields(const std::string &line)
{
    std::vector<std::string> out;
    std::stringstream in(line);
    for (std::string f; std::getline(in, f, '\t');)
        out.push_back(f);
    return out;
}

} // namespace

void Engine::configure(Settings settings)
{
    settings_ = std::move(settings);
    for (auto &[id, p] : ports_)
        std::erase_if(p.tracks, [&](const auto &t) {
            return !t.second.alarm && !rule(std::get<0>(t.first));
        });
}

const Rule *Engine::rule(const std::string &name) const
{
    for (const Rule &r : settings_.rules)
        if (r.name == name)
            return &r;
    return nullptr;
}

void Engine::setPort(PortDef port) { ports_[port.id].def = std::move(port); }

bool Engine::ruleTakesPort(const Rule &r, const Port &p) const
{
    return matches(r.stations, p.def.station) && matches(r.ports, p.def.name);
}

void Engine::notify(const std::vector<std::string> &to, const AlarmKey &key, Event e,
                    std::int64_t at, Outcome &out) const
{
    for (const std::string &name : to) {
        const auto found = std::find_if(settings_.recipients.begin(), settings_.recipients.end(),
                                        [&](const Recipient &x) { return x.name == name; });
        if (found == settings_.recipients.end())
            continue;
        if (!found->mail.empty())
            out.notices.push_back({key, e, at, name, "correo", found->mail});
        if (!found->webhook.empty())
            out.notices.push_back({key, e, at, name, "webhook", found->webhook});
    }
}

void Engine::step(Port &p, const Rule &r, const SeriesDef &s, Condition c,
                  std::optional<double> value, std::int64_t at, Outcome &out)
{
    // An ERR reading tells nothing of a value's condition.
    if (c != Condition::Err && !value)
        return;
    const bool holds = c == Condition::Err ? !value : central::markOf(s.watch, value) == markFor(c);
    Track &t = p.tracks[{r.name, s.id, c}];
    const std::int64_t delay = std::int64_t(r.delaySeconds) * 1000;
    if (t.alarm) {
        if (holds) {
            t.goneSince.reset();
            const std::optional<double> e = farther(c, t.alarm->extreme, value);
            if (e != t.alarm->extreme) {
                t.alarm->extreme = e;
                out.changed.push_back(*t.alarm);
            }
            return;
        }
        if (!t.goneSince)
            t.goneSince = at;
        if (at - *t.goneSince < delay)
            return;
        t.alarm->end = *t.goneSince;
        out.changed.push_back(*t.alarm);
        notify(r.recipients, t.alarm->key, Event::Ended, *t.goneSince, out);
        t.alarm.reset();
        t.goneSince.reset();
        return;
    }
    if (!holds) {
        t.since.reset();
        t.extreme.reset();
        t.errRun = 0;
        return;
    }
    if (!t.since)
        t.since = at;
    ++t.errRun;
    t.extreme = farther(c, t.extreme, value);
    if (at - *t.since < delay || (c == Condition::Err && t.errRun < r.errLines))
        return;
    Alarm a;
    a.key = {r.name, p.def.id, s.id, c, *t.since};
    a.extreme = t.extreme;
    if (c == Condition::Above)
        a.limit = asWritten(*s.watch.max);
    else if (c == Condition::Below)
        a.limit = asWritten(*s.watch.min);
    t.alarm = a;
    t.since.reset();
    t.extreme.reset();
    t.errRun = 0;
    out.changed.push_back(a);
    notify(r.recipients, a.key, Event::Raised, a.key.start, out);
}

// A line of a port that a rule watches for stopping, at `at`: it ends the
// port's stop, or shows one in the gap before it.
void Engine::stopped(Port &p, const Rule &r, std::int64_t at, Outcome &out)
{
    Track &t = p.tracks[{r.name, 0, Condition::Stopped}];
    const std::int64_t allowed = central::staleAllowance(p.def.periodSeconds);
    if (!t.alarm) {
        if (!p.last || at - *p.last <= allowed)
            return;
        Alarm a;
        a.key = {r.name, p.def.id, 0, Condition::Stopped, *p.last + allowed};
        t.alarm = a;
        out.changed.push_back(a);
        notify(r.recipients, a.key, Event::Raised, a.key.start, out);
    }
    t.alarm->end = at;
    out.changed.push_back(*t.alarm);
    notify(r.recipients, t.alarm->key, Event::Ended, at, out);
    t.alarm.reset();
}

void Engine::judge(int port, const std::vector<Line> &lines, Outcome &out)
{
    Port &p = ports_[port];
    p.def.id = port;
    for (const Line &line : lines) {
        for (const Rule &r : settings_.rules) {
            if (!ruleTakesPort(r, p))
                continue;
            for (const Condition c : r.conditions)
                if (c == Condition::Stopped)
                    stopped(p, r, line.at, out);
            for (const SeriesDef &s : p.def.series) {
                if (!matches(r.columns, s.column))
                    continue;
                const auto reading =
                    std::find_if(line.readings.begin(), line.readings.end(),
                                 [&](const Reading &x) { return x.serie == s.id; });
                if (reading == line.readings.end())
                    continue;
                for (const Condition c : r.conditions)
                    if (applies(c, s.watch))
                        step(p, r, s, c, reading->value, line.at, out);
            }
        }
        p.last = line.at;
    }
}

void Engine::tick(std::int64_t now, Outcome &out)
{
    for (auto &[id, p] : ports_) {
        for (const Rule &r : settings_.rules) {
            if (!p.last || !ruleTakesPort(r, p) ||
                std::find(r.conditions.begin(), r.conditions.end(), Condition::Stopped) ==
                    r.conditions.end())
                continue;
            Track &t = p.tracks[{r.name, 0, Condition::Stopped}];
            const std::int64_t allowed = central::staleAllowance(p.def.periodSeconds);
            if (t.alarm || now - *p.last <= allowed)
                continue;
            Alarm a;
            a.key = {r.name, id, 0, Condition::Stopped, *p.last + allowed};
            t.alarm = a;
            out.changed.push_back(a);
            notify(r.recipients, a.key, Event::Raised, a.key.start, out);
        }
        // An alarm of a rule taken out of the rules file ends when the clock
        // next looks (at a start, its first look), without a message: its
        // rule named who heard of it.
        for (auto it = p.tracks.begin(); it != p.tracks.end();) {
            if (it->second.alarm && !rule(std::get<0>(it->first))) {
                Alarm a = *it->second.alarm;
                a.end = std::max(now, a.key.start);
                out.changed.push_back(a);
                it = p.tracks.erase(it);
            } else {
                ++it;
            }
        }
        for (auto &[key, t] : p.tracks) {
            const Rule *r = rule(std::get<0>(key));
            if (!t.alarm || !r || t.alarm->acknowledged || t.alarm->silencedUntil > now)
                continue;
            Alarm &a = *t.alarm;
            if (r->remindMinutes > 0) {
                const std::int64_t every = std::int64_t(r->remindMinutes) * 60000;
                const std::int64_t due = a.key.start + (now - a.key.start) / every * every;
                if (due > a.key.start && due > a.lastReminder) {
                    a.lastReminder = due;
                    notify(r->recipients, a.key, Event::Reminder, due, out);
                }
            }
            const std::int64_t escalate = a.key.start + std::int64_t(r->escalateMinutes) * 60000;
            if (r->escalateMinutes > 0 && !a.escalated && now >= escalate) {
                a.escalated = true;
                notify(r->escalateTo, a.key, Event::Escalated, escalate, out);
            }
        }
    }
}

void Engine::pageChanged(const AlarmKey &key, bool acknowledged, std::int64_t silencedUntil)
{
    const auto p = ports_.find(key.port);
    if (p == ports_.end())
        return;
    const auto t = p->second.tracks.find({key.rule, key.serie, key.condition});
    if (t == p->second.tracks.end() || !t->second.alarm || t->second.alarm->key != key)
        return;
    t->second.alarm->acknowledged = acknowledged;
    t->second.alarm->silencedUntil = silencedUntil;
}

std::vector<Notice> Engine::acknowledgement(const AlarmKey &key, std::int64_t at) const
{
    Outcome out;
    const Rule *r = rule(key.rule);
    if (!r)
        return {};
    std::vector<std::string> to;
    for (const std::vector<std::string> *list : {&r->recipients, &r->escalateTo})
        for (const std::string &name : *list) {
            const auto found =
                std::find_if(settings_.recipients.begin(), settings_.recipients.end(),
                             [&](const Recipient &x) { return x.name == name; });
            if (found != settings_.recipients.end() && found->acknowledgements &&
                std::find(to.begin(), to.end(), name) == to.end())
                to.push_back(name);
        }
    notify(to, key, Event::Acknowledged, at, out);
    return out.notices;
}

// One line a track: "P", rule, series, condition, since, extreme, ERR run,
// gone since; and "L" with the latest line's instant.
std::string Engine::state(int port) const
{
    const auto p = ports_.find(port);
    if (p == ports_.end())
        return {};
    std::string out = "L\t" + text(p->second.last) + "\n";
    for (const auto &[key, t] : p->second.tracks) {
        if (!t.since && !t.goneSince && t.errRun == 0)
            continue;
        out += "P\t" + std::get<0>(key) + "\t" + std::to_string(std::get<1>(key)) + "\t" +
            conditionName(std::get<2>(key)) + "\t" + text(t.since) + "\t" + text(t.extreme) + "\t" +
            std::to_string(t.errRun) + "\t" + text(t.goneSince) + "\n";
    }
    return out;
}

void Engine::restore(int port, const std::string &state, const std::vector<Alarm> &active)
{
    Port &p = ports_[port];
    p.def.id = port;
    p.tracks.clear();
    p.last.reset();
    for (const Alarm &a : active)
        if (a.key.port == port && !a.end)
            p.tracks[{a.key.rule, a.key.serie, a.key.condition}].alarm = a;
    std::stringstream in(state);
    for (std::string line; std::getline(in, line);) {
        const std::vector<std::string> f = fields(line);
        if (f.size() == 2 && f[0] == "L") {
            p.last = valueOf<std::int64_t>(f[1]);
            continue;
        }
        const std::optional<int> serie = f.size() == 8 ? valueOf<int>(f[2]) : std::nullopt;
        const std::optional<Condition> c = f.size() == 8 ? conditionNamed(f[3]) : std::nullopt;
        if (f.size() != 8 || f[0] != "P" || !serie || !c || !rule(f[1]))
            continue; // another version's, or a rule no longer there
        Track &t = p.tracks[{f[1], *serie, *c}];
        t.since = valueOf<std::int64_t>(f[4]);
        t.extreme = valueOf<double>(f[5]);
        t.errRun = valueOf<int>(f[6]).value_or(0);
        t.goneSince = t.alarm ? valueOf<std::int64_t>(f[7]) : std::nullopt;
    }
}

std::optional<std::int64_t> Engine::lastLine(int port) const
{
    const auto p = ports_.find(port);
    return p == ports_.end() ? std::nullopt : p->second.last;
}

std::vector<Alarm> Engine::activeAlarms() const
{
    std::vector<Alarm> out;
    for (const auto &[id, p] : ports_)
        for (const auto &[key, t] : p.tracks)
            if (t.alarm)
                out.push_back(*t.alarm);
    return out;
}

} // namespace alarms
