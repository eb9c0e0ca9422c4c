#include "simnet.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <unordered_set>

namespace simnet {

const char *const kCallNames[kCallKinds] = {
    "IniciarCNX",        "FinalizarCNX",
    "LeerTemperatura",   "LeerHRT",
    "SetupAD",           "LeerAD",
    "LeerDET",           "EscribirCTR",
    "BuscarSensoresTra", "BuscarConversoresAD",
    "BuscarDetectores",
};

// Every type once, serials with 0x00 and 0xFF bytes in them, COM3 refusing
// and COM4 empty: the program meets each case it must handle.
const char kDemoDescription[] = R"(# Built-in demo network
seed 20240611
latency 0

port COM1 open
device STT 28A3F2C501080011 value 212 drift 15
device STT 2800B74410FF0022 value 195 drift 10
device HRT 26E1905C00000033 value 22 47 drift 3
device AVI 20C4001A0F000044 value 512 1380 2210 3650 drift 60
device DET 1D5EE30700000055 value 1 1 toggle 0.02
device DET 1D0000FF00FF0066 value 0 1 toggle 0.02
device CTR 3A7C11B200000077
device CTR 3AFFFFFFFFFFFF88

port COM2 open
device STT 28194C7E02000099 value 236 drift 20
device STT 28C0FFEE000000AA value 181 drift 10
device HRT 26720D31000000BB value 19 58 drift 2
device AVI 20007A1B2C3D00CC value 230 880 1990 4011 drift 40
device DET 1D1234567800FFDD value 1 0 toggle 0.01
device DET 1DABCDEF010203EE value 1 1 toggle 0.03
device CTR 3A0102030405060F
device CTR 3A10203040506070

port COM3 refuse No se puede abrir el puerto COM3: no hay respuesta de la red
port COM4 open
)";

namespace {

struct Limits {
    int lo, hi;
};

int channels(Kind k)
{
    switch (k) {
    case Kind::STT:
        return 1;
    case Kind::HRT:
        return 2;
    case Kind::AVI:
        return 4;
    case Kind::DET:
        return 2;
    case Kind::CTR:
        return 0;
    }
    return 0;
}

// Physical range of each channel: the wander band never leaves it.
Limits limits(Kind k, int ch)
{
    switch (k) {
    case Kind::STT:
        return {-550, 1250}; // tenths of °C
    case Kind::HRT:
        return ch == 0 ? Limits{-40, 125} : Limits{0, 100};
    case Kind::AVI:
        return {0, 32767};
    default:
        return {-32768, 32767};
    }
}

std::uint64_t splitmix(std::uint64_t &state)
{
    std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

double unit(std::uint64_t &state) { return double(splitmix(state) >> 11) * 0x1.0p-53; }

std::string defaultRefusal(int port, const char *why)
{
    return "No se puede abrir el puerto COM" + std::to_string(port + 1) + ": " + why;
}

bool ieq(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                   std::tolower(static_cast<unsigned char>(y));
           });
}

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

std::string_view trim(std::string_view s)
{
    while (!s.empty() && isSpace(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && isSpace(s.back()))
        s.remove_suffix(1);
    return s;
}

// Takes the next whitespace-separated token off the front of `rest`.
std::string_view token(std::string_view &rest)
{
    rest = trim(rest);
    size_t n = 0;
    while (n < rest.size() && !isSpace(rest[n]))
        ++n;
    std::string_view t = rest.substr(0, n);
    rest.remove_prefix(n);
    return t;
}

bool toInt(std::string_view t, long long lo, long long hi, long long &out)
{
    const char *end = t.data() + t.size();
    auto [p, ec] = std::from_chars(t.data(), end, out);
    return !t.empty() && ec == std::errc() && p == end && out >= lo && out <= hi;
}

bool toShare(std::string_view t, double &out)
{
    const char *end = t.data() + t.size();
    auto [p, ec] = std::from_chars(t.data(), end, out);
    return !t.empty() && ec == std::errc() && p == end && out >= 0.0 && out <= 1.0; // NaN fails too
}

bool toSerial(std::string_view t, Serial &sn)
{
    if (t.size() != 16)
        return false;
    for (size_t i = 0; i < 8; ++i) {
        const char *first = t.data() + 2 * i;
        auto [p, ec] = std::from_chars(first, first + 2, sn[i], 16);
        if (ec != std::errc() || p != first + 2)
            return false;
    }
    return true;
}

bool toPort(std::string_view t, int &port)
{
    if (t.size() != 4 || !ieq(t.substr(0, 3), "COM") || t[3] < '1' || t[3] > '4')
        return false;
    port = t[3] - '1';
    return true;
}

bool toKind(std::string_view t, Kind &k)
{
    static const char *const names[] = {"STT", "HRT", "AVI", "DET", "CTR"};
    for (int i = 0; i < 5; ++i)
        if (ieq(t, names[i])) {
            k = static_cast<Kind>(i + 1);
            return true;
        }
    return false;
}

// Refusal texts reach the program as Windows-1252; a description saved as
// UTF-8 would otherwise show "puerto Ã©" for accented Spanish letters.
std::string toWindows1252(std::string_view s)
{
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        const auto c = static_cast<unsigned char>(s[i]);
        const auto next = i + 1 < s.size() ? static_cast<unsigned char>(s[i + 1]) : 0;
        if ((c == 0xC2 || c == 0xC3) && (next & 0xC0) == 0x80 &&
            ((c & 0x03) << 6 | (next & 0x3F)) >= 0xA0) {
            out += static_cast<char>((c & 0x03) << 6 | (next & 0x3F));
            ++i;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

// `serials`: those of the port's devices so far, so a description of
// thousands of devices is read in one pass.
bool parseDevice(std::string_view rest, Port &port, std::unordered_set<std::uint64_t> &serials)
{
    Kind kind;
    Serial sn;
    if (!toKind(token(rest), kind) || !toSerial(token(rest), sn))
        return false;
    if (port.devices.size() >= size_t(kMaxDevicesPerPort))
        return false;
    std::uint64_t id = 0;
    for (const unsigned char b : sn)
        id = id << 8 | b;
    if (!serials.insert(id).second)
        return false;
    Device d = makeDevice(kind, sn);
    for (std::string_view key = token(rest); !key.empty(); key = token(rest)) {
        long long n;
        if (ieq(key, "value") && channels(kind) > 0) {
            for (int ch = 0; ch < channels(kind); ++ch) {
                const Limits l = limits(kind, ch);
                if (!toInt(token(rest), l.lo, l.hi, n))
                    return false;
                d.base[ch] = d.value[ch] = int(n);
            }
        } else if (ieq(key, "drift") &&
                   (kind == Kind::STT || kind == Kind::HRT || kind == Kind::AVI)) {
            if (!toInt(token(rest), 0, 32767, n))
                return false;
            d.drift = int(n);
        } else if (ieq(key, "toggle") && kind == Kind::DET) {
            if (!toShare(token(rest), d.toggle))
                return false;
        } else if (ieq(key, "fail")) {
            if (!toShare(token(rest), d.fail))
                return false;
        } else if (ieq(key, "words")) {
            for (auto &w : d.words) {
                if (!toInt(token(rest), -32768, 32767, n))
                    return false;
                w = std::int16_t(n);
            }
            d.fixed = true;
        } else {
            return false;
        }
    }
    port.devices.push_back(d);
    port.indexStale = true;
    return true;
}

// One line without its comment; false when it cannot be read.
bool parseLine(std::string_view line, Network &net, std::array<bool, kPorts> &seen, int &current,
               std::array<std::unordered_set<std::uint64_t>, kPorts> &serials)
{
    std::string_view rest = line;
    const std::string_view key = token(rest);
    long long n;
    if (key.empty())
        return true;
    if (ieq(key, "seed")) {
        if (!toInt(token(rest), 0, 0xFFFFFFFFll, n))
            return false;
        net.seed = std::uint32_t(n);
    } else if (ieq(key, "latency")) {
        if (!toInt(token(rest), 0, kMaxLatencyMs, n))
            return false;
        net.latencyMs = int(n);
    } else if (ieq(key, "calllog")) {
        net.callLog = trim(rest);
        return !net.callLog.empty();
    } else if (ieq(key, "port")) {
        int p;
        if (!toPort(token(rest), p) || seen[size_t(p)])
            return false;
        seen[size_t(p)] = true;
        current = p;
        Port &port = net.ports[size_t(p)];
        const std::string_view mode = token(rest);
        port.refuses = ieq(mode, "refuse");
        if (port.refuses) {
            const std::string_view text = trim(rest);
            port.message = text.empty() ? defaultRefusal(p, "no hay respuesta de la red")
                                        : toWindows1252(text);
            return true;
        }
        port.silent = ieq(mode, "silent");
        port.message.clear();
        if (!port.silent && !ieq(mode, "open"))
            return false;
    } else if (ieq(key, "device")) {
        return current >= 0 &&
            parseDevice(rest, net.ports[size_t(current)], serials[size_t(current)]);
    } else {
        return false;
    }
    return token(rest).empty();
}

} // namespace

int parse(std::string_view text, Network &out)
{
    Network net;
    for (int p = 0; p < kPorts; ++p)
        net.ports[size_t(p)].message = defaultRefusal(p, "el puerto no existe");
    if (text.substr(0, 3) == "\xEF\xBB\xBF") // editors on Windows start UTF-8 files with it
        text.remove_prefix(3);
    std::array<bool, kPorts> seen{};
    std::array<std::unordered_set<std::uint64_t>, kPorts> serials;
    int current = -1;
    int lineNo = 0;
    while (!text.empty()) {
        ++lineNo;
        const size_t eol = std::min(text.find('\n'), text.size());
        std::string_view line = text.substr(0, eol);
        text.remove_prefix(std::min(eol + 1, text.size()));
        line = line.substr(0, line.find('#'));
        if (!parseLine(line, net, seen, current, serials)) {
            // Nothing opens, and the refusal tells the user where to look.
            char why[64];
            std::snprintf(why, sizeof why, "descripci\xF3n de red no v\xE1lida (l\xEDnea %d)",
                          lineNo);
            out = Network();
            for (int p = 0; p < kPorts; ++p)
                out.ports[size_t(p)].message = defaultRefusal(p, why);
            return lineNo;
        }
    }
    reseed(net, net.seed);
    out = std::move(net);
    return 0;
}

Device makeDevice(Kind kind, const Serial &sn)
{
    Device d;
    d.kind = kind;
    d.sn = sn;
    switch (kind) {
    case Kind::STT:
        d.base = {210, 0, 0, 0};
        d.drift = 10;
        break;
    case Kind::HRT:
        d.base = {21, 50, 0, 0};
        d.drift = 2;
        break;
    case Kind::AVI:
        d.base = {1000, 1000, 1000, 1000};
        d.drift = 20;
        break;
    case Kind::DET:
        d.base = {1, 1, 0, 0};
        d.toggle = 0.02;
        break;
    case Kind::CTR:
        break;
    }
    d.value = d.base;
    return d;
}

void seedDevice(Device &d, std::uint32_t seed, int port)
{
    std::uint64_t key = 0;
    for (unsigned char b : d.sn)
        key = key << 8 | b;
    std::uint64_t mix = std::uint64_t(seed) << 3 | std::uint64_t(port);
    d.rng = splitmix(mix) ^ key;
}

void reseed(Network &net, std::uint32_t seed)
{
    net.seed = seed;
    for (int p = 0; p < kPorts; ++p)
        for (Device &d : net.ports[size_t(p)].devices)
            seedDevice(d, seed, p);
}

bool read(Device &d, Words &out)
{
    // Always one draw for the failure, so a failure rate does not shift the
    // values later reads give.
    if (unit(d.rng) < d.fail)
        return false;
    if (d.fixed) {
        out = d.words;
        return true;
    }
    out = {};
    if (d.kind == Kind::CTR) {
        out[0] = d.relay[0];
        out[1] = d.relay[1];
        return true;
    }
    for (int ch = 0; ch < channels(d.kind); ++ch) {
        int &v = d.value[size_t(ch)];
        if (d.kind == Kind::DET) {
            if (unit(d.rng) < d.toggle)
                v = v == 0 ? 1 : 0;
        } else if (d.drift > 0) {
            // A random walk of small steps kept within the drift amplitude of
            // the base value, so a room stays a room however long it is polled.
            const Limits l = limits(d.kind, ch);
            const int most = std::max(1, d.drift / 10);
            const int step = int(splitmix(d.rng) % std::uint64_t(2 * most + 1)) - most;
            const int lo = std::max(l.lo, d.base[size_t(ch)] - d.drift);
            const int hi = std::min(l.hi, d.base[size_t(ch)] + d.drift);
            v = std::clamp(v + step, lo, hi);
        }
        out[size_t(ch)] = std::int16_t(v);
    }
    return true;
}

Call searchOf(Kind kind)
{
    switch (kind) {
    case Kind::STT:
    case Kind::HRT:
        return kBuscarSensoresTra;
    case Kind::AVI:
        return kBuscarConversoresAD;
    default:
        return kBuscarDetectores;
    }
}

} // namespace simnet
