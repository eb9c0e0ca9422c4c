// The main window and its dialogs on a real X display, driven by key
// presses and mouse clicks that go through the X server: the device the
// user picks is the device that changes, and the keys do what the menus
// say.
#include "dialogs/avanzado.h"
#include "dialogs/buscar.h"
#include "dialogs/foundserials.h"
#include "platform/qtplatform.h"
#include "monitor/sensoresmodel.h"
#include "registry/configfile.h"
#include "shell/inicio.h"
#include "shell/logo.h"
#include "support/controls.h"
#include "viewer/graficas.h"
#include "shell/running.h"
#include "x11/xinput.h"

#include <QAbstractButton>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QWindow>

#include <cmath>
#include <optional>

namespace {

const char *const sala = "STT28A3F2C501080011";
const char *const humedad = "HRT26E1905C00000033";
const char *const pasillo = "STT2800B74410FF0022";

// The main window on COM1 of the demo network, on the screen with the focus.
struct OnScreen : Running {
    explicit OnScreen(const char *commandLine = "/1") : Running(commandLine)
    {
        EXPECT_TRUE(xinput::ready());
    }
    // Devices put into the table as the pane would put them, then shown.
    bool show(const std::vector<std::pair<const char *, const char *>> &list = {})
    {
        for (const auto &[name, serial] : list)
            add(name, serial);
        return xinput::showActive(window.get());
    }
    QListView *list() const { return control<QListView>(*window, "Sensores"); }
    QLineEdit *box(const char *name) const { return control<QLineEdit>(*window, name); }
    QPoint row(int r) const { return list()->visualRect(window->model()->index(r)).center(); }
    void clickRow(int r) const { xinput::click(list()->viewport(), row(r)); }
    int selected() const { return list()->selectionModel()->selectedRows().value(0).row(); }
    bool paneShown() const { return control<QAction>(*window, "mnueditar")->isChecked(); }
    // Ctrl+E, until the pane is shown or hidden as asked.
    bool togglePane(bool shown) const
    {
        xinput::key("e", xinput::Control);
        return xinput::waitFor([&] { return paneShown() == shown; });
    }
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
    // A device typed into the pane and added with the button, the table then
    // holding `count` devices.
    bool addTyped(const QString &name, const char *serial, int count)
    {
        if (!typeInto(box("nombre"), name) || !typeInto(box("SN"), QString::fromLatin1(serial)))
            return false;
        xinput::click(control<QPushButton>(*window, "anadir"));
        return xinput::waitFor([&] { return g.n() == count; });
    }
};

// With no line selected Delete deletes nothing, whatever device the pane's
// working record names ("b", the last one added): after a Tab into the list
// (a focus frame on "a") and after a click below the rows. The arrow keys
// load the device they move to; Delete deletes the selected one, from the
// list only.
TEST(OnScreen, keysActOnTheSelectedDevice)
{
    OnScreen f;
    ASSERT_TRUE(f.show({{"a", sala}, {"b", humedad}}));
    f.list()->setFocus(Qt::TabFocusReason);
    xinput::key("Delete");
    xinput::click(f.list()->viewport(), QPoint(9, 200));
    xinput::key("Delete");
    ASSERT_TRUE(f.togglePane(false)); // the pane hides once the keys are handled
    EXPECT_EQ(std::pair(f.selected(), f.g.n()), std::pair(-1, 2));
    ASSERT_TRUE(f.togglePane(true));
    f.clickRow(0);
    ASSERT_TRUE(xinput::waitFor([&] { return f.box("nombre")->text() == QStringLiteral("a"); }));
    xinput::key("Down");
    ASSERT_TRUE(xinput::waitFor([&] { return f.box("nombre")->text() == QStringLiteral("b"); }));
    EXPECT_EQ(f.g.dispactual.sn, sn("26E1905C00000033"));
    ASSERT_TRUE(f.addTyped(QStringLiteral("c"), pasillo, 3));

    // The list takes the focus as a Tab into it gives it: the selection stays.
    f.list()->setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(xinput::waitFor([&] { return f.list()->hasFocus(); }));
    xinput::key("Delete");
    ASSERT_TRUE(xinput::waitFor([&] { return f.g.n() == 2; }));
    EXPECT_EQ(f.names(), QStringLiteral("a,c"));
    EXPECT_EQ(f.box("nombre")->text(), QStringLiteral("c"))
        << "the device now on the selected line";
    // Deleting the last line leaves the new last line selected.
    f.clickRow(1);
    xinput::key("Delete");
    ASSERT_TRUE(xinput::waitFor([&] { return f.g.n() == 1; }));
    EXPECT_EQ(f.selected(), 0);
    // With the pane hidden the key deletes nothing, on a line clicked in the
    // list: the pane shown again after it says the key was handled.
    ASSERT_TRUE(f.togglePane(false));
    f.clickRow(0);
    ASSERT_TRUE(xinput::waitFor([&] { return f.list()->hasFocus() && f.selected() == 0; }));
    xinput::key("Delete");
    xinput::key("e", xinput::Control);
    ASSERT_TRUE(xinput::waitFor(
        [&] { return f.paneShown() && control<QGroupBox>(*f.window, "Nsensor")->isVisible(); }));
    EXPECT_EQ(f.g.n(), 1);
}

// What the user types into the pane stays there through the readings; a
// larger window gives its room to the lists.
TEST(OnScreen, thePaneKeepsWhatTheUserTypes)
{
    OnScreen f;
    ASSERT_TRUE(f.show({{"a", sala}, {"b", humedad}, {"c", pasillo}}));
    // The list has the focus with nothing selected while the readings come:
    // a save and a load of the same number of devices leave no line selected.
    f.clickRow(1);
    ASSERT_TRUE(xinput::waitFor([&] { return f.selected() == 1; }));
    xinput::key("s", xinput::Control);
    ASSERT_TRUE(xinput::waitFor([&] { return !f.g.modificado; }));
    xinput::key("c", xinput::Control);
    ASSERT_TRUE(xinput::waitFor([&] { return f.selected() == -1; }));
    xinput::key("Delete"); // no line selected: the pane's record ("b") stays
    f.tick(3);
    ASSERT_TRUE(f.typeInto(f.box("nombre"), QStringLiteral("Otro")));
    ASSERT_TRUE(f.typeInto(f.box("SN"), QString::fromLatin1(pasillo)));
    // Deleting by the serial typed into the pane rebuilds the list.
    xinput::click(control<QPushButton>(*f.window, "Borrar"));
    ASSERT_TRUE(xinput::waitFor([&] { return f.g.n() == 2; }));
    f.tick(3);
    EXPECT_EQ(f.names(), QStringLiteral("b,a")) << "as the save sorted them";
    EXPECT_EQ(f.box("nombre")->text() + f.box("SN")->text(),
              QStringLiteral("Otro") + QString::fromLatin1(pasillo));
    // The lists keep their distance to the window's right and bottom edges,
    // with the pane hidden and shown.
    QWidget *w = f.window.get(), *right = control<QListWidget>(*f.window, "infoalarmas");
    const auto margins = [&] {
        return QPoint(w->width(), w->height()) -
            right->mapTo(w, QPoint(right->width(), right->height()));
    };
    const QPoint shown = margins();
    xinput::click(f.box("nombre")); // the menu's shortcut from a box
    ASSERT_TRUE(f.togglePane(false));
    const QPoint hidden = margins();
    w->resize(w->size() + QSize(300, 200));
    ASSERT_TRUE(xinput::waitFor([&] { return w->width() > 800; }));
    EXPECT_EQ(margins(), hidden);
    ASSERT_TRUE(f.togglePane(true));
    EXPECT_EQ(margins(), shown);
    EXPECT_EQ(right->height(), f.list()->height());
}

// The name box takes, typed or pasted, only what the file's Windows-1252
// field holds: a paste with "Ω" or an emoji changes nothing (the key after
// it lands on the text as it was), one with "ñ", "º" and "€" is taken (their
// bytes in the file: the pane's tests of names of every byte).
TEST(OnScreen, theNameBoxTakesOnlyWhatTheFileHolds)
{
    OnScreen f;
    ASSERT_TRUE(f.show());
    const struct {
        const char *name, *pasted, *then;
    } rows[] = {
        {"a letter the file cannot hold", "Baño Ω", "x"},
        {"an emoji", "Sala \xF0\x9F\x98\x80", "x"},
        {"what the file holds", "Baño ºC €", "Baño ºC €x"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        f.box("nombre")->clear();
        xinput::click(f.box("nombre"));
        ASSERT_TRUE(xinput::waitFor([&] { return f.box("nombre")->hasFocus(); }));
        QGuiApplication::clipboard()->setText(QString::fromUtf8(row.pasted));
        xinput::key("v", xinput::Control);
        xinput::type(QStringLiteral("x"));
        EXPECT_TRUE(xinput::waitFor([&] { return f.box("nombre")->text().endsWith(u'x'); }));
        EXPECT_EQ(f.box("nombre")->text(), QString::fromUtf8(row.then));
    }
}

bool onScreen(QWidget *w)
{
    return w && w->isVisible() && w->windowHandle() && w->windowHandle()->isExposed();
}

// The port window, the splash and "Gráficas" open in the middle of the
// screen (no window manager places them here).
TEST(OnScreen, portWindowOffersOnlyItsFourPorts)
{
    OnScreen f("/0");
    f.g.puerto = -1;
    inicio window(f.g, f.io.get(), f.messages);
    ASSERT_TRUE(xinput::showActive(&window));
    const QRect portAt = xinput::geometry(&window);
    QLineEdit *box = window.RSport->lineEdit();
    ASSERT_TRUE(f.typeInto(box, QStringLiteral("COM5")));
    EXPECT_FALSE(window.iniciar->isEnabled()) << "typing is no choice";
    xinput::key("KP_Enter");
    ASSERT_TRUE(xinput::waitFor([&] { return !f.messages.texts.isEmpty(); }));
    EXPECT_EQ(f.messages.texts, QStringList{QStringLiteral("Seleccione un puerto de la lista.")});
    // Typed text naming an entry, blanks and case aside, picks that entry.
    ASSERT_TRUE(f.typeInto(box, QStringLiteral(" com2 ")));
    xinput::key("Return");
    ASSERT_TRUE(xinput::waitFor([&] { return !window.isVisible(); }));
    EXPECT_EQ(f.g.nombrepuerto, QStringLiteral("COM2"));
    EXPECT_EQ(window.RSport->count(), 4);

    SystemClock clock;
    QRect splashAt;
    logo splash(clock, [&] { splashAt = xinput::geometry(&splash); });
    splash.show();
    ASSERT_TRUE(xinput::waitFor([&] { return splashAt.isValid(); }));
    splash.hide();
    f.window->mnugraficas_Click();
    QWidget *plots = nullptr;
    ASSERT_TRUE(xinput::waitFor([&] {
        for (QWidget *w : QApplication::topLevelWidgets())
            if (qobject_cast<graficas *>(w) && onScreen(w))
                plots = w;
        return plots != nullptr;
    }));
    const QPoint middle = window.screen()->availableGeometry().center();
    for (const auto &[name, at] : {std::pair("port window", portAt),
                                   {"splash", splashAt},
                                   {"Gráficas", xinput::geometry(plots)}})
        EXPECT_LE((at.center() - middle).manhattanLength(), 2)
            << name << " at " << at.x() << "," << at.y();
    plots->hide();
}

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

// The searches start once the window shows, each time it shows, the busy
// cursor up meanwhile and the polling back after them. A slot of the buffer
// the sensors' search filled is not listed again by the converters' search,
// which fills fewer; nor are the counts of a misbehaving library taken past
// the buffer. A double click takes the serial under it to the pane, and
// opens it.
TEST(OnScreen, dialogsAreOnTheScreenBeforeTheyWork)
{
    OnScreen f;
    ASSERT_TRUE(f.show({{"a", sala}}));
    xinput::key("e", xinput::Control);
    bool searchedOnScreen = false;
    sim::onCall([&](const char *call) {
        if (QByteArray(call) == "BuscarSensoresTra")
            searchedOnScreen = onScreen(QApplication::activeModalWidget()) &&
                QApplication::overrideCursor() &&
                QApplication::overrideCursor()->shape() == Qt::WaitCursor;
    });
    QStringList listed;
    for (const bool pick : {false, true}) {
        ASSERT_TRUE(
            xinput::showActive(f.window.get())); // no window manager gives it the focus back
        whenShown<buscar>(
            [&, pick](buscar &dialog) {
                for (int k = 0; k < dialog.sennet->count(); ++k)
                    listed << dialog.sennet->item(k)->text();
                pick ? xinput::click(dialog.sennet->viewport(),
                                     dialog.sennet->visualItemRect(dialog.sennet->item(2)).center(),
                                     2)
                     : xinput::key("Escape");
            },
            [](buscar &dialog) { return dialog.sennet->count() == 8; });
        xinput::key("e", xinput::Alt);
        xinput::key("b");
        ASSERT_TRUE(xinput::waitFor([&] {
            return listed.size() == (pick ? 16 : 8) && !QApplication::activeModalWidget();
        }));
    }
    EXPECT_TRUE(searchedOnScreen);
    sim::onCall({});
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_TRUE(f.window->timerRunning());
    EXPECT_EQ(sim::callCount(0, nullptr, "BuscarConversoresAD"), 2);
    const QStringList once{"28A3F2C501080011", "2800B74410FF0022", "26E1905C00000033",
                           "20C4001A0F000044", "1D5EE30700000055", "1D0000FF00FF0066",
                           "3A7C11B200000077", "3AFFFFFFFFFFFF88"};
    EXPECT_EQ(listed, once + once);
    EXPECT_EQ(f.box("SN")->text(), listed[2]);
    EXPECT_TRUE(f.paneShown() && control<QGroupBox>(*f.window, "Nsensor")->isVisible());
    SondaIO::SearchBuffer buffer{};
    EXPECT_TRUE(foundSerials(buffer, -3).isEmpty());
    EXPECT_EQ(foundSerials(buffer, 32767).size(), 100);
}

// Every two-button question on the real box: Escape and the close request
// take the answer that discards nothing and changes no device, as does
// Return to a question whose Sí would discard the edits; the program goes
// on. The boxes speak Spanish. "a" is saved,
// "b" added since.
TEST(OnScreen, questionsClosedTakeTheSafeAnswer)
{
    using Ask = std::function<void(OnScreen &, SinEscritura &)>;
    const Ask exit = [](OnScreen &f, SinEscritura &) { f.window->windowHandle()->close(); };
    // The menu's shortcut from a box, whose own Ctrl+C would copy.
    const Ask load = [](OnScreen &f, SinEscritura &) {
        xinput::click(f.box("nombre"));
        xinput::key("c", xinput::Control);
    };
    const struct {
        const char *name;
        Ask ask;
        QStringList keys; // one per box; "close" is the close request
        const char *buttons = "&Sí|&No";
        const char *locked = nullptr; // a folder without write access until the last box
    } rows[] = {
        {"exit, Escape", exit, {"Escape"}},
        {"exit, Yes and a failed save, Escape", exit, {"Return", "Escape"}, "&Sí|&No", ""},
        {"exit, Yes and a failed save, Return", exit, {"Return", "Return"}, "&Sí|&No", ""},
        {"load, Return", load, {"Return"}},
        {"load, closed", load, {"close"}},
        {"modify, Escape", [](OnScreen &f, SinEscritura &) { f.add("c", sala); }, {"Escape"}},
        {"about, Escape",
         [](OnScreen &f, SinEscritura &) { f.window->mnuabout_Click(); },
         {"Escape"},
         "Aceptar"},
        {"capture after a change, closed",
         [](OnScreen &f, SinEscritura &) { control<QAction>(*f.window, "mnucapturar")->trigger(); },
         {"close"},
         "Aceptar|Cancelar"},
        {"capture file not writable, Escape, then Reintentar once writable",
         [](OnScreen &f, SinEscritura &locked) {
             f.window->salvar_Click();
             control<QAction>(*f.window, "mnucapturar")->trigger();
             locked.cierra();
             f.tick();
         },
         {"Escape", "Return"},
         "Reintentar|Cancelar",
         "1"},
        {"port refused, Escape",
         [](OnScreen &f, SinEscritura &) {
             inicio window(f.g, f.io.get(), f.messages);
             window.RSport->setCurrentIndex(2);
             window.show();
             window.iniciar_Click();
         },
         {"Escape"}},
    };
    QtMessages real;
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        OnScreen f;
        ASSERT_TRUE(f.show({{"a", sala}}));
        f.window->salvar_Click();
        f.add("b", humedad);
        SinEscritura locked(f.folder.path() + u'/' +
                            QString::fromLatin1(row.locked ? row.locked : ""));
        if (row.locked && !*row.locked && !locked.cierra())
            GTEST_SKIP() << "write access cannot be taken away here";
        // A failed save has sorted the table: the order is no change.
        const auto state = [&] {
            QStringList names = f.names().split(u',');
            names.sort();
            return names << f.g.fichero << QString::number(f.g.puerto)
                         << QString::fromLatin1(
                                f.folder.read(QStringLiteral("config1.ini")).toHex());
        };
        QStringList asked, seen; // the state when asked; each box's title and buttons
        f.messages.real = &real;
        f.messages.whileShown = [&](const QString &) {
            const qsizetype k = f.messages.texts.size() - 1;
            if (k == 0)
                asked = state();
            if (k == row.keys.size() - 1)
                locked.abre();
            const QString key = row.keys.value(k, QStringLiteral("Escape"));
            whenShown<QMessageBox>(
                [&, key](QMessageBox &box) {
                    seen << box.windowTitle();
                    for (QAbstractButton *b : box.buttons())
                        seen.last() += u'|' + b->text();
                    key == QStringLiteral("close") ? void(box.windowHandle()->close())
                                                   : xinput::key(qPrintable(key));
                },
                [](QMessageBox &box) { return box.isActiveWindow(); });
        };
        row.ask(f, locked);
        ASSERT_TRUE(xinput::waitFor(
            [&] { return !asked.isEmpty() && !QApplication::activeModalWidget(); }));
        EXPECT_EQ(seen,
                  QStringList(row.keys.size(),
                              QStringLiteral("Climalog|") + QString::fromUtf8(row.buttons)));
        EXPECT_EQ(state(), asked);
        EXPECT_TRUE(f.exitCodes.empty() && f.window->isVisible());
    }
}

// A table the program could not read stays on the disk as it was unless
// the user says to replace it, whatever ends the editing; Return never
// throws it away. A read-only file is never replaced, and the save says so
// (the end's question after a failed save: questionsClosedTakeTheSafeAnswer).
// Run as an ordinary user: root reads and writes through any mode.
TEST(OnScreen, aFileTheProgramMayNotReplaceIsKept)
{
    QByteArray five = Rec().text(0, 16, "03").b;
    for (char k = '1'; k <= '5'; ++k)
        five += Rec::device(QByteArray("Sala ") + k, STT, QByteArray("28A3F2C50108000") + k)
                    .num(138, 1)
                    .b;
    const QByteArray mine = Rec().text(0, 16, "00").b +
        Rec::device("Nueva", STT, "28A3F2C501080011").text(66, 32, "").num(138, 1).b;
    using Act = std::function<void(OnScreen &)>;
    const Act save = [](OnScreen &) { xinput::key("s", xinput::Control); };
    const Act end = [](OnScreen &f) { f.window->windowHandle()->close(); };
    const struct {
        const char *name;
        unsigned mode;
        Act act;
        QStringList keys; // one per box after start-up
        bool replaced;
        const char *said = nullptr; // the last box, when not the question to replace
    } rows[] = {
        {"unreadable, Ctrl+S, Return", 0000, save, {"Return"}, false},
        {"unreadable, Ctrl+S, Sí", 0000, save, {"s"}, true},
        {"unreadable, end, Sí to saving, Return", 0000, end, {"Return", "Return"}, false},
        {"read-only, Ctrl+S",
         0444,
         save,
         {"Return"},
         false,
         "No se ha podido salvar la configuración en %1: el fichero es de solo lectura."},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        OnScreen f(nullptr);
        const QString config = f.folder.file(QStringLiteral("config1.ini"));
        f.folder.write(QStringLiteral("config1.ini"), five);
        QFile::setPermissions(config, QFile::Permissions::fromInt(row.mode == 0444 ? 0x4444 : 0));
        std::optional<ComoUsuario> user(std::in_place, f.folder.path());
        ASSERT_TRUE(f.start(QStringLiteral("/1")));
        ASSERT_TRUE(f.show());
        if (!f.paneShown()) // a table was loaded: the pane is closed
            xinput::key("e", xinput::Control);
        ASSERT_TRUE(f.addTyped(QStringLiteral("Nueva"), sala, row.mode ? 6 : 1));

        QtMessages real;
        f.messages.real = &real;
        const qsizetype before = f.messages.texts.size();
        f.messages.whileShown = [&](const QString &) {
            const QString key =
                row.keys.value(f.messages.texts.size() - 1 - before, QStringLiteral("Escape"));
            whenShown<QMessageBox>([key](QMessageBox &) { xinput::key(qPrintable(key)); },
                                   [](QMessageBox &box) { return box.isActiveWindow(); });
        };
        row.act(f);
        ASSERT_TRUE(xinput::waitFor([&] {
            return f.messages.texts.size() == before + row.keys.size() &&
                !QApplication::activeModalWidget();
        }));
        user.reset();
        const QString path = QDir::toNativeSeparators(config);
        if (row.mode == 0) {
            EXPECT_EQ(
                f.messages.texts.value(0),
                QStringLiteral("No se puede leer el fichero de configuración %1: permiso denegado.")
                    .arg(path));
        }
        EXPECT_EQ(f.messages.texts.last(),
                  row.said ? QString::fromUtf8(row.said).arg(path)
                           : QStringLiteral("El fichero de configuración %1 no se ha podido leer y "
                                            "no se ha cargado: lo que guarda no está en "
                                            "la lista.\r\nSi lo salva, se reemplazará por los 1 "
                                            "dispositivos de la lista y lo que guardaba se "
                                            "perderá.\r\n¿Desea reemplazarlo?")
                                 .arg(path));
        EXPECT_EQ(f.g.n(), row.mode ? 6 : 1);
        EXPECT_EQ(f.folder.read(QStringLiteral("config1.ini")), row.replaced ? mine : five);
        // A file replaced at the user's word is one the user can read again.
        EXPECT_EQ(QFileInfo(config).permissions() & 0x7000,
                  row.replaced   ? 0x6000
                      : row.mode ? 0x4000
                                 : 0);
        EXPECT_EQ(f.g.modificado, !row.replaced);
        EXPECT_TRUE(f.exitCodes.empty() && f.window->isVisible());
    }
}

// Units and limits as a damaged or older file may hold them: longer than
// the narrow boxes, more digits than the boxes show; and a relay link to a
// device no longer in the table, said over the window, not before it.
// Alt+A opens it while the pane's button can; each showing starts in the
// first box and keeps the window's width; its height fits the type shown.
TEST(OnScreen, advancedWindowKeepsStoredValuesWhole)
{
    Dispositivo d{.nombre = QStringLiteral("Caudal"),
                  .sn = sn("20C4001A0F000044"),
                  .tipo = AVI,
                  .alarma = {-100.25f, 1234.5f, 0, 0},
                  .ganancia = {0.1f, std::nextafter(1.0f, 2.0f), 3, 4},
                  .magnitud = {QStringLiteral("Celsius+"), QStringLiteral("bar"),
                               QStringLiteral("  m3/h"), QString()},
                  .snrele = {sn("3A0000000000AB01")},
                  .salrele = {1},
                  .periodo = 5};
    OnScreen f;
    f.folder.write(QStringLiteral("config1.ini"),
                   configfile::encode(std::vector<Dispositivo>{
                       {.nombre = QStringLiteral("00"), .magnitud = {}}, d}));
    f.window->cargar_Click();
    ASSERT_TRUE(f.show());
    xinput::key("a", xinput::Alt);
    ASSERT_TRUE(xinput::waitFor([&] { return control<QMenu>(*f.window, "ayuda")->isVisible(); }))
        << "no device in the pane: the help menu";
    // Escape closes the menu, and then leaves the menu bar.
    xinput::key("Escape");
    ASSERT_TRUE(xinput::waitFor([&] { return !control<QMenu>(*f.window, "ayuda")->isVisible(); }));
    xinput::key("Escape");

    bool saidOverTheWindow = false;
    f.messages.whileShown = [&](const QString &text) {
        if (text.startsWith(QStringLiteral("El rele")))
            saidOverTheWindow = onScreen(QApplication::activeModalWidget());
    };
    QStringList shown;
    std::vector<QSize> sizes;
    whenShown<avanzado>(
        [&](avanzado &dialog) {
            sizes.push_back(xinput::geometry(&dialog).size());
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
    f.clickRow(0);
    xinput::key("a", xinput::Alt);
    ASSERT_TRUE(
        xinput::waitFor([&] { return shown.size() == 7 && !QApplication::activeModalWidget(); }));
    EXPECT_EQ(shown,
              (QStringList{QStringLiteral("Celsius+"), QStringLiteral("bar"),
                           QStringLiteral("m3/h"), QString(), QStringLiteral("-100.25"),
                           QStringLiteral("1234.5"), QStringLiteral("abcde")}));
    EXPECT_EQ(
        f.messages.texts,
        (QStringList{
            QStringLiteral("El rele asiciado a este sensor ya no existe."),
            QStringLiteral(
                "El dispositivo ya está en la lista.\r\n¿Desea modificar sus propiedades?")}));
    EXPECT_TRUE(saidOverTheWindow);
    // Shown again, for a sensor: typing goes to the name, and Escape.
    ASSERT_TRUE(f.typeInto(f.box("SN"), QStringLiteral("STT20C4001A0F000044")));
    whenShown<avanzado>(
        [&](avanzado &dialog) {
            sizes.push_back(xinput::geometry(&dialog).size());
            xinput::type(QStringLiteral("9"));
            xinput::waitFor([&] { return dialog.nombre->text() == QStringLiteral("9"); });
            shown << dialog.nombre->text();
            xinput::key("Escape");
        },
        [](avanzado &dialog) { return dialog.isActiveWindow(); });
    xinput::key("a", xinput::Alt);
    ASSERT_TRUE(
        xinput::waitFor([&] { return shown.size() == 8 && !QApplication::activeModalWidget(); }));
    EXPECT_EQ(shown.last(), QStringLiteral("9"));
    EXPECT_EQ(sizes.back().width(), sizes.front().width());
    EXPECT_LT(sizes.back().height(), sizes.front().height())
        << "a sensor's window after a converter's fits the sensor";

    // Only what was typed changed, and the link to nowhere is gone.
    d.periodo = 60;
    d.magnitud[3] = QStringLiteral("abcde");
    d.snrele[0] = Serial{};
    d.salrele[0] = 0;
    EXPECT_EQ(configfile::encode({f.g.dispositivos[1]}), configfile::encode({d}));
}

// The built program beside the simulator library in a fresh folder, with
// this network description and table.
struct Installed {
    Installed(const char *network, const QByteArray &table)
    {
        application();
        for (const QString &name : {QStringLiteral("Climalog"), SondaIO::fileName()})
            EXPECT_TRUE(QFile::copy(binFolder() + QLatin1Char('/') + name, folder.file(name)));
        folder.write(QStringLiteral("sondanet.txt"), network);
        folder.write(QStringLiteral("config1.ini"), table);
    }
    void start(QProcess &program, const char *line) const
    {
        program.start(folder.file(QStringLiteral("Climalog")),
                      QString::fromLatin1(line).split(u' ', Qt::SkipEmptyParts));
    }
    // Started on a command line it must refuse: Return answers its message
    // once it has the focus (a main window would take it and go on running),
    // and then it has ended by itself, with 0.
    void refused(const char *line) const
    {
        QProcess program; // on the xcb platform, as the test command sets it
        start(program, line);
        ASSERT_TRUE(program.waitForStarted(10000));
        for (int k = 0; k < 100 && !program.waitForFinished(200); ++k)
            xinput::key("Return");
        EXPECT_EQ(program.state(), QProcess::NotRunning);
        program.kill();
        program.waitForFinished();
        EXPECT_EQ(std::pair(program.exitStatus(), program.exitCode()),
                  std::pair(QProcess::NormalExit, 0))
            << program.readAllStandardError().toStdString();
    }
    qsizetype calls(const char *call) const
    {
        return folder.read(QStringLiteral("llamadas.txt")).count(call);
    }
    TempFolder folder;
};

// Options the toolkit would take for its own are no command line of the
// program's: it shows its usage message, ends when it is answered, and
// never connects (taken as no command line, it would load the only
// configuration and run). One program per configuration file: beside a
// running program, another on its port, without a connection, or choosing
// its only configuration says so, ends when answered and never connects,
// while the first goes on. (What a program killed or ended leaves behind:
// the end-to-end tests.)
TEST(OnScreen, oneProgramPerConfiguration)
{
    const Installed f("calllog llamadas.txt\nport COM1 open\ndevice STT 28A3F2C501080011\n",
                      Rec().text(0, 16, "00").b +
                          Rec::device("Sala", STT, "28A3F2C501080011").num(138, 1).b);
    for (const char *line :
         {"-reverse", "-style fusion", "-qwindowtitle x", "-platform nosuch", "-display :99"}) {
        SCOPED_TRACE(line);
        f.refused(line);
    }
    EXPECT_EQ(f.calls("IniciarCNX"), 0);
    QProcess first;
    f.start(first, "/1");
    ASSERT_TRUE(first.waitForStarted(10000));
    for (int k = 0; k < 120 && f.calls("LeerTemperatura") < 1; ++k)
        ASSERT_FALSE(first.waitForFinished(250));
    ASSERT_GE(f.calls("LeerTemperatura"), 1);
    for (const char *line : {"/1", "/0", ""}) {
        SCOPED_TRACE(line);
        f.refused(line);
        EXPECT_EQ(first.state(), QProcess::Running);
    }
    EXPECT_EQ(f.calls("IniciarCNX"), 1);
    first.kill();
    first.waitForFinished(10000);
}

}
