// The bridge process in its 64-bit build (the 32-bit one runs only on
// Windows itself): every call answered with the library's own bytes, a
// bridge that is killed, faults or hangs failing only the call in hand and
// started again with the ports it had open, a library reached through its
// decorated names, and what cannot start named in Spanish.
#include "support/support.h"

#include "netaccess/binding.h"
#include "registry/general.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>
#include <windows.h>

namespace {

// A program's folder with the bridge and a library from the build's folder
// (the simulator, or one from a subfolder) on this network.
struct Bridged {
    explicit Bridged(const QString &from = QStringLiteral("."), int answerMs = 20000)
    {
        const QDir bin(binFolder());
        QFile::copy(bin.filePath(QStringLiteral("bridge64.exe")), folder.file(QStringLiteral("bridge64.exe")));
        QFile::copy(bin.filePath(from + QStringLiteral("/SondaIO.DLL")), folder.file(QStringLiteral("SondaIO.DLL")));
        folder.write(QStringLiteral("sondanet.txt"), "port COM1 open\n"
                                                     "device STT 28A3F2C501080011 words 215 -1 2 3\n"
                                                     "device DET 1D5EE30700000055 words 0 1 8 9\n"
                                                     "device CTR 3A7C11B200000077\n"
                                                     "port COM3 refuse No se abre COM3\n");
        io = SondaIO::loadBridged(folder.path(), {folder.file(QStringLiteral("bridge64.exe")), answerMs}, &error);
    }
    TempFolder folder;
    QString error;
    std::unique_ptr<SondaIO> io;
};

TEST(Bridge, everyCallAnswersWithTheLibrarysOwnBytes)
{
    Bridged b;
    ASSERT_TRUE(b.io) << b.error.toStdString();
    FixedText<100> message;
    EXPECT_EQ(b.io->IniciarCNX(2, QStringLiteral("COM3"), message), 0);
    EXPECT_EQ(message.text().section(QChar(u'\0'), 0, 0), QStringLiteral("No se abre COM3"));
    ASSERT_GT(b.io->IniciarCNX(0, QStringLiteral("COM1"), message), 0);
    Serial serial = sn("28A3F2C501080011");
    SondaIO::Words words{11, 12, 13, 14};
    EXPECT_EQ(b.io->LeerTemperatura(0, serial, words), 1);
    EXPECT_EQ(words, (SondaIO::Words{215, -1, 2, 3}));
    EXPECT_EQ(serial, sn("28A3F2C501080011"));
    // A call for the wrong kind of device keeps the caller's block.
    EXPECT_EQ(b.io->LeerHRT(0, serial, words), 0);
    EXPECT_EQ(words, (SondaIO::Words{215, -1, 2, 3}));
    SondaIO::SearchBuffer found{};
    EXPECT_EQ(b.io->BuscarDetectores(0, found), 2);
    EXPECT_EQ(QByteArray(reinterpret_cast<const char *>(found.data()) + 8, 8).toHex().toUpper(), "3A7C11B200000077");
}

using Read = std::int16_t (SondaIO::*)(std::int16_t, Serial &, SondaIO::Words &);

// A bridge killed between calls, or a call that faults or never returns:
// only the call in hand fails, and a new bridge serves the next one.
TEST(Bridge, killedFaultingOrHangingBridgeFailsOnlyTheCallInHand)
{
    // null: the bridge is killed from outside.
    for (const Read call : {Read(nullptr), Read(&SondaIO::LeerHRT), Read(&SondaIO::LeerAD)}) {
        // Its calls are exported under decorated names only.
        Bridged b(QStringLiteral("faulty"), 3000);
        ASSERT_TRUE(b.io) << b.error.toStdString();
        FixedText<100> message;
        ASSERT_GT(b.io->IniciarCNX(1, QStringLiteral("COM2"), message), 0);
        const unsigned long first = b.io->bridgeProcess();
        Serial serial = sn("0102030405060708");
        SondaIO::Words words{11, 12, 13, 14};
        if (call) {
            EXPECT_EQ((b.io.get()->*call)(1, serial, words), 0);
            EXPECT_EQ(words, (SondaIO::Words{11, 12, 13, 14}));
        } else {
            const HANDLE killed = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, first);
            TerminateProcess(killed, 9);
            WaitForSingleObject(killed, INFINITE);
            CloseHandle(killed);
        }
        // It answers only on a port opened in its own process: the new
        // bridge opened it again.
        EXPECT_GT(b.io->LeerTemperatura(1, serial, words), 0);
        EXPECT_EQ(words, (SondaIO::Words{101, 102, 103, 104}));
        EXPECT_NE(b.io->bridgeProcess(), first);
        // The bridge ends with the library.
        const HANDLE second = OpenProcess(SYNCHRONIZE, FALSE, b.io->bridgeProcess());
        b.io.reset();
        EXPECT_EQ(WaitForSingleObject(second, 0), WAIT_OBJECT_0);
        CloseHandle(second);
    }
}

TEST(Bridge, whatCannotStartIsNamedInSpanish)
{
    // The bridge is there; the library it loads lacks a call.
    Bridged partial(QStringLiteral("partial"));
    EXPECT_FALSE(partial.io);
    const QString library = QDir::toNativeSeparators(partial.folder.file(QStringLiteral("SondaIO.DLL")));
    EXPECT_TRUE(partial.error.startsWith(QStringLiteral("La librería de acceso a la red %1 no tiene la función FinalizarCNX.").arg(library)))
        << partial.error.toStdString();

    // A 32-bit library goes to the 32-bit bridge beside the program, never
    // into this process.
    TempFolder t;
    // The old header, and right behind it the new one naming a 32-bit machine.
    t.write(SondaIO::fileName(), QByteArray("MZ").leftJustified(0x3C, '\0') + QByteArray("\x40\0\0\0PE\0\0\x4C\x01", 10));
    QString error;
    EXPECT_FALSE(SondaIO::load(t.path(), &error));
    EXPECT_TRUE(error.contains(QDir::toNativeSeparators(t.file(SondaIO::bridgeFileName())) + QStringLiteral(" no se puede iniciar")))
        << error.toStdString();
}

}
