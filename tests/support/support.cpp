#include "support/support.h"

#include "netaccess/binding.h"

#include <QDir>
#include <QFileInfo>
#include <QLibrary>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QThread>

#include <charconv>
#include <cmath>
#include <stdexcept>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

QString binFolder()
{
#ifdef _WIN32
    wchar_t path[32768];
    const DWORD n = GetModuleFileNameW(nullptr, path, DWORD(sizeof path / sizeof path[0]));
    return QFileInfo(QString::fromWCharArray(path, int(n))).absolutePath();
#else
    return QFileInfo(QFile::symLinkTarget(QStringLiteral("/proc/self/exe"))).absolutePath();
#endif
}

std::pair<int, QString> runProgram(const char *program, const QStringList &args,
                                   const QString &user)
{
    QProcess p;
    if (!user.isEmpty()) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("PGUSER"), user);
        p.setProcessEnvironment(env);
    }
    p.start(binFolder() + u'/' + QLatin1String(program), args);
    p.waitForFinished(120000);
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            QString::fromUtf8(p.readAllStandardOutput() + p.readAllStandardError())};
}

TempFolder::TempFolder()
{
    QTemporaryDir dir(QDir::temp().filePath(QStringLiteral("climalog-test-XXXXXX")));
    dir.setAutoRemove(false);
    path_ = dir.path();
}

TempFolder::~TempFolder()
{
    if (::testing::Test::HasFailure()) {
        qWarning("kept test folder: %s", qPrintable(path_));
        return;
    }
    QDir(path_).removeRecursively();
}

QString TempFolder::file(const QString &name) const { return QDir(path_).filePath(name); }

QByteArray TempFolder::read(const QString &name) const
{
    QFile f(file(name));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void TempFolder::write(const QString &name, const QByteArray &bytes) const
{
    QFile f(file(name));
    EXPECT_TRUE(f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size())
        << "cannot write " << qPrintable(name);
}

void append(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::Append) && f.write(bytes) == bytes.size())
        << "cannot append to " << qPrintable(path);
}

std::string shortest(double v)
{
    char text[32];
    return std::isnan(v) ? std::string("ERR")
                         : std::string(text, std::to_chars(text, text + sizeof text, v).ptr);
}

bool waitUntil(const std::function<bool()> &done, int pollMs)
{
    QElapsedTimer waited;
    for (waited.start(); !done() && waited.elapsed() < 60000;)
        QThread::msleep(pollMs);
    return done();
}

Messages::Answer ScriptedMessages::show(const QString &text, Buttons b, Icon icon)
{
    texts << text;
    buttons.push_back(b);
    if (whileShown)
        whileShown(text);
    if (real)
        return real->show(text, b, icon);
    if (answers.empty()) // an unscripted retry question is cancelled, so a test never loops
        return b == Buttons::YesNo || b == Buttons::YesNoOrBack || b == Buttons::YesNoDefaultNo
            ? Answer::Yes
            : b == Buttons::RetryCancel ? Answer::Cancel
                                        : Answer::Ok;
    const Answer a = answers.front();
    answers.pop_front();
    return a;
}

// Windows tests take access away with a program of their own holding the file.
#ifndef _WIN32
static void modos(const QString &folder, unsigned carpeta, unsigned fichero)
{
    for (const QString &name : QDir(folder).entryList(QDir::Files))
        ::chmod(QFile::encodeName(QDir(folder).filePath(name)).constData(), fichero);
    ::chmod(QFile::encodeName(folder).constData(), carpeta);
}

bool SinEscritura::cierra()
{
    cerrado_ = true;
    modos(folder_, 0555, 0444);
    // The other identity must still reach the folder through its parent.
    ::chmod(QFile::encodeName(folder_ + QStringLiteral("/..")).constData(), 0755);
    return ::geteuid() != 0 || (root_ = ::seteuid(65534) == 0);
}

void SinEscritura::abre()
{
    if (root_) // root again first: the folder is root's
        root_ = ::seteuid(0) != 0;
    if (std::exchange(cerrado_, false))
        modos(folder_, 0755, 0644);
}

ComoUsuario::ComoUsuario(const QString &folder)
{
    if (::geteuid() != 0)
        return;
    ::chmod(QFile::encodeName(folder).constData(), 0777);
    root_ = ::seteuid(65534) == 0;
}

ComoUsuario::~ComoUsuario()
{
    if (root_)
        root_ = ::seteuid(0) != 0;
}
#else
ComoUsuario::ComoUsuario(const QString &) {}
ComoUsuario::~ComoUsuario() = default;
#endif

namespace sim {

// The same library the binding loads from the program's folder, so the
// controls reach the network the program's calls go to.
static QLibrary library(QDir(binFolder()).filePath(SondaIO::fileName()));

QFunctionPointer resolve(const char *name)
{
    const QFunctionPointer control = library.resolve(name);
    if (!control)
        throw std::runtime_error(std::string("simulator control missing: ") + name);
    return control;
}

bool available() { return library.load(); }
void onCall(std::function<void(const char *)> hook)
{
    static std::function<void(const char *)> current;
    current = std::move(hook);
    const SimCallHook trampoline = [](const char *call, void *) { current(call); };
    SIM(SimSetCallHook)(current ? trampoline : nullptr, nullptr);
}

}

int addDevice(General &g, const TestDevice &d)
{
    g.dispactual = Dispositivo{};
    g.dispactual.tipo = d.tipo;
    g.dispactual.nombre = QString::fromUtf8(d.nombre);
    for (std::size_t k = 0; k < 4; ++k)
        g.dispactual.magnitud[k] = QString::fromUtf8(d.magnitud[k]);
    const int i = g.nuevo();
    g.estados[static_cast<std::size_t>(i)] = {d.crudo, d.valido, d.lectura, 0};
    return i;
}
