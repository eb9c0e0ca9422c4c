// The main window's check button, which says what the device in the pane
// reads. (The search window: the window tests on the display.)
#include "support/windows.h"

#include <QLineEdit>

using namespace Qt::Literals::StringLiterals;

namespace {

TEST(Check, saysWhatTheDeviceInThePaneReads)
{
    const struct {
        const char *serialBox;
        std::optional<SondaIO::Words> words; // fixed on the network; none: leave it
        const char *call;
        const char *text; // null: nothing to show
    } rows[] = {
        {"STT28A3F2C501080011", {{-12, 0, 0, 0}}, "LeerTemperatura", "28A3F2C501080011 encontrado\r\nTemperatura = -1.2 ºC"},
        {"HRT26E1905C00000033", {{21, 55, 0, 0}}, "LeerHRT", "26E1905C00000033 encontrado\r\nTemperatura = 21 ºC , Humedad = 55 %"},
        {"AVI20C4001A0F000044", {{512, 0, -7, 3650}}, "LeerAD",
         "20C4001A0F000044 encontrado\r\nCHa = 512 , CHb = 0 , CHc = -7 , CHd = 3650"},
        // Detector inputs are active at 0; a relay device answers as one.
        {"DET1D5EE30700000055", {{0, 3, 0, 0}}, "LeerDET", "1D5EE30700000055 encontrado\r\nIN1 = 1 , IN2 = 0"},
        {"CTR3A7C11B200000077", {{1, 0, 0, 0}}, "LeerDET", "3A7C11B200000077 encontrado\r\nRELÉ1 = 0 , RELÉ2 = 1"},
        {"AVI20000000000000FE", {}, "LeerAD", "20000000000000FE no encontrado"},
        {"XYZ28A3F2C501080011", {}, nullptr, nullptr},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.serialBox);
        MainFixture f;
        ASSERT_TRUE(f.start(u"/1"_s));
        const Serial serial = sn(row.serialBox + 3);
        const SondaIO::Words w = row.words.value_or(SondaIO::Words{});
        ASSERT_EQ(row.words ? sim::setWords(0, serial, w[0], w[1], w[2], w[3]) : 0, 0);
        f.window->SN->setText(QString::fromLatin1(row.serialBox));
        f.window->CMP_Click();
        EXPECT_EQ(f.messages.texts, row.text ? QStringList{u"Sensor "_s + QString::fromUtf8(row.text)} : QStringList{});
        EXPECT_EQ(sim::callCount(0, &serial, row.call ? row.call : "LeerTemperatura"), row.call ? 1 : 0);
    }
}

}
