// Windows behaviour of the program's files: paths in the program's folder as
// the system writes them, the configuration replaced whole, the capture file
// held open by another program. (The network library taken from the
// program's folder only: the binding's test.)
#include "monitor/capture.h"
#include "registry/configfile.h"
#include "registry/general.h"
#include "support/support.h"

#include <QDir>
#include <gtest/gtest.h>
#include <windows.h>

namespace {

// The configuration and the capture file held by another program, whatever
// it lets others do: the save leaves the configuration as it was, a capture
// line waits while writing is refused. Released, the configuration is
// replaced whole and the waiting line goes in first.
TEST(WindowsFiles, heldFilesAreLeftAsTheyWereOrWaitedFor)
{
    for (const DWORD sharing : {DWORD(0), DWORD(FILE_SHARE_READ), DWORD(FILE_SHARE_READ | FILE_SHARE_WRITE)}) {
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
        ASSERT_TRUE(c.inicia(m, [] { return true; }));
        t.write(g.configPath(), QByteArray(140, 'v'));
        // Sharing is checked against every open handle, whichever process
        // holds it.
        const auto hold = [sharing](const QString &path) {
            return CreateFileW(reinterpret_cast<const wchar_t *>(QDir::toNativeSeparators(path).utf16()), GENERIC_READ | GENERIC_WRITE,
                               sharing, nullptr, OPEN_ALWAYS, 0, nullptr);
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
        EXPECT_EQ(QDir(g.appFolder).entryList(QDir::Files), QStringList{QStringLiteral("config1.ini")});
        EXPECT_EQ(c.escribe(QStringLiteral("07-12-2026 10:00:00")).estado, Captura::Estado::Escrito);
        EXPECT_EQ(t.read(g.carpeta + g.fichero),
                  "Hora  Sala (\xBA" "C)\r\n" + QByteArray("07-12-2026 10:00:00  21,5\r\n").repeated(2));
    }
}

}
