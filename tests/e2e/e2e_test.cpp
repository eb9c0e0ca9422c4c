// Whole-program runs: the real main window driven by key clicks, and the
// built program started as a user would start it.
#include "monitor/sensoresmodel.h"
#include "support/windows.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGroupBox>
#include <QLineEdit>
#include <QListView>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <QtEndian>

#include <csignal>

namespace {

struct Device {
    const char *name;
    const char *type;
    const char *serial;
    std::int16_t code;
};

// One device of every type from the demo network of COM1, in sorted order.
const Device devices[] = {
    {"Conversor", "AVI", "20C4001A0F000044", 3},
    {"Rele", "CTR", "3A7C11B200000077", 5},
    {"Puerta", "DET", "1D5EE30700000055", 4},
    {"Humedad", "HRT", "26E1905C00000033", 2},
    {"MMMMMMMMMMMMMMMM", "STT", "28A3F2C501080011", 1},
};

QByteArray name16(const char *name)
{
    QByteArray n(name);
    return n.leftJustified(16, ' ', true);
}

void putInt16(QByteArray &record, int offset, std::int16_t value) { qToLittleEndian(value, record.data() + offset); }
void putFloat(QByteArray &record, int offset, float value) { qToLittleEndian(value, record.data() + offset); }

// The configuration file of these devices, from the record layout.
QByteArray expectedFile()
{
    QByteArray file(140, '\0');
    file.replace(0, 16, name16("00"));
    for (const Device &d : devices) {
        QByteArray record(140, '\0');
        record.replace(0, 16, name16(d.name));
        const Serial serial = sn(d.serial);
        record.replace(16, 8, QByteArray(reinterpret_cast<const char *>(serial.data()), 8));
        putInt16(record, 24, d.code);
        const bool avi = d.code == AVI;
        for (int k = 0; k < 4; ++k) {
            putInt16(record, 26 + 2 * k, avi ? 1 : 0);
            putFloat(record, 50 + 4 * k, avi ? 1.0f : 0.0f);
            record.replace(66 + 8 * k, 8, QByteArray(8, ' '));
        }
        putInt16(record, 138, 1);
        file += record;
    }
    return file;
}

void fixWords()
{
    sim::setWords(0, sn("20C4001A0F000044"), 100, 200, 300, 400);
    sim::setWords(0, sn("1D5EE30700000055"), 0, 1);
    sim::setWords(0, sn("26E1905C00000033"), 23, 45);
    sim::setWords(0, sn("28A3F2C501080011"), 215);
}

TEST(EndToEnd, addSaveEndAndStartAgain)
{
    MainFixture f;
    ASSERT_TRUE(f.start(QStringLiteral("/1")));
    f.window->show();
    ASSERT_FALSE(f.window->Nsensor->isHidden());
    fixWords();
    for (const Device &d : devices) {
        f.window->nombre->clear();
        QTest::keyClicks(f.window->nombre, QString::fromLatin1(d.name));
        f.window->SN->clear();
        QTest::keyClicks(f.window->SN, QString::fromLatin1(d.type) + QString::fromLatin1(d.serial));
        ASSERT_TRUE(f.window->anadir->isEnabled()) << d.name;
        QTest::mouseClick(f.window->anadir, Qt::LeftButton);
    }
    ASSERT_EQ(f.g.n(), 5);
    for (int k = 0; k < 3; ++k) {
        f.clock.advance(3);
        f.window->Timer1_Timer();
    }
    f.window->salvar->trigger();
    EXPECT_FALSE(f.g.modificado);
    f.window->fin_Click();
    EXPECT_TRUE(f.messages.texts.isEmpty()) << f.messages.texts.join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(f.exitCodes, std::vector<int>{0});
    EXPECT_EQ(f.folder.read(QStringLiteral("config1.ini")), expectedFile());

    // A new run on the same folder finds the same devices and polls them.
    General g2;
    g2.appFolder = f.folder.path();
    sim::load(nullptr);
    fixWords();
    std::vector<int> exits;
    principal again(g2, f.io.get(), {f.clock, f.messages, f.explorer, [&](int c) { exits.push_back(c); }, nullptr});
    ASSERT_TRUE(again.Form_Load(QString()));
    EXPECT_TRUE(again.Nsensor->isHidden());
    QStringList lines;
    for (int row = 0; row < again.model()->rowCount(); ++row)
        lines << again.model()->index(row).data().toString();
    // Narrow names get one separator more before the serial.
    QStringList expected{
        QStringLiteral("AVI  Conversor           20C4001A0F000044  100   200   300   400 "),
        QStringLiteral("CTR  Rele                3A7C11B200000077  1  1"),
        QStringLiteral("DET  Puerta              1D5EE30700000055  1  0"),
        QStringLiteral("HRT  Humedad             26E1905C00000033  23 ºC  45 %"),
        QStringLiteral("STT  MMMMMMMMMMMMMMMM  28A3F2C501080011  21.5 ºC"),
    };
#ifdef _WIN32
    // The padding follows each name's width in the window's font, and wine
    // has no Arial: the fields are compared, the padding is left to Linux.
    for (QStringList *list : {&lines, &expected})
        for (QString &line : *list)
            line = line.simplified();
#endif
    EXPECT_EQ(lines, expected);
    again.fin_Click();
    EXPECT_EQ(exits, std::vector<int>{0});
}

// The built program in a folder of its own, as a user installs it.
TEST(EndToEnd, programStartsPollsAndEndsOnCloseRequest)
{
    TempFolder folder;
#ifdef _WIN32
    // The program with the runtime libraries and the platform plugin.
    const QDir bin(binFolder());
    QStringList files = bin.entryList({QStringLiteral("*.dll"), QStringLiteral("*.DLL")}, QDir::Files);
    files << QStringLiteral("Climalog.exe");
    QDir(folder.path()).mkdir(QStringLiteral("platforms"));
    for (const QString &name : QDir(bin.filePath(QStringLiteral("platforms"))).entryList(QDir::Files))
        files << QStringLiteral("platforms/") + name;
    for (const QString &name : files)
        ASSERT_TRUE(QFile::copy(bin.filePath(name), folder.file(name))) << name.toStdString();
    const QString exe = folder.file(QStringLiteral("Climalog.exe"));
#else
    for (const QString &name : {QStringLiteral("Climalog"), SondaIO::fileName()})
        ASSERT_TRUE(QFile::copy(QDir(binFolder()).filePath(name), folder.file(name)));
    const QString exe = folder.file(QStringLiteral("Climalog"));
    QFile::setPermissions(exe, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
#endif
    const QByteArray config = expectedFile();
    folder.write(QStringLiteral("config1.ini"), config);
    // The simulator writes every call it serves to this log.
    folder.write(QStringLiteral("sondanet.txt"),
                 QByteArray("calllog llamadas.txt\nport COM1 open\n"
                            "device STT 28A3F2C501080011 value 215\n"
                            "device HRT 26E1905C00000033 value 23 45\n"
                            "device AVI 20C4001A0F000044 value 100 200 300 400\n"
                            "device DET 1D5EE30700000055 value 0 1\n"
                            "device CTR 3A7C11B200000077\n"));

    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    program.setProcessEnvironment(env);
    program.setWorkingDirectory(folder.path());
    program.start(exe, {QStringLiteral("/1")});
    ASSERT_TRUE(program.waitForStarted(10000));
    // Splash, start-up with its first tick, then the timer's ticks: the
    // polling clock moves at the end of a tick, so a device of period 1 is
    // read again on the second timer tick.
    QElapsedTimer waited;
    waited.start();
    while (folder.read(QStringLiteral("llamadas.txt")).count("LeerTemperatura 28A3F2C501080011") < 2 &&
           waited.elapsed() < 30000)
        ASSERT_FALSE(program.waitForFinished(250)) << program.readAllStandardError().toStdString();
#ifdef _WIN32
    // Under wine the program's windows never see a close request from
    // another process: it is ended, and the closing is left to the Linux run.
    program.kill();
    ASSERT_TRUE(program.waitForFinished(10000));
#else
    ::kill(static_cast<pid_t>(program.processId()), SIGTERM);
    ASSERT_TRUE(program.waitForFinished(10000));
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 0);
#endif

    const QByteArray calls = folder.read(QStringLiteral("llamadas.txt"));
    EXPECT_GE(calls.count("LeerTemperatura 28A3F2C501080011"), 2) << calls.toStdString();
    EXPECT_GE(calls.count("EscribirCTR 3A7C11B200000077"), 2);
#ifndef _WIN32
    EXPECT_EQ(calls.count("FinalizarCNX"), 1);
#endif
    EXPECT_EQ(folder.read(QStringLiteral("config1.ini")), config);
}

}
