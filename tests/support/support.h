// Helpers shared by the tests: a kept-on-failure temporary folder, a clock
// the test steps, scripted message boxes, the simulator's test controls.
#pragma once

#include "platform/clock.h"
#include "platform/messages.h"
#include "registry/general.h"
#include "simcontrol.h"

#include <QStringList>
#include <bit>
#include <deque>
#include <functional>
#include <ostream>
#include <utility>

// Readable failures: texts print as text.
inline void PrintTo(const QString &text, std::ostream *os)
{
    *os << '"' << text.toStdString() << '"';
}

// The folder the test programs, the program and the simulator library share.
QString binFolder();

// A program of this build run to its end: its exit code (-1: it crashed)
// and all it wrote; as the database role `user` when one is given.
std::pair<int, QString> runProgram(const char *program, const QStringList &args,
                                   const QString &user = {});

// A fresh folder per test, removed when the test passes and kept (its path
// printed) when it fails, so the evidence stays.
struct TempFolder {
    TempFolder();
    ~TempFolder();
    const QString &path() const { return path_; }
    QString file(const QString &name) const;
    QByteArray read(const QString &name) const;
    void write(const QString &name, const QByteArray &bytes) const;
    QString path_;
};

// Bytes added to the end of a file, as a program capturing into it adds them.
void append(const QString &path, const QByteArray &bytes);

struct TestClock final : Clock {
    explicit TestClock(QDateTime start = QDateTime(QDate(2026, 12, 7), QTime(10, 0, 0)))
        : now_(start)
    {
    }
    QDateTime now() const override { return now_; }
    double elapsed() const override { return elapsed_; }
    void set(const QDateTime &t) { now_ = t; }
    void advance(double seconds)
    {
        now_ = now_.addMSecs(static_cast<qint64>(seconds * 1000));
        elapsed_ += seconds;
    }
    QDateTime now_;
    double elapsed_ = 0;
};

// Answers message boxes from a script (Ok/Yes, Cancel to a retry question,
// when the script is empty) and records every text shown. whileShown runs
// while a box is up, as the window's events do under a real one.
struct ScriptedMessages final : Messages {
    Answer show(const QString &text, Buttons buttons = Buttons::Ok,
                Icon icon = Icon::None) override;
    void answer(Answer a) { answers.push_back(a); }
    std::deque<Answer> answers;
    QStringList texts;
    std::deque<Buttons> buttons;
    std::function<void(const QString &)> whileShown;
    // When set, the box is shown by it and answered by the user's keys.
    Messages *real = nullptr;
};

// The simulator's test exports, resolved by name from the library in the
// program's folder (the program itself never calls them).
namespace sim {
// Throws when the library or the control is missing.
QFunctionPointer resolve(const char *name);
// A control by its name, typed as simcontrol.h declares it.
#define SIM(name) reinterpret_cast<decltype(&name)>(sim::resolve(#name))
bool available();
inline int load(const char *description) { return SIM(SimLoad)(description); }
inline int setWords(int port, const Serial &sn, std::int16_t w0, std::int16_t w1 = 0,
                    std::int16_t w2 = 0, std::int16_t w3 = 0)
{
    return SIM(SimSetWords)(port, sn.data(), w0, w1, w2, w3);
}
inline int failRate(int port, const Serial &sn, double rate)
{
    return SIM(SimSetFailRate)(port, sn.data(), rate);
}
inline void silent(int port, bool on) { SIM(SimSetPortSilent)(port, on ? 1 : 0); }
inline int addDevice(int port, int tipo, const Serial &sn)
{
    return SIM(SimAddDevice)(port, tipo, sn.data());
}
inline long relayWords(int port, const Serial &sn, std::int16_t &out1, std::int16_t &out2)
{
    return SIM(SimRelayWords)(port, sn.data(), &out1, &out2);
}
inline long callCount(int port, const Serial *sn, const char *call)
{
    return SIM(SimCallCount)(port, sn ? sn->data() : nullptr, call);
}
// Runs for every network call, named, after its latency; empty ends it.
void onCall(std::function<void(const char *)> hook);
}

// Takes write access to a folder and its files away for real, as a file
// made read-only would. Root writes through any permission, so as root the
// process runs meanwhile under another user's identity (effective only:
// root is regained by abre, at the latest when the object goes).
struct SinEscritura {
    explicit SinEscritura(QString folder) : folder_(std::move(folder)) {}
    ~SinEscritura() { abre(); }
    // False when access cannot be taken away here.
    bool cierra();
    void abre();
    QString folder_;
    bool root_ = false;
    bool cerrado_ = false;
};

// The test acts as an ordinary user meanwhile, since root reads and writes
// through any permission: as root the effective identity becomes another
// user's (root is regained when the object goes) and the folder is opened
// to it. Nothing changes for an ordinary user, nor on Windows.
struct ComoUsuario {
    explicit ComoUsuario(const QString &folder);
    ~ComoUsuario();
    bool root_ = false;
};

// A device with its latest reading, as the list, capture and viewer tests
// describe them. Texts are UTF-8; a null unit is blank.
struct TestDevice {
    std::int16_t tipo;
    const char *nombre;
    bool valido = true;
    std::array<float, 4> lectura{};
    std::array<std::int16_t, 4> crudo{};
    std::array<const char *, 4> magnitud{};
};

// Appends the device to the table with its reading; returns its index.
int addDevice(General &g, const TestDevice &d);

// One 140-byte record of a configuration file laid out by hand, never by the
// writer under test: fields at their offsets, numbers little-endian.
struct Rec {
    QByteArray b = QByteArray(140, '\0');
    Rec &raw(int off, const QByteArray &s) { return b.replace(off, s.size(), s), *this; }
    Rec &text(int off, int width, const QByteArray &s)
    {
        return raw(off, s.leftJustified(width, ' ', true));
    }
    Rec &num(int off, std::uint32_t v, int width = 2)
    {
        for (int k = 0; k < width; ++k)
            b[off + k] = char(v >> 8 * k);
        return *this;
    }
    Rec &real(int off, float v) { return num(off, std::bit_cast<std::uint32_t>(v), 4); }
    // A device's record: its name, type and serial (16 hex digits; none when empty).
    static Rec device(const QByteArray &name, int tipo, const QByteArray &serial = {})
    {
        return Rec()
            .text(0, 16, name)
            .num(24, std::uint16_t(tipo))
            .raw(16, QByteArray::fromHex(serial));
    }
};

// A text of a capture file written here in UTF-8: its "º" is the file's one
// Windows-1252 byte.
inline QByteArray w1252(const char *utf8) { return QByteArray(utf8).replace("\xC2\xBA", "\xBA"); }

// A number as the shortest text that reads back to it; NaN (a reading's
// ERR) as "ERR".
std::string shortest(double v);

// Polls until `done` or a minute has gone by, far beyond any normal wait;
// returns `done` then.
bool waitUntil(const std::function<bool()> &done, int pollMs = 50);

// A serial from its 16 hex digits (test shorthand).
inline Serial sn(const char *hex) { return hexserie(QString::fromLatin1(hex)); }
