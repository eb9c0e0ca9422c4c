// The capture file's name: what is one and what is not, the order the files
// were written in, and the names the monitor makes of a day and a sequence.
#include "monitor/capturename.h"

#include <gtest/gtest.h>

#include <QStringList>

namespace {

TEST(CaptureName, ParsesOnlyTheExactForm)
{
    const std::tuple<const char *, QDate, int> good[] = {
        {"05-12-2026-00.log", QDate(2026, 12, 5), 0},
        {"31-01-2027-42.log", QDate(2027, 1, 31), 42},
        {"01-03-1999-99.log", QDate(1999, 3, 1), 99},
        {"29-02-2028-01.log", QDate(2028, 2, 29), 1}, // a leap year's leap day
    };
    for (const auto &[text, day, sequence] : good) {
        const std::optional<CaptureName> name = CaptureName::parse(QString::fromLatin1(text));
        ASSERT_TRUE(name.has_value()) << text;
        EXPECT_EQ(std::tuple(name->day(), name->sequence(), name->text()),
                  std::tuple(day, sequence, QString::fromLatin1(text)));
    }
    // Impossible days, other orders and widths, other scripts, extensions and
    // what a listing may hold around a name.
    for (const char *text :
         {"29-02-2027-01.log", "31-02-2026-00.log", "00-12-2026-00.log", "05-13-2026-00.log",
          "05-12-0000-00.log", "2026-12-05-00.log", "05-12-2026-7.log", "05-12-2026-100.log",
          "05-12-26-00.log", "05-12-2026-0a.log", "+5-12-2026-00.log", "05-12-2026-٠١.log",
          "05 12 2026 00.log", "05-12-2026-00.LOG", "05-12-2026-00.log.bak", "05-12-2026-00.log\n",
          "x05-12-2026-00.log", ""})
        EXPECT_FALSE(CaptureName::parse(QString::fromUtf8(text))) << text;
}

// Oldest first: by year, month and day, then by sequence number, however
// the folder lists them; each name once, whatever is not a capture left out.
TEST(CaptureName, OrdersByDayThenSequence)
{
    const std::pair<QStringList, QStringList> rows[] = {
        // A later year of an earlier day and month, a later month of an earlier
        // day, a later day of a lower sequence number.
        {{"01-01-2027-00.log", "08-12-2026-00.log", "10-11-2026-00.log", "07-12-2026-10.log",
          "07-12-2026-03.log"},
         {"10-11-2026-00.log", "07-12-2026-03.log", "07-12-2026-10.log", "08-12-2026-00.log",
          "01-01-2027-00.log"}},
        {{"07-12-2026-01.log", "notas.log", "07-12-2026-01.log", "31-02-2026-00.log",
          "07-12-2026-00.log", "07-12-2026-1.log", "07-12-2026-00.LOG"},
         {"07-12-2026-00.log", "07-12-2026-01.log"}},
    };
    for (const auto &[names, expected] : rows)
        EXPECT_EQ(CaptureName::chronological(names), expected) << names.join(' ').toStdString();
    EXPECT_EQ(*CaptureName::parse(QStringLiteral("07-12-2026-10.log")),
              CaptureName(QDate(2026, 12, 7), 10));
}

// The names the monitor makes: the day as ten characters, the sequence
// number as the configuration holds it, and a new day's name keeping the
// sequence number.
TEST(CaptureName, MadeFromADayAndASequence)
{
    const std::pair<QString, const char *> made[] = {
        {CaptureName::dayText(QDate(2026, 12, 5)), "05-12-2026"},
        {CaptureName::dayText(QDate(987, 1, 9)), "09-01-0987"},
        {CaptureName::make(QStringLiteral("05-12-2026"), QStringLiteral("00")),
         "05-12-2026-00.log"},
        {CaptureName::make(QStringLiteral("05-12-2026"), QStringLiteral("7")), "05-12-2026-7.log"},
        {CaptureName(QDate(2026, 1, 2), 3).text(), "02-01-2026-03.log"},
        {CaptureName::redated(QStringLiteral("31-12-2026-04.log"), QStringLiteral("01-01-2027")),
         "01-01-2027-04.log"},
    };
    for (const auto &[got, expected] : made)
        EXPECT_EQ(got, QString::fromLatin1(expected));
    const QString name = QStringLiteral("05-12-2026-04.log");
    EXPECT_TRUE(CaptureName::isOfDay(name, QStringLiteral("05-12-2026")));
    EXPECT_FALSE(CaptureName::isOfDay(name, QStringLiteral("06-12-2026")));
}

} // namespace
