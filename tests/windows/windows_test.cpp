// Windows behaviour. The bridge process in its 64-bit build (the 32-bit one
// runs only on Windows itself): every call answered with the library's own
// bytes, a bridge that is killed, faults or hangs failing only the call in
// hand and started again with the ports it had open, a library reached
// through its decorated names, a library that prints served as in the
// program, and what cannot start named in Spanish with its cause. The
// program's files: paths in the program's folder as the system writes them,
// the configuration replaced whole, the capture file held open by another
// program. (The network library taken from the program's folder only: the
// binding's test.)
#include "support/support.h"

#include "monitor/capture.h"
#include "netaccess/binding.h"
#include "registry/configfile.h"
#include "registry/general.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>
#include <windows.h>

namespace {

// A program's folder with the bridge and a library from the build's folder
// (the simulator, or one from a subfolder), or these bytes, on this network;
// loaded through the bridge, the faulty library doing what fault says, or
// (fault null) by the program itself.
struct Bridged {
    explicit Bridged(const QString &from = QStringLiteral("."), int answerMs = 20000,
                     const QByteArray &bytes = {}, const char *fault = "")
    {
        const QDir bin(binFolder());
        QFile::copy(bin.filePath(QStringLiteral("bridge64.exe")),
                    folder.file(QStringLiteral("bridge64.exe")));
        if (bytes.isEmpty())
            QFile::copy(bin.filePath(from + QStringLiteral("/SondaIO.DLL")),
                        folder.file(QStringLiteral("SondaIO.DLL")));
        else
            folder.write(QStringLiteral("SondaIO.DLL"), bytes);
        folder.write(QStringLiteral("sondanet.txt"),
                     "port COM1 open\n"
                     "device STT 28A3F2C501080011 words 215 -1 2 3\n"
                     "device DET 1D5EE30700000055 words 0 1 8 9\n"
                     "device CTR 3A7C11B200000077\n"
                     "port COM3 refuse No se abre COM3\n");
        // The library reads it as it is loaded.
        SetEnvironmentVariableA("SONDAIO_FAULT", fault);
        io = fault
            ? SondaIO::loadBridged(folder.path(),
                                   {folder.file(QStringLiteral("bridge64.exe")), answerMs}, &error)
            : SondaIO::load(folder.path(), &error);
        SetEnvironmentVariableA("SONDAIO_FAULT", nullptr);
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
    // Both relay words reach the library, each in its place.
    Serial relay = sn("3A7C11B200000077");
    b.io->EscribirCTR(0, relay, -1, 0);
    EXPECT_EQ(b.io->LeerDET(0, relay, words), 1);
    EXPECT_EQ(words, (SondaIO::Words{-1, 0, 0, 0}));
    SondaIO::SearchBuffer found{};
    EXPECT_EQ(b.io->BuscarDetectores(0, found), 2);
    EXPECT_EQ(QByteArray(reinterpret_cast<const char *>(found.data()) + 8, 8).toHex().toUpper(),
              "3A7C11B200000077");
}

using Read = std::int16_t (SondaIO::*)(std::int16_t, Serial &, SondaIO::Words &);

// A bridge killed between calls, or a call that faults or never returns:
// only the call in hand fails, and a new bridge serves the next one. What
// the library prints on its standard output and error changes nothing.
TEST(Bridge, onlyTheCallInHandFailsAndPrintingChangesNothing)
{
    const struct {
        const char *name, *fault;
        Read call; // fails, or null
        bool kill;
    } rows[] = {
        {"bridge killed from outside", "", nullptr, true},
        {"call faults", "", &SondaIO::LeerHRT, false},
        {"call never returns", "", &SondaIO::LeerAD, false},
        {"library prints when loaded", "print on load", nullptr, false},
        {"library prints opening a port", "print on open", nullptr, false},
        {"library prints in a reading", "print on read", nullptr, false},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        // Its calls are exported under decorated names only.
        Bridged b(QStringLiteral("faulty"), 3000, {}, row.fault);
        ASSERT_TRUE(b.io) << b.error.toStdString();
        FixedText<100> message;
        EXPECT_GT(b.io->IniciarCNX(1, QStringLiteral("COM2"), message), 0);
        const unsigned long first = b.io->bridgeProcess();
        Serial serial = sn("0102030405060708");
        SondaIO::Words words{11, 12, 13, 14};
        if (row.call) {
            EXPECT_EQ((b.io.get()->*row.call)(1, serial, words), 0);
            EXPECT_EQ(words, (SondaIO::Words{11, 12, 13, 14}));
        } else if (row.kill) {
            const HANDLE killed = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, first);
            TerminateProcess(killed, 9);
            WaitForSingleObject(killed, INFINITE);
            CloseHandle(killed);
        }
        // It answers only on a port opened in its own process: a new
        // bridge opened it again.
        EXPECT_GT(b.io->LeerTemperatura(1, serial, words), 0);
        EXPECT_EQ(words, (SondaIO::Words{101, 102, 103, 104}));
        EXPECT_EQ(b.io->bridgeProcess() != first, row.call || row.kill);
        // The bridge ends with the library.
        const HANDLE second = OpenProcess(SYNCHRONIZE, FALSE, b.io->bridgeProcess());
        b.io.reset();
        EXPECT_EQ(WaitForSingleObject(second, 0), WAIT_OBJECT_0);
        CloseHandle(second);
    }
}

// What keeps the library from starting, named in Spanish with its cause.
TEST(Bridge, whatCannotStartIsNamedInSpanish)
{
    const QString bridged =
        QStringLiteral("La librería de acceso a la red %1 es de 32 bits y el programa puente %2 ");
    const QString unloadable =
        QStringLiteral("No se puede cargar la librería de acceso a la red %1 (error del sistema ");
    const QString notProgram =
        QStringLiteral("193: el fichero no es una librería que este sistema pueda cargar).");
    const QByteArray text = "Esto no es una librería.\r\n";
    // The old header, and right behind it the new one naming a 32-bit machine.
    const QByteArray x86 =
        QByteArray("MZ").leftJustified(0x3C, '\0') + QByteArray("\x40\0\0\0PE\0\0\x4C\x01", 10);
    struct Row {
        const char *name;
        const char *library; // the build's subfolder, or these bytes
        QByteArray bytes;
        const char *fault; // null: the program loads the library as it starts
        QString expected; // %1 the library, %2 the bridge
    } rows[] = {
        {"library lacks a call",
         "partial",
         {},
         "",
         QStringLiteral("La librería de acceso a la red %1 no tiene la función FinalizarCNX.")},
        {"library is not a program file", nullptr, text, "", unloadable + notProgram},
        {"library needs one that is not there",
         "missing",
         {},
         "",
         unloadable +
             QStringLiteral("126: falta una librería que ella necesita; cópiela junto a ella).")},
        {"library ends the bridge while loading",
         "faulty",
         {},
         "end on load",
         bridged + QStringLiteral("se ha cerrado al cargarla (código de salida 7).")},
        {"library never returns while loading",
         "faulty",
         {},
         "hang on load",
         bridged + QStringLiteral("no ha contestado en 3 segundos al cargarla.")},
        // A 64-bit program loads a file that is no program itself, and sends
        // a 32-bit library to the bridge beside it, which is not there.
        {"program: library is not a program file", nullptr, text, nullptr, unloadable + notProgram},
        {"program: no bridge for a 32-bit library", nullptr, x86, nullptr,
         bridged + QStringLiteral("no se puede iniciar (error del sistema 2).")},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        const Bridged b(QString::fromLatin1(row.library ? row.library : "."), 3000, row.bytes,
                        row.fault);
        EXPECT_FALSE(b.io);
        const QString bridge =
            row.fault ? QStringLiteral("bridge64.exe") : SondaIO::bridgeFileName();
        EXPECT_EQ(b.error,
                  row.expected.arg(QDir::toNativeSeparators(b.folder.file(SondaIO::fileName())),
                                   QDir::toNativeSeparators(b.folder.file(bridge))));
    }
}

// A configuration file made read-only is kept as it is and the save says
// why, as on every system; the attribute taken off, it is replaced.
TEST(WindowsFiles, aReadOnlyConfigurationIsKept)
{
    TempFolder t;
    General g;
    g.appFolder = t.path();
    g.nombrepuerto = QStringLiteral("COM1");
    g.puerto = 0;
    addDevice(g, {STT, "Sala", true, {21.5f}});
    g.modificado = true;
    t.write(QStringLiteral("config1.ini"), QByteArray(140, 'v'));
    // The name's text kept for the whole test: the calls below take a pointer into it.
    const QString native = QDir::toNativeSeparators(g.configPath());
    const auto path = reinterpret_cast<const wchar_t *>(native.utf16());
    ASSERT_TRUE(SetFileAttributesW(path, FILE_ATTRIBUTE_READONLY));
    const configfile::SaveResult refused = configfile::save(g);
    EXPECT_EQ(refused.status, configfile::SaveStatus::Failed);
    EXPECT_EQ(refused.message,
              QStringLiteral(
                  "No se ha podido salvar la configuración en %1: el fichero es de solo lectura.")
                  .arg(native));
    EXPECT_EQ(t.read(QStringLiteral("config1.ini")), QByteArray(140, 'v'));
    EXPECT_TRUE(g.modificado);
    ASSERT_TRUE(SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL));
    EXPECT_EQ(configfile::save(g).status, configfile::SaveStatus::Saved);
    EXPECT_EQ(t.read(QStringLiteral("config1.ini")), configfile::encode(g.dispositivos));
}

// The configuration and the capture file held by another program, whatever
// it lets others do: the save leaves the configuration as it was, a capture
// line waits while writing is refused. Released, the configuration is
// replaced whole and the waiting line goes in first.
TEST(WindowsFiles, heldFilesAreLeftAsTheyWereOrWaitedFor)
{
    for (const DWORD sharing :
         {DWORD(0), DWORD(FILE_SHARE_READ), DWORD(FILE_SHARE_READ | FILE_SHARE_WRITE)}) {
        SCOPED_TRACE(sharing);
        // A program's folder whose name the ANSI code page cannot spell, with
        // a sensor on COM1 in its table.
        TempFolder t;
        QDir(t.path()).mkdir(QStringLiteral("Medición ºC ж"));
        General g;
        g.appFolder = t.file(QStringLiteral("Medición ºC ж"));
        g.nombrepuerto = QStringLiteral("COM1");
        g.carpeta = g.appFolder + QStringLiteral("/1/");
        addDevice(g, {STT, "Sala", true, {21.5f}});
        TestClock clock;
        ScriptedMessages m;
        Captura c{g, clock};
        ASSERT_TRUE(c.start(m, [] { return true; }));
        t.write(g.configPath(), QByteArray(140, 'v'));
        // Sharing is checked against every open handle, whichever process
        // holds it.
        const auto hold = [sharing](const QString &path) {
            return CreateFileW(
                reinterpret_cast<const wchar_t *>(QDir::toNativeSeparators(path).utf16()),
                GENERIC_READ | GENERIC_WRITE, sharing, nullptr, OPEN_ALWAYS, 0, nullptr);
        };
        const HANDLE held[] = {hold(g.configPath()), hold(g.carpeta + g.fichero)};
        EXPECT_FALSE(configfile::write(g.configPath(), g.dispositivos).ok);
        EXPECT_EQ(c.escribe(QStringLiteral("07-12-2026 10:00:00")).estado,
                  sharing & FILE_SHARE_WRITE ? Captura::Estado::Escrito : Captura::Estado::Ocupado);
        for (const HANDLE file : held) {
            EXPECT_NE(file, INVALID_HANDLE_VALUE);
            CloseHandle(file);
        }
        EXPECT_EQ(t.read(g.configPath()), QByteArray(140, 'v'));

        EXPECT_EQ(configfile::save(g).status, configfile::SaveStatus::Saved);
        EXPECT_EQ(t.read(g.configPath()), configfile::encode(g.dispositivos));
        // No temporary file stays behind.
        EXPECT_EQ(QDir(g.appFolder).entryList(QDir::Files),
                  QStringList{QStringLiteral("config1.ini")});
        EXPECT_EQ(c.escribe(QStringLiteral("07-12-2026 10:00:00")).estado,
                  Captura::Estado::Escrito);
        EXPECT_EQ(t.read(g.carpeta + g.fichero),
                  "Hora  Sala (\xBA"
                  "C)\r\n" +
                      QByteArray("07-12-2026 10:00:00  21,5\r\n").repeated(2));
    }
}

}
