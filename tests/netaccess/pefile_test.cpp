#include "netaccess/pefile.h"
#include "support/support.h"

#include <gtest/gtest.h>

namespace {

// A Windows program file's start: the old header naming where "PE\0\0" and
// the machine field are.
QByteArray header(char offset, const char *machine)
{
    QByteArray bytes(0x100, '\0');
    bytes.replace(0, 2, "MZ");
    bytes[0x3C] = offset;
    bytes.replace(0x80, 6, QByteArray("PE\0\0", 4) + machine);
    return bytes;
}

TEST(PeFile, machineOfTheLibraryDecidesHowItIsCalled)
{
    const struct {
        const char *name;
        QByteArray bytes;
        PeMachine machine;
    } rows[] = {
        {"32-bit x86", header(char(0x80), "\x4C\x01"), PeMachine::X86},
        {"64-bit x86", header(char(0x80), "\x64\x86"), PeMachine::X64},
        {"64-bit ARM", header(char(0x80), "\x64\xAA"), PeMachine::Other},
        {"machine field cut off", header(char(0xFC), "\x4C\x01"), PeMachine::None},
        {"no signature there", header(char(0x40), "\x4C\x01"), PeMachine::None},
        {"ELF library", QByteArray("\x7F" "ELF\x02\x01\x01", 7) + QByteArray(120, '\0'), PeMachine::None},
        {"shorter than the old header", QByteArray("MZ"), PeMachine::None},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        TempFolder t;
        t.write(QStringLiteral("lib"), row.bytes);
        EXPECT_EQ(peMachine(t.file(QStringLiteral("lib"))), row.machine);
    }
}

}
