#include "shell/portlock.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

QString PortLock::lockPath(const QString &configPath)
{
    const QFileInfo info(configPath);
    return info.dir().filePath(u'.' + info.fileName() + QStringLiteral(".lock"));
}

#ifdef _WIN32

PortLock::~PortLock()
{
    if (handle_)
        CloseHandle(handle_);
}

// Opened with no sharing: a second open fails while any process holds it,
// and the system closes the handle of a process that ends, however it ends,
// which also deletes the file.
std::unique_ptr<PortLock> PortLock::take(const QString &configPath, Status &status)
{
    const QString path = QDir::toNativeSeparators(lockPath(configPath));
    const HANDLE h = CreateFileW(reinterpret_cast<const wchar_t *>(path.utf16()), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                 OPEN_ALWAYS, FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD err = GetLastError();
        status = err == ERROR_SHARING_VIOLATION || err == ERROR_LOCK_VIOLATION ? Status::Busy : Status::Unavailable;
        return nullptr;
    }
    std::unique_ptr<PortLock> lock(new PortLock);
    lock->handle_ = h;
    status = Status::Held;
    return lock;
}

#else

PortLock::~PortLock()
{
    if (fd_ >= 0)
        ::close(fd_); // releases the lock
}

// The file stays when the program ends; only its lock goes, which the
// kernel drops with the program's last descriptor, however it ends.
// Removing the file would let a program that opened it meanwhile lock a
// name nobody else sees.
std::unique_ptr<PortLock> PortLock::take(const QString &configPath, Status &status)
{
    const QByteArray path = QFile::encodeName(lockPath(configPath));
    int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) // a read-only folder that already has one
        fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        status = Status::Unavailable;
        return nullptr;
    }
    int r;
    do
        r = ::flock(fd, LOCK_EX | LOCK_NB);
    while (r != 0 && errno == EINTR);
    if (r != 0) {
        status = errno == EWOULDBLOCK ? Status::Busy : Status::Unavailable;
        ::close(fd);
        return nullptr;
    }
    std::unique_ptr<PortLock> lock(new PortLock);
    lock->fd_ = fd;
    status = Status::Held;
    return lock;
}

#endif
