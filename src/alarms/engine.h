// The alarm engine: judges each port's lines, in the order of their times
// and by their own instants, against the rules, and the clock for what no
// line can tell (a stopped port, reminders, escalations). It keeps no
// database: it is told the ports, the lines and what was stored, and says
// which alarms changed and which notifications each change queues, for its
// caller to store in one transaction.
#pragma once

#include "alarms/settings.h"
#include "central/marks.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

namespace alarms {

struct SeriesDef {
    int id = 0;
    std::string column;
    central::Watch watch; // from its port's latest configuration
};

struct PortDef {
    int id = 0;
    std::string station, name;
    int periodSeconds = 0; // the longest sampling period of its devices; 0: not known
    std::vector<SeriesDef> series;
};

// A line of a port: its instant (ms since the epoch) and the readings of
// the series its header holds (none: ERR).
struct Reading {
    int serie = 0;
    std::optional<double> value;
};
struct Line {
    std::int64_t at = 0;
    std::vector<Reading> readings;
};

// What names an alarm, as the table's unique key does. `serie` 0: the
// port's own (parada).
struct AlarmKey {
    std::string rule;
    int port = 0;
    int serie = 0;
    Condition condition = Condition::Above;
    std::int64_t start = 0; // inicio
    auto operator<=>(const AlarmKey &) const = default;
};

struct Alarm {
    AlarmKey key;
    std::optional<std::int64_t> end; // fin; none while active
    std::optional<double> extreme, limit;
    // As the page left it.
    bool acknowledged = false;
    std::int64_t silencedUntil = 0;
    // What the clock has queued of it.
    std::int64_t lastReminder = 0; // the instant of the latest reminder; 0: none
    bool escalated = false;
};

enum class Event { Raised, Ended, Acknowledged, Reminder, Escalated };
const char *eventName(Event e); // "alta" "fin" "reconocido" "recordatorio" "escalado"

// One salida row: an event of an alarm for one recipient on one channel.
struct Notice {
    AlarmKey alarm;
    Event event = Event::Raised;
    std::int64_t at = 0;
    std::string recipient;
    std::string channel; // "correo" or "webhook"
    std::string address;
};

struct Outcome {
    std::vector<Alarm> changed; // new, ended or with a farther extreme
    std::vector<Notice> notices;
    bool empty() const { return changed.empty() && notices.empty(); }
};

class Engine {
public:
    // The rules and recipients in force; a rule no longer there forgets
    // what it had pending, and its active alarms end at the next tick.
    void configure(Settings settings);
    const Settings &settings() const { return settings_; }
    // A port's series as its latest configuration has them.
    void setPort(PortDef port);
    // What was stored of a port: its pending state (as state() gave it)
    // and its active alarms.
    void restore(int port, const std::string &state, const std::vector<Alarm> &active);
    // The port's lines after those already judged, in time order.
    void judge(int port, const std::vector<Line> &lines, Outcome &out);
    // What the clock says at `now` (ms): stopped ports, reminders, escalations.
    void tick(std::int64_t now, Outcome &out);
    // The page acknowledged or silenced an active alarm.
    void pageChanged(const AlarmKey &key, bool acknowledged, std::int64_t silencedUntil);
    // The acknowledgement's notifications of an alarm acknowledged at `at`.
    std::vector<Notice> acknowledgement(const AlarmKey &key, std::int64_t at) const;
    // A port's pending state, to be stored with the alarms it led to.
    std::string state(int port) const;
    // The instant of the latest line judged of a port.
    std::optional<std::int64_t> lastLine(int port) const;
    std::vector<Alarm> activeAlarms() const;

private:
    // What a rule follows of one series (or of the port: serie 0) for one condition.
    struct Track {
        std::optional<std::int64_t> since; // the first line of the condition not yet an alarm
        std::optional<double> extreme;
        int errRun = 0;
        std::optional<Alarm> alarm; // active
        std::optional<std::int64_t>
            goneSince; // the first line the active alarm's condition was gone from
    };
    using TrackKey = std::tuple<std::string, int, Condition>;
    struct Port {
        PortDef def;
        std::optional<std::int64_t> last;
        std::map<TrackKey, Track> tracks;
    };

    const Rule *rule(const std::string &name) const;
    bool ruleTakesPort(const Rule &r, const Port &p) const;
    void step(Port &p, const Rule &r, const SeriesDef &s, Condition c, std::optional<double> value,
              std::int64_t at, Outcome &out);
    void stopped(Port &p, const Rule &r, std::int64_t at, Outcome &out);
    void notify(const std::vector<std::string> &to, const AlarmKey &key, Event e, std::int64_t at,
                Outcome &out) const;

    Settings settings_;
    std::map<int, Port> ports_;
};

} // namespace alarms
