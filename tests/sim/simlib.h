// The simulator as the program meets it: the library file in the program's
// folder, opened by name, every call resolved by name.
#pragma once

#include "simcontrol.h"

#include <array>
#include <cstring>
#include <dlfcn.h>
#include <stdexcept>
#include <string>
#include <unistd.h>

namespace simtest {

using Serial = std::array<unsigned char, 8>;
using Words = std::array<std::int16_t, 4>;

#define SIMTEST_EXPORTS(X)                                                                                          \
    X(IniciarCNX) X(FinalizarCNX) X(LeerTemperatura) X(LeerHRT) X(SetupAD) X(LeerAD) X(LeerDET) X(EscribirCTR)      \
    X(BuscarSensoresTra) X(BuscarConversoresAD) X(BuscarDetectores) X(ConvertSerialNum) X(SimLoad) X(SimSetSeed)    \
    X(SimSetLatency) X(SimSetWords) X(SimSetFailRate) X(SimSetPortSilent) X(SimAddDevice) X(SimRemoveDevice)        \
    X(SimRelayWords) X(SimCallCount) X(SimResetCounts) X(SimSetSearchCount)

struct Library {
#define SIMTEST_FIELD(name) decltype(&::name) name;
    SIMTEST_EXPORTS(SIMTEST_FIELD)
};

inline std::string exeFolder()
{
    char path[4096] = {};
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    const std::string exe(path, n > 0 ? size_t(n) : 0);
    return exe.substr(0, exe.rfind('/'));
}

// Resolves all 24 exports; a missing one is an error, as for the program.
inline Library open(const std::string &path)
{
    void *h = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!h)
        throw std::runtime_error("cannot load " + path + ": " + dlerror());
    Library l{};
#define SIMTEST_RESOLVE(name)                                                                                       \
    if (!(l.name = reinterpret_cast<decltype(l.name)>(dlsym(h, #name))))                                            \
        throw std::runtime_error("missing export " #name);
    SIMTEST_EXPORTS(SIMTEST_RESOLVE)
    return l;
}

inline const Library &lib()
{
    static const Library l = open(exeFolder() + "/libSondaIO.so");
    return l;
}

inline Serial serial(const char *hex)
{
    Serial s{};
    for (size_t i = 0; i < 8; ++i)
        s[i] = static_cast<unsigned char>(std::stoi(std::string(hex + 2 * i, 2), nullptr, 16));
    return s;
}

inline char *raw(Serial &s) { return reinterpret_cast<char *>(s.data()); }

// A reading block whose bytes are a known pattern, so writing past W3 (or
// writing at all on a failed call) shows up.
struct Block {
    Block() { std::memset(bytes, 0x5A, sizeof bytes); }
    Words words() const
    {
        Words w;
        std::memcpy(w.data(), bytes, sizeof w);
        return w;
    }
    bool intactFrom(size_t offset) const
    {
        for (size_t i = offset; i < sizeof bytes; ++i)
            if (bytes[i] != 0x5A)
                return false;
        return true;
    }
    alignas(8) unsigned char bytes[SONDAIO_BLOCK_LEN];
};

// The program's 101 search slots, then a guard region.
struct SearchBuffer {
    SearchBuffer() { std::memset(bytes, 0xEE, sizeof bytes); }
    Serial slot(size_t k) const
    {
        Serial s;
        std::memcpy(s.data(), bytes + 8 * k, 8);
        return s;
    }
    bool intactFrom(size_t offset) const
    {
        for (size_t i = offset; i < sizeof bytes; ++i)
            if (bytes[i] != 0xEE)
                return false;
        return true;
    }
    unsigned char bytes[8 * SONDAIO_SEARCH_SLOTS + 64];
};

// IniciarCNX as the program calls it; the message text comes back in `message`.
inline std::int16_t openPort(const Library &l, int port, std::string *message = nullptr)
{
    char name[SONDAIO_PORTNAME_LEN + 1] = {'C', 'O', 'M', char('1' + port), 0};
    char msg[SONDAIO_MSG_LEN + 1] = {};
    const std::int16_t r = l.IniciarCNX(std::int16_t(port), name, msg);
    if (message)
        *message = msg;
    return r;
}

} // namespace simtest
