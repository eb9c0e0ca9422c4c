#include "dialogs/check.h"
#include "netaccess/binding.h"
#include "registry/general.h"
#include "support/support.h"

#include <gtest/gtest.h>
#include <optional>

namespace {

const char *const kCall[] = {"", "LeerTemperatura", "LeerHRT", "LeerAD", "LeerDET", "LeerDET"};

TEST(Check, ReadsTheWorkingRecordsDevice)
{
    struct Row {
        const char *name;
        std::int16_t tipo;
        const char *serial;
        bool fixWords;
        SondaIO::Words words;
        std::optional<QString> text; // empty: nothing to show
    };
    const Row rows[] = {
        {"sttTenthsBelowZero", STT, "28A3F2C501080011", true, {-12, 0, 0, 0},
         QStringLiteral("Sensor 28A3F2C501080011 encontrado\r\nTemperatura = -1.2 ºC")},
        {"sttWholeDegrees", STT, "28A3F2C501080011", true, {200, 0, 0, 0},
         QStringLiteral("Sensor 28A3F2C501080011 encontrado\r\nTemperatura = 20 ºC")},
        {"hrtBothWords", HRT, "26E1905C00000033", true, {21, 55, 0, 0},
         QStringLiteral("Sensor 26E1905C00000033 encontrado\r\nTemperatura = 21 ºC , Humedad = 55 %")},
        {"aviFourChannels", AVI, "20C4001A0F000044", true, {512, 0, -7, 3650},
         QStringLiteral("Sensor 20C4001A0F000044 encontrado\r\nCHa = 512 , CHb = 0 , CHc = -7 , CHd = 3650")},
        {"detInputsInverted", DET, "1D5EE30700000055", true, {0, 3, 0, 0},
         QStringLiteral("Sensor 1D5EE30700000055 encontrado\r\nIN1 = 1 , IN2 = 0")},
        {"ctrReadAsDetector", CTR, "3A7C11B200000077", true, {1, 0, 0, 0},
         QStringLiteral("Sensor 3A7C11B200000077 encontrado\r\nRELÉ1 = 0 , RELÉ2 = 1")},
        {"missingDevice", STT, "0102030405060708", false, {},
         QStringLiteral("Sensor 0102030405060708 no encontrado")},
        {"missingAvi", AVI, "20000000000000FE", false, {},
         QStringLiteral("Sensor 20000000000000FE no encontrado")},
        {"unknownType", 0, "28A3F2C501080011", false, {}, std::nullopt},
    };
    QString error;
    const auto io = SondaIO::load(binFolder(), &error);
    ASSERT_TRUE(io) << error.toStdString();
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        sim::load(nullptr);
        General g;
        ASSERT_GT(io->IniciarCNX(0, QStringLiteral("COM1"), g.mensaje), 0);
        const Serial serial = sn(row.serial);
        if (row.fixWords) {
            ASSERT_EQ(sim::setWords(0, serial, row.words[0], row.words[1], row.words[2], row.words[3]), 0);
        }
        g.dispactual.tipo = row.tipo;
        g.dispactual.sn = serial;
        g.dispactual.ajuste = {5, 6, 7, 8};

        EXPECT_EQ(comprobar(g, io.get(), 0), row.text);

        if (row.tipo == AVI) {
            // Unit gain stays in the record whether or not the device answered.
            EXPECT_EQ(g.dispactual.ajuste, (std::array<std::int16_t, 4>{1, 1, 1, 1}));
        } else {
            EXPECT_EQ(g.dispactual.ajuste, (std::array<std::int16_t, 4>{5, 6, 7, 8}));
        }
        if (row.tipo == 0) {
            EXPECT_EQ(sim::callCount(0, nullptr, nullptr), 1); // IniciarCNX alone
        } else if (row.fixWords) {
            EXPECT_EQ(sim::callCount(0, &serial, kCall[row.tipo]), 1);
        }
    }
}

}
