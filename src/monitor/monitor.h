// The polling cycle: reads every due device, drives the relays, refreshes
// the device and warning lists, writes capture lines and keeps the polling
// clock, all on the window's thread with a yield after every read.
#pragma once

#include "registry/general.h"

#include <QStringList>
#include <functional>

class Clock;
class MainView;
class Messages;
class SondaIO;

class Monitor {
public:
    Monitor(General &g, SondaIO *io, Clock &clock, MainView &view);

    // One tick.
    void Timer1_Timer();
    void leedisp(int i);

    // Relay rules and writes, and the warning list lines.
    void alarmas();
    void ponreles();
    QStringList ponalarmas() const;

    // Polling reset: readings re-created all zero, then reiniciaReloj.
    void reinicia();
    // Polling clock 0, last tick time = now: every due time counts from now.
    void reiniciaReloj();

    // The tick's time stamp, dd-mm-yyyy hh:mm:ss.
    QString marca() const;

    // Called once per tick when a capture line is due (time stamp given).
    std::function<void(const QString &)> onCapture;
    // Called for an error the tick cannot absorb: the program closes the
    // connection and ends.
    std::function<void(const QString &)> onFatal;

private:
    bool due(const EstadoDisp &e) const;
    std::int32_t secondsNow() const;

    General &g_;
    SondaIO *io_;
    Clock &clock_;
    MainView &view_;
};
