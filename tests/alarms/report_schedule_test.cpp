// The reports' schedule alone: each period's edges in the station's zone
// across both changes of 2026, a week from Monday, a month after the 31st of
// January, the periods a program down for days missed, and a period whose
// lines are late.
#include "alarms/schedule.h"

#include <QDateTime>
#include <QTimeZone>

#include <gtest/gtest.h>

namespace {

std::int64_t utc(const char *iso)
{
    return QDateTime::fromString(QString::fromLatin1(iso), Qt::ISODateWithMs).toMSecsSinceEpoch();
}
std::string iso(std::int64_t ms)
{
    return QDateTime::fromMSecsSinceEpoch(ms, QTimeZone::utc())
        .toString(QStringLiteral("yyyy-MM-ddTHH:mm:ssZ"))
        .toStdString();
}

} // namespace

// Europe/Madrid: UTC+1 in winter, +2 from 29 March 02:00 to 25 October 03:00.
TEST(ReportSchedule, PeriodsDueInTheStationsZone)
{
    using E = alarms::ReportEvery;
    const struct {
        E every;
        int dueMinute;
        const char *lastTo, *now; // the end of the last period sent (none: null)
        int count; // the periods due, and the oldest's (and latest's, after |) from, to, due
        std::string said;
    } cases[] = {
        // The spring change's day: 23 hours, due the next morning and not a ms before.
        {E::Day, 420, "2026-03-28T23:00:00Z", "2026-03-30T05:00:00Z", 1,
         "2026-03-28T23:00:00Z 2026-03-29T22:00:00Z 2026-03-30T05:00:00Z"},
        {E::Day, 420, "2026-03-28T23:00:00Z", "2026-03-30T04:59:59.999Z", 0, ""},
        // The autumn change's day: 25 hours.
        {E::Day, 420, "2026-10-24T22:00:00Z", "2026-10-26T06:00:00Z", 1,
         "2026-10-24T22:00:00Z 2026-10-25T23:00:00Z 2026-10-26T06:00:00Z"},
        // Nothing sent yet: the latest period due alone.
        {E::Day, 0, nullptr, "2026-12-09T00:00:00Z", 1,
         "2026-12-07T23:00:00Z 2026-12-08T23:00:00Z 2026-12-08T23:00:00Z"},
        // Monday to Monday: before Monday's 07:00, the week before the last.
        {E::Week, 420, nullptr, "2026-12-14T05:59:59Z", 1,
         "2026-11-29T23:00:00Z 2026-12-06T23:00:00Z 2026-12-07T06:00:00Z"},
        // On the 31st of January, December's; February after January's.
        {E::Month, 420, nullptr, "2026-01-31T12:00:00Z", 1,
         "2025-11-30T23:00:00Z 2025-12-31T23:00:00Z 2026-01-01T06:00:00Z"},
        {E::Month, 420, "2026-01-31T23:00:00Z", "2026-03-01T06:00:00Z", 1,
         "2026-01-31T23:00:00Z 2026-02-28T23:00:00Z 2026-03-01T06:00:00Z"},
        // Down from the 6th to the 9th: the three days missed, once each.
        {E::Day, 420, "2026-12-05T23:00:00Z", "2026-12-09T08:00:00Z", 3,
         "2026-12-05T23:00:00Z 2026-12-06T23:00:00Z 2026-12-07T06:00:00Z|"
         "2026-12-07T23:00:00Z 2026-12-08T23:00:00Z 2026-12-09T06:00:00Z"},
        // Down since October: the latest 31 days only.
        {E::Day, 420, "2026-10-01T22:00:00Z", "2026-12-09T08:00:00Z", 31,
         "2026-11-07T23:00:00Z 2026-11-08T23:00:00Z 2026-11-09T06:00:00Z|"
         "2026-12-07T23:00:00Z 2026-12-08T23:00:00Z 2026-12-09T06:00:00Z"},
    };
    for (const auto &c : cases) {
        alarms::ReportRule r;
        r.every = c.every;
        r.dueMinute = c.dueMinute;
        const auto last = c.lastTo ? std::optional(utc(c.lastTo)) : std::nullopt;
        const auto due = alarms::duePeriods(r, "Europe/Madrid", last, utc(c.now));
        ASSERT_EQ(int(due.size()), c.count) << c.now;
        std::string said;
        for (std::size_t i = 0; i < due.size(); ++i) {
            if (i == 0 || i + 1 == due.size())
                said += (i ? "|" : "") + iso(due[i].from) + " " + iso(due[i].to) + " " +
                    iso(due[i].due);
            EXPECT_TRUE(i == 0 || due[i].from == due[i - 1].to) << c.now;
        }
        EXPECT_EQ(said, c.said) << c.now;
    }
    EXPECT_TRUE(alarms::duePeriods({}, "Europa/Nada", {}, utc("2026-12-09T08:00:00Z")).empty());

    // Late lines: waited for `esperar` hours after the period is due, then it goes saying so.
    const std::int64_t due = utc("2026-12-09T06:00:00Z"), hour = 3600 * 1000;
    using R = alarms::Readiness;
    const std::tuple<bool, int, std::int64_t, R> late[] = {
        {false, 6, due, R::Wait},
        {false, 6, due + 6 * hour - 1, R::Wait},
        {false, 6, due + 6 * hour, R::SendIncomplete},
        {true, 6, due, R::Send},
        {false, 0, due, R::SendIncomplete}};
    for (const auto &[complete, hours, now, expected] : late)
        EXPECT_EQ(alarms::readiness(complete, due, hours, now), expected) << hours << " " << now;
}
