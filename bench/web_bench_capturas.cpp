// Capture files for the web benchmark, written with the program's own header
// and line texts: DAYS days ending today (today's lines stop at the present),
// a line every STEP seconds, of 40 columns (the benchmarks' usual mix of
// sensors, converters and detectors) or of one temperature column.
// Usage: web_bench_capturas FOLDER DAYS STEP 40|1
#include "captureday.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc != 5) {
        std::fprintf(stderr, "usage: web_bench_capturas FOLDER DAYS STEP 40|1\n");
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]) + QStringLiteral("/1");
    const int days = std::atoi(argv[2]), step = std::max(1, std::atoi(argv[3]));
    const bool wide = std::atoi(argv[4]) == 40;
    QDir().mkpath(folder);

    General g;
    if (wide)
        fortyColumns(g);
    else
        add(g, STT, QStringLiteral("Sala"));
    for (int i = 1; i <= g.n(); ++i)
        g.estados[static_cast<std::size_t>(i)].lectura = {20, 50, 2, 1};
    Drift drift;
    const QDateTime now = QDateTime::currentDateTime();
    for (int d = days - 1; d >= 0; --d) {
        const QDate date = now.date().addDays(-d);
        QFile f(QDir(folder).filePath(date.toString(QStringLiteral("dd-MM-yyyy")) +
                                      QStringLiteral("-00.log")));
        if (!f.open(QIODevice::WriteOnly))
            return 1;
        f.write(QByteArray::fromStdString(cp1252::encode(cabecera(g) + QStringLiteral("\r\n"))));
        std::string block;
        for (int s = 0; s < 86400; s += step) {
            const QDateTime t(date, QTime(0, 0).addSecs(s));
            if (t > now)
                break;
            drift.step(g);
            block += cp1252::encode(linea(g, t.toString(QStringLiteral("dd-MM-yyyy HH:mm:ss"))) +
                                    QStringLiteral("\r\n"));
            if (block.size() > (1 << 20)) {
                f.write(block.data(), static_cast<qint64>(block.size()));
                block.clear();
            }
        }
        f.write(block.data(), static_cast<qint64>(block.size()));
    }
    return 0;
}
