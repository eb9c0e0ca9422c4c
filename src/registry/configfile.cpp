#include "registry/configfile.h"

#include "platform/rawfile.h"
#include "registry/general.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace configfile {

namespace {

// Field offsets inside a record, as the file has always laid them out.
constexpr int offNombre = 0;
constexpr int offSn = 16;
constexpr int offTipo = 24;
constexpr int offAjuste = 26;
constexpr int offAlarma = 34;
constexpr int offGanancia = 50;
constexpr int offMagnitud = 66;
constexpr int offSnrele = 98;
constexpr int offSalrele = 130;
constexpr int offPeriodo = 138;
static_assert(offPeriodo + 2 == recordSize);

void put16(char *p, std::int16_t v)
{
    const auto u = static_cast<std::uint16_t>(v);
    p[0] = static_cast<char>(u & 0xFF);
    p[1] = static_cast<char>(u >> 8);
}

std::int16_t get16(const char *p)
{
    const auto lo = static_cast<std::uint8_t>(p[0]);
    const auto hi = static_cast<std::uint8_t>(p[1]);
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(lo | (hi << 8)));
}

// Bit patterns, not values, so NaN payloads survive a load and save.
void putFloat(char *p, float f)
{
    const auto u = std::bit_cast<std::uint32_t>(f);
    for (int k = 0; k < 4; ++k)
        p[k] = static_cast<char>((u >> (8 * k)) & 0xFF);
}

float getFloat(const char *p)
{
    std::uint32_t u = 0;
    for (int k = 0; k < 4; ++k)
        u |= static_cast<std::uint32_t>(static_cast<std::uint8_t>(p[k])) << (8 * k);
    return std::bit_cast<float>(u);
}

void putSerial(char *p, const Serial &sn)
{
    for (std::size_t k = 0; k < sn.size(); ++k)
        p[k] = static_cast<char>(sn[k]);
}

Serial getSerial(const char *p)
{
    Serial sn{};
    for (std::size_t k = 0; k < sn.size(); ++k)
        sn[k] = static_cast<std::uint8_t>(p[k]);
    return sn;
}

template <std::size_t N>
void putText(char *p, const FixedText<N> &t)
{
    std::copy_n(t.bytes().begin(), N, p);
}

template <std::size_t N>
void getText(const char *p, FixedText<N> &t)
{
    std::copy_n(p, N, t.bytes().begin());
}

using rawfile::closeFile;
using rawfile::openRead;
using rawfile::readFully;
using rawfile::reason;
using rawfile::regularSize;
using rawfile::removeFile;
using rawfile::shown;
using rawfile::syncFile;
using rawfile::syncFolder;
using rawfile::writeFully;
#ifdef _WIN32
using rawfile::wide;
#endif

// A new, exclusive temporary next to `path`, so the rename stays in one
// folder (and one file system).
int createTemp(const QString &path, QString &temp)
{
    for (int attempt = 0; attempt < 16; ++attempt) {
        temp = path +
            QStringLiteral(".tmp-%1").arg(QRandomGenerator::system()->generate(), 8, 16,
                                          QLatin1Char('0'));
#ifdef _WIN32
        int fd = -1;
        const errno_t e = _wsopen_s(&fd, wide(shown(temp)),
                                    _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT,
                                    _SH_DENYRW, _S_IREAD | _S_IWRITE);
        if (e == 0)
            return fd;
        errno = e;
#else
        const int fd = ::open(QFile::encodeName(temp).constData(),
                              O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            // Keep the permissions the user gave the old file, but the new
            // table is one its owner can read and write again.
            struct stat st;
            if (::stat(QFile::encodeName(path).constData(), &st) == 0)
                ::fchmod(fd, (st.st_mode & 07777) | S_IRUSR | S_IWUSR);
            return fd;
        }
#endif
        if (errno != EEXIST && errno != EINTR)
            return -1;
    }
    return -1;
}

bool replaceFile(const QString &temp, const QString &path)
{
#ifdef _WIN32
    if (MoveFileExW(wide(shown(temp)), wide(shown(path)),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    switch (GetLastError()) {
    case ERROR_ACCESS_DENIED:
        errno = EACCES;
        break;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        errno = EBUSY;
        break;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        errno = ENOSPC;
        break;
    case ERROR_PATH_NOT_FOUND:
    case ERROR_FILE_NOT_FOUND:
        errno = ENOENT;
        break;
    default:
        errno = EIO;
    }
    return false;
#else
    return ::rename(QFile::encodeName(temp).constData(), QFile::encodeName(path).constData()) == 0;
#endif
}

bool secuenciaValida(const QString &seq)
{
    return seq.size() == 2 && seq[0] >= u'0' && seq[0] <= u'9' && seq[1] >= u'0' && seq[1] <= u'9';
}

// The path, the symbolic links it goes through and, last, the file a save
// replaces: the links stay and the file they name gets the new table.
QStringList cadena(const QString &path)
{
    QStringList chain{path};
    for (int depth = 0; depth < 32; ++depth) {
        const QFileInfo info(chain.last());
        if (!info.isSymbolicLink())
            break;
        chain << info.symLinkTarget();
    }
    return chain;
}

// Temporaries of saves that were cut off (a crash, a power cut) are never
// read; the next good save of the same file removes them. Only files this
// program makes: a plain file (no link, no folder) named after `path` and
// eight lower-case hex digits.
void quitaTemporales(const QString &path)
{
    const QFileInfo info(path);
    const QString prefix = info.fileName() + QStringLiteral(".tmp-");
    QDir folder = info.absoluteDir();
    const QDir::Filters plain = QDir::Files | QDir::NoSymLinks | QDir::Hidden | QDir::System;
    for (const QString &name : folder.entryList({prefix + QLatin1Char('*')}, plain)) {
        const QString tail = name.mid(prefix.size());
        bool hex = tail.size() == 8;
        for (const QChar c : tail)
            hex = hex && ((c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f'));
        if (hex)
            removeFile(folder.filePath(name));
    }
}

// The user's word that the file stays as it is: its read-only attribute on
// Windows, elsewhere a file that may be read but not written (root
// included, as Windows binds its administrators). A rename over it would otherwise replace it
// where the folder may be written.
bool soloLectura(const QString &path)
{
#ifdef _WIN32
    const DWORD attributes = GetFileAttributesW(wide(shown(path)));
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0 &&
        (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
#else
    const QByteArray name = QFile::encodeName(path);
    struct stat st;
    if (::stat(name.constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    // A file nobody may read is no read-only table but a lost one: whether
    // it is replaced is the user's answer to the save's question.
    if ((st.st_mode & 0444) == 0 || ::faccessat(AT_FDCWD, name.constData(), R_OK, AT_EACCESS) != 0)
        return false;
    return (st.st_mode & 0222) == 0 ||
        (::faccessat(AT_FDCWD, name.constData(), W_OK, AT_EACCESS) != 0 && errno == EACCES);
#endif
}

WriteResult failed(const QString &path, const QString &why)
{
    return {
        false,
        QStringLiteral("No se ha podido salvar la configuración en %1: %2.").arg(shown(path), why)};
}

} // namespace

void encode(const Dispositivo &d, char *out)
{
    putText(out + offNombre, d.nombre);
    putSerial(out + offSn, d.sn);
    put16(out + offTipo, d.tipo);
    for (int k = 0; k < 4; ++k) {
        put16(out + offAjuste + 2 * k, d.ajuste[k]);
        putFloat(out + offAlarma + 4 * k, d.alarma[k]);
        putFloat(out + offGanancia + 4 * k, d.ganancia[k]);
        putText(out + offMagnitud + 8 * k, d.magnitud[k]);
        putSerial(out + offSnrele + 8 * k, d.snrele[k]);
        put16(out + offSalrele + 2 * k, d.salrele[k]);
    }
    put16(out + offPeriodo, d.periodo);
}

Dispositivo decode(const char *in)
{
    Dispositivo d;
    getText(in + offNombre, d.nombre);
    d.sn = getSerial(in + offSn);
    d.tipo = get16(in + offTipo);
    for (int k = 0; k < 4; ++k) {
        d.ajuste[k] = get16(in + offAjuste + 2 * k);
        d.alarma[k] = getFloat(in + offAlarma + 4 * k);
        d.ganancia[k] = getFloat(in + offGanancia + 4 * k);
        getText(in + offMagnitud + 8 * k, d.magnitud[k]);
        d.snrele[k] = getSerial(in + offSnrele + 8 * k);
        d.salrele[k] = get16(in + offSalrele + 2 * k);
    }
    d.periodo = get16(in + offPeriodo);
    return d;
}

QByteArray encode(const std::vector<Dispositivo> &table)
{
    QByteArray bytes(static_cast<qsizetype>(table.size()) * recordSize, Qt::Uninitialized);
    char *out = bytes.data();
    for (const Dispositivo &d : table) {
        encode(d, out);
        out += recordSize;
    }
    return bytes;
}

qint64 recordCount(qint64 length)
{
    if (length <= 0)
        return 0;
    const qint64 whole = length / recordSize;
    const qint64 rest = length % recordSize;
    if (2 * rest > recordSize || (2 * rest == recordSize && whole % 2 == 1))
        return whole + 1;
    return whole;
}

std::vector<Dispositivo> decode(const QByteArray &bytes)
{
    const qint64 count = recordCount(bytes.size());
    std::vector<Dispositivo> table;
    table.reserve(static_cast<std::size_t>(count));
    for (qint64 r = 0; r < count; ++r) {
        const qint64 begin = r * recordSize;
        const qint64 available = bytes.size() - begin;
        if (available >= recordSize) {
            table.push_back(decode(bytes.constData() + begin));
        } else {
            // The rounding kept a partial last record: its missing bytes are zero.
            char record[recordSize] = {};
            std::memcpy(record, bytes.constData() + begin,
                        static_cast<std::size_t>(std::max<qint64>(available, 0)));
            table.push_back(decode(record));
        }
    }
    return table;
}

ReadResult read(const QString &path)
{
    ReadResult result;
    const int fd = openRead(path);
    if (fd < 0) {
        const int err = errno;
        if (err == ENOENT) {
            result.status = Status::Missing;
            return result;
        }
        result.status = Status::Unreadable;
        result.message = QStringLiteral("No se puede leer el fichero de configuración %1: %2.")
                             .arg(shown(path), reason(err));
        return result;
    }

    // Enough bytes to know whether the file holds more records than the table can.
    constexpr qint64 limit = maxRecords * recordSize + recordSize / 2 + 1;
    qint64 size = 0;
    int err = regularSize(fd, size);
    QByteArray bytes;
    if (err == 0) {
        bytes.resize(static_cast<qsizetype>(std::min(size, limit)));
        const qint64 got = readFully(fd, bytes.data(), bytes.size());
        if (got < 0)
            err = errno;
        else
            bytes.truncate(static_cast<qsizetype>(got)); // the file shrank meanwhile
    }
    closeFile(fd);
    if (err != 0) {
        result.status = Status::Unreadable;
        result.message = QStringLiteral("No se puede leer el fichero de configuración %1: %2.")
                             .arg(shown(path), reason(err));
        return result;
    }

    if (recordCount(bytes.size()) == 0) {
        result.status = Status::Refused;
        result.message =
            QStringLiteral(
                "El fichero de configuración %1 es demasiado corto (%2 bytes) y no se ha cargado.")
                .arg(shown(path))
                .arg(bytes.size());
        return result;
    }
    if (recordCount(bytes.size()) > maxRecords) {
        bytes.truncate(maxRecords * recordSize);
        result.message =
            QStringLiteral(
                "El fichero de configuración %1 tiene más dispositivos de los que admite el "
                "programa; solo se han cargado los %2 primeros.")
                .arg(shown(path))
                .arg(maxDispositivos);
    }
    result.status = Status::Loaded;
    result.table = decode(bytes);
    // The capture file names are built from the sequence number: anything
    // but two digits would make names the capture folder cannot hold.
    if (!secuenciaValida(result.table[0].nombre.trimmed())) {
        result.table[0].nombre = QStringLiteral("00");
        if (!result.message.isEmpty())
            result.message += QStringLiteral("\r\n");
        result.message +=
            QStringLiteral("El número de secuencia de las capturas en %1 no es válido; se usa 00.")
                .arg(shown(path));
    }
    return result;
}

WriteResult write(const QString &shownPath, const std::vector<Dispositivo> &table)
{
    const QStringList chain = cadena(shownPath);
    const QString path = chain.last();
    if (soloLectura(path))
        return failed(shownPath, QStringLiteral("el fichero es de solo lectura"));
    const QByteArray bytes = encode(table);
    QString temp;
    const int fd = createTemp(path, temp);
    if (fd < 0)
        return failed(shownPath, reason(errno));

    int err = 0;
    // The data must be on the disk before the new name points at it.
    if (!writeFully(fd, bytes.constData(), bytes.size()) || !syncFile(fd))
        err = errno;
    if (closeFile(fd) != 0 && err == 0)
        err = errno;
    if (err == 0 && !replaceFile(temp, path))
        err = errno;
    if (err != 0) {
        removeFile(temp);
        return failed(shownPath, reason(err));
    }
    // The new table is in place; only its durability is unconfirmed, so the
    // caller keeps the table marked modified and saves again later.
    if (!syncFolder(QFileInfo(path).absolutePath()))
        return failed(shownPath,
                      QStringLiteral("no se ha podido confirmar la escritura en el disco (%1)")
                          .arg(reason(errno)));
    // A link may once have been the file itself, with temporaries of its
    // own beside it.
    for (const QString &p : chain)
        quitaTemporales(p);
    return {true, {}};
}

void apply(General &g, std::vector<Dispositivo> table)
{
    if (table.empty())
        return;
    g.dispositivos = std::move(table);
    EstadoDisp fresh;
    fresh.valido = true;
    g.estados.assign(g.dispositivos.size(), fresh);
    g.modificado = false;
    g.ordena();
    g.cogereldet();
}

ReadResult load(General &g)
{
    ReadResult result = read(g.configPath());
    if (result.status == Status::Loaded)
        apply(g, std::move(result.table));
    g.configSinLeer = result.status == Status::Unreadable || result.status == Status::Refused;
    result.table.clear();
    return result;
}

SaveResult save(General &g, bool replace)
{
    if (g.n() <= 0 || !g.modificado)
        return {SaveStatus::NothingToDo, {}};
    // Gone since (removed or renamed by the user): nothing left to lose.
    if (g.configSinLeer && !QFileInfo::exists(g.configPath()))
        g.configSinLeer = false;
    if (g.configSinLeer && !replace)
        return {SaveStatus::NeedsConsent,
                QStringLiteral("El fichero de configuración %1 no se ha podido leer y no se ha "
                               "cargado: lo que guarda "
                               "no está en la lista.\r\nSi lo salva, se reemplazará por los %2 "
                               "dispositivos de la lista "
                               "y lo que guardaba se perderá.\r\n¿Desea reemplazarlo?")
                    .arg(shown(g.configPath()))
                    .arg(g.n())};
    g.ordena();
    g.cogereldet();
    const WriteResult written = write(g.configPath(), g.dispositivos);
    if (!written.ok) {
        g.modificado = true;
        return {SaveStatus::Failed, written.message};
    }
    g.modificado = false;
    g.configSinLeer = false;
    return {SaveStatus::Saved, {}};
}

} // namespace configfile
