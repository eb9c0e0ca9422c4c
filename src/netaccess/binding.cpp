#include "netaccess/binding.h"

#include "netaccess/sondaio.h"

#include <QDir>
#include <QFile>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

struct SondaIO::Calls {
    IniciarCNX_fn iniciar = nullptr;
    FinalizarCNX_fn finalizar = nullptr;
    LeerTemperatura_fn temperatura = nullptr;
    LeerHRT_fn hrt = nullptr;
    SetupAD_fn setup = nullptr;
    LeerAD_fn ad = nullptr;
    LeerDET_fn det = nullptr;
    EscribirCTR_fn ctr = nullptr;
    Buscar_fn sensores = nullptr;
    Buscar_fn conversores = nullptr;
    Buscar_fn detectores = nullptr;
    ConvertSerialNum_fn convert = nullptr;
};

namespace {

// The serial travels as an 8-byte text the library may overwrite; one NUL
// more so a library that terminates texts stays inside the buffer.
struct SerialBuffer {
    explicit SerialBuffer(const Serial &sn) { std::memcpy(bytes, sn.data(), sn.size()); }
    void copyBack(Serial &sn) const { std::memcpy(sn.data(), bytes, sn.size()); }
    char bytes[SONDAIO_SN_LEN + 1] = {};
};

struct Block {
    explicit Block(const SondaIO::Words &words) { std::memcpy(bytes, words.data(), sizeof(words)); }
    void copyBack(SondaIO::Words &words) const { std::memcpy(words.data(), bytes, sizeof(words)); }
    alignas(8) unsigned char bytes[SONDAIO_BLOCK_LEN] = {};
};

struct MessageBuffer {
    explicit MessageBuffer(const FixedText<100> &text) { std::memcpy(bytes, text.bytes().data(), 100); }
    void copyBack(FixedText<100> &text) const { std::memcpy(text.bytes().data(), bytes, 100); }
    char bytes[SONDAIO_MSG_LEN + 1] = {};
};

void *openLibrary(const QString &path)
{
#ifdef _WIN32
    return reinterpret_cast<void *>(LoadLibraryW(reinterpret_cast<const wchar_t *>(path.utf16())));
#else
    return dlopen(QFile::encodeName(path).constData(), RTLD_NOW | RTLD_LOCAL);
#endif
}

void *symbol(void *library, const char *name)
{
#ifdef _WIN32
    return reinterpret_cast<void *>(GetProcAddress(static_cast<HMODULE>(library), name));
#else
    return dlsym(library, name);
#endif
}

template <typename Fn>
bool resolve(void *library, const char *name, Fn &fn, QString *missing)
{
    fn = reinterpret_cast<Fn>(symbol(library, name));
    if (!fn && missing->isEmpty())
        *missing = QString::fromLatin1(name);
    return fn != nullptr;
}

}

QString SondaIO::fileName()
{
#ifdef _WIN32
    return QStringLiteral("SondaIO.DLL");
#else
    return QStringLiteral("libSondaIO.so");
#endif
}

std::unique_ptr<SondaIO> SondaIO::load(const QString &folder, QString *error)
{
    const QString path = QDir(folder).filePath(fileName());
    void *library = openLibrary(path);
    if (!library) {
        if (error)
            *error = QStringLiteral("No se puede cargar la librería de acceso a la red %1.").arg(QDir::toNativeSeparators(path));
        return nullptr;
    }
    // The library stays loaded for the rest of the run.
    auto calls = std::make_unique<Calls>();
    QString missing;
    resolve(library, "IniciarCNX", calls->iniciar, &missing);
    resolve(library, "FinalizarCNX", calls->finalizar, &missing);
    resolve(library, "LeerTemperatura", calls->temperatura, &missing);
    resolve(library, "LeerHRT", calls->hrt, &missing);
    resolve(library, "SetupAD", calls->setup, &missing);
    resolve(library, "LeerAD", calls->ad, &missing);
    resolve(library, "LeerDET", calls->det, &missing);
    resolve(library, "EscribirCTR", calls->ctr, &missing);
    resolve(library, "BuscarSensoresTra", calls->sensores, &missing);
    resolve(library, "BuscarConversoresAD", calls->conversores, &missing);
    resolve(library, "BuscarDetectores", calls->detectores, &missing);
    resolve(library, "ConvertSerialNum", calls->convert, &missing);
    if (!missing.isEmpty()) {
        if (error)
            *error = QStringLiteral("La librería de acceso a la red %1 no tiene la función %2.")
                         .arg(QDir::toNativeSeparators(path), missing);
        return nullptr;
    }
    return std::unique_ptr<SondaIO>(new SondaIO(std::move(calls)));
}

SondaIO::SondaIO(std::unique_ptr<Calls> calls) : calls_(std::move(calls)) {}
SondaIO::~SondaIO() = default;

std::int16_t SondaIO::IniciarCNX(std::int16_t port, const QString &portName, FixedText<100> &mensaje)
{
    // Port names are "COM" and a digit; the buffer holds any name whole.
    QByteArray name = portName.toLatin1();
    name.resize(std::max<qsizetype>(name.size(), SONDAIO_PORTNAME_LEN) + 1, '\0');
    MessageBuffer message(mensaje);
    const std::int16_t r = calls_->iniciar(port, name.data(), message.bytes);
    message.copyBack(mensaje);
    return r;
}

std::int16_t SondaIO::FinalizarCNX(std::int16_t port, FixedText<100> &mensaje)
{
    MessageBuffer message(mensaje);
    const std::int16_t r = calls_->finalizar(port, message.bytes);
    message.copyBack(mensaje);
    return r;
}

namespace {
template <typename Fn>
std::int16_t readCall(Fn fn, std::int16_t port, Serial &sn, SondaIO::Words &words)
{
    SerialBuffer serial(sn);
    Block block(words);
    const std::int16_t r = fn(port, serial.bytes, block.bytes);
    serial.copyBack(sn);
    block.copyBack(words);
    return r;
}
}

std::int16_t SondaIO::LeerTemperatura(std::int16_t port, Serial &sn, Words &words)
{
    return readCall(calls_->temperatura, port, sn, words);
}

std::int16_t SondaIO::LeerHRT(std::int16_t port, Serial &sn, Words &words) { return readCall(calls_->hrt, port, sn, words); }
std::int16_t SondaIO::LeerAD(std::int16_t port, Serial &sn, Words &words) { return readCall(calls_->ad, port, sn, words); }
std::int16_t SondaIO::LeerDET(std::int16_t port, Serial &sn, Words &words) { return readCall(calls_->det, port, sn, words); }

std::int16_t SondaIO::SetupAD(std::int16_t port, Serial &sn, std::array<std::int16_t, 4> &ajuste)
{
    SerialBuffer serial(sn);
    std::int16_t setup[4];
    std::memcpy(setup, ajuste.data(), sizeof(setup));
    const std::int16_t r = calls_->setup(port, serial.bytes, setup);
    serial.copyBack(sn);
    std::memcpy(ajuste.data(), setup, sizeof(setup));
    return r;
}

std::int16_t SondaIO::EscribirCTR(std::int16_t port, Serial &sn, std::int16_t out1, std::int16_t out2)
{
    SerialBuffer serial(sn);
    const std::int16_t r = calls_->ctr(port, serial.bytes, out1, out2);
    serial.copyBack(sn);
    return r;
}

std::int16_t SondaIO::BuscarSensoresTra(std::int16_t port, SearchBuffer &buffer)
{
    return calls_->sensores(port, buffer.data(), SONDAIO_SEARCH_MAX);
}

std::int16_t SondaIO::BuscarConversoresAD(std::int16_t port, SearchBuffer &buffer)
{
    return calls_->conversores(port, buffer.data(), SONDAIO_SEARCH_MAX);
}

std::int16_t SondaIO::BuscarDetectores(std::int16_t port, SearchBuffer &buffer)
{
    return calls_->detectores(port, buffer.data(), SONDAIO_SEARCH_MAX);
}

QString SondaIO::ConvertSerialNum(Serial &sn)
{
    SerialBuffer serial(sn);
    char printable[SONDAIO_PRINTABLE_LEN + 1] = {};
    calls_->convert(serial.bytes, printable);
    serial.copyBack(sn);
    return QString::fromLatin1(printable, SONDAIO_PRINTABLE_LEN);
}
