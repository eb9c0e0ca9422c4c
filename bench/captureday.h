// A simulated day of captures for the benchmarks: one line a second with 40
// columns, written by the program's own header and line texts, and the
// process's memory figures.
#pragma once

#include "monitor/capture.h"
#include "registry/cp1252.h"
#include "registry/general.h"

#include <QDate>
#include <QDateTime>
#include <QDir>
#include <QFile>

#include <array>
#include <functional>
#include <random>
#include <string>
#include <sys/resource.h>

// The simulated day.
inline const QDate day(2026, 12, 7);

inline long peakKb()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

inline long residentKb()
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return 0;
}

inline void add(General &g, std::int16_t tipo, const QString &name,
                std::array<const char *, 4> units = {"", "", "", ""})
{
    g.dispactual = Dispositivo{};
    g.dispactual.tipo = tipo;
    g.dispactual.nombre = name;
    for (int k = 0; k < 4; ++k)
        g.dispactual.magnitud[k] = QString::fromLatin1(units[static_cast<std::size_t>(k)]);
    const int i = g.nuevo();
    g.estados[static_cast<std::size_t>(i)].valido = true;
}

// A day of lines written as the capture writes them; `step` sets the readings
// of second `s` into g.estados before each line.
inline QString writeDay(const QString &folder, General &g, const std::function<void(int)> &step)
{
    const QString path = QDir(folder).filePath(day.toString(QStringLiteral("dd-MM-yyyy")) +
                                               QStringLiteral("-00.log"));
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return {};
    f.write(QByteArray::fromStdString(cp1252::encode(cabecera(g) + QStringLiteral("\r\n"))));
    std::string block;
    for (int s = 0; s < 86400; ++s) {
        step(s);
        const QString hora =
            QDateTime(day, QTime(0, 0).addSecs(s)).toString(QStringLiteral("dd-MM-yyyy HH:mm:ss"));
        block += cp1252::encode(linea(g, hora) + QStringLiteral("\r\n"));
        if (block.size() > (1 << 20)) {
            f.write(block.data(), static_cast<qint64>(block.size()));
            block.clear();
        }
    }
    f.write(block.data(), static_cast<qint64>(block.size()));
    return path;
}

// 10 temperature sensors, 5 humidity sensors (2 columns), 3 converters (4)
// and 4 detectors (2): 40 columns.
inline void fortyColumns(General &g)
{
    for (int k = 1; k <= 10; ++k)
        add(g, STT, QStringLiteral("Sonda %1").arg(k));
    for (int k = 1; k <= 5; ++k)
        add(g, HRT, QStringLiteral("Higro %1").arg(k));
    for (int k = 1; k <= 3; ++k)
        add(g, AVI, QStringLiteral("Conv %1").arg(k), {"bar", "l/min", "V", ""});
    for (int k = 1; k <= 4; ++k)
        add(g, DET, QStringLiteral("Puerta %1").arg(k));
}

// One second of drifting readings, a failed read now and then.
struct Drift {
    std::mt19937 rng{1};
    std::normal_distribution<float> noise{0, 0.05f};
    void step(General &g)
    {
        for (int i = 1; i <= g.n(); ++i) {
            EstadoDisp &e = g.estados[static_cast<std::size_t>(i)];
            e.valido = rng() % 500 != 0;
            for (float &v : e.lectura)
                v += noise(rng);
            for (auto &w : e.crudo)
                if (rng() % 600 == 0)
                    w = static_cast<std::int16_t>(!w);
        }
    }
};

inline QString benchDay(const QString &folder)
{
    General g;
    fortyColumns(g);
    Drift drift;
    return writeDay(folder, g, [&](int) { drift.step(g); });
}
