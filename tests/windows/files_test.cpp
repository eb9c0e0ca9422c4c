// Windows behaviour of the program's files: paths in the program's folder as
// the system writes them, the configuration replaced whole, the capture file
// held open by another program, the network library taken from the
// program's folder only.
#include "monitor/capture.h"
#include "netaccess/binding.h"
#include "registry/configfile.h"
#include "registry/general.h"
#include "support/support.h"

#include <QDir>
#include <gtest/gtest.h>
#include <windows.h>

namespace {

// A file held open with the sharing another program allows: none, "lectura"
// (others may read) or "escritura" (others may read and write). Sharing is
// checked against every open handle, whichever process holds it.
struct Holder {
    Holder(const QString &path, const char *sharing)
        : file(CreateFileW(reinterpret_cast<const wchar_t *>(QDir::toNativeSeparators(path).utf16()), GENERIC_READ | GENERIC_WRITE,
                           !sharing ? 0 : sharing[0] == 'l' ? FILE_SHARE_READ : FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_ALWAYS, 0, nullptr))
    {
        EXPECT_NE(file, INVALID_HANDLE_VALUE);
    }
    ~Holder() { CloseHandle(file); }
    HANDLE file;
};

// A program's folder whose name the ANSI code page cannot spell, with a
// sensor on COM1 in its table.
struct Program {
    Program()
    {
        QDir(t.path()).mkdir(QStringLiteral("Medición ºC ж"));
        g.appFolder = t.file(QStringLiteral("Medición ºC ж"));
        g.nombrepuerto = QStringLiteral("COM1");
        g.carpeta = g.appFolder + QStringLiteral("/1/");
        addDevice(g, {STT, "Sala", true, {21.5f}});
    }
    bool capture() { return c.inicia(m, [] { return true; }); }
    TempFolder t;
    TestClock clock;
    General g;
    ScriptedMessages m;
    Captura c{g, clock};
};

// Every file is read back below by its path in that folder: a name spelt
// through the code page would not be found there.
TEST(WindowsFiles, messagesNameFilesNatively)
{
    Program p;
    QFile(p.g.appFolder + QStringLiteral("/1")).open(QIODevice::WriteOnly);
    EXPECT_FALSE(p.capture());
    ASSERT_EQ(p.m.texts.size(), 1);
    const QString folder = QDir::toNativeSeparators(p.g.appFolder) + QStringLiteral("\\1");
    EXPECT_TRUE(p.m.texts[0].startsWith(QStringLiteral("No se puede crear la carpeta de capturas %1: ").arg(folder)))
        << p.m.texts[0].toStdString();
}

// The configuration and the capture file held by another program, whatever
// it lets others do: the save leaves the configuration as it was, a capture
// line waits while writing is refused. Released, the configuration is
// replaced whole and the waiting line goes in first.
TEST(WindowsFiles, heldFilesAreLeftAsTheyWereOrWaitedFor)
{
    const QByteArray old(140, 'v');
    const QString config = QStringLiteral("Medición ºC ж/config1.ini");
    for (const char *sharing : {static_cast<const char *>(nullptr), "lectura", "escritura"}) {
        SCOPED_TRACE(sharing ? sharing : "none");
        const bool busy = !sharing || sharing[0] == 'l';
        Program p;
        ASSERT_TRUE(p.capture());
        p.t.write(config, old);
        const QString hora = QStringLiteral("07-12-2026 10:00:00");
        configfile::WriteResult saved;
        Captura::Escritura held;
        {
            Holder configHolder(p.g.configPath(), sharing), captureHolder(p.g.carpeta + p.g.fichero, sharing);
            saved = configfile::write(p.g.configPath(), p.g.dispositivos);
            held = p.c.escribe(hora);
        }
        EXPECT_FALSE(saved.ok);
        EXPECT_EQ(p.t.read(config), old);
        EXPECT_EQ(held.estado, busy ? Captura::Estado::Ocupado : Captura::Estado::Escrito);
        EXPECT_EQ(held.mensaje, busy ? QStringLiteral("El fichero de datos está siendo utilizando por la aplicación. Cierrela") : QString());
        EXPECT_EQ(p.c.pendientes(), busy ? 1 : 0) << "a busy file's line waits";

        EXPECT_EQ(configfile::save(p.g).status, configfile::SaveStatus::Saved);
        EXPECT_EQ(p.t.read(config), configfile::encode(p.g.dispositivos));
        // No temporary file stays behind.
        EXPECT_EQ(QDir(p.g.appFolder).entryList(QDir::Files), QStringList{QStringLiteral("config1.ini")});
        EXPECT_EQ(p.c.escribe(hora).estado, Captura::Estado::Escrito);
        EXPECT_EQ(p.t.read(QStringLiteral("Medición ºC ж/1/") + p.g.fichero),
                  "Hora  Sala (\xBA" "C)\r\n" + QByteArray("07-12-2026 10:00:00  21,5\r\n").repeated(2));
    }
}

TEST(WindowsLibrary, takenFromTheProgramsFolderNeverFromTheSystemsPath)
{
    // A library of the same name that lacks calls, on the search path and as
    // the current folder.
    const QString elsewhere = QDir(binFolder()).filePath(QStringLiteral("partial"));
    const std::wstring path = QDir::toNativeSeparators(elsewhere).toStdWString() + L";" + _wgetenv(L"PATH");
    SetEnvironmentVariableW(L"PATH", path.c_str());
    const QString before = QDir::currentPath();
    QDir::setCurrent(elsewhere);

    TempFolder empty;
    QString error;
    EXPECT_FALSE(SondaIO::load(empty.path(), &error));
    EXPECT_EQ(error, QStringLiteral("No se puede cargar la librería de acceso a la red %1\\SondaIO.DLL.")
                         .arg(QDir::toNativeSeparators(empty.path())));
    TempFolder program;
    ASSERT_TRUE(QFile::copy(QDir(binFolder()).filePath(SondaIO::fileName()), program.file(SondaIO::fileName())));
    auto io = SondaIO::load(program.path(), &error);
    // The same name on the path lacks FinalizarCNX: this one is the program's.
    ASSERT_TRUE(io) << error.toStdString();
    QDir::setCurrent(before);
}

}
