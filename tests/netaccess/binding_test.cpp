// The network library as the program reaches it: found by file name in the
// program's folder, refused with a message when it or a call is missing, and
// every word, text and serial the library writes copied back.
#include "netaccess/binding.h"
#include "netaccess/pefile.h"
#include "registry/general.h"
#include "support/support.h"

#include <QDir>
#include <gtest/gtest.h>

// A failed call leaves the words it was given (their copy-back after a good
// call, and that of texts: the monitor's and the simulator's tests). On
// Windows a library of the same name that lacks calls, on the search path
// and as the current folder, is never taken for the program's own.
TEST(Binding, MissingLibraryOrCallIsAMessageAndFailedCallsLeaveTheWords)
{
    const QString partial = QDir(binFolder()).filePath(QStringLiteral("partial"));
#ifdef _WIN32
    // For the rest of this program, whose tests name files by full paths.
    qputenv("PATH", QDir::toNativeSeparators(partial).toLocal8Bit() + ';' + qgetenv("PATH"));
    QDir::setCurrent(partial);
    const QString cause =
        QStringLiteral(" (error del sistema 126: no está en la carpeta del programa)");
#else
    const QString cause;
#endif
    TempFolder empty, program;
    QString error;
    EXPECT_FALSE(SondaIO::load(empty.path(), &error));
    EXPECT_EQ(error,
              "No se puede cargar la librería de acceso a la red " +
                  QDir::toNativeSeparators(empty.file(SondaIO::fileName())) + cause + ".");
    EXPECT_FALSE(SondaIO::load(partial, &error));
    EXPECT_EQ(error,
              "La librería de acceso a la red " +
                  QDir::toNativeSeparators(QDir(partial).filePath(SondaIO::fileName())) +
                  " no tiene la función FinalizarCNX.");
    ASSERT_TRUE(QFile::copy(QDir(binFolder()).filePath(SondaIO::fileName()),
                            program.file(SondaIO::fileName())));
    const auto io = SondaIO::load(program.path(), &error);
    ASSERT_TRUE(io) << error.toStdString();
    SondaIO::SearchBuffer buffer{};
    SondaIO::Words words{11, 22, 33, 44};
    Serial serial = sn("28A3F2C501080011");
    // Not connected yet, or no such port.
    EXPECT_EQ(io->BuscarDetectores(0, buffer) + io->LeerTemperatura(0, serial, words) +
                  io->LeerTemperatura(4, serial, words),
              0);
    EXPECT_EQ(words, (SondaIO::Words{11, 22, 33, 44}));
}

// The machine a library is built for decides whether a bridge serves it.
TEST(PeFile, MachineOfTheLibrary)
{
    // A Windows program file's start: the old header naming where "PE\0\0" and the machine field are.
    const auto header = [](char offset, const char *machine) {
        QByteArray bytes(0x100, '\0');
        bytes.replace(0, 2, "MZ")[0x3C] = offset;
        return bytes.replace(0x80, 6, QByteArray("PE\0\0", 4) + machine);
    };
    const std::pair<QByteArray, PeMachine> rows[] = {
        {header(char(0x80), "\x4C\x01"), PeMachine::X86},
        {header(char(0x80), "\x64\x86"), PeMachine::X64},
        {header(char(0x80), "\x64\xAA"), PeMachine::Other},
        {header(char(0xFC), "\x4C\x01"), PeMachine::None}, // machine field cut off
        {header(char(0x40), "\x4C\x01"), PeMachine::None},
        {"MZ", PeMachine::None}, // no signature there; a file cut short
    };
    TempFolder t;
    for (const auto &[bytes, machine] : rows) {
        t.write(QStringLiteral("lib"), bytes);
        EXPECT_EQ(peMachine(t.file(QStringLiteral("lib"))), machine)
            << bytes.left(8).toHex().toStdString();
    }
}
