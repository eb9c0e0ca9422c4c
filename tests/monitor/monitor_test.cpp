// The polling tick against the simulated network: due times and the polling
// clock, relay rules with hysteresis, the warning list, and a user editing the
// table while the tick waits (when a tick captures a line: the soak's model);
// then the texts the user reads: device list lines and number texts.
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
#include <tuple>

namespace {

using Pair = std::array<std::int16_t, 2>;
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

// One run of the program: table, clock, window and, unless `network` is
// false, the simulated network on COM1. Clock at 10:00:00, polling reset.
struct Rig {
    explicit Rig(bool network = true)
    {
        if (network && (io = SondaIO::load(binFolder(), nullptr)) &&
            sim::load("port COM1 open\n") == 0)
            io->IniciarCNX(0, QStringLiteral("COM1"), g.mensaje);
        monitor = std::make_unique<Monitor>(g, io.get(), clock, view);
        monitor->onFatal = [this](const QString &text) { fatals << text; };
        monitor->reinicia();
    }
    // A device on the table and the network, named by the last two digits of
    // its serial, its words fixed (a relay device without words reads back
    // what it was written); index lists rebuilt.
    int add(std::int16_t tipo, const char *hex, Quad w = {}, std::int16_t periodo = 3)
    {
        g.dispactual = Dispositivo{};
        g.dispactual.tipo = tipo, g.dispactual.sn = sn(hex),
        g.dispactual.nombre = QString::fromLatin1(hex + 14), g.dispactual.periodo = periodo;
        g.dispactual.ganancia = {1, 1, 1, 1};
        if (io && tipo >= STT && tipo <= CTR)
            sim::addDevice(0, tipo, sn(hex));
        if (io && tipo >= STT && tipo <= CTR && (tipo != CTR || w != Quad{}))
            sim::setWords(0, sn(hex), w[0], w[1], w[2], w[3]);
        g.nuevo(), g.cogereldet();
        return g.n();
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

// Which devices a tick reads, and how the polling clock follows the wall
// clock: a jump forward beyond 3500 s (a clock set by hand, a sleeping
// machine) or any step back (midnight, a clock set back) moves every due
// time too. One device of period 10.
TEST(Monitor, DueTimesAndClock)
{
    // now: seconds since midnight; after the tick (2): reloj, proxima, ultimo.
    const struct Row {
        const char *name;
        int reloj, proxima, ultimo;
        double now;
        int reloj2, proxima2, ultimo2;
        bool read;
    } rows[] = {
        {"afternoon, a morning due time waits", 50000, 100, 36000, 36000, 50000, 100, 36000, false},
        {"noon, due just before", 43200, 43199, 36000, 36000, 43200, 43199, 36000, false},
        {"both at noon", 43200, 43200, 36000, 36000, 43200, 43210, 36000, true},
        {"next due past midnight wraps", 86395, 86390, 36000, 36000, 86395, 0, 36000, true},
        {"midnight crossing", 500, 1000, 86390, 5, 515, 1015, 5, false},
        {"polling clock at a day wraps", 86390, 100, 36000, 36010, 0, 100, 36010, false},
        {"gap of exactly 3500 s", 500, 1000, 36000, 39500, 4000, 1000, 39500, false},
        {"gap beyond 3500 s", 500, 1000, 36000, 39501, 4001, 4501, 39501, false},
        {"clock set back an hour", 500, 1000, 40000, 36000, 82900, 83400, 36000, false},
        // Set back 30 s, 2 and 50 minutes: still due in 5 s.
        {"set back 30 s", 500, 505, 36030, 36000, 470, 475, 36000, false},
        {"set back 2 minutes", 500, 505, 36120, 36000, 380, 385, 36000, false},
        {"set back 50 minutes", 500, 505, 39000, 36000, 83900, 83905, 36000, false},
        {"last half second of the day", 500, 1000, 86395, 86399.6, 505, 1005, 0, false},
    };
    for (const Row &row : rows) {
        Rig rig(false);
        rig.add(STT, "2800000000000001", {}, 10);
        rig.g.reloj = row.reloj, rig.g.ultimo = row.ultimo, rig.g.estados[1].proxima = row.proxima;
        rig.clock.set(QDateTime(QDate(2026, 12, 7),
                                QTime::fromMSecsSinceStartOfDay(int(row.now * 1000 + 0.5))));
        rig.monitor->Timer1_Timer();
        EXPECT_EQ(rig.view.log.contains(QStringLiteral("actualizando")), row.read) << row.name;
        EXPECT_EQ(std::tuple(rig.g.reloj, rig.g.estados[1].proxima, rig.g.ultimo),
                  std::tuple(row.reloj2, row.proxima2, row.ultimo2))
            << row.name;
    }
}

// The relay rules, one small network per row and one tick: on below the
// minimum, off above the maximum, held between them and on either limit.
// Limits 18 and 22; STT words are tenths, HRT whole degrees, AVI at gain 1.
// Then the warning list: sensors with a relay output (or "Avisar") outside
// their limits, also from a failed reading's last value; the active inputs
// (word 0) of valid detector and relay-device readings. The relay device is
// FF, the sensors 01, 02...
TEST(Monitor, RelayHysteresisAndWarnings)
{
    // salida 0: no relay linked ("Ninguno"); before: the relay list's state
    // before the tick, none: as built.
    struct Sensor {
        std::int16_t tipo, w0, salida;
        bool fails = false, unknownRelay = false;
    };
    const struct Row {
        const char *name;
        std::vector<Sensor> sensors;
        Pair relay;
        const char *warnings;
        std::optional<Pair> before = {};
    } rows[] = {
        // No relay linked, a detector, a relay not on the table (it differs in
        // the last byte only), a type unknown.
        {"sensors that drive nothing: relays written off",
         {{STT, 150, 0}, {DET, 0, 1}, {STT, 150, 1, false, true}, {7, 150, 1}},
         {0, 0},
         "FF - 1|FF - 2|02 - 1|03"},
        {"below the minimum switches on", {{STT, 179, 1}}, {1, 0}, "FF - 2|01"},
        {"on the minimum, held off", {{STT, 180, 1}}, {0, 0}, "FF - 1|FF - 2"},
        {"on the maximum, held on", {{STT, 220, 1}}, {1, 0}, "FF - 2", Pair{1, 0}},
        {"above the maximum: its output off", {{STT, 221, 1}}, {0, 1}, "FF - 1|01", Pair{1, 1}},
        {"converter compares channel 0", {{AVI, 10, 1}}, {1, 0}, "FF - 2|01"},
        {"humidity device compares its temperature", {{HRT, 17, 1}}, {1, 0}, "FF - 2|01"},
        // Invalid readings cannot switch on; a failed detector lists nothing.
        {"failed readings", {{STT, 150, 1, true}, {DET, 0, 0, true}}, {0, 0}, "FF - 1|FF - 2|01"},
        {"two on one output: later off",
         {{STT, 150, 1}, {STT, 250, 1}},
         {0, 0},
         "FF - 1|FF - 2|01|02"},
        // A damaged output number skips that sensor only.
        {"damaged output",
         {{STT, 150, 7}, {STT, 150, 2}, {STT, 150, -1}},
         {0, 1},
         "FF - 1|01|02|03"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        Rig rig;
        const int r = rig.add(CTR, "3A000000000000FF");
        char hex[] = "2800000000000000";
        for (const Sensor &s : row.sensors) {
            ++hex[15];
            const int i = rig.add(s.tipo, hex, {s.w0, 50});
            sim::failRate(0, sn(hex), s.fails ? 1 : 0);
            if (s.salida != 0)
                rig.link(i, r, s.salida);
            if (s.unknownRelay)
                rig.g.dispositivos[i].snrele[0] = sn("3A00000000000077");
        }
        if (row.before)
            rig.g.lstctr[1].estado = *row.before;
        rig.tick();
        Pair out{-1, -1};
        EXPECT_EQ(sim::relayWords(0, sn("3A000000000000FF"), out[0], out[1]), 1)
            << "one write per tick";
        EXPECT_EQ(out, row.relay);
        EXPECT_EQ((Pair{rig.g.estados[r].crudo[0], rig.g.estados[r].crudo[1]}), row.relay)
            << "the relay device is read after the write";
        EXPECT_EQ(sim::callCount(0, nullptr, "SetupAD"), row.sensors[0].tipo == AVI)
            << "a converter set up before its reading";
        EXPECT_EQ(rig.monitor->ponalarmas().join(u'|'), QString::fromLatin1(row.warnings));
    }
}

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
