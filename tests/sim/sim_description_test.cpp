// The network description users write for the simulator (sim/network.md):
// the line of the first fault is reported, a bad description opens no port,
// and the keys read back as the devices' behaviour. The simulator's calls are
// exercised through the binding by the core, window and end-to-end tests.
#include "netaccess/binding.h"
#include "support/support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <tuple>

TEST(SimDescription, FirstBadLineIsReportedAndNoPortOpens)
{
    QString error;
    const auto io = SondaIO::load(binFolder(), &error);
    ASSERT_TRUE(io) << error.toStdString();
    const std::pair<const char *, int> rows[] = {
        {"# net\r\n\tPORT\tcom1\tOPEN \v\f # office\r\ndevice det 0a0b0c0d0e0f1011 WORDS 1 -2 3 -4 "
         "\r\nport COM2 silent\nport COM3 refuse",
         0},
        {"\xEF\xBB\xBFseed 4294967295\nlatency 0\nport COM1 open\ndevice DET 0A0B0C0D0E0F1011 "
         "toggle 1 fail 0 words -32768 32767 0 0",
         0},
        {"port COM1 refuse Cable desconectado: revise la conexión # why\n",
         0}, // in the library's Windows-1252
        {"device STT 0100000000000001\n", 1}, // no port before it
        {"port COM5 open\n", 1},
        {"port COMX open\n", 1},
        {"port COM1 opened\n", 1},
        {"seed 4294967296\n", 1},
        {"latency 60001\n", 1},
        {"port COM1 open\nfrobnicate\n", 2},
        {"port COM1 open\nport COM1 silent\n", 2},
        {"port COM1 open\ndevice STT 010000000000000G\n", 2},
        {"port COM1 open\ndevice STT 010000000000001\n", 2},
        {"port COM1 open\ndevice XYZ 0100000000000001\n", 2},
        {"port COM1 open\ndevice STT -100000000000000\n", 2},
        {"calllog   # no file\n", 1},
        // Every range at both of its ends (one past an end: the device lines below).
        {"latency 60000\nlatency 0\nport COM1 open\ndevice STT 0100000000000001 value -550 drift 0 "
         "fail 0\ndevice STT 0100000000000002 value 1250 "
         "drift 32767 fail 1\ndevice HRT 0100000000000003 value -40 0\ndevice HRT 0100000000000004 "
         "value 125 100\ndevice AVI 0100000000000005 "
         "value 0 0 32767 32767\ndevice DET 0100000000000006 value -32768 32767 toggle 0",
         0},
        {"seed -1\n", 1},
        {"latency -1\n", 1},
        {"port COM1 open\ndevice STT 0100000000000001\ndevice DET 0100000000000001\n", 3},
        {"# comment\r\n\r\nport COM1 open\r\nbogus\r\n", 4},
    };
    // Device lines that are bad for a key alone: one past an end of a range, a
    // key of another type, a wrong count, not a number.
    for (const std::string bad : {"STT value -551",        "STT value 1251",
                                  "HRT value -41 0",       "HRT value 126 0",
                                  "HRT value 0 -1",        "HRT value 0 101",
                                  "AVI value -1 0 0 0",    "AVI value 0 0 0 32768",
                                  "DET value -32769 0",    "DET value 0 32768",
                                  "STT drift -1",          "AVI drift 32768",
                                  "HRT drift 40000",       "DET drift 2",
                                  "HRT fail -0.001",       "STT fail 1.001",
                                  "STT fail nan",          "DET toggle -0.001",
                                  "DET toggle 2",          "CTR words -32769 0 0 0",
                                  "STT words 1 2 3 40000", "STT value 200 201",
                                  "STT value 20x"})
        EXPECT_EQ(sim::load(("port COM1 open\ndevice " + bad.substr(0, 3) + " 0100000000000001" +
                             bad.substr(3))
                                .c_str()),
                  2)
            << bad;
    for (const auto &[text, line] : rows) {
        EXPECT_EQ(sim::load(text), line) << text;
        FixedText<100> mensaje;
        const bool refused = std::strstr(text, "COM1 refuse");
        EXPECT_EQ(io->IniciarCNX(0, QStringLiteral("COM1"), mensaje) > 0, line == 0 && !refused)
            << text;
        const QString bad =
            QStringLiteral(
                "No se puede abrir el puerto COM1: descripción de red no válida (línea %1)")
                .arg(line);
        EXPECT_EQ(mensaje.text(),
                  (line          ? bad
                       : refused ? QStringLiteral("Cable desconectado: revise la conexión")
                                 : QString())
                      .leftJustified(100, QChar(0)))
            << text;
    }
    // A detector input that toggles at every read.
    Serial serial = sn("0A0B0C0D0E0F1011");
    SondaIO::Words words{};
    FixedText<100> mensaje;
    ASSERT_EQ(sim::load("port COM1 open\ndevice DET 0A0B0C0D0E0F1011 value 0 1 toggle 1\n"), 0);
    EXPECT_TRUE(io->IniciarCNX(0, QStringLiteral("COM1"), mensaje) > 0 &&
                io->LeerDET(0, serial, words) > 0);
    EXPECT_EQ(words, (SondaIO::Words{1, 0, 0, 0}));
    // A signal started at the top of its range with the widest drift wanders
    // over the whole range, never past it; a share of failures of 1 fails every read.
    ASSERT_EQ(sim::load("port COM1 open\ndevice STT 0100000000000001 value 1250 drift "
                        "32767\ndevice HRT 0100000000000002 fail 1\n"),
              0);
    Serial stt = sn("0100000000000001"), hrt = sn("0100000000000002");
    std::set<int> seen;
    int reads = io->IniciarCNX(0, QStringLiteral("COM1"), mensaje) - 1;
    for (int k = 0; k < 400; ++k)
        reads += (io->LeerTemperatura(0, stt, words) > 0) + (io->LeerHRT(0, hrt, words) > 0),
            seen.insert(words[0]);
    EXPECT_EQ(std::tuple(*seen.begin(), *seen.rbegin(), reads), std::tuple(-550, 1250, 400));
}

// Calls on a port number that does not exist or a port not opened, and test
// controls given a device that is not there or a value out of range: each is
// refused, and nothing is touched.
TEST(SimCalls, RefuseWhatIsNotThere)
{
    const auto io = SondaIO::load(binFolder(), nullptr);
    ASSERT_TRUE(io && sim::load("port COM1 open\ndevice CTR 3A00000000000001\n") == 0);
    FixedText<100> mensaje;
    SondaIO::SearchBuffer buffer{};
    EXPECT_EQ(io->IniciarCNX(4, QStringLiteral("COM5"), mensaje), 0);
    EXPECT_EQ(mensaje.text().section(QChar(0), 0, 0),
              QStringLiteral("No se puede abrir el puerto: número de puerto no válido"));
    EXPECT_EQ(io->FinalizarCNX(4, mensaje) + io->BuscarDetectores(4, buffer) +
                  io->BuscarDetectores(0, buffer),
              0);
    const Serial none = sn("3A000000000000FF"), relay = sn("3A00000000000001");
    std::int16_t w = 0;
    EXPECT_EQ(sim::setWords(0, none, 1) + sim::relayWords(0, none, w, w) +
                  sim::failRate(0, relay, 2.0) + sim::failRate(0, relay, -0.5),
              -4);
    EXPECT_EQ(sim::addDevice(0, 9, none) + sim::addDevice(0, CTR, relay) +
                  sim::addDevice(7, CTR, none),
              -3);
    EXPECT_EQ(sim::callCount(9, nullptr, nullptr) + sim::callCount(0, nullptr, "Nada") +
                  SIM(SimRelayWords)(0, relay.data(), nullptr, nullptr),
              0);
    sim::silent(9, true);
    EXPECT_GT(io->IniciarCNX(0, QStringLiteral("COM1"), mensaje), 0)
        << "no port silenced by a port index that names none";
}
