// The grammar of a capture's header line at its edges: names holding
// parentheses or the separator, names that look like columns, a unit
// missing, inputs, the cut a line of readings settles, lines that are no
// header, and the monitor's own headers of many devices read back.
#include "monitor/capture.h"
#include "monitor/captureheader.h"

#include "registry/general.h"
#include "support/support.h"

#include <gtest/gtest.h>

#include <QStringList>

namespace {

// Each column as device|class|unit, "; " between them.
std::string shown(const std::vector<Column> &columns)
{
    QStringList out;
    for (const Column &c : columns)
        out << c.device + u'|' + QLatin1Char(c.tag) + u'|' + c.unit;
    return out.join(QStringLiteral("; ")).toStdString();
}

TEST(CaptureHeader, CutsLinesAtTheirEdges)
{
    struct Row {
        const char *what;
        QString line;
        qsizetype count;
        bool good;
        bool ordered;
        std::string columns;
    };
    const Row rows[] = {
        {"no devices", QStringLiteral("Hora"), -1, true, false, ""},
        {"one temperature", QStringLiteral("Hora  Sala (\u00BAC)"), -1, true, true,
         "Sala|T|\u00BAC"},
        {"every kind in the writer's order",
         QStringLiteral("Hora  Sala (\u00BAC)  Inv (\u00BAC)  Inv (%)  Bomba - a (bar)  Bomba - b "
                        "()  Bomba - c (m3 (n))  "
                        "Bomba - d (%)  Puerta - 1  Puerta - 2"),
         -1, true, true,
         "Sala|T|\u00BAC; Inv|T|\u00BAC; Inv|H|%; Bomba|a|bar; Bomba|b|; Bomba|c|m3 (n); "
         "Bomba|d|%; Puerta|1|; Puerta|2|"},
        {"names holding parentheses",
         QStringLiteral("Hora  Sala (norte) (\u00BAC)  Hum (1) (\u00BAC)  Hum (1) (%)"), -1, true,
         true, "Sala (norte)|T|\u00BAC; Hum (1)|T|\u00BAC; Hum (1)|H|%"},
        {"names holding the separator",
         QStringLiteral("Hora  Zona  A (\u00BAC)  Puerta  B - 1  Puerta  B - 2"), -1, true, true,
         "Zona  A|T|\u00BAC; Puerta  B|1|; Puerta  B|2|"},
        {"a name that looks like an input", QStringLiteral("Hora  Zona - 1  Norte (\u00BAC)"), -1,
         true, true, "Zona - 1  Norte|T|\u00BAC"},
        {"a unit of blanks and dashes",
         QStringLiteral("Hora  P - a (- -)  P - b (a b)  P - c ( )  P - d (%)"), -1, true, true,
         "P|a|- -; P|b|a b; P|c| ; P|d|%"},
        {"a degree sign for the ordinal", QStringLiteral("Hora  Sala (\u00B0C)"), -1, true, true,
         "Sala|T|\u00BAC"},
        {"the fewest pieces per column first",
         QStringLiteral("Hora  X (\u00BAC)  Y (\u00BAC)  Z (\u00BAC)  Rele - 1  Rele - 2"), -1,
         true, true, "X|T|\u00BAC; Y|T|\u00BAC; Z|T|\u00BAC; Rele|1|; Rele|2|"},
        {"four values under it join two names",
         QStringLiteral("Hora  X (\u00BAC)  Y (\u00BAC)  Z (\u00BAC)  Rele - 1  Rele - 2"), 4, true,
         true, "X|T|\u00BAC; Y (\u00BAC)  Z|T|\u00BAC; Rele|1|; Rele|2|"},
        {"three values under it join three",
         QStringLiteral("Hora  X (\u00BAC)  Y (\u00BAC)  Z (\u00BAC)  Rele - 1  Rele - 2"), 3, true,
         true, "X (\u00BAC)  Y (\u00BAC)  Z|T|\u00BAC; Rele|1|; Rele|2|"},
        {"more values than any cut",
         QStringLiteral("Hora  X (\u00BAC)  Y (\u00BAC)  Z (\u00BAC)  Rele - 1  Rele - 2"), 6,
         false, false, ""},
        {"a channel without its others, of another writer", QStringLiteral("Hora  Bomba - c (bar)"),
         -1, true, false, "Bomba|c|bar"},
        {"an input before a sensor would be one name",
         QStringLiteral("Hora  Puerta - 1  Sala (\u00BAC)"), -1, true, true,
         "Puerta - 1  Sala|T|\u00BAC"},
        {"inputs before sensors, of another writer",
         QStringLiteral("Hora  Puerta - 1  Puerta - 2  Sala (\u00BAC)  Hum (%)"), -1, true, false,
         "Puerta|1|; Puerta|2|; Sala|T|\u00BAC; Hum|H|%"},
        {"a humidity alone, of another writer", QStringLiteral("Hora  Hum (%)"), -1, true, false,
         "Hum|H|%"},
        {"another writer's order takes no count", QStringLiteral("Hora  Hum (%)"), 1, false, false,
         ""},
        {"no devices takes no values", QStringLiteral("Hora"), 1, false, false, ""},
        {"no devices over lines of time stamps alone", QStringLiteral("Hora"), 0, true, false, ""},
        {"another device's humidity after a temperature, of another writer",
         QStringLiteral("Hora  Sala (\u00BAC)  Cava (%)"), -1, true, false,
         "Sala|T|\u00BAC; Cava|H|%"},
        {"a column of no kind", QStringLiteral("Hora  Sala"), -1, false, false, ""},
        {"a separator at the end", QStringLiteral("Hora  Sala (\u00BAC)  "), -1, false, false, ""},
        {"one blank after Hora", QStringLiteral("Hora Sala (\u00BAC)"), -1, false, false, ""},
        {"lower case", QStringLiteral("hora  Sala (\u00BAC)"), -1, false, false, ""},
        {"a longer first word", QStringLiteral("Horas  Sala (\u00BAC)"), -1, false, false, ""},
        {"empty", QString(), -1, false, false, ""},
    };
    for (const Row &r : rows) {
        std::vector<Column> columns;
        bool ordered = !r.ordered;
        ASSERT_EQ(captureheader::parse(r.line, columns, r.count, &ordered), r.good) << r.what;
        EXPECT_EQ(ordered, r.ordered) << r.what;
        EXPECT_EQ(shown(columns), r.columns) << r.what;
        // The columns are the whole line, cut at separators.
        if (r.good) {
            QStringList names{QStringLiteral("Hora")};
            for (const Column &c : columns)
                names << c.name;
            EXPECT_EQ(names.join(QStringLiteral("  ")), r.line) << r.what;
        }
    }
}

// Each kind of column as the monitor writes it, and read back.
TEST(CaptureHeader, WritesAndReadsOneColumn)
{
    struct Row {
        char tag;
        QString unit;
        QString text;
        Kind kind;
        QString unitRead;
    };
    const Row rows[] = {
        {'T', {}, QStringLiteral("Sala 2 (\u00BAC)"), Kind::Temperature, QStringLiteral("\u00BAC")},
        {'H', {}, QStringLiteral("Sala 2 (%)"), Kind::Humidity, QStringLiteral("%")},
        {'a', QStringLiteral("bar"), QStringLiteral("Sala 2 - a (bar)"), Kind::Channel,
         QStringLiteral("bar")},
        {'d', {}, QStringLiteral("Sala 2 - d ()"), Kind::Channel, QString()},
        {'1', {}, QStringLiteral("Sala 2 - 1"), Kind::Input, QString()},
        {'2', {}, QStringLiteral("Sala 2 - 2"), Kind::Input, QString()},
    };
    for (const Row &r : rows) {
        const QString text = captureheader::columnText(QStringLiteral("Sala 2"), r.tag, r.unit);
        EXPECT_EQ(text, r.text) << r.tag;
        Column c;
        ASSERT_TRUE(captureheader::readColumn(text, c)) << r.tag;
        EXPECT_EQ(std::tuple(c.name, c.device, c.tag, c.kind, c.unit),
                  std::tuple(r.text, QStringLiteral("Sala 2"), r.tag, r.kind, r.unitRead))
            << r.tag;
    }
    EXPECT_EQ(captureheader::columnText(QStringLiteral("Sala"), 'e'), QString());
    Column c;
    EXPECT_FALSE(captureheader::readColumn(QStringLiteral("Sala - 3"), c));
    EXPECT_FALSE(captureheader::readColumn(QStringLiteral("Sala - e (x)"), c));
}

// Tables of many devices with awkward names, as cabecera writes them: every
// device's columns come back with its name, class and unit, in table order
// within each pass.
TEST(CaptureHeader, ReadsBackTheMonitorsHeaderOfManyDevices)
{
    General g;
    std::string expected;
    std::string inputs;
    const auto add = [&](std::string &to, const std::string &columns) {
        to += (to.empty() ? "" : "; ") + columns;
    };
    for (int i = 0; i < 120; ++i) {
        const std::string n = std::to_string(i);
        switch (i % 4) {
        case 0: {
            const std::string name = "T (" + n + ")";
            addDevice(g, {STT, name.c_str()});
            add(expected, name + "|T|\u00BAC");
            break;
        }
        case 1: {
            const std::string name = "H  " + n;
            addDevice(g, {HRT, name.c_str()});
            add(expected, name + "|T|\u00BAC; " + name + "|H|%");
            break;
        }
        case 2: {
            const std::string name = "A - " + n;
            addDevice(g, {AVI, name.c_str(), true, {}, {}, {" V ", "", "m3 (n)", "%"}});
            add(expected, name + "|a|V; " + name + "|b|; " + name + "|c|m3 (n); " + name + "|d|%");
            break;
        }
        default: {
            const std::string name = "D " + n;
            addDevice(g, {i % 8 == 3 ? DET : CTR, name.c_str()});
            add(inputs, name + "|1|; " + name + "|2|");
            break;
        }
        }
    }
    add(expected, inputs);
    std::vector<Column> columns;
    bool ordered = false;
    ASSERT_TRUE(captureheader::parse(cabecera(g), columns, -1, &ordered));
    EXPECT_TRUE(ordered);
    EXPECT_EQ(columns.size(), std::size_t{30 * (1 + 2 + 4 + 2)});
    EXPECT_EQ(shown(columns), expected);
}

} // namespace
