// Whole-program runs: the real main window driven by key clicks, and the
// built program started as a user would start it.
#include "monitor/sensoresmodel.h"
#include "shell/portlock.h"
#include "support/controls.h"
#include "support/windows.h"

#include <QDir>
#include <QDeadlineTimer>
#include <QLineEdit>
#include <QListView>
#include <QProcess>
#include <QPushButton>
#include <QTest>

#include <csignal>
#include <tuple>

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
        Rec r = Rec::device(d.name, d.code, d.serial).text(66, 32, "").num(138, 1);
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

// In the afternoon, without a configuration file: what is added is read on
// the next tick.
TEST(EndToEnd, addSaveAndEnd)
{
    MainFixture f;
    sim::load(network);
    f.clock.set(QDateTime(QDate(2026, 12, 7), QTime(14, 0)));
    ASSERT_TRUE(f.start(QStringLiteral("/1")));
    for (const Device &d : devices) {
        control<QLineEdit>(*f.window, "nombre")->clear();
        QTest::keyClicks(control<QLineEdit>(*f.window, "nombre"), QString::fromLatin1(d.typed));
        control<QLineEdit>(*f.window, "SN")->clear();
        QTest::keyClicks(control<QLineEdit>(*f.window, "SN"),
                         QString::fromLatin1(d.type) + QString::fromLatin1(d.serial));
        QTest::mouseClick(control<QPushButton>(*f.window, "anadir"), Qt::LeftButton);
    }
    f.clock.advance(3), f.window->Timer1_Timer();
    for (int row = 0; row < 3; ++row)
        EXPECT_FALSE(
            f.window->model()->index(row).data().toString().endsWith(QStringLiteral("ERR")))
            << row;
    // Saved: the end asks nothing.
    control<QAction>(*f.window, "salvar")->trigger();
    f.window->fin_Click();
    EXPECT_TRUE(f.messages.texts.isEmpty())
        << f.messages.texts.join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(f.exitCodes, std::vector<int>{0});
    EXPECT_EQ(f.folder.read(QStringLiteral("config1.ini")), expectedFile());
}

// The devices above, by hand: the converter's gains 0.5, 2, -1 and 0.25;
// the sensor driving output 1 of the relay device between 18 and 22 ºC. Each
// channel is shown and captured times its own gain; deleting the converter,
// above the relay device, leaves the tick switching that relay.
TEST(EndToEnd, gainsPerChannelAndADeletionAboveTheRelay)
{
    MainFixture f;
    sim::load(network);
    f.folder.write(QStringLiteral("config1.ini"),
                   expectedFile()
                       .replace(190, 16, QByteArray::fromHex("0000003f00000040000080bf0000803e"))
                       .replace(454, 8, QByteArray::fromHex("000090410000b041"))
                       .replace(550, 1, "\x01")
                       .replace(518, 8, QByteArray::fromHex("3A7C11B200000077")));
    ASSERT_TRUE(f.start(QStringLiteral("/cap /1")));
    EXPECT_TRUE(f.window->model()->index(0).data().toString().endsWith(
        QStringLiteral("20C4001A0F000044  50   400   -300   100 ")));
    EXPECT_EQ(f.folder.read(QStringLiteral("1/07-12-2026-00.log")).split('\n').value(1),
              "07-12-2026 10:00:00  50  400  -300  100  21,5  1  1\r");
    control<QAction>(*f.window, "mnucapturar")->trigger(),
        control<QAction>(*f.window, "mnueditar")->trigger();
    QTest::mouseClick(control<QListView>(*f.window, "Sensores")->viewport(), Qt::LeftButton, {},
                      control<QListView>(*f.window, "Sensores")
                          ->visualRect(f.window->model()->index(0))
                          .center());
    QTest::mouseClick(control<QPushButton>(*f.window, "Borrar"), Qt::LeftButton);
    sim::setWords(0, sn("28A3F2C501080011"), 150); // 15 ºC, below the minimum: on
    f.clock.advance(3), f.window->Timer1_Timer(), f.clock.advance(3), f.window->Timer1_Timer();
    std::int16_t w1 = -1, w2 = -1;
    const long writes = sim::relayWords(0, sn("3A7C11B200000077"), w1, w2);
    EXPECT_EQ(std::tuple(f.g.n(), writes, w1, w2), std::tuple(2, 4L, 1, 0))
        << "the relay written on every tick, on at last";
}

// The built program in a folder of its own, as a user installs it. A
// message at start-up never holds the polling: the program reads and writes
// the relays while nobody answers it.
TEST(EndToEnd, programStartsPollsAndEndsOnCloseRequest)
{
    const QByteArray sorted = expectedFile(),
                     unsorted = sorted.left(140) + sorted.mid(420) + sorted.mid(280, 140) +
        sorted.mid(140, 140);
    const struct {
        const char *name, *line;
        QByteArray config;
        bool asks;
        int sig = SIGTERM;
    } runs[] = {
        {"its own configuration", "", sorted, false},
        {"its own configuration, Ctrl+C in its terminal", "", sorted, false, SIGINT},
        {"a sequence number that is not two digits", "", QByteArray(sorted).replace(0, 2, "7 "),
         true},
        {"a capture that asks to save first", "/cap", unsorted, true},
    };
    for (const auto &run : runs) {
        SCOPED_TRACE(run.name);
        TempFolder folder;
        const QDir bin(binFolder());
#ifdef _WIN32
        // The program with the runtime libraries and the platform plugin.
        QStringList files{QStringLiteral("Climalog.exe")};
        files += bin.entryList({QStringLiteral("*.dll"), QStringLiteral("*.DLL")}, QDir::Files);
        QDir(folder.path()).mkdir(QStringLiteral("platforms"));
        for (const QString &name :
             QDir(bin.filePath(QStringLiteral("platforms"))).entryList(QDir::Files))
            files << QStringLiteral("platforms/") + name;
#else
        const QStringList files{QStringLiteral("Climalog"), SondaIO::fileName()};
#endif
        for (const QString &name : files)
            ASSERT_TRUE(QFile::copy(bin.filePath(name), folder.file(name))) << name.toStdString();
        folder.write(QStringLiteral("config1.ini"), run.config);
        // The simulator writes every call it serves to this log.
        folder.write(QStringLiteral("sondanet.txt"),
                     QByteArray("calllog llamadas.txt\n") + network);

        // The program inherits the test's platform and folder. Without a port
        // on its command line it takes its own folder's only configuration.
        QProcess program;
        program.start(folder.file(files.first()),
                      QString::fromLatin1(run.line).split(u' ', Qt::SkipEmptyParts));
        ASSERT_TRUE(program.waitForStarted(10000));
        // Splash, start-up with its first tick, then the timer's ticks: the
        // polling clock moves at the end of a tick, so a device of period 1 is
        // read again on the second timer tick.
        const QDeadlineTimer deadline(30000);
        while (
            folder.read(QStringLiteral("llamadas.txt")).count("LeerTemperatura 28A3F2C501080011") <
                2 &&
            !deadline.hasExpired())
            ASSERT_FALSE(program.waitForFinished(250))
                << program.readAllStandardError().toStdString();
        // The running program holds its configuration; ended in any way,
        // killed too, it holds nothing.
        PortLock::Status lock = PortLock::Status::Held;
        EXPECT_FALSE(PortLock::take(folder.file(QStringLiteral("config1.ini")), lock));
        EXPECT_EQ(lock, PortLock::Status::Busy);
#ifdef _WIN32
        // Under wine the program's windows never see a close request from
        // another process: it is ended, and the closing is left to the Linux run.
        program.kill();
#else
        // A program with its question up is ended: closing would ask more.
        run.asks ? program.kill() : void(::kill(static_cast<pid_t>(program.processId()), run.sig));
#endif
        ASSERT_TRUE(program.waitForFinished(10000));

        EXPECT_TRUE(PortLock::take(folder.file(QStringLiteral("config1.ini")), lock));
        EXPECT_EQ(lock, PortLock::Status::Held);
        const QByteArray calls = folder.read(QStringLiteral("llamadas.txt"));
        EXPECT_GE(calls.count("LeerTemperatura 28A3F2C501080011"), 2) << calls.toStdString();
        EXPECT_GE(calls.count("EscribirCTR 3A7C11B200000077"), 2);
#ifndef _WIN32
        EXPECT_TRUE(run.asks ||
                    std::pair(program.exitCode(), calls.count("FinalizarCNX")) ==
                        std::pair(0, qsizetype(1)))
            << "closed as asked";
#endif
    }
}

}
