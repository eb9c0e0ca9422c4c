// Figures of the monitor at the table's full size: a whole tick with every
// device due (window and list included), the same with a list of widget
// items rebuilt per read, the longest pause of the window during a slow
// tick, peak memory, configuration save and load, and the relay rules.
// Runs offscreen on the simulated network at zero latency.
#include "timing.h"
#include "monitor/capture.h"
#include "monitor/lines.h"
#include "monitor/mainview.h"
#include "monitor/monitor.h"
#include "monitor/sensoresmodel.h"
#include "netaccess/binding.h"
#include "platform/clock.h"
#include "platform/messages.h"
#include "registry/configfile.h"
#include "registry/general.h"
#include "shell/principal.h"
#include "simcontrol.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTime>
#include <QElapsedTimer>
#include <QListWidget>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <dlfcn.h>
#include <sys/resource.h>

namespace {

struct Silent final : Messages {
    Answer show(const QString &, Buttons b, Icon) override
    {
        return b == Buttons::YesNo ? Answer::Yes : Answer::Ok;
    }
};
struct NoExplorer final : Explorer {
    void open(const QString &) override {}
};
struct NoView final : MainView {
    void setTimerEnabled(bool) override {}
    void setTimerInterval(int) override {}
    void actualizando() override {}
    void listado() override {}
    void yieldEvents() override {}
    void showAlarmas(const QStringList &) override {}
    void setCaption(const QString &) override {}
};

template <typename Fn>
Fn simCall(const char *name)
{
    static void *lib =
        dlopen(QFile::encodeName(
                   QDir(QCoreApplication::applicationDirPath()).filePath(SondaIO::fileName()))
                   .constData(),
               RTLD_NOW | RTLD_LOCAL);
    return reinterpret_cast<Fn>(dlsym(lib, name));
}

Serial serialOf(int k, int tipo)
{
    Serial s{};
    s[0] = static_cast<std::uint8_t>(0x10 * tipo);
    s[5] = static_cast<std::uint8_t>(k >> 16);
    s[6] = static_cast<std::uint8_t>(k >> 8);
    s[7] = static_cast<std::uint8_t>(k);
    return s;
}

// A mixed table on COM1, every device on the simulated network too. With
// `relays` set, that many CTR devices, each linked to by the sensors.
void fillTable(General &g, int count, int relays, bool relayDevices = true)
{
    const auto load = simCall<int (*)(const char *)>("SimLoad");
    const auto add = simCall<int (*)(int16_t, int16_t, const unsigned char *)>("SimAddDevice");
    load("port COM1 open\n");
    g.vacia();
    const std::int16_t mixed[] = {STT, STT, HRT, AVI, DET, CTR};
    std::vector<Serial> ctr;
    for (int k = 1; k <= count; ++k) {
        std::int16_t tipo = mixed[k % 6];
        if (relays > 0)
            tipo = k <= relays ? CTR : (k % 2 ? STT : HRT);
        if (!relayDevices && tipo == CTR)
            tipo = STT;
        Dispositivo d;
        d.nombre = QStringLiteral("Disp %1").arg(k);
        d.sn = serialOf(k, tipo);
        d.tipo = tipo;
        d.periodo = 1;
        d.alarma = {18, 22, 0, 0};
        for (int c = 0; c < 4; ++c) {
            d.ajuste[c] = tipo == AVI ? 1 : 0;
            d.ganancia[c] = tipo == AVI ? 1.0f : 0.0f;
        }
        if (tipo == CTR)
            ctr.push_back(d.sn);
        else if (relays > 0 && !ctr.empty()) {
            d.snrele[0] = ctr[k % ctr.size()];
            d.salrele[0] = static_cast<std::int16_t>(1 + k % 2);
        }
        add(0, tipo, d.sn.data());
        g.dispositivos.push_back(d);
    }
    g.estados.assign(g.dispositivos.size(), EstadoDisp{});
    g.cogereldet();
}

// A table of `count` sensors, every one read, for a capture started in `folder`.
void readyToCapture(General &g, int count, const QString &folder)
{
    fillTable(g, count, 0);
    for (auto &e : g.estados) {
        e.valido = true;
        e.lectura = {21.5f, 45.0f, 1234.5f, 0.25f};
    }
    g.dispositivos[0].nombre = QStringLiteral("00");
    g.modificado = false;
    g.fichero.clear();
    g.appFolder = folder;
    g.nombrepuerto = QStringLiteral("COM1");
}

struct Window {
    Window()
    {
        g.appFolder = folder.path();
        QString error;
        io = SondaIO::load(QCoreApplication::applicationDirPath(), &error);
        if (!io) {
            std::fprintf(stderr, "%s\n", qPrintable(error));
            std::exit(1);
        }
        main = std::make_unique<principal>(
            g, io.get(), principal::Platform{clock, messages, explorer, [](int) {}, nullptr});
        main->Form_Load(QStringLiteral("/1"));
        main->show();
    }
    double tick(int count, int relays = 0)
    {
        fillTable(g, count, relays);
        main->listado();
        main->monitor().reinicia();
        // The library was re-loaded: connect again.
        io->IniciarCNX(0, QStringLiteral("COM1"), g.mensaje);
        QCoreApplication::processEvents();
        QElapsedTimer t;
        t.start();
        main->Timer1_Timer();
        return t.nsecsElapsed() / 1e6;
    }
    QTemporaryDir folder;
    General g;
    std::unique_ptr<SondaIO> io;
    SystemClock clock;
    Silent messages;
    NoExplorer explorer;
    std::unique_ptr<principal> main;
};

// The list as a box of widget items, rebuilt whole before every read. At
// large sizes only the first `sample` reads are timed and the whole tick is
// extrapolated from them (it would take minutes).
double naiveTick(Window &w, int count, int sample, int *timedReads)
{
    fillTable(w.g, count, 0);
    w.io->IniciarCNX(0, QStringLiteral("COM1"), w.g.mensaje);
    QListWidget list;
    list.show();
    NoView view;
    Monitor monitor(w.g, w.io.get(), w.clock, view);
    int reads = 0;
    int done = 0;
    QElapsedTimer t;
    t.start();
    for (int i = 1; i <= w.g.n(); ++i) {
        if (w.g.dispositivos[i].tipo == CTR)
            continue;
        ++reads;
        if (done >= sample)
            continue;
        QStringList lines;
        for (int k = 1; k <= w.g.n(); ++k) {
            Serial sn = w.g.dispositivos[k].sn;
            lines << deviceLine(w.g, k, w.io->ConvertSerialNum(sn), true);
        }
        list.clear();
        list.addItems(lines);
        QCoreApplication::processEvents();
        monitor.leedisp(i);
        QCoreApplication::processEvents();
        ++done;
    }
    *timedReads = done;
    return t.nsecsElapsed() / 1e6 * reads / done;
}

// `relays` > 0: that many relay devices first, the rest sensors linked to them.
double longestGap(Window &w, int count, int latency, bool relayDevices, int relays = 0)
{
    fillTable(w.g, count, relays, relayDevices);
    w.main->listado();
    w.main->monitor().reinicia();
    w.io->IniciarCNX(0, QStringLiteral("COM1"), w.g.mensaje);
    simCall<void (*)(int)>("SimSetLatency")(latency);
    QElapsedTimer clock;
    clock.start();
    qint64 last = 0;
    qint64 worst = 0;
    // A window event every millisecond: the gap between two of them is how
    // long the window could not answer.
    QTimer probe;
    probe.setInterval(1);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        if (last)
            worst = std::max(worst, now - last);
        last = now;
    });
    probe.start();
    QCoreApplication::processEvents();
    last = 0;
    w.main->Timer1_Timer();
    probe.stop();
    simCall<void (*)(int)>("SimSetLatency")(0);
    return worst / 1e6;
}

long peakKb()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

}

int main(int argc, char *argv[])
{
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    Window w;

    std::printf("Tick with every device due (window and list included), zero latency\n");
    double t1000 = 0;
    double t8000 = 0;
    double t32767 = 0;
    for (int count : {1000, 8000, 32767}) {
        const double ms = w.tick(count);
        std::printf("  %6d devices: %8.1f ms\n", count, ms);
        if (count == 1000)
            t1000 = ms;
        if (count == 8000)
            t8000 = ms;
        if (count == 32767)
            t32767 = ms;
    }
    std::printf("  ratio 32767 / 1000: %.1f (linear growth would be 32.8)\n", t32767 / t1000);
    std::printf("Peak resident memory after the 32767-device tick: %.1f MB\n", peakKb() / 1024.0);

    std::printf("Same tick with a list of widget items rebuilt before every read\n");
    int timed1000 = 0;
    int timed8000 = 0;
    const double n1000 = naiveTick(w, 1000, 1000, &timed1000);
    const double n8000 = naiveTick(w, 8000, 300, &timed8000);
    std::printf("    1000 devices: %8.1f ms (%d reads timed)\n    8000 devices: %8.1f ms "
                "(extrapolated from %d reads)\n"
                "  ratio 8000 / 1000: %.1f (quadratic growth would be 64)\n",
                n1000, timed1000, n8000, timed8000, n8000 / n1000);
    std::printf("  the model-based list at 1000 and 8000 devices: %.0fx and %.0fx faster\n",
                n1000 / t1000, n8000 / t8000);

    std::printf(
        "Longest pause between two window events during a tick at 20 ms per call (goal 50 ms)\n");
    std::printf("  60 devices, no relay devices: %.1f ms\n", longestGap(w, 60, 20, false));
    // Between relay writes the window paints and its timers run; the user's
    // input waits for the end of the writes.
    std::printf("  60 devices, 10 of them relay devices: %.1f ms\n", longestGap(w, 60, 20, true));
    std::printf("  110 devices, 100 of them relay devices: %.1f ms\n",
                longestGap(w, 110, 20, true, 100));

    fillTable(w.g, 32767, 0);
    w.g.modificado = true;
    // Out of order on disk, so the load also sorts.
    std::reverse(w.g.dispositivos.begin() + 1, w.g.dispositivos.end());
    const double save = timed([&] { configfile::write(w.g.configPath(), w.g.dispositivos); });
    const double load = timed([&] {
        w.g.modificado = false;
        w.main->cargar_Click();
    });
    std::printf("Configuration of 32767 devices: save %.1f ms, load %.1f ms (sort, list and index "
                "lists included)\n",
                save, load);

    w.tick(32767, 4000);
    // The window paints what the tick left once, between two of the writes;
    // the best of three runs is the rules and writes themselves.
    double rules = 1e9;
    for (int run = 0; run < 3; ++run)
        rules = std::min(rules, timed([&] { w.main->monitor().alarmas(); }));
    std::printf("Relay rules and relay writes, 32767 devices of which 4000 relays: %.1f ms\n",
                rules);

    std::printf("Capture: header, then data lines appended and synced to disk\n");
    for (int count : {100, 8000, 32767}) {
        QTemporaryDir day;
        readyToCapture(w.g, count, day.path());
        w.g.carpeta = day.path() + QStringLiteral("/1/");
        Captura captura(w.g, w.clock);
        const double start = timed([&] { captura.start(w.messages, [] { return true; }); });
        const int lines = 20;
        const double total = timed([&] {
            for (int k = 0; k < lines; ++k)
                captura.escribe(
                    QStringLiteral("07-12-2026 10:00:%1").arg(k, 2, 10, QLatin1Char('0')));
        });
        std::printf("  %6d devices: start with header %6.1f ms, one data line %6.1f ms\n", count,
                    start, total / lines);
        captura.stop();
    }
    std::printf("Capture: an hour of lines that waited for the disk, written by the ticks that "
                "follow (goal: no tick over 100 ms)\n");
    for (int count : {100, 1000}) {
        QTemporaryDir day;
        readyToCapture(w.g, count, day.path());
        const QString folder = day.path() + QStringLiteral("/1/");
        w.g.carpeta = folder;
        Captura captura(w.g, w.clock);
        captura.start(w.messages, [] { return true; });
        // A capture folder that cannot be reached: a file stands where its
        // parent should be, and the lines wait.
        QFile(day.path() + QStringLiteral("/no")).open(QIODevice::WriteOnly);
        w.g.carpeta = day.path() + QStringLiteral("/no/1/");
        for (int k = 0; k < 3600; ++k)
            captura.escribe(
                QTime(10, 0).addSecs(k).toString(QStringLiteral("'07-12-2026 'HH:mm:ss")));
        w.g.carpeta = folder;
        const qsizetype waiting = captura.pendientes();
        // The capture's ticks go on, each writing what it has time for.
        double longest = 0, total = 0;
        int ticks = 0;
        while (captura.pendientes() > 0 && ticks < 100000) {
            const double step = timed([&] {
                captura.escribe(
                    QTime(11, 0).addSecs(ticks).toString(QStringLiteral("'07-12-2026 'HH:mm:ss")));
            });
            longest = std::max(longest, step);
            total += step;
            ++ticks;
        }
        std::printf("  %6d devices, %lld lines: longest tick %6.1f ms, %d ticks, %6.1f ms in all\n",
                    count, static_cast<long long>(waiting), longest, ticks, total);
        captura.stop();
    }
    std::printf("Peak resident memory: %.1f MB\n", peakKb() / 1024.0);
    return 0;
}
