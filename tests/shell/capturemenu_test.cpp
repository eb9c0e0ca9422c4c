#include "support/windows.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QLineEdit>
#include <QMenu>
#include <QProcess>
#include <QPushButton>
#include <QTimer>

#ifndef _WIN32
#include <csignal>
#include <sys/mount.h>
#include <sys/resource.h>
#endif

namespace {

struct Capturing : MainFixture {
    explicit Capturing(const char *commandLine = "/1")
    {
        EXPECT_TRUE(start(QString::fromLatin1(commandLine)));
    }
    void add(const QString &name, const QString &serialBox)
    {
        if (!window->mnueditar->isChecked())
            window->mnueditar_Click();
        window->nombre->setText(name);
        window->SN->setText(serialBox);
        window->anadir->click();
    }
    QStringList lines(const QString &file) const
    {
        QStringList out = QString::fromLatin1(folder.read(QStringLiteral("1/") + file)).split(QStringLiteral("\r\n"));
        if (!out.isEmpty() && out.last().isEmpty())
            out.removeLast();
        return out;
    }
};

const QString question = QStringLiteral("La configuración ha sido modificada.\r\nDebe salvarla primero.");

TEST(CaptureMenu, startAndStop)
{
    Capturing f;
    f.add(QStringLiteral("Sala"), QStringLiteral("STT28A3F2C501080011"));
    f.window->salvar_Click();
    sim::setWords(0, sn("28A3F2C501080011"), 215);
    f.window->mnucapturar->trigger();
    EXPECT_TRUE(f.messages.texts.isEmpty());
    EXPECT_EQ(f.window->windowTitle(), QStringLiteral("Climalog [COM1] - 07-12-2026-00.log"));
    EXPECT_TRUE(f.window->mnucapturar->isChecked());
    EXPECT_FALSE(f.window->edicion->isEnabled());
    EXPECT_FALSE(f.window->fichero->isEnabled());
    EXPECT_TRUE(f.window->Nsensor->isHidden());
    EXPECT_EQ(f.window->timerInterval(), 1000);
    EXPECT_EQ(f.lines(QStringLiteral("07-12-2026-00.log")),
              (QStringList{QStringLiteral("Hora  Sala (\u00BAC)"), QStringLiteral("07-12-2026 10:00:00  21,5")}));

    // The polling clock moves at the end of a tick: a device of period 1 is
    // due again on the second tick after its read.
    f.clock.advance(1);
    f.window->Timer1_Timer();
    EXPECT_EQ(f.lines(QStringLiteral("07-12-2026-00.log")).size(), 2);
    f.clock.advance(1);
    f.window->Timer1_Timer();
    EXPECT_EQ(f.lines(QStringLiteral("07-12-2026-00.log")).size(), 3);

    f.window->mnucapturar->trigger();
    EXPECT_FALSE(f.window->mnucapturar->isChecked());
    EXPECT_TRUE(f.window->edicion->isEnabled());
    EXPECT_TRUE(f.window->fichero->isEnabled());
    EXPECT_EQ(f.window->windowTitle(), QStringLiteral("Climalog [COM1]"));
    EXPECT_EQ(f.window->timerInterval(), 3000);
}

TEST(CaptureMenu, changedDevicesAskToSaveFirst)
{
    for (auto answer : {Messages::Answer::Ok, Messages::Answer::Cancel}) {
        Capturing f;
        f.add(QStringLiteral("Sala"), QStringLiteral("STT28A3F2C501080011"));
        f.window->salvar_Click();
        f.window->mnucapturar_Click();
        f.window->mnucapturar_Click();
        // A device more: the day's file 00 has other columns.
        f.add(QStringLiteral("Puerta"), QStringLiteral("DET1D5EE30700000055"));
        f.messages.answer(answer);
        f.window->mnucapturar_Click();
        EXPECT_EQ(f.messages.texts, QStringList{question});
        EXPECT_EQ(f.messages.buttons.back(), Messages::Buttons::OkCancel);
        if (answer == Messages::Answer::Ok) {
            EXPECT_EQ(f.g.fichero, QStringLiteral("07-12-2026-01.log"));
            EXPECT_FALSE(f.g.modificado);
            // The configuration keeps the new sequence number.
            EXPECT_EQ(f.folder.read(QStringLiteral("config1.ini")).left(16), QByteArray("01              "));
            EXPECT_EQ(f.lines(QStringLiteral("07-12-2026-01.log")).first(),
                      QStringLiteral("Hora  Sala (\u00BAC)  Puerta - 1  Puerta - 2"));
        } else {
            EXPECT_TRUE(f.g.fichero.isEmpty());
            EXPECT_FALSE(f.window->mnucapturar->isChecked());
            EXPECT_EQ(f.window->timerInterval(), 3000);
            EXPECT_TRUE(f.g.modificado);
        }
    }
}

TEST(CaptureMenu, capturesAcrossMidnight)
{
    Capturing f;
    f.add(QStringLiteral("Sala"), QStringLiteral("STT28A3F2C501080011"));
    f.window->salvar_Click();
    f.clock.set(QDateTime(QDate(2026, 12, 7), QTime(23, 59, 59)));
    f.window->mnucapturar_Click();
    // Crossing midnight also shifts every due time by the small step.
    for (int k = 0; k < 3; ++k) {
        f.clock.advance(1);
        f.window->Timer1_Timer();
    }
    EXPECT_EQ(f.window->windowTitle(), QStringLiteral("Climalog [COM1] - 08-12-2026-00.log"));
    const QStringList next = f.lines(QStringLiteral("08-12-2026-00.log"));
    ASSERT_EQ(next.size(), 2);
    EXPECT_EQ(next[0], QStringLiteral("Hora  Sala (\u00BAC)"));
    EXPECT_TRUE(next[1].startsWith(QStringLiteral("08-12-2026 00:00:02  "))) << next[1].toStdString();
    EXPECT_EQ(f.lines(QStringLiteral("07-12-2026-00.log")).size(), 2);
}

TEST(CaptureMenu, commandLineStartsACapture)
{
    MainFixture f;
    f.folder.write(QStringLiteral("config1.ini"), [] {
        QByteArray file(280, '\0');
        file.replace(0, 16, "00              ");
        file.replace(140, 16, "Sala            ");
        const Serial s = sn("28A3F2C501080011");
        file.replace(156, 8, QByteArray(reinterpret_cast<const char *>(s.data()), 8));
        file[164] = 1;
        file[278] = 1;
        return file;
    }());
    ASSERT_TRUE(f.start(QStringLiteral("/cap /1")));
    EXPECT_EQ(f.g.fichero, QStringLiteral("07-12-2026-00.log"));
    EXPECT_TRUE(f.window->mnucapturar->isChecked());
    EXPECT_TRUE(QFile::exists(f.folder.file(QStringLiteral("1/07-12-2026-00.log"))));
}

TEST(CaptureMenu, viewerOpensThePortFolderEvenBeforeAnyCapture)
{
    Capturing f("/2");
    f.window->mnuver->trigger();
    EXPECT_EQ(f.explorer.folders, QStringList{f.folder.path() + QStringLiteral("/2")});
}

}

namespace {

// The menu used while a tick waits for the network: the capture starts when
// the tick ends, so none of its lines is stamped before it began.
TEST(CaptureMenu, startedDuringATickWaitsForItsEnd)
{
    Capturing f;
    f.add(QStringLiteral("Sala"), QStringLiteral("STT28A3F2C501080011"));
    f.add(QStringLiteral("Pasillo"), QStringLiteral("STT2800B74410FF0022"));
    f.window->salvar_Click();
    f.clock.advance(3);
    bool clicked = false;
    QTimer::singleShot(0, [&] {
        f.clock.advance(2);
        f.window->mnucapturar->trigger();
        clicked = true;
        EXPECT_TRUE(f.g.fichero.isEmpty());
    });
    f.window->Timer1_Timer();
    ASSERT_TRUE(clicked);
    EXPECT_EQ(f.g.fichero, QStringLiteral("07-12-2026-00.log"));
    const QStringList lines = f.lines(f.g.fichero);
    ASSERT_EQ(lines.size(), 2);
    EXPECT_TRUE(lines[1].startsWith(QStringLiteral("07-12-2026 10:00:05  "))) << lines[1].toStdString();
    EXPECT_EQ(f.window->timerInterval(), 1000);
}

}

namespace {

TEST(CaptureMenu, plotsOpenDuringACapture)
{
    Capturing f;
    f.add(QStringLiteral("Sala"), QStringLiteral("STT28A3F2C501080011"));
    f.window->salvar_Click();
    f.window->mnucapturar->trigger();
    ASSERT_FALSE(f.g.fichero.isEmpty());
    ASSERT_TRUE(f.window->mnugraficas->isEnabled());
    f.window->mnugraficas->trigger();
    QWidget *plots = nullptr;
    for (QWidget *w : QApplication::topLevelWidgets())
        if (w->isVisible() && w->windowTitle() == QStringLiteral("Climalog - Gráficas"))
            plots = w;
    EXPECT_TRUE(plots);
}

}

#ifndef _WIN32
namespace {

// A small file system mounted over a folder for the test's life, so the disk
// really fills; where mounting is not allowed, a file size limit makes the
// same writes fail for another real reason.
class DiscoLleno {
public:
    explicit DiscoLleno(QString folder) : folder_(std::move(folder))
    {
        QDir().mkpath(folder_);
        mounted_ = ::mount("tmpfs", QFile::encodeName(folder_).constData(), "tmpfs", 0, "size=64k") == 0;
    }
    ~DiscoLleno()
    {
        if (mounted_)
            ::umount2(QFile::encodeName(folder_).constData(), MNT_DETACH);
        ::setrlimit(RLIMIT_FSIZE, &old_);
    }
    // Leaves no room for another line.
    void llena()
    {
        if (mounted_) {
            QFile filler(folder_ + QStringLiteral("/relleno"));
            if (filler.open(QIODevice::WriteOnly))
                while (filler.write(QByteArray(4096, 'x')) > 0 && filler.flush()) {
                }
            return;
        }
        ::signal(SIGXFSZ, SIG_IGN);
        ::getrlimit(RLIMIT_FSIZE, &old_);
        rlimit tight = old_;
        tight.rlim_cur = static_cast<rlim_t>(QFileInfo(folder_ + QStringLiteral("/07-12-2026-00.log")).size());
        ::setrlimit(RLIMIT_FSIZE, &tight);
    }

private:
    QString folder_;
    bool mounted_ = false;
    rlimit old_{RLIM_INFINITY, RLIM_INFINITY};
};

// Readings and relay writes of the capture's devices: a logging fault must
// never stop them.
struct Trafico {
    long lecturas = sim::callCount(0, nullptr, "LeerTemperatura");
    long reles = sim::callCount(0, nullptr, "EscribirCTR");
};

TEST(CaptureFaults, pollingAndRelaysGoOnWhateverTheFile)
{
    enum Fallo { SoloLectura, DiscoLlenoFallo, Borrado, Ocupado };
    struct Row {
        const char *name;
        Fallo fallo;
        Messages::Answer answer; // to the question, when one is asked
        const char *message;     // its start
        Messages::Buttons buttons;
        bool sigue;  // the capture still runs afterwards
        int lineas;  // lines of the file at the end, header included
    };
    const Row rows[] = {
        {"read-only file: retried once writable again, no line lost", SoloLectura, Messages::Answer::Retry,
         "No se puede escribir en el fichero de captura", Messages::Buttons::RetryCancel, true, 5},
        {"read-only file: cancel stops the capture", SoloLectura, Messages::Answer::Cancel,
         "No se puede escribir en el fichero de captura", Messages::Buttons::RetryCancel, false, 2},
        {"full disk: the capture stops and says why", DiscoLlenoFallo, Messages::Answer::Ok,
         "No se puede escribir en el fichero de captura", Messages::Buttons::Ok, false, -1},
        {"file deleted: written again with its header", Borrado, Messages::Answer::Ok, nullptr, Messages::Buttons::Ok, true, 2},
        {"file another program runs: retried once closed", Ocupado, Messages::Answer::Ok,
         "El fichero de datos está siendo utilizando por la aplicación. Cierrela", Messages::Buttons::Ok, true, 0},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        Capturing f;
        DiscoLleno disco(f.folder.file(QStringLiteral("1")));
        f.add(QStringLiteral("Sala"), QStringLiteral("STT28A3F2C501080011"));
        f.add(QStringLiteral("Calefaccion"), QStringLiteral("CTR3A7C11B200000077"));
        // Lines longer than a page of the file system, so each one needs
        // room the full disk no longer has.
        for (int k = 0; row.fallo == DiscoLlenoFallo && k < 250; ++k)
            addDevice(f.g, {AVI, QByteArray("Z").append(QByteArray::number(k)).constData(), false});
        f.window->salvar_Click();
        f.window->mnucapturar->trigger();
        ASSERT_EQ(f.g.fichero, QStringLiteral("07-12-2026-00.log"));
        const QString path = f.folder.file(QStringLiteral("1/07-12-2026-00.log"));

        SinEscritura cerrojo(f.folder.file(QStringLiteral("1")));
        QProcess ejecutable;
        switch (row.fallo) {
        case SoloLectura:
            if (!cerrojo.cierra())
                GTEST_SKIP() << "write access cannot be taken away here";
            break;
        case DiscoLlenoFallo:
            disco.llena();
            break;
        case Borrado:
            QFile::remove(path);
            break;
        case Ocupado:
            // A running program's file cannot be written: the system says busy.
            QFile::remove(path);
            QFile::copy(QStringLiteral("/bin/sleep"), path);
            QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
            ejecutable.start(path, {QStringLiteral("60")});
            ASSERT_TRUE(ejecutable.waitForStarted());
            break;
        }
        // While the question is up the window's timer goes on ticking; then
        // the user makes the file writable again and answers.
        const Trafico antes;
        int ticksDuringQuestion = 0;
        f.messages.answer(row.answer);
        f.messages.whileShown = [&](const QString &) {
            for (int k = 0; k < 2; ++k, ++ticksDuringQuestion) {
                f.clock.advance(1);
                f.window->Timer1_Timer();
            }
            cerrojo.abre();
            ejecutable.kill();
            ejecutable.waitForFinished();
        };
        f.clock.advance(1);
        f.window->Timer1_Timer();
        f.clock.advance(1);
        f.window->Timer1_Timer();
        f.messages.whileShown = nullptr;
        const Trafico despues;
        EXPECT_GE(despues.reles - antes.reles, 2 + ticksDuringQuestion) << "a relay write on every tick";
        EXPECT_GE(despues.lecturas - antes.lecturas, 1 + ticksDuringQuestion / 2);

        if (row.message) {
            ASSERT_EQ(f.messages.texts.size(), 1) << f.messages.texts.join(QLatin1Char('|')).toStdString();
            EXPECT_TRUE(f.messages.texts[0].startsWith(QString::fromUtf8(row.message))) << f.messages.texts[0].toStdString();
            EXPECT_EQ(f.messages.buttons.front(), row.buttons);
            EXPECT_EQ(ticksDuringQuestion, 2);
        } else {
            EXPECT_TRUE(f.messages.texts.isEmpty());
        }
        EXPECT_EQ(!f.g.fichero.isEmpty(), row.sigue);
        EXPECT_EQ(f.window->mnucapturar->isChecked(), row.sigue);
        EXPECT_EQ(f.window->timerInterval(), row.sigue ? 1000 : 3000);
        EXPECT_EQ(f.window->windowTitle(), row.sigue ? QStringLiteral("Climalog [COM1] - 07-12-2026-00.log") : QStringLiteral("Climalog [COM1]"));
        const QStringList lines = f.lines(QStringLiteral("07-12-2026-00.log"));
        if (row.lineas < 0) {
            EXPECT_TRUE(lines.value(0).startsWith(QStringLiteral("Hora  Z0 - a ()  Z0 - b ()"))) << lines.value(0).left(40).toStdString();
        } else if (row.lineas > 0) {
            EXPECT_EQ(lines.size(), row.lineas) << lines.join(QLatin1Char('|')).toStdString();
            EXPECT_EQ(lines.value(0), QStringLiteral("Hora  Sala (\u00BAC)  Calefaccion - 1  Calefaccion - 2"));
        } else {
            // The program's bytes, then every line that waited, in order.
            ASSERT_GE(lines.size(), 4);
            EXPECT_TRUE(lines[lines.size() - 3].startsWith(QStringLiteral("07-12-2026 10:00:02  ")));
            EXPECT_TRUE(lines.last().startsWith(QStringLiteral("07-12-2026 10:00:04  ")));
        }
    }
}

}

#endif

namespace {

// Stopping the capture while its start reads the devices for the first time.
TEST(CaptureMenu, stoppedDuringItsFirstTick)
{
    Capturing f;
    f.add(QStringLiteral("Sala"), QStringLiteral("STT28A3F2C501080011"));
    f.window->salvar_Click();
    bool clicked = false;
    QTimer::singleShot(0, [&] {
        f.window->mnucapturar->trigger();
        clicked = true;
    });
    f.window->mnucapturar->trigger();
    ASSERT_TRUE(clicked);
    EXPECT_TRUE(f.g.fichero.isEmpty());
    EXPECT_FALSE(f.window->mnucapturar->isChecked());
    EXPECT_EQ(f.window->timerInterval(), 3000);
}

}
