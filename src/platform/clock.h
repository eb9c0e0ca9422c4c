// The time the program reads: date and time of day for stamps and the polling
// clock, and an elapsed-time counter for waits that must not follow the
// calendar. Tests step a clock of their own.
#pragma once

#include <QDateTime>
#include <QElapsedTimer>

class Clock {
public:
    virtual ~Clock() = default;
    virtual QDateTime now() const = 0;
    // Seconds on a steady counter, unaffected by midnight or clock changes.
    virtual double elapsed() const = 0;

    // Seconds since midnight with fractions.
    double seconds() const { return now().time().msecsSinceStartOfDay() / 1000.0; }
};

class SystemClock final : public Clock {
public:
    SystemClock() { timer_.start(); }
    QDateTime now() const override { return QDateTime::currentDateTime(); }
    double elapsed() const override { return timer_.nsecsElapsed() / 1e9; }

private:
    QElapsedTimer timer_;
};
