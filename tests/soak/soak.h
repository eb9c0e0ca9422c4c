// Soak harness: the polling core, the device list model, the capture files
// and the configuration file, driven through simulated days on the simulated
// network with a clock the harness steps. Every check compares the program's
// outputs (network calls, relay words, files, lists) with a model of the
// polling rules, the relay rules and the file layouts written here from the
// rules alone; the model never asks the program for its state.
//
// Header only, so the soak test and the week-long benchmark share it.
#pragma once

#include "monitor/capture.h"
#include "monitor/mainview.h"
#include "monitor/monitor.h"
#include "monitor/sensoresmodel.h"
#include "netaccess/binding.h"
#include "platform/clock.h"
#include "platform/messages.h"
#include "registry/configfile.h"
#include "registry/general.h"

#include <QByteArray>
#include <QDate>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTime>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <deque>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include <dlfcn.h>
#include <malloc.h>
#include <unistd.h>

namespace soak {

constexpr std::int32_t kDay = 86400;
constexpr qint64 kDayMs = 86400000;

// ---- Process figures -------------------------------------------------------

inline double residentMb()
{
    long pages = 0, resident = 0;
    if (FILE *f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(f);
    }
    return resident * static_cast<double>(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

inline double peakResidentMb()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0)
            return std::atof(line.c_str() + 6) / 1024.0;
    return 0;
}

// Bytes the allocator has handed out and not had back: live data, whatever
// the fragmentation of the heap makes of the resident size.
inline double heapInUseMb()
{
#if defined(__GLIBC__) && (__GLIBC__ > 2 || __GLIBC_MINOR__ >= 33)
    const struct mallinfo2 m = mallinfo2();
    return (m.uordblks + m.hblkhd) / (1024.0 * 1024.0);
#else
    return 0;
#endif
}

// The folder of the running program, where the network library lies too.
inline QString programFolder() { return QFileInfo(QFile::symLinkTarget(QStringLiteral("/proc/self/exe"))).absolutePath(); }

// ---- Simulator test controls, resolved by name from the same library file --

struct SimControls {
    int (*load)(const char *) = nullptr;
    void (*latency)(int) = nullptr;
    int (*setWords)(std::int16_t, const unsigned char *, std::int16_t, std::int16_t, std::int16_t, std::int16_t) = nullptr;
    int (*failRate)(std::int16_t, const unsigned char *, double) = nullptr;
    void (*silent)(std::int16_t, int) = nullptr;
    int (*addDevice)(std::int16_t, std::int16_t, const unsigned char *) = nullptr;
    long (*relayWords)(std::int16_t, const unsigned char *, std::int16_t *, std::int16_t *) = nullptr;
    long (*callCount)(std::int16_t, const unsigned char *, const char *) = nullptr;

    bool resolve(const QString &folder, std::string &error)
    {
        const QByteArray path = QFile::encodeName(QDir(folder).filePath(SondaIO::fileName()));
        void *h = dlopen(path.constData(), RTLD_NOW | RTLD_LOCAL);
        if (!h) {
            error = "cannot open " + path.toStdString();
            return false;
        }
        bool ok = true;
        auto get = [&](auto &fn, const char *name) {
            fn = reinterpret_cast<std::remove_reference_t<decltype(fn)>>(dlsym(h, name));
            if (!fn) {
                error = std::string("simulator control missing: ") + name;
                ok = false;
            }
        };
        get(load, "SimLoad");
        get(latency, "SimSetLatency");
        get(setWords, "SimSetWords");
        get(failRate, "SimSetFailRate");
        get(silent, "SimSetPortSilent");
        get(addDevice, "SimAddDevice");
        get(relayWords, "SimRelayWords");
        get(callCount, "SimCallCount");
        return ok;
    }
};

// ---- Clock and message boxes -----------------------------------------------

// Universal time, so no daylight-saving change moves the days under the test.
class SteppedClock final : public Clock {
public:
    explicit SteppedClock(qint64 ms) : ms_(ms) {}
    QDateTime now() const override { return QDateTime::fromMSecsSinceEpoch(ms_, Qt::UTC); }
    double elapsed() const override { return elapsed_; }
    qint64 ms() const { return ms_; }
    // The wall clock only (a clock set by hand, a machine that slept).
    void shift(qint64 delta) { ms_ += delta; }
    void advance(qint64 delta)
    {
        ms_ += delta;
        elapsed_ += delta / 1000.0;
    }

private:
    qint64 ms_;
    double elapsed_ = 0;
};

class AnsweringMessages final : public Messages {
public:
    Answer show(const QString &text, Buttons b, Icon) override
    {
        texts << text;
        buttons.push_back(b);
        return b == Buttons::YesNo ? Answer::Yes : Answer::Ok;
    }
    void clear()
    {
        texts.clear();
        buttons.clear();
    }
    QStringList texts;
    std::vector<Buttons> buttons;
};

// ---- Time texts, computed from the harness's own milliseconds --------------

inline std::int32_t secondsOfDay(qint64 ms)
{
    const qint64 tod = ((ms % kDayMs) + kDayMs) % kDayMs;
    return static_cast<std::int32_t>(((tod + 500) / 1000) % kDay); // nearest second, 86400 wraps to 0
}

inline QString dateText(qint64 ms)
{
    const QDate d = QDate(1970, 1, 1).addDays(ms / kDayMs);
    return QString::asprintf("%02d-%02d-%04d", d.day(), d.month(), d.year());
}

inline QString stampText(qint64 ms)
{
    const qint64 tod = ms % kDayMs / 1000; // the stamp shows whole seconds, cut
    return dateText(ms) + QString::asprintf(" %02d:%02d:%02d", int(tod / 3600), int(tod / 60 % 60), int(tod % 60));
}

// ---- Records and their file layout -----------------------------------------

// A device record as the harness means it: texts as Windows-1252 bytes.
struct Rec {
    std::string name;
    Serial sn{};
    std::int16_t tipo = 0;
    std::array<std::int16_t, 4> ajuste{};
    std::array<float, 4> alarma{};
    std::array<float, 4> ganancia{};
    std::array<std::string, 4> magnitud;
    std::array<Serial, 4> snrele{};
    std::array<std::int16_t, 4> salrele{};
    std::int16_t periodo = 0;
};

inline const char *typeText(std::int16_t tipo)
{
    static const char *const texts[] = {"???", "STT", "HRT", "AVI", "DET", "CTR"};
    return tipo >= 1 && tipo <= 5 ? texts[tipo] : texts[0];
}

inline QString latin(const std::string &bytes) { return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size())); }

inline std::string hexOf(const Serial &sn)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (auto b : sn) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

inline std::uint64_t keyOf(const Serial &sn)
{
    std::uint64_t k = 0;
    for (auto b : sn)
        k = k << 8 | b;
    return k;
}

// What the harness hands the program, as the window's edit boxes would.
inline Dispositivo toDispositivo(const Rec &r)
{
    Dispositivo d;
    d.nombre = latin(r.name);
    d.sn = r.sn;
    d.tipo = r.tipo;
    d.ajuste = r.ajuste;
    d.alarma = r.alarma;
    d.ganancia = r.ganancia;
    for (int k = 0; k < 4; ++k)
        d.magnitud[k] = latin(r.magnitud[k]);
    d.snrele = r.snrele;
    d.salrele = r.salrele;
    d.periodo = r.periodo;
    return d;
}

namespace layout {
inline void text(std::string &out, const std::string &s, std::size_t width)
{
    std::string t = s.substr(0, width);
    t.resize(width, ' ');
    out += t;
}
inline void u16(std::string &out, std::int16_t v)
{
    const auto u = static_cast<std::uint16_t>(v);
    out += static_cast<char>(u & 0xFF);
    out += static_cast<char>(u >> 8);
}
inline void f32(std::string &out, float f)
{
    std::uint32_t u;
    std::memcpy(&u, &f, 4);
    for (int k = 0; k < 4; ++k)
        out += static_cast<char>((u >> (8 * k)) & 0xFF);
}
inline void serial(std::string &out, const Serial &sn)
{
    for (auto b : sn)
        out += static_cast<char>(b);
}
} // namespace layout

// 140 bytes: name 16, serial 8, type 2, four words, four limits (floats), four
// gains, four 8-character units, four serials, four words, period 2.
inline std::string recordBytes(const Rec &r)
{
    std::string out;
    layout::text(out, r.name, 16);
    layout::serial(out, r.sn);
    layout::u16(out, r.tipo);
    for (auto v : r.ajuste)
        layout::u16(out, v);
    for (auto v : r.alarma)
        layout::f32(out, v);
    for (auto v : r.ganancia)
        layout::f32(out, v);
    for (const auto &u : r.magnitud)
        layout::text(out, u, 8);
    for (const auto &s : r.snrele)
        layout::serial(out, s);
    for (auto v : r.salrele)
        layout::u16(out, v);
    layout::u16(out, r.periodo);
    return out;
}

// Entry 0: the capture sequence number as its name, nothing else.
inline std::string sequenceRecordBytes(const std::string &seq)
{
    std::string out;
    layout::text(out, seq, 16);
    out.resize(140, '\0');
    return out;
}

// ---- The model -------------------------------------------------------------

struct MDev {
    Rec rec;
    bool controlled = false; // words and failures chosen by the harness
    std::int32_t p = 0;      // next due time on the polling clock
    bool known = true;       // the harness knows how its last read went
    bool valido = false;
    std::array<std::int16_t, 4> crudo{};
    float lect0 = 0; // the first value, as the relay rule and the warnings see it
};

struct Served {
    bool known = false;
    bool ok = false;
    std::array<std::int16_t, 4> w{};
};

enum CallKind { cTemp, cHrt, cSetup, cAd, cDet, cCtr, cKinds };
inline const char *const kCallNames[cKinds] = {"LeerTemperatura", "LeerHRT", "SetupAD", "LeerAD", "LeerDET", "EscribirCTR"};
using Counts = std::array<long, cKinds>;

struct Edit {
    enum Kind { Add, Modify, Delete } kind = Add;
    Rec rec;          // Add and Modify: the record the window hands over
    bool controlled = false;
    Serial target{};  // Modify and Delete: the device, found by serial as the window does
};

struct Action {
    enum Kind { DoEdit, SilentOn, SilentOff, LatencyOn, LatencyOff, Advance, SaveReload } kind = DoEdit;
    int yield = 0; // the tick's yield that performs it; 0: after the tick
    int value = 0;
    Edit edit;
};

struct TickOutcome {
    bool captureLine = false;
    int yields = 0;
    bool leftover = false; // an action whose yield never came
};

class Model {
public:
    struct Entry {
        int index;
        std::array<std::int16_t, 2> w;
    };
    struct Relay {
        std::array<std::int16_t, 2> w{};
        long accepted = 0;
    };

    std::vector<MDev> t{MDev{}}; // t[0] stands for entry 0
    std::string seq = "00";
    bool modificado = false;
    std::vector<Entry> lstdet, lstctr;
    std::int32_t c = 0, last = 0;
    bool silent = false;
    std::unordered_map<std::uint64_t, Counts> calls;  // every serial ever in the table
    std::map<std::uint64_t, Relay> delivered;          // every relay serial ever in the table
    std::map<std::uint64_t, Serial> serials;
    long reads = 0;
    std::function<Served(MDev &)> serve;

    int n() const { return static_cast<int>(t.size()) - 1; }

    static std::int32_t plus(std::int32_t a, std::int32_t b)
    {
        if (b < 0)
            b += kDay;
        a += b;
        if (a >= kDay)
            a -= kDay;
        return a;
    }
    bool due(std::int32_t p) const { return c >= p && !(c >= kDay / 2 && p < kDay / 2); }

    int find(const Serial &sn) const
    {
        for (int i = 1; i <= n(); ++i)
            if (t[i].rec.sn == sn)
                return i;
        return 0;
    }

    void know(const Serial &sn, std::int16_t tipo)
    {
        const auto k = keyOf(sn);
        calls.try_emplace(k, Counts{});
        serials[k] = sn;
        if (tipo == CTR)
            delivered.try_emplace(k, Relay{});
    }

    void cogereldet()
    {
        lstdet.clear();
        lstctr.clear();
        for (int i = 1; i <= n(); ++i) {
            if (t[i].rec.tipo == DET)
                lstdet.push_back({i, {0, 0}});
            else if (t[i].rec.tipo == CTR)
                lstctr.push_back({i, {0, 0}});
        }
    }

    static std::string sortKey(const Rec &r) { return std::string(typeText(r.tipo)) + r.name; }

    // Sorted by type text and name (byte order of the Windows-1252 names,
    // which for these letters is the order of their code points).
    bool sort()
    {
        std::vector<MDev> rest(t.begin() + 1, t.end());
        std::vector<MDev> sorted = rest;
        std::stable_sort(sorted.begin(), sorted.end(), [](const MDev &a, const MDev &b) {
            const std::string ka = sortKey(a.rec), kb = sortKey(b.rec);
            return std::lexicographical_compare(ka.begin(), ka.end(), kb.begin(), kb.end(), [](char x, char y) {
                return static_cast<unsigned char>(x) < static_cast<unsigned char>(y);
            });
        });
        bool changed = false;
        for (std::size_t k = 0; k < rest.size(); ++k)
            changed = changed || rest[k].rec.sn != sorted[k].rec.sn;
        if (changed) {
            std::copy(sorted.begin(), sorted.end(), t.begin() + 1);
            modificado = true;
        }
        return changed;
    }

    std::string tableBytes() const
    {
        std::string out = sequenceRecordBytes(seq);
        for (int i = 1; i <= n(); ++i)
            out += recordBytes(t[i].rec);
        return out;
    }

    // The configuration save: nothing unless modified; sorted, lists rebuilt.
    bool lastSortChanged = false;
    bool save()
    {
        lastSortChanged = false;
        if (n() <= 0 || !modificado)
            return false;
        lastSortChanged = sort();
        cogereldet();
        modificado = false;
        return true;
    }

    // The table read back from the file: fresh valid zero readings.
    void load(std::int32_t now)
    {
        for (int i = 1; i <= n(); ++i) {
            MDev &d = t[i];
            d.p = 0;
            d.known = true;
            d.valido = true;
            d.crudo = {};
            d.lect0 = 0;
        }
        modificado = false;
        sort();
        cogereldet();
        c = 0;
        last = now;
    }

    // Polling reset of a capture start: readings gone, clock at 0.
    void reinicia(std::int32_t now)
    {
        for (int i = 1; i <= n(); ++i) {
            MDev &d = t[i];
            d.p = 0;
            d.known = true;
            d.valido = false;
            d.crudo = {};
            d.lect0 = 0;
        }
        c = 0;
        last = now;
    }

    void edit(const Edit &e)
    {
        switch (e.kind) {
        case Edit::Add: {
            MDev d;
            d.rec = e.rec;
            d.controlled = e.controlled;
            t.push_back(d);
            know(e.rec.sn, e.rec.tipo);
            modificado = true;
            break; // the window adds without rebuilding the index lists
        }
        case Edit::Modify:
            if (const int i = find(e.target)) {
                const bool controlled = t[i].controlled;
                t[i].rec = e.rec;
                t[i].controlled = controlled;
                modificado = true;
                cogereldet();
            }
            break;
        case Edit::Delete:
            if (const int i = find(e.target)) {
                t.erase(t.begin() + i);
                modificado = true;
                cogereldet();
            }
            break;
        }
    }

    static float firstValue(const Rec &r, const std::array<std::int16_t, 4> &w)
    {
        switch (r.tipo) {
        case STT:
            return static_cast<float>((r.ajuste[0] + w[0]) / 10.0);
        case HRT:
            return static_cast<float>(w[0]);
        case AVI:
            return static_cast<float>(w[0]) * r.ganancia[0];
        default:
            return 0;
        }
    }

    void read(int i)
    {
        if (i < 1 || i > n())
            return;
        MDev &d = t[i];
        Counts &k = calls[keyOf(d.rec.sn)];
        switch (d.rec.tipo) {
        case STT: ++k[cTemp]; break;
        case HRT: ++k[cHrt]; break;
        case AVI: ++k[cSetup]; ++k[cAd]; break;
        case DET:
        case CTR: ++k[cDet]; break;
        default: return;
        }
        ++reads;
        const Served s = silent ? Served{true, false, {}} : serve(d);
        d.known = s.known;
        if (!s.known)
            return;
        d.valido = s.ok;
        if (s.ok)
            d.crudo = s.w;
        d.lect0 = firstValue(d.rec, d.crudo); // worked out on every read, from the words kept
    }

    // Relay rules, then every relay of the list written.
    void relays()
    {
        for (int i = 1; i <= n(); ++i) {
            const MDev &d = t[i];
            if (std::all_of(d.rec.snrele[0].begin(), d.rec.snrele[0].end(), [](auto b) { return b == 0; }))
                continue;
            if (d.rec.tipo < STT || d.rec.tipo > AVI || !d.known || !d.valido)
                continue;
            Entry *relay = nullptr;
            for (Entry &e : lstctr)
                if (e.index >= 1 && e.index <= n() && t[e.index].rec.sn == d.rec.snrele[0]) {
                    relay = &e;
                    break;
                }
            const int k = d.rec.salrele[0];
            if (!relay || k < 1 || k > 2)
                continue;
            std::int16_t &w = relay->w[k - 1];
            if (d.lect0 < d.rec.alarma[0])
                w |= 1;
            else if (d.lect0 > d.rec.alarma[1])
                w = 0;
        }
        for (const Entry &e : lstctr) {
            if (e.index < 1 || e.index > n())
                continue;
            const auto key = keyOf(t[e.index].rec.sn);
            ++calls[key][cCtr];
            if (!silent) {
                Relay &r = delivered[key];
                r.w = e.w;
                ++r.accepted;
            }
        }
    }

    // One tick; `apply` performs an action on the model at its yield.
    TickOutcome tick(const std::vector<Action> &actions, bool capturing, qint64 startMs, const std::function<void(const Action &)> &apply)
    {
        TickOutcome out;
        std::vector<bool> done(actions.size(), false);
        qint64 endMs = startMs;
        auto yield = [&] {
            ++out.yields;
            for (std::size_t a = 0; a < actions.size(); ++a)
                if (!done[a] && actions[a].yield > 0 && actions[a].yield == out.yields) {
                    done[a] = true;
                    if (actions[a].kind == Action::Advance)
                        endMs += actions[a].value;
                    apply(actions[a]);
                }
        };
        bool capturar = false;
        const int count = n();
        for (int i = 1; i <= count; ++i) {
            if (i > n() || t[i].rec.tipo == CTR || !due(t[i].p))
                continue;
            t[i].p = plus(t[i].p, t[i].rec.periodo);
            if (t[i].rec.tipo != DET)
                capturar = true;
            yield();
            read(i);
            yield();
        }
        relays();
        for (int i = 1; i <= count; ++i) {
            if (i > n() || t[i].rec.tipo != CTR || !due(t[i].p))
                continue;
            t[i].p = plus(t[i].p, t[i].rec.periodo);
            read(i);
            yield();
        }
        for (Entry &e : lstdet) {
            if (e.index < 1 || e.index > n())
                continue;
            for (int k = 0; k < 2; ++k)
                if (t[e.index].crudo[k] != e.w[k]) {
                    capturar = true;
                    e.w[k] = t[e.index].crudo[k];
                }
        }
        out.captureLine = capturing && capturar;

        const std::int32_t now = secondsOfDay(endMs);
        const std::int32_t d = now - last;
        c = plus(c, d);
        if (std::abs(d) > 3500)
            for (int i = 1; i <= n(); ++i)
                t[i].p = plus(t[i].p, d);
        last = now;

        for (std::size_t a = 0; a < actions.size(); ++a)
            if (!done[a]) {
                out.leftover = out.leftover || actions[a].yield > 0;
                apply(actions[a]);
            }
        return out;
    }

    // Devices a tick would read, without reading: sensors and detectors, relays.
    std::pair<int, int> dueCounts() const
    {
        int sensors = 0, relaysDue = 0;
        for (int i = 1; i <= n(); ++i)
            if (due(t[i].p))
                ++(t[i].rec.tipo == CTR ? relaysDue : sensors);
        return {sensors, relaysDue};
    }

    // The warning list for the devices whose readings the harness knows;
    // lines of relay devices (read back from the network) are left out.
    QStringList alarmas(std::set<QString> &ignored) const
    {
        QStringList lines;
        for (int i = 1; i <= n(); ++i) {
            const MDev &d = t[i];
            const QString name = latin(d.rec.name);
            if (d.rec.tipo == CTR) {
                ignored.insert(name + QStringLiteral(" - 1"));
                ignored.insert(name + QStringLiteral(" - 2"));
                continue;
            }
            if (d.rec.tipo == DET) {
                for (int k = 0; k < 2; ++k)
                    if (d.valido && d.crudo[k] == 0)
                        lines << name + QStringLiteral(" - %1").arg(k + 1);
                continue;
            }
            if (d.rec.salrele[0] != 0 && (d.lect0 < d.rec.alarma[0] || d.lect0 > d.rec.alarma[1]))
                lines << name;
        }
        return lines;
    }

    // The capture header for the table in its order: sensors' columns, then
    // the two inputs of every detector and relay device.
    std::string header(int &columns) const
    {
        const std::string sep = "  ";
        std::string h = "Hora";
        columns = 1;
        for (int i = 1; i <= n(); ++i) {
            const Rec &r = t[i].rec;
            if (r.tipo == STT) {
                h += sep + r.name + " (\xBA" "C)";
                columns += 1;
            } else if (r.tipo == HRT) {
                h += sep + r.name + " (\xBA" "C)" + sep + r.name + " (%)";
                columns += 2;
            } else if (r.tipo == AVI) {
                for (int k = 0; k < 4; ++k)
                    h += sep + r.name + " - " + char('a' + k) + " (" + r.magnitud[k] + ")";
                columns += 4;
            }
        }
        for (int i = 1; i <= n(); ++i) {
            const Rec &r = t[i].rec;
            if (r.tipo == DET || r.tipo == CTR) {
                h += sep + r.name + " - 1" + sep + r.name + " - 2";
                columns += 2;
            }
        }
        return h;
    }
};

// ---- The window the tick talks to ------------------------------------------

class HarnessView final : public MainView {
public:
    void setTimerEnabled(bool enabled) override { timerEnabled = enabled; }
    void setTimerInterval(int ms) override { interval = ms; }
    void actualizando() override
    {
        if (onActualizando)
            onActualizando();
    }
    void listado() override
    {
        if (onListado)
            onListado();
    }
    void yieldEvents() override
    {
        ++yields;
        if (onYield)
            onYield(yields);
    }
    void showAlarmas(const QStringList &lines) override
    {
        alarmas = lines;
        ++alarmCalls;
    }
    void setCaption(const QString &) override {}

    bool timerEnabled = true;
    int interval = 3000;
    int yields = 0;
    int alarmCalls = 0;
    QStringList alarmas;
    std::function<void(int)> onYield;
    std::function<void()> onActualizando, onListado;
};

// ---- Scenario and report -----------------------------------------------------

struct Options {
    int devices = 500;
    int days = 1;
    std::uint32_t seed = 20260302;
    QDate firstDay = QDate(2026, 3, 2);
    // Days (0-based) with the faults that happen once in a while.
    std::set<int> silentDays{0}, clockDays{0}, pauseDays{0};
    bool memoryCheck = true; // for the caller: off where a sanitizer owns the heap
    bool verbose = false;
    QString folder; // empty: a fresh one under /dev/shm (or the temporary folder)
};

struct Report {
    long ticks = 0, captureTicks = 0, reads = 0, networkCalls = 0, relayWrites = 0;
    long edits = 0, saves = 0, reloads = 0, captures = 0, captureLines = 0, lostWriteTicks = 0;
    long resortsInTick = 0; // saves in the middle of a tick that reordered the table
    long extraHeaders = 0;  // headers past the first in a file: a day left and came back
    long checks = 0, failures = 0;
    std::vector<std::string> messages; // the first failures, in order
    std::vector<double> residentPerDay;   // at the end of each simulated day
    std::vector<double> heapPerDay;       // live heap bytes, same moments
    double residentAfterQuarter = 0;      // six simulated hours in
    double peakMb = 0;
    double seconds = 0;
    int devicesAtEnd = 0;
    std::string folder;
};

class Harness {
public:
    explicit Harness(Options o) : o_(std::move(o)), rng_(o_.seed), clock_(startMs()) {}

    Report run()
    {
        QElapsedTimer timer;
        timer.start();
        if (setup()) {
            const qint64 end = startMs() + o_.days * kDayMs + 5 * 60 * 1000;
            schedule();
            while (clock_.ms() < end && r_.failures < 200) {
                if (!fireEvents())
                    tick();
                clock_.advance(capturing_ ? 1000 : 3000);
            }
            if (capturing_)
                stopCapture();
            checkpoint();
            verifyAllFiles();
        }
        if (r_.failures > 0 && dir_) {
            dir_->setAutoRemove(false); // the files stay as evidence
            r_.messages.push_back("files kept in " + r_.folder);
        }
        r_.seconds = timer.nsecsElapsed() / 1e9;
        r_.peakMb = peakResidentMb();
        r_.reads = model_.reads;
        r_.networkCalls = sim_.callCount ? sim_.callCount(0, nullptr, nullptr) : 0;
        r_.devicesAtEnd = model_.n();
        return r_;
    }

    const Options &options() const { return o_; }

private:
    // ---- failures

    void check(bool ok, const std::function<std::string()> &what)
    {
        ++r_.checks;
        if (ok)
            return;
        ++r_.failures;
        if (r_.messages.size() < 40)
            r_.messages.push_back("[" + stampText(clock_.ms()).toStdString() + "] " + what());
    }

    // ---- set-up

    qint64 startMs() const { return QDateTime(o_.firstDay, QTime(0, 0), Qt::UTC).toMSecsSinceEpoch(); }

    double chance() { return std::uniform_real_distribution<double>(0, 1)(rng_); }
    int pick(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }
    template <typename T>
    const T &among(const std::vector<T> &v) { return v[static_cast<std::size_t>(pick(0, static_cast<int>(v.size()) - 1))]; }

    Serial newSerial(std::int16_t tipo)
    {
        static const std::uint8_t family[] = {0, 0x28, 0x26, 0x20, 0x1D, 0x3A};
        const int n = ++serialCounter_;
        Serial s{};
        s[0] = family[tipo];
        for (int k = 1; k <= 4; ++k) {
            const int r = pick(0, 9);
            s[k] = r == 0 ? 0x00 : r == 1 ? 0xFF : static_cast<std::uint8_t>(pick(0, 255));
        }
        s[5] = static_cast<std::uint8_t>(n >> 8);
        s[6] = static_cast<std::uint8_t>(n);
        s[7] = static_cast<std::uint8_t>(pick(0, 255));
        return s;
    }

    std::string newName(std::int16_t tipo, bool renamed = false)
    {
        const int n = ++nameCounter_;
        char buf[32];
        if (renamed)
            std::snprintf(buf, sizeof buf, "Zona %04d", n);
        else
            switch (tipo) {
            case STT: std::snprintf(buf, sizeof buf, n % 7 ? "Sala %04d" : "C\xE1mara %04d", n); break;
            case HRT: std::snprintf(buf, sizeof buf, "Inver %04d", n); break;
            case AVI: std::snprintf(buf, sizeof buf, "Bomba %04d", n); break;
            case DET: std::snprintf(buf, sizeof buf, "Puerta %04d", n); break;
            default: std::snprintf(buf, sizeof buf, "Rel\xE9 %04d", n); break;
            }
        return buf;
    }

    static std::int16_t periodFor(std::int16_t tipo, int r)
    {
        static const std::int16_t stt[] = {10, 15, 20, 30, 60, 120};
        static const std::int16_t hrt[] = {30, 60, 120, 300, 30, 60};
        static const std::int16_t avi[] = {5, 10, 30, 60, 10, 30};
        static const std::int16_t det[] = {5, 10, 30, 60, 10, 5};
        static const std::int16_t ctr[] = {15, 30, 60, 30, 15, 60};
        const std::int16_t *table = tipo == STT ? stt : tipo == HRT ? hrt : tipo == AVI ? avi : tipo == DET ? det : ctr;
        return table[r % 6];
    }

    // Limits the harness's drifting signals cross both ways.
    void setLimits(Rec &r)
    {
        switch (r.tipo) {
        case STT:
            r.ajuste[0] = static_cast<std::int16_t>(pick(-10, 10));
            r.alarma[0] = static_cast<float>(pick(180, 195)) / 10.0f;
            r.alarma[1] = r.alarma[0] + static_cast<float>(pick(5, 40)) / 10.0f;
            break;
        case HRT:
            r.alarma[0] = static_cast<float>(pick(18, 20));
            r.alarma[1] = r.alarma[0] + static_cast<float>(pick(1, 5));
            break;
        case AVI: {
            static const float gains[] = {0.01f, 0.02f, 0.005f, 0.1f};
            r.ganancia[0] = gains[pick(0, 3)];
            const float centre = 1000.0f * r.ganancia[0];
            r.alarma[0] = centre * 0.85f;
            r.alarma[1] = centre * 1.15f;
            break;
        }
        default:
            break;
        }
    }

    void link(Rec &r)
    {
        if (relaySerials_.empty())
            return;
        r.snrele[0] = among(relaySerials_);
        const int k = pick(0, 40);
        // Now and then an output number no relay has: that sensor drives nothing.
        r.salrele[0] = static_cast<std::int16_t>(k == 0 ? 0 : k == 1 ? 3 : 1 + k % 2);
    }

    Rec makeDevice(std::int16_t tipo, bool controlled)
    {
        Rec r;
        r.name = newName(tipo);
        r.sn = newSerial(tipo);
        r.tipo = tipo;
        r.periodo = periodFor(tipo, pick(0, 5));
        for (int k = 0; k < 4; ++k) {
            r.ajuste[k] = tipo == AVI ? 1 : 0;
            r.ganancia[k] = tipo == AVI ? 1.0f : 0.0f;
            r.magnitud[k] = tipo == AVI ? (k % 2 ? "bar" : "mV") : "";
        }
        if (tipo >= STT && tipo <= AVI) {
            setLimits(r);
            if (controlled && chance() < 0.8)
                link(r);
        }
        return r;
    }

    // A device as the window's add button makes it: defaults, no relay.
    Rec windowDefaults(std::int16_t tipo)
    {
        Rec r;
        r.name = newName(tipo);
        r.sn = newSerial(tipo);
        r.tipo = tipo;
        for (int k = 0; k < 4; ++k) {
            r.ajuste[k] = tipo == AVI ? 1 : 0;
            r.ganancia[k] = tipo == AVI ? 1.0f : 0.0f;
        }
        r.periodo = 1;
        return r;
    }

    std::string simLine(const Rec &r, bool controlled)
    {
        std::string line = std::string("device ") + typeText(r.tipo) + " " + hexOf(r.sn);
        if (controlled)
            return line + "\n"; // words fixed by the harness before every read
        switch (r.tipo) {
        case STT: line += " value " + std::to_string(pick(170, 240)) + " drift 40"; break;
        case HRT: line += " value 21 55 drift 4"; break;
        case AVI: line += " value 900 1200 2000 3000 drift 80"; break;
        default: break;
        }
        return line + " fail 0.1\n";
    }

    bool controlledType(std::int16_t tipo) { return tipo == DET || (tipo != CTR && chance() < 0.67); }

    bool setup()
    {
        if (o_.folder.isEmpty()) {
            const QString base = QFileInfo(QStringLiteral("/dev/shm")).isWritable() ? QStringLiteral("/dev/shm") : QDir::tempPath();
            dir_ = std::make_unique<QTemporaryDir>(base + QStringLiteral("/climalog-soak-XXXXXX"));
            o_.folder = dir_->path();
        }
        QDir().mkpath(o_.folder);
        r_.folder = o_.folder.toStdString();
        std::string error;
        if (!sim_.resolve(programFolder(), error)) {
            check(false, [&] { return error; });
            return false;
        }
        QString loadError;
        io_ = SondaIO::load(programFolder(), &loadError);
        if (!io_) {
            check(false, [&] { return loadError.toStdString(); });
            return false;
        }

        // The table: a realistic mix, relays first so sensors can link to them.
        const int count = o_.devices;
        const int relays = std::max(2, count / 10);
        const int detectors = count * 24 / 100;
        const int converters = count * 12 / 100;
        const int humidity = count * 18 / 100;
        const int temperature = count - relays - detectors - converters - humidity;
        std::vector<std::pair<Rec, bool>> devices;
        auto add = [&](std::int16_t tipo, int k) {
            for (int j = 0; j < k; ++j) {
                const bool controlled = controlledType(tipo);
                Rec r = makeDevice(tipo, controlled);
                if (tipo == CTR)
                    relaySerials_.push_back(r.sn);
                devices.emplace_back(r, controlled);
            }
        };
        add(CTR, relays);
        add(STT, temperature);
        add(HRT, humidity);
        add(AVI, converters);
        add(DET, detectors);
        std::shuffle(devices.begin(), devices.end(), rng_); // the file is out of order: loading sorts it

        std::string description = "seed " + std::to_string(o_.seed) + "\nport COM1 open\n";
        for (const auto &[r, controlled] : devices)
            description += simLine(r, controlled);
        if (const int bad = sim_.load(description.c_str())) {
            check(false, [&] { return "simulator refused its description at line " + std::to_string(bad); });
            return false;
        }

        g_.appFolder = o_.folder;
        g_.puerto = 0;
        g_.nombrepuerto = QStringLiteral("COM1");
        g_.carpeta = o_.folder + QStringLiteral("/1/");
        g_.conectado = io_->IniciarCNX(g_.puerto, g_.nombrepuerto, g_.mensaje) > 0;
        check(g_.conectado, [] { return std::string("the simulated port did not open"); });

        model_.t.assign(1, MDev{});
        for (const auto &[r, controlled] : devices) {
            MDev d;
            d.rec = r;
            d.controlled = controlled;
            model_.t.push_back(d);
            model_.know(r.sn, r.tipo);
        }
        model_.serve = [this](MDev &d) { return serve(d); };

        // The configuration file as the harness lays it out, then loaded as
        // the window does at start-up, and its first tick.
        {
            QFile f(g_.configPath());
            if (!f.open(QIODevice::WriteOnly)) {
                check(false, [] { return std::string("cannot write the first configuration file"); });
                return false;
            }
            const std::string bytes = model_.tableBytes();
            f.write(bytes.data(), static_cast<qint64>(bytes.size()));
        }

        monitor_ = std::make_unique<Monitor>(g_, io_.get(), clock_, view_);
        list_ = std::make_unique<SensoresModel>(g_, io_.get(), [](const QString &name16) { return name16.trimmed().size() < 10; });
        captura_ = std::make_unique<Captura>(g_, clock_);
        monitor_->onFatal = [this](const QString &text) { check(false, [&] { return "fatal: " + text.toStdString(); }); };
        monitor_->onCapture = [this](const QString &hora) {
            captured_ = true;
            capturedStamp_ = hora;
            const Captura::Escritura w = captura_->escribe(hora);
            check(w.estado == Captura::Estado::Escrito, [&] { return "capture line not written: " + w.mensaje.toStdString(); });
        };
        view_.onYield = [this](int y) { onYield(y); };
        view_.onActualizando = [this] {
            list_->rebuild();
            // Rows are painted while the tick reads: ask for one now and then.
            if (++paints_ % 8 == 0 && list_->rowCount() > 0)
                list_->data(list_->index(paints_ / 8 % list_->rowCount()));
        };
        view_.onListado = [this] { listado(); };

        reload(false);
        model_.load(secondsOfDay(clock_.ms()));
        firstTickPending_ = true;
        return true;
    }

    // ---- events

    struct Event {
        qint64 at;
        enum Kind { CaptureStart, CaptureStop, SilentOn, SilentOff, LatencyOn, LatencyOff, InTickLatency, SlowTick,
                    EditDue, SaveReload, SaveReloadInTick, ClockShift, Checkpoint, DayEnd } kind;
        qint64 value = 0;
    };

    void schedule()
    {
        const auto at = [&](int day, int h, int m, int s = 0) { return startMs() + day * kDayMs + ((h * 60 + m) * 60 + s) * 1000LL; };
        for (int day = 0; day < o_.days; ++day) {
            auto add = [&](qint64 when, Event::Kind k, qint64 v = 0) { events_.push_back({when, k, v}); };
            add(at(day, 1, 30), Event::CaptureStart);
            add(at(day, 1, 40), Event::CaptureStop);
            if (o_.silentDays.count(day)) {
                // An hour without answers, over a capture: lines of failed readings.
                add(at(day, 1, 20), Event::SilentOn);
                add(at(day, 2, 20), Event::SilentOff);
            }
            add(at(day, 5, 0), Event::LatencyOn, 2);
            add(at(day, 5, 0, 14), Event::LatencyOff);
            add(at(day, 6, 0), Event::CaptureStart);
            add(at(day, 6, 5), Event::InTickLatency, 2);
            add(at(day, 6, 10), Event::CaptureStop);
            for (int m = 7 * 60; m < 12 * 60; m += 20)
                add(at(day, 0, m), Event::EditDue);
            if (o_.clockDays.count(day)) {
                add(at(day, 8, 30), Event::ClockShift, 2 * 3600 * 1000LL);
                // Back by one during the capture across midnight: the lines'
                // dates go back to the day before and forward again.
                add(at(day + 1, 0, 1), Event::ClockShift, -3600 * 1000LL);
            }
            add(at(day, 12, 0), Event::SaveReload);
            add(at(day, 18, 50), Event::EditDue, 1); // a rename: the table is out of order for the save below
            add(at(day, 19, 0), Event::SaveReloadInTick); // the user saves and reloads while a tick reads
            add(at(day, 14, 0), Event::CaptureStart);
            add(at(day, 14, 10), Event::CaptureStop);
            for (int m = 15 * 60; m <= 16 * 60; m += 15)
                add(at(day, 0, m), Event::EditDue);
            if (o_.pauseDays.count(day))
                add(at(day, 16, 30), Event::ClockShift, 5 * 3600 * 1000LL);
            add(at(day, 21, 45), Event::CaptureStart);
            add(at(day, 21, 55), Event::CaptureStop);
            for (int m = 22 * 60; m < 24 * 60; m += 20)
                add(at(day, 0, m), Event::EditDue);
            add(at(day, 23, 57), Event::CaptureStart);
            add(at(day, 23, 59, 59), Event::SlowTick);
            add(at(day + 1, 0, 3), Event::CaptureStop);
            for (int h = 1; h < 24; ++h)
                add(at(day, h, 0, 1), Event::Checkpoint);
            add(at(day + 1, 0, 0, 1), Event::DayEnd, day);
            add(at(day, 6, 0, 2), Event::DayEnd, -1); // six hours in: the quarter mark
        }
        std::stable_sort(events_.begin(), events_.end(), [](const Event &a, const Event &b) { return a.at < b.at; });
    }

    // Between ticks. Returns true when a tick ran (a capture start ticks at once).
    bool fireEvents()
    {
        bool ticked = false;
        if (firstTickPending_) {
            firstTickPending_ = false;
            tick();
            ticked = true;
        }
        while (!events_.empty() && events_.front().at <= clock_.ms()) {
            const Event e = events_.front();
            events_.pop_front();
            switch (e.kind) {
            case Event::CaptureStart:
                if (!capturing_) {
                    flushDeferred();
                    startCapture();
                    ticked = true;
                }
                break;
            case Event::CaptureStop:
                if (capturing_)
                    stopCapture();
                break;
            case Event::SilentOn:
                sim_.silent(0, 1);
                model_.silent = silentHour_ = true;
                break;
            case Event::SilentOff:
                sim_.silent(0, 0);
                model_.silent = silentHour_ = false;
                break;
            case Event::LatencyOn:
                sim_.latency(static_cast<int>(e.value));
                break;
            case Event::LatencyOff:
                sim_.latency(0);
                break;
            case Event::InTickLatency:
                inTickLatency_ = true;
                break;
            case Event::SlowTick:
                slowTick_ = true;
                break;
            case Event::EditDue:
                ++pendingEdits_;
                renameNext_ = renameNext_ || e.value == 1;
                break;
            case Event::SaveReload:
                pendingSaveReload_ = true;
                break;
            case Event::SaveReloadInTick:
                pendingInTickReload_ = true;
                break;
            case Event::ClockShift:
                clock_.shift(e.value);
                break;
            case Event::Checkpoint:
                checkpoint();
                break;
            case Event::DayEnd:
                checkpoint();
                if (e.value < 0)
                    r_.residentAfterQuarter = residentMb();
                else {
                    r_.residentPerDay.push_back(residentMb());
                    r_.heapPerDay.push_back(heapInUseMb());
                    if (o_.verbose)
                        std::printf("  day %lld done: %ld ticks, %.2f MB resident, %.3f MB live heap, %ld checks, %ld failures\n",
                                    static_cast<long long>(e.value + 1), r_.ticks, r_.residentPerDay.back(), r_.heapPerDay.back(),
                                    r_.checks, r_.failures);
                }
                break;
            }
        }
        if (!capturing_)
            flushDeferred();
        return ticked;
    }

    // Saving and reloading wait for the end of a capture, as the window's
    // menu does.
    void flushDeferred()
    {
        if (pendingSaveReload_ && !capturing_) {
            pendingSaveReload_ = false;
            saveAndReload();
        }
    }

    // ---- the harness's signals

    struct Signal {
        std::array<std::int16_t, 4> w{};
        std::array<std::int16_t, 4> pushed{};
        bool started = false;
        bool fixed = false;
        double fail = -1;
    };

    Served serve(MDev &d)
    {
        if (!d.controlled)
            return {};
        Signal &s = signals_[keyOf(d.rec.sn)];
        if (!s.started) {
            s.started = true;
            switch (d.rec.tipo) {
            case STT: s.w = {static_cast<std::int16_t>(pick(170, 230)), 0, 0, 0}; break;
            case HRT: s.w = {static_cast<std::int16_t>(pick(18, 24)), static_cast<std::int16_t>(pick(40, 70)), 0, 0}; break;
            case AVI: s.w = {1000, 1200, 800, 1500}; break;
            default: s.w = {1, 1, 0, 0}; break;
            }
        }
        const bool fails = chance() < 0.10;
        const double rate = fails ? 1.0 : 0.0;
        if (s.fail != rate) {
            sim_.failRate(0, d.rec.sn.data(), rate);
            s.fail = rate;
        }
        if (fails)
            return {true, false, {}};
        auto walk = [&](std::int16_t &v, int step, int lo, int hi) { v = static_cast<std::int16_t>(std::clamp(v + pick(-step, step), lo, hi)); };
        switch (d.rec.tipo) {
        case STT: walk(s.w[0], 3, 130, 270); break;
        case HRT: walk(s.w[0], 1, 14, 28); walk(s.w[1], 2, 25, 95); break;
        case AVI: for (auto &v : s.w) walk(v, 30, 600, 1400); break;
        case DET:
            for (int k = 0; k < 2; ++k)
                if (chance() < 0.05)
                    s.w[k] = s.w[k] ? 0 : 1;
            break;
        default: break;
        }
        if (!s.fixed || s.pushed != s.w) {
            sim_.setWords(0, d.rec.sn.data(), s.w[0], s.w[1], s.w[2], s.w[3]);
            s.pushed = s.w;
            s.fixed = true;
        }
        return {true, true, s.w};
    }

    // ---- edits, as the window's buttons do them

    Edit planEdit()
    {
        Edit e;
        const int roll = pick(0, 99);
        // The table stays near its size: adds and deletes balance.
        const bool rename = renameNext_ && pendingEdits_ == 0;
        if (rename)
            renameNext_ = false;
        const bool add = !rename && (model_.n() < o_.devices * 9 / 10 || (model_.n() <= o_.devices * 11 / 10 && roll < 30));
        const bool remove = !add && !rename && (model_.n() > o_.devices * 11 / 10 || roll < 55);
        if (add) {
            static const std::int16_t types[] = {STT, STT, HRT, AVI, DET, CTR};
            const std::int16_t tipo = types[pick(0, 5)];
            e.kind = Edit::Add;
            e.controlled = controlledType(tipo);
            e.rec = windowDefaults(tipo);
            sim_.addDevice(0, tipo, e.rec.sn.data());
            if (!e.controlled)
                sim_.failRate(0, e.rec.sn.data(), 0.1);
            if (tipo == CTR)
                relaySerials_.push_back(e.rec.sn);
            return e;
        }
        const int i = pick(1, model_.n());
        const MDev &d = model_.t[i];
        e.target = d.rec.sn;
        if (remove && !(d.rec.tipo == CTR && countType(CTR) <= 3)) {
            e.kind = Edit::Delete;
            return e;
        }
        e.kind = Edit::Modify;
        e.rec = d.rec;
        switch (rename ? 1 : pick(0, 4)) {
        case 0:
            e.rec.periodo = periodFor(d.rec.tipo, pick(0, 5));
            break;
        case 1:
            e.rec.name = newName(d.rec.tipo, true); // the table is out of order until saved
            break;
        case 2:
            if (d.rec.tipo >= STT && d.rec.tipo <= AVI)
                setLimits(e.rec);
            e.rec.periodo = periodFor(d.rec.tipo, pick(0, 5));
            break;
        default:
            // Linking needs readings the harness knows.
            if (d.rec.tipo >= STT && d.rec.tipo <= AVI && d.controlled) {
                if (chance() < 0.8)
                    link(e.rec);
                else {
                    e.rec.snrele[0] = Serial{};
                    e.rec.salrele[0] = 0;
                }
                setLimits(e.rec);
            } else {
                e.rec.periodo = periodFor(d.rec.tipo, pick(0, 5));
            }
            break;
        }
        return e;
    }

    int countType(std::int16_t tipo) const
    {
        int k = 0;
        for (int i = 1; i <= model_.n(); ++i)
            k += model_.t[i].rec.tipo == tipo;
        return k;
    }

    int indexBySerial(const Serial &sn) const
    {
        for (int i = 1; i <= g_.n(); ++i)
            if (g_.dispositivos[i].sn == sn)
                return i;
        return 0;
    }

    void realEdit(const Edit &e)
    {
        ++r_.edits;
        switch (e.kind) {
        case Edit::Add: {
            g_.dispactual = toDispositivo(e.rec);
            const int expected = g_.n() + 1;
            const int i = g_.nuevo();
            check(i == expected, [&] { return "nuevo gave index " + std::to_string(i) + ", expected " + std::to_string(expected); });
            if (i >= 1 && i <= g_.n())
                list_->rebuild(); // the new row shows; the index lists wait
            break;
        }
        case Edit::Modify: {
            const int i = indexBySerial(e.target);
            check(i > 0, [&] { return "device to modify not found: " + hexOf(e.target); });
            if (i > 0) {
                g_.dispactual = toDispositivo(e.rec);
                g_.modifica(i);
                g_.cogereldet();
                listado();
            }
            break;
        }
        case Edit::Delete: {
            const int i = indexBySerial(e.target);
            check(i > 0, [&] { return "device to delete not found: " + hexOf(e.target); });
            if (i > 0) {
                const int rows = list_->rowCount();
                g_.borra(i);
                g_.cogereldet();
                // The view may paint the last row before the list is rebuilt.
                if (rows > 0) {
                    const QVariant stale = list_->data(list_->index(rows - 1));
                    check(stale.toString().isEmpty(), [&] { return "a row past the shrunk table shows " + stale.toString().toStdString(); });
                }
                listado();
            }
            break;
        }
        }
    }

    // ---- the list

    void listado()
    {
        list_->rebuild();
        listRows_ = list_->rowCount();
        listSample_.clear();
        if (listRows_ <= 0)
            return;
        for (int row : {0, listRows_ / 2, listRows_ - 1, static_cast<int>(r_.ticks % listRows_)})
            listSample_.emplace_back(row, list_->data(list_->index(row)).toString());
    }

    void checkList()
    {
        check(listRows_ == model_.n(), [&] { return "list shows " + std::to_string(listRows_) + " rows for " + std::to_string(model_.n()) + " devices"; });
        for (const auto &[row, text] : listSample_) {
            if (row + 1 > model_.n())
                continue;
            const MDev &d = model_.t[row + 1];
            std::string name16 = d.rec.name.substr(0, 16);
            name16.resize(16, ' ');
            const QString start = QString::fromLatin1(typeText(d.rec.tipo)) + QStringLiteral("  ") + latin(name16);
            bool ok = text.startsWith(start) && text.contains(QString::fromStdString(hexOf(d.rec.sn)));
            if (ok && d.known && d.rec.tipo != CTR)
                ok = text.endsWith(QStringLiteral("ERR")) == !d.valido;
            check(ok, [&] { return "list row " + std::to_string(row) + " shows \"" + text.toStdString() + "\" for " + d.rec.name; });
        }
    }

    // ---- one tick

    void onYield(int y)
    {
        for (std::size_t a = 0; a < plan_.size(); ++a)
            if (!executed_[a] && plan_[a].yield > 0 && plan_[a].yield == y) {
                executed_[a] = true;
                execute(plan_[a]);
            }
    }

    void execute(const Action &a)
    {
        switch (a.kind) {
        case Action::DoEdit: realEdit(a.edit); break;
        case Action::SilentOn: sim_.silent(0, 1); break;
        case Action::SilentOff: sim_.silent(0, silentHour_ ? 1 : 0); break;
        case Action::LatencyOn: sim_.latency(a.value); break;
        case Action::LatencyOff: sim_.latency(0); break;
        case Action::Advance: clock_.advance(a.value); break;
        case Action::SaveReload: saveAndReload(inTickSaved_, inTickBytes_); break;
        }
    }

    void modelAction(const Action &a)
    {
        switch (a.kind) {
        case Action::DoEdit: model_.edit(a.edit); break;
        case Action::SilentOn: model_.silent = true; break;
        case Action::SilentOff: model_.silent = silentHour_; break;
        case Action::SaveReload:
            inTickSaved_ = model_.save();
            inTickBytes_ = model_.tableBytes();
            r_.resortsInTick += model_.lastSortChanged;
            model_.load(secondsOfDay(clock_.ms()));
            break;
        default: break;
        }
    }

    void makePlan()
    {
        plan_.clear();
        const auto [sensors, relaysDue] = model_.dueCounts();
        const int yields = 2 * sensors + relaysDue;
        if (yields == 0)
            return;
        if (pendingEdits_ > 0 && !capturing_) {
            --pendingEdits_;
            Action a;
            a.kind = Action::DoEdit;
            a.yield = pick(1, yields);
            a.edit = planEdit();
            plan_.push_back(a);
            return;
        }
        if (pendingInTickReload_ && !capturing_) {
            pendingInTickReload_ = false;
            plan_.push_back({Action::SaveReload, pick(1, yields), 0, {}});
            return;
        }
        if (slowTick_) {
            // A tick that starts before midnight and ends after it.
            slowTick_ = false;
            plan_.push_back({Action::Advance, 1, 1500, {}});
            return;
        }
        if (inTickLatency_) {
            inTickLatency_ = false;
            plan_.push_back({Action::LatencyOn, 1, 2, {}});
            plan_.push_back({Action::LatencyOff, yields, 0, {}});
            return;
        }
        // Relay writes lost now and then: the port stops answering just
        // before the writes and answers again at the next moment the tick
        // lets the window run.
        if (!silentHour_ && sensors > 0 && chance() < 1.0 / 600) {
            ++r_.lostWriteTicks;
            plan_.push_back({Action::SilentOn, 2 * sensors, 0, {}});
            plan_.push_back({Action::SilentOff, relaysDue > 0 ? 2 * sensors + 1 : 0, 0, {}});
        }
    }

    void tick()
    {
        ++r_.ticks;
        if (capturing_)
            ++r_.captureTicks;
        makePlan();
        executed_.assign(plan_.size(), false);
        const qint64 start = clock_.ms();
        const TickOutcome expected = model_.tick(plan_, capturing_, start, [this](const Action &a) { modelAction(a); });

        view_.yields = 0;
        view_.timerEnabled = true;
        const int alarmCalls = view_.alarmCalls;
        captured_ = false;
        messages_.clear();
        monitor_->Timer1_Timer();
        for (std::size_t a = 0; a < plan_.size(); ++a)
            if (!executed_[a]) {
                executed_[a] = true;
                execute(plan_[a]);
            }

        check(view_.timerEnabled, [] { return std::string("the tick left the timer off"); });
        check(view_.alarmCalls == alarmCalls + 1, [] { return std::string("the warning list was not refreshed once"); });
        check(messages_.texts.isEmpty(), [&] { return "unexpected message: " + messages_.texts.join(" | ").toStdString(); });
        if (expected.leftover)
            check(false, [&] { return "the tick yielded " + std::to_string(view_.yields) + " times, fewer than the edit plan needed"; });

        // Capture line: when expected, stamped with the tick's start, in the file of that date.
        check(captured_ == expected.captureLine, [&] {
            return std::string("capture line ") + (captured_ ? "written" : "missing") + " (expected " + (expected.captureLine ? "one" : "none") + ")";
        });
        if (captured_) {
            ++r_.captureLines;
            const QString stamp = stampText(start);
            check(capturedStamp_ == stamp, [&] { return "capture stamp " + capturedStamp_.toStdString() + ", expected " + stamp.toStdString(); });
            lineWritten(stamp);
        }
        checkRelays();
        checkAlarmas();
        checkList();
    }

    void checkRelays()
    {
        for (const auto &[key, relay] : model_.delivered) {
            std::int16_t w1 = -1, w2 = -1;
            const long accepted = sim_.relayWords(0, model_.serials[key].data(), &w1, &w2);
            check(w1 == relay.w[0] && w2 == relay.w[1] && accepted == relay.accepted, [&, key = key, relay = relay] {
                return "relay " + hexOf(model_.serials[key]) + " holds " + std::to_string(w1) + "," + std::to_string(w2) + " after " +
                       std::to_string(accepted) + " writes; expected " + std::to_string(relay.w[0]) + "," + std::to_string(relay.w[1]) +
                       " after " + std::to_string(relay.accepted);
            });
        }
    }

    void checkAlarmas()
    {
        std::set<QString> ignored;
        const QStringList expected = model_.alarmas(ignored);
        QStringList shown;
        for (const QString &line : view_.alarmas)
            if (!ignored.count(line))
                shown << line;
        check(shown == expected, [&] {
            QStringList missing, extra;
            for (const auto &l : expected)
                if (!shown.contains(l))
                    missing << l;
            for (const auto &l : shown)
                if (!expected.contains(l))
                    extra << l;
            if (missing.isEmpty() && extra.isEmpty())
                return std::string("warning list in another order: ") + shown.join(", ").left(200).toStdString();
            return "warning list differs: missing [" + missing.join(", ").toStdString() + "] extra [" + extra.join(", ").toStdString() + "]";
        });
    }

    // ---- call counts

    void checkpoint()
    {
        long mismatches = 0;
        for (const auto &[key, counts] : model_.calls) {
            const Serial &sn = model_.serials[key];
            long total = 0;
            for (int k = 0; k < cKinds; ++k) {
                total += counts[k];
                const long got = sim_.callCount(0, sn.data(), kCallNames[k]);
                if (got != counts[k] && ++mismatches <= 5)
                    check(false, [&] {
                        const int i = model_.find(sn);
                        return std::string(kCallNames[k]) + " for " + hexOf(sn) + (i ? " (" + model_.t[i].rec.name + ")" : std::string(" (deleted)")) +
                               ": " + std::to_string(got) + " calls, the schedule gives " + std::to_string(counts[k]);
                    });
            }
            const long all = sim_.callCount(0, sn.data(), nullptr);
            if (all != total && ++mismatches <= 5)
                check(false, [&] { return hexOf(sn) + ": " + std::to_string(all) + " calls in all, expected " + std::to_string(total); });
        }
        check(mismatches == 0, [&] { return std::to_string(mismatches) + " call counts differ from the schedule"; });
        r_.relayWrites = 0;
        for (const auto &[key, counts] : model_.calls)
            r_.relayWrites += counts[cCtr];
    }

    // ---- configuration file

    void checkConfigFile(const char *when) { checkConfigFile(when, model_.tableBytes()); }
    void checkConfigFile(const char *when, const std::string &expected)
    {
        QFile f(g_.configPath());
        QByteArray actual;
        if (f.open(QIODevice::ReadOnly))
            actual = f.readAll();
        const bool same = actual.size() == static_cast<qsizetype>(expected.size()) &&
                          std::memcmp(actual.constData(), expected.data(), expected.size()) == 0;
        check(same, [&] {
            std::size_t at = 0;
            while (at < expected.size() && static_cast<qsizetype>(at) < actual.size() && actual[static_cast<qsizetype>(at)] == expected[at])
                ++at;
            return std::string("configuration file after ") + when + ": " + std::to_string(actual.size()) + " bytes, expected " +
                   std::to_string(expected.size()) + "; first difference in record " + std::to_string(at / 140) + " at byte " +
                   std::to_string(at % 140);
        });
    }

    void saveAndReload()
    {
        const bool expectSaved = model_.save();
        const std::string bytes = model_.tableBytes();
        saveAndReload(expectSaved, bytes);
        model_.load(secondsOfDay(clock_.ms()));
    }

    // The window's save button, then its load; the model has done both.
    void saveAndReload(bool expectSaved, const std::string &expected)
    {
        const configfile::SaveResult saved = configfile::save(g_);
        check(saved.status == (expectSaved ? configfile::SaveStatus::Saved : configfile::SaveStatus::NothingToDo),
              [&] { return "save: unexpected status " + saved.message.toStdString(); });
        if (saved.status == configfile::SaveStatus::Saved)
            ++r_.saves;
        checkConfigFile("a save", expected);
        reload(true);
    }

    // The window's load: read, apply, list rebuilt, polling clock reset.
    void reload(bool counted)
    {
        configfile::ReadResult file = configfile::read(g_.configPath());
        check(file.status == configfile::Status::Loaded && file.message.isEmpty(),
              [&] { return "configuration not loaded: " + file.message.toStdString(); });
        if (file.status != configfile::Status::Loaded)
            return;
        configfile::apply(g_, std::move(file.table));
        list_->rebuild();
        g_.reloj = 0;
        g_.ultimo = static_cast<std::int32_t>(std::lround(clock_.seconds()));
        if (counted)
            ++r_.reloads;
    }

    // ---- captures

    // A digest of the header instead of its text: the soak keeps a record of
    // every file it made, and must not grow its own memory with the week.
    static std::uint64_t digest(const char *data, std::size_t size)
    {
        std::uint64_t h = 1469598103934665603ULL;
        for (std::size_t k = 0; k < size; ++k)
            h = (h ^ static_cast<unsigned char>(data[k])) * 1099511628211ULL;
        return h ^ size;
    }

    struct FileExpect {
        std::uint64_t header = 0;
        int columns = 0;
        long lines = 0;
        int headers = 0;
        qint64 size = 0;
    };

    QString fileName(const QString &date) const { return date + QStringLiteral("-") + QString::fromStdString(model_.seq) + QStringLiteral(".log"); }

    static std::string nextSeq(const std::string &s)
    {
        const int v = (std::atoi(s.c_str()) + 1) % 100;
        char buf[4];
        std::snprintf(buf, sizeof buf, "%02d", v);
        return buf;
    }

    void startCapture()
    {
        ++r_.captures;
        const QString date = dateText(clock_.ms());
        // The table as it will be captured: sorted when a save comes first.
        Model after = model_;
        after.sort();
        int columns = 0;
        const std::string text = after.header(columns);
        const std::uint64_t header = digest(text.data(), text.size());
        std::string seq = model_.seq;
        for (int k = 0; k < 100; ++k) {
            const auto found = files_.find(date + QStringLiteral("-") + QString::fromStdString(seq) + QStringLiteral(".log"));
            if (found == files_.end() || found->second.header == header)
                break;
            seq = nextSeq(seq);
        }
        const bool needSave = model_.modificado || seq != model_.seq;

        messages_.clear();
        int saves = 0;
        const bool started = captura_->inicia(messages_, [&] {
            ++saves;
            const configfile::SaveResult r = configfile::save(g_);
            if (r.status == configfile::SaveStatus::Failed)
                messages_.show(r.message, Messages::Buttons::Ok, Messages::Icon::None);
            return r.status != configfile::SaveStatus::Failed;
        });
        check(started, [&] { return "capture did not start: " + messages_.texts.join(" | ").toStdString(); });
        if (needSave) {
            check(messages_.texts.size() == 1 && messages_.texts[0].startsWith(QStringLiteral("La configuración ha sido modificada.")) &&
                      messages_.buttons[0] == Messages::Buttons::OkCancel,
                  [&] { return "capture start asked: " + messages_.texts.join(" | ").toStdString() + " (a save question expected)"; });
            check(saves == 1, [&] { return "capture start saved " + std::to_string(saves) + " times"; });
            model_.seq = seq;
            model_.modificado = true; // a new sequence number is a change of entry 0
            model_.save();
            ++r_.saves;
            checkConfigFile("a capture start");
        } else {
            check(messages_.texts.isEmpty() && saves == 0, [&] { return "capture start asked: " + messages_.texts.join(" | ").toStdString(); });
        }
        messages_.clear();
        if (!started)
            return;

        capturing_ = true;
        fileDate_ = date;
        currentFile_ = fileName(date);
        int cols = 0;
        FileExpect &f = files_[currentFile_];
        if (f.headers == 0) {
            const std::string text = model_.header(cols);
            f.header = digest(text.data(), text.size());
            f.columns = cols;
            f.headers = 1;
        }
        touched_.insert(currentFile_);
        check(g_.fichero == currentFile_, [&] { return "capture file " + g_.fichero.toStdString() + ", expected " + currentFile_.toStdString(); });

        // The window then resets the polling, rebuilds the list and ticks at once.
        monitor_->reinicia();
        model_.reinicia(secondsOfDay(clock_.ms()));
        listado();
        tick();
    }

    void stopCapture()
    {
        captura_->para();
        capturing_ = false;
        for (const QString &name : touched_)
            verifyFile(name);
        touched_.clear();
    }

    void lineWritten(const QString &stamp)
    {
        const QString date = stamp.left(10);
        if (date != fileDate_) {
            // A new day: the file of the line's date, headed again.
            fileDate_ = date;
            currentFile_ = fileName(date);
            FileExpect &f = files_[currentFile_];
            if (f.headers == 0) {
                int cols = 0;
                const std::string text = model_.header(cols);
                f.header = digest(text.data(), text.size());
                f.columns = cols;
            }
            ++f.headers;
            touched_.insert(currentFile_);
        }
        FileExpect &f = files_[currentFile_];
        ++f.lines;
        const qint64 size = QFileInfo(g_.carpeta + currentFile_).size();
        check(size > f.size, [&] {
            return "capture file " + currentFile_.toStdString() + " went from " + std::to_string(f.size) + " to " + std::to_string(size) + " bytes";
        });
        f.size = size;
    }

    // Whole lines under a header that fits them, stamps of the file's date,
    // as many lines as captured ticks, never shorter than seen before. Read
    // in pieces through one buffer, so checking a file of megabytes leaves
    // no mark on the memory the soak measures.
    void verifyFile(const QString &name)
    {
        const FileExpect &f = files_[name];
        const std::string what = "capture file " + name.toStdString();
        const QByteArray date = name.left(10).toLatin1();
        QFile file(g_.carpeta + name);
        if (!file.open(QIODevice::ReadOnly)) {
            check(false, [&] { return what + " cannot be read"; });
            return;
        }
        const qint64 size = file.size();
        check(size >= f.size, [&] { return what + " shrank to " + std::to_string(size) + " bytes"; });
        chunk_.resize(1 << 16);
        line_.clear();
        long lines = 0;
        int headers = 0, columns = 0, bad = 0;
        bool strayEnd = false;
        auto oneLine = [&](const std::string &line) {
            if (line.find('\r') != std::string::npos || line.find('\n') != std::string::npos)
                strayEnd = true;
            int fields = 1;
            for (std::size_t k = line.find("  "); k != std::string::npos; k = line.find("  ", k + 2))
                ++fields;
            if (line.rfind("Hora", 0) == 0) {
                ++headers;
                columns = fields;
                check(digest(line.data(), line.size()) == f.header, [&] { return what + ": header differs from the table's columns"; });
                return;
            }
            ++lines;
            const bool stampOk = line.size() >= 19 && line.compare(0, 10, date.constData(), 10) == 0 && line[10] == ' ' &&
                                 line[13] == ':' && line[16] == ':';
            const bool ok = headers > 0 && fields == columns && stampOk && line.find("   ") == std::string::npos;
            if (!ok && ++bad <= 3)
                check(false, [&] {
                    return what + ": data line with " + std::to_string(fields) + " columns under " + std::to_string(columns) + ": " +
                           line.substr(0, 40);
                });
        };
        for (;;) {
            const qint64 got = file.read(chunk_.data(), static_cast<qint64>(chunk_.size()));
            if (got <= 0)
                break;
            for (qint64 k = 0; k < got; ++k) {
                const char ch = chunk_[static_cast<std::size_t>(k)];
                line_ += ch;
                const std::size_t n = line_.size();
                if (ch == '\n' && n >= 2 && line_[n - 2] == '\r') {
                    line_.resize(n - 2);
                    oneLine(line_);
                    line_.clear();
                }
            }
        }
        check(line_.empty(), [&] { return what + " does not end with a whole line"; });
        check(!strayEnd, [&] { return what + ": a line with a stray line end"; });
        check(bad == 0, [&] { return what + ": " + std::to_string(bad) + " malformed data lines"; });
        check(lines == f.lines && headers == f.headers, [&] {
            return what + ": " + std::to_string(lines) + " lines under " + std::to_string(headers) + " headers, expected " + std::to_string(f.lines) +
                   " under " + std::to_string(f.headers);
        });
        files_[name].size = size;
    }

    void verifyAllFiles()
    {
        const QStringList present = QDir(g_.carpeta).entryList(QDir::Files);
        for (const QString &name : present)
            check(files_.count(name) > 0, [&] { return "unexpected file in the capture folder: " + name.toStdString(); });
        for (const auto &[name, f] : files_) {
            verifyFile(name);
            r_.extraHeaders += std::max(0, f.headers - 1);
        }
    }

    // ---- state

    Options o_;
    std::mt19937_64 rng_;
    SteppedClock clock_;
    std::unique_ptr<QTemporaryDir> dir_;
    SimControls sim_;
    std::unique_ptr<SondaIO> io_;
    General g_;
    HarnessView view_;
    AnsweringMessages messages_;
    std::unique_ptr<Monitor> monitor_;
    std::unique_ptr<SensoresModel> list_;
    std::unique_ptr<Captura> captura_;
    Model model_;
    Report r_;

    std::deque<Event> events_;
    std::vector<Action> plan_;
    std::vector<bool> executed_;
    std::unordered_map<std::uint64_t, Signal> signals_;
    std::vector<Serial> relaySerials_;
    int serialCounter_ = 0, nameCounter_ = 0;
    int pendingEdits_ = 0;
    bool renameNext_ = false;
    bool pendingSaveReload_ = false, pendingInTickReload_ = false, firstTickPending_ = false;
    std::string inTickBytes_; // the table the model saved at the in-tick save
    bool inTickSaved_ = false;
    bool capturing_ = false, silentHour_ = false, inTickLatency_ = false, slowTick_ = false;
    bool captured_ = false;
    QString capturedStamp_;
    long paints_ = 0;
    int listRows_ = 0;
    std::vector<std::pair<int, QString>> listSample_;

    std::map<QString, FileExpect> files_;
    std::vector<char> chunk_;
    std::string line_;
    std::set<QString> touched_;
    QString currentFile_, fileDate_;
};

} // namespace soak
