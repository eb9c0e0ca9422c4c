// Writes a station's capture files for the web page's tests with the
// monitor's own capture writer and configuration file. Usage: captura_web
// FOLDER PORT [reles]; then one line per capture line on standard input,
// values as 21.5 or ERR, inputs 1 active, 0 not. Each line is on the disk
// when "escrito FILE" is printed.
// By default, read every second: a temperature sensor "Sala" watched between
// 18 and 22 ºC, a humidity sensor "Invernadero" not watched, a detector
// "Puerta":
//   2026-12-07T14:03:09 SALA INV_C INV_PCT IN1 IN2
// With "reles", read every five minutes, with markup in the names: a
// temperature sensor "<b>Horno</b>" watched between 18 and 22 ºC and a
// relay device "<i>Bomba</i>":
//   2026-12-07T14:05:00 HORNO IN1 IN2
#include "monitor/capture.h"
#include "platform/clock.h"
#include "platform/messages.h"
#include "registry/configfile.h"
#include "registry/general.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QStringList>

#include <cstdio>
#include <iostream>
#include <string>
#include <utility>
#include <vector>

namespace {

struct SetClock final : Clock {
    QDateTime t;
    QDateTime now() const override { return t; }
    double elapsed() const override { return 0; }
};

struct Accept final : Messages {
    Answer show(const QString &text, Buttons, Icon) override
    {
        std::fprintf(stderr, "%s\n", text.toUtf8().constData());
        return Answer::Ok;
    }
};

void add(General &g, std::int16_t tipo, const char *name, float low, float high,
         std::int16_t action, std::int16_t periodo = 1)
{
    g.dispactual = Dispositivo{};
    g.dispactual.tipo = tipo;
    g.dispactual.nombre = QString::fromLatin1(name);
    g.dispactual.sn[0] = static_cast<std::uint8_t>(tipo);
    g.dispactual.sn[7] = static_cast<std::uint8_t>(g.n() + 1);
    g.dispactual.alarma = {low, high, 0, 0};
    g.dispactual.salrele[0] = action;
    g.dispactual.periodo = periodo;
    g.nuevo();
}

// Sets the named device's reading from the given texts; any ERR fails the read.
void reading(General &g, const char *name, const QStringList &values)
{
    int i = 1;
    while (i < g.n() &&
           g.dispositivos[static_cast<std::size_t>(i)].nombre.text().trimmed() !=
               QLatin1String(name))
        ++i;
    EstadoDisp &e = g.estados[static_cast<std::size_t>(i)];
    e.valido = !values.contains(QStringLiteral("ERR"));
    if (!e.valido)
        return;
    const std::int16_t tipo = g.dispositivos[static_cast<std::size_t>(i)].tipo;
    if (tipo == DET || tipo == CTR) {
        for (int k = 0; k < 2; ++k)
            e.crudo[static_cast<std::size_t>(k)] = values[k] == QLatin1String("1") ? 0 : 1;
        return;
    }
    for (int k = 0; k < values.size(); ++k)
        e.lectura[static_cast<std::size_t>(k)] = values[k].toFloat();
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const bool reles = argc == 4 && std::string(argv[3]) == "reles";
    if (argc != 3 && !reles) {
        std::fprintf(stderr, "usage: captura_web FOLDER PORT [reles]\n");
        return 2;
    }
    General g;
    g.appFolder = QString::fromLocal8Bit(argv[1]);
    g.puerto = static_cast<std::int16_t>(std::atoi(argv[2]) - 1);
    g.nombrepuerto = QStringLiteral("COM%1").arg(argv[2]);
    g.carpeta = g.appFolder + u'/' + QString::fromLocal8Bit(argv[2]) + u'/';
    // The name and how many values of a line each device takes.
    std::vector<std::pair<const char *, int>> fields;
    if (reles) {
        add(g, STT, "<b>Horno</b>", 18, 22, 1, 300);
        add(g, CTR, "<i>Bomba</i>", 0, 0, 0, 300);
        fields = {{"<b>Horno</b>", 1}, {"<i>Bomba</i>", 2}};
    } else {
        add(g, STT, "Sala", 18, 22, 1);
        add(g, HRT, "Invernadero", 10, 30, 0);
        add(g, DET, "Puerta", 0, 0, 0);
        fields = {{"Sala", 1}, {"Invernadero", 2}, {"Puerta", 2}};
    }
    g.modificado = true;

    SetClock clock;
    clock.t = QDateTime::currentDateTime();
    Accept messages;
    Captura captura(g, clock);
    std::string line;
    bool started = false;
    while (std::getline(std::cin, line)) {
        const QStringList f = QString::fromStdString(line).split(u' ', Qt::SkipEmptyParts);
        if (f.size() != (reles ? 4 : 6))
            continue;
        clock.t = QDateTime::fromString(f[0], Qt::ISODate);
        if (!started && !(started = captura.start(messages, [&] {
                return configfile::save(g).status != configfile::SaveStatus::Failed;
            })))
            return 1;
        int at = 1;
        for (const auto &[name, count] : fields) {
            reading(g, name, f.mid(at, count));
            at += count;
        }
        const Captura::Escritura w =
            captura.escribe(clock.t.toString(QStringLiteral("dd-MM-yyyy HH:mm:ss")));
        if (w.estado != Captura::Estado::Escrito) {
            std::fprintf(stderr, "%s\n", w.mensaje.toUtf8().constData());
            return 1;
        }
        std::printf("escrito %s\n", g.fichero.toUtf8().constData());
        std::fflush(stdout);
    }
    return 0;
}
