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
#include <QDir>
#include <QGroupBox>
#include <QLineEdit>
#include <QListView>
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
    explicit OnScreen(const char *commandLine = "/1") : Running(commandLine)
    {
        QString why;
        EXPECT_TRUE(xinput::ready(&why)) << why.toStdString();
    }
    // Devices put into the table as the pane would put them, then shown.
    bool show(const std::vector<std::pair<const char *, const char *>> &list = {})
    {
        for (const auto &[name, serial] : list)
            add(name, serial);
        return xinput::showActive(window.get());
    }
    QPoint row(int r) const { return window->Sensores->visualRect(window->model()->index(r)).center(); }
    int selected() const
    {
        const QModelIndexList rows = window->Sensores->selectionModel()->selectedRows();
        return rows.isEmpty() ? -1 : rows.first().row();
    }
    bool tabIntoList()
    {
        for (int k = 0; k < 12 && !window->Sensores->hasFocus(); ++k) {
            QWidget *before = QApplication::focusWidget();
            xinput::key("Tab");
            xinput::waitFor([before] { return QApplication::focusWidget() != before; });
        }
        return window->Sensores->hasFocus();
    }
    // Clicks a box and types into it, replacing its text.
    static bool typeInto(QLineEdit *box, const QString &text)
    {
        xinput::click(box);
        if (!xinput::waitFor([box] { return box->hasFocus(); }))
            return false;
        xinput::key("a", xinput::Control);
        if (!xinput::waitFor([box] { return box->selectedText() == box->text(); }))
            return false;
        xinput::type(text);
        return xinput::waitFor([box, text] { return box->text() == text; });
    }
};

TEST(OnScreen, deleteAfterAnAddRemovesTheSelectedDevice)
{
    OnScreen f;
    ASSERT_TRUE(f.show({{"a", sala}, {"b", humedad}}));
    xinput::click(f.window->Sensores->viewport(), f.row(1));
    ASSERT_TRUE(xinput::waitFor([&] { return f.window->nombre->text() == QStringLiteral("b"); }));
    ASSERT_TRUE(f.typeInto(f.window->nombre, QStringLiteral("c")));
    ASSERT_TRUE(f.typeInto(f.window->SN, QString::fromLatin1(pasillo)));
    xinput::click(f.window->anadir);
    ASSERT_TRUE(xinput::waitFor([&] { return f.g.n() == 3; }));
    EXPECT_EQ(f.selected(), 1) << "adding keeps the selection";

    ASSERT_TRUE(f.tabIntoList());
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
    ASSERT_TRUE(xinput::waitFor([&] { return !f.window->mnueditar->isChecked(); }));
    xinput::click(f.window->Sensores->viewport(), f.row(0));
    xinput::key("Delete");
    xinput::key("e", xinput::Control);
    ASSERT_TRUE(xinput::waitFor([&] { return f.window->mnueditar->isChecked() && f.window->Nsensor->isVisible(); }));
    EXPECT_EQ(f.g.n(), 1);
}

TEST(OnScreen, ticksNeverOverwriteWhatTheUserTypes)
{
    OnScreen f;
    ASSERT_TRUE(f.show({{"a", sala}, {"b", humedad}, {"c", pasillo}}));
    // The list gets the focus, nothing selected; a save and a load of the
    // same number of devices leave nothing selected either.
    xinput::click(f.window->Sensores->viewport(), f.row(1));
    ASSERT_TRUE(xinput::waitFor([&] { return f.selected() == 1; }));
    xinput::key("s", xinput::Control);
    ASSERT_TRUE(xinput::waitFor([&] { return !f.g.modificado; }));
    xinput::key("c", xinput::Control);
    ASSERT_TRUE(xinput::waitFor([&] { return f.selected() == -1; }));
    ASSERT_TRUE(f.tabIntoList());
    f.tick(3);

    // Deleting by the serial typed into the pane rebuilds the list.
    ASSERT_TRUE(f.typeInto(f.window->nombre, QStringLiteral("Otro")));
    ASSERT_TRUE(f.typeInto(f.window->SN, QString::fromLatin1(pasillo)));
    xinput::click(f.window->Borrar);
    ASSERT_TRUE(xinput::waitFor([&] { return f.g.n() == 2; }));
    f.tick(3);
    EXPECT_EQ(f.names(), QStringLiteral("b,a")) << "as the save sorted them";
    EXPECT_EQ(f.window->nombre->text(), QStringLiteral("Otro"));
    EXPECT_EQ(f.window->SN->text(), QString::fromLatin1(pasillo));
    // A serial that is not in the table.
    xinput::click(f.window->Borrar);
    ASSERT_TRUE(xinput::waitFor([&] { return !f.messages.texts.isEmpty(); }));
    EXPECT_EQ(f.messages.texts, QStringList{QStringLiteral("El dispositivo no está en la lista")});
}

TEST(OnScreen, arrowKeysLoadTheHighlightedDevice)
{
    OnScreen f;
    ASSERT_TRUE(f.show({{"a", sala}, {"b", humedad}, {"c", pasillo}}));
    xinput::click(f.window->Sensores->viewport(), f.row(0));
    ASSERT_TRUE(xinput::waitFor([&] { return f.window->nombre->text() == QStringLiteral("a"); }));
    xinput::key("Down");
    ASSERT_TRUE(xinput::waitFor([&] { return f.window->nombre->text() == QStringLiteral("b"); }));
    EXPECT_EQ(f.window->SN->text(), QString::fromLatin1(humedad));
    EXPECT_EQ(f.g.dispactual.sn, sn("26E1905C00000033"));
    xinput::key("Down");
    ASSERT_TRUE(xinput::waitFor([&] { return f.window->nombre->text() == QStringLiteral("c"); }));
    EXPECT_EQ(f.g.dispactual.sn, sn("2800B74410FF0022"));
}

// The pane's layout in twips, as the window's own units.
TEST(OnScreen, menuShortcutsWinOverTheBoxes)
{
    OnScreen f;
    ASSERT_TRUE(f.show());
    const auto twips = [&](int px) { return qRound(px * 1440.0 / f.window->logicalDpiX()); };
    const QRect lista = f.window->lista->geometry();
    const int sensores = f.window->Sensores->height();
    // An empty table: the pane is open and its name box has the focus.
    ASSERT_TRUE(f.window->mnueditar->isChecked());
    f.window->nombre->setFocus();
    ASSERT_TRUE(xinput::waitFor([&] { return f.window->nombre->hasFocus(); }));
    xinput::key("e", xinput::Control);
    ASSERT_TRUE(xinput::waitFor([&] { return !f.window->mnueditar->isChecked(); }));
    EXPECT_TRUE(f.window->Nsensor->isHidden());
    EXPECT_EQ(f.window->lista->y(), 0);
    EXPECT_NEAR(twips(f.window->lista->height()), 6030, 15);
    EXPECT_GT(f.window->Sensores->height(), sensores);
    EXPECT_EQ(f.window->infoalarmas->height(), f.window->Sensores->height());
    xinput::key("e", xinput::Control);
    ASSERT_TRUE(xinput::waitFor([&] { return f.window->mnueditar->isChecked(); }));
    EXPECT_EQ(f.window->lista->geometry(), lista);
    EXPECT_EQ(f.window->Sensores->height(), sensores);

    ASSERT_TRUE(f.show({{"a", sala}}));
    ASSERT_TRUE(f.typeInto(f.window->nombre, QStringLiteral("texto")));
    xinput::key("s", xinput::Control);
    ASSERT_TRUE(xinput::waitFor([&] { return !f.g.modificado; }));
    EXPECT_TRUE(QFile::exists(f.folder.file(QStringLiteral("config1.ini"))));
    f.g.modificado = true;
    f.messages.answer(Messages::Answer::No);
    xinput::key("c", xinput::Control);
    ASSERT_TRUE(xinput::waitFor([&] { return !f.messages.texts.isEmpty(); }));
    EXPECT_EQ(f.messages.texts, QStringList{QStringLiteral("Los cambios se perderan.\r\n¿Desea cargar la configuración?")});
}

TEST(OnScreen, portWindowOffersOnlyItsFourPorts)
{
    OnScreen f("/0");
    f.g.puerto = -1;
    inicio window(f.g, f.io.get(), f.messages);
    ASSERT_TRUE(xinput::showActive(&window));
    QLineEdit *box = window.RSport->lineEdit();
    EXPECT_EQ(box->text(), QStringLiteral("Puerto"));
    for (const char *key : {"Return", "KP_Enter"}) {
        SCOPED_TRACE(key);
        f.messages.texts.clear();
        ASSERT_TRUE(f.typeInto(box, QStringLiteral("COM5")));
        EXPECT_FALSE(window.iniciar->isEnabled()) << "typing is no choice";
        xinput::key(key);
        ASSERT_TRUE(xinput::waitFor([&] { return !f.messages.texts.isEmpty(); }));
        EXPECT_EQ(f.messages.texts, QStringList{QStringLiteral("Seleccione un puerto de la lista.")});
        EXPECT_EQ(window.RSport->count(), 4);
        EXPECT_EQ(f.g.puerto, -1);
        EXPECT_TRUE(window.isVisible());
    }
    // Typed text naming an entry picks that entry.
    ASSERT_TRUE(f.typeInto(box, QStringLiteral("com2")));
    xinput::key("Return");
    ASSERT_TRUE(xinput::waitFor([&] { return !window.isVisible(); }));
    EXPECT_EQ(f.g.puerto, 1);
    EXPECT_EQ(f.g.nombrepuerto, QStringLiteral("COM2"));
    EXPECT_TRUE(f.g.conectado);
    EXPECT_EQ(window.RSport->count(), 4);
}

// Runs `inside` from the event loop once a modal dialog of that class is on
// the screen and `ready`: the test goes on there while the dialog's own
// loop runs.
template <typename Dialog>
void whenShown(std::function<void(Dialog &)> inside, std::function<bool(Dialog &)> ready)
{
    QTimer::singleShot(10, [inside, ready] {
        auto *dialog = qobject_cast<Dialog *>(QApplication::activeModalWidget());
        if (!dialog || !dialog->windowHandle() || !dialog->windowHandle()->isExposed() || !ready(*dialog))
            return whenShown(inside, ready);
        inside(*dialog);
    });
}

bool onScreen(QWidget *w) { return w && w->isVisible() && w->windowHandle() && w->windowHandle()->isExposed(); }

TEST(OnScreen, dialogsAreOnTheScreenBeforeTheyWork)
{
    OnScreen f;
    ASSERT_TRUE(f.show({{"a", sala}}));
    // A relay link to a device that is no longer in the table.
    f.g.dispositivos[1].snrele[0] = sn("3A0000000000AB01");
    f.g.dispositivos[1].salrele[0] = 1;

    // The searches, each from a slow network, start once the window shows;
    // a double click takes a serial to the pane, and opens it.
    xinput::key("e", xinput::Control);
    sim::latency(100);
    bool searchedOnScreen = false;
    int searches = 0;
    sim::onCall([&](const char *call) {
        if (QByteArray(call).startsWith("Buscar") && searches++ == 0)
            searchedOnScreen = onScreen(QApplication::activeModalWidget()) &&
                               QApplication::overrideCursor() && QApplication::overrideCursor()->shape() == Qt::WaitCursor;
    });
    QStringList listed;
    const auto search = [&](bool pick) {
        // No window manager gives the focus back when a dialog closes.
        xinput::showActive(f.window.get());
        whenShown<buscar>(
            [&, pick](buscar &dialog) {
                for (int k = 0; k < dialog.sennet->count(); ++k)
                    listed << dialog.sennet->item(k)->text();
                if (!pick)
                    return dialog.reject();
                xinput::click(dialog.sennet->viewport(), dialog.sennet->visualItemRect(dialog.sennet->item(2)).center(), 2);
            },
            [](buscar &dialog) { return dialog.sennet->count() > 0; });
        xinput::key("e", xinput::Alt);
        xinput::key("b");
        return xinput::waitFor([&] { return !listed.isEmpty() && !QApplication::activeModalWidget(); });
    };
    ASSERT_TRUE(search(true));
    sim::onCall({});
    sim::latency(0);
    EXPECT_TRUE(searchedOnScreen);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(f.window->timerInterval(), 3000) << "polling resumes after the searches";
    EXPECT_EQ(listed.size(), 8);
    EXPECT_EQ(f.window->SN->text(), QStringLiteral("26E1905C00000033"));
    EXPECT_TRUE(f.window->mnueditar->isChecked() && f.window->Nsensor->isVisible());
    // Opened again, it searches again.
    ASSERT_EQ(sim::addDevice(0, DET, sn("1D00000000000C01")), 0);
    listed.clear();
    ASSERT_TRUE(search(false));
    EXPECT_EQ(sim::callCount(0, nullptr, "BuscarDetectores"), 2);
    EXPECT_EQ(listed.value(8), QStringLiteral("1D00000000000C01"));

    // The missing relay is said over the advanced window, not before it.
    bool saidOverTheWindow = false;
    f.messages.whileShown = [&](const QString &) { saidOverTheWindow = onScreen(QApplication::activeModalWidget()); };
    whenShown<avanzado>([](avanzado &dialog) { dialog.reject(); }, [&](avanzado &) { return !f.messages.texts.isEmpty(); });
    xinput::click(f.window->Sensores->viewport(), f.row(0), 2);
    ASSERT_TRUE(xinput::waitFor([&] { return !f.messages.texts.isEmpty() && !QApplication::activeModalWidget(); }));
    EXPECT_EQ(f.messages.texts, QStringList{QStringLiteral("El rele asiciado a este sensor ya no existe.")});
    EXPECT_TRUE(saidOverTheWindow);
}

// Units and limits as a damaged or older file may hold them: longer than
// the narrow boxes, more digits than the boxes show.
TEST(OnScreen, advancedWindowKeepsStoredValuesWhole)
{
    Dispositivo d, cero;
    d.nombre = QStringLiteral("Caudal");
    d.sn = sn("20C4001A0F000044");
    d.tipo = AVI;
    d.ajuste = {1, 1, 1, 1};
    d.alarma = {-100.25f, 1234.5f, 0, 0};
    d.ganancia = {0.1f, std::nextafter(1.0f, 2.0f), 3, 4};
    d.magnitud = {QStringLiteral("Celsius+"), QStringLiteral("bar"), QStringLiteral("  m3/h"), QString()};
    d.periodo = 5;
    cero.nombre = QStringLiteral("00");
    OnScreen f;
    f.folder.write(QStringLiteral("config1.ini"), configfile::encode(std::vector<Dispositivo>{cero, d}));
    f.window->cargar_Click();
    ASSERT_TRUE(f.show());

    QStringList shown;
    whenShown<avanzado>(
        [&](avanzado &dialog) {
            for (int k : {4, 5, 6, 7, 8, 9})
                shown << dialog.vprop[k]->text();
            // Typing stops at five characters in the narrow boxes.
            QLineEdit *unit = dialog.vprop[7];
            OnScreen::typeInto(unit, QStringLiteral("ab"));
            xinput::type(QStringLiteral("cdefgh"));
            xinput::waitFor([unit] { return unit->text().size() >= 5; });
            OnScreen::typeInto(dialog.vtm, QStringLiteral("60"));
            shown << unit->text();
            xinput::key("a", xinput::Alt);
        },
        [](avanzado &) { return true; });
    ASSERT_TRUE(f.window->mnueditar->isChecked()) << "the pane, for the double click";
    xinput::click(f.window->Sensores->viewport(), f.row(0), 2);
    ASSERT_TRUE(xinput::waitFor([&] { return shown.size() == 7 && !QApplication::activeModalWidget(); }));
    EXPECT_EQ(shown, (QStringList{QStringLiteral("Celsius+"), QStringLiteral("bar"), QStringLiteral("m3/h"), QString(),
                                  QStringLiteral("-100.25"), QStringLiteral("1234.5"), QStringLiteral("abcde")}));
    EXPECT_EQ(f.messages.texts,
              QStringList{QStringLiteral("El dispositivo ya está en la lista.\r\n¿Desea modificar sus propiedades?")});

    // No window manager gives the focus back when a dialog closes.
    ASSERT_TRUE(xinput::showActive(f.window.get()));
    xinput::key("s", xinput::Control);
    ASSERT_TRUE(xinput::waitFor([&] { return !f.g.modificado; }));
    // Only what was typed changed: the period and the fourth unit.
    d.periodo = 60;
    d.magnitud[3] = QStringLiteral("abcde");
    EXPECT_EQ(f.folder.read(QStringLiteral("config1.ini")), configfile::encode(std::vector<Dispositivo>{cero, d}));
}

// The built program, started with options the toolkit would take for its
// own: they are no command line of the program's, so it shows its usage
// message, ends when it is answered, and never connects.
TEST(OnScreen, toolkitOptionsAreARejectedCommandLine)
{
    application();
    QString why;
    ASSERT_TRUE(xinput::ready(&why)) << why.toStdString();
    for (const char *line : {"-reverse", "-style fusion", "-qwindowtitle x", "-platform nosuch", "-display :99"}) {
        SCOPED_TRACE(line);
        TempFolder folder;
        for (const QString &name : {QStringLiteral("Climalog"), SondaIO::fileName()})
            ASSERT_TRUE(QFile::copy(QDir(binFolder()).filePath(name), folder.file(name)));
        QFile::setPermissions(folder.file(QStringLiteral("Climalog")), QFile::ReadOwner | QFile::ExeOwner);
        folder.write(QStringLiteral("sondanet.txt"), "calllog llamadas.txt\nport COM1 open\n");
        folder.write(QStringLiteral("config1.ini"), QByteArray("00").leftJustified(140, ' '));
        QProcess program;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        program.setProcessEnvironment(env);
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
