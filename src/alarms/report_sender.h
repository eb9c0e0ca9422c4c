// climalog-avisos' reports by mail: for each [informe] of the rules file
// and each station it matches, every period due is loaded, written as a
// PDF and stored as one message per recipient, with the row that says it
// went, in one transaction; the outbox sends them. It works on a thread of
// its own, on its own connection and session lock (a second program waits
// as a standby), so a month's report never holds the judging of alarms.
#pragma once

#include "alarms/schedule.h"
#include "alarms/settings.h"
#include "central/connection.h"

#include <QString>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

namespace alarms {

class ReportSender {
public:
    ReportSender(std::string conninfo, Settings settings);
    ~ReportSender(); // stops its thread
    ReportSender(const ReportSender &) = delete;
    ReportSender &operator=(const ReportSender &) = delete;

    // Its thread: a pass over every report now and then, until the end.
    void start();
    // New rules after SIGHUP, for the passes from now on.
    void configure(Settings settings);
    // Instead of start() (--una-vez): one pass now; false when the database
    // could not be used or another program makes the reports.
    bool once();

private:
    enum class Made { Sent, Wait, Failed };
    struct Station;

    void run();
    bool connect(bool wait);
    bool pass(std::int64_t now); // false when the database failed
    Made make(const ReportRule &rule, const Settings &s, const Station &station, const DuePeriod &p,
              std::int64_t now);
    bool store(const ReportRule &rule, const Settings &s, const Station &station,
               const DuePeriod &p, const QString &subject, const QString &body,
               const QByteArray &fileName, const std::string &pdf, bool incomplete);
    void problem(const QString &text);

    const std::string conninfo_;
    std::mutex mutex_; // guards settings_ and stop_'s waits
    std::condition_variable wake_;
    Settings settings_;
    central::Connection c_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    QString lastProblem_;
};

} // namespace alarms
