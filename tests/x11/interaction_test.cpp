// The main window and its dialogs on a real X display, driven by key
// presses and mouse clicks that go through the X server: the device the
// user picks is the device that changes, and the keys do what the menus
// say.
#include "dialogs/avanzado.h"
#include "dialogs/buscar.h"
#include "monitor/sensoresmodel.h"
#include "registry/configfile.h"
#include "shell/inicio.h"
#include "support/windows.h"
#include "x11/xinput.h"

#include <QComboBox>
#include <QDir>
#include <QProcess>
#include <QFile>
#include <QGroupBox>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include <cmath>

namespace {

const char *const sala = "STT28A3F2C501080011";
const char *const humedad = "HRT26E1905C00000033";
const char *const pasillo = "STT2800B74410FF0022";

int selected(const principal &w)
{
    const QModelIndexList rows = w.Sensores->selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
}

// The main window on COM1 of the demo network, on the screen with the focus.
struct OnScreen : MainFixture {
    explicit OnScreen(const QString &commandLine = QStringLiteral("/1"))
    {
        QString why;
        ready = xinput::ready(&why);
        EXPECT_TRUE(ready) << why.toStdString();
        if (!ready)
            return;
        EXPECT_TRUE(start(commandLine));
    }
    // Devices put into the table as the pane would put them.
    void devices(const std::vector<std::pair<const char *, const char *>> &list)
    {
        for (const auto &[name, serial] : list) {
            window->nombre->setText(QString::fromLatin1(name));
            window->SN->setText(QString::fromLatin1(serial));
            window->anadir_Click();
        }
    }
    bool show() { return xinput::showActive(window.get()); }
    QPoint row(int r) const { return window->Sensores->visualRect(window->model()->index(r)).center(); }
    QString names() const
    {
        QStringList list;
        for (int i = 1; i <= g.n(); ++i)
            list << g.dispositivos[i].nombre.trimmed();
        return list.join(QLatin1Char(','));
    }
    // Presses Tab until the list has the focus.
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
    bool ready = false;
};

TEST(OnScreen, deleteAfterAnAddRemovesTheSelectedDevice)
{
    OnScreen f;
    ASSERT_TRUE(f.ready);
    f.devices({{"a", sala}, {"b", humedad}});
    ASSERT_TRUE(f.show());
    xinput::click(f.window->Sensores->viewport(), f.row(1));
    ASSERT_TRUE(xinput::waitFor([&] { return f.window->nombre->text() == QStringLiteral("b"); }));

    ASSERT_TRUE(f.typeInto(f.window->nombre, QStringLiteral("c")));
    ASSERT_TRUE(f.typeInto(f.window->SN, QString::fromLatin1(pasillo)));
    xinput::click(f.window->anadir);
    ASSERT_TRUE(xinput::waitFor([&] { return f.g.n() == 3; }));
    EXPECT_EQ(selected(*f.window), 1) << "adding keeps the selection";

    ASSERT_TRUE(f.tabIntoList());
    xinput::key("Delete");
    ASSERT_TRUE(xinput::waitFor([&] { return f.g.n() == 2; }));
    EXPECT_EQ(f.names(), QStringLiteral("a,c"));
}

TEST(OnScreen, ticksNeverOverwriteWhatTheUserTypes)
{
    OnScreen f;
    ASSERT_TRUE(f.ready);
    f.devices({{"a", sala}, {"b", humedad}, {"c", pasillo}});
    ASSERT_TRUE(f.show());
    // The list gets the focus, nothing selected; a save and a load of the
    // same number of devices leave nothing selected either.
    xinput::click(f.window->Sensores->viewport(), f.row(1));
    ASSERT_TRUE(xinput::waitFor([&] { return selected(*f.window) == 1; }));
    xinput::key("s", xinput::Control);
    ASSERT_TRUE(xinput::waitFor([&] { return !f.g.modificado; }));
    xinput::key("c", xinput::Control);
    ASSERT_TRUE(xinput::waitFor([&] { return selected(*f.window) == -1; }));
    ASSERT_TRUE(f.tabIntoList());
    f.clock.advance(3);
    f.window->Timer1_Timer();

    // Deleting by the serial typed into the pane rebuilds the list.
    ASSERT_TRUE(f.typeInto(f.window->nombre, QStringLiteral("Otro")));
    ASSERT_TRUE(f.typeInto(f.window->SN, QString::fromLatin1(pasillo)));
    xinput::click(f.window->Borrar);
    ASSERT_TRUE(xinput::waitFor([&] { return f.g.n() == 2; }));
    f.clock.advance(3);
    f.window->Timer1_Timer();
    EXPECT_EQ(f.names(), QStringLiteral("b,a")) << "as the save sorted them";
    EXPECT_EQ(f.window->nombre->text(), QStringLiteral("Otro"));
    EXPECT_EQ(f.window->SN->text(), QString::fromLatin1(pasillo));
}

TEST(OnScreen, arrowKeysLoadTheHighlightedDevice)
{
    OnScreen f;
    ASSERT_TRUE(f.ready);
    f.devices({{"a", sala}, {"b", humedad}, {"c", pasillo}});
    ASSERT_TRUE(f.show());
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

TEST(OnScreen, menuShortcutsWinOverTheBoxes)
{
    OnScreen f;
    ASSERT_TRUE(f.ready);
    ASSERT_TRUE(f.show());
    // An empty table: the pane is open and its name box has the focus.
    ASSERT_TRUE(f.window->mnueditar->isChecked());
    f.window->nombre->setFocus();
    ASSERT_TRUE(xinput::waitFor([&] { return f.window->nombre->hasFocus(); }));
    xinput::key("e", xinput::Control);
    ASSERT_TRUE(xinput::waitFor([&] { return !f.window->mnueditar->isChecked(); }));
    EXPECT_TRUE(f.window->Nsensor->isHidden());
    xinput::key("e", xinput::Control);
    ASSERT_TRUE(xinput::waitFor([&] { return f.window->mnueditar->isChecked(); }));

    f.devices({{"a", sala}});
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
    OnScreen f(QStringLiteral("/0"));
    ASSERT_TRUE(f.ready);
    f.g.puerto = -1;
    inicio window(f.g, f.io.get(), f.messages);
    ASSERT_TRUE(xinput::showActive(&window));
    QLineEdit *box = window.RSport->lineEdit();
    for (const char *key : {"Return", "KP_Enter"}) {
        SCOPED_TRACE(key);
        f.messages.texts.clear();
        ASSERT_TRUE(f.typeInto(box, QStringLiteral("COM5")));
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

// Runs `inside` from the event loop once a modal dialog of that class is up
// and `ready`: the test goes on there while the dialog's own loop runs.
template <typename Dialog>
void whenShown(std::function<void(Dialog &)> inside, std::function<bool(Dialog &)> ready = {})
{
    QTimer::singleShot(10, [inside, ready] {
        auto *dialog = qobject_cast<Dialog *>(QApplication::activeModalWidget());
        if (!dialog || !dialog->windowHandle() || !dialog->windowHandle()->isExposed() || (ready && !ready(*dialog)))
            return whenShown(inside, ready);
        inside(*dialog);
    });
}

bool onScreen(QWidget *w) { return w && w->isVisible() && w->windowHandle() && w->windowHandle()->isExposed(); }

TEST(OnScreen, dialogsAreOnTheScreenBeforeTheyWork)
{
    OnScreen f;
    ASSERT_TRUE(f.ready);
    f.devices({{"a", sala}});
    // A relay link to a device that is no longer in the table.
    f.g.dispositivos[1].snrele[0] = sn("3A0000000000AB01");
    f.g.dispositivos[1].salrele[0] = 1;
    ASSERT_TRUE(f.show());

    // The searches, each from a slow network, start once the window shows.
    sim::latency(100);
    bool searchedOnScreen = false;
    int searches = 0;
    sim::onCall([&](const char *call) {
        if (QByteArray(call).startsWith("Buscar") && searches++ == 0)
            searchedOnScreen = onScreen(QApplication::activeModalWidget()) &&
                               QApplication::overrideCursor() && QApplication::overrideCursor()->shape() == Qt::WaitCursor;
    });
    whenShown<buscar>([](buscar &dialog) { dialog.reject(); }, [](buscar &dialog) { return dialog.sennet->count() > 0; });
    xinput::key("e", xinput::Alt);
    xinput::key("b");
    ASSERT_TRUE(xinput::waitFor([&] { return searches == 3 && !QApplication::activeModalWidget(); }));
    sim::onCall({});
    sim::latency(0);
    EXPECT_TRUE(searchedOnScreen);

    // The missing relay is said over the advanced window, not before it.
    bool saidOverTheWindow = false;
    f.messages.whileShown = [&](const QString &) { saidOverTheWindow = onScreen(QApplication::activeModalWidget()); };
    whenShown<avanzado>([](avanzado &dialog) { dialog.reject(); }, [&](avanzado &) { return !f.messages.texts.isEmpty(); });
    xinput::doubleClick(f.window->Sensores->viewport(), f.row(0));
    ASSERT_TRUE(xinput::waitFor([&] { return !f.messages.texts.isEmpty() && !QApplication::activeModalWidget(); }));
    EXPECT_EQ(f.messages.texts, QStringList{QStringLiteral("El rele asiciado a este sensor ya no existe.")});
    EXPECT_TRUE(saidOverTheWindow);
}

// Units and limits as a damaged or older file may hold them: longer than
// the narrow boxes, more digits than the boxes show.
TEST(OnScreen, advancedWindowKeepsStoredValuesWhole)
{
    Dispositivo d;
    d.nombre = QStringLiteral("Caudal");
    d.sn = sn("20C4001A0F000044");
    d.tipo = AVI;
    d.ajuste = {1, 1, 1, 1};
    d.alarma = {-100.25f, 1234.5f, 0, 0};
    d.ganancia = {0.1f, std::nextafter(1.0f, 2.0f), 3, 4};
    d.magnitud = {QStringLiteral("Celsius+"), QStringLiteral("bar"), QStringLiteral("  m3/h"), QString()};
    d.periodo = 5;
    Dispositivo cero;
    cero.nombre = QStringLiteral("00");
    const QByteArray before = configfile::encode(std::vector<Dispositivo>{cero, d});

    OnScreen f;
    ASSERT_TRUE(f.ready);
    f.folder.write(QStringLiteral("config1.ini"), before);
    f.window->cargar_Click();
    ASSERT_EQ(f.g.n(), 1);
    ASSERT_TRUE(f.show());

    QStringList shown;
    whenShown<avanzado>([&](avanzado &dialog) {
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
    });
    ASSERT_TRUE(f.window->mnueditar->isChecked()) << "the pane, for the double click";
    xinput::doubleClick(f.window->Sensores->viewport(), f.row(0));
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
// message and ends, and never connects.
TEST(OnScreen, toolkitOptionsAreARejectedCommandLine)
{
    application();
    QString why;
    ASSERT_TRUE(xinput::ready(&why)) << why.toStdString();
    const QStringList lines[] = {{QStringLiteral("-reverse")},
                                 {QStringLiteral("-style"), QStringLiteral("fusion")},
                                 {QStringLiteral("-qwindowtitle"), QStringLiteral("x")},
                                 {QStringLiteral("-platform"), QStringLiteral("nosuch")},
                                 {QStringLiteral("-display"), QStringLiteral(":99")}};
    for (const QStringList &arguments : lines) {
        SCOPED_TRACE(arguments.join(QLatin1Char(' ')).toStdString());
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
        program.start(folder.file(QStringLiteral("Climalog")), arguments);
        ASSERT_TRUE(program.waitForStarted(10000));
        // The usage message is the program's only window: answered with
        // Return once it is up.
        const bool shown = xinput::waitForWindow(QStringLiteral("Climalog"), [&] { return program.state() == QProcess::NotRunning; });
        EXPECT_TRUE(shown) << program.readAllStandardError().toStdString();
        if (shown)
            xinput::key("Return");
        const bool ended = program.waitForFinished(10000);
        if (!ended)
            program.kill();
        EXPECT_TRUE(ended);
        EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(program.exitCode(), 0);
        EXPECT_FALSE(folder.read(QStringLiteral("llamadas.txt")).contains("IniciarCNX"));
    }
}

}
