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

std::unique_ptr<PortLock> PortLock::take(const QString &configPath, Status &status)
{
    std::unique_ptr<PortLock> lock(new PortLock);
    status = lock->lock(lockPath(configPath));
    if (status != Status::Held)
        return nullptr;
    return lock;
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
PortLock::Status PortLock::lock(const QString &path)
{
    const QString shown = QDir::toNativeSeparators(path);
    const HANDLE h = CreateFileW(reinterpret_cast<const wchar_t *>(shown.utf16()),
                                 GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                 FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD err = GetLastError();
        return err == ERROR_SHARING_VIOLATION || err == ERROR_LOCK_VIOLATION ? Status::Busy
                                                                             : Status::Unavailable;
    }
    handle_ = h;
    return Status::Held;
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
PortLock::Status PortLock::lock(const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    int fd = ::open(name.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) // a read-only folder that already has one
        fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return Status::Unavailable;
    int r;
    do
        r = ::flock(fd, LOCK_EX | LOCK_NB);
    while (r != 0 && errno == EINTR);
    if (r != 0) {
        const Status status = errno == EWOULDBLOCK ? Status::Busy : Status::Unavailable;
        ::close(fd);
        return status;
    }
    fd_ = fd;
    return Status::Held;
}

#endif
