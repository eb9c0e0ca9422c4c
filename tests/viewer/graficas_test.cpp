// The window "Climalog - Gráficas" offscreen: the folder's files, the plots
// and their axes, the legend with the figures of the range in view, the
// cursor, the file being captured followed live, export.
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

const QByteArray header = "Hora  Sala (\xBA" "C)  Inv (%)  Bomba - a (bar)  Bomba - b ()  Puerta - 1\r\n";

// Lines a second apart from hour:00:00 + `first` seconds: Sala climbs from
// 20 by .5, the others hold still, Puerta opens on odd seconds.
QByteArray lines(const char *day, int hour, int count, int first = 0)
{
    QByteArray out;
    for (int k = first; k < first + count; ++k)
        out += QStringLiteral("%1 %2  %3  55  ,5  ERR  %4\r\n").arg(QLatin1String(day), QTime(hour, 0).addSecs(k).toString(QStringLiteral("HH:mm:ss")),
                                                                   QString::number(20 + k * 0.5).replace(u'.', u','), QString::number(k % 2)).toLatin1();
    return out;
}

// What the list shows, or the names of the files chosen in it.
QStringList texts(const QListWidget *list, bool chosen = false)
{
    QStringList out;
    for (int i = 0; i < list->count(); ++i)
        if (!chosen || list->item(i)->isSelected())
            out << (chosen ? list->item(i)->data(Qt::UserRole).toString() : list->item(i)->text());
    return out;
}

double at(int day, int h, int m, int s = 0) { return static_cast<double>(QDateTime(QDate(2026, 12, day), QTime(h, m, s)).toSecsSinceEpoch()); }

const QString d6 = u("06-12-2026-00.log"), d7 = u("07-12-2026-00.log"), d8 = u("08-12-2026-00.log");

} // namespace

TEST(Graficas, ListsAndPlotsTheChosenFiles)
{
    application();
    struct Row {
        const char *name;
        std::map<QString, QByteArray> files;
        QStringList open; // empty: what the window opens by itself
        QStringList list, axes;
        QString status, current = {}; // current: the file being captured
    };
    const QStringList all = {u("Temperatura (ºC)"), u("Humedad (%)"), u("Canales (bar)"), u("Canales (sin unidad)"), u("Entradas")};
    const Row rows[] = {
        {"newest day opened by itself, newest first, other files left out",
         {{d6, header + lines("06-12-2026", 10, 5)}, {d7, header}, {u("07-12-2026-01.log"), "Hora  Sala (\xBA" "C)\r\n07-12-2026 11:00:00  19\r\n"},
          {u("notas.log"), "x"}, {u("07-12-2026.log"), "x"}},
         {}, {u("07-12-2026-01.log"), d7, d6}, {u("Temperatura (ºC)")}, u("1 lectura en 1 fichero.")},
        {"the file being captured is opened and marked", {{d6, header + lines("06-12-2026", 10, 5)}, {d7, header}}, {}, {d7, d6 + u(" (en captura)")}, all,
         u("5 lecturas en 1 fichero."), d6},
        {"two days together, the months in order", {{u("30-11-2026-00.log"), header + lines("30-11-2026", 23, 3)}, {d7, header + lines("07-12-2026", 10, 4)}},
         {u("30-11-2026-00.log"), d7}, {d7, u("30-11-2026-00.log")}, all, u("7 lecturas en 2 ficheros.")},
        {"a file of another kind", {{d8, QByteArray("00              ") + QByteArray(124, '\0')}}, {}, {d8}, {}, d8 + u(": No es un fichero de captura.")},
        {"bad lines are told", {{d8, header + lines("08-12-2026", 0, 2) + "08-12-2026 00:00:09  1\r\n"}}, {}, {d8}, all,
         d8 + u(": 1 línea no válida, no se muestra.")},
        {"no capture yet", {}, {}, {}, {}, u("No hay ficheros de captura en ")},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        TempFolder t;
        for (const auto &[name, bytes] : r.files)
            t.write(name, bytes);
        graficas w(t.path(), [&] { return r.current.isEmpty() ? QString() : t.file(r.current); });
        if (!r.open.isEmpty())
            w.open(r.open);
        EXPECT_EQ(w.windowTitle(), u("Climalog - Gráficas"));
        EXPECT_EQ(texts(w.ficheros), r.list);
        QStringList axes;
        for (int i = 0; i < w.plot->axisRectCount(); ++i)
            axes << w.plot->axisRect(i)->axis(QCPAxis::atLeft)->label();
        EXPECT_EQ(axes, r.axes);
        EXPECT_TRUE(w.estado->text().startsWith(r.status)) << w.estado->text().toStdString();
        QStringList chosen = texts(w.ficheros, true), open = w.openFiles();
        chosen.sort(), open.sort();
        EXPECT_EQ(chosen, open) << "the list shows what is plotted";
    }
}

// One window on the file being captured: the figures of Sala for the range
// in view and the cursor as the user moves over the plot; lines appended,
// torn, and the next day's file at midnight; the legend; export.
TEST(Graficas, FollowsTheFileBeingCapturedWithItsFigures)
{
    application();
    TempFolder t;
    t.write(d7, header + lines("07-12-2026", 23, 600));
    QString current = t.file(d7);
    graficas w(t.path(), [&] { return current; });
    QStringList series;
    for (const Series &s : w.model().all())
        series << s.column.device + u'|' + s.column.unit;
    EXPECT_EQ(series.join(u(", ")), u("Sala|ºC, Inv|%, Bomba|bar, Bomba|, Puerta|"));
    for (int s = 0; s < 5; ++s)
        EXPECT_TRUE(w.seriesShown(s) && w.plottedPoints(s) > 0 && w.plottedPoints(s) <= 5 * std::max(64, w.plot->width()) + 2)
            << "few points per pixel column however long the day";
    const auto figures = [&](int row) {
        QStringList out;
        for (int column = 1; column < 5; ++column)
            out << w.leyenda->item(row, column)->text();
        return out.join(u' ').toStdString();
    };
    const std::pair<std::function<void()>, const char *> steps[] = { // Sala's cursor, minimum, mean, maximum
        {[] {}, " 20 169.75 319.5"},
        {[&] { w.setRange(at(7, 23, 1), at(7, 23, 2)); }, " 50 65 80"},
        {[&] { w.zoom(0.5, at(7, 23, 1, 30)); }, " 57.5 65 72.5"},
        {[&] { w.hover(at(7, 23, 1, 30)); }, "65 57.5 65 72.5"},
        {[&] { w.hover(at(7, 23, 1, 30) + 0.5); }, "65 57.5 65 72.5"}, // halfway takes the earlier reading
        {[&] { w.setRange(at(7, 23, 8), at(7, 23, 20)); }, "65 260 289.75 319.5"},
        {[&] { w.hover(at(7, 23, 15)); }, "- 260 289.75 319.5"}, // after the last reading
        {[&] { Q_EMIT w.plot->mouseDoubleClick(nullptr); }, "- 20 169.75 319.5"}, // shows everything
        {[&] { w.plot->axisRect(4)->axis(QCPAxis::atBottom)->setRange(at(7, 23, 1), at(7, 23, 2)); }, "- 50 65 80"},
    };
    for (const auto &[act, expected] : steps) {
        act();
        EXPECT_EQ(figures(0), expected);
        for (int i = 0; i < w.plot->axisRectCount(); ++i) // dragging one plot moves them all
            EXPECT_EQ(w.plot->axisRect(i)->axis(QCPAxis::atBottom)->range(), QCPRange(w.from(), w.to())) << expected;
    }
    EXPECT_EQ(figures(3), "- - - -") << "only ERR: no figures";

    const CaptureReader *reader = w.reader(d7);
    const auto append = [&](const QString &name, const QByteArray &bytes) {
        QFile f(t.file(name));
        ASSERT_TRUE(f.open(QIODevice::Append));
        f.write(bytes);
    };
    Q_EMIT w.plot->mouseDoubleClick(nullptr);
    const std::tuple<const char *, std::function<void()>, qint64, qint64> follow[] = { // rows of each file
        {"lines appended appear", [&] { append(d7, lines("07-12-2026", 23, 30, 600)); }, 630, 0},
        {"nothing new", [] {}, 630, 0},
        {"a torn line waits", [&] { append(d7, "07-12-2026 23:58:"); }, 630, 0},
        {"and comes when ended", [&] { append(d7, "50  1  2  3  4  1\r\n"); }, 631, 0},
        {"midnight: the next day's file is taken too", [&] { t.write(d8, header + lines("08-12-2026", 0, 2)), current = t.file(d8); }, 631, 2},
        {"and followed", [&] { append(d8, lines("08-12-2026", 0, 3, 2)); }, 631, 5},
    };
    for (const auto &[name, act, rows7, rows8] : follow) {
        SCOPED_TRACE(name);
        act();
        w.followFiles();
        EXPECT_EQ(w.openFiles(), rows8 ? QStringList({d7, d8}) : QStringList{d7});
        EXPECT_EQ(w.reader(d7), reader) << "an open file is not read again";
        EXPECT_EQ(reader->rows(), rows7);
        EXPECT_EQ(reader->bytesRead(), QFileInfo(t.file(d7)).size()) << "each byte read once";
        EXPECT_EQ(w.reader(d8) ? w.reader(d8)->rows() : 0, rows8);
        EXPECT_EQ(static_cast<qint64>(w.model().all()[0].t.size()), rows7 + rows8 + (rows8 ? 1 : 0)) << "each reading once, a break between the files";
        EXPECT_DOUBLE_EQ(w.to(), w.model().last()) << "the whole range in view grows with the readings";
    }
    EXPECT_EQ(texts(w.ficheros), QStringList({d8 + u(" (en captura)"), d7}));
    // A view of the newest readings moves on with them; one of older ones stays.
    w.setRange(w.model().last() - 60, w.model().last());
    append(d8, lines("08-12-2026", 0, 2, 5));
    w.followFiles();
    EXPECT_EQ(QCPRange(w.from(), w.to()), QCPRange(w.model().last() - 60, w.model().last()));
    w.setRange(at(7, 23, 0), at(7, 23, 10));
    append(d8, lines("08-12-2026", 0, 2, 7));
    w.followFiles();
    EXPECT_DOUBLE_EQ(w.to(), at(7, 23, 10));

    // The legend turns a series off and on; the choice outlives opening again.
    w.leyenda->item(0, 0)->setCheckState(Qt::Unchecked);
    EXPECT_EQ(std::tuple(w.seriesShown(0), w.plottedPoints(0), w.seriesShown(1)), std::tuple(false, 0, true));
    w.open({d7});
    EXPECT_EQ(std::tuple(w.seriesShown(0), w.leyenda->item(0, 0)->checkState()), std::tuple(false, Qt::Unchecked));
    w.leyenda->item(0, 0)->setCheckState(Qt::Checked);
    EXPECT_GT(w.plottedPoints(0), 0);

    for (const auto &[file, ok] : {std::pair("dia.png", true), {"dia.csv", true}, {"no/dia.png", false}, {"no/dia.csv", false}}) {
        const QString path = t.file(u(file));
        EXPECT_EQ(path.endsWith(u("png")) ? w.exportPng(path, 640, 400) : w.exportCsv(path), ok) << file;
        EXPECT_EQ(w.estado->text() == u("No se puede escribir el fichero %1.").arg(QDir::toNativeSeparators(path)), !ok) << file;
    }
    EXPECT_EQ(QImage(t.file(u("dia.png"))).size(), QSize(640, 400));
    EXPECT_TRUE(t.read(u("dia.csv")).startsWith("Hora,Sala (\xC2\xBA" "C),Inv (%)"));
}
