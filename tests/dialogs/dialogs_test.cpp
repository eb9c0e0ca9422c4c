// The dialogs over the main window. The advanced window: the slots it shows
// by type, the values it shows and stores, what it refuses and in which
// order, the sampling period, and the relay list with the entry it selects.
// The check button, which says what the device in the pane reads. (The
// search window: the window tests on the display.)
#include "dialogs/avanzado.h"
#include "registry/configfile.h"
#include "support/controls.h"
#include "support/windows.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <cmath>
#include <map>
#include <tuple>

using namespace Qt::Literals::StringLiterals;

namespace {

const char *const relayA = "3A7C11B200000077";
const char *const relayB = "3AFFFFFFFFFFFF88";

// A device as the main window's add leaves it: blank units, a converter's
// gains at one.
Dispositivo device(Tipo tipo, const char *serial, const char *name)
{
    const std::int16_t one = tipo == AVI;
    return {.nombre = QString::fromLatin1(name),
            .sn = sn(serial),
            .tipo = tipo,
            .ajuste = {one, one, one, one},
            .ganancia = {float(one), float(one), float(one), float(one)},
            .magnitud = {QString(), QString(), QString(), QString()},
            .periodo = 1};
}

// The main window on COM1 with two relay devices, a detector and the
// device in its table, the device in the pane as a click on its line puts
// it there, and the advanced window shown over it.
struct Advanced : MainFixture {
    explicit Advanced(const Dispositivo &d)
    {
        EXPECT_TRUE(start(u"/1"_s));
        for (const Dispositivo &t :
             {device(CTR, relayA, "Rele A"), device(DET, "1D5EE30700000055", "Puerta"),
              device(CTR, relayB, "Rele B"), d}) {
            g.dispactual = t;
            g.nuevo();
        }
        g.cogereldet();
        window->listado();
        control<QLineEdit>(*window, "nombre")->setText(d.nombre.trimmed());
        control<QLineEdit>(*window, "SN")->setText(nomtipo(d.tipo) + seriehex(d.sn));
        a = std::make_unique<avanzado>(g, io.get(), messages, *window);
        // A window shown before for another type shows nothing of it now.
        g.dispactual = device(AVI, "20C4001A0F000044", "Otro");
        a->Form_Activate();
        g.dispactual = d;
        a->show();
        QCoreApplication::processEvents(); // a missing relay is said over the window
    }
    std::unique_ptr<avanzado> a;
};

// Boxes of the window: the slots 0..9, then these.
enum { Periodo = 10, Serie };
QLineEdit *box(avanzado &a, int k) { return k == Periodo ? a.vtm : k == Serie ? a.SN : a.vprop[k]; }

using Change = std::function<void(Dispositivo &)>;
Change alarmas(float min, float max)
{
    return [=](Dispositivo &d) { d.alarma = {min, max, 0, 0}; };
}
Change salida(const char *serial, std::int16_t output)
{
    return [=](Dispositivo &d) {
        d.snrele[0] = serial ? sn(serial) : Serial{}, d.salrele[0] = output;
    };
}

struct Case {
    const char *name;
    Tipo tipo = STT;
    Change stored = {}; // what the table holds beyond a new device's values
    const char *captions = nullptr; // the slots' captions in order, when checked
    std::map<int, QString> shown = {}, typed = {};
    int chosen = -1; // the relay entry the user picks
    int selected = 0; // the relay entry selected on opening
    // A refusal keeps the window and the table as they were.
    QStringList said = {};
    // How the table's record changed, byte for byte: an edit, which asks to
    // modify the listed device. None: nothing edited.
    Change after = {};
};

TEST(Advanced, whatTheWindowShowsStoresAndRefuses)
{
    const QString modify =
        u"El dispositivo ya está en la lista.\r\n¿Desea modificar sus propiedades?"_s;
    const QString typeFixed = u"El tipo de sensor no se puede modificar desde esta ventana"_s;
    const auto range = [](const char *field) {
        return QStringList{u"El valor de %1 está fuera de rango."_s.arg(QLatin1String(field))};
    };
    std::vector<Case> cases = {
        {.name = "det", .tipo = DET, .captions = ""},
        {.name = "offsetUnderOne",
         .stored = [](Dispositivo &d) { d.ajuste[0] = 5; },
         .shown = {{0, ".5"}},
         .typed = {{0, "2.25"}},
         .after = [](Dispositivo &d) { d.ajuste[0] = 22; }},
        {.name = "offsetOneTenthOver",
         .shown = {{0, "0"}, {Periodo, "1"}},
         .typed = {{0, "3276.8"}},
         .said = range("Offset")},
        {.name = "sttMaxBelowMin",
         .stored = alarmas(-2.5f, 40),
         .shown = {{1, "-2.5"}, {2, "40"}},
         .typed = {{1, "30"}, {2, "20"}},
         .after = alarmas(30, 30)},
        {.name = "sttAlarmNearSingleTop",
         .typed = {{1, "3.4e38"}},
         .after = [](Dispositivo &d) { d.alarma[0] = d.alarma[1] = 3.4e38f; }},
        {.name = "sttAlarmBeyondSingle", .typed = {{2, "3.5e38"}}, .said = range("Alarma max")},
        {.name = "hrtAlarms",
         .tipo = HRT,
         .stored = alarmas(.25f, 80),
         .shown = {{0, ".25"}, {1, "80"}},
         .typed = {{0, "35"}, {1, "1E+07"}},
         .after = alarmas(35, 1e7f)},
        {.name = "aviGainsUnitsAlarms",
         .tipo = AVI,
         .stored =
             [](Dispositivo &d) { d.ganancia[3] = .5f, d.magnitud[1] = u"bar"_s, d.alarma[1] = 9; },
         .captions = "Gan CHa|Gan CHb|Gan CHc|Gan CHd|Mag CHa|Mag CHb|Mag CHc|Mag CHd|Alarma "
                     "min|Alarma max",
         .shown = {{0, "1"}, {3, ".5"}, {5, "bar"}, {4, ""}, {8, "0"}, {9, "9"}},
         .typed = {{0, "2.5"}, {5, "kPa"}, {8, "12"}, {9, "3"}},
         .after =
             [](Dispositivo &d) {
                 d.ganancia[0] = 2.5f, d.magnitud[1] = u"kPa"_s, d.alarma = {12, 12, 0, 0};
             }},
        {.name = "typeCheckedBeforeTheRange",
         .typed = {{0, "3300"}, {Serie, "HRT28A3F2C501080011"}},
         .said = {typeFixed}},
        {.name = "storedNaNShownAndRefusedUntouched",
         .stored = [](Dispositivo &d) { d.alarma[1] = std::nanf(""); },
         .shown = {{2, "NaN"}},
         .typed = {{Periodo, "60"}},
         .said = range("Alarma max")},
        {.name = "typedInfinityRefused", .typed = {{2, " inf"}}, .said = range("Alarma max")},
        {.name = "sttSecondRelayOutput2",
         .stored = salida(relayB, 2),
         .captions = "Offset|Alarma min|Alarma max",
         .selected = 5},
        {.name = "noRelayWarn", .stored = salida(nullptr, 1), .selected = 1},
        {.name = "userPicksFirstRelayOutput2", .chosen = 3, .after = salida(relayA, 2)},
        {.name = "userPicksWarn", .chosen = 1, .after = salida(nullptr, 1)},
        // An entry that is not what the record holds is an edit.
        {.name = "noRelayOutputMinus1", .stored = salida(nullptr, -1), .after = salida(nullptr, 0)},
        {.name = "relayOutput3", .stored = salida(relayA, 3), .after = salida(nullptr, 0)},
    };
    // The period typed into a humidity sensor's window, and the one stored:
    // nought keeps the old one, a negative is taken as its size, a half goes
    // to the even second and the longest is the field's top.
    const std::tuple<const char *, const char *, std::int16_t> periods[] = {
        {"period 0", "0", 1},
        {"period -45", "-45", 45},
        {"period 2.5", "2.5", 2},
        {"period 40000", "40000", 32767}};
    for (const auto &[name, typed, stored] : periods)
        cases.push_back({.name = name,
                         .tipo = HRT,
                         .captions = "Alarma min|Alarma max",
                         .typed = {{Periodo, typed}},
                         .after = [s = stored](Dispositivo &d) { d.periodo = s; }});
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Dispositivo d = device(c.tipo, "28A3F2C501080011", "Cuarto");
        if (c.stored)
            c.stored(d);
        Advanced r(d);
        avanzado &a = *r.a;
        const bool action = c.tipo != DET && c.tipo != CTR;
        if (c.captions) {
            QStringList shown; // the captions of the boxes shown
            for (int k = 0; k < kSlots; ++k)
                if (a.vprop[k]->isVisible() && a.prop[k]->isVisible())
                    shown << a.prop[k]->text();
            EXPECT_EQ(shown.join(u'|'), QString::fromLatin1(c.captions));
            for (QWidget *w : std::initializer_list<QWidget *>{a.tm, a.vtm, a.rele, a.listarele})
                EXPECT_EQ(w->isVisible(), action);
        }
        if (action) {
            // Ninguno, Avisar, then both outputs of each relay device.
            EXPECT_EQ(a.listarele->count(), 6);
            EXPECT_EQ(a.listarele->itemText(3) + u'|' + a.listarele->itemText(4),
                      u"Rele A - 3A7C11B200000077 -2|Rele B - 3AFFFFFFFFFFFF88 -1"_s);
            EXPECT_EQ(a.listarele->currentIndex(), c.selected);
        }
        for (const auto &[k, text] : c.shown)
            EXPECT_EQ(box(a, k)->text(), text) << k;
        for (const auto &[k, text] : c.typed)
            box(a, k)->setText(text);
        if (c.chosen >= 0) {
            a.listarele->setCurrentIndex(c.chosen);
            emit a.listarele->activated(c.chosen);
        }
        const QStringList said = c.after ? QStringList{modify} : c.said;
        const bool refused = !c.said.isEmpty();
        // Nothing edited: the table stays as it was, changed or not.
        r.g.modificado = said.isEmpty();

        a.aceptar->click();

        EXPECT_EQ(r.messages.texts, said);
        EXPECT_EQ(a.isVisible(), refused);
        EXPECT_EQ(r.g.modificado, !refused);
        // The boxes go to the main window first.
        EXPECT_EQ(control<QLineEdit>(*r.window, "nombre")->text() +
                      control<QLineEdit>(*r.window, "SN")->text(),
                  a.nombre->text() + a.SN->text());
        Dispositivo expected = d;
        if (c.after)
            c.after(expected);
        EXPECT_EQ(configfile::encode({r.g.dispositivos.back()}), configfile::encode({expected}));
    }
}

TEST(Check, saysWhatTheDeviceInThePaneReads)
{
    const struct {
        const char *serialBox;
        std::optional<SondaIO::Words> words; // fixed on the network; none: not found
        const char *call; // null: a serial refused, nothing asked nor shown
        const char *read = "";
    } rows[] = {
        {"STT28A3F2C501080011", {{-12, 0, 0, 0}}, "LeerTemperatura", "Temperatura = -1.2 ºC"},
        {"HRT26E1905C00000033",
         {{21, 55, 0, 0}},
         "LeerHRT",
         "Temperatura = 21 ºC , Humedad = 55 %"},
        {"AVI20C4001A0F000044",
         {{512, 0, -7, 3650}},
         "LeerAD",
         "CHa = 512 , CHb = 0 , CHc = -7 , CHd = 3650"},
        // Detector inputs are active at 0; a relay device answers as one.
        {"DET1D5EE30700000055", {{0, 3, 0, 0}}, "LeerDET", "IN1 = 1 , IN2 = 0"},
        {"CTR3A7C11B200000077", {{1, 0, 0, 0}}, "LeerDET", "RELÉ1 = 0 , RELÉ2 = 1"},
        {"AVI20000000000000FE", {}, "LeerAD"},
        {"XYZ28A3F2C501080011", {}, nullptr},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.serialBox);
        MainFixture f;
        ASSERT_TRUE(f.start(u"/1"_s));
        const Serial serial = sn(row.serialBox + 3);
        const SondaIO::Words w = row.words.value_or(SondaIO::Words{});
        ASSERT_EQ(row.words ? sim::setWords(0, serial, w[0], w[1], w[2], w[3]) : 0, 0);
        control<QLineEdit>(*f.window, "SN")->setText(QString::fromLatin1(row.serialBox));
        f.window->CMP_Click();
        const QString said = u"Sensor "_s + QLatin1String(row.serialBox + 3) +
            (row.words ? u" encontrado\r\n"_s + QString::fromUtf8(row.read) : u" no encontrado"_s);
        EXPECT_EQ(f.messages.texts, row.call ? QStringList{said} : QStringList{});
        EXPECT_EQ(sim::callCount(0, &serial, row.call ? row.call : "LeerTemperatura"),
                  row.call ? 1 : 0);
    }
}

}
