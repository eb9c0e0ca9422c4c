#include "dialogs/check.h"

#include "netaccess/binding.h"
#include "registry/general.h"
#include "registry/numtext.h"

namespace {

QString num(double x) { return txtdoble(x); }

}

std::optional<QString> comprobar(General &g, SondaIO *io, std::int16_t port)
{
    if (!io)
        return std::nullopt;
    Dispositivo &d = g.dispactual;
    SondaIO::Words w{};
    const QString printable = io->ConvertSerialNum(d.sn);
    std::int16_t r = 0;
    switch (d.tipo) {
    case STT:
        r = io->LeerTemperatura(port, d.sn, w);
        break;
    case HRT:
        r = io->LeerHRT(port, d.sn, w);
        break;
    case AVI:
        d.ajuste = {1, 1, 1, 1};
        io->SetupAD(port, d.sn, d.ajuste);
        r = io->LeerAD(port, d.sn, w);
        break;
    case DET:
    case CTR:
        // A relay device answers the detector reading with its two outputs.
        r = io->LeerDET(port, d.sn, w);
        break;
    default:
        return std::nullopt;
    }
    const QString head = QStringLiteral("Sensor ") + printable;
    if (r <= 0)
        return head + QStringLiteral(" no encontrado");

    QString line;
    switch (d.tipo) {
    case STT:
        line = QStringLiteral("Temperatura = ") + num(w[0] / 10.0) + QStringLiteral(" ºC");
        break;
    case HRT:
        line = QStringLiteral("Temperatura = ") + num(w[0]) + QStringLiteral(" ºC , Humedad = ") +
            num(w[1]) + QStringLiteral(" %");
        break;
    case AVI:
        line = QStringLiteral("CHa = ") + num(w[0]) + QStringLiteral(" , CHb = ") + num(w[1]) +
            QStringLiteral(" , CHc = ") + num(w[2]) + QStringLiteral(" , CHd = ") + num(w[3]);
        break;
    case DET:
        line = QStringLiteral("IN1 = ") + txtestado(w[0]) + QStringLiteral(" , IN2 = ") +
            txtestado(w[1]);
        break;
    default:
        line = QStringLiteral("RELÉ1 = ") + txtestado(w[0]) + QStringLiteral(" , RELÉ2 = ") +
            txtestado(w[1]);
        break;
    }
    return head + QStringLiteral(" encontrado\r\n") + line;
}
