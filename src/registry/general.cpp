#include "registry/general.h"

#include <QDir>
#include <algorithm>
#include <numeric>

General::General() { vacia(); }

void General::vacia()
{
    dispositivos.assign(1, Dispositivo{});
    dispositivos[0].nombre = QStringLiteral("00");
    estados.assign(1, EstadoDisp{});
    lstdet.assign(1, IndiceEntry{});
    lstctr.assign(1, IndiceEntry{});
}

int General::nuevo()
{
    if (n() >= maxDispositivos)
        return 0;
    dispositivos.push_back(dispactual);
    estados.resize(dispositivos.size());
    modificado = true;
    return n();
}

void General::modifica(int i)
{
    if (!valid(i))
        return;
    dispositivos[i] = dispactual;
    modificado = true;
}

void General::borra(int i)
{
    if (!valid(i))
        return;
    dispositivos.erase(dispositivos.begin() + i);
    if (static_cast<std::size_t>(i) < estados.size())
        estados.erase(estados.begin() + i);
    estados.resize(dispositivos.size());
    modificado = true;
}

void General::ordena()
{
    const int count = n();
    if (count < 2)
        return;
    // Keys once, then a stable sort of the positions: ascending by type text
    // and trimmed name, by character code; equal keys keep their order.
    std::vector<QString> keys(count + 1);
    for (int i = 1; i <= count; ++i)
        keys[i] = nomtipo(dispositivos[i].tipo) + trimBlanks(dispositivos[i].nombre.text());
    bool sorted = true;
    for (int i = 1; i < count && sorted; ++i)
        sorted = QString::compare(keys[i], keys[i + 1], Qt::CaseSensitive) <= 0;
    if (sorted)
        return;

    std::vector<int> order(count);
    std::iota(order.begin(), order.end(), 1);
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
        return QString::compare(keys[a], keys[b], Qt::CaseSensitive) < 0;
    });
    estados.resize(dispositivos.size());
    std::vector<Dispositivo> table(dispositivos.size());
    std::vector<EstadoDisp> blocks(dispositivos.size());
    table[0] = std::move(dispositivos[0]);
    blocks[0] = estados[0];
    for (int k = 0; k < count; ++k) {
        table[k + 1] = std::move(dispositivos[order[k]]);
        blocks[k + 1] = estados[order[k]];
    }
    dispositivos = std::move(table);
    estados = std::move(blocks);
    modificado = true;
}

void General::cogereldet()
{
    lstdet.assign(1, IndiceEntry{});
    lstctr.assign(1, IndiceEntry{});
    for (int i = 1; i <= n(); ++i) {
        const auto index = static_cast<std::int16_t>(i);
        if (dispositivos[i].tipo == DET)
            lstdet.push_back({index, {0, 0}});
        else if (dispositivos[i].tipo == CTR)
            lstctr.push_back({index, {0, 0}});
    }
}

QString General::configPath() const
{
    return QDir(appFolder).filePath(QStringLiteral("config%1.ini").arg(puerto + 1));
}

Serial hexserie(const QString &text)
{
    Serial sn{};
    if (text.size() != 16)
        return sn;
    for (int k = 0; k < 8; ++k) {
        int value = 0;
        for (int d = 0; d < 2; ++d) {
            const char16_t c = text[2 * k + d].toLower().unicode();
            int digit;
            if (c >= u'0' && c <= u'9')
                digit = c - u'0';
            else if (c >= u'a' && c <= u'f')
                digit = c - u'a' + 10;
            else
                return Serial{};
            value = value * 16 + digit;
        }
        sn[k] = static_cast<std::uint8_t>(value);
    }
    return sn;
}

namespace {
const char *const typeTexts[] = {"STT", "HRT", "AVI", "DET", "CTR"};
}

std::int16_t codtipo(const QString &text)
{
    // Only the ASCII letters of the type texts count; other letters that
    // upper-case to them are no type.
    QString upper = text;
    for (QChar &c : upper)
        if (c >= u'a' && c <= u'z')
            c = QChar(c.unicode() - 32);
    for (int k = 0; k < 5; ++k)
        if (upper == QLatin1String(typeTexts[k]))
            return static_cast<std::int16_t>(k + 1);
    return 0;
}

QString nomtipo(std::int16_t code)
{
    if (code < 1 || code > 5)
        return QStringLiteral("???");
    return QString::fromLatin1(typeTexts[code - 1]);
}

QString txtestado(std::int16_t word)
{
    return word == 0 ? QStringLiteral("1") : QStringLiteral("0");
}

QString seriehex(const Serial &sn)
{
    static const char digits[] = "0123456789ABCDEF";
    QString out;
    out.reserve(16);
    for (const auto b : sn) {
        out.append(QLatin1Char(digits[b >> 4]));
        out.append(QLatin1Char(digits[b & 0x0F]));
    }
    return out;
}

void sumatiempo(std::int32_t &acc, std::int32_t &delta)
{
    if (delta < 0)
        delta += 86400;
    acc += delta;
    if (acc >= 86400)
        acc -= 86400;
}
