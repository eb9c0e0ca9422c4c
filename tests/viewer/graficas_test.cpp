// The window "Climalog - Gráficas" offscreen on a capture folder: the files
// listed newest first, the file being captured opened and followed, the
// plots of every kind, the legend with the figures of the range in view, the
// cursor, export.
#include "viewer/graficas.h"

#include "support/windows.h"

#include <qcustomplot.h>

#include <QDir>
#include <QImage>
#include <QLabel>
#include <QListWidget>
#include <QTableWidget>

namespace {

QString u(const char *text) { return QString::fromUtf8(text); }

// Lines a second apart from hour:00:00 + `first` seconds: Sala climbs from
// 20 by .5, the others hold still, Puerta opens on odd seconds.
QByteArray lines(const char *day, int hour, int count, int first = 0)
{
    QByteArray out = first ? "" : "Hora  Sala (\xBA" "C)  Inv (%)  Bomba - a (bar)  Bomba - b ()  Puerta - 1\r\n";
    for (int k = first; k < first + count; ++k)
        out += QStringLiteral("%1 %2  %3  55  ,5  ERR  %4\r\n").arg(QLatin1String(day), QTime(hour, 0).addSecs(k).toString(QStringLiteral("HH:mm:ss")),
                                                                   QString::number(20 + k * 0.5).replace(u'.', u','), QString::number(k % 2)).toLatin1();
    return out;
}

double at(int day, int h, int m, int s = 0) { return static_cast<double>(QDateTime(QDate(2026, 12, day), QTime(h, m, s)).toSecsSinceEpoch()); }

} // namespace

TEST(Graficas, FollowsTheFileBeingCapturedWithTheFiguresOfTheRangeInView)
{
    application();
    TempFolder t;
    const QString d6 = u("06-12-2026-00.log"), d7 = u("07-12-2026-00.log"), d8 = u("08-12-2026-00.log"), n30 = u("30-11-2026-00.log");
    for (const auto &[name, bytes] : {std::pair(d6, lines("06-12-2026", 10, 5)), {n30, lines("30-11-2026", 9, 3)}, {d7, lines("07-12-2026", 23, 600)},
                                      {u("notas.log"), QByteArray("x")}, {u("07-12-2026.log"), QByteArray("x")}})
        t.write(name, bytes);
    QString current = t.file(d7);
    graficas w(t.path(), [&] { return current; });
    const auto list = [&] {
        QStringList out;
        for (int i = 0; i < w.ficheros->count(); ++i)
            out << w.ficheros->item(i)->text() + (w.ficheros->item(i)->isSelected() ? u("*") : QString());
        return out.join(u(", "));
    };
    EXPECT_EQ(w.windowTitle(), u("Climalog - Gráficas"));
    EXPECT_EQ(list(), u("07-12-2026-00.log (en captura)*, 06-12-2026-00.log, 30-11-2026-00.log")) << "newest first, other names left out";
    EXPECT_EQ(w.estado->text(), u("600 lecturas en 1 fichero."));
    QStringList axes;
    for (int i = 0; i < w.plot->axisRectCount(); ++i)
        axes << w.plot->axisRect(i)->axis(QCPAxis::atLeft)->label();
    EXPECT_EQ(axes.join(u(", ")), u("Temperatura (ºC), Humedad (%), Canales (bar), Canales (sin unidad), Entradas"));
    for (int s = 0; s < 5; ++s)
        EXPECT_TRUE(w.seriesShown(s) && w.plottedPoints(s) > 0 && w.plottedPoints(s) <= 5 * std::max(64, w.plot->width()) + 2)
            << "few points per pixel column however long the day";

    // The cursor, minimum, mean and maximum of Sala (row 0) and Bomba - b (only ERR).
    const auto figures = [&](int row) {
        QStringList out;
        for (int column = 0; column < 5; ++column)
            out << w.leyenda->item(row, column)->text();
        return out.join(u' ').toStdString();
    };
    const std::pair<std::function<void()>, const char *> steps[] = {
        {[] {}, "Sala (ºC)  20 169.75 319.5"},
        {[&] { w.setRange(at(7, 23, 1), at(7, 23, 2)); }, "Sala (ºC)  50 65 80"},
        {[&] { w.zoom(0.5, at(7, 23, 1, 30)); }, "Sala (ºC)  57.5 65 72.5"},
        {[&] { w.hover(at(7, 23, 1, 30) + 0.5); }, "Sala (ºC) 65 57.5 65 72.5"}, // halfway: the earlier reading
        {[&] { w.setRange(at(7, 23, 8), at(7, 23, 20)); }, "Sala (ºC) 65 260 289.75 319.5"},
        {[&] { w.hover(at(7, 23, 15)); }, "Sala (ºC) - 260 289.75 319.5"}, // after the last reading
        {[&] { w.plot->axisRect(4)->axis(QCPAxis::atBottom)->setRange(at(7, 23, 1), at(7, 23, 2)); }, "Sala (ºC) - 50 65 80"}, // moves all plots
        {[&] { Q_EMIT w.plot->mouseDoubleClick(nullptr); }, "Sala (ºC) - 20 169.75 319.5"}, // shows everything
    };
    for (const auto &[act, expected] : steps) {
        act();
        EXPECT_EQ(figures(0), expected);
        for (int i = 0; i < w.plot->axisRectCount(); ++i)
            EXPECT_EQ(w.plot->axisRect(i)->axis(QCPAxis::atBottom)->range(), QCPRange(w.from(), w.to())) << expected;
    }
    EXPECT_EQ(figures(3), "Bomba - b () - - - -");

    // Lines appended, one torn, one of a clock set back, and at midnight the
    // next day's file: each byte read once, each reading taken once, in time
    // order, the view growing with them.
    const CaptureReader *reader = w.reader(d7);
    const auto append = [&](const QString &name, const QByteArray &bytes) {
        QFile f(t.file(name));
        ASSERT_TRUE(f.open(QIODevice::Append) && f.write(bytes) == bytes.size());
    };
    // Per step: the rows of each file, the points of Sala (a break between
    // the files, and after a line of a clock set back), the list.
    const std::tuple<std::function<void()>, qint64, qint64, std::size_t, const char *> follow[] = {
        {[&] { append(d7, lines("07-12-2026", 23, 30, 600)); }, 630, 0, 630, "07-12-2026-00.log (en captura)*"},
        {[&] { append(d7, "07-12-2026 23:58:"); }, 630, 0, 630, "07-12-2026-00.log (en captura)*"},
        {[&] { append(d7, "50  1  2  3  4  1\r\n"); }, 631, 0, 631, "07-12-2026-00.log (en captura)*"},
        {[&] { append(d7, "07-12-2026 23:05:00  1  2  3  4  1\r\n"); }, 632, 0, 633, "07-12-2026-00.log (en captura)*"},
        {[&] { t.write(d8, lines("08-12-2026", 0, 2)), current = t.file(d8); }, 632, 2, 636, "08-12-2026-00.log (en captura)*, 07-12-2026-00.log*"},
        {[&] { append(d8, lines("08-12-2026", 0, 3, 2)); }, 632, 5, 639, "08-12-2026-00.log (en captura)*, 07-12-2026-00.log*"},
    };
    for (const auto &[act, rows7, rows8, points, listed] : follow) {
        act();
        w.followFiles();
        EXPECT_TRUE(list().startsWith(u(listed))) << list().toStdString();
        EXPECT_EQ(w.reader(d7), reader) << "an open file is not read again";
        EXPECT_EQ(std::tuple(reader->rows(), reader->bytesRead()), std::tuple(rows7, QFileInfo(t.file(d7)).size()));
        EXPECT_EQ(rows8 ? std::tuple(w.reader(d8)->rows(), w.reader(d8)->bytesRead()) : std::tuple(qint64{0}, qint64{0}),
                  std::tuple(rows8, rows8 ? QFileInfo(t.file(d8)).size() : 0));
        const std::vector<double> &times = w.model().all()[0].t;
        EXPECT_EQ(times.size(), points) << "each reading once";
        EXPECT_TRUE(std::is_sorted(times.begin(), times.end()));
        EXPECT_DOUBLE_EQ(w.to(), w.model().last());
    }
    // A view of the newest readings moves on with them; one of older ones stays.
    w.setRange(w.model().last() - 60, w.model().last());
    append(d8, lines("08-12-2026", 0, 2, 5));
    w.followFiles();
    EXPECT_EQ(QCPRange(w.from(), w.to()), QCPRange(w.model().last() - 60, w.model().last()));
    w.setRange(at(7, 23, 0), at(7, 23, 10));
    append(d8, lines("08-12-2026", 0, 2, 7));
    w.followFiles();
    EXPECT_DOUBLE_EQ(w.to(), at(7, 23, 10));

    // The legend turns a series off; the choice outlives opening again, with
    // an older day; a file of another kind is told.
    w.leyenda->item(0, 0)->setCheckState(Qt::Unchecked);
    EXPECT_EQ(std::tuple(w.seriesShown(0), w.plottedPoints(0), w.seriesShown(1)), std::tuple(false, 0, true));
    w.open({n30, d7});
    EXPECT_EQ(std::tuple(w.openFiles(), w.seriesShown(0)), std::tuple(QStringList{n30, d7}, false)) << "in the order of their days";
    EXPECT_EQ(w.estado->text(), u("635 lecturas en 2 ficheros."));
    t.write(d6, QByteArray("00              ") + QByteArray(124, '\0'));
    w.open({d6});
    EXPECT_EQ(w.estado->text(), d6 + u(": No es un fichero de captura."));

    t.write(u("05-12-2026-00.log"), lines("05-12-2026", 10, 2) + "05-12-2026 10:00:09  1\r\n");
    w.open({u("05-12-2026-00.log")});
    EXPECT_EQ(w.estado->text(), u("05-12-2026-00.log: 1 línea no válida, no se muestra."));
    for (const auto &[file, ok] : {std::pair("dia.png", true), {"dia.csv", true}, {"no/dia.png", false}, {"no/dia.csv", false}}) {
        const QString path = t.file(u(file));
        EXPECT_EQ(path.endsWith(u("png")) ? w.exportPng(path, 640, 400) : w.exportCsv(path), ok) << file;
        EXPECT_EQ(w.estado->text() == u("No se puede escribir el fichero %1.").arg(QDir::toNativeSeparators(path)), !ok) << file;
    }
    EXPECT_EQ(QImage(t.file(u("dia.png"))).size(), QSize(640, 400));
    EXPECT_EQ(t.read(u("dia.csv")), QByteArray("Hora,Sala (\xC2\xBA" "C),Inv (%),Bomba - a (bar),Bomba - b (),Puerta - 1\r\n"
                                               "2026-12-05T10:00:00,20,55,0.5,,0\r\n2026-12-05T10:00:01,20.5,55,0.5,,1\r\n"));
}
