// The bridge process, in its 64-bit build (the 32-bit one runs only on
// Windows itself): every call served with the library's own answer, a bridge
// that dies or hangs failing only the call in hand and started again with
// the ports it had open, a library reached through its decorated names.
#include "support/support.h"

#include "netaccess/binding.h"
#include "registry/general.h"

#include <QDir>
#include <QFile>
#include <functional>
#include <gtest/gtest.h>
#include <windows.h>

namespace {

const char *const kNetwork = "calllog llamadas.txt\n"
                             "port COM1 open\n"
                             "device STT 28A3F2C501080011 words 215 -1 2 3\n"
                             "device HRT 26E1905C00000033 words 23 45 6 7\n"
                             "device AVI 20C4001A0F000044 words 100 200 300 400\n"
                             "device DET 1D5EE30700000055 words 0 1 8 9\n"
                             "device CTR 3A7C11B200000077\n"
                             "port COM3 refuse No se abre COM3\n";

// A program's folder with a library (the simulator, or one from a folder of
// the build) and the bridge beside it.
struct Bridged {
    explicit Bridged(const QString &from = QString(), int answerMs = 20000)
    {
        const QDir bin(binFolder());
        QFile::copy(bin.filePath(QStringLiteral("bridge64.exe")), folder.file(QStringLiteral("bridge64.exe")));
        QFile::copy(QDir(from.isEmpty() ? bin.path() : bin.filePath(from)).filePath(SondaIO::fileName()),
                    folder.file(SondaIO::fileName()));
        folder.write(QStringLiteral("sondanet.txt"), kNetwork);
        io = SondaIO::loadBridged(folder.path(), {folder.file(QStringLiteral("bridge64.exe")), answerMs}, &error);
    }
    std::int16_t open(int port)
    {
        FixedText<100> mensaje;
        return io->IniciarCNX(std::int16_t(port), QStringLiteral("COM%1").arg(port + 1), mensaje);
    }
    int served(const char *line) const { return int(folder.read(QStringLiteral("llamadas.txt")).count(line)); }

    TempFolder folder;
    QString error;
    std::unique_ptr<SondaIO> io;
};

QString upToNul(const FixedText<100> &text) { return text.text().section(QChar(u'\0'), 0, 0); }

void endProcess(unsigned long pid)
{
    const HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid);
    ASSERT_TRUE(process);
    TerminateProcess(process, 9);
    WaitForSingleObject(process, INFINITE);
    CloseHandle(process);
}

bool ended(HANDLE process) { return WaitForSingleObject(process, 0) == WAIT_OBJECT_0; }

TEST(Bridge, everyCallAnswersWithTheLibrarysOwnBytes)
{
    Bridged b;
    ASSERT_TRUE(b.io) << b.error.toStdString();
    struct Row {
        const char *name;
        std::function<std::int16_t(SondaIO &, QString &)> call; // what the call gave back, as text
        std::int16_t result;
        const char *out;
    };
    auto words = [](SondaIO::Words w) { return QStringLiteral("%1 %2 %3 %4").arg(w[0]).arg(w[1]).arg(w[2]).arg(w[3]); };
    auto read = [&](auto member, const char *hex) {
        return [=](SondaIO &io, QString &out) {
            Serial serial = sn(hex);
            SondaIO::Words w{11, 12, 13, 14};
            const std::int16_t r = (io.*member)(0, serial, w);
            out = words(w) + (serial == sn(hex) ? QString() : QStringLiteral(" serial changed"));
            return r;
        };
    };
    auto search = [](auto member) {
        return [=](SondaIO &io, QString &out) {
            SondaIO::SearchBuffer found{};
            const std::int16_t r = (io.*member)(0, found);
            out = seriehex(Serial{found[0], found[1], found[2], found[3], found[4], found[5], found[6], found[7]});
            return r;
        };
    };
    const Row rows[] = {
        {"refused port", [](SondaIO &io, QString &out) {
             FixedText<100> m;
             const std::int16_t r = io.IniciarCNX(2, QStringLiteral("COM3"), m);
             out = upToNul(m);
             return r;
         }, 0, "No se abre COM3"},
        {"open port", [](SondaIO &io, QString &out) {
             FixedText<100> m;
             const std::int16_t r = io.IniciarCNX(0, QStringLiteral("COM1"), m);
             out = upToNul(m);
             return r;
         }, 1, ""},
        {"temperature", read(&SondaIO::LeerTemperatura, "28A3F2C501080011"), 1, "215 -1 2 3"},
        {"humidity", read(&SondaIO::LeerHRT, "26E1905C00000033"), 1, "23 45 6 7"},
        {"converter", read(&SondaIO::LeerAD, "20C4001A0F000044"), 1, "100 200 300 400"},
        {"detector", read(&SondaIO::LeerDET, "1D5EE30700000055"), 1, "0 1 8 9"},
        {"wrong kind keeps the block", read(&SondaIO::LeerHRT, "28A3F2C501080011"), 0, "11 12 13 14"},
        {"relay written", [](SondaIO &io, QString &out) {
             Serial relay = sn("3A7C11B200000077");
             io.EscribirCTR(0, relay, 1, 0);
             SondaIO::Words w{};
             const std::int16_t r = io.LeerDET(0, relay, w);
             out = QStringLiteral("%1 %2").arg(w[0]).arg(w[1]);
             return r;
         }, 1, "1 0"},
        {"converter set-up", [](SondaIO &io, QString &out) {
             Serial serial = sn("20C4001A0F000044");
             std::array<std::int16_t, 4> ajuste{1, 2, 3, 4};
             const std::int16_t r = io.SetupAD(0, serial, ajuste);
             out = QStringLiteral("%1 %2 %3 %4").arg(ajuste[0]).arg(ajuste[1]).arg(ajuste[2]).arg(ajuste[3]);
             return r;
         }, 1, "1 2 3 4"},
        {"sensor search", search(&SondaIO::BuscarSensoresTra), 2, "28A3F2C501080011"},
        {"converter search", search(&SondaIO::BuscarConversoresAD), 1, "20C4001A0F000044"},
        {"detector search", search(&SondaIO::BuscarDetectores), 2, "1D5EE30700000055"},
        {"printable serial", [](SondaIO &io, QString &out) {
             Serial serial = sn("00FF10EF7F80A5C3");
             out = io.ConvertSerialNum(serial);
             return std::int16_t(1);
         }, 1, "00FF10EF7F80A5C3"},
        {"closed port", [](SondaIO &io, QString &) {
             FixedText<100> m;
             io.FinalizarCNX(0, m);
             Serial serial = sn("28A3F2C501080011");
             SondaIO::Words w{};
             return io.LeerTemperatura(0, serial, w);
         }, 0, ""},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        QString out;
        EXPECT_EQ(row.call(*b.io, out), row.result);
        EXPECT_EQ(out, QString::fromLatin1(row.out));
    }
}

TEST(Bridge, killedBridgeIsStartedAgainWithItsPortsAndEndsWithTheLibrary)
{
    Bridged b;
    ASSERT_TRUE(b.io) << b.error.toStdString();
    ASSERT_GT(b.open(0), 0);
    const unsigned long first = b.io->bridgeProcess();
    ASSERT_NE(first, 0u);
    endProcess(first);

    Serial serial = sn("28A3F2C501080011");
    SondaIO::Words w{};
    EXPECT_GT(b.io->LeerTemperatura(0, serial, w), 0);
    EXPECT_EQ(w, (SondaIO::Words{215, -1, 2, 3}));
    const unsigned long second = b.io->bridgeProcess();
    EXPECT_NE(second, first);
    EXPECT_EQ(b.served("IniciarCNX COM1 1"), 2);

    const HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, second);
    ASSERT_TRUE(process);
    EXPECT_FALSE(ended(process));
    b.io.reset();
    EXPECT_TRUE(ended(process));
    CloseHandle(process);
}

TEST(Bridge, callThatFaultsOrNeverReturnsFailsAloneAndTheNextOneWorks)
{
    struct Row {
        const char *name;
        std::int16_t (SondaIO::*call)(std::int16_t, Serial &, SondaIO::Words &);
    };
    const Row rows[] = {
        {"fault in the library", &SondaIO::LeerHRT},
        {"call that never returns", &SondaIO::LeerAD},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        // Its calls are exported under decorated names only.
        Bridged b(QStringLiteral("faulty"), 3000);
        ASSERT_TRUE(b.io) << b.error.toStdString();
        ASSERT_GT(b.open(1), 0);
        const unsigned long first = b.io->bridgeProcess();
        Serial serial = sn("0102030405060708");
        SondaIO::Words w{11, 12, 13, 14};
        EXPECT_EQ((b.io.get()->*row.call)(1, serial, w), 0);
        EXPECT_EQ(w, (SondaIO::Words{11, 12, 13, 14}));
        // The faulty library answers only on a port opened in its own
        // process: the new bridge opened it again.
        EXPECT_GT(b.io->LeerTemperatura(1, serial, w), 0);
        EXPECT_EQ(w, (SondaIO::Words{101, 102, 103, 104}));
        EXPECT_NE(b.io->bridgeProcess(), first);
    }
}

TEST(Bridge, whatCannotStartIsNamedInSpanish)
{
    struct Row {
        const char *name;
        std::function<void(TempFolder &)> lay;
        const char *error; // %1: the library's path
    };
    const QDir bin(binFolder());
    auto copy = [&](const QString &from, const QString &to) {
        return [=](TempFolder &t) { QFile::copy(bin.filePath(from), t.file(to)); };
    };
    const Row rows[] = {
        {"no bridge", copy(QStringLiteral("SondaIO.DLL"), QStringLiteral("x")),
         "La librería de acceso a la red %1 es de 32 bits y el programa puente %2 no se puede iniciar"},
        {"no library", copy(QStringLiteral("bridge64.exe"), QStringLiteral("bridge64.exe")),
         "No se puede cargar la librería de acceso a la red %1."},
        {"library without its calls",
         [&](TempFolder &t) {
             copy(QStringLiteral("bridge64.exe"), QStringLiteral("bridge64.exe"))(t);
             copy(QStringLiteral("partial/SondaIO.DLL"), QStringLiteral("SondaIO.DLL"))(t);
         },
         "La librería de acceso a la red %1 no tiene la función FinalizarCNX."},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        TempFolder t;
        row.lay(t);
        QString error;
        EXPECT_FALSE(SondaIO::loadBridged(t.path(), {t.file(QStringLiteral("bridge64.exe"))}, &error));
        const QString expected = QString::fromUtf8(row.error)
                                     .arg(QDir::toNativeSeparators(t.file(SondaIO::fileName())),
                                          QDir::toNativeSeparators(t.file(QStringLiteral("bridge64.exe"))));
        EXPECT_TRUE(error.startsWith(expected)) << error.toStdString();
    }
}

// A 32-bit library is sent to the 32-bit bridge beside the program, never
// loaded into this process.
TEST(Bridge, thirtyTwoBitLibraryGoesToTheBridgeBesideTheProgram)
{
    TempFolder t;
    QByteArray pe(0x100, '\0');
    pe.replace(0, 2, "MZ");
    pe[0x3C] = char(0x80);
    pe.replace(0x80, 6, QByteArray("PE\0\0\x4C\x01", 6));
    t.write(SondaIO::fileName(), pe);
    QString error;
    EXPECT_FALSE(SondaIO::load(t.path(), &error));
    EXPECT_TRUE(error.contains(QDir::toNativeSeparators(t.file(SondaIO::bridgeFileName())) + QStringLiteral(" no se puede iniciar")))
        << error.toStdString();
}

}
