#include "registry/numtext.h"

#include <charconv>
#include <cmath>
#include <string>
#include <system_error>

namespace {

// The general form of the C++ library (locale-free) already rounds first,
// picks plain or exponent form by the rounded exponent and drops trailing
// zeros; only the program's own touches are added here.
QString general(double x, int digits)
{
    if (std::isnan(x))
        return QStringLiteral("NaN");
    if (std::isinf(x))
        return x < 0 ? QStringLiteral("-Inf") : QStringLiteral("Inf");
    if (x == 0)
        return QStringLiteral("0"); // minus zero too

    char buffer[64];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, x, std::chars_format::general, digits);
    std::string text(buffer, result.ptr);

    const std::size_t e = text.find('e');
    if (e != std::string::npos)
        text[e] = 'E';
    // "0.5" -> ".5", "-0.25" -> "-.25": no zero before the point.
    const std::size_t lead = text[0] == '-' ? 1 : 0;
    if (text.size() > lead + 1 && text[lead] == '0' && text[lead + 1] == '.')
        text.erase(lead, 1);
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

bool isBlank(QChar c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n'; }
bool isDigit(QChar c) { return c >= u'0' && c <= u'9'; }

// For a number the reader found out of range: whether it is too large (as
// opposed to too small), from the place of its first significant digit.
bool overflows(const std::string &number)
{
    const std::size_t e = number.find('e');
    const std::string mantissa = number.substr(0, e);
    long long place = 0; // decimal exponent of the first significant digit, plus one
    const std::size_t point = mantissa.find('.');
    const std::size_t whole = point == std::string::npos ? mantissa.size() : point;
    std::size_t first = mantissa.find_first_not_of("0.");
    if (first == std::string::npos)
        return false;
    place = first < whole ? static_cast<long long>(whole - first)
                          : -static_cast<long long>(first - whole - 1);
    long long exponent = 0;
    if (e != std::string::npos) {
        std::size_t k = e + 1;
        const bool minus = k < number.size() && number[k] == '-';
        if (k < number.size() && (number[k] == '-' || number[k] == '+'))
            ++k;
        for (; k < number.size() && exponent < 1000000; ++k)
            exponent = exponent * 10 + (number[k] - '0');
        if (minus)
            exponent = -exponent;
    }
    return place + exponent > 0;
}

}

QString txtsimple(float x) { return general(static_cast<double>(x), 7); }
QString txtdoble(double x) { return general(x, 15); }

QString numcoma(float x)
{
    QString text = txtsimple(x);
    const qsizetype point = text.indexOf(u'.');
    if (point >= 0)
        text[point] = u',';
    return text;
}

double valnum(const QString &typed)
{
    // Blanks count nowhere in a number: "1 5" reads 15, "- 5" reads -5.
    QString text;
    text.reserve(typed.size());
    for (const QChar c : typed)
        if (!isBlank(c))
            text += c;
    qsizetype i = 0;
    const qsizetype size = text.size();

    bool negative = false;
    if (i < size && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    // Collect the number as plain ASCII for the library reader.
    std::string number;
    int digits = 0;
    while (i < size && isDigit(text[i])) {
        number += static_cast<char>(text[i].unicode());
        ++digits;
        ++i;
    }
    if (i < size && text[i] == u'.') {
        number += '.';
        ++i;
        while (i < size && isDigit(text[i])) {
            number += static_cast<char>(text[i].unicode());
            ++digits;
            ++i;
        }
    }
    if (digits == 0)
        return 0;
    if (i < size && (text[i] == u'E' || text[i] == u'e' || text[i] == u'D' || text[i] == u'd')) {
        qsizetype j = i + 1;
        std::string exponent = "e";
        if (j < size && (text[j] == u'+' || text[j] == u'-')) {
            exponent += static_cast<char>(text[j].unicode());
            ++j;
        }
        if (j < size && isDigit(text[j])) {
            while (j < size && isDigit(text[j])) {
                exponent += static_cast<char>(text[j].unicode());
                ++j;
            }
            number += exponent;
        }
    }

    double value = 0;
    const auto result = std::from_chars(number.data(), number.data() + number.size(), value);
    if (result.ec == std::errc::result_out_of_range)
        value = overflows(number) ? HUGE_VAL : 0.0;
    return negative ? -value : value;
}

std::optional<std::int16_t> redondea16(double x)
{
    if (std::isnan(x))
        return std::nullopt;
    double r = std::floor(x);
    const double fraction = x - r;
    if (fraction > 0.5 || (fraction == 0.5 && std::fmod(r, 2.0) != 0))
        r += 1;
    if (r < -32768.0 || r > 32767.0)
        return std::nullopt;
    return static_cast<std::int16_t>(r);
}
