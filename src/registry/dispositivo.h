// The device record, its reading block and the index-list entry: the shapes
// every part of the program shares.
#pragma once

#include "registry/fixedtext.h"

#include <array>
#include <cstdint>

// A 64-bit serial number as its 8 raw bytes, byte 0 first; all zero = none.
using Serial = std::array<std::uint8_t, 8>;

inline bool isZero(const Serial &sn)
{
    for (const auto b : sn)
        if (b != 0)
            return false;
    return true;
}

enum Tipo : std::int16_t { STT = 1, HRT = 2, AVI = 3, DET = 4, CTR = 5 };

// One configured device. The configuration file stores these fields packed in
// this order (140 bytes); the in-memory layout is the compiler's.
struct Dispositivo {
    FixedText<16> nombre;
    Serial sn{};
    std::int16_t tipo = 0;
    std::array<std::int16_t, 4> ajuste{};
    std::array<float, 4> alarma{};
    std::array<float, 4> ganancia{};
    std::array<FixedText<8>, 4> magnitud;
    std::array<Serial, 4> snrele{};
    std::array<std::int16_t, 4> salrele{};
    std::int16_t periodo = 0;

    bool operator==(const Dispositivo &) const = default;
};

// The latest reading of one device, same index as its table entry.
struct EstadoDisp {
    std::array<std::int16_t, 4> crudo{}; // W0..W3 as the library returned them
    bool valido = false;
    std::array<float, 4> lectura{};
    std::int32_t proxima = 0; // next due time on the polling clock, 0..86399
};

// An entry of the detector or relay index list.
struct IndiceEntry {
    std::int16_t indice = 0;
    std::array<std::int16_t, 2> estado{}; // estado[1..2], held at 0..1
};

constexpr int maxDispositivos = 32767;
