#include "dialogs/buscar.h"
#include "support/windows.h"

#include <QAction>
#include <QGroupBox>
#include <QLineEdit>
#include <QListWidget>

namespace {

QStringList entries(const QListWidget *list)
{
    QStringList out;
    for (int k = 0; k < list->count(); ++k)
        out << list->item(k)->text();
    return out;
}

long searches(const char *call) { return sim::callCount(0, nullptr, call); }

// The searches start once the window is up.
void abre(buscar &b)
{
    b.show();
    QCoreApplication::processEvents();
}

TEST(Search, ListsWhatEachSearchReports)
{
    struct Row {
        const char *name;
        const char *network; // null: the demo network
        int reportedCount;   // -1: the devices found
        int intervalo;
        QStringList listed;
    };
    const Row rows[] = {
        {"emptyNetwork", "port COM1 open\n", -1, 3000, {}},
        // Five serials fill the buffer, then three: slots 3 and 4 still hold
        // the first search's serials and must not be listed again.
        {"laterSearchesReportFewer",
         "port COM1 open\n"
         "device STT 0700000000000001\ndevice HRT 28000000000000A2\ndevice STT 28000000000000A3\n"
         "device STT 28000000000000A4\ndevice STT 28000000000000A5\n"
         "device AVI 20000000000000B1\ndevice AVI 20000000000000B2\ndevice AVI 20000000000000B3\n",
         -1, 5000,
         {"0700000000000001", "28000000000000A2", "28000000000000A3", "28000000000000A4", "28000000000000A5",
          "20000000000000B1", "20000000000000B2", "20000000000000B3"}},
        {"reportedBeyondAnnounced", nullptr, 150, 3000, {}},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        MainFixture f;
        if (row.network) {
            ASSERT_EQ(sim::load(row.network), 0);
        }
        ASSERT_TRUE(f.start(QStringLiteral("/1")));
        f.g.intervalo = row.intervalo;
        if (row.reportedCount >= 0)
            sim::searchCount(0, row.reportedCount);
        buscar b(f.g, f.io.get(), *f.window);

        abre(b);

        const QStringList listed = entries(b.sennet);
        if (row.reportedCount > 0) {
            // Each search lists the 100 slots it announced, its devices first.
            ASSERT_EQ(listed.size(), 300);
            EXPECT_EQ(listed[0], QStringLiteral("28A3F2C501080011"));
            EXPECT_EQ(listed[100], QStringLiteral("20C4001A0F000044"));
            EXPECT_EQ(listed[200], QStringLiteral("1D5EE30700000055"));
            EXPECT_EQ(listed[99], QStringLiteral("0000000000000000"));
        } else {
            EXPECT_EQ(listed, row.listed);
        }
        EXPECT_EQ(searches("BuscarSensoresTra"), 1);
        EXPECT_EQ(searches("BuscarConversoresAD"), 1);
        EXPECT_EQ(searches("BuscarDetectores"), 1);
        EXPECT_EQ(f.window->timerInterval(), row.intervalo);
        EXPECT_TRUE(f.window->timerRunning());
        EXPECT_EQ(QApplication::overrideCursor(), nullptr);
        EXPECT_EQ(b.windowTitle(), QStringLiteral("Climalog - Búsqueda"));
    }
}

TEST(Search, ReopeningSearchesAgain)
{
    MainFixture f;
    ASSERT_TRUE(f.start(QStringLiteral("/1")));
    buscar b(f.g, f.io.get(), *f.window);
    abre(b);
    ASSERT_EQ(b.sennet->count(), 8);
    b.hide();
    ASSERT_EQ(sim::addDevice(0, DET, sn("1D00000000000C01")), 0);
    abre(b);
    EXPECT_EQ(searches("BuscarDetectores"), 2);
    ASSERT_EQ(b.sennet->count(), 9);
    EXPECT_EQ(b.sennet->item(8)->text(), QStringLiteral("1D00000000000C01"));
}

TEST(Search, DoubleClickTakesTheSerial)
{
    for (const bool paneOpen : {false, true}) {
        SCOPED_TRACE(paneOpen);
        MainFixture f;
        ASSERT_TRUE(f.start(QStringLiteral("/1")));
        if (f.window->mnueditar->isChecked() != paneOpen)
            f.window->mnueditar_Click();
        buscar b(f.g, f.io.get(), *f.window);
        abre(b);
        // The list's own double-click signal: synthetic mouse events would
        // leave a pointing device that the shared application object cannot
        // outlive at exit.
        QListWidgetItem *item = b.sennet->item(2);
        b.sennet->setCurrentItem(item);
        emit b.sennet->itemDoubleClicked(item);

        EXPECT_TRUE(f.window->mnueditar->isChecked());
        EXPECT_FALSE(f.window->Nsensor->isHidden());
        EXPECT_EQ(f.window->SN->text(), QStringLiteral("26E1905C00000033"));
        EXPECT_FALSE(b.isVisible());
    }
}

}
