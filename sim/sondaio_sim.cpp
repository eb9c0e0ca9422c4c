// The twelve calls of the network access library and the simulator's test
// controls, over one simulated network guarded by one mutex.
#include "simcontrol.h"
#include "simnet.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <thread>

#ifdef _WIN32
#ifndef NOMINMAX // the Windows C++ runtime may have set it already
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <dlfcn.h>
#endif

using namespace simnet;

namespace {

std::mutex g_mutex;
Network g_net;
bool g_loaded = false;
std::ofstream g_log; // the description's call log, when it names one
const char kAnchor = 0; // an address inside this library, to find its file

std::filesystem::path libraryFolder()
{
#ifdef _WIN32
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCWSTR>(&kAnchor), &module))
        return {};
    std::wstring name(32768, L'\0');
    const DWORD n = GetModuleFileNameW(module, name.data(), DWORD(name.size()));
    name.resize(n);
    return std::filesystem::path(name).parent_path();
#else
    Dl_info info{};
    if (!dladdr(&kAnchor, &info) || !info.dli_fname)
        return {};
    return std::filesystem::path(info.dli_fname).parent_path();
#endif
}

int parseText(const char *description)
{
    if (description)
        return parse(description, g_net);
    std::ifstream file(libraryFolder() / "sondanet.txt", std::ios::binary);
    if (!file)
        return parse(kDemoDescription, g_net);
    const std::string text((std::istreambuf_iterator<char>(file)),
                           std::istreambuf_iterator<char>());
    return parse(text, g_net);
}

int loadLocked(const char *description)
{
    g_loaded = true;
    const int bad = parseText(description);
    g_log.close();
    g_log.clear();
    if (!g_net.callLog.empty()) // a log that cannot be opened just stays silent
        g_log.open(libraryFolder() / std::filesystem::path(g_net.callLog),
                   std::ios::app | std::ios::binary);
    return bad;
}

// The 16 upper-case hex digits of a serial, byte 0 first, and a NUL.
void toHex(const void *sn, char *out)
{
    static const char digits[] = "0123456789ABCDEF";
    for (int i = 0; i < 8; ++i) {
        const unsigned b = static_cast<const unsigned char *>(sn)[i];
        out[2 * i] = digits[b >> 4];
        out[2 * i + 1] = digits[b & 15];
    }
    out[16] = '\0';
}

// One line per call served: name, serial (device calls), port, result.
void logCall(const char *call, const void *sn, int port, int result)
{
    if (!g_log.is_open())
        return;
    g_log << call;
    if (sn) {
        char hex[17];
        toHex(sn, hex);
        g_log << ' ' << hex;
    }
    if (port >= 0)
        g_log << " COM" << port + 1;
    g_log << ' ' << result << '\n' << std::flush;
}

std::unique_lock<std::mutex> lockNetwork()
{
    std::unique_lock<std::mutex> lock(g_mutex);
    if (!g_loaded)
        loadLocked(nullptr);
    return lock;
}

SimCallHook g_hook = nullptr;
void *g_hookContext = nullptr;

// Every call that goes out on the network waits the latency first, without
// holding the lock, so the test controls stay responsive meanwhile. A test's
// hook sees the call then, from the caller's thread.
std::unique_lock<std::mutex> networkCall(const char *name)
{
    int ms;
    SimCallHook hook;
    void *context;
    {
        auto lock = lockNetwork();
        ms = g_net.latencyMs;
        hook = g_hook;
        context = g_hookContext;
    }
    if (ms > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    if (hook)
        hook(name, context);
    return lockNetwork();
}

Port *portAt(int port) { return port >= 0 && port < kPorts ? &g_net.ports[size_t(port)] : nullptr; }

bool same(const Serial &s, const void *sn)
{
    return sn && std::memcmp(s.data(), sn, s.size()) == 0;
}

std::uint64_t key(const void *sn)
{
    std::uint64_t k;
    std::memcpy(&k, sn, sizeof k);
    return k;
}

Device *find(Port &p, const void *sn)
{
    if (!sn)
        return nullptr;
    if (p.indexStale) {
        p.index.clear();
        for (std::size_t k = 0; k < p.devices.size(); ++k)
            p.index.emplace(key(p.devices[k].sn.data()), k);
        p.indexStale = false;
    }
    const auto it = p.index.find(key(sn));
    return it == p.index.end() ? nullptr : &p.devices[it->second];
}

Device *deviceAt(std::int16_t port, const void *sn)
{
    Port *p = portAt(port);
    return p ? find(*p, sn) : nullptr;
}

void writeMessage(char *buffer, const std::string &text)
{
    if (!buffer)
        return;
    const size_t n = std::min<size_t>(text.size(), SONDAIO_MSG_LEN);
    std::memcpy(buffer, text.data(), n);
    std::memset(buffer + n, 0, SONDAIO_MSG_LEN - n);
}

// A call naming one device: counted for that serial, known or not, then
// `act` runs only when the device can answer.
template <typename Act>
std::int16_t deviceCall(Call call, std::int16_t port, const void *sn, Act act)
{
    auto lock = networkCall(kCallNames[call]);
    Port *p = portAt(port);
    if (!p)
        return 0;
    Device *d = find(*p, sn);
    if (d) {
        ++d->calls[call];
    } else if (sn) {
        Serial s;
        std::memcpy(s.data(), sn, s.size());
        ++p->strangers[s][call];
    }
    const std::int16_t r = d && p->open && !p->silent && act(*d) ? 1 : 0;
    logCall(kCallNames[call], sn, port, r);
    return r;
}

std::int16_t readCall(Call call, Kind kind, Kind alsoKind, std::int16_t port, const char *sn,
                      void *block)
{
    return deviceCall(call, port, sn, [&](Device &d) {
        Words w;
        if (!block || (d.kind != kind && d.kind != alsoKind) || !read(d, w))
            return false;
        std::memcpy(block, w.data(), sizeof w); // first 8 bytes; the rest stays the caller's
        return true;
    });
}

std::int16_t search(Call call, std::int16_t port, unsigned char *slots, std::int32_t maxCount)
{
    auto lock = networkCall(kCallNames[call]);
    Port *p = portAt(port);
    if (!p)
        return 0;
    ++p->calls[call];
    if (!p->open || p->silent) {
        logCall(kCallNames[call], nullptr, port, 0);
        return 0;
    }
    long n = 0;
    for (const Device &d : p->devices) {
        if (searchOf(d.kind) != call)
            continue;
        if (slots && n < maxCount)
            std::memcpy(slots + 8 * n, d.sn.data(), 8);
        ++n;
    }
    n = std::min(n, 32767L);
    logCall(kCallNames[call], nullptr, port, int(n));
    return std::int16_t(n);
}

} // namespace

extern "C" {

SONDAIO_API std::int16_t SONDAIO_CALL IniciarCNX(std::int16_t port, char *, char *message)
{
    auto lock = networkCall("IniciarCNX");
    Port *p = portAt(port);
    if (!p) {
        writeMessage(message, "No se puede abrir el puerto: n\xFAmero de puerto no v\xE1lido");
        return 0;
    }
    ++p->calls[kIniciarCNX];
    if (p->refuses && !p->silent) // a silent port gives no answer, so no text either
        writeMessage(message, p->message);
    const bool opens = !p->refuses && !p->silent;
    p->open = p->open || opens;
    logCall("IniciarCNX", nullptr, port, opens);
    return opens ? 1 : 0;
}

SONDAIO_API std::int16_t SONDAIO_CALL FinalizarCNX(std::int16_t port, char *)
{
    auto lock = networkCall("FinalizarCNX");
    Port *p = portAt(port);
    if (!p)
        return 0;
    ++p->calls[kFinalizarCNX];
    const bool wasOpen = p->open;
    p->open = false;
    logCall("FinalizarCNX", nullptr, port, wasOpen);
    return wasOpen ? 1 : 0;
}

SONDAIO_API std::int16_t SONDAIO_CALL LeerTemperatura(std::int16_t port, char *sn, void *block)
{
    return readCall(kLeerTemperatura, Kind::STT, Kind::STT, port, sn, block);
}

SONDAIO_API std::int16_t SONDAIO_CALL LeerHRT(std::int16_t port, char *sn, void *block)
{
    return readCall(kLeerHRT, Kind::HRT, Kind::HRT, port, sn, block);
}

SONDAIO_API std::int16_t SONDAIO_CALL LeerAD(std::int16_t port, char *sn, void *block)
{
    return readCall(kLeerAD, Kind::AVI, Kind::AVI, port, sn, block);
}

SONDAIO_API std::int16_t SONDAIO_CALL LeerDET(std::int16_t port, char *sn, void *block)
{
    return readCall(kLeerDET, Kind::DET, Kind::CTR, port, sn, block);
}

// SetupAD and EscribirCTR never draw a failure: the program ignores their
// results, so a failure there could not be seen anyway.
SONDAIO_API std::int16_t SONDAIO_CALL SetupAD(std::int16_t port, char *sn, std::int16_t *setup)
{
    return deviceCall(kSetupAD, port, sn, [&](Device &d) {
        if (!setup || d.kind != Kind::AVI)
            return false;
        std::memcpy(d.setup.data(), setup, sizeof d.setup);
        return true;
    });
}

SONDAIO_API std::int16_t SONDAIO_CALL EscribirCTR(std::int16_t port, char *sn, std::int16_t out1,
                                                  std::int16_t out2)
{
    return deviceCall(kEscribirCTR, port, sn, [&](Device &d) {
        if (d.kind != Kind::CTR)
            return false;
        d.relay = {out1, out2};
        ++d.relayWrites;
        return true;
    });
}

SONDAIO_API std::int16_t SONDAIO_CALL BuscarSensoresTra(std::int16_t port, unsigned char *slots,
                                                        std::int32_t maxCount)
{
    return search(kBuscarSensoresTra, port, slots, maxCount);
}

SONDAIO_API std::int16_t SONDAIO_CALL BuscarConversoresAD(std::int16_t port, unsigned char *slots,
                                                          std::int32_t maxCount)
{
    return search(kBuscarConversoresAD, port, slots, maxCount);
}

SONDAIO_API std::int16_t SONDAIO_CALL BuscarDetectores(std::int16_t port, unsigned char *slots,
                                                       std::int32_t maxCount)
{
    return search(kBuscarDetectores, port, slots, maxCount);
}

SONDAIO_API std::int16_t SONDAIO_CALL ConvertSerialNum(char *sn, char *printable)
{
    if (!sn || !printable)
        return 0;
    toHex(sn, printable);
    auto lock = lockNetwork();
    logCall("ConvertSerialNum", sn, -1, 1);
    return 1;
}

// ---- test controls -------------------------------------------------------

SONDAIO_API void SimSetCallHook(SimCallHook hook, void *context)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_hook = hook;
    g_hookContext = context;
}

SONDAIO_API int SimLoad(const char *description)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    return loadLocked(description);
}

SONDAIO_API void SimSetLatency(int milliseconds)
{
    auto lock = lockNetwork();
    g_net.latencyMs = std::clamp(milliseconds, 0, kMaxLatencyMs);
}

SONDAIO_API int SimSetWords(std::int16_t port, const unsigned char *sn, std::int16_t w0,
                            std::int16_t w1, std::int16_t w2, std::int16_t w3)
{
    auto lock = lockNetwork();
    Device *d = deviceAt(port, sn);
    if (!d)
        return -1;
    d->fixed = true;
    d->words = {w0, w1, w2, w3};
    return 0;
}

SONDAIO_API int SimSetFailRate(std::int16_t port, const unsigned char *sn, double rate)
{
    auto lock = lockNetwork();
    Device *d = deviceAt(port, sn);
    if (!d || !(rate >= 0.0 && rate <= 1.0))
        return -1;
    d->fail = rate;
    return 0;
}

SONDAIO_API void SimSetPortSilent(std::int16_t port, int silent)
{
    auto lock = lockNetwork();
    if (Port *p = portAt(port))
        p->silent = silent != 0;
}

SONDAIO_API int SimAddDevice(std::int16_t port, std::int16_t tipo, const unsigned char *sn)
{
    auto lock = lockNetwork();
    Port *p = portAt(port);
    if (!p || !sn || tipo < 1 || tipo > 5 || find(*p, sn) ||
        p->devices.size() >= size_t(kMaxDevicesPerPort))
        return -1;
    Serial s;
    std::memcpy(s.data(), sn, s.size());
    Device d = makeDevice(static_cast<Kind>(tipo), s);
    seedDevice(d, g_net.seed, port);
    p->devices.push_back(d);
    // find() above left the index current: extend it instead of rebuilding.
    p->index.emplace(key(d.sn.data()), p->devices.size() - 1);
    return 0;
}

SONDAIO_API long SimRelayWords(std::int16_t port, const unsigned char *sn, std::int16_t *out1,
                               std::int16_t *out2)
{
    auto lock = lockNetwork();
    Device *d = deviceAt(port, sn);
    if (!d)
        return -1;
    if (out1)
        *out1 = d->relay[0];
    if (out2)
        *out2 = d->relay[1];
    return d->relayWrites;
}

SONDAIO_API long SimCallCount(std::int16_t port, const unsigned char *sn, const char *call)
{
    auto lock = lockNetwork();
    Port *p = portAt(port);
    int which = -1;
    for (int i = 0; call && i < kCallKinds; ++i)
        if (std::strcmp(call, kCallNames[i]) == 0)
            which = i;
    if (!p || (call && which < 0))
        return 0;
    auto total = [&](const Tally &t) {
        long n = 0;
        for (int i = 0; i < kCallKinds; ++i)
            n += which < 0 || which == i ? t[size_t(i)] : 0;
        return n;
    };
    long n = 0;
    if (!sn)
        n += total(p->calls);
    for (const Device &d : p->devices)
        n += !sn || same(d.sn, sn) ? total(d.calls) : 0;
    for (const auto &[serial, tally] : p->strangers)
        n += !sn || same(serial, sn) ? total(tally) : 0;
    return n;
}

} // extern "C"
