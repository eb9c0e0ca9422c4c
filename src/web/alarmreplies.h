// The alarms' answers: the panel's list and the history as JSON, and the
// history as comma-separated text in the export's formats (times in each
// station's own time, as the page shows them).
#pragma once

#include "web/csvexport.h"
#include "web/database.h"

#include <cstdint>
#include <string>
#include <vector>

// `{"ahora":…,"usuario":…,"ficha":…,"avisos":[…]}`: the panel's list, with
// the session's write token.
std::string alarmsJson(const std::vector<Alarm> &rows, std::int64_t now, const std::string &user,
                       const std::string &token);
// `{"avisos":[…],"completa":…}`: false when more alarms matched than came.
std::string historyJson(const std::vector<Alarm> &rows, bool complete);

// What a condition means, in the user's words.
std::string conditionText(const std::string &condicion);

class AlarmCsv {
public:
    explicit AlarmCsv(CsvFormat format) : format_(format), separator_(format.comma ? ';' : ',') {}
    std::string header() const;
    void add(const std::vector<AlarmLine> &rows, std::string &out) const;
    std::string cut() const;

private:
    CsvFormat format_;
    char separator_;
};
