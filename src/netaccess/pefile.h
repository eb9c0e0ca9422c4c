// Which processor a Windows library file is built for, read from its file
// header: a 64-bit program reaches a 32-bit library only through the bridge.
#pragma once

#include <QString>

enum class PeMachine {
    None, // unreadable, or not a Windows program file
    X86,
    X64,
    Other,
};

PeMachine peMachine(const QString &path);
