#include "monitor/monitor.h"

#include "monitor/mainview.h"
#include "netaccess/binding.h"
#include "platform/clock.h"

#include <cmath>
#include <cstring>
#include <exception>
#include <unordered_map>

namespace {

constexpr std::int32_t unDia = 86400;
constexpr std::int32_t medioDia = 43200;
// A jump of the wall clock forward by more than this (a clock change, a
// machine that slept) moves every due time by the same amount, and so does
// any step back (midnight, a clock set back): due times left ahead of a
// clock that went back would hold every reading for as long as the step.
constexpr std::int32_t saltoReloj = 3500;

std::uint64_t clave(const Serial &sn)
{
    std::uint64_t key;
    std::memcpy(&key, sn.data(), sizeof key);
    return key;
}

// Every index into the table is checked where it is used: the tick yields to
// the window after each read, and the user may delete, add or reload devices
// meanwhile. A device that is gone is skipped; the tick goes on.
bool tieneLectura(const General &g, int i)
{
    return g.valid(i) && static_cast<std::size_t>(i) < g.estados.size();
}

// Calls f(device, its state) for every device of the list that has a state.
template <typename F>
void forEachRead(const General &g, F f)
{
    const int n = g.n();
    for (int i = 1; i <= n; ++i)
        if (tieneLectura(g, i))
            f(g.dispositivos[i], g.estados[i]);
}

}

Monitor::Monitor(General &g, SondaIO *io, Clock &clock, MainView &view)
    : g_(g), io_(io), clock_(clock), view_(view)
{
}

void Monitor::Timer1_Timer()
{
    view_.setTimerEnabled(false);
    try {
        const QString stamp = marca();
        bool capturar = false;

        const int n = g_.n();
        int leidos = 0;
        if (n >= 1) {
            for (int i = 1; i <= n; ++i) {
                if (!tieneLectura(g_, i) || g_.dispositivos[i].tipo == CTR || !due(g_.estados[i]))
                    continue;
                std::int32_t periodo = g_.dispositivos[i].periodo;
                sumatiempo(g_.estados[i].proxima, periodo);
                // Detectors are captured when their inputs change (below).
                if (g_.dispositivos[i].tipo != DET)
                    capturar = true;
                view_.actualizando();
                view_.yieldEvents();
                view_.leyendo(++leidos, n);
                leedisp(i);
                view_.yieldEvents();
            }

            alarmas();

            for (int i = 1; i <= n; ++i) {
                if (!tieneLectura(g_, i) || g_.dispositivos[i].tipo != CTR || !due(g_.estados[i]))
                    continue;
                std::int32_t periodo = g_.dispositivos[i].periodo;
                sumatiempo(g_.estados[i].proxima, periodo);
                view_.leyendo(++leidos, n);
                leedisp(i);
                view_.yieldEvents();
            }

            view_.listado();
        }

        // A detector input that changed since the last tick is captured even
        // when the detector was not read on this tick.
        for (std::size_t e = 1; e < g_.lstdet.size(); ++e) {
            IndiceEntry &entry = g_.lstdet[e];
            if (!tieneLectura(g_, entry.indice))
                continue;
            const EstadoDisp &lectura = g_.estados[entry.indice];
            for (int k = 0; k < 2; ++k) {
                if (lectura.crudo[k] != entry.estado[k]) {
                    capturar = true;
                    entry.estado[k] = lectura.crudo[k];
                }
            }
        }

        if (!g_.fichero.isEmpty() && capturar && onCapture)
            onCapture(stamp);

        view_.showAlarmas(ponalarmas());

        const std::int32_t ahora = secondsNow();
        const std::int32_t diferencia = ahora - g_.ultimo;
        std::int32_t avance = diferencia;
        sumatiempo(g_.reloj, avance);
        if (diferencia < 0 || diferencia > saltoReloj) {
            for (std::size_t i = 1; i < g_.estados.size(); ++i) {
                std::int32_t salto = diferencia; // sumatiempo rewrites a negative delta
                sumatiempo(g_.estados[i].proxima, salto);
            }
        }
        g_.ultimo = ahora;
    } catch (const std::exception &error) {
        if (onFatal)
            onFatal(QStringLiteral("Error inesperado en la lectura de la red: %1")
                        .arg(QString::fromLocal8Bit(error.what())));
        return;
    } catch (...) {
        if (onFatal)
            onFatal(QStringLiteral("Error inesperado en la lectura de la red."));
        return;
    }
    view_.setTimerEnabled(true);
}

void Monitor::leedisp(int i)
{
    if (!tieneLectura(g_, i))
        return;
    Dispositivo &d = g_.dispositivos[i];
    EstadoDisp &e = g_.estados[i];
    const std::int16_t port = g_.puerto;
    e.valido = true;
    std::int16_t r = 0;
    switch (d.tipo) {
    case STT:
        if (io_)
            r = io_->LeerTemperatura(port, d.sn, e.crudo);
        // The offset and the word are tenths of a degree.
        e.lectura[0] = static_cast<float>(d.ajuste[0] / 10.0 + e.crudo[0] / 10.0);
        break;
    case HRT:
        if (io_)
            r = io_->LeerHRT(port, d.sn, e.crudo);
        e.lectura[0] = e.crudo[0];
        e.lectura[1] = e.crudo[1];
        break;
    case AVI:
        if (io_) {
            // The converter takes its channel set-up before every reading.
            io_->SetupAD(port, d.sn, d.ajuste);
            r = io_->LeerAD(port, d.sn, e.crudo);
        }
        for (int k = 0; k < 4; ++k)
            e.lectura[k] = static_cast<float>(e.crudo[k]) * d.ganancia[k];
        break;
    case DET:
    case CTR:
        if (io_)
            r = io_->LeerDET(port, d.sn, e.crudo);
        break;
    default:
        r = -1;
        break;
    }
    e.valido = r > 0;
}

void Monitor::alarmas()
{
    // Serial -> first relay-list entry with that device, built once so each
    // sensor finds its relay without walking the list.
    std::unordered_map<std::uint64_t, std::size_t> reles;
    reles.reserve(g_.lstctr.size());
    for (std::size_t j = 1; j < g_.lstctr.size(); ++j) {
        const int indice = g_.lstctr[j].indice;
        if (g_.valid(indice))
            reles.emplace(clave(g_.dispositivos[indice].sn), j);
    }

    forEachRead(g_, [&](const Dispositivo &d, const EstadoDisp &e) {
        if (isZero(d.snrele[0]) || !e.valido || d.tipo < STT || d.tipo > AVI)
            return;
        const auto found = reles.find(clave(d.snrele[0]));
        if (found == reles.end())
            return;
        const int k = d.salrele[0];
        if (k < 1 || k > 2)
            return; // a damaged output number: this sensor only
        std::int16_t &estado = g_.lstctr[found->second].estado[k - 1];
        // Hysteresis: on below the minimum, off above the maximum, held
        // between them and on either limit.
        const float v = e.lectura[0];
        if (v < d.alarma[0])
            estado |= 1;
        else if (v > d.alarma[1])
            estado = 0;
    });
    ponreles();
}

void Monitor::ponreles()
{
    for (std::size_t j = 1; j < g_.lstctr.size(); ++j) {
        const IndiceEntry &entry = g_.lstctr[j];
        if (!g_.valid(entry.indice) || !io_)
            continue;
        io_->EscribirCTR(g_.puerto, g_.dispositivos[entry.indice].sn, entry.estado[0],
                         entry.estado[1]);
        view_.repinta();
    }
}

QStringList Monitor::ponalarmas() const
{
    QStringList lines;
    forEachRead(g_, [&](const Dispositivo &d, const EstadoDisp &e) {
        switch (d.tipo) {
        case DET:
        case CTR:
            // An input word of 0 is an active input.
            for (int k = 0; k < 2; ++k)
                if (e.crudo[k] == 0 && e.valido)
                    lines << d.nombre.trimmed() + QStringLiteral(" - ") + QString::number(k + 1);
            break;
        case STT:
        case HRT:
        case AVI:
            if (d.salrele[0] != 0 && (e.lectura[0] < d.alarma[0] || e.lectura[0] > d.alarma[1]))
                lines << d.nombre.trimmed();
            break;
        default:
            break;
        }
    });
    return lines;
}

void Monitor::reinicia()
{
    g_.estados.assign(g_.dispositivos.size(), EstadoDisp{});
    reiniciaReloj();
}

void Monitor::reiniciaReloj()
{
    g_.reloj = 0;
    g_.ultimo = secondsNow();
}

QString Monitor::marca() const
{
    // One reading of the clock, so date and time agree across midnight.
    const QDateTime now = clock_.now();
    return now.date().toString(QStringLiteral("dd-MM-yyyy")) + u' ' +
        now.time().toString(QStringLiteral("HH:mm:ss"));
}

bool Monitor::due(const EstadoDisp &e) const
{
    // A due time still in the morning while the clock is in the afternoon
    // belongs to tomorrow: it waits for the clock to wrap.
    const std::int32_t c = g_.reloj;
    const std::int32_t p = e.proxima;
    return c >= p && !(c >= medioDia && p < medioDia);
}

std::int32_t Monitor::secondsNow() const
{
    return static_cast<std::int32_t>(std::lround(clock_.seconds())) % unDia;
}
