// The main window and its dialogs on a real X display, driven by key
// presses and mouse clicks that go through the X server: the device the
// user picks is the device that changes, and the keys do what the menus
// say.
#include "dialogs/avanzado.h"
#include "dialogs/buscar.h"
#include "monitor/sensoresmodel.h"
#include "registry/configfile.h"
#include "shell/inicio.h"
#include "shell/running.h"
#include "x11/xinput.h"

#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QTimer>
#include <QWindow>

#include <cmath>

namespace {

const char *const sala = "STT28A3F2C501080011";
const char *const humedad = "HRT26E1905C00000033";
const char *const pasillo = "STT2800B74410FF0022";

// The main window on COM1 of the demo network, on the screen with the focus.
struct OnScreen : Running {
    explicit OnScreen(const char *commandLine = "/1") : Running(commandLine) { EXPECT_TRUE(xinput::ready()); }
    // Devices put into the table as the pane would put them, then shown.
    bool show(const std::vector<std::pair<const char *, const char *>> &list = {})
    {
        for (const auto &[name, serial] : list)
            add(name, serial);
        return xinput::showActive(window.get());
    }
    QPoint row(int r) const { return window->Sensores->visualRect(window->model()->index(r)).center(); }
    int selected() const { return window->Sensores->selectionModel()->selectedRows().value(0).row(); }
    // Clicks a box and types into it, replacing its text.
    static bool typeInto(QLineEdit *box, const QString &text)
    {
        xinput::click(box);
        xinput::waitFor([box] { return box->hasFocus(); });
        xinput::key("a", xinput::Control);
        xinput::waitFor([box] { return box->selectedText() == box->text(); });
        xinput::type(text);
        return xinput::waitFor([box, text] { return box->text() == text; });
    }
};

// The arrow keys load the device they move to; Delete deletes the selected
// one, from the list only.
TEST(OnScreen, keysActOnTheSelectedDevice)
{
    OnScreen f;
    ASSERT_TRUE(f.show({{"a", sala}, {"b", humedad}}));
    xinput::click(f.window->Sensores->viewport(), f.row(0));
    ASSERT_TRUE(xinput::waitFor([&] { return f.window->nombre->text() == QStringLiteral("a"); }));
    xinput::key("Down");
    ASSERT_TRUE(xinput::waitFor([&] { return f.window->nombre->text() == QStringLiteral("b"); }));
    EXPECT_EQ(f.g.dispactual.sn, sn("26E1905C00000033"));
    ASSERT_TRUE(f.typeInto(f.window->nombre, QStringLiteral("c")));
    ASSERT_TRUE(f.typeInto(f.window->SN, QString::fromLatin1(pasillo)));
    xinput::click(f.window->anadir);
    ASSERT_TRUE(xinput::waitFor([&] { return f.g.n() == 3; }));

    // The list takes the focus as a Tab into it gives it: the selection stays.
    f.window->Sensores->setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(xinput::waitFor([&] { return f.window->Sensores->hasFocus(); }));
    xinput::key("Delete");
    ASSERT_TRUE(xinput::waitFor([&] { return f.g.n() == 2; }));
    EXPECT_EQ(f.names(), QStringLiteral("a,c"));
    EXPECT_EQ(f.window->nombre->text(), QStringLiteral("c")) << "the device now on the selected line";
    // Deleting the last line leaves the new last line selected.
    xinput::click(f.window->Sensores->viewport(), f.row(1));
    xinput::key("Delete");
    ASSERT_TRUE(xinput::waitFor([&] { return f.g.n() == 1; }));
    EXPECT_EQ(f.selected(), 0);
    // With the pane hidden the key deletes nothing: the pane shown again
    // after it says the key was handled.
    xinput::key("e", xinput::Control);
    xinput::key("Delete");
    xinput::key("e", xinput::Control);
    ASSERT_TRUE(xinput::waitFor([&] { return f.window->mnueditar->isChecked() && f.window->Nsensor->isVisible(); }));
    EXPECT_EQ(f.g.n(), 1);
}

// What the user types into the pane stays there through the readings, and
// the menu shortcuts work from its boxes.
TEST(OnScreen, thePaneKeepsWhatTheUserTypes)
{
    OnScreen f;
    ASSERT_TRUE(f.show({{"a", sala}, {"b", humedad}, {"c", pasillo}}));
    // The list has the focus with nothing selected while the readings come:
    // a save and a load of the same number of devices leave no line selected.
    xinput::click(f.window->Sensores->viewport(), f.row(1));
    ASSERT_TRUE(xinput::waitFor([&] { return f.selected() == 1; }));
    xinput::key("s", xinput::Control);
    ASSERT_TRUE(xinput::waitFor([&] { return !f.g.modificado; }));
    xinput::key("c", xinput::Control);
    ASSERT_TRUE(xinput::waitFor([&] { return f.selected() == -1; }));
    f.tick(3);
    ASSERT_TRUE(f.typeInto(f.window->nombre, QStringLiteral("Otro")));
    ASSERT_TRUE(f.typeInto(f.window->SN, QString::fromLatin1(pasillo)));
    // Deleting by the serial typed into the pane rebuilds the list.
    xinput::click(f.window->Borrar);
    ASSERT_TRUE(xinput::waitFor([&] { return f.g.n() == 2; }));
    f.tick(3);
    EXPECT_EQ(f.names(), QStringLiteral("b,a")) << "as the save sorted them";
    EXPECT_EQ(f.window->nombre->text() + f.window->SN->text(), QStringLiteral("Otro") + QString::fromLatin1(pasillo));
    // The menu's shortcuts from a box: a load, which asks first, and the
    // pane hidden.
    ASSERT_TRUE(f.typeInto(f.window->nombre, QStringLiteral("texto")));
    f.messages.answer(Messages::Answer::No);
    xinput::key("c", xinput::Control);
    ASSERT_TRUE(xinput::waitFor([&] { return !f.messages.texts.isEmpty(); }));
    xinput::key("e", xinput::Control);
    ASSERT_TRUE(xinput::waitFor([&] { return !f.window->mnueditar->isChecked(); }));
}

TEST(OnScreen, portWindowOffersOnlyItsFourPorts)
{
    OnScreen f("/0");
    f.g.puerto = -1;
    inicio window(f.g, f.io.get(), f.messages);
    ASSERT_TRUE(xinput::showActive(&window));
    QLineEdit *box = window.RSport->lineEdit();
    ASSERT_TRUE(f.typeInto(box, QStringLiteral("COM5")));
    EXPECT_FALSE(window.iniciar->isEnabled()) << "typing is no choice";
    xinput::key("KP_Enter");
    ASSERT_TRUE(xinput::waitFor([&] { return !f.messages.texts.isEmpty(); }));
    EXPECT_EQ(f.messages.texts, QStringList{QStringLiteral("Seleccione un puerto de la lista.")});
    // Typed text naming an entry picks that entry.
    ASSERT_TRUE(f.typeInto(box, QStringLiteral("com2")));
    xinput::key("Return");
    ASSERT_TRUE(xinput::waitFor([&] { return !window.isVisible(); }));
    EXPECT_EQ(f.g.nombrepuerto, QStringLiteral("COM2"));
    EXPECT_EQ(window.RSport->count(), 4);
}

bool onScreen(QWidget *w) { return w && w->isVisible() && w->windowHandle() && w->windowHandle()->isExposed(); }

// Runs `inside` from the event loop once a modal dialog of that class is on
// the screen and `ready`: the test goes on there while the dialog's own
// loop runs.
template <typename Dialog>
void whenShown(std::function<void(Dialog &)> inside, std::function<bool(Dialog &)> ready)
{
    QTimer::singleShot(10, [inside, ready] {
        auto *dialog = qobject_cast<Dialog *>(QApplication::activeModalWidget());
        if (!onScreen(dialog) || !ready(*dialog))
            return whenShown(inside, ready);
        inside(*dialog);
    });
}

TEST(OnScreen, dialogsAreOnTheScreenBeforeTheyWork)
{
    OnScreen f;
    ASSERT_TRUE(f.show({{"a", sala}}));
    // The searches start once the window shows;
    // a double click takes the serial under it to the pane, and opens it.
    xinput::key("e", xinput::Control);
    bool searchedOnScreen = false;
    sim::onCall([&](const char *call) {
        if (QByteArray(call) == "BuscarSensoresTra")
            searchedOnScreen = onScreen(QApplication::activeModalWidget()) &&
                               QApplication::overrideCursor() && QApplication::overrideCursor()->shape() == Qt::WaitCursor;
    });
    QString picked;
    whenShown<buscar>(
        [&](buscar &dialog) {
            picked = dialog.sennet->item(2)->text();
            xinput::click(dialog.sennet->viewport(), dialog.sennet->visualItemRect(dialog.sennet->item(2)).center(), 2);
        },
        [](buscar &dialog) { return dialog.sennet->count() > 0; });
    xinput::key("e", xinput::Alt);
    xinput::key("b");
    ASSERT_TRUE(xinput::waitFor([&] { return !picked.isEmpty() && !QApplication::activeModalWidget(); }));
    EXPECT_TRUE(searchedOnScreen);
    sim::onCall({});
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(f.window->SN->text(), picked);
    EXPECT_TRUE(f.window->mnueditar->isChecked() && f.window->Nsensor->isVisible());
}

// Units and limits as a damaged or older file may hold them: longer than
// the narrow boxes, more digits than the boxes show; and a relay link to a
// device no longer in the table, said over the window, not before it.
TEST(OnScreen, advancedWindowKeepsStoredValuesWhole)
{
    Dispositivo d{.nombre = QStringLiteral("Caudal"), .sn = sn("20C4001A0F000044"), .tipo = AVI,
                  .alarma = {-100.25f, 1234.5f, 0, 0}, .ganancia = {0.1f, std::nextafter(1.0f, 2.0f), 3, 4},
                  .magnitud = {QStringLiteral("Celsius+"), QStringLiteral("bar"), QStringLiteral("  m3/h"), QString()},
                  .snrele = {sn("3A0000000000AB01")}, .salrele = {1}, .periodo = 5};
    OnScreen f;
    f.folder.write(QStringLiteral("config1.ini"), configfile::encode(std::vector<Dispositivo>{{.nombre = QStringLiteral("00"), .magnitud = {}}, d}));
    f.window->cargar_Click();
    ASSERT_TRUE(f.show());

    bool saidOverTheWindow = false;
    f.messages.whileShown = [&](const QString &text) {
        if (text.startsWith(QStringLiteral("El rele")))
            saidOverTheWindow = onScreen(QApplication::activeModalWidget());
    };
    QStringList shown;
    whenShown<avanzado>(
        [&](avanzado &dialog) {
            for (int k : {4, 5, 6, 7, 8, 9})
                shown << dialog.vprop[k]->text();
            // Typing stops at five characters in the narrow boxes.
            QLineEdit *unit = dialog.vprop[7];
            OnScreen::typeInto(unit, QStringLiteral("ab"));
            xinput::type(QStringLiteral("cdefgh"));
            OnScreen::typeInto(dialog.vtm, QStringLiteral("60"));
            shown << unit->text();
            xinput::key("a", xinput::Alt);
        },
        [&](avanzado &) { return !f.messages.texts.isEmpty(); });
    xinput::click(f.window->Sensores->viewport(), f.row(0), 2);
    ASSERT_TRUE(xinput::waitFor([&] { return shown.size() == 7 && !QApplication::activeModalWidget(); }));
    EXPECT_EQ(shown, (QStringList{QStringLiteral("Celsius+"), QStringLiteral("bar"), QStringLiteral("m3/h"), QString(),
                                  QStringLiteral("-100.25"), QStringLiteral("1234.5"), QStringLiteral("abcde")}));
    EXPECT_EQ(f.messages.texts, (QStringList{QStringLiteral("El rele asiciado a este sensor ya no existe."),
                                             QStringLiteral("El dispositivo ya está en la lista.\r\n¿Desea modificar sus propiedades?")}));
    EXPECT_TRUE(saidOverTheWindow);

    // Only what was typed changed, and the link to nowhere is gone.
    d.periodo = 60;
    d.magnitud[3] = QStringLiteral("abcde");
    d.snrele[0] = Serial{};
    d.salrele[0] = 0;
    EXPECT_EQ(configfile::encode({f.g.dispositivos[1]}), configfile::encode({d}));
}

// The built program, started with options the toolkit would take for its
// own: they are no command line of the program's, so it shows its usage
// message, ends when it is answered, and never connects.
TEST(OnScreen, toolkitOptionsAreARejectedCommandLine)
{
    application();
    for (const char *line : {"-reverse", "-style fusion", "-qwindowtitle x", "-platform nosuch", "-display :99"}) {
        SCOPED_TRACE(line);
        TempFolder folder;
        for (const QString &name : {QStringLiteral("Climalog"), SondaIO::fileName()})
            ASSERT_TRUE(QFile::copy(binFolder() + QLatin1Char('/') + name, folder.file(name)));
        folder.write(QStringLiteral("sondanet.txt"), "calllog llamadas.txt\nport COM1 open\n");
        folder.write(QStringLiteral("config1.ini"), QByteArray("00").leftJustified(140, ' '));
        QProcess program; // on the xcb platform, as the test command sets it
        program.start(folder.file(QStringLiteral("Climalog")), QString::fromLatin1(line).split(QLatin1Char(' ')));
        ASSERT_TRUE(program.waitForStarted(10000));
        // Return answers the message box once it has the focus; a main
        // window would take it and go on running.
        for (int k = 0; k < 100 && !program.waitForFinished(200); ++k)
            xinput::key("Return");
        EXPECT_EQ(program.state(), QProcess::NotRunning);
        program.kill();
        program.waitForFinished();
        EXPECT_EQ(program.exitStatus(), QProcess::NormalExit) << program.readAllStandardError().toStdString();
        EXPECT_EQ(program.exitCode(), 0);
        EXPECT_FALSE(folder.read(QStringLiteral("llamadas.txt")).contains("IniciarCNX"));
    }
}

}
