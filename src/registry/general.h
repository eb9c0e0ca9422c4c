// The shared state of one run (the device table, the readings kept in step
// with it, the index lists, the working record, the connection and capture
// state) and the small functions every window uses on it.
#pragma once

#include "registry/dispositivo.h"

#include <QString>
#include <cstdint>
#include <vector>

class General {
public:
    General();

    // Devices are entries 1..n; entry 0 holds the capture sequence number.
    std::vector<Dispositivo> dispositivos;
    // One reading block per table entry, same index.
    std::vector<EstadoDisp> estados;
    std::vector<IndiceEntry> lstdet;
    std::vector<IndiceEntry> lstctr;
    Dispositivo dispactual;
    bool modificado = false;
    // The port's configuration file was there but the last load could not
    // read it: a save must not replace it unasked.
    bool configSinLeer = false;

    // Connection.
    std::int16_t puerto = 0;
    bool conectado = false;
    QString nombrepuerto;
    FixedText<100> mensaje; // zero bytes until the library writes it

    // Program folder and polling.
    QString appFolder;
    QString separador = QStringLiteral("  ");
    int intervalo = 3000; // saved polling interval, ms
    std::int32_t reloj = 0; // polling clock, seconds 0..86399
    std::int32_t ultimo = 0; // last tick time, whole seconds since midnight

    // Capture.
    QString carpeta; // capture folder, with its trailing separator
    QString fichero; // capture file name; empty while no capture runs

    // Advanced dialog.
    bool editado = false;
    std::int16_t tipoorig = 0;

    // Highest device index (0 for an empty table).
    int n() const { return static_cast<int>(dispositivos.size()) - 1; }
    bool valid(int i) const { return i >= 1 && i <= n(); }

    // Resets the table to entry 0 alone, "00" as sequence number.
    void vacia();

    // Table operations; the callers keep the list and the index lists.
    // nuevo returns the new index, or 0 when the table is full.
    int nuevo();
    void modifica(int i);
    void borra(int i);
    void ordena();
    void cogereldet();

    // Capture sequence number held in entry 0's name.
    QString secuencia() const { return trimBlanks(dispositivos[0].nombre.text()); }

    QString configPath() const;
};

Serial hexserie(const QString &text);
std::int16_t codtipo(const QString &text);
QString nomtipo(std::int16_t code);
QString txtestado(std::int16_t word);
// Upper-case hex of the 8 bytes, byte 0 first (the program's own printable form).
QString seriehex(const Serial &sn);
// Adds delta seconds to acc modulo one day; a negative delta is made
// positive in the caller's variable first.
void sumatiempo(std::int32_t &acc, std::int32_t &delta);
