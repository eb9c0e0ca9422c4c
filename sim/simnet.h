// The simulated network: ports, devices, their signals and the reader of the
// network description. The exported calls (sondaio_sim.cpp) work on one
// Network under one mutex; nothing here locks or sleeps.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace simnet {

constexpr int kPorts = 4;
// As many devices as the program's table holds; every search count stays
// inside int16.
constexpr int kMaxDevicesPerPort = 32767;
constexpr int kMaxLatencyMs = 60000;

enum class Kind : std::int16_t { STT = 1, HRT = 2, AVI = 3, DET = 4, CTR = 5 };

// Call names as the program resolves them; the index of SimCallCount's tallies.
enum Call {
    kIniciarCNX,
    kFinalizarCNX,
    kLeerTemperatura,
    kLeerHRT,
    kSetupAD,
    kLeerAD,
    kLeerDET,
    kEscribirCTR,
    kBuscarSensoresTra,
    kBuscarConversoresAD,
    kBuscarDetectores,
    kCallKinds
};
extern const char *const kCallNames[kCallKinds];

using Serial = std::array<unsigned char, 8>;
using Words = std::array<std::int16_t, 4>;
using Tally = std::array<long, kCallKinds>;

struct Device {
    Kind kind = Kind::STT;
    Serial sn{};
    std::array<int, 4> base{}; // centre of the wander band
    std::array<int, 4> value{}; // current signal
    int drift = 0; // how far the signal may wander from base
    double toggle = 0; // DET: chance per read that an input flips
    double fail = 0; // share of failing reads
    bool fixed = false; // words below replace the signal
    Words words{};
    std::array<std::int16_t, 2> relay{}; // CTR: what EscribirCTR last wrote
    long relayWrites = 0;
    Words setup{}; // AVI: what SetupAD last wrote
    Tally calls{};
    std::uint64_t rng = 0; // own stream: a device's values do not depend on
        // how the program interleaves its other devices
};

struct Port {
    bool refuses = true; // IniciarCNX answers with `message` and fails
    bool silent = false; // nothing answers, not even IniciarCNX
    bool open = false;
    std::string message;
    std::vector<Device> devices;
    Tally calls{}; // IniciarCNX, FinalizarCNX, searches
    std::map<Serial, Tally> strangers; // calls naming a serial not on the port
    // Serial -> position in `devices`, so a call on a port of thousands of
    // devices finds its device at once. Rebuilt when `devices` changed.
    std::unordered_map<std::uint64_t, std::size_t> index;
    bool indexStale = true;
};

struct Network {
    std::uint32_t seed = 1;
    int latencyMs = 0;
    std::string callLog; // file the calls are written to; relative = beside the library
    std::array<Port, kPorts> ports;
};

// Reads a description. Returns 0, or the number of the first line it cannot
// read; `out` is then a network whose ports all refuse, naming that line.
int parse(std::string_view text, Network &out);
// The network used when there is no description file beside the library.
extern const char kDemoDescription[];

Device makeDevice(Kind kind, const Serial &sn);
// Restarts every device's random stream from the seed.
void reseed(Network &net, std::uint32_t seed);
void seedDevice(Device &d, std::uint32_t seed, int port);
// One read: draws a failure, else moves the signal and gives its words.
bool read(Device &d, Words &out);
// Which search call finds the device.
Call searchOf(Kind kind);

} // namespace simnet
