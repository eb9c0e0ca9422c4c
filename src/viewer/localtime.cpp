#include "viewer/localtime.h"

#include <utility>

LocalTime::LocalTime(QTimeZone zone) : zone_(std::move(zone)) {}

QDateTime LocalTime::toDateTime(qint64 ms, const QTimeZone &zone)
{
    return zone.isValid() ? QDateTime::fromMSecsSinceEpoch(ms, zone)
                          : QDateTime::fromMSecsSinceEpoch(ms);
}

int LocalTime::offsetAt(qint64 ms) const
{
    return zone_.isValid() ? zone_.offsetFromUtc(QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC))
                           : QDateTime::fromMSecsSinceEpoch(ms).offsetFromUtc();
}

// The offsets from UTC a local time can be read with, `wall` being that time
// on a clock kept in UTC: the same one twice, or in the hour a clock set back
// repeats, the summer one (the earlier instant) and the winter one. A time
// the clock skips forward is read with the offset in force before the change,
// as a clock not moved yet shows it. Clock changes are taken to be more than
// a day apart.
void LocalTime::offsets(qint64 wall, int &early, int &late) const
{
    constexpr qint64 day = 86400000;
    const int before = offsetAt(wall - day), after = offsetAt(wall + day);
    const bool beforeFits = offsetAt(wall - before * qint64{1000}) == before;
    const bool afterFits = before != after && offsetAt(wall - after * qint64{1000}) == after;
    early = afterFits && (!beforeFits || after > before) ? after : before;
    late = beforeFits && (!afterFits || before < after) ? before : after;
    if (!beforeFits && !afterFits)
        early = late = before;
}

qint64 LocalTime::instant(qint64 wall, qint64 previous)
{
    constexpr qint64 hour = 3600000;
    const qint64 key = wall >= 0 ? wall / hour : (wall - hour + 1) / hour;
    if (key != hourKey_) {
        int early = 0, late = 0;
        offsets(key * hour, hourEarly_, hourLate_);
        offsets(key * hour + hour - 1000, early, late);
        hourMixed_ = early != hourEarly_ || late != hourLate_;
        hourKey_ = key;
    }
    int early = hourEarly_, late = hourLate_;
    if (hourMixed_)
        offsets(wall, early, late);
    // Of two equal local times the file's order settles which is meant: the
    // first reading unless it would go back before the line above, which
    // happens after the clock was set back (up to an hour: the repeated hour).
    const qint64 first = wall - early * qint64{1000};
    return previous == none || first >= previous ? first : wall - late * qint64{1000};
}
