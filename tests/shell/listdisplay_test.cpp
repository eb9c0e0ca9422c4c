#include "monitor/sensoresmodel.h"
#include "support/windows.h"

#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QTimer>

namespace {

QColor textColour(const QListView *list) { return list->palette().color(QPalette::Text); }

TEST(ListDisplay, redWhileTheTickReadsAndNormalAfter)
{
    MainFixture f;
    ASSERT_TRUE(f.start(QStringLiteral("/1")));
    f.window->nombre->setText(QStringLiteral("Sala"));
    f.window->SN->setText(QStringLiteral("STT28A3F2C501080011"));
    f.window->anadir->click();
    const QColor normal = textColour(f.window->Sensores);
    ASSERT_NE(normal, QColor(255, 0, 0));

    // Runs at the tick's first yield, before the device is read.
    QColor during;
    QString lineDuring;
    QTimer::singleShot(0, [&] {
        during = textColour(f.window->Sensores);
        lineDuring = f.window->model()->index(0).data().toString();
    });
    sim::setWords(0, sn("28A3F2C501080011"), 215);
    f.window->Timer1_Timer();
    EXPECT_EQ(during, QColor(255, 0, 0));
    EXPECT_TRUE(lineDuring.endsWith(QStringLiteral("ERR"))) << lineDuring.toStdString();
    EXPECT_EQ(textColour(f.window->Sensores), normal);
    EXPECT_TRUE(f.window->model()->index(0).data().toString().endsWith(QStringLiteral("  21.5 ºC")));
    EXPECT_TRUE(f.window->timerRunning());
}

TEST(ListDisplay, emptyTableEmptiesTheListAndSelectsNothing)
{
    MainFixture f;
    ASSERT_TRUE(f.start(QStringLiteral("/1")));
    f.window->listado();
    EXPECT_EQ(f.window->model()->rowCount(), 0);
    EXPECT_FALSE(f.window->Sensores->currentIndex().isValid());
}

}
