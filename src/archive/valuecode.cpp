#include "archive/valuecode.h"

#include <array>
#include <charconv>
#include <cmath>

namespace {

constexpr int mostExponent = 22; // 10^22 is the largest exact power of ten
constexpr std::int64_t mostMantissa = (std::int64_t{1} << 25) - 1;

constexpr std::array<double, 23> powers{1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                        1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                        1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

} // namespace

double codeValue(std::int32_t code)
{
    const int e = (code & 63) - 32;
    const double m = static_cast<double>(code >> 6);
    return e >= 0 ? m * powers[static_cast<std::size_t>(e)]
                  : m / powers[static_cast<std::size_t>(-e)];
}

std::optional<std::int32_t> valueCode(double v)
{
    if (!std::isfinite(v) || (v == 0 && std::signbit(v)))
        return std::nullopt;
    if (v == 0)
        return 32;
    char text[40];
    const auto r = std::to_chars(text, text + sizeof text, v, std::chars_format::scientific);
    // "-d.ddde+XX": the digits make the mantissa, the exponent moves past them.
    std::int64_t m = 0;
    int digits = 0;
    const char *p = text;
    const bool negative = *p == '-';
    if (negative)
        ++p;
    for (; p < r.ptr && *p != 'e'; ++p) {
        if (*p == '.')
            continue;
        if (++digits > 9)
            return std::nullopt;
        m = m * 10 + (*p - '0');
    }
    int exponent = 0;
    std::from_chars(p + (p[1] == '+' ? 2 : 1), r.ptr, exponent);
    int e = exponent - (digits - 1);
    while (e < mostExponent && m % 10 == 0) {
        m /= 10;
        ++e;
    }
    if (m > mostMantissa || e < -mostExponent || e > mostExponent)
        return std::nullopt;
    const auto code = static_cast<std::int32_t>((negative ? -m : m) * 64 + e + 32);
    // The round trip settles it, whatever the text routines did.
    if (codeValue(code) != v)
        return std::nullopt;
    return code;
}

bool lineCodes(std::span<const double> values, std::vector<std::int32_t> &codes)
{
    codes.assign(values.size(), 0);
    bool whole = false;
    for (std::size_t k = 0; k < values.size(); ++k) {
        if (std::isnan(values[k]))
            continue;
        if (const auto code = valueCode(values[k]))
            codes[k] = *code;
        else
            whole = true;
    }
    return whole;
}
