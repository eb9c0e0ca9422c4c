#include "netaccess/binding.h"

#include "netaccess/bridgeclient.h"
#include "netaccess/librarycalls.h"
#include "netaccess/pefile.h"
#include "netaccess/sondaio_calls.h"

#include <QDir>
#include <QFile>
#include <cstring>
#include <utility>

namespace {

// The serial travels as an 8-byte text the library may overwrite; one NUL
// more so a library that terminates texts stays inside the buffer.
struct SerialBuffer {
    explicit SerialBuffer(const Serial &sn) { std::memcpy(bytes, sn.data(), sn.size()); }
    void copyBack(Serial &sn) const { std::memcpy(sn.data(), bytes, sn.size()); }
    unsigned char bytes[SONDAIO_SN_LEN + 1] = {};
};

struct Block {
    explicit Block(const SondaIO::Words &words) { std::memcpy(bytes, words.data(), sizeof(words)); }
    void copyBack(SondaIO::Words &words) const { std::memcpy(words.data(), bytes, sizeof(words)); }
    alignas(8) unsigned char bytes[SONDAIO_BLOCK_LEN] = {};
};

struct MessageBuffer {
    explicit MessageBuffer(const FixedText<100> &text)
    {
        std::memcpy(bytes, text.bytes().data(), 100);
    }
    void copyBack(FixedText<100> &text) const { std::memcpy(text.bytes().data(), bytes, 100); }
    unsigned char bytes[SONDAIO_MSG_LEN + 1] = {};
};

using Buffer = std::pair<unsigned char *, std::size_t>;

template <std::size_t N>
Buffer buffer(unsigned char (&bytes)[N])
{
    return {bytes, N};
}

Invocation invocation(int call, std::int16_t port, std::initializer_list<Buffer> buffers)
{
    Invocation c;
    c.call = call;
    c.port = port;
    std::size_t k = 0;
    for (const auto &[data, size] : buffers) {
        c.data[k] = data;
        c.size[k] = size;
        ++k;
    }
    return c;
}

// The library in this process, its calls resolved once.
class DirectCalls final : public LibraryCalls {
public:
    std::int16_t invoke(const Invocation &c) override
    {
        return sondaio_invoke(fns.data(), c.call, c.port, c.out1, c.out2, c.count, c.data[0],
                              c.data[1]);
    }
    std::array<sondaio_fn, SONDAIO_CALL_COUNT + 1> fns{};
};

// The library, or null and the system's error number (0 where the system
// gives none).
void *openLibrary(const QString &path, unsigned long &systemError)
{
#ifdef _WIN32
    // Libraries the network library itself needs are found beside it.
    void *library = reinterpret_cast<void *>(LoadLibraryExW(
        reinterpret_cast<const wchar_t *>(path.utf16()), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
    systemError = library ? 0 : GetLastError();
    return library;
#else
    systemError = 0;
    return dlopen(QFile::encodeName(path).constData(), RTLD_NOW | RTLD_LOCAL);
#endif
}

QString libraryPath(const QString &folder) { return QDir(folder).filePath(SondaIO::fileName()); }

// The two numbers a user meets most are said in words: the library not
// there, or without one of its own libraries beside it (the system says the
// same of both), and a file that is no library of this system.
QString noLibrary(const QString &path, unsigned long systemError)
{
    QString cause;
    if (systemError == 126 && !QFile::exists(path))
        cause = QStringLiteral(": no está en la carpeta del programa");
    else if (systemError == 126)
        cause = QStringLiteral(": falta una librería que ella necesita; cópiela junto a ella");
    else if (systemError == 193)
        cause = QStringLiteral(": el fichero no es una librería que este sistema pueda cargar");
    const QString number = systemError
        ? QStringLiteral(" (error del sistema %1%2)").arg(systemError).arg(cause)
        : QString();
    return QStringLiteral("No se puede cargar la librería de acceso a la red %1%2.")
        .arg(QDir::toNativeSeparators(path), number);
}

QString noCall(const QString &path, int call)
{
    return QStringLiteral("La librería de acceso a la red %1 no tiene la función %2.")
        .arg(QDir::toNativeSeparators(path), QString::fromLatin1(sondaio_call_table[call].name));
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
    const QString path = libraryPath(folder);
#ifdef _WIN32
    // A 64-bit process cannot load a 32-bit library: the bridge serves it.
    if (sizeof(void *) == 8 && peMachine(path) == PeMachine::X86)
        return loadBridged(folder, {QDir(folder).filePath(bridgeFileName())}, error);
#endif
    unsigned long systemError = 0;
    void *library = openLibrary(path, systemError);
    if (!library) {
        if (error)
            *error = noLibrary(path, systemError);
        return nullptr;
    }
    // The library stays loaded for the rest of the run.
    auto calls = std::make_unique<DirectCalls>();
    for (int call = 1; call <= SONDAIO_CALL_COUNT; ++call) {
        calls->fns[call] = sondaio_resolve(library, call);
        if (!calls->fns[call]) {
            if (error)
                *error = noCall(path, call);
            return nullptr;
        }
    }
    return std::unique_ptr<SondaIO>(new SondaIO(std::move(calls)));
}

#ifdef _WIN32
QString SondaIO::bridgeFileName() { return QStringLiteral("bridge32.exe"); }

std::unique_ptr<SondaIO> SondaIO::loadBridged(const QString &folder, const Bridge &bridge,
                                              QString *error)
{
    const QString path = libraryPath(folder);
    BridgeStart start = startBridge(bridge.program, path, bridge.answerMs);
    // What the bridge did, after the library's width and the bridge's name.
    const auto bridgeDid = [&](const QString &what) {
        return QStringLiteral(
                   "La librería de acceso a la red %1 es de 32 bits y el programa puente %2 %3")
            .arg(QDir::toNativeSeparators(path), QDir::toNativeSeparators(bridge.program), what);
    };
    QString message;
    switch (start.status) {
    case BridgeStart::Status::Started:
        return std::unique_ptr<SondaIO>(new SondaIO(std::move(start.calls)));
    case BridgeStart::Status::NoProgram:
        message = bridgeDid(
            QStringLiteral("no se puede iniciar (error del sistema %1).").arg(start.systemError));
        break;
    case BridgeStart::Status::Ended:
        message = bridgeDid(
            QStringLiteral("se ha cerrado al cargarla (código de salida %1).").arg(start.exitCode));
        break;
    case BridgeStart::Status::Silent:
        message = bridgeDid(QStringLiteral("no ha contestado en %1 segundos al cargarla.")
                                .arg((bridge.answerMs + 999) / 1000));
        break;
    case BridgeStart::Status::Garbled:
        message = bridgeDid(QStringLiteral("ha contestado algo que no se entiende al cargarla."));
        break;
    case BridgeStart::Status::NoLibrary:
        message = noLibrary(path, start.systemError);
        break;
    case BridgeStart::Status::NoCall:
        message = noCall(path, start.missingCall);
        break;
    }
    if (error)
        *error = message;
    return nullptr;
}
#endif

SondaIO::SondaIO(std::unique_ptr<LibraryCalls> calls) : calls_(std::move(calls)) {}
SondaIO::~SondaIO() = default;

unsigned long SondaIO::bridgeProcess() const { return calls_->process(); }

std::int16_t SondaIO::IniciarCNX(std::int16_t port, const QString &portName,
                                 FixedText<100> &mensaje)
{
    // Port names are "COM" and a digit; the buffer holds any name whole.
    QByteArray name = portName.toLatin1();
    name.resize(std::max<qsizetype>(name.size(), SONDAIO_PORTNAME_LEN) + 1, '\0');
    MessageBuffer message(mensaje);
    const std::int16_t r = calls_->invoke(
        invocation(SONDAIO_INICIAR, port,
                   {{reinterpret_cast<unsigned char *>(name.data()), std::size_t(name.size())},
                    buffer(message.bytes)}));
    message.copyBack(mensaje);
    return r;
}

std::int16_t SondaIO::FinalizarCNX(std::int16_t port, FixedText<100> &mensaje)
{
    MessageBuffer message(mensaje);
    const std::int16_t r =
        calls_->invoke(invocation(SONDAIO_FINALIZAR, port, {buffer(message.bytes)}));
    message.copyBack(mensaje);
    return r;
}

namespace {
std::int16_t readCall(LibraryCalls &calls, int call, std::int16_t port, Serial &sn,
                      SondaIO::Words &words)
{
    SerialBuffer serial(sn);
    Block block(words);
    const std::int16_t r =
        calls.invoke(invocation(call, port, {buffer(serial.bytes), buffer(block.bytes)}));
    serial.copyBack(sn);
    block.copyBack(words);
    return r;
}

std::int16_t search(LibraryCalls &calls, int call, std::int16_t port, SondaIO::SearchBuffer &found)
{
    Invocation c = invocation(call, port, {{found.data(), found.size()}});
    c.count = SONDAIO_SEARCH_MAX;
    return calls.invoke(c);
}
}

std::int16_t SondaIO::LeerTemperatura(std::int16_t port, Serial &sn, Words &words)
{
    return readCall(*calls_, SONDAIO_TEMPERATURA, port, sn, words);
}

std::int16_t SondaIO::LeerHRT(std::int16_t port, Serial &sn, Words &words)
{
    return readCall(*calls_, SONDAIO_HRT, port, sn, words);
}
std::int16_t SondaIO::LeerAD(std::int16_t port, Serial &sn, Words &words)
{
    return readCall(*calls_, SONDAIO_LEERAD, port, sn, words);
}
std::int16_t SondaIO::LeerDET(std::int16_t port, Serial &sn, Words &words)
{
    return readCall(*calls_, SONDAIO_LEERDET, port, sn, words);
}

std::int16_t SondaIO::SetupAD(std::int16_t port, Serial &sn, std::array<std::int16_t, 4> &ajuste)
{
    SerialBuffer serial(sn);
    unsigned char setup[8];
    std::memcpy(setup, ajuste.data(), sizeof(setup));
    const std::int16_t r =
        calls_->invoke(invocation(SONDAIO_SETUPAD, port, {buffer(serial.bytes), buffer(setup)}));
    serial.copyBack(sn);
    std::memcpy(ajuste.data(), setup, sizeof(setup));
    return r;
}

std::int16_t SondaIO::EscribirCTR(std::int16_t port, Serial &sn, std::int16_t out1,
                                  std::int16_t out2)
{
    SerialBuffer serial(sn);
    Invocation c = invocation(SONDAIO_ESCRIBIRCTR, port, {buffer(serial.bytes)});
    c.out1 = out1;
    c.out2 = out2;
    const std::int16_t r = calls_->invoke(c);
    serial.copyBack(sn);
    return r;
}

std::int16_t SondaIO::BuscarSensoresTra(std::int16_t port, SearchBuffer &buffer)
{
    return search(*calls_, SONDAIO_BUSCAR_SENSORES, port, buffer);
}

std::int16_t SondaIO::BuscarConversoresAD(std::int16_t port, SearchBuffer &buffer)
{
    return search(*calls_, SONDAIO_BUSCAR_CONVERSORES, port, buffer);
}

std::int16_t SondaIO::BuscarDetectores(std::int16_t port, SearchBuffer &buffer)
{
    return search(*calls_, SONDAIO_BUSCAR_DETECTORES, port, buffer);
}

QString SondaIO::ConvertSerialNum(Serial &sn)
{
    SerialBuffer serial(sn);
    unsigned char printable[SONDAIO_PRINTABLE_LEN + 1] = {};
    calls_->invoke(invocation(SONDAIO_CONVERT, 0, {buffer(serial.bytes), buffer(printable)}));
    serial.copyBack(sn);
    return QString::fromLatin1(reinterpret_cast<const char *>(printable), SONDAIO_PRINTABLE_LEN);
}
