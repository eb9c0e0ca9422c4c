// Figures of the capture viewer on a day of captures at one line a second
// with 40 columns, written by the program's own capture lines in a temporary
// folder: reading the file, a hostile first line refused, opening and
// plotting it (and how long the window's thread is held meanwhile), redraws
// while zooming and panning, a live line followed, peak memory.
//   viewer_bench                  prints the figures
//   viewer_bench --ancho [N]       the capture of 20 000 (or N) columns only
//   viewer_bench --imagen FILE    saves a picture of the window on a
//                                 simulated day (the README's screenshot)
#include "captureday.h"
#include "timing.h"
#include "monitor/capture.h"
#include "registry/cp1252.h"
#include "registry/general.h"
#include "viewer/capturereader.h"
#include "viewer/graficas.h"

#include <qcustomplot.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <sys/resource.h>

namespace {

// The README's day: the demo network's devices through a winter day.
QString demoDay(const QString &folder)
{
    General g;
    add(g, STT, QStringLiteral("Sala"));
    add(g, STT, QStringLiteral("Pasillo"));
    add(g, HRT, QStringLiteral("Invernadero"));
    add(g, AVI, QStringLiteral("Bomba"), {"bar", "bar", "l/min", "l/min"});
    add(g, DET, QStringLiteral("Puerta"));
    add(g, DET, QStringLiteral("Ventana"));
    add(g, CTR, QStringLiteral("Calefaccion"));
    std::mt19937 rng(7);
    std::normal_distribution<float> noise(0, 0.03f);
    float sala = 17, pasillo = 15;
    bool heating = false;
    return writeDay(folder, g, [&](int s) {
        const double hour = s / 3600.0;
        const double sun = std::max(0.0, std::sin((hour - 7.5) / 10 * M_PI));
        const bool day = hour >= 7 && hour < 22;
        // A thermostat: the relay heats the room between 19.5 and 21 by day.
        if (day && sala < 19.5f)
            heating = true;
        if (!day || sala > 21)
            heating = false;
        sala += (heating ? 0.0012f : 0) - (sala - (12 + 3 * static_cast<float>(sun))) * 0.00008f +
            noise(rng) * 0.05f;
        pasillo += (sala - 2 - pasillo) * 0.0002f + noise(rng) * 0.05f;
        auto &e = g.estados;
        e[1].lectura[0] = sala + noise(rng);
        e[2].lectura[0] = pasillo + noise(rng);
        e[3].lectura[0] = 9 + 11 * static_cast<float>(sun) + noise(rng);
        e[3].lectura[1] = 88 - 30 * static_cast<float>(sun) + noise(rng) * 10;
        const bool pump = (s / 60) % 45 < 12 && day;
        e[4].lectura = {pump ? 2.4f + noise(rng) : 0.1f + noise(rng),
                        pump ? 1.9f + noise(rng) : 0.05f, pump ? 38 + noise(rng) * 20 : 0,
                        pump ? 12 + noise(rng) * 10 : 0};
        if (rng() % 1800 == 0 && day)
            e[5].crudo[0] = 0; // opened (word 0 is an active input)
        else if (rng() % 90 == 0)
            e[5].crudo[0] = 1;
        e[6].crudo[0] = hour > 10 && hour < 13.5 ? 0 : 1;
        e[7].crudo[0] = heating ? 0 : 1;
        for (int i = 5; i <= 7; ++i)
            e[static_cast<std::size_t>(i)].crudo[1] = 1;
        // The humidity sensor misses a few reads after noon.
        e[3].valido = !(hour > 14 && hour < 14.1);
    });
}

// A timer as the monitor's tick, in the same thread: the longest wait
// between two of its turns is how long the window held the thread.
struct HoldProbe {
    HoldProbe()
    {
        tick.setInterval(5);
        QObject::connect(&tick, &QTimer::timeout, [this] {
            const double now = clock.nsecsElapsed() / 1e6;
            held = std::max(held, now - lastTurn);
            lastTurn = now;
        });
        tick.start();
        clock.start();
    }
    double stop()
    {
        tick.stop();
        return held;
    }
    QElapsedTimer clock;
    QTimer tick;
    double lastTurn = 0, held = 0;
};

// A valid capture file of 20 000 sensor columns (or `columns`), about 36 MB
// (600 lines), opened by the window: how long its thread is held at a time,
// how long the opening takes, how much memory it keeps and peaks at, and
// what the series and the readers keep of it. Then its last series ticked:
// read in the thread and drawn.
void wideFile(int columns = 20000)
{
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("07-12-2026-00.log"));
    {
        QFile f(path);
        f.open(QIODevice::WriteOnly);
        QByteArray header = "Hora";
        for (int c = 0; c < columns; ++c)
            header += "  S" + QByteArray::number(c) +
                " (\xBA"
                "C)";
        f.write(header + "\r\n");
        for (int s = 0; s < 600; ++s)
            f.write(QDateTime(day, QTime(10, 0).addSecs(s))
                        .toString(QStringLiteral("dd-MM-yyyy HH:mm:ss"))
                        .toLatin1() +
                    QByteArray("  2").repeated(columns) + "\r\n");
    }
    const long before = residentKb(), peakBefore = peakKb();
    HoldProbe probe;
    std::unique_ptr<graficas> w;
    const double opening = timed([&] {
        w = std::make_unique<graficas>(folder.path(), [] { return QString(); });
        w->resize(1280, 800);
        w->show();
        while (w->loading())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        QCoreApplication::processEvents();
        w->plot->replot(QCustomPlot::rpImmediateRefresh);
    });
    QCoreApplication::processEvents();
    const double held = probe.stop();
    std::size_t rows = 0; // left in the reader
    for (const ColumnSet &s : w->reader(QFileInfo(path).fileName())->sets())
        rows += s.times.size();
    std::printf("A capture of %d columns, %.1f MB, opened: %.0f ms; the window's thread held at "
                "most %.0f ms at a time "
                "(goal 100 ms); resident %+.0f MB with it open, peak %+.0f MB\n"
                "  kept: %zu readings of %zu series (%.1f MB), %zu rows in the reader\n",
                columns, QFileInfo(path).size() / 1048576.0, opening, held,
                (residentKb() - before) / 1024.0, (peakKb() - peakBefore) / 1024.0,
                w->series().points(), w->series().all().size(), w->series().bytes() / 1048576.0,
                rows);
    HoldProbe again;
    const double ticking = timed([&] {
        const int last = w->leyenda->model()->rowCount() - 1;
        w->leyenda->model()->setData(w->leyenda->model()->index(last, 0), Qt::Checked,
                                     Qt::CheckStateRole);
        while (w->loading())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        QCoreApplication::processEvents();
        w->plot->replot(QCustomPlot::rpImmediateRefresh);
    });
    std::printf(
        "  the last series ticked, read and drawn: %.0f ms, the thread held at most %.0f ms; "
        "%zu readings kept, resident %+.0f MB\n",
        ticking, again.stop(), w->series().points(), (residentKb() - before) / 1024.0);
}

int picture(const QString &out)
{
    QTemporaryDir folder;
    const QString path = demoDay(folder.path());
    graficas w(folder.path(), [&] { return path; });
    w.resize(1100, 760);
    w.show();
    while (w.loading())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    QCoreApplication::processEvents();
    w.leyenda->setColumnWidth(1, 70);
    const double t = static_cast<double>(QDateTime(day, QTime(12, 30)).toSecsSinceEpoch());
    w.resetRange();
    w.hover(t);
    w.plot->replot();
    QCoreApplication::processEvents();
    if (!w.grab().save(out)) {
        std::fprintf(stderr, "No se puede escribir %s\n", qPrintable(out));
        return 1;
    }
    std::printf("%s\n", qPrintable(out));
    return 0;
}

void summary(const char *what, std::vector<double> ms, double goal)
{
    std::sort(ms.begin(), ms.end());
    std::printf(
        "  %-44s median %6.1f ms, 90%% %6.1f ms, max %6.1f ms (%zu redraws, goal < %.0f ms)\n",
        what, ms[ms.size() / 2], ms[ms.size() * 9 / 10], ms.back(), ms.size(), goal);
}

} // namespace

int main(int argc, char *argv[])
{
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc == 3 && QByteArray(argv[1]) == "--imagen")
        return picture(QString::fromLocal8Bit(argv[2]));
    if (argc >= 2 && QByteArray(argv[1]) == "--ancho")
        return wideFile(argc == 3 ? std::atoi(argv[2]) : 20000), 0;

    {
        // A first line of 4 MiB that only looks like columns.
        CaptureReader r;
        const QByteArray hostile =
            "Hora  " + QByteArray("x - 1  x - 2  ").repeated((4 << 20) / 14) + "\r\n";
        const long peakBefore = peakKb();
        const double ms = timed([&] { r.feed(hostile); });
        std::printf("A hostile first line of 4 MiB (\"x - 1  x - 2  \"...) refused in %.0f ms, "
                    "peak resident %+.0f MB\n",
                    ms, (peakKb() - peakBefore) / 1024.0);
    }

    QTemporaryDir folder;
    QString path;
    const double writing = timed([&] { path = benchDay(folder.path()); });
    const qint64 size = QFileInfo(path).size();
    std::printf("A day at one line a second, 40 columns: %.1f MB, written in %.0f ms\n",
                size / 1048576.0, writing);

    {
        CaptureReader r(path);
        const double ms = timed([&] { r.follow(); });
        std::printf("Reading the file alone: %.0f ms (%lld lines, %.0f MB/s)\n", ms,
                    static_cast<long long>(r.rows()), size / 1048576.0 / (ms / 1000));
    }

    const long before = residentKb();
    std::unique_ptr<graficas> w;
    HoldProbe probe;
    const double opening = timed([&] {
        w = std::make_unique<graficas>(folder.path(), [&] { return path; });
        w->resize(1280, 800);
        w->show();
        while (w->loading())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        w->plot->replot(QCustomPlot::rpImmediateRefresh);
    });
    QCoreApplication::processEvents();
    const double held = probe.stop();
    std::printf("Opening the window on it, parsed and plotted: %.0f ms (goal < 1000 ms), %zu "
                "points in %zu series, plot %dx%d px\n",
                opening, w->series().points(), w->series().all().size(), w->plot->width(),
                w->plot->height());
    std::printf("  the window's thread (the monitor's tick's) held at most %.0f ms at a time while "
                "it opened\n",
                held);

    // A redraw as the wheel or a drag makes it: range, reduction, figures,
    // then painting the plot at once.
    std::vector<double> preparing, painting;
    const auto redraw = [&](double from, double to) {
        const double prepared = timed([&] { w->setRange(from, to); });
        const double painted = timed([&] { w->plot->replot(QCustomPlot::rpImmediateRefresh); });
        preparing.push_back(prepared);
        painting.push_back(painted);
        QCoreApplication::processEvents();
        return prepared + painted;
    };
    const double first = w->series().first(), last = w->series().last();
    std::vector<double> zoomIn, zoomOut, pan, panWide;
    // Wheel steps in from the whole day to a minute around 14:00, and back out.
    const double centre = first + 14 * 3600;
    double a = first, b = last;
    while (b - a > 60) {
        a = centre - (centre - a) * 0.8;
        b = centre + (b - centre) * 0.8;
        zoomIn.push_back(redraw(a, b));
    }
    while (b - a < last - first) {
        a = std::max(first, centre - (centre - a) / 0.8);
        b = std::min(last, centre + (b - centre) / 0.8);
        zoomOut.push_back(redraw(a, b));
    }
    // Drags: an hour in view moved along in 30 steps, then 12 hours.
    for (int k = 0; k < 30; ++k)
        pan.push_back(redraw(first + 6 * 3600 + k * 120, first + 7 * 3600 + k * 120));
    for (int k = 0; k < 30; ++k)
        panWide.push_back(redraw(first + k * 1200, first + 12 * 3600 + k * 1200));
    std::printf(
        "Redraws (range, reduction to a few points per pixel column, figures, painting):\n");
    summary("zooming in, whole day to a minute", zoomIn, 30);
    summary("zooming out, back to the whole day", zoomOut, 30);
    summary("panning an hour in view", pan, 30);
    summary("panning 12 hours in view", panWide, 30);
    std::vector<double> whole;
    preparing.clear();
    painting.clear();
    for (int k = 0; k < 10; ++k)
        whole.push_back(redraw(first, last - k));
    summary("whole day in view", whole, 30);
    summary("  of which reduction, figures, table", preparing, 30);
    summary("  of which painting", painting, 30);

    // Lines appended one at a time, as the capture does every second, each
    // followed and shown as the window's timer does.
    const CaptureReader *reader = w->reader(QFileInfo(path).fileName());
    const qint64 readBefore = reader->bytesRead();
    std::vector<double> following;
    for (int s = 0; s < 10; ++s) {
        QFile f(path);
        f.open(QIODevice::Append);
        f.write(QDateTime(day.addDays(1), QTime(0, 0, s))
                    .toString(QStringLiteral("dd-MM-yyyy HH:mm:ss"))
                    .toLatin1() +
                QByteArray("  2").repeated(40) + "\r\n");
        f.close();
        following.push_back(timed([&] {
            w->followFiles();
            w->plot->replot(QCustomPlot::rpImmediateRefresh);
        }));
    }
    summary("a new line followed and shown (whole day)", following, 750);
    std::printf("  bytes read for 10 lines: %lld (the lines' own size: %lld)\n",
                static_cast<long long>(reader->bytesRead() - readBefore),
                static_cast<long long>(10 * (19 + 3 * 40 + 2)));

    std::printf("Memory: %.0f MB resident more with the day open; peak resident %.0f MB for the "
                "whole process (goal < 200 MB)\n",
                (residentKb() - before) / 1024.0, peakKb() / 1024.0);
    w.reset();
    wideFile();
    return 0;
}
