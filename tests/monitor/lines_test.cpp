#include "monitor/lines.h"
#include "monitor/sensoresmodel.h"
#include "support/support.h"

#include <gtest/gtest.h>

#include <array>
#include <string>

namespace {

QString u8(const char *text) { return QString::fromUtf8(text); }

TEST(Lines, DeviceLine)
{
    struct Row {
        const char *name;
        TestDevice device;
        bool narrow;
        const char *line;
    };
    const Row rows[] = {
        {"temperature", {STT, "Sala", true, {21.5f}, {}}, false,
         "STT" "  " "Sala            " "  " "28A3F2C501080011" "  " "21.5 \u00BAC"},
        {"narrow name adds one separator", {STT, "Sala", true, {21.5f}, {}}, true,
         "STT" "  " "Sala            " "  " "  " "28A3F2C501080011" "  " "21.5 \u00BAC"},
        {"temperature below one", {STT, "Frio", true, {-0.5f}, {}}, false,
         "STT" "  " "Frio            " "  " "28A3F2C501080011" "  " "-.5 \u00BAC"},
        {"humidity and temperature", {HRT, "Invernadero", true, {22, 47}, {}}, false,
         "HRT" "  " "Invernadero     " "  " "28A3F2C501080011" "  " "22 \u00BAC" "  " "47 %"},
        {"converter, four channels with trimmed units", {AVI, "Caudal", true, {0.5f, 1380, -2.25f, 12345678.0f}, {}, {"V", " mA ", "", "Pa"}}, false,
         "AVI" "  " "Caudal          " "  " "28A3F2C501080011" "  " ".5 V" "  " "1380 mA" "  " "-2.25 " "  " "1.234568E+07 Pa"},
        {"detector, word 0 is an active input", {DET, "Puerta", true, {}, {0, 1}}, false,
         "DET" "  " "Puerta          " "  " "28A3F2C501080011" "  " "1" "  " "0"},
        {"relay device shows its inputs", {CTR, "Rele", true, {}, {5, 0}}, false,
         "CTR" "  " "Rele            " "  " "28A3F2C501080011" "  " "0" "  " "1"},
        {"failed reading", {STT, "Sala", false, {21.5f}, {}}, false,
         "STT" "  " "Sala            " "  " "28A3F2C501080011" "  " "  " "ERR"},
        {"failed reading, narrow", {HRT, "Sala", false, {}, {}}, true,
         "HRT" "  " "Sala            " "  " "  " "28A3F2C501080011" "  " "  " "ERR"},
        {"accented name is 16 characters", {STT, "Cámara frigorífica 2", true, {4}, {}}, false,
         "STT" "  " "Cámara frigoríf" "i" "  " "28A3F2C501080011" "  " "4 \u00BAC"},
        {"unknown type with a reading", {9, "Raro", true, {1}, {}}, false, "???"},
        {"unknown type without reading", {0, "Raro", false, {}, {}}, false,
         "???" "  " "Raro            " "  " "28A3F2C501080011" "  " "  " "ERR"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        General g;
        const int i = addDevice(g, row.device);
        EXPECT_EQ(anade(g, i, QStringLiteral("28A3F2C501080011"), row.narrow), u8(row.line));
    }

    General g;
    EXPECT_EQ(anade(g, 1, QStringLiteral("28A3F2C501080011"), false), QString()) << "no such device";
}

TEST(Lines, HeaderAndSerialColumn)
{
    const QString header = titulo();
    EXPECT_EQ(header, QStringLiteral("Tipo  Nombre" "            " "N. Serie" "          " "Datos"));
    EXPECT_EQ(header.size(), 47);

    struct Row {
        const char *name;
        const char *line;
        int position;
        const char *serial;
    };
    const Row rows[] = {
        {"wide name", "STT  Sala            " "  " "28A3F2C501080011  21.5 \u00BAC", 23, "28A3F2C501080011"},
        {"narrow name", "STT  Sala            " "    " "28A3F2C501080011  21.5 \u00BAC", 25, "28A3F2C501080011"},
        {"failed reading, wide", "DET  Puerta          " "  " "1D5EE30700000055    ERR", 23, "1D5EE30700000055"},
        {"unknown line", "???", 23, ""},
        {"line ending at the serial", "STT  Sala            " "  " "28A3F2C5", 23, "28A3F2C5"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(posserie(u8(row.line)), row.position);
        EXPECT_EQ(serielinea(u8(row.line)), u8(row.serial));
    }
}

// The list model: lines derived for the rows asked only, serials converted
// once per rebuild, widths measured once per name.
TEST(Lines, ListModel)
{
    General g;
    for (int k = 0; k < 3; ++k) {
        const int i = addDevice(g, {STT, k == 1 ? "Corto" : "Sala", true, {20.0f + k}, {}});
        g.dispositivos[i].sn = Serial{0x28, 0, 0, 0, 0, 0, 0, static_cast<std::uint8_t>(k)};
    }
    QStringList measured;
    SensoresModel model(g, nullptr, [&](const QString &nombre) {
        measured << nombre;
        return nombre.startsWith(QStringLiteral("Corto"));
    });
    ASSERT_EQ(model.rowCount(), 3);
    const auto line = [&](int row) { return model.data(model.index(row), Qt::DisplayRole).toString(); };

    EXPECT_EQ(line(1), u8("STT  Corto             " "  " "2800000000000001  21 \u00BAC"));
    EXPECT_EQ(line(0), u8("STT  Sala            " "  " "2800000000000000  20 \u00BAC"));
    EXPECT_EQ(line(2), u8("STT  Sala            " "  " "2800000000000002  22 \u00BAC"));
    EXPECT_EQ(measured.size(), 2) << "one measurement per distinct name";
    EXPECT_FALSE(model.data(model.index(0), Qt::ForegroundRole).isValid()) << "the window owns the colour";

    // A record edited in place shows its new serial without a rebuild.
    g.dispositivos[1].sn[7] = 0x7F;
    EXPECT_EQ(serielinea(line(0)), QStringLiteral("280000000000007F"));

    // The table shrinks during a tick: the stale row shows nothing and does
    // not read past the table; the rebuild takes the new count.
    g.borra(3);
    EXPECT_EQ(model.rowCount(), 3);
    EXPECT_EQ(line(2), QString());
    int resets = 0;
    QObject::connect(&model, &QAbstractItemModel::modelReset, [&] { ++resets; });
    model.rebuild();
    EXPECT_EQ(resets, 1);
    EXPECT_EQ(model.rowCount(), 2);
    g.vacia();
    model.rebuild();
    EXPECT_EQ(model.rowCount(), 0);
}

// A full table costs only the rows the view shows.
TEST(Lines, ListModelFullTable)
{
    General g;
    while (g.nuevo() != 0) {
    }
    int measurements = 0;
    SensoresModel model(g, nullptr, [&](const QString &) { return ++measurements, false; });
    // A rebuild measures nothing again: names are measured once each.
    for (int k = 0; k < 100; ++k) {
        model.rebuild();
        (void)model.data(model.index(32766), Qt::DisplayRole);
    }
    EXPECT_EQ(measurements, 1);
    EXPECT_EQ(model.rowCount(), maxDispositivos);
}

}
