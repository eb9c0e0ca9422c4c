// Windows behaviour of the program's files: paths in the program's folder as
// the system writes them, the configuration replaced whole, the capture file
// held by another program, the network library taken from the program's
// folder only.
#include "holder.h"

#include "monitor/capture.h"
#include "netaccess/binding.h"
#include "registry/configfile.h"
#include "registry/general.h"

#include <QDir>
#include <QFile>
#include <functional>
#include <windows.h>

namespace {

std::wstring native(const QString &path) { return QDir::toNativeSeparators(path).toStdWString(); }
bool exists(const QString &path) { return GetFileAttributesW(native(path).c_str()) != INVALID_FILE_ATTRIBUTES; }

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
    TempFolder t;
    TestClock clock;
    General g;
    ScriptedMessages m;
    Captura c{g, clock};
};

TEST(WindowsFiles, filesLiveInTheProgramsFolderAndMessagesNameThemNatively)
{
    struct Row {
        const char *name;
        std::function<void(Program &)> act;
        const char *file;    // made, under the program's folder (backslashes)
        const char *message; // the start of the message shown, its path native
    };
    const Row rows[] = {
        {"configuration saved", [](Program &p) { configfile::save(p.g); }, "\\config1.ini", nullptr},
        {"capture started", [](Program &p) { p.c.inicia(p.m, [] { return true; }); }, "\\1\\07-12-2026-00.log", nullptr},
        {"capture folder blocked by a file",
         [](Program &p) {
             QFile(p.g.appFolder + QStringLiteral("/1")).open(QIODevice::WriteOnly);
             p.c.inicia(p.m, [] { return true; });
         },
         nullptr, "No se puede crear la carpeta de capturas %1\\1: "},
        {"configuration path is a folder",
         [](Program &p) {
             QDir(p.g.appFolder).mkdir(QStringLiteral("config1.ini"));
             p.m.show(configfile::save(p.g).message);
         },
         nullptr, "No se ha podido salvar la configuración en %1\\config1.ini: "},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        Program p;
        row.act(p);
        const QString folder = QDir::toNativeSeparators(p.g.appFolder);
        if (row.file) {
            EXPECT_TRUE(exists(folder + QString::fromLatin1(row.file)));
        }
        if (row.message) {
            ASSERT_EQ(p.m.texts.size(), 1);
            EXPECT_TRUE(p.m.texts[0].startsWith(QString::fromUtf8(row.message).arg(folder))) << p.m.texts[0].toStdString();
            EXPECT_FALSE(p.m.texts[0].contains(u'/'));
        }
    }
}

TEST(WindowsFiles, savingReplacesTheConfigurationWholeOrLeavesItAsItWas)
{
    struct Row {
        const char *name;
        const char *sharing; // another program holds the old file, or null
        bool saved;
    };
    const Row rows[] = {
        {"replaced", nullptr, true},
        {"held by a program that shares it fully", "escritura", false},
        {"held by a program that shares reading only", "lectura", false},
    };
    const QByteArray old(140, 'v');
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        Program p;
        const QString path = p.g.configPath();
        {
            QFile f(path);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write(old);
        }
        std::unique_ptr<Holder> holder;
        if (row.sharing)
            holder = std::make_unique<Holder>(path, row.sharing);
        const configfile::WriteResult r = configfile::write(path, p.g.dispositivos);
        holder.reset();
        EXPECT_EQ(r.ok, row.saved) << r.message.toStdString();
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        EXPECT_EQ(f.readAll(), row.saved ? configfile::encode(p.g.dispositivos) : old);
        // No temporary file stays behind either way.
        EXPECT_EQ(QDir(p.g.appFolder).entryList(QDir::Files), QStringList{QStringLiteral("config1.ini")});
    }
}

TEST(WindowsCapture, fileHeldWithoutSharingWritingIsBusyUntilReleased)
{
    struct Row {
        const char *name;
        const char *sharing;
        Captura::Estado whileHeld;
    };
    const Row rows[] = {
        {"no sharing", "nada", Captura::Estado::Ocupado},
        {"others may only read", "lectura", Captura::Estado::Ocupado},
        {"others may write", "escritura", Captura::Estado::Escrito},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        Program p;
        ASSERT_TRUE(p.c.inicia(p.m, [] { return true; }));
        const QString path = p.g.carpeta + p.g.fichero;
        const QString hora = QStringLiteral("07-12-2026 10:00:00");
        Captura::Escritura held;
        {
            Holder holder(path, row.sharing);
            held = p.c.escribe(hora);
        }
        EXPECT_EQ(held.estado, row.whileHeld);
        EXPECT_EQ(held.mensaje, row.whileHeld == Captura::Estado::Ocupado ? Captura::textoOcupado() : QString());
        // Released, the line goes in; every line is in the file once.
        const int lines = row.whileHeld == Captura::Estado::Escrito ? 2 : 1;
        EXPECT_EQ(p.c.escribe(hora).estado, Captura::Estado::Escrito);
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        EXPECT_EQ(f.readAll(), "Hora  Sala (\xBA" "C)\r\n" + QByteArray("07-12-2026 10:00:00  21,5\r\n").repeated(lines));
    }
}

TEST(WindowsLibrary, takenFromTheProgramsFolderNeverFromTheSystemsPath)
{
    // A library of the same name that lacks calls, on the search path and in
    // the current folder.
    const QString elsewhere = QDir(binFolder()).filePath(QStringLiteral("partial"));
    const std::wstring path = native(elsewhere) + L";" + _wgetenv(L"PATH");
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
    ASSERT_TRUE(io) << error.toStdString();
    Serial serial = sn("0123456789ABCDEF");
    EXPECT_EQ(io->ConvertSerialNum(serial), QStringLiteral("0123456789ABCDEF"));
    QDir::setCurrent(before);
}

}
