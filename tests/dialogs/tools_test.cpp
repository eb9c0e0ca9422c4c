// The main window's tools: the check button, which says what the device in
// the pane reads; the search window, which lists what each of its three
// searches reports from one buffer.
#include "dialogs/buscar.h"
#include "dialogs/searchslots.h"
#include "support/windows.h"

#include <QLineEdit>
#include <QListWidget>

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

TEST(Search, listsWhatEachSearchReports)
{
    MainFixture f;
    // Two serials fill the buffer, then one: slot 1 still holds the first
    // search's second serial and must not be listed again.
    ASSERT_EQ(sim::load("port COM1 open\ndevice STT 28000000000000A1\ndevice HRT 26000000000000A2\ndevice AVI 20000000000000B1\n"), 0);
    ASSERT_TRUE(f.start(u"/1"_s));
    buscar b(f.g, f.io.get(), *f.window);
    // The searches start once the window is up, each time it shows.
    for (int shown = 0; shown < 2; ++shown) {
        b.hide();
        b.show();
        QCoreApplication::processEvents();
    }
    QStringList listed;
    for (int k = 0; k < b.sennet->count(); ++k)
        listed << b.sennet->item(k)->text();
    EXPECT_EQ(listed, (QStringList{u"28000000000000A1"_s, u"26000000000000A2"_s, u"20000000000000B1"_s}));
    EXPECT_EQ(sim::callCount(0, nullptr, "BuscarConversoresAD"), 2);
    EXPECT_TRUE(f.window->timerRunning()) << "polling comes back";
    // Counts of a misbehaving library: none listed, or never past the 100 slots.
    SondaIO::SearchBuffer buffer{};
    EXPECT_TRUE(serialesEncontrados(buffer, -3).isEmpty());
    EXPECT_EQ(serialesEncontrados(buffer, 32767).size(), 100);
}

}
