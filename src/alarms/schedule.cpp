#include "alarms/schedule.h"

#include <QDateTime>
#include <QTimeZone>

#include <algorithm>

namespace alarms {

namespace {

QDate firstOfPeriod(ReportEvery every, QDate day)
{
    switch (every) {
    case ReportEvery::Day:
        break;
    case ReportEvery::Week:
        return day.addDays(1 - day.dayOfWeek());
    case ReportEvery::Month:
        return QDate(day.year(), day.month(), 1);
    }
    return day;
}

QDate nextPeriod(ReportEvery every, QDate first, int step = 1)
{
    switch (every) {
    case ReportEvery::Day:
        break;
    case ReportEvery::Week:
        return first.addDays(7 * step);
    case ReportEvery::Month:
        // From the 1st, never a day that spills into the month after.
        return first.addMonths(step);
    }
    return first.addDays(step);
}

// A local time of the zone; one the clock skips (a spring change) is moved
// on by the skip.
std::int64_t at(QDate day, int minute, const QTimeZone &zone)
{
    return QDateTime(day, QTime(minute / 60, minute % 60), zone).toMSecsSinceEpoch();
}

DuePeriod periodFrom(const ReportRule &rule, QDate first, const QTimeZone &zone)
{
    const QDate next = nextPeriod(rule.every, first);
    return {first, at(first, 0, zone), at(next, 0, zone), at(next, rule.dueMinute, zone)};
}

} // namespace

std::vector<DuePeriod> duePeriods(const ReportRule &rule, const std::string &zone,
                                  std::optional<std::int64_t> lastTo, std::int64_t now)
{
    const QTimeZone z(QByteArray::fromStdString(zone));
    if (!z.isValid())
        return {};
    const QDate today = QDateTime::fromMSecsSinceEpoch(now, z).date();
    // The period holding now is never due (it ends after now); the latest
    // due one is it or one of the two before it.
    QDate first = firstOfPeriod(rule.every, today);
    DuePeriod p = periodFrom(rule, first, z);
    for (int back = 0; back < 3 && p.due > now; ++back)
        p = periodFrom(rule, first = nextPeriod(rule.every, first, -1), z);
    if (p.due > now)
        return {};
    std::vector<DuePeriod> due{p};
    while (lastTo && int(due.size()) < mostMissed) {
        const DuePeriod before = periodFrom(rule, nextPeriod(rule.every, due.back().first, -1), z);
        if (before.from < *lastTo)
            break;
        due.push_back(before);
    }
    if (lastTo && due.front().from < *lastTo)
        return {};
    std::reverse(due.begin(), due.end());
    return due;
}

Readiness readiness(bool complete, std::int64_t due, int waitHours, std::int64_t now)
{
    if (complete)
        return Readiness::Send;
    return now >= due + std::int64_t(waitHours) * 3600 * 1000 ? Readiness::SendIncomplete
                                                              : Readiness::Wait;
}

} // namespace alarms
