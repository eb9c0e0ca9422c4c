// The pane: what an add does with a device already listed, and names of
// every byte. The capture menu: a capture started and stopped, across
// midnight, after a change to the table, started in the middle of a tick;
// and the faults of its file, which never stop the readings or the relays.
#include "monitor/capture.h"
#include "monitor/sensoresmodel.h"
#include "registry/cp1252.h"
#include "shell/running.h"
#include "support/controls.h"

#include <QDir>
#include <QMenu>
#include <QProcess>
#include <QTest>
#include <QTimer>

namespace {

TEST(Pane, addRefusesWhatIsListedAndModifiesWhenAsked)
{
    const QString already = QStringLiteral("El dispositivo ya está en la lista");
    const QString question = already + QStringLiteral(".\r\n¿Desea modificar sus propiedades?");
    const struct {
        const char *nombre, *serial;
        Messages::Answer answer;
        QString message;
        const char *names;
    } rows[] = {
        {"Sala", "STT2800B74410FF0022", Messages::Answer::Ok, already, "Sala,Pasillo"},
        {"pasillo", "STT28A3F2C501080011", Messages::Answer::Ok, already, "Sala,Pasillo"},
        {"Entrada", "STT2800B74410FF0022", Messages::Answer::Yes, question, "Sala,Entrada"},
        {"   ", "STT26E1905C00000033", Messages::Answer::Ok, QStringLiteral("Nombre incorrecto"),
         "Sala,Pasillo"},
        {"Otro", "XYZ26E1905C00000033", Messages::Answer::Ok,
         QStringLiteral("Número de serie incorrecto"), "Sala,Pasillo"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(std::string(row.nombre) + " " + row.serial);
        Running f;
        f.add("Sala", "STT28A3F2C501080011");
        f.add("Pasillo", "STT2800B74410FF0022");
        f.g.modificado = false;
        f.messages.answer(row.answer);
        f.add(row.nombre, row.serial);
        EXPECT_EQ(f.messages.texts,
                  row.message.isEmpty() ? QStringList{} : QStringList{row.message});
        EXPECT_EQ(f.names(), QString::fromLatin1(row.names));
        EXPECT_EQ(f.g.modificado, row.answer == Messages::Answer::Yes || row.message.isEmpty());
        EXPECT_EQ(f.window->model()->rowCount(), f.g.n());
    }
}

// Names holding every byte from 0x80 up, typed into the pane; the soft
// hyphen and the five bytes Windows-1252 leaves undefined, which no key
// types, come from a file (they read as the control characters of their
// value). The configuration file and the capture header hold them as they
// are.
TEST(Pane, namesKeepEveryByteThroughFileAndCapture)
{
    const QByteArray untyped("\x81\x8D\x8F\x90\x9D\xAD");
    Running f;
    f.folder.write(QStringLiteral("config1.ini"),
                   Rec().text(0, 16, "00").b +
                       Rec().text(0, 16, untyped).num(16, 1).num(24, STT).b);
    f.window->cargar_Click();
    QList<QByteArray> names{untyped};
    for (int k = 0; k < 8; ++k) {
        names << QByteArray();
        for (int b = 0x80 + k; b <= 0xFF; b += 8)
            names.last() += untyped.contains(char(b)) ? QByteArray() : QByteArray(1, char(b));
        control<QLineEdit>(*f.window, "nombre")->clear();
        for (const QChar c : cp1252::decode(names.last().toStdString()))
            QTest::sendKeyEvent(QTest::Click, control<QLineEdit>(*f.window, "nombre"),
                                Qt::Key_unknown, QString(c), Qt::NoModifier);
        control<QLineEdit>(*f.window, "SN")->setText(QStringLiteral("STT100000000000000%1").arg(k));
        f.window->anadir_Click();
    }
    f.window->salvar_Click();
    control<QAction>(*f.window, "mnucapturar")->trigger();
    const QByteArray config = f.folder.read(QStringLiteral("config1.ini"));
    const QByteArray header =
        f.folder.read(QStringLiteral("1/") + f.g.fichero).split('\r').value(0);
    qsizetype size = 4; // "Hora", then a column "  name (ºC)" each
    for (const QByteArray &name : names) {
        EXPECT_TRUE(config.contains(name.leftJustified(16, ' ')) &&
                    header.contains("  " + name + " (\272C)"))
            << name.toHex().data();
        size += name.size() + 7;
    }
    EXPECT_EQ(std::pair(f.g.n(), header.size()), std::pair(9, size));
}

const QString header = QStringLiteral("Hora  Sala (\u00BAC)");

// Sala saved on COM1, ready to capture.
struct Capturing : Running {
    Capturing()
    {
        add("Sala", "STT28A3F2C501080011");
        window->salvar_Click();
    }
    QStringList lines(const QString &file) const
    {
        return QString::fromLatin1(folder.read(QStringLiteral("1/") + file))
            .split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    }
    // The state a capture leaves the menus, the timer and the caption in.
    void expectCapturing(bool on, const char *file = "07-12-2026-00.log")
    {
        EXPECT_EQ(control<QAction>(*window, "mnucapturar")->isChecked(), on);
        EXPECT_EQ(control<QMenu>(*window, "edicion")->isEnabled(), !on);
        EXPECT_EQ(window->timerInterval(), on ? 1000 : 3000);
        EXPECT_EQ(window->windowTitle(),
                  QStringLiteral("Climalog [COM1]") +
                      (on ? QStringLiteral(" - ") + file : QString()));
    }
};

// A capture started while a tick waits for the network starts when the
// tick ends, so none of its lines is stamped before it began; it goes on
// across midnight. Stopped; started again and stopped during that start's
// own first tick: no capture, polling back at its saved interval. Then a
// device more, whose columns the day's file 00 lacks: the capture asks to
// save the table first.
TEST(CaptureMenu, goesOnAcrossMidnightAndAsksToSaveAChangedTable)
{
    for (auto answer : {Messages::Answer::Ok, Messages::Answer::Cancel}) {
        const bool ok = answer == Messages::Answer::Ok;
        Capturing f;
        sim::setWords(0, sn("28A3F2C501080011"), 215);
        f.clock.set(QDateTime(QDate(2026, 12, 7), QTime(23, 59, 57)));
        // Nothing else runs the timer's event: the click happens during the tick.
        QTimer::singleShot(0, [&] {
            f.clock.advance(2);
            control<QAction>(*f.window, "mnucapturar")->trigger();
            EXPECT_TRUE(f.g.fichero.isEmpty());
        });
        f.window->Timer1_Timer();
        // The capture folder and the plots, during a capture too.
        control<QAction>(*f.window, "mnuver")->trigger();
        EXPECT_EQ(f.explorer.folders, QStringList{f.folder.path() + QStringLiteral("/1")});
        control<QAction>(*f.window, "mnugraficas")->trigger();
        EXPECT_TRUE(std::ranges::any_of(QApplication::topLevelWidgets(), [](QWidget *w) {
            return w->isVisible() && w->windowTitle() == QStringLiteral("Climalog - Gráficas");
        }));
        // Crossing midnight also shifts every due time by the small step.
        for (int k = 0; k < 3; ++k)
            f.tick();
        f.expectCapturing(true, "08-12-2026-00.log");
        EXPECT_EQ(f.lines(QStringLiteral("07-12-2026-00.log")),
                  (QStringList{header, QStringLiteral("07-12-2026 23:59:59  21,5")}));
        EXPECT_EQ(f.lines(QStringLiteral("08-12-2026-00.log")),
                  (QStringList{header, QStringLiteral("08-12-2026 00:00:02  21,5")}));
        control<QAction>(*f.window, "mnucapturar")->trigger();
        QTimer::singleShot(0, [&] { control<QAction>(*f.window, "mnucapturar")->trigger(); });
        control<QAction>(*f.window, "mnucapturar")->trigger();
        f.expectCapturing(false);

        f.add("Puerta", "DET1D5EE30700000055");
        f.messages.answer(answer);
        f.window->mnucapturar_Click();
        EXPECT_EQ(f.messages.texts,
                  QStringList{QStringLiteral(
                      "La configuración ha sido modificada.\r\nDebe salvarla primero.")});
        f.expectCapturing(ok, "08-12-2026-01.log");
        EXPECT_EQ(f.g.modificado, !ok);
        // The configuration keeps the new sequence number.
        EXPECT_EQ(f.folder.read(QStringLiteral("config1.ini")).left(16),
                  ok ? "01              " : "00              ");
        if (ok) {
            EXPECT_EQ(f.lines(f.g.fichero).value(0),
                      header + QStringLiteral("  Puerta - 1  Puerta - 2"));
        }
    }
}

#ifndef _WIN32
TEST(CaptureFaults, pollingAndRelaysGoOnWhateverTheFile)
{
    enum Fallo { SoloLectura, Carpeta, Ocupado };
    const struct {
        const char *name;
        Fallo fallo;
        Messages::Answer answer;
        bool sigue; // the capture still runs afterwards
        int lineas; // lines of the file at the end, header included
        const char *dicho = ""; // the start of what the user is told next: the readings not written
        int espera = 2,
            tras = 0; // ticks while the question is up, before and after the file is writable again
        bool fin = false; // the program is ended while the question is up
        bool finCerrado = false; // ... before the file is writable again
    } rows[] = {
        {"read-only file: retried once writable again, no line lost", SoloLectura,
         Messages::Answer::Retry, true, 5},
        {"read-only file: cancel stops the capture", SoloLectura, Messages::Answer::Cancel, false,
         2,
         "No se han escrito en la captura las lecturas de 07-12-2026 10:00:02 a 07-12-2026 "
         "10:00:04."},
        {"read-only for more than an hour, then cancelled", SoloLectura, Messages::Answer::Cancel,
         false, 2,
         "No se han escrito en la captura las lecturas de 07-12-2026 10:00:02 a 07-12-2026 "
         "11:00:07.",
         3605},
        // The first hour of lines waits in memory; the rest is left out, and told.
        {"writable again after more than an hour, the question still up", SoloLectura,
         Messages::Answer::Retry, true, 3603,
         "No se han escrito en la captura las lecturas de 07-12-2026 11:00:02 a 07-12-2026 "
         "11:00:07: ",
         3605, 1},
        {"ended while the question is up: the waiting lines still reach the file", SoloLectura,
         Messages::Answer::Retry, false, 5, "", 2, 0, true},
        {"ended with one line waiting, the file still read-only: that line is named", SoloLectura,
         Messages::Answer::Retry, false, 2,
         "No se ha escrito en la captura la lectura de 07-12-2026 10:00:02.", 0, 0, true, true},
        {"a folder in the file's place: the capture stops and says why", Carpeta,
         Messages::Answer::Ok, false, 0},
        {"file another program runs: retried once it ends", Ocupado, Messages::Answer::Ok, true, 0},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        Capturing f;
        f.add("Calefaccion", "CTR3A7C11B200000077");
        f.window->salvar_Click();
        control<QAction>(*f.window, "mnucapturar")->trigger();
        const QString path = f.folder.file(QStringLiteral("1/07-12-2026-00.log"));
        SinEscritura cerrojo(f.folder.file(QStringLiteral("1")));
        if (row.fallo == SoloLectura && !cerrojo.cierra())
            GTEST_SKIP() << "write access cannot be taken away here";
        if (row.fallo != SoloLectura)
            QFile::remove(path);
        if (row.fallo == Carpeta)
            QDir().mkdir(path);
        // A running program's file cannot be written: the system says busy.
        QProcess ejecutable;
        if (row.fallo == Ocupado) {
            QFile::copy(QStringLiteral("/bin/sleep"), path);
            QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
            ejecutable.start(path, {QStringLiteral("60")});
            ASSERT_TRUE(ejecutable.waitForStarted());
        }
        // While the question is up the window's timer goes on ticking; then
        // the user makes the file writable again and answers.
        // Readings and relay writes: a logging fault must never stop them.
        const long lecturas = sim::callCount(0, nullptr, "LeerTemperatura"),
                   reles = sim::callCount(0, nullptr, "EscribirCTR");
        int ticksDuringQuestion = 0;
        f.messages.answer(row.answer);
        bool ended = false;
        f.messages.whileShown = [&](const QString &) {
            for (; ticksDuringQuestion < row.espera; ++ticksDuringQuestion)
                f.tick();
            if (row.finCerrado && !std::exchange(ended, true))
                f.window->fin_Click();
            cerrojo.abre();
            ejecutable.kill();
            ejecutable.waitForFinished();
            for (; ticksDuringQuestion < row.espera + row.tras; ++ticksDuringQuestion)
                f.tick();
            if (row.fin)
                f.window->fin_Click();
        };
        f.tick();
        f.tick();
        f.messages.whileShown = nullptr;
        EXPECT_GE(sim::callCount(0, nullptr, "EscribirCTR") - reles,
                  (row.finCerrado ? 1 : 2) + ticksDuringQuestion)
            << "a relay write on every tick";
        EXPECT_GE(sim::callCount(0, nullptr, "LeerTemperatura") - lecturas,
                  1 + ticksDuringQuestion / 2);

        EXPECT_EQ(f.messages.texts.mid(1).join(u'|').left(qstrlen(row.dicho)),
                  QString::fromUtf8(row.dicho));
        ASSERT_EQ(f.messages.texts.size(), *row.dicho ? 2 : 1)
            << f.messages.texts.join(QLatin1Char('|')).toStdString();
        const QString dice = row.fallo == Ocupado
            ? Captura::textoOcupado()
            : QStringLiteral("No se puede escribir en el fichero de captura");
        EXPECT_TRUE(f.messages.texts[0].startsWith(dice)) << f.messages.texts[0].toStdString();
        EXPECT_EQ(f.messages.buttons.front(),
                  row.fallo == SoloLectura ? Messages::Buttons::RetryCancel
                                           : Messages::Buttons::Ok);
        f.expectCapturing(row.sigue);
        const QStringList lines = f.lines(QStringLiteral("07-12-2026-00.log"));
        if (row.fallo ==
            Ocupado) { // the program's bytes, then the lines that waited, the last one last
            EXPECT_TRUE(
                lines.value(lines.size() - 3).startsWith(QStringLiteral("07-12-2026 10:00:02  ")));
            EXPECT_TRUE(lines.last().startsWith(QStringLiteral("07-12-2026 10:00:04  ")));
            continue;
        }
        EXPECT_EQ(lines.size(), row.lineas) << lines.join(QLatin1Char('|')).toStdString();
        EXPECT_EQ(lines.value(0),
                  row.lineas ? header + QStringLiteral("  Calefaccion - 1  Calefaccion - 2")
                             : QString());
    }
}
#endif

}
