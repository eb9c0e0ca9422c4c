// The network description: what it accepts, what it refuses and where, and
// that no text whatever can crash the library.
#include "simlib.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

using namespace simtest;

namespace {

TEST(SimDescription, BadLineIsReportedByNumber)
{
    const Library &l = lib();
    const std::pair<const char *, int> rows[] = {
        {"port COM1 open\nfrobnicate\n", 2},
        {"device STT 0100000000000001\n", 1},
        {"port COM1 open\ndevice XYZ 0100000000000001\n", 2},
        {"port COM1 open\ndevice STT 010000000000001\n", 2},
        {"port COM1 open\ndevice STT 01000000000000G1\n", 2},
        {"port COM1 open\ndevice STT -100000000000000\n", 2},
        {"port COM1 open\ndevice STT 0100000000000001\ndevice DET 0100000000000001\n", 3},
        {"port COM1 open\nport COM1 silent\n", 2},
        {"port COM5 open\n", 1},
        {"port COM1 opened\n", 1},
        {"port COM1 open now\n", 1},
        {"port COM1 open\ndevice STT 0100000000000001 value 200 201\n", 2},
        {"port COM1 open\ndevice HRT 0100000000000001 value 20\n", 2},
        {"port COM1 open\ndevice STT 0100000000000001 value 1300\n", 2},
        {"port COM1 open\ndevice HRT 0100000000000001 value 20 101\n", 2},
        {"port COM1 open\ndevice AVI 0100000000000001 value -1 0 0 0\n", 2},
        {"port COM1 open\ndevice CTR 0100000000000001 value 1 1\n", 2},
        {"port COM1 open\ndevice DET 0100000000000001 drift 2\n", 2},
        {"port COM1 open\ndevice STT 0100000000000001 toggle 0.1\n", 2},
        {"port COM1 open\ndevice STT 0100000000000001 fail 1.01\n", 2},
        {"port COM1 open\ndevice STT 0100000000000001 fail nan\n", 2},
        {"port COM1 open\ndevice STT 0100000000000001 words 1 2 3\n", 2},
        {"port COM1 open\ndevice STT 0100000000000001 words 1 2 3 40000\n", 2},
        {"seed 4294967296\n", 1},
        {"latency 60001\n", 1},
        {"calllog   # no file\n", 1},
        {"# comment\r\n\r\nport COM1 open\r\nbogus\r\n", 4},
        {"port COM1 open\n\ndevice STT 0100000000000001 fail", 3},
    };
    for (const auto &[text, line] : rows) {
        SCOPED_TRACE(text);
        EXPECT_EQ(line, l.SimLoad(text));
    }
}

TEST(SimDescription, AcceptedTextGivesItsWords)
{
    const Library &l = lib();
    struct Row {
        const char *name, *text;
        Words words;
    };
    const Row rows[] = {
        {"tabs, CRLF, comments, any case", "# net\r\n\tPORT\tcom1\tOPEN  # office\r\ndevice det 0a0b0c0d0e0f1011 WORDS 1 -2 3 -4 \r\n", {1, -2, 3, -4}},
        {"UTF-8 mark at the start", "\xEF\xBB\xBFport COM1 open\ndevice DET 0A0B0C0D0E0F1011 words 0 1 0 0", {0, 1, 0, 0}},
        {"extremes", "seed 4294967295\nlatency 0\nport COM1 open\ndevice DET 0A0B0C0D0E0F1011 toggle 1 fail 0 words -32768 32767 0 0\n", {-32768, 32767, 0, 0}},
        {"detector inputs without drift", "port COM1 open\ndevice DET 0A0B0C0D0E0F1011 value 0 7 toggle 0\n", {0, 7, 0, 0}},
        {"relay readback fixed", "port COM1 open\ndevice CTR 0A0B0C0D0E0F1011 words 1 1 0 0\n", {1, 1, 0, 0}},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_EQ(0, l.SimLoad(row.text));
        ASSERT_GT(openPort(l, 0), 0);
        Serial s = serial("0A0B0C0D0E0F1011");
        Block b;
        ASSERT_GT(l.LeerDET(0, raw(s), b.bytes), 0);
        EXPECT_EQ(row.words, b.words());
    }
}

TEST(SimDescription, RefusingPortsWriteTheirMessage)
{
    const Library &l = lib();
    struct Row {
        const char *name;
        std::string text;
        int port;
        std::string message; // "?" = buffer untouched
    };
    const Row rows[] = {
        {"default refusal", "port COM2 refuse\n", 1, "No se puede abrir el puerto COM2: no hay respuesta de la red"},
        {"UTF-8 text in Windows-1252", "port COM1 refuse Cable desconectado: revise la conexión # why\n", 0, "Cable desconectado: revise la conexi\xF3n"},
        {"long text cut at 100", "port COM1 refuse " + std::string(150, 'x'), 0, std::string(100, 'x')},
        {"port not described", "port COM1 open\n", 3, "No se puede abrir el puerto COM4: el puerto no existe"},
        {"bad description", "port COM1 open\nbogus\n", 0, "No se puede abrir el puerto COM1: descripci\xF3n de red no v\xE1lida (l\xEDnea 2)"},
        {"silent port says nothing", "port COM1 silent\n", 0, "?"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        l.SimLoad(row.text.c_str());
        char msg[SONDAIO_MSG_LEN + 1];
        std::memset(msg, '?', sizeof msg);
        char name[] = "COMx";
        EXPECT_EQ(0, l.IniciarCNX(std::int16_t(row.port), name, msg));
        // The text, then NULs up to byte 100; byte 100 is the caller's.
        std::string expected = row.message == "?" ? std::string(SONDAIO_MSG_LEN, '?') : row.message;
        expected.resize(SONDAIO_MSG_LEN, '\0');
        EXPECT_EQ(expected, std::string(msg, SONDAIO_MSG_LEN));
        EXPECT_EQ('?', msg[SONDAIO_MSG_LEN]) << "wrote past the 100-byte message";
    }
}

// A copy of the library in a folder of its own, so a description file beside
// it cannot disturb other test programs sharing bin/.
TEST(SimDescription, FileBesideLibraryIsReadAtFirstCall)
{
    char tmpl[] = "/tmp/simtest-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(tmpl));
    const std::filesystem::path dir = tmpl;
    std::filesystem::copy_file(exeFolder() + "/libSondaIO.so", dir / "libSondaIO.so");
    auto write = [&](const char *text) { std::ofstream(dir / "sondanet.txt", std::ios::binary) << text; };
    write("calllog calls.txt\nport COM2 open\ndevice STT 0100000000000001 words 123 0 0 0\n");
    const Library copy = open((dir / "libSondaIO.so").string());

    // The program never calls SimLoad: its first call must find the file.
    EXPECT_GT(openPort(copy, 1), 0);
    Serial s = serial("0100000000000001");
    Block b;
    EXPECT_GT(copy.LeerTemperatura(1, raw(s), b.bytes), 0);
    EXPECT_EQ((Words{123, 0, 0, 0}), b.words());
    EXPECT_EQ(0, copy.LeerHRT(1, raw(s), b.bytes));

    write("port COM1 open\nnonsense\n");
    EXPECT_EQ(2, copy.SimLoad(nullptr));
    EXPECT_EQ(0, openPort(copy, 0));
    std::filesystem::remove(dir / "sondanet.txt");
    EXPECT_EQ(0, copy.SimLoad(nullptr));
    std::string msg;
    EXPECT_EQ(0, openPort(copy, 2, &msg)) << "the demo network refuses COM3";
    EXPECT_EQ("No se puede abrir el puerto COM3: no hay respuesta de la red", msg);
    // The log beside the library has the calls made while its description held.
    std::ifstream log(dir / "calls.txt");
    const std::string calls((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
    EXPECT_EQ("IniciarCNX COM2 1\nLeerTemperatura 0100000000000001 COM2 1\nLeerHRT 0100000000000001 COM2 0\n", calls);
    std::filesystem::remove_all(dir);
}

std::uint64_t next(std::uint64_t &s)
{
    std::uint64_t z = (s += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

// A random description from the grammar's own words, with numbers at and
// beyond every limit: mostly readable, so the calls below meet odd networks.
std::string generated(std::uint64_t &rng)
{
    const char *const kinds[] = {"STT", "HRT", "AVI", "DET", "CTR"};
    const char *const modes[] = {"open", "silent", "refuse sin respuesta", "open"};
    const char *const keys[] = {"value", "drift", "toggle", "fail", "words"};
    const char *const nums[] = {"-32769", "-32768", "-550", "-1", "0", "0.5", "1", "20", "101", "1250", "32767", "32768"};
    std::string t;
    for (int line = int(next(rng) % 14); line > 0; --line) {
        if (next(rng) % 4 == 0) {
            t += "port COM" + std::to_string(1 + next(rng) % 4) + " " + modes[next(rng) % 4] + "\n";
            continue;
        }
        t += std::string("device ") + kinds[next(rng) % 5] + " 0" + std::to_string(next(rng) % 6) + "00FF00000000FF";
        for (int k = int(next(rng) % 3); k > 0; --k) {
            t += std::string(" ") + keys[next(rng) % 5];
            for (int n = 1 + int(next(rng) % 4); n > 0; --n)
                t += std::string(" ") + nums[next(rng) % std::size(nums)];
        }
        t += "\n";
    }
    return t;
}

// Mutated descriptions, then every call on every port the text describes:
// nothing may crash, write past a buffer or leave a port open after an error.
TEST(SimDescription, FuzzedTextNeverBreaksTheLibrary)
{
    const Library &l = lib();
    const std::string base = "seed 3\nlatency 0\nport COM1 open\n"
                             "device STT 0100000000000001 value 200 drift 2 fail 0.1\n"
                             "device HRT 0200000000000002 value 20 50 drift 1\n"
                             "device AVI 0300000000000003 value 1 2 3 4 drift 5 words 1 2 3 4\n"
                             "device DET 0400000000000004 value 1 0 toggle 0.5\n"
                             "device CTR 0500000000000005 fail 0.5\n"
                             "port COM2 silent\nport COM3 refuse sin respuesta\nport COM4 open\n"
                             "device AVI 0300000000000003\n";
    const char *const pieces[] = {"port", "device", "COM1", "COM4", "COM9", "STT", "HRT", "AVI", "DET", "CTR",
                                  "value", "words", "fail", "drift", "toggle", "seed", "latency", "refuse", "open",
                                  "silent", "nan", "inf", "-1", "1e308", "99999999999999999999", "0x10", "#", "\n",
                                  "\r", "\t", " ", "FFFFFFFFFFFFFFFF", "0000000000000000", "\xC3", "\xC3\xB3", "\xEF\xBB\xBF"};
    std::uint64_t rng = 12345;
    for (int iter = 0; iter < 3000; ++iter) {
        std::string text = iter % 2 ? generated(rng) : base;
        for (int m = int(next(rng) % 4); m > 0 && !text.empty(); --m) {
            const size_t at = next(rng) % text.size();
            switch (next(rng) % 5) {
            case 0: text[at] = char(1 + next(rng) % 255); break;
            case 1: text.insert(at, pieces[next(rng) % std::size(pieces)]); break;
            case 2: text.erase(at, next(rng) % 12); break;
            case 3: text.insert(at, text.substr(at, next(rng) % 60)); break;
            default: text.resize(at); break;
            }
        }
        SCOPED_TRACE(text);
        const int r = l.SimLoad(text.c_str());
        const int lines = int(std::count(text.begin(), text.end(), '\n')) + (text.empty() || text.back() == '\n' ? 0 : 1);
        ASSERT_TRUE(r >= 0 && r <= lines) << r;
        l.SimSetLatency(0);
        for (std::int16_t port = 0; port < 4; ++port) {
            std::string msg;
            const bool open = openPort(l, port, &msg) > 0;
            ASSERT_FALSE(r > 0 && open) << "a bad description leaves every port closed";
            ASSERT_LE(msg.size(), size_t(SONDAIO_MSG_LEN));
            for (Buscar_fn Library::*search : {&Library::BuscarSensoresTra, &Library::BuscarConversoresAD, &Library::BuscarDetectores}) {
                SearchBuffer buf;
                const int n = (l.*search)(port, buf.bytes, SONDAIO_SEARCH_MAX);
                ASSERT_GE(n, 0);
                for (int k = 0; k < std::min(n, SONDAIO_SEARCH_MAX); ++k) {
                    char *sn = reinterpret_cast<char *>(buf.bytes + 8 * k);
                    for (LeerTemperatura_fn Library::*read : {&Library::LeerTemperatura, &Library::LeerHRT, &Library::LeerAD, &Library::LeerDET}) {
                        Block b;
                        (l.*read)(port, sn, b.bytes);
                        ASSERT_TRUE(b.intactFrom(8));
                    }
                    std::int16_t setup[4] = {1, 2, 3, 4};
                    l.SetupAD(port, sn, setup);
                    l.EscribirCTR(port, sn, 1, 0);
                }
                ASSERT_TRUE(buf.intactFrom(8 * std::min(n, SONDAIO_SEARCH_MAX)));
            }
            l.FinalizarCNX(port, nullptr);
        }
    }
}

} // namespace
