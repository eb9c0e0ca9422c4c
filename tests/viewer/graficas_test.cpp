// The window "Climalog - Gráficas" offscreen: the folder's files, the plots
// and their axes, the legend with the figures of the range in view, the
// cursor, the file being captured followed live, export.
#include "viewer/graficas.h"

#include "support/windows.h"

#include <qcustomplot.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QListWidget>
#include <QTableWidget>

namespace {

QString u(const char *text) { return QString::fromUtf8(text); }

const QByteArray header = "Hora  Sala (\xBA" "C)  Inv (%)  Bomba - a (bar)  Bomba - b ()  Puerta - 1\r\n";

// `count` lines a second apart from hour:00:00 + `first` seconds: Sala climbs
// from 20 by .5, the others hold still, Puerta opens on odd seconds.
QByteArray lines(const char *day, int hour, int count, int first = 0)
{
    QByteArray out;
    for (int k = first; k < first + count; ++k)
        out += QStringLiteral("%1 %2  %3  55  ,5  ERR  %4\r\n").arg(QLatin1String(day), QTime(hour, 0).addSecs(k).toString(QStringLiteral("HH:mm:ss")),
                                                                   QString::number(20 + k * 0.5).replace(u'.', u','), QString::number(k % 2)).toLatin1();
    return out;
}

// The texts of the file list, or the names of its chosen files.
QStringList texts(const QListWidget *list, bool chosen = false)
{
    QStringList out;
    for (int i = 0; i < list->count(); ++i)
        if (!chosen || list->item(i)->isSelected())
            out << (chosen ? list->item(i)->data(Qt::UserRole).toString() : list->item(i)->text());
    return out;
}

// The legend's cell of a series (by its column name) and table column.
QString cell(const graficas &w, const QString &name, int column)
{
    for (int r = 0; r < w.leyenda->rowCount(); ++r)
        if (w.leyenda->item(r, 0)->text() == name)
            return w.leyenda->item(r, column)->text();
    return u("no such series");
}

double at(int day, int h, int m, int s = 0) { return static_cast<double>(QDateTime(QDate(2026, 12, day), QTime(h, m, s)).toSecsSinceEpoch()); }

// A port's capture folder: <temporary>/1/.
struct Folder {
    Folder() { QDir(t.path()).mkpath(QStringLiteral("1")); }
    QString path() const { return t.path() + QStringLiteral("/1/"); }
    void put(const QString &name, const QByteArray &bytes, QIODevice::OpenMode mode = QIODevice::WriteOnly) const
    {
        QFile f(path() + name);
        ASSERT_TRUE(f.open(mode));
        f.write(bytes);
    }
    TempFolder t;
};

const QString d6 = u("06-12-2026-00.log"), d7 = u("07-12-2026-00.log"), d7b = u("07-12-2026-01.log"), d8 = u("08-12-2026-00.log"),
              n30 = u("30-11-2026-00.log");

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
         {{d6, header + lines("06-12-2026", 10, 5)}, {d7, header}, {d7b, "Hora  Sala (\xBA" "C)\r\n07-12-2026 11:00:00  19\r\n"},
          {u("notas.log"), "x"}, {u("07-12-2026.log"), "x"}},
         {}, {d7b, d7, d6}, {u("Temperatura (ºC)")}, u("1 lectura en 1 fichero.")},
        {"the file being captured is opened and marked", {{d6, header + lines("06-12-2026", 10, 5)}, {d7, header}},
         {}, {d7, d6 + u(" (en captura)")}, all, u("5 lecturas en 1 fichero."), d6},
        {"two days together, the months in order", {{n30, header + lines("30-11-2026", 23, 3)}, {d7, header + lines("07-12-2026", 10, 4)}},
         {n30, d7}, {d7, n30}, all, u("7 lecturas en 2 ficheros.")},
        {"a file of another kind", {{d8, QByteArray("00              ") + QByteArray(124, '\0')}}, {}, {d8}, {}, d8 + u(": No es un fichero de captura.")},
        {"bad lines are told", {{d8, header + lines("08-12-2026", 0, 2) + "08-12-2026 00:00:09  1\r\n"}}, {}, {d8}, all,
         d8 + u(": 1 línea no válida, no se muestra.")},
        {"no capture yet", {}, {}, {}, {}, u("No hay ficheros de captura en ")},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        Folder f;
        for (const auto &[name, bytes] : r.files)
            f.put(name, bytes);
        graficas w(f.path(), [&] { return r.current.isEmpty() ? QString() : f.path() + r.current; });
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
        chosen.sort();
        open.sort();
        EXPECT_EQ(chosen, open) << "the list shows what is plotted";
    }
}

TEST(Graficas, LegendCursorAndFiguresOfTheRange)
{
    application();
    Folder f;
    f.put(d7, header + lines("07-12-2026", 10, 600));
    graficas w(f.path(), [] { return QString(); });
    QStringList series;
    for (const Series &s : w.model().all())
        series << s.column.device + u'|' + s.column.unit;
    EXPECT_EQ(series.join(u(", ")), u("Sala|ºC, Inv|%, Bomba|bar, Bomba|, Puerta|"));
    for (int s = 0; s < 5; ++s) {
        EXPECT_TRUE(w.seriesShown(s));
        EXPECT_GT(w.plottedPoints(s), 0);
        EXPECT_LE(w.plottedPoints(s), 5 * std::max(64, w.plot->width()) + 2) << "few points per pixel column however long the day";
    }
    const QString sala = u("Sala (ºC)");
    const std::pair<std::function<void()>, QStringList> steps[] = { // cursor, minimum, mean, maximum of Sala
        {[] {}, {"", "20", "169.75", "319.5"}},
        {[&] { w.setRange(at(7, 10, 1), at(7, 10, 2)); }, {"", "50", "65", "80"}},
        {[&] { w.zoom(0.5, at(7, 10, 1, 30)); }, {"", "57.5", "65", "72.5"}},
        {[&] { w.hover(at(7, 10, 1, 30)); }, {"65", "57.5", "65", "72.5"}},
        {[&] { w.setRange(at(7, 10, 8), at(7, 10, 20)); }, {"65", "260", "289.75", "319.5"}},
        {[&] { w.hover(at(7, 10, 15)); }, {"-", "260", "289.75", "319.5"}}, // after the last reading
        {[&] { Q_EMIT w.plot->mouseDoubleClick(nullptr); }, {"-", "20", "169.75", "319.5"}}, // shows everything
        {[&] { w.plot->axisRect(4)->axis(QCPAxis::atBottom)->setRange(at(7, 10, 1), at(7, 10, 2)); }, {"-", "50", "65", "80"}},
    };
    for (const auto &[act, figures] : steps) {
        SCOPED_TRACE(figures.join(u' ').toStdString());
        act();
        EXPECT_EQ((QStringList{cell(w, sala, 1), cell(w, sala, 2), cell(w, sala, 3), cell(w, sala, 4)}), figures);
        for (int i = 0; i < w.plot->axisRectCount(); ++i) { // dragging one plot moves them all
            EXPECT_DOUBLE_EQ(w.plot->axisRect(i)->axis(QCPAxis::atBottom)->range().lower, w.from());
            EXPECT_DOUBLE_EQ(w.plot->axisRect(i)->axis(QCPAxis::atBottom)->range().upper, w.to());
        }
    }
    EXPECT_EQ(cell(w, u("Bomba - b ()"), 3), u("-")) << "only ERR: no figures";

    // The legend turns a series off and on; the choice outlives opening again.
    w.leyenda->item(0, 0)->setCheckState(Qt::Unchecked);
    EXPECT_FALSE(w.seriesShown(0));
    EXPECT_EQ(w.plottedPoints(0), 0);
    EXPECT_TRUE(w.seriesShown(1));
    w.open({d7});
    EXPECT_FALSE(w.seriesShown(0));
    EXPECT_EQ(w.leyenda->item(0, 0)->checkState(), Qt::Unchecked);
    w.leyenda->item(0, 0)->setCheckState(Qt::Checked);
    EXPECT_GT(w.plottedPoints(0), 0);
}

TEST(Graficas, FollowsTheFileBeingCaptured)
{
    application();
    Folder f;
    f.put(d7, header + lines("07-12-2026", 23, 3440));
    QString current = f.path() + d7;
    graficas w(f.path(), [&] { return current; });
    const CaptureReader *reader = w.reader(d7);
    ASSERT_TRUE(reader);
    struct Step {
        const char *name;
        std::function<void()> act;
        qint64 rows7, rows8;
    };
    const Step steps[] = {
        {"lines appended appear", [&] { f.put(d7, lines("07-12-2026", 23, 30, 3440), QIODevice::Append); }, 3470, 0},
        {"nothing new", [] {}, 3470, 0},
        {"a torn line waits", [&] { f.put(d7, "07-12-2026 23:58:", QIODevice::Append); }, 3470, 0},
        {"and comes when ended", [&] { f.put(d7, "50  1  2  3  4  1\r\n", QIODevice::Append); }, 3471, 0},
        {"midnight: the next day's file is taken too", [&] { f.put(d8, header + lines("08-12-2026", 0, 2)), current = f.path() + d8; }, 3471, 2},
        {"and followed", [&] { f.put(d8, lines("08-12-2026", 0, 3, 2), QIODevice::Append); }, 3471, 5},
    };
    for (const Step &step : steps) {
        SCOPED_TRACE(step.name);
        step.act();
        w.followFiles();
        EXPECT_EQ(w.openFiles(), step.rows8 ? QStringList({d7, d8}) : QStringList{d7});
        EXPECT_EQ(w.reader(d7), reader) << "an open file is not read again";
        EXPECT_EQ(reader->rows(), step.rows7);
        EXPECT_EQ(reader->bytesRead(), QFileInfo(f.path() + d7).size()) << "each byte read once";
        if (const CaptureReader *r8 = w.reader(d8)) {
            EXPECT_EQ(r8->rows(), step.rows8);
            EXPECT_EQ(r8->bytesRead(), QFileInfo(f.path() + d8).size());
        }
        EXPECT_EQ(static_cast<qint64>(w.model().all()[0].t.size()), step.rows7 + step.rows8 + (step.rows8 ? 1 : 0))
            << "each reading once, and the break between the files";
        EXPECT_DOUBLE_EQ(w.to(), w.model().last()) << "the whole range in view grows with the readings";
    }
    EXPECT_EQ(texts(w.ficheros), QStringList({d8 + u(" (en captura)"), d7}));

    // A view of the newest readings moves on with them; one of older ones stays.
    w.setRange(w.model().last() - 60, w.model().last());
    f.put(d8, lines("08-12-2026", 0, 2, 5), QIODevice::Append);
    w.followFiles();
    EXPECT_DOUBLE_EQ(w.to(), w.model().last());
    EXPECT_DOUBLE_EQ(w.to() - w.from(), 60);
    w.setRange(at(7, 23, 0), at(7, 23, 10));
    f.put(d8, lines("08-12-2026", 0, 2, 7), QIODevice::Append);
    w.followFiles();
    EXPECT_DOUBLE_EQ(w.to(), at(7, 23, 10));
}

TEST(Graficas, ExportsImageAndTable)
{
    application();
    Folder f;
    f.put(d7, header + lines("07-12-2026", 10, 2));
    graficas w(f.path(), [] { return QString(); });
    const std::tuple<const char *, bool, bool> rows[] = {{"dia.png", true, true}, {"dia.csv", false, true}, {"no/dia.png", true, false},
                                                         {"no/dia.csv", false, false}};
    for (const auto &[file, image, ok] : rows) {
        SCOPED_TRACE(file);
        const QString path = f.t.file(u(file));
        EXPECT_EQ(image ? w.exportPng(path, 640, 400) : w.exportCsv(path), ok);
        EXPECT_EQ(w.estado->text() == u("No se puede escribir el fichero %1.").arg(QDir::toNativeSeparators(path)), !ok);
    }
    EXPECT_EQ(QImage(f.t.file(u("dia.png"))).size(), QSize(640, 400));
    EXPECT_TRUE(f.t.read(u("dia.csv")).startsWith("Hora,Sala (\xC2\xBA" "C),Inv (%)"));
}
