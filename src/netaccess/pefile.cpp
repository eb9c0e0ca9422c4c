#include "netaccess/pefile.h"

#include <QFile>
#include <QtEndian>

PeMachine peMachine(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return PeMachine::None;
    // The old header names the offset of the new one ("PE\0\0", then the
    // machine field).
    const QByteArray old = file.read(64);
    if (old.size() < 64 || !old.startsWith("MZ"))
        return PeMachine::None;
    const quint32 offset = qFromLittleEndian<quint32>(old.constData() + 0x3C);
    if (!file.seek(offset))
        return PeMachine::None;
    const QByteArray pe = file.read(6);
    if (pe.size() < 6 || !pe.startsWith(QByteArray("PE\0\0", 4)))
        return PeMachine::None;
    switch (qFromLittleEndian<quint16>(pe.constData() + 4)) {
    case 0x014C:
        return PeMachine::X86;
    case 0x8664:
        return PeMachine::X64;
    default:
        return PeMachine::Other;
    }
}
