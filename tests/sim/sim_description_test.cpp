// The network description users write for the simulator (sim/network.md):
// the line of the first fault is reported, a bad description opens no port,
// and the keys read back as the devices' behaviour. The simulator's calls are
// exercised through the binding by the core, window and end-to-end tests.
#include "netaccess/binding.h"
#include "support/support.h"

#include <gtest/gtest.h>

#include <cstring>

TEST(SimDescription, FirstBadLineIsReportedAndNoPortOpens)
{
    QString error;
    const auto io = SondaIO::load(binFolder(), &error);
    ASSERT_TRUE(io) << error.toStdString();
    const std::pair<const char *, int> rows[] = {
        {"# net\r\n\tPORT\tcom1\tOPEN \v\f # office\r\ndevice det 0a0b0c0d0e0f1011 WORDS 1 -2 3 -4 \r\nport COM2 silent\nport COM3 refuse", 0},
        {"\xEF\xBB\xBFseed 4294967295\nlatency 0\nport COM1 open\ndevice DET 0A0B0C0D0E0F1011 toggle 1 fail 0 words -32768 32767 0 0", 0},
        {"port COM1 refuse Cable desconectado: revise la conexión # why\n", 0}, // in the library's Windows-1252
        {"device STT 0100000000000001\n", 1}, // no port before it
        {"port COM5 open\n", 1}, {"port COMX open\n", 1}, {"port COM1 opened\n", 1}, {"seed 4294967296\n", 1}, {"latency 60001\n", 1},
        {"port COM1 open\nfrobnicate\n", 2}, {"port COM1 open\nport COM1 silent\n", 2}, {"port COM1 open\ndevice STT 010000000000000G\n", 2},
        {"port COM1 open\ndevice STT 010000000000001\n", 2}, {"port COM1 open\ndevice XYZ 0100000000000001\n", 2},
        {"port COM1 open\ndevice STT 0100000000000001 value 200 201\n", 2}, {"port COM1 open\ndevice STT 0100000000000001 value 20x\n", 2},
        {"port COM1 open\ndevice AVI 0100000000000001 value -1 0 0 0\n", 2}, {"port COM1 open\ndevice DET 0100000000000001 drift 2\n", 2},
        {"port COM1 open\ndevice HRT 0100000000000001 drift 40000\n", 2},
        {"port COM1 open\ndevice DET 0100000000000001 toggle 2\n", 2}, {"port COM1 open\ndevice STT 0100000000000001 fail nan\n", 2},
        {"port COM1 open\ndevice STT 0100000000000001 words 1 2 3 40000\n", 2}, {"port COM1 open\ndevice STT -100000000000000\n", 2},
        {"calllog   # no file\n", 1},
        {"port COM1 open\ndevice STT 0100000000000001\ndevice DET 0100000000000001\n", 3},
        {"# comment\r\n\r\nport COM1 open\r\nbogus\r\n", 4},
    };
    for (const auto &[text, line] : rows) {
        EXPECT_EQ(sim::load(text), line) << text;
        FixedText<100> mensaje;
        const bool refused = std::strstr(text, "COM1 refuse");
        EXPECT_EQ(io->IniciarCNX(0, QStringLiteral("COM1"), mensaje) > 0, line == 0 && !refused) << text;
        const QString bad = QStringLiteral("No se puede abrir el puerto COM1: descripción de red no válida (línea %1)").arg(line);
        EXPECT_EQ(mensaje.text(), (line ? bad : refused ? QStringLiteral("Cable desconectado: revise la conexión") : QString()).leftJustified(100, QChar(0)))
            << text;
    }
    // A detector input that toggles at every read.
    Serial serial = sn("0A0B0C0D0E0F1011");
    SondaIO::Words words{};
    FixedText<100> mensaje;
    ASSERT_EQ(sim::load("port COM1 open\ndevice DET 0A0B0C0D0E0F1011 value 0 1 toggle 1\n"), 0);
    EXPECT_TRUE(io->IniciarCNX(0, QStringLiteral("COM1"), mensaje) > 0 && io->LeerDET(0, serial, words) > 0);
    EXPECT_EQ(words, (SondaIO::Words{1, 0, 0, 0}));
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
    EXPECT_EQ(mensaje.text().section(QChar(0), 0, 0), QStringLiteral("No se puede abrir el puerto: número de puerto no válido"));
    EXPECT_EQ(io->FinalizarCNX(4, mensaje) + io->BuscarDetectores(4, buffer) + io->BuscarDetectores(0, buffer), 0);
    const Serial none = sn("3A000000000000FF"), relay = sn("3A00000000000001");
    std::int16_t w = 0;
    EXPECT_EQ(sim::setWords(0, none, 1) + sim::relayWords(0, none, w, w) + sim::failRate(0, relay, 2.0) + sim::failRate(0, relay, -0.5), -4);
    EXPECT_EQ(sim::addDevice(0, 9, none) + sim::addDevice(0, CTR, relay) + sim::addDevice(7, CTR, none), -3);
    EXPECT_EQ(sim::callCount(9, nullptr, nullptr) + sim::callCount(0, nullptr, "Nada") + SIM(SimRelayWords)(0, relay.data(), nullptr, nullptr), 0);
    sim::silent(9, true);
    EXPECT_GT(io->IniciarCNX(0, QStringLiteral("COM1"), mensaje), 0) << "no port silenced by a port index that names none";
}
