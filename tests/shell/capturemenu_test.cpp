#include "support/windows.h"

#include <QAction>
#include <QDir>
#include <QGroupBox>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTimer>

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
