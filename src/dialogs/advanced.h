// The rules of the advanced properties window, apart from its widgets: what
// each device type shows in the ten property slots, how the typed texts go
// back into the record, the sampling period and the relay action list.
#pragma once

#include "registry/dispositivo.h"

#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>
#include <optional>
#include <vector>

constexpr int kSlots = 10;

// One property slot as the window opens: its caption and its text.
struct Propiedad {
    int slot = 0;
    QString titulo;
    QString valor;
};

// The slots the record's type shows (STT 0..2, HRT 0..1, AVI 0..9), filled
// from the record; none for the other types.
std::vector<Propiedad> propiedades(const Dispositivo &d);

// STT, HRT and AVI have a sampling period and a relay action; DET and CTR not.
bool tieneAccion(std::int16_t tipo);

// Reads the slot texts back into the record for its type, the upper alarm
// raised to the lower one when below it. A text left as propiedades showed
// it keeps the stored value unchanged. A value that does not fit its field
// (an offset whose tenths overflow a 16-bit word, an alarm or gain beyond
// single precision, NaN or infinite, typed or stored) refuses the whole lot:
// the result is then the message naming the field, and the record is left
// as it was.
std::optional<QString> leePropiedades(Dispositivo &d, const std::array<QString, kSlots> &textos);

// The sampling period typed in the box: its magnitude, rounded half to even,
// at least 1. `tope` tells that the magnitude was beyond 32767 and the box
// must show "32767".
struct Periodo {
    std::int16_t periodo = 1;
    bool tope = false;
};
Periodo reglaPeriodo(const QString &texto);

// Relay action list: "Ninguno", "Avisar", then two entries per relay device,
// one per output.
QString entradaRele(const QString &nombre, const QString &impreso, int salida);

// Which entry shows the record's stored relay (printable serial, output),
// given the printable serials of the relay devices in table order. A stored
// pair outside the encoding (no relay with an output other than 0 or 1, a
// relay with an output other than 1 or 2) or a relay that is no longer in the
// table shows "Ninguno" and counts as edited; `falta` tells the latter,
// which the window reports.
struct SeleccionRele {
    int indice = 0;
    bool editado = false;
    bool falta = false;
};
SeleccionRele seleccionRele(const QString &impreso, std::int16_t salida, const QStringList &reles);

// The stored pair for the selected entry (index, text); empty when nothing
// is selected.
struct Rele {
    Serial sn{};
    std::int16_t salida = 0;
};
std::optional<Rele> releDeEntrada(int indice, const QString &texto);
