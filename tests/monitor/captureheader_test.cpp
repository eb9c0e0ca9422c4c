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
    // count: the values a line under it holds (-1: none seen). expected: the
    // columns; "~" before them when not in the writer's order, "-" refused.
    const std::string xyz = "Hora  X (ºC)  Y (ºC)  Z (ºC)  Rele - 1  Rele - 2";
    const std::tuple<const char *, std::string, qsizetype, std::string> rows[] = {
        {"no devices", "Hora", -1, "~"},
        {"one temperature", "Hora  Sala (ºC)", -1, "Sala|T|ºC"},
        {"every kind in the writer's order",
         "Hora  Sala (ºC)  Inv (ºC)  Inv (%)  Bomba - a (bar)  Bomba - b ()  Bomba - c (m3 (n))  "
         "Bomba - d (%)  Puerta - 1  Puerta - 2",
         -1,
         "Sala|T|ºC; Inv|T|ºC; Inv|H|%; Bomba|a|bar; Bomba|b|; Bomba|c|m3 (n); Bomba|d|%; "
         "Puerta|1|; Puerta|2|"},
        {"names holding parentheses", "Hora  Sala (norte) (ºC)  Hum (1) (ºC)  Hum (1) (%)", -1,
         "Sala (norte)|T|ºC; Hum (1)|T|ºC; Hum (1)|H|%"},
        {"names holding the separator", "Hora  Zona  A (ºC)  Puerta  B - 1  Puerta  B - 2", -1,
         "Zona  A|T|ºC; Puerta  B|1|; Puerta  B|2|"},
        {"a name that looks like an input", "Hora  Zona - 1  Norte (ºC)", -1,
         "Zona - 1  Norte|T|ºC"},
        {"a unit of blanks and dashes", "Hora  P - a (- -)  P - b (a b)  P - c ( )  P - d (%)", -1,
         "P|a|- -; P|b|a b; P|c| ; P|d|%"},
        {"a degree sign for the ordinal", "Hora  Sala (°C)", -1, "Sala|T|ºC"},
        {"the fewest pieces per column first", xyz, -1, "X|T|ºC; Y|T|ºC; Z|T|ºC; Rele|1|; Rele|2|"},
        {"four values under it join two names", xyz, 4, "X|T|ºC; Y (ºC)  Z|T|ºC; Rele|1|; Rele|2|"},
        {"three values under it join three", xyz, 3, "X (ºC)  Y (ºC)  Z|T|ºC; Rele|1|; Rele|2|"},
        {"more values than any cut", xyz, 6, "-"},
        {"a channel without its others", "Hora  Bomba - c (bar)", -1, "~Bomba|c|bar"},
        {"an input before a sensor would be one name", "Hora  Puerta - 1  Sala (ºC)", -1,
         "Puerta - 1  Sala|T|ºC"},
        {"inputs before sensors", "Hora  Puerta - 1  Puerta - 2  Sala (ºC)  Hum (%)", -1,
         "~Puerta|1|; Puerta|2|; Sala|T|ºC; Hum|H|%"},
        {"a humidity alone", "Hora  Hum (%)", -1, "~Hum|H|%"},
        {"another writer's order takes no count", "Hora  Hum (%)", 1, "-"},
        {"no devices takes no values", "Hora", 1, "-"},
        {"no devices over lines of time stamps alone", "Hora", 0, "~"},
        {"another device's humidity after a temperature", "Hora  Sala (ºC)  Cava (%)", -1,
         "~Sala|T|ºC; Cava|H|%"},
        {"a column of no kind", "Hora  Sala", -1, "-"},
        {"an input 3", "Hora  Sala - 3", -1, "-"},
        {"a channel e", "Hora  Sala - e (x)", -1, "-"},
        {"a separator at the end", "Hora  Sala (ºC)  ", -1, "-"},
        {"one blank after Hora", "Hora Sala (ºC)", -1, "-"},
        {"lower case", "hora  Sala (ºC)", -1, "-"},
        {"a longer first word", "Horas  Sala (ºC)", -1, "-"},
        {"empty", "", -1, "-"},
    };
    for (const auto &[what, text, count, expected] : rows) {
        SCOPED_TRACE(what);
        const QString line = QString::fromStdString(text);
        std::vector<Column> columns;
        bool ordered = expected[0] == '~';
        const bool good = captureheader::parse(line, columns, count, &ordered);
        EXPECT_EQ((good ? ordered ? "" : "~" : "-") + shown(columns), expected);
        // The columns are the whole line, cut at separators.
        QStringList names{QStringLiteral("Hora")};
        for (const Column &c : columns)
            names << c.name;
        EXPECT_TRUE(!good || names.join(QStringLiteral("  ")) == line);
    }
}

// Tables of many devices with awkward names, as cabecera writes them: every
// device's columns come back with its name, class and unit, in table order
// within each pass (the inputs last).
TEST(CaptureHeader, ReadsBackTheMonitorsHeaderOfManyDevices)
{
    const std::tuple<std::int16_t, const char *, const char *> kinds[] = {
        {STT, "T (%1)", "%1|T|ºC"},
        {HRT, "H  %1", "%1|T|ºC; %1|H|%"},
        {AVI, "A - %1", "%1|a|V; %1|b|; %1|c|m3 (n); %1|d|%"},
        {DET, "D %1", "%1|1|; %1|2|"},
        {CTR, "D %1", "%1|1|; %1|2|"},
    };
    General g;
    QStringList expected, inputs;
    for (int i = 0; i < 150; ++i) {
        const auto &[tipo, pattern, columns] = kinds[i % 5];
        const QString name = QString::fromLatin1(pattern).arg(i);
        addDevice(g, {tipo, qPrintable(name), true, {}, {}, {" V ", "", "m3 (n)", "%"}});
        (tipo == DET || tipo == CTR ? inputs : expected) << QString::fromUtf8(columns).arg(name);
    }
    std::vector<Column> columns;
    bool ordered = false;
    ASSERT_TRUE(captureheader::parse(cabecera(g), columns, -1, &ordered));
    EXPECT_TRUE(ordered);
    EXPECT_EQ(columns.size(), std::size_t{30 * (1 + 2 + 4 + 2 + 2)});
    EXPECT_EQ(shown(columns), (expected + inputs).join(QStringLiteral("; ")).toStdString());
    EXPECT_EQ(captureheader::columnText(QStringLiteral("Sala"), 'e'), QString()) << "no such class";
}

} // namespace
