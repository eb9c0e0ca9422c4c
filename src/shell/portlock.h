// One program per configuration file: the running program holds a lock on
// a file beside its configuration, which the system releases when the
// program ends in any way, a crash or a kill included.
#pragma once

#include <QString>
#include <memory>

class PortLock {
public:
    enum class Status { Held, Busy, Unavailable };

    ~PortLock();
    PortLock(const PortLock &) = delete;
    PortLock &operator=(const PortLock &) = delete;

    // Held: the lock is the caller's while the object lives. Busy: another
    // program holds it. Unavailable: the folder allows no lock file (the
    // program then goes on without one: it could save nothing there either).
    static std::unique_ptr<PortLock> take(const QString &configPath, Status &status);
    // The lock file of a configuration file: hidden, beside it.
    static QString lockPath(const QString &configPath);

private:
    PortLock() = default;
    // Takes the lock on the lock file at `path` for this object.
    Status lock(const QString &path);
#ifdef _WIN32
    void *handle_ = nullptr;
#else
    int fd_ = -1;
#endif
};
