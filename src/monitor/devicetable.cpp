#include "monitor/devicetable.h"

Duplicate findDuplicate(const General &g, const Dispositivo &d)
{
    // Names are told apart without regard to case.
    const QString name = d.nombre.text().toLower();
    const int n = g.n();
    for (int i = 1; i <= n; ++i) {
        if (g.dispositivos[i].sn == d.sn) {
            for (int j = i + 1; j <= n; ++j)
                if (g.dispositivos[j].nombre.text().toLower() == name)
                    return {Duplicate::Kind::SameName, j};
            return {Duplicate::Kind::SameSerial, i};
        }
        if (g.dispositivos[i].nombre.text().toLower() == name)
            return {Duplicate::Kind::SameName, i};
    }
    return {};
}

void setNewDeviceDefaults(Dispositivo &d)
{
    const bool avi = d.tipo == AVI;
    for (int k = 0; k < 4; ++k) {
        d.ajuste[k] = avi ? 1 : 0;
        d.ganancia[k] = avi ? 1.0f : 0.0f;
        d.magnitud[k] = QString();
        d.alarma[k] = 0;
    }
    d.salrele[0] = 0;
    d.snrele[0] = Serial{};
    d.periodo = 1;
}
