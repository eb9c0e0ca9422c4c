#include "registry/cp1252.h"

#include <array>

namespace {

// 0x80..0x9F differ from Latin-1; 0 marks the five unassigned bytes, which
// decode to the control character of the same value so they round-trip.
constexpr std::array<char16_t, 32> high = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

}

namespace cp1252 {

std::string encode(const QString &text)
{
    std::string out;
    out.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u < 0x80 || (u >= 0xA0 && u <= 0xFF)) {
            out.push_back(static_cast<char>(u));
            continue;
        }
        char byte = '?';
        for (std::size_t k = 0; k < high.size(); ++k) {
            if (high[k] == u) {
                byte = static_cast<char>(0x80 + k);
                break;
            }
        }
        out.push_back(byte);
    }
    return out;
}

bool holds(const QString &text)
{
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u < 0x80 || (u >= 0xA0 && u <= 0xFF))
            continue;
        bool found = false;
        for (const char16_t h : high)
            found = found || h == u;
        if (!found)
            return false;
    }
    return true;
}

QString decode(const char *bytes, std::size_t size)
{
    QString out;
    out.reserve(static_cast<qsizetype>(size));
    for (std::size_t k = 0; k < size; ++k) {
        const auto b = static_cast<unsigned char>(bytes[k]);
        out.append(b >= 0x80 && b < 0xA0 ? QChar(high[b - 0x80]) : QChar(b));
    }
    return out;
}

}
