// What climalog-avisos is told by its rules file (avisos.conf): the mail
// server, the recipients, the rules that say which series raise alarms and
// who hears of them, and the reports mailed on a schedule. The rules file's
// reader fills it; the alarm engine, the reports and the outbox read it,
// and a SIGHUP replaces it whole.
#pragma once

#include <string>
#include <vector>

namespace alarms {

// How the outbox reaches the mail server.
struct MailSettings {
    std::string url; // smtp://host:port or smtps://host:port; empty: no mail
    bool startTls = true; // smtp:// only: STARTTLS required
    std::string user; // empty: no authentication
    std::string passwordFile; // a file only its owner can read; never the password itself
    std::string from; // the sender's address
    std::string page; // the page's address, for the links in each message
    int gatherSeconds = 2; // how long the outbox gathers a recipient's events into one message
    std::string site; // the site's name, printed on every report; may be empty
};

struct Recipient {
    std::string name; // its name in the rules file
    std::string mail; // an address, or empty
    std::string webhook; // a URL to POST JSON to, or empty
    bool acknowledgements = false; // also told when an alarm is acknowledged
};

// The conditions a rule watches; names as stored in climalog.aviso.condicion.
enum class Condition { Above, Below, Active, Err, Stopped };
const char *conditionName(Condition c); // "alto" "bajo" "activa" "err" "parada"

struct Rule {
    std::string name;
    // Which series: a station, port and column each match one of these
    // patterns ("*" any text, "?" one character); empty matches all.
    std::vector<std::string> stations, ports, columns;
    std::vector<Condition> conditions;
    int delaySeconds = 0; // a condition holds (and is gone) this long before it counts
    int errLines = 3; // consecutive ERR lines that make the condition err
    std::vector<std::string> recipients;
    int remindMinutes = 0; // 0: no reminders while unacknowledged
    int escalateMinutes = 0; // 0: no escalation
    std::vector<std::string> escalateTo;
};

// How often a report is made: a day, a week from Monday, a month from the 1st.
enum class ReportEvery { Day, Week, Month };

// A report mailed on a schedule: one per station matched, of its matched
// columns, for each period once it is due.
struct ReportRule {
    std::string name;
    std::vector<std::string> stations, ports, columns; // as a rule's patterns
    ReportEvery every = ReportEvery::Day;
    int dueMinute = 0; // minutes after the local midnight that ends the period: when it is due
    std::vector<std::string> recipients; // each with a mail address
    int waitHours = 6; // how long after it is due a period waits for its lines
};

struct Settings {
    MailSettings mail;
    std::vector<Recipient> recipients;
    std::vector<Rule> rules;
    std::vector<ReportRule> reports;
};

} // namespace alarms
