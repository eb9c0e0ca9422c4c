// The twelve calls of the simulated network as the program makes them.
#include "simlib.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <set>
#include <vector>

using namespace simtest;

namespace {

using Read = decltype(Library::LeerTemperatura) Library::*;
using Search = decltype(Library::BuscarDetectores) Library::*;
const Search kSearches[] = {&Library::BuscarSensoresTra, &Library::BuscarConversoresAD, &Library::BuscarDetectores};

// Every type on COM1, in an order that mixes the families.
const char kMixed[] = "port COM1 open\n"
                      "device DET 0400000000000001\n"
                      "device STT 0100000000000002 value 200\n"
                      "device CTR 0500000000000003\n"
                      "device AVI 0300000000000004\n"
                      "device HRT 0200000000000005 value 20 50\n"
                      "device STT 01000000000000FF\n"
                      "port COM2 open\n";

TEST(SimDemo, EveryTypeAnswersWithPlausibleWords)
{
    const Library &l = lib();
    if (std::filesystem::exists(exeFolder() + "/sondanet.txt"))
        GTEST_SKIP() << "a description file beside the library replaces the demo network";
    ASSERT_EQ(0, l.SimLoad(nullptr));
    struct Row {
        const char *name;
        Search search;
        Read read;
        int found, answering;
        std::array<std::pair<int, int>, 4> range;
    };
    const Row rows[] = {
        {"STT", kSearches[0], &Library::LeerTemperatura, 3, 2, {{{150, 300}, {0, 0}, {0, 0}, {0, 0}}}},
        {"HRT", kSearches[0], &Library::LeerHRT, 3, 1, {{{15, 30}, {35, 65}, {0, 0}, {0, 0}}}},
        {"AVI", kSearches[1], &Library::LeerAD, 1, 1, {{{100, 4095}, {100, 4095}, {100, 4095}, {100, 4095}}}},
        {"DET and CTR", kSearches[2], &Library::LeerDET, 4, 4, {{{0, 1}, {0, 1}, {0, 0}, {0, 0}}}},
    };
    std::set<Serial> serials;
    for (std::int16_t port : {0, 1}) {
        ASSERT_GT(openPort(l, port), 0);
        for (const Row &row : rows) {
            SCOPED_TRACE(std::string(row.name) + " on COM" + std::to_string(port + 1));
            SearchBuffer buf;
            ASSERT_EQ(row.found, (l.*row.search)(port, buf.bytes, SONDAIO_SEARCH_MAX));
            int answering = 0;
            for (int k = 0; k < row.found; ++k) {
                Serial s = buf.slot(size_t(k));
                EXPECT_NE(Serial{}, s);
                serials.insert(s);
                // Many reads: the drift must keep the values plausible over time.
                for (int i = 0; i < 50; ++i) {
                    Block b;
                    if ((l.*row.read)(port, raw(s), b.bytes) <= 0)
                        break;
                    answering += i == 0;
                    EXPECT_TRUE(b.intactFrom(8));
                    for (size_t w = 0; w < 4; ++w) {
                        EXPECT_GE(b.words()[w], row.range[w].first) << "W" << w;
                        EXPECT_LE(b.words()[w], row.range[w].second) << "W" << w;
                    }
                }
            }
            EXPECT_EQ(row.answering, answering);
        }
    }
    EXPECT_EQ(16u, serials.size()) << "8 devices on COM1 and COM2 each, no serial twice";
    std::string msg;
    EXPECT_EQ(0, openPort(l, 2, &msg));
    EXPECT_EQ("No se puede abrir el puerto COM3: no hay respuesta de la red", msg);
    ASSERT_GT(openPort(l, 3), 0);
    SearchBuffer buf;
    for (Search search : kSearches)
        EXPECT_EQ(0, (l.*search)(3, buf.bytes, SONDAIO_SEARCH_MAX)) << "COM4 is empty";
}

TEST(SimCalls, FailingReadLeavesBlockUntouched)
{
    const Library &l = lib();
    struct Row {
        const char *name;
        void (*setup)(const Library &);
        bool ok;
        int port = 0;
        Read read = &Library::LeerTemperatura;
        const char *sn = "0100000000000002";
    };
    auto open1 = [](const Library &l) { openPort(l, 0); };
    const Row rows[] = {
        {"open port answers", open1, true},
        {"before IniciarCNX", [](const Library &) {}, false},
        {"after FinalizarCNX", [](const Library &l) { openPort(l, 0); l.FinalizarCNX(0, nullptr); }, false},
        {"silent port", [](const Library &l) { openPort(l, 0); l.SimSetPortSilent(0, 1); }, false},
        {"removed device", [](const Library &l) { openPort(l, 0); l.SimRemoveDevice(0, serial("0100000000000002").data()); }, false},
        {"device on another port", [](const Library &l) { openPort(l, 1); }, false, 1},
        {"port index 4", open1, false, 4},
        {"port index -1", open1, false, -1},
        {"unknown serial", open1, false, 0, &Library::LeerTemperatura, "0100000000000003"},
        {"LeerTemperatura on HRT", open1, false, 0, &Library::LeerTemperatura, "0200000000000005"},
        {"LeerHRT on STT", open1, false, 0, &Library::LeerHRT},
        {"LeerAD on DET", open1, false, 0, &Library::LeerAD, "0400000000000001"},
        {"LeerDET on AVI", open1, false, 0, &Library::LeerDET, "0300000000000004"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_EQ(0, l.SimLoad(kMixed));
        row.setup(l);
        Serial s = serial(row.sn);
        Block b;
        EXPECT_EQ(row.ok, (l.*row.read)(std::int16_t(row.port), raw(s), b.bytes) > 0);
        EXPECT_EQ(!row.ok, b.intactFrom(0));
        EXPECT_EQ(serial(row.sn), s) << "the serial buffer is the caller's";
    }
}

TEST(SimCalls, ConvertSerialNumWritesSixteenDigitsAndNul)
{
    for (const char *hex : {"0000000000000000", "FFFFFFFFFFFFFFFF", "0700FF1A2B3C4D5E"}) {
        Serial s = serial(hex);
        char out[SONDAIO_PRINTABLE_LEN + 2];
        std::memset(out, '*', sizeof out);
        EXPECT_GT(lib().ConvertSerialNum(raw(s), out), 0);
        EXPECT_EQ(std::string(hex) + '\0' + '*', std::string(out, sizeof out)) << "the caller's buffer is 17 bytes";
    }
}

TEST(SimCalls, RelayWordsReadBackAndAreCounted)
{
    const Library &l = lib();
    ASSERT_EQ(0, l.SimLoad(kMixed));
    Serial ctr = serial("0500000000000003"), det = serial("0400000000000001");
    ASSERT_GT(openPort(l, 0), 0);
    const Words expected[] = {{0, 0, 0, 0}, {1, 0, 0, 0}, {0, 1, 0, 0}, {-5, 32767, 0, 0}}; // first: no write yet
    for (long i = 0; i < 4; ++i) {
        const Words &w = expected[i];
        if (i > 0)
            l.EscribirCTR(0, raw(ctr), w[0], w[1]);
        Block b;
        ASSERT_GT(l.LeerDET(0, raw(ctr), b.bytes), 0);
        EXPECT_EQ(w, b.words());
        std::int16_t o1 = 9, o2 = 9;
        EXPECT_EQ(i, l.SimRelayWords(0, ctr.data(), &o1, &o2));
        EXPECT_EQ(std::make_pair(w[0], w[1]), std::make_pair(o1, o2));
    }
    EXPECT_EQ(0, l.EscribirCTR(0, raw(det), 1, 1)) << "a detector has no relays";
    EXPECT_EQ(3, l.SimCallCount(0, ctr.data(), "EscribirCTR"));
    EXPECT_EQ(4, l.SimCallCount(0, ctr.data(), "LeerDET"));
    // A serial the port does not have is counted too: the program did call it.
    Serial ghost = serial("0500000000000009");
    EXPECT_EQ(0, l.SimCallCount(0, ghost.data(), nullptr));
    Block b;
    EXPECT_EQ(0, l.LeerDET(0, raw(ghost), b.bytes));
    EXPECT_EQ(1, l.SimCallCount(0, ghost.data(), "LeerDET"));
    EXPECT_EQ(1 + 7 + 1 + 1, l.SimCallCount(0, nullptr, nullptr)) << "IniciarCNX, relay, detector, unknown serial";
    l.SimResetCounts();
    EXPECT_EQ(0, l.SimCallCount(0, nullptr, nullptr));
}

TEST(SimCalls, SearchesWriteOnlyAnnouncedSlots)
{
    const Library &l = lib();
    struct Row {
        const char *name;
        Search search;
        int maxCount, extraAvi, forcedCount, result;
        std::vector<const char *> serials; // then the extra devices, in order
    };
    const char *const temps[] = {"0100000000000002", "0200000000000005", "01000000000000FF"};
    const Row rows[] = {
        {"temperature family", kSearches[0], 100, 0, -1, 3, {temps, temps + 3}},
        {"converters", kSearches[1], 100, 0, -1, 1, {"0300000000000004"}},
        {"detectors and relays", kSearches[2], 100, 0, -1, 2, {"0400000000000001", "0500000000000003"}},
        {"fewer slots than devices", kSearches[0], 2, 0, -1, 3, {temps, temps + 3}},
        {"no slots", kSearches[0], 0, 0, -1, 3, {}},
        {"negative slot count", kSearches[2], -1, 0, -1, 2, {}},
        {"120 devices, 100 slots", kSearches[1], 100, 120, -1, 121, {"0300000000000004"}},
        {"count forced to 150", kSearches[1], 100, 120, 150, 150, {"0300000000000004"}},
        {"count forced below found", kSearches[0], 100, 0, 1, 1, {temps, temps + 3}},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_EQ(0, l.SimLoad(kMixed));
        std::vector<Serial> expected;
        for (const char *hex : row.serials)
            expected.push_back(serial(hex));
        for (int i = 0; i < row.extraAvi; ++i) {
            expected.push_back({0x03, 0xAA, 0, 0, 0, 0, std::uint8_t(i >> 8), std::uint8_t(i)});
            ASSERT_EQ(0, l.SimAddDevice(0, 3, expected.back().data()));
        }
        expected.resize(std::min(expected.size(), size_t(std::max(row.maxCount, 0))));
        l.SimSetSearchCount(0, row.forcedCount);
        ASSERT_GT(openPort(l, 0), 0);
        SearchBuffer buf;
        EXPECT_EQ(row.result, (l.*row.search)(0, buf.bytes, row.maxCount));
        for (size_t k = 0; k < expected.size(); ++k)
            EXPECT_EQ(expected[k], buf.slot(k)) << "slot " << k;
        EXPECT_TRUE(buf.intactFrom(8 * expected.size())) << "written past the last slot";
    }
}

// Reads each device of a drifting network 100 times: results and words.
std::vector<std::pair<int, Words>> readAll(const Library &l, const std::uint32_t *seed)
{
    EXPECT_EQ(0, l.SimLoad("seed 5\nport COM1 open\n"
                           "device STT 0100000000000001 value 200 drift 30 fail 0.2\n"
                           "device HRT 0200000000000002 value 20 50 drift 20\n"
                           "device AVI 0300000000000003 value 10 2000 4000 30000 drift 500\n"
                           "device DET 0400000000000004 value 1 0 toggle 0.3\n"));
    if (seed)
        l.SimSetSeed(*seed);
    openPort(l, 0);
    std::vector<std::pair<int, Words>> out;
    const Read reads[] = {&Library::LeerTemperatura, &Library::LeerHRT, &Library::LeerAD, &Library::LeerDET};
    for (int i = 0; i < 400; ++i) {
        Serial s{std::uint8_t(1 + i % 4), 0, 0, 0, 0, 0, 0, std::uint8_t(1 + i % 4)};
        Block b;
        const int r = (l.*reads[i % 4])(0, raw(s), b.bytes);
        out.emplace_back(r, b.words());
    }
    return out;
}

TEST(SimSignals, SeedFixesTheSequenceAndDriftStaysInBand)
{
    const Library &l = lib();
    const std::uint32_t seven = 7, eight = 8;
    const auto a = readAll(l, &seven);
    EXPECT_EQ(a, readAll(l, &seven));
    EXPECT_NE(a, readAll(l, &eight));
    EXPECT_EQ(readAll(l, nullptr), readAll(l, nullptr)) << "SimLoad restarts the generator";

    std::array<std::set<int>, 4> seen; // W0 of each device
    const std::array<std::pair<int, int>, 4> band = {{{170, 230}, {0, 40}, {0, 510}, {0, 1}}};
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i].first <= 0)
            continue;
        seen[i % 4].insert(a[i].second[0]);
        EXPECT_GE(a[i].second[0], band[i % 4].first) << "device " << i % 4;
        EXPECT_LE(a[i].second[0], band[i % 4].second) << "device " << i % 4;
    }
    for (const auto &values : seen)
        EXPECT_GE(values.size(), 2u) << "a signal never moved";
}

TEST(SimSignals, FailureRateDecidesShareOfFailedReads)
{
    const Library &l = lib();
    struct Row {
        const char *name, *deviceKeys;
        double rate; // SimSetFailRate when >= 0
        int lo, hi;  // successes out of 400
    };
    const Row rows[] = {
        {"control 1.0", "", 1.0, 0, 0},
        {"control 0.0 over description 1", "fail 1", 0.0, 400, 400},
        {"control 0.25", "", 0.25, 250, 350},
        {"description 1", "fail 1", -1, 0, 0},
        {"fixed words still fail", "words 1 2 3 4 fail 0.5", -1, 150, 250},
    };
    Serial s = serial("0100000000000001");
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_EQ(0, l.SimLoad((std::string("port COM1 open\ndevice STT 0100000000000001 ") + row.deviceKeys).c_str()));
        if (row.rate >= 0) {
            EXPECT_EQ(0, l.SimSetFailRate(0, s.data(), row.rate));
        }
        openPort(l, 0);
        int ok = 0;
        for (int i = 0; i < 400; ++i) {
            Block b;
            const bool good = l.LeerTemperatura(0, raw(s), b.bytes) > 0;
            ok += good;
            EXPECT_EQ(!good, b.intactFrom(0));
        }
        EXPECT_GE(ok, row.lo);
        EXPECT_LE(ok, row.hi);
    }
    EXPECT_EQ(-1, l.SimSetFailRate(0, s.data(), 1.5));
    EXPECT_EQ(-1, l.SimSetFailRate(0, s.data(), std::nan("")));
}

} // namespace
