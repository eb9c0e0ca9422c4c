// The cost of a library call through the bridge process (Windows): the same
// reading made in this process and through the 64-bit bridge on the
// simulator at zero latency, and the difference per call. The 32-bit bridge
// runs the same code over the same pipe.
#include "netaccess/binding.h"
#include "timing.h"

#include <QCoreApplication>
#include <QDir>
#include <cstdio>

namespace {

double perCall(SondaIO &io, int calls)
{
    FixedText<100> mensaje;
    io.IniciarCNX(0, QStringLiteral("COM1"), mensaje);
    Serial serial{0x28, 0xA3, 0xF2, 0xC5, 0x01, 0x08, 0x00, 0x11};
    SondaIO::Words words{};
    io.LeerTemperatura(0, serial, words); // the first call starts what a run needs
    const double ms = timed([&] {
        for (int k = 0; k < calls; ++k)
            io.LeerTemperatura(0, serial, words);
    });
    io.FinalizarCNX(0, mensaje);
    return ms / calls;
}

}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QString bin = QCoreApplication::applicationDirPath();
    const int calls = 20000;
    QString error;
    auto direct = SondaIO::load(bin, &error);
    auto bridged =
        SondaIO::loadBridged(bin, {QDir(bin).filePath(QStringLiteral("bridge64.exe"))}, &error);
    if (!direct || !bridged) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    const double inProcess = perCall(*direct, calls);
    const double throughBridge = perCall(*bridged, calls);
    std::printf("LeerTemperatura, %d calls each, simulator at zero latency:\n", calls);
    std::printf("  in this process      %8.4f ms per call\n", inProcess);
    std::printf("  through the bridge   %8.4f ms per call\n", throughBridge);
    std::printf("  cost of the bridge   %8.4f ms per call (goal: under 0.2 ms)\n",
                throughBridge - inProcess);
    return 0;
}
