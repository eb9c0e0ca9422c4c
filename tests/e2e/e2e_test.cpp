// Whole-program runs: the real main window driven by key clicks, and the
// built program started as a user would start it.
#include "support/windows.h"

#include <QDir>
#include <QDeadlineTimer>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTest>

#include <csignal>

namespace {

// Devices from the demo network of COM1, in sorted order, with what is
// typed for its name: blanks before it go, and the box takes
// 16 characters.
struct Device {
    const char *typed, *name, *type, *serial;
    std::int16_t code;
};
const Device devices[] = {
    {"   Conversor", "Conversor", "AVI", "20C4001A0F000044", AVI},
    {"Rele", "Rele", "CTR", "3A7C11B200000077", CTR},
    {"MMMMMMMMMMMMMMMMX", "MMMMMMMMMMMMMMMM", "STT", "28A3F2C501080011", STT},
};

// The configuration file of these devices, from the record layout: a new
// device has unit gains on a converter, zero elsewhere, blank units and a
// period of one second.
QByteArray expectedFile()
{
    QByteArray file = Rec().text(0, 16, "00").b;
    for (const Device &d : devices) {
        Rec r = Rec().text(0, 16, d.name).raw(16, QByteArray::fromHex(d.serial)).num(24, d.code).text(66, 32, "").num(138, 1);
        // A converter's four adjustments of 1, alarms of 0 and gains of 1.0.
        for (int k = 0; d.code == AVI && k < 4; ++k)
            r.num(26 + 2 * k, 1).num(50 + 4 * k, 0x3F800000, 4);
        file += r.b;
    }
    return file;
}
const char *const network = "port COM1 open\n"
                            "device STT 28A3F2C501080011 words 215 0 0 0\n"
                            "device AVI 20C4001A0F000044 words 100 200 300 400\n"
                            "device CTR 3A7C11B200000077\n";

TEST(EndToEnd, addSaveAndEnd)
{
    MainFixture f;
    sim::load(network);
    ASSERT_TRUE(f.start(QStringLiteral("/1")));
    for (const Device &d : devices) {
        f.window->nombre->clear();
        QTest::keyClicks(f.window->nombre, QString::fromLatin1(d.typed));
        f.window->SN->clear();
        QTest::keyClicks(f.window->SN, QString::fromLatin1(d.type) + QString::fromLatin1(d.serial));
        QTest::mouseClick(f.window->anadir, Qt::LeftButton);
    }
    // Saved: the end asks nothing.
    f.window->salvar->trigger();
    f.window->fin_Click();
    EXPECT_TRUE(f.messages.texts.isEmpty()) << f.messages.texts.join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(f.exitCodes, std::vector<int>{0});
    EXPECT_EQ(f.folder.read(QStringLiteral("config1.ini")), expectedFile());
}

// The built program in a folder of its own, as a user installs it.
TEST(EndToEnd, programStartsPollsAndEndsOnCloseRequest)
{
    TempFolder folder;
    const QDir bin(binFolder());
#ifdef _WIN32
    // The program with the runtime libraries and the platform plugin.
    QStringList files{QStringLiteral("Climalog.exe")};
    files += bin.entryList({QStringLiteral("*.dll"), QStringLiteral("*.DLL")}, QDir::Files);
    QDir(folder.path()).mkdir(QStringLiteral("platforms"));
    for (const QString &name : QDir(bin.filePath(QStringLiteral("platforms"))).entryList(QDir::Files))
        files << QStringLiteral("platforms/") + name;
#else
    const QStringList files{QStringLiteral("Climalog"), SondaIO::fileName()};
#endif
    for (const QString &name : files)
        ASSERT_TRUE(QFile::copy(bin.filePath(name), folder.file(name))) << name.toStdString();
    folder.write(QStringLiteral("config1.ini"), expectedFile());
    // The simulator writes every call it serves to this log.
    folder.write(QStringLiteral("sondanet.txt"), QByteArray("calllog llamadas.txt\n") + network);

    // The program inherits the test's platform and folder. Without a command
    // line it takes its own folder's only configuration and its port.
    QProcess program;
    program.start(folder.file(files.first()), {});
    ASSERT_TRUE(program.waitForStarted(10000));
    // Splash, start-up with its first tick, then the timer's ticks: the
    // polling clock moves at the end of a tick, so a device of period 1 is
    // read again on the second timer tick.
    const QDeadlineTimer deadline(30000);
    while (folder.read(QStringLiteral("llamadas.txt")).count("LeerTemperatura 28A3F2C501080011") < 2 &&
           !deadline.hasExpired())
        ASSERT_FALSE(program.waitForFinished(250)) << program.readAllStandardError().toStdString();
#ifdef _WIN32
    // Under wine the program's windows never see a close request from
    // another process: it is ended, and the closing is left to the Linux run.
    program.kill();
#else
    ::kill(static_cast<pid_t>(program.processId()), SIGTERM);
#endif
    ASSERT_TRUE(program.waitForFinished(10000));

    const QByteArray calls = folder.read(QStringLiteral("llamadas.txt"));
    EXPECT_GE(calls.count("LeerTemperatura 28A3F2C501080011"), 2) << calls.toStdString();
    EXPECT_GE(calls.count("EscribirCTR 3A7C11B200000077"), 2);
#ifndef _WIN32
    EXPECT_EQ(program.exitCode(), 0);
    EXPECT_EQ(calls.count("FinalizarCNX"), 1);
#endif
}

}
