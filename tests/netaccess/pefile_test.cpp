#include "netaccess/pefile.h"
#include "support/support.h"

#include <gtest/gtest.h>

namespace {

// The start of a Windows program file: the old header pointing at `offset`,
// where "PE\0\0" and the machine field are.
QByteArray header(quint32 offset, QByteArray pe, int size = 0x200)
{
    QByteArray bytes(size, '\0');
    bytes.replace(0, 2, "MZ");
    for (int k = 0; k < 4; ++k)
        bytes[0x3C + k] = char((offset >> (8 * k)) & 0xFF);
    if (offset + pe.size() <= quint32(bytes.size()))
        bytes.replace(int(offset), int(pe.size()), pe);
    return bytes;
}

TEST(PeFile, machineOfTheLibraryDecidesTheWayItIsCalled)
{
    struct Row {
        const char *name;
        QByteArray bytes;
        PeMachine machine;
    };
    const Row rows[] = {
        {"32-bit x86", header(0x80, QByteArray("PE\0\0\x4C\x01", 6)), PeMachine::X86},
        {"64-bit x86", header(0xF8, QByteArray("PE\0\0\x64\x86", 6)), PeMachine::X64},
        {"64-bit ARM", header(0x80, QByteArray("PE\0\0\x64\xAA", 6)), PeMachine::Other},
        {"header past the end", header(0x1000, QByteArray("PE\0\0\x4C\x01", 6)), PeMachine::None},
        {"machine field cut", header(0x1FC, QByteArray("PE\0\0", 4)), PeMachine::None},
        {"no PE signature", header(0x80, QByteArray("NE\0\0\x4C\x01", 6)), PeMachine::None},
        {"ELF library", QByteArray("\x7F" "ELF\x02\x01\x01", 7) + QByteArray(120, '\0'), PeMachine::None},
        {"shorter than the old header", QByteArray("MZ"), PeMachine::None},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        TempFolder t;
        t.write(QStringLiteral("lib"), row.bytes);
        EXPECT_EQ(peMachine(t.file(QStringLiteral("lib"))), row.machine);
    }
    TempFolder t;
    EXPECT_EQ(peMachine(t.file(QStringLiteral("missing"))), PeMachine::None);
}

}
