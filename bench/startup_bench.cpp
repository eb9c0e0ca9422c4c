// Start-up of the built program as a user starts it: from its launch to its
// main window mapped on the X display (the splash's second included), with
// a configuration of 1 000 and of 32 767 devices on the simulated network at
// zero latency. Needs an X display (xvfb-run -a build-test/bin/startup_bench).
// An argument names another build's program to time instead of the one
// beside this benchmark; the simulator is taken from that program's folder.
#include "netaccess/binding.h"
#include "registry/configfile.h"
#include "registry/general.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/select.h>
#include <sys/wait.h>
#include <vector>

extern char **environ;

namespace {

using Clock = std::chrono::steady_clock;

// A table of every type, sorted as a save writes it, in config1.ini, and
// the network that answers for every device of it in sondanet.txt.
bool prepare(const QString &folder, int count)
{
    General g;
    g.appFolder = folder;
    QByteArray network = "port COM1 open\n";
    const std::int16_t mixed[] = {STT, STT, HRT, AVI, DET, CTR};
    for (int k = 1; k <= count; ++k) {
        Dispositivo &d = g.dispactual;
        d = Dispositivo{};
        d.tipo = mixed[k % 6];
        d.nombre = QStringLiteral("Disp %1").arg(k);
        d.periodo = 1;
        d.sn = {static_cast<std::uint8_t>(0x10 * d.tipo),
                0,
                0,
                0,
                0,
                static_cast<std::uint8_t>(k >> 16),
                static_cast<std::uint8_t>(k >> 8),
                static_cast<std::uint8_t>(k)};
        if (d.tipo == AVI)
            d.ganancia = {1, 1, 1, 1};
        g.nuevo();
        network += "device " + nomtipo(d.tipo).toLatin1() + ' ' + seriehex(d.sn).toLatin1() + '\n';
    }
    g.ordena();
    QFile description(QDir(folder).filePath(QStringLiteral("sondanet.txt")));
    return configfile::write(g.configPath(), g.dispositivos).ok &&
        description.open(QIODevice::WriteOnly) && description.write(network) == network.size();
}

// The main window's caption: the splash has none of its own.
bool isMainWindow(Display *display, Window window)
{
    for (const Atom property : {XInternAtom(display, "_NET_WM_NAME", False), Atom(XA_WM_NAME)}) {
        Atom type = 0;
        int format = 0;
        unsigned long items = 0, after = 0;
        unsigned char *data = nullptr;
        if (XGetWindowProperty(display, window, property, 0, 16, False, AnyPropertyType, &type,
                               &format, &items, &after, &data) != Success)
            continue;
        const bool main =
            data && format == 8 && items >= 10 && std::memcmp(data, "Climalog [", 10) == 0;
        if (data)
            XFree(data);
        if (main)
            return true;
    }
    return false;
}

// Seconds from the launch to the main window mapped; negative when it never
// came (the program ended, or a minute went by).
double launch(Display *display, const QString &program)
{
    XSync(display, True); // events of earlier runs are dropped
    const QByteArray path = QFile::encodeName(program);
    char port[] = "/1";
    char *argv[] = {const_cast<char *>(path.constData()), port, nullptr};
    // What the program prints (the toolkit's notes) is not part of the figures.
    posix_spawn_file_actions_t quiet;
    posix_spawn_file_actions_init(&quiet);
    posix_spawn_file_actions_addopen(&quiet, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const Clock::time_point start = Clock::now();
    const int spawned = posix_spawn(&pid, path.constData(), &quiet, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&quiet);
    if (spawned != 0)
        return -1;
    double seconds = -1;
    while (seconds < 0 && Clock::now() - start < std::chrono::minutes(1) &&
           waitpid(pid, nullptr, WNOHANG) == 0) {
        while (seconds < 0 && XPending(display)) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type == MapNotify && isMainWindow(display, event.xmap.window))
                seconds = std::chrono::duration<double>(Clock::now() - start).count();
        }
        fd_set ready;
        FD_ZERO(&ready);
        FD_SET(ConnectionNumber(display), &ready);
        timeval wait{0, 20000};
        if (seconds < 0)
            select(ConnectionNumber(display) + 1, &ready, nullptr, nullptr, &wait);
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return seconds;
}

}

int main(int argc, char *argv[])
{
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    QCoreApplication app(argc, argv);
    const QString program = argc > 1
        ? QString::fromLocal8Bit(argv[1])
        : QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("Climalog"));
    Display *display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "No X display: run it under xvfb-run -a.\n");
        return 1;
    }
    XSelectInput(display, DefaultRootWindow(display), SubstructureNotifyMask);
    setenv("QT_QPA_PLATFORM", "xcb", 1);

    constexpr int runs = 5;
    std::printf("Start-up of %s, launch to main window shown (splash second included), %d runs\n",
                qPrintable(program), runs);
    for (const int count : {1000, 32767}) {
        QTemporaryDir folder;
        const QString copy = QDir(folder.path()).filePath(QStringLiteral("Climalog"));
        const QString library = QFileInfo(program).dir().filePath(SondaIO::fileName());
        if (!QFile::copy(program, copy) ||
            !QFile::copy(library, QDir(folder.path()).filePath(SondaIO::fileName())) ||
            !prepare(folder.path(), count)) {
            std::fprintf(stderr, "Cannot set up the program's folder %s\n",
                         qPrintable(folder.path()));
            return 1;
        }
        std::vector<double> times;
        for (int run = 0; run < runs; ++run)
            times.push_back(launch(display, copy));
        std::sort(times.begin(), times.end());
        if (times.front() < 0) {
            std::printf("  %6d devices: the main window did not show\n", count);
            continue;
        }
        std::printf("  %6d devices: median %.2f s (fastest %.2f s, slowest %.2f s)%s\n", count,
                    times[runs / 2], times.front(), times.back(),
                    count == 32767 ? "; goal under 1.5 s" : "");
    }
    XCloseDisplay(display);
    return 0;
}
