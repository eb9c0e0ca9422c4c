// The network access library as the program calls it: loaded by file name
// from the program's own folder, its twelve calls typed over the program's
// own records, text buffers copied back after every call.
#pragma once

#include "registry/dispositivo.h"

#include <QString>
#include <array>
#include <cstdint>
#include <memory>

class SondaIO {
public:
    using Words = std::array<std::int16_t, 4>;
    using SearchBuffer = std::array<std::uint8_t, 8 * 101>;

    // The library's file name in the program's folder.
    static QString fileName();
    // Loads the library from the folder and resolves every call. On failure
    // returns null and a Spanish message naming the file (and the call).
    static std::unique_ptr<SondaIO> load(const QString &folder, QString *error);

    std::int16_t IniciarCNX(std::int16_t port, const QString &portName, FixedText<100> &mensaje);
    std::int16_t FinalizarCNX(std::int16_t port, FixedText<100> &mensaje);
    // The reading calls hand the library a reading block that starts with the
    // current words, so a failed call leaves them as they were.
    std::int16_t LeerTemperatura(std::int16_t port, Serial &sn, Words &words);
    std::int16_t LeerHRT(std::int16_t port, Serial &sn, Words &words);
    std::int16_t SetupAD(std::int16_t port, Serial &sn, std::array<std::int16_t, 4> &ajuste);
    std::int16_t LeerAD(std::int16_t port, Serial &sn, Words &words);
    std::int16_t LeerDET(std::int16_t port, Serial &sn, Words &words);
    std::int16_t EscribirCTR(std::int16_t port, Serial &sn, std::int16_t out1, std::int16_t out2);
    std::int16_t BuscarSensoresTra(std::int16_t port, SearchBuffer &buffer);
    std::int16_t BuscarConversoresAD(std::int16_t port, SearchBuffer &buffer);
    std::int16_t BuscarDetectores(std::int16_t port, SearchBuffer &buffer);
    // The 16-character printable serial.
    QString ConvertSerialNum(Serial &sn);

    ~SondaIO();
    SondaIO(const SondaIO &) = delete;
    SondaIO &operator=(const SondaIO &) = delete;

private:
    struct Calls;
    explicit SondaIO(std::unique_ptr<Calls> calls);
    std::unique_ptr<Calls> calls_;
};
