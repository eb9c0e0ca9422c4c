// The search window: what each of its three searches lists from one buffer,
// whatever count the library reports.
#include "dialogs/buscar.h"
#include "dialogs/searchslots.h"
#include "support/windows.h"

#include <QListWidget>

using namespace Qt::Literals::StringLiterals;

namespace {

long searches(const char *call) { return sim::callCount(0, nullptr, call); }

TEST(Search, listsWhatEachSearchReports)
{
    const struct {
        const char *network; // null: the demo network
        int reported;        // the count the library reports; -1: the devices found
        int intervalo;
        QStringList listed;
    } rows[] = {
        {"port COM1 open\n", -1, 3000, {}},
        // Five serials fill the buffer, then three: slots 3 and 4 still hold
        // the first search's serials and must not be listed again.
        {"port COM1 open\ndevice STT 0700000000000001\ndevice HRT 28000000000000A2\ndevice STT 28000000000000A3\n"
         "device STT 28000000000000A4\ndevice STT 28000000000000A5\ndevice AVI 20000000000000B1\n"
         "device AVI 20000000000000B2\ndevice AVI 20000000000000B3\n",
         -1, 5000,
         {u"0700000000000001"_s, u"28000000000000A2"_s, u"28000000000000A3"_s, u"28000000000000A4"_s,
          u"28000000000000A5"_s, u"20000000000000B1"_s, u"20000000000000B2"_s, u"20000000000000B3"_s}},
        {nullptr, 150, 3000, {}},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.intervalo + row.reported);
        MainFixture f;
        ASSERT_EQ(row.network ? sim::load(row.network) : 0, 0);
        ASSERT_TRUE(f.start(u"/1"_s));
        f.g.intervalo = row.intervalo;
        if (row.reported >= 0)
            sim::searchCount(0, row.reported);
        buscar b(f.g, f.io.get(), *f.window);
        // The searches start once the window is up.
        b.show();
        QCoreApplication::processEvents();
        QStringList listed;
        for (int k = 0; k < b.sennet->count(); ++k)
            listed << b.sennet->item(k)->text();
        if (row.reported > 0) {
            // Each search lists the 100 slots it announced, its devices first.
            ASSERT_EQ(listed.size(), 300);
            EXPECT_EQ(listed[0] + listed[100] + listed[200], u"28A3F2C50108001120C4001A0F0000441D5EE30700000055"_s);
            EXPECT_EQ(listed[99], u"0000000000000000"_s);
        } else {
            EXPECT_EQ(listed, row.listed);
        }
        EXPECT_EQ(searches("BuscarSensoresTra"), 1);
        EXPECT_EQ(searches("BuscarConversoresAD"), 1);
        EXPECT_EQ(searches("BuscarDetectores"), 1);
        // Polling comes back at its interval.
        EXPECT_EQ(f.window->timerInterval(), row.intervalo);
        EXPECT_TRUE(f.window->timerRunning());
    }
    // Counts no simulator reports.
    SondaIO::SearchBuffer buffer{};
    EXPECT_TRUE(serialesEncontrados(buffer, -3).isEmpty());
    EXPECT_EQ(serialesEncontrados(buffer, 32767).size(), 100);
}

}
