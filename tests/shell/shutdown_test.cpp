#include "shell/inicio.h"
#include "shell/logo.h"
#include "registry/configfile.h"
#include "support/windows.h"

#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

namespace {

long finalizarCalls() { return sim::callCount(0, nullptr, "FinalizarCNX"); }

struct Running : MainFixture {
    Running() { EXPECT_TRUE(start(QStringLiteral("/1"))); }
    void addDevice()
    {
        window->nombre->setText(QStringLiteral("Sala"));
        window->SN->setText(QStringLiteral("STT28A3F2C501080011"));
        window->anadir_Click();
    }
};

const QString saveQuestion = QStringLiteral("Los cambios se perderan.\r\n¿Desea salvar la configuración?");

TEST(Shutdown, unchangedConfigurationAsksNothing)
{
    Running f;
    f.window->fin_Click();
    EXPECT_TRUE(f.messages.texts.isEmpty());
    EXPECT_EQ(f.exitCodes, std::vector<int>{0});
    EXPECT_EQ(finalizarCalls(), 1);
}

TEST(Shutdown, changedConfigurationAsksOnce)
{
    for (auto answer : {Messages::Answer::Yes, Messages::Answer::No}) {
        Running f;
        f.addDevice();
        f.messages.answer(answer);
        f.window->fin_Click();
        EXPECT_EQ(f.messages.texts, QStringList{saveQuestion});
        EXPECT_EQ(f.exitCodes, std::vector<int>{0});
        EXPECT_EQ(QFile::exists(f.folder.file(QStringLiteral("config1.ini"))), answer == Messages::Answer::Yes);
        EXPECT_EQ(finalizarCalls(), 1);
    }
}

TEST(Shutdown, failedSaveAsksBeforeLosingTheChanges)
{
    for (auto second : {Messages::Answer::No, Messages::Answer::Yes}) {
        Running f;
        f.addDevice();
        // A folder where the file should be: the save cannot replace it.
        QDir(f.folder.path()).mkdir(QStringLiteral("config1.ini"));
        f.messages.answer(Messages::Answer::Yes);
        f.messages.answer(second);
        f.window->fin_Click();
        ASSERT_EQ(f.messages.texts.size(), 2);
        EXPECT_TRUE(f.messages.texts[1].endsWith(QStringLiteral("\r\n¿Desea terminar sin salvar la configuración?")))
            << f.messages.texts[1].toStdString();
        EXPECT_EQ(f.messages.buttons[1], Messages::Buttons::YesNo);
        EXPECT_EQ(f.exitCodes.empty(), second == Messages::Answer::No);
        EXPECT_TRUE(f.g.modificado);
    }
}

TEST(Shutdown, closeBoxBehavesLikeFin)
{
    Running f;
    f.addDevice();
    f.window->show();
    f.messages.answer(Messages::Answer::No);
    f.window->close();
    EXPECT_EQ(f.messages.texts, QStringList{saveQuestion});
    EXPECT_EQ(f.exitCodes, std::vector<int>{0});
}

TEST(Shutdown, ignoredConnectionFailureClosesNothing)
{
    MainFixture f;
    f.messages.answer(Messages::Answer::Yes);
    f.choosePort = [&] {
        inicio window(f.g, f.io.get(), f.messages);
        window.RSport->setCurrentIndex(2);
        emit window.RSport->activated(2);
        window.iniciar_Click();
    };
    ASSERT_TRUE(f.start(QStringLiteral("/test")));
    f.window->fin_Click();
    EXPECT_EQ(sim::callCount(2, nullptr, "FinalizarCNX"), 0);
    EXPECT_EQ(f.exitCodes, std::vector<int>{0});
}

TEST(About, threeLines)
{
    Running f;
    f.window->mnuabout_Click();
    ASSERT_EQ(f.messages.texts.size(), 1);
    const QStringList lines = f.messages.texts[0].split(QStringLiteral("\r\n"));
    ASSERT_EQ(lines.size(), 3);
    EXPECT_EQ(lines[0], QStringLiteral("Climalog v1.1"));
    EXPECT_EQ(f.messages.buttons[0], Messages::Buttons::Ok);
}

// A clock whose steady counter moves 100 ms per reading while its time of
// day crosses midnight.
class MidnightClock final : public Clock {
public:
    QDateTime now() const override { return QDateTime(QDate(2026, 12, 7), QTime(23, 59, 59)).addMSecs(qint64(t_ * 1000)); }
    double elapsed() const override
    {
        t_ += 0.1;
        ++reads;
        return t_;
    }
    mutable double t_ = 0;
    mutable int reads = 0;
};

TEST(Splash, waitsJustOverASecondAcrossMidnight)
{
    application();
    MidnightClock clock;
    int shown = 0;
    logo splash(clock, [&] { ++shown; });
    splash.show();
    QCoreApplication::processEvents();
    EXPECT_EQ(shown, 1);
    EXPECT_TRUE(splash.isHidden());
    // t0, then readings until more than one second has passed.
    EXPECT_EQ(clock.reads, 12);
    EXPECT_EQ(splash.Image1->size(), splash.size());
}

// The first tick runs before the main window shows, behind the splash: the
// splash says which read is under way, one line per read.
TEST(Splash, saysWhichReadTheFirstTickIsAt)
{
    MainFixture f;
    QByteArray file = QByteArray("00").leftJustified(140, ' ');
    const char *serials[] = {"28A3F2C501080011", "2800B74410FF0022", "26E1905C00000033", "20C4001A0F000044",
                             "1D5EE30700000055", "1D0000FF00FF0066", "3A7C11B200000077", "3AFFFFFFFFFFFF88"};
    const std::int16_t types[] = {STT, STT, HRT, AVI, DET, DET, CTR, CTR};
    for (int k = 0; k < 8; ++k) {
        Dispositivo d;
        d.nombre = QStringLiteral("D%1").arg(k);
        d.sn = sn(serials[k]);
        d.tipo = types[k];
        d.periodo = 1;
        char record[140];
        configfile::encode(d, record);
        file.append(record, 140);
    }
    f.folder.write(QStringLiteral("config1.ini"), file);
    MidnightClock clock;
    bool started = false;
    // As the program starts: the splash waits, then loads the main window.
    logo splash(clock, [&] {
        started = f.window->Form_Load(QStringLiteral("/1"), [&](int k, int n) { splash.avance(k, n); });
    });
    QStringList said;
    sim::onCall([&](const char *call) {
        if (QByteArray(call).startsWith("Leer") && splash.isVisible())
            said << splash.estado->text();
    });
    splash.show();
    QCoreApplication::processEvents();
    sim::onCall({});
    ASSERT_TRUE(started);
    QStringList expected;
    for (int k = 1; k <= 8; ++k)
        expected << QStringLiteral("Leyendo dispositivos\u2026 %1 de 8").arg(k);
    EXPECT_EQ(said, expected);
}

}
