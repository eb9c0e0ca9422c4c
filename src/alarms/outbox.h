// The alarm program's outbox: gathers each recipient's events (salida rows)
// into one stored message, sends it by mail or webhook, and marks it sent;
// a message sent but not marked when the program died is sent again as it
// was stored, with its Message-ID.
#pragma once

#include "alarms/settings.h"
#include "central/connection.h"

#include <QString>

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace alarms {

struct Attachment;

class Outbox {
public:
    Outbox(std::string conninfo, MailSettings mail, std::vector<Recipient> recipients);
    ~Outbox(); // stops its thread
    Outbox(const Outbox &) = delete;
    Outbox &operator=(const Outbox &) = delete;

    // Its thread: takes the outbox's lock (waiting for it: a standby), LISTENs
    // on climalog_salida, gathers, sends, marks; retries with backoff.
    void start();
    // New settings after SIGHUP, for the messages sent from now on.
    void configure(MailSettings mail, std::vector<Recipient> recipients);
    // Instead of start() (--una-vez): gathers every unsent event whatever its
    // age and sends every stored message, retrying until `timeoutMs` is over;
    // false if some could not go.
    bool drain(int timeoutMs);

    // Where it tells what failed (default: standard error, one line each).
    void setLog(std::function<void(const QString &)> log);
    // For tests: called between a message's sending and its marking.
    void setAfterSend(std::function<void(long long envio)> hook);

private:
    using Clock = std::chrono::steady_clock;
    // A destination's failures in a row, and when it may be tried again.
    struct Backoff {
        int failures = 0;
        Clock::time_point retryAt;
    };
    struct Stored;

    void run();
    bool connect(Clock::time_point deadline);
    void drop(const QString &why);
    bool gather(bool all);
    bool gatherGroup(const QByteArray &name, const QByteArray &channel, const QByteArray &address,
                     const MailSettings &mail, bool &more);
    int sendStored(); // the messages left unsent; -1 when the database failed
    QString send(const Stored &m, const MailSettings &mail, const Attachment *attachment);
    bool unsentEvents();
    // How long to wait: until `until` or a destination's next try.
    int waitMs(Clock::time_point until);
    static int msUntil(Clock::time_point until); // at most a minute
    void wait(int ms);
    bool takeNotifications();
    void wake();
    MailSettings settings();
    void tell(const QString &text);

    const std::string conninfo_;
    std::mutex mutex_; // guards mail_ and recipients_
    MailSettings mail_;
    std::vector<Recipient> recipients_;
    std::function<void(const QString &)> log_;
    std::function<void(long long)> afterSend_;

    central::Connection c_;
    std::map<QByteArray, Backoff> backoff_;
    Clock::time_point nextGather_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    int wakeFds_[2] = {-1, -1};
};

} // namespace alarms
