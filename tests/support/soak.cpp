// Soak harness: the polling core, the capture writer and the configuration
// file driven through simulated days on the simulated network by a clock the
// harness steps. The program is checked against a model of the rules written
// here from the rules alone, never from the program's state: the calls each
// device gets (its due times), the relay words, the warning list, the capture
// lines (when, their time stamp and file), and the configuration file's bytes.
#include "support/soak.h"

#include "monitor/capture.h"
#include "monitor/mainview.h"
#include "monitor/monitor.h"
#include "netaccess/binding.h"
#include "registry/configfile.h"
#include "registry/general.h"
#include "support/support.h"

#include <QTemporaryDir>

#include <map>
#include <random>
#include <span>

namespace soak {

namespace {

constexpr std::uint32_t seed = 20260302;

std::int32_t plus(std::int32_t a, std::int32_t b) { return (a + b + 86400) % 86400; }
std::string typeText(std::int16_t tipo)
{
    return std::array{"", "STT", "HRT", "AVI", "DET", "CTR"}[tipo];
}

// A configured device as the model holds it, and what the network saw of it.
struct Dev {
    std::string name; // Windows-1252 bytes
    Dispositivo d; // the record as the window would hand it over
    std::int32_t due = 0;
    bool ok = false;
    std::array<std::int16_t, 4> w{}, signal{}; // the words of its last good read; what it answers
    float value = 0; // its first reading, as the relay rule sees it
    std::array<std::int16_t, 2>
        entry{}; // its index-list words: a relay's outputs, a detector's inputs captured
    long calls = 0; // its calls
};

// The configuration file: entry 0 holds the sequence number as its name; then
// 140 bytes a device, little-endian: name 16, serial 8, type, four offsets,
// four limits and four gains (floats), four 8-character units (a converter's
// only), four relay serials, four outputs, period.
QByteArray tableBytes(const std::vector<Dev> &t)
{
    const auto serial = [](const Serial &sn) {
        return QByteArray(reinterpret_cast<const char *>(sn.data()), 8);
    };
    QByteArray out = Rec().text(0, 16, "00").b;
    for (const Dev &v : std::span(t).subspan(1)) {
        const Dispositivo &d = v.d;
        Rec r = Rec()
                    .text(0, 16, QByteArray::fromStdString(v.name))
                    .raw(16, serial(d.sn))
                    .num(24, std::uint16_t(d.tipo));
        r.num(138, std::uint16_t(d.periodo));
        for (int k = 0; k < 4; ++k) {
            r.text(66 + 8 * k, 8, d.tipo == AVI ? std::array{"V", "m3 (n)", "", "\260C"}[k] : "");
            r.num(26 + 2 * k, std::uint16_t(d.ajuste[k]))
                .num(34 + 4 * k, std::bit_cast<std::uint32_t>(d.alarma[k]), 4);
            r.num(50 + 4 * k, std::bit_cast<std::uint32_t>(d.ganancia[k]), 4)
                .raw(98 + 8 * k, serial(d.snrele[k]));
            r.num(130 + 2 * k, std::uint16_t(d.salrele[k]));
        }
        out += r.b;
    }
    return out;
}

class Harness final : public MainView {
public:
    explicit Harness(int devices, int days = 1) : devices_(devices), days_(days) {}

    Report run()
    {
        QTemporaryDir dir;
        if (setup(dir.path())) {
            const qint64 end = ms() + days_ * 86400000LL + 5 * 60 * 1000;
            for (; ms() < end && r_.failures < 200; clock_.advance(capturing_ ? 1 : 3)) {
                ticked_ = false; // a capture start ticks at once
                while (!events_.empty() && events_.begin()->first <= ms())
                    events_.extract(events_.begin()).mapped()();
                if (!ticked_)
                    tick();
            }
            checkpoint();
        }
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
    void showAlarmas(const QStringList &lines) override { warnings_ = lines; }
    void setCaption(const QString &) override {}

    qint64 ms() const { return clock_.now().toMSecsSinceEpoch(); }
    static QString stamp(qint64 at)
    {
        return QDateTime::fromMSecsSinceEpoch(at, Qt::UTC)
            .toString(QStringLiteral("dd-MM-yyyy HH:mm:ss"));
    }
    static std::int32_t secondsOfDay(qint64 at)
    {
        return static_cast<std::int32_t>((at % 86400000 + 500) / 1000 % 86400);
    }
    int pick(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }
    void check(bool ok, const std::function<std::string()> &what)
    {
        ++r_.checks;
        if (!ok && ++r_.failures <= 40)
            r_.messages.push_back("[" + stamp(ms()).toStdString() + "] " + what());
    }

    // A realistic mix, relays first so that sensors can drive them, in a file
    // out of order (loading sorts it). Every sensor reads about 20 at the start, between
    // limits its drifting signal crosses both ways; now and then it drives a
    // relay output none has, or a relay device not on the table. Detectors
    // are linked to relays too, which they must not drive.
    bool setup(const QString &folder)
    {
        io_ = SondaIO::load(binFolder(), nullptr);
        if (!io_ || !sim::available())
            return false; // no checks: the test fails
        std::string network = "seed " + std::to_string(seed) + "\nport COM1 open\n";
        const int relays = std::max(2, devices_ / 10);
        for (int n = 0; n < devices_; ++n) {
            Dev &v = t_.emplace_back();
            Dispositivo &d = v.d;
            d.tipo = n < relays ? CTR : std::array{STT, STT, STT, HRT, HRT, AVI, DET, DET}[n % 8];
            d.sn = {std::array<std::uint8_t, 6>{0, 0x28, 0x26, 0x20, 0x1D, 0x3A}[d.tipo],
                    static_cast<std::uint8_t>(pick(0, 255)),
                    0xFF,
                    0,
                    static_cast<std::uint8_t>(n >> 8),
                    static_cast<std::uint8_t>(n),
                    static_cast<std::uint8_t>(pick(0, 255)),
                    0};
            v.name = (n % 7 == 0 && d.tipo == STT
                          ? "C\xE1mara\xA0"
                          : std::array{"", "Sala", "Inver", "Bomba", "Puerta", "Rel\xE9"}[d.tipo]) +
                QString::asprintf(" %04d", n).toStdString();
            d.nombre = QString::fromLatin1(v.name.c_str());
            d.periodo = static_cast<std::int16_t>(std::array{5, 10, 15, 30, 60, 120}[pick(0, 5)] *
                                                  (d.tipo == HRT ? 2 : 1));
            v.signal = std::array<std::array<std::int16_t, 4>, 6>{
                {{}, {200}, {20, 55}, {1000, 1200, 800, 1500}, {1, 1}, {}}}[d.tipo];
            network += "device " + typeText(d.tipo) + " " + seriehex(d.sn).toStdString() + "\n";
            if (d.tipo == CTR)
                continue;
            d.ajuste[0] = static_cast<std::int16_t>(d.tipo == STT ? pick(-10, 10) : 0);
            d.ganancia[0] = d.tipo == AVI ? 0.02f : 0.0f;
            d.alarma[0] = static_cast<float>(pick(180, 195)) / 10;
            d.alarma[1] = d.alarma[0] + static_cast<float>(pick(5, 40)) / 10;
            d.snrele[0] = pick(0, 40) == 0 ? Serial{0x3A, 0, 0xFF, 1}
                                           : t_[static_cast<std::size_t>(pick(1, relays))].d.sn;
            const int k = pick(0, 40);
            d.salrele[0] = static_cast<std::int16_t>(k < 3 ? std::array{0, 3, -1}[k] : 1 + k % 2);
        }
        std::shuffle(t_.begin() + 1, t_.end(), rng_);
        g_.appFolder = folder;
        g_.nombrepuerto = QStringLiteral("COM1");
        g_.carpeta = folder + QStringLiteral("/1/");
        check(sim::load(network.c_str()) == 0 &&
                  io_->IniciarCNX(g_.puerto, g_.nombrepuerto, g_.mensaje) > 0,
              [] { return std::string("the simulated network did not open"); });
        QFile f(g_.configPath());
        check(f.open(QIODevice::WriteOnly) && f.write(tableBytes(t_)) > 0 && f.flush(),
              [] { return std::string("no first file"); });
        monitor_ = std::make_unique<Monitor>(g_, io_.get(), clock_, *this);
        captura_ = std::make_unique<Captura>(g_, clock_);
        monitor_->onFatal = [this](const QString &text) {
            check(false, [&] { return "fatal: " + text.toStdString(); });
        };
        monitor_->onCapture = [this](const QString &hora) {
            captured_ = hora;
            const Captura::Escritura w = captura_->escribe(hora);
            check(w.estado == Captura::Estado::Escrito,
                  [&] { return "capture line not written: " + w.mensaje.toStdString(); });
        };
        load();
        // Each day: captures (one across midnight), a save and reload, the
        // clock set forward (with the tick 3 s later: by exactly 3500 s, by
        // 3501 s, by two hours), set back 24 s and two minutes, suspended five
        // hours, set back during the capture across midnight.
        for (int day = 0; day < days_; ++day) {
            const auto at = [&](int h, int m, int s, std::function<void()> event) {
                events_.emplace(ms() + ((day * 24 + h) * 3600 + m * 60 + s) * 1000LL,
                                std::move(event));
            };
            for (const auto &[h, m, stopH, stopM] : {std::array{1, 30, 1, 40},
                                                     {6, 0, 6, 10},
                                                     {14, 0, 14, 10},
                                                     {21, 45, 21, 55},
                                                     {23, 57, 24, 3}})
                at(h, m, 0, [this] { startCapture(); }),
                    at(stopH, stopM, 0, [this] { captura_->stop(), capturing_ = false; });
            at(12, 0, 0, [this] { saveAndLoad(); }), at(23, 59, 59, [this] { slow_ = true; });
            for (const auto &[h, m, seconds] : {std::array{3, 0, 3497},
                                                {4, 30, 3498},
                                                {8, 30, 7200},
                                                {11, 0, -120},
                                                {13, 0, -27},
                                                {16, 30, 18000},
                                                {24, 1, -3600}})
                at(h, m, 0,
                   [this, seconds = seconds] { clock_.set(clock_.now().addSecs(seconds)); });
            for (int h = 1; h <= 24; ++h)
                at(h, 0, 1, [this] { checkpoint(); });
        }
        return true;
    }

    // The window's load: the table sorted by type text and name, byte by
    // byte (marked modified when the file was not), the index lists rebuilt,
    // valid readings of all-zero words, the polling clock at 0. A capture
    // start only resets readings and clock.
    void load()
    {
        configfile::ReadResult file = configfile::read(g_.configPath());
        check(file.status == configfile::Status::Loaded && file.message.isEmpty(),
              [&] { return "not loaded: " + file.message.toStdString(); });
        configfile::apply(g_, std::move(file.table));
        g_.reloj = 0;
        g_.ultimo = secondsOfDay(ms());
        const QByteArray before = tableBytes(t_);
        std::stable_sort(t_.begin() + 1, t_.end(),
                         [](const Dev &a, const Dev &b) { // strings compare as unsigned bytes
                             return typeText(a.d.tipo) + a.name < typeText(b.d.tipo) + b.name;
                         });
        modified_ = tableBytes(t_) != before;
        lists();
        restart(true);
    }
    void lists()
    {
        ctr_.clear();
        for (int i = 1; i < static_cast<int>(t_.size()); ++i) {
            t_[i].entry = {};
            if (t_[i].d.tipo == CTR)
                ctr_.push_back(i);
        }
    }
    void restart(bool loaded)
    {
        for (Dev &v : t_)
            v.due = 0, v.ok = loaded, v.w = {}, v.value = 0;
        reloj_ = 0, last_ = secondsOfDay(ms());
    }

    // The window's save (of a modified table only), then its load.
    void saveAndLoad()
    {
        const configfile::SaveResult s = configfile::save(g_);
        using enum configfile::SaveStatus;
        check(s.status == (modified_ ? Saved : NothingToDo),
              [&] { return "save: " + s.message.toStdString(); });
        checkConfig();
        load();
    }
    void checkConfig()
    {
        QFile f(g_.configPath());
        const QByteArray expected = tableBytes(t_),
                         actual = f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
        check(actual == expected, [] { return std::string("configuration file wrong"); });
    }

    // The harness answers for the device: one read in ten fails, the others
    // give its signal one step on, told to the simulator before the program reads.
    void read(Dev &v)
    {
        v.calls += v.d.tipo == AVI ? 2 : 1; // a converter takes its set-up first
        const bool fail = pick(0, 9) == 0;
        if (v.d.tipo == CTR) { // read after its write, never failing: its outputs as inputs
            v.ok = true, v.w = {v.entry[0], v.entry[1]};
            return;
        }
        sim::failRate(0, v.d.sn, fail ? 1.0 : 0.0);
        if (!(v.ok = !fail))
            return;
        std::array<std::int16_t, 4> &w = v.signal;
        const auto step = [&](int i, int by, int lo, int hi) {
            w[i] = static_cast<std::int16_t>(std::clamp(w[i] + pick(-by, by), lo, hi));
        };
        for (int i = 0; i < (v.d.tipo == AVI ? 4 : v.d.tipo == DET ? 2 : 0); ++i)
            v.d.tipo == AVI ? step(i, 30, 600, 1400) : void(w[i] = pick(0, 19) == 0 ? !w[i] : w[i]);
        v.d.tipo == STT       ? step(0, 3, 130, 270)
            : v.d.tipo == HRT ? (step(0, 1, 14, 28), step(1, 2, 25, 95))
                              : void();
        sim::setWords(0, v.d.sn, w[0], w[1], w[2], w[3]);
        v.w = w;
        v.value = v.d.tipo == STT
            ? static_cast<float>((v.d.ajuste[0] + w[0]) / 10.0) // tenths of a degree
            : static_cast<float>(w[0]) * (v.d.tipo == AVI ? v.d.ganancia[0] : 1.0f);
    }

    // Hysteresis on the relay list's words (on below the minimum, off above
    // the maximum, held on the limits), then every relay of the list written.
    void relays()
    {
        for (const Dev &v : t_) {
            const int k = v.d.salrele[0];
            if (v.d.tipo < STT || v.d.tipo > AVI || !v.ok || k < 1 || k > 2)
                continue;
            const auto relay = std::find_if(ctr_.begin(), ctr_.end(),
                                            [&](int i) { return t_[i].d.sn == v.d.snrele[0]; });
            if (relay == ctr_.end())
                continue;
            std::int16_t &w = t_[*relay].entry[k - 1];
            w = v.value < v.d.alarma[0] ? w | 1 : v.value > v.d.alarma[1] ? 0 : w;
        }
        for (const int i : ctr_)
            ++t_[i].calls;
        ++relayPasses_;
    }

    void tick()
    {
        ++r_.ticks;
        ticked_ = true;
        const qint64 begin = ms();
        bool line =
            false; // the rules first: reads (their answers reach the simulator), relays, the line
        for (int pass = 0; pass < 2; ++pass) { // sensors and detectors, then relay devices
            if (pass == 1)
                relays();
            for (Dev &v : t_)
                if (v.d.tipo >= STT && (v.d.tipo == CTR) == (pass == 1) && reloj_ >= v.due &&
                    !(reloj_ >= 43200 && v.due < 43200)) {
                    v.due = plus(v.due, v.d.periodo);
                    line = line || (pass == 0 && v.d.tipo != DET);
                    read(v);
                }
        }
        for (Dev &v : t_) // a detector's change since the last tick, read or not
            if (v.d.tipo == DET && (v.w[0] != v.entry[0] || v.w[1] != v.entry[1]))
                line = true, v.entry = {v.w[0], v.w[1]};
        const std::int32_t now = secondsOfDay(begin + (slow_ ? 1500 : 0)), jump = now - last_;
        reloj_ = plus(reloj_, jump), last_ = now;
        if (jump < 0 ||
            jump > 3500) // a clock set back, set on or a machine that slept moves every due time
            for (Dev &v : t_)
                v.due = plus(v.due, jump);

        captured_.clear();
        monitor_->Timer1_Timer();
        check(captured_.isEmpty() != (line && capturing_),
              [&] { return std::string("capture line ") + (line ? "missing" : "written"); });
        check(captured_.isEmpty() || captured_ == stamp(begin),
              [&] { return "capture stamp " + captured_.toStdString(); });
        // The line goes to the file of its own date, also when the tick ended after midnight.
        check(captured_.isEmpty() || g_.fichero == captured_.left(10) + QLatin1String("-00.log"),
              [&] { return "line in " + g_.fichero.toStdString(); });
        r_.captureLines += !captured_.isEmpty();
        check(warnings_ == warnings(), [] { return std::string("warning list"); });
        for (const int i : ctr_) {
            std::int16_t w1 = -1, w2 = -1;
            const long took = sim::relayWords(0, t_[i].d.sn, w1, w2);
            check(std::tuple(w1, w2, took) ==
                      std::tuple(t_[i].entry[0], t_[i].entry[1], relayPasses_),
                  [&] { return "relay " + t_[i].name; });
        }
    }

    // In table order: each sensor with a relay output (damaged or not) whose
    // last good value is outside its limits; each input of 0 of a detector or
    // relay device whose last reading was good.
    QStringList warnings() const
    {
        QStringList out;
        for (const Dev &v : t_) {
            const QString name = QString::fromLatin1(v.name.c_str());
            for (int k = 0; k < 2 && v.ok && (v.d.tipo == DET || v.d.tipo == CTR); ++k)
                if (v.w[k] == 0)
                    out << name + QStringLiteral(" - ") + QString::number(k + 1);
            if (v.d.tipo >= STT && v.d.tipo <= AVI && v.d.salrele[0] != 0 &&
                (v.value < v.d.alarma[0] || v.value > v.d.alarma[1]))
                out << name;
        }
        return out;
    }

    // Every device's calls so far, as its due times give them.
    void checkpoint()
    {
        const long wrong = std::count_if(t_.begin() + 1, t_.end(), [](const Dev &v) {
            return sim::callCount(0, &v.d.sn, nullptr) != v.calls;
        });
        check(wrong == 0, [&] {
            return std::to_string(wrong) + " devices called otherwise than their due times give";
        });
    }

    // The first start saves the table loading sorted; each start resets the
    // polling and ticks at once, as the window does.
    void startCapture()
    {
        ScriptedMessages asked; // Ok to the question to save
        const bool started = captura_->start(
            asked, [this] { return configfile::save(g_).status == configfile::SaveStatus::Saved; });
        check(started, [] { return std::string("capture not started"); });
        if (std::exchange(modified_,
                          false)) // saved: the index lists rebuilt, their words back to 0
            lists(), checkConfig();
        monitor_->reinicia();
        restart(false);
        capturing_ = started;
        tick();
    }

    const int devices_, days_;
    std::mt19937_64 rng_{seed};
    TestClock clock_{QDateTime(QDate(2026, 3, 2), QTime(0, 0),
                               Qt::UTC)}; // no daylight-saving change moves the days
    std::unique_ptr<SondaIO> io_;
    General g_;
    std::unique_ptr<Monitor> monitor_;
    std::unique_ptr<Captura> captura_;
    Report r_;
    std::multimap<qint64, std::function<void()>> events_;
    // The model.
    std::vector<Dev> t_{Dev{}}; // t_[0] stands for entry 0
    std::vector<int> ctr_; // the relay list: table indices
    std::int32_t reloj_ = 0, last_ = 0; // the polling clock; the time of day of the last tick
    long relayPasses_ = 0; // every relay of the list is written on each
    bool modified_ = false, slow_ = false, capturing_ = false, ticked_ = false;
    QString captured_;
    QStringList warnings_;
};

} // namespace

Report run(int devices, int days) { return Harness(devices, days).run(); }

} // namespace soak
