// The polling tick against the simulated network: a user editing the table
// while the tick waits (due times, the polling clock, relay rules, the warning
// list and when a tick captures a line: the soak's model); then the texts the
// user reads: device list lines and number texts.
#include "monitor/lines.h"
#include "monitor/mainview.h"
#include "monitor/monitor.h"
#include "monitor/sensoresmodel.h"
#include "netaccess/binding.h"
#include "registry/numtext.h"
#include "support/support.h"

#include <gtest/gtest.h>

#include <limits>
#include <map>
#include <optional>
#include <stdexcept>

namespace {

using Quad = std::array<std::int16_t, 4>;
constexpr double inf = std::numeric_limits<double>::infinity();

// Records what the tick asks of the window; a yield can run the test's edit,
// as a user working in the window while the tick waits.
struct FakeView final : MainView {
    void setTimerEnabled(bool on) override { log << (on ? "timer on" : "timer off"); }
    void actualizando() override { log << "actualizando"; }
    void yieldEvents() override { onYield ? onYield(++yields) : void(); }
    void setTimerInterval(int) override {}
    void listado() override {}
    void showAlarmas(const QStringList &) override {}
    void setCaption(const QString &) override {}
    QStringList log;
    int yields = 0;
    std::function<void(int)> onYield;
};

// One run of the program: table, clock, window and the simulated network on
// COM1. Clock at 10:00:00, polling reset.
struct Rig {
    Rig()
    {
        if ((io = SondaIO::load(binFolder(), nullptr)) && sim::load("port COM1 open\n") == 0)
            io->IniciarCNX(0, QStringLiteral("COM1"), g.mensaje);
        monitor = std::make_unique<Monitor>(g, io.get(), clock, view);
        monitor->onFatal = [this](const QString &text) { fatals << text; };
        monitor->reinicia();
    }
    // A device on the table and the network, named by the last two digits of
    // its serial, its words fixed; index lists rebuilt.
    void add(std::int16_t tipo, const char *hex, Quad w)
    {
        g.dispactual = Dispositivo{};
        g.dispactual.tipo = tipo, g.dispactual.sn = sn(hex),
        g.dispactual.nombre = QString::fromLatin1(hex + 14), g.dispactual.periodo = 3;
        sim::addDevice(0, tipo, sn(hex));
        sim::setWords(0, sn(hex), w[0], w[1], w[2], w[3]);
        g.nuevo(), g.cogereldet();
    }
    // Sensor i drives output `salida` of relay device r between 18 and 22.
    void link(int i, int r, std::int16_t salida)
    {
        g.dispositivos[i].snrele[0] = g.dispositivos[r].sn;
        g.dispositivos[i].salrele[0] = salida;
        g.dispositivos[i].alarma = {18, 22, 0, 0};
    }
    void tick() { clock.advance(3), monitor->Timer1_Timer(); }

    General g;
    TestClock clock;
    FakeView view;
    std::unique_ptr<SondaIO> io;
    std::unique_ptr<Monitor> monitor;
    QStringList fatals;
};

} // namespace

// The user edits the table while the tick waits in a yield. Yields of the
// first tick: 1-2 around device 1's read, 3-4 device 2, 5-6 device 3, 7-8
// device 4, 9-10 device 6. An error the tick cannot absorb is reported and
// leaves the timer off.
TEST(Monitor, EditsDuringYields)
{
    const auto remove = [](int i) { return [i](Rig &rig) { rig.g.borra(i), rig.g.cogereldet(); }; };
    static const char *const six = "2600000000000006";
    // devicesAfter -1: the tick ends in an error.
    const struct Row {
        const char *name;
        int atYield;
        std::function<void(Rig &)> edit;
        int devicesAfter;
    } rows[] = {
        {"delete the device being read", 1, remove(1), 5},
        {"delete the relay device before the relay writes", 4, remove(5), 5},
        {"delete a detector, index lists left stale", 2, [](Rig &rig) { rig.g.borra(3); }, 5},
        {"delete the relay device, index lists left stale", 2,
         [](Rig &rig) { rig.g.borra(6), rig.g.borra(5); }, 4},
        {"add a device", 2, [](Rig &rig) { rig.add(STT, "2800000000000009", {99}); }, 7},
        {"reload a shorter table", 2,
         [](Rig &rig) {
             rig.g.vacia(), rig.add(HRT, six, {26, 66});
         },
         1},
        {"empty the table", 3, [](Rig &rig) { rig.g.vacia(); }, 0},
        {"readings shorter than the table", 2, [](Rig &rig) { rig.g.estados.resize(2); }, 6},
        {"an unexpected error", 1, [](Rig &) { throw std::runtime_error("sin memoria"); }, -1},
    };
    const std::map<QString, Quad> words = {
        {"2800000000000001", {201}},    {"2800000000000002", {202}},  {"1D00000000000003", {0, 1}},
        {"2600000000000004", {23, 44}}, {"3A00000000000005", {1, 1}}, {six, {26, 66}},
        {"2800000000000009", {99}}};
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        Rig rig;
        for (const auto &[tipo, hex] : {std::pair(STT, "2800000000000001"),
                                        {STT, "2800000000000002"},
                                        {DET, "1D00000000000003"},
                                        {HRT, "2600000000000004"},
                                        {CTR, "3A00000000000005"},
                                        {HRT, six}})
            rig.add(tipo, hex, words.at(hex));
        rig.link(1, 5, 2), rig.link(6, 5, 1);
        rig.view.onYield = [&](int yield) {
            if (yield != row.atYield)
                return;
            row.edit(rig);
            // Fresh storage of exactly the new size, as a reload makes it: a
            // read past the end or through a reference kept across the yield
            // then meets freed or foreign memory, which the sanitizers report.
            rig.g.dispositivos.shrink_to_fit(), rig.g.estados.shrink_to_fit(),
                rig.g.lstdet.shrink_to_fit(), rig.g.lstctr.shrink_to_fit();
        };
        rig.tick();
        if (row.devicesAfter < 0) {
            EXPECT_EQ(rig.fatals,
                      QStringList{"Error inesperado en la lectura de la red: sin memoria"});
            EXPECT_EQ(rig.view.log, QStringList({"timer off", "actualizando"}));
            continue;
        }
        rig.view.onYield = nullptr;
        rig.tick();
        EXPECT_TRUE(rig.fatals.isEmpty());
        EXPECT_EQ(rig.view.log.last(), QStringLiteral("timer on"));
        EXPECT_EQ(rig.g.n(), row.devicesAfter);
        for (int i = 1; i <= rig.g.n() && std::size_t(i) < rig.g.estados.size(); ++i) {
            // Every device left was due on the second tick at the latest.
            EXPECT_TRUE(rig.g.estados[i].valido) << i;
            EXPECT_EQ(rig.g.estados[i].crudo, words.at(seriehex(rig.g.dispositivos[i].sn)))
                << i << ": the reading of another device";
        }
    }
}

// The edges of the half-day and day the soak's days may miss: at noon on
// the polling clock a morning due time waits for tomorrow; a polling clock
// and a due time that reach a day together both wrap to 0.
TEST(Monitor, DueTimesAtNoonAndMidnight)
{
    Rig rig;
    rig.add(STT, "2800000000000001", {});
    rig.g.reloj = 43200, rig.g.estados[1].proxima = 43199;
    rig.tick();
    EXPECT_FALSE(rig.view.log.contains(QStringLiteral("actualizando")));
    rig.g.reloj = 86397, rig.g.estados[1].proxima = 86397;
    rig.tick();
    EXPECT_EQ(std::pair(rig.g.reloj, rig.g.estados[1].proxima), std::pair(0, 0));
}

// A device of a type the program does not know, linked to a relay and far
// below its minimum, is never a warning; the relay device's idle inputs are.
TEST(Monitor, AnUnknownTypeIsNeverAWarning)
{
    Rig rig;
    rig.add(CTR, "3A000000000000FF", {});
    rig.add(7, "2800000000000001", {150});
    const auto at = [&](const char *hex) {
        for (std::size_t i = 1; i < rig.g.dispositivos.size(); ++i)
            if (rig.g.dispositivos[i].sn == sn(hex))
                return static_cast<int>(i);
        return -1;
    };
    rig.link(at("2800000000000001"), at("3A000000000000FF"), 1);
    rig.tick();
    EXPECT_EQ(rig.monitor->ponalarmas().join(u'|'), QStringLiteral("FF - 1|FF - 2"));
}

TEST(Texts, DeviceLines)
{
    const QString serial = QStringLiteral("28A3F2C501080011");
    // The first narrow: a narrow name takes one separator more.
    const std::pair<TestDevice, const char *> rows[] = {
        {{STT, "Sala", true, {-0.5f}}, "STT  Sala                28A3F2C501080011  -.5 ºC"},
        {{HRT, "Invernadero", true, {22, 47}},
         "HRT  Invernadero       28A3F2C501080011  22 ºC  47 %"},
        // Word 0: an active input.
        {{DET, "Puerta", true, {}, {0, 1}}, "DET  Puerta            28A3F2C501080011  1  0"},
        {{AVI, "Caudal", true, {0.5f, 1380, -2.25f, 12345678.0f}, {}, {"V", " mA ", "", "Pa"}},
         "AVI  Caudal            28A3F2C501080011  .5 V  1380 mA  -2.25   1.234568E+07 Pa"},
        {{9, "Raro", true, {1}}, "???"},
        {{0, "Raro", false}, "???  Raro              28A3F2C501080011    ERR"},
    };
    for (const auto &[device, expected] : rows) {
        General g;
        const int i = addDevice(g, device);
        const QString line = deviceLine(g, i, serial, &device == &rows[0].first);
        EXPECT_EQ(line, QString::fromUtf8(expected));
        EXPECT_EQ(serielinea(line), device.tipo == 9 ? QString() : serial);
        EXPECT_EQ(deviceLine(g, i + 1, serial, false), QString()) << "no such device";
    }
    // A device changed in place keeps its row, which then shows the new serial.
    General g;
    addDevice(g, {STT, "Sala"});
    SensoresModel list(g, nullptr, {});
    EXPECT_EQ(serielinea(list.data(list.index(0)).toString()), "0000000000000000");
    g.dispactual = g.dispositivos[1], g.dispactual.sn = sn("28A3F2C501080011"), g.modifica(1);
    list.rebuild();
    EXPECT_EQ(serielinea(list.data(list.index(0)).toString()), "28A3F2C501080011");
    // A row past a table shortened meanwhile shows nothing until the rebuild.
    g.borra(1);
    EXPECT_EQ(list.data(list.index(0)).toString(), QString());
    list.rebuild();
    EXPECT_EQ(list.rowCount(), 0);
}

TEST(Texts, NumbersShownAndTyped)
{
    const float nanf = std::numeric_limits<float>::quiet_NaN(), inff = float(inf);
    const std::pair<float, const char *> singles[] = {
        {20.0f, "20"},       {0.5f, ",5"},
        {-0.25f, "-,25"},    {12345678.0f, "1,234568E+07"},
        {1e7f, "1E+07"},     {123456.75f, "123456,8"},
        {0.00001f, "1E-05"}, {-0.0f, "0"},
        {nanf, "NaN"},       {-inff, "-Inf"},
        {inff, "Inf"}};
    for (const auto &[value, comma] : singles) {
        EXPECT_EQ(numcoma(value), QString::fromLatin1(comma));
        EXPECT_EQ(txtsimple(value), QString::fromLatin1(comma).replace(',', '.'));
    }
    // Numbers typed into the dialogs: blanks skipped anywhere, and words rounded with halves to even.
    const std::pair<const char *, double> texts[] = {
        {"  21.5abc", 21.5}, {"+4", 4},  {"-.5", -0.5}, {"1E+3x", 1000},
        {"2.5D-1", 0.25},    {"7e+", 7}, {"12,5", 12},  {"- 5", -5},
        {"2 e 1 x", 20},     {"", 0},    {".", 0},      {"1e400", inf},
        {"-1e400", -inf}};
    for (const auto &[text, value] : texts)
        EXPECT_EQ(valnum(QString::fromLatin1(text)), value) << text;
    EXPECT_EQ(valnum(QStringLiteral("100000000000000000000e-10000000000000000000000")), 0);
    const std::optional<std::int16_t> none;
    const std::pair<double, std::optional<std::int16_t>> words[] = {
        {2.5, 2},         {3.5, 4},
        {-12.5, -12},     {-0.5, 0},
        {1.51, 2},        {32767.4, 32767},
        {32767.5, none},  {-32768.5, -32768},
        {-32768.6, none}, {double(nanf), none}};
    for (const auto &[value, word] : words)
        EXPECT_EQ(redondea16(value), word) << value;
}
