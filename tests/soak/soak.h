// Soak harness: the polling core, the capture writer and the configuration
// file driven through simulated days on the simulated network by a clock the
// harness steps, the table edited, saved and reloaded between ticks. The
// program is checked against a model of the rules written here from the
// rules alone, never from the program's state: the calls each device gets
// (its due times), the relay words, the capture lines and files, and the
// configuration file's bytes.
//
// Header only, so the soak test and the week's benchmark share it.
#pragma once

#include "monitor/capture.h"
#include "monitor/mainview.h"
#include "monitor/monitor.h"
#include "netaccess/binding.h"
#include "registry/configfile.h"
#include "registry/general.h"
#include "support/support.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <fstream>
#include <map>
#include <random>

#include <sys/resource.h>
#include <unistd.h>

namespace soak {

constexpr qint64 kDayMs = 86400000;

struct Options {
    int devices = 500, days = 1;
    std::uint32_t seed = 20260302;
};

struct Report {
    long ticks = 0, reads = 0, networkCalls = 0, relayWrites = 0, edits = 0, saves = 0, captures = 0, captureLines = 0;
    long extraHeaders = 0; // a day's file headed again: the clock went back to it
    long checks = 0, failures = 0;
    std::vector<std::string> messages;  // the first failures
    std::vector<double> residentPerDay; // MB at the end of each day
    double residentAfterQuarter = 0, peakMb = 0, seconds = 0;
};

inline double residentMb()
{
    long pages = 0, resident = 0;
    std::ifstream("/proc/self/statm") >> pages >> resident;
    return static_cast<double>(resident * sysconf(_SC_PAGESIZE)) / (1 << 20);
}

inline std::int32_t secondsOfDay(qint64 ms) { return static_cast<std::int32_t>((ms % kDayMs + 500) / 1000 % 86400); }
inline std::int32_t plus(std::int32_t a, std::int32_t b) { return (a + b + 86400) % 86400; }
inline std::string typeText(std::int16_t tipo) { return std::array{"", "STT", "HRT", "AVI", "DET", "CTR"}[tipo]; }
inline std::string unit(std::int16_t tipo, int k) { return tipo != AVI ? "" : k % 2 ? "bar" : "mV"; }

// A configured device as the model holds it.
struct Dev {
    std::string name; // Windows-1252 bytes
    Dispositivo d;    // the record the window hands over
    std::int32_t due = 0;
    bool ok = false;
    std::array<std::int16_t, 4> w{}; // the words of its last good read
    float value = 0;                 // its first reading, as the relay rule sees it
};

// What the network saw of one device over the whole run.
struct Tally {
    long calls = 0, writes = 0;           // its calls; the relay writes it took
    std::array<std::int16_t, 2> relay{};  // the words last written to it
    std::array<std::int16_t, 4> signal{}; // what it answers
    bool failing = false;
};

struct Entry { // of the detector or relay list: a table index and two words
    int i;
    std::array<std::int16_t, 2> w{};
};

// The configuration file: entry 0 holds the sequence number as its name; then
// 140 bytes a device, little-endian: name 16, serial 8, type, four offsets,
// four limits and four gains (floats), four 8-character units, four relay
// serials, four outputs, period.
inline std::string tableBytes(const std::string &seq, const std::vector<Dev> &t)
{
    std::string out;
    const auto text = [&](std::string s, std::size_t width) { s.resize(width, ' '), out += s; };
    const auto word = [&](std::uint32_t v, int bytes) { for (int k = 0; k < bytes; ++k) out += static_cast<char>(v >> 8 * k & 0xFF); };
    const auto words = [&](const auto &a) { for (const std::int16_t v : a) word(static_cast<std::uint16_t>(v), 2); };
    const auto reals = [&](const std::array<float, 4> &a) { for (const float f : a) word(std::bit_cast<std::uint32_t>(f), 4); };
    text(seq, 16);
    out.resize(140, '\0');
    for (const Dev &v : t) {
        if (&v == &t[0])
            continue;
        text(v.name, 16);
        out.append(v.d.sn.begin(), v.d.sn.end());
        words(std::array{v.d.tipo}), words(v.d.ajuste), reals(v.d.alarma), reals(v.d.ganancia);
        for (int k = 0; k < 4; ++k)
            text(unit(v.d.tipo, k), 8);
        for (const Serial &s : v.d.snrele)
            out.append(s.begin(), s.end());
        words(v.d.salrele), words(std::array{v.d.periodo});
    }
    return out;
}

// By type text and name, byte by byte; equal keys keep their order.
inline void sortTable(std::vector<Dev> &t)
{
    std::stable_sort(t.begin() + 1, t.end(), [](const Dev &a, const Dev &b) {
        const std::string x = typeText(a.d.tipo) + a.name, y = typeText(b.d.tipo) + b.name;
        return std::lexicographical_compare(x.begin(), x.end(), y.begin(), y.end(), [](unsigned char p, unsigned char q) { return p < q; });
    });
}

// The capture header: sensors' columns in table order, then both inputs of
// every detector and relay device.
inline std::size_t header(const std::vector<Dev> &t)
{
    std::string h = "Hora", inputs;
    for (const Dev &v : t) {
        const std::int16_t tipo = v.d.tipo;
        if (tipo == STT || tipo == HRT)
            h += "  " + v.name + " (\xBA" "C)" + (tipo == HRT ? "  " + v.name + " (%)" : "");
        for (int k = 0; k < (tipo == AVI ? 4 : 0); ++k)
            h += "  " + v.name + " - " + char('a' + k) + " (" + unit(AVI, k) + ")";
        if (tipo == DET || tipo == CTR)
            inputs += "  " + v.name + " - 1  " + v.name + " - 2";
    }
    return std::hash<std::string>{}(h + inputs); // a week of files must not grow the memory measured
}

class Harness final : public MainView {
public:
    explicit Harness(Options o) : o_(o), rng_(o.seed) {}

    Report run()
    {
        QElapsedTimer timer;
        timer.start();
        const QString base = QFileInfo(QStringLiteral("/dev/shm")).isWritable() ? QStringLiteral("/dev/shm") : QDir::tempPath();
        QTemporaryDir dir(base + QStringLiteral("/climalog-soak-XXXXXX"));
        if (setup(dir.path())) {
            for (const qint64 end = ms() + o_.days * kDayMs + 5 * 60 * 1000; ms() < end && r_.failures < 200; clock_.advance(capturing_ ? 1 : 3))
                if (!events())
                    tick();
            if (capturing_)
                captura_->para(), capturing_ = false;
            checkpoint();
            check(QDir(g_.carpeta).entryList(QDir::Files).size() == static_cast<qsizetype>(files_.size()), [] { return std::string("capture files nobody made"); });
            for (const auto &[name, f] : files_)
                verify(name), r_.extraHeaders += f.headers - 1;
        }
        if (r_.failures > 0) {
            dir.setAutoRemove(false); // the files stay as evidence
            r_.messages.push_back("files kept in " + dir.path().toStdString());
        }
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        r_.peakMb = static_cast<double>(usage.ru_maxrss) / 1024;
        r_.seconds = static_cast<double>(timer.nsecsElapsed()) / 1e9;
        r_.networkCalls = sim::callCount(0, nullptr, nullptr);
        return r_;
    }

private:
    // The window the tick talks to. A slow tick ends after midnight: the
    // clock runs on while the list is drawn.
    void setTimerEnabled(bool) override {}
    void setTimerInterval(int) override {}
    void actualizando() override {}
    void listado() override { std::exchange(slow_, false) ? clock_.advance(1.5) : void(); }
    void yieldEvents() override {}
    void showAlarmas(const QStringList &) override {}
    void setCaption(const QString &) override {}

    qint64 ms() const { return clock_.now().toMSecsSinceEpoch(); }
    QString stamp(qint64 at) const { return QDateTime::fromMSecsSinceEpoch(at, Qt::UTC).toString(QStringLiteral("dd-MM-yyyy HH:mm:ss")); }
    int pick(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }
    void check(bool ok, const std::function<std::string()> &what)
    {
        ++r_.checks;
        if (!ok && ++r_.failures <= 40)
            r_.messages.push_back("[" + stamp(ms()).toStdString() + "] " + what());
    }

    // A device with a new serial, and a new name, period, limits its drifting
    // signal crosses both ways and a relay output (now and then none, or one
    // no relay has), unless it takes the window's defaults for an added one.
    Dev device(std::int16_t tipo, bool defaults = false)
    {
        Dev v;
        v.d.sn = {std::array<std::uint8_t, 6>{0, 0x28, 0x26, 0x20, 0x1D, 0x3A}[tipo], static_cast<std::uint8_t>(pick(0, 255)), 0xFF, 0,
                  static_cast<std::uint8_t>(made_ >> 8), static_cast<std::uint8_t>(made_), static_cast<std::uint8_t>(pick(0, 255)), 0};
        v.d.tipo = tipo;
        for (int k = 0; k < 4; ++k)
            v.d.ajuste[k] = tipo == AVI, v.d.ganancia[k] = tipo == AVI, v.d.magnitud[k] = QString::fromStdString(unit(tipo, k));
        std::string word = made_ % 7 == 0 && tipo == STT ? "C\xE1mara" : std::array{"", "Sala", "Inver", "Bomba", "Puerta", "Rel\xE9"}[tipo];
        word[0] = made_ % 2 ? word[0] : static_cast<char>(word[0] + 'a' - 'A'); // both cases: the order is by character code
        change(v, word.c_str(), defaults);
        net_[v.d.sn].signal = std::array<std::array<std::int16_t, 4>, 6>{{{}, {200}, {21, 55}, {1000, 1200, 800, 1500}, {1, 1}, {}}}[tipo];
        if (tipo == CTR)
            relays_.push_back(v.d.sn);
        return v;
    }
    void change(Dev &v, const char *word, bool defaults = false)
    {
        Dispositivo &d = v.d;
        v.name = QString::asprintf("%s %04d", word, ++made_).toStdString();
        d.nombre = QString::fromLatin1(v.name.c_str());
        d.periodo = static_cast<std::int16_t>(defaults ? 1 : std::array{5, 10, 15, 30, 60, 120}[pick(0, 5)] * (d.tipo == HRT ? 2 : 1));
        if (defaults || d.tipo == DET || d.tipo == CTR)
            return;
        d.ajuste[0] = d.tipo == STT ? static_cast<std::int16_t>(pick(-10, 10)) : d.ajuste[0];
        d.ganancia[0] = d.tipo == AVI ? std::array{0.01f, 0.02f, 0.005f, 0.1f}[pick(0, 3)] : d.ganancia[0];
        d.alarma[0] = d.tipo == STT ? pick(180, 195) / 10.0f : d.tipo == HRT ? pick(18, 20) : 850 * d.ganancia[0];
        d.alarma[1] = d.tipo == STT ? d.alarma[0] + pick(5, 40) / 10.0f : d.tipo == HRT ? d.alarma[0] + pick(1, 5) : 1150 * d.ganancia[0];
        const int k = pick(0, 40);
        d.snrele[0] = relays_.empty() || k == 2 ? Serial{} : relays_[static_cast<std::size_t>(pick(0, static_cast<int>(relays_.size()) - 1))];
        d.salrele[0] = static_cast<std::int16_t>(k == 0 ? 0 : k == 1 ? 3 : 1 + k % 2);
    }

    bool setup(const QString &folder)
    {
        QString error;
        io_ = SondaIO::load(binFolder(), &error);
        check(io_ && sim::available(), [&] { return "no simulator: " + error.toStdString(); });
        if (!io_ || !sim::available())
            return false;
        // A realistic mix, relays first so sensors can link to them; the file
        // out of order, as loading sorts it.
        std::string description = "seed " + std::to_string(o_.seed) + "\nport COM1 open\n";
        for (int k = 0; k < o_.devices; ++k) {
            t_.push_back(device(k < std::max(2, o_.devices / 10) ? CTR : std::array{STT, STT, STT, HRT, HRT, AVI, DET, DET}[k % 8]));
            description += "device " + typeText(t_.back().d.tipo) + " " + seriehex(t_.back().d.sn).toStdString() + "\n";
        }
        std::shuffle(t_.begin() + 1, t_.end(), rng_);
        check(sim::load(description.c_str()) == 0, [] { return std::string("the simulator refused its network"); });
        g_.appFolder = folder;
        g_.nombrepuerto = QStringLiteral("COM1");
        g_.carpeta = folder + QStringLiteral("/1/");
        check(io_->IniciarCNX(g_.puerto, g_.nombrepuerto, g_.mensaje) > 0, [] { return std::string("the simulated port did not open"); });
        QFile f(g_.configPath());
        check(f.open(QIODevice::WriteOnly) && f.write(QByteArray::fromStdString(tableBytes(seq_, t_))) > 0, [] { return std::string("no first file"); });
        f.close();
        monitor_ = std::make_unique<Monitor>(g_, io_.get(), clock_, *this);
        captura_ = std::make_unique<Captura>(g_, clock_);
        monitor_->onFatal = [this](const QString &text) { check(false, [&] { return "fatal: " + text.toStdString(); }); };
        monitor_->onCapture = [this](const QString &hora) {
            captured_ = hora;
            const Captura::Escritura w = captura_->escribe(hora);
            check(w.estado == Captura::Estado::Escrito, [&] { return "capture line not written: " + w.mensaje.toStdString(); });
        };
        load();
        schedule();
        return true;
    }

    enum Event { CaptureStart, CaptureStop, Silent, Answering, Edit, SaveReload, Shift, SlowTick, Checkpoint, Quarter, DayEnd };

    // Each day: captures (one across midnight, an hour without answers over
    // another), edits, a save and reload, the clock set forward, suspended
    // five hours, set back during the capture across midnight.
    void schedule()
    {
        for (int day = 0; day < o_.days; ++day) {
            const auto at = [&](int h, int m, int s, Event e, qint64 value = 0) { events_.emplace(ms() + day * kDayMs + ((h * 60 + m) * 60 + s) * 1000LL, std::pair(e, value)); };
            for (const auto &[h, m, stopH, stopM] : {std::array{1, 30, 1, 40}, {6, 0, 6, 10}, {14, 0, 14, 10}, {21, 45, 21, 55}, {23, 57, 24, 3}})
                at(h, m, 0, CaptureStart), at(stopH, stopM, 0, CaptureStop);
            at(1, 20, 0, Silent), at(2, 20, 0, Answering);
            for (int m = 7 * 60; m < 24 * 60; m += 20)
                if (m < 12 * 60 || m >= 22 * 60 || (m >= 15 * 60 && m <= 16 * 60))
                    at(0, m, 0, Edit);
            at(12, 0, 0, SaveReload);
            at(8, 30, 0, Shift, 2 * 3600), at(16, 30, 0, Shift, 5 * 3600), at(24, 1, 0, Shift, -3600);
            at(23, 59, 59, SlowTick);
            for (int h = 1; h < 24; ++h)
                at(h, 0, 1, Checkpoint);
            at(6, 0, 2, Quarter), at(24, 0, 1, DayEnd);
        }
    }

    // Between ticks; true when a tick ran (a capture start ticks at once).
    bool events()
    {
        bool ticked = false;
        for (auto e = events_.begin(); e != events_.end() && e->first <= ms(); e = events_.erase(e)) {
            switch (const auto [what, value] = e->second; what) {
            case CaptureStart: ticked = ticked || (!capturing_ && startCapture()); break;
            case CaptureStop: captura_->para(), capturing_ = false; break;
            case Silent:
            case Answering: sim::silent(0, silent_ = what == Silent); break;
            case Edit: capturing_ ? void() : edit(); break;
            case SaveReload: saveAndLoad(); break;
            case Shift: clock_.set(clock_.now().addSecs(value)); break;
            case SlowTick: slow_ = true; break;
            case Checkpoint: checkpoint(); break;
            case Quarter: r_.residentAfterQuarter = residentMb(); break;
            case DayEnd: checkpoint(), r_.residentPerDay.push_back(residentMb()); break;
            }
        }
        return ticked;
    }

    // The window's buttons, on the program's table (found by serial) and the
    // model's alike: add a device with the window's defaults (the index lists
    // wait for the next rebuild), or change or delete one (lists rebuilt).
    void edit()
    {
        ++r_.edits;
        modified_ = true;
        const int n = static_cast<int>(t_.size()) - 1, roll = pick(0, 99);
        if (n < o_.devices * 9 / 10 || (n <= o_.devices * 11 / 10 && roll < 30)) { // the table stays near its size
            t_.push_back(device(std::array{STT, STT, HRT, AVI, DET, CTR}[pick(0, 5)], true));
            sim::addDevice(0, t_.back().d.tipo, t_.back().d.sn);
            g_.dispactual = t_.back().d;
            return check(g_.nuevo() == n + 1, [] { return std::string("a device added elsewhere than at the end"); });
        }
        const auto v = t_.begin() + pick(1, n);
        int i = g_.n();
        while (i > 0 && g_.dispositivos[static_cast<std::size_t>(i)].sn != v->d.sn)
            --i;
        check(i > 0, [&] { return "the program lost device " + v->name; });
        if ((n > o_.devices * 11 / 10 || roll < 55) && !(v->d.tipo == CTR && std::count_if(t_.begin(), t_.end(), [](const Dev &d) { return d.d.tipo == CTR; }) <= 3)) {
            t_.erase(v);
            g_.borra(i);
        } else {
            change(*v, "Zona");
            g_.dispactual = v->d;
            g_.modifica(i);
        }
        lists();
        g_.cogereldet();
    }

    void lists()
    {
        det_.clear(), ctr_.clear();
        for (int i = 1; i < static_cast<int>(t_.size()); ++i)
            if (t_[i].d.tipo == DET || t_[i].d.tipo == CTR)
                (t_[i].d.tipo == DET ? det_ : ctr_).push_back({i});
    }

    // The window's load: the table sorted (marked modified when the file was
    // not), its lists rebuilt, valid readings of all-zero words; the polling
    // clock at 0. A capture start only resets readings and clock.
    void load()
    {
        configfile::ReadResult file = configfile::read(g_.configPath());
        check(file.status == configfile::Status::Loaded && file.message.isEmpty(), [&] { return "not loaded: " + file.message.toStdString(); });
        configfile::apply(g_, std::move(file.table));
        g_.reloj = 0;
        g_.ultimo = secondsOfDay(ms());
        const std::string before = tableBytes(seq_, t_);
        sortTable(t_);
        modified_ = tableBytes(seq_, t_) != before;
        lists();
        restart(true);
    }
    void restart(bool loaded)
    {
        for (Dev &v : t_)
            v.due = 0, v.ok = loaded, v.w = {}, v.value = 0;
        reloj_ = 0, last_ = secondsOfDay(ms());
    }

    // The window's save, only of a modified table: sorted, lists rebuilt.
    void saveAndLoad()
    {
        const bool saves = modified_ && t_.size() > 1;
        if (saves)
            sortTable(t_), lists(), modified_ = false;
        const configfile::SaveResult s = configfile::save(g_);
        check(s.status == (saves ? configfile::SaveStatus::Saved : configfile::SaveStatus::NothingToDo), [&] { return "save: " + s.message.toStdString(); });
        r_.saves += saves;
        checkConfig();
        load();
    }
    void checkConfig()
    {
        QFile f(g_.configPath());
        const std::string expected = tableBytes(seq_, t_), actual = f.open(QIODevice::ReadOnly) ? f.readAll().toStdString() : "";
        const auto at = std::mismatch(expected.begin(), expected.end(), actual.begin(), actual.end()).first - expected.begin();
        check(actual == expected, [&] { return "configuration file differs from record " + std::to_string(at / 140) + ", byte " + std::to_string(at % 140) + " on"; });
    }

    // The harness answers for the device: one read in ten fails, the others
    // give its signal one step on, told to the simulator before the program reads.
    void read(Dev &v)
    {
        Tally &k = net_[v.d.sn];
        k.calls += v.d.tipo == AVI ? 2 : 1; // a converter takes its set-up first
        ++r_.reads;
        const bool fail = silent_ || pick(0, 9) == 0;
        if (v.d.tipo == CTR)
            return; // nothing here depends on a relay device's inputs
        if (!silent_ && fail != k.failing)
            sim::failRate(0, v.d.sn, (k.failing = fail) ? 1.0 : 0.0);
        if (!(v.ok = !fail))
            return;
        std::array<std::int16_t, 4> &w = k.signal;
        const auto step = [&](int i, int by, int lo, int hi) { w[i] = static_cast<std::int16_t>(std::clamp(w[i] + pick(-by, by), lo, hi)); };
        for (int i = 0; i < (v.d.tipo == AVI ? 4 : v.d.tipo == DET ? 2 : 0); ++i)
            v.d.tipo == AVI ? step(i, 30, 600, 1400) : void(w[i] = pick(0, 19) == 0 ? !w[i] : w[i]);
        v.d.tipo == STT ? step(0, 3, 130, 270) : v.d.tipo == HRT ? (step(0, 1, 14, 28), step(1, 2, 25, 95)) : void();
        sim::setWords(0, v.d.sn, w[0], w[1], w[2], w[3]);
        v.w = w;
        v.value = v.d.tipo == STT ? static_cast<float>((v.d.ajuste[0] + w[0]) / 10.0) // tenths of a degree
                                  : static_cast<float>(w[0]) * (v.d.tipo == AVI ? v.d.ganancia[0] : 1.0f);
    }

    // Hysteresis on the relay list's words (on below the minimum, off above
    // the maximum, held on the limits), then every relay of the list written.
    void relays()
    {
        for (const Dev &v : t_) {
            const int k = v.d.salrele[0];
            if (v.d.tipo < STT || v.d.tipo > AVI || !v.ok || v.d.snrele[0] == Serial{} || k < 1 || k > 2)
                continue;
            const auto e = std::find_if(ctr_.begin(), ctr_.end(), [&](const Entry &e) { return t_[e.i].d.sn == v.d.snrele[0]; });
            if (e != ctr_.end())
                e->w[k - 1] = v.value < v.d.alarma[0] ? e->w[k - 1] | 1 : v.value > v.d.alarma[1] ? 0 : e->w[k - 1];
        }
        for (const Entry &e : ctr_) {
            Tally &k = net_[t_[e.i].d.sn];
            ++k.calls, ++r_.relayWrites;
            if (!silent_)
                k.relay = e.w, ++k.writes;
        }
    }

    void tick()
    {
        ++r_.ticks;
        const qint64 begin = ms();
        bool line = false; // the rules first: reads (their answers reach the simulator), relays, the line
        for (int pass = 0; pass < 2; ++pass) { // sensors and detectors, then relay devices
            if (pass == 1)
                relays();
            for (Dev &v : t_)
                if (v.d.tipo >= STT && (v.d.tipo == CTR) == (pass == 1) && reloj_ >= v.due && !(reloj_ >= 43200 && v.due < 43200)) {
                    v.due = plus(v.due, v.d.periodo);
                    line = line || (pass == 0 && v.d.tipo != DET);
                    read(v);
                }
        }
        for (Entry &e : det_) // a detector's change since the last tick, read or not
            for (int k = 0; k < 2; ++k)
                if (t_[e.i].w[k] != e.w[k])
                    line = true, e.w[k] = t_[e.i].w[k];
        const std::int32_t now = secondsOfDay(begin + (slow_ ? 1500 : 0)), jump = now - last_;
        reloj_ = plus(reloj_, jump), last_ = now;
        if (std::abs(jump) > 3500) // a clock set or a machine that slept moves every due time
            for (Dev &v : t_)
                v.due = plus(v.due, jump);

        captured_.clear();
        monitor_->Timer1_Timer();
        check(captured_.isEmpty() != (line && capturing_), [&] { return std::string("capture line ") + (line ? "missing" : "written"); });
        check(captured_.isEmpty() || captured_ == stamp(begin), [&] { return "capture stamp " + captured_.toStdString(); });
        if (!captured_.isEmpty()) {
            if (captured_.left(10) != file_.left(10)) { // a new day: the file of the line's date, headed again
                file_ = captured_.left(10) + file_.mid(10);
                File &f = files_[file_];
                f.header = f.headers++ ? f.header : header(t_);
            }
            ++files_[file_].lines, ++r_.captureLines;
        }
        for (const Serial &sn : relays_) {
            std::int16_t w1 = -1, w2 = -1;
            const Tally &k = net_[sn];
            const long took = sim::relayWords(0, sn, w1, w2);
            check(w1 == k.relay[0] && w2 == k.relay[1] && took == k.writes, [&] {
                return "relay " + seriehex(sn).toStdString() + " took " + std::to_string(took) + " writes, the last " + std::to_string(w1) + "," + std::to_string(w2);
            });
        }
    }

    // Every device's calls so far, as its due times give them.
    void checkpoint()
    {
        long wrong = 0;
        for (const auto &[sn, k] : net_)
            wrong += sim::callCount(0, &sn, nullptr) != k.calls;
        check(wrong == 0, [&] { return std::to_string(wrong) + " devices called otherwise than their due times give"; });
    }

    // The file the start must choose: from the table's sequence number on, the
    // first whose file is free or holds the columns of the table as saved.
    bool startCapture()
    {
        ++r_.captures;
        std::vector<Dev> saved = t_;
        sortTable(saved);
        const QString date = stamp(ms()).left(10);
        const auto name = [&](const std::string &seq) { return date + u'-' + QString::fromStdString(seq) + QStringLiteral(".log"); };
        std::string seq = seq_;
        while (files_.count(name(seq)) && files_[name(seq)].header != header(saved))
            seq = QString::asprintf("%02d", (std::stoi(seq) + 1) % 100).toStdString();
        const bool save = modified_ || seq != seq_;
        ScriptedMessages asked; // Ok to the question
        const bool started = captura_->inicia(asked, [this] { return configfile::save(g_).status != configfile::SaveStatus::Failed; });
        check(started && asked.texts.size() == save && (!save || asked.texts[0].startsWith(QStringLiteral("La configuración ha sido modificada."))),
              [&] { return "capture start asked: " + asked.texts.join(QStringLiteral(" | ")).toStdString(); });
        if (save)
            seq_ = seq, t_ = saved, modified_ = false, lists(), ++r_.saves, checkConfig();
        file_ = name(seq_);
        check(g_.fichero == file_, [&] { return "capture file " + g_.fichero.toStdString() + ", expected " + file_.toStdString(); });
        File &f = files_[file_];
        f.header = f.headers ? f.header : header(t_);
        f.headers = std::max(f.headers, 1L);
        monitor_->reinicia(); // the window then resets the polling and ticks at once
        restart(false);
        capturing_ = started;
        tick();
        return true;
    }

    // Whole lines; headers of the table's columns; readings stamped with the
    // file's date, as many columns as their header, as many as were captured.
    // A line at a time through one buffer: checking a file of megabytes must
    // leave no mark on the memory the soak measures.
    void verify(const QString &name)
    {
        QFile file(g_.carpeta + name);
        check(file.open(QIODevice::ReadOnly), [&] { return "cannot read " + name.toStdString(); });
        std::array<char, 1 << 16> buffer;
        long lines = 0, bad = 0, headers = 0, columns = 0;
        for (qint64 n; (n = file.readLine(buffer.data(), buffer.size())) > 0;) {
            std::string_view line(buffer.data(), static_cast<std::size_t>(n));
            const bool whole = line.ends_with("\r\n");
            line.remove_suffix(whole ? 2 : 0);
            long fields = 1;
            for (std::size_t k = line.find("  "); k != std::string_view::npos; k = line.find("  ", k + 2))
                ++fields;
            if (whole && line.starts_with("Hora")) {
                ++headers, columns = fields;
                bad += std::hash<std::string_view>{}(line) != files_[name].header;
                continue;
            }
            ++lines;
            bad += !(whole && line.size() > 19 && line.starts_with(name.left(10).toStdString()) && line[10] == ' ' && line[13] == ':' && line[16] == ':' &&
                     fields == columns && line.find_first_of("\r\n") == std::string_view::npos && line.find("   ") == std::string_view::npos);
        }
        check(bad == 0 && lines == files_[name].lines && headers == files_[name].headers, [&] {
            return "capture file " + name.toStdString() + ": " + std::to_string(lines) + " lines and " + std::to_string(headers) + " headers (" +
                   std::to_string(bad) + " wrong), expected " + std::to_string(files_[name].lines) + " and " + std::to_string(files_[name].headers);
        });
    }

    Options o_;
    std::mt19937_64 rng_;
    TestClock clock_{QDateTime(QDate(2026, 3, 2), QTime(0, 0), Qt::UTC)}; // no daylight-saving change moves the days
    std::unique_ptr<SondaIO> io_;
    General g_;
    std::unique_ptr<Monitor> monitor_;
    std::unique_ptr<Captura> captura_;
    Report r_;
    std::multimap<qint64, std::pair<Event, qint64>> events_;
    // The model.
    std::vector<Dev> t_{Dev{}}; // t_[0] stands for entry 0
    std::string seq_ = "00";
    bool modified_ = false, silent_ = false, slow_ = false, capturing_ = false;
    std::vector<Entry> det_, ctr_;
    std::int32_t reloj_ = 0, last_ = 0; // the polling clock; the time of day of the last tick
    std::map<Serial, Tally> net_;
    std::vector<Serial> relays_; // every relay device ever in the table
    int made_ = 0;
    QString captured_, file_;
    struct File {
        std::size_t header = 0;
        long lines = 0, headers = 0;
    };
    std::map<QString, File> files_;
};

} // namespace soak
