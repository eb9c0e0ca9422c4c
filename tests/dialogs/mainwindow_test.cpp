// The dialogs as the main window opens them: its buttons, its menu, its
// list, and the relay they end up switching.
#include "dialogs/avanzado.h"
#include "dialogs/buscar.h"
#include "monitor/sensoresmodel.h"
#include "support/windows.h"

#include <QComboBox>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>

namespace {

const Serial sala = sn("28A3F2C501080011");
const Serial calefaccion = sn("3A7C11B200000077");

struct Running : MainFixture {
    Running() { EXPECT_TRUE(start(QStringLiteral("/1"))); }
    void add(const QString &name, const QString &serialBox)
    {
        window->nombre->setText(name);
        window->SN->setText(serialBox);
        window->anadir->click();
    }
    // Runs `inside` once the next modal dialog is up and `ready`.
    template <typename Dialog>
    static void whenShown(std::function<void(Dialog &)> inside, std::function<bool(Dialog &)> ready = {})
    {
        QTimer::singleShot(10, [inside, ready] {
            auto *dialog = qobject_cast<Dialog *>(QApplication::activeModalWidget());
            if (!dialog || (ready && !ready(*dialog)))
                return whenShown(inside, ready);
            inside(*dialog);
        });
    }
};

TEST(MainWindowDialogs, checkButtonReportsTheReading)
{
    Running f;
    sim::setWords(0, sala, -12);
    f.window->SN->setText(QStringLiteral("STT28A3F2C501080011"));
    ASSERT_TRUE(f.window->CMP->isEnabled());
    f.window->CMP->click();
    EXPECT_EQ(f.messages.texts, QStringList{QStringLiteral("Sensor 28A3F2C501080011 encontrado\r\nTemperatura = -1.2 ºC")});
    sim::failRate(0, sala, 1.0);
    f.window->CMP->click();
    EXPECT_EQ(f.messages.texts.last(), QStringLiteral("Sensor 28A3F2C501080011 no encontrado"));
}

TEST(MainWindowDialogs, searchDoubleClickFillsTheSerialBox)
{
    Running f;
    f.window->mnueditar_Click(); // pane closed
    // The searches start once the window is up.
    f.whenShown<buscar>(
        [](buscar &dialog) {
            dialog.sennet->setCurrentRow(0);
            dialog.sennet_DblClick();
        },
        [](buscar &dialog) { return dialog.sennet->count() > 0; });
    f.window->mnubuscar->trigger();
    EXPECT_TRUE(f.window->mnueditar->isChecked());
    EXPECT_EQ(f.window->SN->text(), QStringLiteral("28A3F2C501080011"));
    EXPECT_EQ(f.window->timerInterval(), 3000);
}

// Limits 18 and 22 and output 1 of a relay device set through the dialog;
// the simulated temperature then crosses the limits tick by tick.
TEST(MainWindowDialogs, relayLinkedThroughTheDialogFollowsTheTemperature)
{
    Running f;
    f.add(QStringLiteral("Sala"), QStringLiteral("STT28A3F2C501080011"));
    f.add(QStringLiteral("Calefaccion"), QStringLiteral("CTR3A7C11B200000077"));
    // The sensor's line, then the dialog through a double click.
    const QModelIndex line = f.window->model()->index(0);
    ASSERT_TRUE(line.data().toString().startsWith(QStringLiteral("STT  Sala")));
    f.window->Sensores->setCurrentIndex(line);
    f.whenShown<avanzado>([](avanzado &dialog) {
        EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Climalog - Propiedades STT"));
        dialog.vprop[1]->setText(QStringLiteral("18"));
        dialog.vprop[2]->setText(QStringLiteral("22"));
        ASSERT_EQ(dialog.listarele->count(), 4);
        EXPECT_EQ(dialog.listarele->itemText(2), QStringLiteral("Calefaccion - 3A7C11B200000077 -1"));
        dialog.listarele->setCurrentIndex(2);
        emit dialog.listarele->activated(2);
        dialog.aceptar->click();
        EXPECT_TRUE(dialog.isHidden());
    });
    f.window->Sensores_DblClick();
    // Modifying an existing device asks first (answered Yes).
    EXPECT_EQ(f.messages.texts,
              QStringList{QStringLiteral("El dispositivo ya está en la lista.\r\n¿Desea modificar sus propiedades?")});
    const Dispositivo &d = f.g.dispositivos[1];
    ASSERT_EQ(trimBlanks(d.nombre.text()), QStringLiteral("Sala"));
    EXPECT_EQ(d.alarma[0], 18.0f);
    EXPECT_EQ(d.alarma[1], 22.0f);
    EXPECT_EQ(d.snrele[0], calefaccion);
    EXPECT_EQ(d.salrele[0], 1);

    struct Step {
        std::int16_t tenths;
        std::int16_t relay;
        bool warning;
    };
    const Step steps[] = {{179, 1, true}, {200, 1, false}, {220, 1, false}, {221, 0, true}, {210, 0, false}, {179, 1, true}};
    for (const Step &s : steps) {
        SCOPED_TRACE(s.tenths);
        sim::setWords(0, sala, s.tenths);
        f.clock.advance(3);
        f.window->Timer1_Timer();
        std::int16_t out1 = -1, out2 = -1;
        sim::relayWords(0, calefaccion, out1, out2);
        EXPECT_EQ(out1, s.relay);
        EXPECT_EQ(out2, 0);
        QStringList warnings;
        for (int k = 0; k < f.window->infoalarmas->count(); ++k)
            warnings << f.window->infoalarmas->item(k)->text();
        EXPECT_EQ(warnings.contains(QStringLiteral("Sala")), s.warning) << warnings.join(QLatin1Char('|')).toStdString();
    }
}

}
