#include "monitor/lines.h"

#include "registry/numtext.h"

namespace {

// The masculine ordinal, as the program always wrote the unit (not U+00B0).
const QString grados = QStringLiteral(" ") + QChar(0x00BA) + QStringLiteral("C");

}

QString deviceLine(const General &g, int i, const QString &serie, bool narrow)
{
    if (!g.valid(i) || static_cast<std::size_t>(i) >= g.estados.size())
        return {};
    const Dispositivo &d = g.dispositivos[i];
    const EstadoDisp &e = g.estados[i];
    const QString &sep = g.separador;

    QString s = nomtipo(d.tipo) + sep + d.nombre.text();
    if (narrow)
        s += sep;
    s += sep + serie;
    if (!e.valido)
        return s + sep + sep + QStringLiteral("ERR");

    switch (d.tipo) {
    case STT:
        return s + sep + txtsimple(e.lectura[0]) + grados;
    case HRT:
        return s + sep + txtsimple(e.lectura[0]) + grados + sep + txtsimple(e.lectura[1]) +
            QStringLiteral(" %");
    case AVI:
        for (int k = 0; k < 4; ++k)
            s += sep + txtsimple(e.lectura[k]) + u' ' + d.magnitud[k].trimmed();
        return s;
    case DET:
    case CTR:
        return s + sep + txtestado(e.crudo[0]) + sep + txtestado(e.crudo[1]);
    default:
        return QStringLiteral("???");
    }
}

QString listHeader(const QString &sep)
{
    return QStringLiteral("Tipo") + sep + QStringLiteral("Nombre") + sep.repeated(6) +
        QStringLiteral("N. Serie") + sep.repeated(5) + QStringLiteral("Datos");
}

qsizetype posserie(const QString &linea, const QString &sep)
{
    qsizetype pos = 3 + sep.size() + 16 + sep.size();
    if (!sep.isEmpty() && linea.mid(pos, sep.size()) == sep)
        pos += sep.size();
    return pos;
}

QString serielinea(const QString &linea, const QString &sep)
{
    return linea.mid(posserie(linea, sep), 16);
}
