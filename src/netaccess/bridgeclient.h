// The program's side of the bridge process (Windows): starts the bridge on
// the library, sends it each call with its buffers over a pipe and takes the
// buffers back. A bridge that dies or stops answering fails the call in
// hand and is started again, with its ports opened again, for the next one.
#pragma once

#ifdef _WIN32

#include "netaccess/librarycalls.h"

#include <QString>
#include <memory>

struct BridgeStart {
    enum class Status {
        Started,
        NoProgram, // the bridge itself could not be started
        Ended, // the bridge ended before its greeting: the library ended it while loading
        Silent, // no greeting in the answer time: the library does not return from loading
        Garbled, // something other than a greeting came: not this program's bridge
        NoLibrary, // the bridge could not load the library
        NoCall, // the library lacks missingCall
    };
    Status status = Status::NoProgram;
    std::unique_ptr<LibraryCalls> calls;
    int missingCall = 0;
    unsigned long systemError = 0; // NoProgram, NoLibrary
    unsigned long exitCode = 0; // Ended
};

BridgeStart startBridge(const QString &program, const QString &library, int answerMs);

#endif
