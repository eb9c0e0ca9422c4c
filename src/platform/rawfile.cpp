#include "platform/rawfile.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <cerrno>

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

namespace rawfile {

QString shown(const QString &path) { return QDir::toNativeSeparators(path); }

QString reason(int err)
{
    struct Reason {
        int err;
        const char *text;
    };
    static const Reason reasons[] = {
        {EACCES, "permiso denegado"},
        {EPERM, "permiso denegado"},
        {ENOENT, "la carpeta no existe"},
        {ENOSPC, "no queda espacio en el disco"},
#ifdef EDQUOT
        {EDQUOT, "se ha superado la cuota de disco"},
#endif
        {EROFS, "el disco es de solo lectura"},
        {EIO, "error de entrada/salida del disco"},
        {EISDIR, "es una carpeta, no un fichero"},
        {ENOTDIR, "una parte de la ruta no es una carpeta"},
        {ENAMETOOLONG, "la ruta es demasiado larga"},
        {EMFILE, "hay demasiados ficheros abiertos"},
        {ENFILE, "hay demasiados ficheros abiertos"},
        {EBUSY, "el fichero está en uso"},
#ifdef ETXTBSY
        {ETXTBSY, "el fichero está en uso"},
#endif
        {EFBIG, "el fichero supera el tamaño máximo permitido"},
        {EEXIST, "no se ha podido crear un fichero temporal"},
        {ENXIO, "no es un fichero normal"},
    };
    for (const Reason &r : reasons)
        if (r.err == err)
            return QString::fromUtf8(r.text);
    return QStringLiteral("error del sistema %1").arg(err);
}

#ifdef _WIN32
const wchar_t *wide(const QString &native)
{
    return reinterpret_cast<const wchar_t *>(native.utf16());
}

namespace {
// The runtime reports another program's hold on the file as a denied
// access; it is a busy file, which the user can free.
int busyOr(int err)
{
    return _doserrno == ERROR_SHARING_VIOLATION || _doserrno == ERROR_LOCK_VIOLATION ? EBUSY : err;
}

int open(const QString &path, int flags)
{
    int fd = -1;
    _doserrno = 0;
    const errno_t e = _wsopen_s(&fd, wide(shown(path)), flags | _O_BINARY | _O_NOINHERIT,
                                _SH_DENYNO, _S_IREAD | _S_IWRITE);
    if (e != 0) {
        errno = busyOr(e);
        return -1;
    }
    return fd;
}
}
#else
namespace {
int open(const QString &path, int flags)
{
    int fd;
    do
        fd = ::open(QFile::encodeName(path).constData(), flags | O_CLOEXEC, 0666);
    while (fd < 0 && errno == EINTR);
    return fd;
}
}
#endif

int openRead(const QString &path)
{
#ifdef _WIN32
    return open(path, _O_RDONLY);
#else
    // Non-blocking, so a FIFO put in the file's place cannot hang the window.
    return open(path, O_RDONLY | O_NONBLOCK);
#endif
}

int openAppend(const QString &path)
{
#ifdef _WIN32
    return open(path, _O_RDWR | _O_APPEND | _O_CREAT);
#else
    return open(path, O_RDWR | O_APPEND | O_CREAT | O_NONBLOCK);
#endif
}

int closeFile(int fd)
{
#ifdef _WIN32
    return _close(fd);
#else
    return ::close(fd);
#endif
}

int regularSize(int fd, qint64 &size)
{
#ifdef _WIN32
    struct _stat64 st;
    if (_fstat64(fd, &st) != 0)
        return errno;
    if ((st.st_mode & _S_IFMT) == _S_IFDIR)
        return EISDIR;
    if ((st.st_mode & _S_IFMT) != _S_IFREG)
        return ENXIO;
#else
    struct stat st;
    if (::fstat(fd, &st) != 0)
        return errno;
    if (S_ISDIR(st.st_mode))
        return EISDIR;
    if (!S_ISREG(st.st_mode))
        return ENXIO;
#endif
    size = static_cast<qint64>(st.st_size);
    return 0;
}

namespace {
// Moves size bytes by step(offset, count), in pieces the system calls take,
// again after an interrupted call: the bytes moved, fewer when step returned
// 0 (the end of a file, a disk that takes no more), -1 on an error.
template <typename Step>
qint64 inPieces(qint64 size, Step step)
{
    qint64 done = 0;
    while (done < size) {
        const qint64 got = step(done, std::min<qint64>(size - done, 1 << 30));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return -1;
        if (got == 0)
            break;
        done += got;
    }
    return done;
}
}

qint64 readFully(int fd, char *data, qint64 size)
{
    return inPieces(size, [&](qint64 at, qint64 n) -> qint64 {
#ifdef _WIN32
        return _read(fd, data + at, static_cast<unsigned>(n));
#else
        return ::read(fd, data + at, static_cast<size_t>(n));
#endif
    });
}

int lastByte(int fd, qint64 size, char &last)
{
#ifdef _WIN32
    if (_lseeki64(fd, size - 1, SEEK_SET) < 0)
        return errno;
    const qint64 got = readFully(fd, &last, 1);
#else
    ssize_t got;
    do
        got = ::pread(fd, &last, 1, static_cast<off_t>(size - 1));
    while (got < 0 && errno == EINTR);
#endif
    if (got < 0)
        return errno;
    return got == 1 ? 0 : EIO;
}

bool writeFully(int fd, const char *data, qint64 size)
{
    const qint64 done = inPieces(size, [&](qint64 at, qint64 n) -> qint64 {
#ifdef _WIN32
        _doserrno = 0;
        const int put = _write(fd, data + at, static_cast<unsigned>(n));
        if (put < 0)
            errno = busyOr(errno);
        return put;
#else
        return ::write(fd, data + at, static_cast<size_t>(n));
#endif
    });
    if (done < 0)
        return false;
    if (done < size) {
        errno = ENOSPC;
        return false;
    }
    return true;
}

bool syncFile(int fd)
{
#ifdef _WIN32
    return _commit(fd) == 0;
#else
#ifdef F_FULLFSYNC
    // A plain fsync there leaves the data in the drive's cache.
    if (::fcntl(fd, F_FULLFSYNC) == 0)
        return true;
#endif
    return ::fsync(fd) == 0;
#endif
}

bool syncFolder(const QString &folder)
{
#ifdef _WIN32
    // Renames and creations there are made durable by write-through.
    Q_UNUSED(folder);
    return true;
#else
    const int fd =
        ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    bool ok = ::fsync(fd) == 0;
    // File systems that cannot sync a folder say so; nothing more can be done.
    if (!ok && (errno == EINVAL || errno == ENOTSUP))
        ok = true;
    const int err = errno;
    ::close(fd);
    errno = err;
    return ok;
#endif
}

void removeFile(const QString &path)
{
#ifdef _WIN32
    _wunlink(wide(shown(path)));
#else
    ::unlink(QFile::encodeName(path).constData());
#endif
}

}
