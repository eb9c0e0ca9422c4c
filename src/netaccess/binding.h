// The network access library as the program calls it: loaded by file name
// from the program's own folder, its twelve calls typed over the program's
// own records, text buffers copied back after every call. On Windows a
// library of the other width (the maker's 32-bit one) is served by a bridge
// process; the calls stay the same.
#pragma once

#include "registry/dispositivo.h"

#include <QString>
#include <array>
#include <cstdint>
#include <memory>

class LibraryCalls;

class SondaIO {
public:
    using Words = std::array<std::int16_t, 4>;
    using SearchBuffer = std::array<std::uint8_t, 8 * 101>;

    // The library's file name in the program's folder.
    static QString fileName();
    // Loads the library from the folder and resolves every call. On failure
    // returns null and a Spanish message naming the file (and the call).
    static std::unique_ptr<SondaIO> load(const QString &folder, QString *error);

#ifdef _WIN32
    // How a library is reached through a bridge process.
    struct Bridge {
        QString program; // the bridge's executable
        int answerMs = 20000; // a call unanswered by then ends the bridge and fails
    };
    // The bridge beside the program for a 32-bit library.
    static QString bridgeFileName();
    // Through a bridge whatever the library's width (the tests run the
    // 64-bit bridge on the 64-bit simulator).
    static std::unique_ptr<SondaIO> loadBridged(const QString &folder, const Bridge &bridge,
                                                QString *error);
#endif
    // The bridge's process id; 0 when the library runs in this process.
    unsigned long bridgeProcess() const;

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
    explicit SondaIO(std::unique_ptr<LibraryCalls> calls);
    std::unique_ptr<LibraryCalls> calls_;
};
