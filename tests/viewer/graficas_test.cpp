// The window "Climalog - Gráficas" offscreen on a capture folder: the files
// newest first, the file being captured opened and followed, the plots, the
// legend with the figures of the range in view, the cursor, export, local
// times across a clock change.
#include "viewer/graficas.h"

#include "support/windows.h"

#include <qcustomplot.h>

#include "platform/qtplatform.h"

#include <QAbstractButton>
#include <QFileDialog>
#include <QImage>
#include <QLineEdit>
#include <QMessageBox>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>

#include <ctime>
#ifndef _WIN32
#include <sys/resource.h>
#endif

namespace {

QString u(const char *text) { return QString::fromUtf8(text); }

// Lines a second apart from hour:00:00 + `first` seconds (the header first
// when 0): Sala climbs from 20 by .5, the others hold still.
QByteArray lines(const char *day, int hour, int count, int first = 0)
{
    QByteArray out = first
        ? ""
        : "Hora  Sala (\272C)  Inv (%)  Bomba - a (bar)  Bomba - b ()  Puerta, sur - 1\r\n";
    for (int k = first; k < first + count; ++k)
        out += QStringLiteral("%1 %2  %3  55  ,5  ERR  %4\r\n")
                   .arg(QLatin1String(day),
                        QTime(hour, 0).addSecs(k).toString(QStringLiteral("HH:mm:ss")),
                        QString::number(20 + k * 0.5).replace(u'.', u','), QString::number(k % 2))
                   .toLatin1();
    return out;
}

// A legend row: shown, name, cursor, minimum, mean, maximum.
std::string row(const graficas &w, int r)
{
    const QAbstractItemModel &m = *w.leyenda->model();
    QStringList out{m.index(r, 0).data(Qt::CheckStateRole).value<Qt::CheckState>() == Qt::Checked
                        ? u("[x]")
                        : u("[ ]")};
    for (int column = 0; column < 5; ++column)
        out << m.index(r, column).data().toString();
    return out.join(u' ').toStdString();
}

// A capture of `columns` sensors S0, S1...: `count` lines a second apart from
// 10:00:00 + `first` s (the header first when `first` is 0); sensor c reads
// (c + k) % `mod` on line k.
QByteArray grid(int columns, int count, int first = 0, int mod = 1 << 30)
{
    QByteArray out = first ? "" : "Hora";
    for (int c = 0; !first && c < columns; ++c)
        out += "  S" + QByteArray::number(c) + " (\272C)";
    out += first ? "" : "\r\n";
    for (int k = first; k < first + count; ++k) {
        out += QTime(10, 0).addSecs(k).toString(u("'07-12-2026 'HH:mm:ss")).toLatin1();
        for (int c = 0; c < columns; ++c)
            out += "  " + QByteArray::number((c + k) % mod);
        out += "\r\n";
    }
    return out;
}

double at(int day, int h, int m, int s = 0)
{
    return static_cast<double>(QDateTime(QDate(2026, 12, day), QTime(h, m, s)).toSecsSinceEpoch());
}

} // namespace

TEST(Graficas, FollowsTheFileBeingCapturedWithTheFiguresOfTheRangeInView)
{
    application();
    TempFolder t;
    const QString d5 = u("05-12-2026-00.log"), d6 = u("06-12-2026-00.log"),
                  d7 = u("07-12-2026-00.log"), d8 = u("08-12-2026-00.log");
    t.write(d5, QByteArray("00              ") + QByteArray(124, '\0')); // a file of another kind
    t.write(d6, lines("06-12-2026", 10, 2));
    t.write(d7, lines("07-12-2026", 23, 600));
    t.write(u("notas.log"), "x");
    QString current = t.file(d7);
    graficas w(t.path(), [&] { return current; });
    const auto list = [&] {
        QStringList out;
        for (int i = 0; i < w.ficheros->count(); ++i)
            out << w.ficheros->item(i)->text() +
                    (w.ficheros->item(i)->isSelected() ? u("*") : QString());
        return out.join(u(", "));
    };
    EXPECT_EQ(std::tuple(w.windowTitle(), list(), w.estado->text(), w.plot->axisRectCount()),
              std::tuple(u("Climalog - Gráficas"),
                         u("07-12-2026-00.log (en captura)*, 06-12-2026-00.log, 05-12-2026-00.log"),
                         u("600 lecturas en 1 fichero."), 5));

    const std::pair<std::function<void()>, const char *> steps[] = {
        {[] {}, " 20 169,75 319,5"},
        {[&] { w.setRange(at(7, 23, 1), at(7, 23, 2)); }, " 50 65 80"},
        {[&] { w.zoom(0.5, at(7, 23, 1, 30)); }, " 57,5 65 72,5"},
        {[&] { w.hover(at(7, 23, 1, 30) + 0.5); },
         "65 57,5 65 72,5"}, // halfway: the earlier reading
        {[&] { w.hover(at(7, 23, 15)); }, "- 57,5 65 72,5"}, // after the last reading
        {[&] {
             w.plot->axisRect(4)->axis(QCPAxis::atBottom)->setRange(at(7, 23, 8), at(7, 23, 20));
         },
         "- 260 289,75 319,5"}, // all plots move
        {[&] { Q_EMIT w.plot->mouseDoubleClick(nullptr); }, "- 20 169,75 319,5"}, // everything
    };
    for (const auto &[act, expected] : steps) {
        act();
        EXPECT_EQ(row(w, 0), "[x] Sala (ºC) " + std::string(expected));
        EXPECT_EQ(w.plot->axisRect(0)->axis(QCPAxis::atBottom)->range(), QCPRange(w.from(), w.to()))
            << expected;
    }

    // Lines appended, one torn, one of a clock set back, and at midnight the
    // next day's file: each byte read once, each reading taken once (with a
    // break after the clock set back and between the files), in time order.
    const CaptureReader *reader = w.reader(d7);
    const std::tuple<std::function<void()>, qint64, qint64, std::size_t> follow[] = {
        // rows of each file, points of Sala
        {[&] { append(t.file(d7), lines("07-12-2026", 23, 30, 600)); }, 630, 0, 630},
        {[&] { append(t.file(d7), "07-12-2026 23:58:"); }, 630, 0, 630},
        {[&] { append(t.file(d7), "50  1  2  3  4  1\r\n07-12-2026 23:05:00  1  2  3  4  1\r\n"); },
         632, 0, 633},
        {[&] { t.write(d8, lines("08-12-2026", 0, 2)), current = t.file(d8); }, 632, 2, 636},
        {[&] { append(t.file(d8), lines("08-12-2026", 0, 3, 2) + "08-12-2026 00:00:09  1\r\n"); },
         632, 5, 639},
    };
    for (const auto &[act, rows7, rows8, points] : follow) {
        act();
        w.followFiles();
        EXPECT_EQ(w.reader(d7), reader) << "an open file is not read again";
        EXPECT_EQ(std::tuple(reader->rows(), reader->bytesRead()),
                  std::tuple(rows7, QFileInfo(t.file(d7)).size()));
        EXPECT_EQ(std::tuple(w.reader(d8) ? w.reader(d8)->rows() : 0,
                             w.reader(d8) ? w.reader(d8)->bytesRead() : 0),
                  std::tuple(rows8, rows8 ? QFileInfo(t.file(d8)).size() : 0));
        const std::vector<double> &times = w.series().all()[0].t.values();
        EXPECT_TRUE(times.size() == points && std::is_sorted(times.begin(), times.end()))
            << times.size();
        EXPECT_DOUBLE_EQ(w.to(), w.series().last()) << "the range in view grows with the readings";
    }
    EXPECT_EQ(list(),
              u("08-12-2026-00.log (en captura)*, 07-12-2026-00.log*, 06-12-2026-00.log, "
                "05-12-2026-00.log"));
    EXPECT_EQ(w.estado->text(), d8 + u(": 1 línea no válida, no se muestra."));
    // The cursor on a break takes the reading there, not the break.
    w.hover(at(8, 0, 0));
    EXPECT_EQ(w.leyenda->model()->index(0, 1).data().toString(), u("20"));
    // A file shortened by another program is read again from its start.
    t.write(d8, lines("08-12-2026", 0, 1));
    w.followFiles();
    EXPECT_EQ(std::tuple(w.reader(d8)->rows(), w.series().all()[0].t.size()),
              std::tuple(qint64{1}, std::size_t{635}));
    // A series turned off in the legend stays off when files open again, in
    // the order of their days; and on again.
    w.leyenda->model()->setData(w.leyenda->model()->index(0, 0), Qt::Unchecked, Qt::CheckStateRole);
    w.open({d8, d6});
    EXPECT_EQ(std::tuple(w.openFiles(), w.seriesShown(0)), std::tuple(QStringList{d6, d8}, false));
    w.leyenda->model()->setData(w.leyenda->model()->index(0, 0), Qt::Checked, Qt::CheckStateRole);
    EXPECT_GT(w.plottedPoints(0), 0);

    w.open({d5});
    EXPECT_EQ(w.estado->text(), d5 + u(": No es un fichero de captura."));
    w.open({d8});
    EXPECT_EQ(graficas(t.path(), [] { return QString(); }).openFiles(), QStringList{d8})
        << "no capture running: the newest day";
    EXPECT_TRUE(graficas(t.file(u("nada")), [] { return QString(); })
                    .estado->text()
                    .startsWith(u("No hay ficheros de captura en ")));
    // Never over a capture: the file being captured, another day's, a day
    // to come, a file of another name holding a capture, or a link to one.
    t.write(u("copia.txt"), lines("04-12-2026", 10, 1));
    QFile::link(t.file(d8), t.file(u("enlace.csv")));
    const QByteArray captured = t.read(d8), earlier = t.read(d6), copy = t.read(u("copia.txt"));
    const char *const
        unwritable = "No se puede escribir el fichero %1.",
        *const capture = "%1 es un fichero de captura y no se escribe sobre él: elija otro nombre.";
    const std::pair<const char *, const char *> exports[] = {
        {"dia.png", nullptr},           {"dia.csv", nullptr},
        {"no/dia.png", unwritable},     {"no/dia.csv", unwritable},
        {"08-12-2026-00.log", capture}, {"06-12-2026-00.log", capture},
        {"09-12-2026-00.log", capture}, {"09-12-2026-00.LOG", capture},
        {"copia.txt", capture},         {"notas.log", nullptr},
#ifndef _WIN32
        {"enlace.csv", capture},
#endif
    };
    for (const auto &[file, said] : exports) {
        const QString path = t.file(u(file));
        EXPECT_EQ(path.endsWith(u("png")) ? w.exportPng(path, 640, 400) : w.exportCsv(path), !said)
            << file;
        EXPECT_EQ(w.estado->text() == u(said ? said : "").arg(QDir::toNativeSeparators(path)),
                  !!said)
            << file;
    }
    EXPECT_EQ(std::tuple(t.read(d8), t.read(d6), t.read(u("copia.txt"))),
              std::tuple(captured, earlier, copy));
    EXPECT_FALSE(QFile::exists(t.file(u("09-12-2026-00.log"))));
    EXPECT_EQ(QImage(t.file(u("dia.png"))).size(), QSize(640, 400));
    const QString csv =
        QString::fromUtf8(t.read(u("dia.csv")))
            .remove(QRegularExpression(u("[+-]\\d\\d:\\d\\d(?=,)"))); // the zone's offset
    EXPECT_EQ(csv,
              u("Hora,Sala (ºC),Inv (%),Bomba - a (bar),Bomba - b (),\"Puerta, sur - "
                "1\"\r\n2026-12-08T00:00:00,20,55,0.5,,0\r\n"));
#ifndef _WIN32
    // The station's clock on Madrid time, 35 s captured across the autumn
    // change (02:59:45 summer time, then 02:00:20 winter time): drawn 35 s
    // apart in the file's order, the CSV with the same instants; the figures
    // as a Spanish user writes them.
    const QByteArray zone = qgetenv("TZ");
    qputenv("TZ", "Europe/Madrid");
    ::tzset();
    t.write(u("25-10-2026-00.log"),
            "Hora  Sala (\272C)\r\n25-10-2026 02:59:45  ,06\r\n25-10-2026 02:00:20  -,02\r\n");
    w.open({u("25-10-2026-00.log")});
    w.hover(w.series().last()); // the series' times: the reader's test
    EXPECT_EQ(row(w, 0), "[x] Sala (ºC) -0,02 -0,02 0,02 0,06");
    EXPECT_TRUE(w.exportCsv(t.file(u("otono.csv"))));
    EXPECT_EQ(t.read(u("otono.csv")),
              QByteArray(
                  "Hora,Sala "
                  "(ºC)\r\n2026-10-25T02:59:45+02:00,0.06\r\n2026-10-25T02:00:20+01:00,-0.02\r\n"));
    zone.isNull() ? qunsetenv("TZ") : qputenv("TZ", zone);
    ::tzset();
#endif
}

// A file of 20 000 columns lists every series in the legend but draws only
// the first rows' until others are ticked: the window holds no more objects
// than for a file of as many columns as it shows.
TEST(Graficas, AWideFileMakesGraphsOnlyForTheSeriesShown)
{
    application();
    const int most = graficas::shownAtOnce;
    qsizetype objects = 0;
    for (const int columns : {40, most, 20000}) {
        SCOPED_TRACE(columns);
        TempFolder t;
        t.write(u("07-12-2026-00.log"), grid(columns, 3));
        graficas w(t.path(), [] { return QString(); });
        EXPECT_TRUE(QTest::qWaitFor([&] { return !w.loading(); }, 60000));
        const int graphs = std::min(columns, most);
        EXPECT_EQ(std::tuple(w.plot->graphCount(), w.leyenda->model()->rowCount()),
                  std::tuple(graphs, columns));
        // The first rows ticked, the others not, each with its own figures.
        for (const int r : {0, graphs - 1, std::min(graphs, columns - 1), columns - 1})
            EXPECT_EQ(row(w, r),
                      (r < graphs ? "[x] S" : "[ ] S") + std::to_string(r) + " (ºC)  " +
                          std::to_string(r) + " " + std::to_string(r + 1) + " " +
                          std::to_string(r + 2));
        // Three readings of each series drawn, none of the others, no row
        // left in the reader.
        EXPECT_EQ(std::tuple(w.series().points(),
                             w.reader(u("07-12-2026-00.log"))->sets()[0].times.size()),
                  std::tuple(std::size_t(3 * graphs), std::size_t{0}));
        if (columns == most)
            objects = w.findChildren<QObject *>().size();
        if (columns == 20000) {
            EXPECT_LE(w.findChildren<QObject *>().size(), objects);
        }
    }
}

// A file of more than a megabyte and 100 columns: the readings of the
// series drawn only are kept, a series ticked is read in the thread and
// drawn when read, then followed; unticked, let go. The CSV, read again in
// the thread, has every line.
TEST(Graficas, AFileReadInTheThreadKeepsTheReadingsOfTheSeriesDrawnOnly)
{
    application();
    TempFolder t;
    const QString day = u("07-12-2026-00.log");
    t.write(day, grid(100, 4000, 0, 10));
    graficas w(t.path(), [] { return QString(); });
    const int last = 99; // S99's series and row: temperatures in the file's order
    const auto tick = [&](bool on) {
        w.leyenda->model()->setData(w.leyenda->model()->index(last, 0),
                                    on ? Qt::Checked : Qt::Unchecked, Qt::CheckStateRole);
    };
    struct Step {
        const char *what;
        std::function<void()> act;
        const char *status; // as the step leaves it
        std::size_t kept; // readings
        bool drawn;
        int graphs; // a graph made for the series ticked stays, hidden, when unticked
    };
    const Step steps[] = {
        {"opened", [] {}, "Leyendo 07-12-2026-00.log…", 64 * 4000, false, 64},
        {"ticked", [&] { tick(true); }, "Leyendo 07-12-2026-00.log…", 65 * 4000, true, 65},
        {"followed",
         [&] {
             append(t.file(day), grid(100, 10, 4000, 10));
             w.followFiles();
         },
         "4010 lecturas en 1 fichero.", 65 * 4010, true, 65},
        {"unticked", [&] { tick(false); }, "4010 lecturas en 1 fichero.", 64 * 4010, false, 65},
    };
    for (const Step &s : steps) {
        s.act();
        EXPECT_EQ(w.estado->text(), u(s.status)) << s.what;
        EXPECT_TRUE(QTest::qWaitFor([&] { return !w.loading(); }, 60000)) << s.what;
        EXPECT_EQ(std::tuple(w.series().points(), row(w, last), w.plottedPoints(last) > 0,
                             w.plot->graphCount()),
                  std::tuple(s.kept, std::string(s.drawn ? "[x]" : "[ ]") + " S99 (ºC)  0 4,5 9",
                             s.drawn, s.graphs))
            << s.what;
    }
    ASSERT_TRUE(w.exportCsv(t.file(u("cien.csv"))));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !w.exporting(); }, 60000));
    // Every line of the file, the fields between commas, the times in ISO form.
    EXPECT_EQ(QString::fromUtf8(t.read(u("cien.csv")))
                  .remove(QRegularExpression(u("[+-]\\d\\d:\\d\\d(?=,)"))),
              QString::fromLatin1(grid(100, 4010, 0, 10))
                  .replace(u("07-12-2026 "), u("2026-12-07T"))
                  .replace(u("  "), u(",")));
    EXPECT_EQ(w.estado->text(),
              u("Datos guardados en %1.").arg(QDir::toNativeSeparators(t.file(u("cien.csv")))));
}

// Runs `inside` once a modal window of that class is up.
template <typename Window>
void whenUp(std::function<void(Window &)> inside)
{
    QTimer::singleShot(10, [inside] {
        auto *w = qobject_cast<Window *>(QApplication::activeModalWidget());
        if (!w || !w->isVisible())
            return whenUp(inside);
        inside(*w);
    });
}

QString buttons(const QWidget &w)
{
    QStringList texts;
    for (const QAbstractButton *b : w.findChildren<QAbstractButton *>())
        if (b->isVisible() && !b->text().isEmpty())
            texts << b->text();
    return texts.join(u'|');
}

// The toolkit's own dialogs speak Spanish, with the translations the
// program loads: the export's file dialog and its question before it
// replaces a file, answered "No".
TEST(Graficas, TheExportDialogAndItsQuestionSpeakSpanish)
{
    application();
    ASSERT_TRUE(cargaTraducciones());
    TempFolder t;
    t.write(u("07-12-2026-00.log"), lines("07-12-2026", 10, 2));
    t.write(u("dia.csv"), "mine");
    graficas w(t.path(), [] { return QString(); });
    QStringList seen;
    whenUp<QFileDialog>([&](QFileDialog &dialog) {
        seen << dialog.windowTitle() << buttons(dialog);
        whenUp<QMessageBox>([&, d = &dialog](QMessageBox &box) {
            seen << box.text() << buttons(box);
            box.button(QMessageBox::No)->click();
            QTimer::singleShot(0, d, &QDialog::reject);
        });
        // The name typed in its box, as the user does.
        dialog.findChild<QLineEdit *>(u("fileNameEdit"))->setText(u("dia.csv"));
        QMetaObject::invokeMethod(&dialog, "accept");
    });
    w.csv->click();
    EXPECT_EQ(
        seen,
        (QStringList{u("Exportar CSV"), u("&Guardar|Cancelar"),
                     u("El fichero dia.csv ya existe.\n¿Desea reemplazarlo?"), u("&Sí|&No")}));
    EXPECT_EQ(t.read(u("dia.csv")), "mine");
}

#ifndef _WIN32
// A file of the capture name whose first line is 4 MiB of "x - 1  x - 2  ",
// opened by the window by itself (the newest day) while the address space
// may grow by 96 MiB only (24 times the file, the reading thread's stack
// included): refused with the message. A tick due as the window opens, as
// the monitor's is in the same thread, runs while the file is being read.
TEST(Graficas, RefusesAHostileFileInBoundedMemoryWithoutHoldingTheTick)
{
    application();
    TempFolder t;
    t.write(u("07-12-2026-00.log"),
            "Hora  " + QByteArray("x - 1  x - 2  ").repeated((4 << 20) / 14) + "\r\n");
    rlimit before{};
    ::getrlimit(RLIMIT_AS, &before);
#ifndef __SANITIZE_ADDRESS__ // its shadow memory takes any limit
    QFile status(u("/proc/self/status"));
    const QByteArray text = status.open(QIODevice::ReadOnly) ? status.readAll() : QByteArray();
    const rlimit limit{
        static_cast<rlim_t>(
            text.mid(text.indexOf("VmSize:") + 7).trimmed().split(' ')[0].toLongLong() * 1024 +
            (96 << 20)),
        before.rlim_max};
    ASSERT_EQ(::setrlimit(RLIMIT_AS, &limit), 0);
#endif
    QString atTick;
    graficas *shown = nullptr;
    QTimer::singleShot(0, [&] { atTick = shown->estado->text(); });
    graficas w(t.path(), [] { return QString(); });
    shown = &w;
    EXPECT_TRUE(QTest::qWaitFor([&] { return !w.loading(); }, 300000));
    QCoreApplication::processEvents(); // the tick runs at the latest now
    ::setrlimit(RLIMIT_AS, &before);
    EXPECT_EQ(std::tuple(atTick, w.estado->text()),
              std::tuple(u("Leyendo 07-12-2026-00.log…"),
                         u("07-12-2026-00.log: No es un fichero de captura.")));
}
#endif
