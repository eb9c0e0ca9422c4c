// Windows behaviour of the program's files: paths in the program's folder as
// the system writes them, the configuration replaced whole, the capture file
// held by another program, the network library taken from the program's
// folder only.
#include "monitor/capture.h"
#include "netaccess/binding.h"
#include "registry/configfile.h"
#include "registry/general.h"
#include "support/support.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <gtest/gtest.h>
#include <memory>
#include <windows.h>

namespace {

// Another program holding a file open with the sharing it allows: "nada",
// "lectura" (others may read) or "escritura" (others may read and write).
class Holder {
public:
    Holder(const QString &path, const char *sharing)
    {
        process_.start(QDir(binFolder()).filePath(QStringLiteral("test_windows.exe")),
                       {QStringLiteral("--hold"), QDir::toNativeSeparators(path), QString::fromLatin1(sharing)});
        EXPECT_TRUE(process_.waitForReadyRead(30000) && process_.readAll().startsWith("ready"));
    }
    ~Holder()
    {
        process_.closeWriteChannel();
        process_.waitForFinished(30000);
    }

private:
    QProcess process_;
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
    QString native(const char *name) const { return QDir::toNativeSeparators(g.appFolder) + QString::fromLatin1(name); }
    bool exists(const char *name) const
    {
        return GetFileAttributesW(native(name).toStdWString().c_str()) != INVALID_FILE_ATTRIBUTES;
    }
    bool capture() { return c.inicia(m, [] { return true; }); }
    TempFolder t;
    TestClock clock;
    General g;
    ScriptedMessages m;
    Captura c{g, clock};
};

TEST(WindowsFiles, filesLiveInTheProgramsFolderAndMessagesNameThemNatively)
{
    Program p;
    EXPECT_EQ(configfile::save(p.g).status, configfile::SaveStatus::Saved);
    EXPECT_TRUE(p.exists("\\config1.ini"));
    ASSERT_TRUE(p.capture());
    EXPECT_TRUE(p.exists("\\1\\07-12-2026-00.log"));

    Program blocked;
    QFile(blocked.g.appFolder + QStringLiteral("/1")).open(QIODevice::WriteOnly);
    EXPECT_FALSE(blocked.capture());
    ASSERT_EQ(blocked.m.texts.size(), 1);
    EXPECT_TRUE(blocked.m.texts[0].startsWith(QStringLiteral("No se puede crear la carpeta de capturas %1: ").arg(blocked.native("\\1"))))
        << blocked.m.texts[0].toStdString();
}

TEST(WindowsFiles, savingReplacesTheConfigurationWholeOrLeavesItAsItWas)
{
    const struct {
        const char *sharing; // another program holds the old file, or null
        bool saved;
    } rows[] = {{nullptr, true}, {"escritura", false}, {"lectura", false}};
    const QByteArray old(140, 'v');
    for (const auto &row : rows) {
        SCOPED_TRACE(row.sharing ? row.sharing : "not held");
        Program p;
        const QString path = p.g.configPath();
        p.t.write(QStringLiteral("Medición ºC ж/config1.ini"), old);
        auto holder = row.sharing ? std::make_unique<Holder>(path, row.sharing) : nullptr;
        const configfile::WriteResult r = configfile::write(path, p.g.dispositivos);
        holder.reset();
        EXPECT_EQ(r.ok, row.saved) << r.message.toStdString();
        EXPECT_EQ(p.t.read(QStringLiteral("Medición ºC ж/config1.ini")), row.saved ? configfile::encode(p.g.dispositivos) : old);
        // No temporary file stays behind either way.
        EXPECT_EQ(QDir(p.g.appFolder).entryList(QDir::Files), QStringList{QStringLiteral("config1.ini")});
    }
}

TEST(WindowsCapture, fileHeldWithoutSharingWritingIsBusyUntilReleased)
{
    const struct {
        const char *sharing;
        Captura::Estado whileHeld;
    } rows[] = {{"nada", Captura::Estado::Ocupado}, {"lectura", Captura::Estado::Ocupado}, {"escritura", Captura::Estado::Escrito}};
    for (const auto &row : rows) {
        SCOPED_TRACE(row.sharing);
        Program p;
        ASSERT_TRUE(p.capture());
        const QString hora = QStringLiteral("07-12-2026 10:00:00");
        Captura::Escritura held;
        {
            Holder holder(p.g.carpeta + p.g.fichero, row.sharing);
            held = p.c.escribe(hora);
        }
        const bool busy = row.whileHeld == Captura::Estado::Ocupado;
        EXPECT_EQ(held.estado, row.whileHeld);
        EXPECT_EQ(held.mensaje, busy ? Captura::textoOcupado() : QString());
        EXPECT_EQ(p.c.pendientes(), busy ? 1 : 0) << "a busy file's line waits";
        // Released, the waiting line goes in first; every line is in the file once.
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
    ASSERT_TRUE(io) << error.toStdString();
    Serial serial = sn("0123456789ABCDEF");
    EXPECT_EQ(io->ConvertSerialNum(serial), QStringLiteral("0123456789ABCDEF"));
    QDir::setCurrent(before);
}

}
