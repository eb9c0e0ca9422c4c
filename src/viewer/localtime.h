// The station's local time as instants: a capture's time stamps are the
// monitor's clock, summer time and all, and the hour a clock set back
// repeats is told apart only by the order of the file's lines.
#pragma once

#include <QDateTime>
#include <QTimeZone>

#include <limits>

class LocalTime {
public:
    static constexpr qint64 none = std::numeric_limits<qint64>::min();

    // Local times of `zone`, or of the system's time zone when it is not
    // valid (the default).
    explicit LocalTime(QTimeZone zone = {});
    const QTimeZone &zone() const { return zone_; }

    // The instant (ms since the epoch) of the local time `wall` (that time
    // on a clock kept in UTC) of a line that follows a line of the instant
    // `previous` (none: no line above it).
    qint64 instant(qint64 wall, qint64 previous);

    // The local time of a stored instant, in `zone` (the system's when not
    // valid).
    static QDateTime toDateTime(qint64 ms, const QTimeZone &zone = {});

private:
    int offsetAt(qint64 ms) const;
    void offsets(qint64 wall, int &early, int &late) const;

    QTimeZone zone_;
    // The offsets of the last hour of local time met: lines come in order,
    // so one time zone look-up serves an hour of lines. An hour a clock
    // change falls inside is looked up line by line.
    qint64 hourKey_ = std::numeric_limits<qint64>::min();
    int hourEarly_ = 0, hourLate_ = 0; // seconds east of UTC; equal but in a repeated hour
    bool hourMixed_ = false;
};
