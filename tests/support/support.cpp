#include "support/support.h"

#include "netaccess/binding.h"
#include "registry/general.h"
#include "simcontrol.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <iterator>

#include <cstdlib>
#include <cstdio>
#include <stdexcept>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

QString binFolder()
{
#ifdef _WIN32
    wchar_t path[32768];
    const DWORD n = GetModuleFileNameW(nullptr, path, DWORD(std::size(path)));
    return QFileInfo(QString::fromWCharArray(path, int(n))).absolutePath();
#else
    return QFileInfo(QFile::symLinkTarget(QStringLiteral("/proc/self/exe"))).absolutePath();
#endif
}

TempFolder::TempFolder()
{
    QTemporaryDir dir(QDir::temp().filePath(QStringLiteral("climalog-test-XXXXXX")));
    dir.setAutoRemove(false);
    path_ = dir.path();
}

TempFolder::~TempFolder()
{
    const auto *info = ::testing::UnitTest::GetInstance()->current_test_info();
    if (info && info->result() && info->result()->Failed()) {
        std::fprintf(stderr, "kept test folder: %s\n", qPrintable(path_));
        return;
    }
    // Restore write permissions a test may have taken away, then remove.
#ifndef _WIN32
    std::system(qPrintable(QStringLiteral("chmod -R u+rwx '%1' 2>/dev/null").arg(path_)));
#endif
    QDir(path_).removeRecursively();
}

QString TempFolder::file(const QString &name) const { return QDir(path_).filePath(name); }

QByteArray TempFolder::read(const QString &name) const
{
    QFile f(file(name));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

void TempFolder::write(const QString &name, const QByteArray &bytes) const
{
    QFile f(file(name));
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw std::runtime_error("cannot write test file");
    f.write(bytes);
}

Messages::Answer ScriptedMessages::show(const QString &text, Buttons b, Icon icon)
{
    texts << text;
    buttons.push_back(b);
    icons.push_back(icon);
    if (whileShown)
        whileShown(text);
    if (!answers.empty()) {
        const Answer a = answers.front();
        answers.pop_front();
        return a;
    }
    // An unscripted retry question is cancelled, so a test never loops.
    return b == Buttons::YesNo ? Answer::Yes : b == Buttons::RetryCancel ? Answer::Cancel : Answer::Ok;
}

#ifdef _WIN32
// Windows tests take access away with a program of their own holding the file.
bool SinEscritura::cierra() { return false; }
void SinEscritura::abre() {}
void SinEscritura::modos(unsigned, unsigned) {}
#else
bool SinEscritura::cierra()
{
    cerrado_ = true;
    modos(0555, 0444);
    // The other identity must still reach the folder through its parent.
    ::chmod(QFile::encodeName(folder_ + QStringLiteral("/..")).constData(), 0755);
    return ::geteuid() != 0 || (root_ = ::seteuid(65534) == 0);
}

void SinEscritura::abre()
{
    if (!cerrado_)
        return;
    if (root_ && ::seteuid(0) == 0)
        root_ = false;
    modos(0755, 0644);
    cerrado_ = false;
}

void SinEscritura::modos(unsigned carpeta, unsigned fichero)
{
    for (const QString &name : QDir(folder_).entryList(QDir::Files))
        ::chmod(QFile::encodeName(QDir(folder_).filePath(name)).constData(), fichero);
    ::chmod(QFile::encodeName(folder_).constData(), carpeta);
}
#endif

namespace sim {
namespace {

// The same library the binding loads from the program's folder, so the
// controls reach the network the program's calls go to.
void *library()
{
    const QString path = QDir(binFolder()).filePath(SondaIO::fileName());
#ifdef _WIN32
    static void *handle = reinterpret_cast<void *>(LoadLibraryW(reinterpret_cast<const wchar_t *>(QDir::toNativeSeparators(path).utf16())));
#else
    static void *handle = dlopen(QFile::encodeName(path).constData(), RTLD_NOW | RTLD_LOCAL);
#endif
    return handle;
}

void *symbol(void *h, const char *name)
{
#ifdef _WIN32
    return reinterpret_cast<void *>(GetProcAddress(static_cast<HMODULE>(h), name));
#else
    return dlsym(h, name);
#endif
}

template <typename Fn>
Fn fn(const char *name)
{
    void *h = library();
    void *s = h ? symbol(h, name) : nullptr;
    if (!s)
        throw std::runtime_error(std::string("simulator control missing: ") + name);
    return reinterpret_cast<Fn>(s);
}

const unsigned char *raw(const Serial &s) { return s.data(); }

}

bool available() { return library() != nullptr; }
int load(const char *description) { return fn<int (*)(const char *)>("SimLoad")(description); }
void latency(int ms) { fn<void (*)(int)>("SimSetLatency")(ms); }
int setWords(int port, const Serial &s, std::int16_t w0, std::int16_t w1, std::int16_t w2, std::int16_t w3)
{
    return fn<int (*)(int16_t, const unsigned char *, int16_t, int16_t, int16_t, int16_t)>("SimSetWords")(
        static_cast<int16_t>(port), raw(s), w0, w1, w2, w3);
}
int failRate(int port, const Serial &s, double rate)
{
    return fn<int (*)(int16_t, const unsigned char *, double)>("SimSetFailRate")(static_cast<int16_t>(port), raw(s), rate);
}
void silent(int port, bool on) { fn<void (*)(int16_t, int)>("SimSetPortSilent")(static_cast<int16_t>(port), on ? 1 : 0); }
int addDevice(int port, int tipo, const Serial &s)
{
    return fn<int (*)(int16_t, int16_t, const unsigned char *)>("SimAddDevice")(static_cast<int16_t>(port),
                                                                                static_cast<int16_t>(tipo), raw(s));
}
long relayWords(int port, const Serial &s, std::int16_t &out1, std::int16_t &out2)
{
    return fn<long (*)(int16_t, const unsigned char *, int16_t *, int16_t *)>("SimRelayWords")(
        static_cast<int16_t>(port), raw(s), &out1, &out2);
}
long callCount(int port, const Serial *s, const char *call)
{
    return fn<long (*)(int16_t, const unsigned char *, const char *)>("SimCallCount")(
        static_cast<int16_t>(port), s ? raw(*s) : nullptr, call);
}
void searchCount(int port, int count) { fn<void (*)(int16_t, int)>("SimSetSearchCount")(static_cast<int16_t>(port), count); }
void onCall(std::function<void(const char *)> hook)
{
    static std::function<void(const char *)> current;
    current = std::move(hook);
    using Hook = void (*)(const char *, void *);
    const Hook trampoline = [](const char *call, void *) { current(call); };
    fn<void (*)(Hook, void *)>("SimSetCallHook")(current ? trampoline : nullptr, nullptr);
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

Serial sn(const char *hex) { return hexserie(QString::fromLatin1(hex)); }
