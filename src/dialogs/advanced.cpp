#include "dialogs/advanced.h"

#include "registry/general.h"
#include "registry/numtext.h"

#include <cfloat>
#include <cmath>

namespace {

const QString kNinguno = QStringLiteral("0000000000000000");

QString letra(int c) { return QString(QChar(u'a' + c)); }

QString fueraDeRango(const QString &campo)
{
    return QStringLiteral("El valor de ") + campo + QStringLiteral(" está fuera de rango.");
}

// The texts the program shows for values that are no number: a damaged
// file can hold them, and no field takes them back.
bool noFinito(const QString &texto)
{
    QString t = texto.toLower();
    t.remove(u' ');
    if (t.startsWith(u'-') || t.startsWith(u'+'))
        t.remove(0, 1);
    return t == QStringLiteral("nan") || t == QStringLiteral("inf");
}

// A value for a single-precision field; empty beyond its range.
std::optional<float> simple(const QString &texto)
{
    if (noFinito(texto))
        return std::nullopt;
    const double v = valnum(texto);
    if (!(std::fabs(v) <= FLT_MAX))
        return std::nullopt;
    return static_cast<float>(v);
}

// The captions of one type's slots, in slot order.
std::vector<std::pair<int, QString>> titulos(std::int16_t tipo)
{
    switch (tipo) {
    case STT:
        return {{0, QStringLiteral("Offset")},
                {1, QStringLiteral("Alarma min")},
                {2, QStringLiteral("Alarma max")}};
    case HRT:
        return {{0, QStringLiteral("Alarma min")}, {1, QStringLiteral("Alarma max")}};
    case AVI: {
        std::vector<std::pair<int, QString>> out;
        for (int c = 0; c < 4; ++c)
            out.push_back({c, QStringLiteral("Gan CH") + letra(c)});
        for (int c = 0; c < 4; ++c)
            out.push_back({c + 4, QStringLiteral("Mag CH") + letra(c)});
        out.push_back({8, QStringLiteral("Alarma min")});
        out.push_back({9, QStringLiteral("Alarma max")});
        return out;
    }
    default:
        return {};
    }
}

}

std::vector<Propiedad> propiedades(const Dispositivo &d)
{
    std::vector<Propiedad> out;
    for (const auto &[slot, titulo] : titulos(d.tipo)) {
        QString valor;
        switch (d.tipo) {
        case STT:
            valor = slot == 0 ? txtdoble(d.ajuste[0] / 10.0) : txtsimple(d.alarma[slot - 1]);
            break;
        case HRT:
            valor = txtsimple(d.alarma[slot]);
            break;
        default: // AVI
            if (slot < 4)
                valor = txtsimple(d.ganancia[slot]);
            else if (slot < 8)
                valor = d.magnitud[slot - 4].trimmed();
            else
                valor = txtsimple(d.alarma[slot - 8]);
            break;
        }
        out.push_back({slot, titulo, trimBlanks(valor)});
    }
    return out;
}

bool tieneAccion(std::int16_t tipo) { return tipo == STT || tipo == HRT || tipo == AVI; }

std::optional<QString> leePropiedades(Dispositivo &d, const std::array<QString, kSlots> &textos)
{
    if (!tieneAccion(d.tipo))
        return std::nullopt;
    // Everything is read into a copy first, so a refusal stores nothing.
    Dispositivo r = d;
    const int alarmas = d.tipo == STT ? 1 : d.tipo == HRT ? 0 : 8;
    // A text left as the window showed it keeps the stored value bit for
    // bit: the shown text has 7 digits, a stored value may need more.
    std::array<QString, kSlots> mostrados;
    for (const Propiedad &p : propiedades(d))
        mostrados[p.slot] = p.valor;
    for (const auto &[slot, titulo] : titulos(d.tipo)) {
        const bool intacto = textos[slot] == mostrados[slot];
        if (d.tipo == AVI && slot >= 4 && slot < 8) {
            if (!intacto)
                r.magnitud[slot - 4] = textos[slot];
            continue;
        }
        float *campo = d.tipo == STT && slot == 0 ? nullptr
            : d.tipo == AVI && slot < 4           ? &r.ganancia[slot]
                                                  : &r.alarma[slot - alarmas];
        if (intacto && (!campo || std::isfinite(*campo)))
            continue;
        if (d.tipo == STT && slot == 0) {
            const auto decimas = redondea16(valnum(textos[0]) * 10);
            if (!decimas)
                return fueraDeRango(titulo);
            r.ajuste[0] = *decimas;
            continue;
        }
        const auto v = simple(textos[slot]);
        if (!v)
            return fueraDeRango(titulo);
        *campo = *v;
    }
    if (r.alarma[1] < r.alarma[0])
        r.alarma[1] = r.alarma[0];
    d = r;
    return std::nullopt;
}

Periodo reglaPeriodo(const QString &texto)
{
    Periodo p;
    double v = std::fabs(valnum(texto));
    if (v > 32767) {
        p.tope = true;
        v = 32767;
    }
    p.periodo = redondea16(v).value_or(32767);
    if (p.periodo == 0)
        p.periodo = 1;
    return p;
}

QString entradaRele(const QString &nombre, const QString &impreso, int salida)
{
    return trimBlanks(nombre) + QStringLiteral(" - ") + impreso + QStringLiteral(" -") +
        QString::number(salida);
}

SeleccionRele seleccionRele(const QString &impreso, std::int16_t salida, const QStringList &reles)
{
    if (impreso == kNinguno) {
        if (salida == 0 || salida == 1)
            return {salida, false, false};
        return {0, true, false};
    }
    bool hallado = false;
    int indice = -1;
    for (int m = 0; m < reles.size(); ++m) {
        if (reles[m] != impreso)
            continue;
        hallado = true;
        if (salida == 1 || salida == 2)
            indice = 2 * m + salida + 1;
    }
    if (!hallado)
        return {0, true, true};
    if (indice < 0)
        return {0, true, false};
    return {indice, false, false};
}

std::optional<Rele> releDeEntrada(int indice, const QString &texto)
{
    if (indice < 0)
        return std::nullopt;
    if (indice <= 1)
        return Rele{Serial{}, static_cast<std::int16_t>(indice)};
    const QString cola = texto.right(19);
    Rele r;
    r.sn = hexserie(cola.left(16));
    // Not a hex digit: output 0, a pair the list never selects.
    r.salida = static_cast<std::int16_t>(cola.right(1).toInt(nullptr, 16));
    return r;
}
