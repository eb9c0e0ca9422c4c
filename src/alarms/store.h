// The alarm program's database side: the ports and their series' watch
// from the latest configurations, each port's lines after what was judged,
// and the engine's alarms, notifications and progress written in one
// transaction (with NOTIFY climalog_salida), so that a program killed at
// any moment goes on from what was committed, raising nothing twice.
#pragma once

#include "alarms/engine.h"

#include <QString>

#include <map>

struct pg_conn;

namespace alarms {

class Store {
public:
    explicit Store(pg_conn *c) : c_(c) {}

    // The engine as the tables leave it: every port, its pending state and
    // its active alarms with what the page and the clock did of them.
    bool restore(Engine &e, QString &error);
    // The ports' series again (a configuration or header may be new), and
    // each port's latest line.
    bool refreshPorts(Engine &e, QString &error);
    // Judges every port's lines not yet judged, a few hours of them to a
    // transaction.
    bool catchUp(Engine &e, std::int64_t now, QString &error);
    // What the clock says now, stored.
    bool tick(Engine &e, std::int64_t now, QString &error);
    // Acknowledgements and silences from the page: the engine told, and
    // the acknowledgements' notifications queued once each.
    bool pageChanges(Engine &e, QString &error);

private:
    bool write(const Outcome &out, int port, std::int64_t judgedTo, const std::string &state,
               QString &error);
    bool readLines(const std::vector<int> &series, std::int64_t after, std::int64_t upTo,
                   std::vector<Line> &lines, QString &error);
    bool failed(QString &error);

    pg_conn *c_;
    std::map<int, std::vector<int>> series_; // each port's series
    std::map<int, std::int64_t> latest_, judgedTo_; // each port's latest line, and how far judged
};

} // namespace alarms
