// The capture file's name: what is one and what is not, the order the files
// were written in, and the names the monitor makes of a day and a sequence.
#include "monitor/capturename.h"

#include <gtest/gtest.h>

#include <QStringList>

namespace {

TEST(CaptureName, ParsesOnlyTheExactForm)
{
    struct Row {
        const char *what;
        QString text;
        bool good;
        QDate day;
        int sequence;
    };
    const Row rows[] = {
        {"first of the day", QStringLiteral("05-12-2026-00.log"), true, QDate(2026, 12, 5), 0},
        {"a sequence of two digits", QStringLiteral("31-01-2027-42.log"), true, QDate(2027, 1, 31),
         42},
        {"the last sequence", QStringLiteral("01-03-1999-99.log"), true, QDate(1999, 3, 1), 99},
        {"leap day of a leap year", QStringLiteral("29-02-2028-01.log"), true, QDate(2028, 2, 29),
         1},
        {"leap day of a common year", QStringLiteral("29-02-2027-01.log"), false, {}, 0},
        {"a day February lacks", QStringLiteral("31-02-2026-00.log"), false, {}, 0},
        {"day zero", QStringLiteral("00-12-2026-00.log"), false, {}, 0},
        {"month thirteen", QStringLiteral("05-13-2026-00.log"), false, {}, 0},
        {"year zero", QStringLiteral("05-12-0000-00.log"), false, {}, 0},
        {"year first, as sortable names are", QStringLiteral("2026-12-05-00.log"), false, {}, 0},
        {"one-digit sequence", QStringLiteral("05-12-2026-7.log"), false, {}, 0},
        {"three-digit sequence", QStringLiteral("05-12-2026-100.log"), false, {}, 0},
        {"two-digit year", QStringLiteral("05-12-26-00.log"), false, {}, 0},
        {"letters for digits", QStringLiteral("05-12-2026-0a.log"), false, {}, 0},
        {"a sign in the day", QStringLiteral("+5-12-2026-00.log"), false, {}, 0},
        {"digits of another script", QStringLiteral("05-12-2026-\u0660\u0661.log"), false, {}, 0},
        {"blanks for dashes", QStringLiteral("05 12 2026 00.log"), false, {}, 0},
        {"upper-case extension", QStringLiteral("05-12-2026-00.LOG"), false, {}, 0},
        {"another extension", QStringLiteral("05-12-2026-00.txt"), false, {}, 0},
        {"a copy's suffix", QStringLiteral("05-12-2026-00.log.bak"), false, {}, 0},
        {"a line end after it", QStringLiteral("05-12-2026-00.log\n"), false, {}, 0},
        {"a folder before it", QStringLiteral("2/05-12-2026-00.log"), false, {}, 0},
        {"text before it", QStringLiteral("x05-12-2026-00.log"), false, {}, 0},
        {"empty", QString(), false, {}, 0},
    };
    for (const Row &r : rows) {
        const std::optional<CaptureName> name = CaptureName::parse(r.text);
        ASSERT_EQ(name.has_value(), r.good) << r.what;
        if (!name)
            continue;
        EXPECT_EQ(name->day(), r.day) << r.what;
        EXPECT_EQ(name->sequence(), r.sequence) << r.what;
        EXPECT_EQ(name->text(), r.text) << r.what;
    }
}

// Oldest first: by year, month and day, then by sequence number, however
// the folder lists them; each name once, whatever is not a capture left out.
TEST(CaptureName, OrdersByDayThenSequence)
{
    struct Row {
        const char *what;
        QStringList names;
        QStringList expected;
    };
    const Row rows[] = {
        {"days across months and years, not by the text",
         {"01-01-2027-00.log", "31-12-2026-00.log", "02-12-2026-00.log", "10-11-2026-00.log",
          "15-06-2025-00.log"},
         {"15-06-2025-00.log", "10-11-2026-00.log", "02-12-2026-00.log", "31-12-2026-00.log",
          "01-01-2027-00.log"}},
        {"sequence numbers past ten within a day",
         {"07-12-2026-10.log", "07-12-2026-02.log", "07-12-2026-99.log", "07-12-2026-09.log",
          "07-12-2026-11.log"},
         {"07-12-2026-02.log", "07-12-2026-09.log", "07-12-2026-10.log", "07-12-2026-11.log",
          "07-12-2026-99.log"}},
        {"the day before the sequence",
         {"08-12-2026-00.log", "07-12-2026-12.log", "08-01-2027-00.log", "07-12-2026-03.log"},
         {"07-12-2026-03.log", "07-12-2026-12.log", "08-12-2026-00.log", "08-01-2027-00.log"}},
        {"repeated names once, others left out",
         {"07-12-2026-01.log", "notas.log", "07-12-2026-01.log", "31-02-2026-00.log",
          "07-12-2026-00.log", "07-12-2026-1.log"},
         {"07-12-2026-00.log", "07-12-2026-01.log"}},
        {"none", {"config1.ini", "07-12-2026-00.LOG"}, {}},
    };
    for (const Row &r : rows)
        EXPECT_EQ(CaptureName::chronological(r.names), r.expected) << r.what;

    const auto at = [](const char *text) { return *CaptureName::parse(QString::fromLatin1(text)); };
    EXPECT_LT(at("31-12-2026-99.log"), at("01-01-2027-00.log"));
    EXPECT_LT(at("07-12-2026-09.log"), at("07-12-2026-10.log"));
    EXPECT_FALSE(at("07-12-2026-10.log") < at("07-12-2026-10.log"));
    EXPECT_EQ(at("07-12-2026-10.log"), CaptureName(QDate(2026, 12, 7), 10));
}

// The names the monitor makes: the day as ten characters, the sequence
// number as the configuration holds it, and a new day's name keeping the
// sequence number.
TEST(CaptureName, MadeFromADayAndASequence)
{
    EXPECT_EQ(CaptureName::dayText(QDate(2026, 12, 5)), QStringLiteral("05-12-2026"));
    EXPECT_EQ(CaptureName::dayText(QDate(987, 1, 9)), QStringLiteral("09-01-0987"));
    EXPECT_EQ(CaptureName::make(QStringLiteral("05-12-2026"), QStringLiteral("00")),
              QStringLiteral("05-12-2026-00.log"));
    EXPECT_EQ(CaptureName::make(QStringLiteral("05-12-2026"), QStringLiteral("7")),
              QStringLiteral("05-12-2026-7.log"));
    EXPECT_EQ(CaptureName(QDate(2026, 1, 2), 3).text(), QStringLiteral("02-01-2026-03.log"));
    EXPECT_TRUE(
        CaptureName::isOfDay(QStringLiteral("05-12-2026-04.log"), QStringLiteral("05-12-2026")));
    EXPECT_FALSE(
        CaptureName::isOfDay(QStringLiteral("05-12-2026-04.log"), QStringLiteral("06-12-2026")));
    EXPECT_EQ(
        CaptureName::redated(QStringLiteral("31-12-2026-04.log"), QStringLiteral("01-01-2027")),
        QStringLiteral("01-01-2027-04.log"));
}

} // namespace
