#include "archive/valuecode.h"

#include "viewer/capturelines.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr int mostExponent = capturelines::mostCodeExponent;
constexpr std::int64_t mostMantissa = capturelines::mostCodeMantissa;
constexpr const auto &powers = capturelines::powersOfTen;

} // namespace

double codeValue(std::int32_t code)
{
    const int e = (code & 63) - 32;
    const double m = static_cast<double>(code >> 6);
    return e >= 0 ? m * powers[static_cast<std::size_t>(e)]
                  : m / powers[static_cast<std::size_t>(-e)];
}

// The shortest decimal that reads back as v, when it fits: a double is
// wide enough that at most one decimal of eight digits or fewer reads back
// as it, so the widest mantissa that fits finds it (with trailing zeros,
// taken off after) without writing the value out as text.
std::optional<std::int32_t> valueCode(double v)
{
    if (!std::isfinite(v) || (v == 0 && std::signbit(v)))
        return std::nullopt;
    if (v == 0)
        return 32;
    const double a = std::fabs(v);
    // |v| in units of 10^e, not yet rounded.
    const auto scaled = [a](int e) {
        return e >= 0 ? a / powers[static_cast<std::size_t>(e)]
                      : a * powers[static_cast<std::size_t>(-e)];
    };
    const auto fits = [&](int e) { return scaled(e) < static_cast<double>(mostMantissa) + 0.5; };
    // 10^e near |v| / 2^25 to start with: 0.30103 ~ log10(2).
    int e = std::clamp(static_cast<int>(std::floor((std::ilogb(a) - 25) * 0.30103)), -mostExponent,
                       mostExponent + 1);
    while (e <= mostExponent && !fits(e))
        ++e;
    if (e > mostExponent)
        return std::nullopt;
    while (e > -mostExponent && fits(e - 1))
        --e;
    std::int64_t m = std::llround(scaled(e));
    if (m == 0 || m > mostMantissa)
        return std::nullopt;
    const bool negative = v < 0;
    // The round trip settles whether a decimal that short reads back as v.
    if (codeValue(capturelines::decimalCode(negative ? -m : m, e)) != v)
        return std::nullopt;
    const std::int32_t code = capturelines::shortestCode(negative ? -m : m, e);
    if (code == capturelines::unknownCode)
        return std::nullopt;
    return code;
}

bool lineCodes(std::span<const double> values, std::span<const std::int32_t> known,
               std::vector<std::int32_t> &codes)
{
    codes.assign(values.size(), 0);
    bool whole = false;
    for (std::size_t k = 0; k < values.size(); ++k) {
        if (std::isnan(values[k]))
            continue;
        if (k < known.size() && known[k] != capturelines::unknownCode)
            codes[k] = known[k];
        else if (const auto code = valueCode(values[k]))
            codes[k] = *code;
        else
            whole = true;
    }
    return whole;
}
