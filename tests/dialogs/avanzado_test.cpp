#include "dialogs/avanzado.h"
#include "registry/configfile.h"
#include "support/windows.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <cstring>
#include <functional>
#include <limits>
#include <map>

namespace {

const char kRelay1[] = "3A7C11B200000077";
const char kRelay2[] = "3AFFFFFFFFFFFF88";
const char kStt[] = "28A3F2C501080011";

Dispositivo record(Tipo tipo, const char *name, const char *serial)
{
    Dispositivo d;
    d.tipo = tipo;
    d.nombre = QString::fromLatin1(name);
    d.sn = sn(serial);
    d.periodo = 1;
    for (auto &m : d.magnitud)
        m = QString(); // blanks, as the main window's add leaves them
    if (tipo == AVI) {
        d.ajuste = {1, 1, 1, 1};
        d.ganancia = {1, 1, 1, 1};
    }
    return d;
}

// A main window on COM1 whose table holds the devices, the last one made the
// working record as a click on its line makes it, and the advanced window.
struct Rig {
    explicit Rig(const std::vector<Dispositivo> &table)
    {
        EXPECT_TRUE(f.start(QStringLiteral("/1")));
        for (const Dispositivo &d : table) {
            f.g.dispactual = d;
            f.g.nuevo();
        }
        f.g.cogereldet();
        f.window->listado();
        const Dispositivo &d = table.back();
        f.window->nombre->setText(d.nombre.trimmed());
        f.window->SN->setText(nomtipo(d.tipo) + seriehex(d.sn));
        f.g.dispactual = d;
        f.g.modificado = false;
        a = std::make_unique<avanzado>(f.g, f.io.get(), f.messages, *f.window);
    }
    const Dispositivo &stored() const { return f.g.dispositivos.back(); }
    MainFixture f;
    std::unique_ptr<avanzado> a;
};

TEST(Advanced, SlotsShownByType)
{
    struct Row {
        const char *name;
        Tipo tipo;
        std::vector<QString> captions; // slot k's caption, slots 0.. in order
        bool action;
    };
    const Row rows[] = {
        {"stt", STT, {"Offset", "Alarma min", "Alarma max"}, true},
        {"hrt", HRT, {"Alarma min", "Alarma max"}, true},
        {"avi", AVI, {"Gan CHa", "Gan CHb", "Gan CHc", "Gan CHd", "Mag CHa", "Mag CHb", "Mag CHc", "Mag CHd",
                      "Alarma min", "Alarma max"}, true},
        {"det", DET, {}, false},
        {"ctr", CTR, {}, false},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        Rig r({record(STT, "Cuarto", kStt), record(row.tipo, "Prueba", "0102030405060708")});
        // A window shown before for another type shows nothing of it now.
        r.f.g.dispactual.tipo = AVI;
        r.a->Form_Activate();
        r.f.g.dispactual = r.stored();
        r.a->show();

        EXPECT_EQ(r.a->windowTitle(), QStringLiteral("Climalog - Propiedades ") + nomtipo(row.tipo));
        EXPECT_EQ(r.a->nombre->text(), QStringLiteral("Prueba"));
        EXPECT_EQ(r.a->SN->text(), nomtipo(row.tipo) + QStringLiteral("0102030405060708"));
        for (int k = 0; k < kSlots; ++k) {
            const bool shown = k < static_cast<int>(row.captions.size());
            EXPECT_EQ(r.a->vprop[k]->isVisible(), shown) << k;
            EXPECT_EQ(r.a->prop[k]->isVisible(), shown) << k;
            if (shown) {
                EXPECT_EQ(r.a->prop[k]->text(), row.captions[k]);
            }
        }
        for (QWidget *w : std::initializer_list<QWidget *>{r.a->tm, r.a->vtm, r.a->rele, r.a->listarele})
            EXPECT_EQ(w->isVisible(), row.action);
        EXPECT_FALSE(r.f.g.editado);
        EXPECT_EQ(r.f.g.tipoorig, row.tipo);
        r.a->hide();
    }
}

TEST(Advanced, ShownAndStoredValues)
{
    struct Row {
        const char *name;
        Tipo tipo;
        std::function<void(Dispositivo &)> before;
        std::map<int, QString> shown;
        std::map<int, QString> typed;
        std::function<void(const Dispositivo &)> check;
    };
    const Row rows[] = {
        {"offsetTenths", STT, [](Dispositivo &d) { d.ajuste[0] = 15; }, {{0, "1.5"}}, {{0, "-1.25"}},
         [](const Dispositivo &d) { EXPECT_EQ(d.ajuste[0], -12); }},
        {"offsetUnderOne", STT, [](Dispositivo &d) { d.ajuste[0] = 5; }, {{0, ".5"}}, {{0, "2.25"}},
         [](const Dispositivo &d) { EXPECT_EQ(d.ajuste[0], 22); }},
        {"offsetUnderMinusOne", STT, [](Dispositivo &d) { d.ajuste[0] = -5; }, {{0, "-.5"}}, {{0, "-.25"}},
         [](const Dispositivo &d) { EXPECT_EQ(d.ajuste[0], -2); }},
        {"sttMaxBelowMin", STT, [](Dispositivo &d) { d.alarma = {-2.5f, 40, 0, 0}; }, {{1, "-2.5"}, {2, "40"}},
         {{1, "30"}, {2, "20"}},
         [](const Dispositivo &d) { EXPECT_EQ(d.alarma, (std::array<float, 4>{30, 30, 0, 0})); }},
        {"hrtAlarms", HRT, [](Dispositivo &d) { d.alarma = {.25f, 80, 0, 0}; }, {{0, ".25"}, {1, "80"}},
         {{0, "35"}, {1, "1E+07"}},
         [](const Dispositivo &d) { EXPECT_EQ(d.alarma, (std::array<float, 4>{35, 1e7f, 0, 0})); }},
        {"aviGainsNamesAlarms", AVI,
         [](Dispositivo &d) {
             d.ganancia[3] = .5f;
             d.magnitud[1] = QStringLiteral("bar");
             d.alarma[1] = 9;
         },
         {{0, "1"}, {3, ".5"}, {5, "bar"}, {4, ""}, {8, "0"}, {9, "9"}},
         {{0, "2.5"}, {5, "kPa"}, {8, "12"}, {9, "3"}},
         [](const Dispositivo &d) {
             EXPECT_EQ(d.ganancia, (std::array<float, 4>{2.5f, 1, 1, .5f}));
             EXPECT_EQ(d.magnitud[1].text(), QStringLiteral("kPa     "));
             EXPECT_EQ(d.alarma, (std::array<float, 4>{12, 12, 0, 0}));
         }},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        Dispositivo d = record(row.tipo, "Prueba", "0102030405060708");
        row.before(d);
        Rig r({d});
        r.a->show();
        for (const auto &[slot, text] : row.shown)
            EXPECT_EQ(r.a->vprop[slot]->text(), text) << slot;
        for (const auto &[slot, text] : row.typed)
            r.a->vprop[slot]->setText(text);

        r.a->aceptar->click();

        // The table entry is replaced after the main window's question.
        EXPECT_EQ(r.f.messages.texts,
                  QStringList{QStringLiteral("El dispositivo ya está en la lista.\r\n¿Desea modificar sus propiedades?")});
        EXPECT_FALSE(r.a->isVisible());
        EXPECT_TRUE(r.f.g.modificado);
        row.check(r.stored());
    }
}

TEST(Advanced, SamplingPeriod)
{
    struct Row {
        const char *name;
        const char *typed;
        std::int16_t periodo;
        const char *box;
    };
    const Row rows[] = {
        {"zero", "0", 1, "0"},         {"empty", "", 1, ""},         {"negative", "-45", 45, "-45"},
        {"tooLong", "40000", 32767, "32767"}, {"halfToEvenDown", "2.5", 2, "2.5"}, {"halfToEvenUp", "3.5", 4, "3.5"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        Rig r({record(HRT, "Prueba", "0102030405060708")});
        r.a->show();
        EXPECT_EQ(r.a->vtm->text(), QStringLiteral("1"));
        r.a->vtm->setText(QString::fromLatin1(row.typed));
        r.a->aceptar_Click();
        EXPECT_EQ(r.a->vtm->text(), QString::fromLatin1(row.box));
        EXPECT_EQ(r.stored().periodo, row.periodo);
    }
}

TEST(Advanced, RelayAction)
{
    struct Row {
        const char *name;
        const char *relay; // stored serial; null: none
        std::int16_t output;
        int chosen;        // entry the user picks; -1: none
        int selected;      // entry selected on opening
        bool missing;      // the relay-missing message is shown
        const char *storedRelay;
        std::int16_t storedOutput;
    };
    const Row rows[] = {
        {"secondRelayOutput2", kRelay2, 2, -1, 5, false, kRelay2, 2},
        {"firstRelayOutput1", kRelay1, 1, -1, 2, false, kRelay1, 1},
        {"noRelayWarn", nullptr, 1, -1, 1, false, nullptr, 1},
        {"noRelayNothing", nullptr, 0, -1, 0, false, nullptr, 0},
        {"userPicksFirstRelayOutput2", nullptr, 0, 3, 0, false, kRelay1, 2},
        {"relayNoLongerThere", "3A0000000000AB01", 1, -1, 0, true, nullptr, 0},
        {"noRelayOutput2", nullptr, 2, -1, 0, false, nullptr, 0},
        {"noRelayOutputMinus1", nullptr, -1, -1, 0, false, nullptr, 0},
        {"relayOutput0", kRelay2, 0, -1, 0, false, nullptr, 0},
        {"relayOutput3", kRelay1, 3, -1, 0, false, nullptr, 0},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        Dispositivo d = record(STT, "Prueba", kStt);
        d.snrele[0] = row.relay ? sn(row.relay) : Serial{};
        d.salrele[0] = row.output;
        Rig r({record(CTR, "Rele A", kRelay1), record(DET, "Puerta", "1D5EE30700000055"),
               record(CTR, "Rele B", kRelay2), d});
        r.a->show();
        QCoreApplication::processEvents(); // a missing relay is said over the window

        ASSERT_EQ(r.a->listarele->count(), 6);
        EXPECT_EQ(r.a->listarele->itemText(0), QStringLiteral("Ninguno"));
        EXPECT_EQ(r.a->listarele->itemText(1), QStringLiteral("Avisar"));
        EXPECT_EQ(r.a->listarele->itemText(3), QStringLiteral("Rele A - 3A7C11B200000077 -2"));
        EXPECT_EQ(r.a->listarele->itemText(4), QStringLiteral("Rele B - 3AFFFFFFFFFFFF88 -1"));
        EXPECT_EQ(r.a->listarele->currentIndex(), row.selected);
        EXPECT_EQ(r.f.messages.texts,
                  row.missing ? QStringList{QStringLiteral("El rele asiciado a este sensor ya no existe.")} : QStringList{});
        const bool inEncoding = row.selected != 0 || (row.relay == nullptr && row.output == 0);
        EXPECT_EQ(r.f.g.editado, !inEncoding);
        if (row.chosen >= 0) {
            r.a->listarele->setCurrentIndex(row.chosen);
            emit r.a->listarele->activated(row.chosen);
            EXPECT_TRUE(r.f.g.editado);
        }

        r.f.messages.texts.clear();
        r.a->aceptar_Click();
        const Dispositivo &s = r.stored();
        EXPECT_EQ(s.snrele[0], row.storedRelay ? sn(row.storedRelay) : Serial{});
        EXPECT_EQ(s.salrele[0], row.storedOutput);
        EXPECT_EQ(r.f.g.modificado, r.f.g.editado) << "the table changes only when something was edited";
        EXPECT_FALSE(r.a->isVisible());
    }
}

TEST(Advanced, AcceptRefusals)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    struct Row {
        const char *name;
        std::function<void(Dispositivo &)> stored; // a damaged file's values
        std::function<void(avanzado &)> edit;
        QString message;
    };
    const Row rows[] = {
        {"typePrefixChanged", {}, [](avanzado &a) { a.SN->setText(QStringLiteral("HRT28A3F2C501080011")); },
         QStringLiteral("El tipo de sensor no se puede modificar desde esta ventana")},
        {"typeCheckedBeforeTheRange", {},
         [](avanzado &a) {
             a.vprop[0]->setText(QStringLiteral("3300"));
             a.SN->setText(QStringLiteral("HRT28A3F2C501080011"));
         },
         QStringLiteral("El tipo de sensor no se puede modificar desde esta ventana")},
        {"offsetTenthsOverflow", {},
         [](avanzado &a) {
             a.vprop[0]->setText(QStringLiteral("3300"));
             a.nombre->setText(QStringLiteral("Otro"));
         },
         QStringLiteral("El valor de Offset está fuera de rango.")},
        {"alarmBeyondSingle", {},
         [](avanzado &a) {
             a.vprop[1]->setText(QStringLiteral("-1e39"));
             a.vtm->setText(QStringLiteral("60"));
             a.listarele->setCurrentIndex(1);
         },
         QStringLiteral("El valor de Alarma min está fuera de rango.")},
        {"storedNaNShownAndRefusedUntouched", [nan](Dispositivo &d) { d.alarma[1] = nan; },
         [](avanzado &a) {
             EXPECT_EQ(a.vprop[2]->text(), QStringLiteral("NaN"));
             a.vtm->setText(QStringLiteral("60"));
         },
         QStringLiteral("El valor de Alarma max está fuera de rango.")},
        {"storedInfinityShownAndRefused", [inf](Dispositivo &d) { d.alarma[0] = -inf; },
         [](avanzado &a) { EXPECT_EQ(a.vprop[1]->text(), QStringLiteral("-Inf")); },
         QStringLiteral("El valor de Alarma min está fuera de rango.")},
        {"typedInfinityRefused", {}, [](avanzado &a) { a.vprop[2]->setText(QStringLiteral(" inf")); },
         QStringLiteral("El valor de Alarma max está fuera de rango.")},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        Dispositivo d = record(STT, "Cuarto", kStt);
        if (row.stored)
            row.stored(d);
        Rig r({d});
        r.a->show();
        const Dispositivo before = r.f.g.dispactual;
        row.edit(*r.a);

        r.a->aceptar_Click();

        EXPECT_EQ(r.f.messages.texts, QStringList{row.message});
        EXPECT_TRUE(r.a->isVisible());
        EXPECT_EQ(configfile::encode({r.f.g.dispositivos.back()}), configfile::encode({d})) << "the table is untouched";
        EXPECT_FALSE(r.f.g.modificado);
        // The boxes go to the main window first; nothing else is stored.
        EXPECT_EQ(r.f.window->SN->text(), r.a->SN->text());
        EXPECT_EQ(r.f.window->nombre->text(), r.a->nombre->text());
        const Dispositivo &now = r.f.g.dispactual;
        EXPECT_EQ(now.ajuste, before.ajuste);
        EXPECT_EQ(std::memcmp(now.alarma.data(), before.alarma.data(), sizeof now.alarma), 0);
        EXPECT_EQ(now.periodo, before.periodo);
        EXPECT_EQ(now.salrele, before.salrele);
    }
}

TEST(Advanced, AcceptWithoutChangeKeepsTheTable)
{
    for (const bool modificado : {false, true}) {
        SCOPED_TRACE(modificado);
        Rig r({record(STT, "Cuarto", kStt)});
        r.a->show();
        r.f.g.modificado = modificado;
        r.a->aceptar->click();
        EXPECT_TRUE(r.f.messages.texts.isEmpty()) << "no add, so no already-listed question";
        EXPECT_EQ(r.f.g.modificado, modificado);
        EXPECT_FALSE(r.a->isVisible());
    }
}

}
