// The few file system calls the configuration and capture files need, with
// the error reported as an errno value on every platform, and the Spanish
// reason the user reads for it.
#pragma once

#include <QString>
#include <QtGlobal>

namespace rawfile {

// The path as the user's system writes it.
QString shown(const QString &path);
// Why a call failed, for a message ("permiso denegado", ...).
QString reason(int err);

// Descriptors, or -1 with errno set.
int openRead(const QString &path);
// Read and write, every write at the end; created when missing.
int openAppend(const QString &path);
int closeFile(int fd);
// 0 and the size for a regular file; otherwise an errno value (ENXIO for
// something that is neither a file nor a folder).
int regularSize(int fd, qint64 &size);
// Bytes read until `size` or end of file, or -1.
qint64 readFully(int fd, char *data, qint64 size);
// 0 and the file's last byte, or an errno value.
int lastByte(int fd, qint64 size, char &last);
// One write() for the whole text; the loop only continues a short write.
bool writeFully(int fd, const char *data, qint64 size);
// The data reaches the disk, not only the system's cache.
bool syncFile(int fd);
// A new or renamed file's name reaches the disk with its folder.
bool syncFolder(const QString &folder);
void removeFile(const QString &path);

#ifdef _WIN32
const wchar_t *wide(const QString &native);
#endif

}
